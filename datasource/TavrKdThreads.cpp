// The scan threads: the reader pulls raw data from the scanner into the raw
// page list, the image thread cuts it into bands and filters each band
// through the image library into the image list, and the data source's
// thread takes finished pages with ScanPage, ReadLines and ScanComplete.
#include "TavrKd.h"

#include "KdBytes.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include <pthread.h>
#include <sys/mman.h>

using namespace Tvk::Imvra;
using Tvk::tagIMAGEINFO;
using kdbytes::getBE32;

namespace {

constexpr unsigned long kReadSize = 2ul << 20;
// Spare READ blocks kept at least: somewhat more than one A4 colour page
// read on both sides at 300 dpi, which the reader fills while the image
// thread filters the page before.
constexpr std::size_t kSpareReadBlocks = 32;
// A READ that fills less than this part of its block is a short one.
constexpr unsigned long kShortReadPart = 4;
constexpr double kFlowPoll = 1;        // seconds between flow-control checks
constexpr double kFlowTestUnit = 5;    // TEST UNIT READY while held
constexpr double kKeyPoll = 2;         // operation-panel key checks
constexpr std::uint8_t kContrastTable[8] = {0, 1, 43, 85, 128, 170, 212, 255};
constexpr unsigned long kSenseKeyMask = 0x0F0000;
// The pauses between READs that bring no data mid-page: from the first to
// the longest, doubling.
constexpr std::chrono::milliseconds kFirstNoDataPause{2};
constexpr std::chrono::milliseconds kLongestNoDataPause{50};

bool on(std::uint32_t option) { return (option & 0xFFFF) != 0; }
std::uint32_t valueOf(std::uint32_t option) { return option >> 16; }

// The sub-records of one page's filter record, filled from the scan record.
struct SideRecords {
    tagGRCINFO grc{};
    tagSHADINGINFO shading;
    tagDROPOUTCOLORINFO dropOut{};
    tagEMPHASISCOLORINFO emphasis{};
    tagGRAYTOBINARYINFO binary{};
    tagBLANKPAGEINFO blank{};
    tagDETECT4POINTSINFO corners{};
    tagNORMALFILTERINFO normal{};
    tagSPECIALFILTERINFO special{};
};

struct PageRecords {
    SideRecords side[2];
    tagDETECTCOLORORGRAYINFO colour{};
    tagERASEBACKPAGEINFO erase{};
    tagEMPHASISEDGEINFO edge{};
    tagROTATE90XINFO rotate{};
    tagTEXTIMAGEDIRECTIONINFO text{};
    tagSRGBCONVERSIONINFO srgb{};
};

struct PageGeometry {
    unsigned long samples = 1;         // raw samples per pixel
    unsigned long sides = 1;           // sides read
    unsigned long pixelsPerSide = 0;
    unsigned long rawLine = 0;         // bytes of one raw line, all sides
    unsigned long pageLines = 0;       // raw lines: the page and the lag between the sensors
    unsigned long outputLines = 0;     // the page's own lines
};

}  // namespace

