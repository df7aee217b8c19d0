// The generic TWAIN data source: the one object per process that DS_Entry
// serves, its triplet table and states, the data source operations, the
// capability triplets with their handlers, and the bridge from the data
// source's own notifications to the host's callback.
#pragma once

#include "CapPool.h"
#include "KdUIController.h"
#include "ScannerLock.h"
#include "twain/twain.h"

#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"

#include <map>
#include <memory>
#include <string>

class CDataSource;

// Data source states (TWAIN states 3 to 7; 3 is never used).
enum : TW_INT32 {
    kDsClosed = 0,
    kDsOpen = 1,
    kDsEnabled = 2,
    kDsXferReady = 4,
    kDsTransferring = 5,
};

// Each .ds links one definition: the object its DS_Entry serves.
CDataSource* CreateDataSourceObject();

// Observes the data source's notifications on the default centre and calls
// the member registered for each name.
class CDataSourceNotificationHandler {
public:
    using Member = TW_UINT16 (CDataSource::*)(const kdf::Value* object);

    explicit CDataSourceNotificationHandler(CDataSource* dataSource) : dataSource_(dataSource) {}
    ~CDataSourceNotificationHandler() { RemoveNotificationHandlers(); }
    CDataSourceNotificationHandler(const CDataSourceNotificationHandler&) = delete;
    CDataSourceNotificationHandler& operator=(const CDataSourceNotificationHandler&) = delete;

    void AddNotificationHandler(Member member, const std::string& name);
    void RemoveNotificationHandlers();
    // Calls the member of the name with the notification's object; when the
    // user info holds a dictionary under "Result", its "Code" becomes the
    // member's return code.
    void HandleNotification(const kdf::Notification& notification);

private:
    CDataSource* dataSource_;
    std::map<std::string, Member, std::less<>> members_;
    std::map<std::string, kdf::ObserverToken, std::less<>> tokens_;
};

// Keys of a synchronous post's user info.
inline constexpr const char* kNotificationResultKey = "Result";
inline constexpr const char* kNotificationCodeKey = "Code";
// Posted instead of the manager's callback when the data source lies in the
// host's own Frameworks/ folder.
inline constexpr const char* kDsmNotification = "DSM Notification";
// The scan session's device events for the host.
inline constexpr const char* kDeviceEventNotification = "DeviceEventNotification";

class CDataSource {
public:
    using TripletMember = TW_UINT16 (CDataSource::*)(pTW_IDENTITY origin, TW_MEMREF data);
    using CapHandler = TW_UINT16 (CDataSource::*)(TW_UINT16 msg, pTW_CAPABILITY capability,
                                                  CCapability* container, TW_UINT16* handled);
    struct STripletHandler {
        TW_UINT32 dg;
        TW_UINT16 dat;
        TW_UINT16 msg;
        TripletMember member;
    };
    struct SCapHandler {
        TW_UINT16 cap;
        CapHandler handler;
    };

    // The body of DS_Entry: the singleton serves the triplet; exceptions end
    // here as TWCC_LOWMEMORY (out of memory) or TWCC_BUMMER.
    static TW_UINT16 Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    // The process's data source, created on first use; null when it could
    // not be made (tried again on the next call).
    static CDataSource* CurrentDataSource();

    // One call into the data source: taken by DS_Entry and by every path
    // from the run loop into a data source's members. It holds the entry
    // mutex (calls from other threads wait; the same thread may nest), and a
    // data source closed inside it is deleted only when the outermost scope
    // ends, so no member returns into a freed object.
    class CallScope {
    public:
        CallScope();
        ~CallScope();
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;
    };

    CDataSource();
    virtual ~CDataSource();
    CDataSource(const CDataSource&) = delete;
    CDataSource& operator=(const CDataSource&) = delete;

