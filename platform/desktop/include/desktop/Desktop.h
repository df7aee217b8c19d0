// The desktop workspace on Linux: programs started without a shell, files
// and folders opened with the user's handlers, the registered mail program,
// installed programs and the user's running processes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kdd {

// Starts the program (an absolute path, or a name looked up in PATH) with
// the arguments, without a shell; standard input and output go to
// /dev/null. The caller never waits: a background thread reaps the child
// when it ends. The process id, or no value with the reason in *error.
std::optional<pid_t> spawnDetached(const std::string& program, const std::vector<std::string>& args,
                                   std::string* error = nullptr);

// Starts the program like spawnDetached, but in a session of its own
// (setsid), with all three standard streams on /dev/null and nobody reaping
// it here: a program that outlives the caller, such as an application
// relaunched by a helper that ends right after.
std::optional<pid_t> spawnInNewSession(const std::string& program, const std::vector<std::string>& args,
                                       std::string* error = nullptr);

// Runs the program and answers its standard output when it exits with
// status 0 before the time-out (the child is killed after it). Standard
// error is dropped.
std::optional<std::string> runAndRead(const std::string& program, const std::vector<std::string>& args,
                                      std::chrono::milliseconds timeout, std::string* error = nullptr);

// "file://" and the path with every byte outside the unreserved set and "/"
// percent-encoded.
std::string fileUrl(const std::string& absolutePath);

// Opens the path with the desktop's handler ("xdg-open" with the file URL),
// detached. False when it could not be started.
bool openPath(const std::string& path, std::string* error = nullptr);

// The first executable file of that name in PATH; none when absent. A name
// holding "/" is taken as it is.
std::optional<std::string> findProgram(const std::string& name);

// The "applications" folders of the XDG data folders, user's first:
// $XDG_DATA_HOME (~/.local/share), then $XDG_DATA_DIRS (/usr/local/share,
// /usr/share).
std::vector<std::string> applicationFolders();

// The path of the desktop entry named "<id>" (such as "mail.desktop") in
// the applications folders; none when no folder has it.
std::optional<std::string> desktopEntryPath(const std::string& id);

// A desktop entry whose file name (without ".desktop", any case) or whose
// Name= equals the name; none when none does.
std::optional<std::string> findDesktopEntryNamed(const std::string& name);

// The desktop entry registered for "mailto:" links (xdg-mime), as a path.
std::optional<std::string> defaultMailAppPath();

struct ProcessInfo {
    pid_t pid = 0;
    std::string executable;       // the resolved /proc/<pid>/exe
    std::string bundlePath;       // the executable's folder when it holds an Info.plist
    std::string bundleIdentifier; // that Info.plist's "CFBundleIdentifier"
};

// The processes of this user, from /proc, in process-id order. Processes
// that end during the walk, or whose executable cannot be read, are left
// out. The calling process is included.
std::vector<ProcessInfo> runningProcesses();

} // namespace kdd
