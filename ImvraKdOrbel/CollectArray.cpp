#include "CollectArray.h"

#include "TvkIpError.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Tvk::Imvra::KD730 {

namespace {

// Start positions B, A, C; phases 1, 2, 3. Segment A is written in all three
// phases, B in phases 2 and 3, C in phases 1 and 2.
constexpr tagSENSORLAYOUT kLayouts[2][2] = {
    {{300, 864, 2552, 2551, 1700, 836, {13, 824, 27}},
     {300, 864, 2552, 2551, 1687, 823, {0, 824, 40}}},
    {{600, 1728, 5104, 5103, 3401, 1673, {26, 1648, 54}},
     {600, 1728, 5104, 5103, 3375, 1647, {0, 1648, 80}}},
};

// Segment (0 A, 1 B, 2 C) and side (0 front, 1 back) of each of the six
// samples of a duplex readout position.
constexpr int kDuplexSegment[6] = {1, 2, 0, 0, 1, 2};
constexpr int kDuplexSide[6] = {1, 1, 0, 1, 0, 0};

// Bytes of a raw row of n samples of the depth.
int64_t RowBytes(int64_t n, int32_t bps) { return bps == 12 ? (n * 12 + 7) / 8 : n; }

template <class T, int Stride>
void ApplyRuns(const std::vector<CCollectArray::CopyRun>& runs, const T* src, T* dst) {
    for (const auto& r : runs) {
        const T* s = src + r.src;
        T* d = dst + r.dst;
        if (r.step > 0) {
            for (int32_t j = 0; j < r.count; ++j) d[j] = s[j * Stride];
        } else {
            for (int32_t j = 0; j < r.count; ++j) d[-j] = s[j * Stride];
        }
    }
}

template <class T>
void ApplyPlan(const CCollectArray::RowPlan& plan, int side, const T* src, T* dst) {
    if (plan.stride == 6)
        ApplyRuns<T, 6>(plan.runs[side], src, dst);
    else
        ApplyRuns<T, 3>(plan.runs[side], src, dst);
}

} // namespace

const tagSENSORLAYOUT* SensorLayout(int32_t dpi, int32_t index) {
    if (index != 0 && index != 1) return nullptr;
    if (dpi == 300) return &kLayouts[0][index];
    if (dpi == 600) return &kLayouts[1][index];
    return nullptr;
}

void Extend12To16BitCore(uint16_t* dst, const uint8_t* src, size_t n) {
    size_t i = 0;
    for (; i + 1 < n; i += 2, src += 3) {
        dst[i] = static_cast<uint16_t>((src[0] | (src[1] << 8)) & 0xFFF);
        dst[i + 1] = static_cast<uint16_t>((src[1] | (src[2] << 8)) >> 4);
    }
    if (i < n) dst[i] = static_cast<uint16_t>((src[0] | (src[1] << 8)) & 0xFFF);
}

