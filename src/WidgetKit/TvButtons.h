// The kit's buttons. A button holds a look (a "cell") that turns the
// button's state into the drawing kit's flags word and lets TvUI draw it.
// TvButton adds a roll-over look and tool tips from its cell, TvMenuButton
// pops up a menu, TvToolButton can stay out of the Tab chain.
//
// In a Qt Designer form a QAbstractButton is promoted to TvButton,
// TvToolButton or TvMenuButton and names its look with dynamic properties,
// read when the button is first polished:
//   kdCell       the look's class name (e.g. "TvColoredPushButtonCell")
//   kdStyle      the coloured push button's style row
//   kdImageIndex the image row of a coloured push or image button
//   kdMinSize    the coloured push button's minimum width
// An unknown kdCell leaves Qt's own look and warns once.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

#include <QMenu>
class QVariantAnimation;

// --- Looks.

class TvButtonCell {
public:
    virtual ~TvButtonCell();
    // The flags word of the button's current state.
    virtual std::uint32_t flags(const QAbstractButton& button) const;
    virtual void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const = 0;
    virtual QString toolTipString() const { return {}; }
    // 1: no system focus frame (TvUI draws focus).
    int focusRingType() const { return 1; }
    // Called when the button takes the look.
    virtual void attach(QAbstractButton* /*button*/) {}
    virtual const char* className() const = 0;

    // The flags every look starts from: flipped (Qt's y runs down), pressed,
    // disabled, and focused when the button has focus in the active window.
    static std::uint32_t baseFlags(const QAbstractButton& button);
    // Roll-over when the button is a TvButton in roll-over state.
    static std::uint32_t rollOverFlag(const QAbstractButton& button);
    // On when the button is checkable and checked.
    static std::uint32_t onFlag(const QAbstractButton& button);
};

class TvRoundedButtonCell : public TvButtonCell {
public:
    std::uint32_t flags(const QAbstractButton& button) const override;
    void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const override;
    const char* className() const override { return "TvRoundedButtonCell"; }
};

class TvArrowButtonCell : public TvButtonCell {
public:
    void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const override;
    const char* className() const override { return "TvArrowButtonCell"; }
};

class TvColoredPushButtonCell : public TvButtonCell {
public:
    explicit TvColoredPushButtonCell(int style = 0, int imageIndex = 0, double minSize = 0)
        : mStyle(style), mImageIndex(imageIndex), mMinSize(minSize) {}
    std::uint32_t flags(const QAbstractButton& button) const override;
    void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const override;
    const char* className() const override { return "TvColoredPushButtonCell"; }
    int style() const { return mStyle; }
    void setStyle(int style) { mStyle = style; }
    int imageIndex() const { return mImageIndex; }
    void setImageIndex(int index) { mImageIndex = index; }
    double minSize() const { return mMinSize; }
    void setMinSize(double minSize) { mMinSize = minSize; }

private:
    int mStyle;
    int mImageIndex;
    double mMinSize;
};

class TvImageButtonCell : public TvButtonCell {
public:
    explicit TvImageButtonCell(int imageIndex = 0, QString toolTip = {})
        : mImageIndex(imageIndex), mToolTipString(std::move(toolTip)) {}
    std::uint32_t flags(const QAbstractButton& button) const override;
    void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const override;
    QString toolTipString() const override { return mToolTipString; }
    const char* className() const override { return "TvImageButtonCell"; }
    int imageIndex() const { return mImageIndex; }
    void setImageIndex(int index) { mImageIndex = index; }
    void setToolTipString(const QString& tip) { mToolTipString = tip; }

private:
    int mImageIndex;
    QString mToolTipString;
};

class TvPreviewButtonCell : public TvButtonCell {
public:
    std::uint32_t flags(const QAbstractButton& button) const override;
    void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const override;
    const char* className() const override { return "TvPreviewButtonCell"; }
    QImage image() const { return mImage; }
    void setImage(const QImage& image) { mImage = image; }

private:
    QImage mImage;
};

// The disclosure button: TvUI draws the title, the cell the triangle
// ("btn_expandor.png"), turned by an angle that follows the checked state
// over 0.25 s: off 0 degrees (180 in right-to-left layout), on 90 (down).
class TvTriangleButtonCell : public TvButtonCell {
public:
    TvTriangleButtonCell();
    ~TvTriangleButtonCell() override;
    std::uint32_t flags(const QAbstractButton& button) const override;
    void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const override;
    void attach(QAbstractButton* button) override;
    const char* className() const override { return "TvTriangleButtonCell"; }

