#include "DetectColorOrGray.h"

#include "TvkTypes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Tvk::Imvra {

namespace {

constexpr double kExponent = 0.45454545454545453; // 1 / 2.2

// Tolerance offsets by sensitivity (column); rows are curve variants.
constexpr double kOffsetTable[2][8] = {
    {0.0, 0.001, 0.035, 0.075, 0.126, 0.17, 0.23, 0.3},
    {0.0, 0.001, 0.035, 0.075, 0.126, 0.17, 0.23, 0.3},
};

// A field of the side's record, or 0 when its size word stops before it.
template <class T>
T FieldOrZero(const tagDETECTCOLORORGRAYINFO& rec, const T& field) {
    const auto offset = reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(&rec);
    return rec.ulSize >= offset + sizeof(T) ? field : T{};
}

constexpr int32_t kColorModeWholeTable = 2; // the colour test's built-in tolerance
constexpr int32_t kColorModeOwnTable = 3;   // the tolerance table in the record
constexpr uint32_t kLowResolutionOptions = 0x10000005;

} // namespace

int ColorOrGrayThresholdBuilder::GetOffset(double* out, int sensitivity) const {
    if (sensitivity == 0) sensitivity = m_nSensitivity;
    if (sensitivity < 1) return kErrBelowRange;
    if (sensitivity > getMaxSensitivity() - getMinSensitivity() + 1) return kErrAboveRange;
    if (out == nullptr) return 0;
    *out = getOffsetTable(sensitivity);
    return 0;
}

double ColorOrGrayThresholdBuilderImp::getOffsetTable(int sensitivity) const {
    const int row = std::clamp(m_nOffsetRow, 0, 1);
    return kOffsetTable[row][std::clamp(sensitivity, 0, 7)];
}

double ColorOrGrayThresholdBuilderImp::gmm(double x) const {
    if (x > 24) return 391.0 * std::pow(x / 255.0, kExponent) - 103.0 + 0.5;
    return x * 1.333;
}

double ColorOrGrayThresholdBuilderImp::gmminv(double y) const {
    if (y > 32) return 255.0 * std::pow((y + 103.0 - 0.5) / 391.0, 2.2);
    return y / 1.333;
}

bool ColorOrGrayThresholdBuilderImp::BuildThreshold(uint8_t* table, unsigned int count) {
    double offset = 0;
    if (table == nullptr || count != 256 || GetOffset(&offset, 0) != 0) return false;
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<uint8_t>(i);
        const double g = std::min(gmm(i), 255.0);
        if (!(g > 45)) continue;
        const double y = g - (5.0 / (g - 45.0) + offset) * g;
        if (y < 0 || i == 0) continue;
        const double z = gmminv(y);
        const double v = std::trunc(i * ((i - z) / i) + 0.5);
        const double m = std::min(v, static_cast<double>(i));
        table[i] = m < 1 ? 0 : static_cast<uint8_t>(m);
    }
    return true;
}

uint32_t CDetectColorOrGray::AllowedClasses(uint32_t mode) {
    switch (mode) {
    case 0: return kColorModeColor | kColorModeGray | kColorModeMono;
    case 1: return kColorModeColor | kColorModeGray;
    case 2: return kColorModeColor | kColorModeMono;
    default: return 0;
    }
}

int CDetectColorOrGray::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagDETECTCOLORORGRAYSTAGEINFO*>(info);
    if (rec == nullptr || rec->ulSize != kDetectColorOrGrayStageInfoSize || rec->pInfo == nullptr)
        return RTN_PAR;
    m_info = *rec;
    return RTN_OK;
}

void CDetectColorOrGray::buildRecords(const CImg& img, int32_t command, Records& out) const {
    out.color = tagDETECT_COLOR_INFO{};
    out.gray = tagDETECTGRAYINFO{};
    out.head = tagDETECTCOLORMODEINFO{};
    if (m_info.pInfo == nullptr) return;
    const tagDETECTCOLORORGRAYINFO& side = *m_info.pInfo;
    const int32_t sensitivity = FieldOrZero(side, side.lSensitivityOfAutoColor);
    const uint32_t intensity = FieldOrZero(side, side.ulIntensityOfAutoColor);
    const uint32_t mode = FieldOrZero(side, side.Mode);
    const int32_t length = FieldOrZero(side, side.lLength);
    const tagIMAGEINFO& page = img.info();

    tagDETECT_COLOR_INFO& color = out.color;
    color.ulSize = kDetectColorInfoSizeFull;
    color.lCommand = command;
    color.lWidth = page.lWidth;
    color.lHeight = page.lHeight;
    color.lXResolution = page.lXResolution;
    color.lYResolution = page.lYResolution;
    color.lThresholdMode = kColorModeWholeTable;
    color.lSensitivity = sensitivity;
    color.lIntensity = static_cast<int32_t>(intensity);
    color.ulOptions = page.lYResolution < 300 ? kLowResolutionOptions : 0;
    color.lAreaLength = length;
    if (m_info.pBuilder != nullptr && m_info.pBuilder->BuildThreshold(color.btThreshold, 256))
        color.lThresholdMode = kColorModeOwnTable;

    tagDETECTGRAYINFO& gray = out.gray;
    gray.ulSize = kDetectGrayInfoSizeFull;
    gray.lWidth = page.lWidth;
    gray.lHeight = page.lHeight;
    gray.lXResolution = page.lXResolution;
    gray.lYResolution = page.lYResolution;
    gray.btBlackLevel = m_info.btLevel[0];
    gray.lIntensity = m_info.lIntensity;
    gray.btWhiteLevel = m_info.btLevel[1];
    gray.btGrayBound1 = m_info.btLevel[2];
    gray.btGrayBound2 = m_info.btLevel[3];
    gray.lAreaLength = length;
    // The pixels of 2 mm at either side stay out of the test.
    gray.lLeftMargin = gray.lRightMargin =
        static_cast<int32_t>(int64_t{page.lXResolution} * 20 / 254);

    out.head.ulSize = kDetectColorModeInfoSize;
    out.head.ulMode = AllowedClasses(mode);
    out.head.pColorInfo = &out.color;
    out.head.pGrayInfo = &out.gray;
}

int CDetectColorOrGray::DetectColorOrGray(CImg& img, int32_t command) {
    if (m_info.pInfo == nullptr) return RTN_PAR;
    Records records;
    buildRecords(img, command, records);
    tagDETECTCOLORMODEINFO& head = records.head;
    const uint32_t rc = DetectColorMode(img.isNull() ? nullptr : static_cast<tagIMAGEINFO*>(img),
                                        &head);

    uint32_t cls = kClassColor;
    if (head.ulResult & kColorModeColor)
        cls = kClassColor;
    else if (head.ulResult & kColorModeGray)
        cls = kClassGray;
    else if (head.ulResult & kColorModeMono)
        cls = kClassBlackAndWhite;
    if (m_info.pResult != nullptr) *m_info.pResult = cls;

    switch (static_cast<int32_t>(rc)) {
    case 0: return RTN_OK;
    case -1: case -3: case -4: case -5: case -6: case -7: return RTN_PAR;
    case -2: return RTN_MEM;
    default: break;
    }
    // The lower layer's own codes for refused requests and lacking memory.
    if (rc == kIpErrBadArgument || rc == kIpErrBadParamBlock) return RTN_PAR;
    if (rc == kIpErrOutOfMemory || rc == kIpErrNoMemory) return RTN_MEM;
    return RTN_STATE;
}

} // namespace Tvk::Imvra
