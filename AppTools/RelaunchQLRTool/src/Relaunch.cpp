#include "Relaunch.h"

#include <foundation/Bundle.h>
#include <foundation/File.h>
#include <foundation/Format.h>
#include <foundation/UserFolders.h>

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

namespace relaunch {

namespace {

// The path is an argument of a fixed text, never part of a format, so a
// path holding "%n" or "%s" is logged as it stands.
std::string failureLine(const char* path) {
    return std::string("Error: could not relaunch application at ") + (path ? path : "(null)");
}

std::string realPathOf(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The executable of the application bundle at the path; none when the
// path is no such bundle.
std::optional<std::string> applicationExecutable(const std::string& bundlePath) {
    const auto bundle = kdf::Bundle::atPath(bundlePath);
    if (!bundle) return std::nullopt;
    const std::string exe = bundle->executablePath();
    if (exe.empty() || !isExecutableFile(exe)) return std::nullopt;
    return exe;
}

bool isRunning(const std::string& executable, const Services& services) {
    const pid_t self = ::getpid();
    for (const auto& p : services.processes())
        if (p.pid != self && p.executable == executable) return true;
    return false;
}

// The application refuses to start while an older copy still runs, and its
// termination (settings saved, plug-ins ended) may outlast the pause: wait
// for the old process, bounded, before launching.
bool waitForOldProcess(const std::string& executable, const Services& services) {
    std::chrono::milliseconds waited{0};
    while (isRunning(executable, services)) {
        if (waited >= services.waitLimit) return false;
        services.sleep(services.pollInterval);
        waited += services.pollInterval;
    }
    return true;
}

} // namespace

std::optional<std::string> expandTilde(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    const std::size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
    if (user.empty()) return kdf::homeFolder() + rest;
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwnam_r(user.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !pw.pw_dir)
        return std::nullopt;
    return std::string(pw.pw_dir) + rest;
}

int run(int argc, const char* const* argv, const Services& services) {
    services.sleep(services.pause);
    const char* arg = argc > 1 ? argv[1] : nullptr;
    if (!arg || !kdf::isValidUtf8(arg)) {
        services.log(failureLine(nullptr));
        return 1;
    }
    const auto path = expandTilde(arg);
    const auto executable = path ? applicationExecutable(*path) : std::nullopt;
    std::string error;
    if (!executable || !waitForOldProcess(realPathOf(*executable), services) ||
        !services.launch(*executable, &error)) {
        services.log(failureLine(arg));
        return 1;
    }
    return 0;
}

Services systemServices() {
    Services s;
    s.log = [](const std::string& line) {
        ::openlog("RelaunchQLR", 0, LOG_USER);
        ::syslog(LOG_USER | LOG_ERR, "%s", line.c_str());
        ::closelog();
    };
    s.sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
    s.processes = [] { return kdd::runningProcesses(); };
    s.launch = [](const std::string& executable, std::string* error) {
        return kdd::spawnInNewSession(executable, {}, error).has_value();
    };
    return s;
}

} // namespace relaunch
