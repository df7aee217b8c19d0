// The controller's life cycle: its set-up, the application's moments from
// launching to termination, the main window's size and place, and the
// relaunch after a reset of the settings.
#include "AppMainCntlr.h"
#include "AppMainCntlrLaunch.h"

#include "MainWindowNib.h"
#include "QlrDeviceCntlr.h"

#include <AppMainCntlrSaveLoad.h>
#include <PluginRegistryQueries.h>
#include <QlrUtilsMethod.h>
#include <TV_FuncUI.h>
#include <TV_Message.h>

#include <desktop/Desktop.h>
#include <foundation/Bundle.h>
#include <foundation/File.h>
#include <foundation/Geometry.h>
#include <foundation/UserDefaults.h>
#include <ui/MenuTags.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Stored sizes are outside data: a value that is no finite, non-negative
// number counts as absent.
std::optional<double> storedExtent(std::string_view key) {
    auto value = kdf::UserDefaults::standard().real(key);
    if (!value || !std::isfinite(*value) || *value < 0) return std::nullopt;
    return value;
}

// Far beyond any screen, yet safe to turn into pixels.
constexpr double kLargestCoordinate = 1e6;

int pixels(double v) {
    return int(std::lround(std::clamp(v, -kLargestCoordinate, kLargestCoordinate)));
}

std::optional<QRect> storedFrame() {
    auto text = kdf::UserDefaults::standard().string(kMainWindowFrameKey);
    if (!text) return std::nullopt;
    auto rect = kdf::rectFromString(*text);
    if (!rect || rect->width <= 0 || rect->height <= 0) return std::nullopt;
    return QRect(pixels(rect->x), pixels(rect->y), pixels(rect->width), pixels(rect->height));
}

QWidget* pane(QWidget* window, const char* name) { return qlr_main::MainWindowNib::outlet(window, name); }

// The pane takes that extent along its split view; the other pane gets the
// rest.
void setPaneExtent(QWidget* paneView, int extent) {
    auto* split = paneView ? qobject_cast<QSplitter*>(paneView->parentWidget()) : nullptr;
    const bool vertical = split ? split->orientation() == Qt::Vertical : true;
    if (vertical)
        paneView->resize(paneView->width(), extent);
    else
        paneView->resize(extent, paneView->height());
    if (!split || split->count() != 2) return;
    const int index = split->indexOf(paneView);
    if (index < 0) return;
    // A split view never laid out (a screen not shown yet) is as small as a
    // new widget: it would squeeze the pane below the extent it must keep
    // until its screen is shown.
    if (!split->isVisible()) split->resize(split->size().expandedTo(split->window()->size()));
    // Growing the split view leaves this pane as it is.
    split->setStretchFactor(index, 0);
    split->setStretchFactor(1 - index, 1);
    QList<int> sizes = split->sizes();
    int total = sizes.value(0) + sizes.value(1);
    const int span = vertical ? split->height() : split->width();
    total = std::max({total, span, extent + 1});
    sizes = {0, 0};
    sizes[index] = extent;
    sizes[1 - index] = total - extent;
    split->setSizes(sizes);
}

void deleteMenu(QMenu* menu) { delete menu; }

} // namespace

// ---- The controller's set-up ------------------------------------------------------------------

