// An older application's preferences file is outside data: any bytes the
// property-list reader accepts go through the import, which must neither
// crash nor let anything but checked job dictionaries through, and every
// job it answers loads as a job model.
#include "ImportLegacyDataCntlr.h"
#include "JobModel.h"
#include "QlrUtilsMethod.h"

#include <foundation/PropertyList.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::optional<kdf::Dictionary> blankJob() {
    JobModel job;
    job.setJobInputModel_List({std::make_shared<InputModel>()});
    job.setJobOutputModel_List({std::make_shared<OutputModel>()});
    kdf::Dictionary d;
    job.saveJobModel(&d);
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<kdf::Value> root =
        kdf::readPropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
    const kdf::Dictionary* prefs = root ? root->dictionary() : nullptr;
    if (!prefs) return 0;
    kdf::Dictionary input = *prefs;
    // A job list written as a plain dictionary is archived first, so the
    // fuzzer reaches the conversion without having to nest property lists.
    if (auto it = input.find(ImportLegacyDataCntlr::kLegacyJobListKey);
        it != input.end() && it->second.dictionary()) {
        if (auto bytes = QlrUtilsMethod::encodeDictToData(it->second)) it->second = kdf::Value(*bytes);
    }
    bool err = false;
    const kdf::Dictionary result =
        ImportLegacyDataCntlr::sharedImportLegacyDataCntlr()->importLegacyJobModel(&input, blankJob, &err);
    for (const auto& [key, value] : result) {
        if (key == ImportLegacyDataCntlr::kImportedJobModel_DictListKey) {
            const kdf::Array* jobs = value.array();
            if (!jobs || jobs->empty()) std::abort();
            const auto models = JobModel::modelListFromDictList(&value);
            if (models.size() != jobs->size()) std::abort();
            for (const auto& job : models)
                if (job->jobInputModel_List().empty() || job->jobOutputModel_List().empty()) std::abort();
        } else if (key != ImportLegacyDataCntlr::kImportedIsQLRResidingKey &&
                   key != ImportLegacyDataCntlr::kImportedIsShowPlugInScanKey) {
            std::abort();
        }
    }
    if (!err && result.size() != 3) std::abort();
    return 0;
}
