#include "CImgFile.h"
#include "TempFolder.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace Tvk;
using namespace Tvk::Imvra;
using orbeltest::ReadFile;
using orbeltest::TempFolder;
using orbeltest::WriteFile;

namespace {

// A CImgFile holding a copy of a test-kit image.
CImgFile FromKit(const kdtest::TestImage& src) {
    CImgFile img;
    tagIMAGEINFO r = *src.info();
    r.tImageSize = static_cast<uint32_t>(CImg::calcSize(r.lSync, r.lHeight, r.lSpp, r.ulRGBOrder));
    EXPECT_TRUE(img.createImg(r));
    std::memcpy(img.info().lpImage, src.data(), img.info().tImageSize);
    return img;
}

bool SamePixels(const tagIMAGEINFO& a, const tagIMAGEINFO& b) {
    if (a.lWidth != b.lWidth || a.lHeight != b.lHeight) return false;
    for (int32_t y = 0; y < a.lHeight; ++y)
        for (int32_t x = 0; x < a.lWidth; ++x)
            if (kdtest::GetPixel(a, x, y) != kdtest::GetPixel(b, x, y)) return false;
    return true;
}

uint32_t U32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

} // namespace

TEST(CImgFileTvk, RoundTripAndCompare) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    CImgFile img = FromKit(kdtest::NoisePage(13, 7, 8, 3, 1, 9));
    img.info().lXpos = 5;
    const std::string path = t.path("a.tvk");
    ASSERT_TRUE(img.saveTvk(path.c_str()));
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 52u + img.info().tImageSize);
    EXPECT_EQ(U32At(bytes, 0), 52u);
    EXPECT_EQ(U32At(bytes, 4), 0u); // the buffer pointer is never stored
    EXPECT_EQ(U32At(bytes, 8), 5u);
    EXPECT_TRUE(img.compTvk(path.c_str()));
    img.info().lHeight = 3; // height alone is not compared
    EXPECT_TRUE(img.compTvk(path.c_str()));
    img.info().lpImage[10] ^= 1;
    EXPECT_FALSE(img.compTvk(path.c_str()));

    CImgFile back;
    ASSERT_TRUE(back.loadTvk(path.c_str()));
    EXPECT_EQ(back.info().size, kImageInfoSize);
    EXPECT_EQ(back.info().lXpos, 5);
    EXPECT_EQ(back.info().ulRGBOrder, 1u);
    EXPECT_EQ(back.info().tImageSize, img.info().tImageSize);

    CImgFile empty;
    EXPECT_FALSE(empty.saveTvk(t.path("b.tvk").c_str()));
}

TEST(CImgFileTvk, BadFilesLeaveAnEmptyImage) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    CImgFile img = FromKit(kdtest::NoisePage(8, 4, 8, 1));
    const std::string good = t.path("good.tvk");
    ASSERT_TRUE(img.saveTvk(good.c_str()));
    const std::string bytes = ReadFile(good);

    struct Case {
        const char* what;
        std::string content;
    };
    std::string noWidth = bytes;
    noWidth[16] = noWidth[17] = noWidth[18] = noWidth[19] = 0;
    std::string huge = bytes;
    // Width, line and size of a 4 GiB image in a file of a few bytes.
    const uint8_t big[] = {0x00, 0x00, 0x01, 0x00};
    for (int i = 0; i < 4; ++i) huge[16 + i] = huge[24 + i] = static_cast<char>(big[i]);
    huge[20] = 1, huge[21] = huge[22] = huge[23] = 0;
    for (int i = 0; i < 4; ++i) huge[28 + i] = static_cast<char>(big[i]);
    const Case cases[] = {
        {"record only half there", bytes.substr(0, 30)},
        {"pixels cut short", bytes.substr(0, bytes.size() - 1)},
        {"record refused", noWidth},
        {"announces more than the file holds", huge},
    };
    for (const Case& c : cases) {
        const std::string path = t.path("bad.tvk");
        WriteFile(path, c.content);
        CImgFile back = FromKit(kdtest::NoisePage(2, 2, 8, 1));
        EXPECT_FALSE(back.loadTvk(path.c_str())) << c.what;
        EXPECT_TRUE(back.isNull()) << c.what;
        EXPECT_EQ(back.info().size, 0u) << c.what;
    }
    CImgFile none;
    EXPECT_FALSE(none.loadTvk(t.path("missing.tvk").c_str()));
}

