// The PDF writer of the platform layer: one PDF open at a time, pages added
// one by one, the file written when it is closed. Built as its own shared
// object (libKdPdf.so); the image library loads it with dlopen at first use,
// so neither side has a link dependency on the other.
//
// Every call returns 0 on success and a negative value on failure.
#pragma once

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
};

// Settings for the next file: compression (2: compress the page streams,
// 0: none), the text-recognition language and its sub-value (recognition is
// not available here; the values are kept and not used).
__attribute__((visibility("default"))) int ZNTX_exmodeset(int compression, int language,
                                                          int subValue);
// Starts a new PDF that ZNTX_exclose writes to path. Fails while one is open.
__attribute__((visibility("default"))) int ZNTX_exopen(const char* path, int recognition,
                                                       int reserved);
// A sub-mode record for the open file (see above). Unknown ids fail.
__attribute__((visibility("default"))) int ZNTX_submodeset(int id, const void* record);
// Adds one page showing the image at its resolution. region: null for the
// whole image, else four int32 {0, 0, width, height} of a top-left part.
__attribute__((visibility("default"))) int ZNTX_spmake(const ZNTX_PAGE* page,
                                                       const int32_t* region);
// Writes the open PDF to its path and closes it.
__attribute__((visibility("default"))) int ZNTX_exclose(int reserved);

// Function types, for callers that load the layer with dlopen.
typedef int (*ZNTX_exmodeset_t)(int, int, int);
typedef int (*ZNTX_exopen_t)(const char*, int, int);
typedef int (*ZNTX_submodeset_t)(int, const void*);
typedef int (*ZNTX_spmake_t)(const ZNTX_PAGE*, const int32_t*);
typedef int (*ZNTX_exclose_t)(int);
}
