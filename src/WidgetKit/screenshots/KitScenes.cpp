// Screenshot scenes of the drawing kit, the background views and the
// spinner: every draw function in its states, side by side.
#include "TvAnimationImageView.h"
#include "TvBackgroundViews.h"
#include "TvUI.h"

#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"

#include <ui/Screenshots.h>

#include <QLabel>
#include <QPushButton>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace TvUI;

struct State {
    const char* name;
    std::uint32_t flags;
};

const std::vector<State> kButtonStates{
    {"normal", 0}, {"pressed", kFlagHighlighted}, {"disabled", kFlagDisabled}, {"focused", kFlagFocused}};

// One row of cells, each a control drawn in one state, on the window's
// background with 10 pixels between them.
QWidget* row(QSize cell, const std::vector<std::uint32_t>& flags,
             std::function<void(QPainter&, const QRectF&, std::uint32_t)> draw) {
    const int n = int(flags.size());
    return new kdui::PaintedWidget(QSize(10 + n * (cell.width() + 10), cell.height() + 20),
                                   [=](QPainter& p, const QRect& all) {
                                       p.fillRect(all, QColor(0xF0, 0xF0, 0xF0));
                                       for (int i = 0; i < n; ++i)
                                           draw(p, QRectF(10 + i * (cell.width() + 10), 10, cell.width(), cell.height()),
                                                flags[std::size_t(i)]);
                                   });
}

std::vector<std::uint32_t> withStyle(std::uint32_t extra) {
    std::vector<std::uint32_t> out;
    for (const State& s : kButtonStates) out.push_back(s.flags | extra);
    return out;
}

#define KD_PUSH_SCENE(style)                                                                                 \
    KD_SCREENSHOT_SCENE(pushButtonStyle##style, "kit/push-button-style" #style, kdui::Direction::Both) {     \
        return {row(QSize(110, 36), withStyle(styleFlags(style)), [](QPainter& p, const QRectF& r, std::uint32_t f) { \
            drawColoredPushButtonWithFrame(p, r, QStringLiteral("Scan"), f);                                  \
        })};                                                                                                 \
    }
KD_PUSH_SCENE(0)
KD_PUSH_SCENE(1)
KD_PUSH_SCENE(2)
KD_PUSH_SCENE(3)
#undef KD_PUSH_SCENE

KD_SCREENSHOT_SCENE(pushButtonImage, "kit/push-button-image", kdui::Direction::Both) {
    return {row(QSize(130, 36), withStyle(styleFlags(1) | buttonImageFlags(16)),
                [](QPainter& p, const QRectF& r, std::uint32_t f) {
                    drawColoredPushButtonWithFrame(p, r, QStringLiteral("Add output"), f);
                })};
}

KD_SCREENSHOT_SCENE(arrowButton, "kit/arrow-button", kdui::Direction::Both) {
    return {row(QSize(110, 29), withStyle(0), [](QPainter& p, const QRectF& r, std::uint32_t f) {
        drawArrowButtonWithFrame(p, r, QStringLiteral("Next"), f);
    })};
}

KD_SCREENSHOT_SCENE(menuButton, "kit/menu-button", kdui::Direction::Both) {
    return {row(QSize(130, 29), withStyle(0), [](QPainter& p, const QRectF& r, std::uint32_t f) {
        drawMenuButtonWithFrame(p, r, QStringLiteral("Create"), f);
    })};
}

KD_SCREENSHOT_SCENE(roundedButton, "kit/rounded-button", kdui::Direction::LeftToRight) {
    return {row(QSize(28, 28), withStyle(0), [](QPainter& p, const QRectF& r, std::uint32_t f) {
        drawRoundedButtonWithFrame(p, r, f);
    })};
}

KD_SCREENSHOT_SCENE(triangleButton, "kit/triangle-button", kdui::Direction::Both) {
    return {row(QSize(150, 24), {0, kFlagDisabled, kFlagFocused}, [](QPainter& p, const QRectF& r, std::uint32_t f) {
        drawTriangleButtonWithFrame(p, r, QStringLiteral("Details"), f);
    })};
}

KD_SCREENSHOT_SCENE(previewButton, "kit/preview-button", kdui::Direction::LeftToRight) {
    const QImage page = imagePartsAtTag(12).frames.empty() ? QImage() : imagePartsAtTag(12).frames.front();
    return {row(QSize(60, 80), {0, kFlagOn, kFlagFocused}, [page](QPainter& p, const QRectF& r, std::uint32_t f) {
        drawPreviewButtonWithFrame(p, r, page, f);
    })};
}

