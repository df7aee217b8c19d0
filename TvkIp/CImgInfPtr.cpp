#include "CImgInfPtr.h"

#include "BitPack.h"
#include "TvkIpError.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void Store64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, sizeof v);
}

// Transposes an 8 x 8 byte matrix held as eight little-endian rows (byte c of
// row r is element (r, c)). Each stage swaps one level of sub-blocks.
inline void TransposeBytes8x8(uint64_t r[8]) {
    for (int i = 0; i < 8; i += 2) {
        const uint64_t t = ((r[i] >> 8) ^ r[i + 1]) & 0x00FF00FF00FF00FFull;
        r[i + 1] ^= t;
        r[i] ^= t << 8;
    }
    for (int i : {0, 1, 4, 5}) {
        const uint64_t t = ((r[i] >> 16) ^ r[i + 2]) & 0x0000FFFF0000FFFFull;
        r[i + 2] ^= t;
        r[i] ^= t << 16;
    }
    for (int i = 0; i < 4; ++i) {
        const uint64_t t = ((r[i] >> 32) ^ r[i + 4]) & 0x00000000FFFFFFFFull;
        r[i + 4] ^= t;
        r[i] ^= t << 32;
    }
}

// Transposes an 8 x 8 bit matrix: row m is the byte at bits 56 - 8m, column k
// the bit of mask 0x80 >> k. Afterwards byte k holds the former column k.
inline uint64_t TransposeBits8x8(uint64_t x) {
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

// The byte rotations read a strip of source columns down the image and
// transpose it into an aligned scratch block of whole cache lines, which is
// then copied out as contiguous runs: destination lines are only 4-byte
// aligned, and scattered 16-byte stores into them are several times slower.
constexpr int64_t kStrip = 512; // source columns = destination lines per pass
constexpr int64_t kChunk = 32;  // destination bytes per line per pass

#if defined(__SSE2__)
// Transposes a 16 x 16 byte matrix in registers: r[m] is row m on entry and
// column m on return.
inline void TransposeBytes16x16(__m128i r[16]) {
    __m128i a[16];
    for (int i = 0; i < 8; ++i) {
        a[i] = _mm_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        a[i + 8] = _mm_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    // a[i]: columns 0-7 of rows 2i, 2i+1; a[i + 8]: columns 8-15.
    __m128i b[16];
    for (int h = 0; h < 2; ++h) {
        for (int i = 0; i < 4; ++i) {
            b[8 * h + i] = _mm_unpacklo_epi16(a[8 * h + 2 * i], a[8 * h + 2 * i + 1]);
            b[8 * h + i + 4] = _mm_unpackhi_epi16(a[8 * h + 2 * i], a[8 * h + 2 * i + 1]);
        }
    }
    // b[4g + q]: columns 4g..4g+3 of rows 4q..4q+3.
    for (int g = 0; g < 4; ++g) {
        const __m128i c0 = _mm_unpacklo_epi32(b[4 * g], b[4 * g + 1]);
        const __m128i c1 = _mm_unpackhi_epi32(b[4 * g], b[4 * g + 1]);
        const __m128i c2 = _mm_unpacklo_epi32(b[4 * g + 2], b[4 * g + 3]);
        const __m128i c3 = _mm_unpackhi_epi32(b[4 * g + 2], b[4 * g + 3]);
        r[4 * g] = _mm_unpacklo_epi64(c0, c2);
        r[4 * g + 1] = _mm_unpackhi_epi64(c0, c2);
        r[4 * g + 2] = _mm_unpacklo_epi64(c1, c3);
        r[4 * g + 3] = _mm_unpackhi_epi64(c1, c3);
    }
}
#endif

// Transposes a block of `n` x `n` bytes: row m of the source block (lines
// `sStep` apart) becomes column m of the destination block.
template <int n>
inline void TransposeBlock(uint8_t* d, int64_t dStep, const uint8_t* s, int64_t sStep) {
    if constexpr (n == 16) {
#if defined(__SSE2__)
        __m128i r[16];
        for (int m = 0; m < 16; ++m) {
            r[m] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + m * sStep));
        }
        TransposeBytes16x16(r);
        for (int k = 0; k < 16; ++k) {
            _mm_store_si128(reinterpret_cast<__m128i*>(d + k * dStep), r[k]);
        }
#endif
    } else {
        uint64_t r[8];
        for (int m = 0; m < 8; ++m) {
            r[m] = Load64(s + m * sStep);
        }
        TransposeBytes8x8(r);
        for (int k = 0; k < 8; ++k) {
            Store64(d + k * dStep, r[k]);
        }
    }
}

