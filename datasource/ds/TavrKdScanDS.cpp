#include "TavrKdScanDS.h"

#include "CapHelpers.h"
#include "ClientApp.h"
#include "DeviceList.h"
#include "KdTwainCustom.h"
#include "PageFiles.h"
#include "TavrKd.h"

#include "foundation/Bundle.h"
#include "foundation/DataObjectRegistry.h"
#include "foundation/Format.h"
#include "foundation/Preferences.h"
#include "foundation/RunLoop.h"

#include <syslog.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace {

int HostId() { return CClientApp::CurrentHostId(); }
bool HostIsBackgroundOnly() { return CClientApp::CurrentIsBackgroundOnly(); }

constexpr double kKeyWaitSeconds = 30;   // a stuck operation-panel key
constexpr double kBatchPollSeconds = 90; // the USB transfer time-out

double SecondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The step index of a brightness or contrast value.
std::uint32_t StepIndex(float value, float step) {
    if (!(step > 0)) return 0;
    return static_cast<std::uint32_t>(std::trunc((value + 1000.0f) / step + 1.5f));
}

TW_FIX32 ToFix32(float value) {
    const TW_UINT32 word = FloatToFix32(value);
    TW_FIX32 fix;
    std::memcpy(&fix, &word, sizeof fix);
    return fix;
}

struct SAlertKeys {
    KdError error;
    const char* message;
    const char* info;
};
constexpr SAlertKeys kAlertKeys[] = {
    {kderr::kOutOfMemory, "Memory Error Message", "Memory Error Info"},
    {kderr::kDeviceLost, "Device Not Found Message", "Device Not Found Info"},
    {kderr::kNotReady, "Not Ready Message", "Not Ready Info"},
    {kderr::kNoDocument, "Medium Not Present Message", "Medium Not Present Info"},
    {kderr::kPaperJam, "Paper Jam Message", "Paper Jam Info"},
    {kderr::kCoverOpen, "Cover Open Message", "Cover Open Info"},
    {kderr::kDoubleFeed, "Double Feed Detect Message", "Double Feed Detect Info"},
    {kderr::kMediumError, "Lamp Error Message", "Lamp Error Info"},
    {kderr::kHardwareError, "Hardware Error Message", "Hardware Error Info"},
    {kderr::kIllegalRequest, "Illegal Request Message", "Illegal Request Info"},
    {kderr::kTimeout, "Time out Error Message", "Time out Error Info"},
    {kderr::kSequenceError, "Command Sequence Error Message", "Command Sequence Error Info"},
    {kderr::kResourceFailure, "System Resource Failure Message", "System Resource Failure Info"},
    {kderr::kSkewDetected, "Skew Detect Message", "Skew Detect Info"},
    {kderr::kUnknown, "Unknown DeviceError Message", "Unknown DeviceError Info"},
};
constexpr KdError kNoPage = 0x800000;

// TWAIN's condition code of a scanner fault, for hosts that learn of it
// only from the answer of their next image triplet.
TW_UINT16 FaultConditionCode(KdError error) {
    switch (error) {
    case kderr::kPaperJam:
    case kderr::kSkewDetected: // the sheet stopped crooked in the path
        return TWCC_PAPERJAM;
    case kderr::kDoubleFeed:
    case kderr::kDoubleFeedDelivered:
        return TWCC_PAPERDOUBLEFEED;
    case kderr::kCoverOpen:
        return TWCC_INTERLOCK;
    case kderr::kNoDocument:
    case kNoPage:
        return TWCC_NOMEDIA;
    case kderr::kOutOfMemory:
        return TWCC_LOWMEMORY;
    case kderr::kDeviceLost:
    case kderr::kDeviceBusy:
    case kderr::kIOError:
    case kderr::kPipeStalled:
    case kderr::kNotReady:
    case kderr::kMediumError:
    case kderr::kHardwareError:
    case kderr::kTimeout:
        return TWCC_CHECKDEVICEONLINE;
    default:
        return TWCC_OPERATIONERROR;
    }
}

// The standard device event of a scanner fault, for hosts that selected it
// through CAP_DEVICEEVENT; 0 for faults TWAIN has no event for (an open
// cover, an empty feeder, low memory).
TW_UINT16 FaultDeviceEvent(KdError error) {
    switch (FaultConditionCode(error)) {
    case TWCC_PAPERJAM: return TWDE_PAPERJAM;
    case TWCC_PAPERDOUBLEFEED: return TWDE_PAPERDOUBLEFEED;
    case TWCC_CHECKDEVICEONLINE: return TWDE_DEVICEOFFLINE;
    default: return 0;
    }
}

// The number the unknown-error text shows.
long UnknownErrorNumber(KdError error) {
    return (error & 0x08000000u) ? static_cast<long>(error & ~0x08000000u) : 0;
}

// Pass-through command codes: four characters, the first most significant.
constexpr TW_UINT32 Code(const char (&c)[5]) {
    return (TW_UINT32(TW_UINT8(c[0])) << 24) | (TW_UINT32(TW_UINT8(c[1])) << 16) |
           (TW_UINT32(TW_UINT8(c[2])) << 8) | TW_UINT32(TW_UINT8(c[3]));
}
static_assert(Code("AbRq") == 0x41625271);

struct SPassThruCommand {
    TW_UINT32 code;
    TW_UINT32 minimumData;
};
constexpr SPassThruCommand kPassThruCommands[] = {
    {Code("AbRq"), 0}, {Code("GtBS"), 4},  {Code("GtDI"), 16}, {Code("GtSd"), sizeof(kdf::DataObjectHandle)},
    {Code("StSd"), sizeof(kdf::DataObjectHandle)}, {Code("GtXL"), 4}, {Code("StXL"), 4}, {Code("RtPC"), 0},
    {Code("RtRC"), 0}, {Code("StSC"), 16}, {Code("StSN"), 16},
};

} // namespace

CTavrKdScanDS::CTavrKdScanDS() = default;

CTavrKdScanDS::~CTavrKdScanDS() {
    RemoveScannerButtonModalTimer();
    // The scanner's last waits run no host code: the data source is gone.
    scannerReleased_ = true;
    if (scanner_) {
        scanner_->FinishScan();
        scanner_->CloseSession();
        delete scanner_;
        scanner_ = nullptr;
    }
}

// ---- Scanner set-up and release -------------------------------------------------------------

bool CTavrKdScanDS::SetupScanner() {
    pendingImageCount_ = imageCountAtAnnounce_ = 0;
    rollerChecked_ = false;
    const auto bundle = kdf::Bundle::atPath(OwnBundleFolder());
    if (!bundle) return false;
    SScannerList* list = nullptr;
    for (const SKdDeviceId& id : KdDeviceIdsFromInfo(bundle->infoDictionary())) {
        SScannerDesc templ{};
        templ.magic = kScannerDescMagic;
        templ.vendorId = id.vendor;
        templ.productId = id.product;
        list = CDocUSBScanner::CreateScannerList(&templ);
        if (list && !list->records.empty()) break;
        CDocUSBScanner::ReleaseScannerList(list);
        list = nullptr;
    }
    if (!list) return false;
    auto scanner = std::make_unique<CTavrKd>(&list->records[0]);
    CDocUSBScanner::ReleaseScannerList(list);
    const auto host = kdf::Bundle::main();
    const bool inHost = host && OwnBundleFolder().rfind(host->privateFrameworksPath(), 0) == 0;
    scanner->SetOcrPath(((inHost ? host : bundle)->privateFrameworksPath() + "/").c_str());
    SScanTuning tuning;
    // The scanner's waits already last up to 0.1 s; the run loop then
    // fires whatever fell due (idle and read timers, the window's work).
    tuning.waitHook = [this] { RunHostLoop(0); };
    scanner->SetScanTuning(std::move(tuning));
    if (scanner->OpenSession() != kderr::kSuccess) return false;
    KdError e = scanner->StartScan(nullptr);
    // The first command after power-on answers a unit attention.
    if (e == kderr::kNotReady) e = scanner->StartScan(nullptr);
    std::uint32_t maxLength = 0, maxWidth = 0;
    if (e == kderr::kSuccess) e = scanner->GetStatus("MaxScanLength", &maxLength);
    if (e == kderr::kSuccess) e = scanner->GetStatus("MaxScanWidth", &maxWidth);
    const KdError finish = scanner->FinishScan();
    if (e == kderr::kSuccess) e = finish;
    if (e != kderr::kSuccess) {
        scanner->CloseSession();
        return false;
    }
    const float height = static_cast<float>(std::uint64_t(maxLength) * 6 / 127);
    CCapability* h = pool_ ? pool_->GetCapability(ICAP_PHYSICALHEIGHT) : nullptr;
    CCapability* w = pool_ ? pool_->GetCapability(ICAP_PHYSICALWIDTH) : nullptr;
    if (!h || !w) {
        scanner->CloseSession();
        return false;
    }
    const float width = static_cast<float>(maxWidth);
    h->WriteValue(height, kCapDefault);
    h->WriteValue(height);
    w->WriteValue(width, kCapDefault);
    w->WriteValue(width);
    scanner_ = scanner.release();
    return true;
}

