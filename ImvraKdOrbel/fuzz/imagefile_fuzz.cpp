// The debug image readers (".tvk" and BMP) on arbitrary file contents: the
// first byte picks the reader, the rest is the file.
#include "CImgFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        return std::string(base && *base ? base : "/tmp") + "/imagefile_fuzz." +
               std::to_string(getpid());
    }();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    Tvk::Imvra::CImgFile img;
    const bool ok = (data[0] & 1) ? img.loadBmp(path.c_str()) : img.loadTvk(path.c_str());
    // A loaded image is whole: touch every byte of its buffer.
    if (ok) {
        volatile uint8_t sum = 0;
        for (uint32_t i = 0; i < img.info().tImageSize; ++i) sum = sum + img.info().lpImage[i];
    }
    std::remove(path.c_str());
    return 0;
}
