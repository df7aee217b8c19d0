#include "TextFields.h"

#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QValidator>

namespace ComTavrolekKD720 {

// Sees every edit's result before it lands: the edit is the difference
// between the field's current text and the proposed one.
class FTextFieldValidator final : public QValidator {
public:
    explicit FTextFieldValidator(FTextField* field) : QValidator(field), mField(field) {}

    State validate(QString& input, int&) const override {
        // The line edit has already changed its text when it asks: compare
        // with the last text it showed.
        const QString& current = mField->mShownText;
        qsizetype prefix = 0;
        while (prefix < current.size() && prefix < input.size() && current[prefix] == input[prefix]) ++prefix;
        qsizetype suffix = 0;
        while (suffix < current.size() - prefix && suffix < input.size() - prefix &&
               current[current.size() - 1 - suffix] == input[input.size() - 1 - suffix]) {
            ++suffix;
        }
        const QString replacement = input.mid(prefix, input.size() - prefix - suffix);
        return mField->shouldChangeText(prefix, current.size() - prefix - suffix, replacement) ? Acceptable
                                                                                                : Invalid;
    }

private:
    FTextField* mField;
};

FTextField::FTextField(QWidget* parent) : QLineEdit(parent) {
    setValidator(new FTextFieldValidator(this));
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { mShownText = text; });
}

void FTextField::setInvalidCharsInString(const QString& chars) {
    mInvalidChars = CharSet{QSet<QChar>(chars.begin(), chars.end()), false};
}

void FTextField::setValidCharsInString(const QString& chars) {
    mInvalidChars = CharSet{QSet<QChar>(chars.begin(), chars.end()), true};
}

bool FTextField::isRefused(QChar c) const {
    return mInvalidChars && (mInvalidChars->chars.contains(c) != mInvalidChars->inverted);
}

bool FTextField::shouldChangeText(qsizetype start, qsizetype length, const QString& replacement) const {
    (void)start;
    if (!mInvalidChars) return true;
    for (QChar c : replacement) {
        if (isRefused(c)) return false;
    }
    if (mValidLength != 0) return mShownText.size() - length + replacement.size() <= mValidLength;
    return true;
}

void FTextField::inputMethodEvent(QInputMethodEvent* event) {
    for (QChar c : event->commitString()) {
        if (isRefused(c)) {
            // The whole commit is refused, and the composition abandoned.
            QGuiApplication::inputMethod()->reset();
            QInputMethodEvent cleared;
            QLineEdit::inputMethodEvent(&cleared);
            event->accept();
            return;
        }
    }
    QLineEdit::inputMethodEvent(event);
}

FStaticTextField::FStaticTextField(QWidget* parent) : QLabel(parent) {}

void FStaticTextField::setRelatedControl(QWidget* control) {
    mRelatedControl = control;
}

void FStaticTextField::syncEnableState() {
    setEnabled(!mRelatedControl || mRelatedControl->isEnabled());
}

void FStaticTextField::syncStaticTextInView(QWidget* view) {
    if (!view) return;
    for (QObject* child : view->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget) continue;
        syncStaticTextInView(widget);
        if (auto* label = dynamic_cast<FStaticTextField*>(widget)) label->syncEnableState();
    }
}

} // namespace ComTavrolekKD720
