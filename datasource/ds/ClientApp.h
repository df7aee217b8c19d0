// Host recognition: a few TWAIN hosts need the data source to behave a
// little differently. The recogniser is made from the identity a host sends
// with MSG_OPENDS; one exists per process, from open to close.
#pragma once

#include "twain/twain.h"

#include <string>

class CClientApp {
public:
    // Host ids the data source tests directly.
    enum : int {
        kHostUnknown = 0,
        kHostTwainBridge = 1,
        kHostImageCapture = 2,
        kHostImageCaptureTwain = 3,
        kHostAdobe = 4,
        kHostPhotoshopCS3 = 5,
        kHostMicrosoft = 6,
        kHostAcrobat = 7,
        kHostAdobeTerminated = 8,
        kHostScanModule = 9,
        kHostOwnApplication = 10,
    };

    // Classifies the host (a null origin is an unknown host) and installs
    // itself as the process's recogniser, deleting the previous one.
    explicit CClientApp(const TW_IDENTITY* origin);
    ~CClientApp();
    CClientApp(const CClientApp&) = delete;
    CClientApp& operator=(const CClientApp&) = delete;

    // The process's recogniser; null outside open .. close.
    static CClientApp* Current();
    // Deletes the process's recogniser.
    static void DeleteCurrent();
    // The current host's id (kHostUnknown without a recogniser), and whether
    // it runs in the background only (false without one).
    static int CurrentHostId();
    static bool CurrentIsBackgroundOnly();

    int HostId() const { return hostId_; }
    // Hosts that want a transfer-ready callback for every further page.
    bool RequireNextTransferRequest() const;
    // Hosts for which automatic colour detection is switched off when they
    // enable without the window.
    bool IsDisableDetectPageType() const;
    bool IsBackgroundOnly() const { return backgroundOnly_; }

    // An identity string field as text: a length byte of at most 33 counts
    // the characters after it; otherwise the field is a terminated string,
    // read only within the field. At most 63 characters.
    static std::string FieldText(const TW_STR32& field);
    // The host id of a manufacturer and product name (no process info).
    static int Classify(const TW_STR32& manufacturer, const TW_STR32& productName);

private:
    int hostId_ = kHostUnknown;
    bool backgroundOnly_ = false;
};
