// One page per file as JPEG or PNG. Both encode into memory and place the
// file whole (a temporary name, flushed, renamed), so a failure never
// leaves a partial file at the path.
#pragma once

#include "PageImage.h"

#include <foundation/File.h>

#include <string>

namespace qlr_output {

// Page files are written whole or not at all, but not waited for until they
// are on the disk: that wait cost several times the encoding of a page, and
// a crash mid-scan loses the scan anyway.
inline constexpr kdf::Flush kPageFlush = kdf::Flush::NotToDisk;

// The output's JPEG compression setting as a factor: 1 → 1.0, 2 → 0.8,
// 3 → 0.6, 4 → 0.4, anything else 0.2.
double jpegCompressionFactor(int compRate);

// Encoders into memory; an empty result means the encoder refused.
// JPEG: 8-bit gray or 24-bit RGB, quality 1 to 100, JFIF density in dpi.
std::string encodeJPEG(const PageBitmap& bitmap, int quality);
// PNG: 1-bit gray with the bits as they are (a set bit is white), 8-bit
// gray, 24-bit RGB; pHYs from the resolution.
std::string encodePNG(const PageBitmap& bitmap, int zlibLevel = 6);

// Raise "Err_JPEGInvalidParam" (below 8 bits), "Err_JPEGNotCreate";
// "Err_FileCreateFailed" for PNG.
void writeToJPEG(const PageBitmap& bitmap, const std::string& path, int compRate);
void writeToPNG(const PageBitmap& bitmap, const std::string& path);

} // namespace qlr_output
