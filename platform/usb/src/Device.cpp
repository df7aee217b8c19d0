// The device handle shared by both backends, the in-process device
// registry and the find call that chooses between the backends.
#include "kdusb/KdUsb.h"

#include "LibusbBackend.h"

#include <algorithm>
#include <mutex>

namespace kdusb {

void Device::retain() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }

void Device::release() noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    close();
    delete this;
}

Result Device::open() {
    if (open_) return kSuccess;
    bool hasInterface = false;
    std::uint32_t location = 0;
    const Result r = doOpen(hasInterface, location);
    if (r != kSuccess) return r;
    open_ = true;
    interfaceOpen_ = hasInterface;
    locationId_ = hasInterface ? location : 0;
    return kSuccess;
}

void Device::close() {
    if (!open_) return;
    doClose();
    open_ = false;
    interfaceOpen_ = false;
    locationId_ = 0;
}

Result Device::checkTransfer(PipeRef pipe, const void* buffer, std::size_t size,
                             std::uint32_t completionTimeoutMs) const {
    if (!open_ || !interfaceOpen_) return kNotOpen;
    // A time-out of 0 would mean "wait for ever" to libusb.
    if (pipe == 0 || completionTimeoutMs == 0 || size > kMaxTransferSize) return kBadArgument;
    if (buffer == nullptr && size != 0) return kBadArgument;
    return kSuccess;
}

Result Device::readPipe(PipeRef pipe, void* buffer, std::size_t& size,
                        std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) {
    const std::size_t asked = size;
    size = 0;
    if (const Result r = checkTransfer(pipe, buffer, asked, completionTimeoutMs); r != kSuccess)
        return r;
    std::size_t moved = asked;
    const Result r = doRead(pipe, buffer, moved, noDataTimeoutMs, completionTimeoutMs);
    size = std::min(moved, asked);
    return r;
}

Result Device::writePipe(PipeRef pipe, const void* buffer, std::size_t& size,
                         std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) {
    const std::size_t given = size;
    size = 0;
    if (const Result r = checkTransfer(pipe, buffer, given, completionTimeoutMs); r != kSuccess)
        return r;
    std::size_t moved = given;
    const Result r = doWrite(pipe, buffer, moved, noDataTimeoutMs, completionTimeoutMs);
    size = std::min(moved, given);
    return r;
}

Result Device::clearPipeStallBothEnds(PipeRef pipe) {
    if (!open_ || !interfaceOpen_) return kNotOpen;
    if (pipe == 0) return kBadArgument;
    return doClearStall(pipe);
}

namespace {

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

std::vector<std::shared_ptr<InProcessDevice>>& registry() {
    static std::vector<std::shared_ptr<InProcessDevice>> devices;
    return devices;
}

// A handle on an in-process device: the layer's checks, then the device.
class InProcessHandle final : public Device {
public:
    explicit InProcessHandle(std::shared_ptr<InProcessDevice> device)
        : device_(std::move(device)) {}

    std::uint16_t vendorId() const override { return device_->vendorId(); }
    std::uint16_t productId() const override { return device_->productId(); }

private:
    Result doOpen(bool& interfaceOpened, std::uint32_t& locationId) override {
        if (!device_->attached()) return kNoDevice;
        const Result r = device_->open(interfaceOpened);
        if (r == kSuccess) locationId = device_->locationId();
        return r;
    }
    void doClose() override { device_->close(); }
    Result doRead(PipeRef pipe, void* buffer, std::size_t& size, std::uint32_t noData,
                  std::uint32_t completion) override {
        if (!device_->attached()) {
            size = 0;
            return kNoDevice;
        }
        return device_->bulkRead(pipe, buffer, size, noData, completion);
    }
    Result doWrite(PipeRef pipe, const void* buffer, std::size_t& size, std::uint32_t noData,
                   std::uint32_t completion) override {
        if (!device_->attached()) {
            size = 0;
            return kNoDevice;
        }
        return device_->bulkWrite(pipe, buffer, size, noData, completion);
    }
    Result doClearStall(PipeRef pipe) override {
        if (!device_->attached()) return kNoDevice;
        return device_->clearStall(pipe);
    }

    std::shared_ptr<InProcessDevice> device_;
};

}  // namespace

void registerInProcessDevice(std::shared_ptr<InProcessDevice> device) {
    if (!device) return;
    std::lock_guard lock(registryMutex());
    registry().push_back(std::move(device));
}

void unregisterInProcessDevice(const std::shared_ptr<InProcessDevice>& device) {
    std::lock_guard lock(registryMutex());
    auto& devices = registry();
    if (!device) {
        devices.clear();
        return;
    }
    std::erase(devices, device);
}

std::vector<std::shared_ptr<InProcessDevice>> registeredInProcessDevices() {
    std::lock_guard lock(registryMutex());
    return registry();
}

Result findDevices(std::uint16_t vendorId, std::uint16_t productId, std::vector<Device*>& out) {
    std::vector<std::shared_ptr<InProcessDevice>> inProcess;
    if (inProcessDevices(inProcess)) {
        for (auto& d : inProcess) {
            if (d && d->attached() && d->vendorId() == vendorId && d->productId() == productId)
                out.push_back(new InProcessHandle(d));
        }
        return kSuccess;
    }
    return detail::libusbFindDevices(vendorId, productId, out);
}

}  // namespace kdusb
