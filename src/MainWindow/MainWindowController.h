// The main window's controller: the application controller's window side.
// It owns the windows that stand beside the main window (the process window
// held modal over it while a job runs, the completion window that lists
// where the output went, the About window and the setting window), loads
// their forms, finds their controls by tag, and answers the controller's
// main-window port and the process-window services of the application's
// routines.
//
// MainWindowController.cpp makes it and its windows; MainWindowControllerUI.cpp
// shows the windows by application state, pauses them under an alert and
// lays the dark shield.
//
// Everything runs on the main thread. Worker threads set the process
// window's texts only through the process-window services, which pass the
// call to the main thread.
#pragma once

#include <AppMainCntlrPorts.h>
#include <ProcessWindowServices.h>
#include <TvAnimationImageView.h>
#include <TvBackgroundViews.h>
#include <TvPopoverWindow.h>
#include <TvWindow.h>

#include <foundation/Value.h>

#include <QPointer>

#include <memory>
#include <optional>
#include <string>

class AppMainCntlr;
class OutputModel;
class QAbstractButton;
class QLabel;
class QWidget;
class TvOpenLinkTextField;

// Tags of the process window's content.
inline constexpr int kProcStateInfoTag = 6000;
inline constexpr int kProcInfoTag = 6001;
inline constexpr int kProcCancelButtonTag = 6002;
// Tags of the scan view's output-setting and again-scan buttons.
inline constexpr int kOutputSettingButtonTag = 4039;
inline constexpr int kAgainScanButtonTag = 4040;
// Tags of the completion window's content: the close button, the title,
// and rows 0 to 2 of output title (even) and link (odd) fields.
inline constexpr int kCompCloseButtonTag = 7000;
inline constexpr int kCompTitleTag = 7001;
inline constexpr int kCompFirstRowTag = 7002;
inline constexpr int kCompRowCount = 3;
// Space between the completion window's stacked fields.
inline constexpr int kCompFieldSpacing = 8;
// The completion window and the application close themselves this long
// after the last mouse move over the window.
inline constexpr double kCompAutoCloseSeconds = 5.0;
// The pause before the plug-in text of the hand-on state.
inline constexpr double kHandOnPauseSeconds = 0.5;
// The flat windows' resting opacity and the dark shield's.
inline constexpr double kFlatWindowAlpha = 0.9;
inline constexpr double kDarkShieldAlpha = 0.2;

// The setting window's sections, by object name.
inline constexpr const char* kSettingTabView = "Setting_Tab_View";
inline constexpr const char* kSettingInputView = "Setting_Input_View";
inline constexpr const char* kSettingOutputView = "Setting_Output_View";
inline constexpr const char* kSettingOptionView = "Setting_Option_View";
inline constexpr const char* kSettingWholeView = "Setting_Whole_View";
inline constexpr const char* kSettingFooterView = "Setting_FooterView";

class MainWindowController : public AppMainWindowPort, public ProcessWindowServices {
public:
    // mainWindow: the main window start-up loaded (its content views hold
    // the tagged controls); may be null in tools.
    MainWindowController(AppMainCntlr& cntlr, QWidget* mainWindow);
    ~MainWindowController() override;
    MainWindowController(const MainWindowController&) = delete;
    MainWindowController& operator=(const MainWindowController&) = delete;

    // Makes the controller and registers it as the controller's main-window
    // port and as the process window of the application's routines.
    static std::shared_ptr<MainWindowController> install(AppMainCntlr& cntlr, QWidget* mainWindow);
    // Removes what install registered, when it is still this one's.
    void uninstall();

    AppMainCntlr& cntlr() const { return mCntlr; }

    // ---- Windows and views
    QWidget* mainWindow() override { return mMainWindow; }
    QWidget* aboutWindow() override;
    TvFlatWindow* processWindow() const { return mProcessWindow; }
    TvFlatWindow* completeWindow() const { return mCompleteWindow; }
    TvPopoverWindow* settingWindow() const { return mSettingWindow; }
    TvAnimationImageView* animationImageView() const { return mAnimationImageView; }
    // The main window's content view: the central widget of a main window,
    // else the window itself.
    QWidget* contentView() const;
    // A control by tag in the process window, the completion window, the
    // About window or the main window; null when none has it.
    QWidget* processItem(int tag) const;
    QWidget* completeItem(int tag) const;
    QWidget* aboutItem(int tag) const;
    QWidget* mainItem(int tag) const;
    // A section of the setting window (kSetting...View); null when missing.
    QWidget* settingSection(const char* name) const;

    // ---- The window by application state
    void updateUIByAppState() override;
    void startProcWindow();
    void endProcWindow() override;
    // Starts (true) or stops the spinner on the main thread, without
    // waiting, also while a modal panel or mouse tracking runs; anything
    // but a number or a boolean is ignored.
    void animatesProcWinOnMain(const kdf::Value& flag);
    // The two process-window lines; none leaves a line as it is. Written
    // only in the scan and finishing states.
    void setStateInfoStrForProcWin(const std::optional<std::string>& stateInfo,
                                   const std::optional<std::string>& info);
    // Exactly two elements, each a string or (anything else) none.
    void setStateInfoStrForProcWinForPfm(const kdf::Array& texts);
    // ProcessWindowServices: the same on the main thread.
    void setStateInfoStrForProcWinForPfm(const std::optional<std::string>& title,
                                         const std::optional<std::string>& information) override;

    void startCompleteWindowByPerform() override;
    void startCompleteWindow();
    void endCompleteWindow();
    // The completion window's close button (and its auto-close timer) ends
    // here. The scan-end actions own it; until they are built it does
    // nothing.
    virtual void actionFromCompleteWindow(QWidget* sender);

    void setContentViewNeedsDisplay() override;
    void displayContentViewIfNeeded() override;
    void displayProcessAnimationIfNeeded() override;
    bool isVisibleSettingWindow() const override;

    // ---- Notifications
    void mouseMovedInFlatWindowContentView(const kdf::Notification& n) override;
    void tvAlertRunModal(const kdf::Notification& n) override;

    // ---- The dark shield over the main window's content
    void showDarkShield();
    void hideDarkShield();
    bool isShowDarkShieldView() const;
    TvColoedView* darkShieldView() const { return mDarkShieldView; }

    // Process-wide marks: the process and completion windows are shown.
    static bool isShowProcWindow();
    static bool isShowCompleteWindow();

private:
    void loadWindows();
    // Places a flat window as both windows of the job are placed: no
    // parent, bottom right (bottom left in right-to-left layout).
    static void placeFlatWindow(QWidget* window);
    void setText(QWidget* field, const std::string& text);
    void layoutCompleteFields();
    std::optional<std::string> linkTextOfOutput(const OutputModel& output) const;

    AppMainCntlr& mCntlr;
    QPointer<QWidget> mMainWindow;
    QPointer<TvFlatWindow> mProcessWindow;
    QPointer<TvFlatWindowContentView> mProcessContent;
    QPointer<TvAnimationImageView> mAnimationImageView;
    QPointer<TvFlatWindow> mCompleteWindow;
    QPointer<TvFlatWindowContentView> mCompleteContent;
    QPointer<TvWindow> mAboutWindow;
    QPointer<TvPopoverWindow> mSettingWindow;
    QPointer<TvColoedView> mDarkShieldView;
    // Keeps the shield the size of the content view.
    QPointer<QObject> mShieldSizer;
    // Where the completion window's first row begins.
    int mCompFirstRowTop = 0;
};
