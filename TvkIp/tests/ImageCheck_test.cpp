// The geometry check of image records, and every export that reads a page
// refusing records whose fields disagree with each other.
#include "CBFunc.h"
#include "CHist.h"
#include "ColorSaturation.h"
#include "CountEdge.h"
#include "DetectColor.h"
#include "DetectGray.h"
#include "DetectResolution.h"
#include "DetectTextSlant.h"
#include "ImageCheck.h"
#include "RemoveShadow.h"
#include "RotateImage.h"
#include "TestKit.h"
#include "TvkIpError.h"
#include "isblank.h"
#include "tvkcolorgap.h"
#include "waku.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using kdtest::TestImage;

TEST(TvkImageFits, TableOfRecords) {
    struct Case {
        const char* name;
        TestImage image;
        std::function<void(tagTVKIMAGEINFO&)> change;
        uint32_t accept;
        bool fits;
    };
    const auto keep = [](tagTVKIMAGEINFO&) {};
    const Case cases[] = {
        {"gray as made", TestImage::Gray(10, 4), keep, kTvkGray8, true},
        {"width past the line", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lWidth = r.lSync + 1; }, kTvkGray8, false},
        {"width exactly the line", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lWidth = r.lSync; }, kTvkGray8, true},
        {"offset past the line, read from lXpos", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lXpos = r.lSync - 9; }, kTvkGray8 | kTvkFromXpos, false},
        {"offset of an export that ignores it", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lXpos = r.lSync; }, kTvkGray8, true},
        {"negative offset", TestImage::Gray(10, 4), [](tagTVKIMAGEINFO& r) { r.lXpos = -1; },
         kTvkGray8 | kTvkFromXpos, false},
        {"1-bit width in bits", TestImage::Binary(96, 2),
         [](tagTVKIMAGEINFO& r) { r.lWidth = r.lSync * 8; }, kTvkBits1, true},
        {"1-bit one bit past", TestImage::Binary(96, 2),
         [](tagTVKIMAGEINFO& r) { r.lWidth = r.lSync * 8 + 1; }, kTvkBits1, false},
        {"1-bit offset and width in bits", TestImage::Binary(96, 2),
         [](tagTVKIMAGEINFO& r) {
             r.lWidth = r.lSync * 8 - 3;
             r.lXpos = 4;
         },
         kTvkBits1 | kTvkFromXpos, false},
        {"interleaved colour: three bytes a pixel", TestImage::Color(8, 2, 0),
         [](tagTVKIMAGEINFO& r) { r.lWidth = r.lSync / 3 + 1; }, kTvkRgb24Any, false},
        {"planes: one byte a pixel a plane", TestImage::Color(8, 2, 1),
         [](tagTVKIMAGEINFO& r) { r.lWidth = r.lSync; }, kTvkRgb24Any, true},
        {"planes, buffer of one plane", TestImage::Color(8, 3, 1),
         [](tagTVKIMAGEINFO& r) { r.tImageSize = static_cast<uint32_t>(r.lSync * r.lHeight); },
         kTvkRgb24Any, false},
        {"planes, buffer of all three", TestImage::Color(8, 3, 1),
         [](tagTVKIMAGEINFO& r) { r.tImageSize = static_cast<uint32_t>(3 * r.lSync * r.lHeight); },
         kTvkRgb24Any, true},
        {"planes where the export takes interleaved only", TestImage::Color(8, 2, 1), keep,
         kTvkRgb24, false},
        {"buffer size not stated", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.tImageSize = 0; }, kTvkGray8, true},
        {"null buffer with lines", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lpImage = nullptr; }, kTvkGray8, false},
        {"description without pixels (a detector's set-up)", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lpImage = nullptr; }, kTvkGray8 | kTvkDescription, true},
        {"description past its line", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) {
             r.lpImage = nullptr;
             r.lWidth = r.lSync + 1;
         },
         kTvkGray8 | kTvkDescription, false},
        {"null buffer without lines", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) {
             r.lpImage = nullptr;
             r.lHeight = 0;
         },
         kTvkGray8, true},
        {"zero line length", TestImage::Gray(10, 4), [](tagTVKIMAGEINFO& r) { r.lSync = 0; },
         kTvkGray8, false},
        {"depth and samples not taken", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lSpp = 2; }, kTvkAnyLayout, false},
        {"gray where the export takes colour", TestImage::Gray(10, 4), keep, kTvkRgb24Any, false},
        {"resolution past 16 bits", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lYResolution = kTvkMaxResolution + 1; }, kTvkGray8, false},
        {"negative resolution", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lXResolution = -300; }, kTvkGray8, false},
        {"lines from a negative lYpos", TestImage::Gray(10, 4),
         [](tagTVKIMAGEINFO& r) { r.lYpos = -1; }, kTvkGray8 | kTvkFromYpos, false},
        {"lines and line length past 64 bits", TestImage::Color(8, 2, 1),
         [](tagTVKIMAGEINFO& r) {
             r.lHeight = INT32_MAX;
             r.lYpos = INT32_MAX;
             r.lSync = INT32_MAX;
             r.tImageSize = 0;
         },
         kTvkRgb24Any | kTvkFromYpos, false},
    };
    for (const Case& c : cases) {
        tagTVKIMAGEINFO r = *c.image.info();
        c.change(r);
        EXPECT_EQ(TvkImageFits(&r, c.accept), c.fits) << c.name;
    }
    EXPECT_FALSE(TvkImageFits(nullptr, kTvkAnyLayout));
}

