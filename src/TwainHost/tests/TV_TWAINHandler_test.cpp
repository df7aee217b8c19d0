// The TWAIN handler against a scripted source under our manager, its
// one-value containers, and the real stack with KD720.ds.
#include "ScriptedSource.h"
#include "TV_TWAINCommon.h"
#include "TV_TWAINHandler.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using twainhosttest::Answer;
using twainhosttest::answerBy;
using twainhosttest::answerCode;
using twainhosttest::ScriptedSource;

namespace {

constexpr const char* kSourceFile = "Scripted.ds";
constexpr const char* kMaker = "Test Maker";
constexpr const char* kFamily = "Test Family";
constexpr const char* kProduct = "Test Product";

// A copy of a field of a packed TWAIN record (no reference to it is bound).
template <class T> T val(T v) { return v; }

std::unique_ptr<TV_TWAINHandler> makeHandler() {
    return std::make_unique<TV_TWAINHandler>("Tavrolek", "Tavro", "Quillora", "4.0");
}

// The host's calls as "M <triplet>" (to the manager) or "S <triplet>" (to
// the source).
std::vector<std::string> hostLog(const ScriptedSource& s) {
    std::vector<std::string> out;
    for (const auto& c : s.hostCalls) out.push_back((c.toSource ? "S " : "M ") + c.triplet());
    return out;
}

int gCallbacks = 0;
TW_UINT16 gCallbackMsg = 0;
TW_UINT16 hostCallback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    ++gCallbacks;
    gCallbackMsg = msg;
    return TWRC_SUCCESS;
}

class Handler : public ::testing::Test {
protected:
    void SetUp() override {
        source.place(kSourceFile, kMaker, kFamily, kProduct);
        gCallbacks = 0;
        gCallbackMsg = 0;
    }

    // Brings a handler to: 0 nothing, 1 manager open, 2 source listed,
    // 3 source open, 4 source enabled.
    void prepare(TV_TWAINHandler& h, int level) {
        const TW_INT16 steps[] = {
            level >= 1 ? h.openDSM() : TW_INT16(0),
            level >= 2 ? h.getFirst() : TW_INT16(0),
            level >= 3 ? h.openDS() : TW_INT16(0),
            level >= 4 ? h.enableDS(&ui) : TW_INT16(0),
        };
        for (TW_INT16 rc : steps) EXPECT_EQ(rc, 0);
        source.clearLogs();
    }

    ScriptedSource source;
    TW_USERINTERFACE ui{};
};

// ---- Operations --------------------------------------------------------------------------

