// The raw end of a scan: sensor collection and shading of a duplex A4 colour
// sheet at 300 dpi, in the data source's bands (2 MiB of raw data per side),
// as one iteration per sheet. The raw sheet and the shading data come from
// the sensor model; copying each raw band into its image is not timed.
#include "CollectArray.h"
#include "IPBase.h"
#include "KdSensorModel.h"
#include "RawSensorBands.h"
#include "Shading.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;

namespace {

constexpr int kLines = 3508; // A4 length at 300 dpi

using rawbench::RawBand;

tagCOLLECTARRAYINFO CollectInfo() {
    tagCOLLECTARRAYINFO info{};
    info.ulSize = kCollectArrayInfoSize;
    info.dummy = DUMMY_PIXEL_300[0];
    info.lWidth = 2552;
    return info;
}

// One averaged 16-bit line of a collected reference.
CImg MeanLine(const CImg& img) {
    const tagIMAGEINFO& i = img.info();
    const int64_t places = 3 * int64_t{i.lSync} / 2;
    std::vector<uint64_t> sum(static_cast<size_t>(places), 0);
    const auto* s = reinterpret_cast<const uint16_t*>(i.lpImage);
    for (int64_t y = 0; y < i.lHeight; ++y)
        for (int64_t k = 0; k < places; ++k) sum[static_cast<size_t>(k)] += s[y * places + k];
    tagIMAGEINFO rec = i;
    rec.lHeight = 1;
    rec.tImageSize = static_cast<uint32_t>(places * 2);
    CImg out;
    out.createImg(rec);
    auto* d = reinterpret_cast<uint16_t*>(out.info().lpImage);
    for (int64_t k = 0; k < places; ++k)
        d[k] = static_cast<uint16_t>(sum[static_cast<size_t>(k)] / i.lHeight);
    return out;
}

struct Sheet {
    kdsensor::SensorModel model{1};
    kdsensor::ScanFormat format;
    std::vector<uint8_t> raw;
    tagSHADINGINFO shading[2];

    Sheet() {
        format.colour = true;
        format.back = true;
        // A photo-like sheet: gradients with a little texture.
        const int w = format.collectedWidth();
        std::vector<uint8_t> front(static_cast<size_t>(w) * kLines * 3), back(front.size());
        for (int y = 0; y < kLines; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const size_t k = (static_cast<size_t>(y) * w + x) * 3 + c;
                    front[k] =
                        static_cast<uint8_t>((x / 10 + y / 14 + c * 40 + (x * y) % 7) & 0xFF);
                    back[k] = static_cast<uint8_t>(255 - ((x + y) / 24 + c * 30) % 200);
                }
        const kdsensor::SideImage fs{front.data(), w, kLines, 3, static_cast<size_t>(w) * 3};
        const kdsensor::SideImage bs{back.data(), w, kLines, 3, static_cast<size_t>(w) * 3};
        kdsensor::EncodeOptions o;
        o.format = format;
        o.exposure = kdsensor::Exposure::Model;
        o.model = &model;
        o.registers = rawbench::CalibratedRegisters();
        raw = kdsensor::encodePage(o, &fs, &bs);

        // White and black references of both sides, 12 bits.
        kdsensor::ScanFormat ref = format;
        ref.bits = 12;
        CImg lines[2][2]; // [lit][side]
        for (int lit = 0; lit < 2; ++lit) {
            const auto r =
                kdsensor::scanReference(model, ref, rawbench::CalibratedRegisters(), lit != 0, 4);
            CImg band = RawBand(ref, r.data(), 4);
            tagCOLLECTARRAYINFO info = CollectInfo();
            CCollectArrayForDuplex collect;
            collect.IPInterface(band, &info);
            CImg backRef;
            collect.getBackImage(backRef);
            lines[lit][0] = MeanLine(band);
            lines[lit][1] = MeanLine(backRef);
        }
        for (int side = 0; side < 2; ++side) {
            shading[side].ulSize = kShadingInfoSize;
            shading[side].white = lines[1][side];
            shading[side].black = lines[0][side];
            CImg whiteOrg = lines[1][side], blackOrg = lines[0][side];
            CShading maker;
            maker.makeShadingData(shading[side].white, shading[side].black, whiteOrg, blackOrg, 0);
        }
    }
};

void BM_CollectAndShadeDuplexA4Colour300(benchmark::State& state) {
    static Sheet sheet;
    const kdsensor::ScanFormat& f = sheet.format;
    const int bandLines = static_cast<int>((2u << 20) / (f.rowBytes() / 2 * 3));
    tagCOLLECTARRAYINFO info = CollectInfo();
    CIPController<CCollectArrayForDuplex> collect;
    collect.setStage(new CCollectArrayForDuplex, 0);
    CIPController<CShading> shade[2];
    for (auto& s : shade) s.setStage(new CShading, 0);
    for (auto _ : state) {
        collect.setFirst();
        for (auto& s : shade) s.setFirst();
        for (int y = 0; y < kLines; y += bandLines) {
            const int count = std::min(bandLines, kLines - y);
            const bool last = y + count >= kLines;
            state.PauseTiming();
            CImg band =
                RawBand(f, sheet.raw.data() + f.lineBytes() * static_cast<size_t>(y), count);
            state.ResumeTiming();
            int r = last ? collect.IPLast(band, &info) : collect.IPMiddle(band, &info);
            CImg back;
            collect.stage()->getBackImage(back);
            CImg* sides[2] = {&band, &back};
            for (int s = 0; s < 2 && r == 0; ++s)
                r = last ? shade[s].IPLast(*sides[s], &sheet.shading[s])
                         : shade[s].IPMiddle(*sides[s], &sheet.shading[s]);
            if (r != 0) {
                state.SkipWithError("a stage failed");
                return;
            }
            benchmark::DoNotOptimize(band.info().lpImage);
            benchmark::DoNotOptimize(back.info().lpImage);
        }
    }
}
BENCHMARK(BM_CollectAndShadeDuplexA4Colour300)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
