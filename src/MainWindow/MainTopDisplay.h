// The main screen's top display: the step-scan area (input and output
// panel browsers), the favourite-scan area (the job panel browser) or both
// side by side, switched by the arrow buttons 1001 and 1002 with an
// optional animation, the choice kept in the application model. The same
// class fills the About window from the bundle's Info.plist. Main thread
// only.
#pragma once

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

class AppMainCntlr;

class MainWindowController;

namespace qlr_main {

class MainWindowScanHost;

// Display types as the application model keeps them.
enum MainTopDispType : int { kTopDispStepScan = 0, kTopDispBoth = 1, kTopDispFavorite = 2 };

inline constexpr int kToStepScanButtonTag = 1001;
inline constexpr int kToFavoriteScanButtonTag = 1002;
// What stays visible of an area pushed aside: a strip of its header with
// its arrow button.
inline constexpr int kTopStripWidth = 44;
// The favourite area's width beside the step-scan area; it keeps it at the
// right edge while the step-scan area takes the rest.
inline constexpr int kFavoriteAreaWidth = 320;

// The main window's view animations run this long, ease in and out.
inline constexpr double kViewAnimationSeconds = 0.2;

// About window tags.
inline constexpr int kAboutIconTag = 5000;
inline constexpr int kAboutNameTag = 5001;
inline constexpr int kAboutVersionTag = 5002;
inline constexpr int kAboutRightsTag = 5003;
inline constexpr int kAboutLicenceTag = 5004;

// The views of both areas for one display type: each area's sub-view in
// the top content view's coordinates, its header and base view in the
// sub-view's.
struct TopDisplayFrames {
    QRect stepSub, stepHeader, stepBase;
    QRect favSub, favHeader, favBase;
};

// A frame mirrored inside a parent of that width (right-to-left layout).
QRect mirroredFrame(const QRect& frame, int parentWidth);

// The frames of a display type in a top content view of that size with
// headers of that height, mirrored for right-to-left layout.
TopDisplayFrames topDisplayFrames(int type, QSize top, int headerHeight, bool rightToLeft);

// The type a button (1001 or 1002) leads to from the old type; any other
// tag keeps it.
int nextTopDisplayType(int oldType, int buttonTag);

class MainTopDisplay {
public:
    MainTopDisplay(AppMainCntlr& cntlr, MainWindowController& window, MainWindowScanHost& host);
    MainTopDisplay(const MainTopDisplay&) = delete;
    MainTopDisplay& operator=(const MainTopDisplay&) = delete;
    ~MainTopDisplay();

    // sender: button 1001 or 1002, or null to lay out the stored type again.
    void updateMainTopDisplay(QWidget* sender, bool isAnime);
    // The type the views show now (what a sender-less call starts from).
    int displayTypeOfViews() const;
    // The type stored in the application model, 0 to 2 (1 for anything
    // else a settings file may hold).
    int storedDisplayType() const;

    void initAboutWindow();

private:
    struct Views;
    Views views() const;
    // Removes the form's layouts of the two areas, so the frames the type
    // gives hold; from then on a resize of the top content view lays the
    // stored type out again.
    void takeOverLayout();
    void layoutForType(int type);
    void connectButtons();

    AppMainCntlr& cntlr_;
    MainWindowController& window_;
    MainWindowScanHost& host_;
    QPointer<QWidget> top_;
    QPointer<QObject> resizeRule_;
    bool animating_ = false;
};

} // namespace qlr_main
