// Small helpers of the page-shape stage tests: test-kit pages as page
// images, pixel reads of page images and a shading stage with a known platen
// colour.
#pragma once

#include "CImg.h"
#include "Shading.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

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

// Lines y0 .. y0 + n of a page as a band of its own (empty when n is 0).
inline CImg Slice(const CImg& page, int32_t y0, int32_t n) {
    CImg band;
    if (n <= 0) return band;
    const tagTVKIMAGEINFO& p = page.info();
    EXPECT_TRUE(band.createImg(p.lXpos, p.lYpos, p.lWidth, n, p.lSync, p.lBps, p.lSpp,
                               p.ulRGBOrder, p.lXResolution, p.lYResolution));
    const size_t step = static_cast<size_t>(TvkLineStep(p));
    std::memcpy(band.info().lpImage, TvkLinePtr(p, y0), step * n);
    return band;
}

// Splits a page into bands of `band` lines (the last one shorter).
inline std::vector<CImg> Bands(const CImg& page, int32_t band) {
    std::vector<CImg> out;
    for (int32_t y = 0; y < page.info().lHeight; y += band)
        out.push_back(Slice(page, y, std::min(band, page.info().lHeight - y)));
    return out;
}

} // namespace geomtest
