// What the application's routines ask of the main window's process window,
// the small window that shows the state of a scan and of its finishing
// step. The main window implements the interface and registers it; with
// none registered (before the main window exists, and in tools) the calls
// do nothing.
#pragma once

#include <memory>
#include <optional>
#include <string>

class ProcessWindowServices {
public:
    virtual ~ProcessWindowServices();
    // Shows the texts in the process window's title and information
    // fields; a text that is none leaves its field unchanged. Main thread.
    virtual void setStateInfoStrForProcWinForPfm(const std::optional<std::string>& title,
                                                 const std::optional<std::string>& information) = 0;
};

namespace MainWindowCntlr {

// Registers the main window's process window; null removes it.
void setProcessWindow(std::shared_ptr<ProcessWindowServices> window);
std::shared_ptr<ProcessWindowServices> processWindow();

// Passes the texts on to the registered process window, on the main thread
// (default mode, waiting); nothing when none is registered. False when
// nothing was passed on.
bool setStateInfoStrForProcWinForPfm(std::optional<std::string> title, std::optional<std::string> information);

} // namespace MainWindowCntlr
