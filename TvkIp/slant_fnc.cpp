// Edge-profile helpers shared by the size detectors.
#include "slant_fnc.h"

#include "DebugFile.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

using Tvk::tagPOINT;

int32_t SaturateToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int32_t SaturateToInt(__int128 v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Median of window[0 .. range-1], which is reordered: element range/2 of the
// window sorted ascending.
int32_t WindowMedian(int32_t* window, int32_t range) {
    std::nth_element(window, window + range / 2, window + range);
    return window[range / 2];
}

// Shared core of both median filters; false when the scratch memory is
// missing (the profile is then left alone).
bool MedianFilter(int32_t* profile, int32_t n, int32_t range) {
    if (!profile || n < 1 || range < 1) return true;
    const int32_t half = range / 2;
    const size_t padded = static_cast<size_t>(n) + 2 * static_cast<size_t>(half);
    int32_t* pad = new (std::nothrow) int32_t[padded];
    int32_t* window = new (std::nothrow) int32_t[range];
    if (!pad || !window) {
        delete[] pad;
        delete[] window;
        return false;
    }
    for (int32_t i = 0; i < half; ++i) pad[i] = profile[0];
    std::copy(profile, profile + n, pad + half);
    for (int32_t i = 0; i < half; ++i) pad[half + n + i] = profile[n - 1];
    for (int32_t i = 0; i < n; ++i) {
        std::copy(pad + i, pad + i + range, window);
        profile[i] = WindowMedian(window, range);
    }
    delete[] pad;
    delete[] window;
    return true;
}

} // namespace

// ---------------------------------------------------------------- geometry

Tvk::tagPOINT cross(int32_t a, int32_t b, int32_t c, int32_t d) {
    // A zero component makes the slope 0 or infinite; the construction then
    // tends to these points (and would otherwise turn NaN into an integer).
    if (a == 0 && b == 0) return {0, 0};
    if (b == 0) return {0, c};
    if (a == 0) return {0, d};
    const double k = static_cast<double>(b) / a;
    const double t = (static_cast<double>(d) - c) / (k - (-1.0 / k));
    return {SaturateToInt(t), SaturateToInt(c + k * t)};
}

Tvk::tagPOINT cross2(int32_t a, int32_t b, int32_t c, int32_t d) {
    if (a == 0 && b == 0) return {0, 0};
    if (a == 0) return {c, 0};
    if (b == 0) return {d, 0};
    const double k = static_cast<double>(a) / b;
    const double t = (static_cast<double>(d) - c) / (k + 1.0 / k);
    return {SaturateToInt(c + k * t), SaturateToInt(t)};
}

Tvk::tagPOINT cross_y_x(int32_t a, int32_t b, int32_t c, int32_t d) {
    const __int128 A = a, B = b, C = c, D = d;
    const __int128 den = A * A + B * B;
    if (den == 0) return {0, 0};
    const __int128 x = A * (A * D - B * C) / den;
    const __int128 y = A * (A * C + B * D) / den;
    return {SaturateToInt(x), SaturateToInt(y)};
}

Tvk::tagPOINT SideEdge_cross_y_x(Tvk::tagPOINT p1, Tvk::tagPOINT p2, int32_t e, int32_t f) {
    const __int128 det = static_cast<__int128>(p1.x) * p2.y - static_cast<__int128>(p2.x) * p1.y;
    if (det == 0) return {0, 0};
    const __int128 x =
        (static_cast<__int128>(f) * p1.x * p2.y - static_cast<__int128>(e) * p2.x * p1.y) / det;
    const __int128 y = (static_cast<__int128>(f) - e) * p1.y * p2.y / det;
    return {SaturateToInt(x), SaturateToInt(y)};
}

int64_t cos_product(const Tvk::tagPOINT* p1, const Tvk::tagPOINT* p2, bool* negative) {
    if (!p1 || !p2) return 0;
    const __int128 dot =
        static_cast<__int128>(p1->x) * p2->x + static_cast<__int128>(p1->y) * p2->y;
    if (dot < 0 && negative) *negative = true;
    const __int128 n1 = static_cast<__int128>(p1->x) * p1->x + static_cast<__int128>(p1->y) * p1->y;
    const __int128 n2 = static_cast<__int128>(p2->x) * p2->x + static_cast<__int128>(p2->y) * p2->y;
    if (n1 == 0 || n2 == 0) return 0;
    const __int128 r = ((dot * dot * 1024) / n1) * 1024 / n2;
    return r > std::numeric_limits<int64_t>::max() ? std::numeric_limits<int64_t>::max()
                                                   : static_cast<int64_t>(r);
}

