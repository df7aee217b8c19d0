// Building blocks of the adaptive-region (kind 8) and edge-extracting
// (kind 10) binarisation: the 8 x 8 block grid at pitch 4, its statistics,
// the class map and its clean-up, the 1-2-1 smoothing filter and the
// threshold surface. Each accelerated operation has a portable twin that
// gives identical bytes; the portable one is the reference.
#pragma once

#include "TvkIpError.h"

#include <cstdint>
#include <memory>
#include <new>

// A plane of lines `sync` bytes apart (8-bit gray, or 1-bit with width in
// pixels). The steps work on the caller's buffers or on their own.
struct ImagePlane {
    uint8_t* p = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t sync = 0;
    uint8_t* Line(int32_t y) const { return p + int64_t{y} * sync; }
};

// Block grid of a w x h image: W = (w - 4) / 4 blocks across, H down.
inline int32_t BlockCount(int32_t pixels) {
    return pixels >= 8 ? (pixels - 4) / 4 : 0;
}

// Thresholds and levels derived from the request's two slice levels.
struct AdaptParams {
    uint32_t A, B, C, T, D, E;
};
int64_t GetLinearY(int64_t x, int64_t x1, int64_t y1, int64_t x2, int64_t y2);
AdaptParams MakeAdaptParams(int32_t firstSlice, int32_t nextSlice);

// Copies the pixels x0..x1, y0..y1 (inclusive) between two 8-bit planes.
void CopyBlockImage(const ImagePlane& dst, const ImagePlane& src, int32_t x0, int32_t y0,
                    int32_t x1, int32_t y1);
// image ^= other over the (width + 7) / 8 bytes of each line (1-bit planes).
void XorImage(const ImagePlane& image, const ImagePlane& other);

// Class codes of the edge map.
enum EdgeCode : uint8_t {
    kCodeFlat = 0,
    kCodeWeakEdge = 7,
    kCodeFlatByEdge = 9,
    kCodeBusyAmongEdges = 11,
    kCodeBusyContrast = 12,
    kCodeBusy = 14,
    kCodeStrongEdge = 15,
};

// Class code of a block from its contrast G and activity V. The thresholds
// are eight times the parameters, compared unsigned.
struct BlockThresholds {
    uint32_t a8, b8, c8, t8;
    BlockThresholds(uint32_t A, uint32_t B, uint32_t C, uint32_t T)
        : a8(8u * A), b8(8u * B), c8(8u * C), t8(8u * T) {}
    uint8_t Classify(uint32_t g, uint32_t v) const {
        if (g > a8) return kCodeStrongEdge;
        if (v > t8) return g > c8 ? kCodeBusyContrast : kCodeBusy;
        if (g > b8) return kCodeWeakEdge;
        return kCodeFlat;
    }
};

// Edge map: 4-bit cells, two a byte, the even cell in the high half.
struct EdgeMap {
    uint8_t* p = nullptr;
    int32_t width = 0; // cells
    int32_t height = 0;
    int32_t sync = 0; // bytes per row
    uint8_t Get(int32_t x, int32_t y) const {
        const uint8_t b = p[int64_t{y} * sync + (x >> 1)];
        return (x & 1) ? (b & 0x0F) : (b >> 4);
    }
    void Set(int32_t x, int32_t y, uint8_t code) {
        uint8_t& b = p[int64_t{y} * sync + (x >> 1)];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | code)
                    : static_cast<uint8_t>((b & 0x0F) | (code << 4));
    }
};
// Line sizes of the work images: whole 32-bit words.
inline int32_t EdgeMapSync(int32_t cells) {
    return ((4 * cells + 31) & ~31) / 8;
}
inline int32_t BitSync(int32_t bits) {
    return ((bits + 31) & ~31) / 8;
}
inline int32_t ByteSync(int32_t bytes) {
    return (bytes + 3) & ~3;
}

