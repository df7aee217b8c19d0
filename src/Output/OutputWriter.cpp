#include "OutputWriter.h"

#include "ImageWriters.h"

#include <AppMainCntlr.h>
#include <JobModel.h>
#include <OutputModel.h>
#include <PageModels.h>
#include <PluginRegistryQueries.h>
#include <QlrUtilsMethod.h>
#include <TV_Func.h>
#include <TV_Message.h>

#include <foundation/Bundle.h>
#include <foundation/File.h>
#include <foundation/Format.h>
#include <foundation/RunLoop.h>
#include <foundation/UserFolders.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace qlr_output {

namespace {

[[noreturn]] void fail(const char* key, std::string reason = {}) { throw kdf::Exception(key, std::move(reason)); }

kdf::Exception withSavedCount(const kdf::Exception& e, int count) {
    kdf::Dictionary info = e.userInfo();
    info.insert_or_assign("ErrInfo_SavedFileCount", kdf::Value(count));
    return kdf::Exception(e.name(), e.reason(), std::move(info));
}

// Pages per file of a multi-page format: 0 or below (a damaged setting)
// would divide by zero; the setting's range is 1 to 9999.
int pagesPerFile(int stored) { return std::clamp(stored, 1, 9999); }

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

} // namespace

OutputWriter::OutputWriter(AppMainCntlr& cntlr) : cntlr_(cntlr) {}
OutputWriter::~OutputWriter() = default;

void OutputWriter::setPageFileWriter(int fileFormatType, PageFileWriter writer) {
    writers_[fileFormatType] = std::move(writer);
}

std::shared_ptr<OutputModel> OutputWriter::currentOutput() const {
    auto job = cntlr_.tmpCopyJobModel_Scan();
    return AppMainCntlr::curOutputModelOfJobModel(job.get());
}

bool OutputWriter::isScanWriting() const {
    auto job = cntlr_.tmpCopyJobModel_Scan();
    const int s = cntlr_.appState();
    return job && !job->isImageProcess() && !cntlr_.isErrInFinalOutput() && s >= 100 && s <= 104;
}

void OutputWriter::showError(const kdf::Exception& e) {
    auto presenter = presentError_;
    kdf::RunLoop::performOnMainThread(
        [e, presenter] {
            if (presenter)
                presenter(e);
            else
                TV_Message::showErrorPanel(e);
        },
        true);
}

// ---- Page threads

void OutputWriter::readImgFileForJobScn(const PageParam& param) {
    if (cntlr_.isWriteFileCancel()) return;
    const int index = param.index;
    try {
        if (index < 0 || !param.page) fail("Err_UnknownError", "invalid page");
        writeImageFileByIndex(index, false, std::nullopt, &param);
    } catch (const kdf::Exception& e) {
        cntlr_.setIsWriteFileCancel(true);
        kdf::RunLoop::performOnMainThread([this] { cntlr_.cancelDriver(true); }, true);
        if (index >= 0) {
            waitToFinishScan();
            kdf::RunLoop::performOnMainThread([this, index] { cntlr_.removeImgInfoByIndexOver(index - 1); }, true);
        }
        if (cntlr_.isMainTopState()) return;
        showError(index > 0 ? withSavedCount(e, index) : e);
        sendAppStateByErr();
    }
}

void OutputWriter::readImgFiles() {
    int i = 0;
    try {
        for (; i < cntlr_.countOfImgInfoDict(); ++i)
            writeImageFileByIndex(i, i + 1 == cntlr_.countOfImgInfoDict(), std::nullopt, nullptr);
        // Nothing to write: the output step still runs and reports it.
        if (i == 0) sendAppState();
    } catch (const kdf::Exception& e) {
        showError(i > 0 ? withSavedCount(e, i) : e);
        sendAppStateByErr();
    }
}

void OutputWriter::writeImageFileByIndex(int index, bool isLastIndex, const std::optional<std::string>& remakePath,
                                         const PageParam* param) {
    auto output = currentOutput();
    if (!output || index < 0) fail("Err_UnknownError");
    auto page = cntlr_.imgInfoAtIndex(index);
    if (!page) fail("Err_UnknownError", "no page " + std::to_string(index));
    PageBitmap bitmap = imageRepFromPage(*page);
    reversalImageBW(bitmap, output->fileFormatType());
    conversionRGBToBGRImage(bitmap, output->fileFormatType());
    exeWriteImgFiles(index, bitmap, isLastIndex, remakePath, param);
}

