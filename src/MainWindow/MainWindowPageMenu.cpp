// The page browser's context menu: select all, odd or even pages, move the
// page before its predecessor or after its follower, delete pages.
#include "MainWindowBrowsers.h"

#include "AppMainCntlr.h"
#include "JobModel.h"

#include <foundation/Bundle.h>
#include <ui/ViewTag.h>

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>

namespace qlr_main {

namespace {

// The scan view's selection buttons.
constexpr int kSelectAllButtonTag = 4000;
constexpr int kSelectOddButtonTag = 4001;
constexpr int kSelectEvenButtonTag = 4002;

QString localized(const char* key) {
    return QString::fromStdString(kdf::localizedMainString(key));
}

// A right press on a page opens its menu; elsewhere it goes on to the view.
class PageClickFilter : public QObject {
public:
    explicit PageClickFilter(MainWindowBrowsers& browsers) : mBrowsers(browsers) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        kdui::ImageBrowserView* view = mBrowsers.pageBrowser();
        if (mouse->button() != Qt::RightButton || !view || watched != view->viewport()) return false;
        const int index = view->indexAtPoint(mouse->position().toPoint());
        if (index == kdui::ImageBrowserView::kNotFound) return false;
        mBrowsers.showPageMenu(index, mouse->globalPosition().toPoint());
        return true;
    }

private:
    MainWindowBrowsers& mBrowsers;
};

QAction* findTagged(QMenu* menu, int tag) {
    if (!menu) return nullptr;
    for (QAction* action : menu->findChildren<QAction*>())
        if (kdui::tag(action) == tag) return action;
    for (QAction* action : menu->actions())
        if (kdui::tag(action) == tag) return action;
    return nullptr;
}

} // namespace

kdui::ImageBrowserView* MainWindowBrowsers::pageBrowser() const {
    QWidget* window = mWindow ? mWindow() : nullptr;
    return window ? window->findChild<kdui::ImageBrowserView*>(QStringLiteral("Scan_PreImage_IBView")) : nullptr;
}

void MainWindowBrowsers::createPreviewIBViewMenu() {
    if (mCntlr.scanPanelMenu() == mScanMenu) mCntlr.setScanPanelMenu(nullptr);
    for (auto it = mMenus.begin(); it != mMenus.end(); ++it)
        if (it->get() == mScanMenu) {
            mMenus.erase(it);
            break;
        }
    auto menu = std::make_unique<QMenu>();
    auto addItem = [this](QMenu* to, const char* key, int tag) {
        QAction* action = to->addAction(localized(key));
        kdui::setTag(action, tag);
        QObject::connect(action, &QAction::triggered, to, [this, action] { actionFromScanIBViewMenu(action); });
        return action;
    };
    auto addSubmenu = [](QMenu* to, const char* key, int tag) {
        auto* sub = new QMenu(localized(key), to);
        kdui::setTag(to->addMenu(sub), tag);
        return sub;
    };
    QMenu* select = addSubmenu(menu.get(), "ScanPanelMenu_Select", kPageMenuSelect);
    addItem(select, "ScanPanelMenu_Sub_All", kPageMenuAll);
    addItem(select, "ScanPanelMenu_Sub_Odd", kPageMenuOdd);
    addItem(select, "ScanPanelMenu_Sub_Even", kPageMenuEven);
    QMenu* replace = addSubmenu(menu.get(), "ScanPanelMenu_Replace", kPageMenuReplace);
    addItem(replace, "ScanPanelMenu_Sub_Previous", kPageMenuPrevious);
    addItem(replace, "ScanPanelMenu_Sub_Following", kPageMenuFollowing);
    menu->addSeparator();
    addItem(menu.get(), "ScanPanelMenu_Delete", kPageMenuDelete);
    mScanMenu = menu.get();
    mCntlr.setScanPanelMenu(mScanMenu);
    mMenus.push_back(std::move(menu));

    if (kdui::ImageBrowserView* view = pageBrowser()) {
        if (!mPageClickFilter) mPageClickFilter = std::make_unique<PageClickFilter>(*this);
        view->viewport()->removeEventFilter(mPageClickFilter.get());
        view->viewport()->installEventFilter(mPageClickFilter.get());
    }
}

void MainWindowBrowsers::showPageMenu(int index, QPoint globalPos) {
    kdui::ImageBrowserView* view = pageBrowser();
    if (!mScanMenu || !view || index < 0 || index >= view->numberOfItems()) return;
    auto job = mCntlr.tmpCopyJobModel_Scan();
    const bool edits = job && job->isImageProcess();
    const int count = view->numberOfItems();
    findTagged(mScanMenu, kPageMenuDelete)->setEnabled(edits);
    findTagged(mScanMenu, kPageMenuReplace)->setEnabled(edits);
    findTagged(mScanMenu, kPageMenuPrevious)->setEnabled(index > 0);
    findTagged(mScanMenu, kPageMenuFollowing)->setEnabled(index < count - 1);
    mClickedIndex = index;
    popUpMenu(*mScanMenu, globalPos);
    mClickedIndex = -1;
}

void MainWindowBrowsers::actionFromScanIBViewMenu(QAction* sender) {
    const int command = sender ? kdui::tag(sender) & 0xFFFF : 0;
    kdui::ImageBrowserView* view = pageBrowser();
    const int index = mClickedIndex;
    switch (command) {
    case kPageMenuAll:
    case kPageMenuOdd:
    case kPageMenuEven: {
        const int tag = command == kPageMenuAll ? kSelectAllButtonTag
                        : command == kPageMenuOdd ? kSelectOddButtonTag
                                                  : kSelectEvenButtonTag;
        QWidget* window = mWindow ? mWindow() : nullptr;
        if (QWidget* button = window ? kdui::viewWithTag(window, tag) : nullptr)
            mCntlr.mainWindowPort()->changeMultiSelectScanImage(button);
        break;
    }
    case kPageMenuPrevious:
    case kPageMenuFollowing: {
        if (!view || !view->dataSource() || index < 0) break;
        const int destination = command == kPageMenuPrevious ? index - 1 : index + 2;
        if (destination < 0 || destination > view->numberOfItems()) break;
        if (view->dataSource()->moveItems(*view, {index}, destination)) view->reloadData();
        break;
    }
    case kPageMenuDelete: {
        if (!view || !view->dataSource() || index < 0 || index >= view->numberOfItems()) break;
        // The selection when the pointed-at page lies in it, else that page
        // alone: pages the user did not point at never go.
        const kdui::IndexSet selection = view->selectionIndexes();
        const kdui::IndexSet removing = selection.count(index) ? selection : kdui::IndexSet{index};
        if (view->dataSource()->removeItems(*view, removing)) view->reloadData();
        break;
    }
    default: break;
    }
}

} // namespace qlr_main