bool CMaxLengthVec2(const Tvk::tagPOINT& a, const Tvk::tagPOINT& b) {
    const int64_t ax = std::llabs(a.x), bx = std::llabs(b.x);
    if (ax != bx) return ax < bx;
    return std::llabs(a.y) < std::llabs(b.y);
}

// ---------------------------------------------------------- profile queries

int32_t leftindex(const int16_t* profile, int32_t n) {
    if (!profile) return 0;
    for (int32_t i = 0; i < n; ++i)
        if (profile[i] != -1) return i;
    return 0;
}

int32_t rightindex(const int16_t* profile, int32_t n) {
    if (!profile) return n - 1;
    for (int32_t i = n - 1; i >= 0; --i)
        if (profile[i] != -1) return i;
    return n - 1;
}

int32_t GetContactPoint(const int32_t* profile, int32_t a, int32_t b, int32_t mode) {
    if (a == b || !profile) return a;
    const int64_t num = static_cast<int64_t>(profile[b]) - profile[a];
    const int64_t den = static_cast<int64_t>(b) - a;
    auto residual = [&](int32_t i) { return profile[i] - (static_cast<int64_t>(i) * num) / den; };
    int64_t lo = residual(a), hi = lo;
    int32_t loIndex = a, hiIndex = a;
    const int32_t step = a < b ? 1 : -1;
    for (int32_t i = a;; i += step) {
        if (profile[i] >= 0) {
            const int64_t r = residual(i);
            if (r < lo) {
                lo = r;
                loIndex = i;
            }
            if (r > hi) {
                hi = r;
                hiIndex = i;
            }
        }
        if (i == b) break;
    }
    return mode == 0 ? loIndex : hiIndex;
}

int32_t EnumContactPoint(const int32_t* profile, int32_t a, int32_t b, int32_t mode,
                         EdgeIndexList& list, int32_t* far, bool top) {
    // In-order walk of the split tree with an explicit stack: a long convex
    // profile would otherwise recurse once per column.
    struct Item {
        int32_t a, b;
        bool emit;
    };
    std::vector<Item> stack;
    stack.push_back({a, b, false});
    int32_t count = 0;
    bool first = true;
    while (!stack.empty()) {
        const Item it = stack.back();
        stack.pop_back();
        if (it.emit) {
            list.push_back(it.a);
            ++count;
            continue;
        }
        const bool isTop = first;
        first = false;
        if (it.a == it.b) continue;
        const int32_t c = GetContactPoint(profile, it.a, it.b, mode);
        if (c == it.a || c == it.b) continue;
        if (top && isTop && far) *far = c;
        stack.push_back({c, it.b, false});
        stack.push_back({c, c, true});
        stack.push_back({it.a, c, false});
    }
    return count;
}

void get_outline(const int32_t* profile, int32_t a, int32_t b, EdgeIndexList& list, int32_t* far) {
    get_outline_ex(profile, a, b, list, far, true);
}

void get_outline_ex(const int32_t* profile, int32_t a, int32_t b, EdgeIndexList& list, int32_t* far,
                    bool side) {
    list.push_back(a);
    EnumContactPoint(profile, a, b, side ? 0 : 1, list, far, true);
    list.push_back(b);
}

// ------------------------------------------------------ cleaning, smoothing

void filtering_edge_data(int32_t* profile, int32_t n, int32_t maxLength) {
    if (!profile) return;
    int32_t runStart = -1;
    for (int32_t i = 0; i <= n; ++i) {
        const bool valid = i < n && profile[i] != -1;
        if (valid) {
            if (runStart < 0) runStart = i;
            continue;
        }
        if (runStart >= 0 && i - runStart <= maxLength)
            std::fill(profile + runStart, profile + i, -1);
        runStart = -1;
    }
}

bool CIndexesMax(const EdgeIndexList& a, const EdgeIndexList& b) {
    return a.size() < b.size();
}

void filtering_edge_data(int32_t* profile, int32_t n) {
    if (!profile) return;
    // Runs as (start, length); the first of equally long runs is kept.
    int32_t bestStart = -1, bestLength = 0, runStart = -1;
    for (int32_t i = 0; i <= n; ++i) {
        const bool valid = i < n && profile[i] >= 0;
        if (valid) {
            if (runStart < 0) runStart = i;
            continue;
        }
        if (runStart >= 0 && i - runStart > bestLength) {
            bestStart = runStart;
            bestLength = i - runStart;
        }
        runStart = -1;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (profile[i] >= 0 && (i < bestStart || i >= bestStart + bestLength)) profile[i] = -1;
    }
}

