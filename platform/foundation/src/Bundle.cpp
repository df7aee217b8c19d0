#include "foundation/Bundle.h"

#include "foundation/File.h"
#include "foundation/PropertyList.h"

#include "ClassRegistry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace kdf {

namespace {

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

struct MainBundleState {
    std::mutex mutex;
    std::string overridePath;
    std::shared_ptr<const Bundle> cached;
};

MainBundleState& mainState() {
    static MainBundleState state;
    return state;
}

std::string stringInfo(const Dictionary& info, std::string_view key) {
    const Value* v = find(info, key);
    return v && v->string() ? *v->string() : std::string();
}

// "ja_JP.UTF-8@variant" -> candidates in the bundles' naming.
void addLanguage(std::vector<std::string>& out, std::string name) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return;
    std::string lang = name.substr(0, name.find('_'));
    std::string region = name.find('_') == std::string::npos ? "" : name.substr(name.find('_') + 1);
    std::vector<std::string> names;
    if (lang == "zh") {
        if (region == "TW" || region == "HK" || region == "MO" || region == "Hant")
            names.push_back("zh-Hant");
        else
            names.push_back("zh-Hans");
    } else {
        if (!region.empty()) {
            std::string full = lang;
            full.append(1, '-').append(region);
            names.push_back(std::move(full));
        }
        names.push_back(lang);
    }
    for (auto& n : names)
        if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(std::move(n));
}

} // namespace

std::vector<std::string> userLanguages() {
    std::vector<std::string> out;
    if (const char* language = std::getenv("LANGUAGE"); language && *language) {
        std::string list = language;
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t colon = list.find(':', start);
            addLanguage(out, list.substr(start, colon - start));
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
    }
    // The first of these that is set is the locale of messages.
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* v = std::getenv(var); v && *v) {
            addLanguage(out, v);
            break;
        }
    }
    return out;
}

Bundle::Bundle(std::string path) : path_(std::move(path)) {
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
    if (auto info = readPropertyListFile(joinPath(path_, "Info.plist")); info && info->dictionary())
        info_ = *info->dictionary();
}

Bundle::~Bundle() = default;

std::shared_ptr<const Bundle> Bundle::main() {
    auto& state = mainState();
    std::lock_guard lock(state.mutex);
    if (!state.cached) {
        std::string path = state.overridePath;
        if (path.empty()) path = folderOf(realPath("/proc/self/exe"));
        state.cached = std::make_shared<const Bundle>(path);
    }
    return state.cached;
}

std::string localizedMainString(std::string_view key) {
    auto bundle = Bundle::main();
    return bundle ? bundle->localizedString(key) : std::string(key);
}

void Bundle::setMainBundlePath(const std::string& path) {
    auto& state = mainState();
    std::lock_guard lock(state.mutex);
    state.overridePath = path;
    state.cached.reset();
}

