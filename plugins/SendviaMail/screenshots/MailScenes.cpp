// The mail destination's settings and progress windows.
#include "SceneSupport.h"

#include "ui_MailSettingWindow.h"
#include "ui_PluginProgressWindow.h"

#include <ui/Screenshots.h>

namespace {

const kdkit::scenes::Texts& texts() {
    static const kdkit::scenes::Texts t("SendviaMail");
    return t;
}

} // namespace

KD_SCREENSHOT_SCENE(mailSettings, "plugins/mail-settings", kdui::Direction::Both) {
    Ui::MailSettingWindow form;
    QWidget* w = texts().window(form);
    form.showMsgCheck->setChecked(true);
    form.limitField->setText("5");
    form.limitStepper->setValue(5);
    return {kdkit::scenes::laidOut(w)};
}

KD_SCREENSHOT_SCENE(mailProgress, "plugins/mail-progress", kdui::Direction::Both) {
    Ui::PluginProgressWindow form;
    QWidget* w = texts().window(form);
    form.stateLabel->setText(texts()("ConfirmFileSize_StateExpLabel"));
    form.fileNameLabel->hide();
    form.ratioLabel->hide();
    form.progressBar->setRange(0, 2);
    form.progressBar->setValue(1);
    return {kdkit::scenes::laidOut(w)};
}
