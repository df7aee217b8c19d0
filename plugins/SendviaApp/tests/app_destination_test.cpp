// The open-in-application plug-in as the application drives it: files moved
// into a folder of a temporary home and handed to a recorder program
// through its desktop entry.
#include "DestinationTestHost.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>

namespace {

using namespace kdtest;
using kdf::Dictionary;

const auto& gEnvironment = DestinationEnvironment::instance();

constexpr std::int32_t kFailSend = std::int32_t(0x8FFC020Au);

class App : public ::testing::Test {
protected:
    void SetUp() override {
        desktop_ = homeRoot() / "Desktop";
        fs::remove_all(desktop_);
        fs::create_directories(desktop_);
        sources_ = homeRoot() / "written";
        fs::remove_all(sources_);
        fs::create_directories(sources_);
        log_ = homeRoot() / "opened";
        fs::remove(log_);
        recorder_ = homeRoot() / "bin" / "viewer";
        writeExecutable(recorder_, "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" + log_.string() +
                                       "'\necho -- >> '" + log_.string() + "'\n");
        plugin_ = loadPlugin("SendviaApp");
        ASSERT_TRUE(plugin_.plugin);
    }
    void TearDown() override {
        if (plugin_.plugin) plugin_.plugin->disconnect();
        setPluginsDefaults(std::nullopt);
    }
    std::string entry(const std::string& exec) {
        const fs::path path = homeRoot() / "data" / "applications" / "viewer.desktop";
        TempHome::writeText(path, "[Desktop Entry]\nType=Application\nName=Viewer\nExec=" + recorder_.string() + " " +
                                      exec + "\n");
        return path.string();
    }
    void connectUser(const std::string& appPath, long long saveType = 2, const std::string& savePath = {}) {
        Dictionary user;
        user["AppUser.ID"] = std::string("u1");
        user["AppUser.AppPath"] = appPath;
        user["AppUser.SvAppSaveType"] = saveType;
        user["AppUser.SavePath"] = savePath.empty() ? desktop_.string() : savePath;
        storeUsers("SendviaApp", {user});
        ASSERT_EQ(plugin_.plugin->connect(), 0);
    }
    std::vector<std::string> writeSources(const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const auto& n : names) {
            paths.push_back((sources_ / n).string());
            TempHome::writeText(paths.back(), n);
        }
        return paths;
    }
    std::int32_t send(const std::vector<std::string>& files) {
        return plugin_.plugin->executeOperationWithID(std::string("u1"), files, true, &parent_);
    }
    Dictionary stored() {
        plugin_.plugin->disconnect();
        Dictionary user = storedUser("SendviaApp");
        plugin_.plugin->connect();
        return user;
    }

    fs::path desktop_, sources_, log_, recorder_;
    LoadedPlugin plugin_;
    QWidget parent_;
};

TEST_F(App, FilesMoveToTheDesktopAndOpenInOneLaunchOrOneEach) {
    struct Case {
        const char* exec;
        int launches;
    };
    for (const Case& c : {Case{"%F", 1}, Case{"%f", 3}}) {
        SCOPED_TRACE(c.exec);
        fs::remove(log_);
        connectUser(entry(c.exec));
        // A name a shell would read reaches the program as it is.
        const auto files = writeSources({"a.pdf", "$(touch gotcha) b.pdf", "c.pdf"});
        TempHome::writeText(desktop_ / "a.pdf", "already there");
        ScriptedUser user;
        EXPECT_EQ(send(files), 0);
        EXPECT_TRUE(user.alerts().isEmpty());
        for (const auto& f : files) EXPECT_FALSE(fs::exists(f));
        EXPECT_EQ(TempHome::readText(desktop_ / "a.pdf"), "already there");
        EXPECT_EQ(TempHome::readText(desktop_ / "a_001.pdf"), "a.pdf");
        const std::vector<std::string> moved{(desktop_ / "a_001.pdf").string(),
                                             (desktop_ / "$(touch gotcha) b.pdf").string(),
                                             (desktop_ / "c.pdf").string()};
        const std::string record = waitForRecord(log_, c.launches);
        if (c.launches == 1) {
            EXPECT_EQ(record, moved[0] + "\n" + moved[1] + "\n" + moved[2] + "\n--\n");
        } else {
            for (const auto& m : moved) EXPECT_NE(record.find(m + "\n--\n"), std::string::npos) << record;
        }
        EXPECT_FALSE(fs::exists(homeRoot() / "gotcha"));
        EXPECT_EQ(stringOf(stored(), "AppUser.WrittenPath"), desktop_.string());
        for (const auto& m : moved) fs::remove(m);
        fs::remove(desktop_ / "a.pdf");
        plugin_.plugin->disconnect();
    }
}

