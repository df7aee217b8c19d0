// Where the size detectors should report the corners of a generated sheet.
//
// The generator draws the sheet's sides as lines between pixel borders
// (pixel x covers x .. x + 1). The detectors report pixel and line numbers:
// the left side at the first paper column and the top side at the first paper
// line, both on the drawn line, but the right side at the last paper column,
// one pixel inside it, and the bottom side at the last paper line, one line
// inside it (a detector that reads the bottom side from a trailing shadow
// reports the first shadow line instead: the drawn line). The truth the tests
// compare with is therefore the sheet with its right side moved one pixel to
// the left and its bottom side moved up by the lines the detector reports it
// inside.
#pragma once

#include "TestKit.h"

#include <algorithm>
#include <vector>

namespace sheettruth {

// Corners as the image shows them: left-top, right-top, right-bottom,
// left-bottom.
struct Quad {
    kdtest::Corner lt, rt, rb, lb;
};

// The drawn sheet's corners in image order; `yscale` multiplies every y (a
// scan at twice the line density of the drawn page).
inline Quad DrawnCorners(const kdtest::SheetSpec& s, double yscale = 1) {
    std::vector<kdtest::Corner> c = kdtest::SheetCorners(s);
    for (auto& p : c) p.y *= yscale;
    std::sort(c.begin(), c.end(), [](const auto& a, const auto& b) { return a.y < b.y; });
    Quad q;
    q.lt = c[0].x < c[1].x ? c[0] : c[1];
    q.rt = c[0].x < c[1].x ? c[1] : c[0];
    q.lb = c[2].x < c[3].x ? c[2] : c[3];
    q.rb = c[2].x < c[3].x ? c[3] : c[2];
    return q;
}

// Meeting point of the line through a and b with the line through c and d.
inline kdtest::Corner Meet(kdtest::Corner a, kdtest::Corner b, kdtest::Corner c, kdtest::Corner d) {
    const double den = (a.x - b.x) * (c.y - d.y) - (a.y - b.y) * (c.x - d.x);
    const double t = ((a.x - c.x) * (c.y - d.y) - (a.y - c.y) * (c.x - d.x)) / den;
    return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
}

// The corners as a detector reports them: right side one pixel in, bottom
// side `bottomLines` lines in (see above).
inline Quad PixelCorners(const kdtest::SheetSpec& s, double yscale, double bottomLines) {
    const Quad q = DrawnCorners(s, yscale);
    const kdtest::Corner rt{q.rt.x - 1, q.rt.y}, rb{q.rb.x - 1, q.rb.y};
    const kdtest::Corner lb{q.lb.x, q.lb.y - bottomLines}, br{q.rb.x, q.rb.y - bottomLines};
    Quad p;
    p.lt = q.lt;
    p.rt = Meet(q.lt, q.rt, rt, rb);
    p.rb = Meet(rt, rb, lb, br);
    p.lb = Meet(lb, br, q.lt, q.lb);
    return p;
}

// The same page scanned at twice the line density: every line doubled and
// the y resolution doubled.
inline kdtest::TestImage DoubleLines(const kdtest::TestImage& src) {
    const tagTVKIMAGEINFO* i = src.info();
    kdtest::TestImage out(i->lWidth, i->lHeight * 2, i->lBps, i->lSpp, i->ulRGBOrder, 0,
                          i->lXResolution);
    out.info()->lYResolution = i->lYResolution * 2;
    for (int32_t y = 0; y < out.height(); ++y)
        std::copy(src.line(y / 2), src.line(y / 2) + src.fullSync(), out.line(y));
    return out;
}

} // namespace sheettruth
