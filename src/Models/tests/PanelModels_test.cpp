#include "InputModel.h"
#include "ModelTestSupport.h"
#include "PageModels.h"
#include "PanelModel.h"
#include "TempHome.h"
#include "WholeModel.h"

#include <foundation/Bundle.h>
#include <foundation/UserDefaults.h>

#include <gtest/gtest.h>

using kdf::Dictionary;
using kdf::Value;

namespace {

TEST(WholeModel, LoadSaveAndCopy) {
    WholeModel empty;
    Dictionary d;
    empty.saveWholeModel(&d);
    EXPECT_EQ(d, (Dictionary{{"Whole_IconPathKey", Value("")},
                             {"Whole_AlternateIconPathKey", Value("")},
                             {"Whole_UseAlternateIconKey", Value(false)},
                             {"Whole_TitleKey", Value("")},
                             {"Whole_PanelUseCountKey", Value(0)}}));

    const Dictionary stored{{"Whole_IconPathKey", Value("icn.png")},
                            {"Whole_UseAlternateIconKey", Value(1)},
                            {"Whole_TitleKey", Value(42)},
                            {"Whole_PanelUseCountKey", Value(7)},
                            {"Whole_AlternateIconPathKey", Value(kdf::Bytes{1})}};
    WholeModel m(&stored);
    EXPECT_EQ(m.iconPath(), "icn.png");
    EXPECT_TRUE(m.useAlternateIcon());
    EXPECT_EQ(m.title(), "");
    EXPECT_EQ(m.alternateIconPath(), "");
    EXPECT_EQ(m.panelUseCount(), 7);
    auto copy = m.clone();
    EXPECT_EQ(copy->iconPath(), "icn.png");
    EXPECT_TRUE(copy->useAlternateIcon());
    EXPECT_EQ(copy->panelUseCount(), 0);
}

TEST(WholeModel, IconFromBundleThenFileThenFileIcon) {
    modeltest::ScopedImages images;
    images.provider->bundleNames = {"named.png"};
    EXPECT_EQ(modeltest::nameOf(WholeModel::iconImageWithPath("named.png")), "named.png");
    EXPECT_EQ(modeltest::nameOf(WholeModel::iconImageWithPath("/images/a.png")), "file:/images/a.png");
    kdtest::TempHome home;
    const auto doc = home.root() / "doc.pdf";
    kdtest::TempHome::writeText(doc, "x");
    EXPECT_EQ(modeltest::nameOf(WholeModel::iconImageWithPath(doc.string())), "icon:" + doc.string());
    EXPECT_EQ(WholeModel::iconImageWithPath((home.root() / "missing").string()), nullptr);
    EXPECT_EQ(WholeModel::iconImageWithPath(""), nullptr);
}

TEST(PanelModel, TitleRouting) {
    modeltest::ScopedController controller;
    PanelModel plain;
    plain.setDispTitle("Page 1");
    EXPECT_EQ(plain.dispImageTitle(), "Page 1");
    EXPECT_EQ(plain.imageTitle(), "Page 1");

    InputModel input;
    input.setDispImageTitle("unused");
    input.setDispTitle("Scan");
    EXPECT_EQ(input.input_WholeModel()->title(), "Scan");
    EXPECT_EQ(input.dispImageTitle(), "unused");
    EXPECT_EQ(input.dispTitle(), "Scan");
}

TEST(PanelModel, BrowserItem) {
    PanelModel m;
    EXPECT_NE(m.imageUID(), m.imageUID());
    EXPECT_EQ(m.imageRepresentationType(), "IKImageBrowserNSImageRepresentationType");
    auto image = std::make_shared<modeltest::NamedImage>("thumb");
    m.setDispImage(image);
    EXPECT_EQ(m.imageRepresentation(), image);
    EXPECT_EQ(m.dispIcon(), nullptr);
}

TEST(PanelModel, CopyHasInitialPanelValues) {
    modeltest::ScopedController controller;
    for (std::shared_ptr<PanelModel> m : {std::make_shared<PanelModel>(), std::shared_ptr<PanelModel>(std::make_shared<InputModel>())}) {
        m->setPanelSizeType(2);
        m->setIsSelected(true);
        m->setDispImage(std::make_shared<modeltest::NamedImage>("x"));
        m->setDispImageTitle("t");
        auto c = m->clone();
        EXPECT_EQ(typeid(*c), typeid(*m));
        EXPECT_EQ(c->panelSizeType(), 1);
        EXPECT_FALSE(c->isSelected());
        EXPECT_EQ(c->dispImage(), nullptr);
        EXPECT_EQ(c->dispImageTitle(), "");
    }
}

TEST(PanelModel, LoadLocalizedTitle) {
    modeltest::ScopedController controller;
    kdtest::TempHome home;
    const auto folder = home.root() / "App";
    kdtest::TempHome::writeText(folder / "Info.plist",
                                "<plist><dict><key>CFBundleIdentifier</key><string>t.app</string></dict></plist>");
    kdtest::TempHome::writeText(folder / "Resources/en.lproj/Localizable.strings",
                                "<plist><dict><key>Input_Title_Color</key><string>Colour</string></dict></plist>");
    kdf::Bundle::setMainBundlePath(folder.string());
    PanelModel::loadLocalizedTitle({});
    auto keyed = std::make_shared<InputModel>();
    keyed->setDispTitle("Input_Title_Color");
    auto typed = std::make_shared<PanelModel>();
    typed->setDispTitle("My own scan");
    PanelModel::loadLocalizedTitle({keyed, typed});
    EXPECT_EQ(keyed->dispTitle(), "Colour");
    EXPECT_EQ(typed->dispTitle(), "My own scan");
    kdf::Bundle::setMainBundlePath({});
}

TEST(InputModel, NoDictionaryMeansTheUserDefaults) {
    const int rc = modeltest::inChild([] {
        kdtest::TempHome home;
        kdf::UserDefaults::standard().set(WholeModel::kTitleKey, Value("From defaults"));
        kdf::UserDefaults::standard().set(InputModel::kColorTypeKey, Value(3));
        InputModel m(nullptr);
        if (m.dispTitle() != "From defaults" || m.scnStColorType() != 3) return 1;
        m.setScnStColorType(5);
        m.setDispTitle("Saved");
        m.saveInputModel(nullptr);
        auto& defaults = kdf::UserDefaults::standard();
        if (defaults.integer(InputModel::kColorTypeKey) != 5) return 2;
        if (defaults.string(WholeModel::kTitleKey) != "Saved") return 3;
        auto drivers = defaults.object(InputModel::kDriverSettingDictKey);
        return drivers && drivers->dictionary() && drivers->dictionary()->count("DummyKey") ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
}

TEST(PageModels, InitialValues) {
    ImageInfoModel page;
    EXPECT_EQ(page.imgInfo_DstImagePath(), "");
    EXPECT_EQ(page.imgInfo_PreThumbImage(), nullptr);
    EXPECT_FALSE(page.isConvertedGray());
    EXPECT_FALSE(page.isConvertedBW());
    EXPECT_EQ(page.imgInfo_Width(), 0);

    EditImageInfoModel edit;
    EXPECT_EQ(edit.ratioOfCropInfo(), (RatioRect{0, 0, 1, 1}));
    EXPECT_EQ(edit.trim_T() + edit.trim_B() + edit.trim_L() + edit.trim_R(), 0.0f);
    EXPECT_TRUE(edit.isTypicalMode());
    EXPECT_EQ(edit.sampleType(), 1);
    edit.setRatioOfCropInfo({0.1f, 0.2f, 0.5f, 0.6f});
    EXPECT_EQ(edit.ratioOfCropInfo(), (RatioRect{0.1f, 0.2f, 0.5f, 0.6f}));
}

} // namespace
