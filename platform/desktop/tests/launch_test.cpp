// Files opened with a desktop entry: one launch with every file for a list
// field code, one launch per file otherwise; broken entries refused.
#include "desktop/Launch.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

using kdtest::TempHome;

// A private home whose applications folder holds the recorder's entries;
// the recorder writes one line per argument and "--" after each launch.
class Launch : public ::testing::Test {
protected:
    void SetUp() override {
        home_.env().set("XDG_DATA_HOME", (home_.root() / "data").string());
        home_.env().set("XDG_DATA_DIRS", (home_.root() / "system").string());
        home_.env().set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        recorder_ = home_.root() / "bin" / "recorder";
        log_ = home_.root() / "launched";
        TempHome::writeText(recorder_, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" +
                                           log_.string() + "'\necho -- >> '" + log_.string() + "'\n");
        fs::permissions(recorder_, fs::perms::owner_all);
    }
    fs::path entry(const std::string& name, const std::string& lines) {
        const fs::path path = home_.root() / "data" / "applications" / (name + ".desktop");
        TempHome::writeText(path, "[Desktop Entry]\nType=Application\nName=" + name + "\n" + lines);
        return path;
    }
    // The log once it holds that many launches (up to a few seconds).
    std::string launches(int count) {
        std::string text;
        for (int i = 0; i < 500; ++i) {
            text = TempHome::readText(log_);
            int ends = 0;
            for (std::size_t at = 0; (at = text.find("--\n", at)) != std::string::npos; at += 3) ++ends;
            if (ends >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return text;
    }
    TempHome home_;
    fs::path recorder_, log_;
};

TEST_F(Launch, ListEntryGetsAllFilesAtOnceSingleEntryOneEach) {
    // Names a shell would read reach the program unchanged.
    const std::vector<std::string> files{(home_.root() / "a b.pdf").string(),
                                         (home_.root() / "$(touch x);'.pdf").string()};
    for (const auto& f : files) TempHome::writeText(f, "x");

    const fs::path list = entry("viewer", "Exec=" + recorder_.string() + " --open %F\n");
    std::string error;
    ASSERT_TRUE(kdd::launchDesktopEntry(list, files, &error)) << error;
    EXPECT_EQ(launches(1), "--open\n" + files[0] + "\n" + files[1] + "\n--\n");

    fs::remove(log_);
    const fs::path single = entry("single", "Exec=" + recorder_.string() + " %f\n");
    ASSERT_TRUE(kdd::launchDesktopEntry(single, files, &error)) << error;
    const std::string text = launches(2);
    // Two launches, each with one file; their order is the programs'.
    EXPECT_TRUE(text == files[0] + "\n--\n" + files[1] + "\n--\n" || text == files[1] + "\n--\n" + files[0] + "\n--\n")
        << text;
    EXPECT_FALSE(fs::exists(home_.root() / "x"));
}

TEST_F(Launch, BrokenEntriesAreRefused) {
    const std::string exec = "Exec=" + recorder_.string() + " %F\n";
    struct Case {
        const char* what;
        std::string lines;
    };
    const Case cases[] = {
        {"no Exec", "Comment=none\n"},
        {"Hidden", exec + "Hidden=true\n"},
        {"TryExec not installed", exec + "TryExec=/no/such/program\n"},
        {"program not installed", "Exec=/no/such/program %F\n"},
    };
    const std::string file = (home_.root() / "a.pdf").string();
    TempHome::writeText(file, "x");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = entry("broken" + std::to_string(n++), c.lines);
        EXPECT_FALSE(kdd::isLaunchableDesktopEntry(path));
        std::string error;
        EXPECT_FALSE(kdd::launchDesktopEntry(path, {file}, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(kdd::launchDesktopEntry((home_.root() / "missing.desktop").string(), {file}));
    // No file: nothing to open.
    EXPECT_FALSE(kdd::launchDesktopEntry(entry("fine", exec), {}));
    EXPECT_FALSE(fs::exists(log_));
}

} // namespace
