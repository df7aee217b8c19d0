// One scanned page as the output writer handles it: the raw page file (or
// the edited page) read back into memory and put into the sense each file
// format expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class ImageInfoModel;

namespace qlr_output {

// File format numbers of an output.
enum FileFormat : int { kFormatPDF = 0, kFormatTIFF = 1, kFormatJPEG = 2, kFormatPNG = 3 };

// Rows from top to bottom, no padding beyond whole bytes for 1-bit rows; a
// set bit of a 1-bit page is white, colour pages are red-green-blue.
struct PageBitmap {
    int bpp = 0;
    int width = 0;
    int height = 0;
    float xRes = 0;
    float yRes = 0;
    std::size_t bytesPerRow = 0;
    std::vector<std::uint8_t> data;
};

// Bytes of one row of a raw page: (width + 7) / 8 below 8 bits, else
// width × (bits / 8). Negative or too large answers 0.
int bytesPerRowByImgSetting(int bpp, int width);
// The same in 64 bits; none on a negative size or an overflow.
std::optional<std::size_t> bytesPerRow64(int bpp, int width);

// Reads the page: the edited page file when the record names one that
// exists, else the raw page file. Raises kdf::Exception named by the key
// ("Err_UnknownError", "Err_MemFullError", "Err_FileDecodeFailed",
// "NoErr_OnlyThrow"). A raw file shorter than the page leaves white rows.
PageBitmap imageRepFromPage(const ImageInfoModel& page);

// Reads an uncompressed or compressed single-image TIFF as written by the
// editing, in the raw page's sense whatever its photometric interpretation.
// Raises "Err_MemFullError" with libtiff's message as the reason.
PageBitmap readEditedPage(const std::string& path);

// Inverts every byte of a page below 8 bits for PDF and TIFF (a set bit is
// black there); changes nothing for other formats or depths.
void reversalImageBW(PageBitmap& bitmap, int fileFormatType);
// Swaps red and blue of a 24-bit page for PDF only.
void conversionRGBToBGRImage(PageBitmap& bitmap, int fileFormatType);

} // namespace qlr_output
