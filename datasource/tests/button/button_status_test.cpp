// The button-status export against the virtual KD-720 and the scanner lock.
#include "ButtonStatus.h"
#include "ScannerLock.h"
#include "TavrKd.h"
#include "TempHome.h"
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const SKdDeviceId kVirtual{kdvirtual::kVendorId, kdvirtual::kProductId};
const SKdDeviceId kAbsent{0x1234, 0x5678};

class ButtonStatus : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("KD_VIRTUAL_SCANNER");
        kdvirtual::VirtualConfig c;
        std::string e;
        ASSERT_TRUE(kdvirtual::parseSettings("paper=card;sheets=2", c, e)) << e;
        device = std::make_shared<kdvirtual::VirtualKd720>(c, 0, e);
        kdusb::registerInProcessDevice(device);
    }
    void TearDown() override { kdusb::unregisterInProcessDevice(device); }

    kdtest::TempHome home;
    std::shared_ptr<kdvirtual::VirtualKd720> device;
};

TEST_F(ButtonStatus, KeysAndReadyBit) {
    device->pressKey(3);
    std::uint32_t status = 0;
    unsigned long location = 7;
    ASSERT_EQ(KdButtonStatus(&status, &location, {kVirtual}), 0);
    EXPECT_EQ(status & 0xFF, 1u << 2);     // key 3
    EXPECT_EQ(status >> 16 & 1, 1u);       // paper in the hopper, none in the path: 8
    EXPECT_EQ(location, device->locationId());
    EXPECT_EQ(device->hopperCount(), 2);   // nothing fed

    // A sheet in the path makes the ready value 9: no ready bit.
    {
        SScannerDesc templ{};
        templ.magic = kScannerDescMagic;
        templ.vendorId = kVirtual.vendor;
        templ.productId = kVirtual.product;
        SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
        ASSERT_NE(list, nullptr);
        CTavrKd scanner(&list->records[0]);
        CDocUSBScanner::ReleaseScannerList(list);
        ASSERT_EQ(scanner.OpenSession(), kderr::kSuccess);
        scanner.RecoverError(scanner.ExecTestUnitReady());
        ASSERT_EQ(scanner.ExecObjectPosition(1), kderr::kSuccess);
        scanner.CloseSession();
    }
    ASSERT_TRUE(device->sheetInPath());
    ASSERT_EQ(KdButtonStatus(&status, nullptr, {kVirtual}), 0);
    EXPECT_EQ(status >> 16 & 1, 0u);
}

TEST_F(ButtonStatus, UnmatchedEntriesAreSkipped) {
    std::uint32_t status = 0;
    EXPECT_EQ(KdButtonStatus(&status, nullptr, {kAbsent}), -1);
    EXPECT_EQ(KdButtonStatus(&status, nullptr, {}), -1);
    EXPECT_EQ(KdButtonStatus(&status, nullptr, {kAbsent, kVirtual}), 0);
    // The test program's folder holds no device list.
    EXPECT_EQ(GetKdButtonStatus(&status, nullptr), -1);
}

TEST_F(ButtonStatus, ScannerGoneIsMinusThree) {
    device->disconnect();
    std::uint32_t status = 0;
    const int r = KdButtonStatus(&status, nullptr, {kVirtual});
    EXPECT_TRUE(r == -1 || r == -3) << r;
    device->reconnect();
    device->injectFault(kdvirtual::FaultSpec{kdvirtual::FaultKind::Hardware});
    EXPECT_EQ(KdButtonStatus(&status, nullptr, {kVirtual}), -3);
}

TEST_F(ButtonStatus, LockHeldByAnotherProcessAnswersAtOnce) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        KdExclusiveLock* mine = CreateExclusiveLockObject(kKdScannerLockName);
        const char ok = mine && LockObject(mine, true, 0) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 'y');
    std::uint32_t status = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KdButtonStatus(&status, nullptr, {kVirtual}), -2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(device->commandLog().empty());
    ::kill(holder, SIGKILL);
    int st = 0;
    ::waitpid(holder, &st, 0);
    EXPECT_EQ(KdButtonStatus(&status, nullptr, {kVirtual}), 0);
}

TEST(DeviceList, ParsesHexAndSkipsTheRest) {
    using kdf::Dictionary;
    using kdf::Array;
    const Array entries = {
        Dictionary{{"vendor", "1209"}, {"product", "0x0001"}},
        Dictionary{{"vendor", "zz"}, {"product", "1"}},
        Dictionary{{"vendor", "10000"}, {"product", "1"}},
        Dictionary{{"vendor", "04b8"}},
        kdf::Value(5),
        Dictionary{{"vendor", "ABCD"}, {"product", "ef"}},
    };
    const Dictionary info{{"usb", Dictionary{{"IOUSBDevice", entries}}}};
    const auto ids = KdDeviceIdsFromInfo(info);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[0].vendor, 0x1209);
    EXPECT_EQ(ids[0].product, 1);
    EXPECT_EQ(ids[1].vendor, 0xABCD);
    EXPECT_EQ(ids[1].product, 0xEF);
    EXPECT_TRUE(KdDeviceIdsFromInfo(Dictionary{}).empty());
}

}  // namespace
