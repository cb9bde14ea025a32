#include "actions/server_actions.h"

#include "config/settings_store.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "platform/desktop_links.h"

#include <QDesktopServices>
#include <QInputDialog>
#include <QUrl>

ServerActions::ServerActions(PortMonitor& monitor, StopController& stops, Forwards& forwards,
                             QObject* parent)
    : QObject(parent), m_monitor(monitor), m_stops(stops), m_forwards(forwards) {
    connect(&m_stops, &StopController::forceStopOffered, this, &ServerActions::forceStopOffered);
}

ServerActions::~ServerActions() {
    delete m_labelDialog;
}

ServerPresentation ServerActions::present(const ListeningPort& record) const {
    return m_monitor.present(record);
}

void ServerActions::open(const QString& url) {
    if (!::openInBrowser(url))
        emit browserFailed(url);
}

void ServerActions::copy(const QString& url) {
    copyToClipboard(url, this, [this, url] { emit copyFailed(url); });
}

// The address is looked up when chosen: the latest, which may have arrived
// after the item that asks for it was made.
void ServerActions::openInBrowser(const ListeningPort& record) {
    open(present(record).url());
}

void ServerActions::copyUrl(const ListeningPort& record) {
    copy(present(record).url());
}

void ServerActions::copyAddress(const ListeningPort& record) {
    copy(present(record).hostAndPort());
}

void ServerActions::openFolder(const ListeningPort& record) {
    const QString folder = m_monitor.details(record).folder;
    if (!folder.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void ServerActions::changeChoice(const ListeningPort& record,
                                 const std::function<void(settings::PortChoice&)>& change) {
    // Ports of other machines have no choices: the key is a port of this one.
    if (!record.host.isEmpty())
        return;
    SettingsStore& store = m_monitor.settings();
    settings::PortChoice choice = store.values().ports.value(record.port);
    change(choice);
    // A failed save is told by the tooltip, as for every other setting.
    setPortChoice(store, record.port, choice);
}

void ServerActions::editLabel(const ListeningPort& record) {
    delete m_labelDialog;
    m_labelDialog = new QInputDialog();
    m_labelDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_labelDialog->setWindowTitle(tr("Label for Port %1").arg(record.port));
    m_labelDialog->setLabelText(
        tr("Name the server on port %1 (empty removes the label):").arg(record.port));
    m_labelDialog->setTextValue(present(record).choice().label);
    connect(m_labelDialog, &QInputDialog::textValueSelected, this,
            [this, record](const QString& text) {
                changeChoice(record, [label = text.trimmed()](settings::PortChoice& choice) {
                    choice.label = label;
                });
            });
    m_labelDialog->show();
    m_labelDialog->raise();
    m_labelDialog->activateWindow();
}

void ServerActions::setHttps(const ListeningPort& record, bool https) {
    changeChoice(record, [https](settings::PortChoice& choice) { choice.https = https; });
}

void ServerActions::setNotify(const ListeningPort& record, bool notify) {
    changeChoice(record, [notify](settings::PortChoice& choice) { choice.notify = notify; });
}

void ServerActions::allow(const QString& name) {
    // As an edit in the Processes tab; the monitor follows and looks again.
    addAllowed(m_monitor.settings(), name);
}

void ServerActions::stop(const ListeningPort& record) {
    m_stops.stop(record);
}

void ServerActions::forceStop(const ListeningPort& record) {
    m_stops.forceStop(record);
}

bool ServerActions::offersForceStop(const ListeningPort& record) const {
    return m_stops.offersForceStop(record);
}

void ServerActions::withLocalUrl(const ListeningPort& remote,
                                 std::function<void(const QString&)> use) {
    m_forwards.forward(
        remote.host, remote.port, 0,
        [self = QPointer(this), remote, use = std::move(use)](qint64 local, const QString& error) {
            if (!self)
                return;
            if (local <= 0) {
                emit self->forwardFailed(remote.host, remote.port, error);
                return;
            }
            use(serverUrl(local, QStringLiteral("127.0.0.1")));
        });
}

void ServerActions::forwardAndOpen(const ListeningPort& remote) {
    withLocalUrl(remote, [this](const QString& url) { open(url); });
}

void ServerActions::copyForwardedUrl(const ListeningPort& remote) {
    withLocalUrl(remote, [this](const QString& url) { copy(url); });
}

void ServerActions::stopForward(const QString& host, qint64 remotePort) {
    m_forwards.cancel(host, remotePort);
}

void ServerActions::forwardAll(const QString& host) {
    m_forwards.forwardAll(host);
}

void ServerActions::stopAllForwards(const QString& host) {
    m_forwards.cancelAll(host);
}
