#include "ImageProvider.h"

#include <mutex>

namespace QlrUtilsMethod {

Image::~Image() = default;
ImageProvider::~ImageProvider() = default;

namespace {
std::mutex sLock;
std::shared_ptr<ImageProvider> sProvider;
} // namespace

void setImageProvider(std::shared_ptr<ImageProvider> provider) {
    std::lock_guard lock(sLock);
    sProvider = std::move(provider);
}

std::shared_ptr<ImageProvider> imageProvider() {
    std::lock_guard lock(sLock);
    return sProvider;
}

} // namespace QlrUtilsMethod
