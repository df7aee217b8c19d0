#include "PlatformLoader.h"

#include <gtest/gtest.h>

#include <string>

#include <sys/wait.h>
#include <unistd.h>

using Tvk::Imvra::PlatformLayer;

TEST(PlatformLayer, MissingLayerGivesNoSymbols) {
    PlatformLayer missing("nothere", "libKdNothing.so");
    EXPECT_EQ(missing.symbol("ZNTX_exopen"), nullptr);
    EXPECT_FALSE(missing.loaded());
}

TEST(PlatformLayer, PdfLayerFoundInTheBuildTree) {
    PlatformLayer pdf("pdf", "libKdPdf.so");
    EXPECT_NE(pdf.symbol("ZNTX_exopen"), nullptr);
    EXPECT_EQ(pdf.symbol("ZNTX_nosuchcall"), nullptr);
}

// A program started by a relative path ("./bench") finds the layer too:
// the test runs its build-tree case again in a child started that way.
TEST(PlatformLayer, FoundWhenTheProgramIsStartedByARelativePath) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    const std::string path(self);
    const size_t slash = path.rfind('/');
    ASSERT_NE(slash, std::string::npos);
    const std::string folder = path.substr(0, slash), relative = "./" + path.substr(slash + 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(folder.c_str()) == 0)
            execl(relative.c_str(), relative.c_str(),
                  "--gtest_filter=PlatformLayer.PdfLayerFoundInTheBuildTree", "--gtest_brief=1",
                  static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
