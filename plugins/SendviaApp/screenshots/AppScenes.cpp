// The open-in-application destination's settings window.
#include "SceneSupport.h"

#include "ui_AppSettingWindow.h"

#include <ui/Screenshots.h>

KD_SCREENSHOT_SCENE(appSettings, "plugins/app-settings", kdui::Direction::Both) {
    const kdkit::scenes::Texts texts("SendviaApp");
    Ui::AppSettingWindow form;
    QWidget* w = texts.window(form);
    form.appPathField->setText("/usr/share/applications/org.example.Viewer.desktop");
    const std::pair<const char*, int> items[] = {
        {"FileSave_Picture", 0}, {"FileSave_Document", 1}, {"FileSave_Desktop", 2}, {"", 3}, {"FileSave_Action", 4}};
    for (const auto& [key, tag] : items) form.savePathPopUp->addItem(*key ? texts(key) : "/home/user/Scans", tag);
    form.savePathPopUp->setCurrentIndex(3);
    return {kdkit::scenes::laidOut(w)};
}
