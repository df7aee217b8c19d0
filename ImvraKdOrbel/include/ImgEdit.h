// Whole-image conversions between binary, gray and colour, and painting a
// colour around a rectangle (the platen background of the shading stage and
// of the deskew stage).
#pragma once

#include "CImg.h"
#include "ImvraRecords.h"

#include <cstddef>
#include <cstdint>

namespace Tvk {

// Colour argument of FillColor: colour pixels are written red, green, blue;
// gray pixels take rgbReserved, the gray level.
struct tagRGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
static_assert(sizeof(tagRGBQUAD) == 4);

namespace Imvra {

// All operations work on a whole image in place; false leaves it unchanged.
class CImgEdit {
public:
    // 8 bits a pixel: true, nothing done; 24: ColorToGray; 1: BinaryToGray.
    static bool ToGray(CImg& img);
    // 24: true; 8: GrayToColor; 1: BinaryToGray then GrayToColor.
    static bool ToColor(CImg& img);
    // 1: true; 8: GrayToBinary; 24: ColorToGray then GrayToBinary.
    static bool ToBinary(CImg& img);

    // The single steps, each for its own input depth (1, 24, 8, 8 bits a
    // pixel); false for another depth or when the new image has no buffer.
    static bool BinaryToGray(CImg& img); // a set bit becomes 255
    static bool ColorToGray(CImg& img);  // (38 R + 76 G + 14 B) >> 7
    static bool GrayToColor(CImg& img);
    static bool GrayToBinary(CImg& img); // 128 or more: a set bit

    // Paints everything outside the rectangle (left, top, right, bottom;
    // right and bottom exclusive) with the colour. The rectangle is limited
    // to the image and written back. Only whole pixels inside a line are
    // painted. False for a planar image or an empty one.
    static bool FillColor(CImg& img, const tagRGBQUAD& colour, tagKDRECT& rect);

    // Byte-wise OR and AND of n bytes into target.
    static void MemOr(uint8_t* target, const uint8_t* source, size_t n);
    static void MemAnd(uint8_t* target, const uint8_t* source, size_t n);
};

} // namespace Imvra
} // namespace Tvk
