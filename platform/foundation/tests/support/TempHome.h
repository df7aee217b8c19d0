// A private home for one test: HOME, XDG_CONFIG_HOME, TMPDIR and
// XDG_RUNTIME_DIR point into a fresh folder that is removed afterwards, so
// no test touches the real user's files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace kdtest {

// "<prefix><a>_<b>", or "<prefix><b>" for a negative a: keys for tests
// that set many.
inline std::string keyOf(const char* prefix, int a, int b) {
    char buf[64];
    if (a < 0)
        std::snprintf(buf, sizeof buf, "%s%d", prefix, b);
    else
        std::snprintf(buf, sizeof buf, "%s%d_%d", prefix, a, b);
    return buf;
}

class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        for (const auto& [name, old] : saved_) {
            if (old)
                ::setenv(name.c_str(), old->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    // value nullopt unsets the variable.
    void set(const std::string& name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

class TempHome {
public:
    TempHome() {
        const char* base = std::getenv("KD_TEST_TMP");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kdhome-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        std::filesystem::create_directories(root_ / "config");
        std::filesystem::create_directories(root_ / "tmp");
        std::filesystem::create_directories(root_ / "run");
        env_.set("HOME", root_.string());
        env_.set("XDG_CONFIG_HOME", (root_ / "config").string());
        env_.set("TMPDIR", (root_ / "tmp").string());
        env_.set("XDG_RUNTIME_DIR", (root_ / "run").string());
    }
    ~TempHome() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path config() const { return root_ / "config"; }
    ScopedEnv& env() { return env_; }

    static void writeText(const std::filesystem::path& p, const std::string& text) {
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string readText(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path root_;
    ScopedEnv env_;
};

} // namespace kdtest