bool OutputWriter::startsFile(const OutputModel& output, int index) const {
    switch (output.fileFormatType()) {
    case kFormatPDF:
        return output.fileOp_MultiType_PDF() == 0 ? index == 0 : index % pagesPerFile(output.multiPageNum_PDF()) == 0;
    case kFormatTIFF:
        return output.fileOp_MultiType_TIFF() == 0 ? index == 0
                                                   : index % pagesPerFile(output.multiPageNum_TIFF()) == 0;
    default: return true;
    }
}

void OutputWriter::writePage(const OutputModel& output, const PageBitmap& bitmap, const std::string* path, int index,
                             bool isLastIndex) {
    const int format = output.fileFormatType();
    if (format == kFormatJPEG || format == kFormatPNG) {
        if (!path) fail("Err_MakeFileNameFailed");
        if (format == kFormatJPEG)
            writeToJPEG(bitmap, *path, output.compRate_JPEG());
        else
            writeToPNG(bitmap, *path);
        return;
    }
    auto it = writers_.find(format);
    if (it == writers_.end() || !it->second) fail("Err_UnknownError", "no writer for the format");
    if (!it->second(bitmap, path, index, isLastIndex, output)) fail("Err_UnknownError");
}

void OutputWriter::exeWriteImgFiles(int index, const PageBitmap& bitmap, bool isLastIndex,
                                    const std::optional<std::string>& remakePath, const PageParam* param) {
    auto output = currentOutput();
    if (!output) fail("Err_UnknownError");
    const std::string ext = extensionOfFormat(output->fileFormatType());
    if (ext.empty()) fail("Err_UnknownError", "unknown file format");
    // A page without size or resolution can't be written; it is reported
    // instead of vanishing (as the last page it would leave the scan
    // waiting for ever).
    if (bitmap.bpp <= 0 || bitmap.width <= 0 || bitmap.height <= 0 || !(bitmap.xRes > 0) || !(bitmap.yRes > 0))
        fail("Err_UnknownError", "page without size or resolution");

    const bool starts = startsFile(*output, index);
    std::string folder = output->tmpDirForSendPlugin().value_or("");
    if (!kdf::isDirectory(folder)) folder = remakeTmpDirForSendPlugin().value_or("");
    if (!kdf::isDirectory(folder)) folder = TV_Func::defaultPictureFolder();
    if (!kdf::isDirectory(folder) && !(remakePath && fileExists(*remakePath))) fail("Err_NotFoundFile");

    std::optional<std::string> newPath;
    if (starts && !remakePath) newPath = kdf::joinPath(folder, QlrUtilsMethod::uuidString() + "." + ext);
    const std::string* target = remakePath ? &*remakePath : newPath ? &*newPath : nullptr;

    bool listed = false;
    try {
        writePage(*output, bitmap, target, index, isLastIndex);
        if (newPath) {
            {
                std::lock_guard lock(ownLock_);
                ownFiles_.insert(*newPath);
            }
            addWriteFilePath(*newPath);
            listed = true;
        }
        if (param && isScanWriting()) {
            auto preview = cntlr_.previewPort();
            const PageParam copy = *param;
            kdf::RunLoop::performOnMainThread([preview, copy] { preview->displayOfPreview(copy); }, true);
        }
        if (cntlr_.appState() >= 200) {
            auto bundle = kdf::Bundle::main();
            std::string format = bundle ? bundle->localizedString("FixState_Exe_SaveFile", "") : std::string();
            if (format.empty() || format == "FixState_Exe_SaveFile") format = "%d/%d";
            const std::string text = kdf::formatLocalized(
                format, {std::int64_t(index) + 1, std::int64_t(cntlr_.preImageModel_List().size())});
            kdf::RunLoop::performOnMainThread(
                [this, text] { cntlr_.setStateInfoStrForProcWinForPfm({text, ""}); }, true);
        }
        if (isLastIndex) {
            sendAppState();
        } else if (isScanWriting() && cntlr_.isFinScanAndWritedFile(false, index)) {
            sendAppState();
        }
    } catch (...) {
        cntlr_.setIsWriteFileCancel(true);
        if (isScanWriting()) {
            waitToFinishScan();
            if (newPath) {
                if (listed) {
                    std::lock_guard lock(cntlr_.writeFilePathArrayLock());
                    auto list = output->writeFilePathArray();
                    std::erase(list, *newPath);
                    output->setWriteFilePathArray(std::move(list));
                }
                removeOwnFile(*newPath);
            }
        }
        throw;
    }
}

