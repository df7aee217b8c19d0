#include "InputModel.h"
#include "ModelTestSupport.h"
#include "TempHome.h"

#include <foundation/Bundle.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using kdf::Dictionary;
using kdf::Value;

namespace {

constexpr const char* kKD720 = "Tavro KD-720 TWAIN";
constexpr const char* kKD710 = "Tavro KD-710 TWAIN";

Dictionary saved(const InputModel& m) {
    Dictionary d;
    m.saveInputModel(&d);
    return d;
}

TEST(InputModel, SupportCorrectionsOnLoad) {
    struct Row {
        const char* name;
        bool photoMode, oneSided, apds;
        int color, paper, resolution, side, skew;          // stored
        int wantColor, wantPaper, wantRes, wantSide, wantSkew; // loaded
    };
    const Row rows[] = {
        {"all supported", true, false, false, 4, 4, 0, 2, 2, 4, 4, 0, 2, 2},
        {"no photo mode, gray photo", false, false, false, 4, 1, 1, 0, 1, 3, 1, 1, 0, 1},
        {"no photo mode, colour photo", false, false, false, 2, 1, 1, 0, 1, 1, 1, 1, 0, 1},
        {"one-sided", true, true, false, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1},
        {"AirPrint-class, paper 4", true, false, true, 0, 4, 0, 3, 2, 1, 0, 1, 3, 0},
        {"AirPrint-class, paper 3 and 5 too", true, false, true, 1, 3, 2, 0, 1, 1, 0, 2, 0, 0},
        {"AirPrint-class keeps A4", true, false, true, 1, 1, 2, 0, 1, 1, 1, 2, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        modeltest::ScopedController controller;
        controller->photoMode = r.photoMode;
        controller->currentOneSided = r.oneSided;
        controller->isAPDS = r.apds;
        const Dictionary d{{InputModel::kColorTypeKey, Value(r.color)},
                           {InputModel::kPaperSizeTypeKey, Value(r.paper)},
                           {InputModel::kResolutionTypeKey, Value(r.resolution)},
                           {InputModel::kReaderSideTypeKey, Value(r.side)},
                           {InputModel::kSkewTypeKey, Value(r.skew)}};
        InputModel m(&d);
        EXPECT_EQ(m.scnStColorType(), r.wantColor);
        EXPECT_EQ(m.scnStPaperSizeType(), r.wantPaper);
        EXPECT_EQ(m.scnStResolutionType(), r.wantRes);
        EXPECT_EQ(m.scnStReaderSideType(), r.wantSide);
        EXPECT_EQ(m.scnStSkewType(), r.wantSkew);
    }
}

TEST(InputModel, NoDataSourceChosenCountsAsAirPrintClass) {
    AppControllerServices::setCurrent(nullptr);
    InputModel m;
    EXPECT_EQ(m.scnStSkewType(), 0);
    EXPECT_EQ(m.scnStColorType(), 1);
    EXPECT_EQ(m.scannerSettingDict().count("DummyKey"), 1u);
}

TEST(InputModel, DriverEntriesOfEveryProductSurviveLoadAndSave) {
    modeltest::ScopedController controller;
    controller->productName = kKD720;
    InputModel first;
    first.setIsUseDriverSetting(true);
    first.setIcap_XRESOLUTION(300.0f);
    controller->productName = kKD710;
    first.setIcap_XRESOLUTION(400.0f);
    const Dictionary stored = saved(first);

    for (const char* current : {kKD720, kKD710, "Tavro KD-930 TWAIN"}) {
        SCOPED_TRACE(current);
        controller->productName = current;
        InputModel loaded(&stored);
        const Dictionary again = saved(loaded);
        const Dictionary* drivers = kdf::find(again, InputModel::kDriverSettingDictKey)->dictionary();
        ASSERT_NE(drivers, nullptr);
        const Dictionary* kd720 = kdf::find(*drivers, kKD720)->dictionary();
        const Dictionary* kd710 = kdf::find(*drivers, kKD710)->dictionary();
        ASSERT_TRUE(kd720 && kd710);
        EXPECT_EQ(kdf::find(*kd720, "Input_ICAP_XRESOLUTIONKey")->toReal(), 300.0);
        EXPECT_EQ(kdf::find(*kd710, "Input_ICAP_XRESOLUTIONKey")->toReal(), 400.0);
        EXPECT_TRUE(loaded.isUseDriverSetting());
    }
}

TEST(InputModel, ForwardedReadCreatesTheNewProductsEntry) {
    modeltest::ScopedController controller;
    controller->productName = kKD720;
    InputModel m;
    EXPECT_EQ(m.scannerSettingDict().count(kKD710), 0u);
    controller->productName = kKD710;
    controller->currentOneSided = true;
    controller->oneSided = {kKD710};
    EXPECT_EQ(m.cap_DUPLEXENABLED(), 0);
    const auto drivers = m.scannerSettingDict();
    ASSERT_EQ(drivers.count(kKD710), 1u);
    const auto& entry = drivers.at(kKD710);
    EXPECT_EQ(entry->ccap_TVK_BLANKSKIP(), 0);
    EXPECT_EQ(entry->ccap_TVK_MANUALFEED(), 3);
    EXPECT_EQ(entry->ccap_TVKM_MANUALFEED_AUTOBATCH(), 1);
    // The other product's entry stays as it was.
    EXPECT_EQ(drivers.at(kKD720)->cap_DUPLEXENABLED(), 1);
}

TEST(InputModel, BadStoredValuesAreSkipped) {
    modeltest::ScopedController controller;
    controller->productName = kKD720;
    const Dictionary d{{InputModel::kColorTypeKey, Value("3")},
                       {InputModel::kPaperSizeTypeKey, Value(std::int64_t(1) << 40)},
                       {InputModel::kResolutionTypeKey, Value(3)},
                       {InputModel::kIsUseDriverSettingKey, Value(kdf::Array{})},
                       {InputModel::kDriverSettingDictKey,
                        Value(Dictionary{{kKD710, Value("not a dictionary")},
                                         {kKD720, Value(Dictionary{{"Input_ICAP_XRESOLUTIONKey", Value(600)}})}})}};
    InputModel m(&d);
    EXPECT_EQ(m.scnStColorType(), 1);
    EXPECT_EQ(m.scnStPaperSizeType(), 0);
    EXPECT_EQ(m.scnStResolutionType(), 3);
    EXPECT_FALSE(m.isUseDriverSetting());
    EXPECT_EQ(m.scannerSettingDict().count(kKD710), 0u);
    EXPECT_EQ(m.icap_XRESOLUTION(), 600.0f);

    const Dictionary notDict{{InputModel::kDriverSettingDictKey, Value(kdf::Array{Value(1)})}};
    InputModel m2(&notDict);
    EXPECT_EQ(m2.scannerSettingDict().size(), 1u);
}

TEST(InputModel, ModelListsFromAndToDictionaries) {
    modeltest::ScopedController controller;
    const Value notAList(Dictionary{{InputModel::kColorTypeKey, Value(3)}});
    EXPECT_TRUE(InputModel::modelListFromDictList(&notAList).empty());
    EXPECT_TRUE(InputModel::modelListFromDictList(nullptr).empty());
    const Value list(kdf::Array{Value(Dictionary{{InputModel::kColorTypeKey, Value(3)}}), Value(5),
                                Value(Dictionary{{WholeModel::kTitleKey, Value("Mine")}})});
    auto models = InputModel::modelListFromDictList(&list);
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0]->scnStColorType(), 3);
    EXPECT_EQ(models[1]->dispTitle(), "Mine");
    const kdf::Array back = InputModel::dictListFromModelList(models);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(kdf::find(*back[1].dictionary(), WholeModel::kTitleKey)->string()[0], "Mine");
}

