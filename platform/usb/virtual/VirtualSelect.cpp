// Chooses between in-process devices and real ones. This first version
// offers only devices a test registered; setting KD_VIRTUAL_SCANNER (to
// anything non-empty) also selects in-process devices, so that real
// hardware stays out of reach even when nothing is registered.
#include "kdusb/KdUsb.h"

#include <cstdlib>

namespace kdusb {

bool inProcessDevices(std::vector<std::shared_ptr<InProcessDevice>>& out) {
    out = registeredInProcessDevices();
    const char* selected = std::getenv("KD_VIRTUAL_SCANNER");
    return !out.empty() || (selected != nullptr && *selected != '\0');
}

}  // namespace kdusb
