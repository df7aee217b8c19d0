// The popover: where it opens beside its anchor (fitted into the screen,
// re-aimed and flipped), how it closes (Escape, losing activation, a press
// on the parent's shield, each asking the application's check), and how its
// body and arrow are painted.
#include "KitTestSupport.h"
#include "TvPopoverWindow.h"

#include <foundation/RunLoop.h>
#include <ui/ModalShield.h>

#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kHighDensityCase = "KD_POPOVER_HIGH_DENSITY_CASE";

void runSteps() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        kdf::RunLoop::main().fireDue();
    }
    QApplication::processEvents();
}

const QRectF kScreen(0, 0, 800, 600);
const QSize kSize(200, 150); // room for the arrow: 99 down a side, 149 across

TEST(TvPopoverPlacement, OpensBesideTheAnchorFitsFlipsAndReAims) {
    struct Case {
        const char* what;
        QRectF anchor;
        QSize size;
        int requested;
        double offset;
        QRect frame;
        int edge;
        double value;
    };
    const QRectF mid(300, 200, 40, 20); // middle at (320, 210)
    const Case cases[] = {
        {"right of the anchor, arrow on the left", mid, kSize, 4, 10, {340, 175, 200, 150}, 0, 10},
        {"left of the anchor, arrow on the right", mid, kSize, 0, 10, {100, 95, 200, 150}, 4, 10},
        {"below the anchor, arrow on top", mid, kSize, 6, 10, {155, 220, 200, 150}, 2, 10},
        {"above the anchor, arrow at the bottom", mid, kSize, 2, 10, {285, 50, 200, 150}, 6, 10},
        {"a negative offset centres the arrow", mid, {200, 151}, 4, -1, {340, 135, 200, 151}, 0, 50},
        {"an offset past the side stops at its end", mid, kSize, 4, 500, {340, 86, 200, 150}, 0, 99},
        {"near the right edge: opens left, arrow on its right side", {700, 200, 40, 20}, kSize, 4, 10,
         {500, 175, 200, 150}, 4, 89},
        {"near the left edge: opens right", {50, 200, 40, 20}, kSize, 0, 10, {90, 95, 200, 150}, 0, 89},
        {"near the bottom edge: pushed up, the arrow moves down", {300, 560, 40, 20}, kSize, 4, 10,
         {340, 450, 200, 150}, 0, 95},
        {"near the top edge: the arrow stops at the side's start", {300, 5, 40, 20}, kSize, 4, 10,
         {340, 0, 200, 150}, 0, 0},
        {"below near the bottom edge: opens above", {300, 520, 40, 20}, kSize, 6, 10, {155, 370, 200, 150}, 6,
         139},
        {"above near the top edge: opens below", {300, 30, 40, 20}, kSize, 2, 10, {285, 50, 200, 150}, 2, 139},
        {"below near the right edge: pushed left, the arrow follows", {760, 200, 30, 20}, kSize, 6, 10,
         {600, 220, 200, 150}, 2, 0},
        {"corner 1 draws on top and is placed below", mid, kSize, 1, 10, {155, 220, 200, 150}, 1, 10},
        {"corner 7 draws on the left and is placed right", mid, kSize, 7, 10, {340, 175, 200, 150}, 7, 10},
        {"corner 3 near the left edge flips to corner 7", {50, 200, 40, 20}, kSize, 3, 10, {90, 95, 200, 150}, 7,
         89},
        {"an anchor off the screen: the other side, fitted", {820, 200, 40, 20}, kSize, 4, 10,
         {600, 175, 200, 150}, 4, 89},
        {"the smallest popover has no room to move its arrow", mid, {50, 50}, 4, 10, {340, 185, 50, 50}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TvPopoverPlacement p = TvPopoverWindow::placement(c.anchor, c.size, kScreen, c.requested, c.offset);
        EXPECT_EQ(p.frame, c.frame);
        EXPECT_EQ(p.rectEdge, c.edge);
        EXPECT_DOUBLE_EQ(p.valueFromCorner, c.value);
    }
}

// The arrow's middle on the screen: where the popover points.
QPointF arrowMiddle(const QRect& frame, int edge, double offset) {
    const double lead = TvPopoverWindowContentView::kInset + 15 + offset;
    switch (TvPopoverWindow::sideOfEdge(edge)) {
    case 0: return {double(frame.left()), frame.top() + lead};
    case 4: return {double(frame.left() + frame.width()), frame.top() + frame.height() - lead};
    case 2: return {frame.left() + frame.width() - lead, double(frame.top())};
    default: return {frame.left() + lead, double(frame.top() + frame.height())};
    }
}

TEST(TvPopoverPlacement, AFlippedArrowStillPointsAtTheAnchorsMiddle) {
    struct Case {
        int requested;
        QRectF anchor; // beside the edge the popover would cross
    };
    const Case cases[] = {{4, {760, 300, 20, 20}}, {0, {20, 300, 20, 20}}, {6, {400, 570, 20, 20}},
                          {2, {400, 10, 20, 20}},  {4, {400, 300, 20, 20}}, {6, {400, 300, 20, 20}}};
    for (const Case& c : cases) {
        for (double offset : {0.0, 30.0, 90.0}) {
            SCOPED_TRACE(testing::Message() << c.requested << " at " << c.anchor.x() << "," << c.anchor.y()
                                            << ", offset " << offset);
            const TvPopoverPlacement p = TvPopoverWindow::placement(c.anchor, kSize, kScreen, c.requested, offset);
            const QPointF at = arrowMiddle(p.frame, p.rectEdge, p.valueFromCorner);
            const QPointF middle = c.anchor.center();
            if (TvPopoverWindow::sideOfEdge(p.rectEdge) % 4 == 0)
                EXPECT_NEAR(at.y(), middle.y(), 1.0);
            else
                EXPECT_NEAR(at.x(), middle.x(), 1.0);
            EXPECT_FALSE(QRectF(p.frame).intersects(c.anchor));
            EXPECT_TRUE(kScreen.contains(QRectF(p.frame)));
        }
    }
}

// A parent window with a view holding the anchor, and a popover.
struct Scene {
    QWidget parent;
    QWidget* view = new QWidget(&parent);
    TvPopoverWindow popover;
    QWidget other;
    int closed = 0;

    Scene() {
        parent.setGeometry(100, 100, 400, 300);
        view->setGeometry(50, 40, 120, 80);
        popover.resize(200, 150);
        other.setGeometry(600, 400, 100, 100);
        parent.show();
        other.show();
        QApplication::processEvents();
    }
    ~Scene() {
        TvPopoverWindow::setCheckSettingValueHook({});
        TvWindow::endModalWindow(&popover, false);
    }
    void show(QRectF bounds = QRectF(10, 10, 20, 20)) {
        popover.showPopoverWindow(&parent, bounds, view, 4, 10, [this] { ++closed; });
        runSteps();
        popover.activateWindow();
        runSteps();
    }
    QRectF anchorOf(QRectF inView) const {
        return QRectF(QPointF(view->mapToGlobal(QPoint(0, 0))) + inView.topLeft(), inView.size());
    }
};

TEST(TvPopoverWindow, ShowsModallyBesideThePartOfTheAnchorInsideItsView) {
    struct Case {
        const char* what;
        QRectF bounds;
        QRectF anchor; // in the view
    };
    const Case cases[] = {
        {"inside", {10, 10, 20, 20}, {10, 10, 20, 20}},
        {"partly outside", {100, -20, 60, 40}, {100, 0, 20, 20}},
        {"wholly outside: the whole view", {300, 300, 10, 10}, {0, 0, 120, 80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        scene.show(c.bounds);
        const QRect visible = scene.view->screen()->availableGeometry();
        const TvPopoverPlacement expected =
            TvPopoverWindow::placement(scene.anchorOf(c.anchor), QSize(200, 150), QRectF(visible), 4, 10);
        EXPECT_EQ(scene.popover.geometry(), expected.frame);
        EXPECT_EQ(scene.popover.rectEdge(), expected.rectEdge);
        EXPECT_DOUBLE_EQ(scene.popover.valueFromCorner(), expected.valueFromCorner);
        EXPECT_TRUE(scene.popover.isValidClose());
        EXPECT_TRUE(scene.popover.isVisible());
        EXPECT_EQ(TvWindow::behindWindow(&scene.popover), &scene.parent);
        EXPECT_NE(kdui::shieldWindow(&scene.parent), nullptr);
        EXPECT_EQ(QApplication::activeWindow(), &scene.popover);
    }
}

enum class Hook { None, Accepts, Refuses, Throws };
enum class Trigger { Escape, Deactivation, ShieldPress };

void pressEscape(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

void pressOn(QWidget* widget) {
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

void trigger(Scene& scene, Trigger how) {
    switch (how) {
    case Trigger::Escape: pressEscape(&scene.popover); break;
    case Trigger::Deactivation: scene.other.activateWindow(); break;
    case Trigger::ShieldPress:
        // The window system moves the activation first, then the press
        // arrives on the shield: one check for both.
        scene.parent.activateWindow();
        QApplication::processEvents();
        pressOn(kdui::shieldWindow(&scene.parent));
        break;
    }
    runSteps();
}

TEST(TvPopoverWindow, ClosesOnlyWhenTheApplicationAcceptsItsSettings) {
    struct Case {
        Trigger how;
        Hook hook;
        bool closes;
    };
    const Case cases[] = {
        {Trigger::Escape, Hook::None, true},         {Trigger::Escape, Hook::Accepts, true},
        {Trigger::Escape, Hook::Refuses, false},     {Trigger::Escape, Hook::Throws, false},
        {Trigger::Deactivation, Hook::None, true},   {Trigger::Deactivation, Hook::Accepts, true},
        {Trigger::Deactivation, Hook::Refuses, false}, {Trigger::ShieldPress, Hook::Accepts, true},
        {Trigger::ShieldPress, Hook::Refuses, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "trigger " << int(c.how) << ", hook " << int(c.hook));
        Scene scene;
        std::vector<QObject*> senders;
        if (c.hook != Hook::None)
            TvPopoverWindow::setCheckSettingValueHook(
                [&, hook = c.hook](QObject* sender, const std::shared_ptr<PanelModel>& model) {
                    senders.push_back(sender);
                    EXPECT_EQ(model, nullptr);
                    if (hook == Hook::Throws) throw std::runtime_error("check failed");
                    return hook == Hook::Accepts;
                });
        scene.show();
        trigger(scene, c.how);
        runSteps();
        if (c.hook != Hook::None) {
            EXPECT_EQ(senders, std::vector<QObject*>{&scene.popover});
        }
        if (c.closes) {
            EXPECT_FALSE(scene.popover.isVisible());
            EXPECT_EQ(TvWindow::behindWindow(&scene.popover), nullptr);
            EXPECT_EQ(kdui::shieldWindow(&scene.parent), nullptr);
            EXPECT_EQ(scene.closed, 1);
        } else {
            EXPECT_TRUE(scene.popover.isVisible());
            EXPECT_EQ(TvWindow::behindWindow(&scene.popover), &scene.parent);
            EXPECT_EQ(QApplication::activeWindow(), &scene.popover);
            EXPECT_EQ(scene.closed, 0);
        }
    }
}

TEST(TvPopoverWindow, StaysWhileAWindowIsModalOverItOrBeforeItMayClose) {
    Scene scene;
    int checks = 0;
    TvPopoverWindow::setCheckSettingValueHook([&](QObject*, const std::shared_ptr<PanelModel>&) {
        ++checks;
        return true;
    });
    scene.show();
    TvWindow child;
    child.resize(80, 60);
    TvWindow::beginModalWindow(&child, &scene.popover, false);
    EXPECT_FALSE(scene.popover.isValidClose());
    trigger(scene, Trigger::ShieldPress);
    trigger(scene, Trigger::Deactivation);
    scene.popover.resignKeyWindow();
    EXPECT_EQ(checks, 0);
    EXPECT_TRUE(scene.popover.isVisible());

    // Once the child has gone, a press on the parent's shield closes it.
    TvWindow::endModalWindow(&child);
    runSteps();
    EXPECT_TRUE(scene.popover.isValidClose());
    trigger(scene, Trigger::ShieldPress);
    EXPECT_EQ(checks, 1);
    EXPECT_FALSE(scene.popover.isVisible());
}

TEST(TvPopoverWindow, AnAlertOverThePopoverIsNoClickOutside) {
    Scene scene;
    int checks = 0;
    TvPopoverWindow::setCheckSettingValueHook([&](QObject*, const std::shared_ptr<PanelModel>&) {
        ++checks;
        return true;
    });
    scene.show();
    QDialog alert;
    alert.resize(120, 80);
    bool popoverWasActive = true;
    QTimer::singleShot(0, [&] {
        runSteps();
        popoverWasActive = scene.popover.isActiveWindow();
        alert.accept();
    });
    alert.exec();
    EXPECT_FALSE(popoverWasActive);
    EXPECT_EQ(checks, 0);
    EXPECT_TRUE(scene.popover.isVisible());
}

// --- Painting.

QImage paint(QWidget& view) {
    QImage image = kittest::canvas(view.size());
    // The body alone, without the window's background.
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

TEST(TvPopoverWindowContentView, WhiteBodyGreyStrokeAndTheArrowOnItsSide) {
    struct Case {
        int edge;
        QPoint tip;     // just inside the arrow's tip
        QPoint outside; // beside the tip, outside the arrow
    };
    // 200 x 150: the body from 10.5 to 189.5 and 139.5; offset 20 puts the
    // arrow's middle 35 along its side from the side's start.
    const Case cases[] = {
        {0, {2, 45}, {2, 30}},     // left side, from the top
        {4, {197, 104}, {197, 120}}, // right side, from the bottom
        {2, {154, 2}, {170, 2}},   // top side, from the right
        {6, {45, 147}, {30, 147}}, // bottom side, from the left
        {5, {45, 147}, {30, 147}}, // a corner draws on the side after it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edge);
        TvPopoverWindowContentView view;
        view.resize(200, 150);
        view.setRectEdge(c.edge);
        view.setValueFromCorner(20);
        const QImage image = paint(view);
        EXPECT_EQ(kittest::rgbAt(image, 100, 75), 0xFFFFFFu);
        EXPECT_EQ(kittest::rgbAt(image, 100, 10), 0x959595u);
        EXPECT_EQ(image.pixel(100, 5), kittest::kBackdrop);
        EXPECT_NE(image.pixel(c.tip.x(), c.tip.y()), kittest::kBackdrop);
        EXPECT_EQ(image.pixel(c.outside.x(), c.outside.y()), kittest::kBackdrop);
    }
}

TEST(TvPopoverWindowContentView, InAPopoverDrawsWithTheWindowsSideAndOffset) {
    TvPopoverWindow popover;
    popover.resize(200, 150);
    popover.contentView()->setRectEdge(2);
    popover.setRectEdge(0);
    popover.setValueFromCorner(20);
    EXPECT_EQ(popover.contentView()->rectEdge(), 0);
    EXPECT_DOUBLE_EQ(popover.contentView()->valueFromCorner(), 20);
    // Hidden, the popover's resize already reaches its body: callers lay
    // their controls out (and mirror them) before the popover is shown.
    EXPECT_EQ(popover.contentView()->insetFrame(), QRectF(10.5, 10.5, 179, 129));
    const QImage image = paint(popover);
    EXPECT_NE(image.pixel(2, 45), kittest::kBackdrop);
    EXPECT_EQ(image.pixel(2, 2), kittest::kBackdrop);
    // The smallest popover still draws a closed body.
    popover.resize(10, 10);
    EXPECT_EQ(popover.size(), QSize(50, 50));
    EXPECT_EQ(kittest::rgbAt(paint(popover), 25, 25), 0xFFFFFFu);
}

// --- A high-density screen, in a process of its own.

// The popover points at the anchor's place in Qt's device-independent
// coordinates, whatever the screen's scale.
int highDensityCase(int argc, char** argv) {
    QApplication app(argc, argv);
    if (QGuiApplication::primaryScreen()->devicePixelRatio() < 2) return 2;
    QWidget parent;
    parent.setGeometry(40, 30, 300, 200);
    auto* view = new QWidget(&parent);
    view->setGeometry(20, 20, 100, 60);
    parent.show();
    QApplication::processEvents();
    TvPopoverWindow popover;
    popover.resize(100, 80);
    popover.showPopoverWindow(&parent, QRectF(10, 10, 20, 20), view, 4, 0);
    const QPoint at = view->mapToGlobal(QPoint(10, 10));
    const QRect expected(at.x() + 20, at.y() + 10 - 25, 100, 80);
    const bool ok = popover.geometry() == expected;
    if (!ok)
        std::fprintf(stderr, "popover at %d,%d; expected %d,%d\n", popover.x(), popover.y(), expected.x(),
                     expected.y());
    TvWindow::endModalWindow(&popover, false);
    return ok ? 0 : 1;
}

TEST(TvPopoverWindow, PointsAtTheAnchorOnAHighDensityScreen) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) vars.emplace_back(*e);
    vars.push_back(std::string(kHighDensityCase) + "=1");
    vars.push_back("QT_SCALE_FACTOR=2");
    std::vector<char*> env;
    for (std::string& v : vars) env.push_back(v.data());
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(self.c_str()), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, env.data()), 0);
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < 20 * 60 && !ended; ++waited) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the case hung";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv(kHighDensityCase)) {
        ::unsetenv(kHighDensityCase);
        return highDensityCase(argc, argv);
    }
    return kittest::runKitTests(argc, argv);
}
