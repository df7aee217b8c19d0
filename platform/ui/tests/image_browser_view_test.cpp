#include "ui/ImageBrowserView.h"

#include "TempHome.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

using kdui::ImageBrowserView;
using kdui::IndexSet;

// Items named "A", "B", ...; records what the view asks of it.
class Items : public kdui::ImageBrowserDataSource {
public:
    explicit Items(int count, QSize imageSize = {40, 30}) {
        for (int i = 0; i < count; ++i) names.push_back(QString(QChar('A' + i)));
        this->imageSize = imageSize;
    }
    int numberOfItems(ImageBrowserView&) override {
        answeredCount = int(names.size());
        return answeredCount;
    }
    kdui::ImageBrowserItem itemAtIndex(ImageBrowserView&, int index) override {
        if (index < 0 || index >= answeredCount) askedOutside = true;
        if (index < 0 || index >= int(names.size())) return {};
        QImage image;
        if (!nullImages.count(index)) {
            image = QImage(imageSize, QImage::Format_ARGB32);
            image.fill(Qt::darkBlue);
        }
        return {image, names[std::size_t(index)]};
    }
    bool removeItems(ImageBrowserView&, const IndexSet& indexes) override {
        removals.push_back(indexes);
        for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) names.erase(names.begin() + *it);
        return true;
    }
    bool moveItems(ImageBrowserView&, const IndexSet& indexes, int destination) override {
        moves.emplace_back(indexes, destination);
        std::vector<QString> moving, rest;
        int insertAt = destination;
        for (int i = 0; i < int(names.size()); ++i) {
            if (indexes.count(i)) {
                moving.push_back(names[std::size_t(i)]);
                if (i < destination) --insertAt;
            } else {
                rest.push_back(names[std::size_t(i)]);
            }
        }
        rest.insert(rest.begin() + insertAt, moving.begin(), moving.end());
        names = rest;
        return true;
    }
    bool writeItems(ImageBrowserView&, const IndexSet&, QMimeData& data) override {
        data.setText(QStringLiteral("items"));
        return true;
    }

    std::vector<QString> names;
    QSize imageSize;
    IndexSet nullImages;
    int answeredCount = 0;
    bool askedOutside = false;
    std::vector<IndexSet> removals;
    std::vector<std::pair<IndexSet, int>> moves;
};

struct Delegate : kdui::ImageBrowserDelegate {
    void selectionDidChange(ImageBrowserView&) override { ++selectionChanges; }
    void cellWasDoubleClicked(ImageBrowserView&, int index) override { calls.push_back("double " + std::to_string(index)); }
    void cellWasRightClicked(ImageBrowserView&, int index, QPoint) override {
        calls.push_back("right " + std::to_string(index));
    }
    void backgroundWasRightClicked(ImageBrowserView&, QPoint) override { calls.push_back("background"); }
    QString toolTipForItem(ImageBrowserView&, int index) override {
        return index == 3 ? QString() : QStringLiteral("tip %1").arg(index);
    }
    int selectionChanges = 0;
    std::vector<std::string> calls;
};

struct Destination : kdui::ImageBrowserDraggingDestination {
    Qt::DropAction draggingEntered(ImageBrowserView&, const QMimeData&, QPoint, Qt::DropActions) override {
        calls.push_back("entered");
        return Qt::CopyAction;
    }
    Qt::DropAction draggingUpdated(ImageBrowserView&, const QMimeData&, QPoint, Qt::DropActions) override {
        calls.push_back("updated");
        return Qt::CopyAction;
    }
    bool performDragOperation(ImageBrowserView&, const QMimeData&, QPoint) override {
        calls.push_back("perform");
        return true;
    }
    void draggingEnded(ImageBrowserView&, bool dropped) override {
        calls.push_back(dropped ? "ended dropped" : "ended");
    }
    std::vector<std::string> calls;
};

// Logs every paint step of every cell it paints.
std::vector<std::string>* gPaintLog = nullptr;

