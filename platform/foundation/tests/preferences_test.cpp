#include "TempHome.h"
#include "foundation/Preferences.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kdf;
namespace fs = std::filesystem;

namespace {

TEST(Preferences, PathFollowsXdgConfigHome) {
    kdtest::TempHome home;
    EXPECT_EQ(preferencesFilePath("jp.co.tavrolek-sys.kd720"),
              (home.config() / "jp.co.tavrolek-sys.kd720.plist").string());
    home.env().set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(preferencesFilePath("a"), (home.root() / ".config/a.plist").string());
    home.env().set("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(preferencesFilePath("a"), (home.root() / ".config/a.plist").string());
}

TEST(Preferences, UpdateKeepsKeysItDoesNotKnow) {
    kdtest::TempHome home;
    home.env().set("XDG_CONFIG_HOME", (home.root() / "new/config").string()); // made on demand
    ASSERT_TRUE(writePreferencesFile("p", Dictionary{{"WindowKey", Value(1)}}));
    ASSERT_TRUE(updatePreferencesFile("p", [](Dictionary& d) {
        d["CapDataVersion"] = Value("3");
        return true;
    }));
    EXPECT_EQ(readPreferencesFile("p").values,
              (Dictionary{{"WindowKey", Value(1)}, {"CapDataVersion", Value("3")}}));
    // An edit that declines writes nothing.
    ASSERT_TRUE(updatePreferencesFile("p", [](Dictionary& d) {
        d.clear();
        return false;
    }));
    EXPECT_EQ(readPreferencesFile("p").values.size(), 2u);
    ASSERT_TRUE(removePreferencesFile("p"));
    EXPECT_EQ(readPreferencesFile("p").state, PreferencesContent::State::Missing);
    EXPECT_TRUE(removePreferencesFile("p"));
}

TEST(Preferences, UnreadableFileIsMovedAsideBeforeTheFirstWrite) {
    kdtest::TempHome home;
    const auto file = home.config() / "p.plist";
    for (const char* damaged : {"<plist><dict><key>a</key>", "<plist><array/></plist>"}) {
        kdtest::TempHome::writeText(file, damaged);
        auto content = readPreferencesFile("p");
        EXPECT_EQ(content.state, PreferencesContent::State::Unreadable);
        EXPECT_FALSE(content.error.empty());
        EXPECT_EQ(kdtest::TempHome::readText(file), damaged); // reading leaves it

        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(updatePreferencesFile("p", [](Dictionary& d) {
            EXPECT_TRUE(d.empty());
            d["new"] = Value(true);
            return true;
        }));
        std::string message = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(message.find("unreadable"), std::string::npos) << message;
        std::vector<fs::path> aside;
        for (const auto& e : fs::directory_iterator(home.config()))
            if (e.path().filename().string().starts_with("p.plist.unreadable-"))
                aside.push_back(e.path());
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(kdtest::TempHome::readText(aside[0]), damaged);
        EXPECT_EQ(readPreferencesFile("p").values, (Dictionary{{"new", Value(true)}}));
        fs::remove(aside[0]);
    }
}

// Two processes each set their own keys of one domain again and again:
// every key of both survives, because each write merges over the file.
TEST(Preferences, TwoProcessesSettingDifferentKeysBothSurvive) {
    kdtest::TempHome home;
    constexpr int kRounds = 20;
    auto child = [&](const char* prefix) {
        pid_t pid = ::fork();
        if (pid == 0) {
            UserDefaults defaults("com.example.shared");
            bool ok = true;
            for (int i = 0; i < kRounds; ++i) {
                defaults.set(kdtest::keyOf(prefix, -1, i), Value(i));
                ok = defaults.synchronize() && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        return pid;
    };
    pid_t a = child("a"), b = child("b");
    for (pid_t p : {a, b}) {
        int status = 0;
        ::waitpid(p, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Dictionary d = readPreferencesFile("com.example.shared").values;
    EXPECT_EQ(d.size(), std::size_t(2 * kRounds));
    EXPECT_EQ(*find(d, "a19")->toInteger(), 19);
    EXPECT_EQ(*find(d, "b19")->toInteger(), 19);
}

TEST(Preferences, ThreadsUpdatingOneFileLoseNothing) {
    kdtest::TempHome home;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 10; ++i)
                updatePreferencesFile("t", [&](Dictionary& d) {
                    d[kdtest::keyOf("k", t, i)] = Value(i);
                    return true;
                });
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(readPreferencesFile("t").values.size(), 40u);
}

} // namespace
