// Owning image handle, quarter turns, copies, bit helpers and clip exports.
#include "CImgInfPtr.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using kdtest::FillRandom;
using kdtest::GetPixel;
using kdtest::SetPixel;
using kdtest::TestImage;

namespace {

// Layouts the quarter turns handle.
enum class Layout { Bin, Gray, Interleaved, Planar };

// An owned image of the layout filled with noise, padding included, so that
// stray bits beyond the width show up in a turned image.
void MakeNoise(CImageInfoPtr& ptr, Layout layout, int32_t w, int32_t h, uint32_t seed) {
    const int32_t bps = layout == Layout::Bin ? 1 : 8;
    const int32_t spp = (layout == Layout::Interleaved || layout == Layout::Planar) ? 3 : 1;
    if (layout == Layout::Planar) {
        ptr.Attach(new CImageInfo(w, TvkDefaultSync(w, 8), h, 8, 3, 1));
        ptr->SetResolution(200, 300);
    } else {
        ASSERT_TRUE(ptr.CreateImage(w, TvkDefaultSync(w, bps * spp), h, bps, spp, 200, 300));
    }
    ASSERT_NE(ptr.GetPtr(), nullptr);
    FillRandom(ptr.GetPtr(), ptr.GetSize(), seed);
}

// The expected buffer of a turn, built pixel by pixel into zeroes.
std::vector<uint8_t> ExpectedTurn(const tagTVKIMAGEINFO& src, const tagTVKIMAGEINFO& dst,
                                  bool clockwise) {
    std::vector<uint8_t> out(dst.tImageSize, 0);
    tagTVKIMAGEINFO e = dst;
    e.lpImage = out.data();
    for (int32_t j = 0; j < src.lWidth; ++j) {
        for (int32_t i = 0; i < src.lHeight; ++i) {
            const uint32_t v = clockwise ? GetPixel(src, j, src.lHeight - 1 - i)
                                         : GetPixel(src, src.lWidth - 1 - j, i);
            SetPixel(e, i, j, v);
        }
    }
    return out;
}

struct TurnCase {
    Layout layout;
    int32_t w, h;
};

} // namespace

TEST(CImageInfoPtr, QuarterTurnsMatchPerPixelOracle) {
    const TurnCase cases[] = {
        {Layout::Bin, 37, 29},    {Layout::Bin, 70, 19},         {Layout::Bin, 8, 8},
        {Layout::Gray, 77, 53},   {Layout::Gray, 133, 70},       {Layout::Gray, 1, 1},
        {Layout::Gray, 530, 301}, {Layout::Interleaved, 41, 23}, {Layout::Interleaved, 150, 133},
        {Layout::Planar, 39, 27},
    };
    uint32_t seed = 1;
    for (const auto& c : cases) {
        for (int pass = 0; pass < 4; ++pass) {
            const bool cw = pass % 2 == 0;
            const bool portable = pass >= 2; // both the vector and the plain transpose
            IpForcePortablePaths(portable);
            SCOPED_TRACE(testing::Message()
                         << "layout " << static_cast<int>(c.layout) << " " << c.w << "x" << c.h
                         << (cw ? " R" : " L") << (portable ? " portable" : ""));
            CImageInfoPtr img;
            MakeNoise(img, c.layout, c.w, c.h, seed++);
            CImageInfoPtr orig;
            ASSERT_TRUE(CopyCImageInfo(orig, img));
            orig->SetResolution(img.XResolution(), img.YResolution());

            ASSERT_TRUE(cw ? img.Rotate90R() : img.Rotate90L());
            EXPECT_EQ(img.Width(), c.h);
            EXPECT_EQ(img.Height(), (c.w + 7) / 8 * 8);
            EXPECT_EQ(img.XResolution(), 300);
            EXPECT_EQ(img.YResolution(), 200);
            EXPECT_EQ(img.RGBOrder(), c.layout == Layout::Interleaved ? 0u : 1u);
            const std::vector<uint8_t> expected = ExpectedTurn(*orig.Info(), *img.Info(), cw);
            ASSERT_EQ(expected.size(), img.GetSize());
            EXPECT_EQ(std::memcmp(expected.data(), img.GetPtr(), expected.size()), 0);
        }
    }
    IpForcePortablePaths(false);
}

