// Detectors of modes 8 and 11: the one-radiate layers, the back-shadow
// detector and the duplex layer over the older size detectors.
#include "DetectSlantAndSizeEx_OneRadiate2.h"

#include "SizeDetectorGlue.h"
#include "TvkIpError.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {

using ModeRequest = tagDETECTSLANTSIZEEX_ONERADIATE;
using DuplexRequest = tagDETECTSLANTSIZEEX_ONERADIATE_DUPLEX;

// Whether a request of its stated size holds the field ending at `end`.
bool Reaches(const tagDETECTSLANTSIZEEXBASIC* r, size_t end) {
    return r != nullptr && r->cbsize >= end;
}

constexpr size_t kDuplexFlagEnd = offsetof(DuplexRequest, bDuplex) + sizeof(uint8_t);
constexpr size_t kBackImageEnd = offsetof(DuplexRequest, pBackImg) + sizeof(void*);
constexpr size_t kDuplexParamEnd = offsetof(DuplexRequest, lDuplexParam) + sizeof(int32_t);
constexpr size_t kBackResultEnd = offsetof(DuplexRequest, back) + sizeof(tagDETECTRESULTBLOCK);

// The ten words the single-image entry takes: the size detector's four
// initialisation words, the paper size and the four margins.
void CopyTenWords(const ModeRequest& r, tagSLANTSIZEINFO& info) {
    for (int i = 0; i < 4; ++i) info.lOption[i] = r.lParam[i];
    info.lParam[0] = r.paperSize.x;
    info.lParam[1] = r.paperSize.y;
    for (int i = 0; i < 4; ++i) info.lParam[2 + i] = r.lMargin[i];
}

// This detector's success codes are all non-negative and report as 0.
uint32_t DuplexCode(uint32_t code) {
    return static_cast<int32_t>(code) >= 0 ? uint32_t{kDssOk} : DuplexFailureCode(code);
}

void SetWord(CDetectSizeWithDuplex::tagOPTION& o, const int32_t (&words)[21]) {
    static_assert(sizeof(o) == sizeof(words));
    std::memcpy(&o, words, sizeof(o));
}

} // namespace

// ---------------------------------------------------------------------------
// Forwarding layers

uint32_t CDetectSlantAndSize_Forwarding::FirstProc(const tagTVKIMAGEINFO* image,
                                                   tagDETECTSLANTSIZEEXBASIC* request) {
    return m_pInner ? m_pInner->FirstProc(image, request) : kDssNoInner;
}

uint32_t CDetectSlantAndSize_Forwarding::MidProc(const tagTVKIMAGEINFO* image,
                                                 tagDETECTSLANTSIZEEXBASIC* request) {
    return m_pInner ? m_pInner->MidProc(image, request) : kDssNoInner;
}

uint32_t CDetectSlantAndSize_Forwarding::LastProc(const tagTVKIMAGEINFO* image,
                                                  tagDETECTSLANTSIZEEXBASIC* request) {
    return m_pInner ? m_pInner->LastProc(image, request) : kDssNoInner;
}

uint32_t CDetectSlantAndSize_Forwarding::ResultProc(const tagTVKIMAGEINFO* image,
                                                    tagDETECTSLANTSIZEEXBASIC* request) {
    return m_pInner ? m_pInner->ResultProc(image, request) : kDssNoInner;
}

uint32_t CDetectSlantAndSize_OneRadiate::InitProc(const tagTVKIMAGEINFO* image,
                                                  tagDETECTSLANTSIZEEXBASIC* request) {
    if (request == nullptr || request->cbsize != kOneRadiateSize) return kDssBadRequest;
    const auto* r = reinterpret_cast<const ModeRequest*>(request);
    if (r->method > 1) return kDssUnknownMode;
    m_pInner.reset();
    m_pInner.reset(new (std::nothrow) CDetectSlantAndSizeBackShadow);
    if (!m_pInner) return kDssNoMemory;
    return m_pInner->InitProc(image, request);
}

uint32_t CDetectSlantAndSize_OneRadiate_With_Duplex::InitProc(const tagTVKIMAGEINFO* image,
                                                              tagDETECTSLANTSIZEEXBASIC* request) {
    if (request == nullptr) return kDssBadRequest;
    const bool duplex = Reaches(request, kDuplexFlagEnd) &&
                        reinterpret_cast<const DuplexRequest*>(request)->bDuplex != 0;
    m_pInner.reset();
    if (duplex) {
        m_pInner.reset(new (std::nothrow) CDetectSlantAndSize_OneRadiate_With_Duplex_Main);
    } else {
        // A simplex scan runs as mode 8, with the request cut to its size.
        m_pInner.reset(new (std::nothrow) CDetectSlantAndSize_OneRadiate);
        request->cbsize = kOneRadiateSize;
    }
    if (!m_pInner) return kDssNoMemory;
    return m_pInner->InitProc(image, request);
}

