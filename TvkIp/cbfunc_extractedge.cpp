// Edge-extracting binarisation (kind 10): instead of a picture, a mask in
// which every strong-edge block and every busy block with contrast of the
// adaptive-region grid sets its 4 x 4 patch. The blank-page check counts
// these bits.
#include "AdaptRegionCore.h"
#include "CBFuncKinds.h"

#include "TvkIpError.h"

#include <memory>
#include <new>

namespace ExtractEdge {

int IpDetectEdgeInfo(const ImagePlane& dst, const ImagePlane& src, uint32_t A, uint32_t B,
                     uint32_t C, uint32_t T) {
    const int32_t W = BlockCount(src.width), H = BlockCount(src.height);
    std::unique_ptr<uint16_t[]> g(new (std::nothrow) uint16_t[static_cast<size_t>(W)]);
    std::unique_ptr<uint16_t[]> v(new (std::nothrow) uint16_t[static_cast<size_t>(W)]);
    std::unique_ptr<uint8_t[]> m(new (std::nothrow) uint8_t[static_cast<size_t>(W)]);
    if (!g || !v || !m) throw kIpErrNoMemory;
    const auto blockInfo = IsSSE2FeatureAvailable() ? AdaptRegionBin::GetBlockInfo
                                                    : AdaptRegionBin::IntegralGetBlockInfo;
    // The blocks kind 8 classifies as strong edges (15) or busy with contrast (12).
    const uint32_t a8 = 8u * A, c8 = 8u * C, t8 = 8u * T;
    for (int32_t j = 0; j < H; ++j) {
        blockInfo(src.Line(4 * j), src.sync, src.width, W, g.get(), v.get(), m.get());
        for (int32_t i = 0; i < W; ++i) {
            const uint32_t gi = g[i];
            if (!(gi > a8 || (v[i] > t8 && gi > c8))) continue;
            const uint8_t patch = (i & 1) ? 0x0F : 0xF0;
            for (int32_t y = 4 * j; y < 4 * j + 4; ++y) dst.Line(y)[i >> 1] |= patch;
        }
    }
    return 1;
}

int ExtractEdge(const ImagePlane& dst, const ImagePlane& src, uint32_t A, uint32_t B, uint32_t C,
                uint32_t T, uint32_t D, uint32_t E) {
    const int32_t w = src.width, h = src.height;
    if (w <= 0 || h <= 0) return 0;
    if (w < 8 || h < 8) {
        // No block fits: the mask has no edge. Only the bits of the width
        // are cleared.
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = dst.Line(y);
            for (int32_t x = 0; x < w; ++x)
                row[x >> 3] &= static_cast<uint8_t>(~(0x80u >> (x & 7)));
        }
        return 1;
    }
    return IpDetectEdgeInfo(dst, src, A, B, C, T);
}

} // namespace ExtractEdge

int CBFuncExtractEdge::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    m_lSrcBps = src->lBps;
    m_lSrcSpp = src->lSpp;
    return CBFunc::Start(dst, src, info);
}

void CBFuncExtractEdge::Rect() {
    if (m_lSrcBps != 8 || m_lSrcSpp != 1 || m_lWidth <= 0 || m_lHeight <= 0) {
        IpSetLastError(kIpErrCannotRun);
        return;
    }
    const AdaptParams prm = MakeAdaptParams(m_lFirstSlice, m_lNextSlice);
    const ImagePlane src{m_pSrc, m_lWidth, m_lHeight, m_lSrcSync};
    const ImagePlane dst{m_pDst, m_lWidth, m_lHeight, m_lDstSync};
    try {
        if (ExtractEdge::ExtractEdge(dst, src, prm.A, prm.B, prm.C, prm.T, prm.D, prm.E) == 0)
            IpSetLastError(kIpErrCannotRun);
    } catch (uint32_t code) {
        IpSetLastError(code);
    }
}
