// A whole duplex A4 sheet at 300 dpi through the exported filter calls, as
// the data source sends it: raw colour bands of 128 lines from the sensor
// model through FilterDuplexFirst / Middle / Last, with the settings of a
// page-edge scan (corner detection, deskew, automatic size), shading, sRGB
// and gamma; text orientation off (it has a benchmark of its own). The sheet
// carries sensor noise, as a real scan does. One iteration is one sheet, run
// on a worker thread as the data source's image thread runs it; the counter
// sheets_per_min is the number of sheets a minute of one core processes, and
// x_memcpy the sheet's time over a memcpy of the same output bytes, measured
// on the same thread right after each sheet (so a busy machine slows both).
// Colour, gray and black-and-white output. Copying a raw band into its image
// is not timed.
#include "ImvraKD730.h"
#include "KdSensorModel.h"
#include "MemcpyRatio.h"
#include "RawSensorBands.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
namespace kd = Tvk::Imvra::KD730;

namespace {

constexpr int kWidth = 2480; // A4 at 300 dpi
constexpr int kLines = 3508;
constexpr double kSkewDeg = 1.0;
// Backing lines before the sheet's highest and after its lowest point, as
// the feeder starts and ends the scan.
constexpr int kLeadIn = 60, kTrailing = 40;
constexpr double kPi = 3.14159265358979323846;
const int kScanLines = kLeadIn + kTrailing +
                       static_cast<int>(std::ceil(kWidth * std::sin(kSkewDeg * kPi / 180) +
                                                  kLines * std::cos(kSkewDeg * kPi / 180)));
constexpr int kLag = 93; // the front's lag: the default transport offset
constexpr int kBand = 128;

using rawbench::RawBand;

// A thread that runs one job at a time for the benchmark loop, as the data
// source's image thread runs the filter chain away from the host's thread.
class Worker {
public:
    Worker() : m_thread([this] { loop(); }) {}
    ~Worker() {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
    // Runs job on the worker and waits for it.
    void run(std::function<void()> job) {
        std::unique_lock lock(m_mutex);
        m_job = std::move(job);
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return !m_job; });
    }

private:
    void loop() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_cv.wait(lock, [this] { return m_quit || m_job; });
            if (m_quit) return;
            lock.unlock();
            m_job();
            lock.lock();
            m_job = nullptr;
            m_cv.notify_all();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<void()> m_job;
    bool m_quit = false;
    std::thread m_thread;
};

struct Sheet {
    kdsensor::SensorModel model{1};
    kdsensor::ScanFormat format;
    std::vector<uint8_t> raw;
    CImg white[2], black[2];
    tagADJUSTINFO adjust{};

    // One side as its sensor sees the sheet: a document-like A4 page (paper
    // a little darker than the white backing, coloured areas and strokes)
    // turned by kSkewDeg, its leading edge's shadow on the front, its
    // trailing edge's on the back; the back sensor sees the sheet mirrored.
    static std::vector<uint8_t> Side(int w, bool back) {
        constexpr uint8_t kBacking = 255, kShadow = 90, kPaper = 210;
        std::vector<uint8_t> img(static_cast<size_t>(w) * kScanLines * 3, kBacking);
        const double a = (back ? -kSkewDeg : kSkewDeg) * kPi / 180, ca = std::cos(a),
                     sa = std::sin(a);
        const double cx = w / 2.0, cy = kLeadIn + (kScanLines - kLeadIn - kTrailing) / 2.0;
        for (int y = 0; y < kScanLines; ++y)
            for (int x = 0; x < w; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                const double fu = dx * ca + dy * sa + kWidth / 2.0;
                const double fv = -dx * sa + dy * ca + kLines / 2.0;
                if (fu < 0 || fu >= kWidth) continue;
                uint8_t* p = &img[(static_cast<size_t>(y) * w + x) * 3];
                if (back ? fv >= kLines && fv < kLines + 6 : fv < 0 && fv >= -6) {
                    p[0] = p[1] = p[2] = kShadow;
                    continue;
                }
                if (fv < 0 || fv >= kLines) continue;
                const int u = static_cast<int>(fu), v = static_cast<int>(fv);
                for (int c = 0; c < 3; ++c) {
                    int level = 255;
                    if (!back) {
                        if (v % 60 < 30 && u % 40 < 8) level = 30;
                        if (v > 2000 && v < 3000 && u > 300 && u < 2200)
                            level = (u / 10 + v / 14 + c * 40) & 0xFF;
                    } else if (v % 80 < 20 && u % 50 < 6) {
                        level = 60;
                    }
                    p[c] = static_cast<uint8_t>(level * kPaper / 255);
                }
            }
        AddSensorNoise(img, back ? 7 : 3);
        return img;
    }

