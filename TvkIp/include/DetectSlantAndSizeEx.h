// Request and result records of the slant-and-size detection interface
// (DetectSlantAndSizeEx). Every request starts with the common head and the
// common result block; the mode decides what follows.
//
// Records use the native layout of this build: fields in their documented
// order, fixed-width words, pointers pointer-sized. Every size that selects a
// variant or gates a field is a named constant taken from these structs, so a
// caller that fills `cbsize` with sizeof of the record it holds always agrees
// with the library.
#pragma once

#include "CImgInf.h"
#include "TvkTypes.h"

#include <cstddef>
#include <cstdint>

// Commands of DetectSlantAndSizeEx (dwCommand).
enum : uint32_t {
    kDssCmdInit = 0,
    kDssCmdFirst = 1,
    kDssCmdMid = 2,
    kDssCmdLast = 3,
    kDssCmdRelease = 4,
    kDssCmdPage = 5,
    kDssCmdResult = 6,
};

// Detector modes (dwMode).
enum : uint32_t {
    kDssModeOneRadiate = 8,
    kDssModeFromFrame = 10,
    kDssModeOneRadiateDuplex = 11,
    kDssModeOneRadiateEx = 13,
};

// Result selection (dwResultFlag). Bit 16 is no selector: the four-corner
// detector hands it on to its simplex size detector.
enum : uint32_t {
    kDssResultRect = 1u << 0,
    kDssResultCorners = 1u << 1,
    kDssResultSlant = 1u << 2,
    kDssResultPassOn = 1u << 16,
};

// Result codes of the interface and its detectors.
enum : uint32_t {
    kDssOk = 0,
    kDssNoInner = 1,     // a wrapping detector has no inner detector yet
    kDssNoMemory = 8,    // a detector or its storage could not be made
    kDssBadRequest = 87, // null/short record, wrong command, missing record or image
    kDssUnknownMode = 120,
};

// The geometry a detector reports for one side of the sheet.
struct tagDETECTRESULTBLOCK {
    Tvk::tagPOINT rectXY;   // left, top of the paper rectangle
    Tvk::tagPOINT rectSize; // width (right - left), height (bottom - top)
    Tvk::tagPOINT leftTop;
    Tvk::tagPOINT rightTop;
    Tvk::tagPOINT leftBottom;
    Tvk::tagPOINT rightBottom;
    Tvk::tagPOINT slantVector; // (1, 0): upright or no slant found
};

// Head of every request, with the result block that all modes share.
struct tagDETECTSLANTSIZEEXBASIC {
    uint32_t cbsize; // size of the whole request in bytes
    uint32_t dwMode; // which detector (kDssMode...)
    void* pHandle;   // the detector; null before the first call
    uint32_t dwCommand;
    uint32_t dwResultFlag; // kDssResult... bits
    tagDETECTRESULTBLOCK result;
};
// The smallest request the interface accepts.
inline constexpr uint32_t kDssBasicSize = sizeof(tagDETECTSLANTSIZEEXBASIC);

// ---- Mode 13: the four-corner detector ----

// Scanner geometry.
struct tagONERADIATEEX_SCANNERINFO {
    uint32_t cbsize;
    Tvk::tagPOINT sensorPos[2];
    int32_t duplex_offset; // lines of the back image behind the front image
    uint8_t bIsBackBlack;  // the backing behind the paper is black
    uint8_t bReserved[3];
};
inline constexpr uint32_t kScannerInfoSize = sizeof(tagONERADIATEEX_SCANNERINFO);
// bIsBackBlack is read only from records that reach it.
inline constexpr uint32_t kScannerInfoBackBlackSize =
    offsetof(tagONERADIATEEX_SCANNERINFO, bIsBackBlack) + sizeof(uint8_t);

