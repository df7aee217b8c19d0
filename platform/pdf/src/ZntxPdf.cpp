#include "ZntxPdf.h"

#include "PageFile.h"
#include "PdfJoin.h"

#include <foundation/UserFolders.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <stdlib.h>

namespace {

// What the caller handed over for the next document. The recognition
// language, its sub-value and the PDF/A mode are kept as given; this layer
// makes neither a text layer nor PDF/A files yet.
struct Settings {
    int compression = ZNTX_COMPRESSION_NONE;
    int language = 0;
    int subValue = 0;
};

// The one document being written: its target, its settings and the pages
// written so far, each a file in the document's private work folder.
struct OpenPdf {
    bool open = false;
    std::string path;
    Settings settings;
    int recognition = 0;
    uint32_t pdfaMode = ZNTX_PDFA_MODE_PLAIN;
    kdpdf::PageSettings page;
    std::string workFolder;
    std::vector<std::string> pageFiles;
};

std::mutex g_mutex;
OpenPdf g_pdf;
Settings g_next;
std::string g_resourceFolder;

uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Ends the document, removing its page files and work folder.
void Discard() {
    if (!g_pdf.workFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(g_pdf.workFolder, ec);
        if (ec)
            std::fprintf(stderr, "KdPdf: cannot remove %s: %s\n", g_pdf.workFolder.c_str(),
                         ec.message().c_str());
    }
    g_pdf = OpenPdf{};
}

// A private folder for the document's page files, under the user's own
// temporary folder.
bool MakeWorkFolder(std::string& folder) {
    std::string why;
    const std::optional<std::string> base = kdf::userTemporaryFolder(&why);
    if (!base) {
        std::fprintf(stderr, "KdPdf: no temporary folder: %s\n", why.c_str());
        return false;
    }
    std::string name = *base + "/pdf-pages.XXXXXX";
    if (mkdtemp(name.data()) == nullptr) return false;
    folder = name;
    return true;
}

// Bytes a row needs for width pixels of the kind, 0 for an unknown kind.
int64_t RowBytesNeeded(int32_t kind, int32_t width) {
    switch (kind) {
    case ZNTX_KIND_BILEVEL:
        return (int64_t{width} + 7) / 8;
    case ZNTX_KIND_GRAY:
        return width;
    case ZNTX_KIND_COLOUR:
        return int64_t{width} * 3;
    default:
        return 0;
    }
}

} // namespace

extern "C" {

int ZNTX_exmodeset(int compression, int language, int subValue) {
    if (compression != ZNTX_COMPRESSION_NONE && compression != ZNTX_COMPRESSION_HIGH)
        return ZNTX_ERR_ARGUMENT;
    std::lock_guard lock(g_mutex);
    g_next = Settings{compression, language, subValue};
    return 0;
}

int ZNTX_changepath(const char* path) {
    if (path == nullptr) return ZNTX_ERR_ARGUMENT;
    std::lock_guard lock(g_mutex);
    try {
        g_resourceFolder = path;
    } catch (const std::bad_alloc&) {
        return ZNTX_ERR_MEMORY;
    }
    return 0;
}

int ZNTX_exopen(const char* path, int recognition, int) {
    if (path == nullptr || path[0] == '\0') return ZNTX_ERR_ARGUMENT;
    std::lock_guard lock(g_mutex);
    // A second user in the same process is refused; the open document is
    // left as it is.
    if (g_pdf.open) return ZNTX_ERR_STATE;
    try {
        OpenPdf pdf;
        pdf.path = path;
        pdf.settings = g_next;
        pdf.recognition = recognition;
        pdf.page.compression = g_next.compression;
        if (!MakeWorkFolder(pdf.workFolder)) return ZNTX_ERR_WRITE;
        pdf.open = true;
        g_pdf = std::move(pdf);
    } catch (const std::bad_alloc&) {
        return ZNTX_ERR_MEMORY;
    }
    return 0;
}

int ZNTX_submodeset(int id, const void* record) {
    if (record == nullptr) return ZNTX_ERR_ARGUMENT;
    std::lock_guard lock(g_mutex);
    if (!g_pdf.open) return ZNTX_ERR_STATE;
    // Each record starts with the version and its own length; nothing past
    // the length the id has is read.
    const auto* p = static_cast<const uint8_t*>(record);
    if (ReadU16(p) != ZNTX_SUBMODE_VERSION) return ZNTX_ERR_ARGUMENT;
    const uint16_t length = ReadU16(p + 2);
    if (id == ZNTX_SUBMODE_PDFA) {
        if (length != ZNTX_SUBMODE_PDFA_LENGTH) return ZNTX_ERR_ARGUMENT;
        const uint32_t mode = ReadU32(p + 4);
        if (mode != ZNTX_PDFA_MODE_PLAIN && mode != ZNTX_PDFA_MODE_ARCHIVE)
            return ZNTX_ERR_ARGUMENT;
        g_pdf.pdfaMode = mode;
        return 0;
    }
    if (id == ZNTX_SUBMODE_QUALITY) {
        if (length != ZNTX_SUBMODE_QUALITY_LENGTH) return ZNTX_ERR_ARGUMENT;
        const uint32_t quality = ReadU32(p + 4);
        if (quality < ZNTX_QUALITY_MIN || quality > ZNTX_QUALITY_MAX) return ZNTX_ERR_ARGUMENT;
        g_pdf.page.quality = static_cast<int>(quality);
        return 0;
    }
    return ZNTX_ERR_ARGUMENT;
}

int ZNTX_spmake(const ZNTX_PAGE* page, const int32_t* region) {
    if (page == nullptr || page->data == nullptr || page->width < 1 || page->height < 1)
        return ZNTX_ERR_ARGUMENT;
    const int64_t need = RowBytesNeeded(page->kind, page->width);
    if (need == 0 || page->rowBytes < need) return ZNTX_ERR_ARGUMENT;
    int32_t width = page->width;
    int32_t height = page->height;
    if (region != nullptr) {
        if (region[0] != 0 || region[1] != 0 || region[2] < 1 || region[3] < 1 ||
            region[2] > width || region[3] > height)
            return ZNTX_ERR_ARGUMENT;
        width = region[2];
        height = region[3];
    }
    std::lock_guard lock(g_mutex);
    if (!g_pdf.open) return ZNTX_ERR_STATE;
    char name[32];
    std::snprintf(name, sizeof name, "/page-%06zu.pdf", g_pdf.pageFiles.size());
    try {
        std::string file = g_pdf.workFolder + name;
        g_pdf.pageFiles.reserve(g_pdf.pageFiles.size() + 1);
        // A refused page leaves the document open for the next one.
        const int result = kdpdf::writePageFile(*page, width, height, g_pdf.page, file);
        if (result != 0) return result;
        g_pdf.pageFiles.push_back(std::move(file));
    } catch (const std::bad_alloc&) {
        return ZNTX_ERR_MEMORY;
    }
    return 0;
}

int ZNTX_exclose(int) {
    std::lock_guard lock(g_mutex);
    if (!g_pdf.open) return ZNTX_ERR_STATE;
    std::string why;
    bool joined = false;
    if (g_pdf.pageFiles.empty()) {
        why = "no pages";
    } else {
        joined = kdpdf::joinPages(g_pdf.pageFiles, g_pdf.path, &why);
    }
    if (!joined)
        std::fprintf(stderr, "KdPdf: %s not written: %s\n", g_pdf.path.c_str(), why.c_str());
    Discard();
    return joined ? 0 : ZNTX_ERR_WRITE;
}

} // extern "C"
