// Image description record and the image container.
#include "CImgInf.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using kdtest::FillRandom;
using kdtest::TestImage;

namespace {

// An 8-bit gray image, lines sync bytes apart, with value x + 10 y at each pixel.
TestImage Gradient(int32_t w, int32_t h, int32_t sync) {
    TestImage img(w, h, 8, 1, 1, sync);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) img.set(x, y, static_cast<uint32_t>(x + 10 * y));
    return img;
}

} // namespace

TEST(CImageInfo, DefaultLineSizeAndBufferSize) {
    const struct {
        int32_t width, bps, spp;
        unsigned order;
        int32_t sync;
        uint32_t size; // for 5 lines
    } cases[] = {
        {1, 1, 1, 1, 4, 20},  {33, 1, 1, 1, 8, 40}, {32, 1, 1, 1, 4, 20}, {5, 8, 1, 1, 8, 40},
        {3, 16, 1, 1, 8, 40}, {4, 8, 3, 1, 4, 60},  {4, 8, 3, 0, 4, 20}, // interleaved: one sample
                                                                         // counted per pixel
    };
    for (const auto& c : cases) {
        CImageInfo img(c.width, 5, c.bps, c.spp, c.order);
        ASSERT_NE(img.GetPtr(), nullptr);
        EXPECT_EQ(img.Sync(), c.sync) << c.width << "x" << c.bps;
        EXPECT_EQ(img.GetSize(), c.size) << c.width << "x" << c.bps;
        EXPECT_TRUE(img.IsAllocated());
        EXPECT_EQ(img.Info()->size, kTvkImageInfoSize);
    }
}

TEST(CImageInfo, ZeroLineSizeTakesTheDefault) {
    CImageInfo img(10, 0, 3, 8, 1, 1);
    EXPECT_EQ(img.Sync(), 12);
    EXPECT_EQ(img.GetSize(), 36u);
    uint8_t buf[8] = {};
    CImageInfo wrap(33, 0, 2, 1, 1, 1, buf, sizeof buf);
    EXPECT_EQ(wrap.Sync(), 8);
    EXPECT_FALSE(wrap.IsAllocated());
}

TEST(CImageInfo, PixelAddressRules) {
    uint8_t buf[64] = {};
    // Interleaved colour: three bytes a pixel.
    CImageInfo rgb(4, 12, 2, 8, 3, 0, buf, sizeof buf);
    EXPECT_EQ(rgb.GetPtr(2, 1), buf + 12 + 6);
    EXPECT_EQ(rgb.RGBSync(), 12);
    // Planar colour: a line holds three sample rows.
    CImageInfo planar(4, 4, 2, 8, 3, 1, buf, sizeof buf);
    EXPECT_EQ(planar.GetPtr(2, 1), buf + 12 + 2);
    EXPECT_EQ(planar.RGBSync(), 12);
    // 1 bit and 16 bits.
    CImageInfo bin(20, 4, 2, 1, 1, 1, buf, sizeof buf);
    EXPECT_EQ(bin.GetPtr(17, 1), buf + 4 + 2);
    CImageInfo w16(3, 8, 2, 16, 1, 1, buf, sizeof buf);
    EXPECT_EQ(w16.GetPtr(2, 1), buf + 8 + 4);
    EXPECT_EQ(w16.BitCount(), 16);
}

TEST(CImageInfo, PixelGetAndPut) {
    CImageInfo bin(20, 3, 1, 1, 1);
    bin.PSET2(9, 1, 7);
    EXPECT_EQ(bin.PGET2(9, 1), 0x40u); // the mask, not 1
    EXPECT_EQ(bin.GetPtr()[4 + 1], 0x40);
    bin.PSET2(9, 1, 0);
    EXPECT_EQ(bin.PGET2(9, 1), 0u);

    CImageInfo gray(5, 3, 8, 1, 1);
    gray.PSET8(4, 2, 0x1AB);
    EXPECT_EQ(gray.PGET8(4, 2), 0xABu);

    CImageInfo w16(3, 2, 16, 1, 1);
    w16.PSET16(2, 1, 0xBEEF);
    EXPECT_EQ(w16.PGET16(2, 1), 0xBEEFu);

    // Out-of-range reads give 0, writes are dropped.
    const std::vector<uint8_t> before(gray.GetPtr(), gray.GetPtr() + gray.GetSize());
    for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, -1}, {0, 3}}) {
        EXPECT_EQ(gray.PGET8(x, y), 0u);
        gray.PSET8(x, y, 0xFF);
        EXPECT_EQ(bin.PGET2(x == 5 ? 20 : x, y), 0u);
    }
    EXPECT_EQ(std::vector<uint8_t>(gray.GetPtr(), gray.GetPtr() + gray.GetSize()), before);
}

