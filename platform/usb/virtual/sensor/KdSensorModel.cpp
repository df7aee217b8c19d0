#include "KdSensorModel.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace kdsensor {

namespace {

constexpr int kGray = 3; // row channel index of a gray row

// Start positions and phase lengths by resolution and layout. Segment A is
// written in all three phases, B in phases 2 and 3, C in phases 1 and 2; each
// cursor moves one position down after each write.
const SensorGeometry kGeometries[2][2] = {
    {{300, 0, 864, 2552, 40, 1700, 2551, 836, {13, 824, 27}},
     {300, 1, 864, 2552, 40, 1687, 2551, 823, {0, 824, 40}}},
    {{600, 0, 1728, 5104, 80, 3401, 5103, 1673, {26, 1648, 54}},
     {600, 1, 1728, 5104, 80, 3375, 5103, 1647, {0, 1648, 80}}},
};

int dpiIndex(int dpi) {
    if (dpi == 300) return 0;
    if (dpi == 600) return 1;
    throw std::invalid_argument("sensor resolution " + std::to_string(dpi) +
                                " dpi is not 300 or 600");
}

std::vector<int32_t> buildSlotPixels(const SensorGeometry& g, bool mirrored) {
    std::vector<int32_t> map(static_cast<size_t>(g.slotCount()), -1);
    int a = g.startA, b = g.startB, c = g.startC;
    const int end1 = g.phase[0], end2 = g.phase[0] + g.phase[1];
    const int w = g.collectedWidth;
    auto pixel = [&](int collected) { return mirrored ? w - 1 - collected : collected; };
    for (int p = 0; p < g.positions; ++p) {
        const int phase = p < end1 ? 1 : (p < end2 ? 2 : 3);
        map[3 * p] = pixel(a--);
        if (phase >= 2) map[3 * p + 1] = pixel(b--);
        if (phase <= 2) map[3 * p + 2] = pixel(c--);
    }
    return map;
}

// Deterministic uniform values in [0, 1) from a seed and a stream number.
class Uniform {
public:
    Uniform(uint32_t seed, uint32_t stream) : m_rng(seed * 0x9E3779B9u ^ (stream * 0x85EBCA6Bu)) {}
    double operator()() { return static_cast<double>(m_rng()) / 4294967296.0; }

private:
    std::mt19937 m_rng;
};

constexpr double kDarkMean = 620.0;   // dark counts; offset 30 reads about 400
constexpr double kDarkSpread = 40.0;  // +-20
constexpr double kSensSpread = 0.10;  // +-5 %
// Counts per unit LED current at 300 dpi: white reaches about 2611 counts over
// dark at the calibration's starting currents 470, 580, 520.
constexpr double kEfficiency300[3] = {5.1, 4.14, 4.6};

} // namespace

const SensorGeometry& geometry(int dpi, int layout) {
    const int d = dpiIndex(dpi);
    if (layout != 0 && layout != 1)
        throw std::invalid_argument("sensor layout index " + std::to_string(layout) +
                                    " is not 0 or 1");
    return kGeometries[d][layout];
}

const std::vector<int32_t>& slotPixels(int dpi, int layout, bool mirrored) {
    static const std::vector<int32_t> maps[2][2][2] = {
        {{buildSlotPixels(kGeometries[0][0], false), buildSlotPixels(kGeometries[0][0], true)},
         {buildSlotPixels(kGeometries[0][1], false), buildSlotPixels(kGeometries[0][1], true)}},
        {{buildSlotPixels(kGeometries[1][0], false), buildSlotPixels(kGeometries[1][0], true)},
         {buildSlotPixels(kGeometries[1][1], false), buildSlotPixels(kGeometries[1][1], true)}},
    };
    const SensorGeometry& g = geometry(dpi, layout);
    return maps[dpiIndex(g.dpi)][g.layout][mirrored ? 1 : 0];
}

void pack12(const uint16_t* s, size_t n, uint8_t* out) {
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
        const unsigned s0 = s[i] & 0xFFFu, s1 = s[i + 1] & 0xFFFu;
        *out++ = static_cast<uint8_t>(s0);
        *out++ = static_cast<uint8_t>((s0 >> 8) | ((s1 & 0xFu) << 4));
        *out++ = static_cast<uint8_t>(s1 >> 4);
    }
    if (i < n) {
        const unsigned s0 = s[i] & 0xFFFu;
        *out++ = static_cast<uint8_t>(s0);
        *out++ = static_cast<uint8_t>(s0 >> 8);
    }
    const size_t written = (n / 2) * 3 + (n % 2) * 2;
    for (size_t k = written; k < packed12Bytes(n); ++k) *out++ = 0;
}

