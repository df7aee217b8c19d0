#include "RenderingView.h"

#include "PluginFunc.h"

#include <QPaintEngine>
#include <QPainter>
#include <QTransform>

#include <atomic>
#include <cmath>
#include <thread>

namespace kdkit {
namespace {

std::atomic<long long> gPauseMs{1000};

} // namespace

RenderingViewDelegate::~RenderingViewDelegate() = default;

RenderingView::RenderingView(const QRectF& frame) : mFrame(frame) {}

void RenderingView::setDrawImage(const QImage& image) {
    if (image.cacheKey() == mDrawImage.cacheKey() && image.isNull() == mDrawImage.isNull()) return;
    mDrawImage = image;
    mNeedsDisplay = true;
}

bool RenderingView::knowsPageRange(int* first, int* length) const {
    if (first) *first = 1;
    if (length) *length = mPrintCount;
    return true;
}

QRectF RenderingView::rectForPage(int page) {
    if (page <= 0) return {};
    if (mDelegate) {
        // Only the new page's image is kept; the old one goes with it.
        QImage image = mDelegate->readPrintImage(page - 1);
        if (!image.isNull()) setDrawImage(image);
    }
    return bounds();
}

void RenderingView::beginDocument() { std::this_thread::sleep_for(documentPause()); }

void RenderingView::endDocument() { std::this_thread::sleep_for(documentPause()); }

double RenderingView::usableScale(double scalingFactor) {
    return std::isfinite(scalingFactor) && scalingFactor > 0 ? scalingFactor : 1.0;
}

QRectF RenderingView::drawingBounds(const RenderingPrintSettings& settings) const {
    const double scale = usableScale(settings.scalingFactor);
    const QSizeF imageSize = mDrawImage.isNull() ? QSizeF(0, 0) : QSizeF(mDrawImage.size());
    double width = 0, height = 0, xOffset = 0, yOffset = 0;
    if (mIsPageFit) {
        const QSizeF fitted = PluginFunc::resizeKeepRatio(imageSize, settings.imageablePageBounds.size());
        width = fitted.width();
        height = fitted.height();
        xOffset = settings.imageablePageBounds.x();
        yOffset = settings.imageablePageBounds.y();
    } else {
        const QRectF b = bounds();
        width = imageSize.width();
        height = imageSize.height();
        xOffset = (b.width() - width * scale) * 0.5;
        yOffset = (b.height() - height * scale) * 0.5;
    }
    const double inverse = 1.0 / scale;
    return {std::ceil((settings.leftMargin + xOffset) * inverse), std::ceil((settings.topMargin + yOffset) * inverse),
            std::floor(width), std::floor(height)};
}

void RenderingView::drawRect(QPainter& painter, const RenderingPrintSettings& settings) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (!mDrawImage.isNull()) {
        const double scale = usableScale(settings.scalingFactor);
        // Undo the margins and apply the scaling, so that drawingBounds'
        // division by the factor puts the image where the page wants it.
        QTransform transform;
        transform.translate(-settings.leftMargin, -settings.topMargin);
        transform.scale(scale, scale);
        painter.setTransform(transform, true);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        // A copy of the image's pixels where the device can (a PDF page
        // only draws over, which on the blank page is the same).
        if (painter.paintEngine() && painter.paintEngine()->hasFeature(QPaintEngine::PorterDuff))
            painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setOpacity(1.0);
        painter.drawImage(drawingBounds(settings), mDrawImage);
    }
    painter.restore();
}

void RenderingView::setDocumentPause(std::chrono::milliseconds pause) { gPauseMs = pause.count(); }

std::chrono::milliseconds RenderingView::documentPause() { return std::chrono::milliseconds(gPauseMs.load()); }

} // namespace kdkit
