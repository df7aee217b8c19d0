#include "TvSlider.h"

#include "TvBackgroundViews.h"
#include "TvNotifications.h"
#include "TvUI.h"

#include "QlrUtilsMethod.h"

#include <foundation/NotificationCenter.h>

#include <QAbstractScrollArea>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>

namespace {

int toSteps(double value) {
    const double steps = std::round(value * TvSlider::kScale);
    if (!(steps > double(INT_MIN))) return INT_MIN; // also NaN
    if (steps >= double(INT_MAX)) return INT_MAX;
    return int(steps);
}

// Draws the kit's bar and knob and answers the knob rectangle the slider
// computes, so Qt's mouse handling drags the knob the user sees. One style
// serves every slider and scroller; for other widgets it is the
// application's style.
class TvControlStyle : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        if (control == CC_Slider)
            if (const auto* slider = qobject_cast<const TvSlider*>(widget)) {
                const std::uint32_t flags = slider->drawFlags();
                TvUI::drawSliderBarWithFrame(*painter, QRectF(option->rect), flags);
                TvUI::drawSliderKnobWithFrame(*painter, QRectF(slider->knobRect()), flags);
                return;
            }
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        if (control == CC_Slider && qobject_cast<const TvSlider*>(widget)) {
            const auto* slider = static_cast<const TvSlider*>(widget);
            if (sub == SC_SliderHandle) return slider->knobRect();
            if (sub == SC_SliderGroove) return QRect(0, 0, slider->width(), TvSlider::kKnobSize);
            return {};
        }
        if (control == CC_ScrollBar && qobject_cast<const TvScroller*>(widget)) {
            const auto* scroller = static_cast<const TvScroller*>(widget);
            const QRect slot = scroller->slotRect();
            const QRect knob = scroller->knobRect();
            const bool horiz = scroller->isHoriz();
            switch (sub) {
            case SC_ScrollBarGroove:
                return slot;
            case SC_ScrollBarSlider:
                return knob;
            case SC_ScrollBarSubPage:
                return horiz ? QRect(slot.left(), 0, knob.left() - slot.left(), TvScroller::kThickness)
                             : QRect(0, slot.top(), TvScroller::kThickness, knob.top() - slot.top());
            case SC_ScrollBarAddPage:
                return horiz ? QRect(knob.right() + 1, 0, slot.right() - knob.right(), TvScroller::kThickness)
                             : QRect(0, knob.bottom() + 1, TvScroller::kThickness, slot.bottom() - knob.bottom());
            default:
                return {}; // no arrow buttons
            }
        }
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_ScrollBarExtent && qobject_cast<const TvScroller*>(widget)) return TvScroller::kThickness;
        if (qobject_cast<const TvSlider*>(widget)) {
            if (metric == PM_SliderLength || metric == PM_SliderThickness || metric == PM_SliderControlThickness)
                return TvSlider::kKnobSize;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        // A click on the bar moves the knob there, then drags it.
        if (hint == SH_Slider_AbsoluteSetButtons && qobject_cast<const TvSlider*>(widget)) return Qt::LeftButton;
        if (hint == SH_ScrollBar_LeftClickAbsolutePosition && qobject_cast<const TvScroller*>(widget)) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle* controlStyle() {
    // Lives as long as the process; never deleted while a widget uses it.
    static QStyle* style = new TvControlStyle;
    return style;
}

} // namespace

// --- Slider.

TvSlider::TvSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setStyle(controlStyle());
    setLayoutDirection(Qt::LeftToRight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    updateRange();
    storeValue(mStored);
}

void TvSlider::awakeFromNib() {
    const double logical = mAwoken ? doubleValue() : mStored;
    mAwoken = true;
    mIsLTR = QlrUtilsMethod::isLTR_LayoutDirection();
    setLayoutDirection(Qt::LeftToRight);
    if (!mIsLTR) setDoubleValue(logical);
}

bool TvSlider::event(QEvent* event) {
    if (event->type() == QEvent::Polish && !mAwoken) awakeFromNib();
    return QSlider::event(event);
}

void TvSlider::setMinValue(double value) {
    const double logical = doubleValue();
    mMin = std::isfinite(value) ? value : 0.0;
    updateRange();
    setDoubleValue(logical);
}

void TvSlider::setMaxValue(double value) {
    const double logical = doubleValue();
    mMax = std::isfinite(value) ? value : 0.0;
    updateRange();
    setDoubleValue(logical);
}

void TvSlider::setAltIncrementValue(double value) {
    mAltIncrement = std::isfinite(value) && value > 0 ? value : 0.0;
    updateStep();
}

void TvSlider::updateRange() {
    mSyncing = true;
    setRange(toSteps(mMin), std::max(toSteps(mMin), toSteps(mMax)));
    mSyncing = false;
    updateStep();
}

void TvSlider::updateStep() {
    const double range = std::max(0.0, mMax - mMin);
    const double step = mAltIncrement > 0 ? mAltIncrement : range / 20;
    setSingleStep(std::max(1, toSteps(step)));
    setPageStep(std::max(1, toSteps(range / 10)));
}

void TvSlider::storeValue(double stored) {
    if (!(mMax > mMin))
        mStored = mMin;
    else
        mStored = std::clamp(std::isnan(stored) ? mMin : stored, mMin, mMax);
    mSyncing = true;
    setValue(toSteps(mStored));
    mSyncing = false;
    update();
}

