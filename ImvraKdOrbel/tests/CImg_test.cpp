#include "CImg.h"
#include "ImvraRecords.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;

namespace {

tagIMAGEINFO Record(int32_t w, int32_t h, int32_t sync, int32_t bps, int32_t spp, uint32_t order,
                    uint32_t size) {
    tagIMAGEINFO r{};
    r.size = kImageInfoSize;
    r.lWidth = w;
    r.lHeight = h;
    r.lSync = sync;
    r.lBps = bps;
    r.lSpp = spp;
    r.ulRGBOrder = order;
    r.tImageSize = size;
    r.lXResolution = r.lYResolution = 300;
    return r;
}

// An 8-bit gray band whose every byte is its line's tag.
CImg Band(int32_t w, int32_t h, uint8_t tag, int32_t spp = 1, uint32_t order = 0) {
    CImg b;
    EXPECT_TRUE(b.createImg(w, h, 8, spp, order, 300, 300));
    std::memset(b.info().lpImage, tag, b.info().tImageSize);
    return b;
}

bool AllZero(const tagIMAGEINFO& r) {
    tagIMAGEINFO z{};
    return std::memcmp(&r, &z, sizeof r) == 0;
}

} // namespace

TEST(CImgCheck, RecordTable) {
    struct Case {
        const char* what;
        tagIMAGEINFO rec;
        bool ok;
    };
    const Case cases[] = {
        {"gray exact", Record(10, 4, 10, 8, 1, 0, 40), true},
        {"colour 12-bit passes the depth test", Record(10, 2, 45, 12, 3, 0, 90), true},
        {"two samples 12-bit refused", Record(10, 2, 30, 12, 2, 0, 60), false},
        {"two samples 8-bit accepted", Record(10, 2, 20, 8, 2, 0, 40), true},
        {"sync one byte short", Record(10, 2, 29, 8, 3, 0, 58), false},
        {"longer sync accepted", Record(10, 2, 32, 8, 3, 0, 64), true},
        {"planar colour needs three rows a line", Record(10, 2, 10, 8, 3, 1, 60), true},
        {"planar colour with one row a line refused", Record(10, 2, 10, 8, 3, 1, 20), false},
        {"1-bit width 33 needs 5 bytes", Record(33, 1, 5, 1, 1, 0, 5), true},
        {"1-bit width 33 with 4 bytes refused", Record(33, 1, 4, 1, 1, 0, 4), false},
        {"zero width", Record(0, 2, 4, 8, 1, 0, 8), false},
        {"zero height", Record(4, 0, 4, 8, 1, 0, 0), false},
        {"negative sync", Record(4, 2, -4, 8, 1, 0, 0), false},
        {"size mismatch", Record(4, 2, 4, 8, 1, 0, 9), false},
        {"jpeg order needs size 0", Record(4, 2, 4, 8, 1, 3, 0), true},
        {"jpeg order with a size", Record(4, 2, 4, 8, 1, 3, 8), false},
        // 2^31-1 pixels of 16-bit colour: the line length needs 64 bits.
        {"line beyond 32 bits", Record(INT32_MAX, 1, INT32_MAX, 16, 3, 0, UINT32_MAX), false},
        // 65536 x 65536 wraps to 0 in 32 bits.
        {"size wrapping to zero", Record(65536, 65536, 65536, 8, 1, 0, 0), false},
        {"size wrapping in planar", Record(1, 0x55555556, 1, 8, 3, 1, 2), false},
    };
    for (const Case& c : cases) EXPECT_EQ(CImg::checkInfo(c.rec), c.ok) << c.what;
}

TEST(CImgCheck, MinSyncAndSize) {
    EXPECT_EQ(CImg::calcMinSync(33, 1, 1, 0), 5);
    EXPECT_EQ(CImg::calcMinSync(5, 4, 1, 0), 3);
    EXPECT_EQ(CImg::calcMinSync(10, 8, 3, 0), 30);
    EXPECT_EQ(CImg::calcMinSync(10, 8, 3, 1), 10);
    EXPECT_EQ(CImg::calcMinSync(10, 8, 3, 3), -1);
    EXPECT_EQ(CImg::calcMinSync(INT32_MAX, 16, 3, 0), int64_t{INT32_MAX} * 6);
    EXPECT_EQ(CImg::calcSize(10, 4, 3, 0), 40u);
    EXPECT_EQ(CImg::calcSize(10, 4, 3, 1), 120u);
    EXPECT_EQ(CImg::calcSize(10, 4, 3, 3), 0u);
    EXPECT_EQ(CImg::calcSize(65536, 65536, 1, 0), uint64_t{1} << 32);
    // Products past 64 bits are held at the limit, so no size field matches.
    EXPECT_EQ(CImg::calcSize(INT32_MAX, INT32_MAX, INT32_MAX, 1), uint64_t{INT64_MAX});
    EXPECT_EQ(CImg::calcMinSync(INT32_MAX, INT32_MAX, INT32_MAX, 0), INT64_MAX / 8 + 1);
    EXPECT_EQ(CImg::calcMinSync(INT32_MAX, INT32_MAX, INT32_MIN, 0), INT64_MIN / 8);
}

