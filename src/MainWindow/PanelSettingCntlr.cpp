#include "PanelSettingCntlr.h"

#include "AppMainCntlr.h"
#include "FileNameSettingCntlr.h"
#include "FileOptionSettingCntlr.h"
#include "MainWindowController.h"
#include "PluginRegistryQueries.h"
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"
#include "SettingPopUpButtons.h"
#include "TV_Func.h"
#include "TV_Message.h"
#include "TvButtons.h"
#include "TvPopoverWindow.h"

#include <foundation/Bundle.h>
#include <foundation/Format.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>
#include <plugin/TvQLRPlugin.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace qlr_main {

namespace {

std::string localized(const char* key) {
    return kdf::localizedMainString(key);
}

int selectedTagOf(QWidget* w) {
    if (auto* popUp = qobject_cast<TvPopUpButton*>(w)) return popUp->selectedTag();
    return -1;
}

bool isOn(QWidget* w) {
    auto* button = qobject_cast<QAbstractButton*>(w);
    return button && button->isChecked();
}

void setOn(QWidget* w, bool on) {
    if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setChecked(on);
}

void selectTag(QWidget* w, int tag) {
    if (auto* popUp = qobject_cast<TvPopUpButton*>(w)) popUp->selectItemWithTag(tag);
}

void setHidden(QWidget* w, bool hidden) {
    if (w) QlrUtilsMethod::setHiddenItem(w, hidden);
}

void setEnabled(QWidget* w, bool enabled) {
    if (w) w->setEnabled(enabled);
}

// An integer shown by a control: a spin box's value, else its text.
int intValueOf(QWidget* w) {
    if (auto* spin = qobject_cast<QSpinBox*>(w)) return spin->value();
    if (auto* field = qobject_cast<QLineEdit*>(w)) return field->text().toInt();
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toInt();
    return 0;
}

bool fileIsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

constexpr const char* kRetryOpenDriverKey = "retryOpenDriver";
constexpr const char* kSetSaveTypeKey = "setSaveType";

int sRetryOpenDriverCnt = 0;

} // namespace

// ---- The host's default modal steps

