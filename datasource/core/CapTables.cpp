#include "CapTables.h"

#include "KdTwainCustom.h"

#include <cmath>
#include <new>

namespace {

// Zero of every item type, the empty strings included.
constexpr TW_UINT8 kZero[256] = {};

constexpr TW_INT16 kXferCountAll = -1;
constexpr TW_BOOL kTrue = 1;
constexpr TW_UINT16 kUInt1 = 1;

// CAP_SUPPORTEDCAPS, in the order hosts read it.
constexpr TW_UINT16 kSupportedCaps[] = {
    CAP_XFERCOUNT,     CAP_SUPPORTEDCAPS,      CAP_UICONTROLLABLE,     ICAP_COMPRESSION,   ICAP_PLANARCHUNKY,
    ICAP_PHYSICALHEIGHT, ICAP_PHYSICALWIDTH,   ICAP_PIXELFLAVOR,       ICAP_BITDEPTH,      ICAP_BITORDER,
    ICAP_PIXELTYPE,    ICAP_UNITS,             ICAP_XFERMECH,          ICAP_XRESOLUTION,   ICAP_YRESOLUTION,
    CAP_DEVICEONLINE,  CAP_INDICATORS,         ICAP_XNATIVERESOLUTION, ICAP_YNATIVERESOLUTION,
    CAP_ENABLEDSUIONLY, ICAP_IMAGEFILEFORMAT,  ICAP_FRAMES,
};
static_assert(sizeof(kSupportedCaps) / sizeof(kSupportedCaps[0]) == 22);
constexpr SMakeCapList kSupportedCapsList = {22, kSupportedCaps};

constexpr TW_UINT16 kPlanarChunky[] = {0};
constexpr SMakeCapEnum kPlanarChunkyEnum = {1, kPlanarChunky, 0, 0};
constexpr TW_UINT16 kBitDepths[] = {1, 8};
constexpr SMakeCapEnum kBitDepthEnum = {2, kBitDepths, 0, 0};
constexpr TW_UINT16 kPixelTypes[] = {0, 1, 2};
constexpr SMakeCapEnum kPixelTypeEnum = {3, kPixelTypes, 0, 0};
constexpr TW_UINT16 kUnits[] = {0, 1, 5};
constexpr SMakeCapEnum kUnitsEnum = {3, kUnits, 0, 0};
constexpr TW_UINT16 kXferMechs[] = {2, 0, 3};
constexpr SMakeCapEnum kXferMechEnum = {3, kXferMechs, 0, 0};
constexpr float kRes300[] = {300.0f};
constexpr SMakeCapEnum kRes300Enum = {1, kRes300, 0, 0};
constexpr TW_UINT16 kFileFormats[] = {0, 1, 4};
constexpr SMakeCapEnum kFileFormatEnum = {3, kFileFormats, 1, 1};

constexpr TW_UINT8 kNoRO = 0, kRO = 1;

} // namespace

