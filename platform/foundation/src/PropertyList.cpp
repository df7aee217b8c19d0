#include "foundation/PropertyList.h"

#include "Text.h"
#include "foundation/File.h"

#include <pugixml.hpp>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>

namespace kdf {

namespace {

using detail::trimWhitespace;

struct Failure {
    std::string message;
};

std::string describe(const pugi::xml_node& n) {
    return std::string("<") + n.name() + ">";
}

// The text content of a leaf element; elements inside it are refused.
std::string leafText(const pugi::xml_node& n) {
    std::string text;
    for (auto c = n.first_child(); c; c = c.next_sibling()) {
        switch (c.type()) {
        case pugi::node_pcdata:
        case pugi::node_cdata:
            text += c.value();
            break;
        case pugi::node_element:
            throw Failure{"unexpected element " + describe(c) + " inside " + describe(n)};
        default:
            break;
        }
    }
    if (!detail::isValidUtf8(text)) throw Failure{"text of " + describe(n) + " is not valid UTF-8"};
    return text;
}

// The element children of a container; text other than white space is refused.
std::vector<pugi::xml_node> elementChildren(const pugi::xml_node& n) {
    std::vector<pugi::xml_node> out;
    for (auto c = n.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element)
            out.push_back(c);
        else if ((c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) &&
                 !trimWhitespace(c.value()).empty())
            throw Failure{"unexpected text inside " + describe(n)};
    }
    return out;
}

std::int64_t parseInteger(std::string_view s) {
    s = trimWhitespace(s);
    std::string_view digits = s;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (digits.empty() || end != digits.data() + digits.size() || ec == std::errc::invalid_argument)
        throw Failure{"bad <integer> \"" + std::string(s.substr(0, 40)) + "\""};
    if (ec == std::errc::result_out_of_range) throw Failure{"<integer> beyond 64 bits"};
    return v;
}

double parseReal(std::string_view s) {
    s = trimWhitespace(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || end != s.data() + s.size() || ec == std::errc::invalid_argument)
        throw Failure{"bad <real> \"" + std::string(s.substr(0, 40)) + "\""};
    if (ec == std::errc::result_out_of_range) throw Failure{"<real> beyond the range of a double"};
    return v;
}

// "YYYY-MM-DDTHH:MM:SSZ", UTC.
Date parseDate(std::string_view s) {
    s = trimWhitespace(s);
    auto fail = [&]() { return Failure{"bad <date> \"" + std::string(s.substr(0, 40)) + "\""}; };
    if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
        s[16] != ':' || s[19] != 'Z')
        throw fail();
    auto num = [&](std::size_t pos, std::size_t len) {
        int v = 0;
        for (std::size_t i = pos; i < pos + len; ++i) {
            if (s[i] < '0' || s[i] > '9') throw fail();
            v = v * 10 + (s[i] - '0');
        }
        return v;
    };
    using namespace std::chrono;
    int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2),
        sec = num(17, 2);
    year_month_day ymd{year(y), month(unsigned(mo)), day(unsigned(d))};
    if (!ymd.ok() || h > 23 || mi > 59 || sec > 60) throw fail();
    auto t = sys_days(ymd).time_since_epoch() + hours(h) + minutes(mi) + seconds(sec);
    return Date{duration_cast<seconds>(t).count()};
}

Value convert(const pugi::xml_node& n, int depth) {
    if (depth > kMaxPropertyListDepth)
        throw Failure{"nested deeper than " + std::to_string(kMaxPropertyListDepth) + " levels"};
    const char* name = n.name();
    if (!std::strcmp(name, "dict")) {
        Dictionary d;
        auto children = elementChildren(n);
        for (std::size_t i = 0; i < children.size(); i += 2) {
            if (std::strcmp(children[i].name(), "key") != 0)
                throw Failure{"expected <key> in <dict>, found " + describe(children[i])};
            if (i + 1 >= children.size()) throw Failure{"<key> without a value in <dict>"};
            d.insert_or_assign(leafText(children[i]), convert(children[i + 1], depth + 1));
        }
        return Value(std::move(d));
    }
    if (!std::strcmp(name, "array")) {
        Array a;
        for (const auto& c : elementChildren(n)) a.push_back(convert(c, depth + 1));
        return Value(std::move(a));
    }
    if (!std::strcmp(name, "string")) return Value(leafText(n));
    if (!std::strcmp(name, "integer")) return Value(parseInteger(leafText(n)));
    if (!std::strcmp(name, "real")) return Value(parseReal(leafText(n)));
    if (!std::strcmp(name, "true") || !std::strcmp(name, "false")) {
        if (!trimWhitespace(leafText(n)).empty()) throw Failure{describe(n) + " with content"};
        return Value(name[0] == 't');
    }
    if (!std::strcmp(name, "date")) return Value(parseDate(leafText(n)));
    if (!std::strcmp(name, "data")) {
        auto bytes = detail::base64Decode(leafText(n));
        if (!bytes) throw Failure{"bad base64 in <data>"};
        return Value(Bytes(bytes->begin(), bytes->end()));
    }
    throw Failure{"unknown element " + describe(n)};
}

