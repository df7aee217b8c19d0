#include "ui/FrameChange.h"

#include <foundation/NotificationCenter.h>

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace kdui {

namespace {

constexpr const char* kPosterName = "kdui_frameChangePoster";

// Lives as a child of the widget it watches, so it goes with it.
class FrameChangePoster : public QObject {
public:
    explicit FrameChangePoster(QWidget* widget) : QObject(widget), widget_(widget) {
        setObjectName(QLatin1String(kPosterName));
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
            postFrameDidChange(widget_);
        return false;
    }

private:
    QWidget* widget_;
};

FrameChangePoster* posterOf(const QWidget* widget) {
    return widget->findChild<FrameChangePoster*>(QLatin1String(kPosterName), Qt::FindDirectChildrenOnly);
}

} // namespace

void setPostsFrameChangedNotifications(QWidget* widget, bool posts) {
    if (!widget) return;
    FrameChangePoster* poster = posterOf(widget);
    if (posts && !poster) new FrameChangePoster(widget);
    if (!posts && poster) delete poster;
}

bool postsFrameChangedNotifications(const QWidget* widget) { return widget && posterOf(widget); }

void postFrameDidChange(QWidget* widget) {
    kdf::NotificationCenter::defaultCenter().post(kViewFrameDidChangeNotification, widget);
}

} // namespace kdui
