// The file-option dialog offscreen: the pages-per-file field and stepper,
// what each format's OK writes, the compression panel under PDF and JPEG,
// and stored values out of range.
#include "FileOptionSettingCntlr.h"

#include "AppMainCntlrFakes.h"

#include <OutputModel.h>
#include <SettingPopUpButtons.h>

#include <ui/QtRunLoop.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

namespace {

using C = FileOptionSettingCntlr;

class FileOptionDialog : public ::testing::Test {
protected:
    std::shared_ptr<apptest::AlertRecorder> alerts = std::make_shared<apptest::AlertRecorder>();
    std::shared_ptr<OutputModel> model = std::make_shared<OutputModel>();
    C* cntlr = nullptr;

    void SetUp() override {
        kdui::installQtRunLoopDriver();
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, alerts);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, alerts);
        model->setFileOp_MultiType_PDF(0);
        model->setMultiPageNum_PDF(5);
        model->setIsPDFA(false);
        model->setFileOp_CompType(0);
        model->setCompRate_PDF(2);
        model->setIsAddOCR(true);
        model->setFileOp_OCRLangType(1);
        model->setFileOp_MultiType_TIFF(0);
        model->setMultiPageNum_TIFF(7);
        model->setCompRate_JPEG(4);
        cntlr = C::sharedFileOptionSettingCntlr();
    }
    void TearDown() override {
        C::terminateFileOptionSettingCntlr();
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, nullptr);
    }
    void open(int format) {
        model->setFileFormatType(format);
        cntlr->runModalFileOptionSetting(nullptr, model);
        apptest::runOneTurn();
    }
    template <class T> T* at(int tag) const {
        auto* w = qobject_cast<T*>(cntlr->control(tag));
        EXPECT_NE(w, nullptr) << tag;
        return w;
    }
    void click(int tag) { at<QAbstractButton>(tag)->click(); }
    void type(const QString& text) {
        auto* field = at<QLineEdit>(C::kPagesFieldTag);
        field->setText(text);
        emit field->textEdited(text);
    }
    QString field() const { return at<QLineEdit>(C::kPagesFieldTag)->text(); }
    int row() const { return cntlr->selectedRowMultiRdBtn(); }
    bool settled(QWidget* w, bool visible) {
        return apptest::runUntil([&] { return w->isVisible() == visible; }, 5);
    }
};

TEST_F(FileOptionDialog, PagesPerFileFieldAndStepper) {
    open(0);
    ASSERT_TRUE(cntlr->pdfTiffSettingPanel()->isVisible());
    EXPECT_EQ(field(), "5");
    EXPECT_EQ(row(), 0);
    struct Case {
        QString typed, shown;
    } cases[] = {{"0", "1"}, {"", "1"}, {"0042", "42"}, {"9999", "9999"}, {"\u0661\u0662", "12"}};
    for (const auto& c : cases) {
        cntlr->selectCellAtRowMultiRdBtn(0);
        type(c.typed);
        EXPECT_EQ(field(), c.shown) << c.typed.toStdString();
        EXPECT_EQ(at<QSpinBox>(C::kPagesStepperTag)->value(), c.shown.toInt());
        // Editing the count chooses "a file every N pages".
        EXPECT_EQ(row(), 1);
    }
    // Five digits cannot be typed.
    auto* f = at<QLineEdit>(C::kPagesFieldTag);
    f->clear();
    for (QChar ch : QStringLiteral("12000")) f->insert(ch);
    EXPECT_EQ(f->text(), "1200");

    cntlr->selectCellAtRowMultiRdBtn(0);
    at<QSpinBox>(C::kPagesStepperTag)->setValue(12000);
    EXPECT_EQ(field(), "9999");
    EXPECT_EQ(at<QSpinBox>(C::kPagesStepperTag)->value(), 9999);
    EXPECT_EQ(row(), 1);
    cntlr->changeMultiValue(-3);
    EXPECT_EQ(field(), "1");

    // Radio buttons: 101 gives row 0 even when clicked while on.
    click(C::kAllPageRadioTag);
    EXPECT_EQ(row(), 0);
    click(C::kAllPageRadioTag);
    EXPECT_EQ(row(), 0);
    click(C::kPartPageRadioTag);
    EXPECT_EQ(row(), 1);
    EXPECT_FALSE(at<QRadioButton>(C::kAllPageRadioTag)->isChecked());
}

