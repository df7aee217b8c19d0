// Text slant measurement by slanted projections of a binary image, and the
// to-gray line function.
#include "DetectTextSlant.h"

#include "CBFunc.h"
#include "CImgInfPtr.h"
#include "ToGrayKernels.h"
#include "ImageCheck.h"
#include "Luminance.h"
#include "TvkIpError.h"
#include "WorkImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

namespace {

constexpr int32_t kErrInvalidParameter = 87;
constexpr int32_t kErrNoMemory = 8;

// Nibble made of bits 7, 5, 3 and 1 of a byte: the left pixel of each pair.
constexpr std::array<uint8_t, 256> MakeHalfTable() {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        t[b] =
            static_cast<uint8_t>(((b >> 4) & 8) | ((b >> 3) & 4) | ((b >> 2) & 2) | ((b >> 1) & 1));
    }
    return t;
}
constexpr std::array<uint8_t, 256> kHalf = MakeHalfTable();

constexpr std::array<uint8_t, 256> MakeBitCount() {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        t[b] = static_cast<uint8_t>((b & 1) + ((b >> 1) & 1) + ((b >> 2) & 1) + ((b >> 3) & 1) +
                                    ((b >> 4) & 1) + ((b >> 5) & 1) + ((b >> 6) & 1) + (b >> 7));
    }
    return t;
}
constexpr std::array<uint8_t, 256> kBitCount = MakeBitCount();

// Set bits of n bytes, eight bytes at a time.
int64_t PopCount(const uint8_t* p, int64_t n) {
    int64_t c = 0;
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        uint64_t a;
        uint64_t b;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, p + i + 8, 8);
        c += __builtin_popcountll(a) + __builtin_popcountll(b);
    }
    for (; i < n; ++i) c += kBitCount[p[i]];
    return c;
}

bool IsBinary(const tagTVKIMAGEINFO& img) {
    return img.lBps == 1 && img.lSpp == 1;
}

bool Usable(const tagTVKIMAGEINFO* img) {
    return img != nullptr && img->lpImage != nullptr && img->lWidth > 0 && img->lHeight > 0 &&
           img->lSync > 0 && TvkImageFits(img, kTvkAnyLayout);
}

// A working image whose buffer the caller's unique_ptr owns.
bool MakeImage(tagTVKIMAGEINFO& out, std::unique_ptr<uint8_t[]>& buf, const tagTVKIMAGEINFO& like,
               int32_t width, int32_t height, int32_t bps) {
    if (!MakeWorkImage(out, like, width, height, bps)) return false;
    buf.reset(out.lpImage);
    return true;
}

// 8-bit gray form of an image through the to-gray line function.
int32_t ToGray(tagTVKIMAGEINFO& out, std::unique_ptr<uint8_t[]>& buf, tagTVKIMAGEINFO& image) {
    if (!MakeImage(out, buf, image, image.lWidth, image.lHeight, 8)) {
        return kErrNoMemory;
    }
    tagTOGRAYFUNCINFO req{kToGrayFuncInfoSize, 0};
    ToGrayRect(&out, &image, &req);
    return 0;
}

// Binary form of a gray or colour image by the request's binarisation.
int32_t Binarize(tagTVKIMAGEINFO& out, std::unique_ptr<uint8_t[]>& buf, tagTVKIMAGEINFO& image,
                 tagBINFUNCINFO* bin) {
    tagTVKIMAGEINFO gray{};
    std::unique_ptr<uint8_t[]> grayBuf;
    tagTVKIMAGEINFO* src = &image;
    if (image.lSpp == 3) {
        const int32_t r = ToGray(gray, grayBuf, image);
        if (r != 0) return r;
        src = &gray;
    }
    if (!MakeImage(out, buf, image, image.lWidth, image.lHeight, 1)) {
        return kErrNoMemory;
    }
    // A failed binarisation leaves a blank image: nothing to measure.
    BinalizeRectEx(&out, src, bin);
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------
// To-gray line function

int CGFunc::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, void* param) {
    return Start(dst, src, static_cast<tagTOGRAYFUNCINFO*>(param));
}

