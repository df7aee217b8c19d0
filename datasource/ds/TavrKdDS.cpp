#include "TavrKdDS.h"

#include "CapData.h"
#include "CapHelpers.h"
#include "CapTables.h"
#include "ClientApp.h"
#include "KdTwainCustom.h"

#include "foundation/Bundle.h"
#include "foundation/Preferences.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"

#include <cmath>
#include <cstring>

namespace {

using K = CTavrKdDS;
using H = CDataSource::CapHandler;
const CDataSource::SCapHandler sKdDSCapHandlers[] = {
    {CAP_FEEDERENABLED, static_cast<H>(&K::HandleFeederEnabled)},
    {ICAP_XRESOLUTION, static_cast<H>(&K::HandleResolution)},
    {ICAP_YRESOLUTION, static_cast<H>(&K::HandleResolution)},
    {ICAP_THRESHOLD, static_cast<H>(&K::HandleThreshold)},
    {ICAP_MINIMUMWIDTH, &CDataSource::HandlePhysicalSize},
    {ICAP_MINIMUMHEIGHT, &CDataSource::HandlePhysicalSize},
    {CAP_XFERCOUNT, static_cast<H>(&K::HandleXferCount)},
    {CAP_DUPLEXENABLED, static_cast<H>(&K::HandleDuplexEnabled)},
    {CAP_AUTOFEED, static_cast<H>(&K::HandleAutoFeed)},
    {CAP_AUTOSCAN, static_cast<H>(&K::HandleAutoFeed)},
    {ICAP_AUTOMATICDESKEW, static_cast<H>(&K::HandleAutomaticDeskew)},
    {ICAP_SUPPORTEDSIZES, static_cast<H>(&K::HandleSupportedSize)},
    {CCAP_TVKM_PAPERSIZE, static_cast<H>(&K::HandleDocumentSize)},
    {CCAP_TVKM_SCANAREA_X, static_cast<H>(&K::HandleScanArea)},
    {CCAP_TVKM_SCANAREA_Y, static_cast<H>(&K::HandleScanArea)},
    {CCAP_TVKM_SCANAREA_WIDTH, static_cast<H>(&K::HandleScanArea)},
    {CCAP_TVKM_SCANAREA_HEIGHT, static_cast<H>(&K::HandleScanArea)},
    {ICAP_BRIGHTNESS, static_cast<H>(&K::HandleToneSettings)},
    {ICAP_CONTRAST, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVK_DROPOUT, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVK_COLORENHANCE, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_GRAYCURVE, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_REDCURVE, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_GREENCURVE, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_BLUECURVE, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_GRAYGAMMA, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_REDGAMMA, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_GREENGAMMA, static_cast<H>(&K::HandleToneSettings)},
    {CCAP_TVKM_BLUEGAMMA, static_cast<H>(&K::HandleToneSettings)},
};
[[maybe_unused]] constexpr std::size_t KDDSCAPHANDLERS_COUNT = sizeof sKdDSCapHandlers / sizeof sKdDSCapHandlers[0];

// ICAP_SUPPORTEDSIZES of document sizes 0 to 9.
constexpr TW_UINT16 kSupportedSizeOfDocument[10] = {1, 5, 1, 13, 1, 2, 39, 1, 4, 3};

constexpr TW_UINT16 kCurveIds[] = {CCAP_TVKM_GRAYCURVE, CCAP_TVKM_REDCURVE, CCAP_TVKM_GREENCURVE,
                                   CCAP_TVKM_BLUECURVE, kBackGrayCurve,     kBackRedCurve,
                                   kBackGreenCurve,     kBackBlueCurve};

constexpr double kThresholdToBrightness = 7.847059;

int HostId() { return CClientApp::CurrentHostId(); }
bool HostIsBackgroundOnly() { return CClientApp::CurrentIsBackgroundOnly(); }

TW_UINT16 Accept(pTW_CAPABILITY capability, CCapability* container, TW_UINT16* handled) {
    const TW_UINT16 cc = container->AcceptsNativeContainer(capability->ConType, capability->hContainer);
    if (cc == TWCC_SUCCESS) *handled = 1; // the container holds the value already
    return cc;
}

// A counted string of UTF-16 code units (the favourite name) as UTF-8.
std::string CountedUtf16ToUtf8(const unsigned char* item, std::size_t itemSize) {
    const std::size_t count = std::min<std::size_t>(item[0], (itemSize - 1) / 2);
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = item[1 + 2 * i] | (item[2 + 2 * i] << 8);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
            const std::uint32_t low = item[3 + 2 * i] | (item[4 + 2 * i] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// An array of dictionaries from a preferences entry; anything else is
// skipped.
kdf::Array DictionariesOf(const kdf::Dictionary& values, const char* key) {
    kdf::Array out;
    const kdf::Value* entry = kdf::find(values, key);
    if (!entry || !entry->array()) return out;
    for (const kdf::Value& element : *entry->array())
        if (element.dictionary()) out.push_back(element);
    return out;
}

} // namespace

TW_UINT16 SupportedSizeOfDocumentSize(TW_INT32 documentSize) {
    return documentSize >= 0 && documentSize < 10 ? kSupportedSizeOfDocument[documentSize] : 1;
}

TW_INT32 DocumentSizeOfSupportedSize(TW_UINT16 supportedSize) {
    switch (supportedSize) {
    case 2: return 5;
    case 3: return 9;
    case 4: return 8;
    case 5: return 1;
    case 13: return 3;
    case 39: return 6;
    default: return 0;
    }
}

CTavrKdDS::CTavrKdDS() : deviceEvent_(TWDE_TVK_NONE) {}

CTavrKdDS::~CTavrKdDS() { InvalidateXferReadyTimer(); }

TW_INT32 CTavrKdDS::CapInt(TW_UINT16 id) const { return GetCapSIntValue(pool_.get(), id); }

CDataSource::CapHandler CTavrKdDS::GetCapHandler(TW_UINT16 id) const {
    if (const CapHandler generic = CDataSource::GetCapHandler(id)) return generic;
    for (const SCapHandler& row : sKdDSCapHandlers)
        if (row.cap == id) return row.handler;
    return nullptr;
}

TW_UINT16 CTavrKdDS::CapID(TW_UINT16 id) const {
    if (HostId() == CClientApp::kHostScanModule && id == CCAP_TVK_RECOGNIZE_DIRECTION) return 0xFFFF;
    const TW_UINT16 back = id | kBackSideTwinBit;
    if (pool_ && CapInt(CCAP_TVKM_WINDOW) == -1 && pool_->GetCapability(back)) return back;
    return id;
}

// ---- Set-up ------------------------------------------------------------------------------------

bool CTavrKdDS::SetupCapabilities() {
    pool_ = MakeKdCapPool();
    if (!pool_) return false;
    pool_->SetFlatteningFunction(&FlattenCapabilities);
    pool_->SetUnflatteningFunction(&UnflattenCapabilities);
    if (CCapability* supported = pool_->GetCapability(CAP_SUPPORTEDCAPS)) {
        for (std::size_t i = 0; i < kKdDSCapCount; ++i) {
            const TW_UINT16 id = sKdDSCapDesc[i].cap;
            if (id < CAP_CUSTOMBASE) supported->SetValue(&id, kCapCurrent);
        }
        // Answered by the capability triplets themselves (DeviceEvents.cpp).
        supported->SetValue(&CAP_DEVICEEVENT, kCapCurrent);
    }
    const kdf::Dictionary global = kdf::globalDomain();
    const kdf::Value* units = kdf::find(global, kdf::kMeasurementUnitsKey);
    if (units && units->string() && *units->string() == "Centimeters") {
        if (CCapability* size = pool_->GetCapability(CCAP_TVKM_PAPERSIZE)) {
            size->WriteValue(0, kCapDefault);
            size->WriteValue(0, kCapCurrent);
        }
    }
    // The tone curves start as the identity, front and back.
    TW_STR255 linear;
    MakeLinearTable(reinterpret_cast<unsigned char*>(linear));
    for (TW_UINT16 id : kCurveIds) {
        if (CCapability* curve = pool_->GetCapability(id)) {
            curve->SetValue(linear, kCapDefault);
            curve->SetValue(linear, kCapCurrent);
        }
    }
    const kdf::PreferencesContent prefs = kdf::readPreferencesFile(kKdPreferencesName);
    userGammaDatas_ = DictionariesOf(prefs.values, "UserGammaDatas");
    kdf::Array original;
    if (const auto own = kdf::Bundle::atPath(OwnBundleFolder())) {
        const std::string path = own->pathForResource("KdPaperSize", "plist");
        if (!path.empty()) {
            if (const auto list = kdf::readPropertyListFile(path); list && list->array()) original = *list->array();
        }
    }
    supportedPapers_.clear();
    supportedPapers_["OriginalPapers"] = kdf::Value(std::move(original));
    supportedPapers_["CustomPapers"] = kdf::Value(DictionariesOf(prefs.values, "CustomPapers"));
    return true;
}

bool CTavrKdDS::SetupUserInterfaceParameters(kdf::Dictionary& param) {
    if (!CDataSource::SetupUserInterfaceParameters(param)) return false;
    param[kUIParamScannerObject] = kdf::Value(kdf::Pointer{scanner_});
    param[kUIParamSupportedPapers] = kdf::Value(supportedPapers_);
    param[kUIParamUserGammaDatas] = kdf::Value(userGammaDatas_);
    return true;
}

bool CTavrKdDS::GetCurrentPaperSize(float* width, float* height) {
    *width = *height = 0;
    const TW_INT32 size = CapInt(CCAP_TVKM_PAPERSIZE);
    if (size == kCustomPaperSize && CapInt(CCAP_TVK_DETECTPAGESIZE) == 0) {
        if (FindCustomPaper(width, height)) return true;
        // No such paper, or one larger than the scanner: the default paper.
        TW_INT32 fallback = 0;
        const CCapability* documentSize = pool_ ? pool_->GetCapability(CCAP_TVKM_PAPERSIZE) : nullptr;
        if (!documentSize || !documentSize->ReadValue(&fallback, kCapDefault) || fallback < 0) return false;
        return GetOriginalPaperSize(fallback, width, height);
    }
    if (size < 0) {
        // Measured or the largest: the scanner's whole area.
        *width = GetCapFloatValue(pool_.get(), ICAP_PHYSICALWIDTH);
        *height = GetCapFloatValue(pool_.get(), ICAP_PHYSICALHEIGHT);
        return true;
    }
    return GetOriginalPaperSize(size, width, height);
}

bool CTavrKdDS::FindCustomPaper(float* width, float* height) const {
    unsigned char item[sizeof(TW_STR64)] = {};
    GetCapStrValue(pool_.get(), CCAP_TVKM_CUSTOMPAGESIZENAME, reinterpret_cast<char*>(item));
    const std::string name = CountedUtf16ToUtf8(item, sizeof item);
    if (name.empty()) return false;
    const float physicalWidth = GetCapFloatValue(pool_.get(), ICAP_PHYSICALWIDTH);
    const float physicalHeight = GetCapFloatValue(pool_.get(), ICAP_PHYSICALHEIGHT);
    // The window writes the list to the preferences when the user edits it.
    const kdf::PreferencesContent prefs = kdf::readPreferencesFile(kKdPreferencesName);
    for (const kdf::Value& paper : DictionariesOf(prefs.values, "CustomPapers")) {
        const kdf::Dictionary& entry = *paper.dictionary();
        const kdf::Value* n = kdf::find(entry, "Name");
        if (!n || !n->string() || *n->string() != name) continue;
        const kdf::Value* w = kdf::find(entry, "Width");
        const kdf::Value* h = kdf::find(entry, "Height");
        const double pw = w ? w->toReal().value_or(0) : 0, ph = h ? h->toReal().value_or(0) : 0;
        if (!(pw > 0 && ph > 0 && pw <= physicalWidth && ph <= physicalHeight)) return false;
        *width = static_cast<float>(pw);
        *height = static_cast<float>(ph);
        return true;
    }
    return false;
}

void CTavrKdDS::ApplyCustomPaperFallback() {
    if (!pool_ || CapInt(CCAP_TVKM_PAPERSIZE) != kCustomPaperSize || CapInt(CCAP_TVK_DETECTPAGESIZE) != 0) return;
    float width = 0, height = 0;
    if (FindCustomPaper(&width, &height)) return;
    // The default document size, and its paper as the frame.
    if (CCapability* documentSize = pool_->GetCapability(CCAP_TVKM_PAPERSIZE)) documentSize->Reset();
    if (!GetCurrentPaperSize(&width, &height)) return;
    SetCapFloatValue(pool_.get(), CCAP_TVKM_SCANAREA_X, 0);
    SetCapFloatValue(pool_.get(), CCAP_TVKM_SCANAREA_Y, 0);
    SetCapFloatValue(pool_.get(), CCAP_TVKM_SCANAREA_WIDTH, width);
    SetCapFloatValue(pool_.get(), CCAP_TVKM_SCANAREA_HEIGHT, height);
}

bool CTavrKdDS::GetOriginalPaperSize(TW_INT32 size, float* width, float* height) const {
    const kdf::Value* papers = kdf::find(supportedPapers_, "OriginalPapers");
    if (!papers || !papers->array()) return false;
    for (const kdf::Value& paper : *papers->array()) {
        const kdf::Dictionary* entry = paper.dictionary();
        if (!entry) continue;
        const kdf::Value* id = kdf::find(*entry, "ID");
        if (!id || id->toInteger() != size) continue;
        const kdf::Value* w = kdf::find(*entry, "Width");
        const kdf::Value* h = kdf::find(*entry, "Height");
        *width = w ? static_cast<float>(w->toReal().value_or(0)) : 0;
        *height = h ? static_cast<float>(h->toReal().value_or(0)) : 0;
        return true;
    }
    return false;
}

void CTavrKdDS::TakeSnapshot() {
    TW_INT32 version = 0;
    snapshot_ = pool_ ? pool_->Flatten(&version) : std::nullopt;
}

void CTavrKdDS::CheckCapabilities(bool showUI) {
    if (!pool_) return;
    unsigned char name[sizeof(TW_STR64)] = {};
    GetCapStrValue(pool_.get(), CCAP_TVKM_FAVORITENAME, reinterpret_cast<char*>(name));
    const bool fullAuto = name[0] == 255;
    if (!((name[0] != 0 && showUI) || (!showUI && fullAuto))) return;
    kdf::Bytes record;
    TW_INT32 version = 0;
    if (fullAuto) {
        if (!snapshot_) return;
        record = *snapshot_;
        version = 1;
    } else {
        const std::string wanted = CountedUtf16ToUtf8(name, sizeof name);
        const kdf::PreferencesContent prefs = kdf::readPreferencesFile(kKdPreferencesName);
        bool found = false;
        for (const kdf::Value& entry : DictionariesOf(prefs.values, kFavoriteSettingsKey)) {
            const kdf::Dictionary& favourite = *entry.dictionary();
            const kdf::Value* n = kdf::find(favourite, kFavoriteNameKey);
            const kdf::Value* data = kdf::find(favourite, kFavoriteDataKey);
            const kdf::Value* v = kdf::find(favourite, kFavoriteDataVersionKey);
            if (!n || !n->string() || *n->string() != wanted || !data || !data->bytes()) continue;
            record = *data->bytes();
            version = static_cast<TW_INT32>(v ? v->toIntegerOrDecimalString().value_or(0) & 0x7FFFFFFF : 0);
            found = true;
            break;
        }
        if (!found) return;
    }
    CCapPool reference;
    if (!reference.Merge(pool_.get())) return;
    reference.SetUnflatteningFunction(&UnflattenCapabilities);
    reference.Unflatten(record, version);
    // The name itself is no setting: a record flattened before the user
    // named it still describes the same settings.
    const TW_UINT16 excluded[] = {CCAP_TVKM_FAVORITENAME};
    if (!pool_->IsEqualToCapValues(&reference, excluded, 1)) {
        const char empty[sizeof(TW_STR64)] = {};
        SetCapStrValue(pool_.get(), CCAP_TVKM_FAVORITENAME, empty);
    }
}

// ---- Open, enable, disable, close ------------------------------------------------------------

TW_UINT16 CTavrKdDS::OpenDS(pTW_IDENTITY origin, TW_MEMREF data) {
    const TW_UINT16 rc = CDataSource::OpenDS(origin, data);
    InvalidateXferReadyTimer();
    scanMode_ = 0;
    stop_ = true;
    deviceEvent_ = TWDE_TVK_NONE;
    if (rc == TWRC_SUCCESS) TakeSnapshot();
    return rc;
}

TW_UINT16 CTavrKdDS::CloseDS(pTW_IDENTITY origin, TW_MEMREF data) {
    InvalidateXferReadyTimer();
    stop_ = false;
    snapshot_.reset();
    return CDataSource::CloseDS(origin, data); // deletes this
}

void CTavrKdDS::RegisterOwnNotifications() {
    if (!notificationHandler_) return;
    using M = CDataSourceNotificationHandler::Member;
    notificationHandler_->AddNotificationHandler(static_cast<M>(&K::HandleApplicationWillTerminateNotification),
                                                 kdf::kApplicationWillTerminateNotification);
    notificationHandler_->AddNotificationHandler(static_cast<M>(&K::HandleDestroyImageRequestNotification),
                                                 kDestroyImageRequestNotification);
}

TW_UINT16 CTavrKdDS::EnableDS(pTW_IDENTITY origin, TW_MEMREF data) {
    const CClientApp* app = CClientApp::Current();
    if (!app) return SeqError();
    const auto* ui = static_cast<const TW_USERINTERFACE*>(data);
    if (!ui) return BadValue();
    const bool showUI = ui->ShowUI != 0;
    if (showUI && app->HostId() == CClientApp::kHostImageCaptureTwain && InState(kDsEnabled, kDsTransferring))
        return TWRC_SUCCESS;
    // Nothing changes outside state 1.
    if (state_ != kDsOpen) return SeqError();
    if (showUI && CapInt(CCAP_TVK_BLANKSKIP) != 0 && CapInt(CAP_DUPLEXENABLED) == 0)
        SetCapUIntValue(pool_.get(), CAP_DUPLEXENABLED, 1);
    if (!showUI && app->IsDisableDetectPageType()) SetCapSIntValue(pool_.get(), CCAP_TVK_DETECTPAGETYPE, 0);
    ShowRollerExchangeAlert();
    CheckCapabilities(showUI);
    scanMode_ = 0;
    pendingImageCount_ = 0;
    imageCountAtAnnounce_ = 0;
    deviceEvent_ = TWDE_TVK_NONE;
    RegisterOwnNotifications();
    return CDataSource::EnableDS(origin, data);
}

TW_UINT16 CTavrKdDS::EnableDSUIOnly(pTW_IDENTITY origin, TW_MEMREF data) {
    if (state_ == kDsOpen) {
        ShowRollerExchangeAlert();
        CheckCapabilities(true);
        RegisterOwnNotifications();
    }
    return CDataSource::EnableDSUIOnly(origin, data);
}

TW_UINT16 CTavrKdDS::DisableDS(pTW_IDENTITY origin, TW_MEMREF data) {
    const TW_UINT16 rc = CDataSource::DisableDS(origin, data);
    if (rc == TWRC_SUCCESS) TakeSnapshot();
    return rc;
}

TW_UINT16 CTavrKdDS::HandleApplicationWillTerminateNotification(const kdf::Value*) {
    if (InState(kDsXferReady, kDsTransferring)) {
        // Disable is served in state 2 only: end the transfers first.
        TW_PENDINGXFERS xfers{};
        ResetPendingXfers(nullptr, &xfers);
    }
    if (state_ == kDsEnabled) DisableDS(nullptr, nullptr);
    if (state_ == kDsOpen) CloseDS(nullptr, nullptr); // deletes this
    return TWRC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleDestroyImageRequestNotification(const kdf::Value*) {
    RecoverScan();
    return TWRC_SUCCESS;
}

// ---- Transfer-ready, pending transfers, device events ---------------------------------------

void CTavrKdDS::ScheduleXferReadyTimer() {
    InvalidateXferReadyTimer();
    xferReadyTimer_ = kdf::RunLoop::current().scheduleTimer(kdf::Seconds(0.2), false, kdf::kCommonModes,
                                                            [](kdf::Timer&) {
                                                                kdf::NotificationCenter::defaultCenter().post(
                                                                    kXferReadyNotification);
                                                            });
}

void CTavrKdDS::InvalidateXferReadyTimer() {
    if (xferReadyTimer_) xferReadyTimer_->invalidate();
    xferReadyTimer_.reset();
}

TW_UINT16 CTavrKdDS::InvokeCallback(TW_CALLBACK* record, const kdf::Value* data) {
    if (static_cast<TW_UINT16>(record->Message) != MSG_XFERREADY) return CDataSource::InvokeCallback(record, data);
    stop_ = true;
    kdf::Value replaced;
    if (!showUI_) {
        if (CapInt(CCAP_TVK_PRESCAN) == 1 && !ui_ && !HostIsBackgroundOnly()) {
            replaced = kdf::Value(kdf::Dictionary{{kXferReadyScanModeKey, kdf::Value(int(kScanModeScanToWindow))}});
            data = &replaced;
        } else if (!data) {
            replaced = kdf::Value(kdf::Dictionary{{kXferReadyScanModeKey, kdf::Value(int(kScanModeScan))}});
            data = &replaced;
        }
    }
    int mode = kScanModeScan;
    TW_INT32 announced = 0;
    if (const kdf::Dictionary* object = data ? data->dictionary() : nullptr) {
        if (const kdf::Value* m = kdf::find(*object, kXferReadyScanModeKey)) mode = static_cast<int>(m->toInteger().value_or(0));
        if (const kdf::Value* c = kdf::find(*object, kXferReadyPendingImageCountKey))
            announced = static_cast<TW_INT32>(c->toInteger().value_or(0));
    }
    scanMode_ = mode;
    if (mode == kScanModeComplete || mode == kScanModeContinue) pendingImageCount_ = imageCountAtAnnounce_ = announced;
    if (mode == kScanModePrescan || mode == kScanModeScanToWindow) {
        TW_UINT16 rc;
        for (;;) {
            rc = Prescan();
            if (rc == TWRC_CHECKSTATUS && conditionCode_ == TWCC_PAPERJAM) {
                if (ShowNoPageAlert()) {
                    conditionCode_ = TWCC_PAPERJAM;
                    continue;
                }
                rc = showUI_ ? TWRC_SUCCESS : TWRC_CANCEL;
            } else if (rc == TWRC_FAILURE) {
                ShowAlert(conditionCode_ == TWCC_LOWMEMORY ? 2 : 1);
            }
            break;
        }
        if (mode == kScanModePrescan) pendingImageCount_ = 0;
        if (ui_) {
            ui_->setShield(false);
            ui_->hideProgressWindow();
            ui_->hideScanPanel();
        }
        pending_ = false;
        state_ = kDsEnabled;
        return rc;
    }
    const bool continueMode = CapInt(CCAP_TVK_FEEDER_JAMLESS) != 0 && !HostIsBackgroundOnly();
    if (CapInt(CCAP_TVK_BLANKSKIP) != 0 || continueMode) {
        if (PerformSkipBlankPages()) {
            RecoverScan();
            if (ui_) ui_->closeRequest(false);
            pending_ = false;
            state_ = kDsEnabled;
            return HostId() == CClientApp::kHostTwainBridge ? TWRC_SUCCESS : TWRC_CANCEL;
        }
    }
    if (ui_) ui_->suspendProgressWindow();
    return CDataSource::InvokeCallback(record, data);
}

TW_INT32 CTavrKdDS::GetPendingDocumentCount() {
    const TW_INT32 count = CapInt(CAP_XFERCOUNT);
    if (count > 0) return std::max<TW_INT32>(count - transferCount_, 0);
    if (count < 0) {
        if (pending_ || pendingImageCount_ > 0) return -1;
        return QueryScannerPendingDocuments();
    }
    return CDataSource::GetPendingDocumentCount();
}

TW_UINT16 CTavrKdDS::ResetPendingXfers(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!InState(kDsXferReady, kDsTransferring)) return SeqError();
    auto* xfers = static_cast<TW_PENDINGXFERS*>(data);
    if (!xfers) return BadValue();
    if (state_ == kDsTransferring && xferReadyTimer_ && xferReadyTimer_->isValid()) state_ = kDsXferReady;
    InvalidateXferReadyTimer();
    const TW_UINT16 rc = CDataSource::ResetPendingXfers(origin, data);
    if (rc != TWRC_SUCCESS) return rc;
    if (GetScannerState() >= 2) {
        AbortScanner();
        RecoverScan();
    }
    pending_ = false;
    state_ = kDsEnabled;
    xfers->Count = 0;
    deviceEvent_ = TWDE_TVK_NONE;
    return TWRC_SUCCESS;
}

// ---- Capability handlers -------------------------------------------------------------------------

TW_UINT16 CTavrKdDS::HandleFeederEnabled(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                         TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    if (GetCapUIntValue(pool_.get(), CAP_FEEDERENABLED) == 0) {
        SetCapUIntValue(pool_.get(), CAP_AUTOFEED, 0);
        SetCapUIntValue(pool_.get(), CAP_AUTOSCAN, 0);
    }
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleResolution(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                      TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    float resolution = 0;
    container->ReadValue(&resolution);
    const TW_UINT16 other = capability->Cap == ICAP_XRESOLUTION ? ICAP_YRESOLUTION : ICAP_XRESOLUTION;
    SetCapFloatValue(pool_.get(), other, resolution);
    const TW_INT32 moire = CapInt(CCAP_TVK_REDUCE_MOIRE);
    if (resolution > 300)
        SetCapSIntValue(pool_.get(), CCAP_TVK_REDUCE_MOIRE, 1);
    else if (moire == 2 && resolution == 300)
        SetCapSIntValue(pool_.get(), CCAP_TVK_REDUCE_MOIRE, 3);
    SetCapUIntValue(pool_.get(), CCAP_TVK_AUTORESOLUTION, 0);
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleThreshold(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled) {
    if (msg == MSG_GET) {
        const TW_UINT16 brightnessId = CapID(ICAP_BRIGHTNESS);
        const float brightness = GetCapFloatValue(pool_.get(), brightnessId);
        const float step = GetCapStepSize(pool_.get(), brightnessId);
        if (step > 0) container->WriteValue(std::trunc((brightness + 1000.0f) / step + 1.5f));
        return TWCC_SUCCESS;
    }
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (CapUInt(ICAP_PIXELTYPE) != TWPT_BW) {
        *handled = 1; // only black-and-white uses a threshold
        return TWCC_SUCCESS;
    }
    if (const TW_UINT16 cc = Accept(capability, container, handled)) {
        TW_UINT32 item = 0;
        TW_UINT16 itemType = 0;
        if (HostId() != CClientApp::kHostTwainBridge || !ReadOneValueItem(*capability, &item, sizeof item, &itemType) ||
            itemType != TWTY_UINT16)
            return cc;
        TW_UINT16 value;
        std::memcpy(&value, &item, sizeof value);
        container->WriteValue(static_cast<float>(value));
        *handled = 1;
    }
    float threshold = 0;
    container->ReadValue(&threshold);
    const float brightness = std::trunc(static_cast<float>(threshold * kThresholdToBrightness - 1000.0));
    SetCapFloatValue(pool_.get(), ICAP_BRIGHTNESS, brightness);
    SetCapFloatValue(pool_.get(), kBackBrightness, brightness);
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleXferCount(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    TW_INT32 previous = 0;
    container->ReadValue(&previous);
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    TW_INT32 count = 0;
    container->ReadValue(&count);
    if (count == 0 || count < -1 || count > 32768) {
        container->WriteValue(previous);
        *handled = 0;
        return TWCC_BADVALUE;
    }
    if (count != -1) {
        SetCapUIntValue(pool_.get(), CAP_AUTOFEED, 0);
        SetCapUIntValue(pool_.get(), CAP_AUTOSCAN, 0);
    }
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleDuplexEnabled(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                         TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    if (GetCapUIntValue(pool_.get(), CAP_DUPLEXENABLED) != 0) {
        if (CapInt(CAP_XFERCOUNT) == 1) SetCapSIntValue(pool_.get(), CAP_XFERCOUNT, -1);
        SetCapSIntValue(pool_.get(), CCAP_TVK_FOLDLARGESIZE, 0);
    }
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleAutoFeed(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                    TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    TW_UINT32 on = 0;
    container->ReadValue(&on);
    if (on) SetCapSIntValue(pool_.get(), CAP_XFERCOUNT, -1);
    SetCapUIntValue(pool_.get(), CAP_AUTOFEED, on);
    SetCapUIntValue(pool_.get(), CAP_AUTOSCAN, on);
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleAutomaticDeskew(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                           TW_UINT16* handled) {
    if (msg == MSG_GET) {
        container->WriteValue(CapInt(CCAP_TVK_DESKEW) != 0 ? 1 : 0);
        return TWCC_SUCCESS;
    }
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    TW_UINT32 on = 0;
    container->ReadValue(&on);
    SetCapUIntValue(pool_.get(), CCAP_TVK_DESKEW, on);
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleSupportedSize(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                         TW_UINT16* handled) {
    if (msg == MSG_GET) {
        container->WriteValue(SupportedSizeOfDocumentSize(CapInt(CCAP_TVKM_PAPERSIZE)));
        return TWCC_SUCCESS;
    }
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    TW_UINT32 size = 0;
    container->ReadValue(&size);
    // The document size takes the value through its own handler, which sees
    // the change and fits the frame to the new paper.
    CCapability* documentSize = pool_->GetCapability(CCAP_TVKM_PAPERSIZE);
    if (!documentSize) return TWCC_SUCCESS;
    const TW_INT32 newSize = DocumentSizeOfSupportedSize(static_cast<TW_UINT16>(size));
    TW_CAPABILITY sync{CCAP_TVKM_PAPERSIZE, TWON_ONEVALUE, nullptr};
    if (!AnswerOneValue(&sync, TWTY_INT32, &newSize, sizeof newSize)) return TWCC_LOWMEMORY;
    TW_UINT16 syncHandled = 0;
    HandleDocumentSize(MSG_SET, &sync, documentSize, &syncHandled);
    NativeMemoryFree(sync.hContainer);
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleDocumentSize(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                        TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    TW_INT32 previous = 0;
    container->ReadValue(&previous);
    if (const TW_UINT16 cc = Accept(capability, container, handled)) return cc;
    TW_INT32 size = 0;
    container->ReadValue(&size);
    float width = 0, height = 0;
    GetCurrentPaperSize(&width, &height);
    if (size != previous || width == 0 || height == 0) {
        SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_X, 0);
        SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_Y, 0);
        SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_WIDTH, static_cast<TW_INT32>(width));
        SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_HEIGHT, static_cast<TW_INT32>(height));
    }
    if (state_ == kDsOpen && size != previous) SetCapSIntValue(pool_.get(), CCAP_TVK_DETECTPAGESIZE, 0);
    return TWCC_SUCCESS;
}

void CTavrKdDS::FitFrameToPaper() {
    float paperW = 0, paperH = 0;
    if (!GetCurrentPaperSize(&paperW, &paperH) || paperW <= 0 || paperH <= 0) {
        // An unknown paper keeps the physical size.
        paperW = GetCapFloatValue(pool_.get(), ICAP_PHYSICALWIDTH);
        paperH = GetCapFloatValue(pool_.get(), ICAP_PHYSICALHEIGHT);
    }
    const TW_INT32 left = CapInt(CCAP_TVKM_SCANAREA_X), top = CapInt(CCAP_TVKM_SCANAREA_Y);
    const TW_INT32 w = CapInt(CCAP_TVKM_SCANAREA_WIDTH), h = CapInt(CCAP_TVKM_SCANAREA_HEIGHT);
    if (w > 0 && h > 0 && left >= 0 && top >= 0 && double(left) + w <= double(paperW) &&
        double(top) + h <= double(paperH))
        return;
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_X, 0);
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_Y, 0);
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_WIDTH, static_cast<TW_INT32>(paperW));
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_HEIGHT, static_cast<TW_INT32>(paperH));
}

TW_UINT16 CTavrKdDS::HandleScanArea(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                    TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (CapInt(CCAP_TVKM_CUSTOM_SCANAREA) != 0) return Accept(capability, container, handled);
    float width = 0, height = 0;
    GetCurrentPaperSize(&width, &height);
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_X, 0);
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_Y, 0);
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_WIDTH, static_cast<TW_INT32>(width));
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_HEIGHT, static_cast<TW_INT32>(height));
    *handled = 1;
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandleToneSettings(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                        TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    if (CapInt(CCAP_TVKM_WINDOW) == 0) {
        const TW_UINT16 id = capability->Cap;
        if (CCapability* back = pool_->GetCapability(id | kBackSideTwinBit)) {
            const TW_UINT16 cc = back->AcceptsNativeContainer(capability->ConType, capability->hContainer);
            if (cc != TWCC_SUCCESS) return cc;
        }
    }
    return Accept(capability, container, handled);
}

