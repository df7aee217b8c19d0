// The scanner's command protocol: containers, data phases, status and
// sense. Every reply is outside data: nothing is decoded that did not
// arrive, and a reply that comes short is an I/O error.
#include "TavrKd.h"

#include "KdBytes.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

using kdbytes::getBE16;
using kdbytes::getBE32;
using kdbytes::putBE16;
using kdbytes::putBE24;
using kdbytes::putBE32;

std::uint8_t* cdb(SCommand& command) { return command.bytes + kCdbOffset; }

void fillDataHeader(std::uint8_t* container, unsigned long size) {
    std::memset(container, 0, kContainerHeaderSize);
    putBE32(container, size + kDataContainerLengthExtra);
    putBE16(container + 4, kContainerData);
    putBE16(container + 6, kDataCode);
}

// READ and SEND data types: type code and qualifier per caller's index.
struct DataType {
    std::uint8_t code;
    std::uint16_t qualifier;
};
constexpr DataType kReadTypes[kReadTypeCount] = {
    {0x00, 0},      {0x80, 0},      {0x80, 0x0004}, {0x80, 0x0001}, {0x84, 0},      {0x8B, 0},
    {0x8C, 0},      {0x8C, 0x0001}, {0xA1, 0},      {0x91, 0x0700}, {0x91, 0x0900}, {0x91, 0x0A00},
    {0x91, 0x0C00}, {0x91, 0x2300}, {0x91, 0x2500}, {0x91, 0x2600}};
constexpr DataType kShadingType = {0x90, 0};

void setupTransfer(std::uint8_t opcode, const DataType& type, unsigned long size,
                   SCommand& command) {
    CTavrKd::SetupCommandContainer(opcode, &command);
    cdb(command)[2] = type.code;
    putBE16(cdb(command) + 4, type.qualifier);
    putBE24(cdb(command) + 6, size);
}

// The scan-mode pages: page code, then what the record's page selects.
constexpr std::uint8_t kScanModePageCodes[kScanModePageCount] = {0x30, 0x31, 0x32, 0x36};
constexpr std::uint8_t kScanModePageLength = 0x0E;
constexpr std::size_t kScanModeHeaderSize = 4;

void encodeScanMode(const SScanModeParam& m, std::uint8_t* data) {
    std::uint8_t* page = data + kScanModeHeaderSize;
    page[0] = kScanModePageCodes[m.page];
    page[1] = kScanModePageLength;
    switch (m.page) {
    case 0:
        page[3] = (m.doubleFeedByLength ? 0x01 : 0) | (m.doubleFeedByUltrasonic ? 0x04 : 0);
        page[5] = m.continueAfterDoubleFeed ? 0x10 : 0;
        break;
    case 1:
        putBE16(page + 7, m.scanModeValue1);
        putBE16(page + 9, m.scanModeValue2);
        break;
    case 2:
        page[2] = m.sides;
        page[3] = 1;
        page[6] = (m.continuousFeeding ? 0x40 : 0) | (m.overScan ? 0x20 : 0) |
                  (m.thirdFlag ? 0x08 : 0);
        putBE16(page + 8, m.scanModeFlag);
        break;
    default:
        page[7] = m.dropOutColourFront;
        page[8] = m.dropOutColourBack;
        page[9] = m.dropOutModeFront;
        page[10] = m.dropOutModeBack;
        break;
    }
}

void encodeScanParameter(const SScanParameter& p, std::uint8_t* data) {
    switch (p.page) {
    case 0:
        data[3] = (p.flag1 ? 0x01 : 0) | (p.flag2 ? 0x04 : 0) | (p.flag3 ? 0x08 : 0) |
                  (p.flag4 ? 0x40 : 0);
        break;
    case 1:
        putBE16(data + 7, p.value1);
        putBE16(data + 9, p.value2);
        break;
    case 2:
        data[6] = (p.flagA ? 0x04 : 0) | (p.flagB ? 0x40 : 0) | (p.flagC ? 0x80 : 0);
        putBE16(data + 8, p.value);
        break;
    case 3: data[6] = p.flag ? 0x10 : 0; break;
    case 6: std::memcpy(data + 9, p.bytes, sizeof p.bytes); break;
    default: break;   // pages 4 and 5 carry no data
    }
}

constexpr std::size_t kWindowHeaderSize = kWindowSize - kWindowDescriptorSize;

