// The preview picture of a raw page: its sizes, its rows against the line
// scaler's own output, and pages the file does not hold whole.
#include "PreviewRender.h"

#include "FG_Zoom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using preview_render::previewSizes;

// A generated raw page: random samples, seeded per depth.
std::vector<std::uint8_t> rawPage(int width, int height, int bpp, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(preview_render::rawLineBytes(width, bpp) * std::size_t(height));
    for (auto& b : bytes) b = std::uint8_t(random());
    return bytes;
}

std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto dir = std::filesystem::temp_directory_path() / ("preview_render_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
    return path;
}

// What the scaler itself makes of the page, row by row.
std::vector<std::vector<std::uint8_t>> scalerRows(const std::vector<std::uint8_t>& page, int width, int height,
                                                  int bpp, QSize target) {
    const std::size_t in = preview_render::rawLineBytes(width, bpp);
    const std::size_t out = preview_render::rawLineBytes(target.width(), bpp);
    FG_Zoom zoom;
    EXPECT_EQ(zoom.Open(target.width(), target.height(), width, height, bpp, 2), 0);
    std::vector<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < height; ++y) {
        EXPECT_EQ(zoom.Send(page.data() + in * std::size_t(y)), 0);
        while (zoom.ReadyLines() > 0) {
            rows.emplace_back(out);
            EXPECT_EQ(zoom.Read(rows.back().data()), 0);
        }
    }
    zoom.Close();
    return rows;
}

TEST(PreviewRender, AvailableAreaLeavesTheColumnTheBarsAndTheInset) {
    const QSizeF area = preview_render::availableArea(QRectF(0, 25, 1280, 775), 40, 30);
    EXPECT_EQ(area, QSizeF(1280 - 97 - 46, 775 - 70 - 46));
}

TEST(PreviewRender, TargetSizeByDepthFitAndPageSize) {
    const QSizeF area(600, 400);
    struct Case {
        int bpp;
        bool fit;
        QSizeF source;
        QSizeF fitted;
        QSize target;
    };
    const Case cases[] = {
        // Smaller both ways: the page's own size; 1-bit always four times.
        {1, true, {300, 200}, {300, 200}, {1200, 800}},
        {1, false, {300, 200}, {300, 200}, {1200, 800}},
        {8, true, {300, 200}, {300, 200}, {300, 200}},
        {8, false, {300, 200}, {300, 200}, {1200, 800}},
        {24, true, {300, 200}, {300, 200}, {300, 200}},
        {24, false, {300, 200}, {300, 200}, {1200, 800}},
        // Larger: fitted keeping the ratio (0.4 here).
        {1, true, {1200, 1000}, {480, 400}, {1920, 1600}},
        {8, true, {1200, 1000}, {480, 400}, {480, 400}},
        {8, false, {1200, 1000}, {480, 400}, {1920, 1600}},
        {24, true, {1200, 1000}, {480, 400}, {480, 400}},
        {24, false, {1200, 1000}, {480, 400}, {1920, 1600}},
        // As wide as the area is not smaller: scaled (by 1 here); a
        // fraction rounds up before and after the factor.
        {8, true, {600, 100}, {600, 100}, {600, 100}},
        {8, true, {1000, 333}, {600, 199.8}, {600, 200}},
        {8, false, {1000, 333}, {600, 199.8}, {2400, 800}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits, fit " << c.fit << ", " << c.source.width() << " x "
                                        << c.source.height());
        const auto sizes = previewSizes(c.source.width(), c.source.height(), c.bpp, area, c.fit);
        ASSERT_TRUE(sizes);
        EXPECT_NEAR(sizes->fitted.width(), c.fitted.width(), 1e-6);
        EXPECT_NEAR(sizes->fitted.height(), c.fitted.height(), 1e-6);
        EXPECT_EQ(sizes->target, c.target);
    }
}

TEST(PreviewRender, NoSizesForEmptyPagesOrSizesBeyondInt) {
    EXPECT_FALSE(previewSizes(0, 100, 8, QSizeF(600, 400), true));
    EXPECT_FALSE(previewSizes(100, -1, 8, QSizeF(600, 400), true));
    // A page larger than an empty area has nowhere to go.
    EXPECT_FALSE(previewSizes(800, 800, 8, QSizeF(-10, 400), true));
    // Enlarged four times, a smaller page beyond int is refused.
    EXPECT_FALSE(previewSizes(1e9, 10, 8, QSizeF(2e9, 2e9), false));
}

