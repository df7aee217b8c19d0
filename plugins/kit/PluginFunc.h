// The plug-in utility class: what the destination windows need around them.
// Where the application's utilities behave the same, the members are
// theirs; new here are the cloud sync-folder lookup, the help file and the
// numbered file names used on a name collision.
#pragma once

#include <QlrUtilsMethodUI.h>
#include <TV_FuncUI.h>

#include <foundation/Bundle.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kdkit::PluginFunc {

// --- Layout, key views, windows (Qt's y axis points down, as in a flipped
// view).
using QlrUtilsMethod::changeAlignment;
using QlrUtilsMethod::changeUserInterfaceLayoutDirection;
using QlrUtilsMethod::isLTR_LayoutDirection;
using QlrUtilsMethod::layoutLeftToRight;
using QlrUtilsMethod::layoutLeftToRightOfExceptionCell;
using TV_Func::deepSubviewsAtView;
using TV_Func::setNextKeyViewsAtWindow;
using TV_Func::windowPositionAdjustment;
inline void setEnabledToAllSubViewsOfView(bool enabled, QWidget* view) {
    TV_Func::setEnabledToAllSubViewsOfView(enabled, view);
}

// --- Folders and files.
using TV_Func::defaultAppFolder;
using TV_Func::defaultDesktopPath;
using TV_Func::defaultDocumentFolder;
using TV_Func::defaultPictureFolder;
using TV_Func::isDirectory;
using TV_Func::isDisplaysDirectory;
using TV_Func::isExistsFile;
using TV_Func::isLibraryDirectory;
using TV_Func::isReadableWritableDirectory;
using TV_Func::isRemoveFile;
using QlrUtilsMethod::fileBytesByPath;

// --- Cloud sync folders, by the build's service application name.
// The service's desktop entry when one is installed in an applications
// folder; none in the builds without a service.
std::optional<std::string> defaultCloudAppPath();
// The build's sync folder when it exists as a folder.
std::optional<std::string> cloudAppFolderForSync();
std::string dropboxFolder();                  // <home>/Dropbox
std::string oneDriveFolder();                 // <home>/OneDrive
std::optional<std::string> sugarSyncFolder(); // <Documents>/My SugarSync
std::string googleDriveFolder();              // <home>/ + localised "Plugin_CloudApp"

// --- Applications.
using QlrUtilsMethod::defaultMailAppPath;
using QlrUtilsMethod::openLinkPath;
inline bool isAppLaunched(std::string_view bundlePath) { return QlrUtilsMethod::isLaunchedApp(bundlePath); }
// Opens the bundle's help file: Info "CFBundleHelpBookFolder" names the
// folder in its resources, "TVHelpFileName" the file (name.extension).
// False when there is none or it could not be handed to the desktop.
bool openHelpFile(const kdf::Bundle& bundle);

// --- Numbered names.
// The first of path, path_001, path_002, ... (an already numbered name is
// counted on) where nothing exists; none when a step gives none.
std::optional<std::string> checkFilePath(const std::optional<std::string>& path);
// The next numbered variant of one path: "_001" appended to the name
// without its extension, or, when numbered, its number plus one, keeping
// the digit count unless the number was the largest of its count. None for
// none or when the parent is no folder.
std::optional<std::string> checkPathAndAddNumStrForPath(const std::optional<std::string>& path, bool isAddedNum);
// The name without its extension ends in "_" and digits only. A number of
// 19 digits or more does not fit and does not count.
bool isAddedNumInString(std::string_view fileName);
using QlrUtilsMethod::maxDigNumForFileWrite;
using QlrUtilsMethod::rangeOfCharInStrByOption;

// --- Other.
using QlrUtilsMethod::decodeDataToDict;
using QlrUtilsMethod::encodeDictToData;
using QlrUtilsMethod::resizeKeepRatio;
using TV_Func::addMenuItem;

} // namespace kdkit::PluginFunc
