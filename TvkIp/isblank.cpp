// Blank-page decision: set-pixel and edge counts over a page or a frame,
// compared with a percent or fraction threshold.
#include "isblank.h"

#include "CHist.h"
#include "CImgInfPtr.h"
#include "ImageCheck.h"
#include "TvkIpError.h"
#include "waku.h"
#include "CBFunc.h"

#include <algorithm>
#include <climits>
#include <cstring>

// ---------------------------------------------------------------------------
// Fractions

tagLONGRAT ToLONGRAT(tagSHORTRAT r) {
    return tagLONGRAT{r.num, r.den};
}

tagSHORTRAT ToSHORTRAT(int32_t num, int32_t den) {
    while (num >= 32768 || den >= 32768) {
        num >>= 1;
        den >>= 1;
    }
    return tagSHORTRAT{static_cast<int16_t>(num), static_cast<int16_t>(den)};
}

tagSHORTRAT ToSHORTRAT(tagLONGRAT r) {
    return ToSHORTRAT(r.num, r.den);
}

tagSHORTRAT SHORTRATFromWord(uint32_t word) {
    return tagSHORTRAT{static_cast<int16_t>(word & 0xFFFF), static_cast<int16_t>(word >> 16)};
}

uint32_t SHORTRATToWord(tagSHORTRAT r) {
    return static_cast<uint16_t>(r.num) | static_cast<uint32_t>(static_cast<uint16_t>(r.den)) << 16;
}

namespace {
// p.num * q.den and p.den * q.num, both as signed 64-bit products.
template <typename A, typename B> inline int64_t Left(const A& p, const B& q) {
    return int64_t{p.num} * int64_t{q.den};
}
template <typename A, typename B> inline int64_t Right(const A& p, const B& q) {
    return int64_t{p.den} * int64_t{q.num};
}
} // namespace

#define TVK_RAT_OPS(A, B)                                                                          \
    bool operator>(const A& p, const B& q) {                                                       \
        return Left(p, q) > Right(p, q);                                                           \
    }                                                                                              \
    bool operator<(const A& p, const B& q) {                                                       \
        return Left(p, q) < Right(p, q);                                                           \
    }                                                                                              \
    bool operator>=(const A& p, const B& q) {                                                      \
        return Left(p, q) >= Right(p, q);                                                          \
    }                                                                                              \
    bool operator<=(const A& p, const B& q) {                                                      \
        return Left(p, q) <= Right(p, q);                                                          \
    }                                                                                              \
    bool operator==(const A& p, const B& q) {                                                      \
        return Left(p, q) == Right(p, q);                                                          \
    }                                                                                              \
    bool operator!=(const A& p, const B& q) {                                                      \
        return Left(p, q) != Right(p, q);                                                          \
    }
TVK_RAT_OPS(tagLONGRAT, tagLONGRAT)
TVK_RAT_OPS(tagSHORTRAT, tagSHORTRAT)
TVK_RAT_OPS(tagLONGRAT, tagSHORTRAT)
TVK_RAT_OPS(tagSHORTRAT, tagLONGRAT)
#undef TVK_RAT_OPS

// ---------------------------------------------------------------------------
// Pixel tables and row counters

const uint8_t bBitMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
const uint8_t bBitMaskF[9] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF};

const uint8_t bBitCnt[256] = {
#define B2(n) n, n + 1, n + 1, n + 2
#define B4(n) B2(n), B2(n + 1), B2(n + 1), B2(n + 2)
#define B6(n) B4(n), B4(n + 1), B4(n + 1), B4(n + 2)
    B6(0), B6(1), B6(1), B6(2)
#undef B6
#undef B4
#undef B2
};

int64_t GetBitNumByte(const uint8_t* p, int64_t n) {
    int64_t sum = 0;
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        sum += __builtin_popcountll(w);
    }
    for (; i < n; ++i) sum += bBitCnt[p[i]];
    return sum;
}

