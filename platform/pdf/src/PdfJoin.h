// Joins one-page PDF files into one document without re-encoding anything.
#pragma once

#include <string>
#include <vector>

namespace kdpdf {

// Writes the pages of the files, in order, to a new file beside target (its
// name taken exclusively), flushes it to disk and renames it to target. On
// failure nothing is left at target nor beside it and the reason is in
// *error. Streams are copied as they are stored.
bool joinPages(const std::vector<std::string>& files, const std::string& target,
               std::string* error);

} // namespace kdpdf
