// General file routines of the application: the user's default folders and
// the folder and file tests run before saving. Stateless, so the page
// writers' worker threads call them too. The window, menu and view chores
// of TV_Func live in QlrUtilsUI (TV_FuncUI.h), in the same namespace.
#pragma once

#include <foundation/RunLoop.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TV_Func {

// The user's Desktop and Documents folders, symbolic links resolved.
std::optional<std::string> defaultDesktopPath();
std::optional<std::string> defaultDocumentFolder();
// The first applications folder of the XDG data folders that exists
// (/usr/local/share/applications, /usr/share/applications), resolved.
std::optional<std::string> defaultAppFolder();
// <home>/Pictures when it exists; else the user's pictures folder (created
// when missing); else the <home>/Pictures path anyway.
std::string defaultPictureFolder();
// An installed desktop entry named "Evernote", else a program of that name
// in PATH; none when neither is installed.
std::optional<std::string> defaultEvernotePath();

// The names of the folder's entries that are not folders, sorted by name;
// none when the path is not a folder.
std::optional<std::vector<std::string>> directoryFilesAtPath(std::string_view folder);

// Not empty, exists, and is a folder (links followed).
bool isDirectory(std::string_view path);
// Not empty and something exists there (links followed).
bool isExistsFile(std::string_view path);
// Removes what exists at the path, a folder with its content; a link is
// removed itself, never followed. False when nothing was there or removal
// failed.
bool isRemoveFile(std::string_view path);
// The owner's read and write permission bits are both set and the process
// may read and write there.
bool isReadableWritableDirectory(std::string_view path);

// The folders that hold the system's and the user's program data rather
// than documents: /usr, /etc, /var, /opt, /boot, /proc, /sys, /dev, /run,
// /lib, /lib32, /lib64, /libx32, and the user's ~/.local,
// ~/.cache, ~/.config (or their XDG folders).
std::vector<std::string> libraryFolders();
// The path, or one of its ancestors below "/", is one of libraryFolders()
// (compared as written and with links resolved).
bool isLibraryDirectory(std::string_view path);
// Whether a folder may be offered as a save destination: not for an empty
// path, a path that is no folder, one ending in "/Library" or "/System", a
// library folder, the user's temporary folder, or a path with a component
// beginning with ".".
bool isDisplaysDirectory(std::string_view path);

// Runs the block on the current thread's run loop after the delay (0 means
// the next pass of the loop, never at once), in the given modes.
void performBlock(std::function<void()> block, double delaySeconds,
                  kdf::RunLoopModes modes = kdf::RunLoopMode::Default);

} // namespace TV_Func
