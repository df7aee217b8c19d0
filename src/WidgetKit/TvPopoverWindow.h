// The application's popover: a frameless, translucent window shown modally
// over its parent, with a rounded white body and an arrow pointing at an
// anchor rectangle in a view. It closes when it loses activation (a click
// outside, on the parent's shield, Escape), but only once the application
// accepts the settings it shows: the check is a process-wide hook that the
// main window installs.
//
// Sides and corners of the body are an eight-way code: 0 left, 2 top,
// 4 right, 6 bottom; a corner code (1, 3, 5, 7) draws its arrow on the side
// that follows it (2, 4, 6, 0) and is placed like that side. The arrow's
// offset runs along its side from the top on the left side, from the bottom
// on the right side, from the right on the top side and from the left on the
// bottom side. Coordinates are Qt's: device-independent, y running down.
#pragma once

#include "TvWindow.h"

#include <QPainterPath>
#include <QRectF>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>

class PanelModel;
class TvPopoverWindowContentView;

// Where a popover goes: its frame on the screen, the side that carries the
// arrow and the arrow's offset along it.
struct TvPopoverPlacement {
    QRect frame;
    int rectEdge = 0;
    double valueFromCorner = 0;
};

class TvPopoverWindow : public TvWindow {
    Q_OBJECT
public:
    // The minimum size of a popover.
    static constexpr int kMinimumSide = 50;

    explicit TvPopoverWindow(QWidget* parent = nullptr);
    ~TvPopoverWindow() override;

    // The body with its arrow; covers the whole window, also at once after
    // a resize of a hidden popover (whose resize event waits for the show).
    // Put the popover's controls in it, inside its insetFrame().
    TvPopoverWindowContentView* contentView() const;

    // Places the popover beside anchor (in view's coordinates; the part
    // inside the view, or the whole view when none is) with its arrow facing
    // the anchor, fits it into the available area of the view's screen and
    // shows it modally over parent with a fade; completeBlock runs once after
    // it has closed. requestedEdge is the side of the anchor the popover
    // opens on (0 left, 2 top, 4 right, 6 bottom); the arrow goes on the
    // body's opposite side. A corner code is taken as the arrow's code. A
    // negative offset centres the arrow.
    void showPopoverWindow(QWidget* parent, const QRectF& bounds, QWidget* view, int requestedEdge,
                           double valueFromCorner, std::function<void()> completeBlock = {});

    // The placement of a popover of the given size for an anchor in screen
    // coordinates inside the screen's available area.
    static TvPopoverPlacement placement(const QRectF& anchor, QSize size, const QRectF& visibleFrame,
                                        int requestedEdge, double valueFromCorner);
    // The side an arrow code draws on: a corner gives the side after it.
    static int sideOfEdge(int rectEdge);
    // The arrow's room along one side of a body of that length (never
    // below 0).
    static double usableLength(double sideLength);

    int rectEdge() const { return mRectEdge; }
    void setRectEdge(int edge);
    double valueFromCorner() const { return mValueFromCorner; }
    void setValueFromCorner(double value);

    // Asks the hook (without one: yes) whether the popover may close, while
    // isValidClose is set; closes it through the modal end, or activates it
    // again when the hook refuses.
    void resignKeyWindow() override;
    bool isPopoverWindow() const override { return true; }
    // Escape.
    void cancelOperation();

    // The application's check of the settings a popover shows (sender, the
    // panel; the popover sends itself and no panel). One for the process;
    // an empty function removes it.
    using CheckSettingValue = std::function<bool(QObject* sender, const std::shared_ptr<PanelModel>& model)>;
    static void setCheckSettingValueHook(CheckSettingValue hook);
    static bool hasCheckSettingValueHook();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void deactivated();

    TvPopoverWindowContentView* mContentView = nullptr;
    int mRectEdge = 0;
    double mValueFromCorner = 10.0;
    bool mResigning = false;
};

// The body and arrow. In a popover window it draws with the window's side
// and offset; elsewhere (a balloon laid over a view) with its own.
class TvPopoverWindowContentView : public QWidget {
    Q_OBJECT
public:
    // The margin around the body that holds the arrow.
    static constexpr double kInset = 10.5;
    static constexpr double kArrowDepth = 10;
    static constexpr double kArrowBase = 20;
    static constexpr double kCornerRadius = 5;
    static constexpr std::uint32_t kStrokeRGB = 0x959595;

    explicit TvPopoverWindowContentView(QWidget* parent = nullptr);

    // The bounds inset by 10.5 on every side: the body.
    QRectF insetFrame() const;
    // The outline of the body with the arrow on its side, for a view of that
    // size.
    static QPainterPath bodyPath(QSizeF size, int rectEdge, double valueFromCorner);

    int rectEdge() const;
    void setRectEdge(int edge);
    double valueFromCorner() const;
    void setValueFromCorner(double value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TvPopoverWindow* popover() const;

    int mRectEdge = 0;
    double mValueFromCorner = 10.0;
};
