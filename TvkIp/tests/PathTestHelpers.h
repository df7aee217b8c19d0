// Runs a kernel once per vector path the processor has (portable, SSE2, AVX2)
// so that the tests compare the twins byte for byte.
#pragma once

#include "TvkIpError.h"

#include <vector>

namespace pathtest {

enum class Path { Portable, SSE2, AVX2 };

inline const char* Name(Path p) {
    return p == Path::Portable ? "portable" : (p == Path::SSE2 ? "SSE2" : "AVX2");
}

// Every path this processor can run (the portable one always).
inline std::vector<Path> Available() {
    std::vector<Path> paths{Path::Portable};
    if (IsSSE2FeatureAvailable()) paths.push_back(Path::SSE2);
    if (IsAVX2FeatureAvailable()) paths.push_back(Path::AVX2);
    return paths;
}

// Selects a path for the lifetime of the object.
class Use {
public:
    explicit Use(Path p) {
        IpForcePortablePaths(p == Path::Portable);
        IpForceSSE2Paths(p == Path::SSE2);
    }
    ~Use() {
        IpForcePortablePaths(false);
        IpForceSSE2Paths(false);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
};

} // namespace pathtest
