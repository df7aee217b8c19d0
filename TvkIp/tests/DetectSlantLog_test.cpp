// The slant log of the duplex detector: written only into an existing
// regular file of the user, never through a link, and only for front sides.
#include "DetectSize2Duplex.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using kdtest::TestImage;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(SlantLog, OpensOnlyExistingFilesOfTheUser) {
    const std::string dir = kdtest::TempPath("slantlog");
    mkdir(dir.c_str(), 0700);
    const std::string file = dir + "/log", target = dir + "/target", link = dir + "/link",
                      fifo = dir + "/fifo", missing = dir + "/missing";
    WriteFile(file, "before\n");
    WriteFile(target, "kept\n");
    unlink(link.c_str());
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    FILE* f = SlantLogOpen(file.c_str());
    ASSERT_NE(f, nullptr);
    std::fputs("after\n", f);
    std::fclose(f);
    EXPECT_EQ(ReadAll(file), "before\nafter\n"); // appended, not emptied

    for (const std::string& p : {link, fifo, missing, dir}) {
        SCOPED_TRACE(p);
        FILE* g = SlantLogOpen(p.c_str());
        EXPECT_EQ(g, nullptr);
        if (g) std::fclose(g);
    }
    EXPECT_EQ(ReadAll(target), "kept\n");
    EXPECT_NE(access(missing.c_str(), F_OK), 0); // nothing was created
    for (const std::string& p : {file, target, link, fifo}) unlink(p.c_str());
    rmdir(dir.c_str());
}

// A duplex sheet at 2 degrees: the front shows the trailing shadow, the
// back (mirrored) the leading one.
TestImage Side(bool back) {
    const double slope = std::tan(2 * M_PI / 180);
    TestImage im = TestImage::Gray(1200, 1400, 250);
    for (int32_t x = 100; x < 1100; ++x) {
        const double t = 60 + (x - 100) * slope, b = 1320 + (x - 100) * slope;
        const int32_t col = back ? 1199 - x : x;
        for (int32_t y = 0; y < im.height(); ++y) {
            if (y >= t && y < b)
                im.set(col, y, 230);
            else if ((back && y >= t - 6 && y < t) || (!back && y >= b && y < b + 6))
                im.set(col, y, 60);
        }
    }
    return im;
}

TEST(SlantLog, FrontSlantsGoToAnExistingLog) {
    const char* path = "/tmp/detectslant.log";
    struct stat st {};
    if (lstat(path, &st) == 0) GTEST_SKIP() << "a slant log already exists; left alone";
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    // The log switches logging on for every later run: never leave it behind,
    // also when an assertion below ends the test early.
    struct Remove {
        const char* path;
        ~Remove() { unlink(path); }
    } remove{path};

    const TestImage f = Side(false), b = Side(true);
    CImg::tagIMGSET fs{}, bs{};
    Convert_TVKIMAGEINFOtoIMGSET(f.info(), &fs);
    Convert_TVKIMAGEINFOtoIMGSET(b.info(), &bs);
    CDetectSizeWithDuplex2::tagOPTION o{};
    o.ulSize = CDetectSizeWithDuplex2::kOptionSize;
    o.lDrop[0] = o.lDrop[1] = o.lLevel[0] = o.lLevel[1] = -1;
    CDetectSizeWithDuplex2 d;
    ASSERT_EQ(d.Initialize(fs, bs, &o, false), 0u);
    ASSERT_EQ(d.first(fs, bs), 0u);
    tagDETECTSIZEINFO front{}, back{};
    front.ulSize = back.ulSize = kDetectSizeInfoSize;
    o.bFront = 1;
    ASSERT_EQ(d.result(&front, &o), 0u);
    o.bFront = 0;
    ASSERT_EQ(d.result(&back, &o), 0u);
    ASSERT_GT(front.slant.y, 0);

    const std::string log = ReadAll(path);
    char line[128];
    std::snprintf(line, sizeof line, "\r\n%d,%d,%f", front.slant.x, front.slant.y,
                  std::atan2(double(front.slant.y), double(front.slant.x)) * 180 /
                      3.141592653589793);
    EXPECT_NE(log.find(line), std::string::npos) << log;
    // The back side's offer is not written.
    std::snprintf(line, sizeof line, "%d,%d,", back.slant.y, -back.slant.x);
    EXPECT_EQ(log.find(line), std::string::npos) << log;
}

} // namespace
