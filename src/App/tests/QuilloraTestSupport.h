// What the application's tests share: an offscreen screen of a known size
// and the end of the companions the application launched.
#pragma once

#include "TempHome.h"

#include <desktop/Desktop.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace apptest {

// The offscreen platform with one screen of that size at the origin, for
// this process and the ones it starts.
inline void useOffscreenScreen(kdtest::TempHome& home, int width, int height, bool frameMargins) {
    const std::filesystem::path screen = home.root() / "screen.json";
    kdtest::TempHome::writeText(screen, "{\"screens\": [{\"name\": \"Test\", \"x\": 0, \"y\": 0, \"width\": " +
                                            std::to_string(width) + ", \"height\": " + std::to_string(height) +
                                            ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}],"
                                            " \"windowFrameMargins\": " +
                                            (frameMargins ? "true" : "false") + "}");
    home.env().set("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.string());
}

// Ends every process of that executable (the companions the application
// under test launched), waiting a bounded time for each.
inline void endProcessesOf(const std::filesystem::path& executable) {
    const std::string exe = std::filesystem::canonical(executable).string();
    for (const auto& process : kdd::runningProcesses()) {
        if (process.pid == ::getpid() || process.executable != exe) continue;
        ::kill(process.pid, SIGTERM);
        for (int i = 0; i < 300 && ::kill(process.pid, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace apptest
