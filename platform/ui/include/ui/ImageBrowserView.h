// A grid of picture cells: the image browser the application's panel and
// page browsers derive from.
//
// The view asks a data source for its items (a picture and a title each,
// fetched again whenever a cell is painted: items carry no stable identity)
// and tells a delegate about clicks, selection and tool tips. Cells are made
// per item by newCellForItem, which browsers override to draw their own
// tiles. Equal cells of cellSize() plus intercellSpacing() are laid out row
// by row from the top, as many columns as the viewport's width holds, the
// grid centred in the width and mirrored in right-to-left layout.
//
// Every frame and point of this interface is in viewport coordinates (what
// mouse events of the viewport carry), so frames move as the view scrolls.
//
// The view keeps its own selection (single or multiple, empty allowed or
// not): click, Shift-click, Ctrl-click, a rubber band from empty space and
// the arrow keys change it. When reordering is allowed, dragging selected
// cells inside the view asks the data source to move them and reloads;
// Delete and Backspace ask it to remove the selection. Drags that come from
// elsewhere only reach the dragging-destination delegate: the view reads no
// drag data itself. Nothing animates.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <memory>
#include <set>
#include <vector>

class QDrag;
class QMimeData;
class QPainter;

namespace kdui {

class ImageBrowserView;

// Sorted item indexes.
using IndexSet = std::set<int>;

struct ImageBrowserItem {
    QImage image; // null: the cell draws its placeholder
    QString title;
};

class ImageBrowserDataSource {
public:
    virtual ~ImageBrowserDataSource();
    virtual int numberOfItems(ImageBrowserView& view) = 0;
    // Only asked for 0 <= index < the count last answered.
    virtual ImageBrowserItem itemAtIndex(ImageBrowserView& view, int index) = 0;
    // Removes the items; answers whether any were removed (then the view
    // reloads). The default refuses.
    virtual bool removeItems(ImageBrowserView& view, const IndexSet& indexes);
    // Moves the items, in their order, so that they stand where the gap
    // before item destination (counted before the move; the count for the
    // end) was; answers whether they moved. The default refuses.
    virtual bool moveItems(ImageBrowserView& view, const IndexSet& indexes, int destination);
    // Writes the drag data of the items; answers whether it wrote any. The
    // default writes nothing.
    virtual bool writeItems(ImageBrowserView& view, const IndexSet& indexes, QMimeData& data);
};

class ImageBrowserDelegate {
public:
    virtual ~ImageBrowserDelegate();
    virtual void selectionDidChange(ImageBrowserView& view);
    virtual void cellWasDoubleClicked(ImageBrowserView& view, int index);
    // globalPos: where to open a context menu.
    virtual void cellWasRightClicked(ImageBrowserView& view, int index, QPoint globalPos);
    virtual void backgroundWasRightClicked(ImageBrowserView& view, QPoint globalPos);
    // Empty: no tool tip.
    virtual QString toolTipForItem(ImageBrowserView& view, int index);
};

// Drags that the view does not handle itself (anything but its own
// reordering drag). The answers say which action the drop would take;
// Qt::IgnoreAction refuses.
class ImageBrowserDraggingDestination {
public:
    virtual ~ImageBrowserDraggingDestination();
    virtual Qt::DropAction draggingEntered(ImageBrowserView& view, const QMimeData& data, QPoint pos,
                                           Qt::DropActions offered);
    virtual Qt::DropAction draggingUpdated(ImageBrowserView& view, const QMimeData& data, QPoint pos,
                                           Qt::DropActions offered);
    // The drop itself; answers whether it was taken.
    virtual bool performDragOperation(ImageBrowserView& view, const QMimeData& data, QPoint pos);
    // After a drop, or when the drag left the view (dropped false).
    virtual void draggingEnded(ImageBrowserView& view, bool dropped);
};

// One item's cell. Frames are virtual so browsers can place their pictures
// and titles; painting runs background, selection (only while selected),
// image or placeholder, foreground, title.
class ImageBrowserCell {
public:
    ImageBrowserCell();
    virtual ~ImageBrowserCell();
    ImageBrowserCell(const ImageBrowserCell&) = delete;
    ImageBrowserCell& operator=(const ImageBrowserCell&) = delete;

    ImageBrowserView* view() const { return mView; }
    int index() const { return mIndex; }
    bool isSelected() const;
    // Size of the picture last fetched for this cell; empty for none.
    QSize imageSize() const { return mImageSize; }

    // The item frame.
    virtual QRect frame() const;
    // By default the picture fitted, keeping its ratio, into the frame inset
    // by 6 and above the title line when cells are titled, centred.
    virtual QRect imageFrame() const;
    // By default the whole frame.
    virtual QRect selectionFrame() const;
    // By default a line along the bottom of the frame when cells are
    // titled, else empty.
    virtual QRect titleFrame() const;

    // Paints the item (the view calls this for every visible cell).
    virtual void paint(QPainter& painter, const ImageBrowserItem& item);

protected:
    virtual void drawBackground(QPainter& painter);
    virtual void drawSelection(QPainter& painter);
    virtual void drawImage(QPainter& painter, const QImage& image);
    virtual void drawPlaceholder(QPainter& painter);
    virtual void drawForeground(QPainter& painter);
    virtual void drawTitle(QPainter& painter, const QString& title);

private:
    friend class ImageBrowserView;
    ImageBrowserView* mView = nullptr;
    int mIndex = -1;
    QSize mImageSize;
};

class ImageBrowserView : public QAbstractScrollArea {
public:
    static constexpr int kNotFound = -1;

