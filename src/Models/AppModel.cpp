#include "AppModel.h"

#include "QlrUtilsMethod.h"
#include "SettingsIO.h"
#include "TV_Func.h"

#include <foundation/Bundle.h>
#include <foundation/PropertyList.h>

#include <algorithm>

namespace {

// The array of a preset list of the main bundle; empty when the file is
// missing, unreadable or holds something else.
kdf::Array presetList(const char* fileName) {
    const std::string path = kdf::Bundle::main()->pathForResource(fileName, {});
    if (path.empty()) return {};
    std::optional<kdf::Value> value = kdf::readPropertyListFile(path);
    const kdf::Array* items = value ? value->array() : nullptr;
    return items ? *items : kdf::Array();
}

// An output dictionary naming a plug-in that is not installed.
bool namesAbsentPlugin(const kdf::Value& output, const std::vector<std::string>& installed) {
    const kdf::Dictionary* d = output.dictionary();
    const kdf::Value* id = d ? kdf::find(*d, OutputModel::kPluginIDKey) : nullptr;
    const std::string* name = id ? id->string() : nullptr;
    return name && !name->empty() && std::find(installed.begin(), installed.end(), *name) == installed.end();
}

// A job is kept when at least one of its outputs is usable; the job's own
// list stays whole (the plug-in host clears the others later).
bool hasUsableOutput(const kdf::Value& job, const std::vector<std::string>& installed) {
    const kdf::Dictionary* d = job.dictionary();
    const kdf::Value* list = d ? kdf::find(*d, JobModel::kJobOutputModel_DictListKey) : nullptr;
    const kdf::Array* outputs = list ? list->array() : nullptr;
    if (!outputs) return false;
    return std::any_of(outputs->begin(), outputs->end(),
                       [&](const kdf::Value& output) { return !namesAbsentPlugin(output, installed); });
}

// The stored list when its key is present (even empty); else the preset
// list's entries that keep() accepts, localised, the last one selected when
// asked.
template <class M, class Keep>
std::vector<std::shared_ptr<M>> loadPanelList(const SettingsReader& in, const char* key, const char* presetFile,
                                              Keep keep, bool selectLast) {
    if (std::optional<kdf::Value> stored = in.object(key)) return M::modelListFromDictList(&*stored);
    kdf::Array presets = presetList(presetFile);
    std::erase_if(presets, [&](const kdf::Value& entry) { return !keep(entry); });
    const kdf::Value list(std::move(presets));
    std::vector<std::shared_ptr<M>> models = M::modelListFromDictList(&list);
    PanelModel::loadLocalizedTitle(std::vector<std::shared_ptr<PanelModel>>(models.begin(), models.end()));
    if (selectLast && !models.empty()) models.back()->setIsSelected(true);
    return models;
}

// The one key of a plug-in entry and its settings; null when the entry is
// not a one-key dictionary.
const kdf::Dictionary::value_type* pluginEntry(const kdf::Value& entry) {
    const kdf::Dictionary* d = entry.dictionary();
    return d && d->size() == 1 ? &*d->begin() : nullptr;
}

// The stored validity of a plug-in entry's settings: a missing flag, or one
// of another kind, counts as valid.
bool pluginIsValid(const kdf::Value& settings) {
    const kdf::Dictionary* d = settings.dictionary();
    const kdf::Value* flag = d ? kdf::find(*d, AppModel::kPluginIsValidKey) : nullptr;
    std::optional<bool> valid = flag ? flag->toBool() : std::nullopt;
    return valid.value_or(true);
}

} // namespace

kdf::Array AppModel::presetDictList(const char* fileName) { return presetList(fileName); }

bool AppModel::isOutputOfAbsentPlugin(const kdf::Value& output, const std::vector<std::string>& installed) {
    return namesAbsentPlugin(output, installed);
}

bool AppModel::isJobWithUsableOutput(const kdf::Value& job, const std::vector<std::string>& installed) {
    return hasUsableOutput(job, installed);
}

const kdf::Dictionary::value_type* AppModel::pluginInfoElement(const kdf::Value& element) {
    return pluginEntry(element);
}

bool AppModel::isValidPluginInfo(const kdf::Value& entry) { return pluginIsValid(entry); }

