// Conversion of a page to the resolution the user asked for, band by band
// (pixel replication and box averaging from spread tables, a fixed 3-to-2
// filter) or on a whole page enlarged by 1.4 or more (bicubic); the same
// through the lower layer's moire reduction; and the measurement of a page's
// true resolution.
#pragma once

#include "IPBase.h"

#include "DetectResolution.h"
#include "ReduceMoireFilter.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Tvk::Imvra {

// Settings of both converters (pointer-free: fixed layout). Widths are
// pixels, heights lines of the page, resolutions dots per inch.
struct tagRESOLUTIONCONVERTINFO {
    uint32_t ulSize; // kResolutionConvertInfoSize
    int32_t lOutWidth;
    int32_t lOutHeight;
    int32_t lOutXResolution;
    int32_t lOutYResolution;
    int32_t lInWidth;
    int32_t lInHeight;
    int32_t lInXResolution;
    int32_t lInYResolution;
};
inline constexpr uint32_t kResolutionConvertInfoSize = sizeof(tagRESOLUTIONCONVERTINFO);
static_assert(kResolutionConvertInfoSize == 36);

// One count for each of the `in` sources: how many outputs it feeds; 0
// merges it with the following sources into one output.
void makeSpreadCountTable(std::vector<uint32_t>& table, long out, long in);

// Line stretchers: `in` holds inCount pixels, `out` room for outCount.
class CStretchDataCore {
public:
    static constexpr long LINER_UNIT = 256;
    virtual ~CStretchDataCore() = default;
    // Writes at most outCount pixels; returns how many, or -1 when the
    // stretcher cannot serve these counts. table: the spread table of the
    // line (the linear and 3-to-2 stretchers build their own).
    virtual long StretchDataProc(uint8_t* out, long outCount, const uint8_t* in, long inCount,
                                 const uint32_t* table) = 0;
    // table[i] = i x LINER_UNIT x (in - 1) / (out - 1) for each of out outputs.
    static void makeLinearCountTable(std::vector<uint64_t>& table, long out, long in);
};

// Spread table: replication, and the integer mean of merged sources.
template <int N> class CStretchSpread : public CStretchDataCore {
public:
    long StretchDataProc(uint8_t* out, long outCount, const uint8_t* in, long inCount,
                         const uint32_t* table) override;
};
using CStretchData = CStretchSpread<1>;
using CStretchRGBData = CStretchSpread<3>;

// Linear interpolation in 1/256 steps; the last output is the last input.
template <int N> class CStretchLinear : public CStretchDataCore {
public:
    long StretchDataProc(uint8_t* out, long outCount, const uint8_t* in, long inCount,
                         const uint32_t* table) override;

private:
    std::vector<uint64_t> m_table;
    long m_tableOut = -1, m_tableIn = -1;
};
using CStretchLinearData = CStretchLinear<1>;
using CStretchLinearRGBData = CStretchLinear<3>;

// Three inputs (p, q, r) to two outputs t[p][q] and t[r][q], with
// t[a][b] = min((2a + b) / 3, 255); the rest of the line linearly.
template <int N> class CStretchFix2_3 : public CStretchDataCore {
public:
    CStretchFix2_3();
    long StretchDataProc(uint8_t* out, long outCount, const uint8_t* in, long inCount,
                         const uint32_t* table) override;

private:
    const uint8_t* m_t; // 256 x 256
    CStretchLinear<N> m_rest;
};
using CStretchFix2_3Data = CStretchFix2_3<1>;
using CStretchFix2_3RGBData = CStretchFix2_3<3>;

// Bicubic enlargement of a whole page (cubic convolution, parameter -1, in
// fixed point).
class CBicubic {
public:
    enum Mode { kGeneral = 0, kTwice = 1, kQuadruple = 2, kTwoToThree = 3 };
    static constexpr int kA = -8; // kernel parameter, in eighths

    static int ModeFor(long outWidth, long inWidth);
    // One line of n pixels of `spp` samples enlarged to outWidth pixels.
    static void HorizontalLine(int mode, const uint8_t* in, long n, uint8_t* out, long outWidth,
                               int spp);
    // Weight (scaled by 2^18) of the neighbour at distance x sixty-fourths.
    static int64_t InnerWeight(int64_t x);
    static int64_t OuterWeight(int64_t x);

    // RTN_PAR when a size is not set or the page is not of the input size;
    // RTN_MEM when the line buffers cannot be made.
    int Initialize(long outWidth, long inWidth, long outHeight, long inHeight,
                   const tagIMAGEINFO& page);
    // Fills out (room for outHeight lines) from the page; returns the lines
    // written.
    long WriteBuffer(const tagIMAGEINFO& in, tagIMAGEINFO& out);

private:
    const uint8_t* InputOneLine(const tagIMAGEINFO& in, long y);

    long m_outW = 0, m_inW = 0, m_outH = 0, m_inH = 0;
    int m_mode = kGeneral;
    int m_spp = 1;
    std::vector<uint8_t> m_ring[4];
    long m_ringLine[4] = {-1, -1, -1, -1};
};