    // The triangle's current angle in degrees, and the one it turns to.
    double angle() const { return mAngle; }
    static double targetAngle(bool on);
    // The triangle's opacity: 1 enabled, 0.5 disabled.
    static double opacity(const QAbstractButton& button) { return button.isEnabled() ? 1.0 : 0.5; }
    // Where the triangle is drawn in the button (leading edge, centred).
    QRectF triangleRect(const QRectF& frame) const;
    QVariantAnimation* animation() const { return mAnimation.get(); }

private:
    void turnTo(bool on, bool animated);

    QPointer<QAbstractButton> mButton;
    std::unique_ptr<QVariantAnimation> mAnimation;
    double mAngle = 0;
};

class TvMenuButtonCell : public TvButtonCell {
public:
    void draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const override;
    const char* className() const override { return "TvMenuButtonCell"; }
};

// The look of a class name; null for a name the kit does not know.
std::unique_ptr<TvButtonCell> makeButtonCell(const QString& className);

// --- Buttons.

// The common part: holds the look, reads the form's properties at first
// polish and paints through the look (Qt's push button look without one).
class TvCellButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TvCellButton(QWidget* parent = nullptr);
    ~TvCellButton() override;

    TvButtonCell* cell() const { return mCell.get(); }
    void setCell(std::unique_ptr<TvButtonCell> cell);
    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void readFormProperties();

    std::unique_ptr<TvButtonCell> mCell;
    bool mPolished = false;
};

class TvButton : public TvCellButton {
    Q_OBJECT
public:
    explicit TvButton(QWidget* parent = nullptr);
    ~TvButton() override;

    bool isRollOverState() const { return mIsRollOverState; }
    void setIsRollOverState(bool on);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    // Watches every ancestor's moves and resizes; renewed on reparenting.
    void watchAncestors();

    bool mIsRollOverState = false;
    std::vector<QPointer<QWidget>> mWatched;
};

class TvToolButton : public TvCellButton {
    Q_OBJECT
    Q_PROPERTY(bool excludeKeyViewLoop READ excludeKeyViewLoop WRITE setExcludeKeyViewLoop)
public:
    explicit TvToolButton(QWidget* parent = nullptr);

    bool excludeKeyViewLoop() const { return mExcludeKeyViewLoop; }
    // While set the button takes focus only by clicks, never by Tab.
    void setExcludeKeyViewLoop(bool exclude);

private:
    bool mExcludeKeyViewLoop = false;
    Qt::FocusPolicy mPolicy = Qt::StrongFocus;
};

class TvMenuButton : public TvButton {
    Q_OBJECT
public:
    explicit TvMenuButton(QWidget* parent = nullptr);
    ~TvMenuButton() override;

    QMenu* btnMenu() const { return mBtnMenu; }
    // Takes the menu (the button becomes its parent).
    void setBtnMenu(QMenu* menu);
    // Where the menu opens in the button's coordinates: under the button,
    // its trailing edges lined up with the button's.
    QPoint menuOrigin() const;
    // Pops the menu up (in event-tracking mode, the button shown pressed).
    void showBtnMenu();

signals:
    void menuAboutToPopUp();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointer<QMenu> mBtnMenu;
};

// --- Segmented control.

// Segments side by side from the left in index order, one selected; the
// key segment moves with Left and Right and is chosen with Space. 31 high.
class TvSegmentedControl : public QWidget {
    Q_OBJECT
public:
    struct Segment {
        QString label;
        int width = 80;
        bool enabled = true;
    };

    explicit TvSegmentedControl(QWidget* parent = nullptr);

    int segmentCount() const { return int(mSegments.size()); }
    void setSegmentCount(int count);
    void setLabel(const QString& label, int segment);
    QString labelForSegment(int segment) const;
    void setWidth(int width, int segment);
    int widthForSegment(int segment) const;
    void setEnabled(bool enabled, int segment);
    bool isEnabledForSegment(int segment) const;
    using QWidget::setEnabled;

    int selectedSegment() const { return mSelected; }
    void setSelectedSegment(int segment);
    int keySegment() const { return mKey; }

    // The flags word segment i is drawn with.
    std::uint32_t flagsForSegment(int segment) const;
    // The segment under a point; -1 for none.
    int segmentAt(const QPoint& point) const;
    QRect rectForSegment(int segment) const;
    QSize sizeHint() const override;

signals:
    // The user chose a segment.
    void activated(int segment);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool valid(int segment) const { return segment >= 0 && segment < segmentCount(); }
    void choose(int segment);

    std::vector<Segment> mSegments;
    int mSelected = -1;
    int mKey = 0;
    int mHighlighted = -1;
};
