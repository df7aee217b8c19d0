// Screenshot scenes of the kit's controls as real widgets: every button look
// in its states, the segmented control, the fields, labels and title bands.
#include "SceneWindow.h"

#include "TvButtons.h"
#include "TvTextFields.h"
#include "TvUI.h"

#include <ui/Screenshots.h>

#include <QComboBox>
#include <QPalette>
#include <QSlider>

#include <functional>
#include <memory>
#include <vector>

namespace {

enum class Look { Normal, Down, Disabled, On, RollOver };

struct Row {
    const char* title;
    QSize size;
    std::function<std::unique_ptr<TvButtonCell>()> cell;
};

// One row per look, one column per state: normal, pressed, disabled, on
// (checked), roll-over.
QWidget* buttonsWindow() {
    const std::vector<Row> rows{
        {"Scan", {110, 36}, [] { return std::make_unique<TvColoredPushButtonCell>(0); }},
        {"Scan", {110, 36}, [] { return std::make_unique<TvColoredPushButtonCell>(1); }},
        {"Scan", {110, 36}, [] { return std::make_unique<TvColoredPushButtonCell>(2); }},
        {"Add output", {130, 36}, [] { return std::make_unique<TvColoredPushButtonCell>(3, 16); }},
        {"Next", {110, 29}, [] { return std::make_unique<TvArrowButtonCell>(); }},
        {"Create", {130, 29}, [] { return std::make_unique<TvMenuButtonCell>(); }},
        {"", {28, 28}, [] { return std::make_unique<TvRoundedButtonCell>(); }},
        {"", {28, 28}, [] { return std::make_unique<TvImageButtonCell>(2); }},
        {"", {28, 28}, [] { return std::make_unique<TvImageButtonCell>(4); }},
        {"Details", {150, 24}, [] { return std::make_unique<TvTriangleButtonCell>(); }},
    };
    const Look looks[] = {Look::Normal, Look::Down, Look::Disabled, Look::On, Look::RollOver};
    int y = 10;
    QWidget* window = sceneWindow(QSize(10 + 5 * 160, 10 + int(rows.size()) * 46));
    for (const Row& row : rows) {
        int x = 10;
        for (Look look : looks) {
            auto* button = new TvButton(window);
            button->setText(QString::fromLatin1(row.title));
            button->setGeometry(x, y, row.size.width(), row.size.height());
            button->setCheckable(look == Look::On);
            button->setChecked(look == Look::On);
            button->setCell(row.cell());
            button->setEnabled(look != Look::Disabled);
            button->setDown(look == Look::Down);
            button->setIsRollOverState(look == Look::RollOver);
            x += 160;
        }
        y += 46;
    }
    return window;
}

KD_SCREENSHOT_SCENE(controlButtons, "controls/buttons", kdui::Direction::Both) { return {buttonsWindow()}; }

KD_SCREENSHOT_SCENE(controlSegmented, "controls/segmented-control", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(280, 100));
    for (int r = 0; r < 2; ++r) {
        auto* control = new TvSegmentedControl(window);
        control->setSegmentCount(3);
        const char* titles[3] = {"Front", "Back", "Both"};
        for (int i = 0; i < 3; ++i) {
            control->setLabel(QString::fromLatin1(titles[i]), i);
            control->setWidth(80, i);
        }
        control->setSelectedSegment(r == 0 ? 1 : 0);
        if (r == 1) control->setEnabled(false, 2);
        control->setGeometry(10, 10 + r * 45, 240, 31);
    }
    return {window};
}

KD_SCREENSHOT_SCENE(controlFields, "controls/fields", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(420, 300));
    auto* enabledLabel = new TvStaticTextField(window);
    enabledLabel->setText(QStringLiteral("Resolution:"));
    enabledLabel->setGeometry(10, 12, 120, 20);
    auto* field = new TV_FTextField(window);
    field->setText(QStringLiteral("300"));
    field->setGeometry(140, 10, 120, 24);
    enabledLabel->setRelatedObject(field);

    auto* disabledLabel = new TvStaticTextField(window);
    disabledLabel->setText(QStringLiteral("Brightness:"));
    disabledLabel->setGeometry(10, 46, 120, 20);
    auto* slider = new QSlider(Qt::Horizontal, window);
    slider->setGeometry(140, 44, 120, 24);
    slider->setEnabled(false);
    disabledLabel->setRelatedObject(slider);

    auto* combo = new TV_FComboBox(window);
    combo->addItems({QStringLiteral("Scan"), QStringLiteral("Scan 2")});
    combo->setGeometry(140, 78, 160, 26);

    auto* framed = new TvTextField(window);
    framed->setText(QStringLiteral("Panel title"));
    framed->setFrameColor(QColor(0x80, 0x80, 0x80));
    framed->setGeometry(140, 114, 160, 22);

    auto* title = new TvTitleTextField(window);
    title->setText(QStringLiteral("Image settings"));
    title->setGeometry(10, 150, 400, 28);
    auto* rounded = new TvTitleTextField(window);
    rounded->setText(QStringLiteral("Paper"));
    rounded->setIsRounded(true);
    rounded->setGeometry(10, 188, 400, 28);

    auto* link = new TvOpenLinkTextField(window);
    link->setText(QStringLiteral("Open the folder"));
    link->setGeometry(10, 230, 200, 20);

    // No field takes the focus: a blinking cursor would make the pictures differ.
    for (QWidget* w : std::vector<QWidget*>{field, combo, combo->lineEdit(), framed}) w->setFocusPolicy(Qt::NoFocus);
    TvStaticTextField::syncStaticTextInView(window);
    return {window};
}

} // namespace
