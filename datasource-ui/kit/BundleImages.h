// The settings window's images from its bundle's resources. They are TIFF
// files read with libtiff, so they load whatever image plug-ins the host's
// Qt carries.
#pragma once

#include <QPixmap>

#include <optional>
#include <string>

namespace ComTavrolekKD720 {

// The image of a TIFF file; nothing when the file is missing or unreadable.
std::optional<QPixmap> LoadTiffImage(const std::string& path);
// The image drawn mirrored left to right into a new image of the same size.
QPixmap MirroredImage(const QPixmap& image);

} // namespace ComTavrolekKD720
