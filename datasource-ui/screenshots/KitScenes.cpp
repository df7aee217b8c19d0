// Pictures of the settings window's own kit: roll-over button states,
// sliders, fields and labels enabled and disabled.
#include "KdSettingsController.h"
#include "RollOver.h"
#include "SettingsWindowScenes.h"
#include "Slider.h"
#include "TextFields.h"

#include <ui/Screenshots.h>

#include <QCheckBox>
#include <QPainter>

namespace {

using namespace ComTavrolekKD720;

QPixmap glyph(QColor colour) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(3, 3, 18, 18));
    return pixmap;
}

} // namespace

KD_SCREENSHOT_SCENE(dsRollOverButtons, "ds-kit/roll-over-buttons", kdui::Direction::Both) {
    auto* window = new QWidget;
    window->resize(5 * 60 + 10, 60);
    const FRollOverButton::Images images{glyph(Qt::darkGray), std::nullopt, std::nullopt,
                                         std::nullopt,        glyph(Qt::lightGray), std::nullopt};
    // Resting, rolled over, pressed, on, disabled.
    for (int i = 0; i < 5; ++i) {
        auto* button = new FRollOverButton(window);
        button->setGeometry(10 + 60 * i, 10, 50, 40);
        button->setFocusPolicy(Qt::NoFocus);
        button->setButtonImages(images);
        button->setRollOverEnabled(true);
        if (i == 1) button->setRollOver(true);
        if (i == 2) button->setDown(true);
        if (i == 3) {
            button->setCheckable(true);
            button->setChecked(true);
        }
        if (i == 4) button->setEnabled(false);
    }
    return {window};
}

// The window's own image buttons with the bundle's images: a row per
// button kind, each resting, rolled over, pressed and disabled.
KD_SCREENSHOT_SCENE(dsBundleImageButtons, "ds-kit/bundle-image-buttons", kdui::Direction::Both) {
    useBuiltWindowBundle();
    struct Kind {
        const char* base;
        bool sixForms;
        const char* title;
    };
    const Kind kinds[] = {{"TPL_ZoomIn", false, ""},      {"TPL_ZoomOut", false, ""}, {"TPL_DragSwitch", false, ""},
                          {"TPL_GloveSwitch", false, ""}, {"TPL_Info", false, ""},    {"TPL_Help", false, ""},
                          {"SPL_Scan", true, "Scan"},     {"DTL_Scan", true, "Scan"}, {"SPN_Scan", true, "Scan"}};
    static constexpr const char* kSix[] = {"_N", "_S", "_NF", "_SF", "_G", "_C"};
    auto* window = new QWidget;
    window->resize(4 * 160 + 10, 4 * 40 + 10);
    int row = 0, column = 0;
    for (const Kind& kind : kinds) {
        FRollOverButton::Images images;
        for (std::size_t i = 0; i < images.size(); ++i)
            if (kind.sixForms || i == FRollOverButton::Normal || i == FRollOverButton::Disabled)
                images[i] = ComTavrolekKD720::KdUIController::bundleImage(std::string(kind.base) + kSix[i] + ".tiff");
        // The six tool images share one row; each scan button has its own.
        const bool tool = !kind.sixForms;
        for (int state = 0; state < 4; ++state) {
            auto* button = new FRollOverButton(window);
            button->setText(kind.title);
            button->setFocusPolicy(Qt::NoFocus);
            button->setButtonImages(images);
            button->setRollOverEnabled(true);
            if (state == 1) button->setRollOver(true);
            if (state == 2) button->setDown(true);
            if (state == 3) button->setEnabled(false);
            const QSize size = button->sizeHint();
            const int x = 10 + 160 * state + (tool ? 26 * column : 0);
            button->setGeometry(x, 10 + 40 * row, size.width(), size.height());
        }
        if (tool) {
            if (++column == 6) {
                column = 0;
                ++row;
            }
        } else {
            ++row;
        }
    }
    return {window};
}

KD_SCREENSHOT_SCENE(dsSliders, "ds-kit/sliders", kdui::Direction::Both) {
    auto* window = new QWidget;
    window->resize(250, 110);
    for (int i = 0; i < 3; ++i) {
        auto* slider = new FSlider(window);
        slider->setGeometry(10, 8 + 34 * i, 228, 28);
        slider->setRange(i == 2 ? -50 : 0, i == 2 ? 50 : 100);
        slider->setIntValue(i == 0 ? 30 : 10);
        slider->setEnabled(i != 1);
    }
    return {window};
}

KD_SCREENSHOT_SCENE(dsFieldsAndLabels, "ds-kit/fields-and-labels", kdui::Direction::Both) {
    auto* window = new QWidget;
    window->resize(280, 80);
    for (int i = 0; i < 2; ++i) {
        auto* control = new QCheckBox("Custom", window);
        control->setGeometry(10, 10 + 34 * i, 80, 24);
        auto* label = new FStaticTextField(window);
        label->setText("Width");
        label->setGeometry(100, 10 + 34 * i, 60, 24);
        label->setRelatedControl(control);
        auto* field = new FTextField(window);
        field->setValidCharsInString("0123456789.");
        field->setValidLength(6);
        field->setText("210.0");
        field->setGeometry(170, 10 + 34 * i, 90, 24);
        control->setEnabled(i == 0);
        field->setEnabled(i == 0);
    }
    FStaticTextField::syncStaticTextInView(window);
    return {window};
}