void CTavrKdScanDS::TerminateScanner() {
    RemoveScannerButtonModalTimer();
    if (ui_) {
        ui_->setShield(false);
        ui_->hideProgressWindow();
        ui_->hideScanPanel();
    }
    if (!scanner_) return;
    if (hostLoopDepth_ > 0) {
        // Closed from host code that one of our waits runs: the scanner
        // object is still on the stack below. Its scan stops now; the object
        // goes with the data source, whose deletion waits for the outermost
        // call to return.
        scannerReleased_ = true;
        scanner_->AbortScan();
        return;
    }
    KdError e = scanner_->StartScan(nullptr);
    if (e == kderr::kSuccess) {
        WaitForKeysReleased();
        scanner_->FinishScan();
    }
    scanner_->CloseSession();
    delete scanner_;
    scanner_ = nullptr;
    batchStarted_ = pageReady_ = false;
}

// ---- Waits and idle work -------------------------------------------------------------------------

void CTavrKdScanDS::Idle() {
    if (scannerReleased_) return;
    if (HostId() == CClientApp::kHostOwnApplication) {
        // Every tick is announced, and the idle code holds only while its
        // post runs: our application may send the abort request then, at
        // any tick, and reads the previous code at any other time.
        const TW_UINT32 previous = deviceEvent_;
        deviceEvent_ = TWDE_TVK_IDLE;
        kdf::NotificationCenter::defaultCenter().post(kDeviceEventNotification);
        if (deviceEvent_ == TWDE_TVK_IDLE) deviceEvent_ = previous;
    }
    if (ui_) ui_->idleProgress();
    RunHostLoop(0);
}

void CTavrKdScanDS::RunHostLoop(double seconds) {
    if (scannerReleased_) return;
    ++hostLoopDepth_;
    kdf::RunLoop::current().runMode(kdf::RunLoopMode::Default, kdf::Seconds(seconds));
    --hostLoopDepth_;
}

KdError CTavrKdScanDS::WaitForKeysReleased() {
    const double end = SecondsNow() + kKeyWaitSeconds;
    for (;;) {
        std::uint32_t keys = 0;
        const KdError e = scanner_->GetStatus("OperationpanelEZKeyStatus", &keys);
        if (e != kderr::kSuccess) return e;
        if (keys == 0) return kderr::kSuccess;
        if (SecondsNow() >= end) return kderr::kTimeout;
        if (scannerReleased_) return kderr::kUserAbort;
        Idle();
        RunHostLoop(0.05);
    }
}

void CTavrKdScanDS::PostDeviceEvent(TW_UINT32 event) {
    deviceEvent_ = event;
    kdf::NotificationCenter::defaultCenter().post(kDeviceEventNotification);
}

bool CTavrKdScanDS::Batch() const {
    const TW_INT32 count = GetCapSIntValue(pool_.get(), CAP_XFERCOUNT);
    const bool feed = GetCapUIntValue(pool_.get(), CAP_AUTOFEED) || GetCapUIntValue(pool_.get(), CAP_AUTOSCAN);
    return feed && count == -1;
}

TW_INT32 CTavrKdScanDS::SidesPerSheet() const { return GetCapUIntValue(pool_.get(), CAP_DUPLEXENABLED) ? 2 : 1; }

// ---- The page -------------------------------------------------------------------------------------

void CTavrKdScanDS::GetScanSize(float* width, float* height, bool detected) {
    const bool measured = CapInt(CCAP_TVK_DETECTPAGESIZE) || CapInt(CCAP_TVK_RECOGNIZE_DIRECTION) ||
                          CapInt(CCAP_TVK_AUTORESOLUTION);
    if (detected && measured && pageWidth_ > 0 && pageLength_ > 0) {
        *width = static_cast<float>(pageWidth_);
        *height = static_cast<float>(pageLength_);
        return;
    }
    FitFrameToPaper();
    float w = CapFloat(CCAP_TVKM_SCANAREA_WIDTH), h = CapFloat(CCAP_TVKM_SCANAREA_HEIGHT);
    const float margin = static_cast<float>(CapInt(CCAP_TVK_MARGINLENGTH)) * 1200.0f / 25.4f;
    const float physical = CapFloat(ICAP_PHYSICALWIDTH);
    w = std::min(w + 2 * margin, physical > 0 ? physical : w + 2 * margin);
    *width = w;
    *height = h + 2 * margin;
}

