// Ten A4 sheets, both sides in colour at 300 dpi with page-edge detection,
// scanned from the virtual KD-720 through the scanner object (StartScan,
// ScanPage, ReadLines, ScanComplete, FinishScan), against the pipeline
// alone: the same raw bands, cut as the image thread cut them, through
// FilterDuplexFirst / Middle / Last on one thread with the same records.
// The virtual scanner draws and encodes each sheet once, before timing,
// and sends the kept lines; what that took per sheet is printed. Counters:
// sheets per minute of the scan and of the pipeline alone, and their ratio
// (the threads' overhead: 0.9 or more is the goal on two cores, e.g. under
// `taskset -c 4,5`). Copying a raw band into its image is not timed in the
// pipeline alone, as in the library's own benchmark.
#include "TavrKd.h"
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Tvk::Imvra::CImg;
using Tvk::Imvra::tagFILTERDUPLEXINFO;
constexpr int kSheets = 10;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Seconds of processor time of this thread or of the whole process: on a
// shared machine other programs take turns on the cores, which stretches
// the clock time of the scan (three threads) and of the pipeline alone
// (one) differently; the processor time of each is what they cost.
double CpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double ThreadCpu() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// A page's filter record with its own copies of the sub-records a
// page-edge colour scan uses; a record using others is not replayed.
struct KeptRecord {
    tagFILTERDUPLEXINFO info{};
    Tvk::Imvra::tagGRCINFO tone[2]{};
    Tvk::Imvra::tagSHADINGINFO shading[2];
    Tvk::Imvra::tagSRGBCONVERSIONINFO srgb[2]{};
    Tvk::Imvra::tagDETECT4POINTSINFO corners[2]{};

    // False when the record uses a sub-record not copied here.
    bool take(const tagFILTERDUPLEXINFO& from) {
        info = from;
        Tvk::Imvra::tagNORMALFILTERINFO* normal[2] = {&info.normalFront, &info.normalBack};
        Tvk::Imvra::tagSPECIALFILTERINFO* special[2] = {&info.specialFront, &info.specialBack};
        for (int s = 0; s < 2; ++s) {
            const Tvk::Imvra::tagNORMALFILTERINFO& n = *normal[s];
            const void* others[] = {n.pDetectColorOrGrayInfo, n.pDropOutColorInfo, n.pEmphasisColorInfo,
                                    n.pEraseBackPageInfo, n.pEmphasisEdgeInfo, n.pTextImageDirectionInfo,
                                    n.pRotate90xInfo, n.pGrayToBinaryInfo, n.pBlankPageInfo,
                                    n.pEPubFilterInfo, n.pSkewCorrectionInfo, n.pBinIPFilterInfo,
                                    special[s]->pFeedingDirectionInfo, special[s]->pRemoveShadowInfo};
            for (const void* o : others)
                if (o != nullptr) return false;
            if (n.pGRCInfo != nullptr) tone[s] = *n.pGRCInfo, normal[s]->pGRCInfo = &tone[s];
            if (special[s]->pShadingInfo != nullptr)
                shading[s] = *special[s]->pShadingInfo, special[s]->pShadingInfo = &shading[s];
            if (special[s]->pSRGBConversionInfo != nullptr)
                srgb[s] = *special[s]->pSRGBConversionInfo, special[s]->pSRGBConversionInfo = &srgb[s];
            if (special[s]->pDetect4PointsInfo != nullptr)
                corners[s] = *special[s]->pDetect4PointsInfo, special[s]->pDetect4PointsInfo = &corners[s];
        }
        return true;
    }
};

// One page as the image thread filtered it: its bands' heights and
// states, and its record.
struct CutPage {
    std::vector<std::pair<IKdImaging::State, std::int32_t>> bands;
    std::unique_ptr<KeptRecord> record;
    bool replayable = true;
};

// The library, noting how each page was cut, and where the image thread's
// time goes: inside the filter calls, between them (cutting and copying
// the next band, queueing pages, waiting), and before the first one.
class CuttingTap final : public IKdImaging {
public:
    bool noting = false;
    std::vector<CutPage> pages;
    double inCalls = 0, betweenCalls = 0;
    double cpuInCalls = 0, cpuBetweenCalls = 0;
    Clock::time_point firstCall{}, lastEnd{};
    double lastCpuEnd = 0;

    void startScan() {
        firstCall = lastEnd = {};
    }

