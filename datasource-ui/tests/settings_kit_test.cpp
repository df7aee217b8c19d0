// The settings window's own kit: controls by tag, the dressing of loaded
// titles, reading order, the slider and the text fields.
#include "FormLoading.h"
#include "ItemFunctions.h"
#include "PatternView.h"
#include "RollOver.h"
#include "ScrollableView.h"
#include "Slider.h"
#include "TextFields.h"
#include "UIUtility.h"
#include "ui_KitTestForm.h"

#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace {

using namespace ComTavrolekKD720;

// A small panel: pop-up 10 (items tagged 100, separator, 300), check box 11,
// matrix 12 of three cells, image view 13 with an image pair; nothing has 99.
struct Panel {
    std::unique_ptr<QWidget> view = std::make_unique<QWidget>();
    QComboBox* popUp = new QComboBox(view.get());
    QCheckBox* check = new QCheckBox(view.get());
    QWidget* matrix = new QWidget(view.get());
    QLabel* image = new QLabel(view.get());
    QPixmap normal{4, 4}, disabled{6, 6};

    Panel() {
        kdui::setTag(popUp, 10);
        popUp->addItem("A", QVariant());
        popUp->setItemData(0, 100, kItemTagRole);
        popUp->insertSeparator(1);
        popUp->addItem("C");
        popUp->setItemData(2, 300, kItemTagRole);
        kdui::setTag(check, 11);
        kdui::setTag(matrix, 12);
        auto* group = new QButtonGroup(matrix);
        for (int i = 0; i < 3; ++i) group->addButton(new QRadioButton(matrix));
        group->buttons()[0]->setChecked(true);
        kdui::setTag(image, 13);
        image->setProperty(kImagePairProperty, QVariantList{normal, disabled});
    }
};

TEST(ItemFunctions, IntValuesByKindOfControl) {
    struct Case {
        int tag, set, expected;
    } cases[] = {
        {10, 2, 2},   // pop-up: index
        {10, 3, 0},   // index equal to the number of items: selection stays
        {11, 1, 1},   // check box: state
        {12, 2, 2},   // matrix: index
        {12, 5, 0},   // matrix: out of range stays
        {99, 4, -1},  // no control
    };
    for (const Case& c : cases) {
        Panel panel;
        SetItemIntValue(panel.view.get(), c.tag, c.set);
        EXPECT_EQ(GetItemIntValue(panel.view.get(), c.tag), c.expected) << c.tag << " " << c.set;
    }
}

TEST(ItemFunctions, MenuItemTagsAreDistinctFromTheControlsTag) {
    struct Case {
        int tag, itemTag, expectedIndex, expectedTag;
        std::optional<int> found;
    } cases[] = {
        {10, 300, 2, 300, 2},
        {10, 10, 0, 100, std::nullopt},  // the control's own tag is no item's
        {11, 300, -1, -1, std::nullopt}, // a control without items
        {99, 300, -1, -1, std::nullopt},
    };
    for (const Case& c : cases) {
        Panel panel;
        SetMenuItemIntValue(panel.view.get(), c.tag, c.itemTag);
        EXPECT_EQ(GetMenuItemIntValue(panel.view.get(), c.tag), c.expectedTag) << c.tag;
        if (c.tag == 10) {
            EXPECT_EQ(panel.popUp->currentIndex(), c.expectedIndex);
        }
        EXPECT_EQ(GetMenuItemWithTag(panel.view.get(), c.tag, c.itemTag), c.found) << c.tag;
    }
}

TEST(ItemFunctions, EnabledHiddenAndStrings) {
    Panel panel;
    SetItemEnabled(panel.view.get(), 13, false);
    EXPECT_FALSE(panel.image->isEnabled());
    EXPECT_EQ(panel.image->pixmap().size(), QSize(6, 6));
    SetItemEnabled(panel.view.get(), 13, true);
    EXPECT_EQ(panel.image->pixmap().size(), QSize(4, 4));
    SetItemHidden(panel.view.get(), 11, true);
    EXPECT_TRUE(panel.check->isHidden());
    SetItemString(panel.view.get(), 11, "Duplex");
    EXPECT_EQ(GetItemString(panel.view.get(), 11), QString("Duplex"));
    EXPECT_EQ(GetItemString(panel.view.get(), 99), std::nullopt);
    // Nothing happens without a control.
    SetItemEnabled(panel.view.get(), 99, false);
    SetItemString(panel.view.get(), 99, "x");
    EXPECT_TRUE(panel.view->isEnabled());
}

