#include "DocScanner.h"

#include <cstring>

CDocScanner::CDocScanner(const void* deviceRecord) {
    if (deviceRecord != nullptr) std::memcpy(&m_desc, deviceRecord, sizeof m_desc);
    m_descMagic = m_desc.magic;
}

CDocScanner::~CDocScanner() = default;

KdError CDocScanner::OpenSession() {
    m_state = kStateOpen;
    return kderr::kSuccess;
}

KdError CDocScanner::CloseSession() {
    m_state = kStateClosed;
    return kderr::kSuccess;
}

KdError CDocScanner::StartScan(tagScanParam*) {
    m_state = kStateScanning;
    return kderr::kSuccess;
}

KdError CDocScanner::FinishScan() {
    m_state = kStateOpen;
    return kderr::kSuccess;
}

KdError CDocScanner::ScanPage(tagScanParam*) {
    m_state = kStateScanning;
    return kderr::kSuccess;
}

KdError CDocScanner::ScanComplete() {
    m_state = kStatePageComplete;
    return kderr::kSuccess;
}

KdError CDocScanner::ReadLines(unsigned char*, unsigned long, unsigned long*) {
    return kderr::kSuccess;
}

KdError CDocScanner::AbortScan() { return kderr::kSuccess; }

KdError CDocScanner::AbortState() { return kderr::kSuccess; }

KdError CDocScanner::GetStatus(const char*, void*) { return kderr::kSuccess; }

std::uint32_t CDocScanner::GetState() { return m_state; }

KdError CDocScanner::GetScannerError() { return m_scannerError; }

void CDocScanner::SetScannerError(unsigned long error) {
    m_scannerError = static_cast<KdError>(error);
}

KdError CDocScanner::DecodeIOResult(unsigned long result) {
    return result == 0 ? kderr::kSuccess : kderr::kUnknown;
}

KdError CDocScanner::ClearIO() { return kderr::kSuccess; }
