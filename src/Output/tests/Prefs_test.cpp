// The preferences window offscreen: backup and restore against a recording
// plug-in host, the file-version check, alerts after a zero delay, the
// reset's relaunch request, page switching and the plug-in table.
#include "PrefsCntlr.h"

#include "AppMainCntlrFakes.h"

#include <AppModel.h>
#include <QlrUtilsMethod.h>
#include <QlrUtilsMethodUI.h>

#include <foundation/File.h>
#include <foundation/PropertyList.h>
#include <foundation/UserFolders.h>

#include <ui/QtRunLoop.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QAbstractProxyModel>
#include <QFileSystemModel>
#include <QTimer>
#include <QImage>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolBar>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Plug-ins the way the host keeps them, recording every call in order.
class RecordingHost : public PluginRegistryQueries {
public:
    struct Plugin {
        std::string id, name, version, description, icon;
        bool common = true;
        bool valid = true;
        std::string settings;
    };
    mutable std::vector<Plugin> plugins;
    mutable apptest::CallLog calls;
    int commonResult = 0;
    std::function<void()> onCommonSetting;

    const Plugin* find(std::string_view id) const {
        for (const auto& p : plugins)
            if (p.id == id) return &p;
        return nullptr;
    }
    Plugin* find(std::string_view id) {
        for (auto& p : plugins)
            if (p.id == id) return &p;
        return nullptr;
    }

    int countOfPluginInfoList() const override { return int(plugins.size()); }
    std::optional<std::string> pluginIDAtIndex(int index) const override {
        if (index < 0 || index >= int(plugins.size())) return std::nullopt;
        return plugins[std::size_t(index)].id;
    }
    std::optional<kdf::Dictionary> pluginSubInfoWithPluginID(std::string_view id) const override {
        const Plugin* p = find(id);
        if (!p) return std::nullopt;
        return kdf::Dictionary{{AppModel::kPluginIsValidKey, kdf::Value(p->valid)}};
    }
    int showCommonSettingWithParentWindow(std::string_view id, QWidget* parent) const override {
        const bool flag = AppMainCntlr::current() && AppMainCntlr::current()->isShowedPluginWin();
        calls.add("common:" + std::string(id) + (flag ? ":shown" : ":not-shown") + (parent ? ":parent" : ""));
        if (onCommonSetting) onCommonSetting();
        return commonResult;
    }
    std::optional<kdf::Bytes> pluginsData() const override {
        connectAll(false);
        connectAll(true);
        kdf::Dictionary all;
        for (const auto& p : plugins) all[p.id] = kdf::Value(p.settings);
        return QlrUtilsMethod::encodeDictToData(kdf::Value(all));
    }
    void loadPluginsData(const std::optional<kdf::Bytes>& data) const override {
        connectAll(false);
        const auto decoded = QlrUtilsMethod::decodeDataToDict(data);
        if (const kdf::Dictionary* d = decoded ? decoded->dictionary() : nullptr)
            for (auto& p : plugins)
                if (const kdf::Value* v = kdf::find(*d, p.id))
                    if (v->string()) p.settings = *v->string();
        connectAll(true);
        calls.add("checkAll");
    }

protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        const Plugin* p = find(id);
        if (!p) return std::nullopt;
        switch (type) {
        case 0: return p->name.empty() ? std::nullopt : std::optional<kdf::Value>(p->name);
        case 2: return p->description.empty() ? std::nullopt : std::optional<kdf::Value>(p->description);
        case 3: return p->version.empty() ? std::nullopt : std::optional<kdf::Value>(p->version);
        case 4: return p->icon.empty() ? std::nullopt : std::optional<kdf::Value>(p->icon);
        case 6: return kdf::Value(p->common);
        default: return std::nullopt;
        }
    }
    int pluginIndex(std::string_view id) const override {
        for (std::size_t i = 0; i < plugins.size(); ++i)
            if (plugins[i].id == id) return int(i);
        return -1;
    }
    bool pluginObjectPresent(std::string_view id) const override { return find(id) != nullptr; }
    void pluginSwitchIsValid(std::string_view id, bool valid) const override {
        calls.add("valid:" + std::string(id) + ":" + (valid ? "1" : "0"));
        for (auto& p : plugins)
            if (p.id == id) p.valid = valid;
    }
    void pluginCheckAllOutputModels() const override { calls.add("checkAll"); }

