#include "TiffFunc.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A chain longer than this is taken as broken: the pages of one output
// file stay far below it, and it bounds the work on a hostile file.
constexpr uint32_t kMaxDirectories = 100000;
constexpr uint32_t kEntrySize = 12;
constexpr uint16_t kTagPhotometric = 262;

enum class Order { Little, Big };

uint16_t load16(const unsigned char* p, Order o) {
    return o == Order::Little ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
}
uint32_t load32(const unsigned char* p, Order o) {
    return o == Order::Little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                              : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}
void storeLE16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void storeLE32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Size in bytes of one element of a TIFF field type; 0 for an unknown type.
uint32_t typeSize(uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1; // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                 // SHORT, SSHORT
    case 4: case 9: case 11: return 4;        // LONG, SLONG, FLOAT
    case 5: case 10: case 12: return 8;       // RATIONAL, SRATIONAL, DOUBLE
    default: return 0;
    }
}

// Bytes of an entry's values; above 4 they lie behind an offset.
uint64_t valueBytes(uint16_t type, uint32_t count) { return uint64_t(typeSize(type)) * count; }

// Whole reads and writes at a position; false on an error or a short
// transfer (a read past the end of the file).
bool readAt(int fd, int64_t pos, void* buf, size_t n) {
    auto* p = static_cast<unsigned char*>(buf);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, pos);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        pos += got;
        n -= size_t(got);
    }
    return true;
}
bool writeAt(int fd, int64_t pos, const void* buf, size_t n) {
    auto* p = static_cast<const unsigned char*>(buf);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, p, n, pos);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        pos += put;
        n -= size_t(put);
    }
    return true;
}

bool readU16(int fd, int64_t pos, Order o, uint16_t& v) {
    unsigned char b[2];
    if (!readAt(fd, pos, b, 2)) return false;
    v = load16(b, o);
    return true;
}
bool readU32(int fd, int64_t pos, Order o, uint32_t& v) {
    unsigned char b[4];
    if (!readAt(fd, pos, b, 4)) return false;
    v = load32(b, o);
    return true;
}
bool writeLE32(int fd, int64_t pos, uint32_t v) {
    unsigned char b[4];
    storeLE32(b, v);
    return writeAt(fd, pos, b, 4);
}

bool isLittleEndianTiff(int fd) {
    unsigned char h[4];
    return readAt(fd, 0, h, 4) && h[0] == 0x49 && h[1] == 0x49 && h[2] == 0x2A && h[3] == 0x00;
}

int closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

// A directory at offset `dir` of a file of `size` bytes: its entry count,
// checked so that the entries and the next-directory field lie inside.
int directoryAt(int fd, int64_t size, uint32_t dir, Order o, uint16_t& count) {
    if (dir < 8 || int64_t(dir) + 2 > size) return kTiffRead;
    if (!readU16(fd, dir, o, count)) return kTiffRead;
    if (int64_t(dir) + 2 + int64_t(count) * kEntrySize + 4 > size) return kTiffRead;
    return kTiffOK;
}

// Calls f(directory offset, entry count) for every directory of the chain
// from the header, in order. Stops with an error at an offset outside the
// file, a repeated offset or too many directories.
template <class F> int forEachDirectory(int fd, int64_t size, Order o, F&& f) {
    uint32_t dir = 0;
    if (!readU32(fd, 4, o, dir)) return kTiffRead;
    std::set<uint32_t> seen;
    while (dir != 0) {
        if (!seen.insert(dir).second || seen.size() > kMaxDirectories) return kTiffBadHeader;
        uint16_t count = 0;
        if (const int rc = directoryAt(fd, size, dir, o, count)) return rc;
        if (const int rc = f(dir, count)) return rc;
        if (!readU32(fd, int64_t(dir) + 2 + int64_t(count) * kEntrySize, o, dir)) return kTiffRead;
    }
    return kTiffOK;
}

