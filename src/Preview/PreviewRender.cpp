#include "PreviewRender.h"

#include "FG_Zoom.h"
#include "QlrUtilsMethodUI.h"

#include <climits>
#include <cmath>
#include <memory>
#include <new>

namespace preview_render {

QSizeF availableArea(const QRectF& screenArea, double headerHeight, double infoHeight) {
    const double width = screenArea.width() - kWidthTaken;
    const double height = screenArea.height() - headerHeight - infoHeight;
    return QSizeF(width - 2 * kAreaInset, height - 2 * kAreaInset);
}

std::optional<PreviewSizes> previewSizes(double sourceWidth, double sourceHeight, int bitsPerPixel, QSizeF area,
                                         bool isFitSize) {
    if (!(sourceWidth > 0) || !(sourceHeight > 0)) return std::nullopt;
    const QSizeF source(sourceWidth, sourceHeight);
    QSizeF fitted = source;
    if (!(source.width() < area.width() && source.height() < area.height())) {
        if (!(area.width() > 0) || !(area.height() > 0)) return std::nullopt;
        fitted = QlrUtilsMethod::resizeKeepRatio(source, area);
    }
    const double factor = (bitsPerPixel == 1 || !isFitSize) ? kExpandFactor : 1.0;
    const double w = std::ceil(fitted.width() * factor);
    const double h = std::ceil(fitted.height() * factor);
    if (!(w >= 1) || !(h >= 1) || w > INT_MAX || h > INT_MAX) return std::nullopt;
    return PreviewSizes{fitted, QSize(int(w), int(h))};
}

QImage::Format formatForDepth(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 1:
        return QImage::Format_Mono;
    case 8:
        return QImage::Format_Grayscale8;
    case 24:
        return QImage::Format_RGB888;
    default:
        return QImage::Format_Invalid;
    }
}

std::uint64_t rawLineBytes(std::int64_t width, int bitsPerPixel) {
    if (width <= 0 || bitsPerPixel <= 0) return 0;
    if (bitsPerPixel < 8) return (std::uint64_t(width) + 7) / 8;
    return std::uint64_t(bitsPerPixel / 8) * std::uint64_t(width);
}

QImage renderRawPage(std::FILE* file, std::int64_t width, std::int64_t height, int bitsPerPixel, QSize target) {
    const QImage::Format format = formatForDepth(bitsPerPixel);
    if (!file || format == QImage::Format_Invalid || width <= 0 || height <= 0 || width > INT_MAX ||
        height > INT_MAX || target.width() <= 0 || target.height() <= 0)
        return {};
    const std::uint64_t lineBytes = rawLineBytes(width, bitsPerPixel);
    if (lineBytes == 0 || lineBytes > std::uint64_t(INT_MAX)) return {};

    QImage image(target, format);
    if (image.isNull()) return {};
    if (format == QImage::Format_Mono) {
        // Raw pages store white as a set bit: index 1 is white.
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        image.fill(1);
    } else {
        image.fill(Qt::white);
    }

    std::unique_ptr<std::uint8_t[]> line(new (std::nothrow) std::uint8_t[lineBytes]);
    if (!line) return {};

    FG_Zoom zoom;
    if (zoom.Open(target.width(), target.height(), int(width), int(height), bitsPerPixel, 2) != FG_Zoom::kOk) {
        zoom.Close();
        return {};
    }
    int row = 0;
    for (std::int64_t y = 0; y < height && row < image.height(); ++y) {
        // A file shorter than its page ends the page here.
        if (std::fread(line.get(), 1, lineBytes, file) != lineBytes) break;
        if (zoom.Send(line.get()) != FG_Zoom::kOk) break;
        while (row < image.height() && zoom.ReadyLines() > 0 && zoom.Read(image.scanLine(row)) == FG_Zoom::kOk)
            ++row;
    }
    zoom.Close();
    return image;
}

QImage renderRawPageFile(const std::string& path, std::int64_t width, std::int64_t height, int bitsPerPixel,
                         QSize target) {
    if (path.empty()) return {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    QImage image = renderRawPage(file, width, height, bitsPerPixel, target);
    std::fclose(file);
    return image;
}

} // namespace preview_render
