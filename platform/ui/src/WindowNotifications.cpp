#include "ui/WindowNotifications.h"

#include <foundation/NotificationCenter.h>

#include <QEvent>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace kdui {
namespace {

class WindowPoster final : public QObject {
public:
    explicit WindowPoster(QWidget* window) : QObject(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != parent()) return false;
        const char* name = nullptr;
        if (event->type() == QEvent::WindowActivate) {
            name = kWindowDidBecomeKeyNotification;
        } else if (event->type() == QEvent::WindowStateChange) {
            const bool was = static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized;
            const bool is = static_cast<QWidget*>(watched)->windowState() & Qt::WindowMinimized;
            if (!was && is) name = kWindowWillMiniaturizeNotification;
            if (was && !is) name = kWindowDidDeminiaturizeNotification;
        }
        if (name) kdf::NotificationCenter::defaultCenter().post(name, watched);
        return false;
    }
};

WindowPoster* poster(const QWidget* window) {
    if (!window) return nullptr;
    for (QObject* child : window->children())
        if (auto* found = dynamic_cast<WindowPoster*>(child)) return found;
    return nullptr;
}

} // namespace

void setPostsWindowNotifications(QWidget* window, bool posts) {
    if (!window) return;
    WindowPoster* existing = poster(window);
    if (posts && !existing) new WindowPoster(window);
    if (!posts) delete existing;
}

bool postsWindowNotifications(const QWidget* window) {
    return poster(window) != nullptr;
}

} // namespace kdui
