// The preview controller on a stand-in scan screen with a fake page list:
// arriving pages, the counter, the controls, the scan information with its
// output pagination, and the preview pictures it makes from page files.
#include "support/ScanScreenStandIn.h"

#include "KitTestSupport.h"

#include "JobModel.h"
#include "PageModels.h"
#include "PanelModel.h"
#include "PreviewCntlr.h"
#include "PreviewRender.h"
#include "QlrUtilsMethodUI.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using testing::HasSubstr;

using preview_test::FakePages;

class FakeNeighbours : public PreviewNeighbours {
public:
    int changeScales = 0;
    int cancels = 0;
    int reverts = 0;
    std::vector<std::string> states;
    std::optional<QSize> resizedTo;

    void changeScale() override { ++changeScales; }
    void cancelEditingImage() override { ++cancels; }
    void revertEditingImage() override { ++reverts; }
    QImage resizeImage(const QImage& image, QSize size) override {
        resizedTo = size;
        return PreviewNeighbours::resizeImage(image, size);
    }
    void setStateInfoStrForProcWin(const std::optional<std::string>& state,
                                   const std::optional<std::string>& info) override {
        EXPECT_FALSE(info);
        states.push_back(state.value_or("(none)"));
    }
};

std::filesystem::path tempDir() {
    static const auto dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("preview_cntlr_" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::string writeRaw(const std::string& name, std::size_t bytes, std::uint8_t value) {
    const std::string path = (tempDir() / name).string();
    std::ofstream file(path, std::ios::binary);
    const std::vector<char> data(bytes, char(value));
    file.write(data.data(), std::streamsize(data.size()));
    return path;
}

QlrUtilsMethod::ImageRef thumbnail(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return std::make_shared<QlrUtilsMethod::QtImage>(QIcon(), image);
}

// A page with a raw file of one gray value.
std::shared_ptr<ImageInfoModel> rawPage(const std::string& name, int width, int height, int bpp, std::uint8_t value) {
    auto page = std::make_shared<ImageInfoModel>();
    page->setImgInfo_Width(width);
    page->setImgInfo_Height(height);
    page->setImgInfo_bpp(bpp);
    page->setImgInfo_TmpImagePath(
        writeRaw(name, preview_render::rawLineBytes(width, bpp) * std::size_t(height), value));
    return page;
}

std::shared_ptr<JobModel> jobWithOutputs(int count, int outputIndex) {
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    std::vector<std::shared_ptr<OutputModel>> outputs;
    for (int i = 0; i < count; ++i) {
        auto output = std::make_shared<OutputModel>();
        output->setIsUseFNSetting(false);
        output->setFreeFileName("Output" + std::to_string(i + 1));
        outputs.push_back(output);
    }
    job->setJobOutputModel_List(outputs);
    job->setOutputIndex(outputIndex);
    return job;
}

struct Fixture {
    preview_test::ScanScreenStandIn screen = preview_test::makeScanScreen();
    std::unique_ptr<QWidget> owner{screen.content};
    std::shared_ptr<FakePages> pages = std::make_shared<FakePages>();
    std::shared_ptr<FakeNeighbours> neighbours = std::make_shared<FakeNeighbours>();
    PreviewCntlr cntlr{pages, neighbours, screen.outlets()};

    Fixture() {
        screen.content->show();
        QApplication::processEvents();
    }

    // A page arriving with a thumbnail as in a scan.
    std::shared_ptr<ImageInfoModel> arrive(QColor colour = Qt::blue) {
        auto page = std::make_shared<ImageInfoModel>();
        page->setImgInfo_Width(1700);
        page->setImgInfo_Height(2200);
        page->setImgInfo_bpp(24);
        page->setImgInfo_PreThumbImage(thumbnail(QSize(85, 110), colour));
        pages->pages.push_back(page);
        cntlr.displayOfPreview(PageParam{int(pages->pages.size()) - 1, page});
        return page;
    }

    QString text(QWidget* control) const {
        if (auto* field = qobject_cast<QLineEdit*>(control)) return field->text();
        return qobject_cast<QLabel*>(control)->text();
    }
    QWidget* tagged(int tag) const { return QlrUtilsMethod::itemInViewFromTag(screen.content, tag); }
};

TEST(PreviewCntlr, ArrivingPagesBecomeItemsTheLastShownAndSelected) {
    Fixture f;
    std::vector<std::shared_ptr<ImageInfoModel>> arrived;
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (const QColor& colour : colours) arrived.push_back(f.arrive(colour));

    ASSERT_EQ(f.pages->items.size(), 3u);
    EXPECT_EQ(f.pages->shown, 2);
    EXPECT_EQ(f.screen.browser->numberOfItems(), 3);
    EXPECT_EQ(f.screen.browser->selectionIndexes(), kdui::IndexSet{2});
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.pages->items[std::size_t(i)]->isSelected(), i == 2);
        // The page let go of its thumbnail; the item kept a copy.
        EXPECT_FALSE(arrived[std::size_t(i)]->imgInfo_PreThumbImage());
        const QImage kept = QlrUtilsMethod::imageOf(f.pages->items[std::size_t(i)]->dispImage());
        ASSERT_FALSE(kept.isNull());
        EXPECT_EQ(kept.pixelColor(4, 4), colours[i]);
    }
    // The process window counts the items.
    ASSERT_EQ(f.neighbours->states.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_THAT(f.neighbours->states[std::size_t(i)], HasSubstr(std::to_string(i + 1)));
    // The preview shows the last thumbnail at its own size, the page's size
    // as the real one.
    EXPECT_EQ(f.screen.preview->previewImage().pixelColor(4, 4), QColor(Qt::blue));
    EXPECT_EQ(f.screen.preview->srcFitImageSize(), QSizeF(85, 110));
    EXPECT_EQ(f.screen.preview->realImageSize(), QSizeF(1700, 2200));
    EXPECT_EQ(f.text(f.screen.pageField), "3");
    EXPECT_EQ(f.text(f.screen.pageCount), "/3");
}

TEST(PreviewCntlr, OnlyAWholeArrivalCounts) {
    Fixture f;
    auto page = std::make_shared<ImageInfoModel>();
    page->setImgInfo_PreThumbImage(thumbnail(QSize(10, 10), Qt::red));
    f.cntlr.displayOfPreview(PageParam{-1, page});
    f.cntlr.displayOfPreview(PageParam{0, nullptr});
    auto bare = std::make_shared<ImageInfoModel>();
    f.cntlr.displayOfPreview(PageParam{0, bare});
    EXPECT_TRUE(f.pages->items.empty());
    EXPECT_EQ(f.pages->shown, -1);
    EXPECT_TRUE(f.neighbours->states.empty());
    EXPECT_TRUE(page->imgInfo_PreThumbImage());
}

TEST(PreviewCntlr, TheLastThumbnailIsScrolledIntoView) {
    Fixture f;
    for (int i = 0; i < 8; ++i) f.arrive();
    QScrollBar* bar = f.screen.browser->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(f.screen.browser->viewport()->rect().contains(f.screen.browser->itemFrameAtIndex(7)));
}

TEST(PreviewCntlr, CounterByLayoutDirection) {
    for (bool rtl : {false, true}) {
        SCOPED_TRACE(rtl);
        std::optional<kittest::RightToLeft> direction;
        if (rtl) direction.emplace();
        Fixture f;
        f.cntlr.updatePageDisplay();
        EXPECT_EQ(f.text(f.screen.pageField), "");
        EXPECT_EQ(f.text(f.screen.pageCount), "");
        f.arrive();
        f.arrive();
        f.pages->shown = 0;
        f.cntlr.updatePageDisplay();
        EXPECT_EQ(f.text(f.screen.pageField), "1");
        EXPECT_EQ(f.text(f.screen.pageCount), rtl ? "2/" : "/2");
        EXPECT_TRUE(f.pages->items[0]->isSelected());
        EXPECT_FALSE(f.pages->items[1]->isSelected());
    }
}

TEST(PreviewCntlr, ControlsFollowTheThumbnails) {
    Fixture f;
    const int tags[] = {4100, 4200, 4300, 4042, 4020};
    f.cntlr.updateControls();
    for (int tag : tags) EXPECT_FALSE(f.tagged(tag)->isEnabled()) << tag;
    EXPECT_EQ(f.neighbours->cancels, 1);
    f.arrive();
    f.cntlr.updateControls();
    for (int tag : tags) EXPECT_TRUE(f.tagged(tag)->isEnabled()) << tag;
    EXPECT_EQ(f.neighbours->cancels, 1);

    // The page list shrank: the items follow it.
    f.arrive();
    f.arrive();
    f.pages->pages.resize(1);
    f.cntlr.renewTempArrayOfPre();
    EXPECT_EQ(f.pages->items.size(), 1u);
    f.pages->pages.clear();
    f.cntlr.renewTempArrayOfPre();
    EXPECT_TRUE(f.pages->items.empty());
    for (int tag : tags) EXPECT_FALSE(f.tagged(tag)->isEnabled()) << tag;
    EXPECT_EQ(f.neighbours->cancels, 2);
}

TEST(PreviewCntlr, PaginationMovesWithinTheOutputsNotYetProcessed) {
    Fixture f;
    f.pages->job = jobWithOutputs(3, 1);
    struct Step {
        QString field;
        QPushButton* sender;
        QString shown;
    };
    const Step steps[] = {
        {"3", f.screen.nextOutput, "2"},     // past the last: back to the current
        {"2", f.screen.previousOutput, "3"}, // before the current: to the last
        {"2", f.screen.nextOutput, "3"},
        {"3", f.screen.previousOutput, "2"},
        {"9", f.screen.nextOutput, "2"},     // out of range counts as the first
        {"3", nullptr, "2"},                 // no button: the current output
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.field.toStdString());
        f.screen.outputField->setText(step.field);
        f.cntlr.setCurrentOutputBySender(step.sender);
        EXPECT_EQ(f.screen.outputField->text(), step.shown);
        EXPECT_EQ(f.text(f.tagged(4035)), "Output" + step.shown + ".pdf");
    }
    // The port's call with no button.
    f.screen.outputField->setText("3");
    f.cntlr.setCurrentOutput(0);
    EXPECT_EQ(f.screen.outputField->text(), "2");
    f.cntlr.setCurrentOutput(PreviewCntlr::kNextOutputButton);
    EXPECT_EQ(f.screen.outputField->text(), "3");
}

