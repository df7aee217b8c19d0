// Raster images of the page-edge detectors.
#include "Img.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Set = CImg::tagIMGSET;

enum class Kind { Binary, Gray, Color, Planar };

const char* Name(Kind k) {
    switch (k) {
    case Kind::Binary:
        return "binary";
    case Kind::Gray:
        return "gray";
    case Kind::Color:
        return "color";
    default:
        return "planar";
    }
}

Set MakeSet(Kind k, int32_t w, int32_t h, uint8_t* p = nullptr, int32_t sync = 0) {
    const int32_t bpp = k == Kind::Binary ? 1 : k == Kind::Gray ? 8 : 24;
    return Set{p, w, h, sync, 300, 300, bpp, k == Kind::Planar ? 1 : 0};
}

CImgPtr Make(Kind k, int32_t w, int32_t h) {
    return CImgPtr(CImg::Create(MakeSet(k, w, h)));
}

Kind KindOf(const CImg* img) {
    if (dynamic_cast<const CColorImg2*>(img)) return Kind::Planar;
    if (dynamic_cast<const CColorImg*>(img)) return Kind::Color;
    if (dynamic_cast<const CGrayImg*>(img)) return Kind::Gray;
    return Kind::Binary;
}

// A pixel value that fits the kind, varying with the position and the seed.
uint32_t Pattern(Kind k, int32_t x, int32_t y, uint32_t seed = 0) {
    const uint32_t v = (static_cast<uint32_t>(x) * 2654435761u) ^
                       (static_cast<uint32_t>(y) * 40503u + seed) * 2246822519u;
    switch (k) {
    case Kind::Binary:
        return (v >> 13) & 1;
    case Kind::Gray:
        return (v >> 8) & 0xFF;
    default:
        return (v >> 4) & 0xFFFFFF;
    }
}

void Fill(CImg& img, Kind k, uint32_t seed = 0) {
    for (int32_t y = 0; y < img.height; ++y)
        for (int32_t x = 0; x < img.width; ++x) img.put(x, y, Pattern(k, x, y, seed));
}

std::vector<uint8_t> Bytes(const CImg& img) {
    return std::vector<uint8_t>(img.pImg, img.pImg + static_cast<size_t>(img.sync) * img.height);
}

const Kind kAllKinds[] = {Kind::Binary, Kind::Gray, Kind::Color, Kind::Planar};

} // namespace

TEST(Img, CreateChoosesKindAndLineSize) {
    const struct {
        int32_t bpp, order;
        bool made;
        Kind kind;
        int32_t sync;
    } cases[] = {
        {1, 0, true, Kind::Binary, 2},   {8, 0, true, Kind::Gray, 10},
        {8, 1, true, Kind::Gray, 10},    {24, 0, true, Kind::Color, 30},
        {24, 1, true, Kind::Planar, 30}, {24, 2, true, Kind::Color, 30},
        {16, 0, false, Kind::Gray, 0},   {32, 0, false, Kind::Gray, 0},
        {0, 0, false, Kind::Gray, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bpp << " bpp layout " << c.order);
        CImgPtr img(CImg::Create(Set{nullptr, 10, 4, 0, 200, 100, c.bpp, c.order}));
        ASSERT_EQ(img != nullptr, c.made);
        if (!img) continue;
        EXPECT_EQ(KindOf(img.get()), c.kind);
        EXPECT_EQ(img->sync, c.sync);
        EXPECT_EQ(img->bpp, c.bpp);
        EXPECT_EQ(img->xdpi, 200);
        EXPECT_EQ(img->ydpi, 100);
        EXPECT_TRUE(img->owns());
        EXPECT_EQ(img->planar(), c.kind == Kind::Planar);
        // A raster made to be filled later starts zeroed.
        for (uint8_t b : Bytes(*img)) ASSERT_EQ(b, 0);
    }
}

