// RelaunchQLR: starts the scanning application again after it quit
// following a reset of its settings. The application starts this helper
// with its bundle's path as the only argument and does not wait for it.
//
// The logic is a library with its outside world injected (system log,
// sleeping, the process list, the launch), so tests check the log line and
// the waits without a real clock or a real application.
#pragma once

#include <desktop/Desktop.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace relaunch {

struct Services {
    // One line of the system log.
    std::function<void(const std::string& line)> log;
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<std::vector<kdd::ProcessInfo>()> processes;
    // Starts the executable so that it outlives the helper; false (with the
    // reason) when it could not be started.
    std::function<bool(const std::string& executable, std::string* error)> launch;

    // The pause that gives the quitting application time to end.
    std::chrono::milliseconds pause{1000};
    // How long the old process may take to end after the pause, and how
    // often the process list is read meanwhile.
    std::chrono::milliseconds waitLimit{30000};
    std::chrono::milliseconds pollInterval{100};
};

// syslog (identifier "RelaunchQLR", LOG_USER, LOG_ERR), a real sleep, the
// user's processes from /proc, and a launch in a session of its own.
Services systemServices();

// "~", "~/rest" from the home folder, "~user/rest" from the password
// database; other paths unchanged. None for an unknown user.
std::optional<std::string> expandTilde(const std::string& path);

// The whole run: the pause, the argument (argv[1]), the wait for the old
// process of that bundle's executable to end, the launch. Answers the exit
// status: 0 when the application was started, else 1 after one log line.
int run(int argc, const char* const* argv, const Services& services);

} // namespace relaunch
