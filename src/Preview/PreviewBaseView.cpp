#include "PreviewBaseView.h"

#include "QlrUtilsMethodUI.h"
#include "TvNotifications.h"
#include "TvUI.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

std::optional<QCursor> cursorNamed(const char* name) {
    const QImage image = TvUI::kitImageNamed(name);
    if (image.isNull()) return std::nullopt;
    return QCursor(QPixmap::fromImage(image), 8, 8);
}

// The viewport's size once the area has shown or hidden its bars for a
// document of this size (it does so only later, from its event loop).
QSize shownSize(const QScrollArea& area, QSize document) {
    QSize shown = area.maximumViewportSize();
    const QScrollBar* h = area.horizontalScrollBar();
    const QScrollBar* v = area.verticalScrollBar();
    bool needH = false, needV = false;
    for (int pass = 0; pass < 2; ++pass) {
        needH = area.horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ||
                (area.horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded &&
                 document.width() > shown.width());
        needV = area.verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ||
                (area.verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded && document.height() > shown.height());
        shown = area.maximumViewportSize() - QSize(needV ? v->sizeHint().width() : 0, needH ? h->sizeHint().height() : 0);
    }
    return shown;
}

} // namespace

PreviewBaseView::PreviewBaseView(QWidget* parent)
    : QWidget(parent),
      mSkewImage(TvUI::kitImageNamed("btm_deskew_grip")),
      mSkewImageOver(TvUI::kitImageNamed("btm_deskew_grip_O")),
      mCropMoveImage(TvUI::kitImageNamed("btn_trim_grip")),
      mCropMoveImageOver(TvUI::kitImageNamed("btn_trim_grip_O")),
      mSkewCursor(cursorNamed("skewcorsour")),
      mCropMoveCursor(cursorNamed("TPL_DragMouseCross_N")),
      mCropLRCursor(cursorNamed("TPL_DragMouseH_N")),
      mCropUBCursor(cursorNamed("TPL_DragMouseV_N")),
      mCropUL2BRCursor(cursorNamed("TPL_DragMouseULtoBR_N")),
      mCropUR2BLCursor(cursorNamed("TPL_DragMouseURtoBL_N")) {
    setMouseTracking(true);
    mScrollerToken = kdf::NotificationCenter::defaultCenter().addObserver(
        kScrollerHideDidChange, [this](const kdf::Notification& n) {
            QScrollArea* area = enclosingScrollArea();
            if (!area || n.sender() != area) return;
            setDocumentCursor(false);
        });
}

PreviewBaseView::~PreviewBaseView() {
    mScrollerToken.remove();
    if (mWatchedArea) mWatchedArea->removeEventFilter(this);
}

void PreviewBaseView::setPreviewImage(const QImage& image) {
    mPreviewImage = image;
    if (!mIsProcessingMode && !mIsTransformMode && !mIsRotateMode) setScaleValue(1.0);
    update();
}

void PreviewBaseView::setIsTransformMode(bool on) {
    mDegreeForRotate = 0;
    mRatioOfCrop = QRectF(0, 0, 1, 1);
    mIsTransformMode = on;
    if (!on) {
        // Out of the transform mode the scroll area's hand shows again.
        unsetCursor();
        mCursorKind = CursorKind::None;
        mIsCropMoveCursor = mIsSkewCursor = false;
    }
    update();
}

QScrollArea* PreviewBaseView::enclosingScrollArea() const {
    QWidget* viewport = parentWidget();
    if (!viewport) return nullptr;
    auto* area = qobject_cast<QScrollArea*>(viewport->parentWidget());
    return area && area->viewport() == viewport ? area : nullptr;
}

bool PreviewBaseView::isShowScroller() const {
    const QScrollArea* area = enclosingScrollArea();
    if (!area) return false;
    // The area hides a bar by hiding its container, so ask relative to it.
    return area->verticalScrollBar()->isVisibleTo(area) || area->horizontalScrollBar()->isVisibleTo(area);
}

