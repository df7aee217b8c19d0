// Colour stages of 24-bit pages: drop-out and emphasis of one ink colour,
// background saturation through the lower layer, and the conversion of this
// scanner's colours to sRGB.
#pragma once

#include "StageSettings.h"

#include <cstddef>
#include <cstdint>

namespace Tvk::Imvra {

// Drop-out and emphasis colours (ulColor of tagDROPOUTCOLORINFO).
enum tagINKCOLOR : uint32_t {
    INK_NONE = 0,
    INK_RED = 1,
    INK_GREEN = 2,
    INK_BLUE = 3,
    INK_LISTED = 4, // a listed colour: not handled by these stages
};

// Shared frame of the two one-colour stages: the record check and the band
// check; the pixel rule is the subclass's.
class CInkColorStage : public CSettingsOnEveryBand<CIPSameOnEveryBand> {
public:
    int setInfo(CImg& img, void* info) override;

protected:
    // 2 for a band that is not 8-bit three-sample, 1 for one that is not in
    // pixel order or a colour these stages do not handle; 0 otherwise, the
    // band's pixels passed to apply.
    int process(CImg& img) override;
    virtual bool checksFormatAtSetInfo() const { return false; }
    // One line of pixels in place; channel is 0, 1 or 2.
    virtual void apply(uint8_t* line, size_t pixels, int channel) const = 0;

    tagDROPOUTCOLORINFO m_info{};
};

// Copies the chosen channel into all three, so marks of that colour vanish.
class CDropOutColor : public CInkColorStage {
public:
    const char* getName() const override { return "DropOutColor"; }

protected:
    void apply(uint8_t* line, size_t pixels, int channel) const override;
};

// Each pixel becomes the mean (rounded down) of the two other channels, so
// marks of the chosen colour come out dark.
class CEmphasisColor : public CInkColorStage {
public:
    const char* getName() const override { return "EmphasisColor"; }

protected:
    bool checksFormatAtSetInfo() const override { return true; }
    void apply(uint8_t* line, size_t pixels, int channel) const override;
};

namespace KD730 {

// Built-in sRGB matrices of this scanner (rows output R, G, B; columns input
// R, G, B; unit 1024): kind 1 and any other kind. The flatbed and feeder
// photo sets are the feeder's.
void getSRGBMatrixFeeder(long (*matrix)[3], long kind);
void getSRGBMatrixFlatbed(long (*matrix)[3], long kind);
void getSRGBMatrixFeederPhoto(long (*matrix)[3], long kind);

// Background saturation of a whole page by the lower layer, in one call.
class CColorSaturate : public CWholePageStage {
public:
    const char* getName() const override { return "ColorSaturate"; }
    int IP(CImg& img) override;
    int setInfo(CImg&, void*) override { return RTN_OK; } // no settings
};

// The scanner's colours to sRGB by a 3x3 fixed-point matrix (unit 1024).
class CSRGBConversion : public CSettingsOnEveryBand<CIPSameOnEveryBand> {
public:
    static constexpr uint32_t kTypeBuiltIn = 0;
    static constexpr uint32_t kTypeBuiltIn1 = 1;
    static constexpr uint32_t kTypeOwnMatrix = 2;

    const char* getName() const override { return "SRGBConversion"; }
    int setInfo(CImg& img, void* info) override;

protected:
    int process(CImg& img) override;

private:
    uint32_t m_ulType = 0;
    int32_t m_matrix[3][3]{};
};

} // namespace KD730

// One line of pixel-order RGB through the matrix: each output is
// (row . input + 512) >> 10 (rounding toward minus infinity) held to 0..255,
// from the pixel's input values. The plain loop is the reference; the vector
// form gives the same bytes.
void ConvertLineByMatrix(uint8_t* line, size_t pixels, const int32_t (&matrix)[3][3]);
void ConvertLineByMatrixPlain(uint8_t* line, size_t pixels, const int32_t (&matrix)[3][3]);

} // namespace Tvk::Imvra
