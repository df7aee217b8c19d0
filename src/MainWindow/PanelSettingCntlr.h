// The panel setting window: one popover that edits a stored input, output
// or job panel in place (no copy, no undo), or the outputs of the job copy
// of a running scan from the scanning view. This controller chooses the
// sections of the window, fills their controls from the panel, serves every
// control (each change lands in the panel at once), runs the checks before
// the window may close or a tab may change, and stores the result when the
// window closes. It also makes new panels (blank, from a preset, or a job
// from the selected panels) and the job of a one-off scan.
//
// PanelSettingCntlr.cpp: opening, sections, controls and their actions,
// destination and save-location changes, the option order and closing.
// PanelSettingChecks.cpp: the checks. PanelSettingTabs.cpp: the job's tab
// control, typed text and the data source window's notifications.
// PanelCreation.cpp: new jobs and panels.
//
// Main thread only.
#pragma once

#include <foundation/NotificationCenter.h>

#include <QPointer>
#include <QRect>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class AppMainCntlr;
class InputModel;
class JobModel;
class OutputModel;
class PanelModel;
class QLineEdit;
class QObject;
class QTableWidget;
class QWidget;
class TvPopoverWindow;

namespace qlr_main {

// Control tags of the setting window.
enum SettingTag : int {
    kTagSettingClose = 2000,
    kTagSettingDelete = 2001,
    kTagColorType = 2102,
    kTagPaperSize = 2104,
    kTagResolution = 2106,
    kTagReaderSide = 2108,
    kTagSkew = 2110,
    kTagRecCharDir = 2112,
    kTagUseDriverSetting = 2114,
    kTagOpenDriverUI = 2115,
    kTagOutputType = 2202,
    kTagPluginSetting = 2203,
    kTagPluginSummary = 2204,
    kTagFileNameLabel = 2205,
    kTagFileName = 2206,
    kTagUseFileNameRule = 2207,
    kTagFileNameRule = 2208,
    kTagFileFormatLabel = 2209,
    kTagFileFormat = 2210,
    kTagFileOptions = 2211,
    kTagSaveLabel = 2212,
    kTagSaveLocation = 2213,
    kTagPanelTitle = 2302,
    kTagOwnIcon = 2305,
    kTagChooseIcon = 2306,
    kTagStopForEditing = 2402,
    kTagContinueScan = 2404,
    kTagDeviceButton = 2406,
    kTagOrderAdd = 2408,
    kTagOrderDelete = 2409,
    kTagOrderUp = 2410,
    kTagOrderDown = 2411,
    kTagOrderTable = 2412,
    kTagJobTab = 2500,
    // Outside the setting window: the scanning view's page-number control
    // and finish button, the top view's display switch, the creation
    // buttons.
    kTagPageNumberField = 4004,
    kTagPageNumberControl = 4037,
    kTagFinishScan = 4042,
    kTagTopDisplaySwitch = 1002,
    kTagNewInput = 1012,
    kTagNewOutput = 1022,
    kTagNewJobFromSelection = 1033,
};

// The job's tabs (jobTabType).
enum JobTab : int { kTabInput = 0, kTabFirstOutput = 1, kTabLastOutput = 3, kTabOptions = 4, kTabWhole = 5 };

// A job holds at most this many outputs.
inline constexpr int kMaxJobOutputs = 3;
// Chosen save folders longer than this many characters are refused.
inline constexpr std::size_t kMaxSavePathLength = 260;
// Typed text acts this long after the last key.
inline constexpr double kTypingDelaySeconds = 1.0;
// Tries of opening the data source's own window while the scanner is busy.
inline constexpr int kMaxOpenDriverRetries = 4;

// What the setting window needs of the rest of the main window and of the
// modal steps it runs. Every call has a harmless default except the window
// itself; tests replace the modal steps.
class PanelSettingHost {
public:
    virtual ~PanelSettingHost() = default;

