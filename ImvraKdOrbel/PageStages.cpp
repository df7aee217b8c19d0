#include "PageStages.h"

#include "PlatformLoader.h"
#include "RemoveShadow.h"
#include "TvkLogger.h"
#include "ZntxOrientation.h"

#include <algorithm>
#include <cstdint>

namespace Tvk::Imvra {

// ---------------------------------------------------------------------------
// Inversion

int CInverse::process(CImg& img) {
    tagIMAGEINFO& info = img.info();
    if (info.lSpp != 1) return RTN_PAR;
    if (img.isNull()) return RTN_OK;
    const int64_t bytes = (static_cast<int64_t>(info.lWidth) * info.lBps + 7) / 8;
    for (int32_t y = 0; y < info.lHeight; ++y) {
        uint8_t* row = info.lpImage + static_cast<size_t>(y) * static_cast<size_t>(info.lSync);
        for (int64_t x = 0; x < bytes; ++x) row[x] = static_cast<uint8_t>(~row[x]);
    }
    return RTN_OK;
}

// ---------------------------------------------------------------------------
// Show-through

int CEraseBackPage::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagERASEBACKPAGEINFO*>(info);
    if (rec == nullptr || rec->ulSize != kEraseBackPageInfoSize || rec->ulCoefficient < 1 ||
        rec->ulCoefficient > 7)
        return RTN_PAR;
    m_gain = 32u << rec->ulCoefficient; // 1: 64 ... 7: 4096
    m_threshold = rec->ulThreshold;
    return RTN_OK;
}

int CEraseBackPage::process(CImg& img) {
    tagIMAGEINFO& info = img.info();
    if (info.lBps != 8 || info.lSpp != 3) return RTN_PAR;
    size_t step = 0, lineStep = 0; // between the samples of a pixel, between lines
    if (info.ulRGBOrder == 0) {
        step = 1;
        lineStep = static_cast<size_t>(info.lSync);
    } else if (info.ulRGBOrder == 1) {
        step = static_cast<size_t>(info.lSync);
        lineStep = 3 * step;
    } else {
        return RTN_PAR;
    }
    if (img.isNull()) return RTN_OK;
    const size_t pixelStep = info.ulRGBOrder == 0 ? 3 : 1;
    for (int32_t y = 0; y < info.lHeight; ++y) {
        uint8_t* p = info.lpImage + static_cast<size_t>(y) * lineStep;
        for (int32_t x = 0; x < info.lWidth; ++x, p += pixelStep) {
            uint8_t& r = p[0];
            uint8_t& g = p[step];
            uint8_t& b = p[2 * step];
            const uint32_t k = ((static_cast<uint32_t>(r) * g * b) >> 12) * m_gain >> 12;
            if (k < m_threshold) continue;
            r = static_cast<uint8_t>(std::min<uint32_t>(r + k, 255));
            g = static_cast<uint8_t>(std::min<uint32_t>(g + k, 255));
            b = static_cast<uint8_t>(std::min<uint32_t>(b + k, 255));
        }
    }
    return RTN_OK;
}

// ---------------------------------------------------------------------------
// Shadow

namespace KD730 {

int CRmvShadow::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagRMVSHADOWSTAGEINFO*>(info);
    if (rec == nullptr || rec->ulSize != kRmvShadowStageInfoSize || rec->lLength < 1)
        return RTN_PAR;
    m_info = *rec;
    return RTN_OK;
}

int CRmvShadow::IP(CImg& img) {
    tagREMOVE_SHADOW_INFO request{};
    request.ulSize = sizeof(tagREMOVE_SHADOW_INFO);
    // Length, document margin, level and reserved word 0: the detector's defaults.
    request.ulReserved = 0;
    request.lShadowLength = 0;
    request.lDocumentMargin = 0;
    request.lLevel = 0;
    request.bFront = m_info.lTopFlag;
    request.lPosition = m_info.lTopFlag != 0 ? m_info.lMargin : m_info.lMargin + m_info.lLength;
    request.lPositionMargin = 0;
    RemoveShadow(img, &request); // a shadow that is not found leaves the page as it is
    return RTN_OK;
}

} // namespace KD730

// ---------------------------------------------------------------------------
// Text direction

namespace {

PlatformLayer& OrientationLayer() {
    static PlatformLayer layer("orientation", "libKdOrientation.so");
    return layer;
}

template <class F> F Call(const char* name) {
    return reinterpret_cast<F>(OrientationLayer().symbol(name));
}

// What the calls give when the layer itself is missing.
constexpr int kNoLayer = -1;

} // namespace

CTextImageDirection::CTextImageDirection(const char* ocrPath) {
    if (ocrPath == nullptr || ocrPath[0] == '\0') return;
    auto changepath = Call<ZNTO_changepath_t>("ZNTX_changepath");
    const int r = changepath != nullptr ? changepath(ocrPath) : kNoLayer;
    TvkLogger::writeLog("CTextImageDirection::setOcrPath ZNTX_changepath return %d", r);
}

