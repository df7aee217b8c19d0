#include "PrefsCntlr.h"

#include "OutputUIText.h"

#include "ui_Preference.h"

#include <AppMainCntlr.h>
#include <AppMainCntlrSaveLoad.h>
#include <AppModel.h>
#include <PluginRegistryQueries.h>
#include <QlrUtilsMethodUI.h>
#include <TV_FuncUI.h>
#include <TV_Func.h>
#include <TV_Message.h>

#include <foundation/File.h>
#include <foundation/Format.h>
#include <foundation/PropertyList.h>
#include <foundation/RunLoop.h>
#include <foundation/UserFolders.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QActionGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>

namespace {

PrefsCntlr* sShared = nullptr;
PrefsCntlr::FilePanelRunner sFilePanelRunner;

using qlr_output::localizedText;

struct ToolbarItem {
    const char* identifier;
    const char* labelKey;
    const char* imageName;
    int tabIndex;
    int firstControlTag;
};
constexpr ToolbarItem kToolbarItems[] = {
    {"ToolItem_General_ID", "Prefs_General", "32pix_general", 0, PrefsCntlr::kResidentCheckTag},
    {"ToolItem_Plugin_ID", "Prefs_Plugin", "general_32", 1, PrefsCntlr::kPluginTableTag},
    {"ToolItem_Maintenance_ID", "Prefs_Maintenance", "maintenance", 2, PrefsCntlr::kInitializeTag},
};
constexpr int kNewToolbarOrderOSVersion = 4287;
constexpr int kPageMargin = 60;

const ToolbarItem* toolbarItem(const QString& identifier) {
    for (const auto& item : kToolbarItems)
        if (identifier == QLatin1String(item.identifier)) return &item;
    return nullptr;
}

// Text controls whose title is a key; check boxes with the application's
// name are set apart.
constexpr std::pair<int, const char*> kTexts[] = {
    {100, "Prefs_StartingWayExpStr"}, {102, "Prefs_StationedExpStr"}, {103, "Prefs_DisplayExpStr"},
    {105, "Prefs_HideAppStartChkBx"}, {106, "Prefs_BackupExpStr"},    {107, "Prefs_SaveBackupBtn"},
    {108, "Prefs_LoadBackupBtn"},     {201, "Prefs_PluginSettingBtn"}, {202, "Prefs_PluginValidBtn"},
    {300, "Prefs_InitializeExpStr"},  {301, "Prefs_InitializeBtn"},    {302, "Prefs_InitializeSubExpStr"},
};

void setTitle(QWidget* control, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(text);
}

QString titleOf(const QWidget* control) {
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    return {};
}

QString withAppName(const char* key) {
    const std::string format = localizedText(std::string(key)).toStdString();
    return QString::fromStdString(kdf::formatLocalized(format, {QlrUtilsMethod::appName()}));
}

QRect unionOfTags(QWidget* page, std::initializer_list<int> tags) {
    QRect area;
    for (int tag : tags)
        if (QWidget* w = kdui::viewWithTag(page, tag)) area = area.united(QRect(w->mapTo(page, QPoint()), w->size()));
    return area;
}

// Folders the panels may show: never hidden, library or temporary ones.
class DisplayableFolderFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        auto* fs = qobject_cast<QFileSystemModel*>(sourceModel());
        if (!fs) return true;
        const QModelIndex index = fs->index(row, 0, parent);
        if (!fs->isDir(index)) return true;
        const std::string path = fs->filePath(index).toStdString();
        // Ancestors of an allowed folder stay, so the panel can reach it.
        if (path == "/" || path.empty()) return true;
        const std::string home = kdf::homeFolder();
        if (home.rfind(path + "/", 0) == 0) return true;
        return TV_Func::isDisplaysDirectory(path);
    }
};

// Asks with OK and Cancel; true for OK.
bool confirmed(const char* key) {
    return TV_Message::showPanel(std::string("Confirm"), std::string(key), std::nullopt, std::string("OK"),
                                 std::string("Cancel"), std::nullopt, TV_Message::kInformationalAlertStyle, 0,
                                 true) == TV_Message::kAlertDefaultReturn;
}

std::optional<std::string> runDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.front().toStdString();
}

} // namespace

