// The data source and delegate of the main window's panel browsers and
// their context menus: the panels of the application model's three lists
// as items, tool tips, removal and reordering, the drag data, a double
// click as the setting window, a right click as a menu, and the menus'
// commands (edit, copy, rename, scanner button, delete, new, sort, size).
// A click on a job tile reaches the scan through the controller's
// notification; the main-window controller asks isJobPanelClick first.
// Main thread only.
#pragma once

#include "AppMainCntlr.h"
#include "AppModel.h"
#include "ListMove.h"
#include "PanelIBView.h"

#include <foundation/NotificationCenter.h>

#include <QPoint>

#include <functional>
#include <memory>
#include <vector>

class AppMainCntlr;
class QAction;
class QMenu;
class QMimeData;
class QWidget;

namespace qlr_main {

// The drag data's type and its texts.
inline constexpr const char* kPanelTypeKey = "PanelTypeKey";
inline constexpr const char* kPreImagePanelTypeString = "PanelType_PreImage";

// Menu commands (lower 16 bits of an item's tag; the upper 16 bits carry
// the panel type).
enum BrowserMenuTag : int {
    kPageMenuSelect = 1200,
    kPageMenuReplace = 1201,
    kPageMenuDelete = 1202,
    kPageMenuAll = 1210,
    kPageMenuOdd = 1211,
    kPageMenuEven = 1212,
    kPageMenuPrevious = 1220,
    kPageMenuFollowing = 1221,
    kMenuEdit = 1100,
    kMenuCopy = 1101,
    kMenuChangeName = 1102,
    kMenuAssign = 1103,
    kMenuDelete = 1104,
    kMenuNew = 1110,
    kMenuSort = 1111,
    kMenuOrderName = 1112,
    kMenuNameAscend = 1113,
    kMenuNameDescend = 1114,
    kMenuOrderUse = 1115,
    kMenuUseAscend = 1116,
    kMenuUseDescend = 1117,
    kMenuOrderOutput = 1118,
    kMenuOutputAscend = 1119,
    kMenuOutputDescend = 1120,
    kMenuSize = 1121,
    kMenuSizeMax = 1122,
    kMenuSizeMid = 1123,
    kMenuSizeMin = 1124,
};

// The top view's new-panel buttons by panel type.
inline constexpr int kNewInputButtonTag = 1012;
inline constexpr int kNewOutputButtonTag = 1022;
inline constexpr int kNewJobButtonTag = 1040;

using qlr::moveItemsInList;

class MainWindowBrowsers : public PanelIBViewDataSource,
                           public kdui::ImageBrowserDelegate,
                           public kdui::ImageBrowserDraggingDestination {
public:
    // window: the main window the browsers are found in (by their object
    // names); darkShield: whether the window lies under its dark shield.
    MainWindowBrowsers(AppMainCntlr& cntlr, std::function<QWidget*()> window, std::function<bool()> darkShield);
    ~MainWindowBrowsers() override;
    MainWindowBrowsers(const MainWindowBrowsers&) = delete;
    MainWindowBrowsers& operator=(const MainWindowBrowsers&) = delete;

    // ---- The main-window port's hooks.
    PanelIBView* panelBrowser(int panelType) const;
    void reloadPanelBrowser(int panelType);
    void setPanelBrowserCellSize(int panelType, QSizeF size);
    static QSizeF makePanelSize(const PanelModel& panel, int sizeType);
    static void createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& list, int sizeType);
    static void clearIconCache();
    // Connects and configures the three panel browsers; the page browser
    // gets the drop rule.
    void setUpImageBrowsers();
    void createIBViewMenu();
    void hidePanelFieldEditor();
    void endEditingPanelTitle();
    void removePanelToolTips();
    void resetPanelToolTips();
    // Whether a click notification runs a job: only the job browser's
    // clicks do (and the controller's own, which name no panel browser).
    bool isJobPanelClick(const kdf::Notification& n) const;

