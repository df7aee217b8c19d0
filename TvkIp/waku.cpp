// Content box, row spans, frame and outline detection.
#include "waku.h"

#include "CBFunc.h"
#include "CHist.h"
#include "CImgInfPtr.h"
#include "ImageCheck.h"
#include "TvkIpError.h"
#include "isblank.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Error codes raised inside the exports and turned into the last error.
constexpr int kErrMemory = 8;
constexpr int kErrArgument = 87;

// Run lengths of every byte value: a count of entries and up to nine runs,
// alternating from a set run (0 when the byte starts clear).
struct ByteRuns {
    uint32_t count;
    uint16_t run[10];
};

constexpr std::array<ByteRuns, 256> MakeBWLenTable() {
    std::array<ByteRuns, 256> t{};
    for (int v = 0; v < 256; ++v) {
        ByteRuns r{};
        int colour = 1; // the first entry counts set pixels
        int len = 0;
        for (int b = 7; b >= 0; --b) {
            const int bit = (v >> b) & 1;
            if (bit == colour) {
                ++len;
            } else {
                r.run[r.count++] = static_cast<uint16_t>(len);
                colour = bit;
                len = 1;
            }
        }
        r.run[r.count++] = static_cast<uint16_t>(len);
        t[v] = r;
    }
    return t;
}
constexpr std::array<ByteRuns, 256> BWLenTable = MakeBWLenTable();
static_assert(BWLenTable[0x00].count == 2 && BWLenTable[0x00].run[0] == 0 &&
              BWLenTable[0x00].run[1] == 8);
static_assert(BWLenTable[0xFF].count == 1 && BWLenTable[0xFF].run[0] == 8);
static_assert(BWLenTable[0x80].count == 2 && BWLenTable[0x80].run[0] == 1 &&
              BWLenTable[0x80].run[1] == 7);
static_assert(BWLenTable[0x01].count == 3 && BWLenTable[0x01].run[1] == 7 &&
              BWLenTable[0x01].run[2] == 1);

// Appends runs to a pair array, keeping it normalised.
struct RunSink {
    tagBWT* p;
    size_t n = 0;
    void Set(uint32_t len) {
        if (len == 0) return;
        if (n == 0 || p[n - 1].white != 0) {
            p[n++] = tagBWT{len, 0};
        } else {
            p[n - 1].black += len;
        }
    }
    void Clear(uint32_t len) {
        if (len == 0) return;
        if (n == 0) {
            p[n++] = tagBWT{0, len};
        } else {
            p[n - 1].white += len;
        }
    }
    void Bit(int set) { set ? Set(1) : Clear(1); }
};

// Minimum run lengths in pixels of the width exports.
void WidthMinRuns(const tagDETWAKUINFO* info, int32_t xres, int64_t* a, int64_t* b) {
    if (info->ulSize >= kDetWakuInfoSizeMinRun) {
        const auto one = [xres](int32_t um) {
            const int64_t v = um != 0 ? um : 2000;
            return std::max(v * xres / 25400, v / 254);
        };
        *a = one(info->lMinRunA);
        *b = one(info->lMinRunB);
    } else {
        *a = *b = int64_t{xres} * 20 / 254;
    }
}

int32_t ReadSlice(const tagDETWAKUINFO* info) {
    return info->ulSize >= kDetWakuInfoSize ? info->lSlice : 0;
}

// Every line of these exports is read from lXpos.
bool Usable(const tagTVKIMAGEINFO* image) {
    return image != nullptr && image->lpImage != nullptr &&
           TvkImageFits(image, kTvkAnyLayout | kTvkFromXpos);
}

// Work pairs for rows of n pixels.
void AllocatePairs(CBuffer<tagBWT>& buf, int64_t n) {
    if (!buf.Allocate(static_cast<size_t>(n / 2 + 2))) throw kErrMemory;
}

// A 1-bit page of the source's size and resolutions, owned by holder.
CImageInfo* NewBinImage(CImageInfoPtr& holder, const CImageInfo& src) {
    auto* img = new (std::nothrow) CImageInfo(src.Width(), src.Height(), 1, 1, 1u);
    if (img == nullptr) throw kErrMemory;
    holder.Attach(img);
    if (img->Info() == nullptr || img->GetPtr() == nullptr) throw kErrMemory;
    img->SetResolution(src.XResolution(), src.YResolution());
    return img;
}

// The page as 1 bit with dark pixels set: 1-bit pages as they are, gray and
// colour binarised (light set) and then inverted.
const tagTVKIMAGEINFO* DarkSetPage(tagTVKIMAGEINFO* image, int32_t slice, CImageInfoPtr& holder) {
    if (image->lBps == 1 && image->lSpp == 1) return image;
    if (image->lBps != 8 || (image->lSpp != 1 && image->lSpp != 3)) return nullptr;
    CImageInfo src(*image);
    CImageInfo* bin = NewBinImage(holder, src);
    if (!Binalise(*bin, src, 0, slice)) throw kErrMemory;
    bin->Reverse();
    return bin->Info();
}

template <typename F> int32_t* GuardedPtr(F&& run) {
    try {
        return run();
    } catch (int code) {
        IpSetLastError(static_cast<uint32_t>(code));
    } catch (...) {
        IpSetLastError(kErrMemory);
    }
    return nullptr;
}

// Common entry of the width and frame exports: clears the last error,
// refuses a short request or an unusable image, then runs the export's body.
template <typename F>
int32_t* GuardedRequest(const tagTVKIMAGEINFO* image, const tagDETWAKUINFO* info, F&& run) {
    IpSetLastError(0);
    return GuardedPtr([&]() -> int32_t* {
        if (info == nullptr || info->ulSize < kDetWakuInfoSizeResult || !Usable(image)) {
            throw kErrArgument;
        }
        return run();
    });
}

} // namespace

