// Internal classes of the edge-emphasis family: the band machinery, the
// window kernels and every member with its level table.
#pragma once

#include "CBFunc.h"
#include "EdgeFunc.h"

#include <cstddef>
#include <cstdint>

// Bytes from one line of a record to the next: all planes of a colour
// record whose order is not 0 (the family takes every such order for line-
// sequential planes), else one lSync.
inline int64_t EdgeLineStep(const tagTVKIMAGEINFO& img) {
    return static_cast<int64_t>(img.lSync) * (img.ulRGBOrder != 0 ? img.lSpp : 1);
}
// Line `line` counted from the record's lYpos.
inline uint8_t* EdgeLinePtr(const tagTVKIMAGEINFO& img, int64_t line) {
    return img.lpImage + (static_cast<int64_t>(img.lYpos) + line) * EdgeLineStep(img);
}
// Lines [start, start + count) of a record (clipped to its height) as a
// record of its own.
tagTVKIMAGEINFO EdgeBand(const tagTVKIMAGEINFO& img, int32_t start, int32_t count);
// The fields the caller's record holds; the rest read as 0.
tagEDGEINFO EdgeInfoCopy(const tagEDGEINFO* info);

// Thrown (as an int) by a filter's first band when its buffers cannot be made;
// the exports catch it.
inline constexpr int kEdgeFuncNoMemory = 8;

// A level table of a four-neighbour member as at most kMaxPieces pieces that
// vector lanes compute without a lookup. For a = |response| (at most
// kMaxResponse), piece k holds where a > above[k] (and no later piece does);
// its correction is
//   min(255, ((((a << 6) * mul[k]) >> 16) >> shift[k]) + add[k])
// with the sign of the response. Constant pieces have mul 0. pieces == 0:
// the table has no such form and the kernels look it up.
struct EdgeLevelShape {
    static constexpr int kMaxPieces = 4;
    static constexpr int32_t kMaxResponse = 4 * 255;
    int32_t pieces = 0;
    int16_t above[kMaxPieces] = {};
    uint16_t mul[kMaxPieces] = {};
    uint8_t shift[kMaxPieces] = {};
    int16_t add[kMaxPieces] = {};
    // The correction the pieces give for a response.
    int32_t Level(int32_t response) const;
};
// The shape of level[-kMaxResponse .. kMaxResponse] (origin at level[0]), or
// pieces == 0 when no shape reproduces every entry.
EdgeLevelShape EdgeLevelShapeOf(const int32_t* level);

// Base of the family on the line-processor base.
class CEdgeFunc : public CTvkIP {
public:
    CEdgeFunc() = default;
    ~CEdgeFunc() override = default;

    using CTvkIP::Finish;
    using CTvkIP::Start;

    // Each returns 1 when done and 0 when it refused the images or the state
    // (nothing written then).
    virtual int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) { return 0; }
    virtual int Finish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) { return 1; }
    virtual int Cont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) { return 1; }

    const tagEDGEINFO& EdgeInfo() const { return m_Info; }

protected:
    tagEDGEINFO m_Info{};
};

