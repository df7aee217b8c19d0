// A private session bus for a test: one dbus-daemon of its own, whose
// address goes into DBUS_SESSION_BUS_ADDRESS, so this process and every
// process it starts talk on it and never on the user's bus. Make it at the
// top of main, before any thread starts (it sets the environment); it ends
// the daemon when it goes. Started with posix_spawn, never fork.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern char** environ;

namespace kdtest {

class TestBus {
public:
    TestBus() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>("--session"),
                        const_cast<char*>("--print-address=1"), const_cast<char*>("--print-pid=1"),
                        const_cast<char*>("--fork"), nullptr};
        pid_t launcher = 0;
        const int rc = posix_spawnp(&launcher, "dbus-daemon", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            throw std::runtime_error("dbus-daemon cannot be started");
        }
        // Address line, then pid line; a daemon that says nothing in time
        // fails the test rather than hanging it.
        std::string text;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (countLines(text) < 2 && std::chrono::steady_clock::now() < until) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, std::size_t(n));
        }
        ::close(fds[0]);
        int status = 0;
        ::waitpid(launcher, &status, 0);
        const auto nl = text.find('\n');
        if (countLines(text) < 2) throw std::runtime_error("dbus-daemon gave no address");
        address_ = text.substr(0, nl);
        pid_ = pid_t(std::atoi(text.c_str() + nl + 1));
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
    ~TestBus() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    TestBus(const TestBus&) = delete;
    TestBus& operator=(const TestBus&) = delete;

    const std::string& address() const { return address_; }
    pid_t pid() const { return pid_; }

private:
    static int countLines(const std::string& s) {
        int n = 0;
        for (char c : s) n += c == '\n';
        return n;
    }
    std::string address_;
    pid_t pid_ = 0;
};

} // namespace kdtest
