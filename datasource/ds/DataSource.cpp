#include "DataSource.h"

#include "CapData.h"
#include "ClientApp.h"

#include "foundation/Bundle.h"
#include "foundation/Exception.h"
#include "foundation/RunLoop.h"

#include <dlfcn.h>
#include <syslog.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

CDataSource* sDataSource = nullptr;
// Calls into the data source on the stack (DS_Entry and the notifications
// that reach it from the run loop); a data source closed from inside a call
// (a host closing from its callback) is deleted when the outermost returns.
// Both are guarded by the entry mutex.
int sEntryDepth = 0;
std::vector<CDataSource*> sClosedDataSources;

// Serialises every call into this module's data source: a host may call
// DS_Entry from any thread, and one call runs at a time. Recursive, because
// a host calls back into the data source from the callbacks it receives.
std::recursive_mutex& EntryMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

constexpr TW_UINT32 kSupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;

using DS = CDataSource;
const DS::STripletHandler sTripletHandlers[] = {
    {DG_CONTROL, DAT_IDENTITY, MSG_GET, &DS::GetIdentity},
    {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &DS::OpenDS},
    {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &DS::CloseDS},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &DS::EnableDS},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, &DS::EnableDSUIOnly},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &DS::DisableDS},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GET, &DS::GetCapability},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &DS::GetCurrentCapability},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT, &DS::GetDefaultCapability},
    {DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &DS::ResetCapability},
    {DG_CONTROL, DAT_CAPABILITY, MSG_SET, &DS::SetCapability},
    {DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT, &DS::QuerySupportCapability},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &DS::PendingEndXfers},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &DS::GetPendingXfers},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &DS::ResetPendingXfers},
    {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &DS::SetupMemXfer},
    {DG_CONTROL, DAT_STATUS, MSG_GET, &DS::GetStatus},
    {DG_CONTROL, DAT_XFERGROUP, MSG_GET, &DS::GetXferGroup},
    {DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &DS::GetDeviceEvent},
    {DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, &DS::PassThru},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &DS::GetImageLayout},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, &DS::GetDefaultImageLayout},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, &DS::ResetImageLayout},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &DS::SetImageLayout},
    {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &DS::GetImageInfo},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &DS::ImageMemXfer},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &DS::ImageNativeXfer},
    {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &DS::ImageFileXfer},
    {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &DS::SetEntryPoint},
};
constexpr std::size_t TRIPLETHANDLER_COUNT = sizeof sTripletHandlers / sizeof sTripletHandlers[0];
static_assert(TRIPLETHANDLER_COUNT == 29);

// The scanner lock: three tries, each followed by this pause when refused.
constexpr int kLockTries = 3;
constexpr std::int32_t kLockPauseMs = 1500;

template <typename T> T* Record(TW_MEMREF data) { return static_cast<T*>(data); }

} // namespace

// ---- Entry and singleton -----------------------------------------------------------------

CDataSource* CDataSource::CurrentDataSource() {
    if (!sDataSource) sDataSource = CreateDataSourceObject();
    return sDataSource;
}

CDataSource::CallScope::CallScope() {
    EntryMutex().lock();
    ++sEntryDepth;
}

CDataSource::CallScope::~CallScope() {
    if (--sEntryDepth == 0) {
        std::vector<CDataSource*> closed;
        closed.swap(sClosedDataSources);
        for (CDataSource* old : closed) delete old;
    }
    EntryMutex().unlock();
}

TW_UINT16 CDataSource::Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    const CallScope scope;
    TW_UINT16 rc = TWRC_FAILURE;
    CDataSource* ds = nullptr;
    try {
        ds = CurrentDataSource();
    } catch (...) {
        ds = nullptr; // tried again on the next call
    }
    if (ds) rc = Dispatch(ds, origin, dg, dat, msg, data);
    return rc;
}