std::optional<std::string> PanelSettingHost::chooseFolder(const std::string& startFolder) {
    kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
    QFileDialog dialog(settingWindow(), QString(), QString::fromStdString(startFolder));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::DontResolveSymlinks, true);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setFileMode(QFileDialog::Directory);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> PanelSettingHost::chooseIcon(const std::string& startFolder) {
    kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
    QFileDialog dialog(settingWindow(), QString(), QString::fromStdString(startFolder));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Images (*.jpeg *.jpg *.png *.icns *.app *.JPEG *.JPG *.PNG *.ICNS *.APP)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

void PanelSettingHost::runModalFileNameSetting(const std::shared_ptr<OutputModel>& output) {
    FileNameSettingCntlr::sharedFileNameSettingCntlr()->runModalFileNameSetting(settingWindow(), output);
}

void PanelSettingHost::runModalFileOptionSetting(const std::shared_ptr<OutputModel>& output) {
    FileOptionSettingCntlr::sharedFileOptionSettingCntlr()->runModalFileOptionSetting(settingWindow(),
                                                                                                  output);
}

bool PanelSettingHost::openDS(const std::shared_ptr<InputModel>& input) {
    QlrDeviceCntlr* device = QlrDeviceCntlr::sharedDeviceCntlr();
    return device && device->openDS(input, true, true);
}

bool PanelSettingHost::isValidSyncDriver() {
    AppMainCntlr* cntlr = AppMainCntlr::current();
    return cntlr && cntlr->isValidSyncDriver();
}

int PanelSettingHost::showPluginSetting(const std::string& pluginID, const std::string& guid, QWidget* parent) {
    TvQLRPlugin2* plugin = PluginRegistryQueries::pluginObjectByID(pluginID);
    return plugin ? int(plugin->showSettingWithID(guid, parent)) : -1;
}

std::optional<std::string> PanelSettingHost::pluginSettingSummary(const std::string& pluginID,
                                                                  const std::string& guid) {
    TvQLRPlugin2* plugin = PluginRegistryQueries::pluginObjectByID(pluginID);
    if (!plugin) return std::nullopt;
    std::optional<std::string> summary;
    if (plugin->showSettingSummaryWithID(guid, &summary) != 0) return std::nullopt;
    return summary;
}

// ---- The controller

PanelSettingCntlr::PanelSettingCntlr(AppMainCntlr& cntlr, PanelSettingHost& host) : cntlr_(cntlr), host_(host) {}

PanelSettingCntlr::~PanelSettingCntlr() {
    kdf::RunLoop::main().cancelPerforms(this);
    if (connected_) TvPopoverWindow::setCheckSettingValueHook({});
}

int PanelSettingCntlr::retryOpenDriverCount() { return sRetryOpenDriverCnt; }

QWidget* PanelSettingCntlr::section(const char* name) const { return host_.settingSection(name); }

std::vector<QWidget*> PanelSettingCntlr::allSections() const {
    std::vector<QWidget*> out;
    for (const char* name : {kSettingTabView, kSettingInputView, kSettingOutputView, kSettingOptionView,
                             kSettingWholeView, kSettingFooterView})
        if (QWidget* s = section(name)) out.push_back(s);
    return out;
}

QWidget* PanelSettingCntlr::control(int tag) const {
    for (QWidget* s : allSections())
        if (QWidget* w = QlrUtilsMethod::itemInViewFromTag(s, tag)) return w;
    return nullptr;
}

std::shared_ptr<JobModel> PanelSettingCntlr::editedJob() const {
    return std::dynamic_pointer_cast<JobModel>(cntlr_.tmpPanelModel_Setting());
}

std::shared_ptr<InputModel> PanelSettingCntlr::targetInput() const {
    auto model = cntlr_.tmpPanelModel_Setting();
    if (auto input = std::dynamic_pointer_cast<InputModel>(model)) return input;
    if (auto job = std::dynamic_pointer_cast<JobModel>(model)) {
        const auto inputs = job->jobInputModel_List();
        if (!inputs.empty()) return inputs.front();
    }
    return nullptr;
}

std::shared_ptr<OutputModel> PanelSettingCntlr::targetOutput() const {
    auto model = cntlr_.tmpPanelModel_Setting();
    if (auto output = std::dynamic_pointer_cast<OutputModel>(model)) return output;
    if (auto job = std::dynamic_pointer_cast<JobModel>(model)) {
        const int tab = job->jobTabType();
        const auto outputs = job->jobOutputModel_List();
        if (tab >= kTabFirstOutput && tab <= kTabLastOutput && std::size_t(tab - 1) < outputs.size())
            return outputs[std::size_t(tab - 1)];
    }
    return nullptr;
}

std::vector<std::shared_ptr<OutputModel>> PanelSettingCntlr::editedOutputs() const {
    auto model = cntlr_.tmpPanelModel_Setting();
    if (auto output = std::dynamic_pointer_cast<OutputModel>(model)) return {output};
    if (auto job = std::dynamic_pointer_cast<JobModel>(model)) return job->jobOutputModel_List();
    return {};
}

void PanelSettingCntlr::connectControls() {
    if (connected_) return;
    connected_ = true;
    TvPopoverWindow::setCheckSettingValueHook(
        [this](QObject* sender, const std::shared_ptr<PanelModel>& model) { return checkSettingValue(sender, model); });
    for (QWidget* s : allSections()) {
        for (QWidget* w : s->findChildren<QWidget*>()) {
            const int tag = kdui::tag(w);
            if (tag < 2000 || tag > 2500) continue;
            if (auto* tab = qobject_cast<TvSegmentedControl*>(w)) {
                QObject::connect(tab, &TvSegmentedControl::activated, tab, [this, tab] { actionFromSettingWindow(tab); });
            } else if (auto* popUp = qobject_cast<TvPopUpButton*>(w)) {
                QObject::connect(popUp, &TvPopUpButton::activated, popUp,
                                 [this, popUp] { actionFromSettingWindow(popUp); });
            } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
                QObject::connect(field, &QLineEdit::textEdited, field, [this, field] { controlTextDidChange(field); });
                QObject::connect(field, &QLineEdit::editingFinished, field,
                                 [this, field] { controlTextDidEndEditing(field); });
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                QObject::connect(button, &QAbstractButton::clicked, button,
                                 [this, button] { actionFromSettingWindow(button); });
            } else if (auto* table = qobject_cast<QTableWidget*>(w)) {
                table->setColumnCount(1);
                table->horizontalHeader()->hide();
                table->verticalHeader()->hide();
                table->horizontalHeader()->setStretchLastSection(true);
                table->setSelectionMode(QAbstractItemView::SingleSelection);
                table->setSelectionBehavior(QAbstractItemView::SelectRows);
                table->setEditTriggers(QAbstractItemView::NoEditTriggers);
                QObject::connect(table, &QTableWidget::itemSelectionChanged, table, [this, table] {
                    const auto items = table->selectedItems();
                    selectedOrderRow_ = items.isEmpty() ? -1 : items.front()->row();
                    updateOptionOrderButtons();
                });
            }
        }
    }
}

// ---- Opening

