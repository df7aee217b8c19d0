// The message box of the alert routines on the offscreen platform: which
// buttons the Return and Escape keys reach, and the modal run.
#include "TV_MessageUI.h"

#include "TempHome.h"

#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>
#include <ui/QtRunLoop.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

using namespace TV_Message;

namespace {

AlertRequest request(int buttons, std::optional<int> ret, std::optional<int> esc) {
    AlertRequest r;
    r.messageText = "Title";
    r.informativeText = "Text";
    const char* titles[] = {"Yes", "No", "Cancel"};
    for (int i = 0; i < buttons; ++i) r.buttons.push_back(titles[i]);
    r.returnButton = ret;
    r.escapeButton = esc;
    return r;
}

void sendKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

// Runs the presenter; once the box is up, does what the step says with it.
// A box still open after the step is ended by clicking its last button, and
// noted.
struct BoxRun {
    int pressed = -99;
    bool stayedOpen = false;
    std::optional<kdf::RunLoopMode> modeWhileUp;
};

BoxRun runWith(const AlertRequest& r, std::function<void(QMessageBox*)> step) {
    BoxRun run;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        run.modeWhileUp = kdf::RunLoop::main().currentMode();
        step(box);
        // Keys and clicks act at once: a box that answered is hidden.
        if (box->isVisible()) {
            run.stayedOpen = true;
            box->buttons().last()->click();
        }
    });
    MessageBoxPresenter presenter;
    run.pressed = presenter.runModal(r);
    return run;
}

TEST(MessageBoxPresenter, ReturnAndEscapeReachOnlyTheNamedButtons) {
    struct Case {
        int buttons;
        std::optional<int> ret, esc;
        int key;
        int pressed; // -1: the key did nothing
    };
    const Case cases[] = {
        {1, 0, {}, Qt::Key_Return, 0},  {1, 0, {}, Qt::Key_Escape, -1}, {1, 0, {}, Qt::Key_Enter, 0},
        {2, 0, 1, Qt::Key_Return, 0},   {2, 0, 1, Qt::Key_Escape, 1},
        {2, 1, {}, Qt::Key_Return, 1},  {2, 1, {}, Qt::Key_Escape, -1},
        {2, {}, {}, Qt::Key_Return, -1},
        {3, 2, {}, Qt::Key_Return, 2},  {3, 0, {}, Qt::Key_Escape, -1}, {3, 1, {}, Qt::Key_Return, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.buttons << " buttons, Return " << c.ret.value_or(-1) << ", key "
                                        << c.key);
        const BoxRun run = runWith(request(c.buttons, c.ret, c.esc), [&](QMessageBox* box) {
            // Focus on another button changes nothing.
            box->buttons().first()->setFocus();
            sendKey(box, c.key);
        });
        if (c.pressed >= 0) {
            EXPECT_FALSE(run.stayedOpen);
            EXPECT_EQ(run.pressed, c.pressed);
        } else {
            EXPECT_TRUE(run.stayedOpen);
            EXPECT_EQ(run.pressed, c.buttons - 1);
        }
    }
}

TEST(MessageBoxPresenter, ClosingTheWindowNeedsAnEscapeButton) {
    for (std::optional<int> esc : {std::optional<int>(), std::optional<int>(1)}) {
        const BoxRun run = runWith(request(2, 0, esc), [](QMessageBox* box) { box->close(); });
        EXPECT_EQ(run.stayedOpen, !esc);
        EXPECT_EQ(run.pressed, 1);
    }
}

TEST(MessageBoxPresenter, RunsInModalPanelModeWithPlainTexts) {
    AlertRequest r = request(2, 0, 1);
    r.messageText = "<b>Title</b>";
    r.informativeText = "<i>100%</i> %@";
    r.buttons[0] = "Save & Quit";
    r.style = kCriticalAlertStyle;
    const BoxRun run = runWith(r, [](QMessageBox* box) {
        EXPECT_EQ(box->text(), "<b>Title</b>");
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        ASSERT_NE(informative, nullptr);
        EXPECT_EQ(informative->text(), "<i>100%</i> %@");
        EXPECT_EQ(informative->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        const auto buttons = box->buttons();
        ASSERT_EQ(buttons.size(), 2);
        EXPECT_EQ(buttons[0]->text(), "Save && Quit");
        // The mnemonic letter of the title answers nothing.
        sendKey(box, Qt::Key_Q);
    });
    EXPECT_TRUE(run.stayedOpen);
    EXPECT_EQ(run.modeWhileUp, kdf::RunLoopMode::ModalPanel);
    EXPECT_EQ(kdf::RunLoop::main().currentMode(), std::nullopt);
}

// The whole path: a message key to a message box and back to an answer, with
// the notifications around it.
TEST(MessageBoxPresenter, ShowPanelThroughTheInstalledMessageBox) {
    installMessageBoxPresenter();
    int notices = 0;
    kdf::ObserverToken token = kdf::NotificationCenter::defaultCenter().addObserver(
        kTvAlertRunModalNotification, [&](const kdf::Notification&) { ++notices; }, notificationSender());
    QTimer::singleShot(0, [] {
        if (QWidget* box = QApplication::activeModalWidget()) sendKey(box, Qt::Key_Escape);
    });
    EXPECT_EQ(showPanel("Confirm", std::nullopt, std::string("Quit?"), "Yes", "No", std::nullopt, 1, 0, true),
              kAlertAlternateReturn);
    EXPECT_EQ(notices, 2);
    setAlertPresenter(AlertKind::Platform, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", std::string("offscreen"));
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    kdui::installQtRunLoopDriver();
    return RUN_ALL_TESTS();
}
