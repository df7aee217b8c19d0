// Modal windows over a shielded parent, window fades and their deferred
// steps, the flat window's content view, focus scrolling and the view
// animation runner.
#include "KitTestSupport.h"
#include "TvNotifications.h"
#include "TvWindow.h"

#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>
#include <ui/ModalShield.h>
#include <ui/QtRunLoop.h>
#include <ui/ViewAnimation.h>
#include <ui/WindowNotifications.h>

#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>
#include <string>
#include <vector>

namespace {

// Runs the main loop's deferred steps (fade end steps, close blocks).
void runSteps() {
    for (int i = 0; i < 3; ++i) kdf::RunLoop::main().fireDue();
}

void click(QWidget* widget) {
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

constexpr double kOpacityStep = 1.0 / 255.0;

struct Parent {
    QWidget window;
    QPushButton* button = new QPushButton(QStringLiteral("OK"), &window);
    int clicks = 0;
    Parent() {
        window.resize(300, 200);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        window.show();
    }
};

class Popover : public TvWindow {
public:
    bool isPopoverWindow() const override { return true; }
    void resignKeyWindow() override { ++resigned; }
    int resigned = 0;
};

TEST(TvWindowModal, ShieldStaysUntilTheLastModalWindowEnds) {
    Parent parent;
    TvWindow first, second;
    TvWindow::beginModalWindow(&first, &parent.window, false);
    TvWindow::beginModalWindow(&second, &parent.window, false);
    TvWindow::beginModalWindow(nullptr, &parent.window, false);
    ASSERT_NE(kdui::shieldWindow(&parent.window), nullptr);
    EXPECT_EQ(kdui::modalWindows(&parent.window), (QList<QWidget*>{&first, &second}));
    EXPECT_EQ(TvWindow::behindWindow(&second), &parent.window);
    EXPECT_TRUE(first.isVisible());

    // Shielded: a click, a key and a close request reach nothing.
    click(parent.button);
    parent.button->setFocus();
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QKeyEvent spaceUp(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(parent.button, &space);
    QApplication::sendEvent(parent.button, &spaceUp);
    EXPECT_EQ(parent.clicks, 0);
    EXPECT_FALSE(parent.window.close());
    EXPECT_TRUE(parent.window.isVisible());

    // Order-out NO: detached, still shown at its opacity; the shield stays.
    TvWindow::endModalWindow(&first, false);
    runSteps();
    EXPECT_TRUE(first.isVisible());
    EXPECT_EQ(TvWindow::behindWindow(&first), nullptr);
    EXPECT_NE(kdui::shieldWindow(&parent.window), nullptr);

    TvWindow::endModalWindow(&second);
    EXPECT_EQ(kdui::shieldWindow(&parent.window), nullptr);
    runSteps();
    EXPECT_FALSE(second.isVisible());
    EXPECT_NEAR(second.windowOpacity(), 1.0, kOpacityStep);

    click(parent.button);
    EXPECT_EQ(parent.clicks, 1);
}

TEST(TvWindowModal, ActivatingAShieldedParentActivatesItsTopmostModalWindow) {
    Parent parent;
    TvWindow first, second;
    first.resize(80, 60);
    second.resize(80, 60);
    TvWindow::beginModalWindow(&first, &parent.window, false);
    TvWindow::beginModalWindow(&second, &parent.window, false);
    parent.window.activateWindow();
    QApplication::processEvents();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&parent.window, &activate);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &second);
    TvWindow::endModalWindow(&first, false);
    TvWindow::endModalWindow(&second, false);
}

TEST(TvWindowModal, NullParentGivesNoShieldAndEndingStillFades) {
    TvWindow window;
    TvWindow::beginModalWindow(&window, nullptr, false);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(TvWindow::behindWindow(&window), nullptr);
    TvWindow::endModalWindow(&window);
    runSteps();
    EXPECT_FALSE(window.isVisible());
}

TEST(TvWindowModal, DestroyedModalWindowTakesTheShieldAndItsStepsAlong) {
    Parent parent;
    auto window = std::make_unique<TvWindow>();
    TvWindow::beginModalWindow(window.get(), &parent.window, false);
    window.reset();
    EXPECT_EQ(kdui::shieldWindow(&parent.window), nullptr);

    int runs = 0;
    auto fading = std::make_unique<TvWindow>();
    TvWindow::beginModalWindow(fading.get(), &parent.window, true, {}, [&] { ++runs; });
    TvWindow::endModalWindow(fading.get());
    fading.reset();
    runSteps();
    EXPECT_EQ(runs, 0);
}

TEST(TvWindowModal, ShieldPressClosesAPopoverOnlyWhileItMayClose) {
    Parent parent;
    Popover popover;
    TvWindow::beginModalWindow(&popover, &parent.window, false);
    QWidget* shield = kdui::shieldWindow(&parent.window);
    ASSERT_NE(shield, nullptr);
    click(shield);
    EXPECT_EQ(popover.resigned, 0);
    popover.setIsValidClose(true);
    click(shield);
    EXPECT_EQ(popover.resigned, 1);
    TvWindow::endModalWindow(&popover, false);
}

TEST(TvWindowModal, PopoverParentCannotCloseWhileAChildIsModalOverIt) {
    Popover parent;
    parent.setIsValidClose(true);
    parent.show();
    TvWindow child;
    TvWindow::beginModalWindow(&child, &parent, false);
    EXPECT_FALSE(parent.isValidClose());
    TvWindow::endModalWindow(&child);
    EXPECT_TRUE(parent.isValidClose());
    runSteps();
}

TEST(TvWindowFade, CloseBlockRunsOnceAfterAnAnimatedEndOnly) {
    Parent parent;
    int animated = 0, plain = 0;
    TvWindow window;
    TvWindow::beginModalWindow(&window, &parent.window, true, {}, [&] { ++animated; });
    runSteps();
    EXPECT_EQ(animated, 0);
    TvWindow::endModalWindow(&window);
    EXPECT_EQ(animated, 0);
    runSteps();
    runSteps();
    EXPECT_EQ(animated, 1);

    TvWindow other;
    TvWindow::beginModalWindow(&other, &parent.window, false, {}, [&] { ++plain; });
    TvWindow::endModalWindow(&other);
    runSteps();
    EXPECT_EQ(plain, 0);
}

TEST(TvWindowFade, OpacitiesAtBothEndsOfEachFade) {
    struct Case {
        bool flat;
        double resting;
    };
    for (const Case c : {Case{false, 1.0}, Case{true, 0.8}}) {
        SCOPED_TRACE(c.flat);
        std::unique_ptr<TvWindow> window = c.flat ? std::make_unique<TvFlatWindow>() : std::make_unique<TvWindow>();
        window->setBaseAlpha(0.8);
        window->resize(100, 60);
        double firstSeen = -1;
        QTimer::singleShot(0, [&] { firstSeen = window->windowOpacity(); });
        TvWindow::beginOpenWindow(window.get(), true);
        EXPECT_LT(firstSeen, 0.5);
        EXPECT_NEAR(window->windowOpacity(), c.resting, kOpacityStep);
        runSteps();
        EXPECT_NEAR(window->windowOpacity(), c.resting, kOpacityStep);

        TvWindow::endCloseWindow(window.get());
        EXPECT_NEAR(window->windowOpacity(), 0.0, kOpacityStep);
        EXPECT_TRUE(window->isVisible());
        runSteps();
        EXPECT_FALSE(window->isVisible());
        EXPECT_NEAR(window->windowOpacity(), 1.0, kOpacityStep);
    }
}

TEST(TvWindowFade, DefaultModePerformWaitsForTheBlockingFade) {
    kdui::installQtRunLoopDriver();
    TvWindow window;
    bool fading = true;
    bool ranDuringFade = false, ran = false;
    kdf::RunLoop::main().performAfterDelay(&window, "probe", kdf::Seconds(0), [&] {
        ran = true;
        ranDuringFade = fading;
    });
    TvWindow::beginOpenWindow(&window, true);
    fading = false;
    EXPECT_FALSE(ranDuringFade);
    runSteps();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(ranDuringFade);
}

TEST(TvWindowFocus, FocusedFieldBelowTheVisiblePartScrollsTopLeftFirst) {
    TvWindow window;
    auto* layout = new QVBoxLayout(&window);
    auto* area = new QScrollArea;
    layout->addWidget(area);
    auto* document = new QWidget;
    document->resize(200, 1000);
    auto* top = new QLineEdit(document);
    top->setGeometry(10, 10, 100, 24);
    auto* field = new QLineEdit(document);
    field->setGeometry(10, 600, 100, 24);
    area->setWidget(document);
    window.setScrollArea(area);
    window.resize(240, 150);
    window.show();
    window.activateWindow();
    QApplication::processEvents();
    top->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), top);
    EXPECT_EQ(area->verticalScrollBar()->value(), 0);
    field->setFocus();
    EXPECT_EQ(area->verticalScrollBar()->value(), 600);
}

