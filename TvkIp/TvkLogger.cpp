// The debug log writer and the safe opening of debug output files.
#include "TvkLogger.h"

#include "DebugFile.h"

#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool OwnedRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

} // namespace

bool DebugFileIsEnabled(const char* path) {
    // O_NONBLOCK keeps a FIFO planted under the name from blocking the open.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = OwnedRegularFile(fd);
    close(fd);
    return ok;
}

FILE* DebugFileOpenForWriting(const char* path, bool create) {
    int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (create) flags |= O_CREAT;
    const int fd = open(path, flags, S_IRUSR | S_IWUSR);
    if (fd < 0) return nullptr;
    // Empty the file only after it proved to be ours.
    if (!OwnedRegularFile(fd) || ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    const int fl = fcntl(fd, F_GETFL);
    if (fl != -1) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "w");
    if (f == nullptr) close(fd);
    return f;
}

TvkLogger* TvkLogger::Instance = nullptr;

bool TvkLogger::makeSavePath(const char* dir, const char* name, char* buffer, size_t length) {
    if (buffer == nullptr || length == 0) return false;
    const int n = std::snprintf(buffer, length, "%s%s", dir ? dir : "", name ? name : "");
    return n >= 0 && static_cast<size_t>(n) < length;
}

bool TvkLogger::isEnabled(const char* dir, const char* name) {
    char path[kEnablePathMax];
    // A cut path could name a different file: treat it as switched off.
    return makeSavePath(dir, name, path, sizeof path) && DebugFileIsEnabled(path);
}

bool TvkLogger::isEnabled(const char* name) {
    return isEnabled(DEFAULT_DIR, name);
}

TvkLogger::TvkLogger(const char* dir, const char* name, bool force) {
    if (!force && !isEnabled(dir, name)) return;
    char path[kOpenPathMax];
    if (!makeSavePath(dir, name, path, sizeof path)) return;
    m_pFile = DebugFileOpenForWriting(path, force);
}

TvkLogger::~TvkLogger() {
    if (m_pFile != nullptr) std::fclose(m_pFile);
}

TvkLogger* TvkLogger::createLogger(const char* dir, const char* name, bool force) {
    try {
        return new (std::nothrow) TvkLogger(dir, name, force);
    } catch (...) {
        return nullptr;
    }
}

TvkLogger* TvkLogger::createLogger(const char* name, bool force) {
    return createLogger(DEFAULT_DIR, name, force);
}

void TvkLogger::releaseLogger(TvkLogger* logger) {
    delete logger;
}

void TvkLogger::createGlobalLogger(const char* dir, const char* name) {
    if (Instance != nullptr) return;
    TvkLogger* logger = createLogger(dir, name, false);
    // The global logger exists only while its file is open.
    if (logger != nullptr && !logger->isOpen()) {
        delete logger;
        logger = nullptr;
    }
    Instance = logger;
}

void TvkLogger::createGlobalLogger(const char* name) {
    createGlobalLogger(DEFAULT_DIR, name);
}

void TvkLogger::releaseGlobalLogger() {
    TvkLogger* logger = Instance;
    Instance = nullptr;
    delete logger;
}

bool TvkLogger::isLogOn() {
    return Instance != nullptr;
}

void TvkLogger::writeLog(const char* format, ...) {
    if (Instance == nullptr) return;
    va_list args;
    va_start(args, format);
    Instance->log(format, args);
    va_end(args);
}

void TvkLogger::log(const char* format, va_list& args) {
    if (m_pFile == nullptr || format == nullptr) return;
    std::vfprintf(m_pFile, format, args);
    std::fputc('\n', m_pFile);
}

void TvkLogger::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    log(format, args);
    va_end(args);
}
