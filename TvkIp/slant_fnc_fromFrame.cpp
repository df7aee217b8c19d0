// Slant and corners from the two side outlines of a sheet: median smoothing,
// contact points, straight runs scored by how much the outline bulges, a vote
// for the dominant direction, and the corners as crossings of supporting lines.
#include "slant_fnc_fromFrame.h"

#include "DetectSlantAndSizeEx_FromFrame.h"
#include "SizeDetectorGlue.h"
#include "slant_fnc.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <numeric>

namespace FROMFRAME_FUNCSPACE {

namespace {

constexpr double kPiApprox = 3.1415;
constexpr int kMaxContactDepth = 6;
constexpr double kPartyDegrees = 0.5;     // vectors of one party
constexpr double kCandidateDegrees = 2.0; // a second candidate differs by this much
constexpr double kMajorityDegrees = 1.0;  // candidates of both outlines agree
constexpr double kMaxScore = 0.6;

bool Valid(uint16_t v) {
    return v != kOutlineNone;
}

double Degrees(double ratio) {
    return std::atan(ratio) * 180.0 / kPiApprox;
}

// Angles above 45 degrees count as 90 minus the angle.
double Fold(double deg) {
    return deg > 45.0 ? 90.0 - deg : deg;
}

// Folded angle of a direction (dx, dy); 45 degrees when dx is 0.
double FoldedAngle(int64_t dx, int64_t dy) {
    return dx == 0 ? 45.0
                   : Fold(Degrees(std::fabs(static_cast<double>(dy) / static_cast<double>(dx))));
}

bool Enabled(const tagVECTOR_INFO& v) {
    return v.score != kVectorDisabled;
}

tagVECTOR_INFO DisabledVector() {
    return {0, 0, 0.0, 0.0, 0.0, kVectorDisabled};
}

// Entry of a working copy: a line without edge reads as the maximum.
int64_t Entry(const CTvkArray<uint16_t>& o, int32_t line, int32_t maximum) {
    const uint16_t v = o[static_cast<size_t>(line)];
    return Valid(v) ? v : maximum;
}

// Line between s and e whose entry lies lowest below their chord (the first
// on ties).
int32_t GetContactPoint(const CTvkArray<uint16_t>& o, int32_t maximum, int32_t s, int32_t e) {
    const double es = static_cast<double>(Entry(o, s, maximum));
    const double ee = static_cast<double>(Entry(o, e, maximum));
    int32_t best = s;
    double lowest = 0.0;
    for (int32_t l = s; l <= e; ++l) {
        const double chord = es + (ee - es) * (l - s) / (e - s);
        const double d = static_cast<double>(Entry(o, l, maximum)) - chord;
        if (d < lowest) {
            lowest = d;
            best = l;
        }
    }
    return best;
}

bool EnumContactPoint(const CTvkArray<uint16_t>& o, int32_t maximum, int32_t s, int32_t e,
                      int depth, CTvkArray<int32_t>& points) {
    if (depth > kMaxContactDepth || e - s < 2) return true;
    const int32_t c = GetContactPoint(o, maximum, s, e);
    if (c == s || c == e) return true;
    return EnumContactPoint(o, maximum, s, c, depth + 1, points) && points.push_back(c) &&
           EnumContactPoint(o, maximum, c, e, depth + 1, points);
}

// Sign folding of a run of the first outline: opposite signs give
// (|dy|, |dx|), dx 0 gives (dy, 0); then the folded angle.
void revise_vector_left(tagVECTOR_INFO& v) {
    if ((v.dx < 0 && v.dy > 0) || (v.dx > 0 && v.dy < 0)) {
        const int32_t dx = std::abs(v.dy);
        v.dy = std::abs(v.dx);
        v.dx = dx;
    } else if (v.dx == 0) {
        v.dx = v.dy;
        v.dy = 0;
    }
    v.angle = FoldedAngle(v.dx, v.dy);
}

// The second outline runs mirrored (its entries count from the other side),
// so its runs are folded as the first outline's mirror image: both outlines
// then give the same vector for the same sheet side.
void revise_vector_right(tagVECTOR_INFO& v) {
    v.dy = -v.dy;
    revise_vector_left(v);
}

// Sum of the enabled vectors within half a degree of `lead`, each added
// with its components swapped when that keeps the sum's dominant direction.
tagVECTOR_INFO get_party(const CTvkArray<tagVECTOR_INFO>& vectors, const tagVECTOR_INFO& lead) {
    if (!Enabled(lead)) return DisabledVector();
    int64_t x = 0;
    int64_t y = 0;
    double score = 0.0;
    double length = 0.0;
    for (size_t i = 0; i < vectors.size(); ++i) {
        const tagVECTOR_INFO& v = vectors[i];
        if (!Enabled(v) || std::fabs(v.angle - lead.angle) > kPartyDegrees) continue;
        int64_t vx = v.dx;
        int64_t vy = v.dy;
        if ((x != 0 || y != 0) &&
            ((std::llabs(x) >= std::llabs(y)) != (std::llabs(vx) >= std::llabs(vy)))) {
            std::swap(vx, vy);
        }
        x += vx;
        y += vy;
        score += v.score;
        length += v.length;
    }
    tagVECTOR_INFO p{};
    p.dx = static_cast<int32_t>(x);
    p.dy = static_cast<int32_t>(y);
    p.length = length;
    p.score = score;
    p.angle = FoldedAngle(x, y);
    return p;
}

// Sum of the lengths of the enabled vectors within half a degree.
double party_length(const CTvkArray<tagVECTOR_INFO>& vectors, const tagVECTOR_INFO& lead) {
    double sum = 0.0;
    for (size_t i = 0; i < vectors.size(); ++i) {
        const tagVECTOR_INFO& v = vectors[i];
        if (Enabled(v) && std::fabs(v.angle - lead.angle) <= kPartyDegrees) sum += v.length;
    }
    return sum;
}

// The two candidates of one outline: the party of the strongest vector and
// the party of the next one that points elsewhere.
bool get_candidate(CTvkArray<tagVECTOR_INFO>& vectors, tagVECTOR_INFO cand[2]) {
    cand[0] = DisabledVector();
    cand[1] = DisabledVector();
    const size_t n = vectors.size();
    if (n == 0) return true;
    CTvkArray<double> party;
    CTvkArray<size_t> order;
    if (!party.assign(n) || !order.assign(n)) return false;
    for (size_t i = 0; i < n; ++i) {
        party.push_back(Enabled(vectors[i]) ? party_length(vectors, vectors[i]) : -1.0);
        order.push_back(i);
    }
    // CJudge: disabled vectors last, otherwise the larger party first.
    std::stable_sort(order.data(), order.data() + n, [&](size_t a, size_t b) {
        const bool ea = Enabled(vectors[a]);
        const bool eb = Enabled(vectors[b]);
        if (ea != eb) return ea;
        return party[a] > party[b];
    });
    const tagVECTOR_INFO& best = vectors[order[0]];
    if (!Enabled(best)) return true;
    cand[0] = get_party(vectors, best);
    for (size_t k = 1; k < n; ++k) {
        const tagVECTOR_INFO& v = vectors[order[k]];
        if (Enabled(v) && std::fabs(v.angle - best.angle) >= kCandidateDegrees) {
            cand[1] = get_party(vectors, v);
            break;
        }
    }
    return true;
}

// The stronger candidate of one outline.
const tagVECTOR_INFO& max_vec_info(const tagVECTOR_INFO cand[2]) {
    if (Enabled(cand[0]) && (!Enabled(cand[1]) || cand[1].length < cand[0].length)) return cand[0];
    if (Enabled(cand[1])) return cand[1];
    return cand[0];
}

Tvk::tagPOINT get_slant_from_candidates(tagVECTOR_INFO first[2], tagVECTOR_INFO second[2]) {
    const Tvk::tagPOINT upright{1, 0};
    const bool f = Enabled(first[0]);
    const bool s = Enabled(second[0]);
    const tagVECTOR_INFO* chosen = nullptr;
    if (f != s) {
        tagVECTOR_INFO* c = f ? first : second;
        chosen = Enabled(c[1]) && c[1].score < c[0].score ? &c[1] : &c[0];
    } else if (!f) {
        return upright;
    } else {
        for (tagVECTOR_INFO* c : {first, second}) {
            if (Enabled(c[1]) && c[1].dx == c[0].dx && c[1].dy == c[0].dy)
                c[1].score = kVectorDisabled;
        }
        // Each candidate gains its own length for every agreeing candidate of
        // the other outline.
        double gain[2][2] = {{0, 0}, {0, 0}};
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 2; ++j) {
                if (Enabled(first[i]) && Enabled(second[j]) &&
                    std::fabs(first[i].angle - second[j].angle) <= kMajorityDegrees) {
                    gain[0][i] += first[i].length;
                    gain[1][j] += second[j].length;
                }
            }
        }
        for (int i = 0; i < 2; ++i) {
            first[i].length += gain[0][i];
            second[i].length += gain[1][i];
        }
        const tagVECTOR_INFO& a = max_vec_info(first);
        const tagVECTOR_INFO& b = max_vec_info(second);
        chosen = a.length > 1.1 * b.length ? &a : &b;
    }
    const Tvk::tagPOINT v = revise_vec_value(reduction({chosen->dx, chosen->dy}));
    if (v.x == 0 || v.y == 0) return upright;
    return {v.y, v.x};
}

