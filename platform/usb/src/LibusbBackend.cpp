#include "LibusbBackend.h"

#include <libusb.h>

#include <climits>
#include <mutex>

namespace kdusb {

Result resultFromLibusb(int error) {
    switch (error) {
    case LIBUSB_SUCCESS: return kSuccess;
    case LIBUSB_ERROR_NO_DEVICE: return kNoDevice;
    case LIBUSB_ERROR_NOT_FOUND: return kNotFound;
    case LIBUSB_ERROR_BUSY: return kBusy;
    case LIBUSB_ERROR_IO: return kIOError;
    case LIBUSB_ERROR_PIPE: return kPipeStalled;
    case LIBUSB_ERROR_TIMEOUT: return kTransactionTimeout;
    default: return error > 0 ? kSuccess : kGeneralError;
    }
}

namespace detail {
namespace {

// One context for the whole process, made at the first real enumeration
// and kept until exit (devices may outlive any caller's scope).
libusb_context* context() {
    static libusb_context* ctx = [] {
        libusb_context* c = nullptr;
        return libusb_init(&c) == LIBUSB_SUCCESS ? c : nullptr;
    }();
    return ctx;
}

class LibusbDevice final : public Device {
public:
    LibusbDevice(libusb_device* device, std::uint16_t vendor, std::uint16_t product)
        : device_(libusb_ref_device(device)), vendor_(vendor), product_(product) {}
    ~LibusbDevice() override { libusb_unref_device(device_); }

    std::uint16_t vendorId() const override { return vendor_; }
    std::uint16_t productId() const override { return product_; }

private:
    Result doOpen(bool& interfaceOpened, std::uint32_t& locationId) override {
        libusb_device_handle* handle = nullptr;
        if (int e = libusb_open(device_, &handle); e != 0) return resultFromLibusb(e);
        libusb_set_auto_detach_kernel_driver(handle, 1);

        libusb_config_descriptor* config = nullptr;
        if (int e = libusb_get_active_config_descriptor(device_, &config); e != 0) {
            libusb_close(handle);
            return resultFromLibusb(e);
        }
        endpoints_.clear();
        int number = -1;
        if (config->bNumInterfaces > 0) {
            const libusb_interface& first = config->interface[0];
            for (int a = 0; a < first.num_altsetting; ++a) {
                const libusb_interface_descriptor& alt = first.altsetting[a];
                if (alt.bAlternateSetting != 0) continue;
                number = alt.bInterfaceNumber;
                for (int e = 0; e < alt.bNumEndpoints; ++e)
                    endpoints_.push_back(alt.endpoint[e].bEndpointAddress);
                break;
            }
        }
        libusb_free_config_descriptor(config);

        interfaceOpened = false;
        if (number >= 0) {
            if (int e = libusb_claim_interface(handle, number); e != 0) {
                libusb_close(handle);
                return resultFromLibusb(e);
            }
            interfaceOpened = true;
            interface_ = number;
            locationId = location();
        }
        handle_ = handle;
        return kSuccess;
    }

    void doClose() override {
        if (handle_ == nullptr) return;
        if (interface_ >= 0) libusb_release_interface(handle_, interface_);
        libusb_close(handle_);
        handle_ = nullptr;
        interface_ = -1;
        endpoints_.clear();
    }

    // Pipe n is the n-th endpoint of the interface; its direction must fit.
    bool endpoint(PipeRef pipe, bool in, unsigned char& address) const {
        if (pipe == 0 || pipe > endpoints_.size()) return false;
        address = endpoints_[pipe - 1];
        return ((address & LIBUSB_ENDPOINT_IN) != 0) == in;
    }

    Result transfer(PipeRef pipe, bool in, unsigned char* buffer, std::size_t& size,
                    std::uint32_t completionTimeoutMs) {
        unsigned char address = 0;
        if (!endpoint(pipe, in, address) || size > static_cast<std::size_t>(INT_MAX)) {
            size = 0;
            return kBadArgument;
        }
        int moved = 0;
        const int e = libusb_bulk_transfer(handle_, address, buffer, static_cast<int>(size), &moved,
                                           completionTimeoutMs);
        size = moved > 0 ? static_cast<std::size_t>(moved) : 0;
        return resultFromLibusb(e);
    }

    Result doRead(PipeRef pipe, void* buffer, std::size_t& size, std::uint32_t,
                  std::uint32_t completion) override {
        return transfer(pipe, true, static_cast<unsigned char*>(buffer), size, completion);
    }
    Result doWrite(PipeRef pipe, const void* buffer, std::size_t& size, std::uint32_t,
                   std::uint32_t completion) override {
        // libusb takes a non-const buffer for both directions; it only reads it here.
        return transfer(pipe, false,
                        const_cast<unsigned char*>(static_cast<const unsigned char*>(buffer)),
                        size, completion);
    }
    Result doClearStall(PipeRef pipe) override {
        if (pipe == 0 || pipe > endpoints_.size()) return kBadArgument;
        // CLEAR_FEATURE(ENDPOINT_HALT) on the device and a reset of the
        // host side's state of the endpoint.
        return resultFromLibusb(libusb_clear_halt(handle_, endpoints_[pipe - 1]));
    }

    std::uint32_t location() const {
        std::uint32_t id = static_cast<std::uint32_t>(libusb_get_bus_number(device_)) << 24;
        std::uint8_t ports[7] = {};
        const int n = libusb_get_port_numbers(device_, ports, sizeof ports);
        for (int i = 0, shift = 20; i < n && shift >= 0; ++i, shift -= 4)
            id |= static_cast<std::uint32_t>(ports[i] & 0x0F) << shift;
        return id;
    }

    libusb_device* device_;
    libusb_device_handle* handle_ = nullptr;
    int interface_ = -1;
    std::vector<unsigned char> endpoints_;
    std::uint16_t vendor_;
    std::uint16_t product_;
};

}  // namespace

Result libusbFindDevices(std::uint16_t vendorId, std::uint16_t productId,
                         std::vector<Device*>& out) {
    libusb_context* ctx = context();
    if (ctx == nullptr) return kSuccess;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) return kSuccess;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
        if (desc.idVendor == vendorId && desc.idProduct == productId)
            out.push_back(new LibusbDevice(list[i], vendorId, productId));
    }
    libusb_free_device_list(list, 1);
    return kSuccess;
}

}  // namespace detail
}  // namespace kdusb
