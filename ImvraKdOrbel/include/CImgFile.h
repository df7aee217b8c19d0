// A page image with file operations for diagnosis: the raw ".tvk" form, the
// image-record file, Windows BMP and a one-page PDF.
//
// ".tvk" file: the 52-byte little-endian image record (size word 52, the
// buffer pointer written as 0), then the pixel buffer as stored. The
// image-record file is the 52-byte record alone. Both are written and read
// field by field, never as the in-memory struct.
#pragma once

#include "CImg.h"

#include <cstdint>

namespace Tvk::Imvra {

// Bytes of the image record in files.
inline constexpr uint32_t kImageInfoFileSize = 52;

class CImgFile : public CImg {
public:
    ~CImgFile() override = default;

    // False when the image has no record size or no buffer, or the file
    // cannot be created or written.
    bool saveTvk(const char* path) const;
    // Empties the image, then reads a file saveTvk wrote. False, with an
    // empty image, when the record is one createImg refuses or the file does
    // not hold the bytes it announces.
    bool loadTvk(const char* path);
    // True when the file's record (all but lHeight and tImageSize) equals
    // this image's and the first min(both tImageSize) bytes agree.
    bool compTvk(const char* path) const;

    // The image-record file. False for a null record or one with size 0. A
    // loaded record gets its fields from lXpos to lYResolution and the size
    // kImageInfoSize; its buffer pointer is left alone.
    static bool saveImgInf(const char* path, const tagIMAGEINFO* info);
    static bool loadImgInf(const char* path, tagIMAGEINFO* info);

    // An uncompressed Windows BMP of a 1-, 4-, 8-bit or 8-bit colour image
    // (either colour layout), with a gray palette for the first three.
    bool saveBmp(const char* path) const;
    // Reads an uncompressed BMP of 1, 4, 8, 24 or 32 bits (colour comes back
    // interleaved, 8 bits a sample). False, with an empty image, for
    // anything else; sizes are checked before any allocation.
    bool loadBmp(const char* path);
    // Bytes of a BMP line: ceil(width x bits / 8) raised to a multiple of 4.
    static int64_t calcSync(int64_t width, int64_t bits);

    // A one-page PDF of a 1-bit, 8-bit gray or 8-bit colour image (each side
    // at most 10200 pixels) through the PDF platform layer, loaded at first
    // use. False when the layer is missing or any of its calls fails.
    bool savePdf(const char* path, bool colourTable, int quality, bool extended, int value1,
                 int value2) const;
    // No JPEG encoder: always false, nothing written.
    bool saveJpg(const char* path, int quality) const;
};

} // namespace Tvk::Imvra
