// The settings window's text fields: FTextField refuses characters outside
// an allowed set and text beyond a maximum length on every edit (typing,
// paste, drop, input-method commit); FStaticTextField is a label that greys
// together with the control it labels.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSet>

#include <optional>

namespace ComTavrolekKD720 {

class FTextField final : public QLineEdit {
public:
    explicit FTextField(QWidget* parent = nullptr);

    // The refused set becomes exactly the string's characters.
    void setInvalidCharsInString(const QString& chars);
    // Every character not in the string is refused.
    void setValidCharsInString(const QString& chars);
    // Maximum length (0: none); it counts only once a character set is given.
    void setValidLength(int length) { mValidLength = length; }

    // Whether replacing the text's [start, start + length) by the
    // replacement is allowed.
    bool shouldChangeText(qsizetype start, qsizetype length, const QString& replacement) const;
    bool isRefused(QChar c) const;

protected:
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    friend class FTextFieldValidator;
    struct CharSet {
        QSet<QChar> chars;
        bool inverted = false;
    };
    std::optional<CharSet> mInvalidChars;
    int mValidLength = 0;
    QString mShownText;
};

class FStaticTextField final : public QLabel {
public:
    explicit FStaticTextField(QWidget* parent = nullptr);

    void setRelatedControl(QWidget* control);
    QWidget* relatedControl() const { return mRelatedControl; }
    // Enabled when the related control is, or when there is none.
    void syncEnableState();
    // Synchronises every label below the view, children before parents;
    // the view itself is not synchronised.
    static void syncStaticTextInView(QWidget* view);

private:
    QPointer<QWidget> mRelatedControl;
};

} // namespace ComTavrolekKD720
