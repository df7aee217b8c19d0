#include "AppBundleFixture.h"
#include "AppModel.h"
#include "ModelTestSupport.h"

#include <foundation/UserDefaults.h>

#include <gtest/gtest.h>

#include <algorithm>

using kdf::Array;
using kdf::Dictionary;
using kdf::Value;

namespace {

Dictionary whole(const std::string& title) { return {{"Whole_TitleKey", Value(title)}}; }

Value output(const std::string& title, const std::string& plugin = {}) {
    Dictionary d = whole(title);
    if (!plugin.empty()) d.emplace("Output_PluginIDKey", Value(plugin));
    return Value(d);
}

Value job(const std::string& title, Array outputs) {
    Dictionary d = whole(title);
    d.emplace("Job_JobOutputModel_DictListKey", Value(std::move(outputs)));
    d.emplace("Job_JobInputModel_DictListKey", Value(Array{Value(whole("in"))}));
    return Value(d);
}

template <class M> std::vector<std::string> titles(const std::vector<std::shared_ptr<M>>& models) {
    std::vector<std::string> out;
    for (const auto& m : models) out.push_back(m->dispTitle());
    return out;
}

template <class M> std::vector<bool> selection(const std::vector<std::shared_ptr<M>>& models) {
    std::vector<bool> out;
    for (const auto& m : models) out.push_back(m->isSelected());
    return out;
}

// A bundle with two inputs, outputs of a folder, an installed plug-in and
// a missing one, and jobs over them; English texts for some titles.
struct PresetBundle : modeltest::AppBundleFixture {
    PresetBundle() {
        writeStrings("en", {{"In_A", Value("Input A")}, {"Out_Folder", Value("To folder")}, {"Job_Mixed", Value("Mixed")}});
        writePreset(AppModel::kPresetInputList, Value(Array{Value(whole("In_A")), Value(whole("In_B"))}));
        writePreset(AppModel::kPresetOutputList,
                    Value(Array{output("Out_Folder"), output("Out_Present", "Present.plugin"),
                                output("Out_Missing", "Missing.plugin"), output("Out_Empty", "")}));
        writePreset(AppModel::kPresetJobList,
                    Value(Array{job("Job_Folder", {output("o")}),
                                job("Job_OnlyMissing", {output("m1", "Missing.plugin"), output("m2", "Gone.plugin")}),
                                job("Job_Mixed", {output("m", "Missing.plugin"), output("p", "Present.plugin")}),
                                job("Job_NoOutputs", {}), job("Job_Present", {output("p", "Present.plugin")})}));
        addPlugin("Present.plugin");
    }
};

TEST(AppModel, FirstStartComesUpWithThePresets) {
    PresetBundle bundle;
    const int code = modeltest::inChild([&] {
        AppModel app(nullptr);
        PrefsModel prefs(nullptr);
        bool ok = titles(app.inputModel_List()) == std::vector<std::string>{"Input A", "In_B"} &&
                  selection(app.inputModel_List()) == std::vector<bool>{false, true} &&
                  titles(app.outputModel_List()) ==
                      std::vector<std::string>{"To folder", "Out_Present", "Out_Empty"} &&
                  selection(app.outputModel_List()) == std::vector<bool>{false, false, true} &&
                  titles(app.jobModel_List()) == std::vector<std::string>{"Job_Folder", "Mixed", "Job_Present"} &&
                  selection(app.jobModel_List()) == std::vector<bool>{false, false, false};
        ok = ok && app.input_PanelSizeType() == 1 && app.output_PanelSizeType() == 1 &&
             app.job_PanelSizeType() == 1 && app.mainTopDispType() == 0 && !app.pluginInfoList();
        // A mixed job keeps all its outputs; the plug-in host clears them.
        ok = ok && app.jobModel_List()[1]->jobOutputModel_List().size() == 2;
        ok = ok && prefs.isQLRResiding() && !prefs.isShowPlugInScan() && !prefs.isHideAppStartFromButton();
        return ok ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
}

TEST(AppModel, PresetsOnlyForMissingListsAndNoSelectionFromABackup) {
    PresetBundle bundle;
    // A backup without lists: presets, nothing selected.
    const Dictionary backup{{"App_MainTopDispTypeKey", Value(1)}, {"App_Job_PanelSizeTypeKey", Value(2)}};
    AppModel fromBackup(&backup);
    EXPECT_EQ(fromBackup.inputModel_List().size(), 2u);
    EXPECT_EQ(selection(fromBackup.inputModel_List()), (std::vector<bool>{false, false}));
    EXPECT_EQ(selection(fromBackup.outputModel_List()), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(fromBackup.mainTopDispType(), 1);
    EXPECT_EQ(fromBackup.job_PanelSizeType(), 2);

    // A list present but empty stays empty; one of another kind reads empty.
    const Dictionary stored{{"App_InputModel_DictListKey", Value(Array{})},
                            {"App_OutputModel_DictListKey", Value("outputs")},
                            {"App_Input_PanelSizeTypeKey", Value("2")},
                            {"App_pluginInfoListKey", Value(3)}};
    AppModel app(&stored);
    EXPECT_TRUE(app.inputModel_List().empty());
    EXPECT_TRUE(app.outputModel_List().empty());
    EXPECT_EQ(app.jobModel_List().size(), 3u);
    EXPECT_EQ(app.input_PanelSizeType(), 1);
    EXPECT_FALSE(app.pluginInfoList());
}

TEST(AppModel, MissingOrBrokenPresetFilesGiveEmptyLists) {
    modeltest::AppBundleFixture bundle;
    bundle.writePreset(AppModel::kPresetOutputList, Value(Dictionary{{"not", Value("a list")}}));
    kdtest::TempHome::writeText(bundle.dir() / "Resources" / AppModel::kPresetJobList, "<plist><array><dict>");
    const Dictionary empty;
    AppModel app(&empty);
    EXPECT_TRUE(app.inputModel_List().empty());
    EXPECT_TRUE(app.outputModel_List().empty());
    EXPECT_TRUE(app.jobModel_List().empty());
}

Value pluginEntry(const std::string& id, Dictionary settings) { return Value(Dictionary{{id, Value(settings)}}); }

TEST(AppModel, SavesOnlyThePluginFlags) {
    PresetBundle bundle;
    const Dictionary none;
    AppModel app(&none);
    Dictionary out;
    app.saveAppModel(&out);
    EXPECT_FALSE(out.count("App_pluginInfoListKey"));
    for (const char* key : {"App_MainTopDispTypeKey", "App_InputModel_DictListKey", "App_OutputModel_DictListKey",
                            "App_JobModel_DictListKey", "App_Input_PanelSizeTypeKey", "App_Output_PanelSizeTypeKey",
                            "App_Job_PanelSizeTypeKey"})
        EXPECT_TRUE(out.count(key)) << key;

    int object = 0;
    const kdf::Pointer ptr{&object};
    app.setPluginInfoList(Array{
        pluginEntry("A.plugin", {{"Plugin_Object_Key", Value(ptr)}}),
        pluginEntry("B.plugin", {{"Plugin_Object_Key", Value(ptr)}, {"Plugin_IsValid_Key", Value(false)}}),
        Value(Dictionary{{"C.plugin", Value(Dictionary{})}, {"D.plugin", Value(Dictionary{})}}),
        Value("E.plugin"),
    });
    out.clear();
    app.saveAppModel(&out);
    const Array expected{pluginEntry("A.plugin", {{"Plugin_IsValid_Key", Value(true)}}),
                         pluginEntry("B.plugin", {{"Plugin_IsValid_Key", Value(false)}})};
    ASSERT_TRUE(out.count("App_pluginInfoListKey"));
    EXPECT_EQ(*out.at("App_pluginInfoListKey").array(), expected);
    EXPECT_FALSE(Value(out).containsPointer());

    // Read back unchanged.
    AppModel back(&out);
    ASSERT_TRUE(back.pluginInfoList());
    EXPECT_EQ(*back.pluginInfoList(), expected);
}

TEST(AppModel, RoundTripThroughTheUserDefaults) {
    PresetBundle bundle;
    const int code = modeltest::inChild([&] {
        AppModel first(nullptr);
        first.setMainTopDispType(1);
        first.setOutput_PanelSizeType(0);
        first.jobModel_List()[0]->setScanBtnStatus(2);
        first.inputModel_List()[0]->setDispTitle("Renamed");
        auto outputs = first.outputModel_List();
        outputs.erase(outputs.begin());
        first.setOutputModel_List(outputs);
        first.setPluginInfoList(Array{pluginEntry("Present.plugin", {{"Plugin_IsValid_Key", Value(false)}})});
        first.saveAppModel(nullptr);
        kdf::UserDefaults::standard().synchronize();

        AppModel second(nullptr);
        Dictionary a, b;
        first.saveAppModel(&a);
        second.saveAppModel(&b);
        const bool ok = a == b && second.inputModel_List()[0]->dispTitle() == "Renamed" &&
                        second.outputModel_List().size() == 2 && second.jobModel_List()[0]->scanBtnStatus() == 2 &&
                        second.mainTopDispType() == 1 && second.output_PanelSizeType() == 0;
        return ok ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
}

TEST(AppModel, RestoreCopiesListsAndFlagsByPluginId) {
    PresetBundle bundle;
    int objects[3] = {};
    const Dictionary empty;
    AppModel live(&empty);
    live.setPluginInfoList(Array{
        pluginEntry("A.plugin", {{"Plugin_Object_Key", Value(kdf::Pointer{&objects[0]})},
                                 {"Plugin_IsValid_Key", Value(true)}}),
        pluginEntry("B.plugin", {{"Plugin_Object_Key", Value(kdf::Pointer{&objects[1]})},
                                 {"Plugin_IsValid_Key", Value(false)}}),
        pluginEntry("C.plugin", {{"Plugin_Object_Key", Value(kdf::Pointer{&objects[2]})},
                                 {"Plugin_IsValid_Key", Value(false)}}),
    });
    const Dictionary backup{
        {"App_MainTopDispTypeKey", Value(1)},
        {"App_InputModel_DictListKey", Value(Array{Value(whole("restored"))})},
        {"App_OutputModel_DictListKey", Value(Array{})},
        {"App_JobModel_DictListKey", Value(Array{})},
        {"App_Output_PanelSizeTypeKey", Value(2)},
        {"App_pluginInfoListKey",
         Value(Array{pluginEntry("A.plugin", {{"Plugin_IsValid_Key", Value(false)}}), pluginEntry("B.plugin", {}),
                     pluginEntry("Z.plugin", {{"Plugin_IsValid_Key", Value(false)}})})},
    };
    AppModel restored(&backup);
    AppModel::loadDataByRestore(&restored, &live);
    EXPECT_EQ(live.mainTopDispType(), 1);
    EXPECT_EQ(live.output_PanelSizeType(), 2);
    ASSERT_EQ(live.inputModel_List().size(), 1u);
    EXPECT_EQ(live.inputModel_List()[0].get(), restored.inputModel_List()[0].get());
    EXPECT_TRUE(live.outputModel_List().empty());
    // The live list is its own: changing the backup's afterwards leaves it.
    restored.setInputModel_List({});
    EXPECT_EQ(live.inputModel_List().size(), 1u);

    const Array expected{
        pluginEntry("A.plugin", {{"Plugin_Object_Key", Value(kdf::Pointer{&objects[0]})},
                                 {"Plugin_IsValid_Key", Value(false)}}),
        pluginEntry("B.plugin", {{"Plugin_Object_Key", Value(kdf::Pointer{&objects[1]})},
                                 {"Plugin_IsValid_Key", Value(true)}}),
        pluginEntry("C.plugin", {{"Plugin_Object_Key", Value(kdf::Pointer{&objects[2]})},
                                 {"Plugin_IsValid_Key", Value(false)}}),
    };
    EXPECT_EQ(*live.pluginInfoList(), expected);

    // Nothing happens without both models.
    AppModel::loadDataByRestore(nullptr, &live);
    AppModel::loadDataByRestore(&restored, nullptr);
    EXPECT_EQ(live.mainTopDispType(), 1);
}

TEST(PrefsModel, RoundTripAndDefaults) {
    modeltest::AppBundleFixture bundle;
    PrefsModel prefs;
    ASSERT_TRUE(prefs.backupFilePath());
    Dictionary out;
    prefs.setIsQLRResiding(false);
    prefs.setIsShowPlugInScan(true);
    prefs.setBackupFilePath("/backups");
    prefs.savePrefsModel(&out);
    EXPECT_EQ(out.size(), 4u);
    PrefsModel back(&out);
    EXPECT_FALSE(back.isQLRResiding());
    EXPECT_TRUE(back.isShowPlugInScan());
    EXPECT_FALSE(back.isHideAppStartFromButton());
    EXPECT_EQ(back.backupFilePath(), "/backups");

    prefs.setBackupFilePath(std::nullopt);
    out.clear();
    prefs.savePrefsModel(&out);
    EXPECT_EQ(out.size(), 3u);

    const Dictionary bad{{"Prefs_IsQLRResidingKey", Value("no")}, {"Prefs_BackupFilePathKey", Value(4)}};
    PrefsModel kept(&bad);
    EXPECT_TRUE(kept.isQLRResiding());
    EXPECT_EQ(kept.backupFilePath(), PrefsModel().backupFilePath());
}

// The application bundle's own presets and texts, as the build lays them
// into this test's bundle folder.
TEST(AppModel, ShippedPresetsLoadWithTheirTexts) {
    kdtest::TempHome home;
    kdf::Bundle::setMainBundlePath("");
    home.env().set("LANGUAGE", "en");
    const auto bundle = kdf::Bundle::main();
    auto languages = bundle->localizations();
    for (const char* language :
         {"ja", "en", "es", "fr", "de", "it", "nl", "ko", "zh-Hans", "zh-Hant", "pt", "ru", "tr"})
        EXPECT_TRUE(std::count(languages.begin(), languages.end(), language)) << language;
    for (const char* image : {"panel_pdf.png", "panel_tiff.png", "panel_jpeg.png", "panel_png.png"})
        EXPECT_FALSE(bundle->pathForResource(image, {}).empty()) << image;

    const Dictionary empty;
    AppModel app(&empty);
    EXPECT_GE(app.inputModel_List().size(), 2u);
    EXPECT_GE(app.outputModel_List().size(), 1u);
    EXPECT_GE(app.jobModel_List().size(), 1u);
    // No plug-ins are installed here: nothing that names one survives alone.
    for (const auto& output : app.outputModel_List()) EXPECT_FALSE(output->isValidPlugin());
    for (const auto& j : app.jobModel_List()) {
        const auto outs = j->jobOutputModel_List();
        EXPECT_TRUE(std::any_of(outs.begin(), outs.end(), [](const auto& o) { return !o->isValidPlugin(); }));
    }
    // Every title is a key with an English text.
    std::vector<std::shared_ptr<PanelModel>> panels;
    panels.insert(panels.end(), app.inputModel_List().begin(), app.inputModel_List().end());
    panels.insert(panels.end(), app.outputModel_List().begin(), app.outputModel_List().end());
    panels.insert(panels.end(), app.jobModel_List().begin(), app.jobModel_List().end());
    for (const auto& panel : panels) EXPECT_FALSE(panel->dispTitle().starts_with("Preset_")) << panel->dispTitle();
    for (const char* key : {"FileFormat_PDF", "FileFormat_TIFF", "FileFormat_JPEG", "FileFormat_PNG",
                            "DateTime_YYYYMMDD", "OCRLang_Tr", "NumberAdd_6digit", "FileSave_Desktop"})
        EXPECT_NE(bundle->localizedString(key), key);
}

} // namespace
