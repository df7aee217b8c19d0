#include "MainWindowBrowsers.h"

#include "AppMainCntlr.h"
#include "AppModel.h"
#include "JobModel.h"
#include "PanelTile.h"
#include "PluginRegistryQueries.h"
#include "TV_Func.h"
#include "TvUI.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace qlr_main {

namespace {

constexpr const char* kBrowserNames[3] = {"InputPanel_IBView", "OutputPanel_IBView", "JobPanel_IBView"};
constexpr const char* kOpenSettingKey = "openSettingWindow";
constexpr int kShowFileTypeSettingType = 10;
// Edge shadows of the browsers by panel type.
constexpr std::uint32_t kShadowRGB[3] = {0xE2E2E2, 0xE2E2E2, 0xF1F1F1};
constexpr int kSelectableNumber[3] = {1, 3, 0};

bool validType(int type) { return type >= kInputPanelType && type <= kJobPanelType; }

std::string localized(const char* key) {
    return kdf::localizedMainString(key);
}

std::string pluginTitle(const std::string& pluginID) {
    const auto value = PluginRegistryQueries::valueForPluginIDWithType(pluginID, PluginRegistryQueries::kTitleType);
    const std::string* text = value ? value->string() : nullptr;
    return text ? *text : std::string();
}

// Where an output without a plug-in writes.
std::string outputFolder(const OutputModel& output) {
    switch (output.saveType()) {
    case OutputModel::kSavePictures: return TV_Func::defaultPictureFolder();
    case OutputModel::kSaveDocuments: return TV_Func::defaultDocumentFolder().value_or(std::string());
    case OutputModel::kSaveDesktop: return TV_Func::defaultDesktopPath().value_or(std::string());
    default: return output.fileSavePath().value_or(std::string());
    }
}

std::string inputToolTip(const InputModel& input) {
    return input.dispColorMode() + "\n" + input.dispPaperSize() + "\n" + input.dispResolution() + "\n" +
           input.dispReaderSide();
}

std::string outputToolTip(const OutputModel& output) {
    if (output.isValidPlugin()) {
        const std::string title = pluginTitle(output.pluginID());
        const auto shows = PluginRegistryQueries::valueForPluginIDWithType(output.pluginID(), kShowFileTypeSettingType);
        if (!(shows && shows->toBool().value_or(false))) return title;
        return title + "\n" + output.dispFileFormatType();
    }
    return outputFolder(output) + "\n" + output.dispFileFormatType();
}

std::string jobToolTip(const JobModel& job) {
    std::string text;
    const auto inputs = job.jobInputModel_List();
    if (!inputs.empty() && inputs.front()) text = inputToolTip(*inputs.front());
    const auto outputs = job.jobOutputModel_List();
    const std::string title = localized("OutputType_Title");
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!outputs[i]) continue;
        const std::string destination =
            outputs[i]->isValidPlugin() ? pluginTitle(outputs[i]->pluginID()) : localized("OutputType_ToFile");
        text += outputs.size() == 1 ? "\n" + title + ":" + destination
                                    : "\n" + title + std::to_string(i + 1) + ":" + destination;
    }
    return text;
}

// Deletes the plug-in settings an output owns.
void deletePluginSettings(const OutputModel& output) {
    const std::string id = output.pluginID(), guid = output.pluginGUID();
    if (id.empty() || guid.empty() || !PluginRegistryQueries::hasPluginObject(id)) return;
    PluginRegistryQueries::deleteID(id, guid);
}

} // namespace

MainWindowBrowsers::MainWindowBrowsers(AppMainCntlr& cntlr, std::function<QWidget*()> window,
                                       std::function<bool()> darkShield)
    : mCntlr(cntlr), mWindow(std::move(window)), mDarkShield(std::move(darkShield)) {}

MainWindowBrowsers::~MainWindowBrowsers() {
    kdf::RunLoop::main().cancelPerforms(this);
    for (int type = 0; type < 3; ++type) {
        if (PanelIBView* view = panelBrowser(type)) {
            if (view->dataSource() == this) view->setDataSource(nullptr);
            if (view->delegate() == this) view->setDelegate(nullptr);
        }
        if (mCntlr.panelMenu(type, false) == mPanelMenus[type]) mCntlr.setPanelMenu(type, false, nullptr);
        if (mCntlr.panelMenu(type, true) == mBackMenus[type]) mCntlr.setPanelMenu(type, true, nullptr);
    }
    if (mScanMenu && mCntlr.scanPanelMenu() == mScanMenu) mCntlr.setScanPanelMenu(nullptr);
    if (kdui::ImageBrowserView* pages = pageBrowser(); pages && pages->draggingDestinationDelegate() == this)
        pages->setDraggingDestinationDelegate(nullptr);
}

// ---- Browsers

