// The page browser of the scan screen: the column of page thumbnails beside
// the preview, and its cells.
//
// Dragging (reordering the pages) is allowed only for jobs that edit their
// pages before output. Without it the delete keys do nothing and a drag
// that starts on a thumbnail does nothing, while a rubber band from empty
// space still selects. Thumbnails are never dragged out of the browser.
#pragma once

#include "TvIBView.h"

#include <ui/ImageBrowserView.h>

#include <QColor>

// The browser's data source also tells which item is the page shown in the
// preview (the cell rings it).
class ImageIBViewDataSource : public kdui::ImageBrowserDataSource {
public:
    virtual bool isShownItem(kdui::ImageBrowserView& view, int index) = 0;
};

class ImageIBView : public TvIBView {
    Q_OBJECT
public:
    // The character some keyboards send for forward delete.
    static constexpr int kForwardDeleteCharacter = 0xF728;

    explicit ImageIBView(QWidget* parent = nullptr);

    bool isValidMouseDragged() const { return mIsValidMouseDragged; }
    void setIsValidMouseDragged(bool valid) { mIsValidMouseDragged = valid; }

    // The first visible item whose frame holds the point, kNotFound when
    // none; frame (when given) receives the frame of the last item looked
    // at: the hit one, else the last visible one, else an empty rectangle.
    int indexAtPoint(QPoint point, QRect* frame) const;
    using kdui::ImageBrowserView::indexAtPoint;

    // Whether the last mouse press was on a thumbnail.
    static bool isHitTestCell();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    std::unique_ptr<kdui::ImageBrowserCell> newCellForItem(int index) override;
    Qt::DropAction executeDrag(QDrag& drag, Qt::DropActions actions) override;

private:
    bool mIsValidMouseDragged = false;
};

// A thumbnail cell: the picture fitted into the cell less 16 each way, on
// gray when selected, ringed when it is the page shown in the preview.
class ImageIBCell : public kdui::ImageBrowserCell {
public:
    // Room kept free around the picture, and how far the selection frame
    // reaches beyond it.
    static constexpr int kImageMargin = 16;
    static constexpr int kSelectionOutset = 8;
    static constexpr int kShownRingWidth = 2;
    static constexpr QRgb kSelectionGray = 0xFFDADADA; // 218 / 255 gray
    static constexpr QRgb kFrameColor = 0xFFDADADA;
    static QColor shownRingColor() { return QColor::fromRgbF(0.992f, 0.631f, 0.157f); }

    QRect imageFrame() const override;
    QRect selectionFrame() const override;

protected:
    void drawSelection(QPainter& painter) override;
    void drawPlaceholder(QPainter& painter) override;
    void drawForeground(QPainter& painter) override;

private:
    bool isShownItem() const;
};
