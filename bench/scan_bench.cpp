// Ten A4 sheets, both sides in colour at 300 dpi with page-edge detection,
// scanned from the virtual KD-720 through the scanner object: StartScan,
// ScanPage, ReadLines, ScanComplete. Reported: sheets per minute of the whole
// scan, and of the filter calls alone (the time the image thread spent
// inside the library, on the same bands with the same records), so the
// threads' overhead shows as the gap between the two. The sheets are drawn
// before timing; the virtual scanner still encodes its raw lines while the
// scan runs, and the time it takes per sheet is printed too.
#include "TavrKd.h"
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSheets = 10;

// The library with the time spent in its filter calls summed.
class TimedImaging final : public IKdImaging {
public:
    explicit TimedImaging(IKdImaging& inner) : m_inner(inner) {}
    double seconds = 0;

    void setOffset(long o) override { m_inner.setOffset(o); }
    long getOffset(long r) override { return m_inner.getOffset(r); }
    long getDummyPixelCount(long r, int row) override { return m_inner.getDummyPixelCount(r, row); }
    int setOcrPath(const char* f) override { return m_inner.setOcrPath(f); }
    RTN filterSimplex(State s, CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i) override {
        const auto t = Clock::now();
        const RTN r = m_inner.filterSimplex(s, out, in, i);
        seconds += std::chrono::duration<double>(Clock::now() - t).count();
        return r;
    }
    RTN filterDuplex(State s, CImg& f, CImg& b, CImg& in, Tvk::Imvra::tagFILTERDUPLEXINFO* i) override {
        const auto t = Clock::now();
        const RTN r = m_inner.filterDuplex(s, f, b, in, i);
        seconds += std::chrono::duration<double>(Clock::now() - t).count();
        return r;
    }
    RTN normalFilterSimplex(CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i,
                            bool front) override {
        return m_inner.normalFilterSimplex(out, in, i, front);
    }
    void adjustLightFirst(Tvk::Imvra::tagADJUSTINFO* i, long m) override { m_inner.adjustLightFirst(i, m); }
    RTN adjustLightNext(CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override {
        return m_inner.adjustLightNext(raw, i);
    }
    RTN adjustLightLast(CImg& f, CImg& b, CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override {
        return m_inner.adjustLightLast(f, b, raw, i);
    }
    RTN adjustLightFix(CImg& w, CImg& b, Tvk::Imvra::tagADJUSTINFO* i, Tvk::Imvra::tagSIDE s,
                       unsigned char* c, unsigned long n) override {
        return m_inner.adjustLightFix(w, b, i, s, c, n);
    }

private:
    IKdImaging& m_inner;
};

tagScanParam record() {
    tagScanParam p{};
    p.resolution = 300;
    p.outputMode = 2;
    p.sides = 2;
    p.width = kdvirtual::kFullWidth1200;
    p.length = static_cast<float>(297 / 25.4 * 1200);
    p.continuousFeeding = 1;
    p.cropping = 1;
    p.rotation = 1;
    p.contrastFront = p.contrastBack = 4;
    for (auto& t : p.toneTables)
        for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i);
    return p;
}

void BM_ScanTenDuplexA4Colour(benchmark::State& state) {
    unsetenv("KD_VIRTUAL_SCANNER");
    kdvirtual::VirtualConfig config;
    std::string error;
    kdvirtual::parseSettings("paper=a4;sheets=0;colour=1;content=mixed;unitattention=0", config, error);
    auto device = std::make_shared<kdvirtual::VirtualKd720>(config, 0, error);
    kdusb::registerInProcessDevice(device);
    kdvirtual::VirtualConfig sheets = config;
    sheets.sheets = kSheets;
    const std::vector<kdvirtual::Sheet> stack = kdvirtual::generatedSheets(sheets);

    // What the virtual scanner spends drawing one side at 300 dpi.
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(kdvirtual::renderSide(stack[0], 0, 2592, 3508, 300, 300, 0, 3, 235).data());
    const double renderSide = std::chrono::duration<double>(Clock::now() - t0).count();

    SScannerDesc templ{};
    templ.magic = kScannerDescMagic;
    templ.vendorId = kdvirtual::kVendorId;
    templ.productId = kdvirtual::kProductId;
    SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
    CTavrKd scanner(&list->records[0]);
    CDocUSBScanner::ReleaseScannerList(list);
    TimedImaging timed(LibraryImaging());
    scanner.SetImaging(&timed);
    scanner.OpenSession();
    std::vector<unsigned char> lines;
    double scanSeconds = 0;
    bool warm = false;
    for (auto _ : state) {
        state.PauseTiming();
        for (const auto& sheet : stack) device->addSheet(sheet);
        tagScanParam p = record();
        if (scanner.StartScan(&p) != kderr::kSuccess) {
            state.SkipWithError("StartScan failed");
            break;
        }
        if (!warm) timed.seconds = 0, warm = true;   // calibration is not part of a scan
        state.ResumeTiming();
        const auto start = Clock::now();
        int pages = 0;
        for (;;) {
            if (scanner.ScanPage(&p) != kderr::kSuccess) break;
            unsigned long bpl = 0, n = p.imageLength;
            scanner.GetThumbnailImageInfo(nullptr, nullptr, &bpl, nullptr, nullptr);
            lines.resize(bpl * n);
            scanner.ReadLines(lines.data(), bpl, &n);
            scanner.ScanComplete();
            ++pages;
        }
        scanner.FinishScan();
        scanSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (pages != 2 * kSheets) state.SkipWithError("pages missing");
    }
    const double sheetsDone = static_cast<double>(state.iterations()) * kSheets;
    state.counters["scan_sheets_per_min"] = sheetsDone * 60 / scanSeconds;
    state.counters["filter_alone_sheets_per_min"] = sheetsDone * 60 / timed.seconds;
    state.counters["scan_to_filter_ratio"] = timed.seconds / scanSeconds;
    state.counters["render_s_per_sheet"] = 2 * renderSide;
    scanner.CloseSession();
    kdusb::unregisterInProcessDevice(device);
}
BENCHMARK(BM_ScanTenDuplexA4Colour)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
