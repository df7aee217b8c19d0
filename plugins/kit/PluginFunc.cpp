#include "PluginFunc.h"

#include "PluginKit.h"

#include <desktop/Desktop.h>
#include <foundation/UserFolders.h>

#include <QString>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kdkit::PluginFunc {
namespace {

namespace fs = std::filesystem;

std::string joined(const std::string& folder, std::string_view name) {
    return (fs::path(folder) / std::string(name)).string();
}

std::string folderOf(const std::string& path) {
    std::error_code ec;
    fs::path folder = fs::path(path).parent_path();
    fs::path resolved = fs::weakly_canonical(folder, ec);
    return (ec ? folder : resolved).lexically_normal().string();
}

// The name part and the extension of a file name (no extension for a name
// whose only dot leads it, such as ".profile").
std::pair<std::string_view, std::string_view> splitExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {name, {}};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

// The digits after the last "_" of a name without extension; none when the
// name is not numbered.
std::optional<std::string_view> numberPart(std::string_view base) {
    const std::size_t underscore = base.rfind('_');
    if (underscore == std::string_view::npos || underscore + 1 == base.size()) return std::nullopt;
    const std::string_view digits = base.substr(underscore + 1);
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    // 19 digits or more may not fit the 64-bit number.
    if (digits.size() > 18) return std::nullopt;
    return digits;
}

} // namespace

std::optional<std::string> defaultCloudAppPath() {
    const std::string service = buildConstants().serviceAppName;
    if (service.empty()) return std::nullopt;
    const std::optional<std::string> entry = kdd::findDesktopEntryNamed(service);
    if (!entry || entry->empty()) return std::nullopt;
    // Installed means: in one of the applications folders, not elsewhere.
    const QString folder = QString::fromStdString(folderOf(*entry));
    for (const std::string& apps : kdd::applicationFolders()) {
        std::error_code ec;
        fs::path resolved = fs::weakly_canonical(apps, ec);
        const std::string candidate = (ec ? fs::path(apps) : resolved).lexically_normal().string();
        if (folder.compare(QString::fromStdString(candidate), Qt::CaseInsensitive) == 0) return *entry;
    }
    return std::nullopt;
}

std::string dropboxFolder() { return joined(kdf::homeFolder(), "Dropbox"); }
std::string oneDriveFolder() { return joined(kdf::homeFolder(), "OneDrive"); }

std::optional<std::string> sugarSyncFolder() {
    const std::optional<std::string> documents = defaultDocumentFolder();
    if (!documents) return std::nullopt;
    return joined(*documents, "My SugarSync");
}

std::string googleDriveFolder() { return joined(kdf::homeFolder(), localized("Plugin_CloudApp")); }

std::optional<std::string> cloudAppFolderForSync() {
    const std::string_view service = buildConstants().serviceAppName;
    std::optional<std::string> folder;
    if (service == "Dropbox")
        folder = dropboxFolder();
    else if (service == "OneDrive")
        folder = oneDriveFolder();
    else if (service == "SugarSync")
        folder = sugarSyncFolder();
    else if (service == "Google Drive")
        folder = googleDriveFolder();
    if (folder && isDirectory(*folder)) return folder;
    return std::nullopt;
}

bool openHelpFile(const kdf::Bundle& bundle) {
    const kdf::Value* folder = bundle.objectForInfoKey("CFBundleHelpBookFolder");
    const kdf::Value* file = bundle.objectForInfoKey("TVHelpFileName");
    if (!folder || !folder->string() || !file || !file->string()) return false;
    const auto [name, extension] = splitExtension(*file->string());
    if (name.empty() || extension.empty()) return false;
    const std::string path = bundle.pathForResource(name, extension, *folder->string());
    if (path.empty() || !isExistsFile(path) || isDirectory(path)) return false;
    // The desktop's handler for the page: the web browser where one is set.
    return kdd::openPath(path);
}

bool isAddedNumInString(std::string_view fileName) {
    return numberPart(splitExtension(fileName).first).has_value();
}

std::optional<std::string> checkPathAndAddNumStrForPath(const std::optional<std::string>& path, bool isAddedNum) {
    if (!path || path->empty()) return std::nullopt;
    const fs::path whole(*path);
    const std::string parent = whole.parent_path().string();
    if (!isDirectory(parent.empty() ? std::string(".") : parent)) return std::nullopt;
    const std::string fileName = whole.filename().string();
    const auto [base, extension] = splitExtension(fileName);
    std::string newBase;
    const std::optional<std::string_view> digits = isAddedNum ? numberPart(base) : std::nullopt;
    if (!digits) {
        newBase = std::string(base) + "_001";
    } else {
        std::int64_t old = 0;
        std::from_chars(digits->data(), digits->data() + digits->size(), old);
        std::size_t width = digits->size();
        if (old == maxDigNumForFileWrite(std::int64_t(width))) ++width;
        char number[32];
        std::snprintf(number, sizeof number, "%0*lld", int(width), static_cast<long long>(old + 1));
        newBase = std::string(base.substr(0, base.size() - digits->size())) + number;
    }
    std::string newName = extension.empty() ? newBase : newBase + "." + std::string(extension);
    return (whole.parent_path() / newName).string();
}

std::optional<std::string> checkFilePath(const std::optional<std::string>& path) {
    std::optional<std::string> current = path;
    while (current) {
        std::error_code ec;
        // A link, even a dangling one, is an item that is in the way.
        if (!fs::exists(fs::symlink_status(*current, ec))) return current;
        current = checkPathAndAddNumStrForPath(current, isAddedNumInString(fs::path(*current).filename().string()));
    }
    return std::nullopt;
}

} // namespace kdkit::PluginFunc
