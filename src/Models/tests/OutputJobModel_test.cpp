#include "AppBundleFixture.h"
#include "JobModel.h"
#include "ModelTestSupport.h"
#include "OutputModel.h"

#include <foundation/UserFolders.h>

#include <gtest/gtest.h>

#include <cstdint>

using kdf::Array;
using kdf::Dictionary;
using kdf::Value;

namespace {

Dictionary saved(const OutputModel& m) {
    Dictionary d;
    m.saveOutputModel(&d);
    return d;
}

Dictionary saved(const JobModel& m) {
    Dictionary d;
    m.saveJobModel(&d);
    return d;
}

// Every stored setting away from its initial value.
std::shared_ptr<OutputModel> customOutput() {
    auto m = std::make_shared<OutputModel>();
    m->setDispTitle("Archive");
    m->output_WholeModel()->setPanelUseCount(9);
    m->setPluginID("SendviaMail.plugin");
    m->setPluginGUID("guid-1");
    m->setFreeFileName("scan");
    m->setIsUseFNSetting(false);
    m->setIsAddDateTime(false);
    m->setDateTimeType(2);
    m->setIsAddNumber(true);
    m->setDigitType(5);
    m->setStartNum(40);
    m->setFileFormatType(OutputModel::kFormatTIFF);
    m->setFileOp_MultiType_PDF(1);
    m->setMultiPageNum_PDF(7);
    m->setIsPDFA(true);
    m->setFileOp_CompType(1);
    m->setCompRate_PDF(4);
    m->setIsAddOCR(false);
    m->setFileOp_OCRLangType(9);
    m->setFileOp_MultiType_TIFF(2);
    m->setMultiPageNum_TIFF(3);
    m->setCompRate_JPEG(1);
    m->setSaveType(3);
    m->setFileSavePath("/data/scans");
    return m;
}

TEST(OutputModel, NewOutputSavesToPicturesAsPdfWithText) {
    modeltest::AppBundleFixture bundle;
    OutputModel m;
    EXPECT_EQ(m.saveType(), OutputModel::kSavePictures);
    EXPECT_EQ(m.fileFormatType(), OutputModel::kFormatPDF);
    EXPECT_TRUE(m.isAddOCR());
    EXPECT_TRUE(m.isUseFNSetting());
    EXPECT_TRUE(m.isAddDateTime());
    EXPECT_FALSE(m.isAddNumber());
    EXPECT_FALSE(m.isPDFA());
    EXPECT_EQ(m.compRate_PDF(), 3);
    EXPECT_EQ(m.compRate_JPEG(), 3);
    EXPECT_EQ(m.dateTimeType(), 1); // English
    EXPECT_EQ(m.fileOp_OCRLangType(), 2);
    EXPECT_EQ(m.pluginID(), "");
    EXPECT_FALSE(m.isValidPlugin());
    EXPECT_FALSE(m.fileSavePath());
    // Once the counter is on: three digits from 1.
    m.setIsAddNumber(true);
    EXPECT_EQ(m.digitType() + 1, 3);
    EXPECT_EQ(m.startNum(), 1);
}

TEST(OutputModel, StoredKeysAndRoundTrip) {
    modeltest::AppBundleFixture bundle;
    auto m = customOutput();
    m->setIsSelected(true);
    const Dictionary d = saved(*m);
    // The stored format: every key, the whole model's beside the output's.
    const char* keys[] = {"Output_IsSelectedKey", "Output_PluginIDKey", "Output_PluginGUIDKey",
                          "Output_FreeFileNameKey", "Output_IsUseFNSettingKey", "Output_IsAddDateTimeKey",
                          "Output_DateTimeTypeKey", "Output_IsAddNumberKey", "Output_DigitTypeKey",
                          "Output_StartNumKey", "Output_FileFormatTypeKey", "Output_FileOp_MultiType_PDFKey",
                          "Output_MultiPageNum_PDFKey", "Output_IsPDFAKey", "Output_FileOp_CompTypeKey",
                          "Output_CompRate_PDFKey", "Output_IsAddOCRKey", "Output_FileOp_OCRLangTypeKey",
                          "Output_FileOp_MultiType_TIFFKey", "Output_MultiPageNum_TIFFKey",
                          "Output_CompRate_JPEGKey", "Output_SaveTypeKey", "Output_FileSavePathKey",
                          "Whole_IconPathKey", "Whole_AlternateIconPathKey", "Whole_UseAlternateIconKey",
                          "Whole_TitleKey", "Whole_PanelUseCountKey"};
    EXPECT_EQ(d.size(), std::size(keys));
    for (const char* key : keys) EXPECT_TRUE(d.count(key)) << key;
    EXPECT_EQ(*kdf::find(d, "Output_StartNumKey"), Value(40));
    EXPECT_EQ(*kdf::find(d, "Output_IsPDFAKey"), Value(true));

    OutputModel back(&d);
    EXPECT_EQ(saved(back), d);
    EXPECT_TRUE(back.isSelected());

    // Without a folder, no folder key.
    OutputModel fresh;
    EXPECT_FALSE(saved(fresh).count("Output_FileSavePathKey"));
}

TEST(OutputModel, UnusableStoredValuesKeepTheirDefaults) {
    modeltest::AppBundleFixture bundle;
    const Dictionary d{{"Output_DigitTypeKey", Value("4")},
                       {"Output_StartNumKey", Value(std::int64_t(1) << 40)},
                       {"Output_CompRate_PDFKey", Value(1e300)},
                       {"Output_PluginIDKey", Value(5)},
                       {"Output_FileSavePathKey", Value(kdf::Array{})},
                       {"Output_IsAddOCRKey", Value("no")}};
    OutputModel m(&d);
    EXPECT_EQ(m.digitType(), 2);
    EXPECT_EQ(m.startNum(), 1);
    EXPECT_EQ(m.compRate_PDF(), 3);
    EXPECT_EQ(m.pluginID(), "");
    EXPECT_FALSE(m.isValidPlugin());
    EXPECT_FALSE(m.storedFileSavePath());
    EXPECT_TRUE(m.isAddOCR());
}

TEST(OutputModel, FileSavePathExpandsOnlyTheUsersHome) {
    modeltest::AppBundleFixture bundle;
    const std::string home = kdf::homeFolder();
    struct Row {
        std::optional<std::string> stored;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt},
        {"", std::nullopt},
        {"~", home},
        {"~/Scans", home + "/Scans"},
        {"~other/Scans", "~other/Scans"},
        {"/srv/~/x", "/srv/~/x"},
        {"relative", "relative"},
    };
    for (const Row& r : rows) {
        OutputModel m;
        m.setFileSavePath(r.stored);
        EXPECT_EQ(m.fileSavePath(), r.expected) << r.stored.value_or("(none)");
        // Stored as set, not expanded.
        OutputModel back(&static_cast<const Dictionary&>(saved(m)));
        EXPECT_EQ(back.storedFileSavePath(), r.stored);
    }
}

