// Moire reduction, the mask filters and the resolution conversions, checked
// against a direct model of the filtering.
#include "ReduceMoireFilter.h"
#include "ReduceMoireKernels.h"
#include "SpreadCountTable.h"
#include "PathTestHelpers.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using kdtest::TestImage;

namespace {

struct MaskSpec {
    std::vector<int32_t> coef;
    int32_t scale;
};

MaskSpec BuiltIn(int32_t source, int32_t target) {
    if (source == 600 && target == 100) return {{8, 11, 15, 18, 21, 18, 15, 11, 8}, 131};
    if (source == 600 && target == 150) return {{8, 17, 25, 28, 25, 17, 8}, 128};
    if (source == 600 && (target == 200 || target == 240)) return {{15, 30, 37, 30, 15}, 129};
    if (source == 600 && target == 300) return {{32, 64, 32}, 128};
    if (source == 300 && target == 100) return {{-4, 15, 35, 53, 59, 53, 35, 15, -4}, 64};
    if (source == 300 && target == 150) return {{-15, 22, 73, 96, 73, 22, -15}, 64};
    return {{31, 61, 73, 61, 31}, 64}; // 300 -> 200 and 240
}

std::vector<int32_t> Kept(int32_t n, int32_t m) {
    std::vector<uint32_t> t(static_cast<size_t>(m));
    MakeSpreadCountTable(t.data(), n, m);
    std::vector<int32_t> out;
    for (int32_t i = 0; i < m; ++i)
        if (t[i] != 0) out.push_back(i);
    return out;
}

uint8_t Clamp(int64_t v) {
    return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

// Straight from the definition: a line filtered at the kept pixels, then
// the kept lines filtered over the horizontally filtered lines.
TestImage Model(const TestImage& src, const std::vector<int32_t>& xs,
                const std::vector<int32_t>& ys, const MaskSpec& m) {
    const int32_t spp = src.info()->lSpp, w = src.width(), h = src.height();
    const int32_t half = static_cast<int32_t>(m.coef.size()) / 2;
    const int32_t outW = static_cast<int32_t>(xs.size());
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        rows[y].resize(static_cast<size_t>(outW) * spp);
        for (int32_t o = 0; o < outW; ++o)
            for (int32_t s = 0; s < spp; ++s) {
                int64_t sum = 0;
                for (size_t k = 0; k < m.coef.size(); ++k) {
                    const int32_t x = std::clamp<int32_t>(xs[o] - half + int32_t(k), 0, w - 1);
                    sum += int64_t{m.coef[k]} * src.line(y)[x * spp + s];
                }
                rows[y][o * spp + s] = Clamp(sum * m.scale / 16384);
            }
    }
    TestImage out(outW, static_cast<int32_t>(ys.size()), 8, spp, 0);
    for (size_t oy = 0; oy < ys.size(); ++oy)
        for (int32_t i = 0; i < outW * spp; ++i) {
            int64_t sum = 0;
            for (size_t k = 0; k < m.coef.size(); ++k) {
                const int32_t y = std::clamp<int32_t>(ys[oy] - half + int32_t(k), 0, h - 1);
                sum += int64_t{m.coef[k]} * rows[y][i];
            }
            out.line(static_cast<int32_t>(oy))[i] = Clamp(sum * m.scale / 16384);
        }
    return out;
}

tagREDUCEMOIREFILTERINFO Request(int32_t command, int32_t inRes, int32_t outRes, int32_t inW,
                                 int32_t inH) {
    tagREDUCEMOIREFILTERINFO r{};
    r.ulSize = kReduceMoireInfoSize;
    r.lCommand = command;
    r.lInXResolution = r.lInYResolution = inRes;
    r.lOutXResolution = r.lOutYResolution = outRes;
    r.lInWidth = inW;
    r.lInHeight = inH;
    r.lOutWidth = static_cast<int32_t>(int64_t{inW} * outRes / inRes);
    r.lOutHeight = static_cast<int32_t>(int64_t{inH} * outRes / inRes);
    return r;
}

// A colour halftone: dot screens at three angles over a noise floor.
TestImage Halftone(int32_t w, int32_t h, int32_t spp = 3) {
    TestImage img(w, h, 8, spp, 0, 0, 600);
    TestImage noise = kdtest::NoisePage(w, h, 8, spp, 0, 9);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int32_t s = 0; s < spp; ++s) {
                const int32_t u = (x + s * y) % 7, v = (y + s * 2 * x) % 6;
                const bool dot = u * u + v * v < 9 + 4 * s;
                img.line(y)[x * spp + s] =
                    dot ? noise.line(y)[x * spp + s] / 8 : 255 - noise.line(y)[x * spp + s] / 16;
            }
    return img;
}

