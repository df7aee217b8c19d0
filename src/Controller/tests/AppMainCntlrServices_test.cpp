// Panel services, plug-in setting IDs for new outputs, the refresh after the
// preferences or the data source changed, preview sizes and observers.
#include "AppBundleFixture.h"
#include "AppMainCntlrFakes.h"

#include "AppControllerServices.h"

#include "QlrDeviceCntlr.h"
#include "TvNotifications.h"

#include <QWidget>

namespace {

using namespace apptest;
using Log = std::vector<std::string>;

class AppServices : public ControllerTest {
protected:
    std::shared_ptr<AppModel> model = std::make_shared<AppModel>();
    void SetUp() override {
        ControllerTest::SetUp();
        cntlr->setAppModel(model);
    }
};

TEST_F(AppServices, PanelListsAndSelections) {
    std::vector<std::shared_ptr<InputModel>> inputs;
    for (int i = 0; i < 4; ++i) inputs.push_back(std::make_shared<InputModel>());
    model->setInputModel_List(inputs);
    model->setJobModel_List({std::make_shared<JobModel>()});
    model->jobModel_List()[0]->setIsSelected(true);

    EXPECT_EQ(cntlr->panelListOfType(kInputPanelType)->size(), 4u);
    EXPECT_EQ(cntlr->panelListOfType(kOutputPanelType)->size(), 0u);
    EXPECT_EQ(cntlr->panelListOfType(kJobPanelType)->size(), 1u);
    for (int bad : {-1, 3}) EXPECT_FALSE(cntlr->panelListOfType(bad)) << bad;

    EXPECT_FALSE(cntlr->selectedModelList(kInputPanelType)); // none selected: nil, not empty
    EXPECT_FALSE(cntlr->selectedModelList(kJobPanelType));
    EXPECT_FALSE(cntlr->selectedModelList(kOutputPanelType));
    inputs[3]->setIsSelected(true);
    inputs[1]->setIsSelected(true);
    auto selected = cntlr->selectedModelList(kInputPanelType);
    ASSERT_TRUE(selected);
    EXPECT_EQ(*selected, (std::vector<std::shared_ptr<PanelModel>>{inputs[1], inputs[3]}));

    cntlr->setAppModel(nullptr);
    EXPECT_FALSE(cntlr->panelListOfType(kInputPanelType));
    EXPECT_FALSE(cntlr->selectedModelList(kInputPanelType));
    EXPECT_EQ(cntlr->ibViewOfType(kInputPanelType), nullptr);
}

TEST_F(AppServices, JobsCurrentInputAndOutput) {
    auto job = std::make_shared<JobModel>();
    EXPECT_FALSE(AppMainCntlr::curInputModelOfJobModel(job.get()));
    EXPECT_FALSE(AppMainCntlr::curInputModelOfJobModel(nullptr));
    auto in = std::make_shared<InputModel>();
    job->setJobInputModel_List({in, std::make_shared<InputModel>()});
    EXPECT_EQ(AppMainCntlr::curInputModelOfJobModel(job.get()), in);

    std::vector<std::shared_ptr<OutputModel>> outs{std::make_shared<OutputModel>(), std::make_shared<OutputModel>()};
    job->setJobOutputModel_List(outs);
    for (auto [index, want] : {std::pair{-1, -1}, {0, 0}, {1, 1}, {2, -1}, {99, -1}}) {
        job->setOutputIndex(index);
        auto out = AppMainCntlr::curOutputModelOfJobModel(job.get());
        EXPECT_EQ(out, want < 0 ? nullptr : outs[std::size_t(want)]) << index;
    }
    EXPECT_FALSE(AppMainCntlr::curOutputModelOfJobModel(nullptr));
}

TEST_F(AppServices, PluginIDsForNewOutputs) {
    registry->plugins["Mail.plugin"] = {"Mail", 0, 0};
    registry->plugins["Untitled.plugin"] = {"", 0, 0};
    registry->plugins["Broken.plugin"] = {"Broken", 0, 3};
    struct Case {
        const char* name;
        std::string id, guid;
        std::string wantID, wantGUID, wantTitle;
    };
    const std::vector<Case> cases{
        {"installed without settings", "Mail.plugin", "", "Mail.plugin", "new1", "Mail"},
        {"installed with settings", "Mail.plugin", "g", "Mail.plugin", "g", "keep"},
        {"no plug-in", "", "", "", "", "keep"},
        {"no longer installed", "Gone.plugin", "", "", "", "keep"},
        {"gone but with settings", "Gone.plugin", "g", "Gone.plugin", "g", "keep"},
        {"creation fails", "Broken.plugin", "", "Broken.plugin", "", "keep"},
        {"without a title", "Untitled.plugin", "", "Untitled.plugin", "new2", ""},
    };
    std::vector<std::shared_ptr<OutputModel>> outputs;
    for (const Case& c : cases) {
        outputs.push_back(outputWithPlugin(c.id, c.guid));
        outputs.back()->setDispTitle("keep");
    }
    outputs.push_back(nullptr);
    AppMainCntlr::createIDInPluginWithOutputModelList(outputs);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(outputs[i]->pluginID(), cases[i].wantID);
        EXPECT_EQ(outputs[i]->pluginGUID(), cases[i].wantGUID);
        EXPECT_EQ(outputs[i]->dispTitle(), cases[i].wantTitle);
    }
}

