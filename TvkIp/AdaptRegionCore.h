// Building blocks of the adaptive-region (kind 8) and edge-extracting
// (kind 10) binarisation: the 8 x 8 block grid at pitch 4, its statistics,
// the class map and its clean-up, the 1-2-1 smoothing filter and the
// threshold surface. Each accelerated operation has a portable twin that
// gives identical bytes; the portable one is the reference.
#pragma once

#include <cstdint>

// A gray plane the steps read or write: lines `sync` bytes apart.
struct GrayPlane {
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
int32_t GetLinearY(int32_t x, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
AdaptParams MakeAdaptParams(int32_t firstSlice, int32_t nextSlice);

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

// Statistics of one row of blocks (count blocks at pitch 4, rows top..top+7):
// contrast G, activity V and midrange M. `width` is the number of readable
// pixels of each line from `top` (at least 4 * count + 4).
void IntegralGetBlockInfo(const uint8_t* top, int32_t sync, int32_t width, int32_t count,
                          uint16_t* G, uint16_t* V, uint8_t* M);
void GetBlockInfo(const uint8_t* top, int32_t sync, int32_t width, int32_t count, uint16_t* G,
                  uint16_t* V, uint8_t* M);

// Midrange (max + min) / 2 of each block of one block row.
void IntegralGetMaxMinBand(const uint8_t* top, int32_t sync, int32_t width, int32_t count,
                           uint8_t* M);
void GetMaxMinBand(const uint8_t* top, int32_t sync, int32_t width, int32_t count, uint8_t* M);

// One binary row: bit x set when pix[x] >= threshold of phase (a upper,
// b lower threshold line); bits beyond the width keep their value.
void IntegrityBinalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b,
                       int32_t width, int phase);
void SSEBinalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b,
                 int32_t width, int phase);

// One interpolated threshold line of dstWidth pixels from count samples.
void Hokan(uint8_t* line, int32_t dstWidth, const uint8_t* samples, int32_t offset, int32_t count);

// 1-2-1 smoothing: horizontal line sums and the vertical step.
void IntegrityLine121Filter(uint16_t* out, const uint8_t* s, int32_t width);
void SSE2Line121Filter(uint16_t* out, const uint8_t* s, int32_t width);
void IntegrityFilter121(uint8_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                        int32_t width);
void MMXFilter121(uint8_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                  int32_t width);
// Smooths the plane in place. Throws kIpErrNoMemory when its lines cannot be
// allocated (the plane is then unchanged).
void FilterFunc(const GrayPlane& image);

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
inline int32_t EdgeMapSync(int32_t cells) {
    return ((4 * cells + 31) & ~31) / 8;
}
inline int32_t BitSync(int32_t bits) {
    return ((bits + 31) & ~31) / 8;
}

// Rough map: bit (x, y) (most significant bit first, rows `roughSync` bytes
// apart) is 0 for busy cells (codes 12, 14), else 1; bits beyond the width
// are 0 (the last byte is written whole).
void IntegrityEdgeInfoToRoughBin(uint8_t* rough, int32_t roughSync, const EdgeMap& edge);
void MMXEdgeInfoToRoughBin(uint8_t* rough, int32_t roughSync, const EdgeMap& edge);

// Run-length noise filter on a 1-bit image in place: runs up to 1, 2, 3, 4
// pixels long are removed along columns and rows. False when its work memory
// cannot be allocated (the image is then unchanged).
bool RunLenFilter(uint8_t* bits, int32_t width, int32_t height, int32_t sync);

// Edge correction: cells whose busy status the run filter changes switch to
// the matching code of the other group. False when memory runs out (then no
// cell changes).
bool IpEdgeCorrection(EdgeMap& edge);
// Isolate removal, then the strain step.
void RemoveIsolateInfo(EdgeMap& edge);
void StrainEdge(EdgeMap& edge, uint8_t* edgeSlice, uint8_t* mixedSlice, int32_t sliceSync);

// Whole algorithms on 8-bit gray source planes. AdaptRegionBin writes the
// 1-bit destination (dst.width, dst.height from the source) and returns 1, or
// 0 when a work image cannot be made; it throws kIpErrNoMemory when the
// smoothing or threshold lines cannot be allocated. ExtractEdge only sets
// bits of edge blocks; for images under 8 pixels it clears the mask.
int AdaptRegionBin(const GrayPlane& dst, const GrayPlane& src, const AdaptParams& prm);
int ExtractEdge(const GrayPlane& dst, const GrayPlane& src, const AdaptParams& prm);
