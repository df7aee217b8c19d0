// Straightening and cutting out a page from its four corners, whole or band
// by band, with background fill and an optional turn by the text slant.
#pragma once

#include "CImgInf.h"
#include "DetectTextSlant.h"

#include <cstddef>
#include <cstdint>

// Rotation request. Corners are page corners in source pixels (y downwards).
struct tagROTATEINFO {
    uint32_t size;             // kRotateInfoSize to create a handle
    Tvk::tagPOINT topLeft;     // in/out
    Tvk::tagPOINT bottomLeft;  // in/out
    Tvk::tagPOINT topRight;    // in/out
    Tvk::tagPOINT bottomRight; // in/out
    Tvk::tagPOINT keep;    // not read by the rotation; the carrier-sheet code keeps a slant here
    int32_t bitsPerPixel;  // lBps * lSpp of the source: 8 or 24
    int32_t srcWidth;      // pixels per source line
    int32_t paperWidth;    // destination width; GetRotateImagePaperSize writes it
    int32_t paperHeight;   // destination height
    uint8_t rightAnchored; // non-zero: the page's right edge is the reference
    uint8_t interpolate;   // 1: bilinear sampling; other values: nearest pixel
    uint8_t reserved0[2];
    int32_t keptLines;   // out: source-line window of the handle
    int32_t linesOut;    // out: destination lines completed by the last call
    int32_t linesIn;     // out: source lines consumed by the last call
    void* handle;        // the CRotateImage of CreateRotateImageHandle, or null
    int32_t last;        // non-zero: whole page or its last band
    int32_t fillMode;    // 0 none; 1 detect the background (fillColour as threshold); else fill
    uint32_t fillColour; // bytes 0, 1, 2: first, second, third sample
    uint32_t
        slantFlags; // bit 0: detect the text slant and turn by it; bit 1: turn by textSlant's angle
    Tvk::tagPOINT dstTopLeft; // out: page corners in the destination after the text-slant turn
    Tvk::tagPOINT dstBottomLeft;
    Tvk::tagPOINT dstTopRight;
    Tvk::tagPOINT dstBottomRight;
    int32_t sin1024;                   // out: sine x 1024 of that turn, truncated
    int32_t cos1024;                   // out
    tagDETECTTEXTSLANTINFO* textSlant; // needed by the slant flags
    uint8_t reserved1[16];
};
// A handle needs the whole record; the text-slant paths need it up to the
// text-slant pointer.
inline constexpr uint32_t kRotateInfoSize = sizeof(tagROTATEINFO);
// The shortest record the rotation exports read: through `last`.
inline constexpr uint32_t kRotateInfoMinSize = offsetof(tagROTATEINFO, last) + sizeof(int32_t);
inline constexpr uint32_t kRotateInfoTextSlantSize =
    offsetof(tagROTATEINFO, textSlant) + sizeof(tagDETECTTEXTSLANTINFO*);
static_assert(kRotateInfoTextSlantSize < kRotateInfoSize);
static_assert(kRotateInfoMinSize < kRotateInfoTextSlantSize);

inline constexpr uint32_t kRotateSlantDetect = 1;
inline constexpr uint32_t kRotateSlantUseAngle = 2;

// Fixed point of the rotation: 12 fraction bits.
inline constexpr int32_t kRotateShift = 12;
inline constexpr int32_t kRotateOne = 1 << kRotateShift;

// The handle: a window of source lines and the rotation state.
class CRotateImage {
public:
    CRotateImage() = default;
    CRotateImage(const CRotateImage&) = delete;
    CRotateImage& operator=(const CRotateImage&) = delete;
    ~CRotateImage();

    // Checks and takes over the request; 0 or an error code.
    uint32_t Initialize(tagROTATEINFO* info);
    // One band of source lines into one band of destination lines.
    uint32_t Process(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst, tagROTATEINFO* info);

    int32_t AllocateLine() const { return m_lAllocateLine; }
    int32_t Sin() const { return m_lSin; }
    int32_t Cos() const { return m_lCos; }
    bool IsDone() const { return m_bDone; }

