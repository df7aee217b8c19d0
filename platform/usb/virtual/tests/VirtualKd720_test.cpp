// The virtual KD-720 over its pipes: answers, blocks, strict protocol, the
// paper path, page streams and calibration scans.
#include "VirtualHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kdvtest;
using namespace kdvirtual;

namespace {

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[1] << 8 | p[0]); }

struct ScanSetup {
    bool duplex = false, colour = false, continuous = false, overScan = false;
    int xres = 300, yres = 100;
    std::int32_t top = 0;
    std::uint32_t length = 3000; // 2.5 inch
};

void setUp(Host& h, const ScanSetup& s) {
    h.settle();
    for (int id = 0; id < 2; ++id)
        ASSERT_FALSE(h.setWindow(id, s.xres, s.yres, s.top, s.length, s.colour, 8).check);
    ASSERT_FALSE(h.scanMode32(s.duplex ? 2 : 0, s.continuous, s.overScan).check);
}

std::vector<std::uint8_t> ids(const ScanSetup& s) {
    return s.duplex ? std::vector<std::uint8_t>{0, 1} : std::vector<std::uint8_t>{0};
}

// The raw page the model gives for a sheet with the device's current state.
std::vector<std::uint8_t> expectedPage(const VirtualKd720& d, const Sheet& sheet, const ScanSetup& s) {
    kdsensor::ScanFormat f;
    f.xdpi = s.xres;
    f.layout = d.config().layout;
    f.colour = s.colour;
    f.back = s.duplex;
    const int w = f.collectedWidth();
    int lines = static_cast<int>(s.length * static_cast<std::uint32_t>(s.yres) / 1200);
    if (s.overScan) {
        const double end = std::min<double>(s.top + static_cast<double>(s.length), sheet.heightMm / 25.4 * 1200 + 472);
        lines = static_cast<int>((end - s.top) * s.yres / 1200);
    }
    const int ch = s.colour || sheet.side[0].colour ? 3 : 1;
    const std::uint8_t backing = d.config().blackBacking ? 20 : 245;
    auto front = renderSide(sheet, 0, w, lines, s.xres, s.yres, s.top * 25.4 / 1200, ch, backing);
    auto back = renderSide(sheet, 1, w, lines, s.xres, s.yres, s.top * 25.4 / 1200, ch, backing);
    kdsensor::SideImage fi{front.data(), w, lines, ch, static_cast<std::size_t>(w) * ch};
    kdsensor::SideImage bi{back.data(), w, lines, ch, static_cast<std::size_t>(w) * ch};
    kdsensor::EncodeOptions o;
    o.format = f;
    o.exposure = kdsensor::Exposure::Model;
    o.model = &d.model();
    o.registers = d.registers();
    o.leadIn = backing;
    o.lag = -static_cast<int>(static_cast<long long>(s.yres) * d.config().offsetUm / 25400);
    return kdsensor::encodePage(o, &fi, s.duplex ? &bi : nullptr);
}

Sheet sheetNumber(const std::string& settings, int n) {
    VirtualConfig c;
    std::string e;
    EXPECT_TRUE(parseSettings(settings, c, e));
    return generatedSheets(c).at(static_cast<std::size_t>(n - 1));
}

} // namespace

TEST(VirtualKd720, InquiryNamesTheScannerAndItsGeometry) {
    auto d = makeDevice("ultrasonic=1");
    Host h(*d);
    Reply r = h.cmd({0x12, 0, 0, 0, 0x40}, nullptr, 64);
    ASSERT_FALSE(r.check);
    ASSERT_EQ(r.data.size(), 64u);
    EXPECT_EQ(r.data[0], 6);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "TAVRO   ");
    r = h.cmd({0x12, 1, 0xF0, 0, 0x30}, nullptr, 48);
    ASSERT_EQ(r.data.size(), 48u);
    EXPECT_EQ(r.data[5] << 8 | r.data[6], 600);
    EXPECT_EQ(be32(r.data.data() + 20), 5184u);
    EXPECT_NEAR(be32(r.data.data() + 24) * 25.4 / 600, 3000.0, 0.1);
    EXPECT_EQ(r.data[31] & 0x40, 0x40);
}

