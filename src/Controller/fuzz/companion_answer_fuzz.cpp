// The companion's start-up answer and chosen-scanner record: any bytes.
#include "AppMainCntlrAE.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (auto answer = companion_link::decodeStartAnswer(data, size)) {
        // Whatever was decoded holds only the identity keys.
        if (answer->identity.size() > 5) __builtin_trap();
    }
    (void)companion_link::decodeCompanionDictionary(data, size);
    return 0;
}
