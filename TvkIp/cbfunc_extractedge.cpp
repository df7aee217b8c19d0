// Edge-extracting binarisation (kind 10): instead of a picture, a mask in
// which every strong-edge block and every busy block with contrast of the
// adaptive-region grid sets its 4 x 4 patch. The blank-page check counts
// these bits.
#include "AdaptRegionCore.h"
#include "BitPack.h"
#include "CBFuncKinds.h"

#include "TvkIpError.h"

#include <memory>
#include <new>

namespace ExtractEdge {

int IpDetectEdgeInfo(const ImagePlane& dst, const ImagePlane& src, uint32_t A, uint32_t B,
                     uint32_t C, uint32_t T) {
    const int32_t W = BlockCount(src.width), H = BlockCount(src.height);
    // The midranges are not needed.
    std::unique_ptr<uint8_t[]> m(new (std::nothrow) uint8_t[static_cast<size_t>(W)]);
    if (!m) throw kIpErrNoMemory;
    // The blocks kind 8 classifies as strong edges or busy with contrast.
    AdaptRegionBin::ClassifyBlocks(
        src, W, H, BlockThresholds(A, B, C, T), [&](int32_t) { return m.get(); },
        [&](int32_t i, int32_t j, uint8_t code) {
            if (code != kCodeStrongEdge && code != kCodeBusyContrast) return;
            const uint8_t patch = (i & 1) ? 0x0F : 0xF0;
            for (int32_t y = 4 * j; y < 4 * j + 4; ++y) dst.Line(y)[i >> 1] |= patch;
        });
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
            for (int32_t x = 0; x < w; ++x) BitPack::ClearBit(row, x);
        }
        return 1;
    }
    return IpDetectEdgeInfo(dst, src, A, B, C, T);
}

} // namespace ExtractEdge

int CBFuncExtractEdge::RunKind(const ImagePlane& dst, const ImagePlane& src,
                               const AdaptParams& prm) {
    return ExtractEdge::ExtractEdge(dst, src, prm.A, prm.B, prm.C, prm.T, prm.D, prm.E);
}
