// The modal panel manager of a plug-in: the plug-in's modal windows with
// their parent windows, kept in front of their parents in chain order when
// the application becomes active, resigns, or a registered window becomes
// the key window. One per plug-in (each plug-in has its own kit).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QWindow;

namespace kdkit {

// The level a chain of panels is raised to while the application is
// active; any other level is the normal window level.
inline constexpr int kModalPanelLevel = 4;
inline constexpr int kNormalWindowLevel = 0;

// The chain order of the visible registered windows (in the application's
// window order): from the first whose parent is none or not among them,
// each next one the window whose parent is the current one. Ends when no
// successor is found or the parents loop back, so every window appears at
// most once.
std::vector<QWidget*> panelChainOrder(const std::vector<QWidget*>& windows,
                                      const std::function<QWidget*(QWidget*)>& parentOf);

class ModalPanelManager : public QObject {
    Q_OBJECT
public:
    static ModalPanelManager& sharedModalPanelManager();
    static void terminateModalPanelManager();

    // The window is not owned; a window freed while registered drops out.
    void registerWindow(QWidget* window, QWidget* parentWindow);
    void unregisterWindow(QWidget* window);
    bool isRegisteredWindow(QWidget* window) const;
    // Null also for a window registered without a parent.
    QWidget* parentWindowForWindow(QWidget* window) const;

    // Raises the visible registered windows in chain order, each above its
    // parent.
    void reorderPanels(int level);

    void applicationWillBecomeActive();
    void applicationWillResignActive();
    void windowDidBecomeKey(QWindow* window);

private:
    ModalPanelManager();
    ~ModalPanelManager() override;
    struct Entry {
        QPointer<QWidget> window;
        QPointer<QWidget> parent;
    };
    void purge();
    void scheduleReorder(int level);

    std::vector<Entry> mModalPanels;
    std::vector<QMetaObject::Connection> observers_;
};

// Registers a window for as long as the scope lasts.
class ModalPanelRegistration {
public:
    ModalPanelRegistration(QWidget* window, QWidget* parentWindow);
    ~ModalPanelRegistration();
    ModalPanelRegistration(const ModalPanelRegistration&) = delete;
    ModalPanelRegistration& operator=(const ModalPanelRegistration&) = delete;

private:
    QPointer<QWidget> window_;
};

} // namespace kdkit
