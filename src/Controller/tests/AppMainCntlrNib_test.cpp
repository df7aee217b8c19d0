// The main window made ready from its real form with a string table that
// marks every key: the texts and how each is applied in both directions,
// the main menu, the create-panel menus from small preset lists with
// missing plug-ins, the input rules, the split limits and the page cells.
#include "AppBundleFixture.h"
#include "AppMainCntlrNib.h"
#include "AppMainCntlrPorts.h"
#include "KitTestSupport.h"
#include "MainWindowNib.h"

#include "TvButtons.h"
#include "TvTextFields.h"
#include "TvUI.h"

#include <ui/ImageBrowserView.h>
#include <ui/MenuTags.h>
#include <ui/ViewTag.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>

#include <memory>

namespace {

using modeltest::AppBundleFixture;

QString marked(const char* key) { return QStringLiteral("<") + QString::fromLatin1(key) + QStringLiteral(">"); }

// Every key of the tables (and the menus) mapped to itself in brackets.
kdf::Dictionary markedTable() {
    kdf::Dictionary texts;
    for (const auto* table : {&qlr_nib::mainWindowTexts(), &qlr_nib::settingWindowTexts()})
        for (const auto& e : *table) texts[e.key] = kdf::Value(marked(e.key).toStdString());
    for (const char* key : {"MainMenu_Edit", "MainMenu_Window", "MainMenu_Prefs", "MainMenu_SelectAll", "Top_ScanButton",
                            "Top_AddToJobButton", "Top_CreatePanel", "Top_CreatePanel_Exp", "Top_CreatePanel_Fav",
                            "Preset_Input_A", "Preset_Job_A", "Preset_Output_Folder"})
        texts[key] = kdf::Value(marked(key).toStdString());
    texts["MainMenu_Quit"] = kdf::Value("Quit %@");
    return texts;
}

QWidget* control(QWidget* window, const char* view, int tag) {
    QWidget* v = qlr_main::MainWindowNib::outlet(window, view);
    return v ? kdui::viewWithTag(v, tag) : nullptr;
}

class RecordingPort : public AppMainWindowPort {
public:
    std::vector<int> created;
    void createPanel(QObject* sender) override { created.push_back(sender ? kdui::tag(sender) : -1); }
};

class NibTexts : public ::testing::TestWithParam<bool> {};

TEST_P(NibTexts, EveryTaggedControlGetsItsTextAsTheTableSays) {
    const bool rtl = GetParam();
    AppBundleFixture bundle({"en", "ar"});
    bundle.writeStrings(rtl ? "ar" : "en", markedTable());
    bundle.setLanguage(rtl ? "ar" : "en");
    std::unique_ptr<QMainWindow> window(qlr_main::MainWindowNib::load());
    RecordingPort port;
    qlr_nib::awakeFromNib({window.get(), nullptr, {}}, port);

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Pelloran Quillora"));
    int checked = 0;
    for (const auto& e : qlr_nib::mainWindowTexts()) {
        QWidget* c = control(window.get(), e.view, e.tag);
        if (!c) continue; // a control the form does not have yet
        ++checked;
        SCOPED_TRACE(std::string(e.view) + " " + std::to_string(e.tag));
        auto* button = qobject_cast<QAbstractButton*>(c);
        auto* label = qobject_cast<QLabel*>(c);
        const QString text = marked(e.key);
        if (e.how & qlr_nib::kLabel) {
            EXPECT_EQ(label ? label->text() : button ? button->text() : QString(), text);
        }
        if (e.how & qlr_nib::kTitle) {
            EXPECT_EQ(button ? button->text() : text, text);
        }
        if (e.how & (qlr_nib::kTip | qlr_nib::kTipOnly)) {
            EXPECT_EQ(c->toolTip(), text);
        }
        if (e.colour > 0) {
            EXPECT_EQ(c->palette().color(QPalette::WindowText), TvUI::controlTitleColor(e.colour));
        }
    }
    EXPECT_GT(checked, 30);
    // The create-panel buttons and the scan buttons.
    auto* stepButton = qobject_cast<QAbstractButton*>(control(window.get(), "Top_ContentView", 1032));
    ASSERT_TRUE(stepButton);
    EXPECT_EQ(stepButton->text(), marked("Top_ScanButton"));
    auto* fav = qobject_cast<TvButton*>(control(window.get(), "Top_ContentView", 1040));
    ASSERT_TRUE(fav);
    EXPECT_EQ(fav->text(), marked("Top_CreatePanel_Fav"));
    // The finish button keeps its minimum width.
    EXPECT_GE(control(window.get(), "Scan_ContentView", 4042)->minimumWidth(), 181);
}

INSTANTIATE_TEST_SUITE_P(BothDirections, NibTexts, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("RightToLeft") : std::string("LeftToRight"); });

