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
    // Both sides as long as the window: the lag between the sensors is not
    // part of either page.
    EXPECT_EQ(pages[0].height, 3507u);
    EXPECT_EQ(pages[1].height, 3507u);
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
// the scanner reports after it (the library's stages do the cutting).
TEST_F(Scan, CroppingSizesPagesByThePageInformation) {
    Watchdog dog(60);
    open("paper=card;sheets=2;pagedone=2");
    LibraryTap tap;
    scanner->SetImaging(&tap);
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
    EXPECT_EQ(tap.lengths, (std::vector<std::int32_t>(2, static_cast<std::int32_t>(info.lengthRead * 200 / 1200))));
    EXPECT_EQ(pages[0].result, kderr::kSuccess);
    EXPECT_EQ(pages[1].result, kderr::kSuccess);
    EXPECT_EQ(pages[2].result, kderr::kNoDocument);
    scanner->SetImaging(nullptr);
}

// Page-edge detection reads both sides over-scanned and lets the library
// find each sheet's corners, straighten it and cut it to its size. The
// sheets' true corners come from the virtual scanner's own geometry.
struct EdgeRow {
    const char* name;
    double skew, shift;           // degrees clockwise, mm right (as the front is seen)
    std::uint32_t mode, sides;
    double low;                   // how far a corner may lie towards the origin, pixels
};

TEST_F(Scan, PageEdgeDetectionFindsEachSheet) {
    Watchdog dog(120);
    constexpr int kDpi = 300;
    constexpr double kWidthMm = 100, kHeightMm = 140;
    // A corner lies within 2 pixels of the sheet's; the detector's integer
    // corner construction on a slant truncates towards the origin by up to
    // 3.5 pixels more (its own tests allow the same).
    const EdgeRow rows[] = {
        {"straight, shifted, duplex colour", 0, 15, 2, 2, -2},
        {"skewed, front only, gray", 1.5, 0, 1, 0, -5.5},
        {"skewed the other way, shifted, duplex colour", -2.5, -10, 2, 2, -5.5},
    };
    for (const EdgeRow& row : rows) {
        SCOPED_TRACE(row.name);
        close();
        char settings[160];
        std::snprintf(settings, sizeof settings, "paper=%gx%gmm;sheets=2;colour=1;skew=%g;shift=%g",
                      kWidthMm, kHeightMm, row.skew, row.shift);
        open(settings);
        LibraryTap tap;
        scanner->SetImaging(&tap);
        tagScanParam p = scanRecord(kDpi, row.mode, row.sides, 200);
        p.pageEdgeDetection = 1;
        const std::vector<Page> pages = scanAll(p);
        scanner->SetImaging(nullptr);

        // Both sides' corners, sheet by sheet.
        const std::vector<kdvirtual::Sheet> sheets = kdvirtual::generatedSheets(device->config());
        kdsensor::ScanFormat format;
        format.xdpi = kDpi;
        const double topMm = device->windows().at(0).top / 1200.0 * 25.4;
        ASSERT_EQ(tap.corners.size(), 2u);
        for (int k = 0; k < 2; ++k)
            for (int s = 0; s < 2; ++s) {
                SCOPED_TRACE("sheet " + std::to_string(k + 1) + (s == 0 ? " front" : " back"));
                const auto truth = kdvirtual::sideCorners(sheets[static_cast<std::size_t>(k)], s,
                                                          format.collectedWidth(), kDpi, kDpi, topMm);
                const LibraryTap::Corners& c = tap.corners[static_cast<std::size_t>(k)][static_cast<std::size_t>(s)];
                const Tvk::Imvra::tagKDPOINT found[4] = {c.LeftTop, c.RightTop, c.LeftBottom, c.RightBottom};
                for (int i = 0; i < 4; ++i) {
                    const double dx = found[i].x - truth[static_cast<std::size_t>(i)].x;
                    const double dy = found[i].y - truth[static_cast<std::size_t>(i)].y;
                    EXPECT_TRUE(dx >= row.low && dx <= 2 && dy >= row.low && dy <= 2)
                        << "corner " << i << ": " << found[i].x << "," << found[i].y << " for "
                        << truth[static_cast<std::size_t>(i)].x << "," << truth[static_cast<std::size_t>(i)].y;
                }
            }

        // The pages come out upright at the sheet's size, in order, each
        // with its side's mark at its top-left corner.
        const std::size_t perSheet = row.sides == 2 ? 2 : 1;
        ASSERT_EQ(pages.size(), 2 * perSheet + 1);
        EXPECT_EQ(pages.back().result, kderr::kNoDocument);
        for (std::size_t i = 0; i + 1 < pages.size(); ++i) {
            const Page& page = pages[i];
            SCOPED_TRACE(i);
            ASSERT_EQ(page.result, kderr::kSuccess);
            EXPECT_EQ(page.pixelType, row.mode);
            EXPECT_NEAR(page.width, kWidthMm / 25.4 * kDpi, 2);
            EXPECT_NEAR(page.height, kHeightMm / 25.4 * kDpi, 3);
            const std::string side = row.sides == 2 && i % 2 == 1 ? "B" : "F";
            EXPECT_EQ(markOf(page, kDpi, kWidthMm), std::to_string(i / perSheet + 1) + side);
        }
    }
}