void PanelSettingCntlr::openSettingWindow(std::optional<std::pair<int, int>> panel) {
    TvPopoverWindow* window = host_.settingWindow();
    if (!window || isClosing_ || window->isVisible()) return;
    host_.hidePanelFieldEditor();
    settingPanelResult_ = 0;
    if (!AppMainCntlrUIKit::isValidAnimation()) return;

    std::shared_ptr<PanelModel> model;
    std::shared_ptr<JobModel> job;
    if (panel) {
        if (cntlr_.appState() != kAppStateMainTop) return;
        host_.closePreferencesPanel();
        const auto list = cntlr_.panelListOfType(panel->first);
        if (!list || panel->second < 0 || std::size_t(panel->second) >= list->size()) return;
        model = (*list)[std::size_t(panel->second)];
        job = std::dynamic_pointer_cast<JobModel>(model);
        if (job) job->setJobTabType(kTabInput);
    } else {
        job = cntlr_.tmpCopyJobModel_Scan();
        if (!job) return;
        model = job;
        const int outputs = int(job->jobOutputModel_List().size());
        savedOutputIndex_ = job->outputIndex();
        int tab = 1;
        if (outputs >= 2) {
            const int shown = intValueOf(QlrUtilsMethod::itemInViewFromTag(host_.scanContentView(),
                                                                            kTagPageNumberControl));
            tab = job->outputIndex() < shown ? shown : job->outputIndex() + 1;
            tab = std::clamp(tab, 1, std::min(outputs, int(kTabLastOutput)));
        }
        job->setJobTabType(tab);
    }
    if (!prepareSettingWindow(model, panel)) return;
    QWidget* view = nullptr;
    const QRect anchor = host_.anchorOfPanel(panel ? panel->first : -1, panel ? panel->second : -1, &view);
    const int edge = !panel ? 2 : (QlrUtilsMethod::isLTR_LayoutDirection() ? 4 : 0);
    window->showPopoverWindow(host_.mainWindow(), QRectF(anchor), view ? view : host_.mainWindow(), edge, -1,
                              [this] { settingWindowDidClose(); });
}

bool PanelSettingCntlr::prepareSettingWindow(const std::shared_ptr<PanelModel>& model,
                                             std::optional<std::pair<int, int>> panel) {
    if (!model) return false;
    auto job = std::dynamic_pointer_cast<JobModel>(model);
    if (auto* del = qobject_cast<QAbstractButton*>(control(kTagSettingDelete)))
        del->setText(QString::fromStdString(localized("PanelMenu_Delete")));
    // Only a stored panel can be deleted; the running job's single output
    // needs no tabs.
    setHidden(control(kTagSettingDelete), !panel);
    setHidden(control(kTagJobTab), !panel && job && job->jobOutputModel_List().size() == 1);
    edited_ = panel;
    cntlr_.setTmpPanelModel_Setting(model);
    if (job) updateOutputTab(!panel);
    layoutSections();
    setupControls(model);
    if (job || std::dynamic_pointer_cast<OutputModel>(model))
        PluginRegistryQueries::setupEditingPluginInfoList(editedOutputs());
    if (job) {
        selectedOrderRow_ = -1;
        if (auto* table = qobject_cast<QTableWidget*>(control(kTagOrderTable))) {
            const QSignalBlocker block(table);
            table->clearSelection();
            table->setRowCount(numberOfRows());
            for (int row = 0; row < numberOfRows(); ++row)
                table->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(rowText(row))));
        }
        updateOptionOrderButtons();
    }
    return true;
}

std::vector<QWidget*> PanelSettingCntlr::viewListWithPanelModel(const std::shared_ptr<PanelModel>& model) {
    std::vector<QWidget*> views;
    auto add = [&](const char* name) {
        if (QWidget* s = section(name)) views.push_back(s);
    };
    QWidget* tabView = section(kSettingTabView);
    QWidget* tabControl = control(kTagJobTab);
    const bool tabShown = tabControl && !tabControl->isHidden();
    if (auto job = std::dynamic_pointer_cast<JobModel>(model)) {
        const int tab = job->jobTabType();
        if (tab == kTabInput && job->jobInputModel_List().empty()) return {};
        if (tab >= kTabFirstOutput && tab <= kTabLastOutput && job->jobOutputModel_List().empty()) return {};
        if (tabShown && tabView) views.push_back(tabView);
        if (tab == kTabInput) {
            add(kSettingInputView);
            add(kSettingWholeView);
        } else if (tab >= kTabFirstOutput && tab <= kTabLastOutput) {
            add(kSettingOutputView);
            if (cntlr_.appState() == kAppStateMainTop) add(kSettingWholeView);
        } else if (tab == kTabOptions) {
            add(kSettingOptionView);
        } else {
            add(kSettingWholeView);
        }
    } else if (std::dynamic_pointer_cast<InputModel>(model)) {
        add(kSettingInputView);
        add(kSettingWholeView);
    } else if (std::dynamic_pointer_cast<OutputModel>(model)) {
        add(kSettingOutputView);
        add(kSettingWholeView);
    }
    return views;
}

void PanelSettingCntlr::layoutSections() {
    TvPopoverWindow* window = host_.settingWindow();
    auto model = cntlr_.tmpPanelModel_Setting();
    if (!window || !model) return;
    TvPopoverWindowContentView* body = window->contentView();
    // The window keeps the length of its longest tab, so switching tabs
    // never resizes it under the mouse.
    double longest = 0;
    auto job = std::dynamic_pointer_cast<JobModel>(model);
    if (job) {
        const int current = job->jobTabType();
        for (int tag : tabTags_) {
            job->setJobTabType(tag);
            longest = std::max(longest, QlrUtilsMethod::lengthOfViews(viewListWithPanelModel(job), false));
        }
        job->setJobTabType(current);
    }
    std::vector<QWidget*> views = viewListWithPanelModel(model);
    longest = std::max(longest, QlrUtilsMethod::lengthOfViews(views, false));
    for (QWidget* s : allSections()) s->hide();
    if (QWidget* footer = section(kSettingFooterView)) views.push_back(footer);
    const QRectF inset = body->insetFrame();
    const double margin = inset.top() * 2;
    int width = 0;
    for (QWidget* v : views) width = std::max(width, v->width());
    const double footerHeight = section(kSettingFooterView) ? section(kSettingFooterView)->height() : 0;
    window->resize(int(width + margin), int(longest + footerHeight + margin));
    // Stack the sections inside the body's inset.
    double y = inset.top();
    for (QWidget* v : views) {
        v->move(int(inset.left()), int(y));
        v->show();
        y += v->height();
    }
}