PrefsCntlr* PrefsCntlr::sharedPrefsCntlr() {
    if (!sShared) sShared = new PrefsCntlr;
    return sShared;
}

void PrefsCntlr::terminatePrefsCntlr() {
    if (!sShared) return;
    if (sShared->prefsModel_) sShared->prefsModel_->savePrefsModel(nullptr);
    delete sShared;
    sShared = nullptr;
}

void PrefsCntlr::discardPrefsCntlr() {
    delete sShared;
    sShared = nullptr;
}

void PrefsCntlr::setFilePanelRunner(FilePanelRunner runner) {
    sFilePanelRunner = std::move(runner);
}

PrefsCntlr::PrefsCntlr() {
    panel_ = new QWidget(nullptr, Qt::Window);
    Ui::Preference ui;
    ui.setupUi(panel_);
    tabView_ = ui.prefsTabView;
    maintenanceInitView_ = ui.maintenanceInitView;
    maintenanceDeviceView_ = ui.maintenanceDeviceView;
    prefsModel_ = std::make_shared<PrefsModel>(nullptr);
    awakeFromNib();
}

PrefsCntlr::~PrefsCntlr() {
    delete panel_.data();
}

QToolBar* PrefsCntlr::toolbar() const { return toolbar_; }

QWidget* PrefsCntlr::tabBasicView() const { return tabView_ ? tabView_->widget(0) : nullptr; }
QWidget* PrefsCntlr::tabPluginView() const { return tabView_ ? tabView_->widget(1) : nullptr; }
QWidget* PrefsCntlr::tabMaintenanceView() const { return tabView_ ? tabView_->widget(2) : nullptr; }

QWidget* PrefsCntlr::control(int tag) const {
    return panel_ ? kdui::viewWithTag(panel_, tag) : nullptr;
}

QRect PrefsCntlr::pageRect(int index) const {
    switch (index) {
    case 0: return basicViewRect_;
    case 1: return pluginViewRect_;
    case 2: return maintenanceRect_;
    default: return {};
    }
}

void PrefsCntlr::setPrefsModel(std::shared_ptr<PrefsModel> model) {
    prefsModel_ = std::move(model);
}

void PrefsCntlr::awakeFromNib() {
    panel_->setWindowTitle(localizedText(std::string("Prefs_WindowTitle")));
    for (const auto& [tag, key] : kTexts) setTitle(control(tag), localizedText(std::string(key)));
    setTitle(control(kResidentCheckTag), withAppName("Prefs_QlrStationedChkBx"));
    setTitle(control(kShowPlugInScanCheckTag), withAppName("Prefs_ShowPlugInScanChkBx"));

    // The device part of the Maintenance page is not offered: what is below
    // it moves up into its place.
    const int deviceHeight = maintenanceDeviceView_->height();
    maintenanceDeviceView_->hide();
    QList<QWidget*> moved;
    for (int tag : {kInitializeTextTag, kInitializeTag, kInitializeSubTextTag}) moved << control(tag);
    for (auto* child : maintenanceInitView_->findChildren<QFrame*>(Qt::FindDirectChildrenOnly))
        if (child->frameShape() == QFrame::StyledPanel || child->frameShape() == QFrame::Box) {
            moved << child;
            break;
        }
    // The rule beside the title travels with it.
    if (auto* rule = maintenanceInitView_->findChild<QWidget*>("initializeLine")) moved << rule;
    for (auto* w : moved)
        if (w) w->move(w->x(), w->y() - deviceHeight);

    for (int tag : {kStartingWayTextTag, kDisplayTextTag, kBackupTextTag, kInitializeTextTag})
        checkLineFrameOfText(control(tag));

    toolbar_ = new QToolBar(panel_);
    toolbar_->setObjectName("Toolbar_Prefs_ID");
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->setIconSize(QSize(32, 32));
    auto* group = new QActionGroup(toolbar_);
    group->setExclusive(true);
    for (const QString& identifier :
         identifierListOfToolbar(QlrUtilsMethod::currentOSVersion(), QlrUtilsMethod::isLTR_LayoutDirection())) {
        const ToolbarItem* item = toolbarItem(identifier);
        if (!item) {
            auto* spacer = new QWidget(toolbar_);
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            toolbar_->addWidget(spacer);
            continue;
        }
        const QImage image = QlrUtilsMethod::bundleImageNamed(item->imageName);
        auto* action = toolbar_->addAction(image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)),
                                           localizedText(std::string(item->labelKey)));
        action->setObjectName(identifier);
        action->setCheckable(true);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, this, [this, identifier] { changeToolbarItem(identifier); });
    }
    static_cast<QVBoxLayout*>(panel_->layout())->insertWidget(0, toolbar_);

    tabView_->setCurrentIndex(0);
    if (auto* general = toolbar_->findChild<QAction*>("ToolItem_General_ID")) general->setChecked(true);

    for (int tag : {kResidentCheckTag, kShowPlugInScanCheckTag, kHideAppStartCheckTag, kSaveBackupTag,
                    kLoadBackupTag, kInitializeTag})
        if (auto* button = qobject_cast<QAbstractButton*>(control(tag)))
            QObject::connect(button, &QAbstractButton::clicked, this, [this, tag] { changePrefsSettings(tag); });

    setUpPrefsWindowSize();
    initPrefPluginTableView();
    // Pages mirror across the panel's width, which the stacked view gives
    // them only once shown.
    for (QWidget* page : {tabBasicView(), tabPluginView(), tabMaintenanceView()}) {
        page->resize(panel_->width(), std::max(page->height(), pageRect(tabView_->indexOf(page)).bottom() + 1));
        QlrUtilsMethod::layoutLeftToRight(page);
    }
    initPrefsPanel();
}

