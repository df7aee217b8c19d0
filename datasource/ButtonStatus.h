// The button-status export: the operation-panel keys and the document-ready
// state, read without a TWAIN session under the data source's scanner lock.
#pragma once

#include "DeviceList.h"

#include <cstdint>
#include <vector>

#define KD_BUTTON_EXPORT extern "C" __attribute__((visibility("default")))

// 0 success, -1 no scanner found (or no list), -2 the scanner lock is
// taken or cannot be made, -3 the scanner cannot be opened or queried.
KD_BUTTON_EXPORT std::int32_t GetKdButtonStatus(std::uint32_t* status, unsigned long* locationID);

// The same over a given device list.
std::int32_t KdButtonStatus(std::uint32_t* status, unsigned long* locationID,
                            const std::vector<SKdDeviceId>& ids);