TEST(CImageInfo, Pset24BothLayouts) {
    CImageInfo planar(3, 2, 8, 3, 1);
    planar.PSET24(1, 1, 0x332211);
    const uint8_t* p = planar.GetPtr() + planar.RGBSync() + 1;
    EXPECT_EQ(p[0], 0x11);
    EXPECT_EQ(p[planar.Sync()], 0x22);
    EXPECT_EQ(p[2 * planar.Sync()], 0x33);

    CImageInfo inter(3, 12, 2, 8, 3, 0);
    inter.PSET24(2, 1, 0x332211);
    const uint8_t* q = inter.GetPtr() + 12 + 6;
    EXPECT_EQ(q[0], 0x11);
    EXPECT_EQ(q[1], 0x22);
    EXPECT_EQ(q[2], 0x33);
}

TEST(CImageInfo, WrapperWritesSizeAndNeverFrees) {
    TestImage g = Gradient(6, 4, 8);
    g.info()->tImageSize = 0;
    {
        CImageInfo w(g.info());
        EXPECT_EQ(g.info()->tImageSize, 32u);
        EXPECT_FALSE(w.IsAllocated());
        EXPECT_EQ(w.PGET8(5, 3), 35u);
    }
    EXPECT_EQ(g.bytes()[0], 0); // still the caller's, untouched
}

TEST(CImageInfo, ReleaseThenDestroyFreesOnce) {
    auto* img = new CImageInfo(10, 10, 8, 1, 1);
    ASSERT_NE(img->GetPtr(), nullptr);
    img->ReleaseImageBuffer();
    EXPECT_EQ(img->GetPtr(), nullptr);
    EXPECT_FALSE(img->IsAllocated());
    img->ReleaseImageBuffer();
    delete img; // the sanitizer build reports a second free here
}

TEST(CImageInfo, DetachHandsBufferOver) {
    CImageInfo img(8, 2, 8, 1, 1);
    uint8_t* p = img.GetPtr();
    EXPECT_EQ(img.DetachImageBuffer(), p);
    EXPECT_FALSE(img.IsAllocated());
    EXPECT_EQ(img.DetachImageBuffer(), nullptr);
    delete[] p;
}

TEST(CImageInfo, SetPtrRefusedWhileOwning) {
    CImageInfo img(8, 2, 8, 1, 1);
    uint8_t other[16];
    uint8_t* p = img.GetPtr();
    EXPECT_EQ(img.SetPtr(other), nullptr);
    EXPECT_EQ(img.GetPtr(), p);
}

TEST(CImageInfo, SettersKeepSizeInStep) {
    CImageInfo img(40, 3, 8, 1, 1);
    EXPECT_EQ(img.SetBps(1), 1);
    EXPECT_EQ(img.Sync(), 5); // 1 x 40 / 8
    EXPECT_EQ(img.GetSize(), 15u);
    img.SetHeight(2);
    EXPECT_EQ(img.GetSize(), 10u);
    img.SetResolution(200, 0);
    EXPECT_EQ(img.XResolution(), 200);
    EXPECT_EQ(img.YResolution(), 0);

    // A record without a depth yet: no line size to scale, and no crash.
    CImageInfo blank;
    ASSERT_NE(blank.CreateTvkImageInfoStruct(), nullptr);
    blank.Info()->lSync = 12;
    EXPECT_EQ(blank.SetBps(8), 8);
    EXPECT_EQ(blank.Sync(), 12);
}

TEST(CImageInfo, CopyConstructorSharesBuffer) {
    CImageInfo img(8, 2, 8, 1, 1);
    img.SetBlackIs(1);
    {
        CImageInfo view(img);
        EXPECT_EQ(view.GetPtr(), img.GetPtr());
        EXPECT_FALSE(view.IsAllocated());
        EXPECT_TRUE(view.IsBlackIs());
        EXPECT_NE(view.Info(), img.Info());
    }
    EXPECT_NE(img.GetPtr(), nullptr);
}

TEST(CImageInfo, ByValueConstructorCopiesPixels) {
    TestImage g = Gradient(6, 4, 8);
    CImageInfo copy(*g.info());
    ASSERT_NE(copy.GetPtr(), nullptr);
    EXPECT_NE(copy.GetPtr(), g.bytes().data());
    EXPECT_EQ(std::memcmp(copy.GetPtr(), g.bytes().data(), g.bytes().size()), 0);

    CImageInfo src(g.info());
    CImageInfo* same = src.CreateSameSize();
    CImageInfo* dup = src.CreateCopy();
    ASSERT_NE(same, nullptr);
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(same->PGET8(5, 3), 0u);
    EXPECT_TRUE(*dup == src);
    delete same;
    delete dup;
}

