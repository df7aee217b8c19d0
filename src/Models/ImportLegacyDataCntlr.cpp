#include "ImportLegacyDataCntlr.h"

#include "AppControllerServices.h"
#include "InputModel.h"
#include "JobModel.h"
#include "OutputModel.h"
#include "QlrUtilsMethod.h"
#include "ScannerDriverSettingModel.h"
#include "WholeModel.h"

#include <foundation/Exception.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string_view>

namespace {

// --- Older keys.
constexpr const char* kJobTitleKey = "JLMdlJList_TitleKey";
constexpr const char* kJobScanSettingKey = "JLMdlJList_ScanSettingMdlKey";
constexpr const char* kJobFunctionTypeKey = "JLMdlJList_FunctionTypeKey";
constexpr const char* kJobPluginIDKey = "JLMdlJList_PluginIDKey";
constexpr const char* kJobFuncSettingKey = "JLMdlJList_FuncSettingMdlKey";
constexpr const char* kJobIsConfirmOutputKey = "JLMdlJList_IsConfirmOutputKey";
constexpr const char* kJobIsContinueScanKey = "JLMdlJList_IsContinueScanKey";
constexpr const char* kJobScanBtnStatusKey = "JLMdlJList_ScanBtnStatusKey";
constexpr const char* kFullAutoKey = "ScnMdlIsFullAutoModeKey";
// The older jobs 0 and 1 were the application's own, never the user's.
constexpr std::size_t kFirstImportedJob = 2;

// The one capability whose current key doubles its prefix.
constexpr std::string_view kSkewDetectCurrentKey = "Input_CCAP_CCAP_TVK_SKEWDETECTKey";
constexpr std::string_view kSkewDetectLegacyKey = "ScnCCAP_TVK_SKEWDETECTKey";
constexpr std::string_view kInputPrefix = "Input_";

[[noreturn]] void refuse(std::string_view key, const char* why) {
    throw kdf::Exception(ImportLegacyDataCntlr::kRefusedValueName, std::string(key) + ": " + why);
}

// --- Typed reads of older values. Each answers null for a missing key and
// refuses a value of the wrong kind or out of its type's range.

template <class T> std::optional<T> integerAt(const kdf::Dictionary& d, std::string_view key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v) return std::nullopt;
    // Strings are no numbers here, even when they read as one.
    std::optional<std::int64_t> n = v->toInteger();
    if (!n) refuse(key, "not a number in range");
    if (*n < std::int64_t(std::numeric_limits<T>::min()) || *n > std::int64_t(std::numeric_limits<T>::max()))
        refuse(key, "out of range");
    return T(*n);
}

std::optional<float> floatAt(const kdf::Dictionary& d, std::string_view key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v) return std::nullopt;
    std::optional<double> r = v->toReal();
    if (!r) refuse(key, "not a number");
    if (!std::isfinite(*r) || std::fabs(*r) > double(std::numeric_limits<float>::max())) refuse(key, "out of range");
    return float(*r);
}

std::optional<bool> boolAt(const kdf::Dictionary& d, std::string_view key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v) return std::nullopt;
    std::optional<bool> b = v->toBool();
    if (!b) refuse(key, "not a boolean");
    return b;
}

const std::string* stringAt(const kdf::Dictionary& d, std::string_view key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v) return nullptr;
    if (!v->string()) refuse(key, "not a string");
    return v->string();
}

const kdf::Dictionary* dictionaryAt(const kdf::Dictionary& d, std::string_view key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v) return nullptr;
    if (!v->dictionary()) refuse(key, "not a dictionary");
    return v->dictionary();
}

// Strings and data, taken as they are.
const kdf::Value* textOrDataAt(const kdf::Dictionary& d, std::string_view key) {
    const kdf::Value* v = kdf::find(d, key);
    if (v && !v->string() && !v->bytes()) refuse(key, "neither text nor data");
    return v;
}

void put(kdf::Dictionary& d, std::string_view key, kdf::Value v) { d.insert_or_assign(std::string(key), std::move(v)); }

// The first dictionary of a list of the blank job; null when there is none.
kdf::Dictionary* firstOf(kdf::Dictionary& job, std::string_view listKey) {
    auto it = job.find(listKey);
    kdf::Array* list = it != job.end() ? it->second.mutableArray() : nullptr;
    return list && !list->empty() ? list->front().mutableDictionary() : nullptr;
}

// --- Step 4: the simple scan settings.

int colorTypeFrom(std::int64_t older) {
    if (older == 2) return 3;
    if (older == 3) return 5;
    return int(older);
}