TEST(Img, CreateCopiesAndSetWraps) {
    std::vector<uint8_t> buf(12 * 3);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i * 7);
    const Set s{buf.data(), 10, 3, 12, 300, 300, 8, 0};

    CImgPtr copy(CImg::Create(s));
    CImgPtr view(CImg::Set(s));
    ASSERT_TRUE(copy && view);
    EXPECT_NE(copy->pImg, buf.data());
    EXPECT_EQ(view->pImg, buf.data());
    EXPECT_FALSE(view->owns());
    EXPECT_EQ(copy->get(4, 2), buf[28]);
    buf[28] = 1;
    EXPECT_EQ(view->get(4, 2), 1u);
    EXPECT_NE(copy->get(4, 2), 1u);

    // change_pImg moves only a raster that does not own its buffer.
    std::vector<uint8_t> other(buf.size(), 99);
    EXPECT_EQ(view->change_pImg(other.data()), view.get());
    EXPECT_EQ(view->get(0, 0), 99u);
    uint8_t* before = copy->pImg;
    copy->change_pImg(other.data());
    EXPECT_EQ(copy->pImg, before);
}

TEST(Img, RejectsDescriptionsItCannotAddress) {
    uint8_t buf[64] = {};
    const struct {
        const char* what;
        Set set;
        bool forCreate, forSet;
    } cases[] = {
        {"null pointer", {nullptr, 10, 2, 10, 300, 300, 8, 0}, true, false},
        {"zero line size", {buf, 10, 2, 0, 300, 300, 8, 0}, true, false},
        {"16 bits", {buf, 10, 2, 20, 300, 300, 16, 0}, false, false},
        {"negative width", {buf, -1, 2, 10, 300, 300, 8, 0}, false, false},
        {"negative height", {buf, 10, -2, 10, 300, 300, 8, 0}, false, false},
        {"negative line size", {buf, 10, 2, -10, 300, 300, 8, 0}, false, false},
        {"gray line too short", {buf, 10, 2, 9, 300, 300, 8, 0}, false, false},
        {"colour line too short", {buf, 10, 2, 29, 300, 300, 24, 0}, false, false},
        {"planar line too short", {buf, 10, 1, 27, 300, 300, 24, 1}, false, false},
        {"binary line too short", {buf, 10, 2, 1, 300, 300, 1, 0}, false, false},
        {"binary fits", {buf, 16, 2, 2, 300, 300, 1, 0}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CImgPtr(CImg::Create(c.set)) != nullptr, c.forCreate);
        EXPECT_EQ(CImgPtr(CImg::Set(c.set)) != nullptr, c.forSet);
    }
}

TEST(Img, PixelStorageOfEachKind) {
    const struct {
        Kind kind;
        int32_t x, y;
        uint32_t value;
        size_t offset[3]; // bytes of line y that hold the value, low byte first
        uint8_t expect[3];
        int n;
    } cases[] = {
        {Kind::Binary, 9, 1, 1, {1}, {0x40}, 1},
        {Kind::Binary, 0, 0, 7, {0}, {0x80}, 1}, // any non-zero value sets the bit
        {Kind::Gray, 9, 1, 0x1234, {9}, {0x34}, 1},
        {Kind::Color, 2, 1, 0x030201, {6, 7, 8}, {1, 2, 3}, 3},
        {Kind::Planar, 2, 1, 0x030201, {2, 12, 22}, {1, 2, 3}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Name(c.kind));
        CImgPtr img = Make(c.kind, 10, 2);
        ASSERT_TRUE(img);
        img->put(c.x, c.y, c.value);
        for (int i = 0; i < c.n; ++i) EXPECT_EQ(img->line(c.y)[c.offset[i]], c.expect[i]);
        const uint32_t back = c.kind == Kind::Binary ? 1u
                              : c.kind == Kind::Gray ? (c.value & 0xFF)
                                                     : c.value;
        EXPECT_EQ(img->get(c.x, c.y), back);
        img->put(c.x, c.y, 0);
        for (uint8_t b : Bytes(*img)) ASSERT_EQ(b, 0);
    }
}

TEST(Img, OutsideTheRasterReadsZeroAndIgnoresWrites) {
    const int32_t pts[][2] = {{-1, 0}, {10, 0}, {0, -1}, {0, 3}, {INT32_MIN, 0}, {0, INT32_MAX}};
    for (Kind k : kAllKinds) {
        SCOPED_TRACE(Name(k));
        CImgPtr img = Make(k, 10, 3);
        ASSERT_TRUE(img);
        std::memset(img->pImg, 0xFF, static_cast<size_t>(img->sync) * 3);
        for (const auto& p : pts) {
            EXPECT_EQ(img->get(p[0], p[1]), 0u);
            EXPECT_FALSE(img->black(p[0], p[1], 256));
        }
        std::memset(img->pImg, 0x00, static_cast<size_t>(img->sync) * 3);
        for (const auto& p : pts) img->put(p[0], p[1], 0xFFFFFF);
        for (uint8_t b : Bytes(*img)) ASSERT_EQ(b, 0);
    }
}