// Whole-page reduction; the source is used as scratch, so a copy goes in.
TestImage ReduceWhole(const TestImage& page, tagREDUCEMOIREFILTERINFO r, int32_t* rc) {
    TestImage src = page;
    TestImage dst(r.lOutWidth, r.lOutHeight + 5, 8, page.info()->lSpp, 0);
    r.lCommand = kReduceMoireCreate;
    *rc = ReduceMoire(nullptr, nullptr, &r);
    if (*rc != 0) return dst;
    r.lCommand = kReduceMoireWholePage;
    *rc = ReduceMoire(dst.info(), src.info(), &r);
    EXPECT_EQ(r.lPendingLines, 0);
    r.lCommand = kReduceMoireRelease;
    EXPECT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    return dst;
}

TestImage ReduceBanded(const TestImage& page, tagREDUCEMOIREFILTERINFO r, int32_t bandLines) {
    TestImage src = page;
    TestImage out(r.lOutWidth, r.lOutHeight, 8, page.info()->lSpp, 0);
    TestImage dst(r.lOutWidth, r.lOutHeight + 10, 8, page.info()->lSpp, 0);
    r.lCommand = kReduceMoireCreate;
    EXPECT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    int32_t total = 0;
    for (int32_t y = 0; y < page.height(); y += bandLines) {
        const int32_t n = std::min(bandLines, page.height() - y);
        tagTVKIMAGEINFO band = src.band(y, n);
        const bool last = y + n >= page.height();
        r.lCommand = y == 0 ? kReduceMoireFirstBand
                     : last ? kReduceMoireLastBand
                            : kReduceMoireBand;
        tagTVKIMAGEINFO d = *dst.info();
        d.lHeight = dst.height();
        EXPECT_EQ(ReduceMoire(&d, &band, &r), 0);
        if (y == 0) {
            const int32_t taps = static_cast<int32_t>(BuiltIn(600, r.lOutYResolution).coef.size());
            EXPECT_EQ(r.lPendingLines, taps - 1);
        }
        for (int32_t i = 0; i < d.lHeight && total < out.height(); ++i, ++total)
            std::copy(dst.line(i), dst.line(i) + r.lOutWidth * page.info()->lSpp, out.line(total));
        EXPECT_LE(total, r.lOutHeight);
    }
    EXPECT_EQ(total, r.lOutHeight);
    r.lCommand = kReduceMoireRelease;
    EXPECT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    return out;
}

bool SameRows(const TestImage& a, const TestImage& b, int32_t rows, int32_t bytes) {
    for (int32_t y = 0; y < rows; ++y)
        if (!std::equal(a.line(y), a.line(y) + bytes, b.line(y))) return false;
    return true;
}

} // namespace

TEST(ReduceMoire, WholePageMatchesTheModel) {
    const TestImage page = Halftone(301, 203);
    for (int32_t target : {100, 150, 200, 240, 300}) {
        tagREDUCEMOIREFILTERINFO r = Request(0, 600, target, page.width(), page.height());
        int32_t rc = 0;
        TestImage got = ReduceWhole(page, r, &rc);
        ASSERT_EQ(rc, 0) << target;
        EXPECT_EQ(got.height(), r.lOutHeight); // of a taller destination
        const TestImage want = Model(page, Kept(r.lOutWidth, page.width()),
                                     Kept(r.lOutHeight, page.height()), BuiltIn(600, target));
        EXPECT_TRUE(SameRows(got, want, r.lOutHeight, r.lOutWidth * 3)) << target;
    }
}

