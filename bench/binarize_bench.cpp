// Binarisation kinds, the binary noise filter and dot erasure on an A4 page
// at 300 dpi (2480 x 3508): 8-bit gray (or 24-bit colour) in, 1 bit out.
#include "CBFunc.h"
#include "CBinFilter.h"
#include "EraseDot.h"
#include "MemcpyRatio.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int32_t kA4Width = 2480;
constexpr int32_t kA4Height = 3508;

const kdtest::TestImage& GrayPage() {
    static const kdtest::TestImage page = kdtest::TextPage(kA4Width, kA4Height, 1, 0, 11);
    return page;
}

const kdtest::TestImage& ColourPage() {
    static const kdtest::TestImage page = kdtest::TextPage(kA4Width, kA4Height, 3, 0, 12);
    return page;
}

const kdtest::TestImage& BinaryPage() {
    static const kdtest::TestImage page = kdtest::BinaryTextPage(kA4Width, kA4Height, 13);
    return page;
}

tagBINFUNCINFO KindRecord(uint32_t kind) {
    tagBINFUNCINFO info{};
    info.size = kBinFuncInfoSizeLong;
    info.kind = kind;
    info.firstSlice = info.nextSlice = 128;
    return info;
}

void BM_Binarize(benchmark::State& state) {
    const auto kind = static_cast<uint32_t>(state.range(0));
    const bool colour = kind == kBinToMonoChrome || kind == kBinMebrin;
    const int32_t scale = kind >= kBinDouble ? 2 : 1;
    kdtest::TestImage src = colour ? ColourPage() : GrayPage();
    kdtest::TestImage dst = kdtest::TestImage::Binary(kA4Width * scale, kA4Height * scale);
    tagBINFUNCINFO info = KindRecord(kind);
    kdbench::InterleavedMemcpy copy(src.data(), src.bytes().size());
    for (auto _ : state) {
        info.lineCount = 0;
        benchmark::DoNotOptimize(BinalizeRectEx(dst.info(), src.info(), &info));
        benchmark::ClobberMemory();
        copy.interleave(state);
    }
    ReleaseBinalizeHandle(&info);
    state.SetItemsProcessed(state.iterations() * int64_t{kA4Width} * kA4Height);
    copy.report(state);
}
BENCHMARK(BM_Binarize)
    ->ArgName("kind")
    ->Arg(kBinFixed)
    ->Arg(kBinErrorDiffusion)
    ->Arg(kBinToMonoChrome)
    ->Arg(kBinMedian)
    ->Arg(kBinMebrin)
    ->Arg(kBinAdaptRegion)
    ->Arg(kBinExtractEdge)
    ->Arg(kBinDouble)
    ->Arg(kBinDoubleLinear)
    ->Arg(kBinDoubleCubic)
    ->Unit(benchmark::kMillisecond);

void BM_BinFilter(benchmark::State& state) {
    kdtest::TestImage src = BinaryPage();
    kdtest::TestImage dst = kdtest::TestImage::Binary(kA4Width, kA4Height);
    for (auto _ : state) {
        tagBINFILTERINFO info{};
        info.size = kBinFilterInfoSize;
        info.mode = static_cast<uint32_t>(state.range(0));
        dst.info()->lHeight = kA4Height;
        benchmark::DoNotOptimize(BinFilter(dst.info(), src.info(), &info));
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kA4Width} * kA4Height);
}
BENCHMARK(BM_BinFilter)
    ->ArgName("mode")
    ->Arg(kBinFilterSingleBits)
    ->Arg(kBinFilterSingleBits | kBinFilterGroup1)
    ->Arg(kBinFilterLevelMode | kBinFilterLevelThin | 3)
    ->Unit(benchmark::kMillisecond);

void BM_EraseDot(benchmark::State& state) {
    kdtest::TestImage src = BinaryPage();
    kdtest::TestImage dst = kdtest::TestImage::Binary(kA4Width, kA4Height);
    for (auto _ : state) {
        tagERASEDOTINFO info{};
        info.size = kEraseDotInfoMinSize;
        info.polarity = static_cast<uint32_t>(state.range(0));
        benchmark::DoNotOptimize(EraseDot(dst.info(), src.info(), &info));
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kA4Width} * kA4Height);
}
BENCHMARK(BM_EraseDot)->ArgName("polarity")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_PortableAdaptRegion(benchmark::State& state) {
    kdtest::TestImage src = GrayPage();
    kdtest::TestImage dst = kdtest::TestImage::Binary(kA4Width, kA4Height);
    tagBINFUNCINFO info = KindRecord(kBinAdaptRegion);
    kdbench::InterleavedMemcpy copy(src.data(), src.bytes().size());
    IpForcePortablePaths(true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(BinalizeRectEx(dst.info(), src.info(), &info));
        copy.interleave(state);
    }
    IpForcePortablePaths(false);
    ReleaseBinalizeHandle(&info);
    copy.report(state);
}
BENCHMARK(BM_PortableAdaptRegion)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