int64_t GetBitNumBit(const uint8_t* line, int64_t start, int64_t n) {
    if (n <= 0) return 0;
    const uint8_t* p = line + (start >> 3);
    const int s = static_cast<int>(start & 7);
    const int e = static_cast<int>((s + n) & 7); // pixels used of the last byte
    const int64_t lastByte = (s + n - 1) >> 3;   // index of the last byte touched
    if (lastByte == 0) {
        const uint8_t mask = static_cast<uint8_t>(~bBitMaskF[s] & bBitMaskF[s + n]);
        return bBitCnt[p[0] & mask];
    }
    int64_t sum = bBitCnt[p[0] & static_cast<uint8_t>(~bBitMaskF[s])];
    const uint8_t lastMask = e == 0 ? 0xFF : bBitMaskF[e];
    sum += GetBitNumByte(p + 1, lastByte - 1);
    sum += bBitCnt[p[lastByte] & lastMask];
    return sum;
}

int64_t GetBitNumBit(const uint8_t* line, int64_t pos, int64_t rows, int64_t stride) {
    const uint8_t* p = line + (pos >> 3);
    const uint8_t mask = bBitMask[pos & 7];
    int64_t n = 0;
    for (int64_t r = 0; r < rows; ++r, p += stride) n += (*p & mask) != 0;
    return n;
}

namespace {

// One row as 64-bit words, pixel i at bit 63 - i % 64 of word i / 64, bits
// beyond the row cleared. Rows are copied through a padded byte buffer so
// that reading never passes the row's last byte.
class RowWords {
public:
    bool Init(int64_t n) {
        m_n = n;
        m_words = (n + 63) / 64;
        const size_t bytes = static_cast<size_t>(m_words * 8 + 16);
        return m_bytes.Allocate(bytes) && m_w.Allocate(static_cast<size_t>(m_words) + 1);
    }
    void Load(const uint8_t* line, int64_t start) {
        const int64_t first = start >> 3;
        const int sh = static_cast<int>(start & 7);
        const int64_t used = (start + m_n + 7) / 8 - first;
        m_bytes.Zero();
        std::memcpy(m_bytes.Ptr(), line + first, static_cast<size_t>(used));
        const uint8_t* b = m_bytes.Ptr();
        for (int64_t k = 0; k < m_words; ++k) {
            uint64_t hi = 0;
            for (int i = 0; i < 8; ++i) hi = (hi << 8) | b[8 * k + i];
            if (sh != 0) hi = (hi << sh) | (b[8 * k + 8] >> (8 - sh));
            m_w[k] = hi;
        }
        const int tail = static_cast<int>(m_n & 63);
        if (tail != 0) m_w[m_words - 1] &= ~uint64_t{0} << (64 - tail);
        m_w[m_words] = 0;
    }
    uint64_t operator[](int64_t k) const { return m_w[k]; }
    int64_t Words() const { return m_words; }
    int64_t Bits() const { return m_n; }
    // Mask of the valid bits of word k.
    uint64_t Valid(int64_t k) const {
        const int tail = static_cast<int>(m_n & 63);
        return (k == m_words - 1 && tail != 0) ? ~uint64_t{0} << (64 - tail) : ~uint64_t{0};
    }
    bool Pixel(int64_t i) const { return (m_w[i >> 6] >> (63 - (i & 63))) & 1; }
    int64_t Count() const {
        int64_t c = 0;
        for (int64_t k = 0; k < m_words; ++k) c += __builtin_popcountll(m_w[k]);
        return c;
    }
    // First pixel of the value (set or clear), or -1.
    int64_t First(bool set) const {
        for (int64_t k = 0; k < m_words; ++k) {
            const uint64_t w = (set ? m_w[k] : ~m_w[k]) & Valid(k);
            if (w != 0) return k * 64 + __builtin_clzll(w);
        }
        return -1;
    }
    int64_t Last(bool set) const {
        for (int64_t k = m_words - 1; k >= 0; --k) {
            const uint64_t w = (set ? m_w[k] : ~m_w[k]) & Valid(k);
            if (w != 0) return k * 64 + 63 - __builtin_ctzll(w);
        }
        return -1;
    }
    // Set pixels followed by a clear one inside the row.
    int64_t Falls() const {
        int64_t c = 0;
        for (int64_t k = 0; k < m_words; ++k) {
            const uint64_t next = (m_w[k] << 1) | (m_w[k + 1] >> 63);
            c += __builtin_popcountll(m_w[k] & ~next);
        }
        // The last pixel has no right neighbour: its run stays open.
        if (m_n > 0 && Pixel(m_n - 1)) --c;
        return c;
    }
    uint64_t* Data() { return m_w.Ptr(); }

private:
    int64_t m_n = 0;
    int64_t m_words = 0;
    CBuffer<uint8_t> m_bytes;
    CBuffer<uint64_t> m_w;
};

} // namespace

