// Sensor model and raw-line encoder of the KD-720's contact image sensor.
//
// The scanner's sensor has three segments (A, B, C) read out in parallel, each
// from its far end towards its near end; in a duplex scan the front and back
// sensors are read out together. This library produces raw lines in exactly
// the layout the image library's collection stages undo, from page images on
// plain buffers, and models the analogue front end (gain and offset registers,
// LED currents, per-pixel sensitivity and dark level) so calibration scans
// answer the way the library's calibration arithmetic expects.
//
// It depends on nothing but the standard library: the virtual scanner uses it,
// and the image library's tests link it to build raw bands and references.
//
// Terms used below:
//  - position: one readout step of the sensor; 864 at 300 dpi, 1728 at 600 dpi.
//    Each position yields one sample of A, B and C per side.
//  - slot: one sample of one side, 3 x position + k (k = 0 A, 1 B, 2 C).
//  - collected line: the 2552 (300 dpi) or 5104 (600 dpi) image pixels the
//    slots carry; the remaining 40 or 80 slots are idle and hold a dummy sample
//    at the dark level.
//  - raw row: the samples of one colour channel (or of gray) of one line as the
//    scanner sends them: one window gives the slots in order, two windows give
//    six samples per position: back B, back C, front A, back A, front B, front C.
//  - raw line: one raw row (gray) or the rows R, G, B one after another (colour).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

namespace kdsensor {

// Geometry of one side for a resolution and sensor layout index.
struct SensorGeometry {
    int dpi = 0;              // 300 or 600
    int layout = 0;           // 0 or 1
    int positions = 0;        // 864 or 1728
    int collectedWidth = 0;   // 2552 or 5104
    int dummySlots = 0;       // 40 or 80
    int startA = 0, startB = 0, startC = 0; // first collected index each segment writes
    std::array<int, 3> phase{};             // positions in phase 1, 2, 3
    // Not "slots": Qt defines it as a macro for its users.
    int slotCount() const { return 3 * positions; }
};

// The geometry for dpi 300 or 600 and layout 0 or 1; anything else throws
// std::invalid_argument naming the value.
const SensorGeometry& geometry(int dpi, int layout);

// For every slot of one side, the pixel of the side's image row it carries
// (0 = leftmost pixel as the side is seen), or -1 for an idle slot. The front
// sensor reads its side mirrored, so `mirrored` is true for the front window
// and for a single window (the one-window collection always mirrors); false for
// the back window of a two-window scan.
const std::vector<int32_t>& slotPixels(int dpi, int layout, bool mirrored);

// Packs n 12-bit samples (upper bits ignored) into a row of packed12Bytes(n)
// bytes: two samples in three bytes, b0 = low byte of s0, b1 = high nibble of s0
// plus low nibble of s1 shifted up 4, b2 = s1 shifted down 4. The bytes after
// the samples are zero.
void pack12(const uint16_t* samples, size_t n, uint8_t* out);
// The inverse (the library's unpacking): reads n samples from a packed row.
void unpack12(const uint8_t* in, size_t n, uint16_t* samples);
// Bytes of a packed row of n samples: 12 x n / 8 + 1 with bit 0 cleared, as the
// data source sizes its 12-bit reads.
size_t packed12Bytes(size_t n);

// Analogue front-end settings of one side, as SET ADJUST DATA carries them.
struct SideRegisters {
    std::array<uint8_t, 3> gain{0, 0, 0};       // R, G, B gain registers
    std::array<uint8_t, 3> offset{30, 30, 30};  // R, G, B offset registers
    std::array<uint16_t, 3> led{0, 0, 0};       // R, G, B LED currents
    bool operator==(const SideRegisters&) const = default;
};
struct Registers {
    SideRegisters front, back;
    bool operator==(const Registers&) const = default;
};

// Amplification of gain register g: 416 / (288.3 - g) / 1.4429413805064168
// (1.0 at g = 0).
double analogGain(int g);
// Counts one offset register step takes off a sample before amplification.
inline constexpr double kOffsetStep = 4096.0 * 2.4 / 1350.0;
// Share of the calibration strip's light that paper of image value 255 reflects:
// enough that white paper shades to 255 with every shading target.
inline constexpr double kPaperWhite = 0.93;

// The physical sensor: seeded per-slot sensitivity (about +-5 %) and dark level,
// and the LED efficiencies. A 12-bit sample of slot s in a row of channel c is
//   clamp(A(g) x (dark + light - kOffsetStep x o), 0, 4095), truncated,
//   light = sum over lit LEDs l of led[l] x efficiency(l, dpi) x sensitivity x reflectance(l),
// where a colour row of channel c sees LED c only and a gray row all three; g
// and o are the registers of the row's channel (gray: the R registers).
class SensorModel {
public:
    explicit SensorModel(uint32_t seed = 1);

    uint32_t seed() const { return m_seed; }
    // Dark level (counts before amplification) of a slot; side 0 front, 1 back.
    double dark(int side, int dpi, int slot) const;
    // Relative sensitivity of a slot to LED channel c (0 R, 1 G, 2 B).
    double sensitivity(int side, int dpi, int channel, int slot) const;
    // Counts per unit LED current of channel c for a white reflector; half at 600 dpi.
    static double efficiency(int channel, int dpi);

