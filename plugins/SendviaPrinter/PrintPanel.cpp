#include "PrintPanel.h"

#include "AccessoryViewController.h"
#include "ModalPanelManager.h"
#include "PluginFunc.h"
#include "PluginKit.h"
#include "ui_PrintPanel.h"

#include <foundation/RunLoop.h>

#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace sendvia_printer {
namespace {

QString text(const char* key) { return QString::fromStdString(kdkit::localized(key)); }

QString paperTitle(const kdd::print::Media& m) {
    const QString size = QStringLiteral("%1 × %2 mm")
                             .arg(std::lround(m.width * 25.4 / 72.0))
                             .arg(std::lround(m.length * 25.4 / 72.0));
    return m.name.empty() ? size : QString::fromStdString(m.name) + QStringLiteral(" (") + size + QLatin1Char(')');
}

} // namespace

PrintPanel::PrintPanel(std::vector<kdd::print::Destination> destinations, MediaSource mediaSource, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PrintPanel>()), destinations_(std::move(destinations)),
      mediaSource_(std::move(mediaSource)) {
    ui_->setupUi(this);
    setWindowTitle(text("PrintPanel_Title"));
    ui_->printerLabel->setText(text("PrintPanel_Printer"));
    ui_->copiesLabel->setText(text("PrintPanel_Copies"));
    ui_->pagesLabel->setText(text("PrintPanel_Pages"));
    ui_->allPagesRadio->setText(text("PrintPanel_AllPages"));
    ui_->rangeRadio->setText(text("PrintPanel_From"));
    ui_->toLabel->setText(text("PrintPanel_To"));
    ui_->paperLabel->setText(text("PrintPanel_PaperSize"));
    ui_->orientationLabel->setText(text("PrintPanel_Orientation"));
    ui_->orientationCombo->setItemText(kPortrait, text("PrintPanel_Portrait"));
    ui_->orientationCombo->setItemText(kLandscape, text("PrintPanel_Landscape"));
    ui_->scaleLabel->setText(text("PrintPanel_Scale"));
    ui_->buttonBox->button(QDialogButtonBox::Ok)->setText(text("PrintPanel_Print"));
    ui_->buttonBox->button(QDialogButtonBox::Cancel)->setText(text("Cancel"));
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui_->firstPageSpin, &QSpinBox::valueChanged, this, [this](int first) {
        if (ui_->lastPageSpin->value() < first) ui_->lastPageSpin->setValue(first);
        ui_->rangeRadio->setChecked(true);
    });
    connect(ui_->lastPageSpin, &QSpinBox::valueChanged, this, [this](int last) {
        if (ui_->firstPageSpin->value() > last) ui_->firstPageSpin->setValue(last);
        ui_->rangeRadio->setChecked(true);
    });
    ui_->accessoryLine->hide();
    kdkit::PluginFunc::layoutLeftToRight(this);
}

// Accessory views still added go with the panel's widgets.
PrintPanel::~PrintPanel() = default;

void PrintPanel::setOptions(int options) {
    options_ = options;
    const auto show = [](bool on, std::initializer_list<QWidget*> widgets) {
        for (QWidget* w : widgets) w->setVisible(on);
    };
    show(options & kPrintPanelShowsCopies, {ui_->copiesLabel, ui_->copiesSpin});
    show(options & kPrintPanelShowsPageRange, {ui_->pagesLabel, ui_->pagesRow});
    show(options & kPrintPanelShowsPaperSize, {ui_->paperLabel, ui_->paperCombo});
    show(options & kPrintPanelShowsOrientation, {ui_->orientationLabel, ui_->orientationCombo});
    show(options & kPrintPanelShowsScaling, {ui_->scaleLabel, ui_->scaleSpin});
}

void PrintPanel::addAccessoryController(TvAccessoryViewController* controller) {
    if (!controller || std::find(accessories_.begin(), accessories_.end(), controller) != accessories_.end()) return;
    accessories_.push_back(controller);
    if (QWidget* view = controller->view()) {
        ui_->accessoryContainer->layout()->addWidget(view);
        view->show();
    }
    ui_->accessoryLine->show();
}

void PrintPanel::removeAccessoryController(TvAccessoryViewController* controller) {
    const auto found = std::find(accessories_.begin(), accessories_.end(), controller);
    if (found == accessories_.end()) return;
    accessories_.erase(found);
    if (QWidget* view = controller->view()) {
        ui_->accessoryContainer->layout()->removeWidget(view);
        view->setParent(nullptr);
    }
    if (accessories_.empty()) ui_->accessoryLine->hide();
}

