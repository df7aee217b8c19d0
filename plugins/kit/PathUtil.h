// The folder search of the settings checker: entries of a name anywhere
// below a folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kdkit::PathUtil {

// Type bits of getChildren.
inline constexpr unsigned kMatchFolders = 1;
inline constexpr unsigned kMatchFiles = 2;

// How deep the search goes below the folder it starts in.
inline constexpr int kMaxSearchDepth = 32;

// Appends to paths every entry below folder whose name equals name without
// regard to case (a folder's matches inside it come before the folder
// itself) and answers the array's count. Stops taking entries once paths
// holds max of them (0: no maximum). Folders that cannot be listed are
// skipped; links to folders may match but are never entered, and the walk
// ends kMaxSearchDepth levels down, so link loops and deep trees end.
std::size_t getChildren(const std::string& name, const std::string& folder, std::size_t max,
                        std::vector<std::string>& paths, unsigned type);

// The folders of that name below parent.
std::size_t getSubFolderPath(const std::string& name, const std::string& parent, std::size_t max,
                             std::vector<std::string>* paths);

} // namespace kdkit::PathUtil
