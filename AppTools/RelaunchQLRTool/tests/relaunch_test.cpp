// The relaunch helper's logic with its outside world recorded: the log
// line, the pause, the wait for the old process and the launch.
#include "Relaunch.h"
#include "support/StubBundle.h"

#include <TempHome.h>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct Recorder {
    std::vector<std::string> lines;
    std::vector<std::chrono::milliseconds> sleeps;
    std::vector<std::string> launched;
    int runningPolls = 0; // reads of the process list that still show the old process
    bool launchFails = false;
    std::string running;  // the executable of the "old process"

    relaunch::Services services() {
        relaunch::Services s;
        s.log = [this](const std::string& line) { lines.push_back(line); };
        s.sleep = [this](std::chrono::milliseconds d) { sleeps.push_back(d); };
        s.processes = [this] {
            std::vector<kdd::ProcessInfo> list;
            if (runningPolls != 0 && !running.empty()) {
                if (runningPolls > 0) --runningPolls;
                list.push_back({::getpid() + 1, running, {}, {}});
            }
            return list;
        };
        s.launch = [this](const std::string& exe, std::string* error) {
            launched.push_back(exe);
            if (launchFails && error) *error = "refused";
            return !launchFails;
        };
        s.pollInterval = 100ms;
        s.waitLimit = 1000ms;
        return s;
    }
};

int runWith(Recorder& r, std::vector<const char*> args) {
    args.insert(args.begin(), "RelaunchQLR");
    return relaunch::run(int(args.size()), args.data(), r.services());
}

TEST(Relaunch, FailuresLogOneLineWithTheArgumentAsGiven) {
    kdtest::TempHome home;
    std::filesystem::create_directories(home.root() / "NotABundle");
    relaunchtest::makeBundle(home.root() / "NoExec", "missing");
    std::filesystem::remove(home.root() / "NoExec" / "missing");
    const std::string file = (home.root() / "plain.txt").string();
    kdtest::TempHome::writeText(file, "x");
    const std::string notBundle = (home.root() / "NotABundle").string();
    const std::string noExec = (home.root() / "NoExec").string();

    struct Case {
        std::vector<const char*> args;
        std::string line;
    } cases[] = {
        {{}, "Error: could not relaunch application at (null)"},
        {{"\xff\xfe/App"}, "Error: could not relaunch application at (null)"},
        {{notBundle.c_str()}, "Error: could not relaunch application at " + notBundle},
        {{noExec.c_str()}, "Error: could not relaunch application at " + noExec},
        {{file.c_str()}, "Error: could not relaunch application at " + file},
        {{""}, "Error: could not relaunch application at "},
        {{"/no/such/%s%n \"q\""}, "Error: could not relaunch application at /no/such/%s%n \"q\""},
        {{"~kd_no_such_user_42/App"}, "Error: could not relaunch application at ~kd_no_such_user_42/App"},
    };
    for (const auto& c : cases) {
        Recorder r;
        EXPECT_EQ(runWith(r, c.args), 1) << c.line;
        ASSERT_EQ(r.lines.size(), 1u) << c.line;
        EXPECT_EQ(r.lines[0], c.line);
        EXPECT_TRUE(r.launched.empty()) << c.line;
        // The pause comes first, whatever the argument.
        ASSERT_FALSE(r.sleeps.empty());
        EXPECT_EQ(r.sleeps[0], 1000ms);
    }
}

TEST(Relaunch, TildePathIsLaunchedFromTheHomeFolder) {
    kdtest::TempHome home;
    relaunchtest::makeBundle(home.root() / "Q", "Quillora");
    Recorder r;
    EXPECT_EQ(runWith(r, {"~/Q"}), 0);
    EXPECT_TRUE(r.lines.empty());
    ASSERT_EQ(r.launched.size(), 1u);
    EXPECT_EQ(r.launched[0], (home.root() / "Q" / "Quillora").string());

    EXPECT_EQ(relaunch::expandTilde("~"), home.root().string());
    EXPECT_EQ(relaunch::expandTilde("/a/~b"), "/a/~b");
    EXPECT_EQ(relaunch::expandTilde("~root/x"), std::string("/root/x"));
}

TEST(Relaunch, WaitsForTheOldProcessThenLaunches) {
    kdtest::TempHome home;
    relaunchtest::makeBundle(home.root() / "Q", "Quillora");
    const std::string bundle = (home.root() / "Q").string();
    Recorder r;
    r.running = std::filesystem::canonical(home.root() / "Q" / "Quillora").string();
    r.runningPolls = 3;
    EXPECT_EQ(runWith(r, {bundle.c_str()}), 0);
    EXPECT_EQ(r.launched.size(), 1u);
    EXPECT_EQ(r.sleeps, (std::vector<std::chrono::milliseconds>{1000ms, 100ms, 100ms, 100ms}));
}

TEST(Relaunch, OldProcessThatNeverEndsIsAFailure) {
    kdtest::TempHome home;
    relaunchtest::makeBundle(home.root() / "Q", "Quillora");
    const std::string bundle = (home.root() / "Q").string();
    Recorder r;
    r.running = std::filesystem::canonical(home.root() / "Q" / "Quillora").string();
    r.runningPolls = -1; // forever
    EXPECT_EQ(runWith(r, {bundle.c_str()}), 1);
    EXPECT_TRUE(r.launched.empty());
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "Error: could not relaunch application at " + bundle);
    EXPECT_EQ(r.sleeps.size(), 11u); // the pause and ten polls up to the limit
}

TEST(Relaunch, RefusedLaunchIsAFailure) {
    kdtest::TempHome home;
    relaunchtest::makeBundle(home.root() / "Q", "Quillora");
    Recorder r;
    r.launchFails = true;
    EXPECT_EQ(runWith(r, {"~/Q"}), 1);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "Error: could not relaunch application at ~/Q");
}

} // namespace
