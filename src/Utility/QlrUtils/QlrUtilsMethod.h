// Application utilities without a toolkit: the temporary work folder and
// its page files, file-name rules, plug-in and companion-program lookups,
// the running-copy check, archives of settings, locale, file moves and the
// 1-bit line rotation. The view and image helpers live in QlrUtilsUI
// (QlrUtilsMethodUI.h), in the same namespace. The one shared state is none:
// every routine may run on any thread.
#pragma once

#include "ImageProvider.h"

#include <foundation/Value.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace QlrUtilsMethod {

inline constexpr std::string_view kAppName = "Quillora";
// Info.plist key: the folder name of the companion device-button program
// inside the bundle's shared-support folder.
inline constexpr std::string_view kTaskAppNameInfoKey = "TVTaskAppName";

// --- The work folder "Qlr_<bundle id>_Tmp" in the user's private temporary
// folder, with "tmpImg" (raw pages), "dstImg" (edited pages) and "Multi"
// (pages of a multi-page file being assembled). Creating and removing it
// never follow symbolic links; a link or a folder of another owner in its
// place is left alone and makes the calls below answer none.

// The path (nothing is created); none when the private temporary folder is
// unusable.
std::optional<std::string> tmpImageFolderPath();
// Empties the work folder: removes it, makes it again with "tmpImg" and
// "dstImg". False when it could not be made.
bool createTmpFolder();
// Removes the work folder with its content when it is our folder.
void removeTmpFolder();
// The sub-folder, made when missing; none when the work folder does not
// exist or the sub-folder cannot be made.
std::optional<std::string> createAndTmpImgFolderPath();
std::optional<std::string> createAndDstImgFolderPath();
std::optional<std::string> createAndMultiFolderPath();
void removeMultiFolder();
// "<tmpImg folder>/tmpImg_%d" and "<dstImg folder>/dstImg_%d" as printf
// formats, every "%" of the folder part doubled.
std::optional<std::string> tmpBaseImageFilePathFormat();
std::optional<std::string> tmpDstImageFilePathFormat();
// The file of a page, built without a format.
std::optional<std::string> tmpBaseImageFilePath(long long index);
std::optional<std::string> tmpDstImageFilePath(long long index);

// True when the path is a folder; otherwise, for an absolute path only,
// makes each missing folder from the root down and answers whether the
// whole path is now a folder.
bool checkAndMakeTargetDirectory(std::string_view path);

// --- Names and strings (UTF-8; ranges in bytes).

// True for an empty name and for names without any of the nine characters
// "¥/:*?<>|\"" (the yen sign is the code point U+00A5) and without NUL.
bool isValidNameInString(std::string_view name);
bool isHeadCharDotInString(std::string_view name);
// White space (tab, space and the Unicode space separators) trimmed at both
// ends; none for empty input.
std::optional<std::string> deleteSpaceHeadAndTail(std::string_view text);

// Search options (the values callers pass).
enum SearchOption : unsigned {
    kCaseInsensitiveSearch = 1, // ASCII letters
    kBackwardsSearch = 4,
    kAnchoredSearch = 8,
};
struct CharRange {
    std::size_t location = 0;
    std::size_t length = 0;
    friend bool operator==(const CharRange&, const CharRange&) = default;
};
inline constexpr std::size_t kNotFound = std::size_t(-1);
// The byte range of the first (with kBackwardsSearch the last) character of
// the string that is one of the characters; {kNotFound, 0} when none is;
// {0, 0} when either is empty.
CharRange rangeOfCharInStrByOption(std::string_view characters, std::string_view string, unsigned options);

// The part to remove, named at the call so string and part cannot swap.
struct PartToDelete {
    explicit PartToDelete(std::string_view t) : text(t) {}
    std::string_view text;
};
// A copy of the string with the first occurrence of the part removed; none
// when the part does not occur (an empty part never does).
std::optional<std::string> deleteString(std::string_view string, PartToDelete part);

// The largest number of n decimal digits; 0 for n <= 0; at most 18 digits.
std::int64_t maxDigNumForFileWrite(std::int64_t digits);

// --- Bundle, plug-ins and companion program.

std::string installedPluginPath();
// Names of the plug-ins folder's entries with the extension "plugin",
// sorted by name; empty when the folder cannot be read.
std::vector<std::string> pluginNameList();
// The same for any folder.
std::vector<std::string> pluginNameList(const std::string& folder);
std::string appName();
std::optional<kdf::Value> objectFromInfoDict(std::string_view key);
// The companion's folder in the shared-support folder, named by
// "TVTaskAppName" (a plain name: none for one holding "/" or for "." and
// ".."); none when the key or the folder is missing.
std::optional<std::string> targetAppPath();
// Another running copy of this application (any other process with this
// bundle identifier), or a companion program of another installation.
bool isAppLaunched();
// False when nothing exists at the path; else whether a running process has
// exactly that bundle folder.
bool isLaunchedApp(std::string_view bundlePath);
// Opens a folder in the file manager, without waiting; nothing for a path
// that is no folder.
void openLinkPath(std::string_view folder);
std::string uuidString();
std::optional<std::string> defaultMailAppPath();

// --- Archives of settings: the XML property-list bytes. Anything that is
// not such a list decodes to none.
std::optional<kdf::Bytes> encodeDictToData(const std::optional<kdf::Value>& value);
std::optional<kdf::Value> decodeDataToDict(const std::optional<kdf::Bytes>& data);

// --- System and locale.

// The system version code callers compare against: this platform answers
// the fixed 0x10F0, which is past every fallback they choose between.
int currentOSVersion();
// (major / 10) << 12 | (major % 10) << 8 | (minor << 4 & 0xFF) | (patch & 0xF).
int packOSVersion(int major, int minor, int patch);
// The main bundle's first preferred localisation.
std::optional<std::string> currentLocaleStr();
bool isEqualToLocaleStr(std::string_view locale);
// False for Arabic, Hebrew, Persian and Urdu.
bool isLTR_LayoutDirection();
// In right-to-left layout, whether the image of that name (extension
// ignored) is one of the direction-bearing images that are shown mirrored.
bool isFlipHorizontalImage(std::string_view imageName);

// --- Files.

// The size of the file; 0 when nothing is there.
std::uint64_t fileBytesByPath(std::string_view path);
// Moves the file. Across file systems: streams a copy to a temporary name
// in the destination folder, flushes it, renames it into place and then
// removes the source; on failure the partial copy goes and the source
// stays. A link at the destination is replaced, never followed.
bool enhancedMovePath(std::string_view source, std::string_view destination);
std::optional<kdf::Bytes> dataFromPath(std::string_view path);

// --- Images.

ImageRef fileIcnImage(std::string_view path);
ImageRef defaultOSFolderIcnImage();

// One line of a rotated 1-bit image: pixels most significant bit first,
// source rows of (srcW + 7) / 8 bytes. Direction 0: destination line a is
// source column a from the bottom row up; 1: source column srcW - 1 - a from
// the top row down (both srcH pixels); 2: source row a reversed (srcW
// pixels). The line's bytes are cleared first. Nothing is written for
// another direction, a line outside the image, sizes that are not positive
// or spans too short for the image or the line.
void rotate_Image1Bpp(long a, std::span<std::uint8_t> dstLine, std::span<const std::uint8_t> src,
                      long srcW, long srcH, int direct);

} // namespace QlrUtilsMethod