TEST(PreviewCntlr, ScanInformationAndTheOutputBoxByOutputCount) {
    for (bool rtl : {false, true}) {
        SCOPED_TRACE(rtl);
        std::optional<kittest::RightToLeft> direction;
        if (rtl) direction.emplace();
        Fixture f;
        QWidget* box = f.screen.outputBox;
        QWidget* group = f.screen.pagination;

        f.pages->job = jobWithOutputs(2, 0);
        auto outputs = f.pages->job->jobOutputModel_List();
        outputs[1]->setPluginID("com.example.nowhere");
        f.cntlr.showScanInfo();
        EXPECT_FALSE(group->isHidden());
        EXPECT_EQ(f.screen.outputField->text(), "1");
        EXPECT_EQ(f.text(f.tagged(4034)), "Save to file");
        EXPECT_EQ(f.text(f.tagged(4031)), QString::fromStdString(InputModel().dispColorMode()));
        EXPECT_EQ(f.text(f.tagged(4032)), QString::fromStdString(InputModel().dispReaderSide()));
        if (rtl)
            EXPECT_EQ(box->x(), group->x() + group->width() + 7);
        else
            EXPECT_EQ(box->x() + box->width(), group->x() - 7);
        const QRect kept = box->geometry();

        // An output of a plug-in that is not loaded: no title.
        f.screen.outputField->setText("2");
        f.cntlr.showScanInfo();
        EXPECT_EQ(f.text(f.tagged(4034)), "");
        EXPECT_EQ(box->geometry(), kept);

        // One output: no pagination, the box reaches the group's far edge.
        f.pages->job = jobWithOutputs(1, 0);
        f.cntlr.showScanInfo();
        EXPECT_TRUE(group->isHidden());
        if (rtl) {
            EXPECT_EQ(box->x(), group->x());
            EXPECT_EQ(box->x() + box->width(), kept.x() + kept.width());
        } else {
            EXPECT_EQ(box->x() + box->width(), group->x() + group->width());
            EXPECT_EQ(box->x(), kept.x());
        }
        EXPECT_EQ(f.text(f.tagged(4035)), "Output1.pdf");

        // None: the output fields stay empty and the pagination keeps still.
        f.pages->job = jobWithOutputs(0, 0);
        f.screen.outputField->setText("1");
        f.cntlr.setCurrentOutput(0);
        EXPECT_EQ(f.screen.outputField->text(), "1");
        EXPECT_EQ(f.text(f.tagged(4034)), "");
        EXPECT_EQ(f.text(f.tagged(4035)), "");
        EXPECT_TRUE(group->isHidden());
    }
}

