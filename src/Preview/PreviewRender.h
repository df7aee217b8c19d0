// Making the preview picture of a scanned page: the size it is drawn at and
// its pixels, read from the page's raw file through the line scaler.
//
// Raw page files hold rows of packed samples from top to bottom with no
// header: 1-bit rows of (width + 7) / 8 bytes, most significant bit first,
// a set bit white; 8-bit gray rows; 24-bit rows of red, green, blue.
#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace preview_render {

// Between the screen's usable area and the preview: the thumbnail column
// and the window's frame take this much width, and the page keeps this
// inset from the preview's edges.
inline constexpr double kWidthTaken = 97;
inline constexpr double kAreaInset = 23;
// A 1-bit page is always drawn enlarged this much, so its lines do not break
// up; other pages only when they are not fitted.
inline constexpr double kExpandFactor = 4.0;

// The space a page is fitted into: the screen's available geometry less the
// column's width and the scan screen's header and information bar, inset
// on every side.
QSizeF availableArea(const QRectF& screenArea, double headerHeight, double infoHeight);

// The fitted size of a page (the page itself when it is smaller than the
// area both ways, else scaled into it keeping its ratio) and the size of
// the bitmap that is made for it: the fitted size times the factor,
// rounded up. None when a size is not positive or does not fit an int.
struct PreviewSizes {
    QSizeF fitted;
    QSize target;
};
std::optional<PreviewSizes> previewSizes(double sourceWidth, double sourceHeight, int bitsPerPixel, QSizeF area,
                                         bool isFitSize);

// The picture format of a raw page's depth: mono (with the colour table
// {black, white}), gray or RGB; Format_Invalid for any other depth.
QImage::Format formatForDepth(int bitsPerPixel);

// Bytes of one raw row; 0 for a depth without rows or a width that is not
// positive.
std::uint64_t rawLineBytes(std::int64_t width, int bitsPerPixel);

// Scales the raw page read from the file to the target size. The picture
// starts white, so rows a short file never reaches stay white; no row past
// the last is ever written. Null when the depth is not 1, 8 or 24, a size
// is not positive, memory is short or the scaler refuses the sizes.
QImage renderRawPage(std::FILE* file, std::int64_t width, std::int64_t height, int bitsPerPixel, QSize target);
// The same from the file at the path; null when it does not open.
QImage renderRawPageFile(const std::string& path, std::int64_t width, std::int64_t height, int bitsPerPixel,
                         QSize target);

} // namespace preview_render