// Upright rectangle of both outlines (the second in image positions).
void get_rect(const CTvkArray<uint16_t>& f, const int32_t fi[4], const CTvkArray<uint16_t>& s,
              const int32_t si[4], Tvk::tagPOINT pts[4]) {
    const int32_t left = std::min<int32_t>(f[fi[1]], f[fi[2]]);
    const int32_t right = std::max<int32_t>(s[si[1]], s[si[2]]);
    const int32_t top = std::min(fi[0], si[0]);
    const int32_t bottom = std::max(fi[3], si[3]);
    pts[0] = {left, bottom};
    pts[1] = {right, bottom};
    pts[2] = {right, top};
    pts[3] = {left, top};
}

// Slanted corners: supporting lines of the outline samples across and
// along the slant (a, b), crossed.
void get_points_core(const CTvkArray<uint16_t>& f, const int32_t fi[4],
                     const CTvkArray<uint16_t>& s, const int32_t si[4], Tvk::tagPOINT slant,
                     int32_t xres, int32_t yres, Tvk::tagPOINT pts[4]) {
    const int64_t a = slant.x;
    const int64_t b = slant.y;
    int64_t pMin = INT64_MAX, qMax = INT64_MIN, pMax = INT64_MIN, qMin = INT64_MAX;
    auto visit = [&](const CTvkArray<uint16_t>& o, int32_t from, int32_t to, bool lower) {
        for (int32_t l = from; l <= to; ++l) {
            const uint16_t e = o[static_cast<size_t>(l)];
            if (!Valid(e)) continue;
            const int64_t x = e;
            const int64_t y = yres != 0 ? int64_t{l} * xres / yres : l;
            const int64_t p = (b * x - y * a) / b;
            const int64_t q = (x * a + y * b) / a;
            if (lower) {
                pMin = std::min(pMin, p);
                qMax = std::max(qMax, q);
            } else {
                pMax = std::max(pMax, p);
                qMin = std::min(qMin, q);
            }
        }
    };
    visit(f, fi[2], fi[3], true);
    visit(s, si[2], si[3], true);
    visit(s, si[0], si[1], false);
    visit(f, fi[0], fi[1], false);
    pts[0] = cross(a, b, pMin, qMin);
    pts[1] = cross(a, b, pMin, qMax);
    pts[2] = cross(a, b, pMax, qMax);
    pts[3] = cross(a, b, pMax, qMin);
}

