// The command protocol against a scripted device: the exact bytes every
// command writes, how replies are decoded, and how failures become classes.
#include "ScannerFixture.h"

#include <cstring>
#include <functional>
#include <utility>

using namespace kdtest;

namespace {

const Bytes kGood = {0, 0, 0, 0};

// n zero bytes with the given bytes placed at their positions.
Bytes place(std::size_t n, std::vector<std::pair<std::size_t, Bytes>> parts) {
    Bytes out(n, 0);
    for (const auto& [pos, bytes] : parts) std::copy(bytes.begin(), bytes.end(), out.begin() + pos);
    return out;
}

SScanModeParam modePage(std::uint8_t page) {
    SScanModeParam m{};
    m.page = page;
    return m;
}

SScanParameter parameterPage(std::uint8_t page) {
    SScanParameter p{};
    p.page = page;
    return p;
}

struct GoldenRow {
    const char* name;
    std::function<KdError(CTavrKd&)> run;
    std::vector<Bytes> replies;
    std::vector<Bytes> writes;
};

class CommandTest : public ScannerFixture {
protected:
    void queue(const std::vector<Bytes>& replies) {
        for (const Bytes& r : replies) device->queueRead(r);
    }
};

TEST_F(CommandTest, EveryCommandWritesItsExactBytes) {
    SScanWindow window{};
    window.windowId = 1;
    window.xResolution = 300;
    window.yResolution = 200;
    window.left = 0x1234;
    window.top = -472;
    window.width = 10208;
    window.length = 14000;
    window.brightness = 0x80;
    window.contrast = 0x81;
    window.imageComposition = 5;
    window.bitsPerPixel = 8;
    window.compressionType = 0x0A;
    window.compressionArgument = 0x0B;
    const Bytes windowBytes = place(52, {{6, {0x00, 0x2C}},
                                         {8, {1, 0, 0x01, 0x2C, 0x00, 0xC8}},
                                         {14, {0x00, 0x00, 0x12, 0x34}},
                                         {18, {0xFF, 0xFF, 0xFE, 0x28}},
                                         {22, {0x00, 0x00, 0x27, 0xE0}},
                                         {26, {0x00, 0x00, 0x36, 0xB0}},
                                         {30, {0x80, 0, 0x81, 5, 8}},
                                         {37, {0x10}},
                                         {40, {0x0A, 0x0B}}});

    SScanModeParam doubleFeed = modePage(0);
    doubleFeed.doubleFeedByLength = doubleFeed.doubleFeedByUltrasonic = true;
    doubleFeed.continueAfterDoubleFeed = true;
    SScanModeParam values = modePage(1);
    values.scanModeValue1 = 0x0102;
    values.scanModeValue2 = 0x0304;
    SScanModeParam feeding = modePage(2);
    feeding.sides = 2;
    feeding.continuousFeeding = feeding.overScan = true;
    feeding.scanModeFlag = 0xABCD;
    SScanModeParam dropOut = modePage(3);
    dropOut.dropOutColourFront = 1;
    dropOut.dropOutColourBack = 2;
    dropOut.dropOutModeFront = 3;
    dropOut.dropOutModeBack = 4;

    const SAdjustInfo front = {{1, 2, 3}, 0, {4, 5, 6}, 0, 0x0102, 0x0304, 0x0506, 0, 0, 0};
    const SAdjustInfo back = {{7, 8, 9}, 0x55, {10, 11, 12}, 0x66,
                              0x0A0B, 0x0C0D, 0x0E0F, 0x1112, 0x1314, 0x1516};

    SScanParameter page6 = parameterPage(6);
    const std::uint8_t page6Bytes[4] = {1, 2, 3, 4};
    std::memcpy(page6.bytes, page6Bytes, 4);
    SScanParameter page2 = parameterPage(2);
    page2.flagA = page2.flagC = true;
    page2.value = 0xBEEF;
    SScanParameter page0 = parameterPage(0);
    page0.flag1 = page0.flag2 = page0.flag3 = page0.flag4 = true;

    const unsigned char oneId[] = {0};
    const unsigned char twoIds[] = {0xFE, 0xFE};
    const Bytes sendData = {0xDE, 0xAD, 0xBE};
    static unsigned char sink[64];

    const GoldenRow rows[] = {
        {"test unit ready", [](CTavrKd& s) { return s.ExecTestUnitReady(); }, {kGood},
         {commandContainer({0x00})}},
        {"request sense", [](CTavrKd& s) { unsigned long v; return s.ExecRequestSense(&v, nullptr, nullptr); },
         {senseReply(0, 0, 0), kGood}, {commandContainer({0x03, 0, 0, 0, 14})}},
        {"inquiry", [](CTavrKd& s) { return s.ExecInquiry(nullptr, nullptr, nullptr, nullptr); },
         {Bytes(64, 0x20), kGood}, {commandContainer({0x12, 0, 0, 0, 0x40})}},
        {"inquiry page F0", [](CTavrKd& s) { SDeviceCapabilty c; return s.ExecInquiryEx(&c); },
         {Bytes(48, 0), kGood}, {commandContainer({0x12, 1, 0xF0, 0, 0x30})}},
        {"reserve unit", [](CTavrKd& s) { return s.ExecReserveUnit(); }, {kGood},
         {commandContainer({0x16})}},
        {"release unit", [](CTavrKd& s) { return s.ExecReleaseUnit(); }, {kGood},
         {commandContainer({0x17})}},
        {"scan, one window", [&](CTavrKd& s) { return s.ExecScan(1, oneId); }, {kGood},
         {commandContainer({0x1B, 0, 0, 0, 1}), dataContainer({0})}},
        {"scan, two windows", [&](CTavrKd& s) { return s.ExecScan(2, twoIds); }, {kGood},
         {commandContainer({0x1B, 0, 0, 0, 2}), dataContainer({0xFE, 0xFE})}},
        {"set window, negative top", [&](CTavrKd& s) { return s.ExecSetWindow(&window); }, {kGood},
         {commandContainer({0x24, 0, 0, 0, 0, 0, 0, 0, 52}), dataContainer(windowBytes)}},
        {"get window", [](CTavrKd& s) { SScanWindow w{}; return s.ExecGetWindow(&w); },
         {Bytes(52, 0), kGood}, {commandContainer({0x25, 0, 0, 0, 0, 0, 0, 0, 52})}},
        {"read, settings block", [](CTavrKd& s) { unsigned long n = 64; return s.ExecRead(&n, sink, 7); },
         {Bytes(64, 1), kGood}, {commandContainer({0x28, 0, 0x8C, 0, 0x00, 0x01, 0x00, 0x00, 64})}},
        {"read, type 12, 24-bit size", [](CTavrKd& s) { unsigned long n = 0x123456; return s.ExecRead(&n, sink, 12); },
         {Bytes(8, 1), kGood}, {commandContainer({0x28, 0, 0x91, 0, 0x0C, 0x00, 0x12, 0x34, 0x56})}},
        {"read, type 2", [](CTavrKd& s) { unsigned long n = 16; return s.ExecRead(&n, sink, 2); },
         {Bytes(16, 1), kGood}, {commandContainer({0x28, 0, 0x80, 0, 0x00, 0x04, 0, 0, 16})}},
        {"send, shading", [&](CTavrKd& s) { return s.ExecSend(3, sendData.data(), 16); }, {kGood},
         {commandContainer({0x2A, 0, 0x90, 0, 0, 0, 0, 0, 3}), dataContainer(sendData)}},
        {"send, service block", [&](CTavrKd& s) { return s.ExecSend(3, sendData.data(), 6); }, {kGood},
         {commandContainer({0x2A, 0, 0x8C, 0, 0, 0, 0, 0, 3}), dataContainer(sendData)}},
        {"object position 0", [](CTavrKd& s) { return s.ExecObjectPosition(0); }, {kGood},
         {commandContainer({0x31, 0})}},
        {"object position 1 (pick)", [](CTavrKd& s) { return s.ExecObjectPosition(1); }, {kGood},
         {commandContainer({0x31, 1})}},
        {"object position 2 (discharge)", [](CTavrKd& s) { return s.ExecObjectPosition(2); }, {kGood},
         {commandContainer({0x31, 4})}},
        {"get memory", [](CTavrKd& s) { return s.ExecGetMemory(0x10080000, 16, sink); },
         {Bytes(16, 2), kGood}, {commandContainer({0x3B, 0, 0x10, 0x08, 0x00, 0x00, 0, 0x00, 16})}},
        {"get scanner status", [](CTavrKd& s) { unsigned char p; return s.ExecGetScannerStatus(&p, nullptr); },
         {Bytes(8, 0), kGood}, {commandContainer({0xC5, 0, 0, 0, 8})}},
        {"error clear", [](CTavrKd& s) { return s.ExecErrorClear(); }, {kGood},
         {commandContainer({0xC7})}},
        {"stop batch", [](CTavrKd& s) { return s.ExecStopBatch(); }, {kGood},
         {commandContainer({0xD8})}},
        {"scan mode 0x30", [&](CTavrKd& s) { return s.ExecDefineScanMode(&doubleFeed); }, {kGood},
         {commandContainer({0xD6, 0x10, 0, 0, 20}),
          dataContainer(place(20, {{4, {0x30, 0x0E, 0, 5, 0, 0x10}}}))}},
        {"scan mode 0x31", [&](CTavrKd& s) { return s.ExecDefineScanMode(&values); }, {kGood},
         {commandContainer({0xD6, 0x10, 0, 0, 20}),
          dataContainer(place(20, {{4, {0x31, 0x0E}}, {11, {0x01, 0x02, 0x03, 0x04}}}))}},
        {"scan mode 0x32", [&](CTavrKd& s) { return s.ExecDefineScanMode(&feeding); }, {kGood},
         {commandContainer({0xD6, 0x10, 0, 0, 20}),
          dataContainer(place(20, {{4, {0x32, 0x0E, 2, 1, 0, 0, 0x60, 0, 0xAB, 0xCD}}}))}},
        {"scan mode 0x36", [&](CTavrKd& s) { return s.ExecDefineScanMode(&dropOut); }, {kGood},
         {commandContainer({0xD6, 0x10, 0, 0, 20}),
          dataContainer(place(20, {{4, {0x36, 0x0E}}, {11, {1, 2, 3, 4}}}))}},
        {"set adjust data", [&](CTavrKd& s) { return s.ExecSetAdjustData(&front, &back); }, {kGood},
         {commandContainer({0xE1, 0, 0, 0, 0, 3, 0, 0, 40}),
          dataContainer({1, 2, 3, 0, 4, 5, 6, 0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0, 0, 0, 0, 0, 0,
                         7, 8, 9, 0x55, 10, 11, 12, 0x66, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
                         0x11, 0x12, 0x13, 0x14, 0x15, 0x16})}},
        {"scan parameter page 6", [&](CTavrKd& s) { return s.ExecSetScanParameter(&page6, 0x1234); },
         {kGood, kGood},
         {commandContainer({0xE5, 0, 6, 0, 0x12, 0x34, 0, 0, 16}),
          dataContainer(place(16, {{9, {1, 2, 3, 4}}}))}},
        {"scan parameter page 2", [&](CTavrKd& s) { return s.ExecSetScanParameter(&page2, 7); },
         {kGood, kGood},
         {commandContainer({0xE5, 0, 2, 0, 0, 7, 0, 0, 16}),
          dataContainer(place(16, {{6, {0x84, 0, 0xBE, 0xEF}}}))}},
        {"scan parameter page 0", [&](CTavrKd& s) { return s.ExecSetScanParameter(&page0, 0); },
         {kGood, kGood},
         {commandContainer({0xE5, 0, 0, 0, 0, 0, 0, 0, 16}), dataContainer(place(16, {{3, {0x4D}}}))}},
    };

    for (const GoldenRow& row : rows) {
        SCOPED_TRACE(row.name);
        device->clearLog();
        queue(row.replies);
        EXPECT_EQ(row.run(*scanner), kderr::kSuccess);
        EXPECT_EQ(device->writes(), row.writes);
        EXPECT_EQ(device->pendingReads(), 0u);
        for (const auto& e : device->events()) {
            EXPECT_EQ(e.noDataTimeoutMs, 90000u);
            EXPECT_EQ(e.completionTimeoutMs, 90000u);
            EXPECT_EQ(e.pipe, e.kind == ScriptedDevice::Event::Read ? 1 : 2);
        }
    }
}

TEST_F(CommandTest, ScanParameterSkipsItsDataWhenTheFirstStatusFails) {
    const SScanParameter p = parameterPage(1);
    device->queueStatus(2);
    EXPECT_EQ(scanner->ExecSetScanParameter(&p, 0), kderr::kCheckCondition);
    EXPECT_EQ(device->writes(), std::vector<Bytes>{commandContainer({0xE5, 0, 1, 0, 0, 0, 0, 0, 16})});
}

TEST_F(CommandTest, SendUpTo244BytesAndAboveGiveTheSameContainer) {
    for (std::size_t n : {244u, 245u, 10244u}) {
        SCOPED_TRACE(n);
        device->clearLog();
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
        device->queueStatus(0);
        EXPECT_EQ(scanner->ExecSend(n, data.data(), 16), kderr::kSuccess);
        const auto writes = device->writes();
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[0], commandContainer({0x2A, 0, 0x90, 0, 0, 0, static_cast<std::uint8_t>(n >> 16),
                                               static_cast<std::uint8_t>(n >> 8),
                                               static_cast<std::uint8_t>(n)}));
        EXPECT_EQ(writes[1], dataContainer(data));
    }
}