void CTavrKdScanDS::FillScanRecord(tagScanParam& p) {
    p = tagScanParam{};
    CCapPool* pool = pool_.get();
    const TW_UINT16 pixelType = CapUInt(ICAP_PIXELTYPE);
    if (CapInt(CCAP_TVK_DETECTPAGETYPE)) SetCapUIntValue(pool, ICAP_PIXELTYPE, TWPT_RGB);
    p.resolution = static_cast<std::uint32_t>(CapFloat(ICAP_XRESOLUTION));
    p.outputMode = pixelType == TWPT_BW ? 0 : pixelType == TWPT_GRAY ? 1 : 2;
    float width = 0, length = 0;
    GetScanSize(&width, &length, false);
    const float physical = CapFloat(ICAP_PHYSICALWIDTH);
    float left = std::max(0.0f, (physical - width) / 2);
    if (left + width > physical) left = std::max(0.0f, physical - width);
    p.left = left;
    p.top = CapFloat(CCAP_TVKM_SCANAREA_Y);
    p.width = width;
    p.length = length;
    p.continuousFeeding = Batch() && scanMode_ != 1 && scanMode_ != 2 && scanMode_ != 5;
    p.pageEdgeDetection = CapInt(CCAP_TVK_DETECTPAGESIZE) != 0;
    p.sides = GetCapUIntValue(pool, CAP_DUPLEXENABLED) ? 2 : 0;
    const bool noDoubleFeed = GetCapSIntValue(pool, 0x8423) != 0;
    p.doubleFeedByLength = !noDoubleFeed && CapInt(CCAP_TVK_DETECTDBLFEED_LENGTH);
    p.doubleFeedByUltrasonic = !noDoubleFeed && CapInt(CCAP_TVK_DETECTDBLFEED_ULTRASONIC);
    p.continueOnDoubleFeed = continueMode_;
    p.scanModeFlag = scanMode_ == 2;
    // The scanner object takes blank-page detection as its own flag (set
    // below); this option word is its back-page erasing, not asked for here.
    p.optionWithValue = 0;
    p.sideBySide = CapInt(CCAP_TVK_FOLDLARGESIZE) != 0;
    p.rotation = static_cast<std::uint32_t>(std::max(1, CapInt(CCAP_TVK_DATAORIENTATION)));
    p.outlineOption = CapInt(CCAP_TVK_DESKEW) || GetCapUIntValue(pool, ICAP_AUTOMATICDESKEW) || p.sideBySide;
    p.outlineValue = static_cast<std::uint32_t>(CapInt(CCAP_TVK_SKEWMETHOD));
    p.dropOutColourFront = static_cast<std::uint32_t>(CapInt(CCAP_TVK_DROPOUT));
    p.dropOutColourBack = static_cast<std::uint32_t>(CapInt(kBackDropout));
    p.dropOutModeFront = static_cast<std::uint32_t>(CapInt(CCAP_TVK_COLORENHANCE));
    p.dropOutModeBack = static_cast<std::uint32_t>(CapInt(CCAP_TVK_COLORENHANCE | kBackSideTwinBit));
    const float bStep = GetCapStepSize(pool, ICAP_BRIGHTNESS), cStep = GetCapStepSize(pool, ICAP_CONTRAST);
    p.brightnessFront = StepIndex(CapFloat(ICAP_BRIGHTNESS), bStep);
    p.brightnessBack = CapInt(CCAP_TVKM_BACKBRIGHTNESSENABLED) ? StepIndex(CapFloat(kBackBrightness), bStep)
                                                                : p.brightnessFront;
    p.contrastFront = StepIndex(CapFloat(ICAP_CONTRAST), cStep);
    p.contrastBack = CapInt(CCAP_TVKM_BACKCONTRASTENABLED) ? StepIndex(CapFloat(kBackContrast), cStep)
                                                            : p.contrastFront;
    p.thresholdPair[0] = static_cast<std::uint32_t>(CapInt(CCAP_TVK_TEXTENHANCE_BRIGHTNESS));
    p.thresholdPair[1] = static_cast<std::uint32_t>(CapInt(CCAP_TVK_TEXTENHANCE_CONTRAST));
    p.thresholdFlag = static_cast<std::uint32_t>(CapInt(CCAP_TVK_REVERSESCANTYPE));
    char halftone[256] = {};
    GetCapStrValue(pool, ICAP_HALFTONES, halftone);
    p.thresholdMode = std::strcmp(halftone, "Error Diffusion") == 0 ? 1 : 0;
    const TW_INT32 moire = CapInt(CCAP_TVK_REDUCE_MOIRE);
    p.furtherOptions[0] = (static_cast<std::uint32_t>(CapInt(CCAP_TVK_EDGEEMPHASIS)) << 16) | 1;
    p.furtherOptions[1] = (static_cast<std::uint32_t>(moire - 1) << 16) | (moire != 1 ? 1 : 0);
    // The text direction goes to the scanner object's own field; the last
    // further option is its 300/600 dpi choice.
    p.textOrientation = static_cast<std::uint32_t>(std::max(0, CapInt(CCAP_TVK_RECOGNIZE_DIRECTION)));
    // Tone tables: linear unless the user's gamma switch selects the
    // stored curves or gamma values, per side and colour.
    for (auto& t : p.toneTables) MakeLinearTable(t);
    if (CapInt(CCAP_TVKM_GAMMAMODE)) {
        const TW_UINT32 selection = static_cast<TW_UINT32>(CapInt(CCAP_TVKM_GAMMAMETHOD));
        const bool backAsFront = CapInt(CCAP_TVK_PRESCAN) != 0;
        for (int i = 0; i < 8; ++i) {
            const int side = (i < 4 || backAsFront) ? 0 : 1;
            const int colour = i % 4;
            const TW_UINT16 twin = side ? kBackSideTwinBit : 0;
            const TW_UINT16 curve = static_cast<TW_UINT16>((CCAP_TVKM_GRAYCURVE + colour) | twin);
            const TW_UINT16 gamma = static_cast<TW_UINT16>((CCAP_TVKM_GRAYGAMMA + colour) | twin);
            if (selection & (1u << (side * 4 + colour))) {
                char stored[256] = {};
                GetCapStrValue(pool, curve, stored);
                std::memcpy(p.toneTables[i], stored, 256);
            } else {
                MakeGammaTable(CapFloat(gamma), p.toneTables[i]);
            }
        }
        p.brightnessFront = p.brightnessBack = p.contrastFront = p.contrastBack = 0;
    }
    p.autoResolution = CapInt(CCAP_TVK_AUTORESOLUTION) != 0;
    // Automatic colour detection: a colour scan whose pages each come out
    // in the format the library decides, at the sensitivity (1 to 7) of the
    // detection threshold.
    if (CapInt(CCAP_TVK_DETECTPAGETYPE))
        p.colourOption = 1u | static_cast<std::uint32_t>(
                                  std::clamp(CapInt(CCAP_TVK_DETECTPAGETYPE_THRESHOLD), 1, 7))
                                  << 16;
    // Blank pages are told apart only when they are to be skipped.
    p.detectionFlag3 = (CapInt(CCAP_TVK_BLANKSKIP) & 0xFF) != 0;
}

KdError CTavrKdScanDS::ScanNextPage() {
    pageReady_ = false;
    // The idle timer: window and host work while the scanner delivers.
    auto timer = kdf::RunLoop::current().scheduleTimer(kdf::Seconds(0.3), true, kdf::kCommonModes,
                                                       [this](kdf::Timer&) { Idle(); });
    if (!timer) return kderr::kOutOfMemory;
    tagScanParam page = record_;
    const KdError e = scanner_->ScanPage(&page);
    timer->invalidate();
    if (e != kderr::kSuccess && e != kderr::kDoubleFeedDelivered) return e;
    record_.imageWidth = page.imageWidth;
    record_.imageLength = page.imageLength;
    record_.pixelType = page.pixelType;
    record_.blankResult = page.blankResult;
    record_.detectedResolution = page.detectedResolution;
    const bool autoRes = CapInt(CCAP_TVK_AUTORESOLUTION) != 0;
    if (autoRes || CapInt(CCAP_TVK_RECOGNIZE_DIRECTION) || CapInt(CCAP_TVK_DETECTPAGESIZE)) {
        std::uint32_t resolution = autoRes && page.detectedResolution ? page.detectedResolution : record_.resolution;
        if (autoRes && page.detectedResolution) {
            SetCapFloatValue(pool_.get(), ICAP_XRESOLUTION, static_cast<float>(resolution));
            SetCapFloatValue(pool_.get(), ICAP_YRESOLUTION, static_cast<float>(resolution));
        }
        if (resolution == 0) resolution = 300;
        pageWidth_ = static_cast<TW_INT32>(std::uint64_t(page.imageWidth) * 1200 / resolution);
        pageLength_ = static_cast<TW_INT32>(std::uint64_t(page.imageLength) * 1200 / resolution);
    }
    if (CapInt(CCAP_TVK_DETECTPAGETYPE))
        SetCapUIntValue(pool_.get(), ICAP_PIXELTYPE,
                        page.pixelType == 1 ? TWPT_GRAY : page.pixelType == 0 ? TWPT_BW : TWPT_RGB);
    pageReady_ = true;
    return e;
}

KdError CTavrKdScanDS::ScanBlankSkipped() {
    for (;;) {
        const KdError e = ScanNextPage();
        if ((e != kderr::kSuccess && e != kderr::kDoubleFeedDelivered) || !CapInt(CCAP_TVK_BLANKSKIP) ||
            !record_.blankResult)
            return e;
        // A blank page is dropped and counts for neither side.
        scanner_->ScanComplete();
        pageReady_ = false;
        if (pendingImageCount_ > 0) --pendingImageCount_;
        if (imageCountAtAnnounce_ > 0) --imageCountAtAnnounce_;
        ++blankPagesSkipped_;
    }
}

