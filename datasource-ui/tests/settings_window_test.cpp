// The settings window's controller in process, over a capability pool of
// its own: the scan actions and what the data source sees inside each
// post, the settings-only window, the progress panel and the shields.
#include "ItemFunctions.h"
#include "KdSettingsController.h"
#include "RollOver.h"
#include "ScrollableView.h"
#include "SettingsWindowScenes.h"
#include "ShieldWindow.h"
#include "TextFields.h"

#include "CapData.h"
#include "CapHelpers.h"
#include "CapTables.h"
#include "KdTwainCustom.h"
#include "TempHome.h"

#include <foundation/NotificationCenter.h>
#include <foundation/Preferences.h>
#include <foundation/RunLoop.h>
#include <ui/QtRunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using Controller = ComTavrolekKD720::KdUIController;
using ComTavrolekKD720::FWindow;

// What the data source would see: each notification with its mode, its
// pending count and the capabilities read inside the post.
struct Seen {
    std::string name;
    int mode = -1;
    int pending = -1;
    bool flag = false;
    std::vector<float> values; // the probed capabilities, inside the post
};

class Recorder {
public:
    explicit Recorder(CCapPool* pool, std::vector<TW_UINT16> probe = {}) : pool_(pool), probe_(std::move(probe)) {
        for (const char* name : {kXferReadyNotification, kCloseRequestNotification, kCloseDSOkayNotification,
                                 kDestroyImageRequestNotification})
            tokens_.push_back(kdf::NotificationCenter::defaultCenter().addObserver(
                name, [this](const kdf::Notification& n) { record(n); }));
    }
    std::vector<Seen> seen;
    std::function<void()> inside; // runs inside each post

private:
    void record(const kdf::Notification& n) {
        Seen s;
        s.name = std::string(n.name());
        if (const kdf::Value* object = n.object()) {
            if (const kdf::Dictionary* d = object->dictionary()) {
                if (const kdf::Value* m = kdf::find(*d, kXferReadyScanModeKey)) s.mode = int(m->toInteger().value_or(-9));
                if (const kdf::Value* c = kdf::find(*d, kXferReadyPendingImageCountKey))
                    s.pending = int(c->toInteger().value_or(-9));
            } else {
                s.flag = object->toBool().value_or(false);
            }
        }
        for (TW_UINT16 id : probe_)
            s.values.push_back(id == ICAP_XRESOLUTION || id == ICAP_YRESOLUTION ? GetCapFloatValue(pool_, id)
                                                                                : float(GetCapSIntValue(pool_, id)));
        seen.push_back(std::move(s));
        if (inside) inside();
    }
    CCapPool* pool_;
    std::vector<TW_UINT16> probe_;
    std::vector<kdf::ObserverToken> tokens_;
};

class SettingsWindow : public ::testing::Test {
protected:
    void SetUp() override { pool_ = MakeKdCapPool(); }

    std::unique_ptr<Controller> Make(bool forScanning, int tab = 0) {
        auto c = std::make_unique<Controller>();
        c->setupMainUI({{kUIParamCapabilityObject, kdf::Value(kdf::Pointer{pool_.get()})}}, forScanning);
        if (forScanning) c->settingModeTab()->setCurrentIndex(tab);
        c->showMainWindow();
        return c;
    }
    bool PrefsHave(const char* key) {
        const auto prefs = kdf::readPreferencesFile(kKdPreferencesName);
        return kdf::find(prefs.values, key) != nullptr;
    }
    void RunLoopFor(double seconds) {
        const auto end = kdf::runLoopDeadline(kdf::Seconds(seconds));
        while (kdf::runLoopNow() < end) kdf::RunLoop::current().runMode(kdf::RunLoopMode::Default, end);
    }

    kdtest::TempHome home_;
    std::unique_ptr<CCapPool> pool_;
};

