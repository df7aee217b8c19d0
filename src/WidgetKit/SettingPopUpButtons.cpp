#include "SettingPopUpButtons.h"

#include "AppControllerServices.h"
#include "PluginRegistryQueries.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"
#include "TV_Func.h"
#include "TV_FuncUI.h"
#include "TV_Message.h"
#include "TvUI.h"

#include <foundation/Bundle.h>
#include <foundation/Exception.h>
#include <foundation/Format.h>
#include <ui/ViewTag.h>

#include <QAction>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>
#include <array>

using namespace QlrUtilsMethod;

namespace {

constexpr QSize kMenuIconSize(16, 16);

struct Item {
    const char* key;
    int tag;
};

// Photo mode on the device.
constexpr std::uint16_t kCapPhotoMode = 0x819A;

QIcon menuIcon(const QImage& image) {
    if (image.isNull()) return {};
    return imageForMenuIcon(QIcon(QPixmap::fromImage(
        image.size() == kMenuIconSize ? image
                                      : image.scaled(kMenuIconSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))));
}

QIcon bundleMenuIcon(const char* name) { return menuIcon(bundleImageNamed(name)); }

QIcon fileMenuIcon(std::string_view path) {
    const QIcon icon = iconOf(fileIcnImage(path));
    if (icon.isNull()) return {};
    return menuIcon(icon.pixmap(kMenuIconSize).toImage());
}

void addItems(TvPopUpButton* button, std::initializer_list<Item> items) {
    for (const Item& item : items) TV_Func::addMenuItem(button, popUpTitle(item.key), item.tag);
}

} // namespace

QString popUpTitle(const char* key) {
    const auto bundle = kdf::Bundle::main();
    if (!bundle) return QString::fromUtf8(key);
    return QString::fromStdString(bundle->localizedString(key));
}

// --- TvPopUpButton

TvPopUpButton::TvPopUpButton(QWidget* parent) : QPushButton(parent) {
    setIconSize(kMenuIconSize);
    setPopUpMenu(new QMenu(this));
}

void TvPopUpButton::setPopUpMenu(QMenu* menu) {
    const int tag = selectedTag();
    const bool hadSelection = mSelected != nullptr;
    if (mTriggered) disconnect(mTriggered);
    mMenu = menu;
    setMenu(menu);
    mSelected = nullptr;
    if (menu) {
        mTriggered = connect(menu, &QMenu::triggered, this, [this](QAction* item) {
            selectItem(item);
            emit activated(kdui::tag(item));
        });
        if (hadSelection) selectItemWithTag(tag);
    }
    selectFirstWhenNone();
}

void TvPopUpButton::removeAllItems() {
    if (mMenu) mMenu->clear();
    mSelected = nullptr;
    showSelected();
}

int TvPopUpButton::selectedTag() const { return mSelected ? kdui::tag(mSelected) : -1; }

int TvPopUpButton::indexOfSelectedItem() const {
    if (!mMenu || !mSelected) return -1;
    return int(mMenu->actions().indexOf(mSelected.data()));
}

int TvPopUpButton::numberOfItems() const { return mMenu ? int(mMenu->actions().size()) : 0; }

bool TvPopUpButton::selectItemWithTag(int tag) {
    QAction* item = TV_Func::menuItemWithTag(mMenu, tag);
    if (!item) return false;
    selectItem(item);
    return true;
}

void TvPopUpButton::selectItem(QAction* item) {
    if (!mMenu || (item && !mMenu->actions().contains(item))) return;
    for (QAction* a : mMenu->actions()) {
        if (a != item && a->isChecked()) a->setChecked(false);
    }
    if (item) {
        item->setCheckable(true);
        item->setChecked(true);
    }
    mSelected = item;
    showSelected();
}

void TvPopUpButton::selectFirstWhenNone() {
    if (mSelected && mMenu && mMenu->actions().contains(mSelected.data())) return;
    const QList<QAction*> items = mMenu ? mMenu->actions() : QList<QAction*>();
    selectItem(items.isEmpty() ? nullptr : items.front());
}

