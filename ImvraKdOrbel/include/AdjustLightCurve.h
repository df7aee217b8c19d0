// Light-curve correction of a white reference: the scanner keeps per-pixel
// factors in its own memory, one curve per side, resolution and lighting
// (white light, a drop-out colour, an emphasis colour). The data source reads
// the block from the scanner; this code picks the matching curve and rescales
// the white reference above the black reference.
//
// The block comes from the device: every count, length, distance and factor
// place is checked against the block before anything is read.
#pragma once

#include "CImg.h"
#include "ImvraRecords.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Tvk::Imvra::KD730 {

// Size of the light-curve block, exactly.
inline constexpr size_t kLightCurveBlockSize = 524288;
// The time stamp of a block that holds no data.
inline constexpr uint32_t kLightCurveNoData = 0xFFFFFFFFu;
// Bytes of the part of a curve header that is always read.
inline constexpr size_t kLightCurveHeaderSize = 32;

// A curve header as the block holds it (little-endian, decoded by field).
struct tagLCAINFOHEADER {
    uint16_t usHeaderSize;      // data start this many bytes after the header's start; 0 is an error
    uint16_t usSide;            // 0 front, 1 back
    uint16_t usChannels;        // 1, or 3 for red, green, blue
    uint16_t usBits;            // bits per stored factor: 8, 16 or 32
    uint32_t ulDivisor;         // divisor of the factors
    uint32_t ulCount;           // factors per channel (pixels)
    uint32_t ulChannelDistance; // bytes between the channels' data
    uint32_t ulDataSize;        // bytes of data
    uint16_t usResolution;      // dpi
    uint16_t usOrder;           // 1: factors read channel by channel, else pixel by pixel
    uint32_t ulFlags;           // bit 0: curve valid
    uint8_t bDropout;           // drop-out curve (header longer than 32 bytes, else 0)
    uint8_t bEmphasis;          // emphasis curve (likewise)
};

// One loaded curve: channels x count 32-bit factors, channel by channel.
class CLightCurve {
public:
    // Copies the header and sizes the factor raster; false when it cannot be sized.
    bool SetLcInfomation(const tagLCAINFOHEADER& header);
    const tagLCAINFOHEADER& Header() const { return m_header; }
    // Entry i, or null when it lies outside the raster.
    uint32_t* GetPtr(size_t i) const;

private:
    tagLCAINFOHEADER m_header{};
    CTvkRaster m_raster;
};

class CLightCurveAdjustData {
public:
    // Frees the old curves and makes n empty ones; RTN_MEM when memory fails.
    int SetSize(size_t n);
    void Release();
    size_t Count() const { return m_nCount; }
    const CLightCurve* Curve(size_t i) const { return i < m_nCount ? &m_pCurves[i] : nullptr; }

    // Loads the block: RTN_OK, RTN_PAR for a format error (nothing kept),
    // RTN_MEM when memory runs out.
    int LoadData(const uint8_t* block, size_t size);
    // Corrects the white reference (16-bit, one or three samples) in place
    // with the first matching curve; RTN_PAR, nothing changed, when no
    // curve matches or the references do not fit.
    int AdjustData(tagIMAGEINFO* black, tagIMAGEINFO* white, tagSIDE side, int dropout,
                   int emphasis) const;
    // trunc((max(s - b, 0) x f + d / 2) / d) + b, capped at 65535; s when d is 0.
    static uint16_t LightCurveAdjPixel(uint16_t sample, uint16_t black, uint32_t factor,
                                       uint32_t divisor);
    // 2 when the block is missing or of another size, 1 when its time stamp
    // differs from stamp, 0 when equal.
    static int CheckTimeStamp(const uint8_t* block, size_t size, uint32_t stamp);

private:
    std::unique_ptr<CLightCurve[]> m_pCurves;
    size_t m_nCount = 0;
};

} // namespace Tvk::Imvra::KD730
