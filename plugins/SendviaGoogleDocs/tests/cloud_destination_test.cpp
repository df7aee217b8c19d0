// The cloud plug-ins as the application drives them: files copied into a
// sync folder under a temporary home, with the progress window, cancel,
// retry, the rename report and the written folder.
#include "DestinationTestHost.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QTableView>
#include <QFileDialog>

namespace {

using namespace kdtest;
using kdf::Dictionary;

const auto& gEnvironment = DestinationEnvironment::instance();

constexpr std::int32_t kFailSend = std::int32_t(0x8FFC020Au);

// The service's desktop program counts as installed when an applications
// folder holds its entry.
void installService(const std::string& name, bool installed) {
    const fs::path entry = homeRoot() / "data" / "applications" / (name + ".desktop");
    if (installed)
        TempHome::writeText(entry, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n");
    else
        fs::remove(entry);
}

class Cloud : public ::testing::Test {
protected:
    void SetUp() override {
        installService("Dropbox", true);
        sync_ = homeRoot() / "Dropbox";
        fs::remove_all(sync_);
        fs::create_directories(sync_);
        sources_ = homeRoot() / "written";
        fs::remove_all(sources_);
        fs::create_directories(sources_);
        plugin_ = loadPlugin("SendviaDropbox");
        ASSERT_TRUE(plugin_.plugin);
    }
    void TearDown() override {
        if (plugin_.plugin) plugin_.plugin->disconnect();
        setPluginsDefaults(std::nullopt);
    }
    // Stores the user with the sync folder and connects.
    void connectUser(std::optional<bool> showRename = true) {
        Dictionary user;
        user["DropboxUser.ID"] = std::string("u1");
        user["DropboxUser.SyncPath"] = sync_.string();
        storeUsers("SendviaDropbox", {user}, showRename);
        ASSERT_EQ(plugin_.plugin->connect(), 0);
    }
    std::vector<std::string> writeSources(const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const auto& n : names) {
            paths.push_back((sources_ / n).string());
            TempHome::writeText(paths.back(), "content of " + n);
        }
        return paths;
    }
    std::int32_t send(const std::vector<std::string>& files, bool fileDelete = false) {
        return plugin_.plugin->executeOperationWithID(std::string("u1"), files, fileDelete, &parent_);
    }
    Dictionary stored() {
        plugin_.plugin->disconnect();
        Dictionary user = storedUser("SendviaDropbox");
        plugin_.plugin->connect();
        return user;
    }
    // Every change of the progress bar: its value and maximum.
    static void watchBar(ScriptedUser& user, std::vector<std::pair<int, int>>* seen,
                         std::function<void(QProgressBar*, int)> onValue = {}) {
        user.onShow("PluginProgressWindow", [seen, onValue](QWidget* w) {
            auto* bar = w->findChild<QProgressBar*>();
            QObject::disconnect(bar, &QProgressBar::valueChanged, nullptr, nullptr);
            QObject::connect(bar, &QProgressBar::valueChanged, bar, [=](int value) {
                seen->emplace_back(value, bar->maximum());
                if (onValue) onValue(bar, value);
            });
        });
    }

    fs::path sync_, sources_;
    LoadedPlugin plugin_;
    QWidget parent_;
};

TEST_F(Cloud, EachBuildProposesItsSyncFolderUnderItsKeys) {
    struct Case {
        const char* bundle;
        const char* idKey;
        const char* syncKey;
        fs::path folder;
    };
    const Case cases[] = {
        {"SendviaGoogleDocs", "GoogleDocsUser.ID", "GoogleDocsUser.SyncPath", homeRoot() / "Google Drive"},
        {"SendviaDropbox", "DropboxUser.ID", "DropboxUser.SyncPath", homeRoot() / "Dropbox"},
        {"SendviaOneDrive", "OneDriveUser.ID", "OneDriveUser.SyncPath", homeRoot() / "OneDrive"},
        {"SendviaSugarSync", "SugarSyncUser.ID", "SugarSyncUser.SyncPath", homeRoot() / "Documents" / "My SugarSync"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bundle);
        for (bool exists : {true, false}) {
            if (exists)
                fs::create_directories(c.folder);
            else
                fs::remove_all(c.folder);
            setPluginsDefaults(std::nullopt);
            LoadedPlugin loaded = loadPlugin(c.bundle);
            ASSERT_TRUE(loaded.plugin);
            ASSERT_EQ(loaded.plugin->connect(), 0);
            std::optional<std::string> id;
            ASSERT_EQ(loaded.plugin->createID(&id), 0);
            ASSERT_EQ(loaded.plugin->disconnect(), 0);
            const Dictionary user = storedUser(c.bundle);
            EXPECT_EQ(stringOf(user, c.idKey), id);
            EXPECT_EQ(stringOf(user, c.syncKey), exists ? c.folder.string() : std::string());
            EXPECT_TRUE(loaded.plugin->getShowCommonSettingButton());
        }
    }
    setPluginsDefaults(std::nullopt);
}

TEST_F(Cloud, NamesAreKeptOrNumberedAndTheRenameReportListsEveryFile) {
    connectUser();
    TempHome::writeText(sync_ / "page_09.pdf", "older page");
    const auto files = writeSources({"scan.pdf", "page_09.pdf", "a.png"});

    std::vector<std::vector<QString>> rows;
    ScriptedUser user;
    user.window("PluginRenameWindow", [&](QWidget* w) {
        auto* table = w->findChild<QTableView*>();
        QAbstractItemModel* model = table->model();
        for (int r = 0; r < model->rowCount(); ++r)
            rows.push_back({model->index(r, 0).data().toString(), model->index(r, 1).data().toString()});
        clickTag(w, 205);
    });
    EXPECT_EQ(send(files), 0);
    EXPECT_TRUE(user.done());
    EXPECT_EQ(rows, (std::vector<std::vector<QString>>{{"scan.pdf", ""}, {"page_09.pdf", "page_10.pdf"}, {"a.png", ""}}));
    EXPECT_EQ(namesIn(sync_), (std::vector<std::string>{"a.png", "page_09.pdf", "page_10.pdf", "scan.pdf"}));
    EXPECT_EQ(TempHome::readText(sync_ / "page_09.pdf"), "older page");
    EXPECT_EQ(TempHome::readText(sync_ / "page_10.pdf"), "content of page_09.pdf");
    // Sources stay without the delete flag.
    for (const auto& f : files) EXPECT_TRUE(fs::exists(f));
    EXPECT_EQ(stringOf(stored(), "DropboxUser.WrittenPath"), sync_.string());
    bool link = false;
    std::optional<std::string> label;
    EXPECT_EQ(plugin_.plugin->isSupportLinkButton(std::string("u1"), &link), 0);
    EXPECT_EQ(plugin_.plugin->copyLinkLable(std::string("u1"), &label), 0);
    EXPECT_TRUE(link);
    EXPECT_EQ(label, sync_.string());

    // The same file again: numbered on, one report each time.
    for (const char* expected : {"scan_001.pdf", "scan_002.pdf"}) {
        ScriptedUser again;
        again.window("PluginRenameWindow", [](QWidget* w) { clickTag(w, 205); });
        EXPECT_EQ(send({files[0]}), 0);
        EXPECT_TRUE(again.done());
        EXPECT_TRUE(fs::exists(sync_ / expected)) << expected;
    }
}

TEST_F(Cloud, NoReportWithoutACollisionOrWithTheReportTurnedOff) {
    for (bool showRename : {true, false}) {
        SCOPED_TRACE(showRename);
        connectUser(showRename);
        if (!showRename) TempHome::writeText(sync_ / "clash.pdf", "x");
        const auto files = writeSources({showRename ? "fresh.pdf" : "clash.pdf"});
        bool reported = false;
        ScriptedUser user;
        user.window("PluginRenameWindow", [&](QWidget* w) {
            reported = true;
            clickTag(w, 205);
        });
        EXPECT_EQ(send(files), 0);
        EXPECT_FALSE(reported);
        EXPECT_TRUE(user.alerts().isEmpty());
        EXPECT_EQ(stringOf(stored(), "DropboxUser.WrittenPath"), sync_.string());
    }
}

TEST_F(Cloud, ProgressCountsTheFilesAndCancelKeepsWhatWasCopied) {
    connectUser();
    const auto files = writeSources({"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"});
    std::vector<std::pair<int, int>> seen;
    QStringList ratios;
    ScriptedUser user;
    // The cancel button is pressed while the second copy is reported done.
    watchBar(user, &seen, [&](QProgressBar* bar, int value) {
        ratios << labelText(bar->window(), 102);
        if (value == 2) clickTag(bar->window(), 103);
    });
    EXPECT_EQ(send(files), kFailSend);
    EXPECT_TRUE(user.alerts().isEmpty());
    EXPECT_EQ(namesIn(sync_), (std::vector<std::string>{"1.pdf", "2.pdf"}));
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 5}, {2, 5}}));
    EXPECT_EQ(ratios, (QStringList{"1 of 5", "2 of 5"}));
    EXPECT_FALSE(stringOf(stored(), "DropboxUser.WrittenPath"));
}

