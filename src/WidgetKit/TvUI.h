// The application's drawing kit: every custom control of the application is
// drawn here, in one flat grey look with an orange focus mark, from a flags
// word its widget computes from its state. Also the kit's shared images
// (the busy spinner's frames and two icons) and the size rules of the kit's
// buttons. Main thread only.
//
// Geometry is in Qt's device-independent pixels, y running down: the top of
// a control is the top of its rectangle. Outlines are stroked on the frame
// inset by 0.5 with 1-pixel pens, so at device pixel ratio 1 they cover
// whole pixels. Every draw function leaves the painter as it found it.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPainter;

// An image of one or more frames: a multi-picture image such as the busy
// spinner, or an animated bitmap read whole from a file.
struct TvImage {
    std::vector<QImage> frames;
    // Seconds per frame; 0 when the image carries none.
    double frameDuration = 0;
    // Read from an animated bitmap (drawn scaled into the view's bounds),
    // else a set of pictures (drawn at the origin).
    bool isAnimatedBitmap = false;

    bool isNull() const { return frames.empty() || frames.front().isNull(); }
    int frameCount() const { return int(frames.size()); }
    QSize size() const { return isNull() ? QSize() : frames.front().size(); }

    // Every frame of an image file (an animated GIF or any still picture
    // Qt reads) with the first frame's delay; a file that fails part-way
    // keeps the frames read. Null when nothing could be read.
    static TvImage fromFile(const QString& path);
};

// The picture of an image handle: its first frame, null for a null image.
QImage GetBitmapImage(const TvImage& image);

namespace TvUI {

// --- The flags word of the draw functions.
inline constexpr std::uint32_t kFlagOn = 0x1;           // value non-zero
inline constexpr std::uint32_t kFlagHighlighted = 0x2;  // pressed
inline constexpr std::uint32_t kFlagDisabled = 0x4;
inline constexpr std::uint32_t kFlagFocused = 0x8;      // first responder of the key window
inline constexpr std::uint32_t kFlagRollOver = 0x10;    // the mouse is inside
inline constexpr std::uint32_t kFlagFirstSegment = 0x40;
inline constexpr std::uint32_t kFlagLastSegment = 0x80;
inline constexpr std::uint32_t kFlagFlipped = 0x80000000u; // kept in the word; images are drawn upright

// Bits 16-23: a coloured push button's style, a slider's or scroller's
// style, or an image button's image index.
constexpr std::uint32_t styleFlags(int style) { return std::uint32_t(style & 0xFF) << 16; }
constexpr int styleOfFlags(std::uint32_t flags) { return int((flags >> 16) & 0xFF); }
// Bits 24-30: the image index of a coloured push button (0: no image).
constexpr std::uint32_t buttonImageFlags(int index) { return std::uint32_t(index & 0x7F) << 24; }
constexpr int buttonImageOfFlags(std::uint32_t flags) { return int((flags >> 24) & 0x7F); }

inline constexpr std::uint32_t kFocusRGB = 0xFFA200;

// Plain sRGB colour of a packed 0xRRGGBB value.
QColor colorWithDeviceRGB(std::uint32_t rgb, double alpha = 1.0);

// "The system font of size N": the application font at N pixels.
QFont systemFont(int pixelSize, bool bold = false);

// Text colour of a control kind: 1 white, 2 #696969, 3 white, 4 #101010,
// any other kind black.
QColor controlTitleColor(int kind);

// --- Shared images.

inline constexpr int kUIImagePartCount = 14;
// Reads the image-part table from the main bundle (again): parts 0 to 11
// are the spinner's frames, 12 "general_32", 13 "icn_plugin". The table
// loads on first use; call this after the main bundle changed.
void loadUIImageParts();
// The part of that tag; a null image outside 0 to 13 or when the bundle
// lacks it.
TvImage imagePartsAtTag(int tag);
// Turns part 0 into the 12-frame spinner: each frame is part i drawn on
// white, 0.1 s per frame. Nothing when part 0 is missing or already has
// more than one frame.
void setupSpinnerImage();

// A named image of the main bundle, cached; null when absent (a damaged
// install draws nothing).
QImage kitImageNamed(const std::string& name);

// Image buttons: 22 rows of seven slots (normal, normal on, disabled,
// disabled on, roll-over, roll-over on, pressed); null for an empty slot
// or a row outside the table.
inline constexpr int kButtonImageRows = 22;
const char* buttonImageName(int row, int slot);
// The slot the flags choose: on adds 1, disabled 2/3, roll-over 4/5,
// pressed 6 only in rows 3 to 5.
int buttonImageSlot(int row, std::uint32_t flags);

// --- Drawing. Types 0 to 12 of the background table; any other the
// settings grid's row (leading half #F6F6F6, a line along the bottom).
void drawRectForView(QPainter& painter, const QRectF& rect, unsigned type);

void drawScrollerWithFrame(QPainter& painter, const QRectF& frame, bool isKnob, std::uint32_t flags);
void drawRoundedButtonWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags);
void drawArrowButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title, std::uint32_t flags);
void drawColoredPushButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title,
                                    std::uint32_t flags);
void drawMenuButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title, std::uint32_t flags);
void drawImageButtonWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags);
void drawPreviewButtonWithFrame(QPainter& painter, const QRectF& frame, const QImage& image, std::uint32_t flags);
void drawTriangleButtonWithFrame(QPainter& painter, const QRectF& frame, const QString& title,
                                 std::uint32_t flags);
void drawSliderKnobWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags);
void drawSliderBarWithFrame(QPainter& painter, const QRectF& frame, std::uint32_t flags);
void drawSegmentWithFrame(QPainter& painter, const QRectF& frame, const QString& title, std::uint32_t flags);
void drawSettingTitleWithFrame(QPainter& painter, const QRectF& frame, const QString& title, bool isRounded);
void drawAlertContentView(QPainter& painter, const QRectF& frame);
void drawPanelContentView(QPainter& painter, const QRectF& frame);

// --- Sizes (titles measured in the system font of size 15).
QSizeF calcBestArrowButtonSizeWithTitle(const QString& title);
QSizeF calcColoredPushButtonButtonSizeWithTitle(const QString& title, double minSize);
QSizeF calcMenuButtonButtonSizeWithTitle(const QString& title);

// The kit's button kinds that size themselves to their title.
enum class ButtonKind { ColoredPush, Arrow, Menu, Other };
// Sizes the button to its title by its kind, keeping its right edge; an
// Other button is left alone. minSize is the coloured push button's minimum
// width.
void setBestWidth(QAbstractButton* button, ButtonKind kind, double minSize = 0);
// Text fields: width = text width + 6; origin and height kept.
void setBestWidth(QLabel* field);
void setBestWidth(QLineEdit* field);

} // namespace TvUI
