// Tone stage: brightness and contrast applied to 8-bit pages as 256-entry
// tone tables (one for gray, one per colour channel), and the tone curves of
// this scanner that build those tables.
#pragma once

#include "StageSettings.h"

#include <cstddef>
#include <cstdint>

namespace Tvk::Imvra {

namespace KD730 {

// This scanner's tone curves. x is the table index, b the brightness byte,
// k the contrast class 1..7 (held to that range). Every curve is computed in
// double precision and truncated toward zero after adding 0.5; results below
// 1 become 0 and results of 255 or more become 255.
class GammaBuilderImp {
public:
    // Contrast byte to contrast class: trunc(contrast * 7 / 255) + 1, held to 1..7.
    static int contrastClass(uint8_t contrast);

    static uint8_t calcColorGamma(int x, uint8_t b, int k);
    static uint8_t calcColorGamma2(int x, uint8_t b, int k);
    static uint8_t calcGrayGamma(int x, uint8_t b, int k);
    static uint8_t calcGrayGamma2(int x, uint8_t b, int k);
    static uint8_t calcErrorDiffusionGamma(int x, uint8_t b, int k);
    static uint8_t calcErrorDiffusionGamma2(int x, uint8_t b, int k);
    static uint8_t calcBinGamma(int x, uint8_t b, int k);
    static uint8_t calcBinGamma2(int x, uint8_t b, int k);
    // The inverse of the binary curves: the input level that gives output y.
    static double calcBinGammaInv(int y, int k);
    static double calcBinGammaInv2(int y, int k);

    // Entry x (0 <= x < count) of table = the curve at x; curveSet 1 selects
    // the second set of curves, any other value the first.
    static void buildColorGamma(uint8_t* table, size_t count, uint8_t b, int k, int curveSet);
    static void buildGrayGamma(uint8_t* table, size_t count, uint8_t b, int k, int curveSet);
    static void buildErrorDiffusionGamma(uint8_t* table, size_t count, uint8_t b, int k,
                                         int curveSet);
    static void buildBinGamma(uint8_t* table, size_t count, uint8_t b, int k, int curveSet);
};

} // namespace KD730

class CGRC : public CSettingsOnEveryBand<> {
public:
    // The stage's settings record: the tone record (its size word holding
    // kInfoSize) followed by the curve set.
    struct tagINFO {
        tagGRCINFO tone;
        int32_t lCurveSet; // 1: the second set of curves
    };
    static constexpr uint32_t kInfoSize = sizeof(tagINFO);

    enum ColorMode : int { ModeBinary = 0, ModeGray = 1, ModeColor = 2 };

    const char* getName() const override { return "GRC"; }
    int IP(CImg& img) override { return GRC(img); }
    int IPFirst(CImg& img) override { return GRC(img); }
    int IPMiddle(CImg& img) override { return GRC(img); }
    int IPLast(CImg& img) override { return GRC(img); }
    int setInfo(CImg& img, void* info) override;

    // Stores the mode and clears both flags; gray and colour keep flag A,
    // binary keeps flag B (error diffusion).
    void setMode(ColorMode mode, bool flagA, bool flagB);
    ColorMode mode() const { return m_mode; }
    bool flagA() const { return m_bFlagA; }
    bool flagB() const { return m_bFlagB; }

    // Builds the record's tables for the current mode from its brightness and
    // contrast; with either at 0 the record's own tables stay as filled.
    void setGRCTable(tagINFO* info) const;
    // Applies the tables to the pixels lXpos .. lXpos + lWidth - 1 of every
    // line: 2 for a page that is not 8-bit or whose columns leave the line,
    // 1 for a planar colour page or another sample count.
    int GRC(CImg& img) const;

    const tagGRCINFO& tables() const { return m_info; }

private:
    tagGRCINFO m_info{};
    ColorMode m_mode = ModeGray;
    bool m_bFlagA = false;
    bool m_bFlagB = false;
};
static_assert(offsetof(CGRC::tagINFO, lCurveSet) == kGRCInfoSize && CGRC::kInfoSize == 1036);

// Tone tables over 8-bit lines: gray (one table) and pixel-order colour
// (one table per channel). The plain loops are the reference; the vector
// forms give the same bytes.
void ApplyGrayTable(uint8_t* line, size_t pixels, const uint8_t* table);
void ApplyColorTables(uint8_t* line, size_t pixels, const uint8_t* red, const uint8_t* green,
                      const uint8_t* blue);
void ApplyGrayTablePlain(uint8_t* line, size_t pixels, const uint8_t* table);
void ApplyColorTablesPlain(uint8_t* line, size_t pixels, const uint8_t* red,
                           const uint8_t* green, const uint8_t* blue);

} // namespace Tvk::Imvra
