// Helpers for programs that drive the device controller without the
// application: a delegate with nothing to report, to override where a
// program cares, and the current data-source identity it should open.
#pragma once

#include "AppMainCntlrDSInfo.h"
#include "QlrDeviceCntlrDelegate.h"
#include "twain/twain.h"

#include <foundation/Value.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

class QuietDeviceDelegate : public QlrDeviceCntlrDelegate {
public:
    void sendChangeValidWatchingDeviceBtn(bool) override {}
    void scanReadyByTwainCB() override {}
    void setAppState(int) override {}
    void setAppStateNum(int) override {}
    bool isExeScningState() override { return true; }
    bool isScnCancelOnMain() override { return false; }
    void scanCancelOnMainFromDeviveCntlr() override {}
    void setIsInvalidScanCancelOnMain(bool) override {}
    int countOfImgInfoDict() override { return 0; }
    QlrPreviewSize previewSizeByMainWindow(bool) override { return {}; }
    QlrPreviewSize previewSizeWithLimitationForIKImageBrowserMemLeak(bool) override { return {}; }
    void addImgInfo(std::shared_ptr<ImageInfoModel>) override {}
    void setIsWriteFileCancel(bool) override {}
    void setStateInfoStrForProcWinForPfm(const std::array<std::string, 2>&) override {}
    std::shared_ptr<JobModel> tmpCopyJobModel_Scan() override { return nullptr; }
    bool isErrInFinalOutput() override { return false; }
    bool isFinScanAndWritedFile(bool, int) override { return true; }
};

// The identity record of the application's current data source.
inline kdf::Dictionary identityDict(const std::string& maker, const std::string& family, const std::string& product) {
    kdf::Dictionary d;
    d[kManufacturerKey] = maker;
    d[kProductFamilyKey] = family;
    d[kProductNameKey] = product;
    return d;
}

inline void setCurrentIdentity(const std::string& maker, const std::string& family, const std::string& product) {
    AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(identityDict(maker, family, product)));
}

// A source's identity as the manager hands it out.
inline void fillIdentity(TW_IDENTITY& id, const char* maker, const char* family, const char* product) {
    auto put = [](TW_STR32& field, const char* text) {
        std::memset(field, 0, sizeof field);
        std::strncpy(reinterpret_cast<char*>(field), text, sizeof field - 1);
    };
    put(id.Manufacturer, maker);
    put(id.ProductFamily, family);
    put(id.ProductName, product);
}
