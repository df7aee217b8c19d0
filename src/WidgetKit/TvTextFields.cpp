#include "TvTextFields.h"

#include "TvButtons.h"
#include "TvUI.h"

#include "QlrUtilsMethod.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>

#include <algorithm>
#include <cmath>

// --- The filter.

void TvInputFilter::setInvalidCharsInString(const QString& chars) {
    mChars.clear();
    for (char32_t c : chars.toUcs4()) mChars.insert(c);
    mHasSet = true;
    mInverted = false;
}

void TvInputFilter::setValidCharsInString(const QString& chars) {
    setInvalidCharsInString(chars);
    mInverted = true;
}

bool TvInputFilter::holdsInvalid(const QString& replacement) const {
    const QList<uint> chars = replacement.toUcs4();
    return std::any_of(chars.begin(), chars.end(), [this](uint c) { return isInvalid(char32_t(c)); });
}

bool TvInputFilter::allows(const QString& current, int replacedLength, const QString& replacement,
                           Counting counting, bool rightToLeft) const {
    if (!mHasSet) return true;
    if (holdsInvalid(replacement)) return false;
    if (mValidLength == 0) return true;
    const qsizetype currentLength = (counting == Counting::WithoutMarksInRightToLeft && rightToLeft)
                                        ? TV_FTextField::lengthRemoveDependentChar(current)
                                        : current.size();
    return mValidLength >= replacement.size() + currentLength - replacedLength;
}

// --- Filtered fields.

TvFilterValidator::TvFilterValidator(TV_FTextField* field) : QValidator(field), mField(field) {}

QValidator::State TvFilterValidator::validate(QString& input, int&) const {
    // Text set by code passes untouched; only the user's edits are filtered.
    // Unchanged text is no edit (Qt asks again on Return and focus loss).
    if (mField->mUserEdit == 0 || input == mField->mAccepted) return Acceptable;
    if (mField->allowsEdit(mField->mAccepted, input)) return Acceptable;
    mField->refused();
    return Invalid;
}

TV_FTextField::TV_FTextField(QWidget* parent) : QLineEdit(parent) {
    setValidator(new TvFilterValidator(this));
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { mAccepted = text; });
}

TV_FTextField::~TV_FTextField() = default;

int TV_FTextField::lengthRemoveDependentChar(const QString& text) {
    static constexpr struct {
        char16_t first, last;
    } kMarks[] = {{0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670}, {0x06D6, 0x06DC},
                  {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}};
    int length = int(text.size());
    for (qsizetype i = 1; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        for (const auto& r : kMarks)
            if (c >= r.first && c <= r.last) {
                --length;
                break;
            }
    }
    return length;
}

bool TV_FTextField::allowsEdit(const QString& before, const QString& after) const {
    // The edit replaced what lies between the common beginning and end.
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const int replaced = int(before.size() - prefix - suffix);
    const QString replacement = after.mid(prefix, after.size() - prefix - suffix);
    return mFilter.allows(before, replaced, replacement, mCounting, !QlrUtilsMethod::isLTR_LayoutDirection());
}

void TV_FTextField::refused() const {
    if (mMarked) mRefusedWhileMarked = true;
}

bool TV_FTextField::event(QEvent* event) {
    const QEvent::Type type = event->type();
    const bool userEdit = type == QEvent::KeyPress || type == QEvent::InputMethod || type == QEvent::Drop ||
                          type == QEvent::ContextMenu || type == QEvent::MouseButtonRelease;
    if (!userEdit) return QLineEdit::event(event);
    ++mUserEdit;
    const bool handled = QLineEdit::event(event);
    --mUserEdit;
    if (type == QEvent::InputMethod) mMarked = !static_cast<QInputMethodEvent*>(event)->preeditString().isEmpty();
    if (mRefusedWhileMarked) {
        // The refused edit drops the uncommitted text too, and controllers
        // see the text that stays.
        mRefusedWhileMarked = false;
        mMarked = false;
        QGuiApplication::inputMethod()->reset();
        QInputMethodEvent drop;
        QLineEdit::event(&drop);
        emit textEdited(text());
    }
    return handled;
}

TV_FComboBox::TV_FComboBox(QWidget* parent) : QComboBox(parent), mEditor(new TV_FTextField) {
    setEditable(true);
    mEditor->setCounting(TvInputFilter::Counting::Plain);
    setLineEdit(mEditor);
}

TvTextField::TvTextField(QWidget* parent) : TV_FTextField(parent) { setFrame(false); }

void TvTextField::setFrameColor(const QColor& color) {
    mFrameColor = color;
    update();
}

