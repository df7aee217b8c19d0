// Rotation and cut-out (banded through a handle, or a whole page, with and
// without the text-slant turn), text-slant detection and the to-gray
// conversion on records drawn from the input.
#include "CBFunc.h"
#include "DetectTextSlant.h"
#include "FuzzImage.h"
#include "RotateImage.h"

namespace {

Tvk::tagPOINT Corner(FuzzedDataProvider& in) {
    return {in.ConsumeIntegralInRange<int32_t>(-64, 900),
            in.ConsumeIntegralInRange<int32_t>(-64, 900)};
}

tagDETECTTEXTSLANTINFO SlantRequest(FuzzedDataProvider& in, tagBINFUNCINFO& bin) {
    bin = tagBINFUNCINFO{};
    bin.size = fuzz::SizeWord(in, {kBinFuncInfoSizeLong, kBinFuncInfoSizeShort});
    bin.kind = in.ConsumeIntegralInRange<uint32_t>(0, kBinKindCount);
    bin.firstSlice = bin.nextSlice = in.ConsumeIntegral<uint8_t>();
    tagDETECTTEXTSLANTINFO r{};
    r.size = fuzz::SizeWord(in, {kDetectTextSlantInfoSize});
    r.binInfo = in.ConsumeBool() ? &bin : nullptr;
    r.workingResolution = fuzz::Pick<int32_t>(in, {0, 100, 150, 200, 300});
    return r;
}

void Rotate(FuzzedDataProvider& in, fuzz::Image& src, fuzz::Image& dst) {
    tagROTATEINFO r{};
    r.size = fuzz::SizeWord(in, {kRotateInfoSize, kRotateInfoTextSlantSize});
    r.topLeft = Corner(in);
    r.bottomLeft = Corner(in);
    r.topRight = Corner(in);
    r.bottomRight = Corner(in);
    r.bitsPerPixel = fuzz::Pick<int32_t>(in, {8, 24, 1});
    r.srcWidth = in.ConsumeBool() ? src.info.lWidth : in.ConsumeIntegralInRange<int32_t>(-4, 900);
    r.paperWidth = in.ConsumeIntegralInRange<int32_t>(-4, 900);
    r.paperHeight = in.ConsumeIntegralInRange<int32_t>(-4, 900);
    r.rightAnchored = in.ConsumeBool();
    r.interpolate = in.ConsumeIntegralInRange<uint8_t>(0, 2);
    r.fillMode = in.ConsumeIntegralInRange<int32_t>(0, 2);
    r.fillColour = in.ConsumeIntegral<uint32_t>();
    r.slantFlags = in.ConsumeIntegralInRange<uint32_t>(0, 3);
    tagBINFUNCINFO bin;
    tagDETECTTEXTSLANTINFO slant = SlantRequest(in, bin);
    r.textSlant = in.ConsumeBool() ? &slant : nullptr;
    if (in.ConsumeBool()) GetRotateImagePaperSize(&r);
    fuzz::Calls(in, 4, dst.info, [&] {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            CreateRotateImageHandle(&r);
            break;
        case 1:
            r.last = in.ConsumeBool();
            RotateImage(&src.info, &dst.info, &r);
            break;
        case 2:
            RotateImagePage(&src.info, &dst.info, &r);
            break;
        default:
            RotateImagePageAndDetectTextSlant(&src.info, &dst.info, &r);
            break;
        }
    });
    ReleaseRotateImageHandle(&r);
    if (bin.size == kBinFuncInfoSizeLong) ReleaseBinalizeHandle(&bin);
}

void TextSlant(FuzzedDataProvider& in, fuzz::Image& src) {
    tagBINFUNCINFO bin;
    tagDETECTTEXTSLANTINFO r = SlantRequest(in, bin);
    DetectTextSlant(&src.info, &r);
    if (bin.size == kBinFuncInfoSizeLong) ReleaseBinalizeHandle(&bin);
}

void ToGray(FuzzedDataProvider& in, fuzz::Image& src, fuzz::Image& dst) {
    tagTOGRAYFUNCINFO r{};
    r.size = fuzz::SizeWord(in, {kToGrayFuncInfoSize});
    r.lineCount = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
    ToGrayRect(&dst.info, &src.info, &r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int family = in.ConsumeIntegralInRange<int>(0, 2);
    fuzz::Image src;
    fuzz::Image dst;
    src.Draw(in);
    dst.Draw(in);
    switch (family) {
    case 0:
        Rotate(in, src, dst);
        break;
    case 1:
        TextSlant(in, src);
        break;
    default:
        ToGray(in, src, dst);
        break;
    }
    return 0;
}