TEST_F(Handler, OperationsSendTheirTripletAndMoveTheState) {
    struct Row {
        const char* name;
        int level;
        std::function<TW_INT16(TV_TWAINHandler&, void*& data)> op;
        std::vector<std::string> calls;  // after preparing, on success
        TW_UINT32 okState;
        // The source triplet scripted to fail for the failure run (dat 0: none).
        TW_UINT16 failDat, failMsg;
        TW_UINT32 failState;
        bool dsOpenAfterFail, dsEnabledAfterFail;
    };
    TW_PASSTHRU pass{};
    TW_DEVICEEVENT event{};
    TW_STATUS status{};
    const std::vector<Row> rows = {
        {"openDSM", 0, [](TV_TWAINHandler& h, void*&) { return h.openDSM(); },
         {"M 1/0x4/0x301", "M 1/0x403/0x1"}, 30, 0, 0, 0, false, false},
        {"closeDSM", 1, [](TV_TWAINHandler& h, void*&) { return h.closeDSM(); }, {"M 1/0x4/0x302"}, 10, 0, 0, 0,
         false, false},
        {"getFirst", 1, [](TV_TWAINHandler& h, void*&) { return h.getFirst(); },
         {"M 1/0x4/0x301", "M 1/0x3/0x4"}, 30, 0, 0, 0, false, false},
        {"registerCallback", 1, [](TV_TWAINHandler& h, void*&) { return h.registerCallback(hostCallback, 0); },
         {"M 1/0x4/0x301", "M 1/0x10/0x902"}, 30, 0, 0, 0, false, false},
        {"openDS", 2, [](TV_TWAINHandler& h, void*& d) {
             d = const_cast<TW_IDENTITY*>(&h.dsIdentity());
             return h.openDS();
         },
         {"M 1/0x4/0x301", "M 1/0x3/0x401"}, 40, DAT_IDENTITY, MSG_OPENDS, 30, false, false},
        {"closeDS", 3, [](TV_TWAINHandler& h, void*& d) {
             d = const_cast<TW_IDENTITY*>(&h.dsIdentity());
             return h.closeDS();
         },
         {"M 1/0x3/0x402"}, 80, DAT_IDENTITY, MSG_CLOSEDS, 80, false, false},
        {"enableDS", 3, [this](TV_TWAINHandler& h, void*& d) { d = &ui; return h.enableDS(&ui); },
         {"S 1/0x9/0x502"}, 50, DAT_USERINTERFACE, MSG_ENABLEDS, 40, true, false},
        {"enableDSUIOnly", 3, [this](TV_TWAINHandler& h, void*& d) { d = &ui; return h.enableDSUIOnly(&ui); },
         {"S 1/0x9/0x503"}, 50, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, 40, true, false},
        {"disableDS", 4, [](TV_TWAINHandler& h, void*&) { return h.disableDS(); },
         {"S 1/0x9/0x501"}, 55, DAT_USERINTERFACE, MSG_DISABLEDS, 50, true, true},
        {"passThru", 3, [&](TV_TWAINHandler& h, void*& d) { d = &pass; return h.passThru(&pass); },
         {"S 1/0xF/0x901"}, 40, DAT_PASSTHRU, MSG_PASSTHRU, 40, true, false},
        {"getDeviceEvent", 3, [&](TV_TWAINHandler& h, void*& d) { d = &event; return h.getDeviceEvent(&event); },
         {"S 1/0xD/0x1"}, 40, DAT_DEVICEEVENT, MSG_GET, 40, true, false},
        {"getDSStatus", 3, [&](TV_TWAINHandler& h, void*& d) { d = &status; return h.getDSStatus(&status); },
         {"S 1/0x8/0x1"}, 40, 0, 0, 0, true, false},
        {"messageDS", 3, [&](TV_TWAINHandler& h, void*& d) {
             d = &status;
             return h.messageDS(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &status);
         },
         {"S 1/0x5/0x7"}, 40, DAT_PENDINGXFERS, MSG_RESET, 40, true, false},
    };
    for (const Row& row : rows) {
        for (bool fail : {false, true}) {
            if (fail && row.failDat == 0) continue;
            SCOPED_TRACE(std::string(row.name) + (fail ? " failing" : ""));
            source.answer(DG_CONTROL, row.failDat, row.failMsg, answerCode(fail ? TWRC_FAILURE : TWRC_SUCCESS));
            auto h = makeHandler();
            prepare(*h, row.level);
            void* data = nullptr;
            const TW_INT16 rc = row.op(*h, data);
            EXPECT_EQ(rc, fail ? 1 : 0);
            if (!fail) {
                EXPECT_EQ(hostLog(source), row.calls);
                ASSERT_FALSE(source.hostCalls.empty());
                const auto& last = source.hostCalls.back();
                if (data) {
                    EXPECT_EQ(last.data, data);
                }
                if (last.toSource) {
                    EXPECT_EQ(last.destId, val(h->dsIdentity().Id));
                }
                EXPECT_EQ(h->getDSState(), row.okState);
            } else {
                EXPECT_EQ(h->getDSState(), row.failState);
                EXPECT_EQ(h->isDSOpen(), row.dsOpenAfterFail);
                EXPECT_EQ(h->isDSEnabled(), row.dsEnabledAfterFail);
            }
            source.answer(DG_CONTROL, row.failDat, row.failMsg, Answer{});
        }
    }
}

