// Page images for the stage tests: the test kit's generated pages as the
// library's own images, and back.
#pragma once

#include "CImg.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kdtest {

// A CImg holding a copy of the test image (same record, own buffer).
inline Tvk::Imvra::CImg ToCImg(const TestImage& t) {
    Tvk::Imvra::CImg img;
    const tagTVKIMAGEINFO& i = *t.info();
    EXPECT_TRUE(img.createImg(i.lWidth, i.lHeight, i.lSync, i.lBps, i.lSpp, i.ulRGBOrder,
                              i.lXResolution, i.lYResolution));
    if (!img.isNull()) std::memcpy(img.info().lpImage, t.data(), img.info().tImageSize);
    return img;
}

// A test image holding a copy of the CImg.
inline TestImage FromCImg(const Tvk::Imvra::CImg& img) {
    const tagTVKIMAGEINFO& i = img.info();
    TestImage t(i.lWidth, i.lHeight, i.lBps, i.lSpp, i.ulRGBOrder, i.lSync, i.lXResolution);
    t.info()->lYResolution = i.lYResolution;
    std::memcpy(t.data(), i.lpImage, i.tImageSize);
    return t;
}

// An 8-bit gray CImg of w x h pixels from row-major values.
inline Tvk::Imvra::CImg GrayCImg(int32_t w, int32_t h, const std::vector<uint8_t>& px,
                                 int32_t xres = 300, int32_t yres = 300) {
    Tvk::Imvra::CImg img;
    EXPECT_TRUE(img.createImg(w, h, w, 8, 1, 0, xres, yres));
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(img.info().lpImage + static_cast<size_t>(y) * w,
                    px.data() + static_cast<size_t>(y) * w, w);
    return img;
}

// Row y of an image as a vector of its first n bytes.
inline std::vector<uint8_t> RowBytes(const Tvk::Imvra::CImg& img, int32_t y, size_t n) {
    const uint8_t* p = img.info().lpImage + static_cast<size_t>(y) * img.info().lSync;
    return std::vector<uint8_t>(p, p + n);
}

} // namespace kdtest