    virtual TvPopoverWindow* settingWindow() = 0;
    // A section of the setting window by object name; null when missing.
    virtual QWidget* settingSection(const char* name) = 0;
    virtual QWidget* mainWindow() { return nullptr; }
    virtual QWidget* topContentView() { return nullptr; }
    virtual QWidget* scanContentView() { return nullptr; }
    virtual void hidePanelFieldEditor() {}
    virtual void closePreferencesPanel() {}
    // The anchor of the window: the clicked cell's frame in the browser
    // (state 0), else the scanning view's output button.
    virtual QRect anchorOfPanel(int /*panelType*/, int /*index*/, QWidget** /*view*/) { return {}; }
    virtual void showTools(int /*panelType*/, int /*index*/) {}
    virtual void showScanInfo() {}
    // The last item of a panel browser made visible (its scroller shown).
    virtual void scrollToLastItem(int /*panelType*/) {}

    // ---- Other components' actions.
    virtual void changeSelectScanImage(QWidget* /*sender*/) {}
    virtual void changeMainTopDisplay(QWidget* /*sender*/) {}
    virtual void changeBriCont(QWidget* /*sender*/) {}
    virtual void changeStraighten(QWidget* /*sender*/) {}
    virtual void changeTrimming(QWidget* /*sender*/) {}

    // ---- Modal steps. The defaults run the real dialogs.
    // A folder (Qt's own dialog, inside the modal-panel scope); none on
    // cancel.
    virtual std::optional<std::string> chooseFolder(const std::string& startFolder);
    // One JPEG, PNG or ICNS file or ".app" folder; none on cancel.
    virtual std::optional<std::string> chooseIcon(const std::string& startFolder);
    virtual void runModalFileNameSetting(const std::shared_ptr<OutputModel>& output);
    virtual void runModalFileOptionSetting(const std::shared_ptr<OutputModel>& output);
    // Opens the data source with its own window and the application's
    // alerts; false when it could not be opened.
    virtual bool openDS(const std::shared_ptr<InputModel>& input);
    // Whether the scanner may be asked now (not busy).
    virtual bool isValidSyncDriver();
    // The plug-in's settings window for the identity; its result code (0
    // done, -1 without a plug-in object).
    virtual int showPluginSetting(const std::string& pluginID, const std::string& guid, QWidget* parent);
    // The plug-in's summary of the identity's settings; none when it gives
    // none.
    virtual std::optional<std::string> pluginSettingSummary(const std::string& pluginID, const std::string& guid);
};

class PanelSettingCntlr {
public:
    PanelSettingCntlr(AppMainCntlr& cntlr, PanelSettingHost& host);
    ~PanelSettingCntlr();
    PanelSettingCntlr(const PanelSettingCntlr&) = delete;
    PanelSettingCntlr& operator=(const PanelSettingCntlr&) = delete;

    // Connects the window's controls and typed-text fields and installs the
    // popover's close check. Once, after the window exists.
    void connectControls();

    // ---- The window (PanelSettingCntlr.cpp)
    // A stored panel [type, index] (state 0 only), or none: the job copy of
    // the running scan.
    void openSettingWindow(std::optional<std::pair<int, int>> panel);
    // Everything of opening but the animation throttle and the show: the
    // edited panel held, the tabs, sections and controls (also for the
    // screenshot scenes).
    bool prepareSettingWindow(const std::shared_ptr<PanelModel>& model, std::optional<std::pair<int, int>> panel);
    void actionFromSettingWindow(QWidget* sender);
    // The sections of the panel's current tab, in display order; empty when
    // the panel has nothing to show there.
    std::vector<QWidget*> viewListWithPanelModel(const std::shared_ptr<PanelModel>& model);
    void setupControls(const std::shared_ptr<PanelModel>& model);
    // Runs the closing steps (the popover's completion).
    void settingWindowDidClose();
    // Option-order table: number of rows, row text, buttons by the rules.
    int numberOfRows() const;
    std::string rowText(int row) const;
    void updateOptionOrderButtons();
    // After a folder was chosen: type 3 and the pop-up's folder item.
    void performSetSavaType();
    // Puts the control back to the job's value after a refused change.
    void controllChangeFromCheckFileFormat(QWidget* control, const std::shared_ptr<JobModel>& job);