// ---------------------------------------------------------------------------
// Back-shadow detector

CDetectSlantAndSizeBackShadow::CDetectSlantAndSizeBackShadow() {
    std::memset(&m_info, 0, sizeof(m_info));
}

CDetectSlantAndSizeBackShadow::~CDetectSlantAndSizeBackShadow() {
    // A size detector still held (released before its result) is freed too.
    delete m_info.pDetector;
}

uint32_t CDetectSlantAndSizeBackShadow::Phase(const tagTVKIMAGEINFO* image, int32_t phase) {
    m_info.size = kSlantSizeInfoSize;
    m_info.lPhase = phase;
    return DetectSlantAndSize(image, &m_info);
}

uint32_t CDetectSlantAndSizeBackShadow::InitProc(const tagTVKIMAGEINFO* image,
                                                 tagDETECTSLANTSIZEEXBASIC* request) {
    if (request == nullptr || request->cbsize < kOneRadiateSize) return kDssBadRequest;
    CopyTenWords(*reinterpret_cast<const ModeRequest*>(request), m_info);
    return Phase(image, kSlantSizeInit);
}

uint32_t CDetectSlantAndSizeBackShadow::FirstProc(const tagTVKIMAGEINFO* image,
                                                  tagDETECTSLANTSIZEEXBASIC*) {
    return Phase(image, kSlantSizeFirst);
}

uint32_t CDetectSlantAndSizeBackShadow::MidProc(const tagTVKIMAGEINFO* image,
                                                tagDETECTSLANTSIZEEXBASIC*) {
    return Phase(image, kSlantSizeMid);
}

uint32_t CDetectSlantAndSizeBackShadow::LastProc(const tagTVKIMAGEINFO* image,
                                                 tagDETECTSLANTSIZEEXBASIC*) {
    return Phase(image, kSlantSizeLast);
}

uint32_t CDetectSlantAndSizeBackShadow::ResultProc(const tagTVKIMAGEINFO* image,
                                                   tagDETECTSLANTSIZEEXBASIC* request) {
    if (request == nullptr || request->cbsize < kOneRadiateSize) return kDssBadRequest;
    CopyTenWords(*reinterpret_cast<const ModeRequest*>(request), m_info);
    uint32_t rc = Phase(image, kSlantSizeResult);
    if (rc != 0) return rc;
    rc = Phase(image, kSlantSizeRelease);
    StoreResultBlock(request->result, request->dwResultFlag, {m_info.lLeft, m_info.lTop},
                     {m_info.lRight - m_info.lLeft, m_info.lBottom - m_info.lTop},
                     {m_info.leftTop, m_info.rightTop, m_info.leftBottom, m_info.rightBottom},
                     m_info.slant);
    return rc;
}

// ---------------------------------------------------------------------------
// Duplex layer

CDetectSlantAndSize_OneRadiate_With_Duplex_Main::CDetectSlantAndSize_OneRadiate_With_Duplex_Main() =
    default;
CDetectSlantAndSize_OneRadiate_With_Duplex_Main::
    ~CDetectSlantAndSize_OneRadiate_With_Duplex_Main() = default;

uint32_t
CDetectSlantAndSize_OneRadiate_With_Duplex_Main::InitProc(const tagTVKIMAGEINFO* image,
                                                          tagDETECTSLANTSIZEEXBASIC* request) {
    if (request == nullptr || request->cbsize < kOneRadiateSize) return kDssBadRequest;
    const auto* r = reinterpret_cast<const ModeRequest*>(request);
    m_pDetector.reset();
    m_pDetector.reset(new (std::nothrow) CDetectSizeWithDuplex);
    if (!m_pDetector) return kDssNoMemory;
    std::memset(m_lOption, 0, sizeof(m_lOption));
    m_lOption[0] = static_cast<int32_t>(CDetectSizeWithDuplex::kOptionSize);
    for (int i = 0; i < 4; ++i) m_lOption[1 + i] = r->lParam[i];
    for (int i = 11; i <= 14; ++i) m_lOption[i] = -1;
    if (Reaches(request, kDuplexParamEnd)) {
        m_lOption[15] = reinterpret_cast<const DuplexRequest*>(request)->lDuplexParam;
    }
    m_lOption[17] = m_lOption[18] = 40;
    m_lOption[19] = m_lOption[20] = 100;
    CDetectSizeWithDuplex::tagOPTION option{};
    SetWord(option, m_lOption);
    const CImg::tagIMGSET set = ImageSetOf(image);
    m_xdpi = set.xdpi;
    m_ydpi = set.ydpi;
    return DuplexCode(m_pDetector->Initialize(set, set, &option, r->method == 1));
}