TEST(ReduceMoire, GrayPagesAndTheSharpeningMasks) {
    const TestImage page = Halftone(157, 131, 1);
    for (int32_t target : {100, 150, 200, 240}) {
        tagREDUCEMOIREFILTERINFO r = Request(0, 300, target, page.width(), page.height());
        int32_t rc = 0;
        TestImage got = ReduceWhole(page, r, &rc);
        ASSERT_EQ(rc, 0);
        const TestImage want = Model(page, Kept(r.lOutWidth, page.width()),
                                     Kept(r.lOutHeight, page.height()), BuiltIn(300, target));
        EXPECT_TRUE(SameRows(got, want, r.lOutHeight, r.lOutWidth)) << target;
    }
}

TEST(ReduceMoire, BandsGiveTheWholePageAndTheExpectedHeight) {
    const TestImage page = Halftone(240, 317);
    for (int32_t target : {300, 200, 150}) {
        tagREDUCEMOIREFILTERINFO r = Request(0, 600, target, page.width(), page.height());
        int32_t rc = 0;
        TestImage whole = ReduceWhole(page, r, &rc);
        ASSERT_EQ(rc, 0);
        for (int32_t band : {1, 2, 5, 64, 316}) {
            TestImage banded = ReduceBanded(page, r, band);
            EXPECT_TRUE(SameRows(banded, whole, r.lOutHeight, r.lOutWidth * 3))
                << target << " band " << band;
        }
    }
}

TEST(ReduceMoire, SourceBandHoldsTheHorizontallyReducedLines) {
    const TestImage page = Halftone(90, 40);
    tagREDUCEMOIREFILTERINFO r = Request(kReduceMoireCreate, 600, 200, 90, 40);
    TestImage src = page;
    TestImage dst(r.lOutWidth, r.lOutHeight, 8, 3, 0);
    ASSERT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    r.lCommand = kReduceMoireWholePage;
    ASSERT_EQ(ReduceMoire(dst.info(), src.info(), &r), 0);
    EXPECT_EQ(dst.height(), r.lOutHeight);
    EXPECT_EQ(src.height(), 40); // the caller's record is left as it was
    // Line y of the horizontal pass lies at y x (output line length).
    const int32_t bytes = r.lOutWidth * 3;
    const MaskSpec m = BuiltIn(600, 200);
    const std::vector<int32_t> xs = Kept(r.lOutWidth, 90);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t o = 0; o < r.lOutWidth; ++o)
            for (int32_t s = 0; s < 3; ++s) {
                int64_t sum = 0;
                for (int32_t k = 0; k < 5; ++k) {
                    const int32_t x = std::clamp(xs[o] - 2 + k, 0, 89);
                    sum += int64_t{m.coef[k]} * page.line(y)[x * 3 + s];
                }
                EXPECT_EQ(src.data()[y * bytes + o * 3 + s], Clamp(sum * m.scale / 16384));
            }
    }
    r.lCommand = kReduceMoireRelease;
    ReduceMoire(nullptr, nullptr, &r);
}

TEST(ReduceMoire, UniformAreasKeepTheirValue) {
    for (int v : {0, 1, 100, 200, 254, 255}) {
        TestImage page = TestImage::Gray(60, 60, static_cast<uint8_t>(v), 300);
        tagREDUCEMOIREFILTERINFO r = Request(0, 300, 100, 60, 60);
        int32_t rc = 0;
        TestImage got = ReduceWhole(page, r, &rc);
        ASSERT_EQ(rc, 0);
        for (int32_t y = 0; y < r.lOutHeight; ++y)
            for (int32_t x = 0; x < r.lOutWidth; ++x) ASSERT_EQ(got.get(x, y), uint32_t(v)) << v;
    }
}

TEST(ReduceMoire, CallerMaskIncludingSumsBeyond32Bits) {
    const TestImage page = Halftone(50, 40);
    int16_t small[] = {3, 10, 3};
    int16_t huge[] = {-20000, 30000, 10000};
    const struct {
        int16_t* coef;
        int32_t count, scale;
    } cases[] = {{small, 3, 1024}, {huge, 3, 3000}};
    for (const auto& c : cases) {
        tagREDUCEMOIREFILTERINFO r = Request(0, 600, 300, 50, 40);
        r.lMaskMode = kReduceMoireCallerMask;
        r.pMask = c.coef;
        r.lMaskCount = c.count;
        r.lMaskScale = c.scale;
        r.lOutXResolution = r.lOutYResolution = 123; // no built-in mask needed
        int32_t rc = 0;
        TestImage got = ReduceWhole(page, r, &rc);
        ASSERT_EQ(rc, 0);
        const MaskSpec m{{c.coef[0], c.coef[1], c.coef[2]}, c.scale};
        const TestImage want = Model(page, Kept(25, 50), Kept(20, 40), m);
        EXPECT_TRUE(SameRows(got, want, 20, 75)) << c.scale;
    }
}

