// A data source that only forwards: see fake_source_bridge.h.
#include <dlfcn.h>

#include <cstring>

#include "fake_source_bridge.h"

namespace {

char gFile[256];

const FakeSourceBridge* Bridge() {
    return static_cast<const FakeSourceBridge*>(dlsym(RTLD_DEFAULT, kFakeSourceBridgeSymbol));
}

__attribute__((constructor)) void OnLoad() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OnLoad), &info) != 0 && info.dli_fname != nullptr) {
        const char* slash = std::strrchr(info.dli_fname, '/');
        std::strncpy(gFile, slash != nullptr ? slash + 1 : info.dli_fname, sizeof gFile - 1);
    }
    if (const FakeSourceBridge* bridge = Bridge()) bridge->loaded(gFile, true);
}

__attribute__((destructor)) void OnUnload() {
    if (const FakeSourceBridge* bridge = Bridge()) bridge->loaded(gFile, false);
}

}  // namespace

extern "C" TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    const FakeSourceBridge* bridge = Bridge();
    if (bridge == nullptr) return TWRC_FAILURE;
    return bridge->entry(gFile, pOrigin, DG, DAT, MSG, pData);
}
