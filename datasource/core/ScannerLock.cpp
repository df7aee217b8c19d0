#include "ScannerLock.h"

#include "foundation/UserFolders.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// The kernel's flock on the file is the lock itself: it belongs to the open
// file, so a second handle (even in the same process) is refused, and it
// goes away with a holder that dies. The file's first 12 bytes keep the
// holder's record for the hand-over pause.
struct KdExclusiveLock {
    int fd = -1;
    bool held = false;
};

namespace {

constexpr std::int32_t kMaxPauseMs = 5000;

struct LockRecord {
    std::uint8_t locked; // non-zero while held
    std::uint8_t reserved[3];
    std::uint32_t owner;       // process id of the holder
    std::int32_t requestedMs;  // pause asked for by a refused caller
};
static_assert(sizeof(LockRecord) == 12);
constexpr off_t kRequestedPauseOffset = offsetof(LockRecord, requestedMs);

bool PlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

bool WriteAll(int fd, const void* data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset) == static_cast<ssize_t>(size);
}

// The runtime folder serves when it is a real folder of the user's that
// others may not write: a stale value (a folder gone with its login, or
// another user's after su) falls back to the private temporary folder.
bool UsableRuntimeFolder(const char* path) {
    if (!path || path[0] != '/') return false;
    struct stat st {};
    return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & S_IWOTH) == 0;
}

} // namespace

std::string ExclusiveLockPath(const char* name) {
    if (!name || !PlainName(name)) return {};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (UsableRuntimeFolder(runtime)) return std::string(runtime) + "/" + name;
    const std::optional<std::string> folder = kdf::userTemporaryFolder();
    return folder ? *folder + "/" + name : std::string();
}

KdExclusiveLock* CreateExclusiveLockObject(const char* name) {
    const std::string path = ExclusiveLockPath(name);
    if (path.empty()) {
        errno = (name && PlainName(name)) ? ENOENT : EINVAL;
        return nullptr;
    }
    // O_NOFOLLOW refuses a planted link; O_NONBLOCK keeps a planted FIFO from
    // blocking the open; the checks below refuse anything but our own file.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return nullptr; // errno tells why
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        errno = EPERM;
        return nullptr;
    }
    if ((st.st_mode & 077) != 0) ::fchmod(fd, 0600);
    auto* lock = new (std::nothrow) KdExclusiveLock;
    if (!lock) {
        ::close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    lock->fd = fd;
    return lock;
}

void DestroyExclusiveLockObject(KdExclusiveLock* lock) {
    if (!lock) return;
    if (lock->fd >= 0) ::close(lock->fd); // releases a lock still held
    delete lock;
}

bool LockObject(KdExclusiveLock* lock, bool /*wait*/, std::int32_t pauseMs) {
    if (!lock || lock->fd < 0 || lock->held) return false;
    if (::flock(lock->fd, LOCK_EX | LOCK_NB) != 0) {
        // Held elsewhere: ask the holder to pause after releasing.
        WriteAll(lock->fd, &pauseMs, sizeof pauseMs, kRequestedPauseOffset);
        return false;
    }
    LockRecord record{};
    record.locked = 1;
    record.owner = static_cast<std::uint32_t>(::getpid());
    WriteAll(lock->fd, &record, sizeof record, 0);
    lock->held = true;
    return true;
}

void UnlockObject(KdExclusiveLock* lock) {
    if (!lock || lock->fd < 0 || !lock->held) return;
    LockRecord record{};
    std::int32_t pauseMs = 0;
    if (::pread(lock->fd, &record, sizeof record, 0) == static_cast<ssize_t>(sizeof record))
        pauseMs = record.requestedMs;
    const LockRecord cleared{};
    WriteAll(lock->fd, &cleared, sizeof cleared, 0);
    ::flock(lock->fd, LOCK_UN);
    lock->held = false;
    if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(pauseMs, kMaxPauseMs)));
}