TEST_F(SettingsWindow, ScanActionsPostTheirModesWithTheValuesInForce) {
    struct Case {
        const char* name;
        bool forScanning;
        int tab; // 0 simple, 1 advanced
        int prescan;
        bool duplex;
        void (Controller::*action)(ComTavrolekKD720::Sender);
        int mode;
        int pending;
        bool savesWindow;     // the window's keys are written before the post
        int prescanAfter;     // CCAP_TVK_PRESCAN after the action
        bool shielded;
    };
    const Case cases[] = {
        {"simple scan", true, 0, 0, false, &Controller::performScan, kScanModeScan, -1, true, 0, true},
        {"advanced scan after a prescan request", true, 1, 1, false, &Controller::performScan,
         kScanModeScanToWindow, -1, false, 1, true},
        {"scan complete, duplex", true, 1, 0, true, &Controller::performScanComplete, kScanModeComplete, 2, true, -1,
         true},
        {"scan complete, simplex", true, 1, 0, false, &Controller::performScanComplete, kScanModeComplete, 1, true,
         -1, true},
        {"continue", true, 1, 1, false, &Controller::performContinueScan, kScanModeContinue, 1, true, -1, false},
        {"settings-only continue", false, 0, 0, true, &Controller::performContinueScan, kScanModeContinue, 2, true,
         -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kdf::removePreferencesFile(kKdPreferencesName);
        pool_ = MakeKdCapPool();
        auto window = Make(c.forScanning, c.tab);
        SetCapSIntValue(pool_.get(), CCAP_TVK_PRESCAN, c.prescan);
        SetCapUIntValue(pool_.get(), CAP_DUPLEXENABLED, c.duplex ? 1 : 0);
        Recorder rec(pool_.get());
        bool savedBefore = false;
        rec.inside = [&] { savedBefore = PrefsHave(c.forScanning ? "WindowFrame" : "SetupSequenceWindowFrame"); };
        ((*window).*c.action)(ComTavrolekKD720::Sender::none());
        ASSERT_EQ(rec.seen.size(), 1u);
        EXPECT_EQ(rec.seen[0].name, kXferReadyNotification);
        EXPECT_EQ(rec.seen[0].mode, c.mode);
        EXPECT_EQ(rec.seen[0].pending, c.pending);
        EXPECT_EQ(savedBefore, c.savesWindow);
        EXPECT_EQ(GetCapSIntValue(pool_.get(), CCAP_TVK_PRESCAN), c.prescanAfter);
        EXPECT_EQ(FWindow::shieldWindow(window->mainWindow()) != nullptr, c.shielded);
    }
}

TEST_F(SettingsWindow, PrescanRunsWithItsValuesAndRestoresThemOnEveryWayOut) {
    const std::vector<TW_UINT16> probe = {CCAP_TVK_PRESCAN,  CCAP_TVK_FEEDER_JAMLESS, ICAP_XRESOLUTION,
                                          ICAP_YRESOLUTION,  CCAP_TVK_AUTORESOLUTION, CAP_XFERCOUNT,
                                          CAP_AUTOFEED,      CCAP_TVK_MARGINLENGTH,   CCAP_TVK_BLANKSKIP,
                                          CCAP_TVK_DETECTDBLFEED_LENGTH, CCAP_TVK_DETECTDBLFEED_ULTRASONIC};
    auto window = Make(true, 1);
    CCapPool* pool = pool_.get();
    SetCapFloatValue(pool, ICAP_XRESOLUTION, 300.0f);
    SetCapFloatValue(pool, ICAP_YRESOLUTION, 300.0f);
    SetCapSIntValue(pool, CAP_XFERCOUNT, -1);
    SetCapUIntValue(pool, CAP_AUTOFEED, 1);
    SetCapSIntValue(pool, CCAP_TVK_BLANKSKIP, 1);
    SetCapSIntValue(pool, CCAP_TVK_DETECTDBLFEED_ULTRASONIC, 1);
    std::vector<float> before;
    {
        Recorder none(pool, probe);
        for (TW_UINT16 id : probe)
            before.push_back(id == ICAP_XRESOLUTION || id == ICAP_YRESOLUTION ? GetCapFloatValue(pool, id)
                                                                                : float(GetCapSIntValue(pool, id)));
    }
    for (bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "the data source's handler throws" : "normal return");
        Recorder rec(pool, probe);
        if (throws) rec.inside = [] { throw std::runtime_error("prescan failed"); };
        if (throws)
            EXPECT_THROW(window->performPrescan(), std::runtime_error);
        else
            window->performPrescan();
        ASSERT_EQ(rec.seen.size(), 1u);
        EXPECT_EQ(rec.seen[0].mode, kScanModePrescan);
        EXPECT_EQ(rec.seen[0].values, (std::vector<float>{1, 0, 100, 100, 0, 1, 0, 0, 0, 0, 0}));
        std::vector<float> after;
        for (TW_UINT16 id : probe)
            after.push_back(id == ICAP_XRESOLUTION || id == ICAP_YRESOLUTION ? GetCapFloatValue(pool, id)
                                                                               : float(GetCapSIntValue(pool, id)));
        EXPECT_EQ(after, before);
    }
}

