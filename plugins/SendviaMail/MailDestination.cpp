#include "MailDestination.h"

#include "PluginFunc.h"
#include "PluginTextField.h"

#include "ui_MailSettingWindow.h"

#include <desktop/Desktop.h>
#include <foundation/File.h>
#include <foundation/RunLoop.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>

#include <plugin/TvQLRPlugin.h>

#include <algorithm>

namespace kdkit {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

constexpr kdf::RunLoopModes kWorkerModes = kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel;
constexpr const char* kSizeQuestion = "Confirm_SizeExceedLimitYesOrNo";
constexpr std::uint64_t kMebibyte = 1048576;

// The field's number: ASCII or Arabic-Indic digits; 0 for none.
long long fieldNumber(const QString& text) {
    long long value = 0;
    for (QChar c : text) {
        const int digit = c.digitValue();
        if (digit < 0) break;
        value = std::min<long long>(value * 10 + digit, 1000000);
    }
    return value;
}

void onMainThread(const std::function<void()>& fn) { kdf::RunLoop::performOnMainThread(fn, true, kWorkerModes); }

} // namespace

long long clampedLimit(long long limit) { return std::clamp<long long>(limit, 1, 99); }

MailDestination::MailDestination(UserRef user)
    : KitController(std::move(user), Windows{true, false, false, false}),
      settingWindow_(std::make_unique<QWidget>(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)) {
    // The progress window shows the state line and the bar only.
    if (QLabel* state = progressLabel(100)) state->clear();
    for (int tag : {101, 102})
        if (QLabel* label = progressLabel(tag)) label->hide();

    Ui::MailSettingWindow form;
    form.setupUi(settingWindow_.get());
    localizeTexts(settingWindow_.get());
    // ASCII and Arabic-Indic digits, two at most.
    form.limitField->setValidCharsInString(QString::fromUtf8("1234567890\u0661\u0662\u0663\u0664\u0665\u0666\u0667\u0668\u0669\u0660"));
    form.limitField->setValidLength(2);
    form.limitStepper->setRange(1, 99);
    QObject::connect(form.limitField, &QLineEdit::textEdited, settingWindow_.get(),
                     [this, field = form.limitField] { changeSettings(field); });
    QObject::connect(form.limitStepper, &QSpinBox::valueChanged, settingWindow_.get(),
                     [this, stepper = form.limitStepper] { changeSettings(stepper); });
    QObject::connect(form.cancelButton, &QAbstractButton::clicked, settingWindow_.get(), [this] { dialogDone(205); });
    QObject::connect(form.okButton, &QAbstractButton::clicked, settingWindow_.get(), [this] { dialogDone(206); });
    PluginFunc::layoutLeftToRight(settingWindow_.get());
    PluginFunc::layoutLeftToRight(progressWindow());
}

MailDestination::~MailDestination() {
    kdf::RunLoop::main().cancelPerforms(this);
    if (worker_.joinable()) {
        setIsAbort(true);
        worker_.join();
    }
}

PluginTextField* MailDestination::limitField() const { return settingWindow_->findChild<PluginTextField*>(); }
QSpinBox* MailDestination::limitStepper() const { return settingWindow_->findChild<QSpinBox*>(); }
QCheckBox* MailDestination::showMsgCheck() const { return settingWindow_->findChild<QCheckBox*>(); }

std::optional<std::string> MailDestination::summaryString() {
    if (userBool(kShowMsgExceedsLimitKey) == false) return std::nullopt;
    return decimalText(clampedLimit(userInteger(kLimitOfAttachmentKey).value_or(kDefaultLimitOfAttachment)));
}

std::int32_t MailDestination::clickedLink() { return kTvSvPluginFailClickedLink; }

int MailDestination::runModal(QWidget* parentWindow, bool) {
    if (const std::optional<bool> show = userBool(kShowMsgExceedsLimitKey)) showMsgCheck()->setChecked(*show);
    if (const std::optional<long long> limit = userInteger(kLimitOfAttachmentKey)) {
        const long long value = clampedLimit(*limit);
        QSignalBlocker quiet(limitStepper());
        limitField()->setText(qs(decimalText(value)));
        limitStepper()->setValue(int(value));
    }
    const int result = runWindowModal(settingWindow_.get(), parentWindow);
    if (result == 206) {
        setUserValue(kShowMsgExceedsLimitKey, showMsgCheck()->isChecked());
        setUserValue(kLimitOfAttachmentKey, clampedLimit(fieldNumber(limitField()->text())));
    }
    return result;
}

void MailDestination::dialogDone(int senderTag) {
    settingWindow_->hide();
    stopModal(senderTag);
}

void MailDestination::changeSettings(QObject* sender) {
    long long value = 0;
    if (sender == limitField())
        value = fieldNumber(limitField()->text());
    else if (sender == limitStepper())
        value = limitStepper()->value();
    else
        return;
    value = clampedLimit(value);
    const QString text = qs(decimalText(value));
    if (limitField()->text() != text) limitField()->setText(text);
    QSignalBlocker quiet(limitStepper());
    limitStepper()->setValue(int(value));
}

