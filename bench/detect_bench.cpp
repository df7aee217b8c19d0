// Page size detection of an A4 sheet scanned at 300 dpi gray, fed in bands
// of 64 lines as the scanner delivers them.
#include "Img2.h"
#include "ImgDetect.h"

#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

namespace {

const kdtest::TestImage& A4Sheet() {
    static const kdtest::TestImage image = [] {
        kdtest::SheetSpec s;
        s.sheetWidth = 2480;
        s.sheetHeight = 3508;
        s.angleDeg = 1.5;
        const double a = s.angleDeg * M_PI / 180;
        const double w = s.sheetWidth * std::cos(a) + s.sheetHeight * std::sin(a);
        const double h = s.sheetWidth * std::sin(a) + s.sheetHeight * std::cos(a);
        s.imageWidth = static_cast<int32_t>(w) + 120;
        s.imageHeight = static_cast<int32_t>(h) + 80;
        s.centerX = s.imageWidth / 2.0;
        s.centerY = 60 + h / 2;
        s.shadow = 6;
        return kdtest::SheetPage(s);
    }();
    return image;
}

CImg::tagIMGSET Band(const kdtest::TestImage& im, int32_t y0, int32_t n) {
    CImg::tagIMGSET s{};
    s.pImg = const_cast<uint8_t*>(im.line(y0));
    s.width = im.width();
    s.height = n;
    s.sync = im.fullSync();
    s.xdpi = s.ydpi = 300;
    s.bpp = 8;
    return s;
}

void BM_DetectSize3_A4Gray300_Bands64(benchmark::State& state) {
    const kdtest::TestImage& im = A4Sheet();
    CDetectSize3::tagOPTION o{};
    o.ulSize = CDetectSize3::kOptionSize;
    o.lSensorX1 = o.lSensorY1 = o.lSensorX2 = o.lSensorY2 = -1;
    o.lThreshold1 = 50;
    o.lThreshold2 = 10;
    o.lWindow = o.lDarkRun = o.lDarkLevel = -1;
    o.bMode = 1;
    CDetectSize3 detector;
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    const int32_t h = im.height();
    for (auto _ : state) {
        detector.Initialize(Band(im, 0, h), &o);
        for (int32_t y = 0; y < h; y += 64) detector.piece(Band(im, y, std::min(64, h - y)));
        detector.result(&info, &o);
        benchmark::DoNotOptimize(info);
    }
    // The measurement is only meaningful on the path that finds the sheet.
    if (info.slant.y == 0) state.SkipWithError("the sheet's slant was not found");
    state.SetItemsProcessed(state.iterations() * int64_t{im.width()} * h);
}
BENCHMARK(BM_DetectSize3_A4Gray300_Bands64)->Unit(benchmark::kMillisecond);

// The older simplex detector on the same page.
void BM_DetectSize_A4Gray300_Bands64(benchmark::State& state) {
    const kdtest::TestImage& im = A4Sheet();
    CDetectSize::tagOPTION o{};
    o.ulSize = CDetectSize::kOptionSize;
    o.lRefX1 = o.lRefY1 = o.lRefX2 = o.lRefY2 = -1;
    o.lThresholdA = o.lThresholdB = o.lCornerMargin = -1;
    o.ulFlags = CDetectSize::kNoSkipFlatBands;
    CDetectSize detector;
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    const int32_t h = im.height();
    for (auto _ : state) {
        detector.Initialize(Band(im, 0, h), &o);
        for (int32_t y = 0; y < h; y += 64) detector.piece(Band(im, y, std::min(64, h - y)));
        detector.result(&info, &o);
        benchmark::DoNotOptimize(info);
    }
    state.SetItemsProcessed(state.iterations() * int64_t{im.width()} * h);
}
BENCHMARK(BM_DetectSize_A4Gray300_Bands64)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