// ---- Controls

void PanelSettingCntlr::setupControls(const std::shared_ptr<PanelModel>& model) {
    if (!model) return;
    auto job = std::dynamic_pointer_cast<JobModel>(model);
    std::shared_ptr<InputModel> input = std::dynamic_pointer_cast<InputModel>(model);
    std::shared_ptr<OutputModel> output = std::dynamic_pointer_cast<OutputModel>(model);
    if (job) {
        input = targetInput();
        output = targetOutput();
    }
    if (input) {
        const bool own = input->isUseDriverSetting();
        const std::pair<int, int> popUps[] = {{kTagColorType, input->scnStColorType()},
                                              {kTagPaperSize, input->scnStPaperSizeType()},
                                              {kTagResolution, input->scnStResolutionType()},
                                              {kTagReaderSide, input->scnStReaderSideType()},
                                              {kTagSkew, input->scnStSkewType()}};
        for (const auto& [tag, value] : popUps) {
            selectTag(control(tag), value);
            setEnabled(control(tag), !own);
        }
        setOn(control(kTagRecCharDir), input->isRecCharDir());
        setEnabled(control(kTagRecCharDir), !own);
        setOn(control(kTagUseDriverSetting), own);
        setEnabled(control(kTagOpenDriverUI), own);
    }
    if (output) setupOutputControls(output);
    if (job) {
        setOn(control(kTagStopForEditing), job->isImageProcess());
        setOn(control(kTagContinueScan), job->isContinueScan());
        selectTag(control(kTagDeviceButton), job->scanBtnStatus());
    }
    if (auto whole = model->wholeModel()) {
        if (auto* field = qobject_cast<QLineEdit*>(control(kTagPanelTitle)))
            field->setText(QString::fromStdString(whole->title()));
        setOn(control(kTagOwnIcon), whole->useAlternateIcon());
        setEnabled(control(kTagChooseIcon), whole->useAlternateIcon());
    }
}

void PanelSettingCntlr::setupOutputControls(const std::shared_ptr<OutputModel>& output) {
    const std::string id = output->pluginID();
    if (auto* type = qobject_cast<OutputTypePopUpButton*>(control(kTagOutputType))) {
        type->remakeMenuList(PluginRegistryQueries::pluginIDList());
        type->selectItemWithTag(id.empty() ? -1 : PluginRegistryQueries::indexOfPluginInfoListByPluginID(id));
    }
    auto answer = [&](int valueType) {
        const auto v = PluginRegistryQueries::valueForPluginIDWithType(id, valueType);
        return v && v->toBool().value_or(false);
    };
    const bool plugin = !id.empty();
    const bool settingButton = plugin && answer(5);
    const bool summary = plugin && answer(8);
    const bool nameControls = !plugin || answer(9);
    const bool formatControls = !plugin || answer(10);
    setHidden(control(kTagPluginSetting), !settingButton);
    setHidden(control(kTagPluginSummary), !summary);
    if (summary) {
        const auto text = host_.pluginSettingSummary(id, output->pluginGUID());
        if (auto* label = qobject_cast<QLabel*>(control(kTagPluginSummary)))
            label->setText(QString::fromStdString(text.value_or(std::string())));
    }
    for (int tag : {kTagFileNameLabel, kTagFileName, kTagUseFileNameRule, kTagFileNameRule, kTagFileFormatLabel})
        setHidden(control(tag), tag == kTagFileFormatLabel ? !formatControls : !nameControls);
    setHidden(control(kTagFileFormat), !formatControls);
    setHidden(control(kTagSaveLabel), plugin);
    setHidden(control(kTagSaveLocation), plugin);

    if (auto* field = qobject_cast<QLineEdit*>(control(kTagFileName)))
        field->setText(QString::fromStdString(output->freeFileName()));
    setOn(control(kTagUseFileNameRule), output->isUseFNSetting());
    if (auto* format = qobject_cast<FileFormatPopUpButton*>(control(kTagFileFormat))) {
        if (plugin) {
            if (auto values = PluginRegistryQueries::supportedFileTypeValueList(id))
                format->addOtherMenu(*values, QString::fromStdString(id));
        }
        format->changeMenuByPluginID(QString::fromStdString(id));
        format->selectItemWithTag(output->fileFormatType());
    }
    setHidden(control(kTagFileOptions), !formatControls || output->fileFormatType() == OutputModel::kFormatPNG);
    if (auto* save = qobject_cast<FileSavePopUpButton*>(control(kTagSaveLocation))) {
        save->selectItemWithTag(output->saveType());
        if (output->saveType() == 3)
            if (QAction* item = save->selectedItem())
                item->setText(QString::fromStdString(output->storedFileSavePath().value_or(std::string())));
    }
}

