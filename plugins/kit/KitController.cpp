#include "KitController.h"

#include "ModalPanelManager.h"
#include "PluginFunc.h"

#include "ui_PluginFolderAccessory.h"
#include "ui_PluginPrefsWindow.h"
#include "ui_PluginProgressWindow.h"
#include "ui_PluginRenameWindow.h"

#include <foundation/File.h>
#include <foundation/Format.h>
#include <foundation/RunLoop.h>
#include <plugin/TvQLRPlugin.h>
#include <ui/ViewTag.h>

#include <QAbstractTableModel>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace kdkit {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

template <class Form>
std::unique_ptr<QWidget> makeWindow(Qt::WindowFlags flags) {
    auto window = std::make_unique<QWidget>(nullptr, flags);
    Form form;
    form.setupUi(window.get());
    localizeTexts(window.get());
    return window;
}

} // namespace

void localizeTexts(QWidget* window) {
    if (!window->windowTitle().isEmpty()) window->setWindowTitle(qs(localized(window->windowTitle().toStdString())));
    for (QLabel* label : window->findChildren<QLabel*>())
        if (!label->text().isEmpty()) label->setText(qs(localized(label->text().toStdString())));
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (!button->text().isEmpty()) button->setText(qs(localized(button->text().toStdString())));
}

double pauseSeconds(double seconds) {
    if (const char* scale = std::getenv("KD_PLUGIN_PAUSE_SCALE"); scale && *scale) {
        char* end = nullptr;
        const double factor = std::strtod(scale, &end);
        if (end != scale && factor >= 0 && factor <= 1) return seconds * factor;
    }
    return seconds;
}

void pauseFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(pauseSeconds(seconds)));
}

std::string decimalText(long long value) { return kdf::formatLocalized("%lld", {std::int64_t(value)}); }

std::string placeFileInFolder(const std::string& file, const std::string& folder, bool move,
                              const char* failureName) {
    std::optional<std::string> destination = PluginFunc::checkFilePath(kdf::joinPath(folder, kdf::lastComponent(file)));
    // Each round either places the file or finds the name taken by someone
    // else meanwhile, which moves on to the next free name; the bound only
    // keeps a folder that fills as fast as we look from holding us forever.
    for (int attempt = 0; destination && attempt < 1000; ++attempt) {
        const kdf::PlaceResult result =
            move ? kdf::moveFileNoReplace(file, *destination) : kdf::copyFileNoReplace(file, *destination);
        if (result == kdf::PlaceResult::Placed) return *destination;
        if (result == kdf::PlaceResult::Failed) break;
        destination = PluginFunc::checkFilePath(destination);
    }
    throw kdf::Exception(failureName);
}

namespace {

class DisplayableFolders : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags flags = QIdentityProxyModel::flags(index);
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        const QModelIndex source = mapToSource(index);
        if (files && source.isValid() && files->isDir(source) &&
            !PluginFunc::isDisplaysDirectory(files->filePath(source).toStdString()))
            flags &= ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        return flags;
    }
};

} // namespace

void enableOnlyDisplayableFolders(QFileDialog& panel) { panel.setProxyModel(new DisplayableFolders(&panel)); }

// The close box of the kit's windows runs their close methods without a
// sender; the progress window cannot be closed but by its run's end.
class KitController::CloseFilter : public QObject {
public:
    explicit CloseFilter(KitController& owner) : owner_(owner) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close || !event->spontaneous()) return false;
        event->ignore();
        if (watched == owner_.renameWindow_)
            owner_.closeReNameWindow(false);
        else if (watched == owner_.prefsWindow_)
            owner_.closePrefsWindow(false);
        return true;
    }

private:
    KitController& owner_;
};

// The rename report's rows: the column "0" shows the source's name, the
// other column the destination's.
class KitController::RenameModel : public QAbstractTableModel {
public:
    explicit RenameModel(const KitController& owner) : owner_(owner) {}
    void reload() {
        beginResetModel();
        rows_ = owner_.processed();
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || std::size_t(index.row()) >= rows_.size()) return {};
        const auto& row = rows_[std::size_t(index.row())];
        const std::string& path = index.column() == 0 ? row.first : row.second;
        return path.empty() ? QString() : qs(kdf::lastComponent(path));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return qs(localized(section == 0 ? "ReNameBeforeFileNameExpLabel" : "ReNameAfterFileNameExpLabel"));
    }

private:
    const KitController& owner_;
    std::vector<std::pair<std::string, std::string>> rows_;
};

