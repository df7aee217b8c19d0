// Small helpers of the page-shape stage tests: test-kit pages as page
// images, pixel reads of page images and a shading stage with a known platen
// colour.
#pragma once

#include "CImg.h"
#include "Shading.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace geomtest {

using Tvk::Imvra::CImg;

// A page image holding a copy of the test image (record and bytes).
inline CImg ToCImg(const kdtest::TestImage& t) {
    CImg img;
    tagTVKIMAGEINFO rec = *t.info();
    EXPECT_TRUE(img.createImg(rec));
    if (!img.isNull() && !t.bytes().empty())
        std::memcpy(img.info().lpImage, t.data(), std::min<size_t>(t.bytes().size(),
                                                                   img.info().tImageSize));
    return img;
}

inline uint32_t Px(const CImg& img, int32_t x, int32_t y) {
    return kdtest::GetPixel(img.info(), x, y);
}

// A shading stage whose platen colour is (r, g, b) (gray: r).
inline void SetPlaten(Tvk::Imvra::KD730::CShading& s, uint8_t r, uint8_t g, uint8_t b,
                      bool colour = true) {
    CImg line;
    ASSERT_TRUE(line.createImg(4, 1, 8, colour ? 3 : 1, 0, 300, 300));
    for (int x = 0; x < 4; ++x) {
        if (colour) {
            line.info().lpImage[3 * x] = r;
            line.info().lpImage[3 * x + 1] = g;
            line.info().lpImage[3 * x + 2] = b;
        } else {
            line.info().lpImage[x] = r;
        }
    }
    ASSERT_EQ(s.makeShadingData(line), 0);
}

// The bytes of an image's buffer.
inline std::vector<uint8_t> Bytes(const CImg& img) {
    if (img.isNull()) return {};
    return std::vector<uint8_t>(img.info().lpImage, img.info().lpImage + img.info().tImageSize);
}

} // namespace geomtest
