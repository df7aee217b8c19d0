// The KD-720 data source with its scan session: the scanner set up at open
// and released at close, each page prepared from the capabilities, scanned
// through the scanner object and handed to the host by memory transfer or
// written to a TIFF or JFIF file; the page loop, the device events, the
// pass-through commands and the scanner alerts.
#pragma once

#include "KdErrors.h"
#include "PageFiles.h"
#include "ScanParam.h"
#include "TavrKdDS.h"

#include "foundation/RunLoop.h"

#include <memory>
#include <string>
#include <vector>

class CTavrKd;

class CTavrKdScanDS : public CTavrKdDS {
public:
    CTavrKdScanDS();
    ~CTavrKdScanDS() override;

    // ---- The scanner.
    bool SetupScanner() override;
    void TerminateScanner() override;
    TW_UINT16 PrepareScan() override;
    TW_UINT16 ReadImage(TW_MEMREF buffer, TW_UINT32 bytesPerLine, TW_UINT32 lines) override;
    TW_UINT16 FinishScan() override;
    void RecoverScan() override;

    // ---- Triplets of the scan.
    TW_UINT16 GetImageInfo(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 ImageMemXfer(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 ImageNativeXfer(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 ImageFileXfer(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 PendingEndXfers(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 ResetPendingXfers(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 PassThru(pTW_IDENTITY origin, TW_MEMREF data) override;

    // ---- Operations the protocol calls.
    TW_UINT16 Prescan() override;
    bool PerformSkipBlankPages() override;
    void ShowRollerExchangeAlert() override;
    bool ShowNoPageAlert() override;
    void ShowAlert(int error) override;
    TW_INT32 QueryScannerPendingDocuments() override;
    int GetScannerState() override;
    void AbortScanner() override;

    // The alert of a scanner error class and the host's answer.
    virtual TW_UINT16 ShowScannerAlert(KdError error);
    virtual TW_UINT16 ShowContinueModeAlert(KdError error);
    // The scanner-button timer of the modal continue-mode alert: a key on
    // the scanner ends the alert with its answer.
    void InstallScannerButtonModalTimer();
    void RemoveScannerButtonModalTimer();
    // Runs the current run loop briefly so that timers and the window work.
    virtual void Idle();
    // Runs the host's run loop for the given seconds (0: what is due). The
    // host may close the data source from in there; nothing runs once the
    // scanner was released that way.
    void RunHostLoop(double seconds);

    // The scan size in 1/1200 inch: the page the scanner measured when
    // detected and a detection is on, else the frame fitted to the paper.
    void GetScanSize(float* width, float* height, bool detected);

    CTavrKd* Scanner() const { return scanner_; }

protected:
    // Fills the scan record from the capabilities.
    void FillScanRecord(tagScanParam& p);
    // Scans the next page into the scanner's image list; pageReady_ on
    // success (a double feed delivered in continue mode included).
    KdError ScanNextPage();
    // The same, dropping blank pages while they are to be skipped.
    KdError ScanBlankSkipped();
    // The page one memory strip at a time into an image of the whole page:
    // the pixels, bytes per line and lines.
    TW_UINT16 TransferWholePage(std::vector<unsigned char>& pixels);
    // The end of a batch: windows hidden, state 2, resolution back to 300
    // after an automatic one, the rest event.
    void EndBatch();
    void PostDeviceEvent(TW_UINT32 event);
    // A scanner fault that ends the batch: the scanner is stopped at once,
    // and the next image triplet answers TWRC_FAILURE with the fault's
    // condition code (AnswerFault); MSG_ENDXFER or MSG_RESET then ends the
    // batch. Pages delivered before stay delivered.
    void KeepFault(KdError error);
    TW_UINT16 AnswerFault();
    // The page image of the current page for a whole-page transfer: the
    // strips gathered with the page kept in the scanner's list.
    TW_UINT16 TransferPageImage(SPageImage& page);
    // A whole-page transfer that could not hand its page over: the page
    // stays pending for another try.
    void KeepPagePending();
    // Waits until no operation-panel key is held, at most 30 s, running the
    // idle work; the scanner's error, or the time-out class.
    KdError WaitForKeysReleased();
    bool Batch() const;
    // The page's last strip went and its end of transfer has not come.
    bool PageSent() const { return xferDone_ && state_ == kDsTransferring; }
    TW_INT32 SidesPerSheet() const;

    tagScanParam record_{};
    bool batchStarted_ = false;   // StartScan done for this batch
    bool pageReady_ = false;      // a page waits in the scanner's image list
    bool rollerChecked_ = false;  // the exchange reminder of this open
    bool continueMode_ = false;
    KdError lastError_ = 0;
    TW_INT32 pagesTransferred_ = 0;
    bool userStopped_ = false;
    bool imageInfoFailed_ = false;
    bool xferDone_ = false;
    TW_INT32 blankPagesSkipped_ = 0;
    KdError fault_ = 0;          // met and not yet ended by MSG_ENDXFER/MSG_RESET
    bool faultAnswered_ = false; // an image triplet reported it
    KdError dischargeError_ = 0; // the last fault, for the next start of the scanner
    std::shared_ptr<kdf::Timer> buttonTimer_;
    int hostLoopDepth_ = 0;        // RunHostLoop calls on the stack
    bool scannerReleased_ = false; // closed from inside a wait: the scanner only unwinds

public:
    TW_INT32 BlankPagesSkipped() const { return blankPagesSkipped_; }
};
