// Process-wide last-error word and processor feature tests.
#pragma once

#include "TvkTypes.h"

extern "C" {
// Every exported entry point stores 0 here first; failures the result cannot
// carry leave their code behind.
IMVRA_EXPORT uint32_t IpGetLastError();
IMVRA_EXPORT void IpSetLastError(uint32_t code);
}

// True when the processor has the vector unit the accelerated paths use.
// The answer is cached on first use. Setting the environment variable
// KD_IP_PORTABLE=1 (read at that first use) forces the portable paths.
bool IsSSE2FeatureAvailable();
bool IsMMXFeatureAvailable();
// True when the processor has the wider vector unit of the kernels that keep
// an AVX2 twin (built with function-level target attributes); the same
// portable override switches it off.
bool IsAVX2FeatureAvailable();

// Tests switch paths at run time to compare the twins: true forces the
// portable code regardless of the processor.
void IpForcePortablePaths(bool force);
// Likewise true switches the AVX2 twins off, leaving the SSE2 ones.
void IpForceSSE2Paths(bool force);