void PrintPanel::setPrintInfo(const PrintInfo& info) {
    base_ = info;
    QSignalBlocker block(ui_->printerCombo);
    ui_->printerCombo->clear();
    bool listed = false;
    for (const kdd::print::Destination& d : destinations_) {
        ui_->printerCombo->addItem(QString::fromStdString(d.name), QString::fromStdString(d.name));
        listed = listed || d.name == info.printerName;
    }
    if (!listed && !info.printerName.empty())
        ui_->printerCombo->insertItem(0, QString::fromStdString(info.printerName),
                                      QString::fromStdString(info.printerName));
    ui_->printerCombo->setCurrentIndex(
        std::max(0, ui_->printerCombo->findData(QString::fromStdString(info.printerName))));
    connect(ui_->printerCombo, &QComboBox::currentIndexChanged, this, &PrintPanel::destinationChanged,
            Qt::UniqueConnection);
    fillPaper(info.paper);
    ui_->copiesSpin->setValue(info.copies);
    ui_->orientationCombo->setCurrentIndex(info.orientation == kLandscape ? kLandscape : kPortrait);
    ui_->scaleSpin->setValue(int(std::lround(std::clamp(info.scalingFactor * 100.0, 1.0, 1000.0))));
    {
        QSignalBlocker first(ui_->firstPageSpin), last(ui_->lastPageSpin);
        ui_->firstPageSpin->setValue(info.firstPage);
        ui_->lastPageSpin->setValue(info.lastPage);
    }
    (info.allPages ? ui_->allPagesRadio : ui_->rangeRadio)->setChecked(true);
}

void PrintPanel::destinationChanged() { fillPaper(std::nullopt); }

void PrintPanel::fillPaper(const std::optional<kdd::print::Media>& keep) {
    media_.clear();
    const std::string destination = ui_->printerCombo->currentData().toString().toStdString();
    std::optional<kdd::print::MediaList> list;
    if (mediaSource_ && !destination.empty()) list = mediaSource_(destination);
    std::optional<std::size_t> selected;
    if (list) {
        media_ = list->media;
        for (std::size_t i = 0; i < media_.size(); ++i) {
            if (keep && media_[i].name == keep->name && !keep->name.empty()) selected = i;
            if (!keep && list->defaultMedia && media_[i].name == list->defaultMedia->name && !selected) selected = i;
        }
        if (!keep && !selected && list->defaultMedia) {
            media_.insert(media_.begin(), *list->defaultMedia);
            selected = 0;
        }
    }
    // The stored paper stays on offer, also when the printer lists none.
    if (keep && !selected) {
        media_.insert(media_.begin(), *keep);
        selected = 0;
    }
    if (!selected && !media_.empty()) selected = 0;
    ui_->paperCombo->clear();
    for (const kdd::print::Media& m : media_) ui_->paperCombo->addItem(paperTitle(m));
    if (selected) ui_->paperCombo->setCurrentIndex(int(*selected));
}

PrintInfo PrintPanel::printInfo() const {
    PrintInfo info = base_;
    info.printerName = ui_->printerCombo->currentData().toString().toStdString();
    const int paper = ui_->paperCombo->currentIndex();
    if (paper >= 0 && std::size_t(paper) < media_.size()) info.paper = media_[std::size_t(paper)];
    info.copies = ui_->copiesSpin->value();
    info.orientation = ui_->orientationCombo->currentIndex() == kLandscape ? kLandscape : kPortrait;
    info.scalingFactor = ui_->scaleSpin->value() / 100.0;
    info.allPages = ui_->allPagesRadio->isChecked();
    info.firstPage = info.allPages ? 1 : ui_->firstPageSpin->value();
    info.lastPage = info.allPages ? 1 : std::max(info.firstPage, ui_->lastPageSpin->value());
    return info;
}

int PrintPanel::runModalWithPrintInfo(PrintInfo& info) {
    setPrintInfo(info);
    int result = QDialog::Rejected;
    {
        kdkit::ModalPanelRegistration registration(this, parentWidget());
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
        result = exec();
    }
    if (result != QDialog::Accepted) return 0;
    info = printInfo();
    return 1;
}

} // namespace sendvia_printer
