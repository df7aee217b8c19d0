// Feeds arbitrary "CapData" records (as read from a preferences file or a
// favourite) to the settings reader, then writes the pool back out. Every
// value the reader leaves must lie in its capability's domain.
#include "CapData.h"
#include "CapTables.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto pool = MakeKdCapPool();
    if (!pool) return 0;
    const kdf::Bytes record(data, data + size);
    UnflattenCapabilities(pool.get(), record, 1);
    for (const auto& [id, cap] : pool->Capabilities())
        if (!CapValueAllowed(id, *cap)) std::abort();
    TW_INT32 version = 0;
    (void)FlattenCapabilities(pool.get(), &version);
    return 0;
}
