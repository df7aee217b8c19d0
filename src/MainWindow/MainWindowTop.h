// The main window's top display, edit-image side panel, About window and
// application commands as one part the main-window controller holds and
// forwards its hooks to. Main thread only.
#pragma once

#include "AppCommands.h"
#include "EditImagePanel.h"
#include "MainTopDisplay.h"

namespace qlr_main {

class MainWindowTop {
public:
    // Takes over the top display's layout, connects the buttons and menu
    // commands and fills the About window.
    MainWindowTop(AppMainCntlr& cntlr, MainWindowController& window, MainWindowScanHost& host)
        : display_(cntlr, window, host), editPanel_(cntlr, window, host), commands_(cntlr, window) {
        display_.initAboutWindow();
    }

    MainTopDisplay& display() { return display_; }
    EditImagePanel& editPanel() { return editPanel_; }
    AppCommands& commands() { return commands_; }

private:
    MainTopDisplay display_;
    EditImagePanel editPanel_;
    AppCommands commands_;
};

} // namespace qlr_main
