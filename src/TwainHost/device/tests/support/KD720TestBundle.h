// KD720.ds for tests that open the real data source: the built bundle is
// copied into a temporary home's TWAIN folder with the recording settings
// window in place of its own, and the manager and the virtual scanner are
// pointed at it. Test programs define KD720_BUNDLE and KD_TEST_UI_BUNDLE.
#pragma once

#include "TempHome.h"

#include <filesystem>
#include <string>

inline std::filesystem::path installKD720WithRecordingWindow(kdtest::TempHome& home,
                                                             const std::string& virtualScanner) {
    namespace fs = std::filesystem;
    const fs::path folder = home.root() / "twain" / "KD720";
    fs::create_directories(folder.parent_path());
    fs::copy(KD720_BUNDLE, folder, fs::copy_options::recursive);
    fs::create_directories(folder / "PlugIns");
    // The real window module must go first: copying over it would mix both.
    fs::remove_all(folder / "PlugIns" / "KD720UI");
    fs::copy(KD_TEST_UI_BUNDLE, folder / "PlugIns" / "KD720UI", fs::copy_options::recursive);
    home.env().set("KD_TWAIN_DS_PATH", folder.parent_path().string());
    home.env().set("KD_VIRTUAL_SCANNER", virtualScanner);
    return folder;
}
