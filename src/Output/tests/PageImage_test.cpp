// Page read-back: row sizes, the corrections by format, the edited page,
// short and damaged raw files.
#include "OutputTestSupport.h"

#include <foundation/Exception.h>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <string>

namespace {

using namespace qlr_output;
using namespace outtest;

TEST(PageReadBack, BytesPerRow) {
    struct Case {
        int bpp, width, bytes;
    } cases[] = {{1, 1001, 126}, {1, 8, 1}, {1, 9, 2}, {8, 1001, 1001}, {24, 1000, 3000}, {24, 0, 0}, {0, 10, 0},
                 {24, -1, 0}, {24, 0x7FFFFFFF, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(bytesPerRowByImgSetting(c.bpp, c.width), c.bytes) << c.bpp << "x" << c.width;
    EXPECT_EQ(bytesPerRow64(24, 0x7FFFFFFF), std::size_t(0x7FFFFFFF) * 3);
}

// Inversion only for PDF and TIFF below 8 bits; blue-green-red only for
// PDF at 24 bits.
TEST(PageReadBack, CorrectionsByFormat) {
    struct Case {
        int bpp, format;
        std::vector<std::uint8_t> expect;
    } cases[] = {
        {1, kFormatPDF, {0xF0, 0x5A}}, {1, kFormatTIFF, {0xF0, 0x5A}}, {1, kFormatJPEG, {0x0F, 0xA5}},
        {1, kFormatPNG, {0x0F, 0xA5}}, {8, kFormatPDF, {0x0F, 0xA5}},  {8, kFormatTIFF, {0x0F, 0xA5}},
    };
    for (const auto& c : cases) {
        PageBitmap b;
        b.bpp = c.bpp;
        b.width = c.bpp == 1 ? 16 : 2;
        b.height = 1;
        b.bytesPerRow = 2;
        b.data = {0x0F, 0xA5};
        reversalImageBW(b, c.format);
        conversionRGBToBGRImage(b, c.format);
        EXPECT_EQ(b.data, c.expect) << c.bpp << " bits, format " << c.format;
    }
    for (int format : {kFormatPDF, kFormatTIFF, kFormatJPEG, kFormatPNG}) {
        PageBitmap b;
        b.bpp = 24;
        b.width = 2;
        b.height = 2;
        b.bytesPerRow = 6;
        b.data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        reversalImageBW(b, format);
        conversionRGBToBGRImage(b, format);
        const std::vector<std::uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        const std::vector<std::uint8_t> bgr = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
        EXPECT_EQ(b.data, format == kFormatPDF ? bgr : rgb) << format;
    }
}

TEST(PageReadBack, RawFileShortLongMissingAndBadRecords) {
    const auto dir = scratch("readback");
    // Short: the rows after the file's end are white, not stale memory.
    auto bytes = patternRows(8, 10, 4, 7);
    bytes.resize(25);
    auto page = rawPage(dir / "short", 8, 10, 4, bytes);
    PageBitmap b = imageRepFromPage(*page);
    ASSERT_EQ(b.data.size(), 40u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), b.data.begin()));
    EXPECT_TRUE(std::all_of(b.data.begin() + 25, b.data.end(), [](std::uint8_t v) { return v == 0xFF; }));
    EXPECT_EQ(b.bytesPerRow, 10u);
    EXPECT_FLOAT_EQ(b.xRes, 200);

    // Longer than the record: only the record's bytes.
    auto longer = patternRows(1, 1001, 3, 1);
    longer.resize(longer.size() + 50, 0x33);
    b = imageRepFromPage(*rawPage(dir / "long", 1, 1001, 2, longer));
    EXPECT_EQ(b.data.size(), 252u);
    EXPECT_TRUE(std::equal(b.data.begin(), b.data.end(), longer.begin()));

    struct Case {
        const char* name;
        int bpp, width, height;
        std::size_t fileBytes;
        bool missing;
        const char* key;
    } cases[] = {
        {"empty file", 8, 10, 4, 0, false, "Err_FileDecodeFailed"},
        {"missing file", 8, 10, 4, 0, true, "NoErr_OnlyThrow"},
        {"16-bit", 16, 10, 4, 80, false, "Err_UnknownError"},
        {"zero width", 8, 0, 4, 10, false, "Err_UnknownError"},
        {"negative height", 8, 10, -4, 10, false, "Err_UnknownError"},
        // Refused before allocating 6 GB.
        {"huge", 24, 0x7FFFFFF0, 1000, 10, false, "Err_MemFullError"},
    };
    for (const auto& c : cases) {
        auto p = rawPage(dir / c.name, c.bpp, c.width, c.height, std::vector<std::uint8_t>(c.fileBytes, 1));
        if (c.missing) std::filesystem::remove(dir / c.name);
        EXPECT_EQ(keyOf([&] { imageRepFromPage(*p); }), c.key) << c.name;
    }
}

void writeTiff(const std::string& path, int w, int h, int bps, int spp, int photo,
               const std::vector<std::uint8_t>& rows) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photo);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    const std::size_t row = rows.size() / std::size_t(h);
    for (int y = 0; y < h; ++y)
        TIFFWriteScanline(t, const_cast<std::uint8_t*>(rows.data() + std::size_t(y) * row), std::uint32_t(y), 0);
    TIFFClose(t);
}

