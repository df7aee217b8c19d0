// The job the whole-road scan tests run: gray, 200 dpi, both sides, into one
// PDF in the given folder.
#pragma once

#include "PageImage.h"
#include "InputModel.h"
#include "JobModel.h"
#include "OutputModel.h"

#include <filesystem>
#include <memory>

namespace scantest {

// With isImageProcess the pages wait on the scan screen for the finish
// button.
inline std::shared_ptr<JobModel> grayDuplexPdfJob(const std::filesystem::path& folder, bool isImageProcess) {
    auto input = std::make_shared<InputModel>();
    input->setIsUseDriverSetting(false);
    input->setScnStColorType(3);
    input->setScnStResolutionType(1);
    input->setScnStReaderSideType(2);
    auto output = std::make_shared<OutputModel>();
    output->setFileFormatType(qlr_output::kFormatPDF);
    output->setFileOp_MultiType_PDF(0);
    output->setIsAddOCR(false);
    output->setSaveType(3);
    output->setFileSavePath(folder.string());
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({input});
    job->setJobOutputModel_List({output});
    job->setIsImageProcess(isImageProcess);
    job->setIsContinueScan(false);
    return job;
}

} // namespace scantest