    // Sampling of one run of `count` pixels starting at (x, y), in 1/4096
    // pixel, y relative to rows[0], moving (cx, cy) per pixel. The run-wise
    // forms look their rows up once per stretch of equal rows and, given the
    // number of rows held in `rows`, ask for the rows the next line reads
    // ahead of time; the run-wise bilinear form takes pixels on consecutive
    // columns in SSE2 groups unless the portable paths are forced. All
    // bilinear forms give the same pixels. `spp` is 1 or 3.
    static void DrawBilinearRun(uint8_t* out, const uint8_t* const* rows, int32_t spp, int64_t x,
                                int64_t y, int32_t cx, int32_t cy, int64_t count,
                                int64_t rowCount = 0);
    static void DrawBilinearPixel(uint8_t* out, const uint8_t* const* rows, int32_t spp, int64_t x,
                                  int64_t y, int32_t cx, int32_t cy, int64_t count);
    static void DrawNearest(uint8_t* out, const uint8_t* const* rows, int32_t spp, int64_t x,
                            int64_t y, int32_t cx, int32_t cy, int64_t count, int64_t rowCount = 0);

private:
    struct Run {
        int64_t first; // first drawn pixel
        int64_t last;  // last drawn pixel (inclusive); first > last: none
    };
    uint32_t DetectBackground(const tagTVKIMAGEINFO& src);
    void Fill(tagTVKIMAGEINFO& dst) const;
    uint32_t CutOut(tagTVKIMAGEINFO& src, tagTVKIMAGEINFO& dst, tagROTATEINFO& info);
    uint32_t Rotate(tagTVKIMAGEINFO& src, tagTVKIMAGEINFO& dst, tagROTATEINFO& info);
    struct Point64 {
        int64_t x;
        int64_t y;
    };
    // Source position of destination line `line`'s first pixel, in 1/4096.
    Point64 LineStart(int64_t line) const;
    // Pixels of the destination line starting at `start` that can be sampled,
    // with rows available up to `rowLimit` (exclusive, in 1/4096) when bounded.
    Run Clip(Point64 start, int32_t width, bool bounded, int64_t rowLimit) const;
    // Draws pending destination lines while the window allows; returns the
    // lines produced.
    int64_t DrawPending(tagTVKIMAGEINFO& dst, int64_t produced, int64_t room, bool flush);
    void DropRowsBefore(int64_t row);
    bool KeepOwnCopies();
    void FreeLines();

    uint8_t** m_ppLine = nullptr; // window: source row m_lTopRow + i
    uint8_t** m_ppOwn = nullptr;  // buffers owned by the handle, moving with their slot
    int32_t m_lAllocateLine = 0;
    int32_t m_lKeepLine = 0;
    int64_t m_lTopRow = 0;    // source row of the window's first line
    int32_t m_lLineBytes = 0; // bytes of a source line
    int32_t m_lSpp = 1;
    int32_t m_lSrcWidth = 0;
    int32_t m_lPaperWidth = 0;
    int32_t m_lPaperHeight = 0;
    int64_t m_lDoneLines = 0; // destination lines done
    int64_t m_lRecvLines = 0; // source lines received
    int32_t m_lCos = kRotateOne, m_lSin = 0;
    Tvk::tagPOINT m_ptTL{}, m_ptBL{}, m_ptTR{}, m_ptBR{};
    int32_t m_lLeft = 0, m_lTop = 0, m_lRight = 0, m_lBottom = 0;
    bool m_bNearest = false;
    bool m_bCutOut = false;
    bool m_bRightAnchored = false;
    bool m_bFill = false;
    bool m_bDetectBackground = false;
    bool m_bDone = false;
    uint32_t m_ulFillColour = 0;
};

// Shared steps of the whole-page entries.
struct ROTATEIMAGE_COMMON_FUNCTION {
    // 8-bit gray copy of a gray or interleaved colour image (buffer via new[]).
    static uint32_t ToGrayImage(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src);
    // 2 x 2 mean of an 8-bit gray image into a new image (buffer via new[]).
    static uint32_t ToHalveImage(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src);
    // Turns the top corners about the centre by the angle (radians) and
    // mirrors them into the bottom ones.
    static void RotateFourPoint(Tvk::tagPOINT& topLeft, Tvk::tagPOINT& bottomLeft,
                                Tvk::tagPOINT& topRight, Tvk::tagPOINT& bottomRight, double angle);
    // Destination corners of the page after a turn by the angle.
    static void CalcNewFourPoint(tagROTATEINFO& info, double angle);
    // Halves the corners and source width of a request.
    static void CordinateToDetectTextImage(tagROTATEINFO& info);
    static uint32_t DetectTextSlant_for_RotateImage(tagTVKIMAGEINFO* src, tagROTATEINFO* info);
    static void SetDebugFlag(uint32_t flag);
    static uint32_t GetDebugFlag();
};

// Length of a vector: root of a 64-bit sum, truncated.
int32_t get_vector_length(int64_t x, int64_t y);

extern "C" {
IMVRA_EXPORT uint32_t CreateRotateImageHandle(tagROTATEINFO* info);
IMVRA_EXPORT uint32_t ReleaseRotateImageHandle(tagROTATEINFO* info);
IMVRA_EXPORT uint32_t RotateImage(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst, tagROTATEINFO* info);
IMVRA_EXPORT uint32_t RotateImagePage(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst,
                                      tagROTATEINFO* info);
IMVRA_EXPORT uint32_t RotateImagePageAndDetectTextSlant(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst,
                                                        tagROTATEINFO* info);
IMVRA_EXPORT uint32_t GetRotateImagePaperSize(tagROTATEINFO* info);
}
