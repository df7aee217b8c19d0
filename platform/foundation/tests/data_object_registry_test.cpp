#include "foundation/DataObjectRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace reg = kdf::DataObjectRegistry;

namespace {

TEST(DataObjectRegistry, HandlesNameObjectsUntilAdoptedOrReleased) {
    const std::size_t before = reg::count();
    const kdf::DataObjectHandle a = reg::add({1, 2, 3});
    const kdf::DataObjectHandle b = reg::add({});
    ASSERT_NE(a, kdf::kNoDataObject);
    ASSERT_NE(b, kdf::kNoDataObject);
    EXPECT_NE(a, b);
    EXPECT_EQ(reg::count(), before + 2);

    const auto seen = reg::lookup(a);
    ASSERT_TRUE(seen);
    EXPECT_EQ(*seen, (kdf::Bytes{1, 2, 3}));
    ASSERT_TRUE(reg::lookup(b));
    EXPECT_TRUE(reg::lookup(b)->empty());

    // Adopting takes the bytes out; the handle is unknown afterwards, while
    // a copy looked up before stays readable.
    EXPECT_EQ(reg::adopt(a), (kdf::Bytes{1, 2, 3}));
    EXPECT_FALSE(reg::lookup(a));
    EXPECT_FALSE(reg::adopt(a));
    EXPECT_FALSE(reg::release(a));
    EXPECT_EQ(*seen, (kdf::Bytes{1, 2, 3}));

    EXPECT_TRUE(reg::release(b));
    EXPECT_FALSE(reg::release(b));
    EXPECT_EQ(reg::count(), before);

    // A handle not handed out again right away: a stale one stays unknown.
    const kdf::DataObjectHandle c = reg::add({9});
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
    EXPECT_TRUE(reg::release(c));
}

TEST(DataObjectRegistry, RefusesHandlesItNeverGave) {
    for (kdf::DataObjectHandle h : {kdf::kNoDataObject, 0xFFFFFFFFu, 0xDEADBEEFu, 0x7FFFFFFFu}) {
        EXPECT_FALSE(reg::lookup(h)) << h;
        EXPECT_FALSE(reg::adopt(h)) << h;
        EXPECT_FALSE(reg::release(h)) << h;
    }
}

// Many threads adding, reading and dropping at once: every handle unique,
// every object read back as written, nothing left over.
TEST(DataObjectRegistry, ServesManyThreadsAtOnce) {
    const std::size_t before = reg::count();
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int i = 0; i < 2000; ++i) {
                const kdf::Bytes bytes{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(i)};
                const kdf::DataObjectHandle h = reg::add(bytes);
                const auto seen = reg::lookup(h);
                if (!seen || *seen != bytes) ++mismatches;
                if (i % 2 ? !reg::release(h) : reg::adopt(h) != bytes) ++mismatches;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(reg::count(), before);
}

} // namespace
