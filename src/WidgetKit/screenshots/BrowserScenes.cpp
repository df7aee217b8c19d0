// Screenshot scenes of the image-browser base view, the sliders and the thin
// scrollers.
#include "SceneWindow.h"

#include "QlrUtilsMethodUI.h"
#include "TvBackgroundViews.h"
#include "TvIBView.h"
#include "TvSlider.h"

#include <ui/Screenshots.h>

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollArea>

#include <vector>

namespace {

// Pictures of several shapes, and one item without a picture (its cell
// shows the placeholder).
class SceneItems : public kdui::ImageBrowserDataSource {
public:
    SceneItems() {
        const QSize sizes[] = {{90, 120}, {120, 90}, {100, 100}, {80, 120}, {120, 80}, {0, 0}, {110, 90}};
        const QRgb colours[] = {0x5B8DD6, 0x60B699, 0xE0A040, 0xB070C0, 0xD06060, 0, 0x707070};
        for (int i = 0; i < 7; ++i) {
            QImage image;
            if (!sizes[i].isEmpty()) {
                image = QImage(sizes[i], QImage::Format_ARGB32);
                QPainter p(&image);
                QLinearGradient g(0, 0, 0, sizes[i].height());
                g.setColorAt(0, QColor(colours[i]).lighter(150));
                g.setColorAt(1, QColor(colours[i]));
                p.fillRect(image.rect(), g);
                p.setPen(Qt::white);
                p.drawText(image.rect(), Qt::AlignCenter, QString::number(i + 1));
            }
            mItems.push_back({image, QStringLiteral("Page %1").arg(i + 1)});
        }
    }
    int numberOfItems(kdui::ImageBrowserView&) override { return int(mItems.size()); }
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView&, int index) override {
        return mItems[std::size_t(index)];
    }

private:
    std::vector<kdui::ImageBrowserItem> mItems;
};

class SceneBrowser : public TvIBView {
public:
    explicit SceneBrowser(QWidget* parent) : TvIBView(parent) { setDataSource(&mItems); }

private:
    SceneItems mItems;
};

} // namespace

KD_SCREENSHOT_SCENE(imageBrowserGrid, "kit/image-browser-grid", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(460, 330));
    auto* browser = new SceneBrowser(window);
    browser->setGeometry(10, 10, 440, 310);
    browser->setVerticalScrollBar(new TvScroller);
    browser->setCellsTitled(true);
    browser->setAllowsMultipleSelection(true);
    browser->setCellSize(QSize(120, 130));
    browser->setIntercellSpacing(QSize(10, 10));
    browser->setSelectionColor(QColor(0x40, 0x40, 0x40, 0x40));
    browser->setShadowColor(0xE2E2E2);
    browser->setSelectionIndexes({1, 2}, false);
    return {window};
}

KD_SCREENSHOT_SCENE(sliderStyles, "kit/slider-styles", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(460, 200));
    // Style 0 on the light window, style 1 on a dark band; each at 30 of
    // 0 to 100 (mirrored in right-to-left layout), normal and disabled.
    auto* dark = new TvColoedView(window);
    dark->setColor(QColor(0x3E, 0x3E, 0x3E));
    dark->setGeometry(0, 100, 460, 100);
    int y = 10;
    for (int style = 0; style < 2; ++style) {
        QWidget* parent = style == 0 ? window : dark;
        for (int enabled = 1; enabled >= 0; --enabled) {
            auto* label = new QLabel(enabled ? QStringLiteral("Style %1").arg(style) : QStringLiteral("Disabled"), parent);
            label->setGeometry(10, y % 100, 90, 28);
            if (style == 1) label->setStyleSheet(QStringLiteral("color: white"));
            auto* slider = new TvSlider(parent);
            slider->setGeometry(110, y % 100, 330, 28);
            slider->setSliderStyle(style);
            slider->setMinValue(0);
            slider->setMaxValue(100);
            slider->setIntValue(30);
            slider->setEnabled(enabled != 0);
            y += 45;
        }
        y = 110;
    }
    QlrUtilsMethod::layoutLeftToRight(window);
    return {window};
}

KD_SCREENSHOT_SCENE(thinScrollers, "kit/thin-scrollers", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(460, 200));
    // Three scroll areas, one per scroller style.
    for (int style = 0; style < 3; ++style) {
        auto* area = new QScrollArea(window);
        area->setGeometry(10 + style * 150, 10, 140, 180);
        area->setFrameShape(QFrame::NoFrame);
        auto* vertical = new TvScroller(Qt::Vertical);
        vertical->setScrollerStyle(style);
        area->setVerticalScrollBar(vertical);
        auto* horizontal = new TvScroller(Qt::Horizontal);
        horizontal->setScrollerStyle(style);
        area->setHorizontalScrollBar(horizontal);
        auto* content = new kdui::PaintedWidget(QSize(200, 420), [](QPainter& p, const QRect& r) {
            p.fillRect(r, QColor(0xFA, 0xFA, 0xFA));
            p.setPen(QColor(0xB0, 0xB0, 0xB0));
            for (int y = 0; y < r.height(); y += 30) p.drawText(8, y + 20, QStringLiteral("Line %1").arg(y / 30 + 1));
        });
        area->setWidget(content);
        area->setAutoFillBackground(true);
    }
    return {window};
}
