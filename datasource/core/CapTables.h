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

// Whether the container's current value is one the capability may hold:
// what its container cannot tell (a one-value takes any item) checked
// against the capability's own domain. Booleans are 0 or 1, floats finite,
// the transfer count -1 or 1 to 32767, the edge emphasis level 1 to 9, the
// gamma switch 0 or 1 with its channel bits 0 to 255, gammas 0.2 to 5;
// enumerations and ranges hold only what they list or span. Capabilities
// without a domain of their own accept any value of their item type.
bool CapValueAllowed(TW_UINT16 cap, const CCapability& container);
