// The scan path under the scanner's faults: each row injects one fault at
// sheet 2 of a stack of three and checks every ScanPage result in order, the
// pages before the fault intact, and both threads ended.
#include "ScanFixture.h"

#include <atomic>
#include <memory>
#include <optional>

using namespace kdscan;

namespace {

struct FaultRow {
    const char* name;
    const char* fault;          // the settings item, "" for none
    bool continueOnDoubleFeed;
    std::vector<KdError> results;
    // Instead of a device fault: a thread whose allocations for sheet 2
    // fail from the given one on (1: the page's own records).
    std::optional<KdScanThread> allocationFailure = std::nullopt;
    int failingAllocation = 1;
};

void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

class ScanFaults : public VirtualScan, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(ScanFaults, ResultsInOrder) {
    Watchdog dog(60);
    const FaultRow& row = GetParam();
    std::string settings = "paper=60x40mm;sheets=3";
    if (*row.fault) settings += std::string(";fault=") + row.fault;
    open(settings);
    if (const std::optional<KdScanThread> thread = row.allocationFailure) {
        SScanTuning tuning;
        // Only that thread counts, so the count needs no lock.
        auto calls = std::make_shared<int>(0);
        tuning.allocationFails = [thread, calls, from = row.failingAllocation](KdScanThread t, unsigned page) {
            return t == *thread && page >= 2 && ++*calls >= from;
        };
        scanner->SetScanTuning(tuning);
    }
    tagScanParam p = scanRecord(150, 1, 0, 40);
    p.continuousFeeding = 1;
    p.continueOnDoubleFeed = row.continueOnDoubleFeed;
    KdError start = 0;
    const std::vector<Page> pages = scanAll(p, &start);
    ASSERT_EQ(start, kderr::kSuccess);
    std::vector<KdError> results;
    for (const Page& page : pages) results.push_back(page.result);
    EXPECT_EQ(results, row.results);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (pages[i].result != kderr::kSuccess && pages[i].result != kderr::kDoubleFeedDelivered)
            continue;
        EXPECT_EQ(markOf(pages[i], 150, 60), std::to_string(i + 1) + "F") << i;
    }
}

constexpr KdError kOk = kderr::kSuccess;
constexpr KdError kEnd = kderr::kBatchEndNoPaper;

