// Rectangles as the settings store them: "{{x, y}, {width, height}}", the
// same text other programs reading these settings expect.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kdf {

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// "{{x, y}, {width, height}}", each number in its shortest exact form.
std::string stringFromRect(const Rect& rect);
// The rectangle of such a text (spaces anywhere between the parts); none
// for any other text and for a number that is not finite.
std::optional<Rect> rectFromString(std::string_view text);

} // namespace kdf