TEST(Dressing, TitlesWithDirectives) {
    struct Case {
        const char* title;
        const char* expected;
        int pixelSize; // -1: unchanged
    } cases[] = {
        {"Scan$$FNSZ:10", "Scan", 10},
        {"Scan$$", "Scan", -1},
        {"A$$FNSZ:x,ZZZ:1", "A", -1},
        {"Plain", "Plain", -1},
        {"$$", "", -1},
        {"$$$$", "", -1},
        {"B$$FNSZ:0", "B", -1},
        {"B$$FNSZ:-3", "B", -1},
        {"B$$FNSZ:200", "B", 72},
        {"B$$FNSZ:2", "B", 6},
        {"B$$ZZZ:1,FNSZ:12", "B", 12},
        {"B$$FNSZ", "B", -1},
    };
    for (const Case& c : cases) {
        QPushButton button;
        QFont font("DejaVu Sans");
        font.setPixelSize(13);
        button.setFont(font);
        button.setText(c.title);
        ResourcePeeker(&button);
        EXPECT_EQ(button.text(), QString(c.expected)) << c.title;
        EXPECT_EQ(button.font().pixelSize(), c.pixelSize < 0 ? 13 : c.pixelSize) << c.title;
        EXPECT_EQ(button.font().family(), font.family()) << c.title;
    }
}

TEST(Dressing, TabLabelsSetTheTabViewsFontAndSlidersStepByOne) {
    QTabWidget tabs;
    tabs.addTab(new QWidget, "Main$$FNSZ:11");
    tabs.addTab(new QWidget, "Other");
    ResourcePeeker(&tabs);
    EXPECT_EQ(tabs.tabText(0), "Main");
    EXPECT_EQ(tabs.tabText(1), "Other");
    EXPECT_EQ(tabs.font().pixelSize(), 11);

    QSlider slider;
    slider.setSingleStep(10);
    ResourcePeeker(&slider);
    EXPECT_EQ(slider.singleStep(), 1);
    EXPECT_EQ(slider.property(kAltIncrementProperty).toDouble(), 1.0);
}

TEST(DeepSubViews, ReadingOrderRowsWithinEightPoints) {
    QWidget root;
    auto* right = new QWidget(&root);
    right->setGeometry(100, 10, 20, 20);
    auto* left = new QWidget(&root);
    left->setGeometry(10, 18, 20, 20); // 8 below: same row, comes first by x
    auto* below = new QWidget(&root);
    below->setGeometry(0, 27, 20, 20); // 9 below the row's second: next row
    auto* top = new QWidget(&root);
    top->setGeometry(300, 0, 20, 20);
    auto* nested = new QWidget(left);
    nested->setGeometry(0, 0, 5, 5);
    const std::vector<QWidget*> expected{&root, top, left, nested, below, right};
    // top (y 0) and right (y 10) share a row too; left (18) is 8 below right.
    EXPECT_TRUE(ArrangeView(left, right));
    EXPECT_FALSE(ArrangeView(right, left));
    EXPECT_TRUE(ArrangeView(left, below));
    EXPECT_FALSE(ArrangeView(below, left));
    const auto deep = GetDeepSubViews(&root);
    ASSERT_EQ(deep.size(), 6u);
    EXPECT_EQ(deep.front(), &root);
    // Children come before their siblings further down.
    const auto at = [&](QWidget* w) { return std::find(deep.begin(), deep.end(), w) - deep.begin(); };
    EXPECT_EQ(at(nested), at(left) + 1);
    EXPECT_LT(at(left), at(below));
    EXPECT_EQ(GetDeepSubViews(nullptr).size(), 0u);
}

