#include "BitmapImage.h"

#include <limits>
#include <new>

namespace QlrUtilsMethod {

namespace {

bool validLayout(int bitsPerSample, int samplesPerPixel, BitmapImage::ColorSpace space) {
    using CS = BitmapImage::ColorSpace;
    if (samplesPerPixel == 1) return space == CS::White && (bitsPerSample == 1 || bitsPerSample == 8);
    return samplesPerPixel == 3 && bitsPerSample == 8 && space == CS::RGB;
}

} // namespace

std::shared_ptr<BitmapImage> BitmapImage::make(int pixelsWide, int pixelsHigh, int bitsPerSample, int samplesPerPixel,
                                               ColorSpace space, std::size_t bytesPerRow, double displayWidth,
                                               double displayHeight) {
    if (pixelsWide <= 0 || pixelsHigh <= 0 || !validLayout(bitsPerSample, samplesPerPixel, space)) return nullptr;
    const std::size_t bits = std::size_t(pixelsWide) * std::size_t(bitsPerSample * samplesPerPixel);
    if (bytesPerRow < (bits + 7) / 8) return nullptr;
    if (bytesPerRow > std::numeric_limits<std::size_t>::max() / std::size_t(pixelsHigh)) return nullptr;
    std::shared_ptr<BitmapImage> image(new (std::nothrow) BitmapImage());
    if (!image) return nullptr;
    image->pixels_.reset(new (std::nothrow) std::uint8_t[bytesPerRow * std::size_t(pixelsHigh)]());
    if (!image->pixels_) return nullptr;
    image->pixelsWide_ = pixelsWide;
    image->pixelsHigh_ = pixelsHigh;
    image->bitsPerSample_ = bitsPerSample;
    image->samplesPerPixel_ = samplesPerPixel;
    image->colorSpace_ = space;
    image->bytesPerRow_ = bytesPerRow;
    image->displayWidth_ = displayWidth;
    image->displayHeight_ = displayHeight;
    return image;
}

int BitmapImage::width() const { return int(displayWidth_); }
int BitmapImage::height() const { return int(displayHeight_); }

std::size_t BitmapImage::usedBytesPerRow() const {
    return (std::size_t(pixelsWide_) * std::size_t(bitsPerPixel()) + 7) / 8;
}

} // namespace QlrUtilsMethod