TEST_F(SettingsWindow, ResetRestoresEveryRowAndTheSimpleResetOnlyItsOwn) {
    ASSERT_EQ(ComTavrolekKD720::sUIRelatedCaps.size(), 90u);
    auto window = Make(true, 1);
    CCapPool* pool = pool_.get();
    // Two rows of each flag, moved off their defaults.
    const TW_UINT16 flag0 = ICAP_PIXELTYPE, flag0b = CAP_DUPLEXENABLED, flag1 = CAP_AUTOFEED, flag1b = CCAP_TVK_DESKEW;
    auto moveAll = [&] {
        SetCapUIntValue(pool, flag0, 2);
        SetCapUIntValue(pool, flag0b, 1);
        SetCapUIntValue(pool, flag1, 0);
        SetCapUIntValue(pool, flag1b, 1);
    };
    const TW_UINT32 d0 = GetCapUIntValue(pool, flag0), d0b = GetCapUIntValue(pool, flag0b),
                    d1 = GetCapUIntValue(pool, flag1), d1b = GetCapUIntValue(pool, flag1b);
    moveAll();
    ASSERT_NE(GetCapUIntValue(pool, flag0), d0);
    window->resetSettingsForSimpleScan();
    EXPECT_EQ(GetCapUIntValue(pool, flag0), 2u);
    EXPECT_EQ(GetCapUIntValue(pool, flag0b), 1u);
    EXPECT_EQ(GetCapUIntValue(pool, flag1), d1);
    moveAll();
    window->performReset();
    EXPECT_EQ(GetCapUIntValue(pool, flag0), d0);
    EXPECT_EQ(GetCapUIntValue(pool, flag0b), d0b);
    EXPECT_EQ(GetCapUIntValue(pool, flag1), d1);
    EXPECT_EQ(GetCapUIntValue(pool, flag1b), d1b);
    EXPECT_EQ(GetCapFloatValue(pool, CCAP_TVKM_SCANAREA_WIDTH), GetCapFloatValue(pool, ICAP_PHYSICALWIDTH));
}

TEST_F(SettingsWindow, SettingsOnlyWindowShowsTheAdvancedViewAndConfirmsOrCloses) {
    kdf::updatePreferencesFile(kKdPreferencesName, [](kdf::Dictionary& d) {
        d["SettingMode"] = kdf::Value(0);
        return true;
    });
    auto window = Make(false);
    QTabWidget* tabs = window->settingModeTab();
    EXPECT_EQ(tabs->count(), 1);
    EXPECT_FALSE(tabs->tabBar()->isVisible());
    EXPECT_FALSE(window->isSimpleMode());
    EXPECT_EQ(window->mainWindow()->focusWidget(), kdui::viewWithTag(window->mainWindow(), 3));

    // OK without a prescan image: the confirmation, and no pending close.
    Recorder rec(pool_.get());
    window->closeRequest(true);
    window->performScanComplete();
    RunLoopFor(0.12);
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].name, kCloseDSOkayNotification);
    EXPECT_FALSE(window->isMainWindowVisible());

    // Cancel closes the window: a close request that saves, 0.05 s later,
    // and no capability changed.
    auto other = Make(false);
    const TW_UINT32 pixel = GetCapUIntValue(pool_.get(), ICAP_PIXELTYPE);
    Recorder rec2(pool_.get());
    other->performCancel(ComTavrolekKD720::Sender::from(kdui::viewWithTag(other->mainWindow(), 2)));
    EXPECT_TRUE(rec2.seen.empty());
    RunLoopFor(0.12);
    ASSERT_EQ(rec2.seen.size(), 1u);
    EXPECT_EQ(rec2.seen[0].name, kCloseRequestNotification);
    EXPECT_TRUE(rec2.seen[0].flag);
    EXPECT_EQ(GetCapUIntValue(pool_.get(), ICAP_PIXELTYPE), pixel);
}

