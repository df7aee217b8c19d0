// Debug logger (off unless its file exists, never through a link) and the
// bitmap writer, checked with a decoder written here field by field.
#include "TvkIpError.h"
#include "TvkLogger.h"

#include <gtest/gtest.h>

#include "TestFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using TempDir = kdtest::TempFolder;

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes a regular file whose full path is exactly `length` characters and
// returns its name relative to dir (nested folders keep each part short).
std::string MakeFileWithPathLength(const TempDir& t, size_t length) {
    std::string rel;
    std::string full = t.dir();
    while (full.size() + 1 + 200 < length) {
        rel += std::string(199, 'd') + "/";
        full = t.dir() + rel;
        mkdir(full.c_str(), 0700);
    }
    rel += std::string(length - full.size(), 'f');
    WriteFile(t.dir() + rel, "");
    return rel;
}

struct GlobalLoggerGuard {
    ~GlobalLoggerGuard() { TvkLogger::releaseGlobalLogger(); }
};

} // namespace

TEST(TvkLogger, OffWithoutItsFile) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    GlobalLoggerGuard g;
    EXPECT_FALSE(TvkLogger::isEnabled(t.dir(), "trace.log"));
    TvkLogger::createGlobalLogger(t.dir(), "trace.log");
    EXPECT_FALSE(TvkLogger::isLogOn());
    EXPECT_EQ(TvkLogger::Instance, nullptr);
    TvkLogger::writeLog("nothing %d", 1);
    TvkLogger* plain = TvkLogger::createLogger(t.dir(), "trace.log", false);
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(plain->isOpen());
    plain->log("nothing either");
    TvkLogger::releaseLogger(plain);
    EXPECT_FALSE(Exists(t.path("trace.log")));
}

TEST(TvkLogger, OnWhenItsFileExists) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    GlobalLoggerGuard g;
    WriteFile(t.path("trace.log"), "left over from last time\n");
    EXPECT_TRUE(TvkLogger::isEnabled(t.dir(), "trace.log"));
    TvkLogger::createGlobalLogger(t.dir(), "trace.log");
    ASSERT_TRUE(TvkLogger::isLogOn());
    TvkLogger* first = TvkLogger::Instance;
    TvkLogger::createGlobalLogger(t.dir(), "trace.log");
    EXPECT_EQ(TvkLogger::Instance, first) << "a second create must keep the first logger";
    TvkLogger::writeLog("band %d of %s", 0, "front");
    TvkLogger::writeLog("count %d", 0);
    TvkLogger::releaseGlobalLogger();
    EXPECT_FALSE(TvkLogger::isLogOn());
    EXPECT_EQ(ReadFile(t.path("trace.log")), "band 0 of front\ncount 0\n");
}