void TvPopUpButton::showSelected() {
    setText(mSelected ? mSelected->text() : QString());
    setIcon(mSelected ? mSelected->icon() : QIcon());
    updateGeometry();
    update();
}

QMenu* TvPopUpButton::copyOfMenu(const QMenu* menu) {
    auto* copy = new QMenu(this);
    if (!menu) return copy;
    for (const QAction* a : menu->actions()) {
        QAction* item = TV_Func::addMenuItem(copy, a->text(), kdui::tag(a), a->icon());
        item->setEnabled(a->isEnabled());
    }
    return copy;
}

QSize TvPopUpButton::sizeHint() const {
    QStyleOptionComboBox opt;
    opt.initFrom(this);
    opt.currentText = text();
    opt.currentIcon = icon();
    opt.iconSize = iconSize();
    const QFontMetrics fm = fontMetrics();
    int width = fm.horizontalAdvance(text());
    if (!icon().isNull()) width += iconSize().width() + 4;
    QSize content(std::max(width, fm.horizontalAdvance(QLatin1Char('x')) * 8),
                  std::max(fm.height(), iconSize().height()));
    return style()->sizeFromContents(QStyle::CT_ComboBox, &opt, content, this);
}

QSize TvPopUpButton::minimumSizeHint() const { return sizeHint(); }

void TvPopUpButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox opt;
    opt.initFrom(this);
    opt.editable = false;
    opt.currentText = text();
    opt.currentIcon = icon();
    opt.iconSize = iconSize();
    if (isDown()) opt.state |= QStyle::State_Sunken;
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

// --- The data-source lists

ColorModePopUpButton::ColorModePopUpButton(QWidget* parent) : TvPopUpButton(parent) { setUpMethod(); }

void ColorModePopUpButton::setUpMethod() {
    removeAllItems();
    const bool apds = AppControllerServices::curDS_IsAPDS();
    const bool photo = AppControllerServices::isSupportedCAPOnDevice(kCapPhotoMode);
    if (!apds) addItems(this, {{"Color_ColBWDetector", 0}});
    addItems(this, {{"Color_Color", 1}});
    if (photo) addItems(this, {{"Color_Color_Photo", 2}});
    addItems(this, {{"Color_Gray", 3}});
    if (photo) addItems(this, {{"Color_Gray_Photo", 4}});
    addItems(this, {{"Color_BW", 5}});
    selectFirstWhenNone();
}

PaperSizePopUpButton::PaperSizePopUpButton(QWidget* parent) : TvPopUpButton(parent) { setUpMethod(); }

void PaperSizePopUpButton::setUpMethod() {
    removeAllItems();
    const bool apds = AppControllerServices::curDS_IsAPDS();
    addItems(this, {{"PaperSize_Auto", 0}, {"PaperSize_A4", 1}, {"PaperSize_A5", 2}});
    if (!apds) addItems(this, {{"PaperSize_A6", 3}, {"PaperSize_B5", 4}, {"PaperSize_B6", 5}});
    addItems(this, {{"PaperSize_Legal", 6}, {"PaperSize_Letter", 7}});
    selectFirstWhenNone();
}

ResolutionPopUpButton::ResolutionPopUpButton(QWidget* parent) : TvPopUpButton(parent) { setUpMethod(); }

void ResolutionPopUpButton::setUpMethod() {
    removeAllItems();
    if (!AppControllerServices::curDS_IsAPDS()) addItems(this, {{"Resolution_Auto", 0}});
    addItems(this, {{"Resolution_200", 1}, {"Resolution_300", 2}, {"Resolution_400", 3}, {"Resolution_600", 4}});
    selectFirstWhenNone();
}

ScanSidePopUpButton::ScanSidePopUpButton(QWidget* parent) : TvPopUpButton(parent) { setUpMethod(); }

