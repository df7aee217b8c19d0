// 200 A4 pages at 300 dpi written by the TIFF writer into one file (1-bit
// Group 4 and 8-bit uncompressed): pages per second, and the cost of the
// last appends against the first ones. An append copies the new page and
// walks the file's directories; it never rewrites what is already there,
// so the last appends cost about what the first did.
#include "CreateTIFF.h"

#include <OutputModel.h>
#include <QlrUtilsMethod.h>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kW = 2480, kH = 3508, kPages = 200, kSample = 10;

// Text-like content: mostly white, some dark strokes; set bits are black,
// as the read-back leaves bilevel pages for TIFF.
qlr_output::PageBitmap a4Page(int bpp) {
    qlr_output::PageBitmap b;
    b.bpp = bpp;
    b.width = kW;
    b.height = kH;
    b.xRes = b.yRes = 300;
    b.bytesPerRow = *qlr_output::bytesPerRow64(bpp, kW);
    b.data.assign(b.bytesPerRow * kH, bpp == 1 ? 0x00 : 0xF0);
    std::mt19937 random(1);
    for (int y = 40; y + 30 < kH; y += 60)
        for (int x = 0; x + 8 < int(b.bytesPerRow); x += 1 + int(random() % 6))
            for (int r = 0; r < 24; ++r) b.data[std::size_t(y + r) * b.bytesPerRow + std::size_t(x)] = std::uint8_t(random());
    return b;
}

void BM_AppendPages(benchmark::State& state) {
    const int bpp = int(state.range(0));
    QlrUtilsMethod::createTmpFolder();
    const fs::path dir = fs::temp_directory_path() / ("tiff_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const qlr_output::PageBitmap page = a4Page(bpp);
    OutputModel output;
    output.setFileFormatType(qlr_output::kFormatTIFF);
    output.setFileOp_MultiType_TIFF(0);
    const std::string file = (dir / "all.tiff").string();
    double first = 0, last = 0;
    for (auto _ : state) {
        fs::remove(file);
        const auto lookup = [&](int) { return std::optional<std::string>(file); };
        first = last = 0;
        for (int i = 0; i < kPages; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            qlr_output::writeToTIFF(page, i == 0 ? &file : nullptr, i, i + 1 == kPages, output, lookup);
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (i >= 1 && i <= kSample) first += s;
            if (i >= kPages - kSample) last += s;
        }
    }
    state.counters["pages_per_s"] =
        benchmark::Counter(double(kPages) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["last_vs_first"] = first > 0 ? last / first : 0;
    state.counters["MB"] = double(fs::file_size(file)) / 1e6;
    fs::remove_all(dir);
    QlrUtilsMethod::removeTmpFolder();
}

BENCHMARK(BM_AppendPages)->Arg(1)->Arg(8)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
