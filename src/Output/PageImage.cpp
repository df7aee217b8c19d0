#include "PageImage.h"

#include <PageModels.h>

#include <foundation/Exception.h>

#include <tiffio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>

namespace qlr_output {

namespace {

[[noreturn]] void fail(const char* key, std::string reason = {}) { throw kdf::Exception(key, std::move(reason)); }

// Buffers above this are refused before allocation: an A3 page at 1200 dpi
// in colour is well below it.
constexpr std::size_t kMaxPageBytes = std::size_t(4) << 30;

std::size_t checkedPageBytes(std::size_t bytesPerRow, int height) {
    if (height <= 0 || bytesPerRow == 0) fail("Err_UnknownError", "empty page");
    if (bytesPerRow > kMaxPageBytes / std::size_t(height)) fail("Err_MemFullError", "page too large");
    return bytesPerRow * std::size_t(height);
}

bool isSupportedDepth(int bpp) { return bpp == 1 || bpp == 8 || bpp == 24; }

} // namespace

std::optional<std::size_t> bytesPerRow64(int bpp, int width) {
    if (bpp <= 0 || width < 0) return std::nullopt;
    if (bpp < 8) return (std::size_t(width) + 7) / 8;
    return std::size_t(width) * std::size_t(bpp / 8);
}

int bytesPerRowByImgSetting(int bpp, int width) {
    auto n = bytesPerRow64(bpp, width);
    if (!n || *n > std::size_t(std::numeric_limits<int>::max())) return 0;
    return int(*n);
}

PageBitmap imageRepFromPage(const ImageInfoModel& page) {
    const std::string edited = page.imgInfo_DstImagePath();
    struct stat st {};
    if (!edited.empty() && ::stat(edited.c_str(), &st) == 0) {
        PageBitmap b = readEditedPage(edited);
        b.xRes = page.imgInfo_XRes();
        b.yRes = page.imgInfo_YRes();
        return b;
    }

    PageBitmap b;
    b.bpp = page.imgInfo_bpp();
    b.width = page.imgInfo_Width();
    b.height = page.imgInfo_Height();
    b.xRes = page.imgInfo_XRes();
    b.yRes = page.imgInfo_YRes();
    const std::string path = page.imgInfo_TmpImagePath();
    if (path.empty() || ::stat(path.c_str(), &st) != 0) fail("NoErr_OnlyThrow");
    // Depth and size are checked before any allocation: the record may
    // come from a damaged transfer.
    if (!isSupportedDepth(b.bpp) || b.width <= 0 || b.height <= 0) fail("Err_UnknownError", "unsupported page");
    b.bytesPerRow = *bytesPerRow64(b.bpp, b.width);
    const std::size_t total = checkedPageBytes(b.bytesPerRow, b.height);

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("Err_FileDecodeFailed", path);
    // White where the file ends early: 1-bit set bits and 8/24-bit 0xFF are
    // white, so a cut file shows a blank tail instead of stale memory.
    b.data.assign(total, 0xFF);
    std::size_t got = 0;
    while (got < total) {
        const ssize_t n = ::read(fd, b.data.data() + got, total - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ::close(fd);
    if (got == 0) fail("Err_FileDecodeFailed", path);
    return b;
}

namespace {

thread_local std::string tiffMessage;

void tiffErrorHandler(const char* module, const char* fmt, va_list ap) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    tiffMessage = (module ? std::string(module) + ": " : std::string()) + buf;
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

} // namespace

PageBitmap readEditedPage(const std::string& path) {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(tiffErrorHandler);
        TIFFSetWarningHandler(nullptr);
    });
    tiffMessage.clear();
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) fail("Err_MemFullError", tiffMessage.empty() ? path : tiffMessage);
    std::uint32_t w = 0, h = 0;
    std::uint16_t bps = 1, spp = 1, photo = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photo)) fail("Err_MemFullError", "no photometric tag");
    const bool gray = spp == 1 && (photo == PHOTOMETRIC_MINISWHITE || photo == PHOTOMETRIC_MINISBLACK);
    const bool rgb = spp == 3 && bps == 8 && photo == PHOTOMETRIC_RGB;
    if (w == 0 || h == 0 || w > std::uint32_t(std::numeric_limits<int>::max()) ||
        h > std::uint32_t(std::numeric_limits<int>::max()) || planar != PLANARCONFIG_CONTIG ||
        !((gray && (bps == 1 || bps == 8)) || rgb))
        fail("Err_MemFullError", "unsupported edited page");

    PageBitmap b;
    b.bpp = rgb ? 24 : bps;
    b.width = int(w);
    b.height = int(h);
    b.bytesPerRow = *bytesPerRow64(b.bpp, b.width);
    const std::size_t total = checkedPageBytes(b.bytesPerRow, b.height);
    const tmsize_t scan = TIFFScanlineSize(tif.get());
    if (scan <= 0 || std::size_t(scan) < b.bytesPerRow) fail("Err_MemFullError", "bad scanline size");
    b.data.assign(total, 0);
    std::vector<std::uint8_t> row(std::size_t(scan), 0);
    for (std::uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0)
            fail("Err_MemFullError", tiffMessage.empty() ? "cut edited page" : tiffMessage);
        std::copy_n(row.begin(), b.bytesPerRow, b.data.begin() + std::ptrdiff_t(std::size_t(y) * b.bytesPerRow));
    }
    // Our pages: a set bit (and 0xFF) is white, as min-is-black says.
    if (gray && photo == PHOTOMETRIC_MINISWHITE)
        for (auto& byte : b.data) byte = std::uint8_t(~byte);
    return b;
}

void reversalImageBW(PageBitmap& bitmap, int fileFormatType) {
    if ((fileFormatType != kFormatPDF && fileFormatType != kFormatTIFF) || bitmap.bpp >= 8) return;
    for (auto& byte : bitmap.data) byte = std::uint8_t(~byte);
}

void conversionRGBToBGRImage(PageBitmap& bitmap, int fileFormatType) {
    if (fileFormatType != kFormatPDF || bitmap.bpp != 24) return;
    for (int y = 0; y < bitmap.height; ++y) {
        std::uint8_t* p = bitmap.data.data() + std::size_t(y) * bitmap.bytesPerRow;
        for (int x = 0; x < bitmap.width; ++x, p += 3) std::swap(p[0], p[2]);
    }
}

} // namespace qlr_output
