#include "TvIBView.h"

#include "TvUI.h"

#include <ui/MenuTags.h>

#include <QAction>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>

TvIBView::TvIBView(QWidget* parent) : kdui::ImageBrowserView(parent) {}

void TvIBView::setShadowColor(std::uint32_t rgb) {
    mShadowColor = rgb & 0xFFFFFF;
    viewport()->update();
}

void TvIBView::drawOverCells(QPainter& painter) {
    // Painted from the viewport's current size on every paint, so the
    // shadows stay at the edges through any resize without animating.
    const int width = viewport()->width();
    const int height = viewport()->height();
    const QColor edge = TvUI::colorWithDeviceRGB(mShadowColor, kShadowEdgeAlpha);
    const QColor inner = TvUI::colorWithDeviceRGB(mShadowColor, kShadowInnerAlpha);
    painter.save();
    QLinearGradient top(0, 0, 0, kShadowHeight);
    top.setColorAt(0, edge);
    top.setColorAt(1, inner);
    painter.fillRect(QRect(0, 0, width, kShadowHeight), top);
    QLinearGradient bottom(0, height, 0, height - kShadowHeight);
    bottom.setColorAt(0, edge);
    bottom.setColorAt(1, inner);
    painter.fillRect(QRect(0, height - kShadowHeight, width, kShadowHeight), bottom);
    painter.restore();
}

void TvIBView::focusInEvent(QFocusEvent* event) {
    kdui::ImageBrowserView::focusInEvent(event);
    // The controller updates the submenu's items for this browser's
    // selection when it is about to show.
    if (QAction* item = kdui::mainMenuItemWithTag(window(), kBrowserMenuTag))
        if (QMenu* menu = item->menu()) emit menu->aboutToShow();
}

void TvIBView::focusOutEvent(QFocusEvent* event) {
    kdui::ImageBrowserView::focusOutEvent(event);
    if (QAction* item = kdui::mainMenuItemWithTag(window(), kBrowserMenuTag))
        if (QMenu* menu = item->menu()) kdui::setAutoenablesItems(menu, true);
}
