// The TIFF writer: single pages as libtiff reads them back, groups of pages
// appended into multi-page files, and appends that fail without leaving a
// half-changed group file or a child file behind.
#include "CreateTIFF.h"
#include "OutputTestSupport.h"
#include "TiffReadBack.h"

#include <OutputModel.h>
#include <QlrUtilsMethod.h>

#include <TempHome.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <map>

namespace {

using namespace outtest;
using qlr_output::PageBitmap;

// The bits that fill the last byte of a 1-bit row are no pixels: a decoder
// gives them as 0.
void clearPadding(PageBitmap& b) {
    if (b.bpp != 1 || b.width % 8 == 0) return;
    for (int y = 0; y < b.height; ++y)
        b.data[std::size_t(y) * b.bytesPerRow + b.bytesPerRow - 1] &= std::uint8_t(0xFF << (8 - b.width % 8));
}

// A page whose bytes carry its seed, row and column, so a page read back
// in the wrong place or order shows.
PageBitmap patternPage(int bpp, int width, int height, int seed, float xRes = 300, float yRes = 200) {
    PageBitmap b;
    b.bpp = bpp;
    b.width = width;
    b.height = height;
    b.xRes = xRes;
    b.yRes = yRes;
    b.bytesPerRow = *qlr_output::bytesPerRow64(bpp, width);
    b.data.resize(b.bytesPerRow * std::size_t(height));
    for (int y = 0; y < height; ++y)
        for (std::size_t x = 0; x < b.bytesPerRow; ++x)
            b.data[std::size_t(y) * b.bytesPerRow + x] = std::uint8_t(seed * 31 + y * 7 + int(x) * 3);
    clearPadding(b);
    return b;
}

std::shared_ptr<OutputModel> tiffOutput(int multiType, int perFile) {
    auto o = std::make_shared<OutputModel>();
    o->setFileFormatType(qlr_output::kFormatTIFF);
    o->setFileOp_MultiType_TIFF(multiType);
    o->setMultiPageNum_TIFF(perFile);
    return o;
}

class CreateTIFF : public ::testing::Test {
protected:
    kdtest::TempHome home;
    fs::path dir;

    void SetUp() override {
        dir = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(QlrUtilsMethod::createTmpFolder());
    }
    void TearDown() override {
        QlrUtilsMethod::removeTmpFolder();
        fs::remove_all(dir);
    }
    static std::size_t childFiles() {
        const auto multi = QlrUtilsMethod::createAndMultiFolderPath();
        if (!multi) return 0;
        return std::size_t(std::distance(fs::directory_iterator(*multi), fs::directory_iterator()));
    }
};

TEST_F(CreateTIFF, EachDepthReadsBackAsWritten) {
    struct Case {
        int bpp, height;
        std::uint16_t compression, photometric;
    } cases[] = {
        {1, 10000, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE},
        {1, 10001, COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE},
        {8, 41, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK},
        {24, 41, COMPRESSION_NONE, PHOTOMETRIC_RGB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bpp) + " bits, " + std::to_string(c.height) + " rows");
        PageBitmap page = patternPage(c.bpp, 53, c.height, c.bpp);
        // The read-back inverts bilevel pages for TIFF: a set bit is black.
        qlr_output::reversalImageBW(page, qlr_output::kFormatTIFF);
        clearPadding(page);
        const std::string path = (dir / ("p" + std::to_string(c.bpp) + ".tiff")).string();
        ASSERT_TRUE(qlr_output::writeToTIFF(page, &path, 0, true, *tiffOutput(0, 1), {}));

        const auto pages = readTiffPages(path);
        ASSERT_EQ(pages.size(), 1u);
        const TiffPage& p = pages[0];
        EXPECT_EQ(p.width, 53u);
        EXPECT_EQ(p.height, std::uint32_t(c.height));
        EXPECT_EQ(p.compression, c.compression);
        EXPECT_EQ(p.photometric, c.photometric);
        EXPECT_EQ(p.bitsPerSample, c.bpp == 1 ? 1 : 8);
        EXPECT_EQ(p.samplesPerPixel, c.bpp == 24 ? 3 : 1);
        EXPECT_EQ(p.unit, RESUNIT_INCH);
        EXPECT_FLOAT_EQ(p.xRes, 300.0f);
        EXPECT_FLOAT_EQ(p.yRes, 200.0f);
        // Bytes as given: a set bit under WhiteIsZero is black, colour stays
        // red-green-blue.
        EXPECT_TRUE(p.rows == page.data);
        const std::string bytes = readAll(path);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(bytes.substr(0, 4), std::string("II*\0", 4));
    }
}

TEST_F(CreateTIFF, BlackScannedPixelReadsBlack) {
    // Scanner sense: a set bit is white. One black pixel at (2, 1).
    PageBitmap page = patternPage(1, 16, 3, 0);
    std::fill(page.data.begin(), page.data.end(), 0xFF);
    page.data[1 * page.bytesPerRow] = 0xDF;
    qlr_output::reversalImageBW(page, qlr_output::kFormatTIFF);
    const std::string path = (dir / "black.tiff").string();
    ASSERT_TRUE(qlr_output::writeToTIFF(page, &path, 0, true, *tiffOutput(0, 1), {}));

    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    // RGBA decoding applies the photometric interpretation.
    std::vector<std::uint32_t> rgba(16 * 3);
    ASSERT_TRUE(TIFFReadRGBAImageOriented(t, 16, 3, rgba.data(), ORIENTATION_TOPLEFT, 0));
    TIFFClose(t);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(TIFFGetR(rgba[std::size_t(y * 16 + x)]), (x == 2 && y == 1) ? 0u : 255u) << x << "," << y;
}

