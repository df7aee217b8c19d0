// Binarisation base, the fixed-threshold kind, the placeholder kinds and the
// exported handle interface of the binarisation family.
#include "CBFunc.h"

#include "BinThreshold.h"
#include "BitPack.h"
#include "CBFuncKinds.h"
#include "ImageCheck.h"
#include "TvkIpError.h"

#include <array>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Slice level for a brightness: 0..127 maps onto 35..132, 128..255 onto
// 132..245, rounded to nearest with halves going up.
constexpr std::array<int32_t, 256> MakeBr2Th() {
    std::array<int32_t, 256> t{};
    for (int b = 0; b < 128; ++b) t[b] = (35 * 128 + b * 97 + 64) / 128;
    for (int b = 128; b < 256; ++b) t[b] = (2 * (132 * 127 + (b - 128) * 113) + 127) / 254;
    return t;
}
constexpr std::array<int32_t, 256> br2th = MakeBr2Th();
static_assert(br2th[0] == 35 && br2th[64] == 84 && br2th[128] == 132 && br2th[200] == 196 &&
              br2th[254] == 244);

// The shared objects of kinds 0 to 6 used by the short request form and the
// line call. Index 7 stays null.
struct StaticBinObjects {
    static constexpr uint32_t kCount = 8;
    CBFunc* obj[kCount] = {};
    StaticBinObjects() {
        for (uint32_t k = kBinFixed; k <= kBinMebrin; ++k) obj[k] = NewBinalizeObject(k);
    }
    ~StaticBinObjects() {
        for (CBFunc*& p : obj) {
            delete p;
            p = nullptr;
        }
    }
    StaticBinObjects(const StaticBinObjects&) = delete;
    StaticBinObjects& operator=(const StaticBinObjects&) = delete;
};

StaticBinObjects& Statics() {
    static StaticBinObjects s;
    return s;
}

// Build the shared objects when the library loads.
[[maybe_unused]] const bool g_staticsBuilt = (Statics(), true);

CBFunc* StaticObject(uint32_t kind) {
    return kind <= kBinMebrin ? Statics().obj[kind] : nullptr;
}

bool UsableImage(const tagTVKIMAGEINFO* image) {
    return image != nullptr && image->lpImage != nullptr;
}

// A record whose `lines` lines of `width` pixels from line lYpos lie in its
// buffer (lYpos + lHeight lines of lSync bytes).
bool FitsFromYpos(const tagTVKIMAGEINFO& image, uint32_t accept, int64_t width, int64_t lines) {
    if (!TvkImageFits(&image, accept | kTvkFromYpos) || lines > image.lHeight) return false;
    tagTVKIMAGEINFO view = image;
    view.lWidth = Clamp32(width);
    return width <= INT32_MAX && TvkImageFits(&view, accept | kTvkFromYpos);
}

// The images a binarisation call reads and writes: `lines` source lines of
// 8 or 16 bits a sample from lYpos, into 1-bit destination lines that hold
// the source width (twice the width and twice the lines for double density).
bool UsableImages(const tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src, const CBFunc* obj,
                  int64_t lines) {
    if (!UsableImage(dst) || !UsableImage(src) || src->lWidth < 0 || lines < 0) return false;
    const int64_t f = dynamic_cast<const CBFuncDouble*>(obj) != nullptr ? 2 : 1;
    constexpr uint32_t sources = kTvkAnyLayout & ~kTvkBits1;
    return FitsFromYpos(*src, sources, src->lWidth, lines) &&
           FitsFromYpos(*dst, kTvkBits1, f * src->lWidth, f * lines);
}

// Failures inside a kind may travel as a thrown code; none leaves the export.
template <typename F> int32_t Guarded(F&& run) {
    try {
        return run();
    } catch (int code) {
        IpSetLastError(static_cast<uint32_t>(code));
    } catch (uint32_t code) {
        IpSetLastError(code);
    } catch (...) {
        IpSetLastError(kIpErrFailed);
    }
    return -1;
}

} // namespace

// ---------------------------------------------------------------------------
// Threshold kernels

void IntegrityThresholdLine(uint8_t* dst, const uint8_t* src, int32_t width, int32_t slice) {
    if (width <= 0) return;
    const int32_t whole = width >> 3;
    for (int32_t i = 0; i < whole; ++i, src += 8) {
        unsigned b = 0;
        for (int k = 0; k < 8; ++k) b = (b << 1) | static_cast<unsigned>(slice > src[k]);
        dst[i] = static_cast<uint8_t>(b);
    }
    const int32_t rest = width & 7;
    if (rest != 0) {
        unsigned b = 0;
        for (int k = 0; k < rest; ++k) b = (b << 1) | static_cast<unsigned>(slice > src[k]);
        b <<= 8 - rest;
        const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
        dst[whole] = static_cast<uint8_t>((dst[whole] & ~mask) | b);
    }
}

void SSE2ThresholdLine(uint8_t* dst, const uint8_t* src, int32_t width, int32_t slice) {
#if defined(__SSE2__)
    // Levels outside 1..255 make every pixel white or black; rare enough to
    // leave to the portable code.
    if (width <= 0 || slice <= 0 || slice > 255) {
        IntegrityThresholdLine(dst, src, width, slice);
        return;
    }
    // slice > v  <=>  v <= slice - 1  <=>  min(v, slice - 1) == v
    const __m128i limit = _mm_set1_epi8(static_cast<char>(slice - 1));
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        const __m128i black = _mm_cmpeq_epi8(_mm_min_epu8(v, limit), v);
        const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(black));
        BitPack::StoreMask16(dst + (x >> 3), m);
    }
    IntegrityThresholdLine(dst + (x >> 3), src + x, width - x, slice);
