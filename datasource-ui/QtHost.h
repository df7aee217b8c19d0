// Qt in a host that may or may not run it: the settings window needs a
// QApplication on the calling thread. In a Qt host the window runs on the
// host's loop; in a host without Qt one application object is made for
// the process, on the main thread, and the data source runs the window.
#pragma once

namespace ComTavrolekKD720 {

// Whether a display answers: QT_QPA_PLATFORM set, or an X server at
// DISPLAY that accepts a connection. *useXcb tells to name xcb to Qt.
bool displayAnswers(bool* useXcb);

// Readies Qt for a window on this thread: false (the reason on standard
// error) when the application object is no QApplication, the call comes on
// another thread than that object's (or, without one, not on the main
// thread), or no display answers. *ownsLoop: the application object is
// the one made here. Never lets Qt end the host.
bool prepareQtForWindow(bool* ownsLoop);

} // namespace ComTavrolekKD720
