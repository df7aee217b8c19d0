// The kit's utility class, folder search and settings checker, linked into
// the test program as the Google Drive build.
#include "PathUtil.h"
#include "PluginFunc.h"
#include "SettingChecker.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kdf::Array;
using kdf::Dictionary;
using kdf::Value;
using namespace kdkit;

class KitFunc : public ::testing::Test {
protected:
    KitFunc() {
        home.env().set("XDG_DATA_HOME", (home.root() / "share").string());
        home.env().set("XDG_DATA_DIRS", (home.root() / "system").string());
        home.env().set("LANGUAGE", "en");
    }
    fs::path make(const fs::path& relative) {
        fs::create_directories(home.root() / relative);
        return home.root() / relative;
    }
    kdtest::TempHome home;
};

TEST_F(KitFunc, NumberedNames) {
    const fs::path folder = make("out");
    struct Case {
        const char* name;
        const char* next;
    };
    const Case cases[] = {
        {"scan.pdf", "scan_001.pdf"},
        {"x_.pdf", "x__001.pdf"},
        {"page_09.pdf", "page_10.pdf"},
        {"page_99.pdf", "page_100.pdf"},
        {"scan_999.pdf", "scan_1000.pdf"},
        {"scan_001", "scan_002"},
        {"a_b_7.tiff", "a_b_8.tiff"},
        {"v1.2_3.jpg", "v1.2_4.jpg"},
        {"n_12a.png", "n_12a_001.png"},
        {".hidden_4", ".hidden_5"},
        // The largest 18-digit number still counts on; 19 digits may not
        // fit a 64-bit number and count as no number at all.
        {"n_999999999999999999.pdf", "n_1000000000000000000.pdf"},
        {"n_1000000000000000000.pdf", "n_1000000000000000000_001.pdf"},
        {"n_99999999999999999999.pdf", "n_99999999999999999999_001.pdf"},
    };
    for (const Case& c : cases) {
        const std::string path = (folder / c.name).string();
        EXPECT_EQ(PluginFunc::checkPathAndAddNumStrForPath(path, PluginFunc::isAddedNumInString(c.name)),
                  (folder / c.next).string())
            << c.name;
    }
    EXPECT_EQ(PluginFunc::checkPathAndAddNumStrForPath((folder / "page_09.pdf").string(), false),
              (folder / "page_09_001.pdf").string());
    EXPECT_FALSE(PluginFunc::checkPathAndAddNumStrForPath(std::nullopt, true));
    EXPECT_FALSE(PluginFunc::checkPathAndAddNumStrForPath((folder / "missing" / "a.pdf").string(), false));
    EXPECT_EQ(PluginFunc::maxDigNumForFileWrite(18), 999999999999999999LL);
    EXPECT_EQ(PluginFunc::maxDigNumForFileWrite(0), 0);
}

TEST_F(KitFunc, CheckFilePathSkipsEveryExistingItem) {
    const fs::path folder = make("out");
    kdtest::TempHome::writeText(folder / "scan.pdf", "1");
    kdtest::TempHome::writeText(folder / "scan_001.pdf", "2");
    // A dangling link is in the way too: writing there would follow it.
    fs::create_symlink(folder / "nowhere", folder / "scan_002.pdf");
    EXPECT_EQ(PluginFunc::checkFilePath((folder / "scan.pdf").string()), (folder / "scan_003.pdf").string());
    EXPECT_EQ(PluginFunc::checkFilePath((folder / "free.pdf").string()), (folder / "free.pdf").string());
    EXPECT_FALSE(PluginFunc::checkFilePath(std::nullopt));
}

TEST_F(KitFunc, CloudLookupInAnApplicationsFolder) {
    EXPECT_FALSE(PluginFunc::defaultCloudAppPath());
    const fs::path entry = make("share/applications") / "com.example.drive.desktop";
    kdtest::TempHome::writeText(entry, "[Desktop Entry]\nType=Application\nName=Google Drive\nExec=true\n");
    const std::optional<std::string> found = PluginFunc::defaultCloudAppPath();
    ASSERT_TRUE(found);
    EXPECT_EQ(fs::canonical(*found), fs::canonical(entry));

    EXPECT_FALSE(PluginFunc::cloudAppFolderForSync());
    const fs::path sync = make("Google Drive");
    EXPECT_EQ(PluginFunc::cloudAppFolderForSync(), sync.string());
    EXPECT_EQ(PluginFunc::googleDriveFolder(), sync.string());
    EXPECT_EQ(PluginFunc::dropboxFolder(), (home.root() / "Dropbox").string());
    EXPECT_EQ(PluginFunc::oneDriveFolder(), (home.root() / "OneDrive").string());
}

TEST_F(KitFunc, HelpFileNeedsBothInfoKeys) {
    // The test program's bundle names no help: nothing is opened.
    kdf::Bundle bundle(home.root().string());
    EXPECT_FALSE(PluginFunc::openHelpFile(bundle));
}