// Requests the wire cannot carry are refused before anything is sent.
TEST_F(CommandTest, RequestsOutsideTheTablesAreRefusedUnsent) {
    unsigned char buffer[16] = {};
    const SScanModeParam badMode = modePage(4);
    const SScanParameter badParameter = parameterPage(7);
    const struct {
        const char* name;
        std::function<KdError()> run;
    } cases[] = {
        {"read type 16", [&] { unsigned long n = 16; return scanner->ExecRead(&n, buffer, 16); }},
        {"read size over 24 bits", [&] { unsigned long n = 0x1000000; return scanner->ExecRead(&n, buffer, 0); }},
        {"send type 5", [&] { return scanner->ExecSend(4, buffer, 5); }},
        {"send type 0", [&] { return scanner->ExecSend(4, buffer, 0); }},
        {"send size over 24 bits", [&] { return scanner->ExecSend(0x1000000, buffer, 16); }},
        {"object position 3", [&] { return scanner->ExecObjectPosition(3); }},
        {"scan mode page 4", [&] { return scanner->ExecDefineScanMode(&badMode); }},
        {"scan parameter page 7", [&] { return scanner->ExecSetScanParameter(&badParameter, 0); }},
        {"get memory past 32-bit addresses", [&] { return scanner->ExecGetMemory(0xFFFFFFF8, 16, buffer); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.run(), kderr::kIllegalRequest);
    }
    EXPECT_TRUE(device->events().empty());
}

TEST_F(CommandTest, SenseTableGivesEachErrorClass) {
    const struct {
        unsigned key, asc, ascq;
        KdError error;
    } rows[] = {
        {0, 0x00, 0x00, kderr::kSuccess},         {0, 0x3A, 0x00, kderr::kSuccess},
        {2, 0x04, 0x01, kderr::kNotReady},        {3, 0x3A, 0x00, kderr::kNoDocument},
        {3, 0x60, 0x00, kderr::kMediumError},     {3, 0x80, 0x00, kderr::kPaperJam},
        {3, 0x80, 0x01, kderr::kCoverOpen},       {3, 0x81, 0x01, kderr::kDoubleFeed},
        {3, 0x81, 0x02, kderr::kSkewDetected},    {3, 0x3B, 0x00, kderr::kUnknown},
        {4, 0x44, 0x00, kderr::kHardwareError},   {5, 0x2C, 0x00, kderr::kSequenceError},
        {5, 0x55, 0x00, kderr::kResourceFailure}, {5, 0x3A, 0x00, kderr::kNoDocument},
        {5, 0x20, 0x00, kderr::kIllegalRequest},  {6, 0x29, 0x00, kderr::kNotReady},
        {6, 0x2A, 0x00, kderr::kUnknown},         {0x0B, 0x80, 0x00, kderr::kTimeout},
        {0x0B, 0x47, 0x00, kderr::kUnknown},      {1, 0x00, 0x00, kderr::kUnknown},
        {0x0F, 0x80, 0x00, kderr::kUnknown},
    };
    for (const auto& r : rows)
        EXPECT_EQ(CTavrKd::DecodeSense(SenseCode(r.key, r.asc, r.ascq)), r.error)
            << std::hex << r.key << "/" << r.asc << "/" << r.ascq;
}

TEST_F(CommandTest, RequestSenseTakesTheInformationOnlyWithIli) {
    const struct {
        std::uint8_t flags;
        unsigned char eom;
        unsigned long info;
    } rows[] = {
        {0x60, 1, 0x00ABCDEF},   // end of medium and ILI
        {0x20, 0, 0x00ABCDEF},   // ILI alone
        {0x40, 1, 0},            // end of medium: the field is not valid
        {0x00, 0, 0},
    };
    for (const auto& r : rows) {
        device->queueRead(senseReply(3, 0x3A, 0x00, r.flags, 0x00ABCDEF));
        device->queueStatus(0);
        unsigned long sense = 0, info = 99;
        unsigned char eom = 9;
        ASSERT_EQ(scanner->ExecRequestSense(&sense, &eom, &info), kderr::kSuccess);
        EXPECT_EQ(sense, 0x033A00u);
        EXPECT_EQ(eom, r.eom);
        EXPECT_EQ(info, r.info);
    }
}

TEST_F(CommandTest, AStallIsClearedOnBothPipesThenTheSenseDecides) {
    device->failNextWrite(kdusb::kPipeStalled);
    ASSERT_EQ(scanner->ExecTestUnitReady(), kderr::kPipeStalled);
    device->queueRead(senseReply(3, 0x80, 0x00));
    device->queueStatus(0);
    EXPECT_EQ(scanner->RecoverError(kderr::kPipeStalled), kderr::kPaperJam);

    using Event = ScriptedDevice::Event;
    const auto events = device->events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].result, kdusb::kPipeStalled);
    EXPECT_EQ(events[1].kind, Event::ClearStall);
    EXPECT_EQ(events[1].pipe, 1);
    EXPECT_EQ(events[2].kind, Event::ClearStall);
    EXPECT_EQ(events[2].pipe, 2);
    EXPECT_EQ(events[3].bytes, commandContainer({0x03, 0, 0, 0, 14}));
    EXPECT_EQ(events[4].kind, Event::Read);
    EXPECT_EQ(events[5].kind, Event::Read);
}

