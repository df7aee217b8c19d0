// The panel setting window against the real application controller and the
// real setting window's forms: controls acting on the stored panel at once,
// typed text, the checks and their alerts, the save folder chooser, the
// destination change with the plug-ins' settings kept per destination, the
// option order, closing, the data source window's notifications, the job's
// tabs and new panels.
#include "AppMainCntlrFakes.h"

#include "MainWindowController.h"
#include "PanelSettingCntlr.h"
#include "TV_Func.h"
#include "TV_FuncUI.h"
#include "SettingPopUpButtons.h"
#include "TvButtons.h"
#include "TvPopoverWindow.h"

#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QTableWidget>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace apptest;
using namespace qlr_main;
namespace fs = std::filesystem;

// The plug-in registry with what the setting window asks: values by type,
// editing copies per destination ("-1" the folder) and the plug-in list.
class SettingRegistry : public RegistryDouble {
public:
    // Boolean answers by plug-in and type (5 to 10); missing is none.
    std::map<std::pair<std::string, int>, bool> answers;
    mutable std::map<const OutputModel*, std::map<std::string, std::shared_ptr<OutputModel>>> editing;

protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        auto it = answers.find({std::string(id), type});
        if (it == answers.end()) return RegistryDouble::pluginValue(id, type);
        std::optional<kdf::Value> answer;
        answer.emplace(it->second);
        return answer;
    }
    std::vector<std::string> pluginIDs() const override {
        std::vector<std::string> ids;
        for (const auto& [id, p] : plugins) ids.push_back(id);
        return ids;
    }
    void pluginsSetupEditing(const std::vector<std::shared_ptr<OutputModel>>& outputs) const override {
        for (const auto& output : outputs) {
            auto& byID = editing[output.get()];
            byID["-1"] = std::make_shared<OutputModel>();
            for (const auto& [id, p] : plugins) byID[id] = std::make_shared<OutputModel>();
        }
    }
    std::shared_ptr<OutputModel> pluginEditingModel(const OutputModel& output, std::string_view id,
                                                    bool /*modified*/) const override {
        auto it = editing.find(&output);
        if (it == editing.end()) return nullptr;
        auto slot = it->second.find(std::string(id));
        return slot == it->second.end() ? nullptr : slot->second;
    }
};

// The real setting window with scripted modal steps, recording the calls
// into other components.
class TestHost : public PanelSettingHost {
public:
    explicit TestHost(AppMainCntlr& cntlr) : windows(cntlr, nullptr) {}
    MainWindowController windows;
    std::vector<std::string> calls;
    std::optional<std::string> folderAnswer;
    std::optional<std::string> iconAnswer;
    bool syncDriver = true;
    bool openAnswer = true;
    std::function<void()> duringOpenDS;
    int openCount = 0;

    TvPopoverWindow* settingWindow() override { return windows.settingWindow(); }
    QWidget* settingSection(const char* name) override { return windows.settingSection(name); }
    void changeSelectScanImage(QWidget* s) override { calls.push_back("selectScanImage:" + tagOf(s)); }
    void changeMainTopDisplay(QWidget*) override { calls.push_back("mainTopDisplay"); }
    void changeBriCont(QWidget* s) override { calls.push_back("briCont:" + tagOf(s)); }
    void changeStraighten(QWidget* s) override { calls.push_back("straighten:" + tagOf(s)); }
    void changeTrimming(QWidget* s) override { calls.push_back("trimming:" + tagOf(s)); }
    void showTools(int type, int index) override {
        calls.push_back("tools:" + std::to_string(type) + ":" + std::to_string(index));
    }
    void showScanInfo() override { calls.push_back("scanInfo"); }
    void scrollToLastItem(int type) override { calls.push_back("scroll:" + std::to_string(type)); }
    std::optional<std::string> chooseFolder(const std::string& start) override {
        calls.push_back("chooseFolder");
        startFolder = start;
        closableWhileModal = settingWindow()->isValidClose();
        return folderAnswer;
    }
    std::optional<std::string> chooseIcon(const std::string&) override { return iconAnswer; }
    void runModalFileNameSetting(const std::shared_ptr<OutputModel>&) override { calls.push_back("fileNameDialog"); }
    void runModalFileOptionSetting(const std::shared_ptr<OutputModel>&) override { calls.push_back("optionDialog"); }
    bool openDS(const std::shared_ptr<InputModel>&) override {
        ++openCount;
        closableWhileModal = settingWindow()->isValidClose();
        if (duringOpenDS) duringOpenDS();
        return openAnswer;
    }
    bool isValidSyncDriver() override { return syncDriver; }
    int showPluginSetting(const std::string&, const std::string&, QWidget*) override { return pluginSettingCode; }
    std::optional<std::string> pluginSettingSummary(const std::string&, const std::string&) override {
        return std::string("summary");
    }
    std::string startFolder;
    bool closableWhileModal = true;
    int pluginSettingCode = 0;

    static std::string tagOf(QWidget* w) { return std::to_string(kdui::tag(w)); }
};

std::shared_ptr<JobModel> jobWith(int outputs) {
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    std::vector<std::shared_ptr<OutputModel>> list;
    for (int i = 0; i < outputs; ++i) list.push_back(std::make_shared<OutputModel>());
    job->setJobOutputModel_List(list);
    return job;
}

