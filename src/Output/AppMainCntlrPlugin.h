// The application's side of the send-to plug-ins: it loads the plug-in
// bundles of the application's PlugIns folder, creates and connects their
// principal objects, keeps the registry in the application model, answers
// every question about plug-ins, turns outputs of missing or disabled
// plug-ins into folder outputs, and moves the plug-ins' settings in and out
// of a backup. Registered, it is the application's PluginRegistryQueries.
//
// Ownership: the host owns every principal object it created until it is
// destroyed (after the last disconnect at termination); the registry's
// "Plugin_Object_Key" values only point at them, and every use of such a
// value is checked against the host's own objects first, so a stale copy of
// the registry never reaches freed memory. The editing copies of outputs
// hold handles (integers) of models the host keeps, never addresses.
//
// Everything runs on the main thread.
#pragma once

#include <PluginRegistryQueries.h>

#include <foundation/Bundle.h>
#include <foundation/Value.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class AppMainCntlr;
class AppModel;
class FileFormatPopUpButton;
class OutputModel;
class OutputTypePopUpButton;
class QMenu;
class QWidget;
class TvQLRPlugin2;

namespace qlr_output {

// The views of the main window and its setting window that the plug-in
// lists show in. Until the main window registers its own, there are none.
class PluginHostViews {
public:
    virtual ~PluginHostViews();
    // The setting window's output-type view (holding the pop-up 2202) and
    // file-format view (the pop-up 2210).
    virtual QWidget* outputTypeView() { return nullptr; }
    virtual QWidget* fileFormatView() { return nullptr; }
    // The main view with the menu buttons for a new output panel (1022) and
    // a new favourite (1040).
    virtual QWidget* mainView() { return nullptr; }
};

class PluginHost final : public PluginRegistryQueries {
public:
    static constexpr int kOutputTypePopUpTag = 2202;
    static constexpr int kFileFormatPopUpTag = 2210;
    static constexpr int kNewOutputMenuButtonTag = 1022;
    static constexpr int kNewFavoriteMenuButtonTag = 1040;
    // Keys of an editing copy's entries; "-1" stands for saving to a folder.
    static constexpr const char* kFolderEntryID = "-1";
    static constexpr const char* kDefOutputModelKey = "Plugin_Def_OutputModel_Key";
    static constexpr const char* kModOutputModelKey = "Plugin_Mod_OutputModel_Key";

    explicit PluginHost(AppMainCntlr& cntlr);
    ~PluginHost() override;
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Start-up: a host for the controller, registered as the application's
    // plug-in registry. Then PluginRegistryQueries::loadPlugins({}) loads
    // the plug-ins, checkPluginAndSetup() fills the windows' lists, and
    // disconnectAllPlugins() ends them at termination.
    static std::shared_ptr<PluginHost> install(AppMainCntlr& cntlr);

    void setViews(std::shared_ptr<PluginHostViews> views) { views_ = std::move(views); }

    // ---- Loading
    // The plug-ins of the running application's PlugIns folder.
    void setupPluginInfoList();
    // Each "<name>.plugin" folder of the folder, in name order, that loads
    // and makes an object of the plug-in interface is connected and
    // registered under its name; the others are left out silently. Nothing
    // when the model has no registry.
    void setupPluginInfoList(const std::string& folder);
    void setupPluginInfoList(AppModel& model, const std::string& folder);
    void checkPluginAndSetup();

    // ---- Queries
    std::optional<kdf::Dictionary>
    pluginSubInfoWithPluginID(std::string_view pluginID) const override;
    std::vector<std::string> pluginIDList() const;
    int countOfPluginInfoList() const override;
    std::optional<std::string> pluginIDAtIndex(int index) const override;
    TvQLRPlugin2* pluginObjectAtIndex(int index) const;
    int indexOfPluginInfoListByPluginID(std::string_view pluginID) const;
    TvQLRPlugin2* pluginObjectByID(std::string_view pluginID) const;
    std::optional<kdf::Value> valueForPluginIDWithType(std::string_view pluginID, int type) const;
    std::optional<std::vector<std::string>> supportedFileTypeList(std::string_view pluginID) const;
    std::optional<std::vector<int>> supportedFileTypeValueList(std::string_view pluginID) const;
    // The stored flag; a flag of another kind counts as YES.
    bool isValidPluginID(std::string_view pluginID) const;

    // ---- Flags and outputs
    void switchIsValidInPluginInfoList(std::string_view pluginID, bool isValid);
    void checkAllOutputModelByPlugin();

