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

// Cropping scans with over-scan and sizes each page by the page information
// the scanner reports after it (the library's corner stages do the cutting).
TEST_F(Scan, CroppingSizesPagesByThePageInformation) {
    Watchdog dog(60);
    open("paper=card;sheets=2;pagedone=2");
    tagScanParam p = scanRecord(200, 1, 0, 80);
    p.cropping = 1;
    const std::vector<Page> pages = scanAll(p);
    ASSERT_EQ(pages.size(), 3u) << std::hex << pages[0].result;
    const auto window = device->windows().at(0);
    EXPECT_EQ(window.top, -472);
    EXPECT_EQ(window.length, static_cast<std::uint32_t>(80 / 25.4 * 1200) + 944);
    const kdvirtual::PageInfo info = device->lastPageInfo();
    ASSERT_GT(info.lengthRead, 0u);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pages[i].result, kderr::kSuccess);
        EXPECT_NEAR(pages[i].height, info.lengthRead * 200.0 / 1200, 1);
    }
    EXPECT_EQ(pages[2].result, kderr::kNoDocument);
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
