// Colour to gray of an A4 page at 300 dpi, interleaved and in planes.
#include "DetectTextSlant.h"
#include "MemcpyRatio.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

void BM_ToGrayRect(benchmark::State& state) {
    const kdtest::TestImage src =
        kdtest::PhotoPage(2480, 3508, 3, static_cast<uint32_t>(state.range(0)), 41);
    kdtest::TestImage dst(src.width(), src.height(), 8, 1);
    kdtest::TestImage in = src;
    const double copy = kdbench::MemcpySeconds(src.data(), src.bytes().size());
    for (auto _ : state) {
        tagTOGRAYFUNCINFO req{kToGrayFuncInfoSize, 0};
        ToGrayRect(dst.info(), in.info(), &req);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    kdbench::ReportMemcpyRatio(state, copy);
    state.SetLabel(state.range(0) == 0 ? "interleaved" : "planes");
}
BENCHMARK(BM_ToGrayRect)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same with the page read from memory rather than cache, as in a scan:
// each iteration takes the next page of a ring several times the size of the
// caches, against memcpy of the same ring. On a machine whose caches hold
// most of one page, this is the figure the page's own memcpy ratio stands
// for elsewhere.
void BM_ToGrayRectFromMemory(benchmark::State& state) {
    constexpr int kPages = 5;
    const kdtest::TestImage first =
        kdtest::PhotoPage(2480, 3508, 3, static_cast<uint32_t>(state.range(0)), 41);
    std::vector<kdtest::TestImage> src(kPages, first);
    std::vector<kdtest::TestImage> dst(kPages, kdtest::TestImage(first.width(), first.height(), 8, 1));
    std::vector<const uint8_t*> pages;
    for (const auto& page : src) pages.push_back(page.data());
    const double copy = kdbench::MemcpyRingSeconds(pages, first.bytes().size());
    size_t i = 0;
    for (auto _ : state) {
        tagTOGRAYFUNCINFO req{kToGrayFuncInfoSize, 0};
        ToGrayRect(dst[i].info(), src[i].info(), &req);
        benchmark::DoNotOptimize(dst[i].data());
        benchmark::ClobberMemory();
        i = (i + 1) % kPages;
    }
    kdbench::ReportMemcpyRatio(state, copy);
    state.SetLabel(state.range(0) == 0 ? "interleaved" : "planes");
}
BENCHMARK(BM_ToGrayRectFromMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
