#include "PreviewCntlr.h"

#include "AppMainCntlr.h"
#include "ListMove.h"
#include "TV_Message.h"
#include "FileNaming.h"
#include "JobModel.h"
#include "PageModels.h"
#include "PanelModel.h"
#include "PluginRegistryQueries.h"
#include "PreviewBaseView.h"
#include "PreviewRender.h"
#include "ProcessWindowServices.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"

#include <foundation/Bundle.h>
#include <foundation/Format.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

PreviewPages::~PreviewPages() = default;
PreviewNeighbours::~PreviewNeighbours() = default;

QImage PreviewNeighbours::resizeImage(const QImage& image, QSize size) {
    if (image.isNull() || size.isEmpty()) return {};
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void PreviewNeighbours::setStateInfoStrForProcWin(const std::optional<std::string>& state,
                                                  const std::optional<std::string>& info) {
    MainWindowCntlr::setStateInfoStrForProcWinForPfm(state, info);
}

namespace {

class ControllerPages : public PreviewPages {
public:
    explicit ControllerPages(AppMainCntlr& cntlr) : mCntlr(cntlr) {}
    std::vector<std::shared_ptr<PanelModel>> preImageModel_List() const override {
        return mCntlr.preImageModel_List();
    }
    void setPreImageModel_List(std::vector<std::shared_ptr<PanelModel>> items) override {
        mCntlr.setPreImageModel_List(std::move(items));
    }
    int preDisplayIndex() const override { return mCntlr.preDisplayIndex(); }
    void setPreDisplayIndex(int index) override { mCntlr.setPreDisplayIndex(index); }
    std::shared_ptr<ImageInfoModel> imgInfoAtIndex(int index) const override { return mCntlr.imgInfoAtIndex(index); }
    int countOfImgInfoDict() override { return mCntlr.countOfImgInfoDict(); }
    std::shared_ptr<JobModel> tmpCopyJobModel_Scan() override { return mCntlr.tmpCopyJobModel_Scan(); }
    bool isExeScningState() override { return mCntlr.isExeScningState(); }
    bool moveImgInfos(const std::set<int>& indexes, int destination) override {
        return mCntlr.moveImgInfos(indexes, destination);
    }
    int removeImgInfos(const std::set<int>& indexes) override { return mCntlr.removeImgInfos(indexes); }

private:
    AppMainCntlr& mCntlr;
};

void setControlText(QWidget* control, const QString& text) {
    if (auto* field = qobject_cast<QLineEdit*>(control))
        field->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(text);
}

QString controlText(const QWidget* control) {
    if (auto* field = qobject_cast<const QLineEdit*>(control)) return field->text();
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    return {};
}

// The number a field shows, 0 when it shows none.
int controlNumber(const QWidget* control) {
    bool ok = false;
    const int value = controlText(control).trimmed().toInt(&ok);
    return ok ? value : 0;
}

std::string localized(const char* key) {
    return kdf::localizedMainString(key);
}

// The widget's frame in the coordinates of another widget's parent.
QRect frameInParentOf(const QWidget* widget, const QWidget* other) {
    const QWidget* from = widget->parentWidget();
    const QWidget* to = other->parentWidget();
    if (!from || !to || from == to) return widget->geometry();
    return QRect(to->mapFromGlobal(from->mapToGlobal(widget->geometry().topLeft())), widget->size());
}

} // namespace

std::shared_ptr<PreviewPages> pagesOfController(AppMainCntlr& cntlr) {
    return std::make_shared<ControllerPages>(cntlr);
}

PreviewCntlr::PreviewCntlr(std::shared_ptr<PreviewPages> pages, std::shared_ptr<PreviewNeighbours> neighbours,
                           PreviewOutlets outlets)
    : mPages(std::move(pages)),
      mNeighbours(neighbours ? std::move(neighbours) : std::make_shared<PreviewNeighbours>()),
      mOutlets(std::move(outlets)) {
    if (mOutlets.pageBrowser) setPageBrowser(mOutlets.pageBrowser);
}

PreviewCntlr::~PreviewCntlr() {
    if (ImageIBView* browser = mOutlets.pageBrowser) {
        if (browser->dataSource() == this) browser->setDataSource(nullptr);
        if (browser->delegate() == this) browser->setDelegate(nullptr);
    }
}

void PreviewCntlr::setPageBrowser(ImageIBView* browser) {
    mOutlets.pageBrowser = browser;
    if (!browser) return;
    browser->setDelegate(this);
    browser->setDataSource(this);
}

QWidget* PreviewCntlr::control(int tag) const {
    return QlrUtilsMethod::itemInViewFromTag(mOutlets.scanContentView, tag);
}

// ---- Port.

void PreviewCntlr::displayOfPreview(const PageParam& param) {
    if (param.index < 0 || !param.page) return;
    savePreviewImage(param);
}

void PreviewCntlr::renewTempArrayOfPre() {
    auto items = mPages->preImageModel_List();
    const std::size_t count = std::size_t(std::max(0, mPages->countOfImgInfoDict()));
    if (items.size() > count) {
        items.resize(count);
        mPages->setPreImageModel_List(std::move(items));
    }
    updateControls();
}

void PreviewCntlr::revertEditingImage() {
    mNeighbours->revertEditingImage();
}

void PreviewCntlr::setCurrentOutput(int senderTag) {
    moveCurrentOutput(senderTag == 0 ? std::nullopt : std::optional<int>(senderTag));
}

void PreviewCntlr::setCurrentOutputBySender(QObject* sender) {
    auto* button = qobject_cast<QAbstractButton*>(sender);
    moveCurrentOutput(button ? std::optional<int>(kdui::tag(button)) : std::nullopt);
}

void PreviewCntlr::clearPreviewImage() {
    if (PreviewBaseView* view = mOutlets.previewView) {
        view->setIsExpanded(false);
        view->setPreviewImage(QImage());
    }
}

void PreviewCntlr::reloadPageBrowser() {
    if (ImageIBView* browser = mOutlets.pageBrowser) browser->reloadData();
}

// ---- Scan start and end.

void PreviewCntlr::setupPreviewByStartScan() {
    updatePageDisplay();
    mNeighbours->changeScale();
    updateControls();
    showScanInfo();
    // Pages arrive quickly: draw them cheaply until the scan is over.
    if (PreviewBaseView* view = mOutlets.previewView) view->setIsUseHighQualityInDraw(false);
}

void PreviewCntlr::restorePreviewByEndScan() {
    if (PreviewBaseView* view = mOutlets.previewView) view->setIsUseHighQualityInDraw(true);
    createPreviewImage(mPages->preDisplayIndex(), true);
    updatePageDisplay();
    updateControls();
}

// ---- An arriving page.

void PreviewCntlr::savePreviewImage(const PageParam& param) {
    const auto& page = param.page;
    if (!page) return;
    const QlrUtilsMethod::ImageRef thumbnail = page->imgInfo_PreThumbImage();
    if (!thumbnail) return;
    const QImage picture = QlrUtilsMethod::imageOf(thumbnail);

    if (PreviewBaseView* view = mOutlets.previewView) {
        view->setPreviewImage(picture);
        view->setSrcFitImageSize(QSizeF(thumbnail->width(), thumbnail->height()));
        view->setRealImageSize(QSizeF(page->imgInfo_Width(), page->imgInfo_Height()));
    }

    // The item keeps a copy of its own: the page lets go of its thumbnail.
    auto item = std::make_shared<PanelModel>();
    item->setDispImage(std::make_shared<QlrUtilsMethod::QtImage>(QIcon(), picture.copy()));
    auto items = mPages->preImageModel_List();
    items.push_back(item);
    const int itemCount = int(items.size());
    mPages->setPreImageModel_List(std::move(items));
    ImageIBView* browser = mOutlets.pageBrowser;
    if (browser) {
        browser->reloadData();
        browser->viewport()->update();
    }

    page->setImgInfo_PreThumbImage(nullptr);

    mPages->setPreDisplayIndex(param.index);
    if (browser) browser->setSelectionIndexes(kdui::IndexSet{param.index}, false);
    updatePageDisplay();

    // Without its text in the tables the count still shows.
    std::string format = localized("ScanState_Scning");
    if (format.empty() || format == "ScanState_Scning") format = "%d";
    mNeighbours->setStateInfoStrForProcWin(kdf::formatLocalized(format, {std::int64_t(itemCount)}), std::nullopt);

    if (browser) {
        QScrollBar* bar = browser->verticalScrollBar();
        const bool scrollerShown = browser->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff && bar->maximum() > 0;
        const QRect last = browser->itemFrameAtIndex(browser->numberOfItems() - 1);
        if (scrollerShown && !last.isEmpty() && !browser->viewport()->rect().contains(last))
            bar->setValue(bar->value() + last.y() - kScrollMargin);
    }
}

// ---- Counter and controls.

void PreviewCntlr::updatePageDisplay() {
    const int shown = mPages->preDisplayIndex();
    auto items = mPages->preImageModel_List();
    setControlText(control(kShownPageField), shown < 0 ? QString() : QString::number(shown + 1));
    QString count;
    if (!items.empty()) {
        const QString number = QString::number(items.size());
        count = QlrUtilsMethod::isLTR_LayoutDirection() ? QStringLiteral("/") + number : number + QStringLiteral("/");
    }
    setControlText(control(kPageCountLabel), count);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const bool selected = int(i) == shown;
        if (items[i] && items[i]->isSelected() != selected) items[i]->setIsSelected(selected);
    }
    if (ImageIBView* browser = mOutlets.pageBrowser) browser->viewport()->update();
}

