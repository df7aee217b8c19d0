#include "TempHome.h"
#include "foundation/Bundle.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace kdf;

namespace {

// The test plug-in's bundle, found from an address inside the loaded object.
class PluginBundle : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = ::dlopen(KD_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        auto fn = reinterpret_cast<const void* (*)()>(::dlsym(handle_, "kd_test_plugin_address"));
        ASSERT_NE(fn, nullptr);
        bundle_ = Bundle::containingAddress(fn());
        ASSERT_NE(bundle_, nullptr);
        for (const char* v : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            home_.env().set(v, std::nullopt);
    }
    void TearDown() override {
        bundle_.reset();
        if (handle_) ::dlclose(handle_);
    }

    kdtest::TempHome home_;
    void* handle_ = nullptr;
    std::shared_ptr<const Bundle> bundle_;
};

TEST_F(PluginBundle, FoundFromAnAddressWithItsInfoAndResources) {
    std::string folder = std::filesystem::path(KD_TEST_PLUGIN).parent_path().string();
    EXPECT_EQ(bundle_->path(), std::filesystem::canonical(folder).string());
    EXPECT_EQ(bundle_->identifier(), "com.example.kd.TestPlugin");
    EXPECT_EQ(bundle_->executablePath(),
              bundle_->path() + "/" + std::filesystem::path(KD_TEST_PLUGIN).filename().string());
    EXPECT_EQ(bundle_->localizations(), (std::vector<std::string>{"en", "ja"}));
    EXPECT_EQ(bundle_->pathForResource("Presets", "plist"),
              bundle_->resourcePath() + "/Presets.plist");
    EXPECT_EQ(bundle_->pathForResource("Presets.plist", ""),
              bundle_->pathForResource("Presets", "plist"));
    EXPECT_EQ(bundle_->pathForResource("Missing", "plist"), "");
    EXPECT_EQ(bundle_->pathForResource("Localizable", "strings"),
              bundle_->resourcePath() + "/en.lproj/Localizable.strings");
}

TEST_F(PluginBundle, LocalisedTextsFollowTheUsersLanguage) {
    struct Row {
        const char* language; // LANGUAGE
        const char* lang;     // LANG
        const char* key;
        const char* defaultValue;
        std::string expected;
    };
    const Row rows[] = {
        {"ja", nullptr, "Paper Jam Message", "", "紙詰まりが発生しました。"},
        {nullptr, "ja_JP.UTF-8", "Paper Jam Message", "", "紙詰まりが発生しました。"},
        {"fr:ja", nullptr, "Paper Jam Message", "", "紙詰まりが発生しました。"},
        // Missing in Japanese: the development region's text.
        {"ja", nullptr, "OnlyInEnglish", "", "English only"},
        // A language the bundle lacks: the development region.
        {"fr", "fr_FR.UTF-8", "Paper Jam Message", "", "A paper jam occurred."},
        {nullptr, nullptr, "Paper Jam Message", "", "A paper jam occurred."},
        // A missing key: the default value, else the key.
        {"ja", nullptr, "No Such Key", "Fallback", "Fallback"},
        {"ja", nullptr, "No Such Key", "", "No Such Key"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.language ? r.language : "-") + " " + r.key);
        home_.env().set("LANGUAGE",
                        r.language ? std::optional<std::string>(r.language) : std::nullopt);
        home_.env().set("LANG", r.lang ? std::optional<std::string>(r.lang) : std::nullopt);
        EXPECT_EQ(bundle_->localizedString(r.key, r.defaultValue), r.expected);
    }
    home_.env().set("LANGUAGE", "ja");
    EXPECT_EQ(bundle_->localizedString("Paper Jam Message", "", "OtherTable"), "Paper Jam Message");
}

TEST(Bundle, UserLanguagesUseTheBundlesNames) {
    kdtest::TempHome home;
    struct Row {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {nullptr, nullptr, nullptr, "zh_CN.UTF-8", {"zh-Hans"}},
        {nullptr, nullptr, nullptr, "zh_TW.UTF-8", {"zh-Hant"}},
        {nullptr, nullptr, nullptr, "zh_HK", {"zh-Hant"}},
        {nullptr, nullptr, nullptr, "pt_BR.UTF-8", {"pt-BR", "pt"}},
        {nullptr, nullptr, nullptr, "C", {}},
        {nullptr, "de_DE@euro", "fr_FR", "ja_JP", {"de-DE", "de"}},
        {nullptr, nullptr, "fr_FR", "ja_JP", {"fr-FR", "fr"}},
        {"ja:zh_TW", nullptr, nullptr, "en_US.UTF-8", {"ja", "zh-Hant", "en-US", "en"}},
    };
    for (const auto& r : rows) {
        auto opt = [](const char* s) { return s ? std::optional<std::string>(s) : std::nullopt; };
        home.env().set("LANGUAGE", opt(r.language));
        home.env().set("LC_ALL", opt(r.lcAll));
        home.env().set("LC_MESSAGES", opt(r.lcMessages));
        home.env().set("LANG", opt(r.lang));
        EXPECT_EQ(userLanguages(), r.expected) << (r.lang ? r.lang : "");
    }
}

TEST(Bundle, MainBundleCanBeSetAndAnyFolderIsABundle) {
    kdtest::TempHome home;
    auto folder = home.root() / "App";
    kdtest::TempHome::writeText(folder / "Info.plist",
                                "<plist><dict><key>CFBundleIdentifier</key>"
                                "<string>com.example.app</string></dict></plist>");
    Bundle::setMainBundlePath(folder.string());
    EXPECT_EQ(Bundle::main()->identifier(), "com.example.app");
    EXPECT_EQ(Bundle::main()->developmentRegion(), "en");
    Bundle::setMainBundlePath("");
    EXPECT_EQ(Bundle::main()->path(),
              std::filesystem::canonical("/proc/self/exe").parent_path().string());

    EXPECT_EQ(Bundle::atPath((home.root() / "none").string()), nullptr);
    auto plain = Bundle::atPath(home.root().string());
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(plain->infoDictionary().empty());
    EXPECT_EQ(plain->builtInPlugInsPath(), home.root().string() + "/PlugIns");
}

} // namespace
