#include "AppCommands.h"

#include "AppMainCntlr.h"
#include "MainTopDisplay.h"
#include "MainWindowController.h"

#include <QlrUtilsMethod.h>
#include <TvPopoverWindow.h>
#include <TvUI.h>

#include <desktop/Desktop.h>
#include <foundation/Bundle.h>
#include <foundation/File.h>
#include <ui/MenuTags.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QScreen>

#include <algorithm>

namespace qlr_main {
namespace {

// Room between the balloon's body and its texts.
constexpr int kTextPadding = 8;

std::string localized(const char* key) {
    return kdf::localizedMainString(key);
}

// A click anywhere on a balloon ends the overlay.
class BalloonClick : public QObject {
public:
    BalloonClick(QWidget* balloon, std::function<void()> action) : QObject(balloon), action_(std::move(action)) {
        balloon->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            // Taken here, so the views under the balloon get no click.
            return true;
        case QEvent::MouseButtonRelease:
            action_();
            return true;
        default:
            return false;
        }
    }

private:
    std::function<void()> action_;
};

QLabel* balloonText(QWidget* balloon, const QString& text, int pixelSize, bool bold) {
    auto* label = new QLabel(text, balloon);
    QFont font = QApplication::font();
    // The table's sizes are in the window's units, as the balloon's.
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, TvUI::colorWithDeviceRGB(kBalloonTextRGB));
    label->setPalette(palette);
    // Clicks on the text are clicks on the balloon.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// The arrow's tip inside a balloon of that size, as the popover's frame
// view draws it: the body inset on every side, the arrow's middle held
// clear of the body's corners.
QPointF arrowTip(QSize size, int edge, double offset) {
    const double inset = TvPopoverWindowContentView::kInset;
    const QRectF body = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(inset, inset, -inset, -inset);
    const double radius =
        std::min({TvPopoverWindowContentView::kCornerRadius, body.width() * 0.5, body.height() * 0.5});
    const auto along = [&](double length) {
        const double low = TvPopoverWindowContentView::kArrowBase * 0.5 + radius, high = length - low;
        if (high < low) return length * 0.5;
        return std::clamp(offset + 15.0, low, high);
    };
    const double depth = TvPopoverWindowContentView::kArrowDepth;
    switch (TvPopoverWindow::sideOfEdge(edge)) {
    case 0: return {body.left() - depth, body.top() + along(body.height())};
    case 4: return {body.right() + depth, body.bottom() - along(body.height())};
    case 2: return {body.right() - along(body.width()), body.top() - depth};
    default: return {body.left() + along(body.width()), body.bottom() + depth};
    }
}

} // namespace

BalloonInfo balloonForDirection(const BalloonInfo& info, bool rightToLeft) {
    if (!rightToLeft) return info;
    BalloonInfo mirrored = info;
    if (info.edge == 0) mirrored.edge = 4;
    else if (info.edge == 4) mirrored.edge = 0;
    mirrored.offset = info.width - info.offset - 20;
    return mirrored;
}

QPoint balloonOrigin(const QRect& target, QSize size, int edge, double offset) {
    const QRectF t(target);
    QPointF point;
    switch (TvPopoverWindow::sideOfEdge(edge)) {
    case 0: point = {t.right(), t.center().y()}; break;
    case 4: point = {t.left(), t.center().y()}; break;
    case 2: point = {t.center().x(), t.bottom()}; break;
    default: point = {t.center().x(), t.top()}; break;
    }
    return (point - arrowTip(size, edge, offset)).toPoint();
}

AppCommands::AppCommands(AppMainCntlr& cntlr, MainWindowController& window) : cntlr_(cntlr), window_(window) {
    connectActions();
}

AppCommands::~AppCommands() {
    for (const auto& balloon : balloons_) delete balloon.data();
}

void AppCommands::connectActions() {
    const QWidget* main = window_.mainWindow();
    const std::pair<int, void (AppCommands::*)()> items[] = {
        {kAboutMenuTag, &AppCommands::showQlrAbout},
        {kPrefsMenuTag, &AppCommands::showQlrPrefs},
        {kHelpMenuTag, &AppCommands::showQlrHelp},
    };
    for (const auto& [tag, command] : items) {
        if (QAction* item = kdui::mainMenuItemWithTag(main, tag))
            QObject::connect(item, &QAction::triggered, item, [this, command = command] { (this->*command)(); });
    }
    if (auto* licence = qobject_cast<QAbstractButton*>(window_.aboutItem(kAboutLicenceTag)))
        QObject::connect(licence, &QAbstractButton::clicked, licence, [this] { openLicenceFolder(); });
}

