// Sheets through the whole scanner chain: a calibration against the sensor
// model through the exported calibration calls, generated sheets as the
// scanner would send them (raw 8-bit colour bands of one or both sensors),
// and the filter records of the data source.
#pragma once

#include "ImvraKD730.h"
#include "Shading.h"
#include "KdSensorModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

namespace sheettest {

using Tvk::tagIMAGEINFO;
using Tvk::Imvra::CImg;
namespace kd = Tvk::Imvra::KD730;

constexpr int kDpi = 300;

// A page of one side: RGB pixels of the sensor's collected width.
struct Sheet {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    uint8_t at(int x, int y, int c) const {
        return rgb[(static_cast<size_t>(y) * width + x) * 3 + c];
    }
    // Paints the part of the rectangle that lies on the sheet.
    void fill(int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b) {
        for (int y = y0; y < std::min(y1, height); ++y)
            for (int x = x0; x < std::min(x1, width); ++x) {
                uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                p[0] = r;
                p[1] = g;
                p[2] = b;
            }
    }
};

inline Sheet WhiteSheet(int width, int height) {
    return Sheet{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, 255)};
}
// Red, green and blue blocks and a dark band of text-like strokes on white.
inline Sheet ColourSheet(int width, int height) {
    Sheet s = WhiteSheet(width, height);
    s.fill(100, 40, 700, 140, 200, 30, 30);
    s.fill(800, 40, 1400, 140, 30, 160, 40);
    s.fill(1500, 40, 2100, 140, 40, 50, 190);
    for (int x = 200; x < 2300; x += 24) s.fill(x, 180, x + 8, 240, 20, 20, 20);
    return s;
}
// The same layout in grays only.
inline Sheet GraySheet(int width, int height) {
    Sheet s = WhiteSheet(width, height);
    s.fill(100, 40, 1200, 140, 120, 120, 120);
    s.fill(1300, 40, 2300, 140, 180, 180, 180);
    for (int x = 200; x < 2300; x += 24) s.fill(x, 180, x + 8, 240, 20, 20, 20);
    return s;
}
// Black strokes on white only.
inline Sheet TextSheet(int width, int height) {
    Sheet s = WhiteSheet(width, height);
    for (int y = 30; y + 20 < height; y += 40)
        for (int x = 150; x < 2350; x += 30) s.fill(x, y, x + 6, y + 20, 0, 0, 0);
    return s;
}

// A side of a sheet as the feeder scans it: the page turned by angleDeg
// (clockwise) about its centre, centred across a scan of scanWidth pixels,
// leadIn lines of backing above its highest point and trailing lines below
// its lowest. The paper reflects a little less than a white backing; the
// edge facing the side's lamp casts a shadow of shadow lines on the backing
// just outside the sheet: above the leading edge (front sensor) or below
// the trailing edge (back sensor). The back sensor sees the sheet mirrored,
// so its side is made with the angle negated.
struct Feed {
    double angleDeg = 0;
    int leadIn = 60, trailing = 40;
    uint8_t backing = 255;
    int shadow = 6;
    // Paper level against the backing (content values are scaled by it).
    uint8_t paper = 210;
};
constexpr uint8_t kShadowLevel = 90;

inline int FedHeight(const Sheet& page, const Feed& f) {
    const double a = std::fabs(f.angleDeg) * 3.14159265358979323846 / 180;
    return f.leadIn + f.trailing +
           static_cast<int>(std::ceil(page.width * std::sin(a) + page.height * std::cos(a)));
}

