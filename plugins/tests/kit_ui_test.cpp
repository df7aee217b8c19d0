// The kit's alert, modal panel manager and filtered text field on the
// offscreen platform; alerts are answered by a timer.
#include "ErrorAlert.h"
#include "ModalPanelManager.h"
#include "PluginTextField.h"
#include "TempHome.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace kdkit;

class KitUi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = new kdtest::TempHome;
        home->env().set("QT_QPA_PLATFORM", "offscreen");
        home->env().set("LANGUAGE", "en");
        static int argc = 1;
        static char name[] = "kit_ui_test";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        ModalPanelManager::terminateModalPanelManager();
        delete app;
        delete home;
    }
    static kdtest::TempHome* home;
    static QApplication* app;
};
kdtest::TempHome* KitUi::home = nullptr;
QApplication* KitUi::app = nullptr;

// What the alert showed, and a click on one of its buttons by index.
struct Shown {
    QString title;
    QString text;
    QStringList buttons;
    bool registered = false;
};

void answerNextAlert(int buttonIndex, Shown* shown, QWidget* parent) {
    *shown = {};
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown->title = box->text();
        shown->text = box->informativeText();
        for (QAbstractButton* b : box->buttons()) shown->buttons << b->text();
        shown->registered = ModalPanelManager::sharedModalPanelManager().isRegisteredWindow(box) &&
                            ModalPanelManager::sharedModalPanelManager().parentWindowForWindow(box) == parent;
        const QList<QAbstractButton*> buttons = box->buttons();
        if (buttonIndex < buttons.size()) buttons[buttonIndex]->click();
    });
}

TEST_F(KitUi, AlertButtonsAnswerOneZeroMinusOne) {
    QWidget parent;
    const ErrorAlert::ButtonTitleKeys three{{std::string("ReTry"), std::string("Suspend"), std::string("SetUp")}};
    const int answers[] = {1, 0, -1};
    for (int i = 0; i < 3; ++i) {
        Shown shown;
        answerNextAlert(i, &shown, &parent);
        EXPECT_EQ(ErrorAlert::showAlertWithErrKey("Err_Format", kAlertTitleCaution, three, &parent), answers[i]);
        EXPECT_EQ(shown.buttons, (QStringList{"Retry", "Stop", "Settings"}));
        EXPECT_EQ(shown.title, "Caution");
        // The message is shown as written, never used as a format.
        EXPECT_EQ(shown.text, "Cannot send: %s%n%@ stays as written.");
        EXPECT_TRUE(shown.registered);
    }
    EXPECT_EQ(ModalPanelManager::sharedModalPanelManager().isRegisteredWindow(QApplication::activeModalWidget()),
              false);

    Shown shown;
    answerNextAlert(0, &shown, nullptr);
    EXPECT_EQ(ErrorAlert::showAlertWithErrKey("Err_Format", kAlertTitleConfirm, std::nullopt, nullptr), 1);
    EXPECT_EQ(shown.buttons, QStringList{"OK"});
    EXPECT_EQ(shown.title, "Confirm");

    // A missing element keeps its default; an empty one means no button.
    answerNextAlert(1, &shown, nullptr);
    const ErrorAlert::ButtonTitleKeys gap{{std::nullopt, std::string(), std::string("SetUp")}};
    EXPECT_EQ(ErrorAlert::showAlertWithErrKey("Err_Format", 7, gap, nullptr), -1);
    EXPECT_EQ(shown.buttons, (QStringList{"OK", "Settings"}));
    EXPECT_EQ(shown.title, "");
}

TEST_F(KitUi, ExceptionAlertShowsTheReasonAsWritten) {
    Shown shown;
    answerNextAlert(0, &shown, nullptr);
    ErrorAlert::runModalWithExceptionList({kdf::Exception("Err_Upload", "<b>%s%n</b> from the proxy")}, nullptr);
    EXPECT_EQ(shown.title, "Error");
    EXPECT_EQ(shown.text, "<b>%s%n</b> from the proxy");
    EXPECT_EQ(shown.buttons, QStringList{"OK"});

    shown = {};
    answerNextAlert(0, &shown, nullptr);
    ErrorAlert::runModalWithExceptionList({}, nullptr);
    EXPECT_EQ(shown.text, "");
    EXPECT_EQ(shown.buttons, QStringList{"OK"});

    // Two or more: nothing is shown (the timer finds no alert).
    shown = {};
    answerNextAlert(0, &shown, nullptr);
    ErrorAlert::runModalWithExceptionList({kdf::Exception("a"), kdf::Exception("b")}, nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(shown.buttons.isEmpty());
}

void pasteKey(QLineEdit& field) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QString());
    QApplication::sendEvent(&field, &press);
}

void typeText(QLineEdit& field, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(&field, &press);
    }
}