// ---------------------------------------------------------------------------
// Counters

int64_t GetBitNum(const tagTVKIMAGEINFO* image, tagBITNUMRATIOINFO* info, const int32_t* frame,
                  int32_t bInverse, bool frameMode, uint32_t) {
    if (image == nullptr || image->lpImage == nullptr || info == nullptr || frame == nullptr) {
        return 0;
    }
    // Left, top, width, height, cut to the image.
    const int64_t x0 = std::max<int64_t>(frame[0], 0);
    const int64_t y0 = std::max<int64_t>(frame[1], 0);
    const int64_t x1 = std::min<int64_t>(int64_t{frame[0]} + frame[2], image->lWidth);
    const int64_t y1 = std::min<int64_t>(int64_t{frame[1]} + frame[3], image->lHeight);
    if (x1 <= x0 || y1 <= y0) return 0;
    const int64_t n = x1 - x0;
    const int64_t start = int64_t{image->lXpos} + x0;
    const int64_t sync = TvkLineStep(*image);
    int64_t counted = 0;
    int64_t ignored = 0;
    if (frameMode) {
        RowWords row;
        if (!row.Init(n)) throw static_cast<int>(kIpErrNoMemory);
        // Border runs are runs of set pixels (inverse) or of clear ones.
        const bool border = bInverse != 0;
        for (int64_t y = y0; y < y1; ++y) {
            row.Load(image->lpImage + y * sync, start);
            const int64_t firstOther = row.First(!border);
            if (firstOther < 0) {
                ignored += n; // one run from border to border
                continue;
            }
            const int64_t lead = firstOther;
            const int64_t trail = n - 1 - row.Last(!border);
            const int64_t set = row.Count();
            ignored += lead + trail;
            counted += border ? set - lead - trail : set;
        }
    } else {
        for (int64_t y = y0; y < y1; ++y) {
            counted += GetBitNumBit(image->lpImage + y * sync, start, n);
        }
    }
    info->lArea += static_cast<int32_t>(n * (y1 - y0) - ignored);
    info->lCount += static_cast<int32_t>(counted);
    return counted;
}