PanelIBView* MainWindowBrowsers::panelBrowser(int panelType) const {
    QWidget* window = mWindow ? mWindow() : nullptr;
    if (!window || !validType(panelType)) return nullptr;
    return window->findChild<PanelIBView*>(QString::fromLatin1(kBrowserNames[panelType]));
}

void MainWindowBrowsers::reloadPanelBrowser(int panelType) {
    if (PanelIBView* view = panelBrowser(panelType)) view->reloadPanels();
}

void MainWindowBrowsers::setPanelBrowserCellSize(int panelType, QSizeF size) {
    if (PanelIBView* view = panelBrowser(panelType)) view->setCellSize(size.toSize());
}

QSizeF MainWindowBrowsers::makePanelSize(const PanelModel& panel, int sizeType) {
    return QSizeF(PanelTile::makePanelSize(panel, sizeType));
}

void MainWindowBrowsers::createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& list,
                                                  int sizeType) {
    PanelTile::createPanelImageWithList(list, sizeType);
}

void MainWindowBrowsers::clearIconCache() { PanelTile::clearIconCache(); }

void MainWindowBrowsers::setUpImageBrowsers() {
    for (int type = 0; type < 3; ++type) {
        PanelIBView* view = panelBrowser(type);
        if (!view) continue;
        view->setAllowsReordering(true);
        view->setAllowsMultipleSelection(false);
        view->setAllowsEmptySelection(true);
        view->setCellsTitled(false);
        view->setIntercellSpacing(QSize(10, 10));
        view->setSelectionColor(QColor::fromRgbF(0.25f, 0.25f, 0.25f, 1.0f));
        view->setShadowColor(kShadowRGB[type]);
        view->setSelectableNumber(kSelectableNumber[type]);
        view->setDelegate(this);
        view->setDataSource(this);
    }
    // Drags from elsewhere over the page browser ask the same rule.
    if (kdui::ImageBrowserView* pages = pageBrowser(); pages && !pages->draggingDestinationDelegate())
        pages->setDraggingDestinationDelegate(this);
}

void MainWindowBrowsers::hidePanelFieldEditor() { PanelIBView::hideFieldEditor(); }

void MainWindowBrowsers::endEditingPanelTitle() { PanelIBView::hideFieldEditor(); }

void MainWindowBrowsers::removePanelToolTips() { mToolTipsRemoved = true; }

void MainWindowBrowsers::resetPanelToolTips() { mToolTipsRemoved = false; }

bool MainWindowBrowsers::isJobPanelClick(const kdf::Notification& n) const {
    const void* sender = n.sender();
    if (sender && sender == static_cast<QWidget*>(panelBrowser(kJobPanelType))) return true;
    // The other panel browsers' clicks only change their selection.
    for (int type : {kInputPanelType, kOutputPanelType})
        if (sender && sender == static_cast<QWidget*>(panelBrowser(type))) return false;
    return true;
}

// ---- Data source

int MainWindowBrowsers::panelTypeOfView(const kdui::ImageBrowserView& view) const {
    for (int type = 0; type < 3; ++type)
        if (&view == panelBrowser(type)) return type;
    return -1;
}

int MainWindowBrowsers::listCount(int panelType) const {
    const auto list = mCntlr.panelListOfType(panelType);
    return list ? int(list->size()) : 0;
}

int MainWindowBrowsers::numberOfItems(kdui::ImageBrowserView& view) { return listCount(panelTypeOfView(view)); }

std::shared_ptr<PanelModel> MainWindowBrowsers::panelAtIndex(kdui::ImageBrowserView& view, int index) {
    const auto list = mCntlr.panelListOfType(panelTypeOfView(view));
    if (!list || index < 0 || index >= int(list->size())) return nullptr;
    return (*list)[std::size_t(index)];
}

kdui::ImageBrowserItem MainWindowBrowsers::itemAtIndex(kdui::ImageBrowserView& view, int index) {
    kdui::ImageBrowserItem item;
    if (auto panel = panelAtIndex(view, index)) {
        item.image = PanelTile::displayImage(*panel);
        item.title = QString::fromStdString(panel->dispTitle());
    }
    return item;
}

bool MainWindowBrowsers::removeItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes) {
    const int type = panelTypeOfView(view);
    const int count = listCount(type);
    // A stale index (a menu of a list that changed meanwhile) removes nothing.
    if (indexes.empty() || *indexes.begin() < 0 || *indexes.rbegin() >= count) return false;
    const bool removed = editList(type, [&](auto& list) {
        if (indexes.size() == 1) {
            const auto& panel = list[std::size_t(*indexes.begin())];
            if (auto* output = dynamic_cast<OutputModel*>(panel.get())) deletePluginSettings(*output);
            if (auto* job = dynamic_cast<JobModel*>(panel.get()))
                for (const auto& out : job->jobOutputModel_List())
                    if (out) deletePluginSettings(*out);
        }
        for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) list.erase(list.begin() + *it);
        return true;
    });
    if (removed) reloadPanelBrowser(type);
    return removed;
}

