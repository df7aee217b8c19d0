// A whole scan under the application state: the controller opens KD720.ds
// on the virtual KD-720 through our source manager, and the pages arrive in
// the page list in sheet and side order while the state runs 100, 101, 103.
#include "AppMainCntlrFakes.h"

#include "InputModel.h"
#include "KD720TestBundle.h"
#include "KdUIController.h"
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "QuietDeviceDelegate.h"
#include "RecordingUIController.h"
#include "VirtualPages.h"

#include <foundation/Object.h>

#include <fstream>
#include <iterator>

namespace {

using namespace apptest;
namespace fs = std::filesystem;

// Records the state at every redraw and does the scan-ready handler's work:
// the page list, then state 100.
class ScanWindow : public RecordingWindow {
public:
    ScanWindow(CallLog& log, AppMainCntlr& cntlr) : RecordingWindow(log), cntlr_(cntlr) {}
    std::vector<int> states;

    void updateUIByAppState() override { states.push_back(cntlr_.appState()); }
    void scanReadyByTwainCB() override {
        const int s = cntlr_.appState();
        if (s == kAppStateMainTop) {
            cntlr_.initImgInfoArray();
            cntlr_.setAppState(kAppStateScanReady);
        } else if (s == kAppStateScanReady || cntlr_.isFinishScnState()) {
            cntlr_.setAppState(kAppStateScanReady);
        }
    }

private:
    AppMainCntlr& cntlr_;
};

// The sheet and side mark of a raw gray page, looked for around where the
// sheet's corner falls.
std::string markOf(const ImageInfoModel& page, double sheetWidthMm) {
    std::ifstream in(page.imgInfo_TmpImagePath(), std::ios::binary);
    std::vector<std::uint8_t> pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int width = page.imgInfo_Width();
    const int height = page.imgInfo_Height();
    const int dpi = int(page.imgInfo_XRes() + 0.5f);
    if (page.imgInfo_bpp() != 8 || pixels.size() != std::size_t(width) * std::size_t(height)) return "";
    const double centred = (width - sheetWidthMm / 25.4 * dpi) / 2;
    for (double base : {centred, 0.0})
        for (int d = 0; d <= 40; ++d)
            for (int sign : {1, -1}) {
                const std::string mark = kdvirtual::readMark(pixels.data(), width, height, 1, std::size_t(width), dpi,
                                                             dpi, base + sign * d, 0);
                if (!mark.empty()) return mark;
            }
    return "";
}

TEST(AppScanEndToEnd, ThreeDuplexSheetsReachThePageListInOrder) {
    kdtest::TempHome home;
    installKD720WithRecordingWindow(home, "sheets=3");
    kdf::registerClass(kUIControllerClassName, &kdf::makeObject<RecordingUIController>);
    ASSERT_TRUE(QlrUtilsMethod::createTmpFolder());

    CallLog log;
    auto cntlr = std::make_unique<AppMainCntlr>();
    auto window = std::make_shared<ScanWindow>(log, *cntlr);
    auto preview = std::make_shared<RecordingPreview>(log);
    auto writer = std::make_shared<RecordingWriter>(log);
    cntlr->setMainWindowPort(window);
    cntlr->setPreviewPort(preview);
    cntlr->setOutputWriterPort(writer);
    AppMainCntlr::setCurrent(cntlr.get());
    setCurrentIdentity("Tavrolek Document Systems", "Tavro KD-720 Driver", "Tavro KD-720 TWAIN");
    QlrDeviceCntlr::setApplicationDelegate(cntlr.get());
    QlrDeviceCntlr* device = QlrDeviceCntlr::sharedDeviceCntlr();
    cntlr->setDeviceCntlr(device);

    // One input: gray, 200 dpi, both sides; the job edits its pages first,
    // so they only reach the preview.
    auto input = std::make_shared<InputModel>();
    input->setIsUseDriverSetting(false);
    input->setScnStColorType(3);
    input->setScnStResolutionType(1);
    input->setScnStReaderSideType(2);
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({input});
    job->setIsImageProcess(true);
    cntlr->setTmpCopyJobModel_Scan(job);

    ASSERT_TRUE(cntlr->executeScanOnCntlr());
    const bool ended = runUntil(
        [&] {
            return cntlr->appState() == kAppStateScanFinished && !cntlr->isRunningScanThread() &&
                   !device->twHandler()->isDSOpen();
        },
        180);
    EXPECT_TRUE(ended) << "state " << cntlr->appState();

    EXPECT_EQ(window->states, (std::vector<int>{100, 101, 103}));
    EXPECT_EQ(preview->shown, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(log.count("write:0"), 0u);
    ASSERT_EQ(cntlr->countOfImgInfoDict(), 6);
    const std::vector<std::string> marks{"1F", "1B", "2F", "2B", "3F", "3B"};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        auto page = cntlr->imgInfoAtIndex(i);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->imgInfo_bpp(), 8);
        EXPECT_NEAR(page->imgInfo_XRes(), 200, 0.01);
        std::error_code ec;
        EXPECT_EQ(fs::file_size(page->imgInfo_TmpImagePath(), ec),
                  std::uintmax_t(page->imgInfo_Width()) * std::uintmax_t(page->imgInfo_Height()));
        EXPECT_GT(page->imgInfo_Height(), 0);
        EXPECT_EQ(markOf(*page, 210), marks[std::size_t(i)]);
    }
    EXPECT_FALSE(device->twHandler()->isDSOpen());
    EXPECT_TRUE(device->shadingData());
    EXPECT_FALSE(device->lastAlertKey());

    // Back to the main screen: the list and its files go.
    cntlr->releaseImgInfoArray(true);
    EXPECT_EQ(cntlr->countOfImgInfoDict(), 0);

    QlrDeviceCntlr::terminateDeviceCntlr();
    cntlr->setDeviceCntlr(nullptr);
    QlrDeviceCntlr::setApplicationDelegate(nullptr);
    AppMainCntlr::setCurrent(nullptr);
    AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    kdf::unregisterClass(kUIControllerClassName);
    cntlr.reset();
}

} // namespace

APPTEST_MAIN()
