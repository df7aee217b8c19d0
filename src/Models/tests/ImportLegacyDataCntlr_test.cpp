#include "AppBundleFixture.h"
#include "ImportLegacyDataCntlr.h"
#include "JobModel.h"
#include "ModelTestSupport.h"
#include "QlrUtilsMethod.h"

#include <foundation/Exception.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

using kdf::Array;
using kdf::Bytes;
using kdf::Dictionary;
using kdf::Value;

namespace {

constexpr const char* kProduct = "KD-720";

// What the controller hands over: a saved new job with one new input and
// one new output.
std::optional<Dictionary> blankJob() {
    JobModel job;
    job.setJobInputModel_List({std::make_shared<InputModel>()});
    job.setJobOutputModel_List({std::make_shared<OutputModel>()});
    Dictionary d;
    job.saveJobModel(&d);
    return d;
}

Value archived(const Dictionary& jobs) { return Value(*QlrUtilsMethod::encodeDictToData(Value(jobs))); }

// Older preferences with both flags and the job list: entries "0" and "1"
// are the older application's own, the jobs follow from "2".
Dictionary legacyPrefs(const std::vector<Value>& jobs) {
    Dictionary list{{"0", Value(Dictionary{{"JLMdlJList_TitleKey", Value("own 0")}})},
                    {"1", Value(Dictionary{{"JLMdlJList_TitleKey", Value("own 1")}})}};
    for (std::size_t i = 0; i < jobs.size(); ++i) list.emplace(std::to_string(i + 2), jobs[i]);
    return {{"PrefsIsQLRResidingKey", Value(false)},
            {"PrefsIsShowPlugInScanKey", Value(true)},
            {"MainJobJLMdlKey", archived(list)}};
}

Value olderJob(const std::string& title, Dictionary extra = {}) {
    extra.emplace("JLMdlJList_TitleKey", Value(title));
    return Value(extra);
}

struct Imported {
    Dictionary result;
    bool err = false;
    std::vector<Dictionary> jobs() const {
        std::vector<Dictionary> out;
        if (const Value* list = kdf::find(result, "Imported_JobModel_DictListKey"))
            for (const Value& j : *list->array()) out.push_back(*j.dictionary());
        return out;
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const auto& j : jobs()) out.push_back(*kdf::find(j, "Whole_TitleKey")->string());
        return out;
    }
};

Imported runImport(const Dictionary* prefs, const ImportLegacyDataCntlr::BlankJobFactory& factory = blankJob) {
    Imported out;
    out.err = true;
    out.result = ImportLegacyDataCntlr::sharedImportLegacyDataCntlr()->importLegacyJobModel(prefs, factory, &out.err);
    return out;
}

const Dictionary& firstIn(const Dictionary& job, const char* list) {
    return *kdf::find(job, list)->array()->front().dictionary();
}
const Dictionary& input(const Dictionary& job) { return firstIn(job, "Job_JobInputModel_DictListKey"); }
const Dictionary& output(const Dictionary& job) { return firstIn(job, "Job_JobOutputModel_DictListKey"); }

struct ImportTest : ::testing::Test {
    modeltest::AppBundleFixture bundle;
    modeltest::ScopedController controller;
    ImportTest() { controller->productName = kProduct; }
};

TEST_F(ImportTest, OnlyEntriesFromTwoUpToTheCountImport) {
    const Dictionary three = legacyPrefs({olderJob("Invoices")});
    Imported a = runImport(&three);
    EXPECT_FALSE(a.err);
    EXPECT_EQ(a.titles(), std::vector<std::string>{"Invoices"});
    EXPECT_EQ(*kdf::find(a.result, "Imported_IsQLRResidingKey"), Value(false));
    EXPECT_EQ(*kdf::find(a.result, "Imported_IsShowPlugInScanKey"), Value(true));
    // Keys the older job lacks keep the blank job's values.
    const Dictionary blank = *blankJob();
    Dictionary job = a.jobs()[0];
    EXPECT_EQ(job.at("Job_ScanBtnStatusKey"), Value(-1));
    EXPECT_EQ(output(job), output(blank));
    EXPECT_EQ(input(job), input(blank));

    // Two entries: nothing to import, so the flag is set.
    Dictionary two = legacyPrefs({});
    Imported b = runImport(&two);
    EXPECT_TRUE(b.err);
    EXPECT_FALSE(b.result.count("Imported_JobModel_DictListKey"));
    EXPECT_EQ(b.result.size(), 2u);

    // An entry beyond the count is not read; an untitled job is skipped
    // without the flag; a missing index is passed over.
    Dictionary list{{"0", Value(Dictionary{})}, {"1", Value(Dictionary{})}, {"2", olderJob("")},
                    {"3", olderJob("Kept")}, {"5", olderJob("Beyond")}};
    Dictionary prefs = legacyPrefs({});
    prefs["MainJobJLMdlKey"] = archived(list);
    Imported c = runImport(&prefs);
    EXPECT_FALSE(c.err);
    EXPECT_EQ(c.titles(), std::vector<std::string>{"Kept"});
}

