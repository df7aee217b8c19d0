// The KD720 data source's own TWAIN vocabulary: custom capability ids,
// device event codes and pass-through commands. Hosts, the data source and
// its settings window all include this one header.
#pragma once

#include "twain/types.h"

// ---- Custom capabilities ------------------------------------------------------
// A back-side twin has the front id | kBackSideTwinBit; the side selector
// CCAP_TVKM_WINDOW = -1 routes a host's writes to the twins.
inline constexpr TW_UINT16 kBackSideTwinBit = 0x8800;

inline constexpr TW_UINT16 CCAP_TVK_DETECTPAGESIZE = 0x8000;
inline constexpr TW_UINT16 CCAP_TVK_BLANKSKIP = 0x8001;
inline constexpr TW_UINT16 CCAP_TVK_MANUALFEED = 0x8003;
inline constexpr TW_UINT16 CCAP_TVK_AUTOSTARTDELAY = 0x8004;
inline constexpr TW_UINT16 CCAP_TVK_MARGINLENGTH = 0x8007;
inline constexpr TW_UINT16 CCAP_TVK_DROPOUT = 0x8008;
inline constexpr TW_UINT16 CCAP_TVK_EDGEEMPHASIS = 0x8009;
inline constexpr TW_UINT16 CCAP_TVK_DESKEW = 0x800D;
inline constexpr TW_UINT16 CCAP_TVK_REVERSESCANTYPE = 0x800E;
inline constexpr TW_UINT16 CCAP_TVK_PRESCAN = 0x8018;
inline constexpr TW_UINT16 CCAP_TVK_TEXTENHANCE = 0x8029;
inline constexpr TW_UINT16 CCAP_TVK_COLORENHANCE = 0x8032;
inline constexpr TW_UINT16 CCAP_TVKM_WINDOW = 0x8034;
inline constexpr TW_UINT16 CCAP_TVK_FOLDLARGESIZE = 0x8037;
inline constexpr TW_UINT16 CCAP_TVK_RECOGNIZE_DIRECTION = 0x803B;
inline constexpr TW_UINT16 CCAP_TVK_DETECTDBLFEED_LENGTH = 0x803F;
inline constexpr TW_UINT16 CCAP_TVK_DETECTDBLFEED_ULTRASONIC = 0x8040;
inline constexpr TW_UINT16 CCAP_TVK_TEXTENHANCE_BRIGHTNESS = 0x8057;
inline constexpr TW_UINT16 CCAP_TVK_FEEDER_JAMLESS = 0x8068;
inline constexpr TW_UINT16 CCAP_TVK_DATAORIENTATION = 0x8069;
inline constexpr TW_UINT16 CCAP_TVK_TEXTENHANCE_CONTRAST = 0x806B;
inline constexpr TW_UINT16 CCAP_TVK_DETECTPAGETYPE = 0x806C;
inline constexpr TW_UINT16 CCAP_TVK_DETECTPAGETYPE_AMOUNT = 0x806E;
inline constexpr TW_UINT16 CCAP_TVK_DETECTPAGETYPE_THRESHOLD = 0x806F;
inline constexpr TW_UINT16 CCAP_TVK_REDUCE_MOIRE = 0x8070;
inline constexpr TW_UINT16 CCAP_TVK_BLANKSKIPSLICE3 = 0x8076;
inline constexpr TW_UINT16 CCAP_TVK_BLEEDTHROUGH = 0x8077;
inline constexpr TW_UINT16 CCAP_TVK_BLEEDTHROUGH_THRESHOLD = 0x8078;
inline constexpr TW_UINT16 CCAP_TVK_AUTORESOLUTION = 0x80C8;
inline constexpr TW_UINT16 CCAP_TVK_REMOVESHADOW = 0x80C9;
inline constexpr TW_UINT16 CCAP_TVK_COLORSATURATION = 0x80CA;
inline constexpr TW_UINT16 CCAP_TVK_ROTATEFEEDINGDIRECTION = 0x80CB;
inline constexpr TW_UINT16 CCAP_TVK_DETECTPAGETYPE_MODE = 0x80CC;
inline constexpr TW_UINT16 CCAP_TVK_DETECTPAGETYPE_GRAY_AMOUNT = 0x80CD;
inline constexpr TW_UINT16 CCAP_TVK_DETECTPAGETYPE_GRAY_THRESHOLD = 0x80CE;
inline constexpr TW_UINT16 CCAP_TVK_EPUBFILTER = 0x812C;
inline constexpr TW_UINT16 CCAP_TVK_SKEWMETHOD = 0x8190;
inline constexpr TW_UINT16 CCAP_TVK_PHOTOMODE = 0x819A;
inline constexpr TW_UINT16 CCAP_TVK_DFDINDIFFERENT_START_POSOFY = 0x819B;
inline constexpr TW_UINT16 CCAP_TVK_DFDINDIFFERENT_END_POSOFY = 0x819C;
inline constexpr TW_UINT16 CCAP_TVK_SEPARATIONRETRY = 0x819D;
inline constexpr TW_UINT16 CCAP_TVK_SKEWDETECT = 0x81A4;
inline constexpr TW_UINT16 CCAP_TVK_THINPAPER = 0x81A5;
inline constexpr TW_UINT16 CCAP_TVK_NONSEPARATIONFEED = 0x81A6;
inline constexpr TW_UINT16 CCAP_TVK_BINIPFILTER = 0x81AE;

