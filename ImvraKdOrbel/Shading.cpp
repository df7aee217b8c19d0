#include "Shading.h"

#include "TvkIpError.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Tvk::Imvra::KD730 {

// ---------------------------------------------------------------------------
// Line routines

namespace ShadingLine {

namespace {

inline uint8_t Shade8(unsigned s, unsigned w, unsigned b) {
    const unsigned d = s > b ? s - b : 0;
    return static_cast<uint8_t>(std::min(255u, (d * w) >> 12));
}

inline uint8_t Shade16(unsigned s, unsigned w, unsigned b) {
    const unsigned d = s > b ? s - b : 0;
    return static_cast<uint8_t>(std::min(255u, (d * w) >> 16));
}

#if defined(__SSE2__)
// Eight 8-bit samples widened to 16 bits: (d << 4) x w >> 16 equals
// d x w >> 12 because d fits 8 bits; the pack saturates at 255.
inline __m128i Shade8x8(__m128i s16, __m128i w, __m128i b) {
    const __m128i d = _mm_subs_epu16(s16, b);
    return _mm_mulhi_epu16(_mm_slli_epi16(d, 4), w);
}
inline __m128i Load8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                             _mm_setzero_si128());
}
inline __m128i Load16(const uint16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

} // namespace

void Gray8(uint8_t* out, const uint8_t* src, const uint16_t* w, const uint16_t* b, size_t n,
           bool sse2) {
    size_t i = 0;
#if defined(__SSE2__)
    if (sse2) {
        for (; i + 8 <= n; i += 8) {
            const __m128i v = Shade8x8(Load8(src + i), Load16(w + i), Load16(b + i));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
        }
    }
#endif
    for (; i < n; ++i) out[i] = Shade8(src[i], w[i], b[i]);
}

void Gray16(uint8_t* out, const uint16_t* src, const uint16_t* w, const uint16_t* b, size_t n,
            bool sse2) {
    size_t i = 0;
#if defined(__SSE2__)
    if (sse2) {
        const __m128i cap = _mm_set1_epi16(255);
        for (; i + 8 <= n; i += 8) {
            const __m128i d = _mm_subs_epu16(Load16(src + i), Load16(b + i));
            __m128i v = _mm_mulhi_epu16(d, Load16(w + i));
            v = _mm_sub_epi16(v, _mm_subs_epu16(v, cap)); // min(v, 255)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
        }
    }
#endif
    for (; i < n; ++i) out[i] = Shade16(src[i], w[i], b[i]);
}

void Planar8(uint8_t* out, const uint8_t* const src[3], const uint16_t* const w[3],
             const uint16_t* b, size_t n, bool sse2) {
    size_t i = 0;
#if defined(__SSE2__)
    if (sse2) {
        // Sixteen pixels a round. Each group of four pixels becomes two
        // 64-bit lanes of six bytes (R G B R G B); every 8-byte store spills
        // two bytes into the next pixels, which later stores overwrite, so
        // the round needs one pixel after it.
        const __m128i zero = _mm_setzero_si128();
        const __m128i low24 = _mm_set1_epi64x(0xFFFFFF);
        const __m128i high24 = _mm_set1_epi64x(0xFFFFFF000000);
        for (; i + 17 <= n; i += 16) {
            __m128i ch[3];
            const __m128i black0 = Load16(b + i), black1 = Load16(b + i + 8);
            for (int c = 0; c < 3; ++c) {
                const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src[c] + i));
                const __m128i v0 =
                    Shade8x8(_mm_unpacklo_epi8(s, zero), Load16(w[c] + i), black0);
                const __m128i v1 =
                    Shade8x8(_mm_unpackhi_epi8(s, zero), Load16(w[c] + i + 8), black1);
                ch[c] = _mm_packus_epi16(v0, v1);
            }
            const __m128i rgLo = _mm_unpacklo_epi8(ch[0], ch[1]);
            const __m128i rgHi = _mm_unpackhi_epi8(ch[0], ch[1]);
            const __m128i bLo = _mm_unpacklo_epi8(ch[2], zero);
            const __m128i bHi = _mm_unpackhi_epi8(ch[2], zero);
            const __m128i quads[4] = {_mm_unpacklo_epi16(rgLo, bLo), _mm_unpackhi_epi16(rgLo, bLo),
                                      _mm_unpacklo_epi16(rgHi, bHi), _mm_unpackhi_epi16(rgHi, bHi)};
            uint8_t* o = out + 3 * i;
            for (const __m128i& q : quads) {
                // Each 64-bit lane holds two pixels as RGB0 RGB0: close the gap.
                const __m128i packed = _mm_or_si128(_mm_and_si128(q, low24),
                                                    _mm_and_si128(_mm_srli_epi64(q, 8), high24));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o), packed);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 6), _mm_srli_si128(packed, 8));
                o += 12;
            }
        }
    }