class LoggingCell : public kdui::ImageBrowserCell {
protected:
    void log(const char* step) {
        if (gPaintLog) gPaintLog->push_back(std::to_string(index()) + " " + step);
    }
    void drawBackground(QPainter&) override { log("background"); }
    void drawSelection(QPainter&) override { log("selection"); }
    void drawImage(QPainter&, const QImage&) override { log("image"); }
    void drawPlaceholder(QPainter&) override { log("placeholder"); }
    void drawForeground(QPainter&) override { log("foreground"); }
    void drawTitle(QPainter&, const QString& title) override {
        if (gPaintLog) gPaintLog->push_back(std::to_string(index()) + " title " + title.toStdString());
    }
};

// The grid with logging cells, whose drags are played into its own viewport
// (enter and move at the start, then the drop at dropAt) instead of a
// platform drag.
class TestView : public ImageBrowserView {
public:
    std::unique_ptr<kdui::ImageBrowserCell> newCellForItem(int) override { return std::make_unique<LoggingCell>(); }
    Qt::DropAction executeDrag(QDrag& drag, Qt::DropActions actions) override {
        ++drags;
        QDragEnterEvent enter(dragFrom, actions, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &enter);
        QDragMoveEvent move(dropAt, actions, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &move);
        QDropEvent drop(QPointF(dropAt), actions, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    }
    QPoint dragFrom, dropAt;
    int drags = 0;
};

void mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button = Qt::LeftButton,
           Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                     : type == QEvent::MouseMove        ? Qt::MouseButtons(Qt::LeftButton)
                                                                        : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(p), QPointF(w->mapToGlobal(p)), type == QEvent::MouseMove ? Qt::NoButton : button,
                      buttons, mods);
    QCoreApplication::sendEvent(w, &event);
}

void click(QWidget* w, QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier, Qt::MouseButton b = Qt::LeftButton) {
    mouse(w, QEvent::MouseButtonPress, p, b, mods);
    mouse(w, QEvent::MouseButtonRelease, p, b, mods);
}

void key(QWidget* w, int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, k, mods);
    QCoreApplication::sendEvent(w, &event);
}

// A shown view of the width, without a vertical bar (so the viewport has
// the view's width).
void place(ImageBrowserView& view, int width, int height = 400, Qt::LayoutDirection dir = Qt::LeftToRight) {
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setLayoutDirection(dir);
    view.resize(width, height);
    view.show();
    QCoreApplication::processEvents();
}

QPoint centre(ImageBrowserView& view, int index) {
    return view.itemFrameAtIndex(index).center();
}

struct FrameCase {
    int count;
    QSize cell, spacing;
    int width;
    int index;
    QRect ltr;
    int rtlX;
};

TEST(ImageBrowserView, ItemFramesRowByRowCentredAndMirrored) {
    const FrameCase cases[] = {
        // pitch 110 x 90: 3 columns in 350, 10 left over each side.
        {5, {100, 80}, {10, 10}, 350, 0, {15, 5, 100, 80}, 235},
        {5, {100, 80}, {10, 10}, 350, 4, {125, 95, 100, 80}, 125},
        // Narrower than one cell: one column, flush with the leading edge.
        {3, {50, 50}, {0, 0}, 49, 2, {0, 100, 50, 50}, -1},
        // Exactly five columns; odd spacing puts 2 before the cell.
        {7, {60, 40}, {20, 5}, 400, 6, {90, 47, 60, 40}, 250},
        {7, {60, 40}, {20, 5}, 399, 6, {209, 47, 60, 40}, 130}, // 4 columns, 39 each side
    };
    for (const FrameCase& c : cases) {
        for (Qt::LayoutDirection dir : {Qt::LeftToRight, Qt::RightToLeft}) {
            Items items(c.count);
            ImageBrowserView view;
            view.setCellSize(c.cell);
            view.setIntercellSpacing(c.spacing);
            view.setDataSource(&items);
            place(view, c.width, 400, dir);
            QRect expected = c.ltr;
            if (dir == Qt::RightToLeft) expected.moveLeft(c.rtlX);
            EXPECT_EQ(view.itemFrameAtIndex(c.index), expected)
                << "count " << c.count << " width " << c.width << " index " << c.index << (dir ? " rtl" : " ltr");
            EXPECT_EQ(view.indexAtPoint(expected.topLeft()), c.index);
            EXPECT_EQ(view.indexAtPoint(expected.bottomRight()), c.index);
        }
        Items items(c.count);
        ImageBrowserView view;
        view.setDataSource(&items);
        EXPECT_TRUE(view.itemFrameAtIndex(c.count).isEmpty());
        EXPECT_TRUE(view.itemFrameAtIndex(-1).isEmpty());
    }
}

