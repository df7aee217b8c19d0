// Paper size, slant and four-corner detection through both entry families:
// the phase protocol of DetectSlantAndSize (and 2, 3), and the command
// protocol of DetectSlantAndSizeEx with every mode and its side records.
// Records, images and the command sequence come from the input.
#include "DetectSlantAndSize.h"
#include "DetectSlantAndSizeEx.h"
#include "FuzzImage.h"
#include "TvkDetectSlantAndSize.h"

#include <vector>

namespace {

// Phases in an order the input chooses, then release.
template <class Info, class Export>
void Phases(FuzzedDataProvider& in, fuzz::Image& page, Export run, uint32_t size) {
    auto r = fuzz::Record<Info>(in);
    r.size = fuzz::SizeWord(in, {size});
    r.pDetector = nullptr;
    const int calls = in.ConsumeIntegralInRange<int>(1, 6);
    for (int i = 0; i < calls; ++i) {
        r.lPhase = fuzz::Pick<int32_t>(
            in, {kSlantSizeInit, kSlantSizeFirst, kSlantSizeMid, kSlantSizeLast, kSlantSizeResult});
        run(&page.info, &r);
    }
    r.lPhase = kSlantSizeRelease;
    run(&page.info, &r);
}

// Every mode's request in one zeroed block, its side records pointing at
// storage that lives for the whole sequence.
struct ExRequest {
    union {
        tagDETECTSLANTSIZEEXBASIC basic;
        tagDETECTSLANTSIZEEX_ONERADIATE_EX ex;
        tagDETECTSLANTSIZEEX_ONERADIATE one;
        tagDETECTSLANTSIZEEX_ONERADIATE_DUPLEX duplex;
        tagDETECTSLANTSIZEEX_FROMFRAME frame;
    } r;
    tagONERADIATEEX_SCANNERINFO scanner;
    tagONERADIATEEX_SCANINFO scan;
    tagONERADIATEEX_SETTINGINFO setting;
    std::vector<tagONERADIATEEX_CSINFO> sheets;
    std::vector<int16_t> outline1, outline2;
};

void Ex(FuzzedDataProvider& in, fuzz::Image& page, fuzz::Image& back) {
    ExRequest q{};
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, sizeof(q.r));
    in.ConsumeData(&q.r, n);
    q.r.basic.dwMode = fuzz::Pick<uint32_t>(in, {kDssModeOneRadiate, kDssModeFromFrame,
                                                 kDssModeOneRadiateDuplex, kDssModeOneRadiateEx});
    q.r.basic.pHandle = nullptr;
    switch (q.r.basic.dwMode) {
    case kDssModeOneRadiateEx: {
        q.r.basic.cbsize = fuzz::SizeWord(in, {kOneRadiateExSize, kOneRadiateExSettingInfoSize,
                                               kOneRadiateExScanInfoSize, kDssBasicSize});
        q.scanner = fuzz::Record<tagONERADIATEEX_SCANNERINFO>(in);
        q.scanner.cbsize = fuzz::SizeWord(in, {kScannerInfoSize, kScannerInfoBackBlackSize});
        q.scan = fuzz::Record<tagONERADIATEEX_SCANINFO>(in);
        q.scan.cbsize =
            fuzz::SizeWord(in, {kScanInfoSize, kScanInfoCarrierSheetSize, kScanInfoBackResultSize});
        q.scan.pImg = in.ConsumeBool() ? &back.info : nullptr;
        q.setting = fuzz::Record<tagONERADIATEEX_SETTINGINFO>(in);
        q.setting.cbsize = fuzz::SizeWord(in, {kSettingInfoSize, kSettingInfoCarrierSheetSize,
                                               kSettingInfoProcessFlagSize,
                                               kSettingInfoBaseBackSize, kSettingInfoMinSize});
        q.sheets.resize(in.ConsumeIntegralInRange<size_t>(0, 3));
        for (auto& s : q.sheets) {
            s = fuzz::Record<tagONERADIATEEX_CSINFO>(in);
            s.cbsize = kCSInfoSize;
        }
        q.setting.pCSInfo = q.sheets.empty() ? nullptr : q.sheets.data();
        q.setting.csinfo_count = static_cast<uint32_t>(q.sheets.size());
        q.r.ex.pScannerInfo = in.ConsumeBool() ? &q.scanner : nullptr;
        q.r.ex.pScanInfo = in.ConsumeBool() ? &q.scan : nullptr;
        q.r.ex.pSettingInfo = in.ConsumeBool() ? &q.setting : nullptr;
        break;
    }
    case kDssModeOneRadiate:
        q.r.basic.cbsize = fuzz::SizeWord(in, {kOneRadiateSize});
        break;
    case kDssModeOneRadiateDuplex:
        q.r.basic.cbsize = fuzz::SizeWord(in, {kOneRadiateDuplexSize});
        q.r.duplex.pBackImg = in.ConsumeBool() ? &back.info : nullptr;
        break;
    default: {
        q.r.basic.cbsize = fuzz::SizeWord(in, {kFromFrameSize});
        const size_t count = in.ConsumeIntegralInRange<size_t>(0, 600);
        q.outline1.resize(count);
        q.outline2.resize(count);
        for (size_t i = 0; i < count; ++i) {
            q.outline1[i] = static_cast<int16_t>(in.ConsumeIntegralInRange<int>(-2, 700));
            q.outline2[i] = static_cast<int16_t>(in.ConsumeIntegralInRange<int>(-2, 700));
        }
        q.r.frame.dwCount = static_cast<uint32_t>(count);
        q.r.frame.pOutline1 = count == 0 ? nullptr : q.outline1.data();
        q.r.frame.pOutline2 = count == 0 ? nullptr : q.outline2.data();
        break;
    }
    }
    const int calls = in.ConsumeIntegralInRange<int>(1, 7);
    for (int i = 0; i < calls; ++i) {
        q.r.basic.dwCommand = fuzz::Pick<uint32_t>(
            in, {kDssCmdInit, kDssCmdFirst, kDssCmdMid, kDssCmdLast, kDssCmdPage, kDssCmdResult});
        q.r.basic.dwResultFlag = in.ConsumeIntegral<uint32_t>();
        DetectSlantAndSizeEx(in.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : &page.info,
                             &q.r.basic);
    }
    ReleaseSlantSizeExHandle(&q.r.basic);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int family = in.ConsumeIntegralInRange<int>(0, 3);
    fuzz::Image page;
    fuzz::Image back;
    page.Draw(in);
    if (family == 0) back.Draw(in);
    switch (family) {
    case 0:
        Ex(in, page, back);
        break;
    case 1:
        Phases<tagSLANTSIZEINFO>(in, page, DetectSlantAndSize, kSlantSizeInfoSize);
        break;
    case 2:
        Phases<tagSLANTSIZEINFO2>(in, page, DetectSlantAndSize2, kSlantSizeInfo2Size);
        break;
    default:
        Phases<tagSLANTSIZEINFO2>(in, page, DetectSlantAndSize3, kSlantSizeInfo2Size);
        break;
    }
    return 0;
}