TEST(ReduceMoire, RequestErrors) {
    TestImage src = Halftone(20, 20);
    TestImage dst(10, 10, 8, 3, 0);
    EXPECT_EQ(ReduceMoire(dst.info(), src.info(), nullptr), kReduceMoireErrParam);
    for (uint32_t size : {kReduceMoireInfoSize - 1, kReduceMoireInfoSize + 1}) {
        tagREDUCEMOIREFILTERINFO r = Request(kReduceMoireCreate, 600, 300, 20, 20);
        r.ulSize = size;
        EXPECT_EQ(ReduceMoire(dst.info(), src.info(), &r), kReduceMoireErrBadRequest);
    }
    tagREDUCEMOIREFILTERINFO r = Request(kReduceMoireRelease, 600, 300, 20, 20);
    EXPECT_EQ(ReduceMoire(nullptr, nullptr, &r), 0); // release without a worker
    r.lCommand = 9;
    EXPECT_EQ(ReduceMoire(dst.info(), src.info(), &r), kReduceMoireErrBadRequest);

    // There is no mask for 300 -> 300, though the spread table would keep everything.
    r = Request(kReduceMoireCreate, 300, 300, 20, 20);
    EXPECT_EQ(ReduceMoire(nullptr, nullptr, &r), kReduceMoireErrParam);
    EXPECT_EQ(r.pReduceMoire, nullptr);
    // 600 -> 240 shares the 600 -> 200 mask, so it exists.
    r = Request(kReduceMoireCreate, 600, 240, 20, 20);
    EXPECT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    // A band whose geometry does not match the request frees the worker.
    TestImage wrong(11, 10, 8, 3, 0);
    r.lCommand = kReduceMoireFirstBand;
    EXPECT_EQ(ReduceMoire(wrong.info(), src.info(), &r), kReduceMoireErrParam);
    EXPECT_EQ(r.pReduceMoire, nullptr);
    // A band without a worker, and a band without images.
    EXPECT_EQ(ReduceMoire(dst.info(), src.info(), &r), kReduceMoireErrNoWorker);
    r.lCommand = kReduceMoireCreate;
    ASSERT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    r.lCommand = kReduceMoireBand;
    EXPECT_EQ(ReduceMoire(dst.info(), nullptr, &r), kReduceMoireErrBadRequest);
    EXPECT_EQ(r.pReduceMoire, nullptr);
    // A later band of another sample count is refused.
    r = Request(kReduceMoireCreate, 600, 300, 20, 20);
    ASSERT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    r.lCommand = kReduceMoireFirstBand;
    tagTVKIMAGEINFO top = src.band(0, 10);
    ASSERT_EQ(ReduceMoire(dst.info(), &top, &r), 0);
    TestImage gray(20, 10, 8, 1, 0);
    TestImage grayDst(10, 10, 8, 1, 0);
    r.lCommand = kReduceMoireBand;
    EXPECT_EQ(ReduceMoire(grayDst.info(), gray.info(), &r), kReduceMoireErrParam);
    EXPECT_EQ(r.pReduceMoire, nullptr);
    // An even caller's mask is refused.
    int16_t even[] = {1, 1};
    r = Request(kReduceMoireCreate, 600, 300, 20, 20);
    r.lMaskMode = kReduceMoireCallerMask;
    r.pMask = even;
    r.lMaskCount = 2;
    r.lMaskScale = 8192;
    EXPECT_EQ(ReduceMoire(nullptr, nullptr, &r), kReduceMoireErrParam);
}

