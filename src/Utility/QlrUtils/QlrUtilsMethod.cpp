#include "QlrUtilsMethod.h"

#include "TV_Func.h"

#include <desktop/Desktop.h>
#include <foundation/Bundle.h>
#include <foundation/File.h>
#include <foundation/PropertyList.h>
#include <foundation/UserFolders.h>
#include <foundation/Uuid.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace QlrUtilsMethod {

namespace {

constexpr const char* kTmpImgFolder = "tmpImg";
constexpr const char* kDstImgFolder = "dstImg";
constexpr const char* kMultiFolder = "Multi";

// lstat: a real folder (not a link) of this user.
bool isOwnFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The work folder when it exists as our own folder.
std::optional<std::string> existingWorkFolder() {
    auto work = tmpImageFolderPath();
    if (!work || !isOwnFolder(*work)) return std::nullopt;
    return work;
}

// Makes the folder (0700) when nothing is there; answers it only when it
// then is our own real folder.
std::optional<std::string> makeOwnFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (!isOwnFolder(path)) return std::nullopt;
    return path;
}

std::optional<std::string> workSubFolder(const char* name) {
    auto work = existingWorkFolder();
    if (!work) return std::nullopt;
    return makeOwnFolder(kdf::joinPath(*work, name));
}

// Removes the folder with its content when it is our own real folder;
// remove_all never descends through a link.
void removeOwnFolder(const std::string& path) {
    if (!isOwnFolder(path)) return;
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string doublePercent(const std::string& s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

std::optional<std::string> formatIn(std::optional<std::string> folder, const char* prefix) {
    if (!folder) return std::nullopt;
    return doublePercent(*folder) + "/" + prefix + "_%d";
}

std::optional<std::string> fileIn(std::optional<std::string> folder, const char* prefix, long long index) {
    if (!folder) return std::nullopt;
    return kdf::joinPath(*folder, std::string(prefix) + "_" + std::to_string(index));
}

// UTF-8 decoding: the code point at i and its length; a malformed byte is
// U+FFFD of length 1.
char32_t decodeAt(std::string_view s, std::size_t i, std::size_t* len) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
        *len = 1;
        return c < 0x80 ? c : 0xFFFD;
    }
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            *len = 1;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    *len = n;
    return cp;
}

struct Char {
    char32_t cp;
    std::size_t at, len;
};

std::vector<Char> charsOf(std::string_view s) {
    std::vector<Char> out;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t len = 1;
        const char32_t cp = decodeAt(s, i, &len);
        out.push_back({cp, i, len});
        i += len;
    }
    return out;
}

