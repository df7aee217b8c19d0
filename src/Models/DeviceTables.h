// The scanner family: the older per-model data sources, the device type of
// the current data source and which newer custom capabilities it supports.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct OldDriverInfo {
    const char* manufacturer;
    const char* driverFamily;
    const char* productName; // TWAIN product name
    const char* dsFileName;
    const char* modelName;
    const char* oldAppName;
};

class TV_OldDevice {
public:
    static int cntOfOldDeviceTable();
    // The row, or null when the index is not a row's.
    static const OldDriverInfo* indexOfOldDriverInfo(int index);
    // The first row of that TWAIN product name; null when none matches.
    static const OldDriverInfo* driverInfoFromDSProductName(const std::optional<std::string>& productName);
};

// Device types by TWAIN product name; every other name is type 8.
inline constexpr int kOtherDeviceType = 8;
int deviceTypeOfProduct(std::string_view productName);
// The device type of the current data source.
int curDeviceType();

// One row of the support table: a capability and its flag for the device
// types 0 to 7.
struct CapSupportRow {
    std::uint16_t cap;
    std::array<bool, 8> supported;
};
std::span<const CapSupportRow> capSupportTable();

inline constexpr std::uint16_t kCapPhotoMode = 0x819A;

// The support rule for a given device type and data-source kind: ids
// outside the table and device types it does not list are supported; photo
// mode never is on the AirPrint-class data source.
bool isSupportedCAPOnDeviceType(std::uint16_t cap, int deviceType, bool isAPDS);
// The same for the current data source.
bool isSupportedCAP(std::uint16_t cap);