// One 8-bit plane turned a quarter: clockwise dst(i, j) = src(j, h - 1 - i),
// anticlockwise dst(i, j) = src(w - 1 - j, i). Whole blocks are transposed in
// registers, tile by tile so that both sides stay in cache; the edges that do
// not fill a block go pixel by pixel.
template <int n>
void RotatePlane8Blocks(uint8_t* dst, int64_t dstStep, const uint8_t* src, int64_t srcStep,
                        int64_t w, int64_t h, bool clockwise) {
    const int64_t hb = h / n * n;
    const int64_t wb = w / n * n;
    alignas(64) uint8_t scratch[kStrip][kChunk];
    for (int64_t tx = 0; tx < wb; tx += kStrip) {
        const int64_t xe = std::min(tx + kStrip, wb);
        for (int64_t c0 = 0; c0 < hb; c0 += kChunk) {
            const int64_t ce = std::min(c0 + kChunk, hb);
            // Scratch line r holds destination columns c0..ce of source column
            // tx + r; destination column i comes from source line h - 1 - i
            // (clockwise) or line i (anticlockwise).
            for (int64_t i0 = c0; i0 < ce; i0 += n) {
                const int64_t y = clockwise ? h - 1 - i0 : i0;
                const int64_t sStep = clockwise ? -srcStep : srcStep;
                for (int64_t x0 = tx; x0 < xe; x0 += n) {
                    TransposeBlock<n>(&scratch[x0 - tx][i0 - c0], kChunk, src + y * srcStep + x0,
                                      sStep);
                }
            }
            for (int64_t r = 0; r < xe - tx; ++r) {
                const int64_t line = clockwise ? tx + r : w - 1 - tx - r;
                std::memcpy(dst + line * dstStep + c0, scratch[r], static_cast<size_t>(ce - c0));
            }
        }
    }
    auto pixel = [&](int64_t i, int64_t j) {
        dst[j * dstStep + i] =
            clockwise ? src[(h - 1 - i) * srcStep + j] : src[i * srcStep + (w - 1 - j)];
    };
    for (int64_t j = 0; j < w; ++j) {
        for (int64_t i = hb; i < h; ++i) {
            pixel(i, j);
        }
    }
    for (int64_t j = clockwise ? wb : 0; j < (clockwise ? w : w - wb); ++j) {
        for (int64_t i = 0; i < hb; ++i) {
            pixel(i, j);
        }
    }
}

void RotatePlane8(uint8_t* dst, int64_t dstStep, const uint8_t* src, int64_t srcStep, int64_t w,
                  int64_t h, bool clockwise) {
#if defined(__SSE2__)
    if (IsSSE2FeatureAvailable()) {
        RotatePlane8Blocks<16>(dst, dstStep, src, srcStep, w, h, clockwise);
        return;
    }
#endif
    RotatePlane8Blocks<8>(dst, dstStep, src, srcStep, w, h, clockwise);
}

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, sizeof v);
}

