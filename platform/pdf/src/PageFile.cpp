#include "PageFile.h"

#include <hpdf.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace kdpdf {

namespace {

void IgnoreError(HPDF_STATUS, HPDF_STATUS, void*) {
    // Failures are read from each call's result.
}

// One side of a page in points, held within the sizes a PDF page may have.
HPDF_REAL PageSide(double points) {
    if (points < HPDF_MIN_PAGE_SIZE) points = HPDF_MIN_PAGE_SIZE;
    if (points > HPDF_MAX_PAGE_SIZE) points = HPDF_MAX_PAGE_SIZE;
    return static_cast<HPDF_REAL>(points);
}

const uint8_t* Row(const ZNTX_PAGE& page, int32_t y) {
    return page.data + int64_t{y} * page.rowBytes;
}

// Bilevel rows without padding, 1 meaning black: libharu's Group 4 encoder
// codes 1 bits as black runs, which every reader shows black when /BlackIs1
// is left false.
void PackBilevel(const ZNTX_PAGE& page, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    const int64_t need = (int64_t{width} + 7) / 8;
    out.resize(static_cast<size_t>(need * height));
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(out.data() + y * need, Row(page, y), static_cast<size_t>(need));
}

// Gray or red-green-blue rows without padding, for a Flate image.
void PackSamples(const ZNTX_PAGE& page, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    const int64_t need = page.kind == ZNTX_KIND_COLOUR ? int64_t{width} * 3 : width;
    out.resize(static_cast<size_t>(need * height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = Row(page, y);
        uint8_t* dst = out.data() + y * need;
        if (page.kind == ZNTX_KIND_COLOUR) {
            for (int32_t x = 0; x < width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else {
            std::memcpy(dst, src, static_cast<size_t>(need));
        }
    }
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void JpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// The page as a baseline JPEG in memory (malloc'ed, for the caller to free).
// Colour is read as blue-green-red directly. Nothing with a destructor may
// live in this frame: a failure leaves it by longjmp.
bool EncodeJpeg(const ZNTX_PAGE& page, int32_t width, int32_t height, int quality,
                unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegFailed;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    if (page.kind == ZNTX_KIND_COLOUR) {
        info.input_components = 3;
        info.in_color_space = JCS_EXT_BGR;
    } else {
        info.input_components = 1;
        info.in_color_space = JCS_GRAYSCALE;
    }
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(Row(page, static_cast<int32_t>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

struct Document {
    HPDF_Doc doc = HPDF_New(IgnoreError, nullptr);
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    ~Document() {
        if (doc != nullptr) HPDF_Free(doc);
        std::free(jpeg);
    }
};

HPDF_Image LoadImage(Document& d, const ZNTX_PAGE& page, int32_t width, int32_t height,
                     const PageSettings& settings, std::vector<uint8_t>& rows) {
    if (page.kind == ZNTX_KIND_BILEVEL) {
        PackBilevel(page, width, height, rows);
        const auto lineBytes = static_cast<HPDF_UINT>((width + 7) / 8);
        return HPDF_Image_LoadRaw1BitImageFromMem(d.doc, rows.data(), static_cast<HPDF_UINT>(width),
                                                  static_cast<HPDF_UINT>(height), lineBytes,
                                                  HPDF_FALSE, HPDF_TRUE);
    }
    if (settings.compression == ZNTX_COMPRESSION_HIGH) {
        if (!EncodeJpeg(page, width, height, settings.quality, &d.jpeg, &d.jpegSize))
            return nullptr;
        return HPDF_LoadJpegImageFromMem(d.doc, d.jpeg, static_cast<HPDF_UINT>(d.jpegSize));
    }
    PackSamples(page, width, height, rows);
    const HPDF_ColorSpace space =
        page.kind == ZNTX_KIND_COLOUR ? HPDF_CS_DEVICE_RGB : HPDF_CS_DEVICE_GRAY;
    return HPDF_LoadRawImageFromMem(d.doc, rows.data(), static_cast<HPDF_UINT>(width),
                                    static_cast<HPDF_UINT>(height), space, 8);
}

} // namespace

int writePageFile(const ZNTX_PAGE& page, int32_t width, int32_t height,
                  const PageSettings& settings, const std::string& path) {
    try {
        Document d;
        // Raw images and the page's drawing are stored with Flate; Group 4
        // and JPEG images keep their own encoding.
        if (d.doc == nullptr || HPDF_SetCompressionMode(d.doc, HPDF_COMP_ALL) != HPDF_OK)
            return ZNTX_ERR_MEMORY;
        std::vector<uint8_t> rows;
        HPDF_Image image = LoadImage(d, page, width, height, settings, rows);
        if (image == nullptr) return ZNTX_ERR_WRITE;
        // The page shows the image at its resolution, within the page sizes
        // a PDF allows (a tiny or huge image is scaled to fit them).
        const double xdpi = page.xResolution > 0 ? page.xResolution : 72;
        const double ydpi = page.yResolution > 0 ? page.yResolution : 72;
        const HPDF_REAL w = PageSide(width * 72.0 / xdpi);
        const HPDF_REAL h = PageSide(height * 72.0 / ydpi);
        HPDF_Page p = HPDF_AddPage(d.doc);
        if (p == nullptr || HPDF_Page_SetWidth(p, w) != HPDF_OK ||
            HPDF_Page_SetHeight(p, h) != HPDF_OK ||
            HPDF_Page_DrawImage(p, image, 0, 0, w, h) != HPDF_OK)
            return ZNTX_ERR_WRITE;
        if (HPDF_SaveToFile(d.doc, path.c_str()) != HPDF_OK) {
            unlink(path.c_str());
            return ZNTX_ERR_WRITE;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return ZNTX_ERR_MEMORY;
    }
}

} // namespace kdpdf
