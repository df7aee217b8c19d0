#include "TvAnimationImageView.h"

#include <QEvent>
#include <QPainter>

#include <cmath>

TvAnimationImageView::TvAnimationImageView(QWidget* parent) : QWidget(parent) {
    connect(&mTimer, &QTimer::timeout, this, &TvAnimationImageView::incrementCurrentFrame);
}

namespace {
bool sameImage(const TvImage& a, const TvImage& b) {
    if (a.frames.size() != b.frames.size() || a.frameDuration != b.frameDuration) return false;
    for (std::size_t i = 0; i < a.frames.size(); ++i)
        if (a.frames[i].cacheKey() != b.frames[i].cacheKey()) return false;
    return true;
}
} // namespace

void TvAnimationImageView::setImage(const TvImage& image) {
    if (sameImage(image, mImage)) return;
    mImage = image;
    mCurrentFrame = 0;
    if (mTimer.isActive()) mTimer.start(int(std::lround(frameDuration() * 1000)));
    update();
}

double TvAnimationImageView::frameDuration() const {
    const double d = mImage.frameDuration;
    return d >= kMinimumFrameDuration ? d : kDefaultFrameDuration;
}

void TvAnimationImageView::startThreadAnimation() {
    if (mTimer.isActive()) return;
    mTimer.start(int(std::lround(frameDuration() * 1000)));
}

void TvAnimationImageView::stopThreadAnimation() {
    mTimer.stop();
}

void TvAnimationImageView::incrementCurrentFrame() {
    const int count = mImage.frameCount();
    mCurrentFrame = count > 0 && mCurrentFrame + 1 < count ? mCurrentFrame + 1 : 0;
    update();
}

void TvAnimationImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawImageInRect(painter);
}

void TvAnimationImageView::drawImageInRect(QPainter& painter) {
    if (mImage.isNull() || mCurrentFrame >= mImage.frameCount()) return;
    const QImage& frame = mImage.frames[std::size_t(mCurrentFrame)];
    if (mImage.isAnimatedBitmap) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(rect()), frame);
    } else {
        painter.drawImage(QPointF(0, 0), frame);
    }
}

bool TvAnimationImageView::event(QEvent* event) {
    // Leaving its window (taken out of its parent) stops the animation.
    if (event->type() == QEvent::ParentChange && !parentWidget()) stopThreadAnimation();
    return QWidget::event(event);
}
