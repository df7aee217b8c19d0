// Speed of the line-streaming scaler on whole A4 pages at 300 dpi, streamed
// line by line as the TWAIN host does during a memory transfer.
#include "FG_Zoom.h"
#include "MemcpyRatio.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int kPageWidth = 2480;
constexpr int kPageHeight = 3508;

std::vector<uint8_t> MakePage(std::size_t stride, int height, uint32_t seed) {
    // Smooth gradients with noise, like a photo or printed page.
    std::vector<uint8_t> page(stride * static_cast<std::size_t>(height));
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (std::size_t b = 0; b < stride; ++b)
            page[static_cast<std::size_t>(y) * stride + b] =
                static_cast<uint8_t>((b / 3 + static_cast<std::size_t>(y) / 2) + (rng() & 15));
    return page;
}

// Streams a page through one scaler and returns the number of output lines.
int StreamPage(const std::vector<uint8_t>& page, std::size_t srcStride, int dstW, int dstH, int bpp,
               std::vector<uint8_t>& out, std::size_t dstStride) {
    FG_Zoom zoom;
    int written = 0;
    if (zoom.Open(dstW, dstH, kPageWidth, kPageHeight, bpp, 2) == 0) {
        for (int y = 0; y < kPageHeight; ++y) {
            if (zoom.Send(page.data() + static_cast<std::size_t>(y) * srcStride) != 0) continue;
            while (zoom.ReadyLines() > 0 && written < dstH) {
                if (zoom.Read(out.data() + static_cast<std::size_t>(written) * dstStride) != 0)
                    break;
                ++written;
            }
        }
    }
    zoom.Close();
    return written;
}

// A colour page into a 1/8-size preview.
void BM_A4ColourToEighthPreview(benchmark::State& state) {
    const std::size_t srcStride = kPageWidth * 3;
    const std::vector<uint8_t> page = MakePage(srcStride, kPageHeight, 1);
    const int dstW = kPageWidth / 8;
    const int dstH = kPageHeight / 8;
    const std::size_t dstStride = static_cast<std::size_t>(dstW) * 3;
    std::vector<uint8_t> out(dstStride * dstH);
    kdbench::InterleavedMemcpy copy(page.data(), page.size());
    for (auto _ : state) {
        const int lines = StreamPage(page, srcStride, dstW, dstH, 24, out, dstStride);
        if (lines != dstH) state.SkipWithError("incomplete output");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        copy.interleave(state);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(page.size()));
    copy.report(state);
}
BENCHMARK(BM_A4ColourToEighthPreview)->Unit(benchmark::kMillisecond);

// A black-and-white page enlarged four times on each axis.
void BM_A4OneBitEnlargeFourTimes(benchmark::State& state) {
    const std::size_t srcStride = (kPageWidth + 7) / 8;
    const std::vector<uint8_t> page = MakePage(srcStride, kPageHeight, 2);
    const int dstW = kPageWidth * 4;
    const int dstH = kPageHeight * 4;
    const std::size_t dstStride = (static_cast<std::size_t>(dstW) + 7) / 8;
    std::vector<uint8_t> out(dstStride * dstH);
    for (auto _ : state) {
        const int lines = StreamPage(page, srcStride, dstW, dstH, 1, out, dstStride);
        if (lines != dstH) state.SkipWithError("incomplete output");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_A4OneBitEnlargeFourTimes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
