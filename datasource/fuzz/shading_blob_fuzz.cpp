// Feeds any bytes to the scanner object as a shading blob, as a host's
// pass-through command may: a refused blob keeps the images held, an
// accepted one reads back byte for byte.
#include "TavrKd.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CTavrKd scanner(nullptr);
    // A copy of exactly the input's size, so the sanitiser sees any read past it.
    const std::vector<std::uint8_t> blob(data, data + size);
    std::vector<std::uint8_t> before, after;
    scanner.GetShadingData(&before);
    if (scanner.SetShadingData(blob.data(), blob.size()) == kderr::kSuccess) {
        scanner.GetShadingData(&after);
        if (after.size() > blob.size()) __builtin_trap();
    } else {
        scanner.GetShadingData(&after);
        if (after != before) __builtin_trap();
    }
    return 0;
}
