// The main job's run settings (tools/run/) are the only description of the
// job the run scans: they must load into the models as exactly that job,
// and carry the settings version the application checks at start, or the
// version check would empty them before anything reads them.
#include "AppBundleFixture.h"
#include "AppModel.h"

#include <foundation/PropertyList.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

kdf::Dictionary runSettings(const std::string& outputFolder, bool hide) {
    std::string text = readText(KD_RUN_TEMPLATE);
    replaceAll(text, "@OUTPUT_FOLDER@", outputFolder);
    replaceAll(text, "@HIDE_AT_BUTTON_START@", hide ? "true" : "false");
    EXPECT_EQ(text.find('@'), std::string::npos) << "a placeholder the run does not fill";
    std::string error;
    auto value = kdf::readPropertyList(text, &error);
    if (!value || !value->dictionary()) {
        ADD_FAILURE() << "the run settings do not read: " << error;
        return {};
    }
    return *value->dictionary();
}

TEST(RunTemplate, LoadsAsOneGrayDuplexPdfJobOnScannerButtonOne) {
    modeltest::AppBundleFixture bundle;
    const std::string folder = "/tmp/run folder/output";
    const kdf::Dictionary settings = runSettings(folder, true);

    AppModel app(&settings);
    ASSERT_EQ(app.jobModel_List().size(), 1u);
    const auto& job = *app.jobModel_List()[0];
    EXPECT_EQ(job.scanBtnStatus(), 1);
    EXPECT_FALSE(job.isImageProcess());
    EXPECT_FALSE(job.isContinueScan());

    const auto inputs = job.jobInputModel_List();
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_FALSE(inputs[0]->isUseDriverSetting());
    EXPECT_EQ(inputs[0]->currentColorMode(), 3); // gray
    EXPECT_EQ(inputs[0]->currentResolution(), 200);
    EXPECT_EQ(inputs[0]->currentReaderSide(), 2); // both sides
    EXPECT_EQ(inputs[0]->currentPaperSize(), 1);  // A4

    const auto outputs = job.jobOutputModel_List();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_FALSE(outputs[0]->isValidPlugin());
    EXPECT_EQ(outputs[0]->fileFormatType(), OutputModel::kFormatPDF);
    EXPECT_EQ(outputs[0]->fileOp_MultiType_PDF(), 0); // all pages in one file
    EXPECT_FALSE(outputs[0]->isAddOCR());
    // Saved into the folder the run names, not one of the user's folders.
    EXPECT_EQ(outputs[0]->saveType(), 3);
    EXPECT_EQ(outputs[0]->storedFileSavePath(), folder);

    EXPECT_TRUE(PrefsModel(&settings).isHideAppStartFromButton());
    const kdf::Dictionary shown = runSettings(folder, false);
    EXPECT_FALSE(PrefsModel(&shown).isHideAppStartFromButton());
}

TEST(RunTemplate, CarriesTheApplicationsSettingsVersion) {
    const kdf::Dictionary settings = runSettings("/out", false);
    std::string error;
    auto info = kdf::readPropertyListFile(KD_APP_INFO_PLIST_TEMPLATE, &error);
    ASSERT_TRUE(info && info->dictionary()) << error;
    const kdf::Value* current = kdf::find(*info->dictionary(), "TVCurrentFileVersion");
    const kdf::Value* stored = kdf::find(settings, "FileVerKey");
    ASSERT_TRUE(current && current->toInteger());
    ASSERT_TRUE(stored && stored->toInteger());
    EXPECT_EQ(*stored->toInteger(), *current->toInteger());
}

} // namespace
