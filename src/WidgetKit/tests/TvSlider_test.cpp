#include "KitTestSupport.h"
#include "TvBackgroundViews.h"
#include "TvNotifications.h"
#include "TvSlider.h"

#include <foundation/NotificationCenter.h>

#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QScrollArea>

#include <clocale>
#include <functional>
#include <optional>

namespace {

// A polished slider 228 wide (the knob travels 200) in the current
// direction.
struct Slider {
    Slider(double min, double max) {
        slider.resize(228, 28);
        slider.setMinValue(min);
        slider.setMaxValue(max);
        slider.ensurePolished();
    }
    TvSlider slider;
};

struct ValueCase {
    bool rtl;
    double min, max;
    std::function<void(TvSlider&)> set;
    double stored;
    double logical;
    int knobX;
};

TEST(TvSlider, MirrorsOnlyInRightToLeftLayout) {
    const ValueCase cases[] = {
        {true, 0, 100, [](TvSlider& s) { s.setIntValue(30); }, 70, 30, 140},
        {false, 0, 100, [](TvSlider& s) { s.setIntValue(30); }, 30, 30, 60},
        {true, 10, 20, [](TvSlider& s) { s.setDoubleValue(12.5); }, 17.5, 12.5, 150},
        {false, 10, 20, [](TvSlider& s) { s.setDoubleValue(12.5); }, 12.5, 12.5, 50},
        {true, 0, 100, [](TvSlider& s) { s.setFloatValue(25.25f); }, 74.75, 25.25, 150},
        {true, -50, 50, [](TvSlider& s) { s.setIntegerValue(-20); }, 20, -20, 140},
        {true, 0, 100, [](TvSlider& s) { s.setStringValue(QStringLiteral("40")); }, 60, 40, 120},
        // Clamped to the range, then mirrored.
        {true, 0, 100, [](TvSlider& s) { s.setDoubleValue(130); }, 0, 100, 0},
        {false, 0, 100, [](TvSlider& s) { s.setDoubleValue(-5); }, 0, 0, 0},
    };
    for (const ValueCase& c : cases) {
        std::optional<kittest::RightToLeft> rtl;
        if (c.rtl) rtl.emplace();
        Slider s(c.min, c.max);
        EXPECT_EQ(s.slider.isLTR(), !c.rtl);
        c.set(s.slider);
        EXPECT_DOUBLE_EQ(s.slider.storedValue(), c.stored) << c.min << "-" << c.max << (c.rtl ? " rtl" : " ltr");
        EXPECT_DOUBLE_EQ(s.slider.doubleValue(), c.logical);
        EXPECT_EQ(s.slider.knobRect(), QRect(c.knobX, 0, 28, 28));
        EXPECT_EQ(s.slider.layoutDirection(), Qt::LeftToRight) << "Qt adds no inversion";
    }
}

TEST(TvSlider, IntAccessorsRoundTheMirroredValueToNearest) {
    kittest::RightToLeft rtl;
    Slider s(0, 100);
    const std::pair<double, int> cases[] = {{30.4, 30}, {30.6, 31}, {69.5, 70}, {0.2, 0}};
    for (auto [value, rounded] : cases) {
        s.slider.setDoubleValue(value);
        EXPECT_EQ(s.slider.intValue(), rounded) << value;
        EXPECT_EQ(s.slider.integerValue(), rounded) << value;
        EXPECT_FLOAT_EQ(s.slider.floatValue(), float(value));
    }
}

TEST(TvSlider, AFormsValueIsSetAgainMirroredAtLoading) {
    kittest::RightToLeft rtl;
    TvSlider slider; // as a form builds it: values first, polished later
    slider.resize(228, 28);
    slider.setMinValue(0);
    slider.setMaxValue(100);
    slider.setDoubleValue(20);
    EXPECT_DOUBLE_EQ(slider.storedValue(), 20);
    slider.ensurePolished();
    EXPECT_DOUBLE_EQ(slider.storedValue(), 80) << "the knob stands mirrored";
    EXPECT_DOUBLE_EQ(slider.doubleValue(), 20) << "the value read back is the form's";
}

TEST(TvSlider, StringsUseTheCLocaleBothWays) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string savedNumeric = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // where installed: a decimal comma
    Slider s(0, 100);
    const std::pair<const char*, double> cases[] = {
        {"17.25", 17.25}, {"  8.5", 8.5}, {"+3", 3}, {"12,5", 12}, {"42abc", 42}, {"abc", 0}, {"", 0}, {"1e1", 10},
    };
    for (auto [text, value] : cases) {
        s.slider.setStringValue(QString::fromLatin1(text));
        EXPECT_DOUBLE_EQ(s.slider.doubleValue(), value) << text;
    }
    s.slider.setDoubleValue(12.5);
    EXPECT_EQ(s.slider.stringValue(), QStringLiteral("12.500000"));
    std::setlocale(LC_NUMERIC, savedNumeric.c_str());
    QLocale::setDefault(saved);
}

