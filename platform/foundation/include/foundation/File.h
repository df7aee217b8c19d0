// File helpers shared by preferences, bundles and callers that write
// documents the user keeps.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kdf {

// Whether writeFileAtomically waits until the content is on the disk.
enum class Flush {
    ToDisk,      // settings and documents that must survive a power cut
    NotToDisk,   // work files: whole or absent, but a crash may lose them;
                 // saves the wait for the disk on every file
};

// Writes the whole content next to the target under a fresh temporary name
// (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600), flushes it to disk, renames it over
// the target and flushes the folder (no flushing with Flush::NotToDisk). On
// any failure the old file is left as it was and the temporary file is
// removed.
bool writeFileAtomically(const std::string& path, std::string_view content,
                         std::string* error = nullptr, Flush flush = Flush::ToDisk);

namespace detail {
// One attempt of writeFileAtomically through the given temporary path;
// *taken is set when something already exists there (it is left alone).
bool writeFileVia(const std::string& path, std::string_view content, const std::string& tmp,
                  std::string* error, bool* taken = nullptr, Flush flush = Flush::ToDisk);
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

// Placing a file under a final name without ever replacing what is there.
enum class PlaceResult {
    Placed,    // the file is at the target, whole
    NameTaken, // something already has that name; nothing was changed
    Failed,    // see *error; nothing is left at the target
};

// Moves the file to the target path: a rename that refuses to replace
// (RENAME_NOREPLACE, else a hard link and unlink); across file systems a
// copy as below, the source removed only once the copy is complete.
PlaceResult moveFileNoReplace(const std::string& source, const std::string& target,
                              std::string* error = nullptr);
// Copies the file to the target path: the content is written into an
// unnamed file in the target's folder (O_TMPFILE; else a hidden temporary
// name), flushed, checked to be as long as the source and only then linked
// to the name, so nobody watching the folder ever sees half a file and a
// failed copy leaves nothing. The copy takes the source's permission bits.
PlaceResult copyFileNoReplace(const std::string& source, const std::string& target,
                              std::string* error = nullptr);

// "No such file" and friends, from errno.
std::string errnoText(int err);

} // namespace kdf