TEST(InputModel, CopyIsIndependent) {
    modeltest::ScopedController controller;
    controller->productName = kKD720;
    InputModel m;
    m.setIsSelected(true);
    m.setDispTitle("Scan A");
    m.input_WholeModel()->setPanelUseCount(9);
    m.setScnStColorType(5);
    m.setIsUseDriverSetting(true);
    m.setCcap_TVK_DESKEW(0);
    auto c = m.copy();
    EXPECT_FALSE(c->isSelected());
    EXPECT_EQ(c->dispTitle(), "Scan A");
    EXPECT_EQ(c->input_WholeModel()->panelUseCount(), 0);
    EXPECT_EQ(c->scnStColorType(), 5);
    EXPECT_TRUE(c->isUseDriverSetting());
    EXPECT_EQ(c->ccap_TVK_DESKEW(), 0);
    c->setCcap_TVK_DESKEW(1);
    c->setDispTitle("Scan B");
    EXPECT_EQ(m.ccap_TVK_DESKEW(), 0);
    EXPECT_EQ(m.dispTitle(), "Scan A");
    EXPECT_NE(c->scannerSettingDict().at(kKD720), m.scannerSettingDict().at(kKD720));
}

TEST(InputModel, DerivedSettingsInDriverMode) {
    modeltest::ScopedController controller;
    controller->productName = kKD720;
    InputModel m;
    m.setScnStColorType(3);
    EXPECT_EQ(m.currentColorMode(), 3);
    m.setIsUseDriverSetting(true);
    struct ColorRow {
        int detect, pixel, photo, enhance;
        const char* halftone;
        int want;
    };
    const ColorRow colors[] = {
        {1, 2, 0, 0, "None", 0},            {0, 2, 0, 0, "None", 1}, {0, 2, 1, 0, "None", 2},
        {0, 1, 0, 0, "None", 3},            {0, 1, 1, 0, "None", 4}, {0, 0, 0, 0, "None", 5},
        {0, 0, 0, 0, "Error Diffusion", 6}, {0, 0, 0, 1, "None", 7}, {0, 9, 0, 0, "None", 3},
    };
    for (const ColorRow& r : colors) {
        m.setCcap_TVK_DETECTPAGETYPE(r.detect);
        m.setIcap_PIXELTYPE(std::uint16_t(r.pixel));
        m.setCcap_TVK_PHOTOMODE(std::uint16_t(r.photo));
        m.setCcap_TVK_TEXTENHANCE(r.enhance);
        m.setIcap_HALFTONES(std::make_shared<const kdf::Bytes>(r.halftone, r.halftone + std::strlen(r.halftone)));
        EXPECT_EQ(m.currentColorMode(), r.want) << r.pixel << " " << r.halftone;
    }

    m.setCcap_TVK_DETECTPAGESIZE(0);
    const int paperOfCode[][2] = {{-2, 12}, {-1, 11}, {0, 1}, {2, 8}, {5, 4}, {9, 7}, {10, 0}, {-3, 0}};
    for (const auto& [code, want] : paperOfCode) {
        m.setCcap_TVKM_PAPERSIZE(code);
        EXPECT_EQ(m.currentPaperSize(), want) << code;
    }

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<float, int> resolutions[] = {{300.7f, 300}, {nan, -1}, {INFINITY, -1}, {3e9f, -1}, {-3e9f, -1}};
    for (const auto& [x, want] : resolutions) {
        m.setIcap_XRESOLUTION(x);
        EXPECT_EQ(m.currentResolution(), want) << x;
    }
    m.setCcap_TVK_AUTORESOLUTION(1);
    EXPECT_EQ(m.currentResolution(), -1);

    m.setCcap_TVK_BLANKSKIP(0);
    m.setCcap_TVK_FOLDLARGESIZE(0);
    m.setCap_DUPLEXENABLED(0);
    EXPECT_EQ(m.currentReaderSide(), 1);
    m.setCap_DUPLEXENABLED(1);
    EXPECT_EQ(m.currentReaderSide(), 2);
    m.setCcap_TVK_FOLDLARGESIZE(1);
    EXPECT_EQ(m.currentReaderSide(), 3);
    m.setCcap_TVK_BLANKSKIP(1);
    EXPECT_EQ(m.currentReaderSide(), 0);
}

