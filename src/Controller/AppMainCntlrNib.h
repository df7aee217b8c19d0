// The main window made ready once its form is loaded: every visible text
// from its localisation key, the three create-panel menus from the preset
// lists of the bundle (leaving out what needs a plug-in that is not
// installed), the input rules of text fields and the sliders' ranges, the
// mirrored layout of a right-to-left language, the split views' limits, and
// the four image browsers' appearance. Main thread only.
#pragma once

#include <foundation/Value.h>

#include <QSize>
#include <QString>

#include <optional>
#include <string>
#include <vector>

class AppMainWindowPort;
class QMenuBar;
class QWidget;

namespace kdui {
class ImageBrowserView;
}

namespace qlr_nib {

// How a text is applied to its control.
enum TextHow : unsigned {
    kLabel = 1u << 0,   // the text of a label or field
    kTitle = 1u << 1,   // a button's title
    kTip = 1u << 2,     // a button's tool tip and title
    kTipOnly = 1u << 3, // the control's tool tip
    kFit = 1u << 4,     // sized to its text afterwards
};

struct TextEntry {
    const char* view; // outlet name of the view holding the control
    int tag;
    const char* key;
    unsigned how;
    int colour; // 0: the colour is left as it is
};

// The main window's texts in the order they are set.
const std::vector<TextEntry>& mainWindowTexts();
// The setting window's texts; tag 2405's key is chosen at the time.
const std::vector<TextEntry>& settingWindowTexts();

// Sets one text on a control (none: nothing).
void applyText(QWidget* control, const QString& text, unsigned how, int colour);
// Every entry whose view and control exist among the roots' descendants.
void applyTexts(const std::vector<QWidget*>& roots, const std::vector<TextEntry>& entries);
// The key of tag 2405: a job per device button, or the device's buttons.
const char* allocKey(bool supportsMultiDeviceButtons);

// The main menu's titles by tag; an item keeps its title when its key has
// no text.
void applyMainMenuTitles(QMenuBar* menu);
// The segmented control 4101: its two labels in reading order, centred in
// its view.
void applyImageProcSegments(QWidget* shrinkView, bool ltr);

// ---- Preset lists.
// Whether an output dictionary names a plug-in that is not installed.
bool namesMissingPlugin(const kdf::Value& output, const std::vector<std::string>& installed);
// The outputs without those naming a missing plug-in; not an array: empty.
kdf::Array usablePresetOutputs(const kdf::Value* list, const std::vector<std::string>& installed);
// The jobs with at least one usable output, each with all its outputs.
kdf::Array usablePresetJobs(const kdf::Value* list, const std::vector<std::string>& installed);
// The menu's titles for a panel type (0 input, 1 output, 2 job) from the
// usable presets: keys for inputs and jobs, texts for outputs.
kdf::Array presetMenuTitles(int panelType, const kdf::Value* list, const std::vector<std::string>& installed);
// The preset list of the main bundle ("Preset_InputList" …); none: null.
std::optional<kdf::Value> bundlePresetList(const char* name);
// Fills the menus of buttons 1012, 1022 and 1040; an item's choice calls
// the port's createPanel with the item.
void fillCreatePanelMenus(QWidget* topContentView, AppMainWindowPort& port, const std::vector<std::string>& installed);

// ---- Input rules.
// "1234567890" and the ten Arabic-Indic digits, "-" first when signed.
QString digitCharacters(bool withSign);
inline constexpr int kPanelNameLength = 40;
inline constexpr int kFileNameLength = 64;
// The numeric fields and sliders of the scan screen and the edit panes,
// and the name fields of the setting window, among the roots.
void applyInputRules(const std::vector<QWidget*>& roots);

// ---- Split views and browsers.
inline constexpr int kStepPaneMinimum = 180;
inline constexpr int kThumbnailPaneMinimum = 97;
inline constexpr int kThumbnailPaneMaximum = 414;
inline constexpr int kThumbnailPaneWidth = 186;
// Divider limits of the scan split view: the thumbnail pane between 97 and
// 414 wide, on the left in left-to-right layout and on the right else.
struct DividerLimits {
    int minimum;
    int maximum;
};
DividerLimits scanSplitLimits(int splitWidth, bool ltr);
DividerLimits stepSplitLimits(int splitHeight);
void applySplitLimits(QWidget* window);
// The page browser's square cells: the browser's width less 28 while the
// preview is shown; without a browser width nothing changes.
inline constexpr int kPageCellInset = 28;
std::optional<QSize> pageCellSize(int browserWidth, bool previewShown);
void setCellSizeOfPreImageIBView(kdui::ImageBrowserView* browser, bool previewShown);
// The page browser's look (the panel browsers are the port's).
void setUpPageBrowser(kdui::ImageBrowserView* browser);
void setUpPanelBrowsers(AppMainWindowPort& port);

// ---- Main-menu enabling.
// The Edit menu as it opens: with a panel browser or the page browser
// focused only Select All may be offered (and only for the page browser);
// with another focus or none the items enable themselves.
void editMenuWillOpen(QWidget* window, QWidget* focus, const std::vector<QWidget*>& panelBrowsers,
                      QWidget* pageBrowser);
struct MainMenuState {
    bool modalWindowOpen = false;
    bool mainTopState = true;
    bool pluginWindowShown = false;
    // The main window, else the About window or the preferences panel, is
    // visible, active and not minimised (and, for the main window, no modal
    // window is open).
    bool closeAllowed = true;
};
// Quit, About, Preferences and Close by the state.
void validateMainMenu(QWidget* window, const MainMenuState& state);
// Whether a window may be closed from the menu now.
bool isFrontUsable(const QWidget* window);

// ---- The whole preparation.
struct NibViews {
    QWidget* mainWindow = nullptr;
    QWidget* settingWindow = nullptr;
    std::vector<QWidget*> flatWindows; // About, process, complete
};
void awakeFromNib(const NibViews& views, AppMainWindowPort& port);

} // namespace qlr_nib
