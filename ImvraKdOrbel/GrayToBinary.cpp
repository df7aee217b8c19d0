#include "GrayToBinary.h"

#include "CBinFilter.h"
#include "EraseDot.h"

#include <cstring>

namespace Tvk::Imvra {

namespace KD730 {

namespace {

// Fixed data: the measured rows at 0, 1, 64, 128, 192 and 255, and between
// them straight runs that never rise and fall by at most 1 a step.
constexpr uint8_t kThresholdTable[256] = {
    227, 227, 226, 226, 225, 224, 224, 223, 223, 222, 221, 221, 220, 219, 219, 218,
    217, 217, 216, 216, 215, 214, 214, 213, 212, 212, 211, 210, 210, 209, 209, 208,
    207, 207, 206, 205, 205, 204, 204, 203, 202, 202, 201, 200, 200, 199, 198, 198,
    197, 197, 196, 195, 195, 194, 193, 193, 192, 191, 191, 190, 190, 189, 188, 188,
    187, 186, 186, 185, 184, 184, 183, 183, 182, 181, 181, 180, 179, 179, 178, 178,
    177, 176, 176, 175, 174, 174, 173, 173, 172, 171, 171, 170, 169, 169, 168, 168,
    167, 166, 166, 165, 164, 164, 163, 163, 162, 161, 161, 160, 159, 159, 158, 158,
    157, 156, 156, 155, 154, 154, 153, 153, 152, 151, 151, 150, 149, 149, 148, 148,
    147, 146, 145, 144, 143, 143, 142, 141, 140, 139, 138, 137, 136, 136, 135, 134,
    133, 132, 131, 130, 129, 129, 128, 127, 126, 125, 124, 123, 122, 122, 121, 120,
    119, 118, 117, 116, 115, 115, 114, 113, 112, 111, 110, 109, 108, 108, 107, 106,
    105, 104, 103, 102, 101, 101, 100,  99,  98,  97,  96,  95,  94,  94,  93,  92,
     91,  90,  89,  88,  88,  87,  86,  85,  84,  83,  82,  81,  81,  80,  79,  78,
     77,  76,  75,  74,  74,  73,  72,  71,  70,  69,  68,  67,  67,  66,  65,  64,
     63,  62,  61,  60,  60,  59,  58,  57,  56,  55,  54,  53,  53,  52,  51,  50,
     49,  48,  47,  46,  46,  45,  44,  43,  42,  41,  40,  39,  39,  38,  37,  36,
};
constexpr uint8_t kThresholdTable2[256] = {
    227, 227, 226, 226, 225, 224, 224, 223, 222, 222, 221, 220, 220, 219, 218, 218,
    217, 216, 216, 215, 214, 214, 213, 212, 212, 211, 210, 210, 209, 208, 208, 207,
    206, 206, 205, 204, 204, 203, 202, 202, 201, 200, 200, 199, 198, 198, 197, 196,
    196, 195, 194, 194, 193, 192, 192, 191, 190, 190, 189, 188, 188, 187, 186, 186,
    185, 184, 184, 183, 182, 182, 181, 181, 180, 179, 179, 178, 177, 177, 176, 175,
    175, 174, 173, 173, 172, 172, 171, 170, 170, 169, 168, 168, 167, 166, 166, 165,
    164, 164, 163, 163, 162, 161, 161, 160, 159, 159, 158, 157, 157, 156, 156, 155,
    154, 154, 153, 152, 152, 151, 150, 150, 149, 148, 148, 147, 147, 146, 145, 145,
    144, 143, 142, 141, 141, 140, 139, 138, 137, 136, 135, 135, 134, 133, 132, 131,
    130, 129, 129, 128, 127, 126, 125, 124, 123, 123, 122, 121, 120, 119, 118, 117,
    116, 116, 115, 114, 113, 112, 111, 110, 110, 109, 108, 107, 106, 105, 104, 104,
    103, 102, 101, 100,  99,  98,  98,  97,  96,  95,  94,  93,  92,  92,  91,  90,
     89,  88,  87,  86,  86,  85,  84,  83,  82,  81,  81,  80,  79,  78,  77,  76,
     76,  75,  74,  73,  72,  71,  70,  70,  69,  68,  67,  66,  65,  65,  64,  63,
     62,  61,  60,  60,  59,  58,  57,  56,  55,  55,  54,  53,  52,  51,  50,  49,
     49,  48,  47,  46,  45,  44,  44,  43,  42,  41,  40,  39,  39,  38,  37,  36,
};
constexpr uint8_t kThresholdTableHalvexII[256] = {
    230, 229, 228, 228, 227, 226, 226, 225, 224, 224, 223, 222, 222, 221, 220, 220,
    219, 218, 218, 217, 216, 216, 215, 214, 214, 213, 212, 212, 211, 210, 210, 209,
    208, 208, 207, 206, 206, 205, 204, 204, 203, 202, 202, 201, 200, 200, 199, 198,
    198, 197, 196, 196, 195, 194, 194, 193, 192, 192, 191, 190, 190, 189, 188, 188,
    187, 186, 186, 185, 184, 184, 183, 182, 181, 181, 180, 179, 179, 178, 177, 177,
    176, 175, 175, 174, 173, 173, 172, 171, 170, 170, 169, 168, 168, 167, 166, 166,
    165, 164, 164, 163, 162, 162, 161, 160, 159, 159, 158, 157, 157, 156, 155, 155,
    154, 153, 153, 152, 151, 151, 150, 149, 148, 148, 147, 146, 146, 145, 144, 144,
    143, 142, 141, 141, 140, 139, 138, 137, 136, 136, 135, 134, 133, 132, 132, 131,
    130, 129, 128, 128, 127, 126, 125, 124, 123, 123, 122, 121, 120, 119, 119, 118,
    117, 116, 115, 115, 114, 113, 112, 111, 110, 110, 109, 108, 107, 106, 106, 105,
    104, 103, 102, 102, 101, 100,  99,  98,  97,  97,  96,  95,  94,  93,  93,  92,
     91,  90,  89,  89,  88,  87,  86,  85,  85,  84,  83,  82,  81,  80,  80,  79,
     78,  77,  76,  76,  75,  74,  73,  72,  72,  71,  70,  69,  68,  68,  67,  66,
     65,  64,  63,  63,  62,  61,  60,  59,  59,  58,  57,  56,  55,  55,  54,  53,
     52,  51,  51,  50,  49,  48,  47,  46,  46,  45,  44,  43,  42,  42,  41,  40,
};

} // namespace

uint8_t BinarizeTableBuilder::getThresholdTable(uint8_t brightness) {
    return kThresholdTable[brightness];
}
uint8_t BinarizeTableBuilder::getThresholdTable2(uint8_t brightness) {
    return kThresholdTable2[brightness];
}
uint8_t BinarizeTableBuilder::getThresholdTableHalvexII(uint8_t brightness) {
    return kThresholdTableHalvexII[brightness];
}
uint8_t BinarizeTableBuilder::getThresholdTable(uint8_t brightness, int table) {
    return table == 1 ? getThresholdTable2(brightness) : getThresholdTable(brightness);
}
uint8_t BinarizeTableBuilder::getThresholdTableHalvexII(uint8_t brightness, int) {
    return getThresholdTableHalvexII(brightness);
}

} // namespace KD730

int CGrayToBinary::setInfo(CImg& img, void* info) {
    const auto* rec = static_cast<const tagGRAYTOBINARYINFO*>(info);
    if (rec == nullptr || rec->ulSize != kGrayToBinaryInfoSize) return RTN_PAR;
    if (img.info().lBps != 8 || img.info().lSpp != 1) return RTN_PAR;
    m_settings = *rec;
    return RTN_OK;
}

void CGrayToBinary::releaseHandle() {
    if (m_request.handle != nullptr) ReleaseBinalizeHandle(&m_request);
    std::memset(&m_request, 0, sizeof m_request);
}

int CGrayToBinary::IP(CImg& img) {
    releaseHandle();
    const int r = GrayToBinary(img);
    releaseHandle();
    return r;
}

int CGrayToBinary::IPFirst(CImg& img) {
    releaseHandle();
    return GrayToBinary(img);
}

int CGrayToBinary::IPLast(CImg& img) {
    const int r = GrayToBinary(img);
    releaseHandle();
    return r;
}

CGrayToBinary::Levels CGrayToBinary::SliceLevels(const tagGRAYTOBINARYINFO& settings) {
    const auto brightness = static_cast<uint8_t>(settings.ulBrightness);
    if (settings.Method == kMethodAdaptive) {
        const int level = 255 - KD730::BinarizeTableBuilder::getThresholdTableHalvexII(brightness, 0);
        return {static_cast<uint32_t>(level < 2 ? 1 : level), settings.ulContrast};
    }
    const uint8_t level =
        KD730::BinarizeTableBuilder::getThresholdTable(brightness, settings.lThresholdTable);
    return {level, level};
}

int CGrayToBinary::GrayToBinary(CImg& img) {
    const tagIMAGEINFO& page = img.info();
    if (img.isNull() || page.lBps != 8 || page.lSpp != 1) return RTN_PAR;
    int64_t width = page.lWidth, height = page.lHeight;
    int64_t xres = page.lXResolution, yres = page.lYResolution;
    if (m_settings.Method == kMethodDouble) {
        width *= 2;
        height *= 2;
        xres *= 2;
        yres *= 2;
    }
    if (width > INT32_MAX || height > INT32_MAX || xres > INT32_MAX || yres > INT32_MAX)
        return RTN_PAR;
    CImg out;
    const auto w = static_cast<int32_t>(width);
    if (!out.createImg(w, static_cast<int32_t>(height), static_cast<int32_t>((width + 7) / 8), 1,
                       1, page.ulRGBOrder, static_cast<int32_t>(xres),
                       static_cast<int32_t>(yres)))
        return RTN_PAR;
    if (out.isNull()) return RTN_MEM;

    const Levels levels = SliceLevels(m_settings);
    m_request.size = kBinFuncInfoSizeLong;
    m_request.kind = m_settings.Method;
    m_request.firstSlice = levels.level1;
    m_request.nextSlice = levels.level2;
    // The band is read from its first line: its position in the page is no
    // line offset into its own buffer.
    tagIMAGEINFO source = page;
    source.lYpos = 0;
    const int32_t result = BinalizeRectEx(out, &source, &m_request);
    img.attachImg(out);
    return result == 0 ? RTN_OK : RTN_PAR;
}

int CBinIPFilter::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagBINIPFILTERINFO*>(info);
    if (rec == nullptr || rec->ulSize != kBinIPFilterInfoSize) return RTN_PAR;
    m_ulType = rec->type;
    return RTN_OK;
}

int CBinIPFilter::BinIPFilter(CImg& img) const {
    if (img.isNull() || img.info().lBps != 1) return RTN_PAR;
    tagIMAGEINFO* page = img;
    if (m_ulType & kEraseDots) {
        // Both polarities: black specks on white and white specks on black.
        for (uint32_t mode : {0u, 1u}) {
            tagERASEDOTINFO request{kEraseDotInfoMinSize, mode, nullptr};
            if (EraseDot(page, page, &request) <= 0) return RTN_PAR;
        }
    }
    if (m_ulType & kBinaryFilter) {
        tagBINFILTERINFO request{kBinFilterInfoSize, kBinFilterWhiteNotch | kBinFilterBlackBump, 0,
                                 nullptr, nullptr};
        if (BinFilter(page, page, &request) != 0) return RTN_PAR;
    }
    return RTN_OK;
}

} // namespace Tvk::Imvra
