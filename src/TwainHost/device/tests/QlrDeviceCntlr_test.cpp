// The device controller against a scripted source under our manager (the
// order of the capability calls, the read-back, opening failures, the
// callback) and against the real KD720.ds on the virtual scanner.
#include "QlrDeviceCntlr.h"

#include "AppMainCntlrDSInfo.h"
#include "InputModel.h"
#include "KdTwainCustom.h"
#include "ModelTestSupport.h"
#include "QuietDeviceDelegate.h"
#include "RecordingUIController.h"
#include "ScannerDriverSettingModel.h"
#include "ScriptedSource.h"
#include "KD720TestBundle.h"
#include "TempHome.h"

#include <foundation/DataObjectRegistry.h>
#include <foundation/NotificationCenter.h>
#include <foundation/Object.h>
#include <foundation/RunLoop.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using twainhosttest::answerBy;
using twainhosttest::answerCode;
using twainhosttest::ScriptedSource;
using twainhosttest::SourceCall;

namespace {

constexpr const char* kSourceFile = "Scripted.ds";
constexpr const char* kMaker = "Test Maker";
constexpr const char* kFamily = "Test Family";
constexpr const char* kProduct = "Test Product";

std::string hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", v);
    return buf;
}

// What the delegate was asked, in order.
class RecordingDelegate : public QlrDeviceCntlrDelegate {
public:
    std::vector<std::string> log;
    bool cancelOnMain = false;
    bool exeScanning = true;
    int pages = 0;

    void sendChangeValidWatchingDeviceBtn(bool v) override { log.push_back(v ? "watch YES" : "watch NO"); }
    void scanReadyByTwainCB() override { log.push_back("scanReady"); }
    void setAppState(int s) override { log.push_back("state " + std::to_string(s)); }
    void setAppStateNum(int s) override { log.push_back("stateNum " + std::to_string(s)); }
    bool isExeScningState() override { return exeScanning; }
    bool isScnCancelOnMain() override { return cancelOnMain; }
    void scanCancelOnMainFromDeviveCntlr() override { log.push_back("cancelOnMain"); }
    void setIsInvalidScanCancelOnMain(bool v) override { log.push_back(v ? "invalidCancel YES" : "invalidCancel NO"); }
    int countOfImgInfoDict() override { return pages; }
    QlrPreviewSize previewSizeByMainWindow(bool) override { return {}; }
    QlrPreviewSize previewSizeWithLimitationForIKImageBrowserMemLeak(bool) override { return {}; }
    void addImgInfo(std::shared_ptr<ImageInfoModel>) override { log.push_back("addImgInfo"); }
    void setIsWriteFileCancel(bool) override { log.push_back("writeFileCancel"); }
    void setStateInfoStrForProcWinForPfm(const std::array<std::string, 2>&) override {}
    std::shared_ptr<JobModel> tmpCopyJobModel_Scan() override { return nullptr; }
    bool isErrInFinalOutput() override { return false; }
    bool isFinScanAndWritedFile(bool, int) override { return false; }
};

void runMainLoop() { kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.05)); }

class DeviceCntlr : public ::testing::Test {
protected:
    void SetUp() override {
        AppMainCntlrDSInfo::setCurrentDSInfo(
            std::make_shared<const kdf::Dictionary>(identityDict(kMaker, kFamily, kProduct)));
        QlrDeviceCntlr::setApplicationDelegate(&delegate);
        for (const char* name : {kDriverTerminateUINotification, kDriverCloseDSOkNotification})
            tokens.push_back(kdf::NotificationCenter::defaultCenter().addObserver(
                name, [this, n = std::string(name)](const kdf::Notification&) { posted.push_back(n); }));
    }
    void TearDown() override {
        QlrDeviceCntlr::terminateDeviceCntlr();
        QlrDeviceCntlr::setApplicationDelegate(nullptr);
        QlrDeviceCntlr::setIdlePump(nullptr);
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    }

    QlrDeviceCntlr& cntlr() { return *QlrDeviceCntlr::sharedDeviceCntlr(); }

    // "SET <cap>=<value>" for every MSG_SET of a capability, "GET <cap>" for
    // every MSG_GETCURRENT; integers signed, FIX32 as a number, strings by
    // their first byte.
    std::vector<std::string> capLog() const {
        std::vector<std::string> out;
        for (const SourceCall& c : source.sourceCalls) {
            if (c.dat != DAT_CAPABILITY) continue;
            const std::string cap = hex(c.capability.Cap);
            if (c.msg == MSG_GETCURRENT) {
                out.push_back("GET " + cap);
            } else if (c.msg == MSG_SET) {
                std::string v;
                if (c.itemType == TWTY_FIX32) {
                    TW_FIX32 f;
                    std::memcpy(&f, c.item.data(), sizeof f);
                    v = std::to_string(int(f.Whole));
                } else if (c.itemType == TWTY_STR32 || c.itemType == TWTY_STR64 || c.itemType == TWTY_STR255) {
                    v = "str:" + std::string(reinterpret_cast<const char*>(c.item.data()),
                                             ::strnlen(reinterpret_cast<const char*>(c.item.data()), 8));
                } else {
                    TW_INT32 w;
                    std::memcpy(&w, c.item.data(), sizeof w);
                    if (c.itemType == TWTY_INT16) w = TW_INT16(w);
                    if (c.itemType == TWTY_UINT16 || c.itemType == TWTY_BOOL) w = TW_UINT16(w);
                    v = std::to_string(w);
                }
                out.push_back("SET " + cap + "=" + v);
            }
        }
        return out;
    }
    std::vector<std::string> setCaps() const {
        std::vector<std::string> out;
        for (const std::string& s : capLog())
            if (s.rfind("SET ", 0) == 0) out.push_back(s.substr(4, 4));
        return out;
    }

