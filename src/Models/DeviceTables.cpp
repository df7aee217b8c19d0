#include "DeviceTables.h"

#include "AppControllerServices.h"

namespace {

#define KD_OLD_ROW(n) \
    {"Tavrolek Document Systems", "Tavro KD-" n " Driver", "Tavro KD-" n " TWAIN", "KD" n ".ds", "KD-" n, \
     "Quillora KD-" n ".app"}
constexpr OldDriverInfo kOldDevices[] = {
    KD_OLD_ROW("910"), KD_OLD_ROW("911"), KD_OLD_ROW("920"), KD_OLD_ROW("921"),
    KD_OLD_ROW("930"), KD_OLD_ROW("931"), KD_OLD_ROW("710"), KD_OLD_ROW("720"),
    KD_OLD_ROW("730"), KD_OLD_ROW("810"), KD_OLD_ROW("820"),
};
#undef KD_OLD_ROW

struct DeviceTypeName {
    const char* productName;
    int type;
};
constexpr DeviceTypeName kDeviceTypes[] = {
    {"Tavro KD-710 TWAIN", 0}, {"Tavro KD-930 TWAIN", 1}, {"Tavro KD-931 TWAIN", 1},
    {"Tavro KD-920 TWAIN", 2}, {"Tavro KD-921 TWAIN", 2}, {"Tavro KD-910 TWAIN", 3},
    {"Tavro KD-911 TWAIN", 3}, {"Tavro KD-810 TWAIN", 4}, {"Tavro KD-820 TWAIN", 5},
    {"Tavro KD-730 TWAIN", 6}, {"Tavro KD-720 TWAIN", 7},
};

constexpr CapSupportRow kCapSupport[] = {
    {0x80CB, {1, 0, 0, 0, 0, 0, 0, 0}}, // CCAP_TVK_ROTATEFEEDINGDIRECTION
    {0x819A, {0, 1, 1, 1, 0, 0, 0, 0}}, // CCAP_TVK_PHOTOMODE
    {0x819B, {0, 0, 0, 0, 1, 1, 0, 0}}, // CCAP_TVK_DFDINDIFFERENT_START_POSOFY
    {0x819C, {0, 0, 0, 0, 1, 1, 0, 0}}, // CCAP_TVK_DFDINDIFFERENT_END_POSOFY
    {0x819D, {0, 0, 0, 0, 0, 1, 0, 0}}, // CCAP_TVK_SEPARATIONRETRY
    {0x81A4, {0, 0, 0, 0, 1, 0, 0, 0}}, // CCAP_TVK_SKEWDETECT
    {0x81A5, {0, 0, 0, 0, 0, 1, 0, 0}}, // CCAP_TVK_THINPAPER
    {0x81A6, {0, 0, 0, 0, 0, 1, 0, 0}}, // CCAP_TVK_NONSEPARATIONFEED
    {0x81AE, {0, 0, 0, 0, 1, 1, 1, 1}}, // CCAP_TVK_BINIPFILTER
    {0x8420, {0, 0, 0, 1, 0, 0, 0, 0}}, // CCAP_TVKM_MANUALFEED_AUTOBATCH
    {0x8421, {0, 1, 1, 1, 0, 0, 1, 1}}, // CCAP_TVKM_TRIMMING
    {0x8422, {1, 1, 1, 1, 1, 1, 1, 1}}, // CCAP_TVKM_REMOVESHADOW_ACTION
};

} // namespace

int TV_OldDevice::cntOfOldDeviceTable() { return int(std::size(kOldDevices)); }

const OldDriverInfo* TV_OldDevice::indexOfOldDriverInfo(int index) {
    if (index < 0 || index >= cntOfOldDeviceTable()) return nullptr;
    return &kOldDevices[index];
}

const OldDriverInfo* TV_OldDevice::driverInfoFromDSProductName(const std::optional<std::string>& productName) {
    if (!productName) return nullptr;
    for (const OldDriverInfo& row : kOldDevices)
        if (*productName == row.productName) return &row;
    return nullptr;
}

int deviceTypeOfProduct(std::string_view productName) {
    for (const DeviceTypeName& d : kDeviceTypes)
        if (productName == d.productName) return d.type;
    return kOtherDeviceType;
}

int curDeviceType() { return deviceTypeOfProduct(AppControllerServices::curDS_ProductName()); }

std::span<const CapSupportRow> capSupportTable() { return kCapSupport; }

bool isSupportedCAPOnDeviceType(std::uint16_t cap, int deviceType, bool isAPDS) {
    if (cap == kCapPhotoMode && isAPDS) return false;
    for (const CapSupportRow& row : kCapSupport) {
        if (row.cap != cap) continue;
        if (deviceType < 0 || deviceType >= int(row.supported.size())) return true;
        return row.supported[std::size_t(deviceType)];
    }
    return true;
}

bool isSupportedCAP(std::uint16_t cap) {
    return isSupportedCAPOnDeviceType(cap, curDeviceType(), AppControllerServices::curDS_IsAPDS());
}
