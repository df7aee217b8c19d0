#include "EmphasisEdge.h"

#include <cstring>

namespace Tvk::Imvra {

namespace {

bool IsPixelOrderColor(const tagIMAGEINFO& band) {
    return band.lSpp == 3 && band.ulRGBOrder == 0;
}

} // namespace

int CEmphasisEdge::takeSettings(void* info) {
    const auto* rec = static_cast<const tagEMPHASISEDGESTAGEINFO*>(info);
    if (rec == nullptr || rec->ulRequestSize != kEdgeInfoSizeParam || rec->ulLevel == 0)
        return RTN_PAR;
    m_info = *rec;
    return RTN_OK;
}

int CEmphasisEdge::setInfo(CImg& img, void* info) {
    const int r = takeSettings(info);
    if (r != RTN_OK) return r;
    m_lState = 0;
    m_held = tagIMAGEINFO{};
    return createEmphasisEdgeHandle(img) ? RTN_OK : RTN_PAR;
}

void CEmphasisEdge::setEmphasisEdgeHandleInfo(tagEDGEINFO& request, int32_t state,
                                              uintptr_t handle) const {
    request = tagEDGEINFO{};
    request.ulSize = m_info.bParam != 0 ? kEdgeInfoSizeParam : kEdgeInfoSizeHandle;
    request.ulFilterNo = m_ulNumber;
    request.lLineCount = state;
    request.hEdge = handle;
    request.bParam = m_info.bParam;
    if (m_info.bParam != 0) {
        request.lHighTh = m_info.lValues[0];
        request.lHighMul = m_info.lValues[1];
        request.lHighDiv = m_info.lValues[2];
        request.lLowTh = m_info.lValues[3];
        request.lLowMul = m_info.lValues[4];
        request.lLowDiv = m_info.lValues[5];
    }
}

bool CEmphasisEdge::createEmphasisEdgeHandle(CImg& img) {
    releaseEmphasisEdgeHandle();
    const tagIMAGEINFO& band = img.info();
    m_ulNumber = m_info.ulLevel;
    uintptr_t kind = static_cast<uintptr_t>(band.lSpp);
    if (IsPixelOrderColor(band)) {
        m_ulNumber += kRGBNumberOffset;
        kind = kEdgeKindColorRGB;
    }
    m_ulCreatedNumber = m_ulNumber;
    m_createdKind = kind;
    tagEDGEINFO request;
    setEmphasisEdgeHandleInfo(request, 0, kind);
    m_hEdge = CreateEdgeFuncHandle(&request);
    return m_hEdge != 0;
}

void CEmphasisEdge::releaseEmphasisEdgeHandle() {
    if (m_hEdge == 0) return;
    tagEDGEINFO request{};
    request.ulSize = kEdgeInfoSizeParam;
    request.hEdge = m_hEdge;
    ReleaseEdgeFuncHandle(&request);
    m_hEdge = request.hEdge;
}

int32_t CEmphasisEdge::callFilter(BandCall fn, tagIMAGEINFO* dst, tagIMAGEINFO* src) {
    tagEDGEINFO request;
    setEmphasisEdgeHandleInfo(request, m_lState, m_hEdge);
    const int32_t rc = fn(dst, src, &request);
    // The lower layer moves its line count on and may replace the handle.
    m_lState = request.lLineCount;
    m_hEdge = request.hEdge;
    return rc;
}

int CEmphasisEdge::IP(CImg& img) {
    if (img.isNull()) return RTN_PAR;
    const int32_t rc = callFilter(EdgeFuncEx, img, img);
    m_held.lHeight = 0;
    return rc == 0 ? RTN_OK : RTN_PAR;
}

int CEmphasisEdge::filterBand(CImg& img, BandCall fn) {
    const tagIMAGEINFO band = img.info();
    tagIMAGEINFO dst = band;
    if (callFilter(fn, &dst, img) != 0) return RTN_PAR;
    if (dst.lHeight == band.lHeight) return RTN_OK;
    if (dst.lHeight < 0 || dst.lHeight > band.lHeight) return RTN_PAR;
    // The lines not written are held back; the band keeps the lines written.
    m_held.lHeight += band.lHeight - dst.lHeight;
    if (dst.lHeight == 0) {
        // Every line is held back: nothing to hand on yet.
        img.deleteImg();
        return RTN_OK;
    }
    CImg out;
    if (!out.createImg(dst.lXpos, dst.lYpos, dst.lWidth, dst.lHeight, dst.lSync, dst.lBps,
                       dst.lSpp, dst.ulRGBOrder, dst.lXResolution, dst.lYResolution))
        return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    std::memcpy(out.info().lpImage, band.lpImage, out.info().tImageSize);
    img.attachImg(out);
    return RTN_OK;
}

int CEmphasisEdge::startPage(CImg& img) {
    if (img.isNull()) return RTN_PAR;
    // The page's band geometry, kept for the held lines of its last band.
    m_held = img.info();
    m_held.lpImage = nullptr;
    m_held.lHeight = 0;
    m_held.tImageSize = 0;
    return filterBand(img, EdgeFuncStartEx);
}

int CEmphasisEdge::IPFirst(CImg& img) {
    return startPage(img);
}

int CEmphasisEdge::IPMiddle(CImg& img) {
    if (m_lState == 0) return startPage(img);
    if (img.isNull()) return RTN_OK;
    return filterBand(img, EdgeFuncContEx);
}

int CEmphasisEdge::IPLast(CImg& img) {
    if (m_lState == 0) return IP(img);
    if (m_held.lHeight == 0) {
        if (!img.isNull() && img.info().lHeight > 0) {
            tagIMAGEINFO dst = img.info();
            if (callFilter(EdgeFuncFinishEx, &dst, img) != 0) return RTN_PAR;
        }
        releaseEmphasisEdgeHandle();
        return RTN_OK;
    }
    // The held lines come out with this band's lines, in the page's geometry.
    // A line-ordered colour page cannot be joined that way: it stays open.
    if (m_held.lSpp == 3 && m_held.ulRGBOrder != 0) return RTN_PAR;
    const int32_t bandLines = img.isNull() ? 0 : img.info().lHeight;
    const int64_t lines = int64_t{m_held.lHeight} + bandLines;
    if (lines > INT32_MAX) return RTN_PAR;
    CImg out;
    if (!out.createImg(m_held.lXpos, m_held.lYpos, m_held.lWidth, static_cast<int32_t>(lines),
                       m_held.lSync, m_held.lBps, m_held.lSpp, m_held.ulRGBOrder,
                       m_held.lXResolution, m_held.lYResolution))
        return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    if (callFilter(EdgeFuncFinishEx, out, img.isNull() ? nullptr : static_cast<tagIMAGEINFO*>(img)) != 0)
        return RTN_PAR;
    img.attachImg(out);
    m_held.lHeight = 0;
    releaseEmphasisEdgeHandle();
    return RTN_OK;
}

} // namespace Tvk::Imvra