#endif
    for (; i < n; ++i)
        for (int c = 0; c < 3; ++c) out[3 * i + c] = Shade8(src[c][i], w[c][i], b[i]);
}

void Planar16(uint8_t* out, const uint16_t* const src[3], const uint16_t* const w[3],
              const uint16_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) out[3 * i + c] = Shade16(src[c][i], w[c][i], b[i]);
}

} // namespace ShadingLine

// ---------------------------------------------------------------------------

namespace {

bool Planar3(const tagIMAGEINFO& i) { return i.lSpp == 3 && i.ulRGBOrder == 1; }

// Rows a line of the record stores: its planes for planar colour, else one.
int64_t RowsPerLine(const tagIMAGEINFO& i) { return i.ulRGBOrder == 1 ? i.lSpp : 1; }

// Samples of one stored row that the record says it holds.
int64_t RowSamples(const tagIMAGEINFO& i) {
    return i.ulRGBOrder == 1 ? int64_t{i.lWidth} : int64_t{i.lWidth} * i.lSpp;
}

// A band or line whose buffer holds its rows: a known depth, whole 16-bit
// samples, lines long enough and enough of them.
bool Described(const tagIMAGEINFO& i, int32_t bps) {
    if (i.lpImage == nullptr || i.lBps != bps || (i.lSpp != 1 && i.lSpp != 3) ||
        i.ulRGBOrder > 1 || i.lWidth < 1 || i.lHeight < 1)
        return false;
    const int64_t bytes = bps / 8;
    if (bytes == 2 && i.lSync % 2 != 0) return false;
    if (i.lSync < RowSamples(i) * bytes) return false;
    return CImg::storedRows(i) >= int64_t{i.lHeight} * RowsPerLine(i);
}

// A shading line: one line of 16-bit samples the buffer holds.
bool ShadingLineOk(const CImg& img) { return Described(img.info(), 16); }

const uint16_t* Samples16(const tagIMAGEINFO& i, int64_t byteOffset = 0) {
    return reinterpret_cast<const uint16_t*>(i.lpImage + byteOffset);
}
uint16_t* Samples16(tagIMAGEINFO& i, int64_t byteOffset = 0) {
    return reinterpret_cast<uint16_t*>(i.lpImage + byteOffset);
}

uint16_t Clamp16(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535)); }

// Multipliers of one plane or one-sample line: 65535 when w is 0 or 16 w is
// not above the target, else T x 4096 / w.
uint16_t Multiplier(unsigned w, int64_t target) {
    if (w == 0 || 16 * int64_t{w} <= target) return 65535;
    return Clamp16(target * 4096 / w);
}

} // namespace

int CShading::setInfo(CImg& img, void* info) {
    const auto* p = static_cast<const tagSHADINGINFO*>(info);
    if (p == nullptr || p->ulSize != kShadingInfoSize) return RTN_PAR;
    m_info = *p;
    return RTN_OK;
}