TEST(CImageInfo, TrimMakesAView) {
    std::vector<uint8_t> buf(100 * 60);
    CImageInfo img(100, 100, 60, 8, 1, 1, buf.data(), static_cast<uint32_t>(buf.size()));
    ASSERT_TRUE(img.Trim(0.5));
    EXPECT_EQ(img.Width(), 50);
    EXPECT_EQ(img.Height(), 30);
    EXPECT_EQ(img.GetPtr(), buf.data() + 15 * 100 + 25);
    EXPECT_EQ(img.Sync(), 100);
    // The view's size stays inside the buffer it looks into.
    EXPECT_LE(img.GetSize() + static_cast<size_t>(img.GetPtr() - buf.data()), buf.size());

    CImageInfo corner(100, 100, 60, 8, 1, 1, buf.data(), static_cast<uint32_t>(buf.size()));
    ASSERT_TRUE(corner.Trim(tagRECT{90, 50, 10, 10}));
    EXPECT_LE(corner.GetSize() + static_cast<size_t>(corner.GetPtr() - buf.data()), buf.size());
    corner.Reverse();                               // must stay inside the buffer
    EXPECT_FALSE(corner.Trim(tagRECT{5, 5, 6, 1})); // reaches past the view
}

TEST(CImageInfo, TrimRefusedOnOwningContainer) {
    CImageInfo img(100, 60, 8, 1, 1);
    uint8_t* p = img.GetPtr();
    EXPECT_FALSE(img.Trim(0.5));
    EXPECT_EQ(img.Width(), 100);
    EXPECT_EQ(img.Height(), 60);
    EXPECT_EQ(img.GetPtr(), p);
    EXPECT_EQ(img.GetSize(), 100u * 60u);
}

TEST(CImageInfo, CutOffH) {
    TestImage g = Gradient(4, 10, 4);
    CImageInfo img(g.info());
    img.CutOffH(4, 1); // first == last: nothing
    EXPECT_EQ(img.Height(), 10);
    img.CutOffH(2, 3);
    EXPECT_EQ(img.Height(), 7);
    EXPECT_EQ(img.GetSize(), 28u);
    EXPECT_EQ(img.PGET8(1, 1), 11u);
    EXPECT_EQ(img.PGET8(1, 2), 51u); // former line 5
    EXPECT_EQ(img.PGET8(1, 6), 91u);
    img.CutOffH(5, 100); // clamped to the last line
    EXPECT_EQ(img.Height(), 5);
}

TEST(CImageInfo, ShiftLeftAndCutOffV) {
    TestImage g = Gradient(10, 3, 12);
    CImageInfo img(g.info());
    img.ShiftLeft(2);
    EXPECT_EQ(img.Width(), 8);
    EXPECT_EQ(img.PGET8(0, 0), 2u);
    EXPECT_EQ(img.PGET8(7, 2), 29u);
    img.Shift(3); // not a left shift
    EXPECT_EQ(img.Width(), 8);
    img.CutOffV(1, 3);
    EXPECT_EQ(img.Width(), 4);
    EXPECT_EQ(img.PGET8(0, 1), 13u);

    CImageInfo bin(16, 2, 1, 1, 1);
    bin.ShiftLeft(3); // 1 bit is not shifted
    EXPECT_EQ(bin.Width(), 16);
}