// ---------------------------------------------------------------------------
// Every export against the same inconsistent records.

// One export: the layout of the page it reads, whether it reads lines from
// lXpos, and a call that answers whether the export refused the page (its
// failure code, or the documented answer that leaves every output as given)
// without writing to its destination.
struct Export {
    const char* name;
    TestImage page;
    bool readsXpos;
    std::function<bool(tagTVKIMAGEINFO* page)> refuses;
    bool anySamples = false; // reads any sample count as its first sample
};

std::vector<Export> Exports() {
    std::vector<Export> e;
    const TestImage gray = kdtest::TextPage(64, 48);
    const TestImage bits = kdtest::BinaryTextPage(64, 48);
    const TestImage colour = kdtest::PhotoPage(48, 32, 3);
    e.push_back({"IsBlankPageEx2", bits, true, [](tagTVKIMAGEINFO* p) {
                     tagISBLANKINFO r{};
                     r.ulSize = kIsBlankInfoSize;
                     r.lCount = 777;
                     r.lArea = 888;
                     r.lThreshold = 50;
                     return IsBlankPageEx2(p, &r) == 0 && r.lCount == 777 && r.lArea == 888;
                 }});
    e.push_back({"CountEdge", gray, false, [](tagTVKIMAGEINFO* p) {
                     tagCOUNT_EDGE_INFO r{};
                     r.ulSize = kCountEdgeInfoSize;
                     r.lBinParam1 = r.lBinParam2 = 128;
                     r.lRight = r.lBottom = 1000;
                     r.lEdgeX = r.lEdgeY = -5;
                     const int32_t rc = CountEdge(p, &r);
                     return (rc == -1 || rc == 0) && r.lEdgeX == -5 && r.lEdgeY == -5;
                 }});
    const auto waku = [](int32_t* (*run)(tagTVKIMAGEINFO*, tagDETWAKUINFO*)) {
        return [run](tagTVKIMAGEINFO* p) {
            tagDETWAKUINFO r{};
            r.ulSize = kDetWakuInfoSize;
            r.lLeft = r.lWidth = -9;
            return run(p, &r) == nullptr && r.lLeft == -9 && r.lWidth == -9;
        };
    };
    e.push_back({"DetectWidth", gray, true, waku(DetectWidth)});
    e.push_back({"DetectLineWidth", gray, true, waku(DetectLineWidth)});
    e.push_back({"DetectLinesWidth", bits, true, waku(DetectLinesWidth)});
    e.push_back({"DetectWaku", gray, true, waku(DetectWaku)});
    const auto outline = [](int32_t (*run)(tagTVKIMAGEINFO*, tagDETOUTLINEINFO*)) {
        return [run](tagTVKIMAGEINFO* p) {
            tagDETOUTLINEINFO r{};
            r.ulSize = kDetOutlineInfoSize;
            const bool refused = run(p, &r) == -1 && r.pLeft == nullptr && r.bDone == 0;
            ReleaseOutline(&r);
            return refused;
        };
    };
    e.push_back({"DetectOutline", gray, true, outline(DetectOutline)});
    e.push_back({"DetectOutlineBin", bits, true, outline(DetectOutlineBin)});
    e.push_back({"DetectContourBin", bits, true, outline(DetectContourBin)});
    e.push_back({"ImageMask", gray, true, outline(ImageMask)});
    e.push_back({"DetectResolution", gray, false, [](tagTVKIMAGEINFO* p) {
                     tagDETECT_RESOLUTION_INFO r{};
                     r.ulSize = kDetectResolutionInfoSize;
                     r.ulCommand = kDetResWhole;
                     r.lWidth = 64;
                     r.lHeight = 48;
                     r.lXResolution = r.lYResolution = 300;
                     r.lUnitLength = 2;
                     r.lResult = -3;
                     return DetectResolution(p, &r) == kDetResMisuse && r.lResult == -3;
                 }});
    e.push_back({"IsGrayImage", gray, false, [](tagTVKIMAGEINFO* p) {
                     tagDETECTGRAYINFO r{};
                     r.ulSize = kDetectGrayInfoSizeFull;
                     r.lGrayCount = -7;
                     return IsGrayImage(p, &r) == kIpErrBadArgument && r.lGrayCount == -7;
                 }});
    e.push_back({"DetectColorMode (gray test)", gray, false, [](tagTVKIMAGEINFO* p) {
                     tagDETECTGRAYINFO g{};
                     g.ulSize = kDetectGrayInfoSizeFull;
                     g.lGrayCount = -7;
                     tagDETECTCOLORMODEINFO r{};
                     r.ulSize = kDetectColorModeInfoSize;
                     r.ulMode = kColorModeGray | kColorModeMono;
                     r.pGrayInfo = &g;
                     return DetectColorMode(p, &r) == kIpErrBadArgument && r.ulResult == 0 &&
                            g.lGrayCount == -7;
                 }});
    e.push_back({"IsColorImage", colour, false, [](tagTVKIMAGEINFO* p) {
                     tagDETECT_COLOR_INFO r{};
                     r.ulSize = kDetectColorInfoSizeFull;
                     r.lCommand = kDetectColorCreate;
                     r.lWidth = p->lWidth > 0 ? p->lWidth : 48;
                     r.lHeight = 32;
                     r.lXResolution = r.lYResolution = 300;
                     if (IsColorImage(nullptr, &r) != 0) return false;
                     r.lCommand = kDetectColorWholePage;
                     r.lColorLineCount = -6;
                     const bool refused = IsColorImage(p, &r) == kDetectColorErrBadArgument &&
                                          r.lColorLineCount == -6 && r.pDetectColor == nullptr;
                     r.lCommand = kDetectColorRelease;
                     IsColorImage(nullptr, &r);
                     return refused;
                 }});
    e.push_back({"GetHistogram", gray, false, [](tagTVKIMAGEINFO* p) {
                     tagHISTOGRAMINFO r{};
                     r.size = kHistogramInfoSize;
                     return GetHistogram(p, &r) == 0;
                 }});
    e.push_back({"BinalizeRectEx", gray, false, [](tagTVKIMAGEINFO* p) {
                     TestImage dst = TestImage::Binary(64, 48);
                     const TestImage before = dst;
                     tagBINFUNCINFO r{};
                     r.size = kBinFuncInfoSizeLong;
                     r.kind = kBinFixed;
                     r.firstSlice = r.nextSlice = 128;
                     const int32_t rc = BinalizeRectEx(dst.info(), p, &r);
                     ReleaseBinalizeHandle(&r);
                     return rc == -1 && dst.bytes() == before.bytes();
                 }});
    e.push_back({"ToGrayRect", gray, false, [](tagTVKIMAGEINFO* p) {
                     TestImage dst = TestImage::Gray(64, 48, 7);
                     const TestImage before = dst;
                     tagTOGRAYFUNCINFO r{};
                     r.size = kToGrayFuncInfoSize;
                     return ToGrayRect(dst.info(), p, &r) == 0 && dst.bytes() == before.bytes();
                 }});
    e.push_back({"DetectTextSlant", bits, false, [](tagTVKIMAGEINFO* p) {
                     tagDETECTTEXTSLANTINFO r{};
                     r.size = kDetectTextSlantInfoSize;
                     r.angle = 9.0;
                     return DetectTextSlant(p, &r) == 87 && r.angle == 9.0;
                 }});
    e.push_back({"RemoveShadow", gray, false, [](tagTVKIMAGEINFO* p) {
                     tagREMOVE_SHADOW_INFO r{};
                     r.ulSize = sizeof(r);
                     r.bFront = 1;
                     return RemoveShadow(p, &r) == kIpErrBadArgument;
                 }});
    e.push_back({"ColorSaturation", colour, false,
                 [](tagTVKIMAGEINFO* p) {
                     tagCOLOR_SATURATION_INFO r{};
                     r.ulSize = kColorSaturationInfoSize;
                     r.lCommand = kColorSaturationOneShot;
                     r.lReserved = r.lEdgeThreshold = -1;
                     r.ulBackgroundColor = 0x123456;
                     return ColorSaturation(p, &r) == static_cast<int32_t>(kIpErrBadParamBlock) &&
                            r.ulBackgroundColor == 0x123456;
                 },
                 true});
    e.push_back({"ColorGapCorrect", colour, false, [](tagTVKIMAGEINFO* p) {
                     TestImage dst = TestImage::Color(48, 32, 0, 9);
                     const TestImage before = dst;
                     COLORGAPINFO r{};
                     r.ulSize = kColorGapInfoSizeLightOrder;
                     r.bLastBand = 1;
                     const uint32_t rc = ColorGapCorrect(dst.info(), p, &r);
                     ReleaseColorGapHandle(&r);
                     return rc == kColorGapBadParam && dst.bytes() == before.bytes();
                 }});
    return e;
}

