#include "TvUI.h"

#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"

#include <foundation/Bundle.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetricsF>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cmath>
#include <map>

TvImage TvImage::fromFile(const QString& path) {
    TvImage out;
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    out.isAnimatedBitmap = reader.supportsAnimation();
    for (;;) {
        QImage frame = reader.read();
        if (frame.isNull()) break;
        if (out.frames.empty() && reader.nextImageDelay() > 0) out.frameDuration = reader.nextImageDelay() / 1000.0;
        out.frames.push_back(std::move(frame));
        if (!out.isAnimatedBitmap || !reader.canRead()) break;
    }
    return out;
}

QImage GetBitmapImage(const TvImage& image) {
    return image.frames.empty() ? QImage() : image.frames.front();
}

namespace TvUI {
namespace {

bool isLTR() { return QlrUtilsMethod::isLTR_LayoutDirection(); }

// The painter's state is saved on entry and restored on every exit.
class SavedState {
public:
    explicit SavedState(QPainter& p) : p_(p) {
        p_.save();
        p_.setRenderHint(QPainter::Antialiasing, true);
        p_.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p_.setOpacity(1.0);
    }
    ~SavedState() { p_.restore(); }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

private:
    QPainter& p_;
};

QRectF inset(const QRectF& r, double d) { return r.adjusted(d, d, -d, -d); }

// Strokes the outline as a filled shape: Qt's thin-line path leaves the
// corners of a 1-pixel pen partly covered, the stroker's outline does not.
void stroke(QPainter& p, const QPainterPath& path, std::uint32_t rgb, double width = 1.0) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setJoinStyle(Qt::MiterJoin);
    stroker.setCapStyle(Qt::SquareCap);
    p.fillPath(stroker.createStroke(path), colorWithDeviceRGB(rgb));
}

QPainterPath rectPath(const QRectF& r) {
    QPainterPath path;
    path.addRect(r);
    return path;
}

// A rectangle with the left and right corners rounded by their own radius.
QPainterPath sidesRounded(const QRectF& r, double leftRadius, double rightRadius) {
    // Starts mid-way along the top, so every corner is a join of two edges.
    QPainterPath path;
    const double l = leftRadius, rr = rightRadius;
    path.moveTo(r.center().x(), r.top());
    path.lineTo(r.right() - rr, r.top());
    if (rr > 0) path.arcTo(QRectF(r.right() - 2 * rr, r.top(), 2 * rr, 2 * rr), 90, -90);
    path.lineTo(r.right(), r.bottom() - rr);
    if (rr > 0) path.arcTo(QRectF(r.right() - 2 * rr, r.bottom() - 2 * rr, 2 * rr, 2 * rr), 0, -90);
    path.lineTo(r.left() + l, r.bottom());
    if (l > 0) path.arcTo(QRectF(r.left(), r.bottom() - 2 * l, 2 * l, 2 * l), 270, -90);
    path.lineTo(r.left(), r.top() + l);
    if (l > 0) path.arcTo(QRectF(r.left(), r.top(), 2 * l, 2 * l), 180, -90);
    path.lineTo(r.center().x(), r.top());
    path.closeSubpath();
    return path;
}

QPainterPath roundedRect(const QRectF& r, double radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

void fillAndStroke(QPainter& p, const QPainterPath& path, std::uint32_t fill, std::uint32_t strokeRGB) {
    p.fillPath(path, colorWithDeviceRGB(fill));
    stroke(p, path, strokeRGB);
}

void drawTitle(QPainter& p, const QRectF& rect, const QString& title, const QFont& font, const QColor& colour,
               Qt::Alignment alignment) {
    if (title.isEmpty() || rect.width() <= 0) return;
    p.setFont(font);
    p.setPen(colour);
    const QString shown = QFontMetricsF(font).elidedText(title, Qt::ElideRight, rect.width());
    // Absolute: the kit places titles by isLTR_LayoutDirection itself, and
    // Qt would mirror a left or right alignment once more in right-to-left
    // layout.
    p.drawText(rect, int(alignment | Qt::AlignVCenter | Qt::AlignAbsolute) | Qt::TextSingleLine, shown);
}

// The named kit image, mirrored when the name is one of the direction-bearing
// images in right-to-left layout.
QImage kitImageOriented(const std::string& name) {
    QImage image = kitImageNamed(name);
    if (!image.isNull() && QlrUtilsMethod::isFlipHorizontalImage(name)) image = image.mirrored(true, false);
    return image;
}

void drawImageCentred(QPainter& p, const QRectF& frame, const QImage& image) {
    if (image.isNull()) return;
    const QSizeF size = image.deviceIndependentSize();
    const QPointF origin(frame.left() + std::floor((frame.width() - size.width()) / 2),
                         frame.top() + std::floor((frame.height() - size.height()) / 2));
    p.drawImage(QRectF(origin, size), image);
}

// --- Tables.

struct PushButtonAttribute {
    std::uint32_t fill, stroke, pressedFill, pressedStroke, disabledFill, disabledStroke;
    std::uint32_t unusedFill; // kept with the row; nothing reads it
    std::uint32_t focusStroke, text, disabledText;
    int fontSize;
    bool bold;
};

constexpr std::array<PushButtonAttribute, 4> sPushButtonAttribute{{
    {0xFFFFFF, 0xA3A3A3, 0xDFDFDF, 0xA3A3A3, 0xFFFFFF, 0xDDDDDD, 0xFFFFFF, 0xFFA200, 0x101010, 0xD0D0D0, 14, false},
    {0x616161, 0x545454, 0x3E3E3E, 0x2E2E2E, 0xBFBFBF, 0xB1B1B1, 0x616161, 0xFFA200, 0xFFFFFF, 0xABABAB, 14, false},
    {0x60B699, 0x36AB8B, 0x419C7D, 0x2B896F, 0xC3D4CE, 0xAECCC4, 0x60B699, 0xFFA200, 0xFFFFFF, 0xECECEC, 16, true},
    {0x616161, 0x545454, 0x3E3E3E, 0x2E2E2E, 0xBFBFBF, 0xB1B1B1, 0x616161, 0xFFA200, 0xFFFFFF, 0xABABAB, 14, true},
}};

// bar, knob, bar pressed, knob pressed, bar disabled, knob disabled, knob centre, focus
constexpr std::array<std::array<std::uint32_t, 8>, 2> sSliderAttribute{{
    {0x333333, 0xFFFFFF, 0x333333, 0xFFFFFF, 0x999999, 0xFFFFFF, 0x333333, 0xFFA200},
    {0xFFFFFF, 0x3E3E3E, 0xFFFFFF, 0x3E3E3E, 0xFFFFFF, 0x3E3E3E, 0xFFFFFF, 0xFFA200},
}};

// Only the first colour of a row is read.
constexpr std::array<std::uint32_t, 3> sScrollerAttribute{0xF7F7F7, 0xFFFFFF, 0xE9E9E9};

using ButtonRow = std::array<const char*, 7>;
#define KD_FORMS(n) ButtonRow{n ".png", nullptr, n "_G.png", nullptr, n "_O.png", nullptr, nullptr}
#define KD_FORMS_ON(n, on)                                                                                  \
    ButtonRow{n ".png", on ".png", n "_G.png", on "_G.png", n "_O.png", on "_O.png", nullptr}
constexpr std::array<ButtonRow, kButtonImageRows> sButtonImages{{
    KD_FORMS("btn_arrow_R"),
    KD_FORMS("btn_arrow_L"),
    KD_FORMS_ON("btn_arrow_R", "btn_arrow_L"),
    {"btn_select_all.png", nullptr, nullptr, nullptr, "btn_select_all_O.png", nullptr, "btn_select_all_C.png"},
    {"btn_select_even.png", nullptr, nullptr, nullptr, "btn_select_even_O.png", nullptr, "btn_select_even_C.png"},
    {"btn_select_odd.png", nullptr, nullptr, nullptr, "btn_select_odd_O.png", nullptr, "btn_select_odd_C.png"},
    {"btn_zoom_fit.png", nullptr, nullptr, nullptr, "btn_zoom_fit_O.png", nullptr, nullptr},
    KD_FORMS_ON("btn_grid", "btn_thumbnail"),
    KD_FORMS("btn_select_prev"),
    KD_FORMS("btn_select_next"),
    {"panel_continue.png", "panel_continue_S.png", nullptr, nullptr, nullptr, nullptr, nullptr},
    {"panel_delayedit.png", "panel_delayedit_S.png", nullptr, nullptr, nullptr, nullptr, nullptr},
    {"bmp_rotL.png", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"bmp_rotR.png", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"bmp_close.png", nullptr, nullptr, nullptr, "bmp_close_O.png", nullptr, nullptr},
    {"popup_delete.png", nullptr, nullptr, nullptr, "popup_delete_O.png", nullptr, nullptr},
    KD_FORMS("btn_output_add"),
    KD_FORMS("btn_output_del"),
    KD_FORMS("btn_output_up"),
    KD_FORMS("btn_output_down"),
    {"btn_select_prev_G.png", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"btn_select_next_G.png", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
}};
#undef KD_FORMS
#undef KD_FORMS_ON

// The arrow and menu buttons' colours.
constexpr std::uint32_t kArrowFill = 0xD8D8D8, kArrowPressedFill = 0xC7C7C7, kArrowStroke = 0x999999,
                        kArrowText = 0x101010, kArrowDisabledFill = 0xDEDEDE, kArrowDisabledStroke = 0xC9C9C9,
                        kArrowDisabledText = 0xABABAB;

struct ArrowColours {
    std::uint32_t fill, stroke, text;
};

ArrowColours arrowColours(std::uint32_t flags) {
    if (flags & kFlagDisabled) return {kArrowDisabledFill, kArrowDisabledStroke, kArrowDisabledText};
    return {(flags & kFlagHighlighted) ? kArrowPressedFill : kArrowFill,
            (flags & kFlagFocused) ? kFocusRGB : kArrowStroke, kArrowText};
}

bool showsFocus(std::uint32_t flags) { return (flags & kFlagFocused) && !(flags & kFlagDisabled); }

struct Parts {
    bool loaded = false;
    std::array<TvImage, kUIImagePartCount> images;
};

Parts& parts() {
    static Parts p;
    return p;
}

std::map<std::string, QImage>& imageCache() {
    static std::map<std::string, QImage> cache;
    return cache;
}

double titleWidth(const QString& title, int size) {
    return QFontMetricsF(systemFont(size)).horizontalAdvance(title);
}

} // namespace

QColor colorWithDeviceRGB(std::uint32_t rgb, double alpha) {
    QColor c = QColor::fromRgb(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
    c.setAlphaF(float(alpha));
    return c;
}

QFont systemFont(int pixelSize, bool bold) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QColor controlTitleColor(int kind) {
    switch (kind) {
    case 1:
    case 3: return Qt::white;
    case 2: return colorWithDeviceRGB(0x696969);
    case 4: return colorWithDeviceRGB(0x101010);
    default: return Qt::black;
    }
}

// --- Shared images.

QImage kitImageNamed(const std::string& name) {
    const std::string key = kdf::Bundle::main()->path() + '\n' + name;
    auto& cache = imageCache();
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    QImage image = QlrUtilsMethod::bundleImageNamed(name);
    cache.emplace(key, image);
    return image;
}

void loadUIImageParts() {
    Parts& p = parts();
    imageCache().clear();
    for (int tag = 0; tag < kUIImagePartCount; ++tag) {
        std::string name = tag < 12 ? "anim_spinnder" + std::to_string(tag) + ".png"
                                    : (tag == 12 ? "general_32" : "icn_plugin");
        TvImage image;
        if (QImage picture = kitImageNamed(name); !picture.isNull()) image.frames.push_back(std::move(picture));
        p.images[std::size_t(tag)] = std::move(image);
    }
    p.loaded = true;
}

TvImage imagePartsAtTag(int tag) {
    if (tag < 0 || tag >= kUIImagePartCount) return {};
    if (!parts().loaded) loadUIImageParts();
    return parts().images[std::size_t(tag)];
}

void setupSpinnerImage() {
    if (!parts().loaded) loadUIImageParts();
    auto& images = parts().images;
    TvImage& spinner = images[0];
    if (spinner.isNull() || spinner.frameCount() > 1) return;
    const QSize size = spinner.size();
    std::vector<QImage> frames;
    for (int i = 0; i < 12; ++i) {
        QImage frame(size, QImage::Format_ARGB32_Premultiplied);
        frame.fill(Qt::white);
        const QImage part = GetBitmapImage(images[std::size_t(i)]);
        if (!part.isNull()) {
            QPainter p(&frame);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(QPointF(0, 0), part);
        }
        frames.push_back(std::move(frame));
    }
    spinner.frames = std::move(frames);
    spinner.frameDuration = 0.1;
    spinner.isAnimatedBitmap = false;
}

const char* buttonImageName(int row, int slot) {
    if (row < 0 || row >= kButtonImageRows || slot < 0 || slot >= 7) return nullptr;
    return sButtonImages[std::size_t(row)][std::size_t(slot)];
}

int buttonImageSlot(int row, std::uint32_t flags) {
    const int on = (flags & kFlagOn) ? 1 : 0;
    if (flags & kFlagDisabled) return 2 + on;
    if ((flags & kFlagHighlighted) && row >= 3 && row <= 5) return 6;
    if (flags & kFlagRollOver) return 4 + on;
    return on;
}

// --- Backgrounds.

void drawRectForView(QPainter& painter, const QRectF& rect, unsigned type) {
    SavedState saved(painter);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const bool ltr = isLTR();
    auto fill = [&](const QRectF& r, std::uint32_t rgb) { painter.fillRect(r, colorWithDeviceRGB(rgb)); };
    // A vertical line of the width at the leading or trailing edge.
    auto vertical = [&](double width, bool leading, std::uint32_t rgb) {
        const bool left = leading == ltr;
        fill(QRectF(left ? rect.left() : rect.right() - width, rect.top(), width, rect.height()), rgb);
    };
    const double x = rect.left(), y = rect.top(), w = rect.width(), h = rect.height();
    switch (type) {
    case 0:
    case 5: fill(rect, 0x3E3E3E); break;
    case 1: fill(rect, 0x3E3E3E); vertical(1, false, 0x747474); break;
    case 2: fill(rect, 0x3E3E3E); vertical(1, true, 0x747474); break;
    case 3: fill(rect, 0xE2E2E2); vertical(1, false, 0xF7F7F7); break;
    case 4: fill(rect, 0xF1F1F1); vertical(1, true, 0xF7F7F7); break;
    case 6: fill(rect, 0x6E6E6E); break;
    case 7: fill(rect, 0x3E3E3E); vertical(2, true, 0xB7B7B7); break;
    case 8: fill(rect, 0xF3F3F3); vertical(2, true, 0xB7B7B7); break;
    case 9: fill(rect, 0xFFFFFF); fill(QRectF(x, y, w, 2), 0xACACAC); break;
    case 10: fill(QRectF(x, y + h - 1, w, 1), 0xAEAEAE); break;
    case 11: fill(rect, 0xFFFFFF); break;
    case 12: fill(rect, 0xFFFFFF); fill(QRectF(x + 19, y, w - 38, 1), 0xAEAEAE); break;
    default: {
        const double half = std::trunc(w / 2);
        fill(QRectF(ltr ? x : x + w - half, y, half, h), 0xF6F6F6);
        fill(QRectF(x, y + h - 1, w, 1), 0xD8D8D8);
        break;
    }
    }
}

// --- Controls.

void drawScrollerWithFrame(QPainter& painter, const QRectF& frame, bool isKnob, std::uint32_t flags) {
    SavedState saved(painter);
    const int style = styleOfFlags(flags);
    const std::uint32_t colour =
        isKnob ? 0xA4A4A4 : sScrollerAttribute[std::size_t(style < int(sScrollerAttribute.size()) ? style : 0)];
    painter.fillPath(roundedRect(inset(frame, 0.5), 4), colorWithDeviceRGB(colour));
}

void drawRoundedButtonWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags) {
    SavedState saved(painter);
    QPainterPath circle;
    circle.addEllipse(inset(frame, 1.5));
    fillAndStroke(painter, circle, (flags & kFlagHighlighted) ? 0xE5E5E5 : 0xF6F6F6,
                  showsFocus(flags) ? kFocusRGB : 0xCECECE);
    drawImageCentred(painter, frame, kitImageNamed("panel_edit.png"));
}

void drawArrowButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title, std::uint32_t flags) {
    SavedState saved(painter);
    const ArrowColours colours = arrowColours(flags);
    const QRectF r = inset(frame, 0.5);
    const double tip = std::min(r.height() / 2, r.width() / 3);
    constexpr double radius = 5;
    // Built pointing right, then mirrored about the frame's centre in
    // right-to-left layout.
    QPainterPath path;
    path.moveTo(r.left() + radius, r.top());
    path.lineTo(r.right() - tip, r.top());
    path.lineTo(r.right(), r.center().y());
    path.lineTo(r.right() - tip, r.bottom());
    path.lineTo(r.left() + radius, r.bottom());
    path.arcTo(QRectF(r.left(), r.bottom() - 2 * radius, 2 * radius, 2 * radius), 270, -90);
    path.lineTo(r.left(), r.top() + radius);
    path.arcTo(QRectF(r.left(), r.top(), 2 * radius, 2 * radius), 180, -90);
    path.closeSubpath();
    QRectF body(frame.left(), frame.top(), frame.width() - tip, frame.height());
    if (!isLTR()) {
        QTransform mirror;
        mirror.translate(frame.left() + frame.right(), 0).scale(-1, 1);
        path = mirror.map(path);
        body.moveRight(frame.right());
    }
    fillAndStroke(painter, path, colours.fill, colours.stroke);
    drawTitle(painter, body, title, systemFont(15), colorWithDeviceRGB(colours.text), Qt::AlignHCenter);
}

void drawColoredPushButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title,
                                    std::uint32_t flags) {
    SavedState saved(painter);
    const int style = styleOfFlags(flags);
    const PushButtonAttribute& a = sPushButtonAttribute[std::size_t(style < 4 ? style : 0)];
    std::uint32_t fill, stroke, text;
    if (flags & kFlagDisabled) {
        fill = a.disabledFill, stroke = a.disabledStroke, text = a.disabledText;
    } else {
        const bool pressed = flags & kFlagHighlighted;
        fill = pressed ? a.pressedFill : a.fill;
        stroke = (flags & kFlagFocused) ? a.focusStroke : (pressed ? a.pressedStroke : a.stroke);
        text = a.text;
    }
    fillAndStroke(painter, roundedRect(inset(frame, 0.5), 5), fill, stroke);

    const QFont font = systemFont(a.fontSize, a.bold);
    const int index = buttonImageOfFlags(flags);
    const char* imageName = index > 0 ? buttonImageName(index, 0) : nullptr;
    if (!imageName) {
        drawTitle(painter, frame, title, font, colorWithDeviceRGB(text), Qt::AlignHCenter);
        return;
    }
    const QImage image = kitImageOriented(imageName);
    const QSizeF size = image.isNull() ? QSizeF() : image.deviceIndependentSize();
    const bool ltr = isLTR();
    const double imageX = ltr ? frame.left() + 10 : frame.right() - 10 - size.width();
    if (!image.isNull())
        painter.drawImage(QRectF(QPointF(imageX, frame.top() + std::floor((frame.height() - size.height()) / 2)), size),
                          image);
    const double used = 10 + size.width();
    QRectF rest(ltr ? frame.left() + used : frame.left() + 10, frame.top(), frame.width() - used - 10, frame.height());
    drawTitle(painter, rest, title, font, colorWithDeviceRGB(text), Qt::AlignHCenter);
}

void drawMenuButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title, std::uint32_t flags) {
    SavedState saved(painter);
    const ArrowColours colours = arrowColours(flags);
    fillAndStroke(painter, roundedRect(inset(frame, 0.5), 5), colours.fill, colours.stroke);
    const bool ltr = isLTR();
    const QImage plus = kitImageNamed("btn_create_plus");
    const QImage drop = kitImageNamed("btn_create_drop");
    const QSizeF plusSize = plus.isNull() ? QSizeF() : plus.deviceIndependentSize();
    const QSizeF dropSize = drop.isNull() ? QSizeF() : drop.deviceIndependentSize();
    auto centredY = [&](const QSizeF& s) { return frame.top() + std::floor((frame.height() - s.height()) / 2); };
    const double plusX = ltr ? frame.left() + 12 : frame.right() - 12 - plusSize.width();
    const double dropX = ltr ? frame.right() - 14 - dropSize.width() : frame.left() + 14;
    if (!plus.isNull()) painter.drawImage(QRectF(QPointF(plusX, centredY(plusSize)), plusSize), plus);
    if (!drop.isNull()) painter.drawImage(QRectF(QPointF(dropX, centredY(dropSize)), dropSize), drop);
    const double leadIn = 12 + plusSize.width(), trailIn = 14 + dropSize.width();
    QRectF between(frame.left() + (ltr ? leadIn : trailIn), frame.top(), frame.width() - leadIn - trailIn,
                   frame.height());
    drawTitle(painter, between, title, systemFont(15), colorWithDeviceRGB(colours.text), Qt::AlignHCenter);
}

void drawImageButtonWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags) {
    SavedState saved(painter);
    const int row = styleOfFlags(flags);
    if (const char* name = buttonImageName(row, buttonImageSlot(row, flags)))
        drawImageCentred(painter, frame, kitImageOriented(name));
    if (showsFocus(flags)) {
        stroke(painter, rectPath(inset(frame, 2.5)), kFocusRGB);
    }
}

void drawPreviewButtonWithFrame(QPainter& painter, const QRectF& frame, const QImage& image, std::uint32_t flags) {
    SavedState saved(painter);
    const bool on = flags & kFlagOn;
    painter.fillRect(frame, colorWithDeviceRGB(on ? 0xE2E2E2 : 0xFFFFFF));
    if (!image.isNull()) {
        const QSizeF size = QlrUtilsMethod::resizeKeepRatio(image.deviceIndependentSize(), frame.size());
        const QRectF target(frame.left() + (frame.width() - size.width()) / 2,
                            frame.top() + (frame.height() - size.height()) / 2, size.width(), size.height());
        painter.drawImage(target, image);
    }
    if (on)
        stroke(painter, rectPath(inset(frame, 1)), kFocusRGB, 2);
    else if (showsFocus(flags))
        stroke(painter, rectPath(inset(frame, 0.5)), kFocusRGB);
}

void drawTriangleButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title,
                                 std::uint32_t flags) {
    SavedState saved(painter);
    const bool ltr = isLTR();
    const QRectF text(ltr ? frame.left() + 36 : frame.left(), frame.top(), frame.width() - 36, frame.height());
    drawTitle(painter, text, title, systemFont(14), colorWithDeviceRGB(0x101010, (flags & kFlagDisabled) ? 0.5 : 1.0),
              ltr ? Qt::AlignLeft : Qt::AlignRight);
    if (showsFocus(flags)) {
        stroke(painter, rectPath(inset(frame, 0.5)), kFocusRGB);
    }
}

void drawSliderKnobWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags) {
    SavedState saved(painter);
    const auto& a = sSliderAttribute[styleOfFlags(flags) == 1 ? 1 : 0];
    const std::uint32_t knob = (flags & kFlagDisabled) ? a[5] : (flags & kFlagHighlighted) ? a[3] : a[1];
    painter.setPen(Qt::NoPen);
    painter.setBrush(colorWithDeviceRGB(knob));
    painter.drawEllipse(inset(frame, 0.5));
    painter.setBrush(colorWithDeviceRGB(a[6]));
    painter.drawEllipse(inset(frame, 4.5));
    if (showsFocus(flags)) {
        QPainterPath ring;
        ring.addEllipse(inset(frame, 1.5));
        stroke(painter, ring, a[7]);
    }
}

void drawSliderBarWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags) {
    SavedState saved(painter);
    const auto& a = sSliderAttribute[styleOfFlags(flags) == 1 ? 1 : 0];
    const std::uint32_t bar = (flags & kFlagDisabled) ? a[4] : (flags & kFlagHighlighted) ? a[2] : a[0];
    painter.fillRect(QRectF(frame.left() + 14, frame.top() + std::floor((frame.height() - 2) / 2), frame.width() - 28, 2),
                     colorWithDeviceRGB(bar));
}

void drawSegmentWithFrame(QPainter& painter, const QRectF& frame, const QString& title, std::uint32_t flags) {
    SavedState saved(painter);
    const bool ltr = isLTR();
    const double first = (flags & kFlagFirstSegment) ? 5 : 0, last = (flags & kFlagLastSegment) ? 5 : 0;
    const QPainterPath path = sidesRounded(inset(frame, 0.5), ltr ? first : last, ltr ? last : first);
    const bool disabled = flags & kFlagDisabled;
    const std::uint32_t fill = (flags & (kFlagOn | kFlagHighlighted)) ? 0xDFDFDF : 0xFFFFFF;
    const std::uint32_t stroke = disabled ? 0xDDDDDD : (flags & kFlagFocused) ? kFocusRGB : 0xA3A3A3;
    fillAndStroke(painter, path, fill, stroke);
    drawTitle(painter, frame, title, systemFont(12), colorWithDeviceRGB(disabled ? 0xD0D0D0 : 0x101010),
              Qt::AlignHCenter);
}

