// The scanning view's page controls: all, odd or even pages selected,
// stepping through the pages or typing a page number, the zoom or
// thumbnail-size slider, the large preview shown or hidden, the edit-image
// pane, and two forwarding actions. The main-window controller delegates
// the controls' actions and the preview's scroll-wheel notification here.
// Main thread only.
#pragma once

#include "MainWindowScanHost.h"

#include <QString>

class AppMainCntlr;

namespace qlr_main {

enum PageControlTag : int {
    kTagSelectAllPages = 4000,
    kTagSelectOddPages = 4001,
    kTagSelectEvenPages = 4002,
    kTagPreviousPage = 4003,
    kTagPageNumber = 4004,
    kTagNextPage = 4006,
    kTagPageNavigationCompanion = 4007,
    kTagScaleSlider = 4009,
    kTagPreviewToggle = 4011,
};

// Slider limits by mode: thumbnail edge in points with the preview hidden,
// the preview's zoom with it shown.
struct SliderLimits {
    double minimum;
    double maximum;
    double altIncrement;
};
inline constexpr SliderLimits kThumbnailSliderLimits{39, 386, 5};
inline constexpr SliderLimits kPreviewSliderLimits{1.0, 4.0, 0.05};
// A scrolled-to thumbnail stands this far below the top.
inline constexpr int kScrollToPageMargin = 10;

// A typed or pasted page number: ASCII and Arabic-Indic digits, blanks
// around them allowed; any other text is 0. Large numbers saturate.
int pageNumberFromText(const QString& text);

class MainWindowPages {
public:
    MainWindowPages(AppMainCntlr& cntlr, MainWindowScanHost& host);

    void changeMultiSelectScanImage(QWidget* sender);
    void changeSelectScanImage(QWidget* sender);
    void changeScale(QWidget* sender);
    void switchPreviewDisplay(QWidget* sender);
    void showHideEditImage(QWidget* sender);
    void showOutputWindow(QWidget* sender);
    void changeMainTopDisplay(QWidget* sender);
    void scrollWheelDidChange();

    // Connects the scanning view's page controls to their actions.
    void connectScanViewActions();

    // The thumbnail zoom kept while the preview is shown (0: none yet).
    static double rememberedThumbnailZoom();
    static void resetRememberedThumbnailZoom();

private:
    QWidget* scanControl(int tag) const;

    AppMainCntlr& cntlr_;
    MainWindowScanHost& host_;
};

} // namespace qlr_main