bool MainWindowBrowsers::moveItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes, int destination) {
    const int type = panelTypeOfView(view);
    return editList(type, [&](auto& list) { return moveItemsInList(list, indexes, destination); });
}

bool MainWindowBrowsers::writeItems(kdui::ImageBrowserView& view, const kdui::IndexSet&, QMimeData& data) {
    const int type = panelTypeOfView(view);
    if (!validType(type)) return false;
    data.setData(kPanelTypeKey, QStringLiteral("PanelType_%1").arg(type).toUtf8());
    // The file-names type is announced, with no names: items never travel.
    data.setUrls({});
    return true;
}

void MainWindowBrowsers::openSettingWindow(int panelType, int index) {
    mCntlr.mainWindowPort()->openSettingWindow(panelType, index);
}

bool MainWindowBrowsers::isShowDarkShieldView() const { return mDarkShield && mDarkShield(); }

// ---- Delegate

void MainWindowBrowsers::cellWasDoubleClicked(kdui::ImageBrowserView& view, int index) {
    const int type = panelTypeOfView(view);
    if (!validType(type)) return;
    auto& loop = kdf::RunLoop::main();
    loop.cancelPerforms(this, kOpenSettingKey);
    loop.performAfterDelay(this, kOpenSettingKey, kdf::Seconds(0), [this, type, index] { openSettingWindow(type, index); });
}

void MainWindowBrowsers::cellWasRightClicked(kdui::ImageBrowserView& view, int index, QPoint globalPos) {
    QMenu* menu = panelMenu(panelTypeOfView(view));
    if (!menu) return;
    mClickedIndex = index;
    popUpMenu(*menu, globalPos);
    mClickedIndex = -1;
}

void MainWindowBrowsers::backgroundWasRightClicked(kdui::ImageBrowserView& view, QPoint globalPos) {
    const int type = panelTypeOfView(view);
    QMenu* menu = backMenu(type);
    if (!menu) return;
    updateBackMenuChecks(type);
    popUpMenu(*menu, globalPos);
}

void MainWindowBrowsers::popUpMenu(QMenu& menu, QPoint globalPos) {
    menu.setFont(TvUI::systemFont(QApplication::font().pixelSize() > 0 ? QApplication::font().pixelSize() : 13));
    menu.exec(globalPos);
}

QString MainWindowBrowsers::toolTipForItem(kdui::ImageBrowserView& view, int index) {
    if (mToolTipsRemoved) return {};
    auto panel = panelAtIndex(view, index);
    if (!panel) return {};
    std::string text;
    if (auto* job = dynamic_cast<JobModel*>(panel.get()))
        text = jobToolTip(*job);
    else if (auto* output = dynamic_cast<OutputModel*>(panel.get()))
        text = outputToolTip(*output);
    else if (auto* input = dynamic_cast<InputModel*>(panel.get()))
        text = inputToolTip(*input);
    return QString::fromStdString(text);
}

// ---- Dragging destination

QWidget* MainWindowBrowsers::browserOfDragString(const QString& text) const {
    for (int type = 0; type < 3; ++type)
        if (text == QStringLiteral("PanelType_%1").arg(type)) return panelBrowser(type);
    if (text == QLatin1String(kPreImagePanelTypeString)) {
        QWidget* window = mWindow ? mWindow() : nullptr;
        return window ? window->findChild<kdui::ImageBrowserView*>(QStringLiteral("Scan_PreImage_IBView")) : nullptr;
    }
    return nullptr;
}

Qt::DropAction MainWindowBrowsers::dropOperation(kdui::ImageBrowserView& view, const QMimeData& data, QPoint pos) const {
    if (!data.hasFormat(kPanelTypeKey)) return Qt::IgnoreAction;
    QWidget* source = browserOfDragString(QString::fromUtf8(data.data(kPanelTypeKey)));
    QWidget* window = view.window();
    if (!source || !window || source->window() != window) return Qt::IgnoreAction;
    const QPoint atWindow = view.viewport()->mapTo(window, pos);
    const QRect sourceFrame(source->mapTo(window, QPoint(0, 0)), source->size());
    return sourceFrame.contains(atWindow) ? Qt::MoveAction : Qt::IgnoreAction;
}

Qt::DropAction MainWindowBrowsers::draggingEntered(kdui::ImageBrowserView& view, const QMimeData& data, QPoint pos,
                                                   Qt::DropActions) {
    return dropOperation(view, data, pos);
}

Qt::DropAction MainWindowBrowsers::draggingUpdated(kdui::ImageBrowserView& view, const QMimeData& data, QPoint pos,
                                                   Qt::DropActions) {
    return dropOperation(view, data, pos);
}

void MainWindowBrowsers::draggingEnded(kdui::ImageBrowserView& view, bool dropped) {
    if (!dropped) return;
    if (QWidget* window = view.window()) {
        window->raise();
        window->activateWindow();
    }
}

} // namespace qlr_main
