// Shields for the settings window: a transparent view laid over a window
// that swallows every mouse and key event while a modal panel of the
// window is up, and the list of modal windows shown over a window. The
// window lives inside a host application that the data source does not
// own, so it cannot lean on the host's modal machinery.
#pragma once

#include <QPointer>
#include <QWidget>

#include <vector>

namespace ComTavrolekKD720 {

// The view that covers a shielded window.
class ShieldView final : public QWidget {
public:
    explicit ShieldView(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class FWindow {
public:
    // The window's shield or null: the first of its children that is a
    // shield and visible.
    static ShieldView* shieldWindow(const QWidget* window);
    // Lays a shield over the window (the whole frame or its content; in
    // Qt both are the window's rectangle). Nothing when it has one.
    static void setShieldWindow(QWidget* window, bool includeFrame);
    static void removeShieldWindow(QWidget* window);
    // A window answers key status only while it has no shield.
    static bool canBecomeKeyWindow(const QWidget* window);

    // The window that holds the modal window in its list, or null.
    static QWidget* behindWindow(const QWidget* modal);
    // Shields the parent and records the modal window; the modal window
    // comes to the front as key.
    static void beginModalWindow(QWidget* modal, QWidget* parent);
    // Forgets the modal window; the parent's shield goes with its last
    // modal window. With orderOut the modal window is hidden.
    static void endModalWindow(QWidget* modal, bool orderOut = true);
    static std::vector<QWidget*> modalWindows(const QWidget* window);
};

} // namespace ComTavrolekKD720
