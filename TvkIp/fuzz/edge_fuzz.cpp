// Edge emphasis (every record form, banded and whole) and colour-gap
// correction on records drawn from the input; the band calls take their
// order from the input.
#include "EdgeFunc.h"
#include "FuzzImage.h"
#include "tvkcolorgap.h"

#include <vector>

namespace {

void EdgeEmphasis(FuzzedDataProvider& in, fuzz::Image& src, fuzz::Image& dst) {
    auto r = fuzz::Record<tagEDGEINFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kEdgeInfoSizeOld, kEdgeInfoSizeHandle, kEdgeInfoSizeParam,
                                   static_cast<uint32_t>(sizeof(tagEDGEINFO)), 12});
    r.ulFilterNo = in.ConsumeIntegralInRange<uint32_t>(0, 40);
    r.hEdge = fuzz::Pick<uintptr_t>(
        in, {kEdgeKindGray0, kEdgeKindGray, kEdgeKindColorPlanes, kEdgeKindColorRGB});
    // Anything but a kind number would be taken for an object.
    if (r.hEdge > kEdgeKindColorRGB) r.hEdge = kEdgeKindGray;
    if (in.ConsumeBool()) CreateEdgeFuncHandle(&r);
    // Band calls write as many lines as the band brings, from lYpos, whatever
    // the destination's line count says: it is their output.
    dst.Reserve(int64_t{std::max(dst.info.lYpos, 0)} +
                std::max(src.info.lHeight, dst.info.lHeight) + 2);
    fuzz::Calls(in, 5, dst.info, [&] {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            EdgeFuncStartEx(&dst.info, &src.info, &r);
            break;
        case 1:
            EdgeFuncContEx(&dst.info, &src.info, &r);
            break;
        case 2:
            EdgeFuncFinishEx(&dst.info, in.ConsumeBool() ? &src.info : nullptr, &r);
            break;
        case 3:
            UseParameter(&r);
            break;
        default:
            EdgeFuncEx(&dst.info, &src.info, &r);
            break;
        }
    });
    ReleaseEdgeFuncHandle(&r);
}

// First call, bands and the last band; the caller's tables when the input
// asks for them.
void ColourGap(FuzzedDataProvider& in, fuzz::Image& src, fuzz::Image& dst) {
    auto r = fuzz::Record<COLORGAPINFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kColorGapInfoSizeMin, kColorGapInfoSizeLightOrder});
    r.pColorGap = nullptr;
    tagGAPPARAM limits = fuzz::Record<tagGAPPARAM>(in);
    r.pGapParam = in.ConsumeBool() ? &limits : nullptr;
    std::vector<uint8_t> map(kColorGapMapSize, in.ConsumeIntegral<uint8_t>());
    std::vector<uint8_t> judge(kColorGapJudgeSize, in.ConsumeIntegral<uint8_t>());
    r.pByteTable = in.ConsumeBool() ? map.data() : nullptr;
    r.ulByteTableSize = kColorGapMapSize;
    r.pJudgeTable = in.ConsumeBool() ? judge.data() : nullptr;
    r.ulJudgeTableSize = kColorGapJudgeSize;
    const bool same = in.ConsumeBool();
    const int calls = in.ConsumeIntegralInRange<int>(1, 5);
    for (int i = 0; i < calls && r.bLastBand == 0; ++i) {
        r.bLastBand = in.ConsumeIntegralInRange<int>(0, 3) == 0;
        fuzz::Image& out = same ? src : dst;
        const int32_t lines = out.info.lHeight;
        ColorGapCorrect(&out.info, &src.info, &r);
        out.info.lHeight = lines;
    }
    ReleaseColorGapHandle(&r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool gap = in.ConsumeBool();
    fuzz::Image src;
    fuzz::Image dst;
    // Both families start at line lYpos of their images.
    src.Draw(in, fuzz::Lines::FromYpos);
    dst.Draw(in, fuzz::Lines::FromYpos);
    if (gap) {
        ColourGap(in, src, dst);
    } else {
        EdgeEmphasis(in, src, dst);
    }
    return 0;
}
