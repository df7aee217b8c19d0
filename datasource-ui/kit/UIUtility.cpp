#include "UIUtility.h"

#include "ItemFunctions.h"
#include "Slider.h"

#include <QGuiApplication>
#include <QLayout>
#include <QSlider>

namespace ComTavrolekKD720 {

namespace {

bool layoutHolds(const QLayout* layout, const QWidget* widget) {
    if (!layout) return false;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget) return true;
        if (layoutHolds(item->layout(), widget)) return true;
    }
    return false;
}

} // namespace

bool KdUIUtility::isLTR_LayoutDirection() {
    return QGuiApplication::layoutDirection() == Qt::LeftToRight;
}

Qt::LayoutDirection KdUIUtility::directionForLanguages(const std::vector<std::string>& languages) {
    if (languages.empty()) return Qt::LeftToRight;
    const std::string& first = languages.front();
    const std::string base = first.substr(0, first.find_first_of("-_"));
    for (const char* rtl : {"ar", "he", "fa", "ur"}) {
        if (base == rtl) return Qt::RightToLeft;
    }
    return Qt::LeftToRight;
}

void KdUIUtility::layoutLeftToRight(QWidget* view) {
    if (!view || isLTR_LayoutDirection()) return;
    // Frames first, from the order taken before anything moves.
    for (QWidget* widget : GetDeepSubViews(view)) {
        widget->setLayoutDirection(Qt::RightToLeft);
        if (auto* slider = qobject_cast<QSlider*>(widget); slider && slider->orientation() == Qt::Vertical) {
            const auto ticks = slider->tickPosition();
            if (ticks == QSlider::TicksLeft) slider->setTickPosition(QSlider::TicksRight);
            else if (ticks == QSlider::TicksRight) slider->setTickPosition(QSlider::TicksLeft);
        }
        QWidget* parent = widget->parentWidget();
        if (!parent || widget->isWindow() || layoutHolds(parent->layout(), widget)) continue;
        const QRect frame = widget->geometry();
        widget->move(parent->width() - (frame.x() + frame.width()), frame.y());
    }
}

} // namespace ComTavrolekKD720
