#include "ZntxPdf.h"

#include "PdfReadBack.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace pdftest;

// A fresh folder per test, also used as TMPDIR so the layer's work folders
// land inside it and can be looked at.
class PdfTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("KD_TEST_TMP");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zntx.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
        const char* old = std::getenv("TMPDIR");
        m_oldTmp = old ? old : "";
        m_hadTmp = old != nullptr;
        setenv("TMPDIR", m_dir.c_str(), 1);
    }
    void TearDown() override {
        if (m_hadTmp)
            setenv("TMPDIR", m_oldTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string path(const std::string& name) const { return m_dir + "/" + name; }
    // Every file the layer left in its work folders.
    std::vector<fs::path> pageFiles() const {
        std::vector<fs::path> out;
        const fs::path work = m_dir + "/kd-" + std::to_string(getuid());
        std::error_code ec;
        if (!fs::exists(work, ec)) return out;
        for (const auto& e : fs::recursive_directory_iterator(work, ec))
            if (e.is_regular_file()) out.push_back(e.path());
        return out;
    }
    // Files beside the targets other than the named ones.
    std::vector<std::string> strayFiles(const std::vector<std::string>& known) const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(m_dir)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("kd-", 0) == 0) continue;
            if (std::find(known.begin(), known.end(), name) == known.end()) out.push_back(name);
        }
        return out;
    }

    std::string m_dir;
    std::string m_oldTmp;
    bool m_hadTmp = false;
};

// A page image with its own pixels.
struct Image {
    std::vector<uint8_t> pixels;
    ZNTX_PAGE page{};
};

Image MakeImage(int32_t kind, int32_t width, int32_t height, int32_t dpi, uint8_t fill,
                int32_t padding = 0) {
    Image img;
    const int32_t bytes = kind == ZNTX_KIND_BILEVEL ? (width + 7) / 8
                          : kind == ZNTX_KIND_GRAY  ? width
                                                    : width * 3;
    const int32_t rowBytes = bytes + padding;
    img.pixels.assign(static_cast<size_t>(rowBytes) * height, fill);
    img.page = ZNTX_PAGE{img.pixels.data(), rowBytes, width, height, dpi, dpi, kind, 0, 0};
    return img;
}

int SetQuality(uint32_t quality) {
    const ZNTX_SUBMODE_QUALITY_RECORD q{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_QUALITY_LENGTH, quality};
    return ZNTX_submodeset(ZNTX_SUBMODE_QUALITY, &q);
}

const ZNTX_SUBMODE_PDFA_RECORD kPlain{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_PDFA_LENGTH,
                                      ZNTX_PDFA_MODE_PLAIN, 0, 0};

// The rows of a Group 4 stream, decoded by libtiff: 1 where the stream
// codes black (what a reader shows black without /BlackIs1).
std::vector<std::vector<bool>> DecodeGroup4(const std::string& data, int width, int height,
                                            const std::string& scratch) {
    std::vector<std::vector<bool>> rows;
    TIFF* out = TIFFOpen(scratch.c_str(), "w");
    if (out == nullptr) return rows;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, height);
    TIFFWriteRawStrip(out, 0, const_cast<char*>(data.data()), static_cast<tmsize_t>(data.size()));
    TIFFClose(out);
    TIFF* in = TIFFOpen(scratch.c_str(), "r");
    if (in == nullptr) return rows;
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(in)));
    for (int y = 0; y < height; ++y) {
        if (TIFFReadScanline(in, line.data(), static_cast<uint32_t>(y)) < 0) break;
        std::vector<bool> row(static_cast<size_t>(width));
        for (int x = 0; x < width; ++x) row[x] = (line[x / 8] >> (7 - x % 8)) & 1;
        rows.push_back(std::move(row));
    }
    TIFFClose(in);
    return rows;
}

} // namespace