// NO: the main window's half minimum size; YES: the preview's split view;
// each side at most 1000.
TEST_F(AppServices, PreviewSizes) {
    struct Case {
        QSizeF preview;
        QlrPreviewSize want;
    };
    window->previewSize = QSizeF(1200, 800);
    EXPECT_EQ(cntlr->previewSizeByMainWindow(false).width, 1200);
    for (const Case& c : {Case{{1200, 800}, {1000, 800}}, Case{{640, 2400}, {640, 1000}}, Case{{0, 0}, {0, 0}}}) {
        window->previewSize = c.preview;
        const auto size = cntlr->previewSizeWithLimitationForIKImageBrowserMemLeak(true);
        EXPECT_EQ(size.width, c.want.width);
        EXPECT_EQ(size.height, c.want.height);
    }
    EXPECT_EQ(cntlr->previewSizeWithLimitationForIKImageBrowserMemLeak(false).width, 0); // no window
    QWidget mainWindow;
    mainWindow.setMinimumSize(3000, 900);
    window->window = &mainWindow;
    const auto half = cntlr->previewSizeWithLimitationForIKImageBrowserMemLeak(false);
    EXPECT_EQ(half.width, 1000);
    EXPECT_EQ(half.height, 450);
    EXPECT_EQ(cntlr->previewSizeByMainWindow(true).width, 1500);
}

TEST_F(AppServices, ReloadAfterPreferences) {
    model->setInput_PanelSizeType(1);
    model->setOutput_PanelSizeType(2);
    model->setJob_PanelSizeType(3);
    kdf::Dictionary valid{{AppModel::kPluginIsValidKey, true}};
    kdf::Dictionary invalid{{AppModel::kPluginIsValidKey, false}};
    model->setPluginInfoList(kdf::Array{
        kdf::Value(kdf::Dictionary{{"A.plugin", valid}}),
        kdf::Value(kdf::Dictionary{{"B.plugin", invalid}}),
        kdf::Value(kdf::Dictionary{{"C.plugin", kdf::Dictionary{}}}),              // no flag
        kdf::Value(kdf::Dictionary{{"D.plugin", valid}, {"E.plugin", valid}}),     // two keys
        kdf::Value(kdf::Dictionary{{"F.plugin", "not a dictionary"}}),
        kdf::Value("not an entry"),
    });
    cntlr->reloadSettingByPref();
    EXPECT_EQ(registry->calls.take(), (Log{"valid:A.plugin:1", "valid:B.plugin:0", "checkAll"}));
    EXPECT_EQ(log.take(), (Log{"cell:0:100", "cell:1:200", "cell:2:303", "top:00", "reload:0", "reload:1",
                               "reload:2"}));
}

TEST_F(AppServices, UpdateForANewDataSource) {
    modeltest::AppBundleFixture bundle;
    bundle.writeStrings("en", {{"AllocDevicveBtn", "Assign to the scanner button"}});
    model->setInputModel_List({std::make_shared<InputModel>(), std::make_shared<InputModel>()});
    model->setOutput_PanelSizeType(2);
    cntlr->updateCurrentDSInfo();
    EXPECT_EQ(log.take(), (Log{"menus", "images:2:1", "images:0:2", "images:0:1", "reload:0", "reload:1",
                               "reload:2", "popup:2102", "popup:2104", "popup:2106", "popup:2108", "popup:2110",
                               "popup:2406", "text:2405:Assign to the scanner button"}));
    // The identity's hook runs it once the application is set up.
    AppMainCntlrDSInfo::setIsInitialized(true);
    AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>());
    AppMainCntlrDSInfo::setIsInitialized(false);
    EXPECT_EQ(log.count("menus"), 1u);
    // ... and the identity asks the main window whether the setting window is up.
    window->settingWindow = true;
    EXPECT_TRUE(AppControllerServices::isVisibleSettingWindow());
}

TEST_F(AppServices, ObserversForwardToTheirNeighbours) {
    cntlr->setUpNotification();
    cntlr->setUpNotification(); // once only
    auto& center = kdf::NotificationCenter::defaultCenter();
    const std::vector<std::pair<const char*, const char*>> rows{
        {kDriverCloseDSOkNotification, "n:closeOk"},
        {kDriverTerminateUINotification, "n:terminateUI"},
        {kPanelIBViewClickCellNotification, "n:click"},
        {kMouseMovedInFlatWindowContentViewDidChange, "n:mouse"},
        {kScrollWheelDidChange, "n:wheel"},
        {TV_Message::kTvAlertRunModalNotification, "n:alert"},
        {kDegreeForRotateDidChange, "n:rotate"},
        {kRatioOfCropDidChange, "n:crop"},
    };
    int sender = 0;
    for (const auto& [name, entry] : rows) {
        center.post(name, &sender);
        EXPECT_EQ(log.take(), Log{entry}) << name;
    }
    // Gone with the controller.
    cntlr.reset();
    center.post(kDriverCloseDSOkNotification);
    EXPECT_TRUE(log.entries().empty());
}

} // namespace

APPTEST_MAIN()