int CTextImageDirection::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagTEXTIMAGEDIRECTIONINFO*>(info);
    if (rec == nullptr || rec->ulSize != kTextImageDirectionInfoSize) return RTN_PAR;
    m_lang = rec->tidlang;
    m_codePage = rec->tidcodepage;
    return RTN_OK;
}

int CTextImageDirection::dispatchError(int code) {
    return code == -1902 || code == -1002 || code == -1904 ? RTN_MEM : RTN_PAR;
}

int CTextImageDirection::openLibrary() {
    if (m_lang == 0) return RTN_PAR;
    auto modeset = Call<ZNTO_exmodeset_t>("ZNTX_exmodeset");
    int r = modeset != nullptr ? modeset(1, static_cast<int>(m_lang), static_cast<int>(m_codePage))
                               : kNoLayer;
    if (r != 0) {
        TvkLogger::writeLog("CTextImageDirection::openLibrary ZNTX_exmodeset return %d", r);
        return dispatchError(r);
    }
    auto open = Call<ZNTO_exopen_t>("ZNTX_exopen");
    r = open != nullptr ? open(0, 6, 0) : kNoLayer;
    if (r != 0) {
        TvkLogger::writeLog("CTextImageDirection::openLibrary ZNTX_exopen return %d", r);
        return dispatchError(r);
    }
    m_openLang = m_lang;
    m_openCodePage = m_codePage;
    return RTN_OK;
}

int CTextImageDirection::execLibrary(CImg& img) {
    const tagIMAGEINFO& info = img.info();
    ZNTD_IMAGE record{};
    if (info.lSpp == 3 && info.lBps == 8 && info.ulRGBOrder == 0) {
        record.kind = ZNTD_KIND_COLOUR;
        record.rowBytes = info.lSync;
    } else if (info.lSpp == 3 && info.lBps == 8 && info.ulRGBOrder == 1) {
        // Line order: the first sample row of each line stands for the line.
        record.kind = ZNTD_KIND_GRAY;
        record.rowBytes = 3 * info.lSync;
    } else if (info.lSpp == 1 && info.lBps == 8) {
        record.kind = ZNTD_KIND_GRAY;
        record.rowBytes = info.lSync;
    } else if (info.lSpp == 1 && info.lBps == 1) {
        record.kind = ZNTD_KIND_BILEVEL;
        record.rowBytes = info.lSync;
    } else {
        return RTN_PAR;
    }
    if (img.isNull()) return RTN_PAR;
    record.data = info.lpImage;
    record.width = std::min(info.lWidth, static_cast<int32_t>(ZNTD_MAX_SIDE));
    record.height = std::min(info.lHeight, static_cast<int32_t>(ZNTD_MAX_SIDE));
    record.xResolution = info.lXResolution;
    record.yResolution = info.lYResolution;

    auto detect = Call<ZNTO_spdetect_t>("ZNTD_spdetect");
    if (detect == nullptr) return RTN_PAR;
    // An undecided page leaves the word as it was: it must read 0 (no turn).
    m_result = 0;
    int32_t work[2] = {0, 0};
    int r = detect(&record, &m_result, work);
    if (r != 0) r = detect(&record, &m_result, nullptr);
    if (r != 0 || (m_result != 0 && m_result != 90 && m_result != 180 && m_result != 270))
        m_result = 0;
    if (r == 0) return RTN_OK;
    TvkLogger::writeLog("CTextImageDirection::execLibrary ZNTD_spdetect return %d", r);
    TvkLogger::writeLog("CTextImageDirection::execLibrary ZNTD_spdetect Img=%x Width=%d Height=%d "
                        "Sync=%d Spp=%d Bps=%d XRes=%d YRes=%d",
                        static_cast<unsigned>(reinterpret_cast<uintptr_t>(info.lpImage)),
                        info.lWidth, info.lHeight, info.lSync, info.lSpp, info.lBps,
                        info.lXResolution, info.lYResolution);
    return r > 0 ? RTN_OK : dispatchError(r);
}

void CTextImageDirection::closeLibrary() {
    if (m_openLang == 0) return;
    m_openLang = 0;
    m_openCodePage = 0;
    auto close = Call<ZNTO_exclose_t>("ZNTX_exclose");
    const int r = close != nullptr ? close(0) : kNoLayer;
    if (r != 0) TvkLogger::writeLog("CTextImageDirection::closeLibrary ZNTX_exclose return %d", r);
}

int CTextImageDirection::TextImageDirection(CImg& img) {
    m_result = 0;
    int r = openLibrary();
    if (r == RTN_OK) r = execLibrary(img);
    closeLibrary();
    return r;
}

} // namespace Tvk::Imvra
