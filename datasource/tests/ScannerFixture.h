// A scanner object on a scripted device, opened and with an empty log.
#pragma once

#include "TavrKd.h"
#include "ScriptedDevice.h"
#include "kdusb/KdUsb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>

namespace kdtest {

using kdusb::testing::Bytes;
using kdusb::testing::ScriptedDevice;

inline constexpr std::uint16_t kVendor = 0x1234;
inline constexpr std::uint16_t kProduct = 0x5678;

inline SScannerDesc scannerTemplate(std::uint16_t vendor = kVendor,
                                    std::uint16_t product = kProduct) {
    SScannerDesc desc{};
    desc.magic = kScannerDescMagic;
    desc.vendorId = vendor;
    desc.productId = product;
    return desc;
}

// The 24-byte command container around a CDB.
inline Bytes commandContainer(std::initializer_list<std::uint8_t> cdb) {
    Bytes out(24, 0);
    out[3] = 20;
    out[5] = 1;
    out[6] = 0x90;
    std::size_t i = 12;
    for (std::uint8_t b : cdb) out.at(i++) = b;
    return out;
}

// The data container around n bytes of data.
inline Bytes dataContainer(const Bytes& data) {
    const std::size_t n = data.size() + 8;
    Bytes out(12 + data.size(), 0);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
    out[5] = 2;
    out[6] = 0xB0;
    std::copy(data.begin(), data.end(), out.begin() + 12);
    return out;
}

// A 14-byte REQUEST SENSE answer.
inline Bytes senseReply(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                        std::uint8_t flags = 0, std::uint32_t info = 0) {
    Bytes b(14, 0);
    b[0] = 0x70;
    b[2] = static_cast<std::uint8_t>(key | flags);
    b[3] = static_cast<std::uint8_t>(info >> 24);
    b[4] = static_cast<std::uint8_t>(info >> 16);
    b[5] = static_cast<std::uint8_t>(info >> 8);
    b[6] = static_cast<std::uint8_t>(info);
    b[12] = asc;
    b[13] = ascq;
    return b;
}

class ScannerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::make_shared<ScriptedDevice>(kVendor, kProduct, 0x14200000);
        kdusb::registerInProcessDevice(device);
        const SScannerDesc templ = scannerTemplate();
        list = CDocUSBScanner::CreateScannerList(&templ);
        ASSERT_NE(list, nullptr);
        scanner = std::make_unique<CTavrKd>(&list->records[0]);
        ASSERT_EQ(scanner->OpenSession(), kderr::kSuccess);
        device->clearLog();
    }
    void TearDown() override {
        scanner.reset();
        CDocUSBScanner::ReleaseScannerList(list);
        kdusb::unregisterInProcessDevice(nullptr);
    }

    std::shared_ptr<ScriptedDevice> device;
    SScannerList* list = nullptr;
    std::unique_ptr<CTavrKd> scanner;
};

}  // namespace kdtest
