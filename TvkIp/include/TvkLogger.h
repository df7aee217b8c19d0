// Debug output of the library: a log writer that stays silent unless its file
// already exists, and a bitmap writer for looking at intermediate images.
#pragma once

#include "TvkTypes.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// Logging is switched on from outside: somebody creates an empty file of the
// expected name in the log folder; the next logger made for that name (without
// force) empties it and writes into it. Without the file nothing is written and
// nothing is created. Files are opened without following symbolic links and
// only when the calling user owns them.
class TvkLogger {
public:
    static constexpr char DEFAULT_DIR[] = "/tmp/";
    // Longest paths (with the terminating zero) for the enable test and for
    // opening the log; longer paths are refused, never cut.
    static constexpr size_t kEnablePathMax = 1024;
    static constexpr size_t kOpenPathMax = 2048;

    // The one global logger, null when there is none.
    static TvkLogger* Instance;

    // Opens dir + name for writing (emptying it) when force is set or
    // isEnabled(dir, name); otherwise the logger stays closed.
    TvkLogger(const char* dir, const char* name, bool force);
    TvkLogger(const TvkLogger&) = delete;
    TvkLogger& operator=(const TvkLogger&) = delete;
    virtual ~TvkLogger();

    // Joins dir and name into buffer (at most length bytes with the zero).
    // Returns false when the joined path did not fit.
    static bool makeSavePath(const char* dir, const char* name, char* buffer, size_t length);
    // True when dir + name is an existing regular file of the calling user
    // that can be opened for reading.
    static bool isEnabled(const char* dir, const char* name);
    static bool isEnabled(const char* name);

    // A new logger; null when it could not be made. Release it with releaseLogger.
    static TvkLogger* createLogger(const char* dir, const char* name, bool force);
    static TvkLogger* createLogger(const char* name, bool force);
    static void releaseLogger(TvkLogger* logger);

    // Makes the global logger when there is none and its file is switched on.
    static void createGlobalLogger(const char* dir, const char* name);
    static void createGlobalLogger(const char* name);
    static void releaseGlobalLogger();
    static bool isLogOn();
    // One formatted line to the global logger; nothing when there is none.
    static void writeLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // One formatted line (a newline is added) to this logger's file. The
    // argument list is taken by reference so that a literal 0 meant for the
    // variadic form (log("%d", 0)) can never be taken for a list.
    void log(const char* format, va_list& args) __attribute__((format(printf, 2, 0)));
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    bool isOpen() const { return m_pFile != nullptr; }

protected:
    FILE* m_pFile = nullptr;
};

extern "C" {
// Writes an image buffer as an uncompressed Windows bitmap file (1, 8 or 24
// bits; lines sync bytes apart, first line at the top). Returns 0, or -1 when
// the arguments are unusable or the file cannot be written. An existing
// symbolic link or a file of another user at path is not written through.
IMVRA_EXPORT int32_t save_bmp(const char* path, const unsigned char* buffer, int32_t width,
                              int32_t height, int32_t xdpi, int32_t ydpi, unsigned short bits,
                              int32_t sync);
}
