#include "KitTestSupport.h"
#include "TvButtons.h"
#include "TvTextFields.h"
#include "ui_KitForm.h"

#include <QEnterEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QToolTip>
#include <QVariantAnimation>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace TvUI;

namespace {

constexpr std::uint32_t F = kFlagFlipped;

QImage grabbed(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

void mouse(QWidget* target, QEvent::Type type, QPoint at = {5, 5}) {
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void key(QWidget* target, int k) {
    QKeyEvent event(QEvent::KeyPress, k, Qt::NoModifier, k == Qt::Key_Space ? QStringLiteral(" ") : QString());
    QApplication::sendEvent(target, &event);
}

void enter(QWidget* target) {
    QEnterEvent event(QPointF(2, 2), QPointF(2, 2), target->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(target, &event);
}

void leave(QWidget* target) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(target, &event);
}

// A window with one button; `active` makes it the active window, else
// another window is.
struct Stage {
    QWidget window;
    QWidget other;
    Stage() {
        window.resize(300, 120);
        window.move(100, 100);
        other.resize(50, 50);
    }
    void show(bool active) {
        window.show();
        other.show();
        (active ? window : other).activateWindow();
        QApplication::processEvents();
    }
};

enum class State { Normal, Down, Disabled, Focused, FocusedInactive, Checked, RollOver };

struct FlagsCase {
    const char* cell;
    State state;
    std::uint32_t expected;
};

// Every look over the states that change its word.
const FlagsCase kFlagsCases[] = {
    {"TvRoundedButtonCell", State::Normal, F},
    {"TvRoundedButtonCell", State::Down, F | kFlagHighlighted},
    {"TvRoundedButtonCell", State::Disabled, F}, // never the disabled bit
    {"TvRoundedButtonCell", State::Focused, F | kFlagFocused},
    {"TvRoundedButtonCell", State::FocusedInactive, F},
    {"TvArrowButtonCell", State::Disabled, F | kFlagDisabled},
    {"TvArrowButtonCell", State::Checked, F},
    {"TvArrowButtonCell", State::RollOver, F},
    {"TvColoredPushButtonCell", State::Normal, F | styleFlags(2) | buttonImageFlags(16)},
    {"TvColoredPushButtonCell", State::Focused, F | kFlagFocused | styleFlags(2) | buttonImageFlags(16)},
    {"TvColoredPushButtonCell", State::Checked, F | styleFlags(2) | buttonImageFlags(16)},
    {"TvImageButtonCell", State::Normal, F | styleFlags(16)},
    {"TvImageButtonCell", State::Checked, F | kFlagOn | styleFlags(16)},
    {"TvImageButtonCell", State::RollOver, F | kFlagRollOver | styleFlags(16)},
    {"TvImageButtonCell", State::Disabled, F | kFlagDisabled | styleFlags(16)},
    {"TvPreviewButtonCell", State::Checked, F | kFlagOn},
    {"TvPreviewButtonCell", State::RollOver, F | kFlagRollOver},
    {"TvTriangleButtonCell", State::Checked, F | kFlagOn},
    {"TvTriangleButtonCell", State::RollOver, F},
    {"TvTriangleButtonCell", State::Disabled, F | kFlagDisabled},
    {"TvMenuButtonCell", State::Down, F | kFlagHighlighted},
    {"TvMenuButtonCell", State::Checked, F},
    {"TvMenuButtonCell", State::Focused, F | kFlagFocused},
};

TEST(ButtonCells, FlagsTable) {
    for (const FlagsCase& c : kFlagsCases) {
        SCOPED_TRACE(std::string(c.cell) + " state " + std::to_string(int(c.state)));
        Stage stage;
        auto* button = new TvButton(&stage.window);
        button->setGeometry(10, 10, 100, 30);
        button->setProperty("kdCell", QString::fromLatin1(c.cell));
        button->setProperty("kdStyle", 2);
        button->setProperty("kdImageIndex", 16);
        button->ensurePolished();
        ASSERT_NE(button->cell(), nullptr);
        stage.show(c.state != State::FocusedInactive);
        button->clearFocus(); // activation may have given it the focus
        switch (c.state) {
        case State::Normal: break;
        case State::Down: button->setDown(true); break;
        case State::Disabled: button->setEnabled(false); break;
        case State::Focused:
        case State::FocusedInactive: button->setFocus(Qt::OtherFocusReason); break;
        case State::Checked:
            button->setCheckable(true);
            button->setChecked(true);
            break;
        case State::RollOver: enter(button); break;
        }
        QApplication::processEvents();
        EXPECT_EQ(button->cell()->flags(*button), c.expected);
        EXPECT_EQ(button->cell()->focusRingType(), 1);
    }
}

TEST(ButtonCells, OnlyCheckableButtonsAreOnAndOnlyTvButtonsRollOver) {
    Stage stage;
    auto* tool = new TvToolButton(&stage.window);
    tool->setCell(std::make_unique<TvImageButtonCell>(3));
    stage.show(true);
    tool->clearFocus();
    enter(tool);
    EXPECT_EQ(tool->cell()->flags(*tool), F | styleFlags(3)) << "a tool button has no roll-over";
    tool->setChecked(true); // not checkable: stays off
    EXPECT_EQ(tool->cell()->flags(*tool) & kFlagOn, 0u);
}

TEST(Buttons, FormPropertiesChooseTheLookAtFirstPolish) {
    TvButton button;
    button.setProperty("kdCell", QStringLiteral("TvColoredPushButtonCell"));
    button.setProperty("kdStyle", 3);
    button.setProperty("kdImageIndex", 5);
    button.setProperty("kdMinSize", 140.0);
    button.ensurePolished();
    auto* cell = dynamic_cast<TvColoredPushButtonCell*>(button.cell());
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->style(), 3);
    EXPECT_EQ(cell->imageIndex(), 5);
    EXPECT_EQ(cell->minSize(), 140.0);
    EXPECT_GE(button.sizeHint().width(), 140);
}

int gWarnings = 0;
void countWarnings(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtWarningMsg) ++gWarnings;
}

TEST(Buttons, UnknownCellKeepsQtsLookWithOneWarning) {
    gWarnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countWarnings);
    {
        QWidget window;
        auto* button = new TvButton(&window);
        button->setText(QStringLiteral("Odd"));
        button->setProperty("kdCell", QStringLiteral("TvNoSuchCell"));
        window.show();
        QApplication::processEvents();
        button->ensurePolished();
        (void)button->grab(); // paints in Qt's look
        EXPECT_EQ(button->cell(), nullptr);
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(gWarnings, 1);
}

TEST(Buttons, ToolTipComesFromTheImageCell) {
    Stage stage;
    auto* button = new TvButton(&stage.window);
    button->setGeometry(10, 10, 40, 40);
    button->setCell(std::make_unique<TvImageButtonCell>(2, QStringLiteral("Delete")));
    stage.show(true);
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(button, &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Delete"));
    QToolTip::hideText();
}

TEST(Buttons, ToolButtonLeavesTheTabChainWhileExcluded) {
    TvToolButton button;
    const Qt::FocusPolicy initial = button.focusPolicy();
    EXPECT_FALSE(button.excludeKeyViewLoop());
    button.setExcludeKeyViewLoop(true);
    EXPECT_EQ(button.focusPolicy(), Qt::ClickFocus);
    button.setExcludeKeyViewLoop(false);
    EXPECT_EQ(button.focusPolicy(), initial);
}

// The image button's roll-over picture under the mouse, the normal one
// after leaving, and roll-over cleared by resizing the window.
TEST(Buttons, ImageButtonRollOverPixels) {
    Stage stage;
    auto* holder = new QWidget(&stage.window);
    holder->setGeometry(0, 0, 200, 100);
    auto* button = new TvButton(holder);
    button->setGeometry(10, 10, 40, 40);
    button->setCell(std::make_unique<TvImageButtonCell>(2));
    stage.show(true);
    const QImage normal = grabbed(*button);
    enter(button);
    EXPECT_TRUE(button->isRollOverState());
    EXPECT_NE(grabbed(*button), normal) << "the roll-over picture";
    leave(button);
    EXPECT_FALSE(button->isRollOverState());
    EXPECT_EQ(grabbed(*button), normal);

    enter(button);
    stage.window.resize(320, 140);
    QApplication::processEvents();
    EXPECT_FALSE(button->isRollOverState()) << "resizing the window clears roll-over";
    EXPECT_EQ(grabbed(*button), normal);

    // Watching follows a new parent.
    auto* other = new QWidget(&stage.window);
    other->setGeometry(0, 0, 200, 100);
    button->setParent(other);
    other->show();
    button->show();
    enter(button);
    other->move(1, 1);
    QApplication::processEvents();
    EXPECT_FALSE(button->isRollOverState());
}

struct MenuStage : Stage {
    TvMenuButton* button;
    int opened = 0;
    bool downWhileOpen = false;
    QPoint menuPos;
    MenuStage() {
        button = new TvMenuButton(&window);
        button->setGeometry(150, 20, 100, 29);
        button->setCell(std::make_unique<TvMenuButtonCell>());
        button->btnMenu()->addAction(QStringLiteral("First entry of the menu"));
        QObject::connect(button->btnMenu(), &QMenu::aboutToShow, [this] {
            ++opened;
            downWhileOpen = button->isDown();
            QTimer::singleShot(0, button->btnMenu(), [this] {
                menuPos = button->btnMenu()->pos();
                button->btnMenu()->close();
            });
        });
    }
};

TEST(MenuButton, OpensOnSingleClickUpAndDownOnly) {
    MenuStage s;
    s.show(true);
    mouse(s.button, QEvent::MouseButtonPress);
    EXPECT_EQ(s.opened, 1);
    EXPECT_TRUE(s.downWhileOpen);
    EXPECT_FALSE(s.button->isDown());
    mouse(s.button, QEvent::MouseButtonRelease);
    mouse(s.button, QEvent::MouseButtonDblClick);
    mouse(s.button, QEvent::MouseButtonRelease);
    EXPECT_EQ(s.opened, 1) << "the second press of a double click";
    key(s.button, Qt::Key_Up);
    key(s.button, Qt::Key_Down);
    EXPECT_EQ(s.opened, 3);
    key(s.button, Qt::Key_Left);
    EXPECT_EQ(s.opened, 3);
    s.button->setEnabled(false);
    mouse(s.button, QEvent::MouseButtonPress);
    EXPECT_EQ(s.opened, 3);
}

TEST(MenuButton, MenuPositionInBothDirections) {
    MenuStage s;
    s.show(true);
    const int menuWidth = s.button->btnMenu()->sizeHint().width();
    EXPECT_EQ(s.button->menuOrigin(), QPoint(100 - menuWidth, 29 + 5)) << "no division by a scale factor";
    key(s.button, Qt::Key_Down);
    EXPECT_EQ(s.menuPos, s.button->mapToGlobal(QPoint(100 - menuWidth, 34)));
    kittest::RightToLeft rtl;
    EXPECT_EQ(s.button->menuOrigin(), QPoint(0, 34));
}

TEST(TriangleButton, AngleAndOpacityByStateAndDirection) {
    for (bool ltr : {true, false}) {
        SCOPED_TRACE(ltr ? "left to right" : "right to left");
        std::unique_ptr<kittest::RightToLeft> rtl;
        if (!ltr) rtl = std::make_unique<kittest::RightToLeft>();
        TvButton button;
        button.setCheckable(true);
        auto owned = std::make_unique<TvTriangleButtonCell>();
        TvTriangleButtonCell* cell = owned.get();
        button.setCell(std::move(owned));
        EXPECT_EQ(cell->angle(), ltr ? 0.0 : 180.0);
        button.setChecked(true);
        ASSERT_EQ(cell->animation()->state(), QAbstractAnimation::Running);
        EXPECT_EQ(cell->animation()->duration(), 250);
        cell->animation()->setCurrentTime(250);
        EXPECT_EQ(cell->angle(), 90.0);
        button.setChecked(false);
        cell->animation()->setCurrentTime(250);
        EXPECT_EQ(cell->angle(), ltr ? 0.0 : 180.0);
        EXPECT_EQ(TvTriangleButtonCell::opacity(button), 1.0);
        button.setEnabled(false);
        EXPECT_EQ(TvTriangleButtonCell::opacity(button), 0.5);
    }
}

TEST(SegmentedControl, FlagsClicksAndKeys) {
    Stage stage;
    auto* control = new TvSegmentedControl(&stage.window);
    control->setSegmentCount(3);
    for (int i = 0; i < 3; ++i) {
        control->setLabel(QStringLiteral("S%1").arg(i), i);
        control->setWidth(60, i);
    }
    control->move(10, 10);
    control->resize(control->sizeHint());
    EXPECT_EQ(control->height(), 31);
    control->setSelectedSegment(1);
    stage.show(true);
    control->clearFocus();
    EXPECT_EQ(control->flagsForSegment(0), F | kFlagFirstSegment);
    EXPECT_EQ(control->flagsForSegment(1), F | kFlagOn);
    EXPECT_EQ(control->flagsForSegment(2), F | kFlagLastSegment);

    std::vector<int> activated;
    QObject::connect(control, &TvSegmentedControl::activated, [&](int i) { activated.push_back(i); });
    mouse(control, QEvent::MouseButtonPress, {130, 10});
    EXPECT_EQ(control->flagsForSegment(2), F | kFlagLastSegment | kFlagHighlighted);
    mouse(control, QEvent::MouseButtonRelease, {130, 10});
    EXPECT_EQ(control->selectedSegment(), 2);
    EXPECT_EQ(activated, std::vector<int>{2});

    control->setEnabled(false, 0);
    mouse(control, QEvent::MouseButtonPress, {5, 10});
    mouse(control, QEvent::MouseButtonRelease, {5, 10});
    EXPECT_EQ(control->selectedSegment(), 2) << "a disabled segment is not chosen";
    EXPECT_EQ(control->flagsForSegment(0), F | kFlagFirstSegment | kFlagDisabled);

    control->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(control->flagsForSegment(0) & kFlagFocused, kFlagFocused) << "the key segment only";
    EXPECT_EQ(control->flagsForSegment(1) & kFlagFocused, 0u);
    key(control, Qt::Key_Right);
    EXPECT_EQ(control->keySegment(), 1);
    key(control, Qt::Key_Space);
    EXPECT_EQ(control->selectedSegment(), 1);
    key(control, Qt::Key_Right);
    key(control, Qt::Key_Right);
    EXPECT_EQ(control->keySegment(), 2);
    key(control, Qt::Key_Left);
    EXPECT_EQ(control->keySegment(), 1);
    EXPECT_EQ(activated, (std::vector<int>{2, 1}));
}

// A Designer form promotes plain controls to the kit's classes and names
// their looks with dynamic properties.
TEST(Forms, PromotedControlsTakeTheirLooks) {
    QWidget window;
    Ui::KitForm form;
    form.setupUi(&window);
    window.show();
    QApplication::processEvents();
    auto* push = dynamic_cast<TvColoredPushButtonCell*>(form.scanButton->cell());
    ASSERT_NE(push, nullptr);
    EXPECT_EQ(push->style(), 2);
    EXPECT_EQ(push->imageIndex(), 16);
    EXPECT_EQ(push->minSize(), 120.0);
    EXPECT_NE(dynamic_cast<TvMenuButtonCell*>(form.createButton->cell()), nullptr);
    auto* image = dynamic_cast<TvImageButtonCell*>(form.deleteButton->cell());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->imageIndex(), 2);
    EXPECT_EQ(image->toolTipString(), QStringLiteral("Delete"));
    EXPECT_TRUE(form.deleteButton->excludeKeyViewLoop());
    EXPECT_EQ(form.deleteButton->focusPolicy(), Qt::ClickFocus);
    EXPECT_EQ(form.nameLabel->relatedObject(), form.nameField);
    TvStaticTextField::syncStaticTextInView(&window);
    EXPECT_FALSE(form.nameLabel->isEnabled());
    EXPECT_EQ(form.sides->height(), 31);
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