    kdtest::TempHome home;
    modeltest::ScopedController services;
    ScriptedSource source;
    RecordingDelegate delegate;
    std::vector<kdf::ObserverToken> tokens;
    std::vector<std::string> posted;
};

// ---- Writing ------------------------------------------------------------------------------

// Calls 1 to 95 of a full write, as capability ids (conditional ones
// included; the test drops those the device does not support).
const std::vector<std::string> kFullWriteCaps = {
    "100B", "8034", "0001", "1007", "8400", "8407", "A000", "A001", "A002", "A003", "8406", "8007", "0101", "8029",
    "8057", "806B", "1109", "806C", "806F", "806E", "80CD", "80CE", "8405", "1118", "1119", "1013", "8001", "8037",
    "8076", "8000", "8401", "800D", "8070", "1101", "8404", "1103", "8403", "8009", "8069", "800E", "803B", "8077",
    "8078", "8008", "8032", "8068", "803F", "8040", "8003", "8004", "8018", "8410", "8411", "8412", "8413", "8414",
    "8415", "8416", "8417", "8034", "8410", "8411", "8412", "8413", "8414", "8415", "8416", "8417", "1101", "1103",
    "8008", "8032", "8034", "8418", "8419", "841A", "8402", "80CC", "80C8", "80C9", "80CA", "80CB", "812C", "8190",
    "819A", "8420", "8421", "8422", "819B", "819C", "819D", "81A4", "81A5", "81A6", "81AE"};

std::vector<std::string> expectedFullWrite(bool photoSupported) {
    std::vector<std::string> out;
    for (const auto& c : kFullWriteCaps)
        if (c != "819A" || photoSupported) out.push_back(c);
    return out;
}

TEST_F(DeviceCntlr, FullWriteWithDriverSettingsFollowsTheTableAndTheSideSelector) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    auto model = std::make_shared<InputModel>();
    model->setIsUseDriverSetting(true);
    model->currentDriverData()->setCcap_TVK_PRESCAN(1);
    ASSERT_TRUE(cntlr().openDS(model, true, true));
    EXPECT_EQ(setCaps(), expectedFullWrite(true));
    const auto log = capLog();
    // The selector: front, back before the back-side values, front after.
    std::vector<std::string> selectors;
    for (const auto& s : log)
        if (s.rfind("SET 8034", 0) == 0) selectors.push_back(s);
    EXPECT_EQ(selectors, (std::vector<std::string>{"SET 8034=1", "SET 8034=-1", "SET 8034=1"}));
    EXPECT_EQ(log.front(), "SET 100B=0");
    // Driver settings keep the model's PRESCAN.
    EXPECT_NE(std::find(log.begin(), log.end(), "SET 8018=1"), log.end());
    EXPECT_LE(log.size(), 118u);
    EXPECT_EQ(cntlr().curDSState(), TV_TWAINHandler::kStateSourceEnabled);
}

struct SimpleCase {
    const char* name;
    int color, paper, res, side, skew;
    bool recDir, apds, uiOnly;
    std::vector<std::string> tail; // the simple-mode overrides
};

class SimpleMode : public DeviceCntlr, public ::testing::WithParamInterface<SimpleCase> {};

