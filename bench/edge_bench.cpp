// Edge emphasis and colour-gap correction on A4 pages at 300 dpi.
#include "EdgeFunc.h"
#include "MemcpyRatio.h"
#include "TestKit.h"
#include "tvkcolorgap.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int32_t kA4Width = 2480;
constexpr int32_t kA4Height = 3508;

const kdtest::TestImage& Page(int32_t spp, uint32_t order) {
    static const kdtest::TestImage gray = kdtest::TextPage(kA4Width, kA4Height, 1, 1);
    static const kdtest::TestImage rgb = kdtest::TextPage(kA4Width, kA4Height, 3, 0);
    static const kdtest::TestImage planes = kdtest::TextPage(kA4Width, kA4Height, 3, 1);
    if (spp == 1) return gray;
    return order == 0 ? rgb : planes;
}

// Whole page through one member: args are the kind and the filter number
// (number 0 with kind 1 or 5: the parameterised member). Each iteration
// filters the next page of a ring of `pages` copies, against memcpy of the
// same ring.
void EdgeOverPages(benchmark::State& state, int pages) {
    const auto kind = static_cast<uintptr_t>(state.range(0));
    const auto number = static_cast<uint32_t>(state.range(1));
    const kdtest::TestImage& src = Page(kind == 1 ? 1 : 3, kind == 5 ? 0 : 1);
    std::vector<kdtest::TestImage> in(static_cast<size_t>(pages), src);
    std::vector<kdtest::TestImage> dst(static_cast<size_t>(pages), src);
    std::vector<const uint8_t*> data;
    for (const auto& page : in) data.push_back(page.data());
    kdbench::InterleavedMemcpy copy(data, src.bytes().size());
    size_t i = 0;
    for (auto _ : state) {
        tagEDGEINFO info{};
        info.ulSize = sizeof(tagEDGEINFO);
        info.ulFilterNo = number;
        info.hEdge = kind;
        info.bParam = number == 0 ? 1 : 0;
        CreateEdgeFuncHandle(&info);
        dst[i].info()->lHeight = src.height();
        if (EdgeFuncEx(dst[i].info(), in[i].info(), &info) != 0) state.SkipWithError("refused");
        benchmark::DoNotOptimize(dst[i].data());
        benchmark::ClobberMemory();
        i = (i + 1) % in.size();
        copy.interleave(state);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.bytes().size()));
    copy.report(state);
}

void BM_EdgeFunc(benchmark::State& state) {
    EdgeOverPages(state, 1);
}

void EdgeArgs(benchmark::internal::Benchmark* b) {
    for (int n : {1, 2, 5, 9, 10, 0, 0x402, 0x404, 0xC03}) b->Args({1, n});
    for (int n : {2, 3, 5}) b->Args({3, n});
    for (int n : {1, 3, 5, 0x201, 0x202, 0}) b->Args({5, n});
}
BENCHMARK(BM_EdgeFunc)->Apply(EdgeArgs)->Unit(benchmark::kMillisecond);

// The gray 3 x 3 members with the page read from memory rather than cache,
// as in a scan: a ring of ten gray pages, several times the size of the
// caches. A gray A4 page fits in this machine's caches, so its own memcpy
// runs at cache speed, which a scan never sees.
void BM_EdgeFuncFromMemory(benchmark::State& state) {
    EdgeOverPages(state, 10);
}
BENCHMARK(BM_EdgeFuncFromMemory)
    ->Args({1, 2})->Args({1, 5})->Args({1, 9})->Args({1, 10})->Args({1, 0})
    ->Unit(benchmark::kMillisecond);

// The short record's object-less filter.
void BM_EdgeFuncShort(benchmark::State& state) {
    const auto number = static_cast<uint32_t>(state.range(0));
    const kdtest::TestImage& src = Page(1, 1);
    kdtest::TestImage dst = src;
    kdtest::TestImage in = src;
    for (auto _ : state) {
        tagEDGEINFO info{};
        info.ulSize = kEdgeInfoSizeOld;
        info.ulFilterNo = number;
        dst.info()->lHeight = src.height();
        if (EdgeFuncEx(dst.info(), in.info(), &info) != 0) state.SkipWithError("refused");
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_EdgeFuncShort)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

// Colour-gap correction of a colour page, whole and in bands of 128 lines.
void BM_ColorGap(benchmark::State& state) {
    const int32_t band = static_cast<int32_t>(state.range(0));
    const kdtest::TestImage& src = Page(3, 0);
    kdtest::TestImage dst = src;
    for (auto _ : state) {
        COLORGAPINFO info{};
        info.ulSize = sizeof(COLORGAPINFO);
        int32_t y = 0, out = 0;
        while (y < src.height() || y == 0) {
            const int32_t n = band == 0 ? src.height() : std::min(band, src.height() - y);
            tagTVKIMAGEINFO s = src.band(y, n);
            tagTVKIMAGEINFO d = dst.band(out, src.height() - out);
            y += n;
            info.bLastBand = y >= src.height() ? 1 : 0;
            if (ColorGapCorrect(&d, &s, &info) != 0) state.SkipWithError("refused");
            out += d.lHeight;
        }
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_ColorGap)->Arg(0)->Arg(128)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
