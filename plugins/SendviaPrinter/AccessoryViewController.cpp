#include "AccessoryViewController.h"

#include "PluginFunc.h"
#include "PluginKit.h"
#include "ui_AccessoryView.h"

#include <ui/ViewTag.h>

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPushButton>

namespace sendvia_printer {

AccessoryView::AccessoryView(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::AccessoryView>()) {
    ui_->setupUi(this);
    ui_->pageLayoutLabel->setText(QString::fromStdString(kdkit::localized("PageLayoutExpLabel")));
    auto* menu = new QMenu(ui_->pageLayoutPopUp);
    ui_->pageLayoutPopUp->setMenu(menu);
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    for (const auto& [key, tag] : {std::pair{"PageLayout_RealSize", kPageLayoutRealSize},
                                   std::pair{"PageLayout_PaperFit", kPageLayoutPaperFit}}) {
        QAction* item = kdkit::PluginFunc::addMenuItem(ui_->pageLayoutPopUp,
                                                       QString::fromStdString(kdkit::localized(key)), tag);
        if (!item) continue;
        item->setCheckable(true);
        group->addAction(item);
        connect(item, &QAction::triggered, this, [this, itemTag = tag] { selectItemWithTag(itemTag); });
    }
    selectItemWithTag(kPageLayoutPaperFit);
    kdkit::PluginFunc::layoutLeftToRight(this);
}

AccessoryView::~AccessoryView() = default;

QPushButton* AccessoryView::popUp() const { return ui_->pageLayoutPopUp; }

bool AccessoryView::selectItemWithTag(int tag) {
    QMenu* menu = ui_->pageLayoutPopUp->menu();
    for (QAction* item : menu ? menu->actions() : QList<QAction*>()) {
        if (kdui::tag(item) != tag) continue;
        item->setChecked(true);
        ui_->pageLayoutPopUp->setText(item->text());
        selected_ = tag;
        return true;
    }
    return false;
}

int AccessoryView::selectedItemTag() const { return selected_; }

} // namespace sendvia_printer
