// The link between the fake data source (a .ds the tests build and copy into
// temporary folders) and the test program that plays both host and source
// behaviour. The test program exports the bridge; each loaded copy of the
// fake source finds it by name and forwards everything to it, naming itself
// by the base name of the file it was loaded from.
#pragma once

#include "twain/twain.h"

extern "C" {

struct FakeSourceBridge {
    TW_UINT16 (*entry)(const char* file, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF data);
    // Called when a copy is mapped (true) and unmapped (false).
    void (*loaded)(const char* file, bool isLoaded);
};

}  // extern "C"

inline constexpr const char* kFakeSourceBridgeSymbol = "kd_fake_source_bridge";