void edge_remove_from_bottom(int32_t* profile, int32_t n, int32_t limit) {
    if (!profile) return;
    for (int32_t i = 0; i < n; ++i)
        if (profile[i] > limit) profile[i] = -1;
}

int32_t get_median_value(const int32_t* p, int32_t range) {
    if (!p) return 0;
    if (range <= 2) return *p;
    int32_t* window = new (std::nothrow) int32_t[range];
    if (!window) return *p;
    std::copy(p - range / 2, p - range / 2 + range, window);
    const int32_t v = WindowMedian(window, range);
    delete[] window;
    return v;
}

void revise_median(int32_t* profile, int32_t n, int32_t range) {
    assert(range % 2 && "range%2");
    MedianFilter(profile, n, range);
}

void revise_median_ex(int32_t* profile, int32_t n, int32_t range) {
    assert(range % 2 && "range%2");
    MedianFilter(profile, n, range);
}

int32_t get_median_range_ex(int32_t length, int32_t resolution) {
    const int64_t r = static_cast<int64_t>(length) * resolution / 25400 * 2 + 1;
    return static_cast<int32_t>(std::clamp<int64_t>(r, 3, std::numeric_limits<int32_t>::max()));
}

// --------------------------------------------------------------- histograms

namespace {

void AppendSteps(const int32_t* p, int32_t from, int32_t to, int32_t step, EdgeHistogram& out) {
    // Steps of the entries from..to (inclusive) to the entry step further on.
    for (int32_t i = from; i <= to; ++i) {
        if (p[i] != -1 && p[i + step] != -1)
            out.push_back(static_cast<int16_t>(std::abs(p[i] - p[i + step])));
    }
}

} // namespace

void get_hist(const int32_t* profile, int32_t n, int32_t step, EdgeHistogram* hist, int32_t kind) {
    if (kind != 2 || !profile || !hist || n < 1 || step < 1) return;
    int32_t peak = 0;
    for (int32_t i = 1; i < n; ++i)
        if (profile[i] > profile[peak]) peak = i;
    AppendSteps(profile, 0, peak - step - 1, step, hist[0]);
    int32_t best = 0, lastPeak = 0;
    for (int32_t i = n - 1; i >= 0; --i) {
        if (profile[i] > best) {
            best = profile[i];
            lastPeak = i;
        }
    }
    AppendSteps(profile, lastPeak, n - step - 1, step, hist[1]);
}

void get_hist2(const int32_t* profile, int32_t n, int32_t step, EdgeHistogram* hist, int32_t kind) {
    if (kind != 2 || !profile || !hist || n < 1 || step < 1) return;
    constexpr int32_t kStart = 134217727;
    int32_t best = kStart, low = n - 1;
    for (int32_t i = 0; i < n; ++i) {
        if (profile[i] >= 0 && profile[i] < best) {
            best = profile[i];
            low = i;
        }
    }
    AppendSteps(profile, 0, low - step - 1, step, hist[0]);
    best = kStart;
    int32_t lastLow = 0;
    for (int32_t i = n - 1; i >= 0; --i) {
        if (profile[i] >= 0 && profile[i] < best) {
            best = profile[i];
            lastLow = i;
        }
    }
    AppendSteps(profile, lastLow, n - step - 1, step, hist[1]);
    filtering_hist_data(hist[0], 10);
    filtering_hist_data(hist[1], 10);
}

void filtering_hist_data(EdgeHistogram& hist, int32_t margin) {
    if (hist.empty()) return;
    int64_t sum = 0;
    for (int16_t v : hist) sum += v;
    const int64_t mean = sum / static_cast<int64_t>(hist.size());
    if (mean == 0) return;
    const int64_t limit = mean + margin;
    hist.erase(std::remove_if(hist.begin(), hist.end(), [&](int16_t v) { return v > limit; }),
               hist.end());
}

