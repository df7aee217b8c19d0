#include "Rotate90x.h"

#include "GeometryHelpers.h"
#include "Shading.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using geomtest::Bytes;
using geomtest::Px;
using geomtest::ToCImg;

namespace {

struct Layout {
    const char* name;
    int32_t bps, spp;
    uint32_t order;
};
const Layout kLayouts[] = {
    {"binary", 1, 1, 1}, {"gray", 8, 1, 1}, {"interleaved", 8, 3, 0}, {"planar", 8, 3, 1}};

CImg Noise(const Layout& l, int32_t w = 13, int32_t h = 7) {
    kdtest::TestImage t = kdtest::NoisePage(w, h, l.bps, l.spp, l.order, 7);
    t.info()->lXResolution = 300;
    t.info()->lYResolution = 200;
    return ToCImg(t);
}

int Turn(CImg& img, int32_t degrees) {
    CRotate90x stage;
    tagROTATE90XINFO info{kRotate90xInfoSize, degrees};
    return stage.IPInterface(img, &info);
}

// Where target pixel (x, y) of a turn of a W x H source comes from.
struct Src {
    int32_t x, y;
};
Src Origin(int32_t degrees, int32_t x, int32_t y, int32_t w, int32_t h) {
    switch (degrees) {
    case 90: return {y, h - 1 - x};
    case 270: return {w - 1 - y, x};
    case 180: return {w - 1 - x, h - 1 - y};
    default: return {x, h - 1 - y}; // the flip
    }
}

TEST(Rotate90x, TurnsMatchThePixelRuleInEveryLayout) {
    for (const Layout& l : kLayouts) {
        for (int32_t deg : {90, 180, 270, -180}) {
            const CImg src = Noise(l);
            CImg img = src;
            const int r = Turn(img, deg);
            const bool quarter = deg == 90 || deg == 270;
            if ((quarter && l.spp == 3 && l.order == 1) || (deg == -180 && l.bps == 1) ||
                (deg == -180 && l.spp == 3 && l.order == 1)) {
                EXPECT_EQ(r, RTN_UNSUPPORTED) << l.name << deg;
                EXPECT_EQ(Bytes(img), Bytes(src)) << l.name << deg;
                continue;
            }
            ASSERT_EQ(r, RTN_OK) << l.name << deg;
            const tagIMAGEINFO& t = img.info();
            const int32_t w = src.info().lWidth, h = src.info().lHeight;
            EXPECT_EQ(t.lWidth, quarter ? h : w) << l.name << deg;
            EXPECT_EQ(t.lHeight, quarter ? w : h) << l.name << deg; // exact, also 1-bit
            EXPECT_EQ(t.lXResolution, 300);
            EXPECT_EQ(t.lYResolution, 200);
            if (quarter) {
                EXPECT_EQ(t.lSync, CImg::calcMinSync(h, l.bps, l.spp, l.order)) << l.name;
            }
            for (int32_t y = 0; y < t.lHeight; ++y)
                for (int32_t x = 0; x < t.lWidth; ++x) {
                    const Src o = Origin(deg, x, y, w, h);
                    ASSERT_EQ(Px(img, x, y), Px(src, o.x, o.y))
                        << l.name << " " << deg << " at " << x << "," << y;
                }
        }
    }
}

TEST(Rotate90x, FourQuarterTurnsGiveThePageBack) {
    for (const Layout& l : kLayouts) {
        if (l.spp == 3 && l.order == 1) continue;
        for (int32_t deg : {90, 270}) {
            const CImg src = Noise(l, 21, 10);
            CImg img = src;
            for (int k = 0; k < 4; ++k) ASSERT_EQ(Turn(img, deg), RTN_OK) << l.name;
            ASSERT_EQ(img.info().lWidth, 21);
            ASSERT_EQ(img.info().lHeight, 10);
            for (int32_t y = 0; y < 10; ++y)
                for (int32_t x = 0; x < 21; ++x) ASSERT_EQ(Px(img, x, y), Px(src, x, y)) << l.name;
        }
    }
}

TEST(Rotate90x, AnglesReduceWithTheirSign) {
    const Layout gray = kLayouts[1];
    struct Case {
        int32_t degrees;
        int result;
        int32_t width; // after the call (source 13 x 7)
    } cases[] = {{450, RTN_OK, 7}, {-450, RTN_UNSUPPORTED, 13}, {720, RTN_OK, 13},
                 {-90, RTN_UNSUPPORTED, 13}, {-270, RTN_UNSUPPORTED, 13}, {-540, RTN_OK, 13}};
    for (const Case& c : cases) {
        const CImg src = Noise(gray);
        CImg img = src;
        EXPECT_EQ(Turn(img, c.degrees), c.result) << c.degrees;
        EXPECT_EQ(img.info().lWidth, c.width) << c.degrees;
        if (c.degrees == 720 || c.result != RTN_OK) {
            EXPECT_EQ(Bytes(img), Bytes(src)) << c.degrees;
        }
    }
    CRotate90x stage;
    CImg img = Noise(gray);
    tagROTATE90XINFO bad{kRotate90xInfoSize, 45};
    EXPECT_EQ(stage.setInfo(img, &bad), RTN_PAR);
    bad = {kRotate90xInfoSize + 4, 90};
    EXPECT_EQ(stage.setInfo(img, &bad), RTN_PAR);
    EXPECT_EQ(stage.setInfo(img, nullptr), RTN_PAR);
    EXPECT_FALSE(CRotate90x::rotate(img, 45));
    EXPECT_TRUE(CRotate90x::rotate(img, 90));
    EXPECT_EQ(img.info().lWidth, 7);
}

TEST(Rotate90x, BinaryWidth13TurnsToHeight13) {
    CImg img = Noise(kLayouts[0], 13, 20);
    ASSERT_EQ(Turn(img, 90), RTN_OK);
    EXPECT_EQ(img.info().lHeight, 13);
    EXPECT_EQ(img.info().lSync, 3); // ceil(20 / 8)
    EXPECT_EQ(img.info().tImageSize, 39u);
}

TEST(Rotate90x, RefusedLayoutsLeaveThePage) {
    CImg wide;
    ASSERT_TRUE(wide.createImg(5, 3, 16, 1, 1, 300, 300));
    const std::vector<uint8_t> before = Bytes(wide);
    EXPECT_EQ(Turn(wide, 90), RTN_UNSUPPORTED);
    EXPECT_EQ(Bytes(wide), before);
    CImg odd = Noise(kLayouts[2]);
    odd.info().ulRGBOrder = 2;
    EXPECT_EQ(Turn(odd, 90), RTN_PAR);
    EXPECT_EQ(Turn(odd, -180), RTN_PAR);
}

TEST(ColorToGray, WeighsTheThreeSamples) {
    CImg img;
    ASSERT_TRUE(img.createImg(3, 1, 8, 3, 0, 300, 200));
    const uint8_t px[9] = {255, 255, 255, 10, 20, 30, 0, 0, 0};
    std::memcpy(img.info().lpImage, px, 9);
    CColorToGray stage;
    ASSERT_EQ(stage.IPInterface(img, nullptr), RTN_OK);
    EXPECT_EQ(img.info().lSpp, 1);
    EXPECT_EQ(img.info().lYResolution, 200);
    EXPECT_EQ(img.info().lpImage[0], 255);
    EXPECT_EQ(img.info().lpImage[1], 18);
    EXPECT_EQ(img.info().lpImage[2], 0);

    CImg planar = Noise(kLayouts[3]);
    const std::vector<uint8_t> before = Bytes(planar);
    EXPECT_EQ(stage.IPInterface(planar, nullptr), RTN_UNSUPPORTED);
    EXPECT_EQ(Bytes(planar), before);
    CImg binary = Noise(kLayouts[0]);
    EXPECT_EQ(stage.IPInterface(binary, nullptr), RTN_PAR);
}

// ---------------------------------------------------------------------------
// Side-by-side join

CImg Band(int32_t w, int32_t h, uint8_t base, int32_t spp = 1) {
    CImg img;
    EXPECT_TRUE(img.createImg(w, h, 8, spp, spp == 3 ? 0 : 1, 300, 300));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w * spp; ++x)
            img.info().lpImage[y * img.info().lSync + x] = static_cast<uint8_t>(base + y);
    return img;
}