TEST_F(App, FailedThirdMoveThenRetryMovesTheRest) {
    connectUser(entry("%F"));
    auto files = writeSources({"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"});
    fs::remove(files[2]);
    ScriptedUser user;
    user.alert(0, [&] {
        EXPECT_EQ(namesIn(desktop_), (std::vector<std::string>{"1.pdf", "2.pdf"}));
        TempHome::writeText(files[2], "3.pdf");
    });
    EXPECT_EQ(send(files), 0);
    EXPECT_EQ(user.alerts().size(), 1);
    EXPECT_EQ(namesIn(desktop_), (std::vector<std::string>{"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"}));
    std::string expected;
    for (const char* n : {"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"}) expected += (desktop_ / n).string() + "\n";
    EXPECT_EQ(waitForRecord(log_, 1), expected + "--\n");
}

TEST_F(App, SetUpThenCancelAsksAgainAndSuspendKeepsTheMovedFiles) {
    connectUser(entry("%F"));
    auto files = writeSources({"1.pdf", "2.pdf"});
    fs::remove(files[1]);
    ScriptedUser user;
    user.alert(2);
    user.window("AppSettingWindow", [](QWidget* w) { clickTag(w, 305); });
    user.alert(1);
    EXPECT_EQ(send(files), kFailSend);
    EXPECT_TRUE(user.done());
    ASSERT_EQ(user.alerts().size(), 2);
    EXPECT_EQ(user.alerts()[0], user.alerts()[1]);
    EXPECT_EQ(namesIn(desktop_), std::vector<std::string>{"1.pdf"});
    EXPECT_FALSE(fs::exists(log_));
    EXPECT_FALSE(stringOf(stored(), "AppUser.WrittenPath"));
}

TEST_F(App, SetUpThenOkRetriesWithTheNewFolder) {
    connectUser(entry("%F"), 3, (homeRoot() / "gone").string());
    const auto files = writeSources({"1.pdf"});
    ScriptedUser user;
    user.alert(2);
    user.window("AppSettingWindow", [&](QWidget* w) {
        w->findChild<QComboBox*>()->setItemText(3, QString::fromStdString(desktop_.string()));
        clickTag(w, 306);
    });
    EXPECT_EQ(send(files), 0);
    EXPECT_TRUE(user.done());
    EXPECT_EQ(user.alerts(), QStringList{"The destination folder cannot be found."});
    EXPECT_EQ(namesIn(desktop_), std::vector<std::string>{"1.pdf"});
    EXPECT_EQ(waitForRecord(log_, 1), (desktop_ / "1.pdf").string() + "\n--\n");
    const Dictionary u = stored();
    EXPECT_EQ(stringOf(u, "AppUser.SavePath"), desktop_.string());
    EXPECT_EQ(stringOf(u, "AppUser.WrittenPath"), desktop_.string());
    bool link = false;
    EXPECT_EQ(plugin_.plugin->isSupportLinkButton(std::string("u1"), &link), 0);
    EXPECT_TRUE(link);
}

