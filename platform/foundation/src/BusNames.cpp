#include "foundation/BusNames.h"

#include <vector>

namespace kdf {

namespace {

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::vector<std::string> elements(std::string_view identifier, bool keepDash, bool digitPrefix) {
    std::vector<std::string> out;
    std::string current;
    auto finish = [&] {
        // An empty element is no valid name either.
        const bool prefix = current.empty() || (digitPrefix && current[0] >= '0' && current[0] <= '9');
        std::string element;
        element.reserve(current.size() + 1);
        if (prefix) element.push_back('_');
        element.append(current);
        out.push_back(std::move(element));
        current.clear();
    };
    for (char c : identifier) {
        if (c == '.') {
            finish();
            continue;
        }
        current.push_back(isAsciiAlnum(c) || c == '_' || (keepDash && c == '-') ? c : '_');
    }
    finish();
    return out;
}

std::string joined(const std::vector<std::string>& parts, char separator) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out.push_back(separator);
        out += part;
    }
    return out;
}

} // namespace

std::string busNameForIdentifier(std::string_view identifier) {
    return joined(elements(identifier, true, true), '.');
}

std::string busInterfaceForIdentifier(std::string_view identifier, std::string_view name) {
    auto parts = elements(identifier, false, true);
    auto last = elements(name, false, true);
    parts.insert(parts.end(), last.begin(), last.end());
    return joined(parts, '.');
}

std::string busPathForIdentifier(std::string_view identifier) {
    std::string path(1, '/');
    path += joined(elements(identifier, false, false), '/');
    return path;
}

} // namespace kdf
