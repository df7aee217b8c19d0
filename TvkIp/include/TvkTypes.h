// Basic types shared by every part of the image-processing library's lower layer.
#pragma once

#include <cstddef>
#include <cstdint>

// Symbols that form the library's exported interface.
#define IMVRA_EXPORT __attribute__((visibility("default")))

// Process-wide result words of the lower layer.
inline constexpr uint32_t kIpErrNoMemory = 8;         // memory could not be allocated
inline constexpr uint32_t kIpErrBadParamBlock = 13;   // invalid parameter block
inline constexpr uint32_t kIpErrCannotRun = 14;       // operation cannot run on these images
inline constexpr uint32_t kIpErrFailed = 0x80000001u; // generic failure
inline constexpr uint32_t kIpErrOutOfMemory = 0x80000002u;
inline constexpr uint32_t kIpErrBadArgument = 0x80000003u;
inline constexpr uint32_t kIpErrUnsupported = 0x80000008u;

// A 64-bit intermediate stored in a 32-bit field: saturates instead of wrapping.
constexpr int32_t Clamp32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// Rectangle of the image container: origin and extent.
struct tagRECT {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
};

namespace Tvk {

// A point, or a slant vector (dx, dy) where (1, 0) means upright.
struct tagPOINT {
    int32_t x;
    int32_t y;
};
static_assert(sizeof(tagPOINT) == 8);

// Rectangle of the detectors, in the order they report it:
// left, bottom, right, top (bottom being the larger line number).
struct tagRECT {
    int32_t left;
    int32_t bottom;
    int32_t right;
    int32_t top;
};
static_assert(sizeof(tagRECT) == 16);

} // namespace Tvk
