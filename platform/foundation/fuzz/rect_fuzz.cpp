// Stored window frames are outside data: whatever the text, the reader
// answers a finite rectangle or none, and what it reads writes back to a
// text that reads as the same rectangle.
#include "foundation/Geometry.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto rect = kdf::rectFromString(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!rect) return 0;
    for (double v : {rect->x, rect->y, rect->width, rect->height})
        if (!std::isfinite(v)) std::abort();
    if (kdf::rectFromString(kdf::stringFromRect(*rect)) != rect) std::abort();
    return 0;
}