TEST_P(SimpleMode, OverridesFollowTheFullSet) {
    const SimpleCase& c = GetParam();
    services->isAPDS = c.apds;
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    auto model = std::make_shared<InputModel>();
    model->setIsUseDriverSetting(false);
    model->setScnStColorType(c.color);
    model->setScnStPaperSizeType(c.paper);
    model->setScnStResolutionType(c.res);
    model->setScnStReaderSideType(c.side);
    model->setScnStSkewType(c.skew);
    model->setIsRecCharDir(c.recDir);
    model->currentDriverData()->setCcap_TVK_PRESCAN(1);
    ASSERT_TRUE(cntlr().openDS(model, c.uiOnly, true));
    const auto log = capLog();
    const std::size_t full = expectedFullWrite(!c.apds).size();
    ASSERT_GE(log.size(), full);
    std::vector<std::string> caps;
    for (std::size_t i = 0; i < full; ++i) caps.push_back(log[i].substr(4, 4));
    EXPECT_EQ(caps, expectedFullWrite(!c.apds));
    EXPECT_EQ(std::vector<std::string>(log.begin() + std::ptrdiff_t(full), log.end()), c.tail);
    // PRESCAN: 0 only for a scan with automatic colour detection.
    const bool prescanOff = !c.uiOnly && c.color == 0;
    EXPECT_NE(std::find(log.begin(), log.end(), prescanOff ? "SET 8018=0" : "SET 8018=1"), log.end());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimpleMode,
    ::testing::Values(
        SimpleCase{"AutoColourAutoPaperScan", 0, 0, 0, 0, 0, false, false, false,
                   {"SET 0101=2", "SET 806C=1", "SET 80CC=1", "SET 819A=0", "SET 8407=0", "SET A000=0", "SET A001=0",
                    "SET A002=0", "SET A003=0", "SET 8400=0", "SET 8000=1", "SET 1118=300", "SET 1119=300",
                    "SET 80C8=1", "SET 1013=1", "SET 8001=1", "SET 8037=0", "SET 800D=0", "SET 8190=0",
                    "SET 803B=0"}},
        SimpleCase{"BlackAndWhiteWithDirection", 5, 3, 4, 1, 2, true, false, true,
                   {"SET 1109=str:None", "SET 8029=0", "SET 0101=0", "SET 806C=0", "SET 80CC=1", "SET 819A=0", "SET 8407=0",
                    "SET A000=0", "SET A001=0", "SET A002=0", "SET A003=0", "SET 8400=3", "SET 8000=0",
                    "SET 1118=600", "SET 1119=600", "SET 80C8=0", "SET 1013=0", "SET 8001=0", "SET 8037=0",
                    "SET 800D=1", "SET 8190=1", "SET 8069=1", "SET 803B=1"}},
        SimpleCase{"PhotoGrayOutOfRangeTypes", 4, 9, 7, 2, 1, false, false, false,
                   {"SET 0101=1", "SET 806C=0", "SET 80CC=1", "SET 819A=1", "SET 8407=0", "SET A000=0", "SET A001=0",
                    "SET A002=0", "SET A003=0", "SET 8400=0", "SET 8000=0", "SET 1118=200", "SET 1119=200",
                    "SET 80C8=0", "SET 1013=1", "SET 8001=0", "SET 8037=0", "SET 800D=1", "SET 8190=0",
                    "SET 803B=0"}},
        // No photo mode on the AirPrint-class source.
        SimpleCase{"PhotoColourOnApds", 2, 2, 3, 2, 0, false, true, false,
                   {"SET 0101=2", "SET 806C=0", "SET 80CC=1", "SET 8407=0", "SET A000=0", "SET A001=0", "SET A002=0",
                    "SET A003=0", "SET 8400=1", "SET 8000=0", "SET 1118=400", "SET 1119=400", "SET 80C8=0",
                    "SET 1013=1", "SET 8001=0", "SET 8037=0", "SET 800D=0", "SET 8190=0", "SET 803B=0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceCntlr, AJobHoldingPagesWritesOnlyTheIndicators) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    delegate.pages = 2;
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    EXPECT_EQ(capLog(), std::vector<std::string>{"SET 100B=0"});
}

TEST_F(DeviceCntlr, WithoutAModelOnlyTheIndicatorsAndTheResultIsThatCall) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), true, true));
    source.clearLogs();
    cntlr().setCurInputModel(nullptr);
    TW_INT16 rc = 0;
    EXPECT_TRUE(cntlr().setCCAPsValues(&rc));
    EXPECT_EQ(capLog(), std::vector<std::string>{"SET 100B=0"});
    source.answerCap(MSG_SET, 0x100B, answerCode(TWRC_FAILURE));
    EXPECT_FALSE(cntlr().setCCAPsValues(&rc));
    EXPECT_EQ(rc, TWRC_FAILURE);
}

TEST_F(DeviceCntlr, EveryCallIsMadeAfterAFailureAndTheFirstCodeIsKept) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    auto model = std::make_shared<InputModel>();
    model->setIsUseDriverSetting(true);
    ASSERT_TRUE(cntlr().openDS(model, true, true));
    source.clearLogs();
    source.answerCap(MSG_SET, 0x8008, answerCode(TWRC_CHECKSTATUS));
    source.answerCap(MSG_SET, 0x81AE, answerCode(TWRC_FAILURE));
    TW_INT16 rc = 0;
    EXPECT_FALSE(cntlr().setCCAPsValues(&rc));
    EXPECT_EQ(rc, TWRC_CHECKSTATUS);
    EXPECT_EQ(setCaps(), expectedFullWrite(true));
}

TEST_F(DeviceCntlr, ValuesLongerThanTheirRecordFailBeforeTheCall) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    auto model = std::make_shared<InputModel>();
    model->setIsUseDriverSetting(true);
    ASSERT_TRUE(cntlr().openDS(model, true, true));
    const auto values = model->currentDriverData();
    values->setCcap_TVKM_GRAYCURVE(std::make_shared<const kdf::Bytes>(kdf::Bytes(257, 1)));
    values->setCcap_TVKM_FAVORITENAME(std::make_shared<const kdf::Bytes>(kdf::Bytes(67, 1)));
    values->setIcap_HALFTONES(std::make_shared<const kdf::Bytes>(kdf::Bytes(34, 'a')));
    // A shorter curve is zero-filled.
    values->setCcap_TVKM_REDCURVE(std::make_shared<const kdf::Bytes>(kdf::Bytes(3, 7)));
    source.clearLogs();
    TW_INT16 rc = 0;
    EXPECT_FALSE(cntlr().setCCAPsValues(&rc));
    EXPECT_EQ(rc, TV_TWAINHandler::kParamErr);
    auto caps = setCaps();
    // The first gray curve (front), the favourite name and the halftone never went out.
    EXPECT_EQ(std::count(caps.begin(), caps.end(), "8410"), 1);
    EXPECT_EQ(std::count(caps.begin(), caps.end(), "8402"), 0);
    EXPECT_EQ(std::count(caps.begin(), caps.end(), "1109"), 0);
    for (const SourceCall& c : source.sourceCalls)
        if (c.msg == MSG_SET && c.capability.Cap == 0x8411 && c.item.size() == 256) {
            EXPECT_EQ(c.item[2], 7);
            EXPECT_EQ(c.item[3], 0);
            EXPECT_EQ(c.item[255], 0);
            break;
        }
}