// Interleaved three-byte pixels turned a quarter, through a scratch block
// like the 8-bit planes: source lines are read in runs and destination lines
// written in runs.
void RotatePlane24(uint8_t* dst, int64_t dstStep, const uint8_t* src, int64_t srcStep, int64_t w,
                   int64_t h, bool clockwise) {
    constexpr int64_t strip = 64; // source pixels per line per pass
    constexpr int64_t chunk = 64; // destination pixels per line per pass
    alignas(64) uint8_t scratch[strip][3 * chunk];
    // A 4-byte read of a line's last pixel may only run into padding.
    const bool lastPixelWide = 3 * w + 1 <= srcStep;
    for (int64_t tx = 0; tx < w; tx += strip) {
        const int64_t n = std::min(strip, w - tx);
        const int64_t wide = (tx + n == w && !lastPixelWide) ? n - 1 : n;
        for (int64_t c0 = 0; c0 < h; c0 += chunk) {
            const int64_t ce = std::min(c0 + chunk, h);
            const int64_t step = clockwise ? -srcStep : srcStep;
            int64_t i = c0;
            // Four source lines at a time: four pixels make three words.
            for (; i + 4 <= ce; i += 4) {
                const int64_t y = clockwise ? h - 1 - i : i;
                const uint8_t* s = src + y * srcStep + 3 * tx;
                const int64_t col = 3 * (i - c0);
                for (int64_t x = 0; x < wide; ++x) {
                    const uint32_t p0 = Load32(s + 3 * x);
                    const uint32_t p1 = Load32(s + step + 3 * x);
                    const uint32_t p2 = Load32(s + 2 * step + 3 * x);
                    const uint32_t p3 = Load32(s + 3 * step + 3 * x);
                    uint8_t* d = &scratch[x][col];
                    Store32(d, (p0 & 0xFFFFFFu) | p1 << 24);
                    Store32(d + 4, ((p1 >> 8) & 0xFFFFu) | p2 << 16);
                    Store32(d + 8, ((p2 >> 16) & 0xFFu) | p3 << 8);
                }
                for (int64_t x = wide; x < n; ++x) {
                    for (int k = 0; k < 4; ++k) {
                        std::memcpy(&scratch[x][col + 3 * k], s + k * step + 3 * x, 3);
                    }
                }
            }
            for (; i < ce; ++i) {
                const int64_t y = clockwise ? h - 1 - i : i;
                const uint8_t* s = src + y * srcStep + 3 * tx;
                const int64_t col = 3 * (i - c0);
                for (int64_t x = 0; x < n; ++x) {
                    std::memcpy(&scratch[x][col], s + 3 * x, 3);
                }
            }
            for (int64_t r = 0; r < n; ++r) {
                const int64_t line = clockwise ? tx + r : w - 1 - tx - r;
                std::memcpy(dst + line * dstStep + 3 * c0, scratch[r],
                            static_cast<size_t>(3 * (ce - c0)));
            }
        }
    }
}

// A 1-bit image turned a quarter. The destination must have at least
// ceil(w / 8) * 8 lines of ceil(h / 8) bytes, zeroed; source bits beyond the
// width are ignored.
void RotatePlane1(uint8_t* dst, int64_t dstStep, const uint8_t* src, int64_t srcStep, int64_t w,
                  int64_t h, bool clockwise) {
    const int64_t srcBytes = (w + 7) / 8;
    const int64_t dstBytes = (h + 7) / 8;
    const uint8_t lastMask = static_cast<uint8_t>(0xFF00u >> (((w - 1) & 7) + 1));
    for (int64_t b = 0; b < dstBytes; ++b) {
        // The eight source lines of destination byte column b (null: none).
        const uint8_t* rows[8];
        for (int m = 0; m < 8; ++m) {
            const int64_t y = clockwise ? h - 1 - 8 * b - m : 8 * b + m;
            rows[m] = (y >= 0 && y < h) ? src + y * srcStep : nullptr;
        }
        const bool full = rows[7] != nullptr;
        for (int64_t bx = 0; bx < srcBytes; ++bx) {
            uint64_t x = 0;
            if (full) {
                for (int m = 0; m < 8; ++m) {
                    x |= uint64_t{rows[m][bx]} << (56 - 8 * m);
                }
            } else {
                for (int m = 0; m < 8; ++m) {
                    if (rows[m] != nullptr) {
                        x |= uint64_t{rows[m][bx]} << (56 - 8 * m);
                    }
                }
            }
            if (bx == srcBytes - 1) {
                x &= 0x0101010101010101ull * lastMask;
            }
            if (x == 0) {
                continue; // the destination is already zero
            }
            x = TransposeBits8x8(x);
            for (int k = 0; k < 8; ++k) {
                const int64_t col = 8 * bx + k;
                if (col >= w) {
                    break;
                }
                const int64_t line = clockwise ? col : w - 1 - col;
                dst[line * dstStep + b] = static_cast<uint8_t>(x >> (56 - 8 * k));
            }
        }
    }
}

