// Modal windows without a modal loop. A parent window gets a shield: a
// transparent child covering it, kept above its other children, that
// swallows every mouse press. While a window is shielded an application
// event filter drops its key, wheel, shortcut and context-menu events and
// its close requests, and activating it activates its topmost modal window
// instead. The parent keeps the list of windows shown modally over it.
#pragma once

#include <QList>
#include <QWidget>

#include <functional>

namespace kdui {

// The window's shield; created (covering the whole window) only when none
// is attached. includeFrame only matters for a frameless window: a window
// manager's frame cannot be covered by a child. Null for a null window.
QWidget* setShieldWindow(QWidget* window, bool includeFrame = true);
// Removes and deletes the window's shield, if any.
void removeShieldWindow(QWidget* window);
// The window's shield, or null.
QWidget* shieldWindow(const QWidget* window);
// Whether widget is some window's shield.
bool isShieldWindow(const QWidget* widget);

// The parent's modal list. Adding lists the window once (a null window is
// not listed) and makes the parent its transient parent, so the window
// manager keeps it above; a listed window that is destroyed leaves the
// list. Removing unlists it and detaches it from the parent.
void addModalWindow(QWidget* parent, QWidget* window);
void removeModalWindow(QWidget* parent, QWidget* window);
QList<QWidget*> modalWindows(const QWidget* parent);
// The first top-level window that lists window as modal over it, or null.
QWidget* behindWindow(const QWidget* window);

// Called with the shielded window when its shield is pressed (after the
// press was swallowed). One handler for the application; the widget kit
// sets it.
void setShieldPressHandler(std::function<void(QWidget* window)> handler);

} // namespace kdui
