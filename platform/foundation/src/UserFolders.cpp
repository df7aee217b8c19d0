#include "foundation/UserFolders.h"

#include "foundation/File.h"
#include "foundation/Preferences.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kdf {

namespace {

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

// XDG_<KEY>_DIR from user-dirs.dirs: a line KEY="$HOME/Folder" or
// KEY="/absolute/path"; anything else is ignored as the format says.
std::string userDir(const char* key, const char* fallback) {
    const std::string home = homeFolder();
    std::ifstream in(joinPath(preferencesFolder(), "user-dirs.dirs"));
    std::string line, found;
    const std::string prefix = std::string(key) + "=\"";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
        if (value.rfind("$HOME/", 0) == 0)
            value = joinPath(home, value.substr(6));
        else if (value == "$HOME")
            value = home;
        else if (value.empty() || value[0] != '/')
            continue;
        found = value;
    }
    // A folder set to the home folder itself means "disabled": use the usual one.
    if (found.empty() || found == home || found == home + "/") return joinPath(home, fallback);
    return found;
}

} // namespace

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    std::vector<char> buf(16384);
    struct passwd pw, *result = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result &&
        result->pw_dir)
        return result->pw_dir;
    return "/";
}

std::string desktopFolder() {
    return userDir("XDG_DESKTOP_DIR", "Desktop");
}
std::string documentsFolder() {
    return userDir("XDG_DOCUMENTS_DIR", "Documents");
}
std::string picturesFolder() {
    return userDir("XDG_PICTURES_DIR", "Pictures");
}

std::optional<std::string> userTemporaryFolder(std::string* error) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string base = tmpdir && tmpdir[0] == '/' ? tmpdir : "/tmp";
    std::string path = joinPath(base, "kd-" + std::to_string(::getuid()));
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        setError(error, "cannot create " + path + ": " + errnoText(errno));
        return std::nullopt;
    }
    // lstat, not stat: a link planted under the name is never followed.
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        setError(error, "cannot examine " + path + ": " + errnoText(errno));
        return std::nullopt;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        setError(error, path + " is not a folder of this user");
        return std::nullopt;
    }
    if ((st.st_mode & 077) != 0) {
        setError(error, path + " is open to other users");
        return std::nullopt;
    }
    return path;
}

} // namespace kdf
