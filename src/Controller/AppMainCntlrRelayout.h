// The main window's controls whose width depends on the language, placed
// again when a view's frame changes; and the data source's own settings
// window run as a modal child of the application's front window, also
// across miniaturising. Main thread only.
#pragma once

#include <foundation/NotificationCenter.h>

#include <QPointer>
#include <QRect>

#include <functional>

class AppMainCntlr;
class QWidget;

namespace qlr_relayout {

// ---- The scan information bar: the scan-again (4040), cancel (4041) and
// finish (4042) buttons right of the output-setting control (4039).
inline constexpr int kFinishRightInset = 10;
inline constexpr int kCancelGap = 22;
inline constexpr int kAgainGap = 3;
inline constexpr int kFinishWidth = 181;
struct InfoBarButtons {
    QRect again, cancel, finish;
};
// Frames in the bar's coordinates from the buttons' best widths (their
// heights and tops kept); right-to-left layout mirrors the bar.
InfoBarButtons layoutScanInfoBar(int barWidth, QRect outputSetting, QRect again, QRect cancel, QRect finish, bool ltr);

// ---- The main top's scan button (1032) in its area, beside 1033.
inline constexpr int kScanButtonInset = 28;
QRect layoutScanButton(int areaWidth, QRect scanButton, QRect addToJobButton, bool ltr);

// ---- The data source's windows.
class KdWindows {
public:
    struct Ops {
        // The source was opened for its own settings window.
        std::function<bool()> isOpenScnPanel;
        // The process window when visible, else the setting window when
        // visible, else the main window.
        std::function<QWidget*()> parentWindow;
        std::function<void(QWidget* window, QWidget* parent)> beginModal;
        std::function<void(QWidget* window)> endModal; // without ordering out
        std::function<void(QWidget* parent)> shieldParent;
        std::function<void(std::function<void()>)> performLater;
    };
    // The recorded windows are the controller's (guarded pointers).
    KdWindows(AppMainCntlr& cntlr, Ops ops);

    void showKdWindow(const kdf::Notification& n);
    void hideKdWindow(const kdf::Notification& n);
    void willMiniKdWindow(const kdf::Notification& n);
    void didDeminiKdWindow(const kdf::Notification& n);
    void orderFrontDriverWinByPerform();

    // The notification's object as a live top-level window of this process;
    // null for anything else.
    static QWidget* windowOfNotification(const kdf::Notification& n);
    // The default operations: the kit's modal windows, the device
    // controller's flag, the controller's windows.
    static Ops defaultOps(AppMainCntlr& cntlr);

private:
    AppMainCntlr& mCntlr;
    Ops mOps;
};

} // namespace qlr_relayout