void encodeWindow(const SScanWindow& w, std::uint8_t* data) {
    putBE16(data + 6, kWindowDescriptorSize);
    std::uint8_t* d = data + kWindowHeaderSize;
    d[0] = w.windowId;
    putBE16(d + 2, w.xResolution);
    putBE16(d + 4, w.yResolution);
    putBE32(d + 6, w.left);
    putBE32(d + 10, static_cast<std::uint32_t>(w.top));
    putBE32(d + 14, w.width);
    putBE32(d + 18, w.length);
    d[22] = w.brightness;
    d[24] = w.contrast;
    d[25] = w.imageComposition;
    d[26] = w.bitsPerPixel;
    d[29] = 0x10;
    d[32] = w.compressionType;
    d[33] = w.compressionArgument;
}

void decodeWindow(const std::uint8_t* data, SScanWindow& w) {
    const std::uint8_t* d = data + kWindowHeaderSize;
    w.xResolution = getBE16(d + 2);
    w.yResolution = getBE16(d + 4);
    w.left = getBE32(d + 6);
    w.top = static_cast<std::int32_t>(getBE32(d + 10));
    w.width = getBE32(d + 14);
    w.length = getBE32(d + 18);
    w.brightness = d[22];
    w.contrast = d[24];
    w.imageComposition = d[25];
    w.bitsPerPixel = d[26];
}

void encodeAdjust(const SAdjustInfo& a, std::uint8_t* data) {
    std::memcpy(data, a.Gain1, 3);
    data[3] = a.Reserved1;
    std::memcpy(data + 4, a.Offset1, 3);
    data[7] = a.Reserved2;
    const std::uint16_t words[6] = {a.RedLED,    a.GreenLED,  a.BlueLED,
                                    a.Reserved3, a.Reserved4, a.Reserved5};
    for (int i = 0; i < 6; ++i) putBE16(data + 8 + 2 * i, words[i]);
}

void decodeCapability(const std::uint8_t* b, SDeviceCapabilty& c) {
    c.xBaseResolution = getBE16(b + 5);
    c.yBaseResolution = getBE16(b + 7);
    c.byte9High = b[9] >> 4;
    c.byte9Low = b[9] & 15;
    for (int i = 0; i < 4; ++i) c.values[i] = getBE16(b + 10 + 2 * i);
    c.value = getBE16(b + 18);
    c.maxWidth = getBE32(b + 20);
    c.maxLength = getBE32(b + 24);
    c.byte28 = b[28];
    c.byte38 = b[38];
    c.options = static_cast<std::uint32_t>(b[29]) << 16 | static_cast<std::uint32_t>(b[30]) << 8 |
                b[31];
    c.words[0] = getBE32(b + 40);
    c.words[1] = getBE32(b + 44);
}

void copyField(char* out, const std::uint8_t* field, std::size_t length) {
    if (out == nullptr) return;
    std::memcpy(out, field, length);
    out[length] = '\0';
}

}  // namespace

void CTavrKd::SetupCommandContainer(std::uint8_t opcode, SCommand* command) {
    std::memset(command->bytes, 0, sizeof command->bytes);
    putBE32(command->bytes, kCommandContainerLength);
    putBE16(command->bytes + 4, kContainerCommand);
    putBE16(command->bytes + 6, kCommandCode);
    command->bytes[kCdbOffset] = opcode;
}

void CTavrKd::SetupDataContainer(unsigned long size, SCommand* command) {
    std::memset(command->bytes, 0, sizeof command->bytes);
    fillDataHeader(command->bytes, size);
}

KdError CTavrKd::WriteAll(const void* buffer, std::size_t size) {
    return WriteData(buffer, size, kTransferTimeoutMs, kTransferTimeoutMs);
}

KdError CTavrKd::ReadSome(void* buffer, unsigned long* size) {
    return ReadData(buffer, size, kTransferTimeoutMs, kTransferTimeoutMs);
}

KdError CTavrKd::ReadExactly(void* buffer, std::size_t size) {
    unsigned long got = size;
    if (const KdError e = ReadSome(buffer, &got); e != kderr::kSuccess) return e;
    return got == size ? kderr::kSuccess : kderr::kIOError;
}

KdError CTavrKd::GetResponse(unsigned long* status) {
    std::uint8_t reply[kStatusSize];
    if (const KdError e = ReadExactly(reply, sizeof reply); e != kderr::kSuccess) return e;
    const std::uint32_t word = getBE32(reply);
    if (status != nullptr) *status = word;
    return word == 0 ? kderr::kSuccess : kderr::kCheckCondition;
}

