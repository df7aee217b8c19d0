// The scanning view's edit-image side panel as a layout: its three
// sections (image processing, transform, rotate) open and close like an
// accordion, and the whole panel slides in and out beside the preview.
// What the controls inside the sections do belongs to the edit-image mode.
// Main thread only.
#pragma once

#include <QPointer>
#include <QWidget>

class AppMainCntlr;

class MainWindowController;

namespace qlr_main {

class MainWindowScanHost;

// Section toggle buttons, the processing-mode control, the side-panel button.
inline constexpr int kImageProcToggleTag = 4100;
inline constexpr int kImageProcModeTag = 4101;
inline constexpr int kImageTransformToggleTag = 4200;
inline constexpr int kImageRotateToggleTag = 4300;
inline constexpr int kEditPanelToggleTag = 4012;
// The room the side panel's header takes beside its width while the job
// edits its pages.
inline constexpr int kImageProcHeaderExtra = 42;
// The side panel's width when the form gives none.
inline constexpr int kEditPanelWidth = 260;

class EditImagePanel {
public:
    EditImagePanel(AppMainCntlr& cntlr, MainWindowController& window, MainWindowScanHost& host);
    EditImagePanel(const EditImagePanel&) = delete;
    EditImagePanel& operator=(const EditImagePanel&) = delete;

    // All sections closed and stacked.
    void initEditImageView();
    // sender: a section's toggle button, or null to close the open section.
    void updateEditImageViews(QWidget* sender, bool isAnime);
    // With a sender the panel toggles; without, isShow says which.
    void showHideEditImageDisplay(QWidget* sender, bool isShow, bool isAnime);
    bool isEditImageDisplayShown() const;

    // A section by its toggle tag (4100, 4200, 4300): open or not.
    bool isSectionOpen(int toggleTag) const;
    // The height of a closed section: its header plus one point.
    int closedHeight(int toggleTag) const;

private:
    struct Section {
        int tag = 0;
        QWidget* shrink = nullptr;
        QWidget* header = nullptr;
        QWidget* headerBack = nullptr;
        QWidget* content = nullptr;
    };
    Section section(int toggleTag) const;
    QWidget* scanItem(int tag) const;
    QWidget* outlet(const char* name) const;
    // The section's views below its header: the content view and whatever
    // else the form puts beside it.
    static std::vector<QWidget*> belowHeader(const Section& s);
    static int openHeight(const Section& s);
    void setSectionShown(const Section& s, bool open);
    void connectButtons();

    AppMainCntlr& cntlr_;
    MainWindowController& window_;
    MainWindowScanHost& host_;
    int panelWidth_ = kEditPanelWidth;
};

} // namespace qlr_main