TEST(Img, BlackTest) {
    const struct {
        Kind kind;
        uint32_t value;
        int32_t threshold;
        bool black;
    } cases[] = {
        {Kind::Color, 0x00FF00, 128, false},  {Kind::Color, 0xFFFF00, 128, false},
        {Kind::Color, 0x007F00, 128, true},   {Kind::Color, 0xFF7FFF, 128, true},
        {Kind::Planar, 0x00FF00, 128, false}, {Kind::Planar, 0xFF7FFF, 128, true},
        {Kind::Gray, 127, 128, true},         {Kind::Gray, 128, 128, false},
        {Kind::Binary, 1, 0, true},           {Kind::Binary, 0, 255, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << Name(c.kind) << " " << std::hex << c.value);
        CImgPtr img = Make(c.kind, 4, 2);
        ASSERT_TRUE(img);
        img->put(1, 1, c.value);
        EXPECT_EQ(img->black(1, 1, c.threshold), c.black);
    }
}

TEST(Img, ConversionsByKind) {
    const struct {
        Kind kind;
        bool binary, gray, color;
        Kind colorKind;
    } cases[] = {
        {Kind::Binary, true, false, false, Kind::Binary},
        {Kind::Gray, false, true, true, Kind::Color},
        {Kind::Color, true, true, true, Kind::Color},
        {Kind::Planar, true, true, true, Kind::Color},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Name(c.kind));
        CImgPtr src = Make(c.kind, 13, 5);
        ASSERT_TRUE(src);
        Fill(*src, c.kind);
        const std::vector<uint8_t> before = Bytes(*src);
        CImgPtr b(src->binary(100)), g(src->gray()), col(src->color());
        EXPECT_EQ(Bytes(*src), before); // the source is unchanged
        ASSERT_EQ(b != nullptr, c.binary);
        ASSERT_EQ(g != nullptr, c.gray);
        ASSERT_EQ(col != nullptr, c.color);
        for (int32_t y = 0; y < 5; ++y) {
            for (int32_t x = 0; x < 13; ++x) {
                const uint32_t v = src->get(x, y);
                // Gray and binary forms of colour come from the second sample.
                const uint32_t level = c.kind == Kind::Gray ? v : (v >> 8) & 0xFF;
                if (b) {
                    const uint32_t want = c.kind == Kind::Binary ? v : (level < 100 ? 1u : 0u);
                    ASSERT_EQ(b->get(x, y), want) << x << "," << y;
                }
                if (g) {
                    ASSERT_EQ(g->get(x, y), level) << x << "," << y;
                }
                if (col) {
                    const uint32_t want = c.kind == Kind::Gray ? v * 0x010101u : v;
                    ASSERT_EQ(col->get(x, y), want) << x << "," << y;
                }
            }
        }
        if (b) {
            EXPECT_EQ(KindOf(b.get()), Kind::Binary);
        }
        if (g) {
            EXPECT_EQ(KindOf(g.get()), Kind::Gray);
        }
        if (col) {
            EXPECT_EQ(KindOf(col.get()), c.colorKind);
        }
        if (col) {
            EXPECT_EQ(col->sync, 39);
        }
    }
}

TEST(Img, PlanarRasterOfAKitPageReadsItsPlanes) {
    // A colour page whose planes differ: reading planes as triplets would mix them.
    const kdtest::TestImage page = kdtest::PhotoPage(57, 31, 3, 1);
    Set s{};
    Convert_TVKIMAGEINFOtoIMGSET(page.info(), &s);
    CImgPtr img(CImg::Set(s));
    ASSERT_TRUE(img);
    ASSERT_TRUE(img->planar());
    CImgPtr g(img->gray()), b(img->binary(128)), cut(img->cutout(5, 7, 20, 10));
    ASSERT_TRUE(g && b && cut);
    for (int32_t y = 0; y < page.height(); ++y)
        for (int32_t x = 0; x < page.width(); ++x) {
            const uint32_t v = page.get(x, y);
            ASSERT_EQ(img->get(x, y), v);
            ASSERT_EQ(g->get(x, y), (v >> 8) & 0xFF);
            ASSERT_EQ(b->get(x, y), ((v >> 8) & 0xFF) < 128 ? 1u : 0u);
        }
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(cut->get(x, y), page.get(x + 5, y + 7));
}

