// Images for the toolkit-free code: models keep an opaque handle and ask the
// provider the application registered at start-up (the Qt one of
// QlrUtilsUI) for bundle images, image files and icons.
#pragma once

#include <memory>
#include <string>

namespace QlrUtilsMethod {

// An image of the toolkit; only the provider's own code looks inside.
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
    // A picture of the main bundle's resources by name (extension optional).
    virtual ImageRef bundleImage(const std::string& name) = 0;
    // An image file.
    virtual ImageRef imageFromFile(const std::string& path) = 0;
    // The file manager's icon of an existing file or folder.
    virtual ImageRef fileIcon(const std::string& path) = 0;
    // The generic folder icon.
    virtual ImageRef folderIcon() = 0;
};

// Registered once at start-up; null unregisters (tests).
void setImageProvider(std::shared_ptr<ImageProvider> provider);
std::shared_ptr<ImageProvider> imageProvider();

} // namespace QlrUtilsMethod
