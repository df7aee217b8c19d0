#include "PathUtil.h"

#include <QString>

#include <filesystem>
#include <system_error>

namespace kdkit::PathUtil {
namespace {

namespace fs = std::filesystem;

bool sameName(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

void search(const std::string& name, const fs::path& folder, std::size_t max, std::vector<std::string>& paths,
            unsigned type, int depth) {
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return;
        if (max != 0 && paths.size() >= max) return;
        const fs::path path = it->path();
        std::error_code sec;
        const fs::file_status own = fs::symlink_status(path, sec);
        const bool isLink = fs::is_symlink(own);
        const bool isFolder = isLink ? fs::is_directory(fs::status(path, sec)) : fs::is_directory(own);
        if (isFolder && !isLink && depth < kMaxSearchDepth)
            search(name, path, max, paths, type, depth + 1);
        const bool candidate = isFolder ? (type & kMatchFolders) != 0 : (type & kMatchFiles) != 0;
        if (candidate && sameName(path.filename().string(), name)) paths.push_back(path.string());
    }
}

} // namespace

std::size_t getChildren(const std::string& name, const std::string& folder, std::size_t max,
                        std::vector<std::string>& paths, unsigned type) {
    if (folder.empty()) return paths.size();
    search(name, fs::path(folder), max, paths, type, 0);
    return paths.size();
}

std::size_t getSubFolderPath(const std::string& name, const std::string& parent, std::size_t max,
                             std::vector<std::string>* paths) {
    std::vector<std::string> found;
    const std::size_t count = getChildren(name, parent, max, found, kMatchFolders);
    if (paths) *paths = std::move(found);
    return count;
}

} // namespace kdkit::PathUtil