void unpack12(const uint8_t* in, size_t n, uint16_t* s) {
    size_t i = 0;
    for (; i + 1 < n; i += 2, in += 3) {
        s[i] = static_cast<uint16_t>((in[0] | (in[1] << 8)) & 0xFFF);
        s[i + 1] = static_cast<uint16_t>((in[1] | (in[2] << 8)) >> 4);
    }
    if (i < n) s[i] = static_cast<uint16_t>((in[0] | (in[1] << 8)) & 0xFFF);
}

size_t packed12Bytes(size_t n) { return ((12 * n / 8) + 1) & ~static_cast<size_t>(1); }

double analogGain(int g) { return 416.0 / (288.3 - g) / 1.4429413805064168; }

SensorModel::SensorModel(uint32_t seed) : m_seed(seed) {
    for (int side = 0; side < 2; ++side) {
        for (int d = 0; d < 2; ++d) {
            const size_t slots = static_cast<size_t>(kGeometries[d][0].slotCount());
            const uint32_t stream = static_cast<uint32_t>(side * 2 + d) * 4;
            Uniform dark(seed, stream);
            m_dark[side][d].resize(slots);
            for (auto& v : m_dark[side][d])
                v = static_cast<float>(kDarkMean + kDarkSpread * (dark() - 0.5));
            for (int c = 0; c < 3; ++c) {
                Uniform sens(seed, stream + 1 + static_cast<uint32_t>(c));
                m_sens[side][d][c].resize(slots);
                for (auto& v : m_sens[side][d][c])
                    v = static_cast<float>(1.0 + kSensSpread * (sens() - 0.5));
            }
        }
    }
}

double SensorModel::dark(int side, int dpi, int slot) const {
    return m_dark[side != 0][dpiIndex(dpi)].at(static_cast<size_t>(slot));
}

double SensorModel::sensitivity(int side, int dpi, int channel, int slot) const {
    return m_sens[side != 0][dpiIndex(dpi)][std::clamp(channel, 0, 2)].at(
        static_cast<size_t>(slot));
}

double SensorModel::efficiency(int channel, int dpi) {
    const double e = kEfficiency300[std::clamp(channel, 0, 2)];
    return dpiIndex(dpi) == 1 ? e / 2 : e;
}

namespace {
uint16_t clamp12(double v) {
    if (!(v > 0)) return 0;
    if (v >= 4095) return 4095;
    return static_cast<uint16_t>(v);
}
} // namespace

uint16_t SensorModel::sample12(int side, int dpi, int slot, int channel, const SideRegisters& regs,
                               const std::array<double, 3>& reflectance) const {
    const int rc = channel < 0 ? 0 : std::min(channel, 2);
    const double a = analogGain(regs.gain[static_cast<size_t>(rc)]);
    double light = 0;
    for (int c = 0; c < 3; ++c) {
        if (channel >= 0 && c != channel) continue;
        light += regs.led[static_cast<size_t>(c)] * efficiency(c, dpi) *
                 sensitivity(side, dpi, c, slot) * reflectance[static_cast<size_t>(c)];
    }
    return clamp12(a * (dark(side, dpi, slot) + light -
                        kOffsetStep * regs.offset[static_cast<size_t>(rc)]));
}

void ScanFormat::check() const {
    geometry(xdpi, layout);
    if (bits != 8 && bits != 12)
        throw std::invalid_argument("sample depth " + std::to_string(bits) + " is not 8 or 12");
    if (!front && !back) throw std::invalid_argument("no window is read");
}

size_t ScanFormat::samplesPerRow() const {
    return static_cast<size_t>(geometry(xdpi, layout).slotCount()) * static_cast<size_t>(windows());
}

size_t ScanFormat::rowBytes() const {
    const size_t n = samplesPerRow();
    return bits == 12 ? packed12Bytes(n) : n;
}

size_t ScanFormat::lineBytes() const { return rowBytes() * (colour ? 3 : 1); }

int ScanFormat::collectedWidth() const { return geometry(xdpi, layout).collectedWidth; }

