// Corner detection while a page's bands pass (one side, or both sides of a
// duplex sheet at once), through the lower layer's four-corner detector, and
// the cut-out of a rectangle of the finished page into the output area.
#pragma once

#include "DetectSlantAndSizeEx.h"
#include "IPBase.h"

#include <cstdint>

namespace Tvk::Imvra::KD730 {

class CShading;

// Settings of the one-sided corner stage, filled by the engine (holds a
// pointer: native layout).
struct tagDETECT4POINTSSETINFO {
    uint32_t ulSize;
    tagDETECT4POINTSINFO* pInfo; // the side's corner record: results go here
    int32_t lSensor[4];          // the detector's two sensor positions (x, y, x, y); -1: none
    int32_t lWidth;              // usable width of the raw line
    int32_t lHeight;             // raw page length
    uint32_t bFront;             // 1: the front side (its leading edge casts the shadow)
    uint8_t bTurned;             // the page passed turned by 180 degrees
    uint8_t bBlackBack;          // the backing behind the page is dark
    uint8_t reserved[2];
};
inline constexpr uint32_t kDetect4PointsSetInfoSize = sizeof(tagDETECT4POINTSSETINFO);

// Settings of the duplex corner stage, filled by the engine (holds pointers:
// native layout).
struct tagDETECT4POINTSDUPLEXINFO {
    uint32_t ulSize;
    tagDETECT4POINTSINFO* pFront; // both of kDetect4PointsInfoSize
    tagDETECT4POINTSINFO* pBack;
    int32_t lSensor[4];   // the detector's two sensor positions; -1: none
    int32_t lWidth;       // width of the whole page in pixels
    int32_t lHeight;      // height of the whole page in lines
    CImg* pBackImage;     // the back side's current band
    int32_t lOffset;      // lines of the back image behind the front image
    int32_t lShadowID;    // 1: the front's leading edge casts the shadow
    uint8_t bTurned[2];   // front, back: the side passed turned by 180 degrees
    uint8_t bWholePage;   // collect the whole page; carrier-sheet detection
    uint8_t reserved;
};
inline constexpr uint32_t kDetect4PointsDuplexInfoSize = sizeof(tagDETECT4POINTSDUPLEXINFO);

// Settings of the cut-out (holds a pointer: native layout).
struct tagCUTOUTINFO {
    uint32_t ulSize;
    int32_t lSrcXOffset; // rectangle taken from the page
    int32_t lSrcYOffset;
    int32_t lSrcWidth;
    int32_t lSrcHeight;
    int32_t lDstXOffset; // where it lands in the new image
    int32_t lDstYOffset;
    int32_t lDstWidth;   // size of the new image; height 0: the page stays
    int32_t lDstHeight;
    CShading* pShading;  // platen colour around the copied part; null: zero
};
inline constexpr uint32_t kCutOutInfoSize = sizeof(tagCUTOUTINFO);

// The four-corner request as the corner stages fill it: the request and its
// three records. Built by field name from the stages' settings.
struct tagDETECT4POINTSREQUEST {
    tagDETECTSLANTSIZEEX_ONERADIATE_EX req{};
    tagONERADIATEEX_SCANNERINFO scanner{};
    tagONERADIATEEX_SCANINFO scan{};
    tagONERADIATEEX_SETTINGINFO setting{};
    tagONERADIATEEX_CSINFO carrier[2]{};
};

// One-sided corner detection. Bands in controller mode 2 (or a whole image);
// the image is never changed. The results reach the corner record after the
// last band or the whole image.
class CDetect4Points : public CIPBase {
public:
    CDetect4Points() = default;
    CDetect4Points(const CDetect4Points&) = delete;
    CDetect4Points& operator=(const CDetect4Points&) = delete;
    ~CDetect4Points() override;

    const char* getName() const override { return "Detect4Points"; }
    int IP(CImg& img) override;
    int IPFirst(CImg& img) override;
    int IPMiddle(CImg& img) override;
    int IPLast(CImg& img) override;
    // RTN_PAR for missing or mis-sized settings or corner record; else sets
    // up a new detector (an open one is released first) and returns its result.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg&, void*) override { return RTN_OK; }
    // The same checks; then only Size and the margins of the given corner
    // record are taken into the kept one.
    int setInfoLast(CImg& img, void* info) override;