// ---- Actions

void PanelSettingCntlr::actionFromSettingWindow(QWidget* sender) {
    if (isClosing_ || !sender) return;
    auto model = cntlr_.tmpPanelModel_Setting();
    if (!model) return;
    const int tag = kdui::tag(sender);
    auto job = editedJob();
    auto input = targetInput();
    auto output = targetOutput();
    auto whole = model->wholeModel();
    switch (tag) {
    case kTagSettingClose:
        if (TvPopoverWindow* window = host_.settingWindow()) window->resignKeyWindow();
        break;
    case kTagSettingDelete:
        if (cntlr_.isCheckValidDeleteSetting(false)) {
            settingPanelResult_ = 1;
            if (QWidget* close = control(kTagSettingClose)) actionFromSettingWindow(close);
        }
        break;
    case kTagColorType:
        if (!checkFileFormat(sender, model)) break;
        if (input) input->setScnStColorType(selectedTagOf(sender));
        break;
    case kTagPaperSize:
        if (input) input->setScnStPaperSizeType(selectedTagOf(sender));
        break;
    case kTagResolution:
        if (input) input->setScnStResolutionType(selectedTagOf(sender));
        break;
    case kTagReaderSide:
        if (input) input->setScnStReaderSideType(selectedTagOf(sender));
        break;
    case kTagSkew:
        if (input) input->setScnStSkewType(selectedTagOf(sender));
        break;
    case kTagRecCharDir:
        if (input) input->setIsRecCharDir(isOn(sender));
        break;
    case kTagUseDriverSetting:
        if (!checkFileFormat(sender, model)) break;
        if (input) input->setIsUseDriverSetting(isOn(sender));
        setupControls(model);
        break;
    case kTagOpenDriverUI: openDriverSettings(sender); break;
    case kTagOutputType: changeDestination(sender); break;
    case kTagPluginSetting: showPluginSetting(); break;
    case kTagFileName:
        if (auto* field = qobject_cast<QLineEdit*>(sender); field && output)
            output->setFreeFileName(field->text().toStdString());
        break;
    case kTagUseFileNameRule:
        if (output) output->setIsUseFNSetting(isOn(sender));
        break;
    case kTagFileNameRule:
        if (!output) break;
        endEditingFileNameText(nullptr);
        if (TvPopoverWindow* window = host_.settingWindow()) window->setIsValidClose(false);
        host_.runModalFileNameSetting(output);
        if (TvPopoverWindow* window = host_.settingWindow()) window->setIsValidClose(true);
        break;
    case kTagFileFormat:
        if (!checkFileFormat(sender, model)) break;
        if (output) output->setFileFormatType(selectedTagOf(sender));
        setupControls(model);
        break;
    case kTagFileOptions:
        if (!output) break;
        if (TvPopoverWindow* window = host_.settingWindow()) window->setIsValidClose(false);
        host_.runModalFileOptionSetting(output);
        if (TvPopoverWindow* window = host_.settingWindow()) window->setIsValidClose(true);
        break;
    case kTagSaveLocation: changeSaveLocation(sender); break;
    case kTagPanelTitle:
        if (auto* field = qobject_cast<QLineEdit*>(sender); field && whole) whole->setTitle(field->text().toStdString());
        break;
    case kTagOwnIcon:
        if (!whole) break;
        whole->setUseAlternateIcon(isOn(sender));
        setEnabled(control(kTagChooseIcon), whole->useAlternateIcon());
        break;
    case kTagChooseIcon: chooseIcon(); break;
    case kTagStopForEditing:
        if (job) job->setIsImageProcess(isOn(sender));
        break;
    case kTagContinueScan:
        if (job) job->setIsContinueScan(isOn(sender));
        break;
    case kTagDeviceButton:
        if (job) job->setScanBtnStatus(selectedTagOf(sender));
        break;
    case kTagOrderAdd:
    case kTagOrderDelete:
    case kTagOrderUp:
    case kTagOrderDown: changeOptionOrder(tag); break;
    case kTagJobTab:
        if (auto* tabs = qobject_cast<TvSegmentedControl*>(sender)) {
            const int segment = tabs->selectedSegment();
            if (segment >= 0 && std::size_t(segment) < tabTags_.size()) changeTab(sender, tabTags_[std::size_t(segment)]);
        }
        break;
    default: break;
    }
}

void PanelSettingCntlr::controllChangeFromCheckFileFormat(QWidget* control, const std::shared_ptr<JobModel>& job) {
    if (!control || !job) return;
    const int tag = kdui::tag(control);
    const auto inputs = job->jobInputModel_List();
    if (tag == kTagColorType && !inputs.empty()) selectTag(control, inputs.front()->scnStColorType());
    if (tag == kTagUseDriverSetting && !inputs.empty()) setOn(control, inputs.front()->isUseDriverSetting());
    if (tag == kTagFileFormat) {
        const int tab = job->jobTabType();
        const auto outputs = job->jobOutputModel_List();
        if (tab >= kTabFirstOutput && std::size_t(tab - 1) < outputs.size())
            selectTag(control, outputs[std::size_t(tab - 1)]->fileFormatType());
    }
}