TEST(OutputModel, FormatNameAndImage) {
    modeltest::AppBundleFixture bundle;
    bundle.writeStrings("en", {{"FileFormat_PDF", Value("PDF file")}, {"FileFormat_PNG", Value("PNG file")}});
    modeltest::ScopedImages images;
    images.provider->bundleNames = {"panel_pdf.png", "panel_tiff.png", "panel_jpeg.png", "panel_png.png"};
    struct Row {
        int type;
        const char* name;
        const char* image;
    };
    const Row rows[] = {{0, "PDF file", "panel_pdf.png"},   {1, "FileFormat_TIFF", "panel_tiff.png"},
                        {2, "FileFormat_JPEG", "panel_jpeg.png"}, {3, "PNG file", "panel_png.png"},
                        {7, "", ""},                         {-1, "", ""}};
    for (const Row& r : rows) {
        OutputModel m;
        m.setFileFormatType(r.type);
        EXPECT_EQ(m.dispFileFormatType(), r.name) << r.type;
        EXPECT_EQ(modeltest::nameOf(m.dispFileFormatImage()), r.image) << r.type;
        if (!*r.image) {
            EXPECT_FALSE(m.dispFileFormatImage());
        }
    }
}

TEST(OutputModel, IconFollowsTheAlternateFlag) {
    modeltest::AppBundleFixture bundle;
    modeltest::ScopedImages images;
    images.provider->bundleNames = {"out_std.png", "out_user.png"};
    OutputModel m;
    m.output_WholeModel()->setIconPath("out_std.png");
    m.output_WholeModel()->setAlternateIconPath("out_user.png");
    EXPECT_EQ(modeltest::nameOf(m.dispIcon()), "out_std.png");
    m.output_WholeModel()->setUseAlternateIcon(true);
    EXPECT_EQ(modeltest::nameOf(m.dispIcon()), "out_user.png");
}