// Turns src a quarter clockwise or anticlockwise into dst, made by the caller
// with the turned geometry and the same layout.
void RotateImage(CImageInfo& dst, const CImageInfo& src, bool clockwise) {
    const tagTVKIMAGEINFO* s = src.Info();
    const tagTVKIMAGEINFO* d = dst.Info();
    if (s == nullptr || d == nullptr || s->lpImage == nullptr || d->lpImage == nullptr) {
        return;
    }
    const int64_t w = s->lWidth;
    const int64_t h = s->lHeight;
    const int64_t ss = s->lSync;
    const int64_t ds = d->lSync;
    const int32_t bits = src.BitCount();
    if (bits == 1) {
        RotatePlane1(d->lpImage, ds, s->lpImage, ss, w, h, clockwise);
    } else if (bits == 8) {
        RotatePlane8(d->lpImage, ds, s->lpImage, ss, w, h, clockwise);
    } else if (bits == 24 && s->ulRGBOrder == 1 && d->ulRGBOrder == 1) {
        // Each sample plane turns like a gray image.
        for (int k = 0; k < 3; ++k) {
            RotatePlane8(d->lpImage + k * ds, 3 * ds, s->lpImage + k * ss, 3 * ss, w, h, clockwise);
        }
    } else if (bits == 24 && s->ulRGBOrder == 0 && d->ulRGBOrder == 0) {
        RotatePlane24(d->lpImage, ds, s->lpImage, ss, w, h, clockwise);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// CImageInfoPtr

CImageInfoPtr::~CImageInfoPtr() {
    delete m_pImg;
}

void CImageInfoPtr::Attach(CImageInfo* img) {
    if (img != m_pImg) {
        delete m_pImg;
        m_pImg = img;
    }
}

CImageInfo* CImageInfoPtr::Detach() {
    CImageInfo* img = m_pImg;
    m_pImg = nullptr;
    return img;
}

void CImageInfoPtr::ReleaseImage() {
    delete m_pImg;
    m_pImg = nullptr;
}

bool CImageInfoPtr::CreateImage(int32_t width, int32_t sync, int32_t height, int32_t bps,
                                int32_t spp, int32_t xres, int32_t yres) {
    auto* img = new (std::nothrow) CImageInfo(width, sync, height, bps, spp, spp == 3 ? 0u : 1u);
    if (img == nullptr || img->Info() == nullptr || img->GetPtr() == nullptr) {
        delete img;
        return false;
    }
    img->SetResolution(xres, yres);
    Attach(img);
    return true;
}

namespace {
// Quarter turn of an owned image into a new one; false (image kept) for an
// unsupported layout or when the new image cannot be made.
bool TurnQuarter(CImageInfoPtr& ptr, bool clockwise) {
    const CImageInfo* img = ptr.GetImage();
    if (img == nullptr || img->Info() == nullptr || img->GetPtr() == nullptr) {
        return false;
    }
    const int64_t w = img->Width();
    const int64_t h = img->Height();
    const int32_t bps = img->Bps();
    const int32_t spp = img->Spp();
    const bool planar = spp == 3 && img->RGBOrder() == 1;
    const bool supported = (bps == 1 && spp == 1) || (bps == 8 && spp == 1) ||
                           (bps == 8 && spp == 3 && img->RGBOrder() <= 1);
    if (!supported || w < 0 || h < 0) {
        return false;
    }
    // A planar image stays planar: its line size counts one sample plane.
    const int64_t lineBits = planar ? h * bps : h * bps * spp;
    const int64_t sync = ((lineBits + 31) & ~int64_t{31}) / 8;
    const int64_t height = (w + 7) & ~int64_t{7};
    const int64_t size = sync * height * (planar ? 3 : 1);
    if (sync > INT32_MAX || height > INT32_MAX || size > int64_t{UINT32_MAX}) {
        return false;
    }
    CImageInfoPtr turned;
    if (planar) {
        auto* n = new (std::nothrow) CImageInfo(static_cast<int32_t>(h), static_cast<int32_t>(sync),
                                                static_cast<int32_t>(height), bps, spp, 1u);
        if (n == nullptr || n->Info() == nullptr || n->GetPtr() == nullptr) {
            delete n;
            return false;
        }
        n->SetResolution(img->YResolution(), img->XResolution());
        turned.Attach(n);
    } else if (!turned.CreateImage(static_cast<int32_t>(h), static_cast<int32_t>(sync),
                                   static_cast<int32_t>(height), bps, spp, img->YResolution(),
                                   img->XResolution())) {
        return false;
    }
    RotateImage(*turned.GetImage(), *img, clockwise);
    ptr.Attach(turned.Detach());
    return true;
}
} // namespace

bool RotateQuarterInto(tagTVKIMAGEINFO& dst, const tagTVKIMAGEINFO& src, bool clockwise) {
    const bool supported = (src.lBps == 1 && src.lSpp == 1) || (src.lBps == 8 && src.lSpp == 1) ||
                           (src.lBps == 8 && src.lSpp == 3 && src.ulRGBOrder <= 1);
    if (!supported || src.lpImage == nullptr || dst.lpImage == nullptr ||
        dst.lBps != src.lBps || dst.lSpp != src.lSpp ||
        (src.lSpp == 3 && dst.ulRGBOrder != src.ulRGBOrder) || dst.lWidth < src.lHeight ||
        dst.lHeight < (src.lBps == 1 ? (src.lWidth + 7) / 8 * 8 : src.lWidth)) {
        return false;
    }
    // The views work on copies: wrapping a record rewrites its size field.
    tagTVKIMAGEINFO s = src;
    tagTVKIMAGEINFO d = dst;
    CImageInfo sv(&s);
    CImageInfo dv(&d);
    RotateImage(dv, sv, clockwise);
    return true;
}

bool CImageInfoPtr::Rotate90R() {
    return TurnQuarter(*this, true);
}

bool CImageInfoPtr::Rotate90L() {
    return TurnQuarter(*this, false);
}

bool CImageInfoPtr::ReverseColor() {
    if (m_pImg != nullptr && m_pImg->GetPtr() != nullptr) {
        MemBitReverse(m_pImg->GetPtr(), m_pImg->GetSize());
    }
    return true;
}

// ---------------------------------------------------------------------------
// Copies and comparison

bool SameSizeCImageInfo(CImageInfoPtr& dst, const CImageInfo& src) {
    CImageInfo* img = src.CreateSameSize();
    if (img == nullptr) {
        return false;
    }
    dst.Attach(img);
    return true;
}

bool SameSizeCImageInfo(CImageInfoPtr& dst, const CImageInfoPtr& src) {
    return src.GetImage() != nullptr && SameSizeCImageInfo(dst, *src.GetImage());
}

bool CopyCImageInfo(CImageInfoPtr& dst, const CImageInfo& src) {
    CImageInfo* img = src.CreateCopy();
    if (img == nullptr) {
        return false;
    }
    dst.Attach(img);
    return true;
}

bool CopyCImageInfo(CImageInfoPtr& dst, const CImageInfoPtr& src) {
    return src.GetImage() != nullptr && CopyCImageInfo(dst, *src.GetImage());
}

int CompareImages(const CImageInfo& a, const CImageInfo& b) {
    const tagTVKIMAGEINFO* ia = a.Info();
    const tagTVKIMAGEINFO* ib = b.Info();
    if (ia == nullptr || ib == nullptr) {
        return ia == ib ? 0 : 1;
    }
    if (ia->lBps != ib->lBps || ia->lSpp != ib->lSpp || ia->lWidth != ib->lWidth ||
        ia->lHeight != ib->lHeight || ia->lXResolution != ib->lXResolution ||
        ia->lYResolution != ib->lYResolution || ia->ulRGBOrder != ib->ulRGBOrder) {
        return 1;
    }
    if (ia->lpImage == nullptr || ib->lpImage == nullptr) {
        return ia->lpImage == ib->lpImage ? 0 : 1;
    }
    const bool planar = ia->lSpp == 3 && ia->ulRGBOrder == 1;
    const int64_t lines = int64_t{ia->lHeight} * (planar ? 3 : 1);
    int64_t bits = int64_t{ia->lWidth} * ia->lBps;
    if (ia->lSpp == 3 && ia->ulRGBOrder == 0) {
        bits *= 3;
    }
    for (int64_t i = 0; i < lines; ++i) {
        const int r = MemBitCmp(ia->lpImage + i * ia->lSync, ib->lpImage + i * ib->lSync, bits);
        if (r != 0) {
            return r;
        }
    }
    return 0;
}

int CompareImages(const CImageInfoPtr& a, const CImageInfoPtr& b) {
    if (a.GetImage() == nullptr || b.GetImage() == nullptr) {
        return a.GetImage() == b.GetImage() ? 0 : 1;
    }
    return CompareImages(*a.GetImage(), *b.GetImage());
}

int MemBitCmp(const uint8_t* a, const uint8_t* b, int64_t bits) {
    if (bits <= 0) {
        return 0;
    }
    const int64_t whole = bits / 8;
    if (whole > 0) {
        const int r = std::memcmp(a, b, static_cast<size_t>(whole));
        if (r != 0) {
            return r;
        }
    }
    const int rest = static_cast<int>(bits % 8);
    if (rest > 0) {
        const unsigned mask = 0xFF00u >> rest & 0xFFu;
        const unsigned va = a[whole] & mask;
        const unsigned vb = b[whole] & mask;
        if (va != vb) {
            return va > vb ? 1 : -1;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Byte and bit helpers

void MemStepCopy(uint8_t* dst, const uint8_t* src, int64_t bytes, int64_t lines, int64_t dstStep,
                 int64_t srcStep) {
    if (bytes <= 0 || lines <= 0) {
        return;
    }
    if (dstStep == bytes && srcStep == bytes) {
        std::memmove(dst, src, static_cast<size_t>(bytes * lines));
        return;
    }
    for (int64_t i = 0; i < lines; ++i) {
        std::memmove(dst + i * dstStep, src + i * srcStep, static_cast<size_t>(bytes));
    }
}

void BitSet(uint8_t* buf, int64_t startBit, int value, int64_t count) {
    if (count <= 0) {
        return;
    }
    int64_t byte = startBit >> 3;
    const int first = static_cast<int>(startBit & 7);
    const int64_t end = startBit + count; // one past the last bit
    const uint8_t fill = value ? 0xFF : 0x00;
    auto apply = [&](int64_t at, uint8_t mask) {
        buf[at] =
            value ? static_cast<uint8_t>(buf[at] | mask) : static_cast<uint8_t>(buf[at] & ~mask);
    };
    if ((end - 1) >> 3 == byte) {
        // Start and end in one byte.
        const int last = static_cast<int>((end - 1) & 7);
        apply(byte, static_cast<uint8_t>((0xFFu >> first) & (0xFF00u >> (last + 1))));
        return;
    }
    if (first != 0) {
        apply(byte, static_cast<uint8_t>(0xFFu >> first));
        ++byte;
    }
    const int64_t lastByte = end >> 3; // first byte not wholly covered
    if (lastByte > byte) {
        std::memset(buf + byte, fill, static_cast<size_t>(lastByte - byte));
    }
    const int tail = static_cast<int>(end & 7);
    if (tail != 0) {
        apply(lastByte, static_cast<uint8_t>(0xFF00u >> tail));
    }
}

int GetBit(const uint8_t* buf, int64_t bit) {
    return (buf[bit >> 3] >> (7 - (bit & 7))) & 1;
}

void PutBit(uint8_t* buf, int64_t bit, int value) {
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit & 7));
    uint8_t& b = buf[bit >> 3];
    b = value ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
}

void BitStepCopy(uint8_t* dst, int64_t dstBit, const uint8_t* src, int64_t srcBit, int64_t bits,
                 int64_t lines, int64_t dstStep, int64_t srcStep) {
    if (bits <= 0 || lines <= 0) {
        return;
    }
    if (dstBit % 8 == 0 && srcBit % 8 == 0 && bits % 8 == 0) {
        MemStepCopy(dst + dstBit / 8, src + srcBit / 8, bits / 8, lines, dstStep, srcStep);
        return;
    }
    for (int64_t i = 0; i < lines; ++i) {
        uint8_t* d = dst + i * dstStep;
        const uint8_t* s = src + i * srcStep;
        BitSet(d, dstBit, 0, bits);
        for (int64_t k = 0; k < bits; ++k) {
            const int64_t sb = srcBit + k;
            if (s[sb >> 3] == 0 && (sb & 7) == 0 && k + 8 <= bits) {
                k += 7; // a white byte sets nothing
                continue;
            }
            if (GetBit(s, sb)) {
                PutBit(d, dstBit + k, 1);
            }
        }
    }
}

void MemBitSwitch(uint8_t* buf, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        buf[i] = BitPack::kReverseBits[buf[i]];
    }
}

void MemSwitch(uint8_t* buf, int64_t n) {
    if (n > 1) {
        std::reverse(buf, buf + n);
    }
}

void MemStepSwitch(uint8_t* buf, int64_t size, int64_t step) {
    if (step <= 0) {
        return;
    }
    for (int64_t off = 0; off + step <= size; off += step) {
        MemSwitch(buf + off, step);
    }
}

void MemBitStepSwitch(uint8_t* buf, int64_t size, int64_t step) {
    MemStepSwitch(buf, size, step);
    if (step > 0) {
        MemBitSwitch(buf, size / step * step);
    }
}

void MemStepShift(uint8_t* buf, int64_t shift, int64_t step, int64_t lines) {
    if (shift <= 0 || shift >= step) {
        return;
    }
    for (int64_t i = 0; i < lines; ++i) {
        std::memmove(buf + i * step, buf + i * step + shift, static_cast<size_t>(step - shift));
    }
}

void MemBitStepShift(uint8_t* buf, int64_t bits, int64_t step, int64_t lines) {
    if (bits <= 0 || step <= 0) {
        return;
    }
    const int64_t bytes = bits / 8;
    const int rest = static_cast<int>(bits % 8);
    for (int64_t i = 0; i < lines; ++i) {
        uint8_t* p = buf + i * step;
        if (bytes >= step) {
            std::memset(p, 0, static_cast<size_t>(step));
            continue;
        }
        if (bytes > 0) {
            std::memmove(p, p + bytes, static_cast<size_t>(step - bytes));
            std::memset(p + step - bytes, 0, static_cast<size_t>(bytes));
        }
        if (rest != 0) {
            const int64_t used = step - bytes;
            for (int64_t k = 0; k + 1 < used; ++k) {
                p[k] = static_cast<uint8_t>((p[k] << rest) | (p[k + 1] >> (8 - rest)));
            }
            p[used - 1] = static_cast<uint8_t>(p[used - 1] << rest);
        }
    }
}

void MemReverseCopy(uint8_t* dstEnd, const uint8_t* src, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        dstEnd[-1 - i] = src[i];
    }
}

void RGBReverseCopy(uint8_t* dstEnd, const uint8_t* src, int64_t n) {
    uint8_t* d = dstEnd - 3;
    for (int64_t i = 0; i < n; ++i, d -= 3, src += 3) {
        d[0] = src[0];
        d[1] = src[1];
        d[2] = src[2];
    }
}

void RGBStepCopy(uint8_t* dst, const uint8_t* src, int64_t step, int64_t n) {
    for (int64_t i = 0; i < n; ++i, dst += step, src += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    }
}

void MemBitReverse(uint8_t* buf, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        buf[i] = static_cast<uint8_t>(~buf[i]);
    }
}

