// The file-name dialog offscreen: the start field while typing, the digit
// count, the sample name, OK and Cancel.
#include "FileNameSettingCntlr.h"
#include "FileNaming.h"

#include "AppMainCntlrFakes.h"

#include <OutputModel.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

class FileNameDialog : public ::testing::Test {
protected:
    std::shared_ptr<apptest::AlertRecorder> alerts = std::make_shared<apptest::AlertRecorder>();
    std::shared_ptr<OutputModel> model = std::make_shared<OutputModel>();
    FileNameSettingCntlr* cntlr = nullptr;
    QLineEdit* field = nullptr;

    void SetUp() override {
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, alerts);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, alerts);
        qlr_output::setNameClock([] { return std::chrono::system_clock::time_point{}; });
        model->setFreeFileName("Scan");
        model->setIsUseFNSetting(true);
        model->setIsAddDateTime(false);
        model->setIsAddNumber(true);
        model->setDigitType(2);
        model->setStartNum(7);
        model->setFileFormatType(0);
        cntlr = FileNameSettingCntlr::sharedFileNameSettingCntlr();
    }
    void TearDown() override {
        FileNameSettingCntlr::terminateFileNameSettingCntlr();
        qlr_output::setNameClock(nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, nullptr);
    }
    void open() {
        cntlr->runModalFileNameSetting(nullptr, model);
        field = qobject_cast<QLineEdit*>(cntlr->control(FileNameSettingCntlr::kStartFieldTag));
        ASSERT_NE(field, nullptr);
    }
    void type(const QString& text) {
        field->setText(text);
        emit field->textEdited(text);
    }
    QString sample() const { return qobject_cast<QLabel*>(cntlr->control(FileNameSettingCntlr::kSampleTag))->text(); }
    QComboBox* digits() const { return qobject_cast<QComboBox*>(cntlr->control(FileNameSettingCntlr::kDigitPopUpTag)); }
};

TEST_F(FileNameDialog, StartFieldWhileTyping) {
    open();
    EXPECT_EQ(field->text(), "7");
    EXPECT_EQ(sample(), "Scan_007.pdf");
    struct Case {
        int digitType;
        QString typed, shown;
    } cases[] = {{2, "000", "001"}, {1, "99", "99"}, {2, "05", "05"}, {0, "0", "1"}};
    for (const auto& c : cases) {
        digits()->setCurrentIndex(c.digitType);
        type(c.typed);
        EXPECT_EQ(field->text(), c.shown) << c.typed.toStdString();
        EXPECT_EQ(field->maxLength(), c.digitType + 1);
    }
    // Editing ends: a plain decimal.
    digits()->setCurrentIndex(2);
    type("005");
    emit field->editingFinished();
    EXPECT_EQ(field->text(), "5");
}

TEST_F(FileNameDialog, FewerDigitsClampAndOkWrites) {
    model->setStartNum(345);
    open();
    digits()->setCurrentIndex(1);
    EXPECT_EQ(field->text(), "99");
    EXPECT_EQ(sample(), "Scan_99.pdf");
    EXPECT_FALSE(cntlr->control(FileNameSettingCntlr::kDatePopUpTag)->isEnabled());
    qobject_cast<QPushButton*>(cntlr->control(FileNameSettingCntlr::kOkTag))->click();
    EXPECT_FALSE(cntlr->isVisible());
    EXPECT_EQ(model->startNum(), 99);
    EXPECT_EQ(model->digitType(), 1);
    EXPECT_TRUE(alerts->shown.empty());
}

TEST_F(FileNameDialog, OkWithLeadingDotStaysOpenCancelKeepsModel) {
    model->setFreeFileName("  .hidden ");
    open();
    qobject_cast<QCheckBox*>(cntlr->control(FileNameSettingCntlr::kNumberCheckTag))->setChecked(false);
    qobject_cast<QPushButton*>(cntlr->control(FileNameSettingCntlr::kOkTag))->click();
    EXPECT_TRUE(cntlr->isVisible());
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_TRUE(model->isAddNumber());
    qobject_cast<QPushButton*>(cntlr->control(FileNameSettingCntlr::kCancelTag))->click();
    EXPECT_FALSE(cntlr->isVisible());
    EXPECT_TRUE(model->isAddNumber());
}

} // namespace

APPTEST_MAIN()