// Drives a band through the three-line window and owns the level table. On
// its own it copies lines without delay.
class CEdgeFuncGray : public CEdgeFunc {
public:
    CEdgeFuncGray() = default;
    ~CEdgeFuncGray() override;

    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) override;
    int Finish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) override;
    int Cont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) override;

    virtual void NewBuffer(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {}
    virtual int32_t DelayLineNum() { return UseLineBuffer() > 1 ? UseLineBuffer() - 1 : 0; }
    virtual int32_t UseLineBuffer() { return 0; }
    virtual void SetInfo(const tagEDGEINFO* info);
    // 1 when built, 0 when memory is lacking.
    virtual int MakeLevelTable() { return 1; }
    // Each returns 1 when it wrote a destination line into out. width is in
    // pixels of the source.
    virtual int LineStart1(uint8_t* out, const uint8_t* in, int32_t width);
    virtual int LineStart2(uint8_t* out, const uint8_t* in, int32_t width);
    virtual int LineCont(uint8_t* out, const uint8_t* in, int32_t width);
    virtual int LineFinish(uint8_t* out, const uint8_t* in, int32_t width);
    // LineCont for h lines of a band, out + i * outStep from in + i * inStep.
    virtual void LinesCont(uint8_t* out, int64_t outStep, const uint8_t* in, int64_t inStep,
                           int32_t h);

    bool IsUseLineBuffer() { return UseLineBuffer() != 0; }
    bool GetBuffer(size_t size);
    void Init();

    // Level-table access for checks: the correction for a response (the
    // table must have been built).
    bool HasLevelTable() const { return m_pLevel != nullptr; }
    int32_t LevelAt(int32_t response) const { return m_pLevel[response]; }
    int32_t LevelRange() const { return m_lLevelRange; }

protected:
    // Samples a pixel occupies in a line (3 for interleaved colour) and the
    // narrowest line the kernel serves.
    virtual int32_t BytesPerPixel() const { return 1; }
    virtual int32_t MinWidth() const { return 1; }
    // Samples per pixel the member accepts, and whether colour must be
    // interleaved.
    virtual bool AcceptsImage(const tagTVKIMAGEINFO* img) const;

    // Allocates the table for responses -range .. range-1, origin at 0.
    bool AllocLevelTable(int32_t range);
    bool CheckImage(const tagTVKIMAGEINFO* img, int32_t width, bool needPixels) const;
    // The checks every band with lines must pass; `fresh` for the first band
    // of an image.
    bool AcceptsBand(const tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src, bool fresh);
    // The copying members' line step.
    int CopyLine(uint8_t* out, const uint8_t* in, int32_t width) const;
    int32_t LineBytes(int32_t width) const { return width * BytesPerPixel(); }

    uint8_t* m_pNewest = nullptr;
    uint8_t* m_pCentre = nullptr;
    uint8_t* m_pOldest = nullptr;
    int32_t* m_pLevelBlock = nullptr;
    int32_t* m_pLevel = nullptr;
    uint8_t* m_pLineBuffer = nullptr;
    int32_t m_lLevelRange = 0;
    int32_t m_lWidth = 0;  // source width at set-up
    bool m_bReady = false; // buffers and table made for this image
};

// The copying filter.
class CEdgeFuncNone : public CEdgeFuncGray {};

// Four-neighbour sharpening on a three-line window; base of the level-table
// members. A member's character lies in RawLevel; the table stores it
// clamped to -255..255.
class CEdgeFuncOn : public CEdgeFuncGray {
public:
    int32_t UseLineBuffer() override { return 3; }
    void NewBuffer(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) override;
    int MakeLevelTable() override;
    int LineStart1(uint8_t* out, const uint8_t* in, int32_t width) override;
    int LineStart2(uint8_t* out, const uint8_t* in, int32_t width) override;
    int LineCont(uint8_t* out, const uint8_t* in, int32_t width) override;
    void LinesCont(uint8_t* out, int64_t outStep, const uint8_t* in, int64_t inStep,
                   int32_t h) override;
    int LineFinish(uint8_t* out, const uint8_t* in, int32_t width) override;

    // Correction before clamping for a response.
    virtual int32_t RawLevel(int32_t l) const { return l; }
    // The level table in pieces (made with the table).
    const EdgeLevelShape& LevelShape() const { return m_Shape; }

protected:
    int32_t MinWidth() const override { return 2; }
    // Responses the kernel can produce lie within -range .. range-1.
    virtual int32_t TableRange() const { return 1024; }
    // One output line: c the line, v1 and v2 its vertical neighbours (v2 null
    // when only one exists). n is the line length in bytes.
    virtual void Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
                     int32_t n) const;
    void Rotate();
    int32_t m_lLineBytes = 0;
    int32_t m_lZeroBand = -1; // responses within +-this get no correction
    EdgeLevelShape m_Shape;   // the table in pieces, for the vector kernels
};

