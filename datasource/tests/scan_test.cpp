// Scans of the virtual KD-720 through the scanner object, its threads and the
// image library.
#include "ScanFixture.h"

using namespace kdscan;

namespace {

class Scan : public VirtualScan {};

TEST_F(Scan, SimplexGrayDeliversEveryPageInOrder) {
    Watchdog dog(60);
    open("paper=60x50mm;sheets=3");
    KdError start = 0;
    const std::vector<Page> pages = scanAll(scanRecord(200, 1, 0, 50), &start);
    ASSERT_EQ(start, kderr::kSuccess);
    ASSERT_EQ(pages.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pages[i].result, kderr::kSuccess);
        EXPECT_EQ(pages[i].pixelType, 1u);
        EXPECT_EQ(markOf(pages[i], 200, 60), std::to_string(i + 1) + "F");
    }
    EXPECT_EQ(pages[3].result, kderr::kNoDocument);
}

TEST_F(Scan, DuplexColourA4) {
    Watchdog dog(120);
    open("paper=a4;sheets=1;colour=1;content=mixed");
    tagScanParam p = scanRecord(300, 2, 2, 297);
    const std::vector<Page> pages = scanAll(p);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].result, kderr::kSuccess);
    EXPECT_EQ(pages[0].pixelType, 2u);
    EXPECT_EQ(pages[0].height, 3507u);
    EXPECT_EQ(markOf(pages[0], 300, 210), "1F");
    EXPECT_EQ(markOf(pages[1], 300, 210), "1B");
    EXPECT_EQ(pages[2].result, kderr::kNoDocument);
    EXPECT_EQ(device->deliveredSheets(), std::vector<int>{1});
}

TEST_F(Scan, SideBySideJoinsBothSides) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=1");
    tagScanParam p = scanRecord(150, 1, 2, 40);
    p.sideBySide = 1;
    const std::vector<Page> pages = scanAll(p);
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[0].result, kderr::kSuccess);
    Page left = pages[0], right = pages[0];
    left.width = right.width = pages[0].width / 2;
    right.pixels.erase(right.pixels.begin(), right.pixels.begin() + static_cast<long>(left.width));
    EXPECT_EQ(markOf(left, 150, 60), "1F");
    EXPECT_EQ(markOf(right, 150, 60), "1B");
}

// The library with the page length of every page's first band noted.
class PageLengths final : public IKdImaging {
public:
    std::vector<std::int32_t> lengths;
    IKdImaging& lib = LibraryImaging();
    void setOffset(long o) override { lib.setOffset(o); }
    long getOffset(long r) override { return lib.getOffset(r); }
    long getDummyPixelCount(long r, int row) override { return lib.getDummyPixelCount(r, row); }
    int setOcrPath(const char* f) override { return lib.setOcrPath(f); }
    RTN filterSimplex(State s, CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i) override {
        if (s == Tvk::Imvra::IMAGE_WHOLE || s == Tvk::Imvra::IMAGE_FIRST) lengths.push_back(i->imageIn.lHeight);
        return lib.filterSimplex(s, out, in, i);
    }
    RTN filterDuplex(State s, CImg& f, CImg& b, CImg& in, Tvk::Imvra::tagFILTERDUPLEXINFO* i) override {
        if (s == Tvk::Imvra::IMAGE_WHOLE || s == Tvk::Imvra::IMAGE_FIRST) lengths.push_back(i->imageIn.lHeight);
        return lib.filterDuplex(s, f, b, in, i);
    }
    RTN normalFilterSimplex(CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i, bool front) override {
        return lib.normalFilterSimplex(out, in, i, front);
    }
    void adjustLightFirst(Tvk::Imvra::tagADJUSTINFO* i, long m) override { lib.adjustLightFirst(i, m); }
    RTN adjustLightNext(CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override { return lib.adjustLightNext(raw, i); }
    RTN adjustLightLast(CImg& f, CImg& b, CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override {
        return lib.adjustLightLast(f, b, raw, i);
    }
    RTN adjustLightFix(CImg& w, CImg& b, Tvk::Imvra::tagADJUSTINFO* i, Tvk::Imvra::tagSIDE s,
                       unsigned char* c, unsigned long n) override {
        return lib.adjustLightFix(w, b, i, s, c, n);
    }
};

// Cropping scans with over-scan and sizes each page by the page information
// the scanner reports after it (the library's stages do the cutting).
TEST_F(Scan, CroppingSizesPagesByThePageInformation) {
    Watchdog dog(60);
    open("paper=card;sheets=2;pagedone=2");
    PageLengths lengths;
    scanner->SetImaging(&lengths);
    tagScanParam p = scanRecord(200, 1, 0, 80);
    p.cropping = 1;
    const std::vector<Page> pages = scanAll(p);
    ASSERT_EQ(pages.size(), 3u) << std::hex << pages[0].result;
    const auto window = device->windows().at(0);
    EXPECT_EQ(window.top, -472);
    EXPECT_EQ(window.length, static_cast<std::uint32_t>(80 / 25.4 * 1200) + 944);
    const kdvirtual::PageInfo info = device->lastPageInfo();
    ASSERT_GT(info.lengthRead, 0u);
    ASSERT_LT(info.lengthRead, window.length);
    EXPECT_EQ(lengths.lengths, (std::vector<std::int32_t>(2, static_cast<std::int32_t>(info.lengthRead * 200 / 1200))));
    EXPECT_EQ(pages[0].result, kderr::kSuccess);
    EXPECT_EQ(pages[1].result, kderr::kSuccess);
    EXPECT_EQ(pages[2].result, kderr::kNoDocument);
    scanner->SetImaging(nullptr);
}

TEST_F(Scan, BlankPageIsReported) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=3;blank=2f");
    tagScanParam p = scanRecord(150, 1, 0, 40);
    p.detectionFlag3 = 1;
    const std::vector<Page> pages = scanAll(p);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[0].blank, 0);
    EXPECT_EQ(pages[1].blank, 1);
    EXPECT_EQ(pages[2].blank, 0);
}

}  // namespace