TEST_F(PdfTest, CallsOutOfOrderFail) {
    Image img = MakeImage(ZNTX_KIND_GRAY, 4, 4, 72, 0x80);
    EXPECT_LT(ZNTX_spmake(&img.page, nullptr), 0);
    EXPECT_LT(ZNTX_exclose(0), 0);
    EXPECT_LT(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, &kPlain), 0);
    EXPECT_LT(ZNTX_exopen(nullptr, 0, 0), 0);
    EXPECT_LT(ZNTX_exopen("", 0, 0), 0);
    EXPECT_LT(ZNTX_changepath(nullptr), 0);
    EXPECT_EQ(ZNTX_changepath(""), 0);
    EXPECT_EQ(ZNTX_changepath("/nonexistent/frameworks/"), 0);
    // Compression 0 and 2 only; the language pair is taken as it is.
    for (int mode : {-1, 1, 3, 7}) EXPECT_EQ(ZNTX_exmodeset(mode, 2, 0), ZNTX_ERR_ARGUMENT) << mode;
    EXPECT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_NONE, 8192, 5), 0);
    EXPECT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_HIGH, 4, 256), 0);
}

TEST_F(PdfTest, BadInputIsRefusedAndTheDocumentGoesOn) {
    ASSERT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_HIGH, 0, 0), 0);
    const std::string target = path("bad.pdf");
    ASSERT_EQ(ZNTX_exopen(target.c_str(), 1, 0), 0);
    // PDF/A and recognition are accepted (and make no difference yet).
    const ZNTX_SUBMODE_PDFA_RECORD archive{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_PDFA_LENGTH,
                                           ZNTX_PDFA_MODE_ARCHIVE, 0, 0};
    EXPECT_EQ(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, &archive), 0);
    EXPECT_EQ(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, &kPlain), 0);
    // Records: wrong id, version, length (also the other record's length),
    // mode and quality. An 8-byte record under id 150 is never read past.
    const ZNTX_SUBMODE_PDFA_RECORD badVersion{2, ZNTX_SUBMODE_PDFA_LENGTH, ZNTX_PDFA_MODE_PLAIN, 0,
                                              0};
    const ZNTX_SUBMODE_PDFA_RECORD badMode{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_PDFA_LENGTH, 498, 0,
                                           0};
    const ZNTX_SUBMODE_QUALITY_RECORD shortRecord{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_QUALITY_LENGTH,
                                                  497};
    const ZNTX_SUBMODE_PDFA_RECORD longQuality{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_PDFA_LENGTH, 50,
                                               0, 0};
    EXPECT_LT(ZNTX_submodeset(99, &kPlain), 0);
    EXPECT_LT(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, nullptr), 0);
    EXPECT_LT(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, &badVersion), 0);
    EXPECT_LT(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, &badMode), 0);
    EXPECT_LT(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, &shortRecord), 0);
    EXPECT_LT(ZNTX_submodeset(ZNTX_SUBMODE_QUALITY, &longQuality), 0);
    for (uint32_t q : {0u, 101u, 0xFFFFFFFFu}) EXPECT_LT(SetQuality(q), 0) << q;
    for (uint32_t q : {1u, 100u, 50u}) EXPECT_EQ(SetQuality(q), 0) << q;

    // Pages: each row of exactly the bytes the kind needs, one short.
    struct Case {
        int32_t kind, width, height, rowBytes;
    };
    const Case refused[] = {
        {ZNTX_KIND_BILEVEL, 17, 4, 2}, {ZNTX_KIND_GRAY, 12, 4, 11},
        {ZNTX_KIND_COLOUR, 4, 4, 11},  {5, 4, 4, 100},
        {ZNTX_KIND_GRAY, 0, 4, 4},     {ZNTX_KIND_GRAY, 4, 0, 4},
        {ZNTX_KIND_GRAY, -4, 4, 4},    {ZNTX_KIND_GRAY, 4, 4, -4},
    };
    std::vector<uint8_t> pixels(400, 0x5A);
    for (const Case& c : refused) {
        const ZNTX_PAGE page{pixels.data(), c.rowBytes, c.width, c.height, 72, 72, c.kind, 0, 0};
        EXPECT_LT(ZNTX_spmake(&page, nullptr), 0) << c.kind << " " << c.width << "x" << c.height;
    }
    const ZNTX_PAGE noData{nullptr, 4, 4, 4, 72, 72, ZNTX_KIND_GRAY, 0, 0};
    EXPECT_LT(ZNTX_spmake(&noData, nullptr), 0);
    EXPECT_LT(ZNTX_spmake(nullptr, nullptr), 0);
    // Regions: from the top-left corner and within the page.
    Image gray = MakeImage(ZNTX_KIND_GRAY, 12, 5, 0, 0x40, 3);
    for (const auto& r :
         std::vector<std::vector<int32_t>>{{1, 0, 6, 3}, {0, 0, 13, 3}, {0, 0, 6, 6}, {0, 0, 0, 3}})
        EXPECT_LT(ZNTX_spmake(&gray.page, r.data()), 0) << r[0] << r[2] << r[3];
    const int32_t region[4] = {0, 0, 6, 3};
    EXPECT_EQ(ZNTX_spmake(&gray.page, region), 0);
    EXPECT_EQ(ZNTX_spmake(&gray.page, nullptr), 0);
    ASSERT_EQ(ZNTX_exclose(0), 0);
    if (!HaveQpdf()) GTEST_SKIP() << "no qpdf";
    EXPECT_TRUE(QpdfCheck(target));
    const std::vector<PageImage> pages = ReadPages(target);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].pixelsWide, 6);
    EXPECT_NEAR(pages[0].width, 6, 0.01); // no resolution: 72 dpi
    EXPECT_EQ(pages[1].pixelsWide, 12);
    EXPECT_TRUE(pageFiles().empty());
}