void TvSlider::sliderChange(SliderChange change) {
    // The user moved the knob (mouse or keys): take Qt's value.
    if (change == SliderValueChange && !mSyncing) {
        const double stored = double(value()) / kScale;
        mStored = (mMax > mMin) ? std::clamp(stored, mMin, mMax) : mMin;
    }
    QSlider::sliderChange(change);
}

double TvSlider::doubleValue() const {
    return mirrored(mStored);
}

void TvSlider::setDoubleValue(double value) {
    storeValue(mirrored(value));
}

int TvSlider::intValue() const {
    return int(std::lround(doubleValue()));
}

long long TvSlider::integerValue() const {
    return std::llround(doubleValue());
}

QString TvSlider::stringValue() const {
    // "%2f": six decimals; the field width never matters. Always a point.
    return QString::number(doubleValue(), 'f', 6);
}

void TvSlider::setStringValue(const QString& text) {
    const std::string s = text.toStdString();
    const std::size_t start = s.find_first_not_of(" \t\n\r\f\v");
    double value = 0;
    if (start != std::string::npos) {
        const char* first = s.data() + start;
        const char* last = s.data() + s.size();
        if (*first == '+') ++first;
        if (std::from_chars(first, last, value).ec != std::errc()) value = 0;
    }
    setDoubleValue(value);
}

QRect TvSlider::knobRect() const {
    int x = 0;
    if (mMax > mMin) x = int(std::lround((mStored - mMin) * (width() - kKnobSize) / (mMax - mMin)));
    return QRect(x, 0, kKnobSize, kKnobSize);
}

QRect TvSlider::barRect() const {
    return QRect(kKnobSize / 2, (height() - 2) / 2, width() - kKnobSize, 2);
}

void TvSlider::setSliderStyle(int style) {
    mStyle = style;
    update();
}

std::uint32_t TvSlider::drawFlags() const {
    std::uint32_t flags = TvUI::kFlagFlipped | TvUI::styleFlags(mStyle);
    if (isSliderDown()) flags |= TvUI::kFlagHighlighted;
    if (!isEnabled()) flags |= TvUI::kFlagDisabled;
    if (hasFocus() && isActiveWindow()) flags |= TvUI::kFlagFocused;
    return flags;
}

QSize TvSlider::sizeHint() const {
    return QSize(std::max(QSlider::sizeHint().width(), 2 * kKnobSize), kControlHeight);
}

QSize TvSlider::minimumSizeHint() const {
    return QSize(kKnobSize, kControlHeight);
}

void TvSlider::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
        // Every arrow steps by the alternate increment, whatever the
        // modifiers.
        QKeyEvent plain(event->type(), event->key(), Qt::NoModifier, event->text(), event->isAutoRepeat(),
                        ushort(event->count()));
        QSlider::keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    default:
        QSlider::keyPressEvent(event);
    }
}

// --- Scroller.

TvScroller::TvScroller(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {
    setStyle(controlStyle());
}

double TvScroller::scrollerWidthForControlSize(int, int) {
    return kThickness;
}

void TvScroller::setScrollerStyle(int style) {
    mStyle = style;
    update();
}

QRect TvScroller::slotRect() const {
    return isHoriz() ? QRect(kSlotInset, 0, std::max(0, width() - 2 * kSlotInset), kThickness)
                     : QRect(0, kSlotInset, kThickness, std::max(0, height() - 2 * kSlotInset));
}

QRect TvScroller::knobRect() const {
    const QRect slot = slotRect();
    const int length = isHoriz() ? slot.width() : slot.height();
    const long long range = (long long)maximum() - minimum();
    const long long page = std::max(0, pageStep());
    int knob = length;
    if (range > 0) {
        knob = int((long long)length * page / (range + page));
        knob = std::clamp(std::max(knob, kThickness * 2), 0, length);
    }
    const int travel = length - knob;
    const int offset = range > 0 ? int((long long)travel * ((long long)sliderPosition() - minimum()) / range) : 0;
    return isHoriz() ? QRect(slot.left() + offset, 0, knob, kThickness)
                     : QRect(0, slot.top() + offset, kThickness, knob);
}

bool TvScroller::event(QEvent* event) {
    const bool handled = QScrollBar::event(event);
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
        // A scroll area hides its bar by hiding the bar's container, which
        // reaches the bar only as these events.
        for (QWidget* w = parentWidget(); w; w = w->parentWidget())
            if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) {
                kdf::NotificationCenter::defaultCenter().post(kScrollerHideDidChange, area);
                break;
            }
    }
    return handled;
}

void TvScroller::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The background of the nearest ancestor that has one, so the thin bar
    // sits on the colour around it; none: nothing filled.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* coloured = qobject_cast<TvColoedView*>(w); coloured && coloured->color()) {
            painter.fillRect(rect(), *coloured->color());
            break;
        }
        if (w->autoFillBackground()) {
            painter.fillRect(rect(), w->palette().color(w->backgroundRole()));
            break;
        }
    }
    const std::uint32_t flags = TvUI::kFlagFlipped | TvUI::styleFlags(mStyle);
    TvUI::drawScrollerWithFrame(painter, QRectF(slotRect()), false, flags);
    if (maximum() > minimum()) TvUI::drawScrollerWithFrame(painter, QRectF(knobRect()), true, flags);
}