TW_UINT16 CTavrKdScanDS::PrepareScan() {
    if (!scanner_) return SetConditionCode(TWCC_OPERATIONERROR, TWRC_FAILURE);
    userStopped_ = false;
    continueMode_ = CapInt(CCAP_TVK_FEEDER_JAMLESS) != 0 && !HostIsBackgroundOnly();
    KdError e = kderr::kSuccess;
    if (pageReady_) {
        if (ui_ && CapUInt(CAP_INDICATORS)) ui_->resumeProgressWindow();
        return TWRC_SUCCESS;
    }
    if (!batchStarted_) {
        ApplyCustomPaperFallback();
        FillScanRecord(record_);
        scanner_->SetEzKeyAbort(0);
        if (scanMode_ != 1) PostDeviceEvent(TWDE_TVK_SCANREADY);
        if (ui_) {
            ui_->setShield(true);
            if (CapUInt(CAP_INDICATORS)) {
                ui_->showProgressWindow();
                ui_->resumeProgressWindow();
            }
        }
        e = WaitForKeysReleased();
        if (e == kderr::kSuccess) {
            // The status reads since the fault replaced the scanner's error
            // word: put the fault back, so that the start discharges the
            // sheet it left in the paper path.
            if (dischargeError_ != kderr::kSuccess) scanner_->SetScannerError(dischargeError_);
            dischargeError_ = kderr::kSuccess;
            tagScanParam p = record_;
            e = scanner_->StartScan(&p);
            if (e == kderr::kNotReady) {
                p = record_;
                e = scanner_->StartScan(&p);
            }
            if (e == kderr::kSuccess) {
                record_ = p;
                batchStarted_ = true;
                if (scanMode_ != 1) PostDeviceEvent(TWDE_TVK_SCANSTARTED);
            }
        }
    }
    if (e == kderr::kSuccess) e = ScanBlankSkipped();
    // The feeder empty before any page of this batch is "no page".
    if (e == kderr::kNoDocument && pagesTransferred_ == 0) e = kNoPage;
    if (e == kderr::kDoubleFeedDelivered && continueMode_) {
        const TW_UINT16 answer = ShowContinueModeAlert(e);
        if (answer == TWRC_SUCCESS) {
            e = kderr::kSuccess;
        } else {
            scanner_->ScanComplete();
            pageReady_ = false;
            if (answer == TWRC_CHECKSTATUS) return TWRC_CHECKSTATUS; // scanned again
            e = kderr::kDoubleFeed;
        }
    }
    if (e == kderr::kSuccess || e == kderr::kDoubleFeedDelivered) {
        pendingImageCount_ = std::max<TW_INT32>(pendingImageCount_, 1);
        if (ui_ && CapUInt(CAP_INDICATORS)) ui_->resumeProgressWindow();
        return TWRC_SUCCESS;
    }
    lastError_ = e;
    // A prescan's empty feeder is answered by its caller's no-page alert.
    if ((scanMode_ == 1 || scanMode_ == 2) && e == kNoPage) {
        stop_ = true;
        return SetConditionCode(TWCC_PAPERJAM, TWRC_CHECKSTATUS);
    }
    if (continueMode_ && (e == kderr::kNoDocument || e == kderr::kPaperJam || e == kderr::kCoverOpen ||
                          e == kderr::kDoubleFeed || e == kderr::kSkewDetected)) {
        const TW_UINT16 rc = ShowContinueModeAlert(e);
        if (rc == TWRC_SUCCESS) return TWRC_CHECKSTATUS;
        stop_ = true;
        return rc;
    }
    const TW_UINT16 rc = ShowScannerAlert(e);
    stop_ = true;
    // The no-page alert's OK tries again; otherwise the host learns the cause.
    if (rc == TWRC_CHECKSTATUS) return rc;
    if (e == kderr::kUserAbort) return TWRC_CANCEL;
    KeepFault(e);
    return AnswerFault();
}

TW_UINT16 CTavrKdScanDS::ReadImage(TW_MEMREF buffer, TW_UINT32 bytesPerLine, TW_UINT32 lines) {
    Idle();
    auto timer = kdf::RunLoop::current().scheduleTimer(kdf::Seconds(1.0), true, kdf::kCommonModes,
                                                       [this](kdf::Timer&) { Idle(); });
    auto* out = static_cast<unsigned char*>(buffer);
    unsigned long got = lines;
    const KdError e = scanner_ ? scanner_->ReadLines(out, bytesPerLine, &got) : kderr::kDeviceLost;
    if (timer) timer->invalidate();
    if (e != kderr::kSuccess) {
        const TW_UINT16 rc = ShowScannerAlert(e);
        stop_ = true;
        if (e == kderr::kUserAbort) return rc == TWRC_SUCCESS ? TWRC_CANCEL : rc;
        KeepFault(e);
        return AnswerFault();
    }
    // A page that ends short is filled with its white, so that every strip
    // holds the rows it reports.
    if (got < lines) {
        const unsigned char white = 0xFF; // 1-bit pages have 0 as black
        std::memset(out + std::size_t(got) * bytesPerLine, white, std::size_t(lines - got) * bytesPerLine);
    }
    return TWRC_SUCCESS;
}

TW_UINT16 CTavrKdScanDS::FinishScan() {
    if (!scanner_) return TWRC_SUCCESS;
    KdError e = kderr::kSuccess;
    if (scanMode_ == 0 && Batch()) {
        // The batch count tells that the reader has finished with the sheet.
        const double end = SecondsNow() + kBatchPollSeconds;
        // An error of a later sheet ends the wait but not this page, whose
        // lines are all read: the next page reports it.
        for (;;) {
            std::uint32_t count = 0;
            if (scanner_->GetStatus("BatchTransferCount", &count) != kderr::kSuccess || count > 0 ||
                !scanner_->ReaderRunning())
                break;
            if (SecondsNow() >= end) {
                e = kderr::kTimeout;
                break;
            }
            if (scannerReleased_) break;
            Idle();
            RunHostLoop(0.02);
        }
    }
    if (e == kderr::kSuccess) e = scanner_->ScanComplete();
    pageReady_ = false;
    if (e != kderr::kSuccess) {
        const TW_UINT16 rc = ShowScannerAlert(e);
        stop_ = true;
        if (e == kderr::kUserAbort) return rc == TWRC_SUCCESS ? TWRC_CANCEL : rc;
        // Every line of this page was read: it is delivered, and the next
        // page's triplet reports the fault.
        KeepFault(e);
    }
    return TWRC_SUCCESS;
}

void CTavrKdScanDS::RecoverScan() {
    if (scanner_ && batchStarted_) {
        if (scanner_->ReaderRunning() || scanner_->ImageThreadRunning()) scanner_->AbortScan();
        // Inside one of our waits a scanner call is still under way: it sees
        // the abort and returns; the batch ends when it has.
        if (hostLoopDepth_ > 0) return;
        scanner_->FinishScan();
    }
    batchStarted_ = pageReady_ = false;
    pendingImageCount_ = 0;
    linesSent_ = 0;
}

void CTavrKdScanDS::EndBatch() {
    RecoverScan();
    InvalidateXferReadyTimer();
    RemoveScannerButtonModalTimer();
    if (ui_) {
        ui_->setShield(false);
        ui_->hideMainWindow();
        ui_->hideProgressWindow();
        ui_->hideScanPanel();
        ui_->closeRequest(false);
        ui_->updateScanPanel(0);
    }
    state_ = kDsEnabled;
    pending_ = false;
    imageInfoValid_ = false;
    pagesTransferred_ = 0;
    fault_ = 0;
    faultAnswered_ = false;
    PostDeviceEvent(TWDE_TVK_NONE);
    if (CapInt(CCAP_TVK_AUTORESOLUTION)) {
        SetCapFloatValue(pool_.get(), ICAP_XRESOLUTION, 300.0f);
        SetCapFloatValue(pool_.get(), ICAP_YRESOLUTION, 300.0f);
    }
}

void CTavrKdScanDS::KeepFault(KdError error) {
    const bool first = fault_ == 0;
    if (first) fault_ = error;
    dischargeError_ = error;
    // Nothing waits on the scanner: it is free for the next batch.
    const bool more = pending_;
    const TW_INT32 state = state_;
    RecoverScan();
    pending_ = more;
    state_ = state;
    // Announced after the scanner is free: the host may end the batch from
    // its callback.
    if (first)
        if (const TW_UINT16 event = FaultDeviceEvent(error)) QueueDeviceEvent(event);
}

TW_UINT16 CTavrKdScanDS::AnswerFault() {
    faultAnswered_ = true;
    imageInfoValid_ = false;
    return SetConditionCode(FaultConditionCode(fault_), TWRC_FAILURE);
}

// ---- Image information and transfers -----------------------------------------------------------

