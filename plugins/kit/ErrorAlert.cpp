#include "ErrorAlert.h"

#include "ModalPanelManager.h"
#include "PluginKit.h"

#include <TV_MessageUI.h>

#include <foundation/RunLoop.h>

#include <QMessageBox>
#include <QPushButton>

namespace kdkit::ErrorAlert {
namespace {

struct Button {
    std::string title;
    int answer;
};

// Runs the box modally under the parent and answers the clicked button's
// answer; a box closed without a button answers the last one's.
int runBox(const TV_Message::AlertRequest& request, const std::vector<int>& answers, QWidget* parentWindow,
           bool focusLast) {
    std::vector<QPushButton*> buttons;
    std::unique_ptr<QMessageBox> box = TV_Message::makeMessageBox(request, &buttons);
    if (focusLast && buttons.size() >= 2) buttons.back()->setFocus();
    {
        ModalPanelRegistration registration(box.get(), parentWindow);
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
        box->exec();
    }
    for (std::size_t i = 0; i < buttons.size() && i < answers.size(); ++i)
        if (box->clickedButton() == buttons[i]) return answers[i];
    return answers.empty() ? kAlertFirstButton : answers.back();
}

} // namespace

int showAlertWithErrKey(const std::string& errKey, int alertTitleStyle, const ButtonTitleKeys& btnTitleList,
                        QWidget* parentWindow) {
    TV_Message::AlertRequest request;
    request.style = alertTitleStyle == kAlertTitleConfirm ? TV_Message::kInformationalAlertStyle
                                                          : TV_Message::kCriticalAlertStyle;
    switch (alertTitleStyle) {
    case kAlertTitleConfirm: request.messageText = localized("Confirm"); break;
    case kAlertTitleCaution: request.messageText = localized("Caution"); break;
    case kAlertTitleError: request.messageText = localized("Error"); break;
    default: break;
    }
    request.informativeText = localized(errKey);

    std::vector<Button> buttons{{localized("OK"), kAlertFirstButton}, {"", kAlertSecondButton}, {"", kAlertThirdButton}};
    if (btnTitleList)
        for (std::size_t i = 0; i < btnTitleList->size() && i < buttons.size(); ++i)
            if (const std::optional<std::string>& key = (*btnTitleList)[i])
                buttons[i].title = key->empty() ? std::string() : localized(*key);
    std::vector<int> answers;
    for (const Button& b : buttons)
        if (!b.title.empty()) {
            request.buttons.push_back(b.title);
            answers.push_back(b.answer);
        }
    if (!request.buttons.empty()) request.returnButton = 0;
    return runBox(request, answers, parentWindow, true);
}

void runModalWithExceptionList(const std::vector<kdf::Exception>& exceptions, QWidget* parentWindow) {
    if (exceptions.size() > 1) return;
    TV_Message::AlertRequest request;
    request.style = TV_Message::kWarningAlertStyle;
    request.messageText = localized("Error");
    request.informativeText = exceptions.empty() ? std::string() : exceptions.front().reason();
    request.buttons.push_back(localized("OK"));
    request.returnButton = 0;
    runBox(request, {kAlertFirstButton}, parentWindow, false);
}

} // namespace kdkit::ErrorAlert