std::vector<QString> PrefsCntlr::identifierListOfToolbar(int osVersion, bool leftToRight) {
    if (osVersion > kNewToolbarOrderOSVersion || leftToRight)
        return {"ToolItem_General_ID", "ToolItem_Plugin_ID", "ToolItem_Maintenance_ID"};
    return {"", "ToolItem_Maintenance_ID", "ToolItem_Plugin_ID", "ToolItem_General_ID"};
}

void PrefsCntlr::checkLineFrameOfText(QWidget* text) {
    if (!text || !text->parentWidget()) return;
    QWidget* parent = text->parentWidget();
    const QRect band(0, text->y(), parent->width(), text->height());
    QWidget* neighbour = nullptr;
    for (auto* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child != text && band.contains(child->geometry())) {
            neighbour = child;
            break;
        }
    if (!neighbour) return;
    const int width = text->fontMetrics().horizontalAdvance(titleOf(text)) + 10;
    text->resize(width, text->height());
    const int right = neighbour->geometry().right();
    const int left = text->geometry().right() + 1 + 5;
    neighbour->setGeometry(left, neighbour->y(), std::max(0, right - left + 1), neighbour->height());
}

void PrefsCntlr::setUpPrefsWindowSize() {
    titleRect_ = QRect(0, 0, panel_->width(),
                       panel_->frameGeometry().height() - panel_->geometry().height() + toolbar_->sizeHint().height());
    basicViewRect_ = unionOfTags(tabBasicView(), {100, 101, 102, 103, 104, 105, 106, 107, 108});
    pluginViewRect_ = unionOfTags(tabPluginView(), {kPluginTableTag, kPluginSettingTag});
    maintenanceRect_ = unionOfTags(tabMaintenanceView(), {kInitializeTextTag, kInitializeTag, kInitializeSubTextTag});
    for (QRect* r : {&basicViewRect_, &pluginViewRect_, &maintenanceRect_})
        r->setHeight(int(std::ceil(double(r->height()))) + kPageMargin);
    for (int i = 0; i < tabView_->count(); ++i) tabView_->widget(i)->setMinimumSize(0, 0);
    tabView_->setMinimumSize(0, 0);
    panel_->setFixedSize(panel_->width(), titleRect_.height() + basicViewRect_.height());
}

