#include "KdSettingsController.h"

#include "BundleImages.h"
#include "FormLoading.h"
#include "ItemFunctions.h"
#include "RollOver.h"
#include "ScrollableView.h"
#include "ShieldWindow.h"
#include "ui_KdMainWindow.h"
#include "ui_KdProgressPanel.h"

#include "CapData.h"
#include "CapHelpers.h"
#include "KdTwainCustom.h"

#include <desktop/Desktop.h>
#include <foundation/Bundle.h>
#include <foundation/Format.h>
#include <foundation/NotificationCenter.h>
#include <foundation/Preferences.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

namespace ComTavrolekKD720 {

namespace {

constexpr const char* kWindowFrameKey = "WindowFrame";
constexpr const char* kSetupSequenceWindowFrameKey = "SetupSequenceWindowFrame";
constexpr const char* kSettingModeKey = "SettingMode";

// The bundle this code was loaded from (the window's), and the data
// source's (the module holding the exported helpers).
std::string& stringsBundlePath() {
    static std::string path;
    return path;
}

std::shared_ptr<const kdf::Bundle> windowBundle() {
    if (!stringsBundlePath().empty()) return kdf::Bundle::atPath(stringsBundlePath());
    static const int anchor = 0;
    return kdf::Bundle::containingAddress(&anchor);
}

std::shared_ptr<const kdf::Bundle> dataSourceBundle() {
    return kdf::Bundle::containingAddress(reinterpret_cast<const void*>(&GetCapUIntValue));
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Texts of the forms are keys: each label, button and tab is looked up.
void localizeTree(QWidget* root) {
    if (!root) return;
    auto tr = [](const QString& key) { return key.isEmpty() ? key : qs(KdUIController::localized(key.toStdString())); };
    if (!root->windowTitle().isEmpty()) root->setWindowTitle(tr(root->windowTitle()));
    for (QLabel* label : root->findChildren<QLabel*>()) label->setText(tr(label->text()));
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) button->setText(tr(button->text()));
    for (QTabWidget* tabs : root->findChildren<QTabWidget*>())
        for (int i = 0; i < tabs->count(); ++i) tabs->setTabText(i, tr(tabs->tabText(i)));
}

// Close events of the main window become the window's close: the state is
// saved and the data source asked to close.
class CloseWatcher final : public QObject {
public:
    CloseWatcher(QObject* parent, std::function<void()> onClose) : QObject(parent), onClose_(std::move(onClose)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && onClose_) onClose_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onClose_;
};

} // namespace

void KdUIController::setWindowBundlePath(const std::string& path) { stringsBundlePath() = path; }

std::string KdUIController::localized(const std::string& key) {
    if (const auto own = windowBundle()) {
        const std::string text = own->localizedString(key, "\x01");
        if (text != "\x01") return text;
    }
    if (const auto ds = dataSourceBundle()) return ds->localizedString(key);
    return key;
}

KdUIController::KdUIController() {
    loadForms();
    connectActions();
}

KdUIController::~KdUIController() {
    *alive_ = false;
    mRollOverInitiator.reset();
    // The focus-following views stop with the window they serve.
    // (The kit's classes have no meta-object of their own: found by their type.)
    if (mWindow)
        for (QWidget* w : mWindow->findChildren<QWidget*>())
            if (auto* view = dynamic_cast<KFScrollableView*>(w)) view->terminateView();
    kdf::RunLoop::current().cancelPerforms(target());
    if (runningAlert_) runningAlert_->reject();
    setShield(false);
    hideProgressWindow();
    hideMainWindow();
    // A host may end the data source from inside a click: the widgets go
    // when the event loop next runs, never under a running slot.
    for (QWidget* w : {mWindow.data(), mProgressWindow.data()}) {
        if (!w) continue;
        w->hide();
        w->deleteLater();
    }
}

void KdUIController::loadForms() {
    auto* window = new QWidget(nullptr, Qt::Window);
    Ui::KdMainWindow mainForm;
    // Texts are localised, then dressed by their directives.
    const ViewFunction dressing = [](QWidget* w) { ResourcePeeker(w); };
    LoadBundleForm(mainForm, window, localizeTree, dressing);
    mWindow = window;
    mSettingModeTab = mainForm.settingModeTab;
    mSimpleModeView = mainForm.simpleModeView;
    mAdvanceModeView = mainForm.advanceModeView;
    mToolView = mainForm.toolView;
    mPreviewFrame = mainForm.previewFrame;
    mPreviewFrameBox = mainForm.previewFrameBox;
    mScanAreaSettingView = mainForm.scanAreaSettingView;
    mAdvImageSettingView = mainForm.advImageSettingView;
    kdui::setTag(mainForm.helpButton, kTagHelp);
    kdui::setTag(mainForm.cancelButton, kTagCancel);
    kdui::setTag(mainForm.scanCompleteButton, kTagScanComplete);
    kdui::setTag(mainForm.advancedScanButton, kTagAdvancedScan);
    kdui::setTag(mainForm.simpleScanButton, kTagSimpleScan);
    kdui::setTag(mainForm.continueButton, kTagContinue);
    int tool = kTagToolFirst;
    for (QWidget* b : {mainForm.toolZoomIn, mainForm.toolZoomOut, mainForm.toolSelectionMode, mainForm.toolDragMode,
                       mainForm.toolInfo, mainForm.toolHelp})
        kdui::setTag(b, tool++);
    mRollOverInitiator = std::make_unique<FRollOverInitiator>();
    // The strip takes the system's secondary selection colour.
    QPalette strip = mScanAreaSettingView->palette();
    const QColor selection = strip.color(QPalette::Inactive, QPalette::Highlight);
    const QColor base = strip.color(QPalette::Window);
    strip.setColor(QPalette::Window, QColor((selection.red() + 3 * base.red()) / 4, (selection.green() + 3 * base.green()) / 4,
                                            (selection.blue() + 3 * base.blue()) / 4));
    mScanAreaSettingView->setPalette(strip);

    auto* progress = new QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    Ui::KdProgressPanel progressForm;
    LoadBundleForm(progressForm, progress, localizeTree, dressing);
    kdui::setTag(progressForm.progressCancelButton, kTagCancel);
    mProgressCancel = progressForm.progressCancelButton;
    mProgressWindow = progress;
}

QWidget* KdUIController::tagged(int tag) const { return kdui::viewWithTag(mWindow, tag); }

// ---- Image buttons --------------------------------------------------------------------------

std::optional<QPixmap> KdUIController::bundleImage(const std::string& name) {
    const auto bundle = windowBundle();
    return bundle ? LoadTiffImage(bundle->pathForResource(name, "")) : std::nullopt;
}

void KdUIController::setupRollOverButtons() {
    // The six forms in the button's image order (normal, rolled over,
    // focused, focused and rolled over, disabled, pressed); the tool strip
    // has only the normal and disabled ones.
    static constexpr const char* kSixForms[] = {"_N", "_S", "_NF", "_SF", "_G", "_C"};
    static constexpr const char* kTwoForms[] = {"_N", nullptr, nullptr, nullptr, "_G", nullptr};
    struct Row {
        QWidget* container;
        int tag;
        const char* base;
        bool sixForms;
    };
    const Row rows[] = {
        {mWindow, 701, "TPL_ZoomIn", false},
        {mWindow, 702, "TPL_ZoomOut", false},
        {mWindow, 703, "TPL_DragSwitch", false},
        {mWindow, 704, "TPL_GloveSwitch", false},
        {mWindow, 705, "TPL_Info", false},
        {mWindow, kTagToolHelp, "TPL_Help", false},
        {mSimpleModeView, kTagSimpleScan, "SPL_Scan", true},
        {mSimpleModeView, kTagContinue, "SPL_Scan", true},
        {mAdvanceModeView, kTagAdvancedScan, "DTL_Scan", true},
    };
    const bool mirrorHelp = mWindow && mWindow->layoutDirection() == Qt::RightToLeft;
    for (const Row& row : rows) {
        auto* button = dynamic_cast<FRollOverButton*>(kdui::viewWithTag(row.container, row.tag));
        if (!button) continue;
        FRollOverButton::Images images;
        for (std::size_t i = 0; i < images.size(); ++i) {
            const char* form = row.sixForms ? kSixForms[i] : kTwoForms[i];
            if (!form) continue;
            images[i] = bundleImage(std::string(row.base) + form + ".tiff");
            // The question mark reads the other way round.
            if (images[i] && mirrorHelp && row.tag == kTagToolHelp) images[i] = MirroredImage(*images[i]);
        }
        button->setButtonImages(images);
        button->setRollOverEnabled(true);
    }

    // The slider end buttons: [normal, disabled] for SetItemEnabled.
    struct Pair {
        int tag;
        const char* base;
        bool advancedOnly; // the advanced view's second set
    };
    static constexpr Pair kEnds[] = {
        {205, "SPL_BrightnessHi", false}, {206, "SPL_BirghtnessLow", false}, {215, "SPL_ContrastHi", false},
        {216, "SPL_ContrastLow", false},  {207, "SPL_BrightnessHi", true},   {208, "SPL_BirghtnessLow", true},
        {217, "SPL_ContrastHi", true},    {218, "SPL_ContrastLow", true}};
    for (QWidget* container : {mSimpleModeView.data(), mAdvanceModeView.data(), mDetectPageTypePanel.data()}) {
        if (!container) continue;
        for (const Pair& end : kEnds) {
            if (end.advancedOnly && container != mAdvanceModeView) continue;
            QWidget* control = kdui::viewWithTag(container, end.tag);
            if (!control) continue;
            const std::optional<QPixmap> normal = bundleImage(std::string(end.base) + "_N.tiff");
            const std::optional<QPixmap> disabled = bundleImage(std::string(end.base) + "_G.tiff");
            control->setProperty(kImagePairProperty,
                                 QVariantList{normal.value_or(QPixmap()), disabled.value_or(QPixmap())});
        }
    }
}

void KdUIController::connectActions() {
    auto connectTag = [this](int tag, void (KdUIController::*action)(Sender)) {
        auto* button = qobject_cast<QAbstractButton*>(tagged(tag));
        if (!button) return;
        QObject::connect(button, &QAbstractButton::clicked, mWindow, [this, action, button] { (this->*action)(Sender::from(button)); });
    };
    connectTag(kTagSimpleScan, &KdUIController::performScan);
    connectTag(kTagAdvancedScan, &KdUIController::performScan);
    connectTag(kTagContinue, &KdUIController::performContinueScan);
    connectTag(kTagScanComplete, &KdUIController::performScanComplete);
    connectTag(kTagCancel, &KdUIController::performCancel);
    connectTag(kTagHelp, &KdUIController::showKdHelp);
    if (auto* prescan = mWindow->findChild<QAbstractButton*>("prescanButton"))
        QObject::connect(prescan, &QAbstractButton::clicked, mWindow,
                         [this, prescan] { performPrescan(Sender::from(prescan)); });
    if (auto* reset = mWindow->findChild<QAbstractButton*>("resetButton"))
        QObject::connect(reset, &QAbstractButton::clicked, mWindow, [this, reset] { performReset(Sender::from(reset)); });
    QObject::connect(mProgressCancel, &QAbstractButton::clicked, mProgressWindow,
                     [this] { abortScan(Sender::from(mProgressCancel)); });
    QObject::connect(mSettingModeTab, &QTabWidget::currentChanged, mWindow, [this](int index) { selectedTabChanged(index); });
    mWindow->installEventFilter(new CloseWatcher(mWindow, [this] {
        // The window's close: its state saved, the data source asked to
        // close (saving the settings).
        refrectScanAreaControls();
        decideScanArea(false);
        hideMainWindow();
        closeRequest(true);
    }));
}

// ---- Set-up -----------------------------------------------------------------------------------

void KdUIController::setupMainUI(const kdf::Dictionary& param, bool forScanning) {
    const kdf::PreferencesContent prefs = kdf::readPreferencesFile(kKdPreferencesName);
    mUIParameters = param;
    mSettings = nullptr;
    mIsSetupSequence = !forScanning;
    mActiveGammaChannel = 0;
    mMinWindowWidth = mWindow->minimumWidth();
    if (auto info = getScannerInfo()) mScannerInfo = std::move(info);
    // A missing or wrongly typed pool pointer leaves the pool unset: the
    // helpers then do nothing.
    if (const kdf::Value* pool = kdf::find(param, kUIParamCapabilityObject))
        if (const kdf::Pointer* p = pool->pointer()) mSettings = static_cast<CCapPool*>(p->address);

    std::string name;
    if (mScannerInfo)
        if (const kdf::Value* n = kdf::find(*mScannerInfo, "ScannerName"); n && n->string()) name = *n->string();
    mWindow->setWindowTitle(qs(kdf::formatLocalized(localized("WindowTitleWidthSeries"), {kdf::FormatArg(name)})).trimmed());

    switchingTabs_ = true;
    if (mIsSetupSequence) {
        if (auto* cancel = qobject_cast<QAbstractButton*>(tagged(kTagCancel))) cancel->setText(qs(localized("Cancel")));
        if (auto* ok = qobject_cast<QAbstractButton*>(tagged(kTagScanComplete))) ok->setText(qs(localized("OK")));
        // One item showing the advanced view, no tabs.
        if (mSettingModeTab->count() == 2) mSettingModeTab->removeTab(0);
        mSettingModeTab->tabBar()->hide();
        mSettingModeTab->setDocumentMode(false);
        for (int tag : {kTagSimpleScan, kTagAdvancedScan, kTagContinue})
            if (QWidget* w = tagged(tag)) w->hide();
        if (auto* prescan = mWindow->findChild<QWidget*>("prescanButton")) prescan->hide();
    }

    frameRestored_ = false;
    if (prefs.state == kdf::PreferencesContent::State::Loaded) {
        const kdf::Value* frame = kdf::find(prefs.values, mIsSetupSequence ? kSetupSequenceWindowFrameKey : kWindowFrameKey);
        if (frame && frame->string())
            if (const auto rect = frameFromString(*frame->string())) {
                mWindow->setGeometry(fitFrameToScreens(*rect));
                frameRestored_ = true;
            }
        if (!mIsSetupSequence)
            if (const kdf::Value* mode = kdf::find(prefs.values, kSettingModeKey))
                if (const auto index = mode->toInteger(); index && (*index == 0 || *index == 1))
                    mSettingModeTab->setCurrentIndex(int(*index));
    }
    lastTab_ = mSettingModeTab->currentIndex();
    switchingTabs_ = false;

    // The panels' set-up may change the favourite's name: it is kept as a
    // whole item.
    std::array<char, 256> favourite{};
    GetCapStrValue(mSettings, CCAP_TVKM_FAVORITENAME, favourite.data());
    if (!mIsSetupSequence && isSimpleMode()) resetSettingsForSimpleScan();
    buildToneSettingView();
    setupRollOverButtons();
    buildFavoriteControls();
    init();
    initScannerInformationPanel();
    SetCapStrValue(mSettings, CCAP_TVKM_FAVORITENAME, favourite.data());
    updateFavoriteControls();

    if (!frameRestored_) {
        QRect frame(QPoint(0, 0), mWindow->size());
        if (QScreen* screen = QGuiApplication::primaryScreen()) frame.moveCenter(screen->availableGeometry().center());
        mWindow->move(frame.topLeft());
    }
}

// ---- Showing and hiding ----------------------------------------------------------------------

void KdUIController::showMainWindow() {
    if (!mWindow) return;
    if (mWindow->isVisible()) return;
    if (!isSimpleMode()) restorePalettes();
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
    if (mRollOverInitiator) mRollOverInitiator->startWithWindow(mWindow);
    kdf::Value object(kdf::Pointer{mWindow.data()});
    kdf::NotificationCenter::defaultCenter().post(kShowKdWindowNotification, target(), object);
    const int first = mIsSetupSequence ? kTagScanComplete : isSimpleMode() ? kTagSimpleScan : kTagAdvancedScan;
    if (QWidget* w = tagged(first)) w->setFocus(Qt::OtherFocusReason);
}

void KdUIController::storeWindowState(kdf::Dictionary& prefs) const {
    const std::string frame = frameString(mWindow->geometry());
    if (mIsSetupSequence) {
        prefs[kSetupSequenceWindowFrameKey] = kdf::Value(frame);
    } else {
        prefs[kWindowFrameKey] = kdf::Value(frame);
        prefs[kSettingModeKey] = kdf::Value(mSettingModeTab->currentIndex());
    }
}

void KdUIController::hideMainWindow() {
    if (!mWindow) return;
    const bool wasVisible = mWindow->isVisible();
    kdf::Value object(kdf::Pointer{mWindow.data()});
    kdf::NotificationCenter::defaultCenter().post(kHideKdWindowNotification, target(), object);
    if (mRollOverInitiator) mRollOverInitiator->stop();
    mWindow->hide();
    showPreviewArea(true, false);
    if (wasVisible) {
        // Only this window's keys change: the data source's "CapData" and
        // everything else in the file stay as they are on disk.
        kdf::updatePreferencesFile(kKdPreferencesName, [this](kdf::Dictionary& prefs) {
            storeWindowState(prefs);
            return true;
        });
        if (!isSimpleMode()) savePalettes();
    }
    for (QWidget* palette : palettes())
        if (palette) palette->hide();
}

bool KdUIController::isMainWindowVisible() const { return mWindow && mWindow->isVisible(); }

void KdUIController::saveMainUISettings() {
    if (!mWindow) return;
    kdf::updatePreferencesFile(kKdPreferencesName, [this](kdf::Dictionary& prefs) {
        storeWindowState(prefs);
        return true;
    });
}

// ---- Tabs and views --------------------------------------------------------------------------------

QWidget* KdUIController::currentView() const {
    QWidget* page = mSettingModeTab ? mSettingModeTab->currentWidget() : nullptr;
    if (!page) return nullptr;
    if (mSimpleModeView && page->isAncestorOf(mSimpleModeView)) return mSimpleModeView;
    if (mAdvanceModeView && page->isAncestorOf(mAdvanceModeView)) return mAdvanceModeView;
    return page;
}

bool KdUIController::isSimpleMode() const { return mSimpleModeView && currentView() == mSimpleModeView; }

bool KdUIController::hasScanImage() const { return !mPositioningPrescanMode && hasImage_; }

void KdUIController::updateCurrentView() {
    if (QWidget* view = currentView()) view->update();
}

void KdUIController::selectedTabChanged(int index) {
    if (switchingTabs_ || index == lastTab_) return;
    lastTab_ = index;
    if (isSimpleMode()) savePalettes();
    for (QWidget* palette : palettes())
        if (palette) palette->hide();
    performReset();
    destroyPreviewImage();
    if (!isSimpleMode()) restorePalettes();
}

void KdUIController::setScanImage(const ScanBitmap& image, int, bool isPreview) {
    hasImage_ = image.width > 0 && image.height > 0;
    (void)isPreview; // the prescan panel tells a positioning prescan
}

// ---- Help -------------------------------------------------------------------------------------------

void KdUIController::showKdHelp(Sender) {
    const auto own = windowBundle();
    if (!own) return;
    const kdf::Value* folder = own->objectForInfoKey("CFBundleHelpBookFolder");
    const std::string book = folder && folder->string() ? *folder->string() : "Help";
    const std::string page = own->resourcePath() + "/" + book + "/index.html";
    std::error_code ec;
    if (!std::filesystem::exists(page, ec)) {
        std::fprintf(stderr, "KD720 window: no help book at %s\n", page.c_str());
        return;
    }
    // The book opens at its anchor "0001", the top of its first page
    // (openPath takes a path; a fragment would be read as part of it).
    kdd::openPath(page);
}

// ---- Frames ---------------------------------------------------------------------------------------

std::string KdUIController::frameString(const QRect& f) {
    return "{{" + std::to_string(f.x()) + ", " + std::to_string(f.y()) + "}, {" + std::to_string(f.width()) + ", " +
           std::to_string(f.height()) + "}}";
}

std::optional<QRect> KdUIController::frameFromString(const std::string& text) {
    double x = 0, y = 0, w = 0, h = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), " {{%lf , %lf }, {%lf , %lf }%c", &x, &y, &w, &h, &end) != 5 || end != '}')
        return std::nullopt;
    if (!(w > 0 && h > 0 && w < 1e6 && h < 1e6 && x > -1e6 && x < 1e6 && y > -1e6 && y < 1e6)) return std::nullopt;
    return QRect(int(x), int(y), int(w), int(h));
}