namespace {

void fillSide(const tagScanParam& p, int s, const CImg* calib, bool detect, unsigned long usableWidth,
              const SRawPage* page, PageRecords& r) {
    SideRecords& side = r.side[s];
    const bool back = s == 1;
    const std::uint32_t brightness = back ? p.brightnessBack : p.brightnessFront;
    const std::uint32_t contrast = std::min<std::uint32_t>(back ? p.contrastBack : p.contrastFront, 7);
    side.grc.ulSize = kGRCInfoSize;
    side.grc.ucBrightness = static_cast<std::uint8_t>(brightness);
    side.grc.ucContrast = kContrastTable[contrast];
    const int t = back ? 4 : 0;
    std::memcpy(side.grc.ucGrayTable, p.toneTables[t], 256);
    std::memcpy(side.grc.ucRedTable, p.toneTables[t + 1], 256);
    std::memcpy(side.grc.ucGreenTable, p.toneTables[t + 2], 256);
    std::memcpy(side.grc.ucBlueTable, p.toneTables[t + 3], 256);

    side.shading.ulSize = kShadingInfoSize;
    side.shading.white = calib[0];
    side.shading.black = calib[1];

    tagNORMALFILTERINFO& n = side.normal;
    n.ulSize = kNormalFilterInfoSize;
    n.pGRCInfo = &side.grc;
    if (on(p.colourOption)) {
        n.pDetectColorOrGrayInfo = &r.colour;
        if (p.outputMode != 2) {
            const std::uint32_t colour = std::min<std::uint32_t>(back ? p.dropOutColourBack : p.dropOutColourFront, 3);
            const std::uint32_t mode = std::min<std::uint32_t>(back ? p.dropOutModeBack : p.dropOutModeFront, 3);
            side.dropOut = {kDropOutColorInfoSize, mode <= 2 ? colour : 0, nullptr, nullptr, 0, 0};
            side.emphasis = {kEmphasisColorInfoSize, mode > 2 ? colour : 0, nullptr, nullptr, 0, 0};
            n.pDropOutColorInfo = &side.dropOut;
            n.pEmphasisColorInfo = &side.emphasis;
        }
    }
    if (on(p.optionWithValue)) n.pEraseBackPageInfo = &r.erase;
    if (on(p.furtherOptions[0])) n.pEmphasisEdgeInfo = &r.edge;
    n.bAutoSize = p.pageEdgeDetection || p.cropping;
    n.bSkewCorrection = p.pageEdgeDetection;
    if (p.textOrientation != 0) n.pTextImageDirectionInfo = &r.text;
    if (p.rotation > 1 && p.rotation <= 4) n.pRotate90xInfo = &r.rotate;
    // The threshold record goes to black-and-white output and, with the
    // colour decision on, to every output: the decision may make any page
    // black-and-white and the library then binarises with this record (it
    // refuses the page without one). A plain gray page must not get it, or
    // the library would binarise it.
    if (p.outputMode == 0 || p.outputMode == 128 || on(p.colourOption)) {
        side.binary.ulSize = kGrayToBinaryInfoSize;
        side.binary.Method = p.thresholdMode == 2 ? 2 : (p.thresholdFlag == 1 ? 1 : 0);
        side.binary.ulBrightness = brightness == 0 ? 128 : brightness;
        side.binary.ulContrast = kContrastTable[contrast];
        n.pGrayToBinaryInfo = &side.binary;
    }
    if (p.detectionFlag3) {
        side.blank = {kBlankPageInfoSize, 3, 0};
        n.pBlankPageInfo = &side.blank;
    }
    n.bDetectResolution = p.autoResolution;

    tagSPECIALFILTERINFO& sp = side.special;
    sp.ulSize = kSpecialFilterInfoSize;
    sp.pShadingInfo = &side.shading;
    if (p.scanChannels == 2) sp.pSRGBConversionInfo = &r.srgb;
    if (detect) {
        tagDETECT4POINTSINFO& c = side.corners;
        c.ulSize = kDetect4PointsInfoSize;
        const long yres = p.scanYResolution, xres = p.scanXResolution;
        if (page != nullptr && page->hasPageInfo) {
            c.lTopMargin = static_cast<std::int32_t>(page->pageInfo[1] * yres / 1200);
            c.lBottomMargin = static_cast<std::int32_t>(page->pageInfo[2] * yres / 1200);
        }
        if (!p.pageEdgeDetection) {
            c.lTopMargin = c.lBottomMargin = static_cast<std::int32_t>(10 * yres * 10 / 254);
        } else {
            // The usable scan width; the paper length stays 0: the detector
            // takes a length there as the shortest page it may find (at the
            // scanner's maximum length every sheet would fail that test and
            // come out uncut).
            c.Size.cx = static_cast<std::int32_t>(usableWidth * xres / 1200);
            if (p.fixedMargin) {
                c.lTopTrim = c.lBottomTrim = static_cast<std::int32_t>(yres * 10 / 254);
                c.lLeftTrim = c.lRightTrim = static_cast<std::int32_t>(xres * 10 / 254);
            }
        }
        sp.pDetect4PointsInfo = &c;
    }
}

// `calib` holds the calibration images in pairs: the front's, then the
// back's when both sides are read. A scan of one side calibrates that side
// alone, into the first pair, whichever side it is.
PageRecords* makeRecords(const tagScanParam& p, const CImg* calib, bool bothSides,
                         unsigned long usableWidth, const SRawPage* page) {
    auto* r = new (std::nothrow) PageRecords;
    if (r == nullptr) return nullptr;
    r->colour = {kDetectColorOrGrayInfoShortSize, static_cast<std::int32_t>(valueOf(p.colourOption)),
                 30, 0, 0, 0, 0};
    r->erase = {kEraseBackPageInfoSize, std::clamp<std::uint32_t>(valueOf(p.optionWithValue), 1, 7), 0};
    r->edge = {kEmphasisEdgeInfoSize, valueOf(p.furtherOptions[0])};
    r->rotate = {kRotate90xInfoSize, static_cast<std::int32_t>((p.rotation - 1) * 90)};
    r->text = {kTextImageDirectionInfoSize, p.textOrientation, 0, 0};
    r->srgb.ulSize = kSRGBConversionInfoSize;
    const bool detect = p.pageEdgeDetection || p.outlineOption || p.cropping;
    for (int s = 0; s < 2; ++s)
        fillSide(p, s, calib + (bothSides ? 2 * s : 0), detect, usableWidth, page, *r);
    return r;
}

void describeOutput(const tagScanParam& p, const PageGeometry& g, tagIMAGEINFO& out) {
    out = {};
    out.size = Tvk::kImageInfoSize;
    out.lBps = p.outputMode == 1 || p.outputMode == 2 ? 8 : 1;
    out.lSpp = p.outputMode == 2 ? 3 : 1;
    out.lXResolution = out.lYResolution = static_cast<std::int32_t>(p.resolution);
    out.lWidth = static_cast<std::int32_t>(g.pixelsPerSide * p.resolution / std::max<std::uint32_t>(p.scanXResolution, 1));
    // The page as it is wanted: the back's lag lines are not part of it.
    out.lHeight = static_cast<std::int32_t>(g.outputLines * p.resolution / std::max<std::uint32_t>(p.scanYResolution, 1));
    out.lSync = TvkDefaultSync(out.lWidth, static_cast<std::int64_t>(out.lBps) * out.lSpp);
}

std::uint32_t pixelTypeOf(const tagIMAGEINFO& i) {
    if (i.lBps == 1) return 0;
    return i.lSpp == 3 ? 2 : 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// The data source's side.

KdError CTavrKd::ScanPage(tagScanParam* param) {
    m_scannerError = kderr::kSuccess;
    if (param != nullptr && m_haveParam) *param = m_param;
    if (!m_haveParam) return kderr::kSequenceError;
    const bool continuous = m_param.continuousFeeding != 0;
    bool started = false;
    std::uint64_t seen = 0;
    std::unique_lock images(m_imageMutex);
    while (m_images.empty()) {
        images.unlock();
        const bool idle = !m_readerRunning && !m_imageRunning;
        // Continuous feeding starts the batch once; in single-sheet mode a
        // call that finds no page and no thread at work scans the next sheet.
        if (continuous ? !m_batchStarted : idle && !started && m_cancel == 0) {
            StopThreads();
            const bool both = BothSidesRead();
            const unsigned char ids[2] = {
                static_cast<unsigned char>(both ? 0 : (m_param.sides == 1 ? 1 : 0)), 1};
            KdError e = ExecScan(both ? 2 : 1, ids);
            if (e != kderr::kSuccess) e = RecoverError(e);
            if (e != kderr::kSuccess) {
                m_scannerError = e;
                return e;
            }
            m_batchStarted = true;
            started = true;
            CDocScanner::ScanPage(nullptr);
            m_readerError = 0;
            m_imageError = 0;
            m_readerRunning = true;
            m_imageRunning = true;
            // Named, so that a profiler or debugger tells them apart.
            m_reader = std::thread([this] {
                pthread_setname_np(pthread_self(), "kd-scan-reader");
                ScanImage();
            });
            m_imager = std::thread([this] {
                pthread_setname_np(pthread_self(), "kd-scan-image");
                ImageProcessing(nullptr);
            });
        } else if (idle) {
            // Both threads have ended: whatever they queued is in the list.
            images.lock();
            if (!m_images.empty()) break;
            images.unlock();
            const KdError ended = m_cancel != 0           ? kderr::kUserAbort
                                  : m_imageError != 0      ? m_imageError.load()
                                  : m_readerError != 0     ? m_readerError.load()
                                  // A double-fed page that went out counts as a page
                                  // read, though the reader stopped before counting it.
                                  : continuous && (m_pagesRead > 0 || m_doubleFeedSeen)
                                      ? kderr::kBatchEndNoPaper
                                      : kderr::kNoDocument;
            m_scannerError = ended;
            return ended;
        } else {
            WaitEvent(seen, true);
        }
        images.lock();
    }
    SImageData& first = *m_images.front();
    KdError result = kderr::kSuccess;
    if (first.error == kderr::kDoubleFeedDelivered) {
        if (m_param.continueOnDoubleFeed) m_doubleFeedSeen = true;
        first.error = 0;
        result = kderr::kDoubleFeedDelivered;
    } else if (first.error != 0) {
        result = first.error;
        m_images.pop_front();
        images.unlock();
        Notify();
        m_scannerError = result;
        return result;
    }
    if (param != nullptr) {
        param->pixelType = first.pixelType;
        param->imageWidth = static_cast<std::uint32_t>(first.width);
        param->imageLength = static_cast<std::uint32_t>(first.height);
        param->blankResult = first.blank;
        param->detectedResolution = first.resolution;
    }
    m_scannerError = result;
    return result;
}

KdError CTavrKd::ReadLines(unsigned char* buffer, unsigned long stride, unsigned long* lines) {
    if (lines == nullptr) return kderr::kIllegalRequest;
    const unsigned long want = *lines;
    *lines = 0;
    if (m_cancel != 0) return kderr::kUserAbort;
    std::lock_guard images(m_imageMutex);
    if (m_images.empty()) return kderr::kSuccess;
    SImageData& image = *m_images.front();
    std::lock_guard strips(image.mutex);
    unsigned long done = 0;
    for (SImageStrip& s : image.strips) {
        if (done >= want) break;
        const tagIMAGEINFO& i = s.image->info();
        const unsigned long line = static_cast<unsigned long>(TvkLineStep(i));
        const unsigned long size = static_cast<unsigned long>(line) * static_cast<unsigned long>(std::max(i.lHeight, 0));
        if (line == 0 || i.lpImage == nullptr) continue;
        while (done < want && s.readBytes + line <= size) {
            if (buffer != nullptr)
                std::memcpy(buffer + done * stride, i.lpImage + s.readBytes, std::min(stride, line));
            s.readBytes += line;
            ++done;
        }
    }
    *lines = done;
    return kderr::kSuccess;
}

KdError CTavrKd::ScanComplete() {
    m_state = kStatePageComplete;
    if (m_protect) return kderr::kSuccess;
    {
        std::lock_guard images(m_imageMutex);
        if (!m_images.empty()) m_images.pop_front();
    }
    Notify();
    return kderr::kSuccess;
}

KdError CTavrKd::GetPageError() {
    std::lock_guard processing(m_processingMutex);
    if (m_processing == nullptr) return kderr::kSuccess;
    std::lock_guard chunks(m_processing->mutex);
    for (const SImageChunk& c : m_processing->chunks)
        if (c.kind == kChunkEnd) return c.status;
    return kderr::kSuccess;
}

// ---------------------------------------------------------------------------
// The reader thread.

void SRawBytesFree::operator()(std::uint8_t* p) const noexcept {
    if (p == nullptr) return;
    if (mapped) munmap(p, kReadSize);
    else std::free(p);
}

KdRawBytes CTavrKd::TakeReadBlock() {
    {
        std::lock_guard blocks(m_blockMutex);
        if (!m_spareBlocks.empty()) {
            KdRawBytes b = std::move(m_spareBlocks.back());
            m_spareBlocks.pop_back();
            return b;
        }
    }
    // A block is one huge page where the system has them: its first touch
    // costs one fault instead of 512, and copying into and out of it fewer
    // address-translation misses. The mapping is made a block larger and cut
    // to an aligned block; where huge pages are off it is ordinary memory.
    const std::size_t span = 2 * kReadSize;
    void* at = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    auto* base = static_cast<std::uint8_t*>(at);
    const std::uintptr_t misalign = reinterpret_cast<std::uintptr_t>(base) % kReadSize;
    const std::size_t head = misalign == 0 ? 0 : kReadSize - misalign;
    if (head != 0) munmap(base, head);
    munmap(base + head + kReadSize, span - head - kReadSize);
    std::uint8_t* block = base + head;
#ifdef MADV_HUGEPAGE
    madvise(block, kReadSize, MADV_HUGEPAGE);
#endif
    return KdRawBytes(block, SRawBytesFree{true});
}

void CTavrKd::KeepReadBlocks(std::list<SImageChunk>& used) {
    // A reader ahead of the image thread holds up to the flow control's high
    // mark, then waits until the low mark and reads that span again: the
    // blocks the image thread empties meanwhile are the ones it will fill,
    // so that many are kept rather than given back and faulted in afresh
    // (a fresh page costs more than copying into it). They never exceed
    // what the batch already held at once, and go when the batch ends.
    const std::uint64_t span = m_tuning.highMark > m_tuning.lowMark ? m_tuning.highMark - m_tuning.lowMark : 0;
    const std::size_t keep = std::max<std::size_t>(kSpareReadBlocks, static_cast<std::size_t>(span / kReadSize) + 1);
    std::lock_guard blocks(m_blockMutex);
    for (SImageChunk& c : used) {
        if (m_spareBlocks.size() >= keep) break;
        if (c.data == nullptr || !c.wholeBlock) continue;
        try {
            m_spareBlocks.push_back(std::move(c.data));
        } catch (const std::bad_alloc&) {
            break;   // the block is still the chunk's, and freed with it
        }
    }
}

bool CTavrKd::SeamFails(KdScanThread thread, unsigned page) const {
    return m_tuning.allocationFails && m_tuning.allocationFails(thread, page);
}

void CTavrKd::MayFail(KdScanThread thread, unsigned page) const {
    if (SeamFails(thread, page)) throw std::bad_alloc();
}

void CTavrKd::QueueErrorEntry(std::list<std::shared_ptr<SImageData>>& reserve, KdError error) {
    if (reserve.empty()) return;
    reserve.front()->error = error;
    {
        std::lock_guard images(m_imageMutex);
        m_images.splice(m_images.end(), reserve);
    }
    Notify();
}

void CTavrKd::PauseReading(std::chrono::milliseconds pause) {
    // Woken early by a cancel or the end of the session, which notify.
    std::unique_lock lock(m_eventMutex);
    m_event.wait_for(lock, pause, [this] { return m_cancel != 0 || m_shutdown; });
}

void CTavrKd::EndReader() {
    m_readerRunning = false;
    Notify();
}

void CTavrKd::ScanImage() {
    m_readerId.store(std::this_thread::get_id());
    for (;;) {
        // Flow control: hold while too much raw data waits.
        if (m_buffered > m_tuning.highMark) {
            m_flowHeld = true;
            Notify();
            double lastTest = Now(), lastPoll = Now();
            std::uint64_t seen = 0;
            KdError e = kderr::kSuccess;
            while (m_buffered >= m_tuning.lowMark && m_cancel == 0 && !m_shutdown) {
                // Nobody drains the pages once the image thread has ended.
                if (!m_imageRunning) {
                    e = m_imageError != 0 ? m_imageError.load() : kderr::kUserAbort;
                    break;
                }
                WaitEvent(seen, false);
                const double now = Now();
                if (now - lastPoll < kFlowPoll) continue;
                lastPoll = now;
                if (now - lastTest >= kFlowTestUnit) {
                    lastTest = now;
                    e = ExecTestUnitReady();
                    if (e != kderr::kSuccess) e = RecoverError(e);
                    if (e != kderr::kSuccess) break;
                }
            }
            m_flowHeld = false;
            if (e != kderr::kSuccess) {
                m_readerError = e;
                EndReader();
                return;
            }
        }
        if (m_shutdown || !m_imageRunning) break;

        // Everything a page needs to end is made before it starts: its
        // node in the raw list and its end mark.
        const unsigned number = static_cast<unsigned>(m_pagesRead) + 1;
        std::list<std::unique_ptr<SRawPage>> page;
        std::list<SImageChunk> endMark;   // moved behind the data at the end
        try {
            MayFail(KdScanThread::Reader, number);
            page.push_back(std::make_unique<SRawPage>());
            endMark.emplace_back();
        } catch (const std::bad_alloc&) {
            // The page never started: the image thread finds no more pages.
            m_readerError = kderr::kOutOfMemory;
            break;
        }
        page.front()->startTime = Now();
        SRawPage* raw = page.front().get();
        const bool heldBack = DetectionOn();
        if (!heldBack) {
            std::lock_guard pages(m_pageMutex);
            m_rawPages.splice(m_rawPages.end(), page);
        }
        Notify();
        bool cancelSeen = false;
        KdError e = kderr::kSuccess;
        try {
            e = ReadPage(*raw, cancelSeen, number);
        } catch (const std::bad_alloc&) {
            e = kderr::kOutOfMemory;
        }
        // After STOP BATCH the scanner has no sheet to give: that is the cancel.
        if (e == kderr::kNoDocument && cancelSeen) e = kderr::kSuccess;
        if (e == kderr::kNoDocument && m_param.continuousFeeding && m_pagesRead > 0)
            e = kderr::kBatchEndNoPaper;
        {
            std::lock_guard chunks(raw->mutex);
            SImageChunk& end = endMark.front();
            end.kind = cancelSeen && e == kderr::kSuccess ? kChunkCancel : kChunkEnd;
            end.status = cancelSeen && e == kderr::kSuccess ? kderr::kUserAbort : e;
            raw->chunks.splice(raw->chunks.end(), endMark);
        }
        if (heldBack) {
            std::lock_guard pages(m_pageMutex);
            m_rawPages.splice(m_rawPages.end(), page);
        }
        Notify();
        if (e != kderr::kSuccess && e != kderr::kDoubleFeedDelivered) {
            m_readerError = e;
            break;
        }
        if (cancelSeen || e == kderr::kDoubleFeedDelivered) break;
        ++m_pagesRead;
        // A single sheet is one page: the next one needs its own SCAN.
        if (!m_param.continuousFeeding) break;
    }
    EndReader();
}

KdError CTavrKd::ReadPage(SRawPage& page, bool& cancelSeen, unsigned number) {
    double lastKeyPoll = Now();
    double lastData = Now();
    bool stopSent = false;
    // The block and its node in the chunk list; a READ that brought nothing
    // leaves them for the next one.
    std::list<SImageChunk> block;
    // The pause before a READ that follows one without data, growing while
    // none comes: the scanner is still moving the sheet.
    std::chrono::milliseconds pause{0};
    for (;;) {
        if (m_shutdown) return kderr::kUserAbort;
        const double now = Now();
        if (m_ezKeyMask != 0 && m_cancel == 0 && now - lastKeyPoll >= kKeyPoll) {
            lastKeyPoll = now;
            std::uint32_t keys = 0;
            if (GetStatus("OperationpanelEZKeyStatus", &keys) == kderr::kSuccess &&
                (keys & m_ezKeyMask) != 0) {
                std::uint32_t none = 0;
                m_cancel.compare_exchange_strong(none, 1);
            }
        }
        if (m_cancel != 0) {
            cancelSeen = true;
            if (m_param.continuousFeeding && !stopSent) {
                stopSent = true;
                ExecStopBatch();
            }
        }
        if (pause.count() != 0) PauseReading(pause);
        if (block.empty()) {
            MayFail(KdScanThread::Reader, number);
            block.emplace_back();
            block.front().data = TakeReadBlock();
        }
        unsigned long size = kReadSize;
        KdError e = ExecRead(&size, block.front().data.get(), kDataTypeImage);
        if (size > kReadSize) size = 0;
        if (size != 0) {
            lastData = Now();
            pause = std::chrono::milliseconds{0};
            std::list<SImageChunk> chunk;   // what goes to the page
            if (size < kReadSize / kShortReadPart) {
                // A short READ (the scanner had little ready) hands on its
                // bytes alone, and the block serves the next READ: a whole
                // block for each would hold many times the data while the
                // page waits, unseen by the flow control.
                chunk.emplace_back();
                auto* bytes = static_cast<std::uint8_t*>(std::malloc(size));
                if (bytes == nullptr) throw std::bad_alloc();
                chunk.front().data = KdRawBytes(bytes, SRawBytesFree{false});
                std::memcpy(chunk.front().data.get(), block.front().data.get(), size);
            } else {
                chunk.splice(chunk.end(), block);
                chunk.front().wholeBlock = true;
            }
            chunk.front().size = size;
            m_buffered += size;
            {
                std::lock_guard chunks(page.mutex);
                page.chunks.splice(page.chunks.end(), chunk);
            }
            Notify();
        }
        if (e == kderr::kSuccess) {
            // Mid-page a READ brings data; one that brings none only waits so long.
            if (size == 0) {
                if (Now() - lastData > m_tuning.noDataTimeout) return kderr::kTimeout;
                pause = std::clamp(pause * 2, kFirstNoDataPause, kLongestNoDataPause);
            }
            continue;
        }
        if (e != kderr::kCheckCondition) return RecoverError(e);
        unsigned long sense = 0;
        e = ExecRequestSense(&sense, nullptr, nullptr);
        if (e != kderr::kSuccess) return RecoverError(e);
        if ((sense & kSenseKeyMask) != 0) {
            const KdError d = DecodeSense(sense);
            if (d == kderr::kDoubleFeed && m_param.continueOnDoubleFeed)
                return kderr::kDoubleFeedDelivered;
            return d;
        }
        // The end of the page.
        if (DetectionOn()) {
            std::uint8_t b[16];
            unsigned long n = sizeof b;
            if (ExecRead(&n, b, 2) == kderr::kSuccess && n == sizeof b)
                page.pageInfo[0] = getBE32(b + 12);
            n = sizeof b;
            if (ExecRead(&n, b, 1) == kderr::kSuccess && n == sizeof b)
                page.pageValue = getBE32(b + 12);
            n = sizeof b;
            if (ExecRead(&n, b, 3) == kderr::kSuccess && n == sizeof b) {
                for (int i = 0; i < 4; ++i) page.pageInfo[1 + i] = getBE32(b + 4 * i);
                page.hasPageInfo = page.pageInfo[0] != 0;
            }
        }
        // The page-done byte, bounded like any READ without data.
        const double start = Now();
        std::uint64_t seen = 0;
        for (;;) {
            std::uint8_t done = 0;
            unsigned long n = 1;
            KdError d = ExecRead(&n, &done, 8);
            if (d != kderr::kSuccess) d = RecoverError(d);
            if (d != kderr::kSuccess) return d;
            if (n == 1 && done != 0) break;
            if (Now() - start > m_tuning.noDataTimeout) return kderr::kTimeout;
            WaitEvent(seen, false);
        }
        return kderr::kSuccess;
    }
}

// ---------------------------------------------------------------------------
// The image thread.

void CTavrKd::ImageProcessing(void*) {
    const bool bothOut = m_param.sides == 2 && !m_param.sideBySide;
    const std::size_t limit = (m_param.scanXResolution <= 200 ? 1u : 2u) * (bothOut ? 2u : 1u);
    m_imagePages = 0;
    // The entry that tells ScanPage why this thread ended, made ahead.
    std::list<std::shared_ptr<SImageData>> reserve;
    KdError result = kderr::kSuccess;
    try {
        MayFail(KdScanThread::Image, 1);
        reserve.push_back(std::make_shared<SImageData>());
    } catch (const std::bad_alloc&) {
        result = kderr::kOutOfMemory;
    }
    std::uint64_t seen = 0;
    while (result == kderr::kSuccess && !m_shutdown) {
        bool havePage = false;
        {
            std::lock_guard pages(m_pageMutex);
            havePage = !m_rawPages.empty();
        }
        if (!havePage && !m_readerRunning) {
            std::lock_guard pages(m_pageMutex);
            if (m_rawPages.empty()) break;
            continue;
        }
        std::size_t queued = 0;
        {
            std::lock_guard images(m_imageMutex);
            queued = m_images.size();
        }
        if (!havePage || queued >= limit) {
            WaitEvent(seen, false);
            continue;
        }
        result = ImageProcessing();
    }
    // A double-fed page went out with the mark on its first image: the scan ends.
    if (result != kderr::kSuccess && result != kderr::kDoubleFeedDelivered) {
        m_imageError = result;
        QueueErrorEntry(reserve, result);
    }
    m_imageRunning = false;
    Notify();
}

KdError CTavrKd::ImageProcessing() {
    m_imageBusy = true;
    const unsigned number = ++m_imagePages;
    std::unique_ptr<SRawPage> page;
    {
        std::lock_guard pages(m_pageMutex);
        page = std::move(m_rawPages.front());
        m_rawPages.pop_front();
    }
    {
        std::lock_guard processing(m_processingMutex);
        m_processing = page.get();
    }
    const tagScanParam& p = m_param;
    PageGeometry g;
    g.samples = p.scanChannels == 2 ? 3 : 1;
    g.sides = BothSidesRead() ? 2 : 1;
    g.pixelsPerSide = m_maxWidth * p.scanXResolution / 1200;
    g.rawLine = g.pixelsPerSide * g.samples * g.sides;
    const bool edgeOrCrop = p.pageEdgeDetection || p.cropping;
    long lag = 0;
    {
        std::lock_guard engine(ImagingLock());
        m_imaging->setOffset(m_offsetValue);
        // The two sensors sit apart along the paper path: one side's lines
        // arrive that many lines after the other's, so the raw page is
        // longer than the page by the lag. The library's offset cut takes
        // the lag off and sizes each side by the page length it is given.
        if (g.sides == 2) lag = std::labs(m_imaging->getOffset(p.scanYResolution));
    }
    g.outputLines = p.scanLines;
    unsigned long reportedLength = 0;
    if (edgeOrCrop && page->hasPageInfo) {
        // The page information tells how long the sheet was; the window bounds it.
        const unsigned long length = std::min<unsigned long>(page->pageInfo[0], m_windowLength);
        g.outputLines = std::min<unsigned long>(length * p.scanYResolution / 1200, g.outputLines);
        reportedLength = length * p.resolution / 1200;
    }
    g.pageLines = g.outputLines + static_cast<unsigned long>(lag);

    KdError result = kderr::kSuccess;
    bool doubleFeed = false;
    std::unique_ptr<PageRecords> records;
    try {
        MayFail(KdScanThread::Image, number);
        std::lock_guard calibration(ImagingLock());
        // The sensor's width without its dummy pixels (1/1200 inch).
        const long dummy = m_imaging->getDummyPixelCount(600, m_dummyValue);
        const unsigned long usable = m_maxWidth > 2ul * static_cast<unsigned long>(std::max(dummy, 0L))
                                         ? m_maxWidth - 2 * static_cast<unsigned long>(dummy)
                                         : 0;
        records.reset(makeRecords(p, m_calib, g.sides == 2, usable, page.get()));
    } catch (const std::bad_alloc&) {
    }
    if (!records) result = kderr::kOutOfMemory;
    std::list<SImageStrip> strips[2];
    std::unique_lock engine(ImagingLock(), std::defer_lock);
    unsigned long done = 0;
    bool first = true, finished = g.rawLine == 0 || g.pageLines == 0;
    std::uint64_t seen = 0;
    while (result == kderr::kSuccess && !finished) {
        if (m_shutdown) {
            result = kderr::kUserAbort;
            break;
        }
        unsigned long avail = 0;
        bool ended = false;
        std::uint32_t endStatus = 0;
        bool cancel = false;
        {
            std::lock_guard chunks(page->mutex);
            for (const SImageChunk& c : page->chunks) {
                if (c.kind == kChunkData) avail += c.size - c.consumed;
                else if (c.kind == kChunkEnd) ended = true, endStatus = c.status;
                else cancel = ended = true;
            }
        }
        if (cancel) {
            m_cancel = 2;
            result = kderr::kUserAbort;
            break;
        }
        if (ended && endStatus == kderr::kDoubleFeedDelivered) doubleFeed = true;
        else if (ended && endStatus != kderr::kSuccess) {
            result = endStatus;
            break;
        }
        const unsigned long left = g.pageLines - done;
        unsigned long lines = std::min(avail / g.rawLine, left);
        bool last = lines == left || ended;
        // Until the end mark one line stays back, so the page always ends with a band.
        if (!last) lines = lines > 1 ? std::min(lines - 1, (kReadSize * g.sides) / g.rawLine + 1) : 0;
        if (lines == 0) {
            if (ended) break;   // nothing came at all: no page
            WaitEvent(seen, false);
            continue;
        }
        last = last && lines == std::min(avail / g.rawLine, left);
        CImg band;
        if (SeamFails(KdScanThread::Image, number)) {
            result = kderr::kOutOfMemory;
            break;
        }
        // Every byte of the band is copied in below, so it is not cleared
        // first: lines of all sides' samples, plane by plane (order 1).
        tagIMAGEINFO raw{};
        raw.size = Tvk::kImageInfoSize;
        raw.lWidth = raw.lSync = static_cast<std::int32_t>(g.pixelsPerSide * g.sides);
        raw.lHeight = static_cast<std::int32_t>(lines);
        raw.lBps = 8;
        raw.lSpp = static_cast<std::int32_t>(g.samples);
        raw.ulRGBOrder = 1;
        raw.lXResolution = static_cast<std::int32_t>(p.scanXResolution);
        raw.lYResolution = static_cast<std::int32_t>(p.scanYResolution);
        const unsigned long bytes = lines * g.rawLine;
        raw.tImageSize = static_cast<std::uint32_t>(bytes);
        if (bytes > UINT32_MAX || !band.createImgForWrite(raw)) {
            result = kderr::kNoBandImage;
            break;
        }
        if (band.isNull()) {
            result = kderr::kOutOfMemory;
            break;
        }
        // The band's bytes are copied outside the chunk list's lock, so the
        // reader appends meanwhile: it only ever appends, and the data
        // counted above lies in nodes that stay where they are.
        std::list<SImageChunk>::iterator chunk;
        {
            std::lock_guard chunks(page->mutex);
            chunk = page->chunks.begin();
        }
        for (unsigned long at = 0;;) {
            const unsigned long take = std::min(bytes - at, chunk->size - chunk->consumed);
            std::memcpy(band.info().lpImage + at, chunk->data.get() + chunk->consumed, take);
            chunk->consumed += take;
            at += take;
            if (at == bytes) break;
            ++chunk;   // a later node holds the rest: it was counted under the lock
        }
        // Used-up blocks are freed outside the lock too.
        std::list<SImageChunk> used;
        {
            std::lock_guard chunks(page->mutex);
            while (!page->chunks.empty() && page->chunks.front().kind == kChunkData &&
                   page->chunks.front().consumed == page->chunks.front().size)
                used.splice(used.end(), page->chunks, page->chunks.begin());
        }
        KeepReadBlocks(used);
        used.clear();
        m_buffered -= bytes;
        Notify();
        const tagIMAGESTATE state = first ? (last ? IMAGE_WHOLE : IMAGE_FIRST)
                                          : (last ? IMAGE_LAST : IMAGE_MIDDLE);
        // The engine is this page's from its first band to its last: the
        // library keeps the page's state between band calls. Every other
        // user of the engine (the status "MaxScanWidth", ApplyImageFilter,
        // the calibration) waits meanwhile, up to a whole page; that is
        // meant. The settings window must therefore never take the engine
        // from its GUI thread during a scan: its thumbnail work runs on its
        // own thread, and the thumbnail calls need no engine at all.
        if (first) engine.lock();
        tagIMAGEINFO in = band.info();
        in.lpImage = nullptr;
        in.lHeight = static_cast<std::int32_t>(g.outputLines);
        PageGeometry og = g;
        tagIMAGEINFO out;
        describeOutput(p, og, out);
        if (reportedLength != 0) out.lHeight = static_cast<std::int32_t>(reportedLength);
        // The output strips and their list nodes are made ahead, so that a
        // result needs neither a copy nor an allocation.
        std::list<SImageStrip> outStrip[2];
        try {
            for (auto& o : outStrip) o.push_back(SImageStrip{std::make_unique<CImg>(), 0});
        } catch (const std::bad_alloc&) {
            result = kderr::kOutOfMemory;
            break;
        }
        CImg* outImg[2] = {outStrip[0].front().image.get(), outStrip[1].front().image.get()};
        tagRTN r;
        if (g.sides == 1) {
            tagFILTERSIMPLEXINFO info{};
            info.ulSize = kFilterSimplexInfoSize;
            info.imageIn = in;
            info.imageOut = out;
            const int s = p.sides == 1 ? 1 : 0;
            info.normal = records->side[s].normal;
            info.special = records->side[s].special;
            r = m_imaging->filterSimplex(state, *outImg[s], band, &info);
        } else {
            tagFILTERDUPLEXINFO info{};
            info.ulSize = kFilterDuplexInfoSize;
            in.lWidth /= 2;
            in.lSync /= 2;
            info.imageIn = in;
            info.imageOut = out;
            info.normalFront = records->side[0].normal;
            info.normalBack = records->side[1].normal;
            info.bFolio = p.sideBySide ? 1 : 0;
            info.specialFront = records->side[0].special;
            info.specialBack = records->side[1].special;
            r = m_imaging->filterDuplex(state, *outImg[0], *outImg[1], band, &info);
        }
        band.deleteImg();
        if (r != RTN_OK) {
            result = r == RTN_MEM ? kderr::kOutOfMemory : kderr::kLibraryRefused;
            break;
        }
        for (int s = 0; s < 2; ++s)
            if (!outImg[s]->isNull()) strips[s].splice(strips[s].end(), outStrip[s]);
        first = false;
        done += lines;
        finished = last;
    }
    if (engine.owns_lock()) engine.unlock();

    // The page ends with its end mark; the reader may still append to it
    // until then, so it is freed only after it. Surplus lines are dropped.
    bool endSeen = false, cancelled = false;
    std::uint32_t endStatus = 0;
    for (;;) {
        unsigned long dropped = 0;
        {
            std::lock_guard chunks(page->mutex);
            for (auto it = page->chunks.begin(); it != page->chunks.end();) {
                if (it->kind == kChunkData) {
                    dropped += it->size - it->consumed;
                    it = page->chunks.erase(it);
                } else {
                    endSeen = true;
                    cancelled = it->kind == kChunkCancel;
                    endStatus = it->status;
                    ++it;
                }
            }
        }
        m_buffered -= dropped;
        if (endSeen || !m_readerRunning || m_shutdown) break;
        WaitEvent(seen, false);
    }
    if (result == kderr::kSuccess && endSeen) {
        if (cancelled) {
            m_cancel = 2;
            result = kderr::kUserAbort;
        } else if (endStatus == kderr::kDoubleFeedDelivered) {
            doubleFeed = true;
        } else if (endStatus != kderr::kSuccess) {
            result = endStatus;
        }
    }

    if (result == kderr::kSuccess && finished) {
        // Both sides' entries are made before either is queued: a page goes
        // out whole or not at all.
        std::list<std::shared_ptr<SImageData>> entries;
        try {
            MayFail(KdScanThread::Image, number);
            for (int s = 0; s < 2; ++s) {
                // A side read only to find the page is not delivered.
                if (strips[s].empty() || (s == 0 ? p.sides == 1 : p.sides == 0)) continue;
                SImageData& entry = *entries.emplace_back(std::make_shared<SImageData>());
                const tagIMAGEINFO& i = strips[s].front().image->info();
                entry.bytesPerLine = static_cast<unsigned long>(TvkLineStep(i));
                entry.width = static_cast<unsigned long>(i.lWidth);
                for (const SImageStrip& st : strips[s])
                    entry.height += static_cast<unsigned long>(std::max(st.image->info().lHeight, 0));
                // Mode 128 and the colour decision give each page its own
                // format: it is reported as it came out.
                entry.pixelType = p.outputMode == 128 || on(p.colourOption) ? pixelTypeOf(i)
                                                                            : p.outputMode;
                entry.resolution = p.autoResolution ? static_cast<std::uint32_t>(i.lXResolution) : 0;
                entry.blank = records->side[s].blank.bBlankPage;
                entry.back = s == 1;
                entry.startTime = page->startTime;
                entry.strips = std::move(strips[s]);
            }
        } catch (const std::bad_alloc&) {
            result = kderr::kOutOfMemory;
        }
        if (result == kderr::kSuccess && !entries.empty()) {
            // The mark goes with the page's first image, before anyone can take it.
            if (doubleFeed) entries.front()->error = kderr::kDoubleFeedDelivered;
            {
                std::lock_guard images(m_imageMutex);
                m_images.splice(m_images.end(), entries);
            }
            Notify();
        }
    }

    {
        std::lock_guard processing(m_processingMutex);
        m_processing = nullptr;
    }
    page.reset();
    m_imageBusy = false;
    Notify();
    if (result == kderr::kSuccess && doubleFeed) return kderr::kDoubleFeedDelivered;
    return result;
}