void PreviewCntlr::updateControls() {
    const bool hasItems = !mPages->preImageModel_List().empty();
    for (int tag : {kProcessPaneButton, kTransformPaneButton, kRotatePaneButton, kFinishButton, kRevertButton})
        if (QWidget* item = control(tag)) item->setEnabled(hasItems);
    if (!hasItems) mNeighbours->cancelEditingImage();
}

// ---- The preview picture.

QSizeF PreviewCntlr::availableArea() const {
    QScreen* screen = mOutlets.mainWindow ? mOutlets.mainWindow->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRectF usable = screen ? QRectF(screen->availableGeometry()) : QRectF();
    const double header = mOutlets.scanHeaderView ? mOutlets.scanHeaderView->height() : 0;
    const double info = mOutlets.scanInfoView ? mOutlets.scanInfoView->height() : 0;
    return preview_render::availableArea(usable, header, info);
}

void PreviewCntlr::createPreviewImage(int index, bool isFitSize) {
    const auto page = mPages->imgInfoAtIndex(index);
    if (!page) return;
    double width = page->imgInfo_Width();
    double height = page->imgInfo_Height();
    int bitsPerPixel = page->imgInfo_bpp();

    QImage edited;
    const std::string editedPath = page->imgInfo_DstImagePath();
    if (!editedPath.empty()) {
        QImageReader reader(QString::fromStdString(editedPath));
        edited = reader.read();
        if (!edited.isNull()) {
            width = edited.width();
            height = edited.height();
            bitsPerPixel = edited.depth();
        }
    }

    const auto sizes = preview_render::previewSizes(width, height, bitsPerPixel, availableArea(), isFitSize);
    PreviewBaseView* view = mOutlets.previewView;
    if (!sizes || !view) return;
    if (!isFitSize && view->isExpanded()) return;

    if (!edited.isNull()) {
        const QImage scaled = mNeighbours->resizeImage(edited, sizes->target);
        if (scaled.isNull()) return;
        view->setIsExpanded(!isFitSize);
        view->setSrcFitImageSize(QSizeF(width, height));
        view->setRealImageSize(QSizeF(edited.size()));
        view->setPreviewImage(scaled);
        return;
    }

    const QImage rendered = preview_render::renderRawPageFile(page->imgInfo_TmpImagePath(), page->imgInfo_Width(),
                                                              page->imgInfo_Height(), page->imgInfo_bpp(),
                                                              sizes->target);
    if (rendered.isNull()) return;
    view->setIsExpanded(!isFitSize);
    view->setSrcFitImageSize(QSizeF(width, height));
    view->setRealImageSize(QSizeF(page->imgInfo_Width(), page->imgInfo_Height()));
    view->setPreviewImage(rendered);
}