// Every image-button row in its slotFlags: normal, on, disabled, disabled on,
// roll-over, roll-over on, pressed.
KD_SCREENSHOT_SCENE(imageButtons, "kit/image-buttons", kdui::Direction::Both) {
    const std::vector<std::uint32_t> slotFlags{0, kFlagOn, kFlagDisabled, kFlagDisabled | kFlagOn, kFlagRollOver,
                                           kFlagRollOver | kFlagOn, kFlagHighlighted, kFlagFocused};
    return {new kdui::PaintedWidget(QSize(10 + int(slotFlags.size()) * 34, 10 + kButtonImageRows * 34),
                                    [slotFlags](QPainter& p, const QRect& all) {
                                        p.fillRect(all, Qt::white);
                                        for (int r = 0; r < kButtonImageRows; ++r)
                                            for (std::size_t s = 0; s < slotFlags.size(); ++s)
                                                drawImageButtonWithFrame(
                                                    p, QRectF(10 + double(s) * 34, 10 + r * 34, 28, 28),
                                                    slotFlags[s] | styleFlags(r));
                                    })};
}

KD_SCREENSHOT_SCENE(sliders, "kit/slider", kdui::Direction::LeftToRight) {
    const std::vector<std::uint32_t> states{0, kFlagHighlighted, kFlagDisabled, kFlagFocused};
    return {new kdui::PaintedWidget(QSize(10 + 4 * 130, 90), [states](QPainter& p, const QRect& all) {
        for (int style = 0; style < 2; ++style) {
            p.fillRect(QRect(0, style * 45, all.width(), 45), style ? QColor(0x3E, 0x3E, 0x3E) : Qt::white);
            for (std::size_t i = 0; i < states.size(); ++i) {
                const QRectF cell(10 + double(i) * 130, 5 + style * 45, 120, 35);
                const std::uint32_t f = states[i] | styleFlags(style);
                drawSliderBarWithFrame(p, cell, f);
                drawSliderKnobWithFrame(p, QRectF(cell.center().x() - 10, cell.center().y() - 10, 20, 20), f);
            }
        }
    })};
}

KD_SCREENSHOT_SCENE(segments, "kit/segments", kdui::Direction::Both) {
    return {new kdui::PaintedWidget(QSize(20 + 3 * 80, 2 * 40 + 10), [](QPainter& p, const QRect& all) {
        p.fillRect(all, QColor(0xF0, 0xF0, 0xF0));
        const std::uint32_t ends[3] = {kFlagFirstSegment, 0, kFlagLastSegment};
        const char* titles[3] = {"Front", "Back", "Both"};
        // The first segment sits at the leading edge.
        const bool ltr = QlrUtilsMethod::isLTR_LayoutDirection();
        for (int i = 0; i < 3; ++i) {
            const double x = 10 + (ltr ? i : 2 - i) * 80;
            drawSegmentWithFrame(p, QRectF(x, 10, 80, 24), QString::fromLatin1(titles[i]),
                                 ends[i] | (i == 1 ? kFlagOn : 0u));
            drawSegmentWithFrame(p, QRectF(x, 50, 80, 24), QString::fromLatin1(titles[i]),
                                 ends[i] | (i == 0 ? kFlagFocused : kFlagDisabled));
        }
    })};
}

KD_SCREENSHOT_SCENE(scrollers, "kit/scroller", kdui::Direction::LeftToRight) {
    return {new kdui::PaintedWidget(QSize(10 + 3 * 24, 130), [](QPainter& p, const QRect& all) {
        p.fillRect(all, QColor(0xC0, 0xC0, 0xC0));
        for (int style = 0; style < 3; ++style) {
            const QRectF slot(10 + style * 24, 10, 14, 110);
            drawScrollerWithFrame(p, slot, false, styleFlags(style));
            drawScrollerWithFrame(p, QRectF(slot.left() + 2, 30 + style * 20, 10, 40), true, styleFlags(style));
        }
    })};
}

