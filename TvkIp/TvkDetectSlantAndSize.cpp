// The slant-and-size detection interface: command protocol of the detectors
// kept in the caller's request record.
#include "TvkDetectSlantAndSize.h"

#include "DetectSlantAndSizeEx_OneRadiateEx.h"
#include "TvkIpError.h"

#include <new>

uint32_t CDetectSlantAndSizeBase::InitProc(const tagTVKIMAGEINFO*, tagDETECTSLANTSIZEEXBASIC*) {
    return kDssOk;
}

uint32_t CDetectSlantAndSizeBase::FirstProc(const tagTVKIMAGEINFO* image,
                                            tagDETECTSLANTSIZEEXBASIC* request) {
    return ImageProc(image, request);
}

uint32_t CDetectSlantAndSizeBase::MidProc(const tagTVKIMAGEINFO* image,
                                          tagDETECTSLANTSIZEEXBASIC* request) {
    return ImageProc(image, request);
}

uint32_t CDetectSlantAndSizeBase::LastProc(const tagTVKIMAGEINFO* image,
                                           tagDETECTSLANTSIZEEXBASIC* request) {
    return ImageProc(image, request);
}

uint32_t CDetectSlantAndSizeBase::ResultProc(const tagTVKIMAGEINFO*, tagDETECTSLANTSIZEEXBASIC*) {
    return kDssOk;
}

uint32_t CDetectSlantAndSizeBase::PageProc(const tagTVKIMAGEINFO* image,
                                           tagDETECTSLANTSIZEEXBASIC* request) {
    uint32_t rc = FirstProc(image, request);
    if (rc != kDssOk) return rc;
    rc = LastProc(nullptr, request);
    if (rc != kDssOk) return rc;
    return ResultProc(image, request);
}

uint32_t CDetectSlantAndSizeBase::ImageProc(const tagTVKIMAGEINFO*, tagDETECTSLANTSIZEEXBASIC*) {
    return kDssOk;
}

uint32_t CDetectSlantAndSizeBase::Proc(const tagTVKIMAGEINFO* image,
                                       tagDETECTSLANTSIZEEXBASIC* request) {
    const uint32_t command = request->dwCommand;
    uint32_t rc;
    switch (command) {
    case kDssCmdInit:
        rc = InitProc(image, request);
        break;
    case kDssCmdFirst:
        rc = FirstProc(image, request);
        break;
    case kDssCmdMid:
        rc = MidProc(image, request);
        break;
    case kDssCmdLast:
        rc = LastProc(image, request);
        break;
    case kDssCmdResult:
        rc = ResultProc(image, request);
        break;
    case kDssCmdPage: {
        // A fresh detector is set up and runs the page; after bands, a page
        // or results, the whole-page command only gives the results.
        const int32_t s = m_lState;
        if (s == -1) {
            rc = InitProc(image, request);
            if (rc != kDssOk) return rc;
        }
        if (s == -1 || s == 0) {
            rc = PageProc(image, request);
            if (rc != kDssOk) return rc;
            m_lState = kDssCmdPage;
            return rc;
        }
        rc = ResultProc(image, request);
        m_lState = kDssCmdPage;
        return rc;
    }
    default:
        rc = kDssBadRequest;
        break;
    }
    m_lState = static_cast<int32_t>(command);
    return rc;
}

void CDetectSlantAndSizeBase::Release() {
    delete this;
}

namespace {

CDetectSlantAndSizeBase* CreateDetector(uint32_t mode, bool* known) {
    *known = true;
    switch (mode) {
    case kDssModeOneRadiate:
        return CreateDetectSlantAndSize_OneRadiate();
    case kDssModeFromFrame:
        return CreateDetectSlantAndSize_FromFrame();
    case kDssModeOneRadiateDuplex:
        return CreateDetectSlantAndSize_OneRadiate_With_Duplex();
    case kDssModeOneRadiateEx:
        return new (std::nothrow) CDetectSlantAndSize_OneRadiateEx();
    default:
        *known = false;
        return nullptr;
    }
}

void ReleaseHandle(tagDETECTSLANTSIZEEXBASIC* request) {
    if (!request) return;
    auto* detector = static_cast<CDetectSlantAndSizeBase*>(request->pHandle);
    request->pHandle = nullptr;
    if (detector) detector->Release();
}

uint32_t Run(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) {
    if (!request || request->cbsize < kDssBasicSize) return kDssBadRequest;
    const uint32_t command = request->dwCommand;
    if (command == kDssCmdRelease) {
        ReleaseHandle(request);
        return kDssOk;
    }
    if (command == kDssCmdInit && request->pHandle) return kDssBadRequest;
    if (!request->pHandle) {
        bool known = false;
        CDetectSlantAndSizeBase* detector = CreateDetector(request->dwMode, &known);
        if (!known) return kDssUnknownMode;
        if (!detector) return kDssNoMemory;
        request->pHandle = detector;
    }
    auto* detector = static_cast<CDetectSlantAndSizeBase*>(request->pHandle);
    if ((command == kDssCmdFirst || command == kDssCmdMid || command == kDssCmdLast) &&
        !detector->CanBandProcess())
        return kDssBadRequest;
    return detector->Proc(image, request);
}

} // namespace

extern "C" {

IMVRA_EXPORT uint32_t DetectSlantAndSizeEx(const tagTVKIMAGEINFO* image,
                                           tagDETECTSLANTSIZEEXBASIC* request) {
    IpSetLastError(0);
    try {
        return Run(image, request);
    } catch (const std::bad_alloc&) {
        return kDssNoMemory;
    } catch (uint32_t code) {
        return code;
    } catch (int32_t code) {
        return static_cast<uint32_t>(code);
    } catch (...) {
        return kDssNoMemory;
    }
}

IMVRA_EXPORT uint32_t ReleaseSlantSizeExHandle(tagDETECTSLANTSIZEEXBASIC* request) {
    IpSetLastError(0);
    ReleaseHandle(request);
    return kDssOk;
}
}
