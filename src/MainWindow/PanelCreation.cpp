// New jobs and panels: the job of the selected panels, and new input,
// output and job panels (blank, from a bundle preset, or a job from the
// selection).
#include "PanelSettingCntlr.h"

#include "AppMainCntlr.h"
#include "PluginRegistryQueries.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"

#include <foundation/Bundle.h>

#include <algorithm>

namespace qlr_main {

namespace {

std::string localizedTitle(const char* key) {
    return kdf::localizedMainString(key);
}

template <class M>
std::shared_ptr<M> blankPanel(const char* titleKey) {
    auto model = std::make_shared<M>(nullptr);
    model->wholeModel()->setTitle(localizedTitle(titleKey));
    return model;
}

// The preset at the index among the offered ones; null past the end.
template <class M>
std::shared_ptr<M> presetAt(kdf::Array presets, int index) {
    if (index < 0 || std::size_t(index) >= presets.size()) return nullptr;
    const kdf::Value list(kdf::Array{presets[std::size_t(index)]});
    auto models = M::modelListFromDictList(&list);
    if (models.empty()) return nullptr;
    PanelModel::loadLocalizedTitle({models.front()});
    return models.front();
}

} // namespace

std::shared_ptr<JobModel> PanelSettingCntlr::createJobModel(bool withUseCountRecord) {
    return jobModelOfSelection(cntlr_, withUseCountRecord);
}

std::shared_ptr<JobModel> PanelSettingCntlr::jobModelOfSelection(const AppMainCntlr& cntlr, bool withUseCountRecord) {
    const auto inputs = cntlr.selectedModelList(kInputPanelType);
    const auto outputs = cntlr.selectedModelList(kOutputPanelType);
    if (!inputs || !outputs) return nullptr;
    auto job = std::make_shared<JobModel>(nullptr);
    std::vector<std::shared_ptr<InputModel>> jobInputs;
    std::vector<std::shared_ptr<OutputModel>> jobOutputs;
    kdf::Array userInfo;
    for (int type : {kInputPanelType, kOutputPanelType}) {
        const auto& selected = type == kInputPanelType ? *inputs : *outputs;
        const auto list = cntlr.panelListOfType(type).value_or(std::vector<std::shared_ptr<PanelModel>>{});
        kdf::Array indexes;
        for (const auto& panel : selected) {
            for (std::size_t i = 0; i < list.size(); ++i)
                if (list[i] == panel) indexes.emplace_back(int(i));
            if (auto input = std::dynamic_pointer_cast<InputModel>(panel))
                jobInputs.push_back(input->copy());
            else if (auto output = std::dynamic_pointer_cast<OutputModel>(panel))
                jobOutputs.push_back(output->copy());
        }
        userInfo.emplace_back(kdf::Array{kdf::Value(type), kdf::Value(std::move(indexes))});
    }
    if (jobInputs.empty() || jobOutputs.empty()) return nullptr;
    job->setJobInputModel_List(std::move(jobInputs));
    job->setJobOutputModel_List(std::move(jobOutputs));
    if (withUseCountRecord) job->setUserInfoList(std::move(userInfo));
    return job;
}

void PanelSettingCntlr::createPanel(int tag, bool isMenuItem) {
    auto appModel = cntlr_.appModel();
    if (!appModel) return;
    const std::vector<std::string> installed = QlrUtilsMethod::pluginNameList();
    std::shared_ptr<PanelModel> panel;
    int type = kJobPanelType;
    bool fromSelection = false;
    // Every refusal comes before the plug-ins make settings for the new
    // panel, so a refused panel leaves nothing behind in them.
    auto mayAdd = [&](int t) { return cntlr_.isCheckValidAddNewSetting(t); };

    if (isMenuItem) {
        const int menuType = tag >> 16;
        const int index = tag & 0xFFFF;
        if (menuType == kInputPanelType) {
            type = kInputPanelType;
            auto input = presetAt<InputModel>(AppModel::presetDictList(AppModel::kPresetInputList), index);
            if (!input || !mayAdd(type)) return;
            panel = input;
        } else if (menuType == kOutputPanelType) {
            type = kOutputPanelType;
            kdf::Array presets = AppModel::presetDictList(AppModel::kPresetOutputList);
            std::erase_if(presets, [&](const kdf::Value& v) {
                return !v.dictionary() || AppModel::isOutputOfAbsentPlugin(v, installed);
            });
            auto output = presetAt<OutputModel>(std::move(presets), index);
            if (!output || !mayAdd(type)) return;
            AppMainCntlr::createIDInPluginWithOutputModelList({output});
            panel = output;
        } else {
            type = kJobPanelType;
            kdf::Array presets = AppModel::presetDictList(AppModel::kPresetJobList);
            std::erase_if(presets, [&](const kdf::Value& v) {
                return !v.dictionary() || !AppModel::isJobWithUsableOutput(v, installed);
            });
            auto job = presetAt<JobModel>(std::move(presets), index);
            if (!job || !mayAdd(type)) return;
            AppMainCntlr::createIDInPluginWithOutputModelList(job->jobOutputModel_List());
            if (job->scanBtnStatus() != JobModel::kNoButton) {
                for (const auto& other : appModel->jobModel_List())
                    if (other && other->scanBtnStatus() == job->scanBtnStatus()) {
                        job->setScanBtnStatus(JobModel::kNoButton);
                        break;
                    }
            }
            panel = job;
        }
    } else if (tag == kTagNewInput) {
        type = kInputPanelType;
        if (!mayAdd(type)) return;
        panel = blankPanel<InputModel>("NewInputTitle");
    } else if (tag == kTagNewOutput) {
        type = kOutputPanelType;
        if (!mayAdd(type)) return;
        panel = blankPanel<OutputModel>("NewOutputTitle");
    } else if (tag == kTagNewJobFromSelection) {
        type = kJobPanelType;
        auto job = createJobModel(false);
        if (!job) {
            cntlr_.isCheckValidSelectedSetting();
            return;
        }
        if (!checkSettingValue(nullptr, job) || !mayAdd(type)) return;
        job->wholeModel()->setTitle(localizedTitle("NewJobTitle"));
        // The new job's plug-in settings are its own, not the selected
        // panels'.
        for (const auto& output : job->jobOutputModel_List()) {
            const std::string id = output->pluginID();
            if (id.empty() || output->pluginGUID().empty()) continue;
            std::string copied;
            if (PluginRegistryQueries::copyID(id, output->pluginGUID(), &copied) == 0 && !copied.empty())
                output->setPluginGUID(copied);
        }
        panel = job;
        fromSelection = true;
    } else {
        type = kJobPanelType;
        if (!mayAdd(type)) return;
        auto job = blankPanel<JobModel>("NewJobTitle");
        job->setJobInputModel_List({std::make_shared<InputModel>(nullptr)});
        job->setJobOutputModel_List({std::make_shared<OutputModel>(nullptr)});
        panel = job;
    }
    if (panel) addPanel(panel, type, fromSelection);
}

void PanelSettingCntlr::addPanel(const std::shared_ptr<PanelModel>& panel, int type, bool fromSelection) {
    auto appModel = cntlr_.appModel();
    if (!appModel) return;
    const auto window = cntlr_.mainWindowPort();
    const int size = type == kInputPanelType    ? appModel->input_PanelSizeType()
                     : type == kOutputPanelType ? appModel->output_PanelSizeType()
                                                : appModel->job_PanelSizeType();
    if (window) window->createPanelImageWithList({panel}, size);
    if (fromSelection && appModel->mainTopDispType() == 0)
        host_.changeMainTopDisplay(QlrUtilsMethod::itemInViewFromTag(host_.topContentView(), kTagTopDisplaySwitch));
    if (auto input = std::dynamic_pointer_cast<InputModel>(panel)) {
        auto list = appModel->inputModel_List();
        list.push_back(input);
        appModel->setInputModel_List(std::move(list));
    } else if (auto output = std::dynamic_pointer_cast<OutputModel>(panel)) {
        auto list = appModel->outputModel_List();
        list.push_back(output);
        appModel->setOutputModel_List(std::move(list));
    } else if (auto job = std::dynamic_pointer_cast<JobModel>(panel)) {
        auto list = appModel->jobModel_List();
        list.push_back(job);
        appModel->setJobModel_List(std::move(list));
    }
    if (window) window->reloadPanelBrowser(type);
    host_.scrollToLastItem(type);
}

} // namespace qlr_main