    // One sample. `reflectance` holds the reflectance (0..1) per LED channel;
    // channel -1 is a gray row (all three LEDs), 0..2 a colour row.
    uint16_t sample12(int side, int dpi, int slot, int channel, const SideRegisters& regs,
                      const std::array<double, 3>& reflectance) const;

private:
    uint32_t m_seed;
    // [side][dpi index] per slot: dark level; sensitivity per channel.
    std::vector<float> m_dark[2][2];
    std::vector<float> m_sens[2][2][3];
};

// What a raw scan looks like on the wire.
struct ScanFormat {
    int xdpi = 300;       // sensor resolution: 300 or 600
    int layout = 0;       // sensor layout index: 0 or 1
    int bits = 8;         // 8 (image data) or 12 (calibration windows, packed)
    bool colour = false;  // rows R, G, B per line; else one gray row
    bool front = true;    // windows read: front, back or both
    bool back = false;

    int windows() const { return (front ? 1 : 0) + (back ? 1 : 0); }
    // Checks the values; throws std::invalid_argument naming the bad one.
    void check() const;
    size_t samplesPerRow() const;  // 3 x positions x windows
    size_t rowBytes() const;       // samples (8 bits) or packed12Bytes(samples)
    size_t lineBytes() const;      // rowBytes x (colour ? 3 : 1)
    int collectedWidth() const;    // image pixels per side
};

// A side image handed to the encoder: `height` rows of `width` pixels, each
// pixel 1 byte (gray) or 3 bytes R, G, B (channels 3), rows `stride` bytes
// apart. width must be the format's collected width. Instead of `pixels`, a
// `rowSource` may hand out each row when the encoder needs it (rows are asked
// for in rising order), so a page need not exist whole in memory.
struct SideImage {
    SideImage() = default;
    // stride 0: rows packed (width x channels bytes).
    SideImage(const uint8_t* pixels_, int width_, int height_, int channels_ = 1, size_t stride_ = 0)
        : pixels(pixels_), width(width_), height(height_), channels(channels_),
          stride(stride_ ? stride_ : static_cast<size_t>(width_) * static_cast<size_t>(channels_)) {}

    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int channels = 1;
    size_t stride = 0;
    std::function<const uint8_t*(int row)> rowSource;
};

// How image values become samples.
enum class Exposure {
    // Sample12 = value x 16, idle slots 0: the collected line gives the image
    // back exactly (8-bit samples equal the image values).
    Direct,
    // Through the sensor model with the registers: value v reflects
    // kPaperWhite x v / 255 of the light.
    Model,
};

struct EncodeOptions {
    ScanFormat format;
    Exposure exposure = Exposure::Direct;
    const SensorModel* model = nullptr;  // required for Exposure::Model
    Registers registers;
    // Lines by which the front lags the back in a two-window scan (negative:
    // the back lags the front). The page carries |lag| more lines; a side
    // outside its image reads `leadIn`.
    int lag = 0;
    uint8_t leadIn = 255;
    // Reflectance of image value 255 (Exposure::Model); the calibration strip is 1.
    double white = kPaperWhite;
};

// Encodes raw lines of a page made of one image per window read. A gray
// format takes gray images directly; with Exposure::Model it also takes RGB
// images (each LED sees its own channel's reflectance). A colour format takes
// RGB images, or gray images read the same in all three channels.
class RawPageEncoder {
public:
    // front/back: the images of the windows the format reads (the other may be
    // null). Throws std::invalid_argument on a mismatch.
    RawPageEncoder(const EncodeOptions& options, const SideImage* front, const SideImage* back);

    int lines() const { return m_lines; }
    size_t lineBytes() const { return m_format.lineBytes(); }
    // Writes raw line n (0 <= n < lines()) into out (lineBytes() bytes).
    void line(int n, uint8_t* out) const;
    // Lines [first, first + count) one after another.
    std::vector<uint8_t> lines(int first, int count) const;

private:
    struct Side {
        const SideImage* image = nullptr;
        int firstLine = 0; // raw line of the image's row 0
        // Per slot and row channel (0..2 colour, 3 gray): sample = base + sum_c k[c] x v_c.
        std::vector<float> base[4];
        std::vector<float> k[4][3];
    };
    void fillSlots(const Side& side, int sideIndex, int row, int channel, uint16_t* slots) const;

    ScanFormat m_format;
    Exposure m_exposure;
    uint8_t m_leadIn;
    int m_lines = 0;
    Side m_sides[2];
    // Per raw sample of a row: side (0 front, 1 back) and slot.
    std::vector<uint8_t> m_rawSide;
    std::vector<int32_t> m_rawSlot;
    std::vector<int32_t> m_slotPixel[2];
};

// The calibration strip as a window reads it: `lines` raw lines of the format
// (normally 12 bits, 8 lines), lit with the registers' LED currents or with
// the lamps off (LEDs at 0); gains and offsets apply either way.
std::vector<uint8_t> scanReference(const SensorModel& model, const ScanFormat& format,
                                   const Registers& registers, bool lit, int lines = 8);

// The raw lines of a page in one call (see RawPageEncoder).
std::vector<uint8_t> encodePage(const EncodeOptions& options, const SideImage* front,
                                const SideImage* back);

} // namespace kdsensor
