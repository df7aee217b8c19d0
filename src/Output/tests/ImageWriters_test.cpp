// JPEG and PNG writers: what libjpeg and libpng read back, the refusals and
// the keys of failed writes.
#include "ImageWriters.h"
#include "OutputTestSupport.h"

#include <foundation/Exception.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace qlr_output;
using namespace outtest;

PageBitmap bitmap(int bpp, int width, int height, int seed) {
    PageBitmap b;
    b.bpp = bpp;
    b.width = width;
    b.height = height;
    b.xRes = 300;
    b.yRes = 300;
    b.bytesPerRow = *bytesPerRow64(bpp, width);
    b.data = patternRows(bpp, width, height, seed);
    return b;
}

TEST(ImageWriters, CompressionFactor) {
    const std::pair<int, double> cases[] = {{1, 1.0}, {2, 0.8}, {3, 0.6}, {4, 0.4}, {0, 0.2}, {5, 0.2}, {-3, 0.2}};
    for (auto [rate, factor] : cases) EXPECT_DOUBLE_EQ(jpegCompressionFactor(rate), factor) << rate;
}

// PNG keeps every bit as scanned (a set bit is white in both), 8-bit gray
// and RGB exactly, and the resolution.
TEST(ImageWriters, PngReadsBackExactly) {
    const auto dir = scratch("png");
    struct Case {
        int bpp, channels, depth;
    } cases[] = {{1, 1, 1}, {8, 1, 8}, {24, 3, 8}};
    for (const auto& c : cases) {
        PageBitmap b = bitmap(c.bpp, 1001, 7, 40);
        // The bits past the last pixel of a 1-bit row are padding, not page.
        if (c.bpp == 1)
            for (int y = 0; y < 7; ++y) b.data[std::size_t(y) * b.bytesPerRow + b.bytesPerRow - 1] &= 0x80;
        const auto path = dir / ("p" + std::to_string(c.bpp) + ".png");
        writeToPNG(b, path.string());
        const Decoded d = decodePNG(readAll(path));
        EXPECT_EQ(d.width, 1001);
        EXPECT_EQ(d.height, 7);
        EXPECT_EQ(d.channels, c.channels) << c.bpp;
        EXPECT_EQ(d.bitDepth, c.depth) << c.bpp;
        EXPECT_EQ(d.rows, b.data) << c.bpp;
        EXPECT_NEAR(d.xDpi, 300, 0.1);
    }
}

TEST(ImageWriters, JpegReadsBackCloseAndRefusesBilevel) {
    const auto dir = scratch("jpeg");
    for (int bpp : {8, 24}) {
        const PageBitmap b = bitmap(bpp, 64, 32, 90);
        const auto path = dir / ("j" + std::to_string(bpp) + ".jpg");
        writeToJPEG(b, path.string(), 1);
        const Decoded d = decodeJPEG(readAll(path));
        EXPECT_EQ(d.channels, bpp / 8);
        EXPECT_EQ(d.width, 64);
        EXPECT_EQ(d.xDpi, 300);
        ASSERT_EQ(d.rows.size(), b.data.size());
        int worst = 0;
        for (std::size_t i = 0; i < d.rows.size(); ++i) worst = std::max(worst, std::abs(d.rows[i] - b.data[i]));
        EXPECT_LE(worst, 3) << bpp;
    }
    // Quality follows the setting: a lower factor gives a smaller file.
    const PageBitmap noisy = bitmap(24, 200, 200, 3);
    EXPECT_GT(encodeJPEG(noisy, 100).size(), encodeJPEG(noisy, 20).size());

    EXPECT_EQ(keyOf([&] { writeToJPEG(bitmap(1, 64, 8, 0), (dir / "bw.jpg").string(), 2); }),
              "Err_JPEGInvalidParam");
    EXPECT_FALSE(std::filesystem::exists(dir / "bw.jpg"));
    EXPECT_EQ(keyOf([&] { writeToPNG(bitmap(1, 64, 8, 0), (dir / "bw.png").string()); }), "");
}

TEST(ImageWriters, UnwritableFolderLeavesNoFile) {
    const auto dir = scratch("unwritable");
    const auto locked = dir / "locked";
    std::filesystem::create_directories(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool isRoot = ::geteuid() == 0;
    for (const auto& folder : {locked, dir / "missing"}) {
        if (isRoot && folder == locked) continue;
        EXPECT_EQ(keyOf([&] { writeToJPEG(bitmap(8, 8, 8, 0), (folder / "a.jpg").string(), 2); }), "Err_JPEGNotCreate");
        EXPECT_EQ(keyOf([&] { writeToPNG(bitmap(8, 8, 8, 0), (folder / "a.png").string()); }), "Err_FileCreateFailed");
    }
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    EXPECT_TRUE(std::filesystem::is_empty(locked));
}

} // namespace