private:
    void connectAll(bool connect) const {
        for (const auto& p : plugins) calls.add((connect ? "connect:" : "disconnect:") + p.id);
    }
};

class Prefs : public apptest::ControllerTest {
protected:
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    std::shared_ptr<AppModel> app = std::make_shared<AppModel>();
    PrefsCntlr* prefs = nullptr;
    std::optional<std::string> nextPath;
    std::vector<QFileDialog::AcceptMode> panels;
    fs::path docs;

    void SetUp() override {
        ControllerTest::SetUp();
        kdui::installQtRunLoopDriver();
        QlrUtilsMethod::installQtImageProvider();
        PluginRegistryQueries::setCurrent(host);
        host->plugins = {{"SendviaMail.plugin", "Mail", "1.2", "Send by mail", "", true, true, "mail-1"},
                         {"SendviaApp.plugin", "Open in app", "2.0", "Open the files", "", false, true, "app-1"}};
        app->setOutputModel_List({std::make_shared<OutputModel>(), std::make_shared<OutputModel>()});
        app->setMainTopDispType(1);
        cntlr->setAppModel(app);
        AppMainCntlr::setCurrent(cntlr.get());
        docs = kdf::documentsFolder();
        fs::create_directories(docs);
        PrefsCntlr::setFilePanelRunner([this](QFileDialog& dialog) {
            panels.push_back(dialog.acceptMode());
            return nextPath;
        });
        prefs = PrefsCntlr::sharedPrefsCntlr();
    }
    void TearDown() override {
        PrefsCntlr::terminatePrefsCntlr();
        PrefsCntlr::setFilePanelRunner(nullptr);
        AppMainCntlr::setCurrent(nullptr);
        ControllerTest::TearDown();
    }
    void open() {
        prefs->runModalPrefs();
        ASSERT_TRUE(apptest::runUntil([&] { return prefs->prefsPanel()->isActiveWindow(); }, 5));
    }
    template <class T> T* at(int tag) const {
        auto* w = qobject_cast<T*>(prefs->control(tag));
        EXPECT_NE(w, nullptr) << tag;
        return w;
    }
    void press(int tag) { at<QAbstractButton>(tag)->click(); }
    std::vector<std::string> alertTexts() {
        std::vector<std::string> out;
        for (const auto& r : alerts->shown) out.push_back(r.informativeText);
        return out;
    }
    std::string backup(const std::string& name) {
        nextPath = (docs / name).string();
        press(PrefsCntlr::kSaveBackupTag);
        apptest::runOneTurn();
        return *nextPath;
    }
    void restore(const std::string& path) {
        nextPath = path;
        alerts->answer = 0; // OK of the confirmation
        press(PrefsCntlr::kLoadBackupTag);
        apptest::runOneTurn();
    }
};

