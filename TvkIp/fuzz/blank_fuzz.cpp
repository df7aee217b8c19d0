// Blank-page decision, edge counting, resolution detection, frames, widths
// and outlines on records drawn from the input.
#include "CountEdge.h"
#include "DetectResolution.h"
#include "FuzzImage.h"
#include "isblank.h"
#include "waku.h"

namespace {

void BlankPage(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = fuzz::Record<tagISBLANKINFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kIsBlankInfoSizeLong, kIsBlankInfoSize, kIsBlankInfoSizeMode,
                                   kIsBlankInfoSizeSlice, kIsBlankInfoSizeFrame});
    IsBlankPageEx2(&page.info, &r);
}

void Edges(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = fuzz::Record<tagCOUNT_EDGE_INFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kCountEdgeInfoSize});
    CountEdge(&page.info, &r);
}

// Create, bands, result and release in an order the input chooses.
void Resolution(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = fuzz::Record<tagDETECT_RESOLUTION_INFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kDetectResolutionInfoSize, kDetectResolutionInfoSizeNoMargins});
    r.pWorker = nullptr;
    const int calls = in.ConsumeIntegralInRange<int>(1, 6);
    for (int i = 0; i < calls; ++i) {
        r.ulCommand = fuzz::Pick<uint32_t>(
            in, {kDetResCreate, kDetResProcess, kDetResProcess, kDetResResult, kDetResWhole});
        DetectResolution(&page.info, &r);
    }
    r.ulCommand = kDetResRelease;
    DetectResolution(&page.info, &r);
}

void Frames(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = fuzz::Record<tagDETWAKUINFO>(in);
    r.ulSize =
        fuzz::SizeWord(in, {kDetWakuInfoSize, kDetWakuInfoSizeMinRun, kDetWakuInfoSizeResult});
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        DetectWidth(&page.info, &r);
        break;
    case 1:
        DetectLineWidth(&page.info, &r);
        break;
    case 2:
        DetectLinesWidth(&page.info, &r);
        break;
    default:
        DetectWaku(&page.info, &r);
        break;
    }
}

void Outlines(FuzzedDataProvider& in, fuzz::Image& page) {
    auto r = fuzz::Record<tagDETOUTLINEINFO>(in);
    r.ulSize = fuzz::SizeWord(in, {kDetOutlineInfoSize, kDetOutlineInfoSizeResult});
    r.bDone = 0;
    r.pLeft = nullptr;
    r.pRight = nullptr;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        DetectOutline(&page.info, &r);
        break;
    case 1:
        DetectOutlineBin(&page.info, &r);
        break;
    case 2:
        DetectContourBin(&page.info, &r);
        break;
    default:
        ImageMask(&page.info, &r);
        break;
    }
    // The mask may follow the outlines it found.
    if (in.ConsumeBool()) ImageMask(&page.info, &r);
    ReleaseOutline(&r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int family = in.ConsumeIntegralInRange<int>(0, 4);
    fuzz::Image page;
    page.Draw(in);
    switch (family) {
    case 0:
        BlankPage(in, page);
        break;
    case 1:
        Edges(in, page);
        break;
    case 2:
        Resolution(in, page);
        break;
    case 3:
        Frames(in, page);
        break;
    default:
        Outlines(in, page);
        break;
    }
    return 0;
}