bool AppMainCntlr::init() {
    try {
        setAppleEvent();

        QlrDeviceCntlr* device = QlrDeviceCntlr::sharedDeviceCntlr();
        setDeviceCntlr(device);
        if (device) device->setAirPrintDsPath(pathOfApDriver());

        auto model = std::make_shared<AppModel>(nullptr);
        setAppModel(model);

        PluginRegistryQueries::setupPluginInfoList(model.get());

        createIDInPluginWithOutputModelList(model->outputModel_List());
        for (const auto& job : model->jobModel_List())
            if (job) createIDInPluginWithOutputModelList(job->jobOutputModel_List());

        setIsTerminateByInitInPrefs(false);
        storeAppState(kAppStateMainTop);
        dialogsPort()->createSharedDialogs();
        setKdMainWin(nullptr);
        setKdSubWin(nullptr);
        for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType})
            for (bool isBack : {false, true}) {
                auto* menu = new QMenu;
                kdui::setAutoenablesItems(menu, false);
                setPanelMenu(type, isBack, menu);
            }
        auto* scanMenu = new QMenu;
        kdui::setAutoenablesItems(scanMenu, false);
        setScanPanelMenu(scanMenu);
        mainWindowPort()->createIBViewMenu();
        mainWindowPort()->createPreviewIBViewMenu();
        setPreImageModel_List({});
        setPreDisplayIndex(-1);
        setPreviewScale(1.0f);
        setPreviewCellSize(126.0f);
        setIsAutoCloseApp(false);
        resetReadImgFileForJobScnCount();
        setIsScnCancelOnMain(false);
        setIsErrInFinalOutput(false);
        setIsWriteFileCancel(false);
        setIsOpenPDF(false);
        setIsShowedPluginWin(false);
        setScanThumbnailView_W(0.0f);
        setDummyWindow(nullptr);

        setUpNotification();
        QlrDeviceCntlr::setApplicationDelegate(this);
        return true;
    } catch (...) {
        TV_Message::showErrorPanel(std::current_exception());
        return false;
    }
}

// ---- Launching --------------------------------------------------------------------------------

void AppMainCntlr::applicationWillFinishLaunching() {
    PluginRegistryQueries::checkPluginAndSetup();
    checkImportLegacyData();
    setIsInitialized(true);
    mainWindowPort()->setUpImageBrowsers();
    mainWindowPort()->updateMainTopDisplay(false, false);
    mainWindowPort()->initEditImageView();
    showMainWindow();
}

void AppMainCntlr::showMainWindow() {
    QWidget* window = mainWindow();
    if (!window) return;
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();

    const QSize minimum(kMainWindowMinWidth, kMainWindowMinHeight);
    window->setMinimumSize(minimum);
    window->setMaximumSize((screen ? screen->geometry().size() : minimum).expandedTo(minimum));

    if (auto frame = storedFrame()) {
        window->setGeometry(*frame);
        TV_Func::windowPositionAdjustment(window, nullptr, TV_Func::kAlignKeepInside);
    } else {
        const QRect visible = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), minimum);
        window->setGeometry(QRect(visible.topLeft(), QSize(kMainWindowDefaultWidth, kMainWindowDefaultHeight)));
        TV_Func::windowPositionAdjustment(window, nullptr, TV_Func::kAlignCentre);
    }

    const double h = storedExtent(kStep1SplitSubViewHKey).value_or(kDefaultStep1PaneHeight);
    const double w = std::max(storedExtent(kThumbnailSplitSubViewWKey).value_or(kDefaultThumbnailPaneWidth),
                              kMinThumbnailPaneWidth);
    if (QWidget* step1 = pane(window, qlr_main::kTopStepScanStep1SplitSubView)) setPaneExtent(step1, pixels(h));
    if (QWidget* thumbs = pane(window, qlr_main::kScanThumbnailSplitSubView))
        setPaneExtent(thumbs, pixels(std::min(w, kMaxThumbnailPaneWidth)));

    if (launchType() == 2) {
        // Started by a scanner button: the job runs at once, and with the
        // preference the window stays invisible and the application quits
        // after it.
        auto prefs = prefsModel();
        if (prefs && prefs->isHideAppStartFromButton()) {
            setIsAutoCloseApp(true);
            window->setWindowOpacity(0.0);
        }
        scanFromTuvoDeviceBtn(0, btnStatus(), false);
    }

    window->show();
    window->raise();
    window->activateWindow();
}

void AppMainCntlr::applicationDidFinishLaunching() {
    if (!isMainTopState()) return;
    setIsAutoCloseApp(false);
    auto& defaults = kdf::UserDefaults::standard();
    if (defaults.boolean(kIsShowedNavigationKey).value_or(false)) return;
    mainWindowPort()->showQlrNavigation();
    defaults.set(kIsShowedNavigationKey, kdf::Value(true));
}

