// Page shape stages on an A4 page at 300 dpi (2480 x 3508): quarter and half
// turns, the side-by-side join of a sheet's two sides in bands, colour-gap
// correction in bands, the order conversions and the cut-out.
#include "ColorGapCorrect.h"
#include "Detect4Points.h"
#include "MakePage.h"
#include "Rotate90x.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using Tvk::Imvra::CImg;
using namespace Tvk::Imvra;

constexpr int32_t kA4Width = 2480;
constexpr int32_t kA4Height = 3508;
constexpr int32_t kBand = 256;

CImg Page(int32_t bps, int32_t spp, uint32_t order) {
    kdtest::TestImage t = spp == 3 ? kdtest::TextPage(kA4Width, kA4Height, 3, order, 12)
                          : bps == 1 ? kdtest::BinaryTextPage(kA4Width, kA4Height, 13)
                                     : kdtest::TextPage(kA4Width, kA4Height, 1, 0, 11);
    CImg img;
    tagTVKIMAGEINFO rec = *t.info();
    img.createImg(rec);
    std::memcpy(img.info().lpImage, t.data(), img.info().tImageSize);
    return img;
}

const CImg& Cached(int kind) {
    static const CImg pages[4] = {Page(1, 1, 1), Page(8, 1, 1), Page(8, 3, 0), Page(8, 3, 1)};
    return pages[kind];
}

CImg Slice(const CImg& page, int32_t y0, int32_t n) {
    const tagTVKIMAGEINFO& p = page.info();
    CImg band;
    band.createImg(p.lWidth, n, p.lSync, p.lBps, p.lSpp, p.ulRGBOrder, p.lXResolution,
                   p.lYResolution);
    std::memcpy(band.info().lpImage, TvkLinePtr(p, y0), static_cast<size_t>(TvkLineStep(p)) * n);
    return band;
}

// range(0): 0 binary, 1 gray, 2 interleaved colour; range(1): degrees.
void BM_Rotate(benchmark::State& state) {
    const CImg& page = Cached(static_cast<int>(state.range(0)));
    tagROTATE90XINFO info{kRotate90xInfoSize, static_cast<int32_t>(state.range(1))};
    for (auto _ : state) {
        state.PauseTiming();
        CImg img = page;
        state.ResumeTiming();
        CRotate90x stage;
        benchmark::DoNotOptimize(stage.IPInterface(img, &info));
    }
    state.SetBytesProcessed(state.iterations() * page.info().tImageSize);
}
BENCHMARK(BM_Rotate)
    ->ArgsProduct({{0, 1, 2}, {90, 180, 270}})
    ->Unit(benchmark::kMillisecond);

void BM_PutImageOnSide(benchmark::State& state) {
    const CImg& page = Cached(2);
    for (auto _ : state) {
        CPutImageOnSide stage;
        CImg back;
        tagPUTIMAGEONSIDEINFO info{kPutImageOnSideInfoSize, 0, &back, 1, {}, nullptr, nullptr};
        for (int32_t y = 0; y < kA4Height; y += kBand) {
            const int32_t n = std::min(kBand, kA4Height - y);
            // Cutting the bands is timed too: pausing the clock for every
            // band costs more than the cut.
            CImg front = Slice(page, y, n);
            back = Slice(page, y, n);
            const bool last = y + n >= kA4Height;
            benchmark::DoNotOptimize(y == 0 ? stage.IPFirstInterface(front, &info)
                                     : last ? stage.IPLastInterface(front, &info)
                                            : stage.IPMiddleInterface(front, &info));
        }
    }
    state.SetBytesProcessed(state.iterations() * 2 * page.info().tImageSize);
}
BENCHMARK(BM_PutImageOnSide)->Unit(benchmark::kMillisecond);

void BM_ColorGapBands(benchmark::State& state) {
    const CImg& page = Cached(2);
    tagCOLORGAPCORRECTINFO info{kColorGapCorrectInfoSize, 0};
    for (auto _ : state) {
        CColorGapCorrect stage;
        for (int32_t y = 0; y < kA4Height; y += kBand) {
            const int32_t n = std::min(kBand, kA4Height - y);
            CImg band = Slice(page, y, n); // timed too, as for the join
            const bool last = y + n >= kA4Height;
            benchmark::DoNotOptimize(y == 0 ? stage.IPFirstInterface(band, &info)
                                     : last ? stage.IPLastInterface(band, &info)
                                            : stage.IPMiddleInterface(band, &info));
        }
    }
    state.SetBytesProcessed(state.iterations() * page.info().tImageSize);
}
BENCHMARK(BM_ColorGapBands)->Unit(benchmark::kMillisecond);

// range(0): target order; the page starts in the other one.
void BM_MakePage(benchmark::State& state) {
    const int32_t target = static_cast<int32_t>(state.range(0));
    const CImg& page = Cached(target == 0 ? 3 : 2);
    tagMAKEPAGEINFO info{target};
    for (auto _ : state) {
        state.PauseTiming();
        CImg img = page;
        state.ResumeTiming();
        CMakePage stage;
        benchmark::DoNotOptimize(stage.IPInterface(img, &info));
    }
    state.SetBytesProcessed(state.iterations() * page.info().tImageSize);
}
BENCHMARK(BM_MakePage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CutOut(benchmark::State& state) {
    const CImg& page = Cached(2);
    KD730::tagCUTOUTINFO info{KD730::kCutOutInfoSize, 40, 30, kA4Width, kA4Height,
                              0,  0,  kA4Width - 80, kA4Height - 60, nullptr};
    for (auto _ : state) {
        state.PauseTiming();
        CImg img = page;
        state.ResumeTiming();
        KD730::CCutOut stage;
        benchmark::DoNotOptimize(stage.IPInterface(img, &info));
    }
    state.SetBytesProcessed(state.iterations() * page.info().tImageSize);
}
BENCHMARK(BM_CutOut)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