// One test clock for the whole program: the animation throttle keeps its
// last time across tests.
kdf::TestClock& clock() {
    static kdf::TestClock c;
    return c;
}

class PanelSettingTest : public ControllerTest {
protected:
    std::shared_ptr<SettingRegistry> plugins = std::make_shared<SettingRegistry>();
    std::unique_ptr<TestHost> host;
    std::unique_ptr<PanelSettingCntlr> setting;
    std::shared_ptr<AppModel> model;
    fs::path root;

    void SetUp() override {
        ControllerTest::SetUp();
        PluginRegistryQueries::setCurrent(plugins);
        clock();
        host = std::make_unique<TestHost>(*cntlr);
        setting = std::make_unique<PanelSettingCntlr>(*cntlr, *host);
        setting->connectControls();
        model = std::make_shared<AppModel>();
        model->setInputModel_List({std::make_shared<InputModel>(), std::make_shared<InputModel>()});
        model->setOutputModel_List({std::make_shared<OutputModel>(), std::make_shared<OutputModel>()});
        model->setJobModel_List({jobWith(1), jobWith(3)});
        for (const auto& out : model->outputModel_List()) out->setFreeFileName("scan");
        cntlr->setAppModel(model);
        AppMainCntlr::setCurrent(cntlr.get());
        root = fs::path(std::getenv("HOME"));
        fs::create_directories(root / "Pictures");
    }
    void TearDown() override {
        // A window left open (a refused setting, the data source's window)
        // is put away without the checks.
        if (host->settingWindow()->isVisible()) {
            TvWindow::endModalWindow(host->settingWindow(), true);
            runUntil([&] { return !cntlr->tmpPanelModel_Setting(); }, 5);
        }
        setting.reset();
        host.reset();
        AppMainCntlr::setCurrent(nullptr);
        ControllerTest::TearDown();
    }
    // Lets the 0.7 s animation throttle pass, then opens.
    void open(int type, int index) {
        clock().advance(kdf::Seconds(1));
        setting->openSettingWindow(std::make_pair(type, index));
        ASSERT_TRUE(host->settingWindow()->isVisible());
    }
    void closeWindow() {
        host->settingWindow()->resignKeyWindow();
        EXPECT_TRUE(
            runUntil([&] { return !host->settingWindow()->isVisible() && !cntlr->tmpPanelModel_Setting(); }, 5))
            << "the window closes";
    }
    QWidget* control(int tag) {
        for (const char* name : {kSettingTabView, kSettingInputView, kSettingOutputView, kSettingOptionView,
                                 kSettingWholeView, kSettingFooterView})
            if (QWidget* w = kdui::viewWithTag(host->settingSection(name), tag)) return w;
        return nullptr;
    }
    void choose(int tag, int itemTag) {
        auto* popUp = qobject_cast<TvPopUpButton*>(control(tag));
        ASSERT_TRUE(popUp) << tag;
        ASSERT_TRUE(popUp->selectItemWithTag(itemTag)) << tag << " item " << itemTag;
        setting->actionFromSettingWindow(popUp);
    }
    void click(int tag, std::optional<bool> checked = std::nullopt) {
        auto* button = qobject_cast<QAbstractButton*>(control(tag));
        ASSERT_TRUE(button) << tag;
        if (checked) button->setChecked(*checked);
        setting->actionFromSettingWindow(button);
    }
    QLineEdit* field(int tag) { return qobject_cast<QLineEdit*>(control(tag)); }
    void selectTab(int jobTab) {
        auto* tabs = qobject_cast<TvSegmentedControl*>(control(kTagJobTab));
        ASSERT_TRUE(tabs);
        const auto& tags = setting->tabTags();
        auto it = std::find(tags.begin(), tags.end(), jobTab);
        ASSERT_NE(it, tags.end());
        tabs->setSelectedSegment(int(it - tags.begin()));
        setting->actionFromSettingWindow(tabs);
    }
    std::vector<std::string> alertTexts() const { return alerts->messages(); }
    void addPlugin(const std::string& id) {
        plugins->plugins[id] = {id + " title", 0, 0};
        plugins->answers[{id, 7}] = true;
    }
};

// ---- Controls act on the stored panel at once

