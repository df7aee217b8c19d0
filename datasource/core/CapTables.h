// The descriptor tables of the data source's capabilities: the general
// table every data source of this design offers, and this scanner's table
// merged over it.
#pragma once

#include "CapPool.h"

#include <memory>

extern const SMakeCapDesc sGeneralCapDesc[];
extern const std::size_t kGeneralCapCount; // 26
extern const SMakeCapDesc sKdDSCapDesc[];
extern const std::size_t kKdDSCapCount; // 101

// The data source's pool: the general table, with this scanner's table
// merged over it (its rows replace equal ids). Null when memory runs out.
std::unique_ptr<CCapPool> MakeKdCapPool();
