// What the application's start-up and termination keep in the user
// defaults, and the main window's built-in layout.
#pragma once

// User-defaults keys.
inline constexpr const char* kMainWindowFrameKey = "MainWindowFrameKey";
inline constexpr const char* kStep1SplitSubViewHKey = "Step1SplitSubView_H_Key";
inline constexpr const char* kThumbnailSplitSubViewWKey = "ThumbnailSplitSubView_W_Key";
inline constexpr const char* kIsShowedNavigationKey = "IsShowedNavigationKey";
inline constexpr const char* kIsShowedImportWinKey = "IsShowedImportWinKey";

// The main window: never smaller than this; at the first start this size,
// centred.
inline constexpr int kMainWindowMinWidth = 800;
inline constexpr int kMainWindowMinHeight = 600;
inline constexpr int kMainWindowDefaultWidth = 982;
inline constexpr int kMainWindowDefaultHeight = 720;
// The step-1 pane's height and the page-thumbnail pane's width.
inline constexpr double kDefaultStep1PaneHeight = 214;
inline constexpr double kDefaultThumbnailPaneWidth = 186;
inline constexpr double kMinThumbnailPaneWidth = 97;
inline constexpr double kMaxThumbnailPaneWidth = 414;

// The relaunch helper in the bundle's shared-support folder.
inline constexpr const char* kRelaunchHelperName = "RelaunchQLR";
inline constexpr const char* kSharedSupportFolderName = "SharedSupport";

// The legacy import: offered while the job list holds at most this many.
inline constexpr int kMaxJobsForLegacyImport = 84;
// The older application's preferences by current product name.
inline constexpr const char* kLegacyProductKD810 = "Tavro KD-810 TWAIN";
inline constexpr const char* kLegacyProductKD820 = "Tavro KD-820 TWAIN";
inline constexpr const char* kLegacyPrefsKD810 = "com.tavrolek.Quillora KD-810";
inline constexpr const char* kLegacyPrefsKD820 = "com.tavrolek.Quillora KD-820";
