// Writes an image buffer as an uncompressed Windows bitmap file, for looking at
// intermediate images while debugging.
#include "DebugFile.h"
#include "TvkIpError.h"
#include "TvkLogger.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kPaletteEntrySize = 4;
// Largest image the 32-bit size fields of the format can describe.
constexpr int64_t kMaxFileSize = 0x7FFFFFFF;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Metres per inch as the format counts: dpi x 10000 / 254.
uint32_t PixelsPerMetre(int32_t dpi) {
    return static_cast<uint32_t>(int64_t{dpi} * 10000 / 254);
}

} // namespace

int32_t save_bmp(const char* path, const unsigned char* buffer, int32_t width, int32_t height,
                 int32_t xdpi, int32_t ydpi, unsigned short bits, int32_t sync) {
    IpSetLastError(0);
    if (path == nullptr || buffer == nullptr) return -1;
    if (bits != 1 && bits != 8 && bits != 24) return -1;
    // Rows are written bottom-up with a positive height; a zero or negative
    // extent (or line step) has no such rows.
    if (height <= 0 || width <= 0 || sync < 0) return -1;

    const int64_t rowSize = ((int64_t{bits} * width + 31) & ~int64_t{31}) / 8;
    const int64_t imageSize = rowSize * height;
    const uint32_t paletteEntries = bits == 1 ? 2 : bits == 8 ? 256 : 0;
    const uint32_t offset = kFileHeaderSize + kInfoHeaderSize + kPaletteEntrySize * paletteEntries;
    if (offset + imageSize > kMaxFileSize) return -1;

    std::vector<uint8_t> head;
    std::vector<uint8_t> row;
    try {
        head.reserve(offset);
        row.resize(static_cast<size_t>(rowSize));
    } catch (...) {
        return -1;
    }

    head.push_back('B');
    head.push_back('M');
    Put32(head, static_cast<uint32_t>(offset + imageSize));
    Put16(head, 0);
    Put16(head, 0);
    Put32(head, offset);
    Put32(head, kInfoHeaderSize);
    Put32(head, static_cast<uint32_t>(width));
    Put32(head, static_cast<uint32_t>(height));
    Put16(head, 1);    // planes
    Put16(head, bits); // bits per pixel
    Put32(head, 0);    // no compression
    Put32(head, static_cast<uint32_t>(imageSize));
    Put32(head, PixelsPerMetre(xdpi));
    Put32(head, PixelsPerMetre(ydpi));
    Put32(head, 0); // colours used: all the palette holds
    Put32(head, 0); // important colours: all
    if (bits == 1) {
        Put32(head, 0x00FFFFFFu); // index 0 white
        Put32(head, 0x00000000u); // index 1 black
    } else if (bits == 8) {
        for (uint32_t i = 0; i < 256; ++i) Put32(head, i | i << 8 | i << 16);
    }

    FILE* f = DebugFileOpenForWriting(path, true);
    if (f == nullptr) return -1;
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();

    const size_t copy = static_cast<size_t>(std::min<int64_t>(rowSize, sync));
    for (int32_t y = height - 1; ok && y >= 0; --y) {
        const unsigned char* line = buffer + int64_t{y} * sync;
        std::fill(row.begin(), row.end(), 0);
        std::memcpy(row.data(), line, copy);
        if (bits == 24) {
            // The format stores blue first; our buffers hold the first sample first.
            for (size_t x = 0; x + 3 <= copy && x < size_t(width) * 3; x += 3)
                std::swap(row[x], row[x + 2]);
        }
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    if (std::fclose(f) != 0) ok = false;
    return ok ? 0 : -1;
}