TEST_F(CommandTest, RecoveryTable) {
    const struct {
        const char* name;
        KdError failure;
        std::vector<Bytes> replies;
        KdError result;
        std::size_t writes;
    } rows[] = {
        {"check condition, no document", kderr::kCheckCondition, {senseReply(3, 0x3A, 0), kGood},
         kderr::kNoDocument, 1},
        {"check condition, sense key 0 is success", kderr::kCheckCondition,
         {senseReply(0, 0, 0, 0x40), kGood}, kderr::kSuccess, 1},
        {"sense itself times out", kderr::kCheckCondition, {}, kderr::kTimeout, 1},
        {"other classes pass unchanged", kderr::kDeviceLost, {}, kderr::kDeviceLost, 0},
        {"time-outs pass unchanged", kderr::kTimeout, {}, kderr::kTimeout, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        device->clearLog();
        queue(r.replies);
        EXPECT_EQ(scanner->RecoverError(r.failure), r.result);
        EXPECT_EQ(device->writes().size(), r.writes);
    }
}

TEST_F(CommandTest, ACheckConditionStatusIsReportedAndItsWordKept) {
    device->queueStatus(0x00000002);
    unsigned long status = 0;
    EXPECT_EQ(scanner->ExecTestUnitReady(), kderr::kCheckCondition);
    device->queueStatus(0x01020304);
    EXPECT_EQ(scanner->GetResponse(&status), kderr::kCheckCondition);
    EXPECT_EQ(status, 0x01020304u);
}

// Fixed-size replies that come short are I/O errors and nothing of them is
// decoded; a missing reply is the transport's time-out.
TEST_F(CommandTest, ShortAndMissingRepliesAreErrors) {
    const struct {
        const char* name;
        std::vector<Bytes> replies;
        KdError result;
    } rows[] = {
        {"status of 3 bytes", {Bytes(3, 0)}, kderr::kIOError},
        {"no status", {}, kderr::kTimeout},
        {"sense of 13 bytes", {Bytes(13, 0)}, kderr::kIOError},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        queue(r.replies);
        unsigned long sense = 77;
        const KdError e = r.replies.size() == 1 && r.replies[0].size() == 13
                              ? scanner->ExecRequestSense(&sense, nullptr, nullptr)
                              : scanner->ExecTestUnitReady();
        EXPECT_EQ(e, r.result);
        EXPECT_EQ(sense, 77u);
    }

    SDeviceCapabilty capability;
    std::memset(&capability, 0xA5, sizeof capability);
    device->queueRead(Bytes(47, 0));
    EXPECT_EQ(scanner->ExecInquiryEx(&capability), kderr::kIOError);
    EXPECT_EQ(capability.maxWidth, 0xA5A5A5A5u);

    SScanWindow window{};
    window.xResolution = 1;
    device->queueRead(Bytes(51, 0));
    EXPECT_EQ(scanner->ExecGetWindow(&window), kderr::kIOError);
    EXPECT_EQ(window.xResolution, 1);

    unsigned char paper = 9;
    device->queueRead(Bytes(7, 0xFF));
    EXPECT_EQ(scanner->ExecGetScannerStatus(&paper, nullptr), kderr::kIOError);
    EXPECT_EQ(paper, 9);

    char vendor[9] = "unset";
    device->queueRead(Bytes(63, 'X'));
    EXPECT_EQ(scanner->ExecInquiry(vendor, nullptr, nullptr, nullptr), kderr::kIOError);
    EXPECT_STREQ(vendor, "unset");
}

TEST_F(CommandTest, InquiryCutsAndTerminatesItsStrings) {
    Bytes reply(64, 'X');
    reply[0] = 0x06;
    std::fill(reply.begin() + 8, reply.begin() + 16, 'V');
    std::fill(reply.begin() + 16, reply.begin() + 32, 'P');
    std::fill(reply.begin() + 32, reply.begin() + 36, 'R');
    device->queueRead(reply);
    device->queueStatus(0);
    // Buffers of exactly the field plus its terminator: the sanitiser build
    // catches any byte written past them.
    auto vendor = std::make_unique<char[]>(9);
    auto product = std::make_unique<char[]>(17);
    auto revision = std::make_unique<char[]>(5);
    unsigned char type = 0;
    ASSERT_EQ(scanner->ExecInquiry(vendor.get(), product.get(), revision.get(), &type),
              kderr::kSuccess);
    EXPECT_STREQ(vendor.get(), "VVVVVVVV");
    EXPECT_STREQ(product.get(), "PPPPPPPPPPPPPPPP");
    EXPECT_STREQ(revision.get(), "RRRR");
    EXPECT_EQ(type, 6);
}

TEST_F(CommandTest, InquiryPageF0FillsTheCapabilityRecord) {
    Bytes reply(48, 0);
    const Bytes head = {0, 0, 0, 0, 0, 0x02, 0x58, 0x02, 0x58, 0x3C, 0x00, 0x01, 0x00, 0x02,
                        0x00, 0x03, 0x00, 0x04, 0x12, 0x34, 0x00, 0x00, 0x14, 0x40,
                        0x00, 0x01, 0x16, 0x30, 0x99, 0x01, 0x02, 0x40};
    std::copy(head.begin(), head.end(), reply.begin());
    reply[38] = 0x77;
    const Bytes tail = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
    std::copy(tail.begin(), tail.end(), reply.begin() + 40);
    device->queueRead(reply);
    device->queueStatus(0);
    SDeviceCapabilty c{};
    ASSERT_EQ(scanner->ExecInquiryEx(&c), kderr::kSuccess);
    EXPECT_EQ(c.xBaseResolution, 600);
    EXPECT_EQ(c.yBaseResolution, 600);
    EXPECT_EQ(c.byte9High, 3);
    EXPECT_EQ(c.byte9Low, 12);
    EXPECT_EQ(c.values[0], 1);
    EXPECT_EQ(c.values[3], 4);
    EXPECT_EQ(c.value, 0x1234);
    EXPECT_EQ(c.maxWidth, 5184u);
    EXPECT_EQ(c.maxLength, 0x11630u);
    EXPECT_EQ(c.byte28, 0x99);
    EXPECT_EQ(c.byte38, 0x77);
    EXPECT_EQ(c.options, 0x010240u);
    EXPECT_TRUE(c.options & kOptionUltrasonic);
    EXPECT_EQ(c.words[0], 0xDEADBEEFu);
    EXPECT_EQ(c.words[1], 0x01020304u);
}

TEST_F(CommandTest, GetWindowReadsTheWindowBack) {
    Bytes reply = place(52, {{6, {0, 0x2C}},
                             {8, {1, 0, 0x02, 0x58, 0x01, 0x90}},
                             {14, {0, 0, 0, 10, 0xFF, 0xFF, 0xFE, 0x28, 0, 0, 0x27, 0xE0, 0, 0, 0x36, 0xB0}},
                             {30, {0x80, 0, 0x81, 2, 8}}});
    device->queueRead(reply);
    device->queueStatus(0);
    SScanWindow w{};
    w.windowId = 0;
    ASSERT_EQ(scanner->ExecGetWindow(&w), kderr::kSuccess);
    EXPECT_EQ(w.windowId, 0);
    EXPECT_EQ(w.xResolution, 600);
    EXPECT_EQ(w.yResolution, 400);
    EXPECT_EQ(w.left, 10u);
    EXPECT_EQ(w.top, -472);
    EXPECT_EQ(w.width, 10208u);
    EXPECT_EQ(w.length, 14000u);
    EXPECT_EQ(w.brightness, 0x80);
    EXPECT_EQ(w.contrast, 0x81);
    EXPECT_EQ(w.imageComposition, 2);
    EXPECT_EQ(w.bitsPerPixel, 8);
}

TEST_F(CommandTest, ScannerStatusTakesItsTwoBits) {
    for (std::uint8_t b0 : {0x00, 0x04, 0x01, 0xFF, 0xFA}) {
        Bytes reply(8, 0);
        reply[0] = b0;
        device->queueRead(reply);
        device->queueStatus(0);
        unsigned char paper = 9, other = 9;
        ASSERT_EQ(scanner->ExecGetScannerStatus(&paper, &other), kderr::kSuccess);
        EXPECT_EQ(paper, (b0 >> 2) & 1);
        EXPECT_EQ(other, b0 & 1);
    }
}

// An image READ that ends short reports what arrived with the status.
TEST_F(CommandTest, ReadReportsTheBytesThatArrived) {
    device->queueRead(Bytes(60, 0x42));
    device->queueStatus(2);
    unsigned char buffer[100] = {};
    unsigned long size = sizeof buffer;
    EXPECT_EQ(scanner->ExecRead(&size, buffer, 0), kderr::kCheckCondition);
    EXPECT_EQ(size, 60u);
    EXPECT_EQ(buffer[59], 0x42);
    EXPECT_EQ(buffer[60], 0);
}

class GetMemoryTest : public CommandTest {
protected:
    static constexpr unsigned long kAddress = 0x10080000;
    static constexpr unsigned long kSize = 0x80000;

    static std::uint8_t pattern(unsigned long offset) {
        return static_cast<std::uint8_t>(offset * 31 + (offset >> 8));
    }
    // The answer of one chunk: the memory from offset, count bytes.
    void answer(unsigned long offset, unsigned long count) {
        Bytes chunk(count);
        for (unsigned long i = 0; i < count; ++i) chunk[i] = pattern(offset + i);
        device->queueRead(chunk);
        device->queueStatus(0);
    }
};

TEST_F(GetMemoryTest, ChunksAdvanceByWhatEachReturned) {
    // Chunk 3 comes back with half its bytes; the rest follows in full chunks.
    std::vector<std::pair<unsigned long, unsigned long>> chunks;   // offset, length asked
    unsigned long offset = 0;
    for (int i = 0; offset < kSize; ++i) {
        const unsigned long asked = std::min<unsigned long>(8192, kSize - offset);
        const unsigned long given = i == 3 ? asked / 2 : asked;
        chunks.push_back({offset, asked});
        answer(offset, given);
        offset += given;
    }
    std::vector<std::uint8_t> buffer(kSize);
    ASSERT_EQ(scanner->ExecGetMemory(kAddress, kSize, buffer.data()), kderr::kSuccess);
    for (unsigned long i = 0; i < kSize; ++i) ASSERT_EQ(buffer[i], pattern(i)) << i;

    const auto writes = device->writes();
    ASSERT_EQ(writes.size(), chunks.size());
    EXPECT_EQ(chunks.size(), 65u);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const unsigned long address = kAddress + chunks[i].first, length = chunks[i].second;
        EXPECT_EQ(writes[i], commandContainer({0x3B, 0, static_cast<std::uint8_t>(address >> 24),
                                               static_cast<std::uint8_t>(address >> 16),
                                               static_cast<std::uint8_t>(address >> 8),
                                               static_cast<std::uint8_t>(address), 0,
                                               static_cast<std::uint8_t>(length >> 8),
                                               static_cast<std::uint8_t>(length)}))
            << i;
    }
}

