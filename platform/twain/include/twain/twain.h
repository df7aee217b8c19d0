// Everything of TWAIN 2.x on Linux that hosts and sources need: types,
// codes, capability ids, records and the entry points.
#pragma once

#include "twain/capabilities.h"
#include "twain/codes.h"
#include "twain/entry_types.h"
#include "twain/records.h"
#include "twain/types.h"

// The manager's entry (libKdTwainDsm.so). Hosts call it for everything;
// sources call it to reach their host.
extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, TW_MEMREF pData);

// Every source exports this under its own name "DS_Entry"; declared here so
// that a source's definition is checked against the type the manager calls.
// Both stay visible when a library hides its other symbols.
extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                              TW_MEMREF pData);
