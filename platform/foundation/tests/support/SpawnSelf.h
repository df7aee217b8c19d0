// Runs a program as a fresh process and waits for it within a time limit;
// runSelf runs this test program again with extra environment variables
// (which its main reads first to run one case). posix_spawn, never fork: a
// test process has threads.
#pragma once

#include <fcntl.h>
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

struct SpawnResult {
    bool started = false;
    bool timedOut = false; // killed at the limit
    // The exit status, or 128 + the signal that ended it; -1 when it did
    // not start or was killed at the limit.
    int status = -1;
};

// Runs args[0] (a path, no shell) with exactly the given environment; with
// a log, its standard output and error go into that file.
inline SpawnResult spawnAndWait(const std::vector<std::string>& args, const std::vector<std::string>& env,
                                const std::optional<std::filesystem::path>& log, std::chrono::seconds limit) {
    SpawnResult result;
    if (args.empty()) return result;
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (log) {
        posix_spawn_file_actions_addopen(&actions, 1, log->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t child = 0;
    const int rc = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return result;
    result.started = true;
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.timedOut = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// This program's exit status; none when it could not start, was killed by
// a signal, or did not end within the limit (it is then killed).
inline std::optional<int> runSelf(const std::vector<std::string>& extraVars, std::chrono::seconds limit) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraVars.begin(), extraVars.end());
    const SpawnResult r =
        spawnAndWait({std::filesystem::read_symlink("/proc/self/exe").string()}, env, std::nullopt, limit);
    if (!r.started || r.timedOut || r.status >= 128) return std::nullopt;
    return r.status;
}

} // namespace kdtest