TEST_F(PanelSettingTest, EachControlChangesTheStoredPanelAtOnce) {
    struct Case {
        int type;
        int tab;
        int tag;
        int value; // item tag, or 0/1 for a check box
        std::function<int(PanelModel&)> read;
    };
    auto input = [](PanelModel& p) -> InputModel& {
        if (auto* job = dynamic_cast<JobModel*>(&p)) return *job->jobInputModel_List().front();
        return dynamic_cast<InputModel&>(p);
    };
    auto output = [](PanelModel& p) -> OutputModel& {
        if (auto* job = dynamic_cast<JobModel*>(&p)) return *job->jobOutputModel_List().front();
        return dynamic_cast<OutputModel&>(p);
    };
    const std::vector<Case> cases = {
        {kInputPanelType, -1, kTagColorType, 3, [&](PanelModel& p) { return input(p).scnStColorType(); }},
        {kInputPanelType, -1, kTagPaperSize, 6, [&](PanelModel& p) { return input(p).scnStPaperSizeType(); }},
        {kInputPanelType, -1, kTagReaderSide, 1, [&](PanelModel& p) { return input(p).scnStReaderSideType(); }},
        {kInputPanelType, -1, kTagRecCharDir, 1, [&](PanelModel& p) { return int(input(p).isRecCharDir()); }},
        {kInputPanelType, -1, kTagUseDriverSetting, 1,
         [&](PanelModel& p) { return int(input(p).isUseDriverSetting()); }},
        {kOutputPanelType, -1, kTagFileFormat, 1, [&](PanelModel& p) { return output(p).fileFormatType(); }},
        {kOutputPanelType, -1, kTagUseFileNameRule, 0, [&](PanelModel& p) { return int(output(p).isUseFNSetting()); }},
        {kOutputPanelType, -1, kTagSaveLocation, 0, [&](PanelModel& p) { return output(p).saveType(); }},
        {kJobPanelType, kTabInput, kTagColorType, 5, [&](PanelModel& p) { return input(p).scnStColorType(); }},
        {kJobPanelType, kTabFirstOutput, kTagFileFormat, 3, [&](PanelModel& p) { return output(p).fileFormatType(); }},
        {kJobPanelType, kTabOptions, kTagStopForEditing, 0,
         [](PanelModel& p) { return int(dynamic_cast<JobModel&>(p).isImageProcess()); }},
        {kJobPanelType, kTabOptions, kTagContinueScan, 0,
         [](PanelModel& p) { return int(dynamic_cast<JobModel&>(p).isContinueScan()); }},
        {kJobPanelType, kTabWhole, kTagOwnIcon, 1,
         [](PanelModel& p) { return int(p.wholeModel()->useAlternateIcon()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " tag " + std::to_string(c.tag));
        open(c.type, 0);
        auto panel = cntlr->panelListOfType(c.type)->front();
        EXPECT_EQ(cntlr->tmpPanelModel_Setting(), panel) << "the stored panel itself";
        if (c.tab >= 0 && c.tab != kTabInput) selectTab(c.tab);
        if (qobject_cast<TvPopUpButton*>(control(c.tag)))
            choose(c.tag, c.value);
        else
            click(c.tag, c.value != 0);
        EXPECT_EQ(c.read(*panel), c.value);
        closeWindow();
    }
    EXPECT_TRUE(alertTexts().empty());
}

TEST_F(PanelSettingTest, InputControlsFollowTheDataSourceSettingsCheckBox) {
    open(kInputPanelType, 0);
    EXPECT_TRUE(control(kTagColorType)->isEnabled());
    EXPECT_FALSE(control(kTagOpenDriverUI)->isEnabled());
    click(kTagUseDriverSetting, true);
    EXPECT_FALSE(control(kTagColorType)->isEnabled());
    EXPECT_FALSE(control(kTagRecCharDir)->isEnabled());
    EXPECT_TRUE(control(kTagOpenDriverUI)->isEnabled());
}

TEST_F(PanelSettingTest, PluginAnswersChooseTheOutputControls) {
    addPlugin("A");
    plugins->answers[{"A", 5}] = true;
    plugins->answers[{"A", 8}] = true;
    // 9 missing counts as no; 10 yes.
    plugins->answers[{"A", 10}] = true;
    auto out = model->outputModel_List()[0];
    out->setPluginID("A");
    out->setPluginGUID("g1");
    open(kOutputPanelType, 0);
    EXPECT_FALSE(control(kTagPluginSetting)->isHidden());
    EXPECT_FALSE(control(kTagPluginSummary)->isHidden());
    EXPECT_TRUE(control(kTagFileName)->isHidden());
    EXPECT_FALSE(control(kTagFileFormat)->isHidden());
    EXPECT_TRUE(control(kTagSaveLocation)->isHidden()) << "no save location for a plug-in output";
    closeWindow();

    open(kOutputPanelType, 1);
    EXPECT_TRUE(control(kTagPluginSetting)->isHidden());
    EXPECT_FALSE(control(kTagSaveLocation)->isHidden());
    EXPECT_FALSE(control(kTagFileOptions)->isHidden());
    choose(kTagFileFormat, OutputModel::kFormatPNG);
    EXPECT_TRUE(control(kTagFileOptions)->isHidden()) << "PNG has no options";
}

// ---- Typed text

TEST_F(PanelSettingTest, TypedFileNameActsOneSecondAfterTheLastKeyAndReturnTrims) {
    open(kOutputPanelType, 0);
    auto out = model->outputModel_List()[0];
    QLineEdit* name = field(kTagFileName);
    ASSERT_TRUE(name);
    name->setText("scan");
    setting->controlTextDidChange(name);
    clock().advance(kdf::Seconds(0.6));
    runOneTurn();
    name->setText("scans");
    setting->controlTextDidChange(name);
    clock().advance(kdf::Seconds(0.6));
    runOneTurn();
    EXPECT_EQ(out->freeFileName(), "scan") << "the earlier key's action was replaced";
    clock().advance(kdf::Seconds(0.5));
    runOneTurn();
    EXPECT_EQ(out->freeFileName(), "scans");

    name->setText("  report  ");
    setting->controlTextDidEndEditing(name);
    EXPECT_EQ(out->freeFileName(), "report");
    EXPECT_EQ(name->text(), "report");
}

TEST_F(PanelSettingTest, ClosingWithinTheSecondLeavesTheNextPanelUntouched) {
    open(kOutputPanelType, 0);
    QLineEdit* name = field(kTagFileName);
    name->setText("first");
    setting->controlTextDidChange(name);
    QLineEdit* title = field(kTagPanelTitle);
    title->setText("title one");
    setting->controlTextDidChange(title);
    closeWindow();
    // Typing that had not acted yet belongs to the closed panel.
    EXPECT_EQ(model->outputModel_List()[0]->freeFileName(), "first");
    EXPECT_EQ(model->outputModel_List()[0]->wholeModel()->title(), "title one");

    const std::string otherTitle = model->outputModel_List()[1]->wholeModel()->title();
    open(kOutputPanelType, 1);
    clock().advance(kdf::Seconds(2));
    runOneTurn();
    runOneTurn();
    EXPECT_EQ(model->outputModel_List()[1]->freeFileName(), "scan");
    EXPECT_EQ(model->outputModel_List()[1]->wholeModel()->title(), otherTitle);
}

TEST_F(PanelSettingTest, OtherTypedFieldsGoToTheirComponentsAfterTheDelay) {
    std::size_t n = 0;
    for (int tag : {int(kTagPageNumberField), 4122, 4214, 4227}) {
        QLineEdit edit;
        kdui::setTag(&edit, tag);
        setting->controlTextDidChange(&edit);
        clock().advance(kdf::Seconds(0.5));
        runOneTurn();
        setting->controlTextDidChange(&edit);
        clock().advance(kdf::Seconds(0.6));
        runOneTurn();
        EXPECT_EQ(host->calls.size(), n) << "one action, a second after the last key";
        clock().advance(kdf::Seconds(0.5));
        runOneTurn();
        EXPECT_EQ(host->calls.size(), ++n);
    }
    EXPECT_EQ(host->calls, (std::vector<std::string>{"selectScanImage:4004", "briCont:4122", "straighten:4214",
                                                     "trimming:4227"}));
}

// ---- Checks

TEST_F(PanelSettingTest, TabSwitchWithAnInvalidSaveFolderKeepsTheOldTab) {
    auto job = model->jobModel_List()[1];
    job->jobOutputModel_List()[0]->setSaveType(3);
    job->jobOutputModel_List()[0]->setFileSavePath((root / "gone").string());
    open(kJobPanelType, 1);
    selectTab(kTabFirstOutput);
    ASSERT_EQ(job->jobTabType(), kTabFirstOutput);
    selectTab(kTabOptions);
    EXPECT_EQ(job->jobTabType(), kTabFirstOutput);
    auto* tabs = qobject_cast<TvSegmentedControl*>(control(kTagJobTab));
    EXPECT_EQ(setting->tabTags()[std::size_t(tabs->selectedSegment())], kTabFirstOutput);
    EXPECT_EQ(alertTexts().size(), 1u);
    EXPECT_NE(alertTexts().front().find("cannot be found"), std::string::npos) << alertTexts().front();
}

TEST_F(PanelSettingTest, JpegFromBlackAndWhiteIsRefusedAndTheControlPutBack) {
    struct Case {
        const char* name;
        std::function<void(InputModel&)> input;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"automatic colour", [](InputModel& in) { in.setScnStColorType(5); }, true},
        {"colour", [](InputModel& in) { in.setScnStColorType(1); }, false},
        {"driver detection mode 2",
         [](InputModel& in) {
             in.setIsUseDriverSetting(true);
             in.setIcap_PIXELTYPE(2);
             in.setCcap_TVK_DETECTPAGETYPE(1);
             in.setCcap_TVK_DETECTPAGETYPE_MODE(2);
         },
         true},
        {"driver detection mode 1",
         [](InputModel& in) {
             in.setIsUseDriverSetting(true);
             in.setIcap_PIXELTYPE(2);
             in.setCcap_TVK_DETECTPAGETYPE(1);
             in.setCcap_TVK_DETECTPAGETYPE_MODE(1);
         },
         false},
        {"driver pixel type 0",
         [](InputModel& in) {
             in.setIsUseDriverSetting(true);
             in.setIcap_PIXELTYPE(0);
         },
         true},
    };
    auto job = model->jobModel_List()[0];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        alerts->shown.clear();
        auto input = std::make_shared<InputModel>();
        c.input(*input);
        job->setJobInputModel_List({input});
        job->jobOutputModel_List()[0]->setFileFormatType(OutputModel::kFormatPDF);
        open(kJobPanelType, 0);
        selectTab(kTabFirstOutput);
        choose(kTagFileFormat, OutputModel::kFormatJPEG);
        EXPECT_EQ(job->jobOutputModel_List()[0]->fileFormatType(),
                  c.refused ? OutputModel::kFormatPDF : OutputModel::kFormatJPEG);
        EXPECT_EQ(alertTexts().size(), c.refused ? 1u : 0u);
        runOneTurn();
        if (c.refused) {
            EXPECT_EQ(qobject_cast<TvPopUpButton*>(control(kTagFileFormat))->selectedTag(), OutputModel::kFormatPDF);
        }
        job->jobOutputModel_List()[0]->setFileFormatType(OutputModel::kFormatPDF);
        closeWindow();
    }
}