    virtual TripletMember GetTripletHandler(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) const;
    virtual CapHandler GetCapHandler(TW_UINT16 id) const;
    virtual TW_UINT16 GetConditionCode() const { return conditionCode_; }
    // Stores cc and returns rc: a failure is reported in one call.
    virtual TW_UINT16 SetConditionCode(TW_UINT16 cc, TW_UINT16 rc);

    // ---- Triplets.
    virtual TW_UINT16 GetIdentity(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 OpenDS(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 CloseDS(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 EnableDS(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 EnableDSUIOnly(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 DisableDS(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 PendingEndXfers(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetPendingXfers(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 ResetPendingXfers(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 SetupMemXfer(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetStatus(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetXferGroup(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetDeviceEvent(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 PassThru(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetCapability(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetCurrentCapability(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetDefaultCapability(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 ResetCapability(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 SetCapability(pTW_IDENTITY origin, TW_MEMREF data);
    // MSG_QUERYSUPPORT: the TWQC_ operations of the capability, as a
    // one-value TWTY_INT32.
    virtual TW_UINT16 QuerySupportCapability(pTW_IDENTITY origin, TW_MEMREF data);
    // Image layout, image information and transfers: the state checks live
    // here; the page work belongs to the scan session's data source.
    virtual TW_UINT16 GetImageLayout(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetDefaultImageLayout(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 ResetImageLayout(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 SetImageLayout(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 GetImageInfo(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 ImageMemXfer(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 ImageNativeXfer(pTW_IDENTITY origin, TW_MEMREF data);
    virtual TW_UINT16 ImageFileXfer(pTW_IDENTITY origin, TW_MEMREF data);
    // DAT_ENTRYPOINT / MSG_SET (state 0): the manager's entry and memory
    // functions, needed for callbacks and container handles.
    virtual TW_UINT16 SetEntryPoint(pTW_IDENTITY origin, TW_MEMREF data);

    // ---- Generic capability handlers.
    virtual TW_UINT16 HandlePhysicalSize(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                         TW_UINT16* handled);
    virtual TW_UINT16 HandleCapFrames(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                      TW_UINT16* handled);
    virtual TW_UINT16 HandlePixelType(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                      TW_UINT16* handled);
    virtual TW_UINT16 HandleBitDepth(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled);

    // ---- Operations a data source refines.
    virtual bool SetupCapabilities();
    // Fills the window's set-up dictionary; false when it could not.
    virtual bool SetupUserInterfaceParameters(kdf::Dictionary& param);
    virtual TW_INT32 GetPendingDocumentCount();
    // Tells the host: the manager's callback, or "DSM Notification" for a
    // host that carries the data source in its own Frameworks/ folder.
    virtual TW_UINT16 InvokeCallback(TW_CALLBACK* record, const kdf::Value* data);
    // The bridge from a notification to the host (settings saved as the
    // show-UI flag says; MSG_XFERREADY moves to state 4).
    virtual TW_UINT16 HandleNotification(TW_UINT16 message, const kdf::Value* object);
    virtual TW_UINT16 HandleXferReadyNotification(const kdf::Value* object);
    virtual TW_UINT16 HandleCloseRequestNotification(const kdf::Value* object);
    virtual TW_UINT16 HandleCloseDsOkayNotification(const kdf::Value* object);
    virtual TW_UINT16 HandleDeviceEventNotification(const kdf::Value* object);

    // ---- The scanner, supplied by a derived data source.
    virtual bool SetupScanner() = 0;
    virtual void TerminateScanner() = 0;
    virtual TW_UINT16 PrepareScan() = 0;
    virtual TW_UINT16 ReadImage(TW_MEMREF buffer, TW_UINT32 bytesPerLine, TW_UINT32 lines) = 0;
    virtual TW_UINT16 FinishScan() = 0;
    virtual void RecoverScan() {}

    virtual bool LoadCustomCapabilities();
    virtual bool SaveCustomCapabilities();
    // The pool's id of the id a host sent.
    virtual TW_UINT16 CapID(TW_UINT16 id) const { return id; }
    // Re-applies the current value through its handler.
    virtual void SyncCapability(TW_UINT16 id);

    // ---- Observers for tests and the host-facing code.
    TW_INT32 State() const { return state_; }
    CCapPool* Pool() const { return pool_.get(); }
    const TW_IDENTITY& Identity() const { return identity_; }
    bool ShowUI() const { return showUI_; }
    bool SaveAtClose() const { return saveAtClose_; }
    // The shared object that holds the data source's code, and its bundle
    // folder (the shared object's folder).
    static std::string ModulePath();
    static std::string BundleFolder();
    // The bundle folder this object uses (tests point it elsewhere).
    virtual std::string OwnBundleFolder() const { return BundleFolder(); }

protected:
    bool InState(TW_INT32 first, TW_INT32 last) const { return state_ >= first && state_ <= last; }
    TW_UINT16 SeqError() { return SetConditionCode(TWCC_SEQERROR, TWRC_FAILURE); }
    TW_UINT16 BadValue() { return SetConditionCode(TWCC_BADVALUE, TWRC_FAILURE); }
    void RegisterNotifications();
    // The window controller from the window bundle; null when the bundle
    // or the class is missing.
    virtual std::unique_ptr<KdUIController> CreateUIController();
    // Cancels the controller's delayed messages and deletes it.
    void ReleaseUIController();
    // The capability triplets' common start: the pool's container of the
    // host's (mapped) id, or a condition code.
    CCapability* CapContainer(pTW_CAPABILITY capability, TW_UINT16* cc) const;
    TW_UINT16 AnswerValue(pTW_CAPABILITY capability, CCapability* container, ECapProperty property);
    // The capability's own MSG_GET handler, when it has one (TWCC_SUCCESS otherwise).
    TW_UINT16 RunGetHandler(pTW_CAPABILITY capability, CCapability* container, TW_UINT16* handled);
    // The container as a host record of kind `conType` in the capability.
    TW_UINT16 HandOut(pTW_CAPABILITY capability, const CCapability& container, TW_UINT16 conType);
    float CapFloat(TW_UINT16 id) const;
    TW_UINT16 CapUInt(TW_UINT16 id) const;
    // The stored scan frame (left, top, width, height), kept to be put back.
    struct SFrameValues {
        TW_INT32 values[4];
    };
    SFrameValues StoredFrame() const;
    void RestoreFrame(const SFrameValues& frame);

    TW_INT32 state_ = kDsClosed;
    TW_UINT16 conditionCode_ = TWCC_SUCCESS;
    TW_IDENTITY identity_{};
    bool pending_ = false;
    std::unique_ptr<CCapPool> pool_;
    KdExclusiveLock* lock_ = nullptr;
    bool showUI_ = false;
    bool imageInfoValid_ = false;
    bool saveAtClose_ = false;
    TW_IMAGEINFO imageInfo_{};
    TW_INT32 bytesPerLine_ = 0;
    TW_INT32 linesSent_ = 0;
    TW_INT32 transferCount_ = 0;
    std::unique_ptr<KdUIController> ui_;
    std::unique_ptr<CDataSourceNotificationHandler> notificationHandler_;
    // The host that opened the data source, and the manager's entry.
    TW_IDENTITY host_{};
    TW_ENTRYPOINT entryPoint_{};
    bool closed_ = false; // closed from inside another call; deleted when it returns

private:
    static TW_UINT16 Dispatch(CDataSource* ds, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                              TW_MEMREF data);
};

// Helpers of the capability handlers.
// The item of a host's one-value container, copied out; false when the
// container is no one-value of a readable item.
bool ReadOneValueItem(const TW_CAPABILITY& capability, void* item, std::size_t size, TW_UINT16* itemType);
// Answers a one-value container of one item in the capability record;
// false when no handle could be made.
bool AnswerOneValue(pTW_CAPABILITY capability, TW_UINT16 itemType, const void* item, std::size_t size);
