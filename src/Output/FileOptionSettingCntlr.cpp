#include "FileOptionSettingCntlr.h"

#include "OutputUIText.h"

#include "ui_FileOptionSetting.h"

#include <OutputModel.h>
#include <QlrUtilsMethodUI.h>
#include <SettingPopUpButtons.h>
#include <TV_FuncUI.h>
#include <TvWindow.h>

#include <ui/ViewTag.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

FileOptionSettingCntlr* sShared = nullptr;

QString localized(const QString& key) { return qlr_output::localizedText(key); }

template <class T> T* byTag(QWidget* root, int tag) { return qobject_cast<T*>(kdui::viewWithTag(root, tag)); }

constexpr int kFormatPDF = 0, kFormatTIFF = 1, kFormatJPEG = 2;
constexpr int kOCRLangEnglish = 2;
constexpr int kLastOCRLang = 12;

// Every text of the part is a localisation key.
void localizeTexts(QWidget* root) {
    for (auto* label : root->findChildren<QLabel*>())
        if (!label->text().isEmpty()) label->setText(localized(label->text()));
    for (auto* button : root->findChildren<QAbstractButton*>())
        if (!qobject_cast<TvPopUpButton*>(button) && !button->text().isEmpty())
            button->setText(localized(button->text()));
}

// Moves a part of the form into a window of its own.
TvWindow* windowAround(QWidget* content) {
    auto* window = new TvWindow(nullptr, Qt::Dialog);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(12, 12, 12, 12);
    content->setParent(window);
    layout->addWidget(content);
    content->show();
    return window;
}

} // namespace

FileOptionSettingCntlr* FileOptionSettingCntlr::sharedFileOptionSettingCntlr() {
    if (!sShared) sShared = new FileOptionSettingCntlr;
    return sShared;
}

void FileOptionSettingCntlr::terminateFileOptionSettingCntlr() {
    delete sShared;
    sShared = nullptr;
}

FileOptionSettingCntlr::FileOptionSettingCntlr() {
    auto form = std::make_unique<QWidget>();
    Ui::FileOptionSetting ui;
    ui.setupUi(form.get());
    pdfTiffPanel_ = windowAround(ui.pdfTiffSettingPanel);
    compPanel_ = windowAround(ui.compSettingPanel);
    pdfOnlyPart_ = ui.pdfOnlyPart;
    form.reset();

    localizeTexts(pdfTiffPanel_);
    localizeTexts(compPanel_);
    QlrUtilsMethod::layoutLeftToRight(pdfTiffPanel_);
    QlrUtilsMethod::layoutLeftToRight(compPanel_);

    auto* field = byTag<QLineEdit>(pdfTiffPanel_, kPagesFieldTag);
    field->setMaxLength(4);
    field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9\u0660-\u0669]{0,4}")), field));
    auto* stepper = byTag<QSpinBox>(pdfTiffPanel_, kPagesStepperTag);
    stepper->setRange(kMinPagesPerFile, kMaxPagesPerFile);
    selectCellAtRowMultiRdBtn(0);

    for (int tag : {kAllPageRadioTag, kPartPageRadioTag})
        QObject::connect(byTag<QRadioButton>(pdfTiffPanel_, tag), &QRadioButton::clicked, this,
                         [this, tag] { selectCellAtRowMultiRdBtn(tag == kPartPageRadioTag ? 1 : 0); });
    QObject::connect(field, &QLineEdit::textEdited, this, [this](const QString& t) { fieldEdited(t); });
    QObject::connect(field, &QLineEdit::editingFinished, this, [this, field] {
        if (model_) changeMultiValue(int(std::min<long long>(fieldNumber(field->text()), kMaxPagesPerFile + 1)));
    });
    QObject::connect(stepper, &QSpinBox::valueChanged, this, [this](int v) { changeMultiValue(v); });
    QObject::connect(byTag<QCheckBox>(pdfTiffPanel_, kPDFATag), &QCheckBox::clicked, this,
                     [this] { updateOCRLangCntlr(); });
    QObject::connect(byTag<QCheckBox>(pdfTiffPanel_, kAddOCRTag), &QCheckBox::clicked, this, [this](bool on) {
        updateOCRCntlr(on);
        if (on) updateOCRLangCntlr();
    });
    QObject::connect(byTag<QPushButton>(pdfTiffPanel_, kCompDetailTag), &QPushButton::clicked, this,
                     [this] { runModalCompSetting(); });
    for (int tag : {kPdfTiffCancelTag, kPdfTiffOkTag})
        QObject::connect(byTag<QPushButton>(pdfTiffPanel_, tag), &QPushButton::clicked, this,
                         [this, tag] { closePdfTiffSetting(tag); });
    for (int tag : {kCompCancelTag, kCompOkTag})
        QObject::connect(byTag<QPushButton>(compPanel_, tag), &QPushButton::clicked, this,
                         [this, tag] { closeCompSetting(tag); });
    // Escape and the window's close button are Cancel, Return is OK.
    auto keys = [this](QWidget* panel, int cancelTag, int okTag) {
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), panel);
        QObject::connect(escape, &QShortcut::activated, this, [panel, cancelTag] {
            if (auto* b = byTag<QPushButton>(panel, cancelTag)) b->click();
        });
        for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
            auto* ret = new QShortcut(QKeySequence(key), panel);
            QObject::connect(ret, &QShortcut::activated, this, [panel, okTag] {
                if (auto* b = byTag<QPushButton>(panel, okTag)) b->click();
            });
        }
        panel->installEventFilter(this);
    };
    keys(pdfTiffPanel_, kPdfTiffCancelTag, kPdfTiffOkTag);
    keys(compPanel_, kCompCancelTag, kCompOkTag);

    // The PDF frame holds every row; TIFF's leaves out the PDF-only part.
    pdfTiffPanel_->adjustSize();
    mInitPdfWinRc_ = QRect(QPoint(), pdfTiffPanel_->size());
    const int spacing = std::max(0, pdfTiffPanel_->findChild<QWidget*>("pdfTiffSettingPanel")->layout()->spacing());
    mInitTiffWinRc_ = mInitPdfWinRc_.adjusted(0, 0, 0, -(pdfOnlyPart_->sizeHint().height() + spacing));
    compPanel_->adjustSize();
}

