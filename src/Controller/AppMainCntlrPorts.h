// The application controller's neighbours: the main window, the preview,
// the output writer and the dialogs. Each registers its object with the
// controller when it is built; until then the controller talks to an inert
// stand-in (windows not visible, sizes zero, nothing written). Every call
// below is made on the main thread unless it says otherwise.
#pragma once

#include "TvNotifications.h"

#include <foundation/NotificationCenter.h>

#include <QSizeF>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class ImageInfoModel;
class PanelModel;
class PrefsModel;
class QObject;
class QWidget;

// Notifications the controller observes for its neighbours (any sender).
inline constexpr const char* kPanelIBViewClickCellNotification = "kPanelIBViewClickCellNotification";
// User info of the click: the clicked panel's index.
inline constexpr const char* kClickCellIndexKey = "ClickCellIndexKey";

// One scanned page as it travels to the preview and to a page thread: its
// index in the page list and the page.
struct PageParam {
    int index = -1;
    std::shared_ptr<ImageInfoModel> page;
};

// Panel types of the lists and browsers.
enum PanelType : int { kInputPanelType = 0, kOutputPanelType = 1, kJobPanelType = 2 };

class AppMainWindowPort {
public:
    virtual ~AppMainWindowPort();

    virtual QWidget* mainWindow() { return nullptr; }
    virtual QWidget* aboutWindow() { return nullptr; }

    // Shows what belongs to the current application state.
    virtual void updateUIByAppState() {}
    // Marks the main content view as needing display / draws it now when
    // it needs to.
    virtual void setContentViewNeedsDisplay() {}
    virtual void displayContentViewIfNeeded() {}
    // Redraws the process window's animation when it needs to.
    virtual void displayProcessAnimationIfNeeded() {}

    // Prepares the scan screen, the work folder and the page list and sets
    // state 100 (waiting on the main thread while the source waits).
    virtual void scanReadyByTwainCB() {}
    // The finish button's action (tag 4042).
    virtual void finishScan() {}
    // The window's part of a cancel from the main thread; the controller has
    // already set the write-cancel flag and told the device controller.
    virtual void scanCancelOnMain() {}
    virtual void endProcWindow() {}
    virtual void cancelToMain(bool /*flag*/) {}
    virtual void startCompleteWindowByPerform() {}

    // The About window; a new batch after a scan ended, as the control of
    // that tag of the scan view does.
    virtual void showQlrAbout() {}
    virtual void againExeScan(int /*controlTag*/) {}

    // Windows that make the application modal.
    virtual bool hasAttachedSheet() const { return false; }
    virtual bool isVisibleSettingWindow() const { return false; }
    // The frame size of the preview's split sub-view; zero when none.
    virtual QSizeF previewSplitSubViewSize() const { return {}; }

    // Panel browsers by panel type.
    virtual QWidget* panelBrowser(int /*panelType*/) { return nullptr; }
    virtual void reloadPanelBrowser(int /*panelType*/) {}
    virtual void setPanelBrowserCellSize(int /*panelType*/, QSizeF /*size*/) {}
    // The panel cell class's size for a panel and a size type.
    virtual QSizeF makePanelSize(const PanelModel& /*panel*/, int /*sizeType*/) { return {}; }
    virtual void createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& /*list*/,
                                          int /*sizeType*/) {}
    virtual void createIBViewMenu() {}
    virtual void updateMainTopDisplay(bool /*flag*/, bool /*isAnime*/) {}
    // The setting window's pop-up with that tag is set up again for the
    // current data source; the text of the control with that tag.
    virtual void setUpSettingPopUp(int /*tag*/) {}
    virtual void setSettingControlText(int /*tag*/, const std::string& /*text*/) {}

    // Notification handlers.
    virtual void driverCloseDSOk(const kdf::Notification&) {}
    virtual void driverTerminateUI(const kdf::Notification&) {}
    virtual void panelIBViewClickCell(const kdf::Notification&) {}
    virtual void mouseMovedInFlatWindowContentView(const kdf::Notification&) {}
    virtual void scrollWheelDidChange(const kdf::Notification&) {}
    virtual void tvAlertRunModal(const kdf::Notification&) {}

    // Hides the main window's navigation overlay.
    virtual void hideQlrNavigation() {}

    // ---- Start-up and termination.
    // The form is loaded: texts, menus and controls prepared.
    virtual void awakeFromNib() {}
    virtual void createPreviewIBViewMenu() {}
    // Appearance and data of the four image browsers.
    virtual void setUpImageBrowsers() {}
    virtual void initEditImageView() {}
    // The navigation overlay of the first start.
    virtual void showQlrNavigation() {}
    // Frees the panel cells' cached icons at termination.
    virtual void clearIconCache() {}

    // ---- Panel browsers' calls into their neighbours.
    // Ends a panel title being edited in place; takes the panels' tool tips
    // away and puts them back.
    virtual void endEditingPanelTitle() {}
    virtual void removePanelToolTips() {}
    virtual void resetPanelToolTips() {}
    // The scan view's select-all, odd or even pages button's action.
    virtual void changeMultiSelectScanImage(QWidget* /*sender*/) {}
    // ---- Appended: the create-panel menus' items and the main window's
    // frame and data-source window notifications.
    virtual void viewFrameDidChange(const kdf::Notification&) {}
    virtual void showKdWindow(const kdf::Notification&) {}
    virtual void hideKdWindow(const kdf::Notification&) {}
    virtual void willMiniKdWindow(const kdf::Notification&) {}
    virtual void didDeminiKdWindow(const kdf::Notification&) {}
    // ---- The panel setting window and new panels.
    // Opens the setting window on a stored panel (its type and index in that
    // type's list), or on the running scan's job copy when panelType is -1.
    virtual void openSettingWindow(int /*panelType*/, int /*index*/) {}
    // Makes a new panel as the sender (a menu item or a button, by its tag)
    // asks.
    virtual void createPanel(QObject* /*sender*/) {}
};

