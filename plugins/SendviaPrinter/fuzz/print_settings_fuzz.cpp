// Stored print settings are outside data (older or foreign settings): any
// bytes under "AppUser.PrintInfoDict" and "AppUser.PrintLayoutType" give
// usable settings or none, and usable ones give a rectangle to draw into.
#include "PrintInfo.h"
#include "PrinterController.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kdf::Dictionary user;
    user[sendvia_printer::kPrintInfoDictKey] = kdf::Bytes(data, data + size);
    user[sendvia_printer::kPrintLayoutTypeKey] = size ? int(data[0]) - 128 : 1;
    const int layout = sendvia_printer::storedLayoutType(user);
    if (layout != 0 && layout != 1) std::abort();
    const std::optional<sendvia_printer::PrintInfo> info = sendvia_printer::storedPrintInfo(user);
    if (!info) return 0;
    const QSizeF paper = info->paperSize();
    if (!(paper.width() > 0 && paper.height() > 0) || info->copies < 1 || !(info->scalingFactor > 0))
        std::abort();
    kdkit::RenderingView view(QRectF(QPointF(0, 0), paper));
    view.setIsPageFit(layout == 1);
    view.setDrawImage(QImage(7, 3, QImage::Format_RGB32));
    const QRectF bounds = view.drawingBounds(info->renderingSettings());
    if (!std::isfinite(bounds.x()) || !std::isfinite(bounds.y())) std::abort();
    return 0;
}