// A main bundle with English texts for some display keys.
class DisplayTest : public testing::Test {
protected:
    void SetUp() override {
        const auto folder = home.root() / "App";
        kdtest::TempHome::writeText(folder / "Info.plist",
                                    "<plist><dict><key>CFBundleIdentifier</key><string>t.app</string></dict></plist>");
        kdtest::TempHome::writeText(folder / "Resources/en.lproj/Localizable.strings",
                                    "<plist><dict>"
                                    "<key>Resolution_DrvAuto</key><string>Auto (driver)</string>"
                                    "<key>Resolution_DrvUnit</key><string>%d dpi</string>"
                                    "<key>Resolution_300</key><string>300 dpi</string>"
                                    "<key>Color_BW</key><string>Black and white</string>"
                                    "<key>PaperSize_A4</key><string>A4</string>"
                                    "<key>ReadPage_Both</key><string>Both sides</string>"
                                    "</dict></plist>");
        kdf::Bundle::setMainBundlePath(folder.string());
        controller->productName = kKD720;
    }
    void TearDown() override { kdf::Bundle::setMainBundlePath({}); }

    kdtest::TempHome home;
    modeltest::ScopedController controller;
    modeltest::ScopedImages images;
};

TEST_F(DisplayTest, Texts) {
    InputModel m;
    m.setScnStResolutionType(2);
    m.setScnStColorType(5);
    m.setScnStPaperSizeType(1);
    m.setScnStReaderSideType(2);
    EXPECT_EQ(m.dispResolution(), "300 dpi");
    EXPECT_EQ(m.dispColorMode(), "Black and white");
    EXPECT_EQ(m.dispPaperSize(), "A4");
    EXPECT_EQ(m.dispReaderSide(), "Both sides");
    // Keys without a text show the key; out-of-table indices show nothing.
    m.setScnStPaperSizeType(6);
    EXPECT_EQ(m.dispPaperSize(), "PaperSize_Legal");
    for (int bad : {-1, 12, 1000}) {
        m.setScnStPaperSizeType(bad);
        m.setScnStColorType(bad);
        m.setScnStReaderSideType(bad);
        m.setScnStResolutionType(bad);
        EXPECT_EQ(m.dispPaperSize(), "");
        EXPECT_EQ(m.dispColorMode(), "");
        EXPECT_EQ(m.dispReaderSide(), "");
        EXPECT_EQ(m.dispReaderSideIcon(), nullptr);
        EXPECT_EQ(m.dispResolution(), "Resolution_Auto");
    }
    m.setScnStColorType(6);
    EXPECT_EQ(m.dispColorMode(), "");

    m.setIsUseDriverSetting(true);
    m.setCcap_TVK_AUTORESOLUTION(1);
    EXPECT_EQ(m.dispResolution(), "Auto (driver)");
    m.setCcap_TVK_AUTORESOLUTION(0);
    m.setIcap_XRESOLUTION(300.0f);
    EXPECT_EQ(m.dispResolution(), "300 dpi");
}

