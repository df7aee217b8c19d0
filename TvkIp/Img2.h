// Third-generation simplex size detector: finds slant, corners and bounding
// rectangle of a sheet in a scan that arrives band by band.
#pragma once

#include "DetectSize.h"
#include "Img.h"
#include "LineWindow.h"
#include "TvkTypes.h"

#include <cstdint>
#include <vector>

// Line engine: compares each scan line with the line N - 1 further down,
// column by column, and records in six edge profiles where the brightness
// changes. The lines still in the window at a band's end are copied, so the
// caller may reuse its band memory.
class CCalcEdge3 {
public:
    enum Profile : int {
        kRiseRun = 0, // end of a run of lines turning darker downwards
        kFallRun = 1, // end of a run turning brighter
        kDarkAfterDarkening = 2,
        kDarkAfterBrightening = 3,
        kBorder = 4,
        kShadow = 5,
        kProfiles = 6,
    };

    CCalcEdge3() = default;
    CCalcEdge3(const CCalcEdge3&) = delete;
    CCalcEdge3& operator=(const CCalcEdge3&) = delete;

    // Sets up for a page: thresholds t0 (dark edges when the mode flag is
    // set, runs otherwise) and t1, window height n, dark level, longest
    // counted dark run. 0, kIpErrBadArgument for an empty line or an
    // unsupported depth, kIpErrOutOfMemory.
    uint32_t initialize(const CImg::tagIMGSET& page, uint8_t t0, uint8_t t1, int32_t n,
                        int32_t darkLevel, int32_t darkRun, bool flag);
    int32_t start() { return 0; }
    // One line: pixels start at `line`, `step` bytes apart (3 for the green
    // byte of interleaved colour), `width` of them (must equal the page's).
    void search(const uint8_t* line, int32_t width, int32_t step, int32_t* const* profiles);
    // Copies the lines still in the window into the ring.
    void end();

    int32_t lines() const { return m_y; }
    int32_t window() const { return m_n; }
    int32_t width() const { return m_buffer.width; }
    int32_t step() const { return m_step; }

private:
    template <int Step, bool Flag>
    void compare(const uint8_t* f, const uint8_t* b, int32_t* const* profiles);

    CImg::tagIMGSET m_buffer{}; // one line of the page as the engine reads it
    int32_t m_step = 1;
    size_t m_copyBytes = 0; // bytes spanned by one line's samples
    uint8_t m_t0 = 10, m_t1 = 50;
    int32_t m_n = 1;
    int32_t m_level = 100;
    int32_t m_run = 1;
    int32_t m_k = 1; // 0.25 mm in lines, at least 1
    bool m_flag = false;
    CLineWindow m_lines; // the last m_n lines
    int32_t m_y = 0;     // lines fully compared
    std::vector<int16_t> m_cnt, m_dark;
};

class CDetectSize3 {
public:
    // Caller's request, nineteen 32-bit words; words 5-10 are read again at
    // the result.
    struct tagOPTION {
        uint32_t ulSize;   // sizeof(tagOPTION)
        int32_t lSensorX1; // sensor points on the leading edge; a negative
        int32_t lSensorY1; // value switches the sensor check off
        int32_t lSensorX2;
        int32_t lSensorY2;
        int32_t lReserved5;
        int32_t lLengthLimit;   // lines; 0 switches the length tests off
        int32_t lShortfall;     // allowed shortfall of the paper height, lines
        int32_t lFallbackTop;   // fallback rectangle: top line
        int32_t lFallbackLeft;  // left pixel
        int32_t lFallbackRight; // margin from the right border
        int32_t lThreshold1;    // first difference threshold; negative: 10
        int32_t lThreshold2;    // second; negative: 50
        int32_t lCornerMargin;  // pixels; negative: 1 mm
        int32_t lWindow;        // comparison window in lines; below 1: 1.5 mm
        int32_t lDarkRun;       // longest counted dark run; below 1: 1.5 mm
        int32_t lDarkLevel;     // below 1: 100; clamped to 0..255
        uint32_t ulFlags;       // the caller's own bits, not read here
        uint8_t bMode;          // mode flag: leading shadow (set) or border edges
        uint8_t bSlantFromBottom;
        uint8_t bReserved[2];
    };
    static constexpr uint32_t kOptionSize = sizeof(tagOPTION);
    static_assert(kOptionSize == 19 * 4);
    using tagDETECTSIZEINFO = ::tagDETECTSIZEINFO;

