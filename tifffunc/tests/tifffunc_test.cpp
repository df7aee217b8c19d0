// The TIFF file helpers on small files built byte by byte (so every entry
// and offset is known) and on pages written by libtiff and read back by it.
#include "TiffFunc.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes cat(Bytes a, const Bytes& b) {
    for (unsigned char c : b) a.push_back(c);
    return a;
}

// A classic TIFF image assembled by hand in either byte order.
class Builder {
public:
    explicit Builder(bool big = false) : big_(big), b_(big ? Bytes{'M', 'M'} : Bytes{'I', 'I'}) {
        u16(42);
        u32(0); // first directory, linked by directory()
    }
    // Appends bytes (pixel data, value arrays) and answers their offset.
    uint32_t data(const Bytes& bytes) {
        const auto at = uint32_t(b_.size());
        b_.insert(b_.end(), bytes.begin(), bytes.end());
        return at;
    }
    uint32_t words(const std::vector<uint32_t>& v, int size) {
        const auto at = uint32_t(b_.size());
        for (uint32_t x : v) size == 2 ? u16(uint16_t(x)) : u32(x);
        return at;
    }
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        Bytes field; // the 4 bytes of the value field, already in order
    };
    Bytes field16(uint16_t a, uint16_t b = 0) const { return cat(order16(a), order16(b)); }
    Bytes field32(uint32_t v) const {
        Bytes f(4);
        for (int i = 0; i < 4; ++i) f[size_t(i)] = uint8_t(big_ ? v >> (24 - 8 * i) : v >> (8 * i));
        return f;
    }
    // Adds a directory (sorted as given) linked behind the previous one;
    // answers its offset.
    uint32_t directory(const std::vector<Entry>& entries) {
        if (b_.size() % 2) b_.push_back(0);
        const auto at = uint32_t(b_.size());
        put32(link_, at);
        u16(uint16_t(entries.size()));
        for (const auto& e : entries) {
            u16(e.tag);
            u16(e.type);
            u32(e.count);
            b_.insert(b_.end(), e.field.begin(), e.field.end());
        }
        link_ = b_.size();
        u32(0);
        return at;
    }
    void padTo(size_t size) { b_.resize(size, 0xAB); }
    const Bytes& bytes() const { return b_; }
    size_t linkOfLast() const { return link_; }

private:
    Bytes order16(uint16_t v) const { return big_ ? Bytes{uint8_t(v >> 8), uint8_t(v)} : Bytes{uint8_t(v), uint8_t(v >> 8)}; }
    void u16(uint16_t v) { b_ = cat(b_, order16(v)); }
    void u32(uint32_t v) { b_ = cat(b_, field32(v)); }
    void put32(size_t at, uint32_t v) {
        const Bytes f = field32(v);
        std::copy(f.begin(), f.end(), b_.begin() + long(at));
    }
    bool big_;
    Bytes b_;
    size_t link_ = 4;
};

uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

struct TiffFunc : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        const char* base = std::getenv("KD_TEST_TMP");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tifffunc-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
        return p.string();
    }
    static Bytes read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    // A page through libtiff: width x height, 1, 8 or 24 bits; pixel (x, y)
    // = (x * 7 + y * 3 + seed), or bit 0 of (x / 4 + y / 3 + seed) for 1 bit
// (runs a fax coder takes).
    std::string libtiffPage(const std::string& name, uint32_t w, uint32_t h, int bits, int seed,
                            uint16_t compression = COMPRESSION_NONE) {
        const std::string p = (dir / name).string();
        TIFF* t = TIFFOpen(p.c_str(), "wl");
        EXPECT_NE(t, nullptr);
        const int spp = bits == 24 ? 3 : 1;
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits == 24 ? 8 : bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, bits == 24 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16u);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        const tmsize_t row = TIFFScanlineSize(t);
        Bytes line(size_t(row), 0);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w * uint32_t(spp); ++x) {
                const int v = bits == 1 ? int(x / 4 + y / 3) + seed : int(x * 7 + y * 3) + seed;
                if (bits == 1) {
                    if (v & 1) line[x / 8] |= uint8_t(0x80 >> (x % 8));
                    else line[x / 8] &= uint8_t(~(0x80 >> (x % 8)));
                } else {
                    line[x] = uint8_t(v);
                }
            }
            EXPECT_EQ(TIFFWriteScanline(t, line.data(), y, 0), 1);
        }
        TIFFClose(t);
        return p;
    }
    // Checks that directory n of the file holds the page libtiffPage made.
    static void expectPage(TIFF* t, uint32_t w, uint32_t h, int bits, int seed) {
        uint32_t gw = 0, gh = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &gw);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &gh);
        ASSERT_EQ(gw, w);
        ASSERT_EQ(gh, h);
        const int spp = bits == 24 ? 3 : 1;
        Bytes line(size_t(TIFFScanlineSize(t)));
        for (uint32_t y = 0; y < h; ++y) {
            ASSERT_EQ(TIFFReadScanline(t, line.data(), y, 0), 1);
            for (uint32_t x = 0; x < w * uint32_t(spp); ++x) {
                const int v = bits == 1 ? int(x / 4 + y / 3) + seed : int(x * 7 + y * 3) + seed;
                const int got = bits == 1 ? (line[x / 8] >> (7 - x % 8)) & 1 : line[x];
                ASSERT_EQ(got, bits == 1 ? (v & 1) : (v & 0xFF)) << "x " << x << " y " << y;
            }
        }
    }
};

