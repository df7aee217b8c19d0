// Black-and-white stages: binarisation of 8-bit gray pages by this scanner's
// threshold tables, and the clean-up of finished 1-bit pages.
#pragma once

#include "CBFunc.h"
#include "StageSettings.h"

#include <cstdint>

namespace Tvk::Imvra {

namespace KD730 {

// Brightness-to-threshold tables of this scanner: each a slice level that
// falls as the brightness rises.
class BinarizeTableBuilder {
public:
    static uint8_t getThresholdTable(uint8_t brightness);
    static uint8_t getThresholdTable2(uint8_t brightness);
    // Levels of the adaptive kind (method 8).
    static uint8_t getThresholdTableHalvexII(uint8_t brightness);
    // The second table when table is 1, else the first.
    static uint8_t getThresholdTable(uint8_t brightness, int table);
    static uint8_t getThresholdTableHalvexII(uint8_t brightness, int);
};

} // namespace KD730

// Gray page to 1-bit page through the lower layer's binarisation handle; the
// handle carries a method's state (error diffusion and the like) from the
// first band of a page to its last.
class CGrayToBinary : public CSettingsOnEveryBand<> {
public:
    static constexpr uint32_t kMethodAdaptive = kBinAdaptRegion; // two levels of their own
    static constexpr uint32_t kMethodDouble = kBinDoubleCubic;   // double size and resolution

    CGrayToBinary() = default;
    CGrayToBinary(const CGrayToBinary&) = delete;
    CGrayToBinary& operator=(const CGrayToBinary&) = delete;
    ~CGrayToBinary() override { releaseHandle(); }

    const char* getName() const override { return "GrayToBinary"; }
    int IP(CImg& img) override;
    int IPFirst(CImg& img) override;
    int IPMiddle(CImg& img) override { return GrayToBinary(img); }
    int IPLast(CImg& img) override;
    // 2 for a missing or mis-sized record or a page that is not 8-bit gray.
    int setInfo(CImg& img, void* info) override;

    // The two slice levels the request gets for these settings.
    struct Levels {
        uint32_t level1, level2;
    };
    static Levels SliceLevels(const tagGRAYTOBINARYINFO& settings);

    bool holdsHandle() const { return m_request.handle != nullptr; }
    const tagBINFUNCINFO& request() const { return m_request; }

private:
    int GrayToBinary(CImg& img);
    void releaseHandle();

    tagGRAYTOBINARYINFO m_settings{};
    tagBINFUNCINFO m_request{};
};

// Clean-up of a whole 1-bit page in place: isolated-dot erasure (type bit 0)
// and the binary noise filter (type bit 1). No band form.
class CBinIPFilter : public CWholePageStage {
public:
    static constexpr uint32_t kEraseDots = 0x1;
    static constexpr uint32_t kBinaryFilter = 0x2;

    const char* getName() const override { return "BinIPFilter"; }
    int IP(CImg& img) override { return BinIPFilter(img); }
    int setInfo(CImg& img, void* info) override;

private:
    int BinIPFilter(CImg& img) const;

    uint32_t m_ulType = 0;
};

} // namespace Tvk::Imvra
