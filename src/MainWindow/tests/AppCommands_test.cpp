// The navigation overlay's balloons (targets, texts, mirroring, one click
// ends all, showing twice) and the commands: About, Preferences, help with
// and without a book, the licence folder, through a recording xdg-open.
#include "MainWindowTopFixture.h"

#include <TvPopoverWindow.h>
#include <TvUI.h>

#include <ui/MenuTags.h>

#include <QLabel>
#include <QTest>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace qlr_main;
using toptest::TopTest;

// The tip of a balloon's arrow as its frame view draws it, in the
// balloon's coordinates: the outline's point farthest out on its side.
QPointF drawnTip(const TvPopoverWindowContentView* balloon) {
    const QPainterPath path =
        TvPopoverWindowContentView::bodyPath(QSizeF(balloon->size()), balloon->rectEdge(), balloon->valueFromCorner());
    QPointF tip = path.elementAt(0);
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPointF p = path.elementAt(i);
        switch (balloon->rectEdge()) {
        case 0: if (p.x() < tip.x()) tip = p; break;
        case 4: if (p.x() > tip.x()) tip = p; break;
        case 2: if (p.y() < tip.y()) tip = p; break;
        default: if (p.y() > tip.y()) tip = p; break;
        }
    }
    return tip;
}

class CommandsTest : public TopTest {
protected:
    AppCommands& commands() { return top->commands(); }
    std::vector<TvPopoverWindowContentView*> shownBalloons() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        std::vector<TvPopoverWindowContentView*> list;
        for (auto* b : ui->contentView()->findChildren<TvPopoverWindowContentView*>()) {
            if (b->isVisible()) list.push_back(b);
        }
        return list;
    }

    void expectBalloons(bool rtl) {
        const auto balloons = commands().balloons();
        ASSERT_EQ(balloons.size(), 4u);
        EXPECT_EQ(shownBalloons().size(), 4u);
        QWidget* content = ui->contentView();
        for (size_t i = 0; i < 4; ++i) {
            const BalloonInfo& row = kBalloonInfos[i];
            SCOPED_TRACE("balloon " + std::to_string(i));
            TvPopoverWindowContentView* b = balloons[i];
            EXPECT_EQ(b->size(), QSize(row.width, row.height));
            const int edge = rtl && row.edge == 0 ? 4 : row.edge;
            EXPECT_EQ(b->rectEdge(), edge);
            EXPECT_EQ(b->valueFromCorner(), rtl ? row.width - row.offset - 20 : row.offset);
            // The arrow touches the middle of the target's facing side.
            const QRect target = frameIn(kdui::viewWithTag(content, row.targetTag), content);
            const QPointF tip = drawnTip(b) + QPointF(b->geometry().topLeft());
            const QPointF aim = edge == 0   ? QPointF(target.right() + 1, target.center().y())
                                : edge == 4 ? QPointF(target.left(), target.center().y())
                                            : QPointF(target.center().x(), target.bottom() + 1);
            EXPECT_NEAR(tip.x(), aim.x(), 1.5);
            EXPECT_NEAR(tip.y(), aim.y(), 1.5);

            auto* title = b->findChild<QLabel*>(QStringLiteral("NavigationTitle"));
            auto* message = b->findChild<QLabel*>(QStringLiteral("NavigationMessage"));
            ASSERT_NE(message, nullptr);
            EXPECT_EQ(message->font().pixelSize(), 14);
            EXPECT_FALSE(message->font().bold());
            EXPECT_EQ(message->palette().color(QPalette::WindowText), QColor(16, 16, 16));
            if (i == 3) {
                EXPECT_EQ(title, nullptr);
                EXPECT_EQ(message->text(), "Favourites.");
            } else {
                ASSERT_NE(title, nullptr);
                EXPECT_EQ(title->text(), QString("Step %1").arg(i + 1));
                EXPECT_EQ(title->font().pixelSize(), 18);
                EXPECT_TRUE(title->font().bold());
                EXPECT_EQ(title->height(), 22);
                EXPECT_GE(message->y(), title->y() + title->height());
            }
        }
        EXPECT_TRUE(ui->isShowDarkShieldView());
        // Above the shield.
        const QObjectList& children = content->children();
        const auto at = [&](QObject* o) { return std::find(children.begin(), children.end(), o) - children.begin(); };
        for (auto* b : balloons) EXPECT_GT(at(b), at(ui->darkShieldView()));
    }
};

TEST_F(CommandsTest, OverlayPointsFourBalloonsAtTheirTargets) {
    commands().showQlrNavigation();
    expectBalloons(false);
    EXPECT_EQ(log, toptest::Log{"removePanelToolTips"});
}

TEST_F(CommandsTest, OverlayIsMirroredInRightToLeftLayout) {
    setDirection(Qt::RightToLeft);
    commands().showQlrNavigation();
    expectBalloons(true);
}

TEST_F(CommandsTest, OneClickOnAnyBalloonRemovesAllAndTheShield) {
    for (int clicked = 0; clicked < 4; ++clicked) {
        SCOPED_TRACE("clicked " + std::to_string(clicked));
        log.clear();
        commands().showQlrNavigation();
        QTest::mouseClick(commands().balloons()[size_t(clicked)], Qt::LeftButton, {}, QPoint(60, 40));
        EXPECT_TRUE(commands().balloons().empty());
        EXPECT_TRUE(shownBalloons().empty());
        EXPECT_FALSE(ui->isShowDarkShieldView());
        EXPECT_EQ(log, (toptest::Log{"removePanelToolTips", "resetPanelToolTips"}));
    }
}