TW_UINT16 CTavrKdDS::HandleCapFrames(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled) {
    if (msg == MSG_GET) {
        // The answer is the area a scan takes; the stored frame stays as it
        // is (an empty one is fitted when the scan starts).
        const SFrameValues stored = StoredFrame();
        FitFrameToPaper();
        const TW_UINT16 cc = CDataSource::HandleCapFrames(msg, capability, container, handled);
        RestoreFrame(stored);
        return cc;
    }
    const TW_UINT16 cc = CDataSource::HandleCapFrames(msg, capability, container, handled);
    if (msg != MSG_SET || cc != TWCC_SUCCESS) return cc;
    float paperWidth = 0, paperHeight = 0;
    GetCurrentPaperSize(&paperWidth, &paperHeight);
    if (CapInt(CCAP_TVKM_SCANAREA_WIDTH) > paperWidth || CapInt(CCAP_TVKM_SCANAREA_HEIGHT) > paperHeight)
        SetCapSIntValue(pool_.get(), CCAP_TVKM_PAPERSIZE, -1);
    SetCapSIntValue(pool_.get(), CCAP_TVKM_CUSTOM_SCANAREA, 1);
    SetCapSIntValue(pool_.get(), CCAP_TVK_DESKEW, 0);
    SetCapUIntValue(pool_.get(), ICAP_AUTOMATICDESKEW, 0);
    if (CapInt(CCAP_TVK_DETECTPAGESIZE) != 0) {
        SetCapSIntValue(pool_.get(), CCAP_TVK_DETECTPAGESIZE, 0);
        SetCapSIntValue(pool_.get(), CCAP_TVKM_PAPERSIZE, -1);
    }
    SetCapSIntValue(pool_.get(), CCAP_TVK_RECOGNIZE_DIRECTION, 0);
    SetCapSIntValue(pool_.get(), CCAP_TVK_FOLDLARGESIZE, 0);
    return TWCC_SUCCESS;
}

TW_UINT16 CTavrKdDS::HandlePixelType(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled) {
    const TW_UINT16 cc = CDataSource::HandlePixelType(msg, capability, container, handled);
    if (msg == MSG_SET && cc == TWCC_SUCCESS && state_ == kDsOpen) SetCapSIntValue(pool_.get(), CCAP_TVK_DETECTPAGETYPE, 0);
    return cc;
}

TW_UINT16 CTavrKdDS::HandleBitDepth(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                    TW_UINT16* handled) {
    const TW_UINT16 cc = CDataSource::HandleBitDepth(msg, capability, container, handled);
    if (msg == MSG_SET && cc == TWCC_SUCCESS && state_ == kDsOpen) SetCapSIntValue(pool_.get(), CCAP_TVK_DETECTPAGETYPE, 0);
    return cc;
}
