// Helpers shared by the tests of the binarisation kinds, the binary clean-up
// filters, edge emphasis and colour-gap correction: random band splits,
// random 1-bit pages, blank destinations and one whole-image call of a kind.
#pragma once

#include "CBFunc.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace bandtest {

// Band heights of 1 to maxBand lines, drawn from rng, that add up to total.
inline std::vector<int32_t> RandomBands(int32_t total, int32_t maxBand, std::mt19937& rng) {
    std::vector<int32_t> bands;
    while (total > 0) {
        const int32_t n = std::min<int32_t>(
            total, 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(maxBand)));
        bands.push_back(n);
        total -= n;
    }
    return bands;
}

// 1-bit image whose pixels are black with `density` percent.
inline kdtest::TestImage RandomBinary(int32_t w, int32_t h, uint32_t seed, int density) {
    kdtest::TestImage img = kdtest::TestImage::Binary(w, h);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) img.set(x, y, static_cast<int>(rng() % 100) < density);
    return img;
}

// A zeroed image of the size and layout of `like` (default line size).
inline kdtest::TestImage BlankLike(const kdtest::TestImage& like) {
    const tagTVKIMAGEINFO& i = *like.info();
    return kdtest::TestImage(i.lWidth, i.lHeight, i.lBps, i.lSpp, i.ulRGBOrder);
}

// Long binarisation record of a kind with its two slice levels.
inline tagBINFUNCINFO LongRecord(uint32_t kind, uint32_t first, uint32_t next) {
    tagBINFUNCINFO r{};
    r.size = kBinFuncInfoSizeLong;
    r.kind = kind;
    r.firstSlice = first;
    r.nextSlice = next;
    return r;
}
inline tagBINFUNCINFO LongRecord(uint32_t kind, uint32_t slice = 128) {
    return LongRecord(kind, slice, slice);
}

// Last-error word right after the last RunKind call (the release clears it).
inline uint32_t g_lastError = 0;

// One whole-image call of a kind on a fresh long record.
inline int32_t RunKind(uint32_t kind, kdtest::TestImage& dst, kdtest::TestImage& src,
                       uint32_t first, uint32_t next) {
    tagBINFUNCINFO r = LongRecord(kind, first, next);
    const int32_t result = BinalizeRectEx(dst.info(), src.info(), &r);
    g_lastError = IpGetLastError();
    ReleaseBinalizeHandle(&r);
    return result;
}
inline int32_t RunKind(uint32_t kind, kdtest::TestImage& dst, kdtest::TestImage& src,
                       uint32_t slice = 128) {
    return RunKind(kind, dst, src, slice, slice);
}

} // namespace bandtest