// ---------------------------------------------------------------------------
// Blocks

void CBlockLen::Marge(CBlockLen& other) {
    const int32_t start = std::min(m_lStart, other.m_lStart);
    const int32_t end = std::max(End(), other.End());
    Set(start, end - start);
    other.Init();
}

// ---------------------------------------------------------------------------
// Runs of a row

size_t MakeBWLenData(const uint8_t* line, int64_t start, int64_t n, tagBWT* pairs) {
    RunSink sink{pairs};
    if (n <= 0) return 0;
    int64_t pos = start;
    const int64_t end = start + n;
    // Leading pixels up to a byte boundary.
    for (; pos < end && (pos & 7) != 0; ++pos) sink.Bit(line[pos >> 3] & (0x80 >> (pos & 7)));
    // Whole bytes from the table; blank and full bytes are the common case.
    for (; pos + 8 <= end; pos += 8) {
        const uint8_t v = line[pos >> 3];
        if (v == 0x00) {
            sink.Clear(8);
        } else if (v == 0xFF) {
            sink.Set(8);
        } else {
            const ByteRuns& r = BWLenTable[v];
            for (uint32_t i = 0; i < r.count; ++i) {
                (i & 1) ? sink.Clear(r.run[i]) : sink.Set(r.run[i]);
            }
        }
    }
    // The last, partial byte.
    for (; pos < end; ++pos) sink.Bit(line[pos >> 3] & (0x80 >> (pos & 7)));
    return sink.n;
}

size_t CheckBWLenData(tagBWT* pairs, size_t count) {
    // Each input pair makes at most one output pair, so rewriting in place
    // never overtakes the reading position.
    RunSink sink{pairs};
    for (size_t i = 0; i < count; ++i) {
        const tagBWT pr = pairs[i];
        sink.Set(pr.black);
        sink.Clear(pr.white);
    }
    return sink.n;
}

size_t BWTDotErase(tagBWT* pairs, size_t count, int64_t a, int64_t b) {
    const int64_t m = std::max(a, b);
    for (size_t i = 0; i < count; ++i) {
        if (int64_t{pairs[i].white} < m) {
            pairs[i].black += pairs[i].white;
            pairs[i].white = 0;
        }
    }
    count = CheckBWLenData(pairs, count);
    for (size_t i = 1; i + 1 < count; ++i) {
        if (int64_t{pairs[i].black} < m) {
            pairs[i].white += pairs[i].black;
            pairs[i].black = 0;
        }
    }
    return CheckBWLenData(pairs, count);
}

bool DetectWidthBin(const uint8_t* line, int64_t start, int64_t n, int64_t a, int64_t b,
                    tagBWT* work, int64_t* spanStart, int64_t* spanLen) {
    size_t count = MakeBWLenData(line, start, n, work);
    count = BWTDotErase(work, count, a, b);
    // Normalised pairs: only the first may lack a set run and only the last
    // a clear run, so a row with any clear pixel has one in its first pair.
    if (count == 0 || work[0].white == 0) return false;
    const int64_t first = work[0].black;
    const int64_t trailing = work[count - 1].white == 0 ? work[count - 1].black : 0;
    const int64_t last = n - 1 - trailing;
    if (last <= first) return false;
    *spanStart = first;
    *spanLen = last - first + 1;
    return true;
}

// ---------------------------------------------------------------------------
// Binarisation

void Gray2Bin(uint8_t* dst, const uint8_t* src, int64_t n, int32_t level) {
    const int64_t whole = n >> 3;
    for (int64_t i = 0; i < whole; ++i, src += 8) {
        unsigned v = 0;
        for (int k = 0; k < 8; ++k) v = (v << 1) | static_cast<unsigned>(src[k] < level);
        dst[i] = static_cast<uint8_t>(v);
    }
    const int rest = static_cast<int>(n & 7);
    if (rest != 0) {
        unsigned v = 0;
        for (int k = 0; k < rest; ++k) v = (v << 1) | static_cast<unsigned>(src[k] < level);
        dst[whole] = static_cast<uint8_t>(v << (8 - rest));
    }
}

bool BinarizeDarkSet(CImageInfo& dst, const CImageInfo& src, int autoLevel, int32_t level,
                     uint32_t colourKind) {
    tagBINFUNCINFO req{};
    req.size = kBinFuncInfoSizeLong;
    if (src.Spp() == 1) {
        if (level < 1 || level > 255) level = 90;
        if (autoLevel != 0) {
            CHist hist;
            hist.Add(src.Info());
            level = (hist.Peek1() + hist.Peek2()) / 2;
        }
        req.kind = kBinFixed;
        req.firstSlice = static_cast<uint32_t>(level);
    } else if (src.Spp() == 3) {
        if (level < 1 || level > 255) level = 75;
        req.kind = colourKind;
        req.firstSlice = static_cast<uint32_t>(level);
        req.nextSlice = static_cast<uint32_t>(level);
    } else {
        return true;
    }
    tagTVKIMAGEINFO whole = TvkWholeImage(*src.Info());
    const int32_t rc = BinalizeRectEx(dst.Info(), &whole, &req);
    ReleaseBinalizeHandle(&req);
    return rc == 0;
}

bool Binalise(CImageInfo& dst, const CImageInfo& src, int autoLevel, int32_t level) {
    if (!BinarizeDarkSet(dst, src, autoLevel, level, kBinMebrin)) return false;
    // The detectors want the light pixels set.
    if (src.Spp() == 1 || src.Spp() == 3) dst.Reverse();
    return true;
}

// ---------------------------------------------------------------------------
// Exports

