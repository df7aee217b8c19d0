// The main window's plain layout views: headers, bases and separators of
// the step-scan and favourite-scan areas, the scan area, the
// image-processing area and the edit-image area. Each paints one background
// type of TvUI::drawRectForView over its whole bounds (the lines are placed
// from the rectangle's edges, never from the repaint region), so the whole
// window's look lives in one table. Also the colour view that can catch
// clicks as an overlay and the two-column settings grid.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QAbstractButton;

// A view painting one background type.
class TvBackgroundView : public QWidget {
    Q_OBJECT
public:
    TvBackgroundView(unsigned type, QWidget* parent = nullptr);
    unsigned backgroundType() const { return type_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    unsigned type_;
};

// The two headers with a translucent strip: the type fills all but the
// bottom 2 rows, which get black at alpha 0.09 over what lies beneath.
class TvStripHeaderView : public TvBackgroundView {
    Q_OBJECT
public:
    using TvBackgroundView::TvBackgroundView;
    static constexpr int kStripHeight = 2;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Headers that pass a click on to the button they belong to: the first of
// the two related buttons that is enabled is clicked; with both disabled
// the click is dropped.
class TvClickForwardingHeaderView : public TvBackgroundView {
    Q_OBJECT
public:
    using TvBackgroundView::TvBackgroundView;
    void setRelatedViews(QAbstractButton* related, QAbstractButton* related2);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<QAbstractButton> mRelatedView, mRelatedView2;
};

#define KD_BACKGROUND_VIEW(Name, Base, type)                                                                 \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        explicit Name(QWidget* parent = nullptr) : Base(type, parent) {}                                      \
    };
KD_BACKGROUND_VIEW(Top_HeaderView, TvStripHeaderView, 0)
KD_BACKGROUND_VIEW(Top_StepHeaderView, TvClickForwardingHeaderView, 1)
KD_BACKGROUND_VIEW(Top_FavoritHeaderView, TvClickForwardingHeaderView, 2)
KD_BACKGROUND_VIEW(Top_StepScan_BaseView, TvBackgroundView, 3)
KD_BACKGROUND_VIEW(Top_FavoritScan_BaseView, TvBackgroundView, 4)
KD_BACKGROUND_VIEW(Scan_HeaderView, TvStripHeaderView, 5)
KD_BACKGROUND_VIEW(Scan_SeparateView, TvBackgroundView, 6)
KD_BACKGROUND_VIEW(Scan_ImageProc_HeaderView, TvBackgroundView, 7)
KD_BACKGROUND_VIEW(Scan_ImageProc_BaseView, TvBackgroundView, 8)
KD_BACKGROUND_VIEW(Scan_InfoView, TvBackgroundView, 9)
KD_BACKGROUND_VIEW(EditImage_ShrinkView, TvBackgroundView, 10)
KD_BACKGROUND_VIEW(EditImage_Header_BackView, TvBackgroundView, 11)
KD_BACKGROUND_VIEW(EditImage_ContentView, TvBackgroundView, 12)
#undef KD_BACKGROUND_VIEW

// A two-column settings row: a wrapping text on the left, a control on the
// right. Painted as the background table's last row (type 13).
class TvSettingGridView : public TvBackgroundView {
    Q_OBJECT
public:
    static constexpr unsigned kBackgroundType = 13;
    explicit TvSettingGridView(QWidget* parent = nullptr) : TvBackgroundView(kBackgroundType, parent) {}
    // The leftmost child (smallest x below the grid's width; the first on a
    // tie), when it is a label, wraps its words and takes the height its text
    // needs for its width less 4; when that is more than it had, the grid
    // grows by the difference (keeping its origin and width) and the
    // rightmost child (greatest x above 0) is centred vertically in it.
    void performLayout();
};

// A colour-filled view. In wrap mode it is a click-catching overlay: it
// takes the keyboard focus and keeps it (Tab goes nowhere), drops enter and
// move events, and a press runs the click block (when set) instead of
// reaching the views beneath.
class TvColoedView : public QWidget {
    Q_OBJECT
public:
    explicit TvColoedView(QWidget* parent = nullptr);

    std::optional<QColor> color() const { return mColor; }
    // Fills itself with the colour (black when none is set).
    void setColor(const QColor& color);
    bool wrapMode() const { return mWrapMode; }
    void setWrapMode(bool wrap);
    std::function<void()> clickActionBlock() const { return mClickActionBlock; }
    void setClickActionBlock(std::function<void()> block) { mClickActionBlock = std::move(block); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    std::optional<QColor> mColor;
    bool mWrapMode = false;
    std::function<void()> mClickActionBlock;
};