int CShading::makeShadingAvarage16(const CImg& img, tagSHADING_AVARAGE& avg) {
    const tagIMAGEINFO& i = img.info();
    if (!Described(i, 16) || i.lHeight != 1) return RTN_PAR;
    avg = tagSHADING_AVARAGE{};
    avg.isColor = i.lSpp == 3;
    const uint16_t* s = Samples16(i);
    if (!avg.isColor) {
        uint64_t sum = 0;
        for (int32_t x = 0; x < i.lWidth; ++x) sum += s[x];
        avg.gray = static_cast<uint16_t>(sum / static_cast<uint64_t>(i.lWidth));
        return RTN_OK;
    }
    const bool planar = i.ulRGBOrder == 1;
    uint16_t* out[3] = {&avg.red, &avg.green, &avg.blue};
    for (int c = 0; c < 3; ++c) {
        uint64_t sum = 0;
        for (int32_t x = 0; x < i.lWidth; ++x)
            sum += planar ? s[c * (i.lSync / 2) + x] : s[3 * x + c];
        *out[c] = static_cast<uint16_t>(sum / static_cast<uint64_t>(i.lWidth));
    }
    return RTN_OK;
}

int CShading::makeShadingAvarage8(const CImg& img, tagSHADING_AVARAGE& avg) {
    const tagIMAGEINFO& i = img.info();
    if (!Described(i, 8) || i.lHeight != 1) return RTN_PAR;
    avg = tagSHADING_AVARAGE{};
    avg.isColor = i.lSpp == 3;
    const uint8_t* s = i.lpImage;
    const bool planar = i.ulRGBOrder == 1;
    const int channels = avg.isColor ? 3 : 1;
    uint16_t* out[3] = {avg.isColor ? &avg.red : &avg.gray, &avg.green, &avg.blue};
    for (int c = 0; c < channels; ++c) {
        uint64_t sum = 0;
        for (int32_t x = 0; x < i.lWidth; ++x)
            sum += planar ? s[c * i.lSync + x] : s[channels * x + c];
        *out[c] = static_cast<uint16_t>(std::min<uint64_t>(255, sum / static_cast<uint64_t>(i.lWidth)));
    }
    return RTN_OK;
}

int CShading::makeShadingData(CImg& line) {
    tagSHADING_AVARAGE avg;
    const int r = line.info().lBps == 8 ? makeShadingAvarage8(line, avg)
                                        : makeShadingAvarage16(line, avg);
    if (r == RTN_OK) m_platen = avg;
    return r;
}

int CShading::makeShadingData(CImg& white, CImg& black, CImg& whiteOrg, CImg& /*blackOrg*/,
                              int32_t targetRow) {
    // The references come from the scanner: everything is checked before a
    // sample changes.
    if (targetRow != 0 && targetRow != 1) return RTN_PAR;
    if (!ShadingLineOk(white) || !ShadingLineOk(black) || !ShadingLineOk(whiteOrg))
        return RTN_PAR;
    tagIMAGEINFO& w = white.info();
    tagIMAGEINFO& b = black.info();
    if (w.tImageSize != b.tImageSize || w.lHeight != 1 || b.lHeight != 1 ||
        whiteOrg.info().lHeight != 1)
        return RTN_PAR;
    if ((w.lSpp == 3) != (b.lSpp == 3) || (b.lSpp == 3) != (whiteOrg.info().lSpp == 3))
        return RTN_PAR;

    const size_t samples = w.tImageSize / 2;
    uint16_t* ws = Samples16(w);
    uint16_t* bs = Samples16(b);
    for (size_t k = 0; k < samples; ++k) ws[k] = ws[k] > bs[k] ? ws[k] - bs[k] : 0;

    const int32_t* t = SHADING_TARGET[targetRow];
    if (w.lSpp == 1) {
        for (int32_t x = 0; x < w.lWidth; ++x) ws[x] = Multiplier(ws[x], t[0]);
    } else if (w.ulRGBOrder == 1) {
        for (int c = 0; c < 3; ++c) {
            uint16_t* plane = ws + c * (w.lSync / 2);
            for (int32_t x = 0; x < w.lWidth; ++x) plane[x] = Multiplier(plane[x], t[1 + c]);
        }
    } else {
        for (int32_t x = 0; x < w.lWidth; ++x)
            for (int c = 0; c < 3; ++c) ws[3 * x + c] = Multiplier(ws[3 * x + c], t[1 + c]);
    }
    for (size_t k = 0; k < samples; ++k) bs[k] = static_cast<uint16_t>(bs[k] >> 4);

    tagSHADING_AVARAGE avgWhite, avgBlack, avgOrg;
    makeShadingAvarage16(white, avgWhite);
    makeShadingAvarage16(black, avgBlack);
    makeShadingAvarage16(whiteOrg, avgOrg);
    auto level = [](uint16_t org, uint16_t blk, uint16_t mul) {
        const int64_t o = (org >> 4) & 0xFF;
        return static_cast<uint16_t>(std::clamp<int64_t>((o - blk) * mul / 4096, 0, 255));
    };
    tagSHADING_AVARAGE platen;
    platen.isColor = avgWhite.isColor;
    if (platen.isColor) {
        platen.red = level(avgOrg.red, avgBlack.red, avgWhite.red);
        platen.green = level(avgOrg.green, avgBlack.green, avgWhite.green);
        platen.blue = level(avgOrg.blue, avgBlack.blue, avgWhite.blue);
    } else {
        platen.gray = level(avgOrg.gray, avgBlack.gray, avgWhite.gray);
    }
    m_platen = platen;
    return RTN_OK;
}

