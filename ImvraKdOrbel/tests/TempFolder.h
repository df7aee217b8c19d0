// Temporary folders and whole-file reads and writes for the pipeline tests.
#pragma once

#include "TestFolder.h"

#include <fstream>
#include <iterator>
#include <string>

namespace orbeltest {

using kdtest::TempFolder;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace orbeltest