INSTANTIATE_TEST_SUITE_P(
    Rows, ScanFaults,
    ::testing::Values(
        FaultRow{"None", "", false, {kOk, kOk, kOk, kEnd}},
        FaultRow{"JamMidPage", "jam@s2:0.5", false, {kOk, kderr::kPaperJam}},
        FaultRow{"DoubleFeed", "doublefeed@s2:0.5", false, {kOk, kderr::kDoubleFeed}},
        FaultRow{"DoubleFeedContinue", "doublefeed@s2:0.5", true,
                 {kOk, kderr::kDoubleFeedDelivered, kEnd}},
        // A double feed on the first sheet ends the batch as after any page.
        FaultRow{"DoubleFeedContinueOnTheFirstSheet", "doublefeed@s1:0.5", true,
                 {kderr::kDoubleFeedDelivered, kEnd}},
        FaultRow{"JamOnTheFirstSheet", "jam@s1:0.5", false, {kderr::kPaperJam}},
        FaultRow{"JamAtTheStartOfAPage", "jam@s2:0", false, {kOk, kderr::kPaperJam}},
        FaultRow{"JamAtTheLastByteOfAPage", "jam@s2:1", false, {kOk, kderr::kPaperJam}},
        FaultRow{"TimeoutOnTheFirstSheet", "timeout@s1:0.5", false, {kderr::kTimeout}},
        // READs that end well with no data are waited out, mid-page and
        // before a page's first byte.
        FaultRow{"NoDataMidPage", "nodata@s2:0.5", false, {kOk, kOk, kOk, kEnd}},
        FaultRow{"NoDataAtThePageStart", "nodata@s1", false, {kOk, kOk, kOk, kEnd}},
        // While the scanner is asked whether a page is done: the page's data
        // is all there, but the page is not whole until the answer.
        FaultRow{"JamAtThePageDoneByte", "jam@s2:done", false, {kOk, kderr::kPaperJam}},
        FaultRow{"DisconnectAtThePageDoneByte", "disconnect@s1:done", false, {kderr::kDeviceLost}},
        FaultRow{"TimeoutAtThePageDoneByte", "timeout@s3:done", false, {kOk, kOk, kderr::kTimeout}},
        FaultRow{"CoverOpen", "cover@s2:0.5", false, {kOk, kderr::kCoverOpen}},
        FaultRow{"NoPaperAfterPages", "nopaper@s2", false, {kOk, kEnd}},
        FaultRow{"DisconnectMidPage", "disconnect@s2:0.5", false, {kOk, kderr::kDeviceLost}},
        FaultRow{"BulkTimeout", "timeout@s2:0.5", false, {kOk, kderr::kTimeout}},
        FaultRow{"ShortReadMidPage", "shortread@s2:0.5", false, {kOk, kOk, kOk, kEnd}},
        FaultRow{"PipeStall", "stall@s2:0.5", false, {kOk, kderr::kSequenceError}},
        FaultRow{"UnitAttention", "unitattention@s2:0.5", false, {kOk, kderr::kNotReady}},
        FaultRow{"AllocationFailureInTheReaderAtAPage", "", false, {kOk, kderr::kOutOfMemory},
                 KdScanThread::Reader, 1},
        FaultRow{"AllocationFailureInTheReaderAtABlock", "", false, {kOk, kderr::kOutOfMemory},
                 KdScanThread::Reader, 2},
        FaultRow{"AllocationFailureInTheImageThreadAtAPage", "", false, {kOk, kderr::kOutOfMemory},
                 KdScanThread::Image, 1},
        FaultRow{"AllocationFailureInTheImageThreadAtABand", "", false, {kOk, kderr::kOutOfMemory},
                 KdScanThread::Image, 2}),
    [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

class ScanStops : public VirtualScan {};

// The cover opened while flow control holds the reader: the check it makes
// while held finds it, the pages read before come out whole and in order,
// then the cover's error; nothing waits for ever.
TEST_F(ScanStops, CoverOpenedWhileTheReaderIsHeld) {
    Watchdog dog(60);
    open("paper=60x60mm;sheets=6");
    SScanTuning tuning;
    tuning.highMark = 1;   // any queued page holds the reader
    tuning.lowMark = 1;
    // Time runs fast: every look at the clock is a second later.
    auto seconds = std::make_shared<std::atomic<int>>(0);
    tuning.clock = [seconds] { return static_cast<double>(seconds->fetch_add(1)); };
    tuning.noDataTimeout = 1e9;
    scanner->SetScanTuning(tuning);
    tagScanParam p = scanRecord(300, 1, 0, 60);
    p.continuousFeeding = 1;
    tagScanParam q;
    ASSERT_EQ(startPastUnitAttention(p, q), kderr::kSuccess);
    ASSERT_EQ(scanner->ScanPage(&q), kderr::kSuccess);
    // Held once the status queries that need the scanner answer busy.
    KdError e = kderr::kSuccess;
    std::uint8_t ready = 0;
    for (int i = 0; i < 500 && e != kderr::kDeviceBusy; ++i) {
        e = scanner->GetStatus("DocumentReadyStatus", &ready);
        if (e != kderr::kDeviceBusy) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(e, kderr::kDeviceBusy);
    kdvirtual::FaultSpec cover;
    cover.kind = kdvirtual::FaultKind::Cover;
    device->injectFault(cover);
    std::vector<KdError> results{kderr::kSuccess};
    std::vector<Page> pages(1);
    for (int i = 0; i < 8; ++i) {
        Page page;
        unsigned long bpl = 0;
        scanner->GetThumbnailImageInfo(nullptr, nullptr, &bpl, nullptr, nullptr);
        page.width = q.imageWidth;
        page.height = q.imageLength;
        page.bytesPerLine = bpl;
        page.pixelType = q.pixelType;
        page.pixels.assign(bpl * page.height, 0);
        unsigned long lines = page.height;
        scanner->ReadLines(page.pixels.data(), bpl, &lines);
        pages.back() = std::move(page);
        scanner->ScanComplete();
        e = scanner->ScanPage(&q);
        results.push_back(e);
        pages.emplace_back();
        if (e != kderr::kSuccess) break;
    }
    EXPECT_EQ(results.back(), kderr::kCoverOpen);
    EXPECT_GE(results.size(), 3u);   // a page or more was queued before the hold
    EXPECT_LT(results.size(), 7u);
    for (std::size_t i = 0; i + 1 < results.size(); ++i) {
        EXPECT_EQ(results[i], kderr::kSuccess) << i;
        EXPECT_EQ(markOf(pages[i], 300, 60), std::to_string(i + 1) + "F") << i;
    }
    EXPECT_EQ(scanner->FinishScan(), kderr::kSuccess);
    EXPECT_FALSE(scanner->ReaderRunning());
    EXPECT_FALSE(scanner->ImageThreadRunning());
}

TEST_F(ScanStops, NoPaperAtStart) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=0");
    tagScanParam p = scanRecord(150, 1, 0, 40);
    p.continuousFeeding = 1;
    KdError start = 0;
    EXPECT_TRUE(scanAll(p, &start).empty());
    EXPECT_EQ(start, kderr::kNoDocument);
    // Single sheets: the SCAN finds none.
    p.continuousFeeding = 0;
    const std::vector<Page> pages = scanAll(p, &start);
    EXPECT_EQ(start, kderr::kSuccess);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].result, kderr::kNoDocument);
}

