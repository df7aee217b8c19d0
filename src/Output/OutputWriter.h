// The output writer: each scanned page read back, corrected for the
// output's format and written into the output's own temporary folder, in
// page order; then the output step names the files and moves them to the
// chosen folder or hands them to the output's send-to plug-in.
#pragma once

#include "FileNaming.h"
#include "PageImage.h"

#include <AppMainCntlrPorts.h>

#include <foundation/Exception.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class AppMainCntlr;
class JobModel;
class OutputModel;

namespace qlr_output {

class OutputWriter : public AppOutputWriterPort {
public:
    explicit OutputWriter(AppMainCntlr& cntlr);
    ~OutputWriter() override;

    // ---- The controller's port
    void readImgFileForJobScn(const PageParam& param) override;
    void readImgFiles() override;
    void maybeSendFileToPlugin() override;
    void initWriteFilePathArray(bool isAllOutputModel) override;
    void releaseWriteFilePathArray(bool isDeleteFiles, bool isAllOutputModel) override;
    void checkClosePDF() override {
        if (checkClosePDF_) checkClosePDF_();
    }

    // A writer of a multi-page format: page `index` into the file at path
    // (none: append to the file it has open), closing it on the last page.
    // Answers false on failure or raises a named exception.
    using PageFileWriter = std::function<bool(const PageBitmap& bitmap, const std::string* path, int index,
                                              bool isLastIndex, const OutputModel& output)>;
    // PDF (0) and TIFF (1) plug in here; JPEG and PNG are built in.
    void setPageFileWriter(int fileFormatType, PageFileWriter writer);
    // The PDF writer's close of a file left open at a scan's end.
    void setCheckClosePDF(std::function<void()> close) { checkClosePDF_ = std::move(close); }

    // Reads page `index`, corrects it and writes it. Raises kdf::Exception.
    void writeImageFileByIndex(int index, bool isLastIndex, const std::optional<std::string>& remakePath,
                               const PageParam* param);
    void exeWriteImgFiles(int index, const PageBitmap& bitmap, bool isLastIndex,
                          const std::optional<std::string>& remakePath, const PageParam* param);

    // A fresh temporary folder for the current output; our old one is
    // removed with the files we wrote into it.
    std::optional<std::string> remakeTmpDirForSendPlugin();

    void addWriteFilePath(const std::string& path);
    std::vector<std::string> cpyWriteFilePathArray();

    // Where failures are shown (on the main thread); by default the
    // application's error panel.
    using ErrorPresenter = std::function<void(const kdf::Exception&)>;
    void setErrorPresenter(ErrorPresenter presenter) { presentError_ = std::move(presenter); }
    // Called right before a file is placed under its final name; tests race
    // the move with it.
    void setBeforePlaceHook(std::function<void(const std::string& target)> hook) { beforePlace_ = std::move(hook); }

    // How long the page thread waits for the scan's end after it cancelled.
    void setScanEndLimit(std::chrono::milliseconds limit) { scanEndLimit_ = limit; }

private:
    std::shared_ptr<OutputModel> currentOutput() const;
    bool startsFile(const OutputModel& output, int index) const;
    void writePage(const OutputModel& output, const PageBitmap& bitmap, const std::string* path, int index,
                   bool isLastIndex);
    bool waitToFinishScan();
    void sendAppState();
    void sendAppStateByErr();
    bool isScanWriting() const;
    void removeOwnFile(const std::string& path);
    std::optional<std::string> makeOwnFolder();
    void showError(const kdf::Exception& e);

    AppMainCntlr& cntlr_;
    std::chrono::milliseconds scanEndLimit_{std::chrono::minutes(2)};
    std::map<int, PageFileWriter> writers_;
    std::function<void()> checkClosePDF_;
    ErrorPresenter presentError_;
    std::function<void(const std::string&)> beforePlace_;
    FinalNameBatch names_;
    // What this writer made: only these are ever deleted.
    std::mutex ownLock_;
    std::set<std::string> ownFolders_;
    std::set<std::string> ownFiles_;
};

} // namespace qlr_output