namespace {

// The content box of a 1-bit page with dark pixels set.
void DetectWidthOnBits(const tagTVKIMAGEINFO* page, int64_t a, int64_t b, int32_t box[4]) {
    const int32_t w = page->lWidth;
    const int32_t h = page->lHeight;
    box[0] = box[1] = box[2] = box[3] = 0;
    if (w <= 0 || h <= 0) return;
    const int64_t sync = TvkLineStep(*page);
    CBuffer<tagBWT> pairs;
    AllocatePairs(pairs, std::max(w, h));
    CBuffer<int32_t> first(static_cast<size_t>(h));
    CBuffer<int32_t> last(static_cast<size_t>(h));
    const size_t mapBytes = static_cast<size_t>((int64_t{h} + 7) / 8);
    CBuffer<uint8_t> presence(mapBytes, 0xFF);
    CBuffer<uint8_t> map(mapBytes);
    if (first.Ptr() == nullptr || last.Ptr() == nullptr || presence.Ptr() == nullptr ||
        map.Ptr() == nullptr) {
        throw kErrMemory;
    }
    for (int32_t y = 0; y < h; ++y) {
        int64_t s = 0;
        int64_t len = 0;
        if (DetectWidthBin(page->lpImage + y * sync, page->lXpos, w, a, b, pairs.Ptr(), &s, &len)) {
            first[y] = static_cast<int32_t>(s);
            last[y] = static_cast<int32_t>(s + len - 1);
            presence[y >> 3] &= static_cast<uint8_t>(~(0x80u >> (y & 7)));
        } else {
            first[y] = 0x7FFFFFF;
            last[y] = 0;
        }
    }

    // Rows by column, so that each column step only touches the rows it adds.
    CBuffer<int32_t> order(static_cast<size_t>(h));
    CBuffer<int32_t> bucket(static_cast<size_t>(w) + 1);
    if (order.Ptr() == nullptr || bucket.Ptr() == nullptr) throw kErrMemory;
    const auto sortBy = [&](const CBuffer<int32_t>& key) {
        bucket.Zero();
        for (int32_t y = 0; y < h; ++y) {
            if (key[y] < w) ++bucket[static_cast<size_t>(key[y]) + 1];
        }
        for (int32_t c = 0; c < w; ++c) bucket[c + 1] += bucket[c];
        // bucket[c] is now the first slot of column c; fill and restore.
        for (int32_t y = 0; y < h; ++y) {
            if (key[y] < w) order[bucket[key[y]]++] = y;
        }
        for (int32_t c = w; c > 0; --c) bucket[c] = bucket[c - 1];
        bucket[0] = 0;
    };
    int64_t s = 0;
    int64_t len = 0;

    // Left edge: rows whose first content column is at most c become clear.
    sortBy(first);
    map.Fill(0xFF);
    int32_t left = w;
    for (int32_t c = 0; c < w && left == w; ++c) {
        const int32_t from = bucket[c];
        const int32_t to = bucket[c + 1];
        if (from == to) continue; // same map as the column before
        for (int32_t i = from; i < to; ++i) {
            map[order[i] >> 3] &= static_cast<uint8_t>(~(0x80u >> (order[i] & 7)));
        }
        if (DetectWidthBin(map.Ptr(), 0, h, a, b, pairs.Ptr(), &s, &len)) left = c;
    }
    // Right edge: rows whose last content column is at least c.
    sortBy(last);
    map.Fill(0xFF);
    int32_t right = 0;
    for (int32_t c = w - 1; c >= 0; --c) {
        const int32_t from = bucket[c];
        const int32_t to = bucket[c + 1];
        if (from == to) continue;
        for (int32_t i = from; i < to; ++i) {
            map[order[i] >> 3] &= static_cast<uint8_t>(~(0x80u >> (order[i] & 7)));
        }
        if (DetectWidthBin(map.Ptr(), 0, h, a, b, pairs.Ptr(), &s, &len)) {
            right = c;
            break;
        }
    }
    if (left < right && left < w) {
        box[0] = left;
        box[2] = right - left + 1;
    }
    if (DetectWidthBin(presence.Ptr(), 0, h, a, b, pairs.Ptr(), &s, &len)) {
        box[1] = static_cast<int32_t>(s);
        box[3] = static_cast<int32_t>(len);
    }
}

// Content spans of single rows of a 1-bit or gray image, for the line
// exports: the request's level and minimum runs and the work rows, set up once.
class RowSpans {
public:
    RowSpans(const tagTVKIMAGEINFO* image, const tagDETWAKUINFO* info)
        : m_image(image), m_level(ReadSlice(info)) {
        if (m_level < 1 || m_level > 255) m_level = 80;
        WidthMinRuns(info, image->lXResolution, &m_a, &m_b);
        m_bits.Allocate(static_cast<size_t>(image->lWidth / 8 + 1));
        AllocatePairs(m_pairs, image->lWidth);
        if (m_bits.Ptr() == nullptr) throw kErrMemory;
    }

    // Span of row y (a gray row is thresholded at the level first).
    bool Find(int32_t y, int64_t* s, int64_t* len) {
        const uint8_t* row = TvkLinePtr(*m_image, y);
        const int32_t w = m_image->lWidth;
        if (m_image->lBps == 1) {
            return DetectWidthBin(row, m_image->lXpos, w, m_a, m_b, m_pairs.Ptr(), s, len);
        }
        Gray2Bin(m_bits.Ptr(), row + m_image->lXpos, w, m_level);
        return DetectWidthBin(m_bits.Ptr(), 0, w, m_a, m_b, m_pairs.Ptr(), s, len);
    }

private:
    const tagTVKIMAGEINFO* m_image;
    int32_t m_level;
    int64_t m_a = 0;
    int64_t m_b = 0;
    CBuffer<uint8_t> m_bits;
    CBuffer<tagBWT> m_pairs;
};

// Checks shared by the line exports: a 1-bit or 8-bit single-sample image.
bool LineImageOk(const tagTVKIMAGEINFO* image) {
    return image->lSpp == 1 && (image->lBps == 1 || image->lBps == 8);
}

} // namespace

