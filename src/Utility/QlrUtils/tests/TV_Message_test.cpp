// The alert routines against presenter doubles, inside a bundle that holds
// the application's English texts.
#include "TV_Message.h"

#include "AppControllerServices.h"
#include "ProcessWindowServices.h"

#include <foundation/Bundle.h>
#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace TV_Message;
using namespace std::chrono_literals;

namespace {

std::string text(std::string_view key) {
    return kdf::Bundle::main()->localizedString(key);
}

class PresenterDouble : public AlertPresenter {
public:
    std::vector<AlertRequest> shown;
    // Runs while the alert "shows"; answers the pressed button's index.
    std::function<int(const AlertRequest&)> onShow = [](const AlertRequest&) { return 0; };

    int runModal(const AlertRequest& request) override {
        shown.push_back(request);
        return onShow(request);
    }
};

class ProcessWindowDouble : public ProcessWindowServices {
public:
    std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> received;
    void setStateInfoStrForProcWinForPfm(const std::optional<std::string>& title,
                                         const std::optional<std::string>& information) override {
        received.emplace_back(title, information);
    }
};

class SettingWindow : public AppControllerServices {
public:
    bool visible = false;
    std::string dsProductName() const override { return kDummyProductName; }
    bool dsIsAPDS() const override { return true; }
    bool supportsCAPOnDevice(std::uint16_t) const override { return true; }
    bool supportsScanSide(const std::optional<std::string>&) const override { return true; }
    bool settingWindowVisible() const override { return visible; }
};

struct Notice {
    const void* sender;
    bool start;
};

class TVMessage : public testing::Test {
protected:
    void SetUp() override {
        setAlertPresenter(AlertKind::Platform, platform);
        token = kdf::NotificationCenter::defaultCenter().addObserver(
            kTvAlertRunModalNotification, [this](const kdf::Notification& n) {
                const kdf::Value* v = n.userInfo() ? kdf::find(*n.userInfo(), kIsStartRunmodalKey) : nullptr;
                ASSERT_TRUE(v && v->toBool());
                notices.push_back({n.sender(), *v->toBool()});
            });
    }
    void TearDown() override {
        setAlertPresenter(AlertKind::Platform, nullptr);
        setAlertPresenter(AlertKind::TvAlert, nullptr);
        AppControllerServices::setCurrent(nullptr);
        MainWindowCntlr::setProcessWindow(nullptr);
        EXPECT_FALSE(isDisplayedMessageNow());
    }

