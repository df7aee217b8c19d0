// The panel browsers' context menus and their commands.
#include "MainWindowBrowsers.h"

#include "AppControllerServices.h"
#include "AppMainCntlr.h"
#include "AppModel.h"
#include "JobModel.h"
#include "PanelTile.h"
#include "PluginRegistryQueries.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace qlr_main {

namespace {

constexpr const char* kOpenSettingKey = "openSettingWindow";

QString localized(const char* key) {
    return QString::fromStdString(kdf::localizedMainString(key));
}

int menuTag(int panelType, int command) { return (panelType << 16) | command; }

int sizeTypeOfList(const AppModel& model, int panelType) {
    switch (panelType) {
    case kInputPanelType: return model.input_PanelSizeType();
    case kOutputPanelType: return model.output_PanelSizeType();
    default: return model.job_PanelSizeType();
    }
}

// The copy's plug-in identity: its own settings copied by the plug-in, or
// none when the plug-in is missing or refuses.
void copyPluginIdentity(const OutputModel& from, OutputModel& to) {
    to.setPluginID(std::string());
    to.setPluginGUID(std::string());
    const std::string id = from.pluginID(), guid = from.pluginGUID();
    if (id.empty() || guid.empty() || !PluginRegistryQueries::hasPluginObject(id)) return;
    std::string newID;
    if (PluginRegistryQueries::copyID(id, guid, &newID) != 0 || newID.empty()) return;
    to.setPluginID(id);
    to.setPluginGUID(newID);
}

} // namespace

QMenu* MainWindowBrowsers::panelMenu(int panelType) const {
    return panelType >= 0 && panelType < 3 ? mPanelMenus[panelType] : nullptr;
}

QMenu* MainWindowBrowsers::backMenu(int panelType) const {
    return panelType >= 0 && panelType < 3 ? mBackMenus[panelType] : nullptr;
}

void MainWindowBrowsers::createIBViewMenu() {
    for (int type = 0; type < 3; ++type) {
        if (mCntlr.panelMenu(type, false) == mPanelMenus[type]) mCntlr.setPanelMenu(type, false, nullptr);
        if (mCntlr.panelMenu(type, true) == mBackMenus[type]) mCntlr.setPanelMenu(type, true, nullptr);
    }
    mMenus.clear();

    auto addItem = [this](QMenu* menu, const char* key, int type, int command) {
        QAction* action = menu->addAction(localized(key));
        kdui::setTag(action, menuTag(type, command));
        QObject::connect(action, &QAction::triggered, menu, [this, action] { actionFromIBViewMenu(action); });
        return action;
    };
    auto addSubmenu = [](QMenu* menu, const char* key, int type, int command) {
        auto* sub = new QMenu(localized(key), menu);
        QAction* action = menu->addMenu(sub);
        kdui::setTag(action, menuTag(type, command));
        return sub;
    };

    const bool multi = AppControllerServices::isSupportedMultiDeviceBtns();
    const bool apds = AppControllerServices::curDS_IsAPDS();
    for (int type = 0; type < 3; ++type) {
        auto panel = std::make_unique<QMenu>();
        addItem(panel.get(), "PanelMenu_Edit", type, kMenuEdit);
        addItem(panel.get(), "PanelMenu_Copy", type, kMenuCopy);
        addItem(panel.get(), "PanelMenu_ChangeName", type, kMenuChangeName);
        if (type == kJobPanelType) {
            if (multi) {
                QMenu* assign = addSubmenu(panel.get(), "PanelMenu_Assign_Job", type, kMenuAssign);
                const QString format = localized("PanelMenu_JobNum_Format");
                for (int n = 1; n <= 9; ++n) {
                    QAction* item = addItem(assign, "", type, kMenuAssign);
                    item->setText(QString(format).replace(QLatin1String("%d"), QString::number(n)));
                    item->setData(PanelTile::kButtonValues[n - 1]);
                }
                assign->menuAction()->setEnabled(!apds);
            } else {
                QAction* assign = addItem(panel.get(), "PanelMenu_Assign", type, kMenuAssign);
                assign->setData(1);
                assign->setEnabled(!apds);
            }
        }
        panel->addSeparator();
        addItem(panel.get(), "PanelMenu_Delete", type, kMenuDelete);

        auto back = std::make_unique<QMenu>();
        static constexpr const char* kNewKeys[3] = {"BackMenu_NewCreate", "BackMenu_NewCreate_Exp",
                                                    "BackMenu_NewCreate_Fav"};
        addItem(back.get(), kNewKeys[type], type, kMenuNew);
        QMenu* sort = addSubmenu(back.get(), "BackMenu_Sort", type, kMenuSort);
        struct Order {
            const char* key;
            int entry, ascend, descend;
        };
        const Order orders[3] = {{"BackMenu_Sub_OrderName", kMenuOrderName, kMenuNameAscend, kMenuNameDescend},
                                 {"BackMenu_Sub_OrderUse", kMenuOrderUse, kMenuUseAscend, kMenuUseDescend},
                                 {"BackMenu_Sub_OrderOutput", kMenuOrderOutput, kMenuOutputAscend, kMenuOutputDescend}};
        for (const Order& order : orders) {
            if (order.entry == kMenuOrderOutput && type != kOutputPanelType) continue;
            QMenu* sub = addSubmenu(sort, order.key, type, order.entry);
            addItem(sub, "BackMenu_Sub_Ascend", type, order.ascend);
            addItem(sub, "BackMenu_Sub_Descend", type, order.descend);
        }
        QMenu* size = addSubmenu(back.get(), "BackMenu_Size", type, kMenuSize);
        addItem(size, "BackMenu_Sub_SizeMax", type, kMenuSizeMax)->setCheckable(true);
        addItem(size, "BackMenu_Sub_SizeMid", type, kMenuSizeMid)->setCheckable(true);
        addItem(size, "BackMenu_Sub_SizeMin", type, kMenuSizeMin)->setCheckable(true);

        mPanelMenus[type] = panel.get();
        mBackMenus[type] = back.get();
        mCntlr.setPanelMenu(type, false, panel.get());
        mCntlr.setPanelMenu(type, true, back.get());
        mMenus.push_back(std::move(panel));
        mMenus.push_back(std::move(back));
    }
}

