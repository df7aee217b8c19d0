// The page transfer against a source whose image information, buffer size,
// strips and return codes come from the input: whatever the source fills,
// the loop ends the job and never touches memory past the transfer buffer
// (the buffer is exactly the size the loop asked for, so a read past it is
// caught). The source itself stays inside the buffer it was given, as any
// source must.
#include "InputModel.h"
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "QuietDeviceDelegate.h"
#include "TV_TWAINHandler.h"

#include <foundation/RunLoop.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

FuzzedDataProvider* gIn = nullptr;
int gPagesLeft = 0;

// Mostly small sides, now and then one of the edges.
TW_INT32 side(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) return in.ConsumeIntegralInRange<TW_INT32>(1, 300);
    static constexpr TW_INT32 odd[] = {INT32_MIN, -1, 0, 100000, 100001, 65536};
    return odd[in.ConsumeIntegralInRange<std::size_t>(0, std::size(odd) - 1)];
}

TW_UINT32 field(FuzzedDataProvider& in, TW_UINT32 good) {
    return in.ConsumeBool() ? good : in.ConsumeIntegral<TW_UINT32>();
}

TW_INT32 gWidth = 0, gLength = 0;
TW_INT16 gBpp = 0;
TW_UINT32 gRowsSent = 0;

TW_UINT16 fuzzSource(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    FuzzedDataProvider& in = *gIn;
    switch (dat) {
    case DAT_IDENTITY:
        if (msg == MSG_GETNEXT) return TWRC_ENDOFLIST;
        if (msg == MSG_GETFIRST) fillIdentity(*static_cast<pTW_IDENTITY>(data), "Fuzz Maker", "Fuzz Family", "Fuzz Product");
        return TWRC_SUCCESS;
    case DAT_PASSTHRU: return TWRC_FAILURE;
    case DAT_IMAGEINFO: {
        auto* info = static_cast<pTW_IMAGEINFO>(data);
        static constexpr TW_INT16 depths[] = {1, 8, 24, 16, 0, -1, 32};
        gWidth = side(in);
        gLength = side(in);
        gBpp = depths[in.ConsumeIntegralInRange<std::size_t>(0, std::size(depths) - 1)];
        info->ImageWidth = gWidth;
        info->ImageLength = gLength;
        info->BitsPerPixel = gBpp;
        info->SamplesPerPixel = in.ConsumeBool() ? (gBpp == 24 ? 3 : 1) : in.ConsumeIntegral<TW_INT16>();
        info->BitsPerSample[0] = in.ConsumeBool() ? (gBpp == 1 ? 1 : 8) : in.ConsumeIntegral<TW_INT16>();
        info->PixelType = in.ConsumeBool() ? (gBpp == 24 ? 2 : gBpp == 8 ? 1 : 0) : in.ConsumeIntegral<TW_INT16>();
        info->XResolution = {TW_INT16(in.ConsumeIntegral<std::int16_t>()), in.ConsumeIntegral<TW_UINT16>()};
        info->YResolution = info->XResolution;
        gRowsSent = 0;
        return in.ConsumeIntegralInRange<int>(0, 15) == 0 ? TWRC_FAILURE : TWRC_SUCCESS;
    }
    case DAT_SETUPMEMXFER: {
        auto* setup = static_cast<pTW_SETUPMEMXFER>(data);
        static constexpr TW_UINT32 odd[] = {0, 1, 0xFFFFFFFF, 64u << 20};
        setup->MaxBufSize = in.ConsumeBool() ? in.ConsumeIntegralInRange<TW_UINT32>(1, 1u << 16)
                                             : odd[in.ConsumeIntegralInRange<std::size_t>(0, std::size(odd) - 1)];
        return TWRC_SUCCESS;
    }
    case DAT_PENDINGXFERS:
        if (msg == MSG_ENDXFER) --gPagesLeft;
        if (msg == MSG_RESET) gPagesLeft = 0;
        static_cast<pTW_PENDINGXFERS>(data)->Count = TW_UINT16(gPagesLeft > 0 ? gPagesLeft : 0);
        return TWRC_SUCCESS;
    case DAT_IMAGEMEMXFER: {
        auto* x = static_cast<pTW_IMAGEMEMXFER>(data);
        if (in.remaining_bytes() == 0) return TWRC_FAILURE;
        const std::uint64_t rowBytes =
            gBpp < 8 ? (std::uint64_t(std::max(gWidth, 0)) + 7) / 8 : std::uint64_t(std::max(gWidth, 0)) * std::uint64_t(std::max<int>(gBpp, 0) / 8);
        const TW_UINT32 rows = in.ConsumeIntegralInRange<TW_UINT32>(0, 40);
        x->BytesPerRow = field(in, TW_UINT32(rowBytes));
        x->Rows = rows;
        x->YOffset = field(in, gRowsSent);
        x->BytesWritten = field(in, TW_UINT32(std::uint64_t(rows) * x->BytesPerRow));
        x->Compression = 0;
        x->Columns = TW_UINT32(gWidth);
        x->XOffset = 0;
        // The source writes inside what it was given.
        const std::uint64_t bytes = std::min<std::uint64_t>(std::uint64_t(rows) * x->BytesPerRow, x->Memory.Length);
        std::memset(x->Memory.TheMem, 0x5A, std::size_t(bytes));
        gRowsSent += rows;
        static constexpr TW_UINT16 codes[] = {TWRC_SUCCESS, TWRC_SUCCESS, TWRC_SUCCESS, TWRC_XFERDONE,
                                              TWRC_FAILURE, TWRC_CANCEL, TWRC_CHECKSTATUS};
        return codes[in.ConsumeIntegralInRange<std::size_t>(0, std::size(codes) - 1)];
    }
    default: return TWRC_SUCCESS;
    }
}

class FuzzDelegate : public QuietDeviceDelegate {
public:
    std::atomic<int> endState{0};
    void setAppStateNum(int s) override { endState = s; }
    QlrPreviewSize previewSizeByMainWindow(bool) override { return {64, 64}; }
    QlrPreviewSize previewSizeWithLimitationForIKImageBrowserMemLeak(bool) override { return {48, 48}; }
};

FuzzDelegate* setUpOnce() {
    static FuzzDelegate* delegate = [] {
        static char folder[] = "/tmp/page_transfer_fuzz_XXXXXX";
        if (!::mkdtemp(folder)) std::abort();
        ::setenv("TMPDIR", folder, 1);
        if (!QlrUtilsMethod::createTmpFolder()) std::abort();
        setCurrentIdentity("Fuzz Maker", "Fuzz Family", "Fuzz Product");
        TV_TWAINHandler::setDSMEntry(fuzzSource);
        auto* d = new FuzzDelegate;
        QlrDeviceCntlr::setApplicationDelegate(d);
        return d;
    }();
    return delegate;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDelegate* delegate = setUpOnce();
    FuzzedDataProvider in(data, size);
    gIn = &in;
    gPagesLeft = in.ConsumeIntegralInRange<int>(1, 3);
    QlrDeviceCntlr& cntlr = *QlrDeviceCntlr::sharedDeviceCntlr();
    static const auto model = std::make_shared<InputModel>();
    cntlr.openDS(model, false, true);
    cntlr.resetTmpFileIndex();
    cntlr.setIsScanCancel(false);
    delegate->endState = 0;
    cntlr.xferReady();
    // Every path ends the job; one that does not is a hang.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (delegate->endState == 0 || cntlr.isRunningMemXfer()) {
        if (std::chrono::steady_clock::now() > limit) std::abort();
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.001));
    }
    gIn = nullptr;
    return 0;
}
