// Deskew and cut-out of an A4 page at 300 dpi turned by 1.5 degrees, whole
// and in scanner bands, and text-slant detection of an A4 gray page.
#include "DetectTextSlant.h"
#include "RotateImage.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr int32_t kPageWidth = 2480;
constexpr int32_t kPageHeight = 3508;
// The scanned area around the page.
constexpr int32_t kScanWidth = 2560;
constexpr int32_t kScanHeight = 3650;

// A request for the page turned by `deg` degrees inside the scanned area.
tagROTATEINFO PageRequest(int32_t spp, double deg, uint8_t interpolate) {
    const double a = deg * 3.14159265358979323846 / 180;
    const double c = std::cos(a), s = std::sin(a);
    const double x0 = 40 + kPageHeight * std::max(0.0, s), y0 = 30;
    auto pt = [](double x, double y) {
        return Tvk::tagPOINT{static_cast<int32_t>(std::lround(x)),
                             static_cast<int32_t>(std::lround(y))};
    };
    tagROTATEINFO r{};
    r.size = kRotateInfoSize;
    r.topLeft = pt(x0, y0);
    r.topRight = pt(x0 + kPageWidth * c, y0 + kPageWidth * s);
    r.bottomLeft = pt(x0 - kPageHeight * s, y0 + kPageHeight * c);
    r.bottomRight =
        pt(x0 + kPageWidth * c - kPageHeight * s, y0 + kPageWidth * s + kPageHeight * c);
    r.bitsPerPixel = 8 * spp;
    r.srcWidth = kScanWidth;
    r.interpolate = interpolate;
    r.last = 1;
    r.fillMode = 2;
    r.fillColour = 0xFFFFFF;
    GetRotateImagePaperSize(&r);
    return r;
}

void CountPages(benchmark::State& state) {
    state.counters["pages/s"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// Args: samples per pixel, bilinear (1) or nearest (0).
void BM_DeskewWholePage(benchmark::State& state) {
    const int32_t spp = static_cast<int32_t>(state.range(0));
    kdtest::TestImage src = kdtest::TextPage(kScanWidth, kScanHeight, spp, 0);
    tagROTATEINFO req = PageRequest(spp, 1.5, static_cast<uint8_t>(state.range(1)));
    kdtest::TestImage dst = spp == 3 ? kdtest::TestImage::Color(req.paperWidth, req.paperHeight)
                                     : kdtest::TestImage::Gray(req.paperWidth, req.paperHeight);
    for (auto _ : state) {
        tagROTATEINFO r = req;
        if (RotateImagePage(src.info(), dst.info(), &r) != 0)
            state.SkipWithError("rotation failed");
        benchmark::DoNotOptimize(dst.data());
    }
    CountPages(state);
}
BENCHMARK(BM_DeskewWholePage)
    ->Args({3, 1})
    ->Args({1, 1})
    ->Args({3, 0})
    ->Unit(benchmark::kMillisecond);

// The same page fed in bands of 64 source lines into destination bands of at
// most 64 lines, as the scanner delivers it.
void BM_DeskewBands(benchmark::State& state) {
    kdtest::TestImage src = kdtest::TextPage(kScanWidth, kScanHeight, 3, 0);
    const tagROTATEINFO req = PageRequest(3, 1.5, 1);
    kdtest::TestImage dst = kdtest::TestImage::Color(req.paperWidth, req.paperHeight);
    for (auto _ : state) {
        tagROTATEINFO r = req;
        r.last = 0;
        if (CreateRotateImageHandle(&r) != 0) {
            state.SkipWithError("no handle");
            break;
        }
        int32_t in = 0, out = 0;
        while (in < kScanHeight && out < r.paperHeight) {
            const int32_t n = std::min(64, kScanHeight - in);
            r.last = in + n >= kScanHeight ? 1 : 0;
            tagTVKIMAGEINFO band = src.band(in, n);
            tagTVKIMAGEINFO outBand = dst.band(out, std::min(64, r.paperHeight - out));
            RotateImage(&band, &outBand, &r);
            in += r.linesIn;
            out += r.linesOut;
            if (r.linesIn == 0 && r.linesOut == 0) break;
        }
        ReleaseRotateImageHandle(&r);
        benchmark::DoNotOptimize(dst.data());
    }
    CountPages(state);
}
BENCHMARK(BM_DeskewBands)->Unit(benchmark::kMillisecond);

// Deskew of the colour page turned further by the slant of its text, found
// at the working resolution of the argument.
void BM_DeskewWithTextSlant(benchmark::State& state) {
    kdtest::TestImage src = kdtest::TextPage(kScanWidth, kScanHeight, 3, 0);
    tagROTATEINFO req = PageRequest(3, 1.5, 1);
    req.slantFlags = kRotateSlantDetect;
    kdtest::TestImage dst = kdtest::TestImage::Color(req.paperWidth, req.paperHeight);
    for (auto _ : state) {
        tagBINFUNCINFO bin{kBinFuncInfoSizeShort, kBinFixed, 128, 128, 0, nullptr};
        tagDETECTTEXTSLANTINFO slant{};
        slant.size = kDetectTextSlantInfoSize;
        slant.binInfo = &bin;
        slant.workingResolution = static_cast<int32_t>(state.range(0));
        tagROTATEINFO r = req;
        r.textSlant = &slant;
        if (RotateImagePageAndDetectTextSlant(src.info(), dst.info(), &r) != 0)
            state.SkipWithError("deskew failed");
        benchmark::DoNotOptimize(dst.data());
    }
    CountPages(state);
}
BENCHMARK(BM_DeskewWithTextSlant)->Arg(150)->Unit(benchmark::kMillisecond);

// Text slant of an A4 gray page; the argument is the working resolution.
void BM_TextSlant(benchmark::State& state) {
    kdtest::TestImage page = kdtest::TextPage(kPageWidth, kPageHeight, 1, 1);
    for (auto _ : state) {
        tagBINFUNCINFO bin{kBinFuncInfoSizeShort, kBinFixed, 128, 128, 0, nullptr};
        tagDETECTTEXTSLANTINFO info{};
        info.size = kDetectTextSlantInfoSize;
        info.binInfo = &bin;
        info.workingResolution = static_cast<int32_t>(state.range(0));
        if (DetectTextSlant(page.info(), &info) != 0) state.SkipWithError("detection failed");
        benchmark::DoNotOptimize(info.angle);
    }
    CountPages(state);
}
BENCHMARK(BM_TextSlant)->Arg(0)->Arg(150)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
