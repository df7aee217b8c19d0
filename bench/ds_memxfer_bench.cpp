// Memory transfer of a finished A4 300 dpi colour page through DS_Entry in
// 1 MiB strips, against a plain memcpy of the same bytes into the same
// strip measured in the same rounds (x_memcpy; the goal is 1.3 at most).
// The page is scanned once from the virtual KD-720 and held in the scanner
// object's image list (protected, so every round reads it again). Each round
// is what a host does for a page: the image information, the strips until
// TWRC_XFERDONE and MSG_ENDXFER; the benchmark's data source then offers
// the held page again as the next one.
#include "CapHelpers.h"
#include "DataSource.h"
#include "TavrKd.h"
#include "TavrKdScanDS.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class BenchScanDS : public CTavrKdScanDS {
public:
    std::string OwnBundleFolder() const override { return KD720_BUNDLE; }
    // After the page's end of transfer: the held page, rewound, is the next
    // pending one (state 6), as a scanner with another sheet would offer it.
    void OfferHeldPageAgain() {
        Scanner()->ProtectImageBuffer(0); // rewinds the page
        Scanner()->ProtectImageBuffer(1);
        state_ = kDsXferReady;
        pending_ = true;
        pageReady_ = true;
        xferDone_ = false;
    }
};

constexpr TW_UINT32 kStrip = 1u << 20;

TW_IDENTITY gHost{};

// The manager's side: callbacks are taken, memory comes from the heap.
TW_UINT16 Manager(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) { return TWRC_SUCCESS; }
TW_HANDLE Allocate(TW_UINT32 size) { return std::calloc(size, 1); }
void Free(TW_HANDLE handle) { std::free(handle); }
TW_MEMREF Lock(TW_HANDLE handle) { return handle; }
void Unlock(TW_HANDLE) {}

TW_UINT16 Entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return DS_Entry(&gHost, dg, dat, msg, data);
}

struct Session {
    bool ok = false;
    std::size_t pageBytes = 0;
    BenchScanDS* ds = nullptr;

    Session() {
        // Settings and logs of this run stay in a folder of its own.
        char pattern[] = "/tmp/kd-memxfer-XXXXXX";
        if (!mkdtemp(pattern)) return;
        home = pattern;
        setenv("HOME", pattern, 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("KD_VIRTUAL_SCANNER", "paper=a4;sheets=1;colour=1;content=photo", 1);
        gHost.Id = 1;
        gHost.ProtocolMajor = 2;
        gHost.SupportedGroups = DG_CONTROL | DG_IMAGE;
        std::strcpy(gHost.ProductName, "Bench");
        TW_ENTRYPOINT manager{sizeof(TW_ENTRYPOINT), &Manager, &Allocate, &Free, &Lock, &Unlock};
        Entry(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &manager);
        TW_IDENTITY source{};
        if (Entry(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) != TWRC_SUCCESS) { Fail("open"); return; }
        ds = dynamic_cast<BenchScanDS*>(CDataSource::CurrentDataSource());
        if (!ds) { Fail("no data source object"); return; }
        SetCapUIntValue(ds->Pool(), ICAP_PIXELTYPE, TWPT_RGB);
        SetCapFloatValue(ds->Pool(), ICAP_XRESOLUTION, 300);
        SetCapFloatValue(ds->Pool(), ICAP_YRESOLUTION, 300);
        TW_USERINTERFACE ui{};
        if (Entry(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) { Fail("enable"); return; }
        TW_IMAGEINFO info{};
        if (Entry(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) { Fail("image information"); return; }
        pageBytes = std::size_t(info.ImageWidth) * 3 * std::size_t(info.ImageLength);
        ds->Scanner()->ProtectImageBuffer(1);
        ok = true;
    }
    void Fail(const char* step) {
        TW_STATUS status{};
        Entry(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        std::fprintf(stderr, "ds_memxfer_bench: %s failed (condition %u)\n", step, status.ConditionCode);
    }
    ~Session() {
        if (ds) {
            TW_PENDINGXFERS pending{};
            Entry(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
            TW_USERINTERFACE ui{};
            Entry(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
            Entry(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
        }
        std::error_code ec;
        if (!home.empty()) fs::remove_all(home, ec);
    }
    // One page in strips as a host takes it; nullptr, or the step that failed.
    const char* Transfer(std::vector<unsigned char>& strip) {
        TW_IMAGEINFO info{};
        if (Entry(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) return "image information";
        std::size_t written = 0;
        for (;;) {
            TW_IMAGEMEMXFER xfer{};
            xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            xfer.Memory.Length = kStrip;
            xfer.Memory.TheMem = strip.data();
            const TW_UINT16 rc = Entry(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            benchmark::DoNotOptimize(strip.data());
            written += xfer.BytesWritten;
            if (rc == TWRC_XFERDONE) break;
            if (rc != TWRC_SUCCESS) return "a strip";
        }
        if (written != pageBytes) return "the page's size";
        TW_PENDINGXFERS pending{};
        if (Entry(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) != TWRC_SUCCESS)
            return "the end of transfer";
        ds->OfferHeldPageAgain();
        return nullptr;
    }

    fs::path home;
};

Session& TheSession() {
    static Session session;
    return session;
}

void BM_MemoryTransferA4Colour(benchmark::State& state) {
    Session& s = TheSession();
    if (!s.ok) {
        state.SkipWithError("the page could not be scanned");
        return;
    }
    std::vector<unsigned char> strip(kStrip);
    // The yardstick: the page's bytes from memory by memcpy into the strip.
    const std::vector<unsigned char> page(s.pageBytes, 0x80);
    double copySeconds = 0, transferSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const char* step = s.Transfer(strip);
        transferSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (step != nullptr) {
            std::fprintf(stderr, "ds_memxfer_bench: %s failed\n", step);
            state.SkipWithError("a transfer failed");
            return;
        }
        state.PauseTiming();
        const auto t0 = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < page.size(); at += kStrip) {
            std::memcpy(strip.data(), page.data() + at, std::min<std::size_t>(kStrip, page.size() - at));
            benchmark::DoNotOptimize(strip.data());
        }
        copySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.pageBytes));
    if (copySeconds > 0) state.counters["x_memcpy"] = transferSeconds / copySeconds;
}
BENCHMARK(BM_MemoryTransferA4Colour)->Unit(benchmark::kMillisecond);

} // namespace

CDataSource* CreateDataSourceObject() { return new BenchScanDS; }
BENCHMARK_MAIN();