TEST(CImageInfoPtr, TurnsUndoEachOther) {
    for (Layout layout : {Layout::Bin, Layout::Gray, Layout::Interleaved, Layout::Planar}) {
        SCOPED_TRACE(static_cast<int>(layout));
        // Sides that are multiples of 8: four turns the same way are the identity.
        CImageInfoPtr img;
        MakeNoise(img, layout, 24, 80, 11);
        // Padding is not part of the image: clear it for a byte comparison.
        for (int64_t y = 0; y < img.Height(); ++y) {
            for (int64_t x = 0; x < img.Width(); ++x) {
                SetPixel(*img.Info(), x, y, GetPixel(*img.Info(), x, y));
            }
        }
        CImageInfoPtr orig;
        ASSERT_TRUE(CopyCImageInfo(orig, img));
        orig->SetResolution(img.XResolution(), img.YResolution());
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(img.Rotate90R());
        }
        EXPECT_EQ(CompareImages(img, orig), 0);
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(img.Rotate90L());
        }
        EXPECT_EQ(CompareImages(img, orig), 0);

        // Odd sides: a right turn and a left turn give the image back in the
        // top-left corner of the rounded-up one.
        CImageInfoPtr odd;
        MakeNoise(odd, layout, 13, 11, 12);
        CImageInfoPtr oddOrig;
        ASSERT_TRUE(CopyCImageInfo(oddOrig, odd));
        ASSERT_TRUE(odd.Rotate90R());
        ASSERT_TRUE(odd.Rotate90L());
        EXPECT_EQ(odd.Width(), 16);
        EXPECT_EQ(odd.Height(), 16);
        for (int64_t y = 0; y < 16; ++y) {
            for (int64_t x = 0; x < 16; ++x) {
                const uint32_t want = (x < 13 && y < 11) ? GetPixel(*oddOrig.Info(), x, y) : 0;
                ASSERT_EQ(GetPixel(*odd.Info(), x, y), want) << x << "," << y;
            }
        }
    }
}

TEST(CImageInfoPtr, TurnOfSmallGrayImage) {
    CImageInfoPtr img;
    ASSERT_TRUE(img.CreateImage(10, 12, 3, 8, 1, 300, 300));
    img->PSET8(0, 2, 0xAA); // bottom-left
    img->PSET8(9, 0, 0xBB); // top-right
    CImageInfoPtr left;
    ASSERT_TRUE(CopyCImageInfo(left, img));

    ASSERT_TRUE(img.Rotate90R());
    EXPECT_EQ(img.Width(), 3);
    EXPECT_EQ(img.Height(), 16);
    EXPECT_EQ(img.Sync(), 4);
    EXPECT_EQ(img->PGET8(0, 0), 0xAAu);
    for (int y = 10; y < 16; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(img.GetPtr()[y * 4 + x], 0) << y;
        }
    }
    ASSERT_TRUE(left.Rotate90L());
    EXPECT_EQ(left->PGET8(0, 0), 0xBBu);
}

TEST(CImageInfoPtr, TurnRefusedWhenTooLarge) {
    // A record describing a huge image over a tiny buffer: the turned size
    // does not fit 32 bits, so nothing is allocated or touched.
    uint8_t tiny[16] = {};
    CImageInfoPtr img;
    img.Attach(new CImageInfo(1 << 30, 1 << 27, 1 << 20, 1, 1, 1, tiny, sizeof tiny));
    EXPECT_FALSE(img.Rotate90R());
    EXPECT_FALSE(img.Rotate90L());
    EXPECT_EQ(img.GetPtr(), tiny);
    EXPECT_EQ(img.Width(), 1 << 30);

    CImageInfoPtr w16;
    ASSERT_TRUE(w16.CreateImage(4, 8, 4, 16, 1, 300, 300));
    EXPECT_FALSE(w16.Rotate90R()); // no 16-bit turn
    EXPECT_EQ(w16.Width(), 4);
}

