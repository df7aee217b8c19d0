// The preview of one page in a scroll area of the scan screen.
//
// PreviewBaseView is the widget of a QScrollArea whose scroll bars are the
// kit's TvScrollers. It shows the page zoomed from 1 to 4 times (Ctrl +
// wheel, or the zoom slider through setScaleValue) and scrolls by hand when
// zoomed. In the transform mode of the edit-image mode it overlays the
// straighten and trim tools: the page turns about its centre by the
// straighten angle, a crop frame with a 20-pixel grid is moved and resized by
// its knobs, and a grip above the page turns the angle when dragged
// sideways. Every change made with the mouse is posted on the default
// notification centre with the view as sender and no user info:
// "ScrollWheelDidChange" (zoom), "RatioOfCropDidChange" (crop frame),
// "DegreeForRotateDidChange" (angle).
//
// Drags use Qt's implicit mouse grab; each move recomputes from the state
// at the press.
#pragma once

#include "TvNotifications.h"

#include <foundation/NotificationCenter.h>

#include <QCursor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <array>
#include <optional>

class QScrollArea;

class PreviewBaseView : public QWidget {
    Q_OBJECT
public:
    // Inset of the page from the view's edges.
    static constexpr double kImageInset = 23;
    static constexpr double kMinZoom = 1;
    static constexpr double kMaxZoom = 4;
    // Knob thickness, the move handle's largest side and the grid spacing.
    static constexpr double kKnobSize = 20;
    static constexpr double kMoveHandleSide = 60;
    static constexpr double kGridStep = 20;
    // The crop frame is never narrower or lower than this many page pixels.
    static constexpr double kCropMinPixels = 60;
    // Top of the straighten grip below the visible top.
    static constexpr double kSkewTop = 110;
    static constexpr double kMaxDegree = 10;
    // Frame colour #1AA7DC at alpha 0.7; outside the page black at 0.5.
    static constexpr unsigned kCropColor = 0x1AA7DC;
    static constexpr int kMoveKnob = 8;

    // The cursor the transform mode chose.
    enum class CursorKind { None, Arrow, OpenHand, Move, LeftRight, UpDown, UL2BR, UR2BL, Skew };

    explicit PreviewBaseView(QWidget* parent = nullptr);
    ~PreviewBaseView() override;

    const QImage& previewImage() const { return mPreviewImage; }
    // Keeps the page; the zoom returns to 1 unless an edit mode is on.
    void setPreviewImage(const QImage& image);
    bool isExpanded() const { return mIsExpanded; }
    void setIsExpanded(bool expanded) { mIsExpanded = expanded; }
    // The largest size the page is drawn at zoom 1.
    QSizeF srcFitImageSize() const { return mSrcFitImageSize; }
    void setSrcFitImageSize(QSizeF size) { mSrcFitImageSize = size; }
    // The page's size in pixels (for the crop frame's minimum).
    QSizeF realImageSize() const { return mRealImageSize; }
    void setRealImageSize(QSizeF size) { mRealImageSize = size; }
    bool isUseHighQualityInDraw() const { return mIsUseHighQualityInDraw; }
    void setIsUseHighQualityInDraw(bool high) { mIsUseHighQualityInDraw = high; }
    bool isProcessingMode() const { return mIsProcessingMode; }
    void setIsProcessingMode(bool on) { mIsProcessingMode = on; }
    bool isRotateMode() const { return mIsRotateMode; }
    void setIsRotateMode(bool on) { mIsRotateMode = on; }
    bool isTransformMode() const { return mIsTransformMode; }
    // Resets the angle to 0 and the crop to the whole page, then sets the flag.
    void setIsTransformMode(bool on);
    // Straighten angle in degrees; positive turns clockwise on screen.
    double degreeForRotate() const { return mDegreeForRotate; }
    void setDegreeForRotate(double degree) { mDegreeForRotate = degree; }
    // Crop frame as fractions (x, y, width, height) of the drawn page.
    QRectF ratioOfCrop() const { return mRatioOfCrop; }
    void setRatioOfCrop(QRectF ratio) { mRatioOfCrop = ratio; }
    bool mouseTracking() const { return mMouseTracking; }
    QPointF mouseDragLastPoint() const { return mMouseDragLastPoint; }

    double scaleValue() const { return mScaleValue; }
    // Zoom 1 fills the scroll area; another zoom sizes the view to the area
    // times the zoom, keeping the spot in the middle of the visible part.
    void setScaleValue(double scale);

    // The scroll area this view is the widget of; null outside one.
    QScrollArea* enclosingScrollArea() const;
    // A scroll bar of the enclosing scroll area shows.
    bool isShowScroller() const;
    // The part of the view the scroll area shows (all of it outside one).
    QRectF visibleRect() const;

    // Geometry in view coordinates.
    QRectF drawImageRc() const;
    QRectF drawCropRect() const;
    QRectF drawSkewRect() const;
    // Knobs 0-3 corners (clockwise from top left), 4-7 edges (top, right,
    // bottom, left), 8 the move handle.
    std::array<QRectF, 9> knobRects() const;
    // The move handle first, then knobs 0 to 7; -1 for none.
    int knobUnderPoint(QPointF point) const;
    // The crop frame's minimum as fractions of the page: 60 pixels, at least
    // 1 % and at most the whole page (the whole page for an unknown size).
    QSizeF ratioOfCropMinSize() const;

    CursorKind currentCursorKind() const { return mCursorKind; }
    // The hovered images show while the move or grip cursor is current.
    bool isCropMoveCursor() const { return mIsCropMoveCursor; }
    bool isSkewCursor() const { return mIsSkewCursor; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Drag { None, Crop, Skew, Hand };

    void updateCursor(QPointF point);
    void applyCropDrag(QPointF point);
    void applySkewDrag(QPointF point);
    void setDocumentCursor(bool closed);
    QPointF toViewport(QPointF point) const;
    void fillArea();
    void applyPendingScroll();

    QImage mPreviewImage;
    bool mIsExpanded = false;
    QSizeF mSrcFitImageSize;
    QSizeF mRealImageSize;
    double mScaleValue = 1.0;
    QPointF mMouseDragLastPoint;
    bool mIsUseHighQualityInDraw = true;
    bool mIsProcessingMode = false;
    bool mIsTransformMode = false;
    bool mIsRotateMode = false;
    double mDegreeForRotate = 0;
    QRectF mRatioOfCrop;
    bool mMouseTracking = false;

    QImage mSkewImage, mSkewImageOver, mCropMoveImage, mCropMoveImageOver;
    std::optional<QCursor> mSkewCursor, mCropMoveCursor, mCropLRCursor, mCropUBCursor, mCropUL2BRCursor,
        mCropUR2BLCursor;
    CursorKind mCursorKind = CursorKind::None;
    bool mIsCropMoveCursor = false;
    bool mIsSkewCursor = false;

    // The drag under way and the state at its press.
    Drag mDrag = Drag::None;
    int mDragKnob = -1;
    QRectF mPressCrop;
    QRectF mPressImage;
    QPointF mPressPoint;
    double mLastSkewX = 0;

    // Scroll bar values a zoom still waits for (the area lays out later).
    std::optional<QPoint> mPendingScroll;
    QScrollArea* mWatchedArea = nullptr;
    kdf::ObserverToken mScrollerToken;
};
