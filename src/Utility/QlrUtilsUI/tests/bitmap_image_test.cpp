// The toolkit-free bitmap and its QImage over the same pixels.
#include "BitmapImage.h"
#include "QlrUtilsMethodUI.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

using QlrUtilsMethod::BitmapImage;
using CS = QlrUtilsMethod::BitmapImage::ColorSpace;

namespace {

struct LayoutCase {
    const char* name;
    int w, h, bps, spp;
    CS space;
    std::size_t bytesPerRow;
    bool made;
};

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, OnlyTheThreePreviewLayoutsWithRoomForARowAreMade) {
    const LayoutCase& c = GetParam();
    const auto image = BitmapImage::make(c.w, c.h, c.bps, c.spp, c.space, c.bytesPerRow, 40.5, 20.9);
    ASSERT_EQ(image != nullptr, c.made);
    if (!image) return;
    EXPECT_EQ(image->pixelsWide(), c.w);
    EXPECT_EQ(image->pixelsHigh(), c.h);
    EXPECT_EQ(image->bytesPerRow(), c.bytesPerRow);
    // The display size, not the pixels.
    EXPECT_EQ(image->width(), 40);
    EXPECT_EQ(image->height(), 20);
    for (std::size_t i = 0; i < c.bytesPerRow * std::size_t(c.h); ++i) ASSERT_EQ(image->bitmapData()[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Layout,
    ::testing::Values(LayoutCase{"OneBit", 13, 3, 1, 1, CS::White, 13, true},
                      LayoutCase{"OneBitPackedRow", 13, 3, 1, 1, CS::White, 2, true},
                      LayoutCase{"OneBitRowTooShort", 17, 3, 1, 1, CS::White, 2, false},
                      LayoutCase{"Gray", 5, 4, 8, 1, CS::White, 5, true},
                      LayoutCase{"Rgb", 5, 4, 8, 3, CS::RGB, 15, true},
                      LayoutCase{"RgbRowTooShort", 5, 4, 8, 3, CS::RGB, 14, false},
                      LayoutCase{"GrayAsRgb", 5, 4, 8, 1, CS::RGB, 5, false},
                      LayoutCase{"RgbAsWhite", 5, 4, 8, 3, CS::White, 15, false},
                      LayoutCase{"SixteenBit", 5, 4, 16, 1, CS::White, 10, false},
                      LayoutCase{"FourSamples", 5, 4, 8, 4, CS::RGB, 20, false},
                      LayoutCase{"NoWidth", 0, 4, 8, 1, CS::White, 5, false},
                      LayoutCase{"NegativeHeight", 5, -1, 8, 1, CS::White, 5, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct PixelCase {
    const char* name;
    int bps, spp;
    CS space;
    QImage::Format format;
    std::uint8_t bytes[3]; // the first bytes of row 1
    QRgb pixel0;           // pixel (0, 1)
    QRgb pixel1;           // pixel (1, 1)
};

class Pixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(Pixels, TheQImageSharesThePixelsAndReadsThemAsTheBitmapMeansThem) {
    const PixelCase& c = GetParam();
    constexpr int w = 9, h = 3;
    const std::size_t stride = std::size_t(w) * std::size_t(c.spp) + 3; // deliberately unaligned
    auto bitmap = BitmapImage::make(w, h, c.bps, c.spp, c.space, stride, w, h);
    ASSERT_TRUE(bitmap);
    std::copy(std::begin(c.bytes), std::end(c.bytes), bitmap->row(1));
    const std::uint8_t* pixels = bitmap->bitmapData();

    QImage image = QlrUtilsMethod::qImageOfBitmap(bitmap);
    std::weak_ptr<BitmapImage> weak = bitmap;
    bitmap.reset();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.format(), c.format);
    EXPECT_EQ(image.size(), QSize(w, h));
    EXPECT_EQ(image.bytesPerLine(), qsizetype(stride));
    // Not a copy, and the image keeps the bitmap alive.
    EXPECT_EQ(image.constBits(), pixels);
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(image.pixel(0, 1), c.pixel0);
    EXPECT_EQ(image.pixel(1, 1), c.pixel1);
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    image = QImage();
    EXPECT_TRUE(weak.expired());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pixels,
    ::testing::Values(
        // A set bit is white.
        PixelCase{"OneBit", 1, 1, CS::White, QImage::Format_Mono, {0x80, 0, 0}, qRgb(255, 255, 255), qRgb(0, 0, 0)},
        PixelCase{"Gray", 8, 1, CS::White, QImage::Format_Grayscale8, {200, 17, 0}, qRgb(200, 200, 200),
                  qRgb(17, 17, 17)},
        PixelCase{"Rgb", 8, 3, CS::RGB, QImage::Format_RGB888, {10, 20, 30}, qRgb(10, 20, 30), qRgb(0, 0, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapHandle, IconAndImageOfAHandleAndOfNothing) {
    QlrUtilsMethod::ImageRef ref = BitmapImage::make(4, 2, 8, 1, CS::White, 4, 8, 4);
    const QImage image = QlrUtilsMethod::imageOf(ref);
    EXPECT_EQ(image.size(), QSize(4, 2));
    EXPECT_EQ(image.constBits(), std::static_pointer_cast<const BitmapImage>(ref)->bitmapData());
    EXPECT_FALSE(QlrUtilsMethod::iconOf(ref).isNull());
    EXPECT_TRUE(QlrUtilsMethod::imageOf(nullptr).isNull());
    EXPECT_TRUE(QlrUtilsMethod::iconOf(nullptr).isNull());
    EXPECT_TRUE(QlrUtilsMethod::qImageOfBitmap(nullptr).isNull());
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