KD_SCREENSHOT_SCENE(settingTitle, "kit/setting-title", kdui::Direction::Both) {
    return {new kdui::PaintedWidget(QSize(220, 70), [](QPainter& p, const QRect& all) {
        p.fillRect(all, Qt::white);
        drawSettingTitleWithFrame(p, QRectF(10, 10, 200, 22), QStringLiteral("Scan settings"), true);
        drawSettingTitleWithFrame(p, QRectF(10, 40, 200, 22), QStringLiteral("File settings"), false);
    })};
}

KD_SCREENSHOT_SCENE(contentViews, "kit/alert-and-panel-content", kdui::Direction::LeftToRight) {
    return {new kdui::PaintedWidget(QSize(230, 120), [](QPainter& p, const QRect& all) {
        p.fillRect(all, QColor(0xF0, 0xF0, 0xF0));
        drawAlertContentView(p, QRectF(10, 10, 100, 100));
        drawPanelContentView(p, QRectF(120, 10, 100, 100));
    })};
}

// Background types 0 to 12 and the settings grid's row (13), as the views
// that paint them.
template <typename View>
std::vector<QWidget*> background(QSize size) {
    auto* window = new QWidget;
    window->setFixedSize(size + QSize(20, 20));
    window->setStyleSheet(QStringLiteral("background: #808080"));
    auto* view = new View(window);
    view->setGeometry(10, 10, size.width(), size.height());
    return {window};
}

#define KD_BACKGROUND_SCENE(type, View, w, h)                                                                \
    KD_SCREENSHOT_SCENE(background##type, "kit/background-" #type "-" #View, kdui::Direction::Both) {       \
        return background<View>(QSize(w, h));                                                                \
    }
KD_BACKGROUND_SCENE(00, Top_HeaderView, 200, 40)
KD_BACKGROUND_SCENE(01, Top_StepHeaderView, 200, 40)
KD_BACKGROUND_SCENE(02, Top_FavoritHeaderView, 200, 40)
KD_BACKGROUND_SCENE(03, Top_StepScan_BaseView, 200, 80)
KD_BACKGROUND_SCENE(04, Top_FavoritScan_BaseView, 200, 80)
KD_BACKGROUND_SCENE(05, Scan_HeaderView, 200, 40)
KD_BACKGROUND_SCENE(06, Scan_SeparateView, 200, 20)
KD_BACKGROUND_SCENE(07, Scan_ImageProc_HeaderView, 200, 40)
KD_BACKGROUND_SCENE(08, Scan_ImageProc_BaseView, 200, 80)
KD_BACKGROUND_SCENE(09, Scan_InfoView, 200, 40)
KD_BACKGROUND_SCENE(10, EditImage_ShrinkView, 200, 40)
KD_BACKGROUND_SCENE(11, EditImage_Header_BackView, 200, 40)
KD_BACKGROUND_SCENE(12, EditImage_ContentView, 200, 80)
#undef KD_BACKGROUND_SCENE

KD_SCREENSHOT_SCENE(settingGrid, "kit/background-13-TvSettingGridView", kdui::Direction::Both) {
    auto* window = new QWidget;
    window->setFixedSize(320, 100);
    auto* grid = new TvSettingGridView(window);
    grid->setGeometry(10, 10, 300, 30);
    auto* label = new QLabel(QStringLiteral("Remove blank pages from the scanned batch before saving"), grid);
    label->setGeometry(8, 4, 140, 20);
    auto* button = new QPushButton(QStringLiteral("On"), grid);
    button->setGeometry(200, 4, 80, 22);
    grid->performLayout();
    // Mirrored as the application mirrors its windows after loading them.
    QlrUtilsMethod::layoutLeftToRight(window);
    return {window};
}

std::vector<QWidget*> spinnerFrame(int frame) {
    setupSpinnerImage();
    auto* window = new QWidget;
    window->setFixedSize(52, 52);
    auto* view = new TvAnimationImageView(window);
    view->setGeometry(10, 10, 32, 32);
    view->setImage(imagePartsAtTag(0));
    for (int i = 0; i < frame; ++i) view->incrementCurrentFrame();
    return {window};
}

KD_SCREENSHOT_SCENE(spinner0, "kit/spinner-frame0", kdui::Direction::LeftToRight) {
    return spinnerFrame(0);
}
KD_SCREENSHOT_SCENE(spinner6, "kit/spinner-frame6", kdui::Direction::LeftToRight) {
    return spinnerFrame(6);
}

} // namespace
