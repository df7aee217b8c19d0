#include "TV_Func.h"

#include <desktop/Desktop.h>
#include <foundation/File.h>
#include <foundation/UserFolders.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TV_Func {

namespace {

// The path with links resolved as far as it exists.
std::string resolved(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

std::optional<std::string> nonEmpty(std::string path) {
    if (path.empty()) return std::nullopt;
    return resolved(path);
}

// "/a/b/../c/" as "/a/c"; a relative path is taken from the current folder.
std::string normalised(std::string_view path) {
    fs::path p(path);
    if (p.is_relative()) {
        std::error_code ec;
        p = fs::current_path(ec) / p;
    }
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

// The path or one of its ancestors (stopping before "/") is one of the folders.
bool underAny(const std::string& path, const std::vector<std::string>& folders) {
    for (std::string p = path; p.size() > 1; p = kdf::folderOf(p)) {
        if (std::find(folders.begin(), folders.end(), p) != folders.end()) return true;
        if (p.find('/') == std::string::npos) break;
    }
    return false;
}

std::string xdgOr(const char* variable, const std::string& fallback) {
    const char* v = std::getenv(variable);
    return v && v[0] == '/' ? std::string(v) : fallback;
}

bool endsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

} // namespace

std::optional<std::string> defaultDesktopPath() {
    return nonEmpty(kdf::desktopFolder());
}

std::optional<std::string> defaultDocumentFolder() {
    return nonEmpty(kdf::documentsFolder());
}

std::optional<std::string> defaultAppFolder() {
    const auto folders = kdd::applicationFolders();
    // The user's own folder comes first in that list; the local one is a
    // system folder.
    for (std::size_t i = 1; i < folders.size(); ++i)
        if (kdf::isDirectory(folders[i])) return resolved(folders[i]);
    return std::nullopt;
}

std::string defaultPictureFolder() {
    const std::string inHome = kdf::joinPath(kdf::homeFolder(), "Pictures");
    if (isDirectory(inHome)) return inHome;
    const std::string pictures = kdf::picturesFolder();
    std::error_code ec;
    if (!pictures.empty() && (isDirectory(pictures) || fs::create_directories(pictures, ec)))
        return pictures;
    return inHome;
}

std::optional<std::string> defaultEvernotePath() {
    if (auto entry = kdd::findDesktopEntryNamed("Evernote")) return entry;
    if (auto program = kdd::findProgram("Evernote")) return program;
    return kdd::findProgram("evernote");
}

std::optional<std::vector<std::string>> directoryFilesAtPath(std::string_view folder) {
    if (!isDirectory(folder)) return std::nullopt;
    const std::string dir(folder);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::nullopt;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (!isDirectory(kdf::joinPath(dir, name))) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool isDirectory(std::string_view path) {
    return !path.empty() && kdf::isDirectory(std::string(path));
}

bool isExistsFile(std::string_view path) {
    struct stat st {};
    return !path.empty() && ::stat(std::string(path).c_str(), &st) == 0;
}

bool isRemoveFile(std::string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    const fs::path p{std::string(path)};
    if (!fs::exists(fs::symlink_status(p, ec))) return false;
    // remove_all takes a link itself away and never descends through one.
    fs::remove_all(p, ec);
    return !ec;
}

bool isReadableWritableDirectory(std::string_view path) {
    const std::string p(path);
    struct stat st {};
    if (p.empty() || ::stat(p.c_str(), &st) != 0) return false;
    return (st.st_mode & 0600) == 0600 && ::access(p.c_str(), R_OK | W_OK) == 0;
}

std::vector<std::string> libraryFolders() {
    const std::string home = kdf::homeFolder();
    std::vector<std::string> folders = {"/usr", "/etc", "/var",  "/opt",  "/boot",  "/proc", "/sys",
                                        "/dev", "/run", "/lib", "/lib32", "/lib64", "/libx32"};
    for (const std::string& f : {kdf::joinPath(home, ".local"), kdf::joinPath(home, ".cache"),
                                 kdf::joinPath(home, ".config"),
                                 xdgOr("XDG_DATA_HOME", kdf::joinPath(home, ".local/share")),
                                 xdgOr("XDG_STATE_HOME", kdf::joinPath(home, ".local/state")),
                                 xdgOr("XDG_CACHE_HOME", kdf::joinPath(home, ".cache")),
                                 xdgOr("XDG_CONFIG_HOME", kdf::joinPath(home, ".config"))})
        folders.push_back(normalised(f));
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    return folders;
}

bool isLibraryDirectory(std::string_view path) {
    if (path.empty()) return false;
    const auto folders = libraryFolders();
    std::vector<std::string> resolvedFolders;
    for (const auto& f : folders) resolvedFolders.push_back(resolved(f));
    const std::string written = normalised(path);
    return underAny(written, folders) || underAny(resolved(written), resolvedFolders);
}

bool isDisplaysDirectory(std::string_view path) {
    if (path.empty() || !isDirectory(path)) return false;
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
    if (endsWith(trimmed, "/Library") || endsWith(trimmed, "/System")) return false;
    if (isLibraryDirectory(path)) return false;
    const std::string here = resolved(normalised(path));
    std::vector<std::string> temporary = {resolved(normalised(xdgOr("TMPDIR", "/tmp")))};
    if (auto own = kdf::userTemporaryFolder()) temporary.push_back(resolved(*own));
    if (std::find(temporary.begin(), temporary.end(), here) != temporary.end()) return false;
    for (const auto& component : fs::path(path))
        if (!component.empty() && component.native()[0] == '.') return false;
    return true;
}

void performBlock(std::function<void()> block, double delaySeconds, kdf::RunLoopModes modes) {
    if (!block) return;
    kdf::RunLoop::current().performAfterDelay(nullptr, "TV_Func.performBlock",
                                              kdf::Seconds(delaySeconds), std::move(block), modes);
}

} // namespace TV_Func
