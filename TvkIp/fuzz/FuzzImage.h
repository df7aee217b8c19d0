// Shared pieces of the image library's fuzz harnesses: image records and
// request records drawn from the fuzzer's input.
//
// Every record field comes from the input, so the records are as often
// inconsistent as not; the pixel buffer is allocated exactly as large as the
// record's own line length, lines and planes say, so any access outside what
// the record describes is caught by AddressSanitizer.
#pragma once

#include "CImgInf.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <type_traits>

namespace fuzz {

// Largest pixel buffer a harness allocates; bigger records lose lines.
inline constexpr int64_t kMaxPixelBytes = int64_t{4} << 20;

// A value from a short list of meaningful ones, or (rarely) anything.
template <class T> T Pick(FuzzedDataProvider& in, std::initializer_list<T> values) {
    const size_t k = in.ConsumeIntegralInRange<size_t>(0, values.size());
    if (k == values.size()) return in.ConsumeIntegral<T>();
    return values.begin()[k];
}

inline int32_t Resolution(FuzzedDataProvider& in) {
    return Pick<int32_t>(in, {0, 1, 75, 100, 150, 200, 300, 400, 600, 1200});
}

// The bytes of a request record from the input; pointer members must be
// cleared by the caller (the input cannot hold valid pointers).
template <class T> T Record(FuzzedDataProvider& in) {
    static_assert(std::is_trivially_copyable_v<T>);
    T r;
    std::memset(static_cast<void*>(&r), 0, sizeof(T));
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, sizeof(T));
    in.ConsumeData(&r, n);
    return r;
}

// A size word: one of the record's accepted sizes, or anything.
inline uint32_t SizeWord(FuzzedDataProvider& in, std::initializer_list<uint32_t> sizes) {
    return Pick<uint32_t>(in, sizes);
}

// Up to `most` calls of a protocol, each chosen by `call` from the input. A
// band call reports the lines it wrote in the destination's line count,
// which is restored for the next call.
template <class Call>
void Calls(FuzzedDataProvider& in, int most, tagTVKIMAGEINFO& dst, Call call) {
    const int calls = in.ConsumeIntegralInRange<int>(1, most);
    for (int i = 0; i < calls; ++i) {
        const int32_t lines = dst.lHeight;
        call();
        dst.lHeight = lines;
    }
}

// What lines the buffer must hold: lHeight lines, or lYpos + lHeight for the
// exports that start at line lYpos.
enum class Lines { Height, FromYpos };

// An image record with its own pixel buffer.
class Image {
public:
    tagTVKIMAGEINFO info{};

