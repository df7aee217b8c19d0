#include "KdUIController.h"

#include <foundation/Bundle.h>

#include <cstdio>

KdUIController::~KdUIController() = default;

std::unique_ptr<KdUIController> createUIController(const std::string& uiBundlePath) {
    if (!uiBundlePath.empty()) {
        auto bundle = kdf::Bundle::atPath(uiBundlePath);
        if (!bundle) {
            std::fprintf(stderr, "data source: no window bundle at %s\n", uiBundlePath.c_str());
            return nullptr;
        }
        if (!bundle->load()) return nullptr;
    }
    kdf::Class cls = kdf::classFromString(kUIControllerClassName);
    if (!cls) {
        std::fprintf(stderr, "data source: no class %s\n", kUIControllerClassName);
        return nullptr;
    }
    auto controller = cls.createAs<KdUIController>();
    if (!controller) std::fprintf(stderr, "data source: %s gave no window controller\n", kUIControllerClassName);
    return controller;
}
