#include "app/server_search.h"

#include "actions/server_actions.h"
#include "config/settings_store.h"
#include "core/presentation.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"

#include <algorithm>

QString ServerSearch::idOf(const ListeningPort& server) {
    // The host last: it may hold any character, ":" included.
    return QStringLiteral("%1:%2:%3:%4")
        .arg(QString::number(server.port), QString::number(server.pid),
             QString::number(server.startTime), server.host);
}

std::optional<ListeningPort> ServerSearch::server(const QString& id) const {
    const QStringList parts = id.split(QLatin1Char(':'));
    if (parts.size() < 4)
        return std::nullopt;
    const QString host = id.section(QLatin1Char(':'), 3);
    for (const ListeningPort& listed : m_actions.monitor().ports()) {
        if (QString::number(listed.port) == parts[0] && QString::number(listed.pid) == parts[1] &&
            QString::number(listed.startTime) == parts[2] && listed.host == host)
            return listed;
    }
    return std::nullopt;
}

SearchHit ServerSearch::hitOf(const ListeningPort& server) const {
    const ServerPresentation shown = m_actions.present(server);
    QString url;
    if (server.host.isEmpty())
        url = shown.url();
    else if (const qint64 local = m_actions.forwards().localPortOf(server); local > 0)
        url = serverUrl(local, QStringLiteral("127.0.0.1"));
    return {idOf(server), shown.searchTitle(), shown.searchDescription(), url};
}

QList<SearchHit> ServerSearch::find(const QStringList& terms) const {
    if (terms.isEmpty())
        return {};
    // The choices are read once for all: the settings are parsed on each read.
    const PortMonitor& monitor = m_actions.monitor();
    const settings::PortChoices choices = monitor.settings().get(settings::ports);
    QList<ListeningPort> found;
    for (const ListeningPort& listed : monitor.ports()) {
        const ServerPresentation shown(listed, monitor.details(listed),
                                       serverChoice(choices, listed));
        if (shown.matches(terms))
            found.append(listed);
    }
    // The monitor lists them in order; a port typed whole comes first.
    std::stable_partition(found.begin(), found.end(), [&terms](const ListeningPort& server) {
        return terms.contains(QString::number(server.port));
    });
    QList<SearchHit> hits;
    hits.reserve(found.size());
    for (const ListeningPort& server : std::as_const(found))
        hits.append(hitOf(server));
    return hits;
}

std::optional<SearchHit> ServerSearch::describe(const QString& id) const {
    const std::optional<ListeningPort> listed = server(id);
    if (!listed)
        return std::nullopt;
    return hitOf(*listed);
}

void ServerSearch::open(const QString& id) const {
    const std::optional<ListeningPort> listed = server(id);
    if (!listed)
        return;
    if (listed->host.isEmpty())
        m_actions.openInBrowser(*listed);
    else
        m_actions.forwardAndOpen(*listed);
}

void ServerSearch::copyUrl(const QString& id) const {
    const std::optional<ListeningPort> listed = server(id);
    if (!listed)
        return;
    if (listed->host.isEmpty())
        m_actions.copyUrl(*listed);
    else
        m_actions.copyForwardedUrl(*listed);
}

void ServerSearch::stop(const QString& id) const {
    if (const std::optional<ListeningPort> listed = server(id))
        m_actions.stop(*listed);
}