TEST_F(CommandsTest, ShowingTwiceLeavesFourBalloonsThatOneClickRemoves) {
    commands().showQlrNavigation();
    commands().showQlrNavigation();
    expectBalloons(false);
    EXPECT_EQ(ui->contentView()->findChildren<TvPopoverWindowContentView*>().size(), 4);
    QTest::mouseClick(commands().balloons()[0], Qt::LeftButton, {}, QPoint(60, 40));
    EXPECT_TRUE(shownBalloons().empty());
    EXPECT_FALSE(ui->isShowDarkShieldView());
}

TEST_F(CommandsTest, HidingWithoutOverlayLeavesTheShieldAlone) {
    ui->showDarkShield();
    commands().hideQlrNavigation();
    EXPECT_TRUE(ui->isShowDarkShieldView());
    EXPECT_TRUE(log.empty());
}

TEST_F(CommandsTest, AboutClearsTheAutoCloseFlagAndShowsTheWindowCentred) {
    cntlr->setIsAutoCloseApp(true);
    commands().showQlrAbout();
    EXPECT_FALSE(cntlr->isAutoCloseApp());
    QWidget* about = ui->aboutWindow();
    ASSERT_TRUE(about->isVisible());
    const QRect screen = about->screen()->availableGeometry();
    EXPECT_NEAR(about->frameGeometry().center().x(), screen.center().x(), 2);
    // Already shown: it stays where the user put it.
    about->move(5, 5);
    commands().showQlrAbout();
    EXPECT_EQ(about->pos(), QPoint(5, 5));
}

TEST_F(CommandsTest, PreferencesEndTitleEditingAndRunModal) {
    cntlr->setIsAutoCloseApp(true);
    commands().showQlrPrefs();
    EXPECT_FALSE(cntlr->isAutoCloseApp());
    EXPECT_EQ(log, (toptest::Log{"endEditingPanelTitle", "runModalPrefs"}));
}

TEST_F(CommandsTest, MenuItemsRunTheCommands) {
    kdui::mainMenuItemWithTag(window.get(), kPrefsMenuTag)->trigger();
    EXPECT_EQ(log, (toptest::Log{"endEditingPanelTitle", "runModalPrefs"}));
}

// ---- Help and licences through a recording xdg-open --------------------------------------------

class OpenTest : public CommandsTest {
protected:
    std::filesystem::path record;
    std::unique_ptr<kdtest::ScopedEnv> path;

    void SetUp() override {
        CommandsTest::SetUp();
        const std::filesystem::path bin = std::filesystem::path(std::getenv("HOME")) / "bin";
        record = std::filesystem::path(std::getenv("HOME")) / "xdg-open.log";
        std::filesystem::remove(record);
        kdtest::TempHome::writeText(bin / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record.string() + "'\n");
        std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
        path = std::make_unique<kdtest::ScopedEnv>();
        path->set("PATH", bin.string() + ":" + std::getenv("PATH"));
    }
    void TearDown() override {
        path.reset();
        CommandsTest::TearDown();
    }

    // What xdg-open was given, waiting a little for the detached process.
    std::string opened(std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            std::ifstream in(record);
            std::stringstream text;
            text << in.rdbuf();
            if (!text.str().empty()) return text.str();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return {};
    }
    void useInfo(const std::string& body) {
        toptest::writeBundle(bundleDir, body);
        kdf::Bundle::setMainBundlePath(bundleDir.string());
    }
};

TEST_F(OpenTest, HelpOpensTheBookEntryPage) {
    useInfo("<key>CFBundleHelpBookName</key><string>Help</string>");
    kdtest::TempHome::writeText(bundleDir / "Resources/en.lproj/Help/index.html", "<html></html>");
    cntlr->setIsAutoCloseApp(true);
    commands().showQlrHelp();
    EXPECT_FALSE(cntlr->isAutoCloseApp());
    EXPECT_EQ(opened(), "file://" + (bundleDir / "Resources/en.lproj/Help/index.html").string() + "\n");
}

TEST_F(OpenTest, HelpWithoutABookOpensNothing) {
    kdtest::TempHome::writeText(bundleDir / "Resources/en.lproj/Help/index.html", "<html></html>");
    for (const char* info : {"", "<key>CFBundleHelpBookName</key><integer>2</integer>",
                             "<key>CFBundleHelpBookName</key><string>NoSuchBook</string>",
                             "<key>CFBundleHelpBookName</key><string>../en.lproj/Help</string>"}) {
        useInfo(info);
        kdtest::TempHome::writeText(bundleDir / "Resources/en.lproj/Help/index.html", "<html></html>");
        commands().showQlrHelp();
    }
    EXPECT_EQ(opened(std::chrono::milliseconds(300)), "");
}

TEST_F(OpenTest, LicenceButtonOpensTheLicenceFolder) {
    std::filesystem::create_directories(bundleDir / "Resources/LicenseFiles");
    qobject_cast<QAbstractButton*>(ui->aboutItem(kAboutLicenceTag))->click();
    EXPECT_EQ(opened(), "file://" + (bundleDir / "Resources/LicenseFiles").string() + "\n");
}

} // namespace

APPTEST_MAIN()