int resolutionTypeFrom(std::int64_t older) {
    switch (older) {
    case 0: return 0;
    case 1:
    case 2: return 1;
    case 3: return 2;
    case 4: return 3;
    case 5: return 4;
    default: return int(older);
    }
}

void importSimpleSettings(const kdf::Dictionary& scan, kdf::Dictionary& input) {
    const bool fullAuto = boolAt(scan, kFullAutoKey).value_or(false);
    if (auto v = integerAt<int>(scan, "ScnMdlScnStColTypeKey"))
        put(input, InputModel::kColorTypeKey, fullAuto ? 0 : colorTypeFrom(*v));
    if (auto v = integerAt<int>(scan, "ScnMdlScnStPapSizeTypeKey"))
        put(input, InputModel::kPaperSizeTypeKey, fullAuto ? 0 : *v);
    if (auto v = integerAt<int>(scan, "ScnMdlScnStResTypeKey"))
        put(input, InputModel::kResolutionTypeKey, fullAuto ? 0 : resolutionTypeFrom(*v));
    if (auto v = integerAt<int>(scan, "ScnMdlScnStReaderSideTypeKey"))
        put(input, InputModel::kReaderSideTypeKey, fullAuto ? 0 : *v);
    if (auto v = boolAt(scan, "ScnMdlIsRevisionSlopeKey"))
        put(input, InputModel::kSkewTypeKey, fullAuto ? 1 : int(*v));
    if (auto v = boolAt(scan, "ScnMdlIsRecCharDirKey")) put(input, InputModel::kIsRecCharDirKey, fullAuto || *v);
    if (auto v = boolAt(scan, "ScnMdlIsUseDriverSettingKey"))
        put(input, InputModel::kIsUseDriverSettingKey, !fullAuto && *v);
}

// --- Step 5: the capability values, in the number type of each capability.

std::string legacyKeyOf(std::string_view currentKey) {
    if (currentKey == kSkewDetectCurrentKey) return std::string(kSkewDetectLegacyKey);
    return "Scn" + std::string(currentKey.substr(kInputPrefix.size()));
}

std::optional<kdf::Value> capabilityValue(const kdf::Dictionary& scan, const DriverValueInfo& row,
                                          const std::string& key) {
    switch (row.kind) {
    case DriverValueKind::Short:
        if (auto v = integerAt<std::int16_t>(scan, key)) return kdf::Value(int(*v));
        return std::nullopt;
    case DriverValueKind::UShort:
        if (auto v = integerAt<std::uint16_t>(scan, key)) return kdf::Value(int(*v));
        return std::nullopt;
    case DriverValueKind::Int:
        if (auto v = integerAt<std::int32_t>(scan, key)) return kdf::Value(*v);
        return std::nullopt;
    case DriverValueKind::UInt:
        if (auto v = integerAt<std::uint32_t>(scan, key)) return kdf::Value(std::int64_t(*v));
        return std::nullopt;
    case DriverValueKind::Float:
        if (auto v = floatAt(scan, key)) return kdf::Value(double(*v));
        return std::nullopt;
    case DriverValueKind::Str32:
    case DriverValueKind::Str64:
    case DriverValueKind::Str255:
        // Curves and names of any size go through as they are: the input
        // model's loader refuses the ones that would not fit a record.
        if (const kdf::Value* v = textOrDataAt(scan, key)) return *v;
        return std::nullopt;
    }
    return std::nullopt;
}

void importCapabilities(const kdf::Dictionary& scan, kdf::Dictionary& input) {
    kdf::Dictionary imported;
    for (const DriverValueInfo& row : driverValueTable()) {
        const std::string legacyKey = legacyKeyOf(row.key);
        if (std::optional<kdf::Value> v = capabilityValue(scan, row, legacyKey)) {
            put(input, row.key, *v);
            put(imported, row.key, std::move(*v));
        }
    }
    if (imported.empty()) return;
    // The input model reads driver settings only from its entry for a
    // product: the imported values go over the blank entry of the current
    // one, so a job that uses driver settings really uses them.
    const std::string product = AppControllerServices::curDS_ProductName();
    auto drivers = input.find(InputModel::kDriverSettingDictKey);
    kdf::Dictionary products;
    if (drivers != input.end() && drivers->second.dictionary()) products = *drivers->second.dictionary();
    kdf::Dictionary entry;
    if (const kdf::Value* old = kdf::find(products, product); old && old->dictionary()) entry = *old->dictionary();
    for (auto& [key, value] : imported) entry.insert_or_assign(key, std::move(value));
    products.insert_or_assign(product, kdf::Value(std::move(entry)));
    put(input, InputModel::kDriverSettingDictKey, kdf::Value(std::move(products)));
}

// --- Step 6: the output.

