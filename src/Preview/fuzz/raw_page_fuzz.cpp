// The preview of a raw page file: page size, depth and target size from the
// input, the rest of the input as the file (often shorter or longer than
// the page). The picture must come out whole or not at all.
#include "PreviewRender.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::int64_t width = in.ConsumeIntegralInRange<std::int64_t>(-2, 600);
    const std::int64_t height = in.ConsumeIntegralInRange<std::int64_t>(-2, 600);
    static constexpr int depths[] = {1, 8, 24, 0, 16, 32};
    const int bits = depths[in.ConsumeIntegralInRange<size_t>(0, std::size(depths) - 1)];
    const QSize target(in.ConsumeIntegralInRange<int>(-1, 700), in.ConsumeIntegralInRange<int>(-1, 700));
    std::vector<std::uint8_t> file = in.ConsumeRemainingBytes<std::uint8_t>();
    std::FILE* stream = fmemopen(file.empty() ? nullptr : file.data(), file.size(), "rb");
    if (!stream && !file.empty()) return 0;
    const QImage image = preview_render::renderRawPage(stream, width, height, bits, target);
    if (stream) std::fclose(stream);
    if (!image.isNull() && image.size() != target) __builtin_trap();
    return 0;
}
