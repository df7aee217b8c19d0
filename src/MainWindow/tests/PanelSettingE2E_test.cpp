// The data source's own settings window opened from the setting window's
// button, through our TWAIN manager and KD720.ds with the recording window
// in place of the real one: the setting window may not close meanwhile,
// settings that rule out the job's JPEG output are refused with the alert
// and leave the job's input as it was, and the window may close again at
// the end.
#include "AppMainCntlrFakes.h"

#include "KD720TestBundle.h"
#include "KdUIController.h"
#include "MainWindowController.h"
#include "PanelSettingCntlr.h"
#include "QlrDeviceCntlr.h"
#include "QuietDeviceDelegate.h"
#include "RecordingUIController.h"
#include "VirtualScannerSetup.h"
#include "TvPopoverWindow.h"

#include <foundation/Object.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>

namespace {

using namespace apptest;
using namespace qlr_main;

// The data source's window the data source made last.
RecordingUIController* sWindow = nullptr;
std::unique_ptr<kdf::Object> makeRecordingWindow() {
    auto made = std::make_unique<RecordingUIController>();
    sWindow = made.get();
    return made;
}

// The real modal steps (the data source opened by the device controller).
class RealHost : public PanelSettingHost {
public:
    explicit RealHost(AppMainCntlr& cntlr) : windows(cntlr, nullptr) {}
    MainWindowController windows;
    TvPopoverWindow* settingWindow() override { return windows.settingWindow(); }
    QWidget* settingSection(const char* name) override { return windows.settingSection(name); }
};

// The controller's window port handing the data source's notifications to
// the setting window.
class SettingPort : public AppMainWindowPort {
public:
    PanelSettingCntlr* setting = nullptr;
    void driverCloseDSOk(const kdf::Notification& n) override {
        if (setting) setting->driverCloseDSOk(n);
    }
    void driverTerminateUI(const kdf::Notification& n) override {
        if (setting) setting->driverTerminateUI(n);
    }
};

class PanelSettingEndToEnd : public ControllerTest {
protected:
    kdtest::TempHome home;
    std::shared_ptr<SettingPort> port = std::make_shared<SettingPort>();
    std::unique_ptr<RealHost> host;
    std::unique_ptr<PanelSettingCntlr> setting;
    QlrDeviceCntlr* device = nullptr;
    std::shared_ptr<AppModel> model;

    void SetUp() override {
        installKD720WithRecordingWindow(home, "1");
        kdf::registerClass(kUIControllerClassName, &makeRecordingWindow);
        ControllerTest::SetUp();
        cntlr->setMainWindowPort(port);
        device = scantest::connectVirtualScanner(*cntlr);
        host = std::make_unique<RealHost>(*cntlr);
        setting = std::make_unique<PanelSettingCntlr>(*cntlr, *host);
        setting->connectControls();
        port->setting = setting.get();
        model = std::make_shared<AppModel>();
        cntlr->setAppModel(model);
    }
    void TearDown() override {
        if (host->settingWindow()->isVisible()) {
            TvWindow::endModalWindow(host->settingWindow(), true);
            runUntil([&] { return !cntlr->tmpPanelModel_Setting(); }, 5);
        }
        port->setting = nullptr;
        setting.reset();
        host.reset();
        scantest::disconnectVirtualScanner(*cntlr);
        cntlr->setMainWindowPort(nullptr);
        ControllerTest::TearDown();
        kdf::unregisterClass(kUIControllerClassName);
        sWindow = nullptr;
    }
};

TEST_F(PanelSettingEndToEnd, DataSourceSettingsThatForbidJpegAreRefusedAndTheInputKept) {
    auto input = std::make_shared<InputModel>();
    input->setIsUseDriverSetting(true);
    // Black and white in the data source's own settings.
    input->setIcap_PIXELTYPE(0);
    auto output = std::make_shared<OutputModel>();
    output->setFileFormatType(OutputModel::kFormatJPEG);
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({input});
    job->setJobOutputModel_List({output});
    model->setJobModel_List({job});

    kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.8)); // the animation throttle
    setting->openSettingWindow(std::make_pair(int(kJobPanelType), 0));
    TvPopoverWindow* window = host->settingWindow();
    ASSERT_TRUE(window->isVisible());
    QWidget* button = kdui::viewWithTag(host->settingSection(kSettingInputView), kTagOpenDriverUI);
    ASSERT_TRUE(button && button->isEnabled());
    setting->actionFromSettingWindow(button);
    ASSERT_TRUE(runUntil([&] { return sWindow != nullptr; }, 30)) << "the data source made its window";
    EXPECT_FALSE(window->isValidClose()) << "not closable while the data source's window runs";
    EXPECT_TRUE(cntlr->tmpCopyInputModel_Setting());
    EXPECT_TRUE(alerts->shown.empty());

    // OK in the data source's window.
    sWindow->postCloseDSOkay();
    ASSERT_TRUE(runUntil([&] { return window->isValidClose(); }, 30)) << "closable again at the end";
    ASSERT_EQ(alerts->shown.size(), 1u);
    // The program runs without the application's texts: the key itself.
    EXPECT_EQ(alerts->shown[0].informativeText, "Err_NotCreateJpegFromAutoBW");
    ASSERT_EQ(job->jobInputModel_List().size(), 1u);
    auto kept = job->jobInputModel_List()[0];
    EXPECT_TRUE(kept->isUseDriverSetting());
    EXPECT_EQ(kept->icap_PIXELTYPE(), 0);
    EXPECT_FALSE(cntlr->tmpCopyInputModel_Setting());
}

} // namespace

APPTEST_MAIN()
