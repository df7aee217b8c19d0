#include "TV_TWAINHandler.h"

#include "TV_TWAINCommon.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// ---- Container memory ------------------------------------------------------------------
// Blocks are the manager's (the source allocates what it answers with the
// same functions), locked while used and freed with DSM_MemFree whoever
// allocated them.

TW_HANDLE cAllocate(TW_UINT32 size) { return std::calloc(size, 1); }
void cFree(TW_HANDLE handle) { std::free(handle); }
TW_MEMREF cLock(TW_HANDLE handle) { return handle; }
void cUnlock(TW_HANDLE) {}

struct Memory {
    DSM_MEMALLOCATE allocate = cAllocate;
    DSM_MEMFREE free = cFree;
    DSM_MEMLOCK lock = cLock;
    DSM_MEMUNLOCK unlock = cUnlock;
};

std::mutex sMemoryLock;
Memory sMemory;

Memory memory() {
    std::lock_guard lock(sMemoryLock);
    return sMemory;
}

std::atomic<DSMENTRYPROC> sEntry{nullptr};

TW_INT16 widen(TW_UINT16 rc) { return static_cast<TW_INT16>(rc); }

bool copiesWholeWord(TW_UINT16 itemType) {
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_INT16:
    case TWTY_UINT8:
    case TWTY_UINT16:
    case TWTY_BOOL: return true;
    default: return itemType > TWTY_STR255;
    }
}

// Bytes of value a one-value container of the type carries when set: the
// item for the types longer than a word (a source reads a whole FRAME or
// STR128 item, so the block must hold one), else the one 32-bit word.
std::size_t setValueSize(TW_UINT16 itemType) {
    return std::max(TV_TWAINHandler::getItemSize(itemType), sizeof(TW_UINT32));
}

} // namespace

// ---- Construction ---------------------------------------------------------------------------

TV_TWAINHandler::TV_TWAINHandler(std::string_view manufacturer, std::string_view productFamily,
                                 std::string_view productName, std::string_view versionInfo) {
    appIdentity_.Id = 1;
    appIdentity_.Version.MajorNum = 1;
    appIdentity_.Version.MinorNum = 0;
    appIdentity_.Version.Language = TWLG_USA;
    appIdentity_.Version.Country = TWCY_USA;
    pstrcopy(appIdentity_.Version.Info, versionInfo);
    appIdentity_.ProtocolMajor = 1;
    appIdentity_.ProtocolMinor = 9;
    // DF_APP2: the standard manager serves entry points and callbacks only to
    // hosts that say so.
    appIdentity_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    pstrcopy(appIdentity_.Manufacturer, manufacturer);
    pstrcopy(appIdentity_.ProductFamily, productFamily);
    pstrcopy(appIdentity_.ProductName, productName);
}

TV_TWAINHandler::~TV_TWAINHandler() {
    if (dsEnabled_) {
        TW_USERINTERFACE ui{};
        if (toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS) {
            dsEnabled_ = false;
            dsState_ = kStateSourceDisabled;
        }
    }
    if (dsOpen_) {
        toManager(DAT_IDENTITY, MSG_CLOSEDS, &dsIdentity_);
        dsState_ = kStateSourceClosed;
        dsOpen_ = false;
        dsEnabled_ = false;
    }
    if (dsmOpen_) closeDSM();
}

// ---- Calls ----------------------------------------------------------------------------------

void TV_TWAINHandler::setDSMEntry(DSMENTRYPROC entry) { sEntry.store(entry); }

TW_UINT16 TV_TWAINHandler::call(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    const DSMENTRYPROC entry = sEntry.load();
    return (entry ? entry : &DSM_Entry)(&appIdentity_, dest, dg, dat, msg, data);
}

TW_UINT16 TV_TWAINHandler::sendOpenDSM() {
    const TW_UINT16 rc = toManager(DAT_PARENT, MSG_OPENDSM, nullptr);
    if (!memoryFetched_) {
        TW_ENTRYPOINT points{};
        points.Size = kTwEntryPointSize;
        if (toManager(DAT_ENTRYPOINT, MSG_GET, &points) == TWRC_SUCCESS && points.DSM_MemAllocate &&
            points.DSM_MemFree && points.DSM_MemLock && points.DSM_MemUnlock) {
            setMemoryFunctions(&points);
            memoryFetched_ = true;
        }
    }
    return rc;
}

