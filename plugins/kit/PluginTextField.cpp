#include "PluginTextField.h"

#include <QlrUtilsMethod.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>

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

// What a line edit inserts of a pasted or dropped text: the part before the
// first line break.
QString asSingleLine(const QString& text) {
    const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\\r\\n]")));
    return end < 0 ? text : text.left(end);
}

} // namespace

PluginTextField::PluginTextField(QWidget* parent, LengthRule rule) : QLineEdit(parent), rule_(rule) {}

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

bool PluginTextField::shouldInsert(const QString& inserted) const {
    if (hasSelectedText()) return shouldChangeText(selectionStart(), int(selectedText().size()), inserted);
    return shouldChangeText(cursorPosition(), 0, inserted);
}

void PluginTextField::pasteFiltered() {
    if (isReadOnly()) return;
    if (shouldInsert(asSingleLine(QApplication::clipboard()->text(QClipboard::Clipboard)))) paste();
}

void PluginTextField::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Paste) {
        pasteFiltered();
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && std::all_of(typed.begin(), typed.end(), [](QChar c) { return c.isPrint(); });
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (printable && !shortcut && !isReadOnly() && !shouldInsert(typed)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void PluginTextField::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (!commit.isEmpty() && !isReadOnly()) {
        // The commit replaces the selection, or the given span around the
        // cursor.
        bool allowed;
        if (event->replacementLength() > 0)
            allowed = shouldChangeText(cursorPosition() + event->replacementStart(), event->replacementLength(), commit);
        else
            allowed = shouldInsert(commit);
        if (!allowed) {
            // Refused: the composition is abandoned too.
            QInputMethodEvent abandon;
            QLineEdit::inputMethodEvent(&abandon);
            return;
        }
    }
    QLineEdit::inputMethodEvent(event);
}

void PluginTextField::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* action : menu->actions())
        if (action->objectName() == QLatin1String("edit-paste")) {
            action->disconnect();
            connect(action, &QAction::triggered, this, &PluginTextField::pasteFiltered);
        }
    menu->popup(event->globalPos());
}

void PluginTextField::mouseReleaseEvent(QMouseEvent* event) {
    // The middle button pastes the selection clipboard where there is one.
    if (event->button() == Qt::MiddleButton && QApplication::clipboard()->supportsSelection() &&
        !shouldChangeText(cursorPosition(), 0, asSingleLine(QApplication::clipboard()->text(QClipboard::Selection)))) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void PluginTextField::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    if (data && data->hasText() && !shouldChangeText(cursorPositionAt(event->position().toPoint()), 0,
                                                     asSingleLine(data->text()))) {
        event->ignore();
        return;
    }
    QLineEdit::dropEvent(event);
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
