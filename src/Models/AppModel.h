// The root of the application's settings: the input, output and job panel
// lists, each list's panel size, the main window's last top view and the
// send-to plug-ins with their validity flags; and the preferences window's
// settings. Both load from and save to a settings dictionary or, given
// none, the standard user defaults; the first start takes the panels from
// the application bundle's preset lists.
#pragma once

#include "InputModel.h"
#include "JobModel.h"
#include "OutputModel.h"

#include <foundation/Value.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class AppModel {
public:
    static constexpr const char* kMainTopDispTypeKey = "App_MainTopDispTypeKey";
    static constexpr const char* kInputModel_DictListKey = "App_InputModel_DictListKey";
    static constexpr const char* kOutputModel_DictListKey = "App_OutputModel_DictListKey";
    static constexpr const char* kJobModel_DictListKey = "App_JobModel_DictListKey";
    static constexpr const char* kInput_PanelSizeTypeKey = "App_Input_PanelSizeTypeKey";
    static constexpr const char* kOutput_PanelSizeTypeKey = "App_Output_PanelSizeTypeKey";
    static constexpr const char* kJob_PanelSizeTypeKey = "App_Job_PanelSizeTypeKey";
    static constexpr const char* kPluginInfoListKey = "App_pluginInfoListKey";
    // Inside a plug-in entry {plug-in id: {...}}.
    static constexpr const char* kPluginObjectKey = "Plugin_Object_Key";
    static constexpr const char* kPluginIsValidKey = "Plugin_IsValid_Key";

    // The bundle's preset lists (arrays of panel dictionaries).
    static constexpr const char* kPresetInputList = "Preset_InputList.plist";
    static constexpr const char* kPresetOutputList = "Preset_OutputList.plist";
    static constexpr const char* kPresetJobList = "Preset_JobList.plist";

    // A preset list of the main bundle (empty when missing or not an
    // array), and the filters the model applies to it: an output naming a
    // plug-in that is not installed, a job with an output that can be served.
    static kdf::Array presetDictList(const char* fileName);
    static bool isOutputOfAbsentPlugin(const kdf::Value& output, const std::vector<std::string>& installed);
    static bool isJobWithUsableOutput(const kdf::Value& job, const std::vector<std::string>& installed);

    // The initial values: empty lists, size types 1, no plug-in list.
    AppModel() = default;
    // Loads from the dictionary (null: the standard user defaults). A list
    // whose key is missing comes from the bundle's presets, localised; from
    // the user defaults the last input and output panels are then selected.
    // Preset outputs of plug-ins that are not installed are dropped, and
    // preset jobs left without any usable output.
    explicit AppModel(const kdf::Dictionary* dict);

    // Writes every key (null: the user defaults, not synchronised). The
    // plug-in list only when there is one, and only its validity flags.
    void saveAppModel(kdf::Dictionary* dict) const;

    // Copies a restored model (a backup read into a new model) into the
    // live one: the view type, the lists (the same panel objects; the
    // destination's lists are its own), the size types, and each listed
    // plug-in's validity flag by plug-in id. The destination keeps its
    // plug-in objects and the plug-ins the source does not list. Nothing
    // happens when either is null.
    static void loadDataByRestore(const AppModel* src, AppModel* dst);

    int mainTopDispType() const { return mainTopDispType_; }
    void setMainTopDispType(int v) { mainTopDispType_ = v; }
    const std::vector<std::shared_ptr<InputModel>>& inputModel_List() const { return inputs_; }
    void setInputModel_List(std::vector<std::shared_ptr<InputModel>> v) { inputs_ = std::move(v); }
    const std::vector<std::shared_ptr<OutputModel>>& outputModel_List() const { return outputs_; }
    void setOutputModel_List(std::vector<std::shared_ptr<OutputModel>> v) { outputs_ = std::move(v); }
    const std::vector<std::shared_ptr<JobModel>>& jobModel_List() const { return jobs_; }
    void setJobModel_List(std::vector<std::shared_ptr<JobModel>> v) { jobs_ = std::move(v); }
    int input_PanelSizeType() const { return inputPanelSizeType_; }
    void setInput_PanelSizeType(int v) { inputPanelSizeType_ = v; }
    int output_PanelSizeType() const { return outputPanelSizeType_; }
    void setOutput_PanelSizeType(int v) { outputPanelSizeType_ = v; }
    int job_PanelSizeType() const { return jobPanelSizeType_; }
    void setJob_PanelSizeType(int v) { jobPanelSizeType_ = v; }
    // Entries {plug-in id: {"Plugin_Object_Key": pointer value,
    // "Plugin_IsValid_Key": flag}}; none until loaded or set.
    const std::optional<kdf::Array>& pluginInfoList() const { return pluginInfoList_; }
    void setPluginInfoList(std::optional<kdf::Array> v) { pluginInfoList_ = std::move(v); }
    // The plug-in id and entry of a list element; null when the element is
    // not a one-key dictionary.
    static const kdf::Dictionary::value_type* pluginInfoElement(const kdf::Value& element);
    // An entry's flag: a missing flag, or one of another kind, counts as valid.
    static bool isValidPluginInfo(const kdf::Value& entry);

private:
    int mainTopDispType_ = 0;
    std::vector<std::shared_ptr<InputModel>> inputs_;
    std::vector<std::shared_ptr<OutputModel>> outputs_;
    std::vector<std::shared_ptr<JobModel>> jobs_;
    int inputPanelSizeType_ = 1;
    int outputPanelSizeType_ = 1;
    int jobPanelSizeType_ = 1;
    std::optional<kdf::Array> pluginInfoList_;
};

class PrefsModel {
public:
    static constexpr const char* kIsQLRResidingKey = "Prefs_IsQLRResidingKey";
    static constexpr const char* kIsShowPlugInScanKey = "Prefs_IsShowPlugInScanKey";
    static constexpr const char* kIsHideAppStartFromButtonKey = "Prefs_IsHideAppStartFromButtonKey";
    static constexpr const char* kBackupFilePathKey = "Prefs_BackupFilePathKey";

    // Resident, no plug-in scanning, the window shown at a button start,
    // backups in the user's documents folder.
    PrefsModel();
    // The initial values, then each key present with a value of its kind
    // (null: the standard user defaults).
    explicit PrefsModel(const kdf::Dictionary* dict);
    // The three flags always, the backup folder when one is set.
    void savePrefsModel(kdf::Dictionary* dict) const;

    bool isQLRResiding() const { return isQLRResiding_; }
    void setIsQLRResiding(bool v) { isQLRResiding_ = v; }
    bool isShowPlugInScan() const { return isShowPlugInScan_; }
    void setIsShowPlugInScan(bool v) { isShowPlugInScan_ = v; }
    bool isHideAppStartFromButton() const { return isHideAppStartFromButton_; }
    void setIsHideAppStartFromButton(bool v) { isHideAppStartFromButton_ = v; }
    const std::optional<std::string>& backupFilePath() const { return backupFilePath_; }
    void setBackupFilePath(std::optional<std::string> v) { backupFilePath_ = std::move(v); }

private:
    bool isQLRResiding_ = true;
    bool isShowPlugInScan_ = false;
    bool isHideAppStartFromButton_ = false;
    std::optional<std::string> backupFilePath_;
};
