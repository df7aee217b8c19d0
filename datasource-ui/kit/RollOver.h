// Image buttons that light up while the mouse rests on them. The window
// may be shown inside any host, so roll-over is found by polling the mouse
// ten times a second (FRollOverInitiator) rather than by enter and leave
// events, which a host's modal loop may not deliver.
#pragma once

#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <optional>

namespace ComTavrolekKD720 {

class FRollOverButton final : public QPushButton {
public:
    // Image indexes: normal, rolled over, focused, focused and rolled over,
    // disabled, pressed. A missing image is an empty entry.
    enum ImageIndex { Normal, RolledOver, Focused, FocusedRolledOver, Disabled, Pressed, ImageCount };
    using Images = std::array<std::optional<QPixmap>, ImageCount>;

    explicit FRollOverButton(QWidget* parent = nullptr);

    void setButtonImages(const Images& images);
    const Images& buttonImages() const { return mImages; }
    void setRollOverEnabled(bool enabled) { mRollOverEnabled = enabled; }
    bool isRollOverEnabled() const { return mRollOverEnabled; }
    void setRollOver(bool rollOver);
    bool isRollOver() const { return mIsRollOver; }

    bool acceptsRollOver() const { return isEnabled() && mRollOverEnabled; }
    bool isFocusedForDrawing() const;
    int stateIndex() const;
    // A checkable (push on, push off) button that is checked, and enabled.
    bool isOn() const;
    // Where the title is drawn: centred in the button for either writing
    // direction, one point right and down while pressed.
    QRectF titleRect() const;

    // A closed rounded rectangle. The buttons draw with a radius of -2, for
    // which the corner shape is not defined: radii of 0 or less give square
    // corners.
    static QPainterPath bezierPathWithRoundingRect(const QRectF& rect, qreal radius);

    // The normal image's size, widened to the title when it needs more;
    // without images, a push button's size.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Images mImages;
    bool mRollOverEnabled = false;
    bool mIsRollOver = false;
};

class FRollOverInitiator final : public QObject {
public:
    explicit FRollOverInitiator(QObject* parent = nullptr);
    ~FRollOverInitiator() override;

    // Polls every 0.1 s, starting now; a null window only stops.
    void startWithWindow(QWidget* window);
    void stop();
    // One poll: hit-tests the window at the mouse position.
    void testRollOverControls();

    bool isPolling() const { return mTimer.isActive(); }
    FRollOverButton* currentRollOverButton() const { return mCurrent; }

private:
    void resignCurrent();

    QPointer<QWidget> mWindow;
    QTimer mTimer;
    QPointer<FRollOverButton> mCurrent;
};

} // namespace ComTavrolekKD720
