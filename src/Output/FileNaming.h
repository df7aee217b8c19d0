// Names of an output's files: the rule of the output (free name, date and
// time, counter, extension) and the numbering that keeps every final name
// free.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

class OutputModel;

namespace qlr_output {

// "pdf", "tiff", "jpg", "png"; empty outside 0 to 3.
std::string extensionOfFormat(int fileFormatType);

// The clock the names read; tests fix it. Null goes back to the system's.
using NameClock = std::function<std::chrono::system_clock::time_point()>;
void setNameClock(NameClock clock);

// The name by the output's rule ("" for none or an empty result). The
// counter's digits are clamped to 1 to 6, a negative start to 0.
std::string currentFileName(const OutputModel* output);

// Checks a rule: returns normally when it is acceptable, else raises the
// key ("Err_NonFileNameForJobScan", "Err_HeadCharDotFileName",
// "Err_NonFileNameOnlyNum", "Err_NonFileName", "Err_InValidFileName").
// The free name is taken with spaces removed at both ends. isModel: the
// rule comes from an output (else from the dialog, whose rule is on).
void checkFileNameRule(const std::string& freeFileName, bool isModel, bool isUseFNSetting, bool isAddDateTime,
                       bool isAddNumber);
void checkFileNameSetting(const OutputModel& output);

// The start number typed into the dialog (ASCII or Arabic-Indic digits):
// 1 when it is 0 or below or not a number, the largest number of `digits`
// digits when larger, else its value. Never overflows.
int clampStartNumber(const std::string& text, int digits);
// The value as shown while typing: zero-padded to `width` characters.
std::string paddedNumber(long long value, int width);

// Helpers on a path's last component with the extension and the free name
// (at its start) removed; the number is what follows the last "_".
int numberInPath(const std::string& path, const std::string& freeFileName);
bool isAddedNumInString(const std::string& component, const std::string& freeFileName);
// The old number replaced by k, padded to the old number's digit count.
std::optional<std::string> changeNumInPath(const std::string& path, long long k, const std::string& freeFileName);
// The number plus one (same digits unless it was all nines), or "_001"
// appended when the name has no number.
std::optional<std::string> checkPathAndAddNumStrForPath(const std::string& path, bool isAddedNum,
                                                        const std::string& freeFileName);

// Final names of one batch: consecutive counter numbers from the rule's
// start even though the rule returns the same name for every file, and a
// name no existing file has.
class FinalNameBatch {
public:
    void reset() { addNumIndex_ = -1; }
    // A free path near the wanted one; none when no name can be made.
    std::optional<std::string> checkFilePath(const std::string& path, const OutputModel& output,
                                             bool isRenameMove = false);
    // Someone took the name between the check and the move: the next one.
    std::optional<std::string> nextAfterTaken(const std::string& path, const OutputModel& output);

private:
    long long addNumIndex_ = -1;
};

} // namespace qlr_output
