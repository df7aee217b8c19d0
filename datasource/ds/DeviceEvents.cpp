// CAP_DEVICEEVENT and the queue of standard device events. A host selects
// the events it wants; only those are queued and announced, each handed out
// once by DAT_DEVICEEVENT in the order they happened. The scanner's own
// custom events (0x8001 to 0x8004) keep their current-code behaviour, which
// our application reads twice per announcement: once the queue is empty,
// DAT_DEVICEEVENT answers the current custom code as before.
#include "TavrKdDS.h"

#include "CapHelpers.h"
#include "Capability.h"

#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <cstring>

namespace {

// Events nobody fetches do not pile up: the oldest go first.
constexpr std::size_t kMaxQueuedDeviceEvents = 64;

constexpr TW_INT32 kDeviceEventOperations = TWQC_GET | TWQC_SET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET;

bool IsDeviceEventCapability(TW_MEMREF data) {
    const auto* capability = static_cast<const TW_CAPABILITY*>(data);
    return capability && capability->Cap == CAP_DEVICEEVENT;
}

// The events of a host's TW_ARRAY of TW_UINT16; false for any other record.
bool ReadEventList(const TW_CAPABILITY& capability, std::vector<TW_UINT16>* events) {
    if (capability.ConType != TWON_ARRAY || !capability.hContainer) return false;
    const auto* record = static_cast<const std::uint8_t*>(NativeMemoryLock(capability.hContainer));
    if (!record) return false;
    TW_UINT16 itemType = 0;
    TW_UINT32 count = 0;
    std::memcpy(&itemType, record, sizeof itemType);
    std::memcpy(&count, record + kNativeArrayCountOffset, sizeof count);
    const bool ok = itemType == TWTY_UINT16 && count <= kMaxNativeListItems;
    if (ok) {
        events->resize(count);
        if (count) std::memcpy(events->data(), record + kTwArrayItemListOffset, count * sizeof(TW_UINT16));
    }
    NativeMemoryUnlock(capability.hContainer);
    return ok;
}

} // namespace

const std::vector<TW_UINT16>& CTavrKdDS::OfferedDeviceEvents() {
    // What the scanner can tell: a jam, a double feed, and a scanner that
    // went away or stopped answering.
    static const std::vector<TW_UINT16> offered{TWDE_DEVICEOFFLINE, TWDE_PAPERDOUBLEFEED, TWDE_PAPERJAM};
    return offered;
}

TW_UINT16 CTavrKdDS::GetCapability(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!IsDeviceEventCapability(data)) return CDataSource::GetCapability(origin, data);
    return DeviceEventCapability(MSG_GET, static_cast<pTW_CAPABILITY>(data));
}
TW_UINT16 CTavrKdDS::GetCurrentCapability(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!IsDeviceEventCapability(data)) return CDataSource::GetCurrentCapability(origin, data);
    return DeviceEventCapability(MSG_GETCURRENT, static_cast<pTW_CAPABILITY>(data));
}
TW_UINT16 CTavrKdDS::GetDefaultCapability(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!IsDeviceEventCapability(data)) return CDataSource::GetDefaultCapability(origin, data);
    return DeviceEventCapability(MSG_GETDEFAULT, static_cast<pTW_CAPABILITY>(data));
}
TW_UINT16 CTavrKdDS::ResetCapability(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!IsDeviceEventCapability(data)) return CDataSource::ResetCapability(origin, data);
    return DeviceEventCapability(MSG_RESET, static_cast<pTW_CAPABILITY>(data));
}
TW_UINT16 CTavrKdDS::SetCapability(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!IsDeviceEventCapability(data)) return CDataSource::SetCapability(origin, data);
    return DeviceEventCapability(MSG_SET, static_cast<pTW_CAPABILITY>(data));
}
TW_UINT16 CTavrKdDS::QuerySupportCapability(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!IsDeviceEventCapability(data)) return CDataSource::QuerySupportCapability(origin, data);
    return DeviceEventCapability(MSG_QUERYSUPPORT, static_cast<pTW_CAPABILITY>(data));
}

TW_UINT16 CTavrKdDS::DeviceEventCapability(TW_UINT16 msg, pTW_CAPABILITY capability) {
    // Changes belong to state 4, as for every capability; reads to any open state.
    const bool change = msg == MSG_SET || msg == MSG_RESET;
    if (change ? state_ != kDsOpen : !InState(kDsOpen, kDsTransferring)) return SeqError();
    if (msg == MSG_QUERYSUPPORT) {
        if (!AnswerOneValue(capability, TWTY_INT32, &kDeviceEventOperations, sizeof kDeviceEventOperations))
            return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
        return TWRC_SUCCESS;
    }
    if (msg == MSG_SET) {
        std::vector<TW_UINT16> asked;
        if (!ReadEventList(*capability, &asked)) return BadValue();
        const auto& offered = OfferedDeviceEvents();
        // One event the scanner cannot raise refuses the whole list, which
        // leaves the selection as it was.
        for (TW_UINT16 event : asked)
            if (std::find(offered.begin(), offered.end(), event) == offered.end()) return BadValue();
        std::vector<TW_UINT16> selection;
        for (TW_UINT16 event : asked)
            if (std::find(selection.begin(), selection.end(), event) == selection.end()) selection.push_back(event);
        selectedDeviceEvents_ = std::move(selection);
    } else if (msg == MSG_RESET) {
        selectedDeviceEvents_.clear();
    }
    if (msg == MSG_SET || msg == MSG_RESET) {
        // Queued events the host no longer wants are not handed out.
        std::erase_if(queuedDeviceEvents_, [this](TW_UINT16 event) {
            return std::find(selectedDeviceEvents_.begin(), selectedDeviceEvents_.end(), event) ==
                   selectedDeviceEvents_.end();
        });
        if (msg == MSG_SET) return TWRC_SUCCESS;
    }
    // The default is no event; the reads and the reset answer the list.
    const std::vector<TW_UINT16> none;
    const std::vector<TW_UINT16>& list = msg == MSG_GETDEFAULT ? none : selectedDeviceEvents_;
    const CCapArray answer(TWTY_UINT16, false, list.data(), list.size());
    return HandOut(capability, answer, TWON_ARRAY);
}

bool CTavrKdDS::QueueDeviceEvent(TW_UINT16 event) {
    if (std::find(selectedDeviceEvents_.begin(), selectedDeviceEvents_.end(), event) == selectedDeviceEvents_.end())
        return false;
    if (queuedDeviceEvents_.size() >= kMaxQueuedDeviceEvents) queuedDeviceEvents_.pop_front();
    queuedDeviceEvents_.push_back(event);
    kdf::NotificationCenter::defaultCenter().post(kDeviceEventNotification);
    return true;
}

TW_UINT16 CTavrKdDS::GetDeviceEvent(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    auto* event = static_cast<TW_DEVICEEVENT*>(data);
    if (!event) return BadValue();
    std::memset(static_cast<void*>(event), 0, sizeof *event);
    if (queuedDeviceEvents_.empty()) {
        event->Event = deviceEvent_;
        return TWRC_SUCCESS;
    }
    event->Event = queuedDeviceEvents_.front();
    queuedDeviceEvents_.pop_front();
    // The device that raised it: this scanner's source.
    const TW_IDENTITY& self = Identity();
    static_assert(sizeof event->DeviceName > sizeof self.ProductName);
    std::memcpy(event->DeviceName, self.ProductName, sizeof self.ProductName - 1);
    return TWRC_SUCCESS;
}