TEST_F(KitUi, FilteredFieldRefusesTypingPastingAndOverlongText) {
    PluginTextField field;
    field.setValidCharsInString("0123");
    field.setValidLength(2);
    typeText(field, "5");
    EXPECT_EQ(field.text(), "");
    typeText(field, "12");
    EXPECT_EQ(field.text(), "12");
    typeText(field, "3");
    EXPECT_EQ(field.text(), "12");
    // Replacing a selected digit keeps the length.
    field.setSelection(1, 1);
    typeText(field, "3");
    EXPECT_EQ(field.text(), "13");

    field.setText("");
    QApplication::clipboard()->setText("12a");
    pasteKey(field);
    EXPECT_EQ(field.text(), "");
    QApplication::clipboard()->setText("31");
    pasteKey(field);
    EXPECT_EQ(field.text(), "31");

    // An input-method commit is filtered too; a refused one ends the
    // composition without leaving its text behind.
    field.setText("");
    QInputMethodEvent compose(QStringLiteral("5"), {});
    QApplication::sendEvent(&field, &compose);
    QInputMethodEvent refused;
    refused.setCommitString(QStringLiteral("5"));
    QApplication::sendEvent(&field, &refused);
    EXPECT_EQ(field.text(), "");
    QInputMethodEvent accepted;
    accepted.setCommitString(QStringLiteral("2"));
    QApplication::sendEvent(&field, &accepted);
    EXPECT_EQ(field.text(), "2");

    // Invalid characters, the other way round.
    PluginTextField name;
    name.setInvalidCharsInString("/:");
    typeText(name, "a/b:c");
    EXPECT_EQ(name.text(), "abc");
}

TEST_F(KitUi, FieldWithoutCharacterSetIgnoresItsLimit) {
    PluginTextField field;
    field.setValidLength(2);
    typeText(field, "12345");
    EXPECT_EQ(field.text(), "12345");
    // An empty invalid set turns the limit on.
    field.setText("");
    field.setInvalidCharsInString("");
    typeText(field, "12345");
    EXPECT_EQ(field.text(), "12");

    PluginSecureTextField secret;
    secret.setInvalidCharsInString("");
    secret.setValidLength(3);
    typeText(secret, "abcd");
    EXPECT_EQ(secret.text(), "abc");
    EXPECT_EQ(secret.echoMode(), QLineEdit::Password);
}

TEST_F(KitUi, ArabicCombiningMarksDoNotCount) {
    struct Case {
        QString text;
        int length;
    };
    const Case cases[] = {
        {QString(), 0},
        {QStringLiteral("abc"), 3},
        {QString::fromUtf16(u"\u0628\u064E"), 1},             // beh + fatha
        {QString::fromUtf16(u"\u064E\u0628"), 2},             // a leading mark counts
        {QString::fromUtf16(u"\u0628\u0610\u061A\u0670"), 1}, // the ranges' ends
        {QString::fromUtf16(u"\u0628\u06D6\u06ED"), 1},
        {QString::fromUtf16(u"\u0628\u06DD\u06DE\u06E5\u06E6\u06E9"), 6}, // these count
        {QString::fromUtf16(u"\u0628\u065F\u0660"), 2},                   // 0660 is a digit
    };
    for (const Case& c : cases) EXPECT_EQ(PluginTextField::lengthRemoveDependentChar(c.text), c.length) << c.text.toStdString();
}

TEST_F(KitUi, PanelManagerKeepsWindowsOnlyWhileTheyLive) {
    ModalPanelManager& manager = ModalPanelManager::sharedModalPanelManager();
    QWidget parent;
    auto* panel = new QWidget;
    {
        ModalPanelRegistration registration(panel, &parent);
        EXPECT_TRUE(manager.isRegisteredWindow(panel));
        EXPECT_EQ(manager.parentWindowForWindow(panel), &parent);
    }
    EXPECT_FALSE(manager.isRegisteredWindow(panel));

    manager.registerWindow(panel, nullptr);
    EXPECT_TRUE(manager.isRegisteredWindow(panel));
    EXPECT_EQ(manager.parentWindowForWindow(panel), nullptr);
    {
        // Freed while registered: it drops out, and the guard of a freed
        // window unregisters nothing else.
        ModalPanelRegistration registration(panel, nullptr);
        delete panel;
    }
    QWidget other;
    EXPECT_FALSE(manager.isRegisteredWindow(&other));
    manager.registerWindow(&other, &parent);
    parent.show();
    other.show();
    manager.reorderPanels(kModalPanelLevel);
    manager.unregisterWindow(&other);
    EXPECT_FALSE(manager.isRegisteredWindow(&other));
}

TEST_F(KitUi, PanelChainOrderEndsOnLoopsAndBranches) {
    QWidget a, b, c, d, outside;
    std::map<QWidget*, QWidget*> parents;
    const auto parentOf = [&](QWidget* w) { return parents.count(w) ? parents[w] : nullptr; };
    using Chain = std::vector<QWidget*>;

    parents = {{&a, &outside}, {&b, &a}, {&c, &b}};
    EXPECT_EQ(panelChainOrder({&c, &a, &b}, parentOf), (Chain{&a, &b, &c}));
    // Two windows over one parent: the walk ends at the branch.
    parents = {{&a, nullptr}, {&b, &a}, {&c, &a}};
    EXPECT_EQ(panelChainOrder({&a, &b, &c}, parentOf).size(), 2u);
    // Parents in a loop: the last window starts, every window once.
    parents = {{&a, &b}, {&b, &c}, {&c, &a}};
    EXPECT_EQ(panelChainOrder({&a, &b, &c}, parentOf), (Chain{&c, &b, &a}));
    parents = {{&d, &d}};
    EXPECT_EQ(panelChainOrder({&d}, parentOf), Chain{&d});
    EXPECT_TRUE(panelChainOrder({}, parentOf).empty());
}

} // namespace
