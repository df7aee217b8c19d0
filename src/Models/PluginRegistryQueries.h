// What the application asks about the loaded send-to plug-ins. The plug-in
// host implements the interface and registers it once it has loaded them;
// until then there are no plug-ins.
#pragma once

#include <foundation/Value.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class AppModel;
class QWidget;

class PluginRegistryQueries {
public:
    virtual ~PluginRegistryQueries();

    // Registers the host's answers; null goes back to "no plug-ins".
    static void setCurrent(std::shared_ptr<const PluginRegistryQueries> queries);
    static std::shared_ptr<const PluginRegistryQueries> current();

    // Value types of a plug-in: 0 to 4 are strings (1 the title, 4 the icon
    // path), 5 to 10 booleans.
    static constexpr int kFirstStringType = 0;
    static constexpr int kLastStringType = 4;
    static constexpr int kLastBoolType = 10;
    static constexpr int kTitleType = 1;
    static constexpr int kIconPathType = 4;

    // The plug-in's value of that type; none for an unknown id, a type
    // outside 0 to 10 or an answer of the wrong kind.
    static std::optional<kdf::Value> valueForPluginIDWithType(std::string_view pluginID, int type);
    // The plug-in's place in the plug-in list; -1 when it is not listed.
    static int indexOfPluginInfoListByPluginID(std::string_view pluginID);

    // ---- The plug-in objects by plug-in ID (main thread). A result code is
    // the plug-in's (0: done); without a plug-in object it is -1.

    // Whether a plug-in object is loaded for the ID.
    static bool hasPluginObject(std::string_view pluginID);
    // Copies the settings of the plug-in's user ID; newID gets the copy's ID.
    static int copyID(std::string_view pluginID, std::string_view guid, std::string* newID);
    static int deleteID(std::string_view pluginID, std::string_view guid);
    // Makes settings for a new output; newID gets their ID.
    static int createID(std::string_view pluginID, std::string* newID);
    // Marks the plug-in (by its key in the plug-in list) valid or invalid.
    static void switchIsValidInPluginInfoList(std::string_view pluginKey, bool isValid);
    // Checks every output's plug-in against the loaded ones.
    static void checkAllOutputModelByPlugin();
    // Hands the files to the plug-in's operation for its user ID; with
    // fileDelete the plug-in removes them when it is done. parent: the
    // window its own windows attach to (may be null).
    static int executeOperationWithID(std::string_view pluginID, std::string_view guid,
                                      const std::vector<std::string>& fileList, bool fileDelete, QWidget* parent);
    // Whether the plug-in offers a link for its user ID (enabled gets the
    // answer, NO on failure), and the link's text (none unless it answers
    // 0 with a text). Without a plug-in object the result is -1.
    static int isSupportLinkButton(std::string_view pluginID, std::string_view guid, bool* enabled);
    static int copyLinkLable(std::string_view pluginID, std::string_view guid, std::optional<std::string>* label);

protected:
    virtual std::optional<kdf::Value> pluginValue(std::string_view pluginID, int type) const = 0;
    virtual int pluginIndex(std::string_view pluginID) const = 0;
    // Until the host answers them: no plug-in objects, nothing to switch or
    // check.
    virtual bool pluginObjectPresent(std::string_view /*pluginID*/) const { return false; }
    virtual int pluginCopyID(std::string_view /*pluginID*/, std::string_view /*guid*/, std::string* /*newID*/) const {
        return -1;
    }
    virtual int pluginDeleteID(std::string_view /*pluginID*/, std::string_view /*guid*/) const { return -1; }
    virtual int pluginCreateID(std::string_view /*pluginID*/, std::string* /*newID*/) const { return -1; }
    virtual void pluginSwitchIsValid(std::string_view /*pluginKey*/, bool /*isValid*/) const {}
    virtual void pluginCheckAllOutputModels() const {}
    virtual int pluginExecuteOperation(std::string_view /*pluginID*/, std::string_view /*guid*/,
                                       const std::vector<std::string>& /*fileList*/, bool /*fileDelete*/,
                                       QWidget* /*parent*/) const {
        return -1;
    }

public:
    // ---- Start-up and termination (main thread).
    // Loads the installed plug-ins into the application model's plug-in
    // list, creates their principal objects and connects them.
    static void setupPluginInfoList(AppModel* appModel);
    // Checks the outputs against the loaded plug-ins and rebuilds the menus
    // that depend on them.
    static void checkPluginAndSetup();
    static void connectOrDisconnectForAllPlugin(bool isConnect);

protected:
    virtual void pluginSetupInfoList(AppModel* /*appModel*/) const {}
    virtual void pluginCheckAndSetup() const {}
    virtual void pluginConnectOrDisconnectAll(bool /*isConnect*/) const {}
    virtual int pluginIsSupportLinkButton(std::string_view /*pluginID*/, std::string_view /*guid*/,
                                          bool* /*enabled*/) const {
        return -1;
    }
    virtual int pluginCopyLinkLable(std::string_view /*pluginID*/, std::string_view /*guid*/,
                                    std::optional<std::string>* /*label*/) const {
        return -1;
    }
};