TEST(CImageInfo, RectSumCutsToImage) {
    TestImage g = Gradient(6, 4, 8);
    CImageInfo img(g.info());
    unsigned count = 0;
    tagRECT r{4, 1, 10, 2}; // runs past the right edge
    EXPECT_EQ(img.RectSum(&r, &count), 14u + 15u + 24u + 25u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(img.RectAve(&r), (78 + 2) / 4);
    tagRECT outside{10, 0, 3, 3};
    EXPECT_EQ(img.RectAve(&outside), 0);
}

TEST(CImageInfo, LineReads) {
    TestImage g = Gradient(6, 4, 8);
    CImageInfo img(g.info());
    std::vector<uint8_t> line(8, 0xEE);
    img.GetHLineData(line.data(), 2);
    EXPECT_EQ(line[5], 25);
    std::vector<uint8_t> col(4);
    img.GetVLineData(col.data(), 3);
    EXPECT_EQ(col, (std::vector<uint8_t>{3, 13, 23, 33}));
    std::vector<uint8_t> rect(8 * 2, 0);
    img.GetRectData(rect.data(), tagRECT{1, 2, 3, 2}, 0);
    EXPECT_EQ(rect[0], 21);
    EXPECT_EQ(rect[2], 23);
    EXPECT_EQ(rect[8], 31);
}

TEST(CImageInfo, PutImageCutsAndKeepsUncoveredBits) {
    TestImage big = Gradient(8, 6, 8);
    CImageInfo dst(big.info());
    TestImage small = Gradient(3, 3, 4);
    CImageInfo src(small.info());
    dst.PutImage(-1, 4, src); // first column skipped, last line cut
    EXPECT_EQ(dst.PGET8(0, 4), 1u);
    EXPECT_EQ(dst.PGET8(1, 5), 12u);
    EXPECT_EQ(dst.PGET8(2, 4), 42u); // untouched
    EXPECT_EQ(dst.PGET8(0, 3), 30u);

    CImageInfo bdst(12, 2, 1, 1, 1);
    std::memset(bdst.GetPtr(), 0xFF, bdst.GetSize());
    CImageInfo bsrc(10, 1, 1, 1, 1);
    bdst.PutImage(0, 1, bsrc);
    EXPECT_EQ(bdst.GetPtr()[4], 0x00);
    EXPECT_EQ(bdst.GetPtr()[5], 0x3F); // only the two covered bits cleared
    bdst.PutImage(1, 0, bsrc);         // 1 bit needs x = 0
    EXPECT_EQ(bdst.GetPtr()[0], 0xFF);
}

TEST(CImageInfo, EqualityIgnoresPaddingButSeesEverySample) {
    CImageInfo a(5, 2, 1, 1, 1);
    CImageInfo b(5, 2, 1, 1, 1);
    a.GetPtr()[0] = 0xA0;
    b.GetPtr()[0] = 0xA7; // differs only beyond the width
    EXPECT_TRUE(a == b);
    b.PSET2(4, 0, 1);
    EXPECT_TRUE(a != b);

    CImageInfo c(4, 12, 1, 8, 3, 0);
    CImageInfo d(4, 12, 1, 8, 3, 0);
    d.PSET24(3, 0, 0x010000); // last sample of the last pixel
    EXPECT_TRUE(c != d);
}

TEST(CImageInfo, PackInterleavedColourStaysInBuffer) {
    std::vector<uint8_t> buf(20 * 3);
    FillRandom(buf.data(), buf.size(), 7);
    const std::vector<uint8_t> orig = buf;
    CImageInfo img(5, 20, 3, 8, 3, 0, buf.data(), static_cast<uint32_t>(buf.size()));
    img.SetPack1(0);
    EXPECT_EQ(img.Sync(), 15);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(std::memcmp(buf.data() + 15 * y, orig.data() + 20 * y, 15), 0) << y;
    }
    // Back to whole words over the same buffer, tails cleared.
    CImageInfo packed(5, 15, 3, 8, 3, 0, buf.data(), static_cast<uint32_t>(buf.size()));
    packed.SetPackN(4, 0);
    EXPECT_EQ(packed.Sync(), 16);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(std::memcmp(buf.data() + 16 * y, orig.data() + 20 * y, 15), 0) << y;
        EXPECT_EQ(buf[16 * y + 15], 0) << y;
    }
}

TEST(CImageInfo, PolarityAndUnusedArea) {
    CImageInfo img(3, 8, 2, 8, 1, 1);
    EXPECT_EQ(img.SetBlackIs(1), 1);
    EXPECT_EQ(img.GetPtr()[0], 0xFF);
    EXPECT_EQ(img.SetBlackIs(1), 1); // already so: no second inversion
    EXPECT_EQ(img.GetPtr()[0], 0xFF);
    EXPECT_EQ(img.SetWhiteIs(1), 1);
    EXPECT_EQ(img.GetPtr()[0], 0x00);

    img.CrearUnusedArea(0x77);
    EXPECT_EQ(img.GetPtr()[2], 0x00);
    EXPECT_EQ(img.GetPtr()[3], 0x77);
    EXPECT_EQ(img.GetPtr()[15], 0x77);

    CImageInfo planar(2, 4, 2, 8, 3, 1);
    planar.VertLine(1, 0, 5, 0x112233);
    EXPECT_EQ(planar.GetPtr()[1], 0x11); // first plane takes bits 16-23
    EXPECT_EQ(planar.GetPtr()[4 + 1], 0x22);
    EXPECT_EQ(planar.GetPtr()[8 + 1], 0x33);
    EXPECT_EQ(planar.GetPtr()[12 + 1], 0x11);
}