QRectF PreviewBaseView::visibleRect() const {
    const QScrollArea* area = enclosingScrollArea();
    if (!area) return QRectF(rect());
    return QRectF(QRect(-pos(), area->viewport()->size()) & rect());
}

void PreviewBaseView::fillArea() {
    QScrollArea* area = enclosingScrollArea();
    if (area) resize(area->maximumViewportSize());
}

void PreviewBaseView::setScaleValue(double scale) {
    mScaleValue = scale;
    QScrollArea* area = enclosingScrollArea();
    if (area) {
        if (scale == 1.0) {
            mPendingScroll.reset();
            fillArea();
        } else {
            const QRectF visible = visibleRect();
            const double fx = width() > 0 ? visible.center().x() / width() : 0.5;
            const double fy = height() > 0 ? visible.center().y() / height() : 0.5;
            const QSize base = area->maximumViewportSize();
            resize(int(base.width() * scale), int(base.height() * scale));
            const QSize shown = shownSize(*area, size());
            // The bars' ranges follow the new size only once the area has
            // laid itself out (not before it first shows), so the place is
            // kept until they reach it.
            mPendingScroll = QPoint(
                std::clamp(int(std::lround(fx * width() - shown.width() * 0.5)), 0, std::max(0, width() - shown.width())),
                std::clamp(int(std::lround(fy * height() - shown.height() * 0.5)), 0,
                           std::max(0, height() - shown.height())));
            connect(area->horizontalScrollBar(), &QScrollBar::rangeChanged, this,
                    &PreviewBaseView::applyPendingScroll, Qt::UniqueConnection);
            connect(area->verticalScrollBar(), &QScrollBar::rangeChanged, this,
                    &PreviewBaseView::applyPendingScroll, Qt::UniqueConnection);
            applyPendingScroll();
        }
    }
    update();
}

void PreviewBaseView::applyPendingScroll() {
    QScrollArea* area = enclosingScrollArea();
    if (!mPendingScroll || !area) return;
    area->horizontalScrollBar()->setValue(mPendingScroll->x());
    area->verticalScrollBar()->setValue(mPendingScroll->y());
    if (area->horizontalScrollBar()->value() == mPendingScroll->x() &&
        area->verticalScrollBar()->value() == mPendingScroll->y())
        mPendingScroll.reset();
}

// --- Geometry.

QRectF PreviewBaseView::drawImageRc() const {
    if (mPreviewImage.isNull()) return {};
    const QSizeF bounds = size();
    const QSizeF areaSize(bounds.width() - 2 * kImageInset, bounds.height() - 2 * kImageInset);
    const QSizeF cap = mSrcFitImageSize * mScaleValue;
    QSizeF fitted = QlrUtilsMethod::resizeKeepRatio(cap, areaSize);
    if (fitted.width() > cap.width() && fitted.height() > cap.height()) fitted = cap;
    return QRectF(std::ceil((bounds.width() - fitted.width()) * 0.5), std::ceil((bounds.height() - fitted.height()) * 0.5),
                  std::floor(fitted.width()), std::floor(fitted.height()));
}

QRectF PreviewBaseView::drawCropRect() const {
    if (mPreviewImage.isNull()) return {};
    const QRectF i = drawImageRc();
    const QRectF& f = mRatioOfCrop;
    return QRectF(i.x() + f.x() * i.width(), i.y() + f.y() * i.height(), f.width() * i.width(),
                  f.height() * i.height());
}

QRectF PreviewBaseView::drawSkewRect() const {
    const QRectF visible = visibleRect();
    const QSizeF grip = mSkewImage.deviceIndependentSize();
    return QRectF(visible.x() + (visible.width() - grip.width()) * 0.5, visible.y() + kSkewTop, grip.width(),
                  grip.height());
}

