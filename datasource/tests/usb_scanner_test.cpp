// Finding scanners, the device records and the transport session.
#include "ScannerFixture.h"

#include <cstring>

using namespace kdtest;

namespace {

class UsbScannerTest : public ::testing::Test {
protected:
    void TearDown() override { kdusb::unregisterInProcessDevice(nullptr); }

    std::shared_ptr<ScriptedDevice> plug(std::uint16_t product = kProduct,
                                         std::uint32_t location = 0x14200000) {
        auto d = std::make_shared<ScriptedDevice>(kVendor, product, location);
        kdusb::registerInProcessDevice(d);
        return d;
    }
};

TEST(ScannerDesc, MagicIsTheFourBytesBSUi) {
    const SScannerDesc desc = scannerTemplate();
    EXPECT_EQ(std::memcmp(&desc.magic, "BSUi", 4), 0);
}

TEST_F(UsbScannerTest, NoMatchingDeviceGivesNoList) {
    plug(kProduct + 1);
    const SScannerDesc templ = scannerTemplate();
    EXPECT_EQ(CDocUSBScanner::CreateScannerList(&templ), nullptr);
}

TEST_F(UsbScannerTest, ATemplateWithoutTheMagicGivesNoList) {
    plug();
    SScannerDesc templ = scannerTemplate();
    templ.magic = 0x69555341;
    EXPECT_EQ(CDocUSBScanner::CreateScannerList(&templ), nullptr);
    EXPECT_EQ(CDocUSBScanner::CreateScannerList(nullptr), nullptr);
}

TEST_F(UsbScannerTest, TwoDevicesGiveTwoRecordsInOrderWithTheTemplatesRest) {
    auto first = plug(kProduct, 0x11000000);
    auto second = plug(kProduct, 0x12000000);
    SScannerDesc templ = scannerTemplate();
    for (std::size_t i = 0; i < kScannerDescRestSize; ++i)
        templ.rest[i] = static_cast<std::uint8_t>(i * 3);
    SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->records.size(), 2u);

    std::uint32_t locations[2] = {};
    for (int i = 0; i < 2; ++i) {
        const SScannerDesc& r = list->records[i];
        EXPECT_EQ(r.magic, kScannerDescMagic);
        EXPECT_EQ(r.vendorId, kVendor);
        EXPECT_EQ(r.productId, kProduct);
        EXPECT_NE(r.device, nullptr);
        EXPECT_EQ(std::memcmp(r.rest, templ.rest, kScannerDescRestSize), 0);
        CTavrKd scanner(&r);
        ASSERT_EQ(scanner.OpenSession(), kderr::kSuccess);
        locations[i] = scanner.GetLocationID();
    }
    EXPECT_EQ(locations[0], 0x11000000u);
    EXPECT_EQ(locations[1], 0x12000000u);
    CDocUSBScanner::ReleaseScannerList(list);
    CDocUSBScanner::ReleaseScannerList(nullptr);
}

// The list and each scanner object hold their own reference: the object
// outlives the list, and the leak-checked build sees every one released.
TEST_F(UsbScannerTest, AScannerKeepsItsDeviceAfterTheListIsReleased) {
    auto device = plug();
    const SScannerDesc templ = scannerTemplate();
    SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
    ASSERT_NE(list, nullptr);
    auto scanner = std::make_unique<CTavrKd>(&list->records[0]);
    CDocUSBScanner::ReleaseScannerList(list);

    ASSERT_EQ(scanner->OpenSession(), kderr::kSuccess);
    EXPECT_EQ(scanner->GetState(), kStateOpen);
    device->queueStatus(0);
    EXPECT_EQ(scanner->ExecTestUnitReady(), kderr::kSuccess);
    EXPECT_TRUE(device->isOpen());
    scanner.reset();
    EXPECT_FALSE(device->isOpen());
}

TEST_F(UsbScannerTest, SessionOpensAndClosesTheDevice) {
    auto device = plug();
    const SScannerDesc templ = scannerTemplate();
    SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
    ASSERT_NE(list, nullptr);
    {
        CTavrKd scanner(&list->records[0]);
        EXPECT_EQ(scanner.GetState(), kStateClosed);
        ASSERT_EQ(scanner.OpenSession(), kderr::kSuccess);
        EXPECT_TRUE(device->isOpen());
        EXPECT_EQ(scanner.GetLocationID(), 0x14200000u);
        EXPECT_EQ(scanner.CloseSession(), kderr::kSuccess);
        EXPECT_EQ(scanner.GetState(), kStateClosed);
        EXPECT_FALSE(device->isOpen());
        // Closed again: transfers find no pipes.
        unsigned long status = 0;
        EXPECT_EQ(scanner.GetResponse(&status), kderr::kDeviceLost);

        // An open the device refuses leaves the session closed.
        device->failNextOpen(kdusb::kBusy);
        EXPECT_EQ(scanner.OpenSession(), kderr::kDeviceBusy);
        EXPECT_EQ(scanner.GetState(), kStateClosed);
    }
    CDocUSBScanner::ReleaseScannerList(list);
}