TEST(PreviewRender, FormatsAndRowBytesByDepth) {
    EXPECT_EQ(preview_render::formatForDepth(1), QImage::Format_Mono);
    EXPECT_EQ(preview_render::formatForDepth(8), QImage::Format_Grayscale8);
    EXPECT_EQ(preview_render::formatForDepth(24), QImage::Format_RGB888);
    EXPECT_EQ(preview_render::formatForDepth(16), QImage::Format_Invalid);
    EXPECT_EQ(preview_render::rawLineBytes(13, 1), 2u);
    EXPECT_EQ(preview_render::rawLineBytes(13, 8), 13u);
    EXPECT_EQ(preview_render::rawLineBytes(13, 24), 39u);
    EXPECT_EQ(preview_render::rawLineBytes(0, 24), 0u);
    // Widths beyond 32 bits still count right.
    EXPECT_EQ(preview_render::rawLineBytes(std::int64_t(1) << 33, 24), std::uint64_t(3) << 33);
}

TEST(PreviewRender, RowsAreTheScalersOutput) {
    struct Case {
        int bpp;
        int width, height;
        QSize target;
    };
    // Odd widths, so the picture's 4-byte row padding differs from the
    // raw rows; reductions and enlargements.
    const Case cases[] = {
        {8, 37, 23, {13, 9}}, {8, 37, 23, {75, 50}},  {24, 31, 17, {11, 7}},
        {24, 31, 17, {62, 35}}, {1, 45, 30, {19, 13}}, {1, 45, 30, {181, 121}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits to " << c.target.width() << " x " << c.target.height());
        const auto page = rawPage(c.width, c.height, c.bpp, unsigned(c.bpp * 1000 + c.target.width()));
        const std::string path = writeFile("page_" + std::to_string(c.bpp) + "_" + std::to_string(c.target.width()),
                                           page);
        const QImage image = preview_render::renderRawPageFile(path, c.width, c.height, c.bpp, c.target);
        ASSERT_FALSE(image.isNull());
        ASSERT_EQ(image.size(), c.target);
        EXPECT_EQ(image.format(), preview_render::formatForDepth(c.bpp));
        const auto rows = scalerRows(page, c.width, c.height, c.bpp, c.target);
        ASSERT_EQ(int(rows.size()), c.target.height());
        for (int y = 0; y < c.target.height(); ++y)
            ASSERT_EQ(0, std::memcmp(image.constScanLine(y), rows[std::size_t(y)].data(), rows[std::size_t(y)].size()))
                << "row " << y;
    }
}

TEST(PreviewRender, MonoSetBitsAreWhite) {
    // Left half set bits, right half clear: 16 x 2 at its own size.
    const std::vector<std::uint8_t> page = {0xFF, 0x00, 0xFF, 0x00};
    const QImage image =
        preview_render::renderRawPageFile(writeFile("mono", page), 16, 2, 1, QSize(16, 2));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(15, 1), qRgb(0, 0, 0));
}

TEST(PreviewRender, ShortFileLeavesAWhiteTail) {
    // 40 black rows of which the file holds 10.
    const int width = 40, height = 40;
    const std::vector<std::uint8_t> black(std::size_t(width) * 10, 0);
    const std::string path = writeFile("short", black);
    for (int bpp : {8, 24, 1}) {
        SCOPED_TRACE(bpp);
        std::vector<std::uint8_t> bytes(preview_render::rawLineBytes(width, bpp) * 10, 0);
        const std::string file = writeFile("short_" + std::to_string(bpp), bytes);
        const QImage image = preview_render::renderRawPageFile(file, width, height, bpp, QSize(width, height));
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.pixel(5, 0), qRgb(0, 0, 0));
        for (int y = 12; y < height; ++y)
            for (int x = 0; x < width; x += 13) ASSERT_EQ(image.pixel(x, y), qRgb(255, 255, 255)) << x << ", " << y;
    }
    // Reduced, the tail is white as well.
    const QImage small = preview_render::renderRawPageFile(path, width, height, 8, QSize(10, 10));
    ASSERT_FALSE(small.isNull());
    EXPECT_EQ(small.pixel(3, 9), qRgb(255, 255, 255));
}

TEST(PreviewRender, RefusesWhatItCannotDraw) {
    const auto page = rawPage(20, 20, 8, 7);
    const std::string path = writeFile("refuse", page);
    EXPECT_TRUE(preview_render::renderRawPageFile(path, 20, 20, 16, QSize(10, 10)).isNull());
    EXPECT_TRUE(preview_render::renderRawPageFile(path, 20, 20, 0, QSize(10, 10)).isNull());
    EXPECT_TRUE(preview_render::renderRawPageFile(path, 0, 20, 8, QSize(10, 10)).isNull());
    EXPECT_TRUE(preview_render::renderRawPageFile(path, 20, 20, 8, QSize(0, 10)).isNull());
    EXPECT_TRUE(preview_render::renderRawPageFile(path, std::int64_t(1) << 40, 20, 8, QSize(10, 10)).isNull());
    EXPECT_TRUE(preview_render::renderRawPageFile(path + ".missing", 20, 20, 8, QSize(10, 10)).isNull());
    EXPECT_TRUE(preview_render::renderRawPageFile("", 20, 20, 8, QSize(10, 10)).isNull());
}

} // namespace
