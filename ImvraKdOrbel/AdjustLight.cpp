#include "AdjustLight.h"

#include "AdjustLightCurve.h"

#include <algorithm>
#include <cmath>

namespace Tvk::Imvra::KD730 {

namespace {

constexpr int32_t kOffsetTarget = 96;
constexpr uint16_t kScanInfoLit = 0xFEFE;    // next scan: lamps as the LED currents say
constexpr uint16_t kScanInfoUnlit = 0xFFFF;  // next scan: lamps off
constexpr int32_t kSaturateLED = 8191;
constexpr int32_t kLightDarkLED = 250;
constexpr int kSteps = 7;

int32_t Trunc(double v) {
    if (!(v == v)) return 0; // NaN
    return static_cast<int32_t>(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

// The samples of a reference that the steps read, checked against its buffer.
struct Reference {
    const uint16_t* base = nullptr;
    int64_t width = 0;   // pixels of the first line
    int64_t plane = 0;   // samples between planes (planar colour), else 0
    int spp = 1;
    int64_t total = 0;   // 16-bit samples of the whole buffer
    uint16_t at(int64_t x, int c) const { return plane ? base[c * plane + x] : base[x * spp + c]; }
};

// A 16-bit image whose first line the buffer holds; false otherwise.
bool ReadReference(const CImg& img, Reference& ref) {
    const tagIMAGEINFO& i = img.info();
    if (img.isNull() || i.lBps != 16 || i.lWidth < 1 || i.lHeight < 1 ||
        (i.lSpp != 1 && i.lSpp != 3) || i.ulRGBOrder > 1 || i.lSync % 2 != 0)
        return false;
    const bool planar = i.ulRGBOrder == 1 && i.lSpp == 3;
    const int64_t rowSamples = planar ? i.lWidth : int64_t{i.lWidth} * i.lSpp;
    if (i.lSync < 2 * rowSamples) return false;
    if (int64_t{i.tImageSize} < (planar ? 3 : 1) * int64_t{i.lSync}) return false;
    ref.base = reinterpret_cast<const uint16_t*>(i.lpImage);
    ref.width = i.lWidth;
    ref.plane = planar ? i.lSync / 2 : 0;
    ref.spp = i.lSpp;
    ref.total = i.tImageSize / 2;
    return true;
}

// Smallest sample of the first line over all channels.
int32_t GetMin(const Reference& r) {
    int32_t m = INT32_MAX;
    for (int64_t x = 0; x < r.width; ++x)
        for (int c = 0; c < r.spp; ++c) m = std::min<int32_t>(m, r.at(x, c));
    return m;
}

tagADJUSTREGISTERS& Side(tagADJUSTINFO& info, int side) {
    return side == 0 ? info.FrontAdjustInfo : info.BackAdjustInfo;
}
uint32_t LightSource(const tagADJUSTINFO& info, int side) {
    return side == 0 ? info.FrontLightSorce : info.BackLightSorce;
}
bool Duplex(const tagADJUSTINFO& info) { return (info.bDuplex & 0xFF) != 0; }

uint16_t ToRegister(int32_t led) { return static_cast<uint16_t>(std::clamp(led, 0, 65535)); }

// Samples of a one-sample channel image.
int64_t ChannelSamples(const CImg& img) { return img.isNull() ? 0 : img.info().tImageSize / 2; }
const uint16_t* Channel(const CImg& img) {
    return reinterpret_cast<const uint16_t*>(img.info().lpImage);
}

} // namespace

double AdjustLight_GetAnaproGain(int g) { return 416.0 / (288.3 - g) / 1.4429413805064168; }

uint8_t GetOffsetRegister_Feeder(int32_t L, int g, int o, int32_t target) {
    const double v =
        o - (L - target) * (1.0 / 4096) * (1350 / (AdjustLight_GetAnaproGain(g) * -2.4));
    if (v < 1) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(Trunc(v));
}

uint8_t GetGainRegister(int32_t L, int g, int32_t target) {
    const int32_t v = Trunc(L * -288.3 / (AdjustLight_GetAnaproGain(g) * target) + 288.3);
    if (v <= 0) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(v);
}

int32_t GetTargetX(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t t) {
    if (y1 == y2) return 0;
    return Trunc(static_cast<double>(x1 - x2) * t / (y1 - y2)) +
           Trunc((static_cast<double>(x1) * y2 - static_cast<double>(x2) * y1) / (y2 - y1));
}

// ---------------------------------------------------------------------------

void CAdjustLight::AdjustAnaproOffsetInit(tagADJUSTINFO& info) {
    for (int s = 0; s < 2; ++s) {
        tagADJUSTREGISTERS& r = Side(info, s);
        r = tagADJUSTREGISTERS{};
        std::fill(std::begin(r.Offset), std::end(r.Offset), uint8_t{30});
    }
    info.ScanInfo = kScanInfoUnlit;
}

void CAdjustLight::AdjustLightFirst(tagADJUSTINFO* info, long mode) {
    m_ucStep = 0;
    if (mode == 3) m_lTargetIndex = 1;
    for (auto& l : m_level) l = tagLIGHTRESPONSELEVEL{};
    if (info == nullptr) return;
    AdjustAnaproOffsetInit(*info);
    info->bDone = 0;
}

void CAdjustLight::SetLED(tagADJUSTINFO& info, int32_t r, int32_t g, int32_t b) {
    m_lLED[0] = r;
    m_lLED[1] = g;
    m_lLED[2] = b;
    for (int s = 0; s < 2; ++s) {
        Side(info, s).RedLED = ToRegister(r);
        Side(info, s).GreenLED = ToRegister(g);
        Side(info, s).BlueLED = ToRegister(b);
    }
}

void CAdjustLight::AdjustLightInit(tagADJUSTINFO& info) {
    if (info.lXResolution == 300)
        SetLED(info, 470, 580, 520);
    else if (info.lXResolution == 600)
        SetLED(info, 910, 1150, 1020);
    else
        SetLED(info, 0, 0, 0);
}

int CAdjustLight::AdjustLightNext(CImg& front, CImg& back, tagADJUSTINFO* info) {
    if (info == nullptr) return RTN_PAR;
    // The counter stops past the end, so any number of late calls stays refused.
    const int step = m_ucStep;
    if (step < kSteps + 1) ++m_ucStep;
    if (step >= kSteps) return RTN_STATE;
    int r = RTN_OK;
    switch (step) {
    case 0:
        r = AdjustAnaproOffset(front, back, *info);
        SetLED(*info, 0, 0, 0);
        info->ScanInfo = kScanInfoLit;
        break;
    case 1:
        r = AdjustLight_GetSensorLevel(front, back, *info, kDark);
        SetLED(*info, kSaturateLED, kSaturateLED, kSaturateLED);
        info->ScanInfo = kScanInfoLit;
        break;
    case 2:
        r = AdjustLight_GetSensorLevel(front, back, *info, kSaturate);
        SetLED(*info, kLightDarkLED, kLightDarkLED, kLightDarkLED);
        info->ScanInfo = kScanInfoLit;
        break;
    case 3:
        r = AdjustLight_GetSensorLevel(front, back, *info, kLightDark);
        AdjustLightInit(*info);
        info->ScanInfo = kScanInfoLit;
        break;
    case 4:
        r = AdjustLight_GetSensorLevel(front, back, *info, kReference);
        if (r == RTN_OK) r = AdjustLight_DecideLightAdjustValue(*info);
        info->ScanInfo = kScanInfoLit;
        break;
    case 5:
        r = AdjustAnaproGain(front, back, *info);
        info->ScanInfo = kScanInfoUnlit;
        break;
    default:
        r = AdjustAnaproOffset(front, back, *info);
        AdjustDecideData(*info);
        info->bDone = 1;
        break;
    }
    return r;
}

int CAdjustLight::AdjustAnaproOffset(CImg& front, CImg& back, tagADJUSTINFO& info) {
    const int sides = Duplex(info) ? 2 : 1;
    for (int s = 0; s < sides; ++s) {
        Reference ref;
        if (!ReadReference(s == 0 ? front : back, ref)) return RTN_PAR;
        tagADJUSTREGISTERS& regs = Side(info, s);
        const uint8_t o = GetOffsetRegister_Feeder(GetMin(ref), regs.Gain[0], regs.Offset[0],
                                                   kOffsetTarget);
        std::fill(std::begin(regs.Offset), std::end(regs.Offset), o);
    }
    return RTN_OK;
}

int CAdjustLight::AdjustAnaproGain(CImg& front, CImg& back, tagADJUSTINFO& info) {
    const int sides = Duplex(info) ? 2 : 1;
    const int32_t target = LIGHT_ADJUST_GAIN_ADJ_TARGET_LIST[m_lTargetIndex];
    for (int s = 0; s < sides; ++s) {
        Reference ref;
        if (!ReadReference(s == 0 ? front : back, ref)) return RTN_PAR;
        int32_t L = 0;
        for (int64_t k = 0; k < ref.total; ++k) L = std::max<int32_t>(L, ref.base[k]);
        tagADJUSTREGISTERS& regs = Side(info, s);
        const uint8_t g = GetGainRegister(L, regs.Gain[0], target);
        std::fill(std::begin(regs.Gain), std::end(regs.Gain), g);
    }
    return RTN_OK;
}

int CAdjustLight::AdjustLight_GetSensorLevel(CImg& front, CImg& back, const tagADJUSTINFO& info,
                                             Level level) {
    const int sides = Duplex(info) ? 2 : 1;
    for (int s = 0; s < sides; ++s) {
        const CImg& img = s == 0 ? front : back;
        if (img.info().lSpp != 3) return RTN_PAR;
        Reference ref;
        if (!ReadReference(img, ref) || img.info().lHeight != 1) return RTN_PAR;
        for (int c = 0; c < 3; ++c) {
            // The first extreme wins a tie.
            int32_t mx = ref.at(0, c), mn = mx;
            for (int64_t x = 1; x < ref.width; ++x) {
                mx = std::max<int32_t>(mx, ref.at(x, c));
                mn = std::min<int32_t>(mn, ref.at(x, c));
            }
            m_level[level].side[s][c] = tagLIGHTRESPONSE{m_lLED[c], mx, mn};
        }
        // The three channels as single-line, one-sample images.
        const tagIMAGEINFO& i = img.info();
        for (int c = 0; c < 3; ++c) {
            CImg& out = m_img[level][3 * s + c];
            if (!out.createImg(i.lWidth, 1, 16, 1, 0, i.lXResolution, i.lYResolution))
                return RTN_PAR;
            if (out.isNull()) return RTN_MEM;
            uint16_t* dst = reinterpret_cast<uint16_t*>(out.info().lpImage);
            for (int64_t x = 0; x < ref.width; ++x) dst[x] = ref.at(x, c);
        }
    }
    return RTN_OK;
}

int CAdjustLight::DecideTargetRegister(const tagADJUSTINFO& info, int s, int32_t led[3]) {
    if (info.ScanMode == 2 || LightSource(info, s) != 0) return RTN_OK;
    const int32_t T = LIGHT_ADJUST_GAIN_ADJ_TARGET_LIST[m_lTargetIndex];
    const CImg* dark = m_img[kDark] + 3 * s;
    const CImg* lightDark = m_img[kLightDark] + 3 * s;
    const CImg* ref = m_img[kReference] + 3 * s;
    // Only samples every image read holds count.
    int64_t N = ChannelSamples(lightDark[0]);
    for (int c = 0; c < 3; ++c) N = std::min({N, ChannelSamples(dark[c]), ChannelSamples(ref[c])});
    if (N <= 0) return RTN_STATE;
    const uint16_t* e = Channel(dark[0]);
    const uint16_t* cl = Channel(lightDark[0]);
    const uint16_t* d = Channel(ref[0]);
    const double x1 = m_level[kLightDark].side[s][0].lLED;
    const double x2 = m_level[kReference].side[s][0].lLED;
    double rate = 0;
    for (int64_t i = 0; i < N; ++i) {
        const double b = x1 == x2 ? 0.0 : (x1 * (d[i] - e[i]) - (cl[i] - e[i]) * x2) / (x1 - x2);
        const double m = (d[i] - e[i]) - b;
        const double r = m == 0 ? 0.0 : (static_cast<double>((T - e[i]) / 3) - b) / m;
        if (i == 0 || r < rate) rate = r;
    }
    led[0] = Trunc(x2 * rate);
    for (int c = 1; c < 3; ++c) {
        const uint16_t* ec = Channel(dark[c]);
        const uint16_t* dc = Channel(ref[c]);
        double sum = 0;
        for (int64_t i = 0; i < N; ++i)
            if (dc[i] != ec[i])
                sum += static_cast<double>(d[i] - e[i]) / (static_cast<double>(dc[i]) - ec[i]);
        led[c] = Trunc(led[0] * (sum / static_cast<double>(N)));
    }
    for (int c = 0; c < 3; ++c) m_level[kDecided].side[s][c].lLED = led[c];
    return RTN_OK;
}

int CAdjustLight::AdjustLight_DecideLightAdjustValue(tagADJUSTINFO& info) {
    const int sides = Duplex(info) ? 2 : 1;
    const int32_t T = LIGHT_ADJUST_GAIN_ADJ_TARGET_LIST[m_lTargetIndex];
    for (int s = 0; s < sides; ++s) {
        const uint32_t source = LightSource(info, s);
        int32_t led[3] = {0, 0, 0};
        if (info.ScanMode != 2 && source == 0) {
            if (const int r = DecideTargetRegister(info, s, led); r != RTN_OK) return r;
        } else {
            int32_t rate = 95;
            if (info.ScanMode == 1)
                rate = (source >= 1 && source <= 3) ? 95 : (source >= 4 && source <= 6) ? 47 : 31;
            const auto& dark = m_level[kDark].side[s];
            const auto& sat = m_level[kSaturate].side[s];
            const int32_t D = std::max({dark[0].lMin, dark[1].lMin, dark[2].lMin});
            const int32_t S = std::min({sat[0].lMax, sat[1].lMax, sat[2].lMax});
            int32_t t = D + (S - D) * rate / 100;
            if (info.ScanMode == 1 && source >= 4 && source <= 6)
                t = T / 2 * 85 / 100;
            else
                t = std::min(T * 85 / 100, t);
            for (int c = 0; c < 3; ++c) {
                const tagLIGHTRESPONSE& a = m_level[kLightDark].side[s][c];
                const tagLIGHTRESPONSE& b = m_level[kReference].side[s][c];
                led[c] = GetTargetX(a.lLED, a.lMax, b.lLED, b.lMax, t);
                m_level[kDecided].side[s][c] = tagLIGHTRESPONSE{led[c], t, 0};
            }
        }
        int32_t limit;
        if (info.lXResolution == 300)
            limit = 900;
        else if (info.lXResolution == 600)
            limit = 2000;
        else
            return RTN_STATE;
        AdjustLight_DecideLightAdjustValue_CheckRegisterLimit(led, limit);
        tagADJUSTREGISTERS& regs = Side(info, s);
        regs.RedLED = ToRegister(led[0]);
        regs.GreenLED = ToRegister(led[1]);
        regs.BlueLED = ToRegister(led[2]);
    }
    return RTN_OK;
}

void CAdjustLight::AdjustDecideData(tagADJUSTINFO& info) {
    for (int s = 0; s < 2; ++s) {
        // LEDs lit per light source: red, green, blue.
        bool lit[3] = {true, true, true};
        switch (LightSource(info, s)) {
        case 1: lit[1] = lit[2] = false; break;
        case 2: lit[0] = lit[2] = false; break;
        case 3: lit[0] = lit[1] = false; break;
        case 4: lit[0] = false; break;
        case 5: lit[1] = false; break;
        case 6: lit[2] = false; break;
        default: break;
        }
        tagADJUSTREGISTERS& regs = Side(info, s);
        if (!lit[0]) regs.RedLED = 0;
        if (!lit[1]) regs.GreenLED = 0;
        if (!lit[2]) regs.BlueLED = 0;
    }
}

int CAdjustLight::AdjustLightCurve(CImg& white, CImg& black, const tagADJUSTINFO* info,
                                   tagSIDE side, const uint8_t* data, size_t size) {
    if (info == nullptr) return RTN_PAR;
    CLightCurveAdjustData curves;
    const int r = curves.LoadData(data, size);
    if (r != RTN_OK) return r;
    const uint32_t source = side == SIDE_BACK ? info->BackLightSorce : info->FrontLightSorce;
    int dropout = 0, emphasis = 0;
    if (source >= 1 && source <= 3) dropout = static_cast<int>(source);
    if (source >= 4 && source <= 6) emphasis = static_cast<int>(source) - 3;
    return curves.AdjustData(black, white, side, dropout, emphasis);
}

// ---------------------------------------------------------------------------

void AdjustLightData_SetGain(tagADJUSTINFO* info, bool front, uint8_t value) {
    if (info == nullptr) return;
    auto& g = Side(*info, front ? 0 : 1).Gain;
    std::fill(std::begin(g), std::end(g), value);
}
uint8_t AdjustLightData_GetGain(const tagADJUSTINFO* info, bool front) {
    if (info == nullptr) return 0;
    return (front ? info->FrontAdjustInfo : info->BackAdjustInfo).Gain[0];
}
void AdjustLightData_SetOffset(tagADJUSTINFO* info, bool front, uint8_t value) {
    if (info == nullptr) return;
    auto& o = Side(*info, front ? 0 : 1).Offset;
    std::fill(std::begin(o), std::end(o), value);
}
uint8_t AdjustLightData_GetOffset(const tagADJUSTINFO* info, bool front) {
    if (info == nullptr) return 0;
    return (front ? info->FrontAdjustInfo : info->BackAdjustInfo).Offset[0];
}
void AdjustLightData_SetLEDCurrent(tagADJUSTINFO*, bool, unsigned long) {}

void AdjustLight_DecideLightAdjustValue_CheckRegisterLimit(int32_t led[3], int32_t limit) {
    const int32_t largest = std::max({led[0], led[1], led[2]});
    if (largest <= limit) return;
    // A ratio in floating point lands one below for many currents (4852 at
    // 900 gave 899): the product is divided instead.
    for (int c = 0; c < 3; ++c)
        led[c] = static_cast<int32_t>(static_cast<int64_t>(led[c]) * limit / largest);
}

} // namespace Tvk::Imvra::KD730
