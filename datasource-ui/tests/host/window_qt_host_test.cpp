// A Qt host (our application): the window runs on the host's own loop, the
// enable call returns at once and no second application object appears.
#include "WindowHost.h"

#include <ui/QtRunLoop.h>

#include <QAbstractButton>
#include <QTest>

namespace {

using namespace windowhost;

TEST_F(WindowHostTest, EnableReturnsAtOnceAndTheWindowRunsOnTheHostsLoop) {
    kdscan::Watchdog dog(120);
    QCoreApplication* const app = QCoreApplication::instance();
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_TRUE(gMessages.empty());
    EXPECT_EQ(QCoreApplication::instance(), app);
    QWidget* scan = Control(610);
    ASSERT_NE(scan, nullptr);
    QTest::mouseClick(scan, Qt::LeftButton);
    EXPECT_EQ(gMessages, (std::vector<TW_UINT16>{MSG_XFERREADY}));
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(host.Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    EXPECT_EQ(Control(610), nullptr);
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    kdui::installQtRunLoopDriver();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