TEST(TvFlatWindowContentView, PostsOnMoveEnterLeaveAndFollowsTheMouseWithAlpha) {
    TvFlatWindow window;
    window.setBaseAlpha(0.6);
    window.setWindowOpacity(0.6);
    auto* view = new TvFlatWindowContentView(&window, TvFlatWindowContentView::Panel);
    view->resize(100, 80);
    view->setIsChangeAlpha(true);
    int posts = 0;
    auto token = kdf::NotificationCenter::defaultCenter().addObserver(
        kMouseMovedInFlatWindowContentViewDidChange, [&](const kdf::Notification& n) {
            if (n.sender() == view) ++posts;
        });
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(view, &enter);
    EXPECT_NEAR(window.windowOpacity(), 1.0, kOpacityStep);
    QMouseEvent move(QEvent::MouseMove, QPointF(6, 6), QPointF(6, 6), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view, &leave);
    EXPECT_NEAR(window.windowOpacity(), 0.6, kOpacityStep);
    EXPECT_EQ(posts, 3);

    view->setIsChangeAlpha(false);
    QApplication::sendEvent(view, &enter);
    EXPECT_NEAR(window.windowOpacity(), 0.6, kOpacityStep);
}

TEST(ViewAnimationRun, FramesAndFadeEndExactlyAtTheirEndValues) {
    QWidget host;
    host.resize(400, 300);
    auto* a = new QWidget(&host);
    auto* b = new QWidget(&host);
    auto* c = new QWidget(&host);
    host.show();
    std::vector<kdui::ViewAnimation> list(3);
    list[0].target = a;
    list[0].startFrame = QRect(0, 0, 10, 10);
    list[0].endFrame = QRect(100, 50, 37, 21);
    list[1].target = b;
    list[1].startFrame = QRect(5, 5, 50, 50);
    list[1].endFrame = QRect(-20, 200, 3, 7);
    list[2].target = c;
    list[2].effect = kdui::ViewAnimation::Effect::FadeOut;
    kdui::runViewAnimations(list, 0.05, true);
    EXPECT_EQ(a->geometry(), QRect(100, 50, 37, 21));
    EXPECT_EQ(b->geometry(), QRect(-20, 200, 3, 7));
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(c->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.0);

    // Not blocking: back at once, at the start frame.
    list.resize(1);
    list[0].endFrame = QRect(200, 100, 40, 40);
    kdui::runViewAnimations(list, 10.0, false);
    EXPECT_EQ(a->geometry(), QRect(0, 0, 10, 10));
}

TEST(WindowNotifications, MiniaturiseAndDeminiaturiseArePostedForWindowsThatAsk) {
    QWidget window, other;
    kdui::setPostsWindowNotifications(&window, true);
    std::vector<std::string> posts;
    auto observe = [&](const char* name) {
        return kdf::NotificationCenter::defaultCenter().addObserver(name, [&posts](const kdf::Notification& n) {
            posts.emplace_back(n.name());
        });
    };
    auto will = observe(kdui::kWindowWillMiniaturizeNotification);
    auto did = observe(kdui::kWindowDidDeminiaturizeNotification);
    window.show();
    other.show();
    window.setWindowState(Qt::WindowMinimized);
    other.setWindowState(Qt::WindowMinimized);
    window.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(posts, (std::vector<std::string>{kdui::kWindowWillMiniaturizeNotification,
                                               kdui::kWindowDidDeminiaturizeNotification}));
    kdui::setPostsWindowNotifications(&window, false);
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(posts.size(), 2u);
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
