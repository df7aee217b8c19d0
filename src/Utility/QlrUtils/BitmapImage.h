// A bitmap made without a toolkit: the page transfer scales each page into
// one line by line, and the preview shows it (QlrUtilsUI turns it into a
// QImage over the same pixels). Rows are top to bottom, not planar, no
// alpha; 1-bit rows are packed most significant bit first with a set bit
// meaning white, 8-bit rows are gray, 24-bit rows are red, green, blue.
#pragma once

#include "ImageProvider.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace QlrUtilsMethod {

class BitmapImage : public Image {
public:
    enum class ColorSpace { White, RGB };

    // A zero-filled bitmap; null when the sizes or sample layout are not one
    // of 1 x 1 bit, 1 x 8 bits (white) or 3 x 8 bits (RGB), when bytesPerRow
    // cannot hold a row, or when the memory cannot be had. The display size
    // is what width() and height() answer.
    static std::shared_ptr<BitmapImage> make(int pixelsWide, int pixelsHigh, int bitsPerSample, int samplesPerPixel,
                                             ColorSpace space, std::size_t bytesPerRow, double displayWidth,
                                             double displayHeight);

    // The display size, truncated.
    int width() const override;
    int height() const override;
    double displayWidth() const { return displayWidth_; }
    double displayHeight() const { return displayHeight_; }

    int pixelsWide() const { return pixelsWide_; }
    int pixelsHigh() const { return pixelsHigh_; }
    int bitsPerSample() const { return bitsPerSample_; }
    int samplesPerPixel() const { return samplesPerPixel_; }
    int bitsPerPixel() const { return bitsPerSample_ * samplesPerPixel_; }
    ColorSpace colorSpace() const { return colorSpace_; }
    std::size_t bytesPerRow() const { return bytesPerRow_; }
    // Bytes of a row that hold pixels (the rest of bytesPerRow is padding).
    std::size_t usedBytesPerRow() const;

    const std::uint8_t* bitmapData() const { return pixels_.get(); }
    std::uint8_t* bitmapData() { return pixels_.get(); }
    std::uint8_t* row(int y) { return pixels_.get() + std::size_t(y) * bytesPerRow_; }
    const std::uint8_t* row(int y) const { return pixels_.get() + std::size_t(y) * bytesPerRow_; }

private:
    BitmapImage() = default;

    int pixelsWide_ = 0;
    int pixelsHigh_ = 0;
    int bitsPerSample_ = 0;
    int samplesPerPixel_ = 0;
    ColorSpace colorSpace_ = ColorSpace::White;
    std::size_t bytesPerRow_ = 0;
    double displayWidth_ = 0;
    double displayHeight_ = 0;
    std::unique_ptr<std::uint8_t[]> pixels_;
};

} // namespace QlrUtilsMethod