int32_t* DetectWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info) {
    return GuardedRequest(image, info, [&]() -> int32_t* {
        CImageInfoPtr holder;
        const tagTVKIMAGEINFO* page = DarkSetPage(image, ReadSlice(info), holder);
        if (page == nullptr) return nullptr;
        int64_t a = 0;
        int64_t b = 0;
        WidthMinRuns(info, image->lXResolution, &a, &b);
        int32_t box[4];
        DetectWidthOnBits(page, a, b, box);
        info->lLeft = box[0];
        info->lTop = box[1];
        info->lWidth = box[2];
        info->lHeight = box[3];
        return &info->lLeft;
    });
}

int32_t* DetectLineWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info) {
    return GuardedRequest(image, info, [&]() -> int32_t* {
        if (!LineImageOk(image)) return nullptr;
        RowSpans spans(image, info);
        int64_t s = 0;
        int64_t len = 0;
        if (image->lHeight > 0 && spans.Find(0, &s, &len)) {
            info->lLeft = static_cast<int32_t>(s);
            info->lWidth = static_cast<int32_t>(s + len - 1);
        }
        return &info->lLeft;
    });
}

int32_t* DetectLinesWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info) {
    return GuardedRequest(image, info, [&]() -> int32_t* {
        if (!LineImageOk(image)) return nullptr;
        RowSpans spans(image, info);
        int64_t lo = INT64_MAX;
        int64_t hi = INT64_MIN;
        for (int k = 1; k <= 5; k += 2) {
            const int32_t y = static_cast<int32_t>(int64_t{image->lHeight} * k / 6);
            if (y >= image->lHeight) continue;
            int64_t s = 0;
            int64_t len = 0;
            if (spans.Find(y, &s, &len)) {
                lo = std::min(lo, s);
                hi = std::max(hi, s + len - 1);
            }
        }
        if (lo == INT64_MAX) return nullptr;
        info->lLeft = static_cast<int32_t>(std::max<int64_t>(lo, 0));
        info->lWidth = static_cast<int32_t>(std::min<int64_t>(hi - lo + 1, image->lWidth - 1));
        return &info->lLeft;
    });
}

// ---------------------------------------------------------------------------
// Frame on a reduced gray page

int32_t WakuReductionFactor(int32_t resolution) {
    switch (resolution) {
    case 0:
    case 300:
        return 48;
    case 75:
        return 12;
    case 100:
        return 16;
    case 150:
        return 24;
    case 200:
        return 32;
    case 240:
        return 40;
    case 400:
        return 64;
    case 600:
        return 96;
    case 1200:
        return 192;
    default:
        return 0;
    }
}

namespace {

constexpr int kErrResolution = 2;
constexpr int kErrImage = -1;

// End and full masks of the closing and opening windows, by window length.
constexpr uint32_t DetFilterMask[6] = {0x1, 0x3, 0x5, 0x9, 0x11, 0x21};
constexpr uint32_t DetFilterFullMask[6] = {0x1, 0x3, 0x7, 0xF, 0x1F, 0x3F};

// The reduced, binarised page as one byte a pixel (1: light).
struct DetGrid {
    int32_t w = 0, h = 0;
    CBuffer<uint8_t> px;
    uint8_t& At(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * w + x]; }
};

// Slides a window of w + 1 pixels along n pixels `step` apart. Closing sets
// the inside of windows whose ends are set; opening clears the inside of
// windows whose ends are clear. True when a pixel changed.
bool LineFilter(uint8_t* p, int64_t step, int32_t n, int w, bool closing) {
    bool changed = false;
    const uint32_t ends = DetFilterMask[w];
    const uint32_t full = DetFilterFullMask[w];
    for (int32_t i = 0; i + w < n; ++i) {
        uint32_t bits = 0;
        for (int k = 0; k <= w; ++k) bits |= uint32_t{p[(i + k) * step] != 0} << k;
        const uint32_t look = closing ? bits : (~bits & full);
        if ((look & ends) == ends && look != full) {
            for (int k = 1; k < w; ++k) p[(i + k) * step] = closing ? 1 : 0;
            changed = true;
        }
    }
    return changed;
}

bool FilterPass(DetGrid& g, int w, bool closing) {
    bool changed = false;
    for (int32_t y = 0; y < g.h; ++y) changed |= LineFilter(&g.At(0, y), 1, g.w, w, closing);
    for (int32_t x = 0; x < g.w; ++x) changed |= LineFilter(&g.At(x, 0), g.w, g.h, w, closing);
    return changed;
}

void Filter(DetGrid& g) {
    for (int w = 2; w <= 3; ++w) {
        while (FilterPass(g, w, true)) {
        }
        while (FilterPass(g, w, false)) {
        }
    }
}

struct DetRect {
    int32_t left, top, width, height;
};

