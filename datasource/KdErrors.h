// Error classes of the scanner device layer: the 32-bit result of every
// device-layer operation, 0 for success. The data source turns them into
// its alerts, so the values are fixed.
#pragma once

#include <cstdint>

using KdError = std::uint32_t;

namespace kderr {

inline constexpr KdError kSuccess = 0;
inline constexpr KdError kOutOfMemory = 2;              // also: no band image
inline constexpr KdError kNoBandImage = 3;              // also: counters refused
inline constexpr KdError kDeviceLost = 0x100;           // also: wrong INQUIRY identity
inline constexpr KdError kDeviceBusy = 0x200;
inline constexpr KdError kIOError = 0x300;              // also: a reply that came short
inline constexpr KdError kPipeStalled = 0x1000;
inline constexpr KdError kNotReady = 0x10000;
inline constexpr KdError kNoDocument = 0x20000;
inline constexpr KdError kPaperJam = 0x30000;
inline constexpr KdError kCoverOpen = 0x40000;
inline constexpr KdError kDoubleFeed = 0x50000;
inline constexpr KdError kMediumError = 0x60000;
inline constexpr KdError kHardwareError = 0x70000;
inline constexpr KdError kIllegalRequest = 0x80000;     // also: a request refused before sending
inline constexpr KdError kTimeout = 0xA0000;            // aborted command or USB time-out
inline constexpr KdError kSequenceError = 0xB0000;
inline constexpr KdError kResourceFailure = 0xC0000;
inline constexpr KdError kSkewDetected = 0xD0000;
inline constexpr KdError kUnknown = 0xF0000;
inline constexpr KdError kCheckCondition = 0x100000;    // sense data pending
inline constexpr KdError kUserAbort = 0x400000;
inline constexpr KdError kLibraryRefused = 0x8000001;
inline constexpr KdError kBatchEndNoPaper = 0x40000000;
inline constexpr KdError kDoubleFeedDelivered = 0x90000000;

}  // namespace kderr