std::array<QRectF, 9> PreviewBaseView::knobRects() const {
    const QRectF c = drawCropRect();
    const double x = c.x(), y = c.y(), w = c.width(), h = c.height(), k = kKnobSize, e = kKnobSize / 2;
    const double u = std::min({w, h, kMoveHandleSide});
    return {QRectF(x - e, y - e, k, k),         QRectF(x + w - e, y - e, k, k),
            QRectF(x + w - e, y + h - e, k, k), QRectF(x - e, y + h - e, k, k),
            QRectF(x + e, y - e, w - k, k),     QRectF(x + w - e, y + e, k, h - k),
            QRectF(x + e, y + h - e, w - k, k), QRectF(x - e, y + e, k, h - k),
            QRectF(c.center().x() - u / 2, c.center().y() - u / 2, u, u)};
}

int PreviewBaseView::knobUnderPoint(QPointF point) const {
    // Without a page there is no frame to take hold of.
    if (mPreviewImage.isNull()) return -1;
    const auto knobs = knobRects();
    if (knobs[kMoveKnob].contains(point)) return kMoveKnob;
    for (int i = 0; i < kMoveKnob; ++i)
        if (knobs[size_t(i)].contains(point)) return i;
    return -1;
}

QSizeF PreviewBaseView::ratioOfCropMinSize() const {
    // An unknown size leaves no room to shrink; a page under 60 pixels would
    // ask for a frame wider than the page itself.
    auto fraction = [](double pixels) {
        return pixels > 0 ? std::min(1.0, std::max(0.01, kCropMinPixels / pixels)) : 1.0;
    };
    return {fraction(mRealImageSize.width()), fraction(mRealImageSize.height())};
}

// --- Mouse.

QPointF PreviewBaseView::toViewport(QPointF point) const {
    return point + QPointF(pos());
}

void PreviewBaseView::setDocumentCursor(bool closed) {
    QScrollArea* area = enclosingScrollArea();
    if (!area) return;
    if (isShowScroller())
        area->viewport()->setCursor(closed ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
    else
        area->viewport()->unsetCursor();
}

void PreviewBaseView::wheelEvent(QWheelEvent* event) {
    if (mPreviewImage.isNull() || !(event->modifiers() & Qt::ControlModifier)) {
        event->ignore(); // the scroll area scrolls
        return;
    }
    const double delta = event->angleDelta().y() / 120.0;
    setScaleValue(std::clamp(mScaleValue + delta / 10.0, kMinZoom, kMaxZoom));
    kdf::NotificationCenter::defaultCenter().post(kScrollWheelDidChange, this);
    event->accept();
}

void PreviewBaseView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF point = event->position();
    mDrag = Drag::None;
    if (mIsTransformMode) {
        const int knob = knobUnderPoint(point);
        if (knob >= 0) {
            mDrag = Drag::Crop;
            mDragKnob = knob;
            mPressCrop = drawCropRect();
            mPressImage = drawImageRc();
            mPressPoint = point;
            mMouseTracking = true;
        } else if (!mPreviewImage.isNull() && drawSkewRect().contains(point)) {
            mDrag = Drag::Skew;
            mLastSkewX = point.x();
            mMouseTracking = true;
        }
    }
    if (mDrag == Drag::None) {
        if (isShowScroller()) {
            mMouseDragLastPoint = toViewport(point);
            mDrag = Drag::Hand;
        }
        setDocumentCursor(true);
    }
    event->accept();
}

void PreviewBaseView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF point = event->position();
    switch (mDrag) {
    case Drag::Crop:
        applyCropDrag(point);
        break;
    case Drag::Skew:
        applySkewDrag(point);
        break;
    case Drag::Hand: {
        if (mScaleValue <= 1.0) break;
        QScrollArea* area = enclosingScrollArea();
        const QPointF inViewport = toViewport(point);
        const QPointF diff = inViewport - mMouseDragLastPoint;
        if (area && (std::abs(diff.x()) >= 2 || std::abs(diff.y()) >= 2)) {
            mPendingScroll.reset(); // the hand takes over
            // The content follows the mouse: the bars move the other way.
            area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() - int(std::lround(diff.x())));
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() - int(std::lround(diff.y())));
            update();
        }
        mMouseDragLastPoint = inViewport;
        break;
    }
    case Drag::None:
        updateCursor(point);
        break;
    }
    event->accept();
}