void PanelSettingCntlr::showContinueError(int code) {
    const std::string text = kdf::formatLocalized(localized("Err_NotPossibleContinue"), {code});
    TV_Message::showPanel("Error", std::nullopt, text, "OK", std::nullopt, std::nullopt,
                          TV_Message::kCriticalAlertStyle, 0, true);
}

void PanelSettingCntlr::changeDestination(QWidget* sender) {
    auto output = targetOutput();
    if (!output) return;
    const int newIndex = selectedTagOf(sender);
    const std::string oldID = output->pluginID();
    const int oldIndex = oldID.empty() ? -1 : PluginRegistryQueries::indexOfPluginInfoListByPluginID(oldID);
    std::string newID;
    if (newIndex >= 0) {
        const auto ids = PluginRegistryQueries::pluginIDList();
        if (std::size_t(newIndex) < ids.size()) newID = ids[std::size_t(newIndex)];
    }
    if ((newIndex < 0 && oldIndex < 0) || (newIndex >= 0 && newID == oldID) || (newIndex >= 0 && newID.empty()))
        return;
    const std::string oldKey = oldIndex < 0 || oldID.empty() ? "-1" : oldID;
    const std::string newKey = newIndex < 0 ? "-1" : newID;
    // The settings made so far stay with the destination they were made for.
    if (auto kept = PluginRegistryQueries::pluginModData(*output, oldKey))
        OutputModel::copydataOutputModel(output.get(), kept.get());
    const std::string oldGUID = output->pluginGUID();
    if (auto stored = PluginRegistryQueries::pluginModData(*output, newKey))
        OutputModel::copydataOutputModel(stored.get(), output.get());
    if (newIndex < 0) {
        output->setPluginID("");
        output->setPluginGUID("");
    } else if (output->pluginGUID().empty() || output->pluginID() != newID) {
        std::string guid;
        int code = oldGUID.empty() ? -1 : PluginRegistryQueries::copyID(newID, oldGUID, &guid);
        if (code != 0 || guid.empty()) {
            if (!oldGUID.empty() && !oldID.empty()) PluginRegistryQueries::deleteID(oldID, oldGUID);
            guid.clear();
            code = PluginRegistryQueries::createID(newID, &guid);
        }
        if (code != 0 || guid.empty()) {
            showContinueError(code != 0 ? code : -1);
            // Nothing changed: the output keeps its destination.
            if (auto kept = PluginRegistryQueries::pluginModData(*output, oldKey))
                OutputModel::copydataOutputModel(kept.get(), output.get());
            output->setPluginID(oldID);
            output->setPluginGUID(oldGUID);
        } else {
            output->setPluginID(newID);
            output->setPluginGUID(guid);
        }
    } else {
        output->setPluginID(newID);
    }
    setupControls(cntlr_.tmpPanelModel_Setting());
}

void PanelSettingCntlr::changeSaveLocation(QWidget* sender) {
    auto output = targetOutput();
    if (!output) return;
    const int oldType = output->saveType();
    const auto oldPath = output->storedFileSavePath();
    if (!checkSavePath(sender, cntlr_.tmpPanelModel_Setting())) return;
    const int chosen = selectedTagOf(sender);
    if (chosen != 4) {
        if (chosen >= 0) output->setSaveType(chosen);
        return;
    }
    TvPopoverWindow* window = host_.settingWindow();
    if (window) window->setIsValidClose(false);
    const std::string current = output->fileSavePath().value_or(std::string());
    const auto path = host_.chooseFolder(fileIsFolder(current) ? current : TV_Func::defaultPictureFolder());
    if (window) window->setIsValidClose(true);
    std::optional<const char*> error;
    if (path) {
        if (QString::fromStdString(*path).size() > int(kMaxSavePathLength))
            error = "Err_TooLongPath";
        else if (!fileIsFolder(*path) || ::access(path->c_str(), R_OK | W_OK) != 0)
            error = "Err_RightOfAccessFile";
    }
    if (!path || error) {
        // A cancel or a refused folder leaves the output as it was.
        output->setSaveType(oldType);
        output->setFileSavePath(oldPath);
        selectTag(sender, oldType);
        if (oldType == 3)
            if (auto* popUp = qobject_cast<TvPopUpButton*>(sender); popUp && popUp->selectedItem())
                popUp->selectedItem()->setText(QString::fromStdString(oldPath.value_or(std::string())));
        if (error) {
            const auto request = TV_Message::paramShowPanel("Error", std::string(*error), std::nullopt, "OK",
                                                            std::nullopt, std::nullopt,
                                                            TV_Message::kCriticalAlertStyle, 0, true);
            kdf::RunLoop::main().performAfterDelay(this, "alert", kdf::Seconds(0),
                                                   [request] { TV_Message::performShowPanel(request); },
                                                   kdf::kCommonModes);
        }
        return;
    }
    output->setFileSavePath(*path);
    kdf::RunLoop::main().performAfterDelay(this, kSetSaveTypeKey, kdf::Seconds(0), [this] { performSetSavaType(); },
                                           kdf::kCommonModes);
}

