#include "MakePage.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace Tvk::Imvra {

namespace {

// A scratch line; null when memory runs out.
std::unique_ptr<uint8_t[]> Scratch(int64_t bytes) {
    if (bytes <= 0) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
}

} // namespace

int CMakePage::setInfo(CImg&, void* info) {
    if (info == nullptr) return RTN_PAR;
    m_target = static_cast<const tagMAKEPAGEINFO*>(info)->lTarget;
    return RTN_OK;
}

int CMakePage::MakePage(CImg& img) {
    if (m_target == 0) return toPixelOrder(img);
    if (m_target == 1) return toLineOrder(img);
    if (m_target >= 3) return toJpegOrder(img);
    return RTN_UNSUPPORTED;
}

int CMakePage::toJpegOrder(CImg& img) {
    return img.info().ulRGBOrder < 3 ? RTN_UNSUPPORTED : RTN_OK;
}

int CMakePage::toPixelOrder(CImg& img) {
    tagIMAGEINFO& s = img.info();
    if (s.ulRGBOrder == 0) return RTN_OK;
    if (s.ulRGBOrder >= 3) return RTN_UNSUPPORTED;
    if (s.lSpp == 1) {
        s.ulRGBOrder = 0;
        return RTN_OK;
    }
    // Samples are moved byte by byte: only 8-bit colour.
    if (s.lSpp != 3 || s.lBps != 8 || s.lSync < s.lWidth) return RTN_UNSUPPORTED;
    const int64_t plane = s.lSync;
    const int64_t line = 3 * plane;
    if (line > INT32_MAX) return RTN_PAR;
    std::unique_ptr<uint8_t[]> scratch = Scratch(line);
    if (!scratch && line > 0) return RTN_MEM;
    for (int32_t y = 0; y < s.lHeight && s.lpImage != nullptr; ++y) {
        uint8_t* p = s.lpImage + y * line;
        std::memcpy(scratch.get(), p, static_cast<size_t>(line));
        const uint8_t* r = scratch.get();
        const uint8_t* g = r + plane;
        const uint8_t* b = g + plane;
        for (int32_t x = 0; x < s.lWidth; ++x) {
            p[3 * x] = r[x];
            p[3 * x + 1] = g[x];
            p[3 * x + 2] = b[x];
        }
    }
    s.lSync = static_cast<int32_t>(line);
    s.ulRGBOrder = 0;
    return RTN_OK;
}

int CMakePage::toLineOrder(CImg& img) {
    tagIMAGEINFO& s = img.info();
    if (s.ulRGBOrder == 1) return RTN_OK;
    if (s.ulRGBOrder >= 3) return RTN_UNSUPPORTED;
    if (s.lSpp == 1) {
        s.ulRGBOrder = 1;
        return RTN_OK;
    }
    const int64_t plane = s.lSync / 3;
    if (s.lSpp != 3 || s.lBps != 8 || plane < s.lWidth) return RTN_UNSUPPORTED;
    const int64_t line = 3 * plane;
    std::unique_ptr<uint8_t[]> scratch = Scratch(s.lSync);
    if (!scratch && s.lSync > 0) return RTN_MEM;
    // A line size that is no multiple of three shrinks to three planes; the
    // lines move up in order, each written no further than the old line's
    // start of the next.
    for (int32_t y = 0; y < s.lHeight && s.lpImage != nullptr; ++y) {
        std::memcpy(scratch.get(), s.lpImage + int64_t{y} * s.lSync, static_cast<size_t>(s.lSync));
        uint8_t* r = s.lpImage + y * line;
        uint8_t* g = r + plane;
        uint8_t* b = g + plane;
        const uint8_t* p = scratch.get();
        for (int32_t x = 0; x < s.lWidth; ++x, p += 3) {
            r[x] = p[0];
            g[x] = p[1];
            b[x] = p[2];
        }
    }
    s.lSync = static_cast<int32_t>(plane);
    s.ulRGBOrder = 1;
    s.tImageSize = static_cast<uint32_t>(CImg::calcSize(s.lSync, s.lHeight, 3, 1));
    return RTN_OK;
}

// ---------------------------------------------------------------------------
// Automatic size

tagAUTOSIZEINFO CAutoSize::FromRect(const tagKDRECT& rect) {
    return tagAUTOSIZEINFO{kAutoSizeInfoSize, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top};
}

int CAutoSize::setInfo(CImg& img, void* info) {
    if (info == nullptr) return RTN_OK;
    if (img.info().lBps == 1) return RTN_UNSUPPORTED;
    m_info = *static_cast<const tagAUTOSIZEINFO*>(info);
    return RTN_OK;
}

int CAutoSize::AutoSize(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    const int64_t x0 = m_info.lX < 1 ? 0 : m_info.lX;
    const int64_t y0 = m_info.lY < 1 ? 0 : m_info.lY;
    if (x0 > s.lWidth || y0 > s.lHeight) return RTN_PAR;
    const int64_t x1 = std::min<int64_t>(s.lWidth, x0 + m_info.lWidth);
    const int64_t y1 = std::min<int64_t>(s.lHeight, y0 + m_info.lHeight);
    if (x1 <= x0 || y1 <= y0) return RTN_PAR;
    CImg out;
    if (!out.createImg(static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0), s.lBps,
                       s.lSpp, s.ulRGBOrder, s.lXResolution, s.lYResolution))
        return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    // A planar line holds one stored row a sample; each is cut alike.
    const bool planar = s.ulRGBOrder == 1;
    const int32_t rows = planar ? s.lSpp : 1;
    const int64_t bits = planar ? s.lBps : int64_t{s.lBps} * s.lSpp;
    const int64_t first = (x0 * bits + 7) / 8;
    const tagIMAGEINFO& d = out.info();
    const int64_t bytes = std::min<int64_t>(std::min(s.lSync, d.lSync), s.lSync - first);
    if (bytes > 0) {
        for (int64_t y = y0; y < y1; ++y)
            for (int32_t k = 0; k < rows; ++k)
                std::memcpy(TvkLinePtr(d, y - y0) + int64_t{k} * d.lSync,
                            TvkLinePtr(s, y) + int64_t{k} * s.lSync + first,
                            static_cast<size_t>(bytes));
    }
    img.attachImg(out);
    return RTN_OK;
}

} // namespace Tvk::Imvra
