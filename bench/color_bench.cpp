// Moire reduction of an A4 colour page from 600 dpi, and colour mode
// detection of an A4 page at 300 dpi.
#include "DetectGray.h"
#include "MemcpyRatio.h"
#include "ReduceMoireFilter.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using kdtest::TestImage;

const TestImage& A4At600() {
    static const TestImage page = kdtest::PhotoPage(4960, 7016, 3, 0, 31);
    return page;
}

void BM_ReduceMoireA4Color600(benchmark::State& state) {
    const int32_t target = static_cast<int32_t>(state.range(0));
    const TestImage& page = A4At600();
    TestImage src = page;
    const int32_t outW = page.width() * target / 600, outH = page.height() * target / 600;
    TestImage dst(outW, outH, 8, 3, 0, 0, target);
    kdbench::InterleavedMemcpy copy(page.data(), page.bytes().size());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(src.data(), page.data(), page.bytes().size());
        state.ResumeTiming();
        tagREDUCEMOIREFILTERINFO r{};
        r.ulSize = kReduceMoireInfoSize;
        r.lInXResolution = r.lInYResolution = 600;
        r.lOutXResolution = r.lOutYResolution = target;
        r.lInWidth = page.width();
        r.lInHeight = page.height();
        r.lOutWidth = outW;
        r.lOutHeight = outH;
        r.lCommand = kReduceMoireCreate;
        ReduceMoire(nullptr, nullptr, &r);
        tagTVKIMAGEINFO d = *dst.info();
        d.lHeight = outH;
        r.lCommand = kReduceMoireWholePage;
        if (ReduceMoire(&d, src.info(), &r) != 0) state.SkipWithError("ReduceMoire failed");
        r.lCommand = kReduceMoireRelease;
        ReduceMoire(nullptr, nullptr, &r);
        benchmark::DoNotOptimize(dst.data());
        copy.interleave(state);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.bytes().size()));
    copy.report(state);
}
BENCHMARK(BM_ReduceMoireA4Color600)->Arg(300)->Arg(200)->Arg(150)->Unit(benchmark::kMillisecond);

// Arg 0: a colour photograph (decided by the colour test); 1: a text page in
// RGB (the colour test, then the gray test).
void BM_DetectColorModeA4At300(benchmark::State& state) {
    TestImage page = state.range(0) == 0 ? kdtest::PhotoPage(2480, 3508, 3, 0, 32)
                                         : kdtest::TextPage(2480, 3508, 3, 0, 33, 245, 20);
    for (auto _ : state) {
        tagDETECT_COLOR_INFO c{};
        c.ulSize = kDetectColorInfoSizeFull;
        c.lWidth = page.width();
        c.lHeight = page.height();
        c.lXResolution = c.lYResolution = 300;
        c.lThresholdMode = 2;
        c.lSensitivity = 2;
        c.lIntensity = 2;
        c.lAreaLength = page.height();
        tagDETECTGRAYINFO g{};
        g.ulSize = kDetectGrayInfoSizeFull;
        g.btBlackLevel = 160;
        g.lIntensity = 2;
        g.btWhiteLevel = 240;
        g.btGrayBound1 = 96;
        g.btGrayBound2 = 200;
        g.lLeftMargin = g.lRightMargin = 300 * 20 / 254;
        tagDETECTCOLORMODEINFO m{kDetectColorModeInfoSize, 0x800081, 0, &c, &g};
        if (DetectColorMode(page.info(), &m) != 0) state.SkipWithError("DetectColorMode failed");
        const uint32_t expected = state.range(0) == 0 ? kColorModeColor : kColorModeMono;
        if (m.ulResult != expected) state.SkipWithError("unexpected colour mode");
        benchmark::DoNotOptimize(m.ulResult);
    }
}
BENCHMARK(BM_DetectColorModeA4At300)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
