// The horizontal slider of the settings panels (brightness, contrast,
// threshold). In a right-to-left layout Qt draws a horizontal QSlider
// mirrored while its values stay in the caller's terms, so the values are
// never mirrored here. Plain arrow keys step by 1, and the slider is a
// fixed 28 points high with a square 28 by 28 knob placed by its own rule
// (SliderStyle, used for drawing and hit-testing alike).
#pragma once

#include <QProxyStyle>
#include <QSlider>

namespace ComTavrolekKD720 {

class SliderStyle final : public QProxyStyle {
public:
    static constexpr int kSide = 28;

    SliderStyle();
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;

    // The knob's left edge in a left-to-right slider of the given width.
    static int knobX(double value, double minimum, double maximum, int width);
};

class FSlider final : public QSlider {
public:
    explicit FSlider(QWidget* parent = nullptr);

    double doubleValue() const { return value(); }
    void setDoubleValue(double value);
    int intValue() const { return value(); }
    void setIntValue(int value) { setValue(value); }
    // The value with six decimals ("%2f" sets only a minimum width).
    QString stringValue() const;
    void setStringValue(const QString& text);

    // Each side raised to at least 28 points.
    static QSize cellSizeForBounds(QSize bounds);
    // The knob's rectangle in widget coordinates, as drawn and hit-tested.
    QRect knobRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

} // namespace ComTavrolekKD720