TEST_F(PanelSettingTest, ColourPopUpChecksItsNewValueAgainstAJpegOutput) {
    auto job = model->jobModel_List()[0];
    job->jobOutputModel_List()[0]->setFileFormatType(OutputModel::kFormatJPEG);
    open(kJobPanelType, 0);
    const int before = job->jobInputModel_List()[0]->scnStColorType();
    choose(kTagColorType, 5);
    EXPECT_EQ(job->jobInputModel_List()[0]->scnStColorType(), before);
    ASSERT_EQ(alertTexts().size(), 1u);
    runOneTurn();
    EXPECT_EQ(qobject_cast<TvPopUpButton*>(control(kTagColorType))->selectedTag(), before);
}

TEST_F(PanelSettingTest, FinishButtonRefusesJpegAfterAOneBitPage) {
    auto job = jobWith(1);
    job->jobOutputModel_List()[0]->setFileFormatType(OutputModel::kFormatJPEG);
    cntlr->initImgInfoArray();
    auto page = std::make_shared<ImageInfoModel>();
    page->setImgInfo_bpp(1);
    cntlr->addImgInfo(page);
    QWidget finish;
    kdui::setTag(&finish, kTagFinishScan);
    EXPECT_FALSE(setting->checkSettingValue(&finish, job));
    EXPECT_EQ(alertTexts().size(), 1u);
    QWidget other;
    EXPECT_TRUE(setting->checkSettingValue(&other, job)) << "only the finish button looks at the pages";
    cntlr->releaseImgInfoArray(true);
}