// Sizes (pixels or lines) beyond this are refused: their tables would not
// fit in memory, and no page of the scanner comes near it (22 m at 1200 dpi).
inline constexpr long kMaxConvertSide = 1L << 20;

class CResolutionConvertNormal : public CIPBase {
public:
    const char* getName() const override { return "ResolutionConvert"; }
    int IP(CImg& img) override;
    int IPFirst(CImg& img) override { return ResolutionConvertNormal(img); }
    int IPMiddle(CImg& img) override { return ResolutionConvertNormal(img); }
    int IPLast(CImg& img) override { return ResolutionConvertNormal(img); }
    int setInfo(CImg& img, void* info) override { return takeSettings(img, info, true); }
    int setInfoFirst(CImg& img, void* info) override { return takeSettings(img, info, true); }
    int setInfoMiddle(CImg& img, void* info) override { return takeSettings(img, info, false); }
    int setInfoLast(CImg& img, void* info) override { return takeSettings(img, info, false); }

    bool setXRatio(long out, long in);
    bool setYRatio(long out, long in);
    bool setMode(long bps, long spp);
    void StartConvert();
    static bool IsStretch2_3(long out, long in);

private:
    int takeSettings(CImg& img, void* info, bool startPage);
    int ResolutionConvertNormal(CImg& band);
    int Bicubic(CImg& page);
    long WriteExpandLine(const uint8_t* line, tagIMAGEINFO& out, long& written);
    long WriteReductLine(const uint8_t* line, tagIMAGEINFO& out, long& written);
    void AddReductLineData(const uint8_t* line);
    void OutputReductData(uint8_t* row);
    int samples() const { return m_kind == 2 ? 3 : 1; }

    tagRESOLUTIONCONVERTINFO m_info{};
    int m_kind = 0; // 0 binary, 1 gray, 2 colour in pixel order
    std::vector<uint32_t> m_xTable, m_yTable;
    // The reduction: each input line adds its samples to the output pixels
    // of the X spread table (pairs of source and output pixel, built once
    // per page); an output pixel's count is its X members times the lines
    // summed. Sums are 32-bit when no sum can exceed it.
    std::vector<uint32_t> m_pairSrc, m_pairOut;
    std::vector<uint32_t> m_xMembers;
    std::vector<uint32_t> m_sum32;
    std::vector<uint64_t> m_sum64;
    bool m_wideSums = false;
    std::vector<uint32_t> m_distinctMembers; // the distinct values of m_xMembers
    std::vector<uint32_t> m_memberIndex;     // per output pixel: its value's index there
    std::vector<uint64_t> m_magic;           // per distinct value: reciprocal for m_magicLines
    uint64_t m_magicLines = 0;
    std::unique_ptr<CStretchDataCore> m_stretch;
    long m_inLine = 0;       // input lines of the page seen so far
    long m_pendingLines = 0; // input lines held in the reduction sums
};

class CResolutionConvertWithReduceMoire : public CIPBase {
public:
    CResolutionConvertWithReduceMoire() = default;
    CResolutionConvertWithReduceMoire(const CResolutionConvertWithReduceMoire&) = delete;
    CResolutionConvertWithReduceMoire& operator=(const CResolutionConvertWithReduceMoire&) = delete;
    ~CResolutionConvertWithReduceMoire() override { release(); }

    const char* getName() const override { return "ResolutionConvert"; }
    int IP(CImg& img) override;
    int IPFirst(CImg& img) override;
    int IPMiddle(CImg& img) override;
    int IPLast(CImg& img) override;
    int setInfo(CImg& img, void* info) override { return takeSettings(info, true); }
    int setInfoFirst(CImg& img, void* info) override { return takeSettings(info, true); }
    int setInfoMiddle(CImg& img, void* info) override { return takeSettings(info, false); }
    int setInfoLast(CImg& img, void* info) override { return takeSettings(info, false); }

private:
    int takeSettings(void* info, bool startPage);
    int ResolutionConvertWithReduceMoire(CImg& band, int32_t command);
    int flush(CImg& band);
    void release();

    tagRESOLUTIONCONVERTINFO m_info{};
    tagREDUCEMOIREFILTERINFO m_request{};
    int32_t m_spp = 0, m_bps = 0;
    long m_written = 0; // output lines of the page so far
};

// Settings of the resolution measurement (holds a pointer: native layout).
struct tagDETECTRESSTAGEINFO {
    uint32_t ulSize;   // kDetectResStageInfoSize
    int32_t* plResult; // receives the detected resolution (may be null)
    int32_t lTopMargin;
    int32_t lBottomMargin;
    int32_t lLeftMargin;
    int32_t lRightMargin;
};
inline constexpr uint32_t kDetectResStageInfoSize = sizeof(tagDETECTRESSTAGEINFO);

class CDetectRes : public CIPBase {
public:
    const char* getName() const override { return "DetectRes"; }
    int IP(CImg& img) override;
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

private:
    tagDETECTRESSTAGEINFO m_info{};
};

} // namespace Tvk::Imvra
