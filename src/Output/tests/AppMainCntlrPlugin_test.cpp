// The plug-in host with real plug-in bundles: two recording plug-ins built
// from the kit (one taking every format, one PNG only) among broken
// folders of every kind, in the plug-ins folder of a small application
// bundle that lives as long as the program (a loaded plug-in keeps the
// path it was loaded from).
#include "AppMainCntlrPlugin.h"
#include "OutputTestSupport.h"
#include "OutputWriter.h"

#include "AppBundleFixture.h"
#include "AppMainCntlrFakes.h"

#include <JobModel.h>
#include <OutputModel.h>
#include <QlrUtilsMethod.h>
#include <SettingPopUpButtons.h>
#include <TvButtons.h>

#include <foundation/UserDefaults.h>
#include <plugin/TvQLRPlugin.h>
#include <ui/ViewTag.h>

#include <QAction>
#include <QMenu>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::mutex gRecordLock;
std::vector<std::string> gRecords;
int gSendResult = 0;

std::vector<std::string> takeRecords() {
    std::lock_guard lock(gRecordLock);
    return std::exchange(gRecords, {});
}

// Only the calls named.
std::vector<std::string> only(const std::vector<std::string>& records,
                              std::initializer_list<std::string> calls) {
    std::vector<std::string> out;
    for (const std::string& r : records) {
        const std::size_t colon = r.find(':');
        const std::string call =
            r.substr(colon + 1, r.find('=') == std::string::npos ? std::string::npos
                                                                 : r.find('=') - colon - 1);
        if (std::find(calls.begin(), calls.end(), call) != calls.end()) out.push_back(r);
    }
    return out;
}

} // namespace

// Reported by the test plug-ins: "<key>:<call>" or "<key>:<call>=<detail>".
extern "C" __attribute__((visibility("default"))) int
kd_host_test_record(const char* plugin, const char* call, const char* detail) {
    std::lock_guard lock(gRecordLock);
    std::string entry = std::string(plugin) + ":" + call;
    if (detail && *detail) entry += std::string("=") + detail;
    gRecords.push_back(std::move(entry));
    return std::string(call) == "send" ? gSendResult : 0;
}

namespace {

using apptest::CallLog;
using apptest::RecordingWindow;
using kdf::Array;
using kdf::Dictionary;
using kdf::Value;
using qlr_output::PluginHost;

constexpr const char* kAlpha = "HostTestAlpha.plugin";
constexpr const char* kBeta = "HostTestBeta.plugin";

// The application bundle with its plug-ins folder: the two test plug-ins,
// and between them folders that fail at each step.
class PluginBundle {
public:
    static PluginBundle& instance() {
        if (!current) current = new PluginBundle;
        return *current;
    }
    // After the last test: the plug-ins stay loaded, their folders go.
    static void release() {
        delete current;
        current = nullptr;
    }
    modeltest::AppBundleFixture app{{"en"}};

private:
    PluginBundle() {
        const fs::path built = KD_HOST_TEST_PLUGINS;
        const fs::path plugins = app.dir() / "PlugIns";
        fs::create_directories(plugins);
        for (const char* name : {kAlpha, kBeta, "HostTestWrongKind.plugin"})
            fs::create_directory_symlink(built / name, plugins / name);
        const fs::path alphaObject = built / kAlpha / "HostTestAlpha.so";
        const auto info = [](Dictionary d) {
            d["CFBundleDevelopmentRegion"] = "en";
            return Value(std::move(d));
        };
        // No Info.plist at all, only the shared object.
        fs::create_directories(plugins / "HostTestB0NoInfo.plugin");
        fs::create_symlink(alphaObject, plugins / "HostTestB0NoInfo.plugin" / "HostTestAlpha.so");
        // No "CFBundleExecutable".
        writeInfo(plugins / "HostTestB1NoExecutable.plugin",
                  info({{"NSPrincipalClass", "TvHostTestAlpha"}}));
        // The shared object it names is missing.
        writeInfo(
            plugins / "HostTestB2NoObject.plugin",
            info({{"CFBundleExecutable", "Missing.so"}, {"NSPrincipalClass", "TvHostTestAlpha"}}));
        // The object has no class of that name.
        writeInfo(plugins / "HostTestB3NoClass.plugin",
                  info({{"CFBundleExecutable", "HostTestAlpha.so"},
                        {"NSPrincipalClass", "TvNoSuchClass"}}));
        fs::create_symlink(alphaObject, plugins / "HostTestB3NoClass.plugin" / "HostTestAlpha.so");
        // A file, not a folder; entries of other kinds.
        kdtest::TempHome::writeText(plugins / "HostTestB4Stray.plugin", "not a bundle");
        kdtest::TempHome::writeText(plugins / "readme.txt", "");
        fs::create_directories(plugins / "Other.bundle");

        // Texts and preset jobs of the new-favourite menu.
        app.writeStrings(
            "en", {{"Preset_ToBeta", "Send to Beta"}, {"Preset_ToFolder", "Save to folder"}});
        const auto job = [](const char* title, const char* pluginID) {
            Dictionary output{{OutputModel::kPluginIDKey, pluginID}};
            return Value(Dictionary{
                {WholeModel::kTitleKey, title},
                {JobModel::kJobOutputModel_DictListKey, Value(Array{Value(std::move(output))})}});
        };
        app.writePreset(AppModel::kPresetJobList,
                        Value(Array{job("Preset_ToFolder", ""), job("Preset_ToBeta", kBeta)}));
    }
    static inline PluginBundle* current = nullptr;

