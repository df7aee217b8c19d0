// The checks a setting passes before it is stored or used for a scan. Each
// raises the error's key, shown once by the caller; the first failure ends
// the round.
#include "PanelSettingCntlr.h"

#include "AppMainCntlr.h"
#include "FileNaming.h"
#include "PluginRegistryQueries.h"
#include "SettingPopUpButtons.h"
#include "TV_Func.h"
#include "TV_Message.h"
#include "TvPopoverWindow.h"

#include <foundation/Exception.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QPointer>
#include <QString>

#include <unistd.h>

#include <filesystem>

namespace qlr_main {

namespace {

int selectedTag(QObject* sender) {
    auto* popUp = qobject_cast<TvPopUpButton*>(sender);
    return popUp ? popUp->selectedTag() : -1;
}

std::string trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

std::string saveFolder(const OutputModel& output, int saveType) {
    switch (saveType) {
    case OutputModel::kSavePictures: return TV_Func::defaultPictureFolder();
    case OutputModel::kSaveDocuments: return TV_Func::defaultDocumentFolder().value_or(std::string());
    case OutputModel::kSaveDesktop: return TV_Func::defaultDesktopPath().value_or(std::string());
    default: return output.fileSavePath().value_or(std::string());
    }
}

// Whether the input may deliver black-and-white pages.
bool mayDeliverBW(const InputModel& input, std::optional<int> colorType, std::optional<bool> useDriver) {
    if (!useDriver.value_or(input.isUseDriverSetting()))
        return colorType.value_or(input.scnStColorType()) == 5;
    if (input.ccap_TVK_DETECTPAGETYPE() == 1 && input.ccap_TVK_DETECTPAGETYPE_MODE() == 2) return true;
    return input.icap_PIXELTYPE() == 0;
}

} // namespace

int PanelSettingCntlr::senderTag(QObject* sender) const {
    if (!sender) return -1;
    if (auto* w = qobject_cast<QWidget*>(sender)) return kdui::tag(w);
    return -1;
}

bool PanelSettingCntlr::isCurrentTabOutput(const std::shared_ptr<PanelModel>& model,
                                           const std::shared_ptr<OutputModel>& output) const {
    if (model != cntlr_.tmpPanelModel_Setting()) return false;
    if (std::dynamic_pointer_cast<OutputModel>(model)) return true;
    return output && output == targetOutput();
}

std::vector<std::shared_ptr<OutputModel>> PanelSettingCntlr::checkedOutputs(QObject* /*sender*/,
                                                                            const std::shared_ptr<PanelModel>& model,
                                                                            bool allOutsideOutputTabs) const {
    if (auto output = std::dynamic_pointer_cast<OutputModel>(model)) return {output};
    auto job = std::dynamic_pointer_cast<JobModel>(model);
    if (!job) return {};
    const auto outputs = job->jobOutputModel_List();
    if (!allOutsideOutputTabs) return outputs;
    const int tab = job->jobTabType();
    if (tab >= kTabFirstOutput && tab <= kTabLastOutput) {
        if (std::size_t(tab - 1) < outputs.size()) return {outputs[std::size_t(tab - 1)]};
        return {};
    }
    return outputs;
}

bool PanelSettingCntlr::checkSettingValue(QObject* sender, std::shared_ptr<PanelModel> model) {
    if (settingPanelResult_ != 0) return true;
    const int tag = senderTag(sender);
    if (!model && sender == host_.settingWindow()) model = cntlr_.tmpPanelModel_Setting();
    if (!model) return true;
    bool formatOnly = false;
    if (tag == kTagJobTab && std::dynamic_pointer_cast<JobModel>(model)) {
        const int tab = std::dynamic_pointer_cast<JobModel>(model)->jobTabType();
        if (tab == kTabInput)
            formatOnly = true;
        else if (tab < kTabFirstOutput || tab > kTabLastOutput)
            return true;
    }
    if (formatOnly) return checkFileFormat(sender, model);
    return checkSendToPlugin(sender, model) && checkFileNameTextField(sender, model) &&
           checkFileFormat(sender, model) && (tag != kTagFinishScan || checkFileFormatForScan(sender, model)) &&
           checkSavePath(sender, model);
}

bool PanelSettingCntlr::checkSendToPlugin(QObject* sender, const std::shared_ptr<PanelModel>& model) {
    for (const auto& output : checkedOutputs(sender, model, false)) {
        const std::string id = output->pluginID();
        if (id.empty()) continue;
        const auto v = PluginRegistryQueries::valueForPluginIDWithType(id, 7);
        if (!v || !v->toBool().value_or(false)) {
            TV_Message::showErrorPanel(kdf::Exception("Err_UnableExecute"));
            return false;
        }
    }
    return true;
}

bool PanelSettingCntlr::checkFileNameTextField(QObject* sender, const std::shared_ptr<PanelModel>& model) {
    const bool isJob = bool(std::dynamic_pointer_cast<JobModel>(model));
    auto* field = qobject_cast<QLineEdit*>(control(kTagFileName));
    for (const auto& output : checkedOutputs(sender, model, false)) {
        const std::string id = output->pluginID();
        if (isJob && !id.empty()) {
            const auto v = PluginRegistryQueries::valueForPluginIDWithType(id, 9);
            if (!v || !v->toBool().value_or(false)) continue;
        }
        const bool current = isCurrentTabOutput(model, output);
        std::string name = output->freeFileName();
        if (!isJob && current && field) name = field->text().toStdString();
        output->setFreeFileName(trimmed(name));
        if (current && field) {
            const QSignalBlocker block(field);
            field->setText(QString::fromStdString(output->freeFileName()));
        }
        try {
            qlr_output::checkFileNameSetting(*output);
        } catch (...) {
            TV_Message::showErrorPanel(std::current_exception());
            return false;
        }
    }
    return true;
}

bool PanelSettingCntlr::checkFileFormat(QObject* sender, const std::shared_ptr<PanelModel>& model) {
    auto job = std::dynamic_pointer_cast<JobModel>(model);
    if (!job) return true;
    const auto inputs = job->jobInputModel_List();
    if (inputs.empty()) return true;
    const int tag = senderTag(sender);
    // The control's new value, not stored yet, is the one to check.
    std::optional<int> colorType;
    std::optional<bool> useDriver;
    std::optional<int> newFormat;
    if (tag == kTagColorType) colorType = selectedTag(sender);
    if (tag == kTagUseDriverSetting)
        if (auto* box = qobject_cast<QAbstractButton*>(sender)) useDriver = box->isChecked();
    if (tag == kTagFileFormat) newFormat = selectedTag(sender);
    const bool bw = mayDeliverBW(*inputs.front(), colorType, useDriver);
    bool jpeg = false;
    for (const auto& output : checkedOutputs(sender, job, true)) {
        int format = output->fileFormatType();
        if (newFormat && output == targetOutput()) format = *newFormat;
        if (format == OutputModel::kFormatJPEG) jpeg = true;
    }
    if (!(bw && jpeg)) return true;
    TV_Message::showErrorPanel(kdf::Exception("Err_NotCreateJpegFromAutoBW"));
    if (tag == kTagColorType || tag == kTagUseDriverSetting || tag == kTagFileFormat) {
        QPointer<QWidget> control(qobject_cast<QWidget*>(sender));
        kdf::RunLoop::main().performAfterDelay(
            this, "putBack", kdf::Seconds(0),
            [this, control, job] {
                if (control) controllChangeFromCheckFileFormat(control, job);
            },
            kdf::kCommonModes);
    }
    return false;
}

bool PanelSettingCntlr::checkFileFormatForScan(QObject* sender, const std::shared_ptr<PanelModel>& model) {
    bool jpeg = false;
    for (const auto& output : checkedOutputs(sender, model, false))
        jpeg = jpeg || output->fileFormatType() == OutputModel::kFormatJPEG;
    if (!jpeg) return true;
    const int count = cntlr_.countOfImgInfo();
    for (int i = 0; i < count; ++i) {
        auto page = cntlr_.imgInfoAtIndex(i);
        if (page && (page->imgInfo_bpp() == 1 || page->isConvertedBW())) {
            TV_Message::showErrorPanel(kdf::Exception("Err_NotCreateJpegFromAutoBW"));
            return false;
        }
    }
    return true;
}

bool PanelSettingCntlr::checkSavePath(QObject* sender, const std::shared_ptr<PanelModel>& model) {
    auto* popUp = qobject_cast<TvPopUpButton*>(control(kTagSaveLocation));
    for (const auto& output : checkedOutputs(sender, model, false)) {
        if (!output->pluginID().empty()) continue;
        int type = output->saveType();
        const bool current = isCurrentTabOutput(model, output);
        if (current && popUp && popUp->selectedTag() >= 0 && popUp->selectedTag() <= 3) type = popUp->selectedTag();
        const std::string folder = saveFolder(*output, type);
        const char* error = nullptr;
        std::error_code ec;
        if (folder.empty())
            error = "Err_NonSaveFilePath";
        else if (!std::filesystem::is_directory(folder, ec))
            error = "Err_NotFindSaveFPath";
        else if (::access(folder.c_str(), R_OK | W_OK) != 0)
            error = "Err_RightOfAccessFile";
        if (error) {
            TV_Message::showErrorPanel(kdf::Exception(error));
            if (current && popUp) popUp->selectItemWithTag(output->saveType());
            return false;
        }
    }
    return true;
}

} // namespace qlr_main
