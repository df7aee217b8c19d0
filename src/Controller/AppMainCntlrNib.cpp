#include "AppMainCntlrNib.h"

#include "AppMainCntlrDSInfo.h"
#include "AppMainCntlrPorts.h"
#include "AppMainCntlrUIKit.h"
#include "PluginRegistryQueries.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"
#include "TvButtons.h"
#include "TvSlider.h"
#include "TvTextFields.h"
#include "TvUI.h"

#include <foundation/Bundle.h>
#include <foundation/Format.h>
#include <foundation/PropertyList.h>
#include <ui/ImageBrowserView.h>
#include <ui/MenuTags.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QSplitter>

#include <algorithm>
#include <cmath>

namespace qlr_nib {

namespace {

// What a missing text is looked up as: never a real text.
constexpr std::string_view kNoText = "\x01";

std::optional<std::string> textOrNone(std::string_view key) {
    auto bundle = kdf::Bundle::main();
    if (!bundle) return std::nullopt;
    std::string text = bundle->localizedString(key, kNoText);
    if (text == kNoText) return std::nullopt;
    return text;
}

QString localized(std::string_view key) {
    return QString::fromStdString(kdf::localizedMainString(key));
}

QWidget* findView(const std::vector<QWidget*>& roots, const char* name) {
    const QLatin1String wanted(name);
    for (QWidget* root : roots) {
        if (!root) continue;
        if (root->objectName() == wanted) return root;
        if (auto* view = root->findChild<QWidget*>(wanted)) return view;
    }
    return nullptr;
}

QWidget* controlIn(const std::vector<QWidget*>& roots, const char* view, int tag) {
    return QlrUtilsMethod::itemInViewFromTag(findView(roots, view), tag);
}

TvUI::ButtonKind buttonKind(const QAbstractButton* button) {
    if (qobject_cast<const TvMenuButton*>(button)) return TvUI::ButtonKind::Menu;
    const QString cell = button->property("kdCell").toString();
    if (cell == QLatin1String("TvColoredPushButtonCell")) return TvUI::ButtonKind::ColoredPush;
    if (cell == QLatin1String("TvArrowButtonCell")) return TvUI::ButtonKind::Arrow;
    return TvUI::ButtonKind::Other;
}

void fitToText(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        TvUI::setBestWidth(button, buttonKind(button), button->property("kdMinSize").toDouble());
    else if (auto* label = qobject_cast<QLabel*>(control))
        TvUI::setBestWidth(label);
    else if (auto* field = qobject_cast<QLineEdit*>(control))
        TvUI::setBestWidth(field);
}

} // namespace

// ---- Texts.

const std::vector<TextEntry>& mainWindowTexts() {
    static const std::vector<TextEntry> entries{
        {"Top_ContentView", 1000, "Top_StepScan_Title_Label", kLabel, 1},
        {"Top_ContentView", 1003, "Top_FavScan_Title_Label", kLabel, 1},
        {"Top_ContentView", 1011, "Top_StepScan_1_ExpLabel", kLabel | kFit, 2},
        {"Top_ContentView", 1021, "Top_StepScan_2_ExpLabel", kLabel | kFit, 2},
        {"Top_ContentView", 1031, "Top_StepScan_3_ExpLabel", kLabel | kFit, 2},
        {"Scan_ContentView", 4000, "Tooltip_SelectAll", kTip, 0},
        {"Scan_ContentView", 4001, "Tooltip_SelectOdd", kTip, 0},
        {"Scan_ContentView", 4002, "Tooltip_SelectEven", kTip, 0},
        {"Scan_ContentView", 4003, "Tooltip_Previous", kTip, 0},
        {"Scan_ContentView", 4006, "Tooltip_Following", kTip, 0},
        {"Scan_ContentView", 4007, "Tooltip_FitPreview", kTip, 0},
        {"Scan_ContentView", 4009, "Tooltip_ZoomPreview", kTipOnly, 0},
        {"Scan_ContentView", 4011, "Tooltip_HidePreview", kTip, 0},
        {"Scan_ContentView", 4012, "Tooltip_ShowHideEdit", kTip, 0},
        {"Scan_ContentView", 4039, "Tooltip_OutputSetting", kTipOnly | kTitle, 0},
        {"Scan_ContentView", 4013, "Scan_ImageProc_Title_Label", kLabel, 3},
        {"Scan_ContentView", 4020, "Scan_RevertOrigin_Btn", kTitle, 0},
        {"Scan_ContentView", 4030, "Scan_InputInfo_Title_Label", kLabel, 4},
        {"Scan_ContentView", 4031, "Scan_InputInfo_Label_Format", kLabel, 4},
        {"Scan_ContentView", 4032, "Scan_InputInfo_Label_Sub_Format", kLabel, 4},
        {"Scan_ContentView", 4033, "Scan_OutputInfo_Title_Label", kLabel | kFit, 4},
        {"Scan_ContentView", 4034, "Scan_OutputInfo_Label_Format", kLabel, 4},
        {"Scan_ContentView", 4035, "Scan_OutputInfo_Label_Sub_Format", kLabel, 4},
        {"Scan_ContentView", 4040, "Scan_ScanAdditional_Btn", kTitle, 0},
        {"Scan_ContentView", 4041, "Scan_Cancel_Btn", kTitle, 0},
        {"Scan_ContentView", 4042, "Scan_ExecuteOutput_Btn", kTitle, 0},
        {"Image_Proc_ShrinkView", 4100, "Image_ImageProc_Open_Btn", kTitle, 0},
        {"Image_Proc_CustomView", 4121, "Image_ImageProc_Brightness", kLabel, 4},
        {"Image_Proc_CustomView", 4131, "Image_ImageProc_Contrast", kLabel, 4},
        {"Image_Proc_CustomView", 4140, "Image_ImageProc_Gray", kTitle, 0},
        {"Image_Proc_CustomView", 4141, "Image_ImageProc_BW", kTitle, 0},
        {"Image_Proc_ShrinkView", 4102, "Image_ImageProc_Revert", kTitle, 0},
        {"Image_Proc_ShrinkView", 4103, "Image_ImageProc_Done", kTitle, 0},
        {"Image_Transform_ShrinkView", 4200, "Image_Transform_Open_Btn", kTitle, 0},
        {"Image_Transform_ShrinkView", 4211, "Image_Transform_Straighten", kLabel, 4},
        {"Image_Transform_ShrinkView", 4221, "Image_Transform_Trimming", kLabel, 4},
        {"Image_Transform_ShrinkView", 4222, "Image_Transform_Trimming_W", kLabel, 0},
        {"Image_Transform_ShrinkView", 4226, "Image_Transform_Trimming_H", kLabel, 0},
        {"Image_Transform_ShrinkView", 4224, "Image_Transform_Trimming_Unit", kLabel, 0},
        {"Image_Transform_ShrinkView", 4228, "Image_Transform_Trimming_Unit", kLabel, 0},
        {"Image_Transform_ShrinkView", 4230, "Image_Transform_Revert", kTitle, 0},
        {"Image_Transform_ShrinkView", 4231, "Image_Transform_Done", kTitle, 0},
        {"Image_Rotate_ShrinkView", 4300, "Image_Rotate_Open_Btn", kTitle, 0},
        {"Image_Rotate_ShrinkView", 4310, "Image_Rotate_Left", kTitle, 0},
        {"Image_Rotate_ShrinkView", 4311, "Image_Rotate_Right", kTitle, 0},
    };
    return entries;
}

const std::vector<TextEntry>& settingWindowTexts() {
    static const std::vector<TextEntry> entries{
        {"Setting_Input_View", 2100, "InputPanel_Title", kLabel, 0},
        {"Setting_Input_View", 2101, "ColorMode_Title", kLabel, 0},
        {"Setting_Input_View", 2103, "PaperSize_Title", kLabel, 0},
        {"Setting_Input_View", 2105, "Resolution_Title", kLabel, 0},
        {"Setting_Input_View", 2107, "ReadPage_Title", kLabel, 0},
        {"Setting_Input_View", 2109, "SkewType_Title", kLabel, 0},
        {"Setting_Input_View", 2111, "RotateOrientText", kLabel, 0},
        {"Setting_Input_View", 2112, "Panel_CheckBox", kTitle, 0},
        {"Setting_Input_View", 2114, "Panel_CheckBox", kTitle, 0},
        {"Setting_Input_View", 2113, "UseDriverUI", kLabel, 0},
        {"Setting_Input_View", 2115, "OpenDriverUIBtn", kTitle, 0},
        {"Setting_Output_View", 2200, "OutputPanel_Title", kLabel, 0},
        {"Setting_Output_View", 2201, "OutputType_Title", kLabel, 0},
        {"Setting_Output_View", 2203, "OutputType_DetailBtn", kTitle, 0},
        {"Setting_Output_View", 2205, "FileName_Title", kLabel, 0},
        {"Setting_Output_View", 2207, "FileName_UseSetting", kTitle, 0},
        {"Setting_Output_View", 2208, "FileName_DetailBtn", kTitle, 0},
        {"Setting_Output_View", 2209, "FileFormat_Title", kLabel, 0},
        {"Setting_Output_View", 2211, "FileFormat_DetailBtn", kTitle, 0},
        {"Setting_Output_View", 2212, "FileSave_Title", kLabel, 0},
        {"Setting_Option_View", 2400, "OptionTab_Title", kLabel, 0},
        {"Setting_Option_View", 2401, "EditImageAfterScan", kLabel, 0},
        {"Setting_Option_View", 2402, "Panel_CheckBox", kTitle, 0},
        {"Setting_Option_View", 2404, "Panel_CheckBox", kTitle, 0},
        {"Setting_Option_View", 2403, "ValidAddScan", kLabel, 0},
        {"Setting_Option_View", 2407, "Orderoutput", kLabel, 0},
        {"Setting_Whole_View", 2300, "WholeTab_Title", kLabel, 0},
        {"Setting_Whole_View", 2301, "Whole_Name", kLabel, 0},
        {"Setting_Whole_View", 2303, "Whole_Icon", kLabel, 0},
        {"Setting_Whole_View", 2305, "Whole_IconCheckBox", kTitle, 0},
        {"Setting_Whole_View", 2306, "Whole_IconSetBtn", kTitle, 0},
        {"Setting_FooterView", 2000, "Panel_Close", kTitle, 0},
    };
    return entries;
}

const char* allocKey(bool supportsMultiDeviceButtons) {
    return supportsMultiDeviceButtons ? "AllocJob" : "AllocDevicveBtn";
}

void applyText(QWidget* control, const QString& text, unsigned how, int colour) {
    if (!control) return;
    auto* button = qobject_cast<QAbstractButton*>(control);
    if (how & kLabel) {
        if (auto* label = qobject_cast<QLabel*>(control))
            label->setText(text);
        else if (auto* field = qobject_cast<QLineEdit*>(control))
            field->setText(text);
        else if (button)
            button->setText(text);
    }
    if ((how & kTitle) && button) button->setText(text);
    if (how & kTip) {
        control->setToolTip(text);
        // An image button draws no title; the text stays its accessible name.
        if (button) button->setAccessibleName(text);
    }
    if (how & kTipOnly) control->setToolTip(text);
    if (colour > 0) {
        QPalette palette = control->palette();
        const QColor c = TvUI::controlTitleColor(colour);
        palette.setColor(QPalette::WindowText, c);
        palette.setColor(QPalette::Text, c);
        palette.setColor(QPalette::ButtonText, c);
        control->setPalette(palette);
    }
    if (how & kFit) fitToText(control);
}

void applyTexts(const std::vector<QWidget*>& roots, const std::vector<TextEntry>& entries) {
    for (const TextEntry& e : entries)
        applyText(controlIn(roots, e.view, e.tag), localized(e.key), e.how, e.colour);
}

void applyMainMenuTitles(QMenuBar* menu) {
    if (!menu) return;
    QWidget* window = menu->window();
    struct Item {
        int tag;
        const char* key;
        bool withAppName;
    };
    static const Item kItems[] = {
        {101, "MainMenu_About", true},       {102, "MainMenu_Prefs", false},     {103, "MainMenu_AppHide", true},
        {104, "MainMenu_OtherHide", false},  {105, "MainMenu_ShowAll", false},   {106, "MainMenu_Quit", true},
        {203, "MainMenu_Cut", false},        {204, "MainMenu_Copy", false},      {205, "MainMenu_Paste", false},
        {206, "MainMenu_Delete", false},     {207, "MainMenu_SelectAll", false}, {301, "MainMenu_Miniaturize", false},
        {302, "MainMenu_Zoom", false},       {303, "MainMenu_Close", false},     {304, "MainMenu_FrontAll", false},
        {401, "MainMenu_ShowHelpHelp", true},
    };
    // The top-level items and their menus; the application menu has no title.
    static const std::pair<int, const char*> kTop[] = {
        {100, nullptr}, {200, "MainMenu_Edit"}, {300, "MainMenu_Window"}, {400, "MainMenu_Help"}};
    for (const auto& [tag, key] : kTop) {
        QAction* item = kdui::mainMenuItemWithTag(window, tag);
        if (!item) continue;
        std::optional<std::string> text = key ? textOrNone(key) : std::optional<std::string>(std::string());
        if (!text) continue;
        item->setText(QString::fromStdString(*text));
        if (QMenu* submenu = item->menu()) submenu->setTitle(QString::fromStdString(*text));
    }
    for (const Item& e : kItems) {
        QAction* item = kdui::mainMenuItemWithTag(window, e.tag);
        if (!item) continue;
        std::optional<std::string> text = textOrNone(e.key);
        if (!text) continue;
        if (e.withAppName) *text = kdf::formatLocalized(*text, {kdf::FormatArg(QlrUtilsMethod::appName())});
        item->setText(QString::fromStdString(*text));
    }
}

void applyImageProcSegments(QWidget* shrinkView, bool ltr) {
    auto* control = qobject_cast<TvSegmentedControl*>(QlrUtilsMethod::itemInViewFromTag(shrinkView, 4101));
    if (!control || control->segmentCount() < 2) return;
    control->setLabel(localized("Image_ImageProc_Typical"), ltr ? 0 : 1);
    control->setLabel(localized("Image_ImageProc_Custom"), ltr ? 1 : 0);
    QWidget* parent = control->parentWidget();
    if (!parent) return;
    const int width = control->widthForSegment(0) + control->widthForSegment(1);
    control->move(int(std::floor((parent->width() - width) / 2.0)), control->y());
}

// ---- Preset lists.

bool namesMissingPlugin(const kdf::Value& output, const std::vector<std::string>& installed) {
    const kdf::Dictionary* dict = output.dictionary();
    const kdf::Value* id = dict ? kdf::find(*dict, "Output_PluginIDKey") : nullptr;
    const std::string* name = id ? id->string() : nullptr;
    return name && !name->empty() && std::find(installed.begin(), installed.end(), *name) == installed.end();
}

kdf::Array usablePresetOutputs(const kdf::Value* list, const std::vector<std::string>& installed) {
    const kdf::Array* outputs = list ? list->array() : nullptr;
    if (!outputs) return {};
    kdf::Array kept = *outputs;
    // From the end, so the removals leave the indexes still to visit alone.
    for (std::size_t i = kept.size(); i-- > 0;) {
        if (!kept[i].dictionary() || namesMissingPlugin(kept[i], installed))
            kept.erase(kept.begin() + std::ptrdiff_t(i));
    }
    return kept;
}

kdf::Array usablePresetJobs(const kdf::Value* list, const std::vector<std::string>& installed) {
    const kdf::Array* jobs = list ? list->array() : nullptr;
    if (!jobs) return {};
    kdf::Array kept = *jobs;
    for (std::size_t i = kept.size(); i-- > 0;) {
        const kdf::Dictionary* job = kept[i].dictionary();
        const kdf::Value* outputs = job ? kdf::find(*job, "Job_JobOutputModel_DictListKey") : nullptr;
        const kdf::Array* outputList = outputs ? outputs->array() : nullptr;
        const bool usable = outputList && std::any_of(outputList->begin(), outputList->end(), [&](const kdf::Value& o) {
                                return o.dictionary() && !namesMissingPlugin(o, installed);
                            });
        if (!usable) kept.erase(kept.begin() + std::ptrdiff_t(i));
    }
    return kept;
}

kdf::Array presetMenuTitles(int panelType, const kdf::Value* list, const std::vector<std::string>& installed) {
    kdf::Array entries;
    if (panelType == kOutputPanelType) {
        entries = usablePresetOutputs(list, installed);
    } else if (panelType == kJobPanelType) {
        entries = usablePresetJobs(list, installed);
    } else if (const kdf::Array* inputs = list ? list->array() : nullptr) {
        for (const kdf::Value& v : *inputs)
            if (v.dictionary()) entries.push_back(v);
    }
    kdf::Array titles;
    for (const kdf::Value& entry : entries) {
        const kdf::Dictionary& dict = *entry.dictionary();
        const kdf::Value* titleValue = kdf::find(dict, "Whole_TitleKey");
        const std::string* title = titleValue ? titleValue->string() : nullptr;
        if (panelType != kOutputPanelType) {
            titles.emplace_back(title ? *title : std::string());
            continue;
        }
        const kdf::Value* idValue = kdf::find(dict, "Output_PluginIDKey");
        const std::string* id = idValue ? idValue->string() : nullptr;
        if (id && !id->empty()) {
            const auto name = PluginRegistryQueries::valueForPluginIDWithType(*id, 1);
            const std::string* text = name ? name->string() : nullptr;
            titles.emplace_back(text ? *text : std::string());
        } else {
            titles.emplace_back(title ? localized(*title).toStdString() : std::string());
        }
    }
    return titles;
}

std::optional<kdf::Value> bundlePresetList(const char* name) {
    auto bundle = kdf::Bundle::main();
    if (!bundle) return std::nullopt;
    const std::string path = bundle->pathForResource(name, "plist");
    if (path.empty()) return std::nullopt;
    return kdf::readPropertyListFile(path);
}

void fillCreatePanelMenus(QWidget* top, AppMainWindowPort& port, const std::vector<std::string>& installed) {
    struct MenuButton {
        int tag;
        const char* list;
        const char* title;
        int panelType;
        bool isUseKey;
    };
    static const MenuButton kButtons[] = {
        {1012, "Preset_InputList", "Top_CreatePanel", kInputPanelType, true},
        {1022, "Preset_OutputList", "Top_CreatePanel_Exp", kOutputPanelType, false},
        {1040, "Preset_JobList", "Top_CreatePanel_Fav", kJobPanelType, true},
    };
    for (const MenuButton& b : kButtons) {
        auto* button = qobject_cast<TvMenuButton*>(QlrUtilsMethod::itemInViewFromTag(top, b.tag));
        if (!button) continue;
        button->setText(localized(b.title));
        fitToText(button);
        QMenu* menu = button->btnMenu();
        if (!menu) {
            menu = new QMenu(button);
            button->setBtnMenu(menu);
        }
        const std::optional<kdf::Value> list = bundlePresetList(b.list);
        const kdf::Value titles(presetMenuTitles(b.panelType, list ? &*list : nullptr, installed));
        menu->clear();
        AppMainCntlrUIKit::setMenuItemStringList(
            menu, titles.array(), button, [&port](QAction* item) { port.createPanel(item); }, b.panelType, b.isUseKey);
        if (b.panelType != kInputPanelType) kdui::setAutoenablesItems(menu, false);
    }
    for (auto [tag, key] : {std::pair{1032, "Top_ScanButton"}, std::pair{1033, "Top_AddToJobButton"}})
        applyText(QlrUtilsMethod::itemInViewFromTag(top, tag), localized(key), kTitle | kFit, 0);
}

// ---- Input rules.

QString digitCharacters(bool withSign) {
    QString digits = QStringLiteral("1234567890");
    for (char16_t c = 0x0661; c <= 0x0669; ++c) digits += QChar(c);
    digits += QChar(char16_t(0x0660));
    return withSign ? QStringLiteral("-") + digits : digits;
}

void applyInputRules(const std::vector<QWidget*>& roots) {
    const QString lineBreaks = QStringLiteral("\r\n");
    for (auto [view, tag, length] : {std::tuple{"Setting_Title_View", 2302, kPanelNameLength},
                                     std::tuple{"Setting_FileName_View", 2206, kFileNameLength}}) {
        if (auto* field = qobject_cast<TV_FTextField*>(controlIn(roots, view, tag))) {
            field->setInvalidCharsInString(lineBreaks);
            field->setValidLength(length);
        }
    }
    struct Numeric {
        const char* view;
        int tag;
        bool withSign;
        int length;
    };
    static const Numeric kFields[] = {
        {"Scan_ContentView", 4004, false, 4},          {"Image_Proc_CustomView", 4122, true, 4},
        {"Image_Proc_CustomView", 4132, true, 4},      {"Image_Transform_ShrinkView", 4212, true, 3},
        {"Image_Transform_ShrinkView", 4214, false, 1}, {"Image_Transform_ShrinkView", 4223, false, 3},
        {"Image_Transform_ShrinkView", 4227, false, 3},
    };
    for (const Numeric& n : kFields) {
        if (auto* field = qobject_cast<TV_FTextField*>(controlIn(roots, n.view, n.tag))) {
            field->setValidCharsInString(digitCharacters(n.withSign));
            field->setValidLength(n.length);
        }
    }
    if (auto* zoom = qobject_cast<TvSlider*>(controlIn(roots, "Scan_ContentView", 4009))) {
        zoom->setMinValue(1.0);
        zoom->setMaxValue(4.0);
        zoom->setAltIncrementValue(0.05);
    }
    static const std::tuple<const char*, int, double> kSliders[] = {
        {"Image_Proc_CustomView", 4123, 1.0},      {"Image_Proc_CustomView", 4133, 1.0},
        {"Image_Transform_ShrinkView", 4215, 0.1}, {"Image_Transform_ShrinkView", 4225, 1.0},
        {"Image_Transform_ShrinkView", 4229, 1.0},
    };
    for (const auto& [view, tag, step] : kSliders)
        if (auto* slider = qobject_cast<TvSlider*>(controlIn(roots, view, tag))) slider->setAltIncrementValue(step);
}

// ---- Split views and browsers.

DividerLimits scanSplitLimits(int splitWidth, bool ltr) {
    if (ltr) return {kThumbnailPaneMinimum, kThumbnailPaneMaximum};
    return {splitWidth - kThumbnailPaneMaximum, splitWidth - kThumbnailPaneMinimum};
}

DividerLimits stepSplitLimits(int splitHeight) { return {kStepPaneMinimum, splitHeight - kStepPaneMinimum}; }

void applySplitLimits(QWidget* window) {
    // A QSplitter keeps each pane within its own limits in either
    // direction, which gives the divider the limits above.
    const std::vector<QWidget*> roots{window};
    if (auto* scan = qobject_cast<QSplitter*>(findView(roots, "Scan_SplitView"))) {
        if (QWidget* thumbnails = findView(roots, "Scan_Thumbnail_SplitSubView")) {
            thumbnails->setMinimumWidth(kThumbnailPaneMinimum);
            thumbnails->setMaximumWidth(kThumbnailPaneMaximum);
        }
        if (QWidget* preview = findView(roots, "Scan_Preview_SplitSubView"))
            preview->setMinimumWidth(kThumbnailPaneMinimum);
        // The thumbnail pane keeps its width when the window resizes.
        const int index = scan->indexOf(findView(roots, "Scan_Thumbnail_SplitSubView"));
        if (index >= 0) {
            scan->setStretchFactor(index, 0);
            scan->setStretchFactor(1 - index, 1);
            QList<int> sizes = scan->sizes();
            if (sizes.size() == 2) {
                const int total = sizes[0] + sizes[1];
                sizes[index] = kThumbnailPaneWidth;
                sizes[1 - index] = std::max(0, total - kThumbnailPaneWidth);
                scan->setSizes(sizes);
            }
        }
    }
    if (qobject_cast<QSplitter*>(findView(roots, "Top_StepScan_SplitView"))) {
        for (const char* pane : {"Top_StepScan_Step1_SplitSubView", "Top_StepScan_Step2_SplitSubView"})
            if (QWidget* view = findView(roots, pane)) view->setMinimumHeight(kStepPaneMinimum);
    }
}

std::optional<QSize> pageCellSize(int browserWidth, bool previewShown) {
    // Without a browser of some width the side would be negative: the cells
    // keep their size.
    if (!previewShown || browserWidth <= kPageCellInset) return std::nullopt;
    const int side = browserWidth - kPageCellInset;
    return QSize(side, side);
}

void setCellSizeOfPreImageIBView(kdui::ImageBrowserView* browser, bool previewShown) {
    if (!browser) return;
    if (const auto size = pageCellSize(browser->width(), previewShown)) browser->setCellSize(*size);
}

void setUpPageBrowser(kdui::ImageBrowserView* browser) {
    if (!browser) return;
    browser->setBackgroundColor(QColor(255, 255, 255));
    browser->setAllowsReordering(true);
    browser->setAllowsMultipleSelection(true);
    browser->setAllowsEmptySelection(false);
    browser->setCellsTitled(true);
    browser->setIntercellSpacing(QSize(10, 8));
    browser->setSelectionColor(QColor::fromRgbF(0.25f, 0.25f, 0.25f, 1.0f));
}

void setUpPanelBrowsers(AppMainWindowPort& port) {
    for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType}) {
        auto* browser = dynamic_cast<kdui::ImageBrowserView*>(port.panelBrowser(type));
        if (!browser) continue;
        const QColor background = type == kJobPanelType ? QColor(241, 241, 241) : QColor(226, 226, 226);
        browser->setBackgroundColor(background);
        browser->setAllowsReordering(true);
        browser->setAllowsMultipleSelection(false);
        browser->setAllowsEmptySelection(true);
        browser->setIntercellSpacing(QSize(10, 10));
        browser->setSelectionColor(QColor::fromRgbF(0.25f, 0.25f, 0.25f, 1.0f));
    }
}

