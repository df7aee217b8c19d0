#include "ScriptedDevice.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kdusb::testing {

namespace {

ScriptedDevice::Event makeEvent(ScriptedDevice::Event::Kind kind, PipeRef pipe = 0) {
    ScriptedDevice::Event event{};
    event.kind = kind;
    event.pipe = pipe;
    return event;
}

}  // namespace

ScriptedDevice::ScriptedDevice(std::uint16_t vendor, std::uint16_t product, std::uint32_t location)
    : vendor_(vendor), product_(product), location_(location) {}

void ScriptedDevice::queueRead(Bytes bytes, Result result) {
    std::lock_guard lock(mutex_);
    reads_.push_back({std::move(bytes), result});
}

void ScriptedDevice::queueStatus(std::uint32_t status) {
    queueRead({static_cast<std::uint8_t>(status >> 24), static_cast<std::uint8_t>(status >> 16),
               static_cast<std::uint8_t>(status >> 8), static_cast<std::uint8_t>(status)});
}

void ScriptedDevice::failNextWrite(Result result, std::size_t moved) {
    std::lock_guard lock(mutex_);
    writeFaults_.push_back({result, moved});
}

void ScriptedDevice::failNextOpen(Result result) {
    std::lock_guard lock(mutex_);
    openFault_ = result;
}

void ScriptedDevice::setAttached(bool attached) {
    std::lock_guard lock(mutex_);
    attached_ = attached;
}

void ScriptedDevice::setOffersInterface(bool offers) {
    std::lock_guard lock(mutex_);
    offersInterface_ = offers;
}

std::vector<ScriptedDevice::Event> ScriptedDevice::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<Bytes> ScriptedDevice::writes() const {
    std::lock_guard lock(mutex_);
    std::vector<Bytes> out;
    for (const Event& e : events_)
        if (e.kind == Event::Write && e.result == kSuccess) out.push_back(e.bytes);
    return out;
}

std::size_t ScriptedDevice::pendingReads() const {
    std::lock_guard lock(mutex_);
    return reads_.size();
}

bool ScriptedDevice::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void ScriptedDevice::clearLog() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

bool ScriptedDevice::attached() const {
    std::lock_guard lock(mutex_);
    return attached_;
}

Result ScriptedDevice::open(bool& interfaceOpened) {
    std::lock_guard lock(mutex_);
    if (openFault_ != kSuccess) return std::exchange(openFault_, kSuccess);
    if (open_) return kBusy;
    open_ = true;
    interfaceOpened = offersInterface_;
    events_.push_back(makeEvent(Event::Open));
    return kSuccess;
}

void ScriptedDevice::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
    events_.push_back(makeEvent(Event::Close));
}

Result ScriptedDevice::bulkRead(PipeRef pipe, void* buffer, std::size_t& size,
                                std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) {
    std::lock_guard lock(mutex_);
    Event event{Event::Read, pipe, {}, size, noDataTimeoutMs, completionTimeoutMs};
    Result result = kTransactionTimeout;
    std::size_t moved = 0;
    if (!reads_.empty()) {
        Reply reply = std::move(reads_.front());
        reads_.pop_front();
        moved = std::min(size, reply.bytes.size());
        if (moved != 0) std::memcpy(buffer, reply.bytes.data(), moved);
        event.bytes.assign(reply.bytes.begin(), reply.bytes.begin() + moved);
        result = reply.result;
    }
    size = moved;
    event.result = result;
    events_.push_back(std::move(event));
    return result;
}

Result ScriptedDevice::bulkWrite(PipeRef pipe, const void* buffer, std::size_t& size,
                                 std::uint32_t noDataTimeoutMs, std::uint32_t completionTimeoutMs) {
    std::lock_guard lock(mutex_);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    Result result = kSuccess;
    if (!writeFaults_.empty()) {
        result = writeFaults_.front().result;
        size = std::min(size, writeFaults_.front().moved);
        writeFaults_.pop_front();
    }
    events_.push_back({Event::Write, pipe, Bytes(bytes, bytes + size), size, noDataTimeoutMs,
                       completionTimeoutMs, result});
    return result;
}

Result ScriptedDevice::clearStall(PipeRef pipe) {
    std::lock_guard lock(mutex_);
    events_.push_back(makeEvent(Event::ClearStall, pipe));
    return kSuccess;
}

}  // namespace kdusb::testing