RawPageEncoder::RawPageEncoder(const EncodeOptions& o, const SideImage* front,
                               const SideImage* back)
    : m_format(o.format), m_exposure(o.exposure), m_leadIn(o.leadIn) {
    m_format.check();
    if (m_exposure == Exposure::Model && !o.model)
        throw std::invalid_argument("model exposure without a sensor model");
    const SensorGeometry& g = geometry(m_format.xdpi, m_format.layout);
    const SideImage* images[2] = {m_format.front ? front : nullptr,
                                  m_format.back ? back : nullptr};
    const bool want[2] = {m_format.front, m_format.back};
    int height = -1;
    for (int s = 0; s < 2; ++s) {
        if (!want[s]) continue;
        const SideImage* im = images[s];
        const char* name = s == 0 ? "front" : "back";
        if (!im || (!im->pixels && !im->rowSource))
            throw std::invalid_argument(std::string("no ") + name + " image for its window");
        if (im->width != g.collectedWidth)
            throw std::invalid_argument(std::string(name) + " image is " +
                                        std::to_string(im->width) + " pixels wide, the sensor " +
                                        std::to_string(g.collectedWidth));
        if (im->channels != 1 && im->channels != 3)
            throw std::invalid_argument(std::string(name) + " image has " +
                                        std::to_string(im->channels) + " channels");
        if (im->height < 0 ||
            (!im->rowSource && im->stride < static_cast<size_t>(im->width) * im->channels))
            throw std::invalid_argument(std::string(name) + " image has a bad height or stride");
        if (!m_format.colour && im->channels == 3 && m_exposure == Exposure::Direct)
            throw std::invalid_argument(std::string(name) +
                                        " image is colour but direct exposure of a gray scan "
                                        "takes gray images");
        if (height >= 0 && im->height != height)
            throw std::invalid_argument("front and back images differ in height");
        height = im->height;
        m_sides[s].image = im;
    }
    const int lag = m_format.windows() == 2 ? o.lag : 0;
    m_lines = height + std::abs(lag);
    m_sides[0].firstLine = std::max(lag, 0);
    m_sides[1].firstLine = std::max(-lag, 0);

    // Coefficients per side, row channel and slot.
    const size_t slots = static_cast<size_t>(g.slotCount());
    const double scale = o.white / 255.0;
    for (int s = 0; s < 2; ++s) {
        if (!want[s]) continue;
        const SideRegisters& regs = s == 0 ? o.registers.front : o.registers.back;
        for (int rc = 0; rc < 4; ++rc) {
            if (m_format.colour != (rc != kGray)) continue;
            auto& base = m_sides[s].base[rc];
            base.assign(slots, 0.0f);
            for (int c = 0; c < 3; ++c) m_sides[s].k[rc][c].assign(slots, 0.0f);
            if (m_exposure == Exposure::Direct) {
                m_sides[s].k[rc][rc == kGray ? 0 : rc].assign(slots, 16.0f);
                continue;
            }
            const size_t ri = rc == kGray ? 0 : static_cast<size_t>(rc);
            const double a = analogGain(regs.gain[ri]);
            for (size_t i = 0; i < slots; ++i) {
                const int slot = static_cast<int>(i);
                base[i] = static_cast<float>(
                    a * (o.model->dark(s, g.dpi, slot) - kOffsetStep * regs.offset[ri]));
                for (int c = 0; c < 3; ++c) {
                    if (rc != kGray && c != rc) continue;
                    m_sides[s].k[rc][c][i] = static_cast<float>(
                        a * regs.led[static_cast<size_t>(c)] * SensorModel::efficiency(c, g.dpi) *
                        o.model->sensitivity(s, g.dpi, c, slot) * scale);
                }
            }
        }
    }

    // Where each raw sample of a row comes from.
    const size_t n = m_format.samplesPerRow();
    m_rawSide.resize(n);
    m_rawSlot.resize(n);
    if (m_format.windows() == 1) {
        const uint8_t side = m_format.front ? 0 : 1;
        for (size_t i = 0; i < n; ++i) {
            m_rawSide[i] = side;
            m_rawSlot[i] = static_cast<int32_t>(i);
        }
        m_slotPixel[side] = slotPixels(g.dpi, g.layout, true);
    } else {
        // Six samples per position: back B, back C, front A, back A, front B, front C.
        static const uint8_t kSide[6] = {1, 1, 0, 1, 0, 0};
        static const int kSeg[6] = {1, 2, 0, 0, 1, 2};
        for (size_t i = 0; i < n; ++i) {
            const size_t p = i / 6, j = i % 6;
            m_rawSide[i] = kSide[j];
            m_rawSlot[i] = static_cast<int32_t>(3 * p) + kSeg[j];
        }
        m_slotPixel[0] = slotPixels(g.dpi, g.layout, true);
        m_slotPixel[1] = slotPixels(g.dpi, g.layout, false);
    }
}