// ---- Scan information.

void PreviewCntlr::showScanInfo() {
    const auto job = mPages->tmpCopyJobModel_Scan();
    const auto inputs = job ? job->jobInputModel_List() : std::vector<std::shared_ptr<InputModel>>{};
    const auto outputs = job ? job->jobOutputModel_List() : std::vector<std::shared_ptr<OutputModel>>{};
    const auto& input = inputs.empty() ? nullptr : inputs.front();
    setControlText(control(kColorModeText), input ? QString::fromStdString(input->dispColorMode()) : QString());
    setControlText(control(kReaderSideText), input ? QString::fromStdString(input->dispReaderSide()) : QString());

    const int count = int(outputs.size());
    QString typeText;
    QString fileName;
    if (count > 0) {
        const int last = count - 1;
        const int current = std::clamp(job->outputIndex(), 0, last);
        const int shown = std::clamp(controlNumber(control(kShownOutputField)) - 1, current, last);
        const auto& output = outputs[std::size_t(shown)];
        if (output) {
            const std::string pluginID = output->pluginID();
            if (!pluginID.empty()) {
                const auto title =
                    PluginRegistryQueries::valueForPluginIDWithType(pluginID, PluginRegistryQueries::kTitleType);
                if (title && title->string()) typeText = QString::fromStdString(*title->string());
            } else {
                typeText = QString::fromStdString(localized("OutputType_ToFile"));
            }
            fileName = QString::fromStdString(qlr_output::currentFileName(output.get()));
        }
        if (count >= 2) setControlText(control(kShownOutputField), QString::number(shown + 1));
    }
    setControlText(control(kOutputTypeText), typeText);
    setControlText(control(kFileNameText), fileName);

    QWidget* group = mOutlets.outputPagination;
    if (!group) return;
    group->setHidden(count < 2);
    QWidget* box = control(kOutputTypeBox);
    if (!box) return;
    const QRect groupFrame = frameInParentOf(group, box);
    QRect frame = box->geometry();
    const bool ltr = QlrUtilsMethod::isLTR_LayoutDirection();
    if (count >= 2) {
        if (ltr)
            frame.setRight(groupFrame.left() - 1 - kPaginationGap);
        else
            frame.setLeft(groupFrame.right() + 1 + kPaginationGap);
    } else {
        if (ltr)
            frame.setRight(groupFrame.right());
        else
            frame.setLeft(groupFrame.left());
    }
    if (frame.width() > 0 && frame != box->geometry()) box->setGeometry(frame);
}

