#include "ColorStages.h"

#include "ColorSaturation.h"
#include "VectorPaths.h"

#include <cstdlib>
#include <immintrin.h>

namespace Tvk::Imvra {

namespace {

bool IsRGB8(const tagIMAGEINFO& band) {
    return band.lBps == 8 && band.lSpp == 3;
}

// The lines of a pixel-order band that its buffer holds.
template <class LineFn>
void ForEachLine(const tagIMAGEINFO& band, LineFn fn) {
    if (band.lpImage == nullptr || band.lWidth <= 0 || band.lSync < int64_t{band.lWidth} * 3)
        return;
    const int64_t lines = std::min<int64_t>(band.lHeight, CImg::storedRows(band));
    for (int64_t y = 0; y < lines; ++y) fn(TvkLinePtr(band, y), static_cast<size_t>(band.lWidth));
}

} // namespace

// ---------------------------------------------------------------------------
// Drop-out and emphasis

int CInkColorStage::setInfo(CImg& img, void* info) {
    const auto* rec = static_cast<const tagDROPOUTCOLORINFO*>(info);
    if (rec == nullptr || rec->ulSize != kDropOutColorInfoSize) return RTN_PAR;
    if (checksFormatAtSetInfo() && !IsRGB8(img.info())) return RTN_PAR;
    m_info = *rec;
    return RTN_OK;
}

int CInkColorStage::process(CImg& img) {
    const tagIMAGEINFO& band = img.info();
    if (!IsRGB8(band)) return RTN_PAR;
    if (band.ulRGBOrder != 0) return RTN_UNSUPPORTED;
    if (m_info.ulColor == INK_NONE) return RTN_OK;
    // A listed colour, and values beyond the record's range, are not ours.
    if (m_info.ulColor > INK_BLUE) return RTN_UNSUPPORTED;
    const int channel = static_cast<int>(m_info.ulColor) - 1;
    ForEachLine(band, [&](uint8_t* line, size_t pixels) { apply(line, pixels, channel); });
    return RTN_OK;
}

void CDropOutColor::apply(uint8_t* line, size_t pixels, int channel) const {
    for (size_t i = 0; i < pixels; ++i, line += 3) line[0] = line[1] = line[2] = line[channel];
}

void CEmphasisColor::apply(uint8_t* line, size_t pixels, int channel) const {
    const int a = channel == 0 ? 1 : 0;
    const int b = channel == 2 ? 1 : 2;
    for (size_t i = 0; i < pixels; ++i, line += 3)
        line[0] = line[1] = line[2] = static_cast<uint8_t>((line[a] + line[b]) / 2);
}

// ---------------------------------------------------------------------------
// Saturation

namespace KD730 {

int CColorSaturate::IP(CImg& img) {
    const tagIMAGEINFO& page = img.info();
    // A colour stage: gray pages have no saturation to change.
    if (img.isNull() || !IsRGB8(page)) return RTN_PAR;
    tagCOLOR_SATURATION_INFO request{};
    request.ulSize = kColorSaturationInfoSize;
    request.lCommand = kColorSaturationOneShot;
    request.pColorSaturation = nullptr;
    request.lReserved = -1;
    request.lEdgeThreshold = 18;
    // The page's four corners as the document's outline.
    request.ptLeftTop = {0, 0};
    request.ptRightTop = {page.lWidth, 0};
    request.ptLeftBottom = {0, page.lHeight};
    request.ptRightBottom = {page.lWidth, page.lHeight};
    switch (ColorSaturation(img, &request)) {
    case 0: return RTN_OK;
    case 8: return RTN_MEM;
    default: return RTN_PAR;
    }
}

// ---------------------------------------------------------------------------
// sRGB

namespace {

constexpr long kMatrixKind1[3][3] = {{1097, 101, -175}, {121, 1272, -370}, {296, -559, 1286}};
constexpr long kMatrixOther[3][3] = {{1101, 0, -79}, {113, 1092, -182}, {259, -372, 1136}};

} // namespace

void getSRGBMatrixFeeder(long (*matrix)[3], long kind) {
    const long(&m)[3][3] = kind == 1 ? kMatrixKind1 : kMatrixOther;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) matrix[r][c] = m[r][c];
}
void getSRGBMatrixFlatbed(long (*matrix)[3], long kind) {
    getSRGBMatrixFeeder(matrix, kind);
}
void getSRGBMatrixFeederPhoto(long (*matrix)[3], long kind) {
    getSRGBMatrixFeeder(matrix, kind);
}

int CSRGBConversion::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagSRGBCONVERSIONINFO*>(info);
    if (rec == nullptr || rec->ulSize != kSRGBConversionInfoSize) return RTN_PAR;
    m_ulType = rec->Type;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m_matrix[r][c] = rec->Matrix[r][c];
    return RTN_OK;
}

