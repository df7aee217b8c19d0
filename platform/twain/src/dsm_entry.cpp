// The exported entry of libKdTwainDsm.so: one manager per process.
#include "source_manager.h"

namespace {

kd::twain::SourceManager& Manager() {
    // Built on first use and never destroyed: sources still loaded at exit
    // keep their code mapped while the process ends.
    static auto* manager = new kd::twain::SourceManager(DSM_Entry);
    return *manager;
}

}  // namespace

extern "C" TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, TW_MEMREF pData) {
    return Manager().Entry(pOrigin, pDest, DG, DAT, MSG, pData);
}
