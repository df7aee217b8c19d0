// PNM files the virtual scanner reads as pages: any input is read within
// its bytes or refused with a message; what is read scales and renders.
#include "VirtualPages.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kdvirtual::PageImage img;
    std::string error;
    if (!kdvirtual::readPnm(data, size, img, error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (img.pixels.size() != static_cast<std::size_t>(img.width) * img.height * img.channels) __builtin_trap();
    if (static_cast<long long>(img.width) * img.height > 1 << 20) return 0; // keep runs fast
    kdvirtual::Sheet sheet;
    sheet.widthMm = img.width * 25.4 / 150;
    sheet.heightMm = img.height * 25.4 / 150;
    sheet.side[0].image = std::make_shared<kdvirtual::PageImage>(img);
    sheet.side[0].dpi = 150;
    kdvirtual::renderSide(sheet, 0, 64, 8, 300, 100, 0, 3, 245);
    return 0;
}
