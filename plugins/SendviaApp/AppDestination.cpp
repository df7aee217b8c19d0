#include "AppDestination.h"

#include "ModalPanelManager.h"
#include "PluginFunc.h"

#include "ui_AppSettingWindow.h"

#include <desktop/Desktop.h>
#include <desktop/Launch.h>
#include <foundation/File.h>
#include <foundation/RunLoop.h>
#include <foundation/UserFolders.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>

#include <plugin/TvQLRPlugin.h>

#include <algorithm>

namespace kdkit {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

ErrorAlert::ButtonTitleKeys okButton() { return std::vector<std::optional<std::string>>{std::string("OK")}; }

// The save-type items of the pop-up, by tag; tag 3 shows the chosen folder
// and tag 4 opens the folder panel.
constexpr int kSaveTypePicture = 0;
constexpr int kSaveTypeDocument = 1;
constexpr int kSaveTypeDesktop = 2;
constexpr int kSaveTypeChosen = 3;
constexpr int kSaveTypeAction = 4;

} // namespace

AppDestination::AppDestination(UserRef user)
    : KitController(std::move(user), Windows{}),
      settingWindow_(std::make_unique<QWidget>(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)) {
    Ui::AppSettingWindow form;
    form.setupUi(settingWindow_.get());
    localizeTexts(settingWindow_.get());
    form.appPathField->clear();
    const std::pair<const char*, int> items[] = {{"FileSave_Picture", kSaveTypePicture},
                                                 {"FileSave_Document", kSaveTypeDocument},
                                                 {"FileSave_Desktop", kSaveTypeDesktop},
                                                 {"", kSaveTypeChosen},
                                                 {"FileSave_Action", kSaveTypeAction}};
    for (const auto& [key, tag] : items) form.savePathPopUp->addItem(*key ? qs(localized(key)) : QString(), tag);
    QObject::connect(form.cancelButton, &QAbstractButton::clicked, settingWindow_.get(), [this] { dialogDone(305); });
    QObject::connect(form.okButton, &QAbstractButton::clicked, settingWindow_.get(), [this] { dialogDone(306); });
    QObject::connect(form.selectAppButton, &QAbstractButton::clicked, settingWindow_.get(),
                     [this] { showOpenPanel(settingWindow_.get(), 302); });
    QObject::connect(form.savePathPopUp, &QComboBox::activated, settingWindow_.get(), [this](int index) {
        if (savePathPopUp()->itemData(index).toInt() == kSaveTypeAction) showOpenPanel(settingWindow_.get(), 304);
    });
    PluginFunc::layoutLeftToRight(settingWindow_.get());
}

AppDestination::~AppDestination() { kdf::RunLoop::main().cancelPerforms(this); }

QLineEdit* AppDestination::appPathField() const { return settingWindow_->findChild<QLineEdit*>("appPathField"); }
QComboBox* AppDestination::savePathPopUp() const { return settingWindow_->findChild<QComboBox*>("savePathPopUp"); }

std::string AppDestination::chosenFolder() const {
    QComboBox* popUp = savePathPopUp();
    return popUp->itemText(popUp->findData(kSaveTypeChosen)).toStdString();
}

void AppDestination::setChosenFolder(const std::string& folder) {
    QComboBox* popUp = savePathPopUp();
    popUp->setItemText(popUp->findData(kSaveTypeChosen), qs(folder));
}

void AppDestination::setUpSavePathPopUpButton() {
    QComboBox* popUp = savePathPopUp();
    popUp->setCurrentIndex(popUp->findData(kSaveTypeChosen));
}

std::optional<std::string> AppDestination::summaryString() {
    const std::optional<std::string> app = userString(kAppPathKey);
    if (app && !app->empty()) return app;
    return localized("Plugin_NoSetting");
}

