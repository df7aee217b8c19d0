#include "Slider.h"

#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace ComTavrolekKD720 {

namespace {

// One style for every slider of the window; it lives as long as the process.
SliderStyle* sharedStyle() {
    static SliderStyle* style = new SliderStyle;
    return style;
}

} // namespace

SliderStyle::SliderStyle() : QProxyStyle() {}

int SliderStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    if (metric == PM_SliderLength || metric == PM_SliderThickness || metric == PM_SliderControlThickness) {
        return kSide;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int SliderStyle::knobX(double value, double minimum, double maximum, int width) {
    if (maximum <= minimum) return 0;
    return static_cast<int>(std::lround(static_cast<float>((value - minimum) * (width - kSide) / (maximum - minimum))));
}

QRect SliderStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                                  const QWidget* widget) const {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control == CC_Slider && sub == SC_SliderHandle && slider && slider->orientation == Qt::Horizontal) {
        const int width = slider->rect.width();
        int x = knobX(slider->sliderPosition, slider->minimum, slider->maximum, width);
        // Qt's mirrored slider: the knob stands where the mirrored value would.
        if (slider->upsideDown) x = width - kSide - x;
        return QRect(slider->rect.x() + x, slider->rect.y(), kSide, kSide);
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
}

QSize SliderStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                    const QWidget* widget) const {
    if (type == CT_Slider) return FSlider::cellSizeForBounds(size);
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

FSlider::FSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setStyle(sharedStyle());
    setSingleStep(1);
    setFixedHeight(SliderStyle::kSide);
}

void FSlider::setDoubleValue(double value) {
    // Integer slider: halves round away from zero, as lround does.
    if (std::isfinite(value)) setValue(static_cast<int>(std::lround(value)));
}

QString FSlider::stringValue() const {
    return QString::asprintf("%2f", doubleValue());
}

void FSlider::setStringValue(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    setDoubleValue(ok ? value : 0.0);
}

QSize FSlider::cellSizeForBounds(QSize bounds) {
    return {std::max(bounds.width(), SliderStyle::kSide), std::max(bounds.height(), SliderStyle::kSide)};
}

QRect FSlider::knobRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

QSize FSlider::sizeHint() const {
    return {QSlider::sizeHint().width(), SliderStyle::kSide};
}

QSize FSlider::minimumSizeHint() const {
    return {QSlider::minimumSizeHint().width(), SliderStyle::kSide};
}

} // namespace ComTavrolekKD720