TEST_F(SettingsWindow, ScanModeStartsOnTheStoredTabWithItsScanButtonFocused) {
    kdf::updatePreferencesFile(kKdPreferencesName, [](kdf::Dictionary& d) {
        d["SettingMode"] = kdf::Value(1);
        d["WindowFrame"] = kdf::Value("{{-5000, -5000}, {800, 560}}"); // off every screen
        return true;
    });
    auto c = std::make_unique<Controller>();
    c->setupMainUI({{kUIParamCapabilityObject, kdf::Value(kdf::Pointer{pool_.get()})}}, true);
    c->showMainWindow();
    EXPECT_EQ(c->settingModeTab()->count(), 2);
    EXPECT_FALSE(c->isSimpleMode());
    EXPECT_EQ(c->mainWindow()->focusWidget(), kdui::viewWithTag(c->mainWindow(), 600));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(c->mainWindow()->geometry()));
}

TEST_F(SettingsWindow, WronglyTypedStoredValuesAreIgnoredAndShowingAnnouncesTheWindow) {
    kdf::updatePreferencesFile(kKdPreferencesName, [](kdf::Dictionary& d) {
        d["SettingMode"] = kdf::Value("1");
        d["WindowFrame"] = kdf::Value(42);
        return true;
    });
    std::vector<void*> shown, hidden;
    auto& centre = kdf::NotificationCenter::defaultCenter();
    auto showToken = centre.addObserver(ComTavrolekKD720::kShowKdWindowNotification, [&](const kdf::Notification& n) {
        shown.push_back(n.object() && n.object()->pointer() ? n.object()->pointer()->address : nullptr);
    });
    auto hideToken = centre.addObserver(ComTavrolekKD720::kHideKdWindowNotification, [&](const kdf::Notification& n) {
        hidden.push_back(n.object() && n.object()->pointer() ? n.object()->pointer()->address : nullptr);
    });
    auto c = std::make_unique<Controller>();
    c->setupMainUI({{kUIParamCapabilityObject, kdf::Value(kdf::Pointer{pool_.get()})}}, true);
    c->showMainWindow();
    EXPECT_TRUE(c->isSimpleMode());
    EXPECT_EQ(shown, (std::vector<void*>{c->mainWindow()}));
    c->hideMainWindow();
    EXPECT_EQ(hidden, (std::vector<void*>{c->mainWindow()}));
}

TEST_F(SettingsWindow, TypedTextActsOneSecondAfterTheLastKeystroke) {
    Controller c;
    QObject field, other;
    int acted = 0, otherActed = 0;
    kdf::TestClock clock;
    kdf::RunLoop& loop = kdf::RunLoop::current();
    c.controlTextDidChange(&field, [&] { ++acted; });
    clock.advance(kdf::Seconds(0.6));
    loop.fireDue();
    c.controlTextDidChange(&field, [&] { ++acted; }); // the next keystroke
    c.controlTextDidChange(&other, [&] { ++otherActed; });
    clock.advance(kdf::Seconds(0.9));
    loop.fireDue();
    EXPECT_EQ(acted, 0);
    clock.advance(kdf::Seconds(0.2));
    loop.fireDue();
    EXPECT_EQ(acted, 1);
    EXPECT_EQ(otherActed, 1);
    clock.advance(kdf::Seconds(5));
    loop.fireDue();
    EXPECT_EQ(acted, 1);
}

TEST_F(SettingsWindow, TwoCloseRequestsPostTwice) {
    auto window = Make(true);
    Recorder rec(pool_.get());
    window->closeRequest(false);
    window->closeRequest(true);
    RunLoopFor(0.12);
    ASSERT_EQ(rec.seen.size(), 2u);
    EXPECT_FALSE(rec.seen[0].flag);
    EXPECT_TRUE(rec.seen[1].flag);
}

