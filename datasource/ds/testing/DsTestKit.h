// Pieces the data source's tests share: the bundle folder of a data source
// assembled in a temporary folder, and one-value and array containers.
#pragma once

#include "twain/twain.h"

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace dstest {

namespace fs = std::filesystem;

// <root>/KD720/ with the test .ds (when given), Info.plist, the paper list
// and, when withWindow, the test window bundle as PlugIns/KD720UI/.
inline fs::path AssembleBundle(const fs::path& root, bool withWindow, const char* dsFile = nullptr) {
    const fs::path folder = root / "KD720";
    fs::create_directories(folder / "Resources" / "en.lproj");
    if (dsFile) fs::copy_file(dsFile, folder / "KD720.ds", fs::copy_options::overwrite_existing);
    std::ofstream(folder / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleExecutable</key><string>KD720.ds</string>"
           "<key>CFBundleIdentifier</key><string>jp.co.tavrolek-sys.kd720</string></dict></plist>\n";
    fs::copy_file(fs::path(KD_DS_RESOURCES) / "KdPaperSize.plist", folder / "Resources" / "KdPaperSize.plist",
                  fs::copy_options::overwrite_existing);
    if (withWindow) {
        fs::create_directories(folder / "PlugIns");
        fs::copy(KD_TEST_UI_BUNDLE, folder / "PlugIns" / "KD720UI",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    return folder;
}

// A one-value record of one item, in memory from alloc.
template <typename T, typename Alloc> TW_HANDLE OneValue(Alloc alloc, TW_UINT16 itemType, const T& item) {
    constexpr std::size_t offset = offsetof(TW_ONEVALUE, Item);
    const std::size_t size = offset + (sizeof(T) < 4 ? 4 : sizeof(T));
    TW_HANDLE handle = alloc(static_cast<TW_UINT32>(size));
    auto* bytes = static_cast<unsigned char*>(handle);
    std::memset(bytes, 0, size);
    std::memcpy(bytes, &itemType, sizeof itemType);
    std::memcpy(bytes + offset, &item, sizeof item);
    return handle;
}

// The item of an answered one-value record.
template <typename T> T OneValueItem(TW_HANDLE handle, TW_UINT16* itemType = nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(handle);
    if (itemType) std::memcpy(itemType, bytes, sizeof *itemType);
    T item;
    std::memcpy(&item, bytes + offsetof(TW_ONEVALUE, Item), sizeof item);
    return item;
}

// An array record of TW_UINT16 items (or of another item type, for
// records a source must refuse), in memory from alloc.
template <typename Alloc>
TW_HANDLE UInt16Array(Alloc alloc, const std::vector<TW_UINT16>& items, TW_UINT16 itemType = TWTY_UINT16) {
    const std::size_t size = kTwArrayItemListOffset + items.size() * sizeof(TW_UINT16) + 2;
    TW_HANDLE handle = alloc(static_cast<TW_UINT32>(size));
    auto* bytes = static_cast<unsigned char*>(handle);
    std::memset(bytes, 0, size);
    const TW_UINT32 count = static_cast<TW_UINT32>(items.size());
    std::memcpy(bytes, &itemType, sizeof itemType);
    std::memcpy(bytes + offsetof(TW_ARRAY, NumItems), &count, sizeof count);
    if (!items.empty()) std::memcpy(bytes + kTwArrayItemListOffset, items.data(), items.size() * sizeof(TW_UINT16));
    return handle;
}

// The items of an answered array of TW_UINT16.
inline std::vector<TW_UINT16> UInt16ArrayItems(TW_HANDLE handle, TW_UINT16* itemType = nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(handle);
    if (itemType) std::memcpy(itemType, bytes, sizeof *itemType);
    TW_UINT32 count = 0;
    std::memcpy(&count, bytes + offsetof(TW_ARRAY, NumItems), sizeof count);
    std::vector<TW_UINT16> items(count);
    if (count) std::memcpy(items.data(), bytes + kTwArrayItemListOffset, count * sizeof(TW_UINT16));
    return items;
}

inline double Fix32(const TW_FIX32& fix) { return fix.Whole + fix.Frac / 65536.0; }
inline double Fix32Word(TW_UINT32 word) {
    TW_FIX32 fix;
    std::memcpy(&fix, &word, sizeof fix);
    return Fix32(fix);
}

} // namespace dstest