int CGFunc::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagTOGRAYFUNCINFO* info) {
    m_pDstInfo = dst;
    m_pSrcInfo = src;
    m_pInfo = info;
    // Any source whose lines lie in its buffer; 8-bit destination lines.
    if (dst == nullptr || src == nullptr || dst->lpImage == nullptr || src->lpImage == nullptr ||
        !TvkImageFits(src, kTvkAnyLayout) || !TvkImageFits(dst, kTvkGray8)) {
        m_pDst = nullptr;
        m_pSrc = nullptr;
        return 0;
    }
    m_pDst = dst->lpImage;
    m_pSrc = src->lpImage;
    return 1;
}

void CGFunc::Line() {
    if (m_pDst == nullptr || m_pSrc == nullptr) return;
    const tagTVKIMAGEINFO& s = *m_pSrcInfo;
    const tagTVKIMAGEINFO& d = *m_pDstInfo;
    // Never write past the destination's line, whatever the caller made.
    const int32_t width = s.lWidth < d.lWidth ? s.lWidth : d.lWidth;
    const int32_t bits = s.lBps * s.lSpp;
    const bool planar = s.lSpp == 3 && s.ulRGBOrder == 1;
    uint8_t* out = m_pDst;
    const uint8_t* in = m_pSrc;
    if (bits == 8) {
        if (width > 0) std::memcpy(out, in, static_cast<size_t>(width));
    } else if (bits == 1) {
        for (int32_t x = 0; x < width; ++x) {
            out[x] = ((in[x >> 3] >> (7 - (x & 7))) & 1) != 0 ? 0 : 255;
        }
    } else if (bits == 24 && s.lBps == 8) {
        if (planar) {
            GRAY_KERNEL::Planar(out, in, in + s.lSync, in + 2 * int64_t{s.lSync}, width);
        } else {
            GRAY_KERNEL::Interleaved(out, in, width);
        }
    }
    m_pDst += d.lSync;
    m_pSrc += TvkLineStep(s);
}

void CGFunc::Rect() {
    if (m_pDst == nullptr || m_pSrc == nullptr) return;
    const int32_t lines =
        m_pSrcInfo->lHeight < m_pDstInfo->lHeight ? m_pSrcInfo->lHeight : m_pDstInfo->lHeight;
    for (int32_t y = 0; y < lines; ++y) Line();
}

void CGFunc::Finish() {
    m_pDstInfo = nullptr;
    m_pSrcInfo = nullptr;
    m_pInfo = nullptr;
    m_pDst = nullptr;
    m_pSrc = nullptr;
}

int CGFunc::Rect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagTOGRAYFUNCINFO* info) {
    const int ok = Start(dst, src, info);
    if (info != nullptr && src != nullptr) info->lineCount += static_cast<uint32_t>(src->lHeight);
    if (ok != 0) Rect();
    Finish();
    return ok;
}

CGFunc& GFunc() {
    static CGFunc instance;
    return instance;
}

int32_t ToGrayRect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagTOGRAYFUNCINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->size < kToGrayFuncInfoSize) return 0;
    GFunc().Rect(dst, src, info);
    return 0;
}

// ---------------------------------------------------------------------------
// Projections

