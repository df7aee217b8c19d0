// Detector of mode 10 of DetectSlantAndSizeEx: slant, corners and rectangle
// from the sheet's two side outlines that the caller traced.
#pragma once

#include "DetectSlantAndSizeEx.h"
#include "TvkDetectSlantAndSize.h"

#include <cstdint>

// Frame kinds of the mode-10 request.
inline constexpr uint32_t kFrameOutlinePair = 32;
inline constexpr uint32_t kFrameOutlinePairTransposed = 33;

class CDetectSlantAndSize_FromFrame : public CDetectSlantAndSizeBase {
public:
    bool CanBandProcess() override { return false; }
    // Takes over the image's resolutions.
    uint32_t InitProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    // 0; 120 for an unknown frame kind, 87 for a missing or empty outline.
    uint32_t ResultProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;

    int32_t xres() const { return m_xres; }
    int32_t yres() const { return m_yres; }

private:
    void TakeResolutions(const tagTVKIMAGEINFO* image);
    int32_t m_xres = 0;
    int32_t m_yres = 0;
};
