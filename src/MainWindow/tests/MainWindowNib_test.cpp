// The main window's form: every outlet the controller reaches by name is
// there with its kind, and every main-menu item is found by its tag.
#include "MainWindowNib.h"

#include <ui/MenuTags.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSplitter>

#include <gtest/gtest.h>

#include <memory>

namespace {

using qlr_main::MainWindowNib;

TEST(MainWindowNib, OutletsAndSplitPanesInOrder) {
    std::unique_ptr<QMainWindow> window(MainWindowNib::load());
    for (const char* name : {qlr_main::kContentView, qlr_main::kTopContentView, qlr_main::kTopStepScanSubView,
                             qlr_main::kTopFavoritScanSubView, qlr_main::kScanContentView})
        EXPECT_NE(MainWindowNib::outlet(window.get(), name), nullptr) << name;
    EXPECT_EQ(window->centralWidget(), MainWindowNib::outlet(window.get(), qlr_main::kContentView));
    EXPECT_EQ(MainWindowNib::outlet(window.get(), "NoSuchView"), nullptr);
    EXPECT_EQ(MainWindowNib::outlet(nullptr, qlr_main::kContentView), nullptr);

    // The panes are the split views' own children, first pane first.
    struct Split {
        const char* split;
        const char* first;
        const char* second;
        Qt::Orientation orientation;
    };
    for (const Split& s : {Split{qlr_main::kTopStepScanSplitView, qlr_main::kTopStepScanStep1SplitSubView,
                                 qlr_main::kTopStepScanStep2SplitSubView, Qt::Vertical},
                           Split{qlr_main::kScanSplitView, qlr_main::kScanThumbnailSplitSubView,
                                 qlr_main::kScanPreviewSplitSubView, Qt::Horizontal}}) {
        QSplitter* split = MainWindowNib::splitView(window.get(), s.split);
        ASSERT_NE(split, nullptr) << s.split;
        ASSERT_EQ(split->count(), 2) << s.split;
        EXPECT_EQ(split->widget(0), MainWindowNib::outlet(window.get(), s.first)) << s.split;
        EXPECT_EQ(split->widget(1), MainWindowNib::outlet(window.get(), s.second)) << s.split;
        EXPECT_EQ(split->orientation(), s.orientation) << s.split;
    }
    // The scan screen starts hidden behind the top screen.
    EXPECT_TRUE(MainWindowNib::outlet(window.get(), qlr_main::kScanContentView)->isHidden());
}

TEST(MainWindowNib, MainMenuItemsByTag) {
    std::unique_ptr<QMainWindow> window(MainWindowNib::load());
    ASSERT_NE(MainWindowNib::mainMenu(window.get()), nullptr);
    // Top-level items carry their submenu.
    for (int tag : {100, 200, 300, 400}) {
        QAction* item = kdui::mainMenuItemWithTag(window.get(), tag);
        ASSERT_NE(item, nullptr) << tag;
        EXPECT_NE(item->menu(), nullptr) << tag;
    }
    for (int tag : {101, 102, 103, 104, 105, 106, 201, 202, 203, 204, 205, 206, 207, 301, 302, 303, 304, 401}) {
        QAction* item = kdui::mainMenuItemWithTag(window.get(), tag);
        ASSERT_NE(item, nullptr) << tag;
        // Each item sits in the submenu of its hundred.
        QAction* top = kdui::mainMenuItemWithTag(window.get(), tag / 100 * 100);
        EXPECT_TRUE(top->menu()->actions().contains(item)) << tag;
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
