#include "BundleImages.h"

#include <QImage>
#include <QPainter>

#include <tiffio.h>

#include <cstdint>

namespace ComTavrolekKD720 {

namespace {

// Translators and packagers may drop any file here: a picture larger than a
// screen is refused rather than allocated.
constexpr std::uint32_t kMaxSide = 4096;

} // namespace

std::optional<QPixmap> LoadTiffImage(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::optional<QPixmap> result;
    if (TIFF* tiff = TIFFOpen(path.c_str(), "r")) {
        std::uint32_t width = 0, height = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        if (width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide) {
            // Rows of 32-bit pixels, red in the lowest byte, alpha
            // premultiplied: QImage's premultiplied RGBA in memory order.
            QImage image(int(width), int(height), QImage::Format_RGBA8888_Premultiplied);
            static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
            if (!image.isNull() && image.bytesPerLine() == qsizetype(width) * 4 &&
                TIFFReadRGBAImageOriented(tiff, width, height, reinterpret_cast<std::uint32_t*>(image.bits()),
                                          ORIENTATION_TOPLEFT, 0))
                result = QPixmap::fromImage(image);
        }
        TIFFClose(tiff);
    }
    return result;
}

QPixmap MirroredImage(const QPixmap& image) {
    if (image.isNull()) return image;
    QPixmap mirrored(image.size());
    mirrored.setDevicePixelRatio(image.devicePixelRatio());
    mirrored.fill(Qt::transparent);
    QPainter painter(&mirrored);
    painter.translate(image.deviceIndependentSize().width(), 0);
    painter.scale(-1, 1);
    painter.drawPixmap(QPointF(0, 0), image);
    return mirrored;
}

} // namespace ComTavrolekKD720
