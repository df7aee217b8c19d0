// Plays a multi-frame image: an animated bitmap (drawn scaled into the
// view's bounds) or an image of several pictures such as the busy spinner
// (drawn at the origin). A timer on the GUI thread steps the frames (Qt
// paints only there); the view stops when it leaves its window.
#pragma once

#include "TvUI.h"

#include <QTimer>
#include <QWidget>

class TvAnimationImageView : public QWidget {
    Q_OBJECT
public:
    // The delay used when an image carries no frame duration or one under
    // kMinimumFrameDuration: a zero delay would spin the GUI thread.
    static constexpr double kDefaultFrameDuration = 0.1;
    static constexpr double kMinimumFrameDuration = 0.02;

    explicit TvAnimationImageView(QWidget* parent = nullptr);

    const TvImage& image() const { return mImage; }
    // Starts from the first frame; a running animation keeps running at
    // the new image's pace. The same image again changes nothing.
    void setImage(const TvImage& image);

    void startThreadAnimation();
    void stopThreadAnimation();
    bool isAnimating() const { return mTimer.isActive(); }

    // The next frame (0 after the last) and a repaint.
    void incrementCurrentFrame();
    int currentFrame() const { return mCurrentFrame; }
    int frameCount() const { return mImage.frameCount(); }
    // Seconds per frame as played.
    double frameDuration() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void drawImageInRect(QPainter& painter);

    TvImage mImage;
    int mCurrentFrame = 0;
    QTimer mTimer;
};
