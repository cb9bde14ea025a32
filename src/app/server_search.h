#pragma once

#include "core/listening_port.h"
#include "platform/search_providers.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ServerActions;

// The desktop's search over the listed servers: which match the terms (see
// ServerPresentation::matches()), worded by their presentation, and what
// choosing one does — open it in the browser (a host's server forwarded
// first), copy its URL, stop it.
//
// A result's id names the process that was listed (port, pid, start time and
// host), so a Stop chosen from a stale result never hits another process.
class ServerSearch {
public:
    // `actions` must outlive the object.
    explicit ServerSearch(ServerActions& actions) : m_actions(actions) {}

    // The listed servers that match every term: a port typed whole first,
    // then in the order lists show them. None for no terms.
    QList<SearchHit> find(const QStringList& terms) const;
    std::optional<SearchHit> describe(const QString& id) const;
    // The listed server an id names; none once it has gone.
    std::optional<ListeningPort> server(const QString& id) const;

    void open(const QString& id) const;
    void copyUrl(const QString& id) const;
    void stop(const QString& id) const;

    static QString idOf(const ListeningPort& server);

private:
    SearchHit hitOf(const ListeningPort& server) const;

    ServerActions& m_actions;
};
