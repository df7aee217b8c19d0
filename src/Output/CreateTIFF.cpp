#include "CreateTIFF.h"

#include "ImageWriters.h"
#include "OutputWriter.h"

#include <OutputModel.h>
#include <QlrUtilsMethod.h>
#include <TiffFunc.h>

#include <foundation/Exception.h>
#include <foundation/File.h>

#include <tiffio.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace qlr_output {

namespace {

[[noreturn]] void fail(const char* key, std::string reason = {}) { throw kdf::Exception(key, std::move(reason)); }

// A growing in-memory file for libtiff's client I/O.
struct MemFile {
    std::string data;
    toff_t pos = 0;
    std::string error;
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t size) {
    auto* m = static_cast<MemFile*>(h);
    if (size < 0 || m->pos >= m->data.size()) return 0;
    const auto n = std::min<toff_t>(toff_t(size), m->data.size() - m->pos);
    std::memcpy(buf, m->data.data() + m->pos, std::size_t(n));
    m->pos += n;
    return tmsize_t(n);
}

tmsize_t memWrite(thandle_t h, void* buf, tmsize_t size) {
    auto* m = static_cast<MemFile*>(h);
    if (size < 0) return -1;
    const toff_t end = m->pos + toff_t(size);
    // Classic TIFF offsets are 32 bits; libtiff refuses beyond them itself,
    // this only keeps the buffer from growing without end.
    if (end > std::numeric_limits<std::uint32_t>::max()) return -1;
    if (end > m->data.size()) m->data.resize(std::size_t(end));
    std::memcpy(m->data.data() + m->pos, buf, std::size_t(size));
    m->pos = end;
    return size;
}

toff_t memSeek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemFile*>(h);
    const std::int64_t base = whence == SEEK_CUR ? std::int64_t(m->pos)
                              : whence == SEEK_END ? std::int64_t(m->data.size())
                                                   : 0;
    const std::int64_t to = base + std::int64_t(off);
    if (to < 0) return toff_t(-1);
    m->pos = toff_t(to);
    return m->pos;
}

int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<MemFile*>(h)->data.size(); }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

int memError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    auto* m = static_cast<MemFile*>(user);
    if (m->error.empty()) m->error = (module ? std::string(module) + ": " : std::string()) + buf;
    return 1; // handled: nothing goes to the process-wide handler
}
int memWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Pages per file; a damaged setting of 0 or below would divide by zero.
int pagesPerFile(int stored) { return std::clamp(stored, 1, 9999); }

} // namespace

std::string encodeTIFF(const PageBitmap& b, std::string* error) {
    if (b.bpp != 1 && b.bpp != 8 && b.bpp != 24) {
        setError(error, "unsupported depth " + std::to_string(b.bpp));
        return {};
    }
    const auto row = bytesPerRow64(b.bpp, b.width);
    if (b.width <= 0 || b.height <= 0 || !row || *row != b.bytesPerRow ||
        b.data.size() / b.bytesPerRow < std::size_t(b.height)) {
        setError(error, "page buffer doesn't match its size");
        return {};
    }

    MemFile mem;
    // Uncompressed pages are as large as their pixels; fax-coded ones far
    // smaller, and the buffer grows as needed.
    if (b.bpp >= 8) mem.data.reserve(std::min<std::size_t>(b.bytesPerRow * std::size_t(b.height) + 4096, 1u << 31));
    std::unique_ptr<TIFFOpenOptions, OptionsFree> opts(TIFFOpenOptionsAlloc());
    if (!opts) {
        setError(error, "no memory");
        return {};
    }
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), memError, &mem);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), memWarning, &mem);
    {
        std::unique_ptr<TIFF, TiffCloser> t(TIFFClientOpenExt("page", "wl", &mem, memRead, memWrite, memSeek, memClose,
                                                              memSize, memMap, memUnmap, opts.get()));
        if (!t) {
            setError(error, mem.error.empty() ? "libtiff refused to open" : mem.error);
            return {};
        }
        TIFF* tif = t.get();
        const bool bilevel = b.bpp == 1;
        const std::uint16_t compression = !bilevel                   ? COMPRESSION_NONE
                                          : b.height <= kMaxGroup4Rows ? COMPRESSION_CCITTFAX4
                                                                       : COMPRESSION_CCITTFAX3;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(b.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(b.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(bilevel ? 1 : 8));
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(b.bpp == 24 ? 3 : 1));
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        // The read-back has inverted bilevel pages so that a set bit is black.
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     bilevel ? PHOTOMETRIC_MINISWHITE : b.bpp == 24 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(b.xRes));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(b.yRes));
        const std::uint32_t rowsPerStrip =
            std::min<std::uint32_t>(TIFFDefaultStripSize(tif, 0), std::uint32_t(b.height));
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

        const tstrip_t strips = TIFFNumberOfStrips(tif);
        for (tstrip_t s = 0; s < strips; ++s) {
            const std::size_t first = std::size_t(s) * rowsPerStrip;
            const std::size_t rows = std::min<std::size_t>(rowsPerStrip, std::size_t(b.height) - first);
            // With the native fill order and 8-bit samples libtiff reads the
            // strip without changing it.
            void* strip = const_cast<std::uint8_t*>(b.data.data() + first * b.bytesPerRow);
            if (TIFFWriteEncodedStrip(tif, s, strip, tmsize_t(rows * b.bytesPerRow)) < 0) {
                setError(error, mem.error.empty() ? "strip not written" : mem.error);
                return {};
            }
        }
        if (!TIFFWriteDirectory(tif)) {
            setError(error, mem.error.empty() ? "directory not written" : mem.error);
            return {};
        }
    }
    if (!mem.error.empty()) {
        setError(error, mem.error);
        return {};
    }
    return std::move(mem.data);
}