// The scan; also receives the back side's results.
struct tagONERADIATEEX_SCANINFO {
    uint32_t cbsize;
    int32_t shadowID; // 1: the leading edge casts a shadow
    Tvk::tagPOINT paperSize;
    int32_t topMargin;
    int32_t bottomMargin;
    int32_t leftMargin;
    int32_t rightMargin;
    uint8_t DuplexScan; // both sides are scanned
    uint8_t bReserved1[3];
    const tagTVKIMAGEINFO* pImg; // back side's band or page; null in simplex
    int32_t dwReserved[5];
    tagDETECTRESULTBLOCK back; // back side's results
    uint8_t bCarrierSheetMode;
    uint8_t bReserved2[3];
};
inline constexpr uint32_t kScanInfoSize = sizeof(tagONERADIATEEX_SCANINFO);
inline constexpr uint32_t kScanInfoBackResultSize =
    offsetof(tagONERADIATEEX_SCANINFO, back) + sizeof(tagDETECTRESULTBLOCK);
inline constexpr uint32_t kScanInfoCarrierSheetSize =
    offsetof(tagONERADIATEEX_SCANINFO, bCarrierSheetMode) + sizeof(uint8_t);

// One carrier-sheet type.
struct tagONERADIATEEX_CSINFO {
    uint32_t cbsize;
    uint32_t dwTag;          // bit 0 black-belt test, bit 1 length test
    uint32_t th_br[2];       // three 8-bit levels each (front, back)
    int32_t len_belt;        // micrometres
    int32_t len_ignore;      // micrometres
    uint32_t dwTh_black;     // 1/65536
    Tvk::tagPOINT SheetSize; // micrometres
    int32_t SheetMargin[4];  // micrometres
};
inline constexpr uint32_t kCSInfoSize = sizeof(tagONERADIATEEX_CSINFO);

// Detection settings; a negative value keeps the detector's default.
struct tagONERADIATEEX_SETTINGINFO {
    uint32_t cbsize;
    int32_t distance;
    int32_t simplex_edge_th[2];
    int32_t duplex_edge_th[2];
    int32_t duplex_br_th[2];
    int32_t revise_margin_front[4]; // trims: top, left, right, bottom (pixels)
    int32_t revise_margin_back[4];
    uint8_t bIsBaseBack[2]; // front, back
    uint8_t bReserved[2];
    uint32_t dwProcessFlag;
    int32_t dwReserved[4];
    int32_t duplex_cs_edge_th[2];
    int32_t duplex_cs_br_th[2];
    const tagONERADIATEEX_CSINFO* pCSInfo;
    uint32_t csinfo_count;
};
inline constexpr uint32_t kSettingInfoSize = sizeof(tagONERADIATEEX_SETTINGINFO);
// A settings record must hold the thresholds and trims.
inline constexpr uint32_t kSettingInfoMinSize =
    offsetof(tagONERADIATEEX_SETTINGINFO, revise_margin_back) + sizeof(int32_t[4]);
inline constexpr uint32_t kSettingInfoBaseBackSize =
    offsetof(tagONERADIATEEX_SETTINGINFO, bIsBaseBack) + sizeof(uint8_t[2]);
// dwProcessFlag comes with its reserved words.
inline constexpr uint32_t kSettingInfoProcessFlagSize =
    offsetof(tagONERADIATEEX_SETTINGINFO, dwReserved) + sizeof(int32_t[4]);
inline constexpr uint32_t kSettingInfoCarrierSheetSize =
    offsetof(tagONERADIATEEX_SETTINGINFO, csinfo_count) + sizeof(uint32_t);

// dwProcessFlag bits.
enum : uint32_t {
    kProcessWholePageOnly = 1u << 0,
    kProcessPass0 = 1u << 1,
    kProcessExtraPass = 1u << 2,
    kProcessRebuildLowerCorners = 1u << 3,
    kProcessDeskewCut = 1u << 4,
};

