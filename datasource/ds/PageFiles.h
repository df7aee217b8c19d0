// Page files of the file transfer: uncompressed TIFF and JFIF, written to a
// temporary file beside the target and renamed over it, so that a failure
// leaves no part-written file; and the TIFF in memory for the native
// transfer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct SPageImage {
    std::uint32_t width = 0, height = 0;
    std::uint32_t bitsPerSample = 8;   // 1 (0 black) or 8
    std::uint32_t samplesPerPixel = 1; // 1 or 3
    std::uint32_t bytesPerLine = 0;
    std::uint32_t resolution = 0;      // dpi; 0 writes none
    std::vector<unsigned char> pixels; // height x bytesPerLine
};

// false with a reason in *error.
bool WriteTiffFile(const std::filesystem::path& path, const SPageImage& page, std::string* error);
// The same TIFF as WriteTiffFile, in memory: the native transfer's image.
bool EncodeTiff(const SPageImage& page, std::vector<unsigned char>* out, std::string* error);
// 1-bit pages are written as 8-bit gray.
bool WriteJfifFile(const std::filesystem::path& path, const SPageImage& page, std::string* error);
