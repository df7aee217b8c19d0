// The application's menu commands that are not part of a scan (About,
// Preferences, help, the licence documents) and the navigation overlay:
// explanatory balloons over the main window on its dark shield. Main
// thread only.
#pragma once

#include <QPointer>
#include <QPoint>
#include <QSize>
#include <QWidget>

#include <string>
#include <vector>

class AppMainCntlr;
class TvPopoverWindowContentView;

class MainWindowController;

namespace qlr_main {


// One balloon of the overlay: its texts' keys (no title: empty), size,
// arrow edge (0 left, 2 top, 4 right, 6 bottom), the arrow's offset from
// the corner and the tag of the view it points at.
struct BalloonInfo {
    const char* titleKey;
    const char* messageKey;
    int width;
    int height;
    int edge;
    int offset;
    int targetTag;
};
inline constexpr BalloonInfo kBalloonInfos[] = {
    {"Nav_Title_Step1", "Nav_Step1_Message", 230, 94, 0, 36, 1011},
    {"Nav_Title_Step2", "Nav_Step2_Message", 230, 94, 0, 36, 1021},
    {"Nav_Title_Step3", "Nav_Step3_Message", 230, 94, 0, 52, 1032},
    {"", "Nav_ModeChange_Message", 244, 94, 2, 25, 1002},
};
// The balloons' texts: a bold title line and the message, both in this
// colour.
inline constexpr int kBalloonTitleSize = 18;
inline constexpr int kBalloonTitleHeight = 22;
inline constexpr int kBalloonMessageSize = 14;
inline constexpr int kBalloonTextRGB = 0x101010;

// Main-menu item tags of the commands.
inline constexpr int kAboutMenuTag = 101;
inline constexpr int kPrefsMenuTag = 102;
inline constexpr int kHelpMenuTag = 401;
// The bundle resources these commands open.
inline constexpr const char* kHelpBookNameKey = "CFBundleHelpBookName";
inline constexpr const char* kHelpEntryPage = "index.html";
inline constexpr const char* kLicenseFilesFolder = "LicenseFiles";

// The balloon's edge and offset for a layout direction: right-to-left swaps
// the left and right edges and measures the offset from the other corner.
BalloonInfo balloonForDirection(const BalloonInfo& info, bool rightToLeft);
// Where a balloon of that size goes so that its arrow's tip touches the
// middle of the target's side that faces it (target in the same
// coordinates as the result).
QPoint balloonOrigin(const QRect& target, QSize size, int edge, double offset);

class AppCommands {
public:
    AppCommands(AppMainCntlr& cntlr, MainWindowController& window);
    AppCommands(const AppCommands&) = delete;
    AppCommands& operator=(const AppCommands&) = delete;
    ~AppCommands();

    void showQlrAbout();
    void showQlrPrefs();
    void showQlrHelp();
    void openLicenceFolder();

    void showQlrNavigation();
    void hideQlrNavigation();
    std::vector<TvPopoverWindowContentView*> balloons() const;

private:
    void connectActions();
    // Takes the balloons away; the clicked one goes once its handler has
    // returned.
    void removeBalloons();

    AppMainCntlr& cntlr_;
    MainWindowController& window_;
    std::vector<QPointer<TvPopoverWindowContentView>> balloons_;
};

} // namespace qlr_main
