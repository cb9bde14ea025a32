#include "monitor/forwards.h"

#include "monitor/port_monitor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace {

// The context of this file's texts for translation.
struct ForwardText {
    Q_DECLARE_TR_FUNCTIONS(ForwardText)
};

} // namespace

Forwards::Forwards(PortMonitor& monitor, QObject* parent) : QObject(parent), m_monitor(monitor) {}

PortForwarding* Forwards::forwarding(const QString& host) const {
    if (host.isEmpty())
        return nullptr;
    ServerSource* source = m_monitor.source(SourceId::ofHost(host));
    return source ? source->forwarding() : nullptr;
}

QList<PortForward> Forwards::of(const QString& host) const {
    const PortForwarding* forwarding = this->forwarding(host);
    return forwarding ? forwarding->forwards() : QList<PortForward>{};
}

qint64 Forwards::localPortOf(const ListeningPort& remote) const {
    for (const PortForward& forward : of(remote.host)) {
        if (forward.remotePort == remote.port)
            return forward.localPort;
    }
    return 0;
}

bool Forwards::canForward(const ListeningPort& remote) const {
    return forwarding(remote.host) != nullptr;
}

void Forwards::forward(const QString& host, qint64 remotePort, qint64 localPort, Done done) {
    PortForwarding* forwarding = this->forwarding(host);
    if (!forwarding) {
        QTimer::singleShot(0, this, [done = std::move(done)] {
            done(0, ForwardText::tr("the host is no longer in the settings"));
        });
        return;
    }
    forwarding->forward(remotePort, localPort,
                        [self = QPointer(this), done = std::move(done)](qint64 local,
                                                                        const QString& error) {
                            if (self && local > 0)
                                emit self->changed();
                            done(local, error);
                        });
}

void Forwards::cancel(const QString& host, qint64 remotePort, std::function<void()> done) {
    PortForwarding* forwarding = this->forwarding(host);
    if (!forwarding) {
        if (done)
            QTimer::singleShot(0, this, std::move(done));
        return;
    }
    forwarding->cancelForward(remotePort, [self = QPointer(this), done = std::move(done)] {
        if (self)
            emit self->changed();
        if (done)
            done();
    });
}
