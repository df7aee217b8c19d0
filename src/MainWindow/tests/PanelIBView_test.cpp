// The panel browser: a click posts the click notification and moves the
// panels' own selection (with the Ctrl-click limit), a moved click does
// nothing, a title click opens the editor 0.2 s later, the editor's limits,
// the space bar and the delete keys, and the hover tools with their toggles.
#include "PanelIBView.h"

#include "AppMainCntlrPorts.h"
#include "JobModel.h"
#include "PanelTile.h"
#include "TvButtons.h"
#include "TvTextFields.h"

#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>

#include "AppMainCntlrFakes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QTest>

namespace {

// Panels of one kind in a list, as the controller gives them.
class Panels : public PanelIBViewDataSource {
public:
    std::vector<std::shared_ptr<PanelModel>> list;
    int type = kInputPanelType;
    bool shield = false;
    int removeCalls = 0;
    std::vector<std::pair<int, int>> settingWindows;

    int numberOfItems(kdui::ImageBrowserView&) override { return int(list.size()); }
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView&, int index) override {
        return {PanelTile::displayImage(*list[std::size_t(index)]), {}};
    }
    bool removeItems(kdui::ImageBrowserView&, const kdui::IndexSet&) override {
        ++removeCalls;
        return false;
    }
    std::shared_ptr<PanelModel> panelAtIndex(kdui::ImageBrowserView&, int index) override {
        return index >= 0 && index < int(list.size()) ? list[std::size_t(index)] : nullptr;
    }
    int panelTypeOfView(const kdui::ImageBrowserView&) const override { return type; }
    void openSettingWindow(int panelType, int index) override { settingWindows.emplace_back(panelType, index); }
    bool isShowDarkShieldView() const override { return shield; }
};

// The browser with its drag picture in reach.
class ProbeView : public PanelIBView {
public:
    using PanelIBView::PanelIBView;
    using PanelIBView::dragPixmap;
};

class PanelIBViewTest : public ::testing::Test {
protected:
    std::unique_ptr<kdf::TestClock> clock;
    Panels panels;
    std::unique_ptr<QWidget> window;
    ProbeView* view = nullptr;
    std::vector<int> clicks;
    kdf::ObserverToken observer;

    void SetUp() override {
        observer = kdf::NotificationCenter::defaultCenter().addObserver(
            kPanelIBViewClickCellNotification, [this](const kdf::Notification& n) {
                if (n.sender() != static_cast<QWidget*>(view)) return;
                const kdf::Value* index = n.userInfo() ? kdf::find(*n.userInfo(), kClickCellIndexKey) : nullptr;
                clicks.push_back(index ? int(index->toInteger().value_or(-1)) : -1);
            });
    }
    void TearDown() override {
        window.reset();
        clock.reset();
    }
    // A browser of n panels of a kind at a size type.
    void make(int n, int type, int sizeType, int selectable) {
        panels.type = type;
        for (int i = 0; i < n; ++i) {
            std::shared_ptr<PanelModel> p;
            if (type == kJobPanelType) {
                auto job = std::make_shared<JobModel>();
                job->setJobInputModel_List({std::make_shared<InputModel>()});
                job->setJobOutputModel_List({std::make_shared<OutputModel>()});
                p = job;
            } else {
                p = std::make_shared<InputModel>();
            }
            p->setDispTitle("Panel " + std::to_string(i));
            PanelTile::createPanelImage(*p, sizeType);
            panels.list.push_back(p);
        }
        window = std::make_unique<QWidget>();
        window->resize(900, 700);
        view = new ProbeView(window.get());
        view->setGeometry(0, 0, 900, 700);
        view->setCellSize(PanelTile::makePanelSize(*panels.list.front(), sizeType));
        view->setSelectableNumber(selectable);
        view->setDataSource(&panels);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QPoint centreOf(int index) { return view->itemFrameAtIndex(index).center(); }
    void click(int index, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, mods, centreOf(index));
    }
    std::vector<bool> selected() {
        std::vector<bool> out;
        for (auto& p : panels.list) out.push_back(p->isSelected());
        return out;
    }
    void runDue() { kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.01)); }
};

