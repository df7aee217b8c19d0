#include "kdusb/KdUsb.h"
#include "ScriptedDevice.h"

#include <gtest/gtest.h>
#include <libusb.h>

#include <cstdlib>

using kdusb::Device;
using kdusb::testing::ScriptedDevice;

namespace {

constexpr std::uint16_t kVendor = 0x1234;
constexpr std::uint16_t kProduct = 0x5678;

class KdUsbTest : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("KD_VIRTUAL_SCANNER"); }
    void TearDown() override {
        kdusb::unregisterInProcessDevice(nullptr);
        unsetenv("KD_VIRTUAL_SCANNER");
    }

    std::vector<Device*> find(std::uint16_t vendor = kVendor, std::uint16_t product = kProduct) {
        std::vector<Device*> found;
        EXPECT_EQ(kdusb::findDevices(vendor, product, found), kdusb::kSuccess);
        return found;
    }
    static void releaseAll(std::vector<Device*>& devices) {
        for (Device* d : devices) d->release();
        devices.clear();
    }
};

TEST(KdUsbErrors, LibusbErrorsMapToTheLayersResults) {
    const struct {
        int libusb;
        kdusb::Result result;
    } cases[] = {
        {LIBUSB_SUCCESS, kdusb::kSuccess},
        {LIBUSB_ERROR_NO_DEVICE, kdusb::kNoDevice},
        {LIBUSB_ERROR_NOT_FOUND, kdusb::kNotFound},
        {LIBUSB_ERROR_BUSY, kdusb::kBusy},
        {LIBUSB_ERROR_IO, kdusb::kIOError},
        {LIBUSB_ERROR_PIPE, kdusb::kPipeStalled},
        {LIBUSB_ERROR_TIMEOUT, kdusb::kTransactionTimeout},
        {LIBUSB_ERROR_ACCESS, kdusb::kGeneralError},
        {LIBUSB_ERROR_OVERFLOW, kdusb::kGeneralError},
        {LIBUSB_ERROR_NO_MEM, kdusb::kGeneralError},
        {LIBUSB_ERROR_OTHER, kdusb::kGeneralError},
    };
    for (const auto& c : cases) EXPECT_EQ(kdusb::resultFromLibusb(c.libusb), c.result) << c.libusb;
}

// CI has no scanner and may have no USB file system at all: an empty
// answer, not a failure.
TEST_F(KdUsbTest, RealEnumerationWithoutTheDeviceIsEmpty) {
    auto found = find(0xFFFE, 0xFFFE);
    EXPECT_TRUE(found.empty());
    releaseAll(found);
}

TEST_F(KdUsbTest, TheVariableSelectsInProcessDevicesEvenWhenNoneIsRegistered) {
    setenv("KD_VIRTUAL_SCANNER", "1", 1);
    std::vector<std::shared_ptr<kdusb::InProcessDevice>> devices;
    EXPECT_TRUE(kdusb::inProcessDevices(devices));
    // Nothing was registered: the only device offered is the virtual scanner.
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->vendorId(), 0x1209);
    setenv("KD_VIRTUAL_SCANNER", "", 1);
    EXPECT_FALSE(kdusb::inProcessDevices(devices));
}

TEST_F(KdUsbTest, FindOffersMatchingAttachedDevicesInRegistrationOrder) {
    auto first = std::make_shared<ScriptedDevice>(kVendor, kProduct, 0x11000000);
    auto other = std::make_shared<ScriptedDevice>(kVendor, kProduct + 1);
    auto unplugged = std::make_shared<ScriptedDevice>(kVendor, kProduct);
    auto second = std::make_shared<ScriptedDevice>(kVendor, kProduct, 0x12000000);
    unplugged->setAttached(false);
    for (auto& d : {first, other, unplugged, second}) kdusb::registerInProcessDevice(d);

    auto found = find();
    ASSERT_EQ(found.size(), 2u);
    ASSERT_EQ(found[0]->open(), kdusb::kSuccess);
    ASSERT_EQ(found[1]->open(), kdusb::kSuccess);
    EXPECT_EQ(found[0]->locationId(), 0x11000000u);
    EXPECT_EQ(found[1]->locationId(), 0x12000000u);
    releaseAll(found);
    // The last release closes the device.
    EXPECT_FALSE(first->isOpen());
    EXPECT_FALSE(second->isOpen());

    kdusb::unregisterInProcessDevice(first);
    found = find();
    EXPECT_EQ(found.size(), 1u);
    releaseAll(found);
}

TEST_F(KdUsbTest, TransfersAreCheckedBeforeTheDeviceSeesThem) {
    auto scripted = std::make_shared<ScriptedDevice>(kVendor, kProduct);
    kdusb::registerInProcessDevice(scripted);
    auto found = find();
    ASSERT_EQ(found.size(), 1u);
    Device* device = found[0];
    std::uint8_t buffer[8] = {};
    std::size_t size = sizeof buffer;

    EXPECT_EQ(device->readPipe(1, buffer, size, 100, 100), kdusb::kNotOpen);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(device->open(), kdusb::kSuccess);
    const struct {
        kdusb::PipeRef pipe;
        std::size_t size;
        std::uint32_t completion;
    } refused[] = {
        {0, 8, 100},                            // the control pipe
        {1, 8, 0},                              // 0 would wait for ever
        {1, kdusb::kMaxTransferSize + 1, 100},  // more than one transfer takes
    };
    for (const auto& r : refused) {
        size = r.size;
        EXPECT_EQ(device->readPipe(r.pipe, buffer, size, 100, r.completion), kdusb::kBadArgument);
        EXPECT_EQ(size, 0u);
        size = r.size;
        EXPECT_EQ(device->writePipe(r.pipe, buffer, size, 100, r.completion), kdusb::kBadArgument);
    }
    EXPECT_EQ(scripted->events().size(), 1u);   // only the open

    // Bytes moved before a time-out are reported.
    scripted->queueRead({1, 2, 3}, kdusb::kTransactionTimeout);
    size = sizeof buffer;
    EXPECT_EQ(device->readPipe(1, buffer, size, 100, 100), kdusb::kTransactionTimeout);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(buffer[2], 3);

    scripted->setAttached(false);
    size = sizeof buffer;
    EXPECT_EQ(device->writePipe(2, buffer, size, 100, 100), kdusb::kNoDevice);
    EXPECT_EQ(device->clearPipeStallBothEnds(1), kdusb::kNoDevice);
    releaseAll(found);
}

TEST_F(KdUsbTest, AFailedOpenLeavesTheDeviceClosed) {
    auto scripted = std::make_shared<ScriptedDevice>(kVendor, kProduct);
    kdusb::registerInProcessDevice(scripted);
    auto found = find();
    ASSERT_EQ(found.size(), 1u);
    scripted->failNextOpen(kdusb::kBusy);
    EXPECT_EQ(found[0]->open(), kdusb::kBusy);
    EXPECT_FALSE(found[0]->isOpen());
    EXPECT_EQ(found[0]->locationId(), 0u);
    EXPECT_EQ(found[0]->open(), kdusb::kSuccess);
    releaseAll(found);
}

}  // namespace
