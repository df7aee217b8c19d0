// The preferences window's three pages, with one plug-in listed.
#include "PrefsCntlr.h"

#include <PluginRegistryQueries.h>

#include <ui/Screenshots.h>

#include <QAction>
#include <QApplication>
#include <QTableWidget>
#include <QToolBar>

namespace {

class OnePlugin : public PluginRegistryQueries {
public:
    int countOfPluginInfoList() const override { return 1; }
    std::optional<std::string> pluginIDAtIndex(int index) const override {
        return index == 0 ? std::optional<std::string>("SendviaMail.plugin") : std::nullopt;
    }
    std::optional<kdf::Dictionary> pluginSubInfoWithPluginID(std::string_view id) const override {
        if (id != "SendviaMail.plugin") return std::nullopt;
        return kdf::Dictionary{{"Plugin_IsValid_Key", kdf::Value(true)}};
    }

protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        if (id != "SendviaMail.plugin") return std::nullopt;
        switch (type) {
        case 0: return kdf::Value("Mail");
        case 2: return kdf::Value("Attaches the scanned files to a new message");
        case 3: return kdf::Value("1.0.0");
        case 6: return kdf::Value(true);
        default: return std::nullopt;
        }
    }
    int pluginIndex(std::string_view id) const override { return id == "SendviaMail.plugin" ? 0 : -1; }
    bool pluginObjectPresent(std::string_view id) const override { return id == "SendviaMail.plugin"; }
};

// The tool frees the scene's window: each picture starts with a new
// controller, and nothing of a preview is written to the user's settings.
QWidget* prefsPage(const char* identifier, bool selectRow) {
    PrefsCntlr::discardPrefsCntlr();
    const auto previous = PluginRegistryQueries::current();
    PluginRegistryQueries::setCurrent(std::make_shared<OnePlugin>());
    auto* prefs = PrefsCntlr::sharedPrefsCntlr();
    prefs->setupPrefPluginTableView();
    prefs->runModalPrefs();
    QApplication::processEvents();
    if (auto* action = prefs->toolbar()->findChild<QAction*>(identifier)) action->trigger();
    if (selectRow) prefs->prefPluginTableView()->selectRow(0);
    PluginRegistryQueries::setCurrent(previous);
    return prefs->prefsPanel();
}

} // namespace

KD_SCREENSHOT_SCENE(prefsGeneral, "output/prefs-general", kdui::Direction::Both) {
    return {prefsPage("ToolItem_General_ID", false)};
}

KD_SCREENSHOT_SCENE(prefsPlugin, "output/prefs-plugin", kdui::Direction::Both) {
    return {prefsPage("ToolItem_Plugin_ID", true)};
}

KD_SCREENSHOT_SCENE(prefsMaintenance, "output/prefs-maintenance", kdui::Direction::Both) {
    return {prefsPage("ToolItem_Maintenance_ID", false)};
}
