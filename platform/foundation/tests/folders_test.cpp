#include "TempHome.h"
#include "foundation/UserFolders.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace kdf;
namespace fs = std::filesystem;

namespace {

TEST(UserFolders, FromUserDirsWithTheUsualFallbacks) {
    kdtest::TempHome home;
    const std::string h = home.root().string();
    EXPECT_EQ(homeFolder(), h);
    EXPECT_EQ(desktopFolder(), h + "/Desktop");
    EXPECT_EQ(documentsFolder(), h + "/Documents");
    EXPECT_EQ(picturesFolder(), h + "/Pictures");

    kdtest::TempHome::writeText(home.config() / "user-dirs.dirs",
                                "# written by xdg-user-dirs-update\n"
                                "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                                "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n"
                                "XDG_PICTURES_DIR=\"$HOME/\"\n"
                                "XDG_MUSIC_DIR=\"relative\"\n");
    EXPECT_EQ(desktopFolder(), h + "/Schreibtisch");
    EXPECT_EQ(documentsFolder(), "/srv/docs");
    EXPECT_EQ(picturesFolder(), h + "/Pictures"); // set to the home itself: the usual one
}

TEST(UserFolders, PrivateTemporaryFolderIsClosedAndReallyOurs) {
    kdtest::TempHome home;
    std::string error;
    auto folder = userTemporaryFolder(&error);
    ASSERT_TRUE(folder) << error;
    EXPECT_EQ(fs::path(*folder).parent_path(), home.root() / "tmp");
    struct stat st;
    ASSERT_EQ(::lstat(folder->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(userTemporaryFolder(), folder); // the same folder again

    // Opened to others: refused, not used.
    ::chmod(folder->c_str(), 0755);
    EXPECT_FALSE(userTemporaryFolder(&error));
    EXPECT_NE(error.find("open to other users"), std::string::npos) << error;

    // A link planted under the name: refused, even to a good folder.
    fs::remove(*folder);
    fs::create_directory(home.root() / "elsewhere");
    ::chmod((home.root() / "elsewhere").c_str(), 0700);
    fs::create_directory_symlink(home.root() / "elsewhere", *folder);
    EXPECT_FALSE(userTemporaryFolder(&error));

    // TMPDIR unset: the system's.
    home.env().set("TMPDIR", std::nullopt);
    auto system = userTemporaryFolder();
    ASSERT_TRUE(system);
    EXPECT_EQ(fs::path(*system).parent_path(), "/tmp");
}

} // namespace
