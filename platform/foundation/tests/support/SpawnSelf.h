// Runs this test program again as a fresh process with extra environment
// variables (which its main reads first to run one case) and waits for it
// within a time limit. posix_spawn, never fork: a test process has threads.
#pragma once

#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kdtest {

// The child's exit status; none when it could not start, was killed by a
// signal, or did not end within the limit (it is then killed).
inline std::optional<int> runSelf(const std::vector<std::string>& extraVars,
                                  std::chrono::seconds limit) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) vars.emplace_back(*e);
    vars.insert(vars.end(), extraVars.begin(), extraVars.end());
    std::vector<char*> env;
    for (std::string& v : vars) env.push_back(v.data());
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(self.c_str()), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, env.data()) != 0)
        return std::nullopt;
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

} // namespace kdtest
