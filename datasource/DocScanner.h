// The abstract scanner of the device layer and its device record.
#pragma once

#include "KdErrors.h"

#include <cstddef>
#include <cstdint>

namespace kdusb {
class Device;
}

struct tagScanParam;

// "BSUi" read as a little-endian 32-bit word.
inline constexpr std::uint32_t kScannerDescMagic = 0x69555342;
inline constexpr std::size_t kScannerDescRestSize = 1016;

// One attached scanner. Only our own code sees this record, so it uses the
// native layout: the layer's device handle is pointer-sized. The rest is
// the caller's template, carried unchanged.
struct SScannerDesc {
    std::uint32_t magic;         // kScannerDescMagic, else the record is refused
    std::uint16_t vendorId;
    std::uint16_t productId;
    kdusb::Device* device;       // filled by CreateScannerList; callers leave it null
    std::uint8_t rest[kScannerDescRestSize];
};

inline constexpr std::size_t kScannerDescDeviceOffset = offsetof(SScannerDesc, device);
inline constexpr std::size_t kScannerDescRestOffset = offsetof(SScannerDesc, rest);
inline constexpr std::size_t kScannerDescSize = sizeof(SScannerDesc);
static_assert(offsetof(SScannerDesc, vendorId) == 4 && offsetof(SScannerDesc, productId) == 6);
static_assert(kScannerDescDeviceOffset == 8);
static_assert(kScannerDescRestOffset == kScannerDescDeviceOffset + sizeof(void*));
static_assert(kScannerDescSize == kScannerDescRestOffset + kScannerDescRestSize);

// Session states.
inline constexpr std::uint32_t kStateClosed = 0;
inline constexpr std::uint32_t kStateOpen = 1;
inline constexpr std::uint32_t kStateScanning = 2;
inline constexpr std::uint32_t kStatePageComplete = 4;

// Every transfer of the command layer waits this long (ms) for data and
// for completion.
inline constexpr unsigned long kTransferTimeoutMs = 90000;

class CDocScanner {
public:
    // Copies the device record (a SScannerDesc); null gives an empty record.
    explicit CDocScanner(const void* deviceRecord);
    virtual ~CDocScanner();
    CDocScanner(const CDocScanner&) = delete;
    CDocScanner& operator=(const CDocScanner&) = delete;

    virtual KdError OpenSession();
    virtual KdError CloseSession();
    virtual KdError StartScan(tagScanParam* param);
    virtual KdError FinishScan();
    virtual KdError ScanPage(tagScanParam* param);
    virtual KdError ScanComplete();
    virtual KdError ReadLines(unsigned char* buffer, unsigned long size, unsigned long* lines);
    virtual KdError AbortScan();
    virtual KdError AbortState();
    virtual KdError GetStatus(const char* name, void* value);
    virtual std::uint32_t GetState();
    virtual KdError GetScannerError();
    virtual void SetScannerError(unsigned long error);
    // Maps a transport result to an error class.
    virtual KdError DecodeIOResult(unsigned long result);
    // size: in, the bytes asked for; out, the bytes that arrived.
    virtual KdError ReadData(void* buffer, unsigned long* size, unsigned long noDataTimeout,
                             unsigned long completionTimeout) = 0;
    virtual KdError WriteData(const void* buffer, unsigned long size, unsigned long noDataTimeout,
                              unsigned long completionTimeout) = 0;
    virtual KdError ClearIO();
    virtual std::uint32_t GetLocationID() = 0;

protected:
    std::uint32_t m_state = kStateClosed;
    KdError m_scannerError = kderr::kSuccess;
    std::uint32_t m_descMagic = 0;
    SScannerDesc m_desc{};
};