TEST(NibMenus, MainMenuTitlesByTagKeepTitleWithoutText) {
    AppBundleFixture bundle({"en"});
    bundle.writeStrings("en", markedTable());
    std::unique_ptr<QMainWindow> window(qlr_main::MainWindowNib::load());
    QAction* cut = kdui::mainMenuItemWithTag(window.get(), 203);
    ASSERT_TRUE(cut);
    const QString before = cut->text();
    qlr_nib::applyMainMenuTitles(window->findChild<QMenuBar*>());
    EXPECT_EQ(cut->text(), before); // "MainMenu_Cut" has no text here
    EXPECT_EQ(kdui::mainMenuItemWithTag(window.get(), 207)->text(), marked("MainMenu_SelectAll"));
    EXPECT_EQ(kdui::mainMenuItemWithTag(window.get(), 200)->text(), marked("MainMenu_Edit"));
    EXPECT_EQ(kdui::mainMenuItemWithTag(window.get(), 100)->text(), QString());
    EXPECT_TRUE(kdui::mainMenuItemWithTag(window.get(), 106)->text().startsWith(QStringLiteral("Quit ")));
    EXPECT_FALSE(kdui::mainMenuItemWithTag(window.get(), 106)->text().contains(QStringLiteral("%@")));
}

kdf::Value output(const char* plugin, const char* title) {
    return kdf::Value(kdf::Dictionary{{"Output_PluginIDKey", kdf::Value(plugin)}, {"Whole_TitleKey", kdf::Value(title)}});
}
kdf::Value job(const char* title, kdf::Array outputs) {
    return kdf::Value(kdf::Dictionary{{"Whole_TitleKey", kdf::Value(title)},
                                      {"Job_JobOutputModel_DictListKey", kdf::Value(std::move(outputs))}});
}
std::vector<std::string> titles(const kdf::Array& list) {
    std::vector<std::string> out;
    for (const auto& v : list) out.push_back(v.string() ? *v.string() : "(not a string)");
    return out;
}

TEST(NibPresets, OutputsNamingMissingPluginsAreLeftOut) {
    const kdf::Value list(kdf::Array{output("", "Preset_Output_Folder"), output("Mail", "M"), output("Gone", "G"),
                                     kdf::Value("not a dictionary"), output("Gone", "G2")});
    const auto kept = qlr_nib::usablePresetOutputs(&list, {"Mail"});
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_FALSE(qlr_nib::namesMissingPlugin(kept[0], {"Mail"}));
    EXPECT_FALSE(qlr_nib::namesMissingPlugin(kept[1], {"Mail"}));
    // Not an array: an empty menu.
    const kdf::Value notArray(kdf::Dictionary{});
    EXPECT_TRUE(qlr_nib::usablePresetOutputs(&notArray, {}).empty());
    EXPECT_TRUE(qlr_nib::usablePresetOutputs(nullptr, {}).empty());
}

TEST(NibPresets, AJobStaysWithAllItsOutputsWhenOneIsUsable) {
    const kdf::Value list(kdf::Array{
        job("Preset_Job_A", {output("Gone", "G"), output("", "F")}),
        job("Preset_Job_B", {output("Gone", "G"), output("Other", "O")}),
        job("Preset_Job_C", {}),
        kdf::Value(7),
        job("Preset_Job_D", {output("Mail", "M")}),
    });
    const auto kept = qlr_nib::usablePresetJobs(&list, {"Mail"});
    ASSERT_EQ(kept.size(), 2u);
    const auto* outputs = kdf::find(*kept[0].dictionary(), "Job_JobOutputModel_DictListKey")->array();
    EXPECT_EQ(outputs->size(), 2u); // the missing plug-in's output stays in the job
    EXPECT_EQ(titles(qlr_nib::presetMenuTitles(kJobPanelType, &list, {"Mail"})),
              (std::vector<std::string>{"Preset_Job_A", "Preset_Job_D"}));
}