void PreviewCntlr::moveCurrentOutput(std::optional<int> buttonTag) {
    const auto job = mPages->tmpCopyJobModel_Scan();
    const int count = job ? int(job->jobOutputModel_List().size()) : 0;
    if (count > 0) {
        const int current = std::clamp(job->outputIndex(), 0, count - 1);
        int k = controlNumber(control(kShownOutputField)) - 1;
        if (k < 0 || k > count - 1) k = 0;
        if (!buttonTag)
            k = current;
        else if (*buttonTag == kPreviousOutputButton)
            k -= 1;
        else if (*buttonTag == kNextOutputButton)
            k += 1;
        // Only the outputs not yet processed take turns.
        if (k > count - 1)
            k = current;
        else if (k < current)
            k = count - 1;
        setControlText(control(kShownOutputField), QString::number(k + 1));
    }
    showScanInfo();
}

// ---- The page browser.

int PreviewCntlr::numberOfItems(kdui::ImageBrowserView& view) {
    if (&view != mOutlets.pageBrowser.data()) return 0;
    return int(mPages->preImageModel_List().size());
}

kdui::ImageBrowserItem PreviewCntlr::itemAtIndex(kdui::ImageBrowserView&, int index) {
    const auto items = mPages->preImageModel_List();
    if (index < 0 || std::size_t(index) >= items.size() || !items[std::size_t(index)]) return {};
    const auto& item = items[std::size_t(index)];
    // Titles follow the order of the pages.
    item->setDispImageTitle(std::to_string(index + 1));
    return {QlrUtilsMethod::imageOf(item->dispImage()), QString::number(index + 1)};
}