void PrefsCntlr::changeToolbarItem(const QString& identifier) {
    const ToolbarItem* item = toolbarItem(identifier);
    const bool isKey = panel_->isActiveWindow();
    if (item && !isKey) {
        // Only the key panel switches pages: the toolbar shows the page kept.
        for (const auto& it : kToolbarItems)
            if (it.tabIndex == tabView_->currentIndex())
                if (auto* a = toolbar_->findChild<QAction*>(it.identifier)) a->setChecked(true);
        return;
    }
    const int index = item ? item->tabIndex : 0;
    const int height = titleRect_.height() + pageRect(index).height();
    QWidget* page = tabView_->widget(item ? index : tabView_->currentIndex());
    tabView_->setFocus();
    page->hide();
    if (item) {
        tabView_->setCurrentIndex(index);
        if (auto* a = toolbar_->findChild<QAction*>(item->identifier)) a->setChecked(true);
    }
    // The top edge stays where it is: only the bottom moves.
    const QPoint topLeft = panel_->pos();
    panel_->setFixedSize(panel_->width(), height);
    panel_->move(topLeft);
    TV_Func::setNextKeyViewsAtWindow(panel_);
    page->show();
    if (item)
        if (QWidget* first = control(item->firstControlTag)) first->setFocus();
}

void PrefsCntlr::initPrefsPanel() {
    if (!prefsModel_) return;
    auto set = [this](int tag, bool on) {
        if (auto* box = qobject_cast<QCheckBox*>(control(tag))) box->setChecked(on);
    };
    set(kResidentCheckTag, prefsModel_->isQLRResiding());
    set(kShowPlugInScanCheckTag, prefsModel_->isShowPlugInScan());
    set(kHideAppStartCheckTag, prefsModel_->isHideAppStartFromButton());
}

void PrefsCntlr::runModalPrefs() {
    initPrefsPanel();
    if (auto* cntlr = AppMainCntlr::current()) {
        if (!panel_->isVisible()) {
            setupPrefPluginTableView();
            TV_Func::windowPositionAdjustment(panel_, cntlr->mainWindow(), TV_Func::kAlignCentre);
        }
    }
    TV_Func::setNextKeyViewsAtWindow(panel_);
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
}

void PrefsCntlr::closePrefsPanel() {
    if (panel_ && panel_->isVisible()) panel_->hide();
}

void PrefsCntlr::changePrefsSettings(int tag) {
    auto isOn = [this](int t) {
        auto* box = qobject_cast<QCheckBox*>(control(t));
        return box && box->isChecked();
    };
    switch (tag) {
    case kResidentCheckTag:
        if (prefsModel_) prefsModel_->setIsQLRResiding(isOn(tag));
        break;
    case kShowPlugInScanCheckTag:
        if (prefsModel_) prefsModel_->setIsShowPlugInScan(isOn(tag));
        break;
    case kHideAppStartCheckTag:
        if (prefsModel_) prefsModel_->setIsHideAppStartFromButton(isOn(tag));
        break;
    case kSaveBackupTag:
        backupSettings();
        break;
    case kLoadBackupTag:
        restoreSettings();
        break;
    case kInitializeTag:
        resetSettings();
        break;
    default:
        break;
    }
}

void PrefsCntlr::showAlertLater(const char* title, const char* msg, std::optional<std::string> localizedMsg,
                                int style) {
    auto request = TV_Message::paramShowPanel(std::string(title), std::string(msg), std::move(localizedMsg),
                                              std::string("OK"), std::nullopt, std::nullopt, style, 0, true);
    kdf::RunLoop::main().performAfterDelay(
        this, "PrefsAlert", kdf::Seconds(0), [request] { TV_Message::performShowPanel(request); });
}

std::optional<std::string> PrefsCntlr::runFilePanel(bool save) {
    QFileDialog dialog(panel_);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::DontResolveSymlinks, !save);
    auto* filter = new DisplayableFolderFilter(&dialog);
    dialog.setProxyModel(filter);
    dialog.setNameFilter(QStringLiteral("*.plist"));
    dialog.setDefaultSuffix(QStringLiteral("plist"));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::ReadOnly, true);
    }
    const auto& stored = prefsModel_ ? prefsModel_->backupFilePath() : std::nullopt;
    const std::string start =
        stored && TV_Func::isDisplaysDirectory(*stored) ? *stored : kdf::documentsFolder();
    dialog.setDirectory(QString::fromStdString(start));
    std::optional<std::string> path = sFilePanelRunner ? sFilePanelRunner(dialog) : runDialog(dialog);
    if (!path || path->empty()) return std::nullopt;
    // A folder typed in by hand gets the same check as the listed ones.
    if (!TV_Func::isDisplaysDirectory(kdf::folderOf(*path))) return std::nullopt;
    return path;
}

