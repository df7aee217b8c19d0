// Qt's event loop as the driver of the foundation's main run loop: while
// Qt runs, the main loop's due sources fire (a socket notifier on its wake
// descriptor, a timer for the next due time), and a nested runMode of the
// main loop runs a nested Qt event loop until its limit, so Qt events keep
// flowing while the data source waits for the scanner.
#pragma once

namespace kdui {

// Call on the main thread after the QCoreApplication (or QApplication) is
// made; the driver is removed when it is destroyed. Calling it again for the
// same application object changes nothing (the application and a loaded
// module may both call it).
// Every nested Qt loop that is not a runMode (a modal dialog or session, a
// menu, a drag) is wrapped in a kdf::RunLoopModeScope of its mode.
void installQtRunLoopDriver();

} // namespace kdui
