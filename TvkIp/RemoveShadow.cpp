// Shadow removal: finds per column where the image darkens into a shadow and
// where the document resumes, repairs these lines and repaints the band.
#include "RemoveShadow.h"
#include "ImageCheck.h"
#include "TvkIpError.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace RemoveShadowSpace {

// Entries of the per-column lines.
constexpr int32_t kNotFound = -1;
constexpr int32_t kNoShadow = -2;
constexpr int32_t kRejected = -3;

inline bool Valid(int32_t v) {
    return v >= 0;
}

struct REMOVE_SHADOW_PROCESS_INFO {
    uint32_t size = 48;
    bool front = true;
    std::unique_ptr<int32_t[]> endLine;      // where the change in brightness ends
    std::unique_ptr<int32_t[]> documentLine; // where the document resumes
    std::unique_ptr<int32_t[]> shadowLine;   // where the shadow begins
    int32_t shadowLength = 0;                // pixels
    int32_t documentMargin = 0;              // pixels
    int32_t slack = 1;
    int32_t level = 15;
    const tagTVKIMAGEINFO* image = nullptr;
    int32_t position = 0;
    int32_t positionMargin = 0; // pixels

    int32_t width() const { return image->lWidth; }
    int32_t height() const { return image->lHeight; }
    int32_t spp() const { return image->lSpp; }
    int32_t yRes() const { return image->lYResolution > 0 ? image->lYResolution : 300; }
    int32_t xRes() const { return image->lXResolution > 0 ? image->lXResolution : 300; }
    int32_t PxY(int64_t um) const { return static_cast<int32_t>(um * yRes() / 25400); }
    int32_t PxX(int64_t um) const { return static_cast<int32_t>(um * xRes() / 25400); }
    uint8_t* Pixel(int32_t x, int32_t y) const {
        return image->lpImage + static_cast<size_t>(y) * static_cast<size_t>(image->lSync) +
               static_cast<size_t>(x) * static_cast<size_t>(image->lSpp);
    }
    int32_t ClampRow(int64_t y) const {
        return static_cast<int32_t>(std::clamp<int64_t>(y, 0, height() - 1));
    }
};

void UnInitRemoveShadowInfo(REMOVE_SHADOW_PROCESS_INFO& info) {
    info.endLine.reset();
    info.documentLine.reset();
    info.shadowLine.reset();
}

uint32_t InitRemoveShadowInfo(const tagTVKIMAGEINFO* image, const tagREMOVE_SHADOW_INFO* req,
                              REMOVE_SHADOW_PROCESS_INFO& info) {
    if (image == nullptr || req == nullptr) return kIpErrBadArgument;
    const size_t w = static_cast<size_t>(image->lWidth);
    info.endLine.reset(new (std::nothrow) int32_t[w]);
    info.documentLine.reset(new (std::nothrow) int32_t[w]);
    info.shadowLine.reset(new (std::nothrow) int32_t[w]);
    if (!info.endLine || !info.documentLine || !info.shadowLine) {
        UnInitRemoveShadowInfo(info);
        return kIpErrOutOfMemory;
    }
    info.image = image;
    info.front = req->bFront != 0;
    info.shadowLength = info.PxY(req->lShadowLength >= 1 ? req->lShadowLength : 850);
    info.documentMargin = info.PxY(req->lDocumentMargin >= 1 ? req->lDocumentMargin : 500);
    info.slack = info.yRes() / 300 + 1;
    info.level = req->lLevel >= 1 ? req->lLevel : 15;
    info.position = req->lPosition;
    const int32_t margin = req->ulSize >= kRemoveShadowInfoSizeMargin && req->lPositionMargin >= 1
                               ? req->lPositionMargin
                               : 2000;
    info.positionMargin = info.PxY(margin);
    return 0;
}

// Step 1: the position must lie away from the top and bottom.
bool CanRemoveShadow(const tagTVKIMAGEINFO* image, int32_t position) {
    const int32_t res = image->lYResolution > 0 ? image->lYResolution : 300;
    const int32_t m = static_cast<int32_t>(int64_t{500} * res / 25400);
    return position >= m && position <= image->lHeight - m;
}