int CSRGBConversion::process(CImg& img) {
    const tagIMAGEINFO& band = img.info();
    if (!IsRGB8(band) || band.ulRGBOrder != 0) return RTN_OK;
    int32_t matrix[3][3];
    if (m_ulType == kTypeBuiltIn || m_ulType == kTypeBuiltIn1) {
        long m[3][3];
        getSRGBMatrixFeeder(m, 0);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) matrix[r][c] = static_cast<int32_t>(m[r][c]);
    } else if (m_ulType == kTypeOwnMatrix) {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) matrix[r][c] = m_matrix[r][c];
    } else {
        return RTN_PAR;
    }
    ForEachLine(band, [&](uint8_t* line, size_t pixels) {
        ConvertLineByMatrix(line, pixels, matrix);
    });
    return RTN_OK;
}

} // namespace KD730

namespace {

uint8_t Clamp255(int64_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Coefficients up to this size keep three products and the rounding term
// inside 32 bits.
constexpr int32_t kVectorCoefficientLimit = 1 << 21;

bool FitsVector(const int32_t (&m)[3][3]) {
    for (const auto& row : m)
        for (int32_t v : row)
            if (v > kVectorCoefficientLimit || v < -kVectorCoefficientLimit) return false;
    return true;
}

// Eight pixels a step: each 128-bit lane converts four pixels (twelve bytes).
// Needs ten pixels from line on (the lane stores write sixteen bytes; the
// bytes past the eight pixels are written back as they were).
KD_TARGET_AVX2 size_t ConvertAvx2(uint8_t* line, size_t pixels,
                                                   const int32_t (&m)[3][3]) {
    const __m256i spreadR = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1));
    const __m256i spreadG = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1));
    const __m256i spreadB = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1));
    // R0..3 G0..3 B0..3 (after packing) back to R G B per pixel; the last four
    // bytes are taken from the input.
    const __m256i interleave = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1));
    const __m256i keepTail = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1));
    __m256i k[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) k[r][c] = _mm256_set1_epi32(m[r][c]);
    const __m256i half = _mm256_set1_epi32(512);
    size_t i = 0;
    for (; i + 10 <= pixels; i += 8) {
        uint8_t* p = line + i * 3;
        const __m256i in = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                                               reinterpret_cast<const __m128i*>(p));
        const __m256i r = _mm256_shuffle_epi8(in, spreadR);
        const __m256i g = _mm256_shuffle_epi8(in, spreadG);
        const __m256i b = _mm256_shuffle_epi8(in, spreadB);
        __m256i out[3];
        for (int c = 0; c < 3; ++c) {
            __m256i v = _mm256_add_epi32(_mm256_mullo_epi32(r, k[c][0]), half);
            v = _mm256_add_epi32(v, _mm256_mullo_epi32(g, k[c][1]));
            v = _mm256_add_epi32(v, _mm256_mullo_epi32(b, k[c][2]));
            out[c] = _mm256_srai_epi32(v, 10);
        }
        const __m256i rg = _mm256_packs_epi32(out[0], out[1]);
        const __m256i bb = _mm256_packs_epi32(out[2], out[2]);
        __m256i bytes = _mm256_shuffle_epi8(_mm256_packus_epi16(rg, bb), interleave);
        bytes = _mm256_or_si256(bytes, _mm256_and_si256(in, keepTail));
        // Low lane first: its four spare bytes are the high lane's first.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 12), _mm256_extracti128_si256(bytes, 1));
    }
    return i;
}

bool FitsInt16(const int32_t (&m)[3][3]) {
    for (const auto& row : m)
        for (int32_t v : row)
            if (v > INT16_MAX || v < INT16_MIN) return false;
    return true;
}