TW_UINT16 CDataSource::Dispatch(CDataSource* ds, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                TW_MEMREF data) {
    const TripletMember member = ds->GetTripletHandler(dg, dat, msg);
    if (!member) return ds->SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
    TW_UINT16 rc;
    // No exception may reach the manager.
    try {
        rc = (ds->*member)(origin, data);
    } catch (const std::bad_alloc&) {
        return ds->SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    } catch (const kdf::Exception& e) {
        return ds->SetConditionCode(e.name() == kdf::kMallocExceptionName ? TWCC_LOWMEMORY : TWCC_BUMMER,
                                    TWRC_FAILURE);
    } catch (...) {
        return ds->SetConditionCode(TWCC_BUMMER, TWRC_FAILURE);
    }
    const bool close = dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_CLOSEDS;
    if (!close && rc != TWRC_FAILURE && rc != TWRC_CHECKSTATUS) ds->conditionCode_ = TWCC_SUCCESS;
    return rc;
}

CDataSource::CDataSource() {
    // Nothing registered outside the object: a manager unloads a source
    // after asking its identity.
    identity_.Id = 1;
    identity_.Version.MajorNum = 1;
    identity_.Version.MinorNum = 0;
    identity_.Version.Language = 13;
    identity_.Version.Country = 1;
    std::strcpy(identity_.Version.Info, "1.0");
    identity_.ProtocolMajor = 2;
    identity_.ProtocolMinor = 4;
    identity_.SupportedGroups = kSupportedGroups;
    std::strcpy(identity_.Manufacturer, "Tavrolek Document Systems");
    std::strcpy(identity_.ProductFamily, "Tavro KD-720 Driver");
    std::strcpy(identity_.ProductName, "Tavro KD-720 TWAIN");
}

CDataSource::~CDataSource() {
    if (sDataSource == this) sDataSource = nullptr;
    ReleaseUIController();
    notificationHandler_.reset();
    if (lock_) {
        UnlockObject(lock_);
        DestroyExclusiveLockObject(lock_);
    }
}

CDataSource::TripletMember CDataSource::GetTripletHandler(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) const {
    for (const STripletHandler& row : sTripletHandlers)
        if (row.dg == dg && row.dat == dat && row.msg == msg) return row.member;
    return nullptr;
}

TW_UINT16 CDataSource::SetConditionCode(TW_UINT16 cc, TW_UINT16 rc) {
    conditionCode_ = cc;
    return rc;
}

std::string CDataSource::ModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&CDataSource::ModulePath), &info) == 0 || !info.dli_fname) return {};
    std::error_code ec;
    const auto path = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.string();
}

std::string CDataSource::BundleFolder() {
    return std::filesystem::path(ModulePath()).parent_path().string();
}

// ---- Identity, open and close --------------------------------------------------------------

