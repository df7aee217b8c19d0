// Colour to gray of an A4 page at 300 dpi, interleaved and in planes.
#include "DetectTextSlant.h"
#include "MemcpyRatio.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// Each iteration converts the next page of a ring of `pages` copies,
// against memcpy of the same ring.
void ToGrayOverPages(benchmark::State& state, int pages) {
    const kdtest::TestImage first =
        kdtest::PhotoPage(2480, 3508, 3, static_cast<uint32_t>(state.range(0)), 41);
    std::vector<kdtest::TestImage> src(static_cast<size_t>(pages), first);
    std::vector<kdtest::TestImage> dst(static_cast<size_t>(pages),
                                       kdtest::TestImage(first.width(), first.height(), 8, 1));
    std::vector<const uint8_t*> data;
    for (const auto& page : src) data.push_back(page.data());
    kdbench::InterleavedMemcpy copy(data, first.bytes().size());
    size_t i = 0;
    for (auto _ : state) {
        tagTOGRAYFUNCINFO req{kToGrayFuncInfoSize, 0};
        ToGrayRect(dst[i].info(), src[i].info(), &req);
        benchmark::DoNotOptimize(dst[i].data());
        benchmark::ClobberMemory();
        i = (i + 1) % src.size();
        copy.interleave(state);
    }
    copy.report(state);
    state.SetLabel(state.range(0) == 0 ? "interleaved" : "planes");
}

void BM_ToGrayRect(benchmark::State& state) {
    ToGrayOverPages(state, 1);
}
BENCHMARK(BM_ToGrayRect)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same with the page read from memory rather than cache, as in a scan:
// a ring of five pages, several times the size of the caches. On a machine
// whose caches hold most of one page, this is the figure the page's own
// memcpy ratio stands for elsewhere.
void BM_ToGrayRectFromMemory(benchmark::State& state) {
    ToGrayOverPages(state, 5);
}
BENCHMARK(BM_ToGrayRectFromMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