    CDetectSize3() = default;
    virtual ~CDetectSize3() = default;
    CDetectSize3(const CDetectSize3&) = delete;
    CDetectSize3& operator=(const CDetectSize3&) = delete;

    uint32_t Initialize(const CImg::tagIMGSET& page, const tagOPTION* option);
    uint32_t first(const CImg::tagIMGSET& band) { return piece(band); }
    uint32_t mid(const CImg::tagIMGSET& band) { return piece(band); }
    uint32_t last(const CImg::tagIMGSET& band);
    uint32_t piece(const CImg::tagIMGSET& band);
    virtual uint32_t result(tagDETECTSIZEINFO* info, const tagOPTION* option);
    // Whole image in one call.
    virtual uint32_t result(const CImg::tagIMGSET& page, tagDETECTSIZEINFO* info,
                            const tagOPTION* option);
    bool IsTooLongPaper() const;

    // Edge profiles as the line engine left them (one entry per column).
    const std::vector<int32_t>& edge(int i) const { return m_EdgePoints[i]; }
    // Lines compared so far, and the comparison window in lines.
    int32_t lines() const { return m_calc.lines(); }
    int32_t window() const { return m_calc.window(); }
    // The page as given to Initialize (geometry and resolutions, no buffer),
    // and the request with its defaults filled in.
    const CImg::tagIMGSET& page() const { return m_page; }
    const tagOPTION& option() const { return m_option; }

private:
    void revise_edge_data();
    void revise_resolution();
    int32_t working_lines(int32_t lines) const; // scanned lines at the working resolution
    void revise_shadow_edge_data();
    void revise_border_edge_data();
    void remove_noize();
    bool calc_slant_and_width_core(std::vector<int32_t>& profile, bool top, Tvk::tagPOINT* slant,
                                   int32_t* first, int32_t* last);
    void calc_slant_and_rect();
    void calc_rect();
    void calc_points();
    void calc_intercept(Tvk::tagPOINT u, int64_t i[6]) const;
    void calc_4points_core(Tvk::tagPOINT u, const int64_t i[6]);
    void set_pos_from_edge();
    void set_pos_from_rct();
    void set_reference();
    void make_result(tagDETECTSIZEINFO* info);
    void revise_datas();
    bool check_inner_order(const tagDETECTSIZEINFO& info) const;
    bool check_length(const tagDETECTSIZEINFO& info) const;
    bool check_sensor(const tagDETECTSIZEINFO& info) const;
    bool check_document_line(bool* profile4) const;
    bool check_inside(const tagDETECTSIZEINFO& info) const;
    bool check_reach(Tvk::tagPOINT u, int64_t bottomLine) const;
    void roll_back(tagDETECTSIZEINFO* info, bool keepRect) const;
    std::vector<int32_t>& topEdge() { return m_prof[m_option.bMode ? 5 : 4]; }
    std::vector<int32_t>& bottomEdge() { return m_prof[m_option.bMode ? 4 : 5]; }

    int32_t m_l10mm = 118;
    int32_t m_lMargin = 25;
    CImg::tagIMGSET m_page{}; // the page as given (no buffer)
    CImg::tagIMGSET m_work{}; // working geometry at the squared resolution
    Tvk::tagPOINT m_slant{0, 0};
    Tvk::tagPOINT m_slantTop{0, 0}, m_slantBottom{0, 0};
    Tvk::tagRECT m_rect{0, 0, 0, 0};
    Tvk::tagPOINT m_pt[4]{};
    Tvk::tagPOINT m_ref[3]{};
    bool m_bAgree = false;
    bool m_bTopPreferred = true;
    bool m_bReach = true; // the corners span what the edges reach
    bool m_bTopClipped = false; // the top edge lost a part close to the scan's start
    bool m_bInitialized = false;
    std::vector<int32_t> m_EdgePoints[CCalcEdge3::kProfiles];
    // Working copies for the result steps, so that result can run again.
    std::vector<int32_t> m_prof[CCalcEdge3::kProfiles];
    // The top edge before its entries close to the scan's first line were
    // dropped: those entries are too clipped for the slant but still show
    // how far across the sheet reaches.
    std::vector<int32_t> m_topSeen;
    tagOPTION m_option{};
    CCalcEdge3 m_calc;
};