TEST_F(Handler, IdentitiesAndListing) {
    auto h = makeHandler();
    const TW_IDENTITY& app = h->appIdentity();
    EXPECT_EQ(val(app.Version.MajorNum), 1);
    EXPECT_EQ(val(app.Version.MinorNum), 0);
    EXPECT_EQ(val(app.Version.Language), TWLG_USA);
    EXPECT_EQ(val(app.Version.Country), TWCY_USA);
    EXPECT_STREQ(app.Version.Info, "4.0");
    EXPECT_EQ(val(app.ProtocolMajor), 1);
    EXPECT_EQ(val(app.ProtocolMinor), 9);
    EXPECT_EQ(val(app.SupportedGroups), DG_CONTROL | DG_IMAGE | DF_APP2);
    EXPECT_STREQ(app.Manufacturer, "Tavrolek");
    EXPECT_STREQ(app.ProductFamily, "Tavro");
    EXPECT_STREQ(app.ProductName, "Quillora");
    EXPECT_EQ(h->getDSState(), 10u);
    EXPECT_FALSE(h->isDSMOpen() || h->isDSOpen() || h->isDSListed() || h->isDSEnabled());
    EXPECT_FALSE(h->dsPath().has_value());

    source.place("Second.ds", "Other Maker", "Other", "Other Product");
    EXPECT_EQ(h->getFirst(), 0);
    EXPECT_TRUE(h->isDSListed());
    // In name order: "Scripted.ds", then "Second.ds".
    EXPECT_STREQ(h->dsIdentity().ProductName, kProduct);
    EXPECT_EQ(h->getNext(), 0);
    EXPECT_STREQ(h->dsIdentity().ProductName, "Other Product");
    const TW_IDENTITY second = h->dsIdentity();
    EXPECT_EQ(h->getNext(), TWRC_ENDOFLIST);
    // A failed step keeps the identity found last.
    EXPECT_EQ(std::memcmp(&h->dsIdentity(), &second, sizeof second), 0);
    EXPECT_TRUE(h->isDSListed());

    h->setDsPath(std::string("/some/folder"));
    EXPECT_EQ(h->dsPath(), "/some/folder");
    h->setDSState(60);
    EXPECT_EQ(h->getDSState(), 60u);
}

TEST_F(Handler, CloseDSMWithoutAnOpenManagerSendsNothing) {
    auto h = makeHandler();
    EXPECT_EQ(h->closeDSM(), -1);
    EXPECT_TRUE(source.hostCalls.empty());
    EXPECT_EQ(h->getDSState(), 10u);
}

TEST_F(Handler, CodesAreReadAsSigned16Bit) {
    auto h = makeHandler();
    prepare(*h, 3);
    TW_PASSTHRU pass{};
    source.answer(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, answerCode(0xFFFF));
    EXPECT_EQ(h->passThru(&pass), -1);
    source.answer(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, answerCode(0xFFFE));
    EXPECT_EQ(h->passThru(&pass), -2);
}

TEST_F(Handler, OpenRegistersTheCallbackWithTheSourceAndTheSourceReachesIt) {
    auto h = makeHandler();
    ASSERT_EQ(h->registerCallback(hostCallback, 0), 0);
    ASSERT_EQ(h->getFirst(), 0);
    source.clearLogs();
    ASSERT_EQ(h->openDS(), 0);
    EXPECT_EQ(hostLog(source), (std::vector<std::string>{"M 1/0x4/0x301", "M 1/0x3/0x401", "S 1/0x10/0x902"}));
    const auto& reg = source.hostCalls.back();
    EXPECT_EQ(reg.destId, val(h->dsIdentity().Id));
    EXPECT_EQ(reg.rc, TWRC_SUCCESS);

    EXPECT_EQ(source.notify(kSourceFile, MSG_XFERREADY), TWRC_SUCCESS);
    EXPECT_EQ(gCallbacks, 1);
    EXPECT_EQ(gCallbackMsg, MSG_XFERREADY);

    // A second open of the same source sends MSG_OPENDSM again first.
    ASSERT_EQ(h->closeDS(), 0);
    source.clearLogs();
    ASSERT_EQ(h->openDS(), 0);
    ASSERT_GE(source.hostCalls.size(), 2u);
    EXPECT_EQ(hostLog(source)[0], "M 1/0x4/0x301");
    EXPECT_EQ(hostLog(source)[1], "M 1/0x3/0x401");
}