void PreviewBaseView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    // The release is the crop drag's last step; it changes nothing on the grip.
    if (mDrag == Drag::Crop) applyCropDrag(event->position());
    const bool wasTracking = mMouseTracking;
    mDrag = Drag::None;
    mMouseTracking = false;
    if (!wasTracking) setDocumentCursor(false);
    updateCursor(event->position());
    event->accept();
}

void PreviewBaseView::applyCropDrag(QPointF p) {
    const QRectF& im = mPressImage;
    if (im.width() <= 0 || im.height() <= 0) return;
    const QSizeF min = ratioOfCropMinSize();
    const double mw = min.width() * im.width(), mh = min.height() * im.height();
    const double x = mPressCrop.x(), y = mPressCrop.y(), w = mPressCrop.width(), h = mPressCrop.height();
    double nx = x, ny = y, nw = w, nh = h;
    const int k = mDragKnob;
    if (k == kMoveKnob) {
        nx = std::max(im.x(), std::min(x + p.x() - mPressPoint.x(), im.right() - w));
        ny = std::max(im.y(), std::min(y + p.y() - mPressPoint.y(), im.bottom() - h));
    } else {
        if (k == 1 || k == 2 || k == 5) nw = std::max(x + mw, std::min(im.right(), p.x())) - x;
        if (k == 0 || k == 3 || k == 7) {
            nx = std::min(x + w - mw, std::max(im.x(), p.x()));
            nw = x + w - nx;
        }
        if (k == 2 || k == 3 || k == 6) nh = std::max(y + mh, std::min(im.bottom(), p.y())) - y;
        if (k == 0 || k == 1 || k == 4) {
            ny = std::min(y + h - mh, std::max(im.y(), p.y()));
            nh = y + h - ny;
        }
        // Held inside the page by shortening.
        if (nx < im.x()) {
            nw -= im.x() - nx;
            nx = im.x();
        }
        if (ny < im.y()) {
            nh -= im.y() - ny;
            ny = im.y();
        }
        nw = std::min(nw, im.right() - nx);
        nh = std::min(nh, im.bottom() - ny);
    }
    mRatioOfCrop = QRectF((nx - im.x()) / im.width(), (ny - im.y()) / im.height(), nw / im.width(),
                          nh / im.height());
    kdf::NotificationCenter::defaultCenter().post(kRatioOfCropDidChange, this);
    update();
}

void PreviewBaseView::applySkewDrag(QPointF p) {
    mDegreeForRotate = std::clamp(mDegreeForRotate + (p.x() - mLastSkewX) / 10.0, -kMaxDegree, kMaxDegree);
    mLastSkewX = p.x();
    kdf::NotificationCenter::defaultCenter().post(kDegreeForRotateDidChange, this);
    update();
}

void PreviewBaseView::enterEvent(QEnterEvent* event) {
    updateCursor(event->position());
    QWidget::enterEvent(event);
}

void PreviewBaseView::leaveEvent(QEvent* event) {
    updateCursor(mapFromGlobal(QCursor::pos()));
    QWidget::leaveEvent(event);
}