// Both outlines nearly straight, long and within 2 degrees: the sheet is
// upright after all.
bool final_slant_check_for_tolvu(const CTvkArray<uint16_t>& f, const int32_t fi[4],
                                 const CTvkArray<uint16_t>& s, const int32_t si[4], int32_t xres) {
    const double longLine = static_cast<double>(int64_t{xres} * 600 / 254);
    bool anyLong = false;
    for (int k = 0; k < 2; ++k) {
        const CTvkArray<uint16_t>& o = k == 0 ? f : s;
        const int32_t* idx = k == 0 ? fi : si;
        const double dl = idx[3] - idx[0];
        const double de =
            std::fabs(static_cast<double>(o[idx[3]]) - static_cast<double>(o[idx[0]]));
        if (dl <= 0.0) return false;
        if (Fold(Degrees(de / dl)) > 2.0) return false;
        if (std::sqrt(dl * dl + de * de) > longLine) anyLong = true;
    }
    return anyLong;
}

} // namespace

bool revise_median(CTvkArray<uint16_t>& outline, int32_t range) {
    const size_t n = outline.size();
    if (range < 3 || n == 0) return true;
    const size_t half = static_cast<size_t>(range / 2);
    CTvkArray<uint16_t> padded;
    CTvkArray<uint16_t> window;
    if (!padded.assign(n + 2 * half) || !window.assign(static_cast<size_t>(range))) return false;
    for (size_t i = 0; i < half; ++i) padded.push_back(outline[0]);
    for (size_t i = 0; i < n; ++i) padded.push_back(outline[i]);
    for (size_t i = 0; i < half; ++i) padded.push_back(outline[n - 1]);
    const size_t w = 2 * half + 1;
    for (size_t i = 0; i < n; ++i) {
        window.clear();
        for (size_t k = 0; k < w; ++k) window.push_back(padded[i + k]);
        std::nth_element(window.data(), window.data() + half, window.data() + w);
        outline[i] = window[half];
    }
    return true;
}

