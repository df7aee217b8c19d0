// The application's windows: modal windows over a parent without a modal
// loop (the parent's shield swallows every event until its last modal
// window ends), fades in and out, and the translucent flat window of the
// panels and the alert. The static functions work on any top-level widget,
// dialogs included; what only a TvWindow has (the close block, the base
// alpha, isValidClose) is skipped for other widgets.
#pragma once

#include <QPointer>
#include <QRect>
#include <QScrollArea>
#include <QWidget>

#include <functional>

class TvWindow : public QWidget {
    Q_OBJECT
public:
    explicit TvWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::Window);
    ~TvWindow() override;

    // Shows window modally over parent (either may be null). Animated, the
    // window fades in and a TvWindow keeps completeBlock as its close block;
    // fromFrame is accepted and not used.
    static void beginModalWindow(QWidget* window, QWidget* parent, bool animate, QRect fromFrame = {},
                                 std::function<void()> completeBlock = {});
    // Detaches window from the parent that lists it (the shield goes with
    // the last one); with orderOut it then fades out.
    static void endModalWindow(QWidget* window, bool orderOut = true);
    // A free-standing window.
    static void beginOpenWindow(QWidget* window, bool animate, std::function<void()> completeBlock = {});
    static void endCloseWindow(QWidget* window);
    // The window that lists window as modal over it, or null.
    static QWidget* behindWindow(const QWidget* window);
    // The blocking 0.25 s fade; the resting opacity is a flat window's base
    // alpha, else 1. Its end steps run from the main run loop.
    static void fadeInOutWindow(QWidget* window, bool fadeIn);
    static constexpr double kFadeSeconds = 0.25;

    bool isValidClose() const { return mIsValidClose; }
    void setIsValidClose(bool valid) { mIsValidClose = valid; }
    double baseAlpha() const { return mBaseAlpha; }
    void setBaseAlpha(double alpha) { mBaseAlpha = alpha; }
    void setWindowCloseCompleteBlock(std::function<void()> block) { mWindowCloseCompleteBlock = std::move(block); }
    bool hasWindowCloseCompleteBlock() const { return bool(mWindowCloseCompleteBlock); }
    // Runs the close block once, if set.
    void exeWindowCloseCompleteBlock();

    // The scroll area whose content follows the focus: a focused widget in
    // it that is not wholly visible is scrolled to the viewport's top-left.
    void setScrollArea(QScrollArea* area) { mScrollArea = area; }

    // A popover's answers; the popover window overrides them. A press on a
    // shield whose first modal window is a popover with isValidClose set
    // sends it resignKeyWindow.
    virtual bool isPopoverWindow() const { return false; }
    virtual void resignKeyWindow() {}

private:
    void focusChanged(QWidget* now);

    QMetaObject::Connection mFocusConnection;
    QPointer<QScrollArea> mScrollArea;
    bool mIsValidClose = false;
    double mBaseAlpha = 1.0;
    std::function<void()> mWindowCloseCompleteBlock;
};

// Frameless, translucent, without shadow; dragging its background moves it.
class TvFlatWindow : public TvWindow {
    Q_OBJECT
public:
    explicit TvFlatWindow(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The flat window's content: the panel look (style 0) or the alert look
// (style 1). It posts kMouseMovedInFlatWindowContentViewDidChange on every
// mouse move, enter and leave; in panel style with isChangeAlpha its flat
// window is opaque under the mouse and at its base alpha otherwise.
class TvFlatWindowContentView : public QWidget {
    Q_OBJECT
public:
    enum Style { Panel = 0, Alert = 1 };
    explicit TvFlatWindowContentView(QWidget* parent = nullptr, int style = Panel);

    int style() const { return mStyle; }
    void setStyle(int style);
    bool isChangeAlpha() const { return mIsChangeAlpha; }
    void setIsChangeAlpha(bool change) { mIsChangeAlpha = change; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void mouseChanged(bool inside);

    int mStyle = Panel;
    bool mIsChangeAlpha = false;
};
