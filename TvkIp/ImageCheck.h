// The one geometry check every export makes on each image record before it
// touches a pixel: a record whose fields disagree with each other (an offset
// or width past the line, too few lines for three planes, lines without a
// buffer) is refused instead of trusted.
#pragma once

#include "CImgInf.h"

#include <cstdint>

// Sample layouts an export takes (a mask of them is passed to the check).
inline constexpr uint32_t kTvkBits1 = 1u << 0;       // 1 bit, 1 sample
inline constexpr uint32_t kTvkGray8 = 1u << 1;       // 8 bits, 1 sample
inline constexpr uint32_t kTvkGray16 = 1u << 2;      // 16 bits, 1 sample
inline constexpr uint32_t kTvkRgb24 = 1u << 3;       // 8 bits, 3 samples, interleaved
inline constexpr uint32_t kTvkRgb24Planar = 1u << 4; // 8 bits, 3 samples, line-sequential planes
inline constexpr uint32_t kTvkRgb48 = 1u << 5;       // 16 bits, 3 samples, interleaved
inline constexpr uint32_t kTvkRgb48Planar = 1u << 6; // 16 bits, 3 samples, planes
inline constexpr uint32_t kTvkRgb24Any = kTvkRgb24 | kTvkRgb24Planar;
inline constexpr uint32_t kTvkAnyLayout = 0x7Fu;

// How the export addresses the record.
inline constexpr uint32_t kTvkFromXpos = 1u << 16; // each line is read from byte/bit lXpos
inline constexpr uint32_t kTvkFromYpos = 1u << 17; // the lines start at line lYpos of the buffer
// The record only describes a page (a detector's set-up takes its size and
// layout): a missing buffer is allowed, and then no pixel may be read.
inline constexpr uint32_t kTvkDescription = 1u << 18;

// Highest resolution a record may state: a scanner's resolution is a 16-bit
// whole number of dots per inch, and the detectors' micrometre arithmetic
// stays within 32 bits below it.
inline constexpr int32_t kTvkMaxResolution = 65535;

// The layout bit of a record's depth, samples and order; 0 when unsupported.
uint32_t TvkImageLayout(const tagTVKIMAGEINFO& image);

// True when `image` is present, its layout is one of `accept`, and every
// line the export may address lies inside the buffer the record describes:
// lSync bytes a line (a plane), lines x line step bytes in all, the pixels
// (from lXpos with kTvkFromXpos) inside lSync, a buffer whenever there are
// lines, all of them within tImageSize when it is stated (non-zero);
// resolutions from 0 to kTvkMaxResolution. All arithmetic is 64-bit.
bool TvkImageFits(const tagTVKIMAGEINFO* image, uint32_t accept);

// The record of a whole image for a binarisation request, which starts at
// line lYpos: an image's own lYpos is a position, not lines to skip.
inline tagTVKIMAGEINFO TvkWholeImage(const tagTVKIMAGEINFO& image) {
    tagTVKIMAGEINFO whole = image;
    whole.lYpos = 0;
    return whole;
}
