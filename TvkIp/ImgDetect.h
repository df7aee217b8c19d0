// Older generation of page size detectors: the simplex detector CDetectSize
// (with CDetectSize2, which reports the raw rectangle of the edges) and the
// duplex detector CDetectSizeWithDuplex, which finds the sheet from the
// shadows of its leading and trailing edges on the two sides' images.
#pragma once

#include "DetectSize.h"
#include "Img.h"
#include "LineWindow.h"
#include "TvkTypes.h"

#include <cstdint>
#include <vector>

// Line engine of CDetectSize: compares each line with the line D - 1 further
// down, column by column, and records in four edge profiles where the
// brightness changes.
class CCalcEdge {
public:
    enum Profile : int {
        kBrighter = 0, // the column turned brighter
        kDarker = 1,   // the column turned darker
        kLeading = 2,  // leading edge of the sheet
        kTrailing = 3, // trailing edge
        kProfiles = 4,
    };

    // Thresholds a (small) and b (large), distance d in lines. 0,
    // kIpErrBadArgument or kIpErrOutOfMemory.
    uint32_t initialize(const CImg::tagIMGSET& page, uint8_t a, uint8_t b, int32_t d);
    int32_t start() { return 0; }
    // One line: `width` samples `step` bytes apart from `line`.
    void search(const uint8_t* line, int32_t width, int32_t step, int32_t* const* profiles);
    void end() { m_lines.keep(); }
    int32_t lines() const { return m_n; }
    int32_t distance() const { return m_d; }

private:
    template <int Step, bool Default>
    void compare(const uint8_t* f, const uint8_t* c, int32_t* const* profiles);

    uint8_t m_a = 10, m_b = 50;
    int32_t m_d = 1;
    int32_t m_r = 1; // 0.25 mm in lines, at least 1
    int32_t m_n = 0; // lines compared so far
    int32_t m_width = 0;
    CLineWindow m_lines;
    std::vector<uint8_t> m_counter;
};

class CDetectSize {
public:
    // Caller's request, sixteen 32-bit words; words 5-10 are read again at
    // the result.
    struct tagOPTION {
        uint32_t ulSize; // sizeof(tagOPTION)
        int32_t lRefX1;  // two points on the leading edge, used only
        int32_t lRefY1;  // when all four words are 0 or more
        int32_t lRefX2;
        int32_t lRefY2;
        int32_t lReserved5;
        int32_t lPaperLength; // lines; 0 or less: no length rules
        int32_t lReserved7;
        int32_t lFallbackTop;   // fallback rectangle: top line
        int32_t lFallbackLeft;  // left pixel
        int32_t lFallbackRight; // margin from the right border
        int32_t lThresholdA;    // small threshold; negative: 10
        int32_t lThresholdB;    // large threshold; negative: 50
        int32_t lCornerMargin;  // pixels; negative: 1 mm
        int32_t lDistance;      // comparison distance in lines; 0 or less: 1 mm
        uint32_t ulFlags;       // bit 0 of the third byte: do not skip flat bands
    };
    static constexpr uint32_t kOptionSize = sizeof(tagOPTION);
    static_assert(kOptionSize == 16 * 4);
    static constexpr uint32_t kNoSkipFlatBands = 1u << 16;
    using tagDETECTSIZEINFO = ::tagDETECTSIZEINFO;

    CDetectSize() = default;
    virtual ~CDetectSize() = default;
    CDetectSize(const CDetectSize&) = delete;
    CDetectSize& operator=(const CDetectSize&) = delete;

