// The main window as its form (ui/MainWindow.ui) builds it, and its outlets
// by name: the views the controller reaches directly. Controls inside them
// are found by tag (ui/ViewTag.h), main-menu items by tag (ui/MenuTags.h).
#pragma once

#include <QMainWindow>
#include <QWidget>

class QMenuBar;
class QSplitter;

namespace qlr_main {

// Outlet names, as the form's object names.
inline constexpr const char* kContentView = "contentView";
inline constexpr const char* kTopContentView = "Top_ContentView";
inline constexpr const char* kTopStepScanSubView = "Top_StepScan_SubView";
inline constexpr const char* kTopStepScanSplitView = "Top_StepScan_SplitView";
inline constexpr const char* kTopStepScanStep1SplitSubView = "Top_StepScan_Step1_SplitSubView";
inline constexpr const char* kTopStepScanStep2SplitSubView = "Top_StepScan_Step2_SplitSubView";
inline constexpr const char* kTopFavoritScanSubView = "Top_FavoritScan_SubView";
inline constexpr const char* kScanContentView = "Scan_ContentView";
inline constexpr const char* kScanSplitView = "Scan_SplitView";
inline constexpr const char* kScanThumbnailSplitSubView = "Scan_Thumbnail_SplitSubView";
inline constexpr const char* kScanPreviewSplitSubView = "Scan_Preview_SplitSubView";

class MainWindowNib {
public:
    // Builds the window from the form; the caller owns the window. Each
    // main-menu submenu's tag is also given to the item that opens it, so
    // the top-level items are found by tag like the others.
    static QMainWindow* load(QWidget* parent = nullptr);

    // The outlet of that name in the window; null when the window or the
    // outlet is missing.
    static QWidget* outlet(const QWidget* window, const char* name);
    static QSplitter* splitView(const QWidget* window, const char* name);
    static QMenuBar* mainMenu(const QWidget* window);
};

} // namespace qlr_main
