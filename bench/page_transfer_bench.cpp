// The page transfer of the device controller: a 300 dpi colour A4 page
// (2480 x 3508) from a source answering in memory, through the whole loop
// (worker thread, every call on the main loop, raw file, preview), against
// the work it cannot avoid, measured in the same rounds: writing the same
// bytes to a file in the same strips plus the scaler alone over the page.
//
// Counters: pages_per_s (the image chain's goal of 400 duplex sheets a
// minute needs 13.3) and x_baseline, the loop's time over that baseline
// (the goal is 1.3 at most).
#include "FG_Zoom.h"
#include "InputModel.h"
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "QuietDeviceDelegate.h"
#include "TV_TWAINHandler.h"

#include <foundation/RunLoop.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr TW_INT32 kWidth = 2480;
constexpr TW_INT32 kLength = 3508;
constexpr std::size_t kRowBytes = std::size_t(kWidth) * 3;
// The strip size KD720.ds prefers for such a page.
constexpr std::size_t kStripRows = 0xE00000 / kRowBytes;
constexpr QlrPreviewSize kBitmapLimit{512, 512};
constexpr QlrPreviewSize kDisplayLimit{400, 400};

std::vector<std::uint8_t> gPage;
std::size_t gRowsSent = 0;
TW_UINT16 gPending = 0;

// A source that answers every call at once from memory.
TW_UINT16 memorySource(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    switch (dat) {
    case DAT_IDENTITY:
        if (msg == MSG_GETNEXT) return TWRC_ENDOFLIST;
        if (msg == MSG_GETFIRST) fillIdentity(*static_cast<pTW_IDENTITY>(data), "Bench Maker", "Bench Family", "Bench Product");
        return TWRC_SUCCESS;
    case DAT_PASSTHRU: return TWRC_FAILURE;
    case DAT_IMAGEINFO: {
        auto* info = static_cast<pTW_IMAGEINFO>(data);
        info->XResolution = {300, 0};
        info->YResolution = {300, 0};
        info->ImageWidth = kWidth;
        info->ImageLength = kLength;
        info->SamplesPerPixel = 3;
        info->BitsPerSample[0] = 8;
        info->BitsPerPixel = 24;
        info->PixelType = TWPT_RGB;
        gRowsSent = 0;
        return TWRC_SUCCESS;
    }
    case DAT_SETUPMEMXFER: {
        auto* setup = static_cast<pTW_SETUPMEMXFER>(data);
        setup->MinBufSize = 32768;
        setup->MaxBufSize = TW_UINT32(kStripRows * kRowBytes);
        setup->Preferred = setup->MaxBufSize;
        return TWRC_SUCCESS;
    }
    case DAT_PENDINGXFERS:
        if (msg == MSG_GET) gPending = 1;
        else gPending = 0;
        static_cast<pTW_PENDINGXFERS>(data)->Count = gPending;
        return TWRC_SUCCESS;
    case DAT_IMAGEMEMXFER: {
        auto* x = static_cast<pTW_IMAGEMEMXFER>(data);
        const std::size_t rows = std::min<std::size_t>(x->Memory.Length / kRowBytes, std::size_t(kLength) - gRowsSent);
        std::memcpy(x->Memory.TheMem, gPage.data() + gRowsSent * kRowBytes, rows * kRowBytes);
        x->Compression = 0; // uncompressed
        x->BytesPerRow = TW_UINT32(kRowBytes);
        x->Columns = TW_UINT32(kWidth);
        x->Rows = TW_UINT32(rows);
        x->XOffset = 0;
        x->YOffset = TW_UINT32(gRowsSent);
        x->BytesWritten = TW_UINT32(rows * kRowBytes);
        gRowsSent += rows;
        return gRowsSent == std::size_t(kLength) ? TWRC_XFERDONE : TWRC_SUCCESS;
    }
    default: return TWRC_SUCCESS;
    }
}

class BenchDelegate : public QuietDeviceDelegate {
public:
    std::atomic<int> endState{0};
    std::atomic<int> pages{0};
    void setAppStateNum(int s) override { endState = s; }
    QlrPreviewSize previewSizeByMainWindow(bool) override { return kDisplayLimit; }
    QlrPreviewSize previewSizeWithLimitationForIKImageBrowserMemLeak(bool) override { return kBitmapLimit; }
    void addImgInfo(std::shared_ptr<ImageInfoModel>) override { ++pages; }
};

// What the loop cannot avoid: the page's strips written to a file and the
// scaler over every row.
double baselineSeconds(const std::string& path) {
    const auto t0 = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int bw = kWidth, bh = kLength;
    QlrDeviceCntlr::sizeForPreImg(&bw, &bh, kBitmapLimit);
    std::vector<std::uint8_t> bitmap(std::size_t(bw) * 3 * std::size_t(bh));
    FG_Zoom zoom;
    zoom.Open(bw, bh, kWidth, kLength, 24, 2);
    int out = 0;
    for (std::size_t row = 0; row < std::size_t(kLength); row += kStripRows) {
        const std::size_t rows = std::min(kStripRows, std::size_t(kLength) - row);
        const std::uint8_t* strip = gPage.data() + row * kRowBytes;
        if (::write(fd, strip, rows * kRowBytes) < 0) std::abort();
        for (std::size_t r = 0; r < rows; ++r) {
            zoom.Send(strip + r * kRowBytes);
            while (out < bh && zoom.ReadyLines() > 0 && zoom.Read(bitmap.data() + std::size_t(out) * std::size_t(bw) * 3) == 0)
                ++out;
        }
    }
    zoom.Close();
    ::close(fd);
    benchmark::DoNotOptimize(bitmap.data());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_ColourA4PageThroughTheLoop(benchmark::State& state) {
    char folder[] = "/tmp/page_transfer_bench_XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    ::setenv("TMPDIR", folder, 1);
    QlrUtilsMethod::createTmpFolder();
    const std::string baselineFile = std::string(folder) + "/baseline";

    gPage.resize(kRowBytes * std::size_t(kLength));
    for (std::size_t i = 0; i < gPage.size(); ++i) gPage[i] = std::uint8_t((i * 2654435761u) >> 13);

    setCurrentIdentity("Bench Maker", "Bench Family", "Bench Product");
    TV_TWAINHandler::setDSMEntry(memorySource);
    BenchDelegate delegate;
    QlrDeviceCntlr::setApplicationDelegate(&delegate);
    QlrDeviceCntlr& cntlr = *QlrDeviceCntlr::sharedDeviceCntlr();
    auto model = std::make_shared<InputModel>();

    double loop = 0, baseline = 0;
    for (auto _ : state) {
        state.PauseTiming();
        cntlr.openDS(model, false, true);
        cntlr.resetTmpFileIndex();
        delegate.endState = 0;
        state.ResumeTiming();

        const auto t0 = std::chrono::steady_clock::now();
        cntlr.xferReady();
        while (delegate.endState == 0 || cntlr.isRunningMemXfer())
            kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.001));
        loop += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

        state.PauseTiming();
        baseline += baselineSeconds(baselineFile);
        state.ResumeTiming();
    }
    if (delegate.pages != int(state.iterations())) state.SkipWithError("a page was not recorded");
    state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()) / loop);
    state.counters["x_baseline"] = benchmark::Counter(loop / baseline);

    QlrDeviceCntlr::terminateDeviceCntlr();
    QlrDeviceCntlr::setApplicationDelegate(nullptr);
    TV_TWAINHandler::setDSMEntry(nullptr);
    AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    QlrUtilsMethod::removeTmpFolder();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ColourA4PageThroughTheLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
