#include "KitTestSupport.h"
#include "SettingPopUpButtons.h"

#include "AppControllerServices.h"
#include "PluginRegistryQueries.h"
#include "TV_FuncUI.h"
#include "TV_Message.h"

#include <foundation/Bundle.h>
#include <ui/ViewTag.h>

#include <QAction>
#include <QImage>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

class DataSourceDouble : public AppControllerServices {
public:
    bool apds = false;
    bool photo = false;
    bool scanSide = true;
    bool multiButtons = false;

protected:
    std::string dsProductName() const override { return "Test TWAIN"; }
    bool dsIsAPDS() const override { return apds; }
    bool supportsCAPOnDevice(std::uint16_t cap) const override { return cap == 0x819A && photo; }
    bool supportsScanSide(const std::optional<std::string>&) const override { return scanSide; }
    bool settingWindowVisible() const override { return false; }
    bool supportsMultiDeviceBtns(const std::optional<std::string>&) const override { return multiButtons; }
};

class RegistryDouble : public PluginRegistryQueries {
public:
    struct Plugin {
        int index;
        std::map<int, kdf::Value> values;
    };
    std::map<std::string, Plugin, std::less<>> plugins;

protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        auto it = plugins.find(id);
        if (it == plugins.end()) return std::nullopt;
        auto v = it->second.values.find(type);
        if (v == it->second.values.end()) return std::nullopt;
        return v->second;
    }
    int pluginIndex(std::string_view id) const override {
        auto it = plugins.find(id);
        return it == plugins.end() ? -1 : it->second.index;
    }
};

class PresenterDouble : public TV_Message::AlertPresenter {
public:
    std::vector<TV_Message::AlertRequest> shown;
    int runModal(const TV_Message::AlertRequest& request) override {
        shown.push_back(request);
        return TV_Message::kAlertDefaultReturn;
    }
};

std::string title(const char* key) { return kdf::Bundle::main()->localizedString(key); }

// (title, tag) of every item in order.
std::vector<std::pair<std::string, int>> itemsOf(const TvPopUpButton& button) {
    std::vector<std::pair<std::string, int>> items;
    for (const QAction* a : button.popUpMenu()->actions()) items.emplace_back(a->text().toStdString(), kdui::tag(a));
    return items;
}

std::vector<std::pair<std::string, int>> keyed(std::initializer_list<std::pair<const char*, int>> keys) {
    std::vector<std::pair<std::string, int>> items;
    for (const auto& [key, tag] : keys) items.emplace_back(title(key), tag);
    return items;
}

std::vector<int> tagsOf(const TvPopUpButton& button) {
    std::vector<int> tags;
    for (const auto& item : itemsOf(button)) tags.push_back(item.second);
    return tags;
}

class PopUps : public testing::Test {
protected:
    std::shared_ptr<DataSourceDouble> ds = std::make_shared<DataSourceDouble>();
    std::shared_ptr<RegistryDouble> registry = std::make_shared<RegistryDouble>();
    std::shared_ptr<PresenterDouble> alerts = std::make_shared<PresenterDouble>();
    QTemporaryDir files;

    void SetUp() override {
        AppControllerServices::setCurrent(ds);
        PluginRegistryQueries::setCurrent(registry);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, alerts);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, alerts);
    }
    void TearDown() override {
        AppControllerServices::setCurrent(nullptr);
        PluginRegistryQueries::setCurrent(nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, nullptr);
    }
};