// True when every '&' outside comments, CDATA sections, processing
// instructions and the DOCTYPE starts one of the five predefined entities or
// a character reference. The parser would leave any other reference as
// literal text; XML calls it an error, so the file is refused.
bool referencesAreWellFormed(std::string_view s) {
    auto skipPast = [&](std::size_t& i, std::string_view end) {
        std::size_t at = s.find(end, i);
        i = at == std::string_view::npos ? s.size() : at + end.size();
    };
    for (std::size_t i = 0; i < s.size();) {
        std::string_view rest = s.substr(i);
        if (rest.starts_with("<!--")) {
            skipPast(i, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            skipPast(i, "]]>");
        } else if (rest.starts_with("<?")) {
            skipPast(i, "?>");
        } else if (rest.starts_with("<!")) {
            // A DOCTYPE, with its internal subset in brackets.
            std::size_t bracket = s.find('[', i), close = s.find('>', i);
            if (bracket != std::string_view::npos && bracket < close) skipPast(i, "]");
            skipPast(i, ">");
        } else if (s[i] == '&') {
            std::size_t semi = rest.find(';');
            if (semi == std::string_view::npos || semi > 12) return false;
            std::string_view name = rest.substr(1, semi - 1);
            bool ok =
                name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
            if (!ok && name.size() > 1 && name[0] == '#') {
                bool hex = name[1] == 'x';
                std::string_view digits = name.substr(hex ? 2 : 1);
                ok = !digits.empty() &&
                     digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") ==
                         std::string_view::npos;
            }
            if (!ok) return false;
            i += semi + 1;
        } else {
            ++i;
        }
    }
    return true;
}

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

// ---- writing ----

void appendText(std::string& out, std::string_view s) {
    detail::forEachUtf8(s, [&](std::int64_t cp, std::string_view bytes) {
        // XML 1.0 cannot carry these; a file holding them would not read back.
        if (cp < 0 || (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE ||
            cp == 0xFFFF)
            return;
        switch (cp) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#13;";
            break; // a raw CR would be read back as LF
        default:
            out.append(bytes);
        }
    });
}

void appendLeaf(std::string& out, const char* tag, std::string_view escapedText) {
    out += '<';
    out += tag;
    out += '>';
    out += escapedText;
    out += "</";
    out += tag;
    out += ">\n";
}

std::string formatReal(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, end);
}

std::string formatDate(const Date& date) {
    using namespace std::chrono;
    constexpr std::int64_t kDay = 86400;
    std::int64_t days = date.secondsSinceEpoch / kDay, rest = date.secondsSinceEpoch % kDay;
    if (rest < 0) rest += kDay, --days;
    // Years 0000 to 9999 are what the four-digit form can say.
    if (days < -719528 || days > 2932896) throw Failure{"date beyond the year 9999"};
    year_month_day ymd{sys_days(std::chrono::days(days))};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(rest / 3600), int(rest / 60 % 60),
                  int(rest % 60));
    return buf;
}