TEST(ReduceMoire, DestinationWithoutRoomStopsTheOutput) {
    const TestImage page = Halftone(60, 60);
    tagREDUCEMOIREFILTERINFO r = Request(kReduceMoireCreate, 600, 300, 60, 60);
    TestImage src = page;
    TestImage dst(30, 30, 8, 3, 0);
    ASSERT_EQ(ReduceMoire(nullptr, nullptr, &r), 0);
    tagTVKIMAGEINFO d = *dst.info();
    d.lHeight = 7;
    r.lCommand = kReduceMoireWholePage;
    ASSERT_EQ(ReduceMoire(&d, src.info(), &r), 0);
    EXPECT_EQ(d.lHeight, 7);
    const TestImage want = Model(page, Kept(30, 60), Kept(30, 60), BuiltIn(600, 300));
    EXPECT_TRUE(SameRows(dst, want, 7, 90));
    for (int32_t i = 0; i < 90; ++i) EXPECT_EQ(dst.line(7)[i], 0); // nothing beyond the room
    r.lCommand = kReduceMoireRelease;
    ReduceMoire(nullptr, nullptr, &r);
}

TEST(MaskFilterV, FirstBandLagsByTheMaskAndTheLastFlushes) {
    const TestImage page = Halftone(33, 40, 1);
    tagREDUCEMOIREFILTERINFO r = Request(kReduceMoireCreate, 600, 150, 33, 40); // 7 taps
    ASSERT_EQ(MaskFilterV(nullptr, nullptr, &r), 0);
    TestImage src = page;
    TestImage out(33, 40, 8, 1, 0);
    std::vector<int32_t> perBand;
    int32_t total = 0;
    for (int32_t y = 0; y < 40; y += 16) {
        const int32_t n = std::min(16, 40 - y);
        tagTVKIMAGEINFO band = src.band(y, n);
        TestImage dst(33, 40, 8, 1, 0);
        r.lCommand = y == 0        ? kReduceMoireFirstBand
                     : y + n >= 40 ? kReduceMoireLastBand
                                   : kReduceMoireBand;
        ASSERT_EQ(MaskFilterV(dst.info(), &band, &r), 0);
        perBand.push_back(dst.height());
        for (int32_t i = 0; i < dst.height(); ++i, ++total)
            std::copy(dst.line(i), dst.line(i) + 33, out.line(total));
    }
    EXPECT_EQ(perBand, (std::vector<int32_t>{16 - 7 + 1, 16, 8 + 6}));
    EXPECT_EQ(r.lPendingLines, 6);
    EXPECT_EQ(r.pReduceMoire, nullptr); // the last band releases
    MaskSpec m = BuiltIn(600, 150);
    TestImage want(33, 40, 8, 1, 0);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 33; ++x) {
            int64_t sum = 0;
            for (int32_t k = 0; k < 7; ++k)
                sum += int64_t{m.coef[k]} * page.line(std::clamp(y - 3 + k, 0, 39))[x];
            want.line(y)[x] = Clamp(sum * m.scale / 16384);
        }
    EXPECT_TRUE(SameRows(out, want, 40, 33));
}

TEST(MaskFilterH, FiltersEveryPixel) {
    const TestImage page = Halftone(41, 9);
    tagREDUCEMOIREFILTERINFO r = Request(kReduceMoireCreate, 300, 150, 41, 9);
    ASSERT_EQ(MaskFilterH(nullptr, nullptr, &r), 0);
    TestImage src = page;
    TestImage dst(41, 9, 8, 3, 0);
    r.lCommand = kReduceMoireFirstBand;
    ASSERT_EQ(MaskFilterH(dst.info(), src.info(), &r), 0);
    MaskSpec m = BuiltIn(300, 150);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 41; ++x)
            for (int32_t s = 0; s < 3; ++s) {
                int64_t sum = 0;
                for (int32_t k = 0; k < 7; ++k)
                    sum += int64_t{m.coef[k]} * page.line(y)[std::clamp(x - 3 + k, 0, 40) * 3 + s];
                ASSERT_EQ(dst.line(y)[x * 3 + s], Clamp(sum * m.scale / 16384));
            }
    // A ReduceMoire worker cannot serve MaskFilterV: refused and freed.
    tagREDUCEMOIREFILTERINFO rm = Request(kReduceMoireCreate, 600, 300, 41, 9);
    ASSERT_EQ(ReduceMoire(nullptr, nullptr, &rm), 0);
    rm.lCommand = kReduceMoireFirstBand;
    EXPECT_EQ(MaskFilterV(dst.info(), src.info(), &rm), kReduceMoireErrBadRequest);
    EXPECT_EQ(rm.pReduceMoire, nullptr);
    r.lCommand = kReduceMoireLastBand;
    EXPECT_EQ(MaskFilterH(nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.pMaskFilterH, nullptr);
}

