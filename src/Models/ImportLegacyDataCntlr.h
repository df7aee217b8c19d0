// Turns an older application's preferences into this application's
// settings: its favourite jobs become job dictionaries, and two of its
// preferences are carried over. The older file is outside data: every value
// is checked for its kind and range, and a job holding anything unusable is
// dropped alone.
#pragma once

#include <foundation/Value.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class ImportLegacyDataCntlr {
public:
    // The older preferences' keys.
    static constexpr const char* kLegacyIsQLRResidingKey = "PrefsIsQLRResidingKey";
    static constexpr const char* kLegacyIsShowPlugInScanKey = "PrefsIsShowPlugInScanKey";
    static constexpr const char* kLegacyJobListKey = "MainJobJLMdlKey";
    // The result's keys.
    static constexpr const char* kImportedIsQLRResidingKey = "Imported_IsQLRResidingKey";
    static constexpr const char* kImportedIsShowPlugInScanKey = "Imported_IsShowPlugInScanKey";
    static constexpr const char* kImportedJobModel_DictListKey = "Imported_JobModel_DictListKey";
    // The name of the exception that refuses an older value (wrong kind or
    // out of range); it drops the job it occurs in.
    static constexpr const char* kRefusedValueName = "ImportLegacy_RefusedValue";

    // A new blank job dictionary: a saved new job with one new input and one
    // new output. None counts as a failure of the job being converted.
    using BlankJobFactory = std::function<std::optional<kdf::Dictionary>()>;

    // The one shared controller, made on first use.
    static std::shared_ptr<ImportLegacyDataCntlr> sharedImportLegacyDataCntlr();
    // Releases the shared controller; the next call makes a new one.
    static void terminateImportLegacyDataCntlr();

    // The imported settings: "Imported_IsQLRResidingKey" and
    // "Imported_IsShowPlugInScanKey" when the older file holds them, and
    // "Imported_JobModel_DictListKey" when at least one job was imported.
    // *isInErr (when given) is set when not everything was imported: no
    // preferences, a missing preference or job list, or a failed job. The
    // foundation's named exceptions within a job drop that job; any other
    // exception passes to the caller.
    kdf::Dictionary importLegacyJobModel(const kdf::Dictionary* legacyPrefs, const BlankJobFactory& createBlankJob,
                                         bool* isInErr) const;

    // Stores the object under the key; throws a named exception (empty
    // name) when the dictionary, the object or the key is missing.
    static void setObjectIfContainsKeyOnDict(kdf::Dictionary* dict, const kdf::Value* obj, const std::string* key);
};