AppModel::AppModel(const kdf::Dictionary* dict) {
    SettingsReader in(dict);
    const bool fromDefaults = dict == nullptr;
    const std::vector<std::string> installed = QlrUtilsMethod::pluginNameList();

    in.readInt(kMainTopDispTypeKey, mainTopDispType_);

    const auto all = [](const kdf::Value&) { return true; };
    inputs_ = loadPanelList<InputModel>(in, kInputModel_DictListKey, kPresetInputList, all, fromDefaults);
    outputs_ = loadPanelList<OutputModel>(
        in, kOutputModel_DictListKey, kPresetOutputList,
        [&](const kdf::Value& output) { return !namesAbsentPlugin(output, installed); }, fromDefaults);
    jobs_ = loadPanelList<JobModel>(
        in, kJobModel_DictListKey, kPresetJobList,
        [&](const kdf::Value& job) { return hasUsableOutput(job, installed); }, false);

    in.readInt(kInput_PanelSizeTypeKey, inputPanelSizeType_);
    in.readInt(kOutput_PanelSizeTypeKey, outputPanelSizeType_);
    in.readInt(kJob_PanelSizeTypeKey, jobPanelSizeType_);

    if (std::optional<kdf::Value> plugins = in.object(kPluginInfoListKey))
        if (const kdf::Array* entries = plugins->array()) pluginInfoList_ = *entries;
}

void AppModel::saveAppModel(kdf::Dictionary* dict) const {
    SettingsWriter out(dict);
    out.set(kMainTopDispTypeKey, kdf::Value(mainTopDispType_));
    out.set(kInputModel_DictListKey, kdf::Value(InputModel::dictListFromModelList(inputs_)));
    out.set(kOutputModel_DictListKey, kdf::Value(OutputModel::dictListFromModelList(outputs_)));
    out.set(kJobModel_DictListKey, kdf::Value(JobModel::dictListFromModelList(jobs_)));
    out.set(kInput_PanelSizeTypeKey, kdf::Value(inputPanelSizeType_));
    out.set(kOutput_PanelSizeTypeKey, kdf::Value(outputPanelSizeType_));
    out.set(kJob_PanelSizeTypeKey, kdf::Value(jobPanelSizeType_));
    if (!pluginInfoList_) return;
    // The plug-in objects live only in this process: only the flags are
    // written.
    kdf::Array flags;
    for (const kdf::Value& entry : *pluginInfoList_) {
        const auto* plugin = pluginEntry(entry);
        if (!plugin) continue;
        kdf::Dictionary settings{{kPluginIsValidKey, kdf::Value(pluginIsValid(plugin->second))}};
        flags.emplace_back(kdf::Dictionary{{plugin->first, kdf::Value(std::move(settings))}});
    }
    out.set(kPluginInfoListKey, kdf::Value(std::move(flags)));
}

void AppModel::loadDataByRestore(const AppModel* src, AppModel* dst) {
    if (!src || !dst || src == dst) return;
    dst->mainTopDispType_ = src->mainTopDispType_;
    dst->inputs_ = src->inputs_;
    dst->outputs_ = src->outputs_;
    dst->jobs_ = src->jobs_;
    dst->inputPanelSizeType_ = src->inputPanelSizeType_;
    dst->outputPanelSizeType_ = src->outputPanelSizeType_;
    dst->jobPanelSizeType_ = src->jobPanelSizeType_;
    if (!dst->pluginInfoList_) return;
    for (kdf::Value& entry : *dst->pluginInfoList_) {
        if (!pluginEntry(entry)) continue;
        kdf::Dictionary* d = entry.mutableDictionary();
        // Plain references: clang 14 cannot capture structured bindings in a lambda.
        const std::string& id = d->begin()->first;
        kdf::Value& settings = d->begin()->second;
        if (!src->pluginInfoList_) continue;
        const auto from = std::find_if(src->pluginInfoList_->begin(), src->pluginInfoList_->end(),
                                       [&](const kdf::Value& e) {
                                           const auto* p = pluginEntry(e);
                                           return p && p->first == id;
                                       });
        if (from == src->pluginInfoList_->end()) continue;
        const bool valid = pluginIsValid(pluginEntry(*from)->second);
        kdf::Dictionary updated = settings.dictionary() ? *settings.dictionary() : kdf::Dictionary();
        updated.insert_or_assign(kPluginIsValidKey, kdf::Value(valid));
        settings = kdf::Value(std::move(updated));
    }
}

PrefsModel::PrefsModel() : backupFilePath_(TV_Func::defaultDocumentFolder()) {}

PrefsModel::PrefsModel(const kdf::Dictionary* dict) : PrefsModel() {
    SettingsReader in(dict);
    in.readBool(kIsQLRResidingKey, isQLRResiding_);
    in.readBool(kIsShowPlugInScanKey, isShowPlugInScan_);
    in.readBool(kIsHideAppStartFromButtonKey, isHideAppStartFromButton_);
    std::string path;
    if (in.readString(kBackupFilePathKey, path)) backupFilePath_ = std::move(path);
}

void PrefsModel::savePrefsModel(kdf::Dictionary* dict) const {
    SettingsWriter out(dict);
    out.set(kIsQLRResidingKey, kdf::Value(isQLRResiding_));
    out.set(kIsShowPlugInScanKey, kdf::Value(isShowPlugInScan_));
    out.set(kIsHideAppStartFromButtonKey, kdf::Value(isHideAppStartFromButton_));
    if (backupFilePath_) out.set(kBackupFilePathKey, kdf::Value(*backupFilePath_));
}
