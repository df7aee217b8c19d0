#include "foundation/Geometry.h"

#include <array>
#include <charconv>
#include <cmath>

namespace kdf {

namespace {

std::string number(double v) {
    // Whole numbers as integers ("982", not "982.0"); others shortest.
    std::array<char, 64> buf{};
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    if (ec != std::errc()) return "0";
    std::string s(buf.data(), end);
    return s == "-0" ? "0" : s;
}

class Reader {
public:
    explicit Reader(std::string_view t) : text_(t) {}
    bool expect(char c) {
        skip();
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    std::optional<double> number() {
        skip();
        const char* first = text_.data() + pos_;
        const char* last = text_.data() + text_.size();
        // from_chars takes no leading '+'; the stored form never has one.
        double v = 0;
        const auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::general);
        if (ec != std::errc() || !std::isfinite(v)) return std::nullopt;
        pos_ += std::size_t(ptr - first);
        return v;
    }
    bool atEnd() {
        skip();
        return pos_ == text_.size();
    }

private:
    void skip() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n'))
            ++pos_;
    }
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool readPair(Reader& r, double& a, double& b) {
    if (!r.expect('{')) return false;
    auto first = r.number();
    if (!first || !r.expect(',')) return false;
    auto second = r.number();
    if (!second || !r.expect('}')) return false;
    a = *first;
    b = *second;
    return true;
}

} // namespace

std::string stringFromRect(const Rect& rect) {
    return "{{" + number(rect.x) + ", " + number(rect.y) + "}, {" + number(rect.width) + ", " +
           number(rect.height) + "}}";
}

std::optional<Rect> rectFromString(std::string_view text) {
    Reader r(text);
    Rect rect;
    if (!r.expect('{') || !readPair(r, rect.x, rect.y) || !r.expect(',') || !readPair(r, rect.width, rect.height) ||
        !r.expect('}') || !r.atEnd())
        return std::nullopt;
    return rect;
}

} // namespace kdf