void TV_TWAINHandler::reopenDSM() {
    dsState_ = kStateManagerOpen;
    // The device controller opens the manager only this way (registering its
    // callback); the handler must still close what it opened.
    if (sendOpenDSM() == TWRC_SUCCESS) dsmOpen_ = true;
}

TW_INT16 TV_TWAINHandler::openDSM() {
    dsmOpen_ = true;
    dsState_ = kStateManagerOpen;
    return widen(sendOpenDSM());
}

TW_INT16 TV_TWAINHandler::closeDSM() {
    if (!dsmOpen_) return -1;
    toManager(DAT_PARENT, MSG_CLOSEDSM, nullptr);
    dsState_ = kStateManagerClosed;
    dsmOpen_ = false;
    dsOpen_ = false;
    dsEnabled_ = false;
    // The next opening fetches the manager's functions again.
    memoryFetched_ = false;
    return 0;
}

TW_INT16 TV_TWAINHandler::listed(TW_UINT16 msg) {
    reopenDSM();
    TW_IDENTITY found{};
    const TW_UINT16 rc = toManager(DAT_IDENTITY, msg, &found);
    if (rc == TWRC_SUCCESS) dsIdentity_ = found;
    dsListed_ = true;
    return widen(rc);
}

TW_INT16 TV_TWAINHandler::getFirst() { return listed(MSG_GETFIRST); }

TW_INT16 TV_TWAINHandler::getNext() { return listed(MSG_GETNEXT); }

TW_INT16 TV_TWAINHandler::registerCallback(TWAINCALLBACKPROC proc, TW_UINT32 refCon) {
    reopenDSM();
    callbackProc_ = proc;
    callbackRefCon_ = refCon;
    TW_CALLBACK record{reinterpret_cast<TW_MEMREF>(proc), refCon, 0};
    return widen(toManager(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &record));
}

TW_INT16 TV_TWAINHandler::openDS() {
    reopenDSM();
    const TW_UINT16 rc = toManager(DAT_IDENTITY, MSG_OPENDS, &dsIdentity_);
    if (rc == TWRC_SUCCESS) {
        dsOpen_ = true;
        dsState_ = kStateSourceOpen;
        if (callbackProc_) {
            TW_CALLBACK record{reinterpret_cast<TW_MEMREF>(callbackProc_), callbackRefCon_, 0};
            call(&dsIdentity_, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &record);
        }
    }
    return widen(rc);
}

TW_INT16 TV_TWAINHandler::closeDS() {
    const TW_UINT16 rc = toManager(DAT_IDENTITY, MSG_CLOSEDS, &dsIdentity_);
    dsState_ = kStateSourceClosed;
    dsOpen_ = false;
    dsEnabled_ = false;
    return widen(rc);
}

TW_INT16 TV_TWAINHandler::enableDS(TW_USERINTERFACE* ui) {
    const TW_UINT16 rc = toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, ui);
    if (rc == TWRC_SUCCESS) {
        dsEnabled_ = true;
        dsState_ = kStateSourceEnabled;
    }
    return widen(rc);
}

TW_INT16 TV_TWAINHandler::enableDSUIOnly(TW_USERINTERFACE* ui) {
    const TW_UINT16 rc = toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, ui);
    if (rc == TWRC_SUCCESS) {
        dsEnabled_ = true;
        dsState_ = kStateSourceEnabled;
    }
    return widen(rc);
}

TW_INT16 TV_TWAINHandler::disableDS(TW_USERINTERFACE* ui) {
    const TW_UINT16 rc = toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, ui);
    if (rc == TWRC_SUCCESS) {
        dsEnabled_ = false;
        dsState_ = kStateSourceDisabled;
    }
    return widen(rc);
}

TW_INT16 TV_TWAINHandler::messageDS(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return widen(toSource(dg, dat, msg, data));
}

TW_INT16 TV_TWAINHandler::setDSCapability(TW_UINT16 cap, TW_UINT16 itemType, const void* value,
                                          std::size_t valueSize) {
    TW_CAPABILITY record{};
    record.Cap = cap;
    const TW_INT16 built = setupOneValue(record, itemType, value, valueSize);
    if (built != 0) return built;
    const TW_UINT16 rc = toSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &record);
    releaseContainer(record);
    return widen(rc);
}