QColor TvTextField::currentFrameColor() const {
    if (hasFocus()) return TvUI::colorWithDeviceRGB(TvUI::kFocusRGB);
    if (mFrameColor.isValid()) return mFrameColor;
    return window()->palette().color(QPalette::Window);
}

void TvTextField::paintEvent(QPaintEvent* event) {
    TV_FTextField::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(currentFrameColor(), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

// --- Labels.

QFont TvStaticTextFieldCell::font(const QFont& labelFont) {
    const int size = labelFont.pixelSize() > 0 ? labelFont.pixelSize() : qRound(labelFont.pointSizeF());
    return TvUI::systemFont(size, true);
}

QColor TvStaticTextFieldCell::color(bool enabled) {
    QColor c = TvUI::controlTitleColor(0);
    c.setAlphaF(enabled ? 1.0f : 0.3f);
    return c;
}

void TvStaticTextFieldCell::draw(QPainter& painter, const QRect& rect, const QLabel& label, bool enabled) {
    painter.save();
    painter.setFont(font(label.font()));
    painter.setPen(color(enabled));
    painter.drawText(rect, int(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0), label.text());
    painter.restore();
}

TvStaticTextField::TvStaticTextField(QWidget* parent) : QLabel(parent) { watchParent(); }

TvStaticTextField::~TvStaticTextField() {
    if (mWatchedParent) mWatchedParent->removeEventFilter(this);
}

void TvStaticTextField::watchParent() {
    if (mWatchedParent == parentWidget()) return;
    if (mWatchedParent) mWatchedParent->removeEventFilter(this);
    mWatchedParent = parentWidget();
    if (mWatchedParent) mWatchedParent->installEventFilter(this);
}

namespace {

bool isInputControl(const QWidget* w) {
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractSlider*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const TvSegmentedControl*>(w);
}

} // namespace

void TvStaticTextField::syncEnableState() {
    const QWidget* object = mRelatedObject;
    if (!object) setEnabled(true);
    else setEnabled(isInputControl(object) && object->isEnabled());
    update();
}

void TvStaticTextField::syncStaticTextInView(QWidget* view) {
    if (!view) return;
    if (auto* self = qobject_cast<TvStaticTextField*>(view)) self->syncEnableState();
    for (TvStaticTextField* label : view->findChildren<TvStaticTextField*>()) label->syncEnableState();
}

void TvStaticTextField::layoutForSuperviewWidth(int w) {
    const QFont bold = TvStaticTextFieldCell::font(font());
    const int textWidth = int(std::ceil(QFontMetricsF(bold).horizontalAdvance(text())));
    // Widths stop at 0 for a parent narrower than 90 pixels.
    int labelWidth = std::max({int(std::ceil(w * 0.5)) - 45, textWidth, 0});
    setGeometry(x(), y(), labelWidth, height());
    QWidget* object = mRelatedObject;
    if (!object) return;
    int objectX = labelWidth + 5;
    if (objectX + object->width() > w) {
        const int overflow = objectX + object->width() - w + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        objectX -= overflow;
        labelWidth = std::max(0, labelWidth - overflow);
        setGeometry(x(), y(), labelWidth, height());
    }
    object->setGeometry(objectX, object->y(), object->width(), object->height());
}

bool TvStaticTextField::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) watchParent();
    if (event->type() == QEvent::Polish && !mPolished) {
        mPolished = true;
        const QString name = property("kdRelatedObject").toString();
        if (!name.isEmpty() && !mRelatedObject) {
            mRelatedObject = window()->findChild<QWidget*>(name);
            if (!mRelatedObject) qWarning("%s: no related object \"%s\"", qPrintable(objectName()), qPrintable(name));
        }
    }
    return QLabel::event(event);
}

bool TvStaticTextField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mWatchedParent && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        if (resize->size() != resize->oldSize()) layoutForSuperviewWidth(resize->size().width());
    }
    return QLabel::eventFilter(watched, event);
}

void TvStaticTextField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    TvStaticTextFieldCell::draw(painter, contentsRect(), *this, isEnabled());
}

TvTitleTextField::TvTitleTextField(QWidget* parent) : QLabel(parent) {}

void TvTitleTextField::setIsRounded(bool rounded) {
    mIsRounded = rounded;
    update();
}

void TvTitleTextField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    TvUI::drawSettingTitleWithFrame(painter, QRectF(rect()), text(), mIsRounded);
}

TvOpenLinkTextField::TvOpenLinkTextField(QWidget* parent) : QLabel(parent) { setCursor(Qt::PointingHandCursor); }

TvOpenLinkTextField::~TvOpenLinkTextField() = default;

void TvOpenLinkTextField::mousePressEvent(QMouseEvent* event) {
    if (isVisible() && isEnabled()) emit clicked();
    QLabel::mousePressEvent(event);
}
