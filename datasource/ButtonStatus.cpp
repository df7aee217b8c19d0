#include "ButtonStatus.h"

#include "ScannerLock.h"
#include "TavrKd.h"

#include <memory>

std::int32_t KdButtonStatus(std::uint32_t* status, unsigned long* locationID,
                            const std::vector<SKdDeviceId>& ids) {
    if (locationID != nullptr) *locationID = 0;
    KdExclusiveLock* lock = CreateExclusiveLockObject(kKdScannerLockName);
    if (lock == nullptr) return -2;
    if (!LockObject(lock, false, 0)) {
        DestroyExclusiveLockObject(lock);
        return -2;
    }
    std::int32_t result = -1;
    SScannerList* list = nullptr;
    for (const SKdDeviceId& id : ids) {
        SScannerDesc templ{};
        templ.magic = kScannerDescMagic;
        templ.vendorId = id.vendor;
        templ.productId = id.product;
        list = CDocUSBScanner::CreateScannerList(&templ);
        if (list != nullptr && !list->records.empty()) break;
        CDocUSBScanner::ReleaseScannerList(list);
        list = nullptr;
    }
    if (list != nullptr) {
        auto scanner = std::make_unique<CTavrKd>(&list->records[0]);
        CDocUSBScanner::ReleaseScannerList(list);
        result = -3;
        if (scanner->OpenSession() == kderr::kSuccess) {
            if (locationID != nullptr) *locationID = scanner->GetLocationID();
            KdError e = scanner->StartScan(nullptr);
            // The first command after power-on answers a unit attention.
            if (e == kderr::kNotReady) e = scanner->StartScan(nullptr);
            if (e == kderr::kSuccess) {
                std::uint32_t keys = 0;
                std::uint8_t ready = 0;
                if (scanner->GetStatus("OperationpanelEZKeyStatus", &keys) == kderr::kSuccess &&
                    scanner->GetStatus("DocumentReadyStatus", &ready) == kderr::kSuccess) {
                    // Paper in the hopper and no sheet in the path.
                    if ((ready & 9) == 8) keys |= 1u << 16;
                    if (status != nullptr) *status = keys;
                    result = 0;
                }
            }
            scanner->FinishScan();
            scanner->CloseSession();
        }
    }
    UnlockObject(lock);
    DestroyExclusiveLockObject(lock);
    return result;
}

KD_BUTTON_EXPORT std::int32_t GetKdButtonStatus(std::uint32_t* status, unsigned long* locationID) {
    return KdButtonStatus(status, locationID, KdBundleDeviceIds());
}
