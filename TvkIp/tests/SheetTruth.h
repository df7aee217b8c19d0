// Generated sheets for the size-detector tests, and where the detectors
// should report their corners.
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

#include "Img.h"
#include "TestKit.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace sheettruth {

// A 1000 x 1300 pixel sheet turned by `angle` degrees, as a feeder scans it:
// its highest point `above` lines below the scan's first line, `below` lines
// of backing beyond its lowest point, 100 pixels of backing at either side,
// moved `shiftX` pixels to the right.
inline kdtest::SheetSpec FedSheet(double angle, int32_t above, int32_t below, double shiftX = 0) {
    kdtest::SheetSpec s;
    s.sheetWidth = 1000;
    s.sheetHeight = 1300;
    const double a = std::fabs(angle) * 3.14159265358979323846 / 180;
    const double h = s.sheetWidth * std::sin(a) + s.sheetHeight * std::cos(a);
    const double w = s.sheetWidth * std::cos(a) + s.sheetHeight * std::sin(a);
    s.imageWidth = static_cast<int32_t>(w) + 200;
    s.imageHeight = static_cast<int32_t>(h) + above + below;
    s.centerX = s.imageWidth / 2.0 + shiftX;
    s.centerY = above + h / 2;
    s.angleDeg = angle;
    return s;
}

// The size detectors' description of lines y0 .. y0 + n of a test image (all
// lines from y0 when n is negative).
inline CImg::tagIMGSET SetOf(const kdtest::TestImage& im, int32_t y0 = 0, int32_t n = -1) {
    const tagTVKIMAGEINFO* i = im.info();
    CImg::tagIMGSET s{};
    s.pImg = const_cast<uint8_t*>(im.line(y0));
    s.width = i->lWidth;
    s.height = n < 0 ? i->lHeight - y0 : n;
    s.sync = im.fullSync();
    s.xdpi = i->lXResolution;
    s.ydpi = i->lYResolution;
    s.bpp = i->lBps * i->lSpp;
    s.pixelorder = i->lSpp == 3 && i->ulRGBOrder == 1 ? 1 : 0;
    return s;
}

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
