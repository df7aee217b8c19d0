#include "QlrUtilsMethod.h"
#include "TestBundle.h"

#include <foundation/UserFolders.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace QlrUtilsMethod;

namespace {

class WorkFolder : public ::testing::Test {
protected:
    kdtest::TempHome home;
    fs::path bundleDir = qlrtest::makeBundle(home.root() / "App", "com.example.Work");
    qlrtest::MainBundle bundle{bundleDir};

    fs::path expected() const { return fs::path(*kdf::userTemporaryFolder()) / "Qlr_com.example.Work_Tmp"; }
};

TEST_F(WorkFolder, LiesInThePrivateTemporaryFolderAndStartsEmpty) {
    EXPECT_EQ(tmpImageFolderPath(), expected().string());
    EXPECT_FALSE(fs::exists(expected()));
    EXPECT_FALSE(createAndMultiFolderPath());
    EXPECT_FALSE(createAndTmpImgFolderPath());
    EXPECT_FALSE(tmpBaseImageFilePathFormat());

    ASSERT_TRUE(createTmpFolder());
    EXPECT_TRUE(fs::is_directory(expected() / "tmpImg"));
    EXPECT_TRUE(fs::is_directory(expected() / "dstImg"));
    EXPECT_EQ(fs::status(expected()).permissions() & fs::perms::all, fs::perms::owner_all);
    kdtest::TempHome::writeText(expected() / "tmpImg/tmpImg_0", "page");

    EXPECT_EQ(createAndMultiFolderPath(), (expected() / "Multi").string());
    EXPECT_TRUE(fs::is_directory(expected() / "Multi"));
    removeMultiFolder();
    EXPECT_FALSE(fs::exists(expected() / "Multi"));

    // A new scan starts with an empty folder.
    ASSERT_TRUE(createTmpFolder());
    EXPECT_FALSE(fs::exists(expected() / "tmpImg/tmpImg_0"));
    removeTmpFolder();
    EXPECT_FALSE(fs::exists(expected()));
}

TEST_F(WorkFolder, PageFileNamesSurviveAPercentInTheFolder) {
    fs::create_directories(home.root() / "t%d%s");
    home.env().set("TMPDIR", (home.root() / "t%d%s").string());
    ASSERT_TRUE(createTmpFolder());
    const auto format = tmpBaseImageFilePathFormat();
    ASSERT_TRUE(format);
    char name[4096];
    std::snprintf(name, sizeof name, format->c_str(), 7);
    EXPECT_EQ(std::string(name), (expected() / "tmpImg/tmpImg_7").string());
    EXPECT_EQ(tmpBaseImageFilePath(7), std::string(name));

    const auto dst = tmpDstImageFilePathFormat();
    ASSERT_TRUE(dst);
    std::snprintf(name, sizeof name, dst->c_str(), 12);
    EXPECT_EQ(std::string(name), (expected() / "dstImg/dstImg_12").string());
    EXPECT_EQ(tmpDstImageFilePath(12), std::string(name));
    removeTmpFolder();
}

TEST_F(WorkFolder, PlantedLinkIsNeitherFollowedNorUsed) {
    const fs::path victim = home.root() / "victim";
    fs::create_directories(victim);
    kdtest::TempHome::writeText(victim / "keep", "x");
    fs::create_directory_symlink(victim, expected());

    EXPECT_FALSE(createTmpFolder());
    EXPECT_FALSE(createAndTmpImgFolderPath());
    removeTmpFolder();
    EXPECT_TRUE(fs::is_symlink(expected()));
    EXPECT_TRUE(fs::exists(victim / "keep"));
    EXPECT_FALSE(fs::exists(victim / "tmpImg"));

    // A link in place of a sub-folder is refused the same way.
    fs::remove(expected());
    ASSERT_TRUE(createTmpFolder());
    fs::remove(expected() / "dstImg");
    fs::create_directory_symlink(victim, expected() / "dstImg");
    EXPECT_FALSE(createAndDstImgFolderPath());
    removeTmpFolder();
    EXPECT_TRUE(fs::exists(victim / "keep"));
}

TEST_F(WorkFolder, FolderOfAnotherOwnerIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs to hand a folder to another user";
    fs::create_directories(expected());
    ASSERT_EQ(::chown(expected().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(createTmpFolder());
    EXPECT_FALSE(createAndTmpImgFolderPath());
    EXPECT_TRUE(fs::exists(expected()));
    fs::remove(expected());
}

TEST(TargetDirectory, MakesAbsolutePathsOnly) {
    kdtest::TempHome home;
    EXPECT_TRUE(checkAndMakeTargetDirectory((home.root() / "a/b/c").string()));
    EXPECT_TRUE(fs::is_directory(home.root() / "a/b/c"));
    EXPECT_TRUE(checkAndMakeTargetDirectory(home.root().string()));

    ::chdir(home.root().c_str());
    EXPECT_FALSE(checkAndMakeTargetDirectory("rel/dir"));
    EXPECT_FALSE(fs::exists(home.root() / "rel"));
    EXPECT_FALSE(checkAndMakeTargetDirectory(""));
    kdtest::TempHome::writeText(home.root() / "file", "x");
    EXPECT_FALSE(checkAndMakeTargetDirectory((home.root() / "file/sub").string()));
    ::chdir("/");
}

} // namespace