// Kept raw pages (the benchmark's way of drawing before timing) scan to
// the same pages as pages drawn while they are read.
TEST_F(Scan, KeptRawPagesScanTheSame) {
    Watchdog dog(60);
    std::vector<Page> pages[2];
    for (int kept = 0; kept < 2; ++kept) {
        close();
        open("paper=60x40mm;sheets=2;colour=1;content=mixed");
        device->keepRawPages(kept == 1);
        pages[kept] = scanAll(scanRecord(150, 2, 2, 40));
    }
    ASSERT_EQ(pages[0].size(), 5u);
    ASSERT_EQ(pages[1].size(), pages[0].size());
    for (std::size_t i = 0; i < pages[0].size(); ++i) {
        EXPECT_EQ(pages[1][i].result, pages[0][i].result) << i;
        EXPECT_TRUE(pages[1][i].pixels == pages[0][i].pixels) << i;
    }
    EXPECT_NE(device->keptRawPage(2).raw, nullptr);
    EXPECT_EQ(device->keptRawPage(3).raw, nullptr);
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

// A READ block the image thread has emptied serves a later READ, holding
// the old page's bytes until it is filled, and a short READ hands on a copy
// of its bytes while its block serves the next one: a scan paced like a
// scanner (short READs), and one whose reading the flow control holds and
// resumes again and again (blocks kept across the holds), give the same
// pages as one read at once (full blocks), in one batch whose pages end
// mid-block.
TEST_F(Scan, ReusedReadBlocksCarryNoOldBytes) {
    Watchdog dog(120);
    struct Way {
        const char* name;
        const char* settings;
        std::uint64_t highMark, lowMark;   // 0: the default flow control
    };
    const Way ways[] = {
        {"read at once", "paper=100x140mm;sheets=3;colour=1;content=mixed", 0, 0},
        {"paced", "paper=100x140mm;sheets=3;colour=1;content=mixed;rate=4000", 0, 0},
        {"held by the flow control", "paper=100x140mm;sheets=3;colour=1;content=mixed", 5u << 20, 1u << 20},
    };
    std::vector<Page> pages[std::size(ways)];
    for (std::size_t w = 0; w < std::size(ways); ++w) {
        close();
        open(ways[w].settings);
        if (ways[w].highMark != 0) {
            SScanTuning tuning;
            tuning.highMark = ways[w].highMark;
            tuning.lowMark = ways[w].lowMark;
            scanner->SetScanTuning(tuning);
        }
        tagScanParam p = scanRecord(300, 2, 2, 140);
        p.pageEdgeDetection = 1;
        p.continuousFeeding = 1;   // one batch: the blocks stay between pages
        pages[w] = scanAll(p);
    }
    ASSERT_EQ(pages[0].size(), 7u);
    for (std::size_t w = 1; w < std::size(ways); ++w) {
        ASSERT_EQ(pages[w].size(), pages[0].size()) << ways[w].name;
        for (std::size_t i = 0; i < pages[0].size(); ++i) {
            SCOPED_TRACE(testing::Message() << ways[w].name << ", page " << i);
            EXPECT_EQ(pages[w][i].result, pages[0][i].result);
            EXPECT_EQ(pages[w][i].height, pages[0][i].height);
            EXPECT_TRUE(pages[w][i].pixels == pages[0][i].pixels);
        }
    }
}

}  // namespace