// The edited page is read from its TIFF even without the raw file, in the
// raw page's sense whatever its photometric interpretation.
TEST(PageReadBack, EditedPage) {
    const auto dir = scratch("edited");
    struct Case {
        const char* name;
        int bps, spp, photo, bpp;
        std::vector<std::uint8_t> stored, expect;
    } cases[] = {
        {"bw-minwhite", 1, 1, PHOTOMETRIC_MINISWHITE, 1, {0x0F, 0xF0}, {0xF0, 0x0F}},
        {"bw-minblack", 1, 1, PHOTOMETRIC_MINISBLACK, 1, {0x0F, 0xF0}, {0x0F, 0xF0}},
        {"gray-minwhite", 8, 1, PHOTOMETRIC_MINISWHITE, 8, {0, 255, 16, 32}, {255, 0, 239, 223}},
        {"rgb", 8, 3, PHOTOMETRIC_RGB, 24, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        const int w = c.bpp == 1 ? 8 : c.bpp == 8 ? 2 : 1;
        const std::string tif = (dir / (std::string(c.name) + ".tif")).string();
        writeTiff(tif, w, 2, c.bps, c.spp, c.photo, c.stored);
        ImageInfoModel page;
        page.setImgInfo_TmpImagePath((dir / "gone").string());
        page.setImgInfo_DstImagePath(tif);
        page.setImgInfo_XRes(300);
        page.setImgInfo_YRes(150);
        PageBitmap b = imageRepFromPage(page);
        EXPECT_EQ(b.bpp, c.bpp) << c.name;
        EXPECT_EQ(b.data, c.expect) << c.name;
        EXPECT_FLOAT_EQ(b.yRes, 150) << c.name;
    }
    // Cut and foreign files: a failure that carries libtiff's words.
    const std::string good = (dir / "rgb.tif").string();
    std::string bytes = readAll(good);
    writeBytes(dir / "cut.tif", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 12));
    writeBytes(dir / "foreign.tif", {'P', 'K', 3, 4, 0, 0, 0, 0});
    for (const char* name : {"cut.tif", "foreign.tif"}) {
        ImageInfoModel page;
        page.setImgInfo_DstImagePath((dir / name).string());
        try {
            imageRepFromPage(page);
            ADD_FAILURE() << name;
        } catch (const kdf::Exception& e) {
            EXPECT_EQ(e.name(), "Err_MemFullError") << name;
            EXPECT_FALSE(e.reason().empty()) << name;
        }
    }
}

} // namespace
