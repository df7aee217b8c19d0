#include "QlrUtilsMethod.h"
#include "TestBundle.h"

#include <foundation/Value.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace QlrUtilsMethod;

namespace {

// Test cases may run side by side in separate processes: each one's
// bundles carry identifiers of its own, so one case's stand-ins never count
// as copies for another.
std::string idFor(const char* role) {
    return std::string("com.example.") + role + "." +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

class AppBundle : public ::testing::Test {
protected:
    kdtest::TempHome home;
    const std::string appId = idFor("Quillora");
    const std::string companionId = idFor("Companion");
    fs::path app = qlrtest::makeBundle(home.root() / "Quillora.app", appId, "",
                                       "<key>TVTaskAppName</key><string>Companion</string>");
    qlrtest::MainBundle main{app};

    void setTaskAppName(const std::string& name) {
        qlrtest::makeBundle(app, appId, "", "<key>TVTaskAppName</key><string>" + name + "</string>");
        kdf::Bundle::setMainBundlePath(app.string());
    }
};

TEST_F(AppBundle, PluginNamesAreSortedAndOnlyThePluginExtension) {
    EXPECT_TRUE(pluginNameList().empty()); // no PlugIns folder
    const fs::path plugins = app / "PlugIns";
    EXPECT_EQ(installedPluginPath(), plugins.string());
    for (const char* d : {"b.plugin", "a.plugin", "b.plugins", "c.bundle", ".plugin"}) fs::create_directories(plugins / d);
    kdtest::TempHome::writeText(plugins / "d.plugin", "not a bundle");
    EXPECT_EQ(pluginNameList(), (std::vector<std::string>{"a.plugin", "b.plugin", "d.plugin"}));
}

TEST_F(AppBundle, TargetAppPathIsAPlainFolderName) {
    const fs::path support = app / "SharedSupport";
    EXPECT_FALSE(targetAppPath()); // folder missing
    fs::create_directories(support / "Companion");
    EXPECT_EQ(targetAppPath(), (support / "Companion").string());

    kdtest::TempHome::writeText(support / "File", "x");
    fs::create_directories(app / "Elsewhere");
    for (const char* name : {"File", "", "..", ".", "../Elsewhere", "Companion/"}) {
        setTaskAppName(name);
        EXPECT_FALSE(targetAppPath()) << name;
    }
    EXPECT_EQ(objectFromInfoDict("TVTaskAppName"), kdf::Value("Companion/"));
    EXPECT_FALSE(objectFromInfoDict("Absent"));
}

TEST_F(AppBundle, AnotherCopyOfTheApplicationIsFoundWhateverItsPath) {
    EXPECT_FALSE(isAppLaunched());
    qlrtest::makeBundle(home.root() / "Other/Quillora.app", appId, "copy");
    {
        qlrtest::StandIn copy(home.root() / "Other/Quillora.app/copy");
        ASSERT_GT(copy.pid(), 0);
        EXPECT_TRUE(isAppLaunched());
        EXPECT_TRUE(isLaunchedApp((home.root() / "Other/Quillora.app").string()));
        EXPECT_FALSE(isLaunchedApp(app.string()));
    }
    EXPECT_FALSE(isLaunchedApp((home.root() / "Absent.app").string()));
}

TEST_F(AppBundle, CompanionCountsOnlyFromAnotherInstallation) {
    const fs::path own = qlrtest::makeBundle(app / "SharedSupport/Companion", companionId, "button");
    const fs::path foreign = qlrtest::makeBundle(home.root() / "Old/Companion", companionId, "button");
    {
        qlrtest::StandIn ours(own / "button");
        ASSERT_GT(ours.pid(), 0);
        EXPECT_FALSE(isAppLaunched());
    }
    qlrtest::StandIn theirs(foreign / "button");
    ASSERT_GT(theirs.pid(), 0);
    EXPECT_TRUE(isAppLaunched());
}

TEST(OpenLink, OpensFoldersOnlyAndDoesNotWait) {
    kdtest::TempHome home;
    const fs::path bin = home.root() / "bin";
    const fs::path log = home.root() / "opened";
    kdtest::TempHome::writeText(bin / "xdg-open", "#!/bin/sh\necho \"$1\" >> '" + log.string() + "'\nexec sleep 2\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    home.env().set("PATH", bin.string());
    kdtest::TempHome::writeText(home.root() / "file.pdf", "x");

    openLinkPath((home.root() / "file.pdf").string());
    openLinkPath((home.root() / "absent").string());
    const auto started = std::chrono::steady_clock::now();
    openLinkPath(home.root().string());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    for (int i = 0; i < 500 && kdtest::TempHome::readText(log).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(kdtest::TempHome::readText(log), kdd::fileUrl(home.root().string()) + "\n");
}

TEST(Archives, RoundTripAndRefuseAnythingElse) {
    kdf::Dictionary d{{"Plugins", kdf::Value(kdf::Array{kdf::Value(1), kdf::Value("x")})}};
    const auto data = encodeDictToData(kdf::Value(d));
    ASSERT_TRUE(data);
    EXPECT_EQ(decodeDataToDict(data), kdf::Value(d));
    EXPECT_FALSE(encodeDictToData(std::nullopt));
    EXPECT_FALSE(decodeDataToDict(std::nullopt));
    EXPECT_FALSE(decodeDataToDict(kdf::Bytes{}));
    const std::string binary = "bplist00\x01\x02";
    EXPECT_FALSE(decodeDataToDict(kdf::Bytes(binary.begin(), binary.end())));
    const std::string truncated(reinterpret_cast<const char*>(data->data()), data->size() / 2);
    EXPECT_FALSE(decodeDataToDict(kdf::Bytes(truncated.begin(), truncated.end())));
}

TEST(System, VersionCodePacking) {
    EXPECT_EQ(packOSVersion(10, 9, 5), 0x1095);
    EXPECT_EQ(packOSVersion(10, 12, 0), 4288);
    EXPECT_EQ(packOSVersion(10, 5, 0), 0x1050);
    EXPECT_GT(currentOSVersion(), 0x104F);
    EXPECT_EQ(appName(), "Quillora");
    EXPECT_EQ(uuidString().size(), 36u);
    EXPECT_NE(uuidString(), uuidString());
}

TEST(Locale, RightToLeftLanguagesMirrorTheDirectionBearingImages) {
    kdtest::TempHome home;
    const fs::path app = qlrtest::makeBundle(home.root() / "L.app", "com.example.L");
    for (const char* lang : {"en", "ar", "ja", "he"}) fs::create_directories(app / "Resources" / (std::string(lang) + ".lproj"));
    qlrtest::MainBundle main{app};
    struct Row {
        const char* language;
        bool ltr;
    } const rows[] = {{"ja_JP.UTF-8", true}, {"ar_EG.UTF-8", false}, {"he_IL", false}, {"en_US", true}};
    for (const auto& row : rows) {
        home.env().set("LANGUAGE", std::nullopt);
        home.env().set("LC_ALL", std::string(row.language));
        EXPECT_EQ(isLTR_LayoutDirection(), row.ltr) << row.language;
        EXPECT_EQ(isFlipHorizontalImage("btn_arrow_L.png"), !row.ltr);
        EXPECT_EQ(isFlipHorizontalImage("btn_select_prev_O"), !row.ltr);
        EXPECT_FALSE(isFlipHorizontalImage("btn_scan"));
    }
    home.env().set("LC_ALL", std::string("ja_JP.UTF-8"));
    EXPECT_EQ(currentLocaleStr(), "ja");
    EXPECT_TRUE(isEqualToLocaleStr("ja"));
    EXPECT_FALSE(isEqualToLocaleStr(""));
    EXPECT_FALSE(isEqualToLocaleStr("en"));
}

} // namespace