TEST(Img, CutoutCopiesTheRectangleAndZeroesWhatLiesOutside) {
    const struct {
        const char* what;
        int32_t x, y, w, h;
    } rects[] = {
        {"inside", 3, 2, 9, 4},
        {"whole", 0, 0, 21, 9},
        {"past right and bottom", 15, 6, 10, 8},
        {"before left and top", -4, -3, 8, 5},
        {"fully outside", 40, 40, 3, 3},
        {"empty", 2, 2, 0, 0},
        {"odd bit offsets", 5, 1, 11, 3},
    };
    for (Kind k : kAllKinds) {
        CImgPtr src = Make(k, 21, 9);
        ASSERT_TRUE(src);
        Fill(*src, k, 7);
        for (const auto& r : rects) {
            SCOPED_TRACE(::testing::Message() << Name(k) << " " << r.what);
            CImgPtr cut(src->cutout(r.x, r.y, r.w, r.h));
            ASSERT_TRUE(cut);
            EXPECT_EQ(KindOf(cut.get()), k);
            EXPECT_EQ(cut->width, r.w);
            EXPECT_EQ(cut->height, r.h);
            for (int32_t y = 0; y < r.h; ++y)
                for (int32_t x = 0; x < r.w; ++x)
                    ASSERT_EQ(cut->get(x, y), src->get(r.x + x, r.y + y)) << x << "," << y;
        }
        EXPECT_EQ(CImgPtr(src->cutout(0, 0, -1, 3)), nullptr);
        EXPECT_EQ(CImgPtr(src->cutout(0, 0, 3, -1)), nullptr);
    }
}

TEST(Img, ReviseResolutionSquaresByNearestPixel) {
    const struct {
        int32_t xdpi, ydpi, w, h;
    } cases[] = {{200, 100, 50, 50}, {100, 200, 100, 25}, {300, 300, 100, 50}, {600, 400, 66, 50}};
    for (Kind k : kAllKinds) {
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << Name(k) << " " << c.xdpi << "x" << c.ydpi);
            Set s = MakeSet(k, 100, 50);
            s.xdpi = c.xdpi;
            s.ydpi = c.ydpi;
            CImgPtr src(CImg::Create(s));
            ASSERT_TRUE(src);
            Fill(*src, k, 3);
            CImgPtr out(src->rivise_resolution());
            ASSERT_TRUE(out);
            EXPECT_EQ(out->width, c.w);
            EXPECT_EQ(out->height, c.h);
            const int32_t r = std::min(c.xdpi, c.ydpi);
            EXPECT_EQ(out->xdpi, r);
            EXPECT_EQ(out->ydpi, r);
            for (int32_t y = 0; y < out->height; ++y)
                for (int32_t x = 0; x < out->width; ++x) {
                    const int32_t sx = c.xdpi > c.ydpi ? x * c.xdpi / c.ydpi : x;
                    const int32_t sy = c.ydpi > c.xdpi ? y * c.ydpi / c.xdpi : y;
                    ASSERT_EQ(out->get(x, y), src->get(sx, sy)) << x << "," << y;
                }
        }
    }
    // Without two positive resolutions there is nothing to square to.
    Set s = MakeSet(Kind::Gray, 10, 10);
    s.xdpi = 0;
    CImgPtr zero(CImg::Create(s));
    ASSERT_TRUE(zero);
    EXPECT_EQ(CImgPtr(zero->rivise_resolution()), nullptr);
}