TEST_F(PopUps, DataSourceListsByTheAnswers) {
    struct Case {
        bool apds, photo, scanSide, multi;
        std::vector<int> color, paper, resolution, side, skew, buttons;
    };
    const std::vector<int> allPaper{0, 1, 2, 3, 4, 5, 6, 7};
    const std::vector<int> nine{-1, 1, 2, 4, 8, 16, 32, 64, 128, 256};
    const std::vector<Case> cases{
        {false, false, true, false, {0, 1, 3, 5}, allPaper, {0, 1, 2, 3, 4}, {0, 1, 2}, {0, 1, 2}, {-1, 1}},
        {true, false, true, false, {1, 3, 5}, {0, 1, 2, 6, 7}, {1, 2, 3, 4}, {0, 1, 2}, {0}, {-1}},
        {false, true, false, false, {0, 1, 2, 3, 4, 5}, allPaper, {0, 1, 2, 3, 4}, {1}, {0, 1, 2}, {-1, 1}},
        {true, true, false, true, {1, 2, 3, 4, 5}, {0, 1, 2, 6, 7}, {1, 2, 3, 4}, {1}, {0}, nine},
        {false, false, true, true, {0, 1, 3, 5}, allPaper, {0, 1, 2, 3, 4}, {0, 1, 2}, {0, 1, 2}, nine},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "apds " << c.apds << " photo " << c.photo << " side " << c.scanSide
                                        << " multi " << c.multi);
        ds->apds = c.apds;
        ds->photo = c.photo;
        ds->scanSide = c.scanSide;
        ds->multiButtons = c.multi;
        ColorModePopUpButton color;
        PaperSizePopUpButton paper;
        ResolutionPopUpButton resolution;
        ScanSidePopUpButton side;
        SkewPopUpButton skew;
        ScanBtnStatusPopUpButton buttons;
        EXPECT_EQ(tagsOf(color), c.color);
        EXPECT_EQ(tagsOf(paper), c.paper);
        EXPECT_EQ(tagsOf(resolution), c.resolution);
        EXPECT_EQ(tagsOf(side), c.side);
        EXPECT_EQ(tagsOf(skew), c.skew);
        EXPECT_EQ(tagsOf(buttons), c.buttons);
    }
}

TEST_F(PopUps, TitlesAreTheLocalisedKeys) {
    ds->photo = true;
    ColorModePopUpButton color;
    EXPECT_EQ(itemsOf(color), keyed({{"Color_ColBWDetector", 0},
                                     {"Color_Color", 1},
                                     {"Color_Color_Photo", 2},
                                     {"Color_Gray", 3},
                                     {"Color_Gray_Photo", 4},
                                     {"Color_BW", 5}}));
    ds->scanSide = false;
    ScanSidePopUpButton side;
    EXPECT_EQ(itemsOf(side), keyed({{"ReadPage_One", 1}}));
    ds->multiButtons = true;
    ScanBtnStatusPopUpButton buttons;
    const auto items = itemsOf(buttons);
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[0], std::make_pair(title("NotAllocBtn"), -1));
    EXPECT_EQ(items[1].first, "Job 1");
    EXPECT_EQ(items[9].first, "Job 9");
    for (const char* key : {"Skew_Off", "NotAllocBtn", "StartButton", "PanelMenu_JobNum_Format", "FileSave_Action",
                            "OutputType_ToFile"})
        EXPECT_NE(title(key), key);
}