TW_UINT16 CDataSource::GetIdentity(pTW_IDENTITY, TW_MEMREF data) {
    if (auto* id = Record<TW_IDENTITY>(data)) {
        const TW_UINT32 given = id->Id;
        identity_.Id = given;
        std::memcpy(id, &identity_, sizeof identity_);
    }
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::SetEntryPoint(pTW_IDENTITY, TW_MEMREF data) {
    if (state_ != kDsClosed) return SeqError();
    const auto* points = Record<TW_ENTRYPOINT>(data);
    if (!points) return BadValue();
    const TW_UINT32 size = points->Size;
    if (size < kTwEntryPointSize) return BadValue();
    std::memcpy(&entryPoint_, points, sizeof entryPoint_);
    SetNativeMemoryEntryPoints(&entryPoint_);
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::OpenDS(pTW_IDENTITY origin, TW_MEMREF data) {
    if (state_ != kDsClosed) return SeqError();
    auto* id = Record<TW_IDENTITY>(data);
    if (!id) return BadValue();
    // The Id the manager assigned when it listed the source.
    const TW_UINT32 given = id->Id;
    identity_.Id = given;
    std::memcpy(id, &identity_, sizeof identity_);
    if (origin)
        std::memcpy(&host_, origin, sizeof host_);
    else
        host_ = TW_IDENTITY{};

    new CClientApp(origin); // becomes the process's recogniser

    lock_ = CreateExclusiveLockObject(kKdScannerLockName);
    if (!lock_) {
        // Only a failed allocation is a memory matter; a lock file that
        // cannot be made or is not ours (a planted link) denies the open.
        const int error = errno;
        syslog(LOG_ERR, "KD720: the scanner lock %s cannot be made: %s",
               ExclusiveLockPath(kKdScannerLockName).c_str(), std::strerror(error));
        return SetConditionCode(error == ENOMEM ? TWCC_LOWMEMORY : TWCC_DENIED, TWRC_FAILURE);
    }
    bool locked = false;
    for (int attempt = 0; attempt < kLockTries && !locked; ++attempt) {
        locked = LockObject(lock_, true, kLockPauseMs);
        if (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(kLockPauseMs));
    }
    auto releaseAll = [this] {
        notificationHandler_.reset();
        pool_.reset();
        UnlockObject(lock_);
        DestroyExclusiveLockObject(lock_);
        lock_ = nullptr;
    };
    TW_UINT16 cc = TWCC_SUCCESS;
    try {
        if (!locked) {
            cc = TWCC_MAXCONNECTIONS;
        } else {
            notificationHandler_.reset(new (std::nothrow) CDataSourceNotificationHandler(this));
            if (!notificationHandler_ || !SetupCapabilities()) {
                cc = TWCC_LOWMEMORY;
            } else {
                LoadCustomCapabilities();
                if (!SetupScanner()) cc = TWCC_NODS;
            }
        }
    } catch (...) {
        releaseAll(); // the entry reports the exception
        throw;
    }
    if (cc != TWCC_SUCCESS) {
        releaseAll();
        return SetConditionCode(cc, TWRC_FAILURE);
    }
    SyncCapability(ICAP_PIXELTYPE);
    SyncCapability(0x8400);
    showUI_ = false;
    imageInfoValid_ = false;
    transferCount_ = 0;
    state_ = kDsOpen;
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::CloseDS(pTW_IDENTITY, TW_MEMREF) {
    if (state_ != kDsClosed) {
        // A host may close from any state; a scan under way is dropped so
        // that the scanner and its lock are free for the next open.
        if (state_ >= kDsXferReady) RecoverScan();
        ReleaseUIController();
        if (saveAtClose_ && pool_) SaveCustomCapabilities();
        pool_.reset();
        TerminateScanner();
        notificationHandler_.reset();
        showUI_ = false;
        imageInfoValid_ = false;
        state_ = kDsClosed;
        if (lock_) {
            UnlockObject(lock_);
            DestroyExclusiveLockObject(lock_);
            lock_ = nullptr;
        }
    }
    CClientApp::DeleteCurrent();
    // The next call starts with a new object; this one goes when the
    // outermost DS_Entry call returns.
    if (sDataSource == this) sDataSource = nullptr;
    closed_ = true;
    if (sEntryDepth > 0)
        sClosedDataSources.push_back(this);
    else
        delete this;
    return TWRC_SUCCESS;
}

// ---- Enable and disable ------------------------------------------------------------------------

std::unique_ptr<KdUIController> CDataSource::CreateUIController() {
    const auto own = kdf::Bundle::atPath(OwnBundleFolder());
    if (!own) return nullptr;
    const std::string windowBundle = own->builtInPlugInsPath() + "/KD720UI";
    if (!kdf::Bundle::atPath(windowBundle)) return nullptr;
    return createUIController(windowBundle);
}

void CDataSource::ReleaseUIController() {
    if (!ui_) return;
    kdf::RunLoop::current().cancelPerforms(ui_.get());
    ui_.reset();
}

void CDataSource::RegisterNotifications() {
    if (!notificationHandler_) return;
    notificationHandler_->AddNotificationHandler(&DS::HandleXferReadyNotification, kXferReadyNotification);
    notificationHandler_->AddNotificationHandler(&DS::HandleCloseRequestNotification, kCloseRequestNotification);
    notificationHandler_->AddNotificationHandler(&DS::HandleCloseDsOkayNotification, kCloseDSOkayNotification);
    notificationHandler_->AddNotificationHandler(&DS::HandleDeviceEventNotification, kDeviceEventNotification);
}

bool CDataSource::SetupUserInterfaceParameters(kdf::Dictionary& param) {
    if (!pool_) return false;
    param[kUIParamCapabilityObject] = kdf::Value(kdf::Pointer{pool_.get()});
    return true;
}

TW_UINT16 CDataSource::EnableDS(pTW_IDENTITY, TW_MEMREF data) {
    if (state_ != kDsOpen) return SeqError();
    const auto* ui = Record<TW_USERINTERFACE>(data);
    if (!ui) return BadValue();
    const bool showUI = ui->ShowUI != 0;
    std::unique_ptr<KdUIController> controller;
    if (showUI) {
        controller = CreateUIController();
        if (!controller) return SetConditionCode(TWCC_OPERATIONERROR, TWRC_FAILURE);
    }
    RegisterNotifications();
    showUI_ = showUI;
    transferCount_ = 0;
    if (!showUI) {
        saveAtClose_ = true;
        kdf::Dictionary userInfo{{kNotificationResultKey, kdf::Value(kdf::Dictionary{})}};
        kdf::NotificationCenter::defaultCenter().post(kXferReadyNotification, nullptr, nullptr, &userInfo);
        const kdf::Value* result = kdf::find(userInfo, kNotificationResultKey);
        const kdf::Value* code = result && result->dictionary() ? kdf::find(*result->dictionary(), kNotificationCodeKey)
                                                                : nullptr;
        const TW_UINT16 rc = code && code->toInteger() ? static_cast<TW_UINT16>(*code->toInteger()) : TWRC_FAILURE;
        if (rc == TWRC_FAILURE && !closed_) {
            // The host was never told: back to state 4 with nothing
            // registered, so that it may enable again.
            if (notificationHandler_) notificationHandler_->RemoveNotificationHandlers();
            pending_ = false;
            imageInfoValid_ = false;
            state_ = kDsOpen;
            if (conditionCode_ == TWCC_SUCCESS) conditionCode_ = TWCC_BUMMER;
            return TWRC_FAILURE;
        }
        return rc;
    }
    kdf::Dictionary param;
    if (!SetupUserInterfaceParameters(param)) {
        if (notificationHandler_) notificationHandler_->RemoveNotificationHandlers();
        return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    }
    ui_ = std::move(controller);
    bool setupFailed = false;
    try {
        ui_->setupMainUI(param, true);
    } catch (const kdf::Exception&) {
        setupFailed = true; // the window is still shown
    }
    ui_->showMainWindow();
    saveAtClose_ = false;
    state_ = kDsEnabled;
    return setupFailed ? SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE) : TWRC_SUCCESS;
}

TW_UINT16 CDataSource::EnableDSUIOnly(pTW_IDENTITY, TW_MEMREF) {
    if (state_ != kDsOpen) return SeqError();
    std::unique_ptr<KdUIController> controller = CreateUIController();
    if (!controller) return SetConditionCode(TWCC_OPERATIONERROR, TWRC_FAILURE);
    RegisterNotifications();
    showUI_ = false;
    saveAtClose_ = false;
    transferCount_ = 0;
    kdf::Dictionary param;
    if (!SetupUserInterfaceParameters(param)) {
        if (notificationHandler_) notificationHandler_->RemoveNotificationHandlers();
        return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    }
    ui_ = std::move(controller);
    bool setupFailed = false;
    try {
        ui_->setupMainUI(param, false);
    } catch (const kdf::Exception&) {
        setupFailed = true;
    }
    ui_->showMainWindow();
    state_ = kDsEnabled;
    return setupFailed ? SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE) : TWRC_SUCCESS;
}

TW_UINT16 CDataSource::DisableDS(pTW_IDENTITY, TW_MEMREF) {
    if (state_ != kDsEnabled) return SeqError();
    if (ui_) kdf::RunLoop::current().cancelPerforms(ui_.get());
    if (showUI_ && pool_ && ui_ && ui_->isMainWindowVisible()) SaveCustomCapabilities();
    ReleaseUIController();
    if (notificationHandler_) notificationHandler_->RemoveNotificationHandlers();
    state_ = kDsOpen;
    return TWRC_SUCCESS;
}

// ---- Notifications and callbacks -------------------------------------------------------------

void CDataSourceNotificationHandler::AddNotificationHandler(Member member, const std::string& name) {
    members_[name] = member;
    tokens_[name] = kdf::NotificationCenter::defaultCenter().addObserver(
        name, [this](const kdf::Notification& n) { HandleNotification(n); });
}

void CDataSourceNotificationHandler::RemoveNotificationHandlers() {
    // Moved out first: removing may happen from inside one of the handlers.
    auto tokens = std::move(tokens_);
    tokens_.clear();
    members_.clear();
    for (auto& [name, token] : tokens) token.remove();
}

void CDataSourceNotificationHandler::HandleNotification(const kdf::Notification& notification) {
    const auto it = members_.find(notification.name());
    if (it == members_.end()) return;
    const Member member = it->second;
    CDataSource* const dataSource = dataSource_;
    kdf::Dictionary* const userInfo = notification.userInfo();
    // The member may close the data source and delete this handler: only
    // locals are used after the call, and the data source itself lives on
    // until the scope ends.
    TW_UINT16 rc;
    {
        const CDataSource::CallScope scope;
        rc = (dataSource->*member)(notification.object());
    }
    if (!userInfo) return;
    const auto result = userInfo->find(kNotificationResultKey);
    if (result == userInfo->end()) return;
    if (kdf::Dictionary* answer = result->second.mutableDictionary())
        (*answer)[kNotificationCodeKey] = kdf::Value(static_cast<int>(rc));
}

TW_UINT16 CDataSource::HandleXferReadyNotification(const kdf::Value* object) {
    return HandleNotification(MSG_XFERREADY, object);
}
TW_UINT16 CDataSource::HandleCloseRequestNotification(const kdf::Value* object) {
    return HandleNotification(MSG_CLOSEDSREQ, object);
}
TW_UINT16 CDataSource::HandleCloseDsOkayNotification(const kdf::Value* object) {
    return HandleNotification(MSG_CLOSEDSOK, object);
}
TW_UINT16 CDataSource::HandleDeviceEventNotification(const kdf::Value* object) {
    return HandleNotification(MSG_DEVICEEVENT, object);
}

TW_UINT16 CDataSource::HandleNotification(TW_UINT16 message, const kdf::Value* object) {
    TW_CALLBACK record{};
    record.Message = static_cast<TW_INT16>(message);
    if (pool_) {
        bool save = false;
        if (showUI_) {
            const bool requestSaves = message == MSG_CLOSEDSREQ && object && object->toBool().value_or(false);
            save = message == MSG_XFERREADY || message == MSG_CLOSEDSOK || requestSaves;
        } else {
            save = message == MSG_CLOSEDSOK;
        }
        if (save) SaveCustomCapabilities();
    }
    if (message == MSG_XFERREADY) {
        pending_ = true;
        state_ = kDsXferReady;
        imageInfoValid_ = false;
    }
    return InvokeCallback(&record, object);
}

TW_UINT16 CDataSource::InvokeCallback(TW_CALLBACK* record, const kdf::Value*) {
    const TW_UINT16 message = static_cast<TW_UINT16>(record->Message);
    const auto main = kdf::Bundle::main();
    std::error_code ec;
    const auto parent = std::filesystem::path(OwnBundleFolder()).parent_path();
    if (main && !parent.empty() &&
        std::filesystem::equivalent(parent, std::filesystem::path(main->privateFrameworksPath()), ec) && !ec) {
        kdf::Dictionary userInfo{
            {"ORIGIN", kdf::Value(kdf::Pointer{&identity_})},
            {"DG", kdf::Value(static_cast<int>(DG_CONTROL))},
            {"DAT", kdf::Value(static_cast<int>(DAT_CALLBACK))},
            {"MSG", kdf::Value(static_cast<int>(MSG_INVOKE_CALLBACK))},
            {"DATA", kdf::Value(kdf::Pointer{record})},
        };
        kdf::NotificationCenter::defaultCenter().post(kDsmNotification, nullptr, nullptr, &userInfo);
        return TWRC_SUCCESS;
    }
    const DSMENTRYPROC dsmEntry = entryPoint_.DSM_Entry;
    if (!dsmEntry) return SetConditionCode(TWCC_BUMMER, TWRC_FAILURE);
    // Copies: the host may close the data source from its callback.
    TW_IDENTITY self = identity_;
    TW_IDENTITY host = host_;
    return dsmEntry(&self, &host, DG_CONTROL, DAT_NULL, message, nullptr);
}

// ---- Pending transfers and the rest of the control triplets -----------------------------------

TW_INT32 CDataSource::GetPendingDocumentCount() { return pending_ ? 1 : 0; }

TW_UINT16 CDataSource::GetPendingXfers(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    auto* xfers = Record<TW_PENDINGXFERS>(data);
    if (!xfers) return BadValue();
    xfers->Count = static_cast<TW_UINT16>(pending_ ? GetPendingDocumentCount() : 0);
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::PendingEndXfers(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsXferReady, kDsTransferring)) return SeqError();
    auto* xfers = Record<TW_PENDINGXFERS>(data);
    if (!xfers) return BadValue();
    pending_ = false;
    imageInfoValid_ = false;
    const TW_INT32 count = GetPendingDocumentCount();
    xfers->Count = static_cast<TW_UINT16>(count);
    if (count != 0) {
        state_ = kDsXferReady;
        pending_ = true;
    } else {
        state_ = kDsEnabled;
    }
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::ResetPendingXfers(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsXferReady, kDsTransferring)) return SeqError();
    auto* xfers = Record<TW_PENDINGXFERS>(data);
    if (!xfers) return BadValue();
    if (pending_) {
        pending_ = false;
        state_ = kDsEnabled;
    }
    xfers->Count = 0;
    imageInfoValid_ = false;
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::SetupMemXfer(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsXferReady)) return SeqError();
    auto* setup = Record<TW_SETUPMEMXFER>(data);
    if (!setup) return BadValue();
    TW_UINT32 minSize = 32768, maxSize = 0xFFFFFFFF, preferred = 0x200000;
    const TW_INT32 width = imageInfo_.ImageWidth;
    const TW_INT32 length = imageInfo_.ImageLength;
    // A failed image information leaves width -1 and no usable line size:
    // the fixed sizes stand then.
    if (imageInfoValid_ && width > 0 && length > 0 && bytesPerLine_ > 0) {
        const TW_FIX32 yFix = imageInfo_.YResolution;
        const double yResolution = yFix.Whole + yFix.Frac / 65536.0;
        const TW_UINT32 limit = yResolution > 0 && length / yResolution > 14.0 ? 0x400000u : 0xE00000u;
        const TW_UINT32 lines = std::min<TW_UINT32>(static_cast<TW_UINT32>(length), limit / bytesPerLine_);
        const TW_UINT32 size = lines * static_cast<TW_UINT32>(bytesPerLine_);
        minSize = std::min<TW_UINT32>(size, 32768);
        maxSize = std::max<TW_UINT32>(size, 0x200000);
        preferred = size;
    }
    setup->MinBufSize = minSize;
    setup->MaxBufSize = maxSize;
    setup->Preferred = preferred;
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::GetStatus(pTW_IDENTITY, TW_MEMREF data) {
    auto* status = Record<TW_STATUS>(data);
    if (!status) return BadValue();
    status->ConditionCode = conditionCode_;
    status->Reserved = 0;
    conditionCode_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::GetXferGroup(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsXferReady)) return SeqError();
    auto* group = Record<TW_UINT32>(data);
    if (!group) return BadValue();
    *group = DG_IMAGE;
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::GetDeviceEvent(pTW_IDENTITY, TW_MEMREF) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
}