TEST_F(Prefs, BackupAndRestoreRoundTrip) {
    open();
    press(PrefsCntlr::kShowPlugInScanCheckTag);
    ASSERT_TRUE(prefs->prefsModel()->isShowPlugInScan());
    const std::string file = backup("settings.plist");
    EXPECT_EQ(alertTexts(), std::vector<std::string>{"Cnfm_BackUpSuccess"});
    EXPECT_EQ(panels, std::vector{QFileDialog::AcceptSave});
    EXPECT_EQ(prefs->prefsModel()->backupFilePath(), docs.string());

    // What the file holds.
    const auto stored = kdf::readPropertyListFile(file);
    ASSERT_TRUE(stored && stored->dictionary());
    const kdf::Dictionary& d = *stored->dictionary();
    EXPECT_EQ(kdf::find(d, "FileVerKey")->toInteger(), 1);
    EXPECT_EQ(kdf::find(d, "Prefs_IsShowPlugInScanKey")->toBool(), true);
    EXPECT_EQ(kdf::find(d, "Prefs_BackupFilePathKey")->string() ? *kdf::find(d, "Prefs_BackupFilePathKey")->string() : "",
              docs.string());
    ASSERT_NE(kdf::find(d, AppModel::kOutputModel_DictListKey), nullptr);
    ASSERT_NE(kdf::find(d, "Plugins"), nullptr);
    EXPECT_NE(kdf::find(d, "Plugins")->bytes(), nullptr);

    // Everything changes...
    press(PrefsCntlr::kShowPlugInScanCheckTag);
    press(PrefsCntlr::kResidentCheckTag);
    app->setOutputModel_List({});
    app->setMainTopDispType(0);
    host->plugins[0].settings = "mail-2";
    prefs->prefsModel()->setBackupFilePath(std::string("/nowhere"));
    alerts->shown.clear();
    host->calls.take();

    // ...and comes back.
    restore(file);
    EXPECT_EQ(alertTexts(), (std::vector<std::string>{"Cnfm_RestoreYesOrNo", "Cnfm_RestoreSuccess"}));
    EXPECT_TRUE(prefs->prefsModel()->isShowPlugInScan());
    EXPECT_TRUE(prefs->prefsModel()->isQLRResiding());
    EXPECT_TRUE(at<QCheckBox>(PrefsCntlr::kShowPlugInScanCheckTag)->isChecked());
    EXPECT_TRUE(at<QCheckBox>(PrefsCntlr::kResidentCheckTag)->isChecked());
    // The folder just chosen stays, not the one in the file.
    EXPECT_EQ(prefs->prefsModel()->backupFilePath(), docs.string());
    EXPECT_EQ(app->outputModel_List().size(), 2u);
    EXPECT_EQ(app->mainTopDispType(), 1);
    EXPECT_EQ(host->plugins[0].settings, "mail-1");
    EXPECT_EQ(host->plugins[1].settings, "app-1");
    const auto calls = host->calls.entries();
    const std::vector<std::string> expected{"checkAll", // the preferences re-applied
                                            "disconnect:SendviaMail.plugin", "disconnect:SendviaApp.plugin",
                                            "connect:SendviaMail.plugin",    "connect:SendviaApp.plugin",
                                            "checkAll"};
    EXPECT_EQ(calls, expected);
}

TEST_F(Prefs, RestoreRefusesForeignAndDamagedFiles) {
    open();
    const std::string good = backup("good.plist");
    alerts->shown.clear();
    const auto original = kdf::readPropertyListFile(good);
    ASSERT_TRUE(original);

    auto variant = [&](const std::string& name, const std::function<void(kdf::Dictionary&)>& edit) {
        kdf::Value v = *original;
        edit(*v.mutableDictionary());
        const std::string path = (docs / name).string();
        EXPECT_TRUE(kdf::writePropertyListFile(path, v));
        return path;
    };
    const std::string otherVersion = variant("other.plist", [](auto& d) { d["FileVerKey"] = kdf::Value(7); });
    const std::string noVersion = variant("none.plist", [](auto& d) { d.erase("FileVerKey"); });
    const std::string textVersion = variant("text.plist", [](auto& d) { d["FileVerKey"] = kdf::Value("1"); });
    const std::string arrayFile = (docs / "array.plist").string();
    ASSERT_TRUE(kdf::writePropertyListFile(arrayFile, kdf::Value(kdf::Array{kdf::Value(1)})));
    const std::string garbage = (docs / "garbage.plist").string();
    std::ofstream(garbage) << "not a property list";
    const std::string huge = (docs / "huge.plist").string();
    {
        std::ofstream out(huge);
        out << std::string(PrefsCntlr::kMaxBackupBytes + 1, ' ');
    }

    press(PrefsCntlr::kShowPlugInScanCheckTag); // on: the backups hold off
    struct Case {
        std::string path;
        std::vector<std::string> alerts;
    } cases[] = {{otherVersion, {"Cnfm_RestoreYesOrNo", "Err_NotGetSetting"}},
                 {noVersion, {"Cnfm_RestoreYesOrNo", "Err_NotGetSetting"}},
                 {textVersion, {"Cnfm_RestoreYesOrNo", "Err_NotGetSetting"}},
                 {arrayFile, {"Cnfm_RestoreYesOrNo"}},
                 {garbage, {"Cnfm_RestoreYesOrNo"}},
                 {huge, {"Cnfm_RestoreYesOrNo"}}};
    for (const auto& c : cases) {
        alerts->shown.clear();
        host->calls.take();
        app->setMainTopDispType(5);
        restore(c.path);
        EXPECT_EQ(alertTexts(), c.alerts) << c.path;
        EXPECT_TRUE(prefs->prefsModel()->isShowPlugInScan()) << c.path;
        EXPECT_EQ(app->mainTopDispType(), 5) << c.path;
        EXPECT_TRUE(host->calls.entries().empty()) << c.path;
    }
}

