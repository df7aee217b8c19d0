// Integer tags on Qt objects (widgets, actions), as the application's
// windows find their controls, and the mark of windows whose content is laid
// out from the top (the kit's "flipped" windows).
#pragma once

class QObject;
class QWidget;

namespace kdui {

// The tag of an object; 0 when it has none.
int tag(const QObject* object);
void setTag(QObject* object, int tag);

// The view itself when it was given the tag, else the first descendant widget with
// it, depth-first in child order; null when none has it or view is null.
QWidget* viewWithTag(QWidget* view, int tag);

// Whether the window's content view is flipped (its y axis runs from the
// top, like Qt's): window placement then takes the vertical steps in the
// flipped order.
bool isFlippedContentView(const QWidget* window);
void setFlippedContentView(QWidget* window, bool flipped);

} // namespace kdui