std::string childImgPathForMultiTiff(int index) {
    const auto folder = QlrUtilsMethod::createAndMultiFolderPath();
    if (!folder || !kdf::isDirectory(*folder)) return {};
    return kdf::joinPath(*folder, "childImg_" + std::to_string(index) + ".tiff");
}

bool writeToTIFF(const PageBitmap& bitmap, const std::string* path, int index, bool /*isLastIndex*/,
                 const OutputModel& output, const GroupFileLookup& groupFile) {
    if (index < 0) fail("Err_FileCreateFailed", "negative page index");
    const bool grouped = output.fileOp_MultiType_TIFF() != 0;
    const int perFile = pagesPerFile(output.multiPageNum_TIFF());
    const bool starts = grouped ? index % perFile == 0 : index == 0;
    const int group = grouped ? index / perFile : 0;

    if (bitmap.data.empty()) fail("Err_FileCreateFailed", "no page");
    std::string error;
    const std::string data = encodeTIFF(bitmap, &error);
    if (data.empty()) fail("Err_FileCreateFailed", error);

    const bool toPath = starts && path;
    const std::string target = toPath ? *path : childImgPathForMultiTiff(index);
    if (target.empty()) fail("Err_FileCreateFailed", "no child file for page " + std::to_string(index));
    // A child file is work material: it goes whatever happens to it.
    struct ChildRemover {
        const std::string* child;
        ~ChildRemover() {
            if (child) ::unlink(child->c_str());
        }
    } remover{toPath ? nullptr : &target};

    if (!kdf::writeFileAtomically(target, data, &error, kPageFlush)) fail("Err_FileCreateFailed", error);
    if (bitmap.bpp < 8 && FixBilevelTiffPhotometricInterpretation(target.c_str()) != kTiffOK)
        fail("Err_FileCreateFailed", "photometric fix failed on " + target);
    if (const int rc = ConvertII(target.c_str()); rc != kTiffOK)
        fail("Err_FileCreateFailed", "byte order conversion failed (" + std::to_string(rc) + ")");
    if (starts) return true;

    const std::optional<std::string> groupPath = groupFile ? groupFile(group) : std::nullopt;
    if (!groupPath || !fileExists(*groupPath)) fail("Err_FileWriteFailed", "no file for group " + std::to_string(group));
    if (!fileExists(target)) fail("Err_FileWriteFailed", "child file missing");
    const int rc = ConcatTiff(groupPath->c_str(), target.c_str());
    if (rc != kTiffOK) fail("Err_TIFFAddPage", "append failed (" + std::to_string(rc) + ")");
    return true;
}

void installTIFFWriter(OutputWriter& writer) {
    OutputWriter* w = &writer;
    writer.setPageFileWriter(kFormatTIFF, [w](const PageBitmap& bitmap, const std::string* path, int index,
                                              bool isLastIndex, const OutputModel& output) {
        return writeToTIFF(bitmap, path, index, isLastIndex, output, [w](int group) -> std::optional<std::string> {
            const auto list = w->cpyWriteFilePathArray();
            if (group < 0 || std::size_t(group) >= list.size()) return std::nullopt;
            return list[std::size_t(group)];
        });
    });
}

} // namespace qlr_output
