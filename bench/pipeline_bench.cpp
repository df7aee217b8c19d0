// A whole duplex A4 sheet at 300 dpi through the exported filter calls, as
// the data source sends it: raw colour bands of 128 lines from the sensor
// model through FilterDuplexFirst / Middle / Last, with shading, sRGB, gamma
// and the corner record of a page-edge scan (text orientation off: it has a
// benchmark of its own). One iteration is one sheet; the counter gives sheets
// per minute on one core. Colour, gray and black-and-white output. Copying a
// raw band into its image is not timed.
#include "ImvraKD730.h"
#include "KdSensorModel.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
namespace kd = Tvk::Imvra::KD730;

namespace {

constexpr int kLines = 3508; // A4 length at 300 dpi
constexpr int kLag = 93;     // the front's lag: the default transport offset
constexpr int kBand = 128;

kdsensor::Registers Registers() {
    kdsensor::Registers r;
    for (auto* s : {&r.front, &r.back}) {
        s->gain = {20, 20, 20};
        s->offset = {70, 70, 70};
        s->led = {560, 690, 620};
    }
    return r;
}

CImg RawBand(const kdsensor::ScanFormat& f, const uint8_t* lines, int count) {
    CImg band;
    band.createImg(static_cast<int32_t>(f.samplesPerRow()), count, static_cast<int32_t>(f.rowBytes()),
                   f.bits, 3, 1, f.xdpi, f.xdpi);
    std::memcpy(static_cast<tagIMAGEINFO*>(band)->lpImage, lines,
                f.lineBytes() * static_cast<size_t>(count));
    return band;
}

struct Sheet {
    kdsensor::SensorModel model{1};
    kdsensor::ScanFormat format;
    std::vector<uint8_t> raw;
    CImg white[2], black[2];
    tagADJUSTINFO adjust{};

