// The plug-in's filtered text field: a line edit that refuses typing,
// pasting, dropping and input-method commits holding characters outside its
// set or making the text longer than its limit; text set by the program is
// not filtered. Lengths are UTF-16 units, as QString counts them.
#pragma once

#include <QLineEdit>
#include <QSet>

#include <optional>

namespace kdkit {

class PluginTextField : public QLineEdit {
    Q_OBJECT
public:
    enum class LengthRule {
        Plain,
        // The Evernote field: in a right-to-left layout the current text's
        // Arabic combining marks do not count.
        ArabicMarksFree,
    };
    explicit PluginTextField(QWidget* parent = nullptr, LengthRule rule = LengthRule::Plain);
    ~PluginTextField() override;

    // The string's characters become the invalid ones.
    void setInvalidCharsInString(const QString& chars);
    // Every character not in the string becomes invalid.
    void setValidCharsInString(const QString& chars);
    // Maximum length, 0 for none. Applies only once a character set is
    // given (an empty invalid set for a limit alone).
    void setValidLength(int length);

    // Whether replacing the range of the current text by the replacement is
    // allowed.
    bool shouldChangeText(int start, int length, const QString& replacement) const;

    // The string's length less one for each Arabic combining mark from its
    // second character on.
    static int lengthRemoveDependentChar(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool isInvalid(QChar c) const;
    // Whether inserting the text over the selection (or at the cursor) is
    // allowed.
    bool shouldInsert(const QString& text) const;
    // Pastes the clipboard's text when the filter allows it.
    void pasteFiltered();

    std::optional<QSet<QChar>> mInvalidChars;
    bool inverted_ = false; // mInvalidChars holds the valid ones
    int mValidLength = 0;
    LengthRule rule_;
};

// The Evernote build's secure field: the plain rules, input hidden.
class PluginSecureTextField : public PluginTextField {
    Q_OBJECT
public:
    explicit PluginSecureTextField(QWidget* parent = nullptr);
};

} // namespace kdkit
