// Every colour page passes the sRGB conversion and the tone tables: both
// stages on an A4 colour page at 300 dpi, apart and together, with the
// vector forms and with the plain loops (the reference).
#include "CImg.h"
#include "ColorStages.h"
#include "GRC.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

using namespace Tvk::Imvra;

CImg A4Color300() {
    const kdtest::TestImage page = kdtest::PhotoPage(2480, 3508, 3, 0, 41);
    CImg img;
    img.createImg(page.width(), page.height(), page.sync(), 8, 3, 0, 300, 300);
    std::memcpy(img.info().lpImage, page.data(), img.info().tImageSize);
    return img;
}

struct ToneStages {
    ToneStages() {
        CImg none;
        tagSRGBCONVERSIONINFO srgbInfo{kSRGBConversionInfoSize, KD730::CSRGBConversion::kTypeBuiltIn, {}};
        srgb.setInfo(none, &srgbInfo);
        auto grcInfo = std::make_unique<CGRC::tagINFO>();
        std::memset(grcInfo.get(), 0, sizeof *grcInfo);
        grcInfo->tone.ulSize = CGRC::kInfoSize;
        grcInfo->tone.ucBrightness = 140;
        grcInfo->tone.ucContrast = 128;
        grc.setMode(CGRC::ModeColor, true, false);
        grc.setInfo(none, grcInfo.get());
    }
    KD730::CSRGBConversion srgb;
    CGRC grc;
};

// Arg 0: sRGB, 1: tone tables, 2: both; Arg 1: 1 for the plain loops.
void BM_ToneA4Color300(benchmark::State& state) {
    CImg page = A4Color300();
    ToneStages stages;
    IpForcePortablePaths(state.range(1) != 0);
    const int64_t which = state.range(0);
    for (auto _ : state) {
        // Both stages work in place; their speed does not depend on the values.
        if (which != 1 && stages.srgb.IP(page) != RTN_OK) state.SkipWithError("sRGB failed");
        if (which != 0 && stages.grc.IP(page) != RTN_OK) state.SkipWithError("tone failed");
        benchmark::DoNotOptimize(page.info().lpImage);
    }
    IpForcePortablePaths(false);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.info().tImageSize));
}
BENCHMARK(BM_ToneA4Color300)
    ->ArgNames({"stage", "plain"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