// Per column: the shadow line where the image starts to darken, the document
// line where the darkening stops and the end line where the change ends. The
// back side searches upwards from the bottom.
uint32_t GetShadowEdge(REMOVE_SHADOW_PROCESS_INFO& info) {
    const int32_t w = info.width(), h = info.height(), spp = info.spp();
    int32_t* E = info.shadowLine.get();
    int32_t* D = info.documentLine.get();
    int32_t* S = info.endLine.get();
    std::fill(E, E + w, kNotFound);
    std::fill(D, D + w, kNotFound);
    std::fill(S, S + w, kNotFound);
    const int32_t d = std::max(info.PxY(400), 1);
    const int32_t T = spp * info.level;
    const int32_t dir = info.front ? 1 : -1;
    for (int32_t i = 0; i < h - d; ++i) {
        const int32_t y = info.front ? i : h - 1 - i;
        const int32_t partner = y + dir * d; // inside the image: i < h - d
        const int32_t L = partner + dir * info.slack;
        bool active = false;
        for (int32_t x = 0; x < w; ++x) {
            if (S[x] != kNotFound) continue;
            active = true;
            const uint8_t* a = info.Pixel(x, y);
            const uint8_t* b = info.Pixel(x, partner);
            int32_t sum = 0, maxDiff = 0, maxA = 0, minA = 255;
            for (int32_t s = 0; s < spp; ++s) {
                const int32_t diff = int32_t{a[s]} - b[s];
                sum += diff;
                maxDiff = std::max(maxDiff, diff < 0 ? -diff : diff);
                maxA = std::max<int32_t>(maxA, a[s]);
                minA = std::min<int32_t>(minA, a[s]);
            }
            const bool small = spp * maxDiff < T;
            const bool neutral = 2 * minA >= maxA;
            auto endLineAt = [&] {
                const bool tooFar = info.front ? D[x] + info.documentMargin + info.slack < L
                                               : D[x] - info.documentMargin - info.slack > L;
                return tooFar ? kRejected : L;
            };
            if (E[x] == kNotFound) {
                if (sum > T)
                    E[x] = y;
                else if (sum < -T)
                    S[x] = kNoShadow; // brightens first: no shadow here
            } else if (D[x] == kNotFound) {
                const bool darkening = sum >= T && !small && neutral;
                if (darkening) continue;
                if (std::abs(y - E[x]) > 1) {
                    D[x] = info.front ? std::min(E[x] + d + info.shadowLength - 1, y + d - 1)
                                      : std::max(E[x] - d - info.shadowLength + 1, y - d + 1);
                    if (small || !neutral) S[x] = endLineAt();
                } else {
                    E[x] = kNotFound;
                }
            } else if (!(T >= spp * maxDiff && neutral)) {
                S[x] = endLineAt();
            }
        }
        if (!active) break;
    }
    return 0;
}

// Running median over the valid span of one line.
bool MedeianFilterCore(int32_t* line, int32_t n, int32_t w, int32_t* copy, int32_t* window) {
    int32_t first = 0, last = n - 1;
    while (first < n && line[first] == kNotFound) ++first;
    while (last >= 0 && line[last] == kNotFound) --last;
    if (first > last || last - first + 1 < w) return true;
    std::memcpy(copy, line, sizeof(int32_t) * static_cast<size_t>(n));
    for (int32_t i = first; i < last - w; ++i) {
        std::memcpy(window, copy + i, sizeof(int32_t) * static_cast<size_t>(w));
        std::nth_element(window, window + w / 2, window + w, std::greater<int32_t>());
        line[i + w / 2] = window[w / 2];
    }
    return true;
}