// Gray members (four-neighbour kernel).
class CEdgeFunc1 : public CEdgeFuncNone {};
class CEdgeFunc2 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFunc3 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFunc4 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFunc5 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFunc6 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFunc7 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFunc8 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFunc9 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncA : public CEdgeFuncOn {};

// Plane filters of the line-sequential colour filter.
class CEdgeFuncR1 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncR2 : public CEdgeFuncNone {};
class CEdgeFuncR3 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncR4 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncR5 : public CEdgeFuncOn {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncG1 : public CEdgeFuncR1 {};
class CEdgeFuncG2 : public CEdgeFuncR2 {};
class CEdgeFuncG3 : public CEdgeFuncR3 {};
class CEdgeFuncG4 : public CEdgeFuncR4 {};
class CEdgeFuncG5 : public CEdgeFuncR5 {};
class CEdgeFuncB1 : public CEdgeFuncR1 {};
class CEdgeFuncB2 : public CEdgeFuncR2 {};
class CEdgeFuncB3 : public CEdgeFuncR3 {};
class CEdgeFuncB4 : public CEdgeFuncR4 {};
class CEdgeFuncB5 : public CEdgeFuncR5 {};

// The wide kernel: two columns to each side.
class CEdgeFuncMS : public CEdgeFuncOn {
protected:
    int32_t MinWidth() const override { return 4; }
    int32_t TableRange() const override { return 4096; }
    void Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
             int32_t n) const override;
};
class CEdgeFuncMS1 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override { return 0; }
};
class CEdgeFuncMS2 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncMS3 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncMS4 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncMS5 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncMSforGray1 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override { return 0; }
};
class CEdgeFuncMSforGray2 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncMSforGray3 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncMSforGray4 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncMSforGray5 : public CEdgeFuncMS {
public:
    int32_t RawLevel(int32_t l) const override;
};

// Level-table parameters of the parameterised members.
struct EdgeLevelParams {
    int32_t highTh = 255, highMul = 1, highDiv = 16;
    int32_t lowTh = 192, lowMul = 1, lowDiv = 32;
};
// The record's six parameters when both divisors are non-zero, else the
// defaults for all six.
EdgeLevelParams EdgeLevelParamsFrom(const tagEDGEINFO* info);
int32_t EdgeLevelFromParams(const EdgeLevelParams& p, int32_t l);

// Gray member with the caller's level-table parameters.
class CEdgeFuncV3 : public CEdgeFuncOn {
public:
    explicit CEdgeFuncV3(const tagEDGEINFO* info) : m_Param(EdgeLevelParamsFrom(info)) {}
    int32_t RawLevel(int32_t l) const override { return EdgeLevelFromParams(m_Param, l); }

protected:
    EdgeLevelParams m_Param;
};

// Line-sequential colour: one gray plane filter per plane.
class CEdgeFuncColor : public CEdgeFunc {
public:
    CEdgeFuncColor() = default;
    ~CEdgeFuncColor() override;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) override;
    int Finish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) override;
    int Cont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) override;

    CEdgeFuncGray* Plane(int i) const { return m_pPlane[i]; }

private:
    enum class Step { Start, Cont, Finish };
    int Run(Step step, tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info);
    void DeletePlanes();
    CEdgeFuncGray* m_pPlane[3] = {nullptr, nullptr, nullptr};
};

// The three plane records of a line-sequential colour record (any may be
// null). A null colour record gives planes with no lines.
void TVKIMAGEINFO_Color2Gray(const tagTVKIMAGEINFO* color, tagTVKIMAGEINFO* r, tagTVKIMAGEINFO* g,
                             tagTVKIMAGEINFO* b);

