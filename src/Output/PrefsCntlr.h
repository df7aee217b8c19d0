// The preferences window: General, Plug-in and Maintenance pages chosen from
// a toolbar, the application-wide preferences, the backup of all settings
// into a property-list file and their restore, and the reset of all
// settings followed by a relaunch. The Plug-in page lists the loaded
// send-to plug-ins (PrefsCntlrPluginTable.cpp).
#pragma once

#include <foundation/Value.h>

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QStyledItemDelegate>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class PrefsModel;
class QAction;
class QFileDialog;
class QStackedWidget;
class QTableWidget;
class QToolBar;
class QWidget;

class PrefsCntlr : public QObject {
public:
    enum Tag : int {
        kStartingWayTextTag = 100,
        kResidentCheckTag = 101,
        kDisplayTextTag = 103,
        kShowPlugInScanCheckTag = 104,
        kHideAppStartCheckTag = 105,
        kBackupTextTag = 106,
        kSaveBackupTag = 107,
        kLoadBackupTag = 108,
        kPluginTableTag = 200,
        kPluginSettingTag = 201,
        kPluginValidTag = 202,
        kInitializeTextTag = 300,
        kInitializeTag = 301,
        kInitializeSubTextTag = 302,
    };
    // The backup's key of the plug-ins' settings.
    static constexpr const char* kPluginsKey = "Plugins";
    // A backup file larger than this is no backup of ours.
    static constexpr std::size_t kMaxBackupBytes = std::size_t(4) << 20;
    // The icon of a plug-in in its row.
    static constexpr int kPluginIconSize = 16;

    static PrefsCntlr* sharedPrefsCntlr();
    // Writes the preferences to the user defaults and ends the singleton.
    static void terminatePrefsCntlr();
    // Ends the singleton without writing anything (previews of the window).
    static void discardPrefsCntlr();

    // Opens the panel (refreshing the plug-in table when it was hidden) and
    // makes it the key window.
    void runModalPrefs();
    void closePrefsPanel();
    QWidget* prefsPanel() const { return panel_; }
    QWidget* tabBasicView() const;
    QWidget* tabPluginView() const;
    QWidget* tabMaintenanceView() const;
    QToolBar* toolbar() const;
    // A control of the panel by tag.
    QWidget* control(int tag) const;

    std::shared_ptr<PrefsModel> prefsModel() const { return prefsModel_; }
    void setPrefsModel(std::shared_ptr<PrefsModel> model);

    // The control of that tag was used.
    void changePrefsSettings(int tag);
    // Switches to the page of a toolbar identifier (only while the panel is
    // the key window); an unknown one keeps the page.
    void changeToolbarItem(const QString& identifier);
    // The toolbar's identifiers in order for a system version code and
    // layout direction (an empty string is a flexible space).
    static std::vector<QString> identifierListOfToolbar(int osVersion, bool leftToRight);
    // Page heights as measured when the panel was set up.
    int titleBarHeight() const { return titleRect_.height(); }
    QRect pageRect(int index) const;

    // Runs a save or open panel; the chosen path, none when cancelled. The
    // default runs the dialog modally; tests replace it.
    using FilePanelRunner = std::function<std::optional<std::string>(QFileDialog&)>;
    static void setFilePanelRunner(FilePanelRunner runner);

    // The plug-in table.
    QTableWidget* prefPluginTableView() const;
    void setupPrefPluginTableView();
    void reloadPluginTable();
    void showCommonSettingOfPlugin();
    void changeValidPlugin();
    // The icon of a plug-in row: the image at the path when it is readable
    // and of a sane size, else the file-system icon of the path, else the
    // kit's plug-in image; 16 x 16.
    static QImage pluginIconImage(const std::optional<std::string>& iconPath);

private:
    PrefsCntlr();
    ~PrefsCntlr() override;
    void awakeFromNib();
    void initPrefsPanel();
    void setUpPrefsWindowSize();
    void checkLineFrameOfText(QWidget* text);
    void backupSettings();
    void restoreSettings();
    void resetSettings();
    std::optional<std::string> runFilePanel(bool save);
    void showAlertLater(const char* title, const char* msg, std::optional<std::string> localizedMsg, int style);
    void initPrefPluginTableView();
    void pluginSelectionDidChange();
    std::optional<std::string> selectedPluginID() const;

    QPointer<QWidget> panel_;
    QPointer<QStackedWidget> tabView_;
    QPointer<QToolBar> toolbar_;
    QPointer<QWidget> maintenanceInitView_;
    QPointer<QWidget> maintenanceDeviceView_;
    QRect titleRect_;
    QRect basicViewRect_, pluginViewRect_, maintenanceRect_;
    std::shared_ptr<PrefsModel> prefsModel_;
};

// The name column of the plug-in table: the icon centred in a 40-point band
// on the leading side, the name after it, cut at the end when it is long.
class TvPluginNameColmCell : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // White on a highlighted row, else black.
    static QColor titleColor(bool highlighted);
};