TEST_F(PdfTest, EncodingByKindAndCompression) {
    if (!HaveQpdf()) GTEST_SKIP() << "no qpdf";
    struct Case {
        int32_t kind;
        int compression;
        int32_t width, height, dpi;
        const char* filter;
        int bits;
    };
    // A4 at 300 dpi is 2480 x 3508 pixels, 595 x 842 points.
    const Case cases[] = {
        {ZNTX_KIND_BILEVEL, ZNTX_COMPRESSION_NONE, 2480, 3508, 300, "/CCITTFaxDecode", 1},
        {ZNTX_KIND_BILEVEL, ZNTX_COMPRESSION_HIGH, 13, 7, 200, "/CCITTFaxDecode", 1},
        {ZNTX_KIND_GRAY, ZNTX_COMPRESSION_NONE, 30, 20, 150, "/FlateDecode", 8},
        {ZNTX_KIND_GRAY, ZNTX_COMPRESSION_HIGH, 30, 20, 150, "/DCTDecode", 8},
        {ZNTX_KIND_COLOUR, ZNTX_COMPRESSION_NONE, 31, 9, 300, "/FlateDecode", 8},
        {ZNTX_KIND_COLOUR, ZNTX_COMPRESSION_HIGH, 2480, 3508, 300, "/DCTDecode", 8},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << n);
        const std::string target = path("enc" + std::to_string(n++) + ".pdf");
        ASSERT_EQ(ZNTX_exmodeset(c.compression, 0, 0), 0);
        ASSERT_EQ(ZNTX_exopen(target.c_str(), 0, 0), 0);
        ASSERT_EQ(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, &kPlain), 0);
        ASSERT_EQ(SetQuality(75), 0);
        // Red in blue-green-red order; a bilevel page black at its top left.
        const int32_t padding = c.kind == ZNTX_KIND_BILEVEL ? 2 : 0;
        Image img = MakeImage(c.kind, c.width, c.height, c.dpi, 0, padding);
        if (c.kind == ZNTX_KIND_COLOUR)
            for (size_t i = 2; i < img.pixels.size(); i += 3) img.pixels[i] = 0xFF;
        else if (c.kind == ZNTX_KIND_GRAY)
            std::fill(img.pixels.begin(), img.pixels.end(), 0xC8);
        else {
            // Bits past the width and the row's padding are not the page's.
            const int32_t used = (c.width + 7) / 8;
            for (int32_t y = 0; y < c.height; ++y) {
                uint8_t* row = img.pixels.data() + size_t(y) * img.page.rowBytes;
                if (c.width % 8) row[used - 1] = static_cast<uint8_t>(0xFF >> (c.width % 8));
                for (int32_t i = used; i < img.page.rowBytes; ++i) row[i] = 0xFF;
            }
            img.pixels[0] |= 0x80;
        }
        ASSERT_EQ(ZNTX_spmake(&img.page, nullptr), 0);
        img = Image{};
        ASSERT_EQ(ZNTX_exclose(0), 0);
        EXPECT_TRUE(QpdfCheck(target));
        const std::vector<PageImage> pages = ReadPages(target);
        ASSERT_EQ(pages.size(), 1u);
        const PageImage& p = pages[0];
        EXPECT_EQ(p.filter, c.filter);
        EXPECT_EQ(p.pixelsWide, c.width);
        EXPECT_EQ(p.bits, c.bits);
        EXPECT_NEAR(p.width, c.width * 72.0 / c.dpi, 1.0);
        EXPECT_NEAR(p.height, c.height * 72.0 / c.dpi, 1.0);
        if (c.width == 2480) {
            EXPECT_NEAR(p.width, 595, 1.0);
            EXPECT_NEAR(p.height, 842, 1.0);
        }
        uint8_t first[3] = {};
        if (p.filter == "/FlateDecode") {
            ASSERT_GE(p.decoded.size(), c.kind == ZNTX_KIND_COLOUR ? 3u : 1u);
            for (int i = 0; i < (c.kind == ZNTX_KIND_COLOUR ? 3 : 1); ++i)
                first[i] = static_cast<uint8_t>(p.decoded[i]);
            if (c.kind == ZNTX_KIND_GRAY) first[1] = first[2] = first[0];
        } else if (p.filter == "/DCTDecode") {
            ASSERT_TRUE(FirstJpegPixel(p.raw, first));
        } else {
            // Black only in the top-left pixel, shown black by any reader.
            EXPECT_FALSE(p.blackIs1);
            const auto rows = DecodeGroup4(p.raw, c.width, c.height, path("g4.tif"));
            ASSERT_EQ(rows.size(), size_t(c.height));
            EXPECT_TRUE(rows[0][0]);
            EXPECT_FALSE(rows[0][1]);
            EXPECT_FALSE(rows[1][0]);
            EXPECT_FALSE(rows[c.height - 1][c.width - 1]);
            continue;
        }
        if (c.kind == ZNTX_KIND_COLOUR) {
            EXPECT_GE(first[0], 240);
            EXPECT_LE(first[1], 15);
            EXPECT_LE(first[2], 15);
        } else {
            EXPECT_NEAR(first[0], 0xC8, 3);
        }
    }
    EXPECT_TRUE(pageFiles().empty());
}