struct tagDETECTSLANTSIZEEX_ONERADIATE_EX {
    tagDETECTSLANTSIZEEXBASIC basic;
    const tagONERADIATEEX_SCANNERINFO* pScannerInfo;
    tagONERADIATEEX_SCANINFO* pScanInfo;
    const tagONERADIATEEX_SETTINGINFO* pSettingInfo;
};
inline constexpr uint32_t kOneRadiateExSize = sizeof(tagDETECTSLANTSIZEEX_ONERADIATE_EX);
inline constexpr uint32_t kOneRadiateExScannerInfoSize =
    offsetof(tagDETECTSLANTSIZEEX_ONERADIATE_EX, pScannerInfo) + sizeof(void*);
inline constexpr uint32_t kOneRadiateExScanInfoSize =
    offsetof(tagDETECTSLANTSIZEEX_ONERADIATE_EX, pScanInfo) + sizeof(void*);
inline constexpr uint32_t kOneRadiateExSettingInfoSize =
    offsetof(tagDETECTSLANTSIZEEX_ONERADIATE_EX, pSettingInfo) + sizeof(void*);

// ---- Mode 8: one-radiate detector ----
struct tagDETECTSLANTSIZEEX_ONERADIATE {
    tagDETECTSLANTSIZEEXBASIC basic;
    uint32_t method;   // 0 or 1
    int32_t lParam[4]; // size detector's initialisation words 1-4
    Tvk::tagPOINT paperSize;
    int32_t lMargin[4]; // top, bottom, left, right
};
// Mode 8 takes exactly this size.
inline constexpr uint32_t kOneRadiateSize = sizeof(tagDETECTSLANTSIZEEX_ONERADIATE);

// ---- Mode 11: one-radiate detector with duplex ----
struct tagDETECTSLANTSIZEEX_ONERADIATE_DUPLEX {
    tagDETECTSLANTSIZEEX_ONERADIATE simplex; // as mode 8
    uint8_t bDuplex;
    uint8_t bReserved[3];
    const tagTVKIMAGEINFO* pBackImg;
    int32_t lDuplexParam; // duplex size detector's initialisation word
    int32_t dwReserved[5];
    tagDETECTRESULTBLOCK back;
};
inline constexpr uint32_t kOneRadiateDuplexSize = sizeof(tagDETECTSLANTSIZEEX_ONERADIATE_DUPLEX);

// ---- Mode 10: slant and corners from frame outlines ----
struct tagDETECTSLANTSIZEEX_FROMFRAME {
    tagDETECTSLANTSIZEEXBASIC basic;
    uint32_t dwFrameKind; // 32 outline pair, 33 the same in reverse order
    uint32_t dwCount;     // entries of each outline
    const int16_t* pOutline1;
    const int16_t* pOutline2;
};
inline constexpr uint32_t kFromFrameSize = sizeof(tagDETECTSLANTSIZEEX_FROMFRAME);

// Variant sizes must stay distinct where a size selects a variant or gate.
static_assert(kDssBasicSize < kOneRadiateExSize);
static_assert(kOneRadiateSize != kOneRadiateDuplexSize && kOneRadiateSize != kOneRadiateExSize);
static_assert(kScannerInfoBackBlackSize <= kScannerInfoSize);
static_assert(kScanInfoBackResultSize < kScanInfoCarrierSheetSize &&
              kScanInfoCarrierSheetSize <= kScanInfoSize);
static_assert(kSettingInfoMinSize < kSettingInfoBaseBackSize &&
              kSettingInfoBaseBackSize < kSettingInfoProcessFlagSize &&
              kSettingInfoProcessFlagSize < kSettingInfoCarrierSheetSize &&
              kSettingInfoCarrierSheetSize <= kSettingInfoSize);
static_assert(kOneRadiateExScannerInfoSize < kOneRadiateExScanInfoSize &&
              kOneRadiateExScanInfoSize < kOneRadiateExSettingInfoSize &&
              kOneRadiateExSettingInfoSize <= kOneRadiateExSize);
