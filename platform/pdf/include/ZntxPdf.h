// The PDF writer of the platform layer: one PDF open at a time, pages added
// one by one, the file written when it is closed. Built as its own shared
// object (libKdPdf.so); the image library loads it with dlopen at first use,
// so neither side has a link dependency on the other.
//
// Each page is written to its own small file in a private work folder as it
// arrives, so a long document holds one page in memory at a time; closing
// joins those files in order under a temporary name beside the target and
// renames it, so the target appears whole or not at all.
//
// Every call returns 0 on success and a negative value on failure (never a
// positive value). The calls may come from any thread, one at a time.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// One page image handed to ZNTX_spmake.
struct ZNTX_PAGE {
    const uint8_t* data; // first byte of the top row
    int32_t rowBytes;    // bytes from one row to the next
    int32_t width;       // pixels
    int32_t height;      // rows
    int32_t xResolution; // dots per inch (72 when not positive)
    int32_t yResolution;
    int32_t kind; // ZNTX_KIND_*
    int32_t reserved1;
    int32_t reserved2;
};

// Pixel kinds of a page.
enum {
    ZNTX_KIND_BILEVEL = 33, // 1 bit a pixel, most significant bit first, 1 = black
    ZNTX_KIND_GRAY = 8,     // 8 bits a pixel
    ZNTX_KIND_COLOUR = 136, // 8-bit blue, green, red a pixel
};

// Sub-mode records of ZNTX_submodeset (packed, little-endian as in memory).
enum {
    ZNTX_SUBMODE_PDFA = 150,   // {u16 1, u16 16, u32 mode (497 plain, 1008 PDF/A), u32 0, u32 0}
    ZNTX_SUBMODE_QUALITY = 50, // {u16 1, u16 8, u32 image quality 1 to 100}
    ZNTX_SUBMODE_VERSION = 1,
    ZNTX_SUBMODE_PDFA_LENGTH = 16,
    ZNTX_SUBMODE_QUALITY_LENGTH = 8,
    ZNTX_PDFA_MODE_PLAIN = 497,
    ZNTX_PDFA_MODE_ARCHIVE = 1008,
    ZNTX_QUALITY_MIN = 1,
    ZNTX_QUALITY_MAX = 100,
};

// Compression modes of ZNTX_exmodeset: gray and colour pages lossless (Flate)
// or JPEG at the quality of the id-50 record. Bilevel pages are always
// CCITT Group 4.
enum {
    ZNTX_COMPRESSION_NONE = 0,
    ZNTX_COMPRESSION_HIGH = 2,
};

// The records laid out as the caller builds them.
struct ZNTX_SUBMODE_PDFA_RECORD {
    uint16_t version; // ZNTX_SUBMODE_VERSION
    uint16_t length;  // ZNTX_SUBMODE_PDFA_LENGTH
    uint32_t mode;    // ZNTX_PDFA_MODE_*
    uint32_t reserved1;
    uint32_t reserved2;
};
struct ZNTX_SUBMODE_QUALITY_RECORD {
    uint16_t version; // ZNTX_SUBMODE_VERSION
    uint16_t length;  // ZNTX_SUBMODE_QUALITY_LENGTH
    uint32_t quality; // ZNTX_QUALITY_MIN to ZNTX_QUALITY_MAX
};

// Failures.
enum {
    ZNTX_ERR_ARGUMENT = -1, // a value or record the layer does not take
    ZNTX_ERR_STATE = -2,    // no document open, or one already open
    ZNTX_ERR_WRITE = -3,    // a page or the document could not be written
    ZNTX_ERR_MEMORY = -4,
};

// Settings for the next file: compression (ZNTX_COMPRESSION_*), the
// text-recognition language and its sub-value (recognition is not available
// here; the values are kept and not used). A document already open keeps the
// settings it was opened with.
__attribute__((visibility("default"))) int ZNTX_exmodeset(int compression, int language,
                                                          int subValue);
// The folder of the layer's own resources. Stored for later use; fails only
// for a null path.
__attribute__((visibility("default"))) int ZNTX_changepath(const char* path);
// Starts a new PDF that ZNTX_exclose writes to path. Fails while one is open
// (that one stays untouched). recognition is kept and not used.
__attribute__((visibility("default"))) int ZNTX_exopen(const char* path, int recognition,
                                                       int reserved);
// A sub-mode record for the open file (see above). Unknown ids, a wrong
// version or length, a PDF/A mode other than the two above and a quality
// outside 1 to 100 fail. The PDF/A mode is kept and not used yet.
__attribute__((visibility("default"))) int ZNTX_submodeset(int id, const void* record);
// Adds one page showing the image at its resolution. region: null for the
// whole image, else four int32 {0, 0, width, height} of a top-left part.
__attribute__((visibility("default"))) int ZNTX_spmake(const ZNTX_PAGE* page,
                                                       const int32_t* region);
// Joins the pages into the file at the path given to ZNTX_exopen and closes
// the document, also when that fails (nothing is then left at the path).
__attribute__((visibility("default"))) int ZNTX_exclose(int reserved);

// Function types, for callers that load the layer with dlopen.
typedef int (*ZNTX_exmodeset_t)(int, int, int);
typedef int (*ZNTX_changepath_t)(const char*);
typedef int (*ZNTX_exopen_t)(const char*, int, int);
typedef int (*ZNTX_submodeset_t)(int, const void*);
typedef int (*ZNTX_spmake_t)(const ZNTX_PAGE*, const int32_t*);
typedef int (*ZNTX_exclose_t)(int);
}

// The records' bytes are what the caller writes: pinned here.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are little-endian in memory");
static_assert(sizeof(ZNTX_SUBMODE_PDFA_RECORD) == ZNTX_SUBMODE_PDFA_LENGTH);
static_assert(offsetof(ZNTX_SUBMODE_PDFA_RECORD, length) == 2);
static_assert(offsetof(ZNTX_SUBMODE_PDFA_RECORD, mode) == 4);
static_assert(offsetof(ZNTX_SUBMODE_PDFA_RECORD, reserved1) == 8);
static_assert(offsetof(ZNTX_SUBMODE_PDFA_RECORD, reserved2) == 12);
static_assert(sizeof(ZNTX_SUBMODE_QUALITY_RECORD) == ZNTX_SUBMODE_QUALITY_LENGTH);
static_assert(offsetof(ZNTX_SUBMODE_QUALITY_RECORD, length) == 2);
static_assert(offsetof(ZNTX_SUBMODE_QUALITY_RECORD, quality) == 4);