TEST(ImageBrowserView, IndexAtPointFindsCellsNotGaps) {
    struct Case {
        QPoint ltr;
        int index;
    };
    // 3 columns of 100 x 80 at x 15, 125, 235; rows at y 5 and 95.
    const Case cases[] = {
        {{15, 5}, 0},    {{114, 84}, 0},  {{14, 40}, -1},  {{115, 40}, -1}, {{60, 85}, -1}, {{130, 100}, 4},
        {{240, 100}, -1}, // past the last item
        {{345, 40}, -1},  // right margin
        {{60, 500}, -1},  // below the grid
    };
    for (Qt::LayoutDirection dir : {Qt::LeftToRight, Qt::RightToLeft}) {
        Items items(5);
        ImageBrowserView view;
        view.setCellSize({100, 80});
        view.setIntercellSpacing({10, 10});
        view.setDataSource(&items);
        place(view, 350, 600, dir);
        for (const Case& c : cases) {
            const QPoint p = dir == Qt::LeftToRight ? c.ltr : QPoint(349 - c.ltr.x(), c.ltr.y());
            EXPECT_EQ(view.indexAtPoint(p), c.index) << c.ltr.x() << "," << c.ltr.y() << (dir ? " rtl" : " ltr");
        }
    }
}

TEST(ImageBrowserView, ZoomValueMapsOntoCellEdges) {
    ImageBrowserView view;
    view.setCellEdgeRange(50, 150);
    const std::pair<double, int> cases[] = {{0, 50}, {0.5, 100}, {0.25, 75}, {1, 150}, {2, 150}, {-1, 50}};
    for (auto [zoom, edge] : cases) {
        view.setZoomValue(zoom);
        EXPECT_EQ(view.cellSize(), QSize(edge, edge)) << zoom;
    }
}

TEST(ImageBrowserView, ClicksShiftCtrlAndRubberBandSelect) {
    Items items(6);
    Delegate delegate;
    ImageBrowserView view;
    view.setCellSize({100, 80});
    view.setIntercellSpacing({10, 10});
    view.setAllowsMultipleSelection(true);
    view.setDataSource(&items);
    view.setDelegate(&delegate);
    place(view, 350);
    QWidget* vp = view.viewport();

    struct Step {
        int index; // -1: the gap at (3, 3)
        Qt::KeyboardModifiers mods;
        IndexSet expected;
    };
    const Step steps[] = {
        {0, Qt::NoModifier, {0}},
        {2, Qt::ShiftModifier, {0, 1, 2}},
        {1, Qt::ControlModifier, {0, 2}},
        {4, Qt::ControlModifier, {0, 2, 4}},
        {2, Qt::NoModifier, {2}}, // a plain click on a selected cell narrows to it
        {-1, Qt::NoModifier, {}},
    };
    for (const Step& s : steps) {
        click(vp, s.index < 0 ? QPoint(3, 3) : centre(view, s.index), s.mods);
        EXPECT_EQ(view.selectionIndexes(), s.expected) << "after clicking " << s.index;
    }
    EXPECT_EQ(delegate.selectionChanges, 6);

    // A rubber band from empty space over parts of items 0, 1, 3 and 4.
    mouse(vp, QEvent::MouseButtonPress, QPoint(3, 3));
    mouse(vp, QEvent::MouseMove, QPoint(140, 100));
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{0, 1, 3, 4}));
    mouse(vp, QEvent::MouseMove, QPoint(140, 40));
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{0, 1})) << "the band shrinks";
    mouse(vp, QEvent::MouseButtonRelease, QPoint(140, 40));
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{0, 1}));

    // Where empty selection is not allowed, a click in a gap keeps it.
    view.setAllowsEmptySelection(false);
    click(vp, QPoint(3, 3));
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{0, 1}));
}

