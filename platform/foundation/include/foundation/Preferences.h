// Preferences files: one property list dictionary per name, shared by
// processes that each read the whole file and write it back whole.
#pragma once

#include "foundation/Value.h"

#include <functional>
#include <string>
#include <string_view>

namespace kdf {

// The file that stands for "~/Library/Preferences/<name>.plist":
// $XDG_CONFIG_HOME/<name>.plist, or ~/.config/<name>.plist when unset.
std::string preferencesFilePath(std::string_view name);
// The folder those files live in.
std::string preferencesFolder();

struct PreferencesContent {
    enum class State { Missing, Loaded, Unreadable };
    State state = State::Missing;
    Dictionary values; // empty unless Loaded
    std::string error; // why it is Unreadable
};

// The current content of a preferences file. A file that does not hold a
// dictionary property list is Unreadable (and left where it is).
PreferencesContent readPreferencesFile(std::string_view name);

// Re-reads the file, lets edit change the dictionary and writes it back
// atomically, all under a per-file lock (a flock on "<file>.lock" between
// processes plus a mutex between threads). edit returns false to write
// nothing. A file that exists but cannot be read is first renamed aside
// ("<file>.unreadable-<time>"), with one message on standard error, so it is
// never silently replaced. Returns whether the file now holds the edit.
bool updatePreferencesFile(std::string_view name, const std::function<bool(Dictionary&)>& edit,
                           std::string* error = nullptr);

// Replaces the whole file (under the same lock).
bool writePreferencesFile(std::string_view name, const Dictionary& values,
                          std::string* error = nullptr);

// Removes the file (under the same lock). Missing counts as removed.
bool removePreferencesFile(std::string_view name, std::string* error = nullptr);

} // namespace kdf
