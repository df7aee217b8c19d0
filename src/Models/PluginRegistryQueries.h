// What the application asks about the loaded send-to plug-ins. The plug-in
// host implements the interface and registers it once it has loaded them;
// until then there are no plug-ins.
#pragma once

#include <foundation/Value.h>

#include <memory>
#include <optional>
#include <string_view>

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

protected:
    virtual std::optional<kdf::Value> pluginValue(std::string_view pluginID, int type) const = 0;
    virtual int pluginIndex(std::string_view pluginID) const = 0;
};
