#include "platform/single_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace {

// How long a second launch waits for the running instance to answer.
constexpr int handOverTimeoutMs = 5000;

// The object exported on the bus. Only its scriptable slots are exported.
class WindowsService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.harborwatch.Harborwatch")
public:
    explicit WindowsService(SingleInstance* owner) : QObject(owner), m_owner(owner) {}

public slots:
    Q_SCRIPTABLE void ShowServers() { emit m_owner->showServersRequested(); }
    Q_SCRIPTABLE void ShowSettings() { emit m_owner->showSettingsRequested(); }

private:
    SingleInstance* m_owner;
};

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {}

SingleInstance::~SingleInstance() {
    if (m_owner) {
        m_bus.unregisterService(serviceName);
        m_bus.unregisterObject(objectPath);
    }
}

SingleInstance::Claim SingleInstance::claim() {
    m_problem.clear();
    if (!m_bus.isConnected()) {
        m_problem = QStringLiteral("no session bus");
        return Claim::NoBus;
    }

    // Export the object before taking the name, so that a launch which sees
    // the name finds the method behind it.
    if (!m_service) {
        m_service = new WindowsService(this);
        m_bus.registerObject(objectPath, m_service, QDBusConnection::ExportScriptableSlots);
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_bus.interface()->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_owner = true;
        return Claim::Owner;
    }
    m_bus.unregisterObject(objectPath);
    delete m_service;
    m_service = nullptr;
    if (!reply.isValid()) {
        m_problem = reply.error().message();
        return Claim::NoBus;
    }

    // Taken: hand over. BlockWithGui keeps this thread's events flowing while
    // the call is out. An instance of an earlier version knows only
    // ShowSettings.
    QDBusMessage answer;
    for (const QString& method : {QStringLiteral("ShowServers"), QStringLiteral("ShowSettings")}) {
        const QDBusMessage call =
            QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, method);
        answer = m_bus.call(call, QDBus::BlockWithGui, handOverTimeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage)
            return Claim::HandedOver;
        if (answer.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
            break;
    }
    m_problem = answer.errorMessage();
    return Claim::HandOverFailed;
}

#include "single_instance.moc"