namespace {

// Without shading data: 16-bit samples times 16 (capped), upper byte kept.
int Pack16To8(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (!Described(s, 16)) return RTN_PAR;
    tagIMAGEINFO rec = s;
    rec.lBps = 8;
    rec.lSync = static_cast<int32_t>(RowSamples(s));
    rec.tImageSize = static_cast<uint32_t>(CImg::calcSize(rec.lSync, rec.lHeight, rec.lSpp, rec.ulRGBOrder));
    CImg out;
    if (!out.createImgForWrite(rec)) return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    const int64_t rows = int64_t{s.lHeight} * RowsPerLine(s);
    const int64_t n = RowSamples(s);
    out.clearRowTails(n);
    for (int64_t y = 0; y < rows; ++y) {
        const uint16_t* src = Samples16(s, y * s.lSync);
        uint8_t* dst = out.info().lpImage + y * rec.lSync;
        for (int64_t x = 0; x < n; ++x)
            dst[x] = static_cast<uint8_t>(std::min<unsigned>(65535u, src[x] * 16u) >> 8);
    }
    img.attachImg(out);
    return RTN_OK;
}

// Samples a shading line holds per plane (planar colour) or in its line.
int64_t PlaneSamples(const tagIMAGEINFO& i) {
    return std::min<int64_t>(RowSamples(i), i.lSync / 2);
}

} // namespace