struct Join {
    CPutImageOnSide stage;
    CImg back;
    tagPUTIMAGEONSIDEINFO info{};
    Join(KD730::CShading* bgLeft = nullptr, KD730::CShading* bgRight = nullptr) {
        info.ulSize = kPutImageOnSideInfoSize;
        info.ulAlign = 1;
        info.pOther = &back;
        info.bFront = 1;
        info.pLeftBackground = bgLeft;
        info.pRightBackground = bgRight;
    }
    int first(CImg& f, CImg b) {
        back = std::move(b);
        return stage.IPFirstInterface(f, &info);
    }
    int middle(CImg& f, CImg b) {
        back = std::move(b);
        return stage.IPMiddleInterface(f, &info);
    }
    int last(CImg& f, CImg b) {
        back = std::move(b);
        return stage.IPLastInterface(f, &info);
    }
};

TEST(PutImageOnSide, MiddleRulesHoldTheLongerSide) {
    KD730::CShading platen;
    geomtest::SetPlaten(platen, 200, 200, 200, false);
    Join j(&platen, &platen);
    CImg front = Band(4, 100, 0);
    ASSERT_EQ(j.first(front, Band(3, 80, 100)), RTN_OK);
    EXPECT_EQ(front.info().lWidth, 7);
    EXPECT_EQ(front.info().lHeight, 80);
    EXPECT_EQ(front.info().lSync, 7);
    EXPECT_EQ(j.stage.held(0).info().lHeight, 20);
    EXPECT_TRUE(j.stage.held(1).isNull());
    EXPECT_EQ(Px(front, 0, 5), 5u);
    EXPECT_EQ(Px(front, 4, 5), 105u);

    CImg none;
    ASSERT_EQ(j.last(none, CImg()), RTN_OK);
    ASSERT_FALSE(none.isNull());
    EXPECT_EQ(none.info().lHeight, 20);
    EXPECT_EQ(Px(none, 0, 0), 80u);
    EXPECT_EQ(Px(none, 3, 19), 99u);
    EXPECT_EQ(Px(none, 4, 0), 200u); // background
    EXPECT_TRUE(j.stage.held(0).isNull());
}