void AppMainCntlr::applicationDidBecomeActive() {
    if (!dummyWindow()) return;
    QTimer::singleShot(100, [] {
        if (AppMainCntlr* cntlr = AppMainCntlr::current()) cntlr->activateTuvoApp();
    });
}

void AppMainCntlr::activateTuvoApp() {
    // The companion's own chooser is already in front of its user; there is
    // no portable request to raise another program's window on Linux.
    if (auto path = QlrUtilsMethod::targetAppPath()) (void)QlrUtilsMethod::isLaunchedApp(*path);
}

// ---- Quitting ---------------------------------------------------------------------------------

bool AppMainCntlr::applicationShouldTerminate() {
    if (isValidAppTerminate()) return true;
    setIsTerminateByInitInPrefs(false);
    return false;
}

bool AppMainCntlr::windowShouldClose(QWidget* window) {
    if (!isValidAppTerminate()) return false;
    if (window && window == mainWindow()) performTerminate();
    return true;
}

void AppMainCntlr::applicationWillTerminate() {
    auto& defaults = kdf::UserDefaults::standard();
    QWidget* window = mainWindow();
    kdf::Rect frame;
    if (window) {
        const QRect g = window->geometry();
        frame = {double(g.x()), double(g.y()), double(g.width()), double(g.height())};
    }
    defaults.set(kMainWindowFrameKey, kdf::Value(kdf::stringFromRect(frame)));
    QWidget* step1 = pane(window, qlr_main::kTopStepScanStep1SplitSubView);
    defaults.set(kStep1SplitSubViewHKey, kdf::Value(double(step1 ? step1->height() : 0)));
    if (scanThumbnailView_W() == 0.0f) {
        QWidget* thumbs = pane(window, qlr_main::kScanThumbnailSplitSubView);
        setScanThumbnailView_W(float(thumbs ? thumbs->width() : 0));
    }
    defaults.set(kThumbnailSplitSubViewWKey, kdf::Value(double(scanThumbnailView_W())));

    saveAppSettingForLogin();
    releaseImgInfoArray(false);
    QlrUtilsMethod::removeTmpFolder();

    setTargetForAE(std::string());
    setPreImageModel_List({});
    setEditImageInfoModel(nullptr);
    setPreImagePanelModel(nullptr);
    setRevertPreviewImage({});
    setRevertPreThumbImage({});
    setTmpPanelModel_Setting(nullptr);
    setTmpCopyInputModel_Setting(nullptr);
    setTmpCopyJobModel_Scan(nullptr);
    setTmpJobModel_Complete(nullptr);
    for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType})
        for (bool isBack : {false, true}) {
            deleteMenu(panelMenu(type, isBack));
            setPanelMenu(type, isBack, nullptr);
        }
    deleteMenu(scanPanelMenu());
    setScanPanelMenu(nullptr);

    PluginRegistryQueries::connectOrDisconnectForAllPlugin(false);

    if (auto model = appModel()) model->saveAppModel(nullptr);
    setAppModel(nullptr);

    dialogsPort()->terminatePrefsCntlr();
    dialogsPort()->terminateFileNameSettingCntlr();
    dialogsPort()->terminateFileOptionSettingCntlr();

    delete cornerView();
    setCornerView(nullptr);
    mainWindowPort()->clearIconCache();
    observers_.clear();

    AppMainCntlrSaveLoad::saveFileVersionToFile(&defaults);
    defaults.synchronize();

    if (!isTerminateByInitInPrefs()) return;
    // The reset: every setting goes, the file version too, so the next
    // start begins from the presets.
    defaults.setPersistentDomain(kdf::Dictionary{}, defaults.domain());
    auto bundle = kdf::Bundle::main();
    if (!bundle) return;
    const std::string helper = kdf::joinPath(kdf::joinPath(bundle->path(), kSharedSupportFolderName),
                                             kRelaunchHelperName);
    if (!kdf::isRegularFile(helper)) return;
    (void)kdd::spawnDetached(helper, {bundle->path()});
}