    // Noise of about 2.5 levels (the sum of four uniform bytes, near normal)
    // on every sample, as the sensor adds it.
    static void AddSensorNoise(std::vector<uint8_t>& img, uint32_t seed) {
        uint32_t x = seed * 2654435761u + 1;
        for (uint8_t& v : img) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            const int sum = int(x & 255) + int(x >> 8 & 255) + int(x >> 16 & 255) + int(x >> 24);
            const int n = (sum - 510) / 59;
            v = static_cast<uint8_t>(std::clamp(v + n, 0, 255));
        }
    }

    Sheet() {
        format.colour = true;
        format.back = true;
        const int w = format.collectedWidth();
        const std::vector<uint8_t> front = Side(w, false), back = Side(w, true);
        const kdsensor::SideImage fs{front.data(), w, kScanLines, 3, static_cast<size_t>(w) * 3};
        const kdsensor::SideImage bs{back.data(), w, kScanLines, 3, static_cast<size_t>(w) * 3};
        kdsensor::EncodeOptions o;
        o.format = format;
        o.exposure = kdsensor::Exposure::Model;
        o.model = &model;
        o.registers = rawbench::CalibratedRegisters();
        o.lag = kLag;
        o.leadIn = 255; // the backing
        raw = kdsensor::encodePage(o, &fs, &bs);

        // White and black references reduced by the library.
        kdsensor::ScanFormat ref = format;
        ref.bits = 12;
        adjust.bDuplex = 1;
        adjust.lXResolution = 300;
        for (int lit = 0; lit < 2; ++lit) {
            const auto r =
                kdsensor::scanReference(model, ref, rawbench::CalibratedRegisters(), lit != 0, 8);
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
    rec.imageIn = tagIMAGEINFO{kImageInfoSize,
                               nullptr,
                               0,
                               0,
                               static_cast<int32_t>(f.samplesPerRow() / 2),
                               kScanLines,
                               0,
                               0,
                               8,
                               3,
                               1,
                               300,
                               300};
    rec.imageOut =
        tagIMAGEINFO{kImageInfoSize, nullptr, 0, 0, w, kScanLines, 0, 0, bps, spp, 0, 300, 300};
    for (tagNORMALFILTERINFO* n : {&rec.normalFront, &rec.normalBack}) {
        n->ulSize = kNormalFilterInfoSize;
        n->pGRCInfo = &tone;
        n->bAutoSize = n->bSkewCorrection = 1;
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
    int32_t pageWidth = 0, pageHeight = 0;
    bool failed = false;
    // One sheet on the worker: seconds in the filter calls, output bytes.
    auto oneSheet = [&](double& seconds, size_t& bytes) {
        seconds = 0;
        bytes = 0;
        pageHeight = 0;
        for (int y = 0; y < lines && !failed; y += kBand) {
            const int count = std::min(kBand, lines - y);
            CImg band =
                RawBand(f, sheet.raw.data() + f.lineBytes() * static_cast<size_t>(y), count);
            CImg front, back;
            const auto t0 = std::chrono::steady_clock::now();
            const tagRTN r = y == 0 ? kd::FilterDuplexFirst(engine, front, back, band, &rec)
                             : y + count >= lines
                                 ? kd::FilterDuplexLast(engine, front, back, band, &rec)
                                 : kd::FilterDuplexMiddle(engine, front, back, band, &rec);
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (r != RTN_OK) {
                failed = true;
                return;
            }
            for (CImg* side : {&front, &back}) {
                const tagIMAGEINFO* page = *side;
                if (page->lpImage != nullptr) bytes += page->tImageSize;
            }
            const tagIMAGEINFO* page = front;
            if (page->lpImage != nullptr) {
                pageWidth = page->lWidth;
                pageHeight += page->lHeight;
            }
            benchmark::DoNotOptimize(static_cast<tagIMAGEINFO*>(front)->lpImage);
            benchmark::DoNotOptimize(static_cast<tagIMAGEINFO*>(back)->lpImage);
        }
    };
    Worker worker;
    // One sheet first, untimed: the data source's engine runs sheet after
    // sheet, so a timed sheet finds the one before it. It also tells how
    // many bytes the copy of each round moves.
    std::vector<uint8_t> outputBytes;
    std::unique_ptr<kdbench::InterleavedMemcpy> copy;
    worker.run([&] {
        double seconds = 0;
        size_t bytes = 0;
        oneSheet(seconds, bytes);
        if (failed) return;
        outputBytes.assign(bytes, 0x5A);
        copy = std::make_unique<kdbench::InterleavedMemcpy>(outputBytes.data(), bytes);
    });
    double total = 0;
    int64_t sheets = 0;
    for (auto _ : state) {
        double seconds = 0;
        if (failed) break;
        worker.run([&] {
            size_t bytes = 0;
            oneSheet(seconds, bytes);
            if (!failed) copy->copyOnce();
        });
        if (failed) break;
        state.SetIterationTime(seconds);
        total += seconds;
        ++sheets;
    }
    if (failed) {
        state.SkipWithError("a band failed");
        kd::deleteImvra(engine);
        return;
    }
    // The finished front page, to see at a glance that the sheet was found.
    state.counters["page_width"] = pageWidth;
    state.counters["page_height"] = pageHeight;
    if (std::abs(pageWidth - kWidth) > 3 || std::abs(pageHeight - kLines) > 3)
        state.SkipWithError("the sheet was not found");
    // Plain figures of the worker's own clock (the framework's rates would
    // use the waiting main thread's processor time).
    if (total > 0) state.counters["sheets_per_min"] = 60.0 * sheets / total;
    if (copy && copy->meanSeconds() > 0)
        state.counters["x_memcpy"] = total / sheets / copy->meanSeconds();
    kd::deleteImvra(engine);
}

void BM_DuplexA4Colour(benchmark::State& s) {
    BM_DuplexA4Sheet(s, 8, 3);
}
void BM_DuplexA4Gray(benchmark::State& s) {
    BM_DuplexA4Sheet(s, 8, 1);
}
void BM_DuplexA4BlackAndWhite(benchmark::State& s) {
    BM_DuplexA4Sheet(s, 1, 1);
}
BENCHMARK(BM_DuplexA4Colour)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DuplexA4Gray)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DuplexA4BlackAndWhite)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
