// Copies one channel of an interleaved 24-bit colour image into an 8-bit gray image.
#pragma once

#include "CBFunc.h"

class CExtractRGBElementFromColor : public CTvkIP {
public:
    enum Channel { kRed = 0, kGreen = 1, kBlue = 2 };

    using CTvkIP::Rect;
    // dst byte x of each line = src byte 3x + channel. Works over the lines and
    // pixels both images have.
    void ExtractRed(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);
    void ExtractGreen(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);
    void ExtractBlue(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);
    // channel 0 red, 1 green, 2 blue; any other value does nothing.
    void Rect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int channel);

private:
    static void Extract(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int channel);
};