TEST_F(PanelIBViewTest, ClickPostsAndSelectsOnlyThatTile) {
    make(3, kInputPanelType, 1, 1);
    click(2);
    EXPECT_EQ(clicks, std::vector<int>{2});
    EXPECT_EQ(selected(), (std::vector<bool>{false, false, true}));
    click(0);
    EXPECT_EQ(selected(), (std::vector<bool>{true, false, false}));
    // The grid's own selection never follows the clicks.
    EXPECT_TRUE(view->selectionIndexes().empty());
    // The selected tile was drawn again with its orange rim.
    const QImage tile = PanelTile::displayImage(*panels.list[0]);
    EXPECT_EQ(tile.pixel(0, tile.height() / 2) & 0xFFFFFF, PanelTile::kSelectedRimRGB);
}

TEST_F(PanelIBViewTest, CtrlClicksSelectUpToTheLimit) {
    struct Case {
        int selectable;
        std::vector<bool> after;
    };
    const Case cases[] = {
        {3, {true, true, true, false}},  // the fourth is refused
        {1, {true, false, false, false}},
        {0, {false, false, false, false}},
    };
    for (const Case& c : cases) {
        panels.list.clear();
        make(4, kOutputPanelType, 0, c.selectable);
        for (int i = 0; i < 4; ++i) click(i, Qt::ControlModifier);
        EXPECT_EQ(selected(), c.after) << c.selectable;
        window.reset();
    }
    // A Ctrl-click on a selected tile takes it out, whatever the limit.
    panels.list.clear();
    make(2, kOutputPanelType, 0, 0);
    panels.list[1]->setIsSelected(true);
    click(1, Qt::ControlModifier);
    EXPECT_EQ(selected(), (std::vector<bool>{false, false}));
}

TEST_F(PanelIBViewTest, DragPictureIsTheTileOutlinedWhenSelected) {
    make(2, kInputPanelType, 1, 1);
    panels.list[1]->setIsSelected(true);
    PanelTile::createPanelImage(*panels.list[1], 1);
    const QImage plain = view->dragPixmap({0}).toImage();
    const QImage selected = view->dragPixmap({1}).toImage();
    ASSERT_EQ(plain.size(), QSize(140, 140));
    ASSERT_EQ(selected.size(), QSize(140, 140));
    // A 2-pixel orange border over the selected tile; the plain one keeps
    // its gray rim.
    EXPECT_EQ(selected.pixel(1, 70) & 0xFFFFFF, 0xFDA128u);
    EXPECT_EQ(plain.pixel(0, 70) & 0xFFFFFF, PanelTile::kRimRGB);
    EXPECT_TRUE(view->dragPixmap({}).isNull());
}

TEST_F(PanelIBViewTest, MovedClickDoesNothing) {
    make(2, kInputPanelType, 1, 1);
    const QPoint at = centreOf(1);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at + QPoint(2, 0));
    EXPECT_TRUE(clicks.empty());
    EXPECT_EQ(selected(), (std::vector<bool>{false, false}));
}

TEST_F(PanelIBViewTest, TitleClickOpensTheEditorLaterAndPostsNothing) {
    clock = std::make_unique<kdf::TestClock>();
    make(2, kInputPanelType, 1, 1);
    auto* cell = view->cellForItemAtIndex(1);
    ASSERT_NE(cell, nullptr);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell->titleFrame().center());
    EXPECT_TRUE(clicks.empty());
    runDue();
    EXPECT_EQ(PanelIBView::fieldEditorOwner(), nullptr);
    clock->advance(kdf::Seconds(0.2));
    runDue();
    ASSERT_EQ(PanelIBView::fieldEditorOwner(), view);
    TvTextField* editor = PanelIBView::fieldEditor();
    EXPECT_EQ(editor->text(), "Panel 1");
    EXPECT_EQ(editor->geometry(), cell->titleFrame());

    // 40 characters at most; line breaks never get in, pasted or typed.
    editor->clear();
    QTest::keyClicks(editor, QString(41, QChar('x')));
    EXPECT_EQ(editor->text().size(), 40);
    editor->clear();
    QApplication::clipboard()->setText("two\nlines");
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    EXPECT_FALSE(editor->text().contains('\n'));
    editor->setText("   ");
    EXPECT_TRUE(PanelIBView::hideFieldEditor());
    EXPECT_EQ(panels.list[1]->dispTitle(), "");
    EXPECT_EQ(PanelIBView::fieldEditorOwner(), nullptr);
    EXPECT_EQ(editor->parentWidget(), nullptr);
}