TEST_F(App, BrokenApplicationsAndFoldersFail) {
    const auto files = writeSources({"1.pdf"});
    struct Case {
        const char* what;
        std::string app;
        long long saveType;
        std::string savePath;
        bool retryAlert; // else failed in the open step, without an alert
    };
    const std::string hidden = (homeRoot() / "data" / "applications" / "hidden.desktop").string();
    TempHome::writeText(hidden, "[Desktop Entry]\nType=Application\nName=H\nHidden=true\nExec=" + recorder_.string() + " %F\n");
    const Case cases[] = {
        {"no application", (homeRoot() / "missing.desktop").string(), 2, "", true},
        {"no folder", entry("%F"), 3, (homeRoot() / "gone").string(), true},
        {"unknown save type", entry("%F"), 9, "", true},
        {"hidden entry", hidden, 2, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        connectUser(c.app, c.saveType, c.savePath);
        ScriptedUser user;
        user.alert(1);
        EXPECT_EQ(send(files), kFailSend);
        EXPECT_EQ(user.alerts().size(), c.retryAlert ? 1 : 0);
        plugin_.plugin->disconnect();
        if (!c.retryAlert) fs::rename(desktop_ / "1.pdf", files[0]);
    }
    EXPECT_FALSE(fs::exists(log_));
    EXPECT_EQ(plugin_.plugin->executeOperationWithID(std::string("nobody"), files, true, &parent_),
              std::int32_t(0x8FFC0200u));
}

TEST_F(App, SettingsWindowReadsTypeFourAsPicturesAndChecksTheChosenFolder) {
    const fs::path unwritable = homeRoot() / "locked";
    fs::create_directories(unwritable);
    fs::permissions(unwritable, fs::perms::owner_read | fs::perms::owner_exec);
    connectUser("", 4, unwritable.string());
    int shownType = -1;
    QString shownFolder;
    ScriptedUser user;
    user.window("AppSettingWindow", [&](QWidget* w) {
        auto* popUp = w->findChild<QComboBox*>();
        shownType = popUp->currentData().toInt();
        shownFolder = popUp->itemText(3);
        // The folder panel: cancelled, the pop-up goes back to the folder.
        popUp->setCurrentIndex(4);
        emit popUp->activated(4);
    });
    user.window("SaveFolderPanel", [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    // OK with an unwritable folder keeps the window open, even with Desktop
    // selected.
    user.window("AppSettingWindow", [](QWidget* w) {
        auto* popUp = w->findChild<QComboBox*>();
        // Once the panel has gone, the pop-up shows the folder item again.
        EXPECT_TRUE(waitUntil([&] { return popUp->currentData().toInt() == 3; }));
        popUp->setCurrentIndex(2);
        clickTag(w, 306);
    });
    user.alert(0);
    user.window("AppSettingWindow", [&](QWidget* w) {
        auto* popUp = w->findChild<QComboBox*>();
        popUp->setItemText(3, QString::fromStdString(desktop_.string()));
        w->findChild<QLineEdit*>()->setText("/apps/viewer.desktop");
        clickTag(w, 306);
    });
    EXPECT_EQ(plugin_.plugin->showSettingWithID(std::string("u1"), &parent_), 0);
    EXPECT_TRUE(user.done());
    EXPECT_EQ(shownType, 0);
    EXPECT_EQ(shownFolder.toStdString(), unwritable.string());
    // The owner's write bit is off: refused, whoever runs the test.
    ASSERT_EQ(user.alerts().size(), 1);
    EXPECT_EQ(user.alerts()[0].toStdString(),
              "You cannot save files in this folder. Choose a folder you can read and write.");
    const Dictionary u = stored();
    EXPECT_EQ(stringOf(u, "AppUser.AppPath"), "/apps/viewer.desktop");
    EXPECT_EQ(kdf::find(u, "AppUser.SvAppSaveType")->toInteger(), 2);
    EXPECT_EQ(stringOf(u, "AppUser.SavePath"), desktop_.string());
    std::optional<std::string> summary;
    EXPECT_EQ(plugin_.plugin->showSettingSummaryWithID(std::string("u1"), &summary), 0);
    EXPECT_EQ(summary, "Application: /apps/viewer.desktop");
    fs::permissions(unwritable, fs::perms::owner_all);
}

} // namespace