    // ---- Data source.
    int numberOfItems(kdui::ImageBrowserView& view) override;
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView& view, int index) override;
    bool removeItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes) override;
    bool moveItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes, int destination) override;
    bool writeItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes, QMimeData& data) override;
    std::shared_ptr<PanelModel> panelAtIndex(kdui::ImageBrowserView& view, int index) override;
    int panelTypeOfView(const kdui::ImageBrowserView& view) const override;
    void openSettingWindow(int panelType, int index) override;
    bool isShowDarkShieldView() const override;

    // ---- Delegate.
    void cellWasDoubleClicked(kdui::ImageBrowserView& view, int index) override;
    void cellWasRightClicked(kdui::ImageBrowserView& view, int index, QPoint globalPos) override;
    void backgroundWasRightClicked(kdui::ImageBrowserView& view, QPoint globalPos) override;
    QString toolTipForItem(kdui::ImageBrowserView& view, int index) override;

    // ---- Dragging destination: a move is offered only for one of the four
    // type strings, and only over the scroll view of the browser it names
    // (pos in view coordinates).
    Qt::DropAction draggingEntered(kdui::ImageBrowserView& view, const QMimeData& data, QPoint pos,
                                   Qt::DropActions offered) override;
    Qt::DropAction draggingUpdated(kdui::ImageBrowserView& view, const QMimeData& data, QPoint pos,
                                   Qt::DropActions offered) override;
    void draggingEnded(kdui::ImageBrowserView& view, bool dropped) override;
    // The browser a drag's type string names; null for any other text.
    QWidget* browserOfDragString(const QString& text) const;

    // ---- Menus.
    QMenu* panelMenu(int panelType) const;
    QMenu* backMenu(int panelType) const;
    void actionFromIBViewMenu(QAction* sender);
    // The page browser's menu: built once, opened by a right click on a
    // page (the background has none), its items enabled by the page and the
    // job being scanned.
    void createPreviewIBViewMenu();
    QMenu* scanPanelMenu() const { return mScanMenu; }
    kdui::ImageBrowserView* pageBrowser() const;
    void showPageMenu(int index, QPoint globalPos);
    void actionFromScanIBViewMenu(QAction* sender);
    // The right-clicked tile while its menu is up; -1 otherwise.
    int clickedIndex() const { return mClickedIndex; }
    void setClickedIndex(int index) { mClickedIndex = index; }

protected:
    // Runs the context menu (blocking); a seam for tests.
    virtual void popUpMenu(QMenu& menu, QPoint globalPos);

private:
    int listCount(int panelType) const;
    void copyPanel(int panelType, int index);
    void assignButton(int index, int value);
    void sortPanels(int panelType, int command);
    void changeSize(int panelType, int sizeType);
    void createPanel(int panelType);
    void updateBackMenuChecks(int panelType);
    Qt::DropAction dropOperation(kdui::ImageBrowserView& view, const QMimeData& data, QPoint pos) const;
    // Applies fn to the typed list of that kind and stores it back when fn
    // answers true.
    template <class Fn>
    bool editList(int panelType, Fn&& fn);

    AppMainCntlr& mCntlr;
    std::function<QWidget*()> mWindow;
    std::function<bool()> mDarkShield;
    int mClickedIndex = -1;
    bool mToolTipsRemoved = false;
    std::vector<std::unique_ptr<QMenu>> mMenus;
    QMenu* mPanelMenus[3] = {nullptr, nullptr, nullptr};
    QMenu* mBackMenus[3] = {nullptr, nullptr, nullptr};
    QMenu* mScanMenu = nullptr;
    std::unique_ptr<QObject> mPageClickFilter;
};

template <class Fn>
bool MainWindowBrowsers::editList(int panelType, Fn&& fn) {
    auto model = mCntlr.appModel();
    if (!model) return false;
    switch (panelType) {
    case kInputPanelType: {
        auto list = model->inputModel_List();
        if (!fn(list)) return false;
        model->setInputModel_List(std::move(list));
        return true;
    }
    case kOutputPanelType: {
        auto list = model->outputModel_List();
        if (!fn(list)) return false;
        model->setOutputModel_List(std::move(list));
        return true;
    }
    case kJobPanelType: {
        auto list = model->jobModel_List();
        if (!fn(list)) return false;
        model->setJobModel_List(std::move(list));
        return true;
    }
    default: return false;
    }
}

} // namespace qlr_main