uint32_t MedianFilter(REMOVE_SHADOW_PROCESS_INFO& info) {
    const int32_t n = info.width();
    const int32_t w = 2 * info.PxX(500) + 1;
    std::unique_ptr<int32_t[]> copy(new (std::nothrow) int32_t[static_cast<size_t>(n)]);
    std::unique_ptr<int32_t[]> window(new (std::nothrow) int32_t[static_cast<size_t>(w)]);
    if (!copy || !window) return kIpErrOutOfMemory;
    for (int32_t* line : {info.endLine.get(), info.documentLine.get(), info.shadowLine.get()})
        MedeianFilterCore(line, n, w, copy.get(), window.get());
    return 0;
}

// The topmost point of a line (front) or the lowest (back), ignoring the
// first found entry and a span after it from each side.
bool GetLineTop(const REMOVE_SHADOW_PROCESS_INFO& info, const int32_t* line, int32_t n,
                int32_t& value, int32_t& column) {
    const int32_t h = info.height();
    const int32_t span = std::min(info.PxY(5000), n / 16);
    const bool front = info.front;
    auto better = [&](int32_t v, int32_t best) { return front ? v < best : v > best; };
    const int32_t none = front ? h : -1;
    auto scan = [&](int32_t from, int32_t to, int32_t step, int32_t& best, int32_t& col) {
        best = none;
        col = -1;
        bool skipped = false;
        for (int32_t i = from; step > 0 ? i <= to : i >= to; i += step) {
            const int32_t v = line[i];
            if (v < 0 || v >= h || !better(v, best)) continue;
            if (!skipped) {
                skipped = true;
                i += step * span;
                continue;
            }
            best = v;
            col = i;
        }
    };
    int32_t leftBest, leftCol, rightBest, rightCol;
    scan(0, n - 1, 1, leftBest, leftCol);
    scan(n - 1, std::max(leftCol, 0), -1, rightBest, rightCol);
    if (leftCol < 0 && rightCol < 0) return false;
    if (rightCol < 0 || (leftCol >= 0 && !better(rightBest, leftBest))) {
        value = leftBest;
        column = leftCol;
    } else {
        value = rightBest;
        column = rightCol;
    }
    return true;
}

// Walks right, then left from start within [from, to]: jumps larger than s
// accumulate, and past 4 s the entry is dropped; an absent entry drops all
// that follow in that direction.
void DecideLine(int32_t* line, int32_t from, int32_t to, int32_t start, int32_t s) {
    for (int32_t dir : {1, -1}) {
        int64_t acc = 0;
        for (int32_t i = start + dir; i >= from && i <= to; i += dir) {
            const int32_t prev = line[i - dir];
            if (!Valid(prev)) {
                line[i] = kNotFound;
                continue;
            }
            if (!Valid(line[i])) continue;
            const int32_t jump = std::abs(line[i] - prev);
            if (jump > s) {
                acc += jump;
                if (acc > 4 * int64_t{s}) line[i] = kNotFound;
            } else {
                acc = 0;
            }
        }
    }
}

uint32_t CorrectShadowLine(REMOVE_SHADOW_PROCESS_INFO& info) {
    const int32_t w = info.width();
    if (w <= 63) return 0;
    int32_t* E = info.shadowLine.get();
    int32_t top, t;
    if (!GetLineTop(info, E, w, top, t)) return kIpErrUnsupported;
    if (std::min(t, w - t) < w / 8) {
        DecideLine(E, 0, w - 1, t, 2);
    } else if (t >= w / 2) {
        DecideLine(E, 0, t, t, 2);
        DecideLine(E, t, w - 1, t, 6);
    } else {
        DecideLine(E, t, w - 1, t, 2);
        DecideLine(E, 0, t, t, 6);
    }
    DecideLine(E, 0, w - 1, t, std::max(info.yRes() / 127, 1) + 4);
    return 0;
}