namespace TEXTSLANT_FUNCSPACE {

int64_t CountBlackPixels(const tagTVKIMAGEINFO& img, int32_t line, int32_t step, int dir) {
    const int64_t bytes = img.lWidth / 8;
    const int64_t sync = img.lSync;
    const int64_t s = step > 0 ? step : kTextSlantHorizontal;
    int64_t row = line;
    int64_t pos = 0;
    int64_t n = 0;
    for (int64_t i = 0; i < bytes;) {
        if (row < 0 || row >= img.lHeight) break;
        // Bytes read on this line: up to the one that brings the position to the step.
        int64_t k = (s - pos + 7) / 8;
        if (k > bytes - i) k = bytes - i;
        n += PopCount(img.lpImage + row * sync + i, k);
        i += k;
        pos += 8 * k;
        if (pos >= s) {
            pos -= s;
            row += dir;
        }
    }
    return n;
}

namespace {

// Sharpness of a projection from its per-line counts `count(i)`, i in [0, n):
// the mean of the line-to-line differences at or above their mean.
template <typename Count> double Sharpness(int64_t n, int64_t* scratch, Count countAt) {
    int64_t prev = countAt(0);
    int64_t sum = 0;
    for (int64_t i = 1; i < n; ++i) {
        const int64_t c = countAt(i);
        const int64_t d = prev > c ? prev - c : c - prev;
        scratch[i] = d;
        sum += d;
        prev = c;
    }
    const int64_t mean = sum / n;
    int64_t total = 0;
    int64_t picked = 0;
    for (int64_t i = 1; i < n; ++i) {
        if (scratch[i] >= mean) {
            total += scratch[i];
            ++picked;
        }
    }
    return picked == 0 ? 0.0 : static_cast<double>(total) / static_cast<double>(picked);
}

// Lines a projection scores at a step: every start line whose path stays in
// the image; a rising line starts low enough.
struct Starts {
    int64_t first;
    int64_t n;
};
Starts ProjectionStarts(const tagTVKIMAGEINFO& img, int32_t step, int dir) {
    const int64_t lean = step == kTextSlantHorizontal || step <= 0 ? 0 : img.lWidth / step;
    return {dir > 0 ? 0 : lean, img.lHeight - lean};
}

} // namespace

double GetAccuracy(const tagTVKIMAGEINFO& img, int32_t step, int dir, int64_t* scratch) {
    const Starts st = ProjectionStarts(img, step, dir);
    if (st.n < 1) return 0.0;
    return Sharpness(st.n, scratch, [&](int64_t i) {
        return CountBlackPixels(img, static_cast<int32_t>(st.first + i), step, dir);
    });
}

bool ProjectionTable::Build(const tagTVKIMAGEINFO& img) {
    m_height = img.lHeight > 0 ? img.lHeight : 0;
    m_bytes = img.lWidth > 0 ? img.lWidth / 8 : 0;
    const int64_t size = (m_bytes + 1) * m_height;
    m_prefix.reset(new (std::nothrow) int32_t[static_cast<size_t>(size)]);
    m_counts.reset(new (std::nothrow) int64_t[static_cast<size_t>(m_height)]);
    // A path has at most eight pieces per byte (at a step of one pixel), and
    // one bound more than pieces.
    m_bounds.reset(new (std::nothrow) int64_t[static_cast<size_t>(8 * m_bytes + 2)]);
    if (!m_prefix || !m_counts || !m_bounds) return false;
    // Blocks of lines, so that each column of the table is written a cache
    // line at a time.
    constexpr int64_t kBlock = 16;
    int32_t run[kBlock];
    for (int64_t y0 = 0; y0 < m_height; y0 += kBlock) {
        const int64_t rows = std::min(kBlock, m_height - y0);
        for (int64_t r = 0; r < rows; ++r) run[r] = 0;
        for (int64_t r = 0; r < rows; ++r) m_prefix[y0 + r] = 0;
        for (int64_t b = 0; b < m_bytes; ++b) {
            int32_t* col = m_prefix.get() + (b + 1) * m_height + y0;
            for (int64_t r = 0; r < rows; ++r) {
                run[r] += kBitCount[img.lpImage[(y0 + r) * img.lSync + b]];
                col[r] = run[r];
            }
        }
    }
    return true;
}

int64_t ProjectionTable::Segments(int32_t step) const {
    // The byte walk of CountBlackPixels: a piece of whole bytes up to the one
    // that brings the position to the step, then one line further.
    const int64_t s = step > 0 ? step : kTextSlantHorizontal;
    int64_t pos = 0;
    int64_t n = 0;
    m_bounds[0] = 0;
    for (int64_t i = 0; i < m_bytes;) {
        const int64_t k = std::min((s - pos + 7) / 8, m_bytes - i);
        i += k;
        pos += 8 * k;
        if (pos >= s) pos -= s;
        m_bounds[++n] = i;
    }
    return n;
}

const int64_t* ProjectionTable::Counts(int32_t step, int dir, int64_t first, int64_t n) const {
    for (int64_t i = 0; i < n; ++i) m_counts[i] = 0;
    const int64_t pieces = Segments(step);
    for (int64_t t = 0; t < pieces; ++t) {
        if (m_bounds[t + 1] == m_bounds[t]) continue;
        // Piece t of line `first + i` lies on line first + i + t dir.
        const int64_t shift = first + t * dir;
        const int64_t lo = std::max<int64_t>(0, -shift);
        const int64_t hi = std::min(n, m_height - shift);
        const int32_t* end = m_prefix.get() + m_bounds[t + 1] * m_height;
        const int32_t* begin = m_prefix.get() + m_bounds[t] * m_height;
        for (int64_t i = lo; i < hi; ++i) m_counts[i] += end[i + shift] - begin[i + shift];
    }
    return m_counts.get();
}

double ProjectionTable::Accuracy(const tagTVKIMAGEINFO& img, int32_t step, int dir,
                                 int64_t* scratch) const {
    const Starts st = ProjectionStarts(img, step, dir);
    if (st.n < 1) return 0.0;
    const int64_t* counts = Counts(step, dir, st.first, st.n);
    return Sharpness(st.n, scratch, [counts](int64_t i) { return counts[i]; });
}

int GetMaxAccuracy(const tagTVKIMAGEINFO& img, ACCURACYINFO& best) {
    if (img.lHeight <= 0 || img.lpImage == nullptr) return 1;
    std::unique_ptr<int64_t[]> scratch(new (std::nothrow)
                                           int64_t[static_cast<size_t>(img.lHeight)]);
    if (!scratch) return -1;
    // Every step reads the same lines in other pieces: count each line's
    // pixels once into a table, or walk the bytes when it cannot be had.
    ProjectionTable table;
    const bool fast = table.Build(img);
    auto accuracy = [&](int32_t step, int dir) {
        return fast ? table.Accuracy(img, step, dir, scratch.get())
                    : GetAccuracy(img, step, dir, scratch.get());
    };
    // Every accuracy of this pass, for the typical one.
    constexpr size_t kSteps = std::size(kSlopeSteps);
    double all[1 + 2 * kSteps];
    size_t n = 0;
    bool improved = false;
    auto keep = [&](double a, int32_t step) {
        all[n++] = a;
        if (a > best.accuracy) {
            best.accuracy = a;
            best.step = step;
            improved = true;
        }
    };
    const double flat = accuracy(kTextSlantHorizontal, 1);
    keep(flat, kTextSlantHorizontal);
    if (flat == 0.0) return 1;
    for (const int32_t dx : kSlopeSteps) {
        keep(accuracy(dx, 1), dx);
        keep(accuracy(dx, -1), -dx);
    }
    if (improved) {
        std::nth_element(all, all + n / 2, all + n);
        best.typical = all[n / 2];
    }
    return 0;
}

bool IsFoundSlant(const ACCURACYINFO& best) {
    constexpr int32_t kSteepest = kSlopeSteps[std::size(kSlopeSteps) - 1];
    // Text within the table's range scores ten to twenty times the typical
    // projection at its step; text beyond it, less than twice.
    constexpr double kStandsOut = 3.0;
    if (best.step == kTextSlantHorizontal || best.step == 0) return false;
    if (best.step == kSteepest || best.step == -kSteepest) return false;
    return best.accuracy >= kStandsOut * best.typical;
}

void HalveLine(uint8_t* out, const uint8_t* src, int32_t outWidth) {
    const int32_t whole = outWidth / 8;
    for (int32_t b = 0; b < whole; ++b) {
        out[b] = static_cast<uint8_t>(kHalf[src[2 * b]] << 4 | kHalf[src[2 * b + 1]]);
    }
    const int32_t rest = outWidth % 8;
    if (rest != 0) {
        // The last partial byte gets its pixels too; its padding bits are cleared.
        int v = kHalf[src[2 * whole]] << 4;
        if (rest > 4) v |= kHalf[src[2 * whole + 1]];
        out[whole] = static_cast<uint8_t>(v & (0xFF00 >> rest));
    }
}

int HalveResolution(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src) {
    if (!IsBinary(src) || !IsBinary(out)) return -1;
    for (int32_t k = 0; k < out.lHeight && 2 * int64_t{k} < src.lHeight; ++k) {
        HalveLine(out.lpImage + int64_t{k} * out.lSync, src.lpImage + 2 * int64_t{k} * src.lSync,
                  out.lWidth);
    }
    return 0;
}

} // namespace TEXTSLANT_FUNCSPACE