    // Draws a record and its pixels. Most records are consistent (a line
    // length that holds the width, lXpos small) so the exports get past their
    // checks; the rest take raw values for every field.
    void Draw(FuzzedDataProvider& in, Lines lines = Lines::Height) {
        info = tagTVKIMAGEINFO{};
        info.size = kTvkImageInfoSize;
        const bool raw = in.ConsumeIntegralInRange<int>(0, 7) == 0;
        struct Layout {
            int32_t bps, spp;
            uint32_t order;
        };
        static constexpr Layout layouts[] = {{1, 1, 0},  {8, 1, 0},  {8, 3, 0}, {8, 3, 1},
                                             {16, 1, 0}, {16, 3, 0}, {16, 3, 1}};
        const size_t li = in.ConsumeIntegralInRange<size_t>(0, std::size(layouts));
        if (li < std::size(layouts)) {
            info.lBps = layouts[li].bps;
            info.lSpp = layouts[li].spp;
            info.ulRGBOrder = layouts[li].order;
        } else {
            info.lBps = in.ConsumeIntegral<int32_t>();
            info.lSpp = in.ConsumeIntegral<int32_t>();
            info.ulRGBOrder = in.ConsumeIntegral<uint32_t>();
        }
        info.lXResolution = Resolution(in);
        info.lYResolution = in.ConsumeBool() ? info.lXResolution : Resolution(in);
        if (raw) {
            info.lWidth = in.ConsumeIntegralInRange<int32_t>(-4, 1200);
            info.lHeight = in.ConsumeIntegralInRange<int32_t>(-4, 1200);
            info.lSync = in.ConsumeIntegralInRange<int32_t>(-8, 4000);
            info.lXpos = in.ConsumeIntegralInRange<int32_t>(-8, 200);
            info.lYpos = in.ConsumeIntegralInRange<int32_t>(-8, 64);
        } else {
            info.lWidth = in.ConsumeIntegralInRange<int32_t>(0, 700);
            info.lHeight = in.ConsumeIntegralInRange<int32_t>(0, 700);
            info.lXpos = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<int32_t>(0, 24);
            info.lYpos = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<int32_t>(0, 8);
            const int64_t planeBits = int64_t{info.lBps} * (info.ulRGBOrder == 1 ? 1 : info.lSpp);
            const int64_t bits = std::clamp<int64_t>(planeBits, 0, 64) * (info.lXpos + info.lWidth);
            info.lSync =
                static_cast<int32_t>((bits + 7) / 8 + in.ConsumeIntegralInRange<int>(0, 5));
        }
        const int64_t step =
            std::max<int64_t>(info.lSync, 0) *
            (info.ulRGBOrder == 1 ? std::clamp<int64_t>(info.lSpp, 1, 3) : int64_t{1});
        int64_t rows = std::max<int64_t>(info.lHeight, 0);
        if (lines == Lines::FromYpos) rows += std::max<int64_t>(info.lYpos, 0);
        if (step > 0 && rows * step > kMaxPixelBytes) {
            // Keep the record consistent with the smaller buffer.
            const int64_t keep = kMaxPixelBytes / step;
            info.lHeight = static_cast<int32_t>(std::max<int64_t>(keep - (rows - info.lHeight), 0));
            rows = keep;
        }
        m_bytes = static_cast<size_t>(rows * step);
        m_step = step;
        // A stated size may be short of the buffer or absent, never more than
        // the buffer: a caller stating more has made the fault itself.
        info.tImageSize =
            static_cast<uint32_t>(raw ? in.ConsumeIntegralInRange<size_t>(0, m_bytes) : m_bytes);
        m_pixels.reset(m_bytes > 0 ? new uint8_t[m_bytes] : nullptr);
        Fill(in);
        info.lpImage = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : m_pixels.get();
    }

    // Room for at least `rows` lines of the record's step (counted from the
    // buffer's start), for band calls whose destination's line count is
    // only an output and which write as many lines as the source band has.
    void Reserve(int64_t rows) {
        if (m_step <= 0 || rows <= 0) return;
        const int64_t want = std::min(rows * m_step, kMaxPixelBytes);
        if (want <= static_cast<int64_t>(m_bytes)) return;
        std::unique_ptr<uint8_t[]> more(new uint8_t[static_cast<size_t>(want)]());
        if (m_bytes > 0) std::memcpy(more.get(), m_pixels.get(), m_bytes);
        if (info.lpImage != nullptr) info.lpImage = more.get();
        m_pixels = std::move(more);
        m_bytes = static_cast<size_t>(want);
    }

    size_t Bytes() const { return m_bytes; }
    uint8_t* Pixels() { return m_pixels.get(); }

private:
    // Pixels: a flat value, noise, or blocks of two values, so detectors find
    // edges, content and backgrounds.
    void Fill(FuzzedDataProvider& in) {
        if (m_bytes == 0) return;
        uint8_t* p = m_pixels.get();
        const int kind = in.ConsumeIntegralInRange<int>(0, 3);
        const uint8_t a = in.ConsumeIntegral<uint8_t>();
        const uint8_t b = in.ConsumeIntegral<uint8_t>();
        uint32_t seed = in.ConsumeIntegral<uint32_t>() | 1u;
        const size_t block = in.ConsumeIntegralInRange<size_t>(1, 4096);
        for (size_t i = 0; i < m_bytes; ++i) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            switch (kind) {
            case 0:
                p[i] = a;
                break;
            case 1:
                p[i] = static_cast<uint8_t>(seed);
                break;
            case 2:
                p[i] = (i / block) % 2 == 0 ? a : b;
                break;
            default:
                p[i] = (seed & 63) == 0 ? b : a;
                break;
            }
        }
    }

    std::unique_ptr<uint8_t[]> m_pixels;
    size_t m_bytes = 0;
    int64_t m_step = 0;
};

} // namespace fuzz