// ---------------------------------------------------------------------------
// Clip exports

int32_t ClipView(tagTVKIMAGEINFO* dstInfo, tagTVKIMAGEINFO* srcInfo, tagCLIPVIEWINFO* info) {
    IpSetLastError(0);
    if (dstInfo == nullptr || srcInfo == nullptr || info == nullptr) {
        return 0;
    }
    CImageInfo dst(dstInfo);
    CImageInfo src(srcInfo);
    if (dst.Bps() != src.Bps() || dst.Spp() != src.Spp() || dst.GetPtr() == nullptr ||
        src.GetPtr() == nullptr) {
        return 0;
    }
    if (info->lWidth < 0 || info->lHeight < 0) {
        return 0;
    }
    if (info->lDstX < 0) {
        return 0;
    }
    if (int64_t{info->lDstX} + info->lWidth > dst.Width()) {
        info->lWidth = dst.Width() - info->lDstX;
    }
    if (info->lDstY < 0) {
        return 0;
    }
    if (int64_t{info->lDstY} + info->lHeight > dst.Height()) {
        info->lHeight = dst.Height() - info->lDstY;
    }
    if (info->lSrcX < 0 || info->lSrcX > src.Width() || info->lSrcY < 0 ||
        info->lSrcY > src.Height()) {
        return 0;
    }
    if (int64_t{info->lSrcX} + info->lWidth > src.Width()) {
        info->lWidth = src.Width() - info->lSrcX;
    }
    if (int64_t{info->lSrcY} + info->lHeight > src.Height()) {
        info->lHeight = src.Height() - info->lSrcY;
    }
    // A destination origin beyond the destination leaves nothing to copy into.
    if (info->lWidth < 0 || info->lHeight < 0) {
        return 0;
    }
    const int64_t w = info->lWidth;
    const int64_t h = info->lHeight;
    if (dst.Bps() == 1 && dst.Spp() == 1) {
        BitStepCopy(dst.GetPtr(0, info->lDstY), info->lDstX, src.GetPtr(0, info->lSrcY),
                    info->lSrcX, w, h, dst.Sync(), src.Sync());
        return 1;
    }
    if (dst.Bps() == 8 && (dst.Spp() == 1 || dst.Spp() == 3)) {
        const bool interleaved = dst.Spp() == 3 && dst.RGBOrder() == 0;
        const bool planar = dst.Spp() == 3 && dst.RGBOrder() == 1;
        if (dst.Spp() == 3 && src.RGBOrder() != dst.RGBOrder()) {
            return 0;
        }
        if (dst.Spp() == 3 && !interleaved && !planar) {
            return 0;
        }
        MemStepCopy(dst.GetPtr(info->lDstX, info->lDstY), src.GetPtr(info->lSrcX, info->lSrcY),
                    interleaved ? 3 * w : w, planar ? 3 * h : h, dst.Sync(), src.Sync());
        return 1;
    }
    return 0;
}