TEST_F(ImportTest, SimpleScanSettings) {
    struct Row {
        const char* name;
        Dictionary scan;
        Dictionary expected; // keys of the first input
    };
    const Row rows[] = {
        {"full auto overrides every simple value",
         {{"ScnMdlIsFullAutoModeKey", Value(true)}, {"ScnMdlScnStColTypeKey", Value(2)},
          {"ScnMdlScnStPapSizeTypeKey", Value(4)}, {"ScnMdlScnStResTypeKey", Value(5)},
          {"ScnMdlScnStReaderSideTypeKey", Value(2)}, {"ScnMdlIsRevisionSlopeKey", Value(false)},
          {"ScnMdlIsRecCharDirKey", Value(false)}, {"ScnMdlIsUseDriverSettingKey", Value(true)}},
         {{"Input_ScnStColorTypeKey", Value(0)}, {"Input_ScnStPaperSizeTypeKey", Value(0)},
          {"Input_ScnStResolutionTypeKey", Value(0)}, {"Input_ScnStReaderSideTypeKey", Value(0)},
          {"Input_ScnStSkewTypeKey", Value(1)}, {"Input_IsRecCharDirKey", Value(true)},
          {"Input_IsUseDriverSettingKey", Value(false)}}},
        {"gray and 300 dpi",
         {{"ScnMdlScnStColTypeKey", Value(2)}, {"ScnMdlScnStResTypeKey", Value(2)},
          {"ScnMdlIsRevisionSlopeKey", Value(true)}, {"ScnMdlIsUseDriverSettingKey", Value(true)}},
         {{"Input_ScnStColorTypeKey", Value(3)}, {"Input_ScnStResolutionTypeKey", Value(1)},
          {"Input_ScnStSkewTypeKey", Value(1)}, {"Input_IsUseDriverSettingKey", Value(true)}}},
        {"black and white, 600 dpi",
         {{"ScnMdlScnStColTypeKey", Value(3)}, {"ScnMdlScnStResTypeKey", Value(5)},
          {"ScnMdlIsRevisionSlopeKey", Value(false)}, {"ScnMdlScnStPapSizeTypeKey", Value(4)}},
         {{"Input_ScnStColorTypeKey", Value(5)}, {"Input_ScnStResolutionTypeKey", Value(4)},
          {"Input_ScnStSkewTypeKey", Value(0)}, {"Input_ScnStPaperSizeTypeKey", Value(4)}}},
        {"other values unchanged",
         {{"ScnMdlScnStColTypeKey", Value(1)}, {"ScnMdlScnStResTypeKey", Value(9)}},
         {{"Input_ScnStColorTypeKey", Value(1)}, {"Input_ScnStResolutionTypeKey", Value(9)}}},
        {"resolution 1 and 4", {{"ScnMdlScnStResTypeKey", Value(4)}}, {{"Input_ScnStResolutionTypeKey", Value(3)}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const Dictionary prefs = legacyPrefs({olderJob("J", {{"JLMdlJList_ScanSettingMdlKey", Value(r.scan)}})});
        Imported imp = runImport(&prefs);
        ASSERT_EQ(imp.jobs().size(), 1u);
        const Dictionary in = input(imp.jobs()[0]);
        for (const auto& [key, value] : r.expected) EXPECT_EQ(in.at(key), value) << key;
    }
}

TEST_F(ImportTest, CapabilityValuesReachTheCurrentProductsDriverSettings) {
    Bytes curve(256);
    for (int i = 0; i < 256; ++i) curve[std::size_t(i)] = std::uint8_t(255 - i);
    const Dictionary scan{{"ScnCCAP_TVK_SKEWDETECTKey", Value(1)},
                          {"ScnCAP_XFERCOUNTKey", Value(-1)},
                          {"ScnICAP_BRIGHTNESSKey", Value(25.5)},
                          {"ScnICAP_XRESOLUTIONKey", Value(300)},
                          {"ScnCCAP_TVKM_GAMMAMETHODKey", Value(std::int64_t(4000000000))},
                          {"ScnCCAP_TVK_DESKEWKey", Value(0)},
                          {"ScnCCAP_TVKM_GRAYCURVEKey", Value(curve)},
                          {"ScnMdlIsUseDriverSettingKey", Value(true)}};
    const Dictionary prefs = legacyPrefs({olderJob("Driver", {{"JLMdlJList_ScanSettingMdlKey", Value(scan)}})});
    Imported imp = runImport(&prefs);
    ASSERT_EQ(imp.jobs().size(), 1u);
    const Dictionary job = imp.jobs()[0];
    const Dictionary in = input(job);
    // At the top of the input, the skew detection under its doubled prefix.
    EXPECT_EQ(in.at("Input_CCAP_CCAP_TVK_SKEWDETECTKey"), Value(1));
    EXPECT_FALSE(in.count("Input_CCAP_TVK_SKEWDETECTKey"));
    EXPECT_EQ(in.at("Input_CAP_XFERCOUNTKey"), Value(-1));
    EXPECT_EQ(in.at("Input_ICAP_BRIGHTNESSKey"), Value(25.5));
    EXPECT_EQ(in.at("Input_CCAP_TVKM_GAMMAMETHODKey"), Value(std::int64_t(4000000000)));

    // And merged over the blank entry of the current product.
    const Dictionary& products = *in.at("Input_DriverSettingDictKey").dictionary();
    const Dictionary& entry = *products.at(kProduct).dictionary();
    const Dictionary blank = *blankJob();
    const Dictionary& blankEntry =
        *input(blank).at("Input_DriverSettingDictKey").dictionary()->at(kProduct).dictionary();
    EXPECT_EQ(entry.size(), blankEntry.size());
    EXPECT_EQ(entry.at("Input_CCAP_CCAP_TVK_SKEWDETECTKey"), Value(1));
    EXPECT_EQ(entry.at("Input_ICAP_YRESOLUTIONKey"), blankEntry.at("Input_ICAP_YRESOLUTIONKey"));

    // So the job really scans with them.
    JobModel model(&job);
    auto inputModel = model.jobInputModel_List().at(0);
    EXPECT_TRUE(inputModel->isUseDriverSetting());
    EXPECT_EQ(inputModel->ccap_TVK_SKEWDETECT(), 1);
    EXPECT_EQ(inputModel->ccap_TVK_DESKEW(), 0);
    EXPECT_FLOAT_EQ(inputModel->icap_BRIGHTNESS(), 25.5f);
    EXPECT_FLOAT_EQ(inputModel->icap_XRESOLUTION(), 300.0f);
    EXPECT_EQ(inputModel->ccap_TVKM_GAMMAMETHOD(), 4000000000u);
    EXPECT_EQ(*inputModel->ccap_TVKM_GRAYCURVE(), curve);
}

Dictionary fileSettings(int set, Dictionary values) {
    Dictionary out;
    for (auto& [key, value] : values) out.emplace(key + std::to_string(set), value);
    return out;
}

TEST_F(ImportTest, FunctionTypeChoosesPluginAndSettingsSet) {
    // Every set holds its own start number, so the set read shows.
    Dictionary settings;
    for (int set = 0; set <= 3; ++set)
        settings.merge(fileSettings(set, {{"FncMdlStartNumKey", Value(100 + set)},
                                          {"FncMdlPartFileNameKey", Value("set" + std::to_string(set))}}));
    struct Row {
        const char* name;
        std::optional<Value> type;
        std::optional<std::string> pluginKey; // older plug-in id
        std::string plugin;                   // expected "Output_PluginIDKey"
        int startNum;                         // 1: the blank output's
    };
    const Row rows[] = {
        {"missing type saves to a folder", std::nullopt, std::nullopt, "", 100},
        {"folder", Value(0), std::nullopt, "", 100},
        {"mail", Value(1), std::nullopt, "SendviaMail.plugin", 101},
        {"print keeps the blank file settings", Value(2), std::nullopt, "SendviaPrinter.plugin", 1},
        {"open in an application", Value(3), std::nullopt, "SendviaApp.plugin", 102},
        {"plug-in", Value(4), "Evernote.plugin", "Evernote.plugin", 103},
        {"plug-in without an id", Value(4), std::nullopt, "", 103},
        {"unknown type", Value(9), std::nullopt, "", 100},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Dictionary extra{{"JLMdlJList_FuncSettingMdlKey", Value(settings)}};
        if (r.type) extra.emplace("JLMdlJList_FunctionTypeKey", *r.type);
        if (r.pluginKey) extra.emplace("JLMdlJList_PluginIDKey", Value(*r.pluginKey));
        const Dictionary prefs = legacyPrefs({olderJob("J", extra)});
        Imported imp = runImport(&prefs);
        ASSERT_EQ(imp.jobs().size(), 1u);
        const Dictionary out = output(imp.jobs()[0]);
        EXPECT_EQ(*out.at("Output_PluginIDKey").string(), r.plugin);
        EXPECT_EQ(out.at("Output_StartNumKey"), Value(r.startNum));
    }
}

TEST_F(ImportTest, FileSettingsAndJobValues) {
    const Dictionary settings = fileSettings(
        0, {{"FncMdlPartFileNameKey", Value("scan")}, {"FncMdlIsAddDateTimeKey", Value(false)},
            {"FncMdlIsAddNumberKey", Value(1)}, {"FncMdlDigitTypeKey", Value(4)}, {"FncMdlFileFormatTypeKey", Value(1)},
            {"FncMdlFF_MultiType_PDFKey", Value(1)}, {"FncMdlMultiPageNum_PDFKey", Value(5)},
            {"FncMdlIsPDFAKey", Value(true)}, {"FncMdlFF_CompTypeKey", Value(1)}, {"FncMdlCompRate_PDFKey", Value(2)},
            {"FncMdlIsAddOCRKey", Value(false)}, {"FncMdlFF_OCRLangTypeKey", Value(5)},
            {"FncMdlFF_MultiType_TIFFKey", Value(2)}, {"FncMdlMultiPageNum_TIFFKey", Value(6)},
            {"FncMdlCompRate_JPEGKey", Value(4)}, {"FncMdlSaveTypeKey", Value(3)},
            {"FncMdlFileSavePathKey", Value("~/Scans")}});
    const Dictionary prefs = legacyPrefs({olderJob("Files", {{"JLMdlJList_FuncSettingMdlKey", Value(settings)},
                                                             {"JLMdlJList_IsConfirmOutputKey", Value(false)},
                                                             {"JLMdlJList_IsContinueScanKey", Value(false)},
                                                             {"JLMdlJList_ScanBtnStatusKey", Value(3)}})});
    Imported imp = runImport(&prefs);
    ASSERT_EQ(imp.jobs().size(), 1u);
    const Dictionary job = imp.jobs()[0];
    JobModel model(&job);
    EXPECT_EQ(model.dispTitle(), "Files");
    EXPECT_FALSE(model.isImageProcess());
    EXPECT_FALSE(model.isContinueScan());
    EXPECT_EQ(model.scanBtnStatus(), 3);
    const auto out = model.jobOutputModel_List().at(0);
    EXPECT_EQ(out->freeFileName(), "scan");
    EXPECT_FALSE(out->isAddDateTime());
    EXPECT_TRUE(out->isAddNumber());
    EXPECT_EQ(out->digitType(), 4);
    EXPECT_EQ(out->fileFormatType(), 1);
    EXPECT_EQ(out->fileOp_MultiType_PDF(), 1);
    EXPECT_EQ(out->multiPageNum_PDF(), 5);
    EXPECT_TRUE(out->isPDFA());
    EXPECT_EQ(out->fileOp_CompType(), 1);
    EXPECT_EQ(out->compRate_PDF(), 2);
    EXPECT_FALSE(out->isAddOCR());
    EXPECT_EQ(out->fileOp_OCRLangType(), 5);
    EXPECT_EQ(out->fileOp_MultiType_TIFF(), 2);
    EXPECT_EQ(out->multiPageNum_TIFF(), 6);
    EXPECT_EQ(out->compRate_JPEG(), 4);
    EXPECT_EQ(out->saveType(), 3);
    EXPECT_EQ(out->storedFileSavePath(), "~/Scans");
}

TEST_F(ImportTest, JapaneseDateOrderOnlyInJapanese) {
    const Dictionary settings = fileSettings(0, {{"FncMdlDateTimeTypeKey", Value(3)}});
    const Dictionary prefs = legacyPrefs({olderJob("D", {{"JLMdlJList_FuncSettingMdlKey", Value(settings)}})});
    for (const auto& [language, expected] : {std::pair{"en", 0}, std::pair{"ja", 3}}) {
        bundle.setLanguage(language);
        Imported imp = runImport(&prefs);
        ASSERT_EQ(imp.jobs().size(), 1u);
        EXPECT_EQ(output(imp.jobs()[0]).at("Output_DateTimeTypeKey"), Value(expected)) << language;
    }
}

TEST_F(ImportTest, NoPreferencesOrUnusableJobList) {
    Imported none = runImport(nullptr);
    EXPECT_TRUE(none.err);
    EXPECT_TRUE(none.result.empty());

    struct Row {
        const char* name;
        Value list;
    };
    const Row rows[] = {
        {"not data", Value("jobs")},
        {"data that does not decode", Value(Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2})},
        {"truncated", Value(Bytes{'<', 'p', 'l', 'i', 's', 't', '>', '<', 'd', 'i', 'c', 't', '>'})},
        {"decodes to an array", Value(*QlrUtilsMethod::encodeDictToData(Value(Array{Value(1), Value(2), Value(3)})))},
        {"empty data", Value(Bytes{})},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Dictionary prefs = legacyPrefs({olderJob("J")});
        prefs["MainJobJLMdlKey"] = r.list;
        Imported imp = runImport(&prefs);
        EXPECT_TRUE(imp.err);
        EXPECT_FALSE(imp.result.count("Imported_JobModel_DictListKey"));
        EXPECT_EQ(imp.result.size(), 2u);
    }

    // A preference of the wrong kind counts as missing.
    Dictionary prefs = legacyPrefs({olderJob("J")});
    prefs["PrefsIsQLRResidingKey"] = Value("yes");
    Imported imp = runImport(&prefs);
    EXPECT_TRUE(imp.err);
    EXPECT_FALSE(imp.result.count("Imported_IsQLRResidingKey"));
    EXPECT_EQ(imp.titles(), std::vector<std::string>{"J"});
}

TEST_F(ImportTest, ABadJobFailsAlone) {
    const auto scan = [](const char* key, Value v) {
        return Dictionary{{"JLMdlJList_ScanSettingMdlKey", Value(Dictionary{{key, std::move(v)}})}};
    };
    struct Row {
        const char* name;
        Value job;
    };
    const Row rows[] = {
        {"a job that is an array", Value(Array{Value("Bad")})},
        {"a string button", olderJob("Bad", {{"JLMdlJList_ScanBtnStatusKey", Value("3")}})},
        {"a button of 2^40", olderJob("Bad", {{"JLMdlJList_ScanBtnStatusKey", Value(std::int64_t(1) << 40)}})},
        {"a float of 1e300", olderJob("Bad", scan("ScnICAP_BRIGHTNESSKey", Value(1e300)))},
        {"an unsigned 16-bit value of 70000", olderJob("Bad", scan("ScnCAP_AUTOFEEDKey", Value(70000)))},
        {"a negative unsigned value", olderJob("Bad", scan("ScnCCAP_TVKM_GAMMAMETHODKey", Value(-1)))},
        {"a string capability", olderJob("Bad", scan("ScnCCAP_TVK_DESKEWKey", Value("1")))},
        {"a number for a curve", olderJob("Bad", scan("ScnCCAP_TVKM_GRAYCURVEKey", Value(5)))},
        {"a simple value beyond 32 bits", olderJob("Bad", scan("ScnMdlScnStColTypeKey", Value(std::int64_t(1) << 33)))},
        {"a string full-auto flag", olderJob("Bad", scan("ScnMdlIsFullAutoModeKey", Value("YES")))},
        {"a number for the scan settings", olderJob("Bad", {{"JLMdlJList_ScanSettingMdlKey", Value(5)}})},
        {"a number for the file settings", olderJob("Bad", {{"JLMdlJList_FuncSettingMdlKey", Value(5)}})},
        {"a string function type", olderJob("Bad", {{"JLMdlJList_FunctionTypeKey", Value("1")}})},
        {"a number for the plug-in id",
         olderJob("Bad", {{"JLMdlJList_FunctionTypeKey", Value(4)}, {"JLMdlJList_PluginIDKey", Value(4)}})},
        {"a number for the title", Value(Dictionary{{"JLMdlJList_TitleKey", Value(12)}})},
        {"a file name that is a number",
         olderJob("Bad", {{"JLMdlJList_FuncSettingMdlKey", Value(fileSettings(0, {{"FncMdlPartFileNameKey", Value(1)}}))}})},
        {"a digit type beyond 32 bits",
         olderJob("Bad", {{"JLMdlJList_FuncSettingMdlKey",
                           Value(fileSettings(0, {{"FncMdlDigitTypeKey", Value(std::int64_t(1) << 32)}}))}})},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const Dictionary prefs = legacyPrefs({olderJob("Before"), r.job, olderJob("After")});
        Imported imp = runImport(&prefs);
        EXPECT_TRUE(imp.err);
        EXPECT_EQ(imp.titles(), (std::vector<std::string>{"Before", "After"}));
    }
}

TEST_F(ImportTest, AnOversizedCurveImportsButNeverLoads) {
    const Bytes big(1000, 7);
    const Dictionary prefs = legacyPrefs(
        {olderJob("Curve", {{"JLMdlJList_ScanSettingMdlKey", Value(Dictionary{{"ScnCCAP_TVKM_REDCURVEKey", Value(big)}})}})});
    Imported imp = runImport(&prefs);
    EXPECT_FALSE(imp.err);
    ASSERT_EQ(imp.jobs().size(), 1u);
    const Dictionary job = imp.jobs()[0];
    EXPECT_EQ(input(job).at("Input_CCAP_TVKM_REDCURVEKey"), Value(big));
    // The input model refuses it and keeps the identity curve.
    JobModel model(&job);
    const auto curve = model.jobInputModel_List().at(0)->ccap_TVKM_REDCURVE();
    ASSERT_TRUE(curve);
    EXPECT_EQ(curve->size(), 256u);
    EXPECT_EQ((*curve)[7], 7);
    EXPECT_EQ((*curve)[200], 200);
}

TEST_F(ImportTest, BlankJobFailuresAndOtherExceptions) {
    const Dictionary prefs = legacyPrefs({olderJob("A"), olderJob("B")});
    // No blank job, or one without an output: every job fails.
    Imported none = runImport(&prefs, [] { return std::optional<Dictionary>(); });
    EXPECT_TRUE(none.err);
    EXPECT_TRUE(none.jobs().empty());
    Imported noOutput = runImport(&prefs, [] {
        Dictionary d = *blankJob();
        d["Job_JobOutputModel_DictListKey"] = Value(Array{});
        return std::optional<Dictionary>(d);
    });
    EXPECT_TRUE(noOutput.err);
    EXPECT_TRUE(noOutput.jobs().empty());
    // A named exception inside a job drops the job only.
    int calls = 0;
    Imported named = runImport(&prefs, [&]() -> std::optional<Dictionary> {
        if (++calls == 1) throw kdf::Exception("Err_Something");
        return blankJob();
    });
    EXPECT_TRUE(named.err);
    EXPECT_EQ(named.titles(), std::vector<std::string>{"B"});
    // Anything else is the caller's.
    EXPECT_THROW(runImport(&prefs, []() -> std::optional<Dictionary> { throw std::runtime_error("boom"); }),
                 std::runtime_error);
}

TEST(ImportLegacyDataCntlr, SharedControllerAndSetObject) {
    auto a = ImportLegacyDataCntlr::sharedImportLegacyDataCntlr();
    EXPECT_EQ(a, ImportLegacyDataCntlr::sharedImportLegacyDataCntlr());
    ImportLegacyDataCntlr::terminateImportLegacyDataCntlr();
    EXPECT_NE(a, ImportLegacyDataCntlr::sharedImportLegacyDataCntlr());

    Dictionary d;
    const Value v(5);
    const std::string key = "k";
    ImportLegacyDataCntlr::setObjectIfContainsKeyOnDict(&d, &v, &key);
    EXPECT_EQ(d.at("k"), v);
    try {
        ImportLegacyDataCntlr::setObjectIfContainsKeyOnDict(&d, nullptr, &key);
        ADD_FAILURE() << "no exception";
    } catch (const kdf::Exception& e) {
        EXPECT_EQ(e.name(), "");
    }
    EXPECT_THROW(ImportLegacyDataCntlr::setObjectIfContainsKeyOnDict(nullptr, &v, &key), kdf::Exception);
    EXPECT_THROW(ImportLegacyDataCntlr::setObjectIfContainsKeyOnDict(&d, &v, nullptr), kdf::Exception);
}

} // namespace
