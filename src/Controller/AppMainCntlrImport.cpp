// The one-time offer to import the older per-model application's favourite
// jobs and two of its preferences.
#include "AppMainCntlr.h"
#include "AppMainCntlrLaunch.h"

#include <ImportLegacyDataCntlr.h>
#include <PluginRegistryQueries.h>
#include <TV_Message.h>

#include <foundation/File.h>
#include <foundation/Preferences.h>
#include <foundation/UserDefaults.h>

#include <set>

namespace {

std::optional<std::string> legacyPrefsName(const std::string& productName) {
    if (productName == kLegacyProductKD810) return std::string(kLegacyPrefsKD810);
    if (productName == kLegacyProductKD820) return std::string(kLegacyPrefsKD820);
    return std::nullopt;
}

std::optional<kdf::Dictionary> blankJob() {
    JobModel job;
    job.setJobInputModel_List({std::make_shared<InputModel>()});
    job.setJobOutputModel_List({std::make_shared<OutputModel>()});
    kdf::Dictionary dict;
    job.saveJobModel(&dict);
    return dict;
}

void showImportFailed() {
    TV_Message::showPanel("Error", "Err_ImportedFailed", std::nullopt, "OK", std::nullopt, std::nullopt,
                          TV_Message::kCriticalAlertStyle, 0, false);
}

} // namespace

std::optional<std::string> AppMainCntlr::filePathOfLegacyData() {
    auto name = legacyPrefsName(curDS_ProductName());
    if (!name) return std::nullopt;
    std::string path = kdf::preferencesFilePath(*name);
    if (!kdf::isRegularFile(path)) return std::nullopt;
    return path;
}

void AppMainCntlr::checkImportLegacyData() {
    auto& defaults = kdf::UserDefaults::standard();
    if (defaults.boolean(kIsShowedImportWinKey).value_or(false)) return;
    auto jobs = panelListOfType(kJobPanelType);
    if (!jobs || jobs->size() > std::size_t(kMaxJobsForLegacyImport)) return;
    if (!filePathOfLegacyData()) return;
    auto name = legacyPrefsName(curDS_ProductName());

    // A start by a scanner button must not scan behind the question.
    setLaunchType(0);
    const int answer = TV_Message::showPanel("Quillora", "Cnfm_ImportData_Yes_No_Cancel", std::nullopt, "YES",
                                             "Cancel", "NO", TV_Message::kInformationalAlertStyle, 2, false);
    if (answer == TV_Message::kAlertOtherReturn) {
        defaults.set(kIsShowedImportWinKey, kdf::Value(true));
        return;
    }
    if (answer != TV_Message::kAlertDefaultReturn) return;

    auto importer = ImportLegacyDataCntlr::sharedImportLegacyDataCntlr();
    if (!importer) {
        showImportFailed();
        return;
    }
    // A file that holds no dictionary reaches the conversion as missing.
    const kdf::PreferencesContent legacy = kdf::readPreferencesFile(*name);
    const kdf::Dictionary* legacyPrefs =
        legacy.state == kdf::PreferencesContent::State::Loaded ? &legacy.values : nullptr;
    bool isInErr = false;
    kdf::Dictionary result;
    try {
        result = importer->importLegacyJobModel(legacyPrefs, blankJob, &isInErr);
    } catch (...) {
        isInErr = true;
    }
    ImportLegacyDataCntlr::terminateImportLegacyDataCntlr();
    // Nothing of a failed conversion is applied: the question stays open,
    // and the next start would otherwise import the same jobs again.
    if (isInErr) {
        showImportFailed();
        return;
    }

    auto prefs = prefsModel();
    bool prefsChanged = false;
    if (auto* v = kdf::find(result, ImportLegacyDataCntlr::kImportedIsQLRResidingKey); v && v->toBool()) {
        prefs->setIsQLRResiding(*v->toBool());
        prefsChanged = true;
    }
    if (auto* v = kdf::find(result, ImportLegacyDataCntlr::kImportedIsShowPlugInScanKey); v && v->toBool()) {
        prefs->setIsShowPlugInScan(*v->toBool());
        prefsChanged = true;
    }
    if (prefsChanged) {
        kdf::Dictionary saved;
        prefs->savePrefsModel(&saved);
        for (const auto& [key, value] : saved) defaults.set(key, value);
    }

    auto model = appModel();
    if (auto* list = kdf::find(result, ImportLegacyDataCntlr::kImportedJobModel_DictListKey); list && model) {
        auto imported = JobModel::modelListFromDictList(list);
        std::set<int> buttons;
        for (const auto& job : imported) {
            createIDInPluginWithOutputModelList(job->jobOutputModel_List());
            if (job->scanBtnStatus() != JobModel::kNoButton) buttons.insert(job->scanBtnStatus());
        }
        auto all = model->jobModel_List();
        // The imported job keeps its scanner button.
        for (const auto& job : all)
            if (job && job->scanBtnStatus() != JobModel::kNoButton && buttons.count(job->scanBtnStatus()))
                job->setScanBtnStatus(JobModel::kNoButton);
        all.insert(all.end(), imported.begin(), imported.end());
        model->setJobModel_List(std::move(all));
        PluginRegistryQueries::checkAllOutputModelByPlugin();
    }
    // Stored with the answer, so a crash before the normal save cannot lose
    // the imported jobs once the question is closed.
    if (model) model->saveAppModel(nullptr);
    defaults.set(kIsShowedImportWinKey, kdf::Value(true));
    defaults.synchronize();
}
