// The Plug-in page of the preferences: one row per loaded send-to plug-in
// with its icon, name, version, state and description; its common settings
// and enabling or disabling it.
#include "OutputUIText.h"
#include "PrefsCntlr.h"

#include <AppMainCntlr.h>
#include <AppModel.h>
#include <PluginRegistryQueries.h>
#include <QlrUtilsMethodUI.h>
#include <TV_Func.h>
#include <TV_Message.h>
#include <TvUI.h>

#include <foundation/File.h>
#include <foundation/Format.h>

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QImageReader>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>

#include <cstdlib>

namespace {

using qlr_output::localizedText;

enum Column { kNameColumn = 0, kVersionColumn, kStateColumn, kDescriptionColumn, kColumnCount };
constexpr const char* kColumnIDs[kColumnCount] = {"PluginName_ID", "PluginVersion_ID", "PluginState_ID",
                                                  "PluginDescription_ID"};
constexpr const char* kColumnTitles[kColumnCount] = {"Prefs_PluginNameTitle", "Prefs_PluginVersionTitle",
                                                     "Prefs_PluginStateTitle", "Prefs_PluginExpTitle"};
constexpr int kNameType = 0, kDescriptionType = 2, kVersionType = 3, kCommonSettingType = 6;
constexpr int kPluginImagePart = 13;
constexpr int kIconBand = 40;
// A plug-in's icon file is read only when it is plainly an icon.
constexpr qint64 kMaxIconFileBytes = qint64(8) << 20;
constexpr int kMaxIconSide = 2048;
// Plug-in texts are cut to these lengths before they reach a cell.
constexpr int kMaxNameChars = 256;
constexpr int kMaxDescriptionChars = 2048;

QString pluginString(const std::string& id, int type, int maxChars) {
    const auto value = PluginRegistryQueries::valueForPluginIDWithType(id, type);
    const std::string* s = value ? value->string() : nullptr;
    if (!s || s->empty()) return {};
    return QString::fromUtf8(s->data(), qsizetype(std::min<std::size_t>(s->size(), std::size_t(maxChars) * 4)))
        .left(maxChars);
}

std::optional<bool> pluginIsValid(const std::string& id) {
    auto registry = PluginRegistryQueries::current();
    if (!registry) return std::nullopt;
    const auto entry = registry->pluginSubInfoWithPluginID(id);
    if (!entry) return std::nullopt;
    const kdf::Value* flag = kdf::find(*entry, AppModel::kPluginIsValidKey);
    return flag ? flag->toBool() : std::nullopt;
}

QImage fitIcon(const QImage& image) {
    if (image.isNull()) return image;
    const int size = PrefsCntlr::kPluginIconSize;
    return image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

QImage PrefsCntlr::pluginIconImage(const std::optional<std::string>& iconPath) {
    if (iconPath && !iconPath->empty() && TV_Func::isExistsFile(*iconPath)) {
        const QString path = QString::fromStdString(*iconPath);
        if (QFileInfo(path).isFile() && QFileInfo(path).size() <= kMaxIconFileBytes) {
            QImageReader reader(path);
            reader.setDecideFormatFromContent(true);
            const QSize declared = reader.size();
            if (declared.isValid() && declared.width() <= kMaxIconSide && declared.height() <= kMaxIconSide) {
                QImage image = reader.read();
                if (!image.isNull()) return fitIcon(image);
            }
        }
    }
    if (iconPath && !iconPath->empty()) {
        const QImage icon = QlrUtilsMethod::iconOf(QlrUtilsMethod::fileIcnImage(*iconPath))
                                .pixmap(kPluginIconSize, kPluginIconSize)
                                .toImage();
        if (!icon.isNull()) return fitIcon(icon);
    }
    const TvImage part = TvUI::imagePartsAtTag(kPluginImagePart);
    return part.isNull() ? QImage() : fitIcon(part.frames.front());
}

QTableWidget* PrefsCntlr::prefPluginTableView() const {
    return qobject_cast<QTableWidget*>(control(kPluginTableTag));
}

void PrefsCntlr::initPrefPluginTableView() {
    QTableWidget* table = prefPluginTableView();
    table->setColumnCount(kColumnCount);
    QStringList headers;
    for (const char* key : kColumnTitles) headers << localizedText(std::string(key));
    table->setHorizontalHeaderLabels(headers);
    for (int c = 0; c < kColumnCount; ++c) table->horizontalHeaderItem(c)->setData(Qt::UserRole, QString(kColumnIDs[c]));
    table->verticalHeader()->hide();
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideRight);
    table->setItemDelegateForColumn(kNameColumn, new TvPluginNameColmCell(table));
    QObject::connect(table, &QTableWidget::itemSelectionChanged, this, [this] { pluginSelectionDidChange(); });
    QObject::connect(qobject_cast<QPushButton*>(control(kPluginSettingTag)), &QPushButton::clicked, this,
                     [this] { showCommonSettingOfPlugin(); });
    QObject::connect(qobject_cast<QPushButton*>(control(kPluginValidTag)), &QPushButton::clicked, this,
                     [this] { changeValidPlugin(); });
    setupPrefPluginTableView();
}

void PrefsCntlr::setupPrefPluginTableView() {
    QTableWidget* table = prefPluginTableView();
    table->clearSelection();
    control(kPluginSettingTag)->hide();
    control(kPluginValidTag)->hide();
    // The last column takes what is left; Qt keeps a stretched section at
    // least at the default size, so that is made small.
    table->horizontalHeader()->setDefaultSectionSize(40);
    if (QlrUtilsMethod::isLTR_LayoutDirection()) {
        table->setColumnWidth(kNameColumn, 280);
    } else {
        table->setColumnWidth(kNameColumn, 180);
        table->setColumnWidth(kDescriptionColumn, 164);
    }
    table->setColumnWidth(kVersionColumn, 100);
    table->setColumnWidth(kStateColumn, 60);
    table->horizontalHeader()->setMinimumSectionSize(40);
    table->horizontalHeader()->setStretchLastSection(true);
    table->scrollToTop();
    reloadPluginTable();
}

void PrefsCntlr::reloadPluginTable() {
    QTableWidget* table = prefPluginTableView();
    const int selected = table->currentRow();
    const bool hadSelection = !table->selectedItems().isEmpty();
    auto registry = PluginRegistryQueries::current();
    const int rows = registry ? std::max(0, registry->countOfPluginInfoList()) : 0;
    {
        const QSignalBlocker block(table);
        table->clearContents();
        table->setRowCount(rows);
        for (int row = 0; row < rows; ++row) {
            const auto id = registry->pluginIDAtIndex(row);
            for (int c = 0; c < kColumnCount; ++c) table->setItem(row, c, new QTableWidgetItem);
            if (!id) continue;
            auto* name = table->item(row, kNameColumn);
            name->setText(pluginString(*id, kNameType, kMaxNameChars));
            const auto iconPath = PluginRegistryQueries::valueForPluginIDWithType(*id, PluginRegistryQueries::kIconPathType);
            const std::string* path = iconPath ? iconPath->string() : nullptr;
            name->setData(Qt::DecorationRole, pluginIconImage(path ? std::optional<std::string>(*path) : std::nullopt));
            table->item(row, kVersionColumn)->setText(pluginString(*id, kVersionType, kMaxNameChars));
            table->item(row, kDescriptionColumn)->setText(pluginString(*id, kDescriptionType, kMaxDescriptionChars));
            if (const auto valid = pluginIsValid(*id))
                table->item(row, kStateColumn)
                    ->setText(localizedText(std::string(*valid ? "Prefs_PluginValidStr" : "Prefs_PluginInValidStr")));
        }
        if (hadSelection && selected >= 0 && selected < rows) table->selectRow(selected);
    }
    pluginSelectionDidChange();
}

std::optional<std::string> PrefsCntlr::selectedPluginID() const {
    QTableWidget* table = prefPluginTableView();
    const auto ranges = table->selectedRanges();
    auto registry = PluginRegistryQueries::current();
    if (ranges.isEmpty() || !registry) return std::nullopt;
    return registry->pluginIDAtIndex(ranges.front().topRow());
}

void PrefsCntlr::pluginSelectionDidChange() {
    QWidget* setting = control(kPluginSettingTag);
    auto* valid = qobject_cast<QPushButton*>(control(kPluginValidTag));
    const auto id = selectedPluginID();
    if (prefPluginTableView()->selectedRanges().isEmpty()) {
        setting->hide();
        valid->hide();
        return;
    }
    const auto common = id ? PluginRegistryQueries::valueForPluginIDWithType(*id, kCommonSettingType) : std::nullopt;
    setting->setVisible(common && common->toBool().value_or(false));
    const bool enabled = id && pluginIsValid(*id).value_or(false);
    valid->setText(localizedText(std::string(enabled ? "Prefs_PluginInValidBtn" : "Prefs_PluginValidBtn")));
    valid->show();
}

void PrefsCntlr::showCommonSettingOfPlugin() {
    const auto id = selectedPluginID();
    auto registry = PluginRegistryQueries::current();
    if (!id || !registry || !PluginRegistryQueries::hasPluginObject(*id) || !panel_->isVisible()) return;
    const auto common = PluginRegistryQueries::valueForPluginIDWithType(*id, kCommonSettingType);
    if (!common || !common->toBool().value_or(false)) return;
    AppMainCntlr* cntlr = AppMainCntlr::current();
    if (cntlr) cntlr->setIsShowedPluginWin(true);
    const int result = registry->showCommonSettingWithParentWindow(*id, panel_);
    if (cntlr) cntlr->setIsShowedPluginWin(false);
    if (result == 0) return;
    const std::string text =
        kdf::formatLocalized(localizedText(std::string("Err_NotPossibleContinue")).toStdString(), {std::int64_t(result)});
    TV_Message::showPanel(std::string("Error"), std::nullopt, text, std::string("OK"), std::nullopt, std::nullopt,
                          TV_Message::kCriticalAlertStyle, 0, true);
}

void PrefsCntlr::changeValidPlugin() {
    const auto id = selectedPluginID();
    if (!id || !panel_->isVisible()) return;
    const auto valid = pluginIsValid(*id);
    if (!valid) return;
    if (*valid) {
        const std::string text =
            kdf::formatLocalized(localizedText(std::string("Cnfm_InvalidPluginYesOrNo")).toStdString(),
                                 {localizedText(std::string("OutputType_ToFile")).toStdString()});
        const int answer = TV_Message::showPanel(std::string("Confirm"), std::nullopt, text, std::string("OK"),
                                                 std::string("Cancel"), std::nullopt,
                                                 TV_Message::kInformationalAlertStyle, 0, true);
        if (answer != TV_Message::kAlertDefaultReturn) return;
    }
    PluginRegistryQueries::switchIsValidInPluginInfoList(*id, !*valid);
    PluginRegistryQueries::checkAllOutputModelByPlugin();
    reloadPluginTable();
}

QColor TvPluginNameColmCell::titleColor(bool highlighted) {
    return highlighted ? QColor(Qt::white) : QColor(Qt::black);
}

void TvPluginNameColmCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* view = opt.widget;
    // The background and selection as the style draws them, without the
    // default icon and text.
    opt.text.clear();
    opt.icon = QIcon();
    opt.features.setFlag(QStyleOptionViewItem::HasDecoration, false);
    QStyle* style = view ? view->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, view);

    const bool rtl = opt.direction == Qt::RightToLeft;
    const QRect cell = option.rect;
    const QImage icon = index.data(Qt::DecorationRole).value<QImage>();
    painter->save();
    if (!icon.isNull()) {
        const int inset = std::abs(kIconBand - icon.width()) / 2;
        const int x = rtl ? cell.right() + 1 - icon.width() - inset : cell.x() + inset;
        const int y = cell.y() + (cell.height() - icon.height()) / 2;
        painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter->setOpacity(1.0);
        painter->drawImage(QPoint(x, y), icon);
    }
    const bool selected = option.state & QStyle::State_Selected;
    const bool focused = view && view->hasFocus() && view->isActiveWindow();
    painter->setPen(titleColor(selected && focused));
    painter->setFont(opt.font);
    const QRect textRect = rtl ? cell.adjusted(0, 0, -kIconBand, 0) : cell.adjusted(kIconBand, 0, 0, 0);
    const QString name = index.data(Qt::DisplayRole).toString();
    const QString shown = painter->fontMetrics().elidedText(name, Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignAbsolute | (rtl ? Qt::AlignRight : Qt::AlignLeft), shown);
    painter->restore();
}
