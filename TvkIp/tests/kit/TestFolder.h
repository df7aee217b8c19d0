// A fresh folder per test under the test build folder (KD_TEST_TMP),
// removed with its files afterwards. Paths end in '/' because the loggers
// join folder and name as they are.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace kdtest {

class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("KD_TEST_TMP");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/kdtest.XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) != nullptr) m_dir = std::string(buf.data()) + "/";
    }
    ~TempFolder() {
        std::error_code ec;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
    }
    const char* dir() const { return m_dir.c_str(); }
    std::string path(const std::string& name) const { return m_dir + name; }
    bool ok() const { return !m_dir.empty(); }

private:
    std::string m_dir;
};

} // namespace kdtest
