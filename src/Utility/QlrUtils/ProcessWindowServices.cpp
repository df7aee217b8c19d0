#include "ProcessWindowServices.h"

#include <foundation/RunLoop.h>

#include <mutex>

ProcessWindowServices::~ProcessWindowServices() = default;

namespace MainWindowCntlr {

namespace {
std::mutex sProcessWindowLock;
std::shared_ptr<ProcessWindowServices> sProcessWindow;
} // namespace

void setProcessWindow(std::shared_ptr<ProcessWindowServices> window) {
    std::lock_guard lock(sProcessWindowLock);
    sProcessWindow = std::move(window);
}

std::shared_ptr<ProcessWindowServices> processWindow() {
    std::lock_guard lock(sProcessWindowLock);
    return sProcessWindow;
}

bool setStateInfoStrForProcWinForPfm(std::optional<std::string> title, std::optional<std::string> information) {
    if (!processWindow()) return false;
    bool passed = false;
    kdf::RunLoop::performOnMainThread(
        [&] {
            // Looked up again on the main thread: the window may have gone.
            if (auto window = processWindow()) {
                window->setStateInfoStrForProcWinForPfm(title, information);
                passed = true;
            }
        },
        true, kdf::RunLoopMode::Default);
    return passed;
}

} // namespace MainWindowCntlr
