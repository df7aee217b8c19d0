// The scan screen of the real main window during a scan: a job tile scans
// two two-sided sheets from the virtual KD-720 through our TWAIN manager and
// KD720.ds; each arriving page becomes a thumbnail of the window's page
// browser and the page shown in its preview, the counter follows, and the
// finish button writes the pages into one PDF.
#include "AppMainCntlrFakes.h"

#include "CreatePDF.h"
#include "ScanJobs.h"
#include "ImageIBView.h"
#include "KD720TestBundle.h"
#include "KdUIController.h"
#include "MainWindowNib.h"
#include "MainWindowScanController.h"
#include "OutputWriter.h"
#include "PreviewBaseView.h"
#include "QlrDeviceCntlr.h"
#include "QuietDeviceDelegate.h"
#include "RecordingUIController.h"
#include "VirtualScannerSetup.h"

#include <foundation/Object.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

namespace {

using namespace apptest;
namespace fs = std::filesystem;

class MainWindowPreviewEndToEnd : public ControllerTest {
protected:
    kdtest::TempHome home;
    std::shared_ptr<qlr_main::MainWindowScanController> window;
    std::shared_ptr<qlr_output::OutputWriter> out;
    std::shared_ptr<qlr_output::CreatePDF> pdf;
    std::shared_ptr<AppModel> model;
    fs::path folder;

    void SetUp() override {
        installKD720WithRecordingWindow(home, "sheets=2");
        kdf::registerClass(kUIControllerClassName, &kdf::makeObject<RecordingUIController>);
        ControllerTest::SetUp();
        window = qlr_main::MainWindowScanController::install(*cntlr, qlr_main::MainWindowNib::load());
        out = std::make_shared<qlr_output::OutputWriter>(*cntlr);
        pdf = std::make_shared<qlr_output::CreatePDF>(*cntlr);
        qlr_output::installPdfWriter(*out, pdf);
        cntlr->setOutputWriterPort(out);
        scantest::connectVirtualScanner(*cntlr);

        folder = home.root() / "Scans";
        fs::create_directories(folder);
        model = std::make_shared<AppModel>();
        model->setJobModel_List({editedGrayDuplexToPdf()});
        cntlr->setAppModel(model);
        window->mainWindow()->resize(1100, 760);
        window->mainWindow()->show();
    }
    void TearDown() override {
        runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0 && !cntlr->isRunningScanThread(); }, 30);
        kdf::RunLoop::main().cancelPerforms(&window->scan());
        scantest::disconnectVirtualScanner(*cntlr);
        MainWindowCntlr::setProcessWindow(nullptr);
        cntlr->setMainWindowPort(nullptr);
        cntlr->setPreviewPort(nullptr);
        cntlr->setOutputWriterPort(nullptr);
        window.reset();
        ControllerTest::TearDown();
        out.reset();
        pdf.reset();
        kdf::unregisterClass(kUIControllerClassName);
    }
    // A job that keeps its pages on the scan screen until the finish
    // button, so the screen can be looked at after the scan.
    std::shared_ptr<JobModel> editedGrayDuplexToPdf() { return scantest::grayDuplexPdfJob(folder, true); }
    QWidget* scanControl(int tag) { return kdui::viewWithTag(window->scanContentView(), tag); }
};

TEST_F(MainWindowPreviewEndToEnd, ScannedPagesShowAsThumbnailsAndPreviewInTheRealWindow) {
    ASSERT_EQ(cntlr->previewPort(), window->previewCntlr());
    auto* browser = qobject_cast<ImageIBView*>(window->pageBrowser());
    ASSERT_TRUE(browser);
    ASSERT_EQ(browser->dataSource(), window->previewCntlr().get());
    PreviewBaseView* preview = window->previewView();
    ASSERT_TRUE(preview);

    kdf::Dictionary info{{kClickCellIndexKey, kdf::Value(0)}};
    kdf::NotificationCenter::defaultCenter().post(kPanelIBViewClickCellNotification, nullptr, nullptr, &info);

    // Pages arrive while the scan runs: the browser grows with them.
    int seenWhileScanning = 0;
    ASSERT_TRUE(runUntil(
        [&] {
            if (cntlr->isExeScningState()) seenWhileScanning = std::max(seenWhileScanning, browser->numberOfItems());
            return cntlr->appState() == kAppStateScanFinished && cntlr->readImgFileForJobScnCount() == 0;
        },
        240))
        << "state " << cntlr->appState();
    ASSERT_TRUE(alerts->shown.empty()) << alerts->shown.front().informativeText;
    EXPECT_GT(seenWhileScanning, 0);

    // After the scan: four thumbnails, the last page shown and selected, the
    // picture drawn fitted, the counter at 4 of 4.
    EXPECT_TRUE(window->scanContentView()->isVisible());
    EXPECT_EQ(browser->numberOfItems(), 4);
    EXPECT_EQ(browser->selectionIndexes(), kdui::IndexSet{3});
    EXPECT_EQ(cntlr->preDisplayIndex(), 3);
    const auto item = window->previewCntlr()->itemAtIndex(*browser, 2);
    EXPECT_FALSE(item.image.isNull());
    EXPECT_FALSE(preview->previewImage().isNull());
    EXPECT_EQ(preview->previewImage().format(), QImage::Format_Grayscale8);
    EXPECT_TRUE(preview->isUseHighQualityInDraw());
    auto* shown = qobject_cast<QLineEdit*>(scanControl(PreviewCntlr::kShownPageField));
    auto* count = qobject_cast<QLabel*>(scanControl(PreviewCntlr::kPageCountLabel));
    ASSERT_TRUE(shown && count);
    EXPECT_EQ(shown->text(), QStringLiteral("4"));
    EXPECT_EQ(count->text(), QStringLiteral("/4"));
    // One output: no pagination.
    EXPECT_FALSE(qlr_main::MainWindowNib::outlet(window->mainWindow(), "Scan_OutputSetting_Pagenation")->isVisible());

    // A thumbnail chosen in the browser is shown.
    const QImage last = preview->previewImage();
    browser->setSelectionIndexes({0}, false);
    EXPECT_EQ(cntlr->preDisplayIndex(), 0);
    EXPECT_EQ(shown->text(), QStringLiteral("1"));
    EXPECT_NE(preview->previewImage(), last);

    // The finish button writes the four pages.
    auto* finish = qobject_cast<QAbstractButton*>(scanControl(PreviewCntlr::kFinishButton));
    ASSERT_TRUE(finish && finish->isEnabled());
    finish->click();
    ASSERT_TRUE(runUntil([&] { return cntlr->appState() == kAppStateMainTop; }, 120)) << "state " << cntlr->appState();
    std::vector<fs::path> pdfs;
    for (const auto& e : fs::directory_iterator(folder)) pdfs.push_back(e.path());
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_EQ(pdfs[0].extension(), ".pdf");
    // Back on the main view the page list and its thumbnails are gone.
    EXPECT_EQ(browser->numberOfItems(), 0);
}

} // namespace

APPTEST_MAIN()
