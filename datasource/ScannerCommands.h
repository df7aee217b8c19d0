// The scanner's command set on the wire: containers, command codes and
// the records the commands carry. Multi-byte numbers on the wire are
// big-endian; the in-memory records use native numbers.
#pragma once

#include <cstddef>
#include <cstdint>

// Command and data containers are built in one 256-byte buffer.
inline constexpr std::size_t kCommandBufferSize = 256;
inline constexpr std::size_t kContainerHeaderSize = 12;
inline constexpr std::size_t kCommandContainerSize = 24;
inline constexpr std::size_t kCdbOffset = 12;
inline constexpr std::size_t kCdbSize = 12;
// The largest data phase that fits in the buffer behind its header.
inline constexpr std::size_t kLocalDataLimit = kCommandBufferSize - kContainerHeaderSize;
inline constexpr std::uint32_t kCommandContainerLength = 20;
inline constexpr std::uint16_t kContainerCommand = 1;
inline constexpr std::uint16_t kContainerData = 2;
inline constexpr std::uint16_t kCommandCode = 0x9000;
inline constexpr std::uint16_t kDataCode = 0xB000;
// A data container's length field counts n + 8 for n bytes of data.
inline constexpr std::uint32_t kDataContainerLengthExtra = 8;
// The CDB's transfer lengths are 24-bit.
inline constexpr unsigned long kMaxCdbLength = 0xFFFFFF;

struct SCommand {
    std::uint8_t bytes[kCommandBufferSize];
};

// Opcodes.
namespace kdop {
inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kRequestSense = 0x03;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kReserveUnit = 0x16;
inline constexpr std::uint8_t kReleaseUnit = 0x17;
inline constexpr std::uint8_t kScan = 0x1B;
inline constexpr std::uint8_t kSetWindow = 0x24;
inline constexpr std::uint8_t kGetWindow = 0x25;
inline constexpr std::uint8_t kRead = 0x28;
inline constexpr std::uint8_t kSend = 0x2A;
inline constexpr std::uint8_t kObjectPosition = 0x31;
inline constexpr std::uint8_t kGetMemory = 0x3B;
inline constexpr std::uint8_t kGetScannerStatus = 0xC5;
inline constexpr std::uint8_t kErrorClear = 0xC7;
inline constexpr std::uint8_t kDefineScanMode = 0xD6;
inline constexpr std::uint8_t kStopBatch = 0xD8;
inline constexpr std::uint8_t kSetAdjustData = 0xE1;
inline constexpr std::uint8_t kSetScanParameter = 0xE5;
}  // namespace kdop

// Reply and data sizes on the wire.
inline constexpr std::size_t kStatusSize = 4;
inline constexpr std::size_t kSenseSize = 14;
inline constexpr std::size_t kInquirySize = 64;
inline constexpr std::size_t kInquiryExSize = 48;
inline constexpr std::size_t kWindowSize = 52;
inline constexpr std::size_t kWindowDescriptorSize = 44;
inline constexpr std::size_t kScannerStatusSize = 8;
inline constexpr std::size_t kScanModeSize = 20;
inline constexpr std::size_t kAdjustDataSize = 40;
inline constexpr std::size_t kScanParameterSize = 16;
inline constexpr std::size_t kMemoryChunkSize = 8192;
// INQUIRY strings: characters kept (their buffers need one more).
inline constexpr std::size_t kVendorLength = 8;
inline constexpr std::size_t kProductLength = 16;
inline constexpr std::size_t kRevisionLength = 4;

// READ and SEND data types (the index callers pass).
inline constexpr unsigned long kReadTypeCount = 16;
inline constexpr unsigned long kDataTypeImage = 0;
inline constexpr unsigned long kDataTypeServiceBlock = 6;
inline constexpr unsigned long kDataTypeSettingsBlock = 7;
inline constexpr unsigned long kDataTypeShading = 16;