TEST_F(PanelSettingTest, ChecksStopAtTheFirstFailureWithOneAlert) {
    addPlugin("A");
    plugins->answers[{"A", 7}] = false;
    auto job = jobWith(2);
    job->jobOutputModel_List()[0]->setPluginID("A");
    job->jobOutputModel_List()[1]->setSaveType(1); // Documents is missing in the test home
    EXPECT_FALSE(setting->checkSettingValue(nullptr, job));
    ASSERT_EQ(alertTexts().size(), 1u);
    EXPECT_EQ(alertTexts()[0], "The operation could not be carried out.");
    plugins->answers[{"A", 7}] = true;
    alerts->shown.clear();
    EXPECT_FALSE(setting->checkSettingValue(nullptr, job));
    EXPECT_EQ(alertTexts().size(), 1u) << "the save folder";
}

TEST_F(PanelSettingTest, FileNameIsTrimmedAndStoredBeforeTheRuleCheck) {
    auto out = std::make_shared<OutputModel>();
    out->setFreeFileName("  name  ");
    EXPECT_TRUE(setting->checkSettingValue(nullptr, out));
    EXPECT_EQ(out->freeFileName(), "name");
    out->setIsUseFNSetting(false);
    out->setFreeFileName(".hidden");
    EXPECT_FALSE(setting->checkSettingValue(nullptr, out));
    EXPECT_EQ(alertTexts().size(), 1u);
}

// ---- The save folder chooser

TEST_F(PanelSettingTest, ChosenFolderLengthAccessAndCancel) {
    // A folder path of exactly n characters under the home.
    auto folderOfLength = [&](std::size_t n, const char* tagName) {
        fs::path p = root / tagName;
        while (p.string().size() + 101 < n) p /= std::string(100, 'a');
        p /= std::string(n - p.string().size() - 1, 'b');
        fs::create_directories(p);
        EXPECT_EQ(p.string().size(), n);
        return p.string();
    };
    auto out = model->outputModel_List()[0];
    open(kOutputPanelType, 0);

    host->folderAnswer = folderOfLength(260, "x");
    choose(kTagSaveLocation, 4);
    EXPECT_FALSE(host->closableWhileModal);
    EXPECT_EQ(host->startFolder, TV_Func::defaultPictureFolder());
    runOneTurn();
    EXPECT_EQ(out->saveType(), 3);
    EXPECT_EQ(out->fileSavePath(), host->folderAnswer);
    EXPECT_TRUE(alertTexts().empty());
    const auto accepted = out->fileSavePath();

    host->folderAnswer = folderOfLength(261, "y");
    choose(kTagSaveLocation, 4);
    runOneTurn();
    ASSERT_EQ(alertTexts().size(), 1u);
    EXPECT_EQ(alertTexts()[0], "The path of the file is too long.");
    EXPECT_EQ(out->fileSavePath(), accepted);
    EXPECT_EQ(host->startFolder, *accepted) << "starts in the current folder";

    alerts->shown.clear();
    host->folderAnswer = (root / "vanished").string();
    choose(kTagSaveLocation, 4);
    runOneTurn();
    ASSERT_EQ(alertTexts().size(), 1u);
    EXPECT_NE(alertTexts()[0].find("permission"), std::string::npos);

    if (::geteuid() != 0) {
        alerts->shown.clear();
        const std::string readOnly = folderOfLength(40, "r");
        fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
        host->folderAnswer = readOnly;
        choose(kTagSaveLocation, 4);
        runOneTurn();
        EXPECT_EQ(alertTexts().size(), 1u);
        fs::permissions(readOnly, fs::perms::owner_all, fs::perm_options::replace);
    }
    EXPECT_EQ(out->fileSavePath(), accepted);
    EXPECT_EQ(out->saveType(), 3);
    EXPECT_TRUE(host->settingWindow()->isValidClose());
}