    uint32_t Initialize(const CImg::tagIMGSET& page, const tagOPTION* option);
    uint32_t first(const CImg::tagIMGSET& band) { return piece(band); }
    uint32_t mid(const CImg::tagIMGSET& band) { return piece(band); }
    uint32_t last(const CImg::tagIMGSET& band);
    uint32_t piece(const CImg::tagIMGSET& band);
    virtual uint32_t result(tagDETECTSIZEINFO* info, const tagOPTION* option);
    virtual uint32_t result(const CImg::tagIMGSET& page, tagDETECTSIZEINFO* info,
                            const tagOPTION* option);
    // Profile 0-3: with a null buffer *count receives its length; else
    // min(*count, length) entries are copied and *count set to that.
    void read_edge_data(int32_t profile, int32_t* buffer, int32_t* count) const;
    bool IsTooLongPaper() const;
    int32_t lines() const { return m_calc.lines(); }

protected:
    const std::vector<int32_t>& edge(int i) const { return m_EdgePoints[i]; }
    int32_t width() const { return m_page.width; }
    // Writes the corners and the rectangle they give (see make_result).
    void fill_record(tagDETECTSIZEINFO* info) const;

private:
    void revise_edge_data();
    void calc_slant();
    void calc_rect();
    void calc_points();
    void make_result(tagDETECTSIZEINFO* info);
    bool revise_result(const tagDETECTSIZEINFO& info) const;
    void roll_back_result(tagDETECTSIZEINFO* info) const;
    int32_t working_lines(int32_t lines) const;

    int32_t m_l10mm = 118;
    int32_t m_lMargin = 25;
    CImg::tagIMGSET m_page{}; // the page as given (no buffer)
    CImg::tagIMGSET m_work{}; // working geometry at the squared resolution
    Tvk::tagPOINT m_slant{1, 0};
    Tvk::tagRECT m_rect{0, 0, 0, 0};
    Tvk::tagPOINT m_pt[4]{};
    Tvk::tagPOINT m_outline[3]{}; // bottom-left, top-left, top-right
    bool m_bInitialized = false;
    bool m_bNoSkip = false;
    std::vector<int32_t> m_EdgePoints[CCalcEdge::kProfiles];
    std::vector<int32_t> m_prof[CCalcEdge::kProfiles]; // working copies for the result
    tagOPTION m_option{};
    CCalcEdge m_calc;
};

// Reports the rectangle of the raw edges, without slant.
class CDetectSize2 : public CDetectSize {
public:
    using CDetectSize::result;
    uint32_t result(tagDETECTSIZEINFO* info, const tagOPTION* option) override;
};

class CDetectSizeWithDuplex {
public:
    struct tagOPTION {
        uint32_t ulSize; // sizeof(tagOPTION)
        int32_t lRef[4]; // reference points, not used here
        int32_t lReserved5;
        int32_t lPaperLength; // minimum paper length in lines; 0: no check
        int32_t lReserved7;
        int32_t lFallbackTop;   // fallback rectangle: top line
        int32_t lFallbackLeft;  // left pixel
        int32_t lFallbackRight; // margin from the right border
        int32_t lReserved11;
        int32_t lReserved12;
        int32_t lCornerMargin;   // pixels; negative: 1 mm
        int32_t lTrimLength;     // mm trimmed at the shadow edges' ends; negative: 5
        int32_t lOffset;         // lines between the two sides' images
        uint32_t ulSide;         // low byte at the result: 1 front, 0 back
        int32_t lLeadDarkening;  // minimum darkening of the leading shadow; negative: 40
        int32_t lTrailDarkening; // of the trailing shadow; negative: 40
        int32_t lLeadLimit;      // darkness limit of the leading shadow; negative: 100
        int32_t lTrailLimit;     // of the trailing shadow; negative: 100
    };
    static constexpr uint32_t kOptionSize = sizeof(tagOPTION);
    static_assert(kOptionSize == 21 * 4);
    using tagDETECTSIZEINFO = ::tagDETECTSIZEINFO;

    // One edge profile with a run counter per column.
    class CEdge {
    public:
        virtual ~CEdge() = default;
        // Sizes the profile (all -1) and the counters (all 0) to the width.
        virtual uint32_t init(const CImg::tagIMGSET& image);
        // Brings the profile to the smaller of the two resolutions: fewer
        // columns when x is the larger, entries scaled when y is.
        void normalize(int32_t xdpi, int32_t ydpi);
        int32_t getLeftEdge() const;  // first valid column; the last column when none
        int32_t getRightEdge() const; // last valid column; 0 when none
        std::vector<int32_t> m_edge;
        std::vector<int32_t> m_run;
    };