// ---- Main-menu enabling.

void editMenuWillOpen(QWidget* window, QWidget* focus, const std::vector<QWidget*>& panelBrowsers,
                      QWidget* pageBrowser) {
    QAction* edit = kdui::mainMenuItemWithTag(window, 200);
    QMenu* menu = edit ? edit->menu() : nullptr;
    if (!menu) return;
    const bool panel = focus && std::find(panelBrowsers.begin(), panelBrowsers.end(), focus) != panelBrowsers.end();
    const bool pages = focus && focus == pageBrowser;
    if (!panel && !pages) {
        kdui::setAutoenablesItems(menu, true);
        for (int tag = 201; tag <= 207; ++tag)
            if (QAction* item = kdui::mainMenuItemWithTag(window, tag)) item->setEnabled(true);
        return;
    }
    kdui::setAutoenablesItems(menu, false);
    for (int tag = 201; tag <= 206; ++tag)
        if (QAction* item = kdui::mainMenuItemWithTag(window, tag)) item->setEnabled(false);
    if (QAction* selectAll = kdui::mainMenuItemWithTag(window, 207)) selectAll->setEnabled(pages);
}

bool isFrontUsable(const QWidget* window) {
    return window && window->isVisible() && window->isActiveWindow() && !window->isMinimized();
}

