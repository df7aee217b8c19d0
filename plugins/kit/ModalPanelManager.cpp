#include "ModalPanelManager.h"

#include <foundation/RunLoop.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <set>

namespace kdkit {
namespace {

ModalPanelManager* gManager = nullptr;
constexpr const char* kReorderKey = "reorderPanels";
constexpr double kReorderDelay = 0.01;

} // namespace

std::vector<QWidget*> panelChainOrder(const std::vector<QWidget*>& windows,
                                      const std::function<QWidget*(QWidget*)>& parentOf) {
    std::vector<QWidget*> chain;
    if (windows.empty()) return chain;
    const auto listed = [&](QWidget* w) { return w && std::find(windows.begin(), windows.end(), w) != windows.end(); };
    // The start: the first window whose parent is not one of them.
    QWidget* current = windows.back();
    for (QWidget* w : windows)
        if (!listed(parentOf(w))) {
            current = w;
            break;
        }
    std::set<QWidget*> seen;
    while (current && seen.insert(current).second) {
        chain.push_back(current);
        QWidget* next = nullptr;
        for (QWidget* w : windows)
            if (w != current && parentOf(w) == current && !seen.count(w)) {
                next = w;
                break;
            }
        current = next;
    }
    return chain;
}

ModalPanelManager& ModalPanelManager::sharedModalPanelManager() {
    if (!gManager) gManager = new ModalPanelManager;
    return *gManager;
}

void ModalPanelManager::terminateModalPanelManager() {
    delete gManager;
    gManager = nullptr;
}

ModalPanelManager::ModalPanelManager() {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        observers_.push_back(connect(app, &QGuiApplication::applicationStateChanged, this,
                                     [this](Qt::ApplicationState state) {
                                         if (state == Qt::ApplicationActive)
                                             applicationWillBecomeActive();
                                         else if (state == Qt::ApplicationInactive)
                                             applicationWillResignActive();
                                     }));
        observers_.push_back(connect(app, &QGuiApplication::focusWindowChanged, this,
                                     [this](QWindow* window) { windowDidBecomeKey(window); }));
    }
}

ModalPanelManager::~ModalPanelManager() {
    for (const auto& observer : observers_) disconnect(observer);
    kdf::RunLoop::main().cancelPerforms(this, kReorderKey);
}

void ModalPanelManager::purge() {
    std::erase_if(mModalPanels, [](const Entry& e) { return e.window.isNull(); });
}

void ModalPanelManager::registerWindow(QWidget* window, QWidget* parentWindow) {
    if (!window) return;
    purge();
    unregisterWindow(window);
    mModalPanels.push_back({window, parentWindow});
    // The window system keeps the panel above its parent.
    if (parentWindow) {
        window->winId();
        parentWindow->winId();
        if (QWindow* handle = window->windowHandle())
            handle->setTransientParent(parentWindow->window()->windowHandle());
    }
}

void ModalPanelManager::unregisterWindow(QWidget* window) {
    std::erase_if(mModalPanels, [window](const Entry& e) { return e.window.isNull() || e.window == window; });
}

bool ModalPanelManager::isRegisteredWindow(QWidget* window) const {
    return window && std::any_of(mModalPanels.begin(), mModalPanels.end(),
                                 [window](const Entry& e) { return e.window == window; });
}

QWidget* ModalPanelManager::parentWindowForWindow(QWidget* window) const {
    for (const Entry& e : mModalPanels)
        if (window && e.window == window) return e.parent.data();
    return nullptr;
}

void ModalPanelManager::reorderPanels(int level) {
    purge();
    std::vector<QWidget*> visible;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && isRegisteredWindow(w)) visible.push_back(w);
    const std::vector<QWidget*> chain =
        panelChainOrder(visible, [this](QWidget* w) { return parentWindowForWindow(w); });
    // Each window goes above the one before it. Qt has no window levels:
    // while the application is active the chain is raised over its other
    // windows; at the normal level it keeps this order among them, which
    // the transient parents set at registration maintain.
    static_cast<void>(level);
    for (QWidget* w : chain) w->raise();
}

void ModalPanelManager::scheduleReorder(int level) {
    kdf::RunLoop& loop = kdf::RunLoop::main();
    loop.cancelPerforms(this, kReorderKey);
    // Only in the modal-panel mode: the reordering concerns running panels.
    loop.performAfterDelay(this, kReorderKey, kdf::Seconds(kReorderDelay), [this, level] { reorderPanels(level); },
                           kdf::RunLoopMode::ModalPanel);
}

void ModalPanelManager::applicationWillBecomeActive() {
    scheduleReorder(kModalPanelLevel);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) w->raise();
}

void ModalPanelManager::applicationWillResignActive() { scheduleReorder(kNormalWindowLevel); }

void ModalPanelManager::windowDidBecomeKey(QWindow* window) {
    if (!window) return;
    for (const Entry& e : mModalPanels)
        if (e.window && e.window->windowHandle() == window) {
            scheduleReorder(kModalPanelLevel);
            return;
        }
}

ModalPanelRegistration::ModalPanelRegistration(QWidget* window, QWidget* parentWindow) : window_(window) {
    ModalPanelManager::sharedModalPanelManager().registerWindow(window, parentWindow);
}

ModalPanelRegistration::~ModalPanelRegistration() {
    // A window freed meanwhile is null here; unregistering drops it then.
    ModalPanelManager::sharedModalPanelManager().unregisterWindow(window_.data());
}

} // namespace kdkit
