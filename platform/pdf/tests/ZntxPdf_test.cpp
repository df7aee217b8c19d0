#include "ZntxPdf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string TestPath(const char* name) {
    const char* base = std::getenv("KD_TEST_TMP");
    return std::string(base && *base ? base : "/tmp") + "/zntx_" + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const uint8_t kSubmodePdfa[16] = {1, 0, 16, 0, 0xF1, 0x01, 0, 0};

} // namespace

TEST(ZntxPdf, CallsOutOfOrderFail) {
    const std::vector<uint8_t> pixels(16, 0x80);
    const ZNTX_PAGE page{pixels.data(), 4, 4, 4, 72, 72, ZNTX_KIND_GRAY, 0, 0};
    EXPECT_LT(ZNTX_spmake(&page, nullptr), 0);
    EXPECT_LT(ZNTX_exclose(0), 0);
    EXPECT_LT(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, kSubmodePdfa), 0);
    EXPECT_LT(ZNTX_exmodeset(7, 0, 0), 0);
    EXPECT_LT(ZNTX_exopen(nullptr, 0, 0), 0);
}

TEST(ZntxPdf, PagesOfEveryKindAndRefusals) {
    ASSERT_EQ(ZNTX_exmodeset(2, 0, 0), 0);
    const std::string path = TestPath("kinds.pdf");
    ASSERT_EQ(ZNTX_exopen(path.c_str(), 0, 0), 0);
    EXPECT_LT(ZNTX_exopen(path.c_str(), 0, 0), 0); // one file at a time
    EXPECT_EQ(ZNTX_submodeset(ZNTX_SUBMODE_PDFA, kSubmodePdfa), 0);
    EXPECT_LT(ZNTX_submodeset(99, kSubmodePdfa), 0);
    std::vector<uint8_t> pixels(12 * 5, 0x5A);
    const ZNTX_PAGE pages[] = {
        {pixels.data(), 2, 13, 5, 200, 200, ZNTX_KIND_BILEVEL, 0, 0},
        {pixels.data(), 12, 12, 5, 0, 0, ZNTX_KIND_GRAY, 0, 0},
        {pixels.data(), 12, 4, 5, 300, 150, ZNTX_KIND_COLOUR, 0, 0},
    };
    for (const ZNTX_PAGE& p : pages) EXPECT_EQ(ZNTX_spmake(&p, nullptr), 0) << p.kind;
    const int32_t region[4] = {0, 0, 6, 3};
    EXPECT_EQ(ZNTX_spmake(&pages[1], region), 0);
    const int32_t outside[4] = {0, 0, 13, 3};
    EXPECT_LT(ZNTX_spmake(&pages[1], outside), 0);
    const ZNTX_PAGE shortRows{pixels.data(), 11, 12, 5, 72, 72, ZNTX_KIND_GRAY, 0, 0};
    EXPECT_LT(ZNTX_spmake(&shortRows, nullptr), 0);
    const ZNTX_PAGE badKind{pixels.data(), 12, 12, 5, 72, 72, 5, 0, 0};
    EXPECT_LT(ZNTX_spmake(&badKind, nullptr), 0);
    // A refused page leaves the file open for the next one.
    EXPECT_EQ(ZNTX_spmake(&pages[2], nullptr), 0);
    ASSERT_EQ(ZNTX_exclose(0), 0);
    const std::string pdf = ReadFile(path);
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
#ifdef KD_QPDF
    const std::string qpdf = KD_QPDF;
    if (!qpdf.empty() && qpdf.find("NOTFOUND") == std::string::npos) {
        const std::string check = qpdf + " --check '" + path + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0);
        const std::string pages = qpdf + " --show-npages '" + path + "'";
        std::FILE* out = popen(pages.c_str(), "r");
        ASSERT_NE(out, nullptr);
        int n = 0;
        EXPECT_EQ(std::fscanf(out, "%d", &n), 1);
        pclose(out);
        EXPECT_EQ(n, 5);
    }
#endif
    std::filesystem::remove(path);
}