TEST(CImageInfoPtr, HandleOwnership) {
    CImageInfoPtr ptr;
    EXPECT_TRUE(ptr.IsEmpty());
    ASSERT_TRUE(ptr.CreateImage(5, 16, 3, 8, 3, 150, 0));
    EXPECT_EQ(ptr.RGBOrder(), 0u);
    EXPECT_EQ(ptr.XResolution(), 150);
    EXPECT_FALSE(ptr.CreateImage(5, 8, -3, 8, 1, 300, 300)); // keeps the old image
    EXPECT_EQ(ptr.Width(), 5);
    CImageInfo* img = ptr.Detach();
    EXPECT_TRUE(ptr.IsEmpty());
    ptr.Attach(img);
    ptr.Attach(new CImageInfo(2, 2, 8, 1, 1)); // the first is deleted
    EXPECT_EQ(ptr.Width(), 2);
    ptr->PSET8(1, 1, 0x0F);
    EXPECT_TRUE(ptr.ReverseColor());
    EXPECT_EQ(ptr->PGET8(1, 1), 0xF0u);
    EXPECT_EQ(ptr->PGET8(0, 0), 0xFFu);
    CImageInfoPtr same;
    ASSERT_TRUE(SameSizeCImageInfo(same, ptr));
    EXPECT_EQ(same->PGET8(1, 1), 0u);
    ptr.ReleaseImage();
    EXPECT_TRUE(ptr.IsEmpty());
}

TEST(CompareImages, GeometryResolutionAndBits) {
    CImageInfoPtr a, b;
    ASSERT_TRUE(a.CreateImage(12, 4, 2, 1, 1, 300, 300));
    ASSERT_TRUE(b.CreateImage(12, 4, 2, 1, 1, 300, 300));
    EXPECT_EQ(CompareImages(a, b), 0);
    b->SetResolution(200, 300);
    EXPECT_EQ(CompareImages(a, b), 1);
    b->SetResolution(300, 300);
    b.GetPtr()[1] = 0x0F; // beyond the 12 pixels
    EXPECT_EQ(CompareImages(a, b), 0);
    b.GetPtr()[5] = 0x10; // pixel 11 of line 1
    EXPECT_EQ(CompareImages(a, b), -1);
    EXPECT_EQ(CompareImages(b, a), 1);
}

TEST(MemBitCmp, LeadingBitsOnly) {
    const uint8_t a[] = {0x12, 0xA0};
    const uint8_t b[] = {0x12, 0xAF};
    EXPECT_EQ(MemBitCmp(a, b, 12), 0);
    EXPECT_LT(MemBitCmp(a, b, 16), 0);
    const uint8_t c[] = {0x12, 0xB0};
    EXPECT_EQ(MemBitCmp(c, a, 12), 1);
    EXPECT_EQ(MemBitCmp(a, c, 12), -1);
    const uint8_t d[] = {0x11, 0xFF};
    EXPECT_GT(MemBitCmp(a, d, 12), 0);
}

TEST(BitHelpers, BitSetAndBitStepCopyAgainstBitLoop) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        const int64_t dstBit = rng() % 24;
        const int64_t srcBit = rng() % 24;
        const int64_t bits = 1 + rng() % 40;
        std::vector<uint8_t> src(16), dst(16);
        FillRandom(src.data(), src.size(), static_cast<uint32_t>(rng()));
        FillRandom(dst.data(), dst.size(), static_cast<uint32_t>(rng()));
        std::vector<uint8_t> want = dst;
        for (int64_t k = 0; k < bits; ++k) {
            PutBit(want.data(), dstBit + k, GetBit(src.data(), srcBit + k));
        }
        BitStepCopy(dst.data(), dstBit, src.data(), srcBit, bits, 1, 16, 16);
        ASSERT_EQ(dst, want) << dstBit << " " << srcBit << " " << bits;

        const int value = static_cast<int>(rng() & 1);
        for (int64_t k = 0; k < bits; ++k) {
            PutBit(want.data(), dstBit + k, value);
        }
        BitSet(dst.data(), dstBit, value, bits);
        ASSERT_EQ(dst, want) << dstBit << " " << bits << " " << value;
    }
}

