// TWAIN requests as any host might send them to DS_Entry: each input is a
// run of triplets with record bytes, optional host containers (with any
// item counts and indexes) and null records, served by the data source with
// fake scan operations. Settings are saved into a private temporary home.
#include "DataSource.h"
#include "KdTwainCustom.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

namespace {

struct Triplet {
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
};
constexpr Triplet kTriplets[] = {
    {DG_CONTROL, DAT_IDENTITY, MSG_GET},          {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS},
    {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS},      {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY}, {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GET},        {DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT}, {DG_CONTROL, DAT_CAPABILITY, MSG_RESET},
    {DG_CONTROL, DAT_CAPABILITY, MSG_SET},        {DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET},      {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET},
    {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET},      {DG_CONTROL, DAT_STATUS, MSG_GET},
    {DG_CONTROL, DAT_XFERGROUP, MSG_GET},         {DG_CONTROL, DAT_DEVICEEVENT, MSG_GET},
    {DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU},     {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT},  {DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET},         {DG_IMAGE, DAT_IMAGEINFO, MSG_GET},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET},        {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET},
    {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET},       {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET},
    {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT},
};
// Capabilities with handlers, and a few without.
constexpr TW_UINT16 kCaps[] = {
    CAP_XFERCOUNT,      CAP_FEEDERENABLED,     CAP_DUPLEXENABLED,     CAP_AUTOFEED,       CAP_AUTOSCAN,
    ICAP_XRESOLUTION,   ICAP_YRESOLUTION,      ICAP_THRESHOLD,        ICAP_BRIGHTNESS,    ICAP_CONTRAST,
    ICAP_PIXELTYPE,     ICAP_BITDEPTH,         ICAP_FRAMES,           ICAP_UNITS,         ICAP_PHYSICALWIDTH,
    ICAP_MINIMUMHEIGHT, ICAP_SUPPORTEDSIZES,   ICAP_AUTOMATICDESKEW,  CAP_SUPPORTEDCAPS,  ICAP_HALFTONES,
    CCAP_TVKM_PAPERSIZE, CCAP_TVKM_WINDOW,     CCAP_TVKM_SCANAREA_X,  CCAP_TVKM_SCANAREA_HEIGHT,
    CCAP_TVKM_GRAYCURVE, CCAP_TVKM_FAVORITENAME, CCAP_TVK_PRESCAN,    CCAP_TVK_BLANKSKIP, kBackBrightness,
    0x7777,             CCAP_TVK_EDGEEMPHASIS,
};

TW_UINT16 FakeDsmEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    // Up to n bytes into out.
    void Bytes(void* out, std::size_t n) {
        n = n < size ? n : size;
        std::memcpy(out, data, n);
        data += n;
        size -= n;
    }
};

constexpr std::size_t kContainerSize = 4096;

void PrivateHome() {
    static bool done = false;
    if (done) return;
    done = true;
    char pattern[] = "/tmp/kd-ds-fuzz-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root) return;
    const std::string base = root;
    std::error_code ec;
    for (const char* sub : {"/config", "/run"}) std::filesystem::create_directories(base + sub, ec);
    setenv("HOME", root, 1);
    setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (base + "/run").c_str(), 1);
}

} // namespace

// Each call: triplet index, flags (bit 0 null record; bit 1 a host container
// for DAT_CAPABILITY, bits 2-3 its kind; bit 4 the capability id from the
// list), a byte count and the record's bytes, then for a container a byte
// count and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PrivateHome();
    TW_IDENTITY host{};
    host.ProtocolMajor = 2;
    std::strcpy(host.ProductName, "Fuzz Host");
    Reader in{data, size};
    for (int call = 0; call < 48 && in.size > 0; ++call) {
        const Triplet t = kTriplets[in.Byte() % std::size(kTriplets)];
        const std::uint8_t flags = in.Byte();
        alignas(16) std::uint8_t record[1024] = {};
        in.Bytes(record, in.Byte());
        TW_HANDLE container = nullptr;
        if (t.dat == DAT_CAPABILITY) {
            auto* cap = reinterpret_cast<TW_CAPABILITY*>(record);
            if (flags & 0x10) cap->Cap = kCaps[in.Byte() % std::size(kCaps)];
            cap->hContainer = nullptr;
            if (flags & 2) {
                constexpr TW_UINT16 kinds[] = {TWON_ONEVALUE, TWON_RANGE, TWON_ARRAY, TWON_ENUMERATION};
                cap->ConType = kinds[(flags >> 2) & 3];
                std::uint8_t bytes[256] = {};
                const std::size_t given = in.Byte();
                in.Bytes(bytes, given);
                // Counts and indexes take any value. The handle cannot tell
                // its size, so the memory holds what the record claims up
                // to the most items a list may claim: a lie beyond that is
                // the data source's to refuse before reading.
                TW_UINT32 claimed = 0;
                std::memcpy(&claimed, bytes + 2, sizeof claimed);
                const bool list = cap->ConType == TWON_ARRAY || cap->ConType == TWON_ENUMERATION;
                const std::size_t items = list ? std::min<TW_UINT32>(claimed, kMaxNativeListItems) : 1;
                const std::size_t size = std::max(kContainerSize, kTwEnumerationItemListOffset + items * 256);
                container = std::calloc(size, 1);
                std::memcpy(container, bytes, sizeof bytes);
                cap->hContainer = container;
            }
        } else if (t.dat == DAT_ENTRYPOINT) {
            TW_ENTRYPOINT points{};
            points.Size = kTwEntryPointSize;
            points.DSM_Entry = &FakeDsmEntry;
            std::memcpy(record, &points, sizeof points);
        } else if (t.dat == DAT_USERINTERFACE) {
            reinterpret_cast<TW_USERINTERFACE*>(record)->hParent = nullptr;
        } else if (t.dat == DAT_PASSTHRU) {
            auto* pass = reinterpret_cast<TW_PASSTHRU*>(record);
            pass->pCommand = nullptr;
            pass->pData = nullptr;
        } else if (t.dat == DAT_IMAGEMEMXFER) {
            reinterpret_cast<TW_IMAGEMEMXFER*>(record)->Memory.TheMem = nullptr;
        }
        const TW_UINT16 rc = CDataSource::Entry(&host, t.dg, t.dat, t.msg, (flags & 1) ? nullptr : record);
        if (t.dat == DAT_CAPABILITY && !(flags & 1)) {
            TW_HANDLE answered = reinterpret_cast<TW_CAPABILITY*>(record)->hContainer;
            if (rc == TWRC_SUCCESS && answered && answered != container) std::free(answered);
        }
        std::free(container);
    }
    CDataSource::Entry(&host, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    return 0;
}
