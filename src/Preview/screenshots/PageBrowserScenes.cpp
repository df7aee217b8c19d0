// Screenshot scenes of the scan screen's page side: five pages arrived,
// page 3 shown and chosen in the browser, a job with two outputs, in both
// layout directions; and the browser's cells alone (selected, shown, plain
// and waiting for their picture).
#include "../tests/support/ScanScreenStandIn.h"

#include "JobModel.h"
#include "PageModels.h"
#include "PanelModel.h"
#include "PreviewCntlr.h"
#include "QlrUtilsMethodUI.h"

#include <ui/Screenshots.h>

#include <QPainter>
#include <QScrollBar>

#include <memory>
#include <vector>

namespace {

// A made-up page with its number large in the middle.
QImage scenePage(int number, QSize size) {
    QImage page(size, QImage::Format_RGB888);
    page.fill(QColor(0xFB, 0xFB, 0xF7));
    QPainter p(&page);
    const double u = size.width() / 100.0;
    p.fillRect(QRectF(8 * u, 8 * u, 84 * u, 9 * u), QColor(0x2E, 0x4A, 0x7A));
    for (int i = 0; i < 14; ++i) {
        const double y = 24 * u + i * 6.5 * u;
        if (y > size.height() - 10 * u) break;
        p.fillRect(QRectF(8 * u, y, (i % 4 == 3 ? 50 : 84) * u, 2 * u), QColor(0x80, 0x80, 0x80));
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(int(40 * u));
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0xC0, 0x40, 0x30));
    p.drawText(QRectF(0, 0, size.width(), size.height()), Qt::AlignCenter, QString::number(number));
    return page;
}

std::shared_ptr<JobModel> twoOutputJob() {
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    // Names without date and time, so every picture is the same.
    auto first = std::make_shared<OutputModel>();
    first->setFreeFileName("Minutes");
    first->setIsUseFNSetting(false);
    auto second = std::make_shared<OutputModel>();
    second->setFreeFileName("Archive");
    second->setIsUseFNSetting(false);
    job->setJobOutputModel_List({first, second});
    return job;
}

struct PageScene {
    preview_test::ScanScreenStandIn screen;
    std::shared_ptr<preview_test::FakePages> pages = std::make_shared<preview_test::FakePages>();
    std::shared_ptr<PreviewCntlr> cntlr;
};

// Five pages arrive as in a scan; then page 3 is chosen.
PageScene* fivePages() {
    auto* scene = new PageScene;
    scene->screen = preview_test::makeScanScreen();
    scene->pages->job = twoOutputJob();
    scene->cntlr = std::make_shared<PreviewCntlr>(scene->pages, nullptr, scene->screen.outlets());
    for (int i = 0; i < 5; ++i) {
        auto page = std::make_shared<ImageInfoModel>();
        const QSize size = i == 3 ? QSize(140, 100) : QSize(100, 140);
        page->setImgInfo_Width(size.width() * 17);
        page->setImgInfo_Height(size.height() * 17);
        page->setImgInfo_bpp(24);
        page->setImgInfo_PreThumbImage(std::make_shared<QlrUtilsMethod::QtImage>(QIcon(), scenePage(i + 1, size)));
        scene->pages->pages.push_back(page);
        scene->cntlr->displayOfPreview(PageParam{i, page});
    }
    scene->cntlr->restorePreviewByEndScan();
    scene->cntlr->showScanInfo();
    scene->screen.browser->setSelectionIndexes(kdui::IndexSet{2}, false);
    // The controller lives as long as the screen.
    QObject::connect(scene->screen.content, &QObject::destroyed, [scene] { delete scene; });
    return scene;
}

} // namespace

KD_SCREENSHOT_SCENE(previewPagesFive, "preview/pages-five-page3-two-outputs", kdui::Direction::Both) {
    PageScene* scene = fivePages();
    // The pages have no raw files here: the preview shows page 3 drawn
    // large, as its rendering would.
    const QImage page3 = scenePage(3, QSize(500, 700));
    scene->screen.preview->setSrcFitImageSize(QSizeF(page3.size()));
    scene->screen.preview->setRealImageSize(QSizeF(page3.size()));
    scene->screen.preview->setPreviewImage(page3);
    // Page 3 in the middle of the column.
    QScrollBar* bar = scene->screen.browser->verticalScrollBar();
    bar->setValue(bar->value() + scene->screen.browser->itemFrameAtIndex(1).center().y());
    scene->screen.browser->setFocus();
    return {scene->screen.content};
}

namespace {

// Four cells: shown and selected, selected, plain, waiting for its picture.
class CellSource : public ImageIBViewDataSource {
public:
    int numberOfItems(kdui::ImageBrowserView&) override { return 4; }
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView&, int index) override {
        if (index == 3) return {QImage(), QString::number(index + 1)};
        return {scenePage(index + 1, index == 1 ? QSize(140, 100) : QSize(100, 140)), QString::number(index + 1)};
    }
    bool isShownItem(kdui::ImageBrowserView&, int index) override { return index == 0; }
};

} // namespace

KD_SCREENSHOT_SCENE(previewPageCells, "preview/page-browser-cells", kdui::Direction::Both) {
    auto* browser = new ImageIBView;
    auto* source = new CellSource;
    QObject::connect(browser, &QObject::destroyed, [source] { delete source; });
    browser->resize(340, 380);
    browser->setCellSize(QSize(150, 170));
    browser->setIntercellSpacing(QSize(10, 10));
    browser->setCellsTitled(true);
    browser->setAllowsMultipleSelection(true);
    browser->setBackgroundColor(QColor(0xA0, 0xA0, 0xA0));
    browser->setDataSource(source);
    browser->setSelectionIndexes(kdui::IndexSet{0, 1}, false);
    return {browser};
}