TEST(NibPresets, MenusFromTheBundleListsCarryTheBuilderTagsAndCallCreatePanel) {
    AppBundleFixture bundle({"en"});
    bundle.writeStrings("en", markedTable());
    kdf::Dictionary badTitle{{"Whole_TitleKey", kdf::Value(5)}};
    bundle.writePreset("Preset_InputList.plist",
                       kdf::Value(kdf::Array{kdf::Value(kdf::Dictionary{{"Whole_TitleKey", kdf::Value("Preset_Input_A")}}),
                                             kdf::Value(badTitle)}));
    bundle.writePreset("Preset_OutputList.plist",
                       kdf::Value(kdf::Array{output("Gone", "G"), output("", "Preset_Output_Folder")}));
    bundle.writePreset("Preset_JobList.plist", kdf::Value(kdf::Dictionary{})); // not an array
    std::unique_ptr<QMainWindow> window(qlr_main::MainWindowNib::load());
    RecordingPort port;
    QWidget* top = qlr_main::MainWindowNib::outlet(window.get(), "Top_ContentView");
    qlr_nib::fillCreatePanelMenus(top, port, {});

    auto menuOf = [&](int tag) {
        auto* button = qobject_cast<TvMenuButton*>(kdui::viewWithTag(top, tag));
        return button ? button->btnMenu() : nullptr;
    };
    QMenu* inputs = menuOf(1012);
    ASSERT_TRUE(inputs);
    ASSERT_EQ(inputs->actions().size(), 2);
    EXPECT_EQ(inputs->actions()[0]->text(), marked("Preset_Input_A"));
    EXPECT_EQ(inputs->actions()[1]->text(), QString()); // a title that is no string shows nothing
    QMenu* outputs = menuOf(1022);
    ASSERT_TRUE(outputs);
    ASSERT_EQ(outputs->actions().size(), 1);
    EXPECT_EQ(outputs->actions()[0]->text(), marked("Preset_Output_Folder"));
    EXPECT_EQ(kdui::tag(outputs->actions()[0]), (kOutputPanelType << 16) | 0);
    ASSERT_TRUE(menuOf(1040));
    EXPECT_TRUE(menuOf(1040)->actions().empty());

    inputs->actions()[1]->trigger();
    outputs->actions()[0]->trigger();
    EXPECT_EQ(port.created, (std::vector<int>{(kInputPanelType << 16) | 1, (kOutputPanelType << 16) | 0}));
}

