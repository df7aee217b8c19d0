// Opening of debug output files: no symbolic links followed, regular files of
// the calling user only.
#pragma once

#include <cstdio>

// True when path is a regular file of the calling user that opens for reading.
bool DebugFileIsEnabled(const char* path);
// Opens path for writing and empties it. When create is set a missing file is
// made (readable and writable by the user only); otherwise the file must exist.
// Null when it cannot be opened or is not a regular file of the calling user
// (such a file is left untouched).
FILE* DebugFileOpenForWriting(const char* path, bool create);