void AppCommands::showQlrAbout() {
    cntlr_.setIsAutoCloseApp(false);
    QWidget* about = window_.aboutWindow();
    if (!about) return;
    if (!about->isVisible()) {
        const QScreen* screen = window_.mainWindow() ? window_.mainWindow()->screen() : QApplication::primaryScreen();
        if (screen) {
            QRect frame = about->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            about->move(frame.topLeft());
        }
    }
    about->show();
    about->raise();
    about->activateWindow();
}

void AppCommands::showQlrPrefs() {
    cntlr_.setIsAutoCloseApp(false);
    window_.endEditingPanelTitle();
    cntlr_.dialogsPort()->runModalPrefs();
}

void AppCommands::showQlrHelp() {
    cntlr_.setIsAutoCloseApp(false);
    const auto value = QlrUtilsMethod::objectFromInfoDict(kHelpBookNameKey);
    const std::string* book = value ? value->string() : nullptr;
    // The book is a folder among the bundle's resources: a plain name only.
    if (!book || book->empty() || *book == "." || *book == ".." || book->find('/') != std::string::npos ||
        book->find('\0') != std::string::npos)
        return;
    auto bundle = kdf::Bundle::main();
    const std::string page = bundle ? bundle->pathForResource(kHelpEntryPage, "", *book) : std::string();
    if (!page.empty()) kdd::openPath(page);
}

void AppCommands::openLicenceFolder() {
    auto bundle = kdf::Bundle::main();
    if (!bundle) return;
    QlrUtilsMethod::openLinkPath(kdf::joinPath(bundle->resourcePath(), kLicenseFilesFolder));
}

std::vector<TvPopoverWindowContentView*> AppCommands::balloons() const {
    std::vector<TvPopoverWindowContentView*> list;
    for (const auto& balloon : balloons_) {
        if (balloon) list.push_back(balloon.data());
    }
    return list;
}

void AppCommands::removeBalloons() {
    for (const auto& balloon : balloons_) {
        if (!balloon) continue;
        balloon->hide();
        balloon->setParent(nullptr);
        // Deleted later: the clicked balloon is still inside its handler.
        balloon->deleteLater();
    }
    balloons_.clear();
}

void AppCommands::showQlrNavigation() {
    window_.removePanelToolTips();
    // Earlier balloons go first: forgotten ones would stay over the window
    // with no click to remove them.
    removeBalloons();
    QWidget* content = window_.contentView();
    if (!content) return;
    const bool rtl = content->layoutDirection() == Qt::RightToLeft;
    for (const BalloonInfo& row : kBalloonInfos) {
        QWidget* target = kdui::viewWithTag(content, row.targetTag);
        if (!target) continue;
        const BalloonInfo info = balloonForDirection(row, rtl);
        auto* balloon = new TvPopoverWindowContentView(content);
        balloon->setObjectName(QStringLiteral("NavigationBalloon"));
        balloon->setLayoutDirection(Qt::LeftToRight);
        balloon->setRectEdge(info.edge);
        balloon->setValueFromCorner(info.offset);
        const QSize size(info.width, info.height);
        const QRect targetFrame(target->mapTo(content, QPoint(0, 0)), target->size());
        balloon->setGeometry(QRect(balloonOrigin(targetFrame, size, info.edge, info.offset), size));

        QRect text = balloon->insetFrame().toAlignedRect().adjusted(kTextPadding, kTextPadding / 2, -kTextPadding,
                                                                    -kTextPadding / 2);
        if (*info.titleKey) {
            auto* title = balloonText(balloon, QString::fromStdString(localized(info.titleKey)), kBalloonTitleSize, true);
            title->setObjectName(QStringLiteral("NavigationTitle"));
            title->setWordWrap(false);
            title->setGeometry(text.x(), text.y(), text.width(), kBalloonTitleHeight);
            text.setTop(text.top() + kBalloonTitleHeight);
        }
        auto* message =
            balloonText(balloon, QString::fromStdString(localized(info.messageKey)), kBalloonMessageSize, false);
        message->setObjectName(QStringLiteral("NavigationMessage"));
        message->setGeometry(text);
        if (rtl) {
            for (QLabel* label : balloon->findChildren<QLabel*>()) label->setLayoutDirection(Qt::RightToLeft);
        }
        new BalloonClick(balloon, [this] { hideQlrNavigation(); });
        balloons_.emplace_back(balloon);
    }
    window_.showDarkShield();
    for (const auto& balloon : balloons_) {
        balloon->show();
        balloon->raise();
    }
}

void AppCommands::hideQlrNavigation() {
    // Nothing shown: the shield and the tool tips belong to someone else.
    if (balloons_.empty()) return;
    removeBalloons();
    window_.hideDarkShield();
    window_.resetPanelToolTips();
}

} // namespace qlr_main
