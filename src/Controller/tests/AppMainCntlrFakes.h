// Recording stand-ins for the application controller's neighbours, the
// plug-in registry and the alert presenter, and a main() that gives every
// test program a private home on Qt's offscreen platform.
#pragma once

#include "AppMainCntlr.h"
#include "PluginRegistryQueries.h"
#include "TV_Message.h"
#include "TempHome.h"

#include <foundation/RunLoop.h>

#include <gtest/gtest.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace apptest {

// One ordered log shared by the neighbours of a test.
class CallLog {
public:
    void add(std::string entry) {
        std::lock_guard lock(lock_);
        entries_.push_back(std::move(entry));
    }
    std::vector<std::string> entries() const {
        std::lock_guard lock(lock_);
        return entries_;
    }
    std::vector<std::string> take() {
        std::lock_guard lock(lock_);
        return std::exchange(entries_, {});
    }
    std::size_t count(const std::string& entry) const {
        std::lock_guard lock(lock_);
        return std::size_t(std::count(entries_.begin(), entries_.end(), entry));
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> entries_;
};

class RecordingWindow : public AppMainWindowPort {
public:
    explicit RecordingWindow(CallLog& log) : log_(log) {}
    QWidget* window = nullptr;
    bool sheet = false;
    bool settingWindow = false;
    QSizeF previewSize;
    std::function<void()> onScanReady;

    QWidget* mainWindow() override { return window; }
    void updateUIByAppState() override { log_.add("ui"); }
    void setContentViewNeedsDisplay() override { log_.add("dirty"); }
    void displayProcessAnimationIfNeeded() override { log_.add("anim"); }
    void scanReadyByTwainCB() override {
        log_.add("scanReady");
        if (onScanReady) onScanReady();
    }
    void finishScan() override { log_.add("finishScan"); }
    void scanCancelOnMain() override { log_.add("cancelOnMain"); }
    void endProcWindow() override { log_.add("endProc"); }
    void cancelToMain(bool flag) override { log_.add(std::string("cancelToMain:") + (flag ? "1" : "0")); }
    void startCompleteWindowByPerform() override { log_.add("complete"); }
    bool hasAttachedSheet() const override { return sheet; }
    bool isVisibleSettingWindow() const override { return settingWindow; }
    QSizeF previewSplitSubViewSize() const override { return previewSize; }
    void reloadPanelBrowser(int type) override { log_.add("reload:" + std::to_string(type)); }
    void setPanelBrowserCellSize(int type, QSizeF size) override {
        log_.add("cell:" + std::to_string(type) + ":" + std::to_string(int(size.width())));
    }
    QSizeF makePanelSize(const PanelModel& panel, int sizeType) override {
        // Tells the panel kinds apart: a job with its outputs counts them.
        int outputs = 0;
        if (auto* job = dynamic_cast<const JobModel*>(&panel)) outputs = int(job->jobOutputModel_List().size());
        return QSizeF(sizeType * 100 + outputs, 10);
    }
    void createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& list, int sizeType) override {
        log_.add("images:" + std::to_string(list.size()) + ":" + std::to_string(sizeType));
    }
    void createIBViewMenu() override { log_.add("menus"); }
    void showQlrAbout() override { log_.add("about"); }
    void againExeScan(int tag) override { log_.add("again:" + std::to_string(tag)); }
    void updateMainTopDisplay(bool a, bool b) override {
        log_.add(std::string("top:") + (a ? "1" : "0") + (b ? "1" : "0"));
    }
    void setUpSettingPopUp(int tag) override { log_.add("popup:" + std::to_string(tag)); }
    void setSettingControlText(int tag, const std::string& text) override {
        log_.add("text:" + std::to_string(tag) + ":" + text);
    }
    void driverCloseDSOk(const kdf::Notification&) override { log_.add("n:closeOk"); }
    void driverTerminateUI(const kdf::Notification&) override { log_.add("n:terminateUI"); }
    void panelIBViewClickCell(const kdf::Notification&) override { log_.add("n:click"); }
    void mouseMovedInFlatWindowContentView(const kdf::Notification&) override { log_.add("n:mouse"); }
    void scrollWheelDidChange(const kdf::Notification&) override { log_.add("n:wheel"); }
    void tvAlertRunModal(const kdf::Notification&) override { log_.add("n:alert"); }

private:
    CallLog& log_;
};

class RecordingPreview : public AppPreviewPort {
public:
    explicit RecordingPreview(CallLog& log) : log_(log) {}
    std::vector<int> shown;

    void displayOfPreview(const PageParam& param) override {
        shown.push_back(param.index);
        log_.add("preview:" + std::to_string(param.index));
    }
    void renewTempArrayOfPre() override { log_.add("renew"); }
    void revertEditingImage() override { log_.add("revert"); }
    void clearPreviewImage() override { log_.add("clearPreview"); }
    void reloadPageBrowser() override { log_.add("reloadPages"); }
    void degreeForRotateDidChange(const kdf::Notification&) override { log_.add("n:rotate"); }
    void ratioOfCropDidChange(const kdf::Notification&) override { log_.add("n:crop"); }

private:
    CallLog& log_;
};

class RecordingWriter : public AppOutputWriterPort {
public:
    explicit RecordingWriter(CallLog& log) : log_(log) {}
    // Runs on the page thread; records "write:<index>" afterwards.
    std::function<void(const PageParam&)> onPage;

