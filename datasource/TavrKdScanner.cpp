// The scanner object: session, scan set-up, light calibration, named status
// queries, counters and blocks, and the calibration data it keeps.
#include "TavrKd.h"

#include "KdBytes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

using Tvk::Imvra::CImg;
using Tvk::Imvra::tagADJUSTINFO;
using kdbytes::getBE16;
using kdbytes::getBE32;
using kdbytes::putBE16;
using kdbytes::putBE32;

namespace {

constexpr std::size_t kBlockSize = 128;
constexpr int kBlockTries = 3;
constexpr double kCalibrationLifetime = 300;   // seconds
constexpr int kMaxAdjustSteps = 16;            // the library finishes in seven
constexpr std::int32_t kOverScanTop = -472;
constexpr unsigned long kOverScanExtra = 944;
constexpr unsigned long kLightCurveAddress = 0x10080000;
constexpr unsigned long kLightCurveSize = 0x80000;
constexpr unsigned long kShadingRecordSize = 10244;
constexpr unsigned long kShadingLineOffset = 4;
constexpr std::uint8_t kCompositionGray = 2;
constexpr std::uint8_t kCompositionColour = 5;
// The blob's image header: thirteen 32-bit words, the address word 0.
constexpr std::size_t kBlobHeaderWords = 13;
constexpr std::size_t kBlobHeaderSize = kBlobHeaderWords * 4;
constexpr std::size_t kBlobSetupSize = 8 * sizeof(double);

bool lastErrorNeedsNoDischarge(KdError e) {
    return e == kderr::kSuccess || e == kderr::kNoDocument || e == 0x90000 ||
           e == kderr::kUserAbort || e == 0x800000 || e == kderr::kBatchEndNoPaper;
}

void lightSources(unsigned long colour, unsigned long mode, std::uint32_t& source) {
    source = 0;
    if (colour < 1 || colour > 3) return;
    if (mode == 1 || mode == 2) source = static_cast<std::uint32_t>(colour);
    else if (mode > 2) source = static_cast<std::uint32_t>(colour + 3);
}

}  // namespace

CTavrKd::CTavrKd(const void* deviceRecord)
    : CDocUSBScanner(deviceRecord), m_imaging(&LibraryImaging()) {}

CTavrKd::~CTavrKd() {
    StopThreads();
    ClearQueues();
    DeleteCalibration();
}

