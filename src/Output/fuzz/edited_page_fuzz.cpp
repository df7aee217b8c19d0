// An edited page is a TIFF file on disk that the writer reads back: any
// bytes must give a page of a supported depth with a whole buffer, or a
// named failure; never a crash or a read past the buffer.
#include "PageImage.h"

#include <foundation/Exception.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char tmpl[] = "/tmp/edited_page_fuzz.XXXXXX";
        const int fd = ::mkstemp(tmpl);
        if (fd >= 0) ::close(fd);
        return std::string(tmpl);
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        const qlr_output::PageBitmap b = qlr_output::readEditedPage(path);
        if (b.data.size() != b.bytesPerRow * std::size_t(b.height)) std::abort();
        if (b.bpp != 1 && b.bpp != 8 && b.bpp != 24) std::abort();
    } catch (const kdf::Exception&) {
    }
    return 0;
}
