// The top display's types: the button table from every type, animated and
// not, in both layout directions and at two window widths; the strips and
// stretching parts after a resize; the rate limit of animations; nothing
// outside the main screen. And the About window from the Info.plist.
#include "MainWindowTopFixture.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>

namespace {

using namespace qlr_main;
using toptest::TopTest;

class TopDisplayTest : public TopTest {
protected:
    QWidget* topView() { return outlet(kTopContentView); }
    QWidget* stepHeader() { return outlet("Top_StepHeaderView"); }
    QWidget* stepBase() { return outlet("Top_StepScan_BaseView"); }
    QWidget* favHeader() { return outlet("Top_FavoritHeaderView"); }
    QWidget* favBase() { return outlet("Top_FavoritScan_BaseView"); }

    void setType(int type) {
        cntlr->appModel()->setMainTopDispType(type);
        top->display().updateMainTopDisplay(nullptr, false);
    }

    // The frames the display types promise, read off the views in the top
    // content view's coordinates, written left to right.
    void expectType(int type, bool rtl) {
        SCOPED_TRACE("type " + std::to_string(type) + (rtl ? " rtl" : " ltr"));
        QWidget* t = topView();
        const int w = t->width();
        const auto ltr = [&](QWidget* v) {
            QRect r = frameIn(v, t);
            if (rtl) r.moveLeft(w - r.x() - r.width());
            return r;
        };
        const QRect sh = ltr(stepHeader()), sb = ltr(stepBase()), fh = ltr(favHeader()), fb = ltr(favBase());
        switch (type) {
        case 0:
            EXPECT_EQ(sh.x(), 0);
            EXPECT_EQ(sh.width(), w - 44);
            EXPECT_EQ(sb.x(), 0);
            EXPECT_EQ(sb.width(), w);
            EXPECT_EQ(fh.x(), w - 44);
            EXPECT_TRUE(stepBase()->isVisible());
            EXPECT_FALSE(favBase()->isVisible());
            EXPECT_TRUE(favHeader()->isVisible());
            break;
        case 2:
            EXPECT_EQ(fh.x(), 44);
            EXPECT_EQ(fh.width(), w - 44);
            EXPECT_EQ(fb.x(), 0);
            EXPECT_EQ(fb.width(), w);
            EXPECT_EQ(sh.x() + sh.width(), 44);
            EXPECT_LE(sb.x() + sb.width(), 0);
            EXPECT_FALSE(stepBase()->isVisible());
            EXPECT_TRUE(favBase()->isVisible());
            break;
        default:
            EXPECT_EQ(sh.x(), 0);
            EXPECT_EQ(sh.width(), w - kFavoriteAreaWidth);
            EXPECT_EQ(sb.width(), w - kFavoriteAreaWidth);
            EXPECT_EQ(fh.x(), w - kFavoriteAreaWidth);
            EXPECT_EQ(fh.width(), kFavoriteAreaWidth);
            EXPECT_EQ(fb.x(), w - kFavoriteAreaWidth);
            EXPECT_TRUE(stepBase()->isVisible());
            EXPECT_TRUE(favBase()->isVisible());
            break;
        }
        // Headers on top, base views below them, down to the bottom.
        EXPECT_EQ(sh.y(), 0);
        EXPECT_EQ(fh.y(), 0);
        if (type != 2) {
            EXPECT_EQ(sb.y() + sb.height(), t->height());
        }
        if (type != 0) {
            EXPECT_EQ(fb.y() + fb.height(), t->height());
        }
        EXPECT_EQ(item(kToStepScanButtonTag)->isEnabled(), type != 0);
        EXPECT_EQ(item(kToFavoriteScanButtonTag)->isEnabled(), type != 2);
        EXPECT_EQ(cntlr->appModel()->mainTopDispType(), type);
        EXPECT_EQ(top->display().displayTypeOfViews(), type);
    }
};

struct TableCase {
    int from;
    int button;
    int to;
    bool animate;
    bool rtl;
};

void PrintTo(const TableCase& c, std::ostream* os) {
    *os << "from" << c.from << "_button" << c.button << (c.animate ? "_anim" : "") << (c.rtl ? "_rtl" : "");
}

class TypeTable : public TopDisplayTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(TypeTable, ButtonsLeadToTheirTypesWithTheirFrames) {
    const TableCase& c = GetParam();
    if (c.rtl) setDirection(Qt::RightToLeft);
    setType(c.from);
    expectType(c.from, c.rtl);
    log.clear();

    top->display().updateMainTopDisplay(item(c.button), c.animate);
    expectType(c.to, c.rtl);
    EXPECT_EQ(log, toptest::Log{"endEditingPanelTitle"});

