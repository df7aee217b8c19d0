// The scanned pages of a job in scan order, the page threads that write
// them in that order, the counters that tell when the scan is over and
// every page written, and the one cancel of a scan that reaches the main
// thread.
#include "AppMainCntlr.h"
#include "ListMove.h"

#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"

#include <foundation/RunLoop.h>

#include <filesystem>
#include <thread>

namespace {

// The main-thread cancel latch: one cancel per scan.
std::atomic<bool> sIsInvalidScanCancelOnMain{false};

constexpr std::string_view kTmpImgNamePart = "tmpImg";

} // namespace

void AppMainCntlr::initImgInfoArray() {
    {
        std::lock_guard lock(imageInfoLock_);
        if (imageInfoModel_List_) return;
        imageInfoModel_List_.emplace();
    }
    {
        std::lock_guard lock(turnLock_);
        firstUnfinished_ = 0;
        finished_.clear();
    }
    outputWriterPort()->initWriteFilePathArray(true);
}

bool AppMainCntlr::hasImgInfoArray() const {
    std::lock_guard lock(imageInfoLock_);
    return imageInfoModel_List_.has_value();
}

void AppMainCntlr::releaseImgInfoArray(bool isDeleteFiles) {
    {
        std::lock_guard lock(imageInfoLock_);
        if (!imageInfoModel_List_) return;
        imageInfoModel_List_.reset();
    }
    // Pages still waiting for their turn give up.
    {
        std::lock_guard lock(turnLock_);
        ++turnGeneration_;
        firstUnfinished_ = 0;
        finished_.clear();
    }
    turnChanged_.notify_all();

    if (auto* d = deviceCntlr()) d->resetTmpFileIndex();
    clearIsFinScanAndWritedFile();
    outputWriterPort()->releaseWriteFilePathArray(isDeleteFiles, true);
    setIsOpenPDF(false);
    setTmpPanelModel_Setting(nullptr);
    setTmpCopyInputModel_Setting(nullptr);
    setTmpCopyJobModel_Scan(nullptr);

    if (!preImageModel_List().empty()) setPreImageModel_List({});
    setPreDisplayIndex(-1);
    auto preview = previewPort();
    preview->revertEditingImage();
    preview->clearPreviewImage();
    preview->reloadPageBrowser();
}

std::shared_ptr<ImageInfoModel> AppMainCntlr::imgInfoAtIndex(int index) const {
    std::lock_guard lock(imageInfoLock_);
    if (!imageInfoModel_List_ || index < 0 || std::size_t(index) >= imageInfoModel_List_->size()) return nullptr;
    return (*imageInfoModel_List_)[std::size_t(index)];
}

int AppMainCntlr::countOfImgInfo() const {
    std::lock_guard lock(imageInfoLock_);
    return imageInfoModel_List_ ? int(imageInfoModel_List_->size()) : 0;
}

int AppMainCntlr::countOfImgInfoDict() { return countOfImgInfo(); }

void AppMainCntlr::addImgInfo(std::shared_ptr<ImageInfoModel> info) {
    if (!info) return;
    PageParam param;
    {
        std::lock_guard lock(imageInfoLock_);
        if (!imageInfoModel_List_) return;
        param.index = int(imageInfoModel_List_->size());
        imageInfoModel_List_->push_back(info);
    }
    param.page = std::move(info);

    auto job = tmpCopyJobModel_Scan();
    if ((job && job->isImageProcess()) || isErrInFinalOutput()) {
        auto preview = previewPort();
        kdf::RunLoop::performOnMainThread([preview, param] { preview->displayOfPreview(param); }, true);
        return;
    }
    // Counted before the thread starts, so that whoever asks right after the
    // page arrived sees it running.
    upReadImgFileForJobScnCount();
    ++runningThreads_;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(turnLock_);
        generation = turnGeneration_;
    }
    std::thread([this, param = std::move(param), generation] { runPageThread(param, generation); }).detach();
}

void AppMainCntlr::runPageThread(const PageParam& param, std::uint64_t generation) {
    if (waitForPageTurn(param.index, generation)) outputWriterPort()->readImgFileForJobScn(param);
    finishPageTurn(param.index, generation);
    downReadImgFileForJobScnCount();
    --runningThreads_;
}

bool AppMainCntlr::waitForPageTurn(int index) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(turnLock_);
        generation = turnGeneration_;
    }
    return waitForPageTurn(index, generation);
}

bool AppMainCntlr::waitForPageTurn(int index, std::uint64_t generation) {
    std::unique_lock lock(turnLock_);
    turnChanged_.wait(lock, [&] { return turnGeneration_ != generation || index <= firstUnfinished_; });
    return turnGeneration_ == generation;
}

void AppMainCntlr::finishPageTurn(int index, std::uint64_t generation) {
    {
        std::lock_guard lock(turnLock_);
        // A page of a list that went away, or one whose turn is past.
        if (generation != turnGeneration_ || index < firstUnfinished_) return;
        finished_.insert(index);
        while (!finished_.empty() && *finished_.begin() == firstUnfinished_) {
            finished_.erase(finished_.begin());
            ++firstUnfinished_;
        }
    }
    turnChanged_.notify_all();
}

