#include "TV_Func.h"
#include "TempHome.h"

#include <foundation/UserFolders.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(TVFunc, DisplaysDirectoryRefusesSystemTemporaryAndHiddenFolders) {
    kdtest::TempHome home;
    const fs::path root = home.root();
    for (const char* f : {"Desktop/Scans", "config/app", ".hidden/inner", "Library", "Docs/System", "plain"})
        fs::create_directories(root / f);
    kdtest::TempHome::writeText(root / "file.txt", "x");
    const auto own = kdf::userTemporaryFolder();
    ASSERT_TRUE(own);

    struct Row {
        std::string path;
        bool offered;
    } const rows[] = {
        {"", false},
        {(root / "absent").string(), false},
        {(root / "file.txt").string(), false},
        {(root / "tmp").string(), false},                // $TMPDIR
        {*own, false},                                   // the private temporary folder
        {(root / "config/app").string(), false},         // inside XDG_CONFIG_HOME
        {(root / ".hidden/inner").string(), false},      // a dot component
        {(root / "plain/./").string(), false},           // "." is a dot component too
        {(root / "Library").string(), false},
        {(root / "Docs/System").string(), false},
        {"/usr/share", false},
        {(root / "Desktop/Scans").string(), true},
        {(root / "plain").string(), true},
    };
    for (const auto& row : rows) EXPECT_EQ(TV_Func::isDisplaysDirectory(row.path), row.offered) << row.path;
}

TEST(TVFunc, LibraryFoldersIncludeAncestorsAndLinkedPaths) {
    kdtest::TempHome home;
    fs::create_directories(home.root() / ".cache/x/y");
    fs::create_directory_symlink(home.root() / ".cache/x", home.root() / "shortcut");
    EXPECT_TRUE(TV_Func::isLibraryDirectory((home.root() / ".cache/x/y").string()));
    EXPECT_TRUE(TV_Func::isLibraryDirectory((home.root() / "shortcut").string()));
    EXPECT_TRUE(TV_Func::isLibraryDirectory("/usr/lib/../share"));
    EXPECT_FALSE(TV_Func::isLibraryDirectory((home.root() / "Documents").string()));
    EXPECT_FALSE(TV_Func::isLibraryDirectory("/"));
    EXPECT_FALSE(TV_Func::isLibraryDirectory("/usrlocal"));
}

TEST(TVFunc, ReadableWritableNeedsTheOwnerBits) {
    kdtest::TempHome home;
    const fs::path dir = home.root() / "d";
    fs::create_directory(dir);
    EXPECT_TRUE(TV_Func::isReadableWritableDirectory(dir.string()));
    fs::permissions(dir, fs::perms(0500));
    EXPECT_FALSE(TV_Func::isReadableWritableDirectory(dir.string()));
    fs::permissions(dir, fs::perms(0700));
    EXPECT_FALSE(TV_Func::isReadableWritableDirectory((home.root() / "absent").string()));
}

TEST(TVFunc, FileTestsAndListings) {
    kdtest::TempHome home;
    const fs::path root = home.root();
    fs::create_directories(root / "list/sub");
    for (const char* f : {"list/b.tif", "list/a.pdf", "list/.hidden", "outside"})
        kdtest::TempHome::writeText(root / f, "x");
    fs::create_symlink(root / "outside", root / "list/link");

    EXPECT_EQ(TV_Func::directoryFilesAtPath((root / "list").string()),
              (std::vector<std::string>{".hidden", "a.pdf", "b.tif", "link"}));
    EXPECT_FALSE(TV_Func::directoryFilesAtPath((root / "outside").string()));
    EXPECT_EQ(TV_Func::directoryFilesAtPath((root / "list/sub").string()), std::vector<std::string>{});

    EXPECT_TRUE(TV_Func::isExistsFile((root / "outside").string()));
    EXPECT_FALSE(TV_Func::isExistsFile(""));
    EXPECT_TRUE(TV_Func::isDirectory((root / "list").string()));
    EXPECT_FALSE(TV_Func::isDirectory((root / "outside").string()));

    // Removing a link leaves what it points to.
    EXPECT_TRUE(TV_Func::isRemoveFile((root / "list/link").string()));
    EXPECT_TRUE(fs::exists(root / "outside"));
    EXPECT_TRUE(TV_Func::isRemoveFile((root / "list").string()));
    EXPECT_FALSE(fs::exists(root / "list"));
    EXPECT_FALSE(TV_Func::isRemoveFile((root / "list").string()));
}

TEST(TVFunc, DefaultFolders) {
    kdtest::TempHome home;
    // No Pictures yet: the user's pictures folder is made.
    EXPECT_EQ(TV_Func::defaultPictureFolder(), (home.root() / "Pictures").string());
    EXPECT_TRUE(fs::is_directory(home.root() / "Pictures"));
    fs::create_directories(home.root() / "Real Desktop");
    fs::create_directory_symlink(home.root() / "Real Desktop", home.root() / "Desktop");
    EXPECT_EQ(TV_Func::defaultDesktopPath(), (home.root() / "Real Desktop").string());

    home.env().set("XDG_DATA_DIRS", (home.root() / "share").string());
    EXPECT_FALSE(TV_Func::defaultAppFolder());
    fs::create_directories(home.root() / "share/applications");
    EXPECT_EQ(TV_Func::defaultAppFolder(), (home.root() / "share/applications").string());
}

TEST(TVFunc, PerformBlockRunsOnALaterPassOfTheLoop) {
    kdf::TestClock clock;
    int runs = 0;
    TV_Func::performBlock([&] { ++runs; }, 0);
    EXPECT_EQ(runs, 0);
    kdf::RunLoop::current().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.01));
    EXPECT_EQ(runs, 1);

    TV_Func::performBlock([&] { ++runs; }, 2.0);
    kdf::RunLoop::current().runMode(kdf::RunLoopMode::Default, kdf::Seconds(1.0));
    EXPECT_EQ(runs, 1);
    kdf::RunLoop::current().runMode(kdf::RunLoopMode::Default, kdf::Seconds(1.5));
    EXPECT_EQ(runs, 2);
}

} // namespace
