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

}  // namespace