// ---- Reading back -------------------------------------------------------------------------

// A distinct value per capability, as the source reports it.
void answerAllReads(ScriptedSource& source, std::map<TW_UINT16, TW_UINT32>& words) {
    for (const DriverValueInfo& r : driverValueTable()) {
        if (r.itemType == TWTY_STR32 || r.itemType == TWTY_STR64 || r.itemType == TWTY_STR255) {
            std::vector<std::uint8_t> bytes(TV_TWAINHandler::getItemSize(r.itemType), 0);
            bytes[0] = 3;
            bytes[1] = std::uint8_t(r.cap);
            source.answerOneValue(MSG_GETCURRENT, r.cap, r.itemType, bytes.data(), bytes.size());
        } else if (r.itemType == TWTY_FIX32) {
            TW_FIX32 f{};
            f.Whole = TW_INT16(r.cap & 0x7F);
            source.answerOneValue(MSG_GETCURRENT, r.cap, r.itemType, &f, sizeof f);
            words[r.cap] = TW_UINT32(f.Whole);
        } else {
            const TW_UINT32 w = (r.itemType == TWTY_BOOL) ? 1u : TW_UINT32(r.cap & 0xFF) + 2u;
            source.answerOneValue(MSG_GETCURRENT, r.cap, r.itemType, &w, sizeof w);
            words[r.cap] = w;
        }
    }
}

TEST_F(DeviceCntlr, ReadBackPlacesTheSelectorAndEveryValueReachesItsSetter) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    auto model = std::make_shared<InputModel>();
    ASSERT_TRUE(cntlr().openDS(model, true, true));
    std::map<TW_UINT16, TW_UINT32> words;
    answerAllReads(source, words);
    source.clearLogs();
    TW_INT16 rc = 5;
    ASSERT_TRUE(cntlr().getCCAPsValues(&rc));
    EXPECT_EQ(rc, 0);
    const auto log = capLog();
    ASSERT_EQ(log.size(), 94u);
    EXPECT_EQ(log[0], "SET 8034=1");
    EXPECT_EQ(log[1], "GET 0001");
    EXPECT_EQ(log[27], "GET 8400"); // read 27
    EXPECT_EQ(log[58], "SET 8034=-1");
    EXPECT_EQ(log[59], "GET 8410"); // read 58: the back's gray curve
    EXPECT_EQ(log[71], "SET 8034=1");
    EXPECT_EQ(log[72], "GET 8418"); // read 70
    EXPECT_EQ(log[93], "GET 81AE");

    const auto values = model->currentDriverData();
    for (std::size_t i = 0; i < kDriverValueCount; ++i) {
        const DriverValueInfo& r = driverValueTable()[i];
        SCOPED_TRACE(r.name);
        const DriverValue v = values->value(DriverValueId(i));
        if (const auto* d = std::get_if<DriverData>(&v)) {
            ASSERT_TRUE(*d);
            EXPECT_EQ((**d)[1], std::uint8_t(r.cap));
        } else if (const auto* f = std::get_if<float>(&v)) {
            EXPECT_EQ(*f, float(words[r.cap]));
        } else {
            EXPECT_EQ(std::get<std::int64_t>(v), std::int64_t(words[r.cap]));
        }
    }
}

TEST_F(DeviceCntlr, OneFailedReadLeavesTheModelUnchanged) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    auto model = std::make_shared<InputModel>();
    ASSERT_TRUE(cntlr().openDS(model, true, true));
    const auto before = model->currentDriverData()->clone();
    std::map<TW_UINT16, TW_UINT32> words;
    answerAllReads(source, words);
    source.answerCap(MSG_GETCURRENT, 0x8070, answerCode(TWRC_FAILURE));
    source.clearLogs();
    TW_INT16 rc = 0;
    EXPECT_FALSE(cntlr().getCCAPsValues(&rc));
    EXPECT_EQ(rc, TWRC_FAILURE);
    EXPECT_EQ(capLog().size(), 94u); // every read was still made
    EXPECT_TRUE(*model->currentDriverData() == *before);
}

TEST_F(DeviceCntlr, TheWindowsOkBringsTheValuesBack) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    auto model = std::make_shared<InputModel>();
    ASSERT_TRUE(cntlr().openDS(model, true, true));
    std::map<TW_UINT16, TW_UINT32> words;
    answerAllReads(source, words);
    source.notify(kSourceFile, MSG_CLOSEDSOK);
    runMainLoop();
    EXPECT_EQ(posted, (std::vector<std::string>{kDriverCloseDSOkNotification, kDriverTerminateUINotification}));
    EXPECT_EQ(model->currentDriverData()->ccap_TVK_REDUCE_MOIRE(), std::int32_t(words[0x8070]));
    EXPECT_FALSE(cntlr().twHandler()->isDSOpen());
    EXPECT_FALSE(cntlr().lastAlertKey());
}

// ---- Opening ------------------------------------------------------------------------------

struct OpenCase {
    const char* name;
    std::function<void(ScriptedSource&)> script;
    bool identity;
    const char* key;
};

