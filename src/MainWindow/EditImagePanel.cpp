#include "EditImagePanel.h"

#include "AppMainCntlr.h"
#include "MainTopDisplay.h"
#include "MainWindowController.h"
#include "MainWindowNib.h"
#include "MainWindowScanHost.h"

#include <JobModel.h>
#include <TV_FuncUI.h>
#include <TvButtons.h>

#include <ui/FrameChange.h>
#include <ui/ViewAnimation.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <vector>

namespace qlr_main {
namespace {

struct SectionNames {
    int tag;
    const char* shrink;
    const char* header;
    const char* headerBack;
    const char* content;
};

// In the order the sections stack and a sender-less close looks for the
// open one.
constexpr SectionNames kSections[] = {
    {kImageProcToggleTag, "Image_Proc_ShrinkView", "Image_Proc_HeaderView", "Image_Proc_Header_BackView",
     "Image_Proc_ContentView"},
    {kImageTransformToggleTag, "Image_Transform_ShrinkView", "Image_Transform_HeaderView",
     "Image_Transform_Header_BackView", "Image_Transform_ContentView"},
    {kImageRotateToggleTag, "Image_Rotate_ShrinkView", "Image_Rotate_HeaderView", "Image_Rotate_Header_BackView",
     "Image_Rotate_ContentView"},
};

// The button's state; without animation a section toggle's triangle turns
// at once.
void setButtonState(QWidget* view, bool on, bool animate = false) {
    auto* button = qobject_cast<QAbstractButton*>(view);
    if (!button) return;
    button->setCheckable(true);
    button->setChecked(on);
    if (animate) return;
    auto* cellButton = qobject_cast<TvCellButton*>(button);
    auto* triangle = cellButton ? dynamic_cast<TvTriangleButtonCell*>(cellButton->cell()) : nullptr;
    QVariantAnimation* turn = triangle ? triangle->animation() : nullptr;
    if (turn && turn->state() == QAbstractAnimation::Running) turn->setCurrentTime(turn->duration());
}

} // namespace

EditImagePanel::EditImagePanel(AppMainCntlr& cntlr, MainWindowController& window, MainWindowScanHost& host)
    : cntlr_(cntlr), window_(window), host_(host) {
    if (QWidget* panel = outlet("Scan_ImageProc_SubView"); panel && panel->maximumWidth() < QWIDGETSIZE_MAX)
        panelWidth_ = panel->maximumWidth();
    connectButtons();
}

QWidget* EditImagePanel::outlet(const char* name) const { return MainWindowNib::outlet(window_.mainWindow(), name); }

QWidget* EditImagePanel::scanItem(int tag) const { return kdui::viewWithTag(host_.scanContentView(), tag); }

EditImagePanel::Section EditImagePanel::section(int toggleTag) const {
    for (const SectionNames& n : kSections) {
        if (n.tag != toggleTag) continue;
        return {n.tag, outlet(n.shrink), outlet(n.header), outlet(n.headerBack), outlet(n.content)};
    }
    return {};
}

void EditImagePanel::connectButtons() {
    for (const SectionNames& n : kSections) {
        auto* button = qobject_cast<QAbstractButton*>(scanItem(n.tag));
        if (!button) continue;
        button->setCheckable(true);
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [this, button] { updateEditImageViews(button, true); });
    }
    if (auto* toggle = qobject_cast<QAbstractButton*>(scanItem(kEditPanelToggleTag))) {
        toggle->setCheckable(true);
        QObject::connect(toggle, &QAbstractButton::clicked, toggle, [this, toggle] {
            showHideEditImageDisplay(toggle, !isEditImageDisplayShown(), true);
            if (!isEditImageDisplayShown()) host_.cancelEditingImage();
            if (QWidget* scan = host_.scanContentView()) kdui::postFrameDidChange(scan);
        });
    }
}