TW_UINT16 CTavrKdScanDS::GetImageInfo(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsXferReady, kDsTransferring) || PageSent()) return SeqError();
    auto* out = static_cast<TW_IMAGEINFO*>(data);
    if (!out) return BadValue();
    // Asked again while the page goes: its record, and the transfer goes on
    // where it was.
    if (state_ == kDsTransferring && imageInfoValid_) {
        std::memcpy(static_cast<void*>(out), &imageInfo_, sizeof imageInfo_);
        return TWRC_SUCCESS;
    }
    // A record that stays valid when the page fails.
    TW_IMAGEINFO info{};
    info.XResolution = ToFix32(CapFloat(ICAP_XRESOLUTION));
    info.YResolution = ToFix32(CapFloat(ICAP_YRESOLUTION));
    info.ImageWidth = info.ImageLength = -1;
    info.SamplesPerPixel = 1;
    info.BitsPerSample[0] = 1;
    info.BitsPerPixel = 1;
    info.PixelType = TWPT_BW;
    std::memcpy(static_cast<void*>(out), &info, sizeof info);
    imageInfo_ = info;
    imageInfoValid_ = false;
    if (fault_) return AnswerFault();
    const int host = HostId();
    const bool refuseRetry = host == CClientApp::kHostMicrosoft || host == CClientApp::kHostAcrobat ||
                             host == CClientApp::kHostScanModule;
    if (refuseRetry && imageInfoFailed_) return SeqError();
    if (!pageReady_) {
        TW_UINT16 rc;
        do {
            conditionCode_ = TWCC_SUCCESS;
            rc = PrepareScan();
        } while (rc == TWRC_CHECKSTATUS && conditionCode_ == TWCC_SUCCESS);
        if (rc != TWRC_SUCCESS) {
            imageInfoFailed_ = refuseRetry;
            if (rc == TWRC_CANCEL) EndBatch();
            return rc;
        }
    }
    info.XResolution = ToFix32(CapFloat(ICAP_XRESOLUTION));
    info.YResolution = ToFix32(CapFloat(ICAP_YRESOLUTION));
    const TW_UINT16 pixelType = CapUInt(ICAP_PIXELTYPE);
    info.PixelType = static_cast<TW_INT16>(pixelType);
    const TW_INT16 bits = pixelType == TWPT_BW ? 1 : pixelType <= TWPT_RGB ? 8 : 0;
    const TW_INT16 samples = pixelType == TWPT_RGB ? 3 : pixelType <= TWPT_GRAY ? 1 : 0;
    info.SamplesPerPixel = samples;
    for (int i = 0; i < 8; ++i) info.BitsPerSample[i] = i < samples ? bits : 0;
    info.BitsPerPixel = static_cast<TW_INT16>(bits * samples);
    info.Planar = static_cast<TW_BOOL>(CapUInt(ICAP_PLANARCHUNKY));
    info.Compression = CapUInt(ICAP_COMPRESSION);
    // The scanner's record of the page is what the strips will hold.
    info.ImageWidth = static_cast<TW_INT32>(record_.imageWidth);
    info.ImageLength = static_cast<TW_INT32>(record_.imageLength);
    TW_INT32 bytesPerLine = bits == 1 ? (info.ImageWidth + 7) / 8 : info.ImageWidth * samples;
    if (host == CClientApp::kHostMicrosoft && (bytesPerLine & 1)) {
        // This host takes even line sizes only: the last column goes.
        if (pixelType == TWPT_GRAY) {
            bytesPerLine = --info.ImageWidth;
        } else if (pixelType == TWPT_BW && bytesPerLine > 1) {
            --bytesPerLine;
            info.ImageWidth = bytesPerLine * 8;
        }
    }
    std::memcpy(static_cast<void*>(out), &info, sizeof info);
    imageInfo_ = info;
    bytesPerLine_ = bytesPerLine;
    linesSent_ = 0;
    imageInfoValid_ = true;
    imageInfoFailed_ = false;
    xferDone_ = false;
    return TWRC_SUCCESS;
}

TW_UINT16 CTavrKdScanDS::ImageMemXfer(pTW_IDENTITY origin, TW_MEMREF data) {
    // After the last strip the page waits for the host's end of transfer.
    if (!InState(kDsXferReady, kDsTransferring) || PageSent()) return SeqError();
    auto* xfer = static_cast<TW_IMAGEMEMXFER*>(data);
    if (!xfer) return BadValue();
    if (fault_ && linesSent_ == 0) return AnswerFault();
    if (!imageInfoValid_) return TWRC_CANCEL;
    const TW_INT32 width = imageInfo_.ImageWidth, length = imageInfo_.ImageLength;
    // A page described without a size cannot be cut into lines.
    if (width <= 0 || length <= 0 || bytesPerLine_ <= 0) return SeqError();
    const TW_UINT32 flags = xfer->Memory.Flags;
    const TW_UINT32 bufferLength = xfer->Memory.Length;
    TW_MEMREF mem = xfer->Memory.TheMem;
    if (!mem) return BadValue();
    if (flags & TWMF_HANDLE) {
        mem = entryPoint_.DSM_MemLock ? entryPoint_.DSM_MemLock(mem) : mem;
        if (!mem) return BadValue();
    }
    const TW_UINT32 bpl = static_cast<TW_UINT32>(bytesPerLine_);
    TW_UINT32 rows = std::min<TW_UINT32>(bufferLength / bpl, static_cast<TW_UINT32>(length - linesSent_));
    // A buffer smaller than one line would answer no rows for ever.
    if (rows == 0) {
        if ((flags & TWMF_HANDLE) && entryPoint_.DSM_MemUnlock) entryPoint_.DSM_MemUnlock(xfer->Memory.TheMem);
        return BadValue();
    }
    state_ = kDsTransferring;
    xfer->Compression = 0; // uncompressed
    xfer->BytesPerRow = bpl;
    xfer->Columns = static_cast<TW_UINT32>(width);
    xfer->Rows = xfer->XOffset = xfer->YOffset = xfer->BytesWritten = 0;
    auto unlock = [&] {
        if ((flags & TWMF_HANDLE) && entryPoint_.DSM_MemUnlock) entryPoint_.DSM_MemUnlock(xfer->Memory.TheMem);
    };
    if (linesSent_ == 0) {
        TW_UINT16 rc;
        do {
            rc = PrepareScan();
        } while (rc == TWRC_CHECKSTATUS && conditionCode_ == TWCC_SUCCESS);
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
            unlock();
            if (rc == TWRC_CANCEL) EndBatch();
            if (rc == TWRC_FAILURE) state_ = kDsXferReady; // nothing of the page went
            return rc;
        }
    }
    if (HostId() == CClientApp::kHostMicrosoft && linesSent_ == 0 && rows == static_cast<TW_UINT32>(length) &&
        length > 1)
        rows /= 2;
    const bool firstStrip = linesSent_ == 0;
    const TW_UINT16 read = ReadImage(mem, bpl, rows);
    unlock();
    if (read == TWRC_FAILURE && fault_) {
        // The page is lost; the host ends the batch with MSG_ENDXFER.
        if (firstStrip) state_ = kDsXferReady;
        linesSent_ = 0;
        return read;
    }
    if (read != TWRC_SUCCESS && read != TWRC_XFERDONE) {
        EndBatch();
        return read;
    }
    xfer->Rows = rows;
    xfer->YOffset = static_cast<TW_UINT32>(linesSent_);
    xfer->BytesWritten = rows * bpl;
    linesSent_ += static_cast<TW_INT32>(rows);
    if (linesSent_ < length) return TWRC_SUCCESS;
    const TW_UINT16 finish = FinishScan();
    if (finish != TWRC_SUCCESS) {
        EndBatch();
        return finish;
    }
    linesSent_ = 0;
    pending_ = false;
    conditionCode_ = TWCC_SUCCESS;
    if (origin) ++transferCount_;
    ++pagesTransferred_;
    xferDone_ = true;
    if (pendingImageCount_ > 0) --pendingImageCount_;
    return TWRC_XFERDONE;
}

TW_UINT16 CTavrKdScanDS::ImageNativeXfer(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!InState(kDsXferReady, kDsTransferring) || PageSent()) return SeqError();
    // The record is the host's handle: the page's TIFF goes into it.
    auto* out = static_cast<TW_HANDLE*>(data);
    if (!out) return BadValue();
    SPageImage page;
    const TW_UINT16 rc = TransferPageImage(page);
    if (rc != TWRC_XFERDONE) return rc;
    std::vector<unsigned char> tiff;
    std::string error;
    TW_HANDLE handle = nullptr;
    if (EncodeTiff(page, &tiff, &error)) {
        page.pixels = {};
        // The manager's memory (the C library's without one): the host
        // frees it with the manager's free.
        handle = NativeMemoryAllocate(tiff.size());
        if (void* bytes = handle ? NativeMemoryLock(handle) : nullptr) {
            std::memcpy(bytes, tiff.data(), tiff.size());
            NativeMemoryUnlock(handle);
        } else if (handle) {
            NativeMemoryFree(handle);
            handle = nullptr;
        }
    } else {
        syslog(LOG_WARNING, "KD720: %s", error.c_str());
    }
    if (!handle) {
        KeepPagePending();
        return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    }
    *out = handle;
    if (scanner_) scanner_->ScanComplete();
    if (origin) ++transferCount_;
    return TWRC_XFERDONE;
}

