// Images for the toolkit-free models: an opaque handle and the provider the
// application registers at start-up (bundle images, image files, icons).
#pragma once

#include <memory>
#include <string>

namespace QlrUtilsMethod {

class Image {
public:
    virtual ~Image();
    virtual int width() const = 0;
    virtual int height() const = 0;
};
using ImageRef = std::shared_ptr<const Image>;

class ImageProvider {
public:
    virtual ~ImageProvider();
    virtual ImageRef bundleImage(const std::string& name) = 0;
    virtual ImageRef imageFromFile(const std::string& path) = 0;
    virtual ImageRef fileIcon(const std::string& path) = 0;
    virtual ImageRef folderIcon() = 0;
};

// Null unregisters.
void setImageProvider(std::shared_ptr<ImageProvider> provider);
std::shared_ptr<ImageProvider> imageProvider();

} // namespace QlrUtilsMethod