TEST(ResolutionConvert, KeepsTheMarkedPixelsAndLines) {
    const TestImage page = Halftone(60, 45);
    tagREDUCEMOIREFILTERINFO r = Request(kReduceMoireCreate, 600, 200, 60, 45);
    ASSERT_EQ(ResolutionConvertH(nullptr, nullptr, &r), 0);
    ASSERT_EQ(ResolutionConvertV(nullptr, nullptr, &r), 0);
    TestImage src = page;
    TestImage narrow(20, 45, 8, 3, 0);
    r.lCommand = kReduceMoireFirstBand;
    ASSERT_EQ(ResolutionConvertH(narrow.info(), src.info(), &r), 0);
    const std::vector<int32_t> xs = Kept(20, 60);
    for (int32_t y = 0; y < 45; ++y)
        for (int32_t o = 0; o < 20; ++o) ASSERT_EQ(narrow.get(o, y), page.get(xs[o], y));

    // Vertically in two bands; the cursor runs on across them.
    TestImage out(20, 15, 8, 3, 0);
    int32_t total = 0;
    for (int32_t y = 0; y < 45; y += 20) {
        tagTVKIMAGEINFO band = narrow.band(y, std::min(20, 45 - y));
        tagTVKIMAGEINFO d = out.band(total, 15 - total);
        r.lCommand = kReduceMoireBand;
        ASSERT_EQ(ResolutionConvertV(&d, &band, &r), 0);
        total += d.lHeight;
    }
    EXPECT_EQ(total, 15);
    const std::vector<int32_t> ys = Kept(15, 45);
    for (int32_t oy = 0; oy < 15; ++oy)
        for (int32_t o = 0; o < 20; ++o) ASSERT_EQ(out.get(o, oy), narrow.get(o, ys[oy]));
    tagTVKIMAGEINFO d = *out.info();
    d.lHeight = 40;
    r.lCommand = kReduceMoireLastBand;
    ASSERT_EQ(ResolutionConvertV(&d, nullptr, &r), 0);
    EXPECT_EQ(d.lHeight, 15); // capped at the lines written
    EXPECT_EQ(r.pResolutionConvertV, nullptr);
    r.lCommand = kReduceMoireRelease;
    EXPECT_EQ(ResolutionConvertH(nullptr, nullptr, &r), 0);
}

