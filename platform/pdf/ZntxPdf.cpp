#include "ZntxPdf.h"

#include <hpdf.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// The one PDF being written, with the settings of ZNTX_exmodeset.
struct OpenPdf {
    HPDF_Doc doc = nullptr;
    std::string path;
};

OpenPdf g_pdf;
int g_compression = 0;

void IgnoreError(HPDF_STATUS, HPDF_STATUS, void*) {
    // Failures are read from each call's status.
}

void Close() {
    if (g_pdf.doc != nullptr) HPDF_Free(g_pdf.doc);
    g_pdf = OpenPdf{};
}

// A failed call leaves the document usable for the next one.
int Failed() {
    HPDF_ResetError(g_pdf.doc);
    return -1;
}

// One side of a page in points, held within the sizes a PDF page may have.
HPDF_REAL PageSide(double points) {
    if (points < HPDF_MIN_PAGE_SIZE) points = HPDF_MIN_PAGE_SIZE;
    if (points > HPDF_MAX_PAGE_SIZE) points = HPDF_MAX_PAGE_SIZE;
    return static_cast<HPDF_REAL>(points);
}

uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// The page's rows as libharu takes them: rows without padding, gray or RGB
// samples, and for bilevel pages a width raised to whole bytes with 0 meaning
// black. Returns the stored width in pixels, 0 when the page is unusable.
int32_t PackRows(const ZNTX_PAGE& page, int32_t width, int32_t height, std::vector<uint8_t>& out) {
    int64_t need;
    int32_t stored = width;
    switch (page.kind) {
    case ZNTX_KIND_BILEVEL:
        need = (int64_t{width} + 7) / 8;
        stored = static_cast<int32_t>(need * 8);
        break;
    case ZNTX_KIND_GRAY:
        need = width;
        break;
    case ZNTX_KIND_COLOUR:
        need = int64_t{width} * 3;
        break;
    default:
        return 0;
    }
    if (page.rowBytes < need) return 0;
    out.resize(static_cast<size_t>(need * height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = page.data + int64_t{y} * page.rowBytes;
        uint8_t* dst = out.data() + int64_t{y} * need;
        if (page.kind == ZNTX_KIND_COLOUR) {
            for (int32_t x = 0; x < width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else if (page.kind == ZNTX_KIND_BILEVEL) {
            for (int64_t i = 0; i < need; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
            // Pixels beyond the width show white.
            if (width % 8 != 0) dst[need - 1] |= static_cast<uint8_t>(0xFF >> (width % 8));
        } else {
            std::memcpy(dst, src, static_cast<size_t>(need));
        }
    }
    return stored;
}

} // namespace

extern "C" {

int ZNTX_exmodeset(int compression, int, int) {
    if (compression != 0 && compression != 2) return -1;
    g_compression = compression;
    return 0;
}

int ZNTX_exopen(const char* path, int, int) {
    if (g_pdf.doc != nullptr || path == nullptr || path[0] == '\0') return -1;
    try {
        g_pdf.path = path;
    } catch (const std::bad_alloc&) {
        return -1;
    }
    g_pdf.doc = HPDF_New(IgnoreError, nullptr);
    if (g_pdf.doc == nullptr) {
        Close();
        return -1;
    }
    const HPDF_UINT mode = g_compression == 2 ? HPDF_COMP_ALL : HPDF_COMP_NONE;
    if (HPDF_SetCompressionMode(g_pdf.doc, mode) != HPDF_OK) {
        Close();
        return -1;
    }
    return 0;
}

int ZNTX_submodeset(int id, const void* record) {
    if (g_pdf.doc == nullptr || record == nullptr) return -1;
    const auto* p = static_cast<const uint8_t*>(record);
    // Each record starts with the version 1 and its own length.
    if (ReadU16(p) != 1) return -1;
    const uint16_t length = ReadU16(p + 2);
    if (id == ZNTX_SUBMODE_PDFA) return length == 16 ? 0 : -1;
    if (id == ZNTX_SUBMODE_QUALITY) return length == 8 ? 0 : -1;
    return -1;
}

int ZNTX_spmake(const ZNTX_PAGE* page, const int32_t* region) {
    if (g_pdf.doc == nullptr || page == nullptr || page->data == nullptr || page->width < 1 ||
        page->height < 1)
        return -1;
    int32_t width = page->width;
    int32_t height = page->height;
    if (region != nullptr) {
        if (region[0] != 0 || region[1] != 0 || region[2] < 1 || region[3] < 1 ||
            region[2] > width || region[3] > height)
            return -1;
        width = region[2];
        height = region[3];
    }
    std::vector<uint8_t> rows;
    int32_t stored;
    try {
        stored = PackRows(*page, width, height, rows);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (stored == 0) return -1;
    const HPDF_ColorSpace space =
        page->kind == ZNTX_KIND_COLOUR ? HPDF_CS_DEVICE_RGB : HPDF_CS_DEVICE_GRAY;
    const HPDF_UINT bits = page->kind == ZNTX_KIND_BILEVEL ? 1 : 8;
    HPDF_Image image =
        HPDF_LoadRawImageFromMem(g_pdf.doc, rows.data(), static_cast<HPDF_UINT>(stored),
                                 static_cast<HPDF_UINT>(height), space, bits);
    if (image == nullptr) return Failed();
    // The page shows the image at its resolution, within the page sizes a
    // PDF allows (a tiny or huge image is scaled to fit them).
    const double xdpi = page->xResolution > 0 ? page->xResolution : 72;
    const double ydpi = page->yResolution > 0 ? page->yResolution : 72;
    const HPDF_REAL w = PageSide(width * 72.0 / xdpi);
    const HPDF_REAL h = PageSide(height * 72.0 / ydpi);
    HPDF_Page p = HPDF_AddPage(g_pdf.doc);
    if (p == nullptr || HPDF_Page_SetWidth(p, w) != HPDF_OK || HPDF_Page_SetHeight(p, h) != HPDF_OK)
        return Failed();
    // A bilevel image stored wider than the page runs off its right edge.
    const HPDF_REAL drawnWidth = static_cast<HPDF_REAL>(w * (double(stored) / width));
    if (HPDF_Page_DrawImage(p, image, 0, 0, drawnWidth, h) != HPDF_OK) return Failed();
    return 0;
}

int ZNTX_exclose(int) {
    if (g_pdf.doc == nullptr) return -1;
    const HPDF_STATUS status = HPDF_SaveToFile(g_pdf.doc, g_pdf.path.c_str());
    Close();
    return status == HPDF_OK ? 0 : -1;
}

} // extern "C"