TEST(PutImageOnSide, AnyBandSplitEqualsOneWholeCall) {
    const CImg f = Band(5, 60, 0, 3), b = Band(4, 45, 70, 3);
    Join whole;
    CImg wf = f;
    whole.back = b;
    ASSERT_EQ(whole.stage.IPInterface(wf, &whole.info), RTN_OK);
    ASSERT_EQ(wf.info().lHeight, 60);

    // Bands of the two sides of different lengths, in different splits.
    const std::vector<std::pair<std::vector<int>, std::vector<int>>> splits = {
        {{10, 20, 30}, {30, 0, 15}}, {{0, 60, 0}, {15, 15, 15}}, {{1, 1, 58}, {44, 1, 0}}};
    for (const auto& [fs, bs] : splits) {
        Join j;
        std::vector<CImg> out;
        int fy = 0, by = 0;
        for (size_t k = 0; k < fs.size(); ++k) {
            auto cut = [](const CImg& img, int y0, int n) {
                CImg band;
                if (n == 0) return band;
                EXPECT_TRUE(band.createImg(img.info().lWidth, n, img.info().lSync, 8, 3, 0, 300,
                                           300));
                std::memcpy(band.info().lpImage, img.info().lpImage + y0 * img.info().lSync,
                            static_cast<size_t>(n) * img.info().lSync);
                return band;
            };
            CImg fb = cut(f, fy, fs[k]);
            CImg bb = cut(b, by, bs[k]);
            fy += fs[k], by += bs[k];
            const int r = k == 0 ? j.first(fb, std::move(bb))
                                 : (k + 1 == fs.size() ? j.last(fb, std::move(bb))
                                                       : j.middle(fb, std::move(bb)));
            ASSERT_EQ(r, RTN_OK);
            if (!fb.isNull()) out.push_back(std::move(fb));
        }
        CImg joined = out.at(0);
        for (size_t k = 1; k < out.size(); ++k) ASSERT_TRUE(joined.appendImg(out[k]));
        EXPECT_EQ(Bytes(joined), Bytes(wf));
    }
}

TEST(PutImageOnSide, ASideWithoutLinesIsBackground) {
    KD730::CShading platen;
    geomtest::SetPlaten(platen, 10, 20, 30);
    for (uint8_t frontGiven : {0, 1}) {
        Join j(&platen, &platen);
        j.info.bFront = frontGiven;
        // The back (right) never delivers a line.
        CImg given = frontGiven ? Band(3, 4, 50, 3) : CImg();
        CImg other = frontGiven ? CImg() : Band(3, 4, 50, 3);
        ASSERT_EQ(j.last(given, std::move(other)), RTN_OK);
        ASSERT_FALSE(given.isNull()) << int(frontGiven);
        EXPECT_EQ(given.info().lWidth, 6);
        EXPECT_EQ(given.info().lHeight, 4);
        EXPECT_EQ(Px(given, 0, 1), 0x333333u);
        EXPECT_EQ(Px(given, 5, 3), 0x1E140Au); // platen colour
    }
    Join j;
    CImg front = Band(3, 4, 50);
    ASSERT_EQ(j.first(front, CImg()), RTN_OK);
    EXPECT_TRUE(front.isNull()); // waits for the back
    EXPECT_EQ(j.stage.held(0).info().lHeight, 4);
}

TEST(PutImageOnSide, RefusesWhatItCannotJoin) {
    struct Case {
        const char* name;
        CImg front, back;
        int result;
    };
    CImg planar;
    ASSERT_TRUE(planar.createImg(3, 2, 8, 3, 1, 300, 300));
    CImg binary;
    ASSERT_TRUE(binary.createImg(8, 2, 1, 1, 1, 300, 300));
    CImg deep;
    ASSERT_TRUE(deep.createImg(3, 2, 16, 1, 1, 300, 300));
    CImg otherRes;
    ASSERT_TRUE(otherRes.createImg(3, 2, 8, 1, 1, 300, 600));
    Case cases[] = {{"planar", planar, planar, RTN_UNSUPPORTED},
                    {"binary", binary, binary, RTN_UNSUPPORTED},
                    {"16 bit", deep, deep, RTN_STATE},
                    {"resolutions", Band(3, 2, 0), otherRes, RTN_PAR},
                    {"samples", Band(3, 2, 0), Band(3, 2, 0, 3), RTN_PAR}};
    for (Case& c : cases) {
        Join j;
        const std::vector<uint8_t> before = Bytes(c.front);
        EXPECT_EQ(j.last(c.front, c.back), c.result) << c.name;
        EXPECT_EQ(Bytes(c.front), before) << c.name;
    }
    Join j;
    CImg f = Band(3, 2, 0);
    j.info.ulSize = 24;
    EXPECT_EQ(j.last(f, Band(3, 2, 0)), RTN_PAR);
}

} // namespace
