// A scripted in-process USB device for tests: it records every transfer
// and clear, answers reads from a queue of canned replies and fails the
// transfers a test asks it to (stall, time-out, short reply, disconnect).
#pragma once

#include "kdusb/KdUsb.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace kdusb::testing {

using Bytes = std::vector<std::uint8_t>;

class ScriptedDevice final : public InProcessDevice {
public:
    struct Event {
        enum Kind { Open, Close, Write, Read, ClearStall };
        Kind kind;
        PipeRef pipe = 0;
        Bytes bytes;               // Write: what arrived; Read: what was given
        std::size_t asked = 0;     // Read: the size asked for
        std::uint32_t noDataTimeoutMs = 0;
        std::uint32_t completionTimeoutMs = 0;
        Result result = kSuccess;  // what the transfer answered
    };

    ScriptedDevice(std::uint16_t vendor, std::uint16_t product,
                   std::uint32_t location = 0x14200000);

    // The next bulk read gives these bytes (cut to the size asked for) and
    // this result. A read with nothing queued times out with no data.
    void queueRead(Bytes bytes, Result result = kSuccess);
    // A 4-byte big-endian status word.
    void queueStatus(std::uint32_t status);
    // The next write fails with this result after moving `moved` bytes.
    void failNextWrite(Result result, std::size_t moved = 0);
    // The next open fails with this result.
    void failNextOpen(Result result);

    void setAttached(bool attached);
    void setOffersInterface(bool offers);

    std::vector<Event> events() const;
    // The bytes of every successful write, in order.
    std::vector<Bytes> writes() const;
    std::size_t pendingReads() const;
    bool isOpen() const;
    void clearLog();

    std::uint16_t vendorId() const override { return vendor_; }
    std::uint16_t productId() const override { return product_; }
    bool attached() const override;
    Result open(bool& interfaceOpened) override;
    void close() override;
    std::uint32_t locationId() const override { return location_; }
    Result bulkRead(PipeRef pipe, void* buffer, std::size_t& size, std::uint32_t noDataTimeoutMs,
                    std::uint32_t completionTimeoutMs) override;
    Result bulkWrite(PipeRef pipe, const void* buffer, std::size_t& size,
                     std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) override;
    Result clearStall(PipeRef pipe) override;

private:
    struct Reply {
        Bytes bytes;
        Result result;
    };
    struct WriteFault {
        Result result;
        std::size_t moved;
    };

    const std::uint16_t vendor_;
    const std::uint16_t product_;
    const std::uint32_t location_;
    mutable std::mutex mutex_;
    bool attached_ = true;
    bool offersInterface_ = true;
    bool open_ = false;
    Result openFault_ = kSuccess;
    std::deque<Reply> reads_;
    std::deque<WriteFault> writeFaults_;
    std::vector<Event> events_;
};

}  // namespace kdusb::testing
