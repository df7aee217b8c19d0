// Files placed under final names without replacing anything.
#include "TempHome.h"
#include "foundation/File.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kdf;
namespace fs = std::filesystem;

namespace {

using kdtest::TempHome;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PlaceFile, CopyAndMoveKeepWhatHasTheName) {
    struct Case {
        const char* what;
        bool move;
        bool taken;
        PlaceResult expected;
    };
    const Case cases[] = {
        {"copy to a free name", false, false, PlaceResult::Placed},
        {"copy to a taken name", false, true, PlaceResult::NameTaken},
        {"move to a free name", true, false, PlaceResult::Placed},
        {"move to a taken name", true, true, PlaceResult::NameTaken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempHome home;
        const fs::path source = home.root() / "scan.pdf", folder = home.root() / "out", target = folder / "scan.pdf";
        TempHome::writeText(source, "page bytes");
        ::chmod(source.c_str(), 0640);
        fs::create_directories(folder);
        if (c.taken) TempHome::writeText(target, "someone else's");
        std::string error;
        const PlaceResult result = c.move ? moveFileNoReplace(source, target, &error)
                                          : copyFileNoReplace(source, target, &error);
        EXPECT_EQ(result, c.expected) << error;
        EXPECT_EQ(TempHome::readText(target), c.taken ? "someone else's" : "page bytes");
        // The source goes only with a successful move.
        EXPECT_EQ(fs::exists(source), !(c.move && !c.taken));
        // Nothing else is left in the folder.
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{"scan.pdf"});
        if (!c.taken) {
            struct stat st {};
            ASSERT_EQ(::stat(target.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0640u);
        }
    }
}

TEST(PlaceFile, BadSourcesAndFoldersFailAndLeaveNothing) {
    TempHome home;
    const fs::path folder = home.root() / "out";
    fs::create_directories(folder);
    TempHome::writeText(home.root() / "a.pdf", "x");
    struct Case {
        const char* what;
        fs::path source;
        fs::path target;
    };
    const Case cases[] = {
        {"missing source", home.root() / "missing.pdf", folder / "missing.pdf"},
        {"folder as source", home.root() / "config", folder / "config"},
        {"missing folder", home.root() / "a.pdf", home.root() / "nowhere" / "a.pdf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool move : {false, true}) {
            std::string error;
            const PlaceResult result = move ? moveFileNoReplace(c.source, c.target, &error)
                                            : copyFileNoReplace(c.source, c.target, &error);
            EXPECT_EQ(result, PlaceResult::Failed);
            EXPECT_FALSE(error.empty());
            EXPECT_FALSE(fs::exists(c.target));
        }
    }
    EXPECT_TRUE(namesIn(folder).empty());
    EXPECT_TRUE(fs::exists(home.root() / "a.pdf"));
}

// A copy cut short (the file-size limit makes the write fail halfway)
// leaves no file at all, under the final name or any other.
TEST(PlaceFile, FailedCopyLeavesNoPartialFile) {
    TempHome home;
    const fs::path source = home.root() / "big.pdf", folder = home.root() / "sync";
    TempHome::writeText(source, std::string(256 * 1024, 'p'));
    fs::create_directories(folder);
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const PlaceResult result = copyFileNoReplace(source, folder / "big.pdf", &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, PlaceResult::Failed);
    EXPECT_TRUE(namesIn(folder).empty());
    EXPECT_EQ(fs::file_size(source), 256u * 1024u);
}

// Across file systems a move is a complete copy and then the removal.
TEST(PlaceFile, MoveAcrossFileSystems) {
    TempHome home;
    const fs::path other = "/dev/shm";
    struct stat a {}, b {};
    if (::stat(other.c_str(), &a) != 0 || ::stat(home.root().c_str(), &b) != 0 || a.st_dev == b.st_dev ||
        ::access(other.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    char pattern[] = "/dev/shm/kdplace-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path source = fs::path(pattern) / "page.png";
    TempHome::writeText(source, "moved across");
    const fs::path target = home.root() / "page.png";
    EXPECT_EQ(moveFileNoReplace(source, target), PlaceResult::Placed);
    EXPECT_EQ(TempHome::readText(target), "moved across");
    EXPECT_FALSE(fs::exists(source));
    TempHome::writeText(source, "second");
    EXPECT_EQ(moveFileNoReplace(source, target), PlaceResult::NameTaken);
    EXPECT_TRUE(fs::exists(source));
    fs::remove_all(pattern);
}

} // namespace
