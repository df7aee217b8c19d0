// The stand-in companion as tests start it: on the test's private bus,
// its standard input on a pipe for the events to send, its log in a file.
#pragma once

#include "AppMainCntlrFakes.h"

#include <QCoreApplication>

#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace apptest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs the event loop until the condition holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        runOneTurn();
    }
    return true;
}

inline std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The stand-in companion, started by the test with its standard input on a
// pipe, logging into a file.
class Companion {
public:
    Companion(const fs::path& executable, const fs::path& logPath, std::map<std::string, std::string> extra)
        : log_(logPath) {
        fs::remove(logPath); // a new log for each companion
        int fds[2];
        if (::pipe(fds) != 0) return;
        extra["KD_COMPANION_LOG"] = logPath.string();
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) envText.emplace_back(*e);
        for (const auto& [k, v] : extra) envText.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& s : envText) envp.push_back(s.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::string exe = executable.string();
        char* argv[] = {exe.data(), nullptr};
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        input_ = fds[1];
    }
    ~Companion() {
        if (input_ >= 0) ::close(input_);
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 300; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(10ms);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        (void)!::write(input_, text.data(), text.size());
    }
    std::string log() const { return readText(log_); }
    bool logged(const std::string& line) const { return ("\n" + log()).find("\n" + line + "\n") != std::string::npos; }
    bool waitLogged(const std::string& line, std::chrono::milliseconds limit = 5000ms) const {
        return waitUntil([&] { return logged(line); }, limit);
    }

private:
    fs::path log_;
    pid_t pid_ = 0;
    int input_ = -1;
};

} // namespace apptest
