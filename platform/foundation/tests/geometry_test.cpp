// Rectangle texts of stored settings: written in the form other readers
// expect, read back exactly, and anything else refused rather than guessed.
#include "foundation/Geometry.h"

#include <gtest/gtest.h>

namespace {

TEST(Geometry, WritesTheStoredForm) {
    EXPECT_EQ(kdf::stringFromRect({0, 0, 982, 720}), "{{0, 0}, {982, 720}}");
    EXPECT_EQ(kdf::stringFromRect({-12.5, 30.25, 800, 600}), "{{-12.5, 30.25}, {800, 600}}");
    EXPECT_EQ(kdf::stringFromRect({}), "{{0, 0}, {0, 0}}");
}

TEST(Geometry, ReadsBackWhatItWrites) {
    for (const kdf::Rect& r : {kdf::Rect{1, 2, 3, 4}, kdf::Rect{-5000.125, 0.1, 1e6, 1.0 / 3}})
        EXPECT_EQ(kdf::rectFromString(kdf::stringFromRect(r)), r);
    EXPECT_EQ(kdf::rectFromString("{{10,20},{30,40}}"), (kdf::Rect{10, 20, 30, 40}));
    EXPECT_EQ(kdf::rectFromString(" { { 1e1 , -2 } , { 3.5 , 4 } } "), (kdf::Rect{10, -2, 3.5, 4}));
}

TEST(Geometry, RefusesOtherTexts) {
    for (const char* text : {"", "{}", "{{0, 0}, {982}}", "{{0, 0}, {982, 720}", "{{0, 0}, {982, 720}}x",
                             "{{0 0}, {982, 720}}", "{{a, 0}, {982, 720}}", "{{nan, 0}, {982, 720}}",
                             "{{0, 0}, {inf, 720}}", "{{0, 0}, {1e999, 720}}", "{{+1, 0}, {982, 720}}",
                             "982 x 720"})
        EXPECT_FALSE(kdf::rectFromString(text).has_value()) << text;
}

} // namespace
