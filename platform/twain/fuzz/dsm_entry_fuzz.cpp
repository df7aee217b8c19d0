// Host-side triplets as any host might send them: each input is a run of
// DSM_Entry calls with chosen identities, triplets and record bytes. No data
// source is found (the search folder does not exist), so only the manager's
// own handling is exercised.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "source_manager.h"

namespace {

kd::twain::SourceManager* gManager = nullptr;

TW_UINT16 Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                TW_MEMREF data) {
    return gManager->Entry(origin, dest, dg, dat, msg, data);
}

constexpr TW_UINT16 kDats[] = {DAT_NULL,   DAT_CAPABILITY,    DAT_IDENTITY, DAT_PARENT,     DAT_STATUS,
                               DAT_USERINTERFACE, DAT_CALLBACK, DAT_CALLBACK2, DAT_ENTRYPOINT, DAT_PASSTHRU,
                               0x7777};
constexpr TW_UINT16 kMsgs[] = {MSG_GET,        MSG_SET,       MSG_GETFIRST,    MSG_GETNEXT,
                               MSG_GETDEFAULT, MSG_OPENDSM,   MSG_CLOSEDSM,    MSG_OPENDS,
                               MSG_CLOSEDS,    MSG_USERSELECT, MSG_REGISTER_CALLBACK, MSG_INVOKE_CALLBACK,
                               MSG_XFERREADY,  MSG_ENABLEDS,  0x7777};

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

}  // namespace

// Each call: selector byte (bits 0-1 origin, 2-3 destination: none or one of
// three identities; bit 4 DG_IMAGE; bit 5 a data record; bit 6 the bytes go
// into the origin identity instead of the record), DAT index, MSG index,
// byte count, bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kd::twain::SourceManager manager(Entry, {"/nonexistent/kd-twain-fuzz"});
    gManager = &manager;
    TW_IDENTITY identities[3] = {};
    for (TW_IDENTITY& id : identities) id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    alignas(16) std::uint8_t record[512];
    Reader in{data, size};
    for (int call = 0; call < 64 && in.size > 0; ++call) {
        const std::uint8_t select = in.Byte();
        const TW_UINT16 dat = kDats[in.Byte() % std::size(kDats)];
        const TW_UINT16 msg = kMsgs[in.Byte() % std::size(kMsgs)];
        const std::uint8_t count = in.Byte();
        pTW_IDENTITY origin = (select & 3) != 0 ? &identities[(select & 3) - 1] : nullptr;
        pTW_IDENTITY dest = ((select >> 2) & 3) != 0 ? &identities[((select >> 2) & 3) - 1] : nullptr;
        std::memset(record, 0, sizeof record);
        std::uint8_t* target = (select & 0x40) != 0 && origin != nullptr ? reinterpret_cast<std::uint8_t*>(origin)
                                                                        : record;
        const std::size_t room = target == record ? sizeof record : sizeof(TW_IDENTITY);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t byte = in.Byte();
            if (i < room) target[i] = byte;
        }
        const TW_UINT32 dg = (select & 0x10) != 0 ? DG_IMAGE : DG_CONTROL;
        manager.Entry(origin, dest, dg, dat, msg, (select & 0x20) != 0 ? record : nullptr);
    }
    gManager = nullptr;
    return 0;
}
