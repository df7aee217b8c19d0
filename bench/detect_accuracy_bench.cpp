// Accuracy of the four-corner detection (mode 13, simplex) over a generated
// set of fed sheets: A4, letter, A5 and a card at 300 dpi, on a white backing
// with the feeder's leading-edge shadow and on a dark backing, skewed -5..+5
// degrees, with lead-in and trailing backing lengths across what a feeder
// produces, sensor noise of sigma 0-6, blur and JPEG-like loss.
//
// Each backing is one benchmark run once over its sheets; its counters are the
// mean and worst slant error (degrees) and corner error (pixels) of the
// results that were not refused, how many results were refused (the upright
// fallback over the whole scan) and how many were wrong (neither within the
// tolerances below nor refused). KD_BENCH_VERBOSE=1 prints every sheet.
//
// A third set measures the text slant of generated text pages turned -6..+6
// degrees, at the full and the halved working resolution: the mean and worst
// error of the slants found within the measured range (about 3 degrees either
// way), and for pages beyond it how many were reported level against how
// many got a slant (wrong, and of those how many with the wrong sign).
#include "../TvkIp/tests/DetectRequestFixture.h"
#include "DetectTextSlant.h"
#include "../TvkIp/tests/SheetTruth.h"
#include "TestKit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A result within these of the truth is right; beyond them and not refused,
// it is wrong.
constexpr double kRightSlantDeg = 0.2;
constexpr double kRightCornerPx = 8;

struct Paper {
    const char* name;
    double width, height; // pixels at 300 dpi
};
constexpr Paper kPapers[] = {
    {"A4", 2480, 3508}, {"letter", 2550, 3300}, {"A5", 1748, 2480}, {"card", 1011, 638}};

struct Case {
    const Paper* paper;
    bool white;
    double angle;
    int32_t leadIn, trailing;
    double sigma;
    int32_t blur;
    double jpeg;
    uint32_t seed;
};

// Ten sheets per paper and backing; the parameters are stepped with different
// strides so that each paper meets most of the lead-ins, lengths and losses.
std::vector<Case> Cases(bool white) {
    constexpr double kAngles[] = {0, 0.3, -1, 1, 2.5, -2.5, 5, -5, 0.1, -0.3};
    constexpr int32_t kLeadIns[] = {10, 15, 20, 25, 30, 40, 60, 120};
    constexpr int32_t kTrailing[] = {20, 60, 100, 150, 250, 400};
    constexpr double kSigma[] = {0, 1, 2, 3, 4, 5, 6};
    const int b = white ? 0 : 1;
    std::vector<Case> out;
    for (int p = 0; p < 4; ++p) {
        for (int j = 0; j < 10; ++j) {
            Case c;
            c.paper = &kPapers[p];
            c.white = white;
            c.angle = kAngles[(j + 3 * p) % 10];
            c.leadIn = kLeadIns[(j + p) % 8];
            c.trailing = kTrailing[(3 * j + p + b) % 6];
            c.sigma = kSigma[(j + 2 * p + b) % 7];
            c.blur = (j + p) % 3 == 2 ? 1 : 0;
            c.jpeg = (j + b) % 4 == 3 ? 12 : 0;
            c.seed = static_cast<uint32_t>(100 * p + 10 * j + b + 1);
            out.push_back(c);
        }
    }
    return out;
}

// Clockwise skew of a slant vector in degrees; a vector whose x is below its
// y runs down the sheet's left side.
double SkewOf(Tvk::tagPOINT v) {
    if (v.x < v.y) return std::atan2(-v.x, v.y) * 180 / M_PI;
    return std::atan2(v.y, v.x) * 180 / M_PI;
}

double Distance(Tvk::tagPOINT p, kdtest::Corner c) {
    return std::hypot(p.x - c.x, p.y - c.y);
}

struct Outcome {
    bool refused = false, wrong = false;
    double slantErr = 0, cornerErr = 0;
};

