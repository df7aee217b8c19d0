// Function types of the TWAIN entry points, the host callback and the
// manager's memory functions.
#pragma once

#include "twain/types.h"

struct TW_IDENTITY;
using pTW_IDENTITY = TW_IDENTITY*;

// DSM_Entry of the manager, and the host callback registered with it:
// (origin, destination, DG, DAT, MSG, data).
using DSMENTRYPROC = TW_UINT16 (*)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF pData);
using TWAINCALLBACKPROC = DSMENTRYPROC;

// DS_Entry of a source. The manager is the only caller, so there is no
// destination: (origin host, DG, DAT, MSG, data).
using DSENTRYPROC = TW_UINT16 (*)(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                  TW_MEMREF pData);

// Memory functions of the manager (TW_ENTRYPOINT).
using DSM_MEMALLOCATE = TW_HANDLE (*)(TW_UINT32 size);
using DSM_MEMFREE = void (*)(TW_HANDLE handle);
using DSM_MEMLOCK = TW_MEMREF (*)(TW_HANDLE handle);
using DSM_MEMUNLOCK = void (*)(TW_HANDLE handle);