class Opening : public DeviceCntlr, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(Opening, FailuresShowTheirKeyAndLeaveTheSourceClosed) {
    const OpenCase& c = GetParam();
    if (!c.identity) AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    c.script(source);
    auto model = std::make_shared<InputModel>();
    model->setIsUseDriverSetting(true);
    EXPECT_FALSE(cntlr().openDS(model, false, true));
    EXPECT_EQ(cntlr().lastAlertKey(), std::optional<std::string>(c.key));
    EXPECT_FALSE(cntlr().twHandler()->isDSOpen());
    EXPECT_EQ(delegate.log.front(), "watch NO");
    EXPECT_NE(std::find(delegate.log.begin(), delegate.log.end(), "watch YES"), delegate.log.end());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Opening,
    ::testing::Values(
        OpenCase{"NothingInstalled", [](ScriptedSource&) {}, true, "Err_NotFoundScannerDriver"},
        OpenCase{"NoMatch", [](ScriptedSource& s) { s.place(kSourceFile, kMaker, kFamily, "Other"); }, true,
                 "Err_NotFoundScannerDriver"},
        OpenCase{"NoIdentity", [](ScriptedSource& s) { s.place(kSourceFile, kMaker, kFamily, kProduct); }, false,
                 "Err_NotFoundScannerDriver"},
        OpenCase{"OpenFailsWithNoSource",
                 [](ScriptedSource& s) {
                     s.place(kSourceFile, kMaker, kFamily, kProduct);
                     twainhosttest::Answer a = answerCode(TWRC_FAILURE);
                     a.condition = TWCC_NODS;
                     s.answer(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, a);
                 },
                 true, "Err_NotLoadScannerDriver"},
        OpenCase{"OpenFailsOtherwise",
                 [](ScriptedSource& s) {
                     s.place(kSourceFile, kMaker, kFamily, kProduct);
                     s.answer(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, answerCode(TWRC_FAILURE));
                 },
                 true, "Err_NotUseScannerDriver"},
        OpenCase{"WriteAnsweredCheckStatus",
                 [](ScriptedSource& s) {
                     s.place(kSourceFile, kMaker, kFamily, kProduct);
                     s.answerCap(MSG_SET, 0x8070, answerCode(TWRC_CHECKSTATUS));
                 },
                 true, "Err_DriverSetFault"}),
    [](const auto& info) { return std::string(info.param.name); });

// A manager answering MSG_GETNEXT with a code other than 0, 1, 3 or 7.
TW_UINT16 checkStatusOnGetNext(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                               TW_MEMREF data) {
    if (dat == DAT_IDENTITY && msg == MSG_GETNEXT) return TWRC_CHECKSTATUS;
    return ScriptedSource::current()->hostEntry(origin, dest, dg, dat, msg, data);
}

TEST_F(DeviceCntlr, AnyOtherCodeFromTheWalkEndsIt) {
    source.place(kSourceFile, kMaker, kFamily, "Other");
    TV_TWAINHandler::setDSMEntry(checkStatusOnGetNext);
    EXPECT_EQ(cntlr().findDSAndOpenDS(), TWRC_CHECKSTATUS);
    EXPECT_FALSE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    EXPECT_EQ(cntlr().lastAlertKey(), std::optional<std::string>("Err_NotUseScannerDriver"));
    TV_TWAINHandler::setDSMEntry(nullptr);
}

TEST_F(DeviceCntlr, NoInputModelClosesTheSourceWithTheSettingsKey) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    EXPECT_FALSE(cntlr().openDS(nullptr, false, true));
    EXPECT_EQ(cntlr().lastAlertKey(), std::optional<std::string>("Err_DriverSetFault"));
    EXPECT_FALSE(cntlr().twHandler()->isDSOpen());
}

TEST_F(DeviceCntlr, AFailedScanEnableEndsTheScanWithoutAnAlert) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    source.answer(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, answerCode(TWRC_FAILURE));
    EXPECT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    EXPECT_FALSE(cntlr().lastAlertKey());
    EXPECT_NE(std::find(delegate.log.begin(), delegate.log.end(), "state 104"), delegate.log.end());
    EXPECT_FALSE(cntlr().twHandler()->isDSOpen());
}

TEST_F(DeviceCntlr, ACancelAskedMeanwhileGoesToTheDelegate) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    delegate.cancelOnMain = true;
    EXPECT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    const std::vector<std::string> tail(delegate.log.end() - 2, delegate.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"cancelOnMain", "stateNum 104"}));
}

// ---- The callback -------------------------------------------------------------------------

struct CallbackCase {
    const char* name;
    TW_UINT16 msg;
    TW_UINT16 event; // for MSG_DEVICEEVENT
    bool uiOnly;
    bool cancel;
    std::vector<std::string> delegateCalls; // after the opening's
    std::vector<std::string> notifications;
    bool closed;
};

class Callback : public DeviceCntlr, public ::testing::WithParamInterface<CallbackCase> {};

TEST_P(Callback, DispatchesOnTheMessage) {
    const CallbackCase& c = GetParam();
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    source.answer(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, answerBy([ev = c.event](SourceCall& call) {
                      static_cast<pTW_DEVICEEVENT>(call.data)->Event = ev;
                      return TW_UINT16(TWRC_SUCCESS);
                  }));
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), c.uiOnly, true));
    if (c.cancel) cntlr().setIsScanCancel(true);
    delegate.log.clear();
    // The manager passes on only the messages it knows.
    const bool known = c.msg >= MSG_XFERREADY && c.msg <= MSG_DEVICEEVENT;
    EXPECT_EQ(known ? source.notify(kSourceFile, c.msg)
                    : TWAIN_ScanCallback(nullptr, nullptr, DG_CONTROL, DAT_NULL, c.msg, nullptr),
              TWRC_SUCCESS);
    runMainLoop();
    // A page's worker needs the main loop until it has ended the job.
    for (int i = 0; i < 400 && cntlr().isRunningMemXfer(); ++i) runMainLoop();
    EXPECT_EQ(delegate.log, c.delegateCalls);
    EXPECT_EQ(posted, c.notifications);
    EXPECT_EQ(!cntlr().twHandler()->isDSOpen(), c.closed);
}

