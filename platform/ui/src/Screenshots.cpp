#include "ui/Screenshots.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace kdui {
namespace {

std::vector<ScreenshotScene>& registry() {
    static std::vector<ScreenshotScene> scenes;
    return scenes;
}

} // namespace

bool registerScreenshotScene(std::string name, Direction direction, std::function<std::vector<QWidget*>()> build) {
    registry().push_back({std::move(name), std::move(build), direction});
    return true;
}

std::vector<ScreenshotScene> screenshotScenes() {
    auto scenes = registry();
    std::stable_sort(scenes.begin(), scenes.end(),
                     [](const ScreenshotScene& a, const ScreenshotScene& b) { return a.name < b.name; });
    return scenes;
}

QImage renderScreenshotWindows(const std::vector<QWidget*>& windows) {
    QRect bounds;
    for (QWidget* w : windows) {
        if (!w) continue;
        w->ensurePolished();
        w->show();
    }
    QApplication::processEvents();
    QApplication::processEvents();
    for (QWidget* w : windows)
        if (w) bounds = bounds.united(w->geometry());
    if (bounds.isEmpty()) return {};
    QImage picture(bounds.size(), QImage::Format_ARGB32);
    picture.setDevicePixelRatio(1);
    picture.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&picture);
    for (QWidget* w : windows) {
        if (!w) continue;
        const QPixmap grabbed = w->grab();
        painter.setOpacity(w->windowOpacity());
        painter.drawPixmap(QRect(w->geometry().topLeft() - bounds.topLeft(), w->size()), grabbed);
    }
    painter.end();
    return picture;
}

PaintedWidget::PaintedWidget(QSize size, std::function<void(QPainter&, const QRect&)> paint, QWidget* parent)
    : QWidget(parent), paint_(std::move(paint)) {
    setFixedSize(size);
}

void PaintedWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (paint_) paint_(painter, rect());
}

} // namespace kdui
