#include "monitor/forwards.h"

#include "config/settings_store.h"
#include "monitor/forward_states.h"
#include "monitor/port_monitor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

// The context of this file's texts for translation.
struct ForwardText {
    Q_DECLARE_TR_FUNCTIONS(ForwardText)
};

} // namespace

Forwards::Forwards(PortMonitor& monitor, Keeping keeping, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_keeping(keeping) {
    connect(&m_monitor, &PortMonitor::forwardsChanged, this, &Forwards::followChange);
    if (m_keeping != Keeping::InSettings)
        return;
    SettingsStore& store = m_monitor.settings();
    if (store.get(settings::restoreForwards))
        m_restoring = store.get(settings::forwards);
    // A host that connects shows in the next list.
    connect(&m_monitor, &PortMonitor::problemsChanged, this, &Forwards::restore);
    // The servers of the first list ran before the program did: they are
    // no new servers.
    connect(&m_monitor, &PortMonitor::changesFound, this, [this](const PortChanges& changes) {
        if (m_listed)
            forwardStarted(changes.started);
    });
    connect(&m_monitor, &PortMonitor::portsChanged, this, [this] { m_listed = true; });
}

Forwards::~Forwards() {
    if (!m_published.isEmpty())
        writeForwardStates(m_statesPath, {});
}

void Forwards::publishStates(const QString& path) {
    m_statesPath = path;
    m_published.clear();
    followChange();
}

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

std::optional<PortForward> Forwards::forwardOf(const ListeningPort& remote) const {
    for (const PortForward& forward : of(remote.host)) {
        if (forward.remotePort == remote.port)
            return forward;
    }
    return std::nullopt;
}

qint64 Forwards::localPortOf(const ListeningPort& remote) const {
    const std::optional<PortForward> forward = forwardOf(remote);
    return forward ? forward->localPort : 0;
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
                        [self = QPointer(this), host, remotePort,
                         done = std::move(done)](qint64 local, const QString& error) {
                            if (self && local > 0 && self->m_keeping == Keeping::InSettings) {
                                // Kept as first made: a forward set up again elsewhere still
                                // asks for its own port next time.
                                SettingsStore& store = self->m_monitor.settings();
                                const settings::StoredForwards stored =
                                    store.get(settings::forwards);
                                const bool known =
                                    std::any_of(stored.cbegin(), stored.cend(),
                                                [&](const settings::StoredForward& f) {
                                                    return f.host == host && f.port == remotePort;
                                                });
                                if (!known)
                                    storeForward(store, {host, remotePort, local});
                            }
                            if (self && local > 0)
                                emit self->changed();
                            done(local, error);
                        });
}

void Forwards::cancel(const QString& host, qint64 remotePort, std::function<void()> done) {
    if (m_keeping == Keeping::InSettings)
        forgetForward(m_monitor.settings(), host, remotePort);
    m_restoring.removeIf(
        [&](const settings::StoredForward& f) { return f.host == host && f.port == remotePort; });
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

void Forwards::forwardAll(const QString& host) {
    for (const ListeningPort& port : m_monitor.ports()) {
        if (port.host != host || localPortOf(port) > 0)
            continue;
        forward(
            host, port.port, 0,
            [self = QPointer(this), host, remote = port.port](qint64 local, const QString& error) {
                if (self && local <= 0)
                    emit self->failed(host, remote, error);
            });
    }
}

void Forwards::cancelAll(const QString& host) {
    for (const PortForward& forward : of(host))
        cancel(host, forward.remotePort);
}

void Forwards::check() {
    for (const QString& host : m_monitor.settings().get(settings::hosts)) {
        if (PortForwarding* forwarding = this->forwarding(host))
            forwarding->checkForwards();
    }
}

// Each stored forward once its host is connected, on the port it had.
void Forwards::restore() {
    if (m_restoring.isEmpty())
        return;
    const settings::StoredForwards stored = m_monitor.settings().get(settings::forwards);
    settings::StoredForwards waiting;
    for (const settings::StoredForward& f : std::as_const(m_restoring)) {
        if (!stored.contains(f))
            continue; // stopped or changed meanwhile
        PortForwarding* forwarding = this->forwarding(f.host);
        if (!forwarding || !forwarding->isReachable()) {
            waiting.append(f);
            continue;
        }
        forwarding->forward(
            f.port, f.local,
            [self = QPointer(this), f](qint64 local, const QString& error) {
                if (self && local <= 0)
                    emit self->failed(f.host, f.port, error);
            },
            PortForwarding::LocalPort::OrAnyFreeOne);
    }
    m_restoring = waiting;
}

void Forwards::forwardStarted(const QList<ListeningPort>& started) {
    const QStringList hosts = m_monitor.settings().get(settings::autoForward);
    for (const ListeningPort& port : started) {
        if (port.host.isEmpty() || !hosts.contains(port.host))
            continue;
        forward(port.host, port.port, 0,
                [self = QPointer(this), host = port.host,
                 remote = port.port](qint64 local, const QString& error) {
                    if (self && local <= 0)
                        emit self->failed(host, remote, error);
                });
    }
}

void Forwards::followChange() {
    emit changed();
    if (m_statesPath.isEmpty())
        return;
    ForwardStates states;
    for (const QString& host : m_monitor.settings().get(settings::hosts)) {
        for (const PortForward& forward : of(host))
            states.insert({host, forward.remotePort}, forward);
    }
    // Written only when what the command line would read changes.
    QList<QByteArray> lines;
    for (auto it = states.cbegin(); it != states.cend(); ++it) {
        if (it->state != ForwardState::Checking)
            lines.append(it.key().host.toUtf8() + ' ' + QByteArray::number(it.key().port) + ' ' +
                         QByteArray::number(it->localPort) + ' ' +
                         forwardStateName(it->state).toUtf8());
    }
    std::sort(lines.begin(), lines.end());
    const QByteArray shown = lines.join('\n');
    if (shown == m_published)
        return;
    // None known: the file goes.
    writeForwardStates(m_statesPath, shown.isEmpty() ? ForwardStates{} : states);
    m_published = shown;
}