const SMakeCapDesc sGeneralCapDesc[] = {
    {CAP_XFERCOUNT, TWON_ONEVALUE, TWTY_INT16, &kXferCountAll, kNoRO},
    {CAP_SUPPORTEDCAPS, TWON_ARRAY, TWTY_UINT16, &kSupportedCapsList, kRO},
    {CAP_UICONTROLLABLE, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kRO},
    {ICAP_COMPRESSION, TWON_ONEVALUE, TWTY_UINT16, kZero, kRO},
    {ICAP_PLANARCHUNKY, TWON_ENUMERATION, TWTY_UINT16, &kPlanarChunkyEnum, kRO},
    {ICAP_PHYSICALHEIGHT, TWON_ONEVALUE, TWTY_FLOAT32, kZero, kRO},
    {ICAP_PHYSICALWIDTH, TWON_ONEVALUE, TWTY_FLOAT32, kZero, kRO},
    {ICAP_PIXELFLAVOR, TWON_ONEVALUE, TWTY_UINT16, kZero, kRO},
    {ICAP_BITDEPTH, TWON_ENUMERATION, TWTY_UINT16, &kBitDepthEnum, kNoRO},
    {ICAP_BITORDER, TWON_ONEVALUE, TWTY_UINT16, &kUInt1, kRO},
    {ICAP_PIXELTYPE, TWON_ENUMERATION, TWTY_UINT16, &kPixelTypeEnum, kNoRO},
    {ICAP_UNITS, TWON_ENUMERATION, TWTY_UINT16, &kUnitsEnum, kNoRO},
    {ICAP_XFERMECH, TWON_ENUMERATION, TWTY_UINT16, &kXferMechEnum, kNoRO},
    {ICAP_XRESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kRes300Enum, kNoRO},
    {ICAP_YRESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kRes300Enum, kNoRO},
    {CAP_DEVICEONLINE, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kRO},
    {CAP_INDICATORS, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kNoRO},
    {ICAP_XNATIVERESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kRes300Enum, kRO},
    {ICAP_YNATIVERESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kRes300Enum, kRO},
    {ICAP_FRAMES, TWON_ONEVALUE, TWTY_FRAME, kZero, kNoRO},
    {CAP_ENABLEDSUIONLY, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kRO},
    {ICAP_IMAGEFILEFORMAT, TWON_ENUMERATION, TWTY_UINT16, &kFileFormatEnum, kRO},
    // The scan frame stays INT32, as hosts and the settings record expect.
    {CCAP_TVKM_SCANAREA_X, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVKM_SCANAREA_Y, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVKM_SCANAREA_WIDTH, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVKM_SCANAREA_HEIGHT, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
};
const std::size_t kGeneralCapCount = sizeof(sGeneralCapDesc) / sizeof(sGeneralCapDesc[0]);

namespace {

constexpr TW_UINT16 kDuplexBoth = 1;
constexpr float kPhysicalHeight = 16800.0f; // 1/1200 inch
constexpr float kPhysicalWidth = 10208.0f;
constexpr float kMinimumSize = 256.0f;
constexpr float kResolutions[] = {100, 150, 200, 240, 300, 400, 600};
constexpr SMakeCapEnum kResolutionEnum = {7, kResolutions, 4, 4};
constexpr float kNativeResolutions[] = {300, 600};
constexpr SMakeCapEnum kNativeResolutionEnum = {2, kNativeResolutions, 0, 0};
constexpr TW_UINT16 kSupportedSizes[] = {1, 2, 3, 4, 5, 13, 39};
constexpr SMakeCapEnum kSupportedSizesEnum = {7, kSupportedSizes, 0, 0};
// Counted strings: length byte, then the characters.
constexpr TW_STR32 kHalftones[] = {"\x04None", "\x0F" "Error Diffusion"};
constexpr SMakeCapEnum kHalftonesEnum = {2, kHalftones, 0, 0};
constexpr float kThreshold[] = {128, 128, 255, 0, 1};
constexpr float kBrightness[] = {0, 0, 1000, -1000, 1000.0f / 127.0f};
constexpr float kContrast[] = {0, 0, 1000, -1000, 1000.0f / 3.0f};

constexpr TW_INT32 k1 = 1, k2 = 2, k3 = 3, k4 = 4, k9 = 9, k10 = 10, k128 = 128;
constexpr float kGammaOne = 1.0f;

} // namespace

const SMakeCapDesc sKdDSCapDesc[] = {
    {CAP_DUPLEXENABLED, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CAP_DUPLEX, TWON_ONEVALUE, TWTY_UINT16, &kDuplexBoth, kRO},
    {CAP_FEEDERENABLED, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kNoRO},
    {CAP_FEEDERLOADED, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kRO},
    {CAP_AUTOFEED, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kNoRO},
    {CAP_AUTOSCAN, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kNoRO},
    {CAP_PAPERDETECTABLE, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kRO},
    {ICAP_PHYSICALHEIGHT, TWON_ONEVALUE, TWTY_FLOAT32, &kPhysicalHeight, kRO},
    {ICAP_PHYSICALWIDTH, TWON_ONEVALUE, TWTY_FLOAT32, &kPhysicalWidth, kRO},
    {ICAP_MINIMUMWIDTH, TWON_ONEVALUE, TWTY_FLOAT32, &kMinimumSize, kRO},
    {ICAP_MINIMUMHEIGHT, TWON_ONEVALUE, TWTY_FLOAT32, &kMinimumSize, kRO},
    {ICAP_XRESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kResolutionEnum, kNoRO},
    {ICAP_YRESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kResolutionEnum, kNoRO},
    {ICAP_XNATIVERESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kNativeResolutionEnum, kRO},
    {ICAP_YNATIVERESOLUTION, TWON_ENUMERATION, TWTY_FLOAT32, &kNativeResolutionEnum, kRO},
    {ICAP_SUPPORTEDSIZES, TWON_ENUMERATION, TWTY_UINT16, &kSupportedSizesEnum, kNoRO},
    {ICAP_HALFTONES, TWON_ENUMERATION, TWTY_STR32, &kHalftonesEnum, kNoRO},
    {ICAP_AUTOMATICDESKEW, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {ICAP_THRESHOLD, TWON_RANGE, TWTY_FLOAT32, kThreshold, kNoRO},
    {ICAP_MAXFRAMES, TWON_ONEVALUE, TWTY_UINT16, &kUInt1, kRO},
    {CCAP_TVK_TEXTENHANCE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_TEXTENHANCE_BRIGHTNESS, TWON_ONEVALUE, TWTY_INT32, &k128, kNoRO},
    {CCAP_TVK_TEXTENHANCE_CONTRAST, TWON_ONEVALUE, TWTY_INT32, &k128, kNoRO},
    {CCAP_TVKM_UNIT, TWON_ONEVALUE, TWTY_INT32, &k2, kNoRO},
    {CCAP_TVKM_CUSTOM_SCANAREA, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_MARGINLENGTH, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_DETECTPAGETYPE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_DETECTPAGETYPE_THRESHOLD, TWON_ONEVALUE, TWTY_INT32, &k2, kNoRO},
    {CCAP_TVK_DETECTPAGETYPE_AMOUNT, TWON_ONEVALUE, TWTY_INT32, &k2, kNoRO},
    {CCAP_TVKM_DETECTPAGETYPE_BWMODE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_DETECTPAGETYPE_MODE, TWON_ONEVALUE, TWTY_INT32, &k1, kNoRO},
    {CCAP_TVK_DETECTPAGETYPE_GRAY_THRESHOLD, TWON_ONEVALUE, TWTY_INT32, &k2, kNoRO},
    {CCAP_TVK_DETECTPAGETYPE_GRAY_AMOUNT, TWON_ONEVALUE, TWTY_INT32, &k2, kNoRO},
    {CCAP_TVK_EPUBFILTER, TWON_ONEVALUE, TWTY_INT32, &k1, kNoRO},
    {CCAP_TVK_BLANKSKIPSLICE3, TWON_ONEVALUE, TWTY_INT32, &k10, kNoRO},
    {CCAP_TVKM_PAPERSIZE, TWON_ONEVALUE, TWTY_INT32, &k9, kNoRO},
    {CCAP_TVK_DETECTPAGESIZE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVKM_CUSTOMPAGESIZENAME, TWON_ONEVALUE, TWTY_STR64, kZero, kNoRO},
    {CCAP_TVK_BLANKSKIP, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_FOLDLARGESIZE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_DESKEW, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_SKEWMETHOD, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_REDUCE_MOIRE, TWON_ONEVALUE, TWTY_INT32, &k1, kNoRO},
    {CCAP_TVK_REMOVESHADOW, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kNoRO},
    {CCAP_TVKM_REMOVESHADOW_ACTION, TWON_ONEVALUE, TWTY_BOOL, &kTrue, kNoRO},
    {CCAP_TVK_COLORSATURATION, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVK_PHOTOMODE, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {ICAP_BRIGHTNESS, TWON_RANGE, TWTY_FLOAT32, kBrightness, kNoRO},
    {CCAP_TVKM_BACKBRIGHTNESSENABLED, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {kBackBrightness, TWON_RANGE, TWTY_FLOAT32, kBrightness, kNoRO},
    {ICAP_CONTRAST, TWON_RANGE, TWTY_FLOAT32, kContrast, kNoRO},
    {CCAP_TVKM_BACKCONTRASTENABLED, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {kBackContrast, TWON_RANGE, TWTY_FLOAT32, kContrast, kNoRO},
    {CCAP_TVK_EDGEEMPHASIS, TWON_ONEVALUE, TWTY_INT32, &k3, kNoRO},
    {CCAP_TVK_DATAORIENTATION, TWON_ONEVALUE, TWTY_INT32, &k1, kNoRO},
    {CCAP_TVK_REVERSESCANTYPE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_RECOGNIZE_DIRECTION, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_BLEEDTHROUGH, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_BLEEDTHROUGH_THRESHOLD, TWON_ONEVALUE, TWTY_INT32, &k4, kNoRO},
    {CCAP_TVK_DROPOUT, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_COLORENHANCE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {kBackDropout, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {kBackColorEnhance, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_ROTATEFEEDINGDIRECTION, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVK_FEEDER_JAMLESS, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_DETECTDBLFEED_LENGTH, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_DETECTDBLFEED_ULTRASONIC, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_MANUALFEED, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_AUTOSTARTDELAY, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_PRESCAN, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVKM_WINDOW, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVKM_GRAYCURVE, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {CCAP_TVKM_REDCURVE, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {CCAP_TVKM_GREENCURVE, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {CCAP_TVKM_BLUECURVE, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {CCAP_TVKM_GRAYGAMMA, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {CCAP_TVKM_REDGAMMA, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {CCAP_TVKM_GREENGAMMA, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {CCAP_TVKM_BLUEGAMMA, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {kBackGrayCurve, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {kBackRedCurve, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {kBackGreenCurve, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {kBackBlueCurve, TWON_ONEVALUE, TWTY_STR255, kZero, kNoRO},
    {kBackGrayGamma, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {kBackRedGamma, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {kBackGreenGamma, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {kBackBlueGamma, TWON_ONEVALUE, TWTY_FLOAT32, &kGammaOne, kNoRO},
    {CCAP_TVKM_GAMMAMODE, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVKM_GAMMAMETHOD, TWON_ONEVALUE, TWTY_UINT32, kZero, kNoRO},
    {CCAP_TVKM_CUSTOMGAMMANAME, TWON_ONEVALUE, TWTY_STR64, kZero, kNoRO},
    {CCAP_TVKM_FAVORITENAME, TWON_ONEVALUE, TWTY_STR64, kZero, kNoRO},
    {CCAP_TVK_AUTORESOLUTION, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVKM_TRIMMING, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVK_DFDINDIFFERENT_START_POSOFY, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_DFDINDIFFERENT_END_POSOFY, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
    {CCAP_TVK_SEPARATIONRETRY, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVK_SKEWDETECT, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVK_THINPAPER, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVK_NONSEPARATIONFEED, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVKM_CARRIERSHEET, TWON_ONEVALUE, TWTY_BOOL, kZero, kNoRO},
    {CCAP_TVK_BINIPFILTER, TWON_ONEVALUE, TWTY_INT32, kZero, kNoRO},
};
const std::size_t kKdDSCapCount = sizeof(sKdDSCapDesc) / sizeof(sKdDSCapDesc[0]);

std::unique_ptr<CCapPool> MakeKdCapPool() {
    std::unique_ptr<CCapPool> pool(new (std::nothrow) CCapPool);
    if (!pool || !pool->MakeCapabilities(sGeneralCapDesc, kGeneralCapCount)) return nullptr;
    CCapPool scanner;
    if (!scanner.MakeCapabilities(sKdDSCapDesc, kKdDSCapCount) || !pool->Merge(&scanner)) return nullptr;
    return pool;
}

namespace {

// Domains of one-value capabilities whose values outside them break a scan
// (the image library refuses the page, a tone table goes blank) or a batch.
struct SCapValueLimit {
    TW_UINT16 cap;
    double minimum;
    double maximum;
};
constexpr SCapValueLimit kCapValueLimits[] = {
    {CAP_XFERCOUNT, -1, 32767}, // 0 excluded below
    {CCAP_TVK_EDGEEMPHASIS, 1, 9},
    {CCAP_TVK_MARGINLENGTH, 0, 100}, // millimetres on each side, within half the sensor
    {CCAP_TVK_RECOGNIZE_DIRECTION, 0, 1},
    {CCAP_TVKM_GAMMAMODE, 0, 1},
    {CCAP_TVKM_GAMMAMETHOD, 0, 255}, // one bit per side and colour
    {CCAP_TVK_BLANKSKIP, 0, 255},    // only the low byte is read
    {CCAP_TVKM_GRAYGAMMA, 0.2, 5},   {CCAP_TVKM_REDGAMMA, 0.2, 5}, {CCAP_TVKM_GREENGAMMA, 0.2, 5},
    {CCAP_TVKM_BLUEGAMMA, 0.2, 5},   {kBackGrayGamma, 0.2, 5},     {kBackRedGamma, 0.2, 5},
    {kBackGreenGamma, 0.2, 5},       {kBackBlueGamma, 0.2, 5},
};

} // namespace

bool CapValueAllowed(TW_UINT16 cap, const CCapability& container) {
    const TW_UINT16 type = container.ItemType();
    if (container.GetContainerType() == TWON_ENUMERATION) {
        const auto& list = static_cast<const CCapEnum&>(container);
        return list.GetCurrentIndex() < list.GetValueCount();
    }
    if (type == TWTY_FRAME || CCapability::IsStringType(type) || container.GetContainerType() == TWON_ARRAY)
        return true;
    if (container.GetContainerType() == TWON_RANGE) {
        double value = 0, minimum = 0, maximum = 0;
        if (!container.ReadValue(&value) || !container.ReadValue(&minimum, kCapMinimum) ||
            !container.ReadValue(&maximum, kCapMaximum))
            return false;
        return minimum <= value && value <= maximum;
    }
    double value = 0;
    if (type == TWTY_FLOAT32 || type == TWTY_FIX32) {
        float real = 0;
        if (!container.ReadValue(&real) || !std::isfinite(real)) return false;
        value = real;
    } else {
        long integer = 0;
        if (!container.ReadValue(&integer)) return false;
        if (type == TWTY_BOOL && integer != 0 && integer != 1) return false;
        if (cap == CAP_XFERCOUNT && integer == 0) return false;
        value = static_cast<double>(integer);
    }
    for (const SCapValueLimit& limit : kCapValueLimits)
        if (limit.cap == cap) return value >= limit.minimum && value <= limit.maximum;
    return true;
}
