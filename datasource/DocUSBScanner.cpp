#include "DocUSBScanner.h"

#include "kdusb/KdUsb.h"

#include <climits>
#include <cstring>
#include <limits>

namespace {

// Time-outs beyond what the layer takes are cut to its largest, not wrapped.
std::uint32_t timeoutMs(unsigned long ms) {
    return ms > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                          : static_cast<std::uint32_t>(ms);
}

}  // namespace

CDocUSBScanner::CDocUSBScanner(const void* deviceRecord) : CDocScanner(deviceRecord) {
    if (m_desc.magic == kScannerDescMagic && m_desc.device != nullptr) {
        m_device = m_desc.device;
        m_device->retain();
    }
}

CDocUSBScanner::~CDocUSBScanner() {
    if (m_device == nullptr) return;
    if (m_state != kStateClosed) m_device->close();
    m_device->release();
}

SScannerList* CDocUSBScanner::CreateScannerList(const SScannerDesc* templ) {
    if (templ == nullptr || templ->magic != kScannerDescMagic) return nullptr;
    std::vector<kdusb::Device*> devices;
    kdusb::findDevices(templ->vendorId, templ->productId, devices);
    if (devices.empty()) return nullptr;
    auto* list = new SScannerList;
    list->records.reserve(devices.size());
    for (kdusb::Device* device : devices) {
        SScannerDesc record;
        std::memcpy(&record, templ, sizeof record);
        record.device = device;   // the reference findDevices gave
        list->records.push_back(record);
    }
    return list;
}

void CDocUSBScanner::ReleaseScannerList(const SScannerList* list) {
    if (list == nullptr) return;
    for (const SScannerDesc& record : list->records)
        if (record.magic == kScannerDescMagic && record.device != nullptr) record.device->release();
    delete list;
}

KdError CDocUSBScanner::OpenSession() {
    if (m_device != nullptr) {
        if (const kdusb::Result r = m_device->open(); r != kdusb::kSuccess)
            return DecodeIOResult(r);
        m_interfaceOpen = m_device->interfaceOpen();
        m_locationId = m_device->locationId();
    }
    m_state = kStateOpen;
    return kderr::kSuccess;
}

KdError CDocUSBScanner::CloseSession() {
    if (m_device != nullptr) m_device->close();
    m_interfaceOpen = false;
    m_inPipe = 0;
    m_outPipe = 0;
    m_state = kStateClosed;
    return kderr::kSuccess;
}

KdError CDocUSBScanner::DecodeIOResult(unsigned long result) {
    switch (result) {
    case kdusb::kSuccess: return kderr::kSuccess;
    case kdusb::kNoDevice:
    case kdusb::kNoPower:
    case kdusb::kNotResponding:
    case kdusb::kNotFound: return kderr::kDeviceLost;
    case kdusb::kBusy: return kderr::kDeviceBusy;
    case kdusb::kIOError: return kderr::kIOError;
    case kdusb::kPipeStalled: return kderr::kPipeStalled;
    case kdusb::kTransactionTimeout: return kderr::kTimeout;
    default: return CDocScanner::DecodeIOResult(result);
    }
}

bool CDocUSBScanner::PipesReady() const {
    return m_device != nullptr && m_interfaceOpen && m_inPipe != 0 && m_outPipe != 0;
}

KdError CDocUSBScanner::ReadData(void* buffer, unsigned long* size, unsigned long noDataTimeout,
                                 unsigned long completionTimeout) {
    if (size == nullptr) return kderr::kIllegalRequest;
    if (!PipesReady()) {
        *size = 0;
        return kderr::kDeviceLost;
    }
    std::size_t moved = *size;
    const kdusb::Result r = m_device->readPipe(m_inPipe, buffer, moved, timeoutMs(noDataTimeout),
                                               timeoutMs(completionTimeout));
    *size = moved;
    return DecodeIOResult(r);
}

KdError CDocUSBScanner::WriteData(const void* buffer, unsigned long size,
                                  unsigned long noDataTimeout, unsigned long completionTimeout) {
    if (!PipesReady()) return kderr::kDeviceLost;
    std::size_t moved = size;
    const kdusb::Result r = m_device->writePipe(m_outPipe, buffer, moved, timeoutMs(noDataTimeout),
                                                timeoutMs(completionTimeout));
    // A write that stopped short without an error is still a failed write.
    if (r == kdusb::kSuccess && moved != size) return kderr::kIOError;
    return DecodeIOResult(r);
}

KdError CDocUSBScanner::ClearIO() {
    if (!PipesReady()) return kderr::kDeviceLost;
    kdusb::Result r = m_device->clearPipeStallBothEnds(m_inPipe);
    if (r == kdusb::kSuccess) r = m_device->clearPipeStallBothEnds(m_outPipe);
    return DecodeIOResult(r);
}

std::uint32_t CDocUSBScanner::GetLocationID() { return m_locationId; }
