// Feeds arbitrary device replies to the command protocol. The input is a
// program: a selector byte picks a command, and every bulk read the command
// makes takes its answer from the input as [result][length, 2 bytes BE]
// [bytes]. An exhausted input answers reads with a time-out.
#include "TavrKd.h"
#include "kdusb/KdUsb.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint16_t kVendor = 0x1234;
constexpr std::uint16_t kProduct = 0x5678;

class ReplyStream {
public:
    ReplyStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    std::size_t take(std::uint8_t* out, std::size_t want) {
        const std::size_t n = std::min(want, size_ - pos_);
        if (n != 0) std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class FuzzDevice final : public kdusb::InProcessDevice {
public:
    explicit FuzzDevice(ReplyStream& in) : in_(in) {}
    std::uint16_t vendorId() const override { return kVendor; }
    std::uint16_t productId() const override { return kProduct; }
    kdusb::Result open(bool& interfaceOpened) override {
        interfaceOpened = true;
        return kdusb::kSuccess;
    }
    void close() override {}
    std::uint32_t locationId() const override { return 0x01100000; }
    kdusb::Result bulkRead(kdusb::PipeRef, void* buffer, std::size_t& size, std::uint32_t,
                           std::uint32_t) override {
        if (in_.empty()) {
            size = 0;
            return kdusb::kTransactionTimeout;
        }
        static constexpr kdusb::Result kResults[] = {kdusb::kSuccess, kdusb::kPipeStalled,
                                                     kdusb::kTransactionTimeout, kdusb::kNoDevice};
        const std::uint8_t which = in_.byte();
        const std::size_t length = static_cast<std::size_t>(in_.byte()) << 8 | in_.byte();
        // Copy through a buffer of exactly the reply's size so the sanitiser
        // sees any read past what arrived.
        std::vector<std::uint8_t> reply(std::min(length, size));
        reply.resize(in_.take(reply.data(), reply.size()));
        std::copy(reply.begin(), reply.end(), static_cast<std::uint8_t*>(buffer));
        size = reply.size();
        return which < std::size(kResults) ? kResults[which] : kdusb::kGeneralError;
    }
    kdusb::Result bulkWrite(kdusb::PipeRef, const void*, std::size_t&, std::uint32_t,
                            std::uint32_t) override {
        return kdusb::kSuccess;
    }
    kdusb::Result clearStall(kdusb::PipeRef) override { return kdusb::kSuccess; }

private:
    ReplyStream& in_;
};

void runCommand(CTavrKd& scanner, std::uint8_t selector, ReplyStream& in) {
    KdError e = kderr::kSuccess;
    switch (selector % 12) {
    case 0: {
        unsigned long sense = 0, info = 0;
        unsigned char eom = 0;
        e = scanner.ExecRequestSense(&sense, &eom, &info);
        if (e == kderr::kSuccess) e = CTavrKd::DecodeSense(sense);
        break;
    }
    case 1: {
        char vendor[kVendorLength + 1], product[kProductLength + 1], revision[kRevisionLength + 1];
        unsigned char type = 0;
        e = scanner.ExecInquiry(vendor, product, revision, &type);
        if (e == kderr::kSuccess && std::strlen(vendor) > kVendorLength) __builtin_trap();
        break;
    }
    case 2: {
        SDeviceCapabilty capability;
        e = scanner.ExecInquiryEx(&capability);
        break;
    }
    case 3: {
        SScanWindow window{};
        e = scanner.ExecGetWindow(&window);
        break;
    }
    case 4: {
        unsigned long size = static_cast<unsigned long>(in.byte()) << 2;
        std::vector<unsigned char> buffer(size);
        e = scanner.ExecRead(&size, buffer.data(), in.byte() % kReadTypeCount);
        if (size > buffer.size()) __builtin_trap();
        break;
    }
    case 5: {
        const unsigned long size = static_cast<unsigned long>(in.byte()) * 97;
        std::vector<unsigned char> buffer(size);
        e = scanner.ExecGetMemory(0x10080000, size, buffer.data());
        break;
    }
    case 6: {
        unsigned char paper = 0, other = 0;
        e = scanner.ExecGetScannerStatus(&paper, &other);
        break;
    }
    case 7: {
        SScanParameter parameter{};
        parameter.page = in.byte() % kScanParameterPageCount;
        e = scanner.ExecSetScanParameter(&parameter, 0);
        break;
    }
    case 8: {
        unsigned long status = 0;
        e = scanner.GetResponse(&status);
        break;
    }
    case 9: {
        // A named status query over whatever the device answers.
        static constexpr const char* kNames[] = {
            "OperationpanelEZKeyStatus", "DocumentReadyStatus", "DocumentBatchStatus",
            "ScannerInfo", "ServiceData", "MaxScanLength", "MaxScanWidth",
            "VerticalScalingControlValue"};
        alignas(8) unsigned char value[sizeof(SScannerInfo)] = {};
        e = scanner.GetStatus(kNames[in.byte() % std::size(kNames)], value);
        break;
    }
    case 10: e = scanner.StartScan(nullptr); break;
    default: e = scanner.ExecTestUnitReady(); break;
    }
    scanner.RecoverError(e);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReplyStream in(data, size);
    auto device = std::make_shared<FuzzDevice>(in);
    kdusb::registerInProcessDevice(device);
    SScannerDesc templ{};
    templ.magic = kScannerDescMagic;
    templ.vendorId = kVendor;
    templ.productId = kProduct;
    if (SScannerList* list = CDocUSBScanner::CreateScannerList(&templ)) {
        {
            CTavrKd scanner(&list->records[0]);
            if (scanner.OpenSession() == kderr::kSuccess) {
                for (int commands = 0; commands < 16 && !in.empty(); ++commands)
                    runCommand(scanner, in.byte(), in);
            }
        }
        CDocUSBScanner::ReleaseScannerList(list);
    }
    kdusb::unregisterInProcessDevice(device);
    return 0;
}