struct FunctionOutput {
    std::optional<std::string> pluginID;
    std::optional<int> settingsSet;
};

FunctionOutput functionOutput(const kdf::Dictionary& job) {
    const std::int64_t type = integerAt<std::int64_t>(job, kJobFunctionTypeKey).value_or(0);
    switch (type) {
    case 1: return {"SendviaMail.plugin", 1};
    case 2: return {"SendviaPrinter.plugin", std::nullopt};
    case 3: return {"SendviaApp.plugin", 2};
    case 4: {
        const std::string* id = stringAt(job, kJobPluginIDKey);
        return {id ? std::optional<std::string>(*id) : std::nullopt, 3};
    }
    default: return {std::nullopt, 0};
    }
}

enum class FileValue { Text, Flag, Number, DateType };
struct FileSetting {
    const char* legacyKey;
    const char* currentKey;
    FileValue kind;
};
constexpr FileSetting kFileSettings[] = {
    {"FncMdlPartFileNameKey", OutputModel::kFreeFileNameKey, FileValue::Text},
    {"FncMdlIsAddDateTimeKey", OutputModel::kIsAddDateTimeKey, FileValue::Flag},
    {"FncMdlDateTimeTypeKey", OutputModel::kDateTimeTypeKey, FileValue::DateType},
    {"FncMdlIsAddNumberKey", OutputModel::kIsAddNumberKey, FileValue::Flag},
    {"FncMdlDigitTypeKey", OutputModel::kDigitTypeKey, FileValue::Number},
    {"FncMdlStartNumKey", OutputModel::kStartNumKey, FileValue::Number},
    {"FncMdlFileFormatTypeKey", OutputModel::kFileFormatTypeKey, FileValue::Number},
    {"FncMdlFF_MultiType_PDFKey", OutputModel::kFileOp_MultiType_PDFKey, FileValue::Number},
    {"FncMdlMultiPageNum_PDFKey", OutputModel::kMultiPageNum_PDFKey, FileValue::Number},
    {"FncMdlIsPDFAKey", OutputModel::kIsPDFAKey, FileValue::Flag},
    {"FncMdlFF_CompTypeKey", OutputModel::kFileOp_CompTypeKey, FileValue::Number},
    {"FncMdlCompRate_PDFKey", OutputModel::kCompRate_PDFKey, FileValue::Number},
    {"FncMdlIsAddOCRKey", OutputModel::kIsAddOCRKey, FileValue::Flag},
    {"FncMdlFF_OCRLangTypeKey", OutputModel::kFileOp_OCRLangTypeKey, FileValue::Number},
    {"FncMdlFF_MultiType_TIFFKey", OutputModel::kFileOp_MultiType_TIFFKey, FileValue::Number},
    {"FncMdlMultiPageNum_TIFFKey", OutputModel::kMultiPageNum_TIFFKey, FileValue::Number},
    {"FncMdlCompRate_JPEGKey", OutputModel::kCompRate_JPEGKey, FileValue::Number},
    {"FncMdlSaveTypeKey", OutputModel::kSaveTypeKey, FileValue::Number},
    {"FncMdlFileSavePathKey", OutputModel::kFileSavePathKey, FileValue::Text},
};
// The Japanese date order exists only in Japanese.
constexpr int kJapaneseDateType = 3;

void importFileSettings(const kdf::Dictionary& settings, int set, kdf::Dictionary& output) {
    const std::string suffix = std::to_string(set);
    for (const FileSetting& s : kFileSettings) {
        const std::string key = s.legacyKey + suffix;
        switch (s.kind) {
        case FileValue::Text:
            if (const std::string* v = stringAt(settings, key)) put(output, s.currentKey, *v);
            break;
        case FileValue::Flag:
            if (auto v = boolAt(settings, key)) put(output, s.currentKey, *v);
            break;
        case FileValue::Number:
            if (auto v = integerAt<int>(settings, key)) put(output, s.currentKey, *v);
            break;
        case FileValue::DateType:
            if (auto v = integerAt<int>(settings, key)) {
                int type = *v;
                if (type == kJapaneseDateType && !QlrUtilsMethod::isEqualToLocaleStr("ja")) type = 0;
                put(output, s.currentKey, type);
            }
            break;
        }
    }
}