void MainWindowBrowsers::updateBackMenuChecks(int panelType) {
    QMenu* menu = backMenu(panelType);
    auto model = mCntlr.appModel();
    if (!menu || !model) return;
    const int sizeType = sizeTypeOfList(*model, panelType);
    const int checked = sizeType == 2 ? kMenuSizeMax : sizeType == 1 ? kMenuSizeMid : kMenuSizeMin;
    for (QAction* action : menu->findChildren<QAction*>()) {
        const int command = kdui::tag(action) & 0xFFFF;
        if (command >= kMenuSizeMax && command <= kMenuSizeMin) action->setChecked(command == checked);
    }
}

void MainWindowBrowsers::actionFromIBViewMenu(QAction* sender) {
    const int tag = sender ? kdui::tag(sender) : 0;
    const int upper = tag >> 16;
    const int type = upper == 0 ? kInputPanelType : upper == 1 ? kOutputPanelType : kJobPanelType;
    const int command = tag & 0xFFFF;
    const int index = mClickedIndex;
    switch (command) {
    case kMenuEdit: {
        auto& loop = kdf::RunLoop::main();
        loop.cancelPerforms(this, kOpenSettingKey);
        loop.performAfterDelay(this, kOpenSettingKey, kdf::Seconds(0),
                               [this, type, index] { openSettingWindow(type, index); });
        break;
    }
    case kMenuCopy: copyPanel(type, index); break;
    case kMenuChangeName:
        if (PanelIBView* view = panelBrowser(type); view && index >= 0 && index < listCount(type))
            view->showFieldEditor(index);
        break;
    case kMenuAssign: {
        bool isNumber = false;
        const int value = sender ? sender->data().toInt(&isNumber) : 0;
        assignButton(index, isNumber ? value : 1);
        break;
    }
    case kMenuDelete:
        if (index >= 0 && index < listCount(type) && mCntlr.isCheckValidDeleteSetting(true))
            if (PanelIBView* view = panelBrowser(type)) removeItems(*view, {index});
        break;
    case kMenuNew: createPanel(type); break;
    case kMenuNameAscend:
    case kMenuNameDescend:
    case kMenuUseAscend:
    case kMenuUseDescend:
    case kMenuOutputAscend:
    case kMenuOutputDescend: sortPanels(type, command); break;
    case kMenuSizeMax: changeSize(type, 2); break;
    case kMenuSizeMid: changeSize(type, 1); break;
    case kMenuSizeMin: changeSize(type, 0); break;
    default: break;
    }
}