CCollectArray::RowPlan CCollectArray::MakePlan(const tagSENSORLAYOUT& g, bool duplex,
                                               int32_t mirror) {
    RowPlan plan;
    plan.stride = duplex ? 6 : 3;
    // Collected place of every raw sample of a row, per side; -1 dropped.
    const int sides = duplex ? 2 : 1;
    plan.positions = g.positions;
    std::vector<int32_t>* place = plan.place;
    for (int s = 0; s < sides; ++s) place[s].assign(static_cast<size_t>(plan.stride) * g.positions, -1);
    int32_t cursor[2][3];
    for (auto& c : cursor) {
        c[0] = g.startA;
        c[1] = g.startB;
        c[2] = g.startC;
    }
    const int32_t end1 = g.phase[0], end2 = g.phase[0] + g.phase[1];
    for (int32_t p = 0; p < g.positions; ++p) {
        const int phase = p < end1 ? 1 : (p < end2 ? 2 : 3);
        const bool segmentRead[3] = {true, phase >= 2, phase <= 2};
        for (int j = 0; j < plan.stride; ++j) {
            const int seg = duplex ? kDuplexSegment[j] : j;
            const int side = duplex ? kDuplexSide[j] : 0;
            if (!segmentRead[seg]) continue;
            int32_t d = cursor[side][seg]--;
            // The front (and a one-sided row) is mirrored over the collected width.
            if (side == 0 && d < mirror) d = mirror - 1 - d;
            place[side][static_cast<size_t>(plan.stride) * p + j] = d;
        }
    }
    // Runs of samples that land on neighbouring places.
    for (int s = 0; s < sides; ++s) {
        for (int j = 0; j < plan.stride; ++j) {
            CopyRun run{0, 0, 0, 1};
            for (int32_t p = 0; p <= g.positions; ++p) {
                const int32_t src = plan.stride * p + j;
                const int32_t d = p < g.positions ? place[s][static_cast<size_t>(src)] : -1;
                if (run.count > 0 && d >= 0) {
                    const int32_t last = run.dst + (run.count - 1) * run.step;
                    if (run.count == 1 && (d == last + 1 || d == last - 1)) {
                        run.step = d - last;
                        ++run.count;
                        continue;
                    }
                    if (d == last + run.step) {
                        ++run.count;
                        continue;
                    }
                }
                if (run.count > 0) plan.runs[s].push_back(run);
                run = CopyRun{src, d, d >= 0 ? 1 : 0, 1};
            }
        }
    }
    // Blocks of 16 positions for the vector path; each reads 8 bytes a position.
    constexpr int32_t kBlock = 16;
    const int32_t blocks = g.positions / kBlock;
    int32_t safe = 0;
    while (safe < blocks && plan.stride * (kBlock * (safe + 1) - 1) + 8 <= plan.stride * g.positions)
        ++safe;
    plan.vectorBlocks = safe;
    plan.blocks.resize(static_cast<size_t>(safe) * plan.stride);
    for (int32_t k = 0; k < safe; ++k) {
        for (int j = 0; j < plan.stride; ++j) {
            const int side = duplex ? kDuplexSide[j] : 0;
            auto at = [&](int32_t p) {
                return place[side][static_cast<size_t>(plan.stride) * p + j];
            };
            const int32_t p0 = k * kBlock;
            BlockStream& bs = plan.blocks[static_cast<size_t>(k) * plan.stride + j];
            bs = BlockStream{at(p0), 2};
            bool none = true, up = true, down = true;
            for (int32_t i = 0; i < kBlock; ++i) {
                const int32_t d = at(p0 + i);
                none = none && d < 0;
                up = up && d >= 0 && d == at(p0) + i;
                down = down && d >= 0 && d == at(p0) - i;
            }
            if (none) bs.kind = 0;
            else if (up) bs.kind = 1;
            else if (down) bs.kind = -1;
        }
    }
    return plan;
}

namespace {

// The samples of positions [from, to) of a row, one by one.
void CollectPositions8(const CCollectArray::RowPlan& plan, int32_t from, int32_t to,
                       const uint8_t* src, uint8_t* const dst[2], int stream = -1) {
    for (int side = 0; side < 2; ++side) {
        if (plan.place[side].empty()) continue;
        const int32_t* place = plan.place[side].data();
        for (int32_t p = from; p < to; ++p)
            for (int j = 0; j < plan.stride; ++j) {
                if (stream >= 0 && j != stream) continue;
                const int32_t k = plan.stride * p + j;
                if (place[k] >= 0) dst[side][place[k]] = src[k];
            }
    }
}

#if defined(__SSE2__)
// The 16 bytes in reverse order.
inline __m128i Reverse16(__m128i v) {
    v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Sixteen rows of 8 bytes (one a position) turned into 8 columns of 16 bytes.
inline void Transpose16x8(const uint8_t* src, int32_t stride, __m128i col[8]) {
    __m128i a[8];
    for (int k = 0; k < 8; ++k)
        a[k] = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + stride * (2 * k))),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + stride * (2 * k + 1))));
    __m128i lo[4], hi[4];
    for (int k = 0; k < 4; ++k) {
        lo[k] = _mm_unpacklo_epi16(a[2 * k], a[2 * k + 1]); // columns 0-3 of rows 4k..4k+3
        hi[k] = _mm_unpackhi_epi16(a[2 * k], a[2 * k + 1]); // columns 4-7
    }
    for (int h = 0; h < 2; ++h) {
        const __m128i* q = h == 0 ? lo : hi;
        const __m128i c01a = _mm_unpacklo_epi32(q[0], q[1]), c23a = _mm_unpackhi_epi32(q[0], q[1]);
        const __m128i c01b = _mm_unpacklo_epi32(q[2], q[3]), c23b = _mm_unpackhi_epi32(q[2], q[3]);
        col[4 * h + 0] = _mm_unpacklo_epi64(c01a, c01b);
        col[4 * h + 1] = _mm_unpackhi_epi64(c01a, c01b);
        col[4 * h + 2] = _mm_unpacklo_epi64(c23a, c23b);
        col[4 * h + 3] = _mm_unpackhi_epi64(c23a, c23b);
    }
}
#endif

} // namespace