void press(QWidget& w, int key, Qt::KeyboardModifiers mods) {
    QKeyEvent event(QEvent::KeyPress, key, mods);
    QCoreApplication::sendEvent(&w, &event);
}

TEST(TvSlider, ArrowKeysStepByTheAlternateIncrement) {
    for (bool mirrored : {false, true}) {
        std::optional<kittest::RightToLeft> rtl;
        if (mirrored) rtl.emplace();
        Slider s(0, 100);
        s.slider.setAltIncrementValue(5);
        s.slider.setDoubleValue(50);
        const double towardsRight = mirrored ? -5 : 5; // the knob moves right: the logical value down
        const std::pair<Qt::KeyboardModifiers, double> steps[] = {
            {Qt::NoModifier, 1}, {Qt::ShiftModifier, 1}, {Qt::AltModifier, 1}, {Qt::ControlModifier, 1}};
        double expected = 50;
        for (auto [mods, sign] : steps) {
            press(s.slider, Qt::Key_Right, mods);
            expected += sign * towardsRight;
            EXPECT_DOUBLE_EQ(s.slider.doubleValue(), expected) << "modifiers " << mods << (mirrored ? " rtl" : "");
        }
        press(s.slider, Qt::Key_Left, Qt::ShiftModifier);
        EXPECT_DOUBLE_EQ(s.slider.doubleValue(), expected - towardsRight);
    }
}