const std::string kTerm = kDriverTerminateUINotification;
const std::string kOk = kDriverCloseDSOkNotification;

INSTANTIATE_TEST_SUITE_P(
    Cases, Callback,
    ::testing::Values(
        CallbackCase{"ScanStarted", MSG_DEVICEEVENT, 0x8003, false, false, {"state 101"}, {}, false},
        CallbackCase{"ReadyToScan", MSG_DEVICEEVENT, 0x8002, false, false, {"scanReady"}, {}, false},
        CallbackCase{"EventWhileUIOnly", MSG_DEVICEEVENT, 0x8003, true, false, {}, {}, false},
        CallbackCase{"EventAfterCancel", MSG_DEVICEEVENT, 0x8002, false, true, {}, {}, false},
        CallbackCase{"UnknownEvent", MSG_DEVICEEVENT, 0x8010, false, false, {}, {}, false},
        CallbackCase{"UnknownMessage", 0x0777, 0, false, false, {}, {}, false},
        CallbackCase{"CloseRequestDuringScan", MSG_CLOSEDSREQ, 0, false, false, {"state 104"}, {}, true},
        CallbackCase{"CloseRequestUIOnly", MSG_CLOSEDSREQ, 0, true, false, {}, {kTerm}, true},
        // The scripted source answers no values: the window's OK cannot be read.
        CallbackCase{"CloseOkUIOnlyUnreadable", MSG_CLOSEDSOK, 0, true, false, {}, {kTerm}, true},
        CallbackCase{"CloseOkDuringScan", MSG_CLOSEDSOK, 0, false, false, {}, {}, true},
        // The source describes no page: the job ends as failed.
        CallbackCase{"TransferReady", MSG_XFERREADY, 0, false, false, {"scanReady", "stateNum 104"}, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceCntlr, TheCallbackWithoutAControllerDoesNothing) {
    EXPECT_EQ(TWAIN_ScanCallback(nullptr, nullptr, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(TWAIN_ScanCallback(nullptr, nullptr, DG_CONTROL, DAT_NULL, MSG_DEVICEEVENT, nullptr), TWRC_SUCCESS);
}

TEST_F(DeviceCntlr, IdleTicksAfterACancelSendOneAbortRequestUntilTheNextScan) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    source.answer(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, answerBy([](SourceCall& call) {
                      static_cast<pTW_DEVICEEVENT>(call.data)->Event = 0x8004;
                      return TW_UINT16(TWRC_SUCCESS);
                  }));
    int pumped = 0;
    QlrDeviceCntlr::setIdlePump([&](double seconds) {
        EXPECT_EQ(seconds, 0.1);
        ++pumped;
    });
    int abortCount = 0;
    source.answer(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, answerBy([&](SourceCall& call) {
                      auto* p = static_cast<pTW_PASSTHRU>(call.data);
                      if (*static_cast<TW_UINT32*>(p->pCommand) == kPassThruAbortRequest) ++abortCount;
                      return TW_UINT16(TWRC_SUCCESS);
                  }));
    auto aborts = [&] { return abortCount; };
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    source.notify(kSourceFile, MSG_DEVICEEVENT);
    EXPECT_EQ(aborts(), 0);
    delegate.cancelOnMain = true;
    for (int i = 0; i < 3; ++i) source.notify(kSourceFile, MSG_DEVICEEVENT);
    EXPECT_EQ(aborts(), 1);
    EXPECT_EQ(pumped, 4);
    EXPECT_TRUE(QlrDeviceCntlr::wasSentCancelToDS());
    EXPECT_TRUE(delegate.log.empty() || delegate.log.back() != "scanReady");
}

// ---- Pass-through records ----------------------------------------------------------------

// The record each command sends: the word in host byte order, CommandBytes 4,
// Direction 0, and the reply's size.
TEST_F(DeviceCntlr, PassThroughCommandsSendTheirWordAndReplySize) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    struct Sent {
        TW_UINT32 word, commandBytes;
        TW_INT32 direction;
        TW_UINT32 dataBytes;
        bool hasData;
    };
    std::vector<Sent> sent;
    source.answer(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, answerBy([&](SourceCall& call) {
                      auto* p = static_cast<pTW_PASSTHRU>(call.data);
                      sent.push_back({*static_cast<TW_UINT32*>(p->pCommand), p->CommandBytes, p->Direction,
                                      p->DataBytes, p->pData != nullptr});
                      if (*static_cast<TW_UINT32*>(p->pCommand) == kPassThruButtonStatus)
                          *static_cast<TW_UINT32*>(p->pData) = 0x1234;
                      if (*static_cast<TW_UINT32*>(p->pCommand) == kPassThruDeviceInfo)
                          static_cast<std::uint8_t*>(p->pData)[15] = 9;
                      return TW_UINT16(TWRC_SUCCESS);
                  }));
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), true, true));
    sent.clear();
    EXPECT_EQ(cntlr().getDeviceBtnStatus(), 0x1234u);
    EXPECT_EQ(cntlr().getDeviceInfo()[15], 9);
    EXPECT_EQ(cntlr().resetRollerCount(kPassThruResetRollerCount), TWRC_SUCCESS);
    cntlr().sendCancelToDS();
    cntlr().sendCancelToDS();
    ASSERT_EQ(sent.size(), 4u);
    const TW_UINT32 words[] = {0x47744253, 0x47744449, kPassThruResetRollerCount, 0x41625271};
    const TW_UINT32 sizes[] = {4, 16, 0, 0};
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].word, words[i]);
        EXPECT_EQ(sent[i].commandBytes, 4u);
        EXPECT_EQ(sent[i].direction, 0);
        EXPECT_EQ(sent[i].dataBytes, sizes[i]);
        EXPECT_EQ(sent[i].hasData, sizes[i] != 0);
    }
    // 'AbRq' in memory: 71 52 62 41 on a little-endian host.
    const TW_UINT32 abrq = 0x41625271;
    std::uint8_t bytes[4];
    std::memcpy(bytes, &abrq, 4);
    EXPECT_EQ(bytes[0], 0x71);
}

