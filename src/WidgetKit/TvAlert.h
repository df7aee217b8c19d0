// The application's own alert: its image, message and informative text and
// up to three buttons in the kit's flat alert panel, laid out by the kit's
// fixed rules and mirrored in right-to-left layout. Every modal run is
// announced on the default notification centre before and after
// (kTvAlertRunModalNotification, sender the alert), so that the main window
// can pause its timers and lay a dark shield over itself. The message
// routines of TV_Message run it for every request of the TvAlert kind once
// installTvAlertPresenter() has been called at start-up.
//
// Texts are shown as plain text, never as rich text or a format: they are
// localised strings with values such as file names and plug-in messages.
#pragma once

#include "TV_Message.h"

#include <QDialog>
#include <QFont>
#include <QList>
#include <QString>

#include <memory>

class QLabel;
class TvButton;
class TvFlatWindowContentView;

class TvAlert : public QDialog {
    Q_OBJECT
public:
    // What runModal answers: the pressed button's code, the first button's
    // kFirstButtonReturn and each further one the next number; kNoButton
    // when the alert ended without a button.
    static constexpr int kFirstButtonReturn = 1000;
    static constexpr int kNoButton = 0;

    // Layout rules.
    static constexpr int kPanelWidth = 420;
    static constexpr int kButtonMinWidth = 120;
    static constexpr int kButtonHeight = 29;
    static constexpr int kButtonGap = 3;
    static constexpr int kButtonBottom = 14;
    static constexpr int kImageTop = 13;
    static constexpr int kTextMargin = 20;
    static constexpr int kMessagePixelSize = 13;
    static constexpr int kInformativePixelSize = 14;
    // The coloured push button's style of the alert's buttons.
    static constexpr int kButtonStyle = 3;

    explicit TvAlert(QWidget* parent = nullptr);
    ~TvAlert() override;

    QString messageText() const;
    void setMessageText(const QString& text);
    QString informativeText() const;
    void setInformativeText(const QString& text);
    // TV_Message's styles: 2 critical, 1 informational, 0 warning.
    int alertStyle() const { return mAlertStyle; }
    void setAlertStyle(int style);

    // Adds a button after the others; an empty title shows the localised
    // "OK". The first button answers Return until setReturnButton says
    // otherwise.
    TvButton* addButtonWithTitle(const QString& title);
    const QList<TvButton*>& buttons() const { return mButtons; }
    // The buttons that Return and Escape press, by index; -1 for none.
    void setReturnButton(int index) { mReturnButton = index; }
    int returnButton() const { return mReturnButton; }
    void setEscapeButton(int index) { mEscapeButton = index; }
    int escapeButton() const { return mEscapeButton; }

    // Sizes the panel and places its parts (then mirrors them in
    // right-to-left layout). runModal lays out first.
    void layoutAlertParts();
    // Announces the run, runs the alert modally in the main run loop's
    // modal-panel mode and announces its end; the pressed button's code.
    int runModal();

    TvFlatWindowContentView* contentView() const { return mContentView; }
    QLabel* imageView() const { return mImageView; }
    QLabel* messageField() const { return mMessageField; }
    QLabel* informationField() const { return mInformationField; }

    // The image of an alert style: "bmp_success.png" for 2,
    // "bmp_caution.png" for 0 and 1, none for any other.
    static const char* imageNameForStyle(int style);
    // The height of a text wrapped at width in the alert's text look.
    static int textHeight(const QString& text, const QFont& font, int width);

public slots:
    // Presses the Escape button, if there is one; otherwise nothing (the
    // window manager's close does nothing either).
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void press(int index);

    TvFlatWindowContentView* mContentView = nullptr;
    QLabel* mImageView = nullptr;
    QLabel* mMessageField = nullptr;
    QLabel* mInformationField = nullptr;
    QList<TvButton*> mButtons;
    int mAlertStyle = TV_Message::kWarningAlertStyle;
    int mReturnButton = 0;
    int mEscapeButton = -1;
    int mReturnCode = kNoButton;
};

// Builds a TvAlert from a request of the message routines: texts, style, the
// buttons (an "OK" when it names none) and the Return and Escape buttons it
// names (none when it names none).
std::unique_ptr<TvAlert> makeTvAlert(const TV_Message::AlertRequest& request);

// Runs TvAlerts for TV_Message; answers the pressed button's index, -1 when
// none was pressed.
class TvAlertPresenter : public TV_Message::AlertPresenter {
public:
    int runModal(const TV_Message::AlertRequest& request) override;
};

// Registers the kit's alert for the TvAlert kind of TV_Message. Main thread,
// once the QApplication exists; the application's start-up calls it.
void installTvAlertPresenter();
