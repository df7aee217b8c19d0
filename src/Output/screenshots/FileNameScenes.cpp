// The file-name dialog as it opens on an output with a counter.
#include "FileNameSettingCntlr.h"

#include <OutputModel.h>

#include <ui/Screenshots.h>

#include <QDialog>

KD_SCREENSHOT_SCENE(fileNameSetting, "output/file-name-setting", kdui::Direction::Both) {
    auto model = std::make_shared<OutputModel>();
    model->setFreeFileName("Invoice");
    model->setIsUseFNSetting(true);
    model->setIsAddDateTime(false);
    model->setIsAddNumber(true);
    model->setDigitType(2);
    model->setStartNum(1);
    // The tool frees the scene's window after each direction, and the window
    // belongs to the shared controller: start each direction with a new one.
    FileNameSettingCntlr::terminateFileNameSettingCntlr();
    auto* cntlr = FileNameSettingCntlr::sharedFileNameSettingCntlr();
    cntlr->runModalFileNameSetting(nullptr, model);
    return {cntlr->fileNameSettingPanel()};
}
