// The file-name dialog: edits the date/time and counter parts of an
// output's naming rule, showing the resulting name as the user types.
#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class OutputModel;
class QDialog;
class QWidget;

class FileNameSettingCntlr : public QObject {
public:
    enum Tag : int {
        kTitleTag = 100,
        kSampleTag = 101,
        kDateCheckTag = 102,
        kDatePopUpTag = 103,
        kNumberCheckTag = 104,
        kDigitPopUpTag = 105,
        kStartFieldTag = 106,
        kNumberSubTextTag = 107,
        kCancelTag = 108,
        kOkTag = 109,
    };

    static FileNameSettingCntlr* sharedFileNameSettingCntlr();
    static void terminateFileNameSettingCntlr();

    // Opens the dialog on the model, modal to the parent; the model
    // changes only through OK.
    void runModalFileNameSetting(QWidget* parent, std::shared_ptr<OutputModel> outputModel);
    QDialog* fileNameSettingPanel() const { return panel_; }
    bool isVisible() const;

    // The dialog's own controls, by tag (also for the tests).
    QWidget* control(int tag) const;

    // OK (109) or Cancel (108).
    void closeFileNameSetting(int tag);

private:
    FileNameSettingCntlr();
    ~FileNameSettingCntlr() override;
    void adjustLayoutInFileName();
    void initFileNameCntlr();
    void updateFileNameCntlr();
    void updateFileNameDisplay();
    void changeDigit(const QString& text);
    void digitsChanged();
    int digits() const;
    std::shared_ptr<OutputModel> editedCopy() const;

    QPointer<QDialog> panel_;
    std::shared_ptr<OutputModel> tmpFileNameOutputModel_;
};
