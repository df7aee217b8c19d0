// PNM files, sheet folders, scaling and the readable mark of each side.
#include "VirtualPages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace kdvirtual;

namespace {

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string pnm(const char* magic, int w, int h, int maxval, std::size_t dataBytes, std::uint8_t fill = 100) {
    std::string s = std::string(magic) + "\n# made by a test\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
    if (maxval >= 0) s += std::to_string(maxval) + "\n";
    s += std::string(dataBytes, static_cast<char>(fill));
    return s;
}

} // namespace

struct PnmCase {
    std::string file;
    bool ok;
    const char* message;
};

class Pnm : public ::testing::TestWithParam<PnmCase> {};

TEST_P(Pnm, ReadsOrRefusesWithAMessage) {
    const PnmCase& c = GetParam();
    const auto b = bytes(c.file);
    PageImage img;
    std::string error;
    EXPECT_EQ(readPnm(b.data(), b.size(), img, error), c.ok) << error;
    if (!c.ok) {
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Pnm,
    ::testing::Values(PnmCase{pnm("P5", 4, 3, 255, 12), true, ""}, PnmCase{pnm("P6", 4, 3, 255, 36), true, ""},
                      PnmCase{pnm("P5", 4, 3, 65535, 24), true, ""}, PnmCase{pnm("P4", 9, 2, -1, 4), true, ""},
                      PnmCase{pnm("P5", 4, 3, 255, 11), false, "cut short"},
                      PnmCase{pnm("P5", 4, 3, 255, 13), false, "after its image"},
                      PnmCase{pnm("P5", 0, 3, 255, 0), false, "dimensions"},
                      PnmCase{pnm("P5", 70000, 1, 255, 70000), false, "dimensions"},
                      PnmCase{pnm("P5", 4, 3, 0, 12), false, "maxval"},
                      PnmCase{pnm("P5", 4, 3, 70000, 12), false, "maxval"},
                      PnmCase{"P3\n1 1\n255\n0 0 0\n", false, "binary PNM"},
                      PnmCase{"P5\n4", false, "header"}, PnmCase{"P5 4 3 255", false, "white space"}));

TEST(Pnm, SamplesScaleToEightBitsAndBitmapsReadBlackAsZero) {
    std::string f = "P5\n2 1\n1023\n";
    f += std::string("\x03\xFF\x00\x00", 4); // 1023, 0 (16-bit big-endian)
    auto b = bytes(f);
    PageImage img;
    std::string e;
    ASSERT_TRUE(readPnm(b.data(), b.size(), img, e)) << e;
    EXPECT_EQ(img.pixels, (std::vector<std::uint8_t>{255, 0}));
    b = bytes(std::string("P4\n3 1\n") + std::string(1, '\xA0'));
    ASSERT_TRUE(readPnm(b.data(), b.size(), img, e)) << e;
    EXPECT_EQ(img.pixels, (std::vector<std::uint8_t>{0, 255, 0}));
}

TEST(ScaleArea, AveragesWholeAndPartialSourcePixels) {
    PageImage src;
    src.width = 4;
    src.height = 1;
    src.pixels = {0, 100, 200, 40};
    const PageImage half = scaleArea(src, 2, 1);
    EXPECT_EQ(half.pixels, (std::vector<std::uint8_t>{50, 120}));
    const PageImage three = scaleArea(src, 3, 1); // spans of 4/3 source pixels
    EXPECT_EQ(three.pixels[0], 25);               // (0 + 100/3) * 3/4
    EXPECT_EQ(three.pixels[1], 150);              // (100*2/3 + 200*2/3) * 3/4
}

TEST(Sheets, FolderGivesFrontsInNameOrderWithTheirBacks) {
    const char* base = std::getenv("KD_TEST_TMP");
    const auto dir = std::filesystem::path(base ? base : "/tmp") / ("vpages-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "b.pnm") << pnm("P5", 300, 600, 255, 300 * 600, 10);
    std::ofstream(dir / "a.pnm") << pnm("P6", 600, 300, 255, 600 * 300 * 3, 20);
    std::ofstream(dir / "a.back.pnm") << pnm("P5", 600, 300, 255, 600 * 300, 30);
    std::ofstream(dir / "notes.txt") << "ignored";
    std::vector<Sheet> sheets;
    std::string e;
    ASSERT_TRUE(sheetsFromFolder(dir.string(), 300, sheets, e)) << e;
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_NEAR(sheets[0].widthMm, 50.8, 1e-9);
    EXPECT_EQ(sheets[0].side[0].image->channels, 3);
    EXPECT_EQ(sheets[0].side[1].image->pixels[0], 30);
    EXPECT_TRUE(sheets[1].side[1].blank);
    EXPECT_NEAR(sheets[1].heightMm, 50.8, 1e-9);
    // A bad file refuses the folder, naming the file.
    std::ofstream(dir / "c.pnm") << "P5\n10 10\n255\nshort";
    EXPECT_FALSE(sheetsFromFolder(dir.string(), 300, sheets, e));
    EXPECT_NE(e.find("c.pnm"), std::string::npos) << e;
    std::filesystem::remove_all(dir);
    EXPECT_FALSE(sheetsFromFolder(dir.string(), 300, sheets, e));
}

TEST(Sheets, EachSideCarriesItsReadableMark) {
    VirtualConfig c;
    std::string e;
    ASSERT_TRUE(parseSettings("sheets=12;paper=a5;content=mixed;colour=1;blank=3b", c, e)) << e;
    const auto sheets = generatedSheets(c);
    for (int n : {1, 12, 3}) {
        for (int side = 0; side < 2; ++side) {
            const Sheet& s = sheets[static_cast<std::size_t>(n - 1)];
            const int w = 2552, lines = 400;
            const auto px = renderSide(s, side, w, lines, 300, 300, 0, 3, 245);
            // The sheet is centred: its left edge lies (sensor - sheet width) / 2 in.
            const double left = (w - s.widthMm / 25.4 * 300) / 2;
            const std::string mark = readMark(px.data(), w, lines, 3, static_cast<std::size_t>(w) * 3, 300, 300, left, 0);
            EXPECT_EQ(mark, n == 3 && side == 1 ? std::string() : markText(n, side)) << n << "/" << side;
        }
    }
    // Still readable at 150 dpi after the 300 dpi page is area-averaged.
    PageImage page;
    page.width = 2552;
    page.height = 400;
    page.channels = 1;
    page.pixels = renderSide(sheets[11], 0, 2552, 400, 300, 300, 0, 1, 245);
    const PageImage small = scaleArea(page, 1276, 200);
    const double left = (1276 - 148 / 25.4 * 150) / 2;
    EXPECT_EQ(readMark(small.pixels.data(), 1276, 200, 1, 1276, 150, 150, left, 0), "12F");
}

TEST(Sheets, BackingShadowAndSkew) {
    VirtualConfig c;
    std::string e;
    ASSERT_TRUE(parseSettings("sheets=1;paper=card;skew=3;shift=10;backing=black", c, e)) << e;
    const Sheet s = generatedSheets(c)[0];
    const int w = 2552;
    // From 2 mm before the leading edge: backing, then the shadow line, then paper.
    const auto px = renderSide(s, 0, w, 60, 300, 300, -2.0, 1, 20);
    const int centre = w / 2 + static_cast<int>(10 / 25.4 * 300);
    EXPECT_EQ(px[static_cast<std::size_t>(centre)], 20);               // backing
    EXPECT_EQ(px[static_cast<std::size_t>(w * 22 + centre)], kShadowLevel); // 0.3 mm before the edge
    EXPECT_EQ(px[static_cast<std::size_t>(w * 40 + centre)], kPaperLevel);
    EXPECT_EQ(px[5], 20); // far left: backing
    // Skew tilts the leading edge: its row differs left and right of the centre.
    auto edgeRow = [&](int x) {
        for (int y = 0; y < 60; ++y)
            if (px[static_cast<std::size_t>(w * y + x)] == kPaperLevel) return y;
        return -1;
    };
    const int dx = static_cast<int>(35 / 25.4 * 300);
    EXPECT_GT(std::abs(edgeRow(centre - dx) - edgeRow(centre + dx)), 20);
}

// Each side's lamp shades the backing at one paper edge: the front's just
// before the leading edge, the back's just after the trailing edge. The
// corners sideCorners gives are where the render puts them.
TEST(Sheets, EdgeShadowsAndCornersOfBothSides) {
    VirtualConfig c;
    std::string e;
    ASSERT_TRUE(parseSettings("sheets=1;paper=card;skew=3;shift=10", c, e)) << e;
    const Sheet s = generatedSheets(c)[0];
    const int w = 2552, lines = static_cast<int>((54 + 12) / 25.4 * 300);
    for (int side = 0; side < 2; ++side) {
        SCOPED_TRACE(side);
        const auto px = renderSide(s, side, w, lines, 300, 300, -6.0, 1, 245);
        const auto at = [&](double x, double y) {
            return px[static_cast<std::size_t>(static_cast<int>(y)) * w + static_cast<std::size_t>(x)];
        };
        const auto corners = sideCorners(s, side, w, 300, 300, -6.0);
        const double cx = (corners[0].x + corners[3].x) / 2, cy = (corners[0].y + corners[3].y) / 2;
        for (const SidePoint& p : corners) {
            // 3 pixels towards the sheet's centre is paper, 3 away is not.
            const double d = std::hypot(cx - p.x, cy - p.y);
            EXPECT_EQ(at(p.x + 3 * (cx - p.x) / d, p.y + 3 * (cy - p.y) / d), kPaperLevel);
            EXPECT_NE(at(p.x - 3 * (cx - p.x) / d, p.y - 3 * (cy - p.y) / d), kPaperLevel);
        }
        // The middle of the top and bottom edges, 3 lines outside the sheet.
        const double topY = (corners[0].y + corners[1].y) / 2, bottomY = (corners[2].y + corners[3].y) / 2;
        const double topX = (corners[0].x + corners[1].x) / 2, bottomX = (corners[2].x + corners[3].x) / 2;
        EXPECT_EQ(at(topX, topY - 3), side == 0 ? kShadowLevel : 245);
        EXPECT_EQ(at(bottomX, bottomY + 3), side == 0 ? 245 : kShadowLevel);
    }
}