TEST(PreviewCntlr, PreviewFromTheRawFileFittedOrEnlarged) {
    Fixture f;
    const QSizeF area = f.cntlr.availableArea();
    const QRect usable = f.screen.content->screen()->availableGeometry();
    EXPECT_EQ(area, QSizeF(usable.width() - 97 - 46, usable.height() - 44 - 56 - 46));

    // Smaller than the area: its own size fitted, four times enlarged.
    f.pages->pages = {rawPage("small8", 120, 90, 8, 0x40), rawPage("small1", 120, 90, 1, 0x00)};
    PreviewBaseView* view = f.screen.preview;
    f.cntlr.createPreviewImage(0, true);
    EXPECT_EQ(view->previewImage().size(), QSize(120, 90));
    EXPECT_EQ(view->previewImage().pixelColor(60, 45), QColor(0x40, 0x40, 0x40));
    EXPECT_FALSE(view->isExpanded());
    EXPECT_EQ(view->srcFitImageSize(), QSizeF(120, 90));
    EXPECT_EQ(view->realImageSize(), QSizeF(120, 90));
    f.cntlr.createPreviewImage(0, false);
    EXPECT_EQ(view->previewImage().size(), QSize(480, 360));
    EXPECT_TRUE(view->isExpanded());
    // Enlarged already: asking again for an enlarged picture changes nothing.
    f.cntlr.createPreviewImage(1, false);
    EXPECT_EQ(view->previewImage().format(), QImage::Format_Grayscale8);
    // A 1-bit page is enlarged even when fitted.
    f.cntlr.createPreviewImage(1, true);
    EXPECT_EQ(view->previewImage().size(), QSize(480, 360));
    EXPECT_EQ(view->previewImage().pixelColor(10, 10), QColor(Qt::black));
    EXPECT_FALSE(view->isExpanded());

    // Larger than the area: fitted into it keeping the ratio.
    const int tall = int(area.height()) * 3;
    f.pages->pages.push_back(rawPage("large24", tall / 2, tall, 24, 0x80));
    f.cntlr.createPreviewImage(2, true);
    const QSize shown = view->previewImage().size();
    EXPECT_EQ(shown.height(), int(std::ceil(area.height())));
    EXPECT_NEAR(shown.width(), shown.height() / 2.0, 1);
    EXPECT_EQ(view->previewImage().format(), QImage::Format_RGB888);
    EXPECT_EQ(view->realImageSize(), QSizeF(tall / 2, tall));
}

