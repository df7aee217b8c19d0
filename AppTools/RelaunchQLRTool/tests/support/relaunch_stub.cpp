// Stand-in application for the relaunch helper's tests.
//   relaunch_stub                 writes KD_STUB_MARKER ("after" when the
//                                 file KD_STUB_SLEEPER_DONE exists, else
//                                 "before")
//   relaunch_stub sleep <ms> <f>  sleeps, then creates the file f
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoll(argv[2])));
        std::ofstream(argv[3]) << "done";
        return 0;
    }
    const char* marker = std::getenv("KD_STUB_MARKER");
    if (!marker) return 2;
    const char* done = std::getenv("KD_STUB_SLEEPER_DONE");
    const bool after = done && std::ifstream(done).good();
    std::ofstream(marker) << (after ? "after" : "before");
    return 0;
}
