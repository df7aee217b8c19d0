// The edit side panel: the accordion of its three sections with the
// processing mode put back, the start-up layout, and the panel shown and
// hidden with its button, also when an animation is refused.
#include "MainWindowTopFixture.h"

#include <TvButtons.h>

namespace {

using namespace qlr_main;
using toptest::TopTest;

constexpr int kSections[] = {kImageProcToggleTag, kImageTransformToggleTag, kImageRotateToggleTag};
const char* const kShrinkViews[] = {"Image_Proc_ShrinkView", "Image_Transform_ShrinkView", "Image_Rotate_ShrinkView"};

class EditPanelTest : public TopTest {
protected:
    EditImagePanel& panel() { return top->editPanel(); }
    TvSegmentedControl* mode() { return qobject_cast<TvSegmentedControl*>(item(kImageProcModeTag)); }

    void SetUp() override {
        TopTest::SetUp();
        // The scan screen, as during a scan.
        outlet(kTopContentView)->hide();
        outlet(kScanContentView)->show();
        mode()->setSegmentCount(2);
        panel().initEditImageView();
        QCoreApplication::processEvents();
        log.clear();
    }

    // Which sections are open, with their buttons agreeing and the closed
    // ones at their header's height plus one.
    void expectOpen(std::initializer_list<int> open) {
        for (int i = 0; i < 3; ++i) {
            const int tag = kSections[i];
            const bool isOpen = std::find(open.begin(), open.end(), tag) != open.end();
            SCOPED_TRACE("section " + std::to_string(tag));
            EXPECT_EQ(panel().isSectionOpen(tag), isOpen);
            EXPECT_EQ(checked(tag), isOpen);
            QWidget* shrink = outlet(kShrinkViews[i]);
            if (isOpen) {
                EXPECT_GT(shrink->height(), panel().closedHeight(tag));
            } else {
                EXPECT_EQ(shrink->height(), panel().closedHeight(tag));
            }
        }
        // Stacked top-down without gaps.
        for (int i = 1; i < 3; ++i) {
            const QRect above = outlet(kShrinkViews[i - 1])->geometry();
            EXPECT_EQ(outlet(kShrinkViews[i])->geometry().y(), above.y() + above.height());
        }
    }
};

TEST_F(EditPanelTest, StartsWithAllSectionsClosedAndStacked) {
    expectOpen({});
    EXPECT_EQ(outlet(kShrinkViews[0])->geometry().y(), 0);
}

TEST_F(EditPanelTest, OpeningTransformClosesProcessingAndPutsItsModeBack) {
    for (bool rtl : {false, true}) {
        SCOPED_TRACE(rtl ? "rtl" : "ltr");
        setDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
        panel().initEditImageView();
        log.clear();
        panel().updateEditImageViews(item(kImageProcToggleTag), false);
        expectOpen({kImageProcToggleTag});
        mode()->setSelectedSegment(rtl ? 0 : 1);
        EXPECT_TRUE(log.empty());

        clock.advance(kdf::Seconds(1));
        panel().updateEditImageViews(item(kImageTransformToggleTag), true);
        expectOpen({kImageTransformToggleTag});
        EXPECT_EQ(mode()->selectedSegment(), rtl ? 1 : 0);
        EXPECT_EQ(log, toptest::Log{"changeImageProcMode 4101"});
    }
}

TEST_F(EditPanelTest, PressingTheOpenSectionClosesIt) {
    panel().updateEditImageViews(item(kImageRotateToggleTag), false);
    expectOpen({kImageRotateToggleTag});
    panel().updateEditImageViews(item(kImageRotateToggleTag), true);
    expectOpen({});
    EXPECT_TRUE(log.empty());
}

TEST_F(EditPanelTest, CloseWithoutSenderClosesTheOpenSectionOrDoesNothing) {
    panel().updateEditImageViews(nullptr, false);
    expectOpen({});
    EXPECT_TRUE(log.empty());

    panel().updateEditImageViews(item(kImageProcToggleTag), false);
    panel().updateEditImageViews(nullptr, false);
    expectOpen({});
    EXPECT_EQ(log, toptest::Log{"changeImageProcMode 4101"});
}

TEST_F(EditPanelTest, ToggleButtonsClickThroughTheAccordion) {
    qobject_cast<QAbstractButton*>(item(kImageTransformToggleTag))->click();
    expectOpen({kImageTransformToggleTag});
}

TEST_F(EditPanelTest, SidePanelShownAndHiddenWithItsButton) {
    QWidget* side = outlet("Scan_ImageProc_SubView");
    QWidget* split = outlet(kScanSplitView);
    const int rowWidth = split->width() + side->width();

    panel().showHideEditImageDisplay(nullptr, false, false);
    QCoreApplication::processEvents();
    EXPECT_FALSE(panel().isEditImageDisplayShown());
    EXPECT_TRUE(checked(kEditPanelToggleTag));
    EXPECT_EQ(split->width(), rowWidth);

    panel().showHideEditImageDisplay(nullptr, true, true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(panel().isEditImageDisplayShown());
    EXPECT_FALSE(checked(kEditPanelToggleTag));
    EXPECT_EQ(split->width() + side->width(), rowWidth);

    // Refused within 0.7 s: the panel stays, the button still tells it.
    qobject_cast<QAbstractButton*>(item(kEditPanelToggleTag))->setChecked(true);
    panel().showHideEditImageDisplay(nullptr, false, true);
    EXPECT_TRUE(panel().isEditImageDisplayShown());
    EXPECT_FALSE(checked(kEditPanelToggleTag));

    // A sender toggles.
    clock.advance(kdf::Seconds(1));
    panel().showHideEditImageDisplay(item(kEditPanelToggleTag), true, true);
    EXPECT_FALSE(panel().isEditImageDisplayShown());
    EXPECT_TRUE(checked(kEditPanelToggleTag));
}

TEST_F(EditPanelTest, PanelLeavesRoomForTheProcessingHeaderWhileTheJobEditsPages) {
    QWidget* side = outlet("Scan_ImageProc_SubView");
    auto job = std::make_shared<JobModel>();
    for (bool edits : {false, true}) {
        job->setIsImageProcess(edits);
        cntlr->setTmpCopyJobModel_Scan(job);
        panel().showHideEditImageDisplay(nullptr, true, false);
        QCoreApplication::processEvents();
        EXPECT_EQ(side->width(), kEditPanelWidth + (edits ? kImageProcHeaderExtra : 0));
    }
}

TEST_F(EditPanelTest, TheSidePanelButtonTogglesAndEndsEditingWhenHidden) {
    clock.advance(kdf::Seconds(1));
    qobject_cast<QAbstractButton*>(item(kEditPanelToggleTag))->click();
    EXPECT_FALSE(panel().isEditImageDisplayShown());
    EXPECT_EQ(log, toptest::Log{"cancelEditingImage"});
}

} // namespace

APPTEST_MAIN()
