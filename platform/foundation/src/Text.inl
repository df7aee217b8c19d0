namespace kdf::detail {

// Length of the well-formed character at the front of s, and its code point,
// or 0 when the front byte does not start one.
inline int decodeUtf8(std::string_view s, std::uint32_t& cp) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    if (n == 0) return 0;
    if (p[0] < 0x80) {
        cp = p[0];
        return 1;
    }
    int len;
    std::uint32_t min;
    if ((p[0] & 0xE0) == 0xC0) {
        len = 2, cp = p[0] & 0x1F, min = 0x80;
    } else if ((p[0] & 0xF0) == 0xE0) {
        len = 3, cp = p[0] & 0x0F, min = 0x800;
    } else if ((p[0] & 0xF8) == 0xF0) {
        len = 4, cp = p[0] & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (n < std::size_t(len)) return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

template <class F> void forEachUtf8(std::string_view s, F&& f) {
    while (!s.empty()) {
        std::uint32_t cp = 0;
        int len = decodeUtf8(s, cp);
        if (len == 0) {
            f(-1, s.substr(0, 1));
            s.remove_prefix(1);
        } else {
            f(std::int64_t(cp), s.substr(0, std::size_t(len)));
            s.remove_prefix(std::size_t(len));
        }
    }
}

} // namespace kdf::detail
