// Pages written as TIFF files. Each page is encoded as a single-page
// little-endian TIFF; a page that continues a multi-page file is written to
// a child file first and then appended to its group's file without being
// re-encoded.
#pragma once

#include "PageImage.h"

#include <functional>
#include <optional>
#include <string>

class OutputModel;

namespace qlr_output {

class OutputWriter;

// Rows a single-page TIFF may have before the bilevel coder switches from
// Group 4 to Group 3.
inline constexpr int kMaxGroup4Rows = 10000;

// The page as a single-page classic TIFF in memory, little-endian:
// 1 bit Group 4 (Group 3 above kMaxGroup4Rows rows) and WhiteIsZero (the
// read-back has made a set bit black), 8 bits gray MinIsBlack and 24 bits
// RGB uncompressed; resolution in dots per inch. Empty when the page can't
// be encoded; *error then says why.
std::string encodeTIFF(const PageBitmap& bitmap, std::string* error = nullptr);

// "childImg_<index>.tiff" in the multi-page work folder; empty when that
// folder can't be made.
std::string childImgPathForMultiTiff(int index);

// The written-path list entry at a group index, if there is one.
using GroupFileLookup = std::function<std::optional<std::string>(int groupIndex)>;

// Writes page `index` of the output: a page that starts a file goes to
// `path`; any other page is appended to the file of its group. Raises
// "Err_FileCreateFailed", "Err_FileWriteFailed" or "Err_TIFFAddPage".
bool writeToTIFF(const PageBitmap& bitmap, const std::string* path, int index, bool isLastIndex,
                 const OutputModel& output, const GroupFileLookup& groupFile);

// Plugs the TIFF writer into the output writer; group files come from the
// current output's written-path list.
void installTIFFWriter(OutputWriter& writer);

} // namespace qlr_output
