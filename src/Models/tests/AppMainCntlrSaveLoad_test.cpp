#include "AppMainCntlrSaveLoad.h"
#include "ModelTestSupport.h"
#include "TempHome.h"

#include <foundation/Bundle.h>
#include <foundation/Preferences.h>
#include <foundation/PropertyList.h>

#include <gtest/gtest.h>

using kdf::Dictionary;
using kdf::Value;

namespace {

// The version check runs once per process and keeps process-wide state, so
// each case runs in a child process of its own.
using modeltest::inChild;

constexpr const char* kAppId = "com.example.Quillora";
constexpr std::uint32_t kCurrent = 5;

std::string infoPlist(bool withVersion) {
    std::string s = "<plist><dict><key>CFBundleIdentifier</key><string>";
    s += kAppId;
    s += "</string>";
    if (withVersion)
        s += "<key>TVCurrentFileVersion</key><integer>" + std::to_string(kCurrent) + "</integer>";
    return s + "</dict></plist>";
}

Dictionary readDomain(const std::string& name) {
    return kdf::readPreferencesFile(name).values;
}

TEST(FileVersionCheck, DropsSettingsOfAnotherVersionOnly) {
    struct Row {
        const char* name;
        std::optional<Value> stored;
        bool infoHasVersion;
        bool survives;
    };
    const Row rows[] = {
        {"missing", std::nullopt, true, false},
        {"equal", Value(std::int64_t(kCurrent)), true, true},
        {"different", Value(std::int64_t(kCurrent + 1)), true, false},
        {"a string", Value(std::to_string(kCurrent)), true, false},
        {"beyond 32 bits", Value((std::int64_t(1) << 32) + kCurrent), true, false},
        {"negative", Value(std::int64_t(-1)), true, false},
        {"a fraction", Value(kCurrent + 0.5), true, false},
        {"a whole real", Value(double(kCurrent)), true, true},
        {"Info.plist without the key, stored 0", Value(std::int64_t(0)), false, true},
        {"Info.plist without the key, stored current", Value(std::int64_t(kCurrent)), false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        kdtest::TempHome home;
        kdtest::TempHome::writeText(home.root() / "App/Info.plist", infoPlist(r.infoHasVersion));
        Dictionary app{{"App_InputModel_DictListKey", Value(kdf::Array{Value("panel")})},
                       {"Plugins", Value(Dictionary{{"acct", Value("x")}})}};
        if (r.stored) app.emplace("FileVerKey", *r.stored);
        const Dictionary dataSource{{"CapData", Value(kdf::Bytes{1, 2, 3})},
                                    {"CapDataVersion", Value("1")}};
        const Dictionary other{{"Keep", Value(true)}};
        ASSERT_TRUE(kdf::writePreferencesFile(kAppId, app));
        ASSERT_TRUE(kdf::writePreferencesFile("jp.co.tavrolek-sys.kd720", dataSource));
        ASSERT_TRUE(kdf::writePreferencesFile("com.example.Other", other));
        // The companion's file: named by the identifier, without extension.
        const auto companion = home.config() / kAppId;
        kdtest::TempHome::writeText(companion, "companion bytes");

        int code = inChild([&] {
            kdf::Bundle::setMainBundlePath((home.root() / "App").string());
            AppMainCntlrSaveLoad::checkAppPlistIfDiffRemove();
            auto& defaults = kdf::UserDefaults::standard();
            // Something the first run saves after the check...
            defaults.set("KD_AppSetting", Value("saved"));
            defaults.synchronize();
            // ...and a second check in the same process does nothing.
            defaults.set("FileVerKey", Value("changed meanwhile"));
            AppMainCntlrSaveLoad::checkAppPlistIfDiffRemove();
            bool kept = defaults.string("KD_AppSetting") == "saved";
            defaults.synchronize();
            return kept ? 0 : 1;
        });
        EXPECT_EQ(code, 0);

        Dictionary after = readDomain(kAppId);
        EXPECT_EQ(after.count("App_InputModel_DictListKey") == 1, r.survives);
        EXPECT_EQ(after.count("Plugins") == 1, r.survives);
        EXPECT_EQ(after.count(""), 0u);
        EXPECT_EQ(*kdf::find(after, "KD_AppSetting")->string(), "saved");

        if (!r.survives) {
            // Stamped at once, so a run that is killed keeps what it saved:
            // the next start finds the current version.
            auto restamp = kdf::readPreferencesFile(kAppId).values;
            restamp.insert_or_assign("FileVerKey",
                                     Value(std::int64_t(r.infoHasVersion ? kCurrent : 0)));
            ASSERT_TRUE(kdf::writePreferencesFile(kAppId, restamp));
            int next = inChild([&] {
                kdf::Bundle::setMainBundlePath((home.root() / "App").string());
                AppMainCntlrSaveLoad::checkAppPlistIfDiffRemove();
                return kdf::UserDefaults::standard().string("KD_AppSetting") == "saved" ? 0 : 1;
            });
            EXPECT_EQ(next, 0);
        }
        EXPECT_EQ(readDomain("jp.co.tavrolek-sys.kd720"), dataSource);
        EXPECT_EQ(readDomain("com.example.Other"), other);
        EXPECT_EQ(kdtest::TempHome::readText(companion), "companion bytes");
    }
}

TEST(FileVersionCheck, StampWrittenAtOnceAfterADrop) {
    kdtest::TempHome home;
    kdtest::TempHome::writeText(home.root() / "App/Info.plist", infoPlist(true));
    ASSERT_TRUE(kdf::writePreferencesFile(kAppId, Dictionary{{"Old", Value(1)}}));
    // The child is killed right after the check: no termination stamp.
    int code = inChild([&] {
        kdf::Bundle::setMainBundlePath((home.root() / "App").string());
        AppMainCntlrSaveLoad::checkAppPlistIfDiffRemove();
        ::raise(SIGKILL);
        return 1;
    });
    EXPECT_EQ(code, -1);
    EXPECT_EQ(readDomain(kAppId), (Dictionary{{"FileVerKey", Value(std::int64_t(kCurrent))}}));
}

TEST(FileVersion, CurrentVersionCachesOnlyNonZero) {
    kdtest::TempHome home;
    kdtest::TempHome::writeText(home.root() / "App/Info.plist", infoPlist(false));
    int code = inChild([&] {
        kdf::Bundle::setMainBundlePath((home.root() / "App").string());
        if (AppMainCntlrSaveLoad::currentFileVersion() != 0) return 1;
        kdtest::TempHome::writeText(home.root() / "App/Info.plist", infoPlist(true));
        kdf::Bundle::setMainBundlePath((home.root() / "App").string());
        if (AppMainCntlrSaveLoad::currentFileVersion() != kCurrent) return 2;
        kdtest::TempHome::writeText(home.root() / "App/Info.plist", infoPlist(false));
        kdf::Bundle::setMainBundlePath((home.root() / "App").string());
        return AppMainCntlrSaveLoad::currentFileVersion() == kCurrent ? 0 : 3;
    });
    EXPECT_EQ(code, 0);
}

TEST(FileVersion, SaveAndLoadOnDictionaries) {
    // This test program lives in a bundle made from the application's own
    // Info.plist template.
    const std::uint32_t current = AppMainCntlrSaveLoad::currentFileVersion();
    EXPECT_GT(current, 0u);
    EXPECT_EQ(kdf::Bundle::main()->identifier(), "com.tavrolek.Quillora");
    EXPECT_EQ(*kdf::Bundle::main()->objectForInfoKey("CFBundleName")->string(), "Quillora");
    EXPECT_EQ(kdf::Bundle::main()->developmentRegion(), "en");

    Dictionary backup;
    AppMainCntlrSaveLoad::saveFileVersionToFile(&backup);
    EXPECT_EQ(AppMainCntlrSaveLoad::loadFileVersionFromFile(&backup), current);
    AppMainCntlrSaveLoad::saveFileVersionToFile(static_cast<Dictionary*>(nullptr));
    AppMainCntlrSaveLoad::saveFileVersionToFile(static_cast<kdf::UserDefaults*>(nullptr));
    EXPECT_EQ(AppMainCntlrSaveLoad::loadFileVersionFromFile(static_cast<Dictionary*>(nullptr)), 0u);
    const Dictionary empty;
    EXPECT_EQ(AppMainCntlrSaveLoad::loadFileVersionFromFile(&empty), 0u);
    const Dictionary text{{"FileVerKey", Value("5")}};
    EXPECT_EQ(AppMainCntlrSaveLoad::loadFileVersionFromFile(&text), 0u);
    const Dictionary big{{"FileVerKey", Value(std::int64_t(1) << 32)}};
    EXPECT_EQ(AppMainCntlrSaveLoad::loadFileVersionFromFile(&big), 0u);
}

} // namespace