namespace {

// The four searches exactly as the detectors define them, one black test per pixel.
void ReferenceRect(const CImg& img, Tvk::tagRECT& r, Tvk::tagPOINT* p) {
    r = {img.width, -1, -1, img.height};
    const auto hit = [&](int32_t x, int32_t y) { return img.black(x, y, 128); };
    [&] {
        for (int32_t y = img.height - 1; y >= 0; --y)
            for (int32_t x = 0; x < img.width; ++x)
                if (hit(x, y)) return (void)(r.bottom = y, p[1] = {x, y});
    }();
    [&] {
        for (int32_t x = 0; x < img.width; ++x)
            for (int32_t y = 0; y < img.height; ++y)
                if (hit(x, y)) return (void)(r.left = x, p[0] = {x, y});
    }();
    [&] {
        for (int32_t x = img.width - 1; x >= 0; --x)
            for (int32_t y = 0; y < img.height; ++y)
                if (hit(x, y)) return (void)(r.right = x, p[2] = {x, y});
    }();
    [&] {
        for (int32_t y = 0; y < img.height; ++y)
            for (int32_t x = 0; x < img.width; ++x)
                if (hit(x, y)) return (void)(r.top = y, p[3] = {x, y});
    }();
}

} // namespace

TEST(Img, RectFindsTheDarkBoundsAndContactPoints) {
    for (Kind k : kAllKinds) {
        SCOPED_TRACE(Name(k));
        const uint32_t dark = k == Kind::Binary ? 1 : k == Kind::Gray ? 20 : 0xFF14FF;
        const uint32_t light = k == Kind::Binary ? 0 : k == Kind::Gray ? 200 : 0x00C800;
        CImgPtr img = Make(k, 30, 20);
        ASSERT_TRUE(img);
        for (int32_t y = 0; y < 20; ++y)
            for (int32_t x = 0; x < 30; ++x) img->put(x, y, light);

        // No dark pixel: empty box, points left alone.
        Tvk::tagRECT r{1, 2, 3, 4};
        Tvk::tagPOINT p[4] = {{7, 7}, {7, 7}, {7, 7}, {7, 7}};
        EXPECT_EQ(img->rect(&r, p), 0u);
        EXPECT_EQ(r.left, 30);
        EXPECT_EQ(r.bottom, -1);
        EXPECT_EQ(r.right, -1);
        EXPECT_EQ(r.top, 20);
        for (const auto& q : p) EXPECT_EQ(q.x, 7);

        // Ties: two pixels share the leftmost column, two the rightmost, two
        // the top row and two the bottom row.
        const int32_t marks[][2] = {{4, 9},  {4, 12}, {25, 6}, {25, 3},
                                    {10, 2}, {17, 2}, {8, 15}, {20, 15}};
        for (const auto& m : marks) img->put(m[0], m[1], dark);
        ASSERT_EQ(img->rect(&r, p), 0u);
        EXPECT_EQ(r.left, 4);
        EXPECT_EQ(r.bottom, 15);
        EXPECT_EQ(r.right, 25);
        EXPECT_EQ(r.top, 2);
        const int32_t want[4][2] = {{4, 9}, {8, 15}, {25, 3}, {10, 2}};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(p[i].x, want[i][0]) << i;
            EXPECT_EQ(p[i].y, want[i][1]) << i;
        }
    }
}

TEST(Img, RectAgreesWithTheColumnAndRowSearches) {
    // Sparse random dark pixels on all kinds, against the literal searches.
    for (Kind k : kAllKinds) {
        for (uint32_t seed = 1; seed <= 30; ++seed) {
            SCOPED_TRACE(::testing::Message() << Name(k) << " seed " << seed);
            std::mt19937& rng = kdtest::Rng(seed);
            const int32_t w = 1 + static_cast<int32_t>(rng() % 40);
            const int32_t h = 1 + static_cast<int32_t>(rng() % 30);
            CImgPtr img = Make(k, w, h);
            ASSERT_TRUE(img);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const bool d = rng() % 50 == 0;
                    const uint32_t lv = d ? 30 + rng() % 98 : 128 + rng() % 128;
                    img->put(x, y,
                             k == Kind::Binary ? d
                             : k == Kind::Gray ? lv
                                               : (lv << 8) | rng() % 256);
                }
            Tvk::tagRECT got{}, want{};
            Tvk::tagPOINT gp[4] = {}, wp[4] = {};
            img->rect(&got, gp);
            ReferenceRect(*img, want, wp);
            EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0);
            EXPECT_EQ(std::memcmp(gp, wp, sizeof gp), 0);
        }
    }
}