// Lines of backing a request allows the scan to run on beyond the sheet
// (the scan record's bottom margin); 0 as the records come zeroed.
Outcome Run(const Case& c, int32_t overscan) {
    kdtest::SheetSpec s =
        kdtest::FedSheetSpec(c.paper->width, c.paper->height, c.angle, c.leadIn, c.trailing, 60);
    s.seed = c.seed;
    if (c.white) {
        s.shadow = 6;
    } else {
        s.backing = 20;
    }
    kdtest::TestImage im = kdtest::SheetPage(s);
    kdtest::BoxBlur(im, c.blur);
    kdtest::AddGaussianNoise(im, c.sigma, c.seed);
    kdtest::JpegLikeLoss(im, c.jpeg);

    Mode13Request m(false, c.white ? 1 : 0);
    if (!c.white) m.scanner.bIsBackBlack = 1;
    m.scan.bottomMargin = overscan;
    std::fill(std::begin(m.setting.revise_margin_front), std::end(m.setting.revise_margin_front),
              0);
    Outcome o;
    if (m.run(kDssCmdInit, im.info()) != 0 || m.run(kDssCmdPage, im.info()) != 0) {
        o.refused = true;
        return o;
    }
    const tagDETECTRESULTBLOCK& r = m.front();
    const sheettruth::Quad t = sheettruth::PixelCorners(s, 1, 1);
    o.slantErr = std::fabs(SkewOf(r.slantVector) - c.angle);
    o.cornerErr = std::max({Distance(r.leftTop, t.lt), Distance(r.rightTop, t.rt),
                            Distance(r.rightBottom, t.rb), Distance(r.leftBottom, t.lb)});
    const bool right = o.slantErr <= kRightSlantDeg && o.cornerErr <= kRightCornerPx;
    // The fallback: upright, across the whole scanned width.
    const bool upright = r.slantVector.y == 0;
    const bool whole = r.leftTop.x <= 1 && r.rightTop.x >= im.width() - 2;
    o.refused = !right && upright && whole;
    o.wrong = !right && !o.refused;
    if (std::getenv("KD_BENCH_VERBOSE")) {
        std::printf("%-6s %-5s angle %5.1f lead-in %3d trailing %3d sigma %.0f blur %d jpeg %2.0f:"
                    " slant %+.3f corner %7.1f %s  slant (%d,%d) lt (%d,%d) rb (%d,%d)\n",
                    c.paper->name, c.white ? "white" : "dark", c.angle, c.leadIn, c.trailing,
                    c.sigma, c.blur, c.jpeg, SkewOf(r.slantVector) - c.angle, o.cornerErr,
                    o.refused ? "refused" : (o.wrong ? "WRONG" : "right"), r.slantVector.x,
                    r.slantVector.y, r.leftTop.x, r.leftTop.y, r.rightBottom.x, r.rightBottom.y);
    }
    return o;
}

void Accuracy(benchmark::State& state, bool white, int32_t overscan) {
    const std::vector<Case> cases = Cases(white);
    double slantSum = 0, slantWorst = 0, cornerSum = 0, cornerWorst = 0;
    int accepted = 0, refused = 0, wrong = 0;
    for (auto _ : state) {
        for (const Case& c : cases) {
            const Outcome o = Run(c, overscan);
            if (o.refused) {
                ++refused;
                continue;
            }
            wrong += o.wrong;
            ++accepted;
            slantSum += o.slantErr;
            cornerSum += o.cornerErr;
            slantWorst = std::max(slantWorst, o.slantErr);
            cornerWorst = std::max(cornerWorst, o.cornerErr);
        }
    }
    const double n = std::max(accepted, 1);
    state.counters["sheets"] = static_cast<double>(cases.size());
    state.counters["slant_mean_deg"] = slantSum / n;
    state.counters["slant_worst_deg"] = slantWorst;
    state.counters["corner_mean_px"] = cornerSum / n;
    state.counters["corner_worst_px"] = cornerWorst;
    state.counters["refused"] = refused;
    state.counters["wrong"] = wrong;
}