#else
    IntegrityThresholdLine(dst, src, width, slice);
#endif
}

void ThresholdLine(uint8_t* dst, const uint8_t* src, int32_t width, int32_t slice) {
    if (IsSSE2FeatureAvailable())
        SSE2ThresholdLine(dst, src, width, slice);
    else
        IntegrityThresholdLine(dst, src, width, slice);
}

// ---------------------------------------------------------------------------
// CBFunc

void CBFunc::SetDst(tagTVKIMAGEINFO* dst) {
    // The start line steps over all sample planes (not lSync x lSpp), which
    // keeps it right for interleaved colour too.
    m_pDst = TvkLinePtr(*dst, dst->lYpos);
    m_lDstSync = dst->lSync;
}

void CBFunc::SetSrc(tagTVKIMAGEINFO* src) {
    m_pSrc = TvkLinePtr(*src, src->lYpos);
    m_lWidth = src->lWidth;
    m_lHeight = src->lHeight;
    m_lSrcSync = src->lSync;
    m_ulRGBOrder = src->ulRGBOrder;
    m_lXResolution = src->lXResolution;
    m_lYResolution = src->lYResolution;
}

void CBFunc::SetSlice(tagBINFUNCINFO* info) {
    m_lSlice = static_cast<int32_t>(m_lLine != 0 ? info->nextSlice : info->firstSlice);
}

void CBFunc::SetBInfo(tagBINFUNCINFO* info) {
    m_lLine = static_cast<int32_t>(info->lineCount);
    SetSlice(info);
    m_lFirstSlice = static_cast<int32_t>(info->firstSlice);
    m_lNextSlice = static_cast<int32_t>(info->nextSlice);
}

int CBFunc::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    SetDst(dst);
    SetSrc(src);
    SetBInfo(info);
    return 1;
}

void CBFunc::WriteBack(tagBINFUNCINFO* info) const {
    info->nextSlice = static_cast<uint32_t>(m_lSlice);
    info->lineCount = static_cast<uint32_t>(m_lLine);
}

int CBFunc::Rect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    if (Start(dst, src, info) == 0) return 0;
    Rect();
    WriteBack(info);
    return m_lLine;
}

int CBFunc::Line(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    SetDst(dst);
    SetSrc(src);
    Line();
    WriteBack(info);
    return m_lLine;
}

void CBFunc::Rect() {
    for (int32_t n = m_lHeight; n > 0; --n) Line();
}

void CBFunc::ClearDstBits() {
    if (m_lWidth <= 0) return;
    const int32_t whole = m_lWidth >> 3;
    for (int32_t i = 0; i < whole; ++i) m_pDst[i] = 0;
    const int32_t rest = m_lWidth & 7;
    if (rest != 0) m_pDst[whole] &= static_cast<uint8_t>(0xFFu >> rest);
}

void CBFunc::Line() {
    // Writing every bit of the width also clears what was there before.
    ThresholdLine(m_pDst, m_pSrc, m_lWidth, m_lSlice);
    NextLine();
}

int CBFuncASC::Start(tagTVKIMAGEINFO*, tagTVKIMAGEINFO*, tagBINFUNCINFO*) {
    return 0;
}
int CBFuncLineAE::Start(tagTVKIMAGEINFO*, tagTVKIMAGEINFO*, tagBINFUNCINFO*) {
    return 0;
}

// ---------------------------------------------------------------------------
// Exports

CBFunc* const* BFunc() {
    return Statics().obj;
}

void* CreateBinalizeHandle(tagBINFUNCINFO* info) {
    IpSetLastError(0);
    // A short record has no handle word to fill.
    if (info == nullptr || info->size < kBinFuncInfoSizeLong) return nullptr;
    if (info->handle == nullptr) info->handle = NewBinalizeObject(info->kind);
    return info->handle;
}

int32_t BinalizeRectEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return -1;
    return Guarded([&]() -> int32_t {
        if (info->size == kBinFuncInfoSizeLong) {
            if (CreateBinalizeHandle(info) == nullptr) return -1;
            auto* obj = static_cast<CBFunc*>(info->handle);
            if (!UsableImages(dst, src, obj, src == nullptr ? 0 : src->lHeight)) return -1;
            obj->Rect(dst, src, info);
            return 0;
        }
        if (info->size == kBinFuncInfoSizeShort) {
            if (dst == nullptr && src == nullptr) {
                info->kind = kBinFixed;
                info->firstSlice = 128;
                info->nextSlice = 128;
                info->lineCount = 0;
                return 0;
            }
            // One image without the other cannot be binarised.
            CBFunc* obj = StaticObject(info->kind);
            if (obj == nullptr || !UsableImages(dst, src, obj, src == nullptr ? 0 : src->lHeight))
                return -1;
            obj->Rect(dst, src, info);
            return 0;
        }
        return -1;
    });
}

int32_t BinalizeLineEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->size < kBinFuncInfoSizeLong) return -1;
    CBFunc* obj = StaticObject(info->kind);
    if (obj == nullptr || !UsableImages(dst, src, obj, 1)) return -1;
    return Guarded([&]() -> int32_t {
        obj->Line(dst, src, info);
        return 0;
    });
}

void ReleaseBinalizeHandle(tagBINFUNCINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->size < kBinFuncInfoSizeLong) return;
    delete static_cast<CBFunc*>(info->handle);
    info->handle = nullptr;
}

int32_t BrightnessToSlicelevel(uint32_t brightness) {
    IpSetLastError(0);
    return brightness < 255 ? br2th[brightness] : -1;
}