TEST(ImageBrowserView, SingleSelectionKeepsOneItem) {
    Items items(4);
    ImageBrowserView view;
    view.setCellSize({100, 80});
    view.setDataSource(&items);
    place(view, 350);
    click(view.viewport(), centre(view, 1));
    click(view.viewport(), centre(view, 3), Qt::ShiftModifier);
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{3}));
    click(view.viewport(), centre(view, 2), Qt::ControlModifier);
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{2}));
    view.setSelectionIndexes({0, 1, 9}, false);
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{0})) << "one item; none outside the count";
}

TEST(ImageBrowserView, ArrowKeysMoveAndExtendTheSelection) {
    struct Step {
        int key;
        Qt::KeyboardModifiers mods;
        IndexSet ltr, rtl;
    };
    // 3 columns, 7 items.
    const Step steps[] = {
        {Qt::Key_Right, Qt::NoModifier, {0}, {0}}, // from nothing: the first item
        {Qt::Key_Right, Qt::NoModifier, {1}, {0}}, // right-to-left: Right goes back (nothing before 0)
        {Qt::Key_Left, Qt::NoModifier, {0}, {1}},
        {Qt::Key_Down, Qt::NoModifier, {3}, {4}},
        {Qt::Key_Down, Qt::NoModifier, {6}, {4}}, // no item below 4
        {Qt::Key_Up, Qt::ShiftModifier, {3, 6}, {1, 4}},
    };
    for (Qt::LayoutDirection dir : {Qt::LeftToRight, Qt::RightToLeft}) {
        Items items(7);
        ImageBrowserView view;
        view.setCellSize({100, 80});
        view.setAllowsMultipleSelection(true);
        view.setDataSource(&items);
        place(view, 350, 400, dir);
        for (const Step& s : steps) {
            key(&view, s.key, s.mods);
            EXPECT_EQ(view.selectionIndexes(), dir == Qt::LeftToRight ? s.ltr : s.rtl)
                << "key " << s.key << (dir ? " rtl" : " ltr");
        }
    }
}

TEST(ImageBrowserView, DeleteAndBackspaceAskTheDataSourceToRemove) {
    for (int k : {Qt::Key_Delete, Qt::Key_Backspace}) {
        Items items(5);
        ImageBrowserView view;
        view.setAllowsMultipleSelection(true);
        view.setDataSource(&items);
        place(view, 350);
        view.setSelectionIndexes({1, 3}, false);
        key(&view, k);
        ASSERT_EQ(items.removals.size(), 1u);
        EXPECT_EQ(items.removals[0], (IndexSet{1, 3}));
        EXPECT_EQ(view.numberOfItems(), 3) << "reloaded";
        EXPECT_TRUE(view.selectionIndexes().empty());
        key(&view, k);
        EXPECT_EQ(items.removals.size(), 1u) << "nothing selected: nothing asked";
    }
    // Without empty selection the item now in the first removed place is selected.
    Items items(5);
    ImageBrowserView view;
    view.setAllowsMultipleSelection(true);
    view.setAllowsEmptySelection(false);
    view.setDataSource(&items);
    view.setSelectionIndexes({3, 4}, false);
    key(&view, Qt::Key_Delete);
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{2}));
}

TEST(ImageBrowserView, DoubleAndRightClicksReachTheDelegate) {
    Items items(4);
    Delegate delegate;
    ImageBrowserView view;
    view.setCellSize({100, 80});
    view.setDataSource(&items);
    view.setDelegate(&delegate);
    place(view, 350);
    QWidget* vp = view.viewport();
    mouse(vp, QEvent::MouseButtonDblClick, centre(view, 2));
    mouse(vp, QEvent::MouseButtonDblClick, QPoint(2, 2)); // a gap: nothing
    click(vp, centre(view, 1), Qt::NoModifier, Qt::RightButton);
    click(vp, QPoint(2, 2), Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"double 2", "right 1", "background"}));
    EXPECT_EQ(view.selectionIndexes(), (IndexSet{1})) << "a right click selects its cell";

    auto tipAt = [&](QPoint p, bool expectTip) {
        QHelpEvent help(QEvent::ToolTip, p, vp->mapToGlobal(p));
        QCoreApplication::sendEvent(vp, &help);
        // A tip goes away after a short delay; wait for that, within a limit.
        QElapsedTimer waited;
        waited.start();
        while (!expectTip && QToolTip::isVisible() && waited.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(centre(view, 2), true), QStringLiteral("tip 2"));
    EXPECT_EQ(tipAt(centre(view, 3), false), QString()) << "an empty text shows none";
    EXPECT_EQ(tipAt(centre(view, 2), true), QStringLiteral("tip 2"));
    EXPECT_EQ(tipAt(QPoint(2, 2), false), QString()) << "none in gaps";
}