TEST_F(Cloud, FailedCopyThenRetryCopiesOnlyTheRestAndDeletesSourcesAfterTheirCopies) {
    connectUser(false);
    auto files = writeSources({"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"});
    fs::remove(files[2]);
    std::vector<std::pair<int, int>> seen;
    ScriptedUser user;
    watchBar(user, &seen);
    // Before Retry the missing file appears.
    user.alert(0, [&] {
        EXPECT_EQ(namesIn(sync_), (std::vector<std::string>{"1.pdf", "2.pdf"}));
        EXPECT_FALSE(fs::exists(files[0]));
        TempHome::writeText(files[2], "late");
    });
    EXPECT_EQ(send(files, true), 0);
    EXPECT_EQ(user.alerts(), QStringList{"A file could not be sent. It may have been moved or deleted, or the "
                                         "destination may be full."});
    EXPECT_EQ(namesIn(sync_), (std::vector<std::string>{"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"}));
    EXPECT_EQ(TempHome::readText(sync_ / "3.pdf"), "late");
    for (const auto& f : files) EXPECT_FALSE(fs::exists(f)) << f;
    // The second pass counts the three files left.
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 5}, {2, 5}, {0, 3}, {1, 3}, {2, 3}, {3, 3}}));
}

TEST_F(Cloud, SuspendAndSettingsCancelledEndTheSendWithTheCopiesKept) {
    connectUser(false);
    auto files = writeSources({"1.pdf", "2.pdf"});
    fs::remove(files[1]);
    ScriptedUser user;
    user.alert(2); // SetUp
    user.window("SyncFolderPanel", [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    user.alert(1); // the same alert again: Suspend
    EXPECT_EQ(send(files), kFailSend);
    EXPECT_TRUE(user.done());
    ASSERT_EQ(user.alerts().size(), 2);
    EXPECT_EQ(user.alerts()[0], user.alerts()[1]);
    EXPECT_EQ(namesIn(sync_), std::vector<std::string>{"1.pdf"});
    EXPECT_FALSE(stringOf(stored(), "DropboxUser.WrittenPath"));
}

TEST_F(Cloud, MissingSyncFolderOrServiceAsksFirst) {
    connectUser(false);
    const auto files = writeSources({"1.pdf"});
    // The service is not installed: Cancel in its question ends the send.
    installService("Dropbox", false);
    {
        ScriptedUser user;
        user.alert(1);
        EXPECT_EQ(send(files), kFailSend);
        ASSERT_EQ(user.alerts().size(), 1);
        EXPECT_TRUE(user.alerts()[0].startsWith("The Dropbox application is not installed."));
        std::optional<std::string> summary;
        EXPECT_EQ(plugin_.plugin->showSettingSummaryWithID(std::string("u1"), &summary), 0);
        EXPECT_EQ(summary, "Folder: " + sync_.string() + "\nThe Dropbox application is not installed.");
    }
    installService("Dropbox", true);
    // A sync folder gone: the worker's retry alert names it.
    fs::remove_all(sync_);
    {
        ScriptedUser user;
        user.alert(1);
        EXPECT_EQ(send(files), kFailSend);
        EXPECT_EQ(user.alerts(), QStringList{"The destination folder cannot be found."});
    }
    fs::create_directories(sync_);
}

TEST_F(Cloud, SettingsChooseAWritableFolderAndCommonSettingsStoreTheReportFlag) {
    connectUser();
    const fs::path other = homeRoot() / "OtherSync";
    fs::create_directories(other);
    ScriptedUser user;
    user.window("SyncFolderPanel", [&](QWidget* w) {
        auto* panel = qobject_cast<QFileDialog*>(w);
        panel->setDirectory(QString::fromStdString(other.string()));
        static_cast<QDialog*>(panel)->accept();
    });
    EXPECT_EQ(plugin_.plugin->showSettingWithID(std::string("u1"), &parent_), 0);
    EXPECT_TRUE(user.done());
    EXPECT_EQ(stringOf(stored(), "DropboxUser.SyncPath"), other.string());

    ScriptedUser prefs;
    prefs.window("PluginPrefsWindow", [](QWidget* w) {
        auto* check = w->findChild<QCheckBox*>();
        EXPECT_TRUE(check->isChecked());
        check->setChecked(false);
        clickTag(w, 400);
    });
    EXPECT_EQ(plugin_.plugin->showCommonSettingWithParentWindow(&parent_), 0);
    EXPECT_TRUE(prefs.done());
    plugin_.plugin->disconnect();
    const std::optional<kdf::Value> plugins = pluginsDefaults();
    const kdf::Value* entry = kdf::find(*plugins->dictionary(), "SendviaDropbox");
    EXPECT_EQ(kdf::find(*entry->dictionary(), "ShowRenameWindow")->toBool(), false);
    plugin_.plugin->connect();
}

} // namespace
