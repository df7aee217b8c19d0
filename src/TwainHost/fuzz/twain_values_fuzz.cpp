// What a data source hands the host: string records and one-value
// containers of any type, read the way the handler reads them; and text
// written into a TW_STR64, which must read back unchanged when accepted.
#include "TV_TWAINCommon.h"
#include "TV_TWAINHandler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TW_STR32 s32{};
    TW_STR64 s64{};
    std::memcpy(s32, data, std::min(size, sizeof s32));
    std::memcpy(s64, data, std::min(size, sizeof s64));
    (void)TV_TWAINCommon::nsDataFromStr32(s32);
    (void)TV_TWAINCommon::nsStrFromStr64(s64);

    const std::string text(reinterpret_cast<const char*>(data), size);
    TW_STR64 written{};
    if (TV_TWAINCommon::str64FromNSStr(written, text) && !text.empty()) {
        if (TV_TWAINCommon::nsStrFromStr64(written) != text) std::abort();
    }

    // A container as a source may answer it: ConType and item type from the
    // input, the block as large as the largest item (the manager's memory
    // API does not tell a block's size), asked for with every type.
    if (size >= 4) {
        TW_CAPABILITY cap{};
        cap.ConType = static_cast<TW_UINT16>(data[0] | (data[1] << 8));
        std::uint8_t out[260];
        for (TW_UINT16 asked = 0; asked <= 16; ++asked) {
            const std::size_t blockSize = kTwOneValueItemOffset + 256;
            cap.hContainer = std::calloc(blockSize, 1);
            std::memcpy(cap.hContainer, data + 2, std::min(size - 2, blockSize));
            const std::size_t outSize = data[2] % (sizeof out + 1);
            const TW_INT16 rc = TV_TWAINHandler::getOneValue(cap, asked, nullptr, out, outSize, true);
            if (cap.hContainer != nullptr || (rc != 0 && rc != TV_TWAINHandler::kParamErr)) std::abort();
        }
    }
    return 0;
}
