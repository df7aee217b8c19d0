// Slant and corners of a sheet from its two side outlines traced on a white
// background: one edge position per line for each side.
#pragma once

#include "TvkTypes.h"

#include <cstddef>
#include <cstdint>
#include <new>

// One straight run of an outline between two contact points.
struct tagVECTOR_INFO {
    int32_t dx;  // lines
    int32_t dy;  // edge positions
    double area; // how far the outline bulges beyond the run
    double length;
    double angle; // degrees, folded into 0..45
    double score; // area / length; kVectorDisabled marks a disabled vector
};
inline constexpr double kVectorDisabled = -1.0;

// A growable array; reading past the count clamps to the last entry.
template <class T> class CTvkArray {
public:
    CTvkArray() = default;
    CTvkArray(const CTvkArray&) = delete;
    CTvkArray& operator=(const CTvkArray&) = delete;
    ~CTvkArray() { delete[] m_p; }

    // Reserves n entries (count 0); false when memory runs out.
    bool assign(size_t n) {
        if (n > m_capacity) {
            T* p = new (std::nothrow) T[n];
            if (p == nullptr) return false;
            for (size_t i = 0; i < m_count; ++i) p[i] = m_p[i];
            delete[] m_p;
            m_p = p;
            m_capacity = n;
        }
        return true;
    }
    bool push_back(const T& v) {
        if (m_count == m_capacity && !assign(m_capacity == 0 ? 16 : 2 * m_capacity)) return false;
        m_p[m_count++] = v;
        return true;
    }
    void clear() { m_count = 0; }
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    T& operator[](size_t i) { return m_p[i < m_count ? i : m_count - 1]; }
    const T& operator[](size_t i) const { return m_p[i < m_count ? i : m_count - 1]; }
    T* data() { return m_p; }
    const T* data() const { return m_p; }

private:
    T* m_p = nullptr;
    size_t m_capacity = 0;
    size_t m_count = 0;
};

// Outline entry of a line without edge.
inline constexpr uint16_t kOutlineNone = 0xFFFF;

class CWhiteBkg4PtDetector {
public:
    explicit CWhiteBkg4PtDetector(bool transpose = false) : m_bTranspose(transpose) {}

    // From the two outlines (count entries each, -1 for no edge) and the
    // largest position (negative: the largest entry). False for an empty outline.
    bool GetSlant(const int16_t* first, const int16_t* second, int32_t count, int32_t maximum,
                  int16_t xres, int16_t yres);
    // Of set B: the smallest x and y, and the extent (largest - smallest + 1).
    Tvk::tagPOINT RectLeftTop() const;
    Tvk::tagPOINT RectSize() const;
    // Every entry with an edge becomes maximum - entry.
    static void SetReverse(CTvkArray<uint16_t>& outline, int32_t maximum);
    // Exchanges x and y of the slant and of every point.
    void ChangeXY();

    Tvk::tagPOINT m_slant{0, 0};
    Tvk::tagPOINT m_ptA[4]{}; // slanted corners
    Tvk::tagPOINT m_ptB[4]{}; // upright rectangle
    bool m_bTranspose = false;
};

namespace FROMFRAME_FUNCSPACE {
// Running median of odd width `range` (below 3: unchanged); the ends are
// padded with copies of the first and last entry.
bool revise_median(CTvkArray<uint16_t>& outline, int32_t range);
// First valid line, first and last line of the smallest value, last valid
// line; false when the outline has no valid entry.
bool get_4index(const CTvkArray<uint16_t>& outline, int32_t index[4]);
// Contact points of an outline (sorted lines).
bool get_outline_data(const CTvkArray<uint16_t>& outline, int32_t maximum,
                      CTvkArray<int32_t>& points);
// Scored vectors between successive contact points.
bool get_vector_data(const CTvkArray<uint16_t>& outline, int32_t maximum,
                     const CTvkArray<int32_t>& points, int32_t yres,
                     CTvkArray<tagVECTOR_INFO>& vectors);
// The slant from both outlines, (1, 0) when none can be told.
Tvk::tagPOINT get_slant_core(const CTvkArray<uint16_t>& first, const CTvkArray<uint16_t>& second,
                             int32_t maximum, int32_t xres, int32_t yres);
// Point where the line of offset p across and the line of offset q along
// the slant (a, b) meet.
Tvk::tagPOINT cross(int64_t a, int64_t b, int64_t p, int64_t q);
// Divides a vector by the greatest common divisor of its components.
Tvk::tagPOINT reduction(Tvk::tagPOINT v);
// Divides both components by 10 until neither has more than five digits.
Tvk::tagPOINT revise_vec_value(Tvk::tagPOINT v);

// Slant, slanted corners (set A) and upright rectangle (set B); nothing
// happens when a pointer is null.
void get_slant_fromFrame(const CTvkArray<uint16_t>* first, const CTvkArray<uint16_t>* second,
                         int32_t count, int32_t maximum, int32_t xres, int32_t yres,
                         Tvk::tagPOINT* slant, Tvk::tagPOINT* setA, Tvk::tagPOINT* setB);
} // namespace FROMFRAME_FUNCSPACE