    static void writeInfo(const fs::path& folder, const Value& info) {
        fs::create_directories(folder);
        ASSERT_TRUE(kdf::writePropertyListFile((folder / "Info.plist").string(), info));
    }
};

class PluginBundleCleanup : public ::testing::Environment {
public:
    void TearDown() override { PluginBundle::release(); }
};
[[maybe_unused]] const auto* const gCleanup =
    ::testing::AddGlobalTestEnvironment(new PluginBundleCleanup);

Value flagEntry(const std::string& id, Value flag) {
    return Value(
        Dictionary{{id, Value(Dictionary{{AppModel::kPluginIsValidKey, std::move(flag)}})}});
}

// The windows' plug-in lists as the main window will hold them.
class TestViews : public qlr_output::PluginHostViews {
public:
    TestViews() {
        outputType = new OutputTypePopUpButton(&settingView);
        kdui::setTag(outputType, PluginHost::kOutputTypePopUpTag);
        fileFormat = new FileFormatPopUpButton(&settingView);
        kdui::setTag(fileFormat, PluginHost::kFileFormatPopUpTag);
        for (auto [button, tag] :
             {std::pair{&newOutput, PluginHost::kNewOutputMenuButtonTag},
              std::pair{&newFavorite, PluginHost::kNewFavoriteMenuButtonTag}}) {
            *button = new TvMenuButton(&main);
            kdui::setTag(*button, tag);
            (*button)->setBtnMenu(new QMenu);
        }
        for (const char* title : {"Alpha cloud", "Beta && printer", "Folder"})
            newOutput->btnMenu()->addAction(QString::fromUtf8(title));
        for (const char* title : {"Save to folder", "Send to Beta"})
            newFavorite->btnMenu()->addAction(QString::fromUtf8(title));
    }
    QWidget* outputTypeView() override { return &settingView; }
    QWidget* fileFormatView() override { return &settingView; }
    QWidget* mainView() override { return &main; }

    QAction* outputTypeItem(int tag) const {
        for (QAction* a : outputType->popUpMenu()->actions())
            if (kdui::tag(a) == tag) return a;
        return nullptr;
    }
    static std::vector<bool> enabled(const TvMenuButton* button) {
        std::vector<bool> v;
        for (const QAction* a : button->btnMenu()->actions()) v.push_back(a->isEnabled());
        return v;
    }

    QWidget settingView;
    QWidget main;
    OutputTypePopUpButton* outputType = nullptr;
    FileFormatPopUpButton* fileFormat = nullptr;
    TvMenuButton* newOutput = nullptr;
    TvMenuButton* newFavorite = nullptr;
};

class AppPluginHost : public ::testing::Test {
protected:
    CallLog log;
    std::shared_ptr<RecordingWindow> window = std::make_shared<RecordingWindow>(log);
    std::unique_ptr<AppMainCntlr> cntlr;
    std::shared_ptr<AppModel> model;
    std::shared_ptr<PluginHost> host;