KitController::KitController(UserRef user, Windows windows)
    : mCurrentUser(std::move(user)), closeFilter_(std::make_unique<CloseFilter>(*this)) {
    const Qt::WindowFlags panel = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (windows.progress) {
        ownedProgress_ = makeWindow<Ui::PluginProgressWindow>(panel);
        progressWindow_ = ownedProgress_.get();
        if (QLabel* file = progressLabel(101)) file->clear();
        if (QLabel* ratio = progressLabel(102)) ratio->clear();
        if (auto* cancel = qobject_cast<QAbstractButton*>(kdui::viewWithTag(progressWindow_, 103)))
            QObject::connect(cancel, &QAbstractButton::clicked, cancel, [this] { abortRequest(); });
    }
    if (windows.rename) {
        ownedRename_ = makeWindow<Ui::PluginRenameWindow>(panel | Qt::WindowCloseButtonHint);
        renameWindow_ = ownedRename_.get();
        renameWindow_->setWindowTitle(QString());
        renameModel_ = std::make_unique<RenameModel>(*this);
        if (auto* check = qobject_cast<QCheckBox*>(kdui::viewWithTag(renameWindow_, 206))) check->setChecked(false);
        if (auto* ok = qobject_cast<QAbstractButton*>(kdui::viewWithTag(renameWindow_, 205)))
            QObject::connect(ok, &QAbstractButton::clicked, ok, [this] { closeReNameWindow(true); });
        renameWindow_->installEventFilter(closeFilter_.get());
    }
    if (windows.prefs) {
        ownedPrefs_ = makeWindow<Ui::PluginPrefsWindow>(panel | Qt::WindowCloseButtonHint);
        prefsWindow_ = ownedPrefs_.get();
        if (auto* ok = qobject_cast<QAbstractButton*>(kdui::viewWithTag(prefsWindow_, 400)))
            QObject::connect(ok, &QAbstractButton::clicked, ok, [this] { closePrefsWindow(true); });
        prefsWindow_->installEventFilter(closeFilter_.get());
    }
    if (windows.accessory) {
        ownedAccessory_ = makeWindow<Ui::PluginFolderAccessory>(Qt::Widget);
        accessoryView_ = ownedAccessory_.get();
    }
    for (QWidget* view : {progressWindow_.data(), renameWindow_.data(), prefsWindow_.data(), accessoryView_.data()})
        if (view) PluginFunc::layoutLeftToRight(view);
}

KitController::~KitController() {
    kdf::RunLoop::main().cancelPerforms(this);
    // An accessory handed to a file dialog is taken back before it goes.
    if (accessoryView_ && accessoryView_->parent()) accessoryView_->setParent(nullptr);
}

std::optional<std::string> KitController::userString(const char* key) const {
    const kdf::Value* v = mCurrentUser ? kdf::find(*mCurrentUser, key) : nullptr;
    if (!v || !v->string()) return std::nullopt;
    return *v->string();
}

std::optional<long long> KitController::userInteger(const char* key) const {
    const kdf::Value* v = mCurrentUser ? kdf::find(*mCurrentUser, key) : nullptr;
    if (!v) return std::nullopt;
    if (auto i = v->toInteger()) return static_cast<long long>(*i);
    return std::nullopt;
}

std::optional<bool> KitController::userBool(const char* key) const {
    const kdf::Value* v = mCurrentUser ? kdf::find(*mCurrentUser, key) : nullptr;
    return v ? v->toBool() : std::nullopt;
}

void KitController::setUserValue(const char* key, kdf::Value value) {
    if (mCurrentUser) (*mCurrentUser)[key] = std::move(value);
}

void KitController::removeUserValue(const char* key) {
    if (mCurrentUser) mCurrentUser->erase(std::string(key));
}

int KitController::runWindowModal(QWidget* window, QWidget* parentWindow) {
    if (!window) return 0;
    const bool outerDone = modalDone_;
    const int outerCode = modalCode_;
    modalDone_ = false;
    modalCode_ = 0;
    {
        ModalPanelRegistration registration(window, parentWindow);
        window->setWindowModality(Qt::ApplicationModal);
        window->show();
        window->raise();
        window->activateWindow();
        kdf::RunLoop& loop = kdf::RunLoop::main();
        // In slices, so an end asked for between two slices is not lost.
        while (!modalDone_ && !loop.isShutDown()) loop.runMode(kdf::RunLoopMode::ModalPanel, kdf::Seconds(0.2));
        window->hide();
    }
    const int code = modalCode_;
    modalDone_ = outerDone;
    modalCode_ = outerCode;
    return code;
}

void KitController::stopModal(int code) {
    modalCode_ = code;
    modalDone_ = true;
    kdf::RunLoop::main().stop();
}

std::vector<std::string> KitController::unsentFiles(const std::vector<std::string>& files) const {
    const auto handled = processed();
    std::vector<std::string> unsent;
    for (const std::string& file : files)
        if (std::none_of(handled.begin(), handled.end(), [&](const auto& row) { return row.first == file; }))
            unsent.push_back(file);
    return unsent;
}

void KitController::addProcessed(const std::string& source, const std::string& destination) {
    std::lock_guard guard(lock_);
    mProcessedInfoList.emplace_back(source, destination);
}

std::vector<std::pair<std::string, std::string>> KitController::processed() const {
    std::lock_guard guard(lock_);
    return mProcessedInfoList;
}

void KitController::clearProcessed() { setProcessed({}); }