TEST_F(Prefs, PluginsDataOnlyAsDictionary) {
    open();
    const std::string good = backup("plugins.plist");
    kdf::Value v = *kdf::readPropertyListFile(good);
    auto* d = v.mutableDictionary();
    (*d)["Plugins"] = kdf::Value("not data");
    const std::string textPlugins = (docs / "text.plist").string();
    ASSERT_TRUE(kdf::writePropertyListFile(textPlugins, v));
    (*d)["Plugins"] = kdf::Value(*QlrUtilsMethod::encodeDictToData(kdf::Value(kdf::Array{})));
    const std::string arrayPlugins = (docs / "array.plist").string();
    ASSERT_TRUE(kdf::writePropertyListFile(arrayPlugins, v));
    for (const auto& path : {textPlugins, arrayPlugins}) {
        host->calls.take();
        alerts->shown.clear();
        restore(path);
        EXPECT_EQ(alertTexts(), (std::vector<std::string>{"Cnfm_RestoreYesOrNo", "Cnfm_RestoreSuccess"}));
        EXPECT_EQ(host->calls.entries(), std::vector<std::string>{"checkAll"}) << path;
    }
}

TEST_F(Prefs, CancelledConfirmationOpensNoPanel) {
    open();
    alerts->answer = 1; // Cancel
    nextPath = (docs / "x.plist").string();
    press(PrefsCntlr::kLoadBackupTag);
    apptest::runOneTurn();
    EXPECT_TRUE(panels.empty());
    EXPECT_EQ(alertTexts(), std::vector<std::string>{"Cnfm_RestoreYesOrNo"});
}

TEST_F(Prefs, FailedBackupWriteKeepsWhatWasThere) {
    open();
    // A folder in the way of the file, and (where permissions bind) a
    // read-only folder holding an earlier backup.
    const fs::path inTheWay = docs / "taken.plist";
    fs::create_directories(inTheWay);
    std::ofstream((inTheWay / "keep").string()) << "kept";
    const fs::path locked = docs / "locked";
    fs::create_directories(locked);
    std::ofstream((locked / "b.plist").string()) << "earlier backup";
    struct Case {
        fs::path target, kept;
        std::string content;
    };
    std::vector<Case> cases{{inTheWay, inTheWay / "keep", "kept"}};
    if (::geteuid() != 0) {
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
        cases.push_back({locked / "b.plist", locked / "b.plist", "earlier backup"});
    }
    for (const auto& c : cases) {
        alerts->shown.clear();
        nextPath = c.target.string();
        press(PrefsCntlr::kSaveBackupTag);
        // Shown only after a zero delay, not inside the action.
        EXPECT_TRUE(alerts->shown.empty());
        apptest::runOneTurn();
        EXPECT_EQ(alertTexts(), std::vector<std::string>{"Err_RightOfAccessFile"}) << c.target;
        EXPECT_EQ(alerts->shown.at(0).style, TV_Message::kCriticalAlertStyle);
        EXPECT_EQ(kdf::readWholeFile(c.kept.string(), 100), std::optional<std::string>(c.content)) << c.target;
    }
    fs::permissions(locked, fs::perms::owner_all, fs::perm_options::replace);
}