KdError CTavrKd::Transact(const SCommand& command, const void* data,
                          std::size_t dataContainerSize, void* reply, std::size_t replySize) {
    if (const KdError e = WriteAll(command.bytes, kCommandContainerSize); e != kderr::kSuccess)
        return e;
    if (data != nullptr) {
        if (const KdError e = WriteAll(data, dataContainerSize); e != kderr::kSuccess) return e;
    }
    if (reply != nullptr) {
        if (const KdError e = ReadExactly(reply, replySize); e != kderr::kSuccess) return e;
    }
    return GetResponse(nullptr);
}

KdError CTavrKd::DecodeSense(unsigned long sense) {
    const unsigned key = (sense >> 16) & 0x0F;
    const unsigned code = sense & 0xFFFF;   // ASC << 8 | ASCQ
    switch (key) {
    case 0x0: return kderr::kSuccess;
    case 0x2: return kderr::kNotReady;
    case 0x3:
        switch (code) {
        case 0x3A00: return kderr::kNoDocument;
        case 0x6000: return kderr::kMediumError;
        case 0x8000: return kderr::kPaperJam;
        case 0x8001: return kderr::kCoverOpen;
        case 0x8101: return kderr::kDoubleFeed;
        case 0x8102: return kderr::kSkewDetected;
        default: return kderr::kUnknown;
        }
    case 0x4: return kderr::kHardwareError;
    case 0x5:
        switch (code) {
        case 0x2C00: return kderr::kSequenceError;
        case 0x5500: return kderr::kResourceFailure;
        case 0x3A00: return kderr::kNoDocument;
        default: return kderr::kIllegalRequest;
        }
    case 0x6: return code == 0x2900 ? kderr::kNotReady : kderr::kUnknown;
    case 0xB: return code == 0x8000 ? kderr::kTimeout : kderr::kUnknown;
    default: return kderr::kUnknown;
    }
}

KdError CTavrKd::RecoverError(KdError error) {
    if (error == kderr::kPipeStalled) {
        if (const KdError e = ClearIO(); e != kderr::kSuccess) return e;
    } else if (error != kderr::kCheckCondition) {
        return error;
    }
    unsigned long sense = 0;
    if (const KdError e = ExecRequestSense(&sense, nullptr, nullptr); e != kderr::kSuccess)
        return e;
    return DecodeSense(sense);
}

KdError CTavrKd::ExecNoData(std::uint8_t opcode) {
    SCommand command;
    SetupCommandContainer(opcode, &command);
    return Transact(command, nullptr, 0, nullptr, 0);
}

KdError CTavrKd::ExecTestUnitReady() { return ExecNoData(kdop::kTestUnitReady); }

KdError CTavrKd::ExecReserveUnit() { return ExecNoData(kdop::kReserveUnit); }

KdError CTavrKd::ExecReleaseUnit() { return ExecNoData(kdop::kReleaseUnit); }

KdError CTavrKd::ExecErrorClear() { return ExecNoData(kdop::kErrorClear); }

KdError CTavrKd::ExecStopBatch() { return ExecNoData(kdop::kStopBatch); }

KdError CTavrKd::ExecRequestSense(unsigned long* sense, unsigned char* eom, unsigned long* info) {
    SCommand command;
    SetupCommandContainer(kdop::kRequestSense, &command);
    cdb(command)[4] = kSenseSize;
    std::uint8_t b[kSenseSize];
    if (const KdError e = Transact(command, nullptr, 0, b, sizeof b); e != kderr::kSuccess)
        return e;
    if (sense != nullptr) *sense = SenseCode(b[2] & 0x0F, b[12], b[13]);
    if (eom != nullptr) *eom = (b[2] >> 6) & 1;
    if (info != nullptr) *info = (b[2] & 0x20) != 0 ? getBE32(b + 3) : 0;
    return kderr::kSuccess;
}

KdError CTavrKd::ExecInquiry(char* vendor, char* product, char* revision,
                             unsigned char* deviceType) {
    SCommand command;
    SetupCommandContainer(kdop::kInquiry, &command);
    cdb(command)[4] = kInquirySize;
    std::uint8_t b[kInquirySize];
    if (const KdError e = Transact(command, nullptr, 0, b, sizeof b); e != kderr::kSuccess)
        return e;
    if (deviceType != nullptr) *deviceType = b[0] & 0x1F;
    copyField(vendor, b + 8, kVendorLength);
    copyField(product, b + 16, kProductLength);
    copyField(revision, b + 32, kRevisionLength);
    return kderr::kSuccess;
}

