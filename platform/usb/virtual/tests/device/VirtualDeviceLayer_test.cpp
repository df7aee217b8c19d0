// The device layer's scanner object talking to the virtual KD-720 through the
// USB layer: every command of the set, as the device layer builds it,
// answered in step.
#include "TavrKd.h"
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace kdvirtual;

namespace {

class DeviceLayer : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("KD_VIRTUAL_SCANNER");
        VirtualConfig c;
        std::string e;
        ASSERT_TRUE(parseSettings("paper=card;sheets=2;colour=1", c, e)) << e;
        device = std::make_shared<VirtualKd720>(c, 0, e);
        kdusb::registerInProcessDevice(device);
        SScannerDesc templ{};
        templ.magic = kScannerDescMagic;
        templ.vendorId = kVendorId;
        templ.productId = kProductId;
        SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->records.size(), 1u);
        scanner = std::make_unique<CTavrKd>(&list->records[0]);
        CDocUSBScanner::ReleaseScannerList(list);
        ASSERT_EQ(scanner->OpenSession(), kderr::kSuccess);
    }
    void TearDown() override {
        if (scanner) scanner->CloseSession();
        scanner.reset();
        kdusb::unregisterInProcessDevice(nullptr);
    }
    std::shared_ptr<VirtualKd720> device;
    std::unique_ptr<CTavrKd> scanner;
};

} // namespace

TEST_F(DeviceLayer, IdentityUnitAttentionAndBlocks) {
    char vendor[9] = {}, product[17] = {};
    unsigned char type = 0;
    ASSERT_EQ(scanner->ExecInquiry(vendor, product, nullptr, &type), kderr::kSuccess);
    EXPECT_STREQ(vendor, "TAVRO   ");
    EXPECT_EQ(type, 6);
    SDeviceCapabilty cap{};
    ASSERT_EQ(scanner->ExecInquiryEx(&cap), kderr::kSuccess);
    EXPECT_EQ(cap.maxWidth, 5184u);
    EXPECT_EQ(cap.xBaseResolution, 600);
    // The first command after open: unit attention, which the recovery reads as not ready.
    EXPECT_EQ(scanner->RecoverError(scanner->ExecTestUnitReady()), kderr::kNotReady);
    EXPECT_EQ(scanner->ExecTestUnitReady(), kderr::kSuccess);
    unsigned char block[128];
    unsigned long size = sizeof block;
    ASSERT_EQ(scanner->ExecRead(&size, block, kDataTypeServiceBlock), kderr::kSuccess);
    EXPECT_EQ(size, 128u);
    EXPECT_EQ(static_cast<std::int32_t>(block[0] << 24 | block[1] << 16 | block[2] << 8 | block[3]), -7946);
    std::vector<unsigned char> curve(kLightCurveSize);
    ASSERT_EQ(scanner->ExecGetMemory(kLightCurveAddress, kLightCurveSize, curve.data()), kderr::kSuccess);
    EXPECT_EQ(curve, device->lightCurveBlock());
    SScanParameter p{};
    p.page = 1;
    p.value1 = 7;
    EXPECT_EQ(scanner->ExecSetScanParameter(&p, 3), kderr::kSuccess);
    std::vector<unsigned char> shading(kShadingRecordSize, 0);
    shading[0] = 0x41;
    EXPECT_EQ(scanner->ExecSend(shading.size(), shading.data(), kDataTypeShading), kderr::kSuccess);
    EXPECT_EQ(device->shadingRecords().size(), 1u);
}

TEST_F(DeviceLayer, ScansADuplexPageAndReadsItsEnd) {
    scanner->RecoverError(scanner->ExecTestUnitReady());
    for (std::uint8_t id = 0; id < 2; ++id) {
        SScanWindow w{};
        w.windowId = id;
        w.xResolution = 300;
        w.yResolution = 100;
        w.width = kFullWidth1200;
        w.length = 3000;
        w.imageComposition = 5;
        w.bitsPerPixel = 8;
        ASSERT_EQ(scanner->ExecSetWindow(&w), kderr::kSuccess);
    }
    SScanModeParam m{};
    m.page = 2;
    m.sides = 2;
    ASSERT_EQ(scanner->ExecDefineScanMode(&m), kderr::kSuccess);
    const unsigned char ids[2] = {0, 1};
    ASSERT_EQ(scanner->ExecScan(2, ids), kderr::kSuccess);
    std::vector<unsigned char> page, chunk(2u << 20);
    KdError end = kderr::kSuccess;
    for (int guard = 0; guard < 100; ++guard) {
        unsigned long size = chunk.size();
        const KdError e = scanner->ExecRead(&size, chunk.data(), kDataTypeImage);
        page.insert(page.end(), chunk.begin(), chunk.begin() + static_cast<long>(size));
        if (e != kderr::kSuccess) {
            end = e;
            break;
        }
    }
    ASSERT_EQ(end, kderr::kCheckCondition);
    unsigned long sense = 1, info = 0;
    unsigned char eom = 0;
    ASSERT_EQ(scanner->ExecRequestSense(&sense, &eom, &info), kderr::kSuccess);
    EXPECT_EQ(sense, 0u);
    EXPECT_NE(eom, 0);
    EXPECT_GT(info, 0u);
    // 250 window lines plus the back's lead of 31 lines (100 dpi, -7946 um), three rows of 5184.
    EXPECT_EQ(page.size(), (250u + 31u) * 3 * 5184);
    EXPECT_EQ(device->deliveredSheets(), std::vector<int>{1});
    // Single-sheet mode: no document until the next SCAN.
    unsigned long size = chunk.size();
    EXPECT_EQ(scanner->RecoverError(scanner->ExecRead(&size, chunk.data(), kDataTypeImage)), kderr::kNoDocument);
}