std::vector<QWidget*> EditImagePanel::belowHeader(const Section& s) {
    std::vector<QWidget*> views;
    if (!s.shrink) return views;
    for (QWidget* child : s.shrink->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != s.header && child != s.headerBack) views.push_back(child);
    }
    return views;
}

int EditImagePanel::closedHeight(int toggleTag) const {
    const Section s = section(toggleTag);
    return s.header ? s.header->sizeHint().height() + 1 : 1;
}

int EditImagePanel::openHeight(const Section& s) {
    if (!s.shrink) return 0;
    // The section's own layout with everything below the header shown.
    int height = s.header ? s.header->sizeHint().height() : 0;
    if (QLayout* layout = s.shrink->layout()) {
        const QMargins m = layout->contentsMargins();
        height = m.top() + m.bottom();
        int shown = 0;
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            QWidget* w = item->widget();
            const int h = w ? w->sizeHint().height() : item->sizeHint().height();
            if (h <= 0) continue;
            height += h;
            ++shown;
        }
        height += std::max(0, shown - 1) * std::max(0, layout->spacing());
    }
    return height;
}

bool EditImagePanel::isSectionOpen(int toggleTag) const {
    const Section s = section(toggleTag);
    return s.content && !s.content->isHidden();
}

void EditImagePanel::setSectionShown(const Section& s, bool open) {
    if (!s.shrink) return;
    for (QWidget* view : belowHeader(s)) view->setVisible(open);
    if (s.headerBack) s.headerBack->setVisible(open);
    s.shrink->setFixedHeight(open ? openHeight(s) : closedHeight(s.tag));
}

void EditImagePanel::initEditImageView() {
    for (const SectionNames& n : kSections) {
        const Section s = section(n.tag);
        setSectionShown(s, false);
        setButtonState(scanItem(n.tag), false);
    }
    // The form's layout stacks the sections top-down in the panel's base
    // view; it is asked to do so now.
    if (QWidget* base = outlet("Scan_ImageProc_BaseView"); base && base->layout()) base->layout()->activate();
}

void EditImagePanel::updateEditImageViews(QWidget* sender, bool isAnime) {
    int pressed = sender ? kdui::tag(sender) : 0;
    if (!sender) {
        for (const SectionNames& n : kSections) {
            if (!isSectionOpen(n.tag)) continue;
            pressed = n.tag;
            setButtonState(scanItem(n.tag), false, isAnime);
            break;
        }
        if (!pressed) return;
    }
    if (!section(pressed).shrink) return;

    // What each section becomes: the pressed one toggles, every other one
    // closes.
    struct Change {
        Section s;
        bool wasOpen;
        bool open;
    };
    std::vector<Change> changes;
    for (const SectionNames& n : kSections) {
        const Section s = section(n.tag);
        if (!s.shrink) continue;
        const bool wasOpen = isSectionOpen(n.tag);
        changes.push_back({s, wasOpen, n.tag == pressed ? !wasOpen : false});
    }

    QWidget* base = outlet("Scan_ImageProc_BaseView");
    if (isAnime && base) {
        // The new stack, top-down in the base view, as frames.
        const QLayout* layout = base->layout();
        const QMargins m = layout ? layout->contentsMargins() : QMargins();
        const int spacing = layout ? std::max(0, layout->spacing()) : 0;
        int y = m.top();
        std::vector<kdui::ViewAnimation> animations;
        for (const Change& c : changes) {
            const int height = c.open ? openHeight(c.s) : closedHeight(c.s.tag);
            QRect end(m.left(), y, base->width() - m.left() - m.right(), height);
            if (base->layoutDirection() == Qt::RightToLeft) end = mirroredFrame(end, base->width());
            y += height + spacing;
            if (c.open && !c.wasOpen) {
                for (QWidget* view : belowHeader(c.s)) view->show();
            }
            c.s.shrink->setMinimumHeight(0);
            c.s.shrink->setMaximumHeight(QWIDGETSIZE_MAX);
            animations.push_back(AppMainCntlr::viewAnimInfo(c.s.shrink, c.s.shrink->geometry(), end));
            if (c.s.headerBack && c.open != c.wasOpen) {
                if (c.open) c.s.headerBack->show();
                animations.push_back(AppMainCntlr::fadeInOutInfo(c.open, c.s.headerBack));
            }
        }
        kdui::runViewAnimations(animations, kViewAnimationSeconds, true);
        for (const Change& c : changes) {
            if (c.s.headerBack) c.s.headerBack->setGraphicsEffect(nullptr);
        }
    }
    for (const Change& c : changes) {
        setSectionShown(c.s, c.open);
        if (c.open != c.wasOpen) setButtonState(scanItem(c.s.tag), c.open, isAnime);
    }
    if (base && base->layout()) base->layout()->activate();

    const bool procClosed = std::any_of(changes.begin(), changes.end(), [](const Change& c) {
        return c.s.tag == kImageProcToggleTag && c.wasOpen && !c.open;
    });
    if (procClosed) {
        QWidget* control = scanItem(kImageProcModeTag);
        if (auto* mode = qobject_cast<TvSegmentedControl*>(control)) {
            // The control is mirrored in right-to-left layout: segment 1 is
            // the same first mode there.
            mode->setSelectedSegment(mode->layoutDirection() == Qt::RightToLeft ? 1 : 0);
        }
        host_.changeImageProcMode(control);
    }
    if (QWidget* main = window_.mainWindow()) TV_Func::setNextKeyViewsAtWindow(main);
}