void mouse(QWidget& w, QEvent::Type type, QPoint p) {
    QMouseEvent event(type, QPointF(p), QPointF(w.mapToGlobal(p)), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

TEST(TvSlider, DraggingTheKnobTheUserSees) {
    for (bool mirrored : {false, true}) {
        std::optional<kittest::RightToLeft> rtl;
        if (mirrored) rtl.emplace();
        Slider s(0, 100);
        s.slider.setDoubleValue(mirrored ? 100 : 0); // knob at the left end
        ASSERT_EQ(s.slider.knobRect().x(), 0);
        mouse(s.slider, QEvent::MouseButtonPress, QPoint(14, 14));
        EXPECT_TRUE(s.slider.isSliderDown()) << "the press hit the drawn knob";
        mouse(s.slider, QEvent::MouseMove, QPoint(64, 14));
        mouse(s.slider, QEvent::MouseButtonRelease, QPoint(64, 14));
        EXPECT_EQ(s.slider.knobRect().x(), 50);
        EXPECT_NEAR(s.slider.doubleValue(), mirrored ? 75 : 25, 0.01);
    }
}

TEST(TvSlider, AnEmptyRangeKeepsTheKnobAtTheStart) {
    for (bool mirrored : {false, true}) {
        std::optional<kittest::RightToLeft> rtl;
        if (mirrored) rtl.emplace();
        for (auto [min, max] : {std::pair{5.0, 5.0}, std::pair{10.0, 0.0}}) {
            Slider s(min, max);
            s.slider.setDoubleValue(7);
            EXPECT_EQ(s.slider.knobRect(), QRect(0, 0, 28, 28));
            EXPECT_DOUBLE_EQ(s.slider.storedValue(), min);
            QImage image(s.slider.size(), QImage::Format_ARGB32);
            s.slider.render(&image); // paints without dividing by zero
        }
    }
}

TEST(TvSlider, DrawsBarAndKnobAtTheirPlaces) {
    Slider s(0, 100);
    s.slider.setIntValue(50);
    QImage image(s.slider.size(), QImage::Format_ARGB32);
    image.fill(kittest::kBackdrop);
    s.slider.render(&image);
    EXPECT_EQ(s.slider.barRect(), QRect(14, 13, 200, 2));
    EXPECT_EQ(kittest::rgbAt(image, 20, 13), 0x333333u) << "bar";
    EXPECT_EQ(kittest::rgbAt(image, 20, 12), kittest::rgbAt(image, 20, 3)) << "2 high";
    EXPECT_EQ(kittest::rgbAt(image, 100 + 3, 14), 0xFFFFFFu) << "knob ring at x 100";
    EXPECT_EQ(kittest::rgbAt(image, 100 + 14, 14), 0x333333u) << "knob centre";
}

TEST(TvScroller, EightPixelsThickAtEverySize) {
    for (int size : {0, 1, 2, 3})
        for (int style : {0, 1})
            EXPECT_EQ(TvScroller::scrollerWidthForControlSize(size, style), 8.0);
    for (int pixels : {8, 13, 24}) {
        TvScroller vertical(Qt::Vertical);
        QFont font = vertical.font();
        font.setPixelSize(pixels);
        vertical.setFont(font);
        EXPECT_EQ(vertical.sizeHint().width(), 8) << pixels;
        TvScroller horizontal(Qt::Horizontal);
        horizontal.setFont(font);
        EXPECT_EQ(horizontal.sizeHint().height(), 8) << pixels;
    }
    QScrollArea area;
    area.resize(100, 100);
    area.setVerticalScrollBar(new TvScroller);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(area.verticalScrollBar()->width(), 8);
}

TEST(TvScroller, KnobSlotIsInsetAtBothEnds) {
    TvScroller vertical(Qt::Vertical);
    vertical.resize(8, 100);
    vertical.setRange(0, 100);
    vertical.setPageStep(100);
    EXPECT_EQ(vertical.slotRect(), QRect(0, 2, 8, 96));
    vertical.setValue(0);
    EXPECT_EQ(vertical.knobRect(), QRect(0, 2, 8, 48));
    vertical.setValue(100);
    EXPECT_EQ(vertical.knobRect(), QRect(0, 50, 8, 48));
    TvScroller horizontal(Qt::Horizontal);
    horizontal.resize(60, 8);
    EXPECT_TRUE(horizontal.isHoriz());
    EXPECT_EQ(horizontal.slotRect(), QRect(2, 0, 56, 8));
}

TEST(TvScroller, PaintsOnTheNearestAncestorsBackground) {
    TvColoedView coloured;
    coloured.setColor(QColor(0x3E, 0x3E, 0x3E));
    QWidget filled;
    filled.setAutoFillBackground(true);
    QPalette palette = filled.palette();
    palette.setColor(QPalette::Window, QColor(0x10, 0x20, 0x30));
    filled.setPalette(palette);
    auto* plainInFilled = new QWidget(&filled);
    QWidget plain;
    const std::pair<QWidget*, std::uint32_t> cases[] = {
        {&coloured, 0x3E3E3Eu}, {plainInFilled, 0x102030u}, {&plain, kittest::kBackdrop & 0xFFFFFFu}};
    for (auto [parent, expected] : cases) {
        for (int style : {0, 1, 2}) {
            auto* scroller = new TvScroller(Qt::Vertical, parent);
            scroller->setScrollerStyle(style);
            scroller->resize(8, 60);
            scroller->setRange(0, 0);
            QImage image = kittest::canvas(scroller->size());
            scroller->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
            EXPECT_EQ(kittest::rgbAt(image, 4, 0), expected) << "outside the slot, style " << style;
            const std::uint32_t slot[] = {0xF7F7F7, 0xFFFFFF, 0xE9E9E9};
            EXPECT_EQ(kittest::rgbAt(image, 4, 30), slot[style]) << "the slot, style " << style;
            delete scroller;
        }
    }
}

TEST(TvScroller, PostsOnceEachTimeTheScrollAreaShowsOrHidesIt) {
    QScrollArea area;
    auto* bar = new TvScroller;
    area.setVerticalScrollBar(bar);
    auto* content = new QWidget;
    content->resize(50, 50);
    area.setWidget(content);
    area.resize(100, 100);
    std::vector<const void*> senders;
    kdf::ObserverToken token = kdf::NotificationCenter::defaultCenter().addObserver(
        kScrollerHideDidChange, [&](const kdf::Notification& n) { senders.push_back(n.sender()); });
    area.show();
    QCoreApplication::processEvents();
    senders.clear();
    for (int round = 0; round < 2; ++round) {
        content->resize(50, 300);
        QCoreApplication::processEvents();
        EXPECT_TRUE(bar->isVisible());
        EXPECT_EQ(senders, std::vector<const void*>{&area}) << "shown, round " << round;
        senders.clear();
        content->resize(50, 40);
        QCoreApplication::processEvents();
        EXPECT_FALSE(bar->isVisible());
        EXPECT_EQ(senders, std::vector<const void*>{&area}) << "hidden, round " << round;
        senders.clear();
    }
    TvScroller loose; // in no scroll area: nothing to tell
    loose.show();
    loose.hide();
    EXPECT_TRUE(senders.empty());
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
