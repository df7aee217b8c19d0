// Text orientation of one side of an A4 page at 300 dpi, alone (apart from
// the rest of the chain), through the stage and the Tesseract layer. The
// feeder needs at most 0.75 s a side. The first page loads the detector's
// data; it is measured apart.
#include "PageStages.h"
#include "TextPages.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

using namespace Tvk::Imvra;

namespace {

const CImg& Page() {
    static const CImg page = [] {
        const kdtest::GrayPage g = kdtest::TextPageGray(2480, 3508);
        CImg img;
        img.createImg(g.width, g.height, g.width, 8, 1, 0, 300, 300);
        std::memcpy(img.info().lpImage, g.pixels.data(), g.pixels.size());
        return img;
    }();
    return page;
}

int Detect(CImg& page) {
    CTextImageDirection stage;
    tagTEXTIMAGEDIRECTIONINFO info{kTextImageDirectionInfoSize, 1, 0, 0};
    return stage.IPInterface(page, &info);
}

void BM_TextOrientationFirstPage(benchmark::State& state) {
    CImg page = Page();
    for (auto _ : state) benchmark::DoNotOptimize(Detect(page));
    state.SetItemsProcessed(state.iterations());
}
// One iteration: the data loads here.
BENCHMARK(BM_TextOrientationFirstPage)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_TextOrientationPage(benchmark::State& state) {
    CImg page = Page();
    for (auto _ : state) {
        if (Detect(page) != RTN_OK) state.SkipWithError("orientation layer not available");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextOrientationPage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