KdError CTavrKd::ExecInquiryEx(SDeviceCapabilty* capability) {
    if (capability == nullptr) return kderr::kIllegalRequest;
    SCommand command;
    SetupCommandContainer(kdop::kInquiry, &command);
    cdb(command)[1] = 1;
    cdb(command)[2] = 0xF0;
    cdb(command)[4] = kInquiryExSize;
    std::uint8_t b[kInquiryExSize];
    if (const KdError e = Transact(command, nullptr, 0, b, sizeof b); e != kderr::kSuccess)
        return e;
    decodeCapability(b, *capability);
    return kderr::kSuccess;
}

KdError CTavrKd::ExecScan(unsigned long count, const unsigned char* windowIds) {
    if (windowIds == nullptr) return kderr::kIllegalRequest;
    const std::size_t ids = count < 2 ? 1 : 2;
    SCommand command;
    SetupCommandContainer(kdop::kScan, &command);
    cdb(command)[4] = static_cast<std::uint8_t>(ids);
    SCommand data;
    SetupDataContainer(ids, &data);
    std::memcpy(data.bytes + kContainerHeaderSize, windowIds, ids);
    return Transact(command, data.bytes, kContainerHeaderSize + ids, nullptr, 0);
}

KdError CTavrKd::ExecSetWindow(const SScanWindow* window) {
    if (window == nullptr) return kderr::kIllegalRequest;
    SCommand command;
    SetupCommandContainer(kdop::kSetWindow, &command);
    putBE24(cdb(command) + 6, kWindowSize);
    SCommand data;
    SetupDataContainer(kWindowSize, &data);
    encodeWindow(*window, data.bytes + kContainerHeaderSize);
    return Transact(command, data.bytes, kContainerHeaderSize + kWindowSize, nullptr, 0);
}

KdError CTavrKd::ExecGetWindow(SScanWindow* window) {
    if (window == nullptr) return kderr::kIllegalRequest;
    SCommand command;
    SetupCommandContainer(kdop::kGetWindow, &command);
    putBE24(cdb(command) + 6, kWindowSize);
    std::uint8_t b[kWindowSize];
    if (const KdError e = Transact(command, nullptr, 0, b, sizeof b); e != kderr::kSuccess)
        return e;
    decodeWindow(b, *window);
    return kderr::kSuccess;
}

KdError CTavrKd::ExecRead(unsigned long* size, unsigned char* buffer, unsigned long dataType) {
    // Refused before anything is sent: an unknown type or a size the CDB cannot carry.
    if (size == nullptr || dataType >= kReadTypeCount || *size > kMaxCdbLength ||
        (buffer == nullptr && *size != 0))
        return kderr::kIllegalRequest;
    SCommand command;
    setupTransfer(kdop::kRead, kReadTypes[dataType], *size, command);
    if (const KdError e = WriteAll(command.bytes, kCommandContainerSize); e != kderr::kSuccess) {
        *size = 0;
        return e;
    }
    if (*size != 0) {
        if (const KdError e = ReadSome(buffer, size); e != kderr::kSuccess) return e;
    }
    return GetResponse(nullptr);
}

KdError CTavrKd::ExecSend(unsigned long size, const unsigned char* data, unsigned long dataType) {
    const DataType* type = nullptr;
    if (dataType == kDataTypeServiceBlock || dataType == kDataTypeSettingsBlock)
        type = &kReadTypes[dataType];
    else if (dataType == kDataTypeShading)
        type = &kShadingType;
    if (type == nullptr || size > kMaxCdbLength || (data == nullptr && size != 0))
        return kderr::kIllegalRequest;
    SCommand command;
    setupTransfer(kdop::kSend, *type, size, command);

    // Small data goes in the local buffer behind its header, more in a buffer of its own.
    SCommand local;
    std::unique_ptr<std::uint8_t[]> allocated;
    std::uint8_t* container = local.bytes;
    if (size <= kLocalDataLimit) {
        SetupDataContainer(size, &local);
    } else {
        allocated.reset(new (std::nothrow) std::uint8_t[size + kContainerHeaderSize]);
        if (!allocated) return kderr::kOutOfMemory;
        container = allocated.get();
        fillDataHeader(container, size);
    }
    if (size != 0) std::memcpy(container + kContainerHeaderSize, data, size);
    return Transact(command, container, kContainerHeaderSize + size, nullptr, 0);
}

KdError CTavrKd::ExecObjectPosition(unsigned long action) {
    static constexpr std::uint8_t kActionCodes[] = {0, 1, 4};
    if (action >= std::size(kActionCodes)) return kderr::kIllegalRequest;
    SCommand command;
    SetupCommandContainer(kdop::kObjectPosition, &command);
    cdb(command)[1] = kActionCodes[action];
    return Transact(command, nullptr, 0, nullptr, 0);
}

