// The light-curve block comes from the scanner's memory. The input becomes
// the head of a block of the one size the parser takes (the rest zero), and
// a block that loads is applied to gray and colour references of both layouts.
#include "AdjustLightCurve.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;

namespace {

void Apply(const CLightCurveAdjustData& data, int32_t spp, uint32_t order, tagSIDE side,
           int dropout, int emphasis) {
    CImg white, black;
    if (!white.createImg(40, 1, 16, spp, order, 300, 300) ||
        !black.createImg(40, 1, 16, spp, order, 300, 300) || white.isNull() || black.isNull())
        return;
    std::memset(white.info().lpImage, 0x40, white.info().tImageSize);
    data.AdjustData(black, white, side, dropout, emphasis);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static std::vector<uint8_t> block(kLightCurveBlockSize);
    std::fill(block.begin(), block.end(), 0);
    std::memcpy(block.data(), bytes, size < block.size() ? size : block.size());
    CLightCurveAdjustData data;
    if (data.LoadData(block.data(), block.size()) != RTN_OK) return 0;
    for (tagSIDE side : {SIDE_FRONT, SIDE_BACK}) {
        Apply(data, 1, 0, side, 0, 0);
        Apply(data, 1, 0, side, 2, 0);
        Apply(data, 3, 0, side, 0, 1);
        Apply(data, 3, 1, side, 0, 0);
    }
    return 0;
}