void drawSettingTitleWithFrame(QPainter& painter, const QRectF& frame, const QString& title, bool isRounded) {
    SavedState saved(painter);
    painter.fillPath(roundedRect(frame, isRounded ? 3 : 0), colorWithDeviceRGB(0x747474));
    const bool ltr = isLTR();
    const QRectF text(ltr ? frame.left() + 15 : frame.left(), frame.top(), frame.width() - 15, frame.height());
    drawTitle(painter, text, title, systemFont(14, true), Qt::white, ltr ? Qt::AlignLeft : Qt::AlignRight);
}

void drawAlertContentView(QPainter& painter, const QRectF& frame) {
    SavedState saved(painter);
    painter.fillPath(roundedRect(frame, 5), colorWithDeviceRGB(0xEBEBEB));
    painter.fillPath(roundedRect(inset(frame, 3), 5), Qt::white);
}

void drawPanelContentView(QPainter& painter, const QRectF& frame) {
    SavedState saved(painter);
    painter.fillPath(roundedRect(frame, 5), colorWithDeviceRGB(0x959595));
    painter.fillPath(roundedRect(inset(frame, 1), 5), Qt::white);
}

// --- Sizes.

QSizeF calcBestArrowButtonSizeWithTitle(const QString& title) {
    return {titleWidth(title, 15) + 4 + 30, 29};
}