TEST_F(SettingsWindow, HidingWritesOnlyTheWindowsKeysKeepingTheDataSourcesRecord) {
    auto window = Make(true);
    // The data source stores its record after the window read the file.
    kdf::updatePreferencesFile(kKdPreferencesName, [](kdf::Dictionary& d) {
        d[kCapDataKey] = kdf::Value(kdf::Bytes{1, 2, 3});
        d[kCapDataVersionKey] = kdf::Value(1);
        return true;
    });
    window->hideMainWindow();
    const auto prefs = kdf::readPreferencesFile(kKdPreferencesName);
    ASSERT_NE(kdf::find(prefs.values, kCapDataKey), nullptr);
    EXPECT_EQ(*kdf::find(prefs.values, kCapDataKey)->bytes(), (kdf::Bytes{1, 2, 3}));
    EXPECT_NE(kdf::find(prefs.values, "WindowFrame"), nullptr);
}

TEST_F(SettingsWindow, AMissingOrWronglyTypedPoolLeavesTheHelpersIdle) {
    for (const kdf::Dictionary& param : {kdf::Dictionary{}, kdf::Dictionary{{kUIParamCapabilityObject, kdf::Value(7)}}}) {
        Controller c;
        c.setupMainUI(param, true);
        EXPECT_EQ(c.settings(), nullptr);
        c.performReset(); // changes nothing, no crash
    }
}

TEST_F(SettingsWindow, ProgressPanelCancelHoldsUntilShownAgain) {
    auto window = Make(true);
    window->setShield(true);
    window->showProgressWindow();
    EXPECT_EQ(QApplication::activeModalWidget(), window->progressWindow());
    EXPECT_FALSE(window->idleProgress());
    auto* cancel = qobject_cast<QAbstractButton*>(kdui::viewWithTag(window->progressWindow(), 2));
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_TRUE(window->idleProgress());
    EXPECT_TRUE(window->idleProgress());
    // Suspended (an alert of the data source is up): no event taken.
    window->suspendProgressWindow();
    EXPECT_FALSE(window->idleProgress());
    window->resumeProgressWindow();
    EXPECT_TRUE(window->idleProgress());
    window->hideProgressWindow();
    window->showProgressWindow();
    EXPECT_FALSE(window->idleProgress());
    window->hideProgressWindow();
    window->setShield(false);
    EXPECT_EQ(FWindow::shieldWindow(window->mainWindow()), nullptr);
}

TEST_F(SettingsWindow, AShieldedWindowTakesNoClicks) {
    auto window = Make(true);
    QWidget* main = window->mainWindow();
    QWidget* scan = kdui::viewWithTag(main, 610);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    const QPoint at = scan->mapTo(main, scan->rect().center());
    Recorder rec(pool_.get());
    window->setShield(true);
    EXPECT_FALSE(ComTavrolekKD720::FWindow::canBecomeKeyWindow(main));
    QTest::mouseClick(main->windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(rec.seen.empty());
    window->setShield(false);
    EXPECT_TRUE(ComTavrolekKD720::FWindow::canBecomeKeyWindow(main));
    // The same click on the bare window scans.
    QTest::mouseClick(main->windowHandle(), Qt::LeftButton, {}, at);
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].mode, kScanModeScan);
}

TEST(ShieldWindows, ModalWindowsShareOneShieldUntilTheLastEnds) {
    QWidget parent;
    parent.resize(300, 200);
    parent.show();
    QWidget first(nullptr, Qt::Dialog), second(nullptr, Qt::Dialog), stranger(nullptr, Qt::Dialog);
    FWindow::beginModalWindow(&first, &parent);
    ComTavrolekKD720::ShieldView* shield = FWindow::shieldWindow(&parent);
    ASSERT_NE(shield, nullptr);
    FWindow::beginModalWindow(&second, &parent);
    EXPECT_EQ(FWindow::shieldWindow(&parent), shield);
    EXPECT_EQ(FWindow::modalWindows(&parent), (std::vector<QWidget*>{&first, &second}));
    EXPECT_EQ(FWindow::behindWindow(&second), &parent);
    FWindow::endModalWindow(&first);
    EXPECT_FALSE(first.isVisible());
    EXPECT_EQ(FWindow::shieldWindow(&parent), shield);
    FWindow::endModalWindow(&second, false);
    EXPECT_TRUE(second.isVisible());
    EXPECT_EQ(FWindow::shieldWindow(&parent), nullptr);
    // Never begun over a window: only hidden.
    stranger.show();
    FWindow::endModalWindow(&stranger);
    EXPECT_FALSE(stranger.isVisible());
    EXPECT_EQ(FWindow::behindWindow(&stranger), nullptr);
}

