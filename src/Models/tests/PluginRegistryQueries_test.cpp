// The plug-in objects by plug-in ID: what the callers get without a host,
// for a plug-in that is not loaded, and when a plug-in answers a failure.
#include "PluginRegistryQueries.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

class HostDouble : public PluginRegistryQueries {
public:
    std::map<std::string, int, std::less<>> results; // loaded plug-ins and the code they answer
    mutable std::vector<std::string> asked;

protected:
    std::optional<kdf::Value> pluginValue(std::string_view, int) const override { return std::nullopt; }
    int pluginIndex(std::string_view) const override { return -1; }
    bool pluginObjectPresent(std::string_view id) const override { return results.count(std::string(id)) != 0; }
    int pluginCopyID(std::string_view id, std::string_view guid, std::string* newID) const override {
        asked.push_back("copy " + std::string(id));
        *newID = std::string(guid) + "+"; // also on failure: the caller must not see it
        return results.find(id)->second;
    }
    int pluginCreateID(std::string_view id, std::string* newID) const override {
        asked.push_back("create " + std::string(id));
        *newID = "made";
        return results.find(id)->second;
    }
    int pluginDeleteID(std::string_view id, std::string_view) const override {
        asked.push_back("delete " + std::string(id));
        return results.find(id)->second;
    }
};

TEST(PluginObjects, AnswersByPluginID) {
    struct Case {
        const char* name;
        bool host;
        std::string id;
        int copyRc, createRc, deleteRc;
        std::string copied, created;
        bool present;
    };
    const std::vector<Case> cases{
        {"no host", false, "Mail.plugin", -1, -1, -1, "", "", false},
        {"empty id", true, "", -1, -1, -1, "", "", false},
        {"not loaded", true, "Gone.plugin", -1, -1, -1, "", "", false},
        {"fails", true, "Broken.plugin", 5, 5, 5, "", "", true},
        {"works", true, "Mail.plugin", 0, 0, 0, "g+", "made", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto host = std::make_shared<HostDouble>();
        host->results = {{"Mail.plugin", 0}, {"Broken.plugin", 5}};
        PluginRegistryQueries::setCurrent(c.host ? host : nullptr);
        std::string copied = "stale", created = "stale";
        EXPECT_EQ(PluginRegistryQueries::hasPluginObject(c.id), c.present);
        EXPECT_EQ(PluginRegistryQueries::copyID(c.id, "g", &copied), c.copyRc);
        EXPECT_EQ(copied, c.copied);
        EXPECT_EQ(PluginRegistryQueries::createID(c.id, &created), c.createRc);
        EXPECT_EQ(created, c.created);
        EXPECT_EQ(PluginRegistryQueries::deleteID(c.id, "g"), c.deleteRc);
        // A plug-in that is not loaded is never asked.
        EXPECT_EQ(host->asked.size(), c.present ? 3u : 0u);
        PluginRegistryQueries::switchIsValidInPluginInfoList(c.id, true);
        PluginRegistryQueries::checkAllOutputModelByPlugin();
    }
    PluginRegistryQueries::setCurrent(nullptr);
}

} // namespace
