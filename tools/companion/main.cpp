// The stand-in companion: it plays the device-button application's side of
// the link on the session bus for tests and plain runs. It owns the
// companion's bus name, answers the start-up check with a launch type, data
// for scan and a scanner identity, logs what it receives, and sends the
// events written to its standard input, one a line:
//   Cnct <Parm> <PmSt> <PmLa> | Data | actW <Parm> | verI <Parm>
//   SeDS <Parm> [<product name> | -raw <text>]
// A line starting with '!' sends its words as strings ("!Cnct x"): a call
// with the wrong arguments.
// It watches no button and ends when its bus goes away.
//
// Environment: KD_COMPANION_LOG (log file; standard output when unset),
// KD_COMPANION_LAUNCH_TYPE, KD_COMPANION_DATA_FOR_SCAN, KD_COMPANION_PRODUCT,
// KD_COMPANION_MANUFACTURER, KD_COMPANION_FAMILY, KD_COMPANION_VERSION,
// KD_COMPANION_IS_APDS (YES/NO), KD_COMPANION_OMIT (answer keys to leave
// out, comma-separated), KD_COMPANION_RAW_ANSWER (bytes answered as they
// are), KD_COMPANION_NO_REGISTER=1 (never takes its name).
#include <foundation/BusNames.h>
#include <foundation/PropertyList.h>
#include <foundation/Value.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kBase = "com.tavrolek.Quillora";
constexpr const char* kOwnIdentifier = "com.tavrolek.Quillora.KdCompanion";

std::string env(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string(fallback);
}

FILE* logFile() {
    static FILE* file = [] {
        const char* path = std::getenv("KD_COMPANION_LOG");
        FILE* f = path ? std::fopen(path, "a") : nullptr;
        return f ? f : stdout;
    }();
    return file;
}

void log(const QString& line) {
    std::fprintf(logFile(), "%s\n", line.toUtf8().constData());
    std::fflush(logFile());
}

kdf::Dictionary identity(const std::string& product) {
    kdf::Dictionary d;
    d["IsAPDS_Key"] = env("KD_COMPANION_IS_APDS", "NO") == "YES";
    d["Version_MajorNum_Key"] = std::atoi(env("KD_COMPANION_VERSION", "1").c_str());
    d["Manufacturer_Key"] = env("KD_COMPANION_MANUFACTURER", "Tavrolek Document Systems");
    d["ProductFamily_Key"] = env("KD_COMPANION_FAMILY", "Tavro KD-720 Driver");
    d["ProductName_Key"] = product;
    return d;
}

QByteArray plistBytes(const kdf::Dictionary& d) {
    auto text = kdf::writePropertyList(kdf::Value(d));
    return text ? QByteArray(text->data(), qsizetype(text->size())) : QByteArray();
}

QByteArray startAnswer() {
    if (const char* raw = std::getenv("KD_COMPANION_RAW_ANSWER")) return QByteArray(raw);
    kdf::Dictionary d = identity(env("KD_COMPANION_PRODUCT", "Tavro KD-720 TWAIN"));
    d["QLRCom_LaunchType"] = std::atoi(env("KD_COMPANION_LAUNCH_TYPE", "0").c_str());
    d["QLRCom_DataForScan"] = std::atoll(env("KD_COMPANION_DATA_FOR_SCAN", "0").c_str());
    for (const QString& key : QString::fromStdString(env("KD_COMPANION_OMIT", "")).split(',', Qt::SkipEmptyParts))
        d.erase(key.toStdString());
    return plistBytes(d);
}

