#include "desktop/Desktop.h"

#include <foundation/Bundle.h>
#include <foundation/File.h>
#include <foundation/UserFolders.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kdd {

namespace {

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

// argv for posix_spawn: the program first, then the arguments.
std::vector<char*> argvOf(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Spawns with standard input from /dev/null, standard output to outFd (or
// /dev/null when negative) and standard error to /dev/null; in a session
// of its own when asked.
std::optional<pid_t> spawn(const std::string& program, const std::vector<std::string>& args, int outFd,
                           std::string* error, bool newSession = false) {
    const auto path = findProgram(program);
    if (!path) {
        setError(error, "program not found: " + program);
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts with default signal handling, whatever we ignore.
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attr, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (newSession) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    auto argv = argvOf(*path, args);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path->c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        setError(error, "cannot start " + *path + ": " + kdf::errnoText(rc));
        return std::nullopt;
    }
    return pid;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::vector<std::string> splitColons(const char* list, const char* fallback) {
    std::string s = list && *list ? list : fallback;
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= s.size()) {
        const std::size_t end = std::min(s.find(':', start), s.size());
        if (end > start) out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The Name= line of the [Desktop Entry] group.
std::string desktopEntryName(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inEntry = line.rfind("[Desktop Entry]", 0) == 0;
            continue;
        }
        if (inEntry && line.rfind("Name=", 0) == 0) return line.substr(5);
    }
    return {};
}

} // namespace

std::optional<pid_t> spawnDetached(const std::string& program, const std::vector<std::string>& args,
                                   std::string* error) {
    auto pid = spawn(program, args, -1, error);
    if (pid) {
        // The opener may stay until the program it started ends: reap it
        // in the background instead of waiting here.
        std::thread([p = *pid] {
            int status = 0;
            while (::waitpid(p, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    return pid;
}

std::optional<pid_t> spawnInNewSession(const std::string& program, const std::vector<std::string>& args,
                                       std::string* error) {
    return spawn(program, args, -1, error, true);
}

std::optional<std::string> runAndRead(const std::string& program, const std::vector<std::string>& args,
                                      std::chrono::milliseconds timeout, std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        setError(error, "pipe: " + kdf::errnoText(errno));
        return std::nullopt;
    }
    auto pid = spawn(program, args, fds[1], error);
    ::close(fds[1]);
    if (!pid) {
        ::close(fds[0]);
        return std::nullopt;
    }
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int n = ::poll(&p, 1, int(std::min<long long>(left.count(), 1 << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            timedOut = n == 0;
            break;
        }
        char buf[4096];
        const ssize_t got = ::read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (out.size() < (std::size_t(1) << 20)) out.append(buf, std::size_t(got));
    }
    ::close(fds[0]);
    if (timedOut) ::kill(*pid, SIGKILL);
    int status = 0;
    while (::waitpid(*pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        setError(error, program + " did not answer in time");
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        setError(error, program + " failed");
        return std::nullopt;
    }
    return out;
}

std::string fileUrl(const std::string& absolutePath) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : absolutePath) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

bool openPath(const std::string& path, std::string* error) {
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) {
            setError(error, "no current folder");
            return false;
        }
        absolute = kdf::joinPath(cwd, path);
    }
    return spawnDetached("xdg-open", {fileUrl(absolute)}, error).has_value();
}

std::optional<std::string> findProgram(const std::string& name) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? std::optional<std::string>(name) : std::nullopt;
    for (const auto& dir : splitColons(std::getenv("PATH"), "/usr/local/bin:/usr/bin:/bin")) {
        const std::string candidate = kdf::joinPath(dir, name);
        if (isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

std::vector<std::string> applicationFolders() {
    std::vector<std::string> out;
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && dataHome[0] == '/')
        out.push_back(kdf::joinPath(dataHome, "applications"));
    else
        out.push_back(kdf::joinPath(kdf::homeFolder(), ".local/share/applications"));
    for (const auto& dir : splitColons(std::getenv("XDG_DATA_DIRS"), "/usr/local/share:/usr/share"))
        if (dir[0] == '/') out.push_back(kdf::joinPath(dir, "applications"));
    return out;
}

std::optional<std::string> desktopEntryPath(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos) return std::nullopt;
    for (const auto& dir : applicationFolders()) {
        const std::string candidate = kdf::joinPath(dir, id);
        if (kdf::isRegularFile(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> findDesktopEntryNamed(const std::string& name) {
    const std::string wanted = lowered(name);
    for (const auto& dir : applicationFolders()) {
        DIR* d = ::opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d)) {
            std::string file = e->d_name;
            if (file.size() > 8 && file.compare(file.size() - 8, 8, ".desktop") == 0) names.push_back(file);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const auto& file : names) {
            const std::string path = kdf::joinPath(dir, file);
            if (!kdf::isRegularFile(path)) continue;
            if (lowered(file.substr(0, file.size() - 8)) == wanted || desktopEntryName(path) == name)
                return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> defaultMailAppPath() {
    auto out = runAndRead("xdg-mime", {"query", "default", "x-scheme-handler/mailto"},
                          std::chrono::seconds(5));
    if (!out) return std::nullopt;
    std::string id = *out;
    while (!id.empty() && std::isspace(static_cast<unsigned char>(id.back()))) id.pop_back();
    // Only the first entry counts when several are listed.
    id = id.substr(0, id.find(';'));
    return desktopEntryPath(id);
}

std::vector<ProcessInfo> runningProcesses() {
    std::vector<ProcessInfo> out;
    DIR* proc = ::opendir("/proc");
    if (!proc) return out;
    const uid_t me = ::getuid();
    std::vector<pid_t> pids;
    while (dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && pid > 0) pids.push_back(pid_t(pid));
    }
    ::closedir(proc);
    std::sort(pids.begin(), pids.end());
    for (pid_t pid : pids) {
        const std::string dir = "/proc/" + std::to_string(pid);
        struct stat st {};
        // Gone meanwhile, or another user's: skipped.
        if (::stat(dir.c_str(), &st) != 0 || st.st_uid != me) continue;
        char exe[4096];
        const ssize_t n = ::readlink((dir + "/exe").c_str(), exe, sizeof exe - 1);
        if (n <= 0) continue;
        ProcessInfo info;
        info.pid = pid;
        info.executable.assign(exe, std::size_t(n));
        // A replaced executable reads "<path> (deleted)": no bundle then.
        const bool deleted = info.executable.size() > 10 &&
                             info.executable.compare(info.executable.size() - 10, 10, " (deleted)") == 0;
        const std::string folder = kdf::folderOf(info.executable);
        if (!deleted && kdf::isRegularFile(kdf::joinPath(folder, "Info.plist"))) {
            if (auto bundle = kdf::Bundle::atPath(folder)) {
                info.bundlePath = folder;
                info.bundleIdentifier = bundle->identifier();
            }
        }
        out.push_back(std::move(info));
    }
    return out;
}

} // namespace kdd