TEST_F(PdfTest, PagesComeOutInOrder) {
    if (!HaveQpdf()) GTEST_SKIP() << "no qpdf";
    const std::string target = path("order.pdf");
    ASSERT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_NONE, 0, 0), 0);
    ASSERT_EQ(ZNTX_exopen(target.c_str(), 0, 0), 0);
    for (int i = 0; i < 12; ++i) {
        Image img = MakeImage(ZNTX_KIND_GRAY, 8 + i, 8, 72, static_cast<uint8_t>(i * 20));
        ASSERT_EQ(ZNTX_spmake(&img.page, nullptr), 0) << i;
    }
    ASSERT_EQ(pageFiles().size(), 12u); // written as they came
    ASSERT_EQ(ZNTX_exclose(0), 0);
    EXPECT_TRUE(QpdfCheck(target));
    const std::vector<PageImage> pages = ReadPages(target);
    ASSERT_EQ(pages.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(pages[i].pixelsWide, 8 + i);
        ASSERT_FALSE(pages[i].decoded.empty());
        EXPECT_EQ(static_cast<uint8_t>(pages[i].decoded[0]), i * 20) << i;
    }
    EXPECT_TRUE(pageFiles().empty());
    EXPECT_TRUE(strayFiles({"order.pdf"}).empty());
}

TEST_F(PdfTest, PagesFromSeveralThreads) {
    if (!HaveQpdf()) GTEST_SKIP() << "no qpdf";
    const std::string target = path("threads.pdf");
    ASSERT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_HIGH, 0, 0), 0);
    ASSERT_EQ(ZNTX_exopen(target.c_str(), 0, 0), 0);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            Image img = MakeImage(t % 2 ? ZNTX_KIND_COLOUR : ZNTX_KIND_BILEVEL, 40, 30, 100, 0x55);
            for (int i = 0; i < 3; ++i) failures[t] += ZNTX_spmake(&img.page, nullptr) != 0;
        });
    for (std::thread& t : threads) t.join();
    for (int f : failures) EXPECT_EQ(f, 0);
    ASSERT_EQ(ZNTX_exclose(0), 0);
    EXPECT_TRUE(QpdfCheck(target));
    EXPECT_EQ(ReadPages(target).size(), 12u);
}