    void SetUp() override {
        PluginBundle::instance();
        kdf::UserDefaults::standard().remove(kTvPluginsDefaultsKey);
        gSendResult = 0;
        cntlr = std::make_unique<AppMainCntlr>();
        cntlr->setMainWindowPort(window);
        const Dictionary empty;
        model = std::make_shared<AppModel>(&empty);
        model->setOutputModel_List({});
        model->setJobModel_List({});
        model->setInputModel_List({});
        cntlr->setAppModel(model);
        host = PluginHost::install(*cntlr);
        takeRecords();
    }
    void TearDown() override {
        cntlr->setTmpCopyJobModel_Scan(nullptr);
        PluginRegistryQueries::setCurrent(nullptr);
        host.reset();
        cntlr.reset();
        takeRecords();
    }
    // Loads with this stored registry (none: no registry in the model).
    void load(std::optional<Array> stored = Array{}) {
        model->setPluginInfoList(std::move(stored));
        host->setupPluginInfoList();
    }
};

TEST_F(AppPluginHost, LoadsInNameOrderSkippingBrokenFoldersAndConnectsEachOnce) {
    // A stored registry: Beta disabled, Alpha with a flag of the wrong
    // kind, a plug-in that is gone.
    load(Array{flagEntry(kBeta, Value(false)), flagEntry("Gone.plugin", Value(false)),
               flagEntry(kAlpha, Value("yes"))});
    EXPECT_EQ(host->pluginIDList(), (std::vector<std::string>{kAlpha, kBeta}));
    // Only the two plug-ins made objects; the wrong kind was made and let go.
    EXPECT_EQ(only(takeRecords(), {"init", "connect", "dealloc"}),
              (std::vector<std::string>{"HostTestAlpha:init", "HostTestAlpha:connect",
                                        "HostTestBeta:init", "HostTestBeta:connect"}));
    EXPECT_TRUE(host->isValidPluginID(kAlpha));
    EXPECT_FALSE(host->isValidPluginID(kBeta));
    ASSERT_TRUE(host->pluginObjectAtIndex(0));
    EXPECT_EQ(host->pluginObjectAtIndex(0)->getName(), "Host Alpha");
    EXPECT_EQ(host->pluginObjectByID(kBeta)->getName(), "Host Beta");
    EXPECT_EQ(PluginRegistryQueries::pluginObjectByID(kBeta), host->pluginObjectByID(kBeta));

    // Saved, the registry holds the flags only.
    Dictionary saved;
    model->saveAppModel(&saved);
    EXPECT_EQ(*saved.at(AppModel::kPluginInfoListKey).array(),
              (Array{flagEntry(kAlpha, Value(true)), flagEntry(kBeta, Value(false))}));
}

TEST_F(AppPluginHost, NoRegistryLoadsNothingButAFirstStartGetsOne) {
    load(std::nullopt);
    EXPECT_FALSE(model->pluginInfoList());
    EXPECT_TRUE(takeRecords().empty());

    // Start-up through the registry interface, each way in: a first start
    // has no stored flags, and every plug-in starts enabled.
    const std::vector<std::pair<const char*, std::function<void()>>> ways{
        {"loadPlugins", [] { PluginRegistryQueries::loadPlugins({}); }},
        {"loadPlugins(bundle)",
         [] { PluginRegistryQueries::loadPlugins(PluginBundle::instance().app.dir().string()); }},
        {"setupPluginInfoList(model)",
         [&] { PluginRegistryQueries::setupPluginInfoList(model.get()); }},
        {"setupPluginInfoList(none)", [] { PluginRegistryQueries::setupPluginInfoList(nullptr); }},
    };
    for (const auto& [name, start] : ways) {
        SCOPED_TRACE(name);
        model->setPluginInfoList(std::nullopt);
        start();
        EXPECT_EQ(PluginRegistryQueries::pluginIDList(), (std::vector<std::string>{kAlpha, kBeta}));
        EXPECT_TRUE(host->isValidPluginID(kBeta));
        PluginRegistryQueries::disconnectAllPlugins();
        EXPECT_EQ(
            only(takeRecords(), {"connect", "disconnect"}),
            (std::vector<std::string>{"HostTestAlpha:connect", "HostTestBeta:connect",
                                      "HostTestAlpha:disconnect", "HostTestBeta:disconnect"}));
    }
}

TEST_F(AppPluginHost, QueriesAnswerExactly) {
    load();
    // A malformed element at the end: counted, but without an ID.
    Array list = *model->pluginInfoList();
    list.push_back(Value(Dictionary{{"a", Value(1)}, {"b", Value(2)}}));
    model->setPluginInfoList(list);
    EXPECT_EQ(host->countOfPluginInfoList(), 3);
    EXPECT_EQ(PluginRegistryQueries::current()->countOfPluginInfoList(), 3);

    struct IndexCase {
        int index;
        std::optional<std::string> id;
    };
    for (const IndexCase& c :
         {IndexCase{-1, std::nullopt}, IndexCase{0, kAlpha}, IndexCase{1, kBeta},
          IndexCase{2, std::nullopt}, IndexCase{3, std::nullopt}}) {
        EXPECT_EQ(PluginRegistryQueries::current()->pluginIDAtIndex(c.index), c.id) << c.index;
        EXPECT_EQ(host->pluginObjectAtIndex(c.index) != nullptr, c.index == 0 || c.index == 1)
            << c.index;
    }
    EXPECT_EQ(host->indexOfPluginInfoListByPluginID("Unknown.plugin"), -1);
    EXPECT_EQ(PluginRegistryQueries::indexOfPluginInfoListByPluginID(kBeta), 1);
    EXPECT_FALSE(host->pluginSubInfoWithPluginID("Unknown.plugin"));

    struct ValueCase {
        std::string id;
        int type;
        std::optional<Value> value;
    };
    const std::vector<ValueCase> values{
        {kAlpha, 0, Value("Host Alpha")},    {kAlpha, 1, Value("Alpha cloud")},
        {kBeta, 1, Value("Beta & printer")}, {kAlpha, 3, Value("2.5")},
        {kAlpha, 4, std::nullopt},           {kAlpha, 7, Value(true)},
        {kAlpha, 10, Value(true)},           {kAlpha, 11, std::nullopt},
        {kAlpha, -1, std::nullopt},          {"Unknown.plugin", 0, std::nullopt},
        {"Unknown.plugin", 7, std::nullopt},
    };
    for (const ValueCase& c : values) {
        EXPECT_EQ(host->valueForPluginIDWithType(c.id, c.type), c.value) << c.id << " " << c.type;
        EXPECT_EQ(PluginRegistryQueries::valueForPluginIDWithType(c.id, c.type), c.value)
            << c.id << " " << c.type;
    }

    takeRecords();
    EXPECT_EQ(PluginRegistryQueries::supportedFileTypeValueList(kBeta), (std::vector<int>{3}));
    // Asked from the last type to the first.
    EXPECT_EQ(only(takeRecords(), {"isSupportedFileType"}),
              (std::vector<std::string>{"HostTestBeta:isSupportedFileType=png",
                                        "HostTestBeta:isSupportedFileType=jpg",
                                        "HostTestBeta:isSupportedFileType=tiff",
                                        "HostTestBeta:isSupportedFileType=pdf"}));
    EXPECT_EQ(host->supportedFileTypeValueList(kAlpha), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(host->supportedFileTypeValueList("Unknown.plugin"), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(host->supportedFileTypeList(kBeta), (std::vector<std::string>{"png"}));
    EXPECT_EQ(PluginRegistryQueries::fileTypeValues({"pdf", "tiff", "jpg", "png", "bmp", ""}),
              (std::vector<int>{0, 1, 2, 3, 0, 0}));
}

// Restarted with Beta disabled: its outputs save to a folder and keep
// their user ID; the windows' lists show it disabled until it is enabled.
TEST_F(AppPluginHost, DisabledBeforeRestartStaysDisabledAndItsOutputsSaveToAFolder) {
    // The first run: the user has outputs to both plug-ins and one to a
    // plug-in that is gone, and disables Beta before quitting.
    const auto output = [](const std::string& id, const std::string& guid) {
        return apptest::outputWithPlugin(id, guid);
    };
    model->setOutputModel_List({output(kBeta, "g-beta"), output(kAlpha, "g-alpha")});
    auto firstJob = std::make_shared<JobModel>();
    firstJob->setJobOutputModel_List(
        {output(kBeta, "g-job-beta"), output("Gone.plugin", "g-gone")});
    model->setJobModel_List({firstJob});
    load();
    host->switchIsValidInPluginInfoList(kBeta, false);
    Dictionary saved;
    model->saveAppModel(&saved);
    PluginRegistryQueries::setCurrent(nullptr);
    host.reset();

    // The restart: the model from the saved settings, a new host.
    model = std::make_shared<AppModel>(&saved);
    cntlr->setAppModel(model);
    host = PluginHost::install(*cntlr);
    auto views = std::make_shared<TestViews>();
    host->setViews(views);
    host->setupPluginInfoList();
    log.take();
    host->checkPluginAndSetup();
    EXPECT_FALSE(host->isValidPluginID(kBeta));

    ASSERT_EQ(model->outputModel_List().size(), 2u);
    ASSERT_EQ(model->jobModel_List().size(), 1u);
    const auto toBeta = model->outputModel_List()[0];
    const auto toAlpha = model->outputModel_List()[1];
    const auto jobOutputs = model->jobModel_List()[0]->jobOutputModel_List();
    ASSERT_EQ(jobOutputs.size(), 2u);
    struct Expect {
        std::shared_ptr<OutputModel> output;
        std::string id, guid;
    };
    for (const Expect& e :
         {Expect{toBeta, "", "g-beta"}, Expect{toAlpha, kAlpha, "g-alpha"},
          Expect{jobOutputs[0], "", "g-job-beta"}, Expect{jobOutputs[1], "", "g-gone"}}) {
        EXPECT_EQ(e.output->pluginID(), e.id) << e.guid;
        EXPECT_EQ(e.output->pluginGUID(), e.guid);
    }
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"images:0:1", "images:2:1", "images:1:1",
                                                       "reload:0", "reload:1", "reload:2"}));

