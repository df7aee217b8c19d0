// The job's tab control, typed text and the data source window's
// notifications.
#include "PanelSettingCntlr.h"

#include "AppMainCntlr.h"
#include "MainWindowController.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"
#include "TV_Func.h"
#include "TvButtons.h"
#include "TvPopoverWindow.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QFontMetrics>
#include <QLineEdit>

#include <algorithm>

namespace qlr_main {

namespace {

std::string localizedText(const char* key) {
    return kdf::localizedMainString(key);
}

// Room a segment needs around its label.
constexpr int kSegmentLabelMargin = 16;

// The typed-text fields and the routine their text goes to.
bool isSettingField(int tag) { return tag == kTagFileName || tag == kTagPanelTitle; }
bool isTypingField(int tag) {
    switch (tag) {
    case kTagFileName:
    case kTagPanelTitle:
    case kTagPageNumberField:
    case 4122:
    case 4132:
    case 4212:
    case 4214:
    case 4223:
    case 4227: return true;
    default: return false;
    }
}

std::string typingKey(const QLineEdit* field) { return "typing:" + std::to_string(kdui::tag(field)); }

} // namespace

void PanelSettingCntlr::updateOutputTab(bool isOutputsOnly) {
    auto* tabs = qobject_cast<TvSegmentedControl*>(control(kTagJobTab));
    auto job = editedJob();
    if (!tabs || !job) return;
    const int oldSegment = tabs->selectedSegment();
    const int remembered =
        oldSegment >= 0 && std::size_t(oldSegment) < tabTags_.size() ? tabTags_[std::size_t(oldSegment)] : -1;
    const int outputs = std::min(int(job->jobOutputModel_List().size()), kMaxJobOutputs);
    std::vector<std::pair<int, QString>> tabs_;
    if (!isOutputsOnly) tabs_.emplace_back(kTabInput, QString::fromStdString(localizedText("JobPanel_TabTitle_Input")));
    const QString outputLabel = QString::fromStdString(localizedText("JobPanel_TabTitle_Output"));
    for (int i = 0; i < outputs; ++i)
        tabs_.emplace_back(kTabFirstOutput + i, outputs == 1 ? outputLabel : outputLabel + QString::number(i + 1));
    if (!isOutputsOnly) {
        tabs_.emplace_back(kTabOptions, QString::fromStdString(localizedText("JobPanel_TabTitle_Option")));
        tabs_.emplace_back(kTabWhole, QString::fromStdString(localizedText("JobPanel_TabTitle_Whole")));
    }
    if (!QlrUtilsMethod::isLTR_LayoutDirection()) std::reverse(tabs_.begin(), tabs_.end());
    tabTags_.clear();
    tabs->setSegmentCount(int(tabs_.size()));
    const QFontMetrics metrics(tabs->font());
    QWidget* tabView = tabs->parentWidget();
    const int room = tabView ? tabView->width() : tabs->width();
    int total = 0;
    for (std::size_t i = 0; i < tabs_.size(); ++i) {
        tabTags_.push_back(tabs_[i].first);
        tabs->setLabel(tabs_[i].second, int(i));
        const int width = metrics.horizontalAdvance(tabs_[i].second) + kSegmentLabelMargin;
        tabs->setWidth(width, int(i));
        total += width;
    }
    if (total > room && !tabs_.empty()) {
        const int share = room / int(tabs_.size()) - 3;
        for (std::size_t i = 0; i < tabs_.size(); ++i) tabs->setWidth(share, int(i));
    }
    tabs->resize(tabs->sizeHint().width(), tabs->height());
    if (tabView) tabs->move((tabView->width() - tabs->width()) / 2, tabs->y());

    for (std::size_t i = 0; i < tabTags_.size(); ++i) {
        bool enabled = true;
        // Outputs already written in this scan cannot change any more.
        if (isOutputsOnly) enabled = tabTags_[i] - kTabFirstOutput >= job->outputIndex();
        tabs->setEnabled(enabled, int(i));
    }
    // The job's tab stays selected; when it is gone, the tab selected
    // before, else the first.
    auto indexOf = [&](int tag) {
        auto it = std::find(tabTags_.begin(), tabTags_.end(), tag);
        return it == tabTags_.end() ? -1 : int(it - tabTags_.begin());
    };
    int select = indexOf(job->jobTabType());
    if (select < 0 && remembered >= 0) select = indexOf(remembered);
    if (select < 0 && !tabTags_.empty()) select = 0;
    if (select >= 0) job->setJobTabType(tabTags_[std::size_t(select)]);
    tabs->setSelectedSegment(select);
}

void PanelSettingCntlr::changeTab(QWidget* sender, int newTab) {
    auto job = editedJob();
    if (!job) return;
    endEditingFileNameText(nullptr);
    auto* tabs = qobject_cast<TvSegmentedControl*>(sender);
    if (!checkSettingValue(sender, job)) {
        // The current tab stays.
        if (tabs)
            for (std::size_t i = 0; i < tabTags_.size(); ++i)
                if (tabTags_[i] == job->jobTabType()) tabs->setSelectedSegment(int(i));
        return;
    }
    job->setJobTabType(newTab);
    layoutSections();
    setupControls(job);
}

void PanelSettingCntlr::runTypingAction(QLineEdit* field) {
    if (!field) return;
    std::erase_if(pendingFields_, [field](const QPointer<QLineEdit>& p) { return !p || p == field; });
    const int tag = kdui::tag(field);
    switch (tag) {
    case kTagFileName:
    case kTagPanelTitle: actionFromSettingWindow(field); break;
    case kTagPageNumberField: host_.changeSelectScanImage(field); break;
    case 4122:
    case 4132: host_.changeBriCont(field); break;
    case 4212:
    case 4214: host_.changeStraighten(field); break;
    case 4223:
    case 4227: host_.changeTrimming(field); break;
    default: break;
    }
}

void PanelSettingCntlr::controlTextDidChange(QLineEdit* field) {
    if (!field || !isTypingField(kdui::tag(field))) return;
    // One pending action per field: the last key decides when it runs.
    const std::string key = typingKey(field);
    kdf::RunLoop::main().cancelPerforms(this, key);
    if (std::find(pendingFields_.begin(), pendingFields_.end(), field) == pendingFields_.end())
        pendingFields_.emplace_back(field);
    QPointer<QLineEdit> guard(field);
    kdf::RunLoop::main().performAfterDelay(
        this, key, kdf::Seconds(kTypingDelaySeconds),
        [this, guard] {
            if (guard) runTypingAction(guard);
        },
        kdf::kCommonModes);
}

void PanelSettingCntlr::controlTextDidEndEditing(QLineEdit* field) {
    if (!field) return;
    const int tag = kdui::tag(field);
    if (!isTypingField(tag)) return;
    kdf::RunLoop::main().cancelPerforms(this, typingKey(field));
    if (isSettingField(tag)) {
        const QString trimmed = field->text().trimmed();
        if (trimmed != field->text()) {
            const QSignalBlocker block(field);
            field->setText(trimmed);
        }
    }
    runTypingAction(field);
}

void PanelSettingCntlr::cancelTypingActions() {
    for (const QPointer<QLineEdit>& field : pendingFields_)
        if (field) kdf::RunLoop::main().cancelPerforms(this, typingKey(field));
    pendingFields_.clear();
}

void PanelSettingCntlr::endEditingFileNameText(QWidget* view) {
    TvPopoverWindow* window = host_.settingWindow();
    QWidget* field = control(kTagFileName);
    if (!window || !field) return;
    QWidget* focus = window->focusWidget();
    if (focus != field && !(focus && field->isAncestorOf(focus))) return;
    QWidget* target = view ? view : static_cast<QWidget*>(window);
    target->setFocus(Qt::OtherFocusReason);
    if (field->hasFocus()) field->clearFocus();
    // A window that is not active moves no focus and sends no end of
    // editing: end it here.
    if (auto* edit = qobject_cast<QLineEdit*>(field)) controlTextDidEndEditing(edit);
}

bool PanelSettingCntlr::panelShouldEnableURL(const std::string& path) { return TV_Func::isDisplaysDirectory(path); }

void PanelSettingCntlr::driverCloseDSOk(const kdf::Notification& /*n*/) {
    auto job = editedJob();
    if (!job || job->jobInputModel_List().empty()) return;
    if (checkFileFormat(nullptr, job)) return;
    // Only a kept copy may replace the input: without one the job keeps
    // what it has rather than losing its input.
    if (auto kept = cntlr_.tmpCopyInputModel_Setting()) {
        auto inputs = job->jobInputModel_List();
        inputs.front() = kept->copy();
        job->setJobInputModel_List(std::move(inputs));
        setupControls(job);
    }
}

void PanelSettingCntlr::driverTerminateUI(const kdf::Notification& /*n*/) {
    cntlr_.setTmpCopyInputModel_Setting(nullptr);
    if (TvPopoverWindow* window = host_.settingWindow()) {
        window->setIsValidClose(true);
        if (window->isVisible()) {
            window->raise();
            window->activateWindow();
        }
    }
}

} // namespace qlr_main