bool get_4index(const CTvkArray<uint16_t>& o, int32_t index[4]) {
    const int32_t n = static_cast<int32_t>(o.size());
    int32_t first = -1, last = -1, lowFirst = -1, lowLast = -1;
    uint16_t lowest = kOutlineNone;
    for (int32_t l = 0; l < n; ++l) {
        const uint16_t v = o[static_cast<size_t>(l)];
        if (!Valid(v)) continue;
        if (first < 0) first = l;
        last = l;
        if (v < lowest) {
            lowest = v;
            lowFirst = l;
        }
        if (v == lowest) lowLast = l;
    }
    if (first < 0) return false;
    index[0] = first;
    index[1] = lowFirst;
    index[2] = lowLast;
    index[3] = last;
    return true;
}

bool get_outline_data(const CTvkArray<uint16_t>& outline, int32_t maximum,
                      CTvkArray<int32_t>& points) {
    points.clear();
    int32_t idx[4];
    if (!get_4index(outline, idx)) return true;
    if (!points.push_back(idx[0])) return false;
    if (idx[3] == idx[0]) return true;
    return EnumContactPoint(outline, maximum, idx[0], idx[3], 1, points) &&
           points.push_back(idx[3]);
}

bool get_vector_data(const CTvkArray<uint16_t>& outline, int32_t maximum,
                     const CTvkArray<int32_t>& points, int32_t yres,
                     CTvkArray<tagVECTOR_INFO>& vectors) {
    vectors.clear();
    const int32_t count = static_cast<int32_t>(outline.size());
    const double t = static_cast<double>(int64_t{yres} * 50 / 2540);
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        const int32_t l0 = points[i];
        const int32_t l1 = points[i + 1];
        if (l0 < 0 || l1 >= count || l1 <= l0) continue;
        tagVECTOR_INFO v{};
        v.dx = l1 - l0;
        const double e0 = static_cast<double>(Entry(outline, l0, maximum));
        const double e1 = static_cast<double>(Entry(outline, l1, maximum));
        v.dy = static_cast<int32_t>(e1 - e0);
        v.length = std::sqrt(static_cast<double>(v.dx) * v.dx + static_cast<double>(v.dy) * v.dy);
        double area = 0.0;
        for (int32_t l = l0; l <= l1; ++l) {
            const double chord = e0 + (e1 - e0) * (l - l0) / (l1 - l0);
            area += std::max(0.0, static_cast<double>(Entry(outline, l, maximum)) - chord - t);
        }
        v.area = area;
        v.score = v.length == 0.0 ? kVectorDisabled : area / v.length;
        if (!vectors.push_back(v)) return false;
    }
    if (vectors.empty()) return vectors.push_back({1, 0, 0.0, 1.0, 0.0, 0.0});
    return true;
}

