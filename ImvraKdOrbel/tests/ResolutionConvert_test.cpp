#include "ResolutionConvert.h"

#include "StageImages.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using namespace Tvk::Imvra;
using kdtest::GrayCImg;
using kdtest::RowBytes;
using kdtest::TestImage;

namespace {

std::vector<uint32_t> Spread(long out, long in) {
    std::vector<uint32_t> t;
    makeSpreadCountTable(t, out, in);
    return t;
}

std::vector<uint32_t> Head(const std::vector<uint32_t>& t, size_t n) {
    return std::vector<uint32_t>(t.begin(), t.begin() + static_cast<long>(n));
}

TEST(SpreadCountTable, StepsOfTheRatios) {
    EXPECT_EQ(Head(Spread(200, 300), 6), (std::vector<uint32_t>{1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(Head(Spread(300, 200), 4), (std::vector<uint32_t>{1, 2, 1, 2}));
    const auto third = Spread(100, 300);
    EXPECT_EQ(Head(third, 6), (std::vector<uint32_t>{0, 0, 1, 0, 0, 1}));
    // The last source is raised by one, which makes the counts add up to
    // the output size.
    EXPECT_EQ(std::accumulate(third.begin(), third.end(), 0u), 100u);
    EXPECT_EQ(Spread(7, 7), std::vector<uint32_t>(7, 1));
}

tagRESOLUTIONCONVERTINFO Record(int32_t outW, int32_t outH, int32_t outXRes, int32_t outYRes,
                                int32_t inW, int32_t inH, int32_t inXRes, int32_t inYRes) {
    return {kResolutionConvertInfoSize, outW, outH, outXRes, outYRes, inW, inH, inXRes, inYRes};
}

// Runs a band-by-band stage over the page cut into bands of the given
// heights (the last band takes the rest); returns the joined output.
template <class Stage>
CImg RunBands(const CImg& page, tagRESOLUTIONCONVERTINFO rec, const std::vector<int32_t>& cuts,
              int mode = IPMODE_BAND) {
    CIPController<Stage> c;
    c.setStage(new Stage, mode);
    CImg joined;
    const Tvk::tagIMAGEINFO& p = page.info();
    int32_t y = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const int32_t h = i < cuts.size() ? cuts[i] : p.lHeight - y;
        CImg band;
        if (h > 0) {
            EXPECT_TRUE(band.createImg(p.lWidth, h, p.lSync, p.lBps, p.lSpp, p.ulRGBOrder,
                                       p.lXResolution, p.lYResolution));
            std::memcpy(band.info().lpImage, p.lpImage + static_cast<size_t>(y) * p.lSync,
                        band.info().tImageSize);
        }
        y += h;
        const int rc = i < cuts.size() ? c.IPMiddle(band, &rec) : c.IPLast(band, &rec);
        EXPECT_EQ(rc, RTN_OK) << "band " << i;
        if (!band.isNull()) {
            // No band passes on at the input resolution.
            EXPECT_EQ(band.info().lXResolution, rec.lOutXResolution) << "band " << i;
            EXPECT_EQ(band.info().lYResolution, rec.lOutYResolution) << "band " << i;
            EXPECT_TRUE(joined.appendImg(band));
        }
    }
    return joined;
}

// The integer mean of the 300-to-200 groups {0}, {1, 2}, {3}, {4, 5}.
TEST(CResolutionConvertNormal, ThreeHundredToTwoHundredAveragesGroups) {
    std::vector<uint8_t> px(36);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7 % 251);
    CImg page = GrayCImg(6, 6, px);
    const auto rec = Record(4, 4, 200, 200, 6, 6, 300, 300);
    CImg out = RunBands<CResolutionConvertNormal>(page, rec, {});
    ASSERT_EQ(out.info().lWidth, 4);
    ASSERT_EQ(out.info().lHeight, 4);
    const std::vector<std::vector<int>> groups = {{0}, {1, 2}, {3}, {4, 5}};
    for (int oy = 0; oy < 4; ++oy)
        for (int ox = 0; ox < 4; ++ox) {
            int sum = 0, n = 0;
            for (int y : groups[oy])
                for (int x : groups[ox]) sum += px[y * 6 + x], ++n;
            EXPECT_EQ(RowBytes(out, oy, 4)[ox], sum / n) << ox << "," << oy;
        }
}

// Groups of sources per output of a reducing spread table: merged sources
// with the source that closes them.
std::vector<std::vector<int>> Groups(long out, long in) {
    const auto t = Spread(out, in);
    std::vector<std::vector<int>> groups;
    std::vector<int> pending;
    for (long i = 0; i < in; ++i) {
        pending.push_back(static_cast<int>(i));
        if (t[i] == 0) continue;
        groups.push_back(pending);
        pending.clear();
    }
    return groups;
}

// Every output is the integer mean of its group of sources, also where the
// counts are large (sums past 32 bits, counts past the quotient table).
TEST(CResolutionConvertNormal, ReductionIsTheMeanOfEachGroup) {
    struct Case {
        int32_t in, out;
    };
    for (const Case c : {Case{300, 100}, Case{1000, 7}, Case{1100, 1}, Case{4200, 1}}) {
        SCOPED_TRACE(testing::Message() << c.in << " to " << c.out);
        TestImage src = kdtest::NoisePage(c.in, c.in, 8, 1, 0, 4);
        CImg page = kdtest::ToCImg(src);
        const CImg out = RunBands<CResolutionConvertNormal>(
            page, Record(c.out, c.out, 100, 100, c.in, c.in, 300, 300), {c.in / 3});
        ASSERT_EQ(out.info().lHeight, c.out);
        const auto groups = Groups(c.out, c.in);
        ASSERT_EQ(groups.size(), static_cast<size_t>(c.out));
        for (int oy = 0; oy < c.out; ++oy)
            for (int ox = 0; ox < c.out; ++ox) {
                uint64_t sum = 0, n = 0;
                for (int y : groups[oy])
                    for (int x : groups[ox]) sum += src.get(x, y), ++n;
                ASSERT_EQ(RowBytes(out, oy, c.out)[ox], sum / n) << ox << "," << oy;
            }
    }
}

TEST(CResolutionConvertNormal, ThreeToTwoFilterOnLinesOfKeptHeight) {
    // 300 to 200 across, height kept: each (90, 60, 30) gives (80, 40).
    std::vector<uint8_t> px;
    for (int i = 0; i < 100; ++i) px.insert(px.end(), {90, 60, 30});
    CImg page = GrayCImg(300, 1, px, 300, 300);
    CImg out =
        RunBands<CResolutionConvertNormal>(page, Record(200, 1, 200, 300, 300, 1, 300, 300), {});
    ASSERT_EQ(out.info().lWidth, 200);
    const auto row = RowBytes(out, 0, 200);
    for (int i = 0; i < 196; i += 2) {
        EXPECT_EQ(row[i], 80) << i;
        EXPECT_EQ(row[i + 1], 40) << i;
    }
}

TEST(CResolutionConvertNormal, TwoHundredToThreeHundredReplicatesOnBands) {
    CImg page = GrayCImg(4, 2, {10, 20, 30, 40, 10, 20, 30, 40}, 200, 200);
    CImg out =
        RunBands<CResolutionConvertNormal>(page, Record(6, 3, 300, 300, 4, 2, 200, 200), {1});
    ASSERT_EQ(out.info().lHeight, 3);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(RowBytes(out, y, 6), (std::vector<uint8_t>{10, 20, 20, 30, 40, 40}));
}

TEST(CResolutionConvertNormal, AnyBandSplitEqualsTheWholePage) {
    struct Ratio {
        int32_t outW, outH, outRes, inRes;
        int32_t spp;
    };
    const Ratio ratios[] = {{200, 200, 200, 300, 1},
                            {200, 200, 200, 300, 3},
                            {100, 100, 100, 300, 1},
                            {450, 450, 450, 300, 3},
                            {380, 380, 380, 300, 1}};
    const std::vector<std::vector<int32_t>> splits = {{1, 1, 1, 7}, {13, 2, 50, 1, 99}, {150}};
    for (const auto& r : ratios) {
        TestImage src = kdtest::NoisePage(300, 300, 8, r.spp, 0, 9);
        src.info()->lXResolution = src.info()->lYResolution = r.inRes;
        CImg page = kdtest::ToCImg(src);
        const auto rec = Record(r.outW, r.outH, r.outRes, r.outRes, 300, 300, r.inRes, r.inRes);
        // The whole page as one first band (a whole image of 1.4 times the
        // height or more would take the bicubic path).
        const CImg whole = RunBands<CResolutionConvertNormal>(page, rec, {300});
        ASSERT_EQ(whole.info().lHeight, r.outH);
        ASSERT_EQ(whole.info().lWidth, r.outW);
        for (const auto& cuts : splits) {
            SCOPED_TRACE(testing::Message() << r.outW << " spp " << r.spp << " cuts " << cuts[0]);
            const CImg split = RunBands<CResolutionConvertNormal>(page, rec, cuts);
            EXPECT_TRUE(kdtest::FromCImg(split).samePixels(kdtest::FromCImg(whole)));
        }
    }
}

TEST(CResolutionConvertNormal, BandAtTheOutputResolutionPassesUnchanged) {
    CImg page = GrayCImg(4, 2, {1, 2, 3, 4, 5, 6, 7, 8}, 200, 200);
    const uint8_t* before = page.info().lpImage;
    auto rec = Record(6, 3, 200, 200, 4, 2, 200, 200);
    CResolutionConvertNormal stage;
    EXPECT_EQ(stage.IPFirstInterface(page, &rec), RTN_OK);
    EXPECT_EQ(page.info().lpImage, before);
    EXPECT_EQ(page.info().lWidth, 4);
}

TEST(CResolutionConvertNormal, RefusesOneBitPagesAndBadRecords) {
    CImg bits;
    ASSERT_TRUE(bits.createImg(16, 4, 1, 1, 0, 300, 300));
    auto rec = Record(8, 2, 150, 150, 16, 4, 300, 300);
    CResolutionConvertNormal stage;
    EXPECT_EQ(stage.setInfo(bits, &rec), RTN_OK);
    EXPECT_EQ(stage.IP(bits), RTN_PAR);
    EXPECT_EQ(stage.IPFirst(bits), RTN_PAR);

    CImg gray = GrayCImg(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(stage.setInfo(gray, nullptr), RTN_PAR);
    rec.ulSize = 35;
    EXPECT_EQ(stage.setInfo(gray, &rec), RTN_PAR);
    rec = Record(0, 2, 150, 150, 4, 2, 300, 300);
    EXPECT_EQ(stage.setInfo(gray, &rec), RTN_PAR);
    // Sizes beyond any page: refused, no crash.
    rec = Record(2000000000, 2, 150, 150, 4, 2, 300, 300);
    EXPECT_EQ(stage.setInfo(gray, &rec), RTN_PAR);
    rec = Record(2, 2000000000, 150, 150, 4, 2000000000, 300, 300);
    EXPECT_EQ(stage.setInfo(gray, &rec), RTN_PAR);
    // An output that no image can hold (the bicubic page): 2, no crash.
    rec = Record(1000000, 1000000, 150, 150, 4, 2, 300, 300);
    ASSERT_EQ(stage.setInfo(gray, &rec), RTN_OK);
    EXPECT_EQ(stage.IP(gray), RTN_PAR);
    // A band of another width than the record's.
    rec = Record(2, 1, 150, 150, 6, 2, 300, 300);
    ASSERT_EQ(stage.setInfo(gray, &rec), RTN_OK);
    EXPECT_EQ(stage.IPFirst(gray), RTN_PAR);
}

std::vector<uint8_t> Stretch(int mode, const std::vector<uint8_t>& in, long outW) {
    std::vector<uint8_t> out(static_cast<size_t>(outW));
    CBicubic::HorizontalLine(mode, in.data(), static_cast<long>(in.size()), out.data(), outW, 1);
    return out;
}

TEST(CBicubic, TemplatesOnHandWorkedLines) {
    const std::vector<uint8_t> line = {10, 50, 40, 90, 20};
    EXPECT_EQ(CBicubic::ModeFor(10, 5), CBicubic::kTwice);
    EXPECT_EQ(Stretch(CBicubic::kTwice, line, 10),
              (std::vector<uint8_t>{10, 30, 50, 43, 40, 72, 90, 55, 20, 0}));
    EXPECT_EQ(CBicubic::ModeFor(16, 4), CBicubic::kQuadruple);
    EXPECT_EQ(
        Stretch(CBicubic::kQuadruple, {10, 50, 40, 90}, 16),
        (std::vector<uint8_t>{10, 20, 30, 40, 50, 50, 43, 37, 40, 52, 65, 77, 90, 102, 115, 127}));
    EXPECT_EQ(CBicubic::ModeFor(9, 6), CBicubic::kTwoToThree);
    EXPECT_EQ(Stretch(CBicubic::kTwoToThree, {10, 50, 40, 90, 20, 60}, 9),
              (std::vector<uint8_t>{10, 36, 46, 40, 82, 71, 20, 46, 73}));
    EXPECT_EQ(CBicubic::ModeFor(5, 4), CBicubic::kGeneral);
    EXPECT_EQ(Stretch(CBicubic::kGeneral, {10, 50, 40, 90}, 5),
              (std::vector<uint8_t>{10, 42, 40, 60, 100}));
}

TEST(CBicubic, WholePageEnlargedVertically) {
    // Rows of one value each: the columns show the vertical phases (start
    // bilinear, cubic, end bilinear, extrapolated last line).
    CImg page =
        GrayCImg(4, 4, {10, 10, 10, 10, 50, 50, 50, 50, 40, 40, 40, 40, 90, 90, 90, 90}, 150, 150);
    auto rec = Record(8, 8, 300, 300, 4, 4, 150, 150);
    CResolutionConvertNormal stage;
    ASSERT_EQ(stage.IPInterface(page, &rec), RTN_OK);
    ASSERT_EQ(page.info().lHeight, 8);
    ASSERT_EQ(page.info().lWidth, 8);
    EXPECT_EQ(page.info().lXResolution, 300);
    const uint8_t column[8] = {10, 30, 50, 43, 40, 65, 90, 115};
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(RowBytes(page, y, 8), std::vector<uint8_t>(8, column[y])) << y;
}

// The moire converter in bands gives what the lower layer gives for the
// whole page in one call.
TEST(CResolutionConvertWithReduceMoire, BandsMatchTheWholePageCall) {
    for (int32_t spp : {1, 3}) {
        TestImage src = kdtest::TextPage(600, 420, spp, 0, 3);
        CImg page = kdtest::ToCImg(src);
        const auto rec = Record(400, 280, 200, 200, 600, 420, 300, 300);

        CImg reference = kdtest::ToCImg(src);
        tagREDUCEMOIREFILTERINFO req{};
        req.ulSize = kReduceMoireInfoSize;
        req.lOutXResolution = req.lOutYResolution = 200;
        req.lOutWidth = 400;
        req.lOutHeight = 280;
        req.lInXResolution = req.lInYResolution = 300;
        req.lInWidth = 600;
        req.lInHeight = 420;
        ASSERT_EQ(ReduceMoire(nullptr, nullptr, &req), 0);
        CImg dst;
        ASSERT_TRUE(dst.createImg(400, 290, 400 * spp, 8, spp, 0, 200, 200));
        req.lCommand = kReduceMoireWholePage;
        ASSERT_EQ(ReduceMoire(dst, reference, &req), 0);
        req.lCommand = kReduceMoireRelease;
        ReduceMoire(nullptr, nullptr, &req);
        ASSERT_EQ(dst.info().lHeight, 280);
        dst.info().tImageSize = static_cast<uint32_t>(280 * dst.info().lSync);

        const CImg bands = RunBands<CResolutionConvertWithReduceMoire>(page, rec, {60, 1, 100, 200},
                                                                       IPMODE_BAND_FLUSH);
        ASSERT_EQ(bands.info().lHeight, 280) << "spp " << spp;
        EXPECT_TRUE(kdtest::FromCImg(bands).samePixels(kdtest::FromCImg(dst))) << "spp " << spp;

        CImg whole = kdtest::ToCImg(src);
        CResolutionConvertWithReduceMoire stage;
        auto r = rec;
        ASSERT_EQ(stage.IPInterface(whole, &r), RTN_OK);
        EXPECT_TRUE(kdtest::FromCImg(whole).samePixels(kdtest::FromCImg(dst))) << "spp " << spp;
    }
}

TEST(CResolutionConvertWithReduceMoire, RefusesWhatItDoesNotConvert) {
    CResolutionConvertWithReduceMoire stage;
    CImg page = GrayCImg(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(stage.setInfo(page, nullptr), RTN_PAR);
    auto rec = Record(2, 1, 150, 150, 4, 2, 300, 300);
    rec.ulSize = 40;
    EXPECT_EQ(stage.setInfo(page, &rec), RTN_PAR);
    rec.ulSize = kResolutionConvertInfoSize;
    CImg bits;
    ASSERT_TRUE(bits.createImg(16, 4, 1, 1, 0, 300, 300));
    EXPECT_EQ(stage.IPInterface(bits, &rec), RTN_UNSUPPORTED);
}

TEST(CDetectRes, MeasuresThroughTheDetector) {
    TestImage src = kdtest::TextPage(900, 900, 1, 0, 5);
    CImg page = kdtest::ToCImg(src);

    tagDETECT_RESOLUTION_INFO direct{};
    direct.ulSize = kDetectResolutionInfoSize;
    direct.ulCommand = kDetResWhole;
    direct.lWidth = direct.lHeight = 900;
    direct.lXResolution = direct.lYResolution = 300;
    direct.lStepLevel = direct.lSharpRatio = direct.lUnitLength = -1;
    direct.lMarginLeft = direct.lMarginRight = direct.lMarginTop = direct.lMarginBottom = 10;
    ASSERT_EQ(DetectResolution(page, &direct), 0);

    int32_t result = -1;
    tagDETECTRESSTAGEINFO info{kDetectResStageInfoSize, &result, 10, 10, 10, 10};
    CDetectRes stage;
    EXPECT_EQ(stage.IPInterface(page, &info), RTN_OK);
    EXPECT_EQ(result, direct.lResult);

    page.info().lYResolution = 600;
    EXPECT_EQ(stage.IPInterface(page, &info), RTN_UNSUPPORTED);
    info.ulSize = 4;
    EXPECT_EQ(stage.setInfo(page, &info), RTN_PAR);
    EXPECT_EQ(stage.IPFirst(page), RTN_UNSUPPORTED);
}

} // namespace