    void setOffset(long o) override { lib().setOffset(o); }
    long getOffset(long r) override { return lib().getOffset(r); }
    long getDummyPixelCount(long r, int row) override { return lib().getDummyPixelCount(r, row); }
    int setOcrPath(const char* f) override { return lib().setOcrPath(f); }
    RTN filterSimplex(State s, CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i) override {
        return lib().filterSimplex(s, out, in, i);
    }
    RTN filterDuplex(State s, CImg& f, CImg& b, CImg& in, tagFILTERDUPLEXINFO* i) override {
        if (noting) {
            if (s == Tvk::Imvra::IMAGE_WHOLE || s == Tvk::Imvra::IMAGE_FIRST) {
                CutPage& page = pages.emplace_back();
                page.record = std::make_unique<KeptRecord>();
                page.replayable = page.record->take(*i);
            }
            if (!pages.empty()) pages.back().bands.emplace_back(s, in.info().lHeight);
        }
        const auto t = Clock::now();
        const double cpu = ThreadCpu();
        if (firstCall == Clock::time_point{}) {
            firstCall = t;
        } else {
            betweenCalls += std::chrono::duration<double>(t - lastEnd).count();
            cpuBetweenCalls += cpu - lastCpuEnd;
        }
        const RTN r = lib().filterDuplex(s, f, b, in, i);
        lastEnd = Clock::now();
        lastCpuEnd = ThreadCpu();
        inCalls += std::chrono::duration<double>(lastEnd - t).count();
        cpuInCalls += lastCpuEnd - cpu;
        return r;
    }
    RTN normalFilterSimplex(CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i,
                            bool front) override {
        return lib().normalFilterSimplex(out, in, i, front);
    }
    void adjustLightFirst(Tvk::Imvra::tagADJUSTINFO* i, long m) override { lib().adjustLightFirst(i, m); }
    RTN adjustLightNext(CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override {
        return lib().adjustLightNext(raw, i);
    }
    RTN adjustLightLast(CImg& f, CImg& b, CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override {
        return lib().adjustLightLast(f, b, raw, i);
    }
    RTN adjustLightFix(CImg& w, CImg& b, Tvk::Imvra::tagADJUSTINFO* i, Tvk::Imvra::tagSIDE s,
                       unsigned char* c, unsigned long n) override {
        return lib().adjustLightFix(w, b, i, s, c, n);
    }

private:
    static IKdImaging& lib() { return LibraryImaging(); }
};

tagScanParam record() {
    tagScanParam p{};
    p.resolution = 300;
    p.outputMode = 2;
    p.sides = 2;
    p.width = kdvirtual::kFullWidth1200;
    p.length = static_cast<float>(297 / 25.4 * 1200);
    p.continuousFeeding = 1;
    p.pageEdgeDetection = 1;
    p.rotation = 1;
    p.brightnessFront = p.brightnessBack = 128;
    p.contrastFront = p.contrastBack = 4;
    for (auto& t : p.toneTables)
        for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i);
    return p;
}

// The scanner object on a virtual KD-720 that keeps its raw pages.
struct Rig {
    std::shared_ptr<kdvirtual::VirtualKd720> device;
    std::unique_ptr<CTavrKd> scanner;
    CuttingTap tap;
    std::vector<kdvirtual::Sheet> stack;
    std::vector<unsigned char> lines;

    Rig() {
        unsetenv("KD_VIRTUAL_SCANNER");
        kdvirtual::VirtualConfig config;
        std::string error;
        kdvirtual::parseSettings("paper=a4;sheets=0;colour=1;content=mixed;skew=1;unitattention=0", config,
                                 error);
        device = std::make_shared<kdvirtual::VirtualKd720>(config, 0, error);
        device->keepRawPages(true);
        kdusb::registerInProcessDevice(device);
        config.sheets = kSheets;
        stack = kdvirtual::generatedSheets(config);
        SScannerDesc templ{};
        templ.magic = kScannerDescMagic;
        templ.vendorId = kdvirtual::kVendorId;
        templ.productId = kdvirtual::kProductId;
        SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
        scanner = std::make_unique<CTavrKd>(&list->records[0]);
        CDocUSBScanner::ReleaseScannerList(list);
        scanner->SetImaging(&tap);
        scanner->OpenSession();
    }
    ~Rig() {
        scanner->CloseSession();
        scanner.reset();
        kdusb::unregisterInProcessDevice(device);
    }

    // The whole stack; the number of pages delivered, -1 when StartScan failed.
    int scan() {
        for (const auto& sheet : stack) device->addSheet(sheet);
        tagScanParam p = record();
        if (scanner->StartScan(&p) != kderr::kSuccess) return -1;
        int pages = 0;
        while (scanner->ScanPage(&p) == kderr::kSuccess) {
            unsigned long bpl = 0, n = p.imageLength;
            scanner->GetThumbnailImageInfo(nullptr, nullptr, &bpl, nullptr, nullptr);
            lines.resize(bpl * n);
            scanner->ReadLines(lines.data(), bpl, &n);
            scanner->ScanComplete();
            ++pages;
        }
        scanner->FinishScan();
        return pages;
    }

