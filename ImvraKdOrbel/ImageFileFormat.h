// The 52-byte little-endian image record of the debug files, and the raw
// ".tvk" writer shared by CImgFile and the record logger.
#pragma once

#include "CImg.h"

#include <cstdint>
#include <cstdio>

namespace Tvk::Imvra {

// The record as files hold it: the size word 52, the pointer as 0, then the
// eleven fields from lXpos to lYResolution.
void EncodeImageRecord(const tagIMAGEINFO& info, uint8_t out[52]);
// Takes lXpos to lYResolution from a file record; size and pointer untouched.
void DecodeImageRecord(const uint8_t in[52], tagIMAGEINFO& info);

// Writes the record and the image's buffer to f. False when the image has no
// record size or no buffer, or a write fails. f stays open.
bool WriteTvk(std::FILE* f, const tagIMAGEINFO& info);

} // namespace Tvk::Imvra
