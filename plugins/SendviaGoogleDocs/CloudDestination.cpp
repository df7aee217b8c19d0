#include "CloudDestination.h"

#include "ModalPanelManager.h"
#include "PluginFunc.h"
#include "SettingChecker.h"

#include <foundation/File.h>
#include <foundation/RunLoop.h>
#include <foundation/UserFolders.h>

#include <QFileDialog>
#include <QGridLayout>
#include <QProgressBar>

#include <plugin/TvQLRPlugin.h>

namespace kdkit {

namespace {

constexpr kdf::RunLoopModes kWorkerModes = kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel;

// "DropboxUser." of "DropboxUser.ID".
std::string keyPrefix() {
    std::string id = buildConstants().userIDKey;
    const std::size_t dot = id.rfind('.');
    return dot == std::string::npos ? id + "." : id.substr(0, dot + 1);
}

ErrorAlert::ButtonTitleKeys buttons(std::initializer_list<const char*> keys) {
    std::vector<std::optional<std::string>> list;
    for (const char* key : keys) list.emplace_back(key);
    return list;
}

// Runs fn on the main thread and waits, in the modes the modal windows run.
void onMainThread(const std::function<void()>& fn) { kdf::RunLoop::performOnMainThread(fn, true, kWorkerModes); }

} // namespace

std::string CloudDestination::syncPathKey() { return keyPrefix() + "SyncPath"; }
std::string CloudDestination::writtenPathKey() { return keyPrefix() + "WrittenPath"; }

CloudDestination::CloudDestination(UserRef user)
    : KitController(std::move(user), Windows{true, true, true, true}) {}

CloudDestination::~CloudDestination() {
    // Only reached with a worker still running when a send was torn down
    // by an exception between start and finish.
    if (worker_.joinable()) {
        setIsAbort(true);
        worker_.join();
    }
}

std::optional<std::string> CloudDestination::summaryString() {
    std::string folder = userString(syncPathKey().c_str()).value_or(std::string());
    if (!PluginFunc::defaultCloudAppPath()) {
        folder += '\n';
        folder += localized("Plugin_Summary");
    }
    return folder;
}

bool CloudDestination::warnOfDestination(const std::optional<std::string>& folder) {
    std::optional<PluginError> error;
    if (SettingChecker::isValidDestination(folder, &error)) return false;
    const std::optional<std::string> message = SettingChecker::getFullMessageWithError(error);
    performShowAlertWithErrKey(message.value_or(std::string()), kAlertTitleError, std::nullopt, nullptr);
    return true;
}

int CloudDestination::runModal(QWidget* parentWindow, bool) {
    const std::optional<std::string> folder = userString(syncPathKey().c_str());
    warnOfDestination(folder);
    const std::string start = folder && PluginFunc::isDirectory(*folder) ? *folder : kdf::homeFolder();
    return runModalSettings(start, parentWindow);
}

int CloudDestination::runModalSettings(const std::string& startFolder, QWidget* parentWindow) {
    QFileDialog panel(nullptr, QString::fromStdString(localized("SyncPathExpLabel")),
                      QString::fromStdString(startFolder));
    panel.setObjectName("SyncFolderPanel");
    // Our own panel, so the accessory view has a place in it.
    panel.setOption(QFileDialog::DontUseNativeDialog, true);
    panel.setOption(QFileDialog::DontResolveSymlinks, true);
    panel.setOption(QFileDialog::ShowDirsOnly, true);
    panel.setFileMode(QFileDialog::Directory);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    enableOnlyDisplayableFolders(panel);
    if (QWidget* accessory = accessoryView())
        if (auto* grid = qobject_cast<QGridLayout*>(panel.layout())) grid->addWidget(accessory, grid->rowCount(), 0, 1, -1);
    int result = 0;
    {
        ModalPanelRegistration registration(&panel, parentWindow);
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
        result = panel.exec() == QDialog::Accepted ? 1 : 0;
    }
    if (QWidget* accessory = accessoryView()) {
        accessory->hide();
        accessory->setParent(nullptr);
    }
    if (result == 1) {
        const QStringList chosen = panel.selectedFiles();
        const std::string path = chosen.isEmpty() ? std::string() : chosen.front().toStdString();
        if (!path.empty() && PluginFunc::isReadableWritableDirectory(path))
            setUserValue(syncPathKey().c_str(), path);
        else
            performShowAlertWithErrKey(kRightOfAccessFile, kAlertTitleError, buttons({"OK"}), parentWindow);
    }
    return result;
}

bool CloudDestination::isSupportLinkButton() { return userString(writtenPathKey().c_str()).has_value(); }
std::optional<std::string> CloudDestination::linkLable() { return userString(writtenPathKey().c_str()); }

std::int32_t CloudDestination::clickedLink() {
    const std::optional<std::string> folder = userString(writtenPathKey().c_str());
    if (!folder) return kTvSvPluginFailClickedLink;
    PluginFunc::openLinkPath(*folder);
    return kTvSvPluginSuccess;
}

void CloudDestination::startOperation(SendParameters parameters) {
    worker_ = std::thread([this, parameters = std::move(parameters)] { fileSaveProcess(parameters); });
}

void CloudDestination::fileSaveProcess(const SendParameters& parameters) {
    try {
        if (!parameters.syncFolder || !PluginFunc::isDirectory(*parameters.syncFolder))
            throw kdf::Exception(kNotFoundSaveFolderException);
        const std::vector<std::string>& unsent = parameters.unsent;
        const std::uint64_t total = unsent.size();
        for (std::uint64_t n = 1; n <= total; ++n) {
            const std::string& file = unsent[n - 1];
            // Checked before each file: a copy once begun is completed.
            if (isAbort()) throw kdf::Exception(kProgressCanceledException);
            onMainThread([&] { updateProgressWindow(file, n, total, n == 1 ? 0.0000001 : progressValue()); });
            const std::string destination =
                placeFileInFolder(file, *parameters.syncFolder, false, kNotFoundFilesForSendException);
            addProcessed(file, destination);
            onMainThread([&] { updateProgressWindow(file, n, total, progressValue() + 1.0); });
            // The copy is complete and named: only now may the source go.
            if (parameters.deleteFiles) PluginFunc::isRemoveFile(file);
        }
    } catch (const kdf::Exception& e) {
        setExceptionInFileSave(e);
    } catch (...) {
        setExceptionInFileSave(kdf::Exception("Err_UnknownError"));
    }
    pauseFor(1.0);
    onMainThread([this] { finishOperation(); });
}

bool CloudDestination::sendPass(const std::vector<std::string>& files, bool fileDelete, QWidget* parentWindow) {
    setIsAbort(false);
    setCancelEnabled(true);
    setExceptionInFileSave(std::nullopt);
    SendParameters parameters;
    parameters.unsent = unsentFiles(files);
    if (parameters.unsent.empty()) throw kdf::Exception(kNotFoundFilesForSendException);
    parameters.deleteFiles = fileDelete;
    parameters.syncFolder = userString(syncPathKey().c_str());
    const std::uint64_t count = parameters.unsent.size();
    if (QProgressBar* bar = progressBar()) {
        bar->setMinimum(0);
        bar->setMaximum(int(std::min<std::uint64_t>(count, 1u << 30)));
        bar->setValue(0);
    }
    updateProgressWindow(parameters.unsent.front(), 1, count, 0.0);
    // The worker starts once the modal run below is under way.
    kdf::RunLoop::main().performAfterDelay(
        this, "startOperation", kdf::Seconds(0),
        [this, parameters = std::move(parameters)]() mutable { startOperation(std::move(parameters)); }, kWorkerModes);
    runWindowModal(progressWindow(), parentWindow);
    kdf::RunLoop::main().cancelPerforms(this, "startOperation");
    // The worker's last call on this thread was finishOperation; it only
    // returns from it now.
    if (worker_.joinable()) worker_.join();
    return !exceptionInFileSave();
}

std::int32_t CloudDestination::executeOperation(const std::vector<std::string>& files, bool fileDelete,
                                                QWidget* parentWindow) {
    std::int32_t result = kTvSvPluginSuccess;
    try {
        if (!mCurrentUser) throw kdf::Exception(kNotFoundIDException);
        if (!PluginFunc::defaultCloudAppPath() &&
            performShowAlertWithErrKey("Caution_InstallExplain", kAlertTitleCaution, buttons({"OK", "Cancel"}),
                                       parentWindow) != kAlertFirstButton)
            throw kdf::Exception("");
        if (warnOfDestination(userString(syncPathKey().c_str()))) {
            const std::string stored = userString(syncPathKey().c_str()).value_or(std::string());
            if (runModalSettings(stored, parentWindow) != 1) {
                performShowAlertWithErrKey(localized("Err_CloudNotReadSetting"), kAlertTitleError, std::nullopt,
                                           parentWindow);
                throw kdf::Exception(kProgressCanceledException);
            }
        }
        removeUserValue(writtenPathKey().c_str());
        clearProcessed();

        while (!sendPass(files, fileDelete, parentWindow)) {
            const kdf::Exception failure = *exceptionInFileSave();
            if (failure.name() == kProgressCanceledException) throw failure;
            askRetryOrThrow(failure.name(), parentWindow, [&] { return runModal(parentWindow, false) == 1; });
        }

        // The rename report: every file, names kept with an empty second
        // column; shown only when a name changed.
        const auto handled = processed();
        std::vector<std::pair<std::string, std::string>> rows;
        bool changed = false;
        for (const auto& [source, destination] : handled) {
            const std::string before = kdf::lastComponent(source), after = kdf::lastComponent(destination);
            if (before.empty() || after.empty()) continue;
            if (before == after) {
                rows.emplace_back(source, std::string());
            } else {
                rows.emplace_back(source, destination);
                changed = true;
            }
        }
        if (mRenameWindowState && changed) {
            setProcessed(rows);
            runRenameReport(parentWindow);
        }
        if (!handled.empty()) {
            const std::string folder = kdf::folderOf(handled.back().second);
            if (PluginFunc::isExistsFile(folder)) setUserValue(writtenPathKey().c_str(), folder);
        }
    } catch (const kdf::Exception& e) {
        result = resultOfFailure(e);
    } catch (...) {
        result = kTvSvPluginFailSend;
    }
    resetAfterSend();
    return result;
}

namespace {

void setupData(kdf::Dictionary& user) {
    user[CloudDestination::syncPathKey()] = PluginFunc::cloudAppFolderForSync().value_or(std::string());
}

} // namespace

const DestinationClass& destinationClass() {
    static const DestinationClass destination = destinationClassOf<CloudDestination>(true, &setupData);
    return destination;
}

} // namespace kdkit