Tvk::tagPOINT get_slant_core(const CTvkArray<uint16_t>& first, const CTvkArray<uint16_t>& second,
                             int32_t maximum, int32_t xres, int32_t yres) {
    const Tvk::tagPOINT upright{1, 0};
    const int64_t d = int64_t{xres} * 50 / 254;
    const int64_t e = int64_t{yres} * 50 / 254;
    const double minLength =
        static_cast<double>(static_cast<int64_t>(std::sqrt(static_cast<double>(d * d + e * e))));
    tagVECTOR_INFO cand[2][2];
    for (int k = 0; k < 2; ++k) {
        const CTvkArray<uint16_t>& o = k == 0 ? first : second;
        CTvkArray<int32_t> points;
        CTvkArray<tagVECTOR_INFO> vectors;
        if (!get_outline_data(o, maximum, points) ||
            !get_vector_data(o, maximum, points, yres, vectors)) {
            return upright;
        }
        for (size_t i = 0; i < vectors.size(); ++i) {
            tagVECTOR_INFO& v = vectors[i];
            if (k == 0) {
                revise_vector_left(v);
            } else {
                revise_vector_right(v);
            }
            if (v.length < minLength || v.score > kMaxScore) v.score = kVectorDisabled;
        }
        if (!get_candidate(vectors, cand[k])) return upright;
    }
    return get_slant_from_candidates(cand[0], cand[1]);
}

Tvk::tagPOINT cross(int64_t a, int64_t b, int64_t p, int64_t q) {
    const double k = static_cast<double>(a) / static_cast<double>(b);
    const double t = static_cast<double>(q - p) / (k + 1.0 / k);
    return {static_cast<int32_t>(static_cast<double>(p) + k * t), static_cast<int32_t>(t)};
}

Tvk::tagPOINT reduction(Tvk::tagPOINT v) {
    const int64_t x = std::llabs(int64_t{v.x});
    const int64_t y = std::llabs(int64_t{v.y});
    const int64_t g = std::gcd(x, y);
    if (g == 0) return v;
    if (x != 0 && y != 0) return {static_cast<int32_t>(x / g), static_cast<int32_t>(y / g)};
    return {static_cast<int32_t>(v.x / g), static_cast<int32_t>(v.y / g)};
}

Tvk::tagPOINT revise_vec_value(Tvk::tagPOINT v) {
    auto digits = [](int64_t n) {
        int d = 1;
        for (n = std::llabs(n); n >= 10; n /= 10) ++d;
        return d;
    };
    const int over = std::max(digits(v.x), digits(v.y)) - 5;
    for (int i = 0; i < over; ++i) {
        v.x /= 10;
        v.y /= 10;
    }
    return v;
}