TEST(MoireKernels, SSE2TwinsMatchThePortableKernels) {
    std::mt19937& rng = kdtest::Rng(77);
    std::uniform_int_distribution<int> byte(0, 255);
    const MaskSpec masks[] = {
        BuiltIn(600, 100), BuiltIn(600, 150),
        BuiltIn(600, 200), BuiltIn(600, 300),
        BuiltIn(300, 100), BuiltIn(300, 150),
        BuiltIn(300, 200), {{-300, 900, 2000, 900, -300, 7, 1, 5, 3, 2, 1}, 5}};
    std::vector<pathtest::Path> vector = pathtest::Available();
    vector.erase(vector.begin()); // the vector twins only
    for (pathtest::Path path : vector) {
        pathtest::Use use(path);
        for (const MaskSpec& m : masks) {
            std::vector<int16_t> coef(m.coef.begin(), m.coef.end());
            const int32_t n = static_cast<int32_t>(coef.size());
            ASSERT_TRUE(MOIRE_KERNEL::SSE2Exact(coef.data(), n, m.scale));
            for (int32_t width : {1, 7, 15, 16, 17, 33, 250}) {
                for (int32_t spp : {1, 3}) {
                    for (int32_t offset : {0, 1, 3}) {
                        const std::string at =
                            std::string(pathtest::Name(path)) + " n=" + std::to_string(n) +
                            " width " + std::to_string(width) + " spp " + std::to_string(spp);
                        const int32_t half = n / 2;
                        std::vector<uint8_t> pad(static_cast<size_t>(width + 2 * half) * spp +
                                                 offset);
                        for (auto& b : pad) b = static_cast<uint8_t>(byte(rng));
                        const uint8_t* p = pad.data() + offset;
                        // Vertical: rows spread through the same buffer.
                        std::vector<const uint8_t*> rows(static_cast<size_t>(n));
                        for (int32_t k = 0; k < n; ++k) rows[k] = p + k * spp;
                        const int32_t bytes = width * spp;
                        std::vector<uint8_t> a(bytes + 1, 0xAA), b(bytes + 1, 0xAA);
                        MOIRE_KERNEL::IntegrityMaskLine(rows.data(), n, coef.data(), m.scale, bytes,
                                                        a.data() + 1);
                        MOIRE_KERNEL::SSE2MaskLine(rows.data(), n, coef.data(), m.scale, bytes,
                                                   b.data() + 1);
                        ASSERT_EQ(a, b) << "line " << at;
                        // Horizontal at kept pixels: every other one (the
                        // halving of 600 to 300 dpi) and one in three.
                        for (int32_t every : {2, 3}) {
                            const int32_t outW = std::max(1, width / every);
                            const std::vector<int32_t> xs = Kept(outW, width);
                            std::vector<uint8_t> tmp(static_cast<size_t>(bytes));
                            std::vector<uint8_t> ha(static_cast<size_t>(outW) * spp),
                                hb(static_cast<size_t>(outW) * spp);
                            MOIRE_KERNEL::IntegrityMaskH(p, xs.data(), outW, spp, coef.data(), n,
                                                         m.scale, ha.data());
                            MOIRE_KERNEL::SSE2MaskH(p, width, xs.data(), outW, spp, coef.data(), n,
                                                    m.scale, tmp.data(), hb.data());
                            ASSERT_EQ(ha, hb) << "kept " << at << " every " << every;
                            // Straight from the line: the padding repeats its
                            // end pixels.
                            std::vector<uint8_t> edged(pad);
                            uint8_t* e = edged.data() + offset;
                            for (int32_t i = 0; i < half; ++i)
                                for (int32_t s2 = 0; s2 < spp; ++s2) {
                                    e[i * spp + s2] = e[half * spp + s2];
                                    e[(half + width + i) * spp + s2] =
                                        e[(half + width - 1) * spp + s2];
                                }
                            MOIRE_KERNEL::IntegrityMaskH(e, xs.data(), outW, spp, coef.data(), n,
                                                         m.scale, ha.data());
                            ASSERT_TRUE(MOIRE_KERNEL::SSE2MaskHLine(
                                e + half * spp, width, xs.data(), outW, spp, coef.data(), n,
                                m.scale, tmp.data(), hb.data()));
                            ASSERT_EQ(ha, hb) << "from the line " << at << " every " << every;
                        }
                    }
                }
            }
        }
    }
}

TEST(MoireKernels, PortablePathGivesTheSameReduction) {
    const TestImage page = Halftone(123, 77);
    for (int32_t target : {300, 200, 150, 100}) {
        tagREDUCEMOIREFILTERINFO r = Request(0, 600, target, page.width(), page.height());
        int32_t rc = 0;
        TestImage portable;
        {
            pathtest::Use use(pathtest::Path::Portable);
            portable = ReduceWhole(page, r, &rc);
        }
        ASSERT_EQ(rc, 0);
        for (pathtest::Path path : pathtest::Available()) {
            pathtest::Use use(path);
            TestImage fast = ReduceWhole(page, r, &rc);
            ASSERT_EQ(rc, 0);
            EXPECT_TRUE(SameRows(portable, fast, r.lOutHeight, r.lOutWidth * 3))
                << target << ' ' << pathtest::Name(path);
            // Bands of one line.
            EXPECT_TRUE(SameRows(portable, ReduceBanded(page, r, 1), r.lOutHeight, r.lOutWidth * 3))
                << target << ' ' << pathtest::Name(path) << " lines";
        }
    }
}