TEST(CImgFileTvk, ImageRecordFile) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    tagIMAGEINFO r{};
    r.size = kImageInfoSize;
    r.lWidth = 100;
    r.lHeight = -1;
    r.lYResolution = 600;
    const std::string path = t.path("rec.inf");
    ASSERT_TRUE(CImgFile::saveImgInf(path.c_str(), &r));
    EXPECT_EQ(ReadFile(path).size(), 52u);
    tagIMAGEINFO back{};
    EXPECT_FALSE(CImgFile::loadImgInf(path.c_str(), &back)); // size 0 refused
    back.size = 1;
    ASSERT_TRUE(CImgFile::loadImgInf(path.c_str(), &back));
    EXPECT_EQ(back.size, kImageInfoSize);
    EXPECT_EQ(back.lWidth, 100);
    EXPECT_EQ(back.lHeight, -1);
    EXPECT_EQ(back.lYResolution, 600);
    EXPECT_FALSE(CImgFile::saveImgInf(path.c_str(), nullptr));
}

TEST(CImgFileBmp, OneBitWidth33) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    CImgFile img = FromKit(kdtest::NoisePage(33, 3, 1, 1));
    // The kit pads lines to whole words; keep only the five bytes of a line.
    CImgFile tight;
    ASSERT_TRUE(tight.createImg(33, 3, 1, 1, 0, 300, 300));
    for (int y = 0; y < 3; ++y)
        std::memcpy(tight.info().lpImage + 5 * y, img.info().lpImage + img.info().lSync * y, 5);
    const std::string path = t.path("bin.bmp");
    ASSERT_TRUE(tight.saveBmp(path.c_str()));
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.size(), 54u + 8 + 3 * 8);
    EXPECT_EQ(U32At(bytes, 10), 62u);
    EXPECT_EQ(U32At(bytes, 34), 24u);         // pixel bytes: lines of 8 bytes
    EXPECT_EQ(U32At(bytes, 38), 11811u);      // 300 dpi in pixels per metre
    EXPECT_EQ(U32At(bytes, 58), 0x00FFFFFFu); // second palette entry white
    CImgFile back;
    ASSERT_TRUE(back.loadBmp(path.c_str()));
    EXPECT_EQ(back.info().lBps, 1);
    EXPECT_EQ(back.info().lSync, 5);
    EXPECT_EQ(back.info().lXResolution, 300);
    EXPECT_EQ(std::memcmp(back.info().lpImage, tight.info().lpImage, 15), 0);
}

TEST(CImgFileBmp, ColourLayoutsReadBack) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    for (uint32_t order : {0u, 1u}) {
        CImgFile img = FromKit(kdtest::PhotoPage(21, 9, 3, order));
        const std::string path = t.path("colour.bmp");
        ASSERT_TRUE(img.saveBmp(path.c_str())) << order;
        EXPECT_EQ(ReadFile(path).size(), 54u + 9 * 64) << order;
        CImgFile back;
        ASSERT_TRUE(back.loadBmp(path.c_str())) << order;
        EXPECT_EQ(back.info().lSpp, 3);
        EXPECT_TRUE(SamePixels(img.info(), back.info())) << order;
    }
    CImgFile gray4;
    ASSERT_TRUE(gray4.createImg(5, 2, 4, 1, 0));
    gray4.info().lpImage[0] = 0xF0;
    const std::string path = t.path("g4.bmp");
    ASSERT_TRUE(gray4.saveBmp(path.c_str()));
    EXPECT_EQ(U32At(ReadFile(path), 54 + 15 * 4), 0x00FFFFFFu);
    CImgFile deep;
    ASSERT_TRUE(deep.createImg(5, 2, 16, 1, 0));
    EXPECT_FALSE(deep.saveBmp(t.path("deep.bmp").c_str()));
}

