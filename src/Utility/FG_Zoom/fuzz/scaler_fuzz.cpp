// The line-streaming scaler: sizes, depth and mode from the input, then
// sends, reads and closes in an order the input chooses. Every line buffer
// is exactly one line long, so a read or write past a line is caught.
#include "FG_Zoom.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

// Mostly small sizes; now and then a negative one or a long line. (Sizes in
// the billions only make the scaler's allocation fail, which the fuzzer
// would report as running out of memory.)
int Size(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange<int>(0, 15) != 0) return in.ConsumeIntegralInRange<int>(-1, 400);
    static constexpr int odd[] = {INT32_MIN, -2, 0, 1, 4096, 65536};
    return odd[in.ConsumeIntegralInRange<size_t>(0, std::size(odd) - 1)];
}

// Bytes of one line of w pixels, as the scaler counts them (0 when unknown).
size_t LineBytes(int w, int bits) {
    if (w <= 0 || bits <= 0 || bits > 64) return 0;
    return static_cast<size_t>((int64_t{w} * bits + 7) / 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int dstW = Size(in), dstH = Size(in), srcW = Size(in), srcH = Size(in);
    static constexpr int depths[] = {1, 8, 16, 24, 32, 48, 64, 12};
    const int bits = depths[in.ConsumeIntegralInRange<size_t>(0, std::size(depths) - 1)];
    const int mode = in.ConsumeIntegralInRange<int>(0, 7) == 0 ? in.ConsumeIntegral<int>() : 2;
    const size_t srcBytes = LineBytes(srcW, bits);
    const size_t dstBytes = LineBytes(dstW, bits);
    // Lines too long for a harness are left to the size checks.
    if (srcBytes > (1u << 20) || dstBytes > (1u << 20)) return 0;
    // Large pages only make a run slow.
    if (int64_t{srcW} * srcH > (1 << 18) || int64_t{dstW} * dstH > (1 << 18)) return 0;
    std::unique_ptr<uint8_t[]> src(new uint8_t[srcBytes + (srcBytes == 0)]);
    std::unique_ptr<uint8_t[]> dst(new uint8_t[dstBytes + (dstBytes == 0)]);
    for (size_t i = 0; i < srcBytes; ++i) src[i] = static_cast<uint8_t>(i * 37 + 11);

    FG_Zoom zoom;
    zoom.Open(dstW, dstH, srcW, srcH, bits, mode);
    // Wide lines make each line costly: a run streams at most about a
    // million pixels a side, so no input is slow for its size alone.
    const int maxLines = static_cast<int>(
        std::clamp<int64_t>((int64_t{1} << 20) / std::max<int64_t>(int64_t{std::max(srcW, dstW)} + 1, 1), 1, 2000));
    int steps = in.ConsumeIntegralInRange<int>(1, maxLines);
    while (steps-- > 0 && in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            zoom.Close();
            break;
        case 1:
            zoom.Open(dstW, dstH, srcW, srcH, bits, mode);
            break;
        case 2:
            zoom.Send(nullptr);
            break;
        case 3:
            if (srcBytes > 0)
                src[in.ConsumeIntegralInRange<size_t>(0, srcBytes - 1)] =
                    in.ConsumeIntegral<uint8_t>();
            break;
        case 4:
        case 5:
        case 6:
            zoom.Send(src.get());
            break;
        default:
            if (zoom.ReadyLines() > 0 || in.ConsumeBool()) zoom.Read(dst.get());
            break;
        }
    }
    // The rest of the page streams through.
    for (int y = 0; y < srcH && y < maxLines; ++y) {
        if (zoom.Send(src.get()) != FG_Zoom::kOk) break;
        while (zoom.ReadyLines() > 0 && zoom.Read(dst.get()) == FG_Zoom::kOk) {
        }
    }
    zoom.Close();
    return 0;
}
