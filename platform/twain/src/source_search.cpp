#include "source_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace kd::twain {
namespace {

constexpr const char* kDefaultFolder = "/usr/local/lib/twain";

// Without links a folder tree cannot loop, but bind mounts can; this bound
// keeps such a tree from recursing without end.
constexpr int kMaxDepth = 32;

std::vector<std::string> SortedEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void Walk(const std::string& folder, int depth, std::vector<std::string>& found) {
    if (depth > kMaxDepth) return;
    for (const std::string& name : SortedEntries(folder)) {
        std::string path = folder;
        if (path.empty() || path.back() != '/') path += '/';
        path += name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            Walk(path, depth + 1, found);
        } else if (S_ISREG(info.st_mode) && name.find(".ds") != std::string::npos) {
            found.push_back(std::move(path));
        }
    }
}

}  // namespace

std::vector<std::string> SourceFolders() {
    const char* value = std::getenv("KD_TWAIN_DS_PATH");
    if (value == nullptr || *value == '\0') return {kDefaultFolder};
    std::vector<std::string> folders;
    std::string_view rest = value;
    while (true) {
        const std::size_t colon = rest.find(':');
        std::string_view part = rest.substr(0, colon);
        if (!part.empty()) folders.emplace_back(part);
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return folders;
}

std::vector<std::string> FindSourceFiles(const std::vector<std::string>& folders) {
    std::vector<std::string> found;
    for (const std::string& folder : folders) Walk(folder, 0, found);
    return found;
}

}  // namespace kd::twain