void KitController::setProcessed(std::vector<std::pair<std::string, std::string>> rows) {
    std::lock_guard guard(lock_);
    mProcessedInfoList = std::move(rows);
}

void KitController::setExceptionInFileSave(std::optional<kdf::Exception> exception) {
    std::lock_guard guard(lock_);
    mExceptionInFileSave = std::move(exception);
}

std::optional<kdf::Exception> KitController::exceptionInFileSave() const {
    std::lock_guard guard(lock_);
    return mExceptionInFileSave;
}

void KitController::setCancelEnabled(bool enabled) {
    if (QWidget* cancel = progressWindow_ ? kdui::viewWithTag(progressWindow_, 103) : nullptr)
        cancel->setEnabled(enabled);
}

QProgressBar* KitController::progressBar() const {
    return progressWindow_ ? progressWindow_->findChild<QProgressBar*>() : nullptr;
}

QLabel* KitController::progressLabel(int tag) const {
    return progressWindow_ ? qobject_cast<QLabel*>(kdui::viewWithTag(progressWindow_, tag)) : nullptr;
}

void KitController::updateProgressWindow(const std::optional<std::string>& path, std::uint64_t position,
                                         std::uint64_t total, double value) {
    if (QLabel* name = progressLabel(101); name && path) name->setText(qs(kdf::lastComponent(*path)));
    if (QLabel* ratio = progressLabel(102))
        ratio->setText(qs(kdf::formatLocalized(localized("RatioLabelFormat"), {position, total})));
    mProgressValue = value;
    if (QProgressBar* bar = progressBar()) bar->setValue(int(std::floor(value)));
}

void KitController::finishOperation() {
    if (progressWindow_) progressWindow_->hide();
    stopModal(kModalRunAborted);
}

void KitController::abortRequest() {
    mIsAbort.store(true);
    setCancelEnabled(false);
}

int KitController::runModalPrefs(QWidget* parentWindow) {
    if (!prefsWindow_) return 0;
    if (auto* check = qobject_cast<QCheckBox*>(kdui::viewWithTag(prefsWindow_, 401)))
        check->setChecked(mRenameWindowState);
    return runWindowModal(prefsWindow_, parentWindow);
}

void KitController::closePrefsWindow(bool withSender) {
    if (!prefsWindow_) return;
    prefsWindow_->hide();
    if (withSender)
        if (auto* check = qobject_cast<QCheckBox*>(kdui::viewWithTag(prefsWindow_, 401)))
            mRenameWindowState = check->isChecked();
    stopModal(kModalRunAborted);
}

void KitController::closeReNameWindow(bool withSender) {
    if (!renameWindow_) return;
    renameWindow_->hide();
    if (auto* table = qobject_cast<QTableView*>(kdui::viewWithTag(renameWindow_, 202))) table->setModel(nullptr);
    if (withSender)
        if (auto* check = qobject_cast<QCheckBox*>(kdui::viewWithTag(renameWindow_, 206)))
            mRenameWindowState = !check->isChecked();
    if (!mRenameWindowState)
        performShowAlertWithErrKey("Caution_RenameCheck", kAlertTitleCaution,
                                   ErrorAlert::ButtonTitleKeys{{std::string("OK")}}, renameWindow_);
    stopModal(kModalRunAborted);
}

void KitController::runRenameReport(QWidget* parentWindow) {
    auto* table = renameWindow_ ? qobject_cast<QTableView*>(kdui::viewWithTag(renameWindow_, 202)) : nullptr;
    if (!table) return;
    renameModel_->reload();
    table->setModel(renameModel_.get());
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->hide();
    table->selectRow(0);
    runWindowModal(renameWindow_, parentWindow);
}

std::int32_t KitController::resultOfFailure(const kdf::Exception& failure) {
    return failure.name() == kNotFoundIDException ? kTvSvPluginNotFoundID : kTvSvPluginFailSend;
}

void KitController::resetAfterSend() {
    clearProcessed();
    setIsAbort(false);
    setCancelEnabled(true);
    setExceptionInFileSave(std::nullopt);
}

void KitController::askRetryOrThrow(const std::string& failureName, QWidget* parentWindow,
                                    const std::function<bool()>& settingsConfirmed) {
    const ErrorAlert::ButtonTitleKeys buttons{
        std::vector<std::optional<std::string>>{std::string("ReTry"), std::string("Suspend"), std::string("SetUp")}};
    for (;;) {
        const int answer = performShowAlertWithErrKey(failureName, kAlertTitleError, buttons, parentWindow);
        if (answer == kAlertFirstButton) return;
        if (answer == kAlertSecondButton) throw kdf::Exception(kProcessInterruptionException);
        if (settingsConfirmed()) return;
    }
}

int KitController::performShowAlertWithErrKey(const std::string& key, int titleStyle,
                                               const ErrorAlert::ButtonTitleKeys& buttons, QWidget* parentWindow) {
    return ErrorAlert::showAlertWithErrKey(key, titleStyle, buttons, parentWindow);
}

} // namespace kdkit
