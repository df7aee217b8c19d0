// USB access for the scanner device layer.
//
// A small, toolkit-free layer: find devices by vendor and product id, open
// a device with its first interface, move bytes over bulk pipes with
// time-outs and clear stalled pipes. Real devices come from libusb-1.0;
// devices made inside the process (a test's scripted device, the virtual
// scanner) are offered through the same calls, so nothing above this layer
// knows which kind it talks to. While in-process devices are selected,
// libusb is never initialised and no real device is offered.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kdusb {

// Result codes of the layer. The values are those the device layer's
// DecodeIOResult table maps to its error classes, so the table applies
// unchanged whatever backend produced the code.
using Result = std::uint32_t;
inline constexpr Result kSuccess = 0;
inline constexpr Result kGeneralError = 0xE00002BC;   // anything not listed below
inline constexpr Result kBadArgument = 0xE00002C2;   // refused before any transfer
inline constexpr Result kNoDevice = 0xE00002C0;      // the device went away
inline constexpr Result kIOError = 0xE00002CA;
inline constexpr Result kNotOpen = 0xE00002CD;       // transfer on a device that is not open
inline constexpr Result kBusy = 0xE00002D5;          // another program holds the device
inline constexpr Result kNoPower = 0xE00002E3;
inline constexpr Result kNotResponding = 0xE00002ED;
inline constexpr Result kNotFound = 0xE00002F0;
inline constexpr Result kPipeStalled = 0xE000404F;
inline constexpr Result kTransactionTimeout = 0xE0004051;

// The largest byte count one bulk transfer takes; larger ones are refused
// with kBadArgument before anything moves.
inline constexpr std::size_t kMaxTransferSize = 0x7FFFFFFF;

// Pipe references: pipe n is the n-th endpoint of the open interface
// (pipe 0 would be the control pipe and is not a bulk pipe).
using PipeRef = std::uint8_t;

// A device made inside the process. Implementations answer from the
// calling thread; the layer serialises nothing on their behalf.
class InProcessDevice {
public:
    virtual ~InProcessDevice() = default;

    virtual std::uint16_t vendorId() const = 0;
    virtual std::uint16_t productId() const = 0;
    // Whether enumeration offers the device now (false: "unplugged").
    virtual bool attached() const { return true; }

    // Opens the device and its first interface. Returns kSuccess or a
    // result code; interfaceOpened tells whether an interface exists (a
    // device without one opens without pipes).
    virtual Result open(bool& interfaceOpened) = 0;
    virtual void close() = 0;
    virtual std::uint32_t locationId() const = 0;

    // size: in, the bytes asked for (read) or given (write); out, the bytes
    // moved, also when the transfer failed part way (a time-out after some
    // bytes). Time-outs are in milliseconds and never 0.
    virtual Result bulkRead(PipeRef pipe, void* buffer, std::size_t& size,
                            std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) = 0;
    virtual Result bulkWrite(PipeRef pipe, const void* buffer, std::size_t& size,
                             std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) = 0;
    // Clears a stall on the host side and on the device side of the pipe.
    virtual Result clearStall(PipeRef pipe) = 0;
};

// Test-only: offer an in-process device to every later find call (and so
// select in-process devices). Registration order is enumeration order.
void registerInProcessDevice(std::shared_ptr<InProcessDevice> device);
// Test-only: withdraw a registered device (a null pointer withdraws all).
void unregisterInProcessDevice(const std::shared_ptr<InProcessDevice>& device);
// The devices registered now, in registration order.
std::vector<std::shared_ptr<InProcessDevice>> registeredInProcessDevices();

// Selection: true when in-process devices are selected; out then holds the
// devices to offer (possibly none). Implemented beside the virtual scanner.
bool inProcessDevices(std::vector<std::shared_ptr<InProcessDevice>>& out);

// One attached device, reference counted by hand so a pointer to it can
// travel inside plain device records. Every pointer handed out by
// findDevices carries one reference; retain adds one, release drops one
// and the last release closes and frees the device.
class Device {
public:
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    void retain() noexcept;
    void release() noexcept;

    virtual std::uint16_t vendorId() const = 0;
    virtual std::uint16_t productId() const = 0;

    // Opens the device (a kernel driver is detached) and claims its first
    // interface at alternate setting 0.
    Result open();
    // Closes the interface and the device; harmless when not open.
    void close();
    bool isOpen() const { return open_; }
    bool interfaceOpen() const { return interfaceOpen_; }
    // Location of the open interface: bus number in the top byte, then the
    // port path, one nibble per port. 0 when not open.
    std::uint32_t locationId() const { return locationId_; }

    // Bulk transfers. size: in, bytes asked for or given; out, bytes moved.
    // A size above kMaxTransferSize or a time-out of 0 is refused.
    Result readPipe(PipeRef pipe, void* buffer, std::size_t& size, std::uint32_t noDataTimeoutMs,
                    std::uint32_t completionTimeoutMs);
    Result writePipe(PipeRef pipe, const void* buffer, std::size_t& size,
                     std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs);
    Result clearPipeStallBothEnds(PipeRef pipe);

protected:
    Device() = default;
    virtual ~Device() = default;

    virtual Result doOpen(bool& interfaceOpened, std::uint32_t& locationId) = 0;
    virtual void doClose() = 0;
    virtual Result doRead(PipeRef pipe, void* buffer, std::size_t& size,
                          std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) = 0;
    virtual Result doWrite(PipeRef pipe, const void* buffer, std::size_t& size,
                           std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) = 0;
    virtual Result doClearStall(PipeRef pipe) = 0;

private:
    Result checkTransfer(PipeRef pipe, const void* buffer, std::size_t size,
                         std::uint32_t completionTimeoutMs) const;

    std::atomic<std::uint32_t> refs_{1};
    bool open_ = false;
    bool interfaceOpen_ = false;
    std::uint32_t locationId_ = 0;
};

// Finds the attached devices with these ids, in enumeration order, and
// appends them to out (each with one reference for the caller). Returns
// kSuccess also when none matches; a failure of enumeration itself (no USB
// file system, no permission to list) gives an empty answer, not an error.
Result findDevices(std::uint16_t vendorId, std::uint16_t productId, std::vector<Device*>& out);

// Maps a libusb error number to the layer's result code.
Result resultFromLibusb(int libusbError);

}  // namespace kdusb
