#include "ImgEdit.h"

#include <algorithm>
#include <cstring>

namespace Tvk::Imvra {

namespace {

int32_t BitsPerPixel(const tagIMAGEINFO& i) { return i.lBps * i.lSpp; }

// The new image of a conversion: same width, height and resolutions,
// interleaved, shortest lines. False when refused or without buffer.
bool MakeLike(CImg& out, const tagIMAGEINFO& src, int32_t bps, int32_t spp) {
    return out.createImg(src.lWidth, src.lHeight, bps, spp, 0, src.lXResolution,
                         src.lYResolution) &&
           !out.isNull();
}

// Rows of an image that its buffer holds, at most lHeight lines.
bool HasRows(const tagIMAGEINFO& i, int64_t rowBytes) {
    return !(i.lpImage == nullptr || i.lHeight < 1 || i.lSync < rowBytes ||
             CImg::storedRows(i) < (i.ulRGBOrder == 1 ? int64_t{i.lHeight} * i.lSpp : i.lHeight));
}

} // namespace

bool CImgEdit::ToGray(CImg& img) {
    switch (BitsPerPixel(img.info())) {
    case 8: return true;
    case 24: return ColorToGray(img);
    case 1: return BinaryToGray(img);
    default: return false;
    }
}

bool CImgEdit::ToColor(CImg& img) {
    switch (BitsPerPixel(img.info())) {
    case 24: return true;
    case 8: return GrayToColor(img);
    case 1: return BinaryToGray(img) && GrayToColor(img);
    default: return false;
    }
}

bool CImgEdit::ToBinary(CImg& img) {
    switch (BitsPerPixel(img.info())) {
    case 1: return true;
    case 8: return GrayToBinary(img);
    case 24: return ColorToGray(img) && GrayToBinary(img);
    default: return false;
    }
}

bool CImgEdit::BinaryToGray(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (BitsPerPixel(s) != 1 || !HasRows(s, (int64_t{s.lWidth} + 7) / 8)) return false;
    CImg out;
    if (!MakeLike(out, s, 8, 1)) return false;
    const tagIMAGEINFO& d = out.info();
    for (int32_t y = 0; y < s.lHeight; ++y) {
        const uint8_t* src = s.lpImage + int64_t{y} * s.lSync;
        uint8_t* dst = d.lpImage + int64_t{y} * d.lSync;
        for (int32_t x = 0; x < s.lWidth; ++x)
            dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    }
    img.attachImg(out);
    return true;
}

bool CImgEdit::ColorToGray(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    const bool planar = s.ulRGBOrder == 1;
    if (BitsPerPixel(s) != 24 || s.lSpp != 3 || s.ulRGBOrder > 1 ||
        !HasRows(s, planar ? s.lWidth : int64_t{3} * s.lWidth))
        return false;
    CImg out;
    if (!MakeLike(out, s, 8, 1)) return false;
    const tagIMAGEINFO& d = out.info();
    const int64_t plane = planar ? s.lSync : 1;
    const int64_t step = planar ? 1 : 3;
    for (int32_t y = 0; y < s.lHeight; ++y) {
        const uint8_t* src = TvkLinePtr(s, y);
        uint8_t* dst = d.lpImage + int64_t{y} * d.lSync;
        for (int32_t x = 0; x < s.lWidth; ++x) {
            const uint8_t* p = src + x * step;
            dst[x] = static_cast<uint8_t>((p[0] * 38 + p[plane] * 76 + p[2 * plane] * 14) >> 7);
        }
    }
    img.attachImg(out);
    return true;
}

bool CImgEdit::GrayToColor(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (BitsPerPixel(s) != 8 || !HasRows(s, s.lWidth)) return false;
    CImg out;
    if (!MakeLike(out, s, 8, 3)) return false;
    const tagIMAGEINFO& d = out.info();
    for (int32_t y = 0; y < s.lHeight; ++y) {
        const uint8_t* src = s.lpImage + int64_t{y} * s.lSync;
        uint8_t* dst = d.lpImage + int64_t{y} * d.lSync;
        for (int32_t x = 0; x < s.lWidth; ++x) dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
    }
    img.attachImg(out);
    return true;
}

bool CImgEdit::GrayToBinary(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (BitsPerPixel(s) != 8 || !HasRows(s, s.lWidth)) return false;
    CImg out;
    if (!MakeLike(out, s, 1, 1)) return false;
    const tagIMAGEINFO& d = out.info();
    for (int32_t y = 0; y < s.lHeight; ++y) {
        const uint8_t* src = s.lpImage + int64_t{y} * s.lSync;
        uint8_t* dst = d.lpImage + int64_t{y} * d.lSync;
        for (int32_t x = 0; x < s.lWidth; ++x)
            if (src[x] >= 128) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    img.attachImg(out);
    return true;
}

bool CImgEdit::FillColor(CImg& img, const tagRGBQUAD& colour, tagKDRECT& rect) {
    const tagIMAGEINFO& i = img.info();
    if (i.ulRGBOrder == 1 || img.isNull()) return false;
    rect.top = std::clamp(rect.top, 0, std::max(i.lHeight, 0));
    rect.bottom = std::clamp(rect.bottom, 0, std::max(i.lHeight, 0));
    rect.left = std::clamp(rect.left, 0, std::max(i.lWidth, 0));
    rect.right = std::clamp(rect.right, 0, std::max(i.lWidth, 0));
    const int64_t px = i.lSpp == 3 ? 3 : 1;
    uint8_t pixel[3];
    if (px == 3) {
        pixel[0] = colour.rgbRed;
        pixel[1] = colour.rgbGreen;
        pixel[2] = colour.rgbBlue;
    } else {
        pixel[0] = colour.rgbReserved;
    }
    // Whole pixels inside a line only, and only lines the buffer holds.
    const int64_t linePixels = i.lSync > 0 ? i.lSync / px : 0;
    const int64_t width = std::min<int64_t>(i.lWidth, linePixels);
    const int64_t rows = std::min<int64_t>(i.lHeight, CImg::storedRows(i));
    if (rows <= 0 || linePixels <= 0) return true;
    auto paint = [&](uint8_t* line, int64_t from, int64_t to) {
        for (int64_t x = std::max<int64_t>(from, 0); x < std::min(to, linePixels); ++x)
            std::memcpy(line + x * px, pixel, static_cast<size_t>(px));
    };
    auto line = [&](int64_t y) { return i.lpImage + y * i.lSync; };
    // A fully painted row, made once and copied to the others.
    const int64_t top = std::min<int64_t>(rect.top, rows);
    const int64_t bottom = std::min<int64_t>(std::max(rect.bottom, rect.top), rows);
    int64_t model = -1;
    auto paintWhole = [&](int64_t y) {
        if (model < 0) {
            paint(line(y), 0, linePixels);
            model = y;
        } else {
            std::memcpy(line(y), line(model), static_cast<size_t>(linePixels * px));
        }
    };
    for (int64_t y = 0; y < top; ++y) paintWhole(y);
    for (int64_t y = top; y < bottom; ++y) {
        paint(line(y), 0, rect.left);
        paint(line(y), rect.right, width);
    }
    for (int64_t y = bottom; y < rows; ++y) paintWhole(y);
    return true;
}

void CImgEdit::MemOr(uint8_t* target, const uint8_t* source, size_t n) {
    for (size_t k = 0; k < n; ++k) target[k] |= source[k];
}

void CImgEdit::MemAnd(uint8_t* target, const uint8_t* source, size_t n) {
    for (size_t k = 0; k < n; ++k) target[k] &= source[k];
}

} // namespace Tvk::Imvra
