// Services for the main window, the preview and the writer: panel lists
// and browsers by panel type, the selected panels, a job's current input
// and output, plug-in setting IDs for new outputs, the refresh after the
// preferences or the data source changed, the preview size, and the
// controller's notification observers.
#include "AppMainCntlr.h"

#include "PluginRegistryQueries.h"
#include "QlrDeviceCntlr.h"
#include "TvNotifications.h"

#include <foundation/Bundle.h>
#include <ui/FrameChange.h>
#include <ui/WindowNotifications.h>

#include <algorithm>

namespace {

template <class T> std::vector<std::shared_ptr<PanelModel>> asPanels(const std::vector<std::shared_ptr<T>>& list) {
    return {list.begin(), list.end()};
}

// The setting window's pop-ups that depend on the data source.
constexpr int kDataSourcePopUpTags[] = {2102, 2104, 2106, 2108, 2110, 2406};
constexpr int kAllocButtonTextTag = 2405;
constexpr double kPreviewSizeLimit = 1000.0;

} // namespace

QWidget* AppMainCntlr::ibViewOfType(int panelType) const {
    if (panelType < kInputPanelType || panelType > kJobPanelType) return nullptr;
    return mainWindowPort()->panelBrowser(panelType);
}

std::optional<std::vector<std::shared_ptr<PanelModel>>> AppMainCntlr::panelListOfType(int panelType) const {
    auto model = appModel();
    if (!model) return std::nullopt;
    switch (panelType) {
    case kInputPanelType: return asPanels(model->inputModel_List());
    case kOutputPanelType: return asPanels(model->outputModel_List());
    case kJobPanelType: return asPanels(model->jobModel_List());
    default: return std::nullopt;
    }
}

std::optional<std::vector<std::shared_ptr<PanelModel>>> AppMainCntlr::selectedModelList(int panelType) const {
    if (panelType != kInputPanelType && panelType != kOutputPanelType) return std::nullopt;
    auto list = panelListOfType(panelType);
    if (!list) return std::nullopt;
    std::vector<std::shared_ptr<PanelModel>> selected;
    for (const auto& panel : *list)
        if (panel && panel->isSelected()) selected.push_back(panel);
    if (selected.empty()) return std::nullopt;
    return selected;
}

std::shared_ptr<InputModel> AppMainCntlr::curInputModelOfJobModel(const JobModel* job) {
    if (!job) return nullptr;
    const auto inputs = job->jobInputModel_List();
    return inputs.empty() ? nullptr : inputs.front();
}

std::shared_ptr<OutputModel> AppMainCntlr::curOutputModelOfJobModel(const JobModel* job) {
    if (!job) return nullptr;
    const int index = job->outputIndex();
    const auto outputs = job->jobOutputModel_List();
    if (index < 0 || std::size_t(index) >= outputs.size()) return nullptr;
    return outputs[std::size_t(index)];
}

void AppMainCntlr::createIDInPluginWithOutputModelList(const std::vector<std::shared_ptr<OutputModel>>& outputs) {
    for (const auto& output : outputs) {
        if (!output) continue;
        const std::string id = output->pluginID();
        if (id.empty() || !output->pluginGUID().empty()) continue;
        if (!PluginRegistryQueries::hasPluginObject(id)) {
            // The plug-in is no longer installed.
            output->setPluginID("");
            continue;
        }
        std::string newID;
        if (PluginRegistryQueries::createID(id, &newID) != 0) continue;
        output->setPluginGUID(newID);
        const auto title = PluginRegistryQueries::valueForPluginIDWithType(id, PluginRegistryQueries::kTitleType);
        output->setDispTitle(title && title->string() ? *title->string() : std::string());
    }
}

void AppMainCntlr::reloadSettingByPref() {
    auto model = appModel();
    if (model && model->pluginInfoList()) {
        for (const auto& entry : *model->pluginInfoList()) {
            const auto* dict = entry.dictionary();
            if (!dict || dict->size() != 1) continue;
            const auto& [key, value] = *dict->begin();
            const auto* inner = value.dictionary();
            if (!inner) continue;
            const auto* valid = kdf::find(*inner, AppModel::kPluginIsValidKey);
            if (!valid) continue;
            PluginRegistryQueries::switchIsValidInPluginInfoList(key, valid->toBool().value_or(false));
        }
    }
    PluginRegistryQueries::checkAllOutputModelByPlugin();

    auto window = mainWindowPort();
    if (model) {
        window->setPanelBrowserCellSize(kInputPanelType,
                                        window->makePanelSize(InputModel(), model->input_PanelSizeType()));
        window->setPanelBrowserCellSize(kOutputPanelType,
                                        window->makePanelSize(OutputModel(), model->output_PanelSizeType()));
        JobModel job;
        job.setJobOutputModel_List(
            {std::make_shared<OutputModel>(), std::make_shared<OutputModel>(), std::make_shared<OutputModel>()});
        window->setPanelBrowserCellSize(kJobPanelType, window->makePanelSize(job, model->job_PanelSizeType()));
    }
    window->updateMainTopDisplay(false, false);
    for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType}) window->reloadPanelBrowser(type);
}