double CTavrKd::Now() const {
    if (m_tuning.clock) return m_tuning.clock();
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void CTavrKd::Notify() {
    {
        std::lock_guard lock(m_eventMutex);
        ++m_events;
    }
    m_event.notify_all();
}

void CTavrKd::WaitEvent(std::uint64_t& seen, bool hook) {
    {
        std::unique_lock lock(m_eventMutex);
        m_event.wait_for(lock, std::chrono::milliseconds(100), [&] { return m_events != seen; });
        seen = m_events;
    }
    if (hook && m_tuning.waitHook) m_tuning.waitHook();
}

void CTavrKd::StopThreads() {
    if (!m_reader.joinable() && !m_imager.joinable()) return;
    m_shutdown = true;
    Notify();
    if (m_reader.joinable()) m_reader.join();
    if (m_imager.joinable()) m_imager.join();
    m_shutdown = false;
    m_readerRunning = false;
    m_imageRunning = false;
    // The spare READ blocks serve one batch: a host does not hold them between scans.
    std::lock_guard blocks(m_blockMutex);
    m_spareBlocks.clear();
    m_spareBlocks.shrink_to_fit();
}

void CTavrKd::ClearQueues() {
    {
        std::lock_guard lock(m_pageMutex);
        m_rawPages.clear();
    }
    {
        std::lock_guard lock(m_imageMutex);
        m_images.clear();
    }
    std::lock_guard lock(m_processingMutex);
    m_processing = nullptr;
}

void CTavrKd::DeleteCalibration() {
    for (CImg& image : m_calib) image.deleteImg();
    m_haveCalibration = false;
}

KdError CTavrKd::OpenSession() {
    if (const KdError e = CDocUSBScanner::OpenSession(); e != kderr::kSuccess) return e;
    if (m_interfaceOpen) {
        m_inPipe = 1;
        m_outPipe = 2;
    }
    StopThreads();
    ClearQueues();
    m_scannerError = kderr::kSuccess;
    m_param = {};
    m_haveParam = false;
    m_cancel = 0;
    m_refresh = false;
    m_protect = false;
    m_buffered = 0;
    m_state = kStateOpen;
    return kderr::kSuccess;
}

KdError CTavrKd::CloseSession() {
    StopThreads();
    const KdError e = CDocUSBScanner::CloseSession();
    DeleteCalibration();
    ClearQueues();
    return e;
}

bool CTavrKd::BothSidesRead() const {
    return m_param.sides == 2 || m_param.sideBySide || m_param.pageEdgeDetection ||
           m_param.outlineOption;
}

bool CTavrKd::DetectionOn() const {
    return m_param.pageEdgeDetection || m_param.outlineOption || m_param.cropping ||
           m_param.detectionFlag4;
}

KdError CTavrKd::CheckScanner() {
    CDocScanner::StartScan(nullptr);
    ClearIO();
    char vendor[kVendorLength + 1] = {};
    unsigned char type = 0;
    if (const KdError e = ExecInquiry(vendor, nullptr, nullptr, &type); e != kderr::kSuccess)
        return e;
    if (std::strcmp(vendor, "TAVRO   ") != 0 || type != 6) return kderr::kDeviceLost;
    KdError e = kderr::kSuccess;
    for (int i = 0; i < 3; ++i) {
        e = RecoverError(ExecTestUnitReady());
        if (e == kderr::kSuccess || e == kderr::kHardwareError) break;
    }
    return e;
}

KdError CTavrKd::StartScan(tagScanParam* param) {
    tagScanParam saved{};
    if (param != nullptr) saved = *param;
    // The threads of a previous scan may still run: end them before their queues go.
    StopThreads();
    ClearQueues();
    m_param = {};
    m_haveParam = false;
    m_buffered = 0;
    m_doubleFeedSeen = false;
    m_batchStarted = false;
    m_pagesRead = 0;
    m_readerError = 0;
    m_imageError = 0;
    if (m_cancel.exchange(0) != 0) return kderr::kUserAbort;

    KdError e = [&]() -> KdError {
        const bool discharge =
            param != nullptr && (!lastErrorNeedsNoDischarge(m_scannerError) || m_refresh);
        KdError c = CheckScanner();
        // A sheet left in the path answers every TEST UNIT READY until it is
        // discharged, so the discharge the last error asks for comes first.
        if (discharge && (c == kderr::kPaperJam || c == kderr::kDoubleFeed ||
                          c == kderr::kSkewDetected || c == kderr::kMediumError)) {
            c = RecoverError(ExecObjectPosition(2));
            if (c == kderr::kSuccess) c = RecoverError(ExecTestUnitReady());
        } else if (c == kderr::kSuccess && discharge) {
            c = ExecObjectPosition(2);
        }
        if (c != kderr::kSuccess) return c;
        if (discharge) {
            m_scannerError = kderr::kSuccess;
            m_refresh = false;
        }
        SDeviceCapabilty cap{};
        if (const KdError c = ExecInquiryEx(&cap); c != kderr::kSuccess) return c;
        if (cap.xBaseResolution == 0 || cap.yBaseResolution == 0) return kderr::kIOError;
        m_ultrasonic = (cap.options & kOptionUltrasonic) != 0;
        m_maxWidth = static_cast<unsigned long>(cap.maxWidth) * 1200 / cap.xBaseResolution;
        m_maxLength = static_cast<unsigned long>(cap.maxLength) * 1200 / cap.yBaseResolution;
        if (param == nullptr) return kderr::kSuccess;
        param->sideOrder = 0;
        if (param->continuousFeeding) {
            if (const KdError c = ExecObjectPosition(1); c != kderr::kSuccess) return c;
        }
        std::uint8_t block[kBlockSize];
        if (const KdError c = ReadBlock(kDataTypeServiceBlock, block, 1); c != kderr::kSuccess)
            return c;
        m_offsetValue = static_cast<std::int32_t>(getBE32(block));
        m_dummyValue = static_cast<std::int32_t>(getBE32(block + 60));

        // Scan resolutions.
        std::uint32_t& option = param->furtherOptions[2];
        if (param->autoResolution) {
            param->resolution = 300;
            const bool high = (option & 0xFFFF) != 0 && (option >> 16) == 2;
            param->scanXResolution = param->scanYResolution = high ? 600 : 300;
        } else {
            switch (param->resolution) {
            case 100:
            case 150: param->scanXResolution = 300; param->scanYResolution = 150; break;
            case 200: param->scanXResolution = 300; param->scanYResolution = 200; break;
            case 240:
            case 300: param->scanXResolution = 300; param->scanYResolution = 300; break;
            case 400: param->scanXResolution = 600; param->scanYResolution = 400; break;
            case 600: param->scanXResolution = 600; param->scanYResolution = 600; break;
            default: return kderr::kIllegalRequest;
            }
            if (param->resolution > 300) option = 0;
            else if ((option & 0xFFFF) != 0 && (option >> 16) == 2)
                param->scanXResolution = param->scanYResolution = 600;
        }
        const bool colour = (param->colourOption & 0xFFFF) != 0 || param->outputMode == 2 ||
                            param->outputMode == 128;
        param->scanChannels = colour ? 2 : 1;

        // The window; over-scan starts 472/1200 inch before the sheet.
        const bool overScan = param->pageEdgeDetection || param->outlineOption || param->cropping;
        const double top = std::max(0.0, static_cast<double>(param->top));
        const double length = std::max(0.0, static_cast<double>(param->length));
        std::int32_t windowTop = static_cast<std::int32_t>(top);
        unsigned long windowLength = static_cast<unsigned long>(length);
        if (overScan) {
            windowTop = kOverScanTop;
            windowLength = std::min<unsigned long>(
                static_cast<unsigned long>(top + length) + kOverScanExtra,
                kOverScanExtra + m_maxLength);
        }
        if (windowLength == 0) return kderr::kIllegalRequest;
        m_windowLength = windowLength;
        param->imageLength = static_cast<std::uint32_t>(param->resolution * length / 1200);
        param->scanLines =
            static_cast<std::uint32_t>(param->scanYResolution * windowLength / 1200);
        if (!m_ultrasonic) param->doubleFeedByUltrasonic = 0;

        m_param = *param;
        m_haveParam = true;
        if (const KdError c = AdjustLight(); c != kderr::kSuccess) return c;

        for (std::uint8_t id = 0; id < 2; ++id) {
            SScanWindow w{};
            w.windowId = id;
            w.xResolution = static_cast<std::uint16_t>(param->scanXResolution);
            w.yResolution = static_cast<std::uint16_t>(param->scanYResolution);
            w.top = windowTop;
            w.width = static_cast<std::uint32_t>(m_maxWidth);
            w.length = static_cast<std::uint32_t>(windowLength);
            w.imageComposition = colour ? kCompositionColour : kCompositionGray;
            w.bitsPerPixel = 8;
            if (const KdError c = ExecSetWindow(&w); c != kderr::kSuccess) return c;
        }
        SScanModeParam m{};
        m.page = 0;
        m.doubleFeedByLength = param->doubleFeedByLength != 0;
        m.doubleFeedByUltrasonic = param->doubleFeedByUltrasonic != 0;
        m.continueAfterDoubleFeed = param->continueOnDoubleFeed != 0;
        if (const KdError c = ExecDefineScanMode(&m); c != kderr::kSuccess) return c;
        m = {};
        m.page = 1;
        m.scanModeValue1 = param->scanModeValues[0];
        m.scanModeValue2 = param->scanModeValues[1];
        if (const KdError c = ExecDefineScanMode(&m); c != kderr::kSuccess) return c;
        m = {};
        m.page = 2;
        m.sides = static_cast<std::uint8_t>(BothSidesRead() ? 2 : param->sides);
        m.continuousFeeding = param->continuousFeeding != 0;
        m.overScan = overScan;
        m.scanModeFlag = param->scanModeFlag;
        if (const KdError c = ExecDefineScanMode(&m); c != kderr::kSuccess) return c;
        m = {};
        m.page = 3;
        if (!colour) {
            m.dropOutColourFront = static_cast<std::uint8_t>(param->dropOutColourFront);
            m.dropOutColourBack = static_cast<std::uint8_t>(param->dropOutColourBack);
            m.dropOutModeFront = static_cast<std::uint8_t>(param->dropOutModeFront);
            m.dropOutModeBack = static_cast<std::uint8_t>(param->dropOutModeBack);
        }
        return ExecDefineScanMode(&m);
    }();
    if (e != kderr::kSuccess) e = RecoverError(e);
    if (e != kderr::kSuccess) {
        if (param != nullptr) *param = saved;
        m_haveParam = false;
        if (m_protect) ProtectImageBuffer(0);
    }
    m_scannerError = e;
    return e;
}

CTavrKd::CalibrationSetup CTavrKd::CurrentSetup() const {
    CalibrationSetup s;
    s.windows = BothSidesRead() ? 2 : 1;
    s.xres = m_param.scanXResolution;
    s.yres = m_param.scanYResolution;
    s.left = 0;
    s.width = m_maxWidth;
    s.channels = m_param.scanChannels;
    s.dropOut = m_param.dropOutColourFront | m_param.dropOutColourBack << 4 |
                m_param.dropOutModeFront << 8 | m_param.dropOutModeBack << 12;
    if (m_param.scanChannels == 2) s.dropOut = 0;
    return s;
}

KdError CTavrKd::CalibrationScan(tagADJUSTINFO& info, std::uint8_t id0, std::uint8_t id1,
                                 bool adjustData, bool levels, CImg& raw) {
    const bool both = BothSidesRead();
    const unsigned long windows = both ? 2 : 1;
    // The scans whose levels decide the LED currents are colour whatever
    // the scan: the gray decision reads each LED on its own. The offset and
    // gain are measured as the pages will be scanned: a gray line sees all
    // three LEDs at once, and a gain set from one LED's row would drive it
    // three times over the top.
    const bool colour = levels || m_param.scanChannels == 2;
    if (adjustData) {
        SAdjustInfo front{}, back{};
        static_assert(sizeof(SAdjustInfo) == sizeof(Tvk::Imvra::tagADJUSTREGISTERS));
        std::memcpy(&front, &info.FrontAdjustInfo, sizeof front);
        std::memcpy(&back, &info.BackAdjustInfo, sizeof back);
        // The back alone is calibrated as the library's one side: what it
        // settles goes to the back's registers, which the back window uses.
        if (!both && m_param.sides == 1) back = front;
        if (const KdError e = ExecSetAdjustData(&front, &back); e != kderr::kSuccess) return e;
    }
    const unsigned long lines = 8;
    for (unsigned long i = 0; i < windows; ++i) {
        SScanWindow w{};
        w.windowId = static_cast<std::uint8_t>(both ? i : (m_param.sides == 1 ? 1 : 0));
        w.xResolution = static_cast<std::uint16_t>(m_param.scanXResolution);
        w.yResolution = static_cast<std::uint16_t>(m_param.scanYResolution);
        w.width = static_cast<std::uint32_t>(m_maxWidth);
        w.length = static_cast<std::uint32_t>(9600 / m_param.scanYResolution);
        w.imageComposition = colour ? kCompositionColour : kCompositionGray;
        w.bitsPerPixel = 12;
        if (const KdError e = ExecSetWindow(&w); e != kderr::kSuccess) return e;
    }
    SScanModeParam m{};
    m.page = 2;
    m.sides = static_cast<std::uint8_t>(both ? 2 : m_param.sides);
    if (const KdError e = ExecDefineScanMode(&m); e != kderr::kSuccess) return e;
    m = {};
    m.page = 3;
    if (!colour) {
        m.dropOutColourFront = static_cast<std::uint8_t>(m_param.dropOutColourFront);
        m.dropOutColourBack = static_cast<std::uint8_t>(m_param.dropOutColourBack);
        m.dropOutModeFront = static_cast<std::uint8_t>(m_param.dropOutModeFront);
        m.dropOutModeBack = static_cast<std::uint8_t>(m_param.dropOutModeBack);
    }
    if (const KdError e = ExecDefineScanMode(&m); e != kderr::kSuccess) return e;
    const unsigned char ids[2] = {both ? id0 : (m_param.sides == 1 ? id1 : id0), id1};
    if (const KdError e = ExecScan(windows, ids); e != kderr::kSuccess) return e;

    const long pixels = static_cast<long>(m_maxWidth * m_param.scanXResolution / 1200 * windows);
    const long sync = (12 * pixels / 8 + 1) & ~1L;
    const int spp = colour ? 3 : 1;
    if (!raw.createImg(static_cast<std::int32_t>(pixels), static_cast<std::int32_t>(lines),
                       static_cast<std::int32_t>(sync), 12, spp, 1,
                       static_cast<std::int32_t>(m_param.scanXResolution),
                       static_cast<std::int32_t>(m_param.scanYResolution)))
        return kderr::kNoBandImage;
    if (raw.isNull()) return kderr::kOutOfMemory;
    unsigned long size = raw.info().tImageSize;
    KdError e = ExecRead(&size, raw.info().lpImage, kDataTypeImage);
    // The READ that brings the last byte ends with a check condition of sense key 0.
    if (e != kderr::kSuccess) e = RecoverError(e);
    if (e != kderr::kSuccess) return e;
    return ExecObjectPosition(0);
}

KdError CTavrKd::AdjustLight() {
    CalibrationSetup setup = CurrentSetup();
    const double now = Now();
    if (m_haveCalibration && setup == m_calibSetup &&
        now - m_calibSetup.time <= kCalibrationLifetime)
        return kderr::kSuccess;
    DeleteCalibration();

    std::lock_guard engine(ImagingLock());
    tagADJUSTINFO info{};
    info.ulHead = Tvk::Imvra::kAdjustInfoSize;
    info.bDuplex = setup.windows == 2;
    info.lXResolution = m_param.scanXResolution;
    info.ScanMode = m_param.scanChannels;
    lightSources(m_param.dropOutColourFront, m_param.dropOutModeFront, info.FrontLightSorce);
    lightSources(m_param.dropOutColourBack, m_param.dropOutModeBack, info.BackLightSorce);
    // The back alone is the library's one side, lit as the back.
    if (setup.windows == 1 && m_param.sides == 1) info.FrontLightSorce = info.BackLightSorce;
    if (m_param.scanChannels == 2) info.FrontLightSorce = info.BackLightSorce = 0;
    m_imaging->adjustLightFirst(&info, m_dummyValue);

    CImg raw;
    bool done = false;
    for (int step = 0; step < kMaxAdjustSteps && !done; ++step) {
        // The library names the pair to scan next (0xFF: a dark line).
        std::uint8_t ids[2];
        std::memcpy(ids, &info.ScanInfo, 2);
        // Steps 1 to 4 measure the levels; 0, 5 and 6 the offset and gain.
        const bool levels = step >= 1 && step <= 4;
        if (const KdError e = CalibrationScan(info, ids[0], ids[1], true, levels, raw); e != kderr::kSuccess)
            return e;
        if (m_imaging->adjustLightNext(raw, &info) != Tvk::Imvra::RTN_OK)
            return kderr::kLibraryRefused;
        done = info.bDone != 0;
    }
    if (!done) return kderr::kLibraryRefused;
    static constexpr std::uint8_t kRefIds[2] = {0xFE, 0xFF};
    for (int r = 0; r < 2; ++r) {
        if (const KdError e = CalibrationScan(info, kRefIds[r], kRefIds[r], r == 0, false, raw);
            e != kderr::kSuccess)
            return e;
        if (m_imaging->adjustLightLast(m_calib[r], m_calib[2 + r], raw, &info) !=
            Tvk::Imvra::RTN_OK)
            return kderr::kLibraryRefused;
    }
    raw.deleteImg();
    std::unique_ptr<unsigned char[]> curve(new (std::nothrow) unsigned char[kLightCurveSize]);
    if (!curve) return kderr::kOutOfMemory;
    if (const KdError e = ExecGetMemory(kLightCurveAddress, kLightCurveSize, curve.get());
        e != kderr::kSuccess)
        return e;
    for (int side = 0; side < static_cast<int>(setup.windows); ++side) {
        if (m_imaging->adjustLightFix(m_calib[2 * side], m_calib[2 * side + 1], &info,
                                      static_cast<Tvk::Imvra::tagSIDE>(side), curve.get(),
                                      kLightCurveSize) != Tvk::Imvra::RTN_OK)
            return kderr::kLibraryRefused;
    }
    // Every reference line to the scanner: per window, per reference, three channel records.
    for (int side = 0; side < static_cast<int>(setup.windows); ++side) {
        const bool back = setup.windows == 2 ? side == 1 : m_param.sides == 1;
        for (int r = 0; r < 2; ++r) {
            const Tvk::tagIMAGEINFO& ref = m_calib[2 * side + r].info();
            if (ref.lpImage == nullptr) return kderr::kLibraryRefused;
            for (unsigned long c = 0; c < 3; ++c) {
                const unsigned long plane = ref.lSpp == 3 ? c : 0;
                const unsigned long sync = static_cast<unsigned long>(ref.lSync);
                const unsigned long bytes =
                    ref.ulRGBOrder == 1 ? sync : sync / static_cast<unsigned long>(ref.lSpp);
                if ((plane + 1) * bytes > ref.tImageSize) return kderr::kLibraryRefused;
                // A 600 dpi line is longer than a record holds: the record
                // carries its start (the library, not the scanner, shades).
                const unsigned long sent =
                    std::min(bytes, kShadingRecordSize - kShadingLineOffset);
                if (const KdError e = SendShadingData(ref.lpImage + plane * bytes, sent, c, r == 1,
                                                      back);
                    e != kderr::kSuccess)
                    return e;
            }
        }
    }
    setup.time = now;
    m_calibSetup = setup;
    m_haveCalibration = true;
    return kderr::kSuccess;
}

KdError CTavrKd::SendShadingData(const unsigned char* data, unsigned long size,
                                 unsigned long channel, bool second, bool back) {
    if (data == nullptr || channel > 2 || size > kShadingRecordSize - kShadingLineOffset)
        return kderr::kNoBandImage;
    std::unique_ptr<std::uint8_t[]> record(new (std::nothrow) std::uint8_t[kShadingRecordSize]());
    if (!record) return kderr::kOutOfMemory;
    record[0] = static_cast<std::uint8_t>((back ? 1 : 0) + channel * 4 + (second ? 0x40 : 0));
    std::memcpy(record.get() + kShadingLineOffset, data, size);
    return ExecSend(kShadingRecordSize, record.get(), kDataTypeShading);
}

KdError CTavrKd::FinishScan() {
    if (m_state < kStateScanning) return CDocScanner::FinishScan();
    std::uint64_t seen = 0;
    while (m_readerRunning || m_imageRunning) {
        ScanComplete();
        WaitEvent(seen, true);
    }
    StopThreads();
    {
        std::lock_guard lock(m_imageMutex);
        if (!m_protect) m_images.clear();
    }
    {
        std::lock_guard engine(ImagingLock());
        m_imaging->endBatch();
    }
    m_cancel = 0;
    m_buffered = 0;
    m_state = kStateOpen;
    return kderr::kSuccess;
}

KdError CTavrKd::AbortScan() {
    std::uint32_t none = 0;
    if (m_state != kStateClosed) m_cancel.compare_exchange_strong(none, 1);
    Notify();
    return kderr::kSuccess;
}

KdError CTavrKd::AbortState() { return m_cancel; }

KdError CTavrKd::Refresh() {
    const KdError e = ExecErrorClear();
    m_refresh = true;
    return e;
}

void CTavrKd::SetEzKeyAbort(unsigned long mask) { m_ezKeyMask = mask; }

void CTavrKd::ProtectImageBuffer(unsigned char on) {
    if (m_protect && !on) {
        std::lock_guard lock(m_imageMutex);
        for (auto& image : m_images) {
            std::lock_guard strips(image->mutex);
            for (SImageStrip& s : image->strips) s.readBytes = 0;
        }
    }
    m_protect = on != 0;
}

KdError CTavrKd::ReadBlock(unsigned long type, std::uint8_t block[128], int tries) {
    KdError e = kderr::kSuccess;
    for (int i = 0; i < tries; ++i) {
        unsigned long size = kBlockSize;
        e = ExecRead(&size, block, type);
        if (e != kderr::kSuccess) e = RecoverError(e);
        if (e == kderr::kSuccess && size != kBlockSize) e = kderr::kIOError;
        if (e == kderr::kSuccess) break;
    }
    return e;
}

KdError CTavrKd::WriteBlock(unsigned long type, const std::uint8_t block[128]) {
    const KdError e = ExecSend(kBlockSize, block, type);
    return e == kderr::kSuccess ? e : RecoverError(e);
}

KdError CTavrKd::WaitForReader() {
    std::uint64_t seen = 0;
    while (m_readerRunning && std::this_thread::get_id() != m_readerId.load()) {
        // A reader held by flow control waits for pages nobody takes.
        if (m_flowHeld) return kderr::kDeviceBusy;
        WaitEvent(seen, true);
    }
    return kderr::kSuccess;
}

KdError CTavrKd::GetStatus(const char* name, void* value) {
    const std::string n = name != nullptr ? name : "";
    KdError e = kderr::kSuccess;
    if (n == "BatchTransferCount") {
        std::uint32_t count = 0;
        KdError found = kderr::kSuccess;
        {
            std::lock_guard lock(m_pageMutex);
            for (const auto& page : m_rawPages) {
                std::lock_guard chunks(page->mutex);
                for (const SImageChunk& c : page->chunks) {
                    if (c.kind == kChunkCancel) found = kderr::kUserAbort;
                    else if (c.kind == kChunkEnd && c.status != 0 &&
                             c.status != kderr::kDoubleFeedDelivered)
                        found = c.status;
                }
                if (found != kderr::kSuccess) break;
                ++count;
            }
        }
        if (m_imageBusy) ++count;
        if (count == 0 && found != kderr::kSuccess) {
            std::lock_guard lock(m_imageMutex);
            for (const auto& image : m_images)
                if (image->error == 0) ++count;
        }
        if (value != nullptr) std::memcpy(value, &count, sizeof count);
        m_scannerError = found;
        return found;
    }
    e = WaitForReader();
    if (e == kderr::kSuccess) {
        if (n == "OperationpanelEZKeyStatus") {
            std::uint8_t b[8] = {};
            unsigned long size = sizeof b;
            e = ExecRead(&size, b, 4);
            if (e != kderr::kSuccess) e = RecoverError(e);
            if (e == kderr::kSuccess && size != sizeof b) e = kderr::kIOError;
            if (e == kderr::kSuccess) {
                std::uint32_t status = 0;
                // Key numbers run from 1 to 32; others have no bit.
                if ((b[0] & 0x80) != 0 && b[3] >= 1 && b[3] <= 32) status |= 1u << (b[3] - 1);
                if ((b[0] & 0x40) != 0) status |= 0x80u << 8;
                if ((b[1] & 0x10) != 0) status |= 0x40u << 8;
                if (value != nullptr) std::memcpy(value, &status, sizeof status);
            }
        } else if (n == "DocumentReadyStatus") {
            std::uint8_t b = 0;
            unsigned long size = 1;
            e = ExecRead(&size, &b, 5);
            if (e != kderr::kSuccess) e = RecoverError(e);
            if (e == kderr::kSuccess && size != 1) e = kderr::kIOError;
            if (e == kderr::kSuccess && value != nullptr) *static_cast<std::uint8_t*>(value) = b;
        } else if (n == "DocumentBatchStatus") {
            std::uint8_t picked = 0;
            e = RecoverError(ExecObjectPosition(1));
            if (e == kderr::kSuccess) {
                picked = 1;
            } else if (m_state == kStateScanning || m_state == kStatePageComplete) {
                std::lock_guard lock(m_pageMutex);
                picked = m_rawPages.empty() ? 0 : 1;
                e = kderr::kSuccess;
            }
            if (value != nullptr) *static_cast<std::uint8_t*>(value) = picked;
        } else if (n == "ScannerInfo") {
            if (!m_haveInfo) {
                SScannerInfo info{};
                char vendor[kVendorLength + 1] = {}, product[kProductLength + 1] = {},
                     revision[kRevisionLength + 1] = {};
                SDeviceCapabilty cap{};
                for (int i = 0; i < 3; ++i) {
                    e = ExecInquiry(vendor, product, revision, nullptr);
                    if (e == kderr::kSuccess) e = ExecInquiryEx(&cap);
                    if (e != kderr::kSuccess) e = RecoverError(e);
                    if (e == kderr::kSuccess) break;
                }
                if (e == kderr::kSuccess) {
                    std::strncpy(info.product, product, sizeof info.product - 1);
                    std::strncpy(info.vendor, vendor, sizeof info.vendor - 1);
                    std::strncpy(info.revision, revision, sizeof info.revision - 1);
                    info.ultrasonic = (cap.options & kOptionUltrasonic) != 0 ? 1 : 0;
                    m_info = info;
                    m_haveInfo = true;
                }
            }
            if (e == kderr::kSuccess && value != nullptr) std::memcpy(value, &m_info, sizeof m_info);
        } else if (n == "ServiceData") {
            std::uint8_t b[kBlockSize];
            e = ReadBlock(kDataTypeServiceBlock, b, 1);
            if (e == kderr::kSuccess) {
                const std::uint32_t total = getBE32(b + 4), roller = getBE32(b + 68);
                // A reference above the total is no count at all.
                const std::uint32_t words[3] = {total, roller > total ? 0 : total - roller, 0};
                if (value != nullptr) std::memcpy(value, words, sizeof words);
            }
        } else if (n == "MaxScanLength") {
            std::uint8_t b[kBlockSize];
            e = ReadBlock(kDataTypeSettingsBlock, b, kBlockTries);
            if (e == kderr::kSuccess && value != nullptr) {
                const std::uint32_t v = getBE32(b + 16);
                std::memcpy(value, &v, sizeof v);
            }
        } else if (n == "MaxScanWidth") {
            std::uint8_t b[kBlockSize];
            SDeviceCapabilty cap{};
            e = ExecInquiryEx(&cap);
            if (e == kderr::kSuccess) e = ReadBlock(kDataTypeServiceBlock, b, 1);
            else e = RecoverError(e);
            if (e == kderr::kSuccess && cap.xBaseResolution == 0) e = kderr::kIOError;
            if (e == kderr::kSuccess) {
                const long width = static_cast<long>(cap.maxWidth) * 1200 / cap.xBaseResolution;
                long dummy = 0;
                {
                    std::lock_guard engine(ImagingLock());
                    dummy = m_imaging->getDummyPixelCount(
                        600, static_cast<int>(static_cast<std::int32_t>(getBE32(b + 60))));
                }
                const std::uint32_t v = static_cast<std::uint32_t>(std::max(0L, width - 2 * dummy));
                if (value != nullptr) std::memcpy(value, &v, sizeof v);
            }
        } else if (n == "VerticalScalingControlValue") {
            std::uint8_t b[kBlockSize];
            e = ReadBlock(kDataTypeSettingsBlock, b, kBlockTries);
            if (e == kderr::kSuccess && value != nullptr) {
                const double v = getBE16(b + 44) / 32768.0;
                std::memcpy(value, &v, sizeof v);
            }
        } else if (n == "ScannerErrorStatus") {
            e = m_scannerError != kderr::kSuccess ? m_scannerError : GetPageError();
        } else if (n == "AbortState") {
            const std::uint32_t v = m_cancel;
            if (value != nullptr) std::memcpy(value, &v, sizeof v);
        } else {
            e = kderr::kIllegalRequest;
        }
    }
    // The reader's own key checks leave the caller's error word alone.
    if (std::this_thread::get_id() != m_readerId.load()) m_scannerError = e;
    return e;
}

KdError CTavrKd::ClearRollerCounter(unsigned char pad) {
    std::uint8_t b[kBlockSize];
    if (const KdError e = ReadBlock(kDataTypeServiceBlock, b, 1); e != kderr::kSuccess) return e;
    std::memcpy(b + (pad ? 76 : 68), b + 4, 4);
    return WriteBlock(kDataTypeServiceBlock, b);
}

KdError CTavrKd::SetScanCounter(const unsigned long values[3]) {
    if (values == nullptr || values[0] > 0xFFFFFFFFul || values[0] < values[1] ||
        values[0] < values[2])
        return kderr::kNoBandImage;
    std::uint8_t b[kBlockSize];
    if (const KdError e = ReadBlock(kDataTypeServiceBlock, b, 1); e != kderr::kSuccess) return e;
    putBE32(b + 4, values[0]);
    putBE32(b + 68, values[0] - values[1]);
    putBE32(b + 76, values[0] - values[2]);
    return WriteBlock(kDataTypeServiceBlock, b);
}

KdError CTavrKd::SetSerialNumber(const char* serial) {
    if (serial == nullptr) return kderr::kNoBandImage;
    std::uint8_t b[kBlockSize];
    if (const KdError e = ReadBlock(kDataTypeServiceBlock, b, 1); e != kderr::kSuccess) return e;
    std::memset(b + 108, 0, 16);
    std::memcpy(b + 108, serial, strnlen(serial, 16));
    return WriteBlock(kDataTypeServiceBlock, b);
}

KdError CTavrKd::SetMaxScanLength(unsigned long length) {
    if (length > 0xFFFFFFFFul) return kderr::kNoBandImage;
    std::uint8_t b[kBlockSize];
    if (const KdError e = ReadBlock(kDataTypeSettingsBlock, b, 1); e != kderr::kSuccess) return e;
    putBE32(b + 16, length);
    return WriteBlock(kDataTypeSettingsBlock, b);
}

KdError CTavrKd::SetVerticalScalingControlValue(double factor) {
    const double scaled = factor * 32768;
    // A factor that 16 bits cannot hold would wrap into another one.
    if (!(scaled >= 0 && scaled <= 0xFFFF)) return kderr::kNoBandImage;
    std::uint8_t b[kBlockSize];
    if (const KdError e = ReadBlock(kDataTypeSettingsBlock, b, 1); e != kderr::kSuccess) return e;
    putBE16(b + 44, static_cast<unsigned long>(scaled));
    return WriteBlock(kDataTypeSettingsBlock, b);
}

KdError CTavrKd::SetOcrPath(const char* folder) {
    std::lock_guard engine(ImagingLock());
    return m_imaging->setOcrPath(folder) == 0 ? kderr::kSuccess : kderr::kNoBandImage;
}

// The blob's image header, written and read word by word in host order.
KdError CTavrKd::GetShadingData(std::vector<std::uint8_t>* blob) {
    if (blob == nullptr) return kderr::kNoBandImage;
    // The image thread copies the images for every page under this lock.
    std::lock_guard engine(ImagingLock());
    blob->clear();
    const double setup[8] = {static_cast<double>(m_calibSetup.windows),
                             static_cast<double>(m_calibSetup.xres),
                             static_cast<double>(m_calibSetup.yres),
                             static_cast<double>(m_calibSetup.left),
                             static_cast<double>(m_calibSetup.width),
                             static_cast<double>(m_calibSetup.channels),
                             static_cast<double>(m_calibSetup.dropOut),
                             m_calibSetup.time};
    const auto* p = reinterpret_cast<const std::uint8_t*>(setup);
    blob->insert(blob->end(), p, p + kBlobSetupSize);
    for (CImg& image : m_calib) {
        const Tvk::tagIMAGEINFO& i = image.info();
        const std::uint32_t words[kBlobHeaderWords] = {
            static_cast<std::uint32_t>(kBlobHeaderSize), 0,
            static_cast<std::uint32_t>(i.lXpos), static_cast<std::uint32_t>(i.lYpos),
            static_cast<std::uint32_t>(i.lWidth), static_cast<std::uint32_t>(i.lHeight),
            static_cast<std::uint32_t>(i.lSync), i.lpImage ? i.tImageSize : 0,
            static_cast<std::uint32_t>(i.lBps), static_cast<std::uint32_t>(i.lSpp), i.ulRGBOrder,
            static_cast<std::uint32_t>(i.lXResolution), static_cast<std::uint32_t>(i.lYResolution)};
        const auto* w = reinterpret_cast<const std::uint8_t*>(words);
        blob->insert(blob->end(), w, w + kBlobHeaderSize);
        if (i.lpImage != nullptr) blob->insert(blob->end(), i.lpImage, i.lpImage + i.tImageSize);
    }
    return kderr::kSuccess;
}

KdError CTavrKd::SetShadingData(const std::uint8_t* blob, std::size_t size) {
    if (blob == nullptr || size < kBlobSetupSize) return kderr::kNoBandImage;
    double setup[8];
    std::memcpy(setup, blob, sizeof setup);
    std::size_t at = kBlobSetupSize;
    CImg images[4];
    for (CImg& image : images) {
        if (size - at < kBlobHeaderSize) return kderr::kNoBandImage;
        std::uint32_t w[kBlobHeaderWords];
        std::memcpy(w, blob + at, sizeof w);
        at += kBlobHeaderSize;
        if (w[0] != kBlobHeaderSize || w[1] != 0) return kderr::kNoBandImage;
        if (w[7] == 0) continue;   // an image that was never made
        Tvk::tagIMAGEINFO info{};
        info.size = Tvk::kImageInfoSize;
        info.lXpos = static_cast<std::int32_t>(w[2]);
        info.lYpos = static_cast<std::int32_t>(w[3]);
        info.lWidth = static_cast<std::int32_t>(w[4]);
        info.lHeight = static_cast<std::int32_t>(w[5]);
        info.lSync = static_cast<std::int32_t>(w[6]);
        info.tImageSize = w[7];
        info.lBps = static_cast<std::int32_t>(w[8]);
        info.lSpp = static_cast<std::int32_t>(w[9]);
        info.ulRGBOrder = w[10];
        info.lXResolution = static_cast<std::int32_t>(w[11]);
        info.lYResolution = static_cast<std::int32_t>(w[12]);
        if (info.tImageSize > size - at) return kderr::kNoBandImage;
        if (!image.createImg(info)) return kderr::kNoBandImage;
        if (image.isNull()) return kderr::kOutOfMemory;
        std::memcpy(image.info().lpImage, blob + at, info.tImageSize);
        at += info.tImageSize;
    }
    for (double v : setup)
        if (!std::isfinite(v) || v < 0 || v > 4294967295.0) return kderr::kNoBandImage;
    std::lock_guard engine(ImagingLock());
    for (int i = 0; i < 4; ++i) m_calib[i] = images[i];
    m_calibSetup.windows = static_cast<unsigned long>(setup[0]);
    m_calibSetup.xres = static_cast<unsigned long>(setup[1]);
    m_calibSetup.yres = static_cast<unsigned long>(setup[2]);
    m_calibSetup.left = static_cast<unsigned long>(setup[3]);
    m_calibSetup.width = static_cast<unsigned long>(setup[4]);
    m_calibSetup.channels = static_cast<unsigned long>(setup[5]);
    m_calibSetup.dropOut = static_cast<unsigned long>(setup[6]);
    m_calibSetup.time = setup[7];
    m_haveCalibration = !m_calib[0].isNull();
    return kderr::kSuccess;
}