TEST_F(PanelSettingTest, CancelledChooserPutsTypeAndPathBack) {
    auto out = model->outputModel_List()[0];
    out->setSaveType(0);
    open(kOutputPanelType, 0);
    host->folderAnswer.reset();
    choose(kTagSaveLocation, 4);
    runOneTurn();
    EXPECT_EQ(out->saveType(), 0);
    EXPECT_FALSE(out->fileSavePath());
    EXPECT_EQ(qobject_cast<TvPopUpButton*>(control(kTagSaveLocation))->selectedTag(), 0);
    EXPECT_TRUE(alertTexts().empty());
}

// ---- Destination change

TEST_F(PanelSettingTest, DestinationChangeKeepsEachDestinationsSettings) {
    addPlugin("A");
    auto out = model->outputModel_List()[0];
    out->setFreeFileName("folder-name");
    open(kOutputPanelType, 0);
    const int indexA = PluginRegistryQueries::indexOfPluginInfoListByPluginID("A");
    choose(kTagOutputType, indexA);
    EXPECT_EQ(out->pluginID(), "A");
    EXPECT_EQ(out->pluginGUID(), "new1") << "no identity to copy: one is created";
    out->setFreeFileName("plugin-name");
    choose(kTagOutputType, -1);
    EXPECT_EQ(out->pluginID(), "");
    EXPECT_EQ(out->freeFileName(), "folder-name");
    choose(kTagOutputType, indexA);
    EXPECT_EQ(out->pluginID(), "A");
    EXPECT_EQ(out->freeFileName(), "plugin-name");
    EXPECT_TRUE(alertTexts().empty());
}

TEST_F(PanelSettingTest, DestinationIdentityCopiedElseCreatedElseAlertWithTheCode) {
    for (const char* id : {"A", "B", "C", "D"}) addPlugin(id);
    auto out = model->outputModel_List()[0];
    out->setPluginID("A");
    out->setPluginGUID("gA");
    open(kOutputPanelType, 0);
    auto indexOf = [](const char* id) { return PluginRegistryQueries::indexOfPluginInfoListByPluginID(id); };
    choose(kTagOutputType, indexOf("B"));
    EXPECT_EQ(out->pluginID(), "B");
    EXPECT_EQ(out->pluginGUID(), "gA-copy1");

    plugins->plugins["C"].copyResult = 3;
    choose(kTagOutputType, indexOf("C"));
    EXPECT_EQ(out->pluginID(), "C");
    EXPECT_EQ(out->pluginGUID(), "new2");
    EXPECT_TRUE((plugins->calls.count("delete:B:gA-copy1") > 0)) << "the old identity is deleted first";

    plugins->plugins["D"].copyResult = 3;
    plugins->plugins["D"].createResult = 7;
    choose(kTagOutputType, indexOf("D"));
    ASSERT_EQ(alertTexts().size(), 1u);
    EXPECT_EQ(alertTexts()[0], "The operation cannot continue. (Error code: 7)");
    EXPECT_EQ(out->pluginID(), "C");

    // Back to A: the identity and settings kept for A.
    alerts->shown.clear();
    choose(kTagOutputType, indexOf("A"));
    EXPECT_EQ(out->pluginGUID(), "gA");
    EXPECT_TRUE(alertTexts().empty());
}

// ---- Option order, device buttons, deletion

TEST_F(PanelSettingTest, OptionOrderLimitsAndMoves) {
    auto three = model->jobModel_List()[1];
    open(kJobPanelType, 1);
    selectTab(kTabOptions);
    EXPECT_FALSE(control(kTagOrderAdd)->isEnabled()) << "three outputs: no fourth";
    auto* table = qobject_cast<QTableWidget*>(control(kTagOrderTable));
    ASSERT_TRUE(table);
    EXPECT_EQ(table->rowCount(), 3);
    const auto before = three->jobOutputModel_List();
    table->selectRow(0);
    EXPECT_FALSE(control(kTagOrderUp)->isEnabled());
    ASSERT_TRUE(control(kTagOrderDown)->isEnabled());
    click(kTagOrderDown);
    EXPECT_EQ(three->jobOutputModel_List()[1], before[0]);
    EXPECT_EQ(table->currentRow(), 1);
    alerts->answer = 0; // OK
    click(kTagOrderDelete);
    EXPECT_EQ(three->jobOutputModel_List().size(), 2u);
    EXPECT_TRUE(control(kTagOrderAdd)->isEnabled());
    closeWindow();

    open(kJobPanelType, 0);
    selectTab(kTabOptions);
    qobject_cast<QTableWidget*>(control(kTagOrderTable))->selectRow(0);
    EXPECT_FALSE(control(kTagOrderDelete)->isEnabled()) << "one output cannot go";
    click(kTagOrderAdd);
    EXPECT_EQ(model->jobModel_List()[0]->jobOutputModel_List().size(), 2u);
}

TEST_F(PanelSettingTest, DeviceButtonBelongsToOneJobAfterClosing) {
    model->jobModel_List()[0]->setScanBtnStatus(1);
    open(kJobPanelType, 1);
    selectTab(kTabOptions);
    auto* popUp = qobject_cast<TvPopUpButton*>(control(kTagDeviceButton));
    if (popUp->numberOfItems() < 2) TV_Func::addMenuItem(popUp, QStringLiteral("Button 1"), 1);
    choose(kTagDeviceButton, 1);
    closeWindow();
    EXPECT_EQ(model->jobModel_List()[1]->scanBtnStatus(), 1);
    EXPECT_EQ(model->jobModel_List()[0]->scanBtnStatus(), JobModel::kNoButton);
}