// The inconsistent forms of a page every export must refuse.
struct Fault {
    const char* name;
    bool needsXpos;    // only an export that reads from lXpos is affected
    bool planarColour; // applies to a line-sequential colour copy of the page
    std::function<void(tagTVKIMAGEINFO&)> apply;
    bool samples = false; // not a fault for an export that takes any sample count
};

int64_t PlaneBits(const tagTVKIMAGEINFO& r) {
    return int64_t{r.lBps} * (r.ulRGBOrder == 1 ? 1 : r.lSpp);
}

const Fault kFaults[] = {
    {"width past the line", false, false,
     [](tagTVKIMAGEINFO& r) { r.lWidth = static_cast<int32_t>(r.lSync * 8 / PlaneBits(r) + 1); }},
    {"offset past the line", true, false, [](tagTVKIMAGEINFO& r) { r.lXpos = r.lSync; }},
    {"planes with lines for one plane only", false, true,
     [](tagTVKIMAGEINFO& r) { r.tImageSize = static_cast<uint32_t>(r.lSync * r.lHeight); }},
    {"null buffer with lines", false, false, [](tagTVKIMAGEINFO& r) { r.lpImage = nullptr; }},
    {"zero line length", false, false, [](tagTVKIMAGEINFO& r) { r.lSync = 0; }},
    {"two samples a pixel", false, false, [](tagTVKIMAGEINFO& r) { r.lSpp = 2; }, true},
    {"stated buffer one byte short", false, false,
     [](tagTVKIMAGEINFO& r) { r.tImageSize = static_cast<uint32_t>(r.lSync * r.lHeight - 1); }},
    {"resolution past 16 bits", false, false,
     [](tagTVKIMAGEINFO& r) { r.lXResolution = r.lYResolution = 70000; }},
};