void get_slant_fromFrame(const CTvkArray<uint16_t>* first, const CTvkArray<uint16_t>* second,
                         int32_t count, int32_t maximum, int32_t xres, int32_t yres,
                         Tvk::tagPOINT* slant, Tvk::tagPOINT* setA, Tvk::tagPOINT* setB) {
    if (first == nullptr || second == nullptr || slant == nullptr || setA == nullptr ||
        setB == nullptr) {
        return;
    }
    *slant = {1, 0};
    for (int i = 0; i < 4; ++i) setA[i] = setB[i] = {0, 0};
    CTvkArray<uint16_t> f;
    CTvkArray<uint16_t> s;
    const size_t n =
        std::min<size_t>({static_cast<size_t>(std::max(count, 0)), first->size(), second->size()});
    if (n == 0 || !f.assign(n) || !s.assign(n)) return;
    for (size_t i = 0; i < n; ++i) {
        f.push_back((*first)[i]);
        s.push_back((*second)[i]);
    }
    const int32_t range = get_median_range(xres);
    if (!revise_median(f, range) || !revise_median(s, range)) return;
    int32_t fi[4];
    int32_t si[4];
    if (!get_4index(f, fi) || !get_4index(s, si)) return;

    *slant = get_slant_core(f, s, maximum, xres, yres);
    if (slant->x != 0 && slant->y != 0 && final_slant_check_for_tolvu(f, fi, s, si, xres)) {
        *slant = {1, 0};
    }

    // The second outline back in image positions.
    for (size_t i = 0; i < n; ++i) {
        if (Valid(s[i])) s[i] = static_cast<uint16_t>(maximum - s[i]);
    }
    get_rect(f, fi, s, si, setB);
    if (slant->x != 0 && slant->y != 0) {
        get_points_core(f, fi, s, si, *slant, xres, yres, setA);
    } else {
        for (int i = 0; i < 4; ++i) setA[i] = setB[i];
    }
}

} // namespace FROMFRAME_FUNCSPACE

// ---------------------------------------------------------------------------

bool CWhiteBkg4PtDetector::GetSlant(const int16_t* first, const int16_t* second, int32_t count,
                                    int32_t maximum, int16_t xres, int16_t yres) {
    if (first == nullptr || second == nullptr || count <= 0) return false;
    if (maximum < 0) {
        maximum = -1;
        for (int32_t i = 0; i < count; ++i)
            maximum = std::max<int32_t>({maximum, first[i], second[i]});
    }
    CTvkArray<uint16_t> f;
    CTvkArray<uint16_t> s;
    if (!f.assign(static_cast<size_t>(count)) || !s.assign(static_cast<size_t>(count)))
        return false;
    // Any negative entry marks a line without edge.
    for (int32_t i = 0; i < count; ++i) {
        f.push_back(first[i] < 0 ? kOutlineNone : static_cast<uint16_t>(first[i]));
        s.push_back(second[i] < 0 ? kOutlineNone : static_cast<uint16_t>(second[i]));
    }
    SetReverse(s, maximum);
    FROMFRAME_FUNCSPACE::get_slant_fromFrame(&f, &s, count, maximum, xres, yres, &m_slant, m_ptA,
                                             m_ptB);
    if (m_bTranspose) ChangeXY();
    return true;
}

Tvk::tagPOINT CWhiteBkg4PtDetector::RectLeftTop() const {
    Tvk::tagPOINT p = m_ptB[0];
    for (const auto& q : m_ptB) {
        p.x = std::min(p.x, q.x);
        p.y = std::min(p.y, q.y);
    }
    return p;
}

Tvk::tagPOINT CWhiteBkg4PtDetector::RectSize() const {
    const Tvk::tagPOINT lo = RectLeftTop();
    Tvk::tagPOINT hi = m_ptB[0];
    for (const auto& q : m_ptB) {
        hi.x = std::max(hi.x, q.x);
        hi.y = std::max(hi.y, q.y);
    }
    return {hi.x - lo.x + 1, hi.y - lo.y + 1};
}