void BM_Mode13Accuracy_WhiteBacking(benchmark::State& state) {
    Accuracy(state, true, 0);
}
BENCHMARK(BM_Mode13Accuracy_WhiteBacking)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same sheets with the scan allowed to run 600 lines (5 cm) past the
// sheet, as a pipeline that scans a fixed length would ask.
void BM_Mode13Accuracy_WhiteBackingOverscan(benchmark::State& state) {
    Accuracy(state, true, 600);
}
BENCHMARK(BM_Mode13Accuracy_WhiteBackingOverscan)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_Mode13Accuracy_DarkBacking(benchmark::State& state) {
    Accuracy(state, false, 0);
}
BENCHMARK(BM_Mode13Accuracy_DarkBacking)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 1-bit A5 page of text lines turned clockwise by `angle` degrees.
kdtest::TestImage TextPage(double angle, uint32_t seed) {
    kdtest::SheetSpec s;
    s.imageWidth = 1748;
    s.imageHeight = 2480;
    s.sheetWidth = s.imageWidth * 1.3;
    s.sheetHeight = s.imageHeight * 1.3;
    s.centerX = s.imageWidth / 2.0;
    s.centerY = s.imageHeight / 2.0;
    s.angleDeg = angle;
    s.paper = s.backing = 235;
    s.seed = seed;
    const kdtest::TestImage gray = kdtest::SheetPage(s);
    kdtest::TestImage bits = kdtest::TestImage::Binary(gray.width(), gray.height());
    for (int32_t y = 0; y < gray.height(); ++y)
        for (int32_t x = 0; x < gray.width(); ++x)
            if (gray.get(x, y) < 128) bits.set(x, y, 1);
    return bits;
}

void BM_TextSlantAccuracy(benchmark::State& state) {
    constexpr double kAngles[] = {-6,  -5,  -4,  -3.5, -2.5, -1, -0.3, 0,  0.1,
                                  0.5, 1.0, 2.0, 2.8,  3.5,  4,  5,    6};
    constexpr double kRange = 3.0; // the steepest slope measured is 3.01 degrees
    double errSum = 0, errWorst = 0;
    int found = 0, levelInRange = 0, beyond = 0, refused = 0, wrong = 0, wrongSign = 0;
    for (auto _ : state) {
        for (const double angle : kAngles) {
            for (const uint32_t seed : {1u, 2u}) {
                kdtest::TestImage page = TextPage(angle, seed);
                for (const int32_t res : {0, 150}) {
                    tagDETECTTEXTSLANTINFO req{};
                    req.size = kDetectTextSlantInfoSize;
                    req.workingResolution = res;
                    if (DetectTextSlant(page.info(), &req) != 0) continue;
                    const double got = req.angle * 180 / M_PI;
                    if (std::getenv("KD_BENCH_VERBOSE"))
                        std::printf("text angle %5.1f seed %u res %3d: %+.3f\n", angle, seed, res,
                                    got);
                    if (std::fabs(angle) < kRange) {
                        if (got == 0.0 && angle != 0.0) ++levelInRange;
                        ++found;
                        errSum += std::fabs(got - angle);
                        errWorst = std::max(errWorst, std::fabs(got - angle));
                        continue;
                    }
                    ++beyond;
                    if (got == 0.0) {
                        ++refused;
                    } else {
                        ++wrong;
                        wrongSign += (got > 0) != (angle > 0);
                    }
                }
            }
        }
    }
    state.counters["in_range"] = found;
    state.counters["err_mean_deg"] = errSum / std::max(found, 1);
    state.counters["err_worst_deg"] = errWorst;
    state.counters["level_in_range"] = levelInRange;
    state.counters["beyond"] = beyond;
    state.counters["beyond_level"] = refused;
    state.counters["beyond_wrong"] = wrong;
    state.counters["beyond_wrong_sign"] = wrongSign;
}
BENCHMARK(BM_TextSlantAccuracy)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