FileOptionSettingCntlr::~FileOptionSettingCntlr() {
    delete compPanel_.data();
    delete pdfTiffPanel_.data();
}

bool FileOptionSettingCntlr::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && model_) {
        // The window's own close button cancels through the panel's Cancel.
        event->ignore();
        if (watched == compPanel_.data())
            closeCompSetting(kCompCancelTag);
        else if (watched == pdfTiffPanel_.data() && !compPanel_->isVisible())
            closePdfTiffSetting(kPdfTiffCancelTag);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QWidget* FileOptionSettingCntlr::control(int tag) const {
    if (QWidget* w = kdui::viewWithTag(pdfTiffPanel_, tag)) return w;
    return kdui::viewWithTag(compPanel_, tag);
}

bool FileOptionSettingCntlr::isVisible() const {
    return (pdfTiffPanel_ && pdfTiffPanel_->isVisible()) || (compPanel_ && compPanel_->isVisible());
}

int FileOptionSettingCntlr::clampPagesPerFile(long long value) {
    return int(std::clamp<long long>(value, kMinPagesPerFile, kMaxPagesPerFile));
}

long long FileOptionSettingCntlr::fieldNumber(const QString& text) {
    long long value = 0;
    for (QChar c : text) {
        const int d = c.digitValue();
        if (d < 0) continue;
        value = value * 10 + d;
        if (value > kMaxPagesPerFile) return kMaxPagesPerFile + 1;
    }
    return value;
}

void FileOptionSettingCntlr::runModalFileOptionSetting(QWidget* parent, std::shared_ptr<OutputModel> outputModel) {
    if (!outputModel) return;
    const int format = outputModel->fileFormatType();
    if (format != kFormatPDF && format != kFormatTIFF && format != kFormatJPEG) return;
    model_ = std::move(outputModel);
    QWidget* panel = format == kFormatJPEG ? compPanel_.data() : pdfTiffPanel_.data();
    if (format != kFormatJPEG) initFileOptionWindow();
    initFileOptionCntlr();
    if (format == kFormatJPEG)
        adjustLayoutInComp();
    else if (format == kFormatTIFF)
        adjustLayoutInTIFF();
    else
        adjustLayoutInPDF();
    TV_Func::windowPositionAdjustment(panel, parent, TV_Func::kAlignCentre);
    QPointer<QWidget> guardedParent = parent;
    TvWindow::beginModalWindow(panel, parent, true, {}, [this, guardedParent] { afterClose(guardedParent); });
}

void FileOptionSettingCntlr::afterClose(QWidget* parent) {
    if (!parent) return;
    parent->activateWindow();
    parent->raise();
}

void FileOptionSettingCntlr::initFileOptionWindow() {
    const bool tiff = model_->fileFormatType() == kFormatTIFF;
    pdfOnlyPart_->setHidden(tiff);
    const QRect frame = tiff ? mInitTiffWinRc_ : mInitPdfWinRc_;
    pdfTiffPanel_->setMinimumSize(0, 0);
    pdfTiffPanel_->resize(frame.size());
}

void FileOptionSettingCntlr::initFileOptionCntlr() {
    const OutputModel& m = *model_;
    auto* box = pdfTiffPanel_->findChild<QGroupBox*>("multiBox");
    auto* slider = byTag<QSlider>(compPanel_, kCompSliderTag);
    auto setPages = [this](int type, int pages) {
        selectCellAtRowMultiRdBtn(type);
        const int n = clampPagesPerFile(pages);
        byTag<QLineEdit>(pdfTiffPanel_, kPagesFieldTag)->setText(QString::number(n));
        auto* stepper = byTag<QSpinBox>(pdfTiffPanel_, kPagesStepperTag);
        const QSignalBlocker block(stepper);
        stepper->setValue(n);
    };
    switch (m.fileFormatType()) {
    case kFormatJPEG:
        compPanel_->setWindowTitle(localized("JPEG_WindowTitle"));
        slider->setValue(m.compRate_JPEG());
        break;
    case kFormatTIFF:
        pdfTiffPanel_->setWindowTitle(localized("TIFF_WindowTitle"));
        box->setTitle(localized("Multi_TIFF_Title"));
        setPages(m.fileOp_MultiType_TIFF(), m.multiPageNum_TIFF());
        break;
    case kFormatPDF: {
        pdfTiffPanel_->setWindowTitle(localized("PDF_WindowTitle"));
        compPanel_->setWindowTitle(localized("Comp_WindowTitle"));
        box->setTitle(localized("Multi_PDF_Title"));
        setPages(m.fileOp_MultiType_PDF(), m.multiPageNum_PDF());
        byTag<QCheckBox>(pdfTiffPanel_, kPDFATag)->setChecked(m.isPDFA());
        byTag<TvPopUpButton>(pdfTiffPanel_, kCompPopUpTag)->selectItemWithTag(std::clamp(m.fileOp_CompType(), 0, 1));
        tmpCompRate_PDF_ = m.compRate_PDF();
        slider->setValue(tmpCompRate_PDF_);
        byTag<QCheckBox>(pdfTiffPanel_, kAddOCRTag)->setChecked(m.isAddOCR());
        // The list is rebuilt while the pop-up is still off, so a stored
        // language is never refused before the panel shows.
        updateOCRCntlr(false);
        const int lang = m.fileOp_OCRLangType();
        updateOCRLangCntlrWithOCRLangType(lang < 0 || lang > kLastOCRLang ? kOCRLangEnglish : lang);
        updateOCRCntlr(m.isAddOCR());
        break;
    }
    default:
        break;
    }
}

void FileOptionSettingCntlr::selectCellAtRowMultiRdBtn(int row) {
    row = std::clamp(row, 0, 1);
    byTag<QRadioButton>(pdfTiffPanel_, kAllPageRadioTag)->setChecked(row == 0);
    byTag<QRadioButton>(pdfTiffPanel_, kPartPageRadioTag)->setChecked(row == 1);
}

int FileOptionSettingCntlr::selectedRowMultiRdBtn() const {
    const bool all = byTag<QRadioButton>(pdfTiffPanel_, kAllPageRadioTag)->isChecked();
    const bool part = byTag<QRadioButton>(pdfTiffPanel_, kPartPageRadioTag)->isChecked();
    return !all && part ? 1 : 0;
}

void FileOptionSettingCntlr::changeMultiValue(int value) {
    const int n = clampPagesPerFile(value);
    auto* field = byTag<QLineEdit>(pdfTiffPanel_, kPagesFieldTag);
    if (field->text() != QString::number(n)) field->setText(QString::number(n));
    auto* stepper = byTag<QSpinBox>(pdfTiffPanel_, kPagesStepperTag);
    {
        const QSignalBlocker block(stepper);
        stepper->setValue(n);
    }
    selectCellAtRowMultiRdBtn(1);
}

void FileOptionSettingCntlr::fieldEdited(const QString& text) {
    changeMultiValue(int(fieldNumber(text)));
}

void FileOptionSettingCntlr::updateOCRCntlr(bool enabled) {
    control(kOCRLangPopUpTag)->setEnabled(enabled);
}

void FileOptionSettingCntlr::updateOCRLangCntlr() {
    const int selected = byTag<TvPopUpButton>(pdfTiffPanel_, kOCRLangPopUpTag)->selectedTag();
    updateOCRLangCntlrWithOCRLangType(selected < 0 ? kOCRLangEnglish : selected);
}

void FileOptionSettingCntlr::updateOCRLangCntlrWithOCRLangType(int ocrLangType) {
    const bool pdfa = byTag<QCheckBox>(pdfTiffPanel_, kPDFATag)->isChecked();
    byTag<PDFOCRLangPopUpButton>(pdfTiffPanel_, kOCRLangPopUpTag)->remakeMenuList(pdfa, ocrLangType);
}

namespace {

// Wider when the localised texts need it, never narrower.
void widenToFit(QWidget* panel, int height) {
    panel->resize(std::max(panel->width(), panel->minimumSizeHint().width()), height);
}

} // namespace

void FileOptionSettingCntlr::adjustLayoutInPDF() {
    widenToFit(pdfTiffPanel_, mInitPdfWinRc_.height());
}

void FileOptionSettingCntlr::adjustLayoutInTIFF() {
    widenToFit(pdfTiffPanel_, mInitTiffWinRc_.height());
}

void FileOptionSettingCntlr::adjustLayoutInComp() {
    widenToFit(compPanel_, compPanel_->sizeHint().height());
}

void FileOptionSettingCntlr::runModalCompSetting() {
    if (!model_) return;
    byTag<QSlider>(compPanel_, kCompSliderTag)->setValue(tmpCompRate_PDF_);
    adjustLayoutInComp();
    TV_Func::windowPositionAdjustment(compPanel_, pdfTiffPanel_, TV_Func::kAlignCentre);
    TvWindow::beginModalWindow(compPanel_, pdfTiffPanel_, true);
}

void FileOptionSettingCntlr::closeCompSetting(int tag) {
    if (!model_ || !compPanel_->isVisible()) return;
    const bool jpeg = model_->fileFormatType() == kFormatJPEG;
    if (tag == kCompOkTag) {
        const int rate = byTag<QSlider>(compPanel_, kCompSliderTag)->value();
        if (jpeg)
            model_->setCompRate_JPEG(rate);
        else
            tmpCompRate_PDF_ = rate;
    }
    if (jpeg) model_.reset();
    if (auto* focus = compPanel_->focusWidget()) focus->clearFocus();
    TvWindow::endModalWindow(compPanel_);
}

void FileOptionSettingCntlr::closePdfTiffSetting(int tag) {
    if (!model_ || model_->fileFormatType() == kFormatJPEG) return;
    if (tag == kPdfTiffOkTag) {
        OutputModel& m = *model_;
        const int row = selectedRowMultiRdBtn();
        const int pages = clampPagesPerFile(fieldNumber(byTag<QLineEdit>(pdfTiffPanel_, kPagesFieldTag)->text()));
        if (m.fileFormatType() == kFormatTIFF) {
            m.setFileOp_MultiType_TIFF(row);
            m.setMultiPageNum_TIFF(pages);
        } else {
            m.setFileOp_MultiType_PDF(row);
            m.setMultiPageNum_PDF(pages);
            m.setIsPDFA(byTag<QCheckBox>(pdfTiffPanel_, kPDFATag)->isChecked());
            m.setFileOp_CompType(std::max(0, byTag<TvPopUpButton>(pdfTiffPanel_, kCompPopUpTag)->selectedTag()));
            m.setCompRate_PDF(tmpCompRate_PDF_);
            m.setIsAddOCR(byTag<QCheckBox>(pdfTiffPanel_, kAddOCRTag)->isChecked());
            const int lang = byTag<TvPopUpButton>(pdfTiffPanel_, kOCRLangPopUpTag)->selectedTag();
            m.setFileOp_OCRLangType(lang < 0 ? kOCRLangEnglish : lang);
        }
    }
    model_.reset();
    if (auto* focus = pdfTiffPanel_->focusWidget()) focus->clearFocus();
    TvWindow::endModalWindow(pdfTiffPanel_);
}