TEST_F(ScanStops, AbortScanEndsTheBatch) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=8;rate=300");
    tagScanParam p = scanRecord(150, 1, 0, 40);
    p.continuousFeeding = 1;
    tagScanParam q = p;
    ASSERT_EQ(startPastUnitAttention(p, q), kderr::kSuccess);
    ASSERT_EQ(scanner->ScanPage(&q), kderr::kSuccess);
    ASSERT_EQ(scanner->ScanComplete(), kderr::kSuccess);
    EXPECT_EQ(scanner->AbortScan(), kderr::kSuccess);
    EXPECT_EQ(scanner->AbortState(), 1u);
    KdError e = kderr::kSuccess;
    for (int i = 0; i < 8 && e == kderr::kSuccess; ++i) {
        e = scanner->ScanPage(&q);
        if (e == kderr::kSuccess) scanner->ScanComplete();
    }
    EXPECT_EQ(e, kderr::kUserAbort);
    EXPECT_EQ(scanner->FinishScan(), kderr::kSuccess);
    EXPECT_EQ(scanner->AbortState(), 0u);
    EXPECT_LT(device->deliveredSheets().size(), 8u);
    // The next scan starts clean.
    q = p;
    EXPECT_EQ(scanner->StartScan(&q), kderr::kSuccess);
    EXPECT_EQ(scanner->FinishScan(), kderr::kSuccess);
}

TEST_F(ScanStops, NextScanAfterAJamDischargesFirst) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=3;fault=jam@s2:0.5");
    tagScanParam p = scanRecord(150, 1, 0, 40);
    p.continuousFeeding = 1;
    std::vector<Page> pages = scanAll(p);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].result, kderr::kPaperJam);
    EXPECT_EQ(scanner->GetStatus("ScannerErrorStatus", nullptr), kderr::kPaperJam);
    const auto discharges = [&] {
        int n = 0;
        for (const auto& c : device->commandLog()) n += c.opcode == 0x31 && c.cdb[1] == 4;
        return n;
    };
    EXPECT_EQ(discharges(), 0);
    pages = scanAll(p);
    EXPECT_EQ(discharges(), 1);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(markOf(pages[0], 150, 60), "3F");
    EXPECT_EQ(pages[1].result, kderr::kBatchEndNoPaper);
    EXPECT_EQ(device->deliveredSheets(), (std::vector<int>{1, 3}));
}

// A block that comes short (the service block, read after a continuous
// batch has loaded its first sheet) is an I/O error, never decoded: the
// start fails with the caller's record as it was, and the next start
// discharges the loaded sheet, as after any error, then scans the rest.
TEST_F(ScanStops, AShortBlockFailsTheStartAndTheNextStartScansOn) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=3;unitattention=0;fault=shortread@op28");
    tagScanParam p = scanRecord(150, 1, 0, 40);
    p.continuousFeeding = 1;
    tagScanParam q = p;
    EXPECT_EQ(scanner->StartScan(&q), kderr::kIOError);
    EXPECT_EQ(q.top, p.top);
    EXPECT_EQ(q.length, p.length);
    EXPECT_EQ(q.scanLines, p.scanLines);
    EXPECT_EQ(q.imageLength, p.imageLength);
    KdError start = 0;
    const std::vector<Page> pages = scanAll(p, &start);
    EXPECT_EQ(start, kderr::kSuccess);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(markOf(pages[0], 150, 60), "2F");
    EXPECT_EQ(markOf(pages[1], 150, 60), "3F");
    EXPECT_EQ(pages[2].result, kEnd);
    EXPECT_EQ(device->deliveredSheets(), (std::vector<int>{2, 3}));
}

TEST_F(ScanStops, StopKeyCancels) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=5;rate=2000");
    // Time runs fast: every look at the clock is a second later.
    auto seconds = std::make_shared<std::atomic<int>>(0);
    SScanTuning tuning;
    tuning.clock = [seconds] { return static_cast<double>(seconds->fetch_add(1)); };
    tuning.noDataTimeout = 1e9;
    scanner->SetScanTuning(tuning);
    scanner->SetEzKeyAbort(1u << 2);
    tagScanParam p = scanRecord(150, 1, 0, 40);
    p.continuousFeeding = 1;
    tagScanParam q = p;
    ASSERT_EQ(startPastUnitAttention(p, q), kderr::kSuccess);
    device->pressKey(3);
    KdError e = kderr::kSuccess;
    for (int i = 0; i < 6 && e == kderr::kSuccess; ++i) {
        e = scanner->ScanPage(&q);
        if (e == kderr::kSuccess) scanner->ScanComplete();
    }
    EXPECT_EQ(e, kderr::kUserAbort);
    EXPECT_EQ(scanner->FinishScan(), kderr::kSuccess);
}

}  // namespace