// Runs of consecutive rows (horizontal) or columns holding at least 6 light
// pixels within the rectangle; the four longest, longest first.
int GetBlockList(const DetGrid& g, const DetRect& r, bool rows, CBlockLen out[4]) {
    const int32_t from = rows ? r.top : r.left;
    const int32_t to = from + (rows ? r.height : r.width);
    int n = 0;
    const auto keep = [&](CBlockLen b) {
        // Insertion into the sorted top four; earlier blocks win ties.
        int i = n < 4 ? n++ : 4;
        while (i > 0 && out[i - 1].Len() < b.Len()) {
            if (i < 4) out[i] = out[i - 1];
            --i;
        }
        if (i < 4) out[i] = b;
    };
    int32_t runStart = -1;
    for (int32_t i = from; i <= to; ++i) {
        bool full = false;
        if (i < to) {
            int32_t c = 0;
            if (rows) {
                for (int32_t x = r.left; x < r.left + r.width; ++x) c += g.At(x, i);
            } else {
                for (int32_t y = r.top; y < r.top + r.height; ++y) c += g.At(i, y);
            }
            full = c >= 6;
        }
        if (full && runStart < 0) runStart = i;
        if (!full && runStart >= 0) {
            keep(CBlockLen(runStart, i - runStart));
            runStart = -1;
        }
    }
    return n;
}

// The longest block, joined with the second and third when they are longer
// than three quarters of it.
CBlockLen MargeBlockList(CBlockLen list[4], int n) {
    CBlockLen best = list[0];
    const int64_t longest = best.Len();
    for (int i = 1; i < std::min(n, 3); ++i) {
        if (int64_t{list[i].Len()} * 4 > longest * 3) best.Marge(list[i]);
    }
    return best;
}

} // namespace

int32_t* DetectWaku(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info) {
    return GuardedRequest(image, info, [&]() -> int32_t* {
        info->lLeft = info->lTop = info->lWidth = info->lHeight = 0;
        if (info->ulSize >= kDetWakuInfoSizeResult + sizeof(info->lReserved)) {
            info->lReserved[0] = info->lReserved[1] = 0;
        }
        if (image->lBps != 8 || image->lSpp != 1) throw kErrImage;
        const int32_t r = WakuReductionFactor(image->lXResolution);
        if (r == 0) throw kErrResolution;

        // Cell averages.
        const int32_t rw = static_cast<int32_t>((int64_t{image->lWidth} + r - 1) / r);
        const int32_t rh = static_cast<int32_t>((int64_t{image->lHeight} + r - 1) / r);
        if (rw < 1 || rh < 1) return nullptr;
        CImageInfo reduced(rw, rh, 8, 1, 1u);
        if (reduced.Info() == nullptr || reduced.GetPtr() == nullptr) throw kErrMemory;
        reduced.SetResolution(image->lXResolution, image->lYResolution);
        CBuffer<uint32_t> sums(static_cast<size_t>(rw), 0);
        if (sums.Ptr() == nullptr) throw kErrMemory;
        const int64_t sync = TvkLineStep(*image);
        for (int32_t cy = 0; cy < rh; ++cy) {
            sums.Zero();
            const int32_t y0 = cy * r;
            const int32_t y1 = std::min(y0 + r, image->lHeight);
            for (int32_t y = y0; y < y1; ++y) {
                const uint8_t* row = image->lpImage + y * sync + image->lXpos;
                for (int32_t cx = 0; cx < rw; ++cx) {
                    const int32_t end = std::min(cx * r + r, image->lWidth);
                    uint32_t sum = 0;
                    for (int32_t x = cx * r; x < end; ++x) sum += row[x];
                    sums[cx] += sum;
                }
            }
            uint8_t* out = reduced.GetPtr() + int64_t{cy} * reduced.Sync();
            for (int32_t cx = 0; cx < rw; ++cx) {
                const int32_t cw = std::min(r, image->lWidth - cx * r);
                out[cx] = static_cast<uint8_t>(sums[cx] / static_cast<uint32_t>(cw * (y1 - y0)));
            }
        }
        // Light cells set.
        CImageInfo bin(rw, rh, 1, 1, 1u);
        if (bin.Info() == nullptr || bin.GetPtr() == nullptr) throw kErrMemory;
        if (!Binalise(bin, reduced, 0, ReadSlice(info))) throw kErrMemory;
        DetGrid g;
        g.w = rw;
        g.h = rh;
        if (!g.px.Allocate(static_cast<size_t>(rw) * rh)) throw kErrMemory;
        for (int32_t y = 0; y < rh; ++y) {
            for (int32_t x = 0; x < rw; ++x) g.At(x, y) = bin.PGET2(x, y) != 0;
        }
        Filter(g);

        // Alternate rows and columns until a step no longer narrows.
        DetRect rect{0, 0, rw, rh};
        bool rows = true;
        for (int depth = 0; rect.width > 0 && rect.height > 0; ++depth, rows = !rows) {
            CBlockLen list[4];
            const int n = GetBlockList(g, rect, rows, list);
            if (n == 0) {
                (rows ? rect.height : rect.width) = 0;
                break;
            }
            const CBlockLen best = MargeBlockList(list, n);
            const int32_t extent = rows ? rect.height : rect.width;
            if (depth >= 1 && best.Len() >= extent) break;
            if (rows) {
                rect.top = best.Start();
                rect.height = best.Len();
            } else {
                rect.left = best.Start();
                rect.width = best.Len();
            }
        }
        if (rect.width < 1 || rect.height < 1) return nullptr;
        info->lLeft = std::max(r * rect.left + r / 2, 0);
        info->lTop = std::max(r * rect.top + r / 2, 0);
        info->lWidth =
            static_cast<int32_t>(std::min<int64_t>(int64_t{rect.width - 1} * r, image->lWidth));
        info->lHeight =
            static_cast<int32_t>(std::min<int64_t>(int64_t{rect.height - 1} * r, image->lHeight));
        return &info->lLeft;
    });
}

// ---------------------------------------------------------------------------
// Outlines

