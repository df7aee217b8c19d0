// The panel browsers' data source, delegate and menus against the real
// application controller: moves and removals (stale indexes change
// nothing), plug-in settings removed with one output, the drag data and the
// drop rule, which clicks run a job, tool tips, and the menu commands
// (copy, scanner button, sort, size, delete, new, edit).
#include "AppMainCntlrFakes.h"

#include "ServicesDouble.h"
#include "MainWindowBrowsers.h"
#include "ImageIBView.h"
#include "PageModels.h"
#include "PanelTile.h"
#include "PreviewCntlr.h"

#include <ui/ViewTag.h>

#include <QAction>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

namespace {

using namespace apptest;
using qlr_main::MainWindowBrowsers;
using namespace qlr_main;


// The main window's calls into its other parts, recorded.
class BrowserPort : public RecordingWindow {
public:
    using RecordingWindow::RecordingWindow;
    std::vector<std::string> calls;
    void openSettingWindow(int type, int index) override {
        calls.push_back("setting:" + std::to_string(type) + ":" + std::to_string(index));
    }
    void changeMultiSelectScanImage(QWidget* sender) override {
        calls.push_back("select:" + std::to_string(kdui::tag(sender)));
    }
    void createPanel(QObject* sender) override { calls.push_back("create:" + std::to_string(kdui::tag(sender))); }
    void updateMainTopDisplay(bool a, bool b) override {
        calls.push_back(std::string("top:") + (a ? "1" : "0") + (b ? "1" : "0"));
    }
};

// Menus run by the test: the chosen item is triggered as a click would.
class TestBrowsers : public MainWindowBrowsers {
public:
    using MainWindowBrowsers::MainWindowBrowsers;
    std::function<void(QMenu&)> onMenu;
    QMenu* shown = nullptr;
    int indexWhileShown = -2;

protected:
    void popUpMenu(QMenu& menu, QPoint) override {
        shown = &menu;
        indexWhileShown = clickedIndex();
        if (onMenu) onMenu(menu);
    }
};

QAction* actionWithTag(QMenu* menu, int tag, const QVariant& data = {}) {
    for (QAction* a : menu->findChildren<QAction*>())
        if (kdui::tag(a) == tag && (!data.isValid() || a->data() == data)) return a;
    return nullptr;
}

std::shared_ptr<JobModel> job(const std::string& title, int button = JobModel::kNoButton) {
    auto j = std::make_shared<JobModel>();
    j->setJobInputModel_List({std::make_shared<InputModel>()});
    j->setJobOutputModel_List({std::make_shared<OutputModel>()});
    j->setDispTitle(title);
    j->setScanBtnStatus(button);
    return j;
}

std::shared_ptr<OutputModel> output(const std::string& title, int uses = 0) {
    auto o = std::make_shared<OutputModel>();
    o->setDispTitle(title);
    o->output_WholeModel()->setPanelUseCount(uses);
    return o;
}

class MainWindowBrowsersTest : public ControllerTest {
protected:
    std::shared_ptr<BrowserPort> port = std::make_shared<BrowserPort>(log);
    std::shared_ptr<browsertest::ServicesDouble> services = [] {
        auto s = std::make_shared<browsertest::ServicesDouble>();
        s->multi = true;
        return s;
    }();
    std::shared_ptr<AppModel> model = std::make_shared<AppModel>();
    std::unique_ptr<QWidget> window;
    PanelIBView* views[3] = {};
    std::unique_ptr<TestBrowsers> browsers;
    bool shield = false;