inline Sheet FedSide(const Sheet& page, int scanWidth, const Feed& f, bool leadingShadow) {
    const int height = FedHeight(page, f);
    Sheet s{scanWidth, height,
            std::vector<uint8_t>(static_cast<size_t>(scanWidth) * height * 3, f.backing)};
    const double a = f.angleDeg * 3.14159265358979323846 / 180, ca = std::cos(a), sa = std::sin(a);
    const double cx = scanWidth / 2.0, cy = f.leadIn + (height - f.leadIn - f.trailing) / 2.0;
    const uint8_t shade = std::min(f.backing, kShadowLevel);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < scanWidth; ++x) {
            // Pixel centre in the page's own frame (clockwise turn on the scan).
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double u = dx * ca + dy * sa + page.width / 2.0;
            const double v = -dx * sa + dy * ca + page.height / 2.0;
            uint8_t* p = &s.rgb[(static_cast<size_t>(y) * scanWidth + x) * 3];
            if (u < 0 || u >= page.width) continue;
            if (v >= 0 && v < page.height) {
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<uint8_t>(
                        page.at(static_cast<int>(u), static_cast<int>(v), c) * f.paper / 255);
            } else if (leadingShadow ? (v < 0 && v >= -f.shadow)
                                     : (v >= page.height && v < page.height + f.shadow)) {
                p[0] = p[1] = p[2] = shade;
            }
        }
    return s;
}

// The scanner: a sensor model calibrated through the exported calls, with
// the shading data of both sides.
class Scanner {
public:
    kdsensor::SensorModel model{5};
    Tvk::Imvra::tagADJUSTINFO adjust{};
    Tvk::Imvra::tagSHADINGINFO shading[2];
    // The averaged white and black references of each side.
    CImg referenceWhite[2], referenceBlack[2];

    // Calibrates both sides for colour scans at 300 dpi.
    void calibrate() {
        adjust = {};
        adjust.bDuplex = 1;
        adjust.lXResolution = kDpi;
        kd::AdjustLightFirst(&adjust, 0);
        for (int step = 0; step < 7; ++step) {
            CImg raw = reference(adjust.ScanInfo == 0xFEFE);
            ASSERT_EQ(kd::AdjustLightNext(raw, &adjust), Tvk::Imvra::RTN_OK) << "step " << step;
        }
        ASSERT_EQ(adjust.bDone, 1);
        CImg white[2], black[2];
        CImg lit = reference(true), dark = reference(false);
        ASSERT_EQ(kd::AdjustLightLast(white[0], white[1], lit, &adjust), Tvk::Imvra::RTN_OK);
        ASSERT_EQ(kd::AdjustLightLast(black[0], black[1], dark, &adjust), Tvk::Imvra::RTN_OK);
        for (int s = 0; s < 2; ++s) {
            referenceWhite[s] = white[s];
            referenceBlack[s] = black[s];
            ASSERT_EQ(kd::AdjustLightFix(white[s], black[s], &adjust,
                                         s == 0 ? Tvk::Imvra::SIDE_FRONT : Tvk::Imvra::SIDE_BACK,
                                         nullptr, 0),
                      Tvk::Imvra::RTN_OK);
            shading[s].ulSize = Tvk::Imvra::kShadingInfoSize;
            shading[s].white = white[s];
            shading[s].black = black[s];
        }
    }

    kdsensor::Registers registers() const {
        return {Side(adjust.FrontAdjustInfo), Side(adjust.BackAdjustInfo)};
    }

    // Shading data of both sides made on an engine of its own (the platen
    // colour lives in the engine).
    void fixShading(void* engine) {
        for (int s = 0; s < 2; ++s) {
            CImg w = referenceWhite[s], b = referenceBlack[s];
            ASSERT_EQ(kd::AdjustLightFix(engine, w, b, &adjust,
                                         s == 0 ? Tvk::Imvra::SIDE_FRONT : Tvk::Imvra::SIDE_BACK,
                                         nullptr, 0),
                      Tvk::Imvra::RTN_OK);
        }
    }

    static kdsensor::ScanFormat Format(bool duplex, int bits) {
        kdsensor::ScanFormat f;
        f.xdpi = kDpi;
        f.bits = bits;
        f.colour = true;
        f.back = duplex;
        return f;
    }