    // ---- Checks (PanelSettingChecks.cpp). Each failing check has shown
    // its alert and answers false.
    bool checkSettingValue(QObject* sender, std::shared_ptr<PanelModel> model);
    bool checkSendToPlugin(QObject* sender, const std::shared_ptr<PanelModel>& model);
    bool checkFileNameTextField(QObject* sender, const std::shared_ptr<PanelModel>& model);
    bool checkFileFormat(QObject* sender, const std::shared_ptr<PanelModel>& model);
    bool checkFileFormatForScan(QObject* sender, const std::shared_ptr<PanelModel>& model);
    bool checkSavePath(QObject* sender, const std::shared_ptr<PanelModel>& model);

    // ---- Tabs, typed text, notifications (PanelSettingTabs.cpp)
    void updateOutputTab(bool isOutputsOnly);
    // The job tab (jobTabType) of each segment of the tab control.
    const std::vector<int>& tabTags() const { return tabTags_; }
    void controlTextDidChange(QLineEdit* field);
    void controlTextDidEndEditing(QLineEdit* field);
    // Moves the focus off the file-name field (to view, else the window).
    void endEditingFileNameText(QWidget* view);
    // Whether an open panel offers the path (folders are shown).
    static bool panelShouldEnableURL(const std::string& path);
    void driverCloseDSOk(const kdf::Notification& n);
    void driverTerminateUI(const kdf::Notification& n);
    // Cancels every pending typed-text action.
    void cancelTypingActions();

    // ---- Creation (PanelCreation.cpp)
    std::shared_ptr<JobModel> createJobModel(bool withUseCountRecord);
    // The same for any controller: deep copies of the selected inputs and
    // outputs; with the record, [[0, input indexes], [1, output indexes]]
    // as its user info. Null unless both lists have a selection.
    static std::shared_ptr<JobModel> jobModelOfSelection(const AppMainCntlr& cntlr, bool withUseCountRecord);
    // sender's tag (and whether it is a menu item) choose what is made.
    void createPanel(int tag, bool isMenuItem);

    // ---- State
    int settingPanelResult() const { return settingPanelResult_; }
    bool isClosingSettingWindow() const { return isClosing_; }
    static int retryOpenDriverCount();
    // The edited panel's type (0 input, 1 output, 2 job) and index; none
    // for the job copy.
    std::optional<std::pair<int, int>> editedPanel() const { return edited_; }

private:
    QWidget* control(int tag) const;
    QWidget* section(const char* name) const;
    std::vector<QWidget*> allSections() const;
    // The input or output the input / output controls act on now.
    std::shared_ptr<InputModel> targetInput() const;
    std::shared_ptr<OutputModel> targetOutput() const;
    std::shared_ptr<JobModel> editedJob() const;
    void layoutSections();
    void setupOutputControls(const std::shared_ptr<OutputModel>& output);
    void changeDestination(QWidget* sender);
    void changeSaveLocation(QWidget* sender);
    void chooseIcon();
    void openDriverSettings(QWidget* sender);
    void showPluginSetting();
    void changeOptionOrder(int tag);
    void changeTab(QWidget* sender, int newTab);
    void showContinueError(int code);
    void runTypingAction(QLineEdit* field);
    void typingActionFor(QLineEdit* field);
    std::vector<std::shared_ptr<OutputModel>> editedOutputs() const;
    std::vector<std::shared_ptr<OutputModel>> checkedOutputs(QObject* sender, const std::shared_ptr<PanelModel>& model,
                                                             bool allOutsideOutputTabs) const;
    int senderTag(QObject* sender) const;
    bool isCurrentTabOutput(const std::shared_ptr<PanelModel>& model, const std::shared_ptr<OutputModel>& output) const;
    void addPanel(const std::shared_ptr<PanelModel>& panel, int type, bool fromSelection);

    AppMainCntlr& cntlr_;
    PanelSettingHost& host_;
    int settingPanelResult_ = 0;
    bool isClosing_ = false;
    std::optional<std::pair<int, int>> edited_;
    // The job copy's output index when the window opened from the scanning
    // view.
    int savedOutputIndex_ = 0;
    std::vector<int> tabTags_;
    // The rows of the option-order table are the job's outputs.
    int selectedOrderRow_ = -1;
    bool connected_ = false;
    // Fields with a typed-text action pending.
    std::vector<QPointer<QLineEdit>> pendingFields_;
};

} // namespace qlr_main
