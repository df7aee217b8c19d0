// Spread tables of the area-averaging and moire-reducing resolution changes.
#pragma once

#include <cstdint>

// Fills table[0..m) with the number of output units (pixels or lines) that
// complete at each of m source units when m units become n. The entries
// always sum to n (0 when n <= 0); a non-zero entry marks a source unit at
// which an output unit is closed.
void MakeSpreadCountTable(uint32_t* table, int32_t n, int32_t m);
