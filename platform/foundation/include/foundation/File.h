// File helpers shared by preferences, bundles and callers that write
// documents the user keeps.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kdf {

// Writes the whole content next to the target under a fresh temporary name
// (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600), flushes it to disk, renames it over
// the target and flushes the folder. On any failure the old file is left as
// it was and the temporary file is removed.
bool writeFileAtomically(const std::string& path, std::string_view content,
                         std::string* error = nullptr);

namespace detail {
// One attempt of writeFileAtomically through the given temporary path;
// *taken is set when something already exists there (it is left alone).
bool writeFileVia(const std::string& path, std::string_view content, const std::string& tmp,
                  std::string* error, bool* taken = nullptr);
} // namespace detail

// The whole file, or no value when it is missing, unreadable or larger than
// maxBytes. *missing is set when the file does not exist.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes,
                                         std::string* error = nullptr, bool* missing = nullptr);

// The folder part of a path ("." for a bare name) and the last component.
std::string folderOf(const std::string& path);
std::string lastComponent(const std::string& path);
// a + "/" + b without doubling the slash.
std::string joinPath(const std::string& a, const std::string& b);

bool isDirectory(const std::string& path);
bool isRegularFile(const std::string& path);

// "No such file" and friends, from errno.
std::string errnoText(int err);

} // namespace kdf
