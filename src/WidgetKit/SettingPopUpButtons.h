// The setting pop-up buttons: each fills its menu from a fixed table whose
// titles are localisation keys of the main bundle and whose tags are the
// values the models store. The data-source lists follow the controller's
// answers (AppControllerServices) and are filled again by setUpMethod when
// the data source changes; the file-format pop-up keeps one menu per
// send-to plug-in, the output-type pop-up lists the loaded plug-ins
// (PluginRegistryQueries).
#pragma once

#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include <string>
#include <utility>
#include <vector>

class QAction;

// A push button with a menu of tagged items, one of them checked and shown
// as the button's title and image, drawn as the style's combo box.
class TvPopUpButton : public QPushButton {
    Q_OBJECT
public:
    explicit TvPopUpButton(QWidget* parent = nullptr);

    QMenu* popUpMenu() const { return mMenu; }
    // Shows another menu (its owner stays responsible for it); the item with
    // the selected tag stays selected, else the first item.
    void setPopUpMenu(QMenu* menu);
    void removeAllItems();

    QAction* selectedItem() const { return mSelected; }
    // The selected item's tag; -1 when nothing is selected.
    int selectedTag() const;
    // -1 when nothing is selected.
    int indexOfSelectedItem() const;
    // False (selection kept) when no item has the tag.
    bool selectItemWithTag(int tag);
    void selectItem(QAction* item);
    int numberOfItems() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void activated(int tag);

protected:
    void paintEvent(QPaintEvent* event) override;
    // Selects the first item when none is selected (after a fill).
    void selectFirstWhenNone();
    // A new menu owned by this button holding copies of the menu's items.
    QMenu* copyOfMenu(const QMenu* menu);

private:
    void showSelected();
    QPointer<QMenu> mMenu;
    QPointer<QAction> mSelected;
    QMetaObject::Connection mTriggered;
};

// The localised title of a key (main bundle, default table).
QString popUpTitle(const char* key);

class ColorModePopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit ColorModePopUpButton(QWidget* parent = nullptr);
    void setUpMethod();
};

class PaperSizePopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit PaperSizePopUpButton(QWidget* parent = nullptr);
    void setUpMethod();
};

class ResolutionPopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit ResolutionPopUpButton(QWidget* parent = nullptr);
    void setUpMethod();
};

class ScanSidePopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit ScanSidePopUpButton(QWidget* parent = nullptr);
    void setUpMethod();
};

class SkewPopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit SkewPopUpButton(QWidget* parent = nullptr);
    void setUpMethod();
};

class ScanBtnStatusPopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit ScanBtnStatusPopUpButton(QWidget* parent = nullptr);
    void setUpMethod();
};

class FileFormatPopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    static constexpr const char* kBaseMenuKey = "FileFormatBaseMenuKey";
    explicit FileFormatPopUpButton(QWidget* parent = nullptr);
    // A copy of the base menu keeping the given formats (0 to 3) for the
    // plug-in; an id added again replaces its menu. Nothing without an id.
    void addOtherMenu(const std::vector<int>& formats, const QString& pluginID);
    // Shows the plug-in's menu (the base menu for an empty id); an unknown
    // id changes nothing.
    void changeMenuByPluginID(const QString& pluginID);
    void removeMenuByPluginID(const QString& pluginID);
    QMenu* menuForKey(const QString& key) const;

private:
    std::vector<std::pair<QString, QMenu*>> mMenuArray;
};

class FileSavePopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit FileSavePopUpButton(QWidget* parent = nullptr);
};

class FileNameDateTimePopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit FileNameDateTimePopUpButton(QWidget* parent = nullptr);
};

class FileNameNumberPopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit FileNameNumberPopUpButton(QWidget* parent = nullptr);
};

class PDFCompPopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit PDFCompPopUpButton(QWidget* parent = nullptr);
};

class PDFOCRLangPopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit PDFOCRLangPopUpButton(QWidget* parent = nullptr);
    // Lists the languages PDF/A allows (showing an error and taking English
    // when the given one is not among them) or all, then selects it.
    void remakeMenuList(bool isPDFA, int ocrLangType);
    static bool isConvertableWithPDFA(int ocrLangType);
};

class OutputTypePopUpButton : public TvPopUpButton {
    Q_OBJECT
public:
    explicit OutputTypePopUpButton(QWidget* parent = nullptr);
    // The base item and one item per plug-in id.
    void remakeMenuList(const std::vector<std::string>& pluginIDs);
    // The base menu; the pop-up owns it and deletes the one it replaces.
    QMenu* baseMenu() const { return mBaseMenu; }
    void setBaseMenu(QMenu* menu);

private:
    QPointer<QMenu> mBaseMenu;
};
