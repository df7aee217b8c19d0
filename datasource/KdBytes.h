// Big-endian numbers of the scanner's wire format and blocks.
#pragma once

#include <cstdint>

namespace kdbytes {

inline void putBE16(std::uint8_t* p, unsigned long v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void putBE24(std::uint8_t* p, unsigned long v) {
    p[0] = static_cast<std::uint8_t>(v >> 16);
    putBE16(p + 1, v);
}
inline void putBE32(std::uint8_t* p, unsigned long v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    putBE24(p + 1, v);
}
inline std::uint16_t getBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t getBE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace kdbytes
