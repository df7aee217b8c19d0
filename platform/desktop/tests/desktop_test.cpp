#include "desktop/Desktop.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void writeScript(const fs::path& path, const std::string& body) {
    kdtest::TempHome::writeText(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

// The process is gone (reaped, not a zombie) within a few seconds.
bool vanishes(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        if (::kill(pid, 0) != 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(Desktop, FileUrlEncodesEverythingOutsideThePlainSet) {
    EXPECT_EQ(kdd::fileUrl("/home/u/My Scans/50%"), "file:///home/u/My%20Scans/50%25");
    EXPECT_EQ(kdd::fileUrl("/a/\xC2\xA5#?"), "file:///a/%C2%A5%23%3F");
}

TEST(Desktop, OpenPathStartsTheOpenerDetachedWithAFileUrl) {
    kdtest::TempHome home;
    const fs::path bin = home.root() / "bin";
    const fs::path log = home.root() / "opened";
    // The opener outlives the call, as a file manager started by it would.
    writeScript(bin / "xdg-open", "echo \"$1\" > '" + log.string() + "'\nexec sleep 2\n");
    home.env().set("PATH", bin.string());

    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(kdd::openPath("/tmp/a b"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    for (int i = 0; i < 500 && kdtest::TempHome::readText(log).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(kdtest::TempHome::readText(log), "file:///tmp/a%20b\n");
}

TEST(Desktop, DetachedChildIsReapedWithoutWaiting) {
    auto pid = kdd::spawnDetached("/bin/true", {});
    ASSERT_TRUE(pid);
    EXPECT_TRUE(vanishes(*pid));
    std::string error;
    EXPECT_FALSE(kdd::spawnDetached("no-such-program-here", {}, &error));
    EXPECT_FALSE(error.empty());
}

TEST(Desktop, RunAndReadAnswersOutputAndGivesUpAfterTheTimeOut) {
    EXPECT_EQ(kdd::runAndRead("/bin/echo", {"a", "b"}, std::chrono::seconds(5)), "a b\n");
    EXPECT_FALSE(kdd::runAndRead("/bin/false", {}, std::chrono::seconds(5)));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(kdd::runAndRead("/bin/sleep", {"10"}, std::chrono::milliseconds(100)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(Desktop, MailHandlerAndNamedEntriesComeFromTheApplicationsFolders) {
    kdtest::TempHome home;
    const fs::path data = home.root() / "data";
    const fs::path bin = home.root() / "bin";
    home.env().set("XDG_DATA_HOME", data.string());
    home.env().set("XDG_DATA_DIRS", (home.root() / "none").string());
    home.env().set("PATH", bin.string());
    kdtest::TempHome::writeText(data / "applications/mailer.desktop", "[Desktop Entry]\nName=Mailer\n");
    kdtest::TempHome::writeText(data / "applications/notes.desktop", "[Desktop Entry]\nName=Evernote\n");

    EXPECT_FALSE(kdd::defaultMailAppPath()); // no xdg-mime at all
    writeScript(bin / "xdg-mime", "echo 'mailer.desktop;other.desktop'\n");
    EXPECT_EQ(kdd::defaultMailAppPath(), (data / "applications/mailer.desktop").string());
    writeScript(bin / "xdg-mime", "echo '../escape.desktop'\n");
    EXPECT_FALSE(kdd::defaultMailAppPath());

    EXPECT_EQ(kdd::findDesktopEntryNamed("Evernote"), (data / "applications/notes.desktop").string());
    EXPECT_EQ(kdd::findDesktopEntryNamed("mailer"), (data / "applications/mailer.desktop").string());
    EXPECT_FALSE(kdd::findDesktopEntryNamed("Absent"));
}

TEST(Desktop, ProcessListHasThisProcessAndBundlesOfStandIns) {
    kdtest::TempHome home;
    const fs::path bundle = home.root() / "Stand In.app";
    fs::create_directories(bundle);
    fs::copy_file("/bin/sleep", bundle / "standin");
    kdtest::TempHome::writeText(bundle / "Info.plist",
                                "<plist><dict><key>CFBundleIdentifier</key><string>com.example.standin"
                                "</string></dict></plist>");
    auto pid = kdd::spawnDetached((bundle / "standin").string(), {"30"});
    ASSERT_TRUE(pid);

    bool sawSelf = false, sawStandIn = false;
    for (const auto& p : kdd::runningProcesses()) {
        if (p.pid == ::getpid()) sawSelf = p.executable == fs::canonical("/proc/self/exe").string();
        if (p.pid == *pid) {
            sawStandIn = true;
            EXPECT_EQ(p.bundlePath, bundle.string());
            EXPECT_EQ(p.bundleIdentifier, "com.example.standin");
        }
    }
    EXPECT_TRUE(sawSelf);
    EXPECT_TRUE(sawStandIn);
    ::kill(*pid, SIGKILL);
    EXPECT_TRUE(vanishes(*pid));
}

} // namespace