int CShading::Shading(CImg& img) {
    if (img.isNull()) return RTN_OK;
    const tagIMAGEINFO& s = img.info();
    if (m_info.white.isNull() || m_info.black.isNull()) {
        if (s.lBps == 16) return Pack16To8(img);
        return s.lBps == 8 ? RTN_PAR : RTN_OK;
    }
    if (!Described(s, s.lBps == 16 ? 16 : 8)) return RTN_PAR;
    const tagIMAGEINFO& w = m_info.white.info();
    const tagIMAGEINFO& b = m_info.black.info();
    if (!ShadingLineOk(m_info.white) || !ShadingLineOk(m_info.black)) return RTN_PAR;

    const bool wide = s.lBps == 16;
    const bool planar = Planar3(s);
    tagIMAGEINFO rec = s;
    rec.lBps = 8;
    rec.ulRGBOrder = 0;
    if (wide || planar) rec.lSync = s.lWidth * s.lSpp;
    rec.tImageSize = static_cast<uint32_t>(CImg::calcSize(rec.lSync, rec.lHeight, rec.lSpp, 0));
    if (s.lSpp == 3) {
        // The multipliers must be laid out as the band.
        if (planar != Planar3(w) || w.lSpp != 3) return RTN_PAR;
    }
    CImg out;
    // Lines are written up to the shading data's samples; the rest of each
    // line (and a buffer an earlier band left) is cleared.
    if (!out.createImgForWrite(rec)) return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    const tagIMAGEINFO& d = out.info();
    const bool sse2 = IsSSE2FeatureAvailable();
    const uint16_t* ws = Samples16(w);
    const uint16_t* bs = Samples16(b);
    const int64_t step = TvkLineStep(s);

    if (s.lSpp == 1 || !planar) {
        // Sample j of a line uses w[j] and b[j]; a colour line keeps whole pixels.
        const int64_t per = s.lSpp;
        const int64_t pixels =
            std::min({int64_t{s.lWidth}, PlaneSamples(w) / per, PlaneSamples(b) / per});
        const size_t n = static_cast<size_t>(pixels * per);
        out.clearRowTails(static_cast<int64_t>(n));
        for (int32_t y = 0; y < s.lHeight; ++y) {
            const uint8_t* src = s.lpImage + y * step;
            uint8_t* dst = d.lpImage + int64_t{y} * d.lSync;
            if (wide)
                ShadingLine::Gray16(dst, reinterpret_cast<const uint16_t*>(src), ws, bs, n, sse2);
            else
                ShadingLine::Gray8(dst, src, ws, bs, n, sse2);
        }
    } else {
        // Planar: each pixel takes the multipliers of the three planes and
        // the one black sample of its place.
        const int64_t wPlane = w.lSync / 2;
        const uint16_t* wp[3] = {ws, ws + wPlane, ws + 2 * wPlane};
        const size_t n = static_cast<size_t>(
            std::min({int64_t{s.lWidth}, PlaneSamples(w), PlaneSamples(b)}));
        out.clearRowTails(static_cast<int64_t>(n) * 3);
        for (int32_t y = 0; y < s.lHeight; ++y) {
            const uint8_t* line = s.lpImage + y * step;
            uint8_t* dst = d.lpImage + int64_t{y} * d.lSync;
            if (wide) {
                const uint16_t* src[3];
                for (int c = 0; c < 3; ++c)
                    src[c] = reinterpret_cast<const uint16_t*>(line + c * int64_t{s.lSync});
                ShadingLine::Planar16(dst, src, wp, bs, n);
            } else {
                const uint8_t* src[3] = {line, line + s.lSync, line + 2 * int64_t{s.lSync}};
                ShadingLine::Planar8(dst, src, wp, bs, n, sse2);
            }
        }
    }
    img.attachImg(out);
    return RTN_OK;
}

int CShading::fixPlatenImage(CImg& img, tagKDRECT rect) {
    if (img.isNull() || (img.info().lSpp == 3) != m_platen.isColor) return RTN_PAR;
    if (img.info().ulRGBOrder == 1) {
        const tagIMAGEINFO s = img.info();
        CImg fresh;
        if (!fresh.createImg(s.lWidth, s.lHeight, s.lBps, s.lSpp, 0, s.lXResolution,
                             s.lYResolution))
            return RTN_PAR;
        if (fresh.isNull()) return RTN_MEM;
        img.attachImg(fresh);
    }
    const tagRGBQUAD colour{static_cast<uint8_t>(m_platen.blue), static_cast<uint8_t>(m_platen.green),
                            static_cast<uint8_t>(m_platen.red), static_cast<uint8_t>(m_platen.gray)};
    return CImgEdit::FillColor(img, colour, rect) ? RTN_OK : RTN_PAR;
}

void CShading::formatShadingData9(CImg& white, CImg& black) {
    auto rewrite = [](CImg& img, auto f) {
        if (img.isNull() || img.info().lBps != 16) return;
        uint16_t* s = Samples16(img.info());
        for (size_t k = 0; k < img.info().tImageSize / 2; ++k) {
            const uint16_t v = f(s[k]);
            s[k] = static_cast<uint16_t>((v >> 8) | (v << 8));
        }
    };
    rewrite(white, [](uint16_t s) { return static_cast<uint16_t>((s & 0x3FFF) >> 5); });
    rewrite(black, [](uint16_t s) { return static_cast<uint16_t>(s * 4); });
}

} // namespace Tvk::Imvra::KD730
