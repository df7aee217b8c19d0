#include "PageFiles.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>
#include <tiffio.h>

namespace {

bool Consistent(const SPageImage& p, std::string* error) {
    const std::uint64_t line = p.bitsPerSample == 1 ? (std::uint64_t(p.width) + 7) / 8
                                                    : std::uint64_t(p.width) * p.samplesPerPixel;
    const bool ok = p.width > 0 && p.height > 0 && (p.bitsPerSample == 1 || p.bitsPerSample == 8) &&
                    (p.samplesPerPixel == 1 || p.samplesPerPixel == 3) &&
                    !(p.bitsPerSample == 1 && p.samplesPerPixel != 1) && p.bytesPerLine >= line &&
                    p.pixels.size() >= std::uint64_t(p.bytesPerLine) * p.height;
    if (!ok) *error = "page without a consistent size";
    return ok;
}

// A new file beside path; the descriptor and its name, or -1. The name has
// a bounded length of its own (a hidden name from the first bytes of the
// file's), so that any name the file system takes has a temporary beside it.
int MakeTemporary(const std::filesystem::path& path, std::string* name, std::string* error) {
    constexpr std::size_t kKeptNameBytes = 32;
    const std::string leafName = path.filename().string();
    std::string prefix(1, '.');
    prefix.append(leafName, 0, std::min(leafName.size(), kKeptNameBytes));
    prefix.push_back('.');
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string leaf = prefix + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".part";
        *name = (path.parent_path() / leaf).string();
        const int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    *error = std::string("cannot create a file beside ") + path.string() + ": " + std::strerror(errno);
    return -1;
}

bool Finish(bool ok, const std::string& temporary, const std::filesystem::path& path, std::string* error) {
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = std::string("cannot rename to ") + path.string() + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) unlink(temporary.c_str());
    return ok;
}

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr info) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    std::longjmp(e->jump, 1);
}


// The page as TIFF into a descriptor the writer takes over (closed here).
bool WriteTiffTo(int fd, const char* name, const SPageImage& page, std::string* error) {
    TIFF* tiff = TIFFFdOpen(fd, name, "w");
    if (!tiff) {
        close(fd);
        *error = "TIFF open failed";
        return false;
    }
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, page.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, page.samplesPerPixel);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    // The pages' 1-bit samples have 0 as black.
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, page.samplesPerPixel == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    if (page.resolution > 0) {
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(page.resolution));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(page.resolution));
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    std::vector<unsigned char> row(page.bytesPerLine);
    bool ok = true;
    for (std::uint32_t y = 0; ok && y < page.height; ++y) {
        std::memcpy(row.data(), page.pixels.data() + std::size_t(y) * page.bytesPerLine, row.size());
        ok = TIFFWriteScanline(tiff, row.data(), y, 0) == 1;
    }
    TIFFClose(tiff); // closes fd
    if (!ok) *error = "TIFF write failed";
    return ok;
}

} // namespace

bool WriteTiffFile(const std::filesystem::path& path, const SPageImage& page, std::string* error) {
    if (!Consistent(page, error)) return false;
    std::string temporary;
    const int fd = MakeTemporary(path, &temporary, error);
    if (fd < 0) return false;
    const bool ok = WriteTiffTo(fd, temporary.c_str(), page, error);
    return Finish(ok, temporary, path, error);
}

bool EncodeTiff(const SPageImage& page, std::vector<unsigned char>* out, std::string* error) {
    if (!Consistent(page, error)) return false;
    // An anonymous file in memory: the file writer's own code makes it.
    const int fd = memfd_create("kd720-page.tif", MFD_CLOEXEC);
    if (fd < 0) {
        *error = std::string("cannot make the page in memory: ") + std::strerror(errno);
        return false;
    }
    const int writerFd = dup(fd);
    bool ok = writerFd >= 0;
    if (!ok) *error = std::string("cannot make the page in memory: ") + std::strerror(errno);
    if (ok) ok = WriteTiffTo(writerFd, "kd720-page.tif", page, error);
    struct stat st {};
    if (ok && fstat(fd, &st) != 0) {
        *error = std::string("cannot read the page back: ") + std::strerror(errno);
        ok = false;
    }
    if (ok) {
        try {
            out->assign(static_cast<std::size_t>(st.st_size), 0);
        } catch (const std::bad_alloc&) {
            *error = "out of memory";
            ok = false;
        }
    }
    for (std::size_t done = 0; ok && done < out->size();) {
        const ssize_t n = pread(fd, out->data() + done, out->size() - done, static_cast<off_t>(done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            *error = "cannot read the page back";
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    close(fd);
    if (!ok) out->clear();
    return ok;
}

// The compression alone, with no object that a jump out of the library
// could skip: the row buffer belongs to the caller.
static bool CompressJfif(FILE* file, const SPageImage& page, unsigned char* row) {
    jpeg_compress_struct info{};
    JpegError jerr{};
    info.err = jpeg_std_error(&jerr.mgr);
    jerr.mgr.error_exit = JpegFail;
    if (setjmp(jerr.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = page.width;
    info.image_height = page.height;
    info.input_components = static_cast<int>(page.samplesPerPixel);
    info.in_color_space = page.samplesPerPixel == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    if (page.resolution > 0) {
        info.density_unit = 1;
        info.X_density = info.Y_density = static_cast<UINT16>(page.resolution > 65535 ? 65535 : page.resolution);
    }
    jpeg_start_compress(&info, TRUE);
    const std::size_t rowBytes = std::size_t(page.width) * page.samplesPerPixel;
    for (std::uint32_t y = 0; y < page.height; ++y) {
        const unsigned char* src = page.pixels.data() + std::size_t(y) * page.bytesPerLine;
        if (page.bitsPerSample == 1) {
            // Gray from bits: 0 is black.
            for (std::uint32_t x = 0; x < page.width; ++x) row[x] = (src[x / 8] >> (7 - x % 8)) & 1 ? 0xFF : 0x00;
        } else {
            std::memcpy(row, src, rowBytes);
        }
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

bool WriteJfifFile(const std::filesystem::path& path, const SPageImage& page, std::string* error) {
    if (!Consistent(page, error)) return false;
    std::string temporary;
    const int fd = MakeTemporary(path, &temporary, error);
    if (fd < 0) return false;
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        *error = "cannot open the JPEG file";
        return Finish(false, temporary, path, error);
    }
    std::vector<unsigned char> row(std::size_t(page.width) * page.samplesPerPixel);
    bool ok = CompressJfif(file, page, row.data());
    if (!ok) *error = "JPEG compression failed";
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        *error = "JPEG write failed";
    }
    return Finish(ok, temporary, path, error);
}