QRect KdUIController::fitFrameToScreens(const QRect& frame) {
    const auto screens = QGuiApplication::screens();
    QRect best;
    for (QScreen* screen : screens) {
        const QRect area = screen->availableGeometry();
        if (area.intersects(frame) && (area.intersected(frame).width() * area.intersected(frame).height() >
                                       best.intersected(frame).width() * best.intersected(frame).height()))
            best = area;
    }
    QRect fitted = frame;
    if (best.isNull()) {
        // Off every screen: centred on the primary one.
        QScreen* primary = QGuiApplication::primaryScreen();
        if (!primary) return frame;
        best = primary->availableGeometry();
        fitted.setSize(fitted.size().boundedTo(best.size()));
        fitted.moveCenter(best.center());
        return fitted;
    }
    fitted.setSize(fitted.size().boundedTo(best.size()));
    if (fitted.right() > best.right()) fitted.moveRight(best.right());
    if (fitted.bottom() > best.bottom()) fitted.moveBottom(best.bottom());
    if (fitted.left() < best.left()) fitted.moveLeft(best.left());
    if (fitted.top() < best.top()) fitted.moveTop(best.top());
    return fitted;
}

// ---- Alerts -------------------------------------------------------------------------------------

int KdUIController::runAlert(AlertStyle style, const std::string& message, const std::string& information,
                             const std::vector<std::string>& buttons) {
    QMessageBox box(style == AlertStyle::Critical ? QMessageBox::Critical
                    : style == AlertStyle::Warning ? QMessageBox::Warning
                                                   : QMessageBox::Information,
                    mWindow ? mWindow->windowTitle() : QString(), qs(message), QMessageBox::NoButton,
                    isMainWindowVisible() ? mWindow.data() : nullptr);
    box.setInformativeText(qs(information));
    std::vector<QAbstractButton*> added;
    const std::vector<std::string> titles = buttons.empty() ? std::vector<std::string>{localized("OK")} : buttons;
    const std::string cancelTitle = localized("Cancel");
    QAbstractButton* escape = nullptr;
    for (const std::string& title : titles) {
        QPushButton* b = box.addButton(qs(title), added.empty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        added.push_back(b);
        if (title == cancelTitle) escape = b;
    }
    // Return answers the first button; Escape the one titled Cancel, else
    // the last.
    box.setDefaultButton(static_cast<QPushButton*>(added.front()));
    box.setEscapeButton(escape ? escape : added.back());
    runningAlert_ = &box;
    alertAborted_ = false;
    {
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel);
        box.exec();
    }
    runningAlert_ = nullptr;
    if (alertAborted_) return alertAbortResult_;
    const auto it = std::find(added.begin(), added.end(), box.clickedButton());
    return it == added.end() ? int(added.size()) - 1 : int(it - added.begin());
}

bool KdUIController::isModalWindowVisible() const { return QApplication::activeModalWidget() != nullptr; }

void KdUIController::abortModal(int result) {
    if (!runningAlert_) return;
    alertAborted_ = true;
    alertAbortResult_ = result;
    runningAlert_->done(0);
}

int KdUIController::runModalContinueModeAlert(int, const std::string&) { return 0; }

int KdUIController::runModalRollerExchangeAlert(std::int64_t, bool, bool) { return 0; }

} // namespace ComTavrolekKD720