void PreviewBaseView::updateCursor(QPointF point) {
    if (!mIsTransformMode) return;
    CursorKind kind = CursorKind::None;
    const std::optional<QCursor>* chosen = nullptr;
    switch (knobUnderPoint(point)) {
    case 8: kind = CursorKind::Move, chosen = &mCropMoveCursor; break;
    case 0: case 2: kind = CursorKind::UL2BR, chosen = &mCropUL2BRCursor; break;
    case 1: case 3: kind = CursorKind::UR2BL, chosen = &mCropUR2BLCursor; break;
    case 4: case 6: kind = CursorKind::UpDown, chosen = &mCropUBCursor; break;
    case 5: case 7: kind = CursorKind::LeftRight, chosen = &mCropLRCursor; break;
    default:
        if (!mPreviewImage.isNull() && drawSkewRect().contains(point)) kind = CursorKind::Skew, chosen = &mSkewCursor;
        break;
    }
    if (!chosen || !chosen->has_value()) kind = isShowScroller() ? CursorKind::OpenHand : CursorKind::Arrow;
    if (!mMouseTracking && !visibleRect().contains(point)) kind = CursorKind::Arrow;
    mCursorKind = kind;
    switch (kind) {
    case CursorKind::Arrow: setCursor(Qt::ArrowCursor); break;
    case CursorKind::OpenHand: setCursor(Qt::OpenHandCursor); break;
    default: setCursor(**chosen); break;
    }
    const bool move = kind == CursorKind::Move, skew = kind == CursorKind::Skew;
    if (move != mIsCropMoveCursor || skew != mIsSkewCursor) {
        mIsCropMoveCursor = move;
        mIsSkewCursor = skew;
        update();
    }
}

// --- Events of the scroll area.

bool PreviewBaseView::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        if (mWatchedArea) mWatchedArea->removeEventFilter(this);
        mWatchedArea = enclosingScrollArea();
        // At zoom 1 the view follows the area's size.
        if (mWatchedArea) mWatchedArea->installEventFilter(this);
    }
    return QWidget::event(event);
}

bool PreviewBaseView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mWatchedArea && event->type() == QEvent::Resize && mScaleValue == 1.0 &&
        enclosingScrollArea() == mWatchedArea)
        fillArea();
    return QWidget::eventFilter(watched, event);
}

// --- Drawing.

void PreviewBaseView::paintEvent(QPaintEvent*) {
    if (mPreviewImage.isNull()) return;
    QPainter painter(this);
    const QRectF image = drawImageRc();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, mIsUseHighQualityInDraw);
    if (mIsTransformMode) {
        painter.setClipRect(image);
        // Qt's y runs down, so a positive angle turns clockwise on screen.
        painter.translate(image.center());
        painter.rotate(mDegreeForRotate);
        painter.translate(-image.center());
    }
    painter.drawImage(image, mPreviewImage);
    painter.restore();
    if (!mIsTransformMode) return;

    painter.setRenderHint(QPainter::Antialiasing, false);
    QPainterPath outside;
    outside.addRect(QRectF(rect()));
    outside.addRect(image);
    outside.setFillRule(Qt::OddEvenFill);
    painter.fillPath(outside, QColor::fromRgbF(0, 0, 0, 0.5));

    const QRectF crop = drawCropRect();
    QColor frameColor = QColor::fromRgb(kCropColor);
    frameColor.setAlphaF(0.7f);
    painter.setPen(QPen(frameColor, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(crop);

    painter.save();
    painter.setClipRect(crop);
    painter.setPen(QPen(frameColor, 1));
    const QPointF c = crop.center();
    const int columns = int(std::floor(crop.width() / kGridStep + 2));
    const double left = c.x() - std::floor(crop.width() / (2 * kGridStep) + 1) * kGridStep;
    for (int i = 0; i < columns; ++i) {
        const double x = left + i * kGridStep;
        painter.drawLine(QPointF(x, crop.top()), QPointF(x, crop.bottom()));
    }
    const int rows = int(std::floor(crop.height() / kGridStep + 2));
    const double top = c.y() - std::floor(crop.height() / (2 * kGridStep) + 1) * kGridStep;
    for (int i = 0; i < rows; ++i) {
        const double y = top + i * kGridStep;
        painter.drawLine(QPointF(crop.left(), y), QPointF(crop.right(), y));
    }
    const QImage& handle = mIsCropMoveCursor ? mCropMoveImageOver : mCropMoveImage;
    if (!handle.isNull()) painter.drawImage(knobRects()[kMoveKnob], handle);
    painter.restore();

    const QImage& grip = mIsSkewCursor ? mSkewImageOver : mSkewImage;
    if (!grip.isNull()) painter.drawImage(drawSkewRect(), grip);
}
