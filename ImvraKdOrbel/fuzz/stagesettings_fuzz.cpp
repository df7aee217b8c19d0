// The page stages of tone, colour and black-and-white on settings as the data
// source and the user may hand them over: any record bytes (size word
// included), any brightness, contrast, sensitivity, method, colour or level,
// on a small generated page. The first byte picks the stage, the next four
// shape the page; the rest fills the stage's settings record.
#include "ColorStages.h"
#include "DetectColorOrGray.h"
#include "EmphasisEdge.h"
#include "GRC.h"
#include "GrayToBinary.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace Tvk::Imvra;

namespace {

template <class T>
void Fill(T& rec, const uint8_t* data, size_t size) {
    std::memset(&rec, 0, sizeof rec);
    std::memcpy(&rec, data, std::min(size, sizeof rec));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const uint8_t stage = data[0] % 6;
    const int32_t width = 1 + data[1] % 64, height = 1 + data[2] % 24;
    const bool color = (data[3] & 1) != 0;
    const uint32_t order = (data[3] >> 1) & 1;
    const int32_t yres = (data[3] & 4) ? 200 : 300;
    const auto shift = static_cast<int8_t>(data[4]);
    data += 5;
    size -= 5;

    CImg img;
    if (!img.createImg(width, height, 8, color ? 3 : 1, color ? order : 1, 300, yres))
        return 0;
    for (uint32_t i = 0; i < img.info().tImageSize; ++i)
        img.info().lpImage[i] = static_cast<uint8_t>(i * 37 + shift);

    switch (stage) {
    case 0: {
        // The tone stage also takes a position inside the line (the back
        // half of a side-by-side page): any position and width.
        CGRC::tagINFO rec;
        Fill(rec, data, size);
        CGRC grc;
        grc.setMode(static_cast<CGRC::ColorMode>(shift & 3), shift & 4, shift & 8);
        img.info().lXpos = shift;
        img.info().lWidth = width + (shift >> 3);
        grc.IPInterface(img, &rec);
        break;
    }
    case 1: {
        tagGRAYTOBINARYINFO rec;
        Fill(rec, data, size);
        CGrayToBinary binarize;
        if (binarize.IPInterface(img, &rec) == RTN_OK) {
            tagBINIPFILTERINFO clean{kBinIPFilterInfoSize, rec.ulContrast};
            CBinIPFilter filter;
            filter.IPInterface(img, &clean);
        }
        break;
    }
    case 2: {
        tagDETECTCOLORORGRAYINFO side;
        Fill(side, data, size);
        ColorOrGrayThresholdBuilderImp builder(side.lSensitivityOfAutoColor);
        uint32_t result = 0;
        tagDETECTCOLORORGRAYSTAGEINFO rec{kDetectColorOrGrayStageInfoSize, &side, &builder,
                                          {size > 0 ? data[0] : uint8_t{136}, 200, 100, 170}, &result, 0, 0,
                                          static_cast<int32_t>(shift)};
        CDetectColorOrGray detect;
        detect.IPInterface(img, &rec);
        break;
    }
    case 3: {
        tagDROPOUTCOLORINFO rec;
        Fill(rec, data, size);
        rec.lpColor = rec.lpNewColors = nullptr; // pointers stay our own
        CDropOutColor drop;
        CEmphasisColor emphasis;
        (shift & 1) ? drop.IPInterface(img, &rec) : emphasis.IPInterface(img, &rec);
        break;
    }
    case 4: {
        tagSRGBCONVERSIONINFO rec;
        Fill(rec, data, size);
        KD730::CSRGBConversion convert;
        convert.IPInterface(img, &rec);
        KD730::CColorSaturate saturate;
        if (shift & 1) saturate.IPInterface(img, nullptr);
        break;
    }
    default: {
        // A page in bands of the size the page's fourth byte gives.
        tagEMPHASISEDGESTAGEINFO rec;
        Fill(rec, data, size);
        CIPController<CEmphasisEdge> c;
        c.setStage(new CEmphasisEdge, IPMODE_BAND_FLUSH_3);
        const int32_t band = 1 + (shift & 7);
        const int32_t step = img.info().lSync * (order == 1 && color ? 3 : 1);
        for (int32_t y = 0; y < height; y += band) {
            const int32_t n = std::min(band, height - y);
            CImg part;
            if (!part.createImg(width, n, img.info().lSync, 8, img.info().lSpp,
                                img.info().ulRGBOrder, 300, 300))
                return 0;
            if (part.isNull()) return 0;
            std::memcpy(part.info().lpImage, img.info().lpImage + int64_t{y} * step,
                        part.info().tImageSize);
            if (y + n == height)
                c.IPLast(part, &rec);
            else
                c.IPMiddle(part, &rec);
        }
        break;
    }
    }
    return 0;
}