TEST_F(Handler, DestructionDisablesClosesAndClosesTheManager) {
    auto h = makeHandler();
    prepare(*h, 4);
    h.reset();
    EXPECT_EQ(hostLog(source), (std::vector<std::string>{"S 1/0x9/0x501", "M 1/0x3/0x402", "M 1/0x4/0x302"}));
    // The record of the disable is a zeroed one.
    EXPECT_NE(source.sourceCalls.front().data, nullptr);
}

TEST_F(Handler, AManagerOpenedByRegisteringTheCallbackIsClosedOnDestruction) {
    auto h = makeHandler();
    ASSERT_EQ(h->registerCallback(hostCallback, 0), 0);
    EXPECT_TRUE(h->isDSMOpen());
    source.clearLogs();
    h.reset();
    EXPECT_EQ(hostLog(source), (std::vector<std::string>{"M 1/0x4/0x302"}));
    EXPECT_EQ(source.hostCalls.back().rc, TWRC_SUCCESS);
}

// ---- Containers through the source ------------------------------------------------------------

TEST_F(Handler, ContainersOfEveryItemTypeBothWays) {
    struct Type {
        TW_UINT16 type;
        std::size_t sent;    // bytes of value a set carries
        std::size_t copied;  // bytes a get copies out
    };
    const Type types[] = {
        {TWTY_INT8, 4, 4},   {TWTY_INT16, 4, 4},  {TWTY_INT32, 4, 4},   {TWTY_UINT8, 4, 4},  {TWTY_UINT16, 4, 4},
        {TWTY_UINT32, 4, 4}, {TWTY_BOOL, 4, 4},   {TWTY_FIX32, 4, 4},   {TWTY_FRAME, 16, 16}, {TWTY_STR32, 34, 34},
        {TWTY_STR64, 66, 66}, {TWTY_STR128, 130, 130}, {TWTY_STR255, 256, 256},
    };
    auto h = makeHandler();
    prepare(*h, 3);
    for (const Type& t : types) {
        SCOPED_TRACE(t.type);
        std::vector<std::uint8_t> value(256);
        for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i * 7 + t.type + 1);

        source.clearLogs();
        ASSERT_EQ(h->setDSCapability(0x8100, t.type, value.data(), value.size()), 0);
        ASSERT_EQ(source.sourceCalls.size(), 1u);
        const auto& set = source.sourceCalls.front();
        EXPECT_EQ(set.triplet(), "1/0x1/0x6");
        EXPECT_EQ(val(set.capability.Cap), 0x8100);
        EXPECT_EQ(val(set.capability.ConType), TWON_ONEVALUE);
        EXPECT_EQ(set.itemType, t.type);
        ASSERT_GE(set.item.size(), t.sent);
        EXPECT_EQ(0, std::memcmp(set.item.data(), value.data(), t.sent));

        source.answerOneValue(MSG_GETCURRENT, 0x8100, t.type, value.data(), t.copied);
        std::vector<std::uint8_t> out(300, 0xEE);
        TW_UINT16 answered = 0;
        ASSERT_EQ(h->getDSCapability(MSG_GETCURRENT, 0x8100, t.type, out.data(), out.size(), &answered), 0);
        EXPECT_EQ(answered, t.type);
        EXPECT_EQ(0, std::memcmp(out.data(), value.data(), t.copied));
        EXPECT_EQ(out[t.copied], 0xEE);
    }
    // The whole Item word for the short types: a BOOL read fills 4 bytes.
    const TW_UINT32 word = 0x12340001;
    source.answerOneValue(MSG_GETCURRENT, CAP_DUPLEXENABLED, TWTY_BOOL, &word, sizeof word);
    TW_UINT32 read = 0;
    ASSERT_EQ(h->getDSCapability(MSG_GETCURRENT, CAP_DUPLEXENABLED, TWTY_BOOL, &read, sizeof read), 0);
    EXPECT_EQ(read, word);
}

