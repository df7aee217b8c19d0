// The platform alert of the message routines on Qt Widgets: a QMessageBox
// run modally on the main thread inside the main run loop's modal-panel
// mode, so performs of the default mode wait while it is up.
#pragma once

#include "TV_Message.h"

#include <memory>
#include <vector>

class QMessageBox;
class QPushButton;

namespace TV_Message {

class MessageBoxPresenter : public AlertPresenter {
public:
    int runModal(const AlertRequest& request) override;
};

// Registers the message box as the platform alert. Main thread, once the
// QApplication exists.
void installMessageBoxPresenter();

// The message box of a request, ready to run: texts shown as plain text,
// the buttons in the request's order (in buttons, when given), and Return
// and Escape reaching only the buttons the request names.
std::unique_ptr<QMessageBox> makeMessageBox(const AlertRequest& request,
                                            std::vector<QPushButton*>* buttons = nullptr);

} // namespace TV_Message