TEST(Slider, ValuesStayInTheCallersTermsInBothDirections) {
    for (const Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        FSlider slider;
        slider.setLayoutDirection(direction);
        slider.setRange(0, 100);
        slider.resize(228, 28);
        slider.setIntValue(30);
        EXPECT_EQ(slider.intValue(), 30);
        FSlider other;
        other.setLayoutDirection(direction == Qt::LeftToRight ? Qt::RightToLeft : Qt::LeftToRight);
        other.setRange(0, 100);
        other.resize(228, 28);
        other.setIntValue(70);
        EXPECT_EQ(slider.knobRect(), other.knobRect()) << direction;

        slider.setRange(-50, 50);
        slider.setDoubleValue(10);
        EXPECT_EQ(slider.doubleValue(), 10.0);
        slider.setDoubleValue(-2.5);
        EXPECT_EQ(slider.intValue(), -3); // halves away from zero
    }
}

TEST(Slider, KnobSizeStringAndArrowSteps) {
    FSlider slider;
    slider.setRange(0, 100);
    slider.resize(228, 40);
    slider.setIntValue(50);
    EXPECT_EQ(slider.knobRect(), QRect(100, 0, 28, 28));
    EXPECT_EQ(slider.height(), 28);
    EXPECT_EQ(slider.stringValue(), "50.000000");
    slider.setStringValue("12.5");
    EXPECT_EQ(slider.intValue(), 13);
    EXPECT_EQ(FSlider::cellSizeForBounds({100, 20}), QSize(100, 28));
    EXPECT_EQ(FSlider::cellSizeForBounds({10, 40}), QSize(28, 40));

    slider.setPageStep(10);
    slider.setIntValue(50);
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_EQ(slider.intValue(), 49);
    slider.setLayoutDirection(Qt::RightToLeft);
    QTest::keyClick(&slider, Qt::Key_Left); // mirrored: left raises the value
    EXPECT_EQ(slider.intValue(), 50);
}

void paste(QLineEdit& field, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    field.paste();
}

TEST(TextField, RefusedCharactersRefuseTheWholeEdit) {
    FTextField field;
    field.setValidCharsInString("0123456789");
    paste(field, "12a");
    EXPECT_EQ(field.text(), "");
    paste(field, "12");
    EXPECT_EQ(field.text(), "12");
    QTest::keyClicks(&field, "x3");
    EXPECT_EQ(field.text(), "123");

    FTextField names;
    names.setInvalidCharsInString("/:");
    QTest::keyClicks(&names, "a/b");
    EXPECT_EQ(names.text(), "ab");
}

TEST(TextField, LengthLimitCountsOnlyWithACharacterSet) {
    FTextField free;
    free.setValidLength(5);
    paste(free, "abcdefgh");
    EXPECT_EQ(free.text(), "abcdefgh");

    FTextField limited;
    limited.setValidCharsInString("abcdefgh");
    limited.setValidLength(5);
    limited.setText("abcd");
    EXPECT_TRUE(limited.shouldChangeText(3, 1, "ef"));
    limited.setSelection(3, 1);
    paste(limited, "ef");
    EXPECT_EQ(limited.text(), "abcef");
    QTest::keyClick(&limited, Qt::Key_A);
    EXPECT_EQ(limited.text(), "abcef");
}

TEST(TextField, RefusedInputMethodCommitIsDropped) {
    FTextField field;
    field.setValidCharsInString("0123456789");
    QInputMethodEvent bad;
    bad.setCommitString("4x");
    QApplication::sendEvent(&field, &bad);
    EXPECT_EQ(field.text(), "");
    QInputMethodEvent good;
    good.setCommitString("42");
    QApplication::sendEvent(&field, &good);
    EXPECT_EQ(field.text(), "42");
}

