// Four-corner detection (mode 13) of a duplex A4 sheet scanned at 300 dpi
// gray, both sides fed in bands of 64 lines as the scanner delivers them.
#include "DetectSlantAndSizeEx.h"
#include "DetectSlantAndSizeEx_OneRadiateEx.h"
#include "TvkDetectSlantAndSize.h"

#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

namespace {

struct Pages {
    kdtest::TestImage front, back;
};

// The front shows the leading shadow, the back (mirrored) the trailing one.
const Pages& A4Duplex() {
    static const Pages pages = [] {
        kdtest::SheetSpec s;
        s.sheetWidth = 2480;
        s.sheetHeight = 3508;
        s.angleDeg = 1.5;
        const double a = s.angleDeg * M_PI / 180;
        const double w = s.sheetWidth * std::cos(a) + s.sheetHeight * std::sin(a);
        const double h = s.sheetWidth * std::sin(a) + s.sheetHeight * std::cos(a);
        s.imageWidth = static_cast<int32_t>(w) + 120;
        s.imageHeight = static_cast<int32_t>(h) + 100;
        s.centerX = s.imageWidth / 2.0;
        s.centerY = 60 + h / 2;
        s.shadow = 6;
        kdtest::SheetSpec b = s;
        b.centerX = s.imageWidth - s.centerX;
        b.angleDeg = 180 - s.angleDeg;
        return Pages{kdtest::SheetPage(s), kdtest::SheetPage(b)};
    }();
    return pages;
}

void BM_Mode13_DuplexA4Gray300_Bands64(benchmark::State& state) {
    const Pages& p = A4Duplex();
    tagONERADIATEEX_SCANNERINFO scanner{};
    scanner.cbsize = kScannerInfoSize;
    scanner.sensorPos[0] = scanner.sensorPos[1] = {-1, -1};
    tagONERADIATEEX_SCANINFO scan{};
    scan.cbsize = kScanInfoSize;
    scan.shadowID = 1;
    scan.DuplexScan = 1;
    tagDETECTSLANTSIZEEX_ONERADIATE_EX req{};
    req.basic.cbsize = kOneRadiateExSize;
    req.basic.dwMode = kDssModeOneRadiateEx;
    req.basic.dwResultFlag = kDssResultRect | kDssResultCorners | kDssResultSlant;
    req.pScannerInfo = &scanner;
    req.pScanInfo = &scan;
    const int32_t h = p.front.height();
    auto run = [&req](uint32_t command, const tagTVKIMAGEINFO* image) {
        req.basic.dwCommand = command;
        return DetectSlantAndSizeEx(image, &req.basic);
    };
    uint32_t rc = 0;
    for (auto _ : state) {
        scan.pImg = p.back.info();
        rc |= run(kDssCmdInit, p.front.info());
        for (int32_t y = 0; y < h; y += 64) {
            const int32_t n = std::min(64, h - y);
            const tagTVKIMAGEINFO f = p.front.band(y, n), b = p.back.band(y, n);
            scan.pImg = &b;
            rc |= run(y == 0 ? kDssCmdFirst : (y + n >= h ? kDssCmdLast : kDssCmdMid), &f);
        }
        rc |= run(kDssCmdResult, nullptr);
        rc |= run(kDssCmdRelease, nullptr);
        benchmark::DoNotOptimize(req.basic.result);
    }
    // The measurement is only meaningful on the path that finds the sheet.
    if (rc != 0 || req.basic.result.slantVector.y == 0 || scan.back.slantVector.y == 0)
        state.SkipWithError("the sheet's slant was not found on both sides");
    state.SetItemsProcessed(state.iterations() * int64_t{p.front.width()} * h * 2);
}
BENCHMARK(BM_Mode13_DuplexA4Gray300_Bands64)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