TEST(NibInputRules, NameFieldsRefuseLineBreaksAndTheirLastCharacterPlusOne) {
    QWidget titleView;
    titleView.setObjectName(QStringLiteral("Setting_Title_View"));
    auto* name = new TvTextField(&titleView);
    kdui::setTag(name, 2302);
    QWidget fileView;
    fileView.setObjectName(QStringLiteral("Setting_FileName_View"));
    auto* fileName = new TvTextField(&fileView);
    kdui::setTag(fileName, 2206);
    QWidget scan;
    scan.setObjectName(QStringLiteral("Scan_ContentView"));
    auto* page = new TvTextField(&scan);
    kdui::setTag(page, 4004);
    qlr_nib::applyInputRules({&titleView, &fileView, &scan});

    const QString forty(40, QLatin1Char('a'));
    struct Case {
        TV_FTextField* field;
        QString before, after;
        bool allowed;
    };
    const Case cases[] = {
        {name, QString(), QStringLiteral("Receipts"), true},
        {name, QString(), QStringLiteral("Rec\neipts"), false},
        {name, QString(), QStringLiteral("Rec\reipts"), false},
        {name, forty.left(39), forty, true},
        {name, forty, forty + QLatin1Char('b'), false},
        {fileName, QString(), QString(64, QLatin1Char('f')), true},
        {fileName, QString(), QString(65, QLatin1Char('f')), false},
        {page, QString(), QStringLiteral("12"), true},
        {page, QString(), QString::fromUtf16(u"\u0661\u0662"), true},
        {page, QString(), QStringLiteral("-1"), false},
        {page, QString(), QStringLiteral("12345"), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.field->allowsEdit(c.before, c.after), c.allowed) << c.after.toStdString();
    EXPECT_EQ(qlr_nib::digitCharacters(true).size(), 21);
}

TEST(NibSplit, ThumbnailPaneStaysWithinItsLimitsInBothDirections) {
    for (const bool rtl : {false, true}) {
        SCOPED_TRACE(rtl ? "right to left" : "left to right");
        QApplication::setLayoutDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
        std::unique_ptr<QMainWindow> window(qlr_main::MainWindowNib::load());
        window->resize(1100, 700);
        window->findChild<QWidget*>(QStringLiteral("Top_ContentView"))->hide();
        window->findChild<QWidget*>(QStringLiteral("Scan_ContentView"))->show();
        window->show();
        QApplication::processEvents();
        qlr_nib::applySplitLimits(window.get());
        auto* split = qlr_main::MainWindowNib::splitView(window.get(), "Scan_SplitView");
        QWidget* thumbnails = qlr_main::MainWindowNib::outlet(window.get(), "Scan_Thumbnail_SplitSubView");
        ASSERT_TRUE(split && thumbnails);
        const int index = split->indexOf(thumbnails);
        for (int wanted : {10, 97, 300, 414, 600}) {
            QList<int> sizes = split->sizes();
            const int total = sizes[0] + sizes[1];
            sizes[index] = wanted;
            sizes[1 - index] = total - wanted;
            split->setSizes(sizes);
            QApplication::processEvents();
            EXPECT_GE(thumbnails->width(), qlr_nib::kThumbnailPaneMinimum) << wanted;
            EXPECT_LE(thumbnails->width(), qlr_nib::kThumbnailPaneMaximum) << wanted;
        }
        const auto limits = qlr_nib::scanSplitLimits(800, !rtl);
        EXPECT_EQ(limits.minimum, rtl ? 800 - 414 : 97);
        EXPECT_EQ(limits.maximum, rtl ? 800 - 97 : 414);
    }
    QApplication::setLayoutDirection(Qt::LeftToRight);
    EXPECT_EQ(qlr_nib::stepSplitLimits(600).maximum, 420);
}

TEST(NibPageCells, SquareCellsFromTheBrowserWidthAndNoneWithoutOne) {
    EXPECT_EQ(qlr_nib::pageCellSize(214, true), QSize(186, 186));
    EXPECT_EQ(qlr_nib::pageCellSize(214, false), std::nullopt);
    EXPECT_EQ(qlr_nib::pageCellSize(0, true), std::nullopt); // never a side of -28
    kdui::ImageBrowserView browser;
    browser.setCellSize(QSize(120, 140));
    browser.resize(0, 300);
    qlr_nib::setCellSizeOfPreImageIBView(&browser, true);
    EXPECT_EQ(browser.cellSize(), QSize(120, 140));
    browser.resize(228, 300);
    qlr_nib::setCellSizeOfPreImageIBView(&browser, true);
    EXPECT_EQ(browser.cellSize(), QSize(200, 200));
}

TEST(NibMainMenu, PageBrowserFocusOffersOnlySelectAllAndAModalWindowDisablesQuit) {
    std::unique_ptr<QMainWindow> window(qlr_main::MainWindowNib::load());
    QWidget panel, pages, other;
    struct Case {
        QWidget* focus;
        bool cut, selectAll;
    };
    for (const Case& c : {Case{&pages, false, true}, Case{&panel, false, false}, Case{&other, true, true},
                          Case{nullptr, true, true}}) {
        qlr_nib::editMenuWillOpen(window.get(), c.focus, {&panel}, &pages);
        EXPECT_EQ(kdui::mainMenuItemWithTag(window.get(), 203)->isEnabled(), c.cut);
        EXPECT_EQ(kdui::mainMenuItemWithTag(window.get(), 207)->isEnabled(), c.selectAll);
    }
    qlr_nib::validateMainMenu(window.get(), {true, true, false, false});
    EXPECT_FALSE(kdui::mainMenuItemWithTag(window.get(), 106)->isEnabled());
    EXPECT_FALSE(kdui::mainMenuItemWithTag(window.get(), 102)->isEnabled());
    qlr_nib::validateMainMenu(window.get(), {false, false, false, true});
    EXPECT_TRUE(kdui::mainMenuItemWithTag(window.get(), 106)->isEnabled());
    EXPECT_FALSE(kdui::mainMenuItemWithTag(window.get(), 102)->isEnabled()); // not on the main view
    EXPECT_TRUE(kdui::mainMenuItemWithTag(window.get(), 101)->isEnabled());
}

} // namespace

int main(int argc, char** argv) { return kittest::runKitTests(argc, argv); }