TEST(Img, AddAppendsBandsUntilTheRasterIsFull) {
    CImgPtr page = Make(Kind::Gray, 16, 100);
    ASSERT_TRUE(page);
    for (int i = 0; i < 3; ++i) {
        CImgPtr band = Make(Kind::Gray, 16, 40);
        ASSERT_TRUE(band);
        std::memset(band->pImg, i + 1, static_cast<size_t>(band->sync) * 40);
        EXPECT_EQ(page->add(band.get()), 0u);
    }
    EXPECT_EQ(page->linesAdded(), 120);
    for (int32_t y = 0; y < 100; ++y)
        ASSERT_EQ(page->get(15, y), static_cast<uint32_t>(y / 40 + 1));

    CImgPtr more = Make(Kind::Gray, 16, 5);
    const std::vector<uint8_t> full = Bytes(*page);
    EXPECT_EQ(page->add(more.get()), 0u); // no room left: nothing written
    EXPECT_EQ(Bytes(*page), full);
}

TEST(Img, AddConvertsTheBandToTheReceiversKind) {
    const struct {
        Kind receiver, band;
        uint32_t result;
    } cases[] = {
        {Kind::Gray, Kind::Color, 0},
        {Kind::Gray, Kind::Planar, 0},
        {Kind::Color, Kind::Gray, 0},
        {Kind::Color, Kind::Planar, 0},
        {Kind::Planar, Kind::Color, 0},
        {Kind::Planar, Kind::Planar, 0},
        {Kind::Gray, Kind::Binary, kIpErrBadArgument},
        {Kind::Binary, Kind::Binary, kIpErrBadArgument},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << Name(c.band) << " into " << Name(c.receiver));
        CImgPtr page = Make(c.receiver, 11, 6);
        CImgPtr band = Make(c.band, 11, 4);
        ASSERT_TRUE(page && band);
        Fill(*band, c.band, 5);
        ASSERT_EQ(page->add(band.get()), c.result);
        ASSERT_EQ(page->add(band.get()), c.result);
        if (c.result != 0) continue;
        for (int32_t y = 0; y < 6; ++y)
            for (int32_t x = 0; x < 11; ++x) {
                const uint32_t v = band->get(x, y % 4);
                const uint32_t want = c.receiver == Kind::Gray
                                          ? (c.band == Kind::Gray ? v : (v >> 8) & 0xFF)
                                          : (c.band == Kind::Gray ? v * 0x010101u : v);
                ASSERT_EQ(page->get(x, y), want) << x << "," << y;
            }
    }
    EXPECT_EQ(Make(Kind::Gray, 4, 4)->add(nullptr), kIpErrBadArgument);
}

TEST(Img, AddWritesIntoAWrappedBuffer) {
    std::vector<uint8_t> buf(8 * 4, 0);
    CImgPtr page(CImg::Set(Set{buf.data(), 8, 4, 8, 300, 300, 8, 0}));
    CImgPtr band = Make(Kind::Gray, 8, 2);
    ASSERT_TRUE(page && band);
    std::memset(band->pImg, 9, 16);
    EXPECT_EQ(page->add(band.get()), 0u);
    EXPECT_EQ(page->add(band.get()), 0u);
    EXPECT_EQ(buf.front(), 9);
    EXPECT_EQ(buf.back(), 9);
}

TEST(Img, CloneKeepsKindAndPixels) {
    for (Kind k : kAllKinds) {
        SCOPED_TRACE(Name(k));
        std::vector<uint8_t> buf(200, 0);
        CImgPtr view(CImg::Set(MakeSet(k, 9, 4, buf.data(), 40)));
        ASSERT_TRUE(view);
        Fill(*view, k, 11);
        CImgPtr copy(view->clone());
        ASSERT_TRUE(copy);
        EXPECT_TRUE(copy->owns());
        EXPECT_NE(copy->pImg, view->pImg);
        EXPECT_EQ(KindOf(copy.get()), k);
        EXPECT_EQ(copy->sync, 40);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(copy->get(x, y), view->get(x, y));
        Set s{};
        view->imgset(&s);
        EXPECT_EQ(s.pImg, buf.data());
        EXPECT_EQ(s.pixelorder, k == Kind::Planar ? 1 : 0);
    }
}