bool EditImagePanel::isEditImageDisplayShown() const {
    const QWidget* panel = outlet("Scan_ImageProc_SubView");
    return panel && !panel->isHidden();
}

void EditImagePanel::showHideEditImageDisplay(QWidget* sender, bool isShow, bool isAnime) {
    QWidget* panel = outlet("Scan_ImageProc_SubView");
    QWidget* split = outlet(kScanSplitView);
    const bool show = sender ? !isEditImageDisplayShown() : isShow;
    if (panel && split && (!isAnime || AppMainCntlr::isValidAnimation())) {
        const auto job = cntlr_.tmpCopyJobModel_Scan();
        const int width = panelWidth_ + (job && job->isImageProcess() ? kImageProcHeaderExtra : 0);
        if (isAnime && panel->parentWidget() == split->parentWidget()) {
            // The split view and the panel share one row: the split view
            // takes the room the panel frees or gives it back.
            QWidget* parent = split->parentWidget();
            const bool rtl = parent->layoutDirection() == Qt::RightToLeft;
            QRect row = split->geometry();
            if (!panel->isHidden()) row = row.united(panel->geometry());
            QRect splitEnd(row.x(), row.y(), show ? std::max(0, row.width() - width) : row.width(), row.height());
            QRect panelEnd(row.x() + row.width() - width, row.y(), width, row.height());
            if (rtl) {
                splitEnd.moveLeft(row.x() + row.width() - splitEnd.width());
                panelEnd.moveLeft(row.x());
            }
            std::vector<kdui::ViewAnimation> animations{
                AppMainCntlr::viewAnimInfo(split, split->geometry(), splitEnd)};
            if (show != isEditImageDisplayShown()) {
                if (show) {
                    panel->setGeometry(panelEnd);
                    panel->show();
                }
                animations.push_back(AppMainCntlr::fadeInOutInfo(show, panel));
            }
            kdui::runViewAnimations(animations, kViewAnimationSeconds, true);
            panel->setGraphicsEffect(nullptr);
        }
        panel->setFixedWidth(width);
        panel->setVisible(show);
        if (QLayout* layout = split->parentWidget() ? split->parentWidget()->layout() : nullptr) layout->activate();
    }
    if (QWidget* main = window_.mainWindow()) TV_Func::setNextKeyViewsAtWindow(main);
    setButtonState(scanItem(kEditPanelToggleTag), !isEditImageDisplayShown());
}

} // namespace qlr_main
