// Colour, gray and colour-mode tests, moire reduction and resolution
// conversion, shadow removal, background repaint and the histogram on
// records drawn from the input; the band protocols take their call order
// from the input too.
#include "CHist.h"
#include "ColorSaturation.h"
#include "DetectColor.h"
#include "DetectGray.h"
#include "FuzzImage.h"
#include "ReduceMoireFilter.h"
#include "RemoveShadow.h"

#include <vector>

namespace {

tagDETECT_COLOR_INFO ColourRequest(FuzzedDataProvider& in) {
    auto r = fuzz::Record<tagDETECT_COLOR_INFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kDetectColorInfoSizeFull, kDetectColorInfoSizeOptions,
                                   kDetectColorInfoSizeBasic, kDetectColorInfoSizeMinimal});
    r.pDetectColor = nullptr;
    return r;
}

tagDETECTGRAYINFO GrayRequest(FuzzedDataProvider& in) {
    auto r = fuzz::Record<tagDETECTGRAYINFO>(in);
    r.ulSize = fuzz::SizeWord(
        in, {kDetectGrayInfoSizeFull, kDetectGrayInfoSizeArea, kDetectGrayInfoSizeMin});
    return r;
}

// Create, bands, end or whole page, then release.
void Colour(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = ColourRequest(in);
    const int calls = in.ConsumeIntegralInRange<int>(1, 6);
    for (int i = 0; i < calls; ++i) {
        r.lCommand =
            fuzz::Pick<int32_t>(in, {kDetectColorCreate, kDetectColorBand, kDetectColorNextBand,
                                     kDetectColorEnd, kDetectColorWholePage});
        IsColorImage(in.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : &page.info, &r);
    }
    r.lCommand = kDetectColorRelease;
    IsColorImage(nullptr, &r);
}

void ColourMode(FuzzedDataProvider& in, fuzz::Image& page) {
    auto colour = ColourRequest(in);
    auto gray = GrayRequest(in);
    tagDETECTCOLORMODEINFO r{};
    r.ulSize = fuzz::SizeWord(in, {kDetectColorModeInfoSize});
    r.ulMode = fuzz::Pick<uint32_t>(in, {0x800081, 0x800080, 0x800001, 0x81, 0x80, 0x1, 0x2});
    r.pColorInfo = in.ConsumeBool() ? &colour : nullptr;
    r.pGrayInfo = in.ConsumeBool() ? &gray : nullptr;
    DetectColorMode(&page.info, &r);
}

void Gray(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = GrayRequest(in);
    IsGrayImage(&page.info, &r);
}

// One of the five moire exports through create, bands and release.
void Moire(FuzzedDataProvider& in, fuzz::Image& page) {
    fuzz::Image dst;
    dst.Draw(in);
    auto r = fuzz::Record<tagREDUCEMOIREFILTERINFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kReduceMoireInfoSize});
    std::vector<int16_t> mask(in.ConsumeIntegralInRange<size_t>(0, 15));
    for (auto& c : mask) c = in.ConsumeIntegral<int16_t>();
    r.pMask = mask.empty() ? nullptr : mask.data();
    if (in.ConsumeBool()) r.lMaskCount = static_cast<int32_t>(mask.size());
    r.pReduceMoire = r.pResolutionConvertV = r.pMaskFilterH = r.pResolutionConvertH = nullptr;
    using Export = int32_t (*)(tagTVKIMAGEINFO*, tagTVKIMAGEINFO*, tagREDUCEMOIREFILTERINFO*);
    static constexpr Export exports[] = {ReduceMoire, MaskFilterH, MaskFilterV, ResolutionConvertH,
                                         ResolutionConvertV};
    const Export run = exports[in.ConsumeIntegralInRange<size_t>(0, std::size(exports) - 1)];
    const int calls = in.ConsumeIntegralInRange<int>(1, 6);
    for (int i = 0; i < calls; ++i) {
        r.lCommand =
            fuzz::Pick<int32_t>(in, {kReduceMoireCreate, kReduceMoireFirstBand, kReduceMoireBand,
                                     kReduceMoireLastBand, kReduceMoireWholePage});
        // Each band command rewrites dst's line count: start from the record.
        const int32_t lines = dst.info.lHeight;
        run(&dst.info, &page.info, &r);
        dst.info.lHeight = lines;
    }
    r.lCommand = kReduceMoireRelease;
    run(&dst.info, &page.info, &r);
}

void Shadow(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = fuzz::Record<tagREMOVE_SHADOW_INFO>(in);
    r.ulSize = fuzz::SizeWord(in, {static_cast<uint32_t>(sizeof(r)), kRemoveShadowInfoSizeMargin,
                                   kRemoveShadowInfoSizeMin});
    RemoveShadow(&page.info, &r);
}

// Create, detect, paint in an order the input chooses, then release.
void Background(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = fuzz::Record<tagCOLOR_SATURATION_INFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kColorSaturationInfoSize});
    r.pColorSaturation = nullptr;
    const int calls = in.ConsumeIntegralInRange<int>(1, 5);
    for (int i = 0; i < calls; ++i) {
        r.lCommand = fuzz::Pick<int32_t>(in, {kColorSaturationCreate, kColorSaturationDetect,
                                              kColorSaturationPaint, kColorSaturationOneShot});
        ColorSaturation(&page.info, &r);
    }
    r.lCommand = kColorSaturationRelease;
    ColorSaturation(&page.info, &r);
}

void Histogram(FuzzedDataProvider& in, fuzz::Image& page) {
    tagHISTOGRAMINFO r{};
    r.size = kHistogramInfoSize;
    GetHistogram(&page.info, &r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int family = in.ConsumeIntegralInRange<int>(0, 7);
    fuzz::Image page;
    page.Draw(in);
    switch (family) {
    case 0:
        Colour(in, page);
        break;
    case 1:
        ColourMode(in, page);
        break;
    case 2:
        Gray(in, page);
        break;
    case 3:
        Moire(in, page);
        break;
    case 4:
        Shadow(in, page);
        break;
    case 5:
        Background(in, page);
        break;
    default:
        Histogram(in, page);
        break;
    }
    return 0;
}