TEST_F(GetMemoryTest, AChunkWithoutDataEndsTheRead) {
    answer(0, 8192);
    answer(8192, 0);
    answer(8192, 8192);   // never asked for
    std::vector<std::uint8_t> buffer(kSize);
    EXPECT_EQ(scanner->ExecGetMemory(kAddress, kSize, buffer.data()), kderr::kIOError);
    EXPECT_EQ(device->writes().size(), 2u);
}

TEST_F(GetMemoryTest, NothingToReadSendsNothing) {
    EXPECT_EQ(scanner->ExecGetMemory(kAddress, 0, nullptr), kderr::kSuccess);
    EXPECT_TRUE(device->events().empty());
}

TEST_F(CommandTest, ADisconnectedScannerIsLost) {
    device->setAttached(false);
    EXPECT_EQ(scanner->ExecTestUnitReady(), kderr::kDeviceLost);
    EXPECT_EQ(scanner->ClearIO(), kderr::kDeviceLost);
}

TEST_F(CommandTest, FailuresOfEachStepEndTheCommand) {
    const SScanWindow window{};
    // The command container fails: no data follows.
    device->failNextWrite(kdusb::kIOError);
    EXPECT_EQ(scanner->ExecSetWindow(&window), kderr::kIOError);
    EXPECT_EQ(device->events().size(), 1u);
    // The data container stalls: no status is read.
    device->clearLog();
    device->failNextWrite(kdusb::kSuccess, 24);
    device->failNextWrite(kdusb::kPipeStalled);
    EXPECT_EQ(scanner->ExecSetWindow(&window), kderr::kPipeStalled);
    EXPECT_EQ(device->events().size(), 2u);
    // A write that stops short without an error is still a failure.
    device->clearLog();
    device->failNextWrite(kdusb::kSuccess, 10);
    EXPECT_EQ(scanner->ExecTestUnitReady(), kderr::kIOError);
    EXPECT_EQ(device->events().size(), 1u);
}

}  // namespace