TEST_F(Prefs, SavePanelIsQtsOwnAndHidesLibraryFolders) {
    PrefsCntlr::setFilePanelRunner(nullptr);
    fs::create_directories(docs / "Library");
    fs::create_directories(docs / "Scans");
    open();
    bool nonNative = false, libraryListed = true, scansListed = false;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = nullptr;
        apptest::runUntil([&] { return (dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())); }, 5);
        if (!dialog) return;
        nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
        auto* proxy = dialog->proxyModel();
        auto* files = proxy ? qobject_cast<QFileSystemModel*>(proxy->sourceModel()) : nullptr;
        if (files) {
            const QString scans = QString::fromStdString((docs / "Scans").string());
            const QString library = QString::fromStdString((docs / "Library").string());
            apptest::runUntil([&] { return proxy->mapFromSource(files->index(scans)).isValid(); }, 5);
            scansListed = proxy->mapFromSource(files->index(scans)).isValid();
            libraryListed = files->index(library).isValid() && proxy->mapFromSource(files->index(library)).isValid();
        }
        dialog->selectFile(QString::fromStdString((docs / "Scans" / "chosen.plist").string()));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    press(PrefsCntlr::kSaveBackupTag);
    apptest::runOneTurn();
    EXPECT_TRUE(nonNative);
    EXPECT_TRUE(scansListed);
    EXPECT_FALSE(libraryListed);
    EXPECT_TRUE(fs::exists(docs / "Scans" / "chosen.plist"));
    EXPECT_EQ(prefs->prefsModel()->backupFilePath(), (docs / "Scans").string());
}

TEST_F(Prefs, PanelsRefuseHiddenAndTemporaryFolders) {
    open();
    const fs::path hidden = docs / ".secret";
    fs::create_directories(hidden);
    const fs::path temporary = *kdf::userTemporaryFolder();
    for (const std::string& path : {(hidden / "b.plist").string(), (temporary / "b.plist").string()}) {
        nextPath = path;
        press(PrefsCntlr::kSaveBackupTag);
        apptest::runOneTurn();
        EXPECT_FALSE(fs::exists(path)) << path;
    }
    EXPECT_TRUE(alerts->shown.empty());
}

TEST_F(Prefs, ResetAsksThenRequestsRelaunch) {
    open();
    alerts->answer = 1;
    press(PrefsCntlr::kInitializeTag);
    EXPECT_FALSE(cntlr->isTerminateByInitInPrefs());
    alerts->answer = 0;
    alerts->shown.clear();
    press(PrefsCntlr::kInitializeTag);
    ASSERT_EQ(alerts->shown.size(), 2u);
    EXPECT_EQ(alerts->shown[1].informativeText, "Cnfm_RelaunchApp");
    EXPECT_TRUE(cntlr->isTerminateByInitInPrefs());
}

TEST_F(Prefs, ToolbarOrderAndPageSwitchKeepsTopEdge) {
    using V = std::vector<QString>;
    EXPECT_EQ(PrefsCntlr::identifierListOfToolbar(0x10F0, false),
              (V{"ToolItem_General_ID", "ToolItem_Plugin_ID", "ToolItem_Maintenance_ID"}));
    EXPECT_EQ(PrefsCntlr::identifierListOfToolbar(0x1060, true),
              (V{"ToolItem_General_ID", "ToolItem_Plugin_ID", "ToolItem_Maintenance_ID"}));
    EXPECT_EQ(PrefsCntlr::identifierListOfToolbar(0x1060, false),
              (V{"", "ToolItem_Maintenance_ID", "ToolItem_Plugin_ID", "ToolItem_General_ID"}));

    open();
    QWidget* panel = prefs->prefsPanel();
    auto* tabs = panel->findChild<QStackedWidget*>();
    const int top = panel->geometry().top();
    const int width = panel->width();
    EXPECT_EQ(panel->height(), prefs->titleBarHeight() + prefs->pageRect(0).height());
    for (int page : {1, 2, 0}) {
        const char* ids[] = {"ToolItem_General_ID", "ToolItem_Plugin_ID", "ToolItem_Maintenance_ID"};
        prefs->toolbar()->findChild<QAction*>(ids[page])->trigger();
        EXPECT_EQ(tabs->currentIndex(), page);
        EXPECT_EQ(panel->geometry().top(), top);
        EXPECT_EQ(panel->width(), width);
        EXPECT_EQ(panel->height(), prefs->titleBarHeight() + prefs->pageRect(page).height());
    }
    // Page areas: the controls' extent plus 60.
    EXPECT_NE(prefs->pageRect(0).height(), prefs->pageRect(1).height());
    // Not the key window: no switch.
    auto* other = new QWidget;
    other->show();
    other->activateWindow();
    ASSERT_TRUE(apptest::runUntil([&] { return !panel->isActiveWindow(); }, 5));
    prefs->toolbar()->findChild<QAction*>("ToolItem_Plugin_ID")->trigger();
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_TRUE(prefs->toolbar()->findChild<QAction*>("ToolItem_General_ID")->isChecked());
    delete other;
}