namespace {

using Tvk::tagPOINT;

// Nearest integer of num / den, halves away from zero.
int64_t RoundDiv(int64_t num, int64_t den) {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    return num >= 0 ? (2 * num + den) / (2 * den) : -((-2 * num + den) / (2 * den));
}

// The point between i and j farthest to the left (side 0) or right (side 1)
// of the chord from i to j; i itself when no point lies beyond the chord.
size_t GetContactPoint(const tagPOINT* p, size_t i, size_t j, int side) {
    const int64_t dy = int64_t{p[j].y} - p[i].y;
    if (dy == 0) return i;
    const int64_t dx = int64_t{p[j].x} - p[i].x;
    size_t best = i;
    int64_t bestVal = 0;
    for (size_t k = i + 1; k < j; ++k) {
        const int64_t chordX = p[i].x + RoundDiv((int64_t{p[k].y} - p[i].y) * dx, dy);
        const int64_t v = p[k].x - chordX;
        if (side == 0 ? v < bestVal : v > bestVal) {
            best = k;
            bestVal = v;
        }
    }
    return best;
}

bool SortPointByX(const tagPOINT& a, const tagPOINT& b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
}

} // namespace

bool TraceOutline(CBuffer<tagPOINT>& pts, int side) {
    const size_t n = pts.Count();
    if (n < 3) return true;
    // Contact points of every chord, found with an explicit stack so that a
    // long outline cannot exhaust the call stack.
    CBuffer<uint8_t> keep(n, 0);
    CBuffer<size_t> stack(2 * n);
    if (keep.Ptr() == nullptr || stack.Ptr() == nullptr) return false;
    size_t top = 0;
    stack[top++] = 0;
    stack[top++] = n - 1;
    keep[0] = keep[n - 1] = 1;
    while (top > 0) {
        const size_t j = stack[--top];
        const size_t i = stack[--top];
        const size_t k = GetContactPoint(pts.Ptr(), i, j, side);
        if (k == i || k == j) continue;
        keep[k] = 1;
        stack[top++] = i;
        stack[top++] = k;
        stack[top++] = k;
        stack[top++] = j;
    }
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        if (keep[i]) pts[m++] = pts[i];
    }
    return pts.Resize(m);
}

bool TraceContour(CBuffer<tagPOINT>& pts, int32_t xres, int32_t yres, int32_t tolerance) {
    const size_t n = pts.Count();
    if (n < 3) return true;
    const double r = std::max({xres, yres, 1});
    const double sx = xres > 0 ? r / xres : 1.0;
    const double sy = yres > 0 ? r / yres : 1.0;
    const auto X = [&](size_t i) { return pts[i].x * sx; };
    const auto Y = [&](size_t i) { return pts[i].y * sy; };
    const auto farthest = [&](size_t from) {
        size_t best = from;
        double bestD = -1;
        for (size_t i = 0; i < n; ++i) {
            const double dx = X(i) - X(from), dy = Y(i) - Y(from);
            const double d = dx * dx + dy * dy;
            if (d > bestD) {
                bestD = d;
                best = i;
            }
        }
        return best;
    };
    const size_t a = farthest(0);
    const size_t b = farthest(a);
    if (a == b) return true;
    const double tol = (tolerance != 0 ? tolerance : 1000) * r / 25400.0;

    CBuffer<uint8_t> keep(n, 0);
    CBuffer<size_t> stack(4 * n + 4);
    if (keep.Ptr() == nullptr || stack.Ptr() == nullptr) return false;
    keep[a] = keep[b] = 1;
    size_t top = 0;
    // Cyclic ranges: start index and number of steps to the end index.
    stack[top++] = a;
    stack[top++] = (b + n - a) % n;
    stack[top++] = b;
    stack[top++] = (a + n - b) % n;
    while (top > 0) {
        const size_t steps = stack[--top];
        const size_t s = stack[--top];
        if (steps < 2) continue;
        const size_t e = (s + steps) % n;
        const double ex = X(e) - X(s), ey = Y(e) - Y(s);
        const double len = std::sqrt(ex * ex + ey * ey);
        size_t best = 0;
        double bestD = -1;
        for (size_t t = 1; t < steps; ++t) {
            const size_t i = (s + t) % n;
            const double px = X(i) - X(s), py = Y(i) - Y(s);
            const double d =
                len > 0 ? std::fabs(ex * py - ey * px) / len : std::sqrt(px * px + py * py);
            if (d > bestD) {
                bestD = d;
                best = t;
            }
        }
        if (bestD < tol) continue;
        keep[(s + best) % n] = 1;
        stack[top++] = s;
        stack[top++] = best;
        stack[top++] = (s + best) % n;
        stack[top++] = steps - best;
    }
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        if (keep[i]) pts[m++] = pts[i];
    }
    if (!pts.Resize(m + 1)) return false;
    pts[m] = pts[0]; // closed
    return true;
}

bool MedianOutline(CBuffer<tagPOINT>& pts, int32_t w) {
    const size_t n = pts.Count();
    if (w < 1 || n < static_cast<size_t>(w)) return true;
    const int64_t l = static_cast<int64_t>(n) - w;
    const int64_t steps = 2 * l / w;
    if (steps <= 1) return true;
    CBuffer<tagPOINT> out(static_cast<size_t>(steps) + 1);
    CBuffer<tagPOINT> win(static_cast<size_t>(w));
    if (out.Ptr() == nullptr || win.Ptr() == nullptr) return false;
    size_t m = 0;
    for (int64_t i = 0; i <= steps; ++i) {
        const size_t start = static_cast<size_t>(i * l / steps);
        std::memcpy(win.Ptr(), pts.Ptr() + start, static_cast<size_t>(w) * sizeof(tagPOINT));
        std::sort(win.Ptr(), win.Ptr() + w, SortPointByX);
        const tagPOINT mid = win[static_cast<size_t>(w / 2)];
        if (m == 0 || mid.y > out[m - 1].y) out[m++] = mid;
    }
    if (!pts.Allocate(m)) return false;
    std::memcpy(pts.Ptr(), out.Ptr(), m * sizeof(tagPOINT));
    return true;
}

