#include "TvkIpError.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
uint32_t nIpLastError = 0;
std::atomic<bool> g_forcePortable{false};
std::atomic<bool> g_forceSSE2{false};

bool PortableRequestedByEnvironment() {
    const char* v = std::getenv("KD_IP_PORTABLE");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

struct CpuUnits {
    bool sse2 = false;
    bool avx2 = false;
};

CpuUnits DetectCpuUnits() {
    CpuUnits u;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    u.sse2 = __builtin_cpu_supports("sse2");
    u.avx2 = __builtin_cpu_supports("avx2");
#endif
    return u;
}

bool HasSSE2() {
    return DetectCpuUnits().sse2;
}

bool HasAVX2() {
    return DetectCpuUnits().avx2;
}
} // namespace

uint32_t IpGetLastError() {
    return nIpLastError;
}
void IpSetLastError(uint32_t code) {
    nIpLastError = code;
}

bool IsSSE2FeatureAvailable() {
    static const bool available = HasSSE2() && !PortableRequestedByEnvironment();
    return available && !g_forcePortable.load(std::memory_order_relaxed);
}

bool IsMMXFeatureAvailable() {
    // The vector paths selected by this test use the same SSE2 unit.
    static const bool available = HasSSE2() && !PortableRequestedByEnvironment();
    return available && !g_forcePortable.load(std::memory_order_relaxed);
}

bool IsAVX2FeatureAvailable() {
    static const bool available = HasAVX2() && !PortableRequestedByEnvironment();
    return available && !g_forcePortable.load(std::memory_order_relaxed) &&
           !g_forceSSE2.load(std::memory_order_relaxed);
}

void IpForcePortablePaths(bool force) {
    g_forcePortable.store(force, std::memory_order_relaxed);
}

void IpForceSSE2Paths(bool force) {
    g_forceSSE2.store(force, std::memory_order_relaxed);
}
