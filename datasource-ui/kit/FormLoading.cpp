#include "FormLoading.h"

#include "ScrollableView.h"

namespace ComTavrolekKD720 {

void PeekSubviews(QWidget* view, const ViewFunction& function) {
    if (!view || !function) return;
    for (QObject* child : view->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child)) PeekSubviews(widget, function);
    }
    function(view);
}

void AwakeFromForm(QWidget* owner) {
    if (!owner) return;
    // The kit's classes have no meta-object of their own: found by their type.
    for (QWidget* widget : owner->findChildren<QWidget*>())
        if (auto* view = dynamic_cast<KFScrollableView*>(widget)) view->setup();
}

bool IsFullKeyboardAccessInView(const QWidget* view) {
    if (!view) return false;
    for (QObject* child : view->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) return true;
    }
    return false;
}

} // namespace ComTavrolekKD720