class Companion : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override {
        return QStringLiteral("<interface name=\"%1\"><method name=\"CkSt\"><arg name=\"Rtrn\" type=\"ay\" "
                              "direction=\"out\"/></method><method name=\"Timr\"><arg name=\"Parm\" type=\"i\" "
                              "direction=\"in\"/></method></interface>\n")
            .arg(QString::fromStdString(kdf::busInterfaceForIdentifier(kOwnIdentifier, "evQL")));
    }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.member() == QLatin1String("CkSt") && m.signature().isEmpty()) {
            log(QStringLiteral("CkSt"));
            bus.send(m.createReply(QVariant(startAnswer())));
            return true;
        }
        if (m.member() == QLatin1String("Timr") && m.signature() == QLatin1String("i")) {
            log(QStringLiteral("Timr %1").arg(m.arguments().value(0).toInt()));
            if (m.isReplyRequired()) bus.send(m.createReply());
            return true;
        }
        bus.send(m.createErrorReply(QDBusError::UnknownMethod, m.member()));
        return true;
    }
};

// Sends one event line to the application and logs its answer.
void sendEvent(const QString& line) {
    const bool asStrings = line.startsWith('!');
    const QStringList words = line.mid(asStrings ? 1 : 0).split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) return;
    auto call = QDBusMessage::createMethodCall(QString::fromStdString(kdf::busNameForIdentifier(kBase)),
                                               QString::fromStdString(kdf::busPathForIdentifier(kBase)),
                                               QString::fromStdString(kdf::busInterfaceForIdentifier(kBase, "thKD")),
                                               words[0]);
    const QString& name = words[0];
    if (asStrings || (name != QLatin1String("Cnct") && name != QLatin1String("actW") &&
                      name != QLatin1String("verI") && name != QLatin1String("SeDS") && name != QLatin1String("Data"))) {
        // Anything else goes as written, so a test can send a wrong call.
        for (int i = 1; i < words.size(); ++i) call << words[i];
    } else if (name == QLatin1String("Cnct")) {
        for (int i = 1; i <= 3; ++i) call << qint32(words.value(i).toLongLong(nullptr, 0));
    } else if (name == QLatin1String("actW") || name == QLatin1String("verI")) {
        call << qint32(words.value(1).toInt());
    } else if (name == QLatin1String("SeDS")) {
        call << qint32(words.value(1).toInt());
        QByteArray info;
        if (words.value(2) == QLatin1String("-raw"))
            info = words.mid(3).join(' ').toUtf8();
        else if (words.size() > 2)
            info = plistBytes(identity(words.mid(2).join(' ').toStdString()));
        call << info;
    }
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [name](QDBusPendingCallWatcher* w) {
        const QDBusMessage reply = w->reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            log(QStringLiteral("error %1 %2").arg(name, reply.errorName()));
        } else {
            QStringList values;
            for (const QVariant& v : reply.arguments()) values << v.toString();
            log(QStringLiteral("reply %1 %2 %3").arg(name, reply.signature(), values.join(' ')).trimmed());
        }
        w->deleteLater();
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "KdCompanion: no session bus\n");
        return 1;
    }
    Companion companion;
    if (env("KD_COMPANION_NO_REGISTER", "0") != "1") {
        bus.registerVirtualObject(QString::fromStdString(kdf::busPathForIdentifier(kOwnIdentifier)), &companion,
                                  QDBusConnection::SingleNode);
        if (bus.interface()->registerService(QString::fromStdString(kdf::busNameForIdentifier(kOwnIdentifier)),
                                             QDBusConnectionInterface::DontQueueService) !=
            QDBusConnectionInterface::ServiceRegistered) {
            std::fprintf(stderr, "KdCompanion: the name is taken\n");
            return 1;
        }
    }
    log(QStringLiteral("ready"));

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            input.setEnabled(false); // end of input: keep serving
            return;
        }
        pending.append(buf, n);
        for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0;) {
            sendEvent(QString::fromUtf8(pending.left(nl)).trimmed());
            pending.remove(0, nl + 1);
        }
    });
    // No bus, no companion.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!QDBusConnection::sessionBus().isConnected()) app.quit();
    });
    watch.start(200);
    return app.exec();
}