TW_UINT16 CTavrKdScanDS::TransferWholePage(std::vector<unsigned char>& pixels) {
    const std::size_t bpl = static_cast<std::size_t>(bytesPerLine_);
    const std::size_t lines = static_cast<std::size_t>(imageInfo_.ImageLength);
    try {
        pixels.assign(bpl * lines, 0);
    } catch (const std::bad_alloc&) {
        return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    }
    for (;;) {
        TW_IMAGEMEMXFER xfer{};
        const std::size_t offset = std::size_t(linesSent_) * bpl;
        xfer.Memory.Flags = TWMF_DSOWNS | TWMF_POINTER;
        xfer.Memory.Length = static_cast<TW_UINT32>(std::min<std::size_t>(pixels.size() - offset, 0xFFFFFFF0u));
        xfer.Memory.TheMem = pixels.data() + offset;
        const TW_UINT16 rc = ImageMemXfer(nullptr, &xfer);
        if (rc == TWRC_XFERDONE) return rc;
        if (rc != TWRC_SUCCESS) {
            pixels.clear();
            return rc;
        }
    }
}

TW_UINT16 CTavrKdScanDS::TransferPageImage(SPageImage& page) {
    if (!imageInfoValid_) {
        TW_IMAGEINFO info{};
        const TW_UINT16 rc = GetImageInfo(nullptr, &info);
        if (rc != TWRC_SUCCESS) return rc;
    }
    page.width = static_cast<std::uint32_t>(imageInfo_.ImageWidth);
    page.height = static_cast<std::uint32_t>(imageInfo_.ImageLength);
    page.bitsPerSample = imageInfo_.BitsPerPixel == 1 ? 1 : 8;
    page.samplesPerPixel = imageInfo_.SamplesPerPixel > 0 ? static_cast<std::uint32_t>(imageInfo_.SamplesPerPixel) : 1;
    page.bytesPerLine = static_cast<std::uint32_t>(bytesPerLine_);
    page.resolution = static_cast<std::uint32_t>(std::max<TW_INT16>(imageInfo_.XResolution.Whole, 0));
    // The page stays in the scanner's list until it is handed over, so
    // that a failure leaves it pending for another try.
    if (scanner_) scanner_->ProtectImageBuffer(1);
    const TW_UINT16 rc = TransferWholePage(page.pixels);
    if (scanner_) scanner_->ProtectImageBuffer(0);
    return rc;
}

void CTavrKdScanDS::KeepPagePending() {
    --pagesTransferred_;
    ++pendingImageCount_;
    pageReady_ = true;
    pending_ = true;
    linesSent_ = 0;
    xferDone_ = false;
}

TW_UINT16 CTavrKdScanDS::ImageFileXfer(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!InState(kDsXferReady, kDsTransferring) || PageSent()) return SeqError();
    const auto* setup = static_cast<const TW_SETUPFILEXFER*>(data);
    if (!setup) return BadValue();
    const TW_UINT16 format = setup->Format;
    char name[sizeof setup->FileName];
    std::memcpy(name, setup->FileName, sizeof name);
    if (!std::memchr(name, 0, sizeof name) || name[0] == 0) return BadValue();
    if (format != TWFF_TIFF && format != TWFF_JFIF) return BadValue(); // nothing is written for others
    const std::filesystem::path path(name);
    std::error_code ec;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    if (!std::filesystem::is_directory(folder, ec)) return SetConditionCode(TWCC_FILENOTFOUND, TWRC_FAILURE);
    SPageImage page;
    const TW_UINT16 rc = TransferPageImage(page);
    if (rc != TWRC_XFERDONE) return rc;
    std::string error;
    const bool written = format == TWFF_TIFF ? WriteTiffFile(path, page, &error) : WriteJfifFile(path, page, &error);
    if (!written) {
        syslog(LOG_WARNING, "KD720: %s", error.c_str());
        KeepPagePending();
        return SetConditionCode(TWCC_FILEWRITEERROR, TWRC_FAILURE);
    }
    if (scanner_) scanner_->ScanComplete();
    // The memory transfers counted without the host: count once here.
    if (origin) ++transferCount_;
    return TWRC_XFERDONE;
}

// ---- The page loop -----------------------------------------------------------------------------------

TW_UINT16 CTavrKdScanDS::PendingEndXfers(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsXferReady, kDsTransferring)) return SeqError();
    auto* xfers = static_cast<TW_PENDINGXFERS*>(data);
    if (!xfers) return BadValue();
    // A page that was not fetched is dropped.
    if (pageReady_ && scanner_) {
        scanner_->ScanComplete();
        pageReady_ = false;
    }
    pending_ = false;
    imageInfoValid_ = false;
    linesSent_ = 0;
    xferDone_ = false;
    const TW_INT32 wanted = CapInt(CAP_XFERCOUNT);
    const bool batch = Batch();
    if (faultAnswered_) {
        // The host has its answer: the batch ends here.
        xfers->Count = 0;
        EndBatch();
        return TWRC_SUCCESS;
    }
    KdError e = stop_ && userStopped_ ? kderr::kUserAbort : kderr::kSuccess;
    bool more = false;
    if (fault_) {
        // Met at the end of the page just delivered: the next page's
        // triplet reports it, when another page was wanted.
        e = kderr::kSuccess;
        more = wanted < 0 || pagesTransferred_ < wanted;
    } else if (e == kderr::kSuccess &&
               (wanted < 0 || transferCount_ < wanted || pagesTransferred_ < wanted)) {
        const TW_INT32 left = wanted < 0 ? -1 : wanted - pagesTransferred_;
        if (left != 0) {
            // The next page, blank ones dropped when they are to be skipped.
            for (;;) {
                e = ScanBlankSkipped();
                if (e == kderr::kDoubleFeedDelivered && continueMode_) {
                    // The double-fed page was read: the user keeps it, feeds
                    // the sheets again, or stops.
                    const TW_UINT16 answer = ShowContinueModeAlert(e);
                    if (answer != TWRC_SUCCESS) {
                        scanner_->ScanComplete();
                        pageReady_ = false;
                        if (answer == TWRC_CHECKSTATUS) continue;
                        e = kderr::kDoubleFeed;
                        break;
                    }
                }
                if (e == kderr::kSuccess || e == kderr::kDoubleFeedDelivered) {
                    more = true;
                    e = kderr::kSuccess;
                } else if (e == kderr::kNoDocument || e == kderr::kBatchEndNoPaper) {
                    e = kderr::kSuccess; // the feeder is empty: the batch ends
                } else if (continueMode_ && (e == kderr::kPaperJam || e == kderr::kCoverOpen ||
                                             e == kderr::kSkewDetected || e == kderr::kDoubleFeed)) {
                    if (ShowContinueModeAlert(e) == TWRC_SUCCESS) continue;
                    e = kderr::kUserAbort;
                }
                break;
            }
        }
    }
    if (e != kderr::kSuccess && e != kderr::kUserAbort) {
        // The alert where one can be shown; the host learns the cause from
        // the next page's triplet, which the count below asks it to send.
        ShowScannerAlert(e);
        KeepFault(e);
        more = true;
    }
    if (more) {
        pendingImageCount_ = std::max<TW_INT32>(pendingImageCount_, 1);
        xfers->Count = static_cast<TW_UINT16>(batch || wanted < 0 ? 0xFFFF : wanted - pagesTransferred_);
        state_ = kDsXferReady;
        pending_ = true;
        // Hosts that wait for a transfer-ready before each page get one.
        const CClientApp* app = CClientApp::Current();
        if (app && app->RequireNextTransferRequest()) ScheduleXferReadyTimer();
        return TWRC_SUCCESS;
    }
    xfers->Count = 0;
    EndBatch();
    if (e == kderr::kUserAbort && HostId() == CClientApp::kHostOwnApplication) return TWRC_CANCEL;
    return TWRC_SUCCESS;
}