TEST_F(PdfTest, FailedAssemblyLeavesNothing) {
    // A page file that can't be read, a target that is a folder, a target
    // in a folder that doesn't exist, and a document without pages.
    const std::string earlier = path("earlier.pdf");
    { std::ofstream(earlier) << "earlier"; }
    const std::string folder = path("folder.pdf");
    fs::create_directory(folder);
    struct Case {
        std::string target;
        bool corruptPage;
        int pages;
    };
    const Case cases[] = {
        {earlier, true, 2},
        {path("new.pdf"), true, 2},
        {folder, false, 1},
        {path("missing/new.pdf"), false, 1},
        {path("empty.pdf"), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        ASSERT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_NONE, 0, 0), 0);
        ASSERT_EQ(ZNTX_exopen(c.target.c_str(), 0, 0), 0);
        Image img = MakeImage(ZNTX_KIND_COLOUR, 16, 16, 72, 0x33);
        for (int i = 0; i < c.pages; ++i) ASSERT_EQ(ZNTX_spmake(&img.page, nullptr), 0);
        if (c.corruptPage) {
            const std::vector<fs::path> files = pageFiles();
            ASSERT_EQ(files.size(), 2u);
            std::ofstream(files[0], std::ios::trunc) << "not a PDF";
            std::ofstream(files[1], std::ios::trunc) << "not a PDF";
        }
        EXPECT_LT(ZNTX_exclose(0), 0);
        EXPECT_TRUE(pageFiles().empty());
        EXPECT_TRUE(strayFiles({"earlier.pdf", "folder.pdf"}).empty());
        // The document is closed: a new one opens.
        EXPECT_LT(ZNTX_exclose(0), 0);
    }
    EXPECT_EQ(ReadFile(earlier), "earlier");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(PdfTest, SecondOpenIsRefusedAndTheFirstClosesWhole) {
    if (!HaveQpdf()) GTEST_SKIP() << "no qpdf";
    const std::string first = path("first.pdf");
    const std::string second = path("second.pdf");
    ASSERT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_NONE, 0, 0), 0);
    ASSERT_EQ(ZNTX_exopen(first.c_str(), 0, 0), 0);
    Image img = MakeImage(ZNTX_KIND_GRAY, 10, 10, 72, 0x10);
    ASSERT_EQ(ZNTX_spmake(&img.page, nullptr), 0);
    // Another user of the layer in the process: its settings wait for the
    // next document, its open is refused.
    ASSERT_EQ(ZNTX_exmodeset(ZNTX_COMPRESSION_HIGH, 0, 0), 0);
    EXPECT_EQ(ZNTX_exopen(second.c_str(), 0, 0), ZNTX_ERR_STATE);
    ASSERT_EQ(ZNTX_spmake(&img.page, nullptr), 0);
    ASSERT_EQ(ZNTX_exclose(0), 0);
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(QpdfCheck(first));
    const std::vector<PageImage> pages = ReadPages(first);
    ASSERT_EQ(pages.size(), 2u);
    for (const PageImage& p : pages) EXPECT_EQ(p.filter, "/FlateDecode");
}

#if !defined(__SANITIZE_ADDRESS__)
// One page in memory at a time: colour A4 pages written without compression
// into one file keep the writer's peak size near that of a single page
// (about 26 MB of pixels, held a few times while it is written), far below
// the pages' total.
TEST_F(PdfTest, LongDocumentInBoundedMemory) {
    if (!HaveQpdf()) GTEST_SKIP() << "no qpdf";
    constexpr int kPages = 16; // 16 x 26 MB = 416 MB were they all kept
    const std::string target = path("long.pdf");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        failures += ZNTX_exmodeset(ZNTX_COMPRESSION_NONE, 0, 0) != 0;
        failures += ZNTX_exopen(target.c_str(), 0, 0) != 0;
        Image img = MakeImage(ZNTX_KIND_COLOUR, 2480, 3508, 300, 0);
        for (int i = 0; i < kPages; ++i) {
            std::fill(img.pixels.begin(), img.pixels.end(), static_cast<uint8_t>(i * 9));
            failures += ZNTX_spmake(&img.page, nullptr) != 0;
        }
        failures += ZNTX_exclose(0) != 0;
        _exit(failures == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "peak KB";
    const std::vector<PageImage> pages = ReadPages(target);
    ASSERT_EQ(pages.size(), size_t{kPages});
    EXPECT_TRUE(QpdfCheck(target));
}
#endif