class AppPreviewPort {
public:
    virtual ~AppPreviewPort();

    // Shows a newly scanned page without writing it.
    virtual void displayOfPreview(const PageParam& /*param*/) {}
    // Rebuilds the preview items from the page list.
    virtual void renewTempArrayOfPre() {}
    virtual void revertEditingImage() {}
    virtual void setCurrentOutput(int /*index*/) {}
    // The page list is gone: no preview image, an empty page browser.
    virtual void clearPreviewImage() {}
    virtual void reloadPageBrowser() {}

    virtual void degreeForRotateDidChange(const kdf::Notification&) {}
    virtual void ratioOfCropDidChange(const kdf::Notification&) {}

    // The scan screen's preview is made ready when a scan becomes ready, and
    // put back when the scan ends.
    virtual void setupPreviewByStartScan() {}
    virtual void restorePreviewByEndScan() {}
};

class AppOutputWriterPort {
public:
    virtual ~AppOutputWriterPort();

    // On a page thread that the page list started: reads the raw page back
    // and writes it. The thread already holds the page's turn (every earlier
    // page of the list finished or gave up) and keeps the count of page
    // threads itself: the writer neither raises nor lowers it.
    virtual void readImgFileForJobScn(const PageParam& /*param*/) {}
    // On a thread of its own: rewrites every page for the job's next output.
    virtual void readImgFiles() {}
    // Names and moves the written files, or hands them to the output's
    // plug-in.
    virtual void maybeSendFileToPlugin() {}
    // The per-output lists of written files.
    virtual void initWriteFilePathArray(bool /*isAllOutputModel*/) {}
    virtual void releaseWriteFilePathArray(bool /*isDeleteFiles*/, bool /*isAllOutputModel*/) {}
    // When a scan is finished or abandoned: closes the PDF file left open
    // for the scan's pages, when the current output is a PDF.
    virtual void checkClosePDF() {}
    // A fresh temporary folder for the current output's plug-in, the old
    // one removed with the files written into it; none without an output.
    virtual std::optional<std::string> remakeTmpDirForSendPlugin() { return std::nullopt; }
};

class AppDialogsPort {
public:
    virtual ~AppDialogsPort();

    // The file-option dialog's PDF/TIFF or compression panel, the file-name
    // dialog's panel.
    virtual bool isFileOptionPanelVisible() const { return false; }
    virtual bool isFileNamePanelVisible() const { return false; }
    virtual QWidget* preferencesPanel() { return nullptr; }
    // The preferences window's model; none: the controller reads one from
    // the user defaults.
    virtual std::shared_ptr<PrefsModel> prefsModel() { return nullptr; }

    // ---- Start-up and termination: the shared dialog controllers.
    virtual void createSharedDialogs() {}
    virtual void terminatePrefsCntlr() {}
    virtual void terminateFileNameSettingCntlr() {}
    virtual void terminateFileOptionSettingCntlr() {}

    // Runs the preferences window over the main window.
    virtual void runModalPrefs() {}
};
