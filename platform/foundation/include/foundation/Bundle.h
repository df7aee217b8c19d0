// Bundles: a folder holding an executable or shared object, its Info.plist,
// Resources/ (with <language>.lproj/ folders), PlugIns/, SharedSupport/ and
// Frameworks/.
#pragma once

#include "foundation/Object.h"
#include "foundation/Value.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kdf {

class Bundle {
public:
    // The bundle of the running program (the folder of /proc/self/exe), or
    // the one a test set.
    static std::shared_ptr<const Bundle> main();
    // Makes the folder the main bundle from now on (tests); empty restores
    // the program's own.
    static void setMainBundlePath(const std::string& path);
    // The bundle of the loaded executable or shared object that holds the
    // address; null when no loaded object holds it.
    static std::shared_ptr<const Bundle> containingAddress(const void* address);
    // Any folder; null when it is not a folder.
    static std::shared_ptr<const Bundle> atPath(const std::string& path);

    explicit Bundle(std::string path);
    virtual ~Bundle();

    const std::string& path() const { return path_; }
    const Dictionary& infoDictionary() const { return info_; }
    const Value* objectForInfoKey(std::string_view key) const;
    std::string identifier() const;        // "CFBundleIdentifier", or empty
    std::string developmentRegion() const; // "CFBundleDevelopmentRegion", else "en"
    std::string executablePath() const;    // from "CFBundleExecutable", or empty

    std::string resourcePath() const;          // <bundle>/Resources
    std::string builtInPlugInsPath() const;    // <bundle>/PlugIns
    std::string sharedSupportPath() const;     // <bundle>/SharedSupport
    std::string privateFrameworksPath() const; // <bundle>/Frameworks

    // The languages the bundle has (names of its <language>.lproj folders).
    std::vector<std::string> localizations() const;
    // The user's languages the bundle has, best first, ending with the
    // development region; never empty.
    std::vector<std::string> preferredLocalizations() const;

    // A resource file "<name>.<type>" (type may be empty, or already be part
    // of the name): Resources/<subfolder>/ first, then the preferred
    // languages' .lproj folders. Empty when absent.
    std::string pathForResource(std::string_view name, std::string_view type,
                                std::string_view subfolder = {}) const;

    // The text for key in <language>.lproj/<table>.strings (an XML property
    // list dictionary; table "Localizable" when empty), looked up in the
    // preferred languages. Missing: the default value, else the key.
    std::string localizedString(std::string_view key, std::string_view defaultValue = {},
                                std::string_view table = {}) const;

    // Opens the bundle's shared object ("CFBundleExecutable") once per
    // process and reads its class list. False, with the reason on standard
    // error, when it is missing or cannot be loaded; never ends the process.
    bool load() const;
    bool isLoaded() const;
    // A class of this bundle's own object (loading it first); several
    // bundles may use one name. Empty when absent.
    Class classNamed(std::string_view name) const;
    // The class named by "NSPrincipalClass"; empty (reason on standard
    // error) when the key is missing or the object lacks the class.
    Class principalClass() const;

private:
    const Dictionary* stringsTable(const std::string& language, const std::string& table) const;

    std::string path_;
    Dictionary info_;
    mutable std::mutex tablesMutex_;
    mutable std::map<std::string, std::optional<Dictionary>> tables_;
};

// The main bundle's text for key (see localizedString); the key itself when
// the process has no main bundle (tools, tests).
std::string localizedMainString(std::string_view key);

// The user's languages in order, from LANGUAGE, LC_ALL, LC_MESSAGES and LANG,
// in the names bundles use: "ja_JP.UTF-8" gives "ja", "zh_CN" "zh-Hans",
// "zh_TW" and "zh_HK" "zh-Hant", "pt_BR" gives "pt-BR" and then "pt".
std::vector<std::string> userLanguages();

} // namespace kdf
