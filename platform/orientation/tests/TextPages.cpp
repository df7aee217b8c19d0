#include "TextPages.h"

#include <leptonica/allheaders.h>

#include <cstring>
#include <string>

namespace kdtest {

namespace {

const char kProse[] = "The quick brown fox jumps over the lazy dog while the committee reviews "
                      "the annual report of the county library. Several members asked whether "
                      "the reading room could stay open later during the winter months, and the "
                      "treasurer explained that heating costs would rise by a small amount. "
                      "After a short discussion the proposal was accepted, and the secretary "
                      "promised to write to the council before the end of the month. ";

} // namespace

GrayPage TextPageGray(int32_t width, int32_t height, int fontSize) {
    GrayPage page;
    L_BMF* font = bmfCreate(nullptr, fontSize);
    PIX* pix = pixCreate(width, height, 8);
    if (font == nullptr || pix == nullptr) {
        bmfDestroy(&font);
        pixDestroy(&pix);
        return page;
    }
    pixSetAll(pix);
    std::string text;
    while (text.size() < static_cast<size_t>(width) * height / 200) text += kProse;
    const int32_t margin = width / 12;
    int overflow = 0;
    pixSetTextblock(pix, font, text.c_str(), 0x00000000, margin, margin, width - 2 * margin, 0,
                    &overflow);
    page.width = width;
    page.height = height;
    page.pixels.resize(static_cast<size_t>(width) * height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            l_uint32 v = 255;
            pixGetPixel(pix, x, y, &v);
            page.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(v);
        }
    pixDestroy(&pix);
    bmfDestroy(&font);
    return page;
}

} // namespace kdtest