TEST_F(Prefs, TextsTakeTheirFittedLineAndAppName) {
    const QString resident = at<QCheckBox>(PrefsCntlr::kResidentCheckTag)->text();
    EXPECT_EQ(resident, "Prefs_QlrStationedChkBx");
    // The rule beside a section title starts 5 after it and keeps its right end.
    auto* title = prefs->control(PrefsCntlr::kBackupTextTag);
    auto* rule = title->parentWidget()->findChild<QWidget*>("backupLine");
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->x(), title->geometry().right() + 1 + 5);
    EXPECT_EQ(rule->geometry().right(), 539);
    // The hidden device part leaves no gap.
    EXPECT_LT(prefs->control(PrefsCntlr::kInitializeTextTag)->y(), 40);
}

// ---- The plug-in table

class PluginTable : public Prefs {
protected:
    QTableWidget* table() { return prefs->prefPluginTableView(); }
    void openPluginPage() {
        open();
        prefs->toolbar()->findChild<QAction*>("ToolItem_Plugin_ID")->trigger();
    }
    bool shown(int tag) { return !prefs->control(tag)->isHidden(); }
};

TEST_F(PluginTable, EmptyRegistryHidesButtons) {
    host->plugins.clear();
    prefs->setupPrefPluginTableView();
    openPluginPage();
    EXPECT_EQ(table()->rowCount(), 0);
    EXPECT_FALSE(shown(PrefsCntlr::kPluginSettingTag));
    EXPECT_FALSE(shown(PrefsCntlr::kPluginValidTag));
    PluginRegistryQueries::setCurrent(nullptr);
    prefs->setupPrefPluginTableView();
    EXPECT_EQ(table()->rowCount(), 0);
}

TEST_F(PluginTable, RowsAndButtonsBySelection) {
    host->plugins[1].version.clear();
    host->plugins[1].description.clear();
    host->plugins[1].valid = false;
    openPluginPage();
    ASSERT_EQ(table()->rowCount(), 2);
    EXPECT_EQ(table()->item(0, 0)->text(), "Mail");
    EXPECT_EQ(table()->item(0, 1)->text(), "1.2");
    EXPECT_EQ(table()->item(0, 2)->text(), "Prefs_PluginValidStr");
    EXPECT_EQ(table()->item(0, 3)->text(), "Send by mail");
    EXPECT_EQ(table()->item(1, 1)->text(), "");
    EXPECT_EQ(table()->item(1, 2)->text(), "Prefs_PluginInValidStr");
    EXPECT_EQ(table()->item(1, 3)->text(), "");
    EXPECT_FALSE(shown(PrefsCntlr::kPluginSettingTag));

    table()->selectRow(0);
    EXPECT_TRUE(shown(PrefsCntlr::kPluginSettingTag));
    EXPECT_TRUE(shown(PrefsCntlr::kPluginValidTag));
    EXPECT_EQ(at<QPushButton>(PrefsCntlr::kPluginValidTag)->text(), "Prefs_PluginInValidBtn");
    // Without common settings only the enable button.
    table()->selectRow(1);
    EXPECT_FALSE(shown(PrefsCntlr::kPluginSettingTag));
    EXPECT_TRUE(shown(PrefsCntlr::kPluginValidTag));
    EXPECT_EQ(at<QPushButton>(PrefsCntlr::kPluginValidTag)->text(), "Prefs_PluginValidBtn");
    table()->clearSelection();
    EXPECT_FALSE(shown(PrefsCntlr::kPluginValidTag));
}