TW_INT16 TV_TWAINHandler::getDSCapability(TW_UINT16 msg, TW_UINT16 cap, TW_UINT16 itemType, void* out,
                                          std::size_t outSize, TW_UINT16* itemTypeOut) {
    TW_CAPABILITY record{};
    record.Cap = cap;
    record.ConType = TWON_DONTCARE16;
    const TW_UINT16 rc = toSource(DG_CONTROL, DAT_CAPABILITY, msg, &record);
    if (rc != TWRC_SUCCESS) {
        // A failing source should have answered nothing; whatever it left is freed.
        releaseContainer(record);
        return widen(rc);
    }
    if (record.ConType != TWON_ONEVALUE) {
        releaseContainer(record);
        return TWRC_INFONOTSUPPORTED;
    }
    return getOneValue(record, itemType, itemTypeOut, out, outSize, true);
}

TW_INT16 TV_TWAINHandler::passThru(TW_PASSTHRU* record) {
    return widen(toSource(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, record));
}

TW_INT16 TV_TWAINHandler::getDeviceEvent(TW_DEVICEEVENT* event) {
    return widen(toSource(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, event));
}

TW_INT16 TV_TWAINHandler::getDSStatus(TW_STATUS* status) {
    return widen(toSource(DG_CONTROL, DAT_STATUS, MSG_GET, status));
}

TW_INT16 TV_TWAINHandler::getDSMStatus(TW_STATUS* status) { return widen(toManager(DAT_STATUS, MSG_GET, status)); }

// ---- One-value containers -------------------------------------------------------------------

std::size_t TV_TWAINHandler::getItemSize(TW_UINT16 itemType) {
    static constexpr std::size_t kSizes[] = {1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256};
    return itemType < std::size(kSizes) ? kSizes[itemType] : 0;
}

void TV_TWAINHandler::setMemoryFunctions(const TW_ENTRYPOINT* points) {
    std::lock_guard lock(sMemoryLock);
    if (points && points->DSM_MemAllocate && points->DSM_MemFree && points->DSM_MemLock && points->DSM_MemUnlock) {
        sMemory = Memory{points->DSM_MemAllocate, points->DSM_MemFree, points->DSM_MemLock, points->DSM_MemUnlock};
    } else {
        sMemory = Memory{};
    }
}

TW_INT16 TV_TWAINHandler::setupOneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, const void* value,
                                        std::size_t valueSize) {
    cap.ConType = TWON_ONEVALUE;
    cap.hContainer = nullptr;
    const std::size_t size = setValueSize(itemType);
    if (!value || valueSize < size) return kParamErr;
    const Memory mem = memory();
    const std::size_t blockSize = kTwOneValueItemOffset + size;
    TW_HANDLE handle = mem.allocate(static_cast<TW_UINT32>(blockSize));
    if (!handle) return kMemFullErr;
    auto* block = static_cast<std::uint8_t*>(mem.lock(handle));
    if (!block) {
        mem.free(handle);
        return kMemFullErr;
    }
    std::memset(block, 0, blockSize);
    std::memcpy(block, &itemType, sizeof itemType);
    std::memcpy(block + kTwOneValueItemOffset, value, size);
    mem.unlock(handle);
    cap.hContainer = handle;
    return 0;
}

TW_INT16 TV_TWAINHandler::getOneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, TW_UINT16* itemTypeOut, void* out,
                                      std::size_t outSize, bool release) {
    TW_INT16 result = kParamErr;
    if (cap.ConType == TWON_ONEVALUE && cap.hContainer) {
        const Memory mem = memory();
        if (const auto* block = static_cast<const std::uint8_t*>(mem.lock(cap.hContainer))) {
            TW_UINT16 found = 0;
            std::memcpy(&found, block, sizeof found);
            if (itemTypeOut) *itemTypeOut = found;
            const std::size_t size = copiesWholeWord(found) ? sizeof(TW_UINT32) : getItemSize(found);
            if (found == itemType && out && size <= outSize) {
                std::memcpy(out, block + kTwOneValueItemOffset, size);
                result = 0;
            }
            mem.unlock(cap.hContainer);
        }
    }
    if (release) releaseContainer(cap);
    return result;
}

void TV_TWAINHandler::releaseContainer(TW_CAPABILITY& cap) {
    if (!cap.hContainer) return;
    memory().free(cap.hContainer);
    cap.hContainer = nullptr;
}
