// Text-orientation detection of the platform layer, on Tesseract's
// orientation data. Built as its own shared object (libKdOrientation.so);
// the image library loads it with dlopen at first use, so the library keeps
// no link dependency on Tesseract.
//
// Use: ZNTX_changepath (optional), ZNTX_exmodeset, ZNTX_exopen, then
// ZNTD_spdetect for each page, and ZNTX_exclose. One user at a time.
//
// Results: 0 success; a positive value when a page holds too little text to
// decide; negative values for failures, ZNTD_ERR_NOMEMORY (and the two other
// memory codes) when memory runs out.
#pragma once

#include <cstdint>

extern "C" {

// The page handed to ZNTD_spdetect.
struct ZNTD_IMAGE {
    const uint8_t* data; // first byte of the top row
    int32_t rowBytes;    // bytes from one row to the next
    int32_t width;       // pixels, 1 to ZNTD_MAX_SIDE
    int32_t height;      // rows, 1 to ZNTD_MAX_SIDE
    int32_t xResolution; // dots per inch (300 assumed when not positive)
    int32_t yResolution;
    int32_t kind; // ZNTD_KIND_*
    int32_t reserved1;
    int32_t reserved2;
};

// Pixel kinds of a page.
enum {
    ZNTD_KIND_BILEVEL = 33, // 1 bit a pixel, most significant bit first, 1 = black
    ZNTD_KIND_GRAY = 8,     // 8 bits a pixel
    ZNTD_KIND_COLOUR = 136, // three 8-bit samples a pixel
};

enum {
    ZNTD_MAX_SIDE = 10200,
    ZNTD_UNDECIDED = 1,        // too little text on the page
    ZNTD_ERR_NOMEMORY = -1902, // also -1002 and -1904 mean memory
    ZNTD_ERR_NOMEMORY_2 = -1002,
    ZNTD_ERR_NOMEMORY_3 = -1904,
    ZNTD_ERR_ARGUMENT = -1001, // bad mode, image or result pointer
    ZNTD_ERR_NOT_OPEN = -1003, // detection before ZNTX_exopen
    ZNTD_ERR_NO_DATA = -1101,  // the orientation data did not load
    ZNTD_ERR_FAILED = -1102,   // the detector failed on the page
};

// The folder of the recognition data; null or empty means the default.
// Takes effect at the next ZNTX_exopen.
__attribute__((visibility("default"))) int ZNTX_changepath(const char* path);
// mode must be 1; the language and its code page are kept (orientation does
// not depend on them).
__attribute__((visibility("default"))) int ZNTX_exmodeset(int mode, int language, int codePage);
// (0, 6, 0): readies orientation-only detection. The loaded data is kept
// between opens while the folder stays the same.
__attribute__((visibility("default"))) int ZNTX_exopen(int reserved1, int mode, int reserved2);
// Writes the clockwise angle (0, 90, 180 or 270) by which the page's text is
// turned from upright into *degrees; leaves it unchanged unless it returns 0.
// work: two zero words, or null.
__attribute__((visibility("default"))) int ZNTD_spdetect(const ZNTD_IMAGE* image, int* degrees,
                                                         void* work);
// Ends the use opened by ZNTX_exopen.
__attribute__((visibility("default"))) int ZNTX_exclose(int reserved);

// Function types, for callers that load the layer with dlopen.
// (Named apart from the PDF layer's types: the two layers share call names
// but not every signature, so no file includes both headers.)
typedef int (*ZNTO_changepath_t)(const char*);
typedef int (*ZNTO_exmodeset_t)(int, int, int);
typedef int (*ZNTO_exopen_t)(int, int, int);
typedef int (*ZNTO_spdetect_t)(const ZNTD_IMAGE*, int*, void*);
typedef int (*ZNTO_exclose_t)(int);

} // extern "C"
