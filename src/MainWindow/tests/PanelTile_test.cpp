// Panel tiles: sizes by kind, size type and outputs, the outline's large
// corner, the rim and face colours, the metrics' boxes and button frames
// (mirrored in right-to-left layout), the scanner-button badge rules and
// icons decoded straight to their fitted size and cached by path.
#include "PanelTile.h"

#include "ServicesDouble.h"
#include "JobModel.h"
#include "PluginRegistryQueries.h"

#include "AppMainCntlrFakes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>

namespace {

// The current data source as the tiles ask about it.

std::shared_ptr<JobModel> jobWith(int outputs) {
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    std::vector<std::shared_ptr<OutputModel>> list;
    for (int i = 0; i < outputs; ++i) list.push_back(std::make_shared<OutputModel>());
    job->setJobOutputModel_List(list);
    return job;
}

unsigned rgbAt(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

class PanelTileTest : public ::testing::Test {
protected:
    std::shared_ptr<browsertest::ServicesDouble> services = std::make_shared<browsertest::ServicesDouble>();
    void SetUp() override {
        AppControllerServices::setCurrent(services);
        PanelTile::clearIconCache();
    }
    void TearDown() override {
        AppControllerServices::setCurrent(nullptr);
        QGuiApplication::setLayoutDirection(Qt::LeftToRight);
        PanelTile::clearIconCache();
    }
};

TEST_F(PanelTileTest, SizesByKindSizeTypeAndOutputs) {
    struct Case {
        int kind; // 0 input, 1 output, 2 job
        int sizeType;
        int outputs;
        QSize size;
    };
    const Case cases[] = {
        {0, 0, 0, {110, 110}}, {1, 1, 0, {140, 140}}, {0, 2, 0, {190, 190}}, {2, 0, 1, {210, 110}},
        {2, 1, 2, {280, 232}}, {2, 2, 3, {354, 374}}, {2, 2, 1, {354, 190}}, {2, 0, 3, {210, 266}},
        {2, 1, 0, {}},         {2, 1, 4, {}},         {0, 3, 0, {}},         {1, -1, 0, {}},
    };
    for (const Case& c : cases) {
        std::shared_ptr<PanelModel> panel;
        if (c.kind == 0) panel = std::make_shared<InputModel>();
        if (c.kind == 1) panel = std::make_shared<OutputModel>();
        if (c.kind == 2) panel = jobWith(c.outputs);
        SCOPED_TRACE(testing::Message() << c.kind << "/" << c.sizeType << "/" << c.outputs);
        EXPECT_EQ(PanelTile::makePanelSize(*panel, c.sizeType), c.size);
        // No size, no picture: the panel keeps what it had.
        if (c.size.isEmpty()) {
            EXPECT_TRUE(PanelTile::contentsForPanel(*panel, c.sizeType).isNull());
            PanelTile::createPanelImage(*panel, c.sizeType);
            EXPECT_EQ(panel->dispImage(), nullptr);
        }
    }
    // A plain panel of no kind has no tile.
    EXPECT_TRUE(PanelTile::makePanelSize(PanelModel(), 1).isEmpty());
}

TEST_F(PanelTileTest, OutlineHasItsLargeCornerAtTheLowerTrailingCorner) {
    const QRectF rect(0, 0, 110, 110);
    const QPainterPath ltr = PanelTile::contentsPathWithFrame(rect, false);
    const QPainterPath rtl = PanelTile::contentsPathWithFrame(rect, true);
    // 3 in from a corner lies inside a radius-4 corner, outside a radius-19 one.
    const QPointF lowerRight(107, 107), lowerLeft(3, 107), upperRight(107, 3);
    EXPECT_FALSE(ltr.contains(lowerRight));
    EXPECT_TRUE(ltr.contains(lowerLeft));
    EXPECT_TRUE(rtl.contains(lowerRight));
    EXPECT_FALSE(rtl.contains(lowerLeft));
    EXPECT_TRUE(ltr.contains(upperRight));
    // The large corner's curve leaves the right edge with its control point
    // 0.553 x 19 below the corner's start.
    bool found = false;
    for (int i = 0; i < ltr.elementCount(); ++i) {
        const auto e = ltr.elementAt(i);
        if (e.type == QPainterPath::CurveToElement && qFuzzyCompare(e.x, 110.0) &&
            std::abs(e.y - (110 - 19 + 0.553 * 19)) < 1e-9)
            found = true;
    }
    EXPECT_TRUE(found);
}

TEST_F(PanelTileTest, RimAndFaceColoursSelectedAndNot) {
    InputModel input;
    const QImage plain = PanelTile::contentsForPanel(input, 0);
    ASSERT_EQ(plain.size(), QSize(110, 110));
    EXPECT_EQ(rgbAt(plain, 0, 55), PanelTile::kRimRGB);
    EXPECT_EQ(rgbAt(plain, 1, 55), PanelTile::kFaceRGB);
    EXPECT_EQ(rgbAt(plain, 3, 55), PanelTile::kFaceRGB);

    input.setIsSelected(true);
    const QImage selected = PanelTile::contentsForPanel(input, 0);
    EXPECT_EQ(rgbAt(selected, 0, 55), PanelTile::kSelectedRimRGB);
    EXPECT_EQ(rgbAt(selected, 1, 55), PanelTile::kSelectedRimRGB);
    EXPECT_EQ(rgbAt(selected, 3, 55), PanelTile::kSelectedFaceRGB);
    // Outside the large corner nothing is painted.
    EXPECT_EQ(qAlpha(selected.pixel(109, 109)), 0);

    PanelTile::createPanelImage(input, 2);
    EXPECT_EQ(input.panelSizeType(), 2);
    EXPECT_EQ(PanelTile::displayImage(input).size(), QSize(190, 190));
}

TEST_F(PanelTileTest, BoxesAndFramesFollowTheMetricsAndMirror) {
    const QSize large(354, 374);
    const auto boxes = PanelTile::jobBoxes(2, 3, large, false);
    EXPECT_EQ(boxes.input, QRect(52, 144, 68, 68));
    ASSERT_EQ(boxes.outputs.size(), 3u);
    EXPECT_EQ(boxes.outputs[0], QRect(234, 52, 68, 68));
    EXPECT_EQ(boxes.outputs[1], QRect(234, 144, 68, 68));
    EXPECT_EQ(boxes.outputs[2], QRect(234, 236, 68, 68));
    EXPECT_EQ(boxes.arrowTop, 169);
    const auto mirrored = PanelTile::jobBoxes(2, 3, large, true);
    EXPECT_EQ(mirrored.input, QRect(234, 144, 68, 68));
    EXPECT_EQ(mirrored.outputs[0], QRect(52, 52, 68, 68));

    const auto small = PanelTile::jobBoxes(0, 2, QSize(210, 188), false);
    EXPECT_EQ(small.input, QRect(18, 70, 68, 68));
    EXPECT_EQ(small.outputs[1], QRect(124, 109, 68, 68));

    EXPECT_EQ(PanelTile::iconBox(PanelTile::kInput, 2, QSize(190, 190)), QRect(61, 62, 68, 68));
    EXPECT_EQ(PanelTile::iconBox(PanelTile::kOutput, 2, QSize(190, 190)), QRect(61, 52, 68, 68));

    InputModel input;
    auto job = jobWith(1);
    EXPECT_EQ(PanelTile::titleFrame(*job, 1, false), QRect(64, 15, 152, 19));
    EXPECT_EQ(PanelTile::titleFrame(input, 2, false), QRect(16, 22, 158, 19));
    // Edit button: none on small tiles; lower trailing corner otherwise.
    EXPECT_TRUE(PanelTile::editButtonFrame(input, 0, false).isEmpty());
    EXPECT_EQ(PanelTile::editButtonFrame(input, 1, false), QRect(104, 104, 32, 32));
    EXPECT_EQ(PanelTile::editButtonFrame(input, 1, true), QRect(4, 104, 32, 32));
    // Toggles only on large job tiles.
    EXPECT_EQ(PanelTile::continueScanButtonFrame(*job, 2, false), QRect(9, 154, 36, 30));
    EXPECT_EQ(PanelTile::imageProcessButtonFrame(*job, 2, false), QRect(52, 154, 36, 30));
    EXPECT_EQ(PanelTile::imageProcessButtonFrame(*job, 2, true), QRect(266, 154, 36, 30));
    EXPECT_TRUE(PanelTile::continueScanButtonFrame(*job, 1, false).isEmpty());
    EXPECT_TRUE(PanelTile::continueScanButtonFrame(input, 2, false).isEmpty());
}

TEST_F(PanelTileTest, ScanBadgeRulesAndOrdinals) {
    EXPECT_EQ(PanelTile::ordinalText(1), "1");
    EXPECT_EQ(PanelTile::ordinalText(4), "3");
    EXPECT_EQ(PanelTile::ordinalText(256), "9");
    EXPECT_EQ(PanelTile::ordinalText(3), "");
    EXPECT_EQ(PanelTile::ordinalText(512), "");

    struct Case {
        bool multi, apds;
        int status, sizeType;
        bool shows;
    };
    const Case cases[] = {
        {false, false, 1, 1, true},  {false, false, 2, 2, false}, {true, false, 2, 2, true},
        {true, false, 3, 1, true},   {true, false, 4, 0, false},  {true, true, 4, 2, false},
        {true, false, -1, 2, false}, {false, true, 1, 1, false},
    };
    for (const Case& c : cases) {
        services->multi = c.multi;
        services->apds = c.apds;
        EXPECT_EQ(PanelTile::showsScanBadge(c.status, c.sizeType), c.shows)
            << c.multi << c.apds << " " << c.status << "/" << c.sizeType;
    }
    // The ordinal beside the badge: right of it, left of it in right-to-left.
    const QRect badge(6, 6, 22, 22);
    EXPECT_EQ(PanelTile::ordinalFrame(badge, false), QRect(28, 5, 20, 26));
    EXPECT_EQ(PanelTile::ordinalFrame(badge, true), QRect(-14, 5, 20, 26));
}

TEST_F(PanelTileTest, RightToLeftMirrorsTheTile) {
    auto job = jobWith(1);
    job->setIsSelected(true);
    const QImage ltr = PanelTile::contentsForPanel(*job, 2);
    QGuiApplication::setLayoutDirection(Qt::RightToLeft);
    const QImage rtl = PanelTile::contentsForPanel(*job, 2);
    // The large corner moves to the lower left.
    EXPECT_EQ(qAlpha(ltr.pixel(351, 187)), 0);
    EXPECT_NE(qAlpha(ltr.pixel(2, 187)), 0);
    EXPECT_EQ(qAlpha(rtl.pixel(2, 187)), 0);
    EXPECT_NE(qAlpha(rtl.pixel(351, 187)), 0);
}

TEST_F(PanelTileTest, IconFilesAreDecodedFittedAndCachedByPath) {
    QTemporaryDir dir;
    const QString big = dir.filePath("big.png");
    QImage wide(2000, 1000, QImage::Format_RGB32);
    wide.fill(Qt::red);
    ASSERT_TRUE(wide.save(big));
    EXPECT_EQ(PanelTile::fittedImageFromFile(big).size(), QSize(68, 34));
    const QString broken = dir.filePath("broken.png");
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
    }
    EXPECT_TRUE(PanelTile::fittedImageFromFile(broken).isNull());
    EXPECT_TRUE(PanelTile::fittedImageFromFile(dir.filePath("missing.png")).isNull());

    InputModel input;
    input.input_WholeModel()->setIconPath(big.toStdString());
    EXPECT_EQ(PanelTile::getInputIcon(input).size(), QSize(68, 34));
    EXPECT_EQ(PanelTile::iconCacheSize(), 1);
    // The cache answers by path even once the file is gone.
    QFile::remove(big);
    EXPECT_EQ(PanelTile::getInputIcon(input).size(), QSize(68, 34));
    PanelTile::clearIconCache();
    EXPECT_EQ(PanelTile::iconCacheSize(), 0);
}

} // namespace

APPTEST_MAIN()