TEST_F(DisplayTest, CustomPaperName) {
    InputModel m;
    m.setIsUseDriverSetting(true);
    m.setCcap_TVK_DETECTPAGESIZE(0);
    m.setCcap_TVKM_PAPERSIZE(-2);
    EXPECT_EQ(m.dispPaperSize(), "");
    auto name = [](std::uint8_t count, std::u16string units, std::size_t size) {
        kdf::Bytes b(size, 0);
        b[0] = count;
        std::memcpy(b.data() + 1, units.data(), std::min(units.size() * 2, size - 1));
        return std::make_shared<const kdf::Bytes>(b);
    };
    m.setCcap_TVKM_CUSTOMPAGESIZENAME(name(4, u"Card", 66));
    EXPECT_EQ(m.dispPaperSize(), "Card");
    m.setCcap_TVKM_CUSTOMPAGESIZENAME(name(2, u"\u00e9\u4e2d", 66));
    EXPECT_EQ(m.dispPaperSize(), "\u00e9\u4e2d");
    // A count beyond the data or the record's 32 units is cut there.
    m.setCcap_TVKM_CUSTOMPAGESIZENAME(name(200, u"Card", 9));
    EXPECT_EQ(m.dispPaperSize(), "Card");
    m.setCcap_TVKM_CUSTOMPAGESIZENAME(name(255, std::u16string(40, u'x'), 66));
    EXPECT_EQ(m.dispPaperSize(), std::string(32, 'x'));
    // A lone surrogate is replaced, not passed on.
    m.setCcap_TVKM_CUSTOMPAGESIZENAME(name(1, u"\xD800", 66));
    EXPECT_EQ(m.dispPaperSize(), "\uFFFD");
}