TEST(PreviewCntlr, BadPagesLeaveTheOldPreview) {
    Fixture f;
    f.pages->pages = {rawPage("good", 50, 40, 8, 0x20)};
    f.cntlr.createPreviewImage(0, true);
    const QImage before = f.screen.preview->previewImage();
    ASSERT_FALSE(before.isNull());

    auto depth16 = rawPage("depth16", 50, 40, 8, 0x90);
    depth16->setImgInfo_bpp(16);
    auto missing = rawPage("missing", 50, 40, 8, 0x90);
    std::filesystem::remove(missing->imgInfo_TmpImagePath());
    // Rows of 6 GB: refused before anything is allocated or read.
    auto huge = rawPage("huge", 50, 40, 24, 0x90);
    huge->setImgInfo_Width(INT_MAX);
    huge->setImgInfo_Height(INT_MAX);
    auto empty = rawPage("empty", 50, 40, 8, 0x90);
    empty->setImgInfo_Width(0);
    f.pages->pages.insert(f.pages->pages.end(), {depth16, missing, huge, empty});
    for (int index : {1, 2, 3, 4, 7, -1}) {
        SCOPED_TRACE(index);
        f.cntlr.createPreviewImage(index, true);
        EXPECT_EQ(f.screen.preview->previewImage(), before);
    }
}