namespace AdaptRegionBin {

// Statistics of one row of blocks (count blocks at pitch 4, lines
// top..top+7): contrast G, activity V and midrange M. `width` is the number
// of readable pixels of each line from `top` (at least 4 * count + 4).
void IntegralGetBlockInfo(const uint8_t* top, int32_t sync, int32_t width, int32_t count,
                          uint16_t* G, uint16_t* V, uint8_t* M);
void GetBlockInfo(const uint8_t* top, int32_t sync, int32_t width, int32_t count, uint16_t* G,
                  uint16_t* V, uint8_t* M);
// Midrange (max + min) / 2 of each block of one block row.
void IntegralGetMaxMinBand(const uint8_t* top, int32_t sync, int32_t width, int32_t count,
                           uint8_t* M);
void GetMaxMinBand(const uint8_t* top, int32_t sync, int32_t width, int32_t count, uint8_t* M);

// Classifies the W x H blocks of src a block row at a time: the midranges
// of row j go into mid(j) (W bytes), then visit(i, j, code) gets the class
// code of every block of the row. Throws kIpErrNoMemory when its lines
// cannot be made.
template <typename Mid, typename Visit>
void ClassifyBlocks(const ImagePlane& src, int32_t W, int32_t H, const BlockThresholds& th, Mid mid,
                    Visit visit) {
    std::unique_ptr<uint16_t[]> g(new (std::nothrow) uint16_t[static_cast<size_t>(W)]);
    std::unique_ptr<uint16_t[]> v(new (std::nothrow) uint16_t[static_cast<size_t>(W)]);
    if (!g || !v) throw kIpErrNoMemory;
    const auto blockInfo = IsSSE2FeatureAvailable() ? GetBlockInfo : IntegralGetBlockInfo;
    for (int32_t j = 0; j < H; ++j) {
        blockInfo(src.Line(4 * j), src.sync, src.width, W, g.get(), v.get(), mid(j));
        for (int32_t i = 0; i < W; ++i) visit(i, j, th.Classify(g[i], v[i]));
    }
}

// Class code of every block into the edge map and its midrange into the
// edge slice (both W x H, made by the caller).
void IpDetectEdgeInfoAndSlice(EdgeMap& edge, const ImagePlane& edgeSlice, const ImagePlane& src,
                              uint32_t A, uint32_t B, uint32_t C, uint32_t T);
// Edge correction of the class map; false (map unchanged) when its work
// images cannot be made.
bool IpEdgeCorrection(EdgeMap& edge);
// Copies the source into `average`, smooths it and writes the midrange of
// every block of it into `mixed` (all made by the caller). Throws
// kIpErrNoMemory when the smoothing lines cannot be allocated.
void IpDetectAveAndSlice(const ImagePlane& average, const ImagePlane& mixed, const ImagePlane& src);

// The whole kind on an 8-bit gray source: writes the 1-bit destination
// (lines of the source's width and height) and returns 1, or 0 when a work
// image cannot be made (destination unchanged); throws kIpErrNoMemory when
// the smoothing or threshold lines cannot be allocated.
int AdaptRegionBin(const ImagePlane& dst, const ImagePlane& src, uint32_t A, uint32_t B, uint32_t C,
                   uint32_t T, uint32_t D, uint32_t E);

} // namespace AdaptRegionBin

namespace EdgeCorrection {
// Rough map: bit (x, y) (most significant bit first) is 0 for busy cells
// (codes 12, 14), else 1; bits beyond the width are 0 (the last byte is
// written whole).
void IntegrityEdgeInfoToRoughBin(const ImagePlane& rough, const EdgeMap& edge);
void MMXEdgeInfoToRoughBin(const ImagePlane& rough, const EdgeMap& edge);
void EdgeInfoToRoughBin(const ImagePlane& rough, const EdgeMap& edge);
// Every cell whose rough bit is set switches to the matching code of the
// other group.
void FeedbackRoughBinToEdgeInfo(EdgeMap& edge, const ImagePlane& rough);
} // namespace EdgeCorrection

namespace RunLenFilter {
// Run-length noise filter on a 1-bit plane in place: runs up to 1, 2, 3, 4
// pixels long are removed along columns and rows. False when its work
// memory cannot be allocated (the plane is then unchanged).
bool RunLenFilter(const ImagePlane& image);
} // namespace RunLenFilter

namespace ComplementEdge {
// Leaves set only the bits the run filter changes. False when the copy it
// filters cannot be made (the map is then unchanged).
bool RoughBinFilter(const ImagePlane& rough);
// Isolate removal, then the strain step.
void CompEdgeInfo(EdgeMap& edge, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice);
void RemoveIsolateInfo(EdgeMap& edge);
void StrainEdge(EdgeMap& edge, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice);
} // namespace ComplementEdge

namespace Filter {
// 1-2-1 smoothing: horizontal line sums and the vertical step.
void IntegrityLine121Filter(uint16_t* out, const uint8_t* s, int32_t width);
void SSE2Line121Filter(uint16_t* out, const uint8_t* s, int32_t width);
void IntegrityFilter121(uint8_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                        int32_t width);
void MMXFilter121(uint8_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                  int32_t width);
// Smooths the plane in place. Throws kIpErrNoMemory when its lines cannot
// be allocated (the plane is then unchanged).
void FilterFunc(const ImagePlane& image);
// The same from image into out (of image's size), leaving image as it is.
void FilterFunc(const ImagePlane& out, const ImagePlane& image);
} // namespace Filter

namespace MixImage {
// Slice level and pixels of every block by its class code.
int MixtureSrc(const ImagePlane& average, const ImagePlane& src, const ImagePlane& mixed,
               const EdgeMap& edge, const ImagePlane& edgeSlice, uint8_t D, uint8_t E);
} // namespace MixImage

namespace Hokan {
// One interpolated threshold line of dstWidth pixels from count samples.
void Hokan(uint8_t* line, int32_t dstWidth, const uint8_t* samples, int32_t offset, int32_t count);
// One binary row: bit x set when pix[x] >= the threshold of the phase
// (a upper, b lower threshold line); bits beyond the width keep their value.
void IntegrityBinalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b,
                       int32_t width, int phase);
void SSEBinalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b,
                 int32_t width, int phase);
void Binalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b, int32_t width,
              int phase);
} // namespace Hokan

namespace ExtractEdge {
// Kind 10: sets the 4 x 4 patch of every edge block; for images under 8
// pixels clears the mask. Returns 1.
int ExtractEdge(const ImagePlane& dst, const ImagePlane& src, uint32_t A, uint32_t B, uint32_t C,
                uint32_t T, uint32_t D, uint32_t E);
int IpDetectEdgeInfo(const ImagePlane& dst, const ImagePlane& src, uint32_t A, uint32_t B,
                     uint32_t C, uint32_t T);
} // namespace ExtractEdge