void validateMainMenu(QWidget* window, const MainMenuState& state) {
    auto enable = [window](int tag, bool on) {
        if (QAction* item = kdui::mainMenuItemWithTag(window, tag)) item->setEnabled(on);
    };
    enable(106, !state.modalWindowOpen);
    enable(101, !state.pluginWindowShown && !state.modalWindowOpen);
    enable(102, !state.modalWindowOpen && state.mainTopState);
    enable(303, state.closeAllowed);
}

// ---- The whole preparation.

void awakeFromNib(const NibViews& views, AppMainWindowPort& port) {
    const bool ltr = QlrUtilsMethod::isLTR_LayoutDirection();
    QWidget* window = views.mainWindow;
    if (!window) return;
    const std::vector<QWidget*> mainRoots{window};
    const std::vector<QWidget*> settingRoots{views.settingWindow};

    // Minimum widths of the coloured push buttons.
    for (auto [view, tag, width] : {std::tuple{"Top_StepScan_SubView", 1032, 218}, std::tuple{"Scan_ContentView", 4040, 155},
                                    std::tuple{"Scan_ContentView", 4041, 95}, std::tuple{"Scan_ContentView", 4042, 181}}) {
        auto* button = qobject_cast<QAbstractButton*>(controlIn(mainRoots, view, tag));
        if (button && buttonKind(button) == TvUI::ButtonKind::ColoredPush) {
            button->setProperty("kdMinSize", width);
            button->setMinimumWidth(width);
        }
    }
    // The product's name is the same in every language.
    window->setWindowTitle(QStringLiteral("Pelloran Quillora"));
    applyMainMenuTitles(window->findChild<QMenuBar*>());
    applyTexts(mainRoots, mainWindowTexts());
    applyImageProcSegments(findView(mainRoots, "Image_Proc_ShrinkView"), ltr);
    applyTexts(settingRoots, settingWindowTexts());
    applyText(controlIn(settingRoots, "Setting_Option_View", 2405),
              localized(allocKey(AppMainCntlrDSInfo::isSupportedMultiDeviceBtns())), kLabel, 0);
    fillCreatePanelMenus(findView(mainRoots, "Top_ContentView"), port, QlrUtilsMethod::pluginNameList());
    applyInputRules({window, views.settingWindow});
    applySplitLimits(window);

    // The preview's scroll view in gray 215.
    if (QWidget* preview = findView(mainRoots, "Scan_PreviewBaseView")) {
        if (auto* area = qobject_cast<QScrollArea*>(preview->parentWidget() ? preview->parentWidget()->parentWidget()
                                                                             : nullptr)) {
            QPalette palette = area->palette();
            palette.setColor(QPalette::Window, QColor(215, 215, 215));
            palette.setColor(QPalette::Dark, QColor(215, 215, 215));
            area->setPalette(palette);
            area->setBackgroundRole(QPalette::Dark);
            // The square between the two scroll bars in the same gray.
            auto* corner = new QWidget;
            corner->setObjectName(QStringLiteral("Scan_PreviewCornerView"));
            corner->setFixedSize(9, 9);
            corner->setAutoFillBackground(true);
            QPalette cornerPalette = corner->palette();
            cornerPalette.setColor(QPalette::Window, QColor(215, 215, 215));
            corner->setPalette(cornerPalette);
            area->setCornerWidget(corner);
        }
    }

    // Mirroring for a right-to-left language.
    std::vector<QWidget*> mirrored{findView(mainRoots, "Top_ContentView"), findView(mainRoots, "Scan_ContentView")};
    for (QWidget* w : views.flatWindows) mirrored.push_back(w);
    if (views.settingWindow) mirrored.push_back(views.settingWindow);
    for (QWidget* view : mirrored)
        if (view) QlrUtilsMethod::layoutLeftToRight(view);
    // Both content views fill the window's content view, whichever shows.
    for (const char* name : {"Top_ContentView", "Scan_ContentView"}) {
        QWidget* view = findView(mainRoots, name);
        if (view && view->parentWidget()) view->setGeometry(view->parentWidget()->rect());
    }
    if (!ltr) {
        // The angle field takes a sign and two digits in right-to-left layout.
        if (auto* angle = qobject_cast<TV_FTextField*>(controlIn(mainRoots, "Image_Transform_ShrinkView", 4214))) {
            angle->setValidCharsInString(digitCharacters(true));
            angle->setValidLength(2);
            angle->setMinimumWidth(angle->minimumWidth() + 15);
        }
    }
}

} // namespace qlr_nib
