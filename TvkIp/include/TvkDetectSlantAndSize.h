// Slant-and-size detection interface: one exported entry that runs a command
// of a paper-edge detector kept in the caller's request record, and the
// abstract detector with its command protocol.
#pragma once

#include "CImgInf.h"
#include "DetectSlantAndSizeEx.h"
#include "TvkTypes.h"

#include <cstdint>

// Base of every detector behind DetectSlantAndSizeEx. The state word is -1
// after construction and afterwards the last command Proc ran; only the
// whole-page command looks at it.
class CDetectSlantAndSizeBase {
public:
    CDetectSlantAndSizeBase() = default;
    CDetectSlantAndSizeBase(const CDetectSlantAndSizeBase&) = delete;
    CDetectSlantAndSizeBase& operator=(const CDetectSlantAndSizeBase&) = delete;
    virtual ~CDetectSlantAndSizeBase() = default;

    // Whether the band commands (first, middle, last) are accepted.
    virtual bool CanBandProcess() = 0;
    virtual uint32_t InitProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    virtual uint32_t FirstProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    virtual uint32_t MidProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    virtual uint32_t LastProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    virtual uint32_t ResultProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    // Whole page in one call: first band, an empty last band, results.
    virtual uint32_t PageProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    virtual uint32_t ImageProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    // Runs request->dwCommand and records it as the state.
    virtual uint32_t Proc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request);
    // Destroys the object.
    virtual void Release();

    int32_t state() const { return m_lState; }

protected:
    int32_t m_lState = -1;
};

// Makers of the detectors that live in their own units (modes 8, 10, 11).
// Each returns a new detector, or null when memory runs out.
CDetectSlantAndSizeBase* CreateDetectSlantAndSize_OneRadiate();
CDetectSlantAndSizeBase* CreateDetectSlantAndSize_FromFrame();
CDetectSlantAndSizeBase* CreateDetectSlantAndSize_OneRadiate_With_Duplex();

extern "C" {
// Runs one command (dwCommand) on the detector held in the request, making
// it for dwMode first when pHandle is null. Returns kDssOk, kDssNoMemory,
// kDssBadRequest, kDssUnknownMode or the detector's own code.
IMVRA_EXPORT uint32_t DetectSlantAndSizeEx(const tagTVKIMAGEINFO* image,
                                           tagDETECTSLANTSIZEEXBASIC* request);
// Destroys the detector held in the request and clears pHandle; always 0.
IMVRA_EXPORT uint32_t ReleaseSlantSizeExHandle(tagDETECTSLANTSIZEEXBASIC* request);
}
