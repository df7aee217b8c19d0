// A job (a favourite): a titled panel joining a list of inputs with a list
// of outputs, with its flags and the scanner button that starts it. Its
// dictionary nests the inputs' and outputs' dictionaries.
#pragma once

#include "InputModel.h"
#include "OutputModel.h"
#include "PanelModel.h"
#include "WholeModel.h"

#include <foundation/Value.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class JobModel : public PanelModel {
public:
    static constexpr const char* kJobInputModel_DictListKey = "Job_JobInputModel_DictListKey";
    static constexpr const char* kJobOutputModel_DictListKey = "Job_JobOutputModel_DictListKey";
    static constexpr const char* kIsImageProcessKey = "Job_IsImageProcessKey";
    static constexpr const char* kIsContinueScanKey = "Job_IsContinueScanKey";
    static constexpr const char* kScanBtnStatusKey = "Job_ScanBtnStatusKey";
    // No scanner button assigned.
    static constexpr int kNoButton = -1;

    JobModel() = default;
    // The initial values, then the dictionary's (null: the standard user
    // defaults): whole model, both lists (a list key holding no array gives
    // an empty list), flags and button when of the right kind and range.
    explicit JobModel(const kdf::Dictionary* dict);

    static std::vector<std::shared_ptr<JobModel>> modelListFromDictList(const kdf::Value* list);
    static kdf::Array dictListFromModelList(const std::vector<std::shared_ptr<JobModel>>& models);

    // The whole model, both lists, the flags and the button (null: the
    // user defaults). The selection, tab, output index and user info are not
    // stored.
    void saveJobModel(kdf::Dictionary* dict) const;

    // A new job with a copy of the whole model (use count 0), the same tab
    // and output index, copies of every input and output and of the user
    // info, the flags, and no scanner button: a copy never takes over the
    // button assignment.
    std::shared_ptr<PanelModel> clone() const override;
    std::shared_ptr<JobModel> copy() const;

    // Passed on to every input of the job.
    void checkCreateDriverData(const std::optional<std::string>& productName) const;

    std::shared_ptr<WholeModel> wholeModel() const override { return job_WholeModel(); }
    std::shared_ptr<WholeModel> job_WholeModel() const;
    void setJob_WholeModel(std::shared_ptr<WholeModel> m);

    std::vector<std::shared_ptr<InputModel>> jobInputModel_List() const;
    void setJobInputModel_List(std::vector<std::shared_ptr<InputModel>> v);
    std::vector<std::shared_ptr<OutputModel>> jobOutputModel_List() const;
    void setJobOutputModel_List(std::vector<std::shared_ptr<OutputModel>> v);
    // For a job built for one scan: [panel type, panel indexes...] entries.
    std::optional<kdf::Array> userInfoList() const;
    void setUserInfoList(std::optional<kdf::Array> v);

    bool isImageProcess() const { return isImageProcess_; }
    void setIsImageProcess(bool v) { isImageProcess_ = v; }
    bool isContinueScan() const { return isContinueScan_; }
    void setIsContinueScan(bool v) { isContinueScan_ = v; }
    int scanBtnStatus() const { return scanBtnStatus_; }
    void setScanBtnStatus(int v) { scanBtnStatus_ = v; }
    int jobTabType() const { return jobTabType_; }
    void setJobTabType(int v) { jobTabType_ = v; }
    int outputIndex() const { return outputIndex_; }
    void setOutputIndex(int v) { outputIndex_ = v; }

private:
    // Guards the object fields, read by the scan and output threads while
    // the main thread may replace them.
    mutable std::mutex lock_;
    std::shared_ptr<WholeModel> wholeModel_ = std::make_shared<WholeModel>();
    std::vector<std::shared_ptr<InputModel>> inputs_;
    std::vector<std::shared_ptr<OutputModel>> outputs_;
    std::optional<kdf::Array> userInfoList_;
    bool isImageProcess_ = true;
    bool isContinueScan_ = true;
    int scanBtnStatus_ = kNoButton;
    int jobTabType_ = 0;
    int outputIndex_ = 0;
};