uint32_t CDetectSlantAndSize_OneRadiate_With_Duplex_Main::Band(const tagTVKIMAGEINFO* image,
                                                               tagDETECTSLANTSIZEEXBASIC* request,
                                                               uint32_t command) {
    if (!m_pDetector) return kDssNoInner;
    const tagTVKIMAGEINFO* backImage =
        Reaches(request, kBackImageEnd) ? reinterpret_cast<const DuplexRequest*>(request)->pBackImg
                                        : nullptr;
    const CImg::tagIMGSET front = ImageSetOf(image);
    const CImg::tagIMGSET back = ImageSetOf(backImage);
    uint32_t code;
    if (command == kDssCmdFirst) {
        code = m_pDetector->first(front, back);
    } else if (command == kDssCmdMid) {
        code = m_pDetector->mid(front, back);
    } else {
        code = m_pDetector->last(front, back);
    }
    return DuplexCode(code);
}

uint32_t
CDetectSlantAndSize_OneRadiate_With_Duplex_Main::FirstProc(const tagTVKIMAGEINFO* image,
                                                           tagDETECTSLANTSIZEEXBASIC* request) {
    return Band(image, request, kDssCmdFirst);
}

uint32_t
CDetectSlantAndSize_OneRadiate_With_Duplex_Main::MidProc(const tagTVKIMAGEINFO* image,
                                                         tagDETECTSLANTSIZEEXBASIC* request) {
    return Band(image, request, kDssCmdMid);
}

uint32_t
CDetectSlantAndSize_OneRadiate_With_Duplex_Main::LastProc(const tagTVKIMAGEINFO* image,
                                                          tagDETECTSLANTSIZEEXBASIC* request) {
    return Band(image, request, kDssCmdLast);
}

uint32_t
CDetectSlantAndSize_OneRadiate_With_Duplex_Main::ResultProc(const tagTVKIMAGEINFO*,
                                                            tagDETECTSLANTSIZEEXBASIC* request) {
    if (request == nullptr || request->cbsize < kOneRadiateSize) return kDssBadRequest;
    if (!m_pDetector) return kDssNoInner;
    const auto* r = reinterpret_cast<const ModeRequest*>(request);
    int32_t words[21];
    std::memcpy(words, m_lOption, sizeof(words));
    words[5] = r->paperSize.x;
    words[6] = r->paperSize.y;
    words[7] = r->lMargin[1];
    words[8] = r->lMargin[0];
    words[9] = r->lMargin[2];
    words[10] = r->lMargin[3];
    for (const uint32_t side : {1u, 0u}) {
        tagDETECTRESULTBLOCK* out = &request->result;
        if (side == 0) {
            if (!Reaches(request, kBackResultEnd)) break;
            out = &reinterpret_cast<DuplexRequest*>(request)->back;
        }
        words[16] = static_cast<int32_t>(side);
        CDetectSizeWithDuplex::tagOPTION option{};
        SetWord(option, words);
        tagDETECTSIZEINFO info{};
        info.ulSize = kDetectSizeInfoSize;
        const uint32_t code = DuplexCode(m_pDetector->result(&info, &option));
        if (code != kDssOk) return code;
        StoreResultBlock(
            *out, request->dwResultFlag, {info.rect.left, info.rect.top},
            {info.rect.right - info.rect.left, info.rect.bottom - info.rect.top},
            SizeDetectorCorners(info.corner, SteeperThanDiagonal(info.slant, m_xdpi, m_ydpi)),
            info.slant);
    }
    return kDssOk;
}

// ---------------------------------------------------------------------------
// Makers for the interface's mode table

CDetectSlantAndSizeBase* CreateDetectSlantAndSize_OneRadiate() {
    return new (std::nothrow) CDetectSlantAndSize_OneRadiate;
}

CDetectSlantAndSizeBase* CreateDetectSlantAndSize_OneRadiate_With_Duplex() {
    return new (std::nothrow) CDetectSlantAndSize_OneRadiate_With_Duplex;
}
