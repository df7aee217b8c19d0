// Conversion of an A4 colour page from 300 to 200 dpi: the band converter
// (bands of 128 lines, as the scanner delivers them) side by side with the
// lower layer's moire conversion of the same page in one call. Reported as
// pages per second.
#include "ReduceMoireFilter.h"
#include "ResolutionConvert.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <cstring>

using namespace Tvk::Imvra;

namespace {

constexpr int32_t kInW = 2480, kInH = 3508, kOutW = 1653, kOutH = 2339, kBand = 128;

const kdtest::TestImage& Page() {
    static const kdtest::TestImage page = kdtest::TextPage(kInW, kInH, 3, 0);
    return page;
}

void Fill(CImg& img, const uint8_t* src, int32_t lines) {
    img.createImg(kInW, lines, kInW * 3, 8, 3, 0, 300, 300);
    std::memcpy(img.info().lpImage, src, img.info().tImageSize);
}

void BM_BandConverter(benchmark::State& state) {
    const kdtest::TestImage& page = Page();
    tagRESOLUTIONCONVERTINFO rec{
        kResolutionConvertInfoSize, kOutW, kOutH, 200, 200, kInW, kInH, 300, 300};
    int64_t lines = 0;
    for (auto _ : state) {
        CIPController<CResolutionConvertNormal> c;
        c.setStage(new CResolutionConvertNormal, IPMODE_BAND);
        for (int32_t y = 0; y < kInH; y += kBand) {
            const int32_t h = std::min(kBand, kInH - y);
            CImg band;
            state.PauseTiming();
            Fill(band, page.line(y), h);
            state.ResumeTiming();
            const bool last = y + h >= kInH;
            if (last)
                c.IPLast(band, &rec);
            else
                c.IPMiddle(band, &rec);
            lines += band.info().lHeight;
        }
    }
    benchmark::DoNotOptimize(lines);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BandConverter)->Unit(benchmark::kMillisecond);

void BM_LowerLayerMoire(benchmark::State& state) {
    const kdtest::TestImage& page = Page();
    for (auto _ : state) {
        CImg src, dst;
        state.PauseTiming();
        Fill(src, page.data(), kInH);
        dst.createImg(kOutW, kOutH + 5, kOutW * 3, 8, 3, 0, 200, 200);
        state.ResumeTiming();
        tagREDUCEMOIREFILTERINFO req{};
        req.ulSize = kReduceMoireInfoSize;
        req.lOutXResolution = req.lOutYResolution = 200;
        req.lOutWidth = kOutW;
        req.lOutHeight = kOutH;
        req.lInXResolution = req.lInYResolution = 300;
        req.lInWidth = kInW;
        req.lInHeight = kInH;
        req.lCommand = kReduceMoireCreate;
        ReduceMoire(nullptr, nullptr, &req);
        req.lCommand = kReduceMoireWholePage;
        benchmark::DoNotOptimize(ReduceMoire(dst, src, &req));
        req.lCommand = kReduceMoireRelease;
        ReduceMoire(nullptr, nullptr, &req);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LowerLayerMoire)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
