#include "KitTestSupport.h"
#include "TvBackgroundViews.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include <cmath>
#include <functional>
#include <memory>

using kittest::rgbAt;

namespace {

QImage grabbed(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// A plain white window that counts the presses reaching it.
class Window : public QWidget {
public:
    Window() {
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, Qt::white);
        setPalette(p);
        resize(200, 100);
    }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

void press(QWidget* target, QPoint at = {5, 5}) {
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(at), target->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Every view paints its type over its whole bounds.
TEST(BackgroundViews, EachViewPaintsItsType) {
    struct Row {
        const char* name;
        std::function<QWidget*(QWidget*)> make;
        unsigned type;
    } const rows[] = {
        {"Top_StepHeaderView", [](QWidget* p) { return new Top_StepHeaderView(p); }, 1},
        {"Top_FavoritHeaderView", [](QWidget* p) { return new Top_FavoritHeaderView(p); }, 2},
        {"Top_StepScan_BaseView", [](QWidget* p) { return new Top_StepScan_BaseView(p); }, 3},
        {"Top_FavoritScan_BaseView", [](QWidget* p) { return new Top_FavoritScan_BaseView(p); }, 4},
        {"Scan_SeparateView", [](QWidget* p) { return new Scan_SeparateView(p); }, 6},
        {"Scan_ImageProc_HeaderView", [](QWidget* p) { return new Scan_ImageProc_HeaderView(p); }, 7},
        {"Scan_ImageProc_BaseView", [](QWidget* p) { return new Scan_ImageProc_BaseView(p); }, 8},
        {"Scan_InfoView", [](QWidget* p) { return new Scan_InfoView(p); }, 9},
        {"EditImage_ShrinkView", [](QWidget* p) { return new EditImage_ShrinkView(p); }, 10},
        {"EditImage_Header_BackView", [](QWidget* p) { return new EditImage_Header_BackView(p); }, 11},
        {"EditImage_ContentView", [](QWidget* p) { return new EditImage_ContentView(p); }, 12},
        {"TvSettingGridView", [](QWidget* p) { return new TvSettingGridView(p); }, 13},
    };
    for (const Row& row : rows) {
        Window window;
        QWidget* view = row.make(&window);
        view->setGeometry(0, 0, 200, 40);
        const QImage got = grabbed(window).copy(0, 0, 200, 40);
        QImage want = QImage(200, 40, QImage::Format_ARGB32);
        want.fill(Qt::white);
        {
            QPainter p(&want);
            TvUI::drawRectForView(p, QRectF(0, 0, 200, 40), row.type);
        }
        EXPECT_EQ(got, want) << row.name;
    }
}

// The two layer-backed headers: their type above a 2-row strip of black at
// alpha 0.09 over what lies beneath.
TEST(BackgroundViews, HeaderStrip) {
    for (int which = 0; which < 2; ++which) {
        Window window;
        QWidget* header = which ? static_cast<QWidget*>(new Scan_HeaderView(&window)) : new Top_HeaderView(&window);
        header->setGeometry(0, 0, 100, 20);
        const QImage image = grabbed(window);
        EXPECT_EQ(rgbAt(image, 50, 0), 0x3E3E3Eu) << which;
        EXPECT_EQ(rgbAt(image, 50, 17), 0x3E3E3Eu) << which;
        for (int y : {18, 19}) {
            const int grey = qRed(image.pixel(50, y));
            EXPECT_NEAR(grey, 255 * 0.91, 1.0) << which << " row " << y;
            EXPECT_EQ(rgbAt(image, 50, y), std::uint32_t(grey * 0x010101)) << which;
        }
        EXPECT_EQ(rgbAt(image, 50, 20), 0xFFFFFFu) << which;
    }
}

TEST(BackgroundViews, HeaderForwardsClicksToTheFirstEnabledButton) {
    struct Case {
        bool firstEnabled, secondEnabled;
        int firstClicks, secondClicks;
    } const cases[] = {{true, true, 1, 0}, {false, true, 0, 1}, {false, false, 0, 0}};
    for (const Case& c : cases) {
        Window window;
        auto* header = new Top_StepHeaderView(&window);
        header->setGeometry(0, 0, 200, 30);
        auto* first = new QPushButton(&window);
        auto* second = new QPushButton(&window);
        first->setEnabled(c.firstEnabled);
        second->setEnabled(c.secondEnabled);
        int firstClicks = 0, secondClicks = 0;
        QObject::connect(first, &QPushButton::clicked, [&] { ++firstClicks; });
        QObject::connect(second, &QPushButton::clicked, [&] { ++secondClicks; });
        header->setRelatedViews(first, second);
        press(header);
        EXPECT_EQ(firstClicks, c.firstClicks);
        EXPECT_EQ(secondClicks, c.secondClicks);
        EXPECT_EQ(window.presses, 0) << "the header takes the click";
    }
    Window window;
    auto* header = new Top_FavoritHeaderView(&window);
    press(header); // no buttons: nothing
}

struct Grid {
    Window window;
    TvSettingGridView* grid = new TvSettingGridView(&window);
    QLabel* label = new QLabel(grid);
    QPushButton* button = new QPushButton(grid);

    Grid(const QString& text, int labelHeight, int gridHeight) {
        grid->setGeometry(10, 20, 300, gridHeight);
        label->setText(text);
        label->setGeometry(8, 4, 140, labelHeight);
        button->setGeometry(200, 4, 80, 22);
    }
    int needed() const {
        return QFontMetrics(label->font())
            .boundingRect(QRect(0, 0, label->width() - 4, 1 << 20), int(Qt::TextWordWrap | Qt::AlignTop), label->text())
            .height();
    }
};

TEST(SettingGrid, GrowsAndCentresItsRightColumn) {
    Grid g(QStringLiteral("Remove blank pages from the scanned batch before saving them"), 20, 30);
    const int needed = g.needed();
    ASSERT_GT(needed, 40) << "the text wraps to several lines";
    g.grid->performLayout();
    EXPECT_TRUE(g.label->wordWrap());
    EXPECT_EQ(g.label->height(), needed);
    EXPECT_EQ(g.grid->geometry(), QRect(10, 20, 300, 30 + needed - 20)) << "origin and width kept";
    EXPECT_EQ(g.button->y(), int(std::floor((g.grid->height() - 22) * 0.5)));
    EXPECT_EQ(g.label->pos(), QPoint(8, 4));
}

TEST(SettingGrid, ShrinksTheTextOnly) {
    Grid g(QStringLiteral("Short"), 100, 120);
    g.grid->performLayout();
    EXPECT_EQ(g.label->height(), g.needed());
    EXPECT_LT(g.label->height(), 100);
    EXPECT_EQ(g.grid->height(), 120);
    EXPECT_EQ(g.button->geometry(), QRect(200, 4, 80, 22));
}

TEST(SettingGrid, NothingWhenTheLeftmostIsNoLabel) {
    Grid g(QStringLiteral("Remove blank pages from the scanned batch before saving them"), 20, 30);
    g.button->move(2, 4);
    g.grid->performLayout();
    EXPECT_EQ(g.grid->height(), 30);
    EXPECT_EQ(g.label->height(), 20);
}

TEST(ColoredView, FillsWithItsColour) {
    Window window;
    auto* view = new TvColoedView(&window);
    view->setGeometry(0, 0, 50, 50);
    EXPECT_EQ(rgbAt(grabbed(window), 25, 25), 0x000000u);
    view->setColor(TvUI::colorWithDeviceRGB(0x36AB8B));
    EXPECT_EQ(rgbAt(grabbed(window), 25, 25), 0x36AB8Bu);
    EXPECT_EQ(rgbAt(grabbed(window), 49, 49), 0x36AB8Bu);
}

TEST(ColoredView, WrapModeCatchesClicksAndKeepsTheFocus) {
    Window window;
    auto* field = new QLineEdit(&window);
    field->setGeometry(0, 60, 100, 20);
    auto* overlay = new TvColoedView(&window);
    overlay->setGeometry(0, 0, 200, 50);
    window.show();
    window.activateWindow();
    QApplication::processEvents();

    // Outside wrap mode a press goes on to the window.
    press(overlay);
    EXPECT_EQ(window.presses, 1);

    overlay->setWrapMode(true);
    QApplication::processEvents();
    EXPECT_TRUE(overlay->hasFocus());
    press(overlay); // no block: swallowed silently
    EXPECT_EQ(window.presses, 1);
    int clicks = 0;
    overlay->setClickActionBlock([&] { ++clicks; });
    press(overlay);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(window.presses, 1);

    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(overlay, &tab);
    QApplication::processEvents();
    EXPECT_TRUE(overlay->hasFocus()) << "Tab goes nowhere";
    field->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(overlay->hasFocus()) << "the focus cannot leave it";

    overlay->setWrapMode(false);
    field->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(field->hasFocus());
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
