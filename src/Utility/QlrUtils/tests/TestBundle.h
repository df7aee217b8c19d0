// A temporary main bundle for the utilities' tests: Info.plist, the
// PlugIns/, SharedSupport/ and Resources/<language>.lproj folders, and
// stand-in processes started from bundle folders of their own.
#pragma once

#include "TempHome.h"

#include <desktop/Desktop.h>
#include <foundation/Bundle.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <thread>

namespace qlrtest {

namespace fs = std::filesystem;

inline std::string infoPlist(const std::string& id, const std::string& extra = {}) {
    return "<plist><dict><key>CFBundleIdentifier</key><string>" + id + "</string>" + extra +
           "</dict></plist>";
}

// Makes a bundle folder; with an executable name, /bin/sleep is copied in
// under that name and named by CFBundleExecutable.
inline fs::path makeBundle(const fs::path& folder, const std::string& id, const std::string& executable = {},
                           const std::string& extraInfo = {}) {
    fs::create_directories(folder);
    std::string extra = extraInfo;
    if (!executable.empty()) {
        fs::copy_file("/bin/sleep", folder / executable, fs::copy_options::overwrite_existing);
        extra += "<key>CFBundleExecutable</key><string>" + executable + "</string>";
    }
    kdtest::TempHome::writeText(folder / "Info.plist", infoPlist(id, extra));
    return folder;
}

// The main bundle for the life of the object.
class MainBundle {
public:
    explicit MainBundle(const fs::path& folder) { kdf::Bundle::setMainBundlePath(folder.string()); }
    ~MainBundle() { kdf::Bundle::setMainBundlePath({}); }
};

// A process running the bundle's executable until the object goes.
class StandIn {
public:
    explicit StandIn(const fs::path& executable) {
        pid_ = kdd::spawnDetached(executable.string(), {"60"}).value_or(0);
        // Until the new program replaced the spawned copy of ours, /proc
        // still shows this test's executable.
        for (int i = 0; i < 500 && !running(executable); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~StandIn() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
    }
    pid_t pid() const { return pid_; }

private:
    bool running(const fs::path& executable) const {
        for (const auto& p : kdd::runningProcesses())
            if (p.pid == pid_) return p.executable == executable.string();
        return false;
    }
    pid_t pid_ = 0;
};

} // namespace qlrtest