void get_hist(const int16_t* profile, int32_t n, int16_t, int32_t step, EdgeHistogram* hist,
              int16_t* firstValid, int16_t* firstLowest, int16_t* lastLowest, int16_t* lastValid) {
    if (!profile || !hist || !firstValid || !firstLowest || !lastLowest || !lastValid) return;
    if (n < 1 || step < 1) return;
    int32_t best = 2047, fl = n - 1;
    for (int32_t i = 0; i < n; ++i) {
        if (profile[i] >= 0 && profile[i] < best) {
            best = profile[i];
            fl = i;
        }
    }
    best = 2047;
    int32_t ll = 0;
    for (int32_t i = n - 1; i >= 0; --i) {
        if (profile[i] >= 0 && profile[i] < best) {
            best = profile[i];
            ll = i;
        }
    }
    int32_t fv = 0, lv = n - 1;
    for (int32_t i = 0; i < n; ++i) {
        if (profile[i] != -1) {
            fv = i;
            break;
        }
    }
    for (int32_t i = n - 1; i >= 0; --i) {
        if (profile[i] != -1) {
            lv = i;
            break;
        }
    }
    for (int32_t i = fv; i + step <= fl - 1; ++i) {
        if (profile[i] >= 0 && profile[i + step] >= 0)
            hist[0].push_back(static_cast<int16_t>(profile[i] - profile[i + step]));
    }
    for (int32_t i = ll + 1; i + step <= lv; ++i) {
        if (profile[i] >= 0 && profile[i + step] >= 0)
            hist[1].push_back(static_cast<int16_t>(profile[i + step] - profile[i]));
    }
    *firstValid = static_cast<int16_t>(fv);
    *firstLowest = static_cast<int16_t>(fl);
    *lastLowest = static_cast<int16_t>(ll);
    *lastValid = static_cast<int16_t>(lv);
}

void get_slant(EdgeHistogram* hist, int32_t, int32_t step, int32_t* dx, int32_t* dy) {
    if (!hist || !dx || !dy) return;
    auto partialSum = [](EdgeHistogram& h, int32_t& count) {
        std::sort(h.begin(), h.end());
        count = static_cast<int32_t>(h.size() * 9 / 10);
        if (count == 0) count = static_cast<int32_t>(h.size());
        int32_t sum = 0;
        for (int32_t i = 0; i < count; ++i) sum += h[i];
        return sum;
    };
    int32_t count = 0;
    if (hist[0].size() > hist[1].size()) {
        const int32_t sum = partialSum(hist[0], count);
        if (sum != 0) {
            *dx = count * step;
            *dy = sum;
            return;
        }
    } else if (!hist[1].empty()) {
        const int32_t sum = partialSum(hist[1], count);
        if (sum != 0) {
            *dx = sum;
            *dy = step * count;
            return;
        }
    }
    *dx = 1;
    *dy = 0;
}

void dump_hist(const int16_t* values, int32_t n, const char* fileName) {
    if (!values || !fileName) return;
    FILE* f = DebugFileOpenForWriting(fileName, false);
    if (!f) return;
    for (int32_t i = 0; i < n; ++i) std::fprintf(f, "%d \n", values[i]);
    std::fclose(f);
}

void dump_hist(const EdgeHistogram& hist, const char* fileName) {
    dump_hist(hist.data(), static_cast<int32_t>(hist.size()), fileName);
}

// ------------------------------------------------------------ outline chains

void get_pvec(const int32_t* profile, const EdgeIndexList& columns,
              std::vector<Tvk::tagPOINT>& vectors) {
    for (size_t i = 1; i < columns.size(); ++i) {
        const int32_t c1 = columns[i - 1], c2 = columns[i];
        vectors.push_back({std::abs(c2 - c1), std::abs(profile[c2] - profile[c1])});
    }
}

void get_sep_xvec(const int32_t* profile, const EdgeIndexList& columns, EdgeIndexList* out) {
    get_sep_xvec_ex(profile, columns, out, true);
}

void get_sep_xvec_ex(const int32_t* profile, const EdgeIndexList& columns, EdgeIndexList* out,
                     bool top) {
    if (columns.empty()) return;
    auto better = [&](int32_t v, int32_t best) { return top ? v < best : v > best; };
    size_t firstExtreme = 0, lastExtreme = 0;
    for (size_t i = 1; i < columns.size(); ++i)
        if (better(profile[columns[i]], profile[columns[firstExtreme]])) firstExtreme = i;
    lastExtreme = columns.size() - 1;
    for (size_t i = columns.size() - 1; i-- > 0;)
        if (better(profile[columns[i]], profile[columns[lastExtreme]])) lastExtreme = i;
    for (size_t i = 0; i <= firstExtreme; ++i) out[0].push_back(columns[i]);
    for (size_t i = columns.size(); i-- > lastExtreme;) out[1].push_back(columns[i]);
}

int32_t get_median_range(int32_t resolution) {
    return std::max(2 * static_cast<int32_t>(static_cast<int64_t>(resolution) * 1000 / 25400) + 1,
                    3);
}