TEST(VirtualKd720, BlocksCarryOffsetDummyValueSerialAndCountedSheets) {
    for (int layout : {0, 1}) {
        auto d = makeDevice("layout=" + std::to_string(layout) + ";serial=ABC123;paper=card;sheets=2");
        Host h(*d);
        h.settle();
        Reply r = h.readData(0x8C, 0, 128);
        ASSERT_EQ(r.data.size(), 128u);
        EXPECT_EQ(static_cast<std::int32_t>(be32(r.data.data())), -7946);
        EXPECT_EQ(be32(r.data.data() + 60), layout == 0 ? 0u : 3u);
        EXPECT_EQ(std::string(r.data.begin() + 108, r.data.begin() + 114), "ABC123");
        r = h.readData(0x8C, 1, 128);
        EXPECT_EQ(be32(r.data.data() + 16), 355600u);
        EXPECT_EQ(r.data[44] << 8 | r.data[45], 32768);
    }
    // SEND writes the service block; feeding counts on from what was written.
    auto d = makeDevice("paper=card;sheets=1");
    Host h(*d);
    ScanSetup s;
    setUp(h, s);
    std::vector<std::uint8_t> block(128, 0);
    block[7] = 100;
    EXPECT_FALSE(h.cmd({0x2A, 0, 0x8C, 0, 0, 0, 0, 0, 128}, &block).check);
    ASSERT_FALSE(h.scan({0}).check);
    readPage(h);
    EXPECT_EQ(be32(h.readData(0x8C, 0, 128).data.data() + 4), 101u);
    EXPECT_EQ(be32(h.readData(0x80, 0, 16).data.data() + 12), 1u);
}

TEST(VirtualKd720, LightCurveBlockHoldsUnityCurvesForEverySideResolutionAndLighting) {
    auto d = makeDevice("1");
    Host h(*d);
    h.settle();
    std::vector<std::uint8_t> block;
    for (std::uint32_t a = 0; a < kLightCurveSize; a += 8192) {
        const std::uint32_t addr = kLightCurveAddress + a;
        Reply r = h.cmd({0x3B, 0, static_cast<std::uint8_t>(addr >> 24), static_cast<std::uint8_t>(addr >> 16),
                         static_cast<std::uint8_t>(addr >> 8), static_cast<std::uint8_t>(addr), 0, 0x20, 0x00},
                        nullptr, 8192);
        ASSERT_FALSE(r.check);
        block.insert(block.end(), r.data.begin(), r.data.end());
    }
    ASSERT_EQ(block.size(), kLightCurveSize);
    ASSERT_NE(le32(block.data()), 0xFFFFFFFFu);
    const std::uint32_t count = le32(block.data() + 8);
    std::size_t pos = 12;
    int found = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* c = block.data() + pos;
        const int channels = le16(c + 4), dpi = le16(c + 24);
        const std::uint32_t pixels = le32(c + 12);
        ASSERT_EQ(le16(c + 6), 16);
        ASSERT_EQ(le32(c + 28) & 1, 1u);
        ASSERT_EQ(pixels, dpi == 300 ? 2552u : 5104u);
        ASSERT_EQ(le32(c + 20), channels * pixels * 2);
        const std::uint8_t* data = c + le16(c);
        for (std::uint32_t k = 0; k < channels * pixels; ++k) ASSERT_EQ(le16(data + 2 * k), le32(c + 8));
        found += (c[32] ? 1 : 0) * 100 + (c[33] ? 1 : 0) * 10 + 1;
        pos += le16(c) + le32(c + 20);
    }
    // 2 sides x 2 resolutions x (white gray and colour, drop-out, emphasis gray and colour).
    EXPECT_EQ(count, 20u);
    EXPECT_EQ(found, 20 + 4 * 100 + 8 * 10);
    // Outside the block: address out of range.
    Reply r = h.cmd({0x3B, 0, 0x10, 0x10, 0, 0, 0, 0x20, 0}, nullptr, 8192);
    EXPECT_EQ(h.answer(r), sense::kAddressOutOfRange);
    auto none = makeDevice("curve=none");
    EXPECT_EQ(le32(none->lightCurveBlock().data()), 0xFFFFFFFFu);
}

