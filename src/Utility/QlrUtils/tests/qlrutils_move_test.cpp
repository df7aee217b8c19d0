#include "QlrUtilsMethod.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace QlrUtilsMethod;

namespace {

// A folder on another file system than the test's home, when there is one.
std::optional<fs::path> otherFileSystem(const fs::path& here) {
    struct stat a {}, b {};
    if (::stat(here.c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
        return std::nullopt;
    char pattern[] = "/dev/shm/qlrmove-XXXXXX";
    if (!::mkdtemp(pattern)) return std::nullopt;
    return fs::path(pattern);
}

// Runs the body as a user without rights on root's files (for root), so
// an unwritable folder is unwritable; the body's result is the exit code
// (none when the user could not be changed).
template <class F> std::optional<bool> unprivileged(F&& body) {
    if (::geteuid() != 0) return body();
    ::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    return out;
}

class Move : public ::testing::Test {
protected:
    kdtest::TempHome home;
    std::optional<fs::path> other = otherFileSystem(home.root());
    void TearDown() override {
        if (other) fs::remove_all(*other);
    }
    fs::path source(const std::string& content = std::string(3 << 20, 'p')) {
        const fs::path p = home.root() / "page.tif";
        kdtest::TempHome::writeText(p, content);
        fs::permissions(p, fs::perms(0640));
        return p;
    }
};

TEST_F(Move, SameFileSystemAndMissingOrEmptyPaths) {
    const fs::path src = source("abc");
    EXPECT_TRUE(enhancedMovePath(src.string(), (home.root() / "moved.tif").string()));
    EXPECT_FALSE(fs::exists(src));
    EXPECT_EQ(kdtest::TempHome::readText(home.root() / "moved.tif"), "abc");
    EXPECT_EQ(fileBytesByPath((home.root() / "moved.tif").string()), 3u);
    EXPECT_EQ(fileBytesByPath((home.root() / "absent").string()), 0u);
    EXPECT_FALSE(enhancedMovePath(src.string(), (home.root() / "again.tif").string()));
    EXPECT_FALSE(enhancedMovePath("", (home.root() / "x").string()));
    EXPECT_FALSE(enhancedMovePath((home.root() / "moved.tif").string(), ""));
}

TEST_F(Move, AcrossFileSystemsCopiesContentAndPermissions) {
    if (!other) GTEST_SKIP() << "no second file system";
    const std::string content(3 << 20, 'p');
    const fs::path src = source(content);
    const fs::path dst = *other / "page.tif";
    ASSERT_TRUE(enhancedMovePath(src.string(), dst.string()));
    EXPECT_FALSE(fs::exists(src));
    EXPECT_EQ(kdtest::TempHome::readText(dst), content);
    EXPECT_EQ(fs::status(dst).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(entries(*other), std::vector<std::string>{"page.tif"}); // no temporary left
}

TEST_F(Move, LinkAtTheDestinationIsReplacedNotFollowed) {
    const fs::path victim = home.root() / "victim";
    kdtest::TempHome::writeText(victim, "keep");
    std::vector<fs::path> folders = {home.root()};
    if (other) folders.push_back(*other);
    for (const auto& folder : folders) {
        const fs::path dst = folder / "out.tif";
        fs::create_symlink(victim, dst);
        ASSERT_TRUE(enhancedMovePath(source("new").string(), dst.string())) << folder;
        EXPECT_FALSE(fs::is_symlink(dst));
        EXPECT_EQ(kdtest::TempHome::readText(dst), "new");
        EXPECT_EQ(kdtest::TempHome::readText(victim), "keep");
        fs::remove(dst);
    }
}

TEST_F(Move, UnwritableDestinationKeepsTheSourceAndLeavesNoPartialFile) {
    // The unprivileged user must reach the source.
    fs::permissions(home.root(), fs::perms(0777));
    for (fs::path p = home.root(); p != p.root_path(); p = p.parent_path())
        if ((fs::status(p).permissions() & fs::perms::others_exec) == fs::perms::none)
            GTEST_SKIP() << "test folder not reachable by another user";
    const fs::path src = source();
    fs::permissions(src, fs::perms(0666));
    std::vector<fs::path> folders = {home.root() / "locked"};
    if (other) folders.push_back(*other / "locked");
    for (const auto& locked : folders) {
        fs::create_directory(locked);
        fs::permissions(locked, fs::perms(0555));
        EXPECT_EQ(unprivileged([&] { return enhancedMovePath(src.string(), (locked / "page.tif").string()); }),
                  false)
            << locked;
        EXPECT_TRUE(fs::exists(src));
        EXPECT_EQ(fileBytesByPath(src.string()), std::uint64_t(3 << 20));
        EXPECT_TRUE(entries(locked).empty());
        fs::permissions(locked, fs::perms(0700));
    }
}

} // namespace
