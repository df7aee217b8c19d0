// One colour channel of an interleaved 24-bit image into an 8-bit gray image.
#include "ExtractRGBElementFromColor.h"

#include <algorithm>

void CExtractRGBElementFromColor::Extract(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int channel) {
    if (dst == nullptr || src == nullptr || dst->lpImage == nullptr || src->lpImage == nullptr)
        return;
    const int32_t width = std::min(dst->lWidth, src->lWidth);
    const int32_t height = std::min(dst->lHeight, src->lHeight);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* d = dst->lpImage + int64_t{y} * dst->lSync;
        const uint8_t* s = src->lpImage + int64_t{y} * src->lSync + channel;
        for (int32_t x = 0; x < width; ++x) d[x] = s[3 * x];
    }
}

void CExtractRGBElementFromColor::ExtractRed(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    Extract(dst, src, kRed);
}

void CExtractRGBElementFromColor::ExtractGreen(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    Extract(dst, src, kGreen);
}

void CExtractRGBElementFromColor::ExtractBlue(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    Extract(dst, src, kBlue);
}

void CExtractRGBElementFromColor::Rect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int channel) {
    switch (channel) {
    case kRed:
        ExtractRed(dst, src);
        break;
    case kGreen:
        ExtractGreen(dst, src);
        break;
    case kBlue:
        ExtractBlue(dst, src);
        break;
    default:
        break;
    }
}