void CCollectArray::CollectRow8(const RowPlan& plan, const uint8_t* src, uint8_t* const dst[2],
                                bool vector) {
#if defined(__SSE2__)
    if (vector) {
        const bool duplex = plan.stride == 6;
        for (int32_t k = 0; k < plan.vectorBlocks; ++k) {
            const int32_t p0 = 16 * k;
            __m128i col[8];
            Transpose16x8(src + plan.stride * p0, plan.stride, col);
            for (int j = 0; j < plan.stride; ++j) {
                const BlockStream& bs = plan.blocks[static_cast<size_t>(k) * plan.stride + j];
                uint8_t* d = dst[duplex ? kDuplexSide[j] : 0];
                if (bs.kind == 1)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + bs.dst), col[j]);
                else if (bs.kind == -1)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + bs.dst - 15), Reverse16(col[j]));
                else if (bs.kind == 2)
                    CollectPositions8(plan, p0, p0 + 16, src, dst, j);
            }
        }
        CollectPositions8(plan, 16 * plan.vectorBlocks, plan.positions, src, dst);
        return;
    }
#endif
    ApplyPlan<uint8_t>(plan, 0, src, dst[0]);
    if (plan.stride == 6) ApplyPlan<uint8_t>(plan, 1, src, dst[1]);
}

int CCollectArray::setInfo(CImg& img, void* info) {
    const auto* p = static_cast<const tagCOLLECTARRAYINFO*>(info);
    if (p == nullptr || p->ulSize != kCollectArrayInfoSize) return RTN_PAR;
    // Raw rows come line-sequential; an empty band has no layout to check.
    if (m_bRefuseInterleaved && !img.isNull() && img.info().ulRGBOrder == 0) return RTN_PAR;
    m_info = *p;
    return RTN_OK;
}

