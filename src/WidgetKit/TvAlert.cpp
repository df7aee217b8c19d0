#include "TvAlert.h"

#include "QlrUtilsMethodUI.h"
#include "TvButtons.h"
#include "TvTextFields.h"
#include "TvUI.h"
#include "TvWindow.h"

#include <foundation/Bundle.h>
#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTextLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The text as one paragraph whose line breaks QTextLayout keeps.
QString layoutText(QString text) {
    text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    text.replace(QLatin1Char('\r'), QChar::LineSeparator);
    return text;
}

// Lays the text out centred at width; a word longer than a line (a long
// file path) breaks where it must instead of running out of the panel.
// Answers the height.
double layOut(QTextLayout& layout, const QString& text, const QFont& font, double width,
              Qt::LayoutDirection direction) {
    layout.setText(layoutText(text));
    layout.setFont(font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(direction);
    layout.setTextOption(option);
    double y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1.0, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

// A text of the alert: the static label look (bold, black), centred and
// wrapped, always plain text.
class AlertTextField final : public QLabel {
public:
    AlertTextField(int pixelSize, QWidget* parent) : QLabel(parent) {
        setFont(TvStaticTextFieldCell::font(TvUI::systemFont(pixelSize)));
        setTextFormat(Qt::PlainText);
        setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        setWordWrap(true);
        setTextInteractionFlags(Qt::NoTextInteraction);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(TvStaticTextFieldCell::color(isEnabled()));
        QTextLayout layout;
        layOut(layout, text(), font(), width(), layoutDirection());
        layout.draw(&painter, QPointF(0, 0));
    }
};

std::string localized(std::string_view key) {
    return kdf::Bundle::main()->localizedString(key);
}

// Posts the start of a run, and its end on every way out.
class RunAnnouncement {
public:
    explicit RunAnnouncement(const TvAlert* alert) : mAlert(alert) { post(true); }
    ~RunAnnouncement() {
        try {
            post(false);
        } catch (...) {
            std::fprintf(stderr, "TvAlert: an observer of the alert's end failed\n");
        }
    }
    RunAnnouncement(const RunAnnouncement&) = delete;
    RunAnnouncement& operator=(const RunAnnouncement&) = delete;

private:
    void post(bool start) {
        kdf::Dictionary info{{TV_Message::kIsStartRunmodalKey, kdf::Value(start)}};
        kdf::NotificationCenter::defaultCenter().post(TV_Message::kTvAlertRunModalNotification,
                                                      static_cast<const void*>(mAlert), nullptr, &info);
    }
    const TvAlert* mAlert;
};

} // namespace

TvAlert::TvAlert(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QString());
    mContentView = new TvFlatWindowContentView(this, TvFlatWindowContentView::Alert);
    mImageView = new QLabel(mContentView);
    mImageView->setObjectName(QStringLiteral("alertImage"));
    mMessageField = new AlertTextField(kMessagePixelSize, mContentView);
    mMessageField->setObjectName(QStringLiteral("alertMessage"));
    mInformationField = new AlertTextField(kInformativePixelSize, mContentView);
    mInformationField->setObjectName(QStringLiteral("alertInformative"));
    layoutAlertParts();
}

TvAlert::~TvAlert() = default;

QString TvAlert::messageText() const {
    return mMessageField->text();
}

void TvAlert::setMessageText(const QString& text) {
    mMessageField->setText(text);
}

QString TvAlert::informativeText() const {
    return mInformationField->text();
}

void TvAlert::setInformativeText(const QString& text) {
    mInformationField->setText(text);
}

void TvAlert::setAlertStyle(int style) {
    mAlertStyle = style;
}

const char* TvAlert::imageNameForStyle(int style) {
    switch (style) {
    case TV_Message::kCriticalAlertStyle: return "bmp_success.png";
    case TV_Message::kWarningAlertStyle:
    case TV_Message::kInformationalAlertStyle: return "bmp_caution.png";
    default: return nullptr;
    }
}

int TvAlert::textHeight(const QString& text, const QFont& font, int width) {
    if (text.isEmpty()) return 0;
    QTextLayout layout;
    return int(std::ceil(layOut(layout, text, font, width, Qt::LeftToRight)));
}

TvButton* TvAlert::addButtonWithTitle(const QString& title) {
    const int index = int(mButtons.size());
    auto* button = new TvButton(mContentView);
    button->setCell(std::make_unique<TvColoredPushButtonCell>(kButtonStyle));
    // A button always says something.
    button->setText(title.isEmpty() ? QString::fromStdString(localized("OK")) : title);
    kdui::setTag(button, kFirstButtonReturn + index);
    connect(button, &QAbstractButton::clicked, this, [this, index] { press(index); });
    mButtons.append(button);
    return button;
}

void TvAlert::press(int index) {
    mReturnCode = kFirstButtonReturn + index;
    done(QDialog::Accepted);
}

