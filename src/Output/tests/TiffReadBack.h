// Reads every directory of a TIFF file back through libtiff, for the TIFF
// writer's tests.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace outtest {

struct TiffPage {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bitsPerSample = 0, samplesPerPixel = 0, compression = 0, photometric = 0, unit = 0;
    float xRes = 0, yRes = 0;
    std::vector<std::uint8_t> rows; // the scanlines as stored, packed
};

// Every page of the file in chain order; empty when libtiff can't open it
// or a page can't be decoded whole.
inline std::vector<TiffPage> readTiffPages(const std::string& path) {
    std::vector<TiffPage> pages;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return pages;
    do {
        TiffPage p;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &p.width);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &p.height);
        TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &p.bitsPerSample);
        TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &p.samplesPerPixel);
        TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &p.compression);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &p.photometric);
        TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &p.unit);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &p.xRes);
        TIFFGetField(t, TIFFTAG_YRESOLUTION, &p.yRes);
        const tmsize_t line = TIFFScanlineSize(t);
        p.rows.resize(std::size_t(line) * p.height);
        for (std::uint32_t y = 0; y < p.height; ++y) {
            if (TIFFReadScanline(t, p.rows.data() + std::size_t(y) * std::size_t(line), y, 0) < 0) {
                TIFFClose(t);
                return {};
            }
        }
        pages.push_back(std::move(p));
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return pages;
}

} // namespace outtest