    // The noted pages through the library on this thread, from the kept raw
    // lines; seconds spent in the filter calls, negative on a failure, and
    // the processor seconds of them.
    double pipelineAlone(double& cpuSeconds) {
        double seconds = 0;
        cpuSeconds = 0;
        for (std::size_t k = 0; k < tap.pages.size(); ++k) {
            const CutPage& page = tap.pages[k];
            const auto raw = device->keptRawPage(static_cast<int>(k) + 1).raw;
            if (!raw || !page.replayable) return -1;
            tagFILTERDUPLEXINFO info = page.record->info;
            const Tvk::tagIMAGEINFO& in = info.imageIn;
            const std::size_t line = static_cast<std::size_t>(in.lSync) * 2 * static_cast<std::size_t>(in.lSpp);
            std::size_t at = 0;
            for (const auto& [state, height] : page.bands) {
                CImg band, front, back;
                if (!band.createImg(2 * in.lWidth, height, 2 * in.lSync, 8, in.lSpp, 1, in.lXResolution,
                                    in.lYResolution) ||
                    at + line * static_cast<std::size_t>(height) > raw->size())
                    return -1;
                std::memcpy(band.info().lpImage, raw->data() + at, line * static_cast<std::size_t>(height));
                at += line * static_cast<std::size_t>(height);
                const auto t = Clock::now();
                const double cpu = ThreadCpu();
                std::lock_guard engine(ImagingLock());
                if (LibraryImaging().filterDuplex(state, front, back, band, &info) != Tvk::Imvra::RTN_OK)
                    return -1;
                cpuSeconds += ThreadCpu() - cpu;
                seconds += Since(t);
                benchmark::DoNotOptimize(static_cast<Tvk::tagIMAGEINFO*>(front)->lpImage);
            }
        }
        return seconds;
    }
};

void BM_ScanAgainstThePipelineAlone(benchmark::State& state) {
    Rig rig;
    // Calibration, and the kept raw pages and the cut of every page: once,
    // before timing.
    rig.tap.noting = true;
    if (rig.scan() != 2 * kSheets) {
        state.SkipWithError("the untimed scan failed");
        return;
    }
    rig.tap.noting = false;
    double render = 0;
    for (int k = 1; k <= kSheets; ++k) render += rig.device->keptRawPage(k).seconds;

    double scanSeconds = 0, pipelineSeconds = 0, beforeFirstCall = 0;
    double scanCpu = 0, pipelineCpu = 0;
    rig.tap.inCalls = rig.tap.betweenCalls = rig.tap.cpuInCalls = rig.tap.cpuBetweenCalls = 0;
    for (auto _ : state) {
        const auto t = Clock::now();
        const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        rig.tap.startScan();
        const int pages = rig.scan();
        scanSeconds += Since(t);
        scanCpu += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        beforeFirstCall += std::chrono::duration<double>(rig.tap.firstCall - t).count();
        if (pages != 2 * kSheets) {
            state.SkipWithError("pages missing");
            return;
        }
        // On a thread of its own, as the image thread: the main thread's
        // allocator would make the library slower than it is in a scan.
        double alone = -1, aloneCpu = 0;
        std::thread([&] { alone = rig.pipelineAlone(aloneCpu); }).join();
        if (alone < 0) {
            state.SkipWithError("the pipeline alone failed");
            return;
        }
        pipelineSeconds += alone;
        pipelineCpu += aloneCpu;
        state.SetIterationTime(Since(t));
    }
    const double sheets = static_cast<double>(state.iterations()) * kSheets;
    state.counters["scan_sheets_per_min"] = sheets * 60 / scanSeconds;
    state.counters["pipeline_sheets_per_min"] = sheets * 60 / pipelineSeconds;
    state.counters["scan_to_pipeline"] = pipelineSeconds / scanSeconds;
    state.counters["render_s_per_sheet"] = render / kSheets;
    // Per sheet, the image thread's time in the filter calls, between them,
    // and the wait for the first page before its first call.
    state.counters["s_in_calls"] = rig.tap.inCalls / sheets;
    state.counters["s_between_calls"] = rig.tap.betweenCalls / sheets;
    state.counters["s_before_first_call"] = beforeFirstCall / sheets;
    // Processor time per sheet: the image thread in and between the filter
    // calls, the pipeline alone, and the scan's other threads together (the
    // reader and the caller's ReadLines; on two cores they must fit beside
    // the image thread). cpu_scan_to_pipeline is the ratio the clock gives
    // on two otherwise idle cores when the image thread sets the pace.
    const double imageCpu = rig.tap.cpuInCalls + rig.tap.cpuBetweenCalls;
    state.counters["cpu_s_in_calls"] = rig.tap.cpuInCalls / sheets;
    state.counters["cpu_s_between_calls"] = rig.tap.cpuBetweenCalls / sheets;
    state.counters["cpu_s_pipeline"] = pipelineCpu / sheets;
    state.counters["cpu_s_other_threads"] = (scanCpu - imageCpu) / sheets;
    state.counters["cpu_scan_to_pipeline"] = pipelineCpu / imageCpu;
}
BENCHMARK(BM_ScanAgainstThePipelineAlone)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