TEST_F(PanelIBViewTest, EditedTitleIsTrimmedAndKeptWhenTheBrowserGoes) {
    make(1, kInputPanelType, 1, 1);
    view->showFieldEditor(0);
    PanelIBView::fieldEditor()->setText("  New name  ");
    QPointer<TvTextField> editor = PanelIBView::fieldEditor();
    window.reset();
    // The editor is the process's, not the browser's: it outlives it.
    ASSERT_FALSE(editor.isNull());
    EXPECT_EQ(panels.list[0]->dispTitle(), "New name");
}

TEST_F(PanelIBViewTest, SpaceRunsTheSelectedTileOnlyAndDeleteKeysDoNothing) {
    make(3, kJobPanelType, 1, 0);
    view->setFocus();
    QTest::keyClick(view->viewport(), Qt::Key_Space);
    EXPECT_TRUE(clicks.empty());
    view->setSelectionIndexes({1}, false);
    QTest::keyClick(view->viewport(), Qt::Key_Space);
    EXPECT_EQ(clicks, std::vector<int>{1});
    EXPECT_EQ(selected(), (std::vector<bool>{false, true, false}));
    QTest::keyClick(view->viewport(), Qt::Key_Delete);
    QTest::keyClick(view->viewport(), Qt::Key_Backspace);
    EXPECT_EQ(panels.removeCalls, 0);
    EXPECT_EQ(panels.list.size(), 3u);
}

TEST_F(PanelIBViewTest, HoverToolsOnLargeJobTilesAndTheirToggles) {
    make(2, kJobPanelType, 2, 0);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    view->updateMouseByMove(centreOf(0));
    ASSERT_EQ(PanelIBView::toolsOwner(), view);
    for (auto tool : {PanelIBView::kEditTool, PanelIBView::kContinueScanTool, PanelIBView::kImageProcessTool}) {
        TvToolButton* button = PanelIBView::toolButton(tool);
        EXPECT_EQ(button->parentWidget(), view->viewport());
        EXPECT_TRUE(button->isVisible());
    }
    auto* cell = dynamic_cast<PanelIBCell*>(view->cellForItemAtIndex(0));
    EXPECT_EQ(PanelIBView::toolButton(PanelIBView::kContinueScanTool)->geometry(), cell->continueScanButtonFrame());

    auto job = std::dynamic_pointer_cast<JobModel>(panels.list[0]);
    const bool before = job->isContinueScan();
    const auto oldTile = job->dispImage();
    PanelIBView::toolButton(PanelIBView::kContinueScanTool)->click();
    EXPECT_NE(job->isContinueScan(), before);
    EXPECT_NE(job->dispImage(), oldTile); // drawn again
    EXPECT_EQ(PanelIBView::toolsOwner(), view); // shown again after the redraw
    const bool process = job->isImageProcess();
    PanelIBView::toolButton(PanelIBView::kImageProcessTool)->click();
    EXPECT_NE(job->isImageProcess(), process);

    PanelIBView::toolButton(PanelIBView::kEditTool)->click();
    runDue();
    EXPECT_EQ(panels.settingWindows, (std::vector<std::pair<int, int>>{{kJobPanelType, 0}}));

    // Under the dark shield no tools appear.
    PanelIBView::hideTools(nullptr);
    panels.shield = true;
    view->updateMouseByMove(centreOf(1));
    EXPECT_EQ(PanelIBView::toolsOwner(), nullptr);
    EXPECT_EQ(PanelIBView::toolButton(PanelIBView::kEditTool)->parentWidget(), nullptr);
}

TEST_F(PanelIBViewTest, SmallTilesHaveNoToolsAndAnInactiveWindowShowsNone) {
    make(1, kInputPanelType, 0, 1);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    view->updateMouseByMove(centreOf(0));
    EXPECT_EQ(PanelIBView::toolButton(PanelIBView::kEditTool)->parentWidget(), nullptr);
    PanelIBView::hideTools(nullptr);

    auto other = std::make_unique<QWidget>();
    other->show();
    other->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(other.get()));
    PanelTile::createPanelImage(*panels.list[0], 1);
    view->updateMouseByMove(centreOf(0));
    EXPECT_EQ(PanelIBView::toolsOwner(), nullptr);
}

} // namespace

APPTEST_MAIN()