void PanelSettingCntlr::performSetSavaType() {
    auto output = targetOutput();
    if (!output) return;
    output->setSaveType(3);
    if (auto* popUp = qobject_cast<TvPopUpButton*>(control(kTagSaveLocation))) {
        popUp->selectItemWithTag(3);
        if (QAction* item = popUp->selectedItem())
            item->setText(QString::fromStdString(output->storedFileSavePath().value_or(std::string())));
    }
}

void PanelSettingCntlr::chooseIcon() {
    auto model = cntlr_.tmpPanelModel_Setting();
    auto whole = model ? model->wholeModel() : nullptr;
    if (!whole) return;
    std::string start = TV_Func::defaultPictureFolder();
    std::error_code ec;
    if (!whole->alternateIconPath().empty() && std::filesystem::exists(whole->alternateIconPath(), ec))
        start = std::filesystem::path(whole->alternateIconPath()).parent_path().string();
    TvPopoverWindow* window = host_.settingWindow();
    if (window) window->setIsValidClose(false);
    const auto path = host_.chooseIcon(start);
    if (window) window->setIsValidClose(true);
    if (!path) return;
    whole->setUseAlternateIcon(true);
    whole->setAlternateIconPath(*path);
    setOn(control(kTagOwnIcon), true);
    setEnabled(control(kTagChooseIcon), true);
}

void PanelSettingCntlr::openDriverSettings(QWidget* sender) {
    host_.closePreferencesPanel();
    if (cntlr_.isOpenKdWin()) return;
    auto input = targetInput();
    if (host_.isValidSyncDriver() && input && input->isUseDriverSetting()) {
        cntlr_.setTmpCopyInputModel_Setting(input->copy());
        TvPopoverWindow* window = host_.settingWindow();
        if (window) window->setIsValidClose(false);
        if (!host_.openDS(input) && window) window->setIsValidClose(true);
        sRetryOpenDriverCnt = 0;
        return;
    }
    if (sRetryOpenDriverCnt <= kMaxOpenDriverRetries) {
        ++sRetryOpenDriverCnt;
        QPointer<QWidget> again(sender);
        kdf::RunLoop::main().performAfterDelay(
            this, kRetryOpenDriverKey, kdf::Seconds(0),
            [this, again] {
                if (again) actionFromSettingWindow(again);
            },
            kdf::kCommonModes);
    } else {
        sRetryOpenDriverCnt = 0;
    }
}

void PanelSettingCntlr::showPluginSetting() {
    auto output = targetOutput();
    if (!output) return;
    const std::string id = output->pluginID();
    const std::string guid = output->pluginGUID();
    if (id.empty() || guid.empty() || !PluginRegistryQueries::hasPluginObject(id)) return;
    const auto v = PluginRegistryQueries::valueForPluginIDWithType(id, 5);
    if (!v || !v->toBool().value_or(false)) return;
    TvPopoverWindow* window = host_.settingWindow();
    if (window) window->setIsValidClose(false);
    cntlr_.setIsShowedPluginWin(true);
    const int code = host_.showPluginSetting(id, guid, window);
    cntlr_.setIsShowedPluginWin(false);
    if (window) window->setIsValidClose(true);
    if (code != 0) showContinueError(code);
    if (window) window->activateWindow();
    setupControls(cntlr_.tmpPanelModel_Setting());
}

// ---- Option order

int PanelSettingCntlr::numberOfRows() const {
    auto job = editedJob();
    return job ? int(job->jobOutputModel_List().size()) : 0;
}

std::string PanelSettingCntlr::rowText(int row) const {
    auto job = editedJob();
    if (!job) return {};
    const auto outputs = job->jobOutputModel_List();
    if (row < 0 || std::size_t(row) >= outputs.size()) return {};
    const std::string id = outputs[std::size_t(row)]->pluginID();
    if (!id.empty()) {
        const auto title = PluginRegistryQueries::valueForPluginIDWithType(id, PluginRegistryQueries::kTitleType);
        if (title && title->string()) return *title->string();
    }
    return localized("OutputType_ToFile");
}

void PanelSettingCntlr::updateOptionOrderButtons() {
    const int rows = numberOfRows();
    const int sel = selectedOrderRow_ >= 0 && selectedOrderRow_ < rows ? selectedOrderRow_ : -1;
    setEnabled(control(kTagOrderAdd), rows < kMaxJobOutputs);
    setEnabled(control(kTagOrderDelete), sel >= 0 && rows > 1);
    setEnabled(control(kTagOrderUp), sel > 0);
    setEnabled(control(kTagOrderDown), sel >= 0 && sel < rows - 1);
}

