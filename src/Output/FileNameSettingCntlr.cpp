#include "FileNameSettingCntlr.h"

#include "FileNaming.h"

#include "ui_FileNameSetting.h"

#include <OutputModel.h>
#include <QlrUtilsMethodUI.h>
#include <TV_FuncUI.h>
#include <TV_Message.h>

#include <foundation/Bundle.h>
#include <foundation/Exception.h>
#include <ui/ViewTag.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace {

FileNameSettingCntlr* sShared = nullptr;

QString localized(const QString& key) {
    auto bundle = kdf::Bundle::main();
    const std::string k = key.toStdString();
    const std::string t = bundle ? bundle->localizedString(k, k) : k;
    return QString::fromStdString(t.empty() ? k : t);
}

const char* const kDateItems[] = {"DateTime_YYYYMMDD", "DateTime_MMDDYYYY", "DateTime_DDMMYYYY",
                                  "DateTime_Jap_YYYYMMDD"};
const char* const kDigitItems[] = {"NumberAdd_1digit", "NumberAdd_2digit", "NumberAdd_3digit",
                                   "NumberAdd_4digit", "NumberAdd_5digit", "NumberAdd_6digit"};

template <class T> T* byTag(QWidget* root, int tag) { return qobject_cast<T*>(kdui::viewWithTag(root, tag)); }

} // namespace

FileNameSettingCntlr* FileNameSettingCntlr::sharedFileNameSettingCntlr() {
    if (!sShared) sShared = new FileNameSettingCntlr;
    return sShared;
}

void FileNameSettingCntlr::terminateFileNameSettingCntlr() {
    delete sShared;
    sShared = nullptr;
}

FileNameSettingCntlr::FileNameSettingCntlr() {
    panel_ = new QDialog;
    Ui::FileNameSetting ui;
    ui.setupUi(panel_);
    panel_->setWindowTitle(localized(panel_->windowTitle()));
    // Every text of the form is a key.
    for (auto* label : panel_->findChildren<QLabel*>())
        if (!label->text().isEmpty()) label->setText(localized(label->text()));
    for (auto* button : panel_->findChildren<QAbstractButton*>()) button->setText(localized(button->text()));
    auto* datePopUp = byTag<QComboBox>(panel_, kDatePopUpTag);
    for (int i = 0; i < 4; ++i) datePopUp->addItem(localized(kDateItems[i]), i);
    auto* digitPopUp = byTag<QComboBox>(panel_, kDigitPopUpTag);
    for (int i = 0; i < 6; ++i) digitPopUp->addItem(localized(kDigitItems[i]), i);
    auto* field = byTag<QLineEdit>(panel_, kStartFieldTag);
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9\u0660-\u0669]*")), field));

    QObject::connect(byTag<QCheckBox>(panel_, kDateCheckTag), &QCheckBox::toggled, this, [this] { updateFileNameCntlr(); });
    QObject::connect(byTag<QCheckBox>(panel_, kNumberCheckTag), &QCheckBox::toggled, this,
                     [this] { updateFileNameCntlr(); });
    QObject::connect(datePopUp, &QComboBox::currentIndexChanged, this, [this] { updateFileNameCntlr(); });
    QObject::connect(digitPopUp, &QComboBox::currentIndexChanged, this, [this] { digitsChanged(); });
    QObject::connect(field, &QLineEdit::textEdited, this, [this](const QString& t) { changeDigit(t); });
    QObject::connect(field, &QLineEdit::editingFinished, this, [this, field] {
        field->setText(QString::number(qlr_output::clampStartNumber(field->text().toStdString(), digits())));
        updateFileNameDisplay();
    });
    QObject::connect(byTag<QPushButton>(panel_, kOkTag), &QPushButton::clicked, this,
                     [this] { closeFileNameSetting(kOkTag); });
    QObject::connect(byTag<QPushButton>(panel_, kCancelTag), &QPushButton::clicked, this,
                     [this] { closeFileNameSetting(kCancelTag); });
    // Closing by the window's button or Escape is Cancel.
    QObject::connect(panel_, &QDialog::rejected, this, [this] {
        if (tmpFileNameOutputModel_) closeFileNameSetting(kCancelTag);
    });
    adjustLayoutInFileName();
}

void FileNameSettingCntlr::adjustLayoutInFileName() {
    // Localised texts may need more room than the form's width; the panel
    // grows to them and never shrinks below the form.
    panel_->resize(panel_->size().expandedTo(panel_->sizeHint()));
    QlrUtilsMethod::layoutLeftToRight(panel_);
}

FileNameSettingCntlr::~FileNameSettingCntlr() { delete panel_.data(); }

QWidget* FileNameSettingCntlr::control(int tag) const { return kdui::viewWithTag(panel_, tag); }

bool FileNameSettingCntlr::isVisible() const { return panel_ && panel_->isVisible(); }

int FileNameSettingCntlr::digits() const { return byTag<QComboBox>(panel_, kDigitPopUpTag)->currentIndex() + 1; }