    // A calibration reference of both sides as the scanner sends it.
    CImg reference(bool lit) const {
        const kdsensor::ScanFormat f = Format(true, 12);
        return Band(f, kdsensor::scanReference(model, f, registers(), lit, 8), 0, 8);
    }

    // The raw lines of a sheet: the front lags the back by lag lines.
    std::vector<uint8_t> scan(const Sheet& front, const Sheet* back, int lag,
                              uint8_t leadIn = 255) const {
        kdsensor::EncodeOptions o;
        o.leadIn = leadIn;
        o.format = Format(back != nullptr, 8);
        o.exposure = kdsensor::Exposure::Model;
        o.model = &model;
        o.registers = registers();
        o.lag = lag;
        const kdsensor::SideImage f(front.rgb.data(), front.width, front.height, 3);
        if (back == nullptr) return kdsensor::encodePage(o, &f, nullptr);
        const kdsensor::SideImage b(back->rgb.data(), back->width, back->height, 3);
        return kdsensor::encodePage(o, &f, &b);
    }

    // Raw lines [first, first + count) as one band.
    static CImg Band(const kdsensor::ScanFormat& f, const std::vector<uint8_t>& raw, int first,
                     int count) {
        CImg band;
        const auto samples = static_cast<int32_t>(f.samplesPerRow());
        EXPECT_TRUE(band.createImg(samples, count, static_cast<int32_t>(f.rowBytes()), f.bits, 3, 1,
                                   f.xdpi, f.xdpi));
        std::memcpy(band.info().lpImage, raw.data() + f.lineBytes() * static_cast<size_t>(first),
                    f.lineBytes() * static_cast<size_t>(count));
        return band;
    }

    // The level the shading gives paper of value v in channel c (target of
    // the shading over 16, scaled by the paper's reflectance).
    static int Expected(uint8_t v, int c) {
        const double ideal = kdsensor::kPaperWhite * v / 255.0 *
                             Tvk::Imvra::KD730::SHADING_TARGET[0][1 + c] / 16.0;
        return static_cast<int>(std::min(255.0, ideal));
    }

private:
    static kdsensor::SideRegisters Side(const Tvk::Imvra::tagADJUSTREGISTERS& r) {
        kdsensor::SideRegisters s;
        std::copy(r.Gain, r.Gain + 3, s.gain.begin());
        std::copy(r.Offset, r.Offset + 3, s.offset.begin());
        s.led = {r.RedLED, r.GreenLED, r.BlueLED};
        return s;
    }
};

// The input and output descriptions of a colour scan at 300 dpi.
inline void Describe(tagIMAGEINFO& in, tagIMAGEINFO& out, int width, int height, int32_t bps,
                     int32_t spp) {
    const kdsensor::ScanFormat f = Scanner::Format(false, 8);
    in = tagIMAGEINFO{Tvk::kImageInfoSize, nullptr, 0, 0, static_cast<int32_t>(f.samplesPerRow()),
                      height, static_cast<int32_t>(f.rowBytes()), 0, 8, 3, 1, kDpi, kDpi};
    out = tagIMAGEINFO{Tvk::kImageInfoSize, nullptr, 0, 0, width, height, 0, 0, bps, spp, 0,
                       kDpi, kDpi};
}

