// Screenshot scenes of the panel setting window: an input panel, a folder
// output and a plug-in output, a job on its input, first output, options
// and panel-look tabs, and the scanning view's outputs of a running job.
#include "AppMainCntlrNib.h"
#include "MainWindowController.h"
#include "PanelSettingCntlr.h"

#include <AppMainCntlr.h>
#include <JobModel.h>
#include <OutputModel.h>
#include <PluginRegistryQueries.h>
#include <TvPopoverWindow.h>

#include <ui/Screenshots.h>

#include <memory>

namespace {

using namespace qlr_main;

class SceneHost : public PanelSettingHost {
public:
    explicit SceneHost(MainWindowController& windows) : windows_(windows) {}
    TvPopoverWindow* settingWindow() override { return windows_.settingWindow(); }
    QWidget* settingSection(const char* name) override { return windows_.settingSection(name); }

private:
    MainWindowController& windows_;
};

// A plug-in that shows its settings button and summary and takes PDF.
class ScenePlugins : public PluginRegistryQueries {
protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        if (id != "com.example.Share") return std::nullopt;
        if (type == kTitleType) return kdf::Value(std::string("Share"));
        if (type == 5 || type == 7 || type == 8) return kdf::Value(true);
        return std::nullopt;
    }
    int pluginIndex(std::string_view id) const override { return id == "com.example.Share" ? 0 : -1; }
    std::vector<std::string> pluginIDs() const override { return {"com.example.Share"}; }
};

// One controller per scene build; the tool deletes the window, which the
// controllers only point at weakly.
struct SceneSet {
    std::unique_ptr<AppMainCntlr> cntlr;
    std::unique_ptr<MainWindowController> windows;
    std::unique_ptr<SceneHost> host;
    std::unique_ptr<PanelSettingCntlr> setting;
};

std::vector<QWidget*> settingScene(const std::shared_ptr<PanelModel>& panel, std::optional<std::pair<int, int>> at) {
    static SceneSet set;
    set.setting.reset();
    set.host.reset();
    set.windows.reset();
    set.cntlr.reset();
    PluginRegistryQueries::setCurrent(std::make_shared<ScenePlugins>());
    set.cntlr = std::make_unique<AppMainCntlr>();
    if (!at) set.cntlr->storeAppState(kAppStateScanEnded);
    set.windows = std::make_unique<MainWindowController>(*set.cntlr, nullptr);
    set.host = std::make_unique<SceneHost>(*set.windows);
    // The window's texts as the program sets them when its windows load.
    qlr_nib::applyTexts({set.windows->settingWindow()}, qlr_nib::settingWindowTexts());
    set.setting = std::make_unique<PanelSettingCntlr>(*set.cntlr, *set.host);
    set.setting->connectControls();
    set.setting->prepareSettingWindow(panel, at);
    TvPopoverWindow* window = set.windows->settingWindow();
    window->setRectEdge(at ? 0 : 2);
    window->setValueFromCorner(-1);
    window->move(40, 40);
    // The controls are filled: other scenes see no plug-ins again.
    PluginRegistryQueries::setCurrent(nullptr);
    return {window};
}

std::shared_ptr<JobModel> sceneJob(int outputs) {
    auto job = std::make_shared<JobModel>(nullptr);
    job->wholeModel()->setTitle("Receipts");
    job->setJobInputModel_List({std::make_shared<InputModel>(nullptr)});
    std::vector<std::shared_ptr<OutputModel>> list;
    for (int i = 0; i < outputs; ++i) list.push_back(std::make_shared<OutputModel>(nullptr));
    job->setJobOutputModel_List(list);
    return job;
}

std::vector<QWidget*> jobTab(int tab) {
    auto job = sceneJob(2);
    job->setJobTabType(tab);
    // A stored job: prepare keeps the tab the job is on.
    return settingScene(job, std::make_pair(int(kJobPanelType), 0));
}

} // namespace

KD_SCREENSHOT_SCENE(settingInput, "setting/input", kdui::Direction::Both) {
    auto input = std::make_shared<InputModel>(nullptr);
    input->wholeModel()->setTitle("Colour 300 dpi");
    return settingScene(input, std::make_pair(int(kInputPanelType), 0));
}

KD_SCREENSHOT_SCENE(settingFolderOutput, "setting/output-folder", kdui::Direction::Both) {
    auto output = std::make_shared<OutputModel>(nullptr);
    output->wholeModel()->setTitle("Scans folder");
    output->setFreeFileName("Scan");
    return settingScene(output, std::make_pair(int(kOutputPanelType), 0));
}

KD_SCREENSHOT_SCENE(settingPluginOutput, "setting/output-plugin", kdui::Direction::LeftToRight) {
    auto output = std::make_shared<OutputModel>(nullptr);
    output->wholeModel()->setTitle("Share");
    output->setPluginID("com.example.Share");
    output->setPluginGUID("scene");
    return settingScene(output, std::make_pair(int(kOutputPanelType), 0));
}

KD_SCREENSHOT_SCENE(settingJobInputTab, "setting/job-tab0-input", kdui::Direction::Both) { return jobTab(kTabInput); }
KD_SCREENSHOT_SCENE(settingJobOutputTab, "setting/job-tab1-output", kdui::Direction::LeftToRight) {
    return jobTab(kTabFirstOutput);
}
KD_SCREENSHOT_SCENE(settingJobOptionsTab, "setting/job-tab4-options", kdui::Direction::LeftToRight) {
    return jobTab(kTabOptions);
}
KD_SCREENSHOT_SCENE(settingJobWholeTab, "setting/job-tab5-whole", kdui::Direction::LeftToRight) {
    return jobTab(kTabWhole);
}

KD_SCREENSHOT_SCENE(settingScanJob, "setting/scanning-outputs", kdui::Direction::Both) {
    auto job = sceneJob(3);
    job->setOutputIndex(1);
    job->setJobTabType(2);
    return settingScene(job, std::nullopt);
}