bool isSpaceChar(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

char32_t foldAscii(char32_t c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

const std::array<std::string_view, 24> kMirroredImages = {
    "bmp_contrast",      "bmp_trim",          "btn_arrow_L_G",     "btn_arrow_L_O",
    "btn_arrow_L",       "btn_arrow_R_G",     "btn_arrow_R_O",     "btn_arrow_R",
    "panel_jobarrow",    "btn_select_even_C", "btn_select_even_O", "btn_select_even",
    "btn_select_odd_C",  "btn_select_odd_O",  "btn_select_odd",    "btn_select_next_G",
    "btn_select_next_O", "btn_select_next",   "btn_select_prev_G", "btn_select_prev_O",
    "btn_select_prev",   "btn_thumbnail_G",   "btn_thumbnail_O",   "btn_thumbnail"};

std::string resolvedPath(const std::string& path) {
    std::error_code ec;
    auto p = fs::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

// Copies a regular file to a fresh temporary name beside the destination,
// flushes it and renames it into place. The temporary file is removed on
// any failure.
bool copyIntoPlace(const std::string& source, const std::string& destination) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    const std::string folder = kdf::folderOf(destination);
    std::string name = ".";
    name += kdf::lastComponent(destination);
    name += ".XXXXXX";
    std::string tmp = kdf::joinPath(folder, name);
    // mkostemp creates exclusively, so a link planted there is never followed.
    const int out = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    std::vector<char> buf(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, std::size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    ::close(in);
    if (ok) {
        ::fchmod(out, st.st_mode & 07777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
        ok = ::fsync(out) == 0;
    }
    ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(tmp.c_str(), destination.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::mutex providerMutex;
std::shared_ptr<ImageProvider>& providerSlot() {
    static std::shared_ptr<ImageProvider> provider;
    return provider;
}

} // namespace

Image::~Image() = default;
ImageProvider::~ImageProvider() = default;

void setImageProvider(std::shared_ptr<ImageProvider> provider) {
    std::lock_guard lock(providerMutex);
    providerSlot() = std::move(provider);
}

std::shared_ptr<ImageProvider> imageProvider() {
    std::lock_guard lock(providerMutex);
    return providerSlot();
}

// --- Work folder.

std::optional<std::string> tmpImageFolderPath() {
    auto base = kdf::userTemporaryFolder();
    if (!base) return std::nullopt;
    std::string id = kdf::Bundle::main()->identifier();
    std::replace(id.begin(), id.end(), '/', '_');
    return kdf::joinPath(*base, "Qlr_" + id + "_Tmp");
}

bool createTmpFolder() {
    removeTmpFolder();
    auto work = tmpImageFolderPath();
    if (!work || !makeOwnFolder(*work)) return false;
    return workSubFolder(kTmpImgFolder) && workSubFolder(kDstImgFolder);
}

void removeTmpFolder() {
    if (auto work = tmpImageFolderPath()) removeOwnFolder(*work);
}

std::optional<std::string> createAndTmpImgFolderPath() {
    return workSubFolder(kTmpImgFolder);
}

std::optional<std::string> createAndDstImgFolderPath() {
    return workSubFolder(kDstImgFolder);
}

std::optional<std::string> createAndMultiFolderPath() {
    return workSubFolder(kMultiFolder);
}

void removeMultiFolder() {
    if (auto work = existingWorkFolder()) removeOwnFolder(kdf::joinPath(*work, kMultiFolder));
}

std::optional<std::string> tmpBaseImageFilePathFormat() {
    return formatIn(createAndTmpImgFolderPath(), kTmpImgFolder);
}

std::optional<std::string> tmpDstImageFilePathFormat() {
    return formatIn(createAndDstImgFolderPath(), kDstImgFolder);
}

std::optional<std::string> tmpBaseImageFilePath(long long index) {
    return fileIn(createAndTmpImgFolderPath(), kTmpImgFolder, index);
}

std::optional<std::string> tmpDstImageFilePath(long long index) {
    return fileIn(createAndDstImgFolderPath(), kDstImgFolder, index);
}

bool checkAndMakeTargetDirectory(std::string_view path) {
    if (TV_Func::isDirectory(path)) return true;
    if (path.empty() || path[0] != '/') return false;
    std::string prefix;
    for (const auto& component : fs::path(path).relative_path()) {
        prefix += '/';
        prefix += component.string();
        struct stat st {};
        if (::stat(prefix.c_str(), &st) != 0) ::mkdir(prefix.c_str(), 0777);
    }
    return TV_Func::isDirectory(path);
}

// --- Names and strings.

bool isValidNameInString(std::string_view name) {
    static constexpr std::string_view kInvalidAscii("/:*?<>|\"\0", 9);
    if (name.find_first_of(kInvalidAscii) != std::string_view::npos) return false;
    // The yen sign U+00A5; UTF-8 sequences cannot match it by accident.
    return name.find("\xC2\xA5") == std::string_view::npos;
}

bool isHeadCharDotInString(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

std::optional<std::string> deleteSpaceHeadAndTail(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const auto chars = charsOf(text);
    std::size_t first = 0, last = chars.size();
    while (first < last && isSpaceChar(chars[first].cp)) ++first;
    while (last > first && isSpaceChar(chars[last - 1].cp)) --last;
    if (first == last) return std::string();
    const std::size_t from = chars[first].at;
    const std::size_t to = chars[last - 1].at + chars[last - 1].len;
    return std::string(text.substr(from, to - from));
}

CharRange rangeOfCharInStrByOption(std::string_view characters, std::string_view string, unsigned options) {
    if (characters.empty() || string.empty()) return {0, 0};
    const bool fold = options & kCaseInsensitiveSearch;
    std::vector<char32_t> set;
    for (const auto& c : charsOf(characters)) set.push_back(fold ? foldAscii(c.cp) : c.cp);
    const auto chars = charsOf(string);
    const auto matches = [&](const Char& c) {
        return std::find(set.begin(), set.end(), fold ? foldAscii(c.cp) : c.cp) != set.end();
    };
    const bool backwards = options & kBackwardsSearch;
    const bool anchored = options & kAnchoredSearch;
    const std::size_t n = chars.size();
    for (std::size_t k = 0; k < n; ++k) {
        const Char& c = chars[backwards ? n - 1 - k : k];
        if (matches(c)) return {c.at, c.len};
        if (anchored) break;
    }
    return {kNotFound, 0};
}

std::optional<std::string> deleteString(std::string_view string, PartToDelete part) {
    if (part.text.empty()) return std::nullopt;
    const auto at = string.find(part.text);
    if (at == std::string_view::npos) return std::nullopt;
    std::string out(string);
    out.erase(at, part.text.size());
    return out;
}

std::int64_t maxDigNumForFileWrite(std::int64_t digits) {
    // 19 nines no longer fit a signed 64-bit number.
    const std::int64_t n = std::min<std::int64_t>(digits, 18);
    std::int64_t value = 0;
    for (std::int64_t i = 0; i < n; ++i) value = value * 10 + 9;
    return value;
}

// --- Bundle, plug-ins and companion program.

std::string installedPluginPath() {
    return kdf::Bundle::main()->builtInPlugInsPath();
}

std::vector<std::string> pluginNameList() { return pluginNameList(installedPluginPath()); }

std::vector<std::string> pluginNameList(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return names;
    static constexpr std::string_view kExtension = ".plugin";
    while (dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name.size() > kExtension.size() && name.substr(name.size() - kExtension.size()) == kExtension)
            names.emplace_back(name);
    }
    ::closedir(d);
    // Directory order differs between file systems; plug-ins keep one order.
    std::sort(names.begin(), names.end());
    return names;
}

std::string appName() {
    return std::string(kAppName);
}

std::optional<kdf::Value> objectFromInfoDict(std::string_view key) {
    if (const kdf::Value* v = kdf::Bundle::main()->objectForInfoKey(key)) return *v;
    return std::nullopt;
}

std::optional<std::string> targetAppPath() {
    const auto value = objectFromInfoDict(kTaskAppNameInfoKey);
    const std::string* name = value ? value->string() : nullptr;
    if (!name || name->empty() || *name == "." || *name == ".." ||
        name->find('/') != std::string::npos || name->find('\0') != std::string::npos)
        return std::nullopt;
    const std::string path = kdf::joinPath(kdf::Bundle::main()->sharedSupportPath(), *name);
    if (!TV_Func::isDirectory(path)) return std::nullopt;
    return path;
}

bool isAppLaunched() {
    const std::string ownId = kdf::Bundle::main()->identifier();
    std::string companionId, companionExe;
    if (auto companionPath = targetAppPath()) {
        if (auto companion = kdf::Bundle::atPath(*companionPath)) {
            companionId = companion->identifier();
            if (auto exe = companion->executablePath(); !exe.empty()) companionExe = resolvedPath(exe);
        }
    }
    const pid_t self = ::getpid();
    for (const auto& process : kdd::runningProcesses()) {
        if (process.pid == self || process.bundleIdentifier.empty()) continue;
        // Linux starts any number of copies, wherever they lie: every other
        // process of this identifier is another copy.
        if (process.bundleIdentifier == ownId) return true;
        if (process.bundleIdentifier == companionId && process.executable != companionExe) return true;
    }
    return false;
}

bool isLaunchedApp(std::string_view bundlePath) {
    if (!TV_Func::isExistsFile(bundlePath)) return false;
    const std::string wanted = resolvedPath(std::string(bundlePath));
    for (const auto& process : kdd::runningProcesses())
        if (!process.bundlePath.empty() && resolvedPath(process.bundlePath) == wanted) return true;
    return false;
}

void openLinkPath(std::string_view folder) {
    if (TV_Func::isDirectory(folder)) kdd::openPath(std::string(folder));
}

std::string uuidString() {
    return kdf::newUuidString();
}

std::optional<std::string> defaultMailAppPath() {
    return kdd::defaultMailAppPath();
}

// --- Archives.

std::optional<kdf::Bytes> encodeDictToData(const std::optional<kdf::Value>& value) {
    if (!value) return std::nullopt;
    auto text = kdf::writePropertyList(*value);
    if (!text) return std::nullopt;
    return kdf::Bytes(text->begin(), text->end());
}

std::optional<kdf::Value> decodeDataToDict(const std::optional<kdf::Bytes>& data) {
    if (!data || data->empty()) return std::nullopt;
    return kdf::readPropertyList(
        std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
}

// --- System and locale.

int currentOSVersion() {
    return 0x10F0;
}

int packOSVersion(int major, int minor, int patch) {
    return (major / 10) << 12 | (major % 10) << 8 | ((minor << 4) & 0xFF) | (patch & 0xF);
}

std::optional<std::string> currentLocaleStr() {
    const auto languages = kdf::Bundle::main()->preferredLocalizations();
    if (languages.empty() || languages.front().empty()) return std::nullopt;
    return languages.front();
}

bool isEqualToLocaleStr(std::string_view locale) {
    const auto current = currentLocaleStr();
    return current && !locale.empty() && *current == locale;
}

bool isLTR_LayoutDirection() {
    const auto current = currentLocaleStr();
    if (!current) return true;
    std::string language = current->substr(0, current->find_first_of("-_"));
    std::transform(language.begin(), language.end(), language.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return language != "ar" && language != "he" && language != "iw" && language != "fa" && language != "ur";
}

bool isFlipHorizontalImage(std::string_view imageName) {
    if (isLTR_LayoutDirection()) return false;
    const auto dot = imageName.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && imageName.find('/', dot) == std::string_view::npos)
        imageName = imageName.substr(0, dot);
    return std::find(kMirroredImages.begin(), kMirroredImages.end(), imageName) != kMirroredImages.end();
}

// --- Files.

std::uint64_t fileBytesByPath(std::string_view path) {
    struct stat st {};
    if (path.empty() || ::stat(std::string(path).c_str(), &st) != 0) return 0;
    return std::uint64_t(st.st_size);
}

bool enhancedMovePath(std::string_view source, std::string_view destination) {
    const std::string from(source), to(destination);
    struct stat st {};
    if (from.empty() || to.empty() || ::lstat(from.c_str(), &st) != 0) return false;
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (!copyIntoPlace(from, to)) return false;
    ::unlink(from.c_str());
    return true;
}

std::optional<kdf::Bytes> dataFromPath(std::string_view path) {
    auto text = kdf::readWholeFile(std::string(path), std::numeric_limits<std::size_t>::max());
    if (!text) return std::nullopt;
    return kdf::Bytes(text->begin(), text->end());
}

// --- Images.

ImageRef fileIcnImage(std::string_view path) {
    auto provider = imageProvider();
    if (!provider || !TV_Func::isExistsFile(path)) return nullptr;
    return provider->fileIcon(std::string(path));
}

ImageRef defaultOSFolderIcnImage() {
    auto provider = imageProvider();
    return provider ? provider->folderIcon() : nullptr;
}

void rotate_Image1Bpp(long a, std::span<std::uint8_t> dstLine, std::span<const std::uint8_t> src,
                      long srcW, long srcH, int direct) {
    if (srcW <= 0 || srcH <= 0 || a < 0 || direct < 0 || direct > 2) return;
    const std::size_t rowBytes = (std::size_t(srcW) + 7) / 8;
    if (src.size() / rowBytes < std::size_t(srcH)) return;
    const long lineCount = direct == 2 ? srcH : srcW;
    const long linePixels = direct == 2 ? srcW : srcH;
    const std::size_t lineBytes = (std::size_t(linePixels) + 7) / 8;
    if (a >= lineCount || dstLine.size() < lineBytes) return;
    const auto pixel = [&](long x, long y) {
        return (src[std::size_t(y) * rowBytes + std::size_t(x) / 8] >> (7 - x % 8)) & 1;
    };
    std::fill_n(dstLine.begin(), lineBytes, std::uint8_t(0));
    for (long i = 0; i < linePixels; ++i) {
        int bit = 0;
        switch (direct) {
        case 0: bit = pixel(a, srcH - 1 - i); break;
        case 1: bit = pixel(srcW - 1 - a, i); break;
        default: bit = pixel(srcW - 1 - i, a); break;
        }
        if (bit) dstLine[std::size_t(i) / 8] |= std::uint8_t(0x80 >> (i % 8));
    }
}

} // namespace QlrUtilsMethod