TEST_F(KitFunc, FolderSearchEndsOnLinkLoopsDeepTreesAndClosedFolders) {
    const fs::path root = make("Google Drive");
    make("Google Drive/a/b/SCANS");
    make("Google Drive/c/Scans/inner");
    // A link back to the root, a link to a folder of the name, a file of
    // the name, and a tree deeper than the search goes.
    fs::create_directory_symlink(root, root / "a" / "loop");
    fs::create_directory_symlink(root / "c", root / "scans-link");
    kdtest::TempHome::writeText(root / "d" / "scans", "a file");
    fs::path deep = root / "deep";
    for (int i = 0; i < PathUtil::kMaxSearchDepth + 8; ++i) deep /= "x";
    fs::create_directories(deep / "scans");

    std::vector<std::string> paths;
    EXPECT_EQ(PathUtil::getChildren("scans", root.string(), 0, paths, PathUtil::kMatchFolders), 2u);
    std::vector<std::string> files;
    EXPECT_EQ(PathUtil::getChildren("Scans", root.string(), 0, files, PathUtil::kMatchFiles), 1u);
    std::vector<std::string> limited;
    EXPECT_EQ(PathUtil::getSubFolderPath("scans", root.string(), 1, &limited), 1u);
    EXPECT_EQ(PathUtil::getSubFolderPath("scans", (root / "missing").string(), 0, &limited), 0u);

    if (::geteuid() != 0) {
        // A folder that cannot be listed is skipped; the search goes on.
        fs::permissions(root / "c", fs::perms::none);
        std::vector<std::string> rest;
        EXPECT_EQ(PathUtil::getChildren("scans", root.string(), 0, rest, PathUtil::kMatchFolders), 1u);
        fs::permissions(root / "c", fs::perms::owner_all);
    }
}

Value oldUser(const char* id, std::optional<const char*> name) {
    Dictionary user{{SettingChecker::kOldUserIDKey, id}, {"GoogleDocUser.Other", "dropped"}};
    if (name) user[SettingChecker::kOldTargetNameKey] = *name;
    return Value(std::move(user));
}

TEST_F(KitFunc, OldSettingsConvertByFindingTheFolderAgain) {
    const fs::path once = make("Google Drive/one/two/Receipts");
    make("Google Drive/Twice");
    make("Google Drive/other/twice");

    EXPECT_FALSE(SettingChecker::isOldSettings(std::nullopt));
    EXPECT_FALSE(SettingChecker::isOldSettings(Value(Dictionary{})));
    EXPECT_TRUE(SettingChecker::isOldSettings(Value(Array{})));
    EXPECT_FALSE(SettingChecker::convertToNewSettings(std::nullopt));

    Array old{oldUser("U1", "receipts"), oldUser("U2", "twice"), oldUser("U3", "nowhere"), oldUser("U4", std::nullopt),
              Value(5), Value(Dictionary{{SettingChecker::kOldUserIDKey, 9}})};
    const std::optional<Value> converted = SettingChecker::convertToNewSettings(Value(old));
    ASSERT_TRUE(converted && converted->dictionary());
    const Array& users = *kdf::find(*converted->dictionary(), "UserList")->array();
    ASSERT_EQ(users.size(), 4u);
    const auto syncPath = [&](std::size_t i) {
        return *kdf::find(*users[i].dictionary(), SettingChecker::kNewSyncPathKey)->string();
    };
    EXPECT_EQ(*kdf::find(*users[0].dictionary(), SettingChecker::kNewUserIDKey)->string(), "U1");
    EXPECT_EQ(users[0].dictionary()->size(), 2u);
    EXPECT_EQ(syncPath(0), once.string());
    EXPECT_EQ(syncPath(1), "VersionUpError:CloudNotSpecify:twice");
    EXPECT_EQ(syncPath(2), "VersionUpError:CloudNotSpecify:nowhere");
    EXPECT_EQ(syncPath(3), "VersionUpError:CloudNotSpecify:");

    const std::optional<Value> empty = SettingChecker::convertToNewSettings(Value(Array{}));
    EXPECT_TRUE(kdf::find(*empty->dictionary(), "UserList")->array()->empty());
}

TEST_F(KitFunc, DestinationCheckAndMessages) {
    struct Case {
        std::optional<std::string> destination;
        bool valid;
    };
    const Case cases[] = {
        {std::nullopt, false},
        {"/home/u/Google Drive/Scans", true},
        {"VersionUpError", true},
        {"VersionUpError:Other:x", true},
        {"versionuperror:CloudNotSpecify:x", true},
        {"VersionUpError:CloudNotSpecify", false},
        {"VersionUpError:CloudNotSpecify:Scans", false},
    };
    for (const Case& c : cases) {
        std::optional<PluginError> error;
        EXPECT_EQ(SettingChecker::isValidDestination(c.destination, &error), c.valid)
            << c.destination.value_or("(none)");
        EXPECT_EQ(error.has_value(), !c.valid && c.destination.has_value());
    }
    std::optional<PluginError> error;
    EXPECT_FALSE(SettingChecker::isValidDestination("VersionUpError:CloudNotSpecify:Scans %@", &error));
    EXPECT_EQ(error->domain, "com.tavrolek.SvPlugins.TvSvPluginsErrorDomain");
    EXPECT_EQ(SettingChecker::getSummaryMessageWithError(error), "Please set the destination again.");
    EXPECT_EQ(SettingChecker::getFullMessageWithError(error),
              "Please set the destination again.\n\nBefore the update it was \"Scans %@\".");
    error->domain = "another";
    EXPECT_FALSE(SettingChecker::getSummaryMessageWithError(error));
    EXPECT_FALSE(SettingChecker::getFullMessageWithError(std::nullopt));
}

} // namespace
