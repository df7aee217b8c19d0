// Screenshot scene of the real scan screen after a scan: five pages arrived
// as thumbnails through the program's main-window controller and its
// preview controller, page 3 chosen and shown, a job with two outputs (the
// output pagination shows).
#include "MainWindowNib.h"
#include "MainWindowScanController.h"

#include <AppMainCntlr.h>
#include <ImageIBView.h>
#include <JobModel.h>
#include <OutputModel.h>
#include <PageModels.h>
#include <PreviewRender.h>
#include <QlrUtilsMethodUI.h>
#include <TvAnimationImageView.h>

#include <foundation/RunLoop.h>
#include <ui/Screenshots.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>

#include <memory>

namespace {

struct PreviewSceneSet {
    std::unique_ptr<AppMainCntlr> cntlr;
    std::shared_ptr<qlr_main::MainWindowScanController> ui;
};

// A made-up page, a little different for each page number.
QImage scenePage(int number) {
    QImage page(425, 550, QImage::Format_RGB888);
    page.fill(QColor(0xFD, 0xFD, 0xFA));
    QPainter p(&page);
    p.fillRect(40, 40, 345, 36, QColor(0x2E, 0x4A, 0x7A).lighter(100 + 12 * number));
    for (int y = 100; y < 500; y += 17) {
        if (y >= 235 + 10 * number && y < 380) continue;
        p.fillRect(40, y, (y / 17 + number) % 5 == 4 ? 210 : 345, 6, QColor(0x70, 0x70, 0x70));
    }
    QLinearGradient sky(0, 240, 0, 370);
    sky.setColorAt(0, QColor(0x8C, 0xC8, 0xF0));
    sky.setColorAt(1, QColor(0xF0, 0xD0, 0x90));
    p.fillRect(40, 245 + 10 * number, 345, 125 - 10 * number, sky);
    p.setPen(QColor(0x20, 0x20, 0x20));
    p.drawText(QRect(40, 505, 345, 30), Qt::AlignCenter, QString::number(number));
    return page;
}

// A page record with its raw file (24-bit rows, no padding) and thumbnail.
std::shared_ptr<ImageInfoModel> scenePageRecord(const QString& folder, int number) {
    const QImage page = scenePage(number);
    const QString path = folder + QStringLiteral("/tmpImg_%1").arg(number);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const auto rowBytes = qint64(preview_render::rawLineBytes(page.width(), 24));
        for (int y = 0; y < page.height(); ++y) file.write(reinterpret_cast<const char*>(page.constScanLine(y)), rowBytes);
    }
    auto info = std::make_shared<ImageInfoModel>();
    info->setImgInfo_Width(page.width());
    info->setImgInfo_Height(page.height());
    info->setImgInfo_bpp(24);
    info->setImgInfo_TmpImagePath(path.toStdString());
    const QImage thumb = page.scaled(page.size() / 4, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    info->setImgInfo_PreThumbImage(std::make_shared<QlrUtilsMethod::QtImage>(QIcon(), thumb));
    return info;
}

PreviewSceneSet& sceneSet() {
    static PreviewSceneSet set;
    return set;
}

// The controller goes with the picture, before the application does.
void releaseSceneSet() {
    PreviewSceneSet& set = sceneSet();
    if (set.cntlr) {
        set.cntlr->setPreviewPort(nullptr);
        set.cntlr->setMainWindowPort(nullptr);
    }
    MainWindowCntlr::setProcessWindow(nullptr);
    set.ui.reset();
    set.cntlr.reset();
}

// A picture of the window, which the controller keeps owning.
QWidget* pictureOf(QWidget* window) {
    auto* picture = new QLabel;
    picture->setPixmap(window->grab());
    picture->resize(window->size());
    picture->setAttribute(Qt::WA_DontShowOnScreen);
    picture->show();
    window->hide();
    QObject::connect(picture, &QObject::destroyed, [] { releaseSceneSet(); });
    return picture;
}

// A new controller over a new window made ready as at start-up.
PreviewSceneSet& freshSceneSet() {
    releaseSceneSet();
    PreviewSceneSet& set = sceneSet();
    set.cntlr = std::make_unique<AppMainCntlr>();
    QMainWindow* window = qlr_main::MainWindowNib::load();
    window->move(0, 0);
    window->resize(1000, 660);
    set.ui = qlr_main::MainWindowScanController::install(*set.cntlr, window);
    set.ui->awakeFromNib();
    set.ui->setUpImageBrowsers();
    return set;
}

// The main view with its texts, menus and browsers made ready at start-up.
std::vector<QWidget*> mainTopWithTexts() {
    PreviewSceneSet& set = freshSceneSet();
    QWidget* window = set.ui->mainWindow();
    window->show();
    kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.01));
    return {pictureOf(window)};
}

std::vector<QWidget*> scanScreenAfterScan() {
    PreviewSceneSet& set = freshSceneSet();
    QWidget* window = set.ui->mainWindow();

    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    std::vector<std::shared_ptr<OutputModel>> outputs;
    for (const char* name : {"Receipts", "Archive"}) {
        auto output = std::make_shared<OutputModel>();
        output->setIsUseFNSetting(false);
        output->setFreeFileName(name);
        outputs.push_back(output);
    }
    job->setJobOutputModel_List(outputs);
    job->setIsImageProcess(true);
    job->setIsContinueScan(false);
    set.cntlr->setTmpCopyJobModel_Scan(job);

    const QString folder = QDir::tempPath() + QStringLiteral("/kd_scan_screen_scene");
    QDir().mkpath(folder);
    window->show();
    set.ui->scan().scanReadyByTwainCB();
    set.cntlr->setAppState(kAppStateScanning);
    for (int number = 1; number <= 5; ++number) set.cntlr->addImgInfo(scenePageRecord(folder, number));
    set.cntlr->setAppState(kAppStateScanFinished);
    if (auto* browser = set.ui->pageBrowser()) browser->setSelectionIndexes({2}, false);
    kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.01));
    if (auto* spinner = set.ui->animationImageView()) spinner->stopThreadAnimation();
    // The controller owns its window, while the tool deletes what a scene
    // returns: the scene hands over a picture of the window instead.
    return {pictureOf(window)};
}

} // namespace

KD_SCREENSHOT_SCENE(mainWindowScanScreenAfterScan, "main-window/scan-screen-after-scan", kdui::Direction::Both) {
    return scanScreenAfterScan();
}

KD_SCREENSHOT_SCENE(mainWindowTopWithTexts, "main-window/main-top-texts", kdui::Direction::Both) {
    return mainTopWithTexts();
}
