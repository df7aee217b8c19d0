// The page browser: keys and drags by whether dragging is allowed, the
// point-to-item walk, and the cells' pixels.
#include "ImageIBView.h"

#include "KitTestSupport.h"

#include <QApplication>
#include <QDrag>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class Source : public ImageIBViewDataSource {
public:
    std::vector<QImage> images;
    int shown = -1;
    int removeCalls = 0;

    int numberOfItems(kdui::ImageBrowserView&) override { return int(images.size()); }
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView&, int index) override {
        return {images[std::size_t(index)], QString::number(index + 1)};
    }
    bool isShownItem(kdui::ImageBrowserView&, int index) override { return index == shown; }
    bool removeItems(kdui::ImageBrowserView&, const kdui::IndexSet&) override {
        ++removeCalls;
        return false;
    }
};

class Delegate : public kdui::ImageBrowserDelegate {
public:
    int changes = 0;
    void selectionDidChange(kdui::ImageBrowserView&) override { ++changes; }
};

// A browser whose focus step also moves the selection, as a platform
// browser's Tab handling may; drags are counted instead of run.
class TestBrowser : public ImageIBView {
public:
    int drags = 0;
    bool tabMovesSelection = false;

protected:
    bool focusNextPrevChild(bool) override {
        if (tabMovesSelection) setSelectionIndexes(kdui::IndexSet{0}, false);
        return true;
    }
    Qt::DropAction executeDrag(QDrag&, Qt::DropActions) override {
        ++drags;
        return Qt::IgnoreAction;
    }
};

