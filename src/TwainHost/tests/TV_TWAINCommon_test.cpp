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

} // namespace
