// Class map and transition table of the colour-gap correction.
#pragma once

#include "tvkcolorgap.h"

#include <cstdint>

// Flags by (previous class << 5) | class: 1 marks a transition typical of the gap.
extern const uint8_t ColorGapBoolMap[kColorGapJudgeSize];
// The built-in class map (kColorGapMapSize entries), used when no map can be
// built for the page. It is the map of the 201-300 dpi limits.
const uint8_t* ByteColorMap();

// RGB555 word of a pixel (bytes R, G, B) and the channel values of a word.
inline uint16_t ColorToWord(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
}
inline void WordToColor(uint32_t word, int32_t& r, int32_t& g, int32_t& b) {
    r = static_cast<int32_t>((word >> 10) & 31) * 8;
    g = static_cast<int32_t>((word >> 5) & 31) * 8;
    b = static_cast<int32_t>(word & 31) * 8;
}

// Builds the class map from thirteen limits.
class CBuildDefColorGapMap {
public:
    // Limits from a tagGAPPARAM of the right size, else the defaults for the
    // vertical resolution.
    void Init(const tagGAPPARAM* param, int32_t yResolution);
    // Fills kColorGapMapSize classes; false (nothing written) for a shorter buffer.
    bool OutputTable(uint8_t* buffer, uint32_t size) const;
    uint8_t IsDoubtColor(int32_t r, int32_t g, int32_t b) const;
    int32_t Limit(int i) const { return m_P[i - 1]; } // P1..P13

private:
    uint8_t IsMonoColor(int32_t r, int32_t g, int32_t b) const;
    uint8_t IsDoubtRed(int32_t r, int32_t g, int32_t b) const;
    uint8_t IsDoubtBlue(int32_t r, int32_t g, int32_t b) const;
    uint8_t IsDoubtGreen(int32_t r, int32_t g, int32_t b) const;
    int32_t m_P[13] = {};
};

// Class map for the page's vertical resolution (0 or less: the built-in map).
void BuildColorGapTable(uint8_t* map, int32_t yResolution, const tagGAPPARAM* param);
// Re-indexes a class map for the order of the light sources (1..5; others
// leave it as it is).
void CorrectTableinLightOrder(uint8_t* map, uint32_t order);