TEST_F(TiffFunc, AppendedPagesReadBackWholeInOrder) {
    const std::string d = libtiffPage("d.tif", 37, 40, 1, 0, COMPRESSION_CCITTFAX4);
    const std::string s1 = libtiffPage("s1.tif", 21, 19, 8, 5);
    const std::string s2 = libtiffPage("s2.tif", 13, 35, 24, 9);
    const std::string s3 = libtiffPage("s3.tif", 64, 33, 1, 1, COMPRESSION_CCITTFAX3);
    for (const auto& s : {s1, s2, s3}) ASSERT_EQ(ConcatTiff(d.c_str(), s.c_str()), kTiffOK);

    TIFF* t = TIFFOpen(d.c_str(), "r");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(t), 4);
    expectPage(t, 37, 40, 1, 0);
    ASSERT_TRUE(TIFFReadDirectory(t));
    expectPage(t, 21, 19, 8, 5);
    ASSERT_TRUE(TIFFReadDirectory(t));
    expectPage(t, 13, 35, 24, 9);
    float xres = 0;
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres); // a rational behind a moved offset
    EXPECT_FLOAT_EQ(xres, 300.0f);
    ASSERT_TRUE(TIFFReadDirectory(t));
    expectPage(t, 64, 33, 1, 1);
    TIFFClose(t);
}

TEST_F(TiffFunc, AppendMovesOffsetsByTiffsOwnRule) {
    // D: two directories in 12000 bytes; S: one directory in 5000 bytes.
    Builder db;
    const uint32_t strip0 = db.data(Bytes(100, 1));
    db.directory({{273, 4, 1, db.field32(strip0)}});
    const uint32_t strip1 = db.data(Bytes(100, 2));
    db.directory({{273, 4, 1, db.field32(strip1)}});
    db.padTo(12000);

    Builder sb;
    const uint32_t strips = sb.words({100, 200, 300, 400}, 4);
    const uint32_t bps = sb.words({8, 8, 8}, 2);
    const uint32_t counts = sb.words({10, 20, 30, 40}, 4);
    const uint32_t rational = sb.words({300, 1}, 4);
    const uint32_t sDir = sb.directory({
        {258, 3, 3, sb.field32(bps)},             // BitsPerSample SHORT x3: offset, moved
        {273, 4, 4, sb.field32(strips)},          // StripOffsets x4: offset and values moved
        {279, 4, 4, sb.field32(counts)},          // StripByteCounts x4: offset moved, values kept
        {282, 5, 1, sb.field32(rational)},        // RATIONAL: always an offset
        {297, 3, 2, sb.field16(1, 2)},            // SHORT x2 in the field: kept
        {279, 3, 2, sb.field16(7, 9)},            // a SHORT StripByteCounts x2 in the field: kept
        {513, 4, 1, sb.field32(77)},              // JPEG offset in the field: moved
    });
    sb.padTo(5000);

    const std::string d = write("d.tif", db.bytes());
    const std::string s = write("s.tif", sb.bytes());
    ASSERT_EQ(ConcatTiff(d.c_str(), s.c_str()), kTiffOK);
    const Bytes out = read(d);
    ASSERT_EQ(out.size(), 17000u);
    EXPECT_TRUE(std::equal(db.bytes().begin(), db.bytes().begin() + long(db.linkOfLast()), out.begin()));

    // Three directories: the old last one now links to the moved first.
    int fd = ::open(d.c_str(), O_RDONLY);
    int32_t links = -1;
    uint32_t link = 0;
    int64_t pos = 0, end = 0;
    ASSERT_EQ(SearchLinkPos(fd, &links, &link, &pos, &end), kTiffOK);
    ::close(fd);
    EXPECT_EQ(links, 3);
    EXPECT_EQ(end, 17000);
    EXPECT_EQ(le32(out, db.linkOfLast()), sDir + 12000);

    const size_t e = sDir + 12000 + 2;
    auto field = [&](int i) { return le32(out, e + size_t(i) * 12 + 8); };
    EXPECT_EQ(field(0), bps + 12000);
    EXPECT_EQ(field(1), strips + 12000);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(le32(out, strips + 12000 + size_t(k) * 4), uint32_t(100 * (k + 1) + 12000));
    EXPECT_EQ(field(2), counts + 12000);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(le32(out, counts + 12000 + size_t(k) * 4), uint32_t(10 * (k + 1)));
    EXPECT_EQ(field(3), rational + 12000);
    EXPECT_EQ(le16(out, e + 4 * 12 + 8), 1);
    EXPECT_EQ(le16(out, e + 4 * 12 + 10), 2);
    EXPECT_EQ(le16(out, e + 5 * 12 + 8), 7);
    EXPECT_EQ(field(6), 77u + 12000);
}