    // The resize rule keeps the type's strips and stretches its parts.
    window->resize(1240, 700);
    QCoreApplication::processEvents();
    expectType(c.to, c.rtl);
}

std::vector<TableCase> tableCases() {
    const int table[][3] = {{1, 1001, 0}, {1, 1002, 2}, {0, 1001, 0}, {0, 1002, 1}, {2, 1001, 1}, {2, 1002, 2}};
    std::vector<TableCase> cases;
    for (const auto& row : table) {
        for (bool animate : {false, true}) {
            for (bool rtl : {false, true}) cases.push_back({row[0], row[1], row[2], animate, rtl});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllTypes, TypeTable, ::testing::ValuesIn(tableCases()));

TEST_F(TopDisplayTest, TwiceFromStepScanPassesThroughBothAndThenStays) {
    setType(0);
    QWidget* toFav = item(kToFavoriteScanButtonTag);
    top->display().updateMainTopDisplay(toFav, false);
    expectType(1, false);
    top->display().updateMainTopDisplay(toFav, false);
    expectType(2, false);
    top->display().updateMainTopDisplay(toFav, false);
    expectType(2, false);
}

TEST_F(TopDisplayTest, SecondAnimatedSwitchWithinTheIntervalIsIgnored) {
    setType(0);
    QWidget* toFav = item(kToFavoriteScanButtonTag);
    top->display().updateMainTopDisplay(toFav, true);
    expectType(1, false);
    clock.advance(kdf::Seconds(0.5));
    top->display().updateMainTopDisplay(toFav, true);
    expectType(1, false);
    clock.advance(kdf::Seconds(0.3));
    top->display().updateMainTopDisplay(toFav, true);
    expectType(2, false);
}

TEST_F(TopDisplayTest, NothingButTheTitleEditorOutsideTheMainScreen) {
    setType(1);
    cntlr->storeAppState(kAppStateScanFinished);
    log.clear();
    top->display().updateMainTopDisplay(item(kToFavoriteScanButtonTag), false);
    EXPECT_EQ(log, toptest::Log{"endEditingPanelTitle"});
    cntlr->storeAppState(kAppStateMainTop);
    expectType(1, false);
}

TEST_F(TopDisplayTest, WithoutSenderTheStoredTypeIsLaidOutAndAStrayValueShowsBoth) {
    cntlr->appModel()->setMainTopDispType(2);
    top->display().updateMainTopDisplay(nullptr, true);
    expectType(2, false);
    cntlr->appModel()->setMainTopDispType(7);
    top->display().updateMainTopDisplay(nullptr, false);
    expectType(1, false);
}

TEST_F(TopDisplayTest, ButtonClicksSwitchTheDisplay) {
    setType(1);
    qobject_cast<QAbstractButton*>(item(kToStepScanButtonTag))->click();
    expectType(0, false);
}

// ---- About window ---------------------------------------------------------------------------

struct AboutCase {
    const char* name;
    std::string info;
    const char* title;
    const char* version;
    const char* rights;
    bool iconLoads;
};

void PrintTo(const AboutCase& c, std::ostream* os) { *os << c.name; }

class AboutWindow : public TopTest, public ::testing::WithParamInterface<AboutCase> {
protected:
    std::string infoBody() const override { return GetParam().info; }
};

TEST_P(AboutWindow, FilledFromTheInfoPlist) {
    const AboutCase& c = GetParam();
    QPixmap png(16, 16);
    png.fill(Qt::red);
    ASSERT_TRUE(png.save(QString::fromStdString((bundleDir / "Resources/app.png").string())));
    kdtest::TempHome::writeText(bundleDir / "Resources/bad.png", "not a picture");
    auto* icon = qobject_cast<QLabel*>(ui->aboutItem(kAboutIconTag));
    ASSERT_NE(icon, nullptr);
    icon->clear();
    top->display().initAboutWindow();

    const auto text = [&](int tag) { return qobject_cast<QLabel*>(ui->aboutItem(tag))->text().toStdString(); };
    EXPECT_EQ(text(kAboutNameTag), c.title);
    EXPECT_TRUE(qobject_cast<QLabel*>(ui->aboutItem(kAboutNameTag))->font().bold());
    EXPECT_EQ(text(kAboutVersionTag), c.version);
    EXPECT_EQ(text(kAboutRightsTag), c.rights);
    EXPECT_EQ(qobject_cast<QAbstractButton*>(ui->aboutItem(kAboutLicenceTag))->text(), "Licences");
    for (int tag : {kAboutNameTag, kAboutVersionTag, kAboutRightsTag})
        EXPECT_TRUE(qobject_cast<QLabel*>(ui->aboutItem(tag))->alignment() & Qt::AlignHCenter);
    // The test has no application icon: an icon that does not load leaves
    // the view as it is.
    EXPECT_EQ(!icon->pixmap().isNull(), c.iconLoads);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AboutWindow,
    ::testing::Values(
        AboutCase{"AllGiven",
                  "<key>CFBundleName</key><string>Quillora</string>"
                  "<key>CFBundleShortVersionString</key><string>2.5</string>"
                  "<key>NSHumanReadableCopyright</key><string>(c) Tavrolek</string>"
                  "<key>CFBundleIconFile</key><string>app.png</string>",
                  "Quillora", "Version 2.5", "(c) Tavrolek", true},
        AboutCase{"Missing", "", "", "Version ", "", false},
        AboutCase{"NotStrings",
                  "<key>CFBundleName</key><integer>3</integer>"
                  "<key>CFBundleShortVersionString</key><array/>"
                  "<key>NSHumanReadableCopyright</key><true/>"
                  "<key>CFBundleIconFile</key><integer>1</integer>",
                  "", "Version ", "", false},
        AboutCase{"IconNotAnImage",
                  "<key>CFBundleName</key><string>Q</string><key>CFBundleIconFile</key><string>bad.png</string>",
                  "Q", "Version ", "", false}));

} // namespace

APPTEST_MAIN()