    bool detectorOpen() const { return m_handle != nullptr; }
    // The request one command sends (for the settings and the record given).
    static void BuildRequest(tagDETECT4POINTSREQUEST& r, const tagDETECT4POINTSSETINFO& set,
                             void* handle, uint32_t command);

private:
    int Detect4Points(const tagIMAGEINFO* image, uint32_t command);

    tagDETECT4POINTSSETINFO m_set{};
    tagIMAGEINFO m_desc{};
    void* m_handle = nullptr;
};

// Corner detection of both sides of a duplex sheet at once. The front band
// is the image given; the back band the one the settings point to.
class CDetect4PointsDuplex : public CIPBase {
public:
    CDetect4PointsDuplex() = default;
    CDetect4PointsDuplex(const CDetect4PointsDuplex&) = delete;
    CDetect4PointsDuplex& operator=(const CDetect4PointsDuplex&) = delete;
    ~CDetect4PointsDuplex() override;

    const char* getName() const override { return "Detect4PointsDuplex"; }
    int IP(CImg& img) override;
    int IPFirst(CImg& img) override;
    int IPMiddle(CImg& img) override;
    int IPLast(CImg& img) override;
    // RTN_PAR (and a log line) for missing or mis-sized settings or side
    // records; else sets up a new detector and returns its result.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    // The same checks; then only the back band is taken.
    int setInfoMiddle(CImg& img, void* info) override;
    // The same checks; then Size and the margins of each given side record
    // are taken into the kept ones, and the back band.
    int setInfoLast(CImg& img, void* info) override;

    bool detectorOpen() const { return m_handle != nullptr; }
    // The request one command sends for the front band and the back band
    // (the scan record's image). RTN_PAR when the whole-page form has no
    // vertical resolution to measure its trims by.
    static int BuildRequest(tagDETECT4POINTSREQUEST& r, const tagDETECT4POINTSDUPLEXINFO& set,
                            const tagIMAGEINFO& front, const tagIMAGEINFO* backImage,
                            void* handle, uint32_t command);

private:
    int Check(void* info) const;
    int Detect4Points(const tagIMAGEINFO& front, const tagIMAGEINFO& back, uint32_t command);
    int BandCommand(CImg& img, uint32_t command);
    int Finish(CImg& img, uint32_t firstCommand);

    tagDETECT4POINTSDUPLEXINFO m_set{};
    tagIMAGEINFO m_desc{};
    void* m_handle = nullptr;
    CImgList m_front;
    CImgList m_back;
};

// Cuts a rectangle of the page into a new image of the output size; the
// part the page does not cover shows the platen colour. Whole pages only.
class CCutOut : public CIPBase {
public:
    const char* getName() const override { return "CutOut"; }
    int IP(CImg& img) override;
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg&, void*) override { return RTN_OK; }
    int setInfoLast(CImg&, void*) override { return RTN_OK; }

    // Copies the settings' source rectangle of src to the destination
    // offset of dst (8-bit interleaved images); the rectangle is clipped to
    // both images. Paints dst with the platen colour first when the settings
    // name a shading stage.
    static int CutOutCore(CImg& dst, const CImg& src, const tagCUTOUTINFO& info);

private:
    tagCUTOUTINFO m_info{};
};

// The cut-out settings of a side as the engine makes them: the output area
// of the page, or for a card the detected rectangle centred across the
// output and placed at the feeding record's top margin.
//   page: the finished page; output: the page wanted (its position and
//   size); input: the raw scan's record (its vertical resolution);
//   corners, feeding: the side's records (read only in card mode).
tagCUTOUTINFO MakeCutOutInfo(const tagIMAGEINFO& page, const tagIMAGEINFO& output,
                             const tagIMAGEINFO& input, bool cardScan,
                             const tagDETECT4POINTSINFO* corners,
                             const tagFEEDINGDIRECTIONINFO* feeding, CShading* shading);

} // namespace Tvk::Imvra::KD730