// GCC 12 warns about the deliberately undefined upper parts inside its own
// 512-bit intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Sixteen pixels (48 bytes) a step, the last step masked to the pixels
// left. Each pixel becomes the 16-bit pairs (r, g) and (b, 1); two
// multiply-add steps per output give r*m0 + g*m1 and b*m2 + 512.
KD_TARGET_BYTE_SHUFFLE_512 void Convert512(uint8_t* line, size_t pixels,
                                           const int32_t (&m)[3][3]) {
    alignas(64) uint8_t pairRG[64], pairB[64], interleave[64];
    for (int p = 0; p < 16; ++p) {
        pairRG[4 * p] = static_cast<uint8_t>(3 * p);
        pairRG[4 * p + 2] = static_cast<uint8_t>(3 * p + 1);
        pairRG[4 * p + 1] = pairRG[4 * p + 3] = 0;
        pairB[4 * p] = static_cast<uint8_t>(3 * p + 2);
        pairB[4 * p + 1] = pairB[4 * p + 2] = pairB[4 * p + 3] = 0;
        // After packing, pixel p's channel c stands at 16 * (p / 4) + 4 * c + p % 4.
        for (int c = 0; c < 3; ++c)
            interleave[3 * p + c] = static_cast<uint8_t>(16 * (p / 4) + 4 * c + p % 4);
    }
    for (int i = 48; i < 64; ++i) interleave[i] = 0;
    const __m512i idxRG = _mm512_load_si512(pairRG);
    const __m512i idxB = _mm512_load_si512(pairB);
    const __m512i idxOut = _mm512_load_si512(interleave);
    const __mmask64 keepRG = 0x5555555555555555ull; // bytes 0 and 2 of every pixel word
    const __mmask64 keepB = 0x1111111111111111ull;  // byte 0
    const __m512i one = _mm512_set1_epi32(1 << 16);  // the 1 beside b
    __m512i coefRG[3], coefB[3];
    for (int c = 0; c < 3; ++c) {
        coefRG[c] = _mm512_set1_epi32(static_cast<int32_t>(
            (static_cast<uint32_t>(m[c][1]) << 16) | (static_cast<uint32_t>(m[c][0]) & 0xFFFFu)));
        coefB[c] = _mm512_set1_epi32(static_cast<int32_t>(
            (uint32_t{512} << 16) | (static_cast<uint32_t>(m[c][2]) & 0xFFFFu)));
    }
    for (size_t i = 0; i < pixels; i += 16) {
        const size_t n = pixels - i < 16 ? pixels - i : 16;
        const __mmask64 bytes = (__mmask64{1} << (3 * n)) - 1;
        uint8_t* p = line + i * 3;
        // A whole 64-byte load while the line goes on past it.
        const __m512i in = pixels - i >= 22 ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8(bytes, p);
        const __m512i rg = _mm512_maskz_permutexvar_epi8(keepRG, idxRG, in);
        const __m512i b1 = _mm512_or_si512(_mm512_maskz_permutexvar_epi8(keepB, idxB, in), one);
        __m512i out[3];
        for (int c = 0; c < 3; ++c)
            out[c] = _mm512_srai_epi32(_mm512_add_epi32(_mm512_madd_epi16(rg, coefRG[c]),
                                                        _mm512_madd_epi16(b1, coefB[c])),
                                       10);
        // Saturating packs hold the results to 0..255.
        const __m512i packed = _mm512_packus_epi16(_mm512_packs_epi32(out[0], out[1]),
                                                   _mm512_packs_epi32(out[2], out[2]));
        _mm512_mask_storeu_epi8(p, bytes, _mm512_permutexvar_epi8(idxOut, packed));
    }
}
#pragma GCC diagnostic pop

} // namespace

void ConvertLineByMatrixPlain(uint8_t* line, size_t pixels, const int32_t (&m)[3][3]) {
    for (size_t i = 0; i < pixels; ++i, line += 3) {
        const int64_t r = line[0], g = line[1], b = line[2];
        // C++20 shifts negative values arithmetically: rounding toward minus infinity.
        line[0] = Clamp255((m[0][0] * r + m[0][1] * g + m[0][2] * b + 512) >> 10);
        line[1] = Clamp255((m[1][0] * r + m[1][1] * g + m[1][2] * b + 512) >> 10);
        line[2] = Clamp255((m[2][0] * r + m[2][1] * g + m[2][2] * b + 512) >> 10);
    }
}

void ConvertLineByMatrix(uint8_t* line, size_t pixels, const int32_t (&matrix)[3][3]) {
    if (UseByteShuffle512() && FitsInt16(matrix)) return Convert512(line, pixels, matrix);
    size_t done = 0;
    if (UseAvx2() && FitsVector(matrix)) done = ConvertAvx2(line, pixels, matrix);
    ConvertLineByMatrixPlain(line + done * 3, pixels - done, matrix);
}

} // namespace Tvk::Imvra