void MainWindowBrowsers::copyPanel(int panelType, int index) {
    auto model = mCntlr.appModel();
    if (!model || index < 0 || index >= listCount(panelType)) return;
    if (!mCntlr.isCheckValidAddNewSetting(panelType)) return;
    const int sizeType = sizeTypeOfList(*model, panelType);
    const bool copied = editList(panelType, [&](auto& list) {
        using Model = typename std::decay_t<decltype(list)>::value_type::element_type;
        const auto& original = list[std::size_t(index)];
        std::shared_ptr<Model> copy;
        if constexpr (std::is_same_v<Model, JobModel>) {
            copy = original->copy();
            const auto from = original->jobOutputModel_List();
            const auto to = copy->jobOutputModel_List();
            for (std::size_t i = 0; i < from.size() && i < to.size(); ++i)
                if (from[i] && to[i]) copyPluginIdentity(*from[i], *to[i]);
        } else {
            copy = std::dynamic_pointer_cast<Model>(original->clone());
            if (!copy) return false;
            if constexpr (std::is_same_v<Model, OutputModel>) copyPluginIdentity(*original, *copy);
        }
        copy->setIsSelected(false);
        PanelTile::createPanelImage(*copy, sizeType);
        list.push_back(std::move(copy));
        return true;
    });
    if (!copied) return;
    reloadPanelBrowser(panelType);
    if (PanelIBView* view = panelBrowser(panelType)) view->scrollIndexToVisible(listCount(panelType) - 1);
}

void MainWindowBrowsers::assignButton(int index, int value) {
    auto model = mCntlr.appModel();
    if (!model) return;
    const auto jobs = model->jobModel_List();
    if (index < 0 || index >= int(jobs.size()) || !jobs[std::size_t(index)]) return;
    bool changed = false;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const auto& job = jobs[i];
        if (!job) continue;
        int next = job->scanBtnStatus();
        if (int(i) == index)
            next = value;
        else if (next == value)
            next = JobModel::kNoButton;
        if (next == job->scanBtnStatus()) continue;
        job->setScanBtnStatus(next);
        PanelTile::createPanelImage(*job, job->panelSizeType());
        changed = true;
    }
    if (changed) reloadPanelBrowser(kJobPanelType);
}

void MainWindowBrowsers::sortPanels(int panelType, int command) {
    const bool ascending = command == kMenuNameAscend || command == kMenuUseAscend || command == kMenuOutputAscend;
    const bool byOutput = command == kMenuOutputAscend || command == kMenuOutputDescend;
    if (byOutput && panelType != kOutputPanelType) return;
    const bool sorted = editList(panelType, [&](auto& list) {
        using Ptr = typename std::decay_t<decltype(list)>::value_type;
        auto less = [&](const Ptr& a, const Ptr& b) {
            if (!a || !b) return false;
            if (byOutput) {
                const auto* oa = dynamic_cast<const OutputModel*>(a.get());
                const auto* ob = dynamic_cast<const OutputModel*>(b.get());
                return oa && ob && oa->pluginID() < ob->pluginID();
            }
            auto wa = a->wholeModel(), wb = b->wholeModel();
            if (!wa || !wb) return false;
            if (command == kMenuNameAscend || command == kMenuNameDescend) return wa->title() < wb->title();
            return wa->panelUseCount() < wb->panelUseCount();
        };
        if (ascending)
            std::stable_sort(list.begin(), list.end(), less);
        else
            std::stable_sort(list.begin(), list.end(), [&](const Ptr& a, const Ptr& b) { return less(b, a); });
        return true;
    });
    if (sorted) reloadPanelBrowser(panelType);
}

void MainWindowBrowsers::changeSize(int panelType, int sizeType) {
    auto model = mCntlr.appModel();
    if (!model) return;
    switch (panelType) {
    case kInputPanelType: model->setInput_PanelSizeType(sizeType); break;
    case kOutputPanelType: model->setOutput_PanelSizeType(sizeType); break;
    default: model->setJob_PanelSizeType(sizeType); break;
    }
    if (const auto list = mCntlr.panelListOfType(panelType)) PanelTile::createPanelImageWithList(*list, sizeType);
    // Every browser's cells fit its kind at its size; jobs at their
    // three-output size.
    setPanelBrowserCellSize(kInputPanelType, makePanelSize(InputModel(), model->input_PanelSizeType()));
    setPanelBrowserCellSize(kOutputPanelType, makePanelSize(OutputModel(), model->output_PanelSizeType()));
    JobModel job;
    job.setJobOutputModel_List(
        {std::make_shared<OutputModel>(), std::make_shared<OutputModel>(), std::make_shared<OutputModel>()});
    setPanelBrowserCellSize(kJobPanelType, makePanelSize(job, model->job_PanelSizeType()));
    mCntlr.mainWindowPort()->updateMainTopDisplay(false, false);
    reloadPanelBrowser(panelType);
    if (PanelIBView* view = panelBrowser(panelType)) view->viewport()->update();
}

void MainWindowBrowsers::createPanel(int panelType) {
    static constexpr int kButtons[3] = {kNewInputButtonTag, kNewOutputButtonTag, kNewJobButtonTag};
    QWidget* window = mWindow ? mWindow() : nullptr;
    QWidget* button = window ? kdui::viewWithTag(window, kButtons[panelType]) : nullptr;
    if (!button) return;
    mCntlr.mainWindowPort()->createPanel(button);
}

} // namespace qlr_main