TEST_F(CreateTIFF, GroupsBecomeMultiPageFilesInPageOrder) {
    struct Case {
        const char* name;
        int multiType, perFile;
        std::vector<std::size_t> pagesPerFile;
    } cases[] = {
        {"a new file every 3 pages", 1, 3, {3, 3, 1}},
        {"all pages in one file", 0, 3, {7}},
        {"a damaged count of 0 is one page a file", 1, 0, {1, 1, 1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> list;
        const auto lookup = [&](int group) -> std::optional<std::string> {
            if (group < 0 || std::size_t(group) >= list.size()) return std::nullopt;
            return list[std::size_t(group)];
        };
        const auto output = tiffOutput(c.multiType, c.perFile);
        std::vector<PageBitmap> written;
        for (int i = 0; i < 7; ++i) {
            const int bpp = (i % 3 == 0) ? 1 : (i % 3 == 1) ? 8 : 24;
            PageBitmap page = patternPage(bpp, 20 + i, 9 + i, i);
            const std::string path = (dir / (c.name + std::to_string(i) + ".tiff")).string();
            ASSERT_TRUE(qlr_output::writeToTIFF(page, &path, i, i == 6, *output, lookup)) << i;
            // The writer is asked with a new path for every page; only a page
            // that starts a file takes it.
            if (fs::exists(path)) list.push_back(path);
            written.push_back(std::move(page));
        }
        ASSERT_EQ(list.size(), c.pagesPerFile.size());
        std::size_t next = 0;
        for (std::size_t f = 0; f < list.size(); ++f) {
            const auto pages = readTiffPages(list[f]);
            ASSERT_EQ(pages.size(), c.pagesPerFile[f]) << f;
            for (const auto& p : pages) {
                const PageBitmap& want = written[next];
                EXPECT_EQ(p.width, std::uint32_t(want.width)) << "page " << next;
                EXPECT_TRUE(p.rows == want.data) << "page " << next;
                ++next;
            }
        }
        EXPECT_EQ(next, 7u);
        EXPECT_EQ(childFiles(), 0u);
        for (const auto& f : list) fs::remove(f);
    }
}

TEST_F(CreateTIFF, FailedAppendsKeepTheGroupFileAndLeaveNoChild) {
    const auto output = tiffOutput(0, 1);
    const PageBitmap page = patternPage(8, 64, 64, 1);
    const std::string group = (dir / "group.tiff").string();
    ASSERT_TRUE(qlr_output::writeToTIFF(page, &group, 0, false, *output, {}));
    const std::string groupBytes = readAll(group);
    const std::string junk = (dir / "junk.tiff").string();
    writeBytes(junk, std::vector<std::uint8_t>(300, 'x'));
    // Near 4 GiB, sparse: the next page's offsets would wrap.
    const std::string huge = (dir / "huge.tiff").string();
    ASSERT_TRUE(qlr_output::writeToTIFF(page, &huge, 0, false, *output, {}));
    ASSERT_EQ(::truncate(huge.c_str(), off_t(UINT32_MAX) - 1000), 0);

    struct Case {
        const char* name;
        std::optional<std::string> groupFile;
        const char* key;
    } cases[] = {
        {"no group file listed", std::nullopt, "Err_FileWriteFailed"},
        {"group file gone", (dir / "gone.tiff").string(), "Err_FileWriteFailed"},
        {"group file no TIFF", junk, "Err_TIFFAddPage"},
        {"offsets past 32 bits", huge, "Err_TIFFAddPage"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = c.groupFile && c.groupFile != huge ? readAll(*c.groupFile) : std::string();
        EXPECT_EQ(keyOf([&] {
                      qlr_output::writeToTIFF(page, nullptr, 1, false, *output,
                                              [&](int g) { return g == 0 ? c.groupFile : std::nullopt; });
                  }),
                  c.key);
        if (c.groupFile == huge) {
            EXPECT_EQ(fs::file_size(huge), std::uintmax_t(UINT32_MAX) - 1000);
        } else if (c.groupFile) {
            EXPECT_EQ(readAll(*c.groupFile), before);
        }
        EXPECT_EQ(childFiles(), 0u);
    }
    EXPECT_EQ(readAll(group), groupBytes);

    // Pages that can't be written at all.
    const std::string nowhere = (dir / "missing" / "p.tiff").string();
    EXPECT_EQ(keyOf([&] { qlr_output::writeToTIFF(page, &nowhere, 0, false, *output, {}); }), "Err_FileCreateFailed");
    PageBitmap deep = patternPage(8, 8, 8, 0);
    deep.bpp = 16;
    EXPECT_EQ(keyOf([&] { qlr_output::writeToTIFF(deep, &group, 0, false, *output, {}); }), "Err_FileCreateFailed");
    EXPECT_EQ(keyOf([&] { qlr_output::writeToTIFF(PageBitmap{}, &group, 0, false, *output, {}); }),
              "Err_FileCreateFailed");
    // Without the work folder there is no child file to write.
    QlrUtilsMethod::removeTmpFolder();
    EXPECT_EQ(keyOf([&] {
                  qlr_output::writeToTIFF(page, nullptr, 1, false, *output,
                                          [&](int) { return std::optional<std::string>(group); });
              }),
              "Err_FileCreateFailed");
    EXPECT_EQ(readAll(group), groupBytes);
}

} // namespace