TEST_F(FileOptionDialog, PdfOkWritesEveryOptionCancelNothing) {
    open(0);
    type("12");
    click(C::kPDFATag);
    // Japanese has no PDF/A text layer: the list falls back to English.
    auto* lang = at<PDFOCRLangPopUpButton>(C::kOCRLangPopUpTag);
    EXPECT_EQ(lang->selectedTag(), 2);
    EXPECT_FALSE(alerts->shown.empty());
    at<TvPopUpButton>(C::kCompPopUpTag)->selectItemWithTag(1);
    click(C::kPdfTiffCancelTag);
    EXPECT_TRUE(settled(cntlr->pdfTiffSettingPanel(), false));
    EXPECT_EQ(model->multiPageNum_PDF(), 5);
    EXPECT_FALSE(model->isPDFA());
    EXPECT_EQ(model->fileOp_OCRLangType(), 1);

    open(0);
    EXPECT_EQ(field(), "5");
    EXPECT_FALSE(at<QCheckBox>(C::kPDFATag)->isChecked());
    EXPECT_EQ(at<PDFOCRLangPopUpButton>(C::kOCRLangPopUpTag)->selectedTag(), 1);
    type("12");
    click(C::kPDFATag);
    at<TvPopUpButton>(C::kCompPopUpTag)->selectItemWithTag(1);
    click(C::kAddOCRTag);
    EXPECT_FALSE(cntlr->control(C::kOCRLangPopUpTag)->isEnabled());
    click(C::kPdfTiffOkTag);
    EXPECT_EQ(model->fileOp_MultiType_PDF(), 1);
    EXPECT_EQ(model->multiPageNum_PDF(), 12);
    EXPECT_TRUE(model->isPDFA());
    EXPECT_EQ(model->fileOp_CompType(), 1);
    EXPECT_FALSE(model->isAddOCR());
    EXPECT_EQ(model->fileOp_OCRLangType(), 2);
    EXPECT_EQ(model->compRate_PDF(), 2);
    EXPECT_EQ(cntlr->tmpFileOptionOutputModel(), nullptr);
}

TEST_F(FileOptionDialog, TiffHidesPdfRowsAndStoresOnlyGrouping) {
    open(0);
    const int pdfHeight = cntlr->pdfTiffSettingPanel()->height();
    click(C::kPdfTiffCancelTag);
    EXPECT_TRUE(settled(cntlr->pdfTiffSettingPanel(), false));

    open(1);
    ASSERT_TRUE(cntlr->pdfTiffSettingPanel()->isVisible());
    EXPECT_LT(cntlr->pdfTiffSettingPanel()->height(), pdfHeight);
    for (int tag = C::kPDFATag; tag <= C::kOCRLangPopUpTag; ++tag)
        EXPECT_FALSE(cntlr->control(tag)->isVisible()) << tag;
    EXPECT_EQ(field(), "7");
    type("3");
    // The hidden PDF controls are touched as a user cannot, and must not leak.
    at<QCheckBox>(C::kPDFATag)->setChecked(true);
    at<QCheckBox>(C::kAddOCRTag)->setChecked(false);
    click(C::kPdfTiffOkTag);
    EXPECT_EQ(model->fileOp_MultiType_TIFF(), 1);
    EXPECT_EQ(model->multiPageNum_TIFF(), 3);
    EXPECT_EQ(model->fileOp_MultiType_PDF(), 0);
    EXPECT_EQ(model->multiPageNum_PDF(), 5);
    EXPECT_FALSE(model->isPDFA());
    EXPECT_TRUE(model->isAddOCR());
    EXPECT_EQ(model->compRate_PDF(), 2);
}