TEST(ImageBrowserView, PaintsVisibleCellsInOrderAndOnlyWithinTheCount) {
    Items items(5);
    items.nullImages = {1};
    TestView view;
    view.setCellSize({100, 80});
    view.setCellsTitled(true);
    view.setDataSource(&items);
    place(view, 350, 80); // one row visible: items 0 to 2
    view.setSelectionIndexes({0}, false);
    std::vector<std::string> log;
    gPaintLog = &log;
    QImage image(view.size(), QImage::Format_ARGB32);
    view.viewport()->render(&image);
    gPaintLog = nullptr;
    EXPECT_EQ(log, (std::vector<std::string>{"0 background", "0 selection", "0 image", "0 foreground", "0 title A",
                                             "1 background", "1 placeholder", "1 foreground", "1 title B",
                                             "2 background", "2 image", "2 foreground", "2 title C"}));

    // The data source grows without telling the view: it paints the count
    // it was given and asks for nothing past it.
    items.names.push_back(QStringLiteral("F"));
    view.resize(350, 400);
    QCoreApplication::processEvents();
    QImage all(view.size(), QImage::Format_ARGB32);
    view.viewport()->render(&all);
    EXPECT_FALSE(items.askedOutside);
}

TEST(ImageBrowserView, DefaultCellFitsThePictureAboveItsTitle) {
    Items items(1, {200, 100});
    ImageBrowserView view;
    view.setCellSize({112, 132});
    view.setIntercellSpacing({0, 0});
    view.setCellsTitled(true);
    view.setDataSource(&items);
    place(view, 112);
    QImage image(view.size(), QImage::Format_ARGB32);
    view.viewport()->render(&image); // the cell learns its picture's size
    kdui::ImageBrowserCell* cell = view.cellForItemAtIndex(0);
    ASSERT_NE(cell, nullptr);
    const QRect title = cell->titleFrame();
    const QRect picture = cell->imageFrame();
    EXPECT_EQ(picture.width(), 100) << "fitted into the frame inset by 6";
    EXPECT_EQ(picture.height(), 50);
    EXPECT_LT(picture.bottom(), title.top());
    EXPECT_TRUE(cell->frame().contains(title));
    view.setCellsTitled(false);
    EXPECT_TRUE(cell->titleFrame().isEmpty());
    EXPECT_EQ(view.cellForItemAtIndex(1), nullptr);
}

struct DropCase {
    Qt::LayoutDirection dir;
    int from;
    QPoint offset; // from the centre of the target item
    int target;
    int destination; // -1: no move
    std::vector<QString> order;
};

