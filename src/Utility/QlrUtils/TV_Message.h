// The application's one place where a message key or a named exception
// becomes a modal alert: localised title, text and buttons, the Return and
// Escape keys, one alert at a time on the main thread, and the
// notifications around every modal run.
//
// Message keys are keys of the main bundle's default strings table: "Err_"
// keys for errors, "Cnfm_" keys for questions; titles are "Error" and
// "Confirm", button texts keys such as "OK". The alert itself is drawn by a
// presenter that the user interface registers (the Qt message box for the
// platform kind, the widget kit's own alert for the TvAlert kind).
#pragma once

#include <foundation/Exception.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TV_Message {

// Posted on the default centre right before and right after a modal alert
// run, so that the main window can pause its timers and hover effects.
// User info {"IsStartRunmodalKey": true before, false after}. The sender is
// notificationSender() for the platform alert, the alert itself for a
// TvAlert.
inline constexpr const char* kTvAlertRunModalNotification = "kTvAlertRunModalNotification";
inline constexpr const char* kIsStartRunmodalKey = "IsStartRunmodalKey";
const void* notificationSender();

// Keys read from an exception's user info.
inline constexpr const char* kPluginErrCodeKey = "ErrInfo_PluginErrCodeKey";
inline constexpr const char* kOCRLangSettingKey = "ErrInfo_OCRLangSetting";
// Travels in the same dictionary; read by the output writer.
inline constexpr const char* kSavedFileCountKey = "ErrInfo_SavedFileCount";
// Unwind, but show nothing.
inline constexpr const char* kNoErrOnlyThrow = "NoErr_OnlyThrow";

// Alert styles (callers use 1 for questions and 2 for errors).
enum AlertStyle : int { kWarningAlertStyle = 0, kInformationalAlertStyle = 1, kCriticalAlertStyle = 2 };

// What showPanel answers.
inline constexpr int kAlertDefaultReturn = 1;   // first button
inline constexpr int kAlertAlternateReturn = 0; // second button
inline constexpr int kAlertOtherReturn = -1;    // third button
inline constexpr int kAlertNotShown = -2;       // another alert was up, or none could be shown

// --- The presenter interface that the user interface fills in.

enum class AlertKind { Platform, TvAlert };

// One modal alert, already localised.
struct AlertRequest {
    AlertKind kind = AlertKind::Platform;
    std::string messageText;         // the bold first line
    std::string informativeText;     // shown verbatim, never as a format
    std::vector<std::string> buttons; // one to three titles in the alert's order
    int style = kWarningAlertStyle;
    // The buttons that answer Return and Escape; none means no button does
    // (and no other button may answer them either).
    std::optional<int> returnButton;
    std::optional<int> escapeButton;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter();
    // Runs the alert modally on the main thread, with the main run loop in
    // modal-panel mode; answers the index of the pressed button, or a
    // negative value when the alert ended without one.
    virtual int runModal(const AlertRequest& request) = 0;
};

// Registers the presenter of a kind; null removes it. A TvAlert presenter
// posts kTvAlertRunModalNotification itself; until one is registered a
// TvAlert request runs on the platform presenter and gets the platform
// alert's notifications.
void setAlertPresenter(AlertKind kind, std::shared_ptr<AlertPresenter> presenter);
std::shared_ptr<AlertPresenter> alertPresenter(AlertKind kind);

// --- Classifying.

// True while an alert of this routine is up; any thread.
bool isDisplayedMessageNow();
// One of the application's 40 error keys.
bool isQLRErr(std::string_view key);
// The application's error keys, in table order.
const std::vector<std::string_view>& errorKeys();
// The confirmation keys the application asks with.
const std::vector<std::string_view>& confirmationKeys();

// Whatever the top of a thread caught, as a named exception: a named
// exception as it is, std::bad_alloc as the out-of-memory name, anything
// else under a name that is no message key (shown as "Err_UnknownError").
// Call with std::current_exception() inside a catch block.
kdf::Exception exceptionFrom(std::exception_ptr caught);

// --- Showing.

// Runs one modal alert; the keys are localised from the main bundle. Title
// none shows " "; the text is the localised message when given, else the
// message key localised, else " ". The first button is "OK" when btn1 is
// none; btn2 and btn3 give a button only when given. defBtnType names the button answering Return (with one
// button always that one; with two, 2 counts as 0, and then the other one
// answers Escape). Answers 1, 0 or -1 for the first, second or third
// button, or -2 at once while another alert is up (the request is dropped,
// not queued) or when no alert could be shown. Called off the main thread
// it asks the main thread to run it (default mode, waiting), so it runs
// only after an alert that is up has closed.
int showPanel(std::optional<std::string> title, std::optional<std::string> msg,
              std::optional<std::string> localizedMsg, std::optional<std::string> btn1,
              std::optional<std::string> btn2, std::optional<std::string> btn3, int style, int defBtnType,
              bool isUseTvAlert);

// A request packed for a later run on the main thread. It owns its texts,
// so a delayed perform never reads freed memory; a caller that leaves a
// field out gets the error alert's settings.
struct ShowPanelRequest {
    std::optional<std::string> title;
    std::optional<std::string> msg;
    std::optional<std::string> localizedMsg;
    std::optional<std::string> btn1;
    std::optional<std::string> btn2;
    std::optional<std::string> btn3;
    int style = kCriticalAlertStyle;
    int defBtnType = 0;
    bool isUseTvAlert = true;
};

ShowPanelRequest paramShowPanel(std::optional<std::string> title, std::optional<std::string> msg,
                                std::optional<std::string> localizedMsg, std::optional<std::string> btn1,
                                std::optional<std::string> btn2, std::optional<std::string> btn3, int style,
                                int defBtnType, bool isUseTvAlert);
// Shows a packed request with showPanel. A worker thread calls it through
// kdf::RunLoop::performOnMainThread(..., true) or a delayed perform on the
// main loop; called directly off the main thread it hops there itself.
void performShowPanel(const ShowPanelRequest& request);

// Shows one error alert for the exception (see the classification in
// TV_Message.cpp) and afterwards hands the text to the process window.
// An exception that is none, or has an empty name, shows nothing.
void showErrorPanel(const kdf::Exception* exception);
void showErrorPanel(const kdf::Exception& exception);
// As above for whatever a catch block caught (exceptionFrom); null shows
// nothing.
void showErrorPanel(std::exception_ptr caught);

// The text showErrorPanel shows for the exception; empty when it shows
// nothing.
std::string errorText(const kdf::Exception& exception);

} // namespace TV_Message