void AppMainCntlr::removeImgInfoByIndexOver(int index) {
    if (index < 0) return;
    bool removed = false;
    {
        std::lock_guard lock(imageInfoLock_);
        if (isWriteFileCancel() && imageInfoModel_List_ && !imageInfoModel_List_->empty()) {
            while (imageInfoModel_List_->size() > std::size_t(index) + 1) {
                imageInfoModel_List_->pop_back();
                removed = true;
            }
        }
    }
    if (removed) {
        // Writing was cancelled: pages still waiting give up, and pages
        // added later, which take the dropped indexes again, follow the kept
        // ones.
        {
            std::lock_guard lock(turnLock_);
            ++turnGeneration_;
            firstUnfinished_ = index + 1;
            finished_.clear();
        }
        turnChanged_.notify_all();
    }
    removeDisusedTmpFile();
    previewPort()->renewTempArrayOfPre();
}

void AppMainCntlr::removeDisusedTmpFile() {
    namespace fs = std::filesystem;
    const auto folder = QlrUtilsMethod::createAndTmpImgFolderPath();
    if (!folder) return;
    std::error_code ec;
    fs::directory_iterator it(*folder, ec);
    if (ec) return;
    std::set<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return;
        names.insert(it->path().filename().string());
    }
    if (names.empty()) return;
    {
        std::lock_guard lock(imageInfoLock_);
        if (imageInfoModel_List_) {
            for (const auto& page : *imageInfoModel_List_) {
                if (page) names.erase(fs::path(page->imgInfo_TmpImagePath()).filename().string());
            }
        }
    }
    for (const auto& name : names) {
        if (name.find(kTmpImgNamePart) == std::string::npos) continue;
        fs::remove(fs::path(*folder) / name, ec);
    }
}

// ---- Counters -------------------------------------------------------------------------------

bool AppMainCntlr::isFinScanAndWritedFile(bool isFinScan, int index) {
    std::lock_guard lock(finScanAndWritedFileLock_);
    if (index < 0)
        isFinScanLastIndex_ = isFinScan;
    else
        countWritedFile_ = index + 1;
    return isFinScanLastIndex_ && countWritedFile_ == countOfImgInfo();
}

void AppMainCntlr::clearIsFinScanAndWritedFile() {
    std::lock_guard lock(finScanAndWritedFileLock_);
    isFinScanLastIndex_ = false;
    countWritedFile_ = 0;
}

void AppMainCntlr::clearIsFinScan() {
    std::lock_guard lock(finScanAndWritedFileLock_);
    isFinScanLastIndex_ = false;
}

bool AppMainCntlr::isFinScanLastIndex() const {
    std::lock_guard lock(finScanAndWritedFileLock_);
    return isFinScanLastIndex_;
}

int AppMainCntlr::countWritedFile() const {
    std::lock_guard lock(finScanAndWritedFileLock_);
    return countWritedFile_;
}

// ---- Cancel ---------------------------------------------------------------------------------

void AppMainCntlr::setIsInvalidScanCancelOnMain(bool isInvalid) { sIsInvalidScanCancelOnMain.store(isInvalid); }
bool AppMainCntlr::isInvalidScanCancelOnMain() const { return sIsInvalidScanCancelOnMain.load(); }

void AppMainCntlr::scanCancelOnMainFromDeviveCntlr() {
    const int s = appState();
    bool counts = false;
    if (s == kAppStateScanReady || s == kAppStateScanning)
        counts = wasSentCancelToDSOnCntlr();
    else if (s >= kAppStateScanWriting && s <= 199)
        counts = true;
    if (!counts) return;
    // Tested and set in one step: of several callers only the first passes.
    if (sIsInvalidScanCancelOnMain.exchange(true)) return;
    kdf::RunLoop::performOnMainThread([this] { scanCancelOnMain(); }, true);
}

// ---- The page browser's edits ------------------------------------------------------------------

bool AppMainCntlr::moveImgInfos(const std::set<int>& indexes, int destination) {
    std::lock_guard lock(imageInfoLock_);
    return imageInfoModel_List_ && qlr::moveItemsInList(*imageInfoModel_List_, indexes, destination);
}

int AppMainCntlr::removeImgInfos(const std::set<int>& indexes) {
    std::lock_guard lock(imageInfoLock_);
    if (!imageInfoModel_List_ || indexes.empty() || *indexes.begin() < 0 ||
        *indexes.rbegin() >= int(imageInfoModel_List_->size()))
        return 0;
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        const auto& page = (*imageInfoModel_List_)[std::size_t(*it)];
        if (page) {
            std::error_code ignored;
            for (const std::string& path : {page->imgInfo_TmpImagePath(), page->imgInfo_DstImagePath()})
                if (!path.empty()) std::filesystem::remove(path, ignored);
        }
        imageInfoModel_List_->erase(imageInfoModel_List_->begin() + *it);
    }
    return int(indexes.size());
}