TEST(ImageBrowserView, DraggingAnItemReordersThroughTheDataSource) {
    const DropCase cases[] = {
        // Item 0 dropped on the trailing half of item 2: once, to gap 3.
        {Qt::LeftToRight, 0, {20, 0}, 2, 3, {"B", "C", "A", "D", "E"}},
        {Qt::RightToLeft, 0, {-20, 0}, 2, 3, {"B", "C", "A", "D", "E"}},
        // Item 4 onto the leading half of item 1.
        {Qt::LeftToRight, 4, {-20, 0}, 1, 1, {"A", "E", "B", "C", "D"}},
        // Item 1 back onto its own place: nothing moves.
        {Qt::LeftToRight, 1, {-20, 0}, 1, -1, {"A", "B", "C", "D", "E"}},
    };
    for (const DropCase& c : cases) {
        Items items(5);
        TestView view;
        view.setCellSize({100, 80});
        view.setCellsTitled(true);
        view.setAllowsReordering(true);
        view.setDataSource(&items);
        place(view, 350, 400, c.dir);
        QWidget* vp = view.viewport();
        view.dragFrom = centre(view, c.from);
        view.dropAt = centre(view, c.target) + c.offset;
        mouse(vp, QEvent::MouseButtonPress, view.dragFrom);
        mouse(vp, QEvent::MouseMove, view.dragFrom + QPoint(30, 0));
        mouse(vp, QEvent::MouseButtonRelease, view.dragFrom + QPoint(30, 0));
        EXPECT_EQ(view.drags, 1);
        if (c.destination < 0) {
            EXPECT_TRUE(items.moves.empty());
        } else {
            ASSERT_EQ(items.moves.size(), 1u);
            EXPECT_EQ(items.moves[0].first, IndexSet{c.from});
            EXPECT_EQ(items.moves[0].second, c.destination);
        }
        // What the view shows now: the order the data source gives.
        std::vector<std::string> log;
        gPaintLog = &log;
        QImage image(view.size(), QImage::Format_ARGB32);
        vp->render(&image);
        gPaintLog = nullptr;
        std::vector<QString> shown;
        for (const std::string& line : log)
            if (line.find(" title ") != std::string::npos) shown.push_back(QString::fromStdString(line.substr(line.size() - 1)));
        EXPECT_EQ(shown, c.order);
    }
}

TEST(ImageBrowserView, NoReorderingMeansNoMove) {
    Items items(3);
    TestView view;
    view.setCellSize({100, 80});
    view.setDataSource(&items);
    place(view, 350);
    view.dragFrom = centre(view, 0);
    view.dropAt = centre(view, 2) + QPoint(20, 0);
    mouse(view.viewport(), QEvent::MouseButtonPress, view.dragFrom);
    mouse(view.viewport(), QEvent::MouseMove, view.dragFrom + QPoint(30, 0));
    EXPECT_EQ(view.drags, 1) << "the data source writes drag data";
    EXPECT_TRUE(items.moves.empty());
}

TEST(ImageBrowserView, ForeignDragsReachOnlyTheDestinationDelegate) {
    Items items(3);
    Destination destination;
    ImageBrowserView view;
    view.setAllowsReordering(true);
    view.setDataSource(&items);
    place(view, 350);
    QMimeData data;
    data.setText(QStringLiteral("from elsewhere"));
    auto play = [&](bool drop) {
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &enter);
        QDragMoveEvent move(QPoint(30, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &move);
        if (drop) {
            QDropEvent event(QPointF(30, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view.viewport(), &event);
            return event.isAccepted();
        }
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(view.viewport(), &leave);
        return false;
    };
    EXPECT_FALSE(play(true)) << "no destination: refused";
    view.setDraggingDestinationDelegate(&destination);
    EXPECT_TRUE(play(true));
    play(false);
    EXPECT_EQ(destination.calls, (std::vector<std::string>{"entered", "updated", "perform", "ended dropped", "entered",
                                                           "updated", "ended"}));
    EXPECT_TRUE(items.moves.empty());
}

TEST(ImageBrowserView, VisibleIndexesFollowScrolling) {
    Items items(30);
    ImageBrowserView view;
    view.setCellSize({100, 80});
    view.setIntercellSpacing({10, 10});
    view.setDataSource(&items);
    place(view, 350, 180); // two rows of three
    EXPECT_EQ(view.visibleItemIndexes(), (IndexSet{0, 1, 2, 3, 4, 5}));
    view.scrollIndexToVisible(29);
    const IndexSet visible = view.visibleItemIndexes();
    EXPECT_TRUE(visible.count(29));
    EXPECT_FALSE(visible.count(0));
    EXPECT_TRUE(view.viewport()->rect().contains(view.itemFrameAtIndex(29)));
    EXPECT_EQ(view.indexAtPoint(centre(view, 27)), 27);
}

} // namespace

int main(int argc, char** argv) {
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", "offscreen");
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
