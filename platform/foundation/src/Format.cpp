#include "foundation/Format.h"

#include "Text.h"

#include <charconv>
#include <optional>

namespace kdf {

namespace {

struct Conversion {
    std::optional<std::size_t> position; // from "%N$", 1-based in the text
    std::optional<int> precision;
    int longs = 0; // count of 'l'
    char kind = 0;
    std::size_t length = 0; // characters of the format it spans
};

// Parses the conversion that starts at the '%' at fmt[0]; kind 0 when it is
// not one this function knows.
Conversion parseConversion(std::string_view fmt) {
    Conversion c;
    std::size_t i = 1;
    auto digits = [&](std::size_t& value) {
        std::size_t start = i;
        value = 0;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9' && i - start < 6)
            value = value * 10 + std::size_t(fmt[i++] - '0');
        return i > start;
    };
    std::size_t n = 0;
    std::size_t save = i;
    if (digits(n) && i < fmt.size() && fmt[i] == '$' && n > 0) {
        c.position = n;
        ++i;
    } else {
        i = save;
    }
    if (i < fmt.size() && fmt[i] == '.') {
        ++i;
        std::size_t p = 0;
        digits(p); // "%.f" is precision 0, as in printf
        c.precision = int(p);
    }
    while (i < fmt.size() && fmt[i] == 'l' && c.longs < 2) {
        ++c.longs;
        ++i;
    }
    if (i >= fmt.size()) return {};
    char k = fmt[i];
    bool known = k == 'd' || k == 'i' || k == 'u' || k == 'f' || k == '@' || k == 's';
    if (!known || (c.precision && k != 'f') || (c.longs && (k == '@' || k == 's' || k == 'f')))
        return {};
    c.kind = k;
    c.length = i + 1;
    return c;
}

std::string fixed(double d, int precision) {
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, precision);
    if (ec != std::errc()) // too long for the buffer: fall back to the general form
        end = std::to_chars(buf, buf + sizeof buf, d).ptr;
    return std::string(buf, end);
}

std::optional<std::string> render(const Conversion& c, const FormatArg& arg) {
    const auto* i = std::get_if<std::int64_t>(&arg);
    const auto* u = std::get_if<std::uint64_t>(&arg);
    const auto* d = std::get_if<double>(&arg);
    const auto* s = std::get_if<std::string>(&arg);
    switch (c.kind) {
    case 'd':
    case 'i':
        if (i) return std::to_string(c.longs ? *i : std::int64_t(std::int32_t(*i)));
        if (u) return c.longs ? std::to_string(*u) : std::to_string(std::int32_t(*u));
        return std::nullopt;
    case 'u':
        if (i)
            return c.longs ? std::to_string(std::uint64_t(*i)) : std::to_string(std::uint32_t(*i));
        if (u) return std::to_string(c.longs ? *u : std::uint64_t(std::uint32_t(*u)));
        return std::nullopt;
    case 'f':
        if (d) return fixed(*d, c.precision.value_or(6));
        if (i) return fixed(double(*i), c.precision.value_or(6));
        if (u) return fixed(double(*u), c.precision.value_or(6));
        return std::nullopt;
    case '@':
        if (s) return *s;
        if (i) return std::to_string(*i);
        if (u) return std::to_string(*u);
        if (d) {
            char buf[64];
            return std::string(buf, std::to_chars(buf, buf + sizeof buf, *d).ptr);
        }
        return std::nullopt;
    case 's':
        if (s) return *s;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

} // namespace

std::string formatLocalized(std::string_view format, std::span<const FormatArg> args) {
    std::string out;
    out.reserve(format.size());
    std::size_t next = 0; // the argument of the next conversion without a position
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        Conversion c = parseConversion(format.substr(i));
        if (!c.kind) {
            out += format[i++];
            continue;
        }
        std::size_t index = c.position ? *c.position - 1 : next++;
        std::optional<std::string> text;
        if (index < args.size()) text = render(c, args[index]);
        out += text ? *text : std::string(format.substr(i, c.length));
        i += c.length;
    }
    return out;
}

std::string formatLocalized(std::string_view format, std::initializer_list<FormatArg> args) {
    return formatLocalized(format, std::span<const FormatArg>(args.begin(), args.size()));
}

bool isValidUtf8(std::string_view bytes) {
    return detail::isValidUtf8(bytes);
}

} // namespace kdf