TEST(Frames, StoredFramesRoundTripAndMalformedOnesAreIgnored) {
    const QRect frame(10, -20, 800, 600);
    EXPECT_EQ(Controller::frameFromString(Controller::frameString(frame)), frame);
    for (const char* bad : {"", "{{1, 2}, {3}}", "{{1, 2}, {0, 5}}", "garbage", "{{1, 2}, {3, 4}"})
        EXPECT_FALSE(Controller::frameFromString(bad).has_value()) << bad;
}

// ---- The forms' kit classes and the image buttons -----------------------------------------

using ComTavrolekKD720::FRollOverButton;
using ComTavrolekKD720::KFScrollableView;

// The forms name the kit's classes: loading gives them directly, and the
// focus-following view is set up by the load and stopped with the window.
TEST_F(SettingsWindow, FormsLoadTheKitsClasses) {
    auto c = Make(true);
    QWidget* main = c->mainWindow();
    for (int tag : {600, 610, 611, 701, 702, 703, 704, 705, 706})
        EXPECT_NE(dynamic_cast<FRollOverButton*>(kdui::viewWithTag(main, tag)), nullptr) << tag;
    // The simple mode's two buttons lie in its view, the advanced one in its.
    const auto inView = [&](int tag, int tab) {
        return c->settingModeTab()->widget(tab)->isAncestorOf(kdui::viewWithTag(main, tag));
    };
    EXPECT_TRUE(inView(610, 0));
    EXPECT_TRUE(inView(611, 0));
    EXPECT_TRUE(inView(600, 1));
    EXPECT_NE(dynamic_cast<ComTavrolekKD720::FStaticTextField*>(main->findChild<QWidget*>("scanAreaLabel")), nullptr);

    auto* view = dynamic_cast<KFScrollableView*>(main->findChild<QWidget*>("advImageSettingContent"));
    ASSERT_NE(view, nullptr);
    ASSERT_NE(view->focusRingView(), nullptr);
    EXPECT_EQ(view->enclosingScrollArea()->parentWidget(), view->focusRingView());
    EXPECT_TRUE(KFScrollableView::isFocusFilterInstalled());
    c.reset();
    EXPECT_FALSE(KFScrollableView::isFocusFilterInstalled());
}

// The centre pixel of each form's image tells the form (see the images'
// drawing script): normal, rolled over, focused, focused and rolled over,
// disabled, pressed.
const QColor kFormColours[FRollOverButton::ImageCount] = {QColor(0x61, 0x61, 0x61), QColor(0x36, 0xAB, 0x8B),
                                                          QColor(0xFF, 0xA2, 0x00), QColor(0xC7, 0x7F, 0x00),
                                                          QColor(0xC8, 0xC8, 0xC8), QColor(0x3E, 0x3E, 0x3E)};

struct ImageButtonCase {
    int tag;
    bool sixForms; // else the normal and disabled images only
    QSize size;
};

TEST_F(SettingsWindow, ImageButtonsTakeTheirBundleImagesByForm) {
    Controller::setWindowBundlePath(KD720UI_BUNDLE_DIR);
    const ImageButtonCase cases[] = {
        {701, false, {24, 24}}, {702, false, {24, 24}}, {703, false, {24, 24}}, {704, false, {24, 24}},
        {705, false, {24, 24}}, {706, false, {24, 24}}, {610, true, {120, 32}},  {611, true, {120, 32}},
        {600, true, {96, 28}},
    };
    auto c = Make(true);
    for (const ImageButtonCase& k : cases) {
        SCOPED_TRACE(k.tag);
        auto* button = dynamic_cast<FRollOverButton*>(kdui::viewWithTag(c->mainWindow(), k.tag));
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->isRollOverEnabled());
        const FRollOverButton::Images& images = button->buttonImages();
        for (int i = 0; i < FRollOverButton::ImageCount; ++i) {
            SCOPED_TRACE(i);
            const bool expected = k.sixForms || i == FRollOverButton::Normal || i == FRollOverButton::Disabled;
            ASSERT_EQ(images[i].has_value(), expected);
            if (!expected) continue;
            EXPECT_EQ(images[i]->size(), k.size);
            const QImage image = images[i]->toImage();
            EXPECT_EQ(image.pixelColor(k.size.width() / 2, k.size.height() / 2), kFormColours[i]);
            EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0); // the corners stay clear
        }
        EXPECT_GE(button->sizeHint().width(), k.size.width());
        EXPECT_GE(button->sizeHint().height(), k.size.height());
    }
}

