// RelaunchQLR <application bundle path>
#include "Relaunch.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    auto services = relaunch::systemServices();
    // Tests shorten the wait for the old process; nothing else changes it.
    if (const char* ms = std::getenv("KD_RELAUNCH_WAIT_MS")) {
        char* end = nullptr;
        const long long v = std::strtoll(ms, &end, 10);
        if (end != ms && *end == '\0' && v >= 0) services.waitLimit = std::chrono::milliseconds(v);
    }
    return relaunch::run(argc, argv, services);
}
