// Chooses between in-process devices and real ones: devices a test
// registered, and the virtual KD-720 when KD_VIRTUAL_SCANNER or its settings
// file selects it. While either is present, real hardware stays out of reach.
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <cstdio>
#include <mutex>

namespace kdvirtual {

namespace {

struct Selected {
    std::mutex mutex;
    std::string source;
    bool valid = false;
    std::vector<std::shared_ptr<VirtualKd720>> devices;
    std::string error;
};

Selected& selected() {
    static Selected s;
    return s;
}

// Makes the scanners of the current selection (kept while the selection's
// text stays the same, so their state lasts from one search to the next).
// False when nothing selects the virtual scanner.
bool refresh(std::vector<std::shared_ptr<VirtualKd720>>& out) {
    const std::optional<Selection> sel = selectionFromEnvironment();
    Selected& s = selected();
    std::lock_guard lock(s.mutex);
    if (!sel) {
        s.valid = false;
        s.source.clear();
        s.devices.clear();
        s.error.clear();
        return false;
    }
    if (!s.valid || s.source != sel->source) {
        s.valid = true;
        s.source = sel->source;
        s.devices.clear();
        s.error = sel->error;
        if (sel->config) {
            for (int i = 0; i < sel->config->devices; ++i) {
                std::string error;
                auto d = std::make_shared<VirtualKd720>(*sel->config, i, error);
                if (!error.empty()) {
                    s.error = "virtual scanner pages refused: " + error;
                    s.devices.clear();
                    break;
                }
                s.devices.push_back(std::move(d));
            }
        }
        if (!s.error.empty()) std::fprintf(stderr, "kd720: %s\n", s.error.c_str());
    }
    out = s.devices;
    return true;
}

} // namespace

std::vector<std::shared_ptr<VirtualKd720>> selectedVirtualScanners() {
    std::vector<std::shared_ptr<VirtualKd720>> out;
    refresh(out);
    return out;
}

std::string selectionError() {
    std::vector<std::shared_ptr<VirtualKd720>> ignored;
    refresh(ignored);
    Selected& s = selected();
    std::lock_guard lock(s.mutex);
    return s.error;
}

} // namespace kdvirtual

namespace kdusb {

bool inProcessDevices(std::vector<std::shared_ptr<InProcessDevice>>& out) {
    out = registeredInProcessDevices();
    std::vector<std::shared_ptr<kdvirtual::VirtualKd720>> virtuals;
    const bool chosen = kdvirtual::refresh(virtuals);
    out.insert(out.end(), virtuals.begin(), virtuals.end());
    return chosen || !out.empty();
}

}  // namespace kdusb
