// Frame changes by name: a widget asked to posts
// "NSViewFrameDidChangeNotification" (sender: the widget) on the default
// notification centre whenever it moves or resizes, and a post can be made
// by hand. Observers inside the widget kit use event filters instead. Main
// thread only.
#pragma once

class QWidget;

namespace kdui {

inline constexpr const char* kViewFrameDidChangeNotification = "NSViewFrameDidChangeNotification";

// Starts or stops the widget's posts on every move or resize.
void setPostsFrameChangedNotifications(QWidget* widget, bool posts);
bool postsFrameChangedNotifications(const QWidget* widget);
// Posts the notification for the widget now.
void postFrameDidChange(QWidget* widget);

} // namespace kdui