// The slider end buttons get their [normal, disabled] pairs by tag: the
// first set in both views, the second set only in the advanced view; an
// image view then shows the image of its state.
TEST_F(SettingsWindow, SliderEndButtonsTakeTheirImagePairs) {
    Controller::setWindowBundlePath(KD720UI_BUNDLE_DIR);
    auto c = Make(true);
    auto* simple = c->mainWindow()->findChild<QWidget*>("simpleModeView");
    auto* advanced = c->mainWindow()->findChild<QWidget*>("advanceModeView");
    ASSERT_NE(simple, nullptr);
    ASSERT_NE(advanced, nullptr);
    struct End {
        QWidget* view;
        int tag;
        bool paired;
        QSize size;
    };
    const End ends[] = {{simple, 205, true, {16, 16}},  {simple, 216, true, {16, 16}},
                        {simple, 207, false, {}},        {advanced, 206, true, {16, 16}},
                        {advanced, 217, true, {16, 16}}, {advanced, 218, true, {16, 16}}};
    std::vector<QLabel*> labels;
    for (const End& end : ends) {
        auto* label = new QLabel(end.view);
        kdui::setTag(label, end.tag);
        labels.push_back(label);
    }
    c->setupRollOverButtons();
    for (std::size_t i = 0; i < std::size(ends); ++i) {
        SCOPED_TRACE(ends[i].tag);
        const QVariantList pair = labels[i]->property(ComTavrolekKD720::kImagePairProperty).toList();
        ASSERT_EQ(pair.size(), ends[i].paired ? 2 : 0);
        if (!ends[i].paired) continue;
        ComTavrolekKD720::SetItemEnabled(ends[i].view, ends[i].tag, false);
        QImage shown = labels[i]->pixmap().toImage();
        EXPECT_EQ(shown.size(), ends[i].size);
        EXPECT_EQ(shown.pixelColor(8, 8), kFormColours[FRollOverButton::Disabled]);
        ComTavrolekKD720::SetItemEnabled(ends[i].view, ends[i].tag, true);
        shown = labels[i]->pixmap().toImage();
        EXPECT_EQ(shown.pixelColor(8, 8), kFormColours[FRollOverButton::Normal]);
    }
}

// Right to left, the help images are drawn mirrored, and only they.
TEST_F(SettingsWindow, HelpImagesAreMirroredRightToLeft) {
    Controller::setWindowBundlePath(KD720UI_BUNDLE_DIR);
    const auto imagesOf = [&](Qt::LayoutDirection direction, int tag) {
        QApplication::setLayoutDirection(direction);
        auto c = Make(true);
        auto* button = dynamic_cast<FRollOverButton*>(kdui::viewWithTag(c->mainWindow(), tag));
        std::vector<QImage> out;
        for (const auto& image : button->buttonImages())
            if (image) out.push_back(image->toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied));
        return out;
    };
    for (int tag : {706, 705, 701}) {
        SCOPED_TRACE(tag);
        const auto ltr = imagesOf(Qt::LeftToRight, tag);
        const auto rtl = imagesOf(Qt::RightToLeft, tag);
        ASSERT_EQ(ltr.size(), 2u);
        ASSERT_EQ(rtl.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(rtl[i].size(), ltr[i].size());
            if (tag == 706) {
                EXPECT_NE(rtl[i], ltr[i]); // the question mark is not symmetric
                EXPECT_EQ(rtl[i], ltr[i].mirrored(true, false));
            } else {
                EXPECT_EQ(rtl[i], ltr[i]);
            }
        }
    }
    QApplication::setLayoutDirection(Qt::LeftToRight);
}