QSizeF calcColoredPushButtonButtonSizeWithTitle(const QString& title, double minSize) {
    const double width = titleWidth(title, 15) + 10;
    return {minSize > 0 && minSize > width ? minSize : width, 36};
}

QSizeF calcMenuButtonButtonSizeWithTitle(const QString& title) {
    return {titleWidth(title, 15) + 4 + 68, 29};
}

void setBestWidth(QAbstractButton* button, ButtonKind kind, double minSize) {
    if (!button) return;
    QSizeF size;
    switch (kind) {
    case ButtonKind::ColoredPush: size = calcColoredPushButtonButtonSizeWithTitle(button->text(), minSize); break;
    case ButtonKind::Arrow: size = calcBestArrowButtonSizeWithTitle(button->text()); break;
    case ButtonKind::Menu: size = calcMenuButtonButtonSizeWithTitle(button->text()); break;
    case ButtonKind::Other: return;
    }
    const QRect old = button->geometry();
    const int width = int(std::ceil(size.width())), height = int(std::ceil(size.height()));
    button->setGeometry(old.x() + old.width() - width, old.y(), width, height);
}

namespace {
void fitText(QWidget* field, const QString& text) {
    const int width = int(std::ceil(QFontMetricsF(field->font()).horizontalAdvance(text) + 6));
    const QRect old = field->geometry();
    field->setGeometry(old.x(), old.y(), width, old.height());
}
} // namespace

void setBestWidth(QLabel* field) {
    if (field) fitText(field, field->text());
}

void setBestWidth(QLineEdit* field) {
    if (field) fitText(field, field->text());
}

} // namespace TvUI
