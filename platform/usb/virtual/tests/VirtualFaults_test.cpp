// The fault table: each injected fault's answer and the state it leaves.
#include "VirtualHost.h"

#include <functional>

using namespace kdvtest;
using namespace kdvirtual;

namespace {

void simplexWindows(Host& h, bool continuous = false) {
    h.settle();
    for (int id = 0; id < 2; ++id) ASSERT_FALSE(h.setWindow(id, 300, 100, 0, 3000, false, 8).check);
    ASSERT_FALSE(h.scanMode32(0, continuous, false).check);
}

struct FaultCase {
    const char* name;
    const char* settings;
    std::function<void(VirtualKd720&, Host&)> run;
};

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, AnswerAndStateAfter) {
    const FaultCase& fc = GetParam();
    auto d = makeDevice(fc.settings);
    Host h(*d);
    fc.run(*d, h);
}

const std::size_t kPageBytes = 250 * 2592; // 2.5 inch at 100 dpi, one gray window

INSTANTIATE_TEST_SUITE_P(
    Table, Faults,
    ::testing::Values(
        FaultCase{"JamHoldsTheSheetUntilDischarge", "paper=a5;sheets=2;fault=jam@s1:0.5",
                  [](VirtualKd720& d, Host& h) {
                      simplexWindows(h);
                      ASSERT_FALSE(h.scan({0}).check);
                      const PageRead p = readPage(h);
                      EXPECT_EQ(p.end.code, sense::kJam);
                      EXPECT_EQ(p.bytes.size(), kPageBytes / 2);
                      EXPECT_EQ(h.answer(h.testUnitReady()), sense::kJam);
                      EXPECT_EQ(h.answer(h.readData(0, 0, 4096)), sense::kJam);
                      EXPECT_TRUE(d.sheetInPath());
                      EXPECT_FALSE(h.objectPosition(4).check);
                      EXPECT_FALSE(d.sheetInPath());
                      EXPECT_FALSE(h.testUnitReady().check);
                      EXPECT_TRUE(d.deliveredSheets().empty());
                      ASSERT_FALSE(h.scan({0}).check); // the next sheet feeds
                      EXPECT_EQ(readPage(h).end.code, 0u);
                      EXPECT_EQ(d.deliveredSheets(), std::vector<int>{2});
                  }},
        FaultCase{"DoubleFeedStopsFeeding", "paper=a5;sheets=3;fault=doublefeed@s1:0.25",
                  [](VirtualKd720& d, Host& h) {
                      simplexWindows(h, true);
                      ASSERT_FALSE(h.scan({0}).check);
                      const PageRead p = readPage(h);
                      EXPECT_EQ(p.end.code, sense::kDoubleFeed);
                      EXPECT_EQ(p.bytes.size(), 62u * 2592); // the line a quarter into the page
                      EXPECT_EQ(h.answer(h.readData(0, 0, 4096)), sense::kNoDocument);
                      EXPECT_EQ(d.hopperCount(), 2);
                  }},
        FaultCase{"DoubleFeedWithContinueDeliversTheWholePage", "paper=a5;sheets=2;fault=doublefeed@s1:0.25",
                  [](VirtualKd720& d, Host& h) {
                      simplexWindows(h, true);
                      ASSERT_FALSE(h.scanMode30(true).check);
                      ASSERT_FALSE(h.scan({0}).check);
                      const PageRead p = readPage(h);
                      EXPECT_EQ(p.end.code, sense::kDoubleFeed);
                      EXPECT_EQ(p.bytes.size(), kPageBytes);
                      EXPECT_EQ(d.deliveredSheets(), std::vector<int>{1});
                      EXPECT_EQ(h.answer(h.readData(0, 0, 4096)), sense::kNoDocument);
                  }},
        FaultCase{"CoverOpenAnswersEveryCommandUntilClosed", "fault=cover@cmd3",
                  [](VirtualKd720& d, Host& h) {
                      h.settle();                                       // commands 1 and 2
                      EXPECT_EQ(h.answer(h.testUnitReady()), sense::kCoverOpen); // 3
                      EXPECT_EQ(h.answer(h.cmd({0x16})), sense::kCoverOpen);
                      EXPECT_TRUE(d.coverOpen());
                      d.closeCover();
                      EXPECT_FALSE(h.testUnitReady().check);
                  }},
        FaultCase{"NoPaperFromSheetTwo", "paper=card;sheets=3;fault=nopaper@s2",
                  [](VirtualKd720& d, Host& h) {
                      EXPECT_EQ(d.hopperCount(), 1);
                      simplexWindows(h);
                      ASSERT_FALSE(h.scan({0}).check);
                      readPage(h);
                      EXPECT_EQ(h.answer(h.scan({0})), sense::kNoDocument);
                  }},
        FaultCase{"SkewEndsThePage", "paper=card;sheets=2;fault=skew@s1:0.1",
                  [](VirtualKd720& d, Host& h) {
                      simplexWindows(h);
                      ASSERT_FALSE(h.scan({0}).check);
                      EXPECT_EQ(readPage(h).end.code, sense::kSkew);
                      EXPECT_FALSE(d.sheetInPath());
                  }},
        FaultCase{"SenseKindsOnACommand",
                  "fault=hardware@op00;fault=notready@op16;fault=sense:3/60/00@op17",
                  [](VirtualKd720&, Host& h) {
                      h.cmd({0x12, 0, 0, 0, 0x40}, nullptr, 64);
                      h.requestSense(); // unit attention cleared by REQUEST SENSE
                      EXPECT_EQ(h.answer(h.testUnitReady()), sense::kHardware);
                      EXPECT_FALSE(h.testUnitReady().check); // once only
                      EXPECT_EQ(h.answer(h.cmd({0x16})), sense::kNotReady);
                      EXPECT_EQ(h.answer(h.cmd({0x17})), 0x036000u);
                  }},
        FaultCase{"DisconnectUntilReconnect", "fault=disconnect@op00",
                  [](VirtualKd720& d, Host& h) {
                      EXPECT_EQ(h.write(commandContainer({0x00})), kdusb::kNoDevice);
                      EXPECT_FALSE(d.attached());
                      std::vector<std::uint8_t> s;
                      EXPECT_EQ(h.read(s, 4), kdusb::kNoDevice);
                      d.reconnect();
                      bool iface = false;
                      EXPECT_EQ(d.open(iface), kdusb::kSuccess);
                      EXPECT_EQ(h.answer(h.testUnitReady()), sense::kPowerOn);
                  }},
        FaultCase{"TimeoutUntilBothEndsAreCleared", "unitattention=0;fault=timeout@op00",
                  [](VirtualKd720& d, Host& h) {
                      EXPECT_EQ(h.write(commandContainer({0x00})), kdusb::kTransactionTimeout);
                      EXPECT_EQ(h.write(commandContainer({0x16})), kdusb::kTransactionTimeout);
                      d.clearStall(1);
                      EXPECT_EQ(h.write(commandContainer({0x16})), kdusb::kTransactionTimeout);
                      d.clearStall(2);
                      EXPECT_FALSE(h.testUnitReady().check); // the dropped phase is gone
                  }},
        FaultCase{"ShortReadOfABlock", "unitattention=0;fault=shortread@read1",
                  [](VirtualKd720&, Host& h) {
                      EXPECT_EQ(h.cmd({0x12, 0, 0, 0, 0x40}, nullptr, 64).data.size(), 32u);
                      EXPECT_EQ(h.cmd({0x12, 0, 0, 0, 0x40}, nullptr, 64).data.size(), 64u);
                  }},
        FaultCase{"StallWithItsDefaultAndAGivenSense", "unitattention=0;fault=stall@op00;fault=stall:4/44/00@op16",
                  [](VirtualKd720&, Host& h) {
                      EXPECT_EQ(h.testUnitReady().result, kdusb::kPipeStalled);
                      h.clear();
                      EXPECT_EQ(h.requestSense().code, sense::kSequence);
                      EXPECT_EQ(h.cmd({0x16}).result, kdusb::kPipeStalled);
                      h.clear();
                      EXPECT_EQ(h.requestSense().code, sense::kHardware);
                  }},
        FaultCase{"HandleInjectsNow", "unitattention=0;sheets=2",
                  [](VirtualKd720& d, Host& h) {
                      std::string e;
                      ASSERT_TRUE(d.injectFault("notready", e)) << e;
                      EXPECT_EQ(h.answer(h.testUnitReady()), sense::kNotReady);
                      ASSERT_TRUE(d.injectFault("nopaper", e));
                      EXPECT_EQ(d.hopperCount(), 0);
                      EXPECT_FALSE(d.injectFault("melt@cmd1", e));
                      EXPECT_NE(e.find("melt"), std::string::npos);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
