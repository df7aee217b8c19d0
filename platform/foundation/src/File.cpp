#include "foundation/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kdf {

namespace {

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(std::size_t(n));
    }
    return true;
}

std::string temporaryName(const std::string& path) {
    // Per-thread generator: no shared state, distinct names across threads.
    thread_local std::mt19937_64 random{std::random_device{}() ^ std::uint64_t(::getpid())};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(random()));
    std::string folder = folderOf(path), name = lastComponent(path);
    return joinPath(folder, "." + name + suffix);
}

} // namespace

std::string errnoText(int err) {
    char buf[256];
    // The GNU strerror_r may answer a static string instead of filling buf.
    return ::strerror_r(err, buf, sizeof buf);
}

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (a.back() == '/') return a + b;
    return a + "/" + b;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool detail::writeFileVia(const std::string& path, std::string_view content, const std::string& tmp,
                          std::string* error, bool* taken, Flush flush) {
    if (taken) *taken = false;
    // O_EXCL|O_NOFOLLOW: whatever is planted under the name, a file or a
    // link, is never written through.
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (taken && errno == EEXIST) *taken = true;
        setError(error, "cannot create " + tmp + ": " + errnoText(errno));
        return false;
    }
    auto fail = [&](const char* what) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        setError(error, std::string(what) + " " + path + ": " + errnoText(err));
        return false;
    };
    if (!writeAll(fd, content)) return fail("cannot write");
    if (flush == Flush::ToDisk && ::fsync(fd) != 0) return fail("cannot flush");
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail("cannot close");
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail("cannot replace");
    if (flush == Flush::NotToDisk) return true;
    // The rename itself lives in the folder.
    int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view content, std::string* error, Flush flush) {
    if (path.empty() || path.back() == '/') {
        setError(error, "no file name in \"" + path + "\"");
        return false;
    }
    bool taken = true;
    for (int attempt = 0; attempt < 8 && taken; ++attempt) {
        if (detail::writeFileVia(path, content, temporaryName(path), error, &taken, flush)) return true;
    }
    return false;
}

std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes,
                                         std::string* error, bool* missing) {
    if (missing) *missing = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (missing && errno == ENOENT) *missing = true;
        setError(error, "cannot open " + path + ": " + errnoText(errno));
        return std::nullopt;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        setError(error, path + " is not a regular file");
        return std::nullopt;
    }
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            setError(error, "cannot read " + path + ": " + errnoText(err));
            return std::nullopt;
        }
        if (n == 0) break;
        if (out.size() + std::size_t(n) > maxBytes) {
            ::close(fd);
            setError(error, path + " is larger than " + std::to_string(maxBytes) + " bytes");
            return std::nullopt;
        }
        out.append(buf, std::size_t(n));
    }
    ::close(fd);
    return out;
}

} // namespace kdf
