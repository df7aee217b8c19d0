// The link with the companion device-button application over the session
// bus: start-up check, button presses, window requests, the status record
// and the switch for watching the buttons.
#include "AppMainCntlr.h"
#include "AppMainCntlrAE.h"
#include "AppMainCntlrAEServer.h"

#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "TV_Func.h"
#include "TV_FuncUI.h"
#include "TvWindow.h"

#include <desktop/Desktop.h>
#include <foundation/Bundle.h>
#include <foundation/BusNames.h>
#include <foundation/File.h>
#include <foundation/NotificationCenter.h>
#include <foundation/Preferences.h>
#include <foundation/UserDefaults.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>

#include <thread>

namespace companion_link {

namespace {
constexpr const char* kCompanionName = "KdCompanion";
}

std::string appBusName() { return kdf::busNameForIdentifier(kBaseIdentifier); }
std::string appInterface() { return kdf::busInterfaceForIdentifier(kBaseIdentifier, kAppEventClass); }
std::string appPath() { return kdf::busPathForIdentifier(kBaseIdentifier); }
std::string companionIdentifier() { return std::string(kBaseIdentifier) + "." + kCompanionName; }
std::string companionBusName() { return kdf::busNameForIdentifier(companionIdentifier()); }
std::string companionInterface() {
    return kdf::busInterfaceForIdentifier(companionIdentifier(), kCompanionEventClass);
}
std::string companionPath() { return kdf::busPathForIdentifier(companionIdentifier()); }

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// The unique name that owns a well-known name; empty when none does.
std::string ownerOf(const std::string& busName) {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return {};
    auto reply = bus.interface()->serviceOwner(q(busName));
    return reply.isValid() ? reply.value().toStdString() : std::string();
}

// Brings the application and its main window to the front.
void activateMainWindow(QWidget* window) {
    if (!window) return;
    window->show();
    window->raise();
    window->activateWindow();
}

const char kIntrospection[] = R"(<interface name="%1">
  <method name="Cnct"><arg name="Parm" type="i" direction="in"/><arg name="PmSt" type="i" direction="in"/><arg name="PmLa" type="i" direction="in"/></method>
  <method name="Data"><arg name="Rtrn" type="n" direction="out"/></method>
  <method name="actW"><arg name="Parm" type="i" direction="in"/></method>
  <method name="verI"><arg name="Parm" type="i" direction="in"/></method>
  <method name="SeDS"><arg name="Parm" type="i" direction="in"/><arg name="Info" type="ay" direction="in"/></method>
</interface>
)";

} // namespace

Server::~Server() {
    if (!registered_) return;
    auto bus = QDBusConnection::sessionBus();
    bus.unregisterObject(q(appPath()));
    bus.unregisterService(q(appBusName()));
}

bool Server::start() {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // Queue never: a second copy of the application serves nothing.
    if (!bus.interface() ||
        bus.interface()->registerService(q(appBusName()), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement) !=
            QDBusConnectionInterface::ServiceRegistered)
        return false;
    if (!bus.registerVirtualObject(q(appPath()), this, QDBusConnection::SingleNode)) {
        bus.unregisterService(q(appBusName()));
        return false;
    }
    registered_ = true;
    return true;
}

QString Server::introspect(const QString&) const { return QString::fromLatin1(kIntrospection).arg(q(appInterface())); }

bool Server::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage || message.interface() != q(appInterface())) return false;
    const QString member = message.member();
    const QString signature = message.signature();
    auto refuse = [&] {
        connection.send(message.createErrorReply(QDBusError::InvalidSignature,
                                                 QStringLiteral("Unexpected arguments for ") + member));
        return true;
    };
    auto ack = [&] {
        if (!message.isReplyRequired()) return;
        connection.send(message.createReply());
    };
    const auto args = message.arguments();
    // Handlers touch windows and the state: they run on the main thread.
    if (QThread::currentThread() != qApp->thread()) return false;
    if (member == q(kConnectEvent)) {
        if (signature != QLatin1String("iii")) return refuse();
        cntlr_.handleConnectInfo(args[0].toInt(), args[1].toInt(), args[2].toInt());
        ack();
    } else if (member == q(kDataEvent)) {
        if (!signature.isEmpty()) return refuse();
        cntlr_.saveAppSettingForLogin();
        // The companion reads a 16-bit 1.
        connection.send(message.createReply(QVariant::fromValue(qint16(1))));
    } else if (member == q(kActiveWindowEvent) || member == q(kVersionEvent)) {
        if (signature != QLatin1String("i")) return refuse();
        if (member == q(kActiveWindowEvent))
            cntlr_.handleAppActiveWindow(args[0].toInt());
        else
            cntlr_.handleVersionPanel(args[0].toInt());
        ack();
    } else if (member == q(kSelectDSEvent)) {
        if (signature != QLatin1String("iay")) return refuse();
        const QByteArray info = args[1].toByteArray();
        // Large blobs are refused before anything reads them.
        std::optional<kdf::Bytes> bytes;
        if (std::size_t(info.size()) <= kMaxPropertyListBytes) bytes = kdf::Bytes(info.begin(), info.end());
        cntlr_.handleShowSelectDS(args[0].toInt(), bytes);
        ack();
    } else {
        connection.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No method ") + member));
    }
    return true;
}

} // namespace companion_link