// Moves the offsets of one directory of the appended file by `shift`.
// A value field holds an offset when its values take more than 4 bytes
// (TIFF's own rule); the strip and JPEG offsets also move every value.
int shiftDirectory(int fd, int64_t size, uint32_t dir, uint16_t count, uint32_t shift) {
    for (uint32_t i = 0; i < count; ++i) {
        const int64_t at = int64_t(dir) + 2 + int64_t(i) * kEntrySize;
        unsigned char e[kEntrySize];
        if (!readAt(fd, at, e, sizeof e)) return kTiffRead;
        const uint16_t tag = load16(e, Order::Little);
        const uint16_t type = load16(e + 2, Order::Little);
        const uint32_t n = load32(e + 4, Order::Little);
        const uint32_t elem = typeSize(type);
        if (elem == 0) continue; // unknown type: nothing to interpret
        const bool offsetValues = tag == 273 || tag == 513 || tag == 519 || tag == 520 || tag == 521;
        const uint64_t bytes = valueBytes(type, n);
        if (bytes > 4) {
            const uint32_t old = load32(e + 8, Order::Little);
            if (uint64_t(old) + shift + bytes > uint64_t(size)) return kTiffRead;
            storeLE32(e + 8, old + shift);
            if (offsetValues) {
                if (elem != 2 && elem != 4) return kTiffBadHeader;
                std::vector<unsigned char> values(bytes);
                const int64_t pos = int64_t(old) + shift;
                if (!readAt(fd, pos, values.data(), values.size())) return kTiffRead;
                for (uint32_t k = 0; k < n; ++k) {
                    unsigned char* v = values.data() + size_t(k) * elem;
                    if (elem == 4) {
                        storeLE32(v, load32(v, Order::Little) + shift);
                    } else {
                        const uint32_t moved = uint32_t(load16(v, Order::Little)) + shift;
                        if (moved > 0xFFFF) return kTiffBadHeader;
                        storeLE16(v, uint16_t(moved));
                    }
                }
                if (!writeAt(fd, pos, values.data(), values.size())) return kTiffWrite;
            }
        } else if (offsetValues) {
            for (uint32_t k = 0; k < n; ++k) {
                unsigned char* v = e + 8 + k * elem;
                if (elem == 4) {
                    storeLE32(v, load32(v, Order::Little) + shift);
                } else if (elem == 2) {
                    const uint32_t moved = uint32_t(load16(v, Order::Little)) + shift;
                    if (moved > 0xFFFF) return kTiffBadHeader;
                    storeLE16(v, uint16_t(moved));
                } else {
                    return kTiffBadHeader;
                }
            }
        } else {
            continue;
        }
        if (!writeAt(fd, at + 8, e + 8, 4)) return kTiffWrite;
    }
    return kTiffOK;
}

// Steps 2 to 4 of an append, on open files; any error leaves the rest to
// the caller's roll-back.
int appendInto(int d, int s, int64_t oldSize, int64_t sourceSize, int64_t finalLink) {
    const uint32_t shift = uint32_t(oldSize);
    std::vector<unsigned char> buf(1 << 20);
    for (int64_t done = 0; done < sourceSize;) {
        const size_t n = size_t(std::min<int64_t>(int64_t(buf.size()), sourceSize - done));
        if (!readAt(s, done, buf.data(), n)) return kTiffRead;
        if (!writeAt(d, oldSize + done, buf.data(), n)) return kTiffWrite;
        done += int64_t(n);
    }
    // Link the source's directories: the destination's last directory to the
    // source's first, and each copied next-directory field moved.
    for (int32_t k = 1;; ++k) {
        int32_t links = k;
        uint32_t link = 0;
        int64_t linkPos = 0, end = 0;
        if (SearchLinkPos(s, &links, &link, &linkPos, &end) != kTiffOK || link == 0) break;
        if (!writeLE32(d, k == 1 ? finalLink : oldSize + linkPos, link + shift)) return kTiffWrite;
    }
    if (!isLittleEndianTiff(d)) return kTiffBadHeader;
    const int64_t size = oldSize + sourceSize;
    return forEachDirectory(d, size, Order::Little, [&](uint32_t dir, uint16_t count) {
        return dir > shift ? shiftDirectory(d, size, dir, count, shift) : kTiffOK;
    });
}

} // namespace

