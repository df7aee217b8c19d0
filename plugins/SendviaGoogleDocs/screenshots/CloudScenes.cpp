// The cloud destination's windows in the states worth a picture.
#include "SceneSupport.h"

#include "ui_PluginFolderAccessory.h"
#include "ui_PluginPrefsWindow.h"
#include "ui_PluginProgressWindow.h"
#include "ui_PluginRenameWindow.h"

#include <foundation/Format.h>
#include <ui/Screenshots.h>

#include <QHeaderView>
#include <QStandardItemModel>

namespace {

using kdkit::scenes::laidOut;
using kdkit::scenes::Texts;

const Texts& texts() {
    static const Texts t("SendviaDropbox");
    return t;
}

} // namespace

KD_SCREENSHOT_SCENE(cloudProgress, "plugins/cloud-progress", kdui::Direction::Both) {
    Ui::PluginProgressWindow form;
    QWidget* w = texts().window(form);
    form.fileNameLabel->setText("scan_003.pdf");
    form.ratioLabel->setText(QString::fromStdString(kdf::formatLocalized(
        texts()("RatioLabelFormat").toStdString(), {std::uint64_t(3), std::uint64_t(5)})));
    form.progressBar->setRange(0, 5);
    form.progressBar->setValue(2);
    return {laidOut(w)};
}

KD_SCREENSHOT_SCENE(cloudRenameReport, "plugins/cloud-rename-report", kdui::Direction::Both) {
    Ui::PluginRenameWindow form;
    QWidget* w = texts().window(form);
    auto* model = new QStandardItemModel(0, 2, w);
    model->setHorizontalHeaderLabels(
        {texts()("ReNameBeforeFileNameExpLabel"), texts()("ReNameAfterFileNameExpLabel")});
    const std::pair<const char*, const char*> rows[] = {
        {"scan.pdf", ""}, {"page_09.pdf", "page_10.pdf"}, {"receipt.jpg", ""}};
    for (const auto& [before, after] : rows)
        model->appendRow({new QStandardItem(before), new QStandardItem(after)});
    form.renameTable->setModel(model);
    form.renameTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    form.renameTable->verticalHeader()->hide();
    form.renameTable->selectRow(0);
    return {laidOut(w)};
}

KD_SCREENSHOT_SCENE(cloudCommonSettings, "plugins/cloud-common-settings", kdui::Direction::Both) {
    Ui::PluginPrefsWindow form;
    QWidget* w = texts().window(form);
    form.showRenameCheck->setChecked(true);
    return {laidOut(w)};
}

KD_SCREENSHOT_SCENE(cloudFolderAccessory, "plugins/cloud-folder-accessory", kdui::Direction::Both) {
    Ui::PluginFolderAccessory form;
    return {laidOut(texts().window(form))};
}
