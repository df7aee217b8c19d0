#include "TempHome.h"
#include "foundation/File.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace kdf;
namespace fs = std::filesystem;

namespace {

std::size_t entriesIn(const fs::path& folder) {
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicWrite, ReplacesTheFileWithMode0600) {
    kdtest::TempHome home;
    const auto target = home.root() / "doc";
    kdtest::TempHome::writeText(target, "old");
    ::chmod(target.c_str(), 0644);
    ASSERT_TRUE(writeFileAtomically(target.string(), "new content"));
    EXPECT_EQ(kdtest::TempHome::readText(target), "new content");
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(entriesIn(home.root()), 4u); // config, tmp, run, doc: nothing left over
}

// The write fails midway (the file-size limit cuts it short): the old file
// stays whole and no temporary file is left, flushed or not.
TEST(AtomicWrite, FailureMidwayLeavesTheOldFile) {
    for (Flush flush : {Flush::ToDisk, Flush::NotToDisk}) {
        kdtest::TempHome home;
        const auto target = home.root() / "doc";
        kdtest::TempHome::writeText(target, "precious");
        pid_t pid = ::fork();
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {
                4096, 4096
            };
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            bool ok = writeFileAtomically(target.string(), std::string(100000, 'x'), &error, flush);
            ::_exit(!ok && !error.empty() ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(kdtest::TempHome::readText(target), "precious");
        EXPECT_EQ(entriesIn(home.root()), 4u);
    }
}

// A link planted at the temporary name is neither followed nor removed, and
// the target keeps its content.
TEST(AtomicWrite, PlantedLinkAtTheTemporaryNameIsNotFollowed) {
    kdtest::TempHome home;
    const auto target = home.root() / "doc";
    const auto victim = home.root() / "victim";
    const auto tmp = home.root() / ".doc.tmp-planted";
    kdtest::TempHome::writeText(target, "old");
    kdtest::TempHome::writeText(victim, "victim");
    fs::create_symlink(victim, tmp);
    std::string error;
    bool taken = false;
    EXPECT_FALSE(detail::writeFileVia(target.string(), "evil", tmp.string(), &error, &taken));
    EXPECT_TRUE(taken);
    EXPECT_EQ(kdtest::TempHome::readText(target), "old");
    EXPECT_EQ(kdtest::TempHome::readText(victim), "victim");
    EXPECT_TRUE(fs::is_symlink(tmp));
}

TEST(AtomicWrite, MissingFolderIsAnError) {
    kdtest::TempHome home;
    std::string error;
    EXPECT_FALSE(writeFileAtomically((home.root() / "no/such/doc").string(), "x", &error));
    EXPECT_NE(error.find("no/such"), std::string::npos) << error;
}

TEST(ReadWholeFile, LimitsAndMissingFiles) {
    kdtest::TempHome home;
    const auto file = home.root() / "f";
    kdtest::TempHome::writeText(file, std::string(100, 'a'));
    EXPECT_EQ(readWholeFile(file.string(), 100)->size(), 100u);
    EXPECT_FALSE(readWholeFile(file.string(), 99));
    bool missing = false;
    EXPECT_FALSE(readWholeFile((home.root() / "none").string(), 10, nullptr, &missing));
    EXPECT_TRUE(missing);
    EXPECT_FALSE(readWholeFile(home.root().string(), 10)); // a folder
}

TEST(Paths, FolderAndLastComponent) {
    EXPECT_EQ(folderOf("/a/b/c.plist"), "/a/b");
    EXPECT_EQ(folderOf("/c"), "/");
    EXPECT_EQ(folderOf("c"), ".");
    EXPECT_EQ(lastComponent("/a/b/c.plist"), "c.plist");
    EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "b"), "/a/b");
}

} // namespace