TEST(TvkLogger, ForcedLoggerCreatesItsFile) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    TvkLogger* logger = TvkLogger::createLogger(t.dir(), "forced.log", true);
    ASSERT_NE(logger, nullptr);
    EXPECT_TRUE(logger->isOpen());
    logger->log("x=%d", 3);
    TvkLogger::releaseLogger(logger);
    EXPECT_EQ(ReadFile(t.path("forced.log")), "x=3\n");
    struct stat st {};
    ASSERT_EQ(stat(t.path("forced.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "a new debug file is private to the user";
}

TEST(TvkLogger, DoesNotFollowSymbolicLinks) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    GlobalLoggerGuard g;
    WriteFile(t.path("target"), "precious\n");
    ASSERT_EQ(symlink(t.path("target").c_str(), t.path("trace.log").c_str()), 0);

    EXPECT_FALSE(TvkLogger::isEnabled(t.dir(), "trace.log"));
    TvkLogger::createGlobalLogger(t.dir(), "trace.log");
    EXPECT_FALSE(TvkLogger::isLogOn());
    TvkLogger* forced = TvkLogger::createLogger(t.dir(), "trace.log", true);
    ASSERT_NE(forced, nullptr);
    EXPECT_FALSE(forced->isOpen());
    TvkLogger::releaseLogger(forced);
    EXPECT_EQ(ReadFile(t.path("target")), "precious\n");
}

TEST(TvkLogger, RefusesWhatIsNotARegularFile) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    ASSERT_EQ(mkdir(t.path("folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(t.path("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(TvkLogger::isEnabled(t.dir(), "folder"));
    EXPECT_FALSE(TvkLogger::isEnabled(t.dir(), "pipe"));
    TvkLogger* logger = TvkLogger::createLogger(t.dir(), "pipe", true);
    ASSERT_NE(logger, nullptr);
    EXPECT_FALSE(logger->isOpen());
    TvkLogger::releaseLogger(logger);
}

// A path longer than the fixed buffers is refused instead of being cut to a
// different, existing file.
TEST(TvkLogger, OverlongPathsAreNotCut) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    {
        const std::string fits = MakeFileWithPathLength(t, TvkLogger::kEnablePathMax - 1);
        EXPECT_TRUE(TvkLogger::isEnabled(t.dir(), fits.c_str()));
        EXPECT_FALSE(TvkLogger::isEnabled(t.dir(), (fits + "x").c_str()));
    }
    {
        const std::string fits = MakeFileWithPathLength(t, TvkLogger::kOpenPathMax - 1);
        TvkLogger* ok = TvkLogger::createLogger(t.dir(), fits.c_str(), true);
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->isOpen());
        TvkLogger::releaseLogger(ok);
        WriteFile(t.dir() + fits, "untouched");
        TvkLogger* cut = TvkLogger::createLogger(t.dir(), (fits + "x").c_str(), true);
        ASSERT_NE(cut, nullptr);
        EXPECT_FALSE(cut->isOpen());
        TvkLogger::releaseLogger(cut);
        EXPECT_EQ(ReadFile(t.dir() + fits), "untouched");
    }
    char small[8];
    EXPECT_FALSE(TvkLogger::makeSavePath("/tmp/", "abc", small, 8));
    EXPECT_TRUE(TvkLogger::makeSavePath("/tmp/", "ab", small, 8));
    EXPECT_STREQ(small, "/tmp/ab");
}

// ---------------------------------------------------------------------------
// save_bmp, read back with a decoder of our own.

namespace {

struct Bmp {
    std::vector<uint8_t> bytes;
    uint32_t u16(size_t at) const { return bytes[at] | bytes[at + 1] << 8; }
    uint32_t u32(size_t at) const {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
    }
    int32_t i32(size_t at) const { return static_cast<int32_t>(u32(at)); }
};

Bmp Load(const std::string& path) {
    std::string s = ReadFile(path);
    return Bmp{std::vector<uint8_t>(s.begin(), s.end())};
}

} // namespace

TEST(SaveBmp, OneBitHeaderPaletteAndRows) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    // 10 pixels wide, 3 lines, 2 bytes a line in the buffer (tightly packed).
    const unsigned char lines[3][2] = {{0xF0, 0x40}, {0x0F, 0x80}, {0xAA, 0xC0}};
    const std::string path = t.path("one.bmp");
    IpSetLastError(17);
    ASSERT_EQ(save_bmp(path.c_str(), &lines[0][0], 10, 3, 300, 200, 1, 2), 0);
    EXPECT_EQ(IpGetLastError(), 0u);
    const Bmp b = Load(path);
    const uint32_t rowSize = 4, headerBlock = 62;
    ASSERT_EQ(b.bytes.size(), headerBlock + 3 * rowSize);
    EXPECT_EQ(b.bytes[0], 'B');
    EXPECT_EQ(b.bytes[1], 'M');
    EXPECT_EQ(b.u32(2), b.bytes.size()); // file size
    EXPECT_EQ(b.u32(6), 0u);             // reserved
    EXPECT_EQ(b.u32(10), headerBlock);   // pixel data offset
    EXPECT_EQ(b.u32(14), 40u);           // information header size
    EXPECT_EQ(b.i32(18), 10);            // width
    EXPECT_EQ(b.i32(22), 3);             // height > 0: bottom-up rows
    EXPECT_EQ(b.u16(26), 1u);            // planes
    EXPECT_EQ(b.u16(28), 1u);            // bits per pixel
    EXPECT_EQ(b.u32(30), 0u);            // uncompressed
    EXPECT_EQ(b.u32(34), 3 * rowSize);   // image size
    EXPECT_EQ(b.i32(38), 11811);         // 300 dpi in pixels per metre
    EXPECT_EQ(b.i32(42), 7874);          // 200 dpi
    EXPECT_EQ(b.u32(54), 0x00FFFFFFu);   // index 0 white
    EXPECT_EQ(b.u32(58), 0x00000000u);   // index 1 black
    for (int row = 0; row < 3; ++row) {
        const size_t at = headerBlock + row * rowSize;
        const unsigned char* line = lines[2 - row];
        EXPECT_EQ(b.bytes[at], line[0]) << row;
        EXPECT_EQ(b.bytes[at + 1], line[1]) << row;
        EXPECT_EQ(b.bytes[at + 2], 0) << row;
        EXPECT_EQ(b.bytes[at + 3], 0) << row;
    }
}

