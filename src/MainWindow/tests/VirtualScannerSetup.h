// The application controller on KD720.ds and the virtual scanner through our
// TWAIN manager, connected as the program connects them at start and taken
// down again, for the tests that scan through the whole road.
#pragma once

#include "AppMainCntlr.h"
#include "AppMainCntlrDSInfo.h"
#include "QlrDeviceCntlr.h"
#include "QuietDeviceDelegate.h"

namespace scantest {

inline QlrDeviceCntlr* connectVirtualScanner(AppMainCntlr& cntlr) {
    AppMainCntlr::setCurrent(&cntlr);
    setCurrentIdentity("Tavrolek Document Systems", "Tavro KD-720 Driver", "Tavro KD-720 TWAIN");
    QlrDeviceCntlr::setApplicationDelegate(&cntlr);
    QlrDeviceCntlr* device = QlrDeviceCntlr::sharedDeviceCntlr();
    cntlr.setDeviceCntlr(device);
    if (!cntlr.isReadyScan()) device->twHandler()->openDSM();
    cntlr.setUpNotification();
    return device;
}

inline void disconnectVirtualScanner(AppMainCntlr& cntlr) {
    QlrDeviceCntlr::terminateDeviceCntlr();
    cntlr.setDeviceCntlr(nullptr);
    QlrDeviceCntlr::setApplicationDelegate(nullptr);
    AppMainCntlr::setCurrent(nullptr);
    AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
}

} // namespace scantest