// Repairs a line against its reference within [from, to], walking out from
// start: runs of rejected entries are bridged, steps above k are limited to
// k, and entries far from their neighbours' mean take the mean.
void CorrectLine(int32_t* line, const int32_t* ref, int32_t from, int32_t to, int32_t start,
                 int32_t k, int32_t margin) {
    if (start < from || start > to || !Valid(line[start])) return;
    const bool above = Valid(ref[start]) && line[start] < ref[start];
    auto limit = [&](int32_t i, int64_t v) {
        if (!Valid(ref[i])) return v;
        return above ? std::max<int64_t>(v, int64_t{ref[i]} - margin)
                     : std::min<int64_t>(v, int64_t{ref[i]} + margin);
    };
    for (int32_t dir : {1, -1}) {
        for (int32_t i = start + dir; i >= from && i <= to; i += dir) {
            const int32_t prev = line[i - dir];
            if (line[i] == kRejected && Valid(prev)) {
                int32_t j = i;
                while (j >= from && j <= to && line[j] == kRejected) j += dir;
                if (j >= from && j <= to && Valid(line[j])) {
                    const int64_t span = int64_t{j - (i - dir)} * dir;
                    for (int32_t m = i; m != j; m += dir) {
                        const int64_t step = int64_t{m - (i - dir)} * dir;
                        const int64_t v = prev + (int64_t{line[j]} - prev) * step / span;
                        line[m] = static_cast<int32_t>(limit(m, v));
                    }
                }
            }
            if (!Valid(line[i]) || !Valid(line[i - dir])) continue;
            const int32_t p = line[i - dir];
            if (line[i] - p > k)
                line[i] = p + k;
            else if (p - line[i] > k)
                line[i] = p - k;
        }
    }
    for (int32_t i = std::max(from + 1, 1); i < to; ++i) {
        if (!Valid(line[i - 1]) || !Valid(line[i]) || !Valid(line[i + 1])) continue;
        const int32_t mean = static_cast<int32_t>((int64_t{line[i - 1]} + line[i + 1]) / 2);
        if (std::abs(line[i] - mean) > k) line[i] = mean;
    }
}

uint32_t CorrectDocumentLine(REMOVE_SHADOW_PROCESS_INFO& info) {
    const int32_t w = info.width();
    if (w < 64) return 0;
    int32_t* E = info.shadowLine.get();
    int32_t* D = info.documentLine.get();
    int32_t* S = info.endLine.get();
    for (int32_t x = 0; x < w; ++x) {
        if (!Valid(E[x])) D[x] = S[x] = kNotFound;
        if (!Valid(D[x]) && !Valid(S[x])) E[x] = kNotFound;
    }
    int32_t top, t;
    if (!GetLineTop(info, S, w, top, t)) return kIpErrUnsupported;
    const int32_t e = std::max(info.PxY(400), 1);
    const int32_t loose = std::max(info.yRes() / 127, 1) + 2;
    // Tight on the longer side of the line top, looser on the shorter one.
    int32_t kLeft = 1, kRight = 1;
    if (std::min(t, w - t) >= w / 8) {
        if (t >= w / 2)
            kRight = loose;
        else
            kLeft = loose;
    }
    const int32_t marginD = e + info.shadowLength;
    const int32_t marginS = e + info.shadowLength + info.documentMargin + info.slack;
    CorrectLine(D, E, t, w - 1, t, kRight, marginD);
    CorrectLine(D, E, 0, t, t, kLeft, marginD);
    CorrectLine(S, E, t, w - 1, t, kRight, marginS);
    CorrectLine(S, E, 0, t, t, kLeft, marginS);
    return 0;
}

