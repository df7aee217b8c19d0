#include "ui/ViewTag.h"

#include <QVariant>
#include <QWidget>

namespace kdui {

namespace {
constexpr const char* kTagProperty = "kdTag";
constexpr const char* kFlippedProperty = "kdFlippedContentView";
} // namespace

int tag(const QObject* object) {
    return object ? object->property(kTagProperty).toInt() : 0;
}

void setTag(QObject* object, int tag) {
    if (object) object->setProperty(kTagProperty, tag);
}

QWidget* viewWithTag(QWidget* view, int wanted) {
    if (!view) return nullptr;
    // Only explicitly tagged views match, so tag 0 does not find every view.
    if (const QVariant t = view->property(kTagProperty); t.isValid() && t.toInt() == wanted) return view;
    for (QObject* child : view->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child))
            if (QWidget* found = viewWithTag(widget, wanted)) return found;
    }
    return nullptr;
}

bool isFlippedContentView(const QWidget* window) {
    return window && window->property(kFlippedProperty).toBool();
}

void setFlippedContentView(QWidget* window, bool flipped) {
    if (window) window->setProperty(kFlippedProperty, flipped);
}

} // namespace kdui
