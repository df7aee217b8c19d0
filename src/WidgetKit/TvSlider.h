// The kit's slider and thin scroller.
//
// TvSlider is a horizontal slider of double values. Qt's integer range
// holds them at 1/1000 of a unit; minimum, maximum, value and the alternate
// increment are kept as doubles. In right-to-left layout the knob stands
// mirrored (the stored value is minimum + maximum - value) while every value
// accessor keeps the logical, left-to-right sense, so callers never see the
// mirroring. The layout direction is read when the slider is first polished
// (after a form set its values, which are then set again mirrored); the
// slider itself always runs left to right, so Qt adds no inversion.
//
// TvScroller is the 8-pixel scroll bar of the application's scroll areas
// (QAbstractScrollArea::setVerticalScrollBar); each time it is shown or
// hidden it posts "ScrollerHideDidChange" with the enclosing scroll area.
#pragma once

#include <QScrollBar>
#include <QSlider>
#include <QString>

#include <cstdint>

class TvSlider : public QSlider {
    Q_OBJECT
    // For forms (dynamic properties of a promoted slider).
    Q_PROPERTY(double minValue READ minValue WRITE setMinValue)
    Q_PROPERTY(double maxValue READ maxValue WRITE setMaxValue)
    Q_PROPERTY(double doubleValue READ doubleValue WRITE setDoubleValue)
    Q_PROPERTY(double altIncrementValue READ altIncrementValue WRITE setAltIncrementValue)
    Q_PROPERTY(int sliderStyle READ sliderStyle WRITE setSliderStyle)
public:
    static constexpr int kKnobSize = 28;
    static constexpr int kControlHeight = 28;
    // Qt's integer steps per unit.
    static constexpr int kScale = 1000;

    explicit TvSlider(QWidget* parent = nullptr);

    // Records the layout direction; in right-to-left layout sets the value
    // the slider holds again, so its knob stands mirrored. Runs at the first
    // polish.
    void awakeFromNib();
    bool isLTR() const { return mIsLTR; }

    double minValue() const { return mMin; }
    void setMinValue(double value);
    double maxValue() const { return mMax; }
    void setMaxValue(double value);
    // The step of the arrow keys; until set, one twentieth of the range.
    double altIncrementValue() const { return mAltIncrement; }
    void setAltIncrementValue(double value);

    // Logical values (clamped to the range when set).
    double doubleValue() const;
    void setDoubleValue(double value);
    float floatValue() const { return float(doubleValue()); }
    void setFloatValue(float value) { setDoubleValue(double(value)); }
    // Rounded to the nearest integer.
    int intValue() const;
    void setIntValue(int value) { setDoubleValue(double(value)); }
    long long integerValue() const;
    void setIntegerValue(long long value) { setDoubleValue(double(value)); }
    // "%2f" of the value in the C locale, whatever the application's.
    QString stringValue() const;
    // The string's leading number in the C locale; 0 when it has none.
    void setStringValue(const QString& text);

    // The value as stored for drawing (mirrored in right-to-left layout).
    double storedValue() const { return mStored; }
    // The knob: (round((stored - min) x (width - 28) / (max - min)), 0, 28, 28);
    // at the start for an empty range.
    QRect knobRect() const;
    // The bar: x + 14, width - 28, 2 high, vertically centred.
    QRect barRect() const;

    // Row of the slider colours (0 or 1).
    int sliderStyle() const { return mStyle; }
    void setSliderStyle(int style);
    // The drawing kit's flags word of the slider's state.
    std::uint32_t drawFlags() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void sliderChange(SliderChange change) override;

private:
    void storeValue(double stored);
    void updateRange();
    void updateStep();
    double mirrored(double value) const { return mIsLTR ? value : mMin + mMax - value; }

    bool mIsLTR = true;
    bool mAwoken = false;
    bool mSyncing = false;
    double mMin = 0;
    double mMax = 1;
    double mStored = 0;
    double mAltIncrement = 0;
    int mStyle = 0;
};

class TvScroller : public QScrollBar {
    Q_OBJECT
public:
    static constexpr int kThickness = 8;
    static constexpr int kSlotInset = 2;

    explicit TvScroller(Qt::Orientation orientation = Qt::Vertical, QWidget* parent = nullptr);

    // 8 for every control size and scroller style.
    static double scrollerWidthForControlSize(int controlSize, int scrollerStyle);

    bool isHoriz() const { return orientation() == Qt::Horizontal; }
    void setIsHoriz(bool horizontal) { setOrientation(horizontal ? Qt::Horizontal : Qt::Vertical); }
    // Row of the scroller colours (0 to 2).
    int scrollerStyle() const { return mStyle; }
    void setScrollerStyle(int style);

    // The knob slot (the scroller inset 2 at both ends along its length,
    // 8 thick) and the knob within it, in the scroller's coordinates.
    QRect slotRect() const;
    QRect knobRect() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int mStyle = 0;
};
