#include "CImgFile.h"

#include "DebugFile.h"
#include "ImageFileFormat.h"
#include "PlatformLoader.h"
#include "ZntxPdf.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace Tvk::Imvra {

namespace {

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU16(const uint8_t* p) {
    return p[0] | (uint32_t{p[1]} << 8);
}
uint32_t GetU32(const uint8_t* p) {
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Bytes in the open file, -1 when unknown.
int64_t FileSize(std::FILE* f) {
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

bool ReadAll(std::FILE* f, void* p, size_t n) {
    return std::fread(p, 1, n, f) == n;
}
bool WriteAll(std::FILE* f, const void* p, size_t n) {
    return std::fwrite(p, 1, n, f) == n;
}
// Closes a file that was written; false when any write or the close failed.
bool Finish(File f) {
    const bool ok = std::ferror(f.get()) == 0;
    return std::fclose(f.release()) == 0 && ok;
}

// True when the record's stored rows cover lHeight lines of at least the
// shortest line each (the image can be read line by line without leaving
// its buffer).
bool LinesInsideBuffer(const tagIMAGEINFO& r) {
    if (r.lWidth < 1 || r.lHeight < 1 || r.ulRGBOrder > 1) return false;
    if (r.lSync < CImg::calcMinSync(r.lWidth, r.lBps, r.lSpp, r.ulRGBOrder)) return false;
    const int64_t rows = r.ulRGBOrder == 1 ? int64_t{r.lHeight} * r.lSpp : int64_t{r.lHeight};
    return CImg::storedRows(r) >= rows;
}

constexpr uint32_t kBmpHeaderSize = 54;
constexpr int32_t kMaxPdfSide = 10200;

// Pixels per metre of a resolution in dots per inch, and back.
int32_t DpiToPpm(int32_t dpi) {
    return static_cast<int32_t>(int64_t{dpi} * 10000 / 254);
}
int32_t PpmToDpi(int32_t ppm) {
    return static_cast<int32_t>((int64_t{ppm} * 254 + 5000) / 10000);
}

PlatformLayer& PdfLayer() {
    static PlatformLayer layer("pdf", "libKdPdf.so");
    return layer;
}

} // namespace

void EncodeImageRecord(const tagIMAGEINFO& r, uint8_t out[52]) {
    const uint32_t words[13] = {kImageInfoFileSize,
                                0,
                                static_cast<uint32_t>(r.lXpos),
                                static_cast<uint32_t>(r.lYpos),
                                static_cast<uint32_t>(r.lWidth),
                                static_cast<uint32_t>(r.lHeight),
                                static_cast<uint32_t>(r.lSync),
                                r.tImageSize,
                                static_cast<uint32_t>(r.lBps),
                                static_cast<uint32_t>(r.lSpp),
                                r.ulRGBOrder,
                                static_cast<uint32_t>(r.lXResolution),
                                static_cast<uint32_t>(r.lYResolution)};
    for (int i = 0; i < 13; ++i) PutU32(out + 4 * i, words[i]);
}

void DecodeImageRecord(const uint8_t in[52], tagIMAGEINFO& r) {
    auto word = [&](int i) { return GetU32(in + 4 * i); };
    r.lXpos = static_cast<int32_t>(word(2));
    r.lYpos = static_cast<int32_t>(word(3));
    r.lWidth = static_cast<int32_t>(word(4));
    r.lHeight = static_cast<int32_t>(word(5));
    r.lSync = static_cast<int32_t>(word(6));
    r.tImageSize = word(7);
    r.lBps = static_cast<int32_t>(word(8));
    r.lSpp = static_cast<int32_t>(word(9));
    r.ulRGBOrder = word(10);
    r.lXResolution = static_cast<int32_t>(word(11));
    r.lYResolution = static_cast<int32_t>(word(12));
}

bool WriteTvk(std::FILE* f, const tagIMAGEINFO& info) {
    if (info.size == 0 || info.lpImage == nullptr) return false;
    uint8_t head[kImageInfoFileSize];
    EncodeImageRecord(info, head);
    return WriteAll(f, head, sizeof head) && WriteAll(f, info.lpImage, info.tImageSize) &&
           std::fflush(f) == 0;
}

// ---------------------------------------------------------------------------
// Raw files

bool CImgFile::saveTvk(const char* path) const {
    if (path == nullptr || m_info.size == 0 || isNull()) return false;
    File f(DebugFileOpenForWriting(path, true));
    if (!f) return false;
    const bool ok = WriteTvk(f.get(), m_info);
    return Finish(std::move(f)) && ok;
}

bool CImgFile::loadTvk(const char* path) {
    deleteImg();
    if (path == nullptr) return false;
    File f(std::fopen(path, "rbe"));
    if (!f) return false;
    uint8_t head[kImageInfoFileSize];
    if (!ReadAll(f.get(), head, sizeof head)) return false;
    tagIMAGEINFO info{};
    info.size = kImageInfoSize;
    DecodeImageRecord(head, info);
    // The file must hold what its record announces before memory is taken.
    if (!checkInfo(info) || FileSize(f.get()) < int64_t{kImageInfoFileSize} + info.tImageSize)
        return false;
    if (!createImg(info) || isNull()) return false;
    if (!ReadAll(f.get(), m_info.lpImage, m_info.tImageSize)) {
        deleteImg();
        return false;
    }
    return true;
}

bool CImgFile::compTvk(const char* path) const {
    CImgFile other;
    if (!other.loadTvk(path)) return false;
    const tagIMAGEINFO& a = m_info;
    const tagIMAGEINFO& b = other.m_info;
    if (a.lXpos != b.lXpos || a.lYpos != b.lYpos || a.lWidth != b.lWidth || a.lSync != b.lSync ||
        a.lBps != b.lBps || a.lSpp != b.lSpp || a.ulRGBOrder != b.ulRGBOrder ||
        a.lXResolution != b.lXResolution || a.lYResolution != b.lYResolution)
        return false;
    const uint32_t n = std::min(a.tImageSize, b.tImageSize);
    if (n == 0) return true;
    if (a.lpImage == nullptr) return false;
    return std::memcmp(a.lpImage, b.lpImage, n) == 0;
}

bool CImgFile::saveImgInf(const char* path, const tagIMAGEINFO* info) {
    if (path == nullptr || info == nullptr || info->size == 0) return false;
    File f(DebugFileOpenForWriting(path, true));
    if (!f) return false;
    uint8_t head[kImageInfoFileSize];
    EncodeImageRecord(*info, head);
    const bool ok = WriteAll(f.get(), head, sizeof head);
    return Finish(std::move(f)) && ok;
}

bool CImgFile::loadImgInf(const char* path, tagIMAGEINFO* info) {
    if (path == nullptr || info == nullptr || info->size == 0) return false;
    File f(std::fopen(path, "rbe"));
    if (!f) return false;
    uint8_t head[kImageInfoFileSize];
    if (!ReadAll(f.get(), head, sizeof head)) return false;
    DecodeImageRecord(head, *info);
    info->size = kImageInfoSize;
    return true;
}

// ---------------------------------------------------------------------------
// Windows BMP

int64_t CImgFile::calcSync(int64_t width, int64_t bits) {
    return (width * bits + 31) / 32 * 4;
}

bool CImgFile::saveBmp(const char* path) const {
    if (path == nullptr || m_info.size == 0 || isNull()) return false;
    const tagIMAGEINFO& r = m_info;
    const int64_t bits = int64_t{r.lBps} * r.lSpp;
    const bool colour = r.lSpp == 3 && r.lBps == 8;
    if (!(colour || (r.lSpp == 1 && (bits == 1 || bits == 4 || bits == 8)))) return false;
    if (!LinesInsideBuffer(r)) return false;
    const int64_t line = calcSync(r.lWidth, bits);
    const uint32_t entries = colour ? 0 : 1u << bits;
    const int64_t pixelBytes = line * r.lHeight;
    const int64_t offset = kBmpHeaderSize + 4 * int64_t{entries};
    if (offset + pixelBytes > UINT32_MAX) return false;

    std::vector<uint8_t> head(static_cast<size_t>(offset), 0);
    uint8_t* h = head.data();
    h[0] = 'B';
    h[1] = 'M';
    PutU32(h + 2, static_cast<uint32_t>(offset + pixelBytes));
    PutU32(h + 10, static_cast<uint32_t>(offset));
    PutU32(h + 14, 40);
    PutU32(h + 18, static_cast<uint32_t>(r.lWidth));
    PutU32(h + 22, static_cast<uint32_t>(r.lHeight));
    PutU16(h + 26, 1);
    PutU16(h + 28, static_cast<uint32_t>(bits));
    PutU32(h + 34, static_cast<uint32_t>(pixelBytes));
    PutU32(h + 38, static_cast<uint32_t>(DpiToPpm(r.lXResolution)));
    PutU32(h + 42, static_cast<uint32_t>(DpiToPpm(r.lYResolution)));
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t level =
            static_cast<uint8_t>(std::min<uint32_t>(255, i * 256 / (entries - 1)));
        uint8_t* e = h + kBmpHeaderSize + 4 * i;
        e[0] = e[1] = e[2] = level;
    }

    File f(DebugFileOpenForWriting(path, true));
    if (!f) return false;
    bool ok = WriteAll(f.get(), head.data(), head.size());
    std::vector<uint8_t> out(static_cast<size_t>(line), 0);
    for (int64_t y = r.lHeight - 1; ok && y >= 0; --y) {
        const uint8_t* src = TvkLinePtr(r, y);
        if (!colour) {
            std::memcpy(out.data(), src, static_cast<size_t>(std::min<int64_t>(r.lSync, line)));
        } else if (r.ulRGBOrder == 1) {
            // Three single-sample rows: red, green, blue.
            for (int32_t x = 0; x < r.lWidth; ++x) {
                out[3 * x] = src[2 * int64_t{r.lSync} + x];
                out[3 * x + 1] = src[r.lSync + x];
                out[3 * x + 2] = src[x];
            }
        } else {
            for (int32_t x = 0; x < r.lWidth; ++x) {
                out[3 * x] = src[3 * x + 2];
                out[3 * x + 1] = src[3 * x + 1];
                out[3 * x + 2] = src[3 * x];
            }
        }
        ok = WriteAll(f.get(), out.data(), out.size());
    }
    return Finish(std::move(f)) && ok;
}

bool CImgFile::loadBmp(const char* path) {
    deleteImg();
    if (path == nullptr) return false;
    File f(std::fopen(path, "rbe"));
    if (!f) return false;
    uint8_t h[kBmpHeaderSize];
    if (!ReadAll(f.get(), h, sizeof h)) return false;
    if (h[0] != 'B' || h[1] != 'M' || GetU32(h + 14) != 40) return false;
    const int32_t width = static_cast<int32_t>(GetU32(h + 18));
    const int32_t rawHeight = static_cast<int32_t>(GetU32(h + 22));
    const uint32_t bits = GetU16(h + 28);
    const uint32_t compression = GetU32(h + 30);
    const uint32_t offset = GetU32(h + 10);
    if (width < 1 || rawHeight == 0 || rawHeight == INT32_MIN || compression != 0) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
    const bool topDown = rawHeight < 0;
    const int32_t height = topDown ? -rawHeight : rawHeight;
    const int64_t line = calcSync(width, bits);
    // The file must hold every line before memory is taken.
    // (Compared by division: line x height can pass 64 bits.)
    const int64_t room = FileSize(f.get()) - int64_t{offset};
    if (offset < kBmpHeaderSize || room < 0 || line > room / height) return false;
    const bool colour = bits >= 24;
    const int32_t xdpi = PpmToDpi(static_cast<int32_t>(GetU32(h + 38)));
    const int32_t ydpi = PpmToDpi(static_cast<int32_t>(GetU32(h + 42)));
    const bool made = colour
                          ? createImg(width, height, 8, 3, 0, xdpi, ydpi)
                          : createImg(width, height, static_cast<int32_t>(bits), 1, 0, xdpi, ydpi);
    if (!made || isNull()) {
        deleteImg();
        return false;
    }
    std::vector<uint8_t> in;
    try {
        in.resize(static_cast<size_t>(line));
    } catch (const std::bad_alloc&) {
        deleteImg();
        return false;
    }
    if (std::fseek(f.get(), offset, SEEK_SET) != 0) {
        deleteImg();
        return false;
    }
    const int64_t step = bits / 8;
    for (int32_t row = 0; row < height; ++row) {
        if (!ReadAll(f.get(), in.data(), in.size())) {
            deleteImg();
            return false;
        }
        uint8_t* dst = TvkLinePtr(m_info, topDown ? row : height - 1 - row);
        if (!colour) {
            std::memcpy(dst, in.data(), static_cast<size_t>(m_info.lSync));
            continue;
        }
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* px = in.data() + x * step;
            dst[3 * x] = px[2];
            dst[3 * x + 1] = px[1];
            dst[3 * x + 2] = px[0];
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// PDF and JPEG

bool CImgFile::savePdf(const char* path, bool colourTable, int quality, bool extended, int value1,
                       int value2) const {
    const tagIMAGEINFO& r = m_info;
    if (path == nullptr || r.size == 0 || isNull() || std::strstr(path, ".pdf") == nullptr)
        return false;
    if (r.lWidth > kMaxPdfSide || r.lHeight > kMaxPdfSide || !LinesInsideBuffer(r)) return false;

    ZNTX_PAGE page{};
    page.width = r.lWidth;
    page.height = r.lHeight;
    page.xResolution = r.lXResolution;
    page.yResolution = r.lYResolution;
    page.data = r.lpImage;
    page.rowBytes = r.lSync;
    std::vector<uint8_t> bgr;
    if (r.lSpp == 3 && r.lBps == 8) {
        // The layer takes colour as blue, green, red pixels.
        page.kind = ZNTX_KIND_COLOUR;
        page.rowBytes = r.lWidth * 3;
        try {
            bgr.resize(static_cast<size_t>(page.rowBytes) * r.lHeight);
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (int32_t y = 0; y < r.lHeight; ++y) {
            const uint8_t* src = TvkLinePtr(r, y);
            uint8_t* dst = bgr.data() + int64_t{y} * page.rowBytes;
            const bool planar = r.ulRGBOrder == 1;
            for (int32_t x = 0; x < r.lWidth; ++x) {
                const uint8_t red = planar ? src[x] : src[3 * x];
                const uint8_t green = planar ? src[r.lSync + x] : src[3 * x + 1];
                const uint8_t blue = planar ? src[2 * int64_t{r.lSync} + x] : src[3 * x + 2];
                dst[3 * x] = blue;
                dst[3 * x + 1] = green;
                dst[3 * x + 2] = red;
            }
        }
        page.data = bgr.data();
    } else if (r.lSpp == 1 && r.lBps == 8) {
        page.kind = ZNTX_KIND_GRAY;
    } else if (r.lSpp == 1 && r.lBps == 1) {
        page.kind = ZNTX_KIND_BILEVEL;
    } else {
        return false;
    }

    PlatformLayer& layer = PdfLayer();
    auto modeset = reinterpret_cast<ZNTX_exmodeset_t>(layer.symbol("ZNTX_exmodeset"));
    auto open = reinterpret_cast<ZNTX_exopen_t>(layer.symbol("ZNTX_exopen"));
    auto submode = reinterpret_cast<ZNTX_submodeset_t>(layer.symbol("ZNTX_submodeset"));
    auto make = reinterpret_cast<ZNTX_spmake_t>(layer.symbol("ZNTX_spmake"));
    auto close = reinterpret_cast<ZNTX_exclose_t>(layer.symbol("ZNTX_exclose"));
    if (!modeset || !open || !submode || !make || !close) return false;

    if (modeset(colourTable ? 2 : 0, extended ? value1 : 0, extended ? value2 : 0) != 0)
        return false;
    if (open(path, extended ? 5 : 0, 0) != 0) return false;
    uint8_t pdfa[16] = {};
    PutU16(pdfa, 1);
    PutU16(pdfa + 2, sizeof pdfa);
    PutU32(pdfa + 4, 497);
    uint8_t qualityRecord[8] = {};
    PutU16(qualityRecord, 1);
    PutU16(qualityRecord + 2, sizeof qualityRecord);
    PutU32(qualityRecord + 4, static_cast<uint32_t>(quality));
    bool ok = submode(ZNTX_SUBMODE_PDFA, pdfa) == 0 &&
              submode(ZNTX_SUBMODE_QUALITY, qualityRecord) == 0 && make(&page, nullptr) == 0;
    ok = close(0) == 0 && ok;
    return ok;
}

bool CImgFile::saveJpg(const char*, int) const {
    // Conversion to JPEG is not available: nothing is written.
    return false;
}

} // namespace Tvk::Imvra