    std::shared_ptr<PresenterDouble> platform = std::make_shared<PresenterDouble>();
    std::vector<Notice> notices;
    kdf::ObserverToken token;
};

TEST_F(TVMessage, ErrorKeySet) {
    EXPECT_EQ(errorKeys().size(), 40u);
    EXPECT_EQ(confirmationKeys().size(), 11u);
    EXPECT_TRUE(isQLRErr("Err_UnknownError"));
    EXPECT_TRUE(isQLRErr("Err_NotCreatePdfAFromOCRLang"));
    EXPECT_FALSE(isQLRErr(""));
    EXPECT_FALSE(isQLRErr("Cnfm_QuitAppYesOrNo"));
    EXPECT_FALSE(isQLRErr("Err_unknownerror"));
    EXPECT_FALSE(isQLRErr(kNoErrOnlyThrow));
}

TEST_F(TVMessage, EveryKeyHasAnEnglishText) {
    std::vector<std::string_view> keys = errorKeys();
    keys.insert(keys.end(), confirmationKeys().begin(), confirmationKeys().end());
    for (std::string_view key : keys) EXPECT_NE(text(key), key);
    // Titles and buttons read as their keys in English; the table has them.
    for (std::string_view key : {"Error", "Confirm", "OK", "Cancel", "Yes", "No"})
        EXPECT_EQ(kdf::Bundle::main()->localizedString(key, "missing"), key);
    EXPECT_EQ(text("Err_UnknownError"), "An unknown error occurred.");
}

// Which buttons answer Return and Escape, over button count and default index.
TEST_F(TVMessage, KeyEquivalentRule) {
    struct Case {
        int buttons;
        int def;
        std::optional<int> ret;
        std::optional<int> esc;
    };
    const Case cases[] = {
        {1, 0, 0, {}},  {1, 1, 0, {}},  {1, -1, 0, {}}, {1, 2, 0, {}},
        {2, 0, 0, 1},   {2, 1, 1, {}},  {2, 2, 0, 1},   {2, 3, {}, {}}, {2, -1, {}, {}},
        {3, 0, 0, {}},  {3, 1, 1, {}},  {3, 2, 2, {}},  {3, 3, {}, {}},
    };
    for (const Case& c : cases) {
        platform->shown.clear();
        std::optional<std::string> b2 = c.buttons >= 2 ? std::optional<std::string>("No") : std::nullopt;
        std::optional<std::string> b3 = c.buttons >= 3 ? std::optional<std::string>("Cancel") : std::nullopt;
        showPanel("Confirm", "Cnfm_QuitAppYesOrNo", std::nullopt, "Yes", b2, b3, 1, c.def, false);
        ASSERT_EQ(platform->shown.size(), 1u);
        const AlertRequest& r = platform->shown[0];
        SCOPED_TRACE(testing::Message() << c.buttons << " buttons, default " << c.def);
        EXPECT_EQ(int(r.buttons.size()), c.buttons);
        EXPECT_EQ(r.returnButton, c.ret);
        EXPECT_EQ(r.escapeButton, c.esc);
    }
}

TEST_F(TVMessage, ReturnCodesByButtonRank) {
    // Pressed index -> answer; the first button is "OK" when its key is none,
    // and a third button without a second still answers -1.
    for (int pressed : {0, 1, 2, 3, -1}) {
        platform->onShow = [&](const AlertRequest&) { return pressed; };
        const int expected[] = {1, 0, -1, -2};
        EXPECT_EQ(showPanel("Confirm", "Cnfm_RestoreYesOrNo", std::nullopt, "Yes", "No", "Cancel", 1, 0, false),
                  pressed >= 0 ? expected[pressed] : -2);
    }
    platform->shown.clear();
    platform->onShow = [](const AlertRequest&) { return 1; };
    EXPECT_EQ(showPanel("Confirm", std::nullopt, "text", std::nullopt, std::nullopt, "Cancel", 1, 0, false), -1);
    ASSERT_EQ(platform->shown.size(), 1u);
    EXPECT_EQ(platform->shown[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
}

TEST_F(TVMessage, TextsAreLocalisedAndShownVerbatim) {
    showPanel("Confirm", "Cnfm_ScanCancelYesOrNo", std::nullopt, "Yes", "No", std::nullopt, 1, 0, false);
    // A given text wins over the key and is never a format.
    showPanel(std::nullopt, "Cnfm_ScanCancelYesOrNo", std::string("%@ %n %s 100%"), "OK", std::nullopt,
              std::nullopt, 2, 0, false);
    // A localised text with a conversion in it stays as it stands too.
    showPanel("Error", "Err_NotPossibleContinue", std::nullopt, "OK", std::nullopt, std::nullopt, 2, 0, false);
    showPanel(std::nullopt, std::nullopt, std::nullopt, "OK", std::nullopt, std::nullopt, 0, 0, false);
    ASSERT_EQ(platform->shown.size(), 4u);
    EXPECT_EQ(platform->shown[0].messageText, "Confirm");
    EXPECT_EQ(platform->shown[0].informativeText, "Do you want to cancel scanning?");
    EXPECT_EQ(platform->shown[0].buttons, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(platform->shown[0].style, 1);
    EXPECT_EQ(platform->shown[1].messageText, " ");
    EXPECT_EQ(platform->shown[1].informativeText, "%@ %n %s 100%");
    EXPECT_EQ(platform->shown[2].informativeText, text("Err_NotPossibleContinue"));
    EXPECT_NE(platform->shown[2].informativeText.find("%d"), std::string::npos);
    EXPECT_EQ(platform->shown[3].informativeText, " ");
}

TEST_F(TVMessage, OneAlertAtATime) {
    int inner = 0;
    platform->onShow = [&](const AlertRequest&) {
        EXPECT_TRUE(isDisplayedMessageNow());
        inner = showPanel("Error", "Err_UnknownError", std::nullopt, "OK", std::nullopt, std::nullopt, 2, 0, false);
        return 0;
    };
    EXPECT_FALSE(isDisplayedMessageNow());
    EXPECT_EQ(showPanel("Error", "Err_FileWriteFailed", std::nullopt, "OK", std::nullopt, std::nullopt, 2, 0, false),
              1);
    EXPECT_EQ(inner, kAlertNotShown);
    EXPECT_EQ(platform->shown.size(), 1u); // dropped, not queued
    EXPECT_FALSE(isDisplayedMessageNow());
}

TEST_F(TVMessage, APresenterThatThrowsLeavesTheRoutineUsable) {
    for (auto thrower : std::vector<std::function<int(const AlertRequest&)>>{
             [](const AlertRequest&) -> int { throw std::runtime_error("no display"); },
             [](const AlertRequest&) -> int { throw 7; }}) {
        platform->onShow = thrower;
        EXPECT_EQ(showPanel("Error", "Err_UnknownError", std::nullopt, "OK", std::nullopt, std::nullopt, 2, 0, false),
                  kAlertNotShown);
        EXPECT_FALSE(isDisplayedMessageNow());
    }
    // The closing notification went out too.
    ASSERT_EQ(notices.size(), 4u);
    EXPECT_FALSE(notices[3].start);
    platform->onShow = [](const AlertRequest&) { return 0; };
    EXPECT_EQ(showPanel("Error", "Err_UnknownError", std::nullopt, "OK", std::nullopt, std::nullopt, 2, 0, false), 1);
}

TEST_F(TVMessage, NoPresenterShowsNothing) {
    setAlertPresenter(AlertKind::Platform, nullptr);
    EXPECT_EQ(showPanel("Error", "Err_UnknownError", std::nullopt, "OK", std::nullopt, std::nullopt, 2, 0, true),
              kAlertNotShown);
    EXPECT_TRUE(notices.empty());
}

TEST_F(TVMessage, NotificationsAroundThePlatformAlertOnly) {
    std::vector<Notice> seenWhileUp;
    platform->onShow = [&](const AlertRequest&) {
        seenWhileUp = notices;
        // The alert runs in modal-panel mode.
        EXPECT_EQ(kdf::RunLoop::main().currentMode(), kdf::RunLoopMode::ModalPanel);
        return 0;
    };
    // A TvAlert request without the kit's alert falls back to the platform
    // alert and its notifications.
    for (bool tv : {false, true}) {
        notices.clear();
        showPanel("Confirm", "Cnfm_InitAppYesOrNo", std::nullopt, "Yes", "No", std::nullopt, 1, 0, tv);
        ASSERT_EQ(seenWhileUp.size(), 1u);
        EXPECT_TRUE(seenWhileUp[0].start);
        ASSERT_EQ(notices.size(), 2u);
        EXPECT_FALSE(notices[1].start);
        for (const Notice& n : notices) EXPECT_EQ(n.sender, notificationSender());
        EXPECT_EQ(platform->shown.back().kind, AlertKind::Platform);
    }
    // The kit's alert announces itself: nothing from here.
    auto kit = std::make_shared<PresenterDouble>();
    setAlertPresenter(AlertKind::TvAlert, kit);
    notices.clear();
    showPanel("Confirm", "Cnfm_InitAppYesOrNo", std::nullopt, "Yes", "No", std::nullopt, 1, 0, true);
    EXPECT_TRUE(notices.empty());
    ASSERT_EQ(kit->shown.size(), 1u);
    EXPECT_EQ(kit->shown[0].kind, AlertKind::TvAlert);
    EXPECT_EQ(kdf::RunLoop::main().currentMode(), std::nullopt);
}

TEST_F(TVMessage, ErrorPanelTable) {
    auto kit = std::make_shared<PresenterDouble>();
    setAlertPresenter(AlertKind::TvAlert, kit);
    auto window = std::make_shared<ProcessWindowDouble>();
    MainWindowCntlr::setProcessWindow(window);
    const std::string continueText = "The operation cannot continue. (Error code: ";
    const std::string pdfText = text("Err_NotCreatePdfAFromOCRLang");
    struct Case {
        std::string name;
        kdf::Dictionary info;
        std::optional<std::string> shown; // none: nothing is shown
    };
    const Case cases[] = {
        {"", {}, {}},
        {"Err_FileWriteFailed", {}, text("Err_FileWriteFailed")},
        {"Err_FileWriteFailed", {{"Other", 1}}, text("Err_FileWriteFailed")},
        {"Err_NotPossibleContinue", {}, {}},
        {"Err_NotPossibleContinue", {{"Other", 1}}, continueText + "0)"},
        {"Err_NotPossibleContinue", {{kPluginErrCodeKey, 42}}, continueText + "42)"},
        {"Err_NotPossibleContinue", {{kPluginErrCodeKey, "42"}}, continueText + "0)"},
        {"Err_NotPossibleContinue", {{kPluginErrCodeKey, kdf::Array{}}}, continueText + "0)"},
        // A plug-in's 32-bit result code, as the plug-in returned it.
        {"Err_NotPossibleContinue", {{kPluginErrCodeKey, std::int64_t(0x8FFC0201)}}, continueText + "-1879309823)"},
        {"Err_NotCreatePdfAFromOCRLang", {}, {}},
        {"Err_NotCreatePdfAFromOCRLang",
         {{kOCRLangSettingKey, "%d %@ %s Deutsch"}},
         "A PDF/A file with searchable text cannot be made for the text language \u201c%d %@ %s Deutsch\u201d."},
        {"Err_NotCreatePdfAFromOCRLang",
         {{kOCRLangSettingKey, 5}},
         "A PDF/A file with searchable text cannot be made for the text language \u201c\u201d."},
        {kNoErrOnlyThrow, {}, {}},
        {kdf::kMallocExceptionName, {}, text("Err_MemFullError")},
        {"Cnfm_QuitAppYesOrNo", {}, text("Err_UnknownError")},
        {"Some.Foreign%@Name", {}, text("Err_UnknownError")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kit->shown.clear();
        window->received.clear();
        showErrorPanel(kdf::Exception(c.name, "reason %@", c.info));
        if (!c.shown) {
            EXPECT_TRUE(kit->shown.empty());
            EXPECT_TRUE(window->received.empty());
            continue;
        }
        ASSERT_EQ(kit->shown.size(), 1u);
        const AlertRequest& r = kit->shown[0];
        EXPECT_EQ(r.messageText, "Error");
        EXPECT_EQ(r.informativeText, *c.shown);
        EXPECT_EQ(r.buttons, std::vector<std::string>{"OK"});
        EXPECT_EQ(r.returnButton, 0);
        EXPECT_EQ(r.escapeButton, std::nullopt);
        EXPECT_EQ(r.style, 2);
        ASSERT_EQ(window->received.size(), 1u);
        EXPECT_EQ(window->received[0].first, "");
        EXPECT_EQ(window->received[0].second, *c.shown);
    }
    EXPECT_TRUE(platform->shown.empty());
    kit->shown.clear();
    showErrorPanel(static_cast<const kdf::Exception*>(nullptr));
    showErrorPanel(std::exception_ptr());
    EXPECT_TRUE(kit->shown.empty());
}

TEST_F(TVMessage, ErrorPanelUsesThePlatformAlertWhileTheSettingWindowIsUp) {
    auto kit = std::make_shared<PresenterDouble>();
    setAlertPresenter(AlertKind::TvAlert, kit);
    auto controller = std::make_shared<SettingWindow>();
    AppControllerServices::setCurrent(controller);
    controller->visible = true;
    showErrorPanel(kdf::Exception("Err_NotFoundFile"));
    controller->visible = false;
    showErrorPanel(kdf::Exception("Err_NotFoundFile"));
    ASSERT_EQ(platform->shown.size(), 1u);
    ASSERT_EQ(kit->shown.size(), 1u);
    // No process window registered: nothing more happens.
}

TEST_F(TVMessage, WhateverWasCaughtBecomesANamedException) {
    auto caught = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return exceptionFrom(std::current_exception());
        }
        return kdf::Exception("not thrown");
    };
    const kdf::Dictionary info{{kSavedFileCountKey, 3}};
    const kdf::Exception named = caught([&] { throw kdf::Exception("Err_TIFFAddPage", "r", info); });
    EXPECT_EQ(named.name(), "Err_TIFFAddPage");
    EXPECT_EQ(named.userInfo(), info);
    EXPECT_EQ(caught([] { throw std::bad_alloc(); }).name(), kdf::kMallocExceptionName);
    for (const kdf::Exception& e : {caught([] { throw std::runtime_error("Err_FileWriteFailed"); }),
                                    caught([] { throw 3; })}) {
        EXPECT_FALSE(isQLRErr(e.name()));
        EXPECT_FALSE(e.name().empty());
        EXPECT_EQ(errorText(e), text("Err_UnknownError"));
    }
    EXPECT_EQ(errorText(exceptionFrom(std::make_exception_ptr(std::bad_alloc()))), text("Err_MemFullError"));
}

TEST_F(TVMessage, PackedRequestOwnsItsTextsAndDefaults) {
    ShowPanelRequest request;
    {
        std::string title = "Confirm", message = "A text of its own, %@ included", yes = "Yes";
        request = paramShowPanel(title, std::nullopt, message, yes, std::nullopt, std::nullopt, 1, 0, false);
        title.assign(40, 'x');
        message.assign(40, 'y');
    }
    // Run later from the main loop, as a worker schedules it.
    kdf::RunLoop::main().performAfterDelay(nullptr, "", 0s, [request] { performShowPanel(request); });
    kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, 0.05s);
    ASSERT_EQ(platform->shown.size(), 1u);
    EXPECT_EQ(platform->shown[0].messageText, "Confirm");
    EXPECT_EQ(platform->shown[0].informativeText, "A text of its own, %@ included");

    const ShowPanelRequest defaults;
    EXPECT_EQ(defaults.style, 2);
    EXPECT_EQ(defaults.defBtnType, 0);
    EXPECT_TRUE(defaults.isUseTvAlert);
}

// A worker's request made while an alert is up waits (its perform is of
// the default mode, the alert runs in modal-panel mode) and is shown after
// that alert has closed, not lost.
TEST_F(TVMessage, WorkerRequestWaitsForTheAlertThatIsUp) {
    std::atomic<bool> workerAsking{false}, workerDone{false};
    std::atomic<int> workerResult{99};
    std::thread worker;
    int shownWhileUp = -1;
    platform->onShow = [&](const AlertRequest& r) {
        if (r.informativeText != text("Err_FileWriteFailed")) return 1; // the worker's alert
        worker = std::thread([&] {
            workerAsking = true;
            // Packed from temporaries, shown from a copy on the main thread.
            performShowPanel(paramShowPanel("Confirm", "Cnfm_ScanCancelYesOrNo", std::nullopt, "Yes", "No",
                                            std::nullopt, 1, 0, true));
            workerResult = showPanel("Confirm", "Cnfm_ScanCancelYesOrNo", std::nullopt, "Yes", "No", std::nullopt,
                                     1, 0, true);
            workerDone = true;
        });
        // The user takes a while to answer; the main loop runs meanwhile.
        const auto limit = std::chrono::steady_clock::now() + 10s;
        while (!workerAsking && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
        for (int i = 0; i < 5; ++i) kdf::RunLoop::main().runMode(kdf::RunLoopMode::ModalPanel, 0.01s);
        shownWhileUp = int(platform->shown.size());
        return 0;
    };
    EXPECT_EQ(showPanel("Error", "Err_FileWriteFailed", std::nullopt, "OK", std::nullopt, std::nullopt, 2, 0, false),
              1);
    EXPECT_EQ(shownWhileUp, 1);
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (!workerDone && std::chrono::steady_clock::now() < limit)
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, 0.01s);
    worker.join();
    ASSERT_EQ(platform->shown.size(), 3u);
    EXPECT_EQ(platform->shown[1].informativeText, "Do you want to cancel scanning?");
    EXPECT_EQ(platform->shown[2].informativeText, "Do you want to cancel scanning?");
    EXPECT_EQ(workerResult, kAlertAlternateReturn);
}

TEST_F(TVMessage, ErrorPanelFromAWorker) {
    auto window = std::make_shared<ProcessWindowDouble>();
    MainWindowCntlr::setProcessWindow(window);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            throw kdf::Exception("Err_PDFNotOpen");
        } catch (...) {
            showErrorPanel(std::current_exception());
        }
        done = true;
    });
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (!done && std::chrono::steady_clock::now() < limit)
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, 0.01s);
    worker.join();
    ASSERT_EQ(platform->shown.size(), 1u);
    EXPECT_EQ(platform->shown[0].informativeText, text("Err_PDFNotOpen"));
    ASSERT_EQ(window->received.size(), 1u);
    EXPECT_EQ(window->received[0].second, text("Err_PDFNotOpen"));
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("LANGUAGE", "en", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