int64_t GetEdgeNum(const tagTVKIMAGEINFO* image, tagBITNUMRATIOINFO* info, const int32_t* frame,
                   int32_t, bool frameMode, uint32_t, int32_t* edgeH, int32_t* edgeV) {
    if (image == nullptr || image->lpImage == nullptr || info == nullptr || frame == nullptr) {
        return 0;
    }
    // Left, top, right, bottom (exclusive), cut to the image.
    const int64_t left = std::max<int64_t>(frame[0], 0);
    const int64_t top = std::max<int64_t>(frame[1], 0);
    const int64_t cols = std::max<int64_t>(0, std::min<int64_t>(frame[2], image->lWidth) - left);
    const int64_t rows = std::max<int64_t>(0, std::min<int64_t>(frame[3], image->lHeight) - top);
    const int64_t start = int64_t{image->lXpos} + left;
    const int64_t sync = TvkLineStep(*image);
    int64_t h = 0;
    int64_t v = 0;
    int64_t ignoredH = 0;
    int64_t ignoredV = 0;
    if (cols > 0 && rows > 0) {
        RowWords cur;
        RowWords prev;
        CBuffer<uint64_t> lead(static_cast<size_t>((cols + 63) / 64));
        if (!cur.Init(cols) || !prev.Init(cols) || lead.Ptr() == nullptr) {
            throw static_cast<int>(kIpErrNoMemory);
        }
        const int64_t words = cur.Words();
        std::memset(prev.Data(), 0, static_cast<size_t>(words + 1) * 8);
        for (int64_t k = 0; k < words; ++k) lead[k] = cur.Valid(k);
        for (int64_t y = 0; y < rows; ++y) {
            cur.Load(image->lpImage + (top + y) * sync, start);
            h += cur.Falls();
            if (!frameMode) {
                for (int64_t k = 0; k < words; ++k) v += __builtin_popcountll(prev[k] & ~cur[k]);
            } else {
                // The row's leading set run and its open final run are border
                // runs: ignored, and the leading one closes without an edge.
                const int64_t firstClear = cur.First(false);
                if (firstClear < 0) {
                    ignoredH += cols;
                } else {
                    if (firstClear > 0) --h;
                    ignoredH += firstClear + (cols - 1 - cur.Last(false));
                }
                // Columns still in their leading run close it without an edge.
                for (int64_t k = 0; k < words; ++k) {
                    const uint64_t c = cur[k];
                    ignoredV += __builtin_popcountll(lead[k] & c);
                    v += __builtin_popcountll(prev[k] & ~c & ~lead[k]);
                    lead[k] &= c;
                }
            }
            std::memcpy(prev.Data(), cur.Data(), static_cast<size_t>(words) * 8);
        }
        if (frameMode) {
            // Open runs at the bottom of columns that left their leading run.
            for (int64_t x = 0; x < cols; ++x) {
                const bool inLead = (lead[x >> 6] >> (63 - (x & 63))) & 1;
                if (inLead || !prev.Pixel(x)) continue;
                const int64_t pos = start + x;
                const uint8_t mask = bBitMask[pos & 7];
                for (int64_t y = top + rows - 1; y >= top; --y) {
                    if ((image->lpImage[y * sync + (pos >> 3)] & mask) == 0) break;
                    ++ignoredV;
                }
            }
        }
    }
    const int64_t area = 2 * cols * rows - ignoredH - ignoredV;
    if (edgeH != nullptr) *edgeH = static_cast<int32_t>(h);
    if (edgeV != nullptr) *edgeV = static_cast<int32_t>(v);
    info->lArea += static_cast<int32_t>(area);
    info->lCount += static_cast<int32_t>(h + v);
    return h + v;
}

// ---------------------------------------------------------------------------
// Decision

int IsBlankResult(tagISBLANKINFO* info) {
    if (info->lThreshold > 100) {
        const tagSHORTRAT ratio = ToSHORTRAT(info->lCount, info->lArea);
        const tagSHORTRAT threshold = SHORTRATFromWord(info->lThreshold);
        info->lRatio = SHORTRATToWord(ratio);
        return info->bInverse != 0 ? ratio < threshold : ratio > threshold;
    }
    uint64_t percent = 0;
    const uint64_t area = static_cast<uint32_t>(info->lArea);
    if (area != 0) {
        percent = (uint64_t{static_cast<uint32_t>(info->lCount)} * 100 + area / 2) / area;
    }
    info->lRatio = static_cast<uint32_t>(percent);
    const int32_t share =
        info->bInverse != 0 ? 100 - static_cast<int32_t>(percent) : static_cast<int32_t>(percent);
    return share > static_cast<int32_t>(info->lThreshold);
}

// ---------------------------------------------------------------------------
// Paths