void TvAlert::layoutAlertParts() {
    // Buttons: at least 120 wide, 29 high, from right to left 3 apart, the
    // first (the default) rightmost.
    std::vector<QRect> frames;
    int edge = 8, smallestX = 0, greatestRight = 0;
    for (TvButton* button : mButtons) {
        const QSizeF best = TvUI::calcColoredPushButtonButtonSizeWithTitle(button->text(), 0);
        const int width = std::max(kButtonMinWidth, int(std::ceil(best.width())));
        const int x = edge - (width + kButtonGap);
        edge = x;
        frames.emplace_back(x, 0, width, kButtonHeight);
        smallestX = frames.size() == 1 ? x : std::min(smallestX, x);
        greatestRight = frames.size() == 1 ? x + width : std::max(greatestRight, x + width);
    }
    const int rowWidth = greatestRight - smallestX;
    const int w = std::max(kPanelWidth, rowWidth + 16);
    const int textWidth = w - 2 * kTextMargin;

    const char* imageName = imageNameForStyle(mAlertStyle);
    const QImage image = imageName ? TvUI::kitImageNamed(imageName) : QImage();
    const QSize imageSize = image.isNull() ? QSize(0, 0) : image.size();
    const int messageHeight = textHeight(mMessageField->text(), mMessageField->font(), textWidth);
    const int informativeHeight = textHeight(mInformationField->text(), mInformationField->font(), textWidth);

    const int h = messageHeight + 16 + informativeHeight + 3 + imageSize.height() + 3 +
                  (mButtons.isEmpty() ? 0 : kButtonHeight + kButtonBottom);
    setFixedSize(w, h);
    mContentView->setGeometry(0, 0, w, h);

    mImageView->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
    mImageView->setGeometry(int((w - imageSize.width()) * 0.5), kImageTop, imageSize.width(), imageSize.height());
    mImageView->setVisible(!image.isNull());
    const int messageY = kImageTop + imageSize.height() + 3;
    mMessageField->setGeometry(kTextMargin, messageY, textWidth, messageHeight);
    mInformationField->setGeometry(kTextMargin, messageY + messageHeight + 3, textWidth, informativeHeight);

    // The row centred, 14 from the bottom.
    const int offset = int(std::ceil((w - rowWidth) * 0.5));
    for (qsizetype i = 0; i < mButtons.size(); ++i) {
        const QRect& f = frames[std::size_t(i)];
        mButtons[i]->setGeometry(f.x() - smallestX + offset, h - kButtonBottom - kButtonHeight, f.width(),
                                 kButtonHeight);
    }
    QlrUtilsMethod::layoutLeftToRight(mContentView);
}

int TvAlert::runModal() {
    layoutAlertParts();
    mReturnCode = kNoButton;
    // The window that was active keeps the alert above it and gets the
    // activation back.
    QWidget* owner = QApplication::activeWindow();
    if (owner == this) owner = nullptr;
    winId();
    if (owner && owner->windowHandle() && windowHandle()) windowHandle()->setTransientParent(owner->windowHandle());
    QScreen* screen = owner ? owner->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    if (mReturnButton >= 0 && mReturnButton < mButtons.size()) mButtons[mReturnButton]->setFocus();

    RunAnnouncement announcement(this);
    {
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
        exec();
    }
    return mReturnCode;
}

void TvAlert::reject() {
    if (mEscapeButton >= 0 && mEscapeButton < mButtons.size()) mButtons[mEscapeButton]->click();
}

void TvAlert::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        if (mReturnButton >= 0 && mReturnButton < mButtons.size()) mButtons[mReturnButton]->click();
        return;
    }
    if (event->matches(QKeySequence::Cancel) || (plain && event->key() == Qt::Key_Escape)) {
        event->accept();
        reject();
        return;
    }
    QWidget::keyPressEvent(event);
}

// --- The message routines' presenter.

std::unique_ptr<TvAlert> makeTvAlert(const TV_Message::AlertRequest& request) {
    auto alert = std::make_unique<TvAlert>();
    alert->setMessageText(QString::fromStdString(request.messageText));
    alert->setInformativeText(QString::fromStdString(request.informativeText));
    alert->setAlertStyle(request.style);
    for (const std::string& title : request.buttons) alert->addButtonWithTitle(QString::fromStdString(title));
    alert->setReturnButton(request.returnButton.value_or(-1));
    alert->setEscapeButton(request.escapeButton.value_or(-1));
    if (alert->buttons().isEmpty()) {
        // An alert cannot be left without a way out.
        alert->addButtonWithTitle(QString());
        alert->setReturnButton(0);
    }
    return alert;
}

int TvAlertPresenter::runModal(const TV_Message::AlertRequest& request) {
    std::unique_ptr<TvAlert> alert = makeTvAlert(request);
    const int code = alert->runModal();
    return code >= TvAlert::kFirstButtonReturn ? code - TvAlert::kFirstButtonReturn : -1;
}

void installTvAlertPresenter() {
    TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, std::make_shared<TvAlertPresenter>());
}
