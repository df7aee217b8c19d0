// Where the manager looks for data sources, and which files it tries.
#pragma once

#include <string>
#include <vector>

namespace kd::twain {

// The folders to search: those named by KD_TWAIN_DS_PATH (separated by
// colons) when it is set and not empty, else /usr/local/lib/twain.
std::vector<std::string> SourceFolders();

// Every regular file whose name contains ".ds" under the folders, walking
// sub-folders. Entries are looked at with lstat, so symbolic links (to files
// or folders) are never followed; each folder's entries are taken in byte
// order of their names. Folders that cannot be read are passed over.
std::vector<std::string> FindSourceFiles(const std::vector<std::string>& folders);

}  // namespace kd::twain
