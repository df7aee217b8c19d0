// Test kit shared by the image tests and benchmarks: owning test images,
// generated pages and PNM files for fixtures and for looking at failures.
#pragma once

#include "CImgInf.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kdtest {

// An image that owns its pixels and keeps a record describing them.
// The record always points at the image's own buffer, also after a move.
class TestImage {
public:
    TestImage() = default;
    // bps 1, 8 or 16; spp 1 or 3; order 0 interleaved or 1 planar. sync 0
    // takes the library's default line size (whole 32-bit words of one plane;
    // for interleaved colour 3 samples a pixel).
    TestImage(int32_t width, int32_t height, int32_t bps, int32_t spp, uint32_t order = 1,
              int32_t sync = 0, int32_t dpi = 300);
    TestImage(const TestImage& other);
    TestImage(TestImage&& other) noexcept;
    TestImage& operator=(const TestImage& other);
    TestImage& operator=(TestImage&& other) noexcept;

    static TestImage Gray(int32_t w, int32_t h, uint8_t fill = 255, int32_t dpi = 300);
    static TestImage Binary(int32_t w, int32_t h, int32_t dpi = 300); // all white (0 bits)
    static TestImage Color(int32_t w, int32_t h, uint32_t order = 0, uint8_t fill = 255,
                           int32_t dpi = 300);

    tagTVKIMAGEINFO* info() { return &m_info; }
    const tagTVKIMAGEINFO* info() const { return &m_info; }
    uint8_t* data() { return m_buf.data(); }
    const uint8_t* data() const { return m_buf.data(); }
    std::vector<uint8_t>& bytes() { return m_buf; }
    const std::vector<uint8_t>& bytes() const { return m_buf; }
    int32_t width() const { return m_info.lWidth; }
    int32_t height() const { return m_info.lHeight; }
    int32_t sync() const { return m_info.lSync; }
    int32_t fullSync() const; // bytes from one line to the next (all planes)
    uint8_t* line(int32_t y) { return m_buf.data() + static_cast<size_t>(y) * fullSync(); }
    const uint8_t* line(int32_t y) const {
        return m_buf.data() + static_cast<size_t>(y) * fullSync();
    }

    // Pixel access: gray/binary value (binary: 1 = black; 16-bit gray: the
    // whole native-order sample), colour as R,G,B in memory order packed
    // 0xBBGGRR (first sample in the low byte; 16-bit colour reads the high
    // byte of each sample and writes each byte times 257).
    uint32_t get(int32_t x, int32_t y) const;
    void set(int32_t x, int32_t y, uint32_t v);

    // A band view: a record over lines [y0, y0 + n) of this image's buffer.
    tagTVKIMAGEINFO band(int32_t y0, int32_t n) const;

    // Only the pixels inside the width compare (line padding is ignored);
    // colour images of different layouts compare by pixel value.
    bool samePixels(const TestImage& other) const;

private:
    void repoint();
    std::vector<uint8_t> m_buf;
    tagTVKIMAGEINFO m_info{};
};

// TestImage::get and set for any record, such as one the library made.
uint32_t GetPixel(const tagTVKIMAGEINFO& image, int32_t x, int32_t y);
void SetPixel(const tagTVKIMAGEINFO& image, int32_t x, int32_t y, uint32_t v);

// Sets the pixels x0 <= x < x1, y0 <= y < y1 to v (a value as set() takes it).
void FillRect(TestImage& img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t v);
// A colour image (lines initially 255) holding the 8-bit gray image's value
// in all three samples, at the gray image's resolution.
TestImage GrayToColor(const TestImage& gray, uint32_t order = 0);

// Deterministic random source for tests: each call reseeds and returns the
// calling thread's engine, so a sequence restarts with every call.
std::mt19937& Rng(uint32_t seed = 12345);
// Fills n bytes from p with the seed's byte sequence (one engine output per byte).
void FillRandom(uint8_t* p, size_t n, uint32_t seed);
inline void FillRandom(std::vector<uint8_t>& bytes, uint32_t seed) {
    FillRandom(bytes.data(), bytes.size(), seed);
}

// Generated pages. All are deterministic for a given seed. The order applies
// to colour pages only; gray and 1-bit pages carry 1 like the library's own.
// Text-like page: dark word blocks on lines, on paper of the given level.
TestImage TextPage(int32_t w, int32_t h, int32_t spp = 1, uint32_t order = 0, uint32_t seed = 1,
                   uint8_t paper = 235, uint8_t ink = 30);
// Photo-like page: smooth gradients and soft blobs.
TestImage PhotoPage(int32_t w, int32_t h, int32_t spp = 1, uint32_t order = 0, uint32_t seed = 2);
// Random noise in every byte.
TestImage NoisePage(int32_t w, int32_t h, int32_t bps, int32_t spp, uint32_t order = 0,
                    uint32_t seed = 3);
// 1-bit page with text-like black blocks and isolated specks.
TestImage BinaryTextPage(int32_t w, int32_t h, uint32_t seed = 4);

// A sheet of paper on a scanner backing, as the sensor sees it.
struct SheetSpec {
    int32_t imageWidth = 0, imageHeight = 0; // whole scanned area in pixels
    double sheetWidth = 0, sheetHeight = 0;  // sheet size in pixels
    double centerX = 0, centerY = 0;         // sheet centre in the image
    double angleDeg = 0;                     // clockwise skew of the sheet
    uint8_t paper = 230;                     // paper level
    uint8_t backing = 250;                   // backing level (white) or dark (e.g. 20)
    int32_t shadow = 0;                      // width of a dark shadow along the leading (top) edge
    uint8_t shadowLevel = 90;
    bool content = true; // print text-like marks on the sheet
    int32_t spp = 1;
    uint32_t order = 0;
    int32_t xdpi = 300, ydpi = 300;
    uint32_t seed = 5;
};
TestImage SheetPage(const SheetSpec& sheet);
// The four corners of the sheet as generated: left-top, right-top,
// right-bottom, left-bottom, in image pixels.
struct Corner {
    double x, y;
};
std::vector<Corner> SheetCorners(const SheetSpec& sheet);

// A sheet of sheetWidth x sheetHeight pixels turned by `angle` degrees, as a
// feeder scans it: its highest point `leadIn` lines below the scan's first
// line, `trailing` lines of backing below its lowest point, `side` pixels of
// backing left and right of it.
SheetSpec FedSheetSpec(double sheetWidth, double sheetHeight, double angle, int32_t leadIn,
                       int32_t trailing, int32_t side = 100);

// Sensor and transport losses on an 8-bit gray or colour page, each
// deterministic for its seed or parameters.
// Gaussian noise of `sigma` levels on every sample, clamped to 0..255.
void AddGaussianNoise(TestImage& img, double sigma, uint32_t seed);
// Mean of the (2 radius + 1)-pixel square around each pixel (optical blur).
void BoxBlur(TestImage& img, int32_t radius);
// JPEG-like loss: each 8 x 8 block's cosine coefficients rounded to multiples
// of `step` (larger steps lose more; the constant term keeps a finer step).
void JpegLikeLoss(TestImage& img, double step);

// PNM files: P4 (1 bit), P5 (8 bit), P6 (24 bit, either layout). Returns
// false on failure.
bool WritePnm(const std::string& path, const tagTVKIMAGEINFO& image);
bool ReadPnm(const std::string& path, TestImage& out);
// A folder for files a test writes (the build's test folder, else /tmp).
std::string TempPath(const std::string& name);

} // namespace kdtest