void writeValue(std::string& out, const Value& v, int depth) {
    auto indent = [&](int d) { out.append(std::size_t(d), '\t'); };
    indent(depth);
    switch (v.kind()) {
    case Value::Kind::Boolean:
        out += *v.toBool() ? "<true/>\n" : "<false/>\n";
        break;
    case Value::Kind::Integer:
        appendLeaf(out, "integer", std::to_string(*v.toInteger()));
        break;
    case Value::Kind::Real:
        appendLeaf(out, "real", formatReal(*v.toReal()));
        break;
    case Value::Kind::String: {
        std::string text;
        appendText(text, *v.string());
        appendLeaf(out, "string", text);
        break;
    }
    case Value::Kind::Bytes: {
        const auto& b = *v.bytes();
        appendLeaf(out, "data",
                   detail::base64Encode({reinterpret_cast<const char*>(b.data()), b.size()}));
        break;
    }
    case Value::Kind::Date:
        appendLeaf(out, "date", formatDate(*v.date()));
        break;
    case Value::Kind::Array:
        if (v.array()->empty()) {
            out += "<array/>\n";
            break;
        }
        out += "<array>\n";
        for (const auto& e : *v.array()) writeValue(out, e, depth + 1);
        indent(depth);
        out += "</array>\n";
        break;
    case Value::Kind::Dictionary:
        if (v.dictionary()->empty()) {
            out += "<dict/>\n";
            break;
        }
        out += "<dict>\n";
        for (const auto& [k, e] : *v.dictionary()) {
            std::string key;
            appendText(key, k);
            indent(depth + 1);
            appendLeaf(out, "key", key);
            writeValue(out, e, depth + 1);
        }
        indent(depth);
        out += "</dict>\n";
        break;
    case Value::Kind::Pointer:
        throw Failure{"a pointer value cannot be written"};
    }
}

} // namespace

std::optional<Value> readPropertyList(std::string_view bytes, std::string* error) {
    if (bytes.size() > kMaxPropertyListBytes) {
        setError(error, "property list larger than 64 MiB");
        return std::nullopt;
    }
    if (bytes.substr(0, 6) == "bplist") {
        setError(error, "binary property lists are not supported");
        return std::nullopt;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (!detail::isValidUtf8(bytes) || bytes.find('\0') != std::string_view::npos) {
        setError(error, "property list is not valid UTF-8 text");
        return std::nullopt;
    }
    if (!referencesAreWellFormed(bytes)) {
        setError(error, "malformed XML: a reference to an unknown entity");
        return std::nullopt;
    }
    // No DTD is loaded and no entity but the five predefined ones is
    // expanded; the DOCTYPE is kept only to refuse entity declarations.
    constexpr unsigned kOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                  pugi::parse_ws_pcdata_single | pugi::parse_doctype;
    pugi::xml_document doc;
    pugi::xml_parse_result parsed =
        doc.load_buffer(bytes.data(), bytes.size(), kOptions, pugi::encoding_utf8);
    if (!parsed) {
        setError(error, std::string("malformed XML: ") + parsed.description() + " at byte " +
                            std::to_string(parsed.offset));
        return std::nullopt;
    }
    try {
        pugi::xml_node root;
        for (auto c = doc.first_child(); c; c = c.next_sibling()) {
            if (c.type() == pugi::node_doctype) {
                if (std::strstr(c.value(), "<!ENTITY")) throw Failure{"DOCTYPE declares entities"};
            } else if (c.type() == pugi::node_element) {
                if (root) throw Failure{"more than one root element"};
                root = c;
            }
        }
        if (!root || std::strcmp(root.name(), "plist") != 0)
            throw Failure{"no <plist> root element"};
        auto values = elementChildren(root);
        if (values.size() != 1) throw Failure{"<plist> must hold exactly one value"};
        return convert(values.front(), 1);
    } catch (const Failure& f) {
        setError(error, f.message);
        return std::nullopt;
    }
}

std::optional<Value> readPropertyListFile(const std::string& path, std::string* error,
                                          bool* missing) {
    std::string why;
    auto bytes = readWholeFile(path, kMaxPropertyListBytes, &why, missing);
    if (!bytes) {
        setError(error, why);
        return std::nullopt;
    }
    auto v = readPropertyList(*bytes, &why);
    if (!v) setError(error, path + ": " + why);
    return v;
}

std::optional<std::string> writePropertyList(const Value& value, std::string* error) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
    try {
        writeValue(out, value, 0);
    } catch (const Failure& f) {
        setError(error, f.message);
        return std::nullopt;
    }
    out += "</plist>\n";
    return out;
}

bool writePropertyListFile(const std::string& path, const Value& value, std::string* error) {
    auto text = writePropertyList(value, error);
    return text && writeFileAtomically(path, *text, error);
}

} // namespace kdf
