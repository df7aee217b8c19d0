// A scanner reached over two USB bulk pipes, and the list of attached ones.
#pragma once

#include "DocScanner.h"

#include <vector>

// The attached scanners: one device record each, in enumeration order.
// Every record holds one reference to its device; ReleaseScannerList drops
// them. A scanner object made from a record takes a reference of its own.
struct SScannerList {
    std::vector<SScannerDesc> records;
};

class CDocUSBScanner : public CDocScanner {
public:
    explicit CDocUSBScanner(const void* deviceRecord);
    ~CDocUSBScanner() override;

    // A new list of the attached devices whose ids equal the template's, or
    // null when none matches or the template lacks the magic.
    static SScannerList* CreateScannerList(const SScannerDesc* templ);
    static void ReleaseScannerList(const SScannerList* list);

    KdError OpenSession() override;
    KdError CloseSession() override;
    KdError DecodeIOResult(unsigned long result) override;
    // Without an open interface and its pipes both answer kDeviceLost and
    // leave the buffer alone.
    KdError ReadData(void* buffer, unsigned long* size, unsigned long noDataTimeout,
                     unsigned long completionTimeout) override;
    KdError WriteData(const void* buffer, unsigned long size, unsigned long noDataTimeout,
                      unsigned long completionTimeout) override;
    KdError ClearIO() override;
    std::uint32_t GetLocationID() override;
    // Reads the 4-byte status that ends every command.
    virtual KdError GetResponse(unsigned long* status) = 0;

protected:
    bool PipesReady() const;

    kdusb::Device* m_device = nullptr;   // one reference held
    bool m_interfaceOpen = false;
    std::uint8_t m_inPipe = 0;
    std::uint8_t m_outPipe = 0;
    std::uint32_t m_locationId = 0;
};