void ScanSidePopUpButton::setUpMethod() {
    removeAllItems();
    if (AppControllerServices::isSupportedScanSide())
        addItems(this, {{"ReadPage_Skip", 0}, {"ReadPage_One", 1}, {"ReadPage_Both", 2}});
    else
        addItems(this, {{"ReadPage_One", 1}});
    selectFirstWhenNone();
}

SkewPopUpButton::SkewPopUpButton(QWidget* parent) : TvPopUpButton(parent) { setUpMethod(); }

void SkewPopUpButton::setUpMethod() {
    removeAllItems();
    addItems(this, {{"Skew_Off", 0}});
    if (!AppControllerServices::curDS_IsAPDS()) addItems(this, {{"Skew_Paper", 1}, {"Skew_Contents", 2}});
    selectFirstWhenNone();
}

ScanBtnStatusPopUpButton::ScanBtnStatusPopUpButton(QWidget* parent) : TvPopUpButton(parent) { setUpMethod(); }

void ScanBtnStatusPopUpButton::setUpMethod() {
    removeAllItems();
    addItems(this, {{"NotAllocBtn", -1}});
    if (AppControllerServices::isSupportedMultiDeviceBtns()) {
        const std::string format = popUpTitle("PanelMenu_JobNum_Format").toStdString();
        for (int n = 1; n <= 9; ++n) {
            const std::string title = kdf::formatLocalized(format, {kdf::FormatArg(std::int64_t(n))});
            TV_Func::addMenuItem(this, QString::fromStdString(title), 1 << (n - 1));
        }
    } else if (!AppControllerServices::curDS_IsAPDS()) {
        addItems(this, {{"StartButton", 1}});
    }
    selectFirstWhenNone();
}

// --- File format

FileFormatPopUpButton::FileFormatPopUpButton(QWidget* parent) : TvPopUpButton(parent) {
    removeAllItems();
    static constexpr std::array<std::pair<Item, const char*>, 4> kFormats{{
        {{"FileFormat_PDF", 0}, "icn_pdf"},
        {{"FileFormat_TIFF", 1}, "icn_tiff"},
        {{"FileFormat_JPEG", 2}, "icn_jpeg"},
        {{"FileFormat_PNG", 3}, "icn_png"},
    }};
    for (const auto& [item, image] : kFormats)
        TV_Func::addMenuItem(this, popUpTitle(item.key), item.tag, bundleMenuIcon(image));
    selectFirstWhenNone();
    mMenuArray.emplace_back(QString::fromLatin1(kBaseMenuKey), popUpMenu());
}

QMenu* FileFormatPopUpButton::menuForKey(const QString& key) const {
    for (const auto& [k, menu] : mMenuArray)
        if (k == key) return menu;
    return nullptr;
}

void FileFormatPopUpButton::addOtherMenu(const std::vector<int>& formats, const QString& pluginID) {
    QMenu* base = menuForKey(QString::fromLatin1(kBaseMenuKey));
    if (pluginID.isEmpty() || !base) return;
    QMenu* copy = copyOfMenu(base);
    for (QAction* item : copy->actions()) {
        if (std::find(formats.begin(), formats.end(), kdui::tag(item)) == formats.end()) {
            copy->removeAction(item);
            delete item;
        }
    }
    // An id added again replaces its menu, so later changes and removals
    // never find a stale one.
    for (auto& [key, menu] : mMenuArray) {
        if (key != pluginID) continue;
        QMenu* old = menu;
        menu = copy;
        if (popUpMenu() == old) setPopUpMenu(copy);
        delete old;
        return;
    }
    mMenuArray.emplace_back(pluginID, copy);
}

void FileFormatPopUpButton::changeMenuByPluginID(const QString& pluginID) {
    const QString key = pluginID.isEmpty() ? QString::fromLatin1(kBaseMenuKey) : pluginID;
    if (QMenu* menu = menuForKey(key); menu && menu != popUpMenu()) setPopUpMenu(menu);
}