    // Shadow filter on a grid of about 150 dpi.
    class CEdgeFlt : public CEdge {
    public:
        uint32_t init(const CImg::tagIMGSET& image) override;
        // Every column at line y (a line number of the image) of the lines
        // held in the window.
        virtual void filter(const CLineWindow& lines, int32_t step, int32_t y, int32_t darkening,
                            int32_t limit) = 0;
        // Clears runs of valid entries no longer than 5 mm.
        virtual void noizegate(int32_t xdpi);
        virtual int32_t getFltTrgDPI() const { return 150; }
        virtual int32_t getFltTopTrgDPI() const = 0;
        virtual int32_t getFltBottomTrgDPI() const = 0;
        virtual int32_t getFltLeftTrgDPI() const { return 0; }
        virtual int32_t getFltRightTrgDPI() const { return 0; }
        int32_t m_xStep = 1, m_yStep = 1;
        int32_t m_top = 0, m_bottom = 0, m_left = 0, m_right = 0; // reaches in pixels
    };

    class CEdgeFlt_ShadowEdge : public CEdgeFlt {
    public:
        // Within the trim length from each end, clears the entries before
        // every step the expected way (down for a top edge, up for a bottom
        // edge) until the first step the other way.
        void trim(bool top);
        int32_t m_trim = 0; // pixels
    };

    // The leading edge: the line after the first run of dark, darkened lines.
    class CEdgeFlt_TopShadowEdge : public CEdgeFlt_ShadowEdge {
    public:
        void filter(const CLineWindow& lines, int32_t step, int32_t y, int32_t darkening,
                    int32_t limit) override;
        int32_t getFltTopTrgDPI() const override { return 5; }
        int32_t getFltBottomTrgDPI() const override { return 0; }
    };

    // The trailing edge: the line before the last run of dark, darkened lines.
    class CEdgeFlt_BtmShadowEdge : public CEdgeFlt_ShadowEdge {
    public:
        void filter(const CLineWindow& lines, int32_t step, int32_t y, int32_t darkening,
                    int32_t limit) override;
        int32_t getFltTopTrgDPI() const override { return 0; }
        int32_t getFltBottomTrgDPI() const override { return 5; }
    };

    CDetectSizeWithDuplex() = default;
    virtual ~CDetectSizeWithDuplex() = default;
    CDetectSizeWithDuplex(const CDetectSizeWithDuplex&) = delete;
    CDetectSizeWithDuplex& operator=(const CDetectSizeWithDuplex&) = delete;

    uint32_t Initialize(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back,
                        const tagOPTION* option, bool swap);
    uint32_t first(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back) {
        return piece(front, back);
    }
    uint32_t mid(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back) {
        return piece(front, back);
    }
    // 13 when only one of the two bands is present.
    uint32_t last(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back);
    uint32_t piece(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back);
    uint32_t result(tagDETECTSIZEINFO* info, const tagOPTION* option);

    // Lines received so far.
    int32_t lines() const;

private:
    void runLine(const uint8_t* line1, const uint8_t* line2);
    void fixEdge();
    bool calc_slant(const std::vector<int32_t>& lead, int32_t left, int32_t right, int32_t xdpi,
                    int32_t ydpi, Tvk::tagPOINT* slant) const;
    void roll_back_result(int32_t width, int32_t length, tagDETECTSIZEINFO* info) const;

    bool m_bSwap = false;
    bool m_bInitialized = false;
    bool m_bFixed = false;
    tagOPTION m_option{};
    tagDETECTSIZEINFO m_result[2]{}; // working records of image 1 and image 2
    CEdgeFlt_BtmShadowEdge m_trail;  // on image 1
    CEdgeFlt_TopShadowEdge m_lead;   // on image 2
    CEdge m_leadOn1;                 // the leading edge mapped into image 1
    CEdge m_trailOn2;                // the trailing edge mapped into image 2
    CImg::tagIMGSET m_image[2]{};    // descriptions of image 1 and image 2 (no buffer)
    CLineWindow m_queue[2];
    int32_t m_step = 1;
    int32_t m_window = 1;
    int32_t m_l5mm = 59;
    int32_t m_lMargin = 0;
};
