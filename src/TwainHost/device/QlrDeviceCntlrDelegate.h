// What the device controller asks of the application controller: the one
// interface between the TWAIN host and AppMainCntlr. The page transfer uses
// the second group.
#pragma once

#include <array>
#include <memory>
#include <string>

class ImageInfoModel;
class JobModel;

struct QlrPreviewSize {
    double width = 0;
    double height = 0;
};

class QlrDeviceCntlrDelegate {
public:
    virtual ~QlrDeviceCntlrDelegate() = default;

    // Opening, closing and device events.
    virtual void sendChangeValidWatchingDeviceBtn(bool isValid) = 0;
    virtual void scanReadyByTwainCB() = 0;
    virtual void setAppState(int state) = 0;
    virtual void setAppStateNum(int state) = 0;
    virtual bool isExeScningState() = 0;
    virtual bool isScnCancelOnMain() = 0;
    virtual void scanCancelOnMainFromDeviveCntlr() = 0;
    virtual void setIsInvalidScanCancelOnMain(bool isInvalid) = 0;
    virtual int countOfImgInfoDict() = 0;

    // The page transfer. The page's worker thread calls isScnCancelOnMain,
    // scanCancelOnMainFromDeviveCntlr and setIsWriteFileCancel directly;
    // everything else reaches the delegate on the main thread (addImgInfo
    // queued, the rest waited for).
    virtual QlrPreviewSize previewSizeByMainWindow(bool flag) = 0;
    virtual QlrPreviewSize previewSizeWithLimitationForIKImageBrowserMemLeak(bool isOneBit) = 0;
    virtual void addImgInfo(std::shared_ptr<ImageInfoModel> info) = 0;
    virtual void setIsWriteFileCancel(bool isCancel) = 0;
    virtual void setStateInfoStrForProcWinForPfm(const std::array<std::string, 2>& texts) = 0;
    virtual std::shared_ptr<JobModel> tmpCopyJobModel_Scan() = 0;
    virtual bool isErrInFinalOutput() = 0;
    virtual bool isFinScanAndWritedFile(bool isFinScan, int index) = 0;
};
