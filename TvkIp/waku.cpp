// Content box, row spans, frame and outline detection.
#include "waku.h"

#include "CBFunc.h"
#include "CHist.h"
#include "CImgInfPtr.h"
#include "TvkIpError.h"
#include "isblank.h"

#include <algorithm>
#include <array>
#include <climits>
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

int64_t FullSync(const tagTVKIMAGEINFO* image) {
    return image->ulRGBOrder == 1 ? int64_t{image->lSync} * image->lSpp : int64_t{image->lSync};
}

bool Usable(const tagTVKIMAGEINFO* image) {
    return image != nullptr && image->lpImage != nullptr && image->lWidth >= 0 &&
           image->lHeight >= 0;
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
    const int32_t rc = BinalizeRectEx(dst.Info(), src.Info(), &req);
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
    const int64_t sync = FullSync(page);
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

// Span of one 1-bit or gray row (gray is thresholded at level first).
bool RowSpan(const tagTVKIMAGEINFO* image, int32_t y, int32_t level, int64_t a, int64_t b,
             CBuffer<uint8_t>& bits, CBuffer<tagBWT>& pairs, int64_t* s, int64_t* len) {
    const uint8_t* row = image->lpImage + y * FullSync(image);
    if (image->lBps == 1) {
        return DetectWidthBin(row, image->lXpos, image->lWidth, a, b, pairs.Ptr(), s, len);
    }
    Gray2Bin(bits.Ptr(), row + image->lXpos, image->lWidth, level);
    return DetectWidthBin(bits.Ptr(), 0, image->lWidth, a, b, pairs.Ptr(), s, len);
}

// Checks shared by the line exports: a 1-bit or 8-bit single-sample image.
bool LineImageOk(const tagTVKIMAGEINFO* image) {
    return image->lSpp == 1 && (image->lBps == 1 || image->lBps == 8);
}

} // namespace

int32_t* DetectWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info) {
    IpSetLastError(0);
    return GuardedPtr([&]() -> int32_t* {
        if (info == nullptr || info->ulSize < kDetWakuInfoSizeResult || !Usable(image)) {
            throw kErrArgument;
        }
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
    IpSetLastError(0);
    return GuardedPtr([&]() -> int32_t* {
        if (info == nullptr || info->ulSize < kDetWakuInfoSizeResult || !Usable(image)) {
            throw kErrArgument;
        }
        if (!LineImageOk(image)) return nullptr;
        int32_t level = ReadSlice(info);
        if (level < 1 || level > 255) level = 80;
        int64_t a = 0;
        int64_t b = 0;
        WidthMinRuns(info, image->lXResolution, &a, &b);
        CBuffer<uint8_t> bits(static_cast<size_t>(image->lWidth / 8 + 1));
        CBuffer<tagBWT> pairs;
        AllocatePairs(pairs, image->lWidth);
        if (bits.Ptr() == nullptr) throw kErrMemory;
        int64_t s = 0;
        int64_t len = 0;
        if (image->lHeight > 0 && RowSpan(image, 0, level, a, b, bits, pairs, &s, &len)) {
            info->lLeft = static_cast<int32_t>(s);
            info->lWidth = static_cast<int32_t>(s + len - 1);
        }
        return &info->lLeft;
    });
}

int32_t* DetectLinesWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info) {
    IpSetLastError(0);
    return GuardedPtr([&]() -> int32_t* {
        if (info == nullptr || info->ulSize < kDetWakuInfoSizeResult || !Usable(image)) {
            throw kErrArgument;
        }
        if (!LineImageOk(image)) return nullptr;
        int32_t level = ReadSlice(info);
        if (level < 1 || level > 255) level = 80;
        int64_t a = 0;
        int64_t b = 0;
        WidthMinRuns(info, image->lXResolution, &a, &b);
        CBuffer<uint8_t> bits(static_cast<size_t>(image->lWidth / 8 + 1));
        CBuffer<tagBWT> pairs;
        AllocatePairs(pairs, image->lWidth);
        if (bits.Ptr() == nullptr) throw kErrMemory;
        int64_t lo = INT64_MAX;
        int64_t hi = INT64_MIN;
        for (int k = 1; k <= 5; k += 2) {
            const int32_t y = static_cast<int32_t>(int64_t{image->lHeight} * k / 6);
            if (y >= image->lHeight) continue;
            int64_t s = 0;
            int64_t len = 0;
            if (RowSpan(image, y, level, a, b, bits, pairs, &s, &len)) {
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
