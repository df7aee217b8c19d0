// The main road from the main window: a click on a job tile scans three
// two-sided sheets from the virtual KD-720 through our TWAIN manager and
// KD720.ds into one PDF, ends in the completion window, whose folder link
// opens the folder, and returns to the main view with nothing left behind.
#include "AppMainCntlrFakes.h"
#include "ScanTestWindow.h"

#include "CreatePDF.h"
#include "ScanJobs.h"
#include "KD720TestBundle.h"
#include "KdUIController.h"
#include "OutputWriter.h"
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "QuietDeviceDelegate.h"
#include "RecordingUIController.h"
#include "VirtualScannerSetup.h"

#include <foundation/Object.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

using namespace apptest;
using scantest::ScanTestWindow;
namespace fs = std::filesystem;

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        if (pclose(p) != 0) out += "<failed>";
    }
    return out;
}

class MainWindowScanEndToEnd : public ControllerTest {
protected:
    kdtest::TempHome home;
    std::shared_ptr<ScanTestWindow> host;
    std::shared_ptr<qlr_output::OutputWriter> out;
    std::shared_ptr<qlr_output::CreatePDF> pdf;
    QlrDeviceCntlr* device = nullptr;
    std::shared_ptr<AppModel> model;
    fs::path folder;

    void SetUp() override {
        installKD720WithRecordingWindow(home, "sheets=3");
        kdf::registerClass(kUIControllerClassName, &kdf::makeObject<RecordingUIController>);
        ControllerTest::SetUp();
        host = std::make_shared<ScanTestWindow>(*cntlr);
        cntlr->setMainWindowPort(host);
        out = std::make_shared<qlr_output::OutputWriter>(*cntlr);
        pdf = std::make_shared<qlr_output::CreatePDF>(*cntlr);
        qlr_output::installPdfWriter(*out, pdf);
        cntlr->setOutputWriterPort(out);
        device = scantest::connectVirtualScanner(*cntlr);

        folder = home.root() / "Scans";
        fs::create_directories(folder);
        model = std::make_shared<AppModel>();
        model->setJobModel_List({grayDuplexToPdf()});
        cntlr->setAppModel(model);
        host->window->show();
    }
    void TearDown() override {
        runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0 && !cntlr->isRunningScanThread(); }, 30);
        kdf::RunLoop::main().cancelPerforms(&host->scan);
        scantest::disconnectVirtualScanner(*cntlr);
        cntlr->setMainWindowPort(nullptr);
        cntlr->setOutputWriterPort(nullptr);
        host.reset();
        ControllerTest::TearDown();
        out.reset();
        pdf.reset();
        kdf::unregisterClass(kUIControllerClassName);
    }
    std::shared_ptr<JobModel> grayDuplexToPdf() { return scantest::grayDuplexPdfJob(folder, false); }
    void clickJobTile(int index) {
        kdf::Dictionary info{{kClickCellIndexKey, kdf::Value(index)}};
        kdf::NotificationCenter::defaultCenter().post(kPanelIBViewClickCellNotification, nullptr, nullptr, &info);
    }
};

TEST_F(MainWindowScanEndToEnd, JobTileScansThreeDuplexSheetsIntoOnePdf) {
    const fs::path opened = scantest::installOpener(home.root());
    // The completion window's folder link, clicked as soon as it shows.
    TvOpenLinkTextField link;
    kdui::setTag(&link, qlr_main::kTagCompleteLink1);
    host->onComplete = [&] {
        auto complete = cntlr->tmpJobModel_Complete();
        ASSERT_TRUE(complete);
        link.setOutputModel(complete->jobOutputModel_List().at(0));
        host->scan.actionFromCompleteWindow(&link);
    };

    clickJobTile(0);
    ASSERT_TRUE(runUntil([&] { return host->count("complete") == 1; }, 240)) << "state " << cntlr->appState();
    ASSERT_TRUE(alerts->shown.empty()) << alerts->shown.front().informativeText;

    // 100 scanning view, 101 pages, 103 written, then the output step and
    // back to the main view once the output is complete.
    const std::vector<int> expected{100, 101, 103, 200, 202, 203, 0};
    std::vector<int> seen;
    for (int s : host->states)
        if (std::find(expected.begin(), expected.end(), s) != expected.end() && (seen.empty() || seen.back() != s))
            seen.push_back(s);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(cntlr->appState(), kAppStateMainTop);
    EXPECT_TRUE(host->top->isVisible());
    EXPECT_FALSE(cntlr->hasImgInfoArray());
    EXPECT_FALSE(fs::exists(*QlrUtilsMethod::tmpImageFolderPath()));
    EXPECT_EQ(model->jobModel_List()[0]->job_WholeModel()->panelUseCount(), 1);

    std::vector<fs::path> pdfs;
    for (const auto& e : fs::directory_iterator(folder)) pdfs.push_back(e.path());
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_EQ(pdfs[0].extension(), ".pdf");
    const std::string qpdf = KD_QPDF;
    if (!qpdf.empty()) {
        EXPECT_EQ(run(qpdf + " --check '" + pdfs[0].string() + "' >/dev/null 2>&1; echo $?"), "0\n");
        EXPECT_EQ(run(qpdf + " --show-npages '" + pdfs[0].string() + "'"), "6\n");
    }

    ASSERT_TRUE(runUntil([&] { return fs::exists(opened); }, 5));
    EXPECT_EQ(scantest::firstOpened(opened), folder);
}

} // namespace

APPTEST_MAIN()