namespace {

void PackOutline(CBuffer<tagPOINT>& pts) {
    size_t m = 0;
    for (size_t i = 0; i < pts.Count(); ++i) {
        if (pts[i].x >= 0) pts[m++] = pts[i];
    }
    pts.Delete(m, pts.Count() - m);
}

// Outlines of a 1-bit page with dark pixels set, into the working record.
void DetectOutlineBinCore(const tagTVKIMAGEINFO* page, tagDETOUTLINEINFO& r, bool contour) {
    if (r.bDone != 0) throw kErrArgument;
    const int32_t w = page->lWidth;
    const int32_t h = page->lHeight;
    const int32_t xres = page->lXResolution;
    const int64_t a = int64_t{r.lMinRunA != 0 ? r.lMinRunA : 2} * xres / 25400;
    const int64_t b = int64_t{r.lMinRunB != 0 ? r.lMinRunB : 2} * xres / 25400;
    if (w <= 0 || h <= 0) throw 0;
    CBuffer<tagPOINT> left(static_cast<size_t>(h));
    CBuffer<tagPOINT> right(static_cast<size_t>(h));
    CBuffer<uint8_t> presence(static_cast<size_t>((int64_t{h} + 7) / 8), 0xFF);
    CBuffer<tagBWT> pairs;
    AllocatePairs(pairs, std::max(w, h));
    if (left.Ptr() == nullptr || right.Ptr() == nullptr || presence.Ptr() == nullptr) {
        throw kErrMemory;
    }
    const int64_t sync = TvkLineStep(*page);
    for (int32_t y = 0; y < h; ++y) {
        int64_t s = 0, len = 0;
        if (DetectWidthBin(page->lpImage + y * sync, page->lXpos, w, a, b, pairs.Ptr(), &s, &len)) {
            left[y] = tagPOINT{static_cast<int32_t>(s), y};
            right[y] = tagPOINT{static_cast<int32_t>(s + len - 1), y};
            presence[y >> 3] &= static_cast<uint8_t>(~(0x80u >> (y & 7)));
        } else {
            left[y] = right[y] = tagPOINT{-1, -1};
        }
    }
    // Only the span of content rows stays.
    int64_t y0 = 0, rows = 0;
    if (!DetectWidthBin(presence.Ptr(), 0, h, a, b, pairs.Ptr(), &y0, &rows)) throw 0;
    for (CBuffer<tagPOINT>* o : {&left, &right}) {
        o->Delete(static_cast<size_t>(y0 + rows), o->Count());
        o->Delete(0, static_cast<size_t>(y0));
        PackOutline(*o);
    }
    if ((r.ulFlags & 1) != 0) {
        const int32_t win =
            std::max(static_cast<int32_t>((int64_t{xres} * 600 + 12700) / 25400), 3);
        if (!MedianOutline(left, win) || !MedianOutline(right, win)) throw kErrMemory;
    }
    if (contour) {
        // One closed outline: down the left side, back up the right side.
        const size_t nl = left.Count();
        const size_t nr = right.Count();
        if (!left.Resize(nl + nr)) throw kErrMemory;
        for (size_t i = 0; i < nr; ++i) left[nl + i] = right[nr - 1 - i];
        right.Free();
        if (!TraceContour(left, xres, page->lYResolution, r.lTraceParam)) throw kErrMemory;
    } else {
        if (!TraceOutline(left, 0) || !TraceOutline(right, 1)) throw kErrMemory;
    }
    r.bDone = 1;
    r.lLeftCount = static_cast<int32_t>(left.Count());
    r.lRightCount = static_cast<int32_t>(right.Count());
    r.pLeft = left.Detach();
    r.pRight = right.Detach();
}

int32_t OutlineExport(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info, bool anyDepth,
                      bool contour) {
    IpSetLastError(0);
    try {
        if (info == nullptr || info->ulSize < kDetOutlineInfoSizeResult || !Usable(image)) {
            throw kErrArgument;
        }
        const size_t size = std::min<size_t>(info->ulSize, kDetOutlineInfoSize);
        tagDETOUTLINEINFO r{};
        std::memcpy(static_cast<void*>(&r), info, size);
        CImageInfoPtr holder;
        const tagTVKIMAGEINFO* page = image;
        if (image->lBps != 1 || image->lSpp != 1) {
            page = anyDepth ? DarkSetPage(image, r.lSlice, holder) : nullptr;
            if (page == nullptr) throw kErrArgument;
        }
        DetectOutlineBinCore(page, r, contour);
        std::memcpy(static_cast<void*>(info), &r, size);
        return 0;
    } catch (int code) {
        IpSetLastError(static_cast<uint32_t>(code));
    } catch (...) {
        IpSetLastError(kErrMemory);
    }
    return -1;
}

int64_t GetMiddlePoint(tagPOINT p1, tagPOINT p2, int64_t y) {
    if (p1.y == p2.y) return (int64_t{p1.x} + p2.x) / 2;
    return p1.x + (y - p1.y) * (int64_t{p2.x} - p1.x) / (int64_t{p2.y} - p1.y);
}

void FillBits(uint8_t* line, int64_t from, int64_t to, bool set) {
    for (int64_t x = from; x <= to;) {
        if ((x & 7) == 0 && x + 7 <= to) {
            line[x >> 3] = set ? 0xFF : 0x00;
            x += 8;
            continue;
        }
        const uint8_t m = static_cast<uint8_t>(0x80u >> (x & 7));
        line[x >> 3] = static_cast<uint8_t>(set ? (line[x >> 3] | m) : (line[x >> 3] & ~m));
        ++x;
    }
}

// Sets pixels from..to (inclusive) of row y.
void FillRowSpan(tagTVKIMAGEINFO* image, int64_t y, int64_t from, int64_t to, uint32_t value) {
    uint8_t* row = TvkLinePtr(*image, y);
    const uint8_t v = static_cast<uint8_t>(value);
    if (image->lBps == 1) {
        FillBits(row, image->lXpos + from, image->lXpos + to, value != 0);
    } else if (image->lSpp == 1) {
        std::memset(row + from, v, static_cast<size_t>(to - from + 1));
    } else if (image->ulRGBOrder == 1) {
        for (int k = 0; k < 3; ++k) {
            std::memset(row + k * int64_t{image->lSync} + from, v,
                        static_cast<size_t>(to - from + 1));
        }
    } else {
        std::memset(row + 3 * from, v, static_cast<size_t>(3 * (to - from + 1)));
    }
}

// Shifts a segment of an outline by m pixels along its normal: towards +x
// for the left outline (side 0), towards -x for the right one.
void ShiftSegment(tagPOINT& p1, tagPOINT& p2, int64_t m, int side) {
    if (m == 0) return;
    const double dx = static_cast<double>(p2.x) - p1.x;
    const double dy = static_cast<double>(p2.y) - p1.y;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (len == 0) return;
    const double nx = (side == 0 ? dy : -dy) / len;
    const double ny = (side == 0 ? -dx : dx) / len;
    const int32_t ox = static_cast<int32_t>(std::lround(m * nx));
    const int32_t oy = static_cast<int32_t>(std::lround(m * ny));
    p1.x += ox;
    p1.y += oy;
    p2.x += ox;
    p2.y += oy;
}

} // namespace

