// What the scan's start and end and the scanning view's page controls need
// of the rest of the main window: its views, the process and completion
// windows, the navigation overlay, the setting window's check, the job made
// from the selected panels, edit-image mode, the page preview and the
// output writer's open PDF. The main-window controller implements it; each
// call has a harmless default so that pieces not built yet do nothing.
// Main thread only.
#pragma once

#include <memory>
#include <string>

class JobModel;
class PanelModel;
class PreviewBaseView;
class QWidget;
class TvQLRPlugin2;

namespace kdui {
class ImageBrowserView;
}

namespace qlr_main {

class MainWindowScanHost {
public:
    virtual ~MainWindowScanHost() = default;

    // ---- Views: the window, its content view and the two views it swaps.
    virtual QWidget* mainWindow() { return nullptr; }
    virtual QWidget* contentView() { return nullptr; }
    virtual QWidget* topContentView() { return nullptr; }
    virtual QWidget* scanContentView() { return nullptr; }
    // The scanned-page browser, the large preview and the split view
    // holding them (null when missing).
    virtual kdui::ImageBrowserView* pageBrowser() { return nullptr; }
    virtual PreviewBaseView* previewView() { return nullptr; }

    // ---- Windows that may stand over the main window.
    virtual void endProcWindow() {}
    virtual void endCompleteWindow() {}
    virtual void hideQlrNavigation() {}
    virtual void closePreferencesPanel() {}
    virtual void hidePanelFieldEditor() {}
    // The process window's state text and information line.
    virtual void setStateInfoStrForProcWin(const std::string& /*stateKey*/, const std::string& /*info*/) {}

    // ---- Settings and jobs.
    // Checks the panel's settings before they are used; shows its own
    // error and answers false when they cannot be used.
    virtual bool checkSettingValue(QWidget* /*sender*/, PanelModel& /*panel*/) { return true; }
    // A job of the selected input and output panels; with a use-count
    // record its user info names them. Null when there is none.
    virtual std::shared_ptr<JobModel> createJobModel(bool withUseCountRecord);

    // ---- Edit-image mode and the scan's preview.
    virtual void showHideEditImageDisplay(QWidget* /*sender*/, bool /*isShow*/, bool /*isAnime*/) {}
    virtual bool isEditImageDisplayShown() { return false; }
    virtual void updateEditImageViews(bool /*isEdit*/, bool /*isAnime*/) {}
    virtual void cancelEditingImage() {}
    // The page's preview made anew, fitted to the view or at full size.
    virtual void createPreviewImage(int /*index*/, bool /*isFitSize*/) {}
    virtual void updatePageDisplay() {}
    // The thumbnail browser's selection changed (by a control, not a click).
    virtual void imageBrowserSelectionDidChange() {}
    // The thumbnail cell size for the preview-shown layout.
    virtual void setCellSizeOfPreImageIBView() {}
    virtual void setCurrentOutputNone() {}
    // Whether the large preview pane is shown; toggling it.
    virtual bool isPreviewShown() { return true; }
    virtual void setPreviewShown(bool /*shown*/) {}
    // The width of the thumbnail column, and setting it.
    virtual double thumbnailColumnWidth() { return 0; }
    virtual void setThumbnailColumnWidth(double /*width*/) {}

    // ---- Plug-ins and other windows.
    // The loaded plug-in object for an identifier; null when none.
    virtual TvQLRPlugin2* pluginObjectByID(const std::string& /*pluginID*/) { return nullptr; }
    // The setting window for the job copy's outputs.
    virtual void openSettingWindowForScanJob() {}
    virtual void updateMainTopDisplay(QWidget* /*sender*/, bool /*isAnime*/) {}
    // The edit-image mode follows the processing-mode control (tag 4101).
    virtual void changeImageProcMode(QWidget* /*sender*/) {}

    // ---- Edit-image mode's typed values (brightness and contrast,
    // straightening, trimming fields).
    virtual void changeBriCont(QWidget* /*sender*/) {}
    virtual void changeStraighten(QWidget* /*sender*/) {}
    virtual void changeTrimming(QWidget* /*sender*/) {}
};

} // namespace qlr_main