TEST(CImg, CreateRefusedKeepsImageAndFailedBufferEmpties) {
    CImg img = Band(4, 2, 7);
    uint8_t* before = img.info().lpImage;
    EXPECT_FALSE(img.createImg(0, 2, 4, 8, 1, 0));
    EXPECT_EQ(img.info().lpImage, before);
    // A JPEG-order record passes the check with size 0 but never gets a
    // buffer: true and an empty image, as when memory runs out.
    tagIMAGEINFO jpeg = Record(4, 2, 4, 8, 1, 3, 0);
    EXPECT_TRUE(img.createImg(jpeg));
    EXPECT_TRUE(img.isNull());
    EXPECT_TRUE(AllZero(img.info()));
    // A width whose shortest line does not fit 32 bits is refused.
    EXPECT_FALSE(img.createImg(INT32_MAX, 1, 16, 3, 0));
}

TEST(CImg, CreateFormsFillTheRecord) {
    CImg a;
    ASSERT_TRUE(a.createImg(3, 4, 10, 20, 32, 8, 3, 0, 150, 200));
    const tagIMAGEINFO& r = a.info();
    EXPECT_EQ(r.size, kImageInfoSize);
    EXPECT_EQ(r.lXpos, 3);
    EXPECT_EQ(r.lYpos, 4);
    EXPECT_EQ(r.tImageSize, 640u);
    EXPECT_EQ(r.lXResolution, 150);
    EXPECT_EQ(r.lYResolution, 200);
    for (uint32_t i = 0; i < r.tImageSize; ++i) ASSERT_EQ(r.lpImage[i], 0);
    CImg b;
    ASSERT_TRUE(b.createImg(33, 2, 1, 1, 0));
    EXPECT_EQ(b.info().lSync, 5);
    EXPECT_EQ(b.info().tImageSize, 10u);
    CImg c;
    ASSERT_TRUE(c.createImg(a));
    EXPECT_NE(c.info().lpImage, a.info().lpImage);
    EXPECT_EQ(c.info().tImageSize, 640u);
    CImg j;
    ASSERT_TRUE(j.createJpg(100, 8, 3, 300, 300, 77));
    EXPECT_EQ(j.info().lHeight, -1);
    EXPECT_EQ(j.info().lSync, -1);
    EXPECT_EQ(j.info().ulRGBOrder, 3u);
    EXPECT_FALSE(j.convertToJpg(50));
}

TEST(CImg, AttachCopyAndSelf) {
    CImg a = Band(4, 3, 9);
    uint8_t* buf = a.info().lpImage;
    CImg b;
    b.attachImg(a);
    EXPECT_EQ(b.info().lpImage, buf);
    EXPECT_TRUE(AllZero(a.info()));
    b.attachImg(b);
    EXPECT_EQ(b.info().lpImage, buf);
    CImg& same = b;
    b = same;
    EXPECT_EQ(b.info().lpImage, buf);
    CImg c(b);
    EXPECT_NE(c.info().lpImage, buf);
    EXPECT_EQ(std::memcmp(c.info().lpImage, buf, 12), 0);
    CImg empty;
    c = empty;
    EXPECT_TRUE(c.isNull());
    EXPECT_TRUE(AllZero(c.info()));
}

TEST(CImg, AppendJoinsLinesAndRefusesMismatch) {
    CImg top = Band(4, 2, 1);
    CImg below = Band(6, 3, 2);
    ASSERT_TRUE(top.appendImg(below));
    const tagIMAGEINFO& r = top.info();
    EXPECT_EQ(r.lWidth, 6);
    EXPECT_EQ(r.lHeight, 5);
    EXPECT_EQ(r.lSync, 6);
    const uint8_t expect[5][6] = {{1, 1, 1, 1, 0, 0},
                                  {1, 1, 1, 1, 0, 0},
                                  {2, 2, 2, 2, 2, 2},
                                  {2, 2, 2, 2, 2, 2},
                                  {2, 2, 2, 2, 2, 2}};
    EXPECT_EQ(std::memcmp(r.lpImage, expect, sizeof expect), 0);

    CImg colour = Band(6, 1, 3, 3);
    CImg before(top);
    EXPECT_FALSE(top.appendImg(colour));
    CImg shifted = Band(6, 1, 4);
    shifted.info().lXpos = 1;
    EXPECT_FALSE(top.appendImg(shifted));
    EXPECT_EQ(top.info().lHeight, 5);
    EXPECT_EQ(std::memcmp(top.info().lpImage, before.info().lpImage, 30), 0);

    CImg empty;
    EXPECT_TRUE(top.appendImg(empty));
    EXPECT_TRUE(empty.appendImg(top));
    EXPECT_EQ(empty.info().lHeight, 5);
}

TEST(CImg, AppendTooTallKeepsImage) {
    CImg a = Band(2, 3, 5);
    CImg b = Band(2, 1, 6);
    a.info().lHeight = INT32_MAX; // a record a stage damaged
    EXPECT_FALSE(a.appendImg(b));
    EXPECT_FALSE(a.isNull());
}