// The 600 to 300 dpi colour kernel reads the line itself, kept pixels two
// apart in runs and the others alone: every kind of kept set, odd widths,
// unaligned lines, and buffers of exactly the line's and the result's size
// (so that a read or write beyond them is caught by the sanitizers).
TEST(MoireKernels, HalvingKernelMatchesThePortableOne) {
    if (!IsAVX2FeatureAvailable()) GTEST_SKIP() << "no AVX2";
    std::mt19937& rng = kdtest::Rng(78);
    std::uniform_int_distribution<int> byte(0, 255);
    const MaskSpec m = BuiltIn(600, 300);
    const std::vector<int16_t> coef(m.coef.begin(), m.coef.end());
    ASSERT_TRUE(MOIRE_KERNEL::IsQuarter121(coef.data(), 3, m.scale));
    for (int32_t width : {1, 2, 3, 16, 17, 18, 19, 33, 34, 35, 64, 250, 251}) {
        std::vector<std::vector<int32_t>> keptSets = {
            Kept((width + 1) / 2, width), Kept(std::max(1, width / 2), width),
            Kept(std::max(1, width / 3), width), Kept(width, width)};
        // Runs broken by a step of three and by neighbouring pixels.
        std::vector<int32_t> broken;
        for (int32_t x = 1; x < width; x += broken.size() % 11 == 10 ? 3 : 2) broken.push_back(x);
        if (width > 40) broken.insert(broken.begin() + 15, broken[14] + 1);
        if (!broken.empty()) keptSets.push_back(broken);
        for (const std::vector<int32_t>& xs : keptSets) {
            const int32_t outW = static_cast<int32_t>(xs.size());
            for (int32_t offset : {0, 1, 5}) {
                std::vector<uint8_t> buf(static_cast<size_t>(offset + width * 3));
                for (auto& b : buf) b = static_cast<uint8_t>(byte(rng));
                const uint8_t* line = buf.data() + offset;
                std::vector<uint8_t> pad(static_cast<size_t>(width + 2) * 3);
                std::copy(line, line + 3, pad.begin());
                std::copy(line, line + width * 3, pad.begin() + 3);
                std::copy(line + (width - 1) * 3, line + width * 3, pad.end() - 3);
                std::vector<uint8_t> want(static_cast<size_t>(outW) * 3);
                MOIRE_KERNEL::IntegrityMaskH(pad.data(), xs.data(), outW, 3, coef.data(), 3,
                                             m.scale, want.data());
                std::vector<MOIRE_KERNEL::HalfRun> runs(
                    static_cast<size_t>(outW / MOIRE_KERNEL::kHalfRunMin + 1));
                const int32_t runCount =
                    MOIRE_KERNEL::FindHalfRuns(xs.data(), outW, width, runs.data());
                std::vector<uint8_t> got(want.size()), inverted(want.size());
                MOIRE_KERNEL::AVX2Quarter121H3(line, width, xs.data(), outW, runs.data(), runCount,
                                               got.data(), inverted.data());
                const std::string at = "width " + std::to_string(width) + " kept " +
                                       std::to_string(outW) + " offset " + std::to_string(offset);
                ASSERT_EQ(got, want) << at;
                for (uint8_t& b : inverted) b = static_cast<uint8_t>(~b);
                ASSERT_EQ(inverted, want) << at;
            }
        }
    }
    // The vertical kernel over complemented lines.
    for (int32_t bytes : {1, 31, 32, 33, 95, 250}) {
        std::vector<std::vector<uint8_t>> lines(3,
                                                std::vector<uint8_t>(static_cast<size_t>(bytes)));
        std::vector<std::vector<uint8_t>> inverted = lines;
        for (size_t k = 0; k < 3; ++k)
            for (int32_t i = 0; i < bytes; ++i) {
                lines[k][i] = static_cast<uint8_t>(byte(rng));
                inverted[k][i] = static_cast<uint8_t>(~lines[k][i]);
            }
        const uint8_t* plain[3] = {lines[0].data(), lines[1].data(), lines[2].data()};
        const uint8_t* flipped[3] = {inverted[0].data(), inverted[1].data(), inverted[2].data()};
        std::vector<uint8_t> want(static_cast<size_t>(bytes)), got(want.size());
        MOIRE_KERNEL::IntegrityMaskLine(plain, 3, coef.data(), m.scale, bytes, want.data());
        MOIRE_KERNEL::AVX2InvertedQuarter121(flipped, bytes, got.data());
        ASSERT_EQ(got, want) << bytes;
    }
}