void PanelSettingCntlr::changeOptionOrder(int tag) {
    auto job = editedJob();
    if (!job) return;
    auto outputs = job->jobOutputModel_List();
    const int rows = int(outputs.size());
    const int sel = selectedOrderRow_ >= 0 && selectedOrderRow_ < rows ? selectedOrderRow_ : -1;
    int newSel = sel;
    if (tag == kTagOrderAdd) {
        if (rows >= kMaxJobOutputs) return;
        auto added = std::make_shared<OutputModel>(nullptr);
        PluginRegistryQueries::setupEditingPluginInfoList({added});
        newSel = sel < 0 ? rows : sel + 1;
        outputs.insert(outputs.begin() + newSel, added);
        job->setJobOutputModel_List(outputs);
    } else if (tag == kTagOrderDelete) {
        if (sel < 0 || rows <= 1) return;
        if (!cntlr_.isCheckValidDeleteSetting(false)) return;
        auto removed = outputs[std::size_t(sel)];
        PluginRegistryQueries::deleteDisusedPluginID({removed});
        if (!removed->pluginID().empty() && !removed->pluginGUID().empty())
            PluginRegistryQueries::deleteID(removed->pluginID(), removed->pluginGUID());
        outputs.erase(outputs.begin() + sel);
        job->setJobOutputModel_List(outputs);
        newSel = std::min(sel, int(outputs.size()) - 1);
    } else if (tag == kTagOrderUp) {
        if (sel <= 0) return;
        std::swap(outputs[std::size_t(sel)], outputs[std::size_t(sel - 1)]);
        job->setJobOutputModel_List(outputs);
        newSel = sel - 1;
    } else if (tag == kTagOrderDown) {
        if (sel < 0 || sel >= rows - 1) return;
        std::swap(outputs[std::size_t(sel)], outputs[std::size_t(sel + 1)]);
        job->setJobOutputModel_List(outputs);
        newSel = sel + 1;
    }
    if (tag == kTagOrderAdd || tag == kTagOrderDelete) updateOutputTab(!edited_);
    selectedOrderRow_ = newSel;
    if (auto* table = qobject_cast<QTableWidget*>(control(kTagOrderTable))) {
        const QSignalBlocker block(table);
        table->setRowCount(numberOfRows());
        for (int row = 0; row < numberOfRows(); ++row)
            table->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(rowText(row))));
        if (newSel >= 0) table->selectRow(newSel);
    }
    updateOptionOrderButtons();
}

// ---- Closing

void PanelSettingCntlr::settingWindowDidClose() {
    isClosing_ = true;
    // Typing that has not acted yet belongs to this panel: act now, then
    // nothing may reach the next panel shown in the same fields.
    for (const QPointer<QLineEdit>& field : std::vector<QPointer<QLineEdit>>(pendingFields_))
        if (field) {
            isClosing_ = false;
            runTypingAction(field);
            isClosing_ = true;
        }
    cancelTypingActions();
    kdf::RunLoop::main().cancelPerforms(this);
    auto model = cntlr_.tmpPanelModel_Setting();
    for (QWidget* s : allSections()) s->hide();
    if (!model) {
        isClosing_ = false;
        return;
    }
    if (auto whole = model->wholeModel()) {
        const QString trimmed = QString::fromStdString(whole->title()).trimmed();
        whole->setTitle(trimmed.toStdString());
    }
    const auto outputs = editedOutputs();
    PluginRegistryQueries::clearExceptTargetFileFormatType(outputs);
    auto job = std::dynamic_pointer_cast<JobModel>(model);
    auto appModel = cntlr_.appModel();
    if (job && job->scanBtnStatus() != JobModel::kNoButton && appModel) {
        for (const auto& other : appModel->jobModel_List())
            if (other != job && other->scanBtnStatus() == job->scanBtnStatus()) other->setScanBtnStatus(JobModel::kNoButton);
    }
    const auto window = cntlr_.mainWindowPort();
    if (cntlr_.appState() == kAppStateMainTop && edited_ && appModel) {
        const auto [type, index] = *edited_;
        if (settingPanelResult_ == 1) {
            auto remove = [&](auto list) {
                if (index >= 0 && std::size_t(index) < list.size() && list[std::size_t(index)] == model)
                    list.erase(list.begin() + index);
                return list;
            };
            if (type == kInputPanelType) appModel->setInputModel_List(remove(appModel->inputModel_List()));
            if (type == kOutputPanelType) appModel->setOutputModel_List(remove(appModel->outputModel_List()));
            if (type == kJobPanelType) appModel->setJobModel_List(remove(appModel->jobModel_List()));
        } else if (window) {
            const int size = type == kInputPanelType    ? appModel->input_PanelSizeType()
                             : type == kOutputPanelType ? appModel->output_PanelSizeType()
                                                        : appModel->job_PanelSizeType();
            window->createPanelImageWithList({model}, size);
        }
    }
    PluginRegistryQueries::deleteDisusedPluginID(outputs);
    cntlr_.setTmpPanelModel_Setting(nullptr);
    if (cntlr_.appState() == kAppStateMainTop && edited_) {
        if (window) window->reloadPanelBrowser(edited_->first);
        if (settingPanelResult_ != 1) host_.showTools(edited_->first, edited_->second);
    } else {
        host_.showScanInfo();
        if (job && !edited_) job->setOutputIndex(savedOutputIndex_);
    }
    settingPanelResult_ = 0;
    edited_.reset();
    if (QWidget* main = host_.mainWindow(); main && main->isVisible()) main->raise();
    isClosing_ = false;
}

} // namespace qlr_main
