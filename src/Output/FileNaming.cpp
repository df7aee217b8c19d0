#include "FileNaming.h"

#include <OutputModel.h>
#include <QlrUtilsMethod.h>

#include <foundation/Bundle.h>
#include <foundation/Exception.h>
#include <foundation/File.h>
#include <foundation/Format.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <limits>
#include <ctime>
#include <memory>
#include <mutex>

namespace qlr_output {

namespace {

std::mutex clockLock;
NameClock nameClock;

std::chrono::system_clock::time_point now() {
    std::lock_guard lock(clockLock);
    return nameClock ? nameClock() : std::chrono::system_clock::now();
}

} // namespace

std::string paddedNumber(long long value, int width) {
    std::string s = std::to_string(value < 0 ? 0 : value);
    if (int(s.size()) < width) s.insert(0, std::size_t(width) - s.size(), '0');
    return s;
}

namespace {

// Zero-padded decimal without a run-time format.
std::string padded(long long value, int digits) {
    std::string s = std::to_string(value < 0 ? 0 : value);
    if (int(s.size()) < digits) s.insert(0, std::size_t(digits) - s.size(), '0');
    return s;
}

std::string localized(const char* key, const char* fallback) {
    auto bundle = kdf::Bundle::main();
    std::string t = bundle ? bundle->localizedString(key, "") : std::string();
    return t.empty() || t == key ? std::string(fallback) : t;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

struct Parts {
    std::string folder;
    std::string stem; // last component without its extension
    std::string ext;  // with its dot, or empty
    std::size_t numberStart = std::string::npos; // index of "_" in stem
};

std::optional<Parts> split(const std::string& path, const std::string& freeFileName) {
    if (path.empty()) return std::nullopt;
    Parts p;
    p.folder = kdf::folderOf(path);
    if (!kdf::isDirectory(p.folder)) return std::nullopt;
    const std::string last = kdf::lastComponent(path);
    const auto dot = last.rfind('.');
    p.stem = dot == std::string::npos || dot == 0 ? last : last.substr(0, dot);
    p.ext = last.substr(p.stem.size());
    const std::size_t from = !freeFileName.empty() && p.stem.starts_with(freeFileName) ? freeFileName.size() : 0;
    const auto us = p.stem.rfind('_');
    if (us != std::string::npos && us >= from) p.numberStart = us;
    return p;
}

std::string numberText(const Parts& p) {
    return p.numberStart == std::string::npos ? std::string() : p.stem.substr(p.numberStart + 1);
}

// The leading decimal value, clamped to what fits.
long long valueOf(const std::string& text) {
    long long v = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        if (v > (std::numeric_limits<int>::max() - 9) / 10) return std::numeric_limits<int>::max();
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

std::string extensionOfFormat(int t) {
    switch (t) {
    case 0: return "pdf";
    case 1: return "tiff";
    case 2: return "jpg";
    case 3: return "png";
    default: return {};
    }
}

void setNameClock(NameClock clock) {
    std::lock_guard lock(clockLock);
    nameClock = std::move(clock);
}

std::string currentFileName(const OutputModel* output) {
    if (!output) return {};
    std::string name = output->freeFileName();
    if (output->isUseFNSetting()) {
        if (output->isAddDateTime()) {
            const std::time_t t = std::chrono::system_clock::to_time_t(now());
            std::tm tm {};
            localtime_r(&t, &tm);
            const std::int64_t y = tm.tm_year + 1900, mo = tm.tm_mon + 1, d = tm.tm_mday;
            const std::string time = padded(tm.tm_hour, 2) + padded(tm.tm_min, 2) + padded(tm.tm_sec, 2);
            switch (output->dateTimeType()) {
            case 1: name += padded(mo, 2) + padded(d, 2) + padded(y, 4) + time; break;
            case 2: name += padded(d, 2) + padded(mo, 2) + padded(y, 4) + time; break;
            case 3:
                name += kdf::formatLocalized(localized("DateTime_Format_YYYYMMDD", "%04d%02d%02d"), {y, mo, d});
                name += kdf::formatLocalized(localized("DateTime_Format_HHMMSS", "%02d%02d%02d"),
                                             {std::int64_t(tm.tm_hour), std::int64_t(tm.tm_min), std::int64_t(tm.tm_sec)});
                break;
            default: name += padded(y, 4) + padded(mo, 2) + padded(d, 2) + time; break;
            }
        }
        if (output->isAddNumber()) {
            const int digits = std::clamp(output->digitType(), 0, 5) + 1;
            name.push_back('_');
            name += padded(output->startNum(), digits);
        }
    }
    const std::string ext = extensionOfFormat(output->fileFormatType());
    if (name.empty() && ext.empty()) return {};
    return name + "." + ext;
}

void checkFileNameRule(const std::string& freeFileName, bool isModel, bool isUseFNSetting, bool isAddDateTime,
                       bool isAddNumber) {
    const std::string name = QlrUtilsMethod::deleteSpaceHeadAndTail(freeFileName).value_or("");
    const bool ruleOn = !isModel || isUseFNSetting;
    if (isModel && !isUseFNSetting && name.empty()) throw kdf::Exception("Err_NonFileNameForJobScan");
    if (QlrUtilsMethod::isHeadCharDotInString(name)) throw kdf::Exception("Err_HeadCharDotFileName");
    if (ruleOn && !isAddDateTime && name.empty())
        throw kdf::Exception(isAddNumber ? "Err_NonFileNameOnlyNum" : "Err_NonFileName");
    if (!name.empty() && !QlrUtilsMethod::isValidNameInString(name)) throw kdf::Exception("Err_InValidFileName");
}

void checkFileNameSetting(const OutputModel& output) {
    checkFileNameRule(output.freeFileName(), true, output.isUseFNSetting(), output.isAddDateTime(),
                      output.isAddNumber());
}

int clampStartNumber(const std::string& text, int digits) {
    const long long max = QlrUtilsMethod::maxDigNumForFileWrite(std::clamp(digits, 1, 6));
    long long v = 0;
    bool any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        int d = -1;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c == 0xD9 && i + 1 < text.size()) {
            // Arabic-Indic digits U+0660..U+0669: D9 A0..D9 A9.
            const unsigned char c2 = static_cast<unsigned char>(text[i + 1]);
            if (c2 >= 0xA0 && c2 <= 0xA9) {
                d = c2 - 0xA0;
                ++i;
            }
        }
        if (d < 0) break;
        any = true;
        // Beyond the largest allowed value the rest doesn't matter.
        if (v <= max) v = v * 10 + d;
    }
    if (!any || v <= 0) return 1;
    return int(std::min(v, max));
}

int numberInPath(const std::string& path, const std::string& freeFileName) {
    auto p = split(path, freeFileName);
    if (!p) return -1;
    const std::string text = numberText(*p);
    if (text.empty()) return -1;
    return int(valueOf(text));
}

bool isAddedNumInString(const std::string& component, const std::string& freeFileName) {
    const auto dot = component.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? component : component.substr(0, dot);
    const std::size_t from = !freeFileName.empty() && stem.starts_with(freeFileName) ? freeFileName.size() : 0;
    const auto us = stem.rfind('_');
    if (us == std::string::npos || us < from) return false;
    const std::string text = stem.substr(us + 1);
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> changeNumInPath(const std::string& path, long long k, const std::string& freeFileName) {
    auto p = split(path, freeFileName);
    if (!p) return std::nullopt;
    const int digits = int(numberText(*p).size());
    const std::string base = p->numberStart == std::string::npos ? p->stem : p->stem.substr(0, p->numberStart);
    return kdf::joinPath(p->folder, base + "_" + padded(k, digits) + p->ext);
}

std::optional<std::string> checkPathAndAddNumStrForPath(const std::string& path, bool isAddedNum,
                                                        const std::string& freeFileName) {
    auto p = split(path, freeFileName);
    if (!p) return std::nullopt;
    if (!isAddedNum || p->numberStart == std::string::npos)
        return kdf::joinPath(p->folder, p->stem + "_001" + p->ext);
    const std::string text = numberText(*p);
    // padded() widens by itself when g + 1 has one digit more (all nines).
    return changeNumInPath(path, valueOf(text) + 1, freeFileName);
}

std::optional<std::string> FinalNameBatch::checkFilePath(const std::string& wanted, const OutputModel& output,
                                                         bool isRenameMove) {
    const bool active = output.isAddNumber() && output.isUseFNSetting() && !isRenameMove;
    const std::string freeName = output.freeFileName();
    std::string path = wanted;
    // Each round either renumbers or steps the number up; the bound only
    // guards against a folder full of every name.
    for (int round = 0; round < 100000; ++round) {
        if (active) {
            const int n = numberInPath(path, freeName);
            if (addNumIndex_ < 0) {
                addNumIndex_ = n;
            } else if (addNumIndex_ >= n) {
                auto changed = changeNumInPath(path, addNumIndex_ + 1, freeName);
                if (!changed) return std::nullopt;
                path = *changed;
                addNumIndex_ = numberInPath(path, freeName);
            }
        }
        if (!exists(path)) return path;
        auto next = checkPathAndAddNumStrForPath(path, isAddedNumInString(kdf::lastComponent(path), freeName), freeName);
        if (!next) return std::nullopt;
        path = *next;
    }
    return std::nullopt;
}

std::optional<std::string> FinalNameBatch::nextAfterTaken(const std::string& path, const OutputModel& output) {
    const std::string freeName = output.freeFileName();
    auto next = checkPathAndAddNumStrForPath(path, isAddedNumInString(kdf::lastComponent(path), freeName), freeName);
    if (!next) return std::nullopt;
    return checkFilePath(*next, output);
}

} // namespace qlr_output
