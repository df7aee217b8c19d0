// Real devices through libusb-1.0 (internal to the layer).
#pragma once

#include "kdusb/KdUsb.h"

namespace kdusb::detail {

// Appends the attached devices with these ids in libusb's enumeration
// order. A context that cannot be made (no USB file system) gives none.
Result libusbFindDevices(std::uint16_t vendorId, std::uint16_t productId,
                         std::vector<Device*>& out);

}  // namespace kdusb::detail