    // The folder item, then the plug-ins by registry index.
    ASSERT_EQ(views->outputType->numberOfItems(), 3);
    EXPECT_TRUE(views->outputTypeItem(-1)->isEnabled());
    EXPECT_TRUE(views->outputTypeItem(0)->isEnabled());
    EXPECT_FALSE(views->outputTypeItem(1)->isEnabled());
    EXPECT_EQ(views->outputTypeItem(1)->text(), "Beta && printer");
    ASSERT_TRUE(views->fileFormat->menuForKey(kBeta));
    EXPECT_EQ(views->fileFormat->menuForKey(kBeta)->actions().size(), 1);
    EXPECT_EQ(views->fileFormat->menuForKey(kAlpha)->actions().size(), 4);
    EXPECT_EQ(TestViews::enabled(views->newOutput), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(TestViews::enabled(views->newFavorite), (std::vector<bool>{true, false}));

    // An unknown plug-in touches neither the folder item nor the registry.
    PluginRegistryQueries::switchIsValidInPluginInfoList("Gone.plugin", false);
    EXPECT_TRUE(views->outputTypeItem(-1)->isEnabled());
    EXPECT_EQ(host->pluginIDList().size(), 2u);

    PluginRegistryQueries::switchIsValidInPluginInfoList(kBeta, true);
    EXPECT_TRUE(host->isValidPluginID(kBeta));
    EXPECT_TRUE(views->outputTypeItem(1)->isEnabled());
    EXPECT_EQ(TestViews::enabled(views->newOutput), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(TestViews::enabled(views->newFavorite), (std::vector<bool>{true, true}));
    host->switchIsValidInPluginInfoList(kAlpha, false);
    PluginRegistryQueries::checkAllOutputModelByPlugin();
    EXPECT_EQ(toAlpha->pluginID(), "");
    EXPECT_EQ(toAlpha->pluginGUID(), "g-alpha");
}

// One job with three outputs (folder, Alpha, Beta), the Beta output also in
// the running scan's job copy.
TEST_F(AppPluginHost, EditingCopiesFormatResetsAndDisusedUserIDs) {
    load();
    auto toFolder = std::make_shared<OutputModel>();
    auto toAlpha = apptest::outputWithPlugin(kAlpha, "g-alpha");
    auto toBeta = apptest::outputWithPlugin(kBeta, "g-beta");
    auto job = std::make_shared<JobModel>();
    job->setJobOutputModel_List({toFolder, toAlpha, toBeta});
    model->setJobModel_List({job});
    auto running = std::make_shared<JobModel>();
    running->setJobOutputModel_List({apptest::outputWithPlugin(kBeta, "g-running")});
    cntlr->setTmpCopyJobModel_Scan(running);
    running = cntlr->tmpCopyJobModel_Scan();
    const std::vector<std::shared_ptr<OutputModel>> edited{toFolder, toAlpha, toBeta};

    PluginRegistryQueries::setupEditingPluginInfoList(edited);
    for (const auto& output : edited) {
        const auto copy = output->tmpEditingPluginInfoList();
        ASSERT_TRUE(copy);
        std::vector<std::string> keys;
        for (const Value& e : *copy) keys.push_back(e.dictionary()->begin()->first);
        EXPECT_EQ(keys, (std::vector<std::string>{"-1", kAlpha, kBeta}));
        // Plain values only: the copy can be copied and dropped safely.
        EXPECT_FALSE(Value(*copy).containsPointer());
    }
    struct DefCase {
        std::string id;
        int format;
    };
    for (const DefCase& c : {DefCase{"-1", 0}, DefCase{kAlpha, 0}, DefCase{kBeta, 3}}) {
        auto def = PluginRegistryQueries::pluginDefData(*toAlpha, c.id);
        auto mod = PluginRegistryQueries::pluginModData(*toAlpha, c.id);
        ASSERT_TRUE(def && mod) << c.id;
        EXPECT_EQ(def->fileFormatType(), c.format) << c.id;
        EXPECT_EQ(mod->fileFormatType(), c.format) << c.id;
        EXPECT_NE(def, mod);
        EXPECT_EQ(PluginRegistryQueries::pluginModData(*toAlpha, c.id), mod)
            << "the same model each time";
    }
    EXPECT_FALSE(host->pluginDefData(*toAlpha, "Unknown.plugin"));
    EXPECT_NE(host->pluginModData(*toAlpha, kBeta), host->pluginModData(*toBeta, kBeta));

    // Each output keeps its own format's options; the others go back to
    // their defaults (from the default model of its destination).
    const OutputModel defaults;
    for (const auto& [output, format] :
         {std::pair{toFolder, 3}, std::pair{toAlpha, 0}, std::pair{toBeta, 2}}) {
        output->setFileFormatType(format);
        output->setMultiPageNum_PDF(7);
        output->setIsPDFA(!defaults.isPDFA());
        output->setFileOp_OCRLangType(9);
        output->setMultiPageNum_TIFF(8);
        output->setCompRate_JPEG(5);
    }
    PluginRegistryQueries::clearExceptTargetFileFormatType(edited);
    struct FormatCase {
        std::shared_ptr<OutputModel> output;
        int pdfPages, ocr, tiffPages, jpeg;
        bool pdfA;
    };
    for (const FormatCase& c :
         {FormatCase{toFolder, defaults.multiPageNum_PDF(), defaults.fileOp_OCRLangType(),
                     defaults.multiPageNum_TIFF(), defaults.compRate_JPEG(), defaults.isPDFA()},
          FormatCase{toAlpha, 7, 9, defaults.multiPageNum_TIFF(), defaults.compRate_JPEG(),
                     !defaults.isPDFA()},
          FormatCase{toBeta, defaults.multiPageNum_PDF(), defaults.fileOp_OCRLangType(),
                     defaults.multiPageNum_TIFF(), 5, defaults.isPDFA()}}) {
        SCOPED_TRACE(c.output->fileFormatType());
        EXPECT_EQ(c.output->multiPageNum_PDF(), c.pdfPages);
        EXPECT_EQ(c.output->fileOp_OCRLangType(), c.ocr);
        EXPECT_EQ(c.output->isPDFA(), c.pdfA);
        EXPECT_EQ(c.output->multiPageNum_TIFF(), c.tiffPages);
        EXPECT_EQ(c.output->compRate_JPEG(), c.jpeg);
    }

    // The setting window picked destinations in the editing copies; a user
    // ID that no output keeps any more is deleted in its plug-in.
    struct DisusedCase {
        std::shared_ptr<OutputModel> edited;
        std::string entry, id, guid;
        bool deleted;
    };
    const std::vector<DisusedCase> disused{
        {toFolder, kAlpha, kAlpha, "orphan-alpha", true},
        {toFolder, kBeta, kBeta, "g-beta", false},   // the job's output keeps it
        {toAlpha, kBeta, kBeta, "g-running", false}, // the running scan's copy keeps it
        {toAlpha, kAlpha, kAlpha, "", false},        // no user ID
        {toBeta, "-1", "", "orphan-folder", false},  // no plug-in
        {toBeta, kBeta, kBeta, "orphan-beta", true},
    };
    for (const DisusedCase& c : disused) {
        auto mod = host->pluginModData(*c.edited, c.entry);
        ASSERT_TRUE(mod);
        mod->setPluginID(c.id);
        mod->setPluginGUID(c.guid);
    }
    takeRecords();
    PluginRegistryQueries::deleteDisusedPluginID(edited);
    EXPECT_EQ(only(takeRecords(), {"deleteID"}),
              (std::vector<std::string>{"HostTestAlpha:deleteID=orphan-alpha",
                                        "HostTestBeta:deleteID=orphan-beta"}));
    for (const auto& output : edited) {
        EXPECT_FALSE(output->tmpEditingPluginInfoList());
        EXPECT_FALSE(host->pluginModData(*output, kBeta));
    }
}

TEST_F(AppPluginHost, BackupDisconnectsThenConnectsAndRestoresOnlyADictionary) {
    EXPECT_FALSE(PluginRegistryQueries::current()->pluginsData()) << "no registry";
    load();
    std::string alphaUser;
    ASSERT_EQ(PluginRegistryQueries::createID(kAlpha, &alphaUser), 0);
    takeRecords();

    // The user exists only in the plug-in until the backup makes it write.
    const std::optional<kdf::Bytes> data = PluginRegistryQueries::current()->pluginsData();
    EXPECT_EQ(only(takeRecords(), {"connect", "disconnect"}),
              (std::vector<std::string>{"HostTestAlpha:disconnect", "HostTestBeta:disconnect",
                                        "HostTestAlpha:connect", "HostTestBeta:connect"}));
    const auto decoded = QlrUtilsMethod::decodeDataToDict(data);
    ASSERT_TRUE(decoded && decoded->dictionary());
    EXPECT_EQ(*decoded, *kdf::UserDefaults::standard().object(kTvPluginsDefaultsKey));
    const Value* alpha = kdf::find(*decoded->dictionary(), "HostTestAlpha");
    ASSERT_TRUE(alpha && alpha->dictionary());
    EXPECT_EQ(kdf::find(*alpha->dictionary(), "UserList")->array()->size(), 1u);

    // Backups without usable plug-in data leave the settings as they are,
    // but every plug-in is disconnected and connected again.
    const std::string list = "<plist version=\"1.0\"><array><string>x</string></array></plist>";
    for (const std::optional<kdf::Bytes>& bad :
         {std::optional<kdf::Bytes>(), std::optional<kdf::Bytes>(kdf::Bytes{0x00, 0xff, 0x10}),
          std::optional<kdf::Bytes>(kdf::Bytes(list.begin(), list.end()))}) {
        log.take();
        PluginRegistryQueries::current()->loadPluginsData(bad);
        EXPECT_EQ(only(takeRecords(), {"connect", "disconnect"}),
                  (std::vector<std::string>{"HostTestAlpha:disconnect", "HostTestBeta:disconnect",
                                            "HostTestAlpha:connect", "HostTestBeta:connect"}));
        EXPECT_EQ(*kdf::UserDefaults::standard().object(kTvPluginsDefaultsKey), *decoded);
        EXPECT_EQ(log.count("reload:2"), 1u) << "outputs checked afterwards";
    }

    // A backup from before the user was made: restored, the plug-in forgets
    // the user.
    std::string otherUser;
    ASSERT_EQ(PluginRegistryQueries::createID(kBeta, &otherUser), 0);
    Dictionary old;
    old["HostTestAlpha"] = Value(Dictionary{{"UserList", Value(Array{})}});
    PluginRegistryQueries::current()->loadPluginsData(QlrUtilsMethod::encodeDictToData(Value(old)));
    EXPECT_NE(PluginRegistryQueries::deleteID(kAlpha, alphaUser), 0);
    EXPECT_NE(PluginRegistryQueries::deleteID(kBeta, otherUser), 0)
        << "the restored settings have no entry for it";
}

// The registry may be copied; a copy that outlives the host must not lead
// to its objects.
TEST_F(AppPluginHost, RegistryCopiesNeverReachObjectsOfAnotherHost) {
    load();
    const Array copy = *model->pluginInfoList();
    ASSERT_TRUE(Value(copy).containsPointer());
    PluginRegistryQueries::setCurrent(nullptr);
    host.reset();
    ASSERT_TRUE(model->pluginInfoList());
    EXPECT_FALSE(Value(*model->pluginInfoList()).containsPointer());
    EXPECT_EQ(model->pluginInfoList()->size(), 2u);

    // A new host given the old copy finds no object behind its values.
    host = PluginHost::install(*cntlr);
    model->setPluginInfoList(copy);
    EXPECT_EQ(host->pluginIDList().size(), 2u);
    EXPECT_FALSE(host->pluginObjectByID(kAlpha));
    EXPECT_FALSE(PluginRegistryQueries::hasPluginObject(kAlpha));
    EXPECT_FALSE(host->valueForPluginIDWithType(kAlpha, 0));
    EXPECT_EQ(PluginRegistryQueries::executeOperationWithID(kAlpha, "g", {"/tmp/x"}, true, nullptr),
              -1);
}

// The output step hands the recording plug-in its final files.
TEST_F(AppPluginHost, WriterHandsTheFinalFilesToThePlugin) {
    load();
    QWidget mainWindow;
    window->window = &mainWindow;
    struct Case {
        int result;
        int state;
    };
    for (const Case& c : {Case{0, kAppStateComplete}, Case{7, kAppStateHandOnError}}) {
        SCOPED_TRACE(c.result);
        const fs::path dir = outtest::scratch("handoff" + std::to_string(c.result));
        auto writer = std::make_shared<qlr_output::OutputWriter>(*cntlr);
        std::vector<std::string> errors;
        writer->setErrorPresenter([&](const kdf::Exception& e) { errors.push_back(e.name()); });
        auto output = std::make_shared<OutputModel>();
        output->setFileFormatType(OutputModel::kFormatPNG);
        output->setFreeFileName("Sent");
        output->setIsUseFNSetting(true);
        output->setIsAddDateTime(false);
        output->setIsAddNumber(true);
        output->setPluginID(kAlpha);
        std::string user;
        ASSERT_EQ(PluginRegistryQueries::createID(kAlpha, &user), 0);
        output->setPluginGUID(user);
        auto job = std::make_shared<JobModel>();
        job->setJobOutputModel_List({output});
        cntlr->setTmpCopyJobModel_Scan(job);
        writer->initWriteFilePathArray(false);
        for (const char* name : {"a.png", "b.png"}) {
            kdtest::TempHome::writeText(dir / name, "page");
            writer->addWriteFilePath((dir / name).string());
        }
        takeRecords();
        gSendResult = c.result;
        const auto sent =
            AppMainCntlr::curOutputModelOfJobModel(cntlr->tmpCopyJobModel_Scan().get());
        ASSERT_TRUE(sent);
        EXPECT_NE(sent->pluginGUID(), user) << "the scan works on its own copy of the user";
        cntlr->storeAppState(kAppStateHandOn);
        writer->maybeSendFileToPlugin();
        apptest::runOneTurn();

        const auto finals = sent->writeFilePathArray();
        ASSERT_EQ(finals.size(), 2u);
        char parent[32];
        std::snprintf(parent, sizeof parent, "%p", static_cast<void*>(&mainWindow));
        EXPECT_EQ(only(takeRecords(), {"send"}),
                  (std::vector<std::string>{"HostTestAlpha:send=" + finals[0] + "\n" + finals[1] +
                                            "\ndelete parent=" + parent}));
        EXPECT_EQ(cntlr->appState(), c.state);
        EXPECT_EQ(errors, c.result ? std::vector<std::string>{"Err_NotPossibleContinue"}
                                   : std::vector<std::string>{});
        EXPECT_FALSE(cntlr->isShowedPluginWin());
        cntlr->setTmpCopyJobModel_Scan(nullptr);
        cntlr->storeAppState(kAppStateMainTop);
    }
}

} // namespace

APPTEST_MAIN()