// What INQUIRY page 0xF0 tells about the scanner.
struct SDeviceCapabilty {
    std::uint16_t xBaseResolution;     // [5-6]
    std::uint16_t yBaseResolution;     // [7-8]
    std::uint16_t byte9High;           // [9] >> 4
    std::uint16_t byte9Low;            // [9] & 15
    std::uint16_t values[4];           // [10-17]
    std::uint16_t value;               // [18-19]
    std::uint32_t maxWidth;            // [20-23], dots of the base X resolution
    std::uint32_t maxLength;           // [24-27], dots of the base Y resolution
    std::uint8_t byte28;
    std::uint8_t byte38;
    std::uint32_t options;             // 24 bits of [29-31]
    std::uint32_t words[2];            // [40-43], [44-47]
};
// Option bit: double feeds are detected by the ultrasonic sensor.
inline constexpr std::uint32_t kOptionUltrasonic = 1u << 6;

// A scan window (lengths in 1/1200 inch).
struct SScanWindow {
    std::uint8_t windowId;             // 0 front, 1 back
    std::uint16_t xResolution;
    std::uint16_t yResolution;
    std::uint32_t left;
    std::int32_t top;                  // negative when scanning starts before the sheet
    std::uint32_t width;
    std::uint32_t length;
    std::uint8_t brightness;
    std::uint8_t contrast;
    std::uint8_t imageComposition;     // 2 gray, 5 colour
    std::uint8_t bitsPerPixel;
    std::uint8_t compressionType;
    std::uint8_t compressionArgument;
};

// One page of DEFINE SCAN MODE; only the fields of the selected page count.
struct SScanModeParam {
    std::uint8_t page;                 // 0 double feed, 1 values, 2 feeding, 3 drop-out
    // page 0
    bool doubleFeedByLength;
    bool doubleFeedByUltrasonic;
    bool continueAfterDoubleFeed;
    // page 1
    std::uint16_t scanModeValue1;
    std::uint16_t scanModeValue2;
    // page 2
    std::uint8_t sides;                // 0 front, 1 back, 2 both
    bool continuousFeeding;
    bool overScan;
    bool thirdFlag;
    std::uint16_t scanModeFlag;
    // page 3
    std::uint8_t dropOutColourFront;
    std::uint8_t dropOutColourBack;
    std::uint8_t dropOutModeFront;
    std::uint8_t dropOutModeBack;
};
inline constexpr std::uint8_t kScanModePageCount = 4;

// One page of SET SCAN PARAMETER; only the fields of the selected page count.
struct SScanParameter {
    std::uint8_t page;                 // 0 to 6
    // page 0
    bool flag1, flag2, flag3, flag4;
    // page 1
    std::uint16_t value1, value2;
    // page 2
    bool flagA, flagB, flagC;
    std::uint16_t value;
    // page 3
    bool flag;
    // page 6
    std::uint8_t bytes[4];
};
inline constexpr std::uint8_t kScanParameterPageCount = 7;

// The analogue front-end settings of one side, as the image library's
// calibration record holds them.
struct SAdjustInfo {
    std::uint8_t Gain1[3];             // R, G, B
    std::uint8_t Reserved1;
    std::uint8_t Offset1[3];           // R, G, B
    std::uint8_t Reserved2;
    std::uint16_t RedLED;
    std::uint16_t GreenLED;
    std::uint16_t BlueLED;
    std::uint16_t Reserved3;
    std::uint16_t Reserved4;
    std::uint16_t Reserved5;
};
static_assert(sizeof(SAdjustInfo) == kAdjustDataSize / 2);
static_assert(offsetof(SAdjustInfo, RedLED) == 8 && offsetof(SAdjustInfo, Reserved5) == 18);

// Sense data decoded from REQUEST SENSE: key << 16 | ASC << 8 | ASCQ.
inline constexpr unsigned long SenseCode(unsigned key, unsigned asc, unsigned ascq) {
    return (static_cast<unsigned long>(key & 0x0F) << 16) | ((asc & 0xFF) << 8) | (ascq & 0xFF);
}
