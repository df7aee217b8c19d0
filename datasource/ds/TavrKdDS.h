// The KD-720 data source: the generic data source with this scanner's
// capabilities, side mapping and dependent values, its open, enable,
// disable and close additions, and the decision whether a transfer-ready
// reaches the host. The scan itself (scanner set-up, pages, transfers,
// alerts) is supplied by the derived data source of the scan session.
#pragma once

#include "DataSource.h"

#include "foundation/RunLoop.h"

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class CTavrKd;

class CTavrKdDS : public CDataSource {
public:
    CTavrKdDS();
    ~CTavrKdDS() override;

    CapHandler GetCapHandler(TW_UINT16 id) const override;
    TW_UINT16 CapID(TW_UINT16 id) const override;
    bool SetupCapabilities() override;
    bool SetupUserInterfaceParameters(kdf::Dictionary& param) override;

    TW_UINT16 OpenDS(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 CloseDS(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 EnableDS(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 EnableDSUIOnly(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 DisableDS(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 ResetPendingXfers(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 GetDeviceEvent(pTW_IDENTITY origin, TW_MEMREF data) override;
    // The capability triplets take CAP_DEVICEEVENT themselves: the events a
    // host selects belong to this open, not to the stored settings.
    TW_UINT16 GetCapability(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 GetCurrentCapability(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 GetDefaultCapability(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 ResetCapability(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 SetCapability(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_UINT16 QuerySupportCapability(pTW_IDENTITY origin, TW_MEMREF data) override;
    TW_INT32 GetPendingDocumentCount() override;
    TW_UINT16 InvokeCallback(TW_CALLBACK* record, const kdf::Value* data) override;

    // ---- This scanner's capability handlers.
    TW_UINT16 HandleCapFrames(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                              TW_UINT16* handled) override;
    TW_UINT16 HandlePixelType(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                              TW_UINT16* handled) override;
    TW_UINT16 HandleBitDepth(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                             TW_UINT16* handled) override;
    virtual TW_UINT16 HandleFeederEnabled(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                          TW_UINT16* handled);
    virtual TW_UINT16 HandleResolution(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                       TW_UINT16* handled);
    virtual TW_UINT16 HandleThreshold(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                      TW_UINT16* handled);
    virtual TW_UINT16 HandleDocumentSize(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                         TW_UINT16* handled);
    virtual TW_UINT16 HandleToneSettings(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                         TW_UINT16* handled);
    virtual TW_UINT16 HandleSupportedSize(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                          TW_UINT16* handled);
    virtual TW_UINT16 HandleScanArea(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled);
    virtual TW_UINT16 HandleXferCount(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                      TW_UINT16* handled);
    virtual TW_UINT16 HandleDuplexEnabled(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                          TW_UINT16* handled);
    virtual TW_UINT16 HandleAutoFeed(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled);
    virtual TW_UINT16 HandleAutomaticDeskew(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                            TW_UINT16* handled);

    // Clears the favourite name (0x8402) when the settings no longer match
    // the favourite, or the snapshot, it names.
    virtual void CheckCapabilities(bool showUI);
    // The current paper in 1/1200 inch; false when it is not known. A
    // custom paper (document size -2, detection off) is looked up by the
    // name in 0x8401; one that is missing or larger than the scanner gives
    // the default document size's paper.
    virtual bool GetCurrentPaperSize(float* width, float* height);
    // At the start of a scan: a custom paper that cannot be used sets the
    // document size back to its default, with that paper as the frame.
    void ApplyCustomPaperFallback();
    // A frame that is empty or not inside the current paper becomes the
    // whole paper, the area a scan takes then.
    void FitFrameToPaper();

    TW_UINT16 HandleApplicationWillTerminateNotification(const kdf::Value* object);
    TW_UINT16 HandleDestroyImageRequestNotification(const kdf::Value* object);

    // ---- The scan session's operations (next to the ones of CDataSource).
    // A prescan for the window: TWRC_CHECKSTATUS with TWCC_PAPERJAM for an
    // empty feeder.
    virtual TW_UINT16 Prescan() = 0;
    // The skip-blank-pages pass before a transfer-ready; true when it ended
    // the batch.
    virtual bool PerformSkipBlankPages() = 0;
    virtual void ShowRollerExchangeAlert() = 0;
    // The no-page alert: true for "OK" (try again), false for "Cancel".
    virtual bool ShowNoPageAlert() = 0;
    // error 1 unknown, 2 no memory.
    virtual void ShowAlert(int error) = 0;
    // The scanner's answer to "how many pages wait": -1 a document waits,
    // 0 none (batch transfer count, else document-ready status).
    virtual TW_INT32 QueryScannerPendingDocuments() = 0;
    // The scanner object's state (2 and above: a scan is under way).
    virtual int GetScannerState() = 0;
    virtual void AbortScanner() = 0;

    // The standard events a host may select through CAP_DEVICEEVENT.
    static const std::vector<TW_UINT16>& OfferedDeviceEvents();
    const std::vector<TW_UINT16>& SelectedDeviceEvents() const { return selectedDeviceEvents_; }
    // A standard event happened: when the host selected it, it is queued and
    // announced with MSG_DEVICEEVENT; DAT_DEVICEEVENT hands the queue out in
    // order, and the current custom code once it is empty. False when the
    // host did not ask for it.
    bool QueueDeviceEvent(TW_UINT16 event);
    std::size_t QueuedDeviceEvents() const { return queuedDeviceEvents_.size(); }

    // ---- Fields the scan session reads.
    TW_UINT32 DeviceEvent() const { return deviceEvent_; }
    int ScanMode() const { return scanMode_; }
    TW_INT32 PendingImageCount() const { return pendingImageCount_; }
    bool StopFlag() const { return stop_; }
    const std::optional<kdf::Bytes>& Snapshot() const { return snapshot_; }
    const kdf::Dictionary& SupportedPapers() const { return supportedPapers_; }
    const kdf::Array& UserGammaDatas() const { return userGammaDatas_; }

protected:
    // Posts "XferReadyNotification" after 0.2 s from the current run loop.
    void ScheduleXferReadyTimer();
    void InvalidateXferReadyTimer();
    void TakeSnapshot();
    void RegisterOwnNotifications();
    TW_INT32 CapInt(TW_UINT16 id) const;
    // The user's paper named by 0x8401 when it fits the scanner.
    bool FindCustomPaper(float* width, float* height) const;
    bool GetOriginalPaperSize(TW_INT32 size, float* width, float* height) const;
    // CAP_DEVICEEVENT for one capability message.
    TW_UINT16 DeviceEventCapability(TW_UINT16 msg, pTW_CAPABILITY capability);

    CTavrKd* scanner_ = nullptr;
    TW_INT32 pendingImageCount_ = 0;
    TW_INT32 imageCountAtAnnounce_ = 0;
    bool stop_ = false;
    int scanMode_ = 0;
    std::shared_ptr<kdf::Timer> xferReadyTimer_;
    TW_INT32 pageWidth_ = 0;
    TW_INT32 pageLength_ = 0;
    TW_UINT32 deviceEvent_;
    std::vector<TW_UINT16> selectedDeviceEvents_;
    std::deque<TW_UINT16> queuedDeviceEvents_;
    std::optional<kdf::Bytes> snapshot_;
    kdf::Dictionary supportedPapers_;
    kdf::Array userGammaDatas_;
};

// The document size of a paper from the user's list.
inline constexpr TW_INT32 kCustomPaperSize = -2;

// Document size (0x8400) and ICAP_SUPPORTEDSIZES, both ways.
TW_UINT16 SupportedSizeOfDocumentSize(TW_INT32 documentSize);
TW_INT32 DocumentSizeOfSupportedSize(TW_UINT16 supportedSize);
