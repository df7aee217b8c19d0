// The menu, view and window chores of TV_Func on Qt Widgets. Views are
// QWidgets, menu items QActions (tag and represented object on the action),
// a pop-up button any widget exposing a QMenu. Main thread only.
#pragma once

#include "TV_Func.h"

#include <QIcon>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QObject;
class QWidget;

namespace TV_Func {

// The menu of a pop-up button: the QMenu itself, the menu of a push or tool
// button, else the first QMenu child; null when there is none.
QMenu* menuOf(QObject* owner);
// The menu's item with the tag (see kdui::tag); null when none has it.
QAction* menuItemWithTag(QMenu* menu, int tag);

// Nothing happens when the item is missing.
void setEnabledItemWithTag(bool enabled, int tag, QMenu* menu);
void setEnabledItemWithIndex(bool enabled, int index, QMenu* menu);
// The item's action replaces any earlier one; it runs while target lives.
void setAction(std::function<void()> action, QObject* target, int index, QMenu* menu);

// Appends an item to the owner's menu: title, image and represented object
// only when given, the tag always. Null when the owner has no menu.
QAction* addMenuItem(QObject* owner, const std::optional<QString>& title, int tag,
                     const std::optional<QIcon>& image = std::nullopt,
                     const std::optional<QVariant>& representedObject = std::nullopt);
// Changes what is given of the item at the index or with the tag.
void changeMenuItemAtIndex(QObject* owner, const std::optional<QString>& title, int index,
                           const std::optional<QIcon>& image = std::nullopt,
                           const std::optional<QVariant>& representedObject = std::nullopt);
void changeMenuItemWithTag(QObject* owner, const std::optional<QString>& title, int tag,
                           const std::optional<QIcon>& image = std::nullopt,
                           const std::optional<QVariant>& representedObject = std::nullopt);

// For every tag from first to last: the view (checkable button) or item
// with that tag is checked when the tag is the selected one, unchecked
// otherwise; missing tags are skipped, last below first does nothing.
void viewItemSelect(QWidget* view, int selectedTag, int firstTag, int lastTag);
void menuItemSelect(QMenu* menu, int selectedTag, int firstTag, int lastTag);
void setEnabledToAllSubViewsOfView(bool enabled, QWidget* view);

// The view, then the deep list of each child widget in reading order
// (SortViewFunc); windows among the children are not part of it.
std::vector<QWidget*> deepSubviewsAtView(QWidget* view);
// Reading order of two views by their place in their window: the higher
// one first, on equal height the one further left; -1, 0 or 1.
int SortViewFunc(const QWidget* a, const QWidget* b);

// The keyboard focus ring of the window: the deep subview list of the
// window (or the given target views, when every one of them is in it, in
// their order); with from and to, from moves to to's place and the views
// between move up by one. Only views that take the keyboard focus join the
// ring.
void setNextKeyViewsAtWindow(QWidget* window, const std::vector<QWidget*>& targetViews = {},
                             QWidget* from = nullptr, QWidget* to = nullptr);
// The next widget of the focus chain that takes focus by Tab.
QWidget* nextKeyView(QWidget* view);

// Alignment bits of windowPositionAdjustment.
enum WindowAlignment : std::uint16_t {
    kAlignKeepInside = 0,
    kAlignLeft = 1,   // 3 px inside the reference's left edge
    kAlignTop = 2,    // 3 px below the reference's top
    kAlignRight = 4,  // 3 px inside the reference's right edge
    kAlignBottom = 8, // 3 px above the reference's bottom
    kAlignCentre = 0xFF00,
};
// Places the window relative to the parent window's frame (or, without
// one, the available area of the window's screen): shrinks a resizable
// window that is larger (not below its minimum size), keeps it inside,
// aligns it, and finally keeps it inside the screen's available area.
void windowPositionAdjustment(QWidget* window, QWidget* parentWindow, std::uint16_t alignment);

} // namespace TV_Func
