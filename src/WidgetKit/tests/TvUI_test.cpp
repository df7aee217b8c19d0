#include "KitTestSupport.h"
#include "TvUI.h"

#include <foundation/Bundle.h>

#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>

#include <filesystem>
#include <functional>

using namespace TvUI;
using kittest::canvas;
using kittest::kBackdrop;
using kittest::rgbAt;

namespace {

using Draw = std::function<void(QPainter&, const QRectF&)>;

struct Sample {
    int x, y;
    std::uint32_t rgb;
};

struct PixelRow {
    const char* name;
    QSize size;
    Draw draw;
    std::vector<Sample> ltr;
    std::vector<Sample> rtl; // checked in right-to-left layout; empty: not checked
    int tolerance = 0;       // per channel, for samples on curves
};

constexpr std::uint32_t kNone = kBackdrop & 0xFFFFFF;

Draw push(int style, std::uint32_t flags) {
    return [=](QPainter& p, const QRectF& r) {
        drawColoredPushButtonWithFrame(p, r, QStringLiteral("Scan"), flags | styleFlags(style));
    };
}
Draw segment(std::uint32_t flags) {
    return [=](QPainter& p, const QRectF& r) { drawSegmentWithFrame(p, r, QStringLiteral("A"), flags); };
}
Draw knob(std::uint32_t flags) {
    return [=](QPainter& p, const QRectF& r) { drawSliderKnobWithFrame(p, r, flags); };
}
Draw bar(std::uint32_t flags) {
    return [=](QPainter& p, const QRectF& r) { drawSliderBarWithFrame(p, r, flags); };
}
Draw scroller(bool isKnob, int style) {
    return [=](QPainter& p, const QRectF& r) { drawScrollerWithFrame(p, r, isKnob, styleFlags(style)); };
}
Draw background(unsigned type) {
    return [=](QPainter& p, const QRectF& r) { drawRectForView(p, r, type); };
}
Draw arrow(std::uint32_t flags) {
    return [=](QPainter& p, const QRectF& r) { drawArrowButtonWithFrame(p, r, QString(), flags); };
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
    return true;
}

const QSize kButton(100, 36), kSegment(80, 24), kKnob(20, 20), kBar(120, 20), kBg(200, 40);

// (function, flags, size, point, colour): the colours and geometry of every
// draw function.
const std::vector<PixelRow>& pixelTable() {
    static const std::vector<PixelRow> rows{
        // Coloured push buttons: stroke on the edge pixels, fill inside.
        {"push 0 normal", kButton, push(0, 0), {{0, 18, 0xA3A3A3}, {50, 0, 0xA3A3A3}, {3, 18, 0xFFFFFF}}, {}},
        {"push 0 pressed", kButton, push(0, kFlagHighlighted), {{0, 18, 0xA3A3A3}, {3, 18, 0xDFDFDF}}, {}},
        {"push 0 disabled", kButton, push(0, kFlagDisabled), {{0, 18, 0xDDDDDD}, {3, 18, 0xFFFFFF}}, {}},
        {"push 0 focused", kButton, push(0, kFlagFocused), {{0, 18, 0xFFA200}, {99, 18, 0xFFA200}}, {}},
        {"push 1 normal", kButton, push(1, 0), {{0, 18, 0x545454}, {3, 18, 0x616161}, {50, 35, 0x545454}}, {}},
        {"push 1 pressed", kButton, push(1, kFlagHighlighted), {{0, 18, 0x2E2E2E}, {3, 18, 0x3E3E3E}}, {}},
        {"push 1 disabled", kButton, push(1, kFlagDisabled), {{0, 18, 0xB1B1B1}, {3, 18, 0xBFBFBF}}, {}},
        {"push 1 focused", kButton, push(1, kFlagFocused), {{0, 18, 0xFFA200}, {3, 18, 0x616161}}, {}},
        {"push 1 disabled wins over focus", kButton, push(1, kFlagDisabled | kFlagFocused),
         {{0, 18, 0xB1B1B1}, {3, 18, 0xBFBFBF}}, {}},
        {"push 2 normal", kButton, push(2, 0), {{0, 18, 0x36AB8B}, {3, 18, 0x60B699}}, {}},
        {"push 2 pressed", kButton, push(2, kFlagHighlighted), {{0, 18, 0x2B896F}, {3, 18, 0x419C7D}}, {}},
        {"push 2 disabled", kButton, push(2, kFlagDisabled), {{0, 18, 0xAECCC4}, {3, 18, 0xC3D4CE}}, {}},
        {"push 3 normal", kButton, push(3, 0), {{0, 18, 0x545454}, {3, 18, 0x616161}}, {}},
        {"push 3 pressed", kButton, push(3, kFlagHighlighted), {{0, 18, 0x2E2E2E}, {3, 18, 0x3E3E3E}}, {}},
        {"push rounded corner", kButton, push(0, 0), {{0, 0, kNone}, {99, 35, kNone}}, {}},
        // Segments: the first and last have rounded leading and trailing ends.
        {"segment first", kSegment, segment(kFlagFirstSegment),
         {{0, 0, kNone}, {79, 0, 0xA3A3A3}, {0, 12, 0xA3A3A3}, {3, 12, 0xFFFFFF}},
         {{0, 0, 0xA3A3A3}, {79, 0, kNone}}},
        {"segment middle", kSegment, segment(0), {{0, 0, 0xA3A3A3}, {79, 23, 0xA3A3A3}}, {{0, 0, 0xA3A3A3}}},
        {"segment last", kSegment, segment(kFlagLastSegment), {{0, 0, 0xA3A3A3}, {79, 0, kNone}},
         {{0, 0, kNone}, {79, 0, 0xA3A3A3}}},
        {"segment on", kSegment, segment(kFlagOn), {{3, 12, 0xDFDFDF}}, {}},
        {"segment pressed", kSegment, segment(kFlagHighlighted), {{3, 12, 0xDFDFDF}}, {}},
        {"segment focused", kSegment, segment(kFlagFocused), {{0, 12, 0xFFA200}}, {}},
        {"segment disabled", kSegment, segment(kFlagDisabled | kFlagFocused), {{0, 12, 0xDDDDDD}, {3, 12, 0xFFFFFF}}, {}},
        // Slider knob (curves: a small tolerance) and bar, both styles.
        {"knob style 0", kKnob, knob(0), {{10, 10, 0x333333}, {3, 10, 0xFFFFFF}, {0, 0, kNone}}, {}, 8},
        {"knob style 1", kKnob, knob(styleFlags(1)), {{10, 10, 0xFFFFFF}, {3, 10, 0x3E3E3E}}, {}, 8},
        {"knob focused", kKnob, knob(kFlagFocused), {{1, 10, 0xFFA200}, {3, 10, 0xFFFFFF}}, {}, 30},
        {"knob disabled focused", kKnob, knob(kFlagDisabled | kFlagFocused), {{1, 10, 0xFFFFFF}}, {}, 30},
        {"bar style 0", kBar, bar(0), {{60, 9, 0x333333}, {60, 10, 0x333333}, {60, 8, kNone}, {60, 11, kNone},
                                       {13, 9, kNone}, {14, 9, 0x333333}, {105, 9, 0x333333}, {106, 9, kNone}}, {}},
        {"bar style 0 disabled", kBar, bar(kFlagDisabled), {{60, 9, 0x999999}}, {}},
        {"bar style 1", kBar, bar(styleFlags(1)), {{60, 9, 0xFFFFFF}}, {}},
        {"bar style 1 pressed", kBar, bar(styleFlags(1) | kFlagHighlighted), {{60, 9, 0xFFFFFF}}, {}},
        // Scroller: knob and the three slot styles.
        {"scroller knob", {14, 100}, scroller(true, 0), {{7, 50, 0xA4A4A4}}, {}},
        {"scroller slot 0", {14, 100}, scroller(false, 0), {{7, 50, 0xF7F7F7}, {1, 50, 0xF7F7F7}}, {}},
        {"scroller slot 1", {14, 100}, scroller(false, 1), {{7, 50, 0xFFFFFF}}, {}},
        {"scroller slot 2", {14, 100}, scroller(false, 2), {{7, 50, 0xE9E9E9}}, {}},
        // Alert and panel rings.
        {"alert content", {100, 100}, [](QPainter& p, const QRectF& r) { drawAlertContentView(p, r); },
         {{0, 50, 0xEBEBEB}, {2, 50, 0xEBEBEB}, {3, 50, 0xFFFFFF}, {50, 96, 0xFFFFFF}, {50, 97, 0xEBEBEB}}, {}},
        {"panel content", {100, 100}, [](QPainter& p, const QRectF& r) { drawPanelContentView(p, r); },
         {{0, 50, 0x959595}, {1, 50, 0xFFFFFF}, {50, 99, 0x959595}}, {}},
        // Setting title band.
        {"setting title rounded", {200, 22},
         [](QPainter& p, const QRectF& r) { drawSettingTitleWithFrame(p, r, QString(), true); },
         {{5, 1, 0x747474}, {0, 11, 0x747474}}, {}},
        {"setting title square", {200, 22},
         [](QPainter& p, const QRectF& r) { drawSettingTitleWithFrame(p, r, QString(), false); },
         {{0, 0, 0x747474}}, {}},
        // Arrow and menu buttons: pointed trailing side.
        {"arrow normal", {110, 29}, arrow(0), {{50, 0, 0x999999}, {20, 3, 0xD8D8D8}, {0, 14, 0x999999}},
         {{109, 14, 0x999999}, {90, 3, 0xD8D8D8}}},
        {"arrow pressed", {110, 29}, arrow(kFlagHighlighted), {{20, 3, 0xC7C7C7}}, {}},
        {"arrow focused", {110, 29}, arrow(kFlagFocused), {{50, 0, 0xFFA200}}, {}},
        {"arrow disabled", {110, 29}, arrow(kFlagDisabled | kFlagFocused), {{50, 0, 0xC9C9C9}, {20, 3, 0xDEDEDE}}, {}},
        {"menu normal", {130, 29}, [](QPainter& p, const QRectF& r) { drawMenuButtonWithFrame(p, r, QString(), 0); },
         {{50, 0, 0x999999}, {5, 3, 0xD8D8D8}}, {}},
        // Preview and triangle buttons.
        {"preview off", {60, 80},
         [](QPainter& p, const QRectF& r) { drawPreviewButtonWithFrame(p, r, QImage(), 0); },
         {{0, 40, 0xFFFFFF}, {30, 40, 0xFFFFFF}}, {}},
        {"preview on", {60, 80},
         [](QPainter& p, const QRectF& r) { drawPreviewButtonWithFrame(p, r, QImage(), kFlagOn); },
         {{0, 40, 0xFFA200}, {1, 40, 0xFFA200}, {2, 40, 0xE2E2E2}, {30, 40, 0xE2E2E2}}, {}},
        {"preview focused", {60, 80},
         [](QPainter& p, const QRectF& r) { drawPreviewButtonWithFrame(p, r, QImage(), kFlagFocused); },
         {{0, 40, 0xFFA200}, {1, 40, 0xFFFFFF}}, {}},
        {"rounded button", {28, 28}, [](QPainter& p, const QRectF& r) { drawRoundedButtonWithFrame(p, r, 0); },
         {{4, 14, 0xF6F6F6}, {1, 14, 0xCECECE}, {0, 0, kNone}}, {}, 16},
        {"rounded button pressed focused", {28, 28},
         [](QPainter& p, const QRectF& r) { drawRoundedButtonWithFrame(p, r, kFlagHighlighted | kFlagFocused); },
         {{4, 14, 0xE5E5E5}, {1, 14, 0xFFA200}}, {}, 16},
        {"triangle focused", {150, 24},
         [](QPainter& p, const QRectF& r) { drawTriangleButtonWithFrame(p, r, QString(), kFlagFocused); },
         {{0, 12, 0xFFA200}, {149, 12, 0xFFA200}, {20, 12, kNone}}, {}},
        // Backgrounds 0 to 13: fills and lines placed from the edges.
        {"bg 0", kBg, background(0), {{100, 20, 0x3E3E3E}, {0, 0, 0x3E3E3E}, {199, 39, 0x3E3E3E}}, {{199, 20, 0x3E3E3E}}},
        {"bg 1", kBg, background(1), {{199, 20, 0x747474}, {198, 20, 0x3E3E3E}, {0, 20, 0x3E3E3E}},
         {{0, 20, 0x747474}, {1, 20, 0x3E3E3E}, {199, 20, 0x3E3E3E}}},
        {"bg 2", kBg, background(2), {{0, 20, 0x747474}, {1, 20, 0x3E3E3E}}, {{199, 20, 0x747474}, {0, 20, 0x3E3E3E}}},
        {"bg 3", kBg, background(3), {{199, 20, 0xF7F7F7}, {100, 20, 0xE2E2E2}}, {{0, 20, 0xF7F7F7}}},
        {"bg 4", kBg, background(4), {{0, 20, 0xF7F7F7}, {100, 20, 0xF1F1F1}}, {{199, 20, 0xF7F7F7}}},
        {"bg 5", kBg, background(5), {{100, 20, 0x3E3E3E}}, {{100, 20, 0x3E3E3E}}},
        {"bg 6", kBg, background(6), {{100, 20, 0x6E6E6E}}, {{100, 20, 0x6E6E6E}}},
        {"bg 7", kBg, background(7), {{0, 20, 0xB7B7B7}, {1, 20, 0xB7B7B7}, {2, 20, 0x3E3E3E}},
         {{199, 20, 0xB7B7B7}, {198, 20, 0xB7B7B7}, {197, 20, 0x3E3E3E}, {0, 20, 0x3E3E3E}}},
        {"bg 8", kBg, background(8), {{1, 20, 0xB7B7B7}, {2, 20, 0xF3F3F3}}, {{198, 20, 0xB7B7B7}, {1, 20, 0xF3F3F3}}},
        {"bg 9", kBg, background(9), {{100, 0, 0xACACAC}, {100, 1, 0xACACAC}, {100, 2, 0xFFFFFF}, {100, 39, 0xFFFFFF}},
         {{100, 1, 0xACACAC}}},
        {"bg 10", kBg, background(10), {{100, 39, 0xAEAEAE}, {100, 38, kNone}, {100, 0, kNone}},
         {{100, 39, 0xAEAEAE}}},
        {"bg 11", kBg, background(11), {{100, 20, 0xFFFFFF}}, {{100, 20, 0xFFFFFF}}},
        {"bg 12", kBg, background(12),
         {{18, 0, 0xFFFFFF}, {19, 0, 0xAEAEAE}, {180, 0, 0xAEAEAE}, {181, 0, 0xFFFFFF}, {100, 1, 0xFFFFFF},
          {100, 39, 0xFFFFFF}},
         {{19, 0, 0xAEAEAE}, {181, 0, 0xFFFFFF}}},
        {"bg 13 grid row", kBg, background(13),
         {{0, 10, 0xF6F6F6}, {99, 10, 0xF6F6F6}, {100, 10, kNone}, {150, 39, 0xD8D8D8}, {0, 39, 0xD8D8D8}},
         {{0, 10, kNone}, {99, 10, kNone}, {100, 10, 0xF6F6F6}, {199, 10, 0xF6F6F6}, {150, 39, 0xD8D8D8}}},
        {"bg 13 odd width truncates the half", {201, 40}, background(13),
         {{99, 10, 0xF6F6F6}, {100, 10, kNone}}, {{101, 10, 0xF6F6F6}, {100, 10, kNone}}},
    };
    return rows;
}

void checkRow(const PixelRow& row, const std::vector<Sample>& samples, const char* direction) {
    QImage image = canvas(row.size);
    {
        QPainter painter(&image);
        const QPen pen(Qt::red, 3);
        painter.setPen(pen);
        painter.setBrush(Qt::green);
        painter.setOpacity(0.7);
        painter.translate(0, 0);
        row.draw(painter, QRectF(QPointF(0, 0), QSizeF(row.size)));
        // Each draw function leaves the painter as it found it.
        EXPECT_EQ(painter.pen(), pen) << row.name;
        EXPECT_EQ(painter.brush(), QBrush(Qt::green)) << row.name;
        EXPECT_EQ(painter.opacity(), 0.7) << row.name;
        EXPECT_FALSE(painter.testRenderHint(QPainter::Antialiasing)) << row.name;
    }
    for (const Sample& s : samples) {
        const std::uint32_t got = rgbAt(image, s.x, s.y);
        EXPECT_TRUE(near(got, s.rgb, row.tolerance))
            << row.name << " (" << direction << ") at " << s.x << "," << s.y << ": got " << std::hex << got
            << " want " << s.rgb;
    }
}

TEST(TvUI, PixelTable) {
    for (const PixelRow& row : pixelTable()) {
        checkRow(row, row.ltr, "ltr");
        if (!row.rtl.empty()) {
            kittest::RightToLeft rtl;
            checkRow(row, row.rtl, "rtl");
        }
    }
}

TEST(TvUI, ColorsAndTitleColours) {
    const QColor c = colorWithDeviceRGB(0xFFA200, 0.5);
    EXPECT_EQ(c.red(), 255);
    EXPECT_EQ(c.green(), 0xA2);
    EXPECT_EQ(c.blue(), 0);
    EXPECT_NEAR(c.alphaF(), 0.5, 1e-4);
    EXPECT_EQ(colorWithDeviceRGB(0x123456).alphaF(), 1.0);
    EXPECT_EQ(controlTitleColor(1), QColor(Qt::white));
    EXPECT_EQ(controlTitleColor(2), colorWithDeviceRGB(0x696969));
    EXPECT_EQ(controlTitleColor(3), QColor(Qt::white));
    EXPECT_EQ(controlTitleColor(4), colorWithDeviceRGB(0x101010));
    EXPECT_EQ(controlTitleColor(0), QColor(Qt::black));
    EXPECT_EQ(controlTitleColor(5), QColor(Qt::black));
    // Pixels, never points: the width rules must not follow the screen's DPI.
    EXPECT_EQ(systemFont(15).pixelSize(), 15);
    EXPECT_TRUE(systemFont(14, true).bold());
}

// Which slot each state draws, told apart by the form's own colour at the
// image's centre.
TEST(TvUI, ImageButtonSlots) {
    struct Case {
        int row;
        std::uint32_t flags;
        const char* name; // null: nothing drawn
        std::uint32_t centre;
    } const cases[] = {
        {0, 0, "btn_arrow_R.png", 0x616161},
        {0, kFlagOn, nullptr, kNone},
        {2, kFlagOn, "btn_arrow_L.png", 0x616161},
        {0, kFlagDisabled, "btn_arrow_R_G.png", 0xC8C8C8},
        {2, kFlagDisabled | kFlagOn, "btn_arrow_L_G.png", 0xC8C8C8},
        {0, kFlagDisabled | kFlagRollOver, "btn_arrow_R_G.png", 0xC8C8C8},
        {0, kFlagRollOver, "btn_arrow_R_O.png", 0xFFA200},
        {7, kFlagRollOver | kFlagOn, "btn_thumbnail_O.png", 0xFFA200},
        {3, kFlagHighlighted, "btn_select_all_C.png", 0x3E3E3E},
        {5, kFlagHighlighted | kFlagRollOver, "btn_select_odd_C.png", 0x3E3E3E},
        {0, kFlagHighlighted, "btn_arrow_R.png", 0x616161},
        {6, kFlagHighlighted | kFlagRollOver, "btn_zoom_fit_O.png", 0xFFA200},
        {3, kFlagDisabled, nullptr, kNone},
        {10, kFlagOn, "panel_continue_S.png", 0x36AB8B},
        {21, 0, "btn_select_next_G.png", 0xC8C8C8},
        {22, 0, nullptr, kNone},
    };
    for (const Case& c : cases) {
        const int slot = buttonImageSlot(c.row, c.flags);
        const char* name = buttonImageName(c.row, slot);
        if (c.name) EXPECT_STREQ(name, c.name) << "row " << c.row << " flags " << c.flags;
        else EXPECT_EQ(name, nullptr) << "row " << c.row << " flags " << c.flags;
        QImage image = canvas({28, 28});
        QPainter p(&image);
        drawImageButtonWithFrame(p, QRectF(0, 0, 28, 28), c.flags | styleFlags(c.row));
        p.end();
        EXPECT_EQ(rgbAt(image, 14, 14), c.centre) << "row " << c.row << " flags " << c.flags;
        EXPECT_EQ(rgbAt(image, 2, 14), kNone) << "no focus ring without focus";
    }
    // Focus ring inset 2; disabled wins over focus.
    QImage focused = canvas({28, 28});
    QImage disabled = canvas({28, 28});
    {
        QPainter p(&focused);
        drawImageButtonWithFrame(p, QRectF(0, 0, 28, 28), kFlagFocused | styleFlags(0));
        QPainter q(&disabled);
        drawImageButtonWithFrame(q, QRectF(0, 0, 28, 28), kFlagFocused | kFlagDisabled | styleFlags(0));
    }
    EXPECT_EQ(rgbAt(focused, 2, 14), 0xFFA200u);
    EXPECT_EQ(rgbAt(focused, 25, 14), 0xFFA200u);
    EXPECT_EQ(rgbAt(focused, 1, 14), kNone);
    EXPECT_EQ(rgbAt(disabled, 2, 14), kNone);
}

// Direction-bearing images are mirrored in right-to-left layout, others not.
TEST(TvUI, ImageButtonMirroring) {
    auto drawRow = [](int row) {
        QImage image = canvas({28, 28});
        QPainter p(&image);
        drawImageButtonWithFrame(p, QRectF(0, 0, 28, 28), styleFlags(row));
        return image;
    };
    // The right arrow's wide end is at the left of its picture.
    EXPECT_EQ(rgbAt(drawRow(0), 10, 10), 0x616161u);
    const QImage plusLtr = drawRow(16);
    {
        kittest::RightToLeft rtl;
        EXPECT_EQ(rgbAt(drawRow(0), 10, 10), kNone);
        EXPECT_EQ(rgbAt(drawRow(0), 17, 10), 0x616161u);
        EXPECT_EQ(drawRow(16), plusLtr) << "not a direction-bearing image";
    }
}

TEST(TvUI, PushButtonImageSitsAtTheLeadingEdge) {
    // Row 16's first slot ("btn_output_add", 24 x 24) 10 from the leading edge.
    auto draw = [] {
        QImage image = canvas({130, 36});
        QPainter p(&image);
        drawColoredPushButtonWithFrame(p, QRectF(0, 0, 130, 36), QString(), styleFlags(0) | buttonImageFlags(16));
        return image;
    };
    EXPECT_EQ(rgbAt(draw(), 10 + 12, 18), 0x616161u);
    kittest::RightToLeft rtl;
    EXPECT_EQ(rgbAt(draw(), 130 - 10 - 12, 18), 0x616161u);
    EXPECT_EQ(rgbAt(draw(), 10 + 12, 18), 0xFFFFFFu);
}

// Titles start 15 from the leading edge, even where Qt's own direction is
// right-to-left as well.
TEST(TvUI, SettingTitleFollowsTheLeadingEdge) {
    auto inkColumns = [] {
        QImage image = canvas({200, 22});
        {
            QPainter p(&image);
            drawSettingTitleWithFrame(p, QRectF(0, 0, 200, 22), QStringLiteral("MM"), false);
        }
        std::vector<int> columns;
        for (int x = 0; x < 200; ++x)
            for (int y = 0; y < 22; ++y)
                if (rgbAt(image, x, y) != 0x747474u) {
                    columns.push_back(x);
                    break;
                }
        return columns;
    };
    const auto ltr = inkColumns();
    ASSERT_FALSE(ltr.empty());
    EXPECT_GE(ltr.front(), 15);
    EXPECT_LT(ltr.back(), 100);
    kittest::RightToLeft rtl;
    QApplication::setLayoutDirection(Qt::RightToLeft);
    const auto mirrored = inkColumns();
    QApplication::setLayoutDirection(Qt::LeftToRight);
    ASSERT_FALSE(mirrored.empty());
    EXPECT_GT(mirrored.front(), 100);
    EXPECT_LE(mirrored.back(), 200 - 15);
}

TEST(TvUI, SizesAndBestWidth) {
    const QFontMetricsF metrics(systemFont(15));
    const double scan = metrics.horizontalAdvance(QStringLiteral("Scan"));
    EXPECT_GT(scan, 20);
    EXPECT_EQ(calcBestArrowButtonSizeWithTitle(QStringLiteral("Scan")), QSizeF(scan + 34, 29));
    EXPECT_EQ(calcMenuButtonButtonSizeWithTitle(QStringLiteral("Scan")), QSizeF(scan + 72, 29));
    EXPECT_EQ(calcColoredPushButtonButtonSizeWithTitle(QStringLiteral("Scan"), 0), QSizeF(scan + 10, 36));
    EXPECT_EQ(calcColoredPushButtonButtonSizeWithTitle(QStringLiteral("Scan"), 200), QSizeF(200, 36));
    EXPECT_EQ(calcColoredPushButtonButtonSizeWithTitle(QStringLiteral("Scan"), scan + 9), QSizeF(scan + 10, 36));

    QPushButton button(QStringLiteral("Scan"));
    button.setGeometry(100, 10, 50, 20);
    setBestWidth(&button, ButtonKind::ColoredPush, 120);
    EXPECT_EQ(button.geometry(), QRect(30, 10, 120, 36)) << "keeps its right edge";
    setBestWidth(&button, ButtonKind::Arrow);
    EXPECT_EQ(button.geometry().right(), 149);
    EXPECT_EQ(button.height(), 29);
    const QRect before = button.geometry();
    setBestWidth(&button, ButtonKind::Other);
    EXPECT_EQ(button.geometry(), before);

    QLabel field(QStringLiteral("Resolution"));
    field.setGeometry(5, 6, 10, 17);
    setBestWidth(&field);
    EXPECT_EQ(field.geometry().topLeft(), QPoint(5, 6)) << "keeps its origin";
    EXPECT_EQ(field.height(), 17);
    EXPECT_EQ(field.width(),
              int(std::ceil(QFontMetricsF(field.font()).horizontalAdvance(QStringLiteral("Resolution")) + 6)));
}

TEST(TvUI, ImagePartsAndSpinner) {
    EXPECT_TRUE(imagePartsAtTag(-1).isNull());
    EXPECT_TRUE(imagePartsAtTag(14).isNull());
    EXPECT_FALSE(imagePartsAtTag(12).isNull());
    EXPECT_FALSE(imagePartsAtTag(13).isNull());
    for (int tag = 0; tag < 12; ++tag) EXPECT_EQ(imagePartsAtTag(tag).frameCount(), 1) << tag;

    setupSpinnerImage();
    const TvImage spinner = imagePartsAtTag(0);
    ASSERT_EQ(spinner.frameCount(), 12);
    EXPECT_DOUBLE_EQ(spinner.frameDuration, 0.1);
    EXPECT_FALSE(spinner.isAnimatedBitmap);
    // Each frame is its part drawn on white.
    for (int i = 0; i < 12; ++i) {
        const QImage frame = spinner.frames[std::size_t(i)];
        EXPECT_EQ(frame.size(), spinner.size());
        EXPECT_EQ(rgbAt(frame, 0, 0), 0xFFFFFFu);
        QImage expected(frame.size(), QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::white);
        QPainter(&expected).drawImage(0, 0, GetBitmapImage(imagePartsAtTag(i)));
        EXPECT_EQ(frame.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32)) << i;
    }
    EXPECT_NE(spinner.frames[0], spinner.frames[6]);
    // Twice builds the frames once.
    setupSpinnerImage();
    EXPECT_EQ(imagePartsAtTag(0).frameCount(), 12);
    EXPECT_EQ(imagePartsAtTag(0).frames[0].cacheKey(), spinner.frames[0].cacheKey());
}

// A damaged install: every image missing draws nothing and crashes nothing.
TEST(TvUI, MissingBundleImagesDrawNothing) {
    const std::filesystem::path empty = std::filesystem::path(std::getenv("HOME")) / "EmptyBundle";
    std::filesystem::create_directories(empty / "Resources");
    kdf::Bundle::setMainBundlePath(empty.string());
    loadUIImageParts();
    EXPECT_TRUE(imagePartsAtTag(0).isNull());
    setupSpinnerImage();
    EXPECT_TRUE(imagePartsAtTag(0).isNull());
    QImage image = canvas({28, 28});
    {
        QPainter p(&image);
        drawImageButtonWithFrame(p, QRectF(0, 0, 28, 28), styleFlags(0));
        drawMenuButtonWithFrame(p, QRectF(0, 0, 28, 28), QStringLiteral("x"), 0);
        drawRoundedButtonWithFrame(p, QRectF(0, 0, 28, 28), 0);
        drawColoredPushButtonWithFrame(p, QRectF(0, 0, 28, 28), QStringLiteral("x"), buttonImageFlags(16));
    }
    kdf::Bundle::setMainBundlePath({});
    loadUIImageParts();
    EXPECT_FALSE(imagePartsAtTag(0).isNull());
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