void PrefsCntlr::backupSettings() {
    const std::optional<std::string> path = runFilePanel(true);
    if (!path) return;
    const std::string folder = kdf::folderOf(*path);
    if (prefsModel_) prefsModel_->setBackupFilePath(folder);
    AppMainCntlr* cntlr = AppMainCntlr::current();
    if (!cntlr) return;
    kdf::Dictionary backup;
    AppMainCntlrSaveLoad::saveFileVersionToFile(&backup);
    if (auto app = cntlr->appModel()) app->saveAppModel(&backup);
    if (prefsModel_) prefsModel_->savePrefsModel(&backup);
    backup.erase(std::string(kPluginsKey));
    if (auto registry = PluginRegistryQueries::current())
        if (auto data = registry->pluginsData()) backup[kPluginsKey] = kdf::Value(std::move(*data));
    if (kdf::writePropertyListFile(*path, kdf::Value(std::move(backup))))
        showAlertLater("Confirm", "Cnfm_BackUpSuccess", std::nullopt, TV_Message::kInformationalAlertStyle);
    else
        showAlertLater("Error", "Err_RightOfAccessFile", std::nullopt, TV_Message::kCriticalAlertStyle);
}

void PrefsCntlr::restoreSettings() {
    if (!confirmed("Cnfm_RestoreYesOrNo")) return;
    const std::optional<std::string> path = runFilePanel(false);
    if (!path) return;
    if (prefsModel_) prefsModel_->setBackupFilePath(kdf::folderOf(*path));
    AppMainCntlr* cntlr = AppMainCntlr::current();
    if (!cntlr) return;

    // The file is the user's pick: only a property list of sane size.
    const std::optional<std::string> bytes = kdf::readWholeFile(*path, kMaxBackupBytes);
    if (!bytes) return;
    const std::optional<kdf::Value> value = kdf::readPropertyList(*bytes);
    const kdf::Dictionary* dict = value ? value->dictionary() : nullptr;
    if (!dict) return;

    const auto stored = AppMainCntlrSaveLoad::storedFileVersion(kdf::find(*dict, kFileVerKey));
    if (!stored || *stored != AppMainCntlrSaveLoad::currentFileVersion()) {
        showAlertLater("Error", "Err_NotGetSetting", std::nullopt, TV_Message::kCriticalAlertStyle);
        return;
    }

    cntlr->mainWindowPort()->hideQlrNavigation();
    bool success = false;
    try {
        const AppModel restored(dict);
        AppModel::loadDataByRestore(&restored, cntlr->appModel().get());
        cntlr->reloadSettingByPref();
        success = true;
    } catch (const std::exception&) {
        success = false;
    }
    try {
        auto prefs = std::make_shared<PrefsModel>(dict);
        prefs->setBackupFilePath(prefsModel_ ? prefsModel_->backupFilePath() : std::nullopt);
        setPrefsModel(std::move(prefs));
        initPrefsPanel();
    } catch (const std::exception&) {
        success = false;
    }
    if (success) {
        // The plug-ins get only what decodes to a dictionary of settings.
        if (const kdf::Value* plugins = kdf::find(*dict, kPluginsKey)) {
            const kdf::Bytes* data = plugins->bytes();
            const auto decoded = data ? QlrUtilsMethod::decodeDataToDict(*data) : std::nullopt;
            if (decoded && decoded->dictionary())
                if (auto registry = PluginRegistryQueries::current()) registry->loadPluginsData(*data);
        }
    }
    if (success)
        showAlertLater("Confirm", "Cnfm_RestoreSuccess", std::nullopt, TV_Message::kInformationalAlertStyle);
    else
        showAlertLater("Error", "Err_NotGetSetting", std::nullopt, TV_Message::kCriticalAlertStyle);
}

void PrefsCntlr::resetSettings() {
    if (!confirmed("Cnfm_InitAppYesOrNo")) return;
    const std::string text = withAppName("Cnfm_RelaunchApp").toStdString();
    TV_Message::showPanel(std::string("Confirm"), std::nullopt, text, std::string("OK"), std::nullopt, std::nullopt,
                          TV_Message::kInformationalAlertStyle, 0, true);
    if (AppMainCntlr* cntlr = AppMainCntlr::current()) {
        cntlr->setIsTerminateByInitInPrefs(true);
        cntlr->terminateQlr();
    }
}
