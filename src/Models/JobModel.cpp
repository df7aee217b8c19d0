#include "JobModel.h"

#include "ModelLists.h"
#include "SettingsIO.h"

JobModel::JobModel(const kdf::Dictionary* dict) {
    SettingsReader in(dict);
    wholeModel_ = std::make_shared<WholeModel>(dict);
    std::optional<kdf::Value> inputs = in.object(kJobInputModel_DictListKey);
    inputs_ = InputModel::modelListFromDictList(inputs ? &*inputs : nullptr);
    std::optional<kdf::Value> outputs = in.object(kJobOutputModel_DictListKey);
    outputs_ = OutputModel::modelListFromDictList(outputs ? &*outputs : nullptr);
    in.readBool(kIsImageProcessKey, isImageProcess_);
    in.readBool(kIsContinueScanKey, isContinueScan_);
    in.readInt(kScanBtnStatusKey, scanBtnStatus_);
}

std::vector<std::shared_ptr<JobModel>> JobModel::modelListFromDictList(const kdf::Value* list) {
    return modellists::fromDictList<JobModel>(list);
}

kdf::Array JobModel::dictListFromModelList(const std::vector<std::shared_ptr<JobModel>>& models) {
    return modellists::toDictList(models, &JobModel::saveJobModel);
}

void JobModel::saveJobModel(kdf::Dictionary* dict) const {
    SettingsWriter out(dict);
    job_WholeModel()->saveWholeModel(dict);
    out.set(kJobInputModel_DictListKey, kdf::Value(InputModel::dictListFromModelList(jobInputModel_List())));
    out.set(kJobOutputModel_DictListKey, kdf::Value(OutputModel::dictListFromModelList(jobOutputModel_List())));
    out.set(kIsImageProcessKey, kdf::Value(isImageProcess_));
    out.set(kIsContinueScanKey, kdf::Value(isContinueScan_));
    out.set(kScanBtnStatusKey, kdf::Value(scanBtnStatus_));
}

std::shared_ptr<PanelModel> JobModel::clone() const { return copy(); }

std::shared_ptr<JobModel> JobModel::copy() const {
    auto c = std::make_shared<JobModel>();
    c->wholeModel_ = job_WholeModel()->clone();
    c->jobTabType_ = jobTabType_;
    c->outputIndex_ = outputIndex_;
    for (const auto& input : jobInputModel_List())
        if (input) c->inputs_.push_back(input->copy());
    for (const auto& output : jobOutputModel_List())
        if (output) c->outputs_.push_back(output->copy());
    // Values are copied on write, so the copy's list is its own.
    c->userInfoList_ = userInfoList();
    c->isImageProcess_ = isImageProcess_;
    c->isContinueScan_ = isContinueScan_;
    c->scanBtnStatus_ = kNoButton;
    return c;
}

void JobModel::checkCreateDriverData(const std::optional<std::string>& productName) const {
    for (const auto& input : jobInputModel_List())
        if (input) input->checkCreateDriverData(productName);
}

std::shared_ptr<WholeModel> JobModel::job_WholeModel() const {
    std::lock_guard lock(lock_);
    return wholeModel_;
}

void JobModel::setJob_WholeModel(std::shared_ptr<WholeModel> m) {
    std::lock_guard lock(lock_);
    wholeModel_ = m ? std::move(m) : std::make_shared<WholeModel>();
}

std::vector<std::shared_ptr<InputModel>> JobModel::jobInputModel_List() const {
    std::lock_guard lock(lock_);
    return inputs_;
}

void JobModel::setJobInputModel_List(std::vector<std::shared_ptr<InputModel>> v) {
    std::lock_guard lock(lock_);
    inputs_ = std::move(v);
}

std::vector<std::shared_ptr<OutputModel>> JobModel::jobOutputModel_List() const {
    std::lock_guard lock(lock_);
    return outputs_;
}

void JobModel::setJobOutputModel_List(std::vector<std::shared_ptr<OutputModel>> v) {
    std::lock_guard lock(lock_);
    outputs_ = std::move(v);
}

std::optional<kdf::Array> JobModel::userInfoList() const {
    std::lock_guard lock(lock_);
    return userInfoList_;
}

void JobModel::setUserInfoList(std::optional<kdf::Array> v) {
    std::lock_guard lock(lock_);
    userInfoList_ = std::move(v);
}
