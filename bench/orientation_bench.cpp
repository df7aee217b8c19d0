// Text orientation of one side of an A4 page at 300 dpi, alone (apart from
// the rest of the chain), through the stage and the Tesseract layer: usual
// text, and small print, which takes the layer's slower, finer look. The
// feeder needs at most 0.75 s a side. The first page loads the detector's
// data; it is measured apart. Without the orientation layer the program
// fails (exit status 1) instead of timing a refusal.
#include "PageStages.h"
#include "TextPages.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace Tvk::Imvra;

namespace {

CImg A4Page(int fontSize) {
    const kdtest::GrayPage g = kdtest::TextPageGray(2480, 3508, fontSize);
    CImg img;
    img.createImg(g.width, g.height, g.width, 8, 1, 0, 300, 300);
    std::memcpy(img.info().lpImage, g.pixels.data(), g.pixels.size());
    return img;
}

// 16-point text.
const CImg& Page() {
    static const CImg page = A4Page(16);
    return page;
}

// 8-point text: too small for the reduced first look, decided at the
// page's own resolution.
const CImg& SmallPrintPage() {
    static const CImg page = A4Page(8);
    return page;
}

// A picture without text: soft shapes and grain, which no look decides, so
// the layer takes its every look.
const CImg& PicturePage() {
    static const CImg page = [] {
        CImg img;
        img.createImg(2480, 3508, 2480, 8, 1, 0, 300, 300);
        uint32_t grain = 12345;
        for (int32_t y = 0; y < 3508; ++y)
            for (int32_t x = 0; x < 2480; ++x) {
                grain = grain * 1103515245u + 12345u;
                const double v = 128 + 90 * std::sin(x / 37.0) * std::cos(y / 53.0) +
                                 static_cast<double>((grain >> 16) % 31) - 15;
                img.info().lpImage[static_cast<size_t>(y) * 2480 + x] =
                    static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        return img;
    }();
    return page;
}

bool gLayerMissing = false;

// The stage answers RTN_OK only when the layer gave an answer.
void Check(benchmark::State& state, int rtn) {
    if (rtn == RTN_OK) return;
    gLayerMissing = true;
    state.SkipWithError("orientation layer not available");
}

int Detect(CImg& page) {
    CTextImageDirection stage;
    tagTEXTIMAGEDIRECTIONINFO info{kTextImageDirectionInfoSize, 1, 0, 0};
    return stage.IPInterface(page, &info);
}

void BM_TextOrientationFirstPage(benchmark::State& state) {
    CImg page = Page();
    for (auto _ : state) Check(state, Detect(page));
    state.SetItemsProcessed(state.iterations());
}
// One iteration: the data loads here.
BENCHMARK(BM_TextOrientationFirstPage)->Iterations(1)->Unit(benchmark::kMillisecond);

void TimePages(benchmark::State& state, const CImg& model) {
    CImg page = model;
    for (auto _ : state) {
        Check(state, Detect(page));
        if (gLayerMissing) break;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TextOrientationPage(benchmark::State& state) { TimePages(state, Page()); }
BENCHMARK(BM_TextOrientationPage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TextOrientationSmallPrintPage(benchmark::State& state) { TimePages(state, SmallPrintPage()); }
BENCHMARK(BM_TextOrientationSmallPrintPage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TextOrientationPicturePage(benchmark::State& state) { TimePages(state, PicturePage()); }
BENCHMARK(BM_TextOrientationPicturePage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gLayerMissing) {
        std::fprintf(stderr, "orientation_bench: the orientation layer is not available\n");
        return 1;
    }
    return 0;
}