    // ---- Editing copies
    void setupEditingPluginInfoList(const std::vector<std::shared_ptr<OutputModel>>& outputs);
    std::shared_ptr<OutputModel> pluginDefData(const OutputModel& output,
                                               std::string_view pluginID) const;
    std::shared_ptr<OutputModel> pluginModData(const OutputModel& output,
                                               std::string_view pluginID) const;
    void
    clearExceptTargetFileFormatType(const std::vector<std::shared_ptr<OutputModel>>& outputs) const;
    void deleteDisusedPluginID(const std::vector<std::shared_ptr<OutputModel>>& outputs);

    // ---- connect / disconnect and the backup
    void connectOrDisconnectForAllPlugin(bool isConnect) const;
    std::optional<kdf::Bytes> pluginsData() const override;
    void loadPluginsData(const std::optional<kdf::Bytes>& data) const override;
    int showCommonSettingWithParentWindow(std::string_view pluginID,
                                          QWidget* parent) const override;

protected:
    // PluginRegistryQueries
    std::optional<kdf::Value> pluginValue(std::string_view pluginID, int type) const override;
    int pluginIndex(std::string_view pluginID) const override;
    bool pluginObjectPresent(std::string_view pluginID) const override;
    int pluginCopyID(std::string_view pluginID, std::string_view guid,
                     std::string* newID) const override;
    int pluginDeleteID(std::string_view pluginID, std::string_view guid) const override;
    int pluginCreateID(std::string_view pluginID, std::string* newID) const override;
    void pluginSwitchIsValid(std::string_view pluginKey, bool isValid) const override;
    void pluginCheckAllOutputModels() const override;
    int pluginExecuteOperation(std::string_view pluginID, std::string_view guid,
                               const std::vector<std::string>& fileList, bool fileDelete,
                               QWidget* parent) const override;
    int pluginIsSupportLinkButton(std::string_view pluginID, std::string_view guid,
                                  bool* enabled) const override;
    int pluginCopyLinkLable(std::string_view pluginID, std::string_view guid,
                            std::optional<std::string>* label) const override;
    void pluginSetupInfoList(AppModel* appModel) const override;
    void pluginCheckAndSetup() const override;
    void pluginConnectOrDisconnectAll(bool isConnect) const override;
    void pluginsLoad(std::string_view bundlePath) const override;
    TvQLRPlugin2* pluginObject(std::string_view pluginID) const override;
    std::vector<std::string> pluginIDs() const override;
    std::optional<std::vector<std::string>>
    pluginFileTypes(std::string_view pluginID) const override;
    void
    pluginsSetupEditing(const std::vector<std::shared_ptr<OutputModel>>& outputs) const override;
    std::shared_ptr<OutputModel> pluginEditingModel(const OutputModel& output,
                                                    std::string_view pluginID,
                                                    bool modified) const override;
    void pluginsClearOtherFormats(
        const std::vector<std::shared_ptr<OutputModel>>& outputs) const override;
    void
    pluginsDeleteDisused(const std::vector<std::shared_ptr<OutputModel>>& outputs) const override;

private:
    // The registry's element at the index as (ID, entry); null when there
    // is none or it does not have exactly one key.
    const kdf::Dictionary::value_type* elementAt(int index) const;
    const kdf::Array* registry() const;
    // The object a registry entry points at, when it is one of ours.
    TvQLRPlugin2* objectOfEntry(const kdf::Value& entry) const;
    OutputTypePopUpButton* outputTypePopUp() const;
    FileFormatPopUpButton* fileFormatPopUp() const;
    QMenu* menuOfButton(int tag) const;
    // Every output of the application: its own and every job's, and with
    // withRunningJob those of the running scan's job copy.
    std::vector<std::shared_ptr<OutputModel>> allOutputModels(bool withRunningJob) const;
    // The editing models: one handle per model, never reused.
    std::int64_t keepEditingModel(std::shared_ptr<OutputModel> model);
    void releaseEditingCopy(const OutputModel& output);

    AppMainCntlr& cntlr_;
    std::shared_ptr<PluginHostViews> views_;
    // Never unloaded: the bundles and the objects live as long as the host.
    std::vector<std::shared_ptr<const kdf::Bundle>> bundles_;
    std::vector<std::unique_ptr<TvQLRPlugin2>> objects_;
    std::map<std::int64_t, std::shared_ptr<OutputModel>> editingModels_;
    std::int64_t nextEditingHandle_ = 1;
};

} // namespace qlr_output
