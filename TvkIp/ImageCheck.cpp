// Geometry check of image records at the library's entry points.
#include "ImageCheck.h"

uint32_t TvkImageLayout(const tagTVKIMAGEINFO& image) {
    const bool planar = image.ulRGBOrder == 1;
    if (image.lSpp == 1) {
        switch (image.lBps) {
        case 1:
            return kTvkBits1;
        case 8:
            return kTvkGray8;
        case 16:
            return kTvkGray16;
        default:
            return 0;
        }
    }
    if (image.lSpp != 3 || image.ulRGBOrder > 1) return 0;
    if (image.lBps == 8) return planar ? kTvkRgb24Planar : kTvkRgb24;
    if (image.lBps == 16) return planar ? kTvkRgb48Planar : kTvkRgb48;
    return 0;
}

bool TvkImageFits(const tagTVKIMAGEINFO* image, uint32_t accept) {
    if (image == nullptr) return false;
    const tagTVKIMAGEINFO& r = *image;
    const uint32_t layout = TvkImageLayout(r);
    if ((layout & accept) == 0) return false;
    if (r.lWidth < 0 || r.lHeight < 0 || r.lSync < 0) return false;
    if (r.lXResolution < 0 || r.lXResolution > kTvkMaxResolution || r.lYResolution < 0 ||
        r.lYResolution > kTvkMaxResolution)
        return false;
    const int64_t x0 = (accept & kTvkFromXpos) != 0 ? r.lXpos : 0;
    const int64_t y0 = (accept & kTvkFromYpos) != 0 ? r.lYpos : 0;
    if (x0 < 0 || y0 < 0) return false;
    const int64_t lines = y0 + r.lHeight;
    if (lines == 0) return true;
    const bool description = r.lpImage == nullptr && (accept & kTvkDescription) != 0;
    if ((r.lpImage == nullptr && !description) || r.lSync == 0) return false;
    // Bits a pixel takes within one line of one plane.
    const bool planes = layout == kTvkRgb24Planar || layout == kTvkRgb48Planar;
    const int64_t pixelBits = int64_t{r.lBps} * (planes ? 1 : r.lSpp);
    if ((x0 + r.lWidth) * pixelBits > int64_t{r.lSync} * 8) return false;
    if (description) return true; // its pixels are never read
    // lines x step must stay addressable (lines < 2^32, step < 3 x 2^31).
    const int64_t step = TvkLineStep(r);
    if (lines > (INT64_MAX >> 2) / step) return false;
    // A stated buffer size (0: not stated) must hold every line; lines
    // counted from lYpos lie beyond the image the size describes.
    return r.tImageSize == 0 || y0 > 0 || lines * step <= int64_t{r.tImageSize};
}