TEST(ImageEntryPoints, EveryExportRefusesInconsistentRecords) {
    for (const Export& ex : Exports()) {
        for (const Fault& f : kFaults) {
            if ((f.needsXpos && !ex.readsXpos) || (f.samples && ex.anySamples)) continue;
            TestImage page = f.planarColour ? kdtest::PhotoPage(48, 32, 3, 1) : ex.page;
            // Room behind the record's own lines, so an export that reads past
            // them fails this test instead of the process.
            page.bytes().resize(page.bytes().size() * 4 + 4096, 0x5A);
            tagTVKIMAGEINFO r = *page.info();
            r.lpImage = page.data();
            r.tImageSize = static_cast<uint32_t>(r.lHeight * int64_t{page.fullSync()});
            f.apply(r);
            const std::vector<uint8_t> before = page.bytes();
            EXPECT_TRUE(ex.refuses(&r)) << ex.name << ": " << f.name;
            EXPECT_EQ(page.bytes(), before) << ex.name << " wrote to the page: " << f.name;
        }
    }
}

// The same exports go ahead on the pages as made, so the refusals above are
// the records' doing.
TEST(ImageEntryPoints, EveryExportTakesTheConsistentPage) {
    for (const Export& ex : Exports()) {
        TestImage page = ex.page;
        EXPECT_FALSE(ex.refuses(page.info())) << ex.name;
    }
}