int32_t CCollectArray::dummySum() const {
    int64_t sum = 0;
    for (int32_t d : m_info.dummy.ulDummy) sum += d;
    return static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

int CCollectArray::checkRaw(const tagIMAGEINFO& b, int32_t groups,
                            const tagSENSORLAYOUT*& layout) const {
    if (b.lBps != 8 && b.lBps != 12) return RTN_PAR;
    if (b.lSpp != 1 && b.lSpp != 3) return RTN_PAR;
    if (b.ulRGBOrder != 0 && b.ulRGBOrder != 1) return RTN_PAR;
    layout = SensorLayout(b.lXResolution, m_info.lSensorIndex);
    if (layout == nullptr) return RTN_PAR;
    // Only the sensor's own row for its resolution is reordered: the copy
    // plan writes fixed places.
    const int64_t rowSamples =
        b.ulRGBOrder == 0 ? int64_t{b.lWidth} * b.lSpp : int64_t{b.lWidth};
    if (rowSamples != int64_t{3} * groups * layout->positions) return RTN_PAR;
    if (b.lSync < RowBytes(rowSamples, b.lBps)) return RTN_PAR;
    const int64_t rows = b.ulRGBOrder == 1 ? int64_t{b.lHeight} * b.lSpp : b.lHeight;
    if (b.lHeight < 1 || CImg::storedRows(b) < rows) return RTN_PAR;
    return RTN_OK;
}

const CCollectArray::RowPlan& CCollectArray::plan(const tagSENSORLAYOUT& layout, bool duplex,
                                                  int32_t mirror) {
    if (m_pPlanLayout != &layout || m_bPlanDuplex != duplex || m_lPlanMirror != mirror) {
        m_plan = MakePlan(layout, duplex, mirror);
        m_pPlanLayout = &layout;
        m_bPlanDuplex = duplex;
        m_lPlanMirror = mirror;
    }
    return m_plan;
}

namespace {

// Rows of a raw band: lHeight x lSpp for line-sequential data, else lHeight.
int64_t RawRows(const tagIMAGEINFO& b) {
    return b.ulRGBOrder == 1 ? int64_t{b.lHeight} * b.lSpp : int64_t{b.lHeight};
}

// Creates out from the record; RTN_PAR refused, RTN_MEM without buffer.
int Create(CImg& out, const tagIMAGEINFO& rec) {
    if (!out.createImg(rec)) return RTN_PAR;
    return out.isNull() ? RTN_MEM : RTN_OK;
}

// As Create, the bytes left as they are: the caller writes every byte.
int CreateForWrite(CImg& out, const tagIMAGEINFO& rec) {
    if (!out.createImgForWrite(rec)) return RTN_PAR;
    return out.isNull() ? RTN_MEM : RTN_OK;
}

// The stretches [first, end) of a collected row of rowBytes bytes that no
// raw sample lands on (dummy and unread places): cleared in a buffer that
// is not cleared as a whole.
std::vector<std::pair<int64_t, int64_t>> Holes(const std::vector<int32_t>& place,
                                               int64_t rowBytes) {
    std::vector<bool> covered(static_cast<size_t>(std::max<int64_t>(rowBytes, 0)), false);
    for (const int32_t d : place)
        if (d >= 0 && d < rowBytes) covered[static_cast<size_t>(d)] = true;
    std::vector<std::pair<int64_t, int64_t>> holes;
    for (int64_t x = 0; x < rowBytes;) {
        if (covered[static_cast<size_t>(x)]) {
            ++x;
            continue;
        }
        const int64_t first = x;
        while (x < rowBytes && !covered[static_cast<size_t>(x)]) ++x;
        holes.emplace_back(first, x);
    }
    return holes;
}

void ClearHoles(uint8_t* row, const std::vector<std::pair<int64_t, int64_t>>& holes) {
    for (const auto& [first, end] : holes)
        std::memset(row + first, 0, static_cast<size_t>(end - first));
}

// The record of a 16-bit image of width samples a row, rows as the raw band.
tagIMAGEINFO Wide16(const tagIMAGEINFO& b, int32_t width) {
    tagIMAGEINFO r = b;
    r.lBps = 16;
    r.lWidth = width;
    r.lSync = b.ulRGBOrder == 0 ? 2 * width * b.lSpp : 2 * width;
    r.tImageSize = static_cast<uint32_t>(CImg::calcSize(r.lSync, r.lHeight, r.lSpp, r.ulRGBOrder));
    return r;
}

} // namespace

int CCollectArrayForSimplex::process(CImg& img) {
    if (img.isNull()) return RTN_OK;
    const tagIMAGEINFO& b = img.info();
    const tagSENSORLAYOUT* g = nullptr;
    if (const int r = checkRaw(b, 1, g); r != RTN_OK) return r;
    if (m_info.lWidth < 1 || m_info.lWidth > g->collected) return RTN_PAR;
    // The 8-bit row is mirrored over the collected width, the 12-bit row over
    // the samples given minus the dummy samples.
    const int32_t mirror = b.lBps == 8 ? m_info.lWidth : b.lWidth - dummySum();
    if (mirror < 1 || mirror > g->collected) return RTN_PAR;
    const RowPlan& pl = plan(*g, false, mirror);
    const int64_t rows = RawRows(b);
    CImg out;
    if (b.lBps == 8) {
        if (const int r = CreateForWrite(out, b); r != RTN_OK) return r;
        const bool vector = IsSSE2FeatureAvailable();
        const auto holes = Holes(pl.place[0], b.lSync);
        for (int64_t y = 0; y < rows; ++y) {
            uint8_t* const dst[2] = {out.info().lpImage + y * b.lSync, nullptr};
            ClearHoles(dst[0], holes);
            CollectRow8(pl, b.lpImage + y * b.lSync, dst, vector);
        }
    } else {
        if (const int r = Create(out, Wide16(b, b.lWidth)); r != RTN_OK) return r;
        std::vector<uint16_t> row(static_cast<size_t>(b.lWidth));
        const int32_t outSync = out.info().lSync;
        for (int64_t y = 0; y < rows; ++y) {
            Extend12To16BitCore(row.data(), b.lpImage + y * b.lSync, row.size());
            ApplyPlan<uint16_t>(pl, 0, row.data(),
                                reinterpret_cast<uint16_t*>(out.info().lpImage + y * outSync));
        }
    }
    out.info().lWidth = m_info.lWidth;
    img.attachImg(out);
    return RTN_OK;
}

int CCollectArrayForDuplex::process(CImg& img) {
    if (img.isNull()) return RTN_OK;
    const tagIMAGEINFO& b = img.info();
    const tagSENSORLAYOUT* g = nullptr;
    if (const int r = checkRaw(b, 2, g); r != RTN_OK) return r;
    if (m_info.lWidth < 1 || m_info.lWidth > g->collected) return RTN_PAR;
    const int32_t half = b.lWidth / 2;
    const int32_t mirror = b.lBps == 8 ? m_info.lWidth : half - dummySum();
    if (mirror < 1 || mirror > g->collected) return RTN_PAR;
    const RowPlan& pl = plan(*g, true, mirror);
    const int64_t rows = RawRows(b);
    CImg front, back;
    if (b.lBps == 8) {
        if (b.lSync % 2 != 0) return RTN_PAR;
        tagIMAGEINFO rec = b;
        rec.lWidth = half;
        rec.lSync = b.lSync / 2;
        rec.tImageSize =
            static_cast<uint32_t>(CImg::calcSize(rec.lSync, rec.lHeight, rec.lSpp, rec.ulRGBOrder));
        if (const int r = CreateForWrite(front, rec); r != RTN_OK) return r;
        if (const int r = CreateForWrite(back, rec); r != RTN_OK) return r;
        const bool vector = IsSSE2FeatureAvailable();
        const auto frontHoles = Holes(pl.place[0], rec.lSync);
        const auto backHoles = Holes(pl.place[1], rec.lSync);
        for (int64_t y = 0; y < rows; ++y) {
            uint8_t* const dst[2] = {front.info().lpImage + y * rec.lSync,
                                     back.info().lpImage + y * rec.lSync};
            ClearHoles(dst[0], frontHoles);
            ClearHoles(dst[1], backHoles);
            CollectRow8(pl, b.lpImage + y * b.lSync, dst, vector);
        }
    } else {
        const tagIMAGEINFO rec = Wide16(b, half);
        if (const int r = Create(front, rec); r != RTN_OK) return r;
        if (const int r = Create(back, rec); r != RTN_OK) return r;
        std::vector<uint16_t> row(static_cast<size_t>(b.lWidth));
        for (int64_t y = 0; y < rows; ++y) {
            Extend12To16BitCore(row.data(), b.lpImage + y * b.lSync, row.size());
            ApplyPlan<uint16_t>(pl, 0, row.data(),
                                reinterpret_cast<uint16_t*>(front.info().lpImage + y * rec.lSync));
            ApplyPlan<uint16_t>(pl, 1, row.data(),
                                reinterpret_cast<uint16_t*>(back.info().lpImage + y * rec.lSync));
        }
    }
    front.info().lWidth = m_info.lWidth;
    back.info().lWidth = m_info.lWidth;
    img.attachImg(front);
    m_imgBack.attachImg(back);
    return RTN_OK;
}

int CExtendBitData12To16::process(CImg& img) {
    if (img.isNull() || img.info().lBps != 12) return RTN_OK;
    const tagIMAGEINFO& b = img.info();
    const tagSENSORLAYOUT* g = nullptr;
    if (const int r = checkRaw(b, 1, g); r != RTN_OK) return r;
    const int64_t rowSamples = b.ulRGBOrder == 0 ? int64_t{b.lWidth} * b.lSpp : b.lWidth;
    const int32_t mirror = static_cast<int32_t>(rowSamples) - dummySum();
    if (mirror < 1 || mirror > g->collected) return RTN_PAR;
    const RowPlan& pl = plan(*g, false, mirror);
    CImg out;
    if (const int r = Create(out, Wide16(b, b.lWidth)); r != RTN_OK) return r;
    std::vector<uint16_t> row(static_cast<size_t>(rowSamples));
    const int64_t rows = RawRows(b);
    const int32_t outSync = out.info().lSync;
    for (int64_t y = 0; y < rows; ++y) {
        Extend12To16BitCore(row.data(), b.lpImage + y * b.lSync, row.size());
        ApplyPlan<uint16_t>(pl, 0, row.data(),
                            reinterpret_cast<uint16_t*>(out.info().lpImage + y * outSync));
    }
    img.attachImg(out);
    return RTN_OK;
}

// ---------------------------------------------------------------------------

int CCutOffset::takeInfo(void* info) {
    const auto* p = static_cast<const tagCUTOFFSETINFO*>(info);
    if (p == nullptr || p->ulSize != kCutOffsetInfoSize) return RTN_PAR;
    m_info = *p;
    return RTN_OK;
}

int CCutOffset::setInfo(CImg& img, void* info) {
    const int r = takeInfo(info);
    if (r == RTN_OK) m_lTopLines = m_lBottomLines = 0;
    return r;
}

int CCutOffset::CutOutHorizontal(CImg& img, int32_t start, int32_t count) {
    const tagIMAGEINFO& b = img.info();
    if (start < 0 || count < 1 || int64_t{start} + count > b.lHeight) return RTN_PAR;
    tagIMAGEINFO rec = b;
    rec.lHeight = count;
    rec.tImageSize = static_cast<uint32_t>(CImg::calcSize(b.lSync, count, b.lSpp, b.ulRGBOrder));
    const int64_t step = TvkLineStep(b);
    if (CImg::storedRows(b) * b.lSync < (int64_t{start} + count) * step) return RTN_PAR;
    CImg out;
    if (!out.createImgForWrite(rec)) return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    const size_t copied = std::min<size_t>(static_cast<size_t>(count * step), rec.tImageSize);
    std::memcpy(out.info().lpImage, b.lpImage + start * step, copied);
    std::memset(out.info().lpImage + copied, 0, rec.tImageSize - copied);
    img.attachImg(out);
    return RTN_OK;
}

int CCutOffset::process(CImg& img) {
    if (m_info.lOffset == 0 || img.isNull()) return RTN_OK;
    const int64_t h = img.info().lHeight;
    const bool top = (m_info.lOffset < 0 && m_info.ulDirection == 0) ||
                     (m_info.lOffset >= 0 && m_info.ulDirection == 1);
    int r = RTN_OK;
    if (top) {
        const int64_t k = m_info.lOffset < 0 ? -int64_t{m_info.lOffset} : m_info.lOffset;
        const int64_t n = m_lTopLines;
        if (n + h <= k)
            img.deleteImg();
        else if (n < k)
            r = CutOutHorizontal(img, static_cast<int32_t>(k - n), static_cast<int32_t>(n + h - k));
        if (r == RTN_OK) m_lTopLines += h;
    } else {
        const int64_t limit = m_info.lLimit;
        const int64_t n = m_lBottomLines;
        if (n >= limit)
            img.deleteImg();
        else if (n + h > limit)
            r = CutOutHorizontal(img, 0, static_cast<int32_t>(limit - n));
        if (r == RTN_OK) m_lBottomLines += h;
    }
    return r;
}

} // namespace Tvk::Imvra::KD730