// ---- Shading data ---------------------------------------------------------------------------

TEST_F(DeviceCntlr, ShadingDataTakenAtCloseHandedBackAtTheNextScanAndDroppedAfterAFailedProbe) {
    source.place(kSourceFile, kMaker, kFamily, kProduct);
    const std::size_t registered = kdf::DataObjectRegistry::count();
    std::vector<std::uint8_t> handedBack;
    source.answer(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, answerBy([&](SourceCall& call) {
                      auto* p = static_cast<pTW_PASSTHRU>(call.data);
                      const TW_UINT32 word = *static_cast<TW_UINT32*>(p->pCommand);
                      if (word == kPassThruGetShading) {
                          EXPECT_EQ(p->DataBytes, sizeof(kdf::DataObjectHandle));
                          *static_cast<kdf::DataObjectHandle*>(p->pData) = kdf::DataObjectRegistry::add({1, 2, 3});
                      } else if (word == kPassThruSetShading) {
                          const auto h = *static_cast<kdf::DataObjectHandle*>(p->pData);
                          if (auto bytes = kdf::DataObjectRegistry::lookup(h))
                              handedBack.assign(bytes->begin(), bytes->end());
                      }
                      return TW_UINT16(TWRC_SUCCESS);
                  }));
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    EXPECT_TRUE(handedBack.empty());
    source.notify(kSourceFile, MSG_CLOSEDSREQ);
    runMainLoop();
    ASSERT_TRUE(cntlr().shadingData());
    EXPECT_EQ(*cntlr().shadingData(), (kdf::Bytes{1, 2, 3}));
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    EXPECT_EQ(handedBack, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(kdf::DataObjectRegistry::count(), registered);

    // A reply without an object keeps nothing.
    source.answer(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, answerCode(TWRC_SUCCESS));
    source.notify(kSourceFile, MSG_CLOSEDSREQ);
    runMainLoop();
    EXPECT_FALSE(cntlr().shadingData());
    cntlr().setShadingData(std::make_shared<const kdf::Bytes>(kdf::Bytes{4}));
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));

    // A failed button probe drops what was kept.
    source.answer(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, answerCode(TWRC_FAILURE));
    source.notify(kSourceFile, MSG_CLOSEDSREQ);
    runMainLoop();
    EXPECT_FALSE(cntlr().shadingData());
    EXPECT_EQ(kdf::DataObjectRegistry::count(), registered);
}

// ---- The real stack ----------------------------------------------------------------------

// Every capability call the host makes, with its code.
struct CapCall {
    TW_UINT16 msg;
    TW_UINT16 cap;
    TW_UINT16 rc;
};
std::vector<CapCall> gCapCalls;
TW_UINT16 recordingEntry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                         TW_MEMREF data) {
    const TW_UINT16 cap = (dat == DAT_CAPABILITY && data) ? static_cast<pTW_CAPABILITY>(data)->Cap : 0;
    const TW_UINT16 rc = DSM_Entry(origin, dest, dg, dat, msg, data);
    if (dat == DAT_CAPABILITY) gCapCalls.push_back({msg, cap, rc});
    return rc;
}

