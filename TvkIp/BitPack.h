// Pixel bits of 1-bit lines, most significant bit first (pixel x is bit
// 7 - x % 8 of byte x / 8), shared by the binarisation kinds and the binary
// clean-up steps.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace BitPack {

inline bool GetBit(const uint8_t* line, int32_t x) {
    return (line[x >> 3] >> (7 - (x & 7))) & 1u;
}
inline void SetBit(uint8_t* line, int32_t x) {
    line[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
}
inline void ClearBit(uint8_t* line, int32_t x) {
    line[x >> 3] &= static_cast<uint8_t>(~(0x80u >> (x & 7)));
}

// Bit k of a byte moved to bit 7 - k: a vector byte mask (pixel k in bit k)
// in the order of a 1-bit line.
constexpr std::array<uint8_t, 256> MakeReverseBits() {
    std::array<uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b)
            if (v & (1u << b)) r |= 0x80u >> b;
        t[v] = static_cast<uint8_t>(r);
    }
    return t;
}
inline constexpr std::array<uint8_t, 256> kReverseBits = MakeReverseBits();
static_assert(kReverseBits[0x01] == 0x80 && kReverseBits[0x06] == 0x60);

// The 16-pixel mask of a byte compare (pixel k in bit k, mask < 0x10000, as
// a byte movemask gives it) as two line bytes.
inline void StoreMask16(uint8_t* dst, unsigned mask) {
    dst[0] = kReverseBits[mask & 0xFF];
    dst[1] = kReverseBits[mask >> 8];
}

// Eight 0/1 bytes to one line byte, the first in the most significant bit.
inline unsigned Pack8(const uint8_t* f) {
    if constexpr (std::endian::native == std::endian::little) {
        // Each byte's bit lands in its own place of the product's top byte.
        uint64_t v;
        std::memcpy(&v, f, 8);
        return static_cast<unsigned>((v * 0x8040201008040201ull) >> 56);
    } else {
        unsigned b = 0;
        for (int32_t k = 0; k < 8; ++k) b = (b << 1) | f[k];
        return b;
    }
}

} // namespace BitPack
