// Menu items found by integer tag, and the automatic enabling flag of a
// menu: whether the application's menu code updates the menu's items
// itself before it opens (on, as for every new menu) or leaves them as the
// owner set them (off).
#pragma once

class QAction;
class QMenu;
class QWidget;

namespace kdui {

// The action tagged so (ui/ViewTag.h) in the menu bar of the window: the
// bar's own items first, then their submenus depth-first. Null when the
// window has no menu bar or no such item.
QAction* mainMenuItemWithTag(const QWidget* window, int tag);

bool autoenablesItems(const QMenu* menu); // true for a null menu or one never set
void setAutoenablesItems(QMenu* menu, bool on);

} // namespace kdui
