// Edge counting: black/white transitions of a page inside a rectangle, along
// rows (X edges) and along columns (Y edges). Gray pages are binarised first;
// colour pages are counted per channel and averaged.
#pragma once

#include "CImgInf.h"
#include "CImgInfPtr.h"

#include <cstddef>
#include <cstdint>

// Request and result of CountEdge. Only the first kCountEdgeInfoSize bytes
// are read.
struct tagCOUNT_EDGE_INFO {
    uint32_t ulSize;    // at least kCountEdgeInfoSize
    int32_t lBinMode;   // binarisation kind handed to BinalizeRectEx
    int32_t lBinParam1; // first level word of the binarisation request
    int32_t lBinParam2; // second level word
    int32_t lLeft;      // first column counted
    int32_t lTop;       // first row counted
    int32_t lRight;     // column after the last one counted
    int32_t lBottom;    // row after the last one counted
    int32_t lEdgeX;     // out: transitions between horizontal neighbours
    int32_t lEdgeY;     // out: transitions between vertical neighbours
};
inline constexpr uint32_t kCountEdgeInfoSize = sizeof(tagCOUNT_EDGE_INFO);
static_assert(kCountEdgeInfoSize == 40);

namespace CountEdgeFunc {

// A failure inside the counting: -1 bad argument, 8 no memory.
class CExcp {
public:
    explicit CExcp(int32_t code) : m_lCode(code) {}
    virtual ~CExcp() = default;
    int32_t m_lCode;
};

extern const uint8_t bBitOffMask[8];    // clears the first k pixels of a byte
extern const uint8_t bBitOffReverse[8]; // clears the last k pixels of a byte

int32_t _CountEdge(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info);
void CountEdgeCore(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info);
void BinaryEdgeCountProcess(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info);
void GrayEdgeCountProcess(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info);
void ColorEdgeCountProcess(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info);
// One channel (0, 1, 2 in memory order) of a colour page into an 8-bit page
// of the same size; both layouts of colour are read.
void Color_2_GrayProcess(tagTVKIMAGEINFO* gray, tagTVKIMAGEINFO* colour, int channel);
// A new 1-bit image in dst, binarised from src with the request's mode and
// levels; dark pixels are set.
void Binarize(CImageInfoPtr& dst, tagTVKIMAGEINFO* src, const tagCOUNT_EDGE_INFO* info);
void Binarize(CImageInfoPtr& dst, const CImageInfoPtr& src, const tagCOUNT_EDGE_INFO* info);
// Counts both kinds of edges on a 1-bit image with clean line padding. The
// image is changed (cleared outside the frame).
void EdgeCountCore(tagTVKIMAGEINFO* bits, tagCOUNT_EDGE_INFO* info);
void EdgeCountCore_Normal(tagTVKIMAGEINFO* bits, tagCOUNT_EDGE_INFO* info);
int32_t GetYEdge_Normal(tagTVKIMAGEINFO* work, tagTVKIMAGEINFO* bits,
                        const tagCOUNT_EDGE_INFO* info);
int32_t GetXEdge_Normal(tagTVKIMAGEINFO* work, tagTVKIMAGEINFO* bits,
                        const tagCOUNT_EDGE_INFO* info);
void CreateEdgeImage_Y_Normal(tagTVKIMAGEINFO* work, const tagTVKIMAGEINFO* bits);
void CreateEdgeImage_X_Normal(tagTVKIMAGEINFO* work, const tagTVKIMAGEINFO* bits);
void GetX1BitShiftImage(tagTVKIMAGEINFO* work, const tagTVKIMAGEINFO* bits);
// Clears every pixel outside the frame; the frame is cut to the image.
void FillIgnoreAreaBitOff(tagTVKIMAGEINFO* image, const tagCOUNT_EDGE_INFO* info);
int32_t CountBit(const tagTVKIMAGEINFO* image);
uint32_t numofbit32(uint32_t v);

} // namespace CountEdgeFunc

extern "C" {
// 0 with lEdgeX and lEdgeY written, or -1 (last error -1 or 8).
IMVRA_EXPORT int32_t CountEdge(tagTVKIMAGEINFO* image, tagCOUNT_EDGE_INFO* info);
}