int AppDestination::runModal(QWidget* parentWindow, bool) {
    appPathField()->setText(qs(userString(kAppPathKey).value_or(std::string())));
    // The folder-panel item never stays chosen: read as Pictures.
    long long type = userInteger(kSaveTypeKey).value_or(kSaveTypePicture);
    if (type == kSaveTypeAction) type = kSaveTypePicture;
    QComboBox* popUp = savePathPopUp();
    popUp->setCurrentIndex(std::max(0, popUp->findData(int(type))));
    setChosenFolder(userString(kSavePathKey).value_or(std::string()));
    const int result = runWindowModal(settingWindow_.get(), parentWindow);
    if (result == 306) {
        setUserValue(kAppPathKey, appPathField()->text().toStdString());
        int tag = popUp->currentData().toInt();
        if (tag == kSaveTypeAction) tag = kSaveTypePicture;
        setUserValue(kSaveTypeKey, static_cast<long long>(tag));
        setUserValue(kSavePathKey, chosenFolder());
    }
    return result;
}

void AppDestination::dialogDone(int senderTag) {
    if (senderTag == 306) {
        // The chosen folder is checked whatever item is selected.
        const std::string folder = chosenFolder();
        const char* problem = !PluginFunc::isDirectory(folder)                 ? kNotFoundSaveFolderException
                              : !PluginFunc::isReadableWritableDirectory(folder) ? kRightOfAccessFile
                                                                                 : nullptr;
        if (problem) {
            performShowAlertWithErrKey(problem, kAlertTitleError, okButton(), settingWindow_.get());
            return;
        }
    }
    settingWindow_->hide();
    stopModal(senderTag);
}

int AppDestination::showOpenPanel(QWidget* parentWindow, int senderTag) {
    const bool forApp = senderTag == 302;
    std::string start;
    if (forApp) {
        start = appPathField()->text().toStdString();
        if (start.size() > 8 && start.compare(start.size() - 8, 8, ".desktop") == 0) start = kdf::folderOf(start);
        if (!PluginFunc::isDirectory(start)) start = PluginFunc::defaultAppFolder().value_or(kdf::homeFolder());
    } else {
        start = chosenFolder();
        if (!PluginFunc::isDirectory(start)) start = PluginFunc::defaultPictureFolder();
    }
    QFileDialog panel(nullptr, qs(localized(forApp ? "SelectAppTitle" : "SelectSaveTitle")), qs(start));
    panel.setObjectName(forApp ? "ApplicationPanel" : "SaveFolderPanel");
    panel.setOption(QFileDialog::DontUseNativeDialog, true);
    panel.setOption(QFileDialog::DontResolveSymlinks, true);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    enableOnlyDisplayableFolders(panel);
    if (forApp) {
        // Applications are the desktop entries of the applications folders.
        panel.setFileMode(QFileDialog::ExistingFile);
        panel.setNameFilter(qs(localized("SelectAppTitle")) + " (*.desktop)");
        panel.setOption(QFileDialog::ReadOnly, true);
        QList<QUrl> places;
        for (const std::string& folder : kdd::applicationFolders())
            if (PluginFunc::isDirectory(folder)) places << QUrl::fromLocalFile(qs(folder));
        panel.setSidebarUrls(places);
    } else {
        panel.setFileMode(QFileDialog::Directory);
        panel.setOption(QFileDialog::ShowDirsOnly, true);
    }
    int result = 0;
    {
        ModalPanelRegistration registration(&panel, parentWindow);
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel, kdf::RunLoop::main());
        result = panel.exec() == QDialog::Accepted ? 1 : 0;
    }
    if (result == 1 && !panel.selectedFiles().isEmpty()) {
        const std::string path = panel.selectedFiles().front().toStdString();
        if (forApp) {
            appPathField()->setText(qs(path));
        } else if (PluginFunc::isReadableWritableDirectory(path)) {
            setChosenFolder(path);
        } else {
            performShowAlertWithErrKey(kRightOfAccessFile, kAlertTitleError, okButton(), parentWindow);
        }
    }
    // The pop-up shows the chosen folder again once the panel is gone.
    if (!forApp)
        kdf::RunLoop::main().performAfterDelay(
            this, "setUpSavePathPopUpButton", kdf::Seconds(0), [this] { setUpSavePathPopUpButton(); },
            kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel);
    return result;
}