// Interleaved colour: the four-neighbour window on each channel.
class CEdgeFuncColorRGB : public CEdgeFuncOn {
protected:
    int32_t BytesPerPixel() const override { return 3; }
    bool AcceptsImage(const tagTVKIMAGEINFO* img) const override;
    void Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
             int32_t n) const override;
};
class CEdgeFuncColorRGB1 : public CEdgeFuncColorRGB {
public:
    int32_t RawLevel(int32_t l) const override { return 0; }
};
class CEdgeFuncColorRGB2 : public CEdgeFuncColorRGB {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncColorRGB3 : public CEdgeFuncColorRGB {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncColorRGB4 : public CEdgeFuncColorRGB {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncColorRGB5 : public CEdgeFuncColorRGB {
public:
    int32_t RawLevel(int32_t l) const override;
};

// Interleaved colour smoothing: the negated response pulls each sample
// toward the mean of its neighbours.
class CEdgeFuncColorRGBAve : public CEdgeFuncColorRGB {
public:
    int32_t RawLevel(int32_t l) const override;

protected:
    void Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
             int32_t n) const override;
};
class CEdgeFuncColorRGBAvg_Th1Div8 : public CEdgeFuncColorRGBAve {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncColorRGBAvg_Th192Div8_Th1Div16 : public CEdgeFuncColorRGBAve {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncColorRGBAvg_Th1Div16 : public CEdgeFuncColorRGBAve {
public:
    int32_t RawLevel(int32_t l) const override;
};
class CEdgeFuncColorV2RGB1 : public CEdgeFuncColorRGBAvg_Th1Div8 {};
class CEdgeFuncColorV2RGB2 : public CEdgeFuncColorRGBAvg_Th192Div8_Th1Div16 {};
class CEdgeFuncColorV2RGB3 : public CEdgeFuncColorRGBAvg_Th1Div16 {};
class CEdgeFuncColorV2RGB4 : public CEdgeFuncColorRGB1 {};
class CEdgeFuncColorV2RGB5 : public CEdgeFuncColorRGB3 {};

// Interleaved colour member with the caller's level-table parameters.
class CEdgeFuncColorV3RGB : public CEdgeFuncColorRGB {
public:
    explicit CEdgeFuncColorV3RGB(const tagEDGEINFO* info) : m_Param(EdgeLevelParamsFrom(info)) {}
    int32_t RawLevel(int32_t l) const override { return EdgeLevelFromParams(m_Param, l); }

protected:
    EdgeLevelParams m_Param;
};

// Shared table rules (divisions truncate toward zero).
namespace EdgeLevel {
// |l| <= t1: 0; |l| <= t2: l / d1; else l / d2.
int32_t Steps(int32_t l, int32_t t1, int32_t d1, int32_t t2, int32_t d2);
// l clamped to -255..255.
int32_t Clamp255(int32_t l);
// The rule of filter number 1 to 5 that the gray, plane, interleaved and
// older filters share (1: l / 16; 2 to 5: steps); 0 for other numbers.
int32_t ByNumber(uint32_t number, int32_t l);
} // namespace EdgeLevel

// Factory of the handle interface; null when the kind and number name no
// member or memory ran out. The object is not yet registered.
CEdgeFunc* NewEdgeFuncObject(uintptr_t kind, const tagEDGEINFO* info);
// Registry of the objects that handle words may hold, so that a band call can
// tell a live object from a kind or a stale value.
bool EdgeFuncRegister(CEdgeFunc* obj);
void EdgeFuncUnregister(CEdgeFunc* obj);
CEdgeFunc* EdgeFuncLiveObject(uintptr_t handle);

// The older object-less filter of the short record (process-wide state; one
// image at a time). 0 done, -1 refused; EdgeFuncStart stores 8 in the last
// error when its buffers cannot be made.
int32_t EdgeFuncStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, uint32_t number);
int32_t EdgeFuncCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, uint32_t number);
int32_t EdgeFuncFinish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);
// True while an image of the older filter is in progress.
bool EdgeFuncOldInProgress();