namespace {

uint32_t ModeLow(const tagISBLANKINFO& r) {
    return r.ulMode & 0xFF;
}
uint32_t ModeSecond(const tagISBLANKINFO& r) {
    return (r.ulMode >> 8) & 0xFF;
}

int IsBlankPageEx2Binary(const tagTVKIMAGEINFO* image, tagISBLANKINFO* r) {
    int32_t frame[4] = {r->lFrame[0], r->lFrame[1], r->lFrame[2], r->lFrame[3]};
    const bool accepted = r->ulSize >= kIsBlankInfoSizeFrame && int64_t{frame[2]} - frame[0] >= 1 &&
                          int64_t{frame[3]} - frame[1] > 0 && frame[0] <= image->lWidth &&
                          frame[1] <= image->lHeight;
    if (!accepted) {
        frame[0] = 0;
        frame[1] = 0;
        frame[2] = image->lWidth;
        frame[3] = image->lHeight;
    }
    const bool frameMode = ModeSecond(*r) == 1;
    auto* head = reinterpret_cast<tagBITNUMRATIOINFO*>(r);
    if (ModeLow(*r) != kIsBlankModeEdge) {
        GetBitNum(image, head, frame, r->bInverse, frameMode,
                  static_cast<uint32_t>(r->lDetectParam2));
    } else {
        // 5 mm in pixels off each side.
        const int32_t mY = static_cast<int32_t>(int64_t{image->lYResolution} * 50 / 254);
        const int32_t mX = static_cast<int32_t>(int64_t{image->lXResolution} * 50 / 254);
        if (mY > 0 && mX > 0) {
            const int64_t wide = int64_t{frame[2]} - frame[0];
            const int64_t tall = int64_t{frame[3]} - frame[1];
            // The accepted frame only bounds its left and top by the image,
            // so the other words may be extreme: saturate, never wrap.
            const auto add = [](int32_t v, int64_t d) {
                return static_cast<int32_t>(
                    std::clamp<int64_t>(int64_t{v} + d, INT32_MIN, INT32_MAX));
            };
            if (wide > 2 * int64_t{mY}) {
                frame[1] = add(frame[1], mY);
                frame[3] = add(frame[3], -int64_t{mY});
            }
            if (tall > 2 * int64_t{mX}) {
                frame[0] = add(frame[0], mX);
                frame[2] = add(frame[2], -int64_t{mX});
            }
        }
        GetEdgeNum(image, head, frame, r->bInverse, frameMode,
                   static_cast<uint32_t>(r->lDetectParam2), &r->lEdgeH, &r->lEdgeV);
    }
    return IsBlankResult(r);
}

// False when the 1-bit work image cannot be made.
bool IsBlankPageEx2GrayScale(const tagTVKIMAGEINFO* image, tagISBLANKINFO* r, int* result) {
    if (ModeLow(*r) != kIsBlankModeEdge && ModeSecond(*r) != 1) {
        tagHISTOGRAMINFO hist{};
        hist.size = kHistogramInfoSize;
        GetHistogram(const_cast<tagTVKIMAGEINFO*>(image), &hist);
        const int32_t bins = std::clamp<int32_t>(r->lSlice, 0, kHistBins);
        int64_t dark = 0;
        for (int32_t i = 0; i < bins; ++i) dark += hist.hist[i];
        r->lCount += static_cast<int32_t>(dark);
        r->lArea += static_cast<int32_t>(hist.count);
        *result = IsBlankResult(r);
        return true;
    }
    CImageInfo src(*image);
    CImageInfoPtr holder;
    auto* bin = new (std::nothrow) CImageInfo(image->lWidth, image->lHeight, 1, 1, 1u);
    holder.Attach(bin);
    if (bin == nullptr || bin->Info() == nullptr || bin->GetPtr() == nullptr) return false;
    bin->SetResolution(image->lXResolution, image->lYResolution);
    if (!BinarizeDarkSet(*bin, src, 0, r->lSlice, kBinToMonoChrome)) return false;
    *result = IsBlankPageEx2Binary(bin->Info(), r);
    return true;
}

template <typename T> void PutIfInside(tagISBLANKINFO* info, uint32_t size, T* field, T value) {
    const auto offset =
        reinterpret_cast<const uint8_t*>(field) - reinterpret_cast<const uint8_t*>(info);
    if (static_cast<uint32_t>(offset) + sizeof(T) <= size) *field = value;
}

} // namespace

