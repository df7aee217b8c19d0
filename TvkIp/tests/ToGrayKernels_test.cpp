// The colour-to-gray line kernels: every vector twin against the table
// reference, byte for byte, and the whole to-gray conversion with and without
// the portable override.
#include "DetectTextSlant.h"
#include "Luminance.h"
#include "PathTestHelpers.h"
#include "TestKit.h"
#include "ToGrayKernels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace gk = GRAY_KERNEL;
using kdtest::TestImage;

namespace {

using InterleavedFn = void (*)(uint8_t*, const uint8_t*, int32_t);
using PlanarFn = void (*)(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int32_t);

struct Paths {
    const char* name;
    InterleavedFn interleaved;
    PlanarFn planar;
};

// The vector twins this processor can run.
std::vector<Paths> VectorPaths() {
    std::vector<Paths> p;
#if defined(__SSE2__)
    p.push_back({"SSE2", gk::InterleavedSSE2, gk::PlanarSSE2});
    if (__builtin_cpu_supports("avx2")) p.push_back({"AVX2", gk::InterleavedAVX2, gk::PlanarAVX2});
#endif
    return p;
}

// Widths around the vector steps (16 and 32 pixels), starting 0 to 3 bytes
// past an aligned address; bytes beyond the width stay untouched.
TEST(ToGrayKernels, VectorTwinsMatchTheTablesByteForByte) {
    std::vector<uint8_t> in(3 * 300 + 64);
    kdtest::FillRandom(in, 7);
    for (const Paths& path : VectorPaths()) {
        for (int32_t n : {0, 1, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 97, 255, 300}) {
            for (int32_t skew = 0; skew < 4; ++skew) {
                std::vector<uint8_t> want(static_cast<size_t>(n) + 8, 0xA5);
                std::vector<uint8_t> got(static_cast<size_t>(n) + 8 + skew, 0xA5);
                const uint8_t* src = in.data() + skew;
                gk::InterleavedPortable(want.data(), src, n);
                path.interleaved(got.data() + skew, src, n);
                ASSERT_EQ(0, std::memcmp(want.data(), got.data() + skew, want.size()))
                    << path.name << " interleaved n=" << n << " skew=" << skew;
                const uint8_t* g = src + 301;
                const uint8_t* b = src + 603;
                gk::PlanarPortable(want.data(), src, g, b, n);
                path.planar(got.data() + skew, src, g, b, n);
                ASSERT_EQ(0, std::memcmp(want.data(), got.data() + skew, want.size()))
                    << path.name << " planar n=" << n << " skew=" << skew;
            }
        }
    }
}

// Every sample value in every channel, including the red entry whose table
// value lies below the rounding of the others.
TEST(ToGrayKernels, EverySampleValueOfEachChannel) {
    for (int ch = 0; ch < 3; ++ch) {
        std::vector<uint8_t> rgb(3 * 256, 0);
        for (int v = 0; v < 256; ++v)
            rgb[static_cast<size_t>(3 * v + ch)] = static_cast<uint8_t>(v);
        const auto& table = ch == 0   ? GRAY_WEIGHT::RedToGray
                            : ch == 1 ? GRAY_WEIGHT::GreenToGray
                                      : GRAY_WEIGHT::BlueToGray;
        for (const Paths& path : VectorPaths()) {
            std::vector<uint8_t> out(256);
            path.interleaved(out.data(), rgb.data(), 256);
            for (int v = 0; v < 256; ++v) ASSERT_EQ(out[v], table[v]) << path.name << ch << v;
        }
    }
}

// Whole pages through the exported conversion, in bands of one line and as a
// whole, on every path (the portable override among them): the same bytes.
TEST(ToGrayKernels, EveryPathGivesTheSameGrayPage) {
    for (uint32_t order : {0u, 1u}) {
        const TestImage page = kdtest::PhotoPage(301, 23, 3, order, 9);
        std::vector<uint8_t> portable;
        for (pathtest::Path path : pathtest::Available()) {
            pathtest::Use use(path);
            TestImage whole = TestImage::Gray(page.width(), page.height(), 0);
            TestImage lines = TestImage::Gray(page.width(), page.height(), 0);
            TestImage in = page;
            tagTOGRAYFUNCINFO req{kToGrayFuncInfoSize, 0};
            ToGrayRect(whole.info(), in.info(), &req);
            for (int32_t y = 0; y < page.height(); ++y) {
                tagTVKIMAGEINFO s = in.band(y, 1);
                tagTVKIMAGEINFO d = lines.band(y, 1);
                ToGrayRect(&d, &s, &req);
            }
            EXPECT_EQ(whole.bytes(), lines.bytes()) << order << ' ' << pathtest::Name(path);
            if (path == pathtest::Path::Portable) portable = whole.bytes();
            EXPECT_EQ(whole.bytes(), portable) << order << ' ' << pathtest::Name(path);
        }
    }
}

} // namespace