TEST(StaticTextField, LabelsFollowTheirControlsAtAnyDepth) {
    QWidget panel;
    auto* box = new QGroupBox(&panel);
    auto* tabs = new QTabWidget(box);
    auto* page = new QWidget;
    tabs->addTab(page, "p");
    auto* control = new QCheckBox(page);
    auto* deep = new FStaticTextField(page);
    deep->setRelatedControl(control);
    auto* lone = new FStaticTextField(&panel);
    lone->setEnabled(false);
    control->setEnabled(false);
    FStaticTextField::syncStaticTextInView(&panel);
    EXPECT_FALSE(deep->isEnabled());
    EXPECT_TRUE(lone->isEnabled()); // without a related control
    control->setEnabled(true);
    FStaticTextField::syncStaticTextInView(&panel);
    EXPECT_TRUE(deep->isEnabled());
    delete control;
    deep->setEnabled(false);
    deep->syncEnableState(); // a destroyed control counts as none
    EXPECT_TRUE(deep->isEnabled());
}

TEST(FormLoading, LocalisesThenDressesChildrenBeforeParents) {
    QWidget owner;
    Ui::KitTestForm form;
    std::vector<QWidget*> walked;
    const std::map<QString, QString> texts{
        {"BoxKey", "Box$$FNSZ:9"}, {"LabelKey", "Label$$"}, {"ScanKey", "Scan$$FNSZ:10"}};
    const auto localize = [&](QWidget* root) {
        for (QWidget* w : GetDeepSubViews(root)) {
            if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(texts.at(b->text()));
            if (auto* l = qobject_cast<QLabel*>(w)) l->setText(texts.at(l->text()));
            if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(texts.at(g->title()));
        }
    };
    LoadBundleForm(form, &owner, localize, [&](QWidget* w) {
        walked.push_back(w);
        ResourcePeeker(w);
    });
    // The owner's outlets are the kit's classes.
    EXPECT_NE(dynamic_cast<FSlider*>(form.slider), nullptr);
    EXPECT_NE(dynamic_cast<FTextField*>(form.field), nullptr);
    EXPECT_NE(dynamic_cast<FStaticTextField*>(form.label), nullptr);
    EXPECT_EQ(form.scan->text(), "Scan");
    EXPECT_EQ(form.scan->font().pixelSize(), 10);
    EXPECT_EQ(form.box->title(), "Box");
    EXPECT_EQ(form.label->text(), "Label");
    EXPECT_EQ(form.slider->singleStep(), 1);
    const auto at = [&](QWidget* w) { return std::find(walked.begin(), walked.end(), w) - walked.begin(); };
    EXPECT_LT(at(form.slider), at(form.box));
    EXPECT_LT(at(form.label), at(form.box));
    EXPECT_EQ(walked.back(), &owner);
}

TEST(FormLoading, FullKeyboardAccessNeedsADirectChildTakingTab) {
    QWidget view;
    EXPECT_FALSE(IsFullKeyboardAccessInView(&view));
    auto* box = new QWidget(&view);
    new QPushButton(box); // a grandchild does not count
    EXPECT_FALSE(IsFullKeyboardAccessInView(&view));
    new QLineEdit(&view);
    EXPECT_TRUE(IsFullKeyboardAccessInView(&view));
    EXPECT_FALSE(IsFullKeyboardAccessInView(nullptr));
}

// Runs the body with the application in the given direction, restoring it.
template <class Body>
void withDirection(Qt::LayoutDirection direction, Body body) {
    const Qt::LayoutDirection saved = QGuiApplication::layoutDirection();
    QGuiApplication::setLayoutDirection(direction);
    body();
    QGuiApplication::setLayoutDirection(saved);
}