void RawPageEncoder::fillSlots(const Side& side, int s, int line, int rc,
                               uint16_t* out) const {
    const SideImage& im = *side.image;
    const int row = line - side.firstLine;
    const uint8_t* px = nullptr;
    if (row >= 0 && row < im.height)
        px = im.rowSource ? im.rowSource(row) : im.pixels + static_cast<size_t>(row) * im.stride;
    const auto& map = m_slotPixel[s];
    const float* base = side.base[rc].data();
    const float* k0 = side.k[rc][0].data();
    const float* k1 = side.k[rc][1].data();
    const float* k2 = side.k[rc][2].data();
    const size_t slots = map.size();
    const bool direct = m_exposure == Exposure::Direct;
    for (size_t i = 0; i < slots; ++i) {
        const int32_t x = map[i];
        if (x < 0) {
            out[i] = direct ? 0 : clamp12(base[i]);
            continue;
        }
        float r, gch, b;
        if (!px) {
            r = gch = b = m_leadIn;
        } else if (im.channels == 1) {
            r = gch = b = px[x];
        } else {
            const uint8_t* p = px + 3 * static_cast<size_t>(x);
            r = p[0];
            gch = p[1];
            b = p[2];
        }
        if (direct) {
            // Colour rows take their channel; gray rows take the gray value.
            const float v = rc == kGray ? r : (rc == 0 ? r : (rc == 1 ? gch : b));
            out[i] = static_cast<uint16_t>(v * 16.0f);
        } else {
            out[i] = clamp12(base[i] + k0[i] * r + k1[i] * gch + k2[i] * b);
        }
    }
}

void RawPageEncoder::line(int n, uint8_t* out) const {
    if (n < 0 || n >= m_lines) throw std::out_of_range("raw line out of range");
    const size_t slots = m_slotPixel[m_format.front ? 0 : 1].size();
    std::vector<uint16_t> sideSlots[2];
    std::vector<uint16_t> raw(m_format.samplesPerRow());
    const size_t rowBytes = m_format.rowBytes();
    const int rows = m_format.colour ? 3 : 1;
    for (int r = 0; r < rows; ++r) {
        const int rc = m_format.colour ? r : kGray;
        for (int s = 0; s < 2; ++s) {
            if (!m_sides[s].image) continue;
            sideSlots[s].resize(slots);
            fillSlots(m_sides[s], s, n, rc, sideSlots[s].data());
        }
        for (size_t i = 0; i < raw.size(); ++i)
            raw[i] = sideSlots[m_rawSide[i]][static_cast<size_t>(m_rawSlot[i])];
        uint8_t* dst = out + static_cast<size_t>(r) * rowBytes;
        if (m_format.bits == 12) {
            pack12(raw.data(), raw.size(), dst);
        } else {
            for (size_t i = 0; i < raw.size(); ++i) dst[i] = static_cast<uint8_t>(raw[i] >> 4);
        }
    }
}

std::vector<uint8_t> RawPageEncoder::lines(int first, int count) const {
    if (first < 0 || count < 0 || first + count > m_lines)
        throw std::out_of_range("raw lines out of range");
    std::vector<uint8_t> out(lineBytes() * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) line(first + i, out.data() + lineBytes() * static_cast<size_t>(i));
    return out;
}

std::vector<uint8_t> encodePage(const EncodeOptions& options, const SideImage* front,
                                const SideImage* back) {
    RawPageEncoder enc(options, front, back);
    return enc.lines(0, enc.lines());
}

std::vector<uint8_t> scanReference(const SensorModel& model, const ScanFormat& format,
                                   const Registers& registers, bool lit, int lines) {
    format.check();
    const int w = format.collectedWidth();
    std::vector<uint8_t> strip(static_cast<size_t>(w), 255);
    SideImage im{strip.data(), w, 1, 1, static_cast<size_t>(w)};
    // The strip is the same on every line: encode one line and repeat it.
    EncodeOptions o;
    o.format = format;
    o.exposure = Exposure::Model;
    o.model = &model;
    o.registers = registers;
    o.white = 1.0;
    if (!lit) {
        o.registers.front.led = {0, 0, 0};
        o.registers.back.led = {0, 0, 0};
    }
    RawPageEncoder enc(o, &im, &im);
    std::vector<uint8_t> one(enc.lineBytes());
    enc.line(0, one.data());
    std::vector<uint8_t> out;
    out.reserve(one.size() * static_cast<size_t>(std::max(lines, 0)));
    for (int i = 0; i < lines; ++i) out.insert(out.end(), one.begin(), one.end());
    return out;
}

} // namespace kdsensor
