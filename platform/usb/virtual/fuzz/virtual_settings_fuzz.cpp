// Settings text of the virtual scanner (KD_VIRTUAL_SCANNER, its settings file
// and the control handle's fault text): any input parses or is refused with
// a message, never half applied.
#include "VirtualConfig.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kdvirtual::VirtualConfig config;
    const kdvirtual::VirtualConfig before = config;
    std::string error;
    if (!kdvirtual::parseSettings(text, config, error)) {
        if (error.empty() || config.sheets != before.sheets || !config.faults.empty()) __builtin_trap();
    }
    kdvirtual::FaultSpec fault;
    kdvirtual::parseFault(text, fault, error);
    return 0;
}