inline constexpr TW_UINT16 CCAP_TVKM_PAPERSIZE = 0x8400;
inline constexpr TW_UINT16 CCAP_TVKM_CUSTOMPAGESIZENAME = 0x8401;
inline constexpr TW_UINT16 CCAP_TVKM_FAVORITENAME = 0x8402;
inline constexpr TW_UINT16 CCAP_TVKM_BACKCONTRASTENABLED = 0x8403;
inline constexpr TW_UINT16 CCAP_TVKM_BACKBRIGHTNESSENABLED = 0x8404;
inline constexpr TW_UINT16 CCAP_TVKM_DETECTPAGETYPE_BWMODE = 0x8405;
inline constexpr TW_UINT16 CCAP_TVKM_UNIT = 0x8406;
inline constexpr TW_UINT16 CCAP_TVKM_CUSTOM_SCANAREA = 0x8407;
inline constexpr TW_UINT16 CCAP_TVKM_GRAYCURVE = 0x8410;
inline constexpr TW_UINT16 CCAP_TVKM_REDCURVE = 0x8411;
inline constexpr TW_UINT16 CCAP_TVKM_GREENCURVE = 0x8412;
inline constexpr TW_UINT16 CCAP_TVKM_BLUECURVE = 0x8413;
inline constexpr TW_UINT16 CCAP_TVKM_GRAYGAMMA = 0x8414;
inline constexpr TW_UINT16 CCAP_TVKM_REDGAMMA = 0x8415;
inline constexpr TW_UINT16 CCAP_TVKM_GREENGAMMA = 0x8416;
inline constexpr TW_UINT16 CCAP_TVKM_BLUEGAMMA = 0x8417;
inline constexpr TW_UINT16 CCAP_TVKM_GAMMAMODE = 0x8418;
inline constexpr TW_UINT16 CCAP_TVKM_GAMMAMETHOD = 0x8419;
inline constexpr TW_UINT16 CCAP_TVKM_CUSTOMGAMMANAME = 0x841A;
inline constexpr TW_UINT16 CCAP_TVKM_MANUALFEED_AUTOBATCH = 0x8420;
inline constexpr TW_UINT16 CCAP_TVKM_TRIMMING = 0x8421;
inline constexpr TW_UINT16 CCAP_TVKM_REMOVESHADOW_ACTION = 0x8422;
inline constexpr TW_UINT16 CCAP_TVKM_CARRIERSHEET = 0x8423;

// The scan frame in 1/1200 inch: left, top, width, height.
inline constexpr TW_UINT16 CCAP_TVKM_SCANAREA_X = 0xA000;
inline constexpr TW_UINT16 CCAP_TVKM_SCANAREA_Y = 0xA001;
inline constexpr TW_UINT16 CCAP_TVKM_SCANAREA_WIDTH = 0xA002;
inline constexpr TW_UINT16 CCAP_TVKM_SCANAREA_HEIGHT = 0xA003;

