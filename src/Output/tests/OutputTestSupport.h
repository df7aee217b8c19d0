// Small helpers of the output writer's tests: scratch folders, raw page
// files that carry their page index as a pattern, and decoders.
#pragma once

#include "PageImage.h"

#include <PageModels.h>

#include <foundation/Exception.h>

#include <png.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace outtest {

namespace fs = std::filesystem;

// The key of the named failure fn raises; "" when it returns.
inline std::string keyOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const kdf::Exception& e) {
        return e.name();
    }
    return "";
}

inline fs::path scratch(const std::string& name) {
    const char* base = std::getenv("KD_TEST_TMP");
    fs::path p = fs::path(base ? base : fs::temp_directory_path().string()) /
                 ("out-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

inline void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string readAll(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// A raw page whose every byte is seed + row (mod 251): page i decodes back
// to i.
inline std::vector<std::uint8_t> patternRows(int bpp, int width, int height, int seed) {
    const std::size_t row = *qlr_output::bytesPerRow64(bpp, width);
    std::vector<std::uint8_t> v(row * std::size_t(height));
    for (int y = 0; y < height; ++y)
        for (std::size_t x = 0; x < row; ++x) v[std::size_t(y) * row + x] = std::uint8_t((seed + y) % 251);
    return v;
}

inline std::shared_ptr<ImageInfoModel> rawPage(const fs::path& file, int bpp, int width, int height,
                                                const std::vector<std::uint8_t>& bytes, float dpi = 200) {
    writeBytes(file, bytes);
    auto p = std::make_shared<ImageInfoModel>();
    p->setImgInfo_TmpImagePath(file.string());
    p->setImgInfo_bpp(bpp);
    p->setImgInfo_Width(width);
    p->setImgInfo_Height(height);
    p->setImgInfo_XRes(dpi);
    p->setImgInfo_YRes(dpi);
    return p;
}

struct Decoded {
    int width = 0, height = 0, channels = 0, bitDepth = 0;
    double xDpi = 0;
    std::vector<std::uint8_t> rows; // packed rows as stored
};

inline Decoded decodePNG(const std::string& data) {
    Decoded d;
    // The full API keeps 1-bit rows packed, as written.
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    struct Src {
        const std::string* s;
        std::size_t pos;
    } src {&data, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return {};
    }
    png_set_read_fn(png, &src, [](png_structp p, png_bytep out, png_size_t n) {
        auto* s = static_cast<Src*>(png_get_io_ptr(p));
        if (s->pos + n > s->s->size()) png_error(p, "short");
        std::memcpy(out, s->s->data() + s->pos, n);
        s->pos += n;
    });
    png_read_info(png, info);
    d.width = int(png_get_image_width(png, info));
    d.height = int(png_get_image_height(png, info));
    d.channels = png_get_channels(png, info);
    d.bitDepth = png_get_bit_depth(png, info);
    png_uint_32 rx = 0, ry = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &rx, &ry, &unit) && unit == PNG_RESOLUTION_METER) d.xDpi = rx * 0.0254;
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    d.rows.resize(rowBytes * std::size_t(d.height));
    for (int y = 0; y < d.height; ++y) png_read_row(png, d.rows.data() + std::size_t(y) * rowBytes, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return d;
}

inline Decoded decodeJPEG(const std::string& data) {
    Decoded d;
    jpeg_decompress_struct cinfo {};
    jpeg_error_mgr err {};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), (unsigned long)data.size());
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    d.width = int(cinfo.output_width);
    d.height = int(cinfo.output_height);
    d.channels = cinfo.output_components;
    d.bitDepth = 8;
    d.xDpi = cinfo.density_unit == 1 ? cinfo.X_density : 0;
    const std::size_t row = std::size_t(d.width) * std::size_t(d.channels);
    d.rows.resize(row * std::size_t(d.height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = d.rows.data() + std::size_t(cinfo.output_scanline) * row;
        jpeg_read_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return d;
}

} // namespace outtest