int32_t IsBlankPageEx2(tagTVKIMAGEINFO* image, tagISBLANKINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) {
        IpSetLastError(kIpErrBadParamBlock);
        return 0;
    }
    if (info->ulSize == kIsBlankInfoSizeLong) info->ulSize = kIsBlankInfoSize;
    if (image == nullptr || image->lpImage == nullptr) {
        IpSetLastError(kIpErrNoMemory);
        return 0;
    }
    // 1-bit lines are counted from lXpos; gray and colour pages are
    // binarised whole. Other depths are not read at all.
    const int64_t bits = int64_t{image->lBps} * image->lSpp;
    const bool readable = bits == 1 || bits == 8 || bits == 24;
    if (readable && !TvkImageFits(image, kTvkBits1 | kTvkGray8 | kTvkRgb24Any |
                                             (bits == 1 ? kTvkFromXpos : 0))) {
        IpSetLastError(kIpErrBadArgument);
        return 0;
    }
    try {
        tagISBLANKINFO r{};
        const uint32_t size = info->ulSize;
        std::memcpy(&r, info, std::min<uint32_t>(size, kIsBlankInfoSizeLong));
        if (size < kIsBlankInfoSizeMode) r.ulMode = 0;

        if (r.bDetectWidth != 0) {
            tagDETWAKUINFO req{};
            req.ulSize = kDetWakuInfoSize;
            req.lMinRunA = r.lDetectParam1;
            req.lMinRunB = r.lDetectParam2;
            if (size >= kIsBlankInfoSizeSlice) req.lSlice = r.lDetectSlice;
            int32_t f[4] = {0, 0, image->lWidth, image->lHeight};
            if (DetectWidth(image, &req) != nullptr) {
                f[0] = req.lLeft;
                f[1] = req.lTop;
                f[2] = req.lWidth;
                f[3] = req.lHeight;
            }
            // Not finding a box just means measuring the whole page.
            IpSetLastError(0);
            if (ModeSecond(r) == 0) {
                const int32_t dx = static_cast<int32_t>(int64_t{f[2]} * 10 / 100);
                const int32_t dy = static_cast<int32_t>(int64_t{f[3]} * 10 / 100);
                f[0] += dx;
                f[2] -= 2 * dx;
                f[1] += dy;
                f[3] -= 2 * dy;
                if (f[2] < 0 || f[3] < 0) {
                    f[0] = 0;
                    f[1] = 0;
                    f[2] = image->lWidth;
                    f[3] = image->lHeight;
                }
            }
            std::memcpy(r.lFrame, f, sizeof(f));
        }

        int result = 0;
        if (bits == 8 || bits == 24) {
            if (!IsBlankPageEx2GrayScale(image, &r, &result)) {
                IpSetLastError(kIpErrNoMemory);
                return 0;
            }
        } else if (bits == 1) {
            result = IsBlankPageEx2Binary(image, &r);
        }

        PutIfInside(info, size, &info->lCount, r.lCount);
        PutIfInside(info, size, &info->lArea, r.lArea);
        PutIfInside(info, size, &info->lRatio, r.lRatio);
        if (size >= kIsBlankInfoSizeFrame) std::memcpy(info->lFrame, r.lFrame, sizeof(r.lFrame));
        if (size >= kIsBlankInfoSize) {
            info->lEdgeH = r.lEdgeH;
            info->lEdgeV = r.lEdgeV;
        }
        return result;
    } catch (int code) {
        IpSetLastError(static_cast<uint32_t>(code));
    } catch (...) {
        IpSetLastError(kIpErrNoMemory);
    }
    return 0;
}