TEST(RealStack, KD720TakesAFullWriteAndGivesTheValuesBackCallByCall) {
    kdtest::TempHome home;
    const fs::path folder = home.root() / "twain";
    fs::create_directories(folder);
    fs::copy(KD720_BUNDLE, folder / "KD720", fs::copy_options::recursive);
    home.env().set("KD_TWAIN_DS_PATH", folder.string());
    home.env().set("KD_VIRTUAL_SCANNER", "1");
    modeltest::ScopedController services;
    // The device type of the KD-720 decides which capabilities go out.
    services->productName = "Tavro KD-720 TWAIN";
    AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(
        identityDict("Tavrolek Document Systems", "Tavro KD-720 Driver", "Tavro KD-720 TWAIN")));
    RecordingDelegate delegate;
    QlrDeviceCntlr::setApplicationDelegate(&delegate);
    gCapCalls.clear();
    TV_TWAINHandler::setDSMEntry(recordingEntry);
    {
        QlrDeviceCntlr& cntlr = *QlrDeviceCntlr::sharedDeviceCntlr();
        ASSERT_EQ(cntlr.findDSAndOpenDS(), TWRC_SUCCESS);
        auto model = std::make_shared<InputModel>();
        model->setIsUseDriverSetting(true);
        cntlr.setIsOpenScnPanel(true);
        cntlr.setCurInputModel(model);
        TW_INT16 rc = 0;
        EXPECT_TRUE(cntlr.setCCAPsValues(&rc));
        EXPECT_EQ(rc, 0);
        std::size_t sets = 0;
        for (const CapCall& c : gCapCalls) {
            SCOPED_TRACE(hex(c.cap));
            EXPECT_EQ(c.msg, MSG_SET);
            EXPECT_EQ(c.rc, TWRC_SUCCESS);
            ++sets;
        }
        EXPECT_GE(sets, 80u);

        const auto before = model->currentDriverData()->clone();
        gCapCalls.clear();
        EXPECT_TRUE(cntlr.getCCAPsValues(&rc));
        EXPECT_EQ(rc, 0);
        std::size_t gets = 0;
        for (const CapCall& c : gCapCalls) {
            SCOPED_TRACE(hex(c.cap));
            EXPECT_EQ(c.rc, TWRC_SUCCESS);
            gets += c.msg == MSG_GETCURRENT;
        }
        EXPECT_EQ(gets + 3, gCapCalls.size());
        // What went in comes back; the source sizes the scan area from the
        // paper size, and an absent name reads back as an empty record.
        for (std::size_t i = 0; i < kDriverValueCount; ++i) {
            SCOPED_TRACE(driverValueTable()[i].name);
            if (DriverValueId(i) == DriverValueId::ccap_TVKM_SCANAREA_WIDTH ||
                DriverValueId(i) == DriverValueId::ccap_TVKM_SCANAREA_HEIGHT)
                continue;
            const DriverValue got = model->currentDriverData()->value(DriverValueId(i));
            const DriverValue want = before->value(DriverValueId(i));
            if (const auto* d = std::get_if<DriverData>(&want)) {
                const auto& g = std::get<DriverData>(got);
                kdf::Bytes expected = *d ? **d : kdf::Bytes{};
                if (g && expected.size() < g->size()) expected.resize(g->size(), 0);
                EXPECT_EQ(g ? *g : kdf::Bytes{}, expected);
            } else {
                EXPECT_TRUE(got == want);
            }
        }
        EXPECT_EQ(cntlr.closeDSForAppQuit(), TWRC_SUCCESS);
    }
    QlrDeviceCntlr::terminateDeviceCntlr();
    TV_TWAINHandler::setDSMEntry(nullptr);
    QlrDeviceCntlr::setApplicationDelegate(nullptr);
    AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
}

// The window double the data source makes for its settings window.
RecordingUIController* gWindow = nullptr;
class TrackedWindow : public RecordingUIController {
public:
    TrackedWindow() { gWindow = this; }
    ~TrackedWindow() override {
        if (gWindow == this) gWindow = nullptr;
    }
};

TEST(RealStack, KD720SettingsWindowConfirmedWithOkBringsTheValuesBack) {
    kdtest::TempHome home;
    installKD720WithRecordingWindow(home, "1");
    kdf::registerClass(kUIControllerClassName, &kdf::makeObject<TrackedWindow>);
    modeltest::ScopedController services;
    services->productName = "Tavro KD-720 TWAIN";
    AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(
        identityDict("Tavrolek Document Systems", "Tavro KD-720 Driver", "Tavro KD-720 TWAIN")));
    RecordingDelegate delegate;
    QlrDeviceCntlr::setApplicationDelegate(&delegate);
    std::vector<std::string> posted;
    std::vector<kdf::ObserverToken> tokens;
    for (const char* name : {kDriverTerminateUINotification, kDriverCloseDSOkNotification})
        tokens.push_back(kdf::NotificationCenter::defaultCenter().addObserver(
            name, [&posted, n = std::string(name)](const kdf::Notification&) { posted.push_back(n); }));
    {
        QlrDeviceCntlr& cntlr = *QlrDeviceCntlr::sharedDeviceCntlr();
        auto model = std::make_shared<InputModel>();
        model->setIsUseDriverSetting(true);
        const auto values = model->currentDriverData();
        values->setCcap_TVK_EDGEEMPHASIS(2);
        ASSERT_TRUE(cntlr.openDS(model, true, true));
        EXPECT_EQ(cntlr.curDSState(), TV_TWAINHandler::kStateSourceEnabled);
        // Meanwhile the panel's copy changes; the window's OK brings back
        // what the source holds.
        values->setCcap_TVK_EDGEEMPHASIS(0);
        ASSERT_NE(gWindow, nullptr);
        gWindow->postCloseDSOkay();
        runMainLoop();
        EXPECT_EQ(posted, (std::vector<std::string>{kDriverCloseDSOkNotification, kDriverTerminateUINotification}));
        EXPECT_EQ(values->ccap_TVK_EDGEEMPHASIS(), 2);
        EXPECT_FALSE(cntlr.twHandler()->isDSOpen());
        EXPECT_FALSE(cntlr.lastAlertKey());
    }
    QlrDeviceCntlr::terminateDeviceCntlr();
    QlrDeviceCntlr::setApplicationDelegate(nullptr);
    AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    kdf::unregisterClass(kUIControllerClassName);
}

} // namespace
