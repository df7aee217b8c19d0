// Any bytes as the destination of an append, as a file to convert and to
// fix: no crash, no endless walk, and a refused append leaves the
// destination byte for byte as it was.
#include "TiffFunc.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& folder() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/tifffunc-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return dir;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    int c;
    while ((c = std::fgetc(f)) != EOF) out.push_back(uint8_t(c));
    std::fclose(f);
    return out;
}

// A valid one-page source: 2 x 2 gray pixels.
const std::vector<uint8_t> kSource = {
    'I', 'I', 42, 0, 12, 0, 0, 0, 1, 2, 3, 4,
    4, 0,                                     // four entries
    0, 1, 3, 0, 1, 0, 0, 0, 2, 0, 0, 0,       // ImageWidth 2
    1, 1, 3, 0, 1, 0, 0, 0, 2, 0, 0, 0,       // ImageLength 2
    17, 1, 4, 0, 1, 0, 0, 0, 8, 0, 0, 0,      // StripOffsets 8
    23, 1, 4, 0, 1, 0, 0, 0, 4, 0, 0, 0,      // StripByteCounts 4
    0, 0, 0, 0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string d = folder() + "/d.tif", s = folder() + "/s.tif";
    writeFile(s, kSource.data(), kSource.size());
    writeFile(d, data, size);
    const int rc = ConcatTiff(d.c_str(), s.c_str());
    if (rc != kTiffOK && readFile(d) != std::vector<uint8_t>(data, data + size)) std::abort();

    writeFile(d, data, size);
    ConvertII(d.c_str());
    writeFile(d, data, size);
    FixBilevelTiffPhotometricInterpretation(d.c_str());
    const int fd = ::open(d.c_str(), O_RDONLY);
    if (fd >= 0) {
        int32_t links = -1;
        uint32_t link = 0;
        int64_t pos = 0, end = 0;
        SearchLinkPos(fd, &links, &link, &pos, &end);
        ::close(fd);
    }
    return 0;
}