    Sheet() {
        format.colour = true;
        format.back = true;
        // A document-like sheet: white paper, coloured areas and strokes.
        const int w = format.collectedWidth();
        std::vector<uint8_t> front(static_cast<size_t>(w) * kLines * 3, 255), back(front.size(), 250);
        for (int y = 0; y < kLines; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const size_t k = (static_cast<size_t>(y) * w + x) * 3 + c;
                    if (y % 60 < 30 && x % 40 < 8) front[k] = 30;
                    if (y > 2000 && y < 3000 && x > 300 && x < 2200)
                        front[k] = static_cast<uint8_t>((x / 10 + y / 14 + c * 40) & 0xFF);
                    if (y % 80 < 20 && x % 50 < 6) back[k] = 60;
                }
        const kdsensor::SideImage fs{front.data(), w, kLines, 3, static_cast<size_t>(w) * 3};
        const kdsensor::SideImage bs{back.data(), w, kLines, 3, static_cast<size_t>(w) * 3};
        kdsensor::EncodeOptions o;
        o.format = format;
        o.exposure = kdsensor::Exposure::Model;
        o.model = &model;
        o.registers = Registers();
        o.lag = kLag;
        raw = kdsensor::encodePage(o, &fs, &bs);

        // White and black references reduced by the library.
        kdsensor::ScanFormat ref = format;
        ref.bits = 12;
        adjust.bDuplex = 1;
        adjust.lXResolution = 300;
        for (int lit = 0; lit < 2; ++lit) {
            const auto r = kdsensor::scanReference(model, ref, Registers(), lit != 0, 8);
            CImg band = RawBand(ref, r.data(), 8);
            CImg* lines = lit != 0 ? white : black;
            kd::AdjustLightLast(lines[0], lines[1], band, &adjust);
        }
    }
};

void BM_DuplexA4Sheet(benchmark::State& state, int32_t bps, int32_t spp) {
    static Sheet sheet;
    const kdsensor::ScanFormat& f = sheet.format;
    void* engine = kd::createImvra();
    tagSHADINGINFO shading[2];
    for (int s = 0; s < 2; ++s) {
        CImg w = sheet.white[s], b = sheet.black[s];
        if (kd::AdjustLightFix(engine, w, b, &sheet.adjust, s == 0 ? SIDE_FRONT : SIDE_BACK,
                               nullptr, 0) != RTN_OK) {
            state.SkipWithError("no shading data");
            return;
        }
        shading[s].ulSize = kShadingInfoSize;
        shading[s].white = w;
        shading[s].black = b;
    }
    tagGRCINFO tone{};
    tone.ulSize = kGRCInfoSize;
    tone.ucBrightness = 140;
    tone.ucContrast = 150;
    tagSRGBCONVERSIONINFO srgb{kSRGBConversionInfoSize, 0, {}};
    tagDETECT4POINTSINFO corners[2]{};
    tagGRAYTOBINARYINFO bin{kGrayToBinaryInfoSize, 0, 128, 0, 0};

    tagFILTERDUPLEXINFO rec{};
    rec.ulSize = kFilterDuplexInfoSize;
    const int w = f.collectedWidth();
    rec.imageIn = tagIMAGEINFO{kImageInfoSize, nullptr, 0, 0, static_cast<int32_t>(f.samplesPerRow() / 2),
                               kLines, 0, 0, 8, 3, 1, 300, 300};
    rec.imageOut = tagIMAGEINFO{kImageInfoSize, nullptr, 0, 0, w, kLines, 0, 0, bps, spp, 0, 300, 300};
    for (tagNORMALFILTERINFO* n : {&rec.normalFront, &rec.normalBack}) {
        n->ulSize = kNormalFilterInfoSize;
        n->pGRCInfo = &tone;
        if (bps == 1) n->pGrayToBinaryInfo = &bin;
    }
    tagSPECIALFILTERINFO* sides[2] = {&rec.specialFront, &rec.specialBack};
    for (int s = 0; s < 2; ++s) {
        sides[s]->ulSize = kSpecialFilterInfoSize;
        sides[s]->pShadingInfo = &shading[s];
        sides[s]->pSRGBConversionInfo = &srgb;
        corners[s].ulSize = kDetect4PointsInfoSize;
        sides[s]->pDetect4PointsInfo = &corners[s];
    }

    const int lines = static_cast<int>(sheet.raw.size() / f.lineBytes());
    for (auto _ : state) {
        for (int y = 0; y < lines; y += kBand) {
            const int count = std::min(kBand, lines - y);
            state.PauseTiming();
            CImg band = RawBand(f, sheet.raw.data() + f.lineBytes() * static_cast<size_t>(y), count);
            state.ResumeTiming();
            CImg front, back;
            const tagRTN r = y == 0                 ? kd::FilterDuplexFirst(engine, front, back, band, &rec)
                             : y + count >= lines   ? kd::FilterDuplexLast(engine, front, back, band, &rec)
                                                    : kd::FilterDuplexMiddle(engine, front, back, band, &rec);
            if (r != RTN_OK) {
                state.SkipWithError("a band failed");
                kd::deleteImvra(engine);
                return;
            }
            benchmark::DoNotOptimize(static_cast<tagIMAGEINFO*>(front)->lpImage);
            benchmark::DoNotOptimize(static_cast<tagIMAGEINFO*>(back)->lpImage);
        }
    }
    state.counters["sheets_per_min"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 60.0, benchmark::Counter::kIsRate);
    kd::deleteImvra(engine);
}

void BM_DuplexA4Colour(benchmark::State& s) { BM_DuplexA4Sheet(s, 8, 3); }
void BM_DuplexA4Gray(benchmark::State& s) { BM_DuplexA4Sheet(s, 8, 1); }
void BM_DuplexA4BlackAndWhite(benchmark::State& s) { BM_DuplexA4Sheet(s, 1, 1); }
BENCHMARK(BM_DuplexA4Colour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DuplexA4Gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DuplexA4BlackAndWhite)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
