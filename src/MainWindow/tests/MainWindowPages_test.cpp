// The scanning view's page controls on a scan of a few pages: the page
// sets, stepping and typed page numbers, the slider in both modes and the
// preview pane shown and hidden.
#include "AppMainCntlrFakes.h"
#include "ScanTestWindow.h"

#include "QlrUtilsMethod.h"

#include <foundation/Bundle.h>

#include <QTest>

namespace {

using namespace apptest;
using scantest::ScanTestWindow;

std::vector<int> selection(const kdui::ImageBrowserView& browser) {
    return {browser.selectionIndexes().begin(), browser.selectionIndexes().end()};
}

QString localized(const char* key) {
    auto bundle = kdf::Bundle::main();
    return QString::fromStdString(bundle ? bundle->localizedString(key) : std::string(key));
}

class MainWindowPagesTest : public ControllerTest {
protected:
    std::shared_ptr<ScanTestWindow> host;

    void SetUp() override {
        ControllerTest::SetUp();
        host = std::make_shared<ScanTestWindow>(*cntlr);
        cntlr->setMainWindowPort(host);
        qlr_main::MainWindowPages::resetRememberedThumbnailZoom();
        host->window->show();
    }
    void TearDown() override {
        cntlr->setMainWindowPort(nullptr);
        host.reset();
        ControllerTest::TearDown();
    }
    // A job's scan with that many pages in the list and the browser.
    void scanned(int count) {
        auto job = std::make_shared<JobModel>();
        job->setJobInputModel_List({std::make_shared<InputModel>()});
        cntlr->setTmpCopyJobModel_Scan(job);
        host->scan.scanReadyByTwainCB();
        for (int i = 0; i < count; ++i) {
            auto page = std::make_shared<ImageInfoModel>();
            page->setImgInfo_Width(10);
            page->setImgInfo_Height(10);
            page->setImgInfo_bpp(8);
            cntlr->addImgInfo(page);
        }
        cntlr->storeAppState(kAppStateScanFinished);
        host->browser->reloadData();
    }
    QWidget* control(int tag) { return kdui::viewWithTag(host->scanView, tag); }
};

TEST(PageNumberText, DigitsOfBothKindsElseZero) {
    const std::pair<QString, int> cases[] = {
        {"3", 3},         {" 12 ", 12},      {QString::fromUtf8("٣"), 3}, {QString::fromUtf8("١٢"), 12},
        {"", 0},          {"abc", 0},        {"1a", 0},                   {"-2", 0},
        {"2.5", 0},       {QString::fromUtf8("۳"), 0}, // Extended Arabic-Indic is not read
        {"99999999999999999999", INT_MAX},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(qlr_main::pageNumberFromText(text), expected) << text.toStdString();
}

TEST_F(MainWindowPagesTest, PageSetsSelectAllOddOrEven) {
    scanned(5);
    const std::pair<int, std::vector<int>> cases[] = {
        {qlr_main::kTagSelectAllPages, {0, 1, 2, 3, 4}},
        {qlr_main::kTagSelectOddPages, {0, 2, 4}},
        {qlr_main::kTagSelectEvenPages, {1, 3}},
    };
    for (const auto& [tag, expected] : cases) {
        host->calls.clear();
        host->pages.changeMultiSelectScanImage(control(tag));
        EXPECT_EQ(selection(*host->browser), expected) << tag;
        EXPECT_EQ(host->count("selectionChanged"), 1);
    }
}

TEST_F(MainWindowPagesTest, EvenPagesOfOnePageChangeNothing) {
    scanned(1);
    host->pages.changeMultiSelectScanImage(control(qlr_main::kTagSelectOddPages));
    EXPECT_EQ(selection(*host->browser), std::vector<int>{0});
    host->browser->setSelectionIndexes({}, false);
    host->calls.clear();
    host->pages.changeMultiSelectScanImage(control(qlr_main::kTagSelectEvenPages));
    EXPECT_TRUE(selection(*host->browser).empty());
    EXPECT_EQ(host->count("selectionChanged"), 0);
}

TEST_F(MainWindowPagesTest, SteppingAndTypedNumbersAreClamped) {
    scanned(4);
    cntlr->setPreDisplayIndex(0);
    struct Step {
        int tag;
        const char* typed;
        int index;
        bool rebuilt;
    };
    const Step steps[] = {
        {qlr_main::kTagPreviousPage, nullptr, 0, false}, {qlr_main::kTagNextPage, nullptr, 1, true},
        {qlr_main::kTagNextPage, nullptr, 2, true},      {qlr_main::kTagPageNumber, "99", 3, true},
        {qlr_main::kTagNextPage, nullptr, 3, false},     {qlr_main::kTagPageNumber, "0", 0, true},
        {qlr_main::kTagPageNumber, "٣", 2, true},        {qlr_main::kTagPageNumber, "x", 0, true},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(std::to_string(s.tag) + (s.typed ? s.typed : ""));
        if (s.typed) host->pageField->setText(QString::fromUtf8(s.typed));
        host->calls.clear();
        host->pages.changeSelectScanImage(control(s.tag));
        EXPECT_EQ(cntlr->preDisplayIndex(), s.index);
        EXPECT_EQ(selection(*host->browser), std::vector<int>{s.index});
        EXPECT_EQ(host->count("preview:" + std::to_string(s.index) + ":fit"), s.rebuilt ? 1 : 0);
        EXPECT_EQ(host->count("pageDisplay"), 1);
    }
}

TEST_F(MainWindowPagesTest, StepScrollsAHiddenPageIntoView) {
    scanned(40);
    host->window->resize(500, 400);
    QApplication::processEvents();
    cntlr->setPreDisplayIndex(0);
    ASSERT_TRUE(host->browser->verticalScrollBar()->isVisible());
    host->pageField->setText("40");
    host->pages.changeSelectScanImage(host->pageField);
    const QRect frame = host->browser->itemFrameAtIndex(39);
    EXPECT_TRUE(host->browser->viewport()->rect().intersects(frame));
}

// The controls reach their actions: clicks, a typed number ended with
// Return, the slider moved by the keyboard.
TEST_F(MainWindowPagesTest, ControlsAreConnectedToTheirActions) {
    scanned(3);
    cntlr->setPreDisplayIndex(0);
    QTest::mouseClick(host->nextButton, Qt::LeftButton);
    EXPECT_EQ(cntlr->preDisplayIndex(), 1);
    host->pageField->setFocus();
    host->pageField->setText("3");
    QTest::keyClick(host->pageField, Qt::Key_Return);
    EXPECT_EQ(cntlr->preDisplayIndex(), 2);
    QTest::mouseClick(control(qlr_main::kTagSelectOddPages), Qt::LeftButton);
    EXPECT_EQ(selection(*host->browser), (std::vector<int>{0, 2}));

    host->slider->setDoubleValue(1.0);
    host->calls.clear();
    host->slider->setFocus();
    QTest::keyClick(host->slider, Qt::Key_Right);
    QApplication::processEvents();
    EXPECT_GT(cntlr->previewScale(), 1.0f);
    EXPECT_DOUBLE_EQ(host->preview->scaleValue(), host->slider->doubleValue());
    // Values the program sets do not act.
    host->calls.clear();
    host->slider->setDoubleValue(3.0);
    QApplication::processEvents();
    EXPECT_EQ(host->count("preview:2:full"), 0);

    QTest::mouseClick(host->previewToggle, Qt::LeftButton);
    EXPECT_FALSE(host->previewShown);
}

TEST_F(MainWindowPagesTest, NoPagesEmptiesTheNumberField) {
    scanned(0);
    host->pageField->setText("3");
    host->pages.changeSelectScanImage(control(qlr_main::kTagNextPage));
    EXPECT_EQ(host->pageField->text(), QString());
    EXPECT_EQ(host->count("pageDisplay"), 0);
}

TEST_F(MainWindowPagesTest, SliderZoomsThePreviewOrSizesTheThumbnails) {
    scanned(2);
    cntlr->setPreDisplayIndex(1);
    // Preview shown: a zoom past 1 rebuilds the page at full size first.
    host->slider->setDoubleValue(2.5);
    host->calls.clear();
    host->pages.changeScale(host->slider);
    EXPECT_EQ(host->count("preview:1:full"), 1);
    EXPECT_DOUBLE_EQ(host->preview->scaleValue(), 2.5);
    EXPECT_FLOAT_EQ(cntlr->previewScale(), 2.5f);
    // Another sender puts it back to fit.
    host->pages.changeScale(host->finishButton);
    EXPECT_DOUBLE_EQ(host->slider->doubleValue(), 1.0);
    EXPECT_FLOAT_EQ(cntlr->previewScale(), 1.0f);

    // Thumbnails only: the slider's value is the cell edge.
    host->pages.switchPreviewDisplay(host->previewToggle);
    ASSERT_FALSE(host->previewShown);
    EXPECT_DOUBLE_EQ(host->slider->minValue(), 39);
    EXPECT_DOUBLE_EQ(host->slider->maxValue(), 386);
    EXPECT_DOUBLE_EQ(host->slider->altIncrementValue(), 5);
    host->slider->setDoubleValue(120);
    host->pages.changeScale(host->slider);
    EXPECT_EQ(host->browser->cellSize(), QSize(120, 120));
    EXPECT_FLOAT_EQ(cntlr->previewCellSize(), 120.0f);

    // Reset without a sender.
    host->preview->setDegreeForRotate(12);
    host->pages.changeScale(nullptr);
    EXPECT_DOUBLE_EQ(host->preview->degreeForRotate(), 0);
    EXPECT_DOUBLE_EQ(host->slider->doubleValue(), 120);
}

TEST_F(MainWindowPagesTest, PreviewToggleKeepsZoomAndColumnAndSetsTexts) {
    scanned(3);
    host->columnWidth = 240;
    host->pages.switchPreviewDisplay(host->previewToggle);
    EXPECT_FALSE(host->previewShown);
    EXPECT_FLOAT_EQ(cntlr->scanThumbnailView_W(), 240.0f);
    EXPECT_FALSE(host->navigation->isVisible());
    EXPECT_FALSE(host->companion->isVisible());
    EXPECT_EQ(host->previewToggle->toolTip(), localized("Tooltip_ShowPreview"));
    EXPECT_EQ(host->previewToggle->text(), localized("Tooltip_ShowPreview"));
    host->browser->setZoomValue(0.7);

    host->columnWidth = 100;
    host->pages.switchPreviewDisplay(host->previewToggle);
    EXPECT_TRUE(host->previewShown);
    EXPECT_DOUBLE_EQ(qlr_main::MainWindowPages::rememberedThumbnailZoom(), 0.7);
    EXPECT_EQ(host->columnWidth, 240) << "the column's stored width";
    EXPECT_EQ(host->count("cellSize"), 1);
    EXPECT_TRUE(host->navigation->isVisible());
    EXPECT_DOUBLE_EQ(host->slider->minValue(), 1.0);
    EXPECT_DOUBLE_EQ(host->slider->maxValue(), 4.0);
    EXPECT_DOUBLE_EQ(host->slider->altIncrementValue(), 0.05);
    EXPECT_EQ(host->previewToggle->toolTip(), localized("Tooltip_HidePreview"));

    host->browser->setZoomValue(0.2);
    host->pages.switchPreviewDisplay(host->previewToggle);
    EXPECT_DOUBLE_EQ(host->browser->zoomValue(), 0.7) << "the remembered zoom comes back";
}

// A column of no width gives no zoom to compute: the browser keeps its own.
TEST_F(MainWindowPagesTest, ZeroWidthColumnKeepsTheCurrentZoom) {
    scanned(1);
    host->browser->setZoomValue(0.4);
    host->columnWidth = 0;
    qlr_main::MainWindowPages::resetRememberedThumbnailZoom();
    // Shown -> hidden without a remembered zoom.
    host->pages.switchPreviewDisplay(host->previewToggle);
    EXPECT_DOUBLE_EQ(host->browser->zoomValue(), 0.4);

    host->pages.switchPreviewDisplay(host->previewToggle);
    host->columnWidth = 0;
    qlr_main::MainWindowPages::resetRememberedThumbnailZoom();
    host->browser->setCellSize(QSize(0, 0));
    host->browser->setZoomValue(0.3);
    host->pages.switchPreviewDisplay(host->previewToggle);
    EXPECT_DOUBLE_EQ(host->browser->zoomValue(), 0.3);
}

TEST_F(MainWindowPagesTest, ScrollWheelScaleShowsOnTheSlider) {
    scanned(1);
    host->preview->setScaleValue(3.25);
    host->pages.scrollWheelDidChange();
    EXPECT_DOUBLE_EQ(host->slider->doubleValue(), 3.25);
}

} // namespace

APPTEST_MAIN()