TEST(OutputModel, CopiesCarrySettingsOnly) {
    modeltest::AppBundleFixture bundle;
    auto m = customOutput();
    m->setIsSelected(true);
    m->setPanelSizeType(2);
    m->setTmpDirForSendPlugin("/tmp/x");
    m->setWriteFilePathArray({"/a.pdf"});
    m->setTmpEditingPluginInfoList(Array{Value(1)});

    auto c = m->copy();
    EXPECT_NE(c.get(), m.get());
    EXPECT_NE(c->output_WholeModel().get(), m->output_WholeModel().get());
    EXPECT_EQ(c->output_WholeModel()->panelUseCount(), 0);
    EXPECT_EQ(c->dispTitle(), "Archive");
    EXPECT_FALSE(c->isSelected());
    EXPECT_EQ(c->panelSizeType(), 1);
    EXPECT_FALSE(c->tmpDirForSendPlugin());
    EXPECT_TRUE(c->writeFilePathArray().empty());
    EXPECT_FALSE(c->tmpEditingPluginInfoList());
    Dictionary a = saved(*m), b = saved(*c);
    a.erase("Output_IsSelectedKey");
    b.erase("Output_IsSelectedKey");
    a.erase("Whole_PanelUseCountKey");
    b.erase("Whole_PanelUseCountKey");
    EXPECT_EQ(a, b);
    // Independent afterwards.
    c->setFreeFileName("other");
    EXPECT_EQ(m->freeFileName(), "scan");
    // clone() is the same copy.
    EXPECT_TRUE(std::dynamic_pointer_cast<OutputModel>(m->clone()));

    // copydata: the settings, neither the title nor the selection.
    OutputModel dst;
    dst.setDispTitle("Mine");
    OutputModel::copydataOutputModel(m.get(), &dst);
    EXPECT_EQ(dst.dispTitle(), "Mine");
    EXPECT_FALSE(dst.isSelected());
    EXPECT_EQ(dst.pluginGUID(), "guid-1");
    EXPECT_EQ(dst.storedFileSavePath(), "/data/scans");
    EXPECT_EQ(dst.startNum(), 40);
    OutputModel::copydataOutputModel(nullptr, &dst);
    OutputModel::copydataOutputModel(m.get(), nullptr);
    EXPECT_EQ(dst.startNum(), 40);
}

TEST(OutputModel, LocaleDefaults) {
    modeltest::AppBundleFixture bundle(
        {"en", "ja", "ko", "zh-Hans", "zh-Hant", "fr", "es", "de", "it", "nl", "pt", "ru", "tr", "sv"});
    struct Row {
        const char* language;
        int dateType;
        int ocrType;
    };
    const Row rows[] = {
        {"ja", 3, 0},      {"en", 1, 2},      {"ko", 0, 2},  {"zh-Hans", 0, 8}, {"zh-Hant", 0, 9},
        {"fr", 2, 4},      {"es", 2, 3},      {"de", 2, 5},  {"it", 2, 6},      {"nl", 2, 7},
        {"pt", 2, 10},     {"ru", 2, 11},     {"tr", 2, 12},
        // A language the bundle has but the tables do not name.
        {"sv", 2, 2},
        // A language the bundle lacks reads the development region's.
        {"el", 1, 2},
    };
    for (const Row& r : rows) {
        bundle.setLanguage(r.language);
        EXPECT_EQ(OutputModel::defaultDateTimeType(), r.dateType) << r.language;
        EXPECT_EQ(OutputModel::defaultOCRLangType(), r.ocrType) << r.language;
        OutputModel m;
        EXPECT_EQ(m.dateTimeType(), r.dateType) << r.language;
        EXPECT_EQ(m.fileOp_OCRLangType(), r.ocrType) << r.language;
    }
}

TEST(OutputModel, ListConvertersSkipWhatIsNoDictionary) {
    modeltest::AppBundleFixture bundle;
    const Value notList("outputs");
    EXPECT_TRUE(OutputModel::modelListFromDictList(&notList).empty());
    EXPECT_TRUE(OutputModel::modelListFromDictList(nullptr).empty());
    Dictionary one;
    customOutput()->saveOutputModel(&one);
    const Value list(Array{Value(one), Value(3), Value(Array{}), Value(Dictionary{})});
    auto models = OutputModel::modelListFromDictList(&list);
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0]->pluginGUID(), "guid-1");
    EXPECT_EQ(models[1]->pluginGUID(), "");
    const Array back = OutputModel::dictListFromModelList(models);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(*back[0].dictionary(), one);
}

std::shared_ptr<JobModel> customJob() {
    auto job = std::make_shared<JobModel>();
    job->setDispTitle("Receipts");
    job->job_WholeModel()->setPanelUseCount(4);
    auto input = std::make_shared<InputModel>();
    input->setScnStColorType(3);
    input->setDispTitle("Gray");
    job->setJobInputModel_List({input});
    auto second = customOutput();
    second->setPluginID("");
    job->setJobOutputModel_List({customOutput(), second});
    job->setIsImageProcess(false);
    job->setIsContinueScan(false);
    job->setScanBtnStatus(3);
    job->setJobTabType(1);
    job->setOutputIndex(1);
    job->setUserInfoList(Array{Value(Array{Value(0), Value(2)})});
    return job;
}

