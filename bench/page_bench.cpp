// Whole A4 pages at 300 dpi through the steps every scanned page may take:
// binarisation (gray and colour to 1 bit) and quarter turns in 1-bit, gray
// and colour. Reported as pages per second.
#include "CBFunc.h"
#include "CImgInfPtr.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr int32_t kPageWidth = 2480;
constexpr int32_t kPageHeight = 3508;

enum PageKind : int64_t { kBinaryPage = 0, kGrayPage = 1, kColourPage = 2, kPlanarPage = 3 };

// One page of the kind in a generated test image.
kdtest::TestImage MakePage(int64_t kind) {
    switch (kind) {
    case kBinaryPage:
        return kdtest::BinaryTextPage(kPageWidth, kPageHeight);
    case kGrayPage:
        return kdtest::TextPage(kPageWidth, kPageHeight, 1, 1);
    case kColourPage:
        return kdtest::TextPage(kPageWidth, kPageHeight, 3, 0);
    default:
        return kdtest::TextPage(kPageWidth, kPageHeight, 3, 1);
    }
}

// The page copied into an owned image, as the library's work images are held.
bool LoadPage(CImageInfoPtr& ptr, const kdtest::TestImage& page) {
    const tagTVKIMAGEINFO& in = *page.info();
    if (in.lSpp == 3 && in.ulRGBOrder == 1) {
        auto* img = new CImageInfo(in.lWidth, in.lSync, in.lHeight, in.lBps, 3, 1);
        ptr.Attach(img);
        if (img->GetPtr() == nullptr) {
            return false;
        }
        img->SetResolution(in.lXResolution, in.lYResolution);
    } else if (!ptr.CreateImage(in.lWidth, in.lSync, in.lHeight, in.lBps, in.lSpp, in.lXResolution,
                                in.lYResolution)) {
        return false;
    }
    std::memcpy(ptr.GetPtr(), page.data(), std::min<size_t>(ptr.GetSize(), page.bytes().size()));
    return true;
}

void CountPages(benchmark::State& state) {
    // One page per iteration, as a rate over the measured time.
    state.counters["pages/s"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// Each iteration turns the page once more, so every turn starts from the
// previous result (the page alternates between portrait and landscape).
void BM_QuarterTurn(benchmark::State& state, bool clockwise) {
    const kdtest::TestImage page = MakePage(state.range(0));
    CImageInfoPtr img;
    if (!LoadPage(img, page)) {
        state.SkipWithError("page could not be made");
        return;
    }
    for (auto _ : state) {
        const bool ok = clockwise ? img.Rotate90R() : img.Rotate90L();
        if (!ok) {
            state.SkipWithError("turn failed");
            break;
        }
        benchmark::DoNotOptimize(img.GetPtr());
        benchmark::ClobberMemory();
    }
    CountPages(state);
    state.SetLabel(state.range(0) == kBinaryPage   ? "1 bit"
                   : state.range(0) == kGrayPage   ? "gray"
                   : state.range(0) == kColourPage ? "colour interleaved"
                                                   : "colour planar");
}

void BM_Rotate90R(benchmark::State& state) {
    BM_QuarterTurn(state, true);
}
void BM_Rotate90L(benchmark::State& state) {
    BM_QuarterTurn(state, false);
}

// The fixed threshold (gray) or the to-monochrome kind (colour) over a whole
// page with the short request, into a 1-bit page.
void BM_BinalizeRectEx(benchmark::State& state) {
    const kdtest::TestImage page = MakePage(state.range(0));
    kdtest::TestImage src = page;
    kdtest::TestImage dst = kdtest::TestImage::Binary(kPageWidth, kPageHeight);
    const uint32_t kind = src.info()->lSpp == 3 ? kBinToMonoChrome : kBinFixed;
    for (auto _ : state) {
        tagBINFUNCINFO info{};
        info.size = kBinFuncInfoSizeShort;
        info.kind = kind;
        info.firstSlice = info.nextSlice = 128;
        if (BinalizeRectEx(dst.info(), src.info(), &info) != 0 ||
            info.lineCount != static_cast<uint32_t>(kPageHeight)) {
            state.SkipWithError("binarisation failed");
            break;
        }
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    CountPages(state);
    state.SetLabel(kind == kBinFixed ? "gray, fixed threshold" : "colour, to monochrome");
}

} // namespace

BENCHMARK(BM_BinalizeRectEx)->Arg(kGrayPage)->Arg(kColourPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate90R)
    ->Arg(kBinaryPage)
    ->Arg(kGrayPage)
    ->Arg(kColourPage)
    ->Arg(kPlanarPage)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate90L)
    ->Arg(kBinaryPage)
    ->Arg(kGrayPage)
    ->Arg(kColourPage)
    ->Arg(kPlanarPage)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