TEST(BitHelpers, MirrorAndShiftLines) {
    // Two 1-bit lines of 13 pixels in 2-byte lines, mirrored and realigned.
    uint8_t buf[4] = {0b10000000, 0b00101000, 0b01000000, 0b00001000};
    MemBitStepSwitch(buf, 4, 2);
    EXPECT_EQ(buf[0], 0b00010100);
    EXPECT_EQ(buf[1], 0b00000001);
    MemBitStepShift(buf, 3, 2, 2);
    // Line 0 was pixels 0, 10, 12; mirrored over 13 pixels: 12, 2, 0.
    EXPECT_EQ(buf[0], 0b10100000);
    EXPECT_EQ(buf[1], 0b00001000);
    // Line 1 was pixels 1 and 12: now 11 and 0.
    EXPECT_EQ(buf[2], 0b10000000);
    EXPECT_EQ(buf[3], 0b00010000);

    uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    MemStepSwitch(bytes, 6, 3);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 6), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    MemStepShift(bytes, 1, 3, 2);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[3], 5);

    uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    uint8_t out[6] = {};
    RGBReverseCopy(out + 6, rgb, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));
    MemReverseCopy(out + 6, rgb, 6);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{6, 5, 4, 3, 2, 1}));
    uint8_t stepped[8] = {};
    RGBStepCopy(stepped, rgb, 4, 2);
    EXPECT_EQ(std::vector<uint8_t>(stepped, stepped + 8),
              (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0}));
}

TEST(ClipView, OneBitAreaInsideAByte) {
    TestImage src(16, 2, 1, 1), dst(16, 2, 1, 1);
    std::vector<uint8_t>& db = dst.bytes();
    std::fill(src.bytes().begin(), src.bytes().end(), 0xFF);
    db[4] = 0x81;
    tagCLIPVIEWINFO req{kClipViewInfoSize, 3, 1, 3, 0, 4, 1};
    IpSetLastError(77);
    EXPECT_EQ(ClipView(dst.info(), src.info(), &req), 1);
    EXPECT_EQ(IpGetLastError(), 0u);
    EXPECT_EQ(db[4], 0x81 | 0x1E); // bits 3..6 only
    EXPECT_EQ(db[0], 0);
    EXPECT_EQ(db[5], 0);
}

TEST(ClipView, FailuresAndCuts) {
    TestImage src(10, 6, 8, 1), dst(8, 5, 8, 1);
    FillRandom(src.bytes(), 3);
    const std::vector<uint8_t> before = dst.bytes();

    const struct {
        tagCLIPVIEWINFO req;
        int32_t result;
    } failing[] = {
        {{kClipViewInfoSize, -1, 0, 0, 0, 4, 4}, 0}, {{kClipViewInfoSize, 0, -1, 0, 0, 4, 4}, 0},
        {{kClipViewInfoSize, 0, 0, 11, 0, 4, 4}, 0}, {{kClipViewInfoSize, 0, 0, 0, 7, 4, 4}, 0},
        {{kClipViewInfoSize, 9, 0, 0, 0, 4, 4}, 0},  {{kClipViewInfoSize, 0, 0, -2, 0, 4, 4}, 0},
    };
    for (auto f : failing) {
        EXPECT_EQ(ClipView(dst.info(), src.info(), &f.req), f.result);
        EXPECT_EQ(dst.bytes(), before);
    }
    TestImage wide(8, 5, 16, 1);
    tagCLIPVIEWINFO req16{kClipViewInfoSize, 0, 0, 0, 0, 2, 2};
    EXPECT_EQ(ClipView(wide.info(), wide.info(), &req16), 0); // 16 bits are not clipped
    tagCLIPVIEWINFO mixed{kClipViewInfoSize, 0, 0, 0, 0, 2, 2};
    EXPECT_EQ(ClipView(dst.info(), wide.info(), &mixed), 0);

    // Cut to the destination, then to the source; the request shows the cut.
    tagCLIPVIEWINFO req{kClipViewInfoSize, 5, 3, 8, 1, 9, 9};
    EXPECT_EQ(ClipView(dst.info(), src.info(), &req), 1);
    EXPECT_EQ(req.lWidth, 2);
    EXPECT_EQ(req.lHeight, 2);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool in = x >= 5 && x < 7 && y >= 3;
            const uint32_t want = in ? src.get(x + 3, y - 2) : 0;
            EXPECT_EQ(dst.get(x, y), want) << x << "," << y;
        }
    }
}