TEST(VirtualKd720, RefusesUnknownCommandsAndReadTypes) {
    auto d = makeDevice("1");
    Host h(*d);
    h.settle();
    EXPECT_EQ(h.answer(h.cmd({0x55})), sense::kUnknownOpcode);
    EXPECT_EQ(h.answer(h.readData(0x77, 0, 16)), sense::kInvalidCdbField);
    // The zero blocks of types 9 to 15.
    Reply r = h.readData(0x91, 0x2300, 32);
    EXPECT_FALSE(r.check);
    EXPECT_EQ(r.data, std::vector<std::uint8_t>(32, 0));
}

TEST(VirtualKd720, OutOfOrderTransfersStallWithSequenceSense) {
    auto d = makeDevice("1");
    Host h(*d);
    h.settle();
    // A status read while SEND's data is due.
    ASSERT_EQ(h.write(commandContainer({0x2A, 0, 0x8C, 0, 0, 0, 0, 0, 128})), kdusb::kSuccess);
    bool check = false;
    EXPECT_EQ(h.status(check), kdusb::kPipeStalled);
    EXPECT_EQ(h.status(check), kdusb::kPipeStalled); // stays stalled until cleared
    h.clear();
    EXPECT_EQ(h.requestSense().code, sense::kSequence);
    // A command before the status.
    ASSERT_EQ(h.write(commandContainer({0x00})), kdusb::kSuccess);
    EXPECT_EQ(h.write(commandContainer({0x00})), kdusb::kPipeStalled);
    h.clear();
    EXPECT_EQ(h.requestSense().code, sense::kSequence);
    EXPECT_FALSE(h.testUnitReady().check);
}

TEST(VirtualKd720, FirstCommandAfterOpenAnswersUnitAttention) {
    auto d = makeDevice("1");
    Host h(*d);
    EXPECT_FALSE(h.cmd({0x12, 0, 0, 0, 0x40}, nullptr, 64).check); // INQUIRY is exempt
    EXPECT_EQ(h.answer(h.testUnitReady()), sense::kPowerOn);
    EXPECT_FALSE(h.testUnitReady().check);
    auto quiet = makeDevice("unitattention=0");
    Host q(*quiet);
    EXPECT_FALSE(q.testUnitReady().check);
}

struct PathCase {
    const char* name;
    bool continuous, duplex;
    int stopAfter;                 // STOP BATCH after this page (0: never)
    std::vector<int> pages;        // sheets delivered
    int hopperLeft;
};

class PaperPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(PaperPath, PagesNoDocumentAndCounters) {
    const PathCase pc = GetParam();
    auto d = makeDevice("paper=card;sheets=3");
    Host h(*d);
    ScanSetup s;
    s.duplex = pc.duplex;
    s.continuous = pc.continuous;
    setUp(h, s);
    std::vector<int> seen;
    if (pc.continuous) {
        ASSERT_FALSE(h.objectPosition(1).check);
        EXPECT_TRUE(d->sheetInPath());
        ASSERT_FALSE(h.scan(ids(s)).check);
        for (int page = 1;; ++page) {
            const PageRead p = readPage(h);
            if (p.end.code == sense::kNoDocument) {
                EXPECT_TRUE(p.bytes.empty());
                break;
            }
            ASSERT_EQ(p.end.code, 0u) << page;
            ASSERT_TRUE(p.end.eom);
            seen.push_back(static_cast<int>(be32(h.readData(0x80, 0, 16).data.data() + 12)));
            if (page == pc.stopAfter) {
                EXPECT_FALSE(h.cmd({0xD8}).check);
            }
            ASSERT_LT(page, 10);
        }
    } else {
        for (int page = 1;; ++page) {
            const Reply sc = h.scan(ids(s));
            if (sc.check) {
                EXPECT_EQ(h.requestSense().code, sense::kNoDocument);
                break;
            }
            const PageRead p = readPage(h);
            ASSERT_EQ(p.end.code, 0u);
            seen.push_back(static_cast<int>(be32(h.readData(0x80, 0, 16).data.data() + 12)));
            // After its page READ answers no document until the next SCAN.
            EXPECT_EQ(h.answer(h.readData(0, 0, 1024)), sense::kNoDocument);
            ASSERT_LT(page, 10);
        }
    }
    EXPECT_EQ(seen, pc.pages);
    EXPECT_EQ(d->deliveredSheets(), pc.pages);
    EXPECT_EQ(d->hopperCount(), pc.hopperLeft);
    EXPECT_FALSE(d->sheetInPath());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PaperPath,
    ::testing::Values(PathCase{"SingleSimplex", false, false, 0, {1, 2, 3}, 0},
                      PathCase{"SingleDuplex", false, true, 0, {1, 2, 3}, 0},
                      PathCase{"ContinuousSimplex", true, false, 0, {1, 2, 3}, 0},
                      PathCase{"ContinuousDuplex", true, true, 0, {1, 2, 3}, 0},
                      PathCase{"ContinuousStopBatch", true, true, 1, {1}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualKd720, ContinuousPickOnAnEmptyHopperAnswersNoDocument) {
    auto d = makeDevice("sheets=0");
    Host h(*d);
    h.settle();
    EXPECT_EQ(h.answer(h.objectPosition(1)), sense::kNoDocument);
}

class PageStream : public ::testing::TestWithParam<std::tuple<bool, bool, int>> {};

TEST_P(PageStream, ReadsJoinUpToTheModelsRowsWithTheLag) {
    const auto [duplex, colour, layout] = GetParam();
    const std::string settings = "paper=card;sheets=2;content=mixed;colour=" + std::to_string(colour) +
                                 ";layout=" + std::to_string(layout);
    auto d = makeDevice(settings);
    Host h(*d);
    ScanSetup s;
    s.duplex = duplex;
    s.colour = colour;
    s.yres = 150;
    setUp(h, s);
    kdsensor::Registers regs;
    regs.front.led = regs.back.led = {400, 500, 450};
    regs.front.offset = {60, 61, 62};
    ASSERT_FALSE(h.setAdjust(regs).check);
    // Page 1 in 2 MiB reads; page 2 in odd-sized reads with two short transfers.
    ASSERT_FALSE(h.scan(ids(s)).check);
    const PageRead p1 = readPage(h);
    EXPECT_EQ(p1.end.code, 0u);
    EXPECT_TRUE(p1.end.eom);
    EXPECT_EQ(p1.bytes, expectedPage(*d, sheetNumber(settings, 1), s));
    std::string e;
    ASSERT_TRUE(d->injectFault("shortread@read" + std::to_string(40), e)) << e;
    ASSERT_TRUE(d->injectFault("shortread@s2:0.5", e)) << e;
    ASSERT_FALSE(h.scan(ids(s)).check);
    const PageRead p2 = readPage(h, 100003);
    EXPECT_EQ(p2.bytes, expectedPage(*d, sheetNumber(settings, 2), s));
    // The last READ came short of what it asked: ILI with the residue.
    EXPECT_TRUE(p2.end.ili);
    EXPECT_GT(p2.end.info, 0u);
    EXPECT_LT(p2.end.info, 100003u);
}

INSTANTIATE_TEST_SUITE_P(Formats, PageStream,
                         ::testing::Values(std::make_tuple(false, false, 0), std::make_tuple(true, false, 0),
                                           std::make_tuple(true, true, 1), std::make_tuple(false, true, 1)));

TEST(VirtualKd720, CalibrationScansGiveEightReferenceLinesAndEndAsAPage) {
    auto d = makeDevice("sheets=1");
    Host h(*d);
    h.settle();
    for (int id = 0; id < 2; ++id) ASSERT_FALSE(h.setWindow(id, 600, 600, 0, 9600 / 600, true, 12).check);
    kdsensor::Registers regs;
    regs.front.led = regs.back.led = {900, 1100, 1000};
    ASSERT_FALSE(h.setAdjust(regs).check);
    kdsensor::ScanFormat f;
    f.xdpi = 600;
    f.bits = 12;
    f.colour = true;
    f.back = true;
    for (std::uint8_t id : {std::uint8_t{0xFE}, std::uint8_t{0xFF}, std::uint8_t{0}}) {
        const std::vector<std::uint8_t> pair = id == 0 ? std::vector<std::uint8_t>{0, 1}
                                                       : std::vector<std::uint8_t>{id, id};
        ASSERT_FALSE(h.scan(pair).check);
        const PageRead p = readPage(h);
        EXPECT_EQ(p.end.code, 0u);
        EXPECT_TRUE(p.end.eom);
        EXPECT_EQ(p.bytes.size(), f.lineBytes() * 8);
        EXPECT_EQ(p.bytes, kdsensor::scanReference(d->model(), f, regs, id != 0xFF, 8)) << int(id);
    }
    EXPECT_EQ(d->hopperCount(), 1); // calibration feeds nothing
    EXPECT_EQ(d->sheetCounter(), 0u);
}

TEST(VirtualKd720, OverScanPageInformationFollowsTheSheet) {
    auto d = makeDevice("paper=card;sheets=1;pagedone=2");
    Host h(*d);
    ScanSetup s;
    s.overScan = true;
    s.top = -472;
    s.length = 20000;
    setUp(h, s);
    ASSERT_FALSE(h.scan({0}).check);
    const PageRead p = readPage(h);
    EXPECT_EQ(p.end.code, 0u);
    const std::uint32_t sheetLength = static_cast<std::uint32_t>(54 / 25.4 * 1200); // 2551
    const std::uint32_t lines = static_cast<std::uint32_t>((sheetLength + 472.0 + 472.0) * 100 / 1200);
    EXPECT_EQ(p.bytes.size(), lines * 2592u);
    const Reply length = h.readData(0x80, 4, 16);
    EXPECT_EQ(be32(length.data.data() + 12), lines * 1200 / 100);
    const Reply info = h.readData(0x80, 1, 16);
    EXPECT_EQ(be32(info.data.data()), 472u);
    EXPECT_NEAR(be32(info.data.data() + 4), 472.0, 13.0);
    EXPECT_NEAR(be32(info.data.data() + 8), 85.6 / 25.4 * 1200, 1.0);
    EXPECT_EQ(be32(info.data.data() + 12), 0u);
    EXPECT_EQ(h.readData(0xA1, 0, 1).data, std::vector<std::uint8_t>{0});
    EXPECT_EQ(h.readData(0xA1, 0, 1).data, std::vector<std::uint8_t>{0});
    EXPECT_EQ(h.readData(0xA1, 0, 1).data, std::vector<std::uint8_t>{1});
}

TEST(VirtualKd720, ShadingRecordsAreCheckedAndKept) {
    auto d = makeDevice("1");
    Host h(*d);
    h.settle();
    std::vector<std::uint8_t> rec(kShadingRecordSize, 7);
    rec[0] = 0x40 | 2 << 2 | 1; // second image, blue, back
    const std::vector<std::uint8_t> cdb = {0x2A, 0, 0x90, 0, 0, 0, 0, 0x28, 0x04};
    EXPECT_FALSE(h.cmd(cdb, &rec).check);
    rec[0] = 3 << 2; // no fourth channel
    EXPECT_EQ(h.answer(h.cmd(cdb, &rec)), sense::kInvalidCdbField);
    ASSERT_EQ(d->shadingRecords().size(), 1u);
    EXPECT_EQ(d->shadingRecords()[0].bytes[0], 0x49);
}

TEST(VirtualKd720, PanelKeyAndDocumentStatus) {
    auto d = makeDevice("sheets=1");
    Host h(*d);
    h.settle();
    d->pressKey(3);
    Reply r = h.readData(0x84, 0, 8);
    EXPECT_EQ(r.data[0] & 0x80, 0x80);
    EXPECT_EQ(r.data[3], 3);
    EXPECT_EQ(h.readData(0x84, 0, 8).data[0], 0); // reported once
    EXPECT_EQ(h.readData(0x8B, 0, 1).data, std::vector<std::uint8_t>{8});
    h.objectPosition(1);
    EXPECT_EQ(h.readData(0x8B, 0, 1).data, std::vector<std::uint8_t>{1});
}

TEST(VirtualKd720, RateMakesReadsWaitForLinesButNeverReturnNothing) {
    auto d = makeDevice("paper=card;sheets=1;rate=500");
    Host h(*d);
    ScanSetup s; // 250 lines: half a second
    setUp(h, s);
    ASSERT_FALSE(h.scan({0}).check);
    std::size_t total = 0;
    int reads = 0;
    for (;;) {
        const Reply r = h.readData(0, 0, 2u << 20);
        ++reads;
        ASSERT_EQ(r.result, kdusb::kSuccess);
        ASSERT_FALSE(r.data.empty());
        EXPECT_EQ(r.data.size() % 2592, 0u); // whole lines as they come
        total += r.data.size();
        if (r.check) break;
        ASSERT_LT(reads, 1000);
    }
    EXPECT_GT(reads, 1);
    EXPECT_EQ(total, 250u * 2592);
    EXPECT_EQ(h.requestSense().code, 0u);
}

TEST(VirtualKd720, ZeroLengthAnswersAreEmpty) {
    auto d = makeDevice("unitattention=0");
    Host h(*d);
    // Allocation lengths of 0: the data phase moves nothing and the status is good.
    EXPECT_FALSE(h.cmd({0x12, 0, 0, 0, 0}, nullptr, 16).check);
    EXPECT_FALSE(h.cmd({0x03, 0, 0, 0, 0}, nullptr, 16).check);
    const Reply r = h.cmd({0x28, 0, 0x8C, 0, 0, 0, 0, 0, 0}, nullptr, 16);
    EXPECT_FALSE(r.check);
    EXPECT_TRUE(r.data.empty());
    EXPECT_FALSE(h.testUnitReady().check); // still in step
}

TEST(VirtualKd720, HandleCallsWhileAReaderThreadReads) {
    auto d = makeDevice("paper=card;sheets=1;rate=4000");
    Host h(*d);
    ScanSetup s;
    setUp(h, s);
    ASSERT_FALSE(h.scan({0}).check);
    std::atomic<bool> done{false};
    PageRead page;
    std::thread reader([&] {
        page = readPage(h, 65536);
        done = true;
    });
    // The reader waits on the line clock without holding the device: the
    // control handle answers meanwhile.
    int calls = 0;
    while (!done) {
        d->pressKey(1 + calls % 4);
        EXPECT_GE(d->commandLog().size(), 4u);
        EXPECT_EQ(d->hopperCount(), calls);
        d->addSheet(Sheet{});
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reader.join();
    EXPECT_GT(calls, 3);
    EXPECT_EQ(page.end.code, 0u);
    EXPECT_EQ(page.bytes.size(), 250u * 2592);
}
