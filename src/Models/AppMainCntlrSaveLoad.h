// The settings-file version check and the version stamp of settings
// dictionaries: class methods of the application controller's save-and-load
// part. Settings stored under another format version are dropped before
// anything reads them.
#pragma once

#include <foundation/UserDefaults.h>
#include <foundation/Value.h>

#include <cstdint>
#include <optional>
#include <string_view>

// Key of a settings dictionary (the user defaults or a backup) that holds
// the settings file version.
inline constexpr std::string_view kFileVerKey = "FileVerKey";
// Key of the application's Info.plist with the current settings file version.
inline constexpr std::string_view kCurrentFileVersionInfoKey = "TVCurrentFileVersion";

class AppMainCntlrSaveLoad {
public:
    // The application's settings file version from its Info.plist; 0 when
    // the key is missing (looked up again next time; only a non-zero value
    // is kept).
    static std::uint32_t currentFileVersion();

    // Stamps the current version into the dictionary or defaults; nothing
    // without one (there is no fallback to the standard defaults).
    static void saveFileVersionToFile(kdf::Dictionary* dict);
    static void saveFileVersionToFile(kdf::UserDefaults* defaults);

    // The stored version; 0 when there is no dictionary or no usable value.
    static std::uint32_t loadFileVersionFromFile(const kdf::Dictionary* dict);
    static std::uint32_t loadFileVersionFromFile(const kdf::UserDefaults* defaults);
    // The stored version when it is a number within 32 bits: a string or a
    // larger number is no version at all, so it can never pass for a match.
    static std::optional<std::uint32_t> storedFileVersion(const kdf::Value* stored);

    // Runs once per process, before the application model loads: when the
    // standard defaults' version differs from the current one (or is
    // missing), the application's defaults domain is emptied and stamped
    // with the current version at once.
    static void checkAppPlistIfDiffRemove();

    // Kept for the controller's calls; there is nothing to write.
    static void writePresetFile();
};