void CWhiteBkg4PtDetector::SetReverse(CTvkArray<uint16_t>& outline, int32_t maximum) {
    for (size_t i = 0; i < outline.size(); ++i) {
        if (outline[i] != kOutlineNone && static_cast<int16_t>(outline[i]) >= 0) {
            outline[i] = static_cast<uint16_t>(maximum - outline[i]);
        }
    }
}

void CWhiteBkg4PtDetector::ChangeXY() {
    std::swap(m_slant.x, m_slant.y);
    if (m_slant.x == 0 || m_slant.y == 0) m_slant = {0, 1};
    for (auto* set : {m_ptA, m_ptB}) {
        for (int i = 0; i < 4; ++i) std::swap(set[i].x, set[i].y);
    }
}

// ---------------------------------------------------------------------------
// Mode-10 detector

void CDetectSlantAndSize_FromFrame::TakeResolutions(const tagTVKIMAGEINFO* image) {
    if (image != nullptr && image->size >= kTvkImageInfoSize) {
        m_xres = image->lXResolution;
        m_yres = image->lYResolution;
    }
}

uint32_t CDetectSlantAndSize_FromFrame::InitProc(const tagTVKIMAGEINFO* image,
                                                 tagDETECTSLANTSIZEEXBASIC*) {
    TakeResolutions(image);
    return kDssOk;
}

uint32_t CDetectSlantAndSize_FromFrame::ResultProc(const tagTVKIMAGEINFO* image,
                                                   tagDETECTSLANTSIZEEXBASIC* request) {
    if (request == nullptr) return kDssBadRequest;
    // A working copy: fields beyond the request's size read as 0.
    tagDETECTSLANTSIZEEX_FROMFRAME work;
    std::memset(&work, 0, sizeof(work));
    const size_t n = std::min<size_t>(request->cbsize, sizeof(work));
    std::memcpy(&work, request, n);
    TakeResolutions(image);
    const uint32_t flags = work.basic.dwResultFlag;
    if ((flags & (kDssResultRect | kDssResultCorners | kDssResultSlant)) != 0) {
        bool transpose = false;
        if (work.dwFrameKind == kFrameOutlinePairTransposed) {
            transpose = true;
        } else if (work.dwFrameKind != kFrameOutlinePair) {
            return kDssUnknownMode;
        }
        if (work.pOutline1 == nullptr || work.pOutline2 == nullptr) return kDssBadRequest;
        CWhiteBkg4PtDetector d(transpose);
        const int32_t count = static_cast<int32_t>(std::min<uint32_t>(work.dwCount, INT32_MAX));
        if (!d.GetSlant(work.pOutline1, work.pOutline2, count, -1, static_cast<int16_t>(m_xres),
                        static_cast<int16_t>(m_yres))) {
            return kDssBadRequest;
        }
        // The corners under the request's labels, one place on for a slant
        // steeper than the diagonal.
        const Tvk::tagPOINT* a = d.m_ptA;
        const tagLABELLEDCORNERS corners = d.m_slant.x > d.m_slant.y
                                               ? tagLABELLEDCORNERS{a[0], a[1], a[3], a[2]}
                                               : tagLABELLEDCORNERS{a[3], a[0], a[2], a[1]};
        StoreResultBlock(work.basic.result, flags, d.RectLeftTop(), d.RectSize(), corners,
                         d.m_slant);
    }
    // Everything after the size word goes back, as far as the request reaches.
    if (n > sizeof(uint32_t)) {
        std::memcpy(reinterpret_cast<unsigned char*>(request) + sizeof(uint32_t),
                    reinterpret_cast<const unsigned char*>(&work) + sizeof(uint32_t),
                    n - sizeof(uint32_t));
    }
    return kDssOk;
}

CDetectSlantAndSizeBase* CreateDetectSlantAndSize_FromFrame() {
    return new (std::nothrow) CDetectSlantAndSize_FromFrame;
}
