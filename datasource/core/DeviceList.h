// The scanners the data source drives: the vendor and product ids its
// bundle's Info.plist lists under "usb" / "IOUSBDevice", each entry a
// dictionary of hexadecimal strings "vendor" and "product".
#pragma once

#include "foundation/Value.h"

#include <cstdint>
#include <vector>

struct SKdDeviceId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// The entries of an Info dictionary in order; entries whose ids are not
// hexadecimal numbers of 16 bits are skipped. Empty without the list.
std::vector<SKdDeviceId> KdDeviceIdsFromInfo(const kdf::Dictionary& info);
// The list of the bundle that holds this code (the data source's own).
std::vector<SKdDeviceId> KdBundleDeviceIds();
