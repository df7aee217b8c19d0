// What any host may send the scanning data source: pass-through commands
// with their sizes and data, memory transfers into buffers of any length,
// file transfers with any name and format, image information and the end of
// transfers, served by KD720's scan session against the virtual scanner.
// Everything lives in a private temporary home.
#include "DataSource.h"
#include "TavrKdScanDS.h"

#include "foundation/DataObjectRegistry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string gRoot;

class FuzzScanDS : public CTavrKdScanDS {
public:
    std::string OwnBundleFolder() const override { return gRoot + "/KD720"; }
};

struct Triplet {
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
};
constexpr Triplet kTriplets[] = {
    {DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU},   {DG_IMAGE, DAT_IMAGEINFO, MSG_GET},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET},      {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET},   {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET},  {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS}, {DG_CONTROL, DAT_DEVICEEVENT, MSG_GET},
};
// The most data bytes a pass-through command reads or writes.
constexpr std::size_t kLongestPassThruData = 16;
constexpr TW_UINT32 kCommands[] = {0x41625271, 0x47744253, 0x47744449, 0x47745364, 0x53745364, 0x4774584C,
                                   0x5374584C, 0x52745043, 0x52745243, 0x53745343, 0x5374534E, 0x12345678};

TW_UINT16 FakeDsmEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}
TW_HANDLE Allocate(TW_UINT32 size) { return std::calloc(size, 1); }
void Free(TW_HANDLE handle) { std::free(handle); }
TW_MEMREF Lock(TW_HANDLE handle) { return handle; }
void Unlock(TW_HANDLE) {}

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    void Bytes(void* out, std::size_t n) {
        n = n < size ? n : size;
        if (n == 0) return;
        std::memcpy(out, data, n);
        data += n;
        size -= n;
    }
};

// A private home with the bundle's Info.plist naming the virtual scanner,
// which scans small sheets.
void Setup() {
    if (!gRoot.empty()) return;
    char pattern[] = "/tmp/kd-scan-fuzz-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root) std::abort();
    gRoot = root;
    std::error_code ec;
    for (const char* sub : {"/config", "/run", "/out", "/KD720/Resources"})
        std::filesystem::create_directories(gRoot + sub, ec);
    std::ofstream(gRoot + "/KD720/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>jp.co.tavrolek-sys.kd720</string>"
           "<key>usb</key><dict><key>IOUSBDevice</key><array><dict><key>vendor</key><string>0x1209</string>"
           "<key>product</key><string>0x0001</string></dict></array></dict></dict></plist>\n";
    setenv("HOME", root, 1);
    setenv("XDG_CONFIG_HOME", (gRoot + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (gRoot + "/run").c_str(), 1);
    setenv("KD_VIRTUAL_SCANNER", "paper=card;sheets=10000", 1);
}

} // namespace

CDataSource* CreateDataSourceObject() { return new FuzzScanDS; }

// Each call: triplet index, flags (bit 0 null record), then per triplet:
// pass-through: command index, command bytes, data bytes (32 bits), data,
// a byte whose bit 0 makes the data pointer null;
// memory transfer: buffer length (two bytes), handle or pointer;
// file transfer: format, name bytes (not always ended).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Setup();
    TW_IDENTITY host{};
    host.ProtocolMajor = 2;
    std::strcpy(host.ProductName, "Fuzz Host");
    TW_ENTRYPOINT points{sizeof(TW_ENTRYPOINT), &FakeDsmEntry, &Allocate, &Free, &Lock, &Unlock};
    CDataSource::Entry(&host, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points);
    TW_IDENTITY source{};
    if (CDataSource::Entry(&host, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) != TWRC_SUCCESS) return 0;
    TW_USERINTERFACE ui{};
    CDataSource::Entry(&host, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    Reader in{data, size};
    for (int call = 0; call < 24 && in.size > 0; ++call) {
        const Triplet t = kTriplets[in.Byte() % std::size(kTriplets)];
        const bool null = in.Byte() & 1;
        alignas(16) std::uint8_t record[512] = {};
        std::vector<std::uint8_t> buffer;
        TW_UINT32 command = 0;
        if (t.dat == DAT_PASSTHRU) {
            auto* pass = reinterpret_cast<TW_PASSTHRU*>(record);
            command = kCommands[in.Byte() % std::size(kCommands)];
            pass->pCommand = &command;
            pass->CommandBytes = in.Byte() % 9;
            // Any count, and data bytes of any value (the shading handles
            // included); the buffer holds at least what a command reads.
            TW_UINT32 dataBytes = 0;
            in.Bytes(&dataBytes, sizeof dataBytes);
            pass->DataBytes = dataBytes;
            buffer.resize(std::max<std::size_t>(kLongestPassThruData, std::min<TW_UINT32>(dataBytes, 64)));
            in.Bytes(buffer.data(), std::min<std::size_t>(buffer.size(), dataBytes));
            pass->pData = (in.Byte() & 1) ? nullptr : buffer.data();
        } else if (t.dat == DAT_IMAGEMEMXFER) {
            auto* xfer = reinterpret_cast<TW_IMAGEMEMXFER*>(record);
            const TW_UINT32 length = (TW_UINT32(in.Byte()) << 8 | in.Byte()) * 8;
            buffer.resize(length);
            xfer->Memory.Flags = (in.Byte() & 1) ? TWMF_HANDLE : TWMF_POINTER;
            xfer->Memory.Length = length;
            xfer->Memory.TheMem = buffer.empty() ? nullptr : buffer.data();
        } else if (t.dat == DAT_IMAGEFILEXFER) {
            auto* file = reinterpret_cast<TW_SETUPFILEXFER*>(record);
            file->Format = in.Byte() % 16;
            const std::string folder = gRoot + "/out/";
            std::memcpy(file->FileName, folder.data(), folder.size());
            in.Bytes(file->FileName + folder.size(), in.Byte() % (sizeof file->FileName - folder.size() + 1));
        }
        const TW_UINT16 rc = CDataSource::Entry(&host, t.dg, t.dat, t.msg, null ? nullptr : record);
        // The host owns what it was handed: a shading object is released.
        if (t.dat == DAT_PASSTHRU && command == 0x47745364 && rc == TWRC_SUCCESS) {
            kdf::DataObjectHandle handle = kdf::kNoDataObject;
            std::memcpy(&handle, buffer.data(), sizeof handle);
            kdf::DataObjectRegistry::release(handle);
        }
        // A native page's handle is the host's to free.
        if (t.dat == DAT_IMAGENATIVEXFER && rc == TWRC_XFERDONE && !null) {
            TW_HANDLE page = nullptr;
            std::memcpy(&page, record, sizeof page);
            Free(page);
        }
    }
    CDataSource::Entry(&host, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(gRoot + "/out", ec))
        std::filesystem::remove_all(entry.path(), ec);
    return 0;
}