    explicit ImageBrowserView(QWidget* parent = nullptr);
    ~ImageBrowserView() override;

    ImageBrowserDataSource* dataSource() const { return mDataSource; }
    void setDataSource(ImageBrowserDataSource* source); // not owned; reloads
    ImageBrowserDelegate* delegate() const { return mDelegate; }
    void setDelegate(ImageBrowserDelegate* delegate); // not owned
    ImageBrowserDraggingDestination* draggingDestinationDelegate() const { return mDestination; }
    void setDraggingDestinationDelegate(ImageBrowserDraggingDestination* destination); // not owned

    // Asks the data source again and remakes the cells; the selection keeps
    // the indexes that still exist.
    void reloadData();
    int numberOfItems() const { return mCount; }

    // --- Layout.
    QSize cellSize() const { return mCellSize; }
    void setCellSize(QSize size);
    QSize intercellSpacing() const { return mSpacing; }
    void setIntercellSpacing(QSize spacing);
    // zoomValue 0 to 1 maps linearly onto square cells between the two edges.
    void setCellEdgeRange(int minimum, int maximum);
    double zoomValue() const { return mZoomValue; }
    void setZoomValue(double value);
    bool cellsTitled() const { return mCellsTitled; }
    void setCellsTitled(bool titled);
    int numberOfColumns() const;
    int numberOfRows() const;

    QRect itemFrameAtIndex(int index) const; // empty outside the items
    int indexAtPoint(QPoint pos) const;       // kNotFound in gaps and outside
    // Items whose frames meet the viewport, ascending.
    IndexSet visibleItemIndexes() const;
    // The gap a drop at pos would fill: 0 to the count.
    int dropIndexAtPoint(QPoint pos) const;
    void scrollRectToVisible(const QRect& rect);
    void scrollIndexToVisible(int index);

    // --- Cells.
    // The cell of an item, made on first use; null outside the items.
    ImageBrowserCell* cellForItemAtIndex(int index);

    // --- Selection.
    const IndexSet& selectionIndexes() const { return mSelection; }
    // Indexes outside the items are dropped; extend adds to the selection.
    void setSelectionIndexes(const IndexSet& indexes, bool extend);
    bool allowsMultipleSelection() const { return mAllowsMultiple; }
    void setAllowsMultipleSelection(bool allows);
    bool allowsEmptySelection() const { return mAllowsEmpty; }
    void setAllowsEmptySelection(bool allows);
    bool allowsReordering() const { return mAllowsReordering; }
    void setAllowsReordering(bool allows);
    QColor selectionColor() const { return mSelectionColor; }
    void setSelectionColor(const QColor& color);
    QColor backgroundColor() const { return mBackgroundColor; }
    void setBackgroundColor(const QColor& color);

protected:
    // Browsers make their own cells here; the view sets index and owner.
    virtual std::unique_ptr<ImageBrowserCell> newCellForItem(int index);
    // Painted over the viewport after the cells (and the rubber band).
    virtual void drawOverCells(QPainter& painter);
    // The picture under the cursor while dragging; by default the first
    // dragged item's picture at its image frame's size.
    virtual QPixmap dragPixmap(const IndexSet& indexes);
    // Runs the drag (QDrag::exec by default); a seam for tests.
    virtual Qt::DropAction executeDrag(QDrag& drag, Qt::DropActions actions);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Geometry {
        int columns = 1;
        int rows = 0;
        int margin = 0; // leading margin of the centred grid
        QSize pitch;
    };
    Geometry gridGeometry() const;
    void updateScrollBars();
    bool isMirrored() const { return layoutDirection() == Qt::RightToLeft; }
    void changeSelection(const IndexSet& indexes);
    IndexSet indexesInRect(const QRect& rect) const;
    void startDrag();
    void moveByKey(int step, bool extend);
    void removeSelection();
    void endInternalDrag();

    ImageBrowserDataSource* mDataSource = nullptr;
    ImageBrowserDelegate* mDelegate = nullptr;
    ImageBrowserDraggingDestination* mDestination = nullptr;
    int mCount = 0;
    std::vector<std::unique_ptr<ImageBrowserCell>> mCells;

    QSize mCellSize{100, 100};
    QSize mSpacing{10, 10};
    int mMinEdge = 32;
    int mMaxEdge = 256;
    double mZoomValue = 0;
    bool mCellsTitled = false;

    IndexSet mSelection;
    int mAnchor = kNotFound;
    bool mAllowsMultiple = false;
    bool mAllowsEmpty = true;
    bool mAllowsReordering = false;
    QColor mSelectionColor{0x3D, 0x7E, 0xDB};
    QColor mBackgroundColor{Qt::white};

    // Mouse tracking between press and release.
    QPoint mPressPos;
    int mPressIndex = kNotFound;
    bool mPressed = false;
    bool mRubberBanding = false;
    bool mCollapseOnRelease = false; // a plain press on a selected cell
    IndexSet mRubberBase;
    QRect mRubberRect;
    // Our own drag: the indexes it carries, and where it would drop.
    bool mInternalDrag = false;
    IndexSet mDragIndexes;
    int mDropIndex = kNotFound;
    bool mExternalDrag = false;
};

} // namespace kdui
