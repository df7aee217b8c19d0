// The scan information bar and the main top's scan button placed for any
// text width in both directions, and the data source's windows recorded,
// made modal and released by notification.
#include "AppMainCntlr.h"
#include "AppMainCntlrRelayout.h"
#include "KitTestSupport.h"

#include <foundation/RunLoop.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

namespace {

using qlr_relayout::InfoBarButtons;
using qlr_relayout::KdWindows;

TEST(ScanInfoBar, ButtonsInOrderInsideTheBarNeverOverlappingForAnyWidth) {
    constexpr int kBar = 1000;
    for (const bool ltr : {true, false}) {
        for (int settingWidth : {0, 120, 300}) {
            for (int again = 155; again <= 255; again += 50) {
                for (int cancel = 95; cancel <= 195; cancel += 50) {
                    for (int finish = 181; finish <= 281; finish += 50) {
                        SCOPED_TRACE(std::to_string(ltr) + " " + std::to_string(settingWidth) + " " +
                                     std::to_string(again) + " " + std::to_string(cancel) + " " + std::to_string(finish));
                        QRect setting(ltr ? 150 : kBar - 150 - settingWidth, 6, settingWidth, 24);
                        const InfoBarButtons b = qlr_relayout::layoutScanInfoBar(
                            kBar, setting, QRect(0, 6, again, 24), QRect(0, 6, cancel, 24), QRect(0, 6, finish, 24), ltr);
                        const std::vector<QRect> order =
                            ltr ? std::vector<QRect>{setting, b.again, b.cancel, b.finish}
                                : std::vector<QRect>{b.finish, b.cancel, b.again, setting};
                        for (std::size_t i = 1; i < order.size(); ++i)
                            EXPECT_LE(order[i - 1].x() + order[i - 1].width(), order[i].x()) << i;
                        for (const QRect& r : {b.again, b.cancel, b.finish}) {
                            EXPECT_GE(r.x(), 0);
                            EXPECT_LE(r.x() + r.width(), kBar);
                        }
                        // The finish button is 181 wide where the row fits, else
                        // narrowed to end at the bar's edge.
                        const bool fits = 150 + settingWidth + again + 3 + cancel + 22 + 181 <= kBar;
                        if (fits) {
                            EXPECT_EQ(b.finish.width(), qlr_relayout::kFinishWidth);
                        } else {
                            EXPECT_GT(b.finish.width(), 0);
                            EXPECT_LE(b.finish.width(), qlr_relayout::kFinishWidth);
                        }
                        EXPECT_EQ(b.again.y(), 6);
                    }
                }
            }
        }
    }
}

TEST(ScanInfoBar, RoomyBarKeepsTheStatedDistances) {
    const InfoBarButtons b = qlr_relayout::layoutScanInfoBar(1000, QRect(100, 0, 50, 20), QRect(0, 0, 155, 20),
                                                             QRect(0, 0, 95, 20), QRect(0, 0, 181, 20), true);
    EXPECT_EQ(b.finish.x(), 1000 - 10 - 181);
    EXPECT_EQ(b.cancel.x() + 95 + 22, b.finish.x());
    EXPECT_EQ(b.again.x() + 155 + 3, b.cancel.x());
    const InfoBarButtons m = qlr_relayout::layoutScanInfoBar(1000, QRect(850, 0, 50, 20), QRect(0, 0, 155, 20),
                                                             QRect(0, 0, 95, 20), QRect(0, 0, 181, 20), false);
    EXPECT_EQ(m.finish.x(), 10);
    EXPECT_EQ(m.cancel.x(), 10 + 181 + 22);
}

TEST(ScanButton, CentredMovedOffItsNeighbourAndNeverWiderThanTheArea) {
    struct Case {
        int area, width;
        QRect neighbour;
        bool ltr;
        int x, w;
    };
    const Case cases[] = {
        {600, 218, QRect(), true, 191, 218},              // centred
        {600, 544, QRect(), true, 28, 544},               // exactly the area less 56: stays centred
        {600, 560, QRect(), false, 28, 544},              // wider: the area less 56
        {600, 218, QRect(380, 0, 150, 30), true, 162, 218}, // 29 of overlap: moved left
        {600, 218, QRect(100, 0, 150, 30), false, 250, 218}, // overlap 59 in right-to-left: moved right
        {600, 300, QRect(100, 0, 190, 30), false, 290, 282}, // past the far inset: starts after it
    };
    for (const Case& c : cases) {
        const QRect r = qlr_relayout::layoutScanButton(c.area, QRect(0, 5, c.width, 30), c.neighbour, c.ltr);
        EXPECT_EQ(r.x(), c.x) << c.width << " " << c.ltr;
        EXPECT_EQ(r.width(), c.w) << c.width << " " << c.ltr;
    }
}

// ---- The data source's windows.

struct Recorder {
    bool openScnPanel = true;
    std::vector<std::string> calls;
    std::vector<std::function<void()>> later;
    QWidget parent;
};

class KdWindowsTest : public ::testing::Test {
protected:
    AppMainCntlr cntlr;
    Recorder rec;
    std::unique_ptr<KdWindows> windows;
    QWidget first, second, third;