void AppMainCntlr::updateCurrentDSInfo() {
    auto window = mainWindowPort();
    window->createIBViewMenu();
    if (auto model = appModel()) {
        const std::optional<std::string> product = curDS_ProductName();
        for (const auto& input : model->inputModel_List())
            if (input) input->checkCreateDriverData(product);
        for (const auto& job : model->jobModel_List())
            if (job) job->checkCreateDriverData(product);
        window->createPanelImageWithList(asPanels(model->inputModel_List()), model->input_PanelSizeType());
        window->createPanelImageWithList(asPanels(model->outputModel_List()), model->output_PanelSizeType());
        window->createPanelImageWithList(asPanels(model->jobModel_List()), model->job_PanelSizeType());
    }
    for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType}) window->reloadPanelBrowser(type);
    for (int tag : kDataSourcePopUpTags) window->setUpSettingPopUp(tag);
    const char* key = isSupportedMultiDeviceBtns() ? "AllocJob" : "AllocDevicveBtn";
    auto bundle = kdf::Bundle::main();
    window->setSettingControlText(kAllocButtonTextTag, bundle ? bundle->localizedString(key) : std::string(key));
}

QlrPreviewSize AppMainCntlr::previewSizeByMainWindow(bool flag) {
    if (flag) {
        QWidget* w = mainWindow();
        if (!w) return {};
        const QSize min = w->minimumSize();
        return {min.width() * 0.5, min.height() * 0.5};
    }
    const QSizeF size = mainWindowPort()->previewSplitSubViewSize();
    return {size.width(), size.height()};
}

QlrPreviewSize AppMainCntlr::previewSizeWithLimitationForIKImageBrowserMemLeak(bool flag) {
    QlrPreviewSize size = previewSizeByMainWindow(!flag);
    size.width = std::min(size.width, kPreviewSizeLimit);
    size.height = std::min(size.height, kPreviewSizeLimit);
    return size;
}

std::shared_ptr<PrefsModel> AppMainCntlr::prefsModel() const {
    if (auto prefs = dialogsPort()->prefsModel()) return prefs;
    return std::make_shared<PrefsModel>(nullptr);
}

void AppMainCntlr::setUpNotification() {
    if (!observers_.empty()) return;
    auto& center = kdf::NotificationCenter::defaultCenter();
    using Handler = void (AppMainWindowPort::*)(const kdf::Notification&);
    const std::pair<const char*, Handler> windowRows[] = {
        {kDriverCloseDSOkNotification, &AppMainWindowPort::driverCloseDSOk},
        {kDriverTerminateUINotification, &AppMainWindowPort::driverTerminateUI},
        {kPanelIBViewClickCellNotification, &AppMainWindowPort::panelIBViewClickCell},
        {kMouseMovedInFlatWindowContentViewDidChange, &AppMainWindowPort::mouseMovedInFlatWindowContentView},
        {kScrollWheelDidChange, &AppMainWindowPort::scrollWheelDidChange},
        {TV_Message::kTvAlertRunModalNotification, &AppMainWindowPort::tvAlertRunModal},
        {kdui::kViewFrameDidChangeNotification, &AppMainWindowPort::viewFrameDidChange},
        {"ShowKdWindowNotification", &AppMainWindowPort::showKdWindow},
        {"HideKdWindowNotification", &AppMainWindowPort::hideKdWindow},
        {kdui::kWindowWillMiniaturizeNotification, &AppMainWindowPort::willMiniKdWindow},
        {kdui::kWindowDidDeminiaturizeNotification, &AppMainWindowPort::didDeminiKdWindow},
    };
    for (const auto& [name, handler] : windowRows) {
        observers_.push_back(center.addObserver(
            name, [this, handler = handler](const kdf::Notification& n) { (mainWindowPort().get()->*handler)(n); }));
    }
    using PreviewHandler = void (AppPreviewPort::*)(const kdf::Notification&);
    const std::pair<const char*, PreviewHandler> previewRows[] = {
        {kDegreeForRotateDidChange, &AppPreviewPort::degreeForRotateDidChange},
        {kRatioOfCropDidChange, &AppPreviewPort::ratioOfCropDidChange},
    };
    for (const auto& [name, handler] : previewRows) {
        observers_.push_back(center.addObserver(
            name, [this, handler = handler](const kdf::Notification& n) { (previewPort().get()->*handler)(n); }));
    }
}
