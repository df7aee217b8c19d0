// The printer destination's print panel with its page-layout accessory, as
// the settings show it for a stored printer.
#include "AccessoryViewController.h"
#include "PrintPanel.h"

#include <foundation/PropertyList.h>

#include <ui/Screenshots.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMenu>

namespace {

using namespace sendvia_printer;

// The picture program has the application's texts, not the plug-in's:
// every text that is one of the plug-in's keys gets its English text.
void relabel(QWidget* window) {
    const std::optional<kdf::Value> strings = kdf::readPropertyListFile(KD_PRINTER_STRINGS);
    const kdf::Dictionary* table = strings ? strings->dictionary() : nullptr;
    if (!table) return;
    const auto text = [&](const QString& key) -> std::optional<QString> {
        const kdf::Value* v = kdf::find(*table, key.toStdString());
        if (!v || !v->string()) return std::nullopt;
        return QString::fromStdString(*v->string());
    };
    if (auto t = text(window->windowTitle())) window->setWindowTitle(*t);
    for (QLabel* label : window->findChildren<QLabel*>())
        if (auto t = text(label->text())) label->setText(*t);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (auto t = text(button->text())) button->setText(*t);
    for (QComboBox* combo : window->findChildren<QComboBox*>())
        for (int i = 0; i < combo->count(); ++i)
            if (auto t = text(combo->itemText(i))) combo->setItemText(i, *t);
    for (QMenu* menu : window->findChildren<QMenu*>())
        for (QAction* item : menu->actions())
            if (auto t = text(item->text())) item->setText(*t);
}

kdd::print::MediaList sceneMedia() {
    kdd::print::MediaList list;
    list.media = {{"iso_a4_210x297mm", 595.28, 841.89, 9.64, 18, 9.64, 18},
                  {"na_letter_8.5x11in", 612, 792, 18, 18, 18, 18},
                  {"iso_a5_148x210mm", 419.53, 595.28, 18, 18, 18, 18}};
    list.defaultMedia = list.media.front();
    return list;
}

} // namespace

KD_SCREENSHOT_SCENE(printerPrintPanel, "plugins/printer-print-panel", kdui::Direction::Both) {
    auto* panel = new PrintPanel({{"Office_Laser", "ipp://office.local/ipp/print", true},
                                  {"Colour_Inkjet", "ipp://inkjet.local/ipp/print", false}},
                                 [](const std::string&) { return std::optional(sceneMedia()); });
    auto* view = new AccessoryView;
    view->selectItemWithTag(kPageLayoutPaperFit);
    panel->addAccessoryController(new TvAccessoryViewController(view, panel));
    panel->setOptions(kPrintPanelShowsCopies | kPrintPanelShowsPageRange | kPrintPanelShowsPaperSize |
                      kPrintPanelShowsOrientation | kPrintPanelShowsScaling);
    PrintInfo info = PrintInfo::forDestination("Office_Laser", sceneMedia().media.front());
    info.copies = 2;
    panel->setPrintInfo(info);
    relabel(panel);
    return {panel};
}