    void SetUp() override {
        KdWindows::Ops ops;
        ops.isOpenScnPanel = [this] { return rec.openScnPanel; };
        ops.parentWindow = [this] { return &rec.parent; };
        ops.beginModal = [this](QWidget* w, QWidget* p) { rec.calls.push_back("begin " + name(w) + " over " + name(p)); };
        ops.endModal = [this](QWidget* w) { rec.calls.push_back("end " + name(w)); };
        ops.shieldParent = [this](QWidget* p) { rec.calls.push_back("shield " + name(p)); };
        ops.performLater = [this](std::function<void()> f) { rec.later.push_back(std::move(f)); };
        windows = std::make_unique<KdWindows>(cntlr, ops);
    }
    std::string name(QWidget* w) const {
        if (w == &first) return "first";
        if (w == &second) return "second";
        if (w == &third) return "third";
        if (w == &rec.parent) return "parent";
        return "?";
    }
    void post(void (KdWindows::*handler)(const kdf::Notification&), QWidget* window) {
        const kdf::Value object(kdf::Pointer{window});
        (windows.get()->*handler)(kdf::Notification("test", nullptr, &object, nullptr));
    }
};

TEST_F(KdWindowsTest, ShowAndHideAsATable) {
    post(&KdWindows::showKdWindow, &first);
    post(&KdWindows::showKdWindow, &first); // again: not recorded twice
    post(&KdWindows::showKdWindow, &second);
    post(&KdWindows::showKdWindow, &third); // two recorded: ignored
    EXPECT_EQ(cntlr.kdMainWin(), &first);
    EXPECT_EQ(cntlr.kdSubWin(), &second);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"begin first over parent", "begin second over parent"}));
    EXPECT_EQ(rec.later.size(), 2u);
    EXPECT_TRUE(cntlr.isOpenKdWin());

    post(&KdWindows::hideKdWindow, &third); // not recorded: ignored
    post(&KdWindows::hideKdWindow, &first);
    EXPECT_EQ(cntlr.kdMainWin(), nullptr);
    EXPECT_EQ(cntlr.kdSubWin(), &second);
    post(&KdWindows::hideKdWindow, &second);
    EXPECT_FALSE(cntlr.isOpenKdWin());
    EXPECT_EQ(rec.calls.back(), "end second");
}

TEST_F(KdWindowsTest, AWindowOfAScanOpenSourceIsRecordedButNotModal) {
    rec.openScnPanel = false;
    post(&KdWindows::showKdWindow, &first);
    EXPECT_EQ(cntlr.kdMainWin(), &first);
    post(&KdWindows::hideKdWindow, &first);
    EXPECT_EQ(cntlr.kdMainWin(), nullptr);
    EXPECT_TRUE(rec.calls.empty());
}

TEST_F(KdWindowsTest, AWindowDestroyedWithoutHideReadsAsNone) {
    auto gone = std::make_unique<QWidget>();
    post(&KdWindows::showKdWindow, gone.get());
    ASSERT_EQ(cntlr.kdMainWin(), gone.get());
    gone.reset();
    EXPECT_EQ(cntlr.kdMainWin(), nullptr);
    EXPECT_FALSE(cntlr.isOpenKdWin());
    for (auto& f : rec.later) f(); // the pending order-front finds nothing
    post(&KdWindows::showKdWindow, &second);
    EXPECT_EQ(cntlr.kdMainWin(), &second);
}

TEST_F(KdWindowsTest, ObjectsThatAreNoLiveTopLevelWindowAreIgnored) {
    QWidget child(&first);
    post(&KdWindows::showKdWindow, &child);
    int notAWidget = 0;
    const kdf::Value stray(kdf::Pointer{&notAWidget});
    windows->showKdWindow(kdf::Notification("test", nullptr, &stray, nullptr));
    const kdf::Value text("window");
    windows->showKdWindow(kdf::Notification("test", nullptr, &text, nullptr));
    windows->showKdWindow(kdf::Notification("test", nullptr, nullptr, nullptr));
    EXPECT_FALSE(cntlr.isOpenKdWin());
    EXPECT_TRUE(rec.calls.empty());
}

TEST_F(KdWindowsTest, MiniaturisingShieldsTheParentEvenForAnUnrelatedWindow) {
    post(&KdWindows::showKdWindow, &first);
    rec.calls.clear();
    post(&KdWindows::willMiniKdWindow, &third);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"shield parent"}));
    rec.calls.clear();
    post(&KdWindows::willMiniKdWindow, &first);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"end first", "shield parent"}));
    rec.calls.clear();
    post(&KdWindows::didDeminiKdWindow, &third);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"begin first over parent"}));
    // Not opened for its settings window: nothing.
    rec.openScnPanel = false;
    rec.calls.clear();
    post(&KdWindows::willMiniKdWindow, &first);
    post(&KdWindows::didDeminiKdWindow, &first);
    EXPECT_TRUE(rec.calls.empty());
}

} // namespace

int main(int argc, char** argv) { return kittest::runKitTests(argc, argv); }