// A bundle that lacks an image gives that form a null entry; the button
// then draws the normal image for it. Without any images the buttons stay
// plain push buttons in size.
TEST_F(SettingsWindow, AMissingImageIsANullEntry) {
    namespace fs = std::filesystem;
    const fs::path copy = home_.root() / "KD720UI";
    fs::copy(KD720UI_BUNDLE_DIR, copy, fs::copy_options::recursive);
    fs::remove(copy / "Resources" / "SPL_Scan_S.tiff");
    fs::remove(copy / "Resources" / "TPL_Info_G.tiff");
    Controller::setWindowBundlePath(copy.string());
    auto c = Make(true);
    auto* scan = dynamic_cast<FRollOverButton*>(kdui::viewWithTag(c->mainWindow(), 610));
    auto* info = dynamic_cast<FRollOverButton*>(kdui::viewWithTag(c->mainWindow(), 705));
    ASSERT_NE(scan, nullptr);
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(scan->buttonImages()[FRollOverButton::RolledOver].has_value());
    EXPECT_TRUE(scan->buttonImages()[FRollOverButton::Focused].has_value());
    EXPECT_TRUE(info->buttonImages()[FRollOverButton::Normal].has_value());
    EXPECT_FALSE(info->buttonImages()[FRollOverButton::Disabled].has_value());
    // Rolled over without its image: the normal image over the background.
    scan->setFocusPolicy(Qt::NoFocus);
    scan->clearFocus();
    scan->setRollOver(true);
    const QImage drawn = scan->grab().toImage();
    EXPECT_EQ(drawn.pixelColor(drawn.width() / 2, drawn.height() / 2), kFormColours[FRollOverButton::Normal]);

    fs::remove_all(copy / "Resources");
    Controller::setWindowBundlePath(copy.string());
    auto bare = Make(true);
    auto* plain = dynamic_cast<FRollOverButton*>(kdui::viewWithTag(bare->mainWindow(), 701));
    ASSERT_NE(plain, nullptr);
    for (const auto& image : plain->buttonImages()) EXPECT_FALSE(image.has_value());
    EXPECT_EQ(plain->sizeHint(), plain->QPushButton::sizeHint());
}

// The shown window's image buttons light up under the mouse, polled ten
// times a second; showing the window again polls at once.
TEST_F(SettingsWindow, ShownWindowRollsItsButtonsOver) {
    Controller::setWindowBundlePath(KD720UI_BUNDLE_DIR);
    auto c = Make(true, 0);
    QWidget* main = c->mainWindow();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    auto* zoom = dynamic_cast<FRollOverButton*>(kdui::viewWithTag(main, 701));
    ASSERT_NE(zoom, nullptr);
    QCursor::setPos(zoom->mapToGlobal(zoom->rect().center()));
    RunLoopFor(0.25);
    EXPECT_TRUE(zoom->isRollOver());
    QCursor::setPos(main->mapToGlobal(QPoint(-50, -50)));
    RunLoopFor(0.25);
    EXPECT_FALSE(zoom->isRollOver());
    QCursor::setPos(zoom->mapToGlobal(zoom->rect().center()));
    RunLoopFor(0.25);
    ASSERT_TRUE(zoom->isRollOver());
    c->hideMainWindow();
    QCursor::setPos(main->mapToGlobal(QPoint(-50, -50)));
    c->showMainWindow();
    EXPECT_FALSE(zoom->isRollOver());
}

// Each scene shows its windows; with KD_GRAB_DIR set they are also saved
// as pictures there, to look at.
TEST(Scenes, EachSceneShowsItsWindows) {
    kdtest::TempHome home;
    for (const std::string& name : ComTavrolekKD720::settingsWindowSceneNames()) {
        SCOPED_TRACE(name);
        auto scene = ComTavrolekKD720::makeSettingsWindowScene(name);
        ASSERT_NE(scene, nullptr);
        ASSERT_FALSE(scene->windows.empty());
        for (QWidget* w : scene->windows) EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(ComTavrolekKD720::FWindow::shieldWindow(scene->windows.front()) != nullptr,
                  name == "shielded-progress");
        if (const char* dir = std::getenv("KD_GRAB_DIR")) {
            int i = 0;
            for (QWidget* w : scene->windows)
                w->grab().save(QString("%1/%2-%3.png").arg(dir).arg(QString::fromStdString(name)).arg(i++));
        }
        if (name == "shielded-progress") {
            scene->controller->hideProgressWindow();
            scene->controller->setShield(false);
        }
    }
    EXPECT_EQ(ComTavrolekKD720::makeSettingsWindowScene("nonesuch"), nullptr);
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    kdui::installQtRunLoopDriver();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
