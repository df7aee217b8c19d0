#include "QlrUtilsMethod.h"

#include <gtest/gtest.h>

using namespace QlrUtilsMethod;
using namespace std::string_literals;

namespace {

TEST(Names, InvalidCharactersAreCodePoints) {
    struct Row {
        std::string name;
        bool valid;
    } const rows[] = {
        {"", true},
        {"Scan 2024", true},
        {"report:1", false},
        {"a/b", false},
        {"price\xC2\xA5", false},       // the yen sign
        {"\xC2\xA0\xA5", true},         // no yen sign, only its second byte
        {"\xE3\x81\x82\xE3\x82\xA5", true}, // Japanese text holding the byte A5
        {"nul\0byte"s, false},
        {"a*b", false}, {"a?b", false}, {"a<b", false}, {"a>b", false}, {"a|b", false}, {"a\"b", false},
        {"back\\slash", true},
    };
    for (const auto& row : rows) EXPECT_EQ(isValidNameInString(row.name), row.valid) << row.name;
    EXPECT_TRUE(isHeadCharDotInString(".hidden"));
    EXPECT_FALSE(isHeadCharDotInString("a.b"));
    EXPECT_FALSE(isHeadCharDotInString(""));
}

TEST(Names, MaxDigitsStopsAtEighteen) {
    const std::pair<std::int64_t, std::int64_t> rows[] = {
        {-1, 0}, {0, 0}, {1, 9}, {3, 999}, {18, 999999999999999999LL}, {19, 999999999999999999LL},
        {INT64_MAX, 999999999999999999LL}};
    for (auto [digits, value] : rows) EXPECT_EQ(maxDigNumForFileWrite(digits), value) << digits;
}

TEST(Strings, TrimRangeAndDelete) {
    EXPECT_EQ(deleteSpaceHeadAndTail(" \t name x \xE3\x80\x80"), "name x"); // ideographic space
    EXPECT_EQ(deleteSpaceHeadAndTail("   "), "");
    EXPECT_EQ(deleteSpaceHeadAndTail("a\n"), "a\n"); // line ends are no white space here
    EXPECT_FALSE(deleteSpaceHeadAndTail(""));

    struct Row {
        std::string chars, text;
        unsigned options;
        CharRange range;
    } const rows[] = {
        {"/:", "a:b/c", 0, {1, 1}},
        {"/:", "a:b/c", kBackwardsSearch, {3, 1}},
        {"\xC2\xA5", "ab\xC2\xA5", 0, {2, 2}},
        {"x", "abc", 0, {kNotFound, 0}},
        {"", "abc", 0, {0, 0}},
        {"a", "", 0, {0, 0}},
        {"B", "abc", kCaseInsensitiveSearch, {1, 1}},
        {"b", "abc", kAnchoredSearch, {kNotFound, 0}},
        {"c", "abc", kAnchoredSearch | kBackwardsSearch, {2, 1}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(rangeOfCharInStrByOption(row.chars, row.text, row.options), row.range) << row.text;

    EXPECT_EQ(deleteString("scan_scan.pdf", PartToDelete("scan")), "_scan.pdf");
    EXPECT_FALSE(deleteString("scan.pdf", PartToDelete("tif")));
    EXPECT_FALSE(deleteString("scan.pdf", PartToDelete("")));
}

TEST(Rotate1Bpp, MatchesAPixelOracle) {
    struct Size {
        long w, h;
    } const sizes[] = {{1, 1}, {8, 3}, {13, 9}};
    for (auto [w, h] : sizes) {
        const std::size_t row = std::size_t(w + 7) / 8;
        std::vector<std::uint8_t> src(row * std::size_t(h));
        unsigned seed = 12345;
        for (auto& b : src) b = std::uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
        const auto px = [&](long x, long y) { return (src[std::size_t(y) * row + std::size_t(x / 8)] >> (7 - x % 8)) & 1; };
        for (int direct = 0; direct <= 2; ++direct) {
            const long lines = direct == 2 ? h : w, len = direct == 2 ? w : h;
            for (long a = 0; a < lines; ++a) {
                std::vector<std::uint8_t> dst(std::size_t(len + 7) / 8 + 1, 0xFF);
                rotate_Image1Bpp(a, dst, src, w, h, direct);
                for (long i = 0; i < len; ++i) {
                    const int want = direct == 0 ? px(a, h - 1 - i) : direct == 1 ? px(w - 1 - a, i) : px(w - 1 - i, a);
                    ASSERT_EQ((dst[std::size_t(i / 8)] >> (7 - i % 8)) & 1, want)
                        << w << "x" << h << " direct " << direct << " line " << a << " pixel " << i;
                }
                // Padding bits of the line are cleared; the byte after it is untouched.
                for (long i = len; i < long(std::size_t(len + 7) / 8 * 8); ++i)
                    EXPECT_EQ((dst[std::size_t(i / 8)] >> (7 - i % 8)) & 1, 0);
                EXPECT_EQ(dst.back(), 0xFF);
            }
        }
    }
}

TEST(Rotate1Bpp, WritesNothingOutOfBounds) {
    // Width 8, direction 2: exactly the one byte of the row is read (a
    // sanitizer build catches more), from a buffer of exactly one row.
    const std::vector<std::uint8_t> src = {0b10110000};
    std::vector<std::uint8_t> dst(1);
    rotate_Image1Bpp(0, dst, src, 8, 1, 2);
    EXPECT_EQ(dst[0], 0b00001101);

    const auto untouched = [&](long a, std::size_t dstSize, std::size_t srcSize, long w, long h, int direct) {
        std::vector<std::uint8_t> s(srcSize, 0xFF), d(dstSize, 0xAA);
        rotate_Image1Bpp(a, d, s, w, h, direct);
        return std::all_of(d.begin(), d.end(), [](auto b) { return b == 0xAA; });
    };
    EXPECT_TRUE(untouched(0, 4, 4, 8, 4, 3));  // unknown direction
    EXPECT_TRUE(untouched(8, 4, 4, 8, 4, 0));  // line past the width
    EXPECT_TRUE(untouched(4, 4, 4, 8, 4, 2));  // line past the height
    EXPECT_TRUE(untouched(-1, 4, 4, 8, 4, 1));
    EXPECT_TRUE(untouched(0, 4, 4, 0, 4, 0));  // no width
    EXPECT_TRUE(untouched(0, 4, 4, 8, -1, 0)); // negative height
    EXPECT_TRUE(untouched(0, 1, 4, 8, 9, 0));  // short source
    EXPECT_TRUE(untouched(0, 1, 4, 13, 2, 2)); // short destination line
}

} // namespace