TEST(CImgFileBmp, BadFilesAreRefusedBeforeAllocation) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    CImgFile img = FromKit(kdtest::NoisePage(6, 4, 8, 1));
    const std::string good = t.path("good.bmp");
    ASSERT_TRUE(img.saveBmp(good.c_str()));
    const std::string bytes = ReadFile(good);
    auto with = [&](size_t at, uint32_t v) {
        std::string b = bytes;
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
        return b;
    };
    struct Case {
        const char* what;
        std::string content;
    };
    const Case cases[] = {
        {"not a bitmap", "XX" + bytes.substr(2)},
        {"short header", bytes.substr(0, 40)},
        {"other information header", with(14, 108)},
        {"zero width", with(18, 0)},
        {"compressed", with(30, 1)},
        {"huge width in a small file", with(18, 0x7FFFFFFF)},
        {"huge height in a small file", with(22, 0x7FFFFFFF)},
        {"pixels cut short", bytes.substr(0, bytes.size() - 1)},
        {"pixel offset past the end", with(10, 0xFFFFFFF0)},
    };
    for (const Case& c : cases) {
        const std::string path = t.path("bad.bmp");
        WriteFile(path, c.content);
        CImgFile back;
        EXPECT_FALSE(back.loadBmp(path.c_str())) << c.what;
        EXPECT_TRUE(back.isNull()) << c.what;
    }
    // A top-down file reads the right way up.
    CImgFile back;
    const std::string flipped = t.path("topdown.bmp");
    std::string td = with(22, static_cast<uint32_t>(-4));
    const size_t line = 8, offset = U32At(bytes, 10);
    for (size_t r = 0; r < 4; ++r)
        td.replace(offset + r * line, line, bytes.substr(offset + (3 - r) * line, line));
    WriteFile(flipped, td);
    ASSERT_TRUE(back.loadBmp(flipped.c_str()));
    EXPECT_TRUE(SamePixels(img.info(), back.info()));
}

TEST(CImgFilePdf, PagesPassTheChecker) {
#ifdef KD_QPDF
    const std::string qpdf = KD_QPDF;
#else
    const std::string qpdf;
#endif
    if (qpdf.empty() || qpdf.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "no qpdf";
    TempFolder t;
    ASSERT_TRUE(t.ok());
    struct Case {
        const char* name;
        kdtest::TestImage image;
        bool colourTable;
    };
    const Case cases[] = {
        {"gray.pdf", kdtest::TextPage(40, 30), false},
        {"bin.pdf", kdtest::BinaryTextPage(33, 20), true},
        {"colour.pdf", kdtest::PhotoPage(25, 16, 3, 1), true},
        {"interleaved.pdf", kdtest::PhotoPage(25, 16, 3, 0), false},
    };
    for (const Case& c : cases) {
        CImgFile img = FromKit(c.image);
        const std::string path = t.path(c.name);
        ASSERT_TRUE(img.savePdf(path.c_str(), c.colourTable, 75, false, 0, 0)) << c.name;
        const std::string cmd = qpdf + " --check '" + path + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << c.name;
    }
    CImgFile img = FromKit(kdtest::TextPage(40, 30));
    EXPECT_FALSE(img.savePdf(t.path("page.txt").c_str(), false, 75, false, 0, 0));
    CImgFile deep;
    ASSERT_TRUE(deep.createImg(4, 4, 16, 1, 0));
    EXPECT_FALSE(deep.savePdf(t.path("deep.pdf").c_str(), false, 75, false, 0, 0));
    CImgFile wide;
    ASSERT_TRUE(wide.createImg(10201, 1, 1, 1, 0));
    EXPECT_FALSE(wide.savePdf(t.path("wide.pdf").c_str(), false, 75, false, 0, 0));
    EXPECT_FALSE(img.saveJpg(t.path("page.jpg").c_str(), 75));
}
