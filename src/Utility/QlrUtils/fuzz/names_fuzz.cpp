// User-typed file names and folder parts, and archived settings from the
// companion program: the string helpers must hold on any bytes, and their
// answers must stay inside the input.
#include "QlrUtilsMethod.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    // The first byte splits the input into a character set and a text.
    const std::size_t split = size ? std::size_t(data[0]) % (size + 1) : 0;
    const std::string_view chars = all.substr(0, split), text = all.substr(split);

    QlrUtilsMethod::isValidNameInString(text);
    QlrUtilsMethod::isHeadCharDotInString(text);
    if (auto trimmed = QlrUtilsMethod::deleteSpaceHeadAndTail(text); trimmed && trimmed->size() > text.size())
        std::abort();
    for (unsigned options : {0u, 1u, 4u, 8u, 12u}) {
        const auto r = QlrUtilsMethod::rangeOfCharInStrByOption(chars, text, options);
        if (r.location != QlrUtilsMethod::kNotFound && r.location + r.length > text.size()) std::abort();
    }
    if (auto removed = QlrUtilsMethod::deleteString(text, QlrUtilsMethod::PartToDelete(chars));
        removed && removed->size() + chars.size() != text.size())
        std::abort();
    QlrUtilsMethod::decodeDataToDict(kdf::Bytes(data, data + size));
    return 0;
}
