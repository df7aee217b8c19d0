#include "ScannerLock.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct LockDeleter {
    void operator()(KdExclusiveLock* lock) const { DestroyExclusiveLockObject(lock); }
};
using LockPtr = std::unique_ptr<KdExclusiveLock, LockDeleter>;

LockPtr Create() { return LockPtr(CreateExclusiveLockObject(kKdScannerLockName)); }

// Runs body in a child process with its own handle; answers its exit code.
// The child reports through its exit code only (0 = what it expected).
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class ScannerLock : public ::testing::Test {
protected:
    kdtest::TempHome home;
};

TEST_F(ScannerLock, FileIsPrivateInTheRuntimeFolder) {
    LockPtr lock = Create();
    ASSERT_NE(lock, nullptr);
    const std::string path = ExclusiveLockPath(kKdScannerLockName);
    EXPECT_EQ(path, (home.root() / "run" / "kd_720").string());
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Without a runtime folder the user's private temporary folder serves.
    home.env().set("XDG_RUNTIME_DIR", std::nullopt);
    const std::string fallback = ExclusiveLockPath(kKdScannerLockName);
    EXPECT_EQ(std::filesystem::path(fallback).filename(), "kd_720");
    EXPECT_EQ(fallback.rfind((home.root() / "tmp").string(), 0), 0u) << fallback;
    EXPECT_NE(LockPtr(CreateExclusiveLockObject(kKdScannerLockName)), nullptr);
}

// A runtime folder that cannot serve (gone with its login, not a folder,
// a link, open to others) gives way to the private temporary folder, and
// the lock works there.
TEST_F(ScannerLock, UnusableRuntimeFolderFallsBackToThePrivateFolder) {
    namespace fs = std::filesystem;
    kdtest::TempHome::writeText(home.root() / "afile", "");
    fs::create_directory(home.root() / "open");
    fs::permissions(home.root() / "open", fs::perms::all);
    fs::create_directory_symlink(home.root() / "run", home.root() / "runlink");
    for (const char* folder : {"/missing/run", "afile", "open", "runlink", "relative"}) {
        SCOPED_TRACE(folder);
        const std::string value = folder[0] == '/' ? (home.root().string() + folder)
                                  : std::string(folder) == "relative" ? std::string("run")
                                                                      : (home.root() / folder).string();
        home.env().set("XDG_RUNTIME_DIR", value);
        const std::string path = ExclusiveLockPath(kKdScannerLockName);
        EXPECT_EQ(path.rfind((home.root() / "tmp").string(), 0), 0u) << path;
        LockPtr lock = Create();
        ASSERT_NE(lock, nullptr);
        EXPECT_TRUE(LockObject(lock.get(), true, 0));
        UnlockObject(lock.get());
    }
}

TEST_F(ScannerLock, RefusesLinksFoldersAndOddNames) {
    const auto run = home.root() / "run";
    std::filesystem::create_symlink(home.root() / "victim", run / "kd_720");
    errno = 0;
    EXPECT_EQ(Create(), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_NE(errno, ENOMEM); // not a memory matter
    EXPECT_FALSE(std::filesystem::exists(home.root() / "victim")); // nothing created through the link
    std::filesystem::create_directory(run / "folder");
    EXPECT_EQ(LockPtr(CreateExclusiveLockObject("folder")), nullptr);
    for (const char* name : {"", ".", "..", "a/b", "../kd_720"})
        EXPECT_EQ(LockPtr(CreateExclusiveLockObject(name)), nullptr) << name;
    EXPECT_EQ(LockPtr(CreateExclusiveLockObject(nullptr)), nullptr);
    if (::geteuid() == 0) { // only root can plant another user's file
        kdtest::TempHome::writeText(run / "theirs", "");
        ASSERT_EQ(::chown((run / "theirs").c_str(), 65534, 65534), 0);
        EXPECT_EQ(LockPtr(CreateExclusiveLockObject("theirs")), nullptr);
    }
    EXPECT_FALSE(LockObject(nullptr, true, 0));
    UnlockObject(nullptr);
    DestroyExclusiveLockObject(nullptr);
}

TEST_F(ScannerLock, NotReentrantWithinTheProcess) {
    LockPtr first = Create(), second = Create();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(LockObject(first.get(), true, 0));
    EXPECT_FALSE(LockObject(first.get(), true, 0));  // the same handle again
    EXPECT_FALSE(LockObject(second.get(), true, 0)); // a second handle
    UnlockObject(second.get());                      // not the holder: nothing
    EXPECT_FALSE(LockObject(second.get(), false, 0));
    UnlockObject(first.get());
    EXPECT_TRUE(LockObject(second.get(), false, 0));
    first.reset();
    UnlockObject(second.get());
    // Destroying a holding handle frees the lock.
    EXPECT_TRUE(LockObject(second.get(), true, 0));
    second.reset();
    EXPECT_TRUE(LockObject(Create().get(), true, 0));
}

TEST_F(ScannerLock, SecondProcessIsRefusedAtOnce) {
    LockPtr lock = Create();
    ASSERT_TRUE(LockObject(lock.get(), true, 0));
    const pid_t child = Spawn([] {
        LockPtr mine = Create();
        const auto start = Clock::now();
        const bool got = mine && LockObject(mine.get(), true, 0);
        return !mine ? 2 : got ? 1 : Clock::now() - start > std::chrono::seconds(1) ? 3 : 0;
    });
    EXPECT_EQ(Wait(child), 0);
    UnlockObject(lock.get());
    const pid_t second = Spawn([] {
        LockPtr mine = Create();
        return mine && LockObject(mine.get(), false, 0) ? 0 : 1;
    });
    EXPECT_EQ(Wait(second), 0);
}

TEST_F(ScannerLock, KilledHolderFreesTheLock) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = Spawn([&] {
        LockPtr mine = Create();
        const char ok = mine && LockObject(mine.get(), true, 0) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause(); // holds until killed
        return 0;
    });
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 'y');
    LockPtr lock = Create();
    EXPECT_FALSE(LockObject(lock.get(), true, 0));
    ::kill(holder, SIGKILL);
    EXPECT_EQ(Wait(holder), 128 + SIGKILL);
    EXPECT_TRUE(LockObject(lock.get(), true, 0));
    UnlockObject(lock.get());
}

TEST_F(ScannerLock, RefusedCallerAsksTheHolderToPause) {
    LockPtr lock = Create();
    ASSERT_TRUE(LockObject(lock.get(), true, 0));
    const pid_t waiter = Spawn([] {
        LockPtr mine = Create();
        return mine && !LockObject(mine.get(), true, 300) ? 0 : 1;
    });
    ASSERT_EQ(Wait(waiter), 0);
    auto start = Clock::now();
    UnlockObject(lock.get());
    const auto paused = Clock::now() - start;
    EXPECT_GE(paused, std::chrono::milliseconds(300));
    EXPECT_LT(paused, std::chrono::seconds(5));
    // The request was used up: the next release does not pause.
    ASSERT_TRUE(LockObject(lock.get(), true, 0));
    start = Clock::now();
    UnlockObject(lock.get());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(300));
}

} // namespace