TEST(JobModel, NewJobAndRoundTrip) {
    modeltest::AppBundleFixture bundle;
    JobModel fresh;
    EXPECT_TRUE(fresh.isImageProcess());
    EXPECT_TRUE(fresh.isContinueScan());
    EXPECT_EQ(fresh.scanBtnStatus(), -1);
    EXPECT_TRUE(fresh.jobInputModel_List().empty());
    EXPECT_TRUE(fresh.jobOutputModel_List().empty());

    auto job = customJob();
    job->setIsSelected(true);
    const Dictionary d = saved(*job);
    // The selection, tab, output index and user info are not stored.
    for (const char* key : {"Job_JobInputModel_DictListKey", "Job_JobOutputModel_DictListKey", "Job_IsImageProcessKey",
                            "Job_IsContinueScanKey", "Job_ScanBtnStatusKey", "Whole_TitleKey"})
        EXPECT_TRUE(d.count(key)) << key;
    EXPECT_EQ(d.size(), 10u);
    JobModel back(&d);
    EXPECT_EQ(saved(back), d);
    EXPECT_FALSE(back.isSelected());
    EXPECT_EQ(back.scanBtnStatus(), 3);
    ASSERT_EQ(back.jobOutputModel_List().size(), 2u);
    EXPECT_TRUE(back.jobOutputModel_List()[0]->isValidPlugin());
    EXPECT_FALSE(back.jobOutputModel_List()[1]->isValidPlugin());
    ASSERT_EQ(back.jobInputModel_List().size(), 1u);
    EXPECT_EQ(back.jobInputModel_List()[0]->scnStColorType(), 3);
}

TEST(JobModel, CopyNeverTakesTheButton) {
    modeltest::AppBundleFixture bundle;
    auto job = customJob();
    auto c = job->copy();
    EXPECT_EQ(c->scanBtnStatus(), -1);
    EXPECT_EQ(c->jobTabType(), 1);
    EXPECT_EQ(c->outputIndex(), 1);
    EXPECT_FALSE(c->isImageProcess());
    EXPECT_FALSE(c->isContinueScan());
    EXPECT_EQ(c->dispTitle(), "Receipts");
    EXPECT_EQ(c->job_WholeModel()->panelUseCount(), 0);
    EXPECT_EQ(c->userInfoList(), job->userInfoList());
    const auto inputs = job->jobInputModel_List(), copiedInputs = c->jobInputModel_List();
    const auto outputs = job->jobOutputModel_List(), copiedOutputs = c->jobOutputModel_List();
    ASSERT_EQ(copiedInputs.size(), 1u);
    ASSERT_EQ(copiedOutputs.size(), 2u);
    EXPECT_NE(copiedInputs[0].get(), inputs[0].get());
    EXPECT_EQ(copiedInputs[0]->scnStColorType(), 3);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NE(copiedOutputs[i].get(), outputs[i].get());
        EXPECT_EQ(copiedOutputs[i]->pluginID(), outputs[i]->pluginID());
        EXPECT_EQ(copiedOutputs[i]->startNum(), 40);
    }
    // Changing the copy's parts leaves the original alone.
    copiedOutputs[0]->setStartNum(2);
    copiedInputs[0]->setScnStColorType(1);
    EXPECT_EQ(outputs[0]->startNum(), 40);
    EXPECT_EQ(inputs[0]->scnStColorType(), 3);
}

TEST(JobModel, UnusableStoredValues) {
    modeltest::AppBundleFixture bundle;
    const Value notLists[] = {Value("list"), Value(3), Value(Dictionary{{"0", Value(Dictionary{})}}), Value(true)};
    for (const Value& v : notLists) {
        const Dictionary d{{"Job_JobInputModel_DictListKey", v}, {"Job_JobOutputModel_DictListKey", v}};
        JobModel job(&d);
        EXPECT_TRUE(job.jobInputModel_List().empty());
        EXPECT_TRUE(job.jobOutputModel_List().empty());
    }
    const Value buttons[] = {Value("3"), Value(std::int64_t(1) << 40), Value(1e300), Value(Array{})};
    for (const Value& b : buttons) {
        const Dictionary d{{"Job_ScanBtnStatusKey", b}};
        EXPECT_EQ(JobModel(&d).scanBtnStatus(), -1);
    }
}

TEST(JobModel, CheckCreateDriverDataReachesEveryInput) {
    modeltest::AppBundleFixture bundle;
    JobModel job;
    job.setJobInputModel_List({std::make_shared<InputModel>(), std::make_shared<InputModel>()});
    job.checkCreateDriverData(std::string("KD-720"));
    for (const auto& input : job.jobInputModel_List()) EXPECT_TRUE(input->scannerSettingDict().count("KD-720"));
}

} // namespace
