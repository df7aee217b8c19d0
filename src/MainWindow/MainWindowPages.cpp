#include "MainWindowPages.h"

#include "AppMainCntlr.h"
#include "PreviewBaseView.h"
#include "TvSlider.h"

#include <foundation/Bundle.h>
#include <ui/FrameChange.h>
#include <ui/ImageBrowserView.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace qlr_main {

namespace {

// The thumbnail browser's zoom while the preview is shown (0: none kept).
double sThumbnailZoom = 0;

QString localized(const char* key) {
    return QString::fromStdString(kdf::localizedMainString(key));
}

} // namespace

int pageNumberFromText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return 0;
    long long value = 0;
    for (const QChar c : trimmed) {
        const char16_t u = c.unicode();
        int digit;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= 0x0660 && u <= 0x0669)
            digit = u - 0x0660;
        else
            return 0;
        value = std::min<long long>(value * 10 + digit, INT_MAX);
    }
    return int(value);
}

MainWindowPages::MainWindowPages(AppMainCntlr& cntlr, MainWindowScanHost& host) : cntlr_(cntlr), host_(host) {}

double MainWindowPages::rememberedThumbnailZoom() { return sThumbnailZoom; }
void MainWindowPages::resetRememberedThumbnailZoom() { sThumbnailZoom = 0; }

QWidget* MainWindowPages::scanControl(int tag) const { return kdui::viewWithTag(host_.scanContentView(), tag); }

void MainWindowPages::changeMultiSelectScanImage(QWidget* sender) {
    const int count = cntlr_.countOfImgInfoDict();
    auto* browser = host_.pageBrowser();
    if (count < 1 || !sender || !browser) return;
    kdui::IndexSet indexes;
    const int tag = kdui::tag(sender);
    for (int i = 0; i < count; ++i) {
        if (tag == kTagSelectAllPages || (tag == kTagSelectOddPages && i % 2 == 0) ||
            (tag == kTagSelectEvenPages && i % 2 == 1))
            indexes.insert(i);
    }
    if (indexes.empty()) return;
    browser->setSelectionIndexes(indexes, false);
    host_.imageBrowserSelectionDidChange();
}

void MainWindowPages::changeSelectScanImage(QWidget* sender) {
    const int count = cntlr_.countOfImgInfoDict();
    auto* field = qobject_cast<QLineEdit*>(scanControl(kTagPageNumber));
    if (count < 1) {
        if (field) field->setText(QString());
        return;
    }
    const int shown = cntlr_.preDisplayIndex();
    long long index = shown;
    switch (sender ? kdui::tag(sender) : 0) {
    case kTagNextPage: index = (long long)shown + 1; break;
    case kTagPreviousPage: index = (long long)shown - 1; break;
    case kTagPageNumber: {
        auto* typed = qobject_cast<QLineEdit*>(sender);
        index = (long long)pageNumberFromText(typed ? typed->text() : QString()) - 1;
        break;
    }
    default: break;
    }
    const int target = int(std::clamp<long long>(index, 0, count - 1));

    if (auto* browser = host_.pageBrowser()) {
        browser->setSelectionIndexes({target}, false);
        const QScrollBar* scroller = browser->verticalScrollBar();
        const QRect frame = browser->itemFrameAtIndex(target);
        const QRect visible = browser->viewport()->rect();
        if (scroller && scroller->isVisible() && !frame.isEmpty() && !visible.contains(frame))
            browser->scrollRectToVisible(frame.translated(0, -kScrollToPageMargin));
    }
    if (target != cntlr_.preDisplayIndex()) {
        cntlr_.setPreDisplayIndex(target);
        host_.createPreviewImage(target, true);
    }
    host_.updatePageDisplay();
}

void MainWindowPages::changeScale(QWidget* sender) {
    auto* slider = qobject_cast<TvSlider*>(scanControl(kTagScaleSlider));
    auto* preview = host_.previewView();
    const bool previewShown = host_.isPreviewShown();
    if (!sender) {
        if (preview) {
            preview->setScaleValue(1.0);
            preview->setDegreeForRotate(0);
            preview->setRatioOfCrop(QRectF(0, 0, 1, 1));
        }
        cntlr_.setPreviewScale(1.0f);
        if (slider) slider->setDoubleValue(previewShown ? cntlr_.previewScale() : cntlr_.previewCellSize());
        return;
    }
    const bool fromSlider = kdui::tag(sender) == kTagScaleSlider;
    if (!previewShown) {
        if (!slider) return;
        const double edge = slider->doubleValue();
        if (auto* browser = host_.pageBrowser()) browser->setCellSize(QSize(int(edge + 0.5), int(edge + 0.5)));
        cntlr_.setPreviewCellSize(float(edge));
        return;
    }
    if (fromSlider && slider) {
        const double scale = slider->doubleValue();
        // A zoom past the fitted size needs the page's full pixels first.
        if (scale > 1.0) host_.createPreviewImage(cntlr_.preDisplayIndex(), false);
        if (preview) preview->setScaleValue(scale);
        cntlr_.setPreviewScale(float(scale));
    } else {
        if (slider) slider->setDoubleValue(1.0);
        if (preview) preview->setScaleValue(1.0);
        cntlr_.setPreviewScale(1.0f);
    }
}

