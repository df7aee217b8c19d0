// The file-option dialog of the setting window: the page grouping, PDF/A,
// compression and text recognition of a PDF output, the grouping of a TIFF
// output and the compression rate of a JPEG output. Two panels: the
// PDF/TIFF panel and the compression panel (alone for JPEG, over the PDF
// panel for PDF). Both open as modal children of their parent window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

#include <memory>

class OutputModel;
class QWidget;

class FileOptionSettingCntlr : public QObject {
public:
    enum Tag : int {
        kAllPageRadioTag = 101,
        kPartPageRadioTag = 102,
        kPagesFieldTag = 103,
        kPagesStepperTag = 104,
        kPDFATag = 105,
        kCompTitleTag = 106,
        kCompPopUpTag = 107,
        kCompDetailTag = 108,
        kAddOCRTag = 109,
        kOCRLangPopUpTag = 110,
        kPdfTiffCancelTag = 111,
        kPdfTiffOkTag = 112,
        kCompPanelTitleTag = 200,
        kCompSliderTag = 204,
        kCompCancelTag = 208,
        kCompOkTag = 209,
    };
    static constexpr int kMinPagesPerFile = 1;
    static constexpr int kMaxPagesPerFile = 9999;
    static constexpr int kDefaultCompRate = 3;

    static FileOptionSettingCntlr* sharedFileOptionSettingCntlr();
    static void terminateFileOptionSettingCntlr();

    // Opens the panel of the model's format over the parent; PNG opens
    // nothing. The model changes only through the panel's OK.
    void runModalFileOptionSetting(QWidget* parent, std::shared_ptr<OutputModel> outputModel);
    // The details button: the compression panel over the PDF panel.
    void runModalCompSetting();
    // OK or Cancel of either panel, by the button's tag.
    void closePdfTiffSetting(int tag);
    void closeCompSetting(int tag);

    QWidget* pdfTiffSettingPanel() const { return pdfTiffPanel_; }
    QWidget* compSettingPanel() const { return compPanel_; }
    bool isVisible() const;
    // A control of either panel by tag.
    QWidget* control(int tag) const;
    int tmpCompRate_PDF() const { return tmpCompRate_PDF_; }
    const std::shared_ptr<OutputModel>& tmpFileOptionOutputModel() const { return model_; }

    // The grouping row: 0 all pages in one file, 1 a file every N pages.
    void selectCellAtRowMultiRdBtn(int row);
    int selectedRowMultiRdBtn() const;
    // A new pages-per-file value from the field or the stepper.
    void changeMultiValue(int value);

    // Pages per file as stored values are shown: 1 to 9999.
    static int clampPagesPerFile(long long value);
    // The digits of the field (any script's decimal digits); 0 when none.
    static long long fieldNumber(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FileOptionSettingCntlr();
    ~FileOptionSettingCntlr() override;
    void initFileOptionWindow();
    void initFileOptionCntlr();
    void updateOCRCntlr(bool enabled);
    void updateOCRLangCntlr();
    void updateOCRLangCntlrWithOCRLangType(int ocrLangType);
    void adjustLayoutInPDF();
    void adjustLayoutInTIFF();
    void adjustLayoutInComp();
    void fieldEdited(const QString& text);
    void afterClose(QWidget* parent);

    QPointer<QWidget> pdfTiffPanel_;
    QPointer<QWidget> compPanel_;
    QPointer<QWidget> pdfOnlyPart_;
    std::shared_ptr<OutputModel> model_;
    int tmpCompRate_PDF_ = kDefaultCompRate;
    QRect mInitPdfWinRc_;
    QRect mInitTiffWinRc_;
};