// Records whose size word does not reach the fields an export reads.
TEST(ImageEntryPoints, ShortRecordsAreRefused) {
    TestImage page = kdtest::TextPage(64, 48);
    tagDETECT_RESOLUTION_INFO res{};
    res.ulSize = kDetectResolutionInfoSizeNoMargins - 4;
    res.ulCommand = kDetResWhole;
    res.lWidth = 64;
    res.lHeight = 48;
    res.lXResolution = res.lYResolution = 300;
    res.lResult = -3;
    EXPECT_EQ(DetectResolution(page.info(), &res), kDetResMisuse);
    EXPECT_EQ(res.lResult, -3);
    res.ulSize = kDetectResolutionInfoSizeNoMargins;
    EXPECT_EQ(DetectResolution(page.info(), &res), kDetResOk);

    tagROTATEINFO rot{};
    rot.size = kRotateInfoMinSize - 4;
    rot.topLeft = {0, 0};
    rot.topRight = {32, 0};
    rot.bottomLeft = {0, 24};
    rot.bottomRight = {32, 24};
    rot.bitsPerPixel = 8;
    rot.srcWidth = 64;
    rot.paperWidth = 32;
    rot.paperHeight = 24;
    rot.last = 1;
    TestImage dst = TestImage::Gray(32, 24, 7);
    const TestImage before = dst;
    EXPECT_EQ(RotateImagePage(page.info(), dst.info(), &rot), kIpErrBadArgument);
    EXPECT_EQ(RotateImage(page.info(), dst.info(), &rot), kIpErrBadArgument);
    EXPECT_EQ(RotateImagePageAndDetectTextSlant(page.info(), dst.info(), &rot), kIpErrBadArgument);
    EXPECT_EQ(dst.bytes(), before.bytes());

    // The gray test inside the colour-mode decision checks its record as
    // IsGrayImage does: a 16-byte record is refused, not read past its end.
    tagDETECTGRAYINFO gray{};
    gray.ulSize = 16;
    gray.lGrayCount = -7;
    tagDETECTCOLORMODEINFO mode{};
    mode.ulSize = kDetectColorModeInfoSize;
    mode.ulMode = kColorModeGray | kColorModeMono;
    mode.pGrayInfo = &gray;
    EXPECT_EQ(DetectColorMode(page.info(), &mode), kIpErrBadArgument);
    EXPECT_EQ(mode.ulResult, 0u);
    EXPECT_EQ(gray.lGrayCount, -7);
}

} // namespace
