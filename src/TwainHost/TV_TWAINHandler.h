// The application's only door to TWAIN: every call of the source manager
// that the application makes goes through one handler, one operation per
// triplet. The handler owns the application's identity and that of the data
// source it works with, and keeps its own state number.
//
// Codes are the manager's 16-bit return codes read as signed (0xFFFF is -1);
// -1 from closeDSM means the manager was never opened, -108 that a container
// could not be allocated, -50 a container that is not a one-value container
// of the type asked for, 8 a capability answered with another container.
//
// No lock: the device controller makes its calls on the main thread, apart
// from the device-event query and the cancel pass-through made from the
// manager's callback.
#pragma once

#include "twain/twain.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class TV_TWAINHandler {
public:
    // dsState numbers.
    static constexpr TW_UINT32 kStateManagerClosed = 10;
    static constexpr TW_UINT32 kStateManagerOpen = 30;
    static constexpr TW_UINT32 kStateSourceOpen = 40;
    static constexpr TW_UINT32 kStateSourceEnabled = 50;
    static constexpr TW_UINT32 kStateSourceDisabled = 55;
    static constexpr TW_UINT32 kStateTransferReady = 60;
    static constexpr TW_UINT32 kStateTransferring = 70;
    static constexpr TW_UINT32 kStateSourceClosed = 80;

    // The platform's codes for a failed allocation and a bad parameter.
    static constexpr TW_INT16 kMemFullErr = -108;
    static constexpr TW_INT16 kParamErr = -50;

    // Identity strings (at most 33 bytes each are kept); the controller
    // passes "Tavrolek", "Tavro", "Quillora" and "4.0".
    TV_TWAINHandler(std::string_view manufacturer, std::string_view productFamily, std::string_view productName,
                    std::string_view versionInfo);
    // Disables and closes a source still enabled or open, then closes the
    // manager.
    virtual ~TV_TWAINHandler();
    TV_TWAINHandler(const TV_TWAINHandler&) = delete;
    TV_TWAINHandler& operator=(const TV_TWAINHandler&) = delete;

    // ---- The manager
    TW_INT16 openDSM();
    TW_INT16 closeDSM();
    // Each of these first sends MSG_OPENDSM again and ignores its answer;
    // a manager opened that way counts as opened through the handler, so
    // closeDSM and destruction close it.
    TW_INT16 getFirst();
    TW_INT16 getNext();
    // RefCon is 32 bits wide: the application registers 0 and finds its
    // controller through the shared instance.
    TW_INT16 registerCallback(TWAINCALLBACKPROC proc, TW_UINT32 refCon);
    // On success the callback registered last is registered once more with
    // the opened source as destination (the standard manager wants that).
    TW_INT16 openDS();
    TW_INT16 closeDS();

    // ---- The source
    TW_INT16 enableDS(TW_USERINTERFACE* ui);
    TW_INT16 enableDSUIOnly(TW_USERINTERFACE* ui);
    TW_INT16 disableDS(TW_USERINTERFACE* ui = nullptr);
    TW_INT16 messageDS(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    // MSG_SET of a one-value container: the item (16, 34, 66, 130 or 256
    // bytes of value for FRAME, STR32, STR64, STR128, STR255), else the
    // 32-bit word at value. valueSize is the
    // size of the caller's value; a value too small for the type gives -50
    // and calls nothing.
    TW_INT16 setDSCapability(TW_UINT16 cap, TW_UINT16 itemType, const void* value, std::size_t valueSize);
    // A get message (MSG_GETCURRENT and the like) for cap. The value is
    // copied into out only when the source answers a one-value container of
    // itemType whose copy fits outSize (see getOneValue); the container is
    // always released. itemTypeOut, when given, receives the answer's type.
    TW_INT16 getDSCapability(TW_UINT16 msg, TW_UINT16 cap, TW_UINT16 itemType, void* out, std::size_t outSize,
                             TW_UINT16* itemTypeOut = nullptr);
    TW_INT16 passThru(TW_PASSTHRU* record);
    TW_INT16 getDeviceEvent(TW_DEVICEEVENT* event);
    TW_INT16 getDSStatus(TW_STATUS* status);
    // DAT_STATUS without a destination: the manager's own condition (why
    // MSG_OPENDS failed, for example).
    TW_INT16 getDSMStatus(TW_STATUS* status);

    // ---- State and identities
    void setDSState(TW_UINT32 state) { dsState_ = state; }
    TW_UINT32 getDSState() const { return dsState_; }
    bool isDSMOpen() const { return dsmOpen_; }
    bool isDSOpen() const { return dsOpen_; }
    bool isDSListed() const { return dsListed_; }
    bool isDSEnabled() const { return dsEnabled_; }
    const TW_IDENTITY& appIdentity() const { return appIdentity_; }
    const TW_IDENTITY& dsIdentity() const { return dsIdentity_; }
    // A folder handed down by the controller: kept and returned only.
    void setDsPath(std::optional<std::string> path) { dsPath_ = std::move(path); }
    const std::optional<std::string>& dsPath() const { return dsPath_; }

    // ---- One-value containers (no handler needed)
    // Item size by type: 1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256 for
    // types 0 to 12, 0 above.
    static std::size_t getItemSize(TW_UINT16 itemType);
    // Fills cap with a new one-value container (ConType 5) of the manager's
    // memory: item offset 2, block of 18, 36, 68, 132 or 258 bytes for
    // FRAME, STR32, STR64, STR128, STR255, else 6. 0, -108 when the block
    // cannot be had (no container),
    // -50 when valueSize is too small for the type.
    static TW_INT16 setupOneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, const void* value, std::size_t valueSize);
    // Reads a one-value container of itemType into out: the whole 32-bit
    // Item word for INT8, INT16, UINT8, UINT16, BOOL and types above 12, the
    // type's size for the others. Another container, no handle, another
    // item type or an out buffer too small gives -50 and copies nothing.
    // With release the block is freed and the handle cleared in every case.
    static TW_INT16 getOneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, TW_UINT16* itemTypeOut, void* out,
                                std::size_t outSize, bool release);
    // Frees a container block with the manager's memory functions; clears
    // the handle.
    static void releaseContainer(TW_CAPABILITY& cap);

    // The manager's memory functions for containers, as DAT_ENTRYPOINT gives
    // them; handlers fetch them when they open the manager. Null goes back
    // to the C allocator (what our manager itself uses).
    static void setMemoryFunctions(const TW_ENTRYPOINT* points);
    // The manager's entry; null restores DSM_Entry. Tests put a recorder in
    // front of the manager here.
    static void setDSMEntry(DSMENTRYPROC entry);

private:
    TW_UINT16 call(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 toManager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) { return call(nullptr, DG_CONTROL, dat, msg, data); }
    TW_UINT16 toSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return call(&dsIdentity_, dg, dat, msg, data);
    }
    // MSG_OPENDSM before a manager operation: state 30, answer ignored.
    void reopenDSM();
    TW_UINT16 sendOpenDSM();
    TW_INT16 listed(TW_UINT16 msg);

    TW_UINT32 dsState_ = kStateManagerClosed;
    bool dsmOpen_ = false;
    bool dsOpen_ = false;
    bool dsListed_ = false;
    bool dsEnabled_ = false;
    TW_IDENTITY appIdentity_{};
    TW_IDENTITY dsIdentity_{};
    std::optional<std::string> dsPath_;
    // The callback registered last, registered again with an opened source.
    TWAINCALLBACKPROC callbackProc_ = nullptr;
    TW_UINT32 callbackRefCon_ = 0;
    bool memoryFetched_ = false;
};
