// Test images of the page stages: generated pages and their bands as page
// images, and the pixels of a page image for comparing results.
#pragma once

#include "CImg.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace stagetest {

// Lines [y0, y0 + n) of a test image as a page image of their own.
inline Tvk::Imvra::CImg ImageOfLines(const kdtest::TestImage& page, int32_t y0, int32_t n) {
    Tvk::Imvra::CImg img;
    const tagTVKIMAGEINFO& in = *page.info();
    EXPECT_TRUE(img.createImg(in.lWidth, n, in.lSync, in.lBps, in.lSpp, in.ulRGBOrder,
                              in.lXResolution, in.lYResolution));
    if (!img.isNull()) std::memcpy(img.info().lpImage, page.line(y0), img.info().tImageSize);
    return img;
}

inline Tvk::Imvra::CImg ImageOf(const kdtest::TestImage& page) {
    return ImageOfLines(page, 0, page.height());
}

// The bytes of every stored row that hold pixels (line padding left out);
// nothing for an empty image.
inline std::vector<uint8_t> PixelBytes(const Tvk::Imvra::CImg& img) {
    std::vector<uint8_t> out;
    if (img.isNull()) return out;
    const tagTVKIMAGEINFO& in = img.info();
    const int64_t perPixel = in.ulRGBOrder == 1 ? 1 : in.lSpp;
    const auto used = static_cast<size_t>((int64_t{in.lWidth} * perPixel * in.lBps + 7) / 8);
    const int64_t rows = int64_t{in.lHeight} * (in.ulRGBOrder == 1 ? in.lSpp : 1);
    for (int64_t y = 0; y < rows; ++y)
        out.insert(out.end(), in.lpImage + y * in.lSync, in.lpImage + y * in.lSync + used);
    return out;
}

} // namespace stagetest

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
