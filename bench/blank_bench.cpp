// Blank-page decision and edge counting on an A4 page at 300 dpi, as the
// pipeline runs them once per page. Reported as pages per second.
#include "CBFunc.h"
#include "CountEdge.h"
#include "DetectResolution.h"
#include "TestKit.h"
#include "isblank.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr int32_t kPageWidth = 2480;
constexpr int32_t kPageHeight = 3508;

const kdtest::TestImage& BinaryPage() {
    static const kdtest::TestImage page = kdtest::BinaryTextPage(kPageWidth, kPageHeight);
    return page;
}

const kdtest::TestImage& GrayPage() {
    static const kdtest::TestImage page = kdtest::TextPage(kPageWidth, kPageHeight, 1, 1);
    return page;
}

// ulMode values: set pixels, edges, set pixels with border runs left out,
// edges with border runs left out.
void BM_IsBlankBinary(benchmark::State& state) {
    kdtest::TestImage page = BinaryPage();
    const uint32_t mode = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        tagISBLANKINFO r{};
        r.ulSize = kIsBlankInfoSizeLong;
        r.lThreshold = (30000u << 16) | 100u;
        r.ulMode = mode;
        benchmark::DoNotOptimize(IsBlankPageEx2(page.info(), &r));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsBlankBinary)
    ->Arg(0)
    ->Arg(kIsBlankModeEdge)
    ->Arg(kIsBlankModeFrame)
    ->Arg(kIsBlankModeFrame | kIsBlankModeEdge)
    ->Unit(benchmark::kMillisecond);

void BM_IsBlankDetectWidth(benchmark::State& state) {
    kdtest::TestImage page = BinaryPage();
    for (auto _ : state) {
        tagISBLANKINFO r{};
        r.ulSize = kIsBlankInfoSizeLong;
        r.bDetectWidth = 1;
        benchmark::DoNotOptimize(IsBlankPageEx2(page.info(), &r));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsBlankDetectWidth)->Unit(benchmark::kMillisecond);

// 1-bit page, and a gray page through the fixed threshold and the edge mask.
void BM_CountEdge(benchmark::State& state) {
    const int64_t kind = state.range(0);
    kdtest::TestImage page = kind < 0 ? BinaryPage() : GrayPage();
    for (auto _ : state) {
        tagCOUNT_EDGE_INFO r{};
        r.ulSize = kCountEdgeInfoSize;
        r.lBinMode = kind < 0 ? 0 : static_cast<int32_t>(kind);
        r.lBinParam1 = r.lBinParam2 = 128;
        r.lLeft = 60;
        r.lTop = 60;
        r.lRight = kPageWidth - 60;
        r.lBottom = kPageHeight - 60;
        benchmark::DoNotOptimize(CountEdge(page.info(), &r));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CountEdge)
    ->Arg(-1)
    ->Arg(kBinFixed)
    ->Arg(kBinExtractEdge)
    ->Unit(benchmark::kMillisecond);

void BM_DetectResolution(benchmark::State& state) {
    kdtest::TestImage page = GrayPage();
    for (auto _ : state) {
        tagDETECT_RESOLUTION_INFO r{};
        r.ulSize = kDetectResolutionInfoSize;
        r.ulCommand = kDetResWhole;
        r.lWidth = kPageWidth;
        r.lHeight = kPageHeight;
        r.lXResolution = r.lYResolution = 300;
        benchmark::DoNotOptimize(DetectResolution(page.info(), &r));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DetectResolution)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