TEST_F(DisplayTest, Icons) {
    images.provider->bundleNames = {"icn_B600.icns", "icn_C300.icns", "icn_G150.icns", "panel_duplex.png",
                                    "panel_deskew.png", "panel_textdir.png", "Mine.png"};
    InputModel m;
    m.setScnStColorType(5);
    m.setScnStResolutionType(0);
    EXPECT_EQ(modeltest::nameOf(m.dispIcon()), "icn_B600.icns");
    m.setScnStColorType(1);
    m.setScnStResolutionType(2);
    EXPECT_EQ(modeltest::nameOf(m.dispIcon()), "icn_C300.icns");
    m.input_WholeModel()->setIconPath("Mine.png");
    EXPECT_EQ(modeltest::nameOf(m.dispIcon()), "Mine.png");
    m.input_WholeModel()->setAlternateIconPath("/images/own.png");
    m.input_WholeModel()->setUseAlternateIcon(true);
    EXPECT_EQ(modeltest::nameOf(m.dispIcon()), "file:/images/own.png");

    EXPECT_EQ(InputModel::panelIconName(3, 150), "icn_G150.icns");
    EXPECT_EQ(InputModel::panelIconName(0, 399), "icn_A300.icns");
    EXPECT_EQ(InputModel::panelIconName(7, 400), "icn_B600.icns");
    EXPECT_EQ(InputModel::panelIconName(8, 300), "");
    EXPECT_EQ(InputModel::panelIconName(-1, 300), "");

    m.setScnStReaderSideType(2);
    EXPECT_EQ(modeltest::nameOf(m.dispReaderSideIcon()), "panel_duplex.png");
    m.setScnStSkewType(0);
    m.setIsRecCharDir(false);
    EXPECT_EQ(m.dispDeskewIcon(), nullptr);
    EXPECT_EQ(m.dispRecognizeDirectionIcon(), nullptr);
    m.setScnStSkewType(2);
    m.setIsRecCharDir(true);
    EXPECT_EQ(modeltest::nameOf(m.dispDeskewIcon()), "panel_deskew.png");
    EXPECT_EQ(modeltest::nameOf(m.dispRecognizeDirectionIcon()), "panel_textdir.png");
    m.setIsUseDriverSetting(true);
    m.setCcap_TVK_DESKEW(0);
    m.setCcap_TVK_RECOGNIZE_DIRECTION(0);
    EXPECT_EQ(m.dispDeskewIcon(), nullptr);
    EXPECT_EQ(m.dispRecognizeDirectionIcon(), nullptr);
}

} // namespace
