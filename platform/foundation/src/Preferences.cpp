#include "foundation/Preferences.h"

#include "foundation/File.h"
#include "foundation/PropertyList.h"
#include "foundation/UserFolders.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kdf {

namespace {

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

// Threads of this process are kept apart by a mutex picked by the file's
// name, processes by a flock on a side file. The mutexes are a fixed table
// so nothing grows with the names used.
std::mutex& threadLockFor(const std::string& path) {
    static std::mutex table[16];
    return table[std::hash<std::string>{}(path) % 16];
}

class FileLock {
public:
    explicit FileLock(const std::string& path) : guard_(threadLockFor(path)) {
        std::string lockPath = path + ".lock";
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) return; // unwritable folder: the write will fail with its own error
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_); // releases the flock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    std::lock_guard<std::mutex> guard_;
    int fd_ = -1;
};

PreferencesContent readPath(const std::string& path) {
    PreferencesContent content;
    bool missing = false;
    auto value = readPropertyListFile(path, &content.error, &missing);
    if (missing) {
        content.error.clear();
        return content;
    }
    if (value && value->dictionary()) {
        content.state = PreferencesContent::State::Loaded;
        content.values = *value->dictionary();
        return content;
    }
    if (value) content.error = path + ": the property list does not hold a dictionary";
    content.state = PreferencesContent::State::Unreadable;
    return content;
}

// Keeps a damaged file for the user instead of writing over it.
bool moveAside(const std::string& path, const std::string& why, std::string* error) {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    struct tm tm;
    ::gmtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
    std::string target = path + ".unreadable-" + stamp;
    for (int n = 1; ::access(target.c_str(), F_OK) == 0; ++n)
        target = path + ".unreadable-" + stamp + "-" + std::to_string(n);
    if (::rename(path.c_str(), target.c_str()) != 0) {
        setError(error, "cannot move the unreadable " + path + " aside: " + errnoText(errno));
        return false;
    }
    std::fprintf(stderr, "%s\nThe file was moved to %s and a new one started.\n", why.c_str(),
                 target.c_str());
    return true;
}

bool ensureFolder(const std::string& folder, std::string* error) {
    // Creates the missing parents of ~/.config as well.
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        partial = folder.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            setError(error, "cannot create " + partial + ": " + errnoText(errno));
            return false;
        }
    }
    return true;
}

// The locked read-modify-write that every writer goes through. edit gets the
// current dictionary (empty for a missing or damaged file) and answers
// whether to keep it (write), or nullopt for removing the file.
bool lockedUpdate(std::string_view name,
                  const std::function<std::optional<bool>(Dictionary&)>& edit, std::string* error) {
    const std::string path = preferencesFilePath(name);
    if (!ensureFolder(folderOf(path), error)) return false;
    FileLock lock(path);
    PreferencesContent current = readPath(path);
    Dictionary values = std::move(current.values);
    std::optional<bool> write = edit(values);
    if (write && !*write) return true;
    if (current.state == PreferencesContent::State::Unreadable &&
        !moveAside(path, current.error, error))
        return false;
    if (!write) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            setError(error, "cannot remove " + path + ": " + errnoText(errno));
            return false;
        }
        return true;
    }
    return writePropertyListFile(path, Value(std::move(values)), error);
}

} // namespace

std::string preferencesFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Only an absolute path counts, as the base-directory rules say.
    if (config && config[0] == '/') return config;
    return joinPath(homeFolder(), ".config");
}

std::string preferencesFilePath(std::string_view name) {
    return joinPath(preferencesFolder(), std::string(name) + ".plist");
}

PreferencesContent readPreferencesFile(std::string_view name) {
    return readPath(preferencesFilePath(name));
}

bool updatePreferencesFile(std::string_view name, const std::function<bool(Dictionary&)>& edit,
                           std::string* error) {
    return lockedUpdate(
        name, [&](Dictionary& d) -> std::optional<bool> { return edit(d); }, error);
}

bool writePreferencesFile(std::string_view name, const Dictionary& values, std::string* error) {
    return lockedUpdate(
        name,
        [&](Dictionary& d) -> std::optional<bool> {
            d = values;
            return true;
        },
        error);
}

bool removePreferencesFile(std::string_view name, std::string* error) {
    return lockedUpdate(
        name, [](Dictionary&) -> std::optional<bool> { return std::nullopt; }, error);
}

} // namespace kdf
