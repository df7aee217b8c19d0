// The test data source: the KD-720 data source with fake scan operations
// that answer as the test program's script says.
#include "TavrKdDS.h"
#include "TestKdDSScript.h"

#include <dlfcn.h>

#include <new>
#include <stdexcept>

namespace {

const KdTestDsScript& Script() {
    static const KdTestDsScript defaults{};
    const auto* script = static_cast<const KdTestDsScript*>(dlsym(RTLD_DEFAULT, kKdTestDsScriptSymbol));
    return script ? *script : defaults;
}

void Record(const char* what) {
    if (Script().record) Script().record(what);
}

class CTestKdDS : public CTavrKdDS {
public:
    std::string OwnBundleFolder() const override {
        return Script().bundleFolder ? Script().bundleFolder : CTavrKdDS::OwnBundleFolder();
    }
    bool SetupScanner() override {
        Record("SetupScanner");
        if (Script().setupScannerFails == 2) throw std::bad_alloc();
        if (Script().setupScannerFails == 3) throw std::runtime_error("scanner set-up");
        return !Script().setupScannerFails;
    }
    void TerminateScanner() override { Record("TerminateScanner"); }
    TW_UINT16 PrepareScan() override {
        Record("PrepareScan");
        return TWRC_SUCCESS;
    }
    TW_UINT16 ReadImage(TW_MEMREF, TW_UINT32, TW_UINT32) override {
        Record("ReadImage");
        return TWRC_XFERDONE;
    }
    TW_UINT16 FinishScan() override {
        Record("FinishScan");
        return TWRC_SUCCESS;
    }
    void RecoverScan() override { Record("RecoverScan"); }
    TW_UINT16 Prescan() override {
        Record("Prescan");
        if (paperJams_ < Script().prescanPaperJams) {
            ++paperJams_;
            return SetConditionCode(TWCC_PAPERJAM, TWRC_CHECKSTATUS);
        }
        if (Script().prescanRc == TWRC_SUCCESS) return TWRC_SUCCESS;
        return SetConditionCode(Script().prescanCc, Script().prescanRc);
    }
    bool PerformSkipBlankPages() override {
        Record("PerformSkipBlankPages");
        return Script().skipBlankEndsBatch != 0;
    }
    void ShowRollerExchangeAlert() override { Record("ShowRollerExchangeAlert"); }
    bool ShowNoPageAlert() override {
        Record("ShowNoPageAlert");
        return Script().noPageAlertOk != 0;
    }
    void ShowAlert(int error) override { Record(error == 2 ? "ShowAlert 2" : "ShowAlert 1"); }
    TW_INT32 QueryScannerPendingDocuments() override {
        Record("QueryScannerPendingDocuments");
        return Script().scannerPending;
    }
    int GetScannerState() override { return Script().scannerState; }
    void AbortScanner() override { Record("AbortScanner"); }

private:
    int paperJams_ = 0;
};

} // namespace

CDataSource* CreateDataSourceObject() { return new CTestKdDS; }
