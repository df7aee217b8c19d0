#include "GRC.h"

#include "VectorPaths.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <immintrin.h>

namespace Tvk::Imvra {

namespace KD730 {

namespace {

constexpr double kExponent = 0.45454545454545453; // 1 / 2.2

// Constants by contrast class 1..7 (index k - 1).
constexpr double kGain[7] = {0.7, 0.8, 0.9, 1.0, 1.2, 1.4, 1.6};
constexpr double kColorOffset[7] = {-15, -44, -72, -101, -158, -215, -272};
constexpr double kGrayOffset[7] = {-24, -55, -86, -116, -178, -240, -302};
constexpr double kColorOffset2[7] = {1, -26, -53, -80, -134, -189, -243};
constexpr double kGrayOffset2[7] = {-16, -47, -78, -108, -170, -231, -292};
constexpr double kErrorDiffusionOffset[7] = {81, 54, 13, 0, -55, -109, -163};
constexpr double kBinPower[7] = {0.3, 0.5, 0.7, 1.0, 1.5, 2.0, 3.0};
constexpr double kBinOffset[7] = {-8, -8, -8, -8, -18, -27, -32};
constexpr double kBinOffset2[7] = {0, 0, 0, 0, -10, -19, -23};

constexpr double kColorScale = 391, kColorScale2 = 371, kGrayScale = 422, kGrayScale2 = 419;
constexpr double kErrorDiffusionBias = 24511, kErrorDiffusionBias2 = 23876;
constexpr double kBinSpan = 255, kBinSpan2 = 249.9;

int Index(int k) { return std::clamp(k, 1, 7) - 1; }

// trunc(v + 0.5), then below 1 -> 0 and 255 or more -> 255.
uint8_t Clamp(double v) {
    const double t = std::trunc(v + 0.5);
    if (t < 1) return 0;
    if (t >= 255) return 255;
    return static_cast<uint8_t>(t);
}

// The power-law curve shared by the colour and gray curves.
uint8_t PowerCurve(int x, uint8_t b, int k, double scale, const double* offset) {
    double t = ((b - 128) * 128.0 / 127.0 + x) / 255.0;
    if (!(t > 0)) t = 0;
    const int i = Index(k);
    return Clamp(offset[i] + scale * kGain[i] * std::pow(t, kExponent));
}

uint8_t ErrorDiffusionCurve(int x, uint8_t b, int k, double bias) {
    const int i = Index(k);
    return Clamp((b * 128.0 - 128.0 - bias) / 127.0 +
                 370.0 * kGain[i] * std::pow(x / 255.0, kExponent) + kErrorDiffusionOffset[i]);
}

uint8_t BinCurve(int x, int k, double span, const double* offset) {
    const int i = Index(k);
    return Clamp(std::pow(x / 255.0, 1.0 / kBinPower[i]) * span + offset[i]);
}

double BinCurveInv(int y, int k, double span, const double* offset) {
    const int i = Index(k);
    const double base = (y - 0.5 - offset[i]) / span;
    return base > 0 ? 255.0 * std::pow(base, kBinPower[i]) : 0.0;
}

template <class Curve>
void Build(uint8_t* table, size_t count, Curve curve) {
    for (size_t x = 0; x < count; ++x) table[x] = curve(static_cast<int>(x));
}

} // namespace

int GammaBuilderImp::contrastClass(uint8_t contrast) {
    return std::min(contrast * 7 / 255 + 1, 7);
}

uint8_t GammaBuilderImp::calcColorGamma(int x, uint8_t b, int k) {
    return PowerCurve(x, b, k, kColorScale, kColorOffset);
}
uint8_t GammaBuilderImp::calcColorGamma2(int x, uint8_t b, int k) {
    return PowerCurve(x, b, k, kColorScale2, kColorOffset2);
}
uint8_t GammaBuilderImp::calcGrayGamma(int x, uint8_t b, int k) {
    return PowerCurve(x, b, k, kGrayScale, kGrayOffset);
}
uint8_t GammaBuilderImp::calcGrayGamma2(int x, uint8_t b, int k) {
    return PowerCurve(x, b, k, kGrayScale2, kGrayOffset2);
}
uint8_t GammaBuilderImp::calcErrorDiffusionGamma(int x, uint8_t b, int k) {
    return ErrorDiffusionCurve(x, b, k, kErrorDiffusionBias);
}
uint8_t GammaBuilderImp::calcErrorDiffusionGamma2(int x, uint8_t b, int k) {
    return ErrorDiffusionCurve(x, b, k, kErrorDiffusionBias2);
}
uint8_t GammaBuilderImp::calcBinGamma(int x, uint8_t, int k) {
    return BinCurve(x, k, kBinSpan, kBinOffset);
}
uint8_t GammaBuilderImp::calcBinGamma2(int x, uint8_t, int k) {
    return BinCurve(x, k, kBinSpan2, kBinOffset2);
}
double GammaBuilderImp::calcBinGammaInv(int y, int k) {
    return BinCurveInv(y, k, kBinSpan, kBinOffset);
}
double GammaBuilderImp::calcBinGammaInv2(int y, int k) {
    return BinCurveInv(y, k, kBinSpan2, kBinOffset2);
}

void GammaBuilderImp::buildColorGamma(uint8_t* table, size_t count, uint8_t b, int k,
                                      int curveSet) {
    Build(table, count, [&](int x) {
        return curveSet == 1 ? calcColorGamma2(x, b, k) : calcColorGamma(x, b, k);
    });
}
void GammaBuilderImp::buildGrayGamma(uint8_t* table, size_t count, uint8_t b, int k,
                                     int curveSet) {
    Build(table, count, [&](int x) {
        return curveSet == 1 ? calcGrayGamma2(x, b, k) : calcGrayGamma(x, b, k);
    });
}
void GammaBuilderImp::buildErrorDiffusionGamma(uint8_t* table, size_t count, uint8_t b, int k,
                                               int curveSet) {
    Build(table, count, [&](int x) {
        return curveSet == 1 ? calcErrorDiffusionGamma2(x, b, k)
                             : calcErrorDiffusionGamma(x, b, k);
    });
}
void GammaBuilderImp::buildBinGamma(uint8_t* table, size_t count, uint8_t b, int k,
                                    int curveSet) {
    Build(table, count, [&](int x) {
        return curveSet == 1 ? calcBinGamma2(x, b, k) : calcBinGamma(x, b, k);
    });
}

} // namespace KD730

void CGRC::setMode(ColorMode mode, bool flagA, bool flagB) {
    m_mode = mode;
    m_bFlagA = false;
    m_bFlagB = false;
    if (mode == ModeGray || mode == ModeColor)
        m_bFlagA = flagA;
    else if (mode == ModeBinary)
        m_bFlagB = flagB;
}

void CGRC::setGRCTable(tagINFO* info) const {
    assert(info != nullptr && "info != NULL");
    if (info == nullptr) return;
    tagGRCINFO& t = info->tone;
    if (t.ucBrightness == 0 || t.ucContrast == 0) return;
    using KD730::GammaBuilderImp;
    const int k = GammaBuilderImp::contrastClass(t.ucContrast);
    const uint8_t b = t.ucBrightness;
    const int set = info->lCurveSet;
    if (m_mode == ModeColor) {
        GammaBuilderImp::buildColorGamma(t.ucRedTable, 256, b, k, set);
        std::memcpy(t.ucGreenTable, t.ucRedTable, 256);
        std::memcpy(t.ucBlueTable, t.ucRedTable, 256);
    } else if (m_mode == ModeGray) {
        GammaBuilderImp::buildGrayGamma(t.ucGrayTable, 256, b, k, set);
    } else if (m_bFlagB) {
        GammaBuilderImp::buildErrorDiffusionGamma(t.ucGrayTable, 256, b, k, set);
    } else {
        GammaBuilderImp::buildBinGamma(t.ucGrayTable, 256, b, k, set);
    }
}

int CGRC::setInfo(CImg&, void* info) {
    auto* rec = static_cast<tagINFO*>(info);
    if (rec == nullptr || rec->tone.ulSize != kInfoSize) return RTN_PAR;
    setGRCTable(rec);
    m_info = rec->tone;
    m_info.ulSize = kGRCInfoSize;
    return RTN_OK;
}

int CGRC::GRC(CImg& img) const {
    const tagIMAGEINFO& in = img.info();
    if (img.isNull() || in.lBps != 8) return RTN_PAR;
    if (in.lSpp != 1 && in.lSpp != 3) return RTN_UNSUPPORTED;
    if (in.lSpp == 3 && in.ulRGBOrder != 0) return RTN_UNSUPPORTED;
    // The columns written must lie inside every line (the side-by-side page
    // addresses its back half through lXpos).
    const int64_t first = in.lXpos, count = in.lWidth;
    if (first < 0 || count < 0 || in.lHeight < 0 ||
        (first + count) * in.lSpp > in.lSync ||
        int64_t{in.lSync} * in.lHeight > int64_t{in.tImageSize})
        return RTN_PAR;
    // Colour tables built from one curve are equal: every sample then takes
    // the same table, as on a gray line three times as long.
    const bool oneTable = in.lSpp == 1 ||
                          (std::memcmp(m_info.ucRedTable, m_info.ucGreenTable, 256) == 0 &&
                           std::memcmp(m_info.ucRedTable, m_info.ucBlueTable, 256) == 0);
    const uint8_t* table = in.lSpp == 1 ? m_info.ucGrayTable : m_info.ucRedTable;
    const auto samples = static_cast<size_t>(count * in.lSpp);
    for (int32_t y = 0; y < in.lHeight; ++y) {
        uint8_t* line = TvkLinePtr(in, y) + first * in.lSpp;
        if (oneTable)
            ApplyGrayTable(line, samples, table);
        else
            ApplyColorTables(line, static_cast<size_t>(count), m_info.ucRedTable,
                             m_info.ucGreenTable, m_info.ucBlueTable);
    }
    return RTN_OK;
}

void ApplyGrayTablePlain(uint8_t* line, size_t pixels, const uint8_t* table) {
    for (size_t i = 0; i < pixels; ++i) line[i] = table[line[i]];
}

void ApplyColorTablesPlain(uint8_t* line, size_t pixels, const uint8_t* red,
                           const uint8_t* green, const uint8_t* blue) {
    for (size_t i = 0; i < pixels; ++i, line += 3) {
        line[0] = red[line[0]];
        line[1] = green[line[1]];
        line[2] = blue[line[2]];
    }
}

namespace {

// GCC 12 warns about the deliberately undefined parts inside its own 512-bit
// intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// A 256-entry table in four registers; a look-up of 64 bytes at once: the
// two-table permutes take the index's low seven bits, its top bit picks the
// half.
struct Table512 {
    KD_TARGET_BYTE_SHUFFLE_512 explicit Table512(const uint8_t* table)
        : q0(_mm512_loadu_si512(table)), q1(_mm512_loadu_si512(table + 64)),
          q2(_mm512_loadu_si512(table + 128)), q3(_mm512_loadu_si512(table + 192)) {}
    KD_TARGET_BYTE_SHUFFLE_512 __m512i operator()(__m512i index) const {
        const __m512i low = _mm512_permutex2var_epi8(q0, index, q1);
        const __m512i high = _mm512_permutex2var_epi8(q2, index, q3);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
    }
    __m512i q0, q1, q2, q3;
};

KD_TARGET_BYTE_SHUFFLE_512 void ApplyGrayTable512(uint8_t* line, size_t pixels,
                                                  const uint8_t* table) {
    const Table512 lookup(table);
    for (size_t i = 0; i < pixels; i += 64) {
        const size_t n = pixels - i < 64 ? pixels - i : 64;
        const __mmask64 bytes = n == 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
        const __m512i in = _mm512_maskz_loadu_epi8(bytes, line + i);
        _mm512_mask_storeu_epi8(line + i, bytes, lookup(in));
    }
}

// Sixteen pixels (48 bytes) a step, so every step has the same channel
// pattern: each byte takes its channel's table.
KD_TARGET_BYTE_SHUFFLE_512 void ApplyColorTables512(uint8_t* line, size_t pixels,
                                                    const uint8_t* red, const uint8_t* green,
                                                    const uint8_t* blue) {
    const Table512 r(red), g(green), b(blue);
    const __mmask64 greenBytes = 0x492492492492ull;
    const __mmask64 blueBytes = 0x924924924924ull;
    for (size_t i = 0; i < pixels; i += 16) {
        const size_t n = pixels - i < 16 ? pixels - i : 16;
        const __mmask64 bytes = (__mmask64{1} << (3 * n)) - 1;
        uint8_t* p = line + i * 3;
        const __m512i in = _mm512_maskz_loadu_epi8(bytes, p);
        __m512i out = r(in);
        out = _mm512_mask_blend_epi8(greenBytes, out, g(in));
        out = _mm512_mask_blend_epi8(blueBytes, out, b(in));
        _mm512_mask_storeu_epi8(p, bytes, out);
    }
}

#pragma GCC diagnostic pop

} // namespace

void ApplyGrayTable(uint8_t* line, size_t pixels, const uint8_t* table) {
    if (UseByteShuffle512()) return ApplyGrayTable512(line, pixels, table);
    ApplyGrayTablePlain(line, pixels, table);
}

void ApplyColorTables(uint8_t* line, size_t pixels, const uint8_t* red, const uint8_t* green,
                      const uint8_t* blue) {
    if (UseByteShuffle512()) return ApplyColorTables512(line, pixels, red, green, blue);
    ApplyColorTablesPlain(line, pixels, red, green, blue);
}

} // namespace Tvk::Imvra