TEST_F(PanelSettingTest, ClosingStoresRedrawsAndReloads) {
    open(kOutputPanelType, 1);
    field(kTagPanelTitle)->setText("  Trimmed  ");
    setting->controlTextDidEndEditing(field(kTagPanelTitle));
    log.take();
    closeWindow();
    EXPECT_EQ(model->outputModel_List()[1]->wholeModel()->title(), "Trimmed");
    EXPECT_TRUE((log.count("images:1:1") > 0));
    EXPECT_TRUE((log.count("reload:1") > 0));
    EXPECT_EQ(host->calls.back(), "tools:1:1");
    EXPECT_FALSE(cntlr->tmpPanelModel_Setting());
}

TEST_F(PanelSettingTest, DeletedPanelSkipsTheChecksAndLeavesItsList) {
    auto doomed = model->outputModel_List()[0];
    doomed->setSaveType(1); // would fail the save-folder check
    open(kOutputPanelType, 0);
    alerts->answer = 0; // OK to the confirmation
    click(kTagSettingDelete);
    runUntil([&] { return !cntlr->tmpPanelModel_Setting(); }, 5);
    ASSERT_EQ(alerts->shown.size(), 1u) << "only the confirmation";
    EXPECT_EQ(model->outputModel_List().size(), 1u);
    EXPECT_NE(model->outputModel_List()[0], doomed);
}

// ---- The data source's own window

TEST_F(PanelSettingTest, OpenDriverWindowForbidsClosingAndARefusalKeepsTheInput) {
    auto job = model->jobModel_List()[0];
    job->jobOutputModel_List()[0]->setFileFormatType(OutputModel::kFormatJPEG);
    auto original = job->jobInputModel_List()[0];
    original->setIsUseDriverSetting(true);
    original->setIcap_PIXELTYPE(2);
    open(kJobPanelType, 0);
    // The data source's window changes the input so that it may give
    // black and white, then closes with OK.
    host->duringOpenDS = [&] { original->setIcap_PIXELTYPE(0); };
    click(kTagOpenDriverUI);
    EXPECT_EQ(host->openCount, 1);
    EXPECT_FALSE(host->closableWhileModal);
    EXPECT_FALSE(host->settingWindow()->isValidClose());
    setting->driverCloseDSOk(kdf::Notification("Driver_MSG_CLOSEDSOK_Notification", nullptr, nullptr, nullptr));
    ASSERT_EQ(alertTexts().size(), 1u);
    EXPECT_EQ(job->jobInputModel_List()[0]->icap_PIXELTYPE(), 2) << "the input as before";
    setting->driverTerminateUI(kdf::Notification("Driver_TerminateUI_Notification", nullptr, nullptr, nullptr));
    EXPECT_TRUE(host->settingWindow()->isValidClose());
    EXPECT_FALSE(cntlr->tmpCopyInputModel_Setting());
}

TEST_F(PanelSettingTest, RefusedDriverSettingsWithoutAKeptCopyLeaveTheInput) {
    auto job = model->jobModel_List()[0];
    job->jobOutputModel_List()[0]->setFileFormatType(OutputModel::kFormatJPEG);
    job->jobInputModel_List()[0]->setScnStColorType(5);
    open(kJobPanelType, 0);
    setting->driverCloseDSOk(kdf::Notification("Driver_MSG_CLOSEDSOK_Notification", nullptr, nullptr, nullptr));
    EXPECT_EQ(alertTexts().size(), 1u);
    ASSERT_EQ(job->jobInputModel_List().size(), 1u);
}

TEST_F(PanelSettingTest, BusyScannerRetriesOpeningFiveTimesThenGivesUp) {
    model->jobModel_List()[0]->jobInputModel_List()[0]->setIsUseDriverSetting(true);
    open(kJobPanelType, 0);
    host->syncDriver = false;
    click(kTagOpenDriverUI);
    for (int i = 0; i < 10; ++i) runOneTurn();
    EXPECT_EQ(host->openCount, 0);
    EXPECT_EQ(PanelSettingCntlr::retryOpenDriverCount(), 0);
    host->syncDriver = true;
    click(kTagOpenDriverUI);
    EXPECT_EQ(host->openCount, 1);
    EXPECT_FALSE(host->settingWindow()->isValidClose());
    setting->driverTerminateUI(kdf::Notification("Driver_TerminateUI_Notification", nullptr, nullptr, nullptr));
    EXPECT_TRUE(host->settingWindow()->isValidClose());
}

// ---- Tabs

