// A small application bundle in a private home for the model tests:
// language folders with their texts, preset lists and a plug-ins folder.
// It becomes the main bundle while the fixture lives.
#pragma once

#include "TempHome.h"

#include <foundation/Bundle.h>
#include <foundation/PropertyList.h>
#include <foundation/Value.h>

#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace modeltest {

class AppBundleFixture {
public:
    explicit AppBundleFixture(std::initializer_list<const char*> languages = {"en", "ja"}) {
        dir_ = home_.root() / "Quillora.app";
        kdtest::TempHome::writeText(dir_ / "Info.plist",
                                    "<plist><dict><key>CFBundleIdentifier</key>"
                                    "<string>com.example.QuilloraModelTest</string></dict></plist>");
        for (const char* language : languages) writeStrings(language, {});
        // Only the language named here counts.
        for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) home_.env().set(var, std::nullopt);
        setLanguage("en");
        kdf::Bundle::setMainBundlePath(dir_.string());
    }
    ~AppBundleFixture() { kdf::Bundle::setMainBundlePath(""); }
    AppBundleFixture(const AppBundleFixture&) = delete;
    AppBundleFixture& operator=(const AppBundleFixture&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    kdtest::TempHome& home() { return home_; }

    void setLanguage(const std::string& language) {
        home_.env().set("LANGUAGE", language);
        reload();
    }
    void writeStrings(const std::string& language, const kdf::Dictionary& texts) {
        write(dir_ / "Resources" / (language + ".lproj") / "Localizable.strings", kdf::Value(texts));
        reload();
    }
    void writePreset(const std::string& fileName, const kdf::Value& list) { write(dir_ / "Resources" / fileName, list); }
    void addPlugin(const std::string& name) { std::filesystem::create_directories(dir_ / "PlugIns" / name); }

private:
    static void write(const std::filesystem::path& p, const kdf::Value& v) {
        std::filesystem::create_directories(p.parent_path());
        if (!kdf::writePropertyListFile(p.string(), v)) throw std::runtime_error("cannot write " + p.string());
    }
    // The bundle caches its texts: a fresh one sees the files as they are.
    void reload() { kdf::Bundle::setMainBundlePath(dir_.string()); }

    kdtest::TempHome home_;
    std::filesystem::path dir_;
};

} // namespace modeltest
