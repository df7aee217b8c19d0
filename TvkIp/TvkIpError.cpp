#include "TvkIpError.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
uint32_t nIpLastError = 0;
std::atomic<bool> g_forcePortable{false};

bool PortableRequestedByEnvironment() {
    const char* v = std::getenv("KD_IP_PORTABLE");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

bool HasSSE2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
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

void IpForcePortablePaths(bool force) {
    g_forcePortable.store(force, std::memory_order_relaxed);
}