void MainWindowPages::switchPreviewDisplay(QWidget* /*sender*/) {
    auto* browser = host_.pageBrowser();
    const bool wasShown = host_.isPreviewShown();
    if (!wasShown) {
        if (browser) sThumbnailZoom = browser->zoomValue();
    } else {
        cntlr_.setScanThumbnailView_W(float(host_.thumbnailColumnWidth()));
    }
    host_.setPreviewShown(!wasShown);
    const bool shown = host_.isPreviewShown();

    QWidget* previous = scanControl(kTagPreviousPage);
    QWidget* navigation = previous ? previous->parentWidget() : nullptr;
    QWidget* companion = scanControl(kTagPageNavigationCompanion);
    if (!shown) {
        if (browser) {
            double zoom = sThumbnailZoom;
            if (zoom == 0) {
                // One cell filling the column; a column or cell of no width
                // gives no zoom to compute, so the current one stays.
                const double cell = browser->cellSize().width() + browser->intercellSpacing().width();
                const double column = host_.thumbnailColumnWidth();
                zoom = (browser->cellSize().width() > 0 && column > 0) ? std::clamp(cell / column, 0.0, 1.0)
                                                                       : browser->zoomValue();
            }
            browser->setZoomValue(zoom);
        }
        if (navigation) navigation->hide();
        if (companion) companion->hide();
    } else {
        host_.setThumbnailColumnWidth(cntlr_.scanThumbnailView_W());
        host_.setCellSizeOfPreImageIBView();
        if (navigation) navigation->show();
        if (companion) companion->show();
    }

    if (auto* slider = qobject_cast<TvSlider*>(scanControl(kTagScaleSlider))) {
        const SliderLimits& limits = shown ? kPreviewSliderLimits : kThumbnailSliderLimits;
        slider->setMinValue(limits.minimum);
        slider->setMaxValue(limits.maximum);
        slider->setAltIncrementValue(limits.altIncrement);
        slider->setDoubleValue(shown ? cntlr_.previewScale() : cntlr_.previewCellSize());
        changeScale(slider);
    }
    if (auto* toggle = qobject_cast<QAbstractButton*>(scanControl(kTagPreviewToggle))) {
        const QString text = localized(shown ? "Tooltip_HidePreview" : "Tooltip_ShowPreview");
        toggle->setToolTip(text);
        toggle->setText(text);
    }
    if (QWidget* scan = host_.scanContentView()) kdui::postFrameDidChange(scan);
}

void MainWindowPages::showHideEditImage(QWidget* sender) {
    host_.showHideEditImageDisplay(sender, !host_.isEditImageDisplayShown(), true);
    if (!host_.isEditImageDisplayShown()) host_.cancelEditingImage();
    if (QWidget* scan = host_.scanContentView()) kdui::postFrameDidChange(scan);
}

void MainWindowPages::showOutputWindow(QWidget* /*sender*/) { host_.openSettingWindowForScanJob(); }

void MainWindowPages::changeMainTopDisplay(QWidget* sender) { host_.updateMainTopDisplay(sender, true); }

void MainWindowPages::connectScanViewActions() {
    const std::pair<int, void (MainWindowPages::*)(QWidget*)> buttons[] = {
        {kTagSelectAllPages, &MainWindowPages::changeMultiSelectScanImage},
        {kTagSelectOddPages, &MainWindowPages::changeMultiSelectScanImage},
        {kTagSelectEvenPages, &MainWindowPages::changeMultiSelectScanImage},
        {kTagPreviousPage, &MainWindowPages::changeSelectScanImage},
        {kTagNextPage, &MainWindowPages::changeSelectScanImage},
        {kTagPreviewToggle, &MainWindowPages::switchPreviewDisplay},
    };
    for (const auto& [tag, action] : buttons) {
        auto* button = qobject_cast<QAbstractButton*>(scanControl(tag));
        if (!button) continue;
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [this, button, action = action] { (this->*action)(button); });
    }
    if (auto* field = qobject_cast<QLineEdit*>(scanControl(kTagPageNumber)))
        QObject::connect(field, &QLineEdit::editingFinished, field, [this, field] { changeSelectScanImage(field); });
    if (auto* slider = qobject_cast<TvSlider*>(scanControl(kTagScaleSlider)))
        // Only the user's moves act, once the slider holds the new value;
        // values the program sets do not.
        QObject::connect(
            slider, &QAbstractSlider::actionTriggered, slider, [this, slider] { changeScale(slider); },
            Qt::QueuedConnection);
}

void MainWindowPages::scrollWheelDidChange() {
    auto* slider = qobject_cast<TvSlider*>(scanControl(kTagScaleSlider));
    auto* preview = host_.previewView();
    if (slider && preview) slider->setDoubleValue(preview->scaleValue());
}

} // namespace qlr_main