    void SetUp() override {
        ControllerTest::SetUp();
        cntlr->setMainWindowPort(port);
        AppControllerServices::setCurrent(services);
        model->setInputModel_List({std::make_shared<InputModel>(), std::make_shared<InputModel>()});
        model->setOutputModel_List({output("b", 1), output("a", 5), output("c", 3)});
        model->setJobModel_List({job("one", 1), job("two", 4), job("three")});
        cntlr->setAppModel(model);
        window = std::make_unique<QWidget>();
        window->resize(1200, 800);
        const char* names[3] = {"InputPanel_IBView", "OutputPanel_IBView", "JobPanel_IBView"};
        for (int t = 0; t < 3; ++t) {
            views[t] = new PanelIBView(window.get());
            views[t]->setObjectName(names[t]);
            views[t]->setGeometry(t * 400, 0, 400, 800);
        }
        for (int tag : {qlr_main::kNewInputButtonTag, qlr_main::kNewOutputButtonTag, qlr_main::kNewJobButtonTag}) {
            auto* button = new QPushButton(window.get());
            kdui::setTag(button, tag);
        }
        browsers = std::make_unique<TestBrowsers>(
            *cntlr, [this] { return window.get(); }, [this] { return shield; });
        browsers->setUpImageBrowsers();
        browsers->createIBViewMenu();
        for (int t = 0; t < 3; ++t)
            if (auto list = cntlr->panelListOfType(t)) PanelTile::createPanelImageWithList(*list, 1);
    }
    void TearDown() override {
        browsers.reset();
        window.reset();
        AppControllerServices::setCurrent(nullptr);
        ControllerTest::TearDown();
    }
    // Right-clicks a tile and picks the item of that command.
    void pick(int type, int index, int command, const QVariant& data = {}) {
        browsers->onMenu = [&](QMenu& menu) {
            QAction* action = actionWithTag(&menu, (type << 16) | command, data);
            ASSERT_NE(action, nullptr) << command;
            action->trigger();
        };
        browsers->cellWasRightClicked(*views[type], index, {});
    }
    std::vector<std::string> outputTitles() {
        std::vector<std::string> out;
        for (auto& o : model->outputModel_List()) out.push_back(o->dispTitle());
        return out;
    }
};

TEST(MoveItemsInList, TheMoveRuleAndIndexesOutsideTheList) {
    struct Case {
        kdui::IndexSet indexes;
        int destination;
        bool moved;
        std::vector<int> after;
    };
    const Case cases[] = {
        {{1, 3}, 0, true, {2, 4, 1, 3, 5}},
        {{0, 2}, 4, true, {2, 4, 1, 3, 5}},
        {{4}, 0, true, {5, 1, 2, 3, 4}},
        {{0}, 5, true, {2, 3, 4, 5, 1}},
        {{5}, 0, false, {1, 2, 3, 4, 5}},  // a stale index
        {{1}, 6, false, {1, 2, 3, 4, 5}},  // past the end
        {{-1}, 0, false, {1, 2, 3, 4, 5}},
        {{}, 0, false, {1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        std::vector<int> list = {1, 2, 3, 4, 5};
        EXPECT_EQ(qlr_main::moveItemsInList(list, c.indexes, c.destination), c.moved);
        EXPECT_EQ(list, c.after);
    }
}

TEST_F(MainWindowBrowsersTest, ItemsMovesAndRemovals) {
    EXPECT_EQ(browsers->numberOfItems(*views[1]), 3);
    EXPECT_EQ(browsers->itemAtIndex(*views[1], 1).title, "a");
    EXPECT_FALSE(browsers->itemAtIndex(*views[1], 1).image.isNull());
    EXPECT_TRUE(browsers->moveItems(*views[1], {2}, 0));
    EXPECT_EQ(outputTitles(), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_FALSE(browsers->moveItems(*views[1], {3}, 0));
    EXPECT_FALSE(browsers->removeItems(*views[1], {7}));
    EXPECT_EQ(model->outputModel_List().size(), 3u);
    EXPECT_TRUE(browsers->removeItems(*views[1], {0, 2}));
    EXPECT_EQ(outputTitles(), (std::vector<std::string>{"b"}));
}

TEST_F(MainWindowBrowsersTest, RemovingOneOutputOrJobDeletesItsPluginSettingsSeveralDoNot) {
    registry->plugins["P"] = {};
    model->setOutputModel_List({outputWithPlugin("P", "g1"), outputWithPlugin("P", "g2"), outputWithPlugin("P", "g3")});
    auto j = job("j");
    j->setJobOutputModel_List({outputWithPlugin("P", "j1"), outputWithPlugin("P", "j2")});
    model->setJobModel_List({j});
    EXPECT_TRUE(browsers->removeItems(*views[1], {0, 1}));
    EXPECT_TRUE(registry->calls.entries().empty());
    EXPECT_TRUE(browsers->removeItems(*views[1], {0}));
    EXPECT_TRUE(browsers->removeItems(*views[2], {0}));
    EXPECT_EQ(registry->calls.entries(), (std::vector<std::string>{"delete:P:g3", "delete:P:j1", "delete:P:j2"}));
}

TEST_F(MainWindowBrowsersTest, DragDataAndTheDropRule) {
    QMimeData data;
    ASSERT_TRUE(browsers->writeItems(*views[2], {0}, data));
    EXPECT_EQ(data.data(qlr_main::kPanelTypeKey), "PanelType_2");
    EXPECT_TRUE(data.hasUrls());
    EXPECT_TRUE(data.urls().isEmpty());

    struct Case {
        QByteArray text;
        int overView;
        Qt::DropAction action;
    };
    const Case cases[] = {
        {"PanelType_1", 1, Qt::MoveAction},  {"PanelType_1", 0, Qt::IgnoreAction},
        {"PanelType_0", 0, Qt::MoveAction},  {"PanelType_2", 1, Qt::IgnoreAction},
        {"PanelType_7", 1, Qt::IgnoreAction}, {"file:///etc/passwd", 1, Qt::IgnoreAction},
        // No page browser in this window: nothing to drop pages on.
        {"PanelType_PreImage", 1, Qt::IgnoreAction},
    };
    for (const Case& c : cases) {
        QMimeData drag;
        drag.setData(qlr_main::kPanelTypeKey, c.text);
        // The drop is asked of the output browser; what counts is where it is.
        const QPoint over = views[1]->viewport()->mapFrom(window.get(), views[c.overView]->geometry().center());
        EXPECT_EQ(browsers->draggingEntered(*views[1], drag, over, Qt::MoveAction), c.action) << c.text.data();
        EXPECT_EQ(browsers->draggingUpdated(*views[1], drag, over, Qt::MoveAction), c.action) << c.text.data();
    }
    QMimeData none;
    EXPECT_EQ(browsers->draggingEntered(*views[1], none, {10, 10}, Qt::MoveAction), Qt::IgnoreAction);
}

TEST_F(MainWindowBrowsersTest, OnlyJobBrowserClicksRunAJob) {
    auto clickFrom = [&](const void* sender) {
        kdf::Dictionary info{{kClickCellIndexKey, kdf::Value(1u)}};
        kdf::Notification n(kPanelIBViewClickCellNotification, sender, nullptr, &info);
        return browsers->isJobPanelClick(n);
    };
    EXPECT_TRUE(clickFrom(static_cast<QWidget*>(views[2])));
    EXPECT_FALSE(clickFrom(static_cast<QWidget*>(views[0])));
    EXPECT_FALSE(clickFrom(static_cast<QWidget*>(views[1])));
}

TEST_F(MainWindowBrowsersTest, ToolTipsByKind) {
    auto out = output("x");
    out->setSaveType(7);
    out->setFileSavePath(std::string("/srv/scans"));
    registry->plugins["P"] = {"Cloud"};
    auto plugged = outputWithPlugin("P", "g");
    auto j = job("j");
    j->setJobOutputModel_List({outputWithPlugin("P", "g"), std::make_shared<OutputModel>()});
    model->setOutputModel_List({out, plugged});
    model->setJobModel_List({j});
    EXPECT_TRUE(browsers->toolTipForItem(*views[1], 0).startsWith("/srv/scans\n"));
    // A plug-in that does not show the file type: its title alone.
    EXPECT_EQ(browsers->toolTipForItem(*views[1], 1), "Cloud");
    const QString jobTip = browsers->toolTipForItem(*views[2], 0);
    EXPECT_TRUE(jobTip.contains("1:Cloud")) << jobTip.toStdString();
    EXPECT_TRUE(jobTip.contains("2:")) << jobTip.toStdString();
    EXPECT_EQ(jobTip.count(QChar('\n')), 3 + 2) << jobTip.toStdString(); // the input's four lines, one per output
    EXPECT_EQ(browsers->toolTipForItem(*views[1], 5), "");
    // While another window lies over the browsers their tool tips are away.
    browsers->removePanelToolTips();
    EXPECT_EQ(browsers->toolTipForItem(*views[1], 1), "");
    browsers->resetPanelToolTips();
    EXPECT_EQ(browsers->toolTipForItem(*views[1], 1), "Cloud");
}

TEST_F(MainWindowBrowsersTest, CopyGetsItsOwnPluginIdentityOrNone) {
    registry->plugins["OK"] = {};
    registry->plugins["NO"] = {"", -5};
    model->setOutputModel_List({outputWithPlugin("OK", "g1"), outputWithPlugin("NO", "g2"),
                                outputWithPlugin("GONE", "g3")});
    pick(1, 0, qlr_main::kMenuCopy);
    pick(1, 1, qlr_main::kMenuCopy);
    pick(1, 2, qlr_main::kMenuCopy);
    EXPECT_EQ(browsers->clickedIndex(), -1);
    const auto list = model->outputModel_List();
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list[3]->pluginID(), "OK");
    EXPECT_EQ(list[3]->pluginGUID(), "g1-copy1");
    EXPECT_EQ(list[4]->pluginID(), "");  // the plug-in refused its copy
    EXPECT_EQ(list[4]->pluginGUID(), "");
    EXPECT_EQ(list[5]->pluginID(), ""); // no plug-in object
    EXPECT_NE(list[3]->dispImage(), nullptr);
    // The original keeps its own.
    EXPECT_EQ(list[0]->pluginGUID(), "g1");
}

TEST_F(MainWindowBrowsersTest, AHundredthPanelIsRefused) {
    std::vector<std::shared_ptr<OutputModel>> many;
    for (int i = 0; i < kMaxPanelCount; ++i) many.push_back(output("o" + std::to_string(i)));
    model->setOutputModel_List(many);
    pick(1, 0, qlr_main::kMenuCopy);
    EXPECT_EQ(model->outputModel_List().size(), std::size_t(kMaxPanelCount));
    ASSERT_EQ(alerts->shown.size(), 1u);
}

TEST_F(MainWindowBrowsersTest, AssignTakesTheButtonFromAnotherJob) {
    const auto jobs = model->jobModel_List();
    const auto before = jobs[1]->dispImage();
    pick(2, 2, qlr_main::kMenuAssign, 4);
    EXPECT_EQ(jobs[2]->scanBtnStatus(), 4);
    EXPECT_EQ(jobs[1]->scanBtnStatus(), JobModel::kNoButton);
    EXPECT_EQ(jobs[0]->scanBtnStatus(), 1);
    EXPECT_NE(jobs[1]->dispImage(), before); // its badge drawn away

    // The submenu holds buttons 1 to 9; disabled for the AirPrint-class source.
    QMenu* menu = browsers->panelMenu(kJobPanelType);
    int values = 0;
    for (int v : PanelTile::kButtonValues) values += actionWithTag(menu, (2 << 16) | 1103, v) != nullptr;
    EXPECT_EQ(values, 9);
    services->apds = true;
    browsers->createIBViewMenu();
    QAction* assign = nullptr;
    for (QAction* a : browsers->panelMenu(kJobPanelType)->actions())
        if (kdui::tag(a) == ((2 << 16) | 1103)) assign = a;
    ASSERT_NE(assign, nullptr);
    EXPECT_FALSE(assign->isEnabled());
    // One-button models: one item with the value 1.
    services->apds = false;
    services->multi = false;
    browsers->createIBViewMenu();
    QAction* single = actionWithTag(browsers->panelMenu(kJobPanelType), (2 << 16) | 1103);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->data().toInt(), 1);
    EXPECT_EQ(single->menu(), nullptr);
    // No assign item on input and output panels.
    EXPECT_EQ(actionWithTag(browsers->panelMenu(kOutputPanelType), (1 << 16) | 1103), nullptr);
}

TEST_F(MainWindowBrowsersTest, SortingIsStableAndByTheTablesKey) {
    auto menuPick = [&](int type, int command) {
        QAction* a = actionWithTag(browsers->backMenu(type), (type << 16) | command);
        ASSERT_NE(a, nullptr);
        a->trigger();
    };
    menuPick(1, qlr_main::kMenuUseDescend);
    EXPECT_EQ(outputTitles(), (std::vector<std::string>{"a", "c", "b"}));
    menuPick(1, qlr_main::kMenuNameAscend);
    EXPECT_EQ(outputTitles(), (std::vector<std::string>{"a", "b", "c"}));
    // Equal keys keep their order.
    model->setOutputModel_List({output("x", 2), output("y", 1), output("z", 2)});
    menuPick(1, qlr_main::kMenuUseDescend);
    EXPECT_EQ(outputTitles(), (std::vector<std::string>{"x", "z", "y"}));
    // Plug-in order exists for outputs only.
    EXPECT_EQ(actionWithTag(browsers->backMenu(0), qlr_main::kMenuOutputAscend), nullptr);
    EXPECT_NE(actionWithTag(browsers->backMenu(1), (1 << 16) | qlr_main::kMenuOutputAscend), nullptr);
}

TEST_F(MainWindowBrowsersTest, SizeChangeRedrawsSetsCellSizesAndChecksTheEntry) {
    QAction* max = actionWithTag(browsers->backMenu(2), (2 << 16) | qlr_main::kMenuSizeMax);
    ASSERT_NE(max, nullptr);
    max->trigger();
    EXPECT_EQ(model->job_PanelSizeType(), 2);
    for (auto& j : model->jobModel_List()) EXPECT_EQ(PanelTile::displayImage(*j).size(), QSize(354, 190));
    EXPECT_EQ(views[2]->cellSize(), QSize(354, 374)); // the three-output size
    EXPECT_EQ(views[0]->cellSize(), QSize(140, 140));
    EXPECT_EQ(port->calls, std::vector<std::string>{"top:00"});

    browsers->backgroundWasRightClicked(*views[2], {});
    EXPECT_EQ(browsers->shown, browsers->backMenu(2));
    EXPECT_TRUE(max->isChecked());
    EXPECT_FALSE(actionWithTag(browsers->backMenu(2), (2 << 16) | qlr_main::kMenuSizeMid)->isChecked());
}

TEST_F(MainWindowBrowsersTest, DeleteAsksFirstNewAndEditReachTheirWindows) {
    alerts->answer = 1; // Cancel
    pick(0, 1, qlr_main::kMenuDelete);
    EXPECT_EQ(model->inputModel_List().size(), 2u);
    alerts->answer = 0; // OK
    pick(0, 1, qlr_main::kMenuDelete);
    EXPECT_EQ(model->inputModel_List().size(), 1u);
    // A stale index deletes nothing and asks nothing.
    const auto asked = alerts->shown.size();
    pick(0, 5, qlr_main::kMenuDelete);
    EXPECT_EQ(alerts->shown.size(), asked);

    QAction* create = actionWithTag(browsers->backMenu(2), (2 << 16) | qlr_main::kMenuNew);
    ASSERT_NE(create, nullptr);
    create->trigger();
    pick(1, 2, qlr_main::kMenuEdit);
    runOneTurn();
    browsers->cellWasDoubleClicked(*views[2], 1);
    runOneTurn();
    EXPECT_EQ(port->calls, (std::vector<std::string>{"create:1040", "setting:1:2", "setting:2:1"}));
}

// The page browser: five pages of widths 1 to 5 with a raw file each, on a
// job that edits its pages, page 4 (index 3) shown.
class PageBrowserTest : public MainWindowBrowsersTest {
protected:
    QTemporaryDir dir;
    ImageIBView* pages = nullptr;
    std::shared_ptr<PreviewCntlr> preview;
    std::vector<std::string> files;

    void SetUp() override {
        MainWindowBrowsersTest::SetUp();
        pages = new ImageIBView(window.get());
        pages->setObjectName("Scan_PreImage_IBView");
        pages->setGeometry(0, 0, 400, 800);
        pages->setAllowsMultipleSelection(true);
        for (int tag : {4000, 4001, 4002}) kdui::setTag(new QPushButton(window.get()), tag);
        PreviewOutlets outlets;
        outlets.pageBrowser = pages;
        preview = std::make_shared<PreviewCntlr>(pagesOfController(*cntlr), nullptr, outlets);
        cntlr->setPreviewPort(preview);
        auto j = job("edit");
        j->setIsImageProcess(true);
        cntlr->setTmpCopyJobModel_Scan(j);
        cntlr->initImgInfoArray();
        std::vector<std::shared_ptr<PanelModel>> items;
        for (int i = 1; i <= 5; ++i) {
            auto page = std::make_shared<ImageInfoModel>();
            page->setImgInfo_Width(i);
            files.push_back(dir.filePath(QString("tmpImg_%1").arg(i)).toStdString());
            std::ofstream(files.back()) << "raw";
            page->setImgInfo_TmpImagePath(files.back());
            cntlr->addImgInfo(page);
            items.push_back(std::make_shared<PanelModel>());
        }
        cntlr->setPreImageModel_List(items);
        cntlr->setPreDisplayIndex(3);
        browsers->createPreviewIBViewMenu();
        pages->reloadData();
    }
    void TearDown() override {
        cntlr->setPreviewPort(nullptr);
        preview.reset();
        cntlr->releaseImgInfoArray(false);
        cntlr->setTmpCopyJobModel_Scan(nullptr);
        MainWindowBrowsersTest::TearDown();
    }
    std::vector<int> widths() {
        std::vector<int> out;
        for (int i = 0; i < cntlr->countOfImgInfoDict(); ++i) out.push_back(cntlr->imgInfoAtIndex(i)->imgInfo_Width());
        return out;
    }
    void pickPage(int index, int command) {
        browsers->onMenu = [&](QMenu& menu) {
            QAction* action = actionWithTag(&menu, command);
            ASSERT_NE(action, nullptr) << command;
            if (action->isEnabled()) action->trigger();
        };
        browsers->showPageMenu(index, {});
    }
};

TEST_F(PageBrowserTest, MovesAreMirroredIntoThePageListAndTheShownPageFollows) {
    const auto items = cntlr->preImageModel_List();
    ASSERT_TRUE(preview->moveItems(*pages, {1, 3}, 0));
    EXPECT_EQ(widths(), (std::vector<int>{2, 4, 1, 3, 5}));
    const auto moved = cntlr->preImageModel_List();
    EXPECT_EQ(moved[0], items[1]);
    EXPECT_EQ(moved[1], items[3]);
    EXPECT_EQ(cntlr->preDisplayIndex(), 1); // page 4 stays the shown one
    // Titles follow the new order.
    EXPECT_EQ(preview->itemAtIndex(*pages, 1).title, "2");
    // A destination past the end or a stale index changes nothing.
    EXPECT_FALSE(preview->moveItems(*pages, {4}, 6));
    EXPECT_FALSE(preview->moveItems(*pages, {5}, 0));
    EXPECT_EQ(widths(), (std::vector<int>{2, 4, 1, 3, 5}));
}

TEST_F(PageBrowserTest, RemovalAsksAndDeletesTheFiles) {
    alerts->answer = 1; // Cancel
    EXPECT_FALSE(preview->removeItems(*pages, {0}));
    EXPECT_EQ(widths().size(), 5u);
    EXPECT_TRUE(std::filesystem::exists(files[0]));
    alerts->answer = 0;
    EXPECT_FALSE(preview->removeItems(*pages, {9}));
    EXPECT_TRUE(preview->removeItems(*pages, {0, 4}));
    EXPECT_EQ(widths(), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(cntlr->preImageModel_List().size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(files[0]));
    EXPECT_FALSE(std::filesystem::exists(files[4]));
    EXPECT_TRUE(std::filesystem::exists(files[1]));
    // The last page becomes the only selection.
    EXPECT_EQ(pages->selectionIndexes(), kdui::IndexSet{2});
    EXPECT_TRUE(preview->removeItems(*pages, {0, 1, 2}));
    EXPECT_TRUE(widths().empty());
    EXPECT_EQ(cntlr->preDisplayIndex(), -1);
}

TEST_F(PageBrowserTest, MenuDeleteRemovesThePointedAtPageOutsideTheSelection) {
    alerts->answer = 0;
    pages->setSelectionIndexes({0, 1}, false);
    pickPage(3, kPageMenuDelete);
    EXPECT_EQ(widths(), (std::vector<int>{1, 2, 3, 5}));
    pages->setSelectionIndexes({0, 1}, false);
    pickPage(1, kPageMenuDelete);
    EXPECT_EQ(widths(), (std::vector<int>{3, 5}));
}

TEST_F(PageBrowserTest, MenuMovesAndEnabling) {
    pickPage(0, kPageMenuFollowing);
    EXPECT_EQ(widths(), (std::vector<int>{2, 1, 3, 4, 5}));
    pickPage(4, kPageMenuPrevious);
    EXPECT_EQ(widths(), (std::vector<int>{2, 1, 3, 5, 4}));
    // First and last pages: no way past the ends.
    browsers->onMenu = [](QMenu& menu) {
        EXPECT_FALSE(actionWithTag(&menu, kPageMenuPrevious)->isEnabled());
        EXPECT_TRUE(actionWithTag(&menu, kPageMenuFollowing)->isEnabled());
    };
    browsers->showPageMenu(0, {});
    browsers->onMenu = [](QMenu& menu) {
        EXPECT_TRUE(actionWithTag(&menu, kPageMenuPrevious)->isEnabled());
        EXPECT_FALSE(actionWithTag(&menu, kPageMenuFollowing)->isEnabled());
        EXPECT_TRUE(actionWithTag(&menu, kPageMenuDelete)->isEnabled());
    };
    browsers->showPageMenu(4, {});
    // A job that does not edit its pages: no deleting or moving.
    cntlr->tmpCopyJobModel_Scan()->setIsImageProcess(false);
    browsers->onMenu = [](QMenu& menu) {
        EXPECT_FALSE(actionWithTag(&menu, kPageMenuDelete)->isEnabled());
        EXPECT_FALSE(actionWithTag(&menu, kPageMenuReplace)->isEnabled());
    };
    browsers->showPageMenu(2, {});
    EXPECT_EQ(browsers->clickedIndex(), -1);

    pickPage(2, kPageMenuOdd);
    EXPECT_EQ(port->calls, std::vector<std::string>{"select:4001"});
}

TEST_F(PageBrowserTest, PagesTakeDropsOnlyFromThemselves) {
    browsers->setUpImageBrowsers();
    EXPECT_EQ(pages->draggingDestinationDelegate(), browsers.get());
    QMimeData drag;
    drag.setData(kPanelTypeKey, kPreImagePanelTypeString);
    const QPoint inside = pages->viewport()->rect().center();
    EXPECT_EQ(browsers->draggingEntered(*pages, drag, inside, Qt::MoveAction), Qt::MoveAction);
    drag.setData(kPanelTypeKey, "PanelType_2");
    EXPECT_EQ(browsers->draggingEntered(*pages, drag, inside, Qt::MoveAction), Qt::IgnoreAction);
}

TEST_F(PageBrowserTest, RightClickOnAPageOpensItsMenuTheBackgroundNone) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    pages->raise();
    QTest::mouseClick(pages->viewport(), Qt::RightButton, {}, pages->itemFrameAtIndex(2).center());
    EXPECT_EQ(browsers->shown, browsers->scanPanelMenu());
    EXPECT_EQ(browsers->indexWhileShown, 2);
    browsers->shown = nullptr;
    QTest::mouseClick(pages->viewport(), Qt::RightButton, {}, QPoint(395, 795));
    EXPECT_EQ(browsers->shown, nullptr);
}

} // namespace

APPTEST_MAIN()