int32_t ClipViewOwnBuffer(tagTVKIMAGEINFO* image, tagCLIPVIEWINFO* info) {
    IpSetLastError(0);
    if (image == nullptr || info == nullptr || image->lpImage == nullptr) {
        return -1;
    }
    if ((image->lSpp == 3 && image->ulRGBOrder == 1) || info->lDstX != 0 || info->lDstY != 0 ||
        image->lWidth < 0) {
        return -1;
    }
    // The area must start inside the image.
    if (info->lSrcX < 0 || info->lSrcY < 0 || info->lSrcX > image->lWidth ||
        info->lSrcY > image->lHeight || info->lWidth < 0 || info->lHeight < 0) {
        return -1;
    }
    CImageInfo img(image);
    if (int64_t{info->lSrcX} + info->lWidth > image->lWidth) {
        info->lWidth = image->lWidth - info->lSrcX;
    }
    if (int64_t{info->lSrcY} + info->lHeight > image->lHeight) {
        info->lHeight = image->lHeight - info->lSrcY;
    }
    const int64_t sync =
        ((int64_t{info->lWidth} * image->lBps * image->lSpp + 31) & ~int64_t{31}) / 8;
    if (sync > img.RGBSync() || image->lBps != 8) {
        return -1;
    }
    // Only the area's own bytes move; the rest of each new line is padding.
    const int64_t bytes = (int64_t{info->lWidth} * image->lBps * image->lSpp + 7) / 8;
    for (int64_t i = 0; i < info->lHeight; ++i) {
        std::memmove(image->lpImage + i * sync,
                     img.GetPtr(info->lSrcX, static_cast<int32_t>(info->lSrcY + i)),
                     static_cast<size_t>(bytes));
    }
    img.SetWidth(info->lWidth);
    img.SetSync(static_cast<int32_t>(sync));
    img.SetHeight(info->lHeight);
    return 0;
}