void FileNameSettingCntlr::runModalFileNameSetting(QWidget* parent, std::shared_ptr<OutputModel> outputModel) {
    if (!outputModel) return;
    tmpFileNameOutputModel_ = std::move(outputModel);
    initFileNameCntlr();
    if (parent) panel_->setParent(parent, Qt::Sheet | Qt::Dialog);
    // Centred on the parent (on the screen without one), kept inside the
    // screen.
    TV_Func::windowPositionAdjustment(panel_, parent, TV_Func::kAlignCentre);
    panel_->setWindowModality(Qt::WindowModal);
    panel_->open();
}

void FileNameSettingCntlr::initFileNameCntlr() {
    const auto& m = *tmpFileNameOutputModel_;
    byTag<QLabel>(panel_, kSampleTag)->clear();
    byTag<QCheckBox>(panel_, kDateCheckTag)->setChecked(m.isAddDateTime());
    byTag<QCheckBox>(panel_, kNumberCheckTag)->setChecked(m.isAddNumber());
    byTag<QComboBox>(panel_, kDatePopUpTag)->setCurrentIndex(std::clamp(m.dateTimeType(), 0, 3));
    // A stored count outside the offered ones is shown as the nearest.
    const int d = std::clamp(m.digitType(), 0, 5) + 1;
    auto* digitPopUp = byTag<QComboBox>(panel_, kDigitPopUpTag);
    {
        const QSignalBlocker block(digitPopUp);
        digitPopUp->setCurrentIndex(d - 1);
    }
    auto* field = byTag<QLineEdit>(panel_, kStartFieldTag);
    field->setMaxLength(d);
    field->setText(QString::number(m.startNum()).left(d));
    updateFileNameCntlr();
}

void FileNameSettingCntlr::updateFileNameCntlr() {
    const bool date = byTag<QCheckBox>(panel_, kDateCheckTag)->isChecked();
    const bool number = byTag<QCheckBox>(panel_, kNumberCheckTag)->isChecked();
    control(kDatePopUpTag)->setEnabled(date);
    control(kDigitPopUpTag)->setEnabled(number);
    control(kStartFieldTag)->setEnabled(number);
    control(kNumberSubTextTag)->setEnabled(number);
    updateFileNameDisplay();
}

std::shared_ptr<OutputModel> FileNameSettingCntlr::editedCopy() const {
    if (!tmpFileNameOutputModel_) return nullptr;
    auto copy = tmpFileNameOutputModel_->copy();
    copy->setIsUseFNSetting(true);
    copy->setIsAddDateTime(byTag<QCheckBox>(panel_, kDateCheckTag)->isChecked());
    copy->setDateTimeType(byTag<QComboBox>(panel_, kDatePopUpTag)->currentIndex());
    copy->setIsAddNumber(byTag<QCheckBox>(panel_, kNumberCheckTag)->isChecked());
    copy->setDigitType(digits() - 1);
    copy->setStartNum(qlr_output::clampStartNumber(byTag<QLineEdit>(panel_, kStartFieldTag)->text().toStdString(),
                                                   digits()));
    return copy;
}

void FileNameSettingCntlr::updateFileNameDisplay() {
    auto copy = editedCopy();
    byTag<QLabel>(panel_, kSampleTag)->setText(QString::fromStdString(qlr_output::currentFileName(copy.get())));
}

void FileNameSettingCntlr::changeDigit(const QString& text) {
    if (text.isEmpty()) {
        updateFileNameDisplay();
        return;
    }
    const int v = qlr_output::clampStartNumber(text.toStdString(), digits());
    auto* field = byTag<QLineEdit>(panel_, kStartFieldTag);
    field->setText(QString::fromStdString(qlr_output::paddedNumber(v, int(text.size()))));
    updateFileNameDisplay();
}

void FileNameSettingCntlr::digitsChanged() {
    const int d = digits();
    auto* field = byTag<QLineEdit>(panel_, kStartFieldTag);
    const int v = qlr_output::clampStartNumber(field->text().toStdString(), 6);
    const int max = qlr_output::clampStartNumber("9999999", d);
    if (QString::number(v).size() > d) field->setText(QString::number(max));
    field->setMaxLength(d);
    updateFileNameCntlr();
}

void FileNameSettingCntlr::closeFileNameSetting(int tag) {
    if (!tmpFileNameOutputModel_) return;
    if (tag == kOkTag) {
        auto copy = editedCopy();
        try {
            qlr_output::checkFileNameRule(copy->freeFileName(), false, true, copy->isAddDateTime(),
                                          copy->isAddNumber());
        } catch (const kdf::Exception& e) {
            TV_Message::showErrorPanel(e);
            return;
        }
        auto& m = *tmpFileNameOutputModel_;
        m.setIsAddDateTime(copy->isAddDateTime());
        m.setDateTimeType(copy->dateTimeType());
        m.setIsAddNumber(copy->isAddNumber());
        m.setDigitType(copy->digitType());
        m.setStartNum(copy->startNum());
    }
    tmpFileNameOutputModel_.reset();
    if (auto* focus = panel_->focusWidget()) focus->clearFocus();
    panel_->hide();
    if (auto* parent = panel_->parentWidget()) {
        parent->activateWindow();
        parent->raise();
    }
}