TEST_F(TiffFunc, SearchLinkPosCountsAndPositions) {
    Builder b;
    const uint32_t d1 = b.directory({{256, 3, 1, b.field16(1)}});
    const uint32_t d2 = b.directory({{256, 3, 1, b.field16(2)}, {257, 3, 1, b.field16(2)}});
    const uint32_t d3 = b.directory({{256, 3, 1, b.field16(3)}});
    const std::string p = write("c.tif", b.bytes());
    const int fd = ::open(p.c_str(), O_RDONLY);
    struct Case {
        int32_t count;
        int rc;
        int32_t countOut;
        uint32_t link;
        int64_t pos;
    } cases[] = {
        {-1, 0, 3, 0, int64_t(d3) + 2 + 12},
        {1, 0, 1, d1, 4},
        {2, 0, 2, d2, int64_t(d1) + 2 + 12},
        {3, 0, 3, d3, int64_t(d2) + 2 + 24},
        {4, 0, 4, 0, int64_t(d3) + 2 + 12},
        {6, 1, 6, 0, int64_t(d3) + 2 + 12}, // the chain ended before six links
    };
    for (const auto& c : cases) {
        int32_t n = c.count;
        uint32_t link = 99;
        int64_t pos = 0, end = 0;
        EXPECT_EQ(SearchLinkPos(fd, &n, &link, &pos, &end), c.rc) << c.count;
        EXPECT_EQ(n, c.countOut) << c.count;
        EXPECT_EQ(link, c.link) << c.count;
        EXPECT_EQ(pos, c.pos) << c.count;
        EXPECT_EQ(end, int64_t(b.bytes().size()));
    }
    ::close(fd);
}

// Damaged or hostile destinations: each gives its code and stays as it was.
TEST_F(TiffFunc, BrokenDestinationsAreRefusedUnchanged) {
    const std::string s = libtiffPage("s.tif", 8, 8, 8, 0);
    Builder loop;
    const uint32_t self = loop.directory({{256, 3, 1, loop.field16(1)}});
    Bytes looped = loop.bytes();
    std::memcpy(looped.data() + loop.linkOfLast(), &self, 4); // points at itself (little-endian host)
    Builder past;
    past.directory({{256, 3, 1, past.field16(1)}});
    Bytes pastEnd = past.bytes();
    const uint32_t far = 1u << 30;
    std::memcpy(pastEnd.data() + past.linkOfLast(), &far, 4);
    Bytes overrun = past.bytes();
    overrun[8] = 0xFF; // 255 entries in a file of a few bytes
    Bytes big = Builder(true).bytes();

    struct Case {
        const char* name;
        Bytes bytes;
        int rc;
    } cases[] = {
        {"loop", looped, kTiffBadHeader},
        {"past the end", pastEnd, kTiffRead},
        {"entry count overrun", overrun, kTiffRead},
        {"short", Bytes{'I', 'I', 42}, kTiffBadHeader},
        {"big-endian", big, kTiffBadHeader},
        {"no tiff", Bytes(64, 'x'), kTiffBadHeader},
    };
    for (const auto& c : cases) {
        const std::string d = write("d.tif", c.bytes);
        EXPECT_EQ(ConcatTiff(d.c_str(), s.c_str()), c.rc) << c.name;
        EXPECT_EQ(read(d), c.bytes) << c.name;
    }
    EXPECT_EQ(ConcatTiff((dir / "missing.tif").c_str(), s.c_str()), kTiffOpenDestination);
    const std::string d = libtiffPage("d.tif", 8, 8, 8, 0);
    EXPECT_EQ(ConcatTiff(d.c_str(), (dir / "missing.tif").c_str()), kTiffOpenSource);
}

