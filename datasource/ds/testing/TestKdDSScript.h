// What the test data source's fake scan operations answer, set by the test
// program, which exports one KdTestDsScript under kKdTestDsScriptSymbol.
// The data source finds it by name, also when loaded through a manager.
#pragma once

#include "twain/twain.h"

extern "C" {

struct KdTestDsScript {
    int setupScannerFails;        // SetupScanner: 1 answers false, 2 throws bad_alloc, 3 another exception
    TW_UINT16 prescanRc;          // Prescan's answers: rc, and the condition code it leaves
    TW_UINT16 prescanCc;
    int prescanPaperJams;         // the first n prescans answer CHECKSTATUS / TWCC_PAPERJAM
    int noPageAlertOk;            // ShowNoPageAlert answers "OK"
    int skipBlankEndsBatch;       // PerformSkipBlankPages ends the batch
    int scannerState;             // GetScannerState
    TW_INT32 scannerPending;      // QueryScannerPendingDocuments
    const char* bundleFolder;     // non-null: the data source's bundle folder
    void (*record)(const char* what); // every fake operation, by name
};

} // extern "C"

inline constexpr const char* kKdTestDsScriptSymbol = "kd_test_ds_script";
