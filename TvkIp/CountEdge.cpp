// Edge counting on packed 1-bit work images: XOR of a page with itself
// shifted by one row or one pixel, cleared outside the frame, then counted.
#include "CountEdge.h"

#include "CBFunc.h"
#include "ExtractRGBElementFromColor.h"
#include "ImageCheck.h"
#include "TvkIpError.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace CountEdgeFunc {

const uint8_t bBitOffMask[8] = {0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
const uint8_t bBitOffReverse[8] = {0xFF, 0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80};

namespace {

constexpr int32_t kBadArgument = -1;
constexpr int32_t kNoMemory = 8;

// The frame cut to the image: columns [left, right), rows [top, bottom).
struct Frame {
    int64_t left, top, right, bottom;
};
Frame ClampedFrame(const tagTVKIMAGEINFO* image, const tagCOUNT_EDGE_INFO* info) {
    const auto clamp = [](int64_t v, int64_t hi) { return std::clamp<int64_t>(v, 0, hi); };
    return Frame{clamp(info->lLeft, image->lWidth), clamp(info->lTop, image->lHeight),
                 clamp(info->lRight, image->lWidth), clamp(info->lBottom, image->lHeight)};
}

// Clears the bits of every line beyond the width, so line padding never
// looks like pixels.
void ClearPadding(tagTVKIMAGEINFO* image) {
    const int64_t w = image->lWidth;
    const int64_t sync = image->lSync;
    const int64_t full = w >> 3;
    for (int64_t y = 0; y < image->lHeight; ++y) {
        uint8_t* p = TvkLinePtr(*image, y);
        int64_t from = full;
        if ((w & 7) != 0) {
            p[full] &= static_cast<uint8_t>(0xFF00u >> (w & 7));
            from = full + 1;
        }
        if (from < sync) std::memset(p + from, 0, static_cast<size_t>(sync - from));
    }
}

// A new, zero-filled 1-bit image with lines padded to whole 32-bit words.
void NewBits(CImageInfoPtr& dst, int32_t width, int32_t height, int32_t xres, int32_t yres,
             int32_t code) {
    if (!dst.CreateImage(width, TvkDefaultSync(width, 1), height, 1, 1, xres, yres)) {
        throw CExcp(code);
    }
}

} // namespace

uint32_t numofbit32(uint32_t v) {
    v = (v & 0x55555555u) + ((v >> 1) & 0x55555555u);
    v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
    v = (v & 0x0F0F0F0Fu) + ((v >> 4) & 0x0F0F0F0Fu);
    v = (v & 0x00FF00FFu) + ((v >> 8) & 0x00FF00FFu);
    return (v & 0xFFFFu) + (v >> 16);
}

int32_t CountBit(const tagTVKIMAGEINFO* image) {
    int64_t n = 0;
    const int64_t words = image->lSync / 4;
    for (int64_t y = 0; y < image->lHeight; ++y) {
        const uint8_t* p = TvkLinePtr(*image, y);
        for (int64_t k = 0; k < words; ++k) {
            uint32_t w;
            std::memcpy(&w, p + 4 * k, 4);
            n += numofbit32(w);
        }
    }
    return static_cast<int32_t>(n);
}

void FillIgnoreAreaBitOff(tagTVKIMAGEINFO* image, const tagCOUNT_EDGE_INFO* info) {
    if (image == nullptr || image->lpImage == nullptr) throw CExcp(kBadArgument);
    const Frame f = ClampedFrame(image, info);
    const int64_t sync = image->lSync;
    for (int64_t y = 0; y < image->lHeight; ++y) {
        uint8_t* p = TvkLinePtr(*image, y);
        if (y < f.top || y >= f.bottom) {
            std::memset(p, 0, static_cast<size_t>(sync));
            continue;
        }
        // Before the left column.
        std::memset(p, 0, static_cast<size_t>(f.left >> 3));
        if ((f.left & 7) != 0) p[f.left >> 3] &= bBitOffMask[f.left & 7];
        // From the right column to the end of the line.
        const int64_t k = 8 * sync - f.right;
        std::memset(p + sync - (k >> 3), 0, static_cast<size_t>(k >> 3));
        if ((k & 7) != 0) p[sync - (k >> 3) - 1] &= bBitOffReverse[k & 7];
    }
}

void CreateEdgeImage_Y_Normal(tagTVKIMAGEINFO* work, const tagTVKIMAGEINFO* bits) {
    const int64_t sync = bits->lSync;
    for (int64_t y = 0; y + 1 < bits->lHeight; ++y) {
        const uint8_t* a = TvkLinePtr(*bits, y);
        const uint8_t* b = TvkLinePtr(*bits, y + 1);
        uint8_t* w = TvkLinePtr(*work, y);
        for (int64_t i = 0; i < sync; ++i) w[i] = static_cast<uint8_t>(a[i] ^ b[i]);
    }
    if (bits->lHeight > 0)
        std::memset(TvkLinePtr(*work, bits->lHeight - 1), 0, static_cast<size_t>(sync));
}

void GetX1BitShiftImage(tagTVKIMAGEINFO* work, const tagTVKIMAGEINFO* bits) {
    const int64_t sync = bits->lSync;
    const int64_t w = bits->lWidth;
    for (int64_t y = 0; y < bits->lHeight; ++y) {
        const uint8_t* s = TvkLinePtr(*bits, y);
        uint8_t* d = TvkLinePtr(*work, y);
        for (int64_t i = 0; i + 1 < sync; ++i) {
            d[i] = static_cast<uint8_t>((s[i] << 1) | (s[i + 1] >> 7));
        }
        if (sync > 0) d[sync - 1] = static_cast<uint8_t>(s[sync - 1] << 1);
        // The last pixel compares with itself: no transition at the border.
        if (w > 1) {
            const int64_t a = w - 2;
            if (d[a >> 3] & (0x80 >> (a & 7))) d[(w - 1) >> 3] |= 0x80 >> ((w - 1) & 7);
        }
    }
}

void CreateEdgeImage_X_Normal(tagTVKIMAGEINFO* work, const tagTVKIMAGEINFO* bits) {
    const int64_t sync = bits->lSync;
    for (int64_t y = 0; y < bits->lHeight; ++y) {
        const uint8_t* s = TvkLinePtr(*bits, y);
        uint8_t* d = TvkLinePtr(*work, y);
        int64_t i = 0;
        for (; i + 4 <= sync; i += 4) {
            uint32_t a, b;
            std::memcpy(&a, d + i, 4);
            std::memcpy(&b, s + i, 4);
            a ^= b;
            std::memcpy(d + i, &a, 4);
        }
        for (; i < sync; ++i) d[i] ^= s[i];
    }
}

int32_t GetYEdge_Normal(tagTVKIMAGEINFO* work, tagTVKIMAGEINFO* bits,
                        const tagCOUNT_EDGE_INFO* info) {
    CreateEdgeImage_Y_Normal(work, bits);
    FillIgnoreAreaBitOff(work, info);
    return CountBit(work);
}

int32_t GetXEdge_Normal(tagTVKIMAGEINFO* work, tagTVKIMAGEINFO* bits,
                        const tagCOUNT_EDGE_INFO* info) {
    std::memset(work->lpImage, 0, work->tImageSize);
    GetX1BitShiftImage(work, bits);
    FillIgnoreAreaBitOff(bits, info);
    FillIgnoreAreaBitOff(work, info);
    CreateEdgeImage_X_Normal(work, bits);
    return CountBit(work);
}

void EdgeCountCore_Normal(tagTVKIMAGEINFO* bits, tagCOUNT_EDGE_INFO* info) {
    CImageInfoPtr work;
    if (!work.CreateImage(bits->lWidth, bits->lSync, bits->lHeight, bits->lBps, bits->lSpp,
                          bits->lXResolution, bits->lYResolution) ||
        work.Info()->tImageSize < static_cast<uint64_t>(bits->lSync) * bits->lHeight) {
        throw CExcp(kBadArgument);
    }
    info->lEdgeY = GetYEdge_Normal(work.Info(), bits, info);
    info->lEdgeX = GetXEdge_Normal(work.Info(), bits, info);
}

void EdgeCountCore(tagTVKIMAGEINFO* bits, tagCOUNT_EDGE_INFO* info) {
    EdgeCountCore_Normal(bits, info);
}

void Binarize(CImageInfoPtr& dst, tagTVKIMAGEINFO* src, const tagCOUNT_EDGE_INFO* info) {
    NewBits(dst, src->lWidth, src->lHeight, src->lXResolution, src->lYResolution, kNoMemory);
    tagBINFUNCINFO req{};
    req.size = kBinFuncInfoSizeLong;
    req.kind = static_cast<uint32_t>(info->lBinMode);
    req.firstSlice = static_cast<uint32_t>(info->lBinParam1);
    req.nextSlice = static_cast<uint32_t>(info->lBinParam2);
    tagTVKIMAGEINFO whole = TvkWholeImage(*src);
    const int32_t rc = BinalizeRectEx(dst.Info(), &whole, &req);
    ReleaseBinalizeHandle(&req);
    // A mode that binarises nothing would count no edges and make any page
    // look blank: report it instead.
    if (rc != 0) throw CExcp(kBadArgument);
    ClearPadding(dst.Info());
}

void Binarize(CImageInfoPtr& dst, const CImageInfoPtr& src, const tagCOUNT_EDGE_INFO* info) {
    if (src.IsEmpty()) throw CExcp(kBadArgument);
    Binarize(dst, src.Info(), info);
}

void BinaryEdgeCountProcess(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info) {
    CImageInfoPtr copy;
    NewBits(copy, image->lWidth, image->lHeight, image->lXResolution, image->lYResolution,
            kBadArgument);
    tagTVKIMAGEINFO* c = copy.Info();
    const size_t n = static_cast<size_t>(std::min<int64_t>(image->lSync, c->lSync));
    for (int64_t y = 0; y < image->lHeight; ++y) {
        std::memcpy(TvkLinePtr(*c, y), TvkLinePtr(*image, y), n);
    }
    ClearPadding(c);
    EdgeCountCore(c, info);
}

void GrayEdgeCountProcess(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info) {
    CImageInfoPtr bits;
    Binarize(bits, image, info);
    EdgeCountCore(bits.Info(), info);
}

void Color_2_GrayProcess(tagTVKIMAGEINFO* gray, tagTVKIMAGEINFO* colour, int channel) {
    if (colour->ulRGBOrder == 1) {
        // Planar: the channel is a plane of each line.
        const int64_t plane = colour->lSync;
        for (int64_t y = 0; y < colour->lHeight; ++y) {
            std::memcpy(gray->lpImage + y * gray->lSync,
                        colour->lpImage + y * 3 * plane + channel * plane,
                        static_cast<size_t>(colour->lWidth));
        }
        return;
    }
    CExtractRGBElementFromColor extract;
    extract.Rect(gray, colour, channel);
}

void ColorEdgeCountProcess(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info) {
    CImageInfoPtr gray;
    if (!gray.CreateImage(image->lWidth, TvkDefaultSync(image->lWidth, 8), image->lHeight, 8, 1,
                          image->lXResolution, image->lYResolution)) {
        throw CExcp(kNoMemory);
    }
    uint32_t sumX = 0;
    uint32_t sumY = 0;
    for (int channel : {0, 2, 1}) {
        tagCOUNT_EDGE_INFO one = *info;
        Color_2_GrayProcess(gray.Info(), image, channel);
        GrayEdgeCountProcess(gray.Info(), &one);
        sumX += static_cast<uint32_t>(one.lEdgeX);
        sumY += static_cast<uint32_t>(one.lEdgeY);
    }
    const uint32_t spp = static_cast<uint32_t>(image->lSpp);
    info->lEdgeX = static_cast<int32_t>(sumX / spp);
    info->lEdgeY = static_cast<int32_t>(sumY / spp);
}

void CountEdgeCore(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info) {
    if (image == nullptr || image->lpImage == nullptr) throw CExcp(kBadArgument);
    const int64_t bits = int64_t{image->lBps} * image->lSpp;
    if ((bits == 1 || bits == 8 || bits == 24) &&
        !TvkImageFits(image, kTvkBits1 | kTvkGray8 | kTvkRgb24Any)) {
        throw CExcp(kBadArgument);
    }
    switch (bits) {
    case 1:
        BinaryEdgeCountProcess(image, info);
        break;
    case 8:
        GrayEdgeCountProcess(image, info);
        break;
    case 24:
        ColorEdgeCountProcess(image, info);
        break;
    default:
        break; // nothing counted; the counts go back as given
    }
}

int32_t _CountEdge(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info) {
    IpSetLastError(0);
    try {
        if (info == nullptr || info->ulSize < kCountEdgeInfoSize) throw CExcp(kBadArgument);
        tagCOUNT_EDGE_INFO work{};
        std::memcpy(&work, info, kCountEdgeInfoSize);
        CountEdgeCore(image, &work);
        info->lEdgeX = work.lEdgeX;
        info->lEdgeY = work.lEdgeY;
        return 0;
    } catch (const CExcp& e) {
        IpSetLastError(static_cast<uint32_t>(e.m_lCode));
    } catch (...) {
    }
    return -1;
}

} // namespace CountEdgeFunc

int32_t CountEdge(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info) {
    return CountEdgeFunc::_CountEdge(image, info);
}
