// The current data source as the panel tiles and menus ask about it: a
// scanner that may have several buttons and may be the AirPrint-class
// source, as a test sets.
#pragma once

#include "AppControllerServices.h"

namespace browsertest {

class ServicesDouble : public AppControllerServices {
public:
    bool apds = false;
    bool multi = false;

protected:
    std::string dsProductName() const override { return "KD-720"; }
    bool dsIsAPDS() const override { return apds; }
    bool supportsCAPOnDevice(std::uint16_t) const override { return true; }
    bool supportsScanSide(const std::optional<std::string>&) const override { return true; }
    bool settingWindowVisible() const override { return false; }
    bool supportsMultiDeviceBtns(const std::optional<std::string>&) const override { return multi; }
};

} // namespace browsertest