void FileFormatPopUpButton::removeMenuByPluginID(const QString& pluginID) {
    if (pluginID.isEmpty() || pluginID == QLatin1String(kBaseMenuKey)) return;
    auto it = std::find_if(mMenuArray.begin(), mMenuArray.end(), [&](const auto& e) { return e.first == pluginID; });
    if (it == mMenuArray.end()) return;
    QMenu* menu = it->second;
    if (menu == popUpMenu()) setPopUpMenu(menuForKey(QString::fromLatin1(kBaseMenuKey)));
    mMenuArray.erase(it);
    delete menu;
}

// --- Save place, file name, PDF

FileSavePopUpButton::FileSavePopUpButton(QWidget* parent) : TvPopUpButton(parent) {
    removeAllItems();
    const std::string pictures = TV_Func::defaultPictureFolder();
    const std::string documents = TV_Func::defaultDocumentFolder().value_or(std::string());
    const std::string desktop = TV_Func::defaultDesktopPath().value_or(std::string());
    TV_Func::addMenuItem(this, popUpTitle("FileSave_Picture"), 0, fileMenuIcon(pictures));
    TV_Func::addMenuItem(this, popUpTitle("FileSave_Document"), 1, fileMenuIcon(documents));
    TV_Func::addMenuItem(this, popUpTitle("FileSave_Desktop"), 2, fileMenuIcon(desktop));
    // Its caller names it after the chosen folder.
    TV_Func::addMenuItem(this, QString(), 3, imageForMenuIcon(iconOf(defaultOSFolderIcnImage())));
    QImage blank(kMenuIconSize, QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    TV_Func::addMenuItem(this, popUpTitle("FileSave_Action"), 4, imageForMenuIcon(QIcon(QPixmap::fromImage(blank))));
    selectFirstWhenNone();
}

FileNameDateTimePopUpButton::FileNameDateTimePopUpButton(QWidget* parent) : TvPopUpButton(parent) {
    removeAllItems();
    addItems(this, {{"DateTime_YYYYMMDD", 0}, {"DateTime_MMDDYYYY", 1}, {"DateTime_DDMMYYYY", 2}});
    if (isEqualToLocaleStr("ja")) addItems(this, {{"DateTime_Jap_YYYYMMDD", 3}});
    selectFirstWhenNone();
}

FileNameNumberPopUpButton::FileNameNumberPopUpButton(QWidget* parent) : TvPopUpButton(parent) {
    removeAllItems();
    addItems(this, {{"NumberAdd_1digit", 0},
                    {"NumberAdd_2digit", 1},
                    {"NumberAdd_3digit", 2},
                    {"NumberAdd_4digit", 3},
                    {"NumberAdd_5digit", 4},
                    {"NumberAdd_6digit", 5}});
    selectFirstWhenNone();
}

PDFCompPopUpButton::PDFCompPopUpButton(QWidget* parent) : TvPopUpButton(parent) {
    removeAllItems();
    addItems(this, {{"Compress_Non", 0}, {"Compress_High", 1}});
    selectFirstWhenNone();
}

namespace {


constexpr std::array<Item, 13> kOCRLanguages{{
    {"OCRLang_JE", 0},
    {"OCRLang_Jap", 1},
    {"OCRLang_Eng", 2},
    {"OCRLang_Spa", 3},
    {"OCRLang_Fre", 4},
    {"OCRLang_Deu", 5},
    {"OCRLang_Ity", 6},
    {"OCRLang_Ned", 7},
    {"OCRLang_zhCn", 8},
    {"OCRLang_zhTW", 9},
    {"OCRLang_Pt", 10},
    {"OCRLang_Ru", 11},
    {"OCRLang_Tr", 12},
}};
constexpr int kOCRLangEnglish = 2;

} // namespace

PDFOCRLangPopUpButton::PDFOCRLangPopUpButton(QWidget* parent) : TvPopUpButton(parent) {
    remakeMenuList(false, kOCRLangEnglish);
}

bool PDFOCRLangPopUpButton::isConvertableWithPDFA(int ocrLangType) {
    return (ocrLangType >= 2 && ocrLangType <= 7) || ocrLangType == 10;
}

void PDFOCRLangPopUpButton::remakeMenuList(bool isPDFA, int ocrLangType) {
    const bool onlyPDFA = isPDFA && isEnabled() && numberOfItems() > 0;
    if (onlyPDFA && !isConvertableWithPDFA(ocrLangType)) {
        const std::string title = selectedItem() ? selectedItem()->text().toStdString() : std::string();
        TV_Message::showErrorPanel(kdf::Exception(
            "Err_NotCreatePdfAFromOCRLang", {}, kdf::Dictionary{{TV_Message::kOCRLangSettingKey, kdf::Value(title)}}));
        ocrLangType = kOCRLangEnglish;
    }
    removeAllItems();
    for (const Item& item : kOCRLanguages) {
        if (!onlyPDFA || isConvertableWithPDFA(item.tag)) TV_Func::addMenuItem(this, popUpTitle(item.key), item.tag);
    }
    if (!selectItemWithTag(ocrLangType)) selectFirstWhenNone();
}

// --- Output type

OutputTypePopUpButton::OutputTypePopUpButton(QWidget* parent) : TvPopUpButton(parent) {
    removeAllItems();
    TV_Func::addMenuItem(this, popUpTitle("OutputType_ToFile"), -1, bundleMenuIcon("icn_folder"));
    selectFirstWhenNone();
    setBaseMenu(copyOfMenu(popUpMenu()));
}

void OutputTypePopUpButton::setBaseMenu(QMenu* menu) {
    if (menu == mBaseMenu) return;
    QMenu* old = mBaseMenu;
    mBaseMenu = menu;
    if (old && old != popUpMenu()) delete old;
}

namespace {


// The plug-in's icon: its icon file read at 16 x 16 while decoding (a huge
// or broken file is never held whole), else the file icon of that path,
// else the kit's plug-in image.
QIcon pluginIcon(const std::string& pluginID) {
    const auto pathValue = PluginRegistryQueries::valueForPluginIDWithType(pluginID, PluginRegistryQueries::kIconPathType);
    const std::string path = pathValue && pathValue->string() ? *pathValue->string() : std::string();
    if (!path.empty()) {
        const QString qpath = QString::fromStdString(path);
        if (QFileInfo(qpath).isFile()) {
            QImageReader reader(qpath);
            reader.setScaledSize(kMenuIconSize);
            const QImage image = reader.read();
            if (!image.isNull()) return menuIcon(image);
        }
        if (QIcon icon = fileMenuIcon(path); !icon.isNull()) return icon;
    }
    return menuIcon(GetBitmapImage(TvUI::imagePartsAtTag(13)));
}

} // namespace

void OutputTypePopUpButton::remakeMenuList(const std::vector<std::string>& pluginIDs) {
    QMenu* old = popUpMenu();
    // Qt menus never enable items on their own, so the copy keeps exactly
    // the enabling the base menu's items carry.
    QMenu* menu = copyOfMenu(mBaseMenu);
    setPopUpMenu(menu);
    if (old && old != mBaseMenu) old->deleteLater();
    for (const std::string& id : pluginIDs) {
        const auto title = PluginRegistryQueries::valueForPluginIDWithType(id, PluginRegistryQueries::kTitleType);
        // Titles are plain text: an ampersand is no mnemonic.
        QString text = title && title->string() ? QString::fromStdString(*title->string()) : QString();
        text.replace(QLatin1Char('&'), QLatin1String("&&"));
        TV_Func::addMenuItem(this, text, PluginRegistryQueries::indexOfPluginInfoListByPluginID(id), pluginIcon(id));
    }
    selectFirstWhenNone();
}
