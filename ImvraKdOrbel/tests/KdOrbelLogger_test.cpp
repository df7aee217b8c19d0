#include "CImgFile.h"
#include "KdOrbelLogger.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using orbeltest::ReadFile;
using orbeltest::TempFolder;
using orbeltest::WriteFile;
using Tvk::Imvra::KD730::KdOrbelLogger;

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

bool HasLabel(const std::vector<std::string>& lines, const std::string& label) {
    for (const auto& l : lines)
        if (l.find(label) != std::string::npos) return true;
    return false;
}

// The global debug log switched on in a test folder for the test's lifetime.
class LogOn {
public:
    explicit LogOn(const TempFolder& t) : m_path(t.path("Imvra.log")) {
        WriteFile(m_path, "");
        TvkLogger::createGlobalLogger(t.dir(), "Imvra.log");
    }
    ~LogOn() { TvkLogger::releaseGlobalLogger(); }
    // Everything written so far.
    std::vector<std::string> lines() {
        TvkLogger::releaseGlobalLogger();
        return Lines(ReadFile(m_path));
    }

private:
    std::string m_path;
};

CImg GrayImage(int32_t w, int32_t h, uint8_t start) {
    CImg img;
    EXPECT_TRUE(img.createImg(w, h, 8, 1, 0, 300, 300));
    for (uint32_t i = 0; i < img.info().tImageSize; ++i)
        img.info().lpImage[i] = static_cast<uint8_t>(start + i);
    return img;
}

} // namespace

TEST(KdOrbelLogger, SilentWithoutTheLogFile) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    TvkLogger::createGlobalLogger(t.dir(), "Imvra.log");
    ASSERT_FALSE(TvkLogger::isLogOn());
    tagNORMALFILTERINFO normal{};
    normal.ulSize = kNormalFilterInfoSize;
    KdOrbelLogger::writeNORMALFILTERINFO(&normal);
    tagADJUSTINFO adjust{};
    KdOrbelLogger::writeADJUSTINFO(&adjust);
    const CImg img = GrayImage(4, 2, 0);
    KdOrbelLogger::writeTvk(img, t.path("page").c_str());
    EXPECT_FALSE(Exists(t.path("Imvra.log")));
    EXPECT_FALSE(Exists(t.path("page000.tvk")));
}

TEST(KdOrbelLogger, NormalRecordBlockWithSizeGatedFields) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    LogOn log(t);
    tagGRCINFO grc{};
    grc.ulSize = kGRCInfoSize;
    grc.ucBrightness = 10;
    tagBLANKPAGEINFO blank{kBlankPageInfoSize, 3, 0};
    tagDETECTCOLORORGRAYINFO detect{};
    detect.ulSize = kDetectColorOrGrayInfoShortSize;
    detect.Mode = 9;
    tagEPUBFILTERINFO epub{kEPubFilterInfoSize, 5};
    tagNORMALFILTERINFO normal{};
    normal.ulSize = kNormalFilterInfoSizeBlankPage;
    normal.bReduceMoire = 1;
    normal.pGRCInfo = &grc;
    normal.pBlankPageInfo = &blank;
    normal.pDetectColorOrGrayInfo = &detect;
    normal.pEPubFilterInfo = &epub; // beyond the record's size: not read
    normal.bDetectResolution = 1;
    KdOrbelLogger::writeNORMALFILTERINFO(&normal);
    const auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "<NORMALFILTERINFO>");
    EXPECT_EQ(lines.back(), "</NORMALFILTERINFO>");
    EXPECT_TRUE(Has(lines, "\t.bReduceMoire                      1"));
    EXPECT_TRUE(Has(lines, "\t    .ulSize                         1032"));
    EXPECT_TRUE(Has(lines, "\t    .ucBrightness                     10"));
    // The pointer in its full 64-bit value, behind the label of its own.
    const std::string address = std::to_string(reinterpret_cast<uintptr_t>(&blank));
    bool blankFound = false;
    for (const auto& l : lines)
        if (l.rfind("\t.pBlankPageInfo\t\t      ", 0) == 0 && l.size() >= address.size() &&
            l.compare(l.size() - address.size(), address.size(), address) == 0)
            blankFound = true;
    EXPECT_TRUE(blankFound) << address;
    EXPECT_TRUE(Has(lines, "\t    .lBlankSkipSlice                   3"));
    // The short detection record has no Mode; fields past the size are absent.
    EXPECT_FALSE(HasLabel(lines, ".Mode"));
    EXPECT_FALSE(HasLabel(lines, "bDetectResolution"));
    EXPECT_FALSE(HasLabel(lines, "pEPubFilterInfo"));
    EXPECT_FALSE(HasLabel(lines, "ulLevel"));
}

