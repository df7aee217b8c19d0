// The main job as a user runs it with tools/setup.sh run, in a temporary
// run folder: Quillora started by scanner button 1 scans three two-sided
// sheets from the virtual KD-720 into one PDF and ends by itself. The
// command's environment points HOME and the XDG folders at an "outside"
// folder that must stay empty: the run keeps to its own folder.
#include "PdfReadBack.h"
#include "SpawnSelf.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A4 at 200 dpi in pixels, with the data source's own geometry rule: the
// width is A4 widened to the scanner's steps (at most 220 mm), the length
// A4's within 3 pixels.
constexpr double kDpi = 200;
constexpr double kA4WidthPx = 210 / 25.4 * kDpi;
constexpr double kMaxWidthPx = 220 / 25.4 * kDpi;
constexpr double kA4HeightPx = 297 / 25.4 * kDpi;
constexpr double kHeightTolerancePx = 3;
constexpr int kTimeLimitSeconds = 240;

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Processes whose environment names the folder (every process of the run
// has its home there).
std::vector<std::string> processesOf(const fs::path& folder) {
    std::vector<std::string> found;
    const std::string needle = folder.string();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string env = readText(entry.path() / "environ");
        if (env.find(needle) != std::string::npos) found.push_back(name + " " + readText(entry.path() / "comm"));
    }
    return found;
}

TEST(MainJob, ScannerButtonOneScansSixA4PagesIntoOnePdf) {
    ASSERT_TRUE(pdftest::HaveQpdf()) << "qpdf is needed";
    char pattern[] = "/tmp/kd-main-job-XXXXXX";
    const char* made = mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    const fs::path scratch = made;
    const fs::path outside = scratch / "outside";
    const fs::path run = scratch / "run";
    for (const char* sub : {"home", "config", "runtime", "tmp"}) fs::create_directories(outside / sub);
    fs::permissions(outside / "runtime", fs::perms::owner_all);

    const char* path = std::getenv("PATH");
    const std::vector<std::string> env{
        std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
        "HOME=" + (outside / "home").string(),
        "XDG_CONFIG_HOME=" + (outside / "config").string(),
        "XDG_RUNTIME_DIR=" + (outside / "runtime").string(),
        "TMPDIR=" + (outside / "tmp").string(),
        std::string("KD_RUN_BUILD=") + KD_BUILD_DIR,
        "KD_RUN_FOLDER=" + run.string(),
        "KD_RUN_TIME_LIMIT=" + std::to_string(kTimeLimitSeconds),
    };
    const fs::path log = scratch / "main-job.log";
    const kdtest::SpawnResult result =
        kdtest::spawnAndWait({"/bin/bash", KD_MAIN_JOB_SCRIPT}, env, log, std::chrono::seconds(kTimeLimitSeconds + 60));
    std::string printed = readText(log);
    // What Quillora and the companion said, for a failure's message.
    for (const char* name : {"quillora.log", "companion.log"}) {
        std::string text = readText(run / name);
        std::string kept;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(start, end - start);
            if (line.find("does not support") == std::string::npos) kept += line + "\n";
            start = end + 1;
        }
        printed += std::string("--- ") + name + "\n" + kept;
    }
    ASSERT_FALSE(result.timedOut) << printed;
    EXPECT_EQ(result.status, 0) << printed;

    std::vector<fs::path> pdfs;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(run / "output", ec))
        if (e.path().extension() == ".pdf") pdfs.push_back(e.path());
    ASSERT_EQ(pdfs.size(), 1u) << printed;
    EXPECT_EQ(kdtest::spawnAndWait({KD_QPDF, "--check", pdfs[0].string()}, env, scratch / "check.log", std::chrono::seconds(60)).status, 0)
        << readText(scratch / "check.log");
    EXPECT_NE(printed.find(pdfs[0].string() + ": 6 pages"), std::string::npos) << printed;
    const auto pages = pdftest::ReadPages(pdfs[0].string());
    ASSERT_EQ(pages.size(), 6u);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(pages[i].width / 72 * kDpi, kA4WidthPx - 3);
        EXPECT_LE(pages[i].width / 72 * kDpi, kMaxWidthPx);
        EXPECT_NEAR(pages[i].height / 72 * kDpi, kA4HeightPx, kHeightTolerancePx);
        EXPECT_NEAR(pages[i].pixelsWide, pages[i].width / 72 * kDpi, 1);
    }

    // Every process of the run has ended (the companion goes with its bus).
    std::vector<std::string> left;
    for (int i = 0; i < 50; ++i) {
        left = processesOf(run);
        if (left.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(left.empty()) << left.front();

    // Nothing was written outside the run folder.
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(outside))
        if (!(e.is_directory() && e.path().parent_path() == outside)) written.push_back(e.path().string());
    EXPECT_TRUE(written.empty()) << written.front();

    fs::remove_all(scratch);
}

} // namespace