TEST(RightToLeft, FramesOutsideLayoutsMoveAndQtMirrorsTheRest) {
    withDirection(Qt::RightToLeft, [] {
        EXPECT_FALSE(KdUIUtility::isLTR_LayoutDirection());
        QWidget root;
        root.setLayoutDirection(Qt::LeftToRight);
        root.resize(300, 200);
        auto* placed = new QWidget(&root);
        placed->setGeometry(10, 5, 100, 20);
        auto* check = new QCheckBox("Duplex", &root);
        check->setGeometry(0, 40, 120, 20);
        auto* ticks = new QSlider(Qt::Vertical, &root);
        ticks->setTickPosition(QSlider::TicksLeft);
        auto* table = new QTableView(&root);
        table->setGeometry(0, 80, 300, 100);
        QStandardItemModel model(1, 3);
        model.setHorizontalHeaderLabels({"A", "B", "C"});
        table->setModel(&model);
        auto* row = new QWidget(&root);
        auto* rowLayout = new QHBoxLayout(row);
        auto* inLayout = new QWidget(row);
        rowLayout->addWidget(inLayout);

        KdUIUtility::layoutLeftToRight(&root);
        EXPECT_EQ(placed->geometry(), QRect(190, 5, 100, 20));
        EXPECT_EQ(check->geometry().x(), 180);
        EXPECT_EQ(check->layoutDirection(), Qt::RightToLeft);
        EXPECT_EQ(ticks->tickPosition(), QSlider::TicksRight);
        // The table reads C, B, A from the left.
        QHeaderView* header = table->horizontalHeader();
        EXPECT_GT(header->sectionViewportPosition(0), header->sectionViewportPosition(1));
        EXPECT_GT(header->sectionViewportPosition(1), header->sectionViewportPosition(2));
        EXPECT_EQ(inLayout->layoutDirection(), Qt::RightToLeft);
    });
}

TEST(RightToLeft, DirectionOfTheUsersFirstLanguage) {
    struct Case {
        std::vector<std::string> languages;
        Qt::LayoutDirection expected;
    } cases[] = {
        {{"ar"}, Qt::RightToLeft},        {{"he-IL", "en"}, Qt::RightToLeft}, {{"fa_IR"}, Qt::RightToLeft},
        {{"ur"}, Qt::RightToLeft},        {{"en", "ar"}, Qt::LeftToRight},    {{"arn"}, Qt::LeftToRight},
        {{}, Qt::LeftToRight},            {{""}, Qt::LeftToRight},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KdUIUtility::directionForLanguages(c.languages), c.expected)
            << (c.languages.empty() ? "" : c.languages.front());
    }
}

TEST(RightToLeft, NothingChangesLeftToRight) {
    withDirection(Qt::LeftToRight, [] {
        QWidget root;
        root.resize(300, 200);
        auto* placed = new QWidget(&root);
        placed->setGeometry(10, 5, 100, 20);
        auto* ticks = new QSlider(Qt::Vertical, &root);
        ticks->setTickPosition(QSlider::TicksLeft);
        KdUIUtility::layoutLeftToRight(&root);
        EXPECT_EQ(placed->geometry(), QRect(10, 5, 100, 20));
        EXPECT_EQ(ticks->tickPosition(), QSlider::TicksLeft);
        EXPECT_EQ(placed->layoutDirection(), Qt::LeftToRight);
    });
}

QPixmap filled(QColor color) {
    QPixmap pixmap(10, 10);
    pixmap.fill(color);
    return pixmap;
}

// A shown, active window with two roll-over buttons side by side and a
// plain one, the mouse placed by the test.
struct RollOverWindow {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    FRollOverButton* first = new FRollOverButton(window.get());
    FRollOverButton* second = new FRollOverButton(window.get());
    QPushButton* plain = new QPushButton(window.get());

