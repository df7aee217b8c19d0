// Pages of real English text for the orientation tests and benchmark, drawn
// with Leptonica's built-in bitmap fonts: black ink on white paper.
#pragma once

#include <cstdint>
#include <vector>

namespace kdtest {

struct GrayPage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels; // width bytes a row, rows top to bottom
};

// Paragraphs of text filling the page inside a margin of width / 12, in
// Leptonica's font of that point size (4 to 20). An empty page when the
// font cannot be made.
GrayPage TextPageGray(int32_t width, int32_t height, int fontSize = 16);

} // namespace kdtest
