// The file-name dialog offscreen: the start field while typing, the digit
// count, the sample name, OK and Cancel.
#include "FileNameSettingCntlr.h"
#include "FileNaming.h"

#include "AppMainCntlrFakes.h"

#include <OutputModel.h>

#include <TempHome.h>
#include <foundation/Bundle.h>

#include <QApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

namespace fs = std::filesystem;

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

// The panel opens centred on its parent window; under a right-to-left
// language its rows are mirrored (OK left of Cancel).
TEST_F(FileNameDialog, CentredOnParentAndMirroredRightToLeft) {
    QWidget parent;
    parent.setGeometry(140, 120, 760, 520);
    parent.show();
    cntlr->runModalFileNameSetting(&parent, model);
    QDialog* panel = cntlr->fileNameSettingPanel();
    QApplication::processEvents();
    const QPoint offset = panel->frameGeometry().center() - parent.frameGeometry().center();
    // Within the rounding of odd widths and heights.
    EXPECT_LE(std::abs(offset.x()), 2);
    EXPECT_LE(std::abs(offset.y()), 2);
    cntlr->closeFileNameSetting(FileNameSettingCntlr::kCancelTag);

    const auto okLeftOfCancel = [this] {
        QWidget* ok = cntlr->control(FileNameSettingCntlr::kOkTag);
        QWidget* cancel = cntlr->control(FileNameSettingCntlr::kCancelTag);
        return ok->mapToGlobal(QPoint()).x() < cancel->mapToGlobal(QPoint()).x();
    };
    struct Case {
        const char* locale;
        bool mirrored;
    } cases[] = {{"en_US.UTF-8", false}, {"ar_EG.UTF-8", true}};
    for (const auto& c : cases) {
        kdtest::ScopedEnv env;
        env.set("LANGUAGE", std::nullopt);
        env.set("LC_ALL", std::string(c.locale));
        const fs::path bundle = fs::path(std::getenv("HOME")) / ("App-" + std::string(c.locale));
        fs::create_directories(bundle / "Resources" / "en.lproj");
        fs::create_directories(bundle / "Resources" / "ar.lproj");
        kdtest::TempHome::writeText(bundle / "Info.plist", "<plist><dict><key>CFBundleIdentifier</key>"
                                                           "<string>com.example.names</string></dict></plist>");
        kdf::Bundle::setMainBundlePath(bundle.string());
        // The panel is laid out for the language once, when it is made.
        FileNameSettingCntlr::terminateFileNameSettingCntlr();
        cntlr = FileNameSettingCntlr::sharedFileNameSettingCntlr();
        open();
        QApplication::processEvents();
        EXPECT_EQ(cntlr->fileNameSettingPanel()->layoutDirection(),
                  c.mirrored ? Qt::RightToLeft : Qt::LeftToRight) << c.locale;
        EXPECT_EQ(okLeftOfCancel(), c.mirrored) << c.locale;
        cntlr->closeFileNameSetting(FileNameSettingCntlr::kCancelTag);
        FileNameSettingCntlr::terminateFileNameSettingCntlr();
        cntlr = FileNameSettingCntlr::sharedFileNameSettingCntlr();
        kdf::Bundle::setMainBundlePath({});
    }
}

} // namespace

APPTEST_MAIN()
