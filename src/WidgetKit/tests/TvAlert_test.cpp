// The application's alert: its layout in both directions, the notifications
// around every run, the keys, plain texts, and the way the message routines
// run it.
#include "KitTestSupport.h"
#include "TvAlert.h"
#include "TvButtons.h"

#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace {

using TV_Message::AlertRequest;

std::unique_ptr<TvAlert> alertWith(int style, const QString& message, const QString& informative,
                                   const QStringList& buttons) {
    auto alert = std::make_unique<TvAlert>();
    alert->setAlertStyle(style);
    alert->setMessageText(message);
    alert->setInformativeText(informative);
    for (const QString& title : buttons) alert->addButtonWithTitle(title);
    alert->layoutAlertParts();
    return alert;
}

std::vector<QRect> buttonFrames(const TvAlert& alert) {
    std::vector<QRect> frames;
    for (const TvButton* b : alert.buttons()) frames.push_back(b->geometry());
    return frames;
}

TEST(TvAlertLayout, ButtonsAtLeast120WideRightToLeftInARowCentred14FromTheBottom) {
    struct Case {
        const char* what;
        QStringList buttons;
        bool rightToLeft;
        std::vector<int> xs; // each button's x, in the alert's order
    };
    const Case cases[] = {
        {"one short button", {"OK"}, false, {150}},
        {"three buttons, the default rightmost", {"Yes", "No", "Cancel"}, false, {273, 150, 27}},
        {"three buttons in right-to-left layout, the default leftmost", {"Yes", "No", "Cancel"}, true,
         {27, 150, 273}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<kittest::RightToLeft> direction;
        if (c.rightToLeft) direction.emplace();
        auto alert = alertWith(2, "Error", "The file could not be written.", c.buttons);
        EXPECT_EQ(alert->width(), TvAlert::kPanelWidth);
        const std::vector<QRect> frames = buttonFrames(*alert);
        ASSERT_EQ(frames.size(), c.xs.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i], QRect(c.xs[i], alert->height() - 14 - 29, 120, 29)) << i;
            EXPECT_EQ(kdui::tag(alert->buttons()[qsizetype(i)]), TvAlert::kFirstButtonReturn + int(i));
        }
        EXPECT_EQ(alert->buttons().first()->text(), c.buttons.first());
    }
}

TEST(TvAlertLayout, AWideButtonRowWidensThePanel) {
    auto alert = alertWith(1, "Confirm", "Import?",
                           {"Import every setting of the earlier version", "Import nothing at all now",
                            "Ask again at the next start"});
    const std::vector<QRect> frames = buttonFrames(*alert);
    const int row = frames.front().right() + 1 - frames.back().left();
    ASSERT_GT(row + 16, TvAlert::kPanelWidth);
    EXPECT_EQ(alert->width(), row + 16);
    EXPECT_EQ(frames.back().left(), 8);
    EXPECT_EQ(frames[1].left() + frames[1].width() + 3, frames[0].left());
    for (const QRect& f : frames) EXPECT_GT(f.width(), 120);
}