uint32_t ExtendDocumentLine(REMOVE_SHADOW_PROCESS_INFO& info) {
    const int32_t w = info.width(), h = info.height();
    int32_t* E = info.shadowLine.get();
    int32_t* D = info.documentLine.get();
    int32_t* S = info.endLine.get();
    const int64_t A = int64_t{info.documentMargin} + info.slack;
    const int64_t B = info.shadowLength + A;
    const int64_t M = std::max<int64_t>(info.PxY(1000), B);
    const int32_t X = info.PxX(5000);
    auto endFrom = [&](int32_t x, int64_t v) {
        const int64_t r = info.front ? std::min({v, E[x] + A, E[x] + B})
                                     : std::max(v, std::max(E[x] + A, E[x] - B));
        return static_cast<int32_t>(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX));
    };
    auto fill = [&](int32_t c, int32_t n, int32_t step) {
        const int32_t e0 = M < E[c] && E[c] <= h - M ? E[c] : kNotFound;
        const int32_t d0 = e0 > 0 ? D[c] : e0;
        const int32_t s0 = d0 > 0 ? S[c] : d0;
        for (auto [line, value] : {std::pair{E, e0}, std::pair{D, d0}, std::pair{S, s0}})
            for (int32_t i = 0, x = c; i < n && x >= 0 && x < w; ++i, x += step) {
                if (line[x] == kNoShadow) break;
                line[x] = value;
            }
    };
    // Left side.
    int32_t e = -1, c = -1;
    for (int32_t x = 0; x < w && (e < 0 || c < 0); ++x) {
        if (e < 0 && Valid(S[x])) e = x;
        if (c < 0 && Valid(D[x])) c = x;
    }
    if (e < 0 || c < 0) return kIpErrUnsupported;
    if (e > c) {
        const int64_t dc = D[c], se = S[e];
        for (int32_t x = e; x > c; --x) S[x] = endFrom(x, dc - (dc - se) * (x - c) / (e - c));
    }
    if (c > 0) fill(c, std::min(c, X), -1);
    // Right side.
    e = c = -1;
    for (int32_t x = w - 1; x >= 0 && (e < 0 || c < 0); --x) {
        if (e < 0 && Valid(S[x])) e = x;
        if (c < 0 && Valid(D[x])) c = x;
    }
    if (e < 0 || c < 0) return kIpErrUnsupported;
    if (c > e) {
        const int64_t dc = D[c], se = S[e];
        for (int32_t x = e; x < c; ++x) S[x] = endFrom(x, dc - (dc - se) * (c - x) / (c - e));
    }
    if (c < w - 1) fill(c, std::min(w - c - 1, X), 1);
    return 0;
}

uint32_t CheckShadowLine(const REMOVE_SHADOW_PROCESS_INFO& info) {
    const int32_t w = info.width();
    const int32_t* A = info.front ? info.shadowLine.get() : info.endLine.get();
    const int32_t* B = info.front ? info.endLine.get() : info.shadowLine.get();
    int64_t smallest = info.height(), largest = 0;
    for (int32_t x = 0; x < w; ++x) {
        if (Valid(A[x])) smallest = std::min<int64_t>(smallest, A[x]);
        if (Valid(B[x])) largest = std::max<int64_t>(largest, B[x]);
    }
    const int64_t p = info.position;
    if (smallest - info.positionMargin <= p && p <= largest + info.positionMargin) return 0;
    return kIpErrUnsupported;
}

// The paper beside the shadow: the mean of the pixels a little outside the
// shadow line, rounded up; white when there are none.
uint32_t GetBackGroundColor(const REMOVE_SHADOW_PROCESS_INFO& info) {
    const int32_t o = std::max(info.PxY(2000), 1);
    const int32_t spp = info.spp();
    const int32_t* E = info.shadowLine.get();
    uint64_t sum[3] = {0, 0, 0};
    uint64_t n = 0;
    for (int32_t x = 0; x < info.width(); ++x) {
        if (!Valid(E[x])) continue;
        const int64_t row = info.front ? int64_t{E[x]} - o : int64_t{E[x]} + o;
        if (row < 0 || row >= info.height()) continue;
        const uint8_t* p = info.Pixel(x, static_cast<int32_t>(row));
        for (int32_t s = 0; s < spp && s < 3; ++s) sum[s] += p[s];
        ++n;
    }
    uint32_t c[3] = {255, 255, 255};
    if (n != 0)
        for (int32_t s = 0; s < 3; ++s)
            c[s] = static_cast<uint32_t>((sum[spp == 1 ? 0 : s] + n - 1) / n);
    return c[0] | c[1] << 8 | c[2] << 16;
}