bool PreviewCntlr::isShownItem(kdui::ImageBrowserView&, int index) {
    const auto items = mPages->preImageModel_List();
    return index >= 0 && std::size_t(index) < items.size() && items[std::size_t(index)] &&
           items[std::size_t(index)]->isSelected();
}

void PreviewCntlr::selectionDidChange(kdui::ImageBrowserView& view) {
    if (&view != mOutlets.pageBrowser.data()) return;
    const kdui::IndexSet selection = view.selectionIndexes();
    if (!mPages->isExeScningState()) {
        // A selection that grew shows the page just added.
        kdui::IndexSet added;
        std::set_difference(selection.begin(), selection.end(), mPreviousSelection.begin(), mPreviousSelection.end(),
                            std::inserter(added, added.end()));
        const bool grew = !added.empty() && added.size() < selection.size() &&
                          std::includes(selection.begin(), selection.end(), mPreviousSelection.begin(),
                                        mPreviousSelection.end());
        const kdui::IndexSet& counted = grew ? added : selection;
        const int page = counted.empty() ? -1 : *counted.rbegin();
        if (page != mPages->preDisplayIndex()) {
            mNeighbours->revertEditingImage();
            mPages->setPreDisplayIndex(page);
            mNeighbours->changeScale();
            createPreviewImage(page, true);
        }
        updatePageDisplay();
        updateControls();
    }
    mPreviousSelection = selection;
}

// ---- Page moves and removals from the page browser.

bool PreviewCntlr::moveItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes, int destination) {
    if (&view != mOutlets.pageBrowser.data()) return false;
    auto items = mPages->preImageModel_List();
    // Where each page goes, to follow the shown one.
    std::vector<int> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    if (!qlr::moveItemsInList(order, indexes, destination)) return false;
    // The page list first: the items follow only a move the list took.
    if (!mPages->moveImgInfos(indexes, destination)) return false;
    qlr::moveItemsInList(items, indexes, destination);
    mPages->setPreImageModel_List(std::move(items));
    const int shown = mPages->preDisplayIndex();
    const auto at = std::find(order.begin(), order.end(), shown);
    if (shown >= 0 && at != order.end()) mPages->setPreDisplayIndex(int(at - order.begin()));
    // The remembered selection names the same pages at their new places.
    kdui::IndexSet remembered;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (mPreviousSelection.count(order[i])) remembered.insert(int(i));
    mPreviousSelection = remembered;
    return true;
}

bool PreviewCntlr::removeItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes) {
    if (&view != mOutlets.pageBrowser.data()) return false;
    auto items = mPages->preImageModel_List();
    if (indexes.empty() || *indexes.begin() < 0 || *indexes.rbegin() >= int(items.size())) return false;
    const int answer = TV_Message::showPanel("Confirm", std::string("Cnfm_ScanCancelToMainYesOrNo"), std::nullopt,
                                             "OK", "Cancel", std::nullopt, TV_Message::kInformationalAlertStyle, 0,
                                             true);
    if (answer != TV_Message::kAlertDefaultReturn) return false;
    if (mPages->removeImgInfos(indexes) != int(indexes.size())) return false;
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) items.erase(items.begin() + *it);
    const bool remain = !items.empty();
    const int last = int(items.size()) - 1;
    mPages->setPreImageModel_List(std::move(items));
    // The shown page's index no longer names it: the selection below shows
    // the last page afresh.
    mPages->setPreDisplayIndex(-1);
    mPreviousSelection.clear();
    view.reloadData();
    if (remain) {
        view.setSelectionIndexes({last}, false);
        selectionDidChange(view);
    } else {
        clearPreviewImage();
        updatePageDisplay();
    }
    return true;
}
