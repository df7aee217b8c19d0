// The user's folders.
#pragma once

#include <optional>
#include <string>

namespace kdf {

// $HOME, else the password database's entry.
std::string homeFolder();
// From $XDG_CONFIG_HOME/user-dirs.dirs (XDG_DESKTOP_DIR and friends), else
// <home>/Desktop, <home>/Documents, <home>/Pictures.
std::string desktopFolder();
std::string documentsFolder();
std::string picturesFolder();

// The user's private temporary folder: "kd-<uid>" under $TMPDIR (the
// system's /tmp when unset), created 0700. Answered only when lstat shows a
// real folder owned by the user and closed to others; otherwise no value
// with the reason in *error (a planted link or another user's folder is
// never used).
std::optional<std::string> userTemporaryFolder(std::string* error = nullptr);

} // namespace kdf