KdError CTavrKd::ExecGetMemory(unsigned long address, unsigned long size, unsigned char* buffer) {
    if (size == 0) return kderr::kSuccess;
    // The address is a 32-bit CDB field; the range must not run past it.
    constexpr unsigned long long kAddressSpace = 0x100000000ULL;
    if (buffer == nullptr || address >= kAddressSpace ||
        static_cast<unsigned long long>(size) > kAddressSpace - address)
        return kderr::kIllegalRequest;
    unsigned long done = 0;
    while (done < size) {
        const unsigned long chunk = std::min<unsigned long>(size - done, kMemoryChunkSize);
        SCommand command;
        SetupCommandContainer(kdop::kGetMemory, &command);
        putBE32(cdb(command) + 2, address + done);
        putBE16(cdb(command) + 7, chunk);
        if (const KdError e = WriteAll(command.bytes, kCommandContainerSize); e != kderr::kSuccess)
            return e;
        unsigned long got = chunk;
        if (const KdError e = ReadSome(buffer + done, &got); e != kderr::kSuccess) return e;
        const KdError status = GetResponse(nullptr);
        // A chunk without data would never finish the read.
        if (got == 0) return kderr::kIOError;
        if (status != kderr::kSuccess) return status;
        done += got;
    }
    return kderr::kSuccess;
}

KdError CTavrKd::ExecGetScannerStatus(unsigned char* paper, unsigned char* other) {
    SCommand command;
    SetupCommandContainer(kdop::kGetScannerStatus, &command);
    cdb(command)[4] = kScannerStatusSize;
    std::uint8_t b[kScannerStatusSize];
    if (const KdError e = Transact(command, nullptr, 0, b, sizeof b); e != kderr::kSuccess)
        return e;
    if (paper != nullptr) *paper = (b[0] >> 2) & 1;
    if (other != nullptr) *other = b[0] & 1;
    return kderr::kSuccess;
}

KdError CTavrKd::ExecDefineScanMode(const SScanModeParam* mode) {
    if (mode == nullptr || mode->page >= kScanModePageCount) return kderr::kIllegalRequest;
    SCommand command;
    SetupCommandContainer(kdop::kDefineScanMode, &command);
    cdb(command)[1] = 0x10;
    cdb(command)[4] = kScanModeSize;
    SCommand data;
    SetupDataContainer(kScanModeSize, &data);
    encodeScanMode(*mode, data.bytes + kContainerHeaderSize);
    return Transact(command, data.bytes, kContainerHeaderSize + kScanModeSize, nullptr, 0);
}

KdError CTavrKd::ExecSetAdjustData(const SAdjustInfo* front, const SAdjustInfo* back) {
    if (front == nullptr || back == nullptr) return kderr::kIllegalRequest;
    SCommand command;
    SetupCommandContainer(kdop::kSetAdjustData, &command);
    cdb(command)[5] = 3;
    cdb(command)[8] = kAdjustDataSize;
    SCommand data;
    SetupDataContainer(kAdjustDataSize, &data);
    encodeAdjust(*front, data.bytes + kContainerHeaderSize);
    encodeAdjust(*back, data.bytes + kContainerHeaderSize + kAdjustDataSize / 2);
    return Transact(command, data.bytes, kContainerHeaderSize + kAdjustDataSize, nullptr, 0);
}

KdError CTavrKd::ExecSetScanParameter(const SScanParameter* parameter, unsigned short value) {
    if (parameter == nullptr || parameter->page >= kScanParameterPageCount)
        return kderr::kIllegalRequest;
    SCommand command;
    SetupCommandContainer(kdop::kSetScanParameter, &command);
    cdb(command)[2] = parameter->page;
    putBE16(cdb(command) + 4, value);
    cdb(command)[8] = kScanParameterSize;
    // This command answers a status before its data and another after it.
    if (const KdError e = WriteAll(command.bytes, kCommandContainerSize); e != kderr::kSuccess)
        return e;
    if (const KdError e = GetResponse(nullptr); e != kderr::kSuccess) return e;
    SCommand data;
    SetupDataContainer(kScanParameterSize, &data);
    encodeScanParameter(*parameter, data.bytes + kContainerHeaderSize);
    if (const KdError e = WriteAll(data.bytes, kContainerHeaderSize + kScanParameterSize);
        e != kderr::kSuccess)
        return e;
    return GetResponse(nullptr);
}