TEST_F(Handler, UnexpectedContainersGiveCodesAndNoValue) {
    auto h = makeHandler();
    prepare(*h, 3);
    struct Row {
        const char* name;
        std::function<void()> script;
        TW_UINT16 askType;
        std::size_t outSize;
        TW_INT16 rc;
    };
    std::vector<std::uint8_t> enumeration(kTwEnumerationItemListOffset + 8, 0);
    enumeration[0] = TWTY_UINT16;
    std::vector<std::uint8_t> str255(256, 'x');
    const std::vector<Row> rows = {
        {"enumeration", [&] { source.answerContainer(MSG_GETCURRENT, 0x8101, TWON_ENUMERATION, enumeration); },
         TWTY_UINT16, 4, TWRC_INFONOTSUPPORTED},
        {"range", [&] { source.answerContainer(MSG_GETCURRENT, 0x8101, TWON_RANGE, std::vector<std::uint8_t>(22)); },
         TWTY_UINT16, 4, TWRC_INFONOTSUPPORTED},
        {"STR255 answer to a FIX32 read",
         [&] { source.answerOneValue(MSG_GETCURRENT, 0x8101, TWTY_STR255, str255.data(), str255.size()); },
         TWTY_FIX32, 4, TV_TWAINHandler::kParamErr},
        {"buffer too small for the type",
         [&] { source.answerOneValue(MSG_GETCURRENT, 0x8101, TWTY_STR32, str255.data(), 34); }, TWTY_STR32, 33,
         TV_TWAINHandler::kParamErr},
        {"one-value without a block",
         [&] {
             source.answerCap(MSG_GETCURRENT, 0x8101, answerBy([](twainhosttest::SourceCall& c) -> TW_UINT16 {
                                  static_cast<pTW_CAPABILITY>(c.data)->ConType = TWON_ONEVALUE;
                                  return TWRC_SUCCESS;
                              }));
         },
         TWTY_UINT16, 4, TV_TWAINHandler::kParamErr},
        {"source fails", [&] { source.answerCap(MSG_GETCURRENT, 0x8101, answerCode(TWRC_FAILURE)); }, TWTY_UINT16, 4, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.script();
        std::vector<std::uint8_t> out(row.outSize + 8, 0xEE);
        EXPECT_EQ(h->getDSCapability(MSG_GETCURRENT, 0x8101, row.askType, out.data(), row.outSize), row.rc);
        EXPECT_EQ(out, std::vector<std::uint8_t>(row.outSize + 8, 0xEE));
    }
    // The sanitizer build checks that every block above was freed.
}

// ---- Containers without a source ---------------------------------------------------------------

std::vector<std::size_t> gAllocated;
bool gRefuse = false;
TW_HANDLE countingAllocate(TW_UINT32 size) {
    gAllocated.push_back(size);
    return gRefuse ? nullptr : std::calloc(size, 1);
}
void plainFree(TW_HANDLE h) { std::free(h); }
TW_MEMREF plainLock(TW_HANDLE h) { return h; }
void plainUnlock(TW_HANDLE) {}

TEST(OneValue, BlocksAreSizedByTypeInTheOffsetTwoLayout) {
    TW_ENTRYPOINT points{kTwEntryPointSize, nullptr, countingAllocate, plainFree, plainLock, plainUnlock};
    TV_TWAINHandler::setMemoryFunctions(&points);
    // A FRAME or STR128 block holds the whole item a source reads.
    const std::size_t expected[] = {6, 6, 6, 6, 6, 6, 6, 6, 18, 36, 68, 132, 258};
    std::vector<std::uint8_t> value(256, 0x5A);
    for (TW_UINT16 type = 0; type <= TWTY_STR255; ++type) {
        SCOPED_TRACE(type);
        gAllocated.clear();
        TW_CAPABILITY cap{};
        ASSERT_EQ(TV_TWAINHandler::setupOneValue(cap, type, value.data(), value.size()), 0);
        ASSERT_EQ(gAllocated.size(), 1u);
        EXPECT_EQ(gAllocated[0], expected[type]);
        EXPECT_EQ(val(cap.ConType), TWON_ONEVALUE);
        const auto* block = static_cast<const std::uint8_t*>(cap.hContainer);
        EXPECT_EQ(block[0] | (block[1] << 8), type);
        EXPECT_EQ(block[kTwOneValueItemOffset], 0x5A);
        TV_TWAINHandler::releaseContainer(cap);
        EXPECT_EQ(val(cap.hContainer), nullptr);
    }
    // Sizes of the item types, 0 above 12.
    const std::size_t sizes[] = {1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256, 0};
    for (TW_UINT16 type = 0; type <= 13; ++type) EXPECT_EQ(TV_TWAINHandler::getItemSize(type), sizes[type]);

    gRefuse = true;
    TW_CAPABILITY cap{};
    EXPECT_EQ(TV_TWAINHandler::setupOneValue(cap, TWTY_UINT16, value.data(), 4), TV_TWAINHandler::kMemFullErr);
    EXPECT_EQ(val(cap.hContainer), nullptr);
    gRefuse = false;
    // A value smaller than the type carries is refused before allocating.
    gAllocated.clear();
    EXPECT_EQ(TV_TWAINHandler::setupOneValue(cap, TWTY_STR32, value.data(), 33), TV_TWAINHandler::kParamErr);
    EXPECT_TRUE(gAllocated.empty());
    TV_TWAINHandler::setMemoryFunctions(nullptr);
}

TEST(OneValue, ReadingReleasesOnlyWhenAsked) {
    TW_CAPABILITY cap{};
    const TW_UINT32 word = 0xCAFE0003;
    ASSERT_EQ(TV_TWAINHandler::setupOneValue(cap, TWTY_UINT16, &word, sizeof word), 0);
    TW_UINT32 out = 0;
    TW_UINT16 type = 0;
    EXPECT_EQ(TV_TWAINHandler::getOneValue(cap, TWTY_UINT16, &type, &out, sizeof out, false), 0);
    EXPECT_EQ(out, word);
    EXPECT_EQ(type, TWTY_UINT16);
    ASSERT_NE(val(cap.hContainer), nullptr);
    // Another container type: nothing read, the block released as asked.
    cap.ConType = TWON_ARRAY;
    out = 0;
    EXPECT_EQ(TV_TWAINHandler::getOneValue(cap, TWTY_UINT16, &type, &out, sizeof out, true), TV_TWAINHandler::kParamErr);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(val(cap.hContainer), nullptr);
}

// ---- The real stack ---------------------------------------------------------------------------

TEST(RealStack, FindsOpensAndClosesKD720ByItsIdentity) {
    kdtest::TempHome home;
    const fs::path folder = home.root() / "twain";
    fs::create_directories(folder);
    fs::copy(KD720_BUNDLE, folder / "KD720", fs::copy_options::recursive);
    home.env().set("KD_TWAIN_DS_PATH", folder.string());
    home.env().set("KD_VIRTUAL_SCANNER", "1");

    auto h = makeHandler();
    ASSERT_EQ(h->registerCallback(hostCallback, 0), 0);
    bool found = false;
    for (TW_INT16 rc = h->getFirst(); rc == 0; rc = h->getNext()) {
        const TW_IDENTITY& id = h->dsIdentity();
        if (std::string(id.Manufacturer) == "Tavrolek Document Systems" && std::string(id.ProductFamily) == "Tavro KD-720 Driver" && std::string(id.ProductName) == "Tavro KD-720 TWAIN") {
            found = true;
            break;
        }
    }
    ASSERT_TRUE(found);
    ASSERT_EQ(h->openDS(), 0);
    EXPECT_EQ(h->getDSState(), 40u);
    TW_UINT32 count = 0;
    EXPECT_EQ(h->getDSCapability(MSG_GETCURRENT, CAP_XFERCOUNT, TWTY_INT16, &count, sizeof count), 0);
    EXPECT_EQ(static_cast<TW_INT16>(count & 0xFFFF), -1);
    EXPECT_EQ(h->closeDS(), 0);
    EXPECT_EQ(h->getDSState(), 80u);
    EXPECT_EQ(h->closeDSM(), 0);
}

} // namespace
