#pragma once

#include "core/listening_port.h"
#include "core/port_forwarding.h"
#include "core/server_details.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// How every front end (the tray menu, the command line, the Servers window,
// the desktop's search) tells one listed server: its texts are made here, once,
// from the record, what its source tells of it and what the user chose for its
// port. A front end only lays them out.

// What the user chose for a server's port, as far as it changes how the
// server is shown and reached.
struct ServerChoice {
    QString label;                  // the user's name for the port; empty: none
    std::optional<bool> https = {}; // the user's scheme for the port; none: the server's own
    bool notify = true;             // its starts and stops are notified

    friend bool operator==(const ServerChoice&, const ServerChoice&) = default;
};

// Escapes a name for whoever draws it (a menu's mnemonic marks); texts made
// by the program itself are not passed through it.
using LiteralText = std::function<QString(const QString&)>;

class ServerPresentation {
public:
    ServerPresentation() = default;
    ServerPresentation(ListeningPort record, ServerDetails details, ServerChoice choice = {});

    const ListeningPort& record() const { return m_record; }
    const ServerDetails& details() const { return m_details; }
    const ServerChoice& choice() const { return m_choice; }

    // What names the server beside its process: the user's label for its
    // port, else its framework, else its page's title; empty when none is
    // known.
    QString kind() const;
    // The process name as it may be shown on one line (see displayName).
    QString name() const;
    // "<port> - <process>", or "<port> - <process> · <kind>" with the kind cut
    // to a few words, and " (not answering)" after it while the port takes
    // connections and says nothing; the names passed through `literal` when
    // given.
    QString title(const LiteralText& literal = {}) const;
    // The lines that tell which server it is, each on one line: the label and
    // framework; what answers on the port (the page's title, an HTTP status
    // that is an error, "not HTTP", "not answering"); for a container its
    // image and compose service, and its short id; the project and folder;
    // the command line; the pid, uptime and address. Lines without data are
    // left out.
    QStringList detailLines() const;
    // "3000  node · Vite — shop": port, name and kind, and the project.
    QString toolTipLine() const;
    // Whether it is reached over HTTPS: the user's choice for the port, else
    // what answered on it, else what its command line asks for.
    bool https() const;
    // The address a browser uses to reach it (see serverUrl).
    QString url() const;
    // Whether a browser can use it: false once it answered something other
    // than HTTP (a database, say); it is then reached by hostAndPort().
    bool speaksHttp() const;
    // Where a client reaches it: "localhost:5432", or the one address it
    // listens on when that is not a local one.
    QString hostAndPort() const;
    // What answered on the port, when it was looked at.
    const std::optional<PortAnswer>& answer() const { return m_details.answer; }
    // Whether the port takes connections and says nothing.
    bool silent() const;

    // The facts as a table shows them, each on one line; empty when unknown.
    QString project() const;
    // The machine it runs on as the user named it; empty for this one.
    QString host() const;
    // The address it listens on.
    QString address() const;
    // How long it has been running; none when its start is unknown.
    std::optional<qint64> uptimeSeconds() const;
    // "up 12 min" (see uptimeText); empty when its start is unknown.
    QString uptime() const;
    // A container's published port rather than a process of its own.
    bool isContainer() const;

    // "5173 · Vite — shop-frontend": the port, the kind (else the name) and
    // the project (else the host), as the desktop's search lists it.
    QString searchTitle() const;
    // What the search shows below it: the URL, or for another machine's
    // server "box:5173".
    QString searchDescription() const;
    // What a search or a filter matches: the port, name, framework, label,
    // project, host and the page's title, each as it is shown.
    QStringList facts() const;
    // Whether every term is found, ignoring case, in one of facts(); true
    // for no terms.
    bool matches(const QStringList& terms) const;

    // The same server shown the same way: equal records, details and choices.
    friend bool operator==(const ServerPresentation& a, const ServerPresentation& b) {
        return a.m_record == b.m_record && a.m_details == b.m_details && a.m_choice == b.m_choice;
    }

private:
    ListeningPort m_record;
    ServerDetails m_details;
    ServerChoice m_choice;
};

// "up 45 s", "up 12 min", "up 2 h", "up 3 d": whole units, rounded down.
QString uptimeText(qint64 seconds);

// "No port can match: From is above To": what an empty list says when the
// range's From is above its To, so that it never reads as a machine with no
// servers.
QString reversedRangeText();

// "box: not connected — <reason>": why a host's servers are not listed; or
// "box: <notice>" for one of the notices below, which a connected host tells.
QString hostProblemText(const QString& host, const QString& reason);

// The most sockets of a host that are listed.
inline constexpr qsizetype mostHostSockets = 10000;
// What a connected host tells in place of its servers until its first listing
// has come.
QString firstListingNotice();
// What a host tells beside the servers it listed when it listed more than
// mostHostSockets sockets.
QString cutListingNotice();

// A source's problem in plain words: a host's as hostProblemText(), any
// other's as its reason. `sourceId` names the source as the registry does.
QString problemText(const SourceId& source, const QString& reason);

// The words that tell a source's problem is over: "box: connected",
// "Containers available again".
QString problemEndedText(const SourceId& source);

// A remote server's row while its port is forwarded here: the title, then
// "→ localhost:5174" when the forward's local port is another, with
// "(5173 was in use)" when it had to take another than it asked for; while
// nothing passes, always with the local port and why: "(nothing answers)"
// when the remote server does not take the connection, "(reconnecting…)"
// while the host's connection is down.
QString forwardedTitle(const QString& title, qint64 remotePort, const PortForward& forward);
// "5173 → localhost:5174": a forward whose remote server is not listed, with
// the notes of forwardedTitle().
QString orphanForwardTitle(const PortForward& forward);
// "ok", "no server", "reconnecting": a forward's state as the command line
// and the forwards' state file write it, never translated; empty while it is
// being looked at.
QString forwardStateName(ForwardState state);