TEST(Img, ReversInvertsBytesExceptOnBinary) {
    for (Kind k : kAllKinds) {
        SCOPED_TRACE(Name(k));
        CImgPtr img = Make(k, 7, 3);
        Fill(*img, k, 2);
        const std::vector<uint8_t> before = Bytes(*img);
        img->revers();
        const std::vector<uint8_t> after = Bytes(*img);
        for (size_t i = 0; i < before.size(); ++i)
            ASSERT_EQ(after[i], k == Kind::Binary ? before[i] : static_cast<uint8_t>(~before[i]));
        EXPECT_EQ(img->past(0, 0, img.get()), kIpErrFailed);
    }
}

TEST(Img, ConvertImageRecordToSet) {
    uint8_t byte = 0;
    const struct {
        int32_t bps, spp;
        uint32_t order;
        int32_t bpp, sync, layout;
    } cases[] = {
        {8, 1, 1, 8, 100, 1},  {8, 1, 0, 8, 100, 0}, {8, 3, 0, 24, 100, 0},
        {8, 3, 1, 24, 300, 1}, {1, 1, 1, 1, 100, 1}, {16, 1, 0, 16, 100, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bps << "x" << c.spp << " order " << c.order);
        tagTVKIMAGEINFO info{kTvkImageInfoSize, &byte, 0,  0, 33, 44, 100, 0, c.bps, c.spp,
                             c.order,           600,   300};
        Set s{};
        Convert_TVKIMAGEINFOtoIMGSET(&info, &s);
        EXPECT_EQ(s.pImg, &byte);
        EXPECT_EQ(s.width, 33);
        EXPECT_EQ(s.height, 44);
        EXPECT_EQ(s.sync, c.sync);
        EXPECT_EQ(s.xdpi, 600);
        EXPECT_EQ(s.ydpi, 300);
        EXPECT_EQ(s.bpp, c.bpp);
        EXPECT_EQ(s.pixelorder, c.layout);
    }
    Set s{&byte, 1, 2, 3, 4, 5, 6, 7};
    Convert_TVKIMAGEINFOtoIMGSET(nullptr, &s);
    EXPECT_EQ(s.width, 1);
    EXPECT_EQ(s.pixelorder, 7);
}

TEST(Img, FlatFirstLineTest) {
    // Line 0 of each case; bytes beyond the width (padding, later lines) do not count.
    const struct {
        const char* what;
        int32_t bpp, layout, width, sync;
        std::vector<uint8_t> line;
        bool flat;
    } cases[] = {
        {"gray white", 8, 0, 4, 8, {255, 255, 255, 255, 0, 0, 0, 0}, true},
        {"gray last differs", 8, 0, 4, 4, {255, 255, 255, 254}, false},
        {"gray one pixel", 8, 0, 1, 4, {7, 1, 2, 3}, true},
        {"colour flat", 24, 0, 3, 12, {1, 2, 3, 1, 2, 3, 1, 2, 3, 9, 9, 9}, true},
        {"colour third byte differs", 24, 0, 3, 9, {1, 2, 3, 1, 2, 3, 1, 2, 4}, false},
        {"planar flat", 24, 1, 3, 12, {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0}, true},
        {"planar third plane differs", 24, 1, 3, 9, {1, 1, 1, 2, 2, 2, 3, 3, 4}, false},
        {"planar flat, its triplets differ", 24, 1, 2, 6, {5, 5, 6, 6, 7, 7}, true},
        {"interleaved of the same bytes", 24, 0, 2, 6, {5, 5, 6, 6, 7, 7}, false},
        {"planar line too short for the width", 24, 1, 3, 6, {1, 1, 1, 1, 1, 1}, false},
        {"binary", 1, 0, 8, 4, {0, 0, 0, 0}, false},
        {"16 bits", 16, 0, 2, 4, {0, 0, 0, 0}, false},
        {"empty line", 8, 0, 0, 4, {0, 0, 0, 0}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> line = c.line;
        const Set s{line.data(), c.width, 1, c.sync, 300, 300, c.bpp, c.layout};
        EXPECT_EQ(is_artful_image(s), c.flat);
    }
    EXPECT_FALSE(is_artful_image(Set{nullptr, 4, 1, 4, 300, 300, 8, 0}));
}
