// The RelaunchQLR executable against a stub application bundle: its exit
// status, the launch, and the wait for an older copy still running.
#include "support/StubBundle.h"

#include <TempHome.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

pid_t start(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ), 0);
    return pid;
}

// The exit status, or -1 when the program did not end within the limit
// (it is killed then).
int waitFor(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The launched stub runs detached: wait for its marker.
std::string markerText(const fs::path& marker, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const std::string text = kdtest::TempHome::readText(marker);
        if (!text.empty()) return text;
        std::this_thread::sleep_for(10ms);
    }
    return {};
}

struct RelaunchExecutable : ::testing::Test {
    kdtest::TempHome home;
    fs::path bundle = home.root() / "Stub.app";
    fs::path stub = bundle / "Stub";
    fs::path marker = home.root() / "marker";
    fs::path sleeperDone = home.root() / "sleeper-done";

    void SetUp() override {
        relaunchtest::makeBundle(bundle, "Stub", KD_RELAUNCH_STUB);
        home.env().set("KD_STUB_MARKER", marker.string());
        home.env().set("KD_STUB_SLEEPER_DONE", sleeperDone.string());
    }
};

TEST_F(RelaunchExecutable, LaunchesTheBundlesExecutable) {
    EXPECT_EQ(waitFor(start({KD_RELAUNCH_EXE, bundle.string()}), 20s), 0);
    EXPECT_EQ(markerText(marker, 10s), "before"); // no older copy was running
}

TEST_F(RelaunchExecutable, WaitsUntilTheOldCopyHasEnded) {
    const pid_t old = start({stub.string(), "sleep", "2500", sleeperDone.string()});
    std::thread reaper([old] { waitFor(old, 30s); });
    EXPECT_EQ(waitFor(start({KD_RELAUNCH_EXE, bundle.string()}), 30s), 0);
    reaper.join();
    EXPECT_EQ(markerText(marker, 10s), "after");
}

TEST_F(RelaunchExecutable, OldCopyThatNeverEndsFailsAndStartsNothing) {
    home.env().set("KD_RELAUNCH_WAIT_MS", "300");
    const pid_t old = start({stub.string(), "sleep", "60000", sleeperDone.string()});
    EXPECT_EQ(waitFor(start({KD_RELAUNCH_EXE, bundle.string()}), 20s), 1);
    ::kill(old, SIGKILL);
    waitFor(old, 5s);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(RelaunchExecutable, NoArgumentFails) {
    EXPECT_EQ(waitFor(start({KD_RELAUNCH_EXE}), 20s), 1);
}

} // namespace