TEST_F(PanelSettingTest, TabsOfAStoredJobAndOfTheScanningCopy) {
    open(kJobPanelType, 1);
    auto* tabs = qobject_cast<TvSegmentedControl*>(control(kTagJobTab));
    ASSERT_EQ(tabs->segmentCount(), 6);
    EXPECT_EQ(setting->tabTags(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(tabs->labelForSegment(1), "Output1");
    EXPECT_EQ(tabs->labelForSegment(3), "Output3");
    closeWindow();

    open(kJobPanelType, 0);
    EXPECT_EQ(tabs->labelForSegment(1), "Output") << "one output: the plain label";
    closeWindow();

    // From the scanning view: outputs only, the written one disabled.
    auto made = jobWith(3);
    made->setOutputIndex(1);
    cntlr->setTmpCopyJobModel_Scan(made);
    auto copy = cntlr->tmpCopyJobModel_Scan();
    ASSERT_TRUE(copy);
    copy->setOutputIndex(1);
    cntlr->storeAppState(kAppStateScanEnded);
    clock().advance(kdf::Seconds(1));
    setting->openSettingWindow(std::nullopt);
    ASSERT_TRUE(host->settingWindow()->isVisible());
    EXPECT_EQ(setting->tabTags(), (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(tabs->isEnabledForSegment(0));
    EXPECT_TRUE(tabs->isEnabledForSegment(1));
    EXPECT_TRUE(tabs->isEnabledForSegment(2));
    EXPECT_TRUE(control(kTagSettingDelete)->isHidden());
    EXPECT_EQ(copy->jobTabType(), 2);
    copy->setOutputIndex(2);
    closeWindow();
    EXPECT_EQ(copy->outputIndex(), 1) << "restored at close";
    EXPECT_EQ(host->calls.back(), "scanInfo");
    cntlr->setTmpCopyJobModel_Scan(nullptr);
    cntlr->storeAppState(kAppStateMainTop);
}

// ---- Creation

TEST_F(PanelSettingTest, CreationByTag) {
    struct Case {
        int tag;
        bool menu;
        int type;
    };
    const std::vector<Case> cases = {
        {kTagNewInput, false, kInputPanelType},
        {kTagNewOutput, false, kOutputPanelType},
        {0, false, kJobPanelType},
        {(kInputPanelType << 16) | 0, true, kInputPanelType},
        {(kOutputPanelType << 16) | 0, true, kOutputPanelType},
        {(kJobPanelType << 16) | 0, true, kJobPanelType},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        const std::size_t before = cntlr->panelListOfType(c.type)->size();
        log.take();
        host->calls.clear();
        setting->createPanel(c.tag, c.menu);
        const auto list = *cntlr->panelListOfType(c.type);
        ASSERT_EQ(list.size(), before + 1);
        EXPECT_TRUE((log.count("reload:" + std::to_string(c.type)) > 0));
        EXPECT_EQ(host->calls, std::vector<std::string>{"scroll:" + std::to_string(c.type)});
        if (!c.menu) {
            EXPECT_FALSE(list.back()->wholeModel()->title().empty());
        }
        if (auto job = std::dynamic_pointer_cast<JobModel>(list.back())) {
            EXPECT_EQ(job->jobInputModel_List().size(), c.menu ? job->jobInputModel_List().size() : 1u);
            EXPECT_FALSE(job->jobOutputModel_List().empty());
        }
    }
    // Past the end of the presets: nothing.
    const std::size_t inputs = model->inputModel_List().size();
    setting->createPanel((kInputPanelType << 16) | 0xFFFF, true);
    EXPECT_EQ(model->inputModel_List().size(), inputs);
    EXPECT_TRUE(alertTexts().empty());
}

TEST_F(PanelSettingTest, JobFromTheSelectionGetsIdentitiesOfItsOwn) {
    addPlugin("A");
    model->inputModel_List()[1]->setIsSelected(true);
    auto out = model->outputModel_List()[0];
    out->setPluginID("A");
    out->setPluginGUID("g1");
    out->setIsSelected(true);
    plugins->answers[{"A", 9}] = false;
    setting->createPanel(kTagNewJobFromSelection, false);
    auto job = model->jobModel_List().back();
    ASSERT_EQ(model->jobModel_List().size(), 3u);
    EXPECT_EQ(job->jobOutputModel_List()[0]->pluginGUID(), "g1-copy1");
    EXPECT_EQ(out->pluginGUID(), "g1");
    EXPECT_EQ(host->calls.front(), "mainTopDisplay");
    EXPECT_FALSE(job->userInfoList());

    auto withRecord = setting->createJobModel(true);
    ASSERT_TRUE(withRecord && withRecord->userInfoList());
    EXPECT_EQ(withRecord->userInfoList()->size(), 2u);
}

TEST_F(PanelSettingTest, NoSelectionOrAFullListAddsNothing) {
    setting->createPanel(kTagNewJobFromSelection, false);
    EXPECT_EQ(model->jobModel_List().size(), 2u);
    ASSERT_EQ(alertTexts().size(), 1u);

    alerts->shown.clear();
    addPlugin("A");
    std::vector<std::shared_ptr<JobModel>> full;
    for (int i = 0; i < kMaxPanelCount; ++i) full.push_back(jobWith(1));
    model->setJobModel_List(full);
    plugins->calls.take();
    model->inputModel_List()[0]->setIsSelected(true);
    auto out = model->outputModel_List()[0];
    out->setPluginID("A");
    out->setPluginGUID("g1");
    out->setIsSelected(true);
    setting->createPanel(kTagNewJobFromSelection, false);
    setting->createPanel(0, false);
    EXPECT_EQ(model->jobModel_List().size(), std::size_t(kMaxPanelCount));
    EXPECT_EQ(alertTexts().size(), 2u);
    EXPECT_TRUE(plugins->calls.entries().empty()) << "a refused panel leaves no identity behind";
}

} // namespace

APPTEST_MAIN()
