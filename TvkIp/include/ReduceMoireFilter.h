// Moire reduction with resolution conversion, and its parts alone: mask
// filters that keep the size and conversions that drop pixels or lines.
#pragma once

#include "CImgInf.h"

#include <cstdint>

// Commands.
inline constexpr int32_t kReduceMoireCreate = 0;
inline constexpr int32_t kReduceMoireFirstBand = 1;
inline constexpr int32_t kReduceMoireBand = 2;
inline constexpr int32_t kReduceMoireLastBand = 3;
inline constexpr int32_t kReduceMoireRelease = 4;
inline constexpr int32_t kReduceMoireWholePage = 5; // ReduceMoire only

// Result codes.
inline constexpr int32_t kReduceMoireErrParam = -1; // no request, no mask, bad geometry
inline constexpr int32_t kReduceMoireErrNoMemory = -2;
inline constexpr int32_t kReduceMoireErrBadRequest = -4; // size, command or images
inline constexpr int32_t kReduceMoireErrNoWorker = -7;

// lMaskMode: the caller's mask; any other value takes the built-in mask of
// the resolution pair.
inline constexpr int32_t kReduceMoireCallerMask = 1;

struct tagREDUCEMOIREFILTERINFO {
    uint32_t ulSize;
    int32_t lCommand;
    int32_t lMaskMode;
    int16_t* pMask;     // caller's coefficients (mode 1)
    int32_t lMaskCount; // odd
    int32_t lMaskScale; // filtered value = (sum of coefficient x sample) x scale / 16384
    int32_t lOutXResolution;
    int32_t lOutYResolution;
    int32_t lOutWidth;
    int32_t lOutHeight;
    int32_t lInXResolution;
    int32_t lInYResolution;
    int32_t lInWidth;
    int32_t lInHeight;
    void* pReduceMoire; // worker of ReduceMoire and of MaskFilterV
    void* pResolutionConvertV;
    void* pMaskFilterH;
    void* pResolutionConvertH;
    int32_t lPendingLines; // out of the first band: mask length - 1
};
inline constexpr uint32_t kReduceMoireInfoSize = sizeof(tagREDUCEMOIREFILTERINFO);

extern "C" {
// All five take a destination, a source band and the request; each band
// command sets dst's lHeight to the lines it wrote. ReduceMoire overwrites
// the source band's pixels.
IMVRA_EXPORT int32_t ReduceMoire(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                 tagREDUCEMOIREFILTERINFO* request);
IMVRA_EXPORT int32_t MaskFilterH(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                 tagREDUCEMOIREFILTERINFO* request);
IMVRA_EXPORT int32_t MaskFilterV(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                 tagREDUCEMOIREFILTERINFO* request);
IMVRA_EXPORT int32_t ResolutionConvertH(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                        tagREDUCEMOIREFILTERINFO* request);
IMVRA_EXPORT int32_t ResolutionConvertV(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                        tagREDUCEMOIREFILTERINFO* request);
}
