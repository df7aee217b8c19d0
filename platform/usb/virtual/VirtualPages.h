// Sheets of the virtual KD-720: generated sheets with a readable mark per
// side, PNM files from a folder or images a test hands over, and how a side
// looks to the sensor (scaled to the scan resolution, centred, skewed, on
// its backing).
#pragma once

#include "VirtualConfig.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kdvirtual {

// An 8-bit image (1 gray or 3 R, G, B channels, rows packed).
struct PageImage {
    int width = 0, height = 0, channels = 1;
    std::vector<std::uint8_t> pixels;
};

// Reads a binary PNM (P4 bitmap, P5 gray, P6 colour; maxval up to 65535,
// 16-bit samples big-endian). Dimensions, maxval and the data length are
// checked; nothing is read past the given bytes. False with a message on
// bad input.
bool readPnm(const std::uint8_t* data, std::size_t size, PageImage& out, std::string& error);
bool readPnmFile(const std::string& path, PageImage& out, std::string& error);

// Area-averaging scale to dw x dh.
PageImage scaleArea(const PageImage& src, int dw, int dh);

// What one side of a sheet shows.
struct SideContent {
    bool blank = false;                     // paper only
    std::shared_ptr<const PageImage> image; // an image at `dpi` (else generated)
    int dpi = 300;
    Content content = Content::Text;
    bool colour = false;
    // Scaled copies of `image` per scan resolution.
    mutable std::map<std::pair<int, int>, std::shared_ptr<const PageImage>> scaled;
};

struct Sheet {
    int number = 1; // 1-based, as the mark shows it
    double widthMm = 210, heightMm = 297;
    double skewDeg = 0, shiftMm = 0;
    SideContent side[2]; // front, back
};

// Sheets 1..config.sheets as the settings describe them.
std::vector<Sheet> generatedSheets(const VirtualConfig& config);
// The sheets of a PNM folder: each *.pnm in name order is a front, NAME.back.pnm
// its back (blank paper when missing); the sheet takes the front's size at dpi.
bool sheetsFromFolder(const std::string& dir, int dpi, std::vector<Sheet>& out, std::string& error);

// Paper and ink levels of generated sheets.
inline constexpr std::uint8_t kPaperLevel = 235;
inline constexpr std::uint8_t kShadowLevel = 90;
// Where the mark sits on each side (from the side's top-left corner) and its cell size.
inline constexpr double kMarkLeftMm = 10, kMarkTopMm = 8, kMarkCellMm = 1;

// The mark of a side: the sheet number and F or B, e.g. "12B".
std::string markText(int sheet, int side);
// Reads a mark from an upright side image whose sheet corner lies at
// (originX, originY) pixels; "" when none is there.
std::string readMark(const std::uint8_t* pixels, int width, int height, int channels,
                     std::size_t stride, int xdpi, int ydpi, double originX = 0,
                     double originY = 0);

// Side `s` (0 front, 1 back) as the sensor sees it: `lines` rows of `width`
// pixels at xdpi x ydpi, the first row `topMm` after the leading edge (negative:
// before it), the sheet centred across the sensor (plus its shift), backing
// and a short shadow where the side's lamp meets a paper edge: before the
// leading edge on the front, after the trailing edge on the back (the page
// detector finds the sheet by these two). Rows are as the side is seen (the
// back mirrored against the front). channels 1 or 3. firstRow
// renders rows [firstRow, firstRow + lines) of that same page (a strip).
// Where the corners of side `s` lie in the scan renderSide draws (same width,
// resolutions and topMm): left-top, right-top, left-bottom, right-bottom of
// the side as it is seen, in pixels from the scan's top-left corner (pixel x
// covers [x, x + 1)).
struct SidePoint {
    double x = 0, y = 0;
};
std::array<SidePoint, 4> sideCorners(const Sheet& sheet, int s, int width, int xdpi, int ydpi,
                                     double topMm);

std::vector<std::uint8_t> renderSide(const Sheet& sheet, int s, int width, int lines, int xdpi,
                                     int ydpi, double topMm, int channels, std::uint8_t backing,
                                     int firstRow = 0);

} // namespace kdvirtual