QImage page(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

struct Fixture {
    Source source;
    Delegate delegate;
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    TestBrowser* browser = new TestBrowser;

    explicit Fixture(int count = 4) {
        browser->setParent(window.get());
        window->resize(200, 400);
        browser->setGeometry(0, 0, 200, 400);
        browser->setCellSize(QSize(150, 170));
        browser->setIntercellSpacing(QSize(10, 10));
        browser->setCellsTitled(true);
        browser->setAllowsMultipleSelection(true);
        browser->setBackgroundColor(QColor(0x30, 0x30, 0x30));
        for (int i = 0; i < count; ++i) source.images.push_back(page(QSize(100, 140), QColor(0x20, 0x60, 0xC0)));
        browser->setDataSource(&source);
        browser->setDelegate(&delegate);
        window->show();
        browser->setFocus();
        QApplication::processEvents();
    }

    void key(int code, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
        QApplication::sendEvent(browser, &press);
    }
    void mouse(QEvent::Type type, QPoint at) {
        QMouseEvent event(type, at, browser->viewport()->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(browser->viewport(), &event);
    }
    QImage picture() {
        QImage image(browser->viewport()->size(), QImage::Format_ARGB32);
        image.fill(kittest::kBackdrop);
        browser->viewport()->render(&image);
        return image;
    }
};

TEST(ImageIBView, TabPutsThePreviousSelectionBackSilently) {
    Fixture f;
    f.browser->setIsValidMouseDragged(true);
    f.browser->tabMovesSelection = true;
    f.browser->setSelectionIndexes(kdui::IndexSet{2}, false);
    const int heard = f.delegate.changes;
    f.key(Qt::Key_Tab);
    EXPECT_EQ(f.browser->selectionIndexes(), kdui::IndexSet{2});
    // The step's own change was heard; putting it back was not.
    EXPECT_EQ(f.delegate.changes, heard + 1);
    EXPECT_EQ(f.browser->delegate(), &f.delegate);

    // Without dragging, Tab is the inherited key.
    f.browser->setIsValidMouseDragged(false);
    f.key(Qt::Key_Tab);
    EXPECT_EQ(f.browser->selectionIndexes(), kdui::IndexSet{0});
}

TEST(ImageIBView, DeleteKeysAreSwallowedWithoutDragging) {
    Fixture f;
    f.browser->setSelectionIndexes(kdui::IndexSet{1}, false);
    f.browser->setIsValidMouseDragged(false);
    f.key(Qt::Key_Delete);
    f.key(Qt::Key_Backspace);
    f.key(ImageIBView::kForwardDeleteCharacter);
    f.key(Qt::Key_unknown, QString(QChar(ImageIBView::kForwardDeleteCharacter)));
    EXPECT_EQ(f.source.removeCalls, 0);
    // Other keys still work.
    f.key(Qt::Key_Down);
    EXPECT_EQ(f.browser->selectionIndexes(), kdui::IndexSet{2});

    f.browser->setIsValidMouseDragged(true);
    f.key(Qt::Key_Delete);
    EXPECT_EQ(f.source.removeCalls, 1);
}

TEST(ImageIBView, DragFromACellOnlyWhenAllowedRubberBandAlways) {
    Fixture f(1);
    f.browser->setAllowsReordering(true);
    const QRect cell = f.browser->itemFrameAtIndex(0);
    const QPoint on = cell.center();
    for (bool allowed : {false, true}) {
        SCOPED_TRACE(allowed);
        f.browser->drags = 0;
        f.browser->setIsValidMouseDragged(allowed);
        f.mouse(QEvent::MouseButtonPress, on);
        EXPECT_TRUE(ImageIBView::isHitTestCell());
        f.mouse(QEvent::MouseMove, on + QPoint(30, 40));
        f.mouse(QEvent::MouseButtonRelease, on + QPoint(30, 40));
        EXPECT_EQ(f.browser->drags, allowed ? 1 : 0);
    }
    // A rubber band from empty space selects, dragging or not.
    f.browser->setIsValidMouseDragged(false);
    f.browser->setSelectionIndexes({}, false);
    const QPoint empty(cell.center().x(), cell.bottom() + 60);
    f.mouse(QEvent::MouseButtonPress, empty);
    EXPECT_FALSE(ImageIBView::isHitTestCell());
    f.mouse(QEvent::MouseMove, cell.center());
    f.mouse(QEvent::MouseButtonRelease, cell.center());
    EXPECT_EQ(f.browser->selectionIndexes(), kdui::IndexSet{0});
}

TEST(ImageIBView, IndexAtPointWalksTheVisibleItems) {
    Fixture f(3);
    QRect frame;
    const QRect second = f.browser->itemFrameAtIndex(1);
    EXPECT_EQ(f.browser->indexAtPoint(second.center(), &frame), 1);
    EXPECT_EQ(frame, second);
    // Missed: the last visible item's frame.
    EXPECT_EQ(f.browser->indexAtPoint(QPoint(2, 2), &frame), kdui::ImageBrowserView::kNotFound);
    EXPECT_EQ(frame, f.browser->itemFrameAtIndex(*f.browser->visibleItemIndexes().rbegin()));
    Fixture none(0);
    EXPECT_EQ(none.browser->indexAtPoint(QPoint(20, 20), &frame), kdui::ImageBrowserView::kNotFound);
    EXPECT_TRUE(frame.isEmpty());
}

TEST(ImageIBView, CellFramesFitThePictureAboveTheTitle) {
    Fixture f(2);
    f.source.images[1] = page(QSize(200, 100), Qt::red);
    f.browser->reloadData();
    f.picture(); // cells learn their pictures' sizes when painted
    auto* portrait = f.browser->cellForItemAtIndex(0);
    auto* landscape = f.browser->cellForItemAtIndex(1);
    const QRect cell = portrait->frame();
    const QRect title = portrait->titleFrame();
    const int band = title.top() - cell.top();
    // Portrait: the height is what fits (band less 16), centred.
    const QRect image = portrait->imageFrame();
    EXPECT_EQ(image.height(), band - 16);
    EXPECT_NEAR(image.width(), (band - 16) * 100.0 / 140.0, 1);
    EXPECT_NEAR(image.center().x(), cell.center().x(), 1);
    EXPECT_GE(image.top(), cell.top() + 8);
    EXPECT_LE(image.bottom(), title.top() - 8);
    // Landscape: the width fills the cell less 16.
    EXPECT_EQ(landscape->imageFrame().width(), 150 - 16);
    EXPECT_EQ(landscape->imageFrame().height(), 67);
    EXPECT_EQ(portrait->selectionFrame(), image.adjusted(-8, -8, 8, 8));
}

TEST(ImageIBView, CellPixels) {
    Fixture f(3);
    f.source.images[2] = QImage(); // not there yet
    f.source.shown = 0;
    f.browser->reloadData();
    f.browser->setSelectionIndexes(kdui::IndexSet{0, 1}, false);
    f.browser->scrollIndexToVisible(0);
    QImage shot = f.picture();
    auto* shown = f.browser->cellForItemAtIndex(0);
    const QRect image = shown->imageFrame();
    const QRect selection = shown->selectionFrame();
    const QRgb ring = ImageIBCell::shownRingColor().rgb() & 0xFFFFFF;
    // Selected and shown: the 2-pixel ring, gray 218 inside it, the picture.
    EXPECT_EQ(kittest::rgbAt(shot, selection.left(), selection.center().y()), ring);
    EXPECT_EQ(kittest::rgbAt(shot, selection.left() + 1, selection.center().y()), ring);
    EXPECT_EQ(kittest::rgbAt(shot, selection.left() + 3, selection.center().y()), 0xDADADAu);
    EXPECT_EQ(kittest::rgbAt(shot, image.center().x(), image.center().y()), 0x2060C0u);
    // Selected: the title band is #DADADA, no frame around the picture.
    const QRect title = shown->titleFrame();
    EXPECT_EQ(kittest::rgbAt(shot, title.left() + 1, title.top() + 1), 0xDADADAu);

    // Selected, not shown: gray without a ring.
    auto* second = f.browser->cellForItemAtIndex(1);
    const QRect secondSelection = second->selectionFrame();
    ASSERT_TRUE(f.browser->viewport()->rect().contains(secondSelection.center()));
    EXPECT_EQ(kittest::rgbAt(shot, secondSelection.left(), secondSelection.center().y()), 0xDADADAu);

    // Not selected: a 1-pixel #DADADA frame just outside the picture, the
    // background beyond it.
    f.browser->setSelectionIndexes(kdui::IndexSet{1}, false);
    shot = f.picture();
    EXPECT_EQ(kittest::rgbAt(shot, image.left() - 1, image.center().y()), 0xDADADAu);
    EXPECT_EQ(kittest::rgbAt(shot, image.center().x(), image.top() - 1), 0xDADADAu);
    EXPECT_EQ(kittest::rgbAt(shot, image.left() - 2, image.center().y()), 0x303030u);
    EXPECT_EQ(kittest::rgbAt(shot, image.left(), image.center().y()), 0x2060C0u);

    // Waiting for its picture: the translucent white placeholder, no frame.
    f.browser->verticalScrollBar()->setValue(f.browser->verticalScrollBar()->maximum());
    shot = f.picture();
    auto* waiting = f.browser->cellForItemAtIndex(2);
    const QRect place = waiting->imageFrame();
    ASSERT_TRUE(f.browser->viewport()->rect().contains(place.center()));
    const QRgb inside = kittest::rgbAt(shot, place.center().x(), place.center().y());
    // White at 0.3 over #303030.
    EXPECT_NEAR(qRed(inside), 0x30 + (255 - 0x30) * 0.3, 2);
    EXPECT_EQ(qRed(inside), qBlue(inside));
    EXPECT_EQ(kittest::rgbAt(shot, place.left() - 1, place.center().y()), 0x303030u);
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