TEST_F(TiffFunc, FailedWriteLeavesTheDestinationAsItWas) {
    const std::string d = libtiffPage("d.tif", 200, 100, 8, 0);
    const std::string s = libtiffPage("s.tif", 200, 100, 8, 3);
    const Bytes before = read(d);
    // The append runs out of file size part-way (a full disk, made real by
    // a size limit in a child of its own).
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {rlim_t(before.size() + 4096), rlim_t(before.size() + 4096)};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        ::_exit(ConcatTiff(d.c_str(), s.c_str()));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kTiffWrite);
    EXPECT_EQ(read(d), before);
}

TEST_F(TiffFunc, OffsetsBeyond32BitsAreRefused) {
    // A destination near 4 GiB, sparse, so no test writes gigabytes.
    const std::string d = libtiffPage("d.tif", 8, 8, 8, 0);
    ASSERT_EQ(::truncate(d.c_str(), off_t(UINT32_MAX) - 1000), 0);
    const std::string s = libtiffPage("s.tif", 64, 64, 8, 0); // well over 1000 bytes
    EXPECT_EQ(ConcatTiff(d.c_str(), s.c_str()), kTiffTooLarge);
    EXPECT_EQ(fs::file_size(d), uint64_t(UINT32_MAX) - 1000);
}

TEST_F(TiffFunc, ConvertIIMakesABigEndianPageReadable) {
    Builder b(true);
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const uint32_t strip = b.data(pixels);
    const uint32_t xres = b.words({150, 1}, 4);
    const uint32_t yres = b.words({600, 2}, 4);
    b.directory({
        {256, 3, 1, b.field16(4)},          // ImageWidth SHORT: swapped in the field
        {257, 4, 1, b.field32(3)},          // ImageLength LONG
        {258, 3, 1, b.field16(8)},
        {259, 3, 1, b.field16(1)},
        {262, 3, 1, b.field16(1)},
        {270, 2, 4, Bytes{'a', 'b', 'c', 0}}, // ASCII x4 in the field: kept
        {273, 4, 1, b.field32(strip)},
        {277, 3, 1, b.field16(1)},
        {278, 4, 1, b.field32(3)},
        {279, 4, 1, b.field32(12)},
        {282, 5, 1, b.field32(xres)},
        {283, 5, 1, b.field32(yres)},
    });
    const std::string p = write("mm.tif", b.bytes());
    ASSERT_EQ(ConvertII(p.c_str()), kTiffOK);
    const Bytes converted = read(p);
    EXPECT_EQ(converted[0], 'I');

    TIFF* t = TIFFOpen(p.c_str(), "r");
    ASSERT_NE(t, nullptr);
    uint32_t w = 0, h = 0;
    char* desc = nullptr;
    float xr = 0, yr = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &desc);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xr);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &yr);
    EXPECT_EQ(w, 4u);
    EXPECT_EQ(h, 3u);
    ASSERT_NE(desc, nullptr);
    EXPECT_STREQ(desc, "abc");
    EXPECT_FLOAT_EQ(xr, 150.0f);
    EXPECT_FLOAT_EQ(yr, 300.0f);
    Bytes row(4);
    for (uint32_t y = 0; y < 3; ++y) {
        ASSERT_EQ(TIFFReadScanline(t, row.data(), y, 0), 1);
        EXPECT_EQ(row, Bytes(pixels.begin() + long(y * 4), pixels.begin() + long(y * 4 + 4)));
    }
    TIFFClose(t);

    // Already little-endian: untouched; anything else: 1; no file: 2.
    ASSERT_EQ(ConvertII(p.c_str()), kTiffOK);
    EXPECT_EQ(read(p), converted);
    const std::string junk = write("junk.tif", Bytes(16, 'Z'));
    EXPECT_EQ(ConvertII(junk.c_str()), kTiffBadHeader);
    EXPECT_EQ(read(junk), Bytes(16, 'Z'));
    EXPECT_EQ(ConvertII((dir / "none.tif").c_str()), kTiffOpenDestination);
}

TEST_F(TiffFunc, BilevelPhotometricFix) {
    const std::string p = libtiffPage("bw.tif", 16, 4, 1, 0, COMPRESSION_CCITTFAX4); // MinIsBlack (1)
    ASSERT_EQ(FixBilevelTiffPhotometricInterpretation(p.c_str()), kTiffOK);
    TIFF* t = TIFFOpen(p.c_str(), "r");
    ASSERT_NE(t, nullptr);
    uint16_t photometric = 9;
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    EXPECT_EQ(photometric, PHOTOMETRIC_MINISWHITE);
    TIFFClose(t);
    const Bytes fixed = read(p);
    ASSERT_EQ(FixBilevelTiffPhotometricInterpretation(p.c_str()), kTiffOK);
    EXPECT_EQ(read(p), fixed); // already 0: left alone
}

} // namespace
