#include "ImageWriters.h"

#include <foundation/Exception.h>
#include <foundation/File.h>

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace qlr_output {

double jpegCompressionFactor(int compRate) {
    switch (compRate) {
    case 1: return 1.0;
    case 2: return 0.8;
    case 3: return 0.6;
    case 4: return 0.4;
    default: return 0.2;
    }
}

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
void jpegSilent(j_common_ptr, int) {}

bool validBitmap(const PageBitmap& b) {
    return b.width > 0 && b.height > 0 && b.data.size() >= b.bytesPerRow * std::size_t(b.height) &&
           bytesPerRow64(b.bpp, b.width) == b.bytesPerRow;
}

// Dots per inch as whole numbers for the file headers.
unsigned dpiOf(float res) { return res > 0 && res < 65535 ? unsigned(std::lround(res)) : 0; }

// Encodes with everything the longjmp may skip kept in plain C storage: no
// C++ object with a destructor lives between setjmp and the library calls.
bool jpegEncodeRaw(const PageBitmap& b, int quality, unsigned char** out, unsigned long* outSize) {
    jpeg_compress_struct cinfo {};
    JpegError err {};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    err.mgr.emit_message = jpegSilent;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = JDIMENSION(b.width);
    cinfo.image_height = JDIMENSION(b.height);
    cinfo.input_components = b.bpp == 24 ? 3 : 1;
    cinfo.in_color_space = b.bpp == 24 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1; // dots per inch
    cinfo.X_density = UINT16(dpiOf(b.xRes));
    cinfo.Y_density = UINT16(dpiOf(b.yRes));
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(b.data.data() + std::size_t(cinfo.next_scanline) * b.bytesPerRow);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void pngFlush(png_structp) {}
void pngSilent(png_structp, png_const_charp) {}

bool pngEncodeRaw(const PageBitmap& b, int level, std::string* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, pngSilent);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, pngWrite, pngFlush);
    png_set_compression_level(png, level);
    const int depth = b.bpp < 8 ? 1 : 8;
    const int colour = b.bpp == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
    png_set_IHDR(png, info, png_uint_32(b.width), png_uint_32(b.height), depth, colour, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (b.xRes > 0 && b.yRes > 0)
        png_set_pHYs(png, info, png_uint_32(std::lround(b.xRes / 0.0254)), png_uint_32(std::lround(b.yRes / 0.0254)),
                     PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < b.height; ++y)
        png_write_row(png, const_cast<png_bytep>(b.data.data() + std::size_t(y) * b.bytesPerRow));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::string encodeJPEG(const PageBitmap& bitmap, int quality) {
    if ((bitmap.bpp != 8 && bitmap.bpp != 24) || !validBitmap(bitmap)) return {};
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    const bool ok = jpegEncodeRaw(bitmap, quality < 1 ? 1 : quality > 100 ? 100 : quality, &buf, &size);
    std::string out;
    if (ok && buf) out.assign(reinterpret_cast<const char*>(buf), size);
    std::free(buf);
    return out;
}

std::string encodePNG(const PageBitmap& bitmap, int zlibLevel) {
    if ((bitmap.bpp != 1 && bitmap.bpp != 8 && bitmap.bpp != 24) || !validBitmap(bitmap)) return {};
    std::string out;
    if (!pngEncodeRaw(bitmap, zlibLevel, &out)) return {};
    return out;
}

void writeToJPEG(const PageBitmap& bitmap, const std::string& path, int compRate) {
    // Bilevel pages can't be written as JPEG.
    if (bitmap.bpp < 8) throw kdf::Exception("Err_JPEGInvalidParam");
    const std::string data = encodeJPEG(bitmap, int(std::lround(jpegCompressionFactor(compRate) * 100)));
    std::string error;
    if (data.empty() || !kdf::writeFileAtomically(path, data, &error, kPageFlush))
        throw kdf::Exception("Err_JPEGNotCreate", error);
}

void writeToPNG(const PageBitmap& bitmap, const std::string& path) {
    const std::string data = encodePNG(bitmap);
    std::string error;
    if (data.empty() || !kdf::writeFileAtomically(path, data, &error, kPageFlush))
        throw kdf::Exception("Err_FileCreateFailed", error);
}

} // namespace qlr_output