TEST(CImgList, SplicesBandsInOrder) {
    CImgList list;
    const int32_t heights[] = {10, 10, 5};
    uint8_t tag = 1;
    for (int32_t h : heights) {
        CImg band = Band(8, h, tag++);
        ASSERT_TRUE(list.PushBack(band));
        EXPECT_TRUE(band.isNull());
    }
    EXPECT_EQ(list.summary().lHeight, 25);
    EXPECT_EQ(list.summary().tImageSize, 200u);
    CImg page;
    list.SpliceAndPopAll(page);
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(page.info().lHeight, 25);
    for (int32_t y = 0; y < 25; ++y) {
        const uint8_t want = y < 10 ? 1 : y < 20 ? 2 : 3;
        ASSERT_EQ(page.info().lpImage[y * 8 + 7], want) << y;
    }
}

TEST(CImgList, OneBandHandedOverWithoutCopy) {
    CImgList list;
    CImg band = Band(8, 4, 1);
    uint8_t* buf = band.info().lpImage;
    ASSERT_TRUE(list.PushBack(band));
    CImg page;
    list.SpliceAndPopAll(page);
    EXPECT_EQ(page.info().lpImage, buf);
}

TEST(CImgList, EmptyBandsAndMismatches) {
    CImgList list;
    CImg empty;
    EXPECT_TRUE(list.PushBack(empty));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.summary().lHeight, 0);

    CImg first = Band(8, 2, 1, 3, 0);
    ASSERT_TRUE(list.PushBack(first));
    CImg planar = Band(8, 2, 2, 3, 1);
    planar.info().lSync = 24; // same line size, other order
    planar.info().tImageSize = 24 * 2 * 3;
    EXPECT_EQ(list.push(planar), RTN_PAR);
    EXPECT_FALSE(planar.isNull());
    CImg narrow = Band(7, 2, 3, 3, 0);
    EXPECT_EQ(list.push(narrow), RTN_PAR);

    // A gray band of another order is accepted.
    CImgList gray;
    CImg g0 = Band(8, 2, 1);
    CImg g1 = Band(8, 2, 2);
    g1.info().ulRGBOrder = 1;
    ASSERT_TRUE(gray.PushBack(g0));
    EXPECT_TRUE(gray.PushBack(g1));
    EXPECT_EQ(gray.count(), 2u);
}

TEST(CImgList, ShortenedBandDoesNotOverflowTheJoin) {
    CImgList list;
    CImg a = Band(8, 4, 1);
    a.info().lHeight = 2; // a stage shortened the band in place
    CImg b = Band(8, 3, 2);
    ASSERT_TRUE(list.PushBack(a));
    ASSERT_TRUE(list.PushBack(b));
    CImg page;
    list.SpliceAndPopAll(page);
    ASSERT_EQ(page.info().lHeight, 5);
    ASSERT_EQ(page.info().tImageSize, 40u);
    EXPECT_EQ(page.info().lpImage[1 * 8], 1);
    EXPECT_EQ(page.info().lpImage[2 * 8], 2);
    EXPECT_EQ(page.info().lpImage[4 * 8 + 7], 2);
}

TEST(CImgList, NoBandLeavesOutAlone) {
    CImgList list;
    CImg out = Band(2, 2, 3);
    list.SpliceAndPopAll(out);
    EXPECT_FALSE(out.isNull());
}

TEST(CTvkRaster, SizeAndClear) {
    CTvkRaster r;
    ASSERT_TRUE(r.SetSize(16));
    uint8_t* p = r.GetPtr();
    EXPECT_FALSE(r.SetSize(0));
    EXPECT_EQ(r.GetPtr(), p);
    EXPECT_EQ(r.GetSize(), 16u);
    r.Clear();
    EXPECT_EQ(r.GetPtr(), nullptr);
    EXPECT_EQ(r.GetSize(), 0u);
}

// A page's bands are let go of together when the page is joined: so many
// band buffers must not push the page buffers out of the store, or every
// page starts on fresh memory and its faults.
TEST(CImgBufferStore, ManyBandBuffersLeaveThePageBuffersKept) {
    CImg::trimBufferStore();
    CImg pages[2];
    for (CImg& page : pages) ASSERT_TRUE(page.createImg(2480, 3508, 8, 1, 0, 300, 300));
    const size_t pageBytes = pages[0].info().tImageSize;
    for (CImg& page : pages) page.deleteImg();
    {
        std::vector<CImg> bands(200);
        for (CImg& band : bands) ASSERT_TRUE(band.createImg(2480, 32, 8, 1, 0, 300, 300));
    }
    EXPECT_GE(CImg::bufferStoreBytes(), 2 * pageBytes);
    const size_t kept = CImg::bufferStoreBytes();
    CImg next;
    ASSERT_TRUE(next.createImg(2480, 3508, 8, 1, 0, 300, 300));
    EXPECT_EQ(CImg::bufferStoreBytes(), kept - pageBytes) << "the next page comes from the store";
    CImg::trimBufferStore();
    EXPECT_EQ(CImg::bufferStoreBytes(), 0u);
}