// ---------------------------------------------------------------------------
// Text slant

int32_t DetectTextSlant(tagTVKIMAGEINFO* image, tagDETECTTEXTSLANTINFO* info) {
    using namespace TEXTSLANT_FUNCSPACE;
    IpSetLastError(0);
    if (info == nullptr || info->size < kDetectTextSlantInfoSize) return kErrInvalidParameter;
    tagBINFUNCINFO* bin = info->binInfo;
    // The call owns the binarisation handle from here on: release it on every
    // path, also when memory runs out.
    struct ReleaseBin {
        tagBINFUNCINFO* bin;
        ~ReleaseBin() {
            if (bin != nullptr) ReleaseBinalizeHandle(bin);
        }
    } release{bin};
    if (!Usable(image)) return kErrInvalidParameter;
    if (!IsBinary(*image) && bin == nullptr) return kErrInvalidParameter;

    try {
        tagTVKIMAGEINFO work = TvkWholeImage(*image);
        std::unique_ptr<uint8_t[]> binBuf;
        if (!IsBinary(*image)) {
            tagTVKIMAGEINFO whole = work;
            const int32_t r = Binarize(work, binBuf, whole, bin);
            if (r != 0) return r;
        }

        tagTVKIMAGEINFO half{};
        std::unique_ptr<uint8_t[]> halfBuf;
        const int64_t wanted = info->workingResolution;
        if (wanted != 0 && work.lXResolution >= 2 * wanted) {
            const int32_t hw = work.lWidth / 2;
            if (MakeImage(half, halfBuf, work, hw, work.lHeight / 2, 1)) {
                half.lXResolution = work.lXResolution / 2;
                half.lYResolution = work.lYResolution / 2;
                HalveResolution(half, work);
                work = half;
            }
        }

        ACCURACYINFO best;
        const int r = GetMaxAccuracy(work, best);
        if (r < 0) return kErrNoMemory;
        if (r == 0) {
            // Text lines may run down the page: measure the image turned to the right.
            tagTVKIMAGEINFO view = work;
            CImageInfoPtr turned;
            auto* wrap = new (std::nothrow) CImageInfo(&view);
            if (wrap == nullptr) return kErrNoMemory;
            turned.Attach(wrap);
            if (!turned.Rotate90R()) return kErrNoMemory;
            if (GetMaxAccuracy(*turned.Info(), best) < 0) return kErrNoMemory;
        }
        // A slant that may be wrong is worse than none: the page stays level.
        info->angle = IsFoundSlant(best) ? std::atan(1.0 / static_cast<double>(best.step)) : 0.0;
        return 0;
    } catch (...) {
        return kErrNoMemory;
    }
}
