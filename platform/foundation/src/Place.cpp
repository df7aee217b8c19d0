// Placing files under final names without replacing anything: the name is
// claimed by the kernel at the last moment (a link or a non-replacing
// rename), so a file that appeared there since the caller chose the name is
// never overwritten; the caller is told and picks another name.
#include "foundation/File.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kdf {

namespace {

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

PlaceResult failed(std::string* error, const std::string& what, int err) {
    setError(error, what + ": " + errnoText(err));
    return PlaceResult::Failed;
}

// A hidden name beside the target for systems without unnamed files.
std::string hiddenTemporaryName(const std::string& target) {
    thread_local std::mt19937_64 random{std::random_device{}() ^ std::uint64_t(::getpid())};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".part-%016llx", static_cast<unsigned long long>(random()));
    std::string name = ".";
    name += lastComponent(target);
    name += suffix;
    return joinPath(folderOf(target), name);
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Copies everything from in to out; the number of bytes written, or -1.
long long copyContent(int in, int out) {
    std::vector<char> buffer(1 << 20);
    long long total = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) return total;
        std::size_t done = 0;
        while (done < std::size_t(got)) {
            const ssize_t n = ::write(out, buffer.data() + done, std::size_t(got) - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            done += std::size_t(n);
        }
        total += got;
    }
}

// A name that refuses to replace: renameat2 with RENAME_NOREPLACE, or a
// hard link (which never replaces) and the unlink of the old name where the
// file system lacks the flag. Answers 0 or the errno.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return err;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

} // namespace

PlaceResult copyFileNoReplace(const std::string& source, const std::string& target, std::string* error) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return failed(error, "cannot open " + source, errno);
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int err = errno;
        ::close(in);
        return failed(error, "cannot read " + source, err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(in);
        setError(error, source + " is not a file");
        return PlaceResult::Failed;
    }
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        ::close(in);
        return PlaceResult::NameTaken;
    }
    const std::string folder = folderOf(target);
    const mode_t mode = st.st_mode & 0777;

    // An unnamed file in the folder; a hidden temporary name where the file
    // system cannot make one.
    std::string temporary;
    int out = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (out < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        temporary = hiddenTemporaryName(target);
        out = ::open(temporary.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, mode);
    }
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return failed(error, "cannot write in " + folder, err);
    }
    const auto discard = [&] {
        ::close(out);
        if (!temporary.empty()) ::unlink(temporary.c_str());
    };

    const long long written = copyContent(in, out);
    const int copyErr = errno;
    struct stat after {};
    const bool sameSize = ::fstat(in, &after) == 0 && written == after.st_size;
    ::close(in);
    if (written < 0) {
        discard();
        return failed(error, "cannot copy " + source, copyErr);
    }
    if (!sameSize) {
        discard();
        setError(error, source + " changed while it was copied");
        return PlaceResult::Failed;
    }
    if (::fsync(out) != 0) {
        const int err = errno;
        discard();
        return failed(error, "cannot flush the copy of " + source, err);
    }

    if (temporary.empty()) {
        // Linking the unnamed file gives it its name only now, complete.
        const std::string self = "/proc/self/fd/" + std::to_string(out);
        int rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW);
        if (rc != 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0)
            rc = ::linkat(out, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH);
        if (rc != 0) {
            const int err = errno;
            ::close(out);
            if (err == EEXIST) return PlaceResult::NameTaken;
            return failed(error, "cannot name " + target, err);
        }
        if (::close(out) != 0) {
            const int err = errno;
            ::unlink(target.c_str());
            return failed(error, "cannot finish " + target, err);
        }
    } else {
        if (::close(out) != 0) {
            const int err = errno;
            ::unlink(temporary.c_str());
            return failed(error, "cannot finish the copy of " + source, err);
        }
        const int err = renameNoReplace(temporary, target);
        if (err != 0) {
            ::unlink(temporary.c_str());
            if (err == EEXIST) return PlaceResult::NameTaken;
            return failed(error, "cannot name " + target, err);
        }
    }
    syncFolder(folder);
    return PlaceResult::Placed;
}

PlaceResult moveFileNoReplace(const std::string& source, const std::string& target, std::string* error) {
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0) return failed(error, "cannot move " + source, errno);
    if (S_ISDIR(st.st_mode)) {
        setError(error, source + " is a folder");
        return PlaceResult::Failed;
    }
    int err = renameNoReplace(source, target);
    if (err == 0) {
        syncFolder(folderOf(target));
        return PlaceResult::Placed;
    }
    if (err == EEXIST) return PlaceResult::NameTaken;
    // Another file system, or one without hard links: a complete copy
    // first, then the source goes.
    if (err != EXDEV && err != EPERM) return failed(error, "cannot move " + source, err);
    const PlaceResult copied = copyFileNoReplace(source, target, error);
    if (copied != PlaceResult::Placed) return copied;
    if (::unlink(source.c_str()) != 0) {
        err = errno;
        // Both would stay otherwise: the move did not happen.
        ::unlink(target.c_str());
        return failed(error, "cannot remove " + source, err);
    }
    return PlaceResult::Placed;
}

} // namespace kdf