void MailDestination::checkAppPath() const {
    const std::optional<std::string> mail = PluginFunc::defaultMailAppPath();
    if (!mail || !PluginFunc::isExistsFile(*mail)) throw kdf::Exception(kNotFoundMailApp);
}

void MailDestination::sendFilesToApp(const std::vector<std::string>& paths) {
    checkAppPath();
    std::vector<std::string> args;
    for (const std::string& path : paths)
        if (PluginFunc::isExistsFile(path)) {
            args.push_back("--attach");
            args.push_back(path);
        }
    if (args.empty()) throw kdf::Exception(kStartAppFailed);
    // xdg-email may keep running as long as the mail program it started in
    // the foreground: started, not waited for; its end is reaped later.
    if (!kdd::spawnDetached("xdg-email", args)) throw kdf::Exception(kStartAppFailed);
}

void MailDestination::fileSaveProcess(const SendParameters& parameters) {
    try {
        checkAppPath();
        if (parameters.askAboveLimit) {
            const std::uint64_t limitBytes = std::uint64_t(clampedLimit(parameters.limit)) * kMebibyte;
            for (const std::string& file : parameters.files) {
                if (isAbort()) throw kdf::Exception(kProgressCanceledException);
                mTotalFileSize += PluginFunc::fileBytesByPath(file);
                // Exactly the limit passes.
                if (mTotalFileSize.load() > limitBytes) {
                    int answer = 0;
                    onMainThread([&] {
                        answer = performShowAlertWithErrKey(
                            kSizeQuestion, kAlertTitleConfirm,
                            std::vector<std::optional<std::string>>{std::string("OK"), std::string("Cancel")},
                            progressWindow());
                        mReturnAlert_SizeExceedLimit = answer;
                    });
                    if (answer != kAlertFirstButton) throw kdf::Exception(kProgressCanceledException);
                    break;
                }
            }
        }
        onMainThread([this] {
            if (QProgressBar* bar = progressBar()) bar->setValue(1);
        });
        pauseFor(0.5);
        if (isAbort()) throw kdf::Exception(kProgressCanceledException);
        onMainThread([this] {
            if (QLabel* state = progressLabel(100)) state->setText(qs(localized("LaunchMailApp_StateExpLabel")));
            if (QProgressBar* bar = progressBar()) bar->setValue(2);
        });
    } catch (const kdf::Exception& e) {
        setExceptionInFileSave(e);
    } catch (...) {
        setExceptionInFileSave(kdf::Exception("Err_UnknownError"));
    }
    pauseFor(1.0);
    onMainThread([this] { finishOperation(); });
}

std::int32_t MailDestination::executeOperation(const std::vector<std::string>& files, bool, QWidget* parentWindow) {
    std::int32_t result = kTvSvPluginSuccess;
    try {
        if (!mCurrentUser) throw kdf::Exception(kNotFoundIDException);
        clearProcessed();
        setIsAbort(false);
        mTotalFileSize = 0;
        mReturnAlert_SizeExceedLimit = 0;
        setCancelEnabled(true);
        setExceptionInFileSave(std::nullopt);
        if (files.empty()) throw kdf::Exception(kNotFoundFilesForSendException);

        SendParameters parameters;
        parameters.files = files;
        parameters.askAboveLimit = userBool(kShowMsgExceedsLimitKey).value_or(true);
        parameters.limit = clampedLimit(userInteger(kLimitOfAttachmentKey).value_or(kDefaultLimitOfAttachment));
        if (QLabel* state = progressLabel(100))
            state->setText(qs(localized(parameters.askAboveLimit ? "ConfirmFileSize_StateExpLabel"
                                                                  : "LaunchMailApp_StateExpLabel")));
        if (QProgressBar* bar = progressBar()) {
            bar->setRange(0, 2);
            bar->setValue(0);
        }
        kdf::RunLoop::main().performAfterDelay(
            this, "startOperation", kdf::Seconds(0),
            [this, parameters = std::move(parameters)]() mutable {
                worker_ = std::thread([this, parameters = std::move(parameters)] { fileSaveProcess(parameters); });
            },
            kWorkerModes);
        runWindowModal(progressWindow(), parentWindow);
        kdf::RunLoop::main().cancelPerforms(this, "startOperation");
        if (worker_.joinable()) worker_.join();

        if (const std::optional<kdf::Exception> failure = exceptionInFileSave()) {
            if (failure->name() != kProgressCanceledException)
                performShowAlertWithErrKey(failure->name(), kAlertTitleError,
                                           std::vector<std::optional<std::string>>{std::string("OK")}, parentWindow);
            throw *failure;
        }
        sendFilesToApp(files);
    } catch (const kdf::Exception& e) {
        result = resultOfFailure(e);
    } catch (...) {
        result = kTvSvPluginFailSend;
    }
    resetAfterSend();
    return result;
}

namespace {

void setupData(kdf::Dictionary& user) {
    user[kShowMsgExceedsLimitKey] = true;
    user[kLimitOfAttachmentKey] = kDefaultLimitOfAttachment;
}

} // namespace

const DestinationClass& destinationClass() {
    static const DestinationClass destination = destinationClassOf<MailDestination>(false, &setupData);
    return destination;
}

} // namespace kdkit
