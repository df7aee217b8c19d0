// Opening files with an installed application: its desktop entry, launched
// through GIO without a shell.
#pragma once

#include <string>
#include <vector>

namespace kdd {

// Opens the files with the application of the desktop entry (a ".desktop"
// file). An entry whose Exec takes a list (%F, %U) is started once with
// all files; one that takes a single file (%f, %u) once per file. The
// arguments go to the program as they are, never through a shell, and the
// program is not waited for. False with the reason in *error when the entry
// cannot be read or launched (no Exec, Hidden, a TryExec that is not
// installed, a program that cannot be started) or no file was given.
bool launchDesktopEntry(const std::string& entryPath, const std::vector<std::string>& files,
                        std::string* error = nullptr);

// Whether the entry can launch anything at all (it reads, is not Hidden,
// has an Exec whose program and TryExec are installed).
bool isLaunchableDesktopEntry(const std::string& entryPath);

} // namespace kdd
