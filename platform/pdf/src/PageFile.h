// One page image written as a one-page PDF file.
#pragma once

#include "ZntxPdf.h"

#include <string>

namespace kdpdf {

struct PageSettings {
    int compression = ZNTX_COMPRESSION_NONE; // ZNTX_COMPRESSION_*
    int quality = 75;                        // JPEG quality at ZNTX_COMPRESSION_HIGH
};

// Writes the top-left width x height pixels of the page (checked by the
// caller against the page) to path: bilevel as CCITT Group 4, gray and colour
// lossless with Flate or as JPEG. Answers 0 or a ZNTX_ERR_* value; a file
// that could not be written whole is removed.
int writePageFile(const ZNTX_PAGE& page, int32_t width, int32_t height,
                  const PageSettings& settings, const std::string& path);

} // namespace kdpdf