void AppDestination::checkAppPath() const {
    const std::optional<std::string> app = userString(kAppPathKey);
    if (!app || !PluginFunc::isExistsFile(*app)) throw kdf::Exception(kNotFoundAppException);
}

void AppDestination::fileSaveProcess(const std::vector<std::string>& files) {
    try {
        checkAppPath();
        std::optional<std::string> folder;
        switch (userInteger(kSaveTypeKey).value_or(kSaveTypeChosen)) {
        case kSaveTypePicture: folder = PluginFunc::defaultPictureFolder(); break;
        case kSaveTypeDocument: folder = PluginFunc::defaultDocumentFolder(); break;
        case kSaveTypeDesktop: folder = PluginFunc::defaultDesktopPath(); break;
        case kSaveTypeChosen: folder = userString(kSavePathKey); break;
        default: break;
        }
        if (!folder || !PluginFunc::isDirectory(*folder)) throw kdf::Exception(kNotFoundSaveFolderException);
        for (const std::string& file : files)
            addProcessed(file, placeFileInFolder(file, *folder, true, kNotFoundFilesForSendException));
    } catch (const kdf::Exception& e) {
        setExceptionInFileSave(e);
    }
}

void AppDestination::sendFilesToApp(const std::vector<std::string>& paths) {
    checkAppPath();
    const std::string app = *userString(kAppPathKey);
    std::vector<std::string> existing;
    for (const std::string& path : paths)
        if (PluginFunc::isExistsFile(path)) existing.push_back(path);
    if (existing.empty()) throw kdf::Exception(kStartAppFailed);
    // All at once: the entry itself says whether its program takes a list
    // or one file a start.
    if (kdd::launchDesktopEntry(app, existing)) return;
    for (const std::string& path : existing)
        if (!kdd::launchDesktopEntry(app, {path})) throw kdf::Exception(kStartAppFailed);
}

bool AppDestination::isSupportLinkButton() { return userString(kAppWrittenPathKey).has_value(); }
std::optional<std::string> AppDestination::linkLable() { return userString(kAppWrittenPathKey); }

std::int32_t AppDestination::clickedLink() {
    const std::optional<std::string> folder = userString(kAppWrittenPathKey);
    if (!folder) return kTvSvPluginFailClickedLink;
    PluginFunc::openLinkPath(*folder);
    return kTvSvPluginSuccess;
}

std::int32_t AppDestination::executeOperation(const std::vector<std::string>& files, bool, QWidget* parentWindow) {
    std::int32_t result = kTvSvPluginSuccess;
    try {
        if (!mCurrentUser) throw kdf::Exception(kNotFoundIDException);
        removeUserValue(kAppWrittenPathKey);
        clearProcessed();
        setExceptionInFileSave(std::nullopt);
        for (;;) {
            setExceptionInFileSave(std::nullopt);
            const std::vector<std::string> unsent = unsentFiles(files);
            if (unsent.empty()) throw kdf::Exception(kNotFoundFilesForSendException);
            fileSaveProcess(unsent);
            const std::optional<kdf::Exception> failure = exceptionInFileSave();
            if (!failure) break;
            askRetryOrThrow(failure->name(), parentWindow, [&] { return runModal(parentWindow, false) == 306; });
        }
        std::vector<std::string> destinations;
        for (const auto& row : processed()) destinations.push_back(row.second);
        sendFilesToApp(destinations);
        if (!destinations.empty()) {
            const std::string folder = kdf::folderOf(destinations.back());
            if (PluginFunc::isExistsFile(folder)) setUserValue(kAppWrittenPathKey, folder);
        }
    } catch (const kdf::Exception& e) {
        result = resultOfFailure(e);
    }
    resetAfterSend();
    return result;
}

namespace {

void setupData(kdf::Dictionary& user) {
    user[kAppPathKey] = std::string();
    user[kSaveTypeKey] = static_cast<long long>(kSaveTypePicture);
    user[kSavePathKey] = PluginFunc::defaultDesktopPath().value_or(std::string());
}

} // namespace

const DestinationClass& destinationClass() {
    static const DestinationClass destination = destinationClassOf<AppDestination>(false, &setupData);
    return destination;
}

} // namespace kdkit