TEST(ClipView, ColourLayouts) {
    for (uint32_t order : {0u, 1u}) {
        TestImage src(7, 5, 8, 3, order), dst(6, 4, 8, 3, order);
        FillRandom(src.bytes(), 9 + order);
        tagCLIPVIEWINFO req{kClipViewInfoSize, 1, 1, 2, 1, 3, 2};
        ASSERT_EQ(ClipView(dst.info(), src.info(), &req), 1);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 6; ++x) {
                const bool in = x >= 1 && x < 4 && y >= 1 && y < 3;
                EXPECT_EQ(dst.get(x, y), in ? src.get(x + 1, y) : 0u)
                    << order << ": " << x << "," << y;
            }
        }
    }
}

TEST(ClipViewOwnBuffer, CropsGrayAndInterleaved) {
    for (int32_t spp : {1, 3}) {
        TestImage img(9, 6, 8, spp, 0);
        FillRandom(img.bytes(), 21);
        const TestImage before = img;
        tagTVKIMAGEINFO& im = *img.info();
        tagCLIPVIEWINFO req{kClipViewInfoSize, 0, 0, 2, 1, 20, 3};
        IpSetLastError(5);
        ASSERT_EQ(ClipViewOwnBuffer(&im, &req), 0);
        EXPECT_EQ(IpGetLastError(), 0u);
        EXPECT_EQ(req.lWidth, 7);
        EXPECT_EQ(im.lWidth, 7);
        EXPECT_EQ(im.lHeight, 3);
        EXPECT_EQ(im.lSync, TvkDefaultSync(7, 8 * spp));
        EXPECT_EQ(im.tImageSize, static_cast<uint32_t>(im.lSync) * 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 7; ++x) {
                EXPECT_EQ(GetPixel(im, x, y), before.get(x + 2, y + 1)) << x << "," << y;
            }
        }
    }
}

TEST(ClipViewOwnBuffer, Refusals) {
    const struct {
        int32_t bps, spp;
        uint32_t order;
        tagCLIPVIEWINFO req;
    } cases[] = {
        {1, 1, 1, {kClipViewInfoSize, 0, 0, 0, 0, 4, 4}}, // 1 bit
        {8, 3, 1, {kClipViewInfoSize, 0, 0, 0, 0, 4, 4}}, // planar colour
        {8, 1, 1, {kClipViewInfoSize, 1, 0, 0, 0, 4, 4}}, // dst x
        {8, 1, 1, {kClipViewInfoSize, 0, 2, 0, 0, 4, 4}}, // dst y
        {8, 1, 1, {kClipViewInfoSize, 0, 0, -1, 0, 4, 4}},
    };
    for (auto c : cases) {
        TestImage img(8, 4, c.bps, c.spp, c.order);
        const tagTVKIMAGEINFO before = *img.info();
        EXPECT_EQ(ClipViewOwnBuffer(img.info(), &c.req), -1);
        EXPECT_EQ(img.info()->lWidth, before.lWidth);
        EXPECT_EQ(img.info()->lSync, before.lSync);
    }
}
