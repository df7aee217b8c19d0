#include "TV_Message.h"

#include "AppControllerServices.h"
#include "ProcessWindowServices.h"

#include <foundation/Bundle.h>
#include <foundation/Format.h>
#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>

namespace TV_Message {

AlertPresenter::~AlertPresenter() = default;

namespace {

// Set while an alert of this routine is up. Only the main thread sets and
// clears it; others may read it.
std::atomic<bool> sShowingPanel{false};

std::mutex sPresentersLock;
std::shared_ptr<AlertPresenter> sPlatformPresenter;
std::shared_ptr<AlertPresenter> sTvAlertPresenter;

// The name exceptionFrom gives to what is neither a named exception nor an
// allocation failure; no message key, so it shows "Err_UnknownError".
constexpr const char* kForeignExceptionName = "QlrForeignException";

const char sSenderTag = 0;

std::string localized(std::string_view key) {
    return kdf::Bundle::main()->localizedString(key);
}

// The key-equivalent rule: which buttons answer Return and Escape.
void assignKeys(AlertRequest& request, int defBtnType) {
    const int n = int(request.buttons.size());
    int d = defBtnType;
    if (n == 1) d = 0;
    if (n == 2 && d == 2) d = 0;
    if (d >= 0 && d < n) request.returnButton = d;
    // Only a pair whose first button is the default gets Escape, on the
    // second one.
    if (n == 2 && d == 0) request.escapeButton = 1;
}

// The return code of the pressed button; codes holds each button's code,
// by its rank in the call.
int returnCodeOf(int pressed, const std::vector<int>& codes) {
    if (pressed < 0 || std::size_t(pressed) >= codes.size()) return kAlertNotShown;
    return codes[std::size_t(pressed)];
}

void postRunModal(bool start) {
    kdf::Dictionary info{{kIsStartRunmodalKey, kdf::Value(start)}};
    kdf::NotificationCenter::defaultCenter().post(kTvAlertRunModalNotification, notificationSender(), nullptr,
                                                  &info);
}

// Clears the flag on every way out of a run.
struct ShowingScope {
    ~ShowingScope() { sShowingPanel.store(false); }
};

// Posts the closing notification also when the run throws.
struct RunModalAnnouncement {
    RunModalAnnouncement() { postRunModal(true); }
    ~RunModalAnnouncement() {
        try {
            postRunModal(false);
        } catch (...) {
            std::fprintf(stderr, "TV_Message: an observer of the alert's end failed\n");
        }
    }
};

int runOnMainThread(AlertRequest& request, const std::vector<int>& codes) {
    std::shared_ptr<AlertPresenter> presenter;
    bool ownNotifications = false;
    if (request.kind == AlertKind::TvAlert) {
        presenter = alertPresenter(AlertKind::TvAlert);
        ownNotifications = presenter != nullptr;
    }
    if (!presenter) {
        request.kind = AlertKind::Platform;
        presenter = alertPresenter(AlertKind::Platform);
    }
    if (!presenter) return kAlertNotShown;

    try {
        // A perform waiting for the default mode waits until the alert has
        // closed, whatever loop the presenter runs.
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
        int pressed = 0;
        if (ownNotifications) {
            pressed = presenter->runModal(request);
        } else {
            RunModalAnnouncement announcement;
            pressed = presenter->runModal(request);
        }
        return returnCodeOf(pressed, codes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "TV_Message: the alert failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "TV_Message: the alert failed\n");
    }
    return kAlertNotShown;
}

} // namespace

const void* notificationSender() {
    return &sSenderTag;
}

void setAlertPresenter(AlertKind kind, std::shared_ptr<AlertPresenter> presenter) {
    std::lock_guard lock(sPresentersLock);
    (kind == AlertKind::TvAlert ? sTvAlertPresenter : sPlatformPresenter) = std::move(presenter);
}

std::shared_ptr<AlertPresenter> alertPresenter(AlertKind kind) {
    std::lock_guard lock(sPresentersLock);
    return kind == AlertKind::TvAlert ? sTvAlertPresenter : sPlatformPresenter;
}

bool isDisplayedMessageNow() {
    return sShowingPanel.load();
}

const std::vector<std::string_view>& errorKeys() {
    static const std::vector<std::string_view> keys = {
        // scanner and driver
        "Err_NotFoundScannerDriver", "Err_NotLoadScannerDriver", "Err_NotUseScannerDriver", "Err_DriverSetFault",
        "Err_NotGetSetting",
        // quitting
        "Err_NotQuitAppInScanning", "Err_NotQuitAppInProcessing",
        // panels and settings
        "Err_NotSelectedInput", "Err_NotSelectedOutput", "Err_NotAddNewSetting",
        // save folder and output options
        "Err_NonSaveFilePath", "Err_NotFindSaveFPath", "Err_NotCreateJpegFromAutoBW",
        "Err_NotCreateJpegFromFullAuto", "Err_NotCreatePdfAFromOCRLang",
        // file names and paths
        "Err_NonFileNameForJobScan", "Err_TooLongPath", "Err_RightOfAccessFile", "Err_NonFileName",
        "Err_NonFileNameOnlyNum", "Err_InValidFileName", "Err_HeadCharDotFileName", "Err_NotFoundFile",
        "Err_NotMakePath", "Err_MakeFileNameFailed",
        // import
        "Err_ImportedFailed",
        // file writing
        "Err_FileCreateFailed", "Err_FileWriteFailed", "Err_LoadModuleFailed", "Err_FileDecodeFailed",
        "Err_PDFInitFault", "Err_PDFAlreadyOpen", "Err_PDFNotOpen", "Err_TIFFAddPage", "Err_JPEGNotCreate",
        "Err_JPEGInvalidParam",
        // execution
        "Err_UnableExecute", "Err_NotPossibleContinue",
        // general
        "Err_MemFullError", "Err_UnknownError"};
    return keys;
}

const std::vector<std::string_view>& confirmationKeys() {
    static const std::vector<std::string_view> keys = {
        "Cnfm_BackUpSuccess",     "Cnfm_ImportData_Yes_No_Cancel", "Cnfm_InitAppYesOrNo",
        "Cnfm_InvalidPluginYesOrNo", "Cnfm_QuitAppYesOrNo",       "Cnfm_RelaunchApp",
        "Cnfm_RestoreSuccess",    "Cnfm_RestoreYesOrNo",           "Cnfm_ScanCancelToMainYesOrNo",
        "Cnfm_ScanCancelYesOrNo", "Cnfm_SettingDeleteYesOrNo"};
    return keys;
}

bool isQLRErr(std::string_view key) {
    const auto& keys = errorKeys();
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

kdf::Exception exceptionFrom(std::exception_ptr caught) {
    if (!caught) return kdf::Exception({});
    try {
        std::rethrow_exception(caught);
    } catch (const kdf::Exception& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return kdf::Exception(kdf::kMallocExceptionName);
    } catch (const std::exception& e) {
        return kdf::Exception(kForeignExceptionName, e.what());
    } catch (...) {
        return kdf::Exception(kForeignExceptionName);
    }
}

int showPanel(std::optional<std::string> title, std::optional<std::string> msg,
              std::optional<std::string> localizedMsg, std::optional<std::string> btn1,
              std::optional<std::string> btn2, std::optional<std::string> btn3, int style, int defBtnType,
              bool isUseTvAlert) {
    if (!kdf::RunLoop::isMainThread()) {
        // Widgets belong to the main thread: ask it, and wait for the answer.
        int result = kAlertNotShown;
        kdf::RunLoop::performOnMainThread(
            [&] {
                result = showPanel(std::move(title), std::move(msg), std::move(localizedMsg), std::move(btn1),
                                   std::move(btn2), std::move(btn3), style, defBtnType, isUseTvAlert);
            },
            true, kdf::RunLoopMode::Default);
        return result;
    }

    if (sShowingPanel.exchange(true)) return kAlertNotShown;
    ShowingScope showing;

    AlertRequest request;
    request.kind = isUseTvAlert ? AlertKind::TvAlert : AlertKind::Platform;
    request.messageText = title ? localized(*title) : std::string(1, ' ');
    // Shown as it stands: a "%" in a message is text, not a conversion.
    request.informativeText = localizedMsg ? std::move(*localizedMsg) : msg ? localized(*msg) : std::string(1, ' ');
    // As the platform's alert factory does: the first button is "OK" when
    // its key is none; the second and third exist only with a key.
    std::vector<int> codes;
    request.buttons.push_back(localized(btn1 ? std::string_view(*btn1) : std::string_view("OK")));
    codes.push_back(kAlertDefaultReturn);
    if (btn2) {
        request.buttons.push_back(localized(*btn2));
        codes.push_back(kAlertAlternateReturn);
    }
    if (btn3) {
        request.buttons.push_back(localized(*btn3));
        codes.push_back(kAlertOtherReturn);
    }
    request.style = style;
    assignKeys(request, defBtnType);
    return runOnMainThread(request, codes);
}

ShowPanelRequest paramShowPanel(std::optional<std::string> title, std::optional<std::string> msg,
                                std::optional<std::string> localizedMsg, std::optional<std::string> btn1,
                                std::optional<std::string> btn2, std::optional<std::string> btn3, int style,
                                int defBtnType, bool isUseTvAlert) {
    return ShowPanelRequest{std::move(title), std::move(msg), std::move(localizedMsg), std::move(btn1),
                            std::move(btn2),  std::move(btn3), style, defBtnType, isUseTvAlert};
}

void performShowPanel(const ShowPanelRequest& r) {
    showPanel(r.title, r.msg, r.localizedMsg, r.btn1, r.btn2, r.btn3, r.style, r.defBtnType, r.isUseTvAlert);
}

std::string errorText(const kdf::Exception& exception) {
    const std::string& name = exception.name();
    if (name.empty()) return {};
    const kdf::Dictionary& info = exception.userInfo();
    if (!isQLRErr(name)) {
        if (name == kNoErrOnlyThrow) return {};
        return localized(name == kdf::kMallocExceptionName ? "Err_MemFullError" : "Err_UnknownError");
    }
    // User info comes from every subsystem, plug-in results included: a
    // value of the wrong kind counts as absent, and the localised text is
    // the only format; the values are substituted, never interpreted.
    if (name == "Err_NotPossibleContinue") {
        if (info.empty()) return {};
        std::int64_t code = 0;
        if (const kdf::Value* v = kdf::find(info, kPluginErrCodeKey)) {
            if (!v->is(kdf::Value::Kind::String)) code = v->toInteger().value_or(0);
        }
        // The plug-in's code as the 32-bit value it returned.
        return kdf::formatLocalized(localized(name), {std::int64_t(std::int32_t(std::uint32_t(code)))});
    }
    if (name == "Err_NotCreatePdfAFromOCRLang") {
        if (info.empty()) return {};
        std::string language;
        if (const kdf::Value* v = kdf::find(info, kOCRLangSettingKey))
            if (const std::string* s = v->string()) language = *s;
        return kdf::formatLocalized(localized(name), {language});
    }
    return localized(name);
}

void showErrorPanel(const kdf::Exception& exception) {
    const std::string text = errorText(exception);
    if (text.empty()) return;
    // While the setting window is open the platform alert is used, so the
    // alert is not drawn behind it.
    const bool settingWindowVisible = AppControllerServices::isVisibleSettingWindow();
    showPanel("Error", std::nullopt, text, "OK", std::nullopt, std::nullopt, kCriticalAlertStyle, 0,
              !settingWindowVisible);
    MainWindowCntlr::setStateInfoStrForProcWinForPfm(std::string(), text);
}

void showErrorPanel(const kdf::Exception* exception) {
    if (exception) showErrorPanel(*exception);
}

void showErrorPanel(std::exception_ptr caught) {
    if (caught) showErrorPanel(exceptionFrom(caught));
}

} // namespace TV_Message
