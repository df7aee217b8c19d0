// Helpers of the page-edge detectors: cleaning and smoothing edge profiles,
// their outlines (the contact points a straight paper edge leaves in them),
// line intersections along a slant vector, slant comparison and histograms
// of edge steps.
//
// An edge profile holds one entry per scan line or column: the position of
// the paper edge there, -1 for none. These functions keep no state; every
// array belongs to the caller. They are building blocks of the size
// detectors and are not part of the library's C interface.
#pragma once

#include "TvkTypes.h"

#include <cstdint>
#include <vector>

using EdgeIndexList = std::vector<int32_t>;
using EdgeHistogram = std::vector<int16_t>;

// ---- Geometry (every division truncates toward zero) ----

// Meeting point of the line y = c + (b / a) x and the line through (0, d)
// perpendicular to it. A vector with a zero component gives the limit of the
// construction: (0, c) for b = 0, (0, d) for a = 0 and (0, 0) for both.
Tvk::tagPOINT cross(int32_t a, int32_t b, int32_t c, int32_t d);
// The same with x and y exchanged.
Tvk::tagPOINT cross2(int32_t a, int32_t b, int32_t c, int32_t d);
// Meeting point of the line of direction (a, b) through (0, c) and the line
// perpendicular to it through (d, 0); (0, 0) for a zero direction.
Tvk::tagPOINT cross_y_x(int32_t a, int32_t b, int32_t c, int32_t d);
// Meeting point of the line of direction p1 through (e, 0) and the line of
// direction p2 through (f, 0); (0, 0) for parallel lines.
Tvk::tagPOINT SideEdge_cross_y_x(Tvk::tagPOINT p1, Tvk::tagPOINT p2, int32_t e, int32_t f);
// Squared cosine of the angle between two vectors in units of 1 / 2^20.
// Sets *negative (never clears it) when the angle is obtuse. A zero vector
// has no direction and gives 0.
int64_t cos_product(const Tvk::tagPOINT* p1, const Tvk::tagPOINT* p2, bool* negative);
// Ordering of slant vectors: by |x|, ties by |y|. With a maximum search it
// picks the vector of largest |x| (the first of full ties).
bool CMaxLengthVec2(const Tvk::tagPOINT& a, const Tvk::tagPOINT& b);

// ---- Profile queries ----

int32_t leftindex(const int16_t* profile, int32_t n);
int32_t rightindex(const int16_t* profile, int32_t n);
// Index of the entry farthest from the chord a-b: mode 0 below it (smallest
// residual), any other mode above it. The first of equal extremes wins.
int32_t GetContactPoint(const int32_t* profile, int32_t a, int32_t b, int32_t mode);
// Appends the contact points strictly between a and b in increasing order
// and returns their number; when top is set the contact point of the whole
// range is stored in *far.
int32_t EnumContactPoint(const int32_t* profile, int32_t a, int32_t b, int32_t mode,
                         EdgeIndexList& list, int32_t* far, bool top);
// Appends a, the lower-side contact points, then b.
void get_outline(const int32_t* profile, int32_t a, int32_t b, EdgeIndexList& list, int32_t* far);
// As get_outline: the lower side (mode 0) when side is true, else the upper.
void get_outline_ex(const int32_t* profile, int32_t a, int32_t b, EdgeIndexList& list, int32_t* far,
                    bool side);

// ---- Cleaning and smoothing (in place) ----

// Every run of valid entries no longer than maxLength becomes -1.
void filtering_edge_data(int32_t* profile, int32_t n, int32_t maxLength);
// Keeps only the longest run of valid entries (the first of equal ones).
void filtering_edge_data(int32_t* profile, int32_t n);
// Orders index lists by their length.
bool CIndexesMax(const EdgeIndexList& a, const EdgeIndexList& b);
void edge_remove_from_bottom(int32_t* profile, int32_t n, int32_t limit);
// Median of the range entries centred on p (the entry itself for range <= 2).
int32_t get_median_value(const int32_t* p, int32_t range);
// Median filter of odd width; the ends are padded with their own entry.
void revise_median(int32_t* profile, int32_t n, int32_t range);
// The same result with one scratch window for the whole run.
void revise_median_ex(int32_t* profile, int32_t n, int32_t range);
// Odd filter width for a length in micrometres at a resolution, at least 3.
int32_t get_median_range_ex(int32_t length, int32_t resolution);

// ---- Histograms of edge steps ----
// A histogram pair is an array of two: left (upper) half, right (lower) half.

void get_hist(const int32_t* profile, int32_t n, int32_t step, EdgeHistogram* hist, int32_t kind);
void get_hist2(const int32_t* profile, int32_t n, int32_t step, EdgeHistogram* hist, int32_t kind);
void filtering_hist_data(EdgeHistogram& hist, int32_t margin);
void get_hist(const int16_t* profile, int32_t n, int16_t unused, int32_t step, EdgeHistogram* hist,
              int16_t* firstValid, int16_t* firstLowest, int16_t* lastLowest, int16_t* lastValid);
void get_slant(EdgeHistogram* hist, int32_t unused, int32_t step, int32_t* dx, int32_t* dy);
// Debug dumps: written only into a file that already exists and belongs to
// the calling user.
void dump_hist(const int16_t* values, int32_t n, const char* fileName);
void dump_hist(const EdgeHistogram& hist, const char* fileName);

// ---- Outline chains of the size detectors ----

// Vectors (|dx|, |dy|) between neighbouring listed columns.
void get_pvec(const int32_t* profile, const EdgeIndexList& columns,
              std::vector<Tvk::tagPOINT>& vectors);
// Splits an outline at its highest point (smallest entry): out[0] gets the
// columns from the start through the first such column, out[1] the columns
// from the end backwards through the last one.
void get_sep_xvec(const int32_t* profile, const EdgeIndexList& columns, EdgeIndexList* out);
// As get_sep_xvec when top is set; otherwise split at the largest entry.
void get_sep_xvec_ex(const int32_t* profile, const EdgeIndexList& columns, EdgeIndexList* out,
                     bool top);
// Odd median width for 1 mm at a resolution, at least 3.
int32_t get_median_range(int32_t resolution);
