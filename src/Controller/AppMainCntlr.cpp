// Making the controller, its neighbours and its properties.
#include "AppMainCntlr.h"

#include "AppMainCntlrAEServer.h"

#include "ProcessWindowServices.h"
#include "QlrDeviceCntlr.h"

#include <foundation/RunLoop.h>

#include <QMenu>

#include <chrono>
#include <thread>

AppMainWindowPort::~AppMainWindowPort() = default;
AppPreviewPort::~AppPreviewPort() = default;
AppOutputWriterPort::~AppOutputWriterPort() = default;
AppDialogsPort::~AppDialogsPort() = default;

namespace {

std::atomic<AppMainCntlr*> sCurrent{nullptr};

template <class Port> std::shared_ptr<Port> inert() {
    static const auto port = std::make_shared<Port>();
    return port;
}

} // namespace

AppMainCntlr* AppMainCntlr::current() { return sCurrent.load(); }
void AppMainCntlr::setCurrent(AppMainCntlr* cntlr) { sCurrent.store(cntlr); }

AppMainCntlr::AppMainCntlr() {
    setUpdateCurrentDSInfoHook([this] { updateCurrentDSInfo(); });
    setVisibleSettingWindowHook([this] { return isVisibleSettingWindow(); });
}

AppMainCntlr::~AppMainCntlr() {
    aeServer_.reset();
    observers_.clear();
    kdf::RunLoop::main().cancelPerforms(this);
    // Page and output threads hold this controller: give them a bounded
    // time to end. Waiting pages give up at once.
    {
        std::lock_guard lock(turnLock_);
        ++turnGeneration_;
    }
    turnChanged_.notify_all();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (runningThreads_.load() > 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    setUpdateCurrentDSInfoHook(nullptr);
    setVisibleSettingWindowHook(nullptr);
    AppMainCntlr* self = this;
    sCurrent.compare_exchange_strong(self, nullptr);
    if (QlrDeviceCntlr::applicationDelegate() == this) QlrDeviceCntlr::setApplicationDelegate(nullptr);
}

// ---- Neighbours -----------------------------------------------------------------------------

namespace {

template <class Port> void store(std::mutex& lock, std::shared_ptr<Port>& slot, std::shared_ptr<Port> port) {
    std::lock_guard guard(lock);
    slot = std::move(port);
}

template <class Port> std::shared_ptr<Port> load(std::mutex& lock, const std::shared_ptr<Port>& slot) {
    std::lock_guard guard(lock);
    return slot ? slot : inert<Port>();
}

} // namespace

void AppMainCntlr::setMainWindowPort(std::shared_ptr<AppMainWindowPort> p) { store(portsLock_, mainWindowPort_, p); }
void AppMainCntlr::setPreviewPort(std::shared_ptr<AppPreviewPort> p) { store(portsLock_, previewPort_, p); }
void AppMainCntlr::setOutputWriterPort(std::shared_ptr<AppOutputWriterPort> p) {
    store(portsLock_, outputWriterPort_, p);
}
void AppMainCntlr::setDialogsPort(std::shared_ptr<AppDialogsPort> p) { store(portsLock_, dialogsPort_, p); }
std::shared_ptr<AppMainWindowPort> AppMainCntlr::mainWindowPort() const { return load(portsLock_, mainWindowPort_); }
std::shared_ptr<AppPreviewPort> AppMainCntlr::previewPort() const { return load(portsLock_, previewPort_); }
std::shared_ptr<AppOutputWriterPort> AppMainCntlr::outputWriterPort() const {
    return load(portsLock_, outputWriterPort_);
}
std::shared_ptr<AppDialogsPort> AppMainCntlr::dialogsPort() const { return load(portsLock_, dialogsPort_); }

QWidget* AppMainCntlr::mainWindow() const { return mainWindowPort()->mainWindow(); }
QWidget* AppMainCntlr::aboutWindow() const { return mainWindowPort()->aboutWindow(); }
bool AppMainCntlr::isVisibleSettingWindow() const { return mainWindowPort()->isVisibleSettingWindow(); }

// ---- Properties -----------------------------------------------------------------------------

QMenu* AppMainCntlr::panelMenu(int panelType, bool isBack) const {
    if (panelType < kInputPanelType || panelType > kJobPanelType) return nullptr;
    return panelMenus_[panelType][isBack ? 1 : 0];
}

void AppMainCntlr::setPanelMenu(int panelType, bool isBack, QMenu* menu) {
    if (panelType < kInputPanelType || panelType > kJobPanelType) return;
    panelMenus_[panelType][isBack ? 1 : 0] = menu;
}

// ---- The device controller's other questions --------------------------------------------------

// The companion link is not here: nothing watches the device buttons.

void AppMainCntlr::scanReadyByTwainCB() { mainWindowPort()->scanReadyByTwainCB(); }

void AppMainCntlr::setStateInfoStrForProcWinForPfm(const std::array<std::string, 2>& texts) {
    MainWindowCntlr::setStateInfoStrForProcWinForPfm(texts[0], texts[1]);
}