void FillTrapezoid(tagTVKIMAGEINFO* image, tagPOINT topLeft, tagPOINT topRight, tagPOINT bottomLeft,
                   tagPOINT bottomRight, uint32_t value) {
    if (topLeft.y != topRight.y || bottomLeft.y != bottomRight.y) return;
    const int64_t w = image->lWidth;
    const int64_t from = std::max<int64_t>(topLeft.y, 0);
    const int64_t to = std::min<int64_t>(bottomLeft.y, int64_t{image->lHeight} - 1);
    for (int64_t y = from; y <= to; ++y) {
        int64_t l = GetMiddlePoint(topLeft, bottomLeft, y);
        int64_t r = GetMiddlePoint(topRight, bottomRight, y);
        if (l >= w || r < 0) continue;
        l = std::clamp<int64_t>(l, 0, w - 1);
        r = std::clamp<int64_t>(r, 0, w - 1);
        if (l <= r) FillRowSpan(image, y, l, r, value);
    }
}

int32_t DetectOutline(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info) {
    return OutlineExport(image, info, true, false);
}

int32_t DetectOutlineBin(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info) {
    return OutlineExport(image, info, false, false);
}

int32_t DetectContourBin(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info) {
    return OutlineExport(image, info, false, true);
}

int32_t ImageMask(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->ulSize < kDetOutlineInfoSizeResult || !Usable(image)) {
        IpSetLastError(kErrArgument);
        return -1;
    }
    const int64_t bits = int64_t{image->lBps} * image->lSpp;
    if (bits != 1 && bits != 8 && bits != 24) {
        IpSetLastError(kErrArgument);
        return -1;
    }
    if (info->bDone == 0) {
        const int32_t rc = DetectOutline(image, info);
        if (rc != 0) return rc;
    }
    const int32_t margin =
        info->ulSize >= offsetof(tagDETOUTLINEINFO, ulFlags) ? info->lMaskMargin : 0;
    // A margin beyond any page size masks everything; keep it in range.
    const int64_t m = std::min<int64_t>(
        std::max(-int64_t{margin}, int64_t{0}) * image->lXResolution / 25400, 1 << 20);
    const uint32_t value = bits == 1 ? 0 : 255;
    const int64_t w = image->lWidth;
    const int64_t h = image->lHeight;
    const tagPOINT* lp = info->pLeft;
    const int32_t nl = info->lLeftCount;
    if (lp != nullptr && nl >= 2) {
        // Above the first point and below the last one, across the page.
        const int64_t above = std::min(int64_t{lp[0].y} + m, h);
        for (int64_t y = 0; y < above; ++y) FillRowSpan(image, y, 0, w - 1, value);
        for (int64_t y = std::max<int64_t>(int64_t{lp[nl - 1].y} - m + 1, 0); y < h; ++y) {
            FillRowSpan(image, y, 0, w - 1, value);
        }
        for (int32_t i = 0; i + 1 < nl; ++i) {
            tagPOINT p1 = lp[i], p2 = lp[i + 1];
            ShiftSegment(p1, p2, m, 0);
            FillTrapezoid(image, tagPOINT{0, p1.y}, p1, tagPOINT{0, p2.y}, p2, value);
        }
    }
    const tagPOINT* rp = info->pRight;
    const int32_t nr = info->lRightCount;
    if (rp != nullptr && nr >= 2) {
        const int32_t last = static_cast<int32_t>(w - 1);
        for (int32_t i = 0; i + 1 < nr; ++i) {
            tagPOINT p1 = rp[i], p2 = rp[i + 1];
            ShiftSegment(p1, p2, m, 1);
            FillTrapezoid(image, p1, tagPOINT{last, p1.y}, p2, tagPOINT{last, p2.y}, value);
        }
    }
    return 0;
}

void ReleaseOutline(tagDETOUTLINEINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->ulSize < kDetOutlineInfoSizeResult) return;
    delete[] info->pLeft;
    delete[] info->pRight;
    info->bDone = 0;
    info->pLeft = nullptr;
    info->lLeftCount = 0;
    info->pRight = nullptr;
    info->lRightCount = 0;
}
