#include "PluginTextField.h"

#include <QlrUtilsMethod.h>

#include <QValidator>

#include <algorithm>

namespace kdkit {
namespace {

bool isArabicCombiningMark(char16_t c) {
    if (c >= 0x0610 && c <= 0x061A) return true;
    if (c >= 0x064B && c <= 0x065F) return true;
    if (c == 0x0670) return true;
    if (c >= 0x06D6 && c <= 0x06ED)
        return c != 0x06DD && c != 0x06DE && c != 0x06E5 && c != 0x06E6 && c != 0x06E9;
    return false;
}

} // namespace

// Every edit of the line edit (typing, paste, drop, input-method commit)
// reaches validate with the whole new text; the change is what differs from
// the current text.
class PluginTextField::Filter : public QValidator {
public:
    explicit Filter(PluginTextField* field) : QValidator(field), field_(field) {}
    State validate(QString& input, int&) const override {
        const QString current = field_->text();
        if (input == current) return Acceptable;
        const int common = int(std::min(current.size(), input.size()));
        int prefix = 0;
        while (prefix < common && current[prefix] == input[prefix]) ++prefix;
        int suffix = 0;
        while (suffix < common - prefix && current[current.size() - 1 - suffix] == input[input.size() - 1 - suffix])
            ++suffix;
        const int replaced = int(current.size()) - prefix - suffix;
        const QString replacement = input.mid(prefix, input.size() - prefix - suffix);
        return field_->shouldChangeText(prefix, replaced, replacement) ? Acceptable : Invalid;
    }

private:
    PluginTextField* field_;
};

PluginTextField::PluginTextField(QWidget* parent, LengthRule rule) : QLineEdit(parent), rule_(rule) {
    setValidator(new Filter(this));
}

PluginTextField::~PluginTextField() = default;

void PluginTextField::setInvalidCharsInString(const QString& chars) {
    mInvalidChars = QSet<QChar>(chars.begin(), chars.end());
    inverted_ = false;
}

void PluginTextField::setValidCharsInString(const QString& chars) {
    mInvalidChars = QSet<QChar>(chars.begin(), chars.end());
    inverted_ = true;
}

void PluginTextField::setValidLength(int length) { mValidLength = length; }

bool PluginTextField::isInvalid(QChar c) const { return mInvalidChars->contains(c) != inverted_; }

bool PluginTextField::shouldChangeText(int start, int length, const QString& replacement) const {
    static_cast<void>(start);
    if (!mInvalidChars) return true;
    if (std::any_of(replacement.begin(), replacement.end(), [this](QChar c) { return isInvalid(c); }))
        return false;
    if (mValidLength <= 0) return true;
    const QString current = text();
    const int currentLength = rule_ == LengthRule::ArabicMarksFree && !QlrUtilsMethod::isLTR_LayoutDirection()
                                  ? lengthRemoveDependentChar(current)
                                  : int(current.size());
    return int(replacement.size()) - length + currentLength <= mValidLength;
}

int PluginTextField::lengthRemoveDependentChar(const QString& text) {
    int length = int(text.size());
    for (qsizetype i = 1; i < text.size(); ++i)
        if (isArabicCombiningMark(text[i].unicode())) --length;
    return length;
}

PluginSecureTextField::PluginSecureTextField(QWidget* parent) : PluginTextField(parent, LengthRule::Plain) {
    setEchoMode(QLineEdit::Password);
}

} // namespace kdkit
