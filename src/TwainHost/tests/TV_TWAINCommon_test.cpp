#include "Fix32Cases.h"
#include "TV_TWAINCommon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

kdf::Bytes text(const char* s) { return kdf::Bytes(s, s + std::strlen(s)); }

// Records sit in heap blocks of their exact size, so the sanitizer build
// catches any byte read or written past them.
template <class Record> struct Held {
    Record r;
};
template <class Record> std::unique_ptr<Held<Record>> filledRecord(char fill) {
    auto h = std::make_unique<Held<Record>>();
    std::memset(h->r, fill, sizeof(Record));
    return h;
}

bool allZero(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

TEST(Str32, WritesTextWithTerminatorAndRefusesOverlongInput) {
    struct Row {
        const char* name;
        std::optional<kdf::Bytes> data;
        bool ok;
        std::size_t written;
    };
    const Row rows[] = {
        {"no data", std::nullopt, true, 0},
        {"empty", kdf::Bytes{}, true, 0},
        {"short", text("None"), true, 4},
        {"33 bytes", kdf::Bytes(33, 'x'), true, 33},
        {"34 bytes", kdf::Bytes(34, 'x'), false, 0},
        {"300 bytes", kdf::Bytes(300, 'x'), false, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto rec = filledRecord<TW_STR32>('#');
        EXPECT_EQ(TV_TWAINCommon::str32FromNSData(rec->r, r.data ? &*r.data : nullptr), r.ok);
        if (r.written) {
            EXPECT_EQ(0, std::memcmp(rec->r, r.data->data(), r.written));
        }
        EXPECT_TRUE(allZero(rec->r + r.written, sizeof(TW_STR32) - r.written));
    }
}

TEST(Str32, ReadsTextUpToTheTerminatorWithinTheRecord) {
    auto rec = filledRecord<TW_STR32>(0);
    EXPECT_FALSE(TV_TWAINCommon::nsDataFromStr32(rec->r).has_value());

    const kdf::Bytes none = text("None");
    ASSERT_TRUE(TV_TWAINCommon::str32FromNSData(rec->r, &none));
    EXPECT_EQ(TV_TWAINCommon::nsDataFromStr32(rec->r), none);

    const kdf::Bytes full(33, 'y');
    ASSERT_TRUE(TV_TWAINCommon::str32FromNSData(rec->r, &full));
    EXPECT_EQ(TV_TWAINCommon::nsDataFromStr32(rec->r), full);

    // A record without any NUL still gives at most the 33 text bytes.
    auto unterminated = filledRecord<TW_STR32>('z');
    EXPECT_EQ(TV_TWAINCommon::nsDataFromStr32(unterminated->r), kdf::Bytes(33, 'z'));
}

TEST(Str64, CopiesWholeRecordImagesOnly) {
    kdf::Bytes image(66, 0);
    image[0] = 2;
    image[1] = 'A';
    image[3] = 'B';
    auto rec = filledRecord<TW_STR64>('#');
    ASSERT_TRUE(TV_TWAINCommon::str64FromNSData(rec->r, &image));
    EXPECT_EQ(0, std::memcmp(rec->r, image.data(), 66));

    const kdf::Bytes shorter{1, 'Q', 0};
    ASSERT_TRUE(TV_TWAINCommon::str64FromNSData(rec->r, &shorter));
    EXPECT_EQ(0, std::memcmp(rec->r, shorter.data(), 3));
    EXPECT_TRUE(allZero(rec->r + 3, 63));

    const kdf::Bytes overlong(67, 1);
    EXPECT_FALSE(TV_TWAINCommon::str64FromNSData(rec->r, &overlong));
    EXPECT_TRUE(allZero(rec->r, 66));
    EXPECT_TRUE(TV_TWAINCommon::str64FromNSData(rec->r, nullptr));
    EXPECT_TRUE(allZero(rec->r, 66));
}

TEST(Str255, ReadsAllBytes) {
    auto rec = filledRecord<TW_STR255>(0);
    for (int i = 0; i < 256; ++i) (rec->r)[i] = char(i);
    const kdf::Bytes b = TV_TWAINCommon::nsDataFromStr255(rec->r);
    ASSERT_EQ(b.size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(b[i], i);
}

TEST(SetResult, KeepsTheFirstFailure) {
    bool ok = true;
    TW_INT16 code = 0;
    for (TW_INT16 c : {0, 4, 1, 0}) TV_TWAINCommon::setResult(c, &code, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, 4);

    // A code variable the caller set beforehand is kept; pointers may be null.
    ok = true;
    code = 9;
    TV_TWAINCommon::setResult(2, &code, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, 9);
    ok = true;
    TV_TWAINCommon::setResult(2, nullptr, &ok);
    EXPECT_FALSE(ok);
    TV_TWAINCommon::setResult(2, &code, nullptr);
    EXPECT_EQ(code, 9);
}

TEST(Fix32, RoundsToNearestAndReadsBackUnchanged) {
    for (const twaintest::Fix32Case& c : twaintest::kFix32Cases) {
        SCOPED_TRACE(c.name);
        TW_FIX32 fix{};
        TV_TWAINCommon::floatToFix32(fix, c.value);
        EXPECT_EQ(fix.Whole, c.whole);
        EXPECT_EQ(fix.Frac, c.frac);
        if (c.exact) {
            EXPECT_EQ(TV_TWAINCommon::fix32ToFloat(fix), c.value);
        }
        // Reading back and writing again changes nothing.
        TW_FIX32 again{};
        TV_TWAINCommon::floatToFix32(again, TV_TWAINCommon::fix32ToFloat(fix));
        EXPECT_EQ(again.Whole, fix.Whole);
        EXPECT_EQ(again.Frac, fix.Frac);
        // The record's bytes are the Item word the data source reads.
        TW_UINT32 word = 0;
        std::memcpy(&word, &fix, sizeof word);
        EXPECT_EQ(word, TwFix32Word(fix));
    }
}

TEST(Str64, StringFormHoldsUtf16UnitsAfterTheCount) {
    auto rec = filledRecord<TW_STR64>('#');
    ASSERT_TRUE(TV_TWAINCommon::str64FromNSStr(rec->r, std::string("A\xC3\xA9")));  // "Aé"
    EXPECT_EQ(rec->r[0], 2);
    char16_t units[2];
    std::memcpy(units, rec->r + 1, sizeof units);
    EXPECT_EQ(units[0], u'A');
    EXPECT_EQ(units[1], u'\u00E9');
    EXPECT_TRUE(allZero(rec->r + 5, 61));
    EXPECT_EQ(TV_TWAINCommon::nsStrFromStr64(rec->r), std::string("A\xC3\xA9"));

    // 32 units fit (a character beyond the basic plane takes two).
    std::string full = "\xF0\x9F\x93\x84" + std::string(30, 'z');
    ASSERT_TRUE(TV_TWAINCommon::str64FromNSStr(rec->r, full));
    EXPECT_EQ(rec->r[0], 32);
    EXPECT_EQ(TV_TWAINCommon::nsStrFromStr64(rec->r), full);

    struct Refused {
        const char* name;
        std::string text;
    };
    const Refused refused[] = {{"33 units", std::string(33, 'z')}, {"not UTF-8", "a\xFF"},
                               {"cut sequence", "a\xC3"}, {"overlong form", "\xC0\xAF"}};
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.name);
        EXPECT_FALSE(TV_TWAINCommon::str64FromNSStr(rec->r, r.text));
        EXPECT_TRUE(allZero(rec->r, 66));
    }
    EXPECT_TRUE(TV_TWAINCommon::str64FromNSStr(rec->r, std::nullopt));
    EXPECT_TRUE(allZero(rec->r, 66));
    EXPECT_FALSE(TV_TWAINCommon::nsStrFromStr64(rec->r).has_value());

    // A count the record cannot hold ("full auto" 0xFF) reads nothing past it.
    auto odd = filledRecord<TW_STR64>('a');
    odd->r[0] = char(0xFF);
    EXPECT_FALSE(TV_TWAINCommon::nsStrFromStr64(odd->r).has_value());
    odd->r[0] = 33;
    EXPECT_FALSE(TV_TWAINCommon::nsStrFromStr64(odd->r).has_value());
    // An unpaired surrogate reads as U+FFFD.
    const char16_t lone = 0xD800;
    odd->r[0] = 1;
    std::memcpy(odd->r + 1, &lone, 2);
    EXPECT_EQ(TV_TWAINCommon::nsStrFromStr64(odd->r), std::string("\xEF\xBF\xBD"));

    // The whole-image form always has 66 bytes.
    EXPECT_EQ(TV_TWAINCommon::nsDataFromStr64(odd->r).size(), 66u);
}

TEST(Str255, WritesImagesOfAtMost256Bytes) {
    auto rec = filledRecord<TW_STR255>('#');
    const kdf::Bytes curve(256, 7);
    ASSERT_TRUE(TV_TWAINCommon::str255FromNSData(rec->r, &curve));
    EXPECT_EQ(TV_TWAINCommon::nsDataFromStr255(rec->r), curve);
    const kdf::Bytes overlong(257, 7);
    EXPECT_FALSE(TV_TWAINCommon::str255FromNSData(rec->r, &overlong));
    EXPECT_TRUE(allZero(rec->r, 256));
}

TEST(Pstrcopy, CopiesAtMost33BytesAndTerminates) {
    auto rec = filledRecord<TW_STR32>('#');
    pstrcopy(rec->r, "Tavrolek");
    EXPECT_STREQ(rec->r, "Tavrolek");
    EXPECT_TRUE(allZero(rec->r + 8, 26));
    pstrcopy(rec->r, std::string(40, 'L'));
    EXPECT_EQ(std::string(rec->r), std::string(33, 'L'));
    EXPECT_EQ(rec->r[33], 0);
}

} // namespace