    void readImgFileForJobScn(const PageParam& param) override {
        if (onPage) onPage(param);
        log_.add("write:" + std::to_string(param.index));
    }
    // The conversion runs on a thread of its own: its calls are kept apart
    // from the main thread's order.
    CallLog threadCalls;
    void readImgFiles() override {
        threadCalls.add(kdf::RunLoop::isMainThread() ? "readImgFiles:main" : "readImgFiles");
    }
    void maybeSendFileToPlugin() override { log_.add("send"); }
    void initWriteFilePathArray(bool all) override { log_.add(std::string("init:") + (all ? "1" : "0")); }
    void releaseWriteFilePathArray(bool files, bool all) override {
        log_.add(std::string("release:") + (files ? "1" : "0") + ":" + (all ? "1" : "0"));
    }

private:
    CallLog& log_;
};

class RecordingDialogs : public AppDialogsPort {
public:
    bool fileOption = false;
    bool fileName = false;
    bool isFileOptionPanelVisible() const override { return fileOption; }
    bool isFileNamePanelVisible() const override { return fileName; }
};

// Plug-ins by ID: each answers copies with "<guid>-copy<n>" unless it is
// told to fail.
class RegistryDouble : public PluginRegistryQueries {
public:
    struct Plugin {
        std::string title;
        int copyResult = 0;
        int createResult = 0;
    };
    std::map<std::string, Plugin, std::less<>> plugins;
    mutable CallLog calls;
    mutable int made = 0;

protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        auto it = plugins.find(id);
        if (it == plugins.end() || type != kTitleType || it->second.title.empty()) return std::nullopt;
        return kdf::Value(it->second.title);
    }
    int pluginIndex(std::string_view id) const override {
        auto it = plugins.find(id);
        return it == plugins.end() ? -1 : int(std::distance(plugins.begin(), it));
    }
    bool pluginObjectPresent(std::string_view id) const override { return plugins.find(id) != plugins.end(); }
    int pluginCopyID(std::string_view id, std::string_view guid, std::string* newID) const override {
        calls.add("copy:" + std::string(id) + ":" + std::string(guid));
        const auto& p = plugins.find(id)->second;
        if (p.copyResult != 0) return p.copyResult;
        *newID = std::string(guid) + "-copy" + std::to_string(++made);
        return 0;
    }
    int pluginDeleteID(std::string_view id, std::string_view guid) const override {
        calls.add("delete:" + std::string(id) + ":" + std::string(guid));
        return 0;
    }
    int pluginCreateID(std::string_view id, std::string* newID) const override {
        calls.add("create:" + std::string(id));
        const auto& p = plugins.find(id)->second;
        if (p.createResult != 0) return p.createResult;
        *newID = "new" + std::to_string(++made);
        return 0;
    }
    void pluginSwitchIsValid(std::string_view key, bool valid) const override {
        calls.add("valid:" + std::string(key) + ":" + (valid ? "1" : "0"));
    }
    void pluginCheckAllOutputModels() const override { calls.add("checkAll"); }
};

// Records every alert and answers with the scripted button index (0 the
// first button), or -1 (none pressed).
class AlertRecorder : public TV_Message::AlertPresenter {
public:
    std::vector<TV_Message::AlertRequest> shown;
    int answer = 0;
    int runModal(const TV_Message::AlertRequest& request) override {
        shown.push_back(request);
        return answer;
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& r : shown) out.push_back(r.informativeText);
        return out;
    }
};

// Runs the main run loop until pred holds or the time is up.
inline bool runUntil(const std::function<bool()>& pred, double seconds = 10) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.005));
    }
    return true;
}

// Runs what is due on the main loop now (delay-0 performs).
inline void runOneTurn() { kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.01)); }

// A controller with recording neighbours, a plug-in registry and alerts.
class ControllerTest : public ::testing::Test {
protected:
    CallLog log;
    std::shared_ptr<RecordingWindow> window = std::make_shared<RecordingWindow>(log);
    std::shared_ptr<RecordingPreview> preview = std::make_shared<RecordingPreview>(log);
    std::shared_ptr<RecordingWriter> writer = std::make_shared<RecordingWriter>(log);
    std::shared_ptr<RecordingDialogs> dialogs = std::make_shared<RecordingDialogs>();
    std::shared_ptr<RegistryDouble> registry = std::make_shared<RegistryDouble>();
    std::shared_ptr<AlertRecorder> alerts = std::make_shared<AlertRecorder>();
    std::unique_ptr<AppMainCntlr> cntlr;

    void SetUp() override {
        PluginRegistryQueries::setCurrent(registry);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, alerts);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, alerts);
        cntlr = std::make_unique<AppMainCntlr>();
        cntlr->setMainWindowPort(window);
        cntlr->setPreviewPort(preview);
        cntlr->setOutputWriterPort(writer);
        cntlr->setDialogsPort(dialogs);
    }
    void TearDown() override {
        cntlr.reset();
        PluginRegistryQueries::setCurrent(nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, nullptr);
    }
};

inline std::shared_ptr<OutputModel> outputWithPlugin(const std::string& id, const std::string& guid) {
    auto out = std::make_shared<OutputModel>();
    out->setPluginID(id);
    out->setPluginGUID(guid);
    return out;
}

} // namespace apptest

// Each test program: a private home, the offscreen platform, a QApplication.
#define APPTEST_MAIN()                                                                                       \
    int main(int argc, char** argv) {                                                                        \
        kdtest::TempHome home;                                                                               \
        home.env().set("QT_QPA_PLATFORM", std::string("offscreen"));                                         \
        std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,                 \
                                     std::filesystem::perm_options::replace);                                \
        testing::InitGoogleTest(&argc, argv);                                                                \
        QApplication app(argc, argv);                                                                        \
        return RUN_ALL_TESTS();                                                                              \
    }
