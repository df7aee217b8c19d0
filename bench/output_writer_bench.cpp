// An A4 page at 300 dpi read back from its raw file and written as JPEG
// (quality 80) and PNG at 1, 8 and 24 bits, against a bare encode of the
// same buffer into memory with the same library settings.
#include "ImageWriters.h"
#include "PageImage.h"

#include <PageModels.h>

#include <png.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include <jpeglib.h>

namespace {

namespace fs = std::filesystem;
constexpr int kW = 2480, kH = 3508;

struct Page {
    fs::path dir;
    ImageInfoModel info;
    qlr_output::PageBitmap bitmap;
};

// A page with text-like content: mostly white, some dark strokes.
Page& page(int bpp) {
    static std::map<int, Page> pages;
    auto it = pages.find(bpp);
    if (it != pages.end()) return it->second;
    Page& p = pages[bpp];
    p.dir = fs::temp_directory_path() / ("output_bench_" + std::to_string(::getpid()));
    fs::create_directories(p.dir);
    const std::size_t row = *qlr_output::bytesPerRow64(bpp, kW);
    std::vector<std::uint8_t> bytes(row * kH, bpp == 1 ? 0xFF : 0xF0);
    std::mt19937 random(1);
    for (std::size_t i = 0; i < bytes.size(); i += 1 + random() % 40) bytes[i] = std::uint8_t(random());
    const fs::path file = p.dir / ("raw" + std::to_string(bpp));
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    p.info.setImgInfo_TmpImagePath(file.string());
    p.info.setImgInfo_bpp(bpp);
    p.info.setImgInfo_Width(kW);
    p.info.setImgInfo_Height(kH);
    p.info.setImgInfo_XRes(300);
    p.info.setImgInfo_YRes(300);
    p.bitmap = qlr_output::imageRepFromPage(p.info);
    return p;
}

// Every page gets a new file, as in the writer (a UUID name in the
// output's folder); replacing one file over and over would measure the file
// system's flush on a replacing rename instead.
template <class Write> void writePages(benchmark::State& state, Page& p, const char* ext, Write write) {
    int n = 0;
    for (auto _ : state) {
        const std::string out = (p.dir / ("page" + std::to_string(n++) + ext)).string();
        auto b = qlr_output::imageRepFromPage(p.info);
        write(b, out);
        state.PauseTiming();
        fs::remove(out);
        state.ResumeTiming();
    }
}

void BM_WriteJPEG(benchmark::State& state) {
    writePages(state, page(int(state.range(0))), ".jpg",
               [](const qlr_output::PageBitmap& b, const std::string& out) { qlr_output::writeToJPEG(b, out, 2); });
}

void BM_BareJPEG(benchmark::State& state) {
    Page& p = page(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(qlr_output::encodeJPEG(p.bitmap, 80));
}

void BM_WritePNG(benchmark::State& state) {
    writePages(state, page(int(state.range(0))), ".png",
               [](const qlr_output::PageBitmap& b, const std::string& out) { qlr_output::writeToPNG(b, out); });
}

void BM_BarePNG(benchmark::State& state) {
    Page& p = page(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(qlr_output::encodePNG(p.bitmap, 6));
}

BENCHMARK(BM_WriteJPEG)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareJPEG)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePNG)->Arg(1)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BarePNG)->Arg(1)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