TW_UINT16 CTavrKdScanDS::ResetPendingXfers(pTW_IDENTITY origin, TW_MEMREF data) {
    const TW_UINT16 rc = CTavrKdDS::ResetPendingXfers(origin, data);
    if (rc == TWRC_SUCCESS) {
        fault_ = 0;
        faultAnswered_ = false;
    }
    return rc;
}

// ---- Pass-through -----------------------------------------------------------------------------------

TW_UINT16 CTavrKdScanDS::PassThru(pTW_IDENTITY, TW_MEMREF data) {
    auto* record = static_cast<TW_PASSTHRU*>(data);
    if (!record || !InState(kDsOpen, kDsTransferring)) return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
    const TW_UINT32 commandBytes = record->CommandBytes;
    const TW_MEMREF commandRef = record->pCommand;
    if (commandBytes != 4 || !commandRef) return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
    TW_UINT32 command = 0;
    std::memcpy(&command, commandRef, sizeof command);
    const SPassThruCommand* entry = nullptr;
    for (const auto& c : kPassThruCommands)
        if (c.code == command) entry = &c;
    if (!entry) return SetConditionCode(TWCC_BADPROTOCOL, TWRC_FAILURE);
    if (command == Code("AbRq") && deviceEvent_ != TWDE_TVK_IDLE)
        return SetConditionCode(TWCC_SEQERROR, TWRC_CHECKSTATUS);
    auto* out = static_cast<unsigned char*>(record->pData);
    const TW_UINT32 dataBytes = record->DataBytes;
    // Data the command needs but the host did not give: nothing is done.
    if (entry->minimumData > 0 && (!out || dataBytes < entry->minimumData)) return BadValue();
    if (!scanner_) return SetConditionCode(TWCC_CHECKDEVICEONLINE, TWRC_CHECKSTATUS);
    KdError e = kderr::kSuccess;
    switch (command) {
    case Code("AbRq"):
        userStopped_ = true;
        e = scanner_->AbortScan();
        break;
    case Code("GtBS"): {
        std::uint32_t keys = 0;
        std::uint8_t ready = 0;
        e = scanner_->GetStatus("OperationpanelEZKeyStatus", &keys);
        if (e == kderr::kSuccess) e = scanner_->GetStatus("DocumentReadyStatus", &ready);
        if (e == kderr::kSuccess) {
            if ((ready & 9) == 8) keys += 0x10000;
            std::memcpy(out, &keys, sizeof keys);
        }
        break;
    }
    case Code("GtDI"): {
        std::uint32_t words[4] = {};
        e = scanner_->GetStatus("ServiceData", words);
        if (e == kderr::kSuccess) std::memcpy(out, words, 16);
        break;
    }
    case Code("GtSd"): {
        // The blob goes into the process's data-object registry; the host
        // gets its handle and owns it from then on (it releases it).
        kdf::DataObjectHandle handle = kdf::kNoDataObject;
        std::vector<std::uint8_t> blob;
        if (scanner_->GetShadingData(&blob) == kderr::kSuccess) handle = kdf::DataObjectRegistry::add(std::move(blob));
        std::memcpy(out, &handle, sizeof handle);
        return TWRC_SUCCESS;
    }
    case Code("StSd"): {
        // Only a handle the registry gave out names an object; any other
        // number is refused without being used.
        kdf::DataObjectHandle handle = kdf::kNoDataObject;
        std::memcpy(&handle, out, sizeof handle);
        const std::shared_ptr<const kdf::Bytes> blob = kdf::DataObjectRegistry::lookup(handle);
        if (!blob) return BadValue();
        scanner_->SetShadingData(blob->data(), blob->size());
        return TWRC_SUCCESS;
    }
    case Code("GtXL"): {
        std::uint32_t length = 0;
        e = scanner_->GetStatus("MaxScanLength", &length);
        if (e == kderr::kSuccess) std::memcpy(out, &length, sizeof length);
        break;
    }
    case Code("StXL"): {
        std::uint32_t length = 0;
        std::memcpy(&length, out, sizeof length);
        e = scanner_->SetMaxScanLength(length);
        break;
    }
    case Code("RtPC"):
        e = scanner_->ClearRollerCounter(1);
        break;
    case Code("RtRC"):
        e = scanner_->ClearRollerCounter(0);
        break;
    case Code("StSC"): {
        std::uint32_t words[3] = {};
        std::memcpy(words, out, sizeof words);
        const unsigned long values[3] = {words[0], words[1], words[2]};
        e = scanner_->SetScanCounter(values);
        break;
    }
    case Code("StSN"): {
        char serial[17] = {};
        std::memcpy(serial, out, 16);
        e = scanner_->SetSerialNumber(serial);
        break;
    }
    default:
        break;
    }
    if (e != kderr::kSuccess) return SetConditionCode(TWCC_CHECKDEVICEONLINE, TWRC_CHECKSTATUS);
    return TWRC_SUCCESS;
}

// ---- Alerts ----------------------------------------------------------------------------------------------

TW_UINT16 CTavrKdScanDS::ShowScannerAlert(KdError error) {
    if (error == kderr::kSuccess || error == kderr::kBatchEndNoPaper) return TWRC_SUCCESS;
    conditionCode_ = TWCC_SUCCESS;
    if (error == kderr::kUserAbort) return TWRC_CANCEL;
    const auto bundle = kdf::Bundle::atPath(OwnBundleFolder());
    auto text = [&](const char* key) { return bundle ? bundle->localizedString(key) : std::string(key); };
    std::string message, info;
    if (error == kNoPage) {
        message = text("No Page Message");
        info = text("No Page Info");
    } else {
        const SAlertKeys* keys = nullptr;
        for (const auto& k : kAlertKeys)
            if (k.error == error) keys = &k;
        if (keys) {
            message = text(keys->message);
            info = text(keys->info);
        } else {
            message = kdf::formatLocalized(text("Unknown Error Message"), {kdf::FormatArg(std::int64_t(UnknownErrorNumber(error)))});
            info = text("Unknown Error Info");
        }
    }
    std::vector<std::string> buttons{text("OK")};
    if (error == kNoPage) buttons.push_back(text("Cancel"));
    int chosen = -1;
    if (!HostIsBackgroundOnly()) {
        if (!ui_) ui_ = CreateUIController();
        if (ui_) {
            ui_->setScanPanelWorksWhenModal(false);
            chosen = ui_->runAlert(AlertStyle::Critical, message, info, buttons);
            ui_->setScanPanelWorksWhenModal(true);
        }
    }
    if (chosen < 0) {
        // Nobody can answer: the texts go to the log, the alert answers as
        // its cancel button (OK when it is the only one).
        syslog(LOG_WARNING, "KD720: %s %s", message.c_str(), info.c_str());
        chosen = static_cast<int>(buttons.size()) - 1;
    }
    if (error == kNoPage && chosen == 0) return TWRC_CHECKSTATUS;
    return TWRC_CANCEL;
}

TW_UINT16 CTavrKdScanDS::ShowContinueModeAlert(KdError error) {
    const auto bundle = kdf::Bundle::atPath(OwnBundleFolder());
    auto text = [&](const char* key) { return bundle ? bundle->localizedString(key) : std::string(key); };
    std::string message;
    switch (error) {
    case kderr::kNoDocument: message = text("Medium Not Present Message"); break;
    case kderr::kPaperJam: message = text("Paper Jam Message"); break;
    case kderr::kCoverOpen: message = text("Cover Open Message"); break;
    case kderr::kDoubleFeed:
    case kderr::kDoubleFeedDelivered: message = text("Double Feed Detect Message"); break;
    case kderr::kSkewDetected: message = text("Skew Detect Message"); break;
    default:
        message = kdf::formatLocalized(text("Unknown Error Message"), {kdf::FormatArg(std::int64_t(UnknownErrorNumber(error)))});
    }
    int answer = 0;
    if (!ui_ && !HostIsBackgroundOnly()) ui_ = CreateUIController();
    if (ui_) {
        // A double-fed page read in continue mode may be answered by a key
        // on the scanner.
        const bool byKey = error == kderr::kDoubleFeedDelivered;
        if (byKey) InstallScannerButtonModalTimer();
        answer = ui_->runModalContinueModeAlert(byKey ? 1 : 0, message);
        if (byKey) RemoveScannerButtonModalTimer();
    } else {
        syslog(LOG_WARNING, "KD720: %s", message.c_str());
    }
    TW_UINT16 rc;
    if (answer == 3) {
        scanMode_ = 6;
        pendingImageCount_ = imageCountAtAnnounce_ = SidesPerSheet();
        rc = TWRC_SUCCESS;
    } else {
        pendingImageCount_ = 0;
        rc = answer == 1 ? TWRC_CHECKSTATUS : TWRC_CANCEL;
        if (answer != 1) userStopped_ = true;
    }
    if (scanner_) {
        scanner_->SetScannerError(0);
        scanner_->Refresh();
    }
    conditionCode_ = TWCC_SUCCESS;
    return rc;
}

