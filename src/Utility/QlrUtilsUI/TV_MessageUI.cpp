#include "TV_MessageUI.h"

#include <foundation/RunLoop.h>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace TV_Message {

namespace {

// A message box whose Escape key and close button do nothing unless an
// Escape button was named: QMessageBox guesses one otherwise (a single
// button, a Cancel or a reject button).
class AlertMessageBox : public QMessageBox {
public:
    QAbstractButton* namedEscape = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!namedEscape && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (!namedEscape) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }
};

QMessageBox::Icon iconOf(int style) {
    switch (style) {
    case kWarningAlertStyle: return QMessageBox::Warning;
    case kInformationalAlertStyle: return QMessageBox::Information;
    case kCriticalAlertStyle: return QMessageBox::Critical;
    default: return QMessageBox::NoIcon;
    }
}

// A button title as it stands: "&" marks no mnemonic.
QString buttonTitle(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

std::unique_ptr<QMessageBox> makeMessageBox(const AlertRequest& request, std::vector<QPushButton*>* buttons) {
    auto box = std::make_unique<AlertMessageBox>();
    box->setIcon(iconOf(request.style));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(request.messageText));
    box->setInformativeText(QString::fromStdString(request.informativeText));
    // Qt would guess rich text from the content.
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    std::vector<QPushButton*> made;
    for (const std::string& title : request.buttons) {
        // One role for all, so the button box keeps the request's order; not
        // the accept role, whose first button the box would make the default.
        QPushButton* button = box->addButton(buttonTitle(title), QMessageBox::ActionRole);
        // Return reaches the named button only, not the one with focus.
        button->setAutoDefault(false);
        made.push_back(button);
    }
    const auto named = [&](const std::optional<int>& index) -> QPushButton* {
        return index && *index >= 0 && std::size_t(*index) < made.size() ? made[std::size_t(*index)] : nullptr;
    };
    if (QPushButton* ret = named(request.returnButton)) {
        box->setDefaultButton(ret);
        ret->setFocus();
    }
    if (QPushButton* esc = named(request.escapeButton)) {
        box->setEscapeButton(esc);
        box->namedEscape = esc;
    }
    if (buttons) *buttons = made;
    return box;
}

int MessageBoxPresenter::runModal(const AlertRequest& request) {
    std::vector<QPushButton*> buttons;
    std::unique_ptr<QMessageBox> box = makeMessageBox(request, &buttons);
    {
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
        box->exec();
    }
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (box->clickedButton() == buttons[i]) return int(i);
    return -1;
}

void installMessageBoxPresenter() {
    setAlertPresenter(AlertKind::Platform, std::make_shared<MessageBoxPresenter>());
}

} // namespace TV_Message