TEST(TvAlertLayout, HeightAndPartsFromTheTextsTheImageAndTheButtons) {
    struct Case {
        const char* what;
        int style;
        QString message, informative;
        QStringList buttons;
        int imageHeight;
    };
    const QString longPath = "/home/user/Documents/Scans/2026/December/invoice_scan_000123456789_final_copy.pdf";
    const Case cases[] = {
        {"error with informative text", 2, "Error", "The file could not be written.", {"OK"}, 48},
        {"question without informative text", 1, "Confirm", "", {"Yes", "No"}, 48},
        {"no image for style 3", 3, "Error", "Text", {"OK"}, 0},
        {"no buttons", 0, "Note", "Text", {}, 48},
        {"a long path wraps inside the panel", 2, "Error", longPath + " " + longPath, {"OK"}, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto alert = alertWith(c.style, c.message, c.informative, c.buttons);
        const int w = alert->width();
        const QFont messageFont = alert->messageField()->font();
        const QFont informativeFont = alert->informationField()->font();
        EXPECT_TRUE(messageFont.bold());
        EXPECT_EQ(messageFont.pixelSize(), 13);
        EXPECT_EQ(informativeFont.pixelSize(), 14);
        const int messageHeight = TvAlert::textHeight(c.message, messageFont, w - 40);
        const int informativeHeight = TvAlert::textHeight(c.informative, informativeFont, w - 40);
        EXPECT_GT(messageHeight, 0);
        EXPECT_EQ(informativeHeight == 0, c.informative.isEmpty());
        const int buttons = c.buttons.isEmpty() ? 0 : 29 + 14;
        EXPECT_EQ(alert->height(), messageHeight + 16 + informativeHeight + 3 + c.imageHeight + 3 + buttons);

        EXPECT_EQ(alert->imageView()->geometry(), QRect((w - c.imageHeight) / 2, 13, c.imageHeight, c.imageHeight));
        EXPECT_EQ(alert->imageView()->isVisibleTo(alert.get()), c.imageHeight > 0);
        const QRect message(20, 13 + c.imageHeight + 3, w - 40, messageHeight);
        EXPECT_EQ(alert->messageField()->geometry(), message);
        EXPECT_EQ(alert->informationField()->geometry(), QRect(20, message.bottom() + 1 + 3, w - 40, informativeHeight));
        if (c.informative.startsWith('/')) {
            const int oneLine = TvAlert::textHeight("x", informativeFont, w - 40);
            EXPECT_GE(informativeHeight, 3 * oneLine);
            EXPECT_EQ(w, TvAlert::kPanelWidth);
        }
    }
}

TEST(TvAlert, ImagesByStyleAndTextsShownAsTheyStand) {
    EXPECT_STREQ(TvAlert::imageNameForStyle(2), "bmp_success.png");
    EXPECT_STREQ(TvAlert::imageNameForStyle(1), "bmp_caution.png");
    EXPECT_STREQ(TvAlert::imageNameForStyle(0), "bmp_caution.png");
    EXPECT_EQ(TvAlert::imageNameForStyle(3), nullptr);

    auto alert = alertWith(2, "<b>Error</b>", "<i>100%</i> %@ %d\n<a href=\"x\">link</a>", {"Save & Quit", ""});
    EXPECT_EQ(alert->messageField()->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert->informationField()->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert->informationField()->text(), "<i>100%</i> %@ %d\n<a href=\"x\">link</a>");
    EXPECT_EQ(alert->informativeText(), "<i>100%</i> %@ %d\n<a href=\"x\">link</a>");
    EXPECT_EQ(alert->buttons()[0]->text(), "Save & Quit");
    // A button without a title still says something.
    EXPECT_EQ(alert->buttons()[1]->text(), "OK");
    // The line break starts a second line.
    const QFont font = alert->informationField()->font();
    EXPECT_EQ(TvAlert::textHeight("a\nb", font, 380), 2 * TvAlert::textHeight("a", font, 380));

    // Painted as text: nothing of the markup is interpreted, so the painted
    // width is that of the whole string.
    QImage plain = kittest::canvas(alert->size());
    alert->render(&plain);
    EXPECT_NE(plain.pixel(alert->width() / 2, alert->height() / 2), kittest::kBackdrop);
}

// Runs the alert; once it is up, does what the step says. An alert still up
// after the step is ended by its last button, and noted.
struct AlertRun {
    int code = -99;
    bool stayedOpen = false;
    std::optional<kdf::RunLoopMode> modeWhileUp;
};

AlertRun runWith(TvAlert& alert, std::function<void(TvAlert&)> step) {
    AlertRun run;
    QTimer::singleShot(0, [&] {
        if (QApplication::activeModalWidget() != &alert) return;
        run.modeWhileUp = kdf::RunLoop::main().currentMode();
        step(alert);
        if (alert.isVisible()) {
            run.stayedOpen = true;
            alert.buttons().last()->click();
        }
    });
    run.code = alert.runModal();
    return run;
}

void sendKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

TEST(TvAlert, EveryRunIsAnnouncedBeforeAndAfterWithTheAlertAsSender) {
    struct Case {
        const char* what;
        std::function<void(TvAlert&)> step;
        int code;
    };
    const Case cases[] = {
        {"a click", [](TvAlert& a) { a.buttons()[1]->click(); }, TvAlert::kFirstButtonReturn + 1},
        {"Return", [](TvAlert& a) { sendKey(&a, Qt::Key_Return); }, TvAlert::kFirstButtonReturn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto alert = alertWith(1, "Confirm", "Quit?", {"Yes", "No"});
        std::vector<bool> starts;
        std::vector<const void*> senders;
        bool visibleAtStart = true;
        kdf::ObserverToken token = kdf::NotificationCenter::defaultCenter().addObserver(
            TV_Message::kTvAlertRunModalNotification, [&](const kdf::Notification& n) {
                senders.push_back(n.sender());
                ASSERT_NE(n.userInfo(), nullptr);
                const kdf::Value* start = kdf::find(*n.userInfo(), TV_Message::kIsStartRunmodalKey);
                ASSERT_NE(start, nullptr);
                starts.push_back(start->toBool().value_or(false));
                if (starts.size() == 1) visibleAtStart = alert->isVisible();
            });
        const AlertRun run = runWith(*alert, c.step);
        EXPECT_FALSE(run.stayedOpen);
        EXPECT_EQ(run.code, c.code);
        EXPECT_EQ(starts, (std::vector<bool>{true, false}));
        EXPECT_EQ(senders, (std::vector<const void*>{alert.get(), alert.get()}));
        EXPECT_NE(senders.front(), TV_Message::notificationSender());
        EXPECT_FALSE(visibleAtStart);
        EXPECT_EQ(run.modeWhileUp, kdf::RunLoopMode::ModalPanel);
    }
}

TEST(TvAlert, ReturnAndEscapePressOnlyTheNamedButtons) {
    struct Case {
        int returnButton, escapeButton, key;
        int pressed; // -1: the key did nothing
    };
    const Case cases[] = {
        {0, -1, Qt::Key_Return, 0}, {0, -1, Qt::Key_Enter, 0}, {0, -1, Qt::Key_Escape, -1},
        {0, 1, Qt::Key_Escape, 1},  {2, -1, Qt::Key_Return, 2}, {-1, -1, Qt::Key_Return, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Return " << c.returnButton << ", Escape " << c.escapeButton << ", key "
                                        << c.key);
        auto alert = alertWith(1, "Confirm", "Save?", {"Save", "Don't Save", "Cancel"});
        alert->setReturnButton(c.returnButton);
        alert->setEscapeButton(c.escapeButton);
        const AlertRun run = runWith(*alert, [&](TvAlert& a) {
            // The focused button changes nothing.
            a.buttons()[1]->setFocus();
            sendKey(&a, c.key);
        });
        if (c.pressed >= 0) {
            EXPECT_FALSE(run.stayedOpen);
            EXPECT_EQ(run.code, TvAlert::kFirstButtonReturn + c.pressed);
        } else {
            EXPECT_TRUE(run.stayedOpen);
        }
    }
    // The window manager's close is an Escape.
    auto alert = alertWith(1, "Confirm", "Save?", {"Save", "Cancel"});
    EXPECT_TRUE(runWith(*alert, [](TvAlert& a) { a.close(); }).stayedOpen);
    alert->setEscapeButton(1);
    const AlertRun closed = runWith(*alert, [](TvAlert& a) { a.close(); });
    EXPECT_FALSE(closed.stayedOpen);
    EXPECT_EQ(closed.code, TvAlert::kFirstButtonReturn + 1);
}

TEST(TvAlertPresenter, BuildsTheAlertOfARequest) {
    AlertRequest request;
    request.kind = TV_Message::AlertKind::TvAlert;
    request.messageText = "Confirm";
    request.informativeText = "Delete the setting?";
    request.buttons = {"Yes", "No"};
    request.style = 1;
    request.returnButton = 0;
    request.escapeButton = 1;
    auto alert = makeTvAlert(request);
    EXPECT_EQ(alert->messageText(), "Confirm");
    EXPECT_EQ(alert->informativeText(), "Delete the setting?");
    EXPECT_EQ(alert->alertStyle(), 1);
    ASSERT_EQ(alert->buttons().size(), 2);
    EXPECT_EQ(alert->buttons()[1]->text(), "No");
    EXPECT_EQ(alert->returnButton(), 0);
    EXPECT_EQ(alert->escapeButton(), 1);

    request.buttons.clear();
    request.returnButton.reset();
    request.escapeButton.reset();
    alert = makeTvAlert(request);
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons()[0]->text(), "OK");
    EXPECT_EQ(alert->returnButton(), 0);
    EXPECT_EQ(alert->escapeButton(), -1);
}

// The whole path: showPanel with the kit's alert installed.
TEST(TvAlertPresenter, ShowPanelAnswersByTheButtonPressed) {
    installTvAlertPresenter();
    struct Case {
        std::optional<std::string> btn2, btn3;
        std::function<void(TvAlert&)> step;
        int answer;
    };
    const auto click = [](int i) { return [i](TvAlert& a) { a.buttons()[i]->click(); }; };
    const auto escape = [](TvAlert& a) { sendKey(&a, Qt::Key_Escape); };
    const Case cases[] = {
        {"No", "Cancel", click(0), TV_Message::kAlertDefaultReturn},
        {"No", "Cancel", click(1), TV_Message::kAlertAlternateReturn},
        {"No", "Cancel", click(2), TV_Message::kAlertOtherReturn},
        // Two buttons, the first the default: Escape answers the second.
        {"No", std::nullopt, escape, TV_Message::kAlertAlternateReturn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        int notices = 0, platformNotices = 0;
        const void* sender = nullptr;
        kdf::ObserverToken token = kdf::NotificationCenter::defaultCenter().addObserver(
            TV_Message::kTvAlertRunModalNotification, [&](const kdf::Notification& n) {
                ++notices;
                if (n.sender() == TV_Message::notificationSender()) ++platformNotices;
                sender = n.sender();
            });
        bool sawAlert = false;
        QTimer::singleShot(0, [&] {
            auto* alert = qobject_cast<TvAlert*>(QApplication::activeModalWidget());
            if (!alert) return;
            sawAlert = true;
            EXPECT_EQ(sender, alert);
            c.step(*alert);
            if (alert->isVisible()) alert->buttons().last()->click();
        });
        EXPECT_EQ(TV_Message::showPanel("Confirm", std::nullopt, std::string("Quit?"), "Yes", c.btn2, c.btn3, 1, 0,
                                        true),
                  c.answer);
        EXPECT_TRUE(sawAlert);
        EXPECT_EQ(notices, 2);
        EXPECT_EQ(platformNotices, 0);
    }

    // Three buttons name no Escape button: Escape does nothing.
    bool stayed = false;
    QTimer::singleShot(0, [&] {
        auto* alert = qobject_cast<TvAlert*>(QApplication::activeModalWidget());
        if (!alert) return;
        sendKey(alert, Qt::Key_Escape);
        stayed = alert->isVisible();
        if (stayed) alert->buttons()[1]->click();
    });
    EXPECT_EQ(TV_Message::showPanel("Confirm", std::nullopt, std::string("Import?"), "Yes", "No", "Cancel", 1, 0,
                                    true),
              TV_Message::kAlertAlternateReturn);
    EXPECT_TRUE(stayed);
    TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