// Repaints one column's rows from `from` to `to` (inclusive, in the
// direction of the search) with the pixels o rows before them.
void PaintBand(const REMOVE_SHADOW_PROCESS_INFO& info, int32_t x, int64_t from, int64_t to,
               int32_t o, const uint8_t* color) {
    const int32_t spp = info.spp();
    const int32_t step = info.front ? 1 : -1;
    const int32_t a = info.ClampRow(from), b = info.ClampRow(to);
    if ((b - a) * step < 0) return;
    for (int32_t r = a;; r += step) {
        const int32_t src = info.ClampRow(int64_t{r} - int64_t{step} * o);
        uint8_t* dst = info.Pixel(x, r);
        if (src == r)
            std::memcpy(dst, color, static_cast<size_t>(spp));
        else
            std::memmove(dst, info.Pixel(x, src), static_cast<size_t>(spp));
        if (r == b) break;
    }
}

uint32_t PaintShadow(const REMOVE_SHADOW_PROCESS_INFO& info, uint32_t colorWord) {
    const int32_t o = info.PxY(2000);
    const int32_t h = info.height();
    uint8_t color[4];
    for (int32_t s = 0; s < 4; ++s) color[s] = static_cast<uint8_t>(colorWord >> (8 * s));
    const int32_t* E = info.shadowLine.get();
    const int32_t* D = info.documentLine.get();
    const int32_t* S = info.endLine.get();
    for (int32_t x = 0; x < info.width(); ++x) {
        if (!Valid(E[x]) || !Valid(D[x])) continue;
        if (info.front) {
            PaintBand(info, x, std::max<int64_t>(int64_t{E[x]} - o, 0), D[x], o, color);
            if (Valid(S[x]) && S[x] > D[x]) PaintBand(info, x, D[x], S[x], o, color);
        } else {
            PaintBand(info, x, std::min<int64_t>(int64_t{E[x]} + o, h - 1), D[x], o, color);
            if (Valid(S[x]) && S[x] < D[x]) PaintBand(info, x, D[x], S[x], o, color);
        }
    }
    return 0;
}

uint32_t Run(tagTVKIMAGEINFO* image, const tagREMOVE_SHADOW_INFO* req) {
    REMOVE_SHADOW_PROCESS_INFO info;
    uint32_t rc = InitRemoveShadowInfo(image, req, info);
    if (rc == 0) rc = GetShadowEdge(info);
    if (rc == 0) rc = MedianFilter(info);
    if (rc == 0) rc = CorrectShadowLine(info);
    if (rc == 0) rc = CorrectDocumentLine(info);
    if (rc == 0) rc = ExtendDocumentLine(info);
    if (rc == 0) rc = CheckShadowLine(info);
    if (rc == 0) rc = PaintShadow(info, GetBackGroundColor(info));
    UnInitRemoveShadowInfo(info);
    return rc == kIpErrUnsupported ? 0 : rc;
}

} // namespace RemoveShadowSpace

namespace {

bool UsableImage(const tagTVKIMAGEINFO* img) {
    if (img == nullptr || img->lpImage == nullptr || img->lBps != 8) return false;
    if (img->lSpp != 1 && (img->lSpp != 3 || img->ulRGBOrder != 0)) return false;
    if (img->lWidth <= 0 || img->lHeight <= 0) return false;
    return int64_t{img->lSync} >= int64_t{img->lWidth} * img->lSpp &&
           TvkImageFits(img, kTvkGray8 | kTvkRgb24);
}

} // namespace

uint32_t RemoveShadow(tagTVKIMAGEINFO* image, tagREMOVE_SHADOW_INFO* request) {
    IpSetLastError(0);
    if (request == nullptr || request->ulSize < kRemoveShadowInfoSizeMin || !UsableImage(image))
        return kIpErrBadArgument;
    if (!RemoveShadowSpace::CanRemoveShadow(image, request->lPosition)) return 0;
    try {
        return RemoveShadowSpace::Run(image, request);
    } catch (...) {
        return kIpErrOutOfMemory;
    }
}
