// The program Quillora started from its bundle, as a user starts it: on a
// private bus with the stand-in companion, offscreen, in a private home.
// One copy runs; a second ends at once; a quit request by signal saves the
// layout and the settings.
#include "CompanionStandIn.h"
#include "QuilloraTestSupport.h"
#include "TestBus.h"

#include <foundation/Preferences.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using namespace apptest;
namespace fs = std::filesystem;

fs::path sRoot;

// A Quillora process of the real bundle.
class Quillora {
public:
    Quillora() {
        std::string exe = KD_QUILLORA_EXE;
        char* argv[] = {exe.data(), nullptr};
        if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = 0;
    }
    ~Quillora() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }
    // The exit status, once the process ended within the time; none else.
    std::optional<int> waitExit(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = 0;
};

fs::path companionLog() { return sRoot / "companion.log"; }

// The companion the application launched has answered its start-up
// question.
bool companionAnswered() {
    return waitUntil([] { return readText(companionLog()).find("CkSt\n") != std::string::npos; }, 20000ms);
}

// Ends the companions the application launched from its bundle.
void endLaunchedCompanions() {
    endProcessesOf(fs::path(KD_QUILLORA_EXE).parent_path() / "SharedSupport" / "KdCompanion" / "KdCompanion");
}

class QuilloraProgram : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove(companionLog());
        fs::remove(kdf::preferencesFilePath("com.tavrolek.Quillora"));
    }
    void TearDown() override { endLaunchedCompanions(); }
};

TEST_F(QuilloraProgram, OneCopyRunsAndASignalQuitSavesItsSettings) {
    Quillora first;
    ASSERT_GT(first.pid(), 0);
    ASSERT_TRUE(companionAnswered()) << readText(companionLog());

    // A second copy ends at once and successfully, leaving the first alone.
    Quillora second;
    EXPECT_EQ(second.waitExit(10000ms), 0);
    EXPECT_TRUE(first.running());

    ::kill(first.pid(), SIGTERM);
    EXPECT_EQ(first.waitExit(20000ms), 0);
    const kdf::PreferencesContent saved = kdf::readPreferencesFile("com.tavrolek.Quillora");
    ASSERT_EQ(saved.state, kdf::PreferencesContent::State::Loaded);
    for (const char* key : {"MainWindowFrameKey", "Step1SplitSubView_H_Key", "ThumbnailSplitSubView_W_Key",
                            "FileVerKey", "KD_AppSetting", "App_JobModel_DictListKey"})
        EXPECT_TRUE(kdf::find(saved.values, key)) << key;
    EXPECT_EQ(kdf::find(saved.values, "MainWindowFrameKey")->string()->substr(0, 1), "{");
}

} // namespace

static kdtest::TestBus sBus;

int main(int argc, char** argv) {
    kdtest::TempHome home;
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    sRoot = home.root();
    useOffscreenScreen(home, 1600, 1000, true);
    home.env().set("KD_COMPANION_LOG", companionLog().string());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
