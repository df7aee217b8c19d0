#include "SkewCorrection.h"

#include "RotateImage.h"
#include "Shading.h"

#include <algorithm>

namespace Tvk::Imvra {

namespace {
// Working resolution of the slant measurement by contents.
constexpr int32_t kContentsResolution = 150;
} // namespace

int CSkewCorrection::setInfo(CImg& img, void* info) {
    if (info == nullptr) return RTN_PAR;
    if (img.info().lBps == 1) return RTN_UNSUPPORTED;
    m_info = *static_cast<const tagSKEWCORRECTIONSTAGEINFO*>(info);
    return RTN_OK;
}

int CSkewCorrection::SetBackgroundColor(CImg& img, tagKDRECT rect) {
    if (m_info.pShading != nullptr) return m_info.pShading->fixPlatenImage(img, rect);
    return CImgEdit::FillColor(img, m_info.bgColor, rect) ? RTN_OK : RTN_PAR;
}

void CSkewCorrection::MakeRotateRequest(const tagSKEWCORRECTIONSTAGEINFO& s,
                                        tagROTATEINFO& request, tagBINFUNCINFO& binarise,
                                        tagDETECTTEXTSLANTINFO& slant) {
    request = tagROTATEINFO{};
    binarise = tagBINFUNCINFO{};
    slant = tagDETECTTEXTSLANTINFO{};
    request.size = kRotateInfoSize;
    request.topLeft = s.LeftTop;
    request.bottomLeft = s.LeftBottom;
    request.topRight = s.RightTop;
    request.bottomRight = s.RightBottom;
    request.keep = s.vectorSlant;
    request.rightAnchored = s.ulPlacement == 1 ? 1 : 0;
    request.interpolate = 1;
    request.last = 1;
    request.fillMode = 0;
    if (s.bByContents == 0) return;
    // Deskew by contents: the rotation measures the text slant on a
    // binarised copy at the working resolution and turns by it.
    binarise.size = kBinFuncInfoSizeLong;
    binarise.kind = kBinFixed;
    binarise.firstSlice = std::clamp<uint32_t>(s.ucContentsLevel, 1, 254);
    slant.size = kDetectTextSlantInfoSize;
    slant.binInfo = &binarise;
    slant.workingResolution = kContentsResolution;
    slant.angle = 0;
    request.slantFlags |= kRotateSlantDetect;
    request.textSlant = &slant;
}

int CSkewCorrection::SkewCorrection(CImg& img) {
    if (img.isNull()) return RTN_OK; // a page whose bands were all empty
    tagROTATEINFO request;
    tagBINFUNCINFO binarise;
    tagDETECTTEXTSLANTINFO slant;
    MakeRotateRequest(m_info, request, binarise, slant);
    if (GetRotateImagePaperSize(&request) != 0) return RTN_PAR;
    const int32_t paperWidth = request.paperWidth;
    const int32_t paperHeight = request.paperHeight;

    const tagIMAGEINFO& page = img.info();
    const int32_t width = m_info.bPaperSize != 0 ? paperWidth : m_info.lWidth;
    const int32_t height = m_info.bPaperSize != 0 ? paperHeight : m_info.lHeight;
    CImg out;
    // An 8-bit chunky page is painted with the background whole before the
    // turn: its buffer needs no clearing first.
    const bool painted = page.lBps == 8 && page.ulRGBOrder == 0;
    const int64_t sync = CImg::calcMinSync(width, page.lBps, page.lSpp, page.ulRGBOrder);
    const uint64_t size = CImg::calcSize(sync, height, page.lSpp, page.ulRGBOrder);
    if (sync < 0 || sync > INT32_MAX || size > UINT32_MAX) return RTN_PAR;
    if (painted) {
        tagIMAGEINFO rec{};
        rec.lWidth = width;
        rec.lHeight = height;
        rec.lSync = static_cast<int32_t>(sync);
        rec.tImageSize = static_cast<uint32_t>(size);
        rec.lBps = page.lBps;
        rec.lSpp = page.lSpp;
        rec.ulRGBOrder = page.ulRGBOrder;
        rec.lXResolution = page.lXResolution;
        rec.lYResolution = page.lYResolution;
        if (!out.createImgForWrite(rec)) return RTN_PAR;
    } else if (!out.createImg(width, height, page.lBps, page.lSpp, page.ulRGBOrder,
                              page.lXResolution, page.lYResolution)) {
        return RTN_PAR;
    }
    if (out.isNull()) return RTN_MEM;
    if (const int r = SetBackgroundColor(out, tagKDRECT{0, 0, 0, 0}); r != RTN_OK) return r;

    request.bitsPerPixel = page.lBps * page.lSpp;
    request.srcWidth = page.lWidth;
    request.paperWidth = out.info().lWidth;
    request.paperHeight = out.info().lHeight;
    const uint32_t rotated = RotateImage(img, out, &request);
    if (rotated == kIpErrOutOfMemory) return RTN_MEM;
    if (rotated != 0) return RTN_PAR;
    img.attachImg(out);
    m_info.LeftTop = request.dstTopLeft;
    m_info.RightTop = request.dstTopRight;
    m_info.LeftBottom = request.dstBottomLeft;
    m_info.RightBottom = request.dstBottomRight;
    m_info.vectorSlant = Tvk::tagPOINT{request.sin1024, request.cos1024};

    // The paper keeps its place; the rest of the image is background.
    const int32_t imageWidth = img.info().lWidth;
    tagKDRECT paper{0, 0, paperWidth, paperHeight};
    if (m_info.ulPlacement == 1) paper = tagKDRECT{imageWidth - paperWidth, 0, imageWidth, paperHeight};
    return SetBackgroundColor(img, paper);
}

} // namespace Tvk::Imvra
