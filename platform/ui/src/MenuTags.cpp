#include "ui/MenuTags.h"

#include "ui/ViewTag.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QVariant>
#include <QWidget>

namespace kdui {

namespace {
constexpr const char* kAutoenablesProperty = "kdAutoenablesItems";

QAction* findIn(const QList<QAction*>& actions, int wanted) {
    for (QAction* action : actions)
        if (tag(action) == wanted) return action;
    for (QAction* action : actions)
        if (QMenu* menu = action->menu())
            if (QAction* found = findIn(menu->actions(), wanted)) return found;
    return nullptr;
}
} // namespace

QAction* mainMenuItemWithTag(const QWidget* window, int wanted) {
    if (!window) return nullptr;
    // A main window's bar is its menu widget; a plain window may hold one
    // as a child.
    const QMenuBar* bar = window->findChild<QMenuBar*>();
    return bar ? findIn(bar->actions(), wanted) : nullptr;
}

bool autoenablesItems(const QMenu* menu) {
    if (!menu) return true;
    const QVariant on = menu->property(kAutoenablesProperty);
    return !on.isValid() || on.toBool();
}

void setAutoenablesItems(QMenu* menu, bool on) {
    if (menu) menu->setProperty(kAutoenablesProperty, on);
}

} // namespace kdui
