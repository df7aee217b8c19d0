// Binarisation (every kind, rectangle and line calls, with and without a
// handle), the binary noise filter and dot erasure on records drawn from the
// input; the banded calls take their order from the input.
#include "CBFunc.h"
#include "CBinFilter.h"
#include "EraseDot.h"
#include "FuzzImage.h"

namespace {

void Binarise(FuzzedDataProvider& in, fuzz::Image& src, fuzz::Image& dst) {
    tagBINFUNCINFO r{};
    r.size = fuzz::SizeWord(in, {kBinFuncInfoSizeLong, kBinFuncInfoSizeShort});
    r.kind =
        fuzz::Pick<uint32_t>(in, {kBinFixed, kBinErrorDiffusion, kBinASC, kBinLineAE,
                                  kBinToMonoChrome, kBinMedian, kBinMebrin, 7, kBinAdaptRegion, 9,
                                  kBinExtractEdge, kBinDouble, kBinDoubleLinear, kBinDoubleCubic});
    r.firstSlice = in.ConsumeIntegral<uint8_t>();
    r.nextSlice = in.ConsumeIntegral<uint8_t>();
    r.lineCount = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
    const int calls = in.ConsumeIntegralInRange<int>(1, 4);
    for (int i = 0; i < calls; ++i) {
        if (in.ConsumeBool()) {
            BinalizeRectEx(&dst.info, &src.info, &r);
        } else {
            BinalizeLineEx(&dst.info, &src.info, &r);
        }
    }
    if (r.size == kBinFuncInfoSizeLong) ReleaseBinalizeHandle(&r);
}

// Start, middle bands and end, or the whole image; then release.
void NoiseFilter(FuzzedDataProvider& in, fuzz::Image& src, fuzz::Image& dst) {
    tagBINFILTERINFO r{};
    r.size = kBinFilterInfoSize;
    r.mode = in.ConsumeIntegral<uint32_t>();
    // Band calls write as many lines as the band brings (plus the delayed
    // one), whatever the destination's line count says: it is their output.
    dst.Reserve(int64_t{std::max(src.info.lHeight, dst.info.lHeight)} + 2);
    fuzz::Calls(in, 5, dst.info, [&] {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            BinFilterStart(&dst.info, &src.info, &r);
            break;
        case 1:
            BinFilterCont(&dst.info, &src.info, &r);
            break;
        case 2:
            BinFilterEnd(&dst.info, in.ConsumeBool() ? &src.info : nullptr, &r);
            break;
        default:
            BinFilter(&dst.info, &src.info, &r);
            break;
        }
    });
    ReleaseBinFilterHandle(&r);
}

void EraseDots(FuzzedDataProvider& in, fuzz::Image& src, fuzz::Image& dst) {
    tagERASEDOTINFO r{};
    r.size = fuzz::SizeWord(in, {kEraseDotInfoMinSize});
    r.polarity = in.ConsumeBool();
    fuzz::Calls(in, 5, dst.info, [&] {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            EraseDotStart(&dst.info, &src.info, &r);
            break;
        case 1:
            EraseDotCont(&dst.info, &src.info, &r);
            break;
        case 2:
            EraseDotEnd(&dst.info, in.ConsumeBool() ? &src.info : nullptr, &r);
            break;
        case 3:
            CreateEraseDotHandle(&r);
            break;
        default:
            EraseDot(&dst.info, &src.info, &r);
            break;
        }
    });
    ReleaseEraseDotHandle(&r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int family = in.ConsumeIntegralInRange<int>(0, 2);
    fuzz::Image src;
    fuzz::Image dst;
    // Binarisation starts at line lYpos of both images.
    src.Draw(in, family == 0 ? fuzz::Lines::FromYpos : fuzz::Lines::Height);
    dst.Draw(in, family == 0 ? fuzz::Lines::FromYpos : fuzz::Lines::Height);
    switch (family) {
    case 0:
        Binarise(in, src, dst);
        break;
    case 1:
        NoiseFilter(in, src, dst);
        break;
    default:
        EraseDots(in, src, dst);
        break;
    }
    return 0;
}