extern "C" {

int64_t GetFileSize(int fd) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return end < 0 ? -1 : int64_t(end);
}

int SearchLinkPos(int fd, int32_t* linkCount, uint32_t* linkValue, int64_t* linkPosition,
                  int64_t* endPosition) {
    if (!isLittleEndianTiff(fd)) return kTiffBadHeader;
    const int64_t size = GetFileSize(fd);
    if (size < 0) return kTiffSeek;
    const bool counted = *linkCount >= 0;
    const int32_t wanted = *linkCount;
    std::set<uint32_t> seen;
    int64_t pos = 4;
    uint32_t link = 0;
    int32_t read = 0;
    int rc = kTiffOK;
    for (;;) {
        if (counted && read == wanted) break;
        if (!readU32(fd, pos, Order::Little, link)) return kTiffRead;
        *linkPosition = pos;
        ++read;
        if (link == 0) {
            if (counted && read < wanted) rc = kTiffBadHeader;
            break;
        }
        if (counted && read == wanted) break;
        if (!seen.insert(link).second || seen.size() > kMaxDirectories) return kTiffBadHeader;
        uint16_t count = 0;
        if (const int e = directoryAt(fd, size, link, Order::Little, count)) return e;
        pos = int64_t(link) + 2 + int64_t(count) * kEntrySize;
    }
    *linkValue = link;
    if (!counted) *linkCount = read - 1; // the zero link is no directory
    *endPosition = size;
    return rc;
}