TEST(PreviewCntlr, AnEditedPageIsDrawnFromItsFile) {
    Fixture f;
    auto page = rawPage("edited_raw", 50, 40, 8, 0x20);
    QImage edited(200, 100, QImage::Format_RGB32);
    edited.fill(QColor(0x10, 0xA0, 0x30));
    const std::string path = (tempDir() / "dstImg_0").string();
    ASSERT_TRUE(edited.save(QString::fromStdString(path), "PNG"));
    page->setImgInfo_DstImagePath(path);
    f.pages->pages = {page};

    f.cntlr.createPreviewImage(0, false);
    ASSERT_TRUE(f.neighbours->resizedTo);
    EXPECT_EQ(*f.neighbours->resizedTo, QSize(800, 400));
    EXPECT_EQ(f.screen.preview->previewImage().size(), QSize(800, 400));
    EXPECT_EQ(f.screen.preview->previewImage().pixelColor(5, 5), QColor(0x10, 0xA0, 0x30));
    EXPECT_EQ(f.screen.preview->realImageSize(), QSizeF(200, 100));
    EXPECT_EQ(f.screen.preview->srcFitImageSize(), QSizeF(200, 100));
    EXPECT_TRUE(f.screen.preview->isExpanded());

    // An edited file that does not load: the raw page is drawn.
    std::ofstream(path, std::ios::trunc) << "not a picture";
    f.cntlr.createPreviewImage(0, true);
    EXPECT_EQ(f.screen.preview->previewImage().size(), QSize(50, 40));
    EXPECT_EQ(f.screen.preview->previewImage().pixelColor(5, 5), QColor(0x20, 0x20, 0x20));
}

TEST(PreviewCntlr, ScanStartDrawsFastScanEndRendersTheShownPage) {
    Fixture f;
    f.pages->job = jobWithOutputs(2, 0);
    f.cntlr.setupPreviewByStartScan();
    EXPECT_FALSE(f.screen.preview->isUseHighQualityInDraw());
    EXPECT_EQ(f.neighbours->changeScales, 1);
    EXPECT_EQ(f.text(f.tagged(4035)), "Output1.pdf");

    f.arrive();
    auto page = f.pages->pages[0];
    page->setImgInfo_Width(64);
    page->setImgInfo_Height(48);
    page->setImgInfo_bpp(8);
    page->setImgInfo_TmpImagePath(writeRaw("end", 64 * 48, 0x70));
    f.cntlr.restorePreviewByEndScan();
    EXPECT_TRUE(f.screen.preview->isUseHighQualityInDraw());
    EXPECT_EQ(f.screen.preview->previewImage().size(), QSize(64, 48));
    EXPECT_EQ(f.screen.preview->previewImage().pixelColor(1, 1), QColor(0x70, 0x70, 0x70));
}

TEST(PreviewCntlr, AChosenThumbnailIsShownOutsideTheScan) {
    Fixture f;
    f.arrive();
    f.arrive();
    f.pages->pages[0] = rawPage("chosen", 30, 20, 8, 0x55);
    f.pages->scanning = true;
    f.screen.browser->setSelectionIndexes(kdui::IndexSet{0}, false);
    EXPECT_EQ(f.pages->shown, 1);

    f.pages->scanning = false;
    f.screen.browser->setSelectionIndexes(kdui::IndexSet{1}, false);
    f.screen.browser->setSelectionIndexes(kdui::IndexSet{0}, false);
    EXPECT_EQ(f.pages->shown, 0);
    EXPECT_EQ(f.neighbours->reverts, 1);
    EXPECT_EQ(f.neighbours->changeScales, 1);
    EXPECT_EQ(f.screen.preview->previewImage().pixelColor(3, 3), QColor(0x55, 0x55, 0x55));
    EXPECT_EQ(f.text(f.screen.pageField), "1");
    EXPECT_TRUE(f.pages->items[0]->isSelected());
    EXPECT_FALSE(f.pages->items[1]->isSelected());
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