TW_UINT16 CDataSource::PassThru(pTW_IDENTITY, TW_MEMREF) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
}

// ---- Image information and transfers --------------------------------------------------------
// The page work is the scan session's; a data source without one has no
// page to describe or send.

TW_UINT16 CDataSource::GetImageInfo(pTW_IDENTITY, TW_MEMREF) {
    if (!InState(kDsXferReady, kDsTransferring)) return SeqError();
    return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
}

TW_UINT16 CDataSource::ImageMemXfer(pTW_IDENTITY, TW_MEMREF) {
    if (!InState(kDsXferReady, kDsTransferring)) return SeqError();
    return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
}

TW_UINT16 CDataSource::ImageFileXfer(pTW_IDENTITY, TW_MEMREF) {
    if (!InState(kDsXferReady, kDsTransferring)) return SeqError();
    return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
}

TW_UINT16 CDataSource::ImageNativeXfer(pTW_IDENTITY, TW_MEMREF) { return TWRC_SUCCESS; }

// ---- Saved settings -----------------------------------------------------------------------------

bool CDataSource::LoadCustomCapabilities() { return ::LoadCustomCapabilities(pool_.get()); }
bool CDataSource::SaveCustomCapabilities() { return ::SaveCustomCapabilities(pool_.get()); }
