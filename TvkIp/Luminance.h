// Luminance of colour pixels, samples in memory order R, G, B.
#pragma once

#include <array>
#include <cstdint>

constexpr int32_t TvkLuminance(int32_t r, int32_t g, int32_t b) {
    return (307 * r + 604 * g + 113 * b) >> 10;
}

// lum[i] is the luminance of the i-th of n interleaved R, G, B triplets at rgb.
inline void LuminanceInterleaved(const uint8_t* rgb, int32_t n, uint8_t* lum) {
    for (int32_t i = 0; i < n; ++i, rgb += 3)
        lum[i] = static_cast<uint8_t>(TvkLuminance(rgb[0], rgb[1], rgb[2]));
}

// lum[i] is the luminance of pixel i of the three sample planes r, g and b.
inline void LuminancePlanar(const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n,
                            uint8_t* lum) {
    for (int32_t i = 0; i < n; ++i) lum[i] = static_cast<uint8_t>(TvkLuminance(r[i], g[i], b[i]));
}

// Weighting tables of the to-gray conversion of the binarisation and text-slant
// code: gray = RedToGray[r] + GreenToGray[g] + BlueToGray[b], never above 253.
namespace GRAY_WEIGHT {
constexpr std::array<uint8_t, 256> Make(double w) {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) t[v] = static_cast<uint8_t>(static_cast<int>(v * w + 0.5));
    return t;
}
inline constexpr std::array<uint8_t, 256> RedToGray = Make(0.29);
inline constexpr std::array<uint8_t, 256> GreenToGray = Make(0.587);
inline constexpr std::array<uint8_t, 256> BlueToGray = Make(0.114);
static_assert(RedToGray[50] == 14 && RedToGray[255] == 74);
static_assert(GreenToGray[255] == 150 && BlueToGray[255] == 29);
static_assert(RedToGray[255] + GreenToGray[255] + BlueToGray[255] <= 253);
} // namespace GRAY_WEIGHT