// Without a device, or with a device that has no interface, the session
// opens without pipes and every transfer answers "device lost" untouched.
TEST_F(UsbScannerTest, ASessionWithoutPipesRefusesEveryTransfer) {
    auto device = plug();
    device->setOffersInterface(false);
    const SScannerDesc templ = scannerTemplate();
    SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
    ASSERT_NE(list, nullptr);
    const SScannerDesc noDevice = scannerTemplate();
    for (const SScannerDesc* record : {static_cast<const SScannerDesc*>(&list->records[0]), &noDevice}) {
        CTavrKd scanner(record);
        ASSERT_EQ(scanner.OpenSession(), kderr::kSuccess);
        EXPECT_EQ(scanner.GetState(), kStateOpen);
        EXPECT_EQ(scanner.GetLocationID(), 0u);

        unsigned char buffer[16];
        std::memset(buffer, 0x5A, sizeof buffer);
        unsigned long size = sizeof buffer;
        EXPECT_EQ(scanner.ReadData(buffer, &size, 100, 100), kderr::kDeviceLost);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(scanner.WriteData(buffer, sizeof buffer, 100, 100), kderr::kDeviceLost);
        EXPECT_EQ(scanner.ClearIO(), kderr::kDeviceLost);
        EXPECT_EQ(scanner.ExecTestUnitReady(), kderr::kDeviceLost);
        unsigned long readSize = sizeof buffer;
        EXPECT_EQ(scanner.ExecRead(&readSize, buffer, 0), kderr::kDeviceLost);
        for (unsigned char b : buffer) EXPECT_EQ(b, 0x5A);
    }
    for (const auto& e : device->events()) EXPECT_NE(e.kind, ScriptedDevice::Event::Write);
    CDocUSBScanner::ReleaseScannerList(list);
}

TEST(DecodeIOResult, MapsTransportResultsToErrorClasses) {
    const SScannerDesc noDevice = scannerTemplate();
    CTavrKd scanner(&noDevice);
    const struct {
        unsigned long result;
        KdError error;
    } rows[] = {
        {kdusb::kSuccess, kderr::kSuccess},
        {kdusb::kNoDevice, kderr::kDeviceLost},
        {kdusb::kNoPower, kderr::kDeviceLost},
        {kdusb::kNotResponding, kderr::kDeviceLost},
        {kdusb::kNotFound, kderr::kDeviceLost},
        {kdusb::kBusy, kderr::kDeviceBusy},
        {kdusb::kIOError, kderr::kIOError},
        {kdusb::kPipeStalled, kderr::kPipeStalled},
        {kdusb::kTransactionTimeout, kderr::kTimeout},
        {kdusb::kGeneralError, kderr::kUnknown},
        {kdusb::kBadArgument, kderr::kUnknown},
        {kdusb::kNotOpen, kderr::kUnknown},
        {0x12345678, kderr::kUnknown},
    };
    for (const auto& r : rows) EXPECT_EQ(scanner.DecodeIOResult(r.result), r.error) << std::hex << r.result;
}

// The base class's own behaviour, which the scanner object builds on.
TEST(DocScanner, BaseStatesAndErrorWord) {
    const SScannerDesc noDevice = scannerTemplate();
    CTavrKd scanner(&noDevice);
    CDocScanner& base = scanner;
    EXPECT_EQ(base.CDocScanner::DecodeIOResult(0), kderr::kSuccess);
    EXPECT_EQ(base.CDocScanner::DecodeIOResult(kdusb::kPipeStalled), kderr::kUnknown);
    EXPECT_EQ(base.CDocScanner::StartScan(nullptr), kderr::kSuccess);
    EXPECT_EQ(base.GetState(), kStateScanning);
    EXPECT_EQ(base.ScanComplete(), kderr::kSuccess);
    EXPECT_EQ(base.GetState(), kStatePageComplete);
    EXPECT_EQ(base.FinishScan(), kderr::kSuccess);
    EXPECT_EQ(base.GetState(), kStateOpen);
    base.SetScannerError(kderr::kPaperJam);
    EXPECT_EQ(base.GetScannerError(), kderr::kPaperJam);
}

}  // namespace
