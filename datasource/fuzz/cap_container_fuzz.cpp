// Offers arbitrary host container records to the data source's
// capabilities. Input: [capability selector][container kind][record...].
#include "CapTables.h"

#include <cstdint>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    auto pool = MakeKdCapPool();
    if (!pool || pool->Capabilities().empty()) return 0;
    auto it = pool->Capabilities().begin();
    std::advance(it, data[0] % pool->Capabilities().size());
    CCapability* cap = it->second.get();
    const TW_UINT16 containerType = static_cast<TW_UINT16>(TWON_ARRAY + data[1] % 5); // 3..7
    cap->AcceptsNativeRecord(containerType, data + 2, size - 2);
    CapBytes record;
    cap->BuildNativeRecord(record);
    return 0;
}