std::shared_ptr<const Bundle> Bundle::containingAddress(const void* address) {
    Dl_info info{};
    if (!::dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return nullptr;
    std::string file = info.dli_fname;
    // The main program may be named by its bare name.
    if (file.find('/') == std::string::npos) file = "/proc/self/exe";
    return atPath(folderOf(realPath(file)));
}

std::shared_ptr<const Bundle> Bundle::atPath(const std::string& path) {
    if (!isDirectory(path)) return nullptr;
    return std::make_shared<const Bundle>(path);
}

const Value* Bundle::objectForInfoKey(std::string_view key) const {
    return find(info_, key);
}

std::string Bundle::identifier() const {
    return stringInfo(info_, "CFBundleIdentifier");
}

std::string Bundle::developmentRegion() const {
    std::string region = stringInfo(info_, "CFBundleDevelopmentRegion");
    return region.empty() ? "en" : region;
}

std::string Bundle::executablePath() const {
    std::string name = stringInfo(info_, "CFBundleExecutable");
    return name.empty() ? std::string() : joinPath(path_, name);
}

std::string Bundle::resourcePath() const {
    return joinPath(path_, "Resources");
}
std::string Bundle::builtInPlugInsPath() const {
    return joinPath(path_, "PlugIns");
}
std::string Bundle::sharedSupportPath() const {
    return joinPath(path_, "SharedSupport");
}
std::string Bundle::privateFrameworksPath() const {
    return joinPath(path_, "Frameworks");
}

std::vector<std::string> Bundle::localizations() const {
    std::vector<std::string> out;
    DIR* dir = ::opendir(resourcePath().c_str());
    if (!dir) return out;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        constexpr std::string_view ext = ".lproj";
        if (name.size() > ext.size() &&
            name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
            out.push_back(name.substr(0, name.size() - ext.size()));
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Bundle::preferredLocalizations() const {
    const auto have = localizations();
    std::vector<std::string> out;
    for (const auto& lang : userLanguages())
        if (std::find(have.begin(), have.end(), lang) != have.end()) {
            out.push_back(lang);
            break; // the first language the bundle has
        }
    std::string region = developmentRegion();
    if (std::find(out.begin(), out.end(), region) == out.end()) out.push_back(region);
    return out;
}

std::string Bundle::pathForResource(std::string_view name, std::string_view type,
                                    std::string_view subfolder) const {
    std::string file(name);
    std::string suffix;
    if (!type.empty()) suffix.append(1, '.').append(type);
    if (!file.ends_with(suffix)) file += suffix;
    std::vector<std::string> folders{resourcePath()};
    for (const auto& lang : preferredLocalizations())
        folders.push_back(joinPath(resourcePath(), lang + ".lproj"));
    for (auto& folder : folders) {
        if (!subfolder.empty()) folder = joinPath(folder, std::string(subfolder));
        std::string candidate = joinPath(folder, file);
        if (::access(candidate.c_str(), F_OK) == 0) return candidate;
    }
    return {};
}

const Dictionary* Bundle::stringsTable(const std::string& language,
                                       const std::string& table) const {
    std::string key = language + "/" + table;
    {
        std::lock_guard lock(tablesMutex_);
        if (auto it = tables_.find(key); it != tables_.end())
            return it->second ? &*it->second : nullptr;
    }
    // Read outside the lock; a second reader racing here reads the same file.
    std::optional<Dictionary> loaded;
    std::string path = joinPath(joinPath(resourcePath(), language + ".lproj"), table + ".strings");
    if (auto v = readPropertyListFile(path); v && v->dictionary()) loaded = *v->dictionary();
    std::lock_guard lock(tablesMutex_);
    auto [it, inserted] = tables_.try_emplace(key, std::move(loaded));
    return it->second ? &*it->second : nullptr;
}

std::string Bundle::localizedString(std::string_view key, std::string_view defaultValue,
                                    std::string_view table) const {
    const std::string tableName = table.empty() ? "Localizable" : std::string(table);
    for (const auto& lang : preferredLocalizations()) {
        if (const Dictionary* strings = stringsTable(lang, tableName)) {
            if (const Value* v = find(*strings, key); v && v->string()) return *v->string();
        }
    }
    return std::string(defaultValue.empty() ? key : defaultValue);
}

} // namespace kdf

namespace kdf {

bool Bundle::load() const {
    const std::string file = executablePath();
    if (file.empty()) {
        std::fprintf(stderr, "bundle: %s names no executable\n", path_.c_str());
        return false;
    }
    return detail::loadClassObject(file);
}

bool Bundle::isLoaded() const {
    const std::string file = executablePath();
    return !file.empty() && detail::isClassObjectLoaded(file);
}

Class Bundle::classNamed(std::string_view name) const {
    if (!load()) return {};
    return detail::classInObject(executablePath(), name);
}

Class Bundle::principalClass() const {
    const std::string name = stringInfo(info_, "NSPrincipalClass");
    if (name.empty()) {
        std::fprintf(stderr, "bundle: %s names no principal class\n", path_.c_str());
        return {};
    }
    Class cls = classNamed(name);
    if (!cls && isLoaded())
        std::fprintf(stderr, "bundle: %s has no class %s\n", path_.c_str(), name.c_str());
    return cls;
}

} // namespace kdf