    RollOverWindow() {
        window->resize(300, 100);
        first->setGeometry(0, 0, 50, 50);
        second->setGeometry(100, 0, 50, 50);
        plain->setGeometry(200, 0, 50, 50);
        first->setRollOverEnabled(true);
        second->setRollOverEnabled(true);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void mouseAt(QWidget* widget) { QCursor::setPos(widget->mapToGlobal(QPoint(25, 25))); }
};

TEST(RollOver, OneButtonAtATimeAndOnlyInTheKeyWindow) {
    RollOverWindow w;
    FRollOverInitiator initiator;
    w.mouseAt(w.first);
    initiator.startWithWindow(w.window.get()); // polls at once
    EXPECT_TRUE(initiator.isPolling());
    EXPECT_TRUE(w.first->isRollOver());
    EXPECT_EQ(initiator.currentRollOverButton(), w.first);

    w.mouseAt(w.second);
    initiator.testRollOverControls();
    EXPECT_FALSE(w.first->isRollOver());
    EXPECT_TRUE(w.second->isRollOver());

    w.mouseAt(w.plain); // not a roll-over button
    initiator.testRollOverControls();
    EXPECT_FALSE(w.second->isRollOver());
    EXPECT_EQ(initiator.currentRollOverButton(), nullptr);

    w.second->setEnabled(false);
    w.mouseAt(w.second);
    initiator.testRollOverControls();
    EXPECT_FALSE(w.second->isRollOver());
    w.first->setRollOverEnabled(false);
    w.mouseAt(w.first);
    initiator.testRollOverControls();
    EXPECT_FALSE(w.first->isRollOver());

    w.first->setRollOverEnabled(true);
    initiator.testRollOverControls();
    EXPECT_TRUE(w.first->isRollOver());
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    initiator.testRollOverControls(); // the window is no longer key
    EXPECT_FALSE(w.first->isRollOver());
}

TEST(RollOver, PollingStopsWhenTheWindowGoes) {
    auto w = std::make_unique<RollOverWindow>();
    FRollOverInitiator initiator;
    w->mouseAt(w->first);
    initiator.startWithWindow(w->window.get());
    ASSERT_EQ(initiator.currentRollOverButton(), w->first);
    w.reset();
    initiator.testRollOverControls();
    EXPECT_FALSE(initiator.isPolling());
    EXPECT_EQ(initiator.currentRollOverButton(), nullptr);
}

TEST(RollOver, StateIndexImagesAndTitle) {
    RollOverWindow w;
    FRollOverButton& button = *w.first;
    button.setFocusPolicy(Qt::NoFocus);
    button.clearFocus();
    const QPixmap red = filled(Qt::red), blue = filled(Qt::blue);
    const QPoint centre(25, 25), edge(1, 25);
    button.setButtonImages({red, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    const QImage resting = button.grab().toImage();
    EXPECT_EQ(button.stateIndex(), FRollOverButton::Normal);
    EXPECT_EQ(resting.pixelColor(centre), QColor(Qt::red));

    // No image at index 1: the roll-over background and the normal image.
    button.setRollOver(true);
    EXPECT_EQ(button.stateIndex(), FRollOverButton::RolledOver);
    const QImage rolled = button.grab().toImage();
    EXPECT_EQ(rolled.pixelColor(centre), QColor(Qt::red));
    EXPECT_NE(rolled.pixelColor(edge), resting.pixelColor(edge));

    button.setButtonImages({red, blue, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    EXPECT_EQ(button.grab().toImage().pixelColor(centre), QColor(Qt::blue));

    // A checked push-on push-off button draws the on background and its
    // normal image, whatever its state images are.
    button.setCheckable(true);
    button.setChecked(true);
    EXPECT_TRUE(button.isOn());
    EXPECT_EQ(button.grab().toImage().pixelColor(centre), QColor(Qt::red));

    button.setEnabled(false);
    EXPECT_EQ(button.stateIndex(), FRollOverButton::Disabled);
    EXPECT_FALSE(button.isOn());
    button.setEnabled(true);

    button.setText("Go");
    const QRectF resting_title = button.titleRect();
    button.setDown(true);
    EXPECT_EQ(button.stateIndex(), FRollOverButton::Pressed);
    EXPECT_EQ(button.titleRect(), resting_title.translated(1.0, 1.0));
}

TEST(RollOver, RoundingPath) {
    const QRectF rect(2, 3, 40, 20);
    const QPainterPath square = FRollOverButton::bezierPathWithRoundingRect(rect, -2.0);
    EXPECT_EQ(square.boundingRect(), rect);
    EXPECT_TRUE(square.contains(QPointF(2.2, 3.2))); // square corner
    const QPainterPath round = FRollOverButton::bezierPathWithRoundingRect(rect, 6.0);
    EXPECT_EQ(round.boundingRect(), rect);
    EXPECT_FALSE(round.contains(QPointF(2.5, 3.5)));
    EXPECT_TRUE(round.contains(QPointF(22, 13)));
}

// A window with a 200-point-high scroll area over a 1000-point list whose
// fields stand at y 10 and y 600.
struct ScrollWindow {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QScrollArea* scroll = new QScrollArea(window.get());
    KFScrollableView* view = new KFScrollableView;
    QLineEdit* top = new QLineEdit(view);
    QLineEdit* below = new QLineEdit(view);

    ScrollWindow() {
        window->resize(300, 300);
        scroll->setGeometry(20, 20, 220, 200);
        view->resize(200, 1000);
        top->setGeometry(0, 10, 100, 20);
        below->setGeometry(0, 600, 100, 20);
        scroll->setWidget(view);
        view->setup();
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    ~ScrollWindow() { view->terminateView(); }
};

TEST(ScrollableView, TabScrollsTheControlInWithAMargin) {
    kdf::TestClock clock;
    kdf::RunLoop& loop = kdf::RunLoop::main();
    ScrollWindow w;
    ASSERT_NE(w.view->focusRingView(), nullptr);
    EXPECT_EQ(w.scroll->parentWidget(), w.view->focusRingView());
    EXPECT_EQ(w.view->focusRingView()->geometry(), QRect(14, 14, 232, 212));
    w.top->setFocus();
    clock.advance(kdf::Seconds(0.2));
    loop.fireDue();
    QScrollBar* bar = w.scroll->verticalScrollBar();
    EXPECT_EQ(bar->value(), 0);
    QTest::keyClick(w.top, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), w.below);
    clock.advance(kdf::Seconds(0.05));
    loop.fireDue();
    EXPECT_EQ(bar->value(), 0); // not yet
    clock.advance(kdf::Seconds(0.06));
    loop.fireDue();
    const int viewport = w.scroll->viewport()->height();
    EXPECT_EQ(bar->value(), 600 + 20 + KFScrollableView::kFocusMargin - viewport);
    // Back to the top: the margin above, clipped at the start.
    QTest::keyClick(w.below, Qt::Key_Backtab);
    clock.advance(kdf::Seconds(0.11));
    loop.fireDue();
    EXPECT_EQ(bar->value(), 0);
}

TEST(ScrollableView, ArrowKeysScrollOnlyWhileTheViewHasFocus) {
    ScrollWindow w;
    QScrollBar* bar = w.scroll->verticalScrollBar();
    w.top->setFocus();
    QTest::keyClick(w.top, Qt::Key_Down);
    EXPECT_EQ(bar->value(), 0);
    w.view->setFocus();
    ASSERT_TRUE(w.view->hasFocus());
    QTest::keyClick(w.view, Qt::Key_Down);
    EXPECT_EQ(bar->value(), bar->singleStep());
    QTest::keyClick(w.view, Qt::Key_Up);
    EXPECT_EQ(bar->value(), 0);
}

TEST(ScrollableView, TheSharedFilterGoesWithTheLastView) {
    EXPECT_FALSE(KFScrollableView::isFocusFilterInstalled());
    {
        ScrollWindow first;
        ScrollWindow second;
        EXPECT_TRUE(KFScrollableView::isFocusFilterInstalled());
        first.view->terminateView();
        EXPECT_TRUE(KFScrollableView::isFocusFilterInstalled());
        second.view->terminateView();
        EXPECT_FALSE(KFScrollableView::isFocusFilterInstalled());
    }
    EXPECT_FALSE(KFScrollableView::isFocusFilterInstalled());
}

TEST(PatternView, TilesAlignWithTheWindow) {
    QWidget window;
    window.resize(40, 20);
    QPixmap tile(2, 1);
    tile.fill(Qt::black);
    {
        QPainter painter(&tile);
        painter.fillRect(1, 0, 1, 1, Qt::red);
    }
    auto* left = new FPatternView(&window);
    left->setGeometry(0, 0, 10, 10);
    auto* right = new FPatternView(&window);
    right->setGeometry(11, 0, 10, 10); // an odd offset
    left->setPatternImage(tile);
    right->setPatternImage(tile);
    const QImage l = left->grab().toImage(), r = right->grab().toImage();
    EXPECT_EQ(l.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(r.pixelColor(0, 0), QColor(Qt::red)); // window x 11 is odd
    auto* plain = new FPatternView(&window);
    plain->resize(4, 4);
    EXPECT_EQ(plain->grab().toImage().pixelColor(1, 1), QColor(Qt::white));
    plain->setColor(Qt::blue);
    EXPECT_EQ(plain->grab().toImage().pixelColor(1, 1), QColor(Qt::blue));
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