int ConcatTiff(const char* destination, const char* source) {
    const int d = ::open(destination, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (d < 0) return kTiffOpenDestination;
    int32_t links = -1;
    uint32_t link = 0;
    int64_t finalLink = 0, oldSize = 0;
    if (const int rc = SearchLinkPos(d, &links, &link, &finalLink, &oldSize)) {
        ::close(d);
        return rc;
    }
    const int s = ::open(source, O_RDONLY | O_CLOEXEC);
    if (s < 0) {
        ::close(d);
        return kTiffOpenSource;
    }
    int rc = kTiffOK;
    const int64_t sourceSize = GetFileSize(s);
    if (sourceSize < 0)
        rc = kTiffSeek;
    else if (!isLittleEndianTiff(s))
        rc = kTiffBadHeader;
    else if (oldSize + sourceSize > int64_t(UINT32_MAX))
        rc = kTiffTooLarge; // the moved offsets would wrap
    else if ((rc = appendInto(d, s, oldSize, sourceSize, finalLink)) != kTiffOK) {
        // All or nothing: the appended bytes go, the old last link comes back.
        if (::ftruncate(d, oldSize) != 0 || !writeLE32(d, finalLink, 0)) rc = kTiffWrite;
    }
    if (!closeChecked(d) && rc == kTiffOK) rc = kTiffCloseDestination;
    if (!closeChecked(s) && rc == kTiffOK) rc = kTiffCloseSource;
    return rc;
}

int ConvertII(const char* path) {
    const int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return kTiffOpenDestination;
    auto finish = [fd](int rc) {
        if (!closeChecked(fd) && rc == kTiffOK) rc = kTiffCloseDestination;
        return rc;
    };
    unsigned char h[8];
    if (!readAt(fd, 0, h, sizeof h)) return finish(kTiffRead);
    if (h[0] == 'I' && h[1] == 'I') return finish(kTiffOK);
    if (h[0] != 'M' || h[1] != 'M') return finish(kTiffBadHeader);
    const int64_t size = GetFileSize(fd);
    if (size < 0) return finish(kTiffSeek);
    const uint32_t dir = load32(h + 4, Order::Big);
    uint16_t count = 0;
    if (const int rc = directoryAt(fd, size, dir, Order::Big, count)) return finish(rc);
    for (uint32_t i = 0; i < count; ++i) {
        const int64_t at = int64_t(dir) + 2 + int64_t(i) * kEntrySize;
        unsigned char e[kEntrySize];
        if (!readAt(fd, at, e, sizeof e)) return finish(kTiffRead);
        const uint16_t tag = load16(e, Order::Big);
        const uint16_t type = load16(e + 2, Order::Big);
        const uint32_t n = load32(e + 4, Order::Big);
        const uint32_t elem = typeSize(type);
        const uint64_t bytes = valueBytes(type, n);
        if (bytes > 4) {
            const uint32_t offset = load32(e + 8, Order::Big);
            if (uint64_t(offset) + bytes > uint64_t(size)) return finish(kTiffRead);
            // Multi-byte data behind the offset, element by element (a
            // rational is two longs); bytes and text stay.
            const uint32_t unit = (type == 5 || type == 10) ? 4 : elem;
            if (unit > 1) {
                std::vector<unsigned char> data(bytes);
                if (!readAt(fd, offset, data.data(), data.size())) return finish(kTiffRead);
                for (size_t k = 0; k + unit <= data.size(); k += unit)
                    std::reverse(data.begin() + long(k), data.begin() + long(k + unit));
                if (!writeAt(fd, offset, data.data(), data.size())) return finish(kTiffWrite);
            }
            storeLE32(e + 8, offset);
        } else if (elem > 1) {
            for (uint32_t k = 0; k + elem <= 4; k += elem) std::reverse(e + 8 + k, e + 8 + k + elem);
        }
        storeLE16(e, tag);
        storeLE16(e + 2, type);
        storeLE32(e + 4, n);
        if (!writeAt(fd, at, e, sizeof e)) return finish(kTiffWrite);
    }
    unsigned char c[2];
    storeLE16(c, count);
    if (!writeAt(fd, dir, c, 2)) return finish(kTiffWrite);
    const unsigned char header[8] = {'I', 'I', 42, 0, uint8_t(dir), uint8_t(dir >> 8), uint8_t(dir >> 16),
                                     uint8_t(dir >> 24)};
    if (!writeAt(fd, 0, header, sizeof header)) return finish(kTiffWrite);
    return finish(kTiffOK);
}

int FixBilevelTiffPhotometricInterpretation(const char* path) {
    const int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return kTiffOpenDestination;
    unsigned char h[2];
    int rc = kTiffOK;
    const int64_t size = GetFileSize(fd);
    if (size < 0) {
        rc = kTiffSeek;
    } else if (!readAt(fd, 0, h, 2)) {
        rc = kTiffRead;
    } else {
        const Order o = (h[0] == 'I' && h[1] == 'I') ? Order::Little : Order::Big;
        rc = forEachDirectory(fd, size, o, [&](uint32_t dir, uint16_t count) {
            int64_t last = -1; // the last PhotometricInterpretation entry
            for (uint32_t i = 0; i < count; ++i) {
                const int64_t at = int64_t(dir) + 2 + int64_t(i) * kEntrySize;
                uint16_t tag = 0;
                if (!readU16(fd, at, o, tag)) return int(kTiffRead);
                if (tag == kTagPhotometric) last = at;
            }
            if (last < 0) return int(kTiffOK);
            uint16_t value = 0;
            if (!readU16(fd, last + 8, o, value)) return int(kTiffRead);
            const unsigned char zero[2] = {0, 0};
            if (value != 0 && !writeAt(fd, last + 8, zero, 2)) return int(kTiffWrite);
            return int(kTiffOK);
        });
    }
    if (!closeChecked(fd) && rc == kTiffOK) rc = kTiffCloseDestination;
    return rc;
}

} // extern "C"
