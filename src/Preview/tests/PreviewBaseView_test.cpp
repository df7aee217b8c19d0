#include "PreviewBaseView.h"

#include "KitTestSupport.h"
#include "TvNotifications.h"
#include "TvSlider.h"

#include <foundation/NotificationCenter.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using Kind = PreviewBaseView::CursorKind;

// A white page with a black band across its middle row, so a turn shows.
QImage testPage(int side = 400) {
    QImage page(side, side, QImage::Format_ARGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    p.fillRect(0, side / 2 - 5, side, 10, Qt::black);
    return page;
}

// Counts the posts of one name by the view.
struct Posts {
    Posts(const char* name, const void* sender)
        : token(kdf::NotificationCenter::defaultCenter().addObserver(
              name, [this](const kdf::Notification&) { ++count; }, sender)) {}
    int count = 0;
    kdf::ObserverToken token;
};

void send(QWidget* w, QEvent::Type type, QPointF point, Qt::MouseButtons buttons = Qt::LeftButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, point, w->mapToGlobal(point), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void drag(QWidget* w, QPointF from, QPointF to) {
    send(w, QEvent::MouseButtonPress, from);
    send(w, QEvent::MouseMove, to);
    send(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

void wheel(QWidget* w, int delta, Qt::KeyboardModifiers modifiers) {
    const QPointF at(10, 10);
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

// A view of 446 x 446 outside a scroll area: the page area is 400 x 400.
struct Standalone {
    Standalone() {
        view.resize(446, 446);
        view.setSrcFitImageSize(QSizeF(400, 400));
        view.setRealImageSize(QSizeF(300, 300));
        view.setPreviewImage(testPage());
    }
    PreviewBaseView view;
};

// A view in a 400 x 300 scroll area with the kit's scrollers, shown.
struct InArea {
    InArea() {
        area.setFrameShape(QFrame::NoFrame);
        area.setVerticalScrollBar(new TvScroller(Qt::Vertical));
        area.setHorizontalScrollBar(new TvScroller(Qt::Horizontal));
        view = new PreviewBaseView;
        area.setWidget(view);
        area.resize(400, 300);
        area.show();
        view->setSrcFitImageSize(QSizeF(400, 400));
        view->setPreviewImage(testPage());
        QApplication::processEvents();
    }
    QScrollArea area;
    PreviewBaseView* view;
};

struct RectCase {
    QSize view;
    QSizeF fit;
    double zoom;
    bool image;
    QRectF expected;
};

TEST(PreviewBaseView, ImageRectangleFitsCapsAndCentres) {
    const std::vector<RectCase> cases{
        {{446, 446}, {400, 400}, 1, false, QRectF()},
        {{446, 446}, {400, 300}, 1, true, QRectF(23, 73, 400, 300)},
        // A small page keeps its fit size, centred, never enlarged.
        {{446, 446}, {100, 50}, 1, true, QRectF(173, 198, 100, 50)},
        {{446, 300}, {500, 300}, 1, true, QRectF(23, 30, 400, 240)},
        // Origins rounded up, sizes rounded down (400 x 300.67 at y 72.67).
        {{446, 446}, {600, 451}, 1, true, QRectF(23, 73, 400, 300)},
        // The cap grows with the zoom.
        {{892, 892}, {400, 300}, 2, true, QRectF(46, 146, 800, 600)},
        {{892, 892}, {400, 300}, 3, true, QRectF(23, 129, 846, 634)},
        // No fit size yet: nothing to draw.
        {{446, 446}, {0, 0}, 1, true, QRectF(223, 223, 0, 0)},
    };
    for (const RectCase& c : cases) {
        PreviewBaseView view;
        view.resize(c.view);
        view.setSrcFitImageSize(c.fit);
        if (c.image) view.setPreviewImage(testPage());
        view.setScaleValue(c.zoom);
        EXPECT_EQ(view.drawImageRc(), c.expected) << c.view.width() << "x" << c.view.height() << " zoom " << c.zoom;
    }
}

TEST(PreviewBaseView, KnobsAndTheirHitOrder) {
    Standalone s;
    s.view.setIsTransformMode(true);
    s.view.setRatioOfCrop(QRectF(0.25, 0.25, 0.5, 0.5));
    ASSERT_EQ(s.view.drawCropRect(), QRectF(123, 123, 200, 200));
    const auto knobs = s.view.knobRects();
    const QRectF expected[9] = {{113, 113, 20, 20}, {313, 113, 20, 20}, {313, 313, 20, 20},
                                {113, 313, 20, 20}, {133, 113, 180, 20}, {313, 133, 20, 180},
                                {133, 313, 180, 20}, {113, 133, 20, 180}, {193, 193, 60, 60}};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(knobs[size_t(i)], expected[i]) << "knob " << i;

    struct Hit {
        QPointF point;
        int knob;
    };
    const Hit hits[] = {{{115, 115}, 0}, {{330, 115}, 1}, {{330, 330}, 2}, {{115, 330}, 3},
                        {{200, 115}, 4}, {{330, 200}, 5}, {{200, 330}, 6}, {{115, 200}, 7},
                        {{223, 223}, 8}, {{160, 160}, -1}, {{5, 5}, -1}};
    for (const Hit& h : hits) EXPECT_EQ(s.view.knobUnderPoint(h.point), h.knob) << h.point.x() << "," << h.point.y();

    // A 40-pixel frame: the handle covers it whole and wins over the edge
    // knob it overlaps.
    s.view.setRatioOfCrop(QRectF(0.25, 0.25, 0.1, 0.1));
    EXPECT_EQ(s.view.knobRects()[8], QRectF(123, 123, 40, 40));
    EXPECT_EQ(s.view.knobUnderPoint(QPointF(143, 128)), 8);
    EXPECT_EQ(s.view.knobUnderPoint(QPointF(143, 118)), 4);

    // Without a page there is nothing to take hold of.
    PreviewBaseView empty;
    empty.resize(446, 446);
    empty.setIsTransformMode(true);
    EXPECT_EQ(empty.drawCropRect(), QRectF());
    EXPECT_EQ(empty.knobUnderPoint(QPointF(0, 0)), -1);
}

TEST(PreviewBaseView, CropMinimumStaysWithinThePage) {
    struct Case {
        QSizeF real;
        QSizeF expected;
    };
    const Case cases[] = {{{0, 0}, {1, 1}},           {{300, 6000}, {0.2, 0.01}}, {{40, 60}, {1, 1}},
                          {{6000, 120}, {0.01, 0.5}}, {{-5, 600}, {1, 0.1}}};
    for (const Case& c : cases) {
        PreviewBaseView view;
        view.setRealImageSize(c.real);
        const QSizeF min = view.ratioOfCropMinSize();
        EXPECT_DOUBLE_EQ(min.width(), c.expected.width()) << c.real.width();
        EXPECT_DOUBLE_EQ(min.height(), c.expected.height()) << c.real.height();
    }
}

struct DragCase {
    const char* name;
    QRectF start;
    QPointF from, to;
    QRectF expected;
};

TEST(PreviewBaseView, CropDragsKeepTheMinimumAndThePage) {
    // Page 300 pixels drawn 400 wide at (23, 23): the 60-pixel minimum is 20 %.
    const QRectF quarter(0.25, 0.25, 0.5, 0.5); // frame (123, 123, 200, 200)
    const QRectF whole(0, 0, 1, 1);
    const std::vector<DragCase> cases{
        {"right edge to the minimum", whole, {423, 200}, {100, 200}, {0, 0, 0.2, 1}},
        {"left edge inwards", whole, {23, 200}, {300, 200}, {0.6925, 0, 0.3075, 1}},
        {"left edge past the minimum", whole, {23, 200}, {420, 200}, {0.8, 0, 0.2, 1}},
        {"top-left corner out of the page", quarter, {123, 123}, {0, 0}, {0, 0, 0.75, 0.75}},
        {"bottom-right corner out of the page", quarter, {323, 323}, {500, 500}, {0.25, 0.25, 0.75, 0.75}},
        {"bottom-right corner to the minimum", quarter, {323, 323}, {130, 130}, {0.25, 0.25, 0.2, 0.2}},
        {"top-right corner", quarter, {323, 123}, {373, 73}, {0.25, 0.125, 0.625, 0.625}},
        {"bottom-left corner", quarter, {123, 323}, {73, 373}, {0.125, 0.25, 0.625, 0.625}},
        {"bottom edge", quarter, {200, 323}, {200, 600}, {0.25, 0.25, 0.5, 0.75}},
        {"top edge past the minimum", quarter, {200, 123}, {200, 400}, {0.25, 0.55, 0.5, 0.2}},
        {"handle moved", quarter, {223, 223}, {243, 203}, {0.3, 0.2, 0.5, 0.5}},
        {"handle pushed back inside", quarter, {223, 223}, {723, -277}, {0.5, 0, 0.5, 0.5}},
    };
    for (const DragCase& c : cases) {
        Standalone s;
        s.view.setIsTransformMode(true);
        s.view.setRatioOfCrop(c.start);
        Posts posts(kRatioOfCropDidChange, &s.view);
        send(&s.view, QEvent::MouseButtonPress, c.from);
        EXPECT_TRUE(s.view.mouseTracking()) << c.name;
        send(&s.view, QEvent::MouseMove, c.to);
        EXPECT_EQ(posts.count, 1) << c.name;
        send(&s.view, QEvent::MouseButtonRelease, c.to, Qt::NoButton);
        // The release is the last step.
        EXPECT_EQ(posts.count, 2) << c.name;
        EXPECT_FALSE(s.view.mouseTracking()) << c.name;
        const QRectF r = s.view.ratioOfCrop();
        EXPECT_NEAR(r.x(), c.expected.x(), 1e-9) << c.name;
        EXPECT_NEAR(r.y(), c.expected.y(), 1e-9) << c.name;
        EXPECT_NEAR(r.width(), c.expected.width(), 1e-9) << c.name;
        EXPECT_NEAR(r.height(), c.expected.height(), 1e-9) << c.name;
    }
}

TEST(PreviewBaseView, CropDragEachMoveStartsFromThePress) {
    Standalone s;
    s.view.setIsTransformMode(true);
    send(&s.view, QEvent::MouseButtonPress, QPointF(423, 200));
    send(&s.view, QEvent::MouseMove, QPointF(300, 200));
    send(&s.view, QEvent::MouseMove, QPointF(350, 200));
    send(&s.view, QEvent::MouseButtonRelease, QPointF(350, 200), Qt::NoButton);
    EXPECT_NEAR(s.view.ratioOfCrop().width(), 327.0 / 400, 1e-9);
}

TEST(PreviewBaseView, TinyPageFrameCannotOutgrowThePage) {
    // Under 60 pixels the minimum is the whole page: nothing shrinks, and
    // nothing grows past the page.
    Standalone s;
    s.view.setRealImageSize(QSizeF(40, 40));
    s.view.setIsTransformMode(true);
    drag(&s.view, QPointF(423, 200), QPointF(100, 200));
    drag(&s.view, QPointF(200, 23), QPointF(200, 300));
    EXPECT_EQ(s.view.ratioOfCrop(), QRectF(0, 0, 1, 1));
}

TEST(PreviewBaseView, OutsideTransformModeNothingIsDragged) {
    Standalone s;
    s.view.setRatioOfCrop(QRectF(0, 0, 1, 1));
    Posts posts(kRatioOfCropDidChange, &s.view);
    drag(&s.view, QPointF(423, 200), QPointF(100, 200));
    EXPECT_EQ(posts.count, 0);
    EXPECT_EQ(s.view.ratioOfCrop(), QRectF(0, 0, 1, 1));
}

TEST(PreviewBaseView, GripTurnsOneTenthDegreePerPixelWithinTen) {
    Standalone s;
    s.view.setIsTransformMode(true);
    const QRectF grip = s.view.drawSkewRect();
    EXPECT_EQ(grip, QRectF(211, 110, 24, 24));
    Posts posts(kDegreeForRotateDidChange, &s.view);
    const QPointF start = grip.center();
    send(&s.view, QEvent::MouseButtonPress, start);
    send(&s.view, QEvent::MouseMove, start + QPointF(50, 0));
    EXPECT_DOUBLE_EQ(s.view.degreeForRotate(), 5);
    for (int dx = 100; dx <= 250; dx += 50) send(&s.view, QEvent::MouseMove, start + QPointF(dx, 3));
    EXPECT_DOUBLE_EQ(s.view.degreeForRotate(), 10);
    EXPECT_EQ(posts.count, 4 + 1);
    // The release changes nothing.
    send(&s.view, QEvent::MouseButtonRelease, start + QPointF(400, 0), Qt::NoButton);
    EXPECT_DOUBLE_EQ(s.view.degreeForRotate(), 10);
    EXPECT_EQ(posts.count, 5);
    // Back to the left, past the other limit.
    drag(&s.view, start, start - QPointF(400, 0));
    EXPECT_DOUBLE_EQ(s.view.degreeForRotate(), -10);
}

TEST(PreviewBaseView, ModeSettersAndNewPages) {
    Standalone s;
    s.view.setDegreeForRotate(4);
    s.view.setRatioOfCrop(QRectF(0.1, 0.1, 0.5, 0.5));
    s.view.setIsTransformMode(true);
    EXPECT_EQ(s.view.degreeForRotate(), 0);
    EXPECT_EQ(s.view.ratioOfCrop(), QRectF(0, 0, 1, 1));
    EXPECT_TRUE(s.view.isTransformMode());

    // The zoom survives a new page while a mode is on, and only then.
    s.view.setScaleValue(2.5);
    s.view.setPreviewImage(testPage(100));
    EXPECT_EQ(s.view.scaleValue(), 2.5);
    s.view.setIsTransformMode(false);
    s.view.setIsRotateMode(true);
    s.view.setPreviewImage(testPage(100));
    EXPECT_EQ(s.view.scaleValue(), 2.5);
    s.view.setIsRotateMode(false);
    s.view.setPreviewImage(testPage(100));
    EXPECT_EQ(s.view.scaleValue(), 1);
}

TEST(PreviewBaseView, CtrlWheelZoomsWithinOneToFour) {
    InArea a;
    Posts posts(kScrollWheelDidChange, a.view);
    wheel(a.view, 120, Qt::ControlModifier);
    EXPECT_NEAR(a.view->scaleValue(), 1.1, 1e-9);
    EXPECT_EQ(posts.count, 1);
    for (int i = 0; i < 40; ++i) wheel(a.view, 120, Qt::ControlModifier);
    EXPECT_EQ(a.view->scaleValue(), 4);
    wheel(a.view, 120 * 50, Qt::ControlModifier);
    EXPECT_EQ(a.view->scaleValue(), 4);
    wheel(a.view, -120 * 50, Qt::ControlModifier);
    EXPECT_EQ(a.view->scaleValue(), 1);
    EXPECT_EQ(posts.count, 43);
    // A plain wheel scrolls and leaves the zoom alone.
    wheel(a.view, 120, Qt::NoModifier);
    EXPECT_EQ(a.view->scaleValue(), 1);
    EXPECT_EQ(posts.count, 43);
    // Without a page the wheel does not zoom.
    a.view->setPreviewImage(QImage());
    wheel(a.view, 120, Qt::ControlModifier);
    EXPECT_EQ(a.view->scaleValue(), 1);
    EXPECT_EQ(posts.count, 43);
}

TEST(PreviewBaseView, ZoomFillsTheAreaAndKeepsTheMiddleSpot) {
    InArea a;
    EXPECT_EQ(a.view->size(), QSize(400, 300));
    EXPECT_FALSE(a.view->isShowScroller());
    a.view->setScaleValue(2);
    QApplication::processEvents();
    EXPECT_EQ(a.view->size(), QSize(800, 600));
    EXPECT_TRUE(a.view->isShowScroller());
    QRectF visible = a.view->visibleRect();
    EXPECT_NEAR(visible.center().x(), 400, 1);
    EXPECT_NEAR(visible.center().y(), 300, 1);

    // Off centre: the spot in the middle stays in the middle at zoom 3.
    a.area.horizontalScrollBar()->setValue(100);
    a.area.verticalScrollBar()->setValue(50);
    visible = a.view->visibleRect();
    const QPointF fraction(visible.center().x() / 800, visible.center().y() / 600);
    a.view->setScaleValue(3);
    visible = a.view->visibleRect();
    EXPECT_EQ(a.view->size(), QSize(1200, 900));
    EXPECT_NEAR(visible.center().x() / 1200, fraction.x(), 1.0 / 1200);
    EXPECT_NEAR(visible.center().y() / 900, fraction.y(), 1.0 / 900);

    // Back to 1: the view fills the area again, and follows its size.
    a.view->setScaleValue(1);
    QApplication::processEvents();
    EXPECT_EQ(a.view->size(), QSize(400, 300));
    a.area.resize(500, 350);
    QApplication::processEvents();
    EXPECT_EQ(a.view->size(), QSize(500, 350));
}

TEST(PreviewBaseView, ZoomSetBeforeTheAreaShowsKeepsTheMiddle) {
    QScrollArea area;
    area.setFrameShape(QFrame::NoFrame);
    area.setVerticalScrollBar(new TvScroller(Qt::Vertical));
    area.setHorizontalScrollBar(new TvScroller(Qt::Horizontal));
    auto* view = new PreviewBaseView;
    area.setWidget(view);
    area.resize(400, 300);
    view->setSrcFitImageSize(QSizeF(400, 400));
    view->setPreviewImage(testPage());
    view->setScaleValue(2);
    area.show();
    QApplication::processEvents();
    EXPECT_EQ(view->size(), QSize(800, 600));
    const QRectF visible = view->visibleRect();
    EXPECT_NEAR(visible.center().x(), 400, 1);
    EXPECT_NEAR(visible.center().y(), 300, 1);
}

TEST(PreviewBaseView, HandScrollsAboveZoomOneFromTwoPixels) {
    InArea a;
    a.view->setScaleValue(2);
    QApplication::processEvents();
    QScrollBar* h = a.area.horizontalScrollBar();
    QScrollBar* v = a.area.verticalScrollBar();
    h->setValue(200);
    v->setValue(150);
    // Points in the viewport, sent in the view's coordinates of the moment.
    auto at = [&](QPointF inViewport) { return inViewport - QPointF(a.view->pos()); };
    send(a.view, QEvent::MouseButtonPress, at({100, 100}));
    EXPECT_EQ(a.area.viewport()->cursor().shape(), Qt::ClosedHandCursor);
    send(a.view, QEvent::MouseMove, at({101, 101}));
    EXPECT_EQ(h->value(), 200);
    EXPECT_EQ(v->value(), 150);
    send(a.view, QEvent::MouseMove, at({111, 101}));
    EXPECT_EQ(h->value(), 190);
    EXPECT_EQ(v->value(), 150);
    send(a.view, QEvent::MouseMove, at({111, 80}));
    EXPECT_EQ(h->value(), 190);
    EXPECT_EQ(v->value(), 171);
    send(a.view, QEvent::MouseButtonRelease, at({111, 80}), Qt::NoButton);
    EXPECT_EQ(a.area.viewport()->cursor().shape(), Qt::OpenHandCursor);

    // At zoom 1 nothing scrolls.
    a.view->setScaleValue(1);
    QApplication::processEvents();
    const QPoint before = a.view->pos();
    drag(a.view, QPointF(100, 100), QPointF(150, 150));
    EXPECT_EQ(a.view->pos(), before);
}

TEST(PreviewBaseView, GripFollowsTheVisibleRectangle) {
    InArea a;
    a.view->setScaleValue(2);
    QApplication::processEvents();
    a.area.horizontalScrollBar()->setValue(120);
    a.area.verticalScrollBar()->setValue(70);
    const QSize shown = a.area.viewport()->size();
    EXPECT_EQ(a.view->drawSkewRect(), QRectF(120 + (shown.width() - 24) / 2.0, 70 + 110, 24, 24));
}

TEST(PreviewBaseView, ViewportHandFollowsTheScrollers) {
    InArea a;
    EXPECT_FALSE(a.area.viewport()->testAttribute(Qt::WA_SetCursor));
    a.view->setScaleValue(2);
    QApplication::processEvents();
    ASSERT_TRUE(a.view->isShowScroller());
    EXPECT_EQ(a.area.viewport()->cursor().shape(), Qt::OpenHandCursor);
    a.view->setScaleValue(1);
    QApplication::processEvents();
    EXPECT_FALSE(a.area.viewport()->testAttribute(Qt::WA_SetCursor));

    // Another area's scrollers leave this view alone.
    InArea other;
    a.view->setScaleValue(2);
    QApplication::processEvents();
    other.view->setScaleValue(2);
    QApplication::processEvents();
    a.area.viewport()->unsetCursor();
    other.view->setScaleValue(1);
    QApplication::processEvents();
    EXPECT_FALSE(a.area.viewport()->testAttribute(Qt::WA_SetCursor));
}

TEST(PreviewBaseView, CursorsByRegionAndHoveredImages) {
    InArea a;
    a.view->setRealImageSize(QSizeF(300, 300));
    a.view->setIsTransformMode(true);
    // Page (73, 23, 254, 254): the frame's handle stays clear of the grip.
    a.view->setRatioOfCrop(QRectF(0.25, 0.5, 0.5, 0.4));
    const auto knobs = a.view->knobRects();
    struct Case {
        QPointF point;
        Kind kind;
    };
    const std::vector<Case> cases{
        {knobs[8].center(), Kind::Move},      {knobs[0].center(), Kind::UL2BR},
        {knobs[2].center(), Kind::UL2BR},     {knobs[1].center(), Kind::UR2BL},
        {knobs[3].center(), Kind::UR2BL},     {knobs[4].center(), Kind::UpDown},
        {knobs[6].center(), Kind::UpDown},    {knobs[5].center(), Kind::LeftRight},
        {knobs[7].center(), Kind::LeftRight}, {a.view->drawSkewRect().center(), Kind::Skew},
        {QPointF(5, 5), Kind::Arrow},         {QPointF(399, 299), Kind::Arrow},
    };
    for (const Case& c : cases) {
        send(a.view, QEvent::MouseMove, c.point, Qt::NoButton);
        EXPECT_EQ(a.view->currentCursorKind(), c.kind) << c.point.x() << "," << c.point.y();
        EXPECT_EQ(a.view->isCropMoveCursor(), c.kind == Kind::Move);
        EXPECT_EQ(a.view->isSkewCursor(), c.kind == Kind::Skew);
        const bool bitmap = c.kind != Kind::Arrow;
        EXPECT_EQ(a.view->cursor().shape() == Qt::BitmapCursor, bitmap);
    }

    // Zoomed: the open hand off the tools, the arrow outside the visible part.
    a.view->setScaleValue(2);
    QApplication::processEvents();
    const QRectF visible = a.view->visibleRect();
    send(a.view, QEvent::MouseMove, visible.topLeft() + QPointF(3, 3), Qt::NoButton);
    EXPECT_EQ(a.view->currentCursorKind(), Kind::OpenHand);
    EXPECT_EQ(a.view->cursor().shape(), Qt::OpenHandCursor);
    send(a.view, QEvent::MouseMove, visible.bottomRight() + QPointF(30, 30), Qt::NoButton);
    EXPECT_EQ(a.view->currentCursorKind(), Kind::Arrow);

    // Out of the transform mode the view leaves the cursor to the area.
    a.view->setIsTransformMode(false);
    EXPECT_FALSE(a.view->testAttribute(Qt::WA_SetCursor));
}

// --- Pixels.

constexpr QRgb kWhite = 0xFFFFFFFF;

QImage render(PreviewBaseView& view) {
    QImage out(view.size(), QImage::Format_ARGB32);
    out.fill(kWhite);
    view.render(&out, QPoint(), QRegion(), QWidget::RenderFlags());
    return out;
}

// c over white at alpha a.
QRgb overWhite(unsigned rgb, double a) {
    auto ch = [&](int shift) { return int(std::lround(((rgb >> shift) & 0xFF) * a + 255 * (1 - a))); };
    return qRgb(ch(16), ch(8), ch(0));
}

::testing::AssertionResult near(QRgb actual, QRgb expected) {
    const int d = std::max({std::abs(qRed(actual) - qRed(expected)), std::abs(qGreen(actual) - qGreen(expected)),
                            std::abs(qBlue(actual) - qBlue(expected))});
    if (d <= 2) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hex << (actual & 0xFFFFFF) << " is not " << (expected & 0xFFFFFF);
}

TEST(PreviewBaseView, DrawsTheOverlayOverThePage) {
    Standalone s;
    s.view.setIsTransformMode(true);
    // Frame (123, 123, 180, 180): grid lines through its centre 213, 20 apart.
    s.view.setRatioOfCrop(QRectF(0.25, 0.25, 0.45, 0.45));
    const QImage out = render(s.view);
    const QRgb line = overWhite(PreviewBaseView::kCropColor, 0.7);
    // Outside the page: darkened by half.
    EXPECT_TRUE(near(out.pixel(5, 5), qRgb(128, 128, 128)));
    EXPECT_TRUE(near(out.pixel(440, 300), qRgb(128, 128, 128)));
    // Inside the page, off the frame: the page itself.
    EXPECT_TRUE(near(out.pixel(60, 60), kWhite));
    EXPECT_TRUE(near(out.pixel(113, 150), kWhite));
    // The frame's left and top edges.
    EXPECT_TRUE(near(out.pixel(123, 150), line));
    EXPECT_TRUE(near(out.pixel(150, 123), line));
    // Two vertical grid lines with white between, and one horizontal.
    EXPECT_TRUE(near(out.pixel(133, 150), line));
    EXPECT_TRUE(near(out.pixel(143, 150), kWhite));
    EXPECT_TRUE(near(out.pixel(153, 150), line));
    EXPECT_TRUE(near(out.pixel(160, 133), line));
    EXPECT_TRUE(near(out.pixel(160, 143), kWhite));
    // Nothing without a page.
    PreviewBaseView empty;
    empty.resize(100, 100);
    empty.setIsTransformMode(true);
    const QImage blank = render(empty);
    EXPECT_TRUE(near(blank.pixel(50, 50), kWhite));
    EXPECT_TRUE(near(blank.pixel(2, 2), kWhite));
}

TEST(PreviewBaseView, StraightenTurnsTheWayTheSignSays) {
    // The black band through the middle, seen 150 pixels right of the centre
    // (223, 223) turned by 10 degrees: 26 pixels lower for a positive angle.
    struct Case {
        double degree;
        int darkY, lightY;
    };
    const Case cases[] = {{10, 249, 197}, {-10, 197, 249}, {0, 221, 249}};
    for (const Case& c : cases) {
        Standalone s;
        s.view.setIsTransformMode(true);
        s.view.setDegreeForRotate(c.degree);
        const QImage out = render(s.view);
        EXPECT_LT(qGray(out.pixel(373, c.darkY)), 64) << c.degree;
        EXPECT_GT(qGray(out.pixel(373, c.lightY)), 128) << c.degree;
    }
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
