// A4 pages at 300 dpi written into one PDF through the PDF layer, by pixel
// kind and compression mode. Counters: "x_jpeg", the time per page as a
// multiple of a bare libjpeg-turbo encode of the same page at the same
// quality (colour and gray at mode 2; the goal is 1.5 or less), and
// "close_share", the joining at close as a share of the pages' writing time
// (the goal is under 0.1).
#include "ZntxPdf.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace {

constexpr int32_t kWidth = 2480, kHeight = 3508, kDpi = 300, kPages = 4, kQuality = 75;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A page with some texture, so that neither encoder meets a flat field.
std::vector<uint8_t> MakePixels(int32_t kind, int32_t rowBytes) {
    std::vector<uint8_t> pixels(static_cast<size_t>(rowBytes) * kHeight);
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < rowBytes; ++x)
            pixels[size_t(y) * rowBytes + x] =
                kind == ZNTX_KIND_BILEVEL ? ((y / 40 + x / 5) % 7 == 0 ? 0xF0 : 0)
                                          : static_cast<uint8_t>((x * 7 + y * 3) ^ (y >> 3));
    return pixels;
}

// Seconds of one plain encode of the page by libjpeg-turbo.
double BareJpegSeconds(const ZNTX_PAGE& page) {
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        jpeg_compress_struct info;
        jpeg_error_mgr error;
        info.err = jpeg_std_error(&error);
        jpeg_create_compress(&info);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&info, &out, &size);
        info.image_width = kWidth;
        info.image_height = kHeight;
        info.input_components = page.kind == ZNTX_KIND_COLOUR ? 3 : 1;
        info.in_color_space = page.kind == ZNTX_KIND_COLOUR ? JCS_EXT_BGR : JCS_GRAYSCALE;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, kQuality, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row =
                const_cast<JSAMPROW>(page.data + size_t(info.next_scanline) * page.rowBytes);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        std::free(out);
        best = std::min(best, Seconds(t0));
    }
    return best;
}

void BM_PdfPages(benchmark::State& state) {
    const auto kind = static_cast<int32_t>(state.range(0));
    const auto mode = static_cast<int>(state.range(1));
    const int32_t rowBytes = kind == ZNTX_KIND_BILEVEL ? (kWidth + 7) / 8
                             : kind == ZNTX_KIND_GRAY  ? kWidth
                                                       : kWidth * 3;
    const std::vector<uint8_t> pixels = MakePixels(kind, rowBytes);
    const ZNTX_PAGE page{pixels.data(), rowBytes, kWidth, kHeight, kDpi, kDpi, kind, 0, 0};
    const std::string target = "/tmp/kd-pdf-bench-" + std::to_string(getpid()) + ".pdf";
    const ZNTX_SUBMODE_QUALITY_RECORD quality{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_QUALITY_LENGTH,
                                              kQuality};
    double pageSeconds = 0, closeSeconds = 0;
    for (auto _ : state) {
        if (ZNTX_exmodeset(mode, 0, 0) != 0 || ZNTX_exopen(target.c_str(), 0, 0) != 0 ||
            ZNTX_submodeset(ZNTX_SUBMODE_QUALITY, &quality) != 0) {
            state.SkipWithError("cannot open");
            break;
        }
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kPages; ++i) ZNTX_spmake(&page, nullptr);
        pageSeconds += Seconds(t0);
        t0 = std::chrono::steady_clock::now();
        if (ZNTX_exclose(0) != 0) {
            state.SkipWithError("cannot close");
            break;
        }
        closeSeconds += Seconds(t0);
    }
    std::remove(target.c_str());
    const double pages = double(state.iterations()) * kPages;
    state.counters["pages/s"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
    if (pageSeconds > 0) state.counters["close_share"] = closeSeconds / pageSeconds;
    if (mode == ZNTX_COMPRESSION_HIGH && kind != ZNTX_KIND_BILEVEL && pages > 0)
        state.counters["x_jpeg"] = pageSeconds / pages / BareJpegSeconds(page);
}

} // namespace

BENCHMARK(BM_PdfPages)
    ->ArgsProduct({{ZNTX_KIND_BILEVEL, ZNTX_KIND_GRAY, ZNTX_KIND_COLOUR},
                   {ZNTX_COMPRESSION_NONE, ZNTX_COMPRESSION_HIGH}})
    ->ArgNames({"kind", "mode"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

BENCHMARK_MAIN();