using namespace companion_link;

void AppMainCntlr::setAppleEvent() {
    const auto path = QlrUtilsMethod::targetAppPath();
    if (!path) return;
    // Another copy owns our name: this one runs as without a companion.
    auto server = std::make_unique<Server>(*this);
    if (!server->start() || !launchTaskApp(*path)) return;
    sendAEToTuvoApp(*path);
    aeServer_ = std::move(server);
}

bool AppMainCntlr::launchTaskApp(const std::string& path) {
    if (!TV_Func::isExistsFile(path)) return false;
    // A companion counts once it owns its name, within the bound.
    auto waitForName = [] {
        const auto until = std::chrono::steady_clock::now() + kLaunchTimeout;
        while (ownerOf(companionBusName()).empty()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    };
    if (!ownerOf(companionBusName()).empty()) return true;
    if (QlrUtilsMethod::isLaunchedApp(path)) {
        // Running but maybe not yet on the bus: the start-up check then
        // finds no address and the application runs without it.
        waitForName();
        return true;
    }
    auto bundle = kdf::Bundle::atPath(path);
    const std::string executable = bundle ? bundle->executablePath() : std::string();
    if (executable.empty() || !kdd::spawnDetached(executable, {})) return false;
    return waitForName();
}

void AppMainCntlr::sendAEToTuvoApp(const std::string& path) {
    auto bundle = kdf::Bundle::atPath(path);
    if (!bundle || bundle->identifier().empty()) return;
    const std::string companionName = kdf::busNameForIdentifier(bundle->identifier());
    const std::string target = ownerOf(companionName);
    if (target.empty()) return;
    setTargetForAE(target);

    auto call = QDBusMessage::createMethodCall(
        q(target), q(kdf::busPathForIdentifier(bundle->identifier())),
        q(kdf::busInterfaceForIdentifier(bundle->identifier(), kCompanionEventClass)), q(kCheckStartEvent));
    // Blocks without running the event loop: no handler runs in between.
    const auto reply = QDBusConnection::sessionBus().call(call, QDBus::Block, int(kCheckStartTimeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("ay")) return;
    const QByteArray bytes = reply.arguments().value(0).toByteArray();
    const auto answer =
        decodeStartAnswer(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    if (!answer) return;
    setLaunchType(answer->launchType);
    setConnectStatus(answer->connectStatus);
    setBtnStatus(answer->btnStatus);
    setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(answer->identity));
}

void AppMainCntlr::sendChangeValidWatchingDeviceBtn(bool isValid) {
    const std::string target = targetForAE();
    if (target.empty()) return;
    auto call = QDBusMessage::createMethodCall(q(target), q(companionPath()), q(companionInterface()),
                                               q(kTimerEvent));
    call << qint32(isValid ? 1 : 0);
    call.setAutoStartService(false);
    // Nobody waits for an answer.
    QDBusConnection::sessionBus().send(call);
}

std::optional<kdf::Dictionary> AppMainCntlr::pipeAppSettingForLogin() const {
    auto prefs = prefsModel();
    if (!prefs) return std::nullopt;
    kdf::Dictionary record;
    record[kIsInitializedKey] = isInitialized();
    record[kIsModalKey] = isModalWindow();
    record[kAppStateKey] = appState();
    record[kIsResidingKey] = prefs->isQLRResiding();
    record[kStartAppPlugInScnKey] = prefs->isShowPlugInScan();
    return record;
}

void AppMainCntlr::saveAppSettingForLogin() {
    auto record = pipeAppSettingForLogin();
    if (!record) return;
    auto data = QlrUtilsMethod::encodeDictToData(kdf::Value(*record));
    if (!data) return;
    auto& defaults = kdf::UserDefaults::standard();
    defaults.set(kAppSettingKey, kdf::Value(*data));
    defaults.synchronize();
    // The companion reads the file named by our identifier. That file also
    // holds the rest of the user defaults, so only this key is replaced.
    const std::string name = defaults.domain();
    kdf::updatePreferencesFile(name, [&](kdf::Dictionary& values) {
        values[kAppSettingKey] = kdf::Value(*data);
        return true;
    });
}

void AppMainCntlr::handleConnectInfo(int parm, int btnStatus, int launched) {
    scanFromTuvoDeviceBtn(parm, std::uint32_t(btnStatus), launched > 0);
}

void AppMainCntlr::scanFromTuvoDeviceBtn(int connectStatus, std::uint32_t btnStatus, bool /*isLaunchApp*/) {
    setConnectStatus(connectStatus);
    const int state = appState();
    const bool justEnded = state == kAppStateScanFinished || state == kAppStateScanEnded;
    if (connectStatus != 0 && justEnded)
        if (auto* device = deviceCntlr()) device->setShadingData(nullptr);
    if (connectStatus != 0 || btnStatus == 0 || !isValidScanByDviceBtn()) return;

    const bool paperInserted = btnStatus > 0xFFFFu && isSupportedPaperInserted();
    const int button = int(btnStatus & 0xFFFu);
    if (justEnded) {
        if (button != 0 || paperInserted) mainWindowPort()->againExeScan(kScanAgainControlTag);
        return;
    }
    const auto jobs = panelListOfType(kJobPanelType);
    if (!jobs) return;
    for (std::size_t i = 0; i < jobs->size(); ++i) {
        auto* job = dynamic_cast<const JobModel*>((*jobs)[i].get());
        if (!job) continue;
        const bool match = paperInserted ? job->scanBtnStatus() != -1 : job->scanBtnStatus() == button;
        if (match) {
            exeJobScanByLogin(std::uint32_t(i));
            return;
        }
    }
}

bool AppMainCntlr::isValidScanByDviceBtn() const {
    if (isModalWindow()) return false;
    const int state = appState();
    return state == kAppStateMainTop || state == kAppStateScanFinished || state == kAppStateScanEnded ||
           state > kAppStateHandOn;
}

void AppMainCntlr::exeJobScanByLogin(std::uint32_t index) {
    const int state = appState();
    if (index > std::uint32_t(kMaxPanelCount) || (state != kAppStateMainTop && state <= kAppStateHandOn)) return;
    kdf::Dictionary userInfo{{kClickCellIndexKey, kdf::Value(unsigned(index))}};
    kdf::NotificationCenter::defaultCenter().post(kPanelIBViewClickCellNotification,
                                                  mainWindowPort()->panelBrowser(kJobPanelType), nullptr,
                                                  &userInfo);
}

void AppMainCntlr::handleAppActiveWindow(int parm) {
    if (parm > 0) activateMainWindow(mainWindow());
}

void AppMainCntlr::handleVersionPanel(int parm) {
    if (parm > 0) mainWindowPort()->showQlrAbout();
}

void AppMainCntlr::handleShowSelectDS(int parm, const std::optional<kdf::Bytes>& info) {
    if (info)
        if (auto identity = decodeCompanionDictionary(info->data(), info->size()))
            setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(std::move(*identity)));
    if (parm == 1) {
        if (QWidget* prefs = dialogsPort()->preferencesPanel()) prefs->close();
        if (dummyWindow()) return;
        auto* dummy = new TvWindow(nullptr, Qt::Window | Qt::FramelessWindowHint);
        dummy->setAttribute(Qt::WA_DeleteOnClose);
        dummy->resize(1, 1);
        setDummyWindow(dummy);
        dummy->setWindowOpacity(0.1);
        TV_Func::windowPositionAdjustment(dummy, mainWindow(), TV_Func::kAlignLeft | TV_Func::kAlignBottom);
        TvWindow::beginModalWindow(dummy, mainWindow(), false);
        return;
    }
    if (QWidget* dummy = dummyWindow()) {
        TvWindow::endModalWindow(dummy);
        dummy->close();
        setDummyWindow(nullptr);
        activateMainWindow(mainWindow());
    }
}
