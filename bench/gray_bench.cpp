// Colour to gray of an A4 page at 300 dpi, interleaved and in planes.
#include "DetectTextSlant.h"
#include "MemcpyRatio.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK_MAIN();