TEST(SaveBmp, GrayAndColourRows) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    {
        // 5 gray pixels a line, lines 6 bytes apart: rows of 8 bytes.
        const unsigned char gray[2 * 6] = {1, 2, 3, 4, 5, 99, 6, 7, 8, 9, 10, 99};
        const std::string path = t.path("gray.bmp");
        ASSERT_EQ(save_bmp(path.c_str(), gray, 5, 2, 254, 254, 8, 6), 0);
        const Bmp b = Load(path);
        const uint32_t offset = 54 + 256 * 4;
        ASSERT_EQ(b.bytes.size(), offset + 2 * 8);
        EXPECT_EQ(b.u32(10), offset);
        EXPECT_EQ(b.u16(28), 8u);
        EXPECT_EQ(b.i32(38), 10000);
        for (uint32_t i : {0u, 1u, 128u, 255u}) EXPECT_EQ(b.u32(54 + 4 * i), i * 0x010101u) << i;
        // Bottom-up: the last line comes first; 6 bytes of the line, then zeros.
        const std::vector<uint8_t> rows(b.bytes.begin() + offset, b.bytes.end());
        const std::vector<uint8_t> expect = {6, 7, 8, 9, 10, 99, 0, 0, 1, 2, 3, 4, 5, 99, 0, 0};
        EXPECT_EQ(rows, expect);
    }
    {
        // 2 colour pixels (first sample first), rows of 8 bytes, samples reversed.
        const unsigned char rgb[2 * 6] = {10, 20, 30, 40, 50, 60, 1, 2, 3, 4, 5, 6};
        const std::string path = t.path("rgb.bmp");
        ASSERT_EQ(save_bmp(path.c_str(), rgb, 2, 2, 300, 300, 24, 6), 0);
        const Bmp b = Load(path);
        ASSERT_EQ(b.bytes.size(), 54u + 2 * 8);
        EXPECT_EQ(b.u32(10), 54u);
        EXPECT_EQ(b.u16(28), 24u);
        EXPECT_EQ(b.u32(34), 16u);
        const std::vector<uint8_t> rows(b.bytes.begin() + 54, b.bytes.end());
        const std::vector<uint8_t> expect = {3, 2, 1, 6, 5, 4, 0, 0, 30, 20, 10, 60, 50, 40, 0, 0};
        EXPECT_EQ(rows, expect);
    }
}

TEST(SaveBmp, RefusedRequests) {
    TempDir t;
    ASSERT_TRUE(t.ok());
    const unsigned char px[16] = {};
    const struct {
        int32_t w, h;
        unsigned short bits;
        int32_t sync;
    } bad[] = {{4, 1, 4, 4}, {4, 1, 16, 8}, {4, 0, 8, 4}, {4, -2, 8, 4}, {0, 1, 8, 4}};
    for (const auto& c : bad) {
        const std::string path = t.path("bad.bmp");
        EXPECT_EQ(save_bmp(path.c_str(), px, c.w, c.h, 300, 300, c.bits, c.sync), -1);
        EXPECT_FALSE(Exists(path)) << c.bits << " " << c.h;
    }
    EXPECT_EQ(save_bmp(t.path("no/such/folder.bmp").c_str(), px, 4, 1, 300, 300, 8, 4), -1);

    // A link planted at the name is not written through.
    WriteFile(t.path("target"), "precious");
    ASSERT_EQ(symlink(t.path("target").c_str(), t.path("link.bmp").c_str()), 0);
    EXPECT_EQ(save_bmp(t.path("link.bmp").c_str(), px, 4, 1, 300, 300, 8, 4), -1);
    EXPECT_EQ(ReadFile(t.path("target")), "precious");
}

TEST(ProcessorFeatures, PortablePathsCanBeForced) {
    const bool native = IsSSE2FeatureAvailable();
#if defined(__x86_64__)
    const char* env = std::getenv("KD_IP_PORTABLE");
    if (env == nullptr || *env == '\0' || std::string(env) == "0") {
        EXPECT_TRUE(native);
    }
#endif
    IpForcePortablePaths(true);
    EXPECT_FALSE(IsSSE2FeatureAvailable());
    EXPECT_FALSE(IsMMXFeatureAvailable());
    IpForcePortablePaths(false);
    EXPECT_EQ(IsSSE2FeatureAvailable(), native);
    EXPECT_EQ(IsMMXFeatureAvailable(), native);
}