// Steps 3 to 7 for one older job: the finished job dictionary, none for an
// untitled job. Throws a named exception when the job cannot be imported.
std::optional<kdf::Dictionary> convertJob(const kdf::Value& entry,
                                          const ImportLegacyDataCntlr::BlankJobFactory& createBlankJob) {
    const kdf::Dictionary* older = entry.dictionary();
    if (!older) refuse("job", "not a dictionary");
    const std::string* title = stringAt(*older, kJobTitleKey);
    if (!title || title->empty()) return std::nullopt;

    std::optional<kdf::Dictionary> job = createBlankJob ? createBlankJob() : std::nullopt;
    if (!job) refuse("job", "no blank job");
    kdf::Dictionary* input = firstOf(*job, JobModel::kJobInputModel_DictListKey);
    kdf::Dictionary* output = firstOf(*job, JobModel::kJobOutputModel_DictListKey);
    if (!input || !output) refuse("job", "blank job without input or output");

    if (const kdf::Dictionary* scan = dictionaryAt(*older, kJobScanSettingKey)) {
        importSimpleSettings(*scan, *input);
        importCapabilities(*scan, *input);
    }

    const FunctionOutput function = functionOutput(*older);
    if (function.pluginID) put(*output, OutputModel::kPluginIDKey, *function.pluginID);
    if (const kdf::Dictionary* settings = dictionaryAt(*older, kJobFuncSettingKey); settings && function.settingsSet)
        importFileSettings(*settings, *function.settingsSet, *output);

    if (auto v = boolAt(*older, kJobIsConfirmOutputKey)) put(*job, JobModel::kIsImageProcessKey, *v);
    if (auto v = boolAt(*older, kJobIsContinueScanKey)) put(*job, JobModel::kIsContinueScanKey, *v);
    if (auto v = integerAt<int>(*older, kJobScanBtnStatusKey)) put(*job, JobModel::kScanBtnStatusKey, *v);
    put(*job, WholeModel::kTitleKey, *title);
    return job;
}

std::mutex sharedLock;
std::shared_ptr<ImportLegacyDataCntlr> sharedCntlr;

} // namespace

std::shared_ptr<ImportLegacyDataCntlr> ImportLegacyDataCntlr::sharedImportLegacyDataCntlr() {
    std::lock_guard lock(sharedLock);
    if (!sharedCntlr) sharedCntlr = std::make_shared<ImportLegacyDataCntlr>();
    return sharedCntlr;
}

void ImportLegacyDataCntlr::terminateImportLegacyDataCntlr() {
    std::lock_guard lock(sharedLock);
    sharedCntlr.reset();
}

void ImportLegacyDataCntlr::setObjectIfContainsKeyOnDict(kdf::Dictionary* dict, const kdf::Value* obj,
                                                         const std::string* key) {
    if (!dict || !obj || !key) throw kdf::Exception("");
    dict->insert_or_assign(*key, *obj);
}

kdf::Dictionary ImportLegacyDataCntlr::importLegacyJobModel(const kdf::Dictionary* legacyPrefs,
                                                            const BlankJobFactory& createBlankJob,
                                                            bool* isInErr) const {
    if (isInErr) *isInErr = false;
    bool failed = false;
    kdf::Dictionary result;
    kdf::Array jobs;
    if (legacyPrefs) {
        // A preference of the wrong kind counts as missing.
        const auto flagOf = [&](const char* key) -> std::optional<bool> {
            const kdf::Value* v = kdf::find(*legacyPrefs, key);
            return v ? v->toBool() : std::nullopt;
        };
        if (auto v = flagOf(kLegacyIsQLRResidingKey)) put(result, kImportedIsQLRResidingKey, *v);
        if (auto v = flagOf(kLegacyIsShowPlugInScanKey)) put(result, kImportedIsShowPlugInScanKey, *v);

        const kdf::Value* archived = kdf::find(*legacyPrefs, kLegacyJobListKey);
        const kdf::Bytes* data = archived ? archived->bytes() : nullptr;
        std::optional<kdf::Value> decoded = data ? QlrUtilsMethod::decodeDataToDict(*data) : std::nullopt;
        if (const kdf::Dictionary* list = decoded ? decoded->dictionary() : nullptr) {
            for (std::size_t i = kFirstImportedJob; i < list->size(); ++i) {
                const kdf::Value* entry = kdf::find(*list, std::to_string(i));
                if (!entry) continue;
                try {
                    if (std::optional<kdf::Dictionary> job = convertJob(*entry, createBlankJob))
                        jobs.emplace_back(std::move(*job));
                } catch (const kdf::Exception&) {
                    // The job leaves no trace; the next one goes on.
                    failed = true;
                }
            }
        }
    }
    if (!jobs.empty()) put(result, kImportedJobModel_DictListKey, kdf::Value(std::move(jobs)));
    if (!result.count(kImportedIsQLRResidingKey) || !result.count(kImportedIsShowPlugInScanKey) ||
        !result.count(kImportedJobModel_DictListKey))
        failed = true;
    if (isInErr) *isInErr = failed;
    return result;
}
