// An application bundle folder for the relaunch tests: Info.plist naming
// the executable, and the executable itself (a copy of a given program, or
// an empty script).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace relaunchtest {

inline void makeBundle(const std::filesystem::path& dir, const std::string& executable,
                       const std::filesystem::path& copyOf = {}) {
    namespace fs = std::filesystem;
    fs::create_directories(dir);
    std::ofstream(dir / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleExecutable</key><string>"
        << executable << "</string><key>CFBundleIdentifier</key><string>com.example.stub</string>"
           "</dict></plist>\n";
    const fs::path exe = dir / executable;
    if (copyOf.empty())
        std::ofstream(exe) << "#!/bin/sh\nexit 0\n";
    else
        fs::copy_file(copyOf, exe, fs::copy_options::overwrite_existing);
    fs::permissions(exe, fs::perms::owner_all, fs::perm_options::replace);
}

} // namespace relaunchtest
