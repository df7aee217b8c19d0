// Property lists come from outside: damaged settings files, backups the user
// picks, older applications' preferences. Whatever the bytes, the reader
// answers a value or an error, and a value it answers can be written and
// read back.
#include "foundation/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto value = kdf::readPropertyList(bytes, &error);
    if (!value) return 0;
    auto text = kdf::writePropertyList(*value, &error);
    if (!text) std::abort(); // a value read from a file can always be written
    if (!kdf::readPropertyList(*text, &error))
        std::abort(); // what the writer makes always reads back
    return 0;
}