void CTavrKdScanDS::InstallScannerButtonModalTimer() {
    RemoveScannerButtonModalTimer();
    if (!scanner_ || WaitForKeysReleased() != kderr::kSuccess) return;
    auto check = [this](kdf::Timer&) {
        std::uint32_t keys = 0;
        if (!scanner_ || !ui_ || scanner_->GetStatus("OperationpanelEZKeyStatus", &keys) != kderr::kSuccess)
            return;
        if (keys == 0 || !ui_->isModalWindowVisible()) return;
        ui_->abortModal((keys & 0x4000) ? 3 : static_cast<int>(1 + (keys & 0x8000)));
    };
    // First after 0.2 s, then every 0.5 s, while the alert runs modally.
    buttonTimer_ = kdf::RunLoop::current().scheduleTimer(
        kdf::Seconds(0.2), false, kdf::RunLoopMode::ModalPanel, [this, check](kdf::Timer& first) {
            check(first);
            buttonTimer_ = kdf::RunLoop::current().scheduleTimer(kdf::Seconds(0.5), true,
                                                                 kdf::RunLoopMode::ModalPanel, check);
        });
}

void CTavrKdScanDS::RemoveScannerButtonModalTimer() {
    if (buttonTimer_) buttonTimer_->invalidate();
    buttonTimer_.reset();
}

void CTavrKdScanDS::ShowAlert(int error) { ShowScannerAlert(error == 2 ? kderr::kOutOfMemory : kderr::kUnknown); }

bool CTavrKdScanDS::ShowNoPageAlert() { return ShowScannerAlert(kNoPage) == TWRC_CHECKSTATUS; }

void CTavrKdScanDS::ShowRollerExchangeAlert() {
    if (rollerChecked_ || !scanner_) return;
    rollerChecked_ = true;
    const kdf::PreferencesContent prefs = kdf::readPreferencesFile("jp.co.tavrolek-sys.kd720");
    // Counts that are not numbers take the defaults.
    auto number = [&](const char* key, std::int64_t fallback) {
        const kdf::Value* v = kdf::find(prefs.values, key);
        const auto n = v ? v->toInteger() : std::nullopt;
        return n && *n > 0 ? *n : fallback;
    };
    const std::int64_t rollerLimit = number("ExchangeRollerCount", 200000);
    const std::int64_t padLimit = number("ExchangePadCount", 10000);
    std::uint32_t counts[3] = {};
    if (scanner_->GetStatus("ServiceData", counts) != kderr::kSuccess) return;
    if (ui_) return; // a window is up: the reminder waits for the next open
    std::unique_ptr<KdUIController> window = HostIsBackgroundOnly() ? nullptr : CreateUIController();
    if (!window) return;
    if (counts[1] >= rollerLimit) window->runModalRollerExchangeAlert(counts[1], false, HostIsBackgroundOnly());
    if (counts[2] >= padLimit) window->runModalRollerExchangeAlert(counts[2], true, HostIsBackgroundOnly());
    window.reset();
    const kdf::Value* review = kdf::find(prefs.values, "CheckErrorMessage");
    if (review && review->toBool().value_or(false)) {
        // Every alert text in turn, for reviewing them.
        for (KdError error : {0x100u, 0x40000u, 0x50000u, 0x30000u, 0x20000u, 0x60000u, 0x10000u, 0x70000u,
                              0xB0000u, 0xC0000u, 0xA0000u, 0x80000u, 0x800000u, 0xD0000u, 0xF0000u, 2u,
                              0x8000001u})
            ShowScannerAlert(error);
    }
}

// ---- Small operations ---------------------------------------------------------------------------------

TW_UINT16 CTavrKdScanDS::Prescan() {
    if (scanMode_ != 1 && scanMode_ != 2) return SeqError();
    if (!scanner_) return SetConditionCode(TWCC_OPERATIONERROR, TWRC_FAILURE);
    CCapPool* pool = pool_.get();
    const TW_UINT16 pixelType = CapUInt(ICAP_PIXELTYPE);
    const TW_INT32 edge = CapInt(CCAP_TVK_EDGEEMPHASIS), bleed = CapInt(CCAP_TVK_BLEEDTHROUGH);
    auto restore = [&] {
        SetCapUIntValue(pool, ICAP_PIXELTYPE, pixelType);
        SetCapSIntValue(pool, CCAP_TVK_EDGEEMPHASIS, edge);
        SetCapSIntValue(pool, CCAP_TVK_BLEEDTHROUGH, bleed);
    };
    if (scanMode_ == 2) {
        scanner_->ProtectImageBuffer(1);
        // The window shows black-and-white settings on a gray scan.
        if (pixelType == TWPT_BW) {
            SetCapUIntValue(pool, ICAP_PIXELTYPE, TWPT_GRAY);
            if (CapInt(CCAP_TVK_TEXTENHANCE)) {
                SetCapSIntValue(pool, CCAP_TVK_EDGEEMPHASIS, 3);
                SetCapSIntValue(pool, CCAP_TVK_BLEEDTHROUGH, 0);
            }
        }
    }
    TW_IMAGEINFO info{};
    TW_UINT16 rc = GetImageInfo(nullptr, &info);
    ScanBitmap bitmap;
    if (rc == TWRC_SUCCESS) {
        bitmap.width = imageInfo_.ImageWidth;
        bitmap.height = imageInfo_.ImageLength;
        bitmap.bitsPerSample = imageInfo_.BitsPerPixel == 1 ? 1 : 8;
        bitmap.samplesPerPixel = imageInfo_.SamplesPerPixel;
        bitmap.bytesPerRow = static_cast<std::size_t>(bytesPerLine_);
        rc = TransferWholePage(bitmap.pixels);
        if (rc == TWRC_XFERDONE) rc = TWRC_SUCCESS;
    }
    const int resolution = static_cast<int>(CapFloat(ICAP_XRESOLUTION));
    restore();
    if (rc == TWRC_SUCCESS) {
        if (!ui_) ui_ = CreateUIController();
        else if (!showUI_) ui_->updateColorModeControls();
        if (!ui_) rc = SetConditionCode(TWCC_OPERATIONERROR, TWRC_FAILURE);
    }
    if (rc == TWRC_SUCCESS) {
        ui_->setScanImage(bitmap, resolution, scanMode_ == 1);
        ui_->showMainWindow();
    }
    if (scanMode_ == 2) scanner_->ProtectImageBuffer(0);
    RecoverScan();
    if (fault_) {
        // The alert told the user; the prescan just ends.
        fault_ = 0;
        faultAnswered_ = false;
        if (rc == TWRC_FAILURE) rc = TWRC_CANCEL;
    }
    // An empty feeder tells the caller to offer the no-page alert.
    if (rc == TWRC_CHECKSTATUS && lastError_ == kNoPage) return SetConditionCode(TWCC_PAPERJAM, TWRC_CHECKSTATUS);
    return rc;
}

bool CTavrKdScanDS::PerformSkipBlankPages() { return false; }

TW_INT32 CTavrKdScanDS::QueryScannerPendingDocuments() {
    if (!scanner_) return 0;
    std::uint8_t ready = 0;
    if (scanner_->GetStatus("DocumentReadyStatus", &ready) != kderr::kSuccess) return 0;
    return (ready & 9) == 8 ? -1 : 0;
}

int CTavrKdScanDS::GetScannerState() { return scanner_ ? static_cast<int>(scanner_->GetState()) : 0; }

void CTavrKdScanDS::AbortScanner() {
    if (scanner_) scanner_->AbortScan();
}