TEST_F(PluginTable, DisablingAsksEnablingDoesNot) {
    openPluginPage();
    table()->selectRow(0);
    alerts->answer = 1; // Cancel
    press(PrefsCntlr::kPluginValidTag);
    EXPECT_EQ(alertTexts(), std::vector<std::string>{"Cnfm_InvalidPluginYesOrNo"});
    EXPECT_TRUE(host->calls.entries().empty());
    EXPECT_TRUE(host->plugins[0].valid);

    alerts->answer = 0;
    alerts->shown.clear();
    press(PrefsCntlr::kPluginValidTag);
    EXPECT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(host->calls.take(), (std::vector<std::string>{"valid:SendviaMail.plugin:0", "checkAll"}));
    EXPECT_EQ(table()->item(0, 2)->text(), "Prefs_PluginInValidStr");
    EXPECT_EQ(at<QPushButton>(PrefsCntlr::kPluginValidTag)->text(), "Prefs_PluginValidBtn");

    alerts->shown.clear();
    press(PrefsCntlr::kPluginValidTag);
    EXPECT_TRUE(alerts->shown.empty());
    EXPECT_EQ(host->calls.take(), (std::vector<std::string>{"valid:SendviaMail.plugin:1", "checkAll"}));
    EXPECT_EQ(table()->item(0, 2)->text(), "Prefs_PluginValidStr");
}

TEST_F(PluginTable, CommonSettingsUnderThePluginWindowFlag) {
    openPluginPage();
    table()->selectRow(0);
    press(PrefsCntlr::kPluginSettingTag);
    EXPECT_EQ(host->calls.take(), std::vector<std::string>{"common:SendviaMail.plugin:shown:parent"});
    EXPECT_FALSE(cntlr->isShowedPluginWin());
    EXPECT_TRUE(alerts->shown.empty());
    host->commonResult = -1705;
    press(PrefsCntlr::kPluginSettingTag);
    EXPECT_FALSE(cntlr->isShowedPluginWin());
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].informativeText, "Err_NotPossibleContinue");
    EXPECT_EQ(alerts->shown[0].style, TV_Message::kCriticalAlertStyle);
}

TEST_F(PluginTable, IconFallbackChain) {
    const fs::path dir = fs::path(kdf::homeFolder()) / "icons";
    fs::create_directories(dir);
    QImage red(64, 32, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString((dir / "red.png").string())));
    std::ofstream((dir / "broken.png").string()) << "\x89PNG not really";
    // A PNG header declaring 100000 x 100000 pixels.
    {
        std::ofstream out((dir / "huge.png").string(), std::ios::binary);
        const unsigned char hdr[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                     0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 2, 0, 0, 0, 0x27, 0x30, 0x9C, 0x9F};
        out.write(reinterpret_cast<const char*>(hdr), sizeof hdr);
    }
    const QImage part = PrefsCntlr::pluginIconImage(std::nullopt);
    ASSERT_FALSE(part.isNull());
    EXPECT_EQ(part.width(), 16);

    const QImage own = PrefsCntlr::pluginIconImage((dir / "red.png").string());
    EXPECT_EQ(own.size(), QSize(16, 8));
    EXPECT_EQ(own.pixelColor(8, 4), QColor(Qt::red));
    for (const std::string& path : {(dir / "broken.png").string(), (dir / "huge.png").string(),
                                    (dir / "missing.png").string(), std::string()}) {
        const QImage icon = PrefsCntlr::pluginIconImage(path);
        ASSERT_FALSE(icon.isNull()) << path;
        EXPECT_LE(icon.width(), 16) << path;
        EXPECT_LE(icon.height(), 16) << path;
        EXPECT_NE(icon.pixelColor(icon.width() / 2, icon.height() / 2), QColor(Qt::red)) << path;
    }

    // In the table: a long name is cut to 256 characters, and elided when drawn.
    host->plugins[0].icon = (dir / "red.png").string();
    host->plugins[0].name = std::string(600, 'N');
    openPluginPage();
    const QImage cellIcon = table()->item(0, 0)->data(Qt::DecorationRole).value<QImage>();
    EXPECT_EQ(cellIcon.pixelColor(8, 4), QColor(Qt::red));
    EXPECT_EQ(table()->item(0, 0)->text().size(), 256);
    EXPECT_FALSE(table()->item(1, 0)->data(Qt::DecorationRole).value<QImage>().isNull());
}

} // namespace

APPTEST_MAIN()