// Bands of the given heights (the last takes the rest; none: one whole
// image) through the one-sided or two-sided calls of an engine (null: the
// built-in one); the pages are the output bands joined. Returns the first
// non-zero result.
struct Pages {
    std::vector<uint8_t> bytes[2];
    // Every byte of the buffers handed out, line tails included.
    std::vector<uint8_t> buffers[2];
    tagIMAGEINFO shape[2]{};
    void add(int side, CImg& band) {
        if (band.isNull()) return;
        const tagIMAGEINFO& i = band.info();
        buffers[side].insert(buffers[side].end(), i.lpImage, i.lpImage + i.tImageSize);
        const size_t used = static_cast<size_t>((int64_t{i.lWidth} * i.lBps * i.lSpp + 7) / 8);
        for (int32_t y = 0; y < i.lHeight; ++y)
            bytes[side].insert(bytes[side].end(), i.lpImage + int64_t{y} * i.lSync,
                               i.lpImage + int64_t{y} * i.lSync + used);
        const int32_t lines = shape[side].lHeight + i.lHeight;
        shape[side] = i;
        shape[side].lHeight = lines;
    }
    // Byte of pixel x, sample c, line y of a side (8-bit pages).
    uint8_t at(int side, int x, int y, int c) const {
        const tagIMAGEINFO& s = shape[side];
        return bytes[side][static_cast<size_t>(y) * s.lWidth * s.lSpp + static_cast<size_t>(x) * s.lSpp + c];
    }
    // Bit of pixel x, line y of a 1-bit page.
    int bit(int side, int x, int y) const {
        const tagIMAGEINFO& s = shape[side];
        const size_t row = static_cast<size_t>((s.lWidth + 7) / 8);
        return (bytes[side][static_cast<size_t>(y) * row + x / 8] >> (7 - x % 8)) & 1;
    }
};

template <class Record>
int RunBands(const kdsensor::ScanFormat& f, const std::vector<uint8_t>& raw, Record& rec,
             const std::vector<int>& heights, Pages& pages, void* engine = nullptr) {
    const int lines = static_cast<int>(raw.size() / f.lineBytes());
    constexpr bool duplex = std::is_same_v<Record, Tvk::Imvra::tagFILTERDUPLEXINFO>;
    int first = 0;
    const size_t n = heights.empty() ? 1 : heights.size() + 1;
    for (size_t k = 0; k < n; ++k) {
        const int count = k + 1 == n ? lines - first : heights[k];
        CImg band = Scanner::Band(f, raw, first, count), front, back;
        first += count;
        const int kind = n == 1 ? 0 : k == 0 ? 1 : k + 1 == n ? 3 : 2;
        int r;
        if constexpr (duplex) {
            using Call = Tvk::Imvra::tagRTN (*)(void*, CImg&, CImg&, CImg&, Record*);
            using BuiltIn = Tvk::Imvra::tagRTN (*)(CImg&, CImg&, CImg&, Record*);
            static const Call calls[4] = {kd::FilterDuplex, kd::FilterDuplexFirst,
                                          kd::FilterDuplexMiddle, kd::FilterDuplexLast};
            static const BuiltIn builtIn[4] = {kd::FilterDuplex, kd::FilterDuplexFirst,
                                               kd::FilterDuplexMiddle, kd::FilterDuplexLast};
            r = engine ? calls[kind](engine, front, back, band, &rec)
                       : builtIn[kind](front, back, band, &rec);
        } else {
            using Call = Tvk::Imvra::tagRTN (*)(void*, CImg&, CImg&, Record*);
            using BuiltIn = Tvk::Imvra::tagRTN (*)(CImg&, CImg&, Record*);
            static const Call calls[4] = {kd::FilterSimplex, kd::FilterSimplexFirst,
                                          kd::FilterSimplexMiddle, kd::FilterSimplexLast};
            static const BuiltIn builtIn[4] = {kd::FilterSimplex, kd::FilterSimplexFirst,
                                               kd::FilterSimplexMiddle, kd::FilterSimplexLast};
            r = engine ? calls[kind](engine, front, band, &rec) : builtIn[kind](front, band, &rec);
        }
        if (r != 0) return r;
        pages.add(0, front);
        pages.add(1, back);
    }
    return 0;
}

// Bands of a fixed height over lines.
inline std::vector<int> Heights(int lines, int band) {
    std::vector<int> h;
    for (int y = 0; y + band < lines; y += band) h.push_back(band);
    return h;
}

} // namespace sheettest