// Back-side twins held by the data source's pool.
inline constexpr TW_UINT16 kBackBrightness = 0x1101 | kBackSideTwinBit; // 0x9901
inline constexpr TW_UINT16 kBackContrast = 0x1103 | kBackSideTwinBit;   // 0x9903
inline constexpr TW_UINT16 kBackDropout = CCAP_TVK_DROPOUT | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackColorEnhance = CCAP_TVK_COLORENHANCE | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackGrayCurve = CCAP_TVKM_GRAYCURVE | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackRedCurve = CCAP_TVKM_REDCURVE | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackGreenCurve = CCAP_TVKM_GREENCURVE | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackBlueCurve = CCAP_TVKM_BLUECURVE | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackGrayGamma = CCAP_TVKM_GRAYGAMMA | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackRedGamma = CCAP_TVKM_REDGAMMA | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackGreenGamma = CCAP_TVKM_GREENGAMMA | kBackSideTwinBit;
inline constexpr TW_UINT16 kBackBlueGamma = CCAP_TVKM_BLUEGAMMA | kBackSideTwinBit;
static_assert(kBackBrightness == 0x9901 && kBackContrast == 0x9903 && kBackDropout == 0x8808 &&
              kBackGrayCurve == 0x8C10 && kBackBlueGamma == 0x8C17);

// ---- Device events (TW_DEVICEEVENT.Event) ------------------------------------------
inline constexpr TW_UINT32 TWDE_TVK_NONE = 0x8001;
inline constexpr TW_UINT32 TWDE_TVK_SCANREADY = 0x8002;
inline constexpr TW_UINT32 TWDE_TVK_SCANSTARTED = 0x8003;
inline constexpr TW_UINT32 TWDE_TVK_IDLE = 0x8004;

// ---- Pass-through commands (DAT_PASSTHRU) ------------------------------------------
// One 32-bit word at pCommand, CommandBytes 4; the four characters read from
// the most significant byte down.
constexpr TW_UINT32 KdPassThruCode(const char (&c)[5]) {
    return (TW_UINT32(TW_UINT8(c[0])) << 24) | (TW_UINT32(TW_UINT8(c[1])) << 16) |
           (TW_UINT32(TW_UINT8(c[2])) << 8) | TW_UINT32(TW_UINT8(c[3]));
}
inline constexpr TW_UINT32 kKdPassThruCommandBytes = 4;
inline constexpr TW_UINT32 kPassThruAbortRequest = KdPassThruCode("AbRq");     // no data
inline constexpr TW_UINT32 kPassThruButtonStatus = KdPassThruCode("GtBS");     // 4 bytes
inline constexpr TW_UINT32 kPassThruDeviceInfo = KdPassThruCode("GtDI");       // 16 bytes
// The shading data travel as a kdf::DataObjectHandle of the process's
// data-object registry (foundation/DataObjectRegistry.h): "GtSd" writes the
// handle of a new object the caller then owns, "StSd" reads one.
inline constexpr TW_UINT32 kPassThruGetShading = KdPassThruCode("GtSd");       // 4 bytes
inline constexpr TW_UINT32 kPassThruSetShading = KdPassThruCode("StSd");       // 4 bytes
inline constexpr TW_UINT32 kPassThruGetMaxLength = KdPassThruCode("GtXL");     // 4 bytes
inline constexpr TW_UINT32 kPassThruSetMaxLength = KdPassThruCode("StXL");     // 4 bytes
inline constexpr TW_UINT32 kPassThruResetPadCount = KdPassThruCode("RtPC");    // no data
inline constexpr TW_UINT32 kPassThruResetRollerCount = KdPassThruCode("RtRC"); // no data
inline constexpr TW_UINT32 kPassThruSetScanCounts = KdPassThruCode("StSC");    // 16 bytes
inline constexpr TW_UINT32 kPassThruSetSerialNumber = KdPassThruCode("StSN");  // 16 bytes
static_assert(kPassThruAbortRequest == 0x41625271 && kPassThruButtonStatus == 0x47744253 &&
              kPassThruDeviceInfo == 0x47744449 && kPassThruGetShading == 0x47745364 &&
              kPassThruSetShading == 0x53745364 && kPassThruGetMaxLength == 0x4774584C &&
              kPassThruSetMaxLength == 0x5374584C && kPassThruResetPadCount == 0x52745043 &&
              kPassThruResetRollerCount == 0x52745243 && kPassThruSetScanCounts == 0x53745343 &&
              kPassThruSetSerialNumber == 0x5374534E);
