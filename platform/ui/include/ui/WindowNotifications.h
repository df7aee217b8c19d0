// Window notifications by name: a window asked to posts these (sender: the
// window) on the default notification centre. Qt tells of a minimise only
// once it happened, so "will miniaturise" is posted as the window goes.
// Main thread only.
#pragma once

class QWidget;

namespace kdui {

inline constexpr const char* kWindowWillMiniaturizeNotification = "NSWindowWillMiniaturizeNotification";
inline constexpr const char* kWindowDidDeminiaturizeNotification = "NSWindowDidDeminiaturizeNotification";
inline constexpr const char* kWindowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";

// Starts or stops the window's posts.
void setPostsWindowNotifications(QWidget* window, bool posts);
bool postsWindowNotifications(const QWidget* window);

} // namespace kdui