bool OutputWriter::waitToFinishScan() {
    // No device controller: no scan runs. Otherwise the scanner stops
    // soon after a cancel; a source that never reports it must not hold
    // the page thread for ever.
    const auto limit = std::chrono::steady_clock::now() + scanEndLimit_;
    while (cntlr_.deviceCntlr() && !cntlr_.isFinishScan()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void OutputWriter::sendAppState() {
    int state = kAppStateHandOn;
    auto job = cntlr_.tmpCopyJobModel_Scan();
    if (job && !job->isImageProcess() && !cntlr_.isErrInFinalOutput() && cntlr_.appState() < 200) {
        if (!waitToFinishScan()) {
            sendAppStateByErr();
            return;
        }
        const int s = cntlr_.appState();
        state = s >= kAppStateScanFinished ? s : kAppStateScanFinished;
    }
    cntlr_.setAppStateNum(state);
}

void OutputWriter::sendAppStateByErr() {
    auto job = cntlr_.tmpCopyJobModel_Scan();
    int state = kAppStateWriteError;
    if (!(job && job->isImageProcess()) && !cntlr_.isErrInFinalOutput())
        state = cntlr_.appState() > kAppStateScanEnded ? kAppStateWriteError : kAppStateScanEnded;
    cntlr_.setAppStateNum(state);
}

// ---- Written-path lists and the temporary folders

void OutputWriter::addWriteFilePath(const std::string& path) {
    auto output = currentOutput();
    if (!output) return;
    std::lock_guard lock(cntlr_.writeFilePathArrayLock());
    auto list = output->writeFilePathArray();
    list.push_back(path);
    output->setWriteFilePathArray(std::move(list));
}

std::vector<std::string> OutputWriter::cpyWriteFilePathArray() {
    auto output = currentOutput();
    if (!output) return {};
    std::lock_guard lock(cntlr_.writeFilePathArrayLock());
    return output->writeFilePathArray();
}

void OutputWriter::removeOwnFile(const std::string& path) {
    std::lock_guard lock(ownLock_);
    // Only files we wrote, inside a folder we made: a listed path may be the
    // user's final file by now.
    if (!ownFiles_.count(path) || !ownFolders_.count(kdf::folderOf(path))) return;
    ::unlink(path.c_str());
    ownFiles_.erase(path);
}

std::optional<std::string> OutputWriter::makeOwnFolder() {
    auto base = kdf::userTemporaryFolder();
    if (!base) return std::nullopt;
    std::string tmpl = kdf::joinPath(*base, "output.XXXXXX");
    if (!::mkdtemp(tmpl.data())) return std::nullopt;
    std::lock_guard lock(ownLock_);
    ownFolders_.insert(tmpl);
    return tmpl;
}

std::optional<std::string> OutputWriter::remakeTmpDirForSendPlugin() {
    auto job = cntlr_.tmpCopyJobModel_Scan();
    auto output = AppMainCntlr::curOutputModelOfJobModel(job.get());
    if (!output) return std::nullopt;
    std::lock_guard lock(cntlr_.writeFilePathArrayLock());
    auto list = output->writeFilePathArray();
    for (const auto& path : list) removeOwnFile(path);
    std::erase_if(list, [](const std::string& p) { return !fileExists(p); });
    output->setWriteFilePathArray(std::move(list));
    if (auto old = output->tmpDirForSendPlugin()) {
        std::lock_guard own(ownLock_);
        // The Pictures fallback or anything else not ours stays; our own
        // folder goes once it is empty.
        if (ownFolders_.count(*old) && ::rmdir(old->c_str()) == 0) ownFolders_.erase(*old);
    }
    std::string folder = makeOwnFolder().value_or("");
    if (!kdf::isDirectory(folder)) folder = TV_Func::defaultPictureFolder();
    output->setTmpDirForSendPlugin(folder);
    return folder;
}

void OutputWriter::initWriteFilePathArray(bool /*isAllOutputModel*/) {
    // Every output always holds a list (empty when nothing was written);
    // a new batch numbers its final names afresh.
    names_.reset();
}

void OutputWriter::releaseWriteFilePathArray(bool isDeleteFiles, bool isAllOutputModel) {
    auto job = cntlr_.tmpCopyJobModel_Scan();
    std::vector<std::shared_ptr<OutputModel>> outputs;
    if (isAllOutputModel) {
        if (job) outputs = job->jobOutputModel_List();
    } else if (auto cur = AppMainCntlr::curOutputModelOfJobModel(job.get())) {
        outputs.push_back(cur);
    }
    std::lock_guard lock(cntlr_.writeFilePathArrayLock());
    for (const auto& output : outputs) {
        if (!output) continue;
        if (isDeleteFiles && isAllOutputModel)
            for (const auto& path : output->writeFilePathArray()) removeOwnFile(path);
        output->setWriteFilePathArray({});
    }
}

// ---- The output step (main thread)

void OutputWriter::maybeSendFileToPlugin() {
    auto job = cntlr_.tmpCopyJobModel_Scan();
    auto output = AppMainCntlr::curOutputModelOfJobModel(job.get());
    int state = kAppStateComplete;
    try {
        if (!output) fail("Err_UnknownError");
        const std::string pluginID = output->pluginID();
        const bool hasPlugin = !pluginID.empty();
        const std::vector<std::string> files = cpyWriteFilePathArray();

        std::string folder;
        if (hasPlugin) {
            if (!files.empty()) folder = kdf::folderOf(files.front());
        } else {
            switch (output->saveType()) {
            case 0: folder = TV_Func::defaultPictureFolder(); break;
            case 1: folder = TV_Func::defaultDocumentFolder().value_or(""); break;
            case 2: folder = TV_Func::defaultDesktopPath().value_or(""); break;
            default: folder = output->fileSavePath().value_or(""); break;
            }
        }
        if (!kdf::isDirectory(folder)) folder = TV_Func::defaultPictureFolder();
        bool ownFolder = false;
        {
            std::lock_guard lock(ownLock_);
            ownFolder = ownFolders_.count(folder) != 0;
        }

        std::vector<std::string> finals;
        for (const auto& file : files) {
            const std::string name = currentFileName(output.get());
            if (name.empty()) fail("Err_MakeFileNameFailed");
            auto path = names_.checkFilePath(kdf::joinPath(folder, name), *output);
            // The name is checked free, but someone may take it before the
            // move: the move never replaces, a taken name goes on numbering.
            for (int attempt = 0;; ++attempt) {
                if (!path || attempt > 1000) fail("Err_MakeFileNameFailed");
                if (beforePlace_) beforePlace_(*path);
                std::string error;
                const auto r = kdf::moveFileNoReplace(file, *path, &error);
                if (r == kdf::PlaceResult::Placed) break;
                if (r == kdf::PlaceResult::Failed) fail("Err_FileWriteFailed", error);
                path = names_.nextAfterTaken(*path, *output);
            }
            {
                std::lock_guard lock(ownLock_);
                ownFiles_.erase(file);
                if (ownFolder) ownFiles_.insert(*path);
            }
            finals.push_back(*path);
        }
        if (!finals.empty()) {
            std::lock_guard lock(cntlr_.writeFilePathArrayLock());
            output->setWriteFilePathArray(finals);
        }

        if (hasPlugin) {
            if (finals.empty()) fail("Err_NotFoundFile");
            if (!PluginRegistryQueries::hasPluginObject(pluginID)) fail("Err_UnknownError", "no plug-in object");
            cntlr_.setIsShowedPluginWin(true);
            const int result = PluginRegistryQueries::executeOperationWithID(pluginID, output->pluginGUID(), finals,
                                                                             true, cntlr_.mainWindow());
            cntlr_.setIsShowedPluginWin(false);
            if (result != 0)
                throw kdf::Exception("Err_NotPossibleContinue", {},
                                     kdf::Dictionary{{"ErrInfo_PluginErrCodeKey", kdf::Value(result)}});
        }

        const auto outputs = job->jobOutputModel_List();
        if (job->outputIndex() + 1 < int(outputs.size())) {
            job->setOutputIndex(job->outputIndex() + 1);
            cntlr_.previewPort()->setCurrentOutput(0);
            state = kAppStateConvertNext;
        }
    } catch (const kdf::Exception& e) {
        showError(e);
        state = kAppStateHandOnError;
    }
    cntlr_.setAppStateNum(state);
}

} // namespace qlr_output
