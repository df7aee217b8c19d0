// Working images of the detection and deskew steps: one-sample records over
// buffers of their own.
#pragma once

#include "CImgInf.h"

#include <cstdint>
#include <new>

// A `width` x `height` one-sample record of `bps` bits per sample (8 or 1)
// over a new zeroed buffer (new[], owned by the caller), with `like`'s
// resolutions; lines are `sync` bytes, or the width's bytes when 0. False,
// with `out` untouched, when the size is unusable or memory runs out.
inline bool MakeWorkImage(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& like, int32_t width,
                          int32_t height, int32_t bps = 8, int32_t sync = 0) {
    if (width <= 0 || height <= 0) return false;
    if (sync == 0) sync = bps == 1 ? (width + 7) / 8 : width;
    const int64_t size = int64_t{sync} * height;
    if (sync <= 0 || size > int64_t{UINT32_MAX}) return false;
    auto* buf = new (std::nothrow) uint8_t[static_cast<size_t>(size)]();
    if (buf == nullptr) return false;
    out = like;
    out.size = kTvkImageInfoSize;
    out.lpImage = buf;
    out.lXpos = 0;
    out.lYpos = 0;
    out.lWidth = width;
    out.lHeight = height;
    out.lSync = sync;
    out.tImageSize = static_cast<uint32_t>(size);
    out.lBps = bps;
    out.lSpp = 1;
    out.ulRGBOrder = 1;
    return true;
}
