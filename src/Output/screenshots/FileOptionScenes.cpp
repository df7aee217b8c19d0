// The file-option dialog's panels: PDF with text recognition, TIFF, and the
// compression panel.
#include "FileOptionSettingCntlr.h"

#include <OutputModel.h>

#include <ui/Screenshots.h>

#include <QWidget>

namespace {

// The tool frees each scene's window: every direction starts with a new
// shared controller.
FileOptionSettingCntlr* freshCntlr(int format, std::shared_ptr<OutputModel> model) {
    FileOptionSettingCntlr::terminateFileOptionSettingCntlr();
    auto* cntlr = FileOptionSettingCntlr::sharedFileOptionSettingCntlr();
    model->setFileFormatType(format);
    cntlr->runModalFileOptionSetting(nullptr, std::move(model));
    return cntlr;
}

std::shared_ptr<OutputModel> sampleModel() {
    auto model = std::make_shared<OutputModel>();
    model->setFileOp_MultiType_PDF(1);
    model->setMultiPageNum_PDF(10);
    model->setIsAddOCR(true);
    model->setFileOp_OCRLangType(2);
    model->setMultiPageNum_TIFF(1);
    model->setCompRate_JPEG(3);
    return model;
}

} // namespace

KD_SCREENSHOT_SCENE(fileOptionPdf, "output/file-option-pdf", kdui::Direction::Both) {
    return {freshCntlr(0, sampleModel())->pdfTiffSettingPanel()};
}

KD_SCREENSHOT_SCENE(fileOptionTiff, "output/file-option-tiff", kdui::Direction::Both) {
    return {freshCntlr(1, sampleModel())->pdfTiffSettingPanel()};
}

KD_SCREENSHOT_SCENE(fileOptionComp, "output/file-option-compression", kdui::Direction::Both) {
    return {freshCntlr(2, sampleModel())->compSettingPanel()};
}
