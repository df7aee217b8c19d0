// What the kit's destination controllers share: the user's dictionary, the
// list of files handled in the current send, the failure of the save step,
// the abort flag, and the windows of the kit's forms (progress, rename
// report, common settings, folder-chooser accessory), each run modally over
// a parent window with the main run loop in its modal-panel mode so that a
// worker thread's waiting calls on the main thread are served meanwhile.
#pragma once

#include "ErrorAlert.h"
#include "PluginKit.h"

#include <foundation/Exception.h>

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QFileDialog;
class QLabel;
class QProgressBar;
class QTableView;

namespace kdkit {

// Names of the failures the destinations raise (their message keys).
inline constexpr const char* kNotFoundIDException = "NotFoundIDException";
inline constexpr const char* kProgressCanceledException = "Err_ProgressCanceledException";
inline constexpr const char* kProcessInterruptionException = "Err_ProcessInterruptionException";
inline constexpr const char* kNotFoundFilesForSendException = "Err_NotFoundFilesForSendException";
inline constexpr const char* kNotFoundSaveFolderException = "Err_NotFoundSaveFolderException";
inline constexpr const char* kRightOfAccessFile = "Err_RightOfAccessFile";
inline constexpr const char* kNotFoundAppException = "Err_NotFoundAppException";
inline constexpr const char* kStartAppFailed = "Err_StartAppFailed";
inline constexpr const char* kNotFoundMailApp = "Err_NotFoundMailApp";

// The result of a modal run ended by a window's close method (the
// platform's aborted-run response).
inline constexpr int kModalRunAborted = -1001;

// The worker's pauses: the given seconds, times the factor (0 to 1) in the
// environment variable KD_PLUGIN_PAUSE_SCALE when it is set (tests).
double pauseSeconds(double seconds);
void pauseFor(double seconds);

// Moves or copies the file into the folder under its own name, or the first
// free numbered name when that is taken, without ever replacing anything:
// a name taken between the choice and the placing makes it take the next
// free one. The path it now has; throws failureName when it cannot be
// placed.
std::string placeFileInFolder(const std::string& file, const std::string& folder, bool move,
                              const char* failureName);

// Every text of the window (title, labels, buttons) looked up in the
// plug-in's table: the forms hold the keys.
void localizeTexts(QWidget* window);

// The panel's folders that may not be offered as destinations (system and
// library folders, hidden ones, the temporary folder) are shown disabled.
void enableOnlyDisplayableFolders(QFileDialog& panel);

class KitController : public DestinationController {
public:
    // The windows the destination uses are made from the kit's forms.
    struct Windows {
        bool progress = false;
        bool rename = false;
        bool prefs = false;
        bool accessory = false;
    };
    KitController(UserRef user, Windows windows);
    ~KitController() override;

    // --- Kit members with their default behaviour.
    int runModalPrefs(QWidget* parentWindow) override;
    void setRenameWindowState(bool state) override { mRenameWindowState = state; }
    bool getRenameWindowState() const override { return mRenameWindowState; }

    // Progress: the file's name (left as it is without a path), the
    // position among the total by "RatioLabelFormat", the bar's value.
    void updateProgressWindow(const std::optional<std::string>& path, std::uint64_t position, std::uint64_t total,
                              double value);
    // Ends the progress window's modal run.
    void finishOperation();
    // The cancel button: sets the abort flag and disables the button.
    void abortRequest();
    // The close methods; withSender false for the close box (no state
    // change).
    void closeReNameWindow(bool withSender);
    void closePrefsWindow(bool withSender);
    int performShowAlertWithErrKey(const std::string& key, int titleStyle, const ErrorAlert::ButtonTitleKeys& buttons,
                                   QWidget* parentWindow);

    const UserRef& currentUser() const { return mCurrentUser; }
    bool isAbort() const { return mIsAbort.load(); }
    double progressValue() const { return mProgressValue; }

    QWidget* progressWindow() const { return progressWindow_.data(); }
    QWidget* renameWindow() const { return renameWindow_.data(); }
    QWidget* prefsWindow() const { return prefsWindow_.data(); }
    QWidget* accessoryView() const { return accessoryView_.data(); }

protected:
    // A string, integer or boolean of the user dictionary.
    std::optional<std::string> userString(const char* key) const;
    std::optional<long long> userInteger(const char* key) const;
    std::optional<bool> userBool(const char* key) const;
    void setUserValue(const char* key, kdf::Value value);
    void removeUserValue(const char* key);

    // Shows the window modally over the parent (registered with the modal
    // panel manager) until stopModal; answers stopModal's code.
    int runWindowModal(QWidget* window, QWidget* parentWindow);
    void stopModal(int code);

    // Files of the list, in order, that are not the source of any handled
    // entry.
    std::vector<std::string> unsentFiles(const std::vector<std::string>& files) const;
    void addProcessed(const std::string& source, const std::string& destination);
    std::vector<std::pair<std::string, std::string>> processed() const;
    void clearProcessed();
    void setProcessed(std::vector<std::pair<std::string, std::string>> rows);

    void setExceptionInFileSave(std::optional<kdf::Exception> exception);
    std::optional<kdf::Exception> exceptionInFileSave() const;

    void setIsAbort(bool abort) { mIsAbort.store(abort); }
    void setCancelEnabled(bool enabled);
    QProgressBar* progressBar() const;
    QLabel* progressLabel(int tag) const;

    // The end of every send, whatever its outcome: the result code of a
    // failure, and the handled list, abort flag, cancel button and failure
    // reset.
    static std::int32_t resultOfFailure(const kdf::Exception& failure);
    void resetAfterSend();

    // Runs the rename report over the parent with the rows.
    void runRenameReport(QWidget* parentWindow);

    // The retry alert for a failed pass, with the failure's name as its
    // text: returns for "ReTry", and for "SetUp" once the settings are
    // confirmed (asking again when they are not); "Suspend" throws
    // "Err_ProcessInterruptionException".
    void askRetryOrThrow(const std::string& failureName, QWidget* parentWindow,
                         const std::function<bool()>& settingsConfirmed);

    UserRef mCurrentUser;
    bool mRenameWindowState = true;

private:
    class CloseFilter;
    class RenameModel;

    mutable std::mutex lock_; // the handled list and the save step's failure
    std::vector<std::pair<std::string, std::string>> mProcessedInfoList;
    std::optional<kdf::Exception> mExceptionInFileSave;
    std::atomic<bool> mIsAbort{false};
    double mProgressValue = 0;

    std::unique_ptr<QWidget> ownedProgress_, ownedRename_, ownedPrefs_, ownedAccessory_;
    QPointer<QWidget> progressWindow_, renameWindow_, prefsWindow_, accessoryView_;
    std::unique_ptr<CloseFilter> closeFilter_;
    std::unique_ptr<RenameModel> renameModel_;

    bool modalDone_ = false;
    int modalCode_ = 0;
};

// The class answers of a destination made of the controller T.
template <class T>
DestinationClass destinationClassOf(bool cloud, void (*setupData)(kdf::Dictionary&)) {
    DestinationClass d;
    d.isRenameWindow = cloud;
    d.isShowCommonSettingButton = cloud;
    d.setupData = setupData;
    d.create = [](const UserRef& user) -> std::unique_ptr<DestinationController> { return std::make_unique<T>(user); };
    return d;
}

// "%d" of the integer, as the windows show numbers.
std::string decimalText(long long value);

} // namespace kdkit