TEST_F(PopUps, SetUpAfterTheAnswersChangeRefillsWithoutDuplicates) {
    ColorModePopUpButton color;
    ScanBtnStatusPopUpButton buttons;
    color.selectItemWithTag(3);
    ds->photo = true;
    ds->multiButtons = true;
    color.setUpMethod();
    buttons.setUpMethod();
    buttons.setUpMethod();
    EXPECT_EQ(tagsOf(color), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(tagsOf(buttons), (std::vector<int>{-1, 1, 2, 4, 8, 16, 32, 64, 128, 256}));
    EXPECT_EQ(color.selectedTag(), 0);
}

TEST_F(PopUps, ChoosingAnItemChecksItAndTellsItsTag) {
    ResolutionPopUpButton button;
    std::vector<int> activated;
    QObject::connect(&button, &TvPopUpButton::activated, [&](int tag) { activated.push_back(tag); });
    EXPECT_EQ(button.indexOfSelectedItem(), 0);
    button.popUpMenu()->actions().at(2)->trigger();
    EXPECT_EQ(activated, std::vector<int>{2});
    EXPECT_EQ(button.selectedTag(), 2);
    EXPECT_EQ(button.indexOfSelectedItem(), 2);
    EXPECT_EQ(button.text().toStdString(), title("Resolution_300"));
    int checked = 0;
    for (const QAction* a : button.popUpMenu()->actions()) checked += a->isChecked();
    EXPECT_EQ(checked, 1);
    EXPECT_FALSE(button.selectItemWithTag(42));
    EXPECT_EQ(button.selectedTag(), 2);

    // The menu helpers work on the pop-up as they are.
    QAction* added = TV_Func::addMenuItem(&button, QStringLiteral("Extra"), 77);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(TV_Func::menuItemWithTag(TV_Func::menuOf(&button), 77), added);
    added->trigger();
    EXPECT_EQ(button.selectedTag(), 77);
    EXPECT_EQ(button.text(), QStringLiteral("Extra"));
    TV_Func::setEnabledItemWithTag(false, 1, TV_Func::menuOf(&button));
    EXPECT_FALSE(TV_Func::menuItemWithTag(button.popUpMenu(), 1)->isEnabled());
}

TEST_F(PopUps, FileFormatMenusPerPlugin) {
    FileFormatPopUpButton button;
    EXPECT_EQ(tagsOf(button), (std::vector<int>{0, 1, 2, 3}));
    for (const QAction* a : button.popUpMenu()->actions()) EXPECT_FALSE(a->icon().isNull());

    button.addOtherMenu({0, 3}, QStringLiteral("com.example.mail"));
    button.addOtherMenu({1}, QString()); // no id: nothing
    button.changeMenuByPluginID(QStringLiteral("com.example.mail"));
    EXPECT_EQ(itemsOf(button), keyed({{"FileFormat_PDF", 0}, {"FileFormat_PNG", 3}}));
    button.changeMenuByPluginID(QStringLiteral("com.example.unknown"));
    EXPECT_EQ(tagsOf(button), (std::vector<int>{0, 3}));

    // The same id added again replaces its menu, also the one shown.
    button.addOtherMenu({2}, QStringLiteral("com.example.mail"));
    EXPECT_EQ(tagsOf(button), (std::vector<int>{2}));
    button.changeMenuByPluginID(QString());
    button.changeMenuByPluginID(QStringLiteral("com.example.mail"));
    EXPECT_EQ(tagsOf(button), (std::vector<int>{2}));

    button.removeMenuByPluginID(QStringLiteral("com.example.mail"));
    EXPECT_EQ(tagsOf(button), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(button.menuForKey(QStringLiteral("com.example.mail")), nullptr);
    button.changeMenuByPluginID(QStringLiteral("com.example.mail"));
    EXPECT_EQ(tagsOf(button), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(PopUps, OCRLanguageUnderPDFA) {
    PDFOCRLangPopUpButton button;
    EXPECT_EQ(button.numberOfItems(), 13);
    EXPECT_EQ(button.selectedTag(), 2);

    button.selectItemWithTag(1);
    button.remakeMenuList(true, 1);
    ASSERT_EQ(alerts->shown.size(), 1u);
    const auto& shown = alerts->shown[0];
    EXPECT_NE((shown.messageText + shown.informativeText).find("Japanese"), std::string::npos);
    EXPECT_EQ(button.selectedTag(), 2);
    EXPECT_EQ(tagsOf(button), (std::vector<int>{2, 3, 4, 5, 6, 7, 10}));

    button.remakeMenuList(true, 5);
    EXPECT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(button.selectedTag(), 5);

    button.remakeMenuList(false, 9);
    EXPECT_EQ(button.numberOfItems(), 13);
    EXPECT_EQ(button.selectedTag(), 9);

    // A disabled pop-up lists all and shows nothing.
    button.setEnabled(false);
    button.remakeMenuList(true, 9);
    EXPECT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(button.numberOfItems(), 13);

    for (int tag = -1; tag <= 13; ++tag)
        EXPECT_EQ(PDFOCRLangPopUpButton::isConvertableWithPDFA(tag), (tag >= 2 && tag <= 7) || tag == 10) << tag;
}

TEST_F(PopUps, OutputTypeListsThePlugins) {
    const std::filesystem::path icon = std::filesystem::path(files.path().toStdString()) / "icon.png";
    QImage big(400, 300, QImage::Format_RGB32);
    big.fill(Qt::red);
    ASSERT_TRUE(big.save(QString::fromStdString(icon.string())));
    registry->plugins["with.icon"] = {3, {{1, kdf::Value("Mail & More")}, {4, kdf::Value(icon.string())}}};
    registry->plugins["no.icon"] = {0, {{1, kdf::Value("Cloud")}, {4, kdf::Value("/nonexistent/icon.png")}}};

    OutputTypePopUpButton button;
    EXPECT_EQ(itemsOf(button), keyed({{"OutputType_ToFile", -1}}));
    button.remakeMenuList({"with.icon", "no.icon", "unknown"});
    const auto items = itemsOf(button);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], std::make_pair(title("OutputType_ToFile"), -1));
    EXPECT_EQ(items[1], std::make_pair(std::string("Mail && More"), 3));
    EXPECT_EQ(items[2], std::make_pair(std::string("Cloud"), 0));
    EXPECT_EQ(items[3], std::make_pair(std::string(), -1));
    const QList<QAction*> actions = button.popUpMenu()->actions();
    const QImage drawn = actions[1]->icon().pixmap(16, 16).toImage();
    EXPECT_EQ(drawn.pixelColor(8, 8), QColor(Qt::red));
    EXPECT_FALSE(actions[2]->icon().isNull());
    EXPECT_FALSE(actions[3]->icon().isNull());

    // Remaking starts again from the base item.
    button.remakeMenuList({"no.icon"});
    EXPECT_EQ(tagsOf(button), (std::vector<int>{-1, 0}));
    EXPECT_EQ(button.baseMenu()->actions().size(), 1);
}

TEST_F(PopUps, NoPluginsUntilARegistryIsRegistered) {
    PluginRegistryQueries::setCurrent(nullptr);
    EXPECT_EQ(PluginRegistryQueries::indexOfPluginInfoListByPluginID("with.icon"), -1);
    EXPECT_FALSE(PluginRegistryQueries::valueForPluginIDWithType("with.icon", 1));
    registry->plugins["p"] = {2, {{1, kdf::Value(true)}, {5, kdf::Value(true)}, {11, kdf::Value(true)}}};
    PluginRegistryQueries::setCurrent(registry);
    EXPECT_FALSE(PluginRegistryQueries::valueForPluginIDWithType("p", 1)); // a title that is no text
    EXPECT_TRUE(PluginRegistryQueries::valueForPluginIDWithType("p", 5));
    EXPECT_FALSE(PluginRegistryQueries::valueForPluginIDWithType("p", 11));
    EXPECT_EQ(PluginRegistryQueries::indexOfPluginInfoListByPluginID("p"), 2);
}

TEST_F(PopUps, SavePlaceAndDateFormat) {
    FileSavePopUpButton save;
    const auto items = itemsOf(save);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[3], std::make_pair(std::string(), 3));
    EXPECT_EQ(items[4], std::make_pair(title("FileSave_Action"), 4));
    EXPECT_EQ(save.popUpMenu()->actions()[4]->icon().availableSizes(), QList<QSize>{QSize(16, 16)});

    FileNameDateTimePopUpButton english;
    EXPECT_EQ(tagsOf(english), (std::vector<int>{0, 1, 2}));
    ::setenv("LANGUAGE", "ja", 1);
    FileNameDateTimePopUpButton japanese;
    ::setenv("LANGUAGE", "en", 1);
    EXPECT_EQ(tagsOf(japanese), (std::vector<int>{0, 1, 2, 3}));
}

} // namespace

int main(int argc, char** argv) { return kittest::runKitTests(argc, argv); }