TEST_F(FileOptionDialog, CompressionUnderPdfWaitsForPdfOk) {
    open(0);
    click(C::kCompDetailTag);
    ASSERT_TRUE(settled(cntlr->compSettingPanel(), true));
    auto* slider = at<QSlider>(C::kCompSliderTag);
    EXPECT_EQ(slider->value(), 2);
    slider->setValue(4);
    click(C::kCompOkTag);
    EXPECT_TRUE(settled(cntlr->compSettingPanel(), false));
    EXPECT_EQ(cntlr->tmpCompRate_PDF(), 4);
    EXPECT_EQ(model->compRate_PDF(), 2);
    click(C::kPdfTiffCancelTag);
    EXPECT_EQ(model->compRate_PDF(), 2);

    open(0);
    click(C::kCompDetailTag);
    EXPECT_EQ(at<QSlider>(C::kCompSliderTag)->value(), 2);
    at<QSlider>(C::kCompSliderTag)->setValue(5);
    click(C::kCompCancelTag);
    EXPECT_EQ(cntlr->tmpCompRate_PDF(), 2);
    click(C::kCompDetailTag);
    at<QSlider>(C::kCompSliderTag)->setValue(1);
    click(C::kCompOkTag);
    click(C::kPdfTiffOkTag);
    EXPECT_EQ(model->compRate_PDF(), 1);
}

TEST_F(FileOptionDialog, JpegCompressionWritesAtOnce) {
    open(2);
    EXPECT_FALSE(cntlr->pdfTiffSettingPanel()->isVisible());
    ASSERT_TRUE(cntlr->compSettingPanel()->isVisible());
    at<QSlider>(C::kCompSliderTag)->setValue(1);
    click(C::kCompCancelTag);
    EXPECT_EQ(model->compRate_JPEG(), 4);
    EXPECT_TRUE(settled(cntlr->compSettingPanel(), false));

    open(2);
    at<QSlider>(C::kCompSliderTag)->setValue(1);
    click(C::kCompOkTag);
    EXPECT_EQ(model->compRate_JPEG(), 1);
    EXPECT_EQ(cntlr->tmpFileOptionOutputModel(), nullptr);
}

TEST_F(FileOptionDialog, PngAndUnknownFormatsOpenNothing) {
    for (int format : {3, 7, -1}) {
        open(format);
        EXPECT_FALSE(cntlr->isVisible()) << format;
        EXPECT_EQ(cntlr->tmpFileOptionOutputModel(), nullptr);
    }
    cntlr->runModalFileOptionSetting(nullptr, nullptr);
    EXPECT_FALSE(cntlr->isVisible());
}

TEST_F(FileOptionDialog, StoredValuesOutOfRangeShowClamped) {
    struct Case {
        int pages, type, lang, comp;
        QString shownPages;
        int shownRow, shownLang, shownComp;
    } cases[] = {{0, -4, 40, 5, "1", 0, 2, 1}, {50000, 9, -1, -2, "9999", 1, 2, 0}, {9999, 1, 12, 1, "9999", 1, 12, 1}};
    for (const auto& c : cases) {
        model->setMultiPageNum_PDF(c.pages);
        model->setFileOp_MultiType_PDF(c.type);
        model->setFileOp_OCRLangType(c.lang);
        model->setFileOp_CompType(c.comp);
        open(0);
        EXPECT_EQ(field(), c.shownPages);
        EXPECT_EQ(row(), c.shownRow);
        EXPECT_EQ(at<TvPopUpButton>(C::kOCRLangPopUpTag)->selectedTag(), c.shownLang);
        EXPECT_EQ(at<TvPopUpButton>(C::kCompPopUpTag)->selectedTag(), c.shownComp);
        click(C::kPdfTiffOkTag);
        EXPECT_EQ(model->multiPageNum_PDF(), c.shownPages.toInt());
        EXPECT_EQ(model->fileOp_OCRLangType(), c.shownLang);
        settled(cntlr->pdfTiffSettingPanel(), false);
    }
}

} // namespace

APPTEST_MAIN()