TEST(KdOrbelLogger, FilterRecordsImageAndCalibrationBlocks) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    LogOn log(t);
    tagFILTERSIMPLEXINFO simplex{};
    simplex.ulSize = kFilterSimplexInfoSize;
    simplex.imageIn.lXpos = 7;
    simplex.normal.ulSize = kNormalFilterInfoSize;
    simplex.normal.bDetectResolution = 1;
    tagDETECT4POINTSINFO corners{};
    corners.ulSize = kDetect4PointsInfoMinSize;
    corners.LeftTop = {11, 12};
    simplex.special.ulSize = kSpecialFilterInfoSize;
    simplex.special.pDetect4PointsInfo = &corners;
    simplex.special.bCardScan = 1;
    KdOrbelLogger::writeFILTERSIMPLEXINFO(&simplex);
    tagADJUSTINFO adjust{};
    adjust.bDuplex = 1;
    adjust.ScanInfo = 0xFEFF;
    adjust.BackAdjustInfo.RedLED = 300;
    KdOrbelLogger::writeADJUSTINFO(&adjust);
    const auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "<FILTERSIMPLEXINFO>");
    EXPECT_TRUE(Has(lines, "    .lXpos                  7"));
    EXPECT_TRUE(Has(lines, "<NORMALFILTERINFO>"));
    EXPECT_TRUE(Has(lines, "\t.bDetectResolution                 1"));
    EXPECT_TRUE(Has(lines, "<SPECIALFILTER>"));
    EXPECT_TRUE(Has(lines, "\t    .LeftTop                          11        12"));
    EXPECT_FALSE(HasLabel(lines, "lTopTrim")); // a record of the shortest size
    EXPECT_TRUE(Has(lines, "\t.bCardScan                         1"));
    EXPECT_TRUE(Has(lines, "</FILTERSIMPLEXINFO>"));
    EXPECT_TRUE(Has(lines, "<ADJUSTINFO>"));
    EXPECT_TRUE(Has(lines, "    .bDuplex                             1"));
    EXPECT_TRUE(Has(lines, "    .BackAdjustInfo.RedLED             300"));
    EXPECT_TRUE(Has(lines, "    .ScanInfo\t                      65279"));
    EXPECT_EQ(lines.back(), "</ADJUSTINFO>");
}

TEST(KdOrbelLogger, DumpFirstLine) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    LogOn log(t);
    CImg colour;
    ASSERT_TRUE(colour.createImg(2, 2, 8, 3, 0));
    for (uint32_t i = 0; i < colour.info().tImageSize; ++i) colour.info().lpImage[i] = uint8_t(i);
    KdOrbelLogger::dumpFirstLine(TvkLogger::Instance, colour);
    CImg planar;
    ASSERT_TRUE(planar.createImg(2, 1, 8, 3, 1));
    for (uint32_t i = 0; i < planar.info().tImageSize; ++i)
        planar.info().lpImage[i] = uint8_t(10 + i);
    KdOrbelLogger::dumpFirstLine(TvkLogger::Instance, planar);
    CImg deep;
    ASSERT_TRUE(deep.createImg(1, 1, 16, 1, 0));
    const uint16_t word = 4095;
    std::memcpy(deep.info().lpImage, &word, 2);
    KdOrbelLogger::dumpFirstLine(TvkLogger::Instance, deep);
    CImg binary;
    ASSERT_TRUE(binary.createImg(64, 1, 1, 1, 0));
    KdOrbelLogger::dumpFirstLine(TvkLogger::Instance, binary);
    const std::vector<std::string> expect = {"0",  "1",  "2",  "3",  "4",  "5",   "10",
                                             "11", "12", "13", "14", "15", "4095"};
    EXPECT_EQ(log.lines(), expect);
}

TEST(KdOrbelLogger, WriteTvkNumbersPastExistingFilesAndLinks) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    LogOn log(t);
    WriteFile(t.path("page000.tvk"), "old");
    WriteFile(t.path("page001.tvk"), "old");
    const std::string target = t.path("elsewhere");
    ASSERT_EQ(symlink(target.c_str(), t.path("page002.tvk").c_str()), 0);
    const CImg img = GrayImage(4, 2, 1);
    const std::string prefix = t.path("page");
    KdOrbelLogger::writeTvk(img, prefix.c_str());
    EXPECT_EQ(ReadFile(t.path("page000.tvk")), "old");
    EXPECT_FALSE(Exists(target));
    CImgFile back;
    ASSERT_TRUE(back.loadTvk(t.path("page003.tvk").c_str()));
    EXPECT_EQ(back.info().tImageSize, 8u);
    EXPECT_EQ(std::memcmp(back.info().lpImage, img.info().lpImage, 8), 0);
}
